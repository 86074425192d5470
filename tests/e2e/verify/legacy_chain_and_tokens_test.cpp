// "/verify" end to end on pairs Windows accepts and our reading once refused: a catalog signed
// through issuers without basicConstraints (time-stamped through them too), and an INF that names
// its catalog through a %key% token of its [Strings] sections.
#include "fixtures.h"
#include "testkit.h"
#include "verify_folder.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace halyard {
namespace {

using Lines = std::vector<std::string>;
using test::VerifyFolder;

// A folder with the INF text and a catalog named catName that holds it (OSAttr 2:10.0).
std::string Pair(const std::string& folder, const std::string& infText, const std::string& catName,
                 const fixtures::Identity& signer, const fixtures::Identity* tsa = nullptr) {
    test::WriteFile(folder + "/driver.inf", infText);
    fixtures::CatalogRecipe recipe;
    recipe.version = 2;
    recipe.hash = platform::DigestAlgorithm::Sha256;
    recipe.signer = &signer;
    if (tsa != nullptr) {
        recipe.timeStamp = fixtures::TimeStampKind::Rfc3161;
        recipe.timeStampAuthority = tsa;
        recipe.timeStampTime = 1275395696; // 2010-06-01
    }
    fixtures::AddFileMember(
        recipe, folder + "/driver.inf", {},
        {fixtures::CatAttr{"OSAttr", "2:10.0", fixtures::kNameValueFlags, std::nullopt}});
    fixtures::WriteCatalog(folder + "/" + catName, recipe);
    return folder;
}

const std::string kInf = "[Version]\r\nSignature=\"$Windows NT$\"\r\nCatalogFile=driver.cat\r\n";

TEST(VerifyLegacy, ChainsThroughIssuersWithoutBasicConstraints) {
    const auto& pki = fixtures::BuildTestPki();
    test::TempDir tmp;
    // The WHQL form of 2009-2011: the publisher has expired, its time stamp is what keeps it.
    EXPECT_EQ(VerifyFolder(Pair(tmp / "whql", kInf, "driver.cat", pki.legacyWhcp, &pki.legacyTsa)),
              Lines{"success"});
    // Issuers the constraints forbid: cA=FALSE, and one CA beyond a path length of 0.
    for (const auto* leaf : {&pki.notCaLeaf, &pki.subCaLeaf}) {
        const std::string folder = tmp / leaf->name;
        EXPECT_EQ(VerifyFolder(Pair(folder, kInf, "driver.cat", *leaf, &pki.legacyTsa)),
                  (Lines{"VerifyInfAndCat: SetupVerifyInfFile fail; Params: " + folder +
                             "/driver.inf; Last error: 80096019 A certificate's basic "
                             "constraints are not valid",
                         "wrong:Unknown error 80096019", "fail"}))
            << leaf->name;
    }
}

TEST(VerifyTokens, InfNamesItsCatalogThroughAStringsKey) {
    const auto& pki = fixtures::BuildTestPki();
    test::TempDir tmp;
    // As an Arduino driver writes it, LF line ends and all.
    EXPECT_EQ(VerifyFolder(Pair(tmp / "arduino",
                                "[Version]\nSignature=\"$Windows NT$\"\nClass=Ports\n"
                                "CatalogFile=%MFGFILENAME%.cat\n\n[Strings]\n"
                                "MFGFILENAME=\"arduino\"\nMFGNAME=\"Arduino LLC\"\n",
                                "arduino.cat", pki.whcp)),
              Lines{"success"});
    // [Strings.0409] first, any letter case, "%%" for a percent sign.
    EXPECT_EQ(VerifyFolder(Pair(tmp / "us",
                                "[Version]\r\nCatalogFile.NTamd64=%Name%_100%%.cat\r\n"
                                "[Strings]\r\nNAME=generic\r\n[strings.0409]\r\nname=\"us\"\r\n",
                                "US_100%.cat", pki.whcp)),
              Lines{"success"});
    // An undefined key stays as written: the catalog beside the INF is not the one it names.
    EXPECT_EQ(VerifyFolder(Pair(tmp / "undefined", "[Version]\r\nCatalogFile=%NOPE%.cat\r\n",
                                "nope.cat", pki.whcp)),
              (Lines{"VerifyInfAndCat: SetupVerifyInfFile fail; Params: " + (tmp / "undefined") +
                         "/driver.inf; Last error: 80092003 An error occurred while reading or "
                         "writing to a file",
                     "wrong:Unknown error 80092003", "fail"}));
}

} // namespace
} // namespace halyard
