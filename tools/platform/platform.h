// Everything the tool asks of the operating system that the C++ library
// does not cover, behind one small interface: one implementation file per
// system (posix.cpp, windows.cpp). No system types cross this boundary.
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
#include <vector>

namespace bmpcontrast_cli::platform {

// --- The process -----------------------------------------------------------

// The command line, program name first. On Windows it is read as UTF-16
// from the system, whatever the console's code page, and given as UTF-8.
std::vector<std::string> Arguments(int argc, char** argv);

// Readies the process once at start-up: on Windows, names printed as UTF-8
// show as such on a console; on POSIX, a write past a file-size limit or to
// a closed pipe fails with an error instead of ending the process.
void PrepareProcess();

unsigned AvailableProcessors();

enum class StdStream { In, Out, Err };
bool IsTerminal(StdStream stream);

// Whether the system can take `name` (Windows: valid UTF-8; POSIX: any bytes).
bool UsableName(const std::string& name);

// --- Files by name ---------------------------------------------------------

struct FileInfo {
    bool directory = false;
    bool regular = false;
    uint64_t size = 0;
    uint32_t permissions = 0;  // the nine rwx bits and the three special ones
    int64_t modifiedNs = 0;    // modification time, nanoseconds since the epoch
    int64_t accessedNs = 0;
    uint64_t device = 0, inode = 0;  // identity, for "the same file" checks
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
// Narrows `path`'s permissions to `permissions`, and with `times` also sets
// its access and modification times from `from`. Returns 0 or an errno value.
int ApplyMetadata(const std::string& path, uint32_t permissions, const FileInfo* times);

// Opens an existing file for reading, not inherited by child processes,
// read front to back. Returns a descriptor, or -1 with errno.
int OpenRead(const std::string& path);
// Creates `path`, which must not exist yet, open for reading and writing and
// not inherited by child processes. Returns a descriptor, or -1 with errno.
// On Windows the file may be renamed or removed while it is open.
int CreateExclusive(const std::string& path, uint32_t permissions);
// Renames `from` onto `to`, atomically replacing it with `replace`; without,
// an existing `to` is left alone and the result is EEXIST. Returns 0 or an
// errno value.
int Rename(const std::string& from, const std::string& to, bool replace);
// Returns 0 or an errno value.
int Remove(const std::string& path);

// The directory for scratch files: $TMPDIR or /tmp; on Windows, GetTempPath.
std::string TempDirectory();
// The process's file creation mask (0 on Windows). Reading it means setting
// it, so this is read once at start-up, before any thread runs.
uint32_t CreationMask();

// --- Open files -------------------------------------------------------------

// Both return the count moved, or -1 with errno; an interrupted call is
// retried here.
long ReadSome(int fd, char* data, size_t size);
long WriteSome(int fd, const char* data, size_t size);
// Moves to `offset` from the start. Returns false where the file cannot seek.
bool SeekTo(int fd, int64_t offset);
// What an open file is. Null where that cannot be told.
std::optional<FileInfo> OpenInfo(int fd);
// The size of a regular file; 0 for anything else (a pipe, a terminal).
inline int64_t RegularSize(int fd) {
    const auto info = OpenInfo(fd);
    return info && info->regular ? static_cast<int64_t>(info->size) : 0;
}
// The file will be read once, front to back: the system may read ahead more.
void ReadingThrough(int fd);
// Where the next read starts, or -1 where the file cannot seek.
int64_t Position(int fd);
// Returns 0 or an errno value; a failed write may show only here.
int Close(int fd);
// Image bytes pass unchanged (Windows translates line ends on the standard
// streams unless told otherwise).
void SetBinary(int fd);

// --- Interrupts ---------------------------------------------------------------

// Ctrl-C (and SIGTERM, SIGHUP; on Windows Ctrl-Break and closing the
// console) during a run: while watched, the first one only sets `flag`, so
// the conversions stop at their next chunk and the summary is printed. A
// second one ends the process at once.
void WatchInterrupts(std::atomic<bool>* flag);
// If an interrupt came, ends the process the way that interrupt would have.
void FinishInterrupted();

}  // namespace bmpcontrast_cli::platform
