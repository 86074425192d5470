// The private-profile reader on arbitrary file bytes: answers are valid text within the buffer,
// and a key that is absent gives the default.
#include "base/unicode.h"
#include "inf/inf_text.h"
#include "platform/profile.h"

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

// One scratch file per process, removed when the process ends.
struct ScratchFile {
    std::string path = "/tmp/halyard-fuzz-profile-" + std::to_string(::getpid()) + ".inf";
    ~ScratchFile() { std::remove(path.c_str()); }
};

const std::string& FilePath() {
    static const ScratchFile file;
    return file.path;
}

void Check(const std::string& section, const std::string& key, std::size_t units) {
    const std::string def = "d\xC3\xA9"
                            "f";
    const std::string value =
        halyard::platform::GetPrivateProfileString(section, key, def, FilePath(), units);
    if (!halyard::IsValidUtf8(value) || value.find('\0') != std::string::npos) {
        std::abort();
    }
    if (units == 0 ? !value.empty() : halyard::inf::Utf16Length(value) > units - 1) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::size_t units = data[0] % 8 == 0 ? 2048 : data[0] % 8;
    FILE* f = std::fopen(FilePath().c_str(), "wb");
    if (f == nullptr) {
        return 0;
    }
    std::fwrite(data + 1, 1, size - 1, f);
    std::fclose(f);

    // Names that occur in the input, so the interesting paths are reached.
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    std::string section = "S";
    std::string key = "k";
    const auto open = text.find('[');
    const auto close = open == std::string::npos ? open : text.find(']', open);
    if (close != std::string::npos) {
        section = text.substr(open + 1, close - open - 1);
        const auto eq = text.find('=', close);
        if (eq != std::string::npos) {
            const auto lineStart = text.find_last_of("\r\n", eq);
            key = text.substr(lineStart == std::string::npos ? 0 : lineStart + 1,
                              eq - (lineStart == std::string::npos ? 0 : lineStart + 1));
        }
    }
    Check(section, key, units);
    Check("Version", "DriverVer", units);
    Check("Strings", key, units);
    // Only when the input cannot hold that key: names match without regard to case, and a
    // present key whose value ends at a NUL rightly reads as empty.
    std::string folded = text;
    for (char& c : folded) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (folded.find("no such key") == std::string::npos) {
        const std::string absent = halyard::platform::GetPrivateProfileString(
            section, "no such key \x7F", "x", FilePath(), 2048);
        if (absent != "x") {
            std::abort();
        }
    }
    return 0;
}
