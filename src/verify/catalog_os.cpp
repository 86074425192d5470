#include "verify/catalog_os.h"

#include "base/unicode.h"
#include "platform/catalog.h"
#include "platform/files.h"
#include "platform/locale.h"
#include "report/diagnostics.h"
#include "report/output.h"
#include "verify/checks.h"

namespace halyard {

std::string NormaliseAttributeName(const std::string& name) {
    std::string compact;
    for (char c : name) {
        if (c != ' ') {
            compact += c;
        }
    }
    return platform::UpperCase(compact);
}

std::string ParseCatFile(const std::string& catFile) {
    std::string result;
    const auto store = platform::CryptCATOpen(catFile, 0);
    if (!store) {
        CollectError("ParseCatFile", "CryptCATOpen fail", catFile, store.error());
        WriteLine("wrong:CryptCATOpen fail");
        return result;
    }
    const platform::CatalogStore& cat = **store;

    std::string osAttr;
    for (const auto& attr : cat.catalogAttributes) {
        const std::string name = NormaliseAttributeName(attr.referenceTag);
        if (name == "OS") {
            result = Trim(attr.valueText());
            break;
        }
        if (name == "OSATTR") {
            osAttr = Trim(attr.valueText());
        }
    }
    if (result.empty()) {
        result = osAttr;
    }
    if (result.empty()) {
        for (const auto& member : cat.members) {
            for (const auto& attr : member.attributes) {
                if (NormaliseAttributeName(attr.referenceTag) == "OSATTR") {
                    result = Trim(attr.valueText());
                    break;
                }
            }
            if (!result.empty()) {
                break;
            }
        }
    }
    if (result.empty()) {
        // The verdict is a bare "fail"; this line tells it from an unreadable catalog.
        CollectError("ParseCatFile", "No OS attribute", catFile, codes::kNoCode);
    }
    return result;
}

std::string GetOsFromCat(const std::string& catPath) {
    if (!EndsWithIgnoreCase(catPath, ".cat")) {
        WriteLine("wrong:Cat name: " + catPath);
        return {};
    }
    if (!platform::FileExists(catPath)) {
        WriteLine("wrong:Cat not found: " + catPath);
        return {};
    }
    return ParseCatFile(catPath);
}

} // namespace halyard
