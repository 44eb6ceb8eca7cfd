// Windows: the UTF-16 path goes to the file system as it is, so every name it
// holds opens (an unpaired surrogate included); no code page is involved.
#include <sys/stat.h>
#include <wchar.h>

#include "file_access.h"

namespace bmpc {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t expected");

std::FILE* Open(const char16_t* path, const wchar_t* mode) noexcept {
    if (path == nullptr) return nullptr;
    return _wfopen(reinterpret_cast<const wchar_t*>(path), mode);
}

}  // namespace

std::FILE* OpenInput(const char16_t* path) noexcept { return Open(path, L"rb"); }
std::FILE* OpenOutput(const char16_t* path) noexcept { return Open(path, L"wb"); }

int64_t InputSize(std::FILE* in) noexcept {
    struct _stat64 st {};
    if (_fstat64(_fileno(in), &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG) return 0;
    return st.st_size;
}

}  // namespace bmpc
