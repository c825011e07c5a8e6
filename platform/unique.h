// Small RAII owners: one template, a traits type per kind of resource.
#pragma once

#include <utility>

namespace platform {

// Traits: `static T invalid()` and `static void close(T)`.
template <typename T, typename Traits>
class unique_any {
public:
    unique_any() noexcept : value_(Traits::invalid()) {}
    explicit unique_any(T value) noexcept : value_(value) {}
    unique_any(unique_any&& other) noexcept : value_(other.release()) {}
    unique_any& operator=(unique_any&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    unique_any(const unique_any&) = delete;
    unique_any& operator=(const unique_any&) = delete;
    ~unique_any() { reset(); }

    T get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != Traits::invalid(); }

    // For out-parameters of C APIs: frees what is held first.
    T* put() noexcept {
        reset();
        return &value_;
    }
    T release() noexcept {
        T value = value_;
        value_ = Traits::invalid();
        return value;
    }
    void reset(T value = Traits::invalid()) noexcept {
        if (value_ != Traits::invalid()) Traits::close(value_);
        value_ = value;
    }

private:
    T value_;
};

// Owner of a reference-counted COM-style interface pointer.
template <typename I>
class com_ptr {
public:
    com_ptr() noexcept = default;
    com_ptr(com_ptr&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
    com_ptr& operator=(com_ptr&& other) noexcept {
        if (this != &other) {
            reset();
            p_ = other.p_;
            other.p_ = nullptr;
        }
        return *this;
    }
    com_ptr(const com_ptr&) = delete;
    com_ptr& operator=(const com_ptr&) = delete;
    ~com_ptr() { reset(); }

    I* get() const noexcept { return p_; }
    I* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    I** put() noexcept {
        reset();
        return &p_;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
    void reset() noexcept {
        if (p_) {
            I* p = p_;
            p_ = nullptr;
            p->Release();
        }
    }

private:
    I* p_ = nullptr;
};

}  // namespace platform
