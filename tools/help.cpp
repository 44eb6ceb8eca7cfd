#include "help.h"

#include "bmpcontrast.h"

namespace bmpcontrast_cli {

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
        "\n"
        "  -l, --level N         contrast level in percent, a positive 32-bit integer\n"
        "  -o, --out-dir DIR     write the results into DIR (created if missing)\n"
        "  -i, --in-place        replace each FILE with its result\n"
        "  -r, --recursive       convert the .bmp files under each folder FILE,\n"
        "                        keeping the folder structure under DIR (never\n"
        "                        entered itself; with several folders, each\n"
        "                        keeps its own path); symbolic links met are skipped\n"
        "      --follow-symlinks with -r, follow symbolic links met in folders\n"
        "      --files-from LIST read more FILE names from LIST, one a line\n"
        "                        ('-': standard input); each keeps its path under DIR\n"
        "  -0, --null            names in LIST end with NUL (find -print0)\n"
        "  -n, --dry-run         say what would be written, overwritten or refused;\n"
        "                        write nothing\n"
        "  -f, --force           overwrite existing files in DIR (without it an\n"
        "                        existing output is left alone and counts as failed),\n"
        "                        and read-only outputs in every form; they stay\n"
        "                        read-only\n"
        "      --skip-existing   leave existing outputs alone, counted as skipped\n"
        "      --update          convert only where the output is missing or older\n"
        "                        than its input; the rest counts as skipped\n"
        "  -p, --preserve        keep the input's modification time (results are\n"
        "                        never readable by more users than their input)\n"
        "      --strict          refuse a truncated input, from its header and size,\n"
        "                        before converting; nothing is written\n"
        "      --max-pixels N    refuse images of more than N pixels the same way\n"
        "  -j, --jobs N          convert N files at a time (default: one per processor)\n"
        "                        (-n and -j need --out-dir or --in-place)\n"
        "  -q, --quiet           no progress line, success lines or summary; errors\n"
        "                        and warnings are still reported\n"
        "  -v, --verbose         a line for every file converted or skipped\n"
        "  -h, --help            show this help and exit\n"
        "  -V, --version         show the version and exit\n"
        "  --                    end of options: every argument after it is a FILE\n"
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
