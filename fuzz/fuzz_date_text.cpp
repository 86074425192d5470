// The date text reader and writers.
#include "base/date_text.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace halyard;
    const std::string text(reinterpret_cast<const char*>(data), size);
    for (const bool yearFirst : {false, true}) {
        const TDateTime value = ConvertStringToDateTime(text, yearFirst);
        const std::string written = ConvertDateToString(value, yearFirst);
        // A date read back from its own text is the same day.
        if (!written.empty() && value >= 0 &&
            static_cast<std::int64_t>(ConvertStringToDateTime(written, yearFirst)) !=
                static_cast<std::int64_t>(value)) {
            __builtin_trap();
        }
        DateTimeToRegionalText(value);
    }
    if (size >= sizeof(double)) {
        double raw = 0;
        std::memcpy(&raw, data, sizeof raw);
        ConvertDateToString(raw, false);
        DateTimeToRegionalText(raw);
    }
    return 0;
}
