// Builds signed driver packages in the delivery layout and packs them with 7zz.
#pragma once

#include "fixtures.h"
#include "json_reader.h"
#include "testkit.h"

#include <map>
#include <string>
#include <vector>

namespace halyard::test {

class PackageBuilder {
public:
    PackageBuilder();

    // Content files, relative to the package root.
    void addPe(const std::string& relative, const fixtures::PeOptions& options = {});
    void addFile(const std::string& relative, const std::string& bytes, bool member = true);
    void remove(const std::string& relative);
    void setInf(const std::string& text, const std::string& name = "driver.inf");

    fixtures::CatalogRecipe& catalog() { return recipe_; }
    // params.ini keys of [General]; a key set to kOmit is left out.
    std::map<std::string, std::string>& params() { return params_; }
    std::string& catFileIni() { return catFileIni_; }
    bool writeParams = true;
    bool writeLogsFolder = true;
    bool writeCatalog = true;
    std::string catalogName = "driver.cat";

    // Tags as the package check computes them: SHA-256 tags where the catalog has them.
    std::vector<std::string> expectedTags() const;

    // Writes the catalog and the logs, fills the figures that are still unset, packs the content
    // into <dir>/<archiveName> and returns the archive's path.
    std::string pack(const std::string& archiveName = "pkg.7z");

    const std::string& contentDir() const { return content_; }
    const TempDir& dir() const { return dir_; }

    static const char* const kOmit;

private:
    TempDir dir_;
    std::string content_;
    fixtures::CatalogRecipe recipe_;
    std::vector<std::string> members_; // relative paths of catalog members
    std::map<std::string, std::string> params_;
    std::string catFileIni_;
};

// The 7zz program, or empty when it is not installed.
std::string SevenZip();

// catinspect --package on the archive argument (run in workDir), its JSON report parsed
// strictly (a fault fails the test and leaves json null).
struct Inspection {
    RunResult run;
    JsonValue json;
};
Inspection InspectPackage(const std::string& archive, const std::string& workDir = {});

// The package check as the package tests run it: halyard on the arguments, then catinspect
// --package on the same archive, which must report the verdict halyard printed last, exit with
// the code that verdict implies and leave the archive's folder as it was. Returns halyard's run.
// Runs whose verdict comes from the work folder beside the archive (a refusal of its path, a
// folder in use) call RunHalyard instead: the inspector never uses that folder.
RunResult RunPackageCheck(const std::vector<std::string>& args, const std::string& workDir = {});

} // namespace halyard::test
