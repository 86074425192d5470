// Where the POSIX build looks for its helpers and roots (build tree, installed tree, unpacked
// package), and which of two trust folders wins for one subject.
#include "fixtures.h"
#include "halyard/trust/parse.h"
#include "halyard/trust/verify.h"
#include "os/install_layout.h"
#include "testkit.h"

#include <ctime>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

namespace halyard {
namespace {

namespace fs = std::filesystem;
using namespace codes;

TEST(InstallLayout, ABuildTreeKeepsEverythingBesideTheProgram) {
    test::TempDir dir;
    fs::create_directories(dir / "build/dev/bin/trust");
    for (const std::string& program : {dir / "build/dev/bin", dir / "build/dev/bin/"}) {
        const auto layout = platform::LayoutFor(program);
        EXPECT_FALSE(layout.installed);
        EXPECT_EQ(layout.helperDirectory, dir / "build/dev/bin/");
        EXPECT_EQ(layout.shippedTrust, dir / "build/dev/bin/trust");
        EXPECT_TRUE(layout.adminTrust.empty());
    }
    // A folder named bin without share/halyard beside it is a build tree too.
    fs::create_directories(dir / "opt/bin");
    EXPECT_FALSE(platform::LayoutFor(dir / "opt/bin").installed);
}

TEST(InstallLayout, AnInstalledTreeIsFoundFromBinAndFromLibexec) {
    test::TempDir dir;
    for (const char* sub :
         {"opt/halyard/bin", "opt/halyard/libexec/halyard", "opt/halyard/share/halyard/trust"}) {
        fs::create_directories(dir / sub);
    }
    for (const char* program : {"opt/halyard/bin", "opt/halyard/libexec/halyard/"}) {
        const auto layout = platform::LayoutFor(dir / program);
        EXPECT_TRUE(layout.installed) << program;
        EXPECT_EQ(layout.helperDirectory, dir / "opt/halyard/libexec/halyard/");
        EXPECT_EQ(layout.shippedTrust, dir / "opt/halyard/share/halyard/trust");
        // A prefix other than .../usr keeps its administrator's folder below itself.
        EXPECT_EQ(layout.adminTrust, dir / "opt/halyard/etc/halyard/trust");
    }
}

TEST(InstallLayout, APackageUnpackedIntoARootReadsThatRootsEtc) {
    test::TempDir dir;
    fs::create_directories(dir / "root/usr/bin");
    fs::create_directories(dir / "root/usr/share/halyard/trust");
    const auto layout = platform::LayoutFor(dir / "root/usr/bin");
    EXPECT_TRUE(layout.installed);
    EXPECT_EQ(layout.adminTrust, dir / "root/etc/halyard/trust");
    EXPECT_EQ(layout.shippedTrust, dir / "root/usr/share/halyard/trust");
}

TEST(InstallLayout, TheRunningTestIsABuildTreeProgram) {
    const auto& layout = platform::ProgramLayout();
    EXPECT_FALSE(layout.installed);
    EXPECT_EQ(layout.shippedTrust, test::BinDir() + "trust");
    EXPECT_EQ(platform::TrustFolders(), std::vector<std::string>{test::BinDir() + "trust"});
    EXPECT_EQ(platform::HelperFolders().front(), test::BinDir());
}

// A self-signed certificate with the subject of another one and a key of its own.
std::string Impostor(const std::string& certPem) {
    std::unique_ptr<BIO, decltype(&BIO_free)> in(BIO_new_mem_buf(certPem.data(), -1), BIO_free);
    std::unique_ptr<X509, decltype(&X509_free)> model(
        PEM_read_bio_X509(in.get(), nullptr, nullptr, nullptr), X509_free);
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_RSA_gen(2048), EVP_PKEY_free);
    std::unique_ptr<X509, decltype(&X509_free)> cert(X509_new(), X509_free);
    if (!model || !key || !cert) {
        return {};
    }
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 7);
    X509_set_subject_name(cert.get(), X509_get_subject_name(model.get()));
    X509_set_issuer_name(cert.get(), X509_get_subject_name(model.get()));
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -86400);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 86400L * 365);
    X509_set_pubkey(cert.get(), key.get());
    if (X509_sign(cert.get(), key.get(), EVP_sha256()) == 0) {
        return {};
    }
    std::unique_ptr<BIO, decltype(&BIO_free)> out(BIO_new(BIO_s_mem()), BIO_free);
    PEM_write_bio_X509(out.get(), cert.get());
    char* data = nullptr;
    const long size = BIO_get_mem_data(out.get(), &data);
    return std::string(data, static_cast<std::size_t>(size));
}

TEST(TrustFolders, TheFirstFoldersRootWinsForOneSubject) {
    const auto& pki = fixtures::BuildTestPki();
    test::TempDir dir;
    fixtures::CatalogRecipe recipe;
    recipe.signer = &pki.whcp;
    recipe.certificates = {&pki.whcp, &pki.intermediate};
    fixtures::WriteCatalog(dir / "a.cat", recipe);
    const auto catalog = trust::ParseCatalogFile(dir / "a.cat");
    ASSERT_TRUE(catalog);
    const auto status = [&](const std::vector<std::string>& folders) {
        const trust::TrustAnchors anchors(folders);
        return trust::VerifyParsedCatalogSignature(**catalog, anchors, std::time(nullptr)).status;
    };
    fs::create_directories(dir / "admin");
    fs::create_directories(dir / "shipped");
    test::WriteFile(dir / "shipped/root.pem", pki.root.certPem);
    const std::string impostor = Impostor(pki.root.certPem);
    ASSERT_FALSE(impostor.empty());
    test::WriteFile(dir / "admin/replacement.pem", impostor);

    EXPECT_EQ(status({dir / "shipped"}), 0u);
    EXPECT_EQ(status({dir / "shipped", dir / "admin"}), 0u);
    // The administrator's root with that subject is the one used: the chain no longer holds.
    EXPECT_NE(status({dir / "admin", dir / "shipped"}), 0u);
    // A missing administrator's folder changes nothing.
    EXPECT_EQ(status({dir / "missing", dir / "shipped"}), 0u);
    // Roots of other subjects add up.
    fs::remove(dir / "admin/replacement.pem");
    test::WriteFile(dir / "admin/other.pem", pki.untrustedRoot.certPem);
    const trust::TrustAnchors both({dir / "admin", dir / "shipped"});
    EXPECT_EQ(both.certificateCount(), 2u);
    EXPECT_EQ(status({dir / "admin", dir / "shipped"}), 0u);
}

} // namespace
} // namespace halyard
