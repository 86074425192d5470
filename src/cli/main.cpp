// The front end: picks the mode, runs one check, prints the verdict. Exit code 0 always.
#include "cli/front_end.h"
#include "platform/console.h"
#include "platform/run_guard.h"

#include <csignal>
#include <exception>
#include <new>
#include <string>
#include <vector>

#ifdef _WIN32
// The arguments come from the process's command line (GetCommandLineW) by the tool's own rule,
// not from the runtime's split of it.
int wmain(int, wchar_t**) {
    halyard::RunFrontEnd(halyard::platform::ProgramArguments(0, nullptr));
    return 0;
}
#else
int main(int argc, char** argv) {
    // A reader that went away makes a write fail; it must not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    // Before any thread starts: an interrupted run removes what it made and ends by the signal.
    halyard::platform::InstallInterruptCleanup();
    halyard::RunFrontEnd(halyard::platform::ProgramArguments(argc, argv));
    return 0;
}
#endif
