#include "scratch_file.h"

#include <cerrno>
#include <mutex>
#include <random>
#include <set>
#include <string_view>

#include "system.h"

namespace bmpc::files {
namespace {

// Lower case and digits only: Windows takes names that differ in case alone
// for one name.
constexpr std::string_view kNameCharacters = "abcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::string_view kMark = ".bmpcontrast-";
constexpr size_t kSuffixLength = 6;
constexpr int kAttempts = 100;

std::string RandomSuffix() {
    static thread_local std::mt19937_64 generator{std::random_device{}()};
    std::uniform_int_distribution<size_t> pick(0, kNameCharacters.size() - 1);
    std::string suffix;
    for (size_t k = 0; k < kSuffixLength; ++k) suffix += kNameCharacters[pick(generator)];
    return suffix;
}

size_t LeafStart(const std::string& path) {
    const size_t slash = path.find_last_of(
#ifdef _WIN32
        "/\\"
#else
        "/"
#endif
    );
    return slash == std::string::npos ? 0 : slash + 1;
}

}  // namespace

bool IsScratchName(const std::string& name) {
    if (name.size() < kMark.size() + kSuffixLength || name[0] != '.') return false;
    const size_t mark = name.size() - kSuffixLength - kMark.size();
    if (name.compare(mark, kMark.size(), kMark) != 0) return false;
    for (size_t k = name.size() - kSuffixLength; k < name.size(); ++k) {
        if (kNameCharacters.find(name[k]) == std::string_view::npos) return false;
    }
    return true;
}

std::vector<std::string> RemoveStaleScratch(const std::string& folder) {
    static std::mutex lock;
    static std::set<std::string> cleaned;
    {
        std::lock_guard<std::mutex> hold(lock);
        if (!cleaned.insert(folder).second) return {};
    }
    std::vector<std::string> removed;
    for (const std::string& name : sys::Names(folder)) {
        if (!IsScratchName(name)) continue;
        const std::string path =
            folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
        if (sys::RemoveIfStale(path)) removed.push_back(path);
    }
    return removed;
}

ScratchFile::~ScratchFile() {
    Close();
    if (!path_.empty() && !kept_) sys::Remove(path_);
    if (lock_ >= 0) sys::Close(lock_);
}

int ScratchFile::Create(const std::string& destination, uint32_t mode, bool exact) {
    const size_t leaf = LeafStart(destination);
    const std::string folder = destination.substr(0, leaf);
    bool shortName = false;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        std::string name = folder + ".";
        if (!shortName)
            name += destination.substr(leaf) + std::string(kMark);
        else
            name += kMark.substr(1);
        name += RandomSuffix();
        fd_ = sys::CreateExclusive(name, mode, exact, &permissions_);
        if (fd_ >= 0) {
            path_ = std::move(name);
            return 0;
        }
        if (errno == ENAMETOOLONG && !shortName) {
            shortName = true;
        } else if (errno != EEXIST) {
            return errno;
        }
    }
    return EEXIST;
}

int ScratchFile::Close() {
    if (fd_ < 0) return 0;
    if (lock_ < 0) lock_ = sys::HoldLock(fd_);
    const int error = sys::Close(fd_);
    fd_ = -1;
    return error;
}

int ScratchFile::MoveTo(const std::string& destination, bool replace) {
    const int error = sys::Rename(path_, destination, replace);
    if (error == 0) kept_ = true;
    return error;
}

}  // namespace bmpc::files
