// GetPrivateProfileString's reading of INI and INF text, as Windows reads it:
// - the file is UTF-16LE with a byte-order mark, UTF-8 with one, or else the ANSI code page
//   (Windows-1252 on POSIX); lines end in CR LF, CR or LF;
// - lines starting with ";" are comments; lines before the first section header are invisible;
// - a header is "[" ... "]" up to the last "]" of the line; names are trimmed and compared
//   ignoring letter case; only the first section of a repeated name is searched, and in it the
//   first line of the key decides (a line naming the key without "=" gives the default);
// - the value is trimmed, one pair of quotes (single or double) around the whole value removed,
//   inline comments kept, no continuation lines; it is cut to bufferUnits - 1 UTF-16 units.
// Blanks here are space, tab, CR, LF, VT, FF and ^Z (the old DOS end-of-file mark).
#include "platform/profile.h"

#include "base/errors.h"
#include "base/outcome.h"
#include "base/unicode.h"
#include "os/profile_section.h"
#include "platform/files.h"
#include "platform/filestream.h"
#include "platform/locale.h"

#include <array>
#include <optional>
#include <span>
#include <vector>

namespace halyard::platform {

namespace {

bool IsProfileSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' || c == 0x1A;
}

std::string_view TrimProfileSpace(std::string_view s) {
    std::size_t b = 0;
    std::size_t e = s.size();
    while (b < e && IsProfileSpace(s[b])) {
        ++b;
    }
    while (e > b && IsProfileSpace(s[e - 1])) {
        --e;
    }
    return s.substr(b, e - b);
}

bool IsAscii(std::string_view s) {
    for (char c : s) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

// Names compare ignoring case; wanted is already upper-cased.
bool NameMatches(std::string_view name, std::string_view wantedUpper) {
    if (IsAscii(name)) {
        if (name.size() != wantedUpper.size()) {
            return false;
        }
        for (std::size_t i = 0; i < name.size(); ++i) {
            char c = name[i];
            if (c >= 'a' && c <= 'z') {
                c = static_cast<char>(c - 'a' + 'A');
            }
            if (c != wantedUpper[i]) {
                return false;
            }
        }
        return true;
    }
    return UpperCase(name) == wantedUpper;
}

std::string UpperName(std::string_view name) {
    return IsAscii(name) ? AsciiUpper(name) : UpperCase(name);
}

// The longest prefix of a UTF-8 text with at most maxUnits UTF-16 units.
std::string CutToUnits(std::string_view text, std::size_t maxUnits) {
    const std::u16string units = Utf8ToUtf16(text);
    if (units.size() <= maxUnits) {
        return std::string(text);
    }
    return Utf16ToUtf8(std::u16string_view(units).substr(0, maxUnits));
}

// What the service copies into the caller's buffer: quotes around the whole text removed, the
// text ended at a NUL and cut to the buffer.
std::string CopyEntry(std::string_view value, std::size_t bufferUnits) {
    if (value.size() > 1 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    const auto nul = value.find('\0');
    if (nul != std::string_view::npos) {
        value = value.substr(0, nul);
    }
    return CutToUnits(value, bufferUnits - 1);
}

enum class ProfileEncoding { Ansi, Utf8, Utf16Le };

// Decodes a file chunk by chunk into UTF-8; a sequence cut by a chunk's end waits for the next
// chunk, so the text is the one a decoding of the whole file gives.
class ChunkDecoder {
public:
    explicit ChunkDecoder(ProfileEncoding encoding) : encoding_(encoding) {}

    void feed(std::span<const std::uint8_t> chunk, bool last, std::string& out) {
        pending_.insert(pending_.end(), chunk.begin(), chunk.end());
        const std::size_t take = last ? pending_.size() : completePrefix();
        decode(std::span<const std::uint8_t>(pending_).first(take), out);
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(take));
    }

private:
    // How much of the pending bytes ends with a whole character.
    std::size_t completePrefix() const {
        std::size_t n = pending_.size();
        if (encoding_ == ProfileEncoding::Utf16Le) {
            n &= ~static_cast<std::size_t>(1);
            if (n >= 2 && pending_[n - 1] >= 0xD8 && pending_[n - 1] <= 0xDB) {
                n -= 2; // a high surrogate waits for its partner
            }
        } else if (encoding_ == ProfileEncoding::Utf8) {
            for (std::size_t k = 1; k <= 3 && k <= n; ++k) {
                const std::uint8_t b = pending_[n - k];
                if ((b & 0xC0) == 0x80) {
                    continue;
                }
                const std::size_t need = b >= 0xF0 ? 4 : (b >= 0xE0 ? 3 : (b >= 0xC0 ? 2 : 1));
                if (need > k) {
                    n -= k;
                }
                break;
            }
        }
        return n;
    }

    void decode(std::span<const std::uint8_t> bytes, std::string& out) const {
        const std::string_view raw(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        switch (encoding_) {
        case ProfileEncoding::Utf16Le:
            out += Utf16LeBytesToUtf8(bytes, false);
            break;
        case ProfileEncoding::Utf8:
            if (IsValidUtf8(raw)) {
                out += raw;
            } else {
                out += Utf16ToUtf8(Utf8ToUtf16(raw));
            }
            break;
        case ProfileEncoding::Ansi:
            out += AnsiToUtf8(raw);
            break;
        }
    }

    ProfileEncoding encoding_;
    std::vector<std::uint8_t> pending_;
};

// The file's text: UTF-16LE with a byte-order mark, UTF-8 with one, else the ANSI code page.
// The file is decoded chunk by chunk into a text that reserves room for the longest decoding
// (three bytes for each byte of the file); pages never written are never taken, so a run holds
// the text alone, never the file's bytes beside it. False when the file cannot be read (the
// service then answers the default).
bool ReadProfileText(const std::string& fileName, std::string& text) {
    if (!FileExists(fileName)) {
        return false;
    }
    try {
        FileReader reader(fileName, kMaxInfFileSize);
        constexpr std::size_t kChunk = 64 * 1024;
        std::vector<std::uint8_t> chunk(kChunk);
        std::size_t n = reader.readAt(0, chunk.data(), chunk.size());
        // A big-endian mark is no mark to the profile service: such a file reads as ANSI.
        const ByteOrderMark mark =
            DetectByteOrderMark(std::span<const std::uint8_t>(chunk.data(), n));
        ProfileEncoding encoding = ProfileEncoding::Ansi;
        std::size_t skip = 0;
        if (mark == ByteOrderMark::Utf16Le || mark == ByteOrderMark::Utf8) {
            encoding =
                mark == ByteOrderMark::Utf8 ? ProfileEncoding::Utf8 : ProfileEncoding::Utf16Le;
            skip = ByteOrderMarkSize(mark);
        }
        text.clear();
        text.reserve(static_cast<std::size_t>(reader.size()) * 3);
        ChunkDecoder decoder(encoding);
        for (std::uint64_t offset = 0;;) {
            offset += n;
            if (offset > kMaxInfFileSize) {
                return false; // it grew past the cap since it was opened
            }
            const bool last = n < chunk.size();
            decoder.feed(std::span<const std::uint8_t>(chunk).subspan(skip, n - skip), last, text);
            if (last) {
                return true;
            }
            skip = 0;
            n = reader.readAt(offset, chunk.data(), chunk.size());
        }
    } catch (const Error&) {
        // The service answers the default for a file it cannot read.
        return false;
    }
}

// Calls entry(name, value) for each line of the first section of that name, in file order
// (value is nothing for a line without "="); entry returns false to stop.
template <class Entry>
void ForEachEntry(std::string_view text, std::string_view sectionUpper, const Entry& entry) {
    bool inSection = false;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::string_view line = TrimProfileSpace(NextLine(text, start));

        if (line.empty() || line.front() == ';') {
            continue;
        }
        if (line.front() == '[') {
            const auto close = line.rfind(']');
            if (close != std::string_view::npos && close > 0) {
                if (inSection) {
                    return; // only the first section of that name is searched
                }
                const std::string_view name = TrimProfileSpace(line.substr(1, close - 1));
                inSection = !name.empty() && NameMatches(name, sectionUpper);
                continue;
            }
        }
        if (!inSection) {
            continue;
        }
        const auto eq = line.find('=');
        const std::string_view name = TrimProfileSpace(line.substr(0, eq));
        if (eq == std::string_view::npos) {
            if (!entry(name, std::optional<std::string_view>())) {
                return;
            }
        } else if (!entry(name,
                          std::optional<std::string_view>(TrimProfileSpace(line.substr(eq + 1))))) {
            return;
        }
    }
}

} // namespace

std::optional<std::string> ProfileSection::value(const std::string& key) const {
    const std::string_view wanted = TrimProfileSpace(key);
    if (wanted.empty()) {
        return std::nullopt;
    }
    const auto it = entries_.find(UpperName(wanted));
    return it == entries_.end() ? std::nullopt : it->second;
}

ProfileSection ReadProfileSection(const std::string& section, const std::string& fileName,
                                  std::size_t bufferUnits) {
    ProfileSection out;
    const std::string_view wantedSection = TrimProfileSpace(section);
    std::string text;
    if (bufferUnits == 0 || wantedSection.empty() || !ReadProfileText(fileName, text)) {
        return out;
    }
    ForEachEntry(text, UpperName(wantedSection),
                 [&](std::string_view name, std::optional<std::string_view> value) {
                     if (!name.empty()) {
                         out.entries_.emplace(
                             UpperName(name),
                             value ? std::optional<std::string>(CopyEntry(*value, bufferUnits))
                                   : std::nullopt);
                     }
                     return true;
                 });
    return out;
}

std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& def, const std::string& fileName,
                                    std::size_t bufferUnits) {
    if (bufferUnits == 0) {
        return {};
    }
    const std::string_view wantedKey = TrimProfileSpace(key);
    if (wantedKey.empty()) {
        return {}; // an empty key name copies nothing, not even the default
    }
    std::string_view defaultText = def;
    while (!defaultText.empty() && defaultText.back() == ' ') {
        defaultText.remove_suffix(1); // the service drops trailing blanks of the default
    }
    const std::string_view wantedSection = TrimProfileSpace(section);
    std::string text;
    if (wantedSection.empty() || !ReadProfileText(fileName, text)) {
        return CopyEntry(defaultText, bufferUnits);
    }
    // The first line of the key decides; one without "=" gives the default.
    const std::string keyUpper = UpperName(wantedKey);
    std::optional<std::string_view> value;
    ForEachEntry(text, UpperName(wantedSection),
                 [&](std::string_view name, std::optional<std::string_view> entry) {
                     if (!NameMatches(name, keyUpper)) {
                         return true;
                     }
                     value = entry;
                     return false;
                 });
    return CopyEntry(value ? *value : defaultText, bufferUnits);
}

} // namespace halyard::platform
