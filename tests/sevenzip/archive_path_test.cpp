#include "support/sevenzip_path.h"

#include <gtest/gtest.h>

namespace halyard {
namespace {

TEST(ArchiveItemPath, AcceptsRelativePathsAndNormalisesSeparators) {
    const struct {
        const char* stored;
        const char* relative;
    } cases[] = {
        {"a.txt", "a.txt"},
        {"sub/deep/c.bin", "sub/deep/c.bin"},
        {"sub\\deep\\c.bin", "sub/deep/c.bin"},
        {"./sub//x.sys", "sub/x.sys"},
        {"sub/.hidden", "sub/.hidden"},
        {"a..b/..c", "a..b/..c"},
        {"dir/file.", "dir/file."},
    };
    for (const auto& c : cases) {
        const ArchiveItemPathCheck check = CheckArchiveItemPath(c.stored);
        EXPECT_TRUE(check.ok) << c.stored << ": " << check.reason;
        EXPECT_EQ(check.relative, c.relative) << c.stored;
    }
}

TEST(ArchiveItemPath, RefusesPathsThatLeaveTheFolder) {
    for (const char* stored :
         {"../evil.txt", "..\\evil.txt", "sub/../../evil.txt", "sub\\..\\..\\evil.txt", "a/../b",
          "/etc/passwd", "\\evil.txt", "\\\\server\\share\\x", "C:\\Windows\\x.sys", "C:x.sys",
          "sub/.. /x", "sub/.../x", "..", "", ".", "./", "a/b:stream"}) {
        const ArchiveItemPathCheck check = CheckArchiveItemPath(stored);
        EXPECT_FALSE(check.ok) << '"' << stored << "\" accepted as " << check.relative;
        EXPECT_FALSE(check.reason.empty()) << stored;
    }
    const std::string withZero("a\0/../../x", 10);
    EXPECT_FALSE(CheckArchiveItemPath(withZero).ok);
}

} // namespace
} // namespace halyard
