// The tool's own lines about a failed call, naming the files. The library
// has already printed its fixed line, if the failure has one.
#pragma once

#include <cstdint>
#include <string>

namespace bmpcontrast_cli {

// For the two results the library prints nothing for (13 and 41), one line
// saying which file and why. `error` is errno as the call left it.
// With `always`, every other failure gets a line naming `input` too.
void ReportFailure(int32_t result, int error, const std::string& input, const std::string& output,
                   bool always);

// One line "bmpcontrast: TEXT", written at once so that lines from parallel
// conversions do not mix.
void Say(const std::string& text);

// "'name'", quoted for messages.
std::string Quoted(const std::string& name);

}  // namespace bmpcontrast_cli
