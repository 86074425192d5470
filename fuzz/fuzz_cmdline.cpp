// The command-line rule and the argument join on arbitrary text.
#include "cli/front_end.h"
#include "platform/console.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto args = halyard::platform::SplitParamStr(text);
    for (const auto& arg : args) {
        if (arg.empty() || arg.size() > size) {
            __builtin_trap();
        }
    }
    (void)halyard::JoinArguments(args, 1);
    return 0;
}
