/* The public header as a C program sees it: it compiles as C11 with
   pedantic warnings, the result values are the documented ones, and the
   shared library answers through it. */
#include <bmpcontrast.h>
#include <stdio.h>

static int failures = 0;

static void expect(int condition, const char* what) {
    if (!condition) {
        fprintf(stderr, "FAILED: %s\n", what);
        ++failures;
    }
}

int main(void) {
    BMPContrastResult success = Success;
    expect(success == 999 && LevelNotPositive == 12 && InputOpenFailed == 13 &&
               HeaderReadFailed == 1333 && InvalidDimensions == 1444 &&
               UnsupportedBitDepth == 14444 && CompressionUnsupported == 166 && OutOfMemory == 1 &&
               OutputOpenFailed == 41,
           "result values");
    expect(sizeof(BMPContrast(u"", u"", 0)) == 4, "32-bit result");
    expect(BMPContrast(u"/nonexistent/in.bmp", u"/nonexistent/out.bmp", 100) == InputOpenFailed,
           "missing input gives 13");
    expect(BMPCONTRAST_VERSION_MAJOR >= 1, "version macros");
    if (failures == 0) puts("c api: ok");
    return failures == 0 ? 0 : 1;
}
