// Times TMemIniFile loading and private-profile lookups on generated INI/INF texts of 1, 5 and
// 10 MB in three shapes: long continuation chains, many sections, long lines. Linear behaviour
// shows as a throughput (MB/s) that stays level as the size grows.
//
// Usage: bench_inf_read [chains|sections|long-lines] [sizes in MB...]   (default: all, 1 5 10)
#include "inf/ini_files.h"
#include "platform/profile.h"

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <time.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// A CopyFiles-style list continued over thousands of lines, in sections of 20000 lines.
std::string Chains(std::size_t bytes) {
    std::string text = "[Version]\r\nSignature=\"$Windows NT$\"\r\n";
    int section = 0;
    while (text.size() < bytes) {
        text += "[Files" + std::to_string(section++) + "]\r\nList = first.sys, \\\r\n";
        for (int i = 0; i < 20000 && text.size() < bytes; ++i) {
            text += "    driver" + std::to_string(i) + ".sys, \\\r\n";
        }
        text += "    last.sys\r\n";
    }
    text += "[Target]\r\nDriverVer=05/17/2021,10.0.19041.1\r\n";
    return text;
}

// Many small sections, each with a few keys; one section repeated now and then.
std::string Sections(std::size_t bytes) {
    std::string text;
    int n = 0;
    while (text.size() < bytes) {
        text += "[Install" + std::to_string(n) + ".NTamd64]\r\nAddReg=Reg" + std::to_string(n) +
                "\r\nCopyFiles=Files" + std::to_string(n) + "\r\n";
        if (n % 97 == 0) {
            text +=
                "[Strings]\r\nS" + std::to_string(n) + "=\"text " + std::to_string(n) + "\"\r\n";
        }
        ++n;
    }
    text += "[Target]\r\nDriverVer=05/17/2021,10.0.19041.1\r\n";
    return text;
}

// Lines of 64 KB (keys and bare lines).
std::string LongLines(std::size_t bytes) {
    std::string text = "[Long]\r\n";
    int n = 0;
    const std::string payload(64 * 1024, 'v');
    while (text.size() < bytes) {
        text += (n % 2 == 0 ? "Key" + std::to_string(n) + "=" : std::string()) + payload + "\r\n";
        ++n;
    }
    text += "[Target]\r\nDriverVer=05/17/2021,10.0.19041.1\r\n";
    return text;
}

// The process's CPU time, so that a machine shared with other work still shows the scaling.
double CpuSeconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// The best of several runs: wall time and CPU time.
std::pair<double, double> Seconds(const std::function<void()>& fn, int repeat) {
    double wall = 1e9;
    double cpu = 1e9;
    for (int i = 0; i < repeat; ++i) {
        const auto start = Clock::now();
        const double cpuStart = CpuSeconds();
        fn();
        cpu = std::min(cpu, CpuSeconds() - cpuStart);
        wall = std::min(wall, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return {wall, cpu};
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::size_t> sizes;
    std::string only;
    for (int i = 1; i < argc; ++i) {
        if (std::isdigit(static_cast<unsigned char>(argv[i][0])) != 0) {
            sizes.push_back(static_cast<std::size_t>(std::atoi(argv[i])));
        } else {
            only = argv[i];
        }
    }
    if (sizes.empty()) {
        sizes = {1, 5, 10};
    }
    const fs::path dir =
        fs::temp_directory_path() / ("halyard-bench-inf-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    struct Shape {
        const char* name;
        std::string (*make)(std::size_t);
    };
    const Shape shapes[] = {{"chains", Chains}, {"sections", Sections}, {"long-lines", LongLines}};
    std::printf("%-11s %5s | %-32s | %-32s\n", "", "", "TMemIniFile load + lookup",
                "GetPrivateProfileString lookup");
    std::printf("%-11s %5s | %7s %7s %8s %8s | %7s %7s %8s %8s\n", "shape", "MB", "wall s", "cpu s",
                "MB/s", "cpu MB/s", "wall s", "cpu s", "MB/s", "cpu MB/s");
    int failures = 0;
    for (const Shape& shape : shapes) {
        if (!only.empty() && only != shape.name) {
            continue;
        }
        for (std::size_t mb : sizes) {
            const std::string text = shape.make(mb * 1024 * 1024);
            const fs::path file = dir / (std::string(shape.name) + std::to_string(mb) + ".inf");
            std::ofstream(file, std::ios::binary)
                .write(text.data(), static_cast<std::streamsize>(text.size()));
            const double size = static_cast<double>(text.size()) / (1024.0 * 1024.0);
            std::string memValue;
            const auto mem = Seconds(
                [&] {
                    halyard::TMemIniFile ini(file.string());
                    memValue = ini.ReadString("Target", "DriverVer", "");
                },
                3);
            std::string profileValue;
            const auto profile = Seconds(
                [&] {
                    profileValue = halyard::platform::GetPrivateProfileString("Target", "DriverVer",
                                                                              "", file.string());
                },
                3);
            if (memValue != "05/17/2021,10.0.19041.1" || profileValue != memValue) {
                ++failures;
            }
            std::printf("%-11s %5.1f | %7.3f %7.3f %8.1f %8.1f | %7.3f %7.3f %8.1f %8.1f\n",
                        shape.name, size, mem.first, mem.second, size / mem.first,
                        size / mem.second, profile.first, profile.second, size / profile.first,
                        size / profile.second);
            std::fflush(stdout);
        }
    }
    fs::remove_all(dir);
    if (failures != 0) {
        std::printf("%d lookups answered wrongly\n", failures);
        return 1;
    }
    return 0;
}
