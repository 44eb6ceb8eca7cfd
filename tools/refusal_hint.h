// What the header says about a file the library refused, in words a
// person can act on.
#pragma once

#include <string>

#include "engine.h"

namespace bmpcontrast_cli {

// For a refusal in the description's mode (result 166, 14444; 1444 for
// more than 2 GiB of pixels; any, for a file of another format): the real
// cause and what to do, as a line naming `shown`, or "" where the first
// bytes and the header do not tell.
std::string RefusalHint(const bmpc::Description& d, const std::string& shown);

}  // namespace bmpcontrast_cli
