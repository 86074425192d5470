// mktrustroots against root lists the fixture builder signs as Microsoft signs authroot.stl:
// which roots it keeps (the uses each entry enables), that it verifies the list's signature
// first, and that a catalog under a kept root is trusted while one under a root the list
// enables only for other uses stops at an untrusted root.
#include "base/errors.h"
#include "fixtures.h"
#include "halyard/trust/parse.h"
#include "halyard/trust/verify.h"
#include "ossl.h"
#include "testkit.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

namespace halyard {
namespace {

namespace fs = std::filesystem;
using namespace fixtures::detail;
using fixtures::Bytes;

constexpr const char* kRootListUsage = "1.3.6.1.4.1.311.10.3.9";
constexpr const char* kSha1Algorithm = "1.3.14.3.2.26";
constexpr const char* kUsageProperty = "1.3.6.1.4.1.311.10.11.9";

Bytes Sha1(const Bytes& der) {
    return DigestBytes(platform::DigestAlgorithm::Sha1, der.data(), der.size());
}

Bytes DerOfPemFile(const std::string& path) {
    X509Ptr cert = CertFromPem(test::ReadFile(path));
    return Encode<X509, i2d_X509>(cert.get());
}

// One entry of a root list: the root's thumbprint, and the uses it is trusted for when given.
fixtures::CatalogMemberRecipe RootEntry(const Bytes& certDer,
                                        const std::vector<const char*>& usages, bool withUsages) {
    fixtures::CatalogMemberRecipe entry;
    entry.tagBytes = Sha1(certDer);
    entry.indirectData = false;
    entry.memberInfo = false;
    if (withUsages) {
        std::vector<Bytes> oids;
        for (const char* usage : usages) {
            oids.push_back(Oid(usage));
        }
        entry.rawAttributes.emplace_back(kUsageProperty, OctetString(Sequence(oids)));
    }
    return entry;
}

class TrustRootsTool : public ::testing::Test {
protected:
    const fixtures::TestPki& pki = fixtures::BuildTestPki();
    test::TempDir dir;
    // Real public roots: one listed for all uses, one for time stamping, one not listed.
    const std::string allUses = test::SourceDir() + "trust/public/digicert-assured-id-root-ca.pem";
    const std::string timeStamping =
        test::SourceDir() + "trust/public/usertrust-rsa-certification-authority.pem";
    const std::string unlisted =
        test::SourceDir() + "trust/public/globalsign-code-signing-root-r45.pem";

    void SetUp() override {
        fs::create_directories(dir / "bundle/sub");
        fs::create_directories(dir / "list-roots");
        test::WriteFile(dir / "bundle/test-root.pem", pki.root.certPem);
        test::WriteFile(dir / "bundle/untrusted-root.crt", pki.untrustedRoot.certDer);
        test::CopyFile(allUses, dir / "bundle/sub/all-uses.pem");
        test::CopyFile(timeStamping + "", dir / "bundle/sub/time-stamping.pem");
        test::CopyFile(unlisted, dir / "bundle/unlisted.pem");
        test::WriteFile(dir / "list-roots/root.pem", pki.root.certPem);
    }

    fixtures::CatalogRecipe List() {
        fixtures::CatalogRecipe list;
        list.version = 2;
        list.subjectUsage = kRootListUsage;
        list.subjectAlgorithm = kSha1Algorithm;
        list.signer = &pki.root;
        list.certificates = {&pki.root};
        list.members = {
            RootEntry(pki.root.certDer, {"1.3.6.1.5.5.7.3.1", "1.3.6.1.5.5.7.3.3"}, true),
            RootEntry(pki.untrustedRoot.certDer, {"1.3.6.1.5.5.7.3.1"}, true),
            RootEntry(DerOfPemFile(allUses), {}, false),
            RootEntry(DerOfPemFile(timeStamping), {"1.3.6.1.5.5.7.3.8"}, true),
        };
        return list;
    }

    test::RunResult Tool(const std::string& list, std::vector<std::string> more = {}) {
        std::vector<std::string> args = {"--list",           list,    "--list-roots",
                                         dir / "list-roots", "--out", dir / "out"};
        args.insert(args.end(), more.begin(), more.end());
        args.push_back(dir / "bundle");
        return test::Run(test::BinDir() + "mktrustroots", args);
    }

    std::vector<std::string> Written() {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir / "out")) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    std::uint32_t CatalogStatus(const fixtures::CatalogRecipe& recipe) {
        fixtures::WriteCatalog(dir / "a.cat", recipe);
        const auto parsed = trust::ParseCatalogFile(dir / "a.cat");
        const trust::TrustAnchors anchors(dir / "out");
        return trust::VerifyParsedCatalogSignature(**parsed, anchors, std::time(nullptr)).status;
    }
};

TEST_F(TrustRootsTool, KeepsTheRootsTheListEnablesForCodeSigningOrTimeStamping) {
    fixtures::WriteCatalog(dir / "authroot.stl", List());
    const auto r = Tool(dir / "authroot.stl");
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const auto names = Written();
    ASSERT_EQ(names.size(), 3u) << r.output;
    const std::string rootPrefix = "halyard-test-root-ca-";
    EXPECT_EQ(std::count_if(names.begin(), names.end(),
                            [&](const std::string& n) { return n.rfind(rootPrefix, 0) == 0; }),
              1);
    EXPECT_NE(r.output.find("\tall uses\tDigiCert Assured ID Root CA"), std::string::npos);
    EXPECT_NE(r.output.find("\ttime stamping\tUSERTrust RSA Certification Authority"),
              std::string::npos);
    EXPECT_NE(r.output.find("\tcode signing\tHalyard Test Root CA"), std::string::npos);
    EXPECT_EQ(r.output.find("Untrusted"), std::string::npos);
    EXPECT_EQ(r.output.find("GlobalSign"), std::string::npos);

    // A catalog under a kept root chains; one under a root listed only for server
    // authentication stops at the root, as on Windows.
    fixtures::CatalogRecipe trusted;
    trusted.signer = &pki.whcp;
    EXPECT_EQ(CatalogStatus(trusted), 0u);
    fixtures::CatalogRecipe other;
    other.signer = &pki.untrustedLeaf;
    other.certificates = {&pki.untrustedLeaf, &pki.untrustedRoot};
    EXPECT_EQ(CatalogStatus(other), codes::kCertEUntrustedRoot);

    // Run again with the test root as already shipped: it is left out, and the stale files
    // of the first run are gone.
    fs::create_directories(dir / "shipped");
    test::WriteFile(dir / "shipped/root.pem", pki.root.certPem);
    const auto again = Tool(dir / "authroot.stl", {"--skip", dir / "shipped"});
    ASSERT_EQ(again.exitCode, 0) << again.output;
    EXPECT_EQ(Written().size(), 2u);
}

TEST_F(TrustRootsTool, RefusesAListWhoseSignatureDoesNotHold) {
    const Bytes good = fixtures::BuildCatalog(List());
    // One byte of an entry's thumbprint changed.
    Bytes tampered = good;
    const Bytes thumbprint = Sha1(pki.untrustedRoot.certDer);
    const auto at =
        std::search(tampered.begin(), tampered.end(), thumbprint.begin(), thumbprint.end());
    ASSERT_NE(at, tampered.end());
    *at ^= 0x01;
    test::WriteFile(dir / "tampered.stl", tampered);
    auto r = Tool(dir / "tampered.stl");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.output.find("signature does not match"), std::string::npos) << r.output;

    // Signed by a root that is not among the roots the list is checked against.
    test::WriteFile(dir / "good.stl", good);
    fs::remove(dir / "list-roots/root.pem");
    test::WriteFile(dir / "list-roots/other.pem", pki.untrustedRoot.certPem);
    r = Tool(dir / "good.stl");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.output.find("does not chain"), std::string::npos) << r.output;
    EXPECT_FALSE(fs::exists(dir / "out")); // nothing written

    // A catalog is a trust list of another kind.
    fixtures::CatalogRecipe catalog;
    catalog.signer = &pki.whcp;
    fixtures::WriteCatalog(dir / "a.cat", catalog);
    r = Tool(dir / "a.cat");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.output.find("not a list of roots"), std::string::npos) << r.output;
}

// The list Windows Update ships: its signature holds against the Microsoft roots we ship, and
// the roots that come with the program are the ones it enables.
TEST(RealRootList, VerifiesAgainstTheShippedMicrosoftRoots) {
    if (!test::RealworldAvailable()) {
        GTEST_SKIP() << "no real-world samples";
    }
    test::TempDir dir;
    const auto r =
        test::Run(test::BinDir() + "mktrustroots",
                  {"--list", test::RealworldDir() + "catalogs/ctl-not-a-catalog/authroot.stl",
                   "--list-roots", test::SourceDir() + "trust/public", "--out", dir / "out",
                   test::SourceDir() + "trust/authroot"});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    // Every committed root is one the list enables.
    std::size_t committed = 0;
    for (const auto& entry : fs::directory_iterator(test::SourceDir() + "trust/authroot")) {
        committed += entry.path().extension() == ".pem" ? 1 : 0;
    }
    std::size_t written = 0;
    for (const auto& entry : fs::directory_iterator(dir / "out")) {
        written += entry.path().extension() == ".pem" ? 1 : 0;
    }
    EXPECT_EQ(written, committed);
    EXPECT_GT(committed, 50u);
}

} // namespace
} // namespace halyard
