#include "temp_file.h"

#include <cerrno>
#include <random>
#include <string_view>

#include "platform/platform.h"

namespace bmpcontrast_cli {
namespace {

// Lower case and digits only: Windows takes names that differ in case alone
// for one name.
constexpr std::string_view kNameCharacters = "abcdefghijklmnopqrstuvwxyz0123456789";
constexpr int kAttempts = 100;

std::string RandomSuffix() {
    static thread_local std::mt19937_64 generator{std::random_device{}()};
    std::uniform_int_distribution<size_t> pick(0, kNameCharacters.size() - 1);
    std::string suffix;
    for (int k = 0; k < 6; ++k) suffix += kNameCharacters[pick(generator)];
    return suffix;
}

}  // namespace

TempFile::TempFile(const std::string& prefix, uint32_t mode) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        std::string name = prefix + RandomSuffix();
        fd_ = platform::CreateExclusive(name, mode);
        if (fd_ >= 0) {
            path_ = std::move(name);
            return;
        }
        if (errno != EEXIST) return;
    }
}

TempFile::~TempFile() {
    Close();
    if (!path_.empty() && !kept_) platform::Remove(path_);
}

int TempFile::Close() {
    const int error = fd_ >= 0 ? platform::Close(fd_) : 0;
    fd_ = -1;
    return error;
}

int TempFile::MoveTo(const std::string& destination, bool replace) {
    const int error = platform::Rename(path_, destination, replace);
    if (error == 0) kept_ = true;
    return error;
}

}  // namespace bmpcontrast_cli
