#include "external/sevenzip/sevenzip_gate.h"

#include <atomic>
#include <utility>

namespace halyard {

namespace {

std::atomic<std::uint64_t> gCallbacksOffThread{0};

} // namespace

std::uint64_t SevenZipCallbacksOffThread() {
    return gCallbacksOffThread.load();
}

SevenZipCallGate::Entry SevenZipCallGate::enterCallback() {
    if (std::this_thread::get_id() != thread_) {
        ++gCallbacksOffThread;
    }
    return enter();
}

void SevenZipCallGate::keep(std::exception_ptr error) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!first_) {
        first_ = std::move(error);
    }
}

void SevenZipCallGate::raise() {
    std::exception_ptr error;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        error = std::exchange(first_, nullptr);
    }
    if (error) {
        std::rethrow_exception(error);
    }
}

} // namespace halyard
