// bmpcontrast (--out-dir DIR | --in-place) FILE...: many files on a pool
// of threads, a line for each that fails, a summary at the end.
#pragma once

#include <atomic>

#include "options.h"

namespace bmpcontrast_cli {

// `cancel` is set by an interrupt: conversions stop at their next chunk,
// leaving nothing behind, and no more start.
int RunBatch(const Options& options, std::atomic<bool>& cancel);

}  // namespace bmpcontrast_cli
