#include <windows.h>

#include "guarded_pages.h"

namespace bmptest {

GuardedPage::GuardedPage() {
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    page_ = info.dwPageSize;
    // Reserved but not committed, the outer pages fault on any access.
    void* raw = VirtualAlloc(nullptr, 3 * page_, MEM_RESERVE, PAGE_NOACCESS);
    if (raw == nullptr) return;
    base_ = static_cast<uint8_t*>(raw);
    if (VirtualAlloc(base_ + page_, page_, MEM_COMMIT, PAGE_READWRITE) == nullptr) {
        VirtualFree(base_, 0, MEM_RELEASE);
        base_ = nullptr;
    }
}

GuardedPage::~GuardedPage() {
    if (base_ != nullptr) VirtualFree(base_, 0, MEM_RELEASE);
}

}  // namespace bmptest
