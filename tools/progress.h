// A progress line for batches on a terminal: files done / total, failures,
// rate, redrawn in place on standard error.
//
// While it is shown, whatever the process writes to standard error (and to
// standard output when that is the same terminal) passes through a relay
// thread. The relay lifts the progress line out of the way, prints the
// whole line, and draws the progress line again below it, so lines from the
// library and from the workers never run into it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>
#include <thread>

namespace bmpcontrast_cli {

class Progress {
  public:
    explicit Progress(size_t total);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // Starts showing the line; stays off if the file descriptors cannot be
    // set up, and the batch then runs without it.
    void Start();
    // One file finished; safe to call from any thread.
    void Step(bool ok);
    // Removes the line and gives the streams back. Idempotent.
    void Stop();

  private:
    struct Stream {
        int pipe = -1;   // read end; its write end sits on `target`
        int saved = -1;  // where the target went before, and where lines go
        std::string pending;
    };

    void Relay();
    void Emit(Stream& stream, bool flushAll);
    std::string Line() const;

    size_t total_;
    std::atomic<size_t> done_{0};
    std::atomic<size_t> failed_{0};
    std::chrono::steady_clock::time_point start_;
    Stream out_;
    Stream err_;
    std::thread relay_;
    bool running_ = false;
};

// Whether a batch of `files` should show progress at all.
bool WantProgress(size_t files, bool quiet);

}  // namespace bmpcontrast_cli
