#include "base/errors.h"
#include "base/outcome.h"
#include "platform/filestream.h"
#include "platform/messages.h"

namespace halyard::platform {

void ThrowFOpenError(const std::string& path, std::uint32_t code) {
    throw EFOpenError("Cannot open file \"" + path + "\". " + SysErrorMessage(code));
}

std::vector<std::uint8_t> ReadWholeFile(const std::string& path, std::uint64_t cap) {
    FileReader reader(path, cap);
    // Sized once from the file; a file that grew meanwhile is read on, but never past the cap.
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(reader.size()));
    std::size_t done = 0;
    for (;;) {
        if (done == bytes.size()) {
            if (done >= cap) {
                std::uint8_t probe = 0;
                if (reader.read(&probe, 1) != 0) {
                    ThrowFOpenError(path, codes::kFileTooLarge);
                }
                break;
            }
            const std::uint64_t room = cap - done;
            bytes.resize(done + static_cast<std::size_t>(room < 65536 ? room : 65536));
        }
        const std::size_t n = reader.read(bytes.data() + done, bytes.size() - done);
        if (n == 0) {
            break;
        }
        done += n;
    }
    bytes.resize(done);
    return bytes;
}

} // namespace halyard::platform
