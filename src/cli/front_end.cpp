#include "cli/front_end.h"

#include "base/errors.h"
#include "base/unicode.h"
#include "platform/console.h"
#include "platform/trust.h"
#include "report/output.h"
#include "verify/checks.h"

#include <exception>
#include <new>

namespace halyard {

std::string JoinArguments(const std::vector<std::string>& args, std::size_t first) {
    std::string path;
    for (std::size_t i = first; i < args.size(); ++i) {
        if (i > first) {
            path += ' ';
        }
        path += args[i];
    }
    return platform::kTrimJoinedArguments ? Trim(path) : path;
}

namespace {

#ifndef HALYARD_VERSION
#define HALYARD_VERSION "0.0.0"
#endif

// Where the roots come from, for the usage text.
void WriteTrustFolders() {
    const auto& chosen = platform::ChosenTrustFolders();
    const auto& folders = chosen.folders;
    const std::string variable = platform::kTrustDirVariable;
    if (chosen.fromVariable) {
        WriteLine("Trusted roots (only the folders " + variable + " names):");
    } else if (folders.empty()) {
        WriteLine("Trusted roots: Windows' certificate stores.");
        return;
    } else if (folders.size() > 1) {
        WriteLine("Trusted roots (the administrator's first; it wins over a shipped root with the "
                  "same subject; " +
                  variable + " replaces both):");
    } else {
        WriteLine("Trusted roots (" + variable + " replaces the folder):");
    }
    for (const auto& folder : folders) {
        WriteLine("  " + folder);
    }
    for (const auto& entry : chosen.unused) {
        WriteLine("  not used, not a full path: " + entry);
    }
    if (chosen.fromVariable && folders.empty()) {
        WriteLine("  none: no root is trusted");
    }
}

void WriteUsage() {
    const char* const lines[] = {
        "Usage: halyard <package>.7z",
        "       halyard /verify <folder>",
        "       halyard /cat <catalog>.cat",
        "       halyard --help | -h | --version",
        "",
        "Checks signed Windows driver packages; runs one check per call.",
        "  <package>.7z      unpacks the package beside itself and checks that every driver file",
        "                    is a signed member of its catalog, the figures in",
        "                    InternalLogsDoNotCopyToProduction/params.ini, the INF's DriverVer,",
        "                    the declared operating systems and SignTool's verification",
        "  /verify <folder>  the folder's single INF and catalog belong together and are signed",
        "                    by the accepted signer",
        "  /cat <catalog>    the operating systems the catalog declares",
        "",
        "Results are lines on standard output; the last one is the verdict:",
        "  success           the check passed (/cat: success:<OS codes>)",
        "  ignore            /verify: signed, but by another signer, under a root that is not",
        "                    trusted, without a chain, or for other Windows versions (the",
        "                    line before it names the cause);",
        "                    /cat: the catalog declares its OS as \"ignore\"",
        "  fail              /verify: the pair does not check out; /cat: no OS declared",
        "  wrong:<reason>    the check stopped at <reason>; the lines before it say why",
        "The exit code is always 0.",
        "",
    };
    for (const char* line : lines) {
        WriteLine(line);
    }
    WriteTrustFolders();
    WriteLine("See halyard(1).");
}

// --help, -h and --version as the only argument; none of them can name a package (no ".7z").
bool RunInformation(const std::vector<std::string>& args) {
    if (args.size() != 1) {
        return false;
    }
    if (args[0] == "--help" || args[0] == "-h") {
        WriteUsage();
        return true;
    }
    if (args[0] == "--version") {
        WriteLine(std::string("halyard ") + HALYARD_VERSION);
        return true;
    }
    return false;
}

void RunCheck(const std::vector<std::string>& args) {
    if (RunInformation(args)) {
        return;
    }
    const std::string mode = args.empty() ? std::string() : args[0];
    if (mode == "/cat") {
        const std::string s = GetOsFromCat(JoinArguments(args, 1));
        if (s == "ignore") {
            WriteLine("ignore");
        } else if (s.empty()) {
            WriteLine("fail");
        } else {
            WriteLine("success:" + s);
        }
    } else if (mode == "/verify") {
        bool res = false;
        if (!VerifyInfAndCat(JoinArguments(args, 1), res)) {
            WriteLine("fail");
        } else {
            WriteLine(res ? "success" : "ignore");
        }
    } else if (Verify(JoinArguments(args, 0))) {
        WriteLine("success");
    }
}

void TryWrite(const std::string& line) {
    try {
        WriteLine(line);
    } catch (...) {
        // Standard output is gone; there is nobody left to tell.
    }
}

} // namespace

void RunFrontEnd(const std::vector<std::string>& args) {
    try {
        RunCheck(args);
    } catch (...) {
        std::string text;
        try {
            text = "wrong:" + DescribeCurrentError();
        } catch (...) {
            text = "wrong:EOutOfMemory: Out of memory";
        }
        TryWrite(text);
    }
}

} // namespace halyard
