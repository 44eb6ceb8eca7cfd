// bmpcontrast INPUT OUTPUT LEVEL: one call of the library, with "-" standing
// for standard input or output.
#pragma once

#include <atomic>

#include "options.h"

namespace bmpcontrast_cli {

// `cancel` is set by an interrupt: the conversion stops, nothing is written.
int RunSingle(const Options& options, const std::atomic<bool>& cancel, unsigned closedAtStart);

}  // namespace bmpcontrast_cli
