// COM for the calls that need it: the apartment, and memory COM hands out.
#pragma once

#include <objbase.h>

#include "platform/unique.h"

namespace platform {

// COM on this thread for the scope's life, torn down again only when this scope set
// it up.
class ComScope {
public:
    ComScope() : initialised_(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~ComScope() {
        if (initialised_) ::CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    bool initialised_;
};

// Memory a COM call allocated for its caller.
template <typename T>
struct CoTaskMemTraits {
    static T invalid() { return nullptr; }
    static void close(T memory) { ::CoTaskMemFree(memory); }
};
template <typename T>
using unique_cotaskmem = unique_any<T*, CoTaskMemTraits<T*>>;

}  // namespace platform
