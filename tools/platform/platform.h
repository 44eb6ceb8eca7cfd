// Everything the tool asks of the operating system that the C++ library
// does not cover, behind one small interface: one implementation file per
// system (posix.cpp here). No system types cross this boundary.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bmpcontrast_cli::platform {

unsigned AvailableProcessors();

enum class StdStream { In, Out, Err };
bool IsTerminal(StdStream stream);

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
// looked at); the conversion then reports why.
std::optional<FileInfo> Stat(const std::string& path);
// Whether anything, a dangling symbolic link included, has this name.
bool NameExists(const std::string& path);
// The path with every symbolic link resolved, or `path` itself if it cannot be.
std::string Resolved(const std::string& path);
// Narrows `path`'s permissions to `permissions`, and with `times` also sets
// its access and modification times from `from`. Returns 0 or an errno value.
int ApplyMetadata(const std::string& path, uint32_t permissions, const FileInfo* times);

// Standard output and standard error of this process collected into a
// private buffer while the object lives, for a worker whose lines the
// parent prefixes, or for lines the tool filters.
class OutputCapture {
  public:
    OutputCapture();
    ~OutputCapture();
    OutputCapture(const OutputCapture&) = delete;
    OutputCapture& operator=(const OutputCapture&) = delete;
    bool valid() const { return handle_ >= 0; }
    // Everything written since the last call, in order, and empties it.
    std::string Take();

  private:
    int handle_ = -1;
    int savedOut_ = -1, savedErr_ = -1;
};

// A long-lived worker process and the two-way channel to it. Messages are
// whole strings; the framing is this layer's business.
class Worker {
  public:
    using Body = int (*)(Worker& parent);
    // Starts a worker that runs `body` with a channel to this process and
    // exits with its result. Null when no process can be started.
    static std::unique_ptr<Worker> Start(Body body);
    ~Worker();
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // Both sides: false when the other side has gone.
    bool Send(std::string_view message);
    bool Receive(std::string& message);
    // Parent side: no more messages to send; the worker sees the end.
    void CloseSending();
    // Parent side: waits for the worker to end; says how, e.g. "killed by
    // signal 11", or "" for a normal exit.
    std::string Reap();

    // Parent side: the indices of `workers` with a message (or an end) to
    // read, waiting at most `timeoutMs`.
    static std::vector<size_t> Readable(const std::vector<Worker*>& workers, int timeoutMs);

  private:
    Worker() = default;
    int in_ = -1, out_ = -1;
    long process_ = -1;
};

}  // namespace bmpcontrast_cli::platform
