// "/verify" end to end: the built program, its Setup API library and the trust folder, on
// INF/catalog pairs signed by the test PKI and on folders and files the check must refuse.
#include "base/outcome.h"
#include "fixtures.h"
#include "halyard/trust/parse.h"
#include "platform/filestream.h"
#include "platform/messages.h"
#include "testkit.h"
#include "verify_folder.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace halyard {
namespace {

namespace fs = std::filesystem;

using Lines = std::vector<std::string>;

using test::VerifyFolder;

// An INF with the directive, in a catalog signed by the signer (OSAttr 2:10.0) under catName.
std::string SignedPair(const std::string& folder, const fixtures::Identity& signer,
                       const std::string& directive = "driver.cat",
                       const std::string& catName = "driver.cat") {
    const std::string inf = folder + "/driver.inf";
    test::WriteFile(inf, "[Version]\r\nCatalogFile=" + directive + "\r\n");
    fixtures::CatalogRecipe recipe;
    recipe.version = 2;
    recipe.hash = platform::DigestAlgorithm::Sha256;
    recipe.signer = &signer;
    fixtures::AddFileMember(
        recipe, inf, {},
        {fixtures::CatAttr{"OSAttr", "2:10.0", fixtures::kNameValueFlags, std::nullopt}});
    fixtures::WriteCatalog(folder + "/" + catName, recipe);
    return folder;
}

// The line /verify writes before a verdict that would leave the Setup API's code unexplained.
std::string SetupApiCause(const std::string& inf, std::uint32_t code) {
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08X", code);
    return "VerifyInfAndCat: SetupVerifyInfFile fail; Params: " + inf + "; Last error: " + hex +
           " " + platform::SysErrorMessage(code);
}

class VerifyMode : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(
            fs::exists(test::BinDir() + "trust/microsoft-root-certificate-authority-2010.pem"))
            << "the public roots belong in the build's trust folder";
    }
    test::TempDir tmp_;
};

TEST_F(VerifyMode, RelativeFolderArgument) {
    SignedPair(tmp_ / "pair", fixtures::BuildTestPki().whcp);
    EXPECT_EQ(VerifyFolder("pair", tmp_.path()), Lines{"success"});
    EXPECT_EQ(VerifyFolder("./pair/", tmp_.path()), Lines{"success"});
}

TEST_F(VerifyMode, DirectiveProblemsFail) {
    const std::string signedCat =
        SignedPair(tmp_ / "pair", fixtures::BuildTestPki().whcp) + "/driver.cat";
    {
        // No CatalogFile directive: both calls find no catalog.
        const std::string folder = tmp_ / "nodirective";
        test::WriteFile(folder + "/driver.inf", "[Version]\r\nSignature=\"$Windows NT$\"\r\n");
        test::CopyFile(signedCat, folder + "/signed.cat");
        EXPECT_EQ(VerifyFolder(folder), (Lines{"wrong:NoCatalog", "fail"}));
    }
    {
        // The directive names a catalog that is not there.
        const std::string folder = tmp_ / "missing";
        test::WriteFile(folder + "/driver.inf", "[Version]\r\nCatalogFile=other.cat\r\n");
        test::CopyFile(signedCat, folder + "/signed.cat");
        EXPECT_EQ(VerifyFolder(folder),
                  (Lines{SetupApiCause(folder + "/driver.inf", codes::kCryptEFileError),
                         "wrong:Unknown error 80092003", "fail"}));
    }
}

TEST_F(VerifyMode, TestPkiPairs) {
    const auto& pki = fixtures::BuildTestPki();
    auto pair = [&](const std::string& name, const fixtures::Identity& signer,
                    const std::string& directive, const std::string& catName) {
        return SignedPair(tmp_ / name, signer, directive, catName);
    };
    EXPECT_EQ(VerifyFolder(pair("whcp", pki.whcp, "driver.cat", "driver.cat")), Lines{"success"});
    EXPECT_EQ(VerifyFolder(pair("contoso", pki.contoso, "driver.cat", "driver.cat")).back(),
              "ignore");
    EXPECT_EQ(VerifyFolder(pair("untrusted", pki.untrustedLeaf, "driver.cat", "driver.cat")),
              (Lines{SetupApiCause(tmp_ / "untrusted/driver.inf", codes::kCertEUntrustedRoot),
                     "ignore"}));

    // The INF is verified through a catalog that is not the folder's *.cat.
    const std::string other = pair("other", pki.whcp, "driver.sig", "driver.sig");
    test::WriteFile(other + "/unrelated.cat", "x");
    EXPECT_EQ(VerifyFolder(other), (Lines{"wrong:DifferentCatalog", "fail"}));
}

// An expired publisher whose time stamp's RSA block holds the bare digest (the old
// VeriSign/Symantec form, which Windows accepts) is judged at the time stamp.
TEST_F(VerifyMode, LegacyFormTimeStampOfAnExpiredPublisher) {
    auto folderWith = [&](const std::string& name, bool digestChanged) {
        const std::string folder = tmp_ / name;
        const std::string inf = folder + "/driver.inf";
        test::WriteFile(inf, "[Version]\r\nCatalogFile=driver.cat\r\n");
        fixtures::CatalogRecipe recipe;
        recipe.version = 2;
        recipe.hash = platform::DigestAlgorithm::Sha256;
        recipe.signer = &fixtures::BuildTestPki().whcpExpired;
        recipe.timeStamp = fixtures::TimeStampKind::Legacy;
        recipe.timeStampStyle.bareDigest = true;
        recipe.timeStampStyle.alterDigest = digestChanged;
        fixtures::AddFileMember(
            recipe, inf, {},
            {fixtures::CatAttr{"OSAttr", "2:10.0", fixtures::kNameValueFlags, std::nullopt}});
        fixtures::WriteCatalog(folder + "/driver.cat", recipe);
        return folder;
    };
    EXPECT_EQ(VerifyFolder(folderWith("bare", false)), Lines{"success"});
    EXPECT_EQ(VerifyFolder(folderWith("changed", true)),
              (Lines{SetupApiCause(tmp_ / "changed/driver.inf", codes::kCertEExpired),
                     "wrong:Unknown error 800B0101", "fail"}));
}

TEST_F(VerifyMode, FolderShapeAndMissingLibrary) {
    const std::string empty = tmp_ / "empty";
    fs::create_directories(empty);
    EXPECT_EQ(VerifyFolder(empty), (Lines{"wrong:no single inf file: " + empty, "fail"}));

    // A folder that cannot be listed is an error for the front end's handler.
    const Lines missing = VerifyFolder(tmp_ / "absent");
    ASSERT_EQ(missing.size(), 1u);
    EXPECT_EQ(missing[0].rfind("wrong:", 0), 0u);
    EXPECT_NE(missing[0], "fail");

    // The program without its Setup API library beside it.
    const std::string alone = tmp_ / "alone";
    test::CopyFile(test::BinDir() + "halyard", alone + "/halyard");
    fs::permissions(alone + "/halyard", fs::perms::owner_exec, fs::perm_options::add);
    const std::string folder = SignedPair(tmp_ / "pair", fixtures::BuildTestPki().whcp);
    const auto run = test::Run(alone + "/halyard", {"/verify", folder});
    EXPECT_EQ(run.lines, (Lines{"wrong:LoadSetupApi failed", "fail"}));
}

// What the check cannot read is named on a line of its own before the verdict, and nothing
// blocks or grows without end: a FIFO (an open() would wait for a writer for ever), a link to an
// endless device, a file above the INF size cap.
TEST_F(VerifyMode, InputsThatAreNoRegularFileOrTooLargeAreNamed) {
    const std::string cat =
        SignedPair(tmp_ / "pair", fixtures::BuildTestPki().whcp) + "/driver.cat";
    const auto refused = [](const std::string& path, std::uint32_t code) {
        char hex[9];
        std::snprintf(hex, sizeof hex, "%08X", code);
        return "VerifyInfAndCat: Cannot read; Params: " + path + "; Last error: " + hex + " " +
               platform::SysErrorMessage(code);
    };
    const std::string unreadable = "wrong:Unknown error 00000780";
    {
        const std::string folder = tmp_ / "fifo";
        fs::create_directories(folder);
        ASSERT_EQ(::mkfifo((folder + "/x.inf").c_str(), 0600), 0);
        test::CopyFile(cat, folder + "/tidepoolhid.cat");
        EXPECT_EQ(VerifyFolder(folder),
                  (Lines{refused(folder + "/x.inf", codes::kCantAccessFile), unreadable, "fail"}));
    }
    {
        const std::string folder = tmp_ / "zero";
        fs::create_directories(folder);
        fs::create_symlink("/dev/zero", folder + "/x.inf");
        test::CopyFile(cat, folder + "/tidepoolhid.cat");
        EXPECT_EQ(VerifyFolder(folder),
                  (Lines{refused(folder + "/x.inf", codes::kCantAccessFile), unreadable, "fail"}));
    }
    {
        const std::string folder = tmp_ / "large";
        test::WriteFile(folder + "/x.inf", "[Version]\r\nCatalogFile=tidepoolhid.cat\r\n");
        fs::resize_file(folder + "/x.inf", platform::kMaxInfFileSize + 1);
        test::CopyFile(cat, folder + "/tidepoolhid.cat");
        EXPECT_EQ(VerifyFolder(folder), (Lines{refused(folder + "/x.inf", codes::kFileTooLarge),
                                               "wrong:Unknown error 000000DF", "fail"}));
    }
    {
        // The INF names a catalog that is a FIFO: as a catalog that cannot be read.
        const std::string folder = tmp_ / "fifocat";
        test::WriteFile(folder + "/x.inf", "[Version]\r\nCatalogFile=x.cat\r\n");
        ASSERT_EQ(::mkfifo((folder + "/x.cat").c_str(), 0600), 0);
        EXPECT_EQ(VerifyFolder(folder), (Lines{refused(folder + "/x.cat", codes::kCantAccessFile),
                                               "wrong:Unknown error 80092003", "fail"}));
    }
    {
        // A catalog above the size cap is a catalog that cannot be read, whatever the file
        // error: the trust service's CRYPT_E_FILE_ERROR, as in the package check.
        const std::string folder = SignedPair(tmp_ / "largecat", fixtures::BuildTestPki().whcp);
        fs::resize_file(folder + "/driver.cat", trust::kMaxCatalogFileSize + 1);
        EXPECT_EQ(VerifyFolder(folder),
                  (Lines{SetupApiCause(folder + "/driver.inf", codes::kCryptEFileError),
                         "wrong:Unknown error 80092003", "fail"}));
    }
}

} // namespace
} // namespace halyard
