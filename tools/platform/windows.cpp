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

#include "platform.h"

namespace bmpcontrast_cli::platform {
namespace {

// How a worker is started: this program with this first argument and the
// three handles it inherits (jobs in, answers out, the "answer sent" event).
constexpr char kWorkerFlag[] = "--internal-batch-worker";
// Answers are short; a pipe this large means a worker never waits for the
// parent to read one before it sets its event.
constexpr DWORD kChannelBuffer = 1 << 20;
// What cmd.exe and others report for a program ended by Ctrl-C.
constexpr UINT kInterruptedExit = 0xC000013A;
constexpr int64_t kUnixEpochIn100ns = 116444736000000000;
constexpr DWORD kPollSliceMs = 10;

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int size = static_cast<int>(std::min<size_t>(utf8.size(), INT_MAX));
    const int count = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<size_t>(std::max(count, 0)), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), count);
    return wide;
}

// UTF-16 to UTF-8, keeping an unpaired surrogate as its three-byte form so
// that such a name is refused later as invalid rather than silently turned
// into another name.
std::string Narrow(std::wstring_view wide) {
    std::string out;
    out.reserve(wide.size());
    for (size_t i = 0; i < wide.size(); ++i) {
        uint32_t cp = static_cast<uint16_t>(wide[i]);
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < wide.size()) {
            const uint32_t low = static_cast<uint16_t>(wide[i + 1]);
            if (low >= 0xDC00 && low < 0xE000) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

// The errno value for a Win32 error, so that messages match POSIX's.
int ErrnoOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_NETPATH:
        case ERROR_DIRECTORY:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_WRITE_PROTECT:
            return EACCES;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return ENOMEM;
        case ERROR_TOO_MANY_OPEN_FILES:
            return EMFILE;
        case ERROR_FILENAME_EXCED_RANGE:
            return ENAMETOOLONG;
        case ERROR_NOT_SAME_DEVICE:
            return EXDEV;
        case ERROR_BROKEN_PIPE:
        case ERROR_NO_DATA:
            return EPIPE;
        default:
            return EIO;
    }
}

int LastErrno() { return ErrnoOf(GetLastError()); }

HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

bool IsConsole(HANDLE h) {
    DWORD mode = 0;
    return h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) != 0;
}

int64_t Nanoseconds(const FILETIME& t) {
    const int64_t ticks =
        static_cast<int64_t>((uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime);
    return (ticks - kUnixEpochIn100ns) * 100;
}

FILETIME FileTime(int64_t ns) {
    const auto ticks = static_cast<uint64_t>(ns / 100 + kUnixEpochIn100ns);
    return {static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

// A handle for looking at a file or folder, following links.
HANDLE OpenForInfo(const std::string& path, DWORD access) {
    return CreateFileW(Wide(path).c_str(), access,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

UINT gSavedOutputCodePage = 0;

void RestoreCodePage() {
    if (gSavedOutputCodePage != 0) SetConsoleOutputCP(gSavedOutputCodePage);
}

int DescriptorOf(HANDLE h, int flags) {
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), flags);
    if (fd < 0) CloseHandle(h);
    return fd;
}

}  // namespace

std::vector<std::string> Arguments(int argc, char** argv) {
    int count = 0;
    wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
    if (words == nullptr) return {argv, argv + argc};
    std::vector<std::string> args;
    for (int i = 0; i < count; ++i) args.push_back(Narrow(words[i]));
    LocalFree(words);
    return args;
}

void PrepareStreams() {
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
    // The progress line is redrawn with terminal escapes.
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
    return IsConsole(HandleOf(stream == StdStream::In ? 0 : stream == StdStream::Out ? 1 : 2));
}

std::optional<FileInfo> Stat(const std::string& path) {
    const HANDLE h = OpenForInfo(path, FILE_READ_ATTRIBUTES);
    if (h == INVALID_HANDLE_VALUE) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION data{};
    const bool got = GetFileInformationByHandle(h, &data) != 0;
    const DWORD type = GetFileType(h);
    CloseHandle(h);
    if (!got) return std::nullopt;
    FileInfo info;
    info.directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    info.regular = !info.directory && type == FILE_TYPE_DISK;
    info.size = (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    info.permissions = (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0 ? 0444 : 0666;
    if (info.directory) info.permissions |= 0111;
    info.modifiedNs = Nanoseconds(data.ftLastWriteTime);
    info.accessedNs = Nanoseconds(data.ftLastAccessTime);
    info.device = data.dwVolumeSerialNumber;
    info.inode = (uint64_t{data.nFileIndexHigh} << 32) | data.nFileIndexLow;
    return info;
}

bool NameExists(const std::string& path) {
    return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string Resolved(const std::string& path) {
    const HANDLE h = OpenForInfo(path, 0);
    if (h == INVALID_HANDLE_VALUE) return path;
    std::wstring name(MAX_PATH, L'\0');
    DWORD n = GetFinalPathNameByHandleW(h, name.data(), static_cast<DWORD>(name.size()), 0);
    if (n >= name.size()) {
        name.resize(n + 1);
        n = GetFinalPathNameByHandleW(h, name.data(), static_cast<DWORD>(name.size()), 0);
    }
    CloseHandle(h);
    if (n == 0 || n >= name.size()) return path;
    name.resize(n);
    // The system's own form, \\?\C:\... or \\?\UNC\server\..., made ordinary.
    if (name.rfind(L"\\\\?\\UNC\\", 0) == 0) {
        name = L"\\\\" + name.substr(8);
    } else if (name.rfind(L"\\\\?\\", 0) == 0) {
        name = name.substr(4);
    }
    return Narrow(name);
}

int ApplyMetadata(const std::string& path, uint32_t permissions, const FileInfo* times) {
    const std::wstring wide = Wide(path);
    if (times != nullptr) {
        const HANDLE h = OpenForInfo(path, FILE_WRITE_ATTRIBUTES);
        if (h == INVALID_HANDLE_VALUE) return LastErrno();
        const FILETIME accessed = FileTime(times->accessedNs);
        const FILETIME modified = FileTime(times->modifiedNs);
        const bool set = SetFileTime(h, nullptr, &accessed, &modified) != 0;
        const int error = set ? 0 : LastErrno();
        CloseHandle(h);
        if (!set) return error;
    }
    // Windows knows only "read-only": a file nobody may write is one.
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return LastErrno();
    const DWORD wanted = (permissions & 0222) == 0 ? attributes | FILE_ATTRIBUTE_READONLY
                                                   : attributes & ~DWORD{FILE_ATTRIBUTE_READONLY};
    if (wanted != attributes && !SetFileAttributesW(wide.c_str(), wanted)) return LastErrno();
    return 0;
}

int CreateExclusive(const std::string& path, uint32_t) {
    // Permissions come later, through ApplyMetadata: a read-only file could
    // not be written by the library. Shared for deletion, so that the file
    // can be renamed into place while it is still open here.
    const HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        errno = LastErrno();
        return -1;
    }
    const int fd = DescriptorOf(h, _O_RDWR | _O_BINARY);
    if (fd < 0) {
        DeleteFileW(Wide(path).c_str());
        errno = EMFILE;
    }
    return fd;
}

int Rename(const std::string& from, const std::string& to, bool replace) {
    // Without MOVEFILE_COPY_ALLOWED: a rename, never a copy that could be
    // seen half done.
    const DWORD flags = replace ? MOVEFILE_REPLACE_EXISTING : 0;
    return MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), flags) ? 0 : LastErrno();
}

int Remove(const std::string& path) { return DeleteFileW(Wide(path).c_str()) ? 0 : LastErrno(); }

std::string TempDirectory() {
    wchar_t buffer[MAX_PATH + 2];
    const DWORD n = GetTempPathW(MAX_PATH + 2, buffer);
    if (n == 0 || n > MAX_PATH + 1) return ".";
    std::wstring dir(buffer, n);
    while (dir.size() > 3 && (dir.back() == L'\\' || dir.back() == L'/')) dir.pop_back();
    return Narrow(dir);
}

uint32_t CreationMask() { return 0; }

long ReadSome(int fd, char* data, size_t size) {
    const auto count = static_cast<unsigned>(std::min<size_t>(size, INT_MAX));
    return _read(fd, data, count);
}

long WriteSome(int fd, const char* data, size_t size) {
    const auto count = static_cast<unsigned>(std::min<size_t>(size, INT_MAX));
    return _write(fd, data, count);
}

int Close(int fd) { return _close(fd) == 0 ? 0 : errno; }

int Rewind(int fd) { return _lseeki64(fd, 0, SEEK_SET) < 0 ? errno : 0; }

void SetBinary(int fd) { _setmode(fd, _O_BINARY); }

int Duplicate(int fd) {
    // _dup would make the copy inheritable; this one stays with us.
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), HandleOf(fd), GetCurrentProcess(), &copy, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
        errno = LastErrno();
        return -1;
    }
    return DescriptorOf(copy, _O_BINARY);
}

bool Redirect(int from, int onto) { return _dup2(from, onto) == 0; }

bool MakePipe(int& readEnd, int& writeEnd) {
    int fds[2];
    if (_pipe(fds, 1 << 16, _O_BINARY | _O_NOINHERIT) != 0) return false;
    readEnd = fds[0], writeEnd = fds[1];
    return true;
}

bool SameFile(int a, int b) {
    const HANDLE ha = HandleOf(a), hb = HandleOf(b);
    if (IsConsole(ha) || IsConsole(hb)) return IsConsole(ha) && IsConsole(hb);
    BY_HANDLE_FILE_INFORMATION ia{}, ib{};
    if (!GetFileInformationByHandle(ha, &ia) || !GetFileInformationByHandle(hb, &ib)) {
        return ha == hb;
    }
    return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
           ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

namespace {

// Pipes on Windows cannot be waited on; a pipe is ready when it holds bytes
// or its other end has gone.
std::vector<size_t> ReadyPipes(const std::vector<int>& fds) {
    std::vector<size_t> ready;
    for (size_t i = 0; i < fds.size(); ++i) {
        DWORD available = 0;
        if (!PeekNamedPipe(HandleOf(fds[i]), nullptr, 0, nullptr, &available, nullptr) ||
            available > 0) {
            ready.push_back(i);
        }
    }
    return ready;
}

}  // namespace

std::vector<size_t> WaitReadable(const std::vector<int>& fds, int timeoutMs) {
    const ULONGLONG until = GetTickCount64() + static_cast<ULONGLONG>(std::max(timeoutMs, 0));
    for (;;) {
        std::vector<size_t> ready = ReadyPipes(fds);
        if (!ready.empty() || GetTickCount64() >= until) return ready;
        Sleep(kPollSliceMs);
    }
}

OutputCapture::OutputCapture() {
    std::fflush(stdout);
    std::fflush(stderr);
    // A file that is never written to disk unless memory runs short, and
    // that goes away with its last handle.
    const std::string name = TempDirectory() + "\\bmpcontrast-output-" +
                             std::to_string(GetCurrentProcessId()) + "-" +
                             std::to_string(reinterpret_cast<uintptr_t>(this));
    const HANDLE h =
        CreateFileW(Wide(name).c_str(), GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    savedOut_ = Duplicate(1);
    savedErr_ = Duplicate(2);
    handle_ = DescriptorOf(h, _O_RDWR | _O_BINARY);
    if (handle_ < 0 || _dup2(handle_, 1) != 0 || _dup2(handle_, 2) != 0) {
        if (handle_ >= 0) _close(handle_);
        handle_ = -1;
    }
}

OutputCapture::~OutputCapture() {
    std::fflush(stdout);
    std::fflush(stderr);
    if (savedOut_ >= 0) _dup2(savedOut_, 1), _close(savedOut_);
    if (savedErr_ >= 0) _dup2(savedErr_, 2), _close(savedErr_);
    if (handle_ >= 0) _close(handle_);
}

std::string OutputCapture::Take() {
    std::fflush(stdout);
    std::fflush(stderr);
    std::string text;
    if (handle_ < 0) return text;
    const int64_t size = _lseeki64(handle_, 0, SEEK_END);
    if (size > 0 && _lseeki64(handle_, 0, SEEK_SET) == 0) {
        text.resize(static_cast<size_t>(size));
        size_t done = 0;
        while (done < text.size()) {
            const long n = ReadSome(handle_, text.data() + done, text.size() - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        text.resize(done);
    }
    if (_chsize_s(handle_, 0) != 0) text += "(lost output)\n";
    _lseeki64(handle_, 0, SEEK_SET);
    return text;
}

std::unique_ptr<Worker> Worker::Start(Body) {
    // The body is WorkerMain, which main() runs for kWorkerFlag.
    wchar_t exe[32768];
    const DWORD length = GetModuleFileNameW(nullptr, exe, static_cast<DWORD>(std::size(exe)));
    if (length == 0 || length >= std::size(exe)) return nullptr;

    HANDLE downRead = nullptr, downWrite = nullptr, upRead = nullptr, upWrite = nullptr;
    if (!CreatePipe(&downRead, &downWrite, nullptr, kChannelBuffer)) return nullptr;
    if (!CreatePipe(&upRead, &upWrite, nullptr, kChannelBuffer)) {
        CloseHandle(downRead), CloseHandle(downWrite);
        return nullptr;
    }
    const HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE inherited[] = {downRead, upWrite, event};
    auto closeAll = [&] {
        for (HANDLE h : {downRead, downWrite, upRead, upWrite, event}) {
            if (h != nullptr) CloseHandle(h);
        }
    };
    if (event == nullptr) return closeAll(), nullptr;
    // Only these three are made inheritable, and only for this start:
    // another worker's pipe end held by this one would keep that worker
    // from ever seeing its end.
    for (HANDLE h : inherited) SetHandleInformation(h, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);

    std::wstring command = L"\"" + std::wstring(exe, length) + L"\" " + Wide(kWorkerFlag);
    for (HANDLE h : inherited) command += L" " + std::to_wstring(reinterpret_cast<uintptr_t>(h));

    STARTUPINFOEXW info{};
    info.StartupInfo.cb = sizeof info;
    SIZE_T listSize = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &listSize);
    std::vector<char> list(listSize);
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list.data());
    DWORD flags = CREATE_NEW_PROCESS_GROUP;  // Ctrl-C is the parent's to handle
    if (listSize > 0 && InitializeProcThreadAttributeList(attributes, 1, 0, &listSize) &&
        UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                  sizeof inherited, nullptr, nullptr)) {
        info.lpAttributeList = attributes;
        flags |= EXTENDED_STARTUPINFO_PRESENT;
    }
    PROCESS_INFORMATION process{};
    const bool started = CreateProcessW(exe, command.data(), nullptr, nullptr, TRUE, flags, nullptr,
                                        nullptr, &info.StartupInfo, &process) != 0;
    if (info.lpAttributeList != nullptr) DeleteProcThreadAttributeList(attributes);
    for (HANDLE h : inherited) SetHandleInformation(h, HANDLE_FLAG_INHERIT, 0);
    CloseHandle(downRead), CloseHandle(upWrite);
    downRead = upWrite = nullptr;
    if (!started) return closeAll(), nullptr;
    CloseHandle(process.hThread);

    std::unique_ptr<Worker> worker(new Worker);
    worker->in_ = DescriptorOf(upRead, _O_RDONLY | _O_BINARY);
    worker->out_ = DescriptorOf(downWrite, _O_WRONLY | _O_BINARY);
    worker->process_ = reinterpret_cast<intptr_t>(process.hProcess);
    worker->wake_ = reinterpret_cast<intptr_t>(event);
    if (worker->in_ < 0 || worker->out_ < 0) return nullptr;  // the destructor cleans up
    return worker;
}

std::optional<int> Worker::ServeIfWorker(const std::vector<std::string>& args, Body body) {
    if (args.size() != 5 || args[1] != kWorkerFlag) return std::nullopt;
    HANDLE handles[3];
    for (size_t k = 0; k < 3; ++k) {
        handles[k] = reinterpret_cast<HANDLE>(std::strtoull(args[2 + k].c_str(), nullptr, 10));
    }
    // Interrupts are the parent's to handle: it lets the files in progress
    // finish, so the worker must not die of the same Ctrl-C.
    SetConsoleCtrlHandler(nullptr, TRUE);
    std::unique_ptr<Worker> self(new Worker);
    self->in_ = DescriptorOf(handles[0], _O_RDONLY | _O_BINARY);
    self->out_ = DescriptorOf(handles[1], _O_WRONLY | _O_BINARY);
    self->wake_ = reinterpret_cast<intptr_t>(handles[2]);
    if (self->in_ < 0 || self->out_ < 0) return 1;
    return body(*self);
}

void Worker::AfterSend() {
    if (wake_ != -1) SetEvent(reinterpret_cast<HANDLE>(wake_));
}

Worker::~Worker() {
    if (in_ >= 0) _close(in_);
    if (out_ >= 0) _close(out_);
    if (process_ != -1) Reap();
    if (wake_ != -1) CloseHandle(reinterpret_cast<HANDLE>(wake_));
}

std::string Worker::Reap() {
    if (process_ == -1) return "";
    CloseSending();
    const auto process = reinterpret_cast<HANDLE>(process_);
    process_ = -1;
    WaitForSingleObject(process, INFINITE);
    DWORD code = 0;
    const bool got = GetExitCodeProcess(process, &code) != 0;
    CloseHandle(process);
    if (!got || code == 0) return "";
    char text[64];
    if (code >= 0xC0000000u) {
        std::snprintf(text, sizeof text, "ended by exception 0x%08lX",
                      static_cast<unsigned long>(code));
    } else {
        std::snprintf(text, sizeof text, "ended with status %lu", static_cast<unsigned long>(code));
    }
    return text;
}

std::vector<size_t> Worker::Readable(const std::vector<Worker*>& workers, int timeoutMs) {
    std::vector<int> fds;
    std::vector<HANDLE> wake;
    for (const Worker* w : workers) {
        fds.push_back(w->in_);
        // A process handle is signalled when the worker ends, answer or not.
        if (wake.size() + 2 <= MAXIMUM_WAIT_OBJECTS) {
            wake.push_back(reinterpret_cast<HANDLE>(w->wake_));
            wake.push_back(reinterpret_cast<HANDLE>(w->process_));
        }
    }
    std::vector<size_t> ready = ReadyPipes(fds);
    if (!ready.empty()) return ready;
    // Workers past the wait limit are seen when the wait times out.
    WaitForMultipleObjects(static_cast<DWORD>(wake.size()), wake.data(), FALSE,
                           static_cast<DWORD>(std::max(timeoutMs, 0)));
    return ReadyPipes(fds);
}

namespace {

std::atomic<int> gInterrupts{0};

BOOL WINAPI OnInterrupt(DWORD event) {
    if (gInterrupts.fetch_add(1) > 0) {  // the second one
        RestoreCodePage();
        ExitProcess(kInterruptedExit);
    }
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
    // Closing the console ends the process when this returns: waiting here
    // gives the batch the time the system allows to finish its files.
    Sleep(INFINITE);
    return TRUE;
}

}  // namespace

struct InterruptWatch::State {
    bool finished = false;
};

InterruptWatch::InterruptWatch() : state_(std::make_unique<State>()) {
    SetConsoleCtrlHandler(OnInterrupt, TRUE);
}

InterruptWatch::~InterruptWatch() {
    if (!state_->finished) SetConsoleCtrlHandler(OnInterrupt, FALSE);
}

bool InterruptWatch::received() const { return gInterrupts.load() > 0; }

void InterruptWatch::Finish() {
    if (state_->finished) return;
    state_->finished = true;
    SetConsoleCtrlHandler(OnInterrupt, FALSE);
    if (gInterrupts.load() > 0) {
        std::fflush(nullptr);
        RestoreCodePage();  // ExitProcess runs no atexit handlers
        ExitProcess(kInterruptedExit);
    }
}

}  // namespace bmpcontrast_cli::platform
