#include "base/unicode.h"
#include "platform/catalog.h"

namespace halyard::platform {

std::string CatAttribute::valueText() const {
    return Utf16LeBytesToUtf8(value, true);
}

const CatMember* FindCatalogMember(const CatalogStore& store, std::string_view tag) {
    const CatMember* caseless = nullptr;
    for (const CatMember& member : store.members) {
        if (member.referenceTag == tag) {
            return &member;
        }
        if (caseless == nullptr && EqualsIgnoreCase(member.referenceTag, tag)) {
            caseless = &member;
        }
    }
    return caseless;
}

} // namespace halyard::platform
