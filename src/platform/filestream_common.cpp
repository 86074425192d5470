#include "base/errors.h"
#include "base/outcome.h"
#include "platform/filestream.h"
#include "platform/messages.h"

namespace halyard::platform {

void ThrowFOpenError(const std::string& path, std::uint32_t code) {
    throw EFOpenError("Cannot open file \"" + path + "\". " + SysErrorMessage(code));
}

std::uint32_t ReadAllWithinCap(std::uint64_t sizeAtOpen, std::uint64_t cap,
                               const std::function<long(std::uint64_t, void*, std::size_t)>& readAt,
                               std::vector<std::uint8_t>& out) {
    // Sized once from the file; a file that grew meanwhile is read on, but never past the cap.
    out.resize(static_cast<std::size_t>(sizeAtOpen < cap ? sizeAtOpen : cap));
    std::size_t done = 0;
    for (;;) {
        if (done == out.size()) {
            // At the size the file had (or the cap): one byte tells its end from a file that
            // grew meanwhile, without growing the buffer for nothing.
            std::uint8_t probe = 0;
            const long n = readAt(done, &probe, 1);
            if (n < 0) {
                out.clear();
                return GetLastErrorCode();
            }
            if (n == 0) {
                break;
            }
            if (done >= cap) {
                out.clear();
                return codes::kFileTooLarge;
            }
            out.push_back(probe);
            ++done;
            const std::uint64_t room = cap - done;
            out.resize(done + static_cast<std::size_t>(room < 65536 ? room : 65536));
            continue; // at the cap already: the next byte is probed first
        }
        const long n = readAt(done, out.data() + done, out.size() - done);
        if (n < 0) {
            out.clear();
            return GetLastErrorCode();
        }
        if (n == 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    out.resize(done); // the file may also have shrunk while it was read
    return codes::kSuccess;
}

std::vector<std::uint8_t> ReadWholeFile(const std::string& path, std::uint64_t cap) {
    FileReader reader(path, cap);
    std::vector<std::uint8_t> bytes;
    // FileReader's reads throw EReadError themselves.
    const std::uint32_t code = ReadAllWithinCap(
        reader.size(), cap,
        [&reader](std::uint64_t offset, void* buffer, std::size_t size) {
            return static_cast<long>(reader.readAt(offset, buffer, size));
        },
        bytes);
    if (code != codes::kSuccess) {
        ThrowFOpenError(path, code);
    }
    return bytes;
}

} // namespace halyard::platform
