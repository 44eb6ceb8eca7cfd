#include "batch_plan.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <system_error>
#include <utility>

#include "report.h"
#include "system.h"
#include "utf8_path.h"

namespace bmpcontrast_cli {
namespace {

namespace fs = std::filesystem;
using bmpc::PathOf;
using bmpc::Utf8Of;

bool IsBmpName(const fs::path& p) {
    std::string ext = p.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext == ".bmp";
}

using Identity = std::pair<uint64_t, uint64_t>;

std::optional<Identity> IdentityOf(const std::string& path) {
    const auto info = bmpc::sys::Stat(path);
    if (!info) return std::nullopt;
    return Identity(info->device, info->inode);
}

// The .bmp files under `dir`, sorted so that runs and dry runs agree. The
// output folder is not entered, so that a second run does not take the
// first one's results for inputs. Symbolic links are left alone unless
// followed (then each folder is entered once, which ends loops).
std::vector<std::string> BmpFilesUnder(const std::string& dir, const Options& options,
                                       const std::optional<Identity>& outDir,
                                       std::vector<std::string>& notes) {
    std::vector<std::string> found;
    std::set<Identity> entered;
    if (const auto root = IdentityOf(dir)) entered.insert(*root);
    auto how = fs::directory_options::skip_permission_denied;
    if (options.followSymlinks) how |= fs::directory_options::follow_directory_symlink;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(PathOf(dir), how, ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = Utf8Of(it->path());
        std::error_code typeError;
        const bool folder = it->is_directory(typeError);
        if (!options.followSymlinks && it->is_symlink(typeError)) {
            if (folder || IsBmpName(it->path())) {
                notes.push_back(Quoted(name) +
                                ": skipped, a symbolic link (--follow-symlinks follows it)");
            }
            continue;
        }
        if (folder) {
            const auto id = IdentityOf(name);
            if (id && ((outDir && *id == *outDir) || !entered.insert(*id).second)) {
                it.disable_recursion_pending();
            }
        } else if (it->is_regular_file(typeError) && IsBmpName(it->path())) {
            found.push_back(name);
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

bool ReadNames(const Options& options, std::vector<std::string>& names, std::string& error) {
    std::string text;
    if (options.filesFrom == "-") {
        bmpc::sys::SetBinary(0);  // a list of names is bytes, NULs included
        text.assign(std::istreambuf_iterator<char>(std::cin), {});
    } else {
        std::ifstream in(PathOf(options.filesFrom), std::ios::binary);
        if (!in) {
            error = "cannot read the list " + Quoted(options.filesFrom);
            return false;
        }
        text.assign(std::istreambuf_iterator<char>(in), {});
    }
    const char separator = options.nulSeparated ? '\0' : '\n';
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(separator, start);
        if (end == std::string::npos) end = text.size();
        if (end > start) names.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return true;
}

}  // namespace

bool CollectInputs(const Options& options, std::vector<std::string>& inputs,
                   std::vector<std::string>& roots, std::vector<std::string>& notes,
                   std::string& error) {
    const std::optional<Identity> outDir =
        options.outDir.empty() ? std::nullopt : IdentityOf(options.outDir);
    std::vector<std::string> named = options.files;
    if (!options.filesFrom.empty() && !ReadNames(options, named, error)) return false;
    for (const std::string& name : named) {
        const auto info = bmpc::sys::Stat(name);
        if (options.recursive && info && info->directory) {
            for (std::string& file : BmpFilesUnder(name, options, outDir, notes)) {
                inputs.push_back(std::move(file));
                roots.push_back(name);
            }
        } else {
            inputs.push_back(name);
            roots.emplace_back();
        }
    }
    return true;
}

std::vector<BatchItem> PlanBatch(const Options& options, const std::vector<std::string>& inputs,
                                 const std::vector<std::string>& roots,
                                 std::vector<std::string>& notes) {
    std::vector<BatchItem> items;
    items.reserve(inputs.size());
    std::map<std::string, size_t> claimed;  // destination -> item that has it
    std::map<Identity, size_t> seen;        // in place: file -> item that has it
    // Names from a list, or found under several folders, keep their path
    // below the output folder (as cp --parents does), so that two inputs
    // never meet at one name; under a single folder, the path below it.
    std::set<std::string> folders(roots.begin(), roots.end());
    folders.erase("");
    const bool keepPaths = !options.filesFrom.empty() || folders.size() > 1;
    const std::string outDir =
        options.outDir.empty() ? "" : bmpc::sys::Resolved(options.outDir) + "/";
    for (size_t k = 0; k < inputs.size(); ++k) {
        const std::string& input = inputs[k];
        BatchItem item;
        item.input = input;
        // A file reached twice is converted once; the second time is no failure.
        auto duplicate = [&](size_t first) {
            notes.push_back(Quoted(input) + ": skipped, the same file as " +
                            Quoted(items[first].input));
        };
        const bool found = !roots[k].empty();
        const auto info = found && !options.inPlace ? std::nullopt : bmpc::sys::Stat(input);
        if (info && info->directory) {
            item.problem = Quoted(input) +
                           " not converted: it is a folder (use -r to convert the .bmp files "
                           "under it)";
            items.push_back(std::move(item));
            continue;
        }
        if (options.inPlace) {
            item.destination = input;
            if (info) {
                const auto [it, added] =
                    seen.emplace(Identity(info->device, info->inode), items.size());
                if (!added) {
                    duplicate(it->second);
                    continue;
                }
            }
            items.push_back(std::move(item));
            continue;
        }
        // A second run must not take the first one's results for inputs.
        if (!outDir.empty() && bmpc::sys::Resolved(input).rfind(outDir, 0) == 0) {
            notes.push_back(Quoted(input) + ": skipped, it is inside the output folder");
            continue;
        }
        fs::path name;
        if (keepPaths) {
            name = PathOf(input).lexically_normal().relative_path();
            if (!name.empty() && *name.begin() == "..") name.clear();
        } else {
            name = found ? PathOf(input).lexically_relative(PathOf(roots[k]))
                         : PathOf(input).filename();
        }
        if (name.empty() || name == "." || name == ".." || !name.has_filename()) {
            item.problem = Quoted(input) + " not converted: it does not name a file under " +
                           Quoted(options.outDir);
        } else {
            item.destination = Utf8Of(PathOf(options.outDir) / name);
            const auto [it, added] = claimed.emplace(item.destination, items.size());
            if (!added) {
                const auto id = IdentityOf(input);
                if (id && id == IdentityOf(items[it->second].input)) {
                    duplicate(it->second);
                    continue;
                }
                item.problem = Quoted(input) +
                               " not converted: " + Quoted(items[it->second].input) +
                               " is also written to " + Quoted(item.destination);
            }
        }
        items.push_back(std::move(item));
    }
    return items;
}

}  // namespace bmpcontrast_cli
