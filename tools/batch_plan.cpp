#include "batch_plan.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <string>
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

}  // namespace

bool BatchFeed::Open(const Options& options, std::string& error) {
    options_ = &options;
    if (!options.outDir.empty()) {
        outDir_ = IdentityOf(options.outDir);
        outPrefix_ = bmpc::sys::Resolved(options.outDir) + "/";
    }
    size_t folders = 0;
    for (const std::string& name : options.files) {
        const auto info = bmpc::sys::Stat(name);
        if (options.recursive && info && info->directory) ++folders;
        pending_.push_back(name);
    }
    // Names from a list, or found under several folders, keep their path
    // below the output folder (as cp --parents does), so that two inputs
    // never meet at one name; under a single folder, the path below it.
    keepPaths_ = !options.filesFrom.empty() || folders > 1;
    separator_ = options.nulSeparated ? '\0' : '\n';
    if (options.filesFrom == "-") {
        bmpc::sys::SetBinary(0);  // a list of names is bytes, NULs included
        list_ = &std::cin;
    } else if (!options.filesFrom.empty()) {
        file_.open(PathOf(options.filesFrom), std::ios::binary);
        if (!file_) {
            error = "cannot read the list " + Quoted(options.filesFrom);
            return false;
        }
        list_ = &file_;
    }
    return true;
}

bool BatchFeed::Next(BatchItem& item, std::vector<std::string>& notes) {
    for (;;) {
        while (found_.empty()) {
            std::string name;
            if (!pending_.empty()) {
                name = std::move(pending_.front());
                pending_.pop_front();
            } else if (list_ == nullptr || !std::getline(*list_, name, separator_)) {
                return false;
            }
            if (name.empty()) continue;
            const auto info = bmpc::sys::Stat(name);
            if (options_->recursive && info && info->directory) {
                for (std::string& file : BmpFilesUnder(name, *options_, outDir_, notes))
                    found_.emplace_back(std::move(file), name);
            } else {
                found_.emplace_back(name, "");
            }
        }
        auto [input, root] = std::move(found_.front());
        found_.pop_front();
        if (Plan(input, root, item, notes)) return true;
    }
}

std::vector<std::string> BatchFeed::Unread() {
    std::vector<std::string> left;
    for (const auto& [input, root] : found_) left.push_back(input);
    left.insert(left.end(), pending_.begin(), pending_.end());
    // The rest of a list file too; standard input may never end.
    for (std::string name; list_ == &file_ && std::getline(file_, name, separator_);) {
        if (!name.empty()) left.push_back(std::move(name));
    }
    return left;
}

bool BatchFeed::Plan(const std::string& input, const std::string& root, BatchItem& item,
                     std::vector<std::string>& notes) {
    item = BatchItem{};
    item.input = input;
    // A file reached twice is converted once; the second time is no failure.
    auto duplicate = [&](const std::string& first) {
        notes.push_back(Quoted(input) + ": skipped, the same file as " + Quoted(first));
        return false;
    };
    const bool found = !root.empty();
    const auto info = found && !options_->inPlace ? std::nullopt : bmpc::sys::Stat(input);
    if (info && info->directory) {
        item.problem = Quoted(input) +
                       " not converted: it is a folder (use -r to convert the .bmp files "
                       "under it)";
        return true;
    }
    if (options_->inPlace) {
        item.destination = input;
        if (info) {
            const auto [it, added] = seen_.emplace(Identity(info->device, info->inode), input);
            if (!added) return duplicate(it->second);
        }
        return true;
    }
    // A second run must not take the first one's results for inputs (the
    // walk of a folder never enters the output folder).
    if (!found && !outPrefix_.empty() && bmpc::sys::Resolved(input).rfind(outPrefix_, 0) == 0) {
        notes.push_back(Quoted(input) + ": skipped, it is inside the output folder");
        return false;
    }
    fs::path name;
    if (keepPaths_) {
        name = PathOf(input).lexically_normal().relative_path();
        if (!name.empty() && *name.begin() == "..") name.clear();
    } else {
        name = found ? PathOf(input).lexically_relative(PathOf(root)) : PathOf(input).filename();
    }
    if (name.empty() || name == "." || name == ".." || !name.has_filename()) {
        item.problem = Quoted(input) + " not converted: it does not name a file under " +
                       Quoted(options_->outDir);
        return true;
    }
    item.destination = Utf8Of(PathOf(options_->outDir) / name);
    const auto [it, added] = claimed_.emplace(item.destination, input);
    if (!added) {
        const auto id = IdentityOf(input);
        if (id && id == IdentityOf(it->second)) return duplicate(it->second);
        item.problem = Quoted(input) + " not converted: " + Quoted(it->second) +
                       " is also written to " + Quoted(item.destination);
    }
    return true;
}

}  // namespace bmpcontrast_cli
