// A value or the 32-bit code the platform left as its last error.
#pragma once

#include "base/codes.h"

#include <cstdint>
#include <optional>
#include <type_traits>
#include <utility>

namespace halyard {

// The result of an operation: a value, or the error code Windows would have set. Ignoring it is
// a compile error, and a failure is only ever made by failure(): a number never turns into a
// success on its own (an Outcome of a number type takes its value explicitly).
template <class T>
class [[nodiscard]] Outcome {
public:
    explicit(std::is_arithmetic_v<T>) Outcome(T value) : value_(std::move(value)) {}
    static Outcome failure(std::uint32_t code) { return Outcome(code, Failure{}); }

    explicit operator bool() const { return value_.has_value(); }
    bool ok() const { return value_.has_value(); }
    std::uint32_t error() const { return error_; }
    T& value() { return *value_; }
    const T& value() const { return *value_; }
    T* operator->() { return &*value_; }
    const T* operator->() const { return &*value_; }
    T& operator*() { return *value_; }
    const T& operator*() const { return *value_; }

private:
    struct Failure {};
    Outcome(std::uint32_t code, Failure) : error_(code) {}
    std::optional<T> value_;
    std::uint32_t error_ = 0;
};

} // namespace halyard
