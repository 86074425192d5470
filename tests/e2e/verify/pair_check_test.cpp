// The INF and catalog pair check against a Setup API double that answers each last-error code of
// the check's table, with the signer record as told.
#include "../../../tools/setupapi-doubles/setupapi_double.h"
#include "base/outcome.h"
#include "base/unicode.h"
#include "external/setupapi/setupapi.h"
#include "platform/module.h"
#include "report/output.h"
#include "testkit.h"
#include "verify/checks.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>

namespace halyard {
namespace {

constexpr const char* kWhcp = "Microsoft Windows Hardware Compatibility Publisher";

struct Outcome {
    bool result = false;
    bool res = false;
    std::vector<std::string> lines;
};

class PairCheckWithDouble : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(LoadSetupApiFrom(test::BinDir() + "setupapi-doubles/libsetupapi_complete.so"));
        reset_ = Symbol<THalyardSetupApiDoubleReset>("HalyardSetupApiDoubleReset");
        addAnswer_ = Symbol<THalyardSetupApiDoubleAddAnswer>("HalyardSetupApiDoubleAddAnswer");
        callCount_ = Symbol<THalyardSetupApiDoubleCallCount>("HalyardSetupApiDoubleCallCount");
        getCall_ = Symbol<THalyardSetupApiDoubleGetCall>("HalyardSetupApiDoubleGetCall");
        reset_();
        test::WriteFile(dir_ / "driver.inf", "[Version]\r\n");
        test::WriteFile(dir_ / "driver.cat", "catalog");
        catPath_ = dir_ / "driver.cat";
    }

    void TearDown() override {
        while (SetupApiLoadCount > 0) {
            UnloadSetupApi();
        }
    }

    template <class Fn>
    static Fn Symbol(const char* name) {
        return reinterpret_cast<Fn>(platform::GetModuleSymbol(SetupApiLib, name));
    }

    void Answer(bool result, std::uint32_t lastError, const std::string& catalog = {},
                const std::string& signer = {}) {
        const std::u16string cat = Utf8ToUtf16(catalog);
        const std::u16string sig = Utf8ToUtf16(signer);
        const HalyardSetupApiDoubleAnswer answer{result ? 1 : 0, lastError, cat.c_str(),
                                                 sig.c_str()};
        addAnswer_(&answer);
    }

    Outcome Run() {
        Outcome out;
        OutputCapture capture;
        out.result = VerifyInfAndCat(dir_.path(), out.res);
        out.lines = capture.lines();
        return out;
    }

    HalyardSetupApiDoubleCall Call(int index) {
        HalyardSetupApiDoubleCall call{};
        EXPECT_TRUE(getCall_(index, &call));
        return call;
    }

    test::TempDir dir_;
    std::string catPath_;
    THalyardSetupApiDoubleReset reset_ = nullptr;
    THalyardSetupApiDoubleAddAnswer addAnswer_ = nullptr;
    THalyardSetupApiDoubleCallCount callCount_ = nullptr;
    THalyardSetupApiDoubleGetCall getCall_ = nullptr;
};

TEST_F(PairCheckWithDouble, VerifiedPairWithAnAcceptedSignerSucceeds) {
    Answer(true, 0, catPath_, kWhcp);
    const Outcome o = Run();
    EXPECT_TRUE(o.result);
    EXPECT_TRUE(o.res);
    EXPECT_TRUE(o.lines.empty());
    ASSERT_EQ(callCount_(), 1);
    const auto call = Call(0);
    EXPECT_EQ(Utf16ToUtf8(call.infName), dir_ / "driver.inf");
    EXPECT_EQ(call.signerCbSize, 1564u);
    EXPECT_FALSE(call.hadAltPlatform);
}

TEST_F(PairCheckWithDouble, SignerNamesAreComparedExactly) {
    const std::pair<const char*, bool> cases[] = {{kWhcp, true},
                                                  {"Microsoft Windows", true},
                                                  {"microsoft windows", false},
                                                  {"Microsoft Windows ", false},
                                                  {"Contoso Test Publisher", false},
                                                  {"", false}};
    for (const auto& [signer, accepted] : cases) {
        reset_();
        Answer(true, 0, catPath_, signer);
        const Outcome o = Run();
        EXPECT_TRUE(o.result) << signer;
        EXPECT_EQ(o.res, accepted) << signer;
        // "ignore" names the signer it did not accept.
        const std::string named = *signer != '\0' ? signer : "(none)";
        EXPECT_EQ(o.lines,
                  accepted ? std::vector<std::string>{}
                           : std::vector<std::string>{"VerifyInfAndCat: Not the accepted signer: " +
                                                      named + "; Params: " + catPath_})
            << signer;
    }
}

TEST_F(PairCheckWithDouble, AuthenticodeAnswersGoOnToTheCatalogAndSignerTests) {
    const std::pair<std::uint32_t, const char*> answers[] = {
        {codes::kErrorAuthenticodeTrustedPublisher,
         "E0000241 The software was signed by a publisher that is trusted"},
        {codes::kErrorAuthenticodeTrustNotEstablished,
         "E0000242 Trust in the publisher of the software could not be established"}};
    for (const auto& [code, text] : answers) {
        reset_();
        Answer(false, code, catPath_, "Contoso Test Publisher");
        Outcome o = Run();
        EXPECT_TRUE(o.result);
        EXPECT_FALSE(o.res);
        EXPECT_EQ(o.lines, std::vector<std::string>{
                               "VerifyInfAndCat: Not the accepted signer: Contoso Test Publisher; "
                               "Params: " +
                               catPath_ + "; Last error: " + text});

        reset_();
        Answer(false, code, catPath_, kWhcp);
        o = Run();
        EXPECT_TRUE(o.result);
        EXPECT_TRUE(o.res);

        reset_();
        Answer(false, code, "/elsewhere/driver.cat", kWhcp);
        o = Run();
        EXPECT_FALSE(o.result);
        EXPECT_EQ(o.lines, std::vector<std::string>{"wrong:DifferentCatalog"});
    }
}

TEST_F(PairCheckWithDouble, CodesThatEndTheCheck) {
    const std::pair<std::uint32_t, const char*> failures[] = {
        {codes::kPathNotFound, "wrong:NotFound"},
        {codes::kNotFound, "wrong:NoCatalog"},
        {codes::kErrorNoCatalogForOemInf, "wrong:NoCatalog"},
        {codes::kAccessDenied, "wrong:Unknown error 00000005"},
        {codes::kTrustENoSignature, "wrong:Unknown error 800B0100"},
        {codes::kCryptEFileError, "wrong:Unknown error 80092003"},
        {0, "wrong:Unknown error 00000000"}};
    for (const auto& [code, line] : failures) {
        reset_();
        Answer(false, code, catPath_, kWhcp);
        const Outcome o = Run();
        EXPECT_FALSE(o.result) << line;
        EXPECT_FALSE(o.res) << line;
        // A bare code gets the Setup API's answer with its text first.
        const bool named = std::string_view(line).starts_with("wrong:Unknown error");
        ASSERT_EQ(o.lines.size(), named ? 2u : 1u) << line;
        EXPECT_EQ(o.lines.back(), line);
        if (named) {
            EXPECT_TRUE(o.lines.front().starts_with(
                "VerifyInfAndCat: SetupVerifyInfFile fail; Params: " + (dir_ / "driver.inf") +
                "; Last error: " + std::string(line).substr(20)))
                << o.lines.front();
        }
    }
}

TEST_F(PairCheckWithDouble, CodesThatAreLetPassAsIgnore) {
    const std::pair<std::uint32_t, const char*> answers[] = {
        {codes::kCertEUntrustedRoot,
         "800B0109 A certification chain ended in a root certificate that is not trusted"},
        {codes::kCertEChaining,
         "800B010A A certificate chain could not be built to a trusted root authority"},
        {codes::kErrorSignatureOsattributeMismatch,
         "E0000244 The signature's operating-system attribute does not match this platform"}};
    for (const auto& [code, text] : answers) {
        reset_();
        // The record is not looked at: another catalog does not matter here.
        Answer(false, code, "/elsewhere/driver.cat", kWhcp);
        const Outcome o = Run();
        EXPECT_TRUE(o.result) << std::hex << code;
        EXPECT_FALSE(o.res) << std::hex << code;
        EXPECT_EQ(o.lines,
                  std::vector<std::string>{"VerifyInfAndCat: SetupVerifyInfFile fail; Params: " +
                                           (dir_ / "driver.inf") + "; Last error: " + text});
        EXPECT_EQ(callCount_(), 1);
    }
}

TEST_F(PairCheckWithDouble, FileErrorOrNoCatalogRetriesForThe64BitPlatform) {
    for (std::uint32_t first : {codes::kCryptEFileError, codes::kErrorNoCatalogForOemInf}) {
        reset_();
        Answer(false, first, "/first/call.cat", "First");
        Answer(true, 0, catPath_, kWhcp);
        const Outcome o = Run();
        EXPECT_TRUE(o.result);
        EXPECT_TRUE(o.res);
        ASSERT_EQ(callCount_(), 2);
        EXPECT_FALSE(Call(0).hadAltPlatform);
        const auto second = Call(1);
        ASSERT_TRUE(second.hadAltPlatform);
        EXPECT_EQ(second.signerCbSize, 1564u);
        EXPECT_EQ(second.altPlatform.cbSize, 28u);
        EXPECT_EQ(second.altPlatform.Platform, 2u);
        EXPECT_EQ(second.altPlatform.ProcessorArchitecture, 9u);
        EXPECT_EQ(second.altPlatform.MajorVersion, 0u);
        EXPECT_EQ(second.altPlatform.MinorVersion, 0u);
        EXPECT_EQ(second.altPlatform.Flags, 0u);
        EXPECT_EQ(second.altPlatform.FirstValidatedMajorVersion, 0u);
        EXPECT_EQ(second.altPlatform.FirstValidatedMinorVersion, 0u);
    }
    // The second call's own failure is what the table judges.
    reset_();
    Answer(false, codes::kCryptEFileError);
    Answer(false, codes::kCertEChaining);
    const Outcome o = Run();
    EXPECT_TRUE(o.result);
    EXPECT_FALSE(o.res);
    EXPECT_EQ(callCount_(), 2);
}

TEST_F(PairCheckWithDouble, CatalogPathComparisonIgnoresLetterCaseAndRelativeFolders) {
    std::string upper = catPath_;
    upper.replace(upper.size() - 10, 10, "DRIVER.CAT");
    Answer(true, 0, upper, kWhcp);
    Outcome o = Run();
    EXPECT_TRUE(o.result);
    EXPECT_TRUE(o.res);

    // The check run on a relative folder name still finds its catalog in the full path.
    reset_();
    Answer(true, 0, catPath_, kWhcp);
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(std::filesystem::path(dir_.path()).parent_path());
    bool res = false;
    OutputCapture capture;
    const bool result =
        VerifyInfAndCat(std::filesystem::path(dir_.path()).filename().string(), res);
    std::filesystem::current_path(previous);
    EXPECT_TRUE(result);
    EXPECT_TRUE(res);
    EXPECT_TRUE(capture.lines().empty());
}

TEST_F(PairCheckWithDouble, FolderMustHoldOneInfAndOneCatalog) {
    Answer(true, 0, catPath_, kWhcp);
    test::WriteFile(dir_ / "second.INF", "[Version]\r\n");
    Outcome o = Run();
    EXPECT_FALSE(o.result);
    EXPECT_EQ(o.lines, std::vector<std::string>{"wrong:no single inf file: " + dir_.path()});
    std::filesystem::remove(dir_ / "second.INF");

    test::WriteFile(dir_ / "second.Cat", "catalog");
    o = Run();
    EXPECT_EQ(o.lines, std::vector<std::string>{"wrong:no single cat file: " + dir_.path()});
    std::filesystem::remove(dir_ / "second.Cat");
    std::filesystem::remove(dir_ / "driver.cat");
    o = Run();
    EXPECT_EQ(o.lines, std::vector<std::string>{"wrong:no single cat file: " + dir_.path()});
    std::filesystem::remove(dir_ / "driver.inf");
    o = Run();
    EXPECT_EQ(o.lines, std::vector<std::string>{"wrong:no single inf file: " + dir_.path()});
    EXPECT_FALSE(o.res);
    // The Setup API was never asked.
    EXPECT_EQ(callCount_(), 0);
}

} // namespace
} // namespace halyard
