// What the documentation promises, run: the params.ini example passes against the sample
// package, every key the check reads is described, the README's way of reading the verdict
// works, and catinspect's options are the ones its man page and the README name.
#include "package_builder.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <regex>
#include <set>

namespace halyard::test {
namespace {

namespace fs = std::filesystem;

// The fenced block after the marker line, its lines joined with CR LF.
std::string FencedBlockAfter(const std::string& text, const std::string& marker) {
    const auto at = text.find(marker);
    if (at == std::string::npos) {
        return {};
    }
    const auto open = text.find("```", at);
    const auto begin = text.find('\n', open) + 1;
    const auto close = text.find("\n```", begin);
    std::string block = text.substr(begin, close - begin + 1);
    std::string crlf;
    for (char c : block) {
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    return crlf;
}

TEST(Documentation, TheParamsIniExamplePassesAgainstTheSamplePackage) {
    HALYARD_NEED(!SevenZip().empty(), "7zz");
    const std::string doc = ReadFile(SourceDir() + "docs/params-ini.md");
    const std::string example = FencedBlockAfter(doc, "<!-- params-ini-example -->");
    ASSERT_TRUE(example.starts_with("[General]\r\n")) << example;

    TempDir dir;
    const auto unpacked = test::Run(SevenZip(), {"x", "-bd", "-y", "-o" + (dir / "content"),
                                                 SourceDir() + "examples/sample-package.7z"});
    ASSERT_EQ(unpacked.exitCode, 0) << unpacked.output;
    WriteFile(dir / "content/InternalLogsDoNotCopyToProduction/params.ini", example);
    const auto packed =
        test::Run(SevenZip(), {"a", "-t7z", "-bd", "-y", dir / "pkg.7z", "*"}, dir / "content");
    ASSERT_EQ(packed.exitCode, 0) << packed.output;
    EXPECT_EQ(RunPackageCheck({dir / "pkg.7z"}).lines, std::vector<std::string>{"success"});
}

// Every key the package check reads from params.ini has a row in the document's table.
TEST(Documentation, EveryParamsIniKeyTheCheckReadsIsDescribed) {
    const std::string code = ReadFile(SourceDir() + "src/verify/package_steps.cpp");
    const std::string doc = ReadFile(SourceDir() + "docs/params-ini.md");
    const std::regex read(R"re(ReadString\("General", "([A-Za-z]+)")re");
    std::set<std::string> keys;
    for (auto it = std::sregex_iterator(code.begin(), code.end(), read);
         it != std::sregex_iterator(); ++it) {
        keys.insert((*it)[1]);
    }
    EXPECT_GE(keys.size(), 6u);
    for (const auto& key : keys) {
        EXPECT_NE(doc.find("| `" + key + "` |"), std::string::npos) << key;
    }
}

// The README's line, in a shell, gives the bare verdict though halyard ends lines in CR LF.
TEST(Documentation, TheReadmesWayOfReadingTheVerdict) {
    const std::string readme = ReadFile(SourceDir() + "README.md");
    const std::string snippet = "tail -n 1 | tr -d '\\r'";
    ASSERT_NE(readme.find(snippet), std::string::npos);
    const auto r =
        test::Run("/bin/sh", {"-c", "\"$0\" /verify \"$1\" | " + snippet, BinDir() + "halyard",
                              SourceDir() + "examples/inf-folder"});
    EXPECT_EQ(r.output, "success\n");
}

// The long options catinspect's --help lists are the ones its man page and the README name.
TEST(Documentation, CatinspectsOptionsAgreeWithItsManPageAndTheReadme) {
    const auto help = test::Run(BinDir() + "catinspect", {"--help"});
    ASSERT_EQ(help.exitCode, 0);
    const std::string man = ReadFile(SourceDir() + "docs/catinspect.1.in");
    const std::string readme = ReadFile(SourceDir() + "README.md");
    const std::regex option(R"(--([a-z]+))");
    std::set<std::string> options;
    for (auto it = std::sregex_iterator(help.output.begin(), help.output.end(), option);
         it != std::sregex_iterator(); ++it) {
        options.insert((*it)[1]);
    }
    EXPECT_EQ(options, (std::set<std::string>{"help", "json", "package", "verbose", "version"}));
    for (const auto& name : options) {
        EXPECT_NE(man.find("\\-\\-" + name), std::string::npos) << name;
        // Every option but -v's long spelling appears in the README's words.
        if (name != "verbose") {
            EXPECT_NE(readme.find("--" + name), std::string::npos) << name;
        }
    }
    // The JSON fields the help names are the man page's.
    for (const char* field : {"\"schema\"", "\"cause\"", "\"accepted\"", "\"signDate\""}) {
        EXPECT_NE(help.output.find(field), std::string::npos) << field;
        EXPECT_NE(man.find(field), std::string::npos) << field;
        EXPECT_NE(readme.find(field), std::string::npos) << field;
    }
}

} // namespace
} // namespace halyard::test
