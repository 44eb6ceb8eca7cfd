/* Converts a 1x1 8-bit bitmap (with its colour table) and checks the result,
   then a level that is not positive. */
#include <bmpcontrast.h>
#include <stdio.h>
#include <string.h>

static int Fail(const char* what) {
    fprintf(stderr, "pkg-config consumer: %s\n", what);
    return 1;
}

/* UTF-16 from an ASCII path. */
static void Widen(const char* in, char16_t* out, size_t room) {
    size_t i = 0;
    for (; in[i] != '\0' && i + 1 < room; ++i) out[i] = (char16_t)(unsigned char)in[i];
    out[i] = 0;
}

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    char inName[4096], outName[4096];
    snprintf(inName, sizeof inName, "%s/in8.bmp", argv[1]);
    snprintf(outName, sizeof outName, "%s/out8.bmp", argv[1]);

    /* Headers, a 256-entry colour table (entry i = i,i,i,0), one index byte plus pad. */
    unsigned char bmp[54 + 1024 + 4];
    memset(bmp, 0, sizeof bmp);
    const unsigned size = sizeof bmp, offBits = 54 + 1024;
    bmp[0] = 'B', bmp[1] = 'M';
    bmp[2] = (unsigned char)size, bmp[3] = (unsigned char)(size >> 8);
    bmp[10] = (unsigned char)offBits, bmp[11] = (unsigned char)(offBits >> 8);
    bmp[14] = 40, bmp[18] = 1, bmp[22] = 1, bmp[26] = 1, bmp[28] = 8;
    for (int i = 0; i < 256; ++i) memset(bmp + 54 + 4 * i, i, 3);
    bmp[offBits] = 10;
    FILE* f = fopen(inName, "wb");
    if (f == NULL || fwrite(bmp, 1, sizeof bmp, f) != sizeof bmp || fclose(f) != 0) {
        return Fail("cannot write the input");
    }

    char16_t in16[4096], out16[4096];
    Widen(inName, in16, 4096);
    Widen(outName, out16, 4096);
    if (BMPContrast(in16, out16, 50) != BMPCONTRAST_SUCCESS) return Fail("conversion failed");
    unsigned char result[sizeof bmp];
    f = fopen(outName, "rb");
    if (f == NULL || fread(result, 1, sizeof result, f) != sizeof result) return Fail("no output");
    fclose(f);
    /* The colour table is carried over; the index byte goes through the
       curve: (10 - 128) * 0.5 + 128 = 69. */
    if (memcmp(result, bmp, offBits) != 0 || result[offBits] != 69) {
        return Fail("unexpected output");
    }
    if (BMPContrast(in16, out16, 0) != BMPCONTRAST_LEVEL_NOT_POSITIVE)
        return Fail("level 0 accepted");
    printf("pkg-config consumer: BMPContrast %s works\n", BMPCONTRAST_VERSION_STRING);
    return 0;
}
