// SetupVerifyInfFileW of the POSIX Setup API library, called through the binding as the pair
// check calls it: the fixture shared by the tests on the test PKI and on real packages.
#pragma once

#include "base/outcome.h"
#include "base/unicode.h"
#include "external/setupapi/setupapi.h"
#include "fixtures.h"
#include "platform/module.h"
#include "testkit.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace halyard {

using fixtures::CatAttr;

inline constexpr const char* kWhcp = "Microsoft Windows Hardware Compatibility Publisher";

inline CatAttr OsAttr(const std::string& value) {
    return CatAttr{"OSAttr", value, fixtures::kNameValueFlags, std::nullopt};
}

struct Answer {
    bool ok = false;
    std::uint32_t error = 0;
    std::string catalogFile;
    std::string digitalSigner;
    std::string signerVersion;
};

inline std::string Field(const setupapi::WideChar* units) {
    std::u16string text;
    for (std::size_t i = 0; i < 260 && units[i] != 0; ++i) {
        text += units[i];
    }
    return Utf16ToUtf8(text);
}

inline setupapi::SP_ALTPLATFORM_INFO_V2 AltPlatform(std::uint16_t arch, std::uint32_t major,
                                                    std::uint32_t minor) {
    setupapi::SP_ALTPLATFORM_INFO_V2 alt{};
    alt.cbSize = sizeof(alt);
    alt.Platform = setupapi::kVerPlatformWin32Nt;
    alt.ProcessorArchitecture = arch;
    alt.MajorVersion = major;
    alt.MinorVersion = minor;
    alt.FirstValidatedMajorVersion = major;
    alt.FirstValidatedMinorVersion = minor;
    return alt;
}

class SetupVerifyInfFileTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // The program never unloads the library once it has called it; its statics (the case
        // locale, the catalog cache) live until the process ends. Keep the image mapped the same
        // way here, so that the suite's final unload does not orphan them.
        static const platform::ModuleHandle pin = platform::LoadModuleLibrary("SetupApi.dll");
        ASSERT_NE(pin, nullptr);
        ASSERT_TRUE(LoadSetupApi());
    }
    static void TearDownTestSuite() { UnloadSetupApi(); }

    static Answer Call(const std::string& inf, setupapi::SP_ALTPLATFORM_INFO_V2* alt = nullptr,
                       setupapi::DWORD cbSize = sizeof(setupapi::SP_INF_SIGNER_INFO_V1_W)) {
        setupapi::SP_INF_SIGNER_INFO_V2_W info{};
        info.cbSize = cbSize;
        const std::u16string name = Utf8ToUtf16(inf);
        Answer a;
        a.ok = SetupVerifyInfFile(name.c_str(), alt,
                                  reinterpret_cast<setupapi::SP_INF_SIGNER_INFO_V1_W*>(&info)) != 0;
        a.error = SetupApiGetLastError();
        a.catalogFile = Field(info.CatalogFile);
        a.digitalSigner = Field(info.DigitalSigner);
        a.signerVersion = Field(info.DigitalSignerVersion);
        return a;
    }

    // Writes an INF and a catalog signed by the test PKI that holds it as a member.
    std::string SignedPair(const std::string& infText, const std::string& catName,
                           const fixtures::Identity& signer,
                           const std::vector<CatAttr>& memberAttributes = {OsAttr("2:10.0")},
                           const std::vector<CatAttr>& catalogAttributes = {}, int version = 2) {
        const std::string inf = dir_ / "driver.inf";
        test::WriteFile(inf, infText);
        fixtures::CatalogRecipe recipe;
        recipe.version = version;
        recipe.hash =
            version == 2 ? platform::DigestAlgorithm::Sha256 : platform::DigestAlgorithm::Sha1;
        recipe.signer = &signer;
        recipe.attributes = catalogAttributes;
        fixtures::AddFileMember(recipe, inf, {}, memberAttributes);
        fixtures::WriteCatalog(dir_ / catName, recipe);
        return inf;
    }

    std::string Full(const std::string& relative) {
        return std::filesystem::weakly_canonical(dir_ / relative).string();
    }

    test::TempDir dir_;
};

} // namespace halyard
