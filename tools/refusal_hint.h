// What the header says about a file the library refused, in words a
// person can act on.
#pragma once

#include <string>

#include "engine.h"

namespace bmpcontrast_cli {

// For a refusal (result 166, 14444, or 1444 for more than 2 GiB of pixels): the real cause and what
// to do, as a line naming `shown`, or "" where the header does not tell.
std::string RefusalHint(const bmpc::Description& d, const std::string& shown);

}  // namespace bmpcontrast_cli
