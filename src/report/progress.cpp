#include "report/progress.h"

#include "platform/console.h"

#include <chrono>
#include <mutex>
#include <string>

namespace halyard {

namespace {

using Clock = std::chrono::steady_clock;

// Shorter runs show nothing; longer ones update the line at most ten times a second.
constexpr auto kQuietStart = std::chrono::milliseconds(1000);
constexpr auto kInterval = std::chrono::milliseconds(100);

struct ProgressState {
    std::mutex lock;
    Clock::time_point start = Clock::now(); // the first use: the run's start, near enough
    Clock::time_point last{};
    bool terminal = platform::StderrIsTerminal();
    std::size_t shown = 0; // the length of the line on the terminal, 0 when none
};

ProgressState& State() {
    static ProgressState state;
    return state;
}

} // namespace

void ShowProgress(std::string_view stage, std::uint64_t done, std::uint64_t total,
                  std::string_view unit) {
    ProgressState& state = State();
    if (!state.terminal) {
        return;
    }
    const auto now = Clock::now();
    const std::lock_guard<std::mutex> guard(state.lock);
    if (now - state.start < kQuietStart || (state.shown > 0 && now - state.last < kInterval)) {
        return;
    }
    state.last = now;
    std::string line = "\r";
    line.append(stage);
    line += ' ' + std::to_string(done) + '/' + std::to_string(total);
    line.append(unit);
    const std::size_t length = line.size();
    if (length < state.shown) {
        line.append(state.shown - length, ' '); // blank out the rest of a longer line
    }
    state.shown = length;
    platform::WriteStderr(line);
}

void EndProgress() {
    ProgressState& state = State();
    if (!state.terminal) {
        return;
    }
    const std::lock_guard<std::mutex> guard(state.lock);
    if (state.shown > 0) {
        std::string blank(state.shown + 2, ' ');
        blank.front() = '\r';
        blank.back() = '\r';
        platform::WriteStderr(blank);
        state.shown = 0;
    }
}

} // namespace halyard
