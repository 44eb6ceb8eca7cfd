// The tool's options as people combine them: folders, lists, dry runs,
// permissions and the checks made before converting, and the names the tool
// hands on (UTF-8, "--", the same file twice).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "bmp_builder.h"
#include "run_tool.h"
#include "tool_fixture.h"

namespace {

using bmptest::Bytes;
using bmptest::Predict;
using bmptest::ReadFile;
using bmptest::WriteFile;
using tooltest::Has;
using tooltest::RunTool;
using tooltest::Tool;
namespace fs = std::filesystem;

uint32_t Permissions(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0xFFFFFFFF;
}

// Names are bytes: one that is not UTF-8 works in both forms and is shown
// escaped, so that every message stays valid text; names far from ASCII
// pass as they are.
TEST_F(Tool, NamesAreBytesShownEscaped) {
    const Bytes input = Bitmap("in.bmp", 30);
    const std::string expected = tooltest::AsString(Predict(input, 150).file);
    struct Case {
        std::string bytes, shown;
    } cases[] = {
        {"\xC0\x80", "\\xC0\\x80"},
        {"\xED\xA0\x80", "\\xED\\xA0\\x80"},  // a surrogate
        {"\xF4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},
        {"a\xC3", "a\\xC3"},
        {"\x80\n", "\\x80\\x0A"},
        {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
    };
    for (const auto& c : cases) {
        const std::string name = Path("x" + c.bytes + ".bmp");
        SCOPED_TRACE(c.shown);
        const auto single = RunTool({Path("in.bmp"), name, "150"});
        EXPECT_EQ(single.status, 0) << single.err;
        EXPECT_EQ(tooltest::AsString(ReadFile(name)), expected);
        fs::copy_file(Path("in.bmp"), name, fs::copy_options::overwrite_existing);
        const auto batch = RunTool({"-v", "-l", "150", "-o", Path("out"), name});
        EXPECT_EQ(batch.status, 0) << batch.err;
        EXPECT_EQ(batch.out, "'" + Path("x" + c.shown + ".bmp") +
                                 "': Success: Contrast adjustment applied.\n");
        EXPECT_EQ(tooltest::AsString(ReadFile(Path("out/x" + c.bytes + ".bmp"))), expected);
        // A failure names the file the same way.
        WriteFile(name, Bytes{'B', 'M', 1});
        const auto broken = RunTool({name, Path("o.bmp"), "150"});
        EXPECT_EQ(broken.status, 1);
        const auto brokenBatch = RunTool({"-f", "-l", "150", "-o", Path("out"), name});
        EXPECT_TRUE(Has(brokenBatch.err, "'" + Path("x" + c.shown + ".bmp") + "' not converted"))
            << brokenBatch.err;
        fs::remove(name);
    }
}

// After "--" every argument is a name, even one that looks like an option.
TEST_F(Tool, DoubleDashEndsOptions) {
    const Bytes input = Bitmap("-v.bmp", 31);
    // Run from the test's folder: the name must stay a bare "-v.bmp".
    const std::string cwd = fs::current_path();
    fs::current_path(dir_);
    const auto inBatch = RunTool({"-l", "150", "-o", "out", "--", "-v.bmp"});
    const auto single = RunTool({"--", "-v.bmp", "single.bmp", "150"});
    const auto withoutDash = RunTool({"-l", "150", "-o", "out2", "-v.bmp"});
    fs::current_path(cwd);
    EXPECT_EQ(inBatch.status, 0) << inBatch.err;
    EXPECT_EQ(ReadFile(Path("out/-v.bmp")), Predict(input, 150).file);
    EXPECT_EQ(single.status, 0) << single.err;
    EXPECT_EQ(ReadFile(Path("single.bmp")), Predict(input, 150).file);
    EXPECT_EQ(withoutDash.status, 2);  // "-v.bmp" read as -v -. -b ...: unknown option
}

// One file reached twice (named twice, through "./", a hard link or a
// symbolic link) is converted once, in place or into a folder, and is no
// failure.
TEST_F(Tool, TheSameFileTwiceIsConvertedOnce) {
    const Bytes input = Bitmap("a.bmp", 32);
    fs::create_hard_link(Path("a.bmp"), Path("hard.bmp"));
    fs::create_symlink(Path("a.bmp"), Path("link.bmp"));
    const auto inPlace = RunTool({"-i", "-v", "-l", "150", "-j", "2", Path("a.bmp"),
                                  dir_.string() + "/./a.bmp", Path("hard.bmp"), Path("link.bmp")});
    EXPECT_EQ(inPlace.status, 0) << inPlace.err;
    EXPECT_TRUE(Has(inPlace.out, "'" + Path("link.bmp") + "': skipped, the same file as '" +
                                     Path("a.bmp") + "'"))
        << inPlace.out;
    EXPECT_EQ(inPlace.err, "1 converted, 0 failed\n");
    EXPECT_EQ(ReadFile(Path("a.bmp")), Predict(input, 150).file);
    EXPECT_TRUE(fs::is_symlink(Path("link.bmp")));
    // The hard link stays one file with the name converted.
    EXPECT_EQ(ReadFile(Path("hard.bmp")), Predict(input, 150).file);
    EXPECT_EQ(fs::hard_link_count(Path("a.bmp")), 2u);
    bmptest::WriteFile(Path("a.bmp"), input);

    const auto named = RunTool({"-l", "150", "-o", Path("out"), Path("hard.bmp"), Path("hard.bmp"),
                                dir_.string() + "/./hard.bmp"});
    EXPECT_EQ(named.status, 0) << named.err;
    EXPECT_EQ(named.err, "1 converted, 0 failed\n");
    EXPECT_EQ(ReadFile(Path("out/hard.bmp")), Predict(input, 150).file);
}

TEST_F(Tool, RecursiveKeepsTheTreeAndFoldersNeedIt) {
    const Bytes x = Bitmap("tree/x.BMP", 33);
    const Bytes y = Bitmap("tree/sub/deeper/y.bmp", 34);
    WriteFile(Path("tree/notes.txt"), Bytes{'h', 'i'});
    const auto run = RunTool({"-rq", "-o", Path("out"), "140", Path("tree")});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ReadFile(Path("out/x.BMP")), Predict(x, 140).file);
    EXPECT_EQ(ReadFile(Path("out/sub/deeper/y.bmp")), Predict(y, 140).file);
    EXPECT_FALSE(fs::exists(Path("out/notes.txt")));

    const auto noFlag = RunTool({"-l", "140", "-o", Path("out2"), Path("tree")});
    EXPECT_EQ(noFlag.status, 1);
    EXPECT_TRUE(Has(noFlag.err, "'" + Path("tree") + "' not converted: it is a folder (use -r"))
        << noFlag.err;
    const auto single = RunTool({Path("tree"), Path("o.bmp"), "140"});
    EXPECT_EQ(single.status, 1);
    EXPECT_TRUE(Has(single.err, "it is a folder")) << single.err;
}

TEST_F(Tool, FilesFromListsNewlineOrNul) {
    const Bytes a = Bitmap("a b.bmp", 35);
    const Bytes c = Bitmap("c.bmp", 36);
    struct Case {
        std::vector<std::string> args;
        std::string list;
        bool viaStdin;
    } cases[] = {
        {{"--files-from", Path("list")}, Path("a b.bmp") + "\n" + Path("c.bmp") + "\n", false},
        {{"-0", "--files-from=-"}, Path("a b.bmp") + '\0' + Path("c.bmp") + '\0', true},
    };
    for (const auto& c0 : cases) {
        fs::remove_all(Path("out"));
        WriteFile(Path("list"), Bytes(c0.list.begin(), c0.list.end()));
        std::vector<std::string> args = {"-l", "120", "-o", Path("out")};
        args.insert(args.end(), c0.args.begin(), c0.args.end());
        const auto run = RunTool(args, {c0.viaStdin ? c0.list : "", ""});
        EXPECT_EQ(run.status, 0) << run.err;
        // A listed name keeps its path under the output folder, as cp --parents.
        const std::string under = Path("out") + "/" + fs::path(Path("")).relative_path().string();
        EXPECT_EQ(ReadFile(under + "a b.bmp"), Predict(a, 120).file);
        EXPECT_EQ(ReadFile(under + "c.bmp"), Predict(c, 120).file);
    }
    const auto missing = RunTool({"-l", "120", "-o", Path("out"), "--files-from", Path("nope")});
    EXPECT_EQ(missing.status, 1);
}

TEST_F(Tool, DryRunSaysWhatAndWritesNothing) {
    Bitmap("in/new.bmp", 37);
    Bitmap("in/old.bmp", 38);
    WriteFile(Path("in/bad.bmp"), Bytes{'B', 'M', 1});
    fs::create_directories(Path("out"));
    WriteFile(Path("out/old.bmp"), Bytes{'k'});
    const std::vector<std::string> files = {Path("in/new.bmp"), Path("in/old.bmp"),
                                            Path("in/bad.bmp")};
    std::vector<std::string> args = {"-n", "-l", "150", "-o", Path("out")};
    args.insert(args.end(), files.begin(), files.end());
    const auto run = RunTool(args);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "would write '" + Path("out/new.bmp") + "'\n");
    EXPECT_TRUE(Has(run.err, "'" + Path("out/old.bmp") + "' already exists")) << run.err;
    EXPECT_TRUE(Has(run.err, "'" + Path("in/bad.bmp") + "' would be refused")) << run.err;
    args.insert(args.begin(), "-f");
    const auto forced = RunTool(args);
    EXPECT_TRUE(Has(forced.out, "would overwrite '" + Path("out/old.bmp") + "'")) << forced.out;
    EXPECT_EQ(Listing("out"), std::vector<std::string>{"old.bmp"});
    EXPECT_EQ(ReadFile(Path("out/old.bmp")), Bytes{'k'});
}

// A private input stays private, in every mode; -p keeps its time too.
TEST_F(Tool, ResultsAreNoMoreOpenThanInputs) {
    Bitmap("secret.bmp", 39);
    chmod(Path("secret.bmp").c_str(), 0600);
    const timespec old[2] = {{1'000'000'000, 0}, {1'000'000'000, 0}};
    utimensat(AT_FDCWD, Path("secret.bmp").c_str(), old, 0);
    EXPECT_EQ(RunTool({"-l", "150", "-o", Path("out"), Path("secret.bmp")}).status, 0);
    EXPECT_EQ(Permissions(Path("out/secret.bmp")), 0600u);
    EXPECT_EQ(RunTool({"-q", Path("secret.bmp"), Path("single.bmp"), "150"}).status, 0);
    EXPECT_EQ(Permissions(Path("single.bmp")), 0600u);

    EXPECT_EQ(RunTool({"-p", "-l", "150", "-o", Path("kept"), Path("secret.bmp")}).status, 0);
    EXPECT_EQ(fs::last_write_time(Path("kept/secret.bmp")),
              fs::last_write_time(Path("secret.bmp")));
    EXPECT_NE(fs::last_write_time(Path("out/secret.bmp")), fs::last_write_time(Path("secret.bmp")));
}

// --strict and --max-pixels judge from the header and the size, before any
// work: a tiny file claiming a huge image costs nothing and leaves nothing.
TEST_F(Tool, StrictAndMaxPixelsRefuseBeforeConverting) {
    const Bytes good = Bitmap("good.bmp", 40);
    Bytes truncated = good;
    truncated.resize(truncated.size() - 5);
    WriteFile(Path("short.bmp"), truncated);
    Bytes huge = good;
    bmptest::PutLE(huge, 18, 4, 40000);
    bmptest::PutLE(huge, 22, 4, 17000);
    WriteFile(Path("huge.bmp"), huge);
    struct Case {
        std::vector<std::string> options;
        std::string input;
        int status;
        std::string says;
    } cases[] = {
        {{"--strict"}, "short.bmp", 1, "truncated"},
        {{"--strict"}, "huge.bmp", 1, "truncated"},
        {{"--max-pixels", "1000000"}, "huge.bmp", 1, "more than --max-pixels 1000000"},
        {{"--max-pixels=20"}, "good.bmp", 1, "more than --max-pixels 20"},
        {{"--strict", "--max-pixels", "1000"}, "good.bmp", 0, ""},
        {{}, "short.bmp", 0, "Warning: Could not read all pixel data."},
    };
    for (const auto& c : cases) {
        for (const bool batch : {false, true}) {
            SCOPED_TRACE(c.input + (batch ? " batch" : " single"));
            fs::remove_all(Path("out"));
            fs::remove(Path("o.bmp"));
            std::vector<std::string> args = c.options;
            if (batch) {
                args.insert(args.end(), {"-l", "150", "-o", Path("out"), Path(c.input)});
            } else {
                args.insert(args.end(), {Path(c.input), Path("o.bmp"), "150"});
            }
            const auto start = std::chrono::steady_clock::now();
            const auto run = RunTool(args);
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
            EXPECT_EQ(run.status, c.status) << run.err;
            EXPECT_TRUE(Has(run.err, c.says)) << run.err;
            if (batch && !c.says.empty()) {
                EXPECT_TRUE(Has(run.err, "'" + Path(c.input) + "'")) << run.err;
            }
            const bool written = fs::exists(batch ? Path("out/" + c.input) : Path("o.bmp"));
            EXPECT_EQ(written, c.status == 0);
        }
    }
}

// After the library's line, one line naming the file and the real cause.
TEST_F(Tool, RefusalsAndColourTablesAreExplained) {
    struct Case {
        uint16_t bits;
        uint32_t compression;
        std::string says;
    } cases[] = {
        {32, 3, "32-bit with bit-field masks (biCompression 3); --colour converts it"},
        {8, 1, "8-bit with RLE compression (biCompression 1); --colour adjusts its colour table"},
        {24, 4, "holds a JPEG image (biCompression 4)"},
        {24, 5, "holds a PNG image (biCompression 5)"},
        {4, 0, "4-bit colour-table image; --colour adjusts its colour table"},
        {1, 0, "1-bit colour-table image; --colour adjusts its colour table"},
        {2, 0, "2-bit colour-table image; save it as 8-bit or 24-bit"},
        {16, 0, "16-bit pixels"},
        {24, 1, "24-bit with RLE compression (biCompression 1); save it uncompressed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.says);
        bmptest::BmpLayout layout;
        layout.bitCount = c.bits;
        layout.compression = c.compression;
        WriteFile(Path("r.bmp"), bmptest::BuildBmp(layout));
        const std::string libraryLine = Predict(bmptest::BuildBmp(layout), 150).err;
        const auto single = RunTool({Path("r.bmp"), Path("o.bmp"), "150"});
        EXPECT_EQ(single.status, 1);
        EXPECT_EQ(
            single.err.rfind(libraryLine + "bmpcontrast: '" + Path("r.bmp") + "': " + c.says, 0),
            0u)
            << single.err;
        const auto batch = RunTool({"-l", "150", "-o", Path("out"), Path("r.bmp")});
        EXPECT_TRUE(Has(batch.err, "bmpcontrast: '" + Path("r.bmp") + "': " + c.says)) << batch.err;
    }
    // Grey colour tables are what the curve is meant for; others are warned about.
    bmptest::BmpLayout palette;
    palette.bitCount = 8;
    Bytes grey = bmptest::BuildBmp(palette);
    for (size_t i = 0; i < 256; ++i) {
        for (size_t k = 0; k < 3; ++k) grey[54 + 4 * i + k] = static_cast<uint8_t>(i);
    }
    WriteFile(Path("grey.bmp"), grey);
    Bytes colour = grey;
    colour[54 + 4 * 7] = 200;
    WriteFile(Path("colour.bmp"), colour);
    const auto greyRun = RunTool({"-q", Path("grey.bmp"), Path("g.bmp"), "150"});
    EXPECT_EQ(greyRun.err, "");
    const auto colourRun = RunTool({"-l", "150", "-o", Path("out"), Path("colour.bmp")});
    EXPECT_EQ(colourRun.status, 0);
    EXPECT_TRUE(
        Has(colourRun.err, "'" + Path("colour.bmp") + "': warning: the colour table is not grey"))
        << colourRun.err;
}

// Every option works in every mode, short options combine, and -v/-q say
// more or less.
TEST_F(Tool, OptionsWorkInEveryMode) {
    const Bytes in = Bitmap("in.bmp", 41);
    const auto quiet = RunTool({"-qf", Path("in.bmp"), Path("o.bmp"), "150"});
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.out + quiet.err, "");
    const auto levelOption = RunTool({"-l150", Path("in.bmp"), Path("o2.bmp")});
    EXPECT_EQ(levelOption.status, 0) << levelOption.err;
    EXPECT_EQ(ReadFile(Path("o2.bmp")), Predict(in, 150).file);
    const auto verbose = RunTool({"-vj1", "-o", Path("out"), "150", Path("in.bmp")});
    EXPECT_EQ(verbose.status, 0) << verbose.err;
    EXPECT_EQ(verbose.out, "'" + Path("in.bmp") + "': Success: Contrast adjustment applied.\n");
    const auto silent = RunTool({"-fqo", Path("out"), "--level=150", Path("in.bmp")});
    EXPECT_EQ(silent.status, 0);
    EXPECT_EQ(silent.out + silent.err, "");
}

}  // namespace

// Files from several folders, or from a list, keep their paths under the
// output folder, so different inputs never meet at one name; nothing in the
// output folder is taken for an input; no output folder is made when
// nothing is converted.
TEST_F(Tool, BatchNamesNeverMeetAndOutputFoldersComeOnlyWithResults) {
    const Bytes a = Bitmap("one/x.bmp", 70);
    const Bytes b = Bitmap("two/x.bmp", 71);
    const auto roots = RunTool({"-rq", "-o", Path("out"), "150", Path("one"), Path("two")});
    EXPECT_EQ(roots.status, 0) << roots.err;
    const std::string kept = Path("out") + "/" + fs::path(Path("")).relative_path().string();
    EXPECT_EQ(ReadFile(kept + "one/x.bmp"), Predict(a, 150).file);
    EXPECT_EQ(ReadFile(kept + "two/x.bmp"), Predict(b, 150).file);

    // A list naming the output folder's own files: they are not inputs.
    const std::string list = Path("one/x.bmp") + "\n" + kept + "one/x.bmp\n";
    WriteFile(Path("list"), Bytes(list.begin(), list.end()));
    const auto listed =
        RunTool({"-v", "-f", "-o", Path("out"), "--files-from", Path("list"), "150"});
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_TRUE(Has(listed.out, "skipped, it is inside the output folder")) << listed.out;
    EXPECT_TRUE(Has(listed.err, "1 converted, 0 failed")) << listed.err;

    fs::create_directories(Path("broken"));
    WriteFile(Path("broken/bad.bmp"), Bytes{'B', 'M', 1});
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-o", Path("none1"), "--files-from", Path("no-list"), "150"},
          std::vector<std::string>{"-r", "-o", Path("none2"), "150", Path("broken")}}) {
        EXPECT_EQ(RunTool(args).status, 1);
    }
    EXPECT_FALSE(fs::exists(Path("none1")));
    EXPECT_FALSE(fs::exists(Path("none2")));
}

// What the tool adds to the library's refusals and warnings says what is
// true of the file: the 2 GiB pixel-data limit where that is the cause, and
// no colour shift where the curve moves no index.
TEST_F(Tool, HintsAndWarningsSayWhatIsTrue) {
    Bytes big = bmptest::BuildBmp(bmptest::BmpLayout{});
    bmptest::PutLE(big, 18, 4, 30000);
    bmptest::PutLE(big, 22, 4, 25000);
    WriteFile(Path("big.bmp"), big);
    bmptest::BmpLayout colour;
    colour.bitCount = 8;
    colour.seed = 9;
    Bytes eight = bmptest::BuildBmp(colour);
    eight[54] = 1;  // the first entry is not grey
    WriteFile(Path("eight.bmp"), eight);
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string has, hasNot;
    } cases[] = {
        {{Path("big.bmp"), Path("o.bmp"), "150"}, 1, "more than 2 GiB of pixel data", ""},
        {{"-n", "-o", Path("o"), "150", Path("big.bmp")}, 1, "more than 2 GiB of pixel data", ""},
        {{Path("eight.bmp"), Path("e.bmp"), "150"}, 0, "colours will shift", ""},
        {{Path("eight.bmp"), Path("e.bmp"), "100"}, 0, "", "colours will shift"},
    };
    for (const Case& c : cases) {
        const auto run = RunTool(c.args);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_TRUE(c.has.empty() || Has(run.err, c.has)) << run.err;
        EXPECT_TRUE(c.hasNot.empty() || !Has(run.err, c.hasNot)) << run.err;
    }
}
