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
    const auto folder = platform::Folder::openOrCreate(dir / "work");
    {
        SevenZipUnpackBudget budget(*folder, kLimit, 0);
        EXPECT_NO_THROW(budget.announce(kLimit));
        budget.startItem("a.bin");
        EXPECT_NO_THROW(budget.charge(kLimit - 1));
        EXPECT_NO_THROW(budget.charge(1));
        EXPECT_THROW(budget.charge(1), ESevenZipException);
    }
    {
        SevenZipUnpackBudget budget(*folder, kLimit, 0);
        EXPECT_THROW(budget.announce(kLimit + 1), ESevenZipException);
    }
    {
        // One write of the whole budget, then nothing more.
        SevenZipUnpackBudget budget(*folder, kLimit, 0);
        budget.startItem("b.bin");
        EXPECT_NO_THROW(budget.charge(kLimit));
        EXPECT_THROW(budget.charge(1), ESevenZipException);
    }
    {
        SevenZipUnpackBudget budget(*folder, kLimit, 0);
        budget.startItem("c.bin");
        EXPECT_THROW(budget.charge(kLimit + 1), ESevenZipException);
    }
}

} // namespace
} // namespace halyard
