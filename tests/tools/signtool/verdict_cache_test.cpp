// The SignTool stand-in's cache of its own catalog signature verdicts: the same output with and
// without it, and a tampered, stale or unsafe entry or folder only ever costs a new verification.
#include "crypto/catalog_parser.h"
#include "crypto/trust_catalog.h"
#include "crypto/trust_store.h"
#include "fixtures.h"
#include "testkit.h"
#include "verdict_cache.h"

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <gtest/gtest.h>
#include <limits>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace halyard {
namespace {

namespace fs = std::filesystem;
using fixtures::CatalogRecipe;

constexpr std::int64_t kEndOf2049 = 2524607999; // the test PKI's certificates expire then

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        if (value) {
            setenv(name, value->c_str(), 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

class VerdictCacheTest : public ::testing::Test {
protected:
    const fixtures::TestPki& pki = fixtures::BuildTestPki();
    test::TempDir dir;
    std::string driver = dir / "driver.sys";
    std::string cacheRoot = dir / "cache";
    std::string cacheFolder = cacheRoot + "/halyard";
    ScopedEnv xdg{"XDG_CACHE_HOME", cacheRoot};
    ScopedEnv enabled{"HALYARD_SIGNTOOL_CACHE", std::nullopt};

    void SetUp() override {
        fixtures::PeOptions pe;
        pe.fill = 0x3C;
        fixtures::WriteFileBytes(driver, fixtures::MakePeFile(pe));
    }

    std::string Catalog(const fixtures::Identity& signer, fixtures::TimeStampKind stamp,
                        const std::string& name) {
        CatalogRecipe recipe;
        recipe.signer = &signer;
        recipe.timeStamp = stamp;
        fixtures::AddFileMember(recipe, driver);
        const std::string path = dir / name;
        fixtures::WriteCatalog(path, recipe);
        return path;
    }

    test::RunResult StandIn(const std::string& catalog) {
        return test::Run(test::BinDir() + "SignTool.exe",
                         {"verify", "/v", "/kp", "/c", catalog, driver});
    }

    // The output without any cache.
    std::string Uncached(const std::string& catalog) {
        const ScopedEnv off("HALYARD_SIGNTOOL_CACHE", "0");
        return StandIn(catalog).output;
    }

    // The verdict entries (not the memo of the trust folders' digest).
    std::vector<std::string> Entries(const std::string& folder) {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(folder, ec)) {
            if (entry.path().filename().string().rfind("trust-", 0) != 0) {
                names.push_back(entry.path().string());
            }
        }
        return names;
    }
};

TEST_F(VerdictCacheTest, StandInPrintsTheSameWithTheCacheAndKeepsItPrivate) {
    std::size_t entries = 0;
    for (const auto* signer : {&pki.whcp, &pki.untrustedLeaf}) {
        const std::string cat =
            Catalog(*signer, fixtures::TimeStampKind::Rfc3161, signer->name + ".cat");
        const std::string expected = Uncached(cat);
        EXPECT_EQ(Entries(cacheFolder).size(), entries);
        EXPECT_EQ(StandIn(cat).output, expected); // verified, then stored
        EXPECT_EQ(Entries(cacheFolder).size(), ++entries);
        EXPECT_EQ(StandIn(cat).output, expected); // from the entry
    }
    struct stat st {};
    ASSERT_EQ(stat(cacheFolder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(VerdictCacheTest, MembersAreLookedUpTheSameWithAVerdictOnRecord) {
    // With the verdict on record only the asked member is decoded: a file the catalog does not
    // hold, and one changed after signing, answer as they do without the cache.
    const std::string cat = Catalog(pki.whcp, fixtures::TimeStampKind::Rfc3161, "m.cat");
    StandIn(cat);
    const std::string stranger = dir / "stranger.sys";
    fixtures::PeOptions pe;
    pe.fill = 0x5A;
    fixtures::WriteFileBytes(stranger, fixtures::MakePeFile(pe));
    const auto run = [&](const std::string& file) {
        return test::Run(test::BinDir() + "SignTool.exe", {"verify", "/kp", "/c", cat, file});
    };
    const auto uncached = [&](const std::string& file) {
        const ScopedEnv off("HALYARD_SIGNTOOL_CACHE", "0");
        return run(file);
    };
    for (const std::string& file : {driver, stranger}) {
        const auto expected = uncached(file);
        const auto cached = run(file);
        EXPECT_EQ(cached.output, expected.output) << file;
        EXPECT_EQ(cached.exitCode, expected.exitCode) << file;
    }
    EXPECT_EQ(run(stranger).exitCode, 1);
    auto bytes = fixtures::MakePeFile(fixtures::PeOptions{});
    fixtures::WriteFileBytes(driver, bytes); // no longer the signed content
    EXPECT_EQ(run(driver).output, uncached(driver).output);
    EXPECT_EQ(run(driver).exitCode, 1);
}

TEST_F(VerdictCacheTest, TamperedEntriesAreVerifiedAgain) {
    // The untrusted catalog's failing verdict, turned into a success in the entry.
    const std::string cat = Catalog(pki.untrustedLeaf, fixtures::TimeStampKind::Rfc3161, "u.cat");
    const std::string expected = Uncached(cat);
    ASSERT_NE(expected.find("SignTool Error"), std::string::npos);
    StandIn(cat);
    const auto entries = Entries(cacheFolder);
    ASSERT_EQ(entries.size(), 1u);
    const std::string entry = entries.front();
    const std::string valid = test::ReadFile(entry);
    const std::size_t status = valid.find("\nstatus ");
    ASSERT_NE(status, std::string::npos);
    std::string forged = valid;
    forged.replace(status, valid.find('\n', status + 1) - status, "\nstatus 0");
    test::WriteFile(dir / "other", valid);
    const std::vector<std::string> tamperings = {forged, valid.substr(0, valid.size() / 2),
                                                 valid + "status 0\n", "", "symlink"};
    for (const auto& tampered : tamperings) {
        fs::remove(entry);
        if (tampered == "symlink") {
            fs::create_symlink(dir / "other", entry);
        } else {
            test::WriteFile(entry, tampered);
        }
        EXPECT_EQ(StandIn(cat).output, expected) << tampered;
        // Verified again and written back whole, as a file of its own (the time it was reached,
        // its end and so the checksum may differ).
        EXPECT_FALSE(fs::is_symlink(entry));
        const auto verdict = [](const std::string& text) {
            const std::size_t from = text.find("\nstatus");
            return text.substr(from, text.find("\nsum") - from);
        };
        EXPECT_EQ(verdict(test::ReadFile(entry)), verdict(valid));
    }
}

TEST_F(VerdictCacheTest, UnsafeFoldersAreNotUsed) {
    const std::string cat = Catalog(pki.whcp, fixtures::TimeStampKind::Rfc3161, "w.cat");
    const std::string expected = Uncached(cat);
    // A symbolic link in place of the folder, even to a private folder of the user.
    const std::string elsewhere = dir / "elsewhere";
    fs::create_directories(elsewhere);
    fs::permissions(elsewhere, fs::perms::owner_all);
    fs::create_directories(cacheRoot);
    fs::create_symlink(elsewhere, cacheFolder);
    EXPECT_EQ(StandIn(cat).output, expected);
    EXPECT_TRUE(Entries(elsewhere).empty());
    // A folder others may write to.
    fs::remove(cacheFolder);
    fs::create_directories(cacheFolder);
    fs::permissions(cacheFolder, fs::perms::all);
    EXPECT_EQ(StandIn(cat).output, expected);
    EXPECT_TRUE(Entries(cacheFolder).empty());
    // A relative XDG_CACHE_HOME (it could be the work folder) is not used either.
    const ScopedEnv relative("XDG_CACHE_HOME", "cache");
    const ScopedEnv home("HOME", dir / "home");
    fs::create_directories(dir / "home");
    EXPECT_EQ(StandIn(cat).output, expected);
    EXPECT_EQ(Entries(dir / "home/.cache/halyard").size(), 1u);
    // Without an absolute HOME there is no cache at all (nothing below the current folder),
    // and the same report.
    const ScopedEnv relativeHome("HOME", "rel-home");
    const test::RunResult run = test::Run(test::BinDir() + "SignTool.exe",
                                          {"verify", "/v", "/kp", "/c", cat, driver}, dir.path());
    EXPECT_EQ(run.output, expected);
    EXPECT_FALSE(fs::exists(dir / "rel-home"));
}

TEST_F(VerdictCacheTest, TheKeyFollowsTheTrustFoldersAndTheCatalog) {
    test::TempDir trust;
    test::WriteFile(trust / "root.pem", pki.root.certPem);
    const auto digest = [&] { return platform::TrustFoldersDigest({trust.path()}); };
    const auto first = digest();
    test::WriteFile(trust / "notes.txt", "not read");
    EXPECT_EQ(digest(), first);
    test::WriteFile(trust / "intermediate.crl",
                    fixtures::RevocationListPem(pki.intermediate, pki.whcp, std::time(nullptr)));
    const auto withCrl = digest();
    EXPECT_NE(withCrl, first);
    test::WriteFile(trust / "root.pem", pki.root.certPem + "\n");
    EXPECT_NE(digest(), withCrl);
    fs::remove(trust / "intermediate.crl");
    fs::rename(trust / "root.pem", trust / "root2.pem");
    EXPECT_NE(digest(), first);
    EXPECT_NE(platform::TrustFoldersDigest({trust.path(), dir.path()}), digest());

    const std::vector<std::uint8_t> a = {1, 2, 3};
    const std::vector<std::uint8_t> b = {1, 2, 4};
    EXPECT_NE(signtool::VerdictKey(a, first), signtool::VerdictKey(b, first));
    EXPECT_NE(signtool::VerdictKey(a, first), signtool::VerdictKey(a, withCrl));
}

TEST_F(VerdictCacheTest, TheTrustDigestIsTakenAgainWheneverAFileChanges) {
    test::TempDir trust;
    test::WriteFile(trust / "root.pem", pki.root.certPem);
    const std::vector<std::string> folders = {trust.path()};
    const signtool::VerdictCache cache;
    ASSERT_TRUE(cache.usable());
    const std::time_t now = std::time(nullptr);
    const auto memos = [&] {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(cacheFolder)) {
            if (entry.path().filename().string().rfind("trust-", 0) == 0) {
                names.push_back(entry.path().string());
            }
        }
        return names;
    };
    // Files changed within the last two seconds are read every time and no memo is kept.
    EXPECT_EQ(cache.trustDigest(folders, now), platform::TrustFoldersDigest(folders));
    EXPECT_TRUE(memos().empty());
    // Later, the memo is kept and then answers.
    const std::time_t later = now + 60;
    EXPECT_EQ(cache.trustDigest(folders, later), platform::TrustFoldersDigest(folders));
    ASSERT_EQ(memos().size(), 1u);
    EXPECT_EQ(cache.trustDigest(folders, later), platform::TrustFoldersDigest(folders));
    // A root rewritten in place with bytes of the same length, a file added, and a memo that
    // was altered are each seen.
    std::string changed = pki.root.certPem;
    changed[changed.size() / 2] ^= 1;
    test::WriteFile(trust / "root.pem", changed);
    // (Within one clock tick of the first write the times could be equal; the two-second rule
    // above covers that case in real runs, where `now` is the clock.)
    fs::last_write_time(trust / "root.pem",
                        fs::last_write_time(trust / "root.pem") + std::chrono::seconds(5));
    EXPECT_EQ(cache.trustDigest(folders, later + 60), platform::TrustFoldersDigest(folders));
    test::WriteFile(trust / "extra.crt", pki.intermediate.certPem);
    const auto withExtra = platform::TrustFoldersDigest(folders);
    EXPECT_EQ(cache.trustDigest(folders, later + 120), withExtra);
    for (const auto& memo : memos()) {
        std::string text = test::ReadFile(memo);
        const std::size_t digest = text.find("\ndigest ") + 8;
        text[digest] = text[digest] == 'A' ? 'B' : 'A';
        test::WriteFile(memo, text);
    }
    EXPECT_EQ(cache.trustDigest(folders, later + 120), withExtra);
}

TEST_F(VerdictCacheTest, AVerdictHoldsOnlyWhileTheClockCannotChangeIt) {
    test::TempDir trust;
    test::WriteFile(trust / "root.pem", pki.root.certPem);
    const platform::TrustAnchors anchors(trust.path());
    const std::time_t now = std::time(nullptr);
    const auto until = [&](const std::string& path) {
        const auto parsed = platform::ParseCatalogFile(path);
        EXPECT_TRUE(parsed);
        const auto report = platform::VerifyParsedCatalogSignature(**parsed, anchors, now);
        return platform::SignatureVerdictStableUntil(**parsed, anchors, report, now);
    };
    // Judged at the time stamp's time: the clock does not matter.
    EXPECT_EQ(until(Catalog(pki.whcp, fixtures::TimeStampKind::Rfc3161, "s.cat")),
              std::numeric_limits<std::time_t>::max());
    // Judged now: until the first certificate expires.
    EXPECT_EQ(until(Catalog(pki.whcp, fixtures::TimeStampKind::None, "n.cat")), kEndOf2049);
    // A revocation list: until its next update.
    test::WriteFile(trust / "intermediate.crl",
                    fixtures::RevocationListPem(pki.intermediate, pki.contoso, now));
    const platform::TrustAnchors withCrl(trust.path());
    const auto parsed = platform::ParseCatalogFile(dir / "n.cat");
    ASSERT_TRUE(parsed);
    const auto report = platform::VerifyParsedCatalogSignature(**parsed, withCrl, now);
    EXPECT_EQ(report.status, 0u);
    const std::time_t crlUntil =
        platform::SignatureVerdictStableUntil(**parsed, withCrl, report, now);
    EXPECT_GT(crlUntil, now);
    EXPECT_LE(crlUntil, now + 31 * 86400);

    // The cache serves an entry only inside its window.
    const signtool::VerdictCache cache;
    ASSERT_TRUE(cache.usable());
    signtool::CachedVerdict verdict{report, 1000, 2000};
    cache.store("K", verdict);
    EXPECT_TRUE(cache.load("K", 1000));
    EXPECT_TRUE(cache.load("K", 1999));
    EXPECT_FALSE(cache.load("K", 999));
    EXPECT_FALSE(cache.load("K", 2000));
    EXPECT_FALSE(cache.load("other", 1500));
}

TEST_F(VerdictCacheTest, TheEntryParserTakesOnlyWhatWasWritten) {
    const std::string cat = Catalog(pki.whcp, fixtures::TimeStampKind::Rfc3161, "p.cat");
    const auto parsed = platform::ParseCatalogFile(cat);
    ASSERT_TRUE(parsed);
    test::TempDir trust;
    test::WriteFile(trust / "root.pem", pki.root.certPem);
    const platform::TrustAnchors anchors(trust.path());
    signtool::CachedVerdict verdict;
    verdict.report = platform::VerifyParsedCatalogSignature(**parsed, anchors, std::time(nullptr));
    verdict.report.signingChain.at(0).issuedTo = "Name with spaces\nand a line break";
    verdict.from = 5;
    verdict.until = std::numeric_limits<std::int64_t>::max();
    const std::string text = signtool::FormatVerdict("KEY", verdict);
    const auto back = signtool::ParseVerdict("KEY", text);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->from, 5);
    EXPECT_EQ(back->until, verdict.until);
    EXPECT_EQ(back->report.status, verdict.report.status);
    EXPECT_EQ(back->report.timestamp, verdict.report.timestamp);
    ASSERT_EQ(back->report.signingChain.size(), verdict.report.signingChain.size());
    EXPECT_EQ(back->report.signingChain[0].issuedTo, verdict.report.signingChain[0].issuedTo);
    EXPECT_EQ(back->report.timestampChain.size(), verdict.report.timestampChain.size());
    EXPECT_FALSE(signtool::ParseVerdict("OTHER", text));
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::string changed = text;
        changed[i] = static_cast<char>(changed[i] ^ 0x01);
        EXPECT_FALSE(signtool::ParseVerdict("KEY", changed)) << "byte " << i;
        EXPECT_FALSE(signtool::ParseVerdict("KEY", text.substr(0, i))) << "cut at " << i;
    }
}

} // namespace
} // namespace halyard
