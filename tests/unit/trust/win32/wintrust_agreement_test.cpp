// The trust engine and wintrust asked the same question about the same catalogs: is this file
// trusted as this member? WinVerifyTrust (WINTRUST_ACTION_GENERIC_VERIFY_V2 with a catalog
// record, as the win32 backend calls it) is the outside oracle for the engine's codes. The engine
// trusts a folder holding the test root; wintrust trusts the machine's Root store, which gets the
// same root, but only where the machine is a throw-away one: a Wine prefix, or a Windows machine
// said to be disposable.
#include "base/codes.h"
#include "fixtures.h"
#include "halyard/trust/parse.h"
#include "halyard/trust/verify.h"
#include "platform/trust.h"
#include "testkit.h"

#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <string>
#include <windows.h>
// after windows.h, which it needs
#include <wincrypt.h>

namespace halyard {
namespace {

using fixtures::CatalogRecipe;
using fixtures::TimeStampKind;

// Set (to anything but empty or "0") on a real Windows machine that may have its Root store
// changed for good.
constexpr const char* kDisposableVariable = "HALYARD_DISPOSABLE_WINDOWS";

bool MachineIsDisposable() {
    if (test::RunningUnderWine()) {
        return true; // scripts/test-windows.sh runs in a prefix of its own, removed afterwards
    }
    const char* value = std::getenv(kDisposableVariable);
    return value != nullptr && *value != '\0' && std::string(value) != "0";
}

// The test root in the local machine's Root store: empty when it is there, else why not.
std::string TrustTestRoot(const fixtures::Identity& root) {
    HCERTSTORE store =
        ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (store == nullptr) {
        return "the local machine's Root store cannot be opened (error " +
               std::to_string(::GetLastError()) + ")";
    }
    const BOOL added = ::CertAddEncodedCertificateToStore(
        store, X509_ASN_ENCODING, root.certDer.data(), static_cast<DWORD>(root.certDer.size()),
        CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    const DWORD error = ::GetLastError();
    ::CertCloseStore(store, 0);
    return added ? std::string()
                 : "the test root cannot be added to the Root store (error " +
                       std::to_string(error) + ")";
}

std::string CodeText(std::uint32_t code) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08X", code);
    const std::string_view symbol = SymbolOfCode(code);
    return std::string(hex) + (symbol.empty() ? "" : " " + std::string(symbol));
}

class WintrustAgreement : public ::testing::Test {
protected:
    const fixtures::TestPki& pki = fixtures::BuildTestPki();
    test::TempDir dir;
    test::TempDir trust;
    std::string driver = dir / "driver.sys";
    std::string inf = dir / "driver.inf";

    void SetUp() override {
        if (!MachineIsDisposable()) {
            GTEST_SKIP() << "wintrust trusts only the machine's Root store, which this test "
                            "would change: set "
                         << kDisposableVariable << "=1 on a throw-away Windows machine";
        }
        const std::string refused = TrustTestRoot(pki.root);
        ASSERT_TRUE(refused.empty()) << refused;
        test::WriteFile(trust / "root.pem", pki.root.certPem);
        fixtures::PeOptions pe;
        pe.fill = 0x3C;
        fixtures::WriteFileBytes(driver, fixtures::MakePeFile(pe));
        test::WriteFile(inf, "[Version]\r\nSignature=\"$Windows NT$\"\r\n");
    }

    CatalogRecipe Recipe(const fixtures::Identity* signer) {
        CatalogRecipe recipe;
        recipe.version = 2;
        recipe.hash = platform::DigestAlgorithm::Sha256;
        recipe.signer = signer;
        fixtures::AddFileMember(recipe, driver);
        fixtures::AddFileMember(recipe, inf);
        return recipe;
    }

    std::string Write(const CatalogRecipe& recipe, const std::string& name) {
        const std::string path = dir / name;
        fixtures::WriteCatalog(path, recipe);
        return path;
    }

    static std::string TagOf(const std::string& file) {
        return fixtures::HexUpper(
            fixtures::FileCatalogDigest(file, platform::DigestAlgorithm::Sha256));
    }

    struct Answers {
        std::uint32_t engine = 0;
        std::uint32_t wintrust = 0;
    };

    Answers Ask(const std::string& cat, const std::string& file, const std::string& tag) const {
        const platform::CatalogMemberTrustRequest request{cat, tag, file};
        const trust::TrustAnchors anchors(trust.path());
        return {trust::VerifyCatalogMemberWith(request, anchors, std::time(nullptr)),
                platform::WinVerifyTrustCatalogMember(request)};
    }

    // The catalog's own signature: the engine's check, and WinVerifyTrust on the catalog file.
    Answers AskSignature(const std::string& cat) const {
        const trust::TrustAnchors anchors(trust.path());
        const auto parsed = trust::ParseCatalogFile(cat);
        const std::uint32_t engine =
            parsed
                ? trust::VerifyParsedCatalogSignature(**parsed, anchors, std::time(nullptr)).status
                : parsed.error();
        return {engine, platform::VerifyCatalogSignature(cat).status};
    }

    // The engine answers the code Windows documents for the case, and wintrust the same. Under
    // Wine a known wrong answer of its own skips the comparison, naming what Wine lacks; any
    // other answer is compared, so the case runs again once Wine has it.
    static void ExpectAgreement(const Answers& answers, std::uint32_t expected,
                                std::uint32_t wineAnswer = 0, const char* wineLacks = nullptr) {
        EXPECT_EQ(CodeText(answers.engine), CodeText(expected)) << "the engine";
        if (wineLacks != nullptr && test::RunningUnderWine() && answers.wintrust == wineAnswer &&
            wineAnswer != expected) {
            GTEST_SKIP() << wineLacks;
        }
        EXPECT_EQ(CodeText(answers.wintrust), CodeText(expected)) << "wintrust";
    }
};

// Wine's catalog record: SOFTPUB_LoadCatalogMessage loads the catalog but leaves the member alone.
constexpr const char* kWineSkipsTheMember =
    "Wine's WinVerifyTrust loads the catalog without checking the member against it";

TEST_F(WintrustAgreement, GoodCatalogAndItsMembers) {
    const std::string cat = Write(Recipe(&pki.whcp), "good.cat");
    ExpectAgreement(Ask(cat, driver, TagOf(driver)), 0);
    ExpectAgreement(Ask(cat, inf, TagOf(inf)), 0);
    ExpectAgreement(AskSignature(cat), 0);
}

TEST_F(WintrustAgreement, MemberWhoseFileWasChanged) {
    const std::string cat = Write(Recipe(&pki.whcp), "good.cat");
    const std::string tag = TagOf(inf);
    test::WriteFile(inf, "[Version]\r\nSignature=\"$Chicago$\"\r\n");
    ExpectAgreement(Ask(cat, inf, tag), codes::kTrustEBadDigest, 0, kWineSkipsTheMember);
}

TEST_F(WintrustAgreement, FileNotInTheCatalog) {
    const std::string cat = Write(Recipe(&pki.whcp), "good.cat");
    const std::string other = dir / "other.inf";
    test::WriteFile(other, "[Version]\r\nSignature=\"$Windows NT$\"\r\n; not catalogued\r\n");
    ExpectAgreement(Ask(cat, other, TagOf(other)), codes::kTrustENoSignature, 0,
                    kWineSkipsTheMember);
}

TEST_F(WintrustAgreement, CatalogWhoseSignatureWasDamaged) {
    std::string bytes = test::ReadFile(Write(Recipe(&pki.whcp), "good.cat"));
    // The signature value ends the file (no unsigned attributes): its last byte changed.
    bytes.back() = static_cast<char>(bytes.back() ^ 0x01);
    test::WriteFile(dir / "damaged.cat", bytes);
    // "The digital signature of the object did not verify"; Wine answers with the code for a
    // certificate's own signature.
    const char* wine =
        "Wine reports a catalog signature that does not verify as "
        "TRUST_E_CERT_SIGNATURE, the code Windows keeps for a certificate's signature";
    ExpectAgreement(Ask(dir / "damaged.cat", driver, TagOf(driver)), codes::kTrustEBadDigest,
                    codes::kTrustECertSignature, wine);
    ExpectAgreement(AskSignature(dir / "damaged.cat"), codes::kTrustEBadDigest,
                    codes::kTrustECertSignature, wine);
}

TEST_F(WintrustAgreement, CatalogWhoseSignedContentWasChanged) {
    std::string bytes = test::ReadFile(Write(Recipe(&pki.whcp), "good.cat"));
    // One letter of the INF's name in its "File" attribute.
    const std::size_t at = bytes.find(std::string("d\0r\0i\0v\0e\0r\0.\0i\0n\0f", 19));
    ASSERT_NE(at, std::string::npos);
    bytes[at] = 'D';
    test::WriteFile(dir / "content.cat", bytes);
    ExpectAgreement(AskSignature(dir / "content.cat"), codes::kTrustEBadDigest, 0,
                    "Wine does not check the signed message digest against the catalog's content");
}

TEST_F(WintrustAgreement, SignerUnderARootNobodyTrusts) {
    const std::string cat = Write(Recipe(&pki.untrustedLeaf), "untrusted.cat");
    const char* wine = "Wine's Authenticode policy passes a chain to a root the store lacks";
    ExpectAgreement(Ask(cat, driver, TagOf(driver)), codes::kCertEUntrustedRoot, 0, wine);
    ExpectAgreement(AskSignature(cat), codes::kCertEUntrustedRoot, 0, wine);
}

TEST_F(WintrustAgreement, ExpiredSignerWithoutATimeStamp) {
    const std::string cat = Write(Recipe(&pki.whcpExpired), "expired.cat");
    const char* wine = "Wine's Authenticode policy passes a signer whose certificate has expired";
    ExpectAgreement(Ask(cat, driver, TagOf(driver)), codes::kCertEExpired, 0, wine);
    ExpectAgreement(AskSignature(cat), codes::kCertEExpired, 0, wine);
}

TEST_F(WintrustAgreement, ExpiredSignerWithATimeStampFromItsValidity) {
    for (const auto kind : {TimeStampKind::Legacy, TimeStampKind::Rfc3161}) {
        SCOPED_TRACE(kind == TimeStampKind::Legacy ? "countersignature" : "RFC 3161 token");
        CatalogRecipe recipe = Recipe(&pki.whcpExpired);
        recipe.timeStamp = kind;
        recipe.timeStampTime = 1546300800; // 2019-01-01, within the signer's validity
        const std::string cat =
            Write(recipe, kind == TimeStampKind::Legacy ? "legacy.cat" : "rfc3161.cat");
        ExpectAgreement(Ask(cat, driver, TagOf(driver)), 0);
        ExpectAgreement(AskSignature(cat), 0);
    }
}

} // namespace
} // namespace halyard
