#include "verify/signtool_checks.h"

#include "base/unicode.h"
#include "external/process/dos_output.h"
#include "platform/process.h"
#include "report/output.h"
#include "report/progress.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdlib>
#include <deque>
#include <future>
#include <string_view>

namespace halyard {

namespace {

constexpr std::array<const char*, 3> kTimestampSigners100 = {
    "            Issued to: Microsoft Time-Stamp Service",
    "            Issued to: VeriSign Time Stamping Services Signer",
    "            Issued to: Microsoft Timestamping Service",
};

constexpr std::array<const char*, 3> kTimestampSigners91 = {
    "        Issued to: Microsoft Time-Stamp Service",
    "        Issued to: VeriSign Time Stamping Service",
    "        Issued to: Microsoft Timestamping Service",
};

constexpr const char* kPublisherLine =
    "            Issued to: Microsoft Windows Hardware Compatibility Publisher";

// The default runner: GetDosOutput with the time limit.
std::string RunSigntool(const std::string& commandLine, const std::string& work) {
    return GetDosOutput(commandLine, work, SigntoolTimeoutSeconds() * 1000);
}

std::string Quoted(const std::string& path) {
    return "\"" + path + "\"";
}

template <std::size_t N>
bool OneOf(const std::string& line, const std::array<const char*, N>& accepted) {
    for (const char* text : accepted) {
        if (line == text) {
            return true;
        }
    }
    return false;
}

} // namespace

int SigntoolTimeoutSeconds() {
    const char* text = std::getenv("HALYARD_SIGNTOOL_TIMEOUT");
    if (text == nullptr) {
        return kSigntoolTimeoutSeconds;
    }
    const std::string_view value(text);
    int seconds = 0;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), seconds);
    if (ec != std::errc() || end != value.data() + value.size() || seconds < 1 || seconds > 86400) {
        return kSigntoolTimeoutSeconds;
    }
    return seconds;
}

std::vector<std::string> SplitSigntoolOutput(const std::string& text) {
    const std::string trimmed = Trim(text);
    std::vector<std::string> lines;
    if (trimmed.empty()) {
        return lines;
    }
    std::string line;
    for (std::size_t i = 0; i < trimmed.size(); ++i) {
        const char c = trimmed[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(std::move(line));
            line.clear();
            if (c == '\r' && i + 1 < trimmed.size() && trimmed[i + 1] == '\n') {
                ++i;
            }
        } else {
            line += c;
        }
    }
    lines.push_back(std::move(line));
    return lines;
}

bool VerifyFilesWithSigntool(const std::vector<std::string>& driverFiles,
                             const std::string& catFile, const std::string& workPath) {
    return VerifyFilesWithSigntool(driverFiles, catFile, workPath, RunSigntool,
                                   platform::ConsoleProgramsAtOnce());
}

bool VerifyFilesWithSigntool(const std::vector<std::string>& driverFiles,
                             const std::string& catFile, const std::string& workPath,
                             const SigntoolRunner& run, std::size_t atOnce) {
    // The reports are judged in the files' order, so the lines and the verdict are those of
    // starts made one by one; meanwhile up to atOnce starts run side by side. After a failure no
    // other start is made, and those already running are waited for (each within its time
    // limit) as their futures go.
    std::deque<std::future<std::string>> running;
    std::size_t started = 0;
    for (std::size_t i = 0; i < driverFiles.size(); ++i) {
        while (started < driverFiles.size() && running.size() < std::max<std::size_t>(atOnce, 1)) {
            running.push_back(std::async(std::launch::async, run,
                                         "SignTool.exe verify /kp /c " + Quoted(catFile) + " " +
                                             Quoted(driverFiles[started]),
                                         workPath));
            ++started;
        }
        const std::string& file = driverFiles[i];
        ShowProgress("SignTool", i, driverFiles.size());
        const std::vector<std::string> output = SplitSigntoolOutput(running.front().get());
        running.pop_front();
        if (output.size() != 2) {
            WriteLine("SignTool failed for " + file);
            return false;
        }
        if (output[1] != "Successfully verified: " + file) {
            WriteLine("SignTool failed: " + output[1]);
            return false;
        }
    }
    return true;
}

bool VerifyCatWithSigntool(const std::string& catFile, const std::string& workPath) {
    return VerifyCatWithSigntool(catFile, workPath, RunSigntool);
}

bool VerifyCatWithSigntool(const std::string& catFile, const std::string& workPath,
                           const SigntoolRunner& run) {
    const std::vector<std::string> output =
        SplitSigntoolOutput(run("SignTool.exe verify /v /kp " + Quoted(catFile), workPath));
    const std::size_t n = output.size();
    if (n != 91 && n != 100) {
        WriteLine("SignTool failed for " + catFile);
        return false;
    }
    if (output[24] != kPublisherLine) {
        WriteLine("SignTool failed 24: " + output[24]);
        return false;
    }
    if (n == 100 && !OneOf(output[54], kTimestampSigners100)) {
        WriteLine("SignTool failed 54: " + output[54]);
        return false;
    }
    if (n == 91 && !OneOf(output[45], kTimestampSigners91)) {
        WriteLine("SignTool failed 45: " + output[45]);
        return false;
    }
    const std::array<std::pair<std::size_t, std::string>, 4> summary = {{
        {n - 8, "Successfully verified: " + catFile},
        {n - 5, "Number of files successfully Verified: 1"},
        {n - 3, "Number of warnings: 0"},
        {n - 1, "Number of errors: 0"},
    }};
    for (const auto& [index, expected] : summary) {
        if (output[index] != expected) {
            WriteLine("SignTool failed: " + output[index]);
            return false;
        }
    }
    return true;
}

} // namespace halyard
