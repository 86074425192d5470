#include "external/sevenzip/sevenzip_path.h"

#include "base/hex.h"
#include "base/unicode.h"
#include "platform/locale.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

namespace halyard {

namespace {

ArchiveItemPathCheck Refuse(std::string reason) {
    ArchiveItemPathCheck check;
    check.reason = std::move(reason);
    return check;
}

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

// Windows drops trailing dots and blanks from a name, so "..", ". ." and "... " all climb.
bool IsDotsAndBlanks(std::string_view part) {
    for (char c : part) {
        if (c != '.' && c != ' ') {
            return false;
        }
    }
    return true;
}

// The characters Windows allows in no name (besides the separators and the colon, which have
// reasons of their own): a '"' would also end a quoted argument on a command line.
bool IsForbiddenCharacter(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 || c == '"' || c == '*' || c == '?' || c == '<' || c == '>' || c == '|';
}

// The device names Windows keeps in every folder ("Naming Files, Paths, and Namespaces"): the
// name before the first dot, trailing blanks dropped, in any case. "aux.sys" opens the device.
bool IsDeviceName(std::string_view part) {
    std::string_view stem = part.substr(0, part.find('.'));
    while (!stem.empty() && stem.back() == ' ') {
        stem.remove_suffix(1);
    }
    std::string upper;
    for (char c : stem) {
        upper.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
    }
    if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL" || upper == "CONIN$" ||
        upper == "CONOUT$") {
        return true;
    }
    if (!upper.starts_with("COM") && !upper.starts_with("LPT")) {
        return false;
    }
    const std::string_view digit = std::string_view(upper).substr(3);
    // A digit, or a superscript one, two or three (UTF-8 of U+00B9, U+00B2, U+00B3).
    return (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') || digit == "\xC2\xB9" ||
           digit == "\xC2\xB2" || digit == "\xC2\xB3";
}

// The name Windows gives a checked relative path, in a form that compares as Windows compares
// names: each part without its trailing dots and blanks, upper-cased per UTF-16 unit, parts
// joined by the zero unit (which no part holds and which sorts before every other unit, so a
// folder's descendants follow it directly in sorted order).
std::u16string WindowsNameKey(std::string_view relative) {
    std::u16string key;
    std::size_t start = 0;
    while (start <= relative.size()) {
        std::size_t end = relative.find('/', start);
        if (end == std::string_view::npos) {
            end = relative.size();
        }
        std::string_view part = relative.substr(start, end - start);
        while (!part.empty() && (part.back() == '.' || part.back() == ' ')) {
            part.remove_suffix(1);
        }
        if (start != 0) {
            key.push_back(u'\0');
        }
        key += Utf8ToUtf16(platform::UpperCase(part));
        start = end + 1;
    }
    return key;
}

struct KeyedItem {
    std::u16string key;
    std::size_t index;
    bool folder;
};

// A clash found while scanning: the two items, the later one first.
struct Clash {
    std::size_t later;
    std::size_t earlier;
    bool fileAndFolder;
};

void NoteClash(std::optional<Clash>& best, std::size_t a, std::size_t b, bool fileAndFolder) {
    const Clash clash{std::max(a, b), std::min(a, b), fileAndFolder};
    if (!best || clash.later < best->later ||
        (clash.later == best->later && clash.earlier < best->earlier)) {
        best = clash;
    }
}

// Is the key a path below the folder key?
bool IsBelow(const std::u16string& key, const std::u16string& folder) {
    return key.size() > folder.size() && key[folder.size()] == u'\0' &&
           key.compare(0, folder.size(), folder) == 0;
}

// The smallest item index over a range of the sorted items (a bottom-up segment tree).
class SmallestIndex {
public:
    explicit SmallestIndex(const std::vector<KeyedItem>& keyed)
        : size_(keyed.size()), tree_(2 * keyed.size()) {
        for (std::size_t i = 0; i < size_; ++i) {
            tree_[size_ + i] = keyed[i].index;
        }
        for (std::size_t i = size_; i-- > 1;) {
            tree_[i] = std::min(tree_[2 * i], tree_[2 * i + 1]);
        }
    }
    // Over [from, to), which is not empty.
    std::size_t over(std::size_t from, std::size_t to) const {
        std::size_t smallest = SIZE_MAX;
        for (from += size_, to += size_; from < to; from /= 2, to /= 2) {
            if (from % 2 == 1) {
                smallest = std::min(smallest, tree_[from++]);
            }
            if (to % 2 == 1) {
                smallest = std::min(smallest, tree_[--to]);
            }
        }
        return smallest;
    }

private:
    std::size_t size_;
    std::vector<std::size_t> tree_;
};

} // namespace

ArchiveItemPathCheck CheckArchiveItemPath(std::string_view path) {
    if (path.empty()) {
        return Refuse("the item has no path");
    }
    if (path.find('\0') != std::string_view::npos) {
        return Refuse("the path holds a zero character");
    }
    if (IsSeparator(path.front())) {
        return Refuse("the path is absolute");
    }
    ArchiveItemPathCheck check;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = start;
        while (end < path.size() && !IsSeparator(path[end])) {
            ++end;
        }
        const std::string_view part = path.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".") {
            continue;
        }
        if (part.find(':') != std::string_view::npos) {
            return Refuse(check.relative.empty() ? "the path names a drive"
                                                 : "a part of the path holds a colon");
        }
        if (IsDotsAndBlanks(part)) {
            return Refuse("the path leaves the target folder");
        }
        if (const auto bad = std::find_if(part.begin(), part.end(), IsForbiddenCharacter);
            bad != part.end()) {
            const auto u = static_cast<unsigned char>(*bad);
            // Appended piece by piece: GCC 12 misreads chained concatenations here (-Wrestrict).
            std::string why = "a part of the path holds ";
            if (u < 0x20) {
                why += "the control character 0x";
                AppendHexDigits(why, u, 2);
            } else {
                why += '\'';
                why += *bad;
                why += '\'';
            }
            why += ", which Windows allows in no name";
            return Refuse(why);
        }
        if (IsDeviceName(part)) {
            std::string why = "\"";
            why.append(part);
            why += "\" is a device name on Windows";
            return Refuse(why);
        }
        if (!check.relative.empty()) {
            check.relative += '/';
        }
        check.relative.append(part);
    }
    if (check.relative.empty()) {
        return Refuse("the path names no file");
    }
    check.ok = true;
    return check;
}

ArchiveItemsCheck CheckArchiveItemPaths(std::span<const ArchiveItemEntry> items) {
    ArchiveItemsCheck result;
    std::vector<KeyedItem> keyed;
    keyed.reserve(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        ArchiveItemPathCheck check = CheckArchiveItemPath(items[i].path);
        if (!check.ok) {
            if (items[i].folder) {
                continue;
            }
            result.ok = false;
            result.item = i;
            result.reason = std::move(check.reason);
            break; // no later clash can be refused before this item
        }
        keyed.push_back(KeyedItem{WindowsNameKey(check.relative), i, items[i].folder});
    }
    std::sort(keyed.begin(), keyed.end(), [](const KeyedItem& a, const KeyedItem& b) {
        const int order = a.key.compare(b.key);
        return order != 0 ? order < 0 : a.index < b.index;
    });

    // Equal names come together, and a name's descendants directly after it (before the name
    // followed by the unit 1).
    const SmallestIndex smallest(keyed);
    std::optional<Clash> best;
    for (std::size_t run = 0; run < keyed.size();) {
        std::size_t next = run + 1;
        std::optional<std::size_t> firstFile;
        if (!keyed[run].folder) {
            firstFile = keyed[run].index;
        }
        for (; next < keyed.size() && keyed[next].key == keyed[run].key; ++next) {
            if (!keyed[next].folder && !firstFile) {
                firstFile = keyed[next].index;
            }
        }
        if (firstFile && next - run > 1) {
            // Indices ascend within a run: the first two items clash, or the first file with
            // the first item.
            const KeyedItem& other = *firstFile == keyed[run].index ? keyed[run + 1] : keyed[run];
            NoteClash(best, *firstFile, other.index, other.folder);
        }
        if (firstFile && next < keyed.size() && IsBelow(keyed[next].key, keyed[run].key)) {
            const std::u16string bound = keyed[run].key + u'\1';
            const auto end = std::lower_bound(
                keyed.begin() + static_cast<std::ptrdiff_t>(next), keyed.end(), bound,
                [](const KeyedItem& item, const std::u16string& key) { return item.key < key; });
            const auto last = static_cast<std::size_t>(end - keyed.begin());
            NoteClash(best, *firstFile, smallest.over(next, last), true);
        }
        run = next;
    }
    if (best && (result.ok || best->later < result.item)) {
        result.ok = false;
        result.item = best->later;
        const std::string& other = items[best->earlier].path;
        result.reason = best->fileAndFolder
                            ? "it and item \"" + other +
                                  "\" would make one path both a file and a folder on Windows"
                            : "it is the same file on Windows as item \"" + other + "\"";
    }
    return result;
}

} // namespace halyard
