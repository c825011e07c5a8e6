#include "platform/taskbar_win.h"

#include "platform/win_handles.h"

namespace platform {

TaskbarProgress::TaskbarProgress(HWND window) : window_(window) {
    if (SUCCEEDED(::CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                     list_.put_void())) &&
        FAILED(list_->HrInit())) {
        list_.reset();
    }
}

TaskbarProgress::~TaskbarProgress() {
    // The list goes before COM does: the members end in the reverse of their order.
    if (list_) list_->SetProgressState(window_, TBPF_NOPROGRESS);
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
