#include "verify/driver_files.h"

#include "base/outcome.h"
#include "base/unicode.h"
#include "catalog/code_signing.h"
#include "platform/catalog.h"
#include "platform/files.h"
#include "platform/sip.h"
#include "platform/trust.h"
#include "report/output.h"
#include "report/progress.h"

#include <algorithm>
#include <map>
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
    } else if (check.trustCode == codes::kTrustEBadDigest ||
               check.trustCode == codes::kCryptEHashValue) {
        // Members are looked up by the file's digest, so a digest that does not verify is the
        // catalog's own: its content no longer matches its signature.
        check.reason = "the catalog was changed after signing";
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
    // In a catalog whose signed content was altered a file may be unchanged though no member
    // answers it.
    const std::uint32_t catalogStatus = platform::VerifyCatalogSignature(catFile).status;
    const bool catalogAltered =
        catalogStatus == codes::kTrustEBadDigest || catalogStatus == codes::kCryptEHashValue;
    std::set<std::string> answered; // the tags the driver files were found under
    for (const auto& check : checks) {
        if (check.trustCode != codes::kTrustENoSignature && !check.tag.empty()) {
            answered.insert(AsciiUpper(check.tag));
        }
    }
    // Members are matched to files by their tags; names only count files. Several files may
    // share a name (i386/x.dll, amd64/x.dll), and one file may have a member per digest
    // algorithm (a SHA-256 member and its SHA-1 shadow), told apart by the tag's length.
    struct NameCount {
        std::string name;                                    // as the catalog writes it
        std::map<std::size_t, std::size_t> membersPerLength; // tag length -> members
        std::map<std::size_t, std::vector<std::string>> unanswered;
        std::size_t found = 0;   // driver files of the name that are members
        std::size_t changed = 0; // driver files of the name that are not
    };
    std::map<std::string, NameCount> names; // by upper-cased name, as Windows compares them
    std::vector<std::string> order;         // the names in the catalog's order
    for (const auto& member : (*store)->members) {
        const std::string name = MemberFileName(member);
        if (name.empty()) {
            continue;
        }
        const std::string key = AsciiUpper(name);
        NameCount& count = names[key];
        if (count.name.empty()) {
            count.name = name;
            order.push_back(key);
        }
        const std::size_t length = member.referenceTag.size();
        ++count.membersPerLength[length];
        if (!answered.contains(AsciiUpper(member.referenceTag))) {
            count.unanswered[length].push_back(member.referenceTag);
        }
    }
    for (auto& check : checks) {
        const auto it = names.find(AsciiUpper(platform::ExtractFileName(check.path)));
        if (it == names.end()) {
            continue;
        }
        NameCount& count = it->second;
        if (check.trustCode != codes::kTrustENoSignature) {
            ++count.found;
            continue;
        }
        std::size_t files = 0;
        for (const auto& [length, n] : count.membersPerLength) {
            files = std::max(files, n);
        }
        // A file no member answers takes the place of a member of its name still unanswered.
        if (count.found + count.changed < files) {
            ++count.changed;
            check.reason = catalogAltered ? "not a member of the catalog, which was changed "
                                            "after signing"
                                          : "changed after signing";
        }
    }
    std::vector<MissingMember> missing;
    for (const auto& key : order) {
        NameCount& count = names[key];
        // The files the catalog lists under the name: its members of the most common digest,
        // the longer digest first.
        std::size_t files = 0;
        std::size_t length = 0;
        for (const auto& [len, n] : count.membersPerLength) {
            if (n >= files) {
                files = n;
                length = len;
            }
        }
        const std::size_t present = count.found + count.changed;
        const auto& tags = count.unanswered[length];
        for (std::size_t i = 0; present + i < files && i < tags.size(); ++i) {
            missing.push_back({count.name, {tags[i]}});
        }
    }
    return missing;
}

} // namespace halyard
