#include "package_report.h"

#include "base/calendar.h"
#include "base/errors.h"
#include "base/hex.h"
#include "base/outcome.h"
#include "catalog/code_signing.h"
#include "json_writer.h"
#include "platform/files.h"
#include "platform/messages.h"
#include "platform/trust.h"
#include "report/output.h"
#include "verify/driver_files.h"
#include "verify/package_steps.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace catinspect {

namespace {

using namespace halyard;

constexpr int kExitPassed = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUnreadable = 2;

// A folder of our own under $TMPDIR (else /tmp), made by mkdtemp (mode 0700), deleted with
// everything in it, never following a link, when the object goes.
class PrivateTempFolder {
public:
    PrivateTempFolder() {
        const char* tmp = std::getenv("TMPDIR");
        std::string base = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
        std::string pattern =
            platform::IncludeTrailingPathDelimiter(platform::ExpandFileName(base)) +
            "catinspect.XXXXXX";
        // 0700 whatever the umask: under umask 0777 mkdtemp would make a folder we cannot enter.
        const mode_t mask = ::umask(077);
        const char* made = ::mkdtemp(pattern.data());
        ::umask(mask);
        if (made == nullptr) {
            throw EInOutError("Cannot create a temporary folder in " + base);
        }
        path_ = platform::IncludeTrailingPathDelimiter(pattern);
        base_ = base;
    }
    ~PrivateTempFolder() {
        try {
            platform::DeleteTree(path_);
        } catch (...) {
            std::fprintf(stderr, "catinspect: could not remove %s\n", path_.c_str());
        }
    }
    PrivateTempFolder(const PrivateTempFolder&) = delete;
    PrivateTempFolder& operator=(const PrivateTempFolder&) = delete;

    const std::string& path() const { return path_; }
    // Where it was made, as $TMPDIR gave it.
    const std::string& base() const { return base_; }

private:
    std::string path_;
    std::string base_;
};

// Every occurrence of from replaced by to.
std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    if (from.empty()) {
        return text;
    }
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

struct CheckRow {
    PackageStepResult step;
    std::vector<std::string> lines; // what the step wrote, as the package check writes it
};

struct FileRow {
    std::string path; // relative to the package root
    std::string tag;
    std::uint32_t code = 0;
    bool ok = false;
    std::string reason;
};

struct CatalogFacts {
    std::string path; // relative to the package root; empty without a catalog
    std::optional<platform::CatalogSignatureReport> signature;
};

struct Report {
    std::string archive;
    CatalogFacts catalog;
    std::vector<FileRow> files;
    std::vector<CheckRow> checks;
    std::vector<std::string> lines; // lines written outside any step
    std::string verdict;            // as the package check prints it last
    int exitCode = kExitFailed;
};

std::string SignerOf(const platform::CatalogSignatureReport& report) {
    return report.signingChain.empty() ? std::string() : report.signingChain.back().issuedTo;
}

std::string ChainText(const std::vector<platform::CertificateSummary>& chain) {
    std::string text;
    for (const auto& cert : chain) {
        text += (text.empty() ? "" : " > ") + cert.issuedTo;
    }
    return text;
}

std::string TimestampText(const platform::CatalogSignatureReport& report) {
    if (!report.timestamp) {
        return "none";
    }
    std::string text = UtcText(*report.timestamp);
    if (!report.timestampChain.empty()) {
        text += " by " + report.timestampChain.back().issuedTo;
    }
    return text;
}

// Runs the inspection; throws only what happens outside the steps.
void Inspect(const std::string& argument, Report& report, OutputCapture& capture) {
    report.archive = argument;
    PackageFacts facts;
    const auto fail = [&](const std::string& verdict, int exitCode) {
        report.lines = capture.lines();
        capture.clear();
        report.verdict = verdict;
        report.exitCode = exitCode;
    };
    if (!CheckArchiveName(argument, facts).ok) {
        return fail("wrong:Archive name: " + argument, kExitUnreadable);
    }
    report.archive = facts.archiveName;
    // The package check's own work path, beside the archive: its lines name files there.
    const std::string checkWorkPath = facts.workPath;
    const PackageStepResult opened = OpenArchive(facts);
    if (!opened.ok) {
        return fail("wrong:" + opened.reason, kExitUnreadable);
    }
    const PrivateTempFolder temp;
    std::string stem = checkWorkPath.substr(0, checkWorkPath.size() - 1);
    stem = platform::ExtractFileName(stem);
    facts.workPath = temp.path() + stem + platform::kPathDelim;
    const platform::WorkFolder::Made work = platform::WorkFolder::Create(facts.workPath);
    if (!work.folder) {
        capture.clear();
        throw EInOutError(work.refusal);
    }
    facts.work = work.folder.get();
    // Whether the package leaves enough free space is judged where the package check would
    // unpack it, beside the archive, so that both give one verdict.
    work.folder->JudgeSpaceAt(platform::ExtractFileDir(facts.archiveName), checkWorkPath);
    // A line about our own folder running out of space is no finding on the package: it keeps
    // the folder's real name and says that it lies under $TMPDIR.
    const std::string diskFull = platform::SysErrorMessage(codes::kDiskFull);
    const auto asChecked = [&](const std::string& text) {
        if (!diskFull.empty() && text.find(diskFull) != std::string::npos &&
            text.find(facts.workPath) != std::string::npos) {
            return text + " (catinspect's temporary folder, under $TMPDIR: " + temp.base() + ")";
        }
        return ReplaceAll(text, facts.workPath, checkWorkPath);
    };
    const auto relative = [&](const std::string& path) {
        return path.starts_with(facts.workPath) ? path.substr(facts.workPath.size()) : path;
    };
    report.lines = capture.lines();
    capture.clear();
    RunPackageSteps(facts, StepMode::RunAll, [&](const PackageStepResult& step) {
        CheckRow row{step, {}};
        row.step.expected = asChecked(row.step.expected);
        row.step.found = asChecked(row.step.found);
        row.step.reason = asChecked(row.step.reason);
        for (const auto& line : capture.lines()) {
            row.lines.push_back(asChecked(line));
        }
        capture.clear();
        if (!step.ok && report.verdict.empty()) {
            report.verdict = "wrong:" + row.step.reason;
            report.exitCode = step.name == "UnZipFile" ? kExitUnreadable : kExitFailed;
        }
        report.checks.push_back(std::move(row));
    });
    for (const auto& file : facts.files) {
        report.files.push_back(
            {relative(file.path), file.tag, file.trustCode, file.passes(), file.reason});
    }
    for (const auto& member : facts.missing) {
        report.files.push_back({member.fileName, member.tags.empty() ? "" : member.tags.front(),
                                codes::kNoCode, false, "missing from the package"});
    }
    if (!facts.catFile.empty()) {
        report.catalog.path = relative(facts.catFile);
        report.catalog.signature = platform::VerifyCatalogSignature(facts.catFile);
        capture.clear();
    }
    // A work folder that cannot be removed is an error even after every test passed.
    work.folder->Remove();
    if (report.verdict.empty()) {
        report.verdict = "success";
        report.exitCode = kExitPassed;
    }
}

void WriteText(const Report& report) {
    WriteLine("Package: " + report.archive);
    for (const auto& line : report.lines) {
        WriteLine("  " + line);
    }
    if (report.catalog.signature) {
        const auto& sig = *report.catalog.signature;
        WriteLine("Catalog: " + report.catalog.path);
        std::string signer = SignerOf(sig);
        if (!sig.signingChain.empty()) {
            signer += " (valid until " + UtcText(sig.signingChain.back().notAfter) + ")";
        }
        WriteLine("  signer:     " + signer);
        WriteLine("  chain:      " + ChainText(sig.signingChain));
        WriteLine("  time stamp: " + TimestampText(sig));
        WriteLine("  signature:  " + Hex8(sig.status) + " " + (sig.status == 0 ? "ok" : "FAIL") +
                  (sig.status == 0 ? "" : " " + TrustCodeReason(sig.status)));
    }
    if (!report.files.empty()) {
        WriteLine("Files:");
    }
    for (const auto& file : report.files) {
        WriteLine("  " + file.path + "  " + (file.tag.empty() ? "-" : file.tag) + "  " +
                  Hex8(file.code) + "  " + (file.ok ? "ok" : "FAIL " + file.reason));
    }
    if (!report.checks.empty()) {
        WriteLine("Checks:");
    }
    for (const auto& row : report.checks) {
        const auto& s = row.step;
        WriteLine(std::string("  ") + (s.ok ? "ok    " : "FAIL  ") + s.name + ": expected " +
                  s.expected + ", found " + s.found);
        for (const auto& line : row.lines) {
            WriteLine("        | " + line);
        }
    }
    WriteLine(report.verdict);
}

void WriteJson(const Report& report) {
    JsonWriter json;
    json.beginObject().key("archive").value(report.archive);
    json.key("catalog");
    if (report.catalog.signature) {
        const auto& sig = *report.catalog.signature;
        json.beginObject().key("path").value(report.catalog.path);
        json.key("signer").value(SignerOf(sig));
        json.key("chain").beginArray();
        for (const auto& cert : sig.signingChain) {
            json.beginObject()
                .key("subject")
                .value(cert.issuedTo)
                .key("issuer")
                .value(cert.issuedBy)
                .key("notAfter")
                .value(UtcText(cert.notAfter))
                .key("sha1")
                .value(cert.sha1Hex)
                .endObject();
        }
        json.endArray();
        json.key("timestamp");
        if (sig.timestamp) {
            json.value(UtcText(*sig.timestamp));
        } else {
            json.null();
        }
        json.key("code").value(Hex8(sig.status)).endObject();
    } else {
        json.null();
    }
    json.key("files").beginArray();
    for (const auto& file : report.files) {
        json.beginObject()
            .key("path")
            .value(file.path)
            .key("tag")
            .value(file.tag)
            .key("code")
            .value(Hex8(file.code))
            .key("reason")
            .value(file.reason)
            .endObject();
    }
    json.endArray().key("checks").beginArray();
    for (const auto& row : report.checks) {
        json.beginObject()
            .key("name")
            .value(row.step.name)
            .key("ok")
            .value(row.step.ok)
            .key("expected")
            .value(row.step.expected)
            .key("found")
            .value(row.step.found)
            .key("lines")
            .beginArray();
        for (const auto& line : row.lines) {
            json.value(line);
        }
        json.endArray().endObject();
    }
    // The verdict as the package check's last line reads.
    json.endArray().key("verdict").value(EscapeLine(report.verdict)).endObject();
    const std::string text = json.text() + "\n";
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() ||
        std::fflush(stdout) != 0) {
        throw EWriteError("Cannot write the report");
    }
}

} // namespace

std::string UtcText(std::int64_t seconds) {
    const auto t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm);
    return text;
}

int InspectPackage(const std::string& argument, bool json) {
    Report report;
    {
        OutputCapture capture;
        try {
            Inspect(argument, report, capture);
        } catch (...) {
            report.verdict = "wrong:" + DescribeCurrentError();
            report.exitCode = kExitUnreadable;
            for (const auto& line : capture.lines()) {
                report.lines.push_back(line);
            }
        }
    }
    if (json) {
        WriteJson(report);
    } else {
        WriteText(report);
    }
    return report.exitCode;
}

} // namespace catinspect
