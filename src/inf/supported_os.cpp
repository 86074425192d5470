#include "inf/supported_os.h"

#include "base/unicode.h"
#include "inf/ini_files.h"
#include "platform/files.h"
#include "platform/locale.h"
#include "report/diagnostics.h"

#include <algorithm>
#include <span>
#include <string_view>

namespace halyard {

namespace {

constexpr const char* kFunc = "PrepareSupportedOS";

bool Holds(const std::vector<std::string>& list, std::string_view code) {
    return std::any_of(list.begin(), list.end(),
                       [code](const std::string& item) { return EqualsIgnoreCase(item, code); });
}

void AppendOnce(std::vector<std::string>& list, const char* code) {
    if (!Holds(list, code)) {
        list.emplace_back(code);
    }
}

std::string ReadDeclaration(const std::string& workDir) {
    // The work folder text is used as given; a trailing separator only doubles one, which the
    // file system ignores.
    const std::string candidates[] = {
        workDir + platform::kPathDelim + "InternalLogsDoNotCopyToProduction" +
            platform::kPathDelim + "cat_file.ini",
        workDir + platform::kPathDelim + "cat_file.ini",
    };
    for (const std::string& path : candidates) {
        if (!platform::FileExists(path)) {
            continue;
        }
        TMemIniFile ini(path, Encoding::Utf8);
        std::string oss = ini.ReadString("General", "OS", "");
        if (oss.empty()) {
            oss = ini.ReadString("General", "OSAttr", "");
        }
        if (oss.empty()) {
            oss = ini.ReadString("0", "OSAttr", "");
        }
        return oss;
    }
    return {};
}

void MapAttributeEntry(const std::string& entry, std::vector<std::string>& list) {
    struct Row {
        const char* entry;
        const char* codes[2];
    };
    static constexpr Row kRows[] = {
        {"2:5.1", {"5_32", nullptr}}, {"2:5.2", {"5_64", nullptr}}, {"2:6.0", {"6_32", "6_64"}},
        {"2:6.1", {"7_32", "7_64"}},  {"2:6.2", {"8_32", "8_64"}},  {"2:6.3", {"81_32", "81_64"}},
    };
    for (const Row& row : kRows) {
        if (entry == row.entry) {
            for (const char* code : row.codes) {
                if (code != nullptr) {
                    list.emplace_back(code);
                }
            }
            return;
        }
    }
}

void MapNameEntry(const std::string& entry, std::vector<std::string>& list) {
    struct Row {
        const char* entry;
        const char* code;
    };
    static constexpr Row kRows[] = {
        {"XPX86", "5_32"},       {"XPX64", "5_64"},
        {"VISTAX86", "6_32"},    {"VISTAX64", "6_64"},
        {"7X86", "7_32"},        {"7X64", "7_64"},
        {"8X86", "8_32"},        {"8X64", "8_64"},
        {"_V63", "81_32"},       {"_V63_X64", "81_64"},
        {"_V100_RS1", "101_32"}, {"_V100_X64_RS1", "101_64"},
        {"_V100_RS2", "102_32"}, {"_V100_X64_RS2", "102_64"},
        {"_V100_RS3", "103_32"}, {"_V100_X64_RS3", "103_64"},
        {"_V100_RS4", "104_32"}, {"_V100_X64_RS4", "104_64"},
    };
    bool matched = false;
    if (entry == "_V100" || entry == "10X86") {
        AppendOnce(list, "10_32");
        matched = true;
    } else if (entry == "_V100_X64" || entry == "10X64") {
        AppendOnce(list, "10_64");
        matched = true;
    } else {
        for (const Row& row : kRows) {
            if (entry == row.entry) {
                list.emplace_back(row.code);
                matched = true;
                break;
            }
        }
    }
    if (!matched && entry != "2000" && entry.find("SERVER") == std::string::npos) {
        XLog::Error(kFunc, "Unknown OS", entry);
    }
    // A feature update brings its base release with it, known or not.
    if (entry.starts_with("_V100_X64_RS")) {
        AppendOnce(list, "10_64");
    } else if (entry.starts_with("_V100_RS")) {
        AppendOnce(list, "10_32");
    }
}

void Widen(std::span<const char* const> family, std::span<const char* const> oldCodes,
           bool extendAll, std::vector<std::string>& list) {
    for (std::size_t i = family.size(); i-- > 0;) {
        const char* code = family[i];
        const bool old = std::any_of(oldCodes.begin(), oldCodes.end(),
                                     [code](const char* o) { return std::string_view(o) == code; });
        if ((!extendAll && old) || !Holds(list, code)) {
            continue;
        }
        for (std::size_t j = i; j-- > 0;) {
            AppendOnce(list, family[j]);
        }
    }
}

} // namespace

TStringArray PrepareSupportedOS(const std::string& oss, const std::string& workDir, bool extend,
                                bool extendAll) {
    if (!platform::DirectoryExists(workDir)) {
        XLog::Error(kFunc, "WorkDir not exist", workDir);
        return {};
    }
    std::string declaration = oss.empty() ? ReadDeclaration(workDir) : oss;
    if (declaration.empty()) {
        XLog::Error(kFunc, "No OS from CAT", workDir);
        return {};
    }
    std::erase(declaration, ' ');
    declaration = platform::UpperCase(declaration);

    std::vector<std::string> entries;
    std::size_t start = 0;
    for (;;) {
        const auto comma = declaration.find(',', start);
        entries.push_back(declaration.substr(start, comma == std::string::npos ? std::string::npos
                                                                               : comma - start));
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }

    std::vector<std::string> list;
    const bool attributeForm = declaration.find(':') != std::string::npos;
    for (const std::string& entry : entries) {
        if (attributeForm) {
            MapAttributeEntry(entry, list);
        } else {
            MapNameEntry(entry, list);
        }
    }
    if (extend) {
        static constexpr const char* kOld32[] = {"4_32", "5_32", "6_32", "7_32"};
        static constexpr const char* kOld64[] = {"4_64", "5_64", "6_64", "7_64"};
        Widen(OsList32, kOld32, extendAll, list);
        Widen(OsList64, kOld64, extendAll, list);
    }
    return list;
}

} // namespace halyard
