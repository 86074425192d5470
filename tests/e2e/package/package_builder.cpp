#include "package_builder.h"

#include "catalog/file_hash.h"
#include "platform/hash.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <stdexcept>

namespace halyard::test {

const char* const PackageBuilder::kOmit = "\x01omit";

std::string SevenZip() {
    for (const char* p : {"/usr/bin/7zz", "/usr/local/bin/7zz"}) {
        if (std::filesystem::exists(p)) {
            return p;
        }
    }
    return {};
}

PackageBuilder::PackageBuilder() : content_(dir_ / "content/") {
    std::filesystem::create_directories(content_);
    const auto& pki = fixtures::BuildTestPki();
    recipe_.version = 2;
    recipe_.hash = platform::DigestAlgorithm::Sha256;
    recipe_.signer = &pki.whcp;
    recipe_.timeStamp = fixtures::TimeStampKind::Rfc3161;
    recipe_.thisUpdate = 1559392496; // 2019-06-01 12:34:56 UTC
    recipe_.timeStampTime = recipe_.thisUpdate;
    recipe_.attributes.push_back({"OS", "_v100_X64", fixtures::kNameValueFlags, {}});
    catFileIni_ = "[General]\r\nOS=_v100_X64\r\n";
    params_["DateSign"] = "06-01-2019 12-34-56";
    params_["Section"] = "Install";
    params_["OS"] = "10_64";
    params_["Version"] = "1.2.3.4";
    params_["Date"] = "05-17-2019";
    setInf("[Version]\r\nSignature=\"$Windows NT$\"\r\nDriverVer=05/17/2019,1.2.3.4\r\n"
           "CatalogFile=driver.cat\r\n\r\n[Install.NTamd64]\r\nCopyFiles=x\r\n");
}

void PackageBuilder::addPe(const std::string& relative, const fixtures::PeOptions& options) {
    std::filesystem::create_directories(std::filesystem::path(content_ + relative).parent_path());
    fixtures::WriteFileBytes(content_ + relative, fixtures::MakePeFile(options));
    members_.push_back(relative);
}

void PackageBuilder::addFile(const std::string& relative, const std::string& bytes, bool member) {
    WriteFile(content_ + relative, bytes);
    if (member) {
        members_.push_back(relative);
    }
}

void PackageBuilder::remove(const std::string& relative) {
    std::filesystem::remove(content_ + relative);
    std::erase(members_, relative);
}

void PackageBuilder::setInf(const std::string& text, const std::string& name) {
    for (auto it = members_.begin(); it != members_.end(); ++it) {
        if (it->ends_with(".inf") && it->find('/') == std::string::npos) {
            std::filesystem::remove(content_ + *it);
            members_.erase(it);
            break;
        }
    }
    addFile(name, text);
}

std::vector<std::string> PackageBuilder::expectedTags() const {
    std::vector<std::string> tags;
    for (const auto& m : members_) {
        const auto alg = recipe_.version == 2 ? platform::DigestAlgorithm::Sha256 : recipe_.hash;
        tags.push_back(fixtures::HexUpper(fixtures::FileCatalogDigest(content_ + m, alg)));
    }
    return tags;
}

std::string PackageBuilder::pack(const std::string& archiveName) {
    fixtures::CatalogRecipe recipe = recipe_;
    for (const auto& m : members_) {
        fixtures::AddFileMember(recipe, content_ + m);
    }
    if (writeCatalog) {
        std::filesystem::create_directories(
            std::filesystem::path(content_ + catalogName).parent_path());
        fixtures::WriteCatalog(content_ + catalogName, recipe);
    }
    if (params_.find("TotalHashs") == params_.end()) {
        auto tags = expectedTags();
        params_["TotalHashs"] = GenerateHash(tags);
    }
    const std::string logs = content_ + "InternalLogsDoNotCopyToProduction/";
    if (writeLogsFolder) {
        std::filesystem::create_directories(logs);
        if (writeParams) {
            std::string ini = "[General]\r\n";
            for (const auto& [key, value] : params_) {
                if (value != kOmit) {
                    ini += key + "=" + value + "\r\n";
                }
            }
            WriteFile(logs + "params.ini", ini);
        }
        if (!catFileIni_.empty()) {
            WriteFile(logs + "cat_file.ini", catFileIni_);
        }
    }
    const std::string archive = dir_ / archiveName;
    const auto r = Run(SevenZip(), {"a", "-t7z", "-bd", "-y", archive, "*"}, content_);
    if (r.exitCode != 0) {
        throw std::runtime_error("7zz failed: " + r.output);
    }
    return archive;
}

namespace {

// Every entry below a folder with its size, as relative paths; empty when it cannot be listed.
std::set<std::pair<std::string, std::uintmax_t>> FolderState(const std::filesystem::path& dir) {
    std::set<std::pair<std::string, std::uintmax_t>> out;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(dir, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        const auto size = it->is_regular_file(ec) ? it->file_size(ec) : 0;
        out.emplace(std::filesystem::relative(it->path(), dir).string(), size);
    }
    return out;
}

} // namespace

Inspection InspectPackage(const std::string& archive, const std::string& workDir) {
    Inspection inspection;
    inspection.run = Run(BinDir() + "catinspect", {"--package", archive, "--json"}, workDir);
    try {
        inspection.json = ParseJson(inspection.run.output);
    } catch (const std::exception& e) {
        ADD_FAILURE() << e.what() << " in\n" << inspection.run.output;
    }
    return inspection;
}

RunResult RunPackageCheck(const std::vector<std::string>& args, const std::string& workDir) {
    const RunResult r = RunHalyard(args, workDir);
    std::string archive;
    for (const auto& arg : args) {
        archive += (archive.empty() ? "" : " ") + arg;
    }
    const std::filesystem::path folder =
        (std::filesystem::path(workDir.empty() ? std::filesystem::current_path().string()
                                               : workDir) /
         archive)
            .parent_path();
    const auto before = FolderState(folder);
    const Inspection inspection = InspectPackage(archive, workDir);
    EXPECT_EQ(FolderState(folder), before) << "catinspect changed the archive's folder";
    if (inspection.json.kind != JsonValue::Kind::Object || r.lines.empty()) {
        ADD_FAILURE() << "no report to compare:\n" << r.output;
        return r;
    }
    const std::string verdict = inspection.json["verdict"].text;
    EXPECT_EQ(verdict, r.lines.back())
        << "catinspect's verdict differs from halyard's for " << archive << "\n"
        << inspection.run.output;
    const bool unreadable =
        verdict.starts_with("wrong:Archive name: ") || verdict == "wrong:UnZipFile failed";
    EXPECT_EQ(inspection.run.exitCode, verdict == "success" ? 0 : unreadable ? 2 : 1) << verdict;
    return r;
}

} // namespace halyard::test
