// The driver signing policy's signers: the one list both the Setup API and the pair check read.
#pragma once

#include <string_view>

namespace halyard::platform {

// Is the name (a catalog signer's simple display name) one the driver signing policy accepts?
inline bool IsDriverPolicySigner(std::string_view name) {
    return name == "Microsoft Windows Hardware Compatibility Publisher" ||
           name == "Microsoft Windows";
}

} // namespace halyard::platform
