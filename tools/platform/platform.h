// Everything the tool asks of the operating system that the C++ library
// does not cover, behind one small interface: one implementation file per
// system (posix.cpp, windows.cpp). No system types cross this boundary.
//
// Names are UTF-8 everywhere above this layer; on Windows it hands them to
// the system as UTF-16. Open files are the C runtime's descriptors on both
// systems (0, 1 and 2 are the standard streams), and failures are errno
// values, so that messages read the same.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bmpcontrast_cli::platform {

// --- The process -----------------------------------------------------------

// The command line as UTF-8 words, program name first. On Windows it is read
// as UTF-16 from the system, whatever the console's code page.
std::vector<std::string> Arguments(int argc, char** argv);

// Readies the standard streams once at start-up: on Windows, names printed
// as UTF-8 show as such on a console, and image bytes are not translated.
void PrepareStreams();

unsigned AvailableProcessors();

enum class StdStream { In, Out, Err };
bool IsTerminal(StdStream stream);

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
// looked at); the conversion then reports why. Windows has no rwx bits:
// there a file is 0666, or 0444 when read-only.
std::optional<FileInfo> Stat(const std::string& path);
// Whether anything, a dangling symbolic link included, has this name.
bool NameExists(const std::string& path);
// The path with every symbolic link resolved, or `path` itself if it cannot be.
std::string Resolved(const std::string& path);
// Narrows `path`'s permissions to `permissions`, and with `times` also sets
// its access and modification times from `from`. Returns 0 or an errno value.
int ApplyMetadata(const std::string& path, uint32_t permissions, const FileInfo* times);

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
// Writes all of `data`; false on failure, with errno.
bool WriteAll(int fd, std::string_view data);
// Returns 0 or an errno value; a failed write may show only here.
int Close(int fd);
// Moves to the start of the file. Returns 0 or an errno value.
int Rewind(int fd);
// Image bytes pass unchanged (Windows translates line ends on the standard
// streams unless told otherwise).
void SetBinary(int fd);

// A second descriptor for what `fd` refers to, not inherited by child
// processes, numbered above the standard streams. -1 with errno.
int Duplicate(int fd);
// Points descriptor `onto` (a standard stream) at what `from` refers to.
bool Redirect(int from, int onto);
// A pipe, neither end inherited by child processes.
bool MakePipe(int& readEnd, int& writeEnd);
// Whether two descriptors refer to the same file or terminal.
bool SameFile(int a, int b);
// The indices of `fds` (pipes) with input, or an end, to read, waiting at
// most `timeoutMs`.
std::vector<size_t> WaitReadable(const std::vector<int>& fds, int timeoutMs);

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

// --- Workers ----------------------------------------------------------------

// A long-lived worker process and the two-way channel to it. Messages are
// whole strings; the framing is this layer's business. On POSIX a worker is
// a fork of this process; on Windows it is this program started again.
class Worker {
  public:
    using Body = int (*)(Worker& parent);
    // Starts a worker that runs `body` with a channel to this process and
    // exits with its result. Null when no process can be started.
    static std::unique_ptr<Worker> Start(Body body);
    // For the first thing main() does: when this process was started as a
    // worker (Windows), runs `body` and gives its result; otherwise null.
    static std::optional<int> ServeIfWorker(const std::vector<std::string>& args, Body body);
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
    // Worker side, after each message: lets a waiting parent know (Windows,
    // where pipes cannot be waited on).
    void AfterSend();
    int in_ = -1, out_ = -1;
    intptr_t process_ = -1;  // a pid, or a process handle on Windows
    intptr_t wake_ = -1;     // Windows: the event AfterSend() sets
};

// --- Interrupts ---------------------------------------------------------------

// Ctrl-C (and SIGTERM, SIGHUP; on Windows Ctrl-Break and closing the
// console) during a batch: while watched, the first one is only recorded, so
// the files in progress can be finished and the summary printed. A second
// one ends the process at once.
class InterruptWatch {
  public:
    // On POSIX the signals are blocked in the calling thread, and so in every
    // thread it creates afterwards, and a thread waits for them.
    InterruptWatch();
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

    // Whether an interrupt came.
    bool received() const;
    // Stops watching and, if an interrupt came, ends the process the way
    // that interrupt would have.
    void Finish();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace bmpcontrast_cli::platform
