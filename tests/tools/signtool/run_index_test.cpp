// What the stand-in's starts share within a run: only a run folder that is the user's own and
// private, only entries that carry the run key's MAC and still match the catalog, the trust
// folders and the clock; and with that, checks against the index agree with checks against the
// catalog itself.
#include "base/hex.h"
#include "fixtures.h"
#include "halyard/trust/verify.h"
#include "platform/sip.h"
#include "run_index.h"
#include "testkit.h"

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace halyard {
namespace {

namespace fs = std::filesystem;
using signtool::CatalogIndex;
using signtool::IndexHeader;

const std::string kKeyHex(64, 'A');

struct EnvScope {
    EnvScope(const std::string& dir, const std::string& key) {
        setenv("HALYARD_RUN_DIR", dir.c_str(), 1);
        setenv("HALYARD_RUN_KEY", key.c_str(), 1);
    }
    ~EnvScope() {
        unsetenv("HALYARD_RUN_DIR");
        unsetenv("HALYARD_RUN_KEY");
    }
};

signtool::FileStamp StampOfPath(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return signtool::StampOf(st);
}

platform::CatMember Member(const std::string& tag, std::uint8_t fill) {
    platform::CatMember m;
    m.referenceTag = tag;
    m.digestAlgorithmOid = platform::kOidSha256;
    m.indirectDataTypeOid = "1.3.6.1.4.1.311.2.1.15";
    m.digest.assign(32, fill);
    return m;
}

class RunIndex : public ::testing::Test {
protected:
    void SetUp() override {
        run_ = dir_ / "run";
        fs::create_directory(run_);
        fs::permissions(run_, fs::perms::owner_all, fs::perm_options::replace);
        test::WriteFile(dir_ / "driver.cat", "catalog bytes");
        header_.catalog = StampOfPath(dir_ / "driver.cat");
        header_.trust.fill(7);
        header_.version = 2;
        header_.status = 0;
        header_.from = now_ - 10;
        header_.until = now_ + 100;
    }
    std::optional<signtool::RunShare> Share(const std::string& dir, const std::string& key) {
        const EnvScope env(dir, key);
        return signtool::OpenRunShare();
    }
    std::optional<CatalogIndex> Open(const signtool::RunShare& share) {
        return CatalogIndex::Open(share, header_.catalog, header_.trust, now_);
    }
    std::string IndexPath() const { return run_ + "/" + signtool::IndexName(header_.catalog); }

    test::TempDir dir_;
    std::string run_;
    IndexHeader header_;
    std::int64_t now_ = std::time(nullptr);
    std::vector<platform::CatMember> members_{Member("AA11", 1), Member("BB22", 2),
                                              Member("AA11", 9), Member("CC33", 3)};
};

TEST_F(RunIndex, OnlyAPrivateFolderOfTheUsersWithAKeyIsTheRuns) {
    EXPECT_TRUE(Share(run_, kKeyHex));
    EXPECT_FALSE(Share(run_, kKeyHex.substr(2)));    // short key
    EXPECT_FALSE(Share(run_, std::string(64, 'g'))); // not hex
    EXPECT_FALSE(Share("run", kKeyHex));             // relative
    EXPECT_FALSE(Share(dir_ / "missing", kKeyHex));
    fs::create_directory_symlink(run_, dir_ / "link");
    EXPECT_FALSE(Share(dir_ / "link", kKeyHex)); // a link, even to the folder
    fs::permissions(run_, fs::perms::owner_all | fs::perms::group_exec, fs::perm_options::replace);
    EXPECT_FALSE(Share(run_, kKeyHex)); // others may enter
    unsetenv("HALYARD_RUN_DIR");
    EXPECT_FALSE(signtool::OpenRunShare()); // started by hand
}

TEST_F(RunIndex, FindsTheFirstMemberOfEachTagAndNothingElse) {
    const auto share = Share(run_, kKeyHex);
    ASSERT_TRUE(share);
    signtool::WriteIndex(*share, header_, members_);
    const auto index = Open(*share);
    ASSERT_TRUE(index);
    EXPECT_EQ(index->header().version, 2);
    const auto first = index->find("AA11");
    ASSERT_TRUE(first);
    EXPECT_EQ(first->digest, std::vector<std::uint8_t>(32, 1));
    EXPECT_EQ(first->digestAlgorithmOid, platform::kOidSha256);
    EXPECT_TRUE(index->find("CC33"));
    // Exact tags only: a caseless match is left to a whole read of the catalog.
    EXPECT_FALSE(index->find("aa11"));
    EXPECT_FALSE(index->find("DD44"));
    // Nothing but the index and no temporary file stays.
    EXPECT_EQ(std::distance(fs::directory_iterator(run_), fs::directory_iterator()), 1);
}

TEST_F(RunIndex, AlteredOrForgedEntriesAreNeverTrusted) {
    const auto share = Share(run_, kKeyHex);
    ASSERT_TRUE(share);
    signtool::WriteIndex(*share, header_, members_);
    const std::string good = test::ReadFile(IndexPath());
    // Every single flipped byte (header, records, MACs) costs the header or the record.
    for (std::size_t at = 0; at < good.size(); ++at) {
        std::string bad = good;
        bad[at] = static_cast<char>(bad[at] ^ 0x01);
        test::WriteFile(IndexPath(), bad);
        const auto index = Open(*share);
        constexpr std::size_t kHeaderSize = 168;
        EXPECT_TRUE(at >= kHeaderSize || !index) << "byte " << at;
        if (!index) {
            continue;
        }
        const std::pair<const char*, std::uint8_t> expected[] = {
            {"AA11", 1}, {"BB22", 2}, {"CC33", 3}};
        for (const auto& [tag, fill] : expected) {
            const auto found = index->find(tag);
            EXPECT_TRUE(!found || found->digest == std::vector<std::uint8_t>(32, fill))
                << "byte " << at;
        }
    }
    // An index written under another key (another run's, or a forger's) is not this run's.
    test::WriteFile(IndexPath(), good);
    const auto other = Share(run_, std::string(64, 'B'));
    ASSERT_TRUE(other);
    EXPECT_FALSE(Open(*other));
    // A link to a good index, or a pipe in its place (opened without blocking), is passed over.
    fs::rename(IndexPath(), dir_ / "elsewhere");
    fs::create_symlink(dir_ / "elsewhere", IndexPath());
    EXPECT_FALSE(Open(*share));
    fs::remove(IndexPath());
    ASSERT_EQ(::mkfifo(IndexPath().c_str(), 0600), 0);
    EXPECT_FALSE(Open(*share));
}

TEST_F(RunIndex, TheCatalogTrustFoldersAndClockBoundTheVerdict) {
    const auto share = Share(run_, kKeyHex);
    ASSERT_TRUE(share);
    signtool::WriteIndex(*share, header_, members_);
    ASSERT_TRUE(Open(*share));
    // Only the change time tells a catalog whose mode changed (it cannot be set back).
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    fs::permissions(dir_ / "driver.cat", fs::perms::owner_read, fs::perm_options::replace);
    const auto changed = StampOfPath(dir_ / "driver.cat");
    EXPECT_NE(changed, header_.catalog);
    EXPECT_FALSE(CatalogIndex::Open(*share, changed, header_.trust, now_));
    // The trust folders' stamp, too, moves with a change of mode alone.
    test::TempDir trust;
    test::WriteFile(trust / "root.pem", "x");
    bool settled = false;
    const auto before = trust::TrustFoldersStamp({trust.path()}, now_, settled);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    fs::permissions(trust / "root.pem", fs::perms::owner_read, fs::perm_options::replace);
    EXPECT_NE(trust::TrustFoldersStamp({trust.path()}, now_, settled), before);
    std::array<std::uint8_t, 32> otherTrust = header_.trust;
    otherTrust[0] ^= 1;
    EXPECT_FALSE(CatalogIndex::Open(*share, header_.catalog, otherTrust, now_));
    // Before its start and from its end on, the verdict does not hold.
    EXPECT_FALSE(CatalogIndex::Open(*share, header_.catalog, header_.trust, header_.from - 1));
    EXPECT_FALSE(CatalogIndex::Open(*share, header_.catalog, header_.trust, header_.until));
    // A span longer than the cap is refused on reading, even with the right key.
    header_.until = header_.from + signtool::kLongestVerdictSeconds + 1;
    signtool::WriteIndex(*share, header_, members_);
    EXPECT_FALSE(Open(*share));
    header_.until = header_.from + signtool::kLongestVerdictSeconds;
    signtool::WriteIndex(*share, header_, members_);
    EXPECT_TRUE(Open(*share));
}

// The stand-in in a run: the first start leaves the index, later starts agree with a start
// that reads the catalog; a start by hand writes nothing anywhere.
TEST(StandInRun, StartsWithinARunAgreeWithStartsAlone) {
    const std::string program = test::BinDir() + "SignTool.exe";
    const auto& pki = fixtures::BuildTestPki();
    test::TempDir dir;
    fixtures::WriteFileBytes(dir / "a.sys", fixtures::MakePeFile());
    fixtures::PeOptions other;
    other.sectionSize = 1024;
    fixtures::WriteFileBytes(dir / "b.sys", fixtures::MakePeFile(other));
    fixtures::CatalogRecipe recipe;
    recipe.version = 2;
    recipe.hash = platform::DigestAlgorithm::Sha256;
    recipe.signer = &pki.whcp;
    fixtures::AddFileMember(recipe, dir / "a.sys");
    fixtures::WriteCatalog(dir / "x.cat", recipe);
    const auto check = [&](const std::string& file) {
        return test::Run(program, {"verify", "/kp", "/c", dir / "x.cat", dir / file}).exitCode;
    };
    const int aloneA = check("a.sys");
    const int aloneB = check("b.sys");
    EXPECT_EQ(aloneA, 0);
    EXPECT_EQ(aloneB, 1);
    const std::string run = dir / "run";
    fs::create_directory(run);
    fs::permissions(run, fs::perms::owner_all, fs::perm_options::replace);
    {
        const EnvScope env(run, kKeyHex);
        // The trust folder must have held still for two seconds before an index is shared.
        std::this_thread::sleep_for(std::chrono::milliseconds(2100));
        for (int round = 0; round < 2; ++round) {
            EXPECT_EQ(check("a.sys"), aloneA);
            EXPECT_EQ(check("b.sys"), aloneB);
        }
        EXPECT_EQ(std::distance(fs::directory_iterator(run), fs::directory_iterator()), 1);
        // A pipe in the index's place neither blocks a start nor changes its verdict.
        const std::string index = fs::directory_iterator(run)->path().string();
        fs::remove(index);
        ASSERT_EQ(::mkfifo(index.c_str(), 0600), 0);
        EXPECT_EQ(check("a.sys"), aloneA);
        EXPECT_EQ(check("b.sys"), aloneB);
    }
    fs::remove_all(run);
    EXPECT_EQ(check("a.sys"), aloneA);
    EXPECT_FALSE(fs::exists(run));
}

} // namespace
} // namespace halyard
