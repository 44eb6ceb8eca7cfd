// The tool where a person watches it: on a terminal (progress line, image
// bytes kept off the screen) and interrupted in the middle of a batch.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "bmp_builder.h"
#include "run_tool.h"
#include "tool_fixture.h"

namespace {

using bmptest::Bytes;
using bmptest::Predict;
using bmptest::ReadFile;
using tooltest::Has;
using tooltest::Tool;
namespace fs = std::filesystem;

// Under a terminal the progress line is drawn and cleared in place, and
// the lines of the files and the summary come through whole.
TEST_F(Tool, ProgressLineOnATerminal) {
    std::vector<std::string> args = {"-l", "150", "-j", "2", "-o", Path("out")};
    for (uint32_t i = 0; i < 6; ++i) {
        const std::string name = "in/f" + std::to_string(i) + ".bmp";
        Bitmap(name, 50 + i);
        args.push_back(Path(name));
    }
    bmptest::WriteFile(Path("in/bad.bmp"), Bytes{'B', 'M', 1});
    args.push_back(Path("in/bad.bmp"));
    const auto run = tooltest::RunToolOnTerminal(args);
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_TRUE(Has(run.out, "\r\033[K")) << run.out;
    EXPECT_TRUE(Has(run.out, "files (")) << run.out;
    EXPECT_TRUE(Has(run.out, " failed, ")) << run.out;
    // The terminal turns "\n" into "\r\n"; each line arrives in one piece.
    EXPECT_TRUE(Has(run.out, "bmpcontrast: '" + Path("in/bad.bmp") +
                                 "': Error: Could not read file header.\r\n"))
        << run.out;
    EXPECT_TRUE(Has(run.out, "\r\033[K6 converted, 1 failed\r\n")) << run.out;
    EXPECT_EQ(run.out.substr(run.out.size() - 2), "\r\n");  // the line is cleared at the end

    const auto quiet = tooltest::RunToolOnTerminal(
        {"-q", "-l", "150", "-f", "-o", Path("out"), Path("in/f0.bmp"), Path("in/f1.bmp")});
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.out, "");
}

TEST_F(Tool, ImageBytesNeverGoToATerminal) {
    Bitmap("in.bmp", 60);
    const auto run = tooltest::RunToolOnTerminal({Path("in.bmp"), "-", "150"});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(Has(run.out, "standard output is a terminal")) << run.out;
    EXPECT_FALSE(Has(run.out, "BM"));
}

// A signal during a batch: the file in progress stops at its next chunk
// and leaves nothing, no other file is started, the summary is printed,
// and the tool ends by the signal (status 130 in a shell). A FIFO as the
// second input holds the conversion at a known point.
TEST_F(Tool, InterruptStopsTheConversionsAndLeavesNothing) {
    const Bytes first = Bitmap("in/a.bmp", 61);
    const Bytes held = Bitmap("held.bmp", 62);
    Bitmap("in/c.bmp", 63);
    Bitmap("in/d.bmp", 64);
    ASSERT_EQ(mkfifo(Path("in/b.bmp").c_str(), 0600), 0);
    tooltest::ToolProcess tool({"-l", "150", "-j", "1", "-o", Path("out"), Path("in/a.bmp"),
                                Path("in/b.bmp"), Path("in/c.bmp"), Path("in/d.bmp")});
    // Opening the FIFO for writing returns once the tool has it open.
    const int fifo = open(Path("in/b.bmp").c_str(), O_WRONLY);
    ASSERT_GE(fifo, 0);
    tool.Signal(SIGINT);
    // The tool stops though the FIFO it reads never gets a byte.
    const auto run = tool.Wait();
    close(fifo);
    (void)held;
    EXPECT_EQ(run.signal, SIGINT) << run.err;
    EXPECT_TRUE(Has(
        run.err, "interrupted; 3 of 4 files not converted; their names follow on standard output"))
        << run.err;
    EXPECT_TRUE(Has(run.err, "1 converted, 0 failed\n")) << run.err;
    // The names left, for --files-from: a second run converts nothing twice.
    EXPECT_EQ(run.out, Path("in/b.bmp") + "\n" + Path("in/c.bmp") + "\n" + Path("in/d.bmp") + "\n");
    EXPECT_EQ(ReadFile(Path("out/a.bmp")), Predict(first, 150).file);
    // Nothing else, and no scratch file left behind.
    EXPECT_EQ(Listing("out"), (std::vector<std::string>{"a.bmp"}));
}

}  // namespace
