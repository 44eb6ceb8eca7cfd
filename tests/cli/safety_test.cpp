// What the tool must never do to files: take its own results for inputs,
// follow links it was not asked to, or lose an original when a write fails;
// and what it does with outputs that are already there.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "bmp_builder.h"
#include "run_tool.h"
#include "tool_fixture.h"

namespace {

using bmptest::Bytes;
using bmptest::Predict;
using bmptest::ReadFile;
using tooltest::Has;
using tooltest::RunTool;
using tooltest::Tool;
namespace fs = std::filesystem;

// Run twice, -r into a folder inside the tree does not convert the first
// run's results again; with --skip-existing the second run is a success.
TEST_F(Tool, RecursiveNeverEntersItsOutputFolder) {
    const Bytes a = Bitmap("nest/a.bmp", 70);
    const auto first = RunTool({"-r", "-o", Path("nest/bright"), "150", Path("nest")});
    EXPECT_EQ(first.status, 0) << first.err;
    const auto again =
        RunTool({"-r", "--skip-existing", "-o", Path("nest/bright"), "150", Path("nest")});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(again.err, "0 converted, 1 skipped, 0 failed\n");
    EXPECT_FALSE(fs::exists(Path("nest/bright/bright")));
    EXPECT_EQ(ReadFile(Path("nest/bright/a.bmp")), Predict(a, 150).file);
}

// Links met while walking are left alone (named with -v) unless followed;
// followed, a link back up the tree does not loop.
TEST_F(Tool, RecursiveFollowsSymlinksOnlyWhenAsked) {
    const Bytes real = Bitmap("elsewhere/real.bmp", 71);
    const Bytes own = Bitmap("tree/own.bmp", 72);
    fs::create_symlink(Path("elsewhere/real.bmp"), Path("tree/file-link.bmp"));
    fs::create_symlink(Path("elsewhere"), Path("tree/dir-link"));
    fs::create_symlink(Path("tree"), Path("tree/loop"));
    struct Case {
        std::vector<std::string> options;
        std::vector<std::string> written;  // under out/
    } cases[] = {
        {{}, {"own.bmp"}},
        {{"--follow-symlinks"}, {"dir-link", "file-link.bmp", "own.bmp"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options.empty() ? "not followed" : "followed");
        fs::remove_all(Path("out"));
        std::vector<std::string> args = {"-rv", "-o", Path("out"), "-l", "150"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back(Path("tree"));
        const auto run = RunTool(args);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(Listing("out"), c.written);
        EXPECT_EQ(ReadFile(Path("out/own.bmp")), Predict(own, 150).file);
        const bool followed = !c.options.empty();
        for (const char* link : {"tree/file-link.bmp", "tree/dir-link", "tree/loop"}) {
            EXPECT_EQ(Has(run.out, "'" + Path(link) + "': skipped, a symbolic link"), !followed)
                << run.out;
        }
        if (followed) {
            EXPECT_EQ(ReadFile(Path("out/file-link.bmp")), Predict(real, 150).file);
            EXPECT_EQ(ReadFile(Path("out/dir-link/real.bmp")), Predict(real, 150).file);
        }
    }
    // Named on the command line, a link is followed as always.
    const auto named = RunTool({"-l", "150", "-o", Path("named"), Path("tree/file-link.bmp")});
    EXPECT_EQ(named.status, 0) << named.err;
    EXPECT_EQ(ReadFile(Path("named/file-link.bmp")), Predict(real, 150).file);
}

// In place, the result is a new file renamed over the name, or, where the
// file has other names, copied over it once complete, so that its hard
// links stay one file. A write that fails partway (a file-size
// limit here, as a full disk would) leaves the original as it was and no
// scratch file, and counts as failed.
TEST_F(Tool, InPlaceGoesThroughAScratchFileAndSurvivesAFailedWrite) {
    bmptest::BmpLayout layout;
    layout.width = 200;
    layout.height = 150;
    const Bytes input = bmptest::BuildBmp(layout);
    struct Case {
        uint64_t limit;  // bytes a file may grow to; 0: none
        int status;
        std::string says;
    } cases[] = {
        {0, 0, "1 converted, 0 failed\n"},
        {16384, 1, "': File too large\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.limit);
        fs::remove_all(Path("d"));
        fs::create_directories(Path("d"));
        bmptest::WriteFile(Path("d/x.bmp"), input);
        fs::create_hard_link(Path("d/x.bmp"), Path("d/link.bmp"));
        const auto run = RunTool({"-i", "-l", "150", Path("d/x.bmp")}, {"", "", 0, c.limit});
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_TRUE(Has(run.err, c.says)) << run.err;
        EXPECT_EQ(ReadFile(Path("d/x.bmp")), c.status == 0 ? Predict(input, 150).file : input);
        EXPECT_EQ(ReadFile(Path("d/link.bmp")), ReadFile(Path("d/x.bmp")));
        EXPECT_EQ(Listing("d"), (std::vector<std::string>{"link.bmp", "x.bmp"}));
    }
}

// One file: an output the user may not write is not replaced behind its back.
TEST_F(Tool, ReadOnlyOutputIsLeftAlone) {
    if (geteuid() == 0) GTEST_SKIP() << "root may write any file";
    Bitmap("in.bmp", 75);
    const Bytes kept{'k', 'e', 'e', 'p'};
    bmptest::WriteFile(Path("out.bmp"), kept);
    chmod(Path("out.bmp").c_str(), 0444);
    const auto run = RunTool({Path("in.bmp"), Path("out.bmp"), "150"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "bmpcontrast: cannot write output '" + Path("out.bmp") + "': Permission denied\n");
    EXPECT_EQ(ReadFile(Path("out.bmp")), kept);
}

// Where the output exists: --skip-existing leaves it; --update only where it
// is as new as its input; skipped files are counted apart and are no failure.
TEST_F(Tool, SkipExistingAndUpdate) {
    const Bytes a = Bitmap("in/a.bmp", 73);
    const Bytes b = Bitmap("in/b.bmp", 74);
    fs::create_directories(Path("out"));
    const Bytes stale{'o', 'l', 'd'};
    bmptest::WriteFile(Path("out/a.bmp"), stale);
    bmptest::WriteFile(Path("out/b.bmp"), stale);
    const auto past = fs::last_write_time(Path("in/a.bmp")) - std::chrono::hours(1);
    fs::last_write_time(Path("out/a.bmp"), past);  // older than its input
    struct Case {
        std::string option;
        std::string summary;
        bool aConverted, bConverted;
    } cases[] = {
        {"--skip-existing", "0 converted, 2 skipped, 0 failed\n", false, false},
        {"--update", "1 converted, 1 skipped, 0 failed\n", true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.option);
        const auto run =
            RunTool({c.option, "-l", "150", "-o", Path("out"), Path("in/a.bmp"), Path("in/b.bmp")});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, c.summary);
        EXPECT_EQ(ReadFile(Path("out/a.bmp")), c.aConverted ? Predict(a, 150).file : stale);
        EXPECT_EQ(ReadFile(Path("out/b.bmp")), c.bConverted ? Predict(b, 150).file : stale);
    }
    const auto dry = RunTool(
        {"-n", "--update", "-l", "150", "-o", Path("out"), Path("in/a.bmp"), Path("in/b.bmp")});
    EXPECT_EQ(dry.status, 0);
    EXPECT_EQ(dry.err, "dry run: 0 would be converted, 2 would be skipped, 0 would fail\n");
}

// An 8-bit file whose colour table is short: where the curve sends an index
// past its end, the tool says so, naming the file and the table's size.
TEST_F(Tool, IndicesPastAShortColourTableAreWarnedAbout) {
    bmptest::BmpLayout layout;
    layout.width = 64;
    layout.height = 16;
    layout.bitCount = 8;
    layout.paletteEntries = 252;
    Bytes input = bmptest::BuildBmp(layout);
    // Every index inside the table, up to 249.
    const size_t pixels = 14 + 40 + 4 * 252;
    for (size_t k = pixels; k < input.size(); ++k) input[k] = static_cast<uint8_t>(k % 250);
    bmptest::WriteFile(Path("short.bmp"), input);
    const std::string warning = "bmpcontrast: '" + Path("short.bmp") +
                                "': warning: the curve sends indices past the colour table's 252 "
                                "entries; readers may refuse the output\n";
    for (const char* level : {"200", "100"}) {
        SCOPED_TRACE(level);
        const auto run = RunTool({"-q", Path("short.bmp"), Path("o.bmp"), level});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(Has(run.err, warning), std::string(level) == "200") << run.err;
    }
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// An option as --help lists it: "  -l, --level N" or "      --strict".
struct HelpOption {
    std::string shortName;  // "" for a long-only option
    std::string longName;
    bool takesValue = false;
};

std::vector<HelpOption> HelpOptions(const std::string& help) {
    static const std::regex row(R"(^  (?:(-[A-Za-z0-9]), |    )(--[a-z][a-z-]*)( [A-Z]+)?(?: |$))");
    std::vector<HelpOption> found;
    std::istringstream lines(help);
    for (std::string line; std::getline(lines, line);) {
        if (std::smatch m; std::regex_search(line, m, row)) {
            found.push_back({m[1].str(), m[2].str(), m[3].matched});
        }
    }
    return found;
}

// roff's "\-" as '-'.
std::string Unroff(std::string text) {
    for (size_t at; (at = text.find("\\-")) != std::string::npos;) text.replace(at, 2, "-");
    return text;
}

// Every "--word" in `text`, once each.
std::set<std::string> LongNames(const std::string& text) {
    static const std::regex word(R"((?:^|[^\w-])(--[a-z][a-z-]+))");
    std::set<std::string> names;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), word);
         it != std::sregex_iterator(); ++it) {
        names.insert((*it)[1].str());
    }
    return names;
}

// --help lists the options from the table the parser reads; the manual page
// and both completions are written by hand and must offer each option, as
// --help shows it (short form, value), and no option the tool lacks.
TEST_F(Tool, EveryOptionIsDocumentedEverywhere) {
    const auto run = RunTool({"--help"});
    ASSERT_EQ(run.status, 0);
    const std::vector<HelpOption> options = HelpOptions(run.out);
    const std::string source = BMPCONTRAST_SOURCE_DIR;
    const std::string man = Slurp(source + "/tools/man/bmpcontrast.1");
    const std::string bash = Slurp(source + "/tools/completion/bmpcontrast.bash");
    const std::string zsh = Slurp(source + "/tools/completion/_bmpcontrast");
    ASSERT_FALSE(man.empty() || bash.empty() || zsh.empty());
    // The manual page writes every '-' as "\-"; its options are the tags
    // (the lines after .TP) of its OPTIONS section.
    auto roff = [](const std::string& option) {
        std::string escaped;
        for (const char ch : option) escaped += ch == '-' ? std::string("\\-") : std::string(1, ch);
        return escaped;
    };
    const size_t from = man.find(".SH OPTIONS"), to = man.find(".SH", from + 1);
    ASSERT_NE(from, std::string::npos);
    std::istringstream section(man.substr(from, to - from));
    std::string manTags;
    for (std::string line, previous; std::getline(section, line); previous = line) {
        if (previous == ".TP") manTags += line + "\n";
    }
    // Where bash completes an option's value: the case before the word list.
    const std::string bashValues = bash.substr(0, bash.find("compgen -W"));
    std::set<std::string> known;
    for (const HelpOption& o : options) {
        SCOPED_TRACE(o.longName);
        known.insert(o.longName);
        const std::string tag = "\\fB" + roff(o.longName) + "\\fR";
        EXPECT_TRUE(Has(manTags, tag + (o.takesValue ? " \\fI" : "\n")));
        EXPECT_TRUE(Has(bash, o.longName));
        EXPECT_TRUE(Has(zsh, o.longName));
        EXPECT_EQ(Has(bashValues, o.longName + ")") || Has(bashValues, o.longName + " |"),
                  o.takesValue);
        EXPECT_EQ(Has(zsh, o.longName + "=") || Has(zsh, o.longName + "+"), o.takesValue);
        if (o.shortName.empty()) continue;
        EXPECT_TRUE(Has(manTags, "\\fB" + roff(o.shortName) + "\\fR, " + tag));
        EXPECT_TRUE(Has(zsh, "{" + o.shortName + (o.takesValue ? "+," : ",") + o.longName));
        EXPECT_EQ(Has(bashValues, o.shortName + " |"), o.takesValue);
    }
    EXPECT_GE(options.size(), 19u);
    // Nothing offered that the tool does not take.
    for (const auto& [where, text] :
         {std::pair{"manual page", Unroff(manTags)}, {"bash", bash}, {"zsh", zsh}}) {
        for (const std::string& name : LongNames(text)) {
            EXPECT_TRUE(known.count(name) != 0) << name << " in the " << where;
        }
    }
}

}  // namespace
