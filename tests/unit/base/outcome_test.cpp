// Outcome: a failure is made only by failure(), never by a number that happens to convert.
#include "base/outcome.h"

#include <gtest/gtest.h>
#include <string>
#include <type_traits>

namespace halyard::platform {
namespace {

// A returned code must not turn into a success: these conversions do not compile.
static_assert(!std::is_convertible_v<std::uint32_t, Outcome<std::uint32_t>>);
static_assert(!std::is_convertible_v<std::uint32_t, Outcome<bool>>);
static_assert(!std::is_convertible_v<int, Outcome<bool>>);
// Values of other types still return as they are.
static_assert(std::is_convertible_v<std::string, Outcome<std::string>>);

TEST(Outcome, FailureKeepsItsCodeEvenZeroAndSuccessItsValue) {
    const auto failed = Outcome<std::uint32_t>::failure(codes::kFileNotFound);
    EXPECT_FALSE(failed);
    EXPECT_EQ(failed.error(), codes::kFileNotFound);
    // A failure without a code (the platform left none) is still a failure.
    EXPECT_FALSE(Outcome<bool>::failure(0).ok());

    const Outcome<std::uint32_t> size(0);
    ASSERT_TRUE(size);
    EXPECT_EQ(*size, 0u);
    EXPECT_EQ(size.error(), 0u);
    const Outcome<bool> no(false);
    ASSERT_TRUE(no.ok());
    EXPECT_FALSE(*no);
}

} // namespace
} // namespace halyard::platform
