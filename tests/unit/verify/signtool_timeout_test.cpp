// SignTool's time limit: HALYARD_SIGNTOOL_TIMEOUT when it is a whole number of seconds in range,
// the default for anything else (a typo must not turn the limit off or make it zero).
#include "verify/signtool_checks.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace halyard {
namespace {

// An empty value removes the variable on Windows, which leaves the default too.
void SetTimeout(const char* value) {
#ifdef _WIN32
    _putenv_s("HALYARD_SIGNTOOL_TIMEOUT", value);
#else
    setenv("HALYARD_SIGNTOOL_TIMEOUT", value, 1);
#endif
}

void ClearTimeout() {
#ifdef _WIN32
    _putenv_s("HALYARD_SIGNTOOL_TIMEOUT", "");
#else
    unsetenv("HALYARD_SIGNTOOL_TIMEOUT");
#endif
}

TEST(SigntoolTimeout, TakenFromTheEnvironmentOnlyWhenItIsAWholeNumberInRange) {
    ClearTimeout();
    EXPECT_EQ(SigntoolTimeoutSeconds(), kSigntoolTimeoutSeconds);
    const std::pair<const char*, int> cases[] = {
        {"1", 1},
        {"90", 90},
        {"86400", 86400},
        {"0", kSigntoolTimeoutSeconds},
        {"-5", kSigntoolTimeoutSeconds},
        {"86401", kSigntoolTimeoutSeconds},
        {"", kSigntoolTimeoutSeconds},
        {"10s", kSigntoolTimeoutSeconds},
        {" 10", kSigntoolTimeoutSeconds},
        {"1.5", kSigntoolTimeoutSeconds},
        {"99999999999", kSigntoolTimeoutSeconds},
    };
    for (const auto& [text, seconds] : cases) {
        SetTimeout(text);
        EXPECT_EQ(SigntoolTimeoutSeconds(), seconds) << '"' << text << '"';
    }
    ClearTimeout();
}

} // namespace
} // namespace halyard
