#include "run_tool.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

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

}  // namespace

ToolRun RunTool(const std::vector<std::string>& args, const ToolIo& io) {
    // Output to files rather than pipes: nothing to drain while waiting.
    char outName[] = "/tmp/bmpc_tool_out_XXXXXX";
    char errName[] = "/tmp/bmpc_tool_err_XXXXXX";
    const int outFd = mkstemp(outName);
    const int errFd = mkstemp(errName);
    int stdinPipe[2];
    if (outFd < 0 || errFd < 0 || pipe(stdinPipe) != 0) throw std::runtime_error("test setup");

    // The tool's path, after the emulator's command in cross builds.
    std::vector<std::string> copies = {BMPCONTRAST_TOOL_COMMAND};
    std::vector<char*> argv;
    copies.insert(copies.end(), args.begin(), args.end());
    for (auto& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
        dup2(stdinPipe[0], 0);
        close(stdinPipe[0]);
        close(stdinPipe[1]);
        int out = outFd;
        if (!io.stdoutPath.empty()) out = open(io.stdoutPath.c_str(), O_WRONLY);
        dup2(out, 1);
        dup2(errFd, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(stdinPipe[0]);
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
    run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    run.out = Slurp(outName);
    run.err = Slurp(errName);
    close(outFd);
    close(errFd);
    unlink(outName);
    unlink(errName);
    return run;
}

}  // namespace tooltest
