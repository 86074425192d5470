#include "support/sevenzip_path.h"

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

} // namespace halyard
