#include "fixtures.h"
#include "report/output.h"
#include "testkit.h"
#include "unopenable_file.h"
#include "verify/catalog_os.h"
#include "verify/checks.h"

#include <gtest/gtest.h>

namespace halyard {
namespace {

using fixtures::CatAttr;
using Lines = std::vector<std::string>;

CatAttr A(const std::string& name, const std::string& value) {
    CatAttr attr;
    attr.name = name;
    attr.value = value;
    return attr;
}

// Writes an unsigned catalog with the given catalog-level attributes and members' attributes.
std::string MakeCatalog(const test::TempDir& dir, const std::vector<CatAttr>& catalogAttributes,
                        const std::vector<std::vector<CatAttr>>& memberAttributes = {}) {
    fixtures::CatalogRecipe recipe;
    recipe.attributes = catalogAttributes;
    std::uint8_t n = 1;
    for (const auto& attrs : memberAttributes) {
        fixtures::CatalogMemberRecipe member;
        member.digest = fixtures::Bytes(20, n++);
        member.attributes = attrs;
        member.sortAttributes = false;
        recipe.members.push_back(member);
    }
    const std::string path = dir / "test.cat";
    fixtures::WriteCatalog(path, recipe);
    return path;
}

TEST(CatalogOsReport, OsWinsOverOsAttrWhicheverComesFirst) {
    test::TempDir dir;
    EXPECT_EQ(GetOsFromCat(MakeCatalog(dir, {A("OSAttr", "2:10.0"), A("OS", "_v100_X64")})),
              "_v100_X64");
    EXPECT_EQ(GetOsFromCat(MakeCatalog(dir, {A("OS", "_v100_X64"), A("OSAttr", "2:10.0")})),
              "_v100_X64");
}

TEST(CatalogOsReport, TheLastCatalogOsAttrCounts) {
    test::TempDir dir;
    EXPECT_EQ(GetOsFromCat(MakeCatalog(dir, {A("OSAttr", "2:6.1"), A("osattr", "2:10.0")})),
              "2:10.0");
}

TEST(CatalogOsReport, NamesAreNormalisedBeforeTheyAreCompared) {
    test::TempDir dir;
    EXPECT_EQ(GetOsFromCat(MakeCatalog(dir, {A("OS Attr", "2:6.3")})), "2:6.3");
    EXPECT_EQ(GetOsFromCat(MakeCatalog(dir, {A(" o s ", "XPX86")})), "XPX86");
    EXPECT_EQ(GetOsFromCat(MakeCatalog(dir, {A("OSes", "XPX86")})), "");
}

TEST(CatalogOsReport, ABlankOsStopsThePassAndFallsBack) {
    test::TempDir dir;
    // The blank OS ends the catalog pass: the OSAttr after it is not seen, the one before is.
    EXPECT_EQ(
        GetOsFromCat(MakeCatalog(dir, {A("OSAttr", "2:6.1"), A("OS", "  "), A("OSAttr", "x")})),
        "2:6.1");
    // Nothing remembered: the member pass decides.
    EXPECT_EQ(GetOsFromCat(MakeCatalog(dir, {A("OS", " \r\n"), A("OSAttr", "x")},
                                       {{A("OSAttr", "2:10.0")}})),
              "2:10.0");
}

TEST(CatalogOsReport, TheFirstNonBlankMemberOsAttrCounts) {
    test::TempDir dir;
    const auto path = MakeCatalog(dir, {A("HWID1", "usb\\vid_1234")},
                                  {{A("File", "a.sys"), A("OS", "XPX86")},
                                   {A("OSAttr", "   "), A("OSAttr", "2:5.1")},
                                   {A("File", "b.sys"), A("OSAttr", " 2:6.1,2:10.0\r\n")},
                                   {A("OSAttr", "2:6.3")}});
    // The second member's first OSAttr is blank and ends that member's attributes.
    EXPECT_EQ(GetOsFromCat(path), "2:6.1,2:10.0");
}

TEST(CatalogOsReport, VerdictLines) {
    test::TempDir dir;
    auto r = test::RunHalyard({"/cat", MakeCatalog(dir, {A("OS", " ignore ")})});
    EXPECT_EQ(r.lines, Lines{"ignore"});
    r = test::RunHalyard({"/cat", MakeCatalog(dir, {A("OS", "Ignore")})});
    EXPECT_EQ(r.lines, Lines{"success:Ignore"});
    // No OS declaration: the verdict stays a bare "fail", after a line that says why.
    const std::string none = MakeCatalog(dir, {A("HWID1", "x")}, {{A("File", "a.sys")}});
    r = test::RunHalyard({"/cat", none});
    EXPECT_EQ(r.lines, (Lines{"ParseCatFile: No OS attribute; Params: " + none, "fail"}));
}

TEST(CatalogOsReport, NamesAndFilesThatAreNotCatalogs) {
    test::TempDir dir;
    const std::string src = MakeCatalog(dir, {A("OS", "_v100,_v100_X64")});
    test::CopyFile(src, dir / "UPPER.CAT");
    test::CopyFile(src, dir / "x.cat.bak");
    test::WriteFile(dir / "inf.cat", "[Version]\r\nSignature=\"$Windows NT$\"\r\n");

    auto r = test::RunHalyard({"/cat", dir / "UPPER.CAT"});
    EXPECT_EQ(r.lines, Lines{"success:_v100,_v100_X64"});
    r = test::RunHalyard({"/cat", dir / "x.cat.bak"});
    EXPECT_EQ(r.lines, (Lines{"wrong:Cat name: " + (dir / "x.cat.bak"), "fail"}));
    r = test::RunHalyard({"/cat", dir / "none.cat"});
    EXPECT_EQ(r.lines, (Lines{"wrong:Cat not found: " + (dir / "none.cat"), "fail"}));
    // The cause comes first, as a diagnostic line; the verdict lines stay.
    r = test::RunHalyard({"/cat", dir / "inf.cat"});
    ASSERT_EQ(r.lines.size(), 3u) << r.output;
    EXPECT_TRUE(r.lines[0].starts_with(
        "ParseCatFile: CryptCATOpen fail; Params: " + (dir / "inf.cat") + "; Last error: 8009"))
        << r.lines[0];
    EXPECT_EQ(Lines(r.lines.begin() + 1, r.lines.end()),
              (Lines{"wrong:CryptCATOpen fail", "fail"}));
    // A file that exists but cannot be opened (a socket, even for root).
    test::UnopenableFile socket(dir / "socket.cat");
    r = test::RunHalyard({"/cat", dir / "socket.cat"});
    EXPECT_EQ(r.lines,
              (Lines{"ParseCatFile: CryptCATOpen fail; Params: " + (dir / "socket.cat") +
                         "; Last error: 00000014 The system cannot find the device specified",
                     "wrong:CryptCATOpen fail", "fail"}));
}

} // namespace
} // namespace halyard
