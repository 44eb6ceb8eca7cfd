#include "options.h"

#include <algorithm>
#include <charconv>

#include "engine.h"

namespace bmpcontrast_cli {

struct ParseState {
    Options o;
    bool haveLevel = false;
};

namespace {

template <typename T>
bool ParseInteger(std::string_view text, T& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return !text.empty() && ec == std::errc() && ptr == end;
}

// Whether a level is accepted is the engine's to say.
bool ParseLevel(std::string_view text, int32_t& level) {
    bmpc::Description d;
    return ParseInteger(text, level) && bmpc::DescribeLevel(level, d);
}

std::string BadLevel(std::string_view v) {
    return "LEVEL must be a positive integer in the 32-bit range, not '" + std::string(v) + "'";
}

template <typename T>
std::string Positive(std::string_view name, std::string_view v, T& value) {
    if (ParseInteger(v, value) && value != 0) return "";
    return std::string(name) + " must be a positive integer, not '" + std::string(v) + "'";
}

std::string Folder(std::string_view v, std::string& outDir) {
    if (v.empty()) return "--out-dir needs a directory";
    if (v == "-") return "--out-dir needs a directory, not '-'";
    outDir = v;
    return "";
}

std::string List(std::string_view v, std::string& filesFrom) {
    if (v.empty()) return "--files-from needs a file name";
    filesFrom = v;
    return "";
}

std::string Set(bool& flag) {
    flag = true;
    return "";
}

std::string Show(ParseState& s, Options::Mode mode) {
    s.o.mode = mode;
    return "";
}

// The order is --help's. Each row's text is wrapped by hand to --help's
// columns (see help.cpp).
constexpr OptionSpec kOptions[] = {
    {'l', "--level", "N", Forms::Any, "contrast level in percent, a positive 32-bit integer",
     [](ParseState& s, std::string_view v) {
         s.haveLevel = true;
         return ParseLevel(v, s.o.level) ? std::string() : BadLevel(v);
     }},
    {0, "--colour", "", Forms::Any,
     "adjust the colours a viewer sees and keep alpha:\n"
     "the colour table of 1-, 4- and 8-bit files (RLE\n"
     "too), blue, green and red of 24- and 32-bit pixels\n"
     "(bit fields with whole-byte masks too)",
     [](ParseState& s, std::string_view) { return Set(s.o.colour); }},
    {'o', "--out-dir", "DIR", Forms::Selects, "write the results into DIR (created if missing)",
     [](ParseState& s, std::string_view v) { return Folder(v, s.o.outDir); }},
    {'i', "--in-place", "", Forms::Selects, "replace each FILE with its result",
     [](ParseState& s, std::string_view) { return Set(s.o.inPlace); }},
    {'r', "--recursive", "", Forms::Selects,
     "convert the .bmp files under each folder FILE,\n"
     "keeping the folder structure under DIR (never\n"
     "entered itself; with several folders, each\n"
     "keeps its own path); symbolic links met are skipped",
     [](ParseState& s, std::string_view) { return Set(s.o.recursive); }},
    {0, "--follow-symlinks", "", Forms::Batch, "with -r, follow symbolic links met in folders",
     [](ParseState& s, std::string_view) { return Set(s.o.followSymlinks); }},
    {0, "--files-from", "LIST", Forms::Selects,
     "read more FILE names from LIST, one a line\n"
     "('-': standard input); each keeps its path under DIR",
     [](ParseState& s, std::string_view v) { return List(v, s.o.filesFrom); }},
    {'0', "--null", "", Forms::Batch, "names in LIST end with NUL (find -print0)",
     [](ParseState& s, std::string_view) { return Set(s.o.nulSeparated); }},
    {'n', "--dry-run", "", Forms::Batch,
     "say what would be written, overwritten or refused;\n"
     "write nothing",
     [](ParseState& s, std::string_view) { return Set(s.o.dryRun); }},
    {'f', "--force", "", Forms::Any,
     "overwrite existing files in DIR (without it an\n"
     "existing output is left alone and counts as failed),\n"
     "and read-only outputs in every form; they stay\n"
     "read-only",
     [](ParseState& s, std::string_view) { return Set(s.o.force); }},
    {0, "--skip-existing", "", Forms::Any, "leave existing outputs alone, counted as skipped",
     [](ParseState& s, std::string_view) { return Set(s.o.skipExisting); }},
    {0, "--update", "", Forms::Any,
     "convert only where the output is missing or older\n"
     "than its input; the rest counts as skipped",
     [](ParseState& s, std::string_view) { return Set(s.o.update); }},
    {'p', "--preserve", "", Forms::Any,
     "keep the input's modification time (results are\n"
     "never readable by more users than their input)",
     [](ParseState& s, std::string_view) { return Set(s.o.preserve); }},
    {0, "--strict", "", Forms::Any,
     "refuse a truncated input, from its header and size,\n"
     "before converting; nothing is written",
     [](ParseState& s, std::string_view) { return Set(s.o.strict); }},
    {0, "--max-pixels", "N", Forms::Any, "refuse images of more than N pixels the same way",
     [](ParseState& s, std::string_view v) { return Positive("--max-pixels", v, s.o.maxPixels); }},
    {'j', "--jobs", "N", Forms::Batch, "convert N files at a time (default: one per processor)",
     [](ParseState& s, std::string_view v) { return Positive("--jobs", v, s.o.jobs); }},
    {'q', "--quiet", "", Forms::Any,
     "no progress line, success lines or summary; errors\n"
     "and warnings are still reported",
     [](ParseState& s, std::string_view) { return Set(s.o.quiet); }},
    {'v', "--verbose", "", Forms::Any, "a line for every file converted or skipped",
     [](ParseState& s, std::string_view) { return Set(s.o.verbose); }},
    {'h', "--help", "", Forms::Any, "show this help and exit",
     [](ParseState& s, std::string_view) { return Show(s, Options::Mode::Help); }},
    {'V', "--version", "", Forms::Any, "show the version and exit",
     [](ParseState& s, std::string_view) { return Show(s, Options::Mode::Version); }},
};

bool LooksLikeOption(std::string_view arg) {
    if (arg.size() < 2 || arg[0] != '-') return false;
    if (arg == "-0") return true;  // --null, not a number
    return !(arg[1] >= '0' && arg[1] <= '9');
}

const OptionSpec* FindLong(std::string_view name) {
    for (const OptionSpec& opt : kOptions) {
        if (opt.longName == name) return &opt;
    }
    return nullptr;
}

const OptionSpec* FindShort(char name) {
    for (const OptionSpec& opt : kOptions) {
        if (opt.shortName != 0 && opt.shortName == name) return &opt;
    }
    return nullptr;
}

// The arguments and where the parser stands in them.
class Words {
  public:
    Words(int argc, const char* const* argv) : argc_(argc), argv_(argv) {}
    bool More() const { return next_ < argc_; }
    std::string_view Take() { return argv_[next_++]; }

  private:
    int argc_;
    const char* const* argv_;
    int next_ = 1;
};

// What the command line asked for besides the options' own values.
struct Usage {
    bool batch = false;                  // an option that Selects batches was given
    std::vector<std::string> batchOnly;  // batch-only options as typed, each once
    bool optionsEnded = false;           // after "--"
};

// One option, named as typed: its value taken, its form noted.
std::string Apply(const OptionSpec& opt, std::string typed, std::string_view value, ParseState& s,
                  Usage& u) {
    if (std::string problem = opt.apply(s, value); !problem.empty()) return problem;
    if (opt.forms == Forms::Selects) u.batch = true;
    if (opt.forms == Forms::Batch &&
        std::find(u.batchOnly.begin(), u.batchOnly.end(), typed) == u.batchOnly.end()) {
        u.batchOnly.push_back(std::move(typed));
    }
    return "";
}

// "--name", "--name=value" or "--name value".
std::string LongOption(std::string_view arg, Words& words, ParseState& s, Usage& u) {
    const auto eq = arg.find('=');
    const std::string_view name = arg.substr(0, eq);
    const OptionSpec* opt = FindLong(name);
    const bool flag = opt != nullptr && opt->value.empty();
    if (opt == nullptr || (flag && eq != std::string_view::npos)) {
        return "unknown option '" + std::string(arg) + "'";
    }
    std::string_view value;
    if (eq != std::string_view::npos) {
        value = arg.substr(eq + 1);
    } else if (!flag) {
        if (!words.More()) return std::string(name) + " needs a value";
        value = words.Take();
    }
    return Apply(*opt, std::string(name), value, s, u);
}

// A cluster of short options: flags, then at most one that takes the rest
// of the cluster or the next argument as its value.
std::string ShortOptions(std::string_view arg, Words& words, ParseState& s, Usage& u) {
    for (size_t k = 1; k < arg.size() && s.o.mode == Options::Mode::Usage; ++k) {
        const OptionSpec* opt = FindShort(arg[k]);
        if (opt == nullptr) return "unknown option '" + std::string(arg) + "'";
        std::string_view value;
        if (!opt->value.empty()) {
            if (k + 1 < arg.size()) {
                value = arg.substr(k + 1);
            } else if (words.More()) {
                value = words.Take();
            } else {
                return std::string(opt->longName) + " needs a value";
            }
            k = arg.size();
        }
        if (std::string problem = Apply(*opt, {'-', opt->shortName}, value, s, u);
            !problem.empty()) {
            return problem;
        }
    }
    return "";
}

Options UsageError(std::string reason) {
    Options o;
    o.error = std::move(reason);
    return o;
}

// "-n", "-n and -j", "-n, -j and -0".
std::string Listed(const std::vector<std::string>& names) {
    std::string text;
    for (size_t k = 0; k < names.size(); ++k) {
        if (k > 0) text += k + 1 == names.size() ? " and " : ", ";
        text += names[k];
    }
    return text;
}

// Checks the batch options against each other once all are known.
Options FinishBatch(ParseState s) {
    Options& o = s.o;
    if (o.inPlace && !o.outDir.empty())
        return UsageError("--in-place and --out-dir exclude each other");
    if (!o.inPlace && o.outDir.empty())
        return UsageError("batch mode needs --out-dir DIR or --in-place");
    if (o.inPlace && (o.skipExisting || o.update))
        return UsageError("--skip-existing and --update need --out-dir");
    if (!s.haveLevel) {
        if (o.files.empty()) return UsageError("batch mode needs --level N");
        if (!ParseLevel(o.files.front(), o.level)) return UsageError(BadLevel(o.files.front()));
        o.files.erase(o.files.begin());
    }
    if (o.files.empty() && o.filesFrom.empty()) return UsageError("no input files given");
    for (const auto& f : o.files) {
        if (f == "-") return UsageError("'-' (standard input) cannot be used in batch mode");
    }
    o.mode = Options::Mode::Batch;
    return std::move(o);
}

Options FinishSingle(ParseState s) {
    Options& o = s.o;
    if (o.files.empty() && !s.haveLevel) return std::move(o);  // bare call: usage, no reason
    if (o.files.size() != (s.haveLevel ? 2u : 3u)) return UsageError("expected INPUT OUTPUT LEVEL");
    if (!s.haveLevel) {
        // The level first, as in a batch, is not taken: without --out-dir
        // or --in-place, `150 a.bmp b.bmp` could mean a batch that forgot
        // its destination, and reading it as one file would replace b.bmp.
        int32_t first = 0;
        if (!ParseLevel(o.files[2], o.level) && ParseInteger(o.files[0], first)) {
            return UsageError(
                "LEVEL comes last in the single form (INPUT OUTPUT LEVEL, or --level " +
                o.files[0] + " anywhere); a batch needs --out-dir DIR or --in-place");
        }
        if (!ParseLevel(o.files[2], o.level)) return UsageError(BadLevel(o.files[2]));
        o.files.pop_back();
    }
    o.mode = Options::Mode::Single;
    return std::move(o);
}

}  // namespace

std::span<const OptionSpec> OptionTable() { return kOptions; }

Options ParseOptions(int argc, const char* const* argv) {
    ParseState s;
    Usage u;
    Words words(argc, argv);
    while (words.More() && s.o.mode == Options::Mode::Usage) {
        const std::string_view arg = words.Take();
        std::string problem;
        if (u.optionsEnded || !LooksLikeOption(arg)) {
            s.o.files.emplace_back(arg);
        } else if (arg == "--") {
            u.optionsEnded = true;
        } else if (arg.starts_with("--")) {
            problem = LongOption(arg, words, s, u);
        } else {
            problem = ShortOptions(arg, words, s, u);
        }
        if (!problem.empty()) return UsageError(std::move(problem));
    }
    if (s.o.mode != Options::Mode::Usage) return std::move(s.o);  // --help, --version
    for (const std::string& f : s.o.files) {
        if (f.empty())
            return UsageError("an empty name names no file (use - for standard input or output)");
    }
    if (u.batch) return FinishBatch(std::move(s));
    if (!u.batchOnly.empty()) {
        return UsageError(Listed(u.batchOnly) + (u.batchOnly.size() == 1 ? " needs" : " need") +
                          " --out-dir DIR or --in-place");
    }
    return FinishSingle(std::move(s));
}

}  // namespace bmpcontrast_cli
