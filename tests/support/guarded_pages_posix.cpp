#include <sys/mman.h>
#include <unistd.h>

#include "guarded_pages.h"

namespace bmptest {

GuardedPage::GuardedPage() : page_(static_cast<size_t>(sysconf(_SC_PAGESIZE))) {
    void* raw = mmap(nullptr, 3 * page_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return;
    base_ = static_cast<uint8_t*>(raw);
    if (mprotect(base_ + page_, page_, PROT_READ | PROT_WRITE) != 0) {
        munmap(base_, 3 * page_);
        base_ = nullptr;
    }
}

GuardedPage::~GuardedPage() {
    if (base_ != nullptr) munmap(base_, 3 * page_);
}

}  // namespace bmptest
