// Where each file of a batch goes, decided before any conversion starts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "options.h"

namespace bmpcontrast_cli {

struct BatchItem {
    std::string input;
    std::string destination;
    std::string problem;  // non-empty: not converted, for this reason
};

// The inputs named on the command line and in --files-from, with folders
// expanded to the .bmp files under them (any case) when recursive. Returns
// false, with `error` set, when the list of names cannot be read.
// Symbolic links met in folders are not followed unless asked, and the
// output folder is never entered: each gets a line in `notes` (for -v).
bool CollectInputs(const Options& options, std::vector<std::string>& inputs,
                   std::vector<std::string>& roots, std::vector<std::string>& notes,
                   std::string& error);

// One item per input, in order. A folder given without --recursive is an
// item with a problem. An input whose destination another input already
// claims (two "a/x.bmp", "b/x.bmp" into one directory, or one file named
// twice for --in-place) gets a problem instead of a destination, so that
// nothing is silently overwritten; the same file reached twice for the same
// destination is planned once (with a line in `notes` for -v), and so is a
// file inside the output folder (not at all). `roots[k]` is the folder
// input k was found under ("" for a file named directly): its path below
// the folder is kept under --out-dir; names from --files-from, and files
// under several folders, keep their whole relative path.
std::vector<BatchItem> PlanBatch(const Options& options, const std::vector<std::string>& inputs,
                                 const std::vector<std::string>& roots,
                                 std::vector<std::string>& notes);

}  // namespace bmpcontrast_cli
