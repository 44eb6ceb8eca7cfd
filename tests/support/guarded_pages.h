// Three pages: inaccessible, readable and writable, inaccessible. Code that
// reaches past either end of the middle page faults at once.
#pragma once

#include <cstddef>
#include <cstdint>

namespace bmptest {

class GuardedPage {
  public:
    GuardedPage();  // ok() is false where the pages could not be set up
    ~GuardedPage();
    GuardedPage(const GuardedPage&) = delete;
    GuardedPage& operator=(const GuardedPage&) = delete;

    bool ok() const { return base_ != nullptr; }
    size_t size() const { return page_; }
    uint8_t* begin() const { return base_ + page_; }
    uint8_t* end() const { return base_ + 2 * page_; }

  private:
    size_t page_ = 0;
    uint8_t* base_ = nullptr;
};

}  // namespace bmptest
