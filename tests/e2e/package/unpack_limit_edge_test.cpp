// HALYARD_MAX_UNPACKED_MB end to end at its edge: a package whose content is exactly the bound
// passes, and the same package one byte larger stops in the unpacking step.
#include "package_builder.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <memory>

namespace halyard::test {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

std::uint64_t ContentBytes(const std::string& dir) {
    std::uint64_t total = 0;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        if (e.is_regular_file()) {
            total += e.file_size();
        }
    }
    return total;
}

// A signed package whose unpacked content totals exactly `total` bytes: a padding member takes
// up what the other files leave. The catalog's size may move by a byte between signings (the
// time stamp's serial), so the padding is adjusted until the total holds.
std::unique_ptr<PackageBuilder> PackageOfExactly(std::uint64_t total, std::string& archive) {
    std::uint64_t pad = total / 2;
    for (int attempt = 0; attempt < 8; ++attempt) {
        auto pkg = std::make_unique<PackageBuilder>();
        pkg->addPe("driver.sys");
        pkg->addFile("x64/pad.bin", std::string(pad, 'p'));
        archive = pkg->pack();
        const std::uint64_t got = ContentBytes(pkg->contentDir());
        if (got == total) {
            return pkg;
        }
        pad = pad + total - got;
    }
    ADD_FAILURE() << "no package of exactly " << total << " bytes";
    return nullptr;
}

TEST(UnpackLimitEdge, APackageOfExactlyTheBoundPassesAndOneByteMoreStops) {
    HALYARD_NEED(!SevenZip().empty(), "7zz");
    constexpr std::uint64_t kBound = 2u << 20;
    const std::vector<std::string> env = {"HALYARD_MAX_UNPACKED_MB=2", BinDir() + "halyard"};

    std::string exact;
    const auto atBound = PackageOfExactly(kBound, exact);
    ASSERT_TRUE(atBound);
    auto args = env;
    args.push_back(exact);
    EXPECT_EQ(test::Run("/usr/bin/env", args).lines, Lines{"success"});

    std::string over;
    const auto overBound = PackageOfExactly(kBound + 1, over);
    ASSERT_TRUE(overBound);
    args = env;
    args.push_back(over);
    EXPECT_EQ(test::Run("/usr/bin/env", args).lines,
              (Lines{"UnZipFile: The archive's content of 3 MiB passes the limit of 2 MiB "
                     "unpacked (HALYARD_MAX_UNPACKED_MB)",
                     "wrong:UnZipFile failed"}));
    // Without the variable the larger one passes too.
    EXPECT_EQ(RunHalyard({over}).lines, Lines{"success"});
}

} // namespace
} // namespace halyard::test
