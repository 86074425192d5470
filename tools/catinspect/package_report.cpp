#include "package_report.h"

#include "base/calendar.h"
#include "base/errors.h"
#include "base/hex.h"
#include "base/outcome.h"
#include "catalog/code_signing.h"
#include "catalog/sign_date.h"
#include "json_writer.h"
#include "platform/ctl.h"
#include "platform/files.h"
#include "platform/messages.h"
#include "platform/run_guard.h"
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

// The JSON document's layout; raised when a field changes meaning or goes.
constexpr const char* kJsonSchema = "1";

// A folder of our own under $TMPDIR (else /tmp), made by mkdtemp (mode 0700), deleted with
// everything in it, never following a link, when the object goes.
class PrivateTempFolder {
public:
    PrivateTempFolder() {
        // Made and registered for clean-up in one step, as far as an interruption can tell.
        platform::WithoutInterruption([this] { make(); });
    }
    void make() {
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
        // An interrupted run removes it too (unpacking may still add items meanwhile).
        cleanup_ = std::make_unique<platform::InterruptCleanup>([this] {
            for (int round = 0; round < 20; ++round) {
                try {
                    platform::DeleteTree(path_);
                    return;
                } catch (...) {
                }
            }
        });
    }
    ~PrivateTempFolder() {
        try {
            cleanup_->runNow();
        } catch (...) {
        }
        if (platform::DirectoryExists(path_)) {
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
    std::unique_ptr<platform::InterruptCleanup> cleanup_;
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
    std::optional<std::int64_t> thisUpdate; // the catalog's date, seconds since 1970 UTC
};

// The one signer the package check accepts: SignTool's report on the catalog must name it.
constexpr const char* kAcceptedSigner = "Microsoft Windows Hardware Compatibility Publisher";

struct Report {
    std::string archive;
    CatalogFacts catalog;
    std::vector<FileRow> files;
    std::vector<CheckRow> checks;
    std::vector<std::string> lines; // lines written outside any step
    std::string cause;              // why the package cannot be read; empty when it can
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

// "mm-dd-yyyy hh-mm-ss", the form params.ini records DateSign in.
std::string RecordedDateText(TDateTime value) {
    DateTimeFields f;
    if (!DecodeDateTime(value, f)) {
        return "?";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%02d-%02d-%04d %02d-%02d-%02d", f.month, f.day, f.year,
                  f.hour, f.minute, f.second);
    return text;
}

// The DateSign row of a catalog whose date was read but lies outside the window: the check
// takes 0 and says "Wrong result" with the date; the row says why.
void ExplainSignDateWindow(PackageStepResult& step, const PackageFacts& facts) {
    if (facts.signDate != 0 || facts.catFile.empty()) {
        return;
    }
    const auto ctl = platform::CryptQueryObjectCtl(facts.catFile);
    if (!ctl) {
        return;
    }
    step.expected = "0: the catalog's date " +
                    RecordedDateText(FileTimeToDateTime(ctl->thisUpdate)) + " lies outside " +
                    RecordedDateText(kSignDateFirst) + " .. " + RecordedDateText(kSignDateLast) +
                    ", the window the check reads signing dates in, so it counts as no date";
}

// A failing SignTool report on a catalog that another publisher signed says who.
void ExplainSigner(PackageStepResult& step, const std::string& signer) {
    if (step.ok || signer == kAcceptedSigner) {
        return;
    }
    step.found = "signed by " + (signer.empty() ? std::string("no one") : signer) +
                 "; only catalogs signed by \"" + kAcceptedSigner + "\" are accepted";
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
        report.cause = "the archive's name does not end in .7z";
        return fail("wrong:Archive name: " + argument, kExitUnreadable);
    }
    report.archive = facts.archiveName;
    // The package check's own work path, beside the archive: its lines name files there.
    const std::string checkWorkPath = facts.workPath;
    const PackageStepResult opened = OpenArchive(facts);
    if (!opened.ok) {
        const auto lines = capture.lines();
        report.cause = lines.empty() ? opened.reason : lines.back();
        return fail("wrong:" + opened.reason, kExitUnreadable);
    }
    const PrivateTempFolder temp;
    std::string stem = checkWorkPath.substr(0, checkWorkPath.size() - 1);
    stem = platform::ExtractFileName(stem);
    facts.workPath = temp.path() + stem + platform::kPathDelim;
    const platform::WorkFolder::Made work = platform::WorkFolder::create(facts.workPath);
    if (!work.folder) {
        capture.clear();
        throw EInOutError(work.refusal);
    }
    facts.work = work.folder.get();
    // Whether the package leaves enough free space is judged where the package check would
    // unpack it, beside the archive, so that both give one verdict.
    work.folder->judgeSpaceAt(platform::ExtractFileDir(facts.archiveName), checkWorkPath);
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
        for (const auto& line : capture.lines()) {
            row.lines.push_back(asChecked(line));
        }
        capture.clear();
        // The explanations are the inspector's own: what they look up writes into no row.
        if (step.name == "DateSign") {
            ExplainSignDateWindow(row.step, facts);
        } else if (step.name == "VerifyCatWithSigntool" && !facts.catFile.empty()) {
            report.catalog.signature = platform::VerifyCatalogSignature(facts.catFile);
            ExplainSigner(row.step, SignerOf(*report.catalog.signature));
        }
        capture.clear();
        row.step.expected = asChecked(row.step.expected);
        row.step.found = asChecked(row.step.found);
        row.step.reason = asChecked(row.step.reason);
        if (!step.ok && report.verdict.empty()) {
            report.verdict = "wrong:" + row.step.reason;
            report.exitCode = step.name == "UnZipFile" ? kExitUnreadable : kExitFailed;
            if (step.name == "UnZipFile") {
                report.cause = row.lines.empty() ? row.step.reason : row.lines.back();
            }
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
        if (!report.catalog.signature) {
            report.catalog.signature = platform::VerifyCatalogSignature(facts.catFile);
        }
        if (const auto ctl = platform::CryptQueryObjectCtl(facts.catFile)) {
            report.catalog.thisUpdate = FileTimeToUnixSeconds(ctl->thisUpdate);
        }
        capture.clear();
    }
    // A work folder that cannot be removed is an error even after every test passed.
    work.folder->remove();
    if (report.verdict.empty()) {
        report.verdict = "success";
        report.exitCode = kExitPassed;
    }
}

void WriteText(const Report& report) {
    Print("Package: " + report.archive);
    for (const auto& line : report.lines) {
        Print("  " + line);
    }
    if (report.catalog.signature) {
        const auto& sig = *report.catalog.signature;
        Print("Catalog: " + report.catalog.path);
        std::string signer = SignerOf(sig);
        if (!sig.signingChain.empty()) {
            signer += " (valid until " + UtcText(sig.signingChain.back().notAfter) + ")";
        }
        Print("  signer:     " + signer);
        Print("  chain:      " + ChainText(sig.signingChain));
        Print("  time stamp: " + TimestampText(sig));
        Print("  signature:  " + Hex8(sig.status) + " " + (sig.status == 0 ? "ok" : "FAIL") +
              (sig.status == 0 ? "" : " " + TrustCodeReason(sig.status)));
        if (SignerOf(sig) != kAcceptedSigner) {
            Print(std::string("  accepted:   no, the package check accepts only catalogs signed "
                              "by \"") +
                  kAcceptedSigner + "\"");
        }
    }
    if (!report.files.empty()) {
        Print("Files:");
    }
    for (const auto& file : report.files) {
        Print("  " + file.path + "  " + (file.tag.empty() ? "-" : file.tag) + "  " +
              Hex8(file.code) + "  " + (file.ok ? "ok" : "FAIL " + file.reason));
    }
    if (!report.checks.empty()) {
        Print("Checks:");
    }
    for (const auto& row : report.checks) {
        const auto& s = row.step;
        Print(std::string("  ") + (s.ok ? "ok    " : "FAIL  ") + s.name + ": expected " +
              s.expected + ", found " + s.found);
        for (const auto& line : row.lines) {
            Print("        | " + line);
        }
    }
    Print(report.verdict);
}

void WriteJson(const Report& report) {
    JsonWriter json;
    json.beginObject().key("schema").value(kJsonSchema).key("archive").value(report.archive);
    json.key("cause");
    if (report.cause.empty()) {
        json.null();
    } else {
        json.value(report.cause);
    }
    json.key("catalog");
    if (report.catalog.signature) {
        const auto& sig = *report.catalog.signature;
        json.beginObject().key("path").value(report.catalog.path);
        json.key("signer").value(SignerOf(sig));
        json.key("accepted").value(SignerOf(sig) == kAcceptedSigner);
        json.key("chain").beginArray();
        for (const auto& cert : sig.signingChain) {
            json.beginObject()
                .key("subject")
                .value(cert.issuedTo)
                .key("issuer")
                .value(cert.issuedBy)
                .key("notAfter")
                .value(IsoUtcText(cert.notAfter))
                .key("sha1")
                .value(cert.sha1Hex)
                .endObject();
        }
        json.endArray();
        json.key("timestamp");
        if (sig.timestamp) {
            json.value(IsoUtcText(*sig.timestamp));
        } else {
            json.null();
        }
        json.key("signDate");
        if (report.catalog.thisUpdate) {
            json.value(IsoUtcText(*report.catalog.thisUpdate));
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

namespace {

std::string FormatUtc(std::int64_t seconds, bool iso) {
    const auto t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[40];
    if (iso) {
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    } else {
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm);
    }
    return text;
}

} // namespace

std::string UtcText(std::int64_t seconds) {
    return FormatUtc(seconds, false);
}

std::string IsoUtcText(std::int64_t seconds) {
    return FormatUtc(seconds, true);
}

void Print(std::string_view text) {
    const std::string line = EscapeLine(text) + "\n";
    if (std::fwrite(line.data(), 1, line.size(), stdout) != line.size() ||
        std::fflush(stdout) != 0) {
        throw EWriteError("Cannot write the report");
    }
}

int InspectPackage(const std::string& argument, bool json) {
    Report report;
    {
        OutputCapture capture;
        try {
            Inspect(argument, report, capture);
        } catch (...) {
            report.verdict = "wrong:" + DescribeCurrentError();
            report.cause = DescribeCurrentError();
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
