// bmpcontrast --level N (--out-dir DIR | --in-place) FILE...: many files,
// converted in parallel, each result renamed into place once complete.
#pragma once

#include "options.h"

namespace bmpcontrast_cli {

int RunBatch(const Options& options);

}  // namespace bmpcontrast_cli
