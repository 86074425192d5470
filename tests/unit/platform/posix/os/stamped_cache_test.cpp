// The stamped cache over real files: a value is served again only while its file keeps the
// stamp it had, failures are never remembered, kinds and capacity keep entries apart.
#include "base/outcome.h"
#include "platform/stamped_cache.h"
#include "testkit.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>

namespace halyard::platform {
namespace {

TEST(StampedCache, ServesAValueOnlyWhileTheFileKeepsItsStamp) {
    test::TempDir dir;
    const std::string path = dir / "a.cat";
    test::WriteFile(path, "one");
    StampedCache<std::string> cache(4);
    int computed = 0;
    const auto read = [&] {
        ++computed;
        return test::ReadFile(path);
    };
    EXPECT_EQ(cache.get(path, 0, read), "one");
    EXPECT_EQ(cache.get(path, 0, read), "one");
    EXPECT_EQ(computed, 1);

    test::WriteFile(path, "three"); // another size: another stamp
    EXPECT_EQ(cache.get(path, 0, read), "three");
    EXPECT_EQ(computed, 2);

    // A file without a stamp (gone) is computed every time.
    std::filesystem::remove(path);
    const auto missing = [&] {
        ++computed;
        return std::string("none");
    };
    EXPECT_EQ(cache.get(path, 0, missing), "none");
    EXPECT_EQ(cache.get(path, 0, missing), "none");
    EXPECT_EQ(computed, 4);
}

TEST(StampedCache, FailuresAreNotRememberedAndKindsAndCapacityKeepEntriesApart) {
    test::TempDir dir;
    const std::string a = dir / "a";
    const std::string b = dir / "b";
    test::WriteFile(a, "a");
    test::WriteFile(b, "b");
    StampedCache<int, char> cache(2);
    int computed = 0;
    const auto fail = [&] {
        ++computed;
        return Outcome<int>::failure(codes::kAccessDenied);
    };
    EXPECT_EQ(cache.get(a, 'x', fail).error(), codes::kAccessDenied);
    EXPECT_EQ(cache.get(a, 'x', fail).error(), codes::kAccessDenied);
    EXPECT_EQ(computed, 2);

    const auto value = [&](int v) {
        return [&computed, v] {
            ++computed;
            return Outcome<int>(v);
        };
    };
    computed = 0;
    EXPECT_EQ(*cache.get(a, 'x', value(1)), 1);
    EXPECT_EQ(*cache.get(a, 'y', value(2)), 2); // same file, another kind
    EXPECT_EQ(*cache.get(a, 'x', value(9)), 1);
    EXPECT_EQ(computed, 2);
    // Capacity 2: b pushes out the least recently used entry (a, 'y'), not (a, 'x').
    EXPECT_EQ(*cache.get(b, 'x', value(3)), 3);
    EXPECT_EQ(*cache.get(a, 'x', value(9)), 1);
    EXPECT_EQ(*cache.get(a, 'y', value(4)), 4);
    EXPECT_EQ(computed, 4);
}

} // namespace
} // namespace halyard::platform
