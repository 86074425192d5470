// The one memory of values computed from a file (a parsed catalog, a file's digests, a catalog's
// signature verdict): each value is kept with the file's stamp (size, modification time, inode)
// and served again only while the file still carries that stamp.
#pragma once

#include "base/outcome.h"
#include "platform/files.h"

#include <cstddef>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

namespace halyard::platform {

// Holds at most `capacity` values, the least recently used going first; safe to share between
// threads. Kind tells apart values computed from one file in different ways.
template <class Value, class Kind = int>
class StampedCache {
public:
    explicit StampedCache(std::size_t capacity) : capacity_(capacity) {}

    // The value remembered for the file (and kind) at its present stamp; otherwise compute()'s
    // result, which is remembered when it is a value (compute may return Value or
    // Outcome<Value>) and the file kept its stamp while it was computed. A file without a stamp
    // is computed every time.
    template <class Compute>
    auto get(const std::string& path, const Kind& kind, Compute&& compute)
        -> std::invoke_result_t<Compute&> {
        FileStamp before;
        const bool stamped = GetFileStamp(path, before);
        if (stamped) {
            if (auto hit = find(path, kind, before)) {
                return std::invoke_result_t<Compute&>(std::move(*hit));
            }
        }
        auto result = compute();
        FileStamp after;
        if (stamped && succeeded(result) && GetFileStamp(path, after) && after == before) {
            store(path, kind, before, ValueOf(result));
        }
        return result;
    }

private:
    struct Entry {
        std::string path;
        Kind kind;
        FileStamp stamp;
        Value value;
    };

    static bool succeeded(const Value&) { return true; }
    static bool succeeded(const Outcome<Value>& result) { return result.ok(); }
    static const Value& ValueOf(const Value& value) { return value; }
    static const Value& ValueOf(const Outcome<Value>& result) { return result.value(); }

    std::optional<Value> find(const std::string& path, const Kind& kind, const FileStamp& stamp) {
        std::lock_guard lock(mutex_);
        for (auto it = entries_.begin(); it != entries_.end(); ++it) {
            if (it->stamp == stamp && it->kind == kind && it->path == path) {
                entries_.splice(entries_.begin(), entries_, it);
                return entries_.front().value;
            }
        }
        return std::nullopt;
    }

    void store(const std::string& path, const Kind& kind, const FileStamp& stamp,
               const Value& value) {
        std::lock_guard lock(mutex_);
        std::erase_if(entries_, [&](const Entry& e) { return e.kind == kind && e.path == path; });
        entries_.push_front(Entry{path, kind, stamp, value});
        if (entries_.size() > capacity_) {
            entries_.pop_back();
        }
    }

    std::size_t capacity_;
    std::mutex mutex_;
    std::list<Entry> entries_; // most recent first
};

} // namespace halyard::platform
