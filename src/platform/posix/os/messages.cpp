// Our own short English texts for every code the system can print: Win32 errors, HRESULTs,
// trust and certificate codes, Setup API codes and the 7-Zip library's errno-based codes (read
// through the one errno table).
#include "platform/messages.h"

#include "base/outcome.h"

#include <cerrno>
#include <cstdint>
#include <unordered_map>

namespace halyard::platform {

namespace {

using namespace codes;

const std::unordered_map<std::uint32_t, const char*>& MessageTable() {
    static const std::unordered_map<std::uint32_t, const char*> table = {
        {kSuccess, "The operation completed successfully.\r\n"},
        {kInvalidFunction, "Incorrect function.\r\n"},
        {kFileNotFound, "The system cannot find the file specified.\r\n"},
        {kPathNotFound, "The system cannot find the path specified.\r\n"},
        {kTooManyOpenFiles, "The system cannot open the file.\r\n"},
        {kAccessDenied, "Access is denied.\r\n"},
        {kInvalidHandle, "The handle is invalid.\r\n"},
        {kNotEnoughMemory, "Not enough memory is available for this operation.\r\n"},
        {kBadFormat, "The program has an incorrect format.\r\n"},
        {kInvalidData, "The data is invalid.\r\n"},
        {kOutOfMemory, "Not enough storage is available for this operation.\r\n"},
        {kNotSameDevice, "The system cannot move the file to a different disk drive.\r\n"},
        {kNoMoreFiles, "There are no more files.\r\n"},
        {kWriteProtect, "The media is write protected.\r\n"},
        {kBadUnit, "The system cannot find the device specified.\r\n"},
        {kNotReady, "The device is not ready.\r\n"},
        {kCrc, "Data error (cyclic redundancy check).\r\n"},
        {kSeek, "The drive cannot locate a specific area on the disk.\r\n"},
        {kReadFault, "The system cannot read from the specified device.\r\n"},
        {kWriteFault, "The system cannot write to the specified device.\r\n"},
        {kSharingViolation, "The file is in use by another process.\r\n"},
        {kLockViolation, "Part of the file is locked by another process.\r\n"},
        {kHandleEof, "The end of the file was reached.\r\n"},
        {kHandleDiskFull, "The disk is full.\r\n"},
        {kNotSupported, "The request is not supported.\r\n"},
        {kFileExists, "The file exists.\r\n"},
        {kCannotMake, "The folder or file cannot be created.\r\n"},
        {kInvalidParameter, "The parameter is incorrect.\r\n"},
        {kBrokenPipe, "The pipe has been ended.\r\n"},
        {kDiskFull, "There is not enough space on the disk.\r\n"},
        {kWaitNoChildren, "There are no child processes to wait for.\r\n"},
        {kCallNotImplemented, "This function is not supported on this system.\r\n"},
        {kInsufficientBuffer, "The data area passed to a system call is too small.\r\n"},
        {kInvalidName, "The file name, folder name or volume label syntax is incorrect.\r\n"},
        {kModNotFound, "The specified module could not be found.\r\n"},
        {kProcNotFound, "The specified procedure could not be found.\r\n"},
        {kDirNotEmpty, "The folder is not empty.\r\n"},
        {kAlreadyExists, "Cannot create a file when that file already exists.\r\n"},
        {kBadExeFormat, "The file is not a valid program for this system.\r\n"},
        {kFilenameExcedRange, "The file name or extension is too long.\r\n"},
        {kFileTooLarge, "The file is larger than the limit allowed for it.\r\n"},
        {kMoreData, "More data is available.\r\n"},
        {kNoMoreItems, "No more data is available.\r\n"},
        {kDirectory, "The folder name is invalid.\r\n"},
        {kArithmeticOverflow, "The arithmetic result exceeded 32 bits.\r\n"},
        {kNoAccess, "Invalid access to a memory location.\r\n"},
        {kInvalidFlags, "Invalid flags.\r\n"},
        {kNoUnicodeTranslation, "The character has no mapping in the target code page.\r\n"},
        {kIoDevice, "The request failed because of an input or output device error.\r\n"},
        {kTooManyLinks, "The file system allows no more links to the file.\r\n"},
        {kNotFound, "Element not found.\r\n"},
        {kDiskQuotaExceeded, "The operation would exceed the disk quota.\r\n"},
        {kFileCorrupt, "The file or folder is corrupted and unreadable.\r\n"},
        {kTimeout, "The operation timed out.\r\n"},
        {kCantAccessFile,
         "The file cannot be accessed by the system: it is not a regular file.\r\n"},
        {kCantResolveFilename, "The name of the file cannot be resolved by the system.\r\n"},
        {kENotImpl, "Not implemented.\r\n"},
        {kENoInterface, "No such interface supported.\r\n"},
        {kEPointer, "Invalid pointer.\r\n"},
        {kEAbort, "Operation aborted.\r\n"},
        {kEFail, "Unspecified error.\r\n"},
        {kEUnexpected, "Catastrophic failure.\r\n"},
        {kEOutOfMemory, "Not enough memory resources are available.\r\n"},
        {kEInvalidArg, "One or more arguments are invalid.\r\n"},
        {HResultFromWin32(kFileNotFound), "The system cannot find the file specified.\r\n"},
        {HResultFromWin32(kPathNotFound), "The system cannot find the path specified.\r\n"},
        {HResultFromWin32(kAccessDenied), "Access is denied.\r\n"},
        {HResultFromWin32(kInvalidHandle), "The handle is invalid.\r\n"},
        {HResultFromWin32(kSharingViolation), "The file is in use by another process.\r\n"},
        {HResultFromWin32(kHandleEof), "The end of the file was reached.\r\n"},
        {HResultFromWin32(kDiskFull), "There is not enough space on the disk.\r\n"},
        {kNteBadUid, "Bad UID.\r\n"},
        {kNteBadHash, "Bad hash.\r\n"},
        {kNteBadKey, "Bad key.\r\n"},
        {kNteBadData, "Bad data.\r\n"},
        {kNteBadSignature, "Invalid signature.\r\n"},
        {kNteBadAlgid, "Invalid algorithm specified.\r\n"},
        {kNteBadKeyset, "Key set does not exist.\r\n"},
        {kCryptEMsgError, "An error occurred while encoding or decoding.\r\n"},
        {kCryptEUnknownAlgo, "Unknown cryptographic algorithm.\r\n"},
        {kCryptEOidFormat, "The object identifier is badly formatted.\r\n"},
        {kCryptEInvalidMsgType, "The message type is not valid.\r\n"},
        {kCryptEUnexpectedEncoding, "The message is not encoded as expected.\r\n"},
        {kCryptEAuthAttrMissing,
         "The message does not hold the expected authenticated attribute.\r\n"},
        {kCryptEHashValue, "The hash value is not correct.\r\n"},
        {kCryptEInvalidIndex, "The index value is not valid.\r\n"},
        {kCryptENotDecrypted, "The message content has already been decrypted.\r\n"},
        {kCryptEStreamMsgNotReady, "The signer index is not valid.\r\n"},
        {kCryptEBadEncode, "An error occurred while encoding or decoding.\r\n"},
        {kCryptEFileError, "An error occurred while reading or writing to a file.\r\n"},
        {kCryptENotFound, "Cannot find object or property.\r\n"},
        {kCryptEExists, "The object or property already exists.\r\n"},
        {kCryptENoProvider, "No provider was given for the store or object.\r\n"},
        {kCryptESelfSigned, "The certificate of the signer was not found.\r\n"},
        {kCryptEDeletedPrev, "The original store is not there.\r\n"},
        {kCryptENoMatch, "Cannot find the requested object.\r\n"},
        {kCryptEUnexpectedMsgType, "The message type was not expected.\r\n"},
        {kCryptENoKeyProperty, "The certificate has no private key property.\r\n"},
        {kCryptEBadMsg, "Not a cryptographic message or the message is badly formatted.\r\n"},
        {kCryptENoSigner, "The message has no signer or the signer is not known.\r\n"},
        {kCryptERevoked, "The certificate is revoked.\r\n"},
        {kCryptENoRevocationDll, "No DLL or exported function was found to check revocation.\r\n"},
        {kCryptENoRevocationCheck,
         "The revocation function was unable to check revocation for the certificate.\r\n"},
        {kCryptERevocationOffline, "The revocation server was offline.\r\n"},
        {kCryptENotInRevocationDatabase,
         "The certificate is not in the revocation server's database.\r\n"},
        {kCryptESecuritySettings, "The security token is not valid.\r\n"},
        {kCryptEAsn1Error, "ASN.1 error.\r\n"},
        {kCryptEAsn1Eod, "ASN.1 unexpected end of data.\r\n"},
        {kCryptEAsn1Large, "ASN.1 bad length.\r\n"},
        {kCryptEAsn1Memory, "ASN.1 bad tag or value.\r\n"},
        {kCryptEAsn1Badargs, "ASN.1 bad value.\r\n"},
        {kCryptEAsn1Badtag, "ASN.1 bad tag value.\r\n"},
        {kCryptEAsn1Rule, "ASN.1 corrupted data.\r\n"},
        {kTrustENoSignerCert, "The certificate of the signer is not valid.\r\n"},
        {kTrustECounterSigner, "One of the counter-signatures is not valid.\r\n"},
        {kTrustECertSignature, "The signature of the certificate could not be verified.\r\n"},
        {kTrustETimeStamp, "The time-stamp signature or certificate could not be verified.\r\n"},
        {kTrustEBadDigest, "The digital signature of the object did not verify.\r\n"},
        {kTrustEBasicConstraints, "A certificate's basic constraints are not valid.\r\n"},
        {kTrustEFinancialCriteria,
         "The certificate does not meet or contain the Authenticode financial extensions.\r\n"},
        {kTrustEProviderUnknown, "Unknown trust provider.\r\n"},
        {kTrustEActionUnknown,
         "The trust verification action is not supported by the trust provider.\r\n"},
        {kTrustESubjectFormUnknown,
         "The form of the subject is not supported or known by the trust provider.\r\n"},
        {kTrustESubjectNotTrusted, "The subject is not trusted for the specified action.\r\n"},
        {kTrustENoSignature, "No signature was present in the subject.\r\n"},
        {kCertEExpired, "A required certificate is not within its validity period.\r\n"},
        {kCertEValidityPeriodNesting,
         "The validity periods of the certification chain do not nest.\r\n"},
        {kCertERole, "A certificate is used in a role it is not allowed to take.\r\n"},
        {kCertEPathLenConst,
         "A path length constraint in the certification chain was violated.\r\n"},
        {kCertECritical, "A certificate holds an unknown extension marked critical.\r\n"},
        {kCertEPurpose,
         "A certificate is used for a purpose other than the ones its authority allowed.\r\n"},
        {kCertEIssuerChaining,
         "A parent of a certificate did not issue that child certificate.\r\n"},
        {kCertEMalformed,
         "A certificate is missing or has an empty value for an important field.\r\n"},
        {kCertEUntrustedRoot,
         "A certification chain ended in a root certificate that is not trusted.\r\n"},
        {kCertEChaining, "A certificate chain could not be built to a trusted root authority.\r\n"},
        {kTrustEFail, "Generic trust failure.\r\n"},
        {kCertERevoked, "A certificate was explicitly revoked by its issuer.\r\n"},
        {kCertEUntrustedTestRoot,
         "The certification path ends in a test root that is not trusted.\r\n"},
        {kCertERevocationFailure,
         "The revocation process could not continue; the certificate could not be checked.\r\n"},
        {kCertECnNoMatch, "The certificate's common name does not match the passed value.\r\n"},
        {kCertEWrongUsage, "The certificate is not valid for the requested usage.\r\n"},
        {kTrustEExplicitDistrust, "The certificate was explicitly marked as untrusted.\r\n"},
        {kCertEUntrustedCa,
         "A certification chain was built to an authority that is not trusted.\r\n"},
        {kStatusInPageError, "The data could not be read into memory because of an I/O error.\r\n"},
        {kErrorGeneralSyntax, "The INF file has a syntax error.\r\n"},
        {kErrorLineNotFound, "The required line was not found in the INF.\r\n"},
        {kErrorNoDriverSelected, "No driver was selected for this device.\r\n"},
        {kErrorNoCatalogForOemInf,
         "The third-party INF does not name a catalog: it is not digitally signed.\r\n"},
        {kErrorAuthenticodeDisallowed, "The publisher of the signature is not trusted.\r\n"},
        {kErrorAuthenticodeTrustedPublisher,
         "The software was signed by a publisher that is trusted.\r\n"},
        {kErrorAuthenticodeTrustNotEstablished,
         "Trust in the publisher of the software could not be established.\r\n"},
        {kErrorAuthenticodePublisherNotTrusted,
         "The publisher of the software is not trusted.\r\n"},
        {kErrorSignatureOsattributeMismatch,
         "The signature's operating-system attribute does not match this platform.\r\n"},
        {kErrorOnlyValidateViaAuthenticode,
         "The catalog was signed for another platform version.\r\n"},
    };
    return table;
}

// The one table from errno values to the Win32 codes Windows reports for the same failure.
struct ErrnoCode {
    int err;
    std::uint32_t code;
};

constexpr ErrnoCode kErrnoCodes[] = {
    {0, kSuccess},
    {ENOENT, kFileNotFound},
    {ENOTDIR, kPathNotFound},
    {EMFILE, kTooManyOpenFiles},
    {ENFILE, kTooManyOpenFiles},
    {EACCES, kAccessDenied},
    {EPERM, kAccessDenied},
    {EISDIR, kAccessDenied}, // Windows refuses to open a folder as a file
    {EBADF, kInvalidHandle},
    {ENOMEM, kNotEnoughMemory},
    {EXDEV, kNotSameDevice},
    {EROFS, kWriteProtect},
    {ENODEV, kBadUnit},
    {ENXIO, kBadUnit},
    {EBUSY, kSharingViolation},
    {ETXTBSY, kSharingViolation},
    {EAGAIN, kSharingViolation},
    {ENOTSUP, kNotSupported},
    {EEXIST, kFileExists},
    {EINVAL, kInvalidParameter},
    {EPIPE, kBrokenPipe},
    {ENOSPC, kDiskFull},
    {ENOSYS, kCallNotImplemented},
    {ECHILD, kWaitNoChildren},
    {ENOTEMPTY, kDirNotEmpty},
    {ENOEXEC, kBadExeFormat},
    {ENAMETOOLONG, kFilenameExcedRange},
    {EFBIG, kFileTooLarge},
    {EOVERFLOW, kArithmeticOverflow},
    {EFAULT, kNoAccess},
    {EILSEQ, kNoUnicodeTranslation},
    {EIO, kIoDevice},
    {EMLINK, kTooManyLinks},
    {EDQUOT, kDiskQuotaExceeded},
    {ETIMEDOUT, kTimeout},
    {ELOOP, kCantResolveFilename},
    {ESPIPE, kInvalidFunction}, // as for a seek on a pipe
    {ENOTTY, kInvalidFunction},
};

// The 7-Zip library reports an errno value as 0x8800xxxx on Linux.
constexpr std::uint32_t kSevenZipErrnoFacility = 0x88000000;

} // namespace

std::uint32_t ErrnoToWin32(int err) {
    for (const auto& entry : kErrnoCodes) {
        if (entry.err == err) {
            return entry.code;
        }
    }
    return kInvalidFunction; // what Windows reports for an operation it cannot map
}

std::string SystemMessageText(std::uint32_t code) {
    if ((code & 0xFFFF0000) == kSevenZipErrnoFacility) {
        return SystemMessageText(ErrnoToWin32(static_cast<int>(code & 0xFFFF)));
    }
    const auto& table = MessageTable();
    const auto it = table.find(code);
    return it == table.end() ? std::string() : std::string(it->second);
}

std::uint32_t GetLastErrorCode() {
    return ErrnoToWin32(errno);
}

} // namespace halyard::platform
