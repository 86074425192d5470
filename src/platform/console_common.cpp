#include "platform/console.h"

#include <string>
#include <string_view>
#include <vector>

namespace halyard::platform {

std::vector<std::string> SplitParamStr(std::string_view text) {
    std::vector<std::string> args;
    std::size_t i = 0;
    const auto blank = [&](std::size_t k) { return static_cast<unsigned char>(text[k]) <= 32; };
    for (;;) {
        // Skip blanks, and pairs of quotation marks that stand alone.
        for (;;) {
            while (i < text.size() && blank(i)) {
                ++i;
            }
            if (i + 1 < text.size() && text[i] == '"' && text[i + 1] == '"') {
                i += 2;
                continue;
            }
            break;
        }
        std::string arg;
        while (i < text.size() && !blank(i)) {
            if (text[i] == '"') {
                ++i;
                while (i < text.size() && text[i] != '"') {
                    arg += text[i++];
                }
                if (i < text.size()) {
                    ++i;
                }
            } else {
                arg += text[i++];
            }
        }
        if (arg.empty()) {
            return args;
        }
        args.push_back(std::move(arg));
    }
}

} // namespace halyard::platform
