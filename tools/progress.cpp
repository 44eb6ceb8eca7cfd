#include "progress.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace bmpcontrast_cli {
namespace {

constexpr char kClear[] = "\r\033[K";
constexpr int kRedrawMs = 200;

void WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

bool SameFile(int a, int b) {
    struct stat sa {
    }, sb{};
    return fstat(a, &sa) == 0 && fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// Points `target` at the write end of a new pipe; the read end and a copy of
// the old `target` go into `stream`.
bool Divert(int target, int& pipeRead, int& saved) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    saved = fcntl(target, F_DUPFD_CLOEXEC, 3);
    if (saved < 0 || dup2(fds[1], target) < 0) {
        close(fds[0]);
        close(fds[1]);
        if (saved >= 0) close(saved);
        saved = -1;
        return false;
    }
    close(fds[1]);  // the copy on `target` is now the only write end
    pipeRead = fds[0];
    return true;
}

}  // namespace

bool WantProgress(size_t files, bool quiet) {
    return files > 1 && !quiet && isatty(STDERR_FILENO) == 1;
}

Progress::Progress(size_t total) : total_(total) {}

Progress::~Progress() { Stop(); }

void Progress::Start() {
    start_ = std::chrono::steady_clock::now();
    std::fflush(stdout);
    std::fflush(stderr);
    if (!Divert(STDERR_FILENO, err_.pipe, err_.saved)) return;
    // Standard output needs the same care only where it shares the terminal.
    if (SameFile(STDOUT_FILENO, err_.saved) && !Divert(STDOUT_FILENO, out_.pipe, out_.saved)) {
        out_.pipe = out_.saved = -1;
    }
    // A pipe would make stdout fully buffered: the library's lines would
    // then arrive all at once at the end instead of as files finish.
    if (out_.pipe >= 0) std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
    running_ = true;
    relay_ = std::thread(&Progress::Relay, this);
}

void Progress::Step(bool ok) {
    if (!ok) failed_.fetch_add(1, std::memory_order_relaxed);
    done_.fetch_add(1, std::memory_order_relaxed);
}

void Progress::Stop() {
    if (!running_) return;
    running_ = false;
    std::fflush(stdout);
    std::fflush(stderr);
    // Putting the old descriptors back closes the pipes' write ends: the
    // relay drains what is left, clears the line and ends.
    if (out_.saved >= 0) dup2(out_.saved, STDOUT_FILENO);
    dup2(err_.saved, STDERR_FILENO);
    relay_.join();
    for (Stream* s : {&out_, &err_}) {
        if (s->pipe >= 0) close(s->pipe);
        if (s->saved >= 0) close(s->saved);
        s->pipe = s->saved = -1;
    }
}

std::string Progress::Line() const {
    const size_t done = done_.load(std::memory_order_relaxed);
    const size_t failed = failed_.load(std::memory_order_relaxed);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    char text[160];
    std::snprintf(text, sizeof text, "%zu/%zu files (%zu%%), %zu failed, %.1f files/s", done,
                  total_, total_ == 0 ? size_t{100} : done * 100 / total_, failed,
                  seconds > 0 ? static_cast<double>(done) / seconds : 0.0);
    return text;
}

// Passes on every complete line of `stream` (all of it with `flushAll`),
// with the progress line cleared before and drawn again after.
void Progress::Emit(Stream& stream, bool flushAll) {
    size_t end = stream.pending.rfind('\n');
    if (flushAll && !stream.pending.empty()) end = stream.pending.size() - 1;
    if (end == std::string::npos) return;
    WriteAll(err_.saved, kClear);
    WriteAll(stream.saved, stream.pending.substr(0, end + 1));
    stream.pending.erase(0, end + 1);
}

void Progress::Relay() {
    bool outOpen = out_.pipe >= 0;
    bool errOpen = true;
    char buffer[4096];
    while (outOpen || errOpen) {
        pollfd fds[2] = {{err_.pipe, errOpen ? short{POLLIN} : short{0}, 0},
                         {out_.pipe, outOpen ? short{POLLIN} : short{0}, 0}};
        const int ready = poll(fds, outOpen ? 2 : 1, kRedrawMs);
        if (ready < 0 && errno != EINTR) break;
        for (int i = 0; i < 2 && ready > 0; ++i) {
            if (fds[i].revents == 0) continue;
            Stream& stream = i == 0 ? err_ : out_;
            bool& open = i == 0 ? errOpen : outOpen;
            const ssize_t got = read(stream.pipe, buffer, sizeof buffer);
            if (got > 0) {
                stream.pending.append(buffer, static_cast<size_t>(got));
                // A very long line without an end is passed on as it is.
                Emit(stream, stream.pending.size() > 65536);
            } else if (got == 0 || errno != EINTR) {
                Emit(stream, true);
                open = false;
            }
        }
        if (errOpen) WriteAll(err_.saved, kClear + Line());
    }
    WriteAll(err_.saved, kClear);
}

}  // namespace bmpcontrast_cli
