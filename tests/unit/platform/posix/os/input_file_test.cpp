// The one capped whole-file reader: whole content, the cap, the codes of refused inputs, and a
// file that grows while it is read.
#include "base/outcome.h"
#include "os/input_file.h"
#include "platform/filestream.h"
#include "testkit.h"

#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace halyard::platform {
namespace {

TEST(ReadInputFile, WholeContentWithinTheCapAndTheCodesOfRefusals) {
    test::TempDir dir;
    const std::string path = dir / "big.cat";
    std::vector<std::uint8_t> content(100000);
    for (std::size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    }
    test::WriteFile(path, content);

    const auto whole = ReadInputFile(path, content.size());
    ASSERT_TRUE(whole.ok()) << whole.error();
    EXPECT_EQ(*whole, content);
    EXPECT_EQ(ReadInputFile(path, content.size() - 1).error(), codes::kFileTooLarge);
    EXPECT_EQ(ReadInputFile(dir.path(), kNoSizeCap).error(), codes::kAccessDenied);
    EXPECT_EQ(ReadInputFile(dir / "missing", kNoSizeCap).error(), codes::kFileNotFound);
    test::WriteFile(dir / "empty", std::string());
    const auto empty = ReadInputFile(dir / "empty", 0);
    ASSERT_TRUE(empty.ok());
    EXPECT_TRUE(empty->empty());
}

// A file that had 10 bytes when it was opened and has grown to `now` bytes.
struct GrowingFile {
    std::size_t now;
    long operator()(std::uint64_t offset, void* buffer, std::size_t size) const {
        if (offset >= now) {
            return 0;
        }
        const std::size_t n = std::min<std::size_t>(size, now - static_cast<std::size_t>(offset));
        std::memset(buffer, 'x', n);
        return static_cast<long>(n);
    }
};

TEST(ReadAllWithinCap, AFileThatGrowsIsReadOnButNeverPastTheCap) {
    std::vector<std::uint8_t> out;
    EXPECT_EQ(ReadAllWithinCap(10, 100, GrowingFile{70}, out), codes::kSuccess);
    EXPECT_EQ(out.size(), 70u);
    EXPECT_EQ(ReadAllWithinCap(10, 100, GrowingFile{100}, out), codes::kSuccess);
    EXPECT_EQ(out.size(), 100u);
    EXPECT_EQ(ReadAllWithinCap(10, 100, GrowingFile{101}, out), codes::kFileTooLarge);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(ReadAllWithinCap(10, 100, GrowingFile{4}, out), codes::kSuccess); // it shrank
    EXPECT_EQ(out.size(), 4u);
}

} // namespace
} // namespace halyard::platform
