#include "catalog/cat_file_tag.h"

#include "base/codes.h"
#include "base/unicode.h"
#include "catalog/file_hash.h"
#include "platform/catalog.h"
#include "platform/files.h"
#include "platform/sip.h"
#include "report/diagnostics.h"

#include <array>
#include <string_view>

namespace halyard {

namespace {

using namespace codes;

constexpr const char* kFunc = "CalcCatFileTag";

// SPC_INC_PE_RESOURCES_FLAG | SPC_INC_PE_IMPORT_ADDR_TABLE_FLAG |
// MSSIP_FLAGS_PROHIBIT_RESIZE_ON_CREATE
constexpr std::uint32_t kSubjectFlags = platform::kSpcIncPeResourcesFlag |
                                        platform::kSpcIncPeImportAddrTableFlag |
                                        platform::kMssipFlagsProhibitResizeOnCreate;

// Extensions always hashed as flat files, without asking the platform.
bool IsFlatExtension(const std::string& fileName) {
    static constexpr std::array<std::string_view, 4> kExtensions = {".js", ".msi", ".vbs", ".ppkg"};
    const std::string ext = AsciiLower(platform::ExtractFileExt(fileName));
    for (const auto candidate : kExtensions) {
        if (ext == candidate) {
            return true;
        }
    }
    return false;
}

// The size query's failures the report names.
constexpr std::uint32_t kNamedSizeQueryErrors[] = {kBadFormat, kInvalidParameter, kNotEnoughMemory,
                                                   kNteBadAlgid, kTrustESubjectFormUnknown};

std::string SizeQueryMessage(std::uint32_t error) {
    const std::string_view symbol = SymbolAmong(error, kNamedSizeQueryErrors);
    return symbol.empty() ? "pfCreate fail" : "pfCreate fail: " + std::string(symbol);
}

} // namespace

platform::SipSubjectInfo CatFileSubject(const std::string& fileName, std::uint32_t alg,
                                        std::uint32_t encodingType) {
    platform::SipSubjectInfo subject;
    subject.subjectType = platform::kSubjectFlatImage;
    if (!IsFlatExtension(fileName)) {
        const auto retrieved = platform::CryptSIPRetrieveSubjectGuid(fileName);
        if (retrieved) {
            subject.subjectType = *retrieved;
        }
    }
    subject.fileName = fileName;
    subject.digestAlgorithmOid =
        alg == CALG_SHA_256 ? platform::kOidSha256RsaEncryption : platform::CertAlgIdToOID(alg);
    subject.flags = kSubjectFlags;
    subject.encodingType = encodingType;
    return subject;
}

Outcome<std::string> CalcCatFileTag(const std::string& catFile, const std::string& fileName,
                                    std::uint32_t alg) {
    using Result = Outcome<std::string>;
    std::uint32_t lastError = 0;

    // The store is released when the handle goes out of scope, on every way out.
    const auto catalog = platform::CryptCATOpen(catFile, 1);
    if (!catalog) {
        CollectError(kFunc, "CryptCATOpen fail", catFile, catalog.error());
        return Result::failure(catalog.error());
    }

    const platform::SipSubjectInfo subject =
        CatFileSubject(fileName, alg, (*catalog)->encodingType);
    const auto dispatch = platform::CryptSIPLoad(subject.subjectType);
    if (!dispatch) {
        CollectError(kFunc, "CryptSIPLoad fail", fileName, dispatch.error());
        return Result::failure(dispatch.error());
    }

    std::uint32_t size = 0;
    const auto sizeQuery = dispatch->createIndirectDataSize(subject);
    if (sizeQuery) {
        size = *sizeQuery;
    } else {
        lastError = sizeQuery.error();
        if (!(alg == CALG_SHA_256 && lastError == kNteBadAlgid)) {
            CollectError(kFunc, SizeQueryMessage(lastError), fileName, lastError);
            return Result::failure(lastError);
        }
    }

    if (size == 0 && alg != CALG_SHA_256) {
        std::string hash = TryGetFileHash(fileName);
        if (hash.size() == 40) {
            return hash;
        }
        CollectError(kFunc, "not Result 2", hash, lastError);
        return Result::failure(lastError);
    }

    if (size == 0) {
        const auto adminHash = platform::CryptCATAdminCalcHashFromFile(fileName);
        if (!adminHash || adminHash->empty()) {
            return Result::failure(adminHash ? lastError : adminHash.error());
        }
        std::string hash = BytesToHex(*adminHash);
        if (hash.size() > 1) {
            return hash;
        }
        CollectError(kFunc, "not Result 1", hash, lastError);
        return Result::failure(lastError);
    }

    const auto digest = dispatch->createIndirectDataDigest(subject);
    if (!digest) {
        if (digest.error() == kStatusInPageError) {
            CollectError(kFunc, "pfCreate 2 fail: STATUS_IN_PAGE_ERROR", fileName, kNoCode);
        } else {
            CollectError(kFunc, "pfCreate 2 fail", fileName, digest.error());
        }
        return Result::failure(digest.error());
    }
    std::string hash = BytesToHex(*digest);
    if (hash.size() > 1) {
        return hash;
    }
    CollectError(kFunc, "not Result 3", hash, 0);
    if (alg == CALG_SHA1) {
        return TryGetFileHash(fileName);
    }
    return Result::failure(0);
}

} // namespace halyard
