#include "run_tool.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

#include "tool_command.h"

namespace tooltest {
namespace {

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// argv for execv: the tool (after the emulator's command in cross builds),
// then `args`. `copies` owns the strings.
std::vector<char*> Argv(const std::vector<std::string>& args, std::vector<std::string>& copies) {
    copies = {BMPCONTRAST_TOOL_COMMAND};
    copies.insert(copies.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    return argv;
}

void Decode(int wstatus, ToolRun& run) {
    run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    run.signal = WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : 0;
}

}  // namespace

ToolRun RunTool(const std::vector<std::string>& args, const ToolIo& io) {
    // Output to files rather than pipes: nothing to drain while waiting.
    char outName[] = "/tmp/bmpc_tool_out_XXXXXX";
    char errName[] = "/tmp/bmpc_tool_err_XXXXXX";
    const int outFd = mkstemp(outName);
    const int errFd = mkstemp(errName);
    int stdinPipe[2];
    int stdoutPipe[2] = {-1, -1};
    if (outFd < 0 || errFd < 0 || pipe(stdinPipe) != 0) throw std::runtime_error("test setup");
    if (io.stdoutReadLimit != 0 && pipe(stdoutPipe) != 0) throw std::runtime_error("test setup");

    std::vector<std::string> copies;
    std::vector<char*> argv = Argv(args, copies);

    const pid_t pid = fork();
    if (pid == 0) {
        dup2(io.stdinPath.empty() ? stdinPipe[0] : open(io.stdinPath.c_str(), O_RDONLY), 0);
        close(stdinPipe[0]);
        close(stdinPipe[1]);
        int out = outFd;
        if (!io.stdoutPath.empty()) out = open(io.stdoutPath.c_str(), O_WRONLY);
        if (io.stdoutReadLimit != 0) {
            out = stdoutPipe[1];
            close(stdoutPipe[0]);
        }
        dup2(out, 1);
        dup2(errFd, 2);
        if (io.fileSizeLimit != 0) {
            const auto bytes = static_cast<rlim_t>(io.fileSizeLimit);
            const rlimit limit{bytes, bytes};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(stdinPipe[0]);
    std::string piped;
    if (io.stdoutReadLimit != 0) {
        close(stdoutPipe[1]);
        char buffer[4096];
        while (piped.size() < io.stdoutReadLimit) {
            const ssize_t n = read(stdoutPipe[0], buffer,
                                   std::min(sizeof buffer, io.stdoutReadLimit - piped.size()));
            if (n <= 0) break;
            piped.append(buffer, static_cast<size_t>(n));
        }
        close(stdoutPipe[0]);
    }
    // The tool may stop reading early; a closed pipe must not kill the test.
    signal(SIGPIPE, SIG_IGN);
    std::thread feeder([&] {
        size_t done = 0;
        while (done < io.stdinData.size()) {
            const ssize_t n =
                write(stdinPipe[1], io.stdinData.data() + done, io.stdinData.size() - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        close(stdinPipe[1]);
    });
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    feeder.join();

    ToolRun run;
    Decode(wstatus, run);
    run.out = io.stdoutReadLimit != 0 ? piped : Slurp(outName);
    run.err = Slurp(errName);
    close(outFd);
    close(errFd);
    unlink(outName);
    unlink(errName);
    return run;
}

ToolProcess::ToolProcess(const std::vector<std::string>& args) {
    char outName[] = "/tmp/bmpc_tool_out_XXXXXX";
    char errName[] = "/tmp/bmpc_tool_err_XXXXXX";
    outFd_ = mkstemp(outName);
    errFd_ = mkstemp(errName);
    if (outFd_ < 0 || errFd_ < 0) throw std::runtime_error("test setup");
    outName_ = outName, errName_ = errName;
    std::vector<std::string> copies;
    std::vector<char*> argv = Argv(args, copies);
    pid_ = fork();
    if (pid_ == 0) {
        const int null = open("/dev/null", O_RDONLY);
        dup2(null, 0);
        dup2(outFd_, 1);
        dup2(errFd_, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
}

ToolProcess::~ToolProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    close(outFd_);
    close(errFd_);
    unlink(outName_.c_str());
    unlink(errName_.c_str());
}

void ToolProcess::Signal(int sig) { kill(pid_, sig); }

ToolRun ToolProcess::Wait() {
    int wstatus = 0;
    waitpid(pid_, &wstatus, 0);
    pid_ = -1;
    ToolRun run;
    Decode(wstatus, run);
    run.out = Slurp(outName_);
    run.err = Slurp(errName_);
    return run;
}

ToolRun RunToolOnTerminal(const std::vector<std::string>& args) {
    std::vector<std::string> copies;
    std::vector<char*> argv = Argv(args, copies);
    int terminal = -1;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
    if (pid < 0) throw std::runtime_error("forkpty");
    if (pid == 0) {
        execv(argv[0], argv.data());
        _exit(127);
    }
    ToolRun run;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(terminal, buffer, sizeof buffer);
        if (n > 0) {
            run.out.append(buffer, static_cast<size_t>(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;  // EIO once the tool has closed its side
        }
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    close(terminal);
    Decode(wstatus, run);
    return run;
}

}  // namespace tooltest
