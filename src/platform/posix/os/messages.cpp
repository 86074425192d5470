// The system's message texts on POSIX: our own texts of the code table (base/codes.inc), also for
// the 7-Zip library's errno-based codes (read through the one errno table).
#include "platform/messages.h"

#include "base/codes.h"

#include <cerrno>
#include <cstdint>
#include <string_view>

namespace halyard::platform {

namespace {

using namespace codes;

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
    // The system's texts end in CR LF.
    const std::string_view text = TextOfCode(code);
    return text.empty() ? std::string() : std::string(text) + "\r\n";
}

std::uint32_t GetLastErrorCode() {
    return ErrnoToWin32(errno);
}

} // namespace halyard::platform
