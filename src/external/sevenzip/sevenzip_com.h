// The COM vocabulary of the binding: one owning pointer for interface references, one base
// class that answers QueryInterface, AddRef and Release for every object of ours, and a guard
// that clears a PROPVARIANT the library filled.
#pragma once

#include "external/sevenzip/sevenzip_abi.h"

#include <atomic>
#include <type_traits>
#include <utility>

namespace halyard::sevenzip {

// A reference to a U may be held as one to a T: a base of U, such as an interface it answers.
template <class U, class T>
concept ComUpcast = !std::is_same_v<U, T> && std::is_convertible_v<U*, T*>;

// Holds one interface reference, released when the holder goes.
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    // Takes over a reference the caller already holds.
    explicit ComPtr(T* p) : p_(p) {}
    HALYARD_FOREIGN_CALL ComPtr(const ComPtr& other) : p_(other.p_) {
        if (p_ != nullptr) {
            p_->AddRef();
        }
    }
    ComPtr(ComPtr&& other) noexcept : p_(other.detach()) {}
    // The same reference seen through an interface the object derives from.
    template <ComUpcast<T> U>
    ComPtr(ComPtr<U>&& other) noexcept : p_(other.detach()) {}
    template <ComUpcast<T> U>
    HALYARD_FOREIGN_CALL ComPtr(const ComPtr<U>& other) : p_(other.get()) {
        if (p_ != nullptr) {
            p_->AddRef();
        }
    }
    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }
    ~ComPtr() { reset(); }

    HALYARD_FOREIGN_CALL void reset() {
        if (p_ != nullptr) {
            T* p = std::exchange(p_, nullptr);
            p->Release();
        }
    }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // For out parameters: releases what is held and gives the slot.
    T** put() {
        reset();
        return &p_;
    }
    // For out parameters typed void**, as QueryInterface and CreateObject take them.
    void** putVoid() { return reinterpret_cast<void**>(put()); }
    // Hands the reference out, e.g. into an out parameter.
    T* detach() { return std::exchange(p_, nullptr); }

private:
    T* p_ = nullptr;
};

// Whether iid names interface I or one it extends (IUnknown aside).
template <class I>
bool Extends(const GUID& iid) {
    if constexpr (std::is_same_v<I, IUnknown>) {
        return false;
    } else {
        return iid == I::kIid || Extends<typename I::Base>(iid);
    }
}

// The reference counting and QueryInterface of our objects. Derived lists the interfaces it
// answers, the one that stands for IUnknown first; each interface also answers for the ones it
// extends. Derived keeps its destructor private and befriends this base: an object lives as long
// as its references and is made by MakeComObject only.
template <class Derived, class First, class... Rest>
class ComObject : public First, public Rest... {
public:
    HRESULT QueryInterface(const GUID& iid, void** out) final {
        if (out == nullptr) {
            return kInvalidArg;
        }
        *out = iid == IID_IUnknown ? pointerTo<First>() : find<First, Rest...>(iid);
        if (*out == nullptr) {
            return kNoInterface;
        }
        AddRef();
        return kOk;
    }
    ULONG AddRef() final { return ++refs_; }
    ULONG Release() final {
        const ULONG count = --refs_;
        if (count == 0) {
            delete static_cast<Derived*>(this);
        }
        return count;
    }

protected:
    ComObject() = default;
    ~ComObject() = default;

private:
    template <class I>
    void* pointerTo() {
        return static_cast<I*>(static_cast<Derived*>(this));
    }
    template <class I, class... More>
    void* find(const GUID& iid) {
        if (Extends<I>(iid)) {
            return pointerTo<I>();
        }
        if constexpr (sizeof...(More) > 0) {
            return find<More...>(iid);
        } else {
            return nullptr;
        }
    }

    std::atomic<ULONG> refs_{0};
};

// Makes an object of ours and takes its first reference: every object starts owned.
template <class T, class... Args>
ComPtr<T> MakeComObject(Args&&... args) {
    ComPtr<T> made(new T(std::forward<Args>(args)...));
    made->AddRef();
    return made;
}

// A PROPVARIANT the library fills, cleared with the library's own function when the guard goes
// (and before it is filled again), whatever path leaves the scope.
class PropVariant {
public:
    explicit PropVariant(VariantClearFunc clearFunc) : clear_(clearFunc) {}
    ~PropVariant() { clear(); }
    PropVariant(const PropVariant&) = delete;
    PropVariant& operator=(const PropVariant&) = delete;

    // For an out parameter: clears what is held and gives the empty value.
    PROPVARIANT* put() {
        clear();
        return &value_;
    }
    const PROPVARIANT& get() const { return value_; }
    const PROPVARIANT* operator->() const { return &value_; }

private:
    void clear() {
        if (clear_ != nullptr && value_.vt != VT_EMPTY) {
            clear_(&value_);
        }
        value_ = PROPVARIANT{};
    }

    VariantClearFunc clear_;
    PROPVARIANT value_{};
};

} // namespace halyard::sevenzip
