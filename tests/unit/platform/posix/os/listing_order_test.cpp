// The NTFS listing order is defined on UTF-16 units, and UTF-8 bytes order differently above
// the BMP: U+1F600 is F0 9F 98 80 in UTF-8 (after U+FF21, EF BC A1) but D83D DE00 in UTF-16,
// before FF21. The first catalog a listing yields must be the one Windows would pick.
#include "platform/files.h"
#include "testkit.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace halyard {
namespace {

TEST(ListingOrder, NamesOutsideTheBmpSortByTheirSurrogates) {
    // In UTF-16 order: U+00E9, U+1F600 (D83D), U+FF21 (fullwidth A), U+FF41 (fullwidth a,
    // upper-cased to FF21; byte order breaks the tie).
    const std::vector<std::string> order = {"\xC3\xA9.cat", "\xF0\x9F\x98\x80.cat",
                                            "\xEF\xBC\xA1.cat", "\xEF\xBD\x81.cat"};
    for (const bool reversed : {false, true}) {
        test::TempDir dir;
        std::vector<std::string> names = order;
        if (reversed) {
            std::reverse(names.begin(), names.end());
        }
        for (const auto& name : names) {
            test::WriteFile(dir / name, name);
        }
        test::WriteFile(dir / "\xF0\x9F\x98\x81.d/inner.cat", "");
        const std::string root = platform::IncludeTrailingPathDelimiter(dir.path());
        std::vector<std::string> expected;
        for (const auto& name : order) {
            expected.push_back(root + name);
        }
        EXPECT_EQ(platform::ListFiles(dir.path(), "*.cat"), expected);
        // U+1F601 (D83D DE01) comes after U+1F600 and before U+FF21.
        expected.insert(expected.begin() + 2, root + "\xF0\x9F\x98\x81.d/inner.cat");
        EXPECT_EQ(platform::ListFilesRecursive(dir.path()), expected);
    }
}

} // namespace
} // namespace halyard
