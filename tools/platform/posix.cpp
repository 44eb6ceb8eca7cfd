#include <fcntl.h>
#include <pthread.h>
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
#include "system.h"

namespace bmpcontrast_cli::platform {
namespace {

constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP};

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

// Threads blocked in I/O that an interrupt wakes, by a signal of their own
// that does nothing but end the call that blocks.
constexpr int kWakeSignal = SIGURG;
constexpr int kWatchedThreads = 256;
std::atomic<bool> gWatched[kWatchedThreads];
pthread_t gThreads[kWatchedThreads];

extern "C" void OnWake(int) {}

extern "C" void OnInterrupt(int sig) {
    if (gInterruptSignal != 0) DieOf(sig);  // the second one
    gInterruptSignal = sig;
    if (gInterruptFlag != nullptr) gInterruptFlag->store(true);
    for (int k = 0; k < kWatchedThreads; ++k) {
        if (gWatched[k].load() && !pthread_equal(gThreads[k], pthread_self())) {
            pthread_kill(gThreads[k], kWakeSignal);
        }
    }
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
    const int fd = stream == StdStream::Out ? 1 : 2;
    return isatty(fd) == 1;
}

bool UsableName(const std::string&) { return true; }

void WatchInterrupts(std::atomic<bool>* flag) {
    gInterruptFlag = flag;
    bmpc::sys::StopOnInterrupt(flag);
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    // No SA_RESTART: a read blocked on a pipe returns, and sees the flag.
    action.sa_flags = 0;
    sigemptyset(&action.sa_mask);
    for (const int sig : kInterrupts) sigaction(sig, &action, nullptr);
    action.sa_handler = OnWake;
    sigaction(kWakeSignal, &action, nullptr);
}

InterruptibleThread::InterruptibleThread() : slot_(-1) {
    static std::atomic<int> next{0};
    const int k = next.fetch_add(1);
    if (k >= kWatchedThreads) return;
    slot_ = k;
    gThreads[k] = pthread_self();
    gWatched[k].store(true);
}

InterruptibleThread::~InterruptibleThread() {
    if (slot_ >= 0) gWatched[slot_].store(false);
}

void FinishInterrupted() {
    if (const int sig = gInterruptSignal; sig != 0) DieOf(sig);
}

}  // namespace bmpcontrast_cli::platform
