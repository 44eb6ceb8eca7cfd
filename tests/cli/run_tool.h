// Runs the real bmpcontrast binary and captures what it did.
#pragma once

#include <string>
#include <vector>

namespace tooltest {

struct ToolRun {
    int status = -1;  // exit status; -1 if it did not exit normally
    std::string out;
    std::string err;
};

struct ToolIo {
    std::string stdinData;   // fed through a pipe
    std::string stdoutPath;  // non-empty: stdout goes to this file instead
};

ToolRun RunTool(const std::vector<std::string>& args, const ToolIo& io = {});

}  // namespace tooltest
