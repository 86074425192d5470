// The front end: picks the mode, runs one check, prints the verdict. Exit code 0 always.
#include "cli/front_end.h"
#include "platform/console.h"

#include <csignal>
#include <exception>
#include <new>
#include <string>
#include <vector>

int main(int argc, char** argv) {
#ifndef _WIN32
    // A reader that went away makes a write fail; it must not end the process.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    halyard::RunFrontEnd(halyard::platform::ProgramArguments(argc, argv));
    return 0;
}
