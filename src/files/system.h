// What the file job asks of the operating system, behind one small
// interface: one implementation file per system (system_posix.cpp,
// system_windows.cpp). No system types cross this boundary.
//
// Names are bytes on POSIX and UTF-8 on Windows, where this layer hands them
// to the system as UTF-16. Open files are the C runtime's descriptors on
// both systems (0, 1 and 2 are the standard streams), and failures are
// errno values, so that messages read the same.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bmpc::sys {

struct FileInfo {
    bool directory = false;
    bool regular = false;
    uint64_t size = 0;
    uint32_t permissions = 0;  // the nine rwx bits and the three special ones
    int64_t modifiedNs = 0;    // modification time, nanoseconds since the epoch
    int64_t accessedNs = 0;
    uint64_t device = 0, inode = 0;  // identity, for "the same file" checks
    uint64_t links = 1;
    int64_t owner = -1, group = -1;  // -1 where the system has none
    bool SameFile(const FileInfo& other) const {
        return device == other.device && inode == other.inode;
    }
};

// Follows symbolic links. Null when the name does not exist (or cannot be
// looked at). Windows has no rwx bits: there a file is 0666, or 0444 when
// read-only.
std::optional<FileInfo> Stat(const std::string& path);
// Whether anything, a dangling symbolic link included, has this name.
bool NameExists(const std::string& path);
// Whether this process may write the existing file `path`.
bool Writable(const std::string& path);
// The path with every symbolic link resolved, or `path` itself if it cannot be.
std::string Resolved(const std::string& path);
// Sets `path`'s permissions, and with `times` also its access and
// modification times from `from`. Returns 0 or an errno value.
int ApplyMetadata(const std::string& path, uint32_t permissions, const FileInfo* times);
// Gives the open file the owner and group of `like`. Returns 0 or an errno
// value (0 on systems without owners).
int KeepOwner(int fd, const FileInfo& like);

// Opens an existing file for reading, not inherited by child processes,
// read front to back. Returns a descriptor, or -1 with errno.
int OpenRead(const std::string& path);
// Opens an existing file for writing where it is, neither created nor
// truncated (a device, a pipe). Returns a descriptor, or -1 with errno.
int OpenWrite(const std::string& path);
// Creates `path`, which must not exist yet, open for reading and writing and
// not inherited by child processes, never as descriptor 0, 1 or 2, and held
// under a lock that RemoveIfStale() sees. With `exact` the file gets
// `permissions` as they are; without, less the creation mask, as any new
// file; `made` gets the permissions it has. Returns a descriptor, or -1 with
// errno. On Windows the file may be
// renamed or removed while it is open, and gets its permissions later
// (ApplyMetadata).
int CreateExclusive(const std::string& path, uint32_t permissions, bool exact,
                    uint32_t* made = nullptr);
// Whether `path` is a file no live process holds open under
// CreateExclusive's lock (on Windows: holds open at all); such a file is
// removed.
bool RemoveIfStale(const std::string& path);
// A second descriptor that goes on holding CreateExclusive's lock on `fd`
// once `fd` is closed (on Windows: the file open), or -1 where the system
// has none to spare.
int HoldLock(int fd);
// Renames `from` onto `to`, atomically replacing it with `replace`; without,
// an existing `to` is left alone and the result is EEXIST. Returns 0 or an
// errno value.
int Rename(const std::string& from, const std::string& to, bool replace);
// Returns 0 or an errno value.
int Remove(const std::string& path);
// Creates `folder` and its parents. Returns 0 or an errno value.
int MakeFolders(const std::string& folder);
// The names in `folder` (no "." or ".."); empty where it cannot be read.
std::vector<std::string> Names(const std::string& folder);

// The directory for scratch files: $TMPDIR or /tmp; on Windows, GetTempPath.
std::string TempDirectory();

// --- Open files -------------------------------------------------------------

// Both return the count moved, or -1 with errno. An interrupted call is
// retried unless the flag given to StopOnInterrupt is set.
long ReadSome(int fd, char* data, size_t size);
long WriteSome(int fd, const char* data, size_t size);
// As ReadSome and WriteSome, at `offset` from the start, so that several
// threads can share one open file. The file's position is left alone on
// POSIX and moved on Windows: a file read or written at positions is read
// or written so throughout. Where the system has no such calls
// (PositionalIo() false), -1 with ENOSYS.
bool PositionalIo();
long ReadAt(int fd, char* data, size_t size, int64_t offset);
long WriteAt(int fd, const char* data, size_t size, int64_t offset);
// Moves to `offset` from the start. Returns false where the file cannot seek.
bool SeekTo(int fd, int64_t offset);
// What an open file is. Null where that cannot be told.
std::optional<FileInfo> OpenInfo(int fd);
// The file will be read once, front to back: the system may read ahead more.
void ReadingThrough(int fd);
// Where the next read starts, or -1 where the file cannot seek.
int64_t Position(int fd);
// Cuts the open file to `size` bytes. Returns 0 or an errno value.
int Truncate(int fd, uint64_t size);
// The file's bytes on the disk. Returns 0 or an errno value.
int Sync(int fd);
// Returns 0 or an errno value; a failed write may show only here.
int Close(int fd);
// Image bytes pass unchanged (Windows translates line ends on the standard
// streams unless told otherwise).
void SetBinary(int fd);

// --- The process --------------------------------------------------------------

// Opens the null device on each of 0, 1 and 2 that is closed, so that no
// file opened later takes its number. Returns which were closed: bit k for
// descriptor k.
unsigned ReserveStandardDescriptors();
// Reads and writes interrupted by a signal give up, instead of being
// retried, once `flag` is set (null: always retried).
void StopOnInterrupt(const std::atomic<bool>* flag);

#ifdef _WIN32
// UTF-16 from the system as UTF-8, an unpaired surrogate kept as its
// three-byte form so that such a name is refused later, not changed.
std::string Utf8OfWide(std::wstring_view wide);
#endif

}  // namespace bmpc::sys
