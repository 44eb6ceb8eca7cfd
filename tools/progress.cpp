#include "progress.h"

#include <cstdio>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace bmpcontrast_cli {
namespace {

constexpr char kClear[] = "\r\033[K";
constexpr int kRedrawMs = 200;

// Points `target` at the write end of a new pipe; the read end and a copy of
// the old `target` go into `stream`.
bool Divert(int target, int& pipeRead, int& saved) {
    int readEnd = -1, writeEnd = -1;
    if (!platform::MakePipe(readEnd, writeEnd)) return false;
    saved = platform::Duplicate(target);
    if (saved < 0 || !platform::Redirect(writeEnd, target)) {
        platform::Close(readEnd);
        platform::Close(writeEnd);
        if (saved >= 0) platform::Close(saved);
        saved = -1;
        return false;
    }
    platform::Close(writeEnd);  // the copy on `target` is now the only write end
    pipeRead = readEnd;
    return true;
}

}  // namespace

bool WantProgress(size_t files, bool quiet) {
    return files > 1 && !quiet && platform::IsTerminal(platform::StdStream::Err);
}

Progress::Progress(size_t total) : total_(total) {}

Progress::~Progress() { Stop(); }

void Progress::Start() {
    start_ = std::chrono::steady_clock::now();
    std::fflush(stdout);
    std::fflush(stderr);
    if (!Divert(2, err_.pipe, err_.saved)) return;
    // Standard output needs the same care only where it shares the terminal.
    if (platform::SameFile(1, err_.saved) && !Divert(1, out_.pipe, out_.saved)) {
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
    if (out_.saved >= 0) platform::Redirect(out_.saved, 1);
    platform::Redirect(err_.saved, 2);
    relay_.join();
    for (Stream* s : {&out_, &err_}) {
        if (s->pipe >= 0) platform::Close(s->pipe);
        if (s->saved >= 0) platform::Close(s->saved);
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
    platform::WriteAll(err_.saved, kClear);
    platform::WriteAll(stream.saved, stream.pending.substr(0, end + 1));
    stream.pending.erase(0, end + 1);
}

void Progress::Relay() {
    bool outOpen = out_.pipe >= 0;
    bool errOpen = true;
    char buffer[4096];
    while (outOpen || errOpen) {
        std::vector<int> fds;
        std::vector<Stream*> streams;
        for (auto [stream, open] : {std::pair{&err_, errOpen}, std::pair{&out_, outOpen}}) {
            if (open) fds.push_back(stream->pipe), streams.push_back(stream);
        }
        for (const size_t k : platform::WaitReadable(fds, kRedrawMs)) {
            Stream& stream = *streams[k];
            const long got = platform::ReadSome(stream.pipe, buffer, sizeof buffer);
            if (got > 0) {
                stream.pending.append(buffer, static_cast<size_t>(got));
                // A very long line without an end is passed on as it is.
                Emit(stream, stream.pending.size() > 65536);
            } else {
                Emit(stream, true);
                (&stream == &err_ ? errOpen : outOpen) = false;
            }
        }
        if (errOpen) platform::WriteAll(err_.saved, kClear + Line());
    }
    platform::WriteAll(err_.saved, kClear);
}

}  // namespace bmpcontrast_cli
