// Captures what code prints on the standard streams, without touching file
// descriptors: the library prints through stdout and stderr, which glibc
// declares as assignable variables, so they are pointed at memory streams
// for the duration. Cheap enough for tens of thousands of calls; not for use
// while other threads print.
#pragma once

#include <functional>
#include <string>

namespace bmptest {

struct StdioText {
    std::string out;
    std::string err;
};

StdioText CaptureStdio(const std::function<void()>& body);

}  // namespace bmptest
