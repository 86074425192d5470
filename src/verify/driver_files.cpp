#include "verify/driver_files.h"

#include "base/outcome.h"
#include "base/unicode.h"
#include "catalog/code_signing.h"
#include "platform/catalog.h"
#include "platform/files.h"
#include "platform/sip.h"
#include "report/output.h"
#include "report/progress.h"

#include <algorithm>
#include <set>

namespace halyard {

std::vector<std::string> GetDriverFiles(const std::string& path) {
    const std::string infoFile = path + "DriverInfoQ956F.ini";
    const std::string marker = path + "E20275FAA13FC9DA3516BDB629F7C2A9D0FC1BF5.txt";
    const std::string logs = path + "InternalLogsDoNotCopyToProduction" + platform::kPathDelim;
    std::vector<std::string> result;
    for (const auto& file : platform::ListFilesRecursive(path)) {
        const bool leftOut = file == infoFile || file == marker || file.starts_with(logs) ||
                             EndsWithIgnoreCase(file, ".cat");
        if (!leftOut) {
            result.push_back(file);
        }
    }
    return result;
}

DriverFileCheck CheckDriverFile(const std::string& path, const std::string& catFile) {
    const CodeSigningResult signing = IsCodeSigned(path, catFile, platform::kCalgSha256);
    DriverFileCheck check;
    check.path = path;
    check.trusted = signing.trusted;
    check.tag = signing.tag;
    check.trustCode = signing.trustCode;
    if (catFile.empty()) {
        check.reason = "no catalog";
    } else if (check.tag.empty()) {
        check.reason = "no member tag could be computed";
    } else {
        check.reason = TrustCodeReason(check.trustCode);
    }
    return check;
}

std::vector<DriverFileCheck> CheckDriverFiles(const std::vector<std::string>& driverFiles,
                                              const std::string& catFile, bool stopAtFirst) {
    std::vector<DriverFileCheck> checks;
    for (const auto& path : driverFiles) {
        ShowProgress("Checking files", checks.size(), driverFiles.size());
        checks.push_back(CheckDriverFile(path, catFile));
        if (stopAtFirst && !checks.back().passes()) {
            break;
        }
    }
    return checks;
}

std::vector<std::string> VerifyAndGetHashes(const std::vector<std::string>& driverFiles,
                                            const std::string& catFile) {
    std::vector<std::string> result;
    for (const auto& check : CheckDriverFiles(driverFiles, catFile, true)) {
        if (!check.trusted) {
            WriteLine("IsCodeSigned failed for " + check.path);
            return {};
        }
        if (check.tag.empty()) {
            WriteLine("No tag for " + check.path);
            return {};
        }
        result.push_back(check.tag);
    }
    return result;
}

namespace {

std::string MemberFileName(const platform::CatMember& member) {
    for (const auto& attr : member.attributes) {
        if (EqualsIgnoreCase(attr.referenceTag, "File")) {
            return attr.valueText();
        }
    }
    return {};
}

} // namespace

std::vector<MissingMember> ExplainMembership(std::vector<DriverFileCheck>& checks,
                                             const std::string& catFile) {
    if (catFile.empty()) {
        return {};
    }
    const auto store = platform::CryptCATOpen(catFile, 1);
    if (!store) {
        return {};
    }
    // Names compared as Windows compares file names: ignoring letter case.
    std::set<std::string> present;
    for (const auto& check : checks) {
        present.insert(AsciiUpper(platform::ExtractFileName(check.path)));
    }
    std::vector<MissingMember> missing;
    std::set<std::string> signedNames;
    for (const auto& member : (*store)->members) {
        const std::string name = MemberFileName(member);
        if (name.empty()) {
            continue;
        }
        const std::string key = AsciiUpper(name);
        signedNames.insert(key);
        if (present.contains(key)) {
            continue;
        }
        auto it = std::find_if(missing.begin(), missing.end(), [&](const MissingMember& m) {
            return AsciiUpper(m.fileName) == key;
        });
        if (it == missing.end()) {
            missing.push_back({name, {}});
            it = missing.end() - 1;
        }
        it->tags.push_back(member.referenceTag);
    }
    for (auto& check : checks) {
        if (check.trustCode == codes::kTrustENoSignature &&
            signedNames.contains(AsciiUpper(platform::ExtractFileName(check.path)))) {
            check.reason = "changed after signing";
        }
    }
    return missing;
}

} // namespace halyard
