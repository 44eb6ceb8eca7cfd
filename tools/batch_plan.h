// Where each file of a batch goes, decided before any conversion starts.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "options.h"

namespace bmpcontrast_cli {

struct BatchItem {
    std::string input;
    std::string destination;
    mode_t mode = 0644;   // permissions of the result
    std::string problem;  // non-empty: not converted, for this reason
};

// One item per input, in order. An input whose destination another input
// already claims (two "a/x.bmp", "b/x.bmp" into one directory, or one file
// named twice for --in-place) gets a problem instead of a destination, so
// that nothing is converted twice or silently overwritten.
std::vector<BatchItem> PlanBatch(const Options& options);

}  // namespace bmpcontrast_cli
