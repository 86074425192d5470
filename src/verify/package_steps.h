// The package check's pipeline as steps whose results are records: what the package holds is
// gathered once into PackageFacts, and each step answers a PackageStepResult. The package check
// runs the steps in order and stops at the first failure; an inspection runs them all.
#pragma once

#include "base/date_text.h"
#include "inf/ini_files.h"
#include "verify/driver_files.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace halyard {

namespace platform {
class FileReader;
class Folder;
} // namespace platform

// One step's answer.
struct PackageStepResult {
    std::string name; // "UnZipFile", "DateSign", ...
    bool ok = false;
    std::string expected; // what the package holds (or what the step requires)
    std::string found;    // what was recorded or found
    // The text after "wrong:" when the step fails: the package check's verdict.
    std::string reason;
    // The step threw one of the errors the front end reports; reason holds its verdict text
    // ("EFOpenError: ..."), as the front end prints it after "wrong:".
    bool thrown = false;
};

// What the package holds, filled by the steps as they run.
struct PackageFacts {
    PackageFacts();
    ~PackageFacts();

    std::string archiveName; // full path
    std::string workPath;    // with a trailing delimiter
    platform::Folder* work = nullptr;
    // The archive as OpenArchive opened it, handed on to the unpacking (which closes it).
    std::unique_ptr<platform::FileReader> archive;

    std::vector<std::string> driverFiles;
    std::string catFile;
    std::vector<DriverFileCheck> files; // the membership step's per-file results
    std::vector<MissingMember> missing; // RunAll only: members no driver file answers
    std::vector<std::string> hashes;    // the member tags of the driver files, in order
    TDateTime signDate = 0;
    std::string infPath;
    TDateTime infDate = 0;
    std::string infVersion;
    std::vector<std::string> catalogOs; // the OS codes the catalog's declaration yields

    // params.ini of the logs folder, read once (a missing file reads as empty); throws what the
    // reader throws.
    TMemIniFile& params();
    std::string logsPath() const; // the logs folder, with a trailing delimiter

private:
    std::shared_ptr<TMemIniFile> params_;
};

// How the steps run: the package check stops at the first failure (and the membership step at
// the first file that is not a signed member); an inspection checks every file and runs every
// step, taking a step's error as its failure.
enum class StepMode { StopAtFirstFailure, RunAll };

// The archive's name, before anything is opened: ok, or the reason "Archive name: <argument>".
// Sets archiveName and workPath from the argument's full path.
PackageStepResult CheckArchiveName(const std::string& argument, PackageFacts& facts);
// The archive opens as a regular file, kept open in facts.archive for the unpacking; on failure
// one "UnZipFile: " line has been written.
PackageStepResult OpenArchive(PackageFacts& facts);

// Runs the steps from unpacking on into facts.work (facts.workPath). onStep sees each result;
// in StopAtFirstFailure the run ends at the first failed step and errors pass on to the
// caller. Returns true when every step passed.
bool RunPackageSteps(PackageFacts& facts, StepMode mode,
                     const std::function<void(const PackageStepResult&)>& onStep);

} // namespace halyard
