#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, which it needs.
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "system.h"
#include "utf8_path.h"

namespace bmpc::sys {
namespace {

constexpr int64_t kUnixEpochIn100ns = 116444736000000000;

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int size = static_cast<int>(std::min<size_t>(utf8.size(), INT_MAX));
    const int count = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<size_t>(std::max(count, 0)), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), count);
    return wide;
}

// UTF-16 to UTF-8, keeping an unpaired surrogate as its three-byte form so
// that such a name is refused later as invalid rather than silently turned
// into another name.
std::string Narrow(std::wstring_view wide) {
    std::string out;
    out.reserve(wide.size());
    for (size_t i = 0; i < wide.size(); ++i) {
        uint32_t cp = static_cast<uint16_t>(wide[i]);
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < wide.size()) {
            const uint32_t low = static_cast<uint16_t>(wide[i + 1]);
            if (low >= 0xDC00 && low < 0xE000) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

// The errno value for a Win32 error, so that messages match POSIX's.
int ErrnoOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_NETPATH:
        case ERROR_DIRECTORY:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_WRITE_PROTECT:
            return EACCES;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return ENOMEM;
        case ERROR_TOO_MANY_OPEN_FILES:
            return EMFILE;
        case ERROR_FILENAME_EXCED_RANGE:
            return ENAMETOOLONG;
        case ERROR_NOT_SAME_DEVICE:
            return EXDEV;
        case ERROR_BROKEN_PIPE:
        case ERROR_NO_DATA:
            return EPIPE;
        default:
            return EIO;
    }
}

int LastErrno() { return ErrnoOf(GetLastError()); }

HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

int64_t Nanoseconds(const FILETIME& t) {
    const int64_t ticks =
        static_cast<int64_t>((uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime);
    return (ticks - kUnixEpochIn100ns) * 100;
}

FILETIME FileTime(int64_t ns) {
    const auto ticks = static_cast<uint64_t>(ns / 100 + kUnixEpochIn100ns);
    return {static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

// A handle for looking at a file or folder, following links.
HANDLE OpenForInfo(const std::string& path, DWORD access) {
    return CreateFileW(Wide(path).c_str(), access,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

int DescriptorOf(HANDLE h, int flags) {
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), flags);
    if (fd < 0) CloseHandle(h);
    return fd;
}

std::optional<FileInfo> InfoOfHandle(HANDLE h) {
    BY_HANDLE_FILE_INFORMATION data{};
    if (!GetFileInformationByHandle(h, &data)) return std::nullopt;
    FileInfo info;
    info.directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    info.regular = !info.directory && GetFileType(h) == FILE_TYPE_DISK;
    info.size = (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    info.permissions = (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0 ? 0444 : 0666;
    if (info.directory) info.permissions |= 0111;
    info.modifiedNs = Nanoseconds(data.ftLastWriteTime);
    info.accessedNs = Nanoseconds(data.ftLastAccessTime);
    info.device = data.dwVolumeSerialNumber;
    info.inode = (uint64_t{data.nFileIndexHigh} << 32) | data.nFileIndexLow;
    info.links = data.nNumberOfLinks;
    return info;
}

std::optional<FileInfo> InfoOf(const std::string& path) {
    const HANDLE h = CreateFileW(Wide(path).c_str(), FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::nullopt;
    auto info = InfoOfHandle(h);
    CloseHandle(h);
    return info;
}

}  // namespace

std::string Utf8OfWide(std::wstring_view wide) { return Narrow(wide); }

std::optional<FileInfo> Stat(const std::string& path) { return InfoOf(path); }

bool NameExists(const std::string& path) {
    return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool Writable(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) == 0;
}

std::string Resolved(const std::string& path) {
    const HANDLE h = OpenForInfo(path, 0);
    if (h == INVALID_HANDLE_VALUE) return path;
    std::wstring name(MAX_PATH, L'\0');
    DWORD n = GetFinalPathNameByHandleW(h, name.data(), static_cast<DWORD>(name.size()), 0);
    if (n >= name.size()) {
        name.resize(n + 1);
        n = GetFinalPathNameByHandleW(h, name.data(), static_cast<DWORD>(name.size()), 0);
    }
    CloseHandle(h);
    if (n == 0 || n >= name.size()) return path;
    name.resize(n);
    // The system's own form, \\?\C:\... or \\?\UNC\server\..., made ordinary.
    if (name.rfind(L"\\\\?\\UNC\\", 0) == 0) {
        name = L"\\\\" + name.substr(8);
    } else if (name.rfind(L"\\\\?\\", 0) == 0) {
        name = name.substr(4);
    }
    return Narrow(name);
}

int ApplyMetadata(const std::string& path, uint32_t permissions, const FileInfo* times) {
    const std::wstring wide = Wide(path);
    if (times != nullptr) {
        const HANDLE h = OpenForInfo(path, FILE_WRITE_ATTRIBUTES);
        if (h == INVALID_HANDLE_VALUE) return LastErrno();
        const FILETIME accessed = FileTime(times->accessedNs);
        const FILETIME modified = FileTime(times->modifiedNs);
        const bool set = SetFileTime(h, nullptr, &accessed, &modified) != 0;
        const int error = set ? 0 : LastErrno();
        CloseHandle(h);
        if (!set) return error;
    }
    // Windows knows only "read-only": a file nobody may write is one.
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return LastErrno();
    const DWORD wanted = (permissions & 0222) == 0 ? attributes | FILE_ATTRIBUTE_READONLY
                                                   : attributes & ~DWORD{FILE_ATTRIBUTE_READONLY};
    if (wanted != attributes && !SetFileAttributesW(wide.c_str(), wanted)) return LastErrno();
    return 0;
}

int OpenRead(const std::string& path) {
    const HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        errno = LastErrno();
        return -1;
    }
    const int fd = DescriptorOf(h, _O_RDONLY | _O_BINARY);
    if (fd < 0) errno = EMFILE;
    return fd;
}

int CreateExclusive(const std::string& path, uint32_t, bool, uint32_t* made) {
    if (made != nullptr) *made = 0666;
    // Permissions come later, through ApplyMetadata: a read-only file could
    // not be written. Shared for deletion, so that the file
    // can be renamed into place while it is still open here.
    const HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        errno = LastErrno();
        return -1;
    }
    const int fd = DescriptorOf(h, _O_RDWR | _O_BINARY);
    if (fd < 0) {
        DeleteFileW(Wide(path).c_str());
        errno = EMFILE;
    }
    return fd;
}

int Rename(const std::string& from, const std::string& to, bool replace) {
    // Without MOVEFILE_COPY_ALLOWED: a rename, never a copy that could be
    // seen half done.
    const DWORD flags = replace ? MOVEFILE_REPLACE_EXISTING : 0;
    return MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), flags) ? 0 : LastErrno();
}

int Remove(const std::string& path) { return DeleteFileW(Wide(path).c_str()) ? 0 : LastErrno(); }

std::string TempDirectory() {
    wchar_t buffer[MAX_PATH + 2];
    const DWORD n = GetTempPathW(MAX_PATH + 2, buffer);
    if (n == 0 || n > MAX_PATH + 1) return ".";
    std::wstring dir(buffer, n);
    while (dir.size() > 3 && (dir.back() == L'\\' || dir.back() == L'/')) dir.pop_back();
    return Narrow(dir);
}

namespace {

// A call an interrupt cancelled (CancelSynchronousIo) was interrupted, as
// on POSIX.
long Interrupted(long result) {
    if (result < 0 && _doserrno == ERROR_OPERATION_ABORTED) errno = EINTR;
    return result;
}

}  // namespace

long ReadSome(int fd, char* data, size_t size) {
    const auto count = static_cast<unsigned>(std::min<size_t>(size, INT_MAX));
    return Interrupted(_read(fd, data, count));
}

long WriteSome(int fd, const char* data, size_t size) {
    const auto count = static_cast<unsigned>(std::min<size_t>(size, INT_MAX));
    return Interrupted(_write(fd, data, count));
}

int Close(int fd) { return _close(fd) == 0 ? 0 : errno; }

bool SeekTo(int fd, int64_t offset) {
    return offset >= 0 && _lseeki64(fd, offset, SEEK_SET) == offset;
}

std::optional<FileInfo> OpenInfo(int fd) { return InfoOfHandle(HandleOf(fd)); }

// Asked for when the file was opened (FILE_FLAG_SEQUENTIAL_SCAN).
void ReadingThrough(int) {}

int64_t Position(int fd) { return _lseeki64(fd, 0, SEEK_CUR); }

void SetBinary(int fd) { _setmode(fd, _O_BINARY); }

int KeepOwner(int, const FileInfo&) { return 0; }

int OpenWrite(const std::string& path) {
    const HANDLE h =
        CreateFileW(Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        errno = LastErrno();
        return -1;
    }
    const int fd = DescriptorOf(h, _O_WRONLY | _O_BINARY);
    if (fd < 0) errno = EMFILE;
    return fd;
}

// Windows has no advisory locks that outlive nothing: a scratch file left
// by a killed run is not told from one in use, so none is removed.
bool RemoveIfStale(const std::string& path) {
    // A run holds its scratch file open, shared, until the file has its
    // final name; one that opens here unshared is held by nobody. Folders
    // and links are left alone, and so is a read-only file.
    const HANDLE h = CreateFileW(Wide(path).c_str(), DELETE | FILE_READ_ATTRIBUTES, 0, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION data{};
    FILE_DISPOSITION_INFO gone{TRUE};
    const DWORD kept =
        FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_READONLY;
    const bool removed = GetFileInformationByHandle(h, &data) &&
                         (data.dwFileAttributes & kept) == 0 &&
                         SetFileInformationByHandle(h, FileDispositionInfo, &gone, sizeof gone);
    CloseHandle(h);
    return removed;
}

int HoldLock(int fd) { return _dup(fd); }

int MakeFolders(const std::string& folder) {
    std::error_code ec;
    std::filesystem::create_directories(PathOf(folder), ec);
    return ec ? (ec.value() != 0 ? EIO : 0) : 0;
}

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(PathOf(folder.empty() ? "." : folder), ec), end;
         !ec && it != end; it.increment(ec)) {
        names.push_back(Utf8Of(it->path().filename()));
    }
    return names;
}

// The C runtime's descriptors have one position, which positional reads on
// their handles would move too: one file is converted by one thread here.
bool PositionalIo() { return true; }

namespace {

OVERLAPPED At(int64_t offset) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset));
    at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
    return at;
}

// Within what a long holds here (32 bits).
DWORD Count(size_t size) { return static_cast<DWORD>(std::min<size_t>(size, size_t{1} << 30)); }

}  // namespace

long ReadAt(int fd, char* data, size_t size, int64_t offset) {
    OVERLAPPED at = At(offset);
    DWORD got = 0;
    if (ReadFile(HandleOf(fd), data, Count(size), &got, &at)) return static_cast<long>(got);
    if (GetLastError() == ERROR_HANDLE_EOF) return 0;
    errno = LastErrno();
    return -1;
}

long WriteAt(int fd, const char* data, size_t size, int64_t offset) {
    OVERLAPPED at = At(offset);
    DWORD put = 0;
    if (WriteFile(HandleOf(fd), data, Count(size), &put, &at)) return static_cast<long>(put);
    errno = LastErrno();
    return -1;
}

int Truncate(int fd, uint64_t size) {
    return _chsize_s(fd, static_cast<long long>(size)) == 0 ? 0 : errno;
}

int Sync(int fd) { return FlushFileBuffers(HandleOf(fd)) ? 0 : LastErrno(); }

unsigned ReserveStandardDescriptors() { return 0; }

void StopOnInterrupt(const std::atomic<bool>*) {}

}  // namespace bmpc::sys
