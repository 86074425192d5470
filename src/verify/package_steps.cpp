#include "verify/package_steps.h"

#include "base/errors.h"
#include "base/outcome.h"
#include "base/unicode.h"
#include "catalog/file_hash.h"
#include "catalog/sign_date.h"
#include "external/sevenzip/sevenzip.h"
#include "inf/driver_ver.h"
#include "platform/files.h"
#include "platform/filestream.h"
#include "report/diagnostics.h"
#include "report/output.h"
#include "verify/package_check.h"
#include "verify/signtool_checks.h"

#include <algorithm>
#include <cstdio>

namespace halyard {

namespace {

const char* const kLogs = "InternalLogsDoNotCopyToProduction";

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

PackageStepResult Result(const char* name, bool ok, const char* reason, std::string expected,
                         std::string found) {
    PackageStepResult r;
    r.name = name;
    r.ok = ok;
    r.reason = reason;
    r.expected = std::move(expected);
    r.found = std::move(found);
    return r;
}

// A path below the work folder as the package names it.
std::string InPackage(const PackageFacts& facts, const std::string& path) {
    if (path.empty()) {
        return "(none)";
    }
    return path.starts_with(facts.workPath) ? path.substr(facts.workPath.size()) : path;
}

// A recorded figure of [General], or a note that params.ini does not hold it.
std::string Recorded(TMemIniFile& ini, const char* key) {
    const std::string absent = "\x01";
    const std::string value = ini.ReadString("General", key, absent);
    return value == absent ? std::string("(not recorded)") : value;
}

// A date-time value in the recorded form "mm-dd-yyyy hh-mm-ss".
std::string DateSignText(TDateTime value) {
    DateTimeFields f;
    if (value == 0 || !DecodeDateTime(value, f)) {
        return "(no readable date in the catalog)";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%02d-%02d-%04d %02d-%02d-%02d", f.month, f.day, f.year,
                  f.hour, f.minute, f.second);
    return text;
}

std::string Joined(const std::vector<std::string>& items) {
    std::string text;
    for (const auto& item : items) {
        text += (text.empty() ? "" : " ") + item;
    }
    return text;
}

PackageStepResult Unpack(PackageFacts& facts, StepMode) {
    // The archive OpenArchive opened, not its path again.
    const bool ok = facts.archive ? UnZipFile(std::move(facts.archive), *facts.work)
                                  : UnZipFile(facts.archiveName, *facts.work);
    return Result("UnZipFile", ok, "UnZipFile failed", "the archive unpacks",
                  ok ? "unpacked" : "not unpacked");
}

PackageStepResult Logs(PackageFacts& facts, StepMode) {
    const bool ok = platform::DirectoryExists(facts.workPath + kLogs);
    return Result("Logs", ok, "No logs", kLogs, ok ? "present" : "missing");
}

PackageStepResult DriverFiles(PackageFacts& facts, StepMode) {
    facts.driverFiles = GetDriverFiles(facts.workPath);
    return Result("GetDriverFiles", !facts.driverFiles.empty(), "GetDriverFiles failed",
                  "driver files", std::to_string(facts.driverFiles.size()) + " files");
}

PackageStepResult Catalog(PackageFacts& facts, StepMode) {
    facts.catFile = FirstFile(facts.workPath, "*.cat");
    return Result("Cat file", !facts.catFile.empty(), "Cat file was not found",
                  "a catalog at the top level", InPackage(facts, facts.catFile));
}

PackageStepResult Membership(PackageFacts& facts, StepMode mode) {
    bool ok = true;
    if (mode == StepMode::StopAtFirstFailure) {
        facts.hashes = VerifyAndGetHashes(facts.driverFiles, facts.catFile);
        ok = facts.hashes.size() == facts.driverFiles.size();
    } else {
        facts.files = CheckDriverFiles(facts.driverFiles, facts.catFile, false);
        facts.hashes.clear();
        std::size_t failed = 0;
        for (const auto& check : facts.files) {
            failed += check.passes() ? 0 : 1;
            if (!check.tag.empty()) {
                facts.hashes.push_back(check.tag);
            }
        }
        ok = failed == 0;
        facts.missing = ExplainMembership(facts.files, facts.catFile);
        return Result("VerifyAndGetHashes", ok, "VerifyAndGetHashes failed",
                      "every driver file a signed member",
                      ok ? "all " + std::to_string(facts.files.size()) + " do"
                         : std::to_string(failed) + " of " + std::to_string(facts.files.size()) +
                               " fail");
    }
    return Result("VerifyAndGetHashes", ok, "VerifyAndGetHashes failed",
                  "every driver file a signed member", ok ? "all do" : "one fails");
}

PackageStepResult DateSign(PackageFacts& facts, StepMode) {
    facts.signDate = GetSignDateOfCAT(facts.catFile);
    TMemIniFile& ini = facts.params();
    const bool ok = ConvertStringToDateTime(ini.ReadString("General", "DateSign", "0"), false) ==
                    facts.signDate;
    return Result("DateSign", ok, "DateSign incorrect", DateSignText(facts.signDate),
                  Recorded(ini, "DateSign"));
}

PackageStepResult TotalHashs(PackageFacts& facts, StepMode) {
    std::vector<std::string> hashes = facts.hashes;
    const std::string totalHash = GenerateHash(hashes);
    TMemIniFile& ini = facts.params();
    if (platform::FileExists(facts.logsPath() + "UnitTestDoNotCheckHashes")) {
        return Result("TotalHashs", true, "TotalHashs incorrect", totalHash,
                      "not compared (UnitTestDoNotCheckHashes)");
    }
    const bool ok = ini.ReadString("General", "TotalHashs", "") == totalHash;
    return Result("TotalHashs", ok, "TotalHashs incorrect", totalHash, Recorded(ini, "TotalHashs"));
}

PackageStepResult Inf(PackageFacts& facts, StepMode) {
    facts.infPath = FirstFile(facts.workPath, "*.inf");
    return Result("Inf file", !facts.infPath.empty(), "Inf file was not found",
                  "an INF at the top level", InPackage(facts, facts.infPath));
}

PackageStepResult InfParams(PackageFacts& facts, StepMode) {
    TMemIniFile& ini = facts.params();
    const std::string infSection = ini.ReadString("General", "Section", "2345");
    const std::string os = ini.ReadString("General", "OS", "");
    const bool ok = ExtractParamsFromInf(facts.infPath, infSection, facts.infDate, facts.infVersion,
                                         os.ends_with("_64"));
    return Result("ExtractParamsFromInf", ok, "ExtractParamsFromInf failed",
                  "DriverVer for section " + infSection + (os.ends_with("_64") ? " (64-bit)" : ""),
                  ok ? "read" : "not read");
}

PackageStepResult Version(PackageFacts& facts, StepMode) {
    TMemIniFile& ini = facts.params();
    const std::string version2 = ini.ReadString("General", "Version", "123");
    const bool ok = facts.infVersion == version2 || unit_main::CorrectVersionEx(facts.infVersion) ==
                                                        unit_main::CorrectVersionEx(version2);
    return Result("Version", ok, "Version incorrect", facts.infVersion, Recorded(ini, "Version"));
}

PackageStepResult Date(PackageFacts& facts, StepMode) {
    TMemIniFile& ini = facts.params();
    const std::string date = ConvertDateToString(facts.infDate, false);
    const bool ok = ini.ReadString("General", "Date", "111") == date;
    return Result("Date", ok, "Date incorrect", date, Recorded(ini, "Date"));
}

PackageStepResult FilesWithSigntool(PackageFacts& facts, StepMode) {
    const bool ok = VerifyFilesWithSigntool(facts.driverFiles, facts.catFile, facts.workPath);
    return Result("VerifyFilesWithSigntool", ok, "VerifyFilesWithSigntool failed",
                  "SignTool verifies every driver file", ok ? "verified" : "not verified");
}

PackageStepResult CatWithSigntool(PackageFacts& facts, StepMode) {
    const bool ok = VerifyCatWithSigntool(facts.catFile, facts.workPath);
    return Result("VerifyCatWithSigntool", ok, "VerifyCatWithSigntool failed",
                  "SignTool's report on the catalog", ok ? "as required" : "not as required");
}

PackageStepResult CatalogOs(PackageFacts& facts, StepMode) {
    TMemIniFile& ini = facts.params();
    const std::string os = ini.ReadString("General", "OS", "");
    facts.catalogOs = CatalogOsCodes(facts.workPath);
    const bool ok = OsAmongCodes(facts.catalogOs, os);
    return Result("OS", ok, "VerifyFilesWithCatOS failed", "one of: " + Joined(facts.catalogOs),
                  Recorded(ini, "OS"));
}

using Step = PackageStepResult (*)(PackageFacts&, StepMode);

struct NamedStep {
    const char* name; // the step's row when it throws
    Step run;
};

// In the package check's order.
constexpr NamedStep kSteps[] = {
    {"UnZipFile", Unpack},
    {"Logs", Logs},
    {"GetDriverFiles", DriverFiles},
    {"Cat file", Catalog},
    {"VerifyAndGetHashes", Membership},
    {"DateSign", DateSign},
    {"TotalHashs", TotalHashs},
    {"Inf file", Inf},
    {"ExtractParamsFromInf", InfParams},
    {"Version", Version},
    {"Date", Date},
    {"VerifyFilesWithSigntool", FilesWithSigntool},
    {"VerifyCatWithSigntool", CatWithSigntool},
    {"OS", CatalogOs},
};

} // namespace

PackageFacts::PackageFacts() = default;
PackageFacts::~PackageFacts() = default;

TMemIniFile& PackageFacts::params() {
    if (!params_) {
        const std::string path = logsPath() + "params.ini";
        // A missing params.ini reads as empty, so the run stops at a figure that looks wrong;
        // say why.
        if (!platform::FileExists(path)) {
            CollectError("Verify", "params.ini not found", path, codes::kNoCode);
        }
        params_ = std::make_shared<TMemIniFile>(path);
    }
    return *params_;
}

std::string PackageFacts::logsPath() const {
    return workPath + kLogs + platform::kPathDelim;
}

PackageStepResult CheckArchiveName(const std::string& argument, PackageFacts& facts) {
    if (!EndsWithIgnoreCase(argument, ".7z") || !HasUsableStem(argument)) {
        return Result("Archive name", false, "", "<name>.7z", argument);
    }
    // SignTool runs inside the work folder, so every path handed on must be a full one: derive
    // them all from the archive's full path.
    facts.archiveName = platform::ExpandFileName(argument);
    const std::string ext = platform::ExtractFileExt(facts.archiveName);
    facts.workPath = platform::IncludeTrailingPathDelimiter(
        facts.archiveName.substr(0, facts.archiveName.size() - ext.size()));
    return Result("Archive name", true, "", "<name>.7z", argument);
}

PackageStepResult OpenArchive(PackageFacts& facts) {
    try {
        facts.archive = std::make_unique<platform::FileReader>(facts.archiveName);
    } catch (const EFOpenError& e) {
        WriteLine(std::string("UnZipFile: ") + e.what());
        return Result("UnZipFile", false, "UnZipFile failed", "a regular file", e.what());
    }
    return Result("UnZipFile", true, "UnZipFile failed", "a regular file", "opened");
}

bool RunPackageSteps(PackageFacts& facts, StepMode mode,
                     const std::function<void(const PackageStepResult&)>& onStep) {
    bool allOk = true;
    for (const NamedStep& step : kSteps) {
        PackageStepResult result;
        if (mode == StepMode::StopAtFirstFailure) {
            result = step.run(facts, mode);
        } else {
            try {
                result = step.run(facts, mode);
            } catch (...) {
                result.name = step.name;
                result.reason = DescribeCurrentError();
                result.thrown = true;
                result.found = result.reason;
            }
        }
        allOk = allOk && result.ok;
        onStep(result);
        // Nothing was unpacked: there is nothing more to look at.
        if (!result.ok && (mode == StepMode::StopAtFirstFailure || step.run == Unpack)) {
            return false;
        }
    }
    return allOk;
}

} // namespace halyard
