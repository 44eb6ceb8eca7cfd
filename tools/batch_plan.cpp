#include "batch_plan.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <utility>

#include "report.h"
#include "temp_file.h"

namespace bmpcontrast_cli {
namespace {

namespace fs = std::filesystem;

// In place, the result replaces the file a symbolic link points to, not the
// link; so the destination is the resolved path.
std::string Resolved(const std::string& path) {
    char* real = realpath(path.c_str(), nullptr);
    if (real == nullptr) return path;  // the conversion will report why
    std::string result = real;
    std::free(real);
    return result;
}

}  // namespace

std::vector<BatchItem> PlanBatch(const Options& options) {
    std::vector<BatchItem> items;
    items.reserve(options.files.size());
    const mode_t fresh = 0666 & ~CreationMask();
    std::map<std::string, size_t> claimed;  // destination -> item that has it
    std::map<std::pair<dev_t, ino_t>, size_t> seen;
    for (const std::string& input : options.files) {
        BatchItem item;
        item.input = input;
        item.mode = fresh;
        if (options.inPlace) {
            item.destination = Resolved(input);
            struct stat st {};
            if (stat(input.c_str(), &st) == 0) {
                item.mode = st.st_mode & 07777;
                const auto [it, added] =
                    seen.emplace(std::pair(st.st_dev, st.st_ino), items.size());
                if (!added) {
                    item.problem = Quoted(input) + " not converted: it is the same file as " +
                                   Quoted(items[it->second].input);
                }
            }
        } else {
            const fs::path name = fs::path(input).filename();
            if (name.empty() || name == "." || name == "..") {
                item.problem = Quoted(input) + " not converted: it does not name a file";
            } else {
                item.destination = (fs::path(options.outDir) / name).string();
                const auto [it, added] = claimed.emplace(item.destination, items.size());
                if (!added) {
                    item.problem = Quoted(input) +
                                   " not converted: " + Quoted(items[it->second].input) +
                                   " is also written to " + Quoted(item.destination);
                }
            }
        }
        items.push_back(std::move(item));
    }
    return items;
}

}  // namespace bmpcontrast_cli
