#include "external/process/dos_output.h"

#include "platform/process.h"

namespace halyard {

std::string JoinDosOutputReads(const std::vector<std::string>& reads) {
    std::string bytes;
    for (const auto& read : reads) {
        const std::size_t zero = read.find('\0');
        bytes.append(read, 0, zero == std::string::npos ? read.size() : zero);
    }
    return bytes;
}

std::string GetDosOutput(const std::string& commandLine, const std::string& work, int timeoutMs) {
    const platform::ConsoleRun run =
        platform::RunConsoleProgram(commandLine, work, kDosOutputReadSize, timeoutMs);
    if (!run.started || run.timedOut) {
        return {};
    }
    return platform::ConsoleOutputToUtf8(JoinDosOutputReads(run.reads));
}

} // namespace halyard
