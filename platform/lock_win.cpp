// The one run per product: a mutex in a private namespace, and the window that
// shows which run holds it.
#include "platform/lock_win.h"

#include <sddl.h>

#include "platform/text.h"

namespace platform {

namespace {

// The product name upper-cased by the system's own rules for all of Unicode (the
// invariant locale's, which the file system's name comparison follows), hashed
// case-folded, so that every spelling of one manifest's name, `Ärger.xml` and
// `äRGER.xml` too, is one product. ASCII names keep the tag they always had.
uint32_t ProductTag(const std::string& product) {
    WideString folded = Widen(product);
    if (!folded.empty()) {
        WideString upper(folded.size(), L'\0');
        const int length = ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, folded.c_str(),
                                           static_cast<int>(folded.size()), &upper[0],
                                           static_cast<int>(upper.size()), nullptr, nullptr, 0);
        if (length > 0) folded.assign(upper.c_str(), static_cast<size_t>(length));
    }
    // Should the system not map, ASCII at least folds, as before.
    return FoldedHash(Narrow(folded));
}

const wchar_t kTagProperty[] = L"Drevik.Remover.Product";
const wchar_t kLockNamespace[] = L"Drevik.Remover";

template <typename Function>
Function FromKernel32(const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), name)));
}

// The private namespace of the lock, bounded to the Administrators group, made or
// opened; null (with true) where the system offers no private namespaces. False,
// with the system's error, when it offers them and this one can be neither made nor
// opened. Loaded, not linked: Wine offers none (its CreateBoundaryDescriptorW is a
// stub that fails, and AddSIDToBoundaryDescriptor, imported, aborts the process),
// so there the lock keeps its global name, which any process could take first.
bool OpenLockNamespace(HANDLE* opened) {
    *opened = nullptr;
    const auto createBoundary = FromKernel32<HANDLE(WINAPI*)(LPCWSTR, ULONG)>("CreateBoundaryDescriptorW");
    const auto addSid = FromKernel32<BOOL(WINAPI*)(HANDLE*, PSID)>("AddSIDToBoundaryDescriptor");
    const auto deleteBoundary = FromKernel32<VOID(WINAPI*)(HANDLE)>("DeleteBoundaryDescriptor");
    const auto create = FromKernel32<HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LPVOID, LPCWSTR)>("CreatePrivateNamespaceW");
    const auto open = FromKernel32<HANDLE(WINAPI*)(LPVOID, LPCWSTR)>("OpenPrivateNamespaceW");
    if (!createBoundary || !addSid || !deleteBoundary || !create || !open) return true;
    HANDLE boundary = createBoundary(kLockNamespace, 0);
    if (!boundary) return true;
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(administrators);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    // Only the Administrators group may enter the boundary or open the namespace.
    if (::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size) &&
        addSid(&boundary, administrators) &&
        ::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;GA;;;BA)", SDDL_REVISION_1, &descriptor,
                                                                nullptr)) {
        SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
        // Another removal may make it, or close the last handle to it, meanwhile.
        for (int attempt = 0; attempt < 4 && !*opened; ++attempt) {
            *opened = create(&attributes, boundary, kLockNamespace);
            if (*opened || ::GetLastError() != ERROR_ALREADY_EXISTS) break;
            *opened = open(boundary, kLockNamespace);
        }
    }
    const DWORD error = ::GetLastError();
    if (descriptor) ::LocalFree(descriptor);
    deleteBoundary(boundary);
    ::SetLastError(error);
    return *opened != nullptr;
}

}  // namespace

void ProductLock::NamespaceTraits::close(HANDLE handle) {
    if (const auto close = FromKernel32<BOOLEAN(WINAPI*)(HANDLE, ULONG)>("ClosePrivateNamespace")) close(handle, 0);
}

ProductLock::ProductLock(const std::string& product) : tag_(ProductTag(product)) {
    // A lock that cannot be made is no lock: the run refuses rather than go on unguarded.
    const bool made = OpenLockNamespace(namespace_.put());
    if (!made) {
        error_ = ::GetLastError();
        return;
    }
    // Without a private namespace, Global: a removal in another session of the same
    // machine counts too.
    wchar_t name[96];
    ::wsprintfW(name, L"%ls\\Drevik.Remover.%08X", namespace_ ? kLockNamespace : L"Global", tag_);
    // Held is owned: whoever has a handle open (a run showing that the product is
    // busy) does not hold it. A holder that ended without letting go (killed)
    // leaves it abandoned, and the next run takes it.
    unique_handle mutex(::CreateMutexW(nullptr, FALSE, name));
    if (!mutex) {
        error_ = ::GetLastError();
        return;
    }
    switch (::WaitForSingleObject(mutex.get(), 0)) {
        case WAIT_OBJECT_0:
        case WAIT_ABANDONED:
            mutex_ = std::move(mutex);
            break;
        case WAIT_TIMEOUT:
            taken_ = true;  // and the handle goes now, before any box is shown
            break;
        default:
            error_ = ::GetLastError();
            break;
    }
}

ProductLock::~ProductLock() {
    if (mutex_) ::ReleaseMutex(mutex_.get());
}

void ProductLock::Mark(HWND window) const {
    ::SetPropW(window, kTagProperty, reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(tag_)));
}

namespace {
struct Search {
    uint32_t tag;
    HWND found;
};
BOOL CALLBACK FindTagged(HWND window, LPARAM param) {
    Search& search = *reinterpret_cast<Search*>(param);
    if (reinterpret_cast<ULONG_PTR>(::GetPropW(window, kTagProperty)) != search.tag) return TRUE;
    search.found = window;
    return FALSE;
}
}  // namespace

bool ProductLock::ActivateHolder() const {
    Search search{tag_, nullptr};
    ::EnumWindows(FindTagged, reinterpret_cast<LPARAM>(&search));
    if (!search.found) return false;
    // The holder's window may own a message box that is in front of it.
    HWND front = ::GetLastActivePopup(search.found);
    if (::IsIconic(search.found)) ::ShowWindow(search.found, SW_RESTORE);
    ::SetForegroundWindow(front ? front : search.found);
    return true;
}

}  // namespace platform
