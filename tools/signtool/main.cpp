// SignTool.exe on POSIX: "verify" of catalog members (/c) and of catalogs' own signatures, on the
// same trust layer as the checker, with SignTool's report layout. Options: /v (verbose), /kp
// and /pa (policy; with /kp the verbose report adds the cross-certificate chain), /c CAT.
#include "base/hex.h"
#include "base/unicode.h"
#include "catalog/cat_file_tag.h"
#include "catalog/file_hash.h"
#include "halyard/trust/parse.h"
#include "halyard/trust/verify.h"
#include "platform/files.h"
#include "platform/sip.h"
#include "platform/trust.h"
#include "run_index.h"
#include "signtool_report.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
#include <memory>
#include <openssl/crypto.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace {

using namespace halyard;
using namespace halyard::platform;
using namespace halyard::trust;
using signtool::Console;

constexpr std::uint32_t kX509AndPkcs7Encoding = 0x00010001;

struct Options {
    bool verbose = false;
    bool kernelPolicy = false;
    std::string catalog;
    std::vector<std::string> files;
};

struct Tally {
    int verified = 0;
    int errors = 0;
};

using ParsedOutcome = Outcome<std::shared_ptr<const ParsedCatalog>>;

// The catalog a start checks against, read once: its bytes, the stamp they were read under
// (when it held still while they were read) and its verdict.
struct Catalog {
    std::string path;
    std::vector<std::uint8_t> bytes;
    std::uint32_t readError = 0;
    std::optional<signtool::FileStamp> stamp;
    std::optional<CatalogSignatureReport> verdict;
    std::optional<ParsedOutcome> whole;
};

std::optional<signtool::FileStamp> StampOfPath(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return std::nullopt;
    }
    return signtool::StampOf(st);
}

// The verdicts on catalog signatures of this start. Within a package check the first start
// leaves the verdict and an index of the catalog's members in the run's private folder, and
// later starts read only the member they need; nothing is kept anywhere else.
class SignatureVerdicts {
public:
    // WinVerifyTrust of one catalog member: the member looked up and its digest compared, then
    // the catalog's signature verdict.
    std::uint32_t member(const std::string& catalogPath, const std::string& tag,
                         const std::string& file) {
        if (const signtool::CatalogIndex* index = indexFor(catalogPath)) {
            if (auto member = index->find(tag)) {
                ParsedCatalog one;
                one.version = index->header().version;
                one.store.members.push_back(std::move(*member));
                const std::uint32_t status = index->header().status;
                return VerifyCatalogMemberIn(one, {catalogPath, tag, file},
                                             [status](const ParsedCatalog&) { return status; });
            }
        }
        Catalog& catalog = load(catalogPath);
        if (catalog.readError != 0) {
            return CatalogFileFailureCode(catalog.readError);
        }
        const auto& parsed = whole(catalog);
        if (!parsed) {
            return CatalogFileFailureCode(parsed.error());
        }
        return VerifyCatalogMemberIn(**parsed, {catalogPath, tag, file},
                                     [this, &catalog](const ParsedCatalog& whole) {
                                         return verdictOf(catalog, whole).status;
                                     });
    }

    // The catalog's own signature, always verified afresh (the verbose report needs the chains).
    CatalogSignatureReport ofFile(const std::string& path) {
        Catalog& catalog = load(path);
        CatalogSignatureReport report;
        if (catalog.readError != 0) {
            report.status = CatalogFileFailureCode(catalog.readError);
            return report;
        }
        const auto& parsed = whole(catalog);
        if (!parsed) {
            report.status = CatalogFileFailureCode(parsed.error());
            return report;
        }
        return verdictOf(catalog, **parsed);
    }

private:
    // The run's index of the catalog, when there is one that holds for it now.
    const signtool::CatalogIndex* indexFor(const std::string& path) {
        if (!openShare() || !trustSettled_) {
            return nullptr;
        }
        if (!index_ || indexPath_ != path) {
            indexPath_ = path;
            index_.reset();
            if (const auto stamp = StampOfPath(path)) {
                index_ = signtool::CatalogIndex::Open(*share_, *stamp, trustStamp_, now_);
            }
        }
        return index_ ? &*index_ : nullptr;
    }

    bool openShare() {
        if (!shareTried_) {
            shareTried_ = true;
            share_ = signtool::OpenRunShare();
            if (share_) {
                const auto stamp = TrustFoldersStamp(folders_, now_, trustSettled_);
                std::copy_n(stamp.begin(), std::min(stamp.size(), trustStamp_.size()),
                            trustStamp_.begin());
            }
        }
        return static_cast<bool>(share_);
    }

    Catalog& load(const std::string& path) {
        if (catalog_ && catalog_->path == path) {
            return *catalog_;
        }
        catalog_.emplace();
        catalog_->path = path;
        const auto before = StampOfPath(path);
        auto bytes = ReadCatalogFile(path);
        if (!bytes) {
            catalog_->readError = bytes.error();
            return *catalog_;
        }
        catalog_->bytes = std::move(bytes.value());
        if (before && StampOfPath(path) == before) {
            catalog_->stamp = before;
        }
        return *catalog_;
    }

    static const ParsedOutcome& whole(Catalog& catalog) {
        if (!catalog.whole) {
            catalog.whole = ParseCatalogBytes(catalog.bytes);
        }
        return *catalog.whole;
    }

    CatalogSignatureReport verdictOf(Catalog& catalog, const ParsedCatalog& parsed) {
        if (catalog.verdict) {
            return *catalog.verdict;
        }
        const TrustAnchors& anchors = ProcessTrustAnchors();
        CatalogSignatureReport report = VerifyParsedCatalogSignature(parsed, anchors, now_);
        catalog.verdict = report;
        if (openShare() && trustSettled_ && catalog.stamp) {
            signtool::IndexHeader header;
            header.catalog = *catalog.stamp;
            header.trust = trustStamp_;
            header.version = parsed.version;
            header.status = report.status;
            header.from = now_;
            header.until =
                std::min<std::int64_t>(SignatureVerdictStableUntil(parsed, anchors, report, now_),
                                       now_ + signtool::kLongestVerdictSeconds);
            signtool::WriteIndex(*share_, header, parsed.store.members);
        }
        return report;
    }

    const std::time_t now_ = std::time(nullptr);
    const std::vector<std::string> folders_ = TrustFolders();
    bool shareTried_ = false;
    std::optional<signtool::RunShare> share_;
    bool trustSettled_ = false;
    std::array<std::uint8_t, 32> trustStamp_{};
    std::string indexPath_;
    std::optional<signtool::CatalogIndex> index_;
    std::optional<Catalog> catalog_; // the catalog of this start
};

// The member tag the catalog lists the file under, for one hash algorithm; empty when the
// file's subject package cannot produce it.
std::string MemberTag(const std::string& path, std::uint32_t alg) {
    const SipSubjectInfo subject = CatFileSubject(path, alg, kX509AndPkcs7Encoding);
    const Outcome<SipDispatch> dispatch = CryptSIPLoad(subject.subjectType);
    if (dispatch) {
        const auto digest = dispatch->createIndirectDataDigest(subject);
        if (digest && !digest->empty()) {
            return BytesToHex(digest.value());
        }
    }
    if (alg == kCalgSha1) {
        const auto hash = CryptCATAdminCalcHashFromFile(path);
        if (hash) {
            return BytesToHex(hash.value());
        }
    }
    return {};
}

struct MemberResult {
    std::uint32_t status = codes::kTrustENoSignature;
    std::string tag;
    bool sha256 = false;
};

// SHA-256 tag first, SHA-1 after, as the driver policy looks members up.
MemberResult VerifyMember(SignatureVerdicts& verdicts, const std::string& catalog,
                          const std::string& file) {
    MemberResult result;
    for (const std::uint32_t alg : {kCalgSha256, kCalgSha1}) {
        const std::string tag = MemberTag(file, alg);
        if (tag.empty()) {
            continue;
        }
        result.tag = tag;
        result.sha256 = alg == kCalgSha256;
        result.status = verdicts.member(catalog, tag, file);
        if (result.status == 0) {
            break;
        }
    }
    return result;
}

void PrintSignature(Console& out, const CatalogSignatureReport& report, bool crossChain) {
    if (!report.signingChain.empty()) {
        out.text("Signing Certificate Chain:");
        signtool::PrintChain(out, report.signingChain);
    }
    if (report.timestamp) {
        out.plain("The signature is timestamped: " + signtool::FormatDate(*report.timestamp));
        out.text("Timestamp Verified by:");
        signtool::PrintChain(out, report.timestampChain);
    } else {
        out.text("File is not timestamped.");
    }
    if (crossChain && report.status == 0) {
        out.text("Cross Certificate Chain:");
        signtool::PrintChain(out, report.signingChain);
    }
}

void Failed(Console& out, Tally& tally, std::uint32_t status, const std::string& file) {
    signtool::PrintTrustError(out, status);
    out.error("SignTool Error: File not valid: " + file);
    ++tally.errors;
}

void VerifyCatalogMember(Console& out, SignatureVerdicts& verdicts, const Options& options,
                         const std::string& file, Tally& tally) {
    out.plain("Verifying: " + file);
    const MemberResult member = VerifyMember(verdicts, options.catalog, file);
    if (options.verbose) {
        out.text("File is signed in catalog: " + options.catalog);
        out.text(std::string("Hash of file (") + (member.sha256 ? "sha256" : "sha1") +
                 "): " + member.tag);
        out.blank();
        if (member.status == 0) {
            PrintSignature(out, verdicts.ofFile(options.catalog), options.kernelPolicy);
        }
    }
    if (member.status != 0) {
        Failed(out, tally, member.status, file);
        return;
    }
    out.text("Successfully verified: " + file);
    ++tally.verified;
}

void VerifyCatalogFile(Console& out, SignatureVerdicts& verdicts, const Options& options,
                       const std::string& file, Tally& tally) {
    out.plain("Verifying: " + file);
    const CatalogSignatureReport report = verdicts.ofFile(file);
    if (options.verbose) {
        out.text("Hash of file (sha1): " + TryGetFileHash(file));
        out.blank();
        PrintSignature(out, report, options.kernelPolicy);
    }
    if (report.status != 0) {
        Failed(out, tally, report.status, file);
        return;
    }
    out.text("Successfully verified: " + file);
    ++tally.verified;
}

int Usage(Console& out, const std::string& problem) {
    out.error("SignTool Error: " + problem);
    out.error("Usage: signtool verify [/v] [/kp | /pa] [/c <catalog>] <file> ...");
    return 1;
}

int Verify(const std::vector<std::string>& args) {
    Console out;
    Options options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        // POSIX paths start with '/' too: only the option names count as options.
        const std::string name =
            arg.size() > 1 && (arg[0] == '/' || arg[0] == '-') ? AsciiLower(arg.substr(1)) : "";
        if (name == "v") {
            options.verbose = true;
        } else if (name == "kp") {
            options.kernelPolicy = true;
        } else if (name == "pa") {
            options.kernelPolicy = false;
        } else if (name == "c") {
            if (i + 1 >= args.size()) {
                return Usage(out, "Missing catalog file name after " + arg + ".");
            }
            options.catalog = args[++i];
        } else if (!name.empty() && arg[0] == '-') {
            return Usage(out, "Invalid option: " + arg);
        } else {
            options.files.push_back(arg);
        }
    }
    if (options.files.empty()) {
        return Usage(out, "Missing filename.");
    }
    Tally tally;
    SignatureVerdicts verdicts;
    for (const auto& file : options.files) {
        if (!FileExists(file)) {
            out.error("SignTool Error: File not found: " + file);
            ++tally.errors;
        } else if (!options.catalog.empty() && !FileExists(options.catalog)) {
            out.error("SignTool Error: File not found: " + options.catalog);
            ++tally.errors;
        } else if (!options.catalog.empty()) {
            VerifyCatalogMember(out, verdicts, options, file, tally);
        } else if (const auto subject = CryptSIPRetrieveSubjectGuid(file);
                   subject && subject.value() == kSubjectCatalog) {
            VerifyCatalogFile(out, verdicts, options, file, tally);
        } else {
            out.plain("Verifying: " + file);
            out.error("SignTool Error: Only catalogs and catalog members (/c) are verified here: " +
                      file);
            ++tally.errors;
        }
    }
    if (options.verbose) {
        out.blank();
        out.text("Number of files successfully Verified: " + std::to_string(tally.verified));
        out.text("Number of warnings: 0");
        out.text("Number of errors: " + std::to_string(tally.errors));
    } else if (tally.errors > 0) {
        out.blank();
        out.text("Number of errors: " + std::to_string(tally.errors));
    }
    return tally.errors > 0 ? 1 : 0;
}

} // namespace

int main(int argc, char** argv) {
    // Every file check starts this program: OpenSSL's configuration file (and the providers it may
    // name) is not read, the built-in default provider serves every algorithm used here, the
    // legacy names of the ciphers are not registered (nothing here decrypts), neither are the
    // library's error texts (nothing here prints them), and nothing is torn down at exit (the
    // process's memory goes with it). Together that is half of a start's work in the library.
    // The digests' legacy names stay: certificate signatures are verified through them.
    OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG | OPENSSL_INIT_NO_ADD_ALL_CIPHERS |
                            OPENSSL_INIT_NO_LOAD_CRYPTO_STRINGS | OPENSSL_INIT_NO_ATEXIT,
                        nullptr);
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || AsciiLower(args.front()) != "verify") {
        Console out;
        return Usage(out, args.empty() ? "A required parameter is missing."
                                       : "Invalid command: " + args.front());
    }
    try {
        return Verify(std::vector<std::string>(args.begin() + 1, args.end()));
    } catch (const std::exception& e) {
        Console out;
        out.error(std::string("SignTool Error: ") + e.what());
        return 1;
    }
}
