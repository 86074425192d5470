#include "windows_headers.h"

#include "testkit.h"

#include <filesystem>
#include <regex>
#include <sstream>

namespace halyard::test {

namespace {

// A definition's value: wrappers and casts dropped, terms ORed; nullopt for anything else.
std::optional<std::uint32_t>
Evaluate(std::string expr, const std::map<std::string, std::string>& definitions, int depth) {
    static const std::regex wrapper(R"((__MSABI_LONG|_HRESULT_TYPEDEF_|_NDIS_ERROR_TYPEDEF_)\()");
    static const std::regex cast(R"(\((HRESULT|DWORD|NTSTATUS|LONG|SCODE|ULONG)\))");
    static const std::regex number(R"((0[xX][0-9A-Fa-f]+|[0-9]+)[uUlL]*)");
    static const std::regex name(R"([A-Za-z_][A-Za-z0-9_]*)");
    expr = std::regex_replace(expr, wrapper, "(");
    expr = std::regex_replace(expr, cast, "");
    std::erase_if(expr, [](char c) { return c == '(' || c == ')' || c == ' ' || c == '\t'; });
    if (expr.empty() || depth > 4) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    std::istringstream terms(expr);
    std::string term;
    while (std::getline(terms, term, '|')) {
        std::smatch m;
        if (std::regex_match(term, m, number)) {
            value |= static_cast<std::uint32_t>(std::stoull(m[1].str(), nullptr, 0));
        } else if (std::regex_match(term, name)) {
            const auto it = definitions.find(term);
            const auto inner = it == definitions.end()
                                   ? std::nullopt
                                   : Evaluate(it->second, definitions, depth + 1);
            if (!inner) {
                return std::nullopt;
            }
            value |= *inner;
        } else {
            return std::nullopt;
        }
    }
    return value;
}

} // namespace

std::string WindowsHeadersDir() {
    return "/usr/share/mingw-w64/include/";
}

std::optional<std::map<std::string, std::uint32_t>> WindowsHeaderCodes() {
    const std::string dir = WindowsHeadersDir();
    if (!std::filesystem::exists(dir + "winerror.h")) {
        return std::nullopt;
    }
    static const std::regex define(R"(\s*#\s*define\s+([A-Za-z_][A-Za-z0-9_]*)\s+([^/\r]*).*)");
    std::map<std::string, std::string> definitions;
    for (const char* header : {"winerror.h", "winnt.h", "setupapi.h"}) {
        if (!std::filesystem::exists(dir + header)) {
            continue;
        }
        std::istringstream in(ReadFile(dir + header));
        std::string line;
        while (std::getline(in, line)) {
            std::smatch m;
            if (std::regex_match(line, m, define)) {
                definitions.try_emplace(m[1].str(), m[2].str());
            }
        }
    }
    std::map<std::string, std::uint32_t> codes;
    for (const auto& [symbol, expr] : definitions) {
        if (const auto value = Evaluate(expr, definitions, 0)) {
            codes.emplace(symbol, *value);
        }
    }
    return codes;
}

} // namespace halyard::test
