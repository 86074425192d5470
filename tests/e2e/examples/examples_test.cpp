#include "testkit.h"

#include <gtest/gtest.h>

namespace halyard::test {
namespace {

using Lines = std::vector<std::string>;

// The committed examples are what the quick start runs: they must keep passing.
TEST(Examples, SamplePackagePasses) {
    TempDir dir;
    CopyFile(SourceDir() + "examples/sample-package.7z", dir / "sample-package.7z");
    const auto r = RunHalyard({dir / "sample-package.7z"});
    EXPECT_EQ(r.lines, Lines{"success"});
}

TEST(Examples, CatalogAndInfFolder) {
    auto r = RunHalyard({"/cat", SourceDir() + "examples/catalog/sample.cat"});
    EXPECT_EQ(r.lines, Lines{"success:_v100_X64,_v100_X64_RS4"});
    r = RunHalyard({"/verify", SourceDir() + "examples/inf-folder"});
    EXPECT_EQ(r.lines, Lines{"success"});
}

} // namespace
} // namespace halyard::test
