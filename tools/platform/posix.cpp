#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform.h"

namespace bmpcontrast_cli::platform {
namespace {

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool ReadAll(int fd, char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = read(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

int64_t Nanoseconds(const timespec& t) { return int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec; }

timespec Timespec(int64_t ns) {
    timespec t{};
    t.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
    t.tv_nsec = static_cast<long>(ns % 1'000'000'000);
    return t;
}

}  // namespace

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
        for (int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, SIG_IGN);
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

bool Worker::Send(std::string_view message) {
    if (out_ < 0) return false;
    const auto size = static_cast<uint32_t>(message.size());
    std::string frame(reinterpret_cast<const char*>(&size), sizeof size);
    frame.append(message);
    return WriteAll(out_, frame.data(), frame.size());
}

bool Worker::Receive(std::string& message) {
    uint32_t size = 0;
    if (in_ < 0 || !ReadAll(in_, reinterpret_cast<char*>(&size), sizeof size)) return false;
    message.resize(size);
    return ReadAll(in_, message.data(), size);
}

void Worker::CloseSending() {
    if (out_ >= 0) close(out_);
    out_ = -1;
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
    std::vector<pollfd> fds;
    for (const Worker* w : workers) fds.push_back({w->in_, POLLIN, 0});
    std::vector<size_t> ready;
    if (poll(fds.data(), fds.size(), timeoutMs) <= 0) return ready;
    for (size_t i = 0; i < fds.size(); ++i) {
        if (fds[i].revents != 0) ready.push_back(i);
    }
    return ready;
}

}  // namespace bmpcontrast_cli::platform
