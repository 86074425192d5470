#include "verify/driver_files.h"

#include "base/unicode.h"
#include "catalog/code_signing.h"
#include "platform/files.h"
#include "platform/sip.h"
#include "report/output.h"
#include "report/progress.h"

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

std::vector<std::string> VerifyAndGetHashes(const std::vector<std::string>& driverFiles,
                                            const std::string& catFile) {
    std::vector<std::string> result;
    for (const auto& path : driverFiles) {
        ShowProgress("Checking files", result.size(), driverFiles.size());
        const CodeSigningResult signing = IsCodeSigned(path, catFile, platform::kCalgSha256);
        if (!signing) {
            result.clear();
            WriteLine("IsCodeSigned failed for " + path);
            return result;
        }
        if (signing.tag.empty()) {
            result.clear();
            WriteLine("No tag for " + path);
            return result;
        }
        result.push_back(signing.tag);
    }
    return result;
}

} // namespace halyard
