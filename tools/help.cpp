#include "help.h"

#include "bmpcontrast.h"

namespace bmpcontrast_cli {

void PrintUsage(std::FILE* to) {
    std::fputs(
        "usage: bmpcontrast INPUT OUTPUT LEVEL\n"
        "       bmpcontrast --level N (--out-dir DIR | --in-place) [options] FILE...\n"
        "Try 'bmpcontrast --help' for more.\n",
        to);
}

void PrintHelp(std::FILE* to) {
    std::fputs(
        "usage: bmpcontrast INPUT OUTPUT LEVEL\n"
        "       bmpcontrast --level N (--out-dir DIR | --in-place) [options] FILE...\n"
        "\n"
        "Adjusts the contrast of uncompressed 8, 24 and 32-bit BMP files. LEVEL is\n"
        "in percent: 100 leaves pixels unchanged, more raises contrast, 1..99\n"
        "lowers it.\n"
        "\n"
        "The first form converts one file. INPUT '-' reads the bitmap from standard\n"
        "input; OUTPUT '-' writes it to standard output, and the library's success\n"
        "line then goes to standard error. OUTPUT is overwritten if it exists.\n"
        "\n"
        "The second form converts many files in parallel, each written under its\n"
        "own file name. A file that fails does not stop the others; a summary line\n"
        "'N converted, M failed' ends the run.\n"
        "\n"
        "  -l, --level N      contrast level in percent, a positive 32-bit integer\n"
        "  -o, --out-dir DIR  write the results into DIR (created if missing)\n"
        "  -i, --in-place     replace each FILE with its result\n"
        "  -f, --force        overwrite existing files in DIR; without it an\n"
        "                     existing output is left alone and counts as failed\n"
        "  -j, --jobs N       convert N files at a time (default: one per processor)\n"
        "  -q, --quiet        no progress line, success lines or summary; errors\n"
        "                     are still reported\n"
        "  -h, --help         show this help and exit\n"
        "  -V, --version      show the version and exit\n"
        "  --                 end of options: every argument after it is a FILE\n"
        "\n"
        "Results are written to a temporary file next to the destination and\n"
        "renamed into place, so a failed conversion never leaves a partial file\n"
        "and --in-place never loses the original. Interrupted, a batch finishes\n"
        "the files in progress and starts no more; a second interrupt stops it\n"
        "at once.\n"
        "\n"
        "Exit status:\n"
        "  0  every file was converted\n"
        "  1  at least one file was not converted (the library's line and a line\n"
        "     naming the file say why)\n"
        "  2  usage error: bad option, missing argument, or a LEVEL that is not an\n"
        "     integer in the 32-bit range; nothing was converted\n",
        to);
}

void PrintVersion(std::FILE* to) { std::fputs("bmpcontrast " BMPCONTRAST_VERSION_STRING "\n", to); }

}  // namespace bmpcontrast_cli
