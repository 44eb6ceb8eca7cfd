#include "help.h"

#include <algorithm>
#include <string>

#include "bmpcontrast.h"
#include "options.h"

namespace bmpcontrast_cli {
namespace {

// Option names take 23 columns; the text starts in the 25th, and lines
// the text goes on in are indented as far.
constexpr size_t kTextColumn = 24;

std::string Named(const OptionSpec& opt) {
    std::string name(opt.shortName != 0 ? 2 : 6, ' ');
    if (opt.shortName != 0) name.append({'-', opt.shortName, ',', ' '});
    name.append(opt.longName);
    if (!opt.value.empty()) name.append(1, ' ').append(opt.value);
    return name;
}

// --help's list of options, from the table the parser reads.
void PrintOptionRows(std::FILE* to) {
    const std::string indent = '\n' + std::string(kTextColumn, ' ');
    std::string rows, batchOnly;
    for (const OptionSpec& opt : OptionTable()) {
        std::string name = Named(opt);
        name.resize(std::max(name.size() + 1, kTextColumn), ' ');
        if (name.size() > kTextColumn) name.append(indent);
        rows.append(name);
        for (const char c : opt.help) c == '\n' ? rows.append(indent) : rows.append(1, c);
        rows.append(1, '\n');
        if (opt.forms == Forms::Batch) {
            if (!batchOnly.empty()) batchOnly.append(", ");
            if (opt.shortName != 0) {
                batchOnly.append({'-', opt.shortName});
            } else {
                batchOnly.append(opt.longName);
            }
        }
    }
    rows.append("  --                    end of options: every argument after it is a FILE\n");
    rows.append("\nBatches only (with --out-dir or --in-place): ").append(batchOnly).append(".\n");
    std::fputs(rows.c_str(), to);
}

}  // namespace

void PrintUsage(std::FILE* to) {
    std::fputs(
        "usage: bmpcontrast [options] INPUT OUTPUT LEVEL\n"
        "       bmpcontrast [options] (--out-dir DIR | --in-place) --level N FILE...\n"
        "Try 'bmpcontrast --help' for more.\n",
        to);
}

void PrintHelp(std::FILE* to) {
    std::fputs(
        "usage: bmpcontrast [options] INPUT OUTPUT LEVEL\n"
        "       bmpcontrast [options] (--out-dir DIR | --in-place) --level N FILE...\n"
        "\n"
        "Adjusts the contrast of uncompressed 8, 24 and 32-bit BMP files. LEVEL is\n"
        "in percent: 100 leaves pixels unchanged, more raises contrast, 1..99\n"
        "lowers it. Every byte of a pixel is adjusted: the fourth byte of a 32-bit\n"
        "pixel (often alpha) too, and in an 8-bit file the palette index, not the\n"
        "palette (colours of a non-grey palette shift; the tool warns).\n"
        "With --colour the colours a viewer sees are adjusted instead, and alpha\n"
        "is kept: the colour table of 1, 4 and 8-bit files (RLE ones too), blue,\n"
        "green and red of 24 and 32-bit pixels (32-bit bit fields too, where each\n"
        "mask is a whole byte).\n"
        "\n"
        "The first form converts one file (LEVEL may also be given as --level N).\n"
        "INPUT '-' reads the bitmap from standard input; OUTPUT '-' writes it to\n"
        "standard output (never to a terminal), and the library's success line\n"
        "then goes to standard error. OUTPUT is replaced if it exists (a read-only\n"
        "one only with -f); --skip-existing and --update mean here what they mean\n"
        "in a batch. A device or a pipe as OUTPUT is written where it is.\n"
        "\n"
        "The second form converts many files in parallel, each written under its\n"
        "own file name, every line naming its file. Without --level, the first\n"
        "argument is LEVEL. A file that fails does not stop the others; a summary\n"
        "line 'N converted, M failed' ends the run ('N converted, S skipped, M\n"
        "failed' where files were skipped).\n"
        "\n",
        to);
    PrintOptionRows(to);
    std::fputs(
        "\n"
        "Short options combine: -qf is -q -f, -l150 is -l 150.\n"
        "\n"
        "Results are written to a temporary file next to the destination, synced\n"
        "and renamed into place (or copied over a file with other hard links), so\n"
        "a failed conversion never leaves a partial file and --in-place never\n"
        "loses the original; a replaced file keeps its owner and permissions.\n"
        "Temporary files that a killed run left are removed. A file named twice\n"
        "is converted once. Interrupted, the conversions stop, their temporary\n"
        "files are removed, the names of the files not converted are printed on\n"
        "standard output (for --files-from) and the summary follows; a second\n"
        "interrupt stops at once.\n"
        "\n"
        "Exit status:\n"
        "  0    every file was converted (or skipped)\n"
        "  1    at least one file was not converted (the library's line and a line\n"
        "       naming the file say why)\n"
        "  2    usage error: bad option, missing argument, or a LEVEL that is not a\n"
        "       positive integer in the 32-bit range; nothing was opened\n"
        "  130  interrupted (Ctrl-C), after the summary\n",
        to);
}

void PrintVersion(std::FILE* to) { std::fputs("bmpcontrast " BMPCONTRAST_VERSION_STRING "\n", to); }

}  // namespace bmpcontrast_cli
