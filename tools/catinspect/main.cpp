// catinspect CAT            lists the catalog: ThisUpdate, signer, catalog attributes, members
// catinspect CAT FILE...    one line per file: "<path> <tag> <code>[ <reason>]", the member tag
//                           the signature check settled on and its trust result (8 hex digits,
//                           00000000 when trusted; FFFFFFFF when no trust query was made)
// catinspect --package [--json] PKG.7z
//                           explains a whole package: every step of the package check run
// Options may come in any order and place; "--" ends them. Option -v shows the diagnostic lines
// of the signature check.
#include "base/calendar.h"
#include "base/errors.h"
#include "base/hex.h"
#include "base/unicode.h"
#include "catalog/cat_file_tag.h"
#include "catalog/code_signing.h"
#include "catalog/file_hash.h"
#include "package_report.h"
#include "platform/catalog.h"
#include "platform/ctl.h"
#include "platform/filestream.h"
#include "platform/messages.h"
#include "platform/run_guard.h"
#include "platform/trust.h"
#include "report/output.h"
#include "verify/driver_files.h"

#include <csignal>
#include <cstdio>
#include <ctime>
#include <exception>
#include <getopt.h>
#include <string>
#include <vector>

namespace {

using namespace halyard;

using catinspect::Print;
using catinspect::UtcText;

#ifndef HALYARD_VERSION
#define HALYARD_VERSION "0.0.0"
#endif

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// A code with the system's text for it: "00000002 The system cannot find the file specified".
std::string CodeText(std::uint32_t code) {
    const std::string text = platform::SysErrorMessage(code);
    return Hex8(code) + (text.empty() ? "" : " " + text);
}

std::string FileTimeText(platform::FileTime ft) {
    return UtcText(FileTimeToUnixSeconds(ft));
}

// Name/value attributes hold UTF-16 text; others are shown by size.
std::string AttributeText(const platform::CatAttribute& attr) {
    if ((attr.attrTypeAndAction & 0x00010000) != 0) { // CRYPTCAT_ATTR_NAMEASCII / name-value
        return attr.referenceTag + " = " + attr.valueText();
    }
    return attr.referenceTag + " (" + std::to_string(attr.value.size()) +
           " bytes: " + BytesToHex(attr.value) + ")";
}

void PrintChain(const char* title, const std::vector<platform::CertificateSummary>& chain) {
    Print(title);
    std::string indent = "  ";
    for (const auto& cert : chain) {
        Print(indent + cert.issuedTo + " (issued by " + cert.issuedBy + ", expires " +
              UtcText(cert.notAfter) + ", SHA-1 " + cert.sha1Hex + ")");
        indent += "  ";
    }
}

int ListCatalog(const std::string& path) {
    const auto store = platform::CryptCATOpen(path, 1);
    if (!store) {
        std::fprintf(stderr, "catinspect: cannot open %s as a catalog: %s\n",
                     EscapeLine(path).c_str(), CodeText(store.error()).c_str());
        return kExitFailed;
    }
    const auto ctl = platform::CryptQueryObjectCtl(path);
    if (ctl) {
        Print("ThisUpdate: " + FileTimeText(ctl->thisUpdate));
    }
    const auto report = platform::VerifyCatalogSignature(path);
    Print("Signature: " + Hex8(report.status) + " (" + TrustResultName(report.status) + ")");
    if (report.timestamp) {
        Print("Time stamp: " + UtcText(*report.timestamp));
    }
    PrintChain("Signing chain:", report.signingChain);
    if (!report.timestampChain.empty()) {
        PrintChain("Time-stamp chain:", report.timestampChain);
    }
    Print("Catalog attributes: " + std::to_string((*store)->catalogAttributes.size()));
    for (const auto& attr : (*store)->catalogAttributes) {
        Print("  " + AttributeText(attr));
    }
    Print("Members: " + std::to_string((*store)->members.size()));
    for (const auto& member : (*store)->members) {
        Print("  " + member.referenceTag +
              (member.digestAlgorithmOid.empty()
                   ? std::string()
                   : " [" + member.digestAlgorithmOid + " " + member.indirectDataTypeOid + "]"));
        for (const auto& attr : member.attributes) {
            Print("    " + AttributeText(attr));
        }
    }
    return kExitDone;
}

// The catalog must open before its members can answer for any file.
int CheckFiles(const std::string& catalog, const std::vector<std::string>& files, bool verbose) {
    if (const auto store = platform::CryptCATOpen(catalog, 1); !store) {
        std::fprintf(stderr, "catinspect: cannot open %s as a catalog: %s\n",
                     EscapeLine(catalog).c_str(), CodeText(store.error()).c_str());
        return kExitFailed;
    }
    int exitCode = kExitDone;
    for (const auto& file : files) {
        std::vector<std::string> diagnostics;
        DriverFileCheck check;
        // A file that cannot be read says so rather than "no member tag".
        const std::uint32_t refused = platform::ProbeInputFile(file);
        {
            OutputCapture capture;
            check = CheckDriverFile(file, catalog);
            diagnostics = capture.lines();
        }
        if (refused != 0) {
            check.reason = "cannot read the file: " + CodeText(refused);
        }
        Print(file + " " + (check.tag.empty() ? "-" : check.tag) + " " + Hex8(check.trustCode) +
              (check.passes() ? "" : " " + check.reason));
        if (!check.passes()) {
            exitCode = kExitFailed;
        }
        if (verbose) {
            for (const auto& line : diagnostics) {
                Print("  " + line);
            }
        }
    }
    return exitCode;
}

constexpr const char* kUsage[] = {
    "Usage: catinspect [-v] CATALOG             list the catalog: ThisUpdate, signature, signer",
    "                                           and time stamp chains, attributes, members",
    "       catinspect [-v] CATALOG FILE...     one line per file: path, member tag, trust code",
    "                                           (8 hex digits, 00000000 when trusted, FFFFFFFF",
    "                                           when no trust query was made) and, when the file",
    "                                           is not a trusted member, why",
    "       catinspect --package [--json] PKG.7z",
    "                                           explain a whole package: unpack it into a private",
    "                                           temporary folder (under $TMPDIR, removed",
    "                                           afterwards) and run every step of halyard's",
    "                                           package check without stopping at the first",
    "                                           failure",
    "       catinspect --help | --version",
    "",
    "Options may stand anywhere; \"--\" ends them (for a name that begins with \"-\").",
    "  -v, --verbose  also show the diagnostic lines of the signature check",
    "  --package      explain the package PKG.7z",
    "  --json         with --package: the report as one JSON document:",
    "                 {\"schema\": \"1\", \"archive\", \"cause\", \"catalog\": {\"path\",",
    "                 \"signer\", \"accepted\", \"chain\", \"timestamp\", \"signDate\",",
    "                 \"code\"}, \"files\": [{\"path\", \"tag\", \"code\", \"reason\"}],",
    "                 \"checks\": [{\"name\", \"ok\", \"expected\", \"found\", \"lines\"}],",
    "                 \"verdict\"}; times in ISO 8601 UTC (2019-06-01T12:34:56Z); \"cause\"",
    "                 says why a package cannot be read (null when it can)",
    "  -h, --help     this text          --version  the version",
    "",
    "The package report has one row per driver file (path in the package, member tag, trust code",
    "and, when it fails, why: not a member of the catalog, changed after signing, the catalog was",
    "changed after signing, signer not trusted, ...; members the package lacks are listed as",
    "missing from the package), the catalog's signer, chain and time stamp, and one row per step",
    "of the package check, ok or FAIL, with what the package holds (expected) and what params.ini",
    "records or the package shows (found). Its last line (the JSON \"verdict\") is the verdict",
    "halyard prints for the same archive. The lines a step writes name files in halyard's work",
    "folder beside the archive, as halyard's lines do.",
    "",
    "The package check accepts only catalogs signed by \"Microsoft Windows Hardware",
    "Compatibility Publisher\" (SignTool's report must name it); the report says who signed.",
    "It takes the catalog's signing date only from 1 January 2000 to 21 June 2020 00:00 UTC:",
    "a catalog dated later counts as undated (0), halyard then writes \"GetSignDateOfCAT: Wrong",
    "result: <date>\" and params.ini must record DateSign=0 or none.",
    "",
    "Text lines end in LF. Exit code: 0 the package passes every check, or every FILE is a",
    "trusted member, or the catalog was listed; 1 a check fails, a FILE is not a trusted member",
    "or the catalog cannot be opened; 2 a usage error, or the package cannot be read.",
};

void Usage(std::FILE* to) {
    for (const char* line : kUsage) {
        std::fputs(line, to);
        std::fputc('\n', to);
    }
}

int UsageError(const std::string& message) {
    std::fprintf(stderr, "catinspect: %s\nTry 'catinspect --help' for more information.\n",
                 message.c_str());
    return kExitUsage;
}

} // namespace

int main(int argc, char** argv) {
    // A reader that went away makes a write fail; it must not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    halyard::platform::InstallInterruptCleanup();
    enum { OptPackage = 0x100, OptJson, OptVersion };
    static const option kOptions[] = {
        {"help", no_argument, nullptr, 'h'},           {"verbose", no_argument, nullptr, 'v'},
        {"package", no_argument, nullptr, OptPackage}, {"json", no_argument, nullptr, OptJson},
        {"version", no_argument, nullptr, OptVersion}, {nullptr, 0, nullptr, 0}};
    bool verbose = false;
    bool package = false;
    bool json = false;
    opterr = 0; // our own messages, one style for every usage error
    for (;;) {
        const int opt = getopt_long(argc, argv, "hv", kOptions, nullptr);
        if (opt == -1) {
            break;
        }
        switch (opt) {
        case 'h':
            Usage(stdout);
            return std::fflush(stdout) == 0 ? kExitDone : kExitFailed;
        case OptVersion:
            std::printf("catinspect %s\n", HALYARD_VERSION);
            return std::fflush(stdout) == 0 ? kExitDone : kExitFailed;
        case 'v':
            verbose = true;
            break;
        case OptPackage:
            package = true;
            break;
        case OptJson:
            json = true;
            break;
        default: {
            // A long option is named as written ("--jsn", "--json=x"), a short one by its letter.
            const std::string written = argv[optind - 1];
            return UsageError(written.starts_with("--")
                                  ? "invalid option: " + EscapeLine(written)
                                  : "invalid option: -" +
                                        EscapeLine(std::string(1, static_cast<char>(optopt))));
        }
        }
    }
    std::vector<std::string> args(argv + optind, argv + argc);
    if (json && !package) {
        return UsageError("--json applies to --package only");
    }
    if (package) {
        if (args.size() != 1) {
            return UsageError("--package takes one archive, " + std::to_string(args.size()) +
                              " given");
        }
        try {
            return catinspect::InspectPackage(args[0], json);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "catinspect: %s\n", e.what());
            return kExitUsage;
        }
    }
    if (args.empty()) {
        return UsageError("no catalog given");
    }
    try {
        const std::string catalog = args.front();
        args.erase(args.begin());
        return args.empty() ? ListCatalog(catalog) : CheckFiles(catalog, args, verbose);
    } catch (const halyard::Error& e) {
        std::fprintf(stderr, "catinspect: %s: %s\n", e.typeName(), e.what());
        return kExitFailed;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "catinspect: %s\n", e.what());
        return kExitFailed;
    }
}
