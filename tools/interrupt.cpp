#include "interrupt.h"

#include <pthread.h>

#include <cerrno>
#include <ctime>

namespace bmpcontrast_cli {
namespace {

void Die(int sig) {
    std::signal(sig, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, sig);
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    std::raise(sig);
}

}  // namespace

InterruptWatch::InterruptWatch() {
    sigemptyset(&set_);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set_, sig);
    pthread_sigmask(SIG_BLOCK, &set_, &previous_);
    watcher_ = std::thread(&InterruptWatch::Watch, this);
}

InterruptWatch::~InterruptWatch() {
    stop_ = true;
    if (watcher_.joinable()) watcher_.join();
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

void InterruptWatch::Watch() {
    // Woken now and then to notice the end of the batch.
    const timespec tick{0, 100'000'000};
    while (!stop_) {
        const int sig = sigtimedwait(&set_, nullptr, &tick);
        if (sig <= 0) continue;
        int none = 0;
        if (!signal_.compare_exchange_strong(none, sig)) Die(sig);  // the second one
    }
}

void InterruptWatch::Finish() {
    if (finished_) return;
    finished_ = true;
    stop_ = true;
    watcher_.join();
    if (const int sig = signal_.load(); sig != 0) Die(sig);
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

}  // namespace bmpcontrast_cli
