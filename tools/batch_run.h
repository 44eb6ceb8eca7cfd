// bmpcontrast --level N (--out-dir DIR | --in-place) FILE...: many files,
// converted by long-lived worker processes, each result renamed into place
// once complete. The parent prints every line a worker reports, each naming
// its file, whole and never interleaved; a worker that crashes costs only
// the file it was on.
#pragma once

#include "options.h"

namespace bmpcontrast_cli {

int RunBatch(const Options& options);

}  // namespace bmpcontrast_cli
