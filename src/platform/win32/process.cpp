#include "platform/process.h"

#include "platform/files.h"
#include "platform/win32/wide.h"

#include <cstdlib>
#include <shellapi.h>
#include <windows.h>

namespace halyard::platform {

namespace {

std::string CurrentDirectory() {
    const DWORD n = ::GetCurrentDirectoryW(0, nullptr);
    if (n == 0) {
        return {};
    }
    std::wstring buf(n, L'\0');
    const DWORD got = ::GetCurrentDirectoryW(n, buf.data());
    buf.resize(got);
    return IncludeTrailingPathDelimiter(win32::Narrow(buf));
}

std::string SystemFolder(UINT(WINAPI* query)(LPWSTR, UINT)) {
    wchar_t buf[MAX_PATH + 1] = {};
    const UINT n = query(buf, MAX_PATH);
    if (n == 0 || n > MAX_PATH) {
        return {};
    }
    return IncludeTrailingPathDelimiter(win32::Narrow(std::wstring_view(buf, n)));
}

// CreateProcessW appends ".exe" to a name without an extension.
std::string WithExtension(const std::string& name) {
    return ExtractFileExt(name).empty() ? name + ".exe" : name;
}

} // namespace

std::vector<std::string> CommandLineToArgv(std::string_view commandLine) {
    if (commandLine.empty()) {
        return {std::string()}; // CommandLineToArgvW would answer this program's own path
    }
    int count = 0;
    LPWSTR* argv = ::CommandLineToArgvW(win32::Wide(commandLine).c_str(), &count);
    std::vector<std::string> args;
    if (argv == nullptr) {
        return args;
    }
    for (int i = 0; i < count; ++i) {
        args.push_back(win32::Narrow(argv[i]));
    }
    ::LocalFree(argv);
    return args;
}

std::string FindProgram(const std::string& name) {
    if (name.empty()) {
        return {};
    }
    const std::string file = WithExtension(name);
    if (name.find_first_of("\\/:") != std::string::npos) {
        return FileExists(file) ? file : std::string();
    }
    std::vector<std::string> folders{ProgramDirectory(), CurrentDirectory(),
                                     SystemFolder(::GetSystemDirectoryW),
                                     SystemFolder(::GetWindowsDirectoryW)};
    const DWORD n = ::GetEnvironmentVariableW(L"PATH", nullptr, 0);
    if (n > 0) {
        std::wstring buf(n, L'\0');
        buf.resize(::GetEnvironmentVariableW(L"PATH", buf.data(), n));
        const std::string all = win32::Narrow(buf);
        std::size_t start = 0;
        while (start <= all.size()) {
            std::size_t end = all.find(';', start);
            if (end == std::string::npos) {
                end = all.size();
            }
            if (end > start) {
                folders.push_back(IncludeTrailingPathDelimiter(all.substr(start, end - start)));
            }
            start = end + 1;
        }
    }
    for (const auto& folder : folders) {
        if (!folder.empty() && FileExists(folder + file)) {
            return folder + file;
        }
    }
    return {};
}

ConsoleRun RunConsoleProgram(const std::string& commandLine, const std::string& workDir,
                             std::size_t maxRead, int timeoutMs) {
    ConsoleRun run;
    SECURITY_ATTRIBUTES sa{};
    sa.nLength = sizeof sa;
    sa.bInheritHandle = TRUE;
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!::CreatePipe(&readEnd, &writeEnd, &sa, 0)) {
        return run; // without a pipe the child is not started
    }
    win32::HandleGuard pipeRead(readEnd);
    win32::HandleGuard pipeWrite(writeEnd);

    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    si.wShowWindow = SW_HIDE;
    si.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = writeEnd;
    si.hStdError = writeEnd;
    PROCESS_INFORMATION pi{};

    std::wstring line = win32::Wide(commandLine); // CreateProcessW may write into the buffer
    line.push_back(L'\0');
    const std::wstring dir = win32::Wide(workDir);
    const BOOL started = ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                          dir.empty() ? nullptr : dir.c_str(), &si, &pi);
    // Only the child holds the write end now, so the read sees the end once it is gone.
    pipeWrite.reset();
    if (!started) {
        return run;
    }
    run.started = true;
    // Destroyed in reverse: wait for the child, then close the thread and the process handles.
    win32::HandleGuard process(pi.hProcess);
    win32::HandleGuard thread(pi.hThread);
    struct Wait {
        HANDLE h;
        ~Wait() { ::WaitForSingleObject(h, INFINITE); }
    } wait{pi.hProcess};

    // The time limit: a watcher ends the child and cancels the pending read (a process the child
    // started may still hold the pipe's write end).
    struct Watch {
        HANDLE process = nullptr;
        HANDLE reader = nullptr;
        HANDLE done = nullptr;
        DWORD timeoutMs = 0;
        volatile LONG expired = 0;
    } watch;
    HANDLE watcher = nullptr;
    if (timeoutMs > 0) {
        watch.process = pi.hProcess;
        watch.timeoutMs = static_cast<DWORD>(timeoutMs);
        watch.done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(),
                          &watch.reader, THREAD_TERMINATE, FALSE, 0);
        if (watch.done != nullptr && watch.reader != nullptr) {
            watcher = ::CreateThread(
                nullptr, 0,
                [](LPVOID arg) -> DWORD {
                    auto* w = static_cast<Watch*>(arg);
                    if (::WaitForSingleObject(w->done, w->timeoutMs) == WAIT_TIMEOUT) {
                        ::InterlockedExchange(&w->expired, 1);
                        ::TerminateProcess(w->process, 1);
                        // Repeated: the read may not have started yet.
                        while (::WaitForSingleObject(w->done, 10) == WAIT_TIMEOUT) {
                            ::CancelSynchronousIo(w->reader);
                        }
                    }
                    return 0;
                },
                &watch, 0, nullptr);
        }
    }
    struct StopWatch {
        Watch& w;
        HANDLE& thread;
        ~StopWatch() {
            if (thread != nullptr) {
                ::SetEvent(w.done);
                ::WaitForSingleObject(thread, INFINITE);
                ::CloseHandle(thread);
            }
            if (w.done != nullptr) {
                ::CloseHandle(w.done);
            }
            if (w.reader != nullptr) {
                ::CloseHandle(w.reader);
            }
        }
    } stopWatch{watch, watcher};

    const DWORD chunk =
        maxRead == 0 ? 1 : (maxRead > 0x10000 ? 0x10000 : static_cast<DWORD>(maxRead));
    std::string buffer(chunk, '\0');
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(pipeRead.get(), buffer.data(), chunk, &got, nullptr) || got == 0) {
            break;
        }
        run.reads.emplace_back(buffer.data(), got);
    }
    if (watch.expired != 0) {
        run.timedOut = true;
    }
    return run;
}

std::size_t ConsoleProgramsAtOnce() {
    return 1;
}

std::string ConsoleOutputToUtf8(std::string_view bytes) {
    return AnsiToUtf8(bytes);
}

} // namespace halyard::platform
