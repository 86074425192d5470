// catinspect CAT            lists the catalog: ThisUpdate, signer, catalog attributes, members
// catinspect CAT FILE...    one line per file: "<path> <tag> <code>", the member tag the
//                           signature check settled on and its trust result (8 hex digits,
//                           00000000 when trusted; FFFFFFFF when no trust query was made)
// Option -v shows the diagnostic lines of the signature check.
#include "base/calendar.h"
#include "base/errors.h"
#include "base/hex.h"
#include "base/unicode.h"
#include "catalog/cat_file_tag.h"
#include "catalog/code_signing.h"
#include "catalog/file_hash.h"
#include "platform/catalog.h"
#include "platform/ctl.h"
#include "platform/trust.h"
#include "report/output.h"

#include <cstdio>
#include <ctime>
#include <exception>
#include <string>
#include <vector>

namespace {

using namespace halyard;

std::string UtcText(std::int64_t seconds) {
    const auto t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm);
    return text;
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

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    bool verbose = false;
    if (!args.empty() && args.front() == "-v") {
        verbose = true;
        args.erase(args.begin());
    }
    if (args.empty()) {
        std::fputs("usage: catinspect [-v] CATALOG [FILE...]\n", stderr);
        return 2;
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
