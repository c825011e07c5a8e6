// The one run per product.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "platform/win_handles.h"

namespace platform {

// Held while this run works on a product; a second run for the same product
// finds it taken. Where the system offers private namespaces, the lock lives in one
// that only the Administrators group may enter, so no unelevated process can take
// its name first. A run that finds it taken keeps no handle to it: the lock is free
// again as soon as its holder ends, whatever the runs that found it taken still show.
class ProductLock {
public:
    explicit ProductLock(const std::string& product);
    ~ProductLock();
    ProductLock(const ProductLock&) = delete;
    ProductLock& operator=(const ProductLock&) = delete;
    bool Taken() const { return taken_; }
    // Neither held nor taken: it could not be made, for the system error Error().
    bool Failed() const { return !mutex_ && !taken_; }
    uint32_t Error() const { return error_; }
    // Marks `window` as this run's, so that a second run can bring it forward.
    void Mark(HWND window) const;
    // Brings the window of the run that holds the lock to the front; false when
    // there is none (a silent run holds it, or another process took the name).
    bool ActivateHolder() const;

private:
    struct NamespaceTraits {
        static HANDLE invalid() { return nullptr; }
        static void close(HANDLE handle);
    };
    unique_any<HANDLE, NamespaceTraits> namespace_;
    unique_handle mutex_;  // held: this run owns the mutex
    bool taken_ = false;
    uint32_t error_ = 0;
    uint32_t tag_;
};

}  // namespace platform
