// Packages signed as the WHQL catalogs of 2009-2011: through a root and an intermediate without
// basicConstraints, with a publisher that has expired since and a time stamp whose own chain ends
// at that root. The package check (and the stand-in and catinspect --package it is compared
// with) accepts them as Windows does; an issuer the constraints forbid still fails.
#include "package_builder.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace halyard::test {
namespace {

using Lines = std::vector<std::string>;

class LegacyChainPackage : public ::testing::Test {
protected:
    void SetUp() override { HALYARD_NEED(!SevenZip().empty(), "7zz"); }

    RunResult Check(const fixtures::Identity& signer, fixtures::TimeStampKind kind,
                    const fixtures::Identity& tsa) {
        PackageBuilder pkg;
        fixtures::PeOptions pe64;
        pe64.pe32Plus = true;
        pkg.addPe("x64/driver.sys", pe64);
        pkg.catalog().signer = &signer;
        pkg.catalog().timeStamp = kind;
        pkg.catalog().timeStampAuthority = &tsa;
        pkg.catalog().thisUpdate = 1275395696; // 2010-06-01 12:34:56 UTC
        pkg.catalog().timeStampTime = pkg.catalog().thisUpdate;
        pkg.params()["DateSign"] = "06-01-2010 12-34-56";
        const auto r = RunPackageCheck({pkg.pack()});
        EXPECT_EQ(r.exitCode, 0);
        return r;
    }
};

TEST_F(LegacyChainPackage, WhqlCatalogOfTwoThousandTenPasses) {
    const auto& pki = fixtures::BuildTestPki();
    for (const auto kind : {fixtures::TimeStampKind::Rfc3161, fixtures::TimeStampKind::Legacy}) {
        EXPECT_EQ(Check(pki.legacyWhcp, kind, pki.legacyTsa).lines, Lines{"success"});
    }
}

TEST_F(LegacyChainPackage, AnIssuerWithCaFalseFails) {
    const auto& pki = fixtures::BuildTestPki();
    const auto r = Check(pki.notCaLeaf, fixtures::TimeStampKind::Rfc3161, pki.legacyTsa);
    ASSERT_EQ(r.lines.size(), 3u) << r.output;
    EXPECT_NE(r.lines[0].find("; Params: 80096019; "), std::string::npos) << r.lines[0];
    EXPECT_EQ(r.lines[2], "wrong:VerifyAndGetHashes failed");
}

} // namespace
} // namespace halyard::test
