// Runs the real bmpcontrast binary and captures what it did.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tooltest {

struct ToolRun {
    int status = -1;  // exit status; -1 if it did not exit normally
    int signal = 0;   // the signal that ended it, if one did
    std::string out;
    std::string err;
};

struct ToolIo {
    std::string stdinData;   // fed through a pipe
    std::string stdoutPath;  // non-empty: stdout goes to this file instead
    // Non-zero: stdout is a pipe whose reader takes this many bytes and
    // then goes away, as `| head -c N` does; `out` holds what it read.
    size_t stdoutReadLimit = 0;
    // Non-zero: the tool runs under this file-size limit (RLIMIT_FSIZE).
    uint64_t fileSizeLimit = 0;
    std::string stdinPath = {};  // non-empty: stdin is this file instead of the pipe
};

ToolRun RunTool(const std::vector<std::string>& args, const ToolIo& io = {});

// The tool started and left running, for tests that act on it meanwhile.
class ToolProcess {
  public:
    explicit ToolProcess(const std::vector<std::string>& args);
    ~ToolProcess();
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;
    void Signal(int sig);
    int pid() const { return pid_; }
    ToolRun Wait();

  private:
    int pid_ = -1;
    int outFd_ = -1, errFd_ = -1;
    std::string outName_, errName_;
};

// The tool with a pseudo-terminal as standard input, output and error:
// everything it showed there, in order.
ToolRun RunToolOnTerminal(const std::vector<std::string>& args);

}  // namespace tooltest
