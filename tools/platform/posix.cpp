#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

}  // namespace

std::vector<std::string> Arguments(int argc, char** argv) { return {argv, argv + argc}; }

void PrepareStreams() {}

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

std::optional<FileInfo> Stat(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return std::nullopt;
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

bool NameExists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

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

int CreateExclusive(const std::string& path, uint32_t permissions) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    // open() applies the creation mask; the result should look like any
    // other file the user creates (or like the file it replaces).
    if (fd >= 0 && fchmod(fd, static_cast<mode_t>(permissions)) != 0) {
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

int Close(int fd) { return close(fd) == 0 || errno == EINTR ? 0 : errno; }

int Rewind(int fd) { return lseek(fd, 0, SEEK_SET) < 0 ? errno : 0; }

void SetBinary(int) {}

int Duplicate(int fd) { return fcntl(fd, F_DUPFD_CLOEXEC, 3); }

bool Redirect(int from, int onto) { return dup2(from, onto) >= 0; }

bool MakePipe(int& readEnd, int& writeEnd) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    readEnd = fds[0], writeEnd = fds[1];
    return true;
}

bool SameFile(int a, int b) {
    struct stat sa {
    }, sb{};
    return fstat(a, &sa) == 0 && fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

std::vector<size_t> WaitReadable(const std::vector<int>& fds, int timeoutMs) {
    std::vector<pollfd> polled;
    for (const int fd : fds) polled.push_back({fd, POLLIN, 0});
    std::vector<size_t> ready;
    if (poll(polled.data(), polled.size(), timeoutMs) <= 0) return ready;
    for (size_t i = 0; i < polled.size(); ++i) {
        if (polled[i].revents != 0) ready.push_back(i);
    }
    return ready;
}

OutputCapture::OutputCapture() {
    std::fflush(stdout);
    std::fflush(stderr);
    savedOut_ = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    savedErr_ = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    handle_ = memfd_create("bmpcontrast-output", MFD_CLOEXEC);
    if (handle_ < 0 || dup2(handle_, STDOUT_FILENO) < 0 || dup2(handle_, STDERR_FILENO) < 0) {
        if (handle_ >= 0) close(handle_);
        handle_ = -1;
    }
}

OutputCapture::~OutputCapture() {
    std::fflush(stdout);
    std::fflush(stderr);
    if (savedOut_ >= 0) dup2(savedOut_, STDOUT_FILENO), close(savedOut_);
    if (savedErr_ >= 0) dup2(savedErr_, STDERR_FILENO), close(savedErr_);
    if (handle_ >= 0) close(handle_);
}

std::string OutputCapture::Take() {
    std::fflush(stdout);
    std::fflush(stderr);
    std::string text;
    if (handle_ < 0) return text;
    const off_t size = lseek(handle_, 0, SEEK_END);
    if (size > 0) {
        text.resize(static_cast<size_t>(size));
        if (pread(handle_, text.data(), text.size(), 0) != size) text.clear();
    }
    if (ftruncate(handle_, 0) != 0) text += "(lost output)\n";
    lseek(handle_, 0, SEEK_SET);
    return text;
}

std::unique_ptr<Worker> Worker::Start(Body body) {
    int down[2], up[2];
    if (pipe2(down, O_CLOEXEC) != 0) return nullptr;
    if (pipe2(up, O_CLOEXEC) != 0) {
        close(down[0]), close(down[1]);
        return nullptr;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = fork();
    if (pid < 0) {
        for (int fd : {down[0], down[1], up[0], up[1]}) close(fd);
        return nullptr;
    }
    if (pid == 0) {
        // Interrupts are the parent's to handle: it lets the files in
        // progress finish, so the worker must not die of the same Ctrl-C.
        for (const int sig : kInterrupts) std::signal(sig, SIG_IGN);
        std::signal(SIGPIPE, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        // Nothing else inherited stays open: a pipe end of another worker
        // held here would keep that worker from ever seeing its end.
        const unsigned lo = static_cast<unsigned>(std::min(down[0], up[1]));
        const unsigned hi = static_cast<unsigned>(std::max(down[0], up[1]));
        if (lo > 3) close_range(3, lo - 1, 0);
        if (hi > lo + 1) close_range(lo + 1, hi - 1, 0);
        close_range(hi + 1, ~0u, 0);
        std::unique_ptr<Worker> self(new Worker);
        self->in_ = down[0];
        self->out_ = up[1];
        _exit(body(*self));
    }
    close(down[0]);
    close(up[1]);
    std::unique_ptr<Worker> worker(new Worker);
    worker->in_ = up[0];
    worker->out_ = down[1];
    worker->process_ = pid;
    return worker;
}

Worker::~Worker() {
    if (in_ >= 0) close(in_);
    if (out_ >= 0) close(out_);
    if (process_ > 0) Reap();
}

std::string Worker::Reap() {
    if (process_ <= 0) return "";
    CloseSending();
    int status = 0;
    pid_t got = 0;
    do {
        got = waitpid(static_cast<pid_t>(process_), &status, 0);
    } while (got < 0 && errno == EINTR);
    process_ = -1;
    if (got < 0) return "";
    if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
    if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
        return "ended with status " + std::to_string(WEXITSTATUS(status));
    }
    return "";
}

std::vector<size_t> Worker::Readable(const std::vector<Worker*>& workers, int timeoutMs) {
    std::vector<int> fds;
    for (const Worker* w : workers) fds.push_back(w->in_);
    return WaitReadable(fds, timeoutMs);
}

void Worker::AfterSend() {}  // pipes can be polled

std::optional<int> Worker::ServeIfWorker(const std::vector<std::string>&, Body) {
    return std::nullopt;  // workers are forked, and start in Start()
}

namespace {

[[noreturn]] void DieOf(int sig) {
    std::signal(sig, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, sig);
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    std::raise(sig);
    _exit(128 + sig);
}

}  // namespace

struct InterruptWatch::State {
    sigset_t set{};
    sigset_t previous{};
    std::atomic<int> signal{0};
    std::atomic<bool> stop{false};
    std::thread watcher;
    bool finished = false;

    void Watch() {
        // Woken now and then to notice the end of the batch.
        const timespec tick{0, 100'000'000};
        while (!stop) {
            const int sig = sigtimedwait(&set, nullptr, &tick);
            if (sig <= 0) continue;
            int none = 0;
            if (!signal.compare_exchange_strong(none, sig)) DieOf(sig);  // the second one
        }
    }
};

InterruptWatch::InterruptWatch() : state_(std::make_unique<State>()) {
    sigemptyset(&state_->set);
    for (const int sig : kInterrupts) sigaddset(&state_->set, sig);
    pthread_sigmask(SIG_BLOCK, &state_->set, &state_->previous);
    state_->watcher = std::thread(&State::Watch, state_.get());
}

InterruptWatch::~InterruptWatch() {
    state_->stop = true;
    if (state_->watcher.joinable()) state_->watcher.join();
    pthread_sigmask(SIG_SETMASK, &state_->previous, nullptr);
}

bool InterruptWatch::received() const { return state_->signal.load() != 0; }

void InterruptWatch::Finish() {
    if (state_->finished) return;
    state_->finished = true;
    state_->stop = true;
    state_->watcher.join();
    if (const int sig = state_->signal.load(); sig != 0) DieOf(sig);
    pthread_sigmask(SIG_SETMASK, &state_->previous, nullptr);
}

}  // namespace bmpcontrast_cli::platform
