// Windows: the UTF-16 path goes to the file system as it is, so every name it
// holds opens (an unpaired surrogate included); no code page is involved.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// After windows.h.
#include <io.h>
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

bool OtherFile(std::FILE* in, const char16_t* outputPath) noexcept {
    if (outputPath == nullptr) return false;
    const HANDLE input = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(in)));
    const HANDLE output = CreateFileW(reinterpret_cast<const wchar_t*>(outputPath), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (output == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    BY_HANDLE_FILE_INFORMATION a{}, b{};
    const bool known =
        GetFileInformationByHandle(input, &a) && GetFileInformationByHandle(output, &b);
    CloseHandle(output);
    return known && (a.dwVolumeSerialNumber != b.dwVolumeSerialNumber ||
                     a.nFileIndexHigh != b.nFileIndexHigh || a.nFileIndexLow != b.nFileIndexLow);
}

int64_t InputSize(std::FILE* in) noexcept {
    struct _stat64 st {};
    if (_fstat64(_fileno(in), &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG) return 0;
    return st.st_size;
}

}  // namespace bmpc
