#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, which it needs.
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "../report.h"
#include "platform.h"
#include "system.h"

namespace bmpcontrast_cli::platform {
namespace {

// What cmd.exe and others report for a program ended by Ctrl-C.
constexpr UINT kInterruptedExit = 0xC000013A;

HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

bool IsConsole(HANDLE h) {
    DWORD mode = 0;
    return h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) != 0;
}

UINT gSavedOutputCodePage = 0;

void RestoreCodePage() {
    if (gSavedOutputCodePage != 0) SetConsoleOutputCP(gSavedOutputCodePage);
}

}  // namespace

std::vector<std::string> Arguments(int argc, char** argv) {
    int count = 0;
    wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
    if (words == nullptr) return {argv, argv + argc};
    std::vector<std::string> args;
    for (int i = 0; i < count; ++i) args.push_back(bmpc::sys::Utf8OfWide(words[i]));
    LocalFree(words);
    return args;
}

void PrepareProcess() {
    // Names are printed as UTF-8; a console shows them right only in that
    // code page. The console outlives this process, so it gets its own back.
    if (IsConsole(GetStdHandle(STD_ERROR_HANDLE)) || IsConsole(GetStdHandle(STD_OUTPUT_HANDLE))) {
        gSavedOutputCodePage = GetConsoleOutputCP();
        if (gSavedOutputCodePage != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) {
            std::atexit(RestoreCodePage);
        } else {
            gSavedOutputCodePage = 0;
        }
    }
    // The progress line is redrawn with terminal escapes; nothing else on
    // standard error may be translated on its way.
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    if (DWORD mode = 0; IsConsole(err) && GetConsoleMode(err, &mode)) {
        SetConsoleMode(err, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
}

unsigned AvailableProcessors() {
    DWORD_PTR process = 0, system = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0) {
        unsigned n = 0;
        for (; process != 0; process &= process - 1) ++n;
        return n;
    }
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    return std::max<unsigned>(1, info.dwNumberOfProcessors);
}

bool IsTerminal(StdStream stream) {
    // Not _isatty: that also says yes for NUL and every other character device.
    return IsConsole(HandleOf(stream == StdStream::Out ? 1 : 2));
}

bool UsableName(const std::string& name) { return ValidUtf8(name); }

namespace {

std::atomic<bool>* gInterruptFlag = nullptr;
std::atomic<int> gInterrupts{0};

// Threads whose blocked reads and writes an interrupt ends. The handler
// runs on a thread of its own, so a lock is safe here.
std::mutex gWatchedLock;
std::vector<uintptr_t> gWatched;  // thread handles

// A thread that had just seen no interrupt may block only now: the calls
// are cancelled a few times over.
void WakeWatched() {
    for (int round = 0; round < 25; ++round) {
        {
            const std::lock_guard<std::mutex> hold(gWatchedLock);
            for (const uintptr_t t : gWatched) CancelSynchronousIo(reinterpret_cast<HANDLE>(t));
        }
        Sleep(20);
    }
}

[[noreturn]] void EndInterrupted() {
    std::fflush(nullptr);
    RestoreCodePage();  // ExitProcess runs no atexit handlers
    ExitProcess(kInterruptedExit);
}

BOOL WINAPI OnInterrupt(DWORD event) {
    if (gInterrupts.fetch_add(1) > 0) EndInterrupted();  // the second one
    if (gInterruptFlag != nullptr) gInterruptFlag->store(true);
    WakeWatched();
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
    // Closing the console ends the process when this returns: waiting here
    // gives the conversions the time the system allows to stop and clean up.
    Sleep(INFINITE);
    return TRUE;
}

}  // namespace

void WatchInterrupts(std::atomic<bool>* flag) {
    gInterruptFlag = flag;
    SetConsoleCtrlHandler(OnInterrupt, TRUE);
}

void FinishInterrupted() {
    if (gInterrupts.load() > 0) EndInterrupted();
}

InterruptibleThread::InterruptibleThread() : slot_(-1) {
    HANDLE self = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &self, 0,
                         FALSE, DUPLICATE_SAME_ACCESS)) {
        return;
    }
    const std::lock_guard<std::mutex> hold(gWatchedLock);
    gWatched.push_back(reinterpret_cast<uintptr_t>(self));
    slot_ = 1;
}

InterruptibleThread::~InterruptibleThread() {
    if (slot_ < 0) return;
    const DWORD id = GetCurrentThreadId();
    const std::lock_guard<std::mutex> hold(gWatchedLock);
    for (auto it = gWatched.begin(); it != gWatched.end(); ++it) {
        if (const auto h = reinterpret_cast<HANDLE>(*it); GetThreadId(h) == id) {
            CloseHandle(h);
            gWatched.erase(it);
            break;
        }
    }
}

}  // namespace bmpcontrast_cli::platform
