// Captures what code prints on the standard streams, and silences them.
// Cheap enough for tens of thousands of calls; neither is for use while
// other threads print, but code run under SilencedStdio may print from
// any thread. How each system redirects the streams is in its own file.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace bmptest {

struct StdioText {
    std::string out;
    std::string err;
};

StdioText CaptureStdio(const std::function<void()>& body);

// Discards what is printed on both streams while it lives.
class SilencedStdio {
  public:
    SilencedStdio();
    ~SilencedStdio();
    SilencedStdio(const SilencedStdio&) = delete;
    SilencedStdio& operator=(const SilencedStdio&) = delete;

  private:
    struct Saved;
    std::unique_ptr<Saved> saved_;
};

}  // namespace bmptest
