// Which files a batch converts, and where each goes.
#pragma once

#include <cstdint>
#include <deque>
#include <fstream>
#include <istream>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "options.h"

namespace bmpcontrast_cli {

struct BatchItem {
    std::string input;
    std::string destination;
    std::string problem;  // non-empty: not converted, for this reason
};

// The files of a batch and where each goes, planned one at a time as the
// batch takes them: the names on the command line first, then those of
// --files-from, read as the batch goes (an endless list is no problem).
// Folders expand to the .bmp files under them (any case) with -r; symbolic
// links met in folders are not followed unless asked, and the output
// folder is never entered: each gets a line in `notes` (for -v).
//
// A folder given without -r is an item with a problem. An input whose
// destination another input already claims (two "a/x.bmp", "b/x.bmp" named
// into one folder) gets a problem instead of a destination, so that
// nothing is silently overwritten; the same file reached twice is planned
// once (with a line in `notes`), and a file inside the output folder not
// at all. A file found under a folder keeps its path below that folder
// under --out-dir; names from --files-from, and files under several
// folders, keep their whole relative path.
class BatchFeed {
  public:
    // False, with `error`, where the list cannot be opened.
    bool Open(const Options& options, std::string& error);
    // The next item; false once there is none.
    bool Next(BatchItem& item, std::vector<std::string>& notes);
    // Names given or found but not yet taken (not those of the list still
    // unread).
    std::vector<std::string> Unread();

  private:
    using Identity = std::pair<uint64_t, uint64_t>;
    bool Plan(const std::string& input, const std::string& root, BatchItem& item,
              std::vector<std::string>& notes);

    const Options* options_ = nullptr;
    std::deque<std::string> pending_;                        // names not looked at yet
    std::deque<std::pair<std::string, std::string>> found_;  // (file, folder it was under)
    std::istream* list_ = nullptr;
    std::ifstream file_;
    char separator_ = '\n';
    bool keepPaths_ = false;
    std::optional<Identity> outDir_;
    std::string outPrefix_;                       // the output folder, resolved, with a slash
    std::map<std::string, std::string> claimed_;  // destination -> input that has it
    std::map<Identity, std::string> seen_;        // in place: file -> name that has it
};

}  // namespace bmpcontrast_cli
