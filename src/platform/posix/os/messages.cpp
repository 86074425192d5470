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
        {1, "Incorrect function.\r\n"},
        {kFileNotFound, "The system cannot find the file specified.\r\n"},
        {kPathNotFound, "The system cannot find the path specified.\r\n"},
        {4, "The system cannot open the file.\r\n"},
        {kAccessDenied, "Access is denied.\r\n"},
        {kInvalidHandle, "The handle is invalid.\r\n"},
        {kNotEnoughMemory, "Not enough memory is available for this operation.\r\n"},
        {kBadFormat, "The program has an incorrect format.\r\n"},
        {kInvalidData, "The data is invalid.\r\n"},
        {14, "Not enough storage is available for this operation.\r\n"},
        {17, "The system cannot move the file to a different disk drive.\r\n"},
        {18, "There are no more files.\r\n"},
        {19, "The media is write protected.\r\n"},
        {20, "The system cannot find the device specified.\r\n"},
        {21, "The device is not ready.\r\n"},
        {23, "Data error (cyclic redundancy check).\r\n"},
        {25, "The drive cannot locate a specific area on the disk.\r\n"},
        {kReadFault, "The system cannot read from the specified device.\r\n"},
        {29, "The system cannot write to the specified device.\r\n"},
        {32, "The file is in use by another process.\r\n"},
        {33, "Part of the file is locked by another process.\r\n"},
        {kHandleEof, "The end of the file was reached.\r\n"},
        {39, "The disk is full.\r\n"},
        {kNotSupported, "The request is not supported.\r\n"},
        {kFileExists, "The file exists.\r\n"},
        {82, "The folder or file cannot be created.\r\n"},
        {kInvalidParameter, "The parameter is incorrect.\r\n"},
        {kBrokenPipe, "The pipe has been ended.\r\n"},
        {112, "There is not enough space on the disk.\r\n"},
        {128, "There are no child processes to wait for.\r\n"},
        {kCallNotImplemented, "This function is not supported on this system.\r\n"},
        {kInsufficientBuffer, "The data area passed to a system call is too small.\r\n"},
        {123, "The file name, folder name or volume label syntax is incorrect.\r\n"},
        {kModNotFound, "The specified module could not be found.\r\n"},
        {kProcNotFound, "The specified procedure could not be found.\r\n"},
        {kDirNotEmpty, "The folder is not empty.\r\n"},
        {kAlreadyExists, "Cannot create a file when that file already exists.\r\n"},
        {kBadExeFormat, "The file is not a valid program for this system.\r\n"},
        {kFilenameExcedRange, "The file name or extension is too long.\r\n"},
        {kFileTooLarge, "The file is larger than the limit allowed for it.\r\n"},
        {kMoreData, "More data is available.\r\n"},
        {kNoMoreItems, "No more data is available.\r\n"},
        {267, "The folder name is invalid.\r\n"},
        {534, "The arithmetic result exceeded 32 bits.\r\n"},
        {998, "Invalid access to a memory location.\r\n"},
        {1004, "Invalid flags.\r\n"},
        {1113, "The character has no mapping in the target code page.\r\n"},
        {kIoDevice, "The request failed because of an input or output device error.\r\n"},
        {1142, "The file system allows no more links to the file.\r\n"},
        {kNotFound, "Element not found.\r\n"},
        {1295, "The operation would exceed the disk quota.\r\n"},
        {1392, "The file or folder is corrupted and unreadable.\r\n"},
        {1460, "The operation timed out.\r\n"},
        {kCantAccessFile,
         "The file cannot be accessed by the system: it is not a regular file.\r\n"},
        {kCantResolveFilename, "The name of the file cannot be resolved by the system.\r\n"},
        {kENotImpl, "Not implemented.\r\n"},
        {kENoInterface, "No such interface supported.\r\n"},
        {0x80004003, "Invalid pointer.\r\n"},
        {kEAbort, "Operation aborted.\r\n"},
        {kEFail, "Unspecified error.\r\n"},
        {0x8000FFFF, "Catastrophic failure.\r\n"},
        {kEOutOfMemory, "Not enough memory resources are available.\r\n"},
        {kEInvalidArg, "One or more arguments are invalid.\r\n"},
        {0x80070002, "The system cannot find the file specified.\r\n"},
        {0x80070003, "The system cannot find the path specified.\r\n"},
        {0x80070005, "Access is denied.\r\n"},
        {0x80070006, "The handle is invalid.\r\n"},
        {0x80070020, "The file is in use by another process.\r\n"},
        {0x80070026, "The end of the file was reached.\r\n"},
        {0x80070070, "There is not enough space on the disk.\r\n"},
        {0x80090001, "Bad UID.\r\n"},
        {0x80090002, "Bad hash.\r\n"},
        {0x80090003, "Bad key.\r\n"},
        {0x80090005, "Bad data.\r\n"},
        {0x80090006, "Invalid signature.\r\n"},
        {kNteBadAlgid, "Invalid algorithm specified.\r\n"},
        {0x80090016, "Key set does not exist.\r\n"},
        {0x80091001, "An error occurred while encoding or decoding.\r\n"},
        {kCryptEUnknownAlgo, "Unknown cryptographic algorithm.\r\n"},
        {0x80091003, "The object identifier is badly formatted.\r\n"},
        {kCryptEInvalidMsgType, "The message type is not valid.\r\n"},
        {0x80091005, "The message is not encoded as expected.\r\n"},
        {0x80091006, "The message does not hold the expected authenticated attribute.\r\n"},
        {kCryptEHashValue, "The hash value is not correct.\r\n"},
        {0x80091008, "The index value is not valid.\r\n"},
        {0x8009100A, "The message content has already been decrypted.\r\n"},
        {0x80091010, "The signer index is not valid.\r\n"},
        {kCryptEBadEncode, "An error occurred while encoding or decoding.\r\n"},
        {kCryptEFileError, "An error occurred while reading or writing to a file.\r\n"},
        {kCryptENotFound, "Cannot find object or property.\r\n"},
        {0x80092005, "The object or property already exists.\r\n"},
        {0x80092006, "No provider was given for the store or object.\r\n"},
        {0x80092007, "The certificate of the signer was not found.\r\n"},
        {0x80092008, "The original store is not there.\r\n"},
        {kCryptENoMatch, "Cannot find the requested object.\r\n"},
        {kCryptEUnexpectedMsgType, "The message type was not expected.\r\n"},
        {0x8009200B, "The certificate has no private key property.\r\n"},
        {kCryptEBadMsg, "Not a cryptographic message or the message is badly formatted.\r\n"},
        {kCryptENoSigner, "The message has no signer or the signer is not known.\r\n"},
        {kCryptERevoked, "The certificate is revoked.\r\n"},
        {0x80092011, "No DLL or exported function was found to check revocation.\r\n"},
        {kCryptENoRevocationCheck,
         "The revocation function was unable to check revocation for the certificate.\r\n"},
        {kCryptERevocationOffline, "The revocation server was offline.\r\n"},
        {0x80092014, "The certificate is not in the revocation server's database.\r\n"},
        {0x80092026, "The security token is not valid.\r\n"},
        {kCryptEAsn1Error, "ASN.1 error.\r\n"},
        {0x80093102, "ASN.1 unexpected end of data.\r\n"},
        {0x80093104, "ASN.1 bad length.\r\n"},
        {0x80093106, "ASN.1 bad tag or value.\r\n"},
        {0x80093109, "ASN.1 bad value.\r\n"},
        {kCryptEAsn1Badtag, "ASN.1 bad tag value.\r\n"},
        {0x8009310D, "ASN.1 corrupted data.\r\n"},
        {kTrustENoSignerCert, "The certificate of the signer is not valid.\r\n"},
        {0x80096003, "One of the counter-signatures is not valid.\r\n"},
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
        {0xE0000100, "The INF file has a syntax error.\r\n"},
        {0xE0000102, "The required line was not found in the INF.\r\n"},
        {0xE0000203, "No driver was selected for this device.\r\n"},
        {kErrorNoCatalogForOemInf,
         "The third-party INF does not name a catalog: it is not digitally signed.\r\n"},
        {0xE0000240, "The publisher of the signature is not trusted.\r\n"},
        {kErrorAuthenticodeTrustedPublisher,
         "The software was signed by a publisher that is trusted.\r\n"},
        {kErrorAuthenticodeTrustNotEstablished,
         "Trust in the publisher of the software could not be established.\r\n"},
        {0xE0000243, "The publisher of the software is not trusted.\r\n"},
        {kErrorSignatureOsattributeMismatch,
         "The signature's operating-system attribute does not match this platform.\r\n"},
        {0xE0000245, "The catalog was signed for another platform version.\r\n"},
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
    {EMFILE, 4}, // ERROR_TOO_MANY_OPEN_FILES
    {ENFILE, 4},
    {EACCES, kAccessDenied},
    {EPERM, kAccessDenied},
    {EISDIR, kAccessDenied}, // Windows refuses to open a folder as a file
    {EBADF, kInvalidHandle},
    {ENOMEM, kNotEnoughMemory},
    {EXDEV, 17},  // ERROR_NOT_SAME_DEVICE
    {EROFS, 19},  // ERROR_WRITE_PROTECT
    {ENODEV, 20}, // ERROR_BAD_UNIT
    {ENXIO, 20},
    {EBUSY, 32}, // ERROR_SHARING_VIOLATION
    {ETXTBSY, 32},
    {EAGAIN, 32},
    {ENOTSUP, kNotSupported},
    {EEXIST, kFileExists},
    {EINVAL, kInvalidParameter},
    {EPIPE, kBrokenPipe},
    {ENOSPC, 112}, // ERROR_DISK_FULL
    {ENOSYS, kCallNotImplemented},
    {ECHILD, 128}, // ERROR_WAIT_NO_CHILDREN
    {ENOTEMPTY, kDirNotEmpty},
    {ENOEXEC, kBadExeFormat},
    {ENAMETOOLONG, kFilenameExcedRange},
    {EFBIG, 223},     // ERROR_FILE_TOO_LARGE
    {EOVERFLOW, 534}, // ERROR_ARITHMETIC_OVERFLOW
    {EFAULT, 998},    // ERROR_NOACCESS
    {EILSEQ, 1113},   // ERROR_NO_UNICODE_TRANSLATION
    {EIO, kIoDevice},
    {EMLINK, 1142},    // ERROR_TOO_MANY_LINKS
    {EDQUOT, 1295},    // ERROR_DISK_QUOTA_EXCEEDED
    {ETIMEDOUT, 1460}, // ERROR_TIMEOUT
    {ELOOP, kCantResolveFilename},
    {ESPIPE, 1}, // ERROR_INVALID_FUNCTION, as for a seek on a pipe
    {ENOTTY, 1},
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
    return 1; // ERROR_INVALID_FUNCTION: what Windows reports for an operation it cannot map
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
