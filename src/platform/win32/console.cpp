#include "platform/console.h"

#include "platform/win32/wide.h"

#include <algorithm>
#include <windows.h>

namespace halyard::platform {

namespace {

bool StdoutIsConsole() {
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

} // namespace

std::string EncodeForStdout(std::string_view text) {
    // A console shows its output code page; a pipe or file gets the ANSI code page.
    const UINT codePage = StdoutIsConsole() ? ::GetConsoleOutputCP() : ::GetACP();
    const std::wstring wide = win32::Wide(text);
    if (wide.empty()) {
        return {};
    }
    const int units = static_cast<int>(wide.size());
    const int n =
        ::WideCharToMultiByte(codePage, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
    if (n <= 0) {
        return Utf8ToAnsi(text);
    }
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(codePage, 0, wide.data(), units, out.data(), n, nullptr, nullptr);
    return out;
}

bool StderrIsTerminal() {
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

void WriteStderr(std::string_view bytes) {
    const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
    while (!bytes.empty() && err != nullptr && err != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 20));
        if (!::WriteFile(err, bytes.data(), chunk, &written, nullptr) || written == 0) {
            return;
        }
        bytes.remove_prefix(written);
    }
}

bool WriteStdout(std::string_view bytes) {
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) {
        return false;
    }
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        // WriteFile does not buffer in the process: each line reaches the reader at once.
        const DWORD chunk = left > 0x10000000 ? 0x10000000 : static_cast<DWORD>(left);
        DWORD written = 0;
        if (!::WriteFile(out, p, chunk, &written, nullptr) || written == 0) {
            return false;
        }
        p += written;
        left -= written;
    }
    return true;
}

std::vector<std::string> ProgramArguments(int, char**) {
    // The process's own command line, by the tool's rule; argument 0 (the program) is dropped.
    std::vector<std::string> args = SplitParamStr(win32::Narrow(::GetCommandLineW()));
    if (!args.empty()) {
        args.erase(args.begin());
    }
    return args;
}

} // namespace halyard::platform
