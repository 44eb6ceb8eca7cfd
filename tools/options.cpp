#include "options.h"

#include <charconv>
#include <string_view>

#include "engine.h"

namespace bmpcontrast_cli {
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

bool LooksLikeOption(std::string_view arg) {
    if (arg.size() < 2 || arg[0] != '-') return false;
    if (arg == "-0") return true;  // --null, not a number
    return !(arg[1] >= '0' && arg[1] <= '9');
}

Options UsageError(std::string reason) {
    Options o;
    o.mode = Options::Mode::Usage;
    o.error = std::move(reason);
    return o;
}

std::string BadLevel(std::string_view v) {
    return "LEVEL must be a positive integer in the 32-bit range, not '" + std::string(v) + "'";
}

// Checks the batch options against each other once all are known.
Options FinishBatch(Options o, bool haveLevel) {
    if (o.inPlace && !o.outDir.empty())
        return UsageError("--in-place and --out-dir exclude each other");
    if (!o.inPlace && o.outDir.empty())
        return UsageError("batch mode needs --out-dir DIR or --in-place");
    if (o.inPlace && (o.skipExisting || o.update))
        return UsageError("--skip-existing and --update need --out-dir");
    if (!haveLevel) {
        if (o.files.empty()) return UsageError("batch mode needs --level N");
        if (!ParseLevel(o.files.front(), o.level)) return UsageError(BadLevel(o.files.front()));
        o.files.erase(o.files.begin());
    }
    if (o.files.empty() && o.filesFrom.empty()) return UsageError("no input files given");
    for (const auto& f : o.files) {
        if (f == "-") return UsageError("'-' (standard input) cannot be used in batch mode");
    }
    o.mode = Options::Mode::Batch;
    return o;
}

enum class Kind { Flag, Value };
struct OptionDef {
    char id;         // the short name, or a capital for a long-only option
    char shortName;  // 0: long only
    std::string_view longName;
    Kind kind;
};
constexpr OptionDef kOptionDefs[] = {
    {'h', 'h', "--help", Kind::Flag},          {'V', 'V', "--version", Kind::Flag},
    {'l', 'l', "--level", Kind::Value},        {'o', 'o', "--out-dir", Kind::Value},
    {'j', 'j', "--jobs", Kind::Value},         {'f', 'f', "--force", Kind::Flag},
    {'i', 'i', "--in-place", Kind::Flag},      {'q', 'q', "--quiet", Kind::Flag},
    {'v', 'v', "--verbose", Kind::Flag},       {'r', 'r', "--recursive", Kind::Flag},
    {'n', 'n', "--dry-run", Kind::Flag},       {'p', 'p', "--preserve", Kind::Flag},
    {'0', '0', "--null", Kind::Flag},          {'F', 0, "--files-from", Kind::Value},
    {'S', 0, "--strict", Kind::Flag},          {'M', 0, "--max-pixels", Kind::Value},
    {'E', 0, "--skip-existing", Kind::Flag},   {'U', 0, "--update", Kind::Flag},
    {'L', 0, "--follow-symlinks", Kind::Flag}, {'Z', 0, "--list-options", Kind::Flag},
};

}  // namespace

Options ParseOptions(int argc, const char* const* argv) {
    Options o;
    bool batch = false;
    bool needsBatch = false;  // -n, -j: meaningless for one file
    bool haveLevel = false;
    bool optionsEnded = false;
    std::string problem;
    // Applies one option; `v` is its value for options that take one.
    auto apply = [&](const OptionDef& def, std::string_view v) -> bool {
        const std::string shown(def.longName);
        switch (def.id) {
            case 'h':
                o.mode = Options::Mode::Help;
                return true;
            case 'V':
                o.mode = Options::Mode::Version;
                return true;
            case 'l':
                if (!ParseLevel(v, o.level)) return problem = BadLevel(v), false;
                haveLevel = true;
                return true;
            case 'o':
                if (v.empty()) return problem = shown + " needs a directory", false;
                if (v == "-") return problem = shown + " needs a directory, not '-'", false;
                o.outDir = v;
                return batch = true;
            case 'j':
                if (!ParseInteger(v, o.jobs) || o.jobs == 0) {
                    return problem =
                               shown + " must be a positive integer, not '" + std::string(v) + "'",
                           false;
                }
                return needsBatch = true;
            case 'f':
                return o.force = true;
            case 'i':
                return o.inPlace = batch = true;
            case 'q':
                return o.quiet = true;
            case 'v':
                return o.verbose = true;
            case 'r':
                return o.recursive = batch = true;
            case 'n':
                return o.dryRun = needsBatch = true;
            case 'p':
                return o.preserve = true;
            case '0':
                return o.nulSeparated = true;
            case 'S':
                return o.strict = true;
            case 'E':
                return o.skipExisting = true;
            case 'U':
                return o.update = true;
            case 'L':
                return o.followSymlinks = true;
            case 'Z':
                o.mode = Options::Mode::ListOptions;
                return true;
            case 'M':
                if (!ParseInteger(v, o.maxPixels) || o.maxPixels == 0) {
                    return problem =
                               shown + " must be a positive integer, not '" + std::string(v) + "'",
                           false;
                }
                return true;
            default:  // 'F': --files-from
                if (v.empty()) return problem = shown + " needs a file name", false;
                o.filesFrom = v;
                return batch = true;
        }
    };
    for (int i = 1; i < argc && o.mode == Options::Mode::Usage; ++i) {
        const std::string_view arg = argv[i];
        if (optionsEnded || !LooksLikeOption(arg)) {
            o.files.emplace_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        const std::string unknown = "unknown option '" + std::string(arg) + "'";
        if (arg.starts_with("--")) {
            const auto eq = arg.find('=');
            const std::string_view name = arg.substr(0, eq);
            const OptionDef* def = nullptr;
            for (const OptionDef& s : kOptionDefs) {
                if (s.longName == name) def = &s;
            }
            if (def == nullptr) return UsageError(unknown);
            std::string_view v;
            if (def->kind == Kind::Flag) {
                if (eq != std::string_view::npos) return UsageError(unknown);
            } else if (eq != std::string_view::npos) {
                v = arg.substr(eq + 1);
            } else if (i + 1 < argc) {
                v = argv[++i];
            } else {
                return UsageError(std::string(name) + " needs a value");
            }
            if (!apply(*def, v)) return UsageError(problem);
            continue;
        }
        // A cluster of short options: flags, then at most one that takes
        // the rest of the cluster or the next argument as its value.
        for (size_t k = 1; k < arg.size(); ++k) {
            const OptionDef* def = nullptr;
            for (const OptionDef& s : kOptionDefs) {
                if (s.shortName == arg[k]) def = &s;
            }
            if (def == nullptr) return UsageError(unknown);
            std::string_view v;
            if (def->kind == Kind::Value) {
                if (k + 1 < arg.size()) {
                    v = arg.substr(k + 1);
                } else if (i + 1 < argc) {
                    v = argv[++i];
                } else {
                    return UsageError(std::string(def->longName) + " needs a value");
                }
                k = arg.size();
            }
            if (!apply(*def, v)) return UsageError(problem);
            if (o.mode != Options::Mode::Usage) break;
        }
    }
    if (o.mode != Options::Mode::Usage) return o;  // --help, --version
    for (const std::string& f : o.files) {
        if (f.empty())
            return UsageError("an empty name names no file (use - for standard input or output)");
    }
    if (batch) return FinishBatch(std::move(o), haveLevel);
    if (needsBatch) return UsageError("--dry-run and --jobs need --out-dir DIR or --in-place");

    if (o.files.empty() && !haveLevel) return o;  // bare call: usage without a reason
    if (o.files.size() != (haveLevel ? 2u : 3u)) return UsageError("expected INPUT OUTPUT LEVEL");
    if (!haveLevel) {
        if (!ParseLevel(o.files[2], o.level)) return UsageError(BadLevel(o.files[2]));
        o.files.pop_back();
    }
    o.mode = Options::Mode::Single;
    return o;
}

void ListOptions(std::FILE* to) {
    for (const OptionDef& def : kOptionDefs) {
        if (def.longName == "--list-options") continue;
        const char shortForm[] = {'-', def.shortName, '\0'};
        std::fprintf(to, "%s %.*s\n", def.shortName != 0 ? shortForm : "-",
                     static_cast<int>(def.longName.size()), def.longName.data());
    }
}

}  // namespace bmpcontrast_cli
