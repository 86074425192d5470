// "/verify" names the cause of every "ignore" and of a bare code on one line before the verdict:
// the Setup API's code with its text, and for a signer that is not accepted, the signer.
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

// An INF signed through driver.cat with the OS attribute given.
std::string Pair(const std::string& folder, const fixtures::Identity& signer,
                 const std::string& osAttr = "2:10.0",
                 std::vector<const fixtures::Identity*> certificates = {}) {
    const std::string inf = folder + "/driver.inf";
    test::WriteFile(inf, "[Version]\r\nCatalogFile=driver.cat\r\n");
    fixtures::CatalogRecipe recipe;
    recipe.version = 2;
    recipe.hash = platform::DigestAlgorithm::Sha256;
    recipe.signer = &signer;
    recipe.certificatesGiven = !certificates.empty();
    recipe.certificates = std::move(certificates);
    fixtures::AddFileMember(
        recipe, inf, {},
        {fixtures::CatAttr{"OSAttr", osAttr, fixtures::kNameValueFlags, std::nullopt}});
    fixtures::WriteCatalog(folder + "/driver.cat", recipe);
    return folder;
}

TEST(VerifyCauses, EveryIgnoreSaysWhy) {
    const auto& pki = fixtures::BuildTestPki();
    test::TempDir tmp;
    const std::string setupApi = "VerifyInfAndCat: SetupVerifyInfFile fail; Params: ";
    struct Case {
        const char* name;
        std::string folder;
        std::string cause;
    };
    const Case cases[] = {
        {"another publisher", Pair(tmp / "contoso", pki.contoso),
         "VerifyInfAndCat: Not the accepted signer: Contoso Test Publisher; Params: " +
             (tmp / "contoso/driver.cat") +
             "; Last error: E0000242 Trust in the publisher of the software could not be "
             "established"},
        {"untrusted root", Pair(tmp / "untrusted", pki.untrustedLeaf),
         setupApi + (tmp / "untrusted/driver.inf") +
             "; Last error: 800B0109 A certification chain ended in a root certificate that is "
             "not trusted"},
        // The intermediate is left out of the catalog: no chain to the root.
        {"incomplete chain", Pair(tmp / "chain", pki.whcp, "2:10.0", {&pki.whcp}),
         setupApi + (tmp / "chain/driver.inf") +
             "; Last error: 800B010A A certificate chain could not be built to a trusted root "
             "authority"},
        // Signed for Windows 7 to 8.1 only; the platform is Windows 10.
        {"other Windows versions", Pair(tmp / "os", pki.whcp, "2:6.1,2:6.2,2:6.3"),
         setupApi + (tmp / "os/driver.inf") +
             "; Last error: E0000244 The signature's operating-system attribute does not match "
             "this platform"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(VerifyFolder(c.folder), (Lines{c.cause, "ignore"})) << c.name;
    }
    // The accepted signer: nothing but the verdict.
    EXPECT_EQ(VerifyFolder(Pair(tmp / "whcp", pki.whcp)), Lines{"success"});
}

TEST(VerifyCauses, ABareCodeGetsItsText) {
    test::TempDir tmp;
    const std::string folder = Pair(tmp / "pair", fixtures::BuildTestPki().whcp);
    // The INF is changed after signing: no member answers it.
    test::WriteFile(folder + "/driver.inf", "[Version]\r\nCatalogFile=driver.cat\r\n; edited\r\n");
    EXPECT_EQ(VerifyFolder(folder),
              (Lines{"VerifyInfAndCat: SetupVerifyInfFile fail; Params: " + folder +
                         "/driver.inf; Last error: 800B0100 No signature was present in the "
                         "subject",
                     "wrong:Unknown error 800B0100", "fail"}));
}

} // namespace
} // namespace halyard
