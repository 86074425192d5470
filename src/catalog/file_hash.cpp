#include "catalog/file_hash.h"

#include "base/errors.h"
#include "base/hex.h"
#include "base/unicode.h"
#include "platform/filestream.h"
#include "platform/hash.h"
#include "platform/locale.h"

#include <algorithm>

namespace halyard {

std::string BytesToHex(const std::uint8_t* bytes, std::ptrdiff_t len) {
    if (len <= 0) {
        return {};
    }
    return HexUpper(std::span<const std::uint8_t>(bytes, static_cast<std::size_t>(len)));
}

std::string BytesToHex(const std::vector<std::uint8_t>& bytes) {
    return BytesToHex(bytes.data(), static_cast<std::ptrdiff_t>(bytes.size()));
}

std::string GenerateHash(std::vector<std::string>& list) {
    std::vector<std::string> work = list;
    std::stable_sort(work.begin(), work.end(), [](const std::string& a, const std::string& b) {
        return platform::CompareTextEnUs(a, b) < 0;
    });
    std::string text;
    for (const auto& item : work) {
        text += item;
        text += "\r\n";
    }
    // The list takes the joined text back, split at its line breaks.
    list.clear();
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find_first_of("\r\n", start);
        list.push_back(text.substr(start, end - start));
        start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    const std::string trimmed = Trim(text);
    const auto digest =
        platform::DigestOf(platform::DigestAlgorithm::Sha1,
                           {reinterpret_cast<const std::uint8_t*>(trimmed.data()), trimmed.size()});
    return BytesToHex(digest);
}

std::string TryGetFileHash(const std::string& path) {
    platform::FileReader file(path); // throws EFOpenError
    platform::Digest digest(platform::DigestAlgorithm::Sha1);
    std::vector<std::uint8_t> buf(1 << 16);
    for (;;) {
        const std::size_t n = file.read(buf.data(), buf.size());
        if (n == 0) {
            break;
        }
        digest.update(buf.data(), n);
    }
    return BytesToHex(digest.finish());
}

} // namespace halyard
