#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <thread>

#include "platform.h"

namespace bmpcontrast_cli::platform {
namespace {

constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP};

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
    return info;
}

std::atomic<bool>* gInterruptFlag = nullptr;
volatile std::sig_atomic_t gInterruptSignal = 0;

[[noreturn]] void DieOf(int sig) {
    std::signal(sig, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, sig);
    sigprocmask(SIG_UNBLOCK, &one, nullptr);
    std::raise(sig);
    _exit(128 + sig);
}

extern "C" void OnInterrupt(int sig) {
    if (gInterruptSignal != 0) DieOf(sig);  // the second one
    gInterruptSignal = sig;
    if (gInterruptFlag != nullptr) gInterruptFlag->store(true);
}

}  // namespace

std::vector<std::string> Arguments(int argc, char** argv) { return {argv, argv + argc}; }

void PrepareProcess() {
    // Failed writes are reported per file, as errors (EFBIG, EPIPE).
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
}

unsigned AvailableProcessors() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int n = CPU_COUNT(&set);
        if (n > 0) return static_cast<unsigned>(n);
    }
    return std::max(1u, std::thread::hardware_concurrency());
}

bool IsTerminal(StdStream stream) {
    const int fd = stream == StdStream::In ? 0 : stream == StdStream::Out ? 1 : 2;
    return isatty(fd) == 1;
}

bool UsableName(const std::string&) { return true; }

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
    char* real = realpath(path.c_str(), nullptr);
    if (real == nullptr) return path;
    std::string result = real;
    std::free(real);
    return result;
}

int ApplyMetadata(const std::string& path, uint32_t permissions, const FileInfo* times) {
    if (chmod(path.c_str(), permissions) != 0) return errno;
    if (times != nullptr) {
        const timespec both[2] = {Timespec(times->accessedNs), Timespec(times->modifiedNs)};
        if (utimensat(AT_FDCWD, path.c_str(), both, 0) != 0) return errno;
    }
    return 0;
}

int OpenRead(const std::string& path) {
    int fd = -1;
    do {
        fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

int CreateExclusive(const std::string& path, uint32_t permissions) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC,
                        static_cast<mode_t>(permissions & 0666));
    // open() applies the creation mask; the result should look like any
    // other file the user creates (or like the file it replaces).
    const bool exact = (permissions & ~0666u) == 0 && (permissions & CreationMask()) == 0;
    if (fd >= 0 && !exact && fchmod(fd, static_cast<mode_t>(permissions)) != 0) {
        const int error = errno;
        close(fd);
        unlink(path.c_str());
        errno = error;
        return -1;
    }
    return fd;
}

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

std::string TempDirectory() {
    const char* dir = std::getenv("TMPDIR");
    return (dir != nullptr && *dir != '\0') ? dir : "/tmp";
}

uint32_t CreationMask() {
    static const uint32_t mask = [] {
        const mode_t m = umask(022);
        umask(m);
        return static_cast<uint32_t>(m);
    }();
    return mask;
}

long ReadSome(int fd, char* data, size_t size) {
    for (;;) {
        const ssize_t n = read(fd, data, size);
        if (n >= 0 || errno != EINTR) return static_cast<long>(n);
    }
}

long WriteSome(int fd, const char* data, size_t size) {
    for (;;) {
        const ssize_t n = write(fd, data, size);
        if (n >= 0 || errno != EINTR) return static_cast<long>(n);
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

int Close(int fd) { return close(fd) == 0 || errno == EINTR ? 0 : errno; }

void SetBinary(int) {}

void WatchInterrupts(std::atomic<bool>* flag) {
    gInterruptFlag = flag;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int sig : kInterrupts) sigaction(sig, &action, nullptr);
}

void FinishInterrupted() {
    if (const int sig = gInterruptSignal; sig != 0) DieOf(sig);
}

}  // namespace bmpcontrast_cli::platform
