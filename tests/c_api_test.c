/* The public header as a C program sees it: it compiles as C11 with
   pedantic warnings, the result values are the documented ones, and the
   shared library answers through it. */
#include <bmpcontrast.h>
#include <stdio.h>
#include <string.h>

static int failures = 0;

static void expect(int condition, const char* what) {
    if (!condition) {
        fprintf(stderr, "FAILED: %s\n", what);
        ++failures;
    }
}

int main(void) {
    BMPContrastResult success = BMPCONTRAST_SUCCESS;
    expect(success == 999 && BMPCONTRAST_LEVEL_NOT_POSITIVE == 12 &&
               BMPCONTRAST_INPUT_OPEN_FAILED == 13 && BMPCONTRAST_HEADER_READ_FAILED == 1333 &&
               BMPCONTRAST_INVALID_DIMENSIONS == 1444 &&
               BMPCONTRAST_UNSUPPORTED_BIT_DEPTH == 14444 &&
               BMPCONTRAST_COMPRESSION_UNSUPPORTED == 166 && BMPCONTRAST_OUT_OF_MEMORY == 1 &&
               BMPCONTRAST_OUTPUT_OPEN_FAILED == 41,
           "result values");
    /* Existing callers' names stay the same values. */
    expect(Success == BMPCONTRAST_SUCCESS && LevelNotPositive == 12 && OutOfMemory == 1 &&
               OutputOpenFailed == 41,
           "short names");
    expect(sizeof(BMPContrast(u"", u"", 0)) == 4, "32-bit result");
    expect(BMPContrast(u"/nonexistent/in.bmp", u"/nonexistent/out.bmp", 100) ==
               BMPCONTRAST_INPUT_OPEN_FAILED,
           "missing input gives 13");
    expect(BMPCONTRAST_VERSION_MAJOR >= 1, "version macros");

    /* Every code names its own constant; anything else is unknown. */
    static const struct {
        int32_t code;
        const char* name;
    } names[] = {
        {999, "BMPCONTRAST_SUCCESS"},
        {12, "BMPCONTRAST_LEVEL_NOT_POSITIVE"},
        {13, "BMPCONTRAST_INPUT_OPEN_FAILED"},
        {1333, "BMPCONTRAST_HEADER_READ_FAILED"},
        {1444, "BMPCONTRAST_INVALID_DIMENSIONS"},
        {14444, "BMPCONTRAST_UNSUPPORTED_BIT_DEPTH"},
        {166, "BMPCONTRAST_COMPRESSION_UNSUPPORTED"},
        {1, "BMPCONTRAST_OUT_OF_MEMORY"},
        {41, "BMPCONTRAST_OUTPUT_OPEN_FAILED"},
        {0, "BMPCONTRAST_UNKNOWN_RESULT"},
        {-999, "BMPCONTRAST_UNKNOWN_RESULT"},
    };
    for (size_t i = 0; i < sizeof names / sizeof names[0]; ++i) {
        const BMPContrastResultText text = BMPContrastDescribeResult(names[i].code);
        if (strcmp(text.name, names[i].name) != 0 || text.meaning == NULL ||
            text.meaning[0] == '\0') {
            fprintf(stderr, "FAILED: name of %d is %s\n", (int)names[i].code, text.name);
            ++failures;
        }
    }
    if (failures == 0) puts("c api: ok");
    return failures == 0 ? 0 : 1;
}
