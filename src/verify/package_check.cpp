#include "verify/package_check.h"

#include "base/date_text.h"
#include "base/errors.h"
#include "base/unicode.h"
#include "catalog/code_signing.h"
#include "catalog/file_hash.h"
#include "catalog/sign_date.h"
#include "external/sevenzip/sevenzip.h"
#include "inf/driver_ver.h"
#include "inf/ini_files.h"
#include "inf/supported_os.h"
#include "platform/files.h"
#include "platform/filestream.h"
#include "report/diagnostics.h"
#include "report/output.h"
#include "verify/checks.h"
#include "verify/driver_files.h"
#include "verify/signtool_checks.h"

#include <cstdint>
#include <string>
#include <vector>

namespace halyard {

namespace {

const char* const kLogs = "InternalLogsDoNotCopyToProduction";

bool Stop(const std::string& reason) {
    WriteLine("wrong:" + reason);
    return false;
}

// A file name whose stem is empty or only dots and blanks would make the work folder the folder
// that holds the archive (Windows drops trailing dots and blanks from a path element).
bool HasUsableStem(const std::string& archiveName) {
    const std::string name = platform::ExtractFileName(archiveName);
    const std::string stem = name.substr(0, name.size() - platform::ExtractFileExt(name).size());
    return stem.find_first_not_of(". ") != std::string::npos;
}

// The first top-level file matching the mask, or empty when there is none or the folder cannot
// be listed.
std::string FirstFile(const std::string& dir, const char* mask) {
    try {
        const auto files = platform::ListFiles(dir, mask);
        return files.empty() ? std::string() : files.front();
    } catch (const Error&) {
        return {};
    }
}

// Steps from unpacking on; the caller owns the work folder.
bool CheckUnpacked(const std::string& archiveName, const std::string& workPath,
                   platform::WorkFolder& work) {
    const std::string logs = workPath + kLogs + platform::kPathDelim;
    if (!UnZipFile(archiveName, work)) {
        return Stop("UnZipFile failed");
    }
    if (!platform::DirectoryExists(workPath + kLogs)) {
        return Stop("No logs");
    }
    std::vector<std::string> driverFiles = GetDriverFiles(workPath);
    if (driverFiles.empty()) {
        return Stop("GetDriverFiles failed");
    }
    const std::string catFile = FirstFile(workPath, "*.cat");
    if (catFile.empty()) {
        return Stop("Cat file was not found");
    }

    std::vector<std::string> hashes = VerifyAndGetHashes(driverFiles, catFile);
    if (hashes.size() != driverFiles.size()) {
        return Stop("VerifyAndGetHashes failed");
    }
    const std::string totalHash = GenerateHash(hashes);
    const double signDate = GetSignDateOfCAT(catFile);

    // A missing params.ini reads as empty, so the run stops at a figure that looks wrong; say why.
    if (!platform::FileExists(logs + "params.ini")) {
        CollectError("Verify", "params.ini not found", logs + "params.ini", codes::kNoCode);
    }
    TMemIniFile ini(logs + "params.ini");
    if (ConvertStringToDateTime(ini.ReadString("General", "DateSign", "0"), false) != signDate) {
        return Stop("DateSign incorrect");
    }
    if (!platform::FileExists(logs + "UnitTestDoNotCheckHashes") &&
        ini.ReadString("General", "TotalHashs", "") != totalHash) {
        return Stop("TotalHashs incorrect");
    }
    const std::string infPath = FirstFile(workPath, "*.inf");
    if (infPath.empty()) {
        return Stop("Inf file was not found");
    }
    const std::string infSection = ini.ReadString("General", "Section", "2345");
    const std::string os = ini.ReadString("General", "OS", "");

    double date = 0;
    std::string version;
    if (!ExtractParamsFromInf(infPath, infSection, date, version, os.ends_with("_64"))) {
        return Stop("ExtractParamsFromInf failed");
    }
    std::string version2 = ini.ReadString("General", "Version", "123");
    if (version != version2 &&
        unit_main::CorrectVersionEx(version) != unit_main::CorrectVersionEx(version2)) {
        return Stop("Version incorrect");
    }
    if (ini.ReadString("General", "Date", "111") != ConvertDateToString(date, false)) {
        return Stop("Date incorrect");
    }
    if (!VerifyFilesWithSigntool(driverFiles, catFile, workPath)) {
        return Stop("VerifyFilesWithSigntool failed");
    }
    if (!VerifyCatWithSigntool(catFile, workPath)) {
        return Stop("VerifyCatWithSigntool failed");
    }
    if (!VerifyFilesWithCatOS(workPath, os)) {
        return Stop("VerifyFilesWithCatOS failed");
    }
    return true;
}

} // namespace

namespace unit_main {

std::string CorrectVersionEx(const std::string& ver) {
    // UnitMain's CorrectVersion is the INF module's, built as that one operation.
    std::string text = halyard::CorrectVersion(ver);
    while (text.size() > 1 && text.ends_with(".0")) {
        text.resize(text.size() - 2);
    }
    return text == "0" ? std::string() : text;
}

} // namespace unit_main

bool VerifyFilesWithCatOS(const std::string& workPath, const std::string& os) {
    for (const auto& code : PrepareSupportedOS("", workPath, true, true)) {
        if (code == os) {
            return true;
        }
    }
    return false;
}

bool Verify(const std::string& argument) {
    if (!EndsWithIgnoreCase(argument, ".7z") || !HasUsableStem(argument)) {
        WriteLine("wrong:Archive name: " + argument);
        return false;
    }
    // SignTool runs inside the work folder, so every path handed on must be a full one: derive
    // them all from the archive's full path.
    const std::string archiveName = platform::ExpandFileName(argument);
    const std::string ext = platform::ExtractFileExt(archiveName);
    const std::string workPath = platform::IncludeTrailingPathDelimiter(
        archiveName.substr(0, archiveName.size() - ext.size()));
    // Nothing beside the archive is touched before it has been opened as a regular file.
    try {
        const platform::FileReader archive(archiveName);
    } catch (const EFOpenError& e) {
        WriteLine(std::string("UnZipFile: ") + e.what());
        return Stop("UnZipFile failed");
    }
    // A leftover folder goes; anything else in its place, or a folder another run is using,
    // stops the run. The guard removes the folder on every path from here on.
    const platform::WorkFolder::Made work = platform::WorkFolder::Create(workPath);
    if (!work.folder) {
        WriteLine("UnZipFile: " + work.refusal);
        return Stop("UnZipFile failed");
    }
    const bool result = CheckUnpacked(archiveName, workPath, *work.folder);
    // A work folder that cannot be removed is an error even after every test passed.
    work.folder->Remove();
    return result;
}

} // namespace halyard
