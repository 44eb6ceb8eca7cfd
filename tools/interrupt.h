// Ctrl-C (or SIGTERM, SIGHUP) during a batch: the files being converted are
// finished, so their scratch files are renamed or removed rather than left
// behind, no further file is started, and the summary is still printed. A
// second signal ends the process at once.
#pragma once

#include <atomic>
#include <csignal>
#include <thread>

namespace bmpcontrast_cli {

class InterruptWatch {
  public:
    // Blocks the signals in the calling thread, and so in every thread it
    // creates afterwards, and starts a thread that waits for them.
    InterruptWatch();
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

    // The signal received, or 0.
    int received() const { return signal_.load(); }
    // Stops watching and, if a signal came, ends the process with it.
    void Finish();

  private:
    void Watch();

    sigset_t set_{};
    sigset_t previous_{};
    std::atomic<int> signal_{0};
    std::atomic<bool> stop_{false};
    std::thread watcher_;
    bool finished_ = false;
};

}  // namespace bmpcontrast_cli
