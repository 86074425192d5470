// The Setup API binding over real shared libraries: the POSIX library beside the program, the
// test doubles (complete, and one lacking a single export) and a library that does not exist.
#include "external/jwa_module_loader.h"
#include "external/setupapi/setupapi.h"
#include "platform/module.h"
#include "testkit.h"

#include <gtest/gtest.h>
#include <string>

namespace halyard {
namespace {

// Calls a stub through a type with no parameters (the stubs read none).
template <class To, class From>
To As(From fn) {
    return reinterpret_cast<To>(reinterpret_cast<void*>(fn));
}

std::string DoublePath(const std::string& variant) {
    return test::BinDir() + "setupapi-doubles/libsetupapi_" + variant + ".so";
}

class SetupApiBinding : public ::testing::Test {
protected:
    void TearDown() override {
        while (SetupApiLoadCount > 0) {
            UnloadSetupApi();
        }
        UnloadSetupApi();
    }

    static void ExpectUnbound() {
        EXPECT_EQ(SetupApiLoadCount, 0);
        EXPECT_EQ(SetupApiLib, nullptr);
        for (const auto& entry : SetupApiEntries()) {
            EXPECT_EQ(entry.value(), nullptr) << entry.variable;
        }
    }

    // Every entry holds the address of its own export in the loaded library.
    static void ExpectBoundTo(TModuleHandle lib) {
        for (const auto& entry : SetupApiEntries()) {
            const void* exported = platform::GetModuleSymbol(lib, entry.exportName);
            ASSERT_NE(exported, nullptr) << entry.exportName;
            EXPECT_EQ(entry.value(), exported) << entry.variable;
        }
    }
};

TEST_F(SetupApiBinding, CompleteLibraryBindsEveryEntry) {
    ASSERT_TRUE(LoadSetupApiFrom(DoublePath("complete")));
    EXPECT_EQ(SetupApiLoadCount, 1);
    ASSERT_NE(SetupApiLib, nullptr);
    ExpectBoundTo(SetupApiLib);
    EXPECT_NE(SetupVerifyInfFile, nullptr);
    EXPECT_EQ(SetupVerifyInfFile, SetupVerifyInfFileW);
}

TEST_F(SetupApiBinding, FurtherLoadsCountAndTheLastUnloadFrees) {
    ASSERT_TRUE(LoadSetupApiFrom(DoublePath("complete")));
    const TModuleHandle lib = SetupApiLib;
    // The second call only counts: it would not even look at another file.
    EXPECT_TRUE(LoadSetupApiFrom("/nonexistent/libsetupapi.so"));
    EXPECT_EQ(SetupApiLoadCount, 2);
    EXPECT_EQ(SetupApiLib, lib);

    UnloadSetupApi();
    EXPECT_EQ(SetupApiLoadCount, 1);
    EXPECT_EQ(SetupApiLib, lib);
    ExpectBoundTo(lib);

    UnloadSetupApi();
    ExpectUnbound();
}

TEST_F(SetupApiBinding, OneMissingExportLeavesNothingBound) {
    const std::string path = DoublePath("missing_one");
    {
        // The library itself loads; it lacks exactly one of the names.
        const auto handle = platform::LoadModuleLibrary(path);
        ASSERT_NE(handle, nullptr);
        EXPECT_EQ(platform::GetModuleSymbol(handle, "SetupOpenMasterInf"), nullptr);
        EXPECT_NE(platform::GetModuleSymbol(handle, "SetupVerifyInfFileW"), nullptr);
        platform::FreeModuleLibrary(handle);
    }
    EXPECT_FALSE(LoadSetupApiFrom(path));
    ExpectUnbound();
}

TEST_F(SetupApiBinding, NoLibraryLeavesNothingBoundAndALaterCallTriesAgain) {
    EXPECT_FALSE(LoadSetupApiFrom("/nonexistent/libsetupapi.so"));
    ExpectUnbound();
    EXPECT_FALSE(LoadSetupApiFrom("/nonexistent/libsetupapi.so"));
    ExpectUnbound();
    EXPECT_TRUE(LoadSetupApiFrom(DoublePath("complete")));
    EXPECT_EQ(SetupApiLoadCount, 1);
}

TEST_F(SetupApiBinding, UnmatchedUnloadKeepsTheCountAtZero) {
    UnloadSetupApi();
    UnloadSetupApi();
    ExpectUnbound();
    ASSERT_TRUE(LoadSetupApiFrom(DoublePath("complete")));
    EXPECT_EQ(SetupApiLoadCount, 1);
    UnloadSetupApi();
    ExpectUnbound();
}

TEST_F(SetupApiBinding, PosixLibraryBesideTheProgramExportsEveryNameAndFailsTheRest) {
    ASSERT_FALSE(platform::ResolveModulePath("SetupApi.dll").empty());
    ASSERT_TRUE(LoadSetupApi());
    ExpectBoundTo(SetupApiLib);
    // Its own copy of the platform layer stays inside: nothing of it can be interposed.
    EXPECT_EQ(platform::GetModuleSymbol(SetupApiLib, "_ZN7halyard8platform12GetOsVersionEv"),
              nullptr);

    using BoolProc = setupapi::BOOL (*)();
    using HandleProc = void* (*)();
    using LongProc = std::int32_t (*)();
    EXPECT_EQ(As<BoolProc>(SetupGetFileQueueCount)(), 0);
    EXPECT_EQ(SetupApiGetLastError(), 120u);
    EXPECT_EQ(As<HandleProc>(SetupDiGetClassDevs)(),
              reinterpret_cast<void*>(static_cast<std::intptr_t>(-1)));
    EXPECT_EQ(As<LongProc>(SetupGetLineCountW)(), -1);
    EXPECT_EQ(As<BoolProc>(SetupVerifyInfFileA)(), 0);
    EXPECT_EQ(SetupApiGetLastError(), 120u);
}

TEST(JwaModuleLoader, LoadsOnceUnloadsAndAccumulatesLookups) {
    TModuleHandle module = nullptr;
    EXPECT_FALSE(LoadModule(module, "/nonexistent/libnothing.so"));
    EXPECT_EQ(module, nullptr);

    ASSERT_TRUE(LoadModule(module, DoublePath("complete")));
    const TModuleHandle first = module;
    // A set handle is kept; nothing else is loaded.
    EXPECT_TRUE(LoadModule(module, "/nonexistent/libnothing.so"));
    EXPECT_EQ(module, first);

    bool accu = true;
    EXPECT_NE(GetModuleSymbolEx(module, "SetupVerifyInfFileW", accu), nullptr);
    EXPECT_TRUE(accu);
    EXPECT_EQ(GetModuleSymbolEx(module, "NoSuchExport", accu), nullptr);
    EXPECT_FALSE(accu);
    EXPECT_NE(GetModuleSymbolEx(module, "SetupVerifyInfFileW", accu), nullptr);
    EXPECT_FALSE(accu);

    UnloadModule(module);
    EXPECT_EQ(module, nullptr);
    UnloadModule(module);
    EXPECT_EQ(module, nullptr);

    accu = true;
    EXPECT_EQ(GetModuleSymbolEx(nullptr, "SetupVerifyInfFileW", accu), nullptr);
    EXPECT_FALSE(accu);
}

} // namespace
} // namespace halyard
