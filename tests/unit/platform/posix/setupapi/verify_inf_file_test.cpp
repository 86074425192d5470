// SetupVerifyInfFileW of the POSIX Setup API library, called through the binding as the pair
// check calls it: INF/catalog pairs signed by the test PKI, and bad arguments.
#include "setup_verify_inf_file.h"

#include <gtest/gtest.h>
#include <string>

namespace halyard {
namespace {

const std::string kInf = "[Version]\r\nSignature=\"$Windows NT$\"\r\nCatalogFile=driver.cat\r\n";

TEST_F(SetupVerifyInfFileTest, CatalogDirectiveAndCatalogFile) {
    const auto& pki = fixtures::BuildTestPki();
    // No directive at all, or an empty one.
    test::WriteFile(dir_ / "none.inf", "[Version]\r\nSignature=\"$Windows NT$\"\r\n");
    EXPECT_EQ(Call(dir_ / "none.inf").error, codes::kErrorNoCatalogForOemInf);
    test::WriteFile(dir_ / "empty.inf", "[Version]\r\nCatalogFile= ; nothing\r\n");
    EXPECT_EQ(Call(dir_ / "empty.inf").error, codes::kErrorNoCatalogForOemInf);
    // A directive whose catalog is not there, or that points out of the folder.
    test::WriteFile(dir_ / "missing.inf", "[Version]\r\nCatalogFile=missing.cat\r\n");
    EXPECT_EQ(Call(dir_ / "missing.inf").error, codes::kCryptEFileError);
    test::WriteFile(dir_ / "outside.inf", "[Version]\r\nCatalogFile=../driver.cat\r\n");
    EXPECT_EQ(Call(dir_ / "outside.inf").error, codes::kCryptEFileError);
    // A catalog that is not a catalog keeps the reader's reason.
    test::WriteFile(dir_ / "junk.inf", "[Version]\r\nCatalogFile=junk.cat\r\n");
    test::WriteFile(dir_ / "junk.cat", "not a catalog at all");
    const Answer junk = Call(dir_ / "junk.inf");
    EXPECT_FALSE(junk.ok);
    EXPECT_NE(junk.error, 0u);
    EXPECT_NE(junk.error, codes::kCryptEFileError);

    // Comments and quotes around the value are the INF parser's business.
    const std::string inf = SignedPair("[version]\r\ncatalogfile = \"Driver.CAT\" ; signed\r\n",
                                       "driver.cat", pki.whcp);
    const Answer a = Call(inf);
    EXPECT_TRUE(a.ok) << std::hex << a.error;
    EXPECT_EQ(a.catalogFile, Full("driver.cat"));
    EXPECT_EQ(a.digitalSigner, kWhcp);
}

TEST_F(SetupVerifyInfFileTest, DecoratedDirectiveWinsForItsPlatform) {
    const auto& pki = fixtures::BuildTestPki();
    const std::string inf = SignedPair("[Version]\r\nCatalogFile=other.cat\r\n"
                                       "CatalogFile.NTamd64=driver.cat\r\n"
                                       "CatalogFile.NTx86=x86.cat\r\n",
                                       "driver.cat", pki.whcp);
    EXPECT_TRUE(Call(inf).ok);
    auto x86 = AltPlatform(setupapi::kProcessorArchitectureIntel, 10, 0);
    EXPECT_EQ(Call(inf, &x86).error, codes::kCryptEFileError);
    // ARM64 has no decorated entry: the undecorated one covers it.
    test::CopyFile(dir_ / "driver.cat", dir_ / "other.cat");
    auto arm64 = AltPlatform(setupapi::kProcessorArchitectureArm64, 10, 0);
    const Answer a = Call(inf, &arm64);
    EXPECT_TRUE(a.ok) << std::hex << a.error;
    EXPECT_EQ(a.catalogFile, Full("other.cat"));
}

TEST_F(SetupVerifyInfFileTest, SignerAndChainDecideTheAnswer) {
    const auto& pki = fixtures::BuildTestPki();
    {
        const Answer a = Call(SignedPair(kInf, "driver.cat", pki.contoso));
        EXPECT_FALSE(a.ok);
        EXPECT_EQ(a.error, codes::kErrorAuthenticodeTrustNotEstablished);
        EXPECT_EQ(a.digitalSigner, "Contoso Test Publisher");
        EXPECT_EQ(a.catalogFile, Full("driver.cat"));
    }
    {
        const Answer a = Call(SignedPair(kInf, "driver.cat", pki.untrustedLeaf));
        EXPECT_FALSE(a.ok);
        EXPECT_EQ(a.error, codes::kCertEUntrustedRoot);
    }
    {
        // A catalog-level OSAttr speaks when the member has none; a member's own one wins.
        const Answer a = Call(SignedPair(kInf, "driver.cat", pki.whcp, {}, {OsAttr("2:6.1")}));
        EXPECT_EQ(a.error, codes::kErrorSignatureOsattributeMismatch);
        const Answer b =
            Call(SignedPair(kInf, "driver.cat", pki.whcp, {OsAttr("2:10.0")}, {OsAttr("2:6.1")}));
        EXPECT_TRUE(b.ok) << std::hex << b.error;
    }
    {
        // No OSAttr anywhere restricts nothing; a v1 catalog matches by the SHA-1 tag.
        const Answer a = Call(SignedPair(kInf, "driver.cat", pki.whcp, {}, {}, 1));
        EXPECT_TRUE(a.ok) << std::hex << a.error;
        EXPECT_EQ(a.signerVersion, "");
    }
    {
        // Malformed OSAttr entries cover nothing; a well-formed one among them still counts.
        const Answer a =
            Call(SignedPair(kInf, "driver.cat", pki.whcp, {OsAttr("2:x.0, junk,2:10.0")}));
        EXPECT_TRUE(a.ok) << std::hex << a.error;
        const Answer b = Call(SignedPair(kInf, "driver.cat", pki.whcp, {OsAttr("2:10")}));
        EXPECT_EQ(b.error, codes::kErrorSignatureOsattributeMismatch);
    }
}

TEST_F(SetupVerifyInfFileTest, BadArgumentsAreRefused) {
    const std::string missingDir = dir_ / "nowhere/driver.inf";
    EXPECT_EQ(Call(missingDir).error, codes::kPathNotFound);
    EXPECT_EQ(Call(dir_ / "absent.inf").error, codes::kFileNotFound);

    test::WriteFile(dir_ / "x.inf", kInf);
    const Answer badSize = Call(dir_ / "x.inf", nullptr, 1000);
    EXPECT_FALSE(badSize.ok);
    EXPECT_EQ(badSize.error, 1784u);
    auto alt = AltPlatform(setupapi::kProcessorArchitectureAmd64, 10, 0);
    alt.cbSize = 24;
    EXPECT_EQ(Call(dir_ / "x.inf", &alt).error, 1784u);

    setupapi::SP_INF_SIGNER_INFO_V1_W info{};
    info.cbSize = sizeof(info);
    EXPECT_EQ(SetupVerifyInfFile(nullptr, nullptr, &info), 0);
    EXPECT_EQ(SetupApiGetLastError(), 87u);
}

} // namespace
} // namespace halyard
