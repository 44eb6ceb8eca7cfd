// POSIX: the UTF-16 path becomes a UTF-8 file name. Built with 64-bit file
// offsets (_FILE_OFFSET_BITS=64), so fstat sizes files over 2 GiB on 32-bit
// targets too.
#include <sys/stat.h>

#include <cerrno>

#include "file_access.h"
#include "narrow_path.h"

namespace bmpc {
namespace {

std::FILE* Open(const char16_t* path, const char* mode) noexcept {
    const NarrowPathPtr name = NarrowPath(path);
    return name ? std::fopen(name.get(), mode) : nullptr;
}

}  // namespace

std::FILE* OpenInput(const char16_t* path) noexcept { return Open(path, "rb"); }
std::FILE* OpenOutput(const char16_t* path) noexcept { return Open(path, "wb"); }

bool OtherFile(std::FILE* in, const char16_t* outputPath) noexcept {
    const NarrowPathPtr name = NarrowPath(outputPath);
    struct stat input {
    }, output{};
    if (!name || fstat(fileno(in), &input) != 0) return false;
    if (stat(name.get(), &output) != 0) return errno == ENOENT;
    return input.st_dev != output.st_dev || input.st_ino != output.st_ino;
}

int64_t InputSize(std::FILE* in) noexcept {
    static_assert(sizeof(off_t) == 8, "64-bit file offsets needed");
    struct stat st {};
    if (fstat(fileno(in), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    return st.st_size;
}

}  // namespace bmpc
