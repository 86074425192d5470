// catinspect CAT            lists the catalog: ThisUpdate, signer, catalog attributes, members
// catinspect CAT FILE...    one line per file: "<path> <tag> <code>", the member tag the
//                           signature check settled on and its trust result (8 hex digits,
//                           00000000 when trusted; FFFFFFFF when no trust query was made)
// catinspect --package PKG.7z [--json]
//                           explains a whole package: every step of the package check run
// Option -v shows the diagnostic lines of the signature check.
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
#include "platform/run_guard.h"
#include "platform/trust.h"
#include "report/output.h"

#include <csignal>
#include <cstdio>
#include <ctime>
#include <exception>
#include <string>
#include <vector>

namespace {

using namespace halyard;

using catinspect::UtcText;

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
    WriteLine(title);
    std::string indent = "  ";
    for (const auto& cert : chain) {
        WriteLine(indent + cert.issuedTo + " (issued by " + cert.issuedBy + ", expires " +
                  UtcText(cert.notAfter) + ", SHA-1 " + cert.sha1Hex + ")");
        indent += "  ";
    }
}

int ListCatalog(const std::string& path) {
    const auto store = platform::CryptCATOpen(path, 1);
    if (!store) {
        WriteLine("cannot open " + path + " as a catalog: " + Hex8(store.error()));
        return 1;
    }
    const auto ctl = platform::CryptQueryObjectCtl(path);
    if (ctl) {
        WriteLine("ThisUpdate: " + FileTimeText(ctl->thisUpdate));
    }
    const auto report = platform::VerifyCatalogSignature(path);
    WriteLine("Signature: " + Hex8(report.status) + " (" + TrustResultName(report.status) + ")");
    if (report.timestamp) {
        WriteLine("Time stamp: " + UtcText(*report.timestamp));
    }
    PrintChain("Signing chain:", report.signingChain);
    if (!report.timestampChain.empty()) {
        PrintChain("Time-stamp chain:", report.timestampChain);
    }
    WriteLine("Catalog attributes: " + std::to_string((*store)->catalogAttributes.size()));
    for (const auto& attr : (*store)->catalogAttributes) {
        WriteLine("  " + AttributeText(attr));
    }
    WriteLine("Members: " + std::to_string((*store)->members.size()));
    for (const auto& member : (*store)->members) {
        WriteLine("  " + member.referenceTag +
                  (member.digestAlgorithmOid.empty() ? std::string()
                                                     : " [" + member.digestAlgorithmOid + " " +
                                                           member.indirectDataTypeOid + "]"));
        for (const auto& attr : member.attributes) {
            WriteLine("    " + AttributeText(attr));
        }
    }
    return 0;
}

int CheckFiles(const std::string& catalog, const std::vector<std::string>& files, bool verbose) {
    for (const auto& file : files) {
        std::vector<std::string> diagnostics;
        CodeSigningResult signing;
        {
            OutputCapture capture;
            signing = IsCodeSigned(file, catalog, CALG_SHA_256);
            diagnostics = capture.lines();
        }
        WriteLine(file + " " + (signing.tag.empty() ? "-" : signing.tag) + " " +
                  Hex8(signing.trustCode));
        if (verbose) {
            for (const auto& line : diagnostics) {
                WriteLine("  " + line);
            }
        }
    }
    return 0;
}

constexpr const char* kUsage[] = {
    "Usage: catinspect [-v] CATALOG             list the catalog: ThisUpdate, signature, signer",
    "                                           and time stamp chains, attributes, members",
    "       catinspect [-v] CATALOG FILE...     one line per file: path, member tag, trust code",
    "                                           (8 hex digits, 00000000 when trusted, FFFFFFFF",
    "                                           when no trust query was made)",
    "       catinspect --package PKG.7z [--json]",
    "                                           explain a whole package: unpack it into a private",
    "                                           temporary folder (under $TMPDIR, removed",
    "                                           afterwards) and run every step of halyard's",
    "                                           package check without stopping at the first",
    "                                           failure",
    "       catinspect --help",
    "",
    "  -v        also show the diagnostic lines of the signature check",
    "  --json    the package report as one JSON document:",
    "            {\"archive\", \"catalog\": {\"path\", \"signer\", \"chain\", \"timestamp\",",
    "            \"code\"}, \"files\": [{\"path\", \"tag\", \"code\", \"reason\"}],",
    "            \"checks\": [{\"name\", \"ok\", \"expected\", \"found\", \"lines\"}],",
    "            \"verdict\"}",
    "",
    "The package report has one row per driver file (path in the package, member tag, trust code",
    "and, when it fails, why: not a member of the catalog, changed after signing, signer not",
    "trusted, ...; members the package lacks are listed as missing), the catalog's signer, chain",
    "and time stamp, and one row per step of the package check, ok or FAIL, with what the package",
    "holds (expected) and what params.ini records or the package shows (found). Its last line",
    "(the JSON \"verdict\") is the verdict halyard prints for the same archive. The lines a step",
    "writes name files in halyard's work folder beside the archive, as halyard's lines do.",
    "",
    "Exit code (--package): 0 every check passes, 1 a check fails, 2 the package cannot be read.",
    "Otherwise: 0 done, 1 an error, 2 a usage error.",
};

int Usage(std::FILE* to) {
    for (const char* line : kUsage) {
        std::fputs(line, to);
        std::fputc('\n', to);
    }
    return to == stdout ? 0 : 2;
}

} // namespace

int main(int argc, char** argv) {
    // A reader that went away makes a write fail; it must not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    halyard::platform::InstallInterruptCleanup();
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        return Usage(stdout);
    }
    if (!args.empty() && args[0] == "--package") {
        bool json = false;
        std::vector<std::string> rest(args.begin() + 1, args.end());
        if (!rest.empty() && rest.back() == "--json") {
            json = true;
            rest.pop_back();
        } else if (!rest.empty() && rest.front() == "--json") {
            json = true;
            rest.erase(rest.begin());
        }
        if (rest.size() != 1) {
            return Usage(stderr);
        }
        try {
            return catinspect::InspectPackage(rest[0], json);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "catinspect: %s\n", e.what());
            return 2;
        }
    }
    bool verbose = false;
    if (!args.empty() && args.front() == "-v") {
        verbose = true;
        args.erase(args.begin());
    }
    if (args.empty()) {
        return Usage(stderr);
    }
    try {
        const std::string catalog = args.front();
        args.erase(args.begin());
        return args.empty() ? ListCatalog(catalog) : CheckFiles(catalog, args, verbose);
    } catch (const halyard::Error& e) {
        std::fprintf(stderr, "catinspect: %s: %s\n", e.typeName(), e.what());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "catinspect: %s\n", e.what());
        return 1;
    }
}
