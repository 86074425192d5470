// The Setup API library's readers of untrusted INF and catalog text: the CatalogFile directive
// (through the private-profile service, comments, quotes, %key% tokens looked up in
// [Strings.0409] and [Strings]), the string substitution on its own, the one-pass section reader
// against the private-profile service, and OSAttr values.
#include "base/unicode.h"
#include "os/profile_section.h"
#include "platform/posix/setupapi/verify_inf_file.h"
#include "platform/profile.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <unistd.h>

namespace {

using halyard::setupapi_posix::TargetPlatform;

const std::string& FilePath() {
    static const std::string path =
        "/tmp/halyard-fuzz-setupapi-" + std::to_string(::getpid()) + ".inf";
    return path;
}

void CheckName(const std::optional<std::string>& name) {
    if (name && (name->empty() || !halyard::IsValidUtf8(*name))) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    TargetPlatform running = halyard::setupapi_posix::RunningPlatform();
    TargetPlatform wide = running;
    wide.lowVersion = 0;
    for (const auto& target : {running, wide}) {
        const auto matched = halyard::setupapi_posix::MatchOsAttr(text, target);
        if (matched && matched->find('.') == std::string::npos) {
            std::abort();
        }
    }
    const std::string cleaned = halyard::setupapi_posix::CleanInfValue(text);
    if (cleaned.size() > text.size()) {
        std::abort();
    }

    // Substitution: a key nothing defines leaves the text as long or shorter ("%%" shrinks);
    // text put in for a key is not scanned again, so replacements made of tokens (none longer
    // than the token it replaces) neither recurse nor grow the text.
    using halyard::setupapi_posix::SubstituteInfStrings;
    const std::string kept =
        SubstituteInfStrings(text, [](const std::string&) { return std::optional<std::string>(); });
    if (kept.size() > text.size() || (halyard::IsValidUtf8(text) && !halyard::IsValidUtf8(kept))) {
        std::abort();
    }
    const std::string marked = SubstituteInfStrings(text, [](const std::string& key) {
        return std::optional<std::string>(key.size() % 2 == 0 ? "%" + key + "%" : "%%");
    });
    if (marked.size() > text.size()) {
        std::abort();
    }

    {
        std::ofstream out(FilePath(), std::ios::binary | std::ios::trunc);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
    }
    // The one-pass section reader answers as the private-profile service, key by key (names
    // taken from the input's first lines). No value is a line feed: that default means absent.
    for (const char* section : {"Strings", "Strings.0409"}) {
        const auto read = halyard::platform::ReadProfileSection(section, FilePath());
        std::size_t start = 0;
        for (int line = 0; line < 8 && start < text.size(); ++line) {
            const std::size_t end = text.find('\n', start);
            const std::string key =
                text.substr(start, std::min(text.find('=', start), end) - start);
            start = end == std::string::npos ? text.size() : end + 1;
            const std::string answer =
                halyard::platform::GetPrivateProfileString(section, key, "\n", FilePath());
            const auto value = read.value(key);
            if (answer == "\n" ? value.has_value() : value != answer && !answer.empty()) {
                std::abort();
            }
        }
    }

    TargetPlatform x86 = running;
    x86.architecture = 0;
    CheckName(halyard::setupapi_posix::CatalogDirective(FilePath(), running));
    CheckName(halyard::setupapi_posix::CatalogDirective(FilePath(), x86));
    ::unlink(FilePath().c_str());
    return 0;
}
