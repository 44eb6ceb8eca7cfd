// bmpcontrast INPUT OUTPUT LEVEL: one call of the library, with "-" standing
// for standard input or output.
#pragma once

#include "options.h"

namespace bmpcontrast_cli {

int RunSingle(const Options& options);

}  // namespace bmpcontrast_cli
