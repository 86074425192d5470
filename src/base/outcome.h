// A value or the 32-bit code the platform left as its last error.
#pragma once

#include <cstdint>
#include <optional>
#include <type_traits>
#include <utility>

namespace halyard {

// Error codes as Windows reports them (Win32 errors and HRESULTs); they appear in our output.
namespace codes {
// Win32 errors (ERROR_*).
inline constexpr std::uint32_t kSuccess = 0;
inline constexpr std::uint32_t kInvalidFunction = 1;
inline constexpr std::uint32_t kFileNotFound = 2;
inline constexpr std::uint32_t kPathNotFound = 3;
inline constexpr std::uint32_t kTooManyOpenFiles = 4;
inline constexpr std::uint32_t kAccessDenied = 5;
inline constexpr std::uint32_t kInvalidHandle = 6;
inline constexpr std::uint32_t kNotEnoughMemory = 8;
inline constexpr std::uint32_t kBadFormat = 11;
inline constexpr std::uint32_t kInvalidData = 13;
inline constexpr std::uint32_t kOutOfMemory = 14;
inline constexpr std::uint32_t kNotSameDevice = 17;
inline constexpr std::uint32_t kNoMoreFiles = 18;
inline constexpr std::uint32_t kWriteProtect = 19;
inline constexpr std::uint32_t kBadUnit = 20;
inline constexpr std::uint32_t kNotReady = 21;
inline constexpr std::uint32_t kCrc = 23;
inline constexpr std::uint32_t kSeek = 25;
inline constexpr std::uint32_t kWriteFault = 29;
inline constexpr std::uint32_t kReadFault = 30;
inline constexpr std::uint32_t kGenFailure = 31;
inline constexpr std::uint32_t kSharingViolation = 32;
inline constexpr std::uint32_t kLockViolation = 33;
inline constexpr std::uint32_t kHandleEof = 38;
inline constexpr std::uint32_t kHandleDiskFull = 39;
inline constexpr std::uint32_t kNotSupported = 50;
inline constexpr std::uint32_t kFileExists = 80;
inline constexpr std::uint32_t kCannotMake = 82;
inline constexpr std::uint32_t kInvalidParameter = 87;
inline constexpr std::uint32_t kBrokenPipe = 109;
inline constexpr std::uint32_t kDiskFull = 112;
inline constexpr std::uint32_t kCallNotImplemented = 120;
inline constexpr std::uint32_t kInsufficientBuffer = 122;
inline constexpr std::uint32_t kInvalidName = 123;
inline constexpr std::uint32_t kModNotFound = 126;
inline constexpr std::uint32_t kProcNotFound = 127;
inline constexpr std::uint32_t kWaitNoChildren = 128;
inline constexpr std::uint32_t kDirNotEmpty = 145;
inline constexpr std::uint32_t kAlreadyExists = 183;
inline constexpr std::uint32_t kBadExeFormat = 193;
inline constexpr std::uint32_t kFilenameExcedRange = 206;
inline constexpr std::uint32_t kFileTooLarge = 223;
inline constexpr std::uint32_t kMoreData = 234;
inline constexpr std::uint32_t kNoMoreItems = 259;
inline constexpr std::uint32_t kDirectory = 267;
inline constexpr std::uint32_t kArithmeticOverflow = 534;
inline constexpr std::uint32_t kNoAccess = 998;
inline constexpr std::uint32_t kInvalidFlags = 1004;
inline constexpr std::uint32_t kNoUnicodeTranslation = 1113;
inline constexpr std::uint32_t kIoDevice = 1117;
inline constexpr std::uint32_t kTooManyLinks = 1142;
inline constexpr std::uint32_t kNotFound = 1168;
inline constexpr std::uint32_t kDiskQuotaExceeded = 1295;
inline constexpr std::uint32_t kFileCorrupt = 1392;
inline constexpr std::uint32_t kTimeout = 1460;
inline constexpr std::uint32_t kInvalidUserBuffer = 1784;
inline constexpr std::uint32_t kCantAccessFile = 1920;
inline constexpr std::uint32_t kCantResolveFilename = 1921;

// HRESULTs.
inline constexpr std::uint32_t kSFalse = 1;
inline constexpr std::uint32_t kENotImpl = 0x80004001;
inline constexpr std::uint32_t kENoInterface = 0x80004002;
inline constexpr std::uint32_t kEPointer = 0x80004003;
inline constexpr std::uint32_t kEAbort = 0x80004004;
inline constexpr std::uint32_t kEFail = 0x80004005;
inline constexpr std::uint32_t kEUnexpected = 0x8000FFFF;
inline constexpr std::uint32_t kEOutOfMemory = 0x8007000E;
inline constexpr std::uint32_t kEInvalidArg = 0x80070057;

// A Win32 error as an HRESULT (HRESULT_FROM_WIN32).
constexpr std::uint32_t HResultFromWin32(std::uint32_t code) {
    return code == 0 ? 0 : 0x80070000u | (code & 0xFFFFu);
}

inline constexpr std::uint32_t kNteBadUid = 0x80090001;
inline constexpr std::uint32_t kNteBadHash = 0x80090002;
inline constexpr std::uint32_t kNteBadKey = 0x80090003;
inline constexpr std::uint32_t kNteBadData = 0x80090005;
inline constexpr std::uint32_t kNteBadSignature = 0x80090006;
inline constexpr std::uint32_t kNteBadAlgid = 0x80090008;
inline constexpr std::uint32_t kNteBadKeyset = 0x80090016;
inline constexpr std::uint32_t kCryptEMsgError = 0x80091001;
inline constexpr std::uint32_t kCryptEOidFormat = 0x80091003;
inline constexpr std::uint32_t kCryptEUnexpectedEncoding = 0x80091005;
inline constexpr std::uint32_t kCryptEAuthAttrMissing = 0x80091006;
inline constexpr std::uint32_t kCryptEInvalidIndex = 0x80091008;
inline constexpr std::uint32_t kCryptENotDecrypted = 0x8009100A;
inline constexpr std::uint32_t kCryptEStreamMsgNotReady = 0x80091010;
inline constexpr std::uint32_t kCryptEExists = 0x80092005;
inline constexpr std::uint32_t kCryptENoProvider = 0x80092006;
inline constexpr std::uint32_t kCryptESelfSigned = 0x80092007;
inline constexpr std::uint32_t kCryptEDeletedPrev = 0x80092008;
inline constexpr std::uint32_t kCryptENoKeyProperty = 0x8009200B;
inline constexpr std::uint32_t kCryptENoRevocationDll = 0x80092011;
inline constexpr std::uint32_t kCryptENotInRevocationDatabase = 0x80092014;
inline constexpr std::uint32_t kCryptESecuritySettings = 0x80092026;
inline constexpr std::uint32_t kCryptEAsn1Error = 0x80093100;
inline constexpr std::uint32_t kCryptEAsn1Eod = 0x80093102;
inline constexpr std::uint32_t kCryptEAsn1Large = 0x80093104;
inline constexpr std::uint32_t kCryptEAsn1Memory = 0x80093106;
inline constexpr std::uint32_t kCryptEAsn1Badargs = 0x80093109;
inline constexpr std::uint32_t kCryptEAsn1Badtag = 0x8009310B;
inline constexpr std::uint32_t kCryptEAsn1Rule = 0x8009310D;
inline constexpr std::uint32_t kTrustECounterSigner = 0x80096003;
inline constexpr std::uint32_t kCryptEBadEncode = 0x80092002;
inline constexpr std::uint32_t kCryptEFileError = 0x80092003;
inline constexpr std::uint32_t kCryptENotFound = 0x80092004;
inline constexpr std::uint32_t kCryptENoMatch = 0x80092009;
inline constexpr std::uint32_t kCryptEBadMsg = 0x8009200D;
inline constexpr std::uint32_t kCryptENoSigner = 0x8009200E;
inline constexpr std::uint32_t kCryptEHashValue = 0x80091007;
inline constexpr std::uint32_t kCryptEUnknownAlgo = 0x80091002;
inline constexpr std::uint32_t kCryptEInvalidMsgType = 0x80091004;
inline constexpr std::uint32_t kCryptEUnexpectedMsgType = 0x8009200A;
inline constexpr std::uint32_t kCryptENoRevocationCheck = 0x80092012;
inline constexpr std::uint32_t kCryptERevocationOffline = 0x80092013;
inline constexpr std::uint32_t kCryptERevoked = 0x80092010;
inline constexpr std::uint32_t kTrustENoSignerCert = 0x80096002;
inline constexpr std::uint32_t kTrustECertSignature = 0x80096004;
inline constexpr std::uint32_t kTrustETimeStamp = 0x80096005;
inline constexpr std::uint32_t kTrustEBadDigest = 0x80096010;
inline constexpr std::uint32_t kTrustEBasicConstraints = 0x80096019;
inline constexpr std::uint32_t kTrustEFinancialCriteria = 0x8009601E;
inline constexpr std::uint32_t kTrustEProviderUnknown = 0x800B0001;
inline constexpr std::uint32_t kTrustEActionUnknown = 0x800B0002;
inline constexpr std::uint32_t kTrustESubjectFormUnknown = 0x800B0003;
inline constexpr std::uint32_t kTrustESubjectNotTrusted = 0x800B0004;
inline constexpr std::uint32_t kTrustENoSignature = 0x800B0100;
inline constexpr std::uint32_t kCertEExpired = 0x800B0101;
inline constexpr std::uint32_t kCertEValidityPeriodNesting = 0x800B0102;
inline constexpr std::uint32_t kCertERole = 0x800B0103;
inline constexpr std::uint32_t kCertEPathLenConst = 0x800B0104;
inline constexpr std::uint32_t kCertECritical = 0x800B0105;
inline constexpr std::uint32_t kCertEPurpose = 0x800B0106;
inline constexpr std::uint32_t kCertEIssuerChaining = 0x800B0107;
inline constexpr std::uint32_t kCertEMalformed = 0x800B0108;
inline constexpr std::uint32_t kCertEUntrustedRoot = 0x800B0109;
inline constexpr std::uint32_t kCertEChaining = 0x800B010A;
inline constexpr std::uint32_t kTrustEFail = 0x800B010B;
inline constexpr std::uint32_t kCertERevoked = 0x800B010C;
inline constexpr std::uint32_t kCertEUntrustedTestRoot = 0x800B010D;
inline constexpr std::uint32_t kCertERevocationFailure = 0x800B010E;
inline constexpr std::uint32_t kCertECnNoMatch = 0x800B010F;
inline constexpr std::uint32_t kCertEWrongUsage = 0x800B0110;
inline constexpr std::uint32_t kTrustEExplicitDistrust = 0x800B0111;
inline constexpr std::uint32_t kCertEUntrustedCa = 0x800B0112;
inline constexpr std::uint32_t kStatusInPageError = 0xC0000006;

// Setup API errors.
inline constexpr std::uint32_t kErrorGeneralSyntax = 0xE0000100;
inline constexpr std::uint32_t kErrorLineNotFound = 0xE0000102;
inline constexpr std::uint32_t kErrorNoDriverSelected = 0xE0000203;
inline constexpr std::uint32_t kErrorNoCatalogForOemInf = 0xE000022F;
inline constexpr std::uint32_t kErrorAuthenticodeDisallowed = 0xE0000240;
inline constexpr std::uint32_t kErrorAuthenticodeTrustedPublisher = 0xE0000241;
inline constexpr std::uint32_t kErrorAuthenticodeTrustNotEstablished = 0xE0000242;
inline constexpr std::uint32_t kErrorAuthenticodePublisherNotTrusted = 0xE0000243;
inline constexpr std::uint32_t kErrorSignatureOsattributeMismatch = 0xE0000244;
inline constexpr std::uint32_t kErrorOnlyValidateViaAuthenticode = 0xE0000245;

inline constexpr std::uint32_t kNoCode = 0xFFFFFFFF;
} // namespace codes

// The result of an operation: a value, or the error code Windows would have set. Ignoring it is
// a compile error, and a failure is only ever made by failure(): a number never turns into a
// success on its own (an Outcome of a number type takes its value explicitly).
template <class T>
class [[nodiscard]] Outcome {
public:
    explicit(std::is_arithmetic_v<T>) Outcome(T value) : value_(std::move(value)) {}
    static Outcome failure(std::uint32_t code) { return Outcome(code, Failure{}); }

    explicit operator bool() const { return value_.has_value(); }
    bool ok() const { return value_.has_value(); }
    std::uint32_t error() const { return error_; }
    T& value() { return *value_; }
    const T& value() const { return *value_; }
    T* operator->() { return &*value_; }
    const T* operator->() const { return &*value_; }
    T& operator*() { return *value_; }
    const T& operator*() const { return *value_; }

private:
    struct Failure {};
    Outcome(std::uint32_t code, Failure) : error_(code) {}
    std::optional<T> value_;
    std::uint32_t error_ = 0;
};

} // namespace halyard
