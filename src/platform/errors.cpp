#include "platform/errors.h"

#include "platform/messages.h"

namespace halyard {

void ThrowFOpenError(const std::string& path, std::uint32_t code) {
    throw EFOpenError("Cannot open file \"" + path + "\". " + platform::SysErrorMessage(code));
}

} // namespace halyard
