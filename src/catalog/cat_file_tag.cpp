#include "catalog/cat_file_tag.h"

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

using namespace platform::codes;

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

std::string SizeQueryMessage(std::uint32_t error) {
    switch (error) {
    case kBadFormat:
        return "pfCreate fail: ERROR_BAD_FORMAT";
    case kInvalidParameter:
        return "pfCreate fail: ERROR_INVALID_PARAMETER";
    case kNotEnoughMemory:
        return "pfCreate fail: ERROR_NOT_ENOUGH_MEMORY";
    case kNteBadAlgid:
        return "pfCreate fail: NTE_BAD_ALGID";
    case kTrustESubjectFormUnknown:
        return "pfCreate fail: TRUST_E_SUBJECT_FORM_UNKNOWN";
    default:
        return "pfCreate fail";
    }
}

} // namespace

bool CalcCatFileTag(const std::string& catFile, const std::string& fileName, std::string& hash,
                    std::uint32_t alg) {
    std::uint32_t lastError = 0;
    return CalcCatFileTag(catFile, fileName, hash, alg, lastError);
}

bool CalcCatFileTag(const std::string& catFile, const std::string& fileName, std::string& hash,
                    std::uint32_t alg, std::uint32_t& lastError) {
    hash.clear();
    lastError = 0;

    // The store is released when the handle goes out of scope, on every way out.
    const auto catalog = platform::CryptCATOpen(catFile, 1);
    if (!catalog) {
        lastError = catalog.error();
        CollectError(kFunc, "CryptCATOpen fail", catFile, lastError);
        return false;
    }

    platform::Guid subjectType = platform::kSubjectFlatImage;
    if (!IsFlatExtension(fileName)) {
        const auto retrieved = platform::CryptSIPRetrieveSubjectGuid(fileName);
        if (retrieved) {
            subjectType = *retrieved;
        }
    }

    platform::SipSubjectInfo subject;
    subject.subjectType = subjectType;
    subject.fileName = fileName;
    subject.digestAlgorithmOid =
        alg == CALG_SHA_256 ? platform::kOidSha256RsaEncryption : platform::CertAlgIdToOID(alg);
    subject.flags = kSubjectFlags;
    subject.encodingType = (*catalog)->encodingType;

    const auto dispatch = platform::CryptSIPLoad(subjectType);
    if (!dispatch) {
        lastError = dispatch.error();
        CollectError(kFunc, "CryptSIPLoad fail", fileName, lastError);
        return false;
    }

    std::uint32_t size = 0;
    const auto sizeQuery = dispatch->createIndirectDataSize(subject);
    if (sizeQuery) {
        size = *sizeQuery;
    } else {
        lastError = sizeQuery.error();
        if (!(alg == CALG_SHA_256 && lastError == kNteBadAlgid)) {
            CollectError(kFunc, SizeQueryMessage(lastError), fileName, lastError);
            return false;
        }
    }

    if (size == 0 && alg != CALG_SHA_256) {
        hash = TryGetFileHash(fileName);
        if (hash.size() == 40) {
            return true;
        }
        CollectError(kFunc, "not Result 2", hash, lastError);
        return false;
    }

    if (size == 0) {
        const auto adminHash = platform::CryptCATAdminCalcHashFromFile(fileName);
        if (!adminHash || adminHash->empty()) {
            lastError = adminHash ? lastError : adminHash.error();
            return false;
        }
        hash = BytesToHex(*adminHash);
        if (hash.size() > 1) {
            return true;
        }
        CollectError(kFunc, "not Result 1", hash, lastError);
        return false;
    }

    const auto digest = dispatch->createIndirectDataDigest(subject);
    if (!digest) {
        lastError = digest.error();
        if (lastError == kStatusInPageError) {
            CollectError(kFunc, "pfCreate 2 fail: STATUS_IN_PAGE_ERROR", fileName, kNoCode);
        } else {
            CollectError(kFunc, "pfCreate 2 fail", fileName, lastError);
        }
        return false;
    }
    lastError = 0;
    hash = BytesToHex(*digest);
    if (hash.size() > 1) {
        return true;
    }
    CollectError(kFunc, "not Result 3", hash, lastError);
    if (alg == CALG_SHA1) {
        hash = TryGetFileHash(fileName);
        return true;
    }
    return false;
}

} // namespace halyard
