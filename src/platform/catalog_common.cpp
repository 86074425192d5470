#include "platform/catalog.h"
#include "platform/unicode.h"

namespace halyard::platform {

std::string CatAttribute::valueText() const {
    return Utf16LeBytesToUtf8(value, true);
}

} // namespace halyard::platform
