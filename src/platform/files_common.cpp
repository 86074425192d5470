#include "platform/files.h"

#include <cctype>

namespace halyard::platform {

bool IsPathDelimiter(char c) {
#ifdef _WIN32
    return c == '\\' || c == '/';
#else
    return c == '/';
#endif
}

std::vector<std::string> SplitRelativePath(std::string_view relative, std::string_view delimiters) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= relative.size()) {
        std::size_t end = relative.find_first_of(delimiters, start);
        if (end == std::string_view::npos) {
            end = relative.size();
        }
        const std::string_view part = relative.substr(start, end - start);
        if (!part.empty() && part != ".") {
            parts.emplace_back(part);
        }
        start = end + 1;
    }
    return parts;
}

std::string IncludeTrailingPathDelimiter(const std::string& path) {
    if (!path.empty() && IsPathDelimiter(path.back())) {
        return path;
    }
    return path + kPathDelim;
}

std::string ExtractFileName(const std::string& path) {
    std::size_t i = path.size();
    while (i > 0 && !IsPathDelimiter(path[i - 1]) && !(kPathDelim == '\\' && path[i - 1] == ':')) {
        --i;
    }
    return path.substr(i);
}

std::string ExtractFileDir(const std::string& path) {
    std::size_t i = path.size();
    while (i > 0 && !IsPathDelimiter(path[i - 1])) {
        --i;
    }
    if (i > 1) {
        --i; // drop the delimiter, but keep a lone root
    }
    return path.substr(0, i);
}

std::string ExtractFileExt(const std::string& path) {
    const std::string name = ExtractFileName(path);
    const auto dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

namespace {
char Fold(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

} // namespace

bool MatchesMask(std::string_view s, std::string_view m) {
    // Iterative wildcard match with one backtracking point: linear in practice.
    std::size_t si = 0, mi = 0, star = std::string_view::npos, mark = 0;
    while (si < s.size()) {
        if (mi < m.size() && (m[mi] == '?' || Fold(m[mi]) == Fold(s[si]))) {
            ++si;
            ++mi;
        } else if (mi < m.size() && m[mi] == '*') {
            star = mi++;
            mark = si;
        } else if (star != std::string_view::npos) {
            mi = star + 1;
            si = ++mark;
        } else {
            return false;
        }
    }
    while (mi < m.size() && m[mi] == '*') {
        ++mi;
    }
    return mi == m.size();
}

} // namespace halyard::platform
