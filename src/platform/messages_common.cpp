#include "platform/messages.h"

namespace halyard::platform {

std::string SysErrorMessage(std::uint32_t code) {
    std::string text = SystemMessageText(code);
    while (!text.empty()) {
        const auto c = static_cast<unsigned char>(text.back());
        if (c <= 0x20 || c == '.') {
            text.pop_back();
        } else {
            break;
        }
    }
    return text;
}

} // namespace halyard::platform
