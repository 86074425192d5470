#include "platform/filestream.h"

namespace halyard::platform {

std::vector<std::uint8_t> ReadToEnd(FileReader& reader) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(reader.size()));
    std::size_t done = 0;
    for (;;) {
        if (done == bytes.size()) {
            bytes.resize(bytes.size() + 65536);
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
