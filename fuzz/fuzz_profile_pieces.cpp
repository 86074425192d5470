// The private-profile reader decodes a file in 64 KiB pieces. Arbitrary text placed so that it
// straddles a piece's end, behind a comment line that pads it there, must read exactly as the
// same text at the start of the file: no character may be cut or doubled at the seam.
#include "platform/profile.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

struct ScratchFile {
    std::string path;
    explicit ScratchFile(const char* tag)
        : path("/tmp/halyard-fuzz-pieces-" + std::to_string(::getpid()) + tag + ".inf") {}
    ~ScratchFile() { std::remove(path.c_str()); }
    bool write(const std::string& bytes) const {
        FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr) {
            return false;
        }
        const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
        return std::fclose(f) == 0 && ok;
    }
};

constexpr std::size_t kPiece = 64 * 1024;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    static const ScratchFile plain("a");
    static const ScratchFile padded("b");
    const bool utf16 = (data[0] & 1) != 0;
    std::size_t shift = (data[0] >> 1) % 16; // bytes of the text before the piece's end
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

    // A mark fixes the encoding for both files: UTF-16LE, or UTF-8.
    const std::string mark = utf16 ? "\xFF\xFE" : "\xEF\xBB\xBF";
    std::string pad;
    if (utf16) {
        shift &= ~static_cast<std::size_t>(1);
        const std::size_t units = (kPiece - mark.size() - shift) / 2;
        for (std::size_t i = 0; i < units; ++i) {
            const char c = i == 0 ? ';' : (i + 2 >= units ? (i + 2 == units ? '\r' : '\n') : 'p');
            pad += c;
            pad += '\0';
        }
    } else {
        const std::size_t bytes = kPiece - mark.size() - shift;
        pad = ";" + std::string(bytes - 3, 'p') + "\r\n";
    }
    if (!plain.write(mark + text) || !padded.write(mark + pad + text)) {
        return 0;
    }

    // Names taken from the text, so that lookups find something.
    std::string section = "S";
    std::string key = "k";
    const auto open = text.find('[');
    const auto close = open == std::string::npos ? open : text.find(']', open);
    if (close != std::string::npos) {
        section = text.substr(open + 1, close - open - 1);
        const auto eq = text.find('=', close);
        if (eq != std::string::npos) {
            const auto start = text.find_last_of("\r\n", eq);
            key = text.substr(start == std::string::npos ? 0 : start + 1,
                              eq - (start == std::string::npos ? 0 : start + 1));
        }
    }
    using halyard::platform::GetPrivateProfileString;
    for (const auto& [s, k] :
         {std::pair{section, key}, std::pair{std::string("Version"), std::string("DriverVer")}}) {
        if (GetPrivateProfileString(s, k, "def", plain.path) !=
            GetPrivateProfileString(s, k, "def", padded.path)) {
            std::abort();
        }
    }
    return 0;
}
