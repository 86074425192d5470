// The look at an archive's headers before the library reads them: archives as 7zz makes them
// pass (or are handed on to be unpacked), hand-made headers past a bound are refused by name.
#include "external/sevenzip/sevenzip_header.h"
#include "platform/filestream.h"
#include "report/output.h"
#include "testkit.h"

#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>

namespace halyard {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Verdict = SevenZipHeaderCheck::Verdict;

const char* const k7zz = "/usr/bin/7zz";

SevenZipHeaderCheck CheckFile(const std::string& path) {
    platform::FileReader reader(path);
    return CheckSevenZipStart(reader.size(), [&](std::uint64_t offset, void* data, std::size_t n) {
        return reader.readAt(offset, data, n);
    });
}

void PutLe(Bytes& out, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
}

// An archive with no content and the plain header given (with its CRC in the start header).
std::string WithPlainHeader(const test::TempDir& dir, const Bytes& header,
                            std::uint64_t declaredSize = 0) {
    Bytes start;
    PutLe(start, 0, 8);
    PutLe(start, declaredSize != 0 ? declaredSize : header.size(), 8);
    PutLe(start, SevenZipCrc32(header.data(), header.size()), 4);
    Bytes archive = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C, 0x00, 0x04};
    PutLe(archive, SevenZipCrc32(start.data(), start.size()), 4);
    archive.insert(archive.end(), start.begin(), start.end());
    archive.insert(archive.end(), header.begin(), header.end());
    const std::string path = dir / "hand.7z";
    test::WriteFile(path, std::string(archive.begin(), archive.end()));
    return path;
}

TEST(SevenZipHeaderCheck, ArchivesAs7zzMakesThemAreNotRefused) {
    HALYARD_NEED_PROGRAM(k7zz);
    test::TempDir dir;
    test::WriteFile(dir / "src/driver.inf", "[Version]\r\n");
    test::WriteFile(dir / "src/x64/a.sys", std::string(5000, 'a'));
    test::WriteFile(dir / "src/x64/empty.sys", "");
    fs::create_directories(dir / "src/emptydir");
    const struct {
        const char* name;
        std::vector<std::string> switches;
        Verdict verdict;
    } cases[] = {
        {"plain.7z", {"-mhc=off"}, Verdict::Pass},
        {"encoded.7z", {}, Verdict::Decode},
        {"non-solid.7z", {"-ms=off", "-mhc=off"}, Verdict::Pass},
        {"non-solid-encoded.7z", {"-ms=off"}, Verdict::Decode},
        {"bcj2.7z", {"-m0=BCJ2", "-m1=LZMA", "-m2=LZMA", "-mb0:1", "-mb0s1:2"}, Verdict::Decode},
        {"encrypted-header.7z", {"-mhe=on", "-psecret"}, Verdict::Decode},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{"a"};
        args.insert(args.end(), c.switches.begin(), c.switches.end());
        args.insert(args.end(), {dir / c.name, "driver.inf", "x64", "emptydir"});
        const test::RunResult made = test::Run(k7zz, args, dir / "src");
        ASSERT_EQ(made.exitCode, 0) << made.output;
        const SevenZipHeaderCheck check = CheckFile(dir / c.name);
        EXPECT_EQ(check.verdict, c.verdict) << c.name << ": " << check.reason;
        if (check.verdict == Verdict::Decode) {
            // What is handed on to be unpacked passes the same look.
            const std::string inner = dir / "inner.7z";
            test::WriteFile(inner,
                            std::string(check.headerArchive.begin(), check.headerArchive.end()));
            EXPECT_NE(CheckFile(inner).verdict, Verdict::Refuse) << c.name;
        }
    }
    // Behind a prefix, and with the start header an unfinished archive leaves (all zero): found
    // where the library finds it.
    const std::string plain = test::ReadFile(dir / "plain.7z");
    test::WriteFile(dir / "prefix.7z", std::string(1000, 'p') + plain);
    EXPECT_EQ(CheckFile(dir / "prefix.7z").verdict, Verdict::Pass);
    std::string unfinished = plain;
    std::memset(unfinished.data() + 8, 0, 24);
    test::WriteFile(dir / "unfinished.7z", unfinished);
    EXPECT_EQ(CheckFile(dir / "unfinished.7z").verdict, Verdict::Pass);
}

TEST(SevenZipHeaderCheck, DeclaredCountsAndSizesPastTheBoundsAreRefusedByName) {
    test::TempDir dir;
    const auto refusal = [&](const Bytes& header) {
        const SevenZipHeaderCheck check = CheckFile(WithPlainHeader(dir, header));
        EXPECT_EQ(check.verdict, Verdict::Refuse);
        return check.reason;
    };
    // 65,537 items, declared in six bytes.
    EXPECT_EQ(refusal({0x01, 0x05, 0xC1, 0x01, 0x00, 0x00}),
              "Refused archive: it holds 65537 items, more than the 65536 a package may hold");
    // One folder said to hold two billion streams, each with a digest to come.
    EXPECT_EQ(refusal({0x01, 0x04, 0x07, 0x0B, 0x01, 0x00, 0x01, 0x01, 0x00, 0x0C, 0x05, 0x00,
                       0x08, 0x0D, 0xF0, 0xFF, 0xFF, 0xFF, 0x7F, 0x0A, 0x01, 0x00, 0x00, 0x00}),
              "Refused archive: its header declares 2147483647 streams, more than the 65536 items "
              "a package may hold");
    // Data unpacked into memory ahead of the header (additional streams) past the bound.
    EXPECT_EQ(refusal({0x01, 0x03, 0x07, 0x0B, 0x01, 0x00, 0x01, 0x01, 0x00, 0x0C, 0xE2, 0x00, 0x00,
                       0x00, 0x00, 0x00, 0x00}),
              "Refused archive: its header takes 32 MiB, more than the 16 MiB a package's header "
              "may take");
    // Counts the header's bytes cannot back, and a header cut short: the library's own words.
    EXPECT_EQ(
        refusal({0x01, 0x04, 0x07, 0x0B, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x7F}),
        "The archive is damaged: headers error");
    EXPECT_EQ(refusal({0x01, 0x05}), "The archive is damaged: headers error");

    // A raw header larger than the bound (the file is sparse).
    Bytes header = {0x01, 0x00};
    const std::string big = WithPlainHeader(dir, header, kMaxHeaderBytes + 1);
    fs::resize_file(big, fs::file_size(big) + kMaxHeaderBytes);
    const SevenZipHeaderCheck check = CheckFile(big);
    EXPECT_EQ(check.verdict, Verdict::Refuse);
    EXPECT_EQ(check.reason, "Refused archive: its header takes 17 MiB, more than the 16 MiB a "
                            "package's header may take");
    // Within the bounds: left to the library.
    EXPECT_EQ(CheckFile(WithPlainHeader(dir, {0x01, 0x05, 0x03, 0x00, 0x00})).verdict,
              Verdict::Pass);
}

} // namespace
} // namespace halyard
