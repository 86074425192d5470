// The 7-Zip binding on the real library, with archives made by 7zz or the fixture builder at
// test time.
#include "base/errors.h"
#include "base/unicode.h"
#include "external/sevenzip/sevenzip.h"
#include "external/sevenzip/sevenzip_budget.h"
#include "external/sevenzip/sevenzip_gate.h"
#include "external/sevenzip/sevenzip_library.h"
#include "fixtures.h"
#include "platform/filestream.h"
#include "report/output.h"
#include "testkit.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace halyard {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

const char* const k7zz = "/usr/bin/7zz";

// Runs 7zz in a folder; the archive path may be relative to it.
void SevenZip(const std::vector<std::string>& args, const std::string& cwd) {
    const test::RunResult run = test::Run(k7zz, args, cwd);
    ASSERT_EQ(run.exitCode, 0) << run.output;
}

class SevenZipTest : public ::testing::Test {
protected:
    void SetUp() override {
        HALYARD_NEED_PROGRAM(k7zz);
        src = dir / "src";
        archive = dir / "package.7z";
        target = dir / "out/package/";
        fs::create_directories(src);
        fs::create_directories(dir / "out");
    }

    // UnZipFile with its printed lines.
    bool Unzip(const std::string& file) {
        OutputCapture capture;
        const bool ok = UnZipFile(file, target);
        lines = capture.lines();
        return ok;
    }

    std::vector<std::string> FilesBelow(const std::string& root) {
        std::vector<std::string> out;
        if (!fs::exists(root)) {
            return out;
        }
        for (const auto& e : fs::recursive_directory_iterator(root)) {
            out.push_back(fs::relative(e.path(), root).string() + (e.is_directory() ? "/" : ""));
        }
        std::sort(out.begin(), out.end());
        return out;
    }

    TempDir dir;
    std::string src, archive, target;
    std::vector<std::string> lines;
};

TEST_F(SevenZipTest, ExtractsFilesInSubfoldersWithoutEmptyFolders) {
    WriteFile(src + "/a.txt", "alpha\r\n");
    WriteFile(src + "/sub/b.inf", "[Version]\r\n");
    WriteFile(src + "/sub/deep/c.bin", std::string(70000, '\x5A'));
    WriteFile(src + "/sub/empty.txt", "");
    fs::create_directories(src + "/emptydir/inner");
    SevenZip({"a", archive, "a.txt", "sub", "emptydir"}, src);

    EXPECT_TRUE(Unzip(archive));
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(FilesBelow(target),
              (std::vector<std::string>{"a.txt", "sub/", "sub/b.inf", "sub/deep/", "sub/deep/c.bin",
                                        "sub/empty.txt"}));
    EXPECT_EQ(ReadFile(target + "sub/deep/c.bin"), std::string(70000, '\x5A'));
    EXPECT_EQ(ReadFile(target + "a.txt"), "alpha\r\n");
}

TEST_F(SevenZipTest, ReplacesAnExistingFile) {
    WriteFile(src + "/a.txt", "new");
    SevenZip({"a", archive, "a.txt"}, src);
    WriteFile(target + "a.txt", "an older and much longer content");
    EXPECT_TRUE(Unzip(archive));
    EXPECT_EQ(ReadFile(target + "a.txt"), "new");
}

TEST_F(SevenZipTest, ArchivesThatDoNotOpenNameTheCause) {
    const auto failsWith = [this](const std::string& file, const std::string& line) {
        EXPECT_FALSE(Unzip(file)) << file;
        EXPECT_EQ(lines, std::vector<std::string>{"UnZipFile: " + line}) << file;
        EXPECT_TRUE(FilesBelow(target).empty()) << file;
    };
    WriteFile(dir / "junk.7z", std::string(4096, 'j'));
    failsWith(dir / "junk.7z", "Not a 7z archive");
    WriteFile(dir / "empty.7z", "");
    failsWith(dir / "empty.7z", "Not a 7z archive");
    WriteFile(src + "/a.txt", std::string(50000, 'a'));
    SevenZip({"a", "-tzip", dir / "zip.7z", "a.txt"}, src);
    failsWith(dir / "zip.7z", "Not a 7z archive");

    SevenZip({"a", archive, "a.txt"}, src);
    const std::string whole = ReadFile(archive);
    WriteFile(dir / "cut.7z", whole.substr(0, whole.size() / 2));
    failsWith(dir / "cut.7z", "The archive is damaged: unexpected end of the archive");
    WriteFile(dir / "signature-only.7z", whole.substr(0, 32));
    failsWith(dir / "signature-only.7z", "The archive is damaged: unexpected end of the archive");
    std::string bytes = whole;
    bytes[bytes.size() - 8] ^= 0x55; // in the header, which ends the archive
    WriteFile(dir / "header.7z", bytes);
    failsWith(dir / "header.7z", "The archive is damaged: headers error");
    bytes = whole;
    bytes[20] ^= 0x55; // the start header: where the header is, guarded by its own CRC
    WriteFile(dir / "start.7z", bytes);
    failsWith(dir / "start.7z", "The archive is damaged: its start header is corrupt");
}

TEST_F(SevenZipTest, MissingArchiveFile) {
    const std::string missing = dir / "missing.7z";
    EXPECT_FALSE(Unzip(missing));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "UnZipFile: Cannot open file \"" + missing +
                            "\". The system cannot find the file specified");
}

TEST_F(SevenZipTest, RefusesItemsThatLeaveTheFolder) {
    WriteFile(src + "/a.txt", "inside");
    WriteFile(src + "/b.txt", "evil");
    const std::string outside = dir / "out/evil.txt";
    const struct {
        std::string stored;
        std::vector<std::string> mustNotExist;
    } cases[] = {
        {"../evil.txt", {outside}},
        {"..\\evil.txt", {outside}},
        {"sub/../../evil.txt", {outside}},
        {dir / "abs-evil.txt", {dir / "abs-evil.txt"}},
    };
    for (const auto& c : cases) {
        fs::remove_all(dir / "out");
        fs::remove(archive);
        SevenZip({"a", archive, "a.txt", "b.txt"}, src);
        SevenZip({"rn", archive, "b.txt", c.stored}, src);
        EXPECT_FALSE(Unzip(archive)) << c.stored;
        ASSERT_EQ(lines.size(), 1u) << c.stored;
        EXPECT_EQ(lines[0].rfind("UnZipFile: Refused item \"" + c.stored + "\": ", 0), 0u)
            << lines[0];
        for (const auto& path : c.mustNotExist) {
            EXPECT_FALSE(fs::exists(path)) << path;
        }
        // Refused before anything is written, also the good item ahead of it.
        for (const auto& file : FilesBelow(dir / "out")) {
            EXPECT_EQ(file, "package/") << c.stored;
        }
    }
}

TEST_F(SevenZipTest, ItemsThatWouldBeOneFileOnWindowsStopTheUnpackingBeforeAnyWrite) {
    using fixtures::SevenZipFile;
    using fixtures::SevenZipFolder;
    const struct {
        fixtures::SevenZipItem first, second;
        std::string line;
    } cases[] = {
        {SevenZipFile(u"x64/a.sys", "one"), SevenZipFile(u"x64/a.sys", "two"),
         "Refused item \"x64/a.sys\": it is the same file on Windows as item \"x64/a.sys\""},
        {SevenZipFile(u"x64/a.sys", "one"), SevenZipFile(u"X64\\A.Sys", "two"),
         "Refused item \"X64\\A.Sys\": it is the same file on Windows as item \"x64/a.sys\""},
        {SevenZipFile(u"x64/a.sys", "one"), SevenZipFile(u"x64/a.sys. ", "two"),
         "Refused item \"x64/a.sys. \": it is the same file on Windows as item \"x64/a.sys\""},
        // Two different unpaired surrogates both become U+FFFD.
        {SevenZipFile(u"x64/a\xD800.sys", "one"), SevenZipFile(u"x64/a\xDC00.sys", "two"),
         "Refused item \"x64/a\xEF\xBF\xBD.sys\": it is the same file on Windows as item "
         "\"x64/a\xEF\xBF\xBD.sys\""},
        {SevenZipFile(u"x64", "one"), SevenZipFile(u"x64/a.sys", "two"),
         "Refused item \"x64/a.sys\": it and item \"x64\" would make one path both a file and "
         "a folder on Windows"},
        {SevenZipFolder(u"x64"), SevenZipFile(u"X64", "two"),
         "Refused item \"X64\": it and item \"x64\" would make one path both a file and a "
         "folder on Windows"},
    };
    for (const auto& c : cases) {
        fixtures::SevenZipRecipe recipe;
        recipe.items = {SevenZipFile(u"driver.inf", "[Version]\r\n"), c.first, c.second};
        fixtures::WriteSevenZip(archive, recipe);
        fs::remove_all(target);
        EXPECT_FALSE(Unzip(archive)) << c.line;
        EXPECT_EQ(lines, std::vector<std::string>{"UnZipFile: " + c.line});
        EXPECT_TRUE(FilesBelow(target).empty()) << c.line;
    }
    // The same items without the clash unpack.
    fixtures::SevenZipRecipe recipe;
    recipe.items = {SevenZipFile(u"x64/a.sys", "one"), SevenZipFolder(u"X64"),
                    SevenZipFile(u"X64/b.sys", "two"), SevenZipFile(u"x64/a.sys2", "three")};
    fixtures::WriteSevenZip(archive, recipe);
    fs::remove_all(target);
    EXPECT_TRUE(Unzip(archive)) << testing::PrintToString(lines);
    EXPECT_EQ(ReadFile(target + "X64/b.sys"), "two");
}

TEST_F(SevenZipTest, RefusesArchivesWithMoreItemsThanAPackageHolds) {
    // Empty items cost the archive nothing but cost every reader memory per item.
    fixtures::SevenZipRecipe recipe;
    for (std::uint32_t i = 0; i <= kMaxArchiveItems; ++i) {
        const std::string name = "f" + std::to_string(i);
        recipe.items.push_back(
            fixtures::SevenZipFile(std::u16string(name.begin(), name.end()), ""));
    }
    fixtures::WriteSevenZip(archive, recipe);
    EXPECT_FALSE(Unzip(archive));
    EXPECT_EQ(lines, std::vector<std::string>{"UnZipFile: Refused archive: it holds 65537 items, "
                                              "more than the 65536 a package may hold"});
    EXPECT_TRUE(FilesBelow(target).empty());
    // A few unpack as usual.
    recipe.items.resize(3);
    fixtures::WriteSevenZip(archive, recipe);
    EXPECT_TRUE(Unzip(archive)) << testing::PrintToString(lines);
}

TEST_F(SevenZipTest, RefusesSymbolicLinkItems) {
    WriteFile(src + "/a.txt", "inside");
    fs::create_symlink("/etc/passwd", src + "/link");
    SevenZip({"a", "-snl", archive, "link"}, src);
    EXPECT_FALSE(Unzip(archive));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "UnZipFile: Refused item \"link\": symbolic links and reparse points "
                        "are not extracted");
    EXPECT_FALSE(fs::exists(fs::symlink_status(target + "link")));
}

TEST_F(SevenZipTest, NeverWritesThroughALinkAlreadyInTheFolder) {
    WriteFile(src + "/sub/b.txt", "payload");
    WriteFile(src + "/a.txt", "payload");
    SevenZip({"a", archive, "sub", "a.txt"}, src);
    const std::string elsewhere = dir / "elsewhere";
    fs::create_directories(elsewhere);
    WriteFile(elsewhere + "/a.txt", "untouched");
    fs::create_directories(target);

    fs::create_directory_symlink(elsewhere, target + "sub");
    EXPECT_FALSE(Unzip(archive));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("UnZipFile: Cannot create folder \"" + target + "sub\"", 0), 0u)
        << lines[0];
    EXPECT_FALSE(fs::exists(elsewhere + "/b.txt"));

    fs::remove(target + "sub");
    fs::remove(target + "a.txt");
    fs::create_symlink(elsewhere + "/a.txt", target + "a.txt");
    EXPECT_FALSE(Unzip(archive));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("UnZipFile: Cannot create file \"" + target + "a.txt\". ", 0), 0u)
        << lines[0];
    EXPECT_EQ(ReadFile(elsewhere + "/a.txt"), "untouched");
}

TEST_F(SevenZipTest, EncryptedItemsAreNotExtractedWithoutPassword) {
    WriteFile(src + "/a.txt", "secret");
    SevenZip({"a", "-pSECRET", archive, "a.txt"}, src);
    EXPECT_FALSE(Unzip(archive));
    EXPECT_EQ(lines, std::vector<std::string>{
                         "UnZipFile: Item \"a.txt\" was not extracted correctly: the item is "
                         "encrypted and no password is offered"});

    // With encrypted headers the archive does not even open.
    SevenZip({"a", "-pSECRET", "-mhe=on", dir / "headers.7z", "a.txt"}, src);
    EXPECT_FALSE(Unzip(dir / "headers.7z"));
    EXPECT_EQ(lines, std::vector<std::string>{"UnZipFile: The archive's headers are encrypted and "
                                              "no password is offered"});
    I7zInArchivePtr arc = CreateInArchive(sevenzip::CLSID_CFormat7z);
    arc->SetPassword("WRONG");
    try {
        arc->OpenFile(dir / "headers.7z");
        ADD_FAILURE() << "opened with a wrong password";
    } catch (const ESevenZipException& e) {
        EXPECT_STREQ(e.what(),
                     "The archive's headers are encrypted and the password does not open them");
    }
}

TEST_F(SevenZipTest, PasswordSetThroughTheBindingOpensEncryptedItems) {
    WriteFile(src + "/a.txt", "secret");
    SevenZip({"a", "-pS\xC3\xA9same", archive, "a.txt"}, src);
    I7zInArchivePtr arc = CreateInArchive(sevenzip::CLSID_CFormat7z);
    arc->SetPassword("S\xC3\xA9same");
    arc->OpenFile(archive);
    arc->ExtractTo(target);
    EXPECT_EQ(ReadFile(target + "a.txt"), "secret");
}

TEST_F(SevenZipTest, CrcErrorNamesTheItem) {
    const std::string marker = "CRC-MARKER-0123456789-";
    std::string content;
    for (int i = 0; i < 200; ++i) {
        content += marker;
    }
    WriteFile(src + "/good.txt", "fine");
    WriteFile(src + "/bad.bin", content);
    SevenZip({"a", "-mx0", archive, "good.txt", "bad.bin"}, src);
    std::string bytes = ReadFile(archive);
    const std::size_t at = bytes.find(marker);
    ASSERT_NE(at, std::string::npos);
    bytes[at + 3] ^= 0x01;
    WriteFile(archive, bytes);

    EXPECT_FALSE(Unzip(archive));
    EXPECT_EQ(lines, std::vector<std::string>{
                         "UnZipFile: Item \"bad.bin\" was not extracted correctly: CRC error"});
}

// PE images, which 7zz passes through the BCJ filter, and noise in more than one LZMA2 block:
// what the library decodes on threads of its own when it may.
std::vector<std::string> MakeMultiBlockPackage(const std::string& src, const std::string& archive) {
    std::uint32_t x = 12345;
    const auto noise = [&x](std::size_t size) {
        fixtures::Bytes bytes(size);
        for (auto& b : bytes) {
            x = x * 1103515245 + 12345;
            b = static_cast<std::uint8_t>(x >> 24);
        }
        return bytes;
    };
    std::vector<std::string> names;
    for (const char* name : {"drv/driver.sys", "drv/helper.dll"}) {
        fixtures::PeOptions pe;
        pe.pe32Plus = true;
        pe.content = noise(256 << 10);
        pe.sectionSize = pe.content.size();
        WriteFile(src + "/" + name, fixtures::MakePeFile(pe));
        names.push_back(name);
    }
    for (const std::size_t mib : {2, 1}) {
        const std::string name = "drv/noise" + std::to_string(names.size()) + ".bin";
        WriteFile(src + "/" + name, noise(mib << 20));
        names.push_back(name);
    }
    SevenZip({"a", "-mx1", "-mmt=2", "-md=256k", archive, "drv"}, src);
    const test::RunResult listing = test::Run(k7zz, {"l", "-slt", archive});
    EXPECT_NE(listing.output.find("BCJ"), std::string::npos) << listing.output;
    return names;
}

TEST_F(SevenZipTest, MultiBlockArchivesDecodeOnLibraryThreadsAndArriveWhole) {
    const std::vector<std::string> names = MakeMultiBlockPackage(src, archive);

    // The library calls from its own threads; the binding takes the calls one at a time and
    // gets every byte right.
    const std::uint64_t before = SevenZipCallbacksOffThread();
    EXPECT_TRUE(Unzip(archive));
    EXPECT_TRUE(lines.empty()) << lines.front();
    if (std::thread::hardware_concurrency() > 1) {
        EXPECT_GT(SevenZipCallbacksOffThread(), before);
    }
    for (const auto& name : names) {
        EXPECT_EQ(ReadFile(target + name), ReadFile(src + "/" + name)) << name;
    }

    // Told to decode on the calling thread alone, it does.
    SetSevenZipSingleThreadedHandler(true);
    fs::remove_all(target);
    const std::uint64_t single = SevenZipCallbacksOffThread();
    const bool ok = Unzip(archive);
    SetSevenZipSingleThreadedHandler(false);
    EXPECT_TRUE(ok);
    EXPECT_EQ(SevenZipCallbacksOffThread(), single);
    for (const auto& name : names) {
        EXPECT_EQ(ReadFile(target + name), ReadFile(src + "/" + name)) << name;
    }
}

TEST_F(SevenZipTest, AnItemRefusedOnALibraryThreadStopsTheUnpackingWithItsReason) {
    MakeMultiBlockPackage(src, archive);
    // A folder where the last item is to go: creating the file fails on whichever thread the
    // library calls from, and the reason comes back as one line.
    fs::create_directories(target + "drv/noise3.bin/inner");
    EXPECT_FALSE(Unzip(archive));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("UnZipFile: ", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find("noise3.bin"), std::string::npos) << lines[0];
    EXPECT_TRUE(fs::is_directory(target + "drv/noise3.bin/inner"));
}

TEST_F(SevenZipTest, BlocksTooLargeForTheDecoderMemoryDecodeOnOneThread) {
    // 40 MiB in 16 MiB blocks (a 4 MiB dictionary): two threads would need more memory than
    // the decoder is given, so the library keeps to the calling thread.
    std::string pattern(4096, '\0');
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        pattern[i] = static_cast<char>((i * 7919) >> 3);
    }
    std::string big;
    for (int i = 0; i < 10240; ++i) {
        big += pattern;
    }
    WriteFile(src + "/big.bin", big);
    SevenZip({"a", "-mx1", "-mmt=2", "-md=4m", archive, "big.bin"}, src);
    const std::uint64_t before = SevenZipCallbacksOffThread();
    EXPECT_TRUE(Unzip(archive));
    EXPECT_EQ(SevenZipCallbacksOffThread(), before);
    EXPECT_EQ(ReadFile(target + "big.bin"), big);
}

TEST_F(SevenZipTest, ItemQueriesAndSingleItemExtraction) {
    WriteFile(src + "/a.txt", "alpha");
    WriteFile(src + "/sub/b.txt", "bravo!");
    SevenZip({"a", archive, "a.txt", "sub"}, src);
    I7zInArchivePtr arc = CreateInArchive(sevenzip::CLSID_CFormat7z);
    arc->OpenFile(archive);
    ASSERT_EQ(arc->GetNumberOfItems(), 3u);
    std::vector<std::string> paths;
    for (std::uint32_t i = 0; i < 3; ++i) {
        paths.push_back(arc->GetItemPath(i) + (arc->GetItemIsFolder(i) ? "/" : ""));
        if (arc->GetItemPath(i) == "sub/b.txt") {
            EXPECT_EQ(arc->GetItemSize(i), 6u);
            platform::FileWriter out(dir / "single.txt");
            arc->ExtractItem(i, out, false);
            out.close();
            EXPECT_EQ(ReadFile(dir / "single.txt"), "bravo!");
        }
    }
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths, (std::vector<std::string>{"a.txt", "sub/", "sub/b.txt"}));
    EXPECT_THROW(arc->GetItemPath(3), ESevenZipException);
}

TEST(SevenZipLibrary, UnusableLibrariesAreRefused) {
    try {
        CreateInArchive(sevenzip::CLSID_CFormat7z, "/nonexistent/7z.dll");
        FAIL();
    } catch (const ESevenZipException& e) {
        EXPECT_STREQ(e.what(), "Error loading library /nonexistent/7z.dll");
    }
    for (const char* other :
         {"/lib/x86_64-linux-gnu/libz.so.1", "/usr/lib/x86_64-linux-gnu/libz.so.1"}) {
        if (!fs::exists(other)) {
            continue;
        }
        try {
            CreateInArchive(sevenzip::CLSID_CFormat7z, other);
            FAIL();
        } catch (const ESevenZipException& e) {
            EXPECT_EQ(std::string(e.what()), std::string(other) + " is not a 7z library");
        }
        break;
    }
}

// Libraries built here that look like 7-Zip but speak another interface layout.
TEST(SevenZipLibrary, OldInterfaceLayoutIsRefusedByUnZipFile) {
    if (std::system("command -v cc >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "no C compiler";
    }
    TempDir dir;
    const struct {
        const char* source;
        const char* line;
    } cases[] = {
        {"int CreateObject(void){return 1;} int GetHandlerProperty(void){return 1;}",
         "UnZipFile: 7z.dll is an incompatible 7-Zip library: it has no GetModuleProp"},
        {"#include <string.h>\n"
         "int CreateObject(void){return 1;} int GetHandlerProperty(void){return 1;}\n"
         "int GetModuleProp(unsigned id, void* v){ memset(v,0,16); *(unsigned short*)v=19;"
         " ((unsigned*)v)[2]=1; return 0; }",
         "UnZipFile: 7z.dll is an incompatible 7-Zip library: interface type 1"},
    };
    const char* old = std::getenv("LD_LIBRARY_PATH");
    const std::string saved = old != nullptr ? old : "";
    for (const auto& c : cases) {
        WriteFile(dir / "fake.c", c.source);
        ASSERT_EQ(
            std::system(("cc -shared -fPIC -o '" + (dir / "7z.so") + "' '" + (dir / "fake.c") + "'")
                            .c_str()),
            0);
        ::setenv("LD_LIBRARY_PATH", dir.path().c_str(), 1);
        OutputCapture capture;
        const bool ok = UnZipFile(dir / "any.7z", dir / "out/");
        if (old != nullptr) {
            ::setenv("LD_LIBRARY_PATH", saved.c_str(), 1);
        } else {
            ::unsetenv("LD_LIBRARY_PATH");
        }
        EXPECT_FALSE(ok);
        EXPECT_EQ(capture.lines(), std::vector<std::string>{c.line});
    }
}

} // namespace
} // namespace halyard
