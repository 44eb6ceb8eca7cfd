/*
 * bmpcontrast.h - contrast adjustment of uncompressed BMP files.
 *
 * One call does the whole job:
 *
 *     int32_t rc = BMPContrast(u"in.bmp", u"out.bmp", 150);
 *     if (rc == Success) { ... }   // 999
 *
 * reads `in.bmp` (8, 24 or 32 bits per pixel, uncompressed, bottom-up or
 * top-down rows), maps every pixel byte through the curve
 *
 *     out = clamp(trunc((in - 128) * level / 100 + 128), 0, 255)
 *
 * evaluated in IEEE 754 single precision, and writes `out.bmp` with the
 * input's headers. Level 100 leaves pixels unchanged, larger levels raise
 * contrast, 1..99 lower it. Pad bytes at row ends and an 8-bit file's colour
 * table are carried over unchanged. Both info headers are read: the 40-byte
 * one (and longer ones, V4 and V5) and the 12-byte core one (8 or 24 bits).
 *
 * Bytes after the pixel data (an ICC profile, say) follow the adjusted
 * pixels unchanged, up to 64 MiB of them, wherever the output keeps the
 * input's layout and the pixel data was read whole: a complete file comes
 * back byte for byte at level 100. A longer tail, or one of an input
 * without a size (a pipe), is left out.
 *
 * Memory: a call holds the pixel data twice, plus the bytes between the
 * headers and the pixels and the bytes after them. The pixel data's size
 * comes from the header alone, up to 2^31 - 1 bytes: a 54-byte file may
 * claim 2 GiB of pixel data and so make the call allocate 4 GiB, or fail
 * with OutOfMemory.
 *
 * Paths are null-terminated UTF-16 strings; on Linux they are converted to
 * UTF-8 file names. A path holding an unpaired surrogate names no file.
 * Input and output may name the same file: the input is read completely and
 * closed before the output is opened.
 *
 * Diagnostics: every failure but two (an input or output that cannot be
 * opened) prints exactly one fixed line, "Error: ...\n", on stderr; a short
 * read of pixel data prints "Warning: Could not read all pixel data.\n" and
 * carries on; success prints "Success: Contrast adjustment applied.\n" on
 * stdout. The lines never change: callers may match them.
 *
 * The library keeps no state between calls; calls on different files may run
 * on different threads at once. Nothing is thrown across the boundary.
 *
 * Usable from C (C11 or later) and C++.
 */
#ifndef BMPCONTRAST_H
#define BMPCONTRAST_H

#include <stdint.h>

#ifdef __cplusplus
/* char16_t is a keyword in C++. */
#else
#include <uchar.h>
#endif

#include "bmpcontrast_version.h"

#if defined(BMPCONTRAST_BUILDING_LIBRARY) && defined(__GNUC__)
#define BMPCONTRAST_API __attribute__((visibility("default")))
#else
#define BMPCONTRAST_API
#endif

#ifdef __cplusplus
#define BMPCONTRAST_NOEXCEPT noexcept
#else
#define BMPCONTRAST_NOEXCEPT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Result of BMPContrast. The values are frozen: they cross the library
 * boundary and form no sequence. 999 is the only success; 1 is a failure.
 */
#ifdef __cplusplus
enum BMPContrastResult : int32_t {
#else
enum BMPContrastResult {
#endif
    /* The output file was written. Prints the success line on stdout. */
    Success = 999,
    /* level <= 0. No file is opened. */
    LevelNotPositive = 12,
    /* The input cannot be opened (missing, no permission, null or
       unconvertible path). Prints nothing. */
    InputOpenFailed = 13,
    /* The headers cannot be read or the signature is not "BM". */
    HeaderReadFailed = 1333,
    /* biWidth <= 0, biHeight == 0, or a row or the pixel data does not fit
       in 2^31 - 1 bytes. */
    InvalidDimensions = 1444,
    /* biBitCount is not 8, 24 or 32. */
    UnsupportedBitDepth = 14444,
    /* biCompression is not 0 (BI_RGB). */
    CompressionUnsupported = 166,
    /* A pixel buffer could not be allocated. */
    OutOfMemory = 1,
    /* The output cannot be opened (prints nothing), or writing or closing it
       failed (prints "Error: Could not write output file.\n"). */
    OutputOpenFailed = 41
};

#ifndef __cplusplus
typedef enum BMPContrastResult BMPContrastResult;
#endif

/*
 * Adjusts the contrast of the bitmap at `inputPath` and writes the result to
 * `outputPath`, creating or truncating it.
 *
 * inputPath, outputPath: null-terminated UTF-16 paths; null means a file that
 *                        cannot be opened.
 * level:                 contrast in percent; must be positive. Levels of
 *                        12701 and more turn every byte below 128 into 0
 *                        and every byte above 128 into 255.
 *
 * Returns one of the BMPContrastResult values as a signed 32-bit integer.
 * The output path is not touched unless the result is Success or
 * OutputOpenFailed.
 */
BMPCONTRAST_API int32_t BMPContrast(const char16_t* inputPath, const char16_t* outputPath,
                                    int32_t level) BMPCONTRAST_NOEXCEPT;

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* BMPCONTRAST_H */
