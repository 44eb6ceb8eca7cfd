// What the tool asks of the operating system about the process itself,
// behind one small interface: one implementation file per system
// (posix.cpp, windows.cpp). Files are the file job's (src/files/system.h).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bmpcontrast_cli::platform {

// --- The process -----------------------------------------------------------

// The command line, program name first. On Windows it is read as UTF-16
// from the system, whatever the console's code page, and given as UTF-8.
std::vector<std::string> Arguments(int argc, char** argv);

// Readies the process once at start-up: on Windows, names printed as UTF-8
// show as such on a console; on POSIX, a write past a file-size limit or to
// a closed pipe fails with an error instead of ending the process.
void PrepareProcess();

unsigned AvailableProcessors();

enum class StdStream { Out, Err };
bool IsTerminal(StdStream stream);

// Whether the system can take `name` (Windows: valid UTF-8; POSIX: any bytes).
bool UsableName(const std::string& name);

// --- Interrupts ---------------------------------------------------------------

// Ctrl-C (and SIGTERM, SIGHUP; on Windows Ctrl-Break and closing the
// console) during a run: while watched, the first one only sets `flag`, so
// the conversions stop at their next chunk and the summary is printed. A
// second one ends the process at once. Blocked reads and writes give up
// instead of waiting on.
void WatchInterrupts(std::atomic<bool>* flag);
// If an interrupt came, ends the process the way that interrupt would have.
void FinishInterrupted();

// While one lives, an interrupt also wakes the thread that made it from a
// read or write it is blocked in (a pipe that never ends, a FIFO).
class InterruptibleThread {
  public:
    InterruptibleThread();
    ~InterruptibleThread();
    InterruptibleThread(const InterruptibleThread&) = delete;
    InterruptibleThread& operator=(const InterruptibleThread&) = delete;

  private:
    int slot_;
};

}  // namespace bmpcontrast_cli::platform
