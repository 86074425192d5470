#include "external/sevenzip/sevenzip_path.h"

#include <gtest/gtest.h>
#include <optional>
#include <vector>

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

TEST(ArchiveItemPath, RefusesNamesWindowsCannotCreate) {
    const struct {
        const char* stored;
        const char* reason;
    } refused[] = {
        {"aux.sys", "\"aux.sys\" is a device name on Windows"},
        {"x64/CON", "\"CON\" is a device name on Windows"},
        {"Nul.tar.gz", "\"Nul.tar.gz\" is a device name on Windows"},
        {"lpt9/driver.sys", "\"lpt9\" is a device name on Windows"},
        {"sub/com1 .inf", "\"com1 .inf\" is a device name on Windows"},
        {"conin$.log", "\"conin$.log\" is a device name on Windows"},
        {"CONOUT$", "\"CONOUT$\" is a device name on Windows"},
        {"prn.", "\"prn.\" is a device name on Windows"},
        {"COM\xC2\xB9.sys", "\"COM\xC2\xB9.sys\" is a device name on Windows"},
        {"a\"b.sys", "a part of the path holds '\"', which Windows allows in no name"},
        {"x64/*.sys", "a part of the path holds '*', which Windows allows in no name"},
        {"what?.inf", "a part of the path holds '?', which Windows allows in no name"},
        {"a<b/c", "a part of the path holds '<', which Windows allows in no name"},
        {"a>b", "a part of the path holds '>', which Windows allows in no name"},
        {"a|b", "a part of the path holds '|', which Windows allows in no name"},
        {"tab\there", "a part of the path holds the control character 0x09, which Windows allows "
                      "in no name"},
        {"x64/\x1F.sys", "a part of the path holds the control character 0x1F, which Windows "
                         "allows in no name"},
    };
    for (const auto& c : refused) {
        const ArchiveItemPathCheck check = CheckArchiveItemPath(c.stored);
        EXPECT_FALSE(check.ok) << c.stored;
        EXPECT_EQ(check.reason, c.reason) << c.stored;
    }
    // Names that only start like a device, or hold one further on, are plain names.
    for (const char* stored : {"console.sys", "auxiliary/a.sys", "com10.inf", "lpt.sys",
                               "x64/nul_driver.sys", "my.aux", "COM\xC2\xB9x", "con-x/a"}) {
        const ArchiveItemPathCheck check = CheckArchiveItemPath(stored);
        EXPECT_TRUE(check.ok) << stored << ": " << check.reason;
    }
}

// The whole-archive check: which item of a listing is refused (nullopt: none).
std::optional<std::size_t> Refused(const std::vector<ArchiveItemEntry>& items,
                                   std::string* reason = nullptr) {
    const ArchiveItemsCheck check = CheckArchiveItemPaths(items);
    if (reason != nullptr) {
        *reason = check.reason;
    }
    if (check.ok) {
        return std::nullopt;
    }
    EXPECT_FALSE(check.reason.empty());
    return check.item;
}

ArchiveItemEntry File(std::string path) {
    return ArchiveItemEntry{std::move(path), false};
}
ArchiveItemEntry Folder(std::string path) {
    return ArchiveItemEntry{std::move(path), true};
}

TEST(ArchiveItemPaths, ItemsThatAreTheSameFileOnWindowsClash) {
    const std::string replacement = "\xEF\xBF\xBD"; // U+FFFD, what an unpaired surrogate becomes
    const struct {
        const char* first;
        std::string second;
    } cases[] = {
        {"x64/sample.sys", "x64/sample.sys"},
        {"x64/sample.sys", "X64/SAMPLE.SYS"},
        {"x64/sample.sys", "x64\\sample.sys"},
        {"x64/sample.sys", "./x64//sample.sys"},
        {"x64/sample.sys", "x64/sample.sys."},
        {"x64/sample.sys", "x64/sample.sys . "},
        {"x64/sample.sys", "x64./sample.sys"},
        {"x64/sample.sys", "x64 /sample.sys"},
        {"\xC3\xA9t\xC3\xA9.sys", "\xC3\x89T\xC3\x89.SYS"}, // beyond ASCII: Windows upper-cases "é"
        {"a\xEF\xBF\xBD.sys", "a" + replacement + ".sys"},
        {"a\xEF\xBF\xBD.sys", "a\xED\xA0\x80.sys"}, // a surrogate in UTF-8 is no character
    };
    for (const auto& c : cases) {
        std::string reason;
        EXPECT_EQ(Refused({File("driver.inf"), File(c.first), File(c.second)}, &reason),
                  std::optional<std::size_t>(2))
            << c.first << " / " << c.second;
        EXPECT_EQ(reason,
                  std::string("it is the same file on Windows as item \"") + c.first + "\"");
    }
}

TEST(ArchiveItemPaths, AFileMayNotAlsoBeAFolder) {
    const std::string both = "it and item \"";
    std::string reason;
    // A file below a path another item holds as a file, in either order.
    EXPECT_EQ(Refused({File("x64"), File("x64/sample.sys")}, &reason), 1u);
    EXPECT_EQ(reason, both + "x64\" would make one path both a file and a folder on Windows");
    EXPECT_EQ(Refused({File("X64/deep/sample.sys"), File("a.inf"), File("x64.")}, &reason), 2u);
    EXPECT_EQ(reason, both + "X64/deep/sample.sys\" would make one path both a file and a folder "
                             "on Windows");
    EXPECT_EQ(Refused({File("x64/deep/a.sys"), File("x64/DEEP")}), 1u);
    // A folder item of the file's name.
    EXPECT_EQ(Refused({Folder("x64"), File("X64")}), 1u);
    EXPECT_EQ(Refused({File("x64"), Folder("x64")}), 1u);
    // Siblings and names that only start alike are fine.
    EXPECT_EQ(Refused({File("x64/a.sys"), File("x64/a.sys2"), File("x64/a"), File("x64a/b"),
                       File("x64 a/b"), File("x64/a.sy")}),
              std::nullopt);
}

TEST(ArchiveItemPaths, FoldersMayRepeatAndAreNotWrittenThemselves) {
    EXPECT_EQ(Refused({Folder("x64"), Folder("X64"), Folder("x64/"), File("x64/a.sys"),
                       File("X64/b.sys"), Folder("../outside"), Folder("C:")}),
              std::nullopt);
    EXPECT_EQ(Refused({}), std::nullopt);
}

TEST(ArchiveItemPaths, TheEarliestRefusalInArchiveOrderIsReported) {
    // A refused path after a clash: the clash is reported (its later item comes first).
    std::string reason;
    EXPECT_EQ(Refused({File("a"), File("A"), File("../evil")}, &reason), 1u);
    EXPECT_EQ(Refused({File("a"), File("../evil"), File("A")}, &reason), 1u);
    EXPECT_EQ(reason, "the path leaves the target folder");
    // Of several clashes, the one whose later item comes first.
    EXPECT_EQ(Refused({File("b"), File("a"), File("c"), File("A"), File("B")}, &reason), 3u);
    EXPECT_EQ(reason, "it is the same file on Windows as item \"a\"");
    EXPECT_EQ(Refused({File("a/z"), File("q"), File("a"), File("a/b")}, &reason), 2u);
}

} // namespace
} // namespace halyard
