// Packages whose catalog and TotalHashs figure come from outside the code under test: member
// digests from osslsigncode (the Authenticode image digest, written by `extract-data`) and
// OpenSSL's command line (flat files), the figure by its documented rule: the SHA-1 of the
// sorted upper-case tags joined by CR LF, no line break after the last. A digest or
// TotalHashs fault in our own code can then no longer agree with itself.
#include "package_builder.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>

namespace halyard::test {
namespace {

namespace fs = std::filesystem;
using fixtures::Bytes;
using fixtures::CatalogMemberRecipe;
using Lines = std::vector<std::string>;

const char* const kOsslsigncode = "/usr/bin/osslsigncode";
const char* const kOpenssl = "/usr/bin/openssl";

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

Bytes FromHex(const std::string& hex) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

// `openssl dgst -<alg> -r FILE` prints "<hex> *FILE".
std::string OpensslDigest(const std::string& path, const std::string& alg) {
    const RunResult r = Run(kOpenssl, {"dgst", "-" + alg, "-r", path});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    return Upper(r.output.substr(0, r.output.find(' ')));
}

// The Authenticode digest of a PE image as osslsigncode computes it: the last OCTET STRING of
// the SpcIndirectDataContent it writes.
std::string OsslsigncodeDigest(const std::string& path, const std::string& alg,
                               const std::string& scratch) {
    const std::string der = scratch + "/" + alg + "-" + fs::path(path).filename().string();
    const RunResult made =
        Run(kOsslsigncode, {"extract-data", "-h", alg, "-in", path, "-out", der});
    EXPECT_EQ(made.exitCode, 0) << made.output;
    const RunResult parsed = Run(kOpenssl, {"asn1parse", "-inform", "DER", "-in", der});
    EXPECT_EQ(parsed.exitCode, 0) << parsed.output;
    const std::string mark = "[HEX DUMP]:";
    const auto at = parsed.output.rfind(mark);
    if (at == std::string::npos) {
        ADD_FAILURE() << "no digest in\n" << parsed.output;
        return {};
    }
    std::istringstream rest(parsed.output.substr(at + mark.size()));
    std::string hex;
    rest >> hex;
    return hex;
}

// The TotalHashs figure of tags: sorted (upper-case hex sorts as plain characters), joined by
// CR LF without one after the last, SHA-1 as upper-case hex.
std::string TotalHashsOf(std::vector<std::string> tags, const std::string& scratch) {
    std::sort(tags.begin(), tags.end());
    std::string text;
    for (const auto& tag : tags) {
        text += (text.empty() ? "" : "\r\n") + tag;
    }
    WriteFile(scratch + "/tags.txt", text);
    return OpensslDigest(scratch + "/tags.txt", "sha1");
}

struct OracleFile {
    std::string relative;
    Bytes bytes;
    bool pe; // hashed as a PE image (else flat)
};

std::vector<OracleFile> Files() {
    fixtures::PeOptions checksummed;
    checksummed.checkSum = 0x1234ABCD; // the checksum field is left out of the digest
    checksummed.sectionSize = 1500;
    fixtures::PeOptions plusWithTable;
    plusWithTable.pe32Plus = true;
    plusWithTable.checkSum = 0x00C0FFEE;
    plusWithTable.certificateTable = true; // so are the table and its directory entry
    plusWithTable.fill = 0x5A;
    const std::string inf = "[Version]\r\nSignature=\"$Windows NT$\"\r\n"
                            "DriverVer=05/17/2019,1.2.3.4\r\nCatalogFile=driver.cat\r\n\r\n"
                            "[Install.NTamd64]\r\nCopyFiles=x\r\n";
    return {
        {"driver.inf", Bytes(inf.begin(), inf.end()), false},
        {"driver.sys", fixtures::MakePeFile(checksummed), true},
        {"x64/driver64.sys", fixtures::MakePeFile(plusWithTable), true},
        // A PE image under a name the flat-file subject takes whatever the content.
        {"x64/setup.msi", fixtures::MakePeFile(), false},
        {"x64/firmware.bin", Bytes(3000, 0xA5), false},
    };
}

class OraclePackage : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        HALYARD_NEED(!SevenZip().empty(), "7zz");
        HALYARD_NEED_PROGRAM(kOsslsigncode);
        HALYARD_NEED_PROGRAM(kOpenssl);
    }
};

TEST_P(OraclePackage, DigestsAndTotalHashsFromOutsidePassAndTheFigureIsComparedExactly) {
    const int version = GetParam();
    PackageBuilder pkg;
    auto& recipe = pkg.catalog();
    recipe.version = version;
    recipe.hash =
        version == 2 ? platform::DigestAlgorithm::Sha256 : platform::DigestAlgorithm::Sha1;
    pkg.remove("driver.inf"); // the builder's own members are made by our code: none here
    TempDir scratch;
    std::vector<std::string> tags;
    for (const auto& file : Files()) {
        pkg.addFile(file.relative, std::string(file.bytes.begin(), file.bytes.end()), false);
        const std::string path = pkg.contentDir() + file.relative;
        const std::string sha256 = file.pe ? OsslsigncodeDigest(path, "sha256", scratch.path())
                                           : OpensslDigest(path, "sha256");
        const std::string sha1 = file.pe ? OsslsigncodeDigest(path, "sha1", scratch.path())
                                         : OpensslDigest(path, "sha1");
        ASSERT_EQ(sha256.size(), 64u) << file.relative;
        ASSERT_EQ(sha1.size(), 40u) << file.relative;
        const std::string name = fs::path(file.relative).filename().string();
        CatalogMemberRecipe member;
        member.indirectType = file.pe ? fixtures::kIndirectPeImage : fixtures::kIndirectFlatFile;
        member.attributes = {{"File", name, fixtures::kNameValueFlags, {}}};
        member.digest = FromHex(version == 2 ? sha256 : sha1);
        recipe.members.push_back(member);
        if (version == 2) {
            // The SHA-1 shadow entry catalog tools write beside each SHA-256 member.
            CatalogMemberRecipe shadow = member;
            shadow.indirectData = false;
            shadow.tagBytes = FromHex(sha1);
            recipe.members.push_back(shadow);
        }
        tags.push_back(version == 2 ? sha256 : sha1);
    }
    const std::string total = TotalHashsOf(tags, scratch.path());
    ASSERT_EQ(total.size(), 40u);

    pkg.params()["TotalHashs"] = total;
    EXPECT_EQ(RunPackageCheck({pkg.pack("exact.7z")}).lines, Lines{"success"});

    // The figure as it stands, in lower case: the comparison is exact.
    pkg.params()["TotalHashs"] = total;
    std::transform(total.begin(), total.end(), pkg.params()["TotalHashs"].begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    ASSERT_NE(pkg.params()["TotalHashs"], total);
    EXPECT_EQ(RunPackageCheck({pkg.pack("lower.7z")}).lines, Lines{"wrong:TotalHashs incorrect"});

    // The figure with the tags joined in archive order, or with a final line break.
    std::string unsorted;
    for (const auto& tag : tags) {
        unsorted += (unsorted.empty() ? "" : "\r\n") + tag;
    }
    WriteFile(scratch / "unsorted.txt", unsorted);
    WriteFile(scratch / "trailing.txt", unsorted + "\r\n");
    for (const char* wrong : {"unsorted.txt", "trailing.txt"}) {
        const std::string figure = OpensslDigest(scratch / wrong, "sha1");
        if (figure == total) {
            continue; // the files happened to be in sorted order already
        }
        pkg.params()["TotalHashs"] = figure;
        EXPECT_EQ(RunPackageCheck({pkg.pack(std::string("w-") + wrong + ".7z")}).lines,
                  Lines{"wrong:TotalHashs incorrect"})
            << wrong;
    }
}

INSTANTIATE_TEST_SUITE_P(CatalogVersions, OraclePackage, ::testing::Values(1, 2),
                         [](const auto& p) { return "v" + std::to_string(p.param); });

} // namespace
} // namespace halyard::test
