// The in-memory stream the header check hands to the library: the library asks it for any seek,
// so a seek that would leave the bytes' range, or overflow on its way, must be refused, not done.
#include "external/sevenzip/sevenzip_stream.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <limits>

namespace halyard {
namespace {

using sevenzip::kInvalidArg;
using sevenzip::kOk;

TEST(SevenZipMemoryInStream, SeeksWithinRangeAndRefusesTheExtremes) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    const auto stream = sevenzip::MakeComObject<SevenZipMemoryInStream>(
        std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7, 8});
    std::uint64_t pos = 99;

    EXPECT_EQ(stream->Seek(-3, 2, &pos), kOk); // from the end
    EXPECT_EQ(pos, 5U);
    EXPECT_EQ(stream->Seek(-5, 1, &pos), kOk); // back to the start, from here
    EXPECT_EQ(pos, 0U);
    EXPECT_EQ(stream->Seek(-1, 1, &pos), kInvalidArg);
    EXPECT_EQ(stream->Seek(kMin, 2, &pos), kInvalidArg);
    EXPECT_EQ(stream->Seek(kMax, 2, &pos), kInvalidArg); // would overflow past the end
    EXPECT_EQ(stream->Seek(0, 3, &pos), kInvalidArg);    // no such origin
    EXPECT_EQ(pos, 0U);                                  // a refused seek moves nothing

    // Past the end is a position like any other; reading there gives nothing.
    EXPECT_EQ(stream->Seek(kMax, 0, &pos), kOk);
    EXPECT_EQ(pos, static_cast<std::uint64_t>(kMax));
    std::uint8_t byte = 0;
    std::uint32_t read = 7;
    EXPECT_EQ(stream->Read(&byte, 1, &read), kOk);
    EXPECT_EQ(read, 0U);
}

} // namespace
} // namespace halyard
