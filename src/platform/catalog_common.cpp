#include "base/unicode.h"
#include "platform/catalog.h"

namespace halyard::platform {

std::string CatAttribute::valueText() const {
    return Utf16LeBytesToUtf8(value, true);
}

} // namespace halyard::platform
