#include "cli/front_end.h"

#include "base/errors.h"
#include "base/unicode.h"
#include "platform/console.h"
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

void RunCheck(const std::vector<std::string>& args) {
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
    } catch (const Error& e) {
        TryWrite(std::string("wrong:") + e.typeName() + ": " + e.what());
    } catch (const std::bad_alloc&) {
        TryWrite("wrong:EOutOfMemory: Out of memory");
    } catch (const std::exception& e) {
        TryWrite(std::string("wrong:Exception: ") + e.what());
    } catch (...) {
        TryWrite("wrong:Exception: unknown error");
    }
}

} // namespace halyard
