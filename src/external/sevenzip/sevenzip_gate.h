// What the calls from the library into one archive object and its streams share.
// - One call at a time: the library decodes on threads of its own and may call from any of them
//   (the writer in Write, the reader in Read, progress from whichever thread), so every call
//   holds the gate for its whole length. It is recursive so that a call made on the way through
//   another on the same thread cannot wait for itself.
// - The first error raised inside a call. An exception must never unwind into the library: the
//   callback keeps it, answers with a failure code, and the binding raises it again once the
//   library call has returned.
#pragma once

#include "external/sevenzip/sevenzip_abi.h"

#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>

namespace halyard {

class SevenZipCallGate {
public:
    using Entry = std::unique_lock<std::recursive_mutex>;

    // The thread that makes the gate is the archive's own.
    SevenZipCallGate() : thread_(std::this_thread::get_id()) {}
    SevenZipCallGate(const SevenZipCallGate&) = delete;
    SevenZipCallGate& operator=(const SevenZipCallGate&) = delete;

    [[nodiscard]] Entry enter() { return Entry(calls_); }
    // The same for a call into the archive object, counted when it comes from another thread
    // (SevenZipCallbacksOffThread).
    [[nodiscard]] Entry enterCallback();

    void keep(std::exception_ptr error);
    // Raises the kept error, if any, and forgets it.
    void raise();

    // Runs fn inside the call that entry holds: an error it raises is kept and answered with
    // E_FAIL.
    template <class Fn>
    sevenzip::HRESULT guarded([[maybe_unused]] Entry entry, Fn&& fn) {
        try {
            return fn();
        } catch (...) {
            keep(std::current_exception());
            return sevenzip::kFail;
        }
    }

private:
    std::thread::id thread_;
    std::recursive_mutex calls_;
    std::mutex mutex_;
    std::exception_ptr first_;
};

// How many calls from the library, in this process, arrived on a thread other than the one that
// created the archive object. The library decodes on threads of its own where the archive and
// the memory allow it; the binding takes those calls one at a time.
std::uint64_t SevenZipCallbacksOffThread();

} // namespace halyard
