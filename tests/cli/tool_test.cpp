// The bmpcontrast tool as a user meets it: the real binary, its exit status,
// its streams byte for byte and the files it leaves behind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "bmp_builder.h"
#include "bmpcontrast.h"
#include "run_tool.h"
#include "tool_fixture.h"

namespace fs = std::filesystem;
using bmptest::Bytes;
using tooltest::AsString;
using tooltest::kSuccessLine;
using tooltest::RunTool;
using tooltest::Tool;

namespace {

TEST_F(Tool, SingleFileExitStatusAndLines) {
    const Bytes good = Bitmap("good.bmp", 1);
    bmptest::BmpLayout layout;
    layout.bitCount = 16;
    bmptest::WriteFile(Path("16bit.bmp"), bmptest::BuildBmp(layout));
    struct Case {
        std::string input, output, level;
        int status;
        std::string out, err;
    } cases[] = {
        {"good.bmp", "out.bmp", "150", 0, kSuccessLine, ""},
        {"16bit.bmp", "out.bmp", "150", 1, "",
         "Error: Only 8-bit, 24-bit, and 32-bit bitmaps are supported.\n"
         "bmpcontrast: '" +
             Path("16bit.bmp") + "': 16-bit pixels; save it as 24-bit\n" + "bmpcontrast: '" +
             Path("16bit.bmp") + "' not converted (result 14444)\n"},
        {"missing.bmp", "out.bmp", "150", 1, "",
         "bmpcontrast: cannot open input '" + Path("missing.bmp") +
             "': No such file or directory\n"},
        {"good.bmp", "no/such/dir.bmp", "150", 1, "",
         "bmpcontrast: cannot write output '" + Path("no/such/dir.bmp") +
             "': No such file or directory\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input + " " + c.output + " " + c.level);
        fs::remove(Path("out.bmp"));
        const auto run = RunTool({Path(c.input), Path(c.output), c.level});
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err, c.err);
        EXPECT_EQ(fs::exists(Path("out.bmp")), c.status == 0);
        if (c.status == 0) {
            EXPECT_EQ(bmptest::ReadFile(Path("out.bmp")), bmptest::Predict(good, 150).file);
        }
    }
}

// Every usage error: status 2, a one-line reason first, nothing on stdout and
// nothing converted.
TEST_F(Tool, UsageErrorsChangeNothing) {
    Bitmap("in.bmp", 2);
    const std::string in = Path("in.bmp"), out = Path("out");
    const std::vector<std::vector<std::string>> cases = {
        {},
        {in, out + ".bmp"},
        {in, out + ".bmp", "150", "extra"},
        {in, out + ".bmp", "1.5"},
        {in, out + ".bmp", "2147483648"},
        {in, out + ".bmp", "-2147483649"},
        {in, out + ".bmp", "0"},
        {in, out + ".bmp", "-5"},
        {"-q", in, out + ".bmp", "0"},
        {"-qz", in, out + ".bmp", "150"},
        {"-l", "0", "-o", out, in},
        {"-o", out, "0", in},
        {"-l", "150", "-o", out, "-j"},
        {"--frobnicate", in, out + ".bmp", "150"},
        {"--out-dir", out, in},                           // no level
        {"--level", "abc", "--out-dir", out, in},         // level not a number
        {"--level", "150", in},                           // nowhere to write
        {"--level", "150", "--out-dir", out},             // no files
        {"--level", "150", "--in-place", "-o", out, in},  // both destinations
        {"-l", "150", "-o", out, "-j", "0", in},
        {"-l", "150", "-o", out, "-", in},
        {"-n", in, out + ".bmp", "150"},  // -n and -j need a batch
        {"-j", "2", in, out + ".bmp", "150"},
        {"-r", "150", in},
        {"-i", "--skip-existing", "-l", "150", in},
    };
    for (const auto& args : cases) {
        std::string shown;
        for (const auto& a : args) shown += a + " ";
        SCOPED_TRACE(shown);
        const auto run = RunTool(args);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.rfind(args.empty() ? "usage: " : "bmpcontrast: ", 0), 0u) << run.err;
        EXPECT_FALSE(fs::exists(out)) << "converted despite the usage error";
        EXPECT_FALSE(fs::exists(out + ".bmp")) << "converted despite the usage error";
    }
    // The reason names what was typed, and only that.
    const std::string o = out + ".bmp";
    struct Reason {
        std::vector<std::string> args;
        std::string line;
    } reasons[] = {
        {{"-n", in, o, "150"}, "-n needs --out-dir DIR or --in-place"},
        {{"--jobs", "2", in, o, "150"}, "--jobs needs --out-dir DIR or --in-place"},
        {{"-nj2", in, o, "150"}, "-n and -j need --out-dir DIR or --in-place"},
        {{"-0", "--follow-symlinks", "-n", in, o, "150"},
         "-0, --follow-symlinks and -n need --out-dir DIR or --in-place"},
        {{"150", in, o},
         "LEVEL comes last in the single form (INPUT OUTPUT LEVEL, or --level 150 anywhere); a "
         "batch needs --out-dir DIR or --in-place"},
        {{in, o, "x150"}, "LEVEL must be a positive integer in the 32-bit range, not 'x150'"},
    };
    for (const Reason& r : reasons) {
        SCOPED_TRACE(r.line);
        const auto run = RunTool(r.args);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.err.rfind("bmpcontrast: " + r.line + "\n", 0), 0u) << run.err;
    }
}

TEST_F(Tool, HelpNamesEveryOptionAndStatusVersionPrintsVersion) {
    const auto help = RunTool({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.err, "");
    for (const char* option : {"--level", "--out-dir", "--in-place", "--force", "--jobs", "--quiet",
                               "--help", "--version", "-l,", "-o,", "-j,"}) {
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    }
    const size_t statuses = help.out.find("Exit status:");
    ASSERT_NE(statuses, std::string::npos);
    for (const char* status : {"\n  0  ", "\n  1  ", "\n  2  "}) {
        EXPECT_NE(help.out.find(status, statuses), std::string::npos) << status;
    }
    const auto version = RunTool({"-V"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("bmpcontrast ") + BMPCONTRAST_VERSION_STRING + "\n");
}

// With "-" the image travels through the pipes untouched: stdout holds the
// image bytes and nothing else, the library's line moves to stderr.
TEST_F(Tool, StdinAndStdoutCarryExactlyTheImage) {
    // Large enough that the pipe fills and the tool has to keep reading.
    bmptest::BmpLayout layout;
    layout.width = 301;
    layout.height = 257;
    layout.bitCount = 32;
    const Bytes input = bmptest::BuildBmp(layout);
    bmptest::WriteFile(Path("in.bmp"), input);
    const std::string expected = AsString(bmptest::Predict(input, 170).file);

    const auto both = RunTool({"-", "-", "170"}, {AsString(input), ""});
    EXPECT_EQ(both.status, 0);
    EXPECT_EQ(both.out, expected);
    EXPECT_EQ(both.err, kSuccessLine);

    const auto toStdout = RunTool({Path("in.bmp"), "-", "170"});
    EXPECT_EQ(toStdout.out, expected);
    EXPECT_EQ(toStdout.err, kSuccessLine);

    const auto fromStdin = RunTool({"-", Path("out.bmp"), "170"}, {AsString(input), ""});
    EXPECT_EQ(fromStdin.status, 0);
    EXPECT_EQ(fromStdin.out, kSuccessLine);
    EXPECT_EQ(AsString(bmptest::ReadFile(Path("out.bmp"))), expected);
    // A file on standard input is read where it lies.
    tooltest::ToolIo fileIn;
    fileIn.stdinPath = Path("in.bmp");
    const auto fromFile = RunTool({"-", "-", "170"}, fileIn);
    EXPECT_EQ(fromFile.status, 0);
    EXPECT_EQ(fromFile.out, expected);

    // A failure writes nothing at all to the image stream.
    const auto bad = RunTool({"-", "-", "170"}, {"BM\x01\x02", ""});
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.out, "");
    EXPECT_EQ(bad.err, bmptest::Predict(Bytes{'B', 'M', 1, 2}, 170).err +
                           "bmpcontrast: 'standard input' not converted (result 1333)\n");
}

// The success line comes only once the last byte is written; a write that
// fails (a full device, a reader that went away) is a failure without it.
TEST_F(Tool, FailedWriteToStdoutIsAFailure) {
    // More than a pipe holds; the larger one is written on a second thread.
    for (const int width : {600, 2000}) {
        bmptest::BmpLayout layout;
        layout.width = width;
        layout.height = 1500;
        bmptest::WriteFile(Path("in.bmp"), bmptest::BuildBmp(layout));
        struct Case {
            tooltest::ToolIo io;
            std::string says;
        } cases[] = {
            {{"", "/dev/full", 0, 0}, "bmpcontrast: cannot write standard output: No space left"},
            {{"", "", 10, 0}, "bmpcontrast: cannot write standard output: Broken pipe"},
            // The same through a scratch file under a file-size limit.
            {{"", "", 0, 1 << 20},
             "bmpcontrast: cannot write output '" + Path("o.bmp") + "': File too large"},
        };
        for (const auto& c : cases) {
            if (!c.io.stdoutPath.empty() && !fs::exists(c.io.stdoutPath)) continue;
            SCOPED_TRACE(c.says + " " + std::to_string(width));
            const bool toFile = c.io.fileSizeLimit != 0;
            const auto run = RunTool({Path("in.bmp"), toFile ? Path("o.bmp") : "-", "150"}, c.io);
            EXPECT_EQ(run.status, 1);
            EXPECT_EQ(run.err.rfind(c.says, 0), 0u) << run.err;
            EXPECT_EQ(run.err.find("Success"), std::string::npos) << run.err;
            EXPECT_EQ(run.out, toFile ? "" : run.out);
            EXPECT_FALSE(fs::exists(Path("o.bmp")));
            EXPECT_EQ(Listing(""), std::vector<std::string>{"in.bmp"});
        }
    }
}

// A bad file in the middle fails alone: the files around it are converted,
// the summary counts both kinds and the status says something failed.
TEST_F(Tool, BatchGoesOnPastAFailingFile) {
    const Bytes first = Bitmap("in/first.bmp", 4);
    bmptest::WriteFile(Path("in/broken.bmp"), Bytes{'B', 'M', 1, 2, 3});
    const Bytes last = Bitmap("in/last.bmp", 5);
    const auto run = RunTool({"--level", "60", "--out-dir", Path("out"), "--jobs", "1",
                              Path("in/first.bmp"), Path("in/broken.bmp"), Path("in/last.bmp")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");  // successes are silent
    EXPECT_EQ(run.err, "bmpcontrast: '" + Path("in/broken.bmp") +
                           "': Error: Could not read file header.\n"
                           "bmpcontrast: '" +
                           Path("in/broken.bmp") +
                           "' not converted (result 1333)\n"
                           "2 converted, 1 failed\n");
    EXPECT_EQ(bmptest::ReadFile(Path("out/first.bmp")), bmptest::Predict(first, 60).file);
    EXPECT_EQ(bmptest::ReadFile(Path("out/last.bmp")), bmptest::Predict(last, 60).file);
    // No partial result and no scratch file for the one that failed.
    EXPECT_EQ(Listing("out"), (std::vector<std::string>{"first.bmp", "last.bmp"}));
}

TEST_F(Tool, ExistingOutputsAreKeptUnlessForced) {
    const Bytes input = Bitmap("in/a.bmp", 6);
    fs::create_directories(Path("out"));
    const Bytes sentinel{'k', 'e', 'e', 'p'};
    bmptest::WriteFile(Path("out/a.bmp"), sentinel);

    const auto kept = RunTool({"-l", "150", "-o", Path("out"), Path("in/a.bmp")});
    EXPECT_EQ(kept.status, 1);
    EXPECT_NE(kept.err.find("'" + Path("out/a.bmp") + "' already exists"), std::string::npos)
        << kept.err;
    EXPECT_EQ(bmptest::ReadFile(Path("out/a.bmp")), sentinel);

    const auto forced = RunTool({"-l", "150", "-o", Path("out"), "--force", Path("in/a.bmp")});
    EXPECT_EQ(forced.status, 0);
    EXPECT_EQ(bmptest::ReadFile(Path("out/a.bmp")), bmptest::Predict(input, 150).file);
    EXPECT_EQ(Listing("out"), std::vector<std::string>{"a.bmp"});
}

// Two inputs of the same name from different folders must not end up
// overwriting one another in the output folder, even with --force.
TEST_F(Tool, SameFileNameFromTwoFoldersIsNotClobbered) {
    const Bytes a = Bitmap("a/x.bmp", 7);
    Bitmap("b/x.bmp", 8);
    const auto run = RunTool(
        {"-l", "150", "-o", Path("out"), "-f", "-j", "2", Path("a/x.bmp"), Path("b/x.bmp")});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("'" + Path("b/x.bmp") + "' not converted"), std::string::npos);
    EXPECT_NE(run.err.find("1 converted, 1 failed\n"), std::string::npos);
    EXPECT_EQ(bmptest::ReadFile(Path("out/x.bmp")), bmptest::Predict(a, 150).file);
}

// Parallel runs give the very bytes a sequential run gives.
TEST_F(Tool, ParallelJobsMatchSequentialRun) {
    std::vector<std::string> files;
    std::vector<Bytes> inputs;
    for (uint32_t i = 0; i < 24; ++i) {
        const std::string name = "in/f" + std::to_string(i) + ".bmp";
        inputs.push_back(Bitmap(name, 10 + i, i % 3 == 0 ? 8 : i % 3 == 1 ? 24 : 32));
        files.push_back(Path(name));
    }
    auto batch = [&](const std::string& jobs, const std::string& out) {
        std::vector<std::string> args = {"-l", "175", "-j", jobs, "-o", Path(out)};
        args.insert(args.end(), files.begin(), files.end());
        return RunTool(args);
    };
    const auto sequential = batch("1", "seq");
    const auto parallel = batch("6", "par");
    for (const auto* run : {&sequential, &parallel}) {
        EXPECT_EQ(run->status, 0);
        // Not a terminal: no progress line; the builder's 8-bit palettes are
        // coloured, so each of the 8 files gets its whole warning line.
        std::string rest = run->err;
        size_t warnings = 0;
        for (size_t at; (at = rest.find("bmpcontrast: '" + Path("in/f"))) != std::string::npos;) {
            const size_t end = rest.find('\n', at);
            EXPECT_NE(rest.substr(at, end - at).find("': warning: the colour table is not grey"),
                      std::string::npos);
            rest.erase(at, end - at + 1);
            ++warnings;
        }
        EXPECT_EQ(warnings, 8u);
        EXPECT_EQ(rest, "24 converted, 0 failed\n");
    }
    for (size_t i = 0; i < files.size(); ++i) {
        const std::string name = "f" + std::to_string(i) + ".bmp";
        const Bytes seq = bmptest::ReadFile(Path("seq/" + name));
        EXPECT_EQ(seq, bmptest::Predict(inputs[i], 175).file) << name;
        EXPECT_EQ(bmptest::ReadFile(Path("par/" + name)), seq) << name;
    }
}

// In place: results replace the files they came from (through symbolic
// links, keeping the link and the permissions); a file that fails is left
// exactly as it was.
TEST_F(Tool, InPlaceReplacesOnlyWhatConverted) {
    const Bytes a = Bitmap("a.bmp", 20);
    const Bytes b = Bitmap("b.bmp", 21);
    const Bytes broken{'B', 'M', 0, 0};
    bmptest::WriteFile(Path("broken.bmp"), broken);
    fs::create_symlink(Path("b.bmp"), Path("link.bmp"));
    chmod(Path("a.bmp").c_str(), 0640);
    const auto run = RunTool(
        {"--in-place", "-l", "130", "-q", Path("a.bmp"), Path("broken.bmp"), Path("link.bmp")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");  // --quiet: no success lines
    EXPECT_EQ(bmptest::ReadFile(Path("a.bmp")), bmptest::Predict(a, 130).file);
    EXPECT_EQ(bmptest::ReadFile(Path("b.bmp")), bmptest::Predict(b, 130).file);
    EXPECT_EQ(bmptest::ReadFile(Path("broken.bmp")), broken);
    EXPECT_TRUE(fs::is_symlink(Path("link.bmp")));
    struct stat st {};
    ASSERT_EQ(stat(Path("a.bmp").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(Listing(""), (std::vector<std::string>{"a.bmp", "b.bmp", "broken.bmp", "link.bmp"}));
}

}  // namespace
