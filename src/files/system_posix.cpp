#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>

#include "system.h"

namespace bmpc::sys {
namespace {

int64_t Nanoseconds(const timespec& t) { return int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec; }

timespec Timespec(int64_t ns) {
    timespec t{};
    t.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
    t.tv_nsec = static_cast<long>(ns % 1'000'000'000);
    return t;
}

FileInfo InfoOf(const struct stat& st) {
    FileInfo info;
    info.directory = S_ISDIR(st.st_mode);
    info.regular = S_ISREG(st.st_mode);
    info.size = static_cast<uint64_t>(st.st_size);
    info.permissions = st.st_mode & 07777;
    info.modifiedNs = Nanoseconds(st.st_mtim);
    info.accessedNs = Nanoseconds(st.st_atim);
    info.device = st.st_dev;
    info.inode = st.st_ino;
    info.links = st.st_nlink;
    info.owner = st.st_uid;
    info.group = st.st_gid;
    return info;
}

std::atomic<const std::atomic<bool>*> gStopFlag{nullptr};

bool Stopping() {
    const std::atomic<bool>* flag = gStopFlag.load(std::memory_order_relaxed);
    return flag != nullptr && flag->load(std::memory_order_relaxed);
}

bool Retry() { return errno == EINTR && !Stopping(); }

// A descriptor above the standard three: a file that took 0, 1 or 2 would
// receive whatever the process prints, and print it as image bytes.
int AboveStandard(int fd) {
    if (fd < 0 || fd > 2) return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    const int error = errno;
    close(fd);
    errno = error;
    return moved;
}

}  // namespace

std::optional<FileInfo> Stat(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return std::nullopt;
    return InfoOf(st);
}

bool NameExists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

bool Writable(const std::string& path) { return access(path.c_str(), W_OK) == 0; }

std::string Resolved(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> real(realpath(path.c_str(), nullptr), &std::free);
    return real ? std::string(real.get()) : path;
}

int ApplyMetadata(const std::string& path, uint32_t permissions, const FileInfo* times) {
    if (chmod(path.c_str(), static_cast<mode_t>(permissions)) != 0) return errno;
    if (times != nullptr) {
        const timespec both[2] = {Timespec(times->accessedNs), Timespec(times->modifiedNs)};
        if (utimensat(AT_FDCWD, path.c_str(), both, 0) != 0) return errno;
    }
    return 0;
}

int KeepOwner(int fd, const FileInfo& like) {
    struct stat st {};
    if (fstat(fd, &st) != 0) return errno;
    if (st.st_uid == static_cast<uid_t>(like.owner) && st.st_gid == static_cast<gid_t>(like.group))
        return 0;
    if (fchown(fd, static_cast<uid_t>(like.owner), static_cast<gid_t>(like.group)) != 0)
        return errno;
    // A change of owner drops the set-id bits; the mode is set again later.
    return 0;
}

int OpenRead(const std::string& path) {
    int fd = -1;
    do {
        fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && Retry());
    return AboveStandard(fd);
}

int OpenWrite(const std::string& path) {
    int fd = -1;
    do {
        fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    } while (fd < 0 && Retry());
    return AboveStandard(fd);
}

int CreateExclusive(const std::string& path, uint32_t permissions, bool exact, uint32_t* made) {
    const int fd = AboveStandard(open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC,
                                      static_cast<mode_t>(permissions & 0666)));
    if (fd < 0) return -1;
    int error = 0;
    struct stat st {};
    // The lock tells a later run that this file is in use; a run that
    // removed it as stale in the moment before the lock leaves it unlinked.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = EEXIST;
    } else if (fstat(fd, &st) != 0 || st.st_nlink == 0) {
        error = EEXIST;
    } else if (exact && (st.st_mode & 07777) != permissions && fchmod(fd, permissions) != 0) {
        // open() applied the creation mask; the result should look like the
        // file it replaces.
        error = errno;
        unlink(path.c_str());
    }
    if (error != 0) {
        close(fd);
        errno = error;
        return -1;
    }
    if (made != nullptr) *made = exact ? permissions : st.st_mode & 07777;
    return fd;
}

bool RemoveIfStale(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return false;
    bool removed = false;
    struct stat held {
    }, named{};
    if (flock(fd, LOCK_EX | LOCK_NB) == 0 && fstat(fd, &held) == 0 && S_ISREG(held.st_mode) &&
        lstat(path.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
        held.st_dev == named.st_dev) {
        removed = unlink(path.c_str()) == 0;
    }
    close(fd);
    return removed;
}

int HoldLock(int fd) { return fcntl(fd, F_DUPFD_CLOEXEC, 3); }

int Rename(const std::string& from, const std::string& to, bool replace) {
    if (replace) return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // File systems without RENAME_NOREPLACE: a hard link fails on an
    // existing name just the same.
    if (link(from.c_str(), to.c_str()) != 0) return errno;
    unlink(from.c_str());
    return 0;
}

int Remove(const std::string& path) { return unlink(path.c_str()) == 0 ? 0 : errno; }

int MakeFolders(const std::string& folder) {
    if (folder.empty()) return 0;
    struct stat st {};
    if (stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    const size_t slash = folder.find_last_of('/', folder.size() - 1);
    if (slash != std::string::npos && slash != 0) {
        if (const int error = MakeFolders(folder.substr(0, slash)); error != 0) return error;
    }
    if (mkdir(folder.c_str(), 0777) == 0 || errno == EEXIST) return 0;
    return errno;
}

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) return names;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    return names;
}

std::string TempDirectory() {
    const char* dir = std::getenv("TMPDIR");
    return (dir != nullptr && *dir != '\0') ? dir : "/tmp";
}

long ReadSome(int fd, char* data, size_t size) {
    // Once stopping, no read may start that could wait for ever.
    if (Stopping()) {
        errno = EINTR;
        return -1;
    }
    for (;;) {
        const ssize_t n = read(fd, data, size);
        if (n >= 0 || !Retry()) return static_cast<long>(n);
    }
}

long WriteSome(int fd, const char* data, size_t size) {
    for (;;) {
        const ssize_t n = write(fd, data, size);
        if (n >= 0 || !Retry()) return static_cast<long>(n);
    }
}

bool PositionalIo() { return true; }

long ReadAt(int fd, char* data, size_t size, int64_t offset) {
    if (Stopping()) {
        errno = EINTR;
        return -1;
    }
    for (;;) {
        const ssize_t n = pread(fd, data, size, static_cast<off_t>(offset));
        if (n >= 0 || !Retry()) return static_cast<long>(n);
    }
}

long WriteAt(int fd, const char* data, size_t size, int64_t offset) {
    for (;;) {
        const ssize_t n = pwrite(fd, data, size, static_cast<off_t>(offset));
        if (n >= 0 || !Retry()) return static_cast<long>(n);
    }
}

bool SeekTo(int fd, int64_t offset) {
    return offset >= 0 && lseek(fd, static_cast<off_t>(offset), SEEK_SET) == offset;
}

std::optional<FileInfo> OpenInfo(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0) return std::nullopt;
    return InfoOf(st);
}

void ReadingThrough(int fd) { posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL); }

int64_t Position(int fd) { return static_cast<int64_t>(lseek(fd, 0, SEEK_CUR)); }

int Truncate(int fd, uint64_t size) {
    return ftruncate(fd, static_cast<off_t>(size)) == 0 ? 0 : errno;
}

int Sync(int fd) { return fsync(fd) == 0 ? 0 : errno; }

int Close(int fd) { return close(fd) == 0 || errno == EINTR ? 0 : errno; }

void SetBinary(int) {}

unsigned ReserveStandardDescriptors() {
    unsigned closed = 0;
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        closed |= 1u << fd;
        // The lowest free number is this one, since those below are open.
        const int null = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (null >= 0 && null != fd) {
            dup2(null, fd);
            close(null);
        }
    }
    return closed;
}

void StopOnInterrupt(const std::atomic<bool>* flag) { gStopFlag.store(flag); }

}  // namespace bmpc::sys
