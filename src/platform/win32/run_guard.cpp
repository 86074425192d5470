// Windows runs the real SignTool, which keeps nothing of one run for the next, and ends a console
// program's children with it: the clean-ups run only when the run ends normally.
#include "platform/run_guard.h"

namespace halyard::platform {

void InstallInterruptCleanup() {}

InterruptCleanup::InterruptCleanup(std::function<void()> action) : action_(std::move(action)) {}

InterruptCleanup::~InterruptCleanup() = default;

void InterruptCleanup::runNow() {
    if (action_) {
        std::function<void()> action = std::move(action_);
        action_ = nullptr;
        action();
    }
}

void WithoutInterruption(const std::function<void()>& make) {
    make();
}

bool InterruptionPending() {
    return false;
}

std::intptr_t StartTrackedChild(const std::function<std::intptr_t()>& start) {
    return start();
}

void ChildEnded(std::intptr_t) {}

std::unique_ptr<RunFolder> RunFolder::create() {
    return nullptr;
}

RunFolder::~RunFolder() = default;

void RunFolder::remove() {}

} // namespace halyard::platform
