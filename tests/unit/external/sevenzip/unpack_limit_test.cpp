// The unpacking bound is inclusive: a budget of N bytes takes an archive of exactly N bytes,
// announced or written, and refuses one byte more.
#include "base/errors.h"
#include "external/sevenzip/sevenzip_budget.h"
#include "platform/files.h"
#include "testkit.h"

#include <gtest/gtest.h>

namespace halyard {
namespace {

constexpr std::uint64_t kLimit = 3u << 20;

TEST(UnpackLimit, ExactlyTheLimitPassesAndOneByteMoreDoesNot) {
    test::TempDir dir;
    const auto folder = platform::Folder::OpenOrCreate(dir / "work");
    {
        SevenZipUnpackBudget budget(*folder, kLimit, 0);
        EXPECT_NO_THROW(budget.Announce(kLimit));
        budget.StartItem("a.bin");
        EXPECT_NO_THROW(budget.Charge(kLimit - 1));
        EXPECT_NO_THROW(budget.Charge(1));
        EXPECT_THROW(budget.Charge(1), ESevenZipException);
    }
    {
        SevenZipUnpackBudget budget(*folder, kLimit, 0);
        EXPECT_THROW(budget.Announce(kLimit + 1), ESevenZipException);
    }
    {
        // One write of the whole budget, then nothing more.
        SevenZipUnpackBudget budget(*folder, kLimit, 0);
        budget.StartItem("b.bin");
        EXPECT_NO_THROW(budget.Charge(kLimit));
        EXPECT_THROW(budget.Charge(1), ESevenZipException);
    }
    {
        SevenZipUnpackBudget budget(*folder, kLimit, 0);
        budget.StartItem("c.bin");
        EXPECT_THROW(budget.Charge(kLimit + 1), ESevenZipException);
    }
}

} // namespace
} // namespace halyard
