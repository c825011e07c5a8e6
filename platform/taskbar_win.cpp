#include "platform/taskbar_win.h"

#include <shobjidl.h>

#include "platform/win_handles.h"

namespace platform {

TaskbarProgress::TaskbarProgress(HWND window)
    : window_(window), com_(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    ITaskbarList3* list = nullptr;
    if (SUCCEEDED(::CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                     reinterpret_cast<void**>(&list)))) {
        if (SUCCEEDED(list->HrInit())) {
            list_ = list;
        } else {
            list->Release();
        }
    }
}

TaskbarProgress::~TaskbarProgress() {
    if (list_) {
        list_->SetProgressState(window_, TBPF_NOPROGRESS);
        list_->Release();
    }
    if (com_) ::CoUninitialize();
}

void TaskbarProgress::Show(uint32_t done, uint32_t total, bool busy) {
    if (!list_) return;
    list_->SetProgressState(window_, busy ? TBPF_INDETERMINATE : TBPF_NORMAL);
    if (!busy) list_->SetProgressValue(window_, done, total);
}

ShutdownBlock::ShutdownBlock(HWND window, const std::string& reason) : window_(window) { Say(reason); }

ShutdownBlock::~ShutdownBlock() { ::ShutdownBlockReasonDestroy(window_); }

void ShutdownBlock::Say(const std::string& reason) { ::ShutdownBlockReasonCreate(window_, Widen(reason).c_str()); }

}  // namespace platform
