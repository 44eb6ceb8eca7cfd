/* A host program as a C caller writes one: it builds its own set of bitmaps
   (none of the project's test code is used), calls BMPContrast on each at a
   range of levels, and records per call the result code, the lines the
   library printed on each stream and a digest of the output file. The
   record must be the same on every system the library is built for, so
   CTest compares it with the one kept in the source tree
   (compare_record.cmake).

   conformance_driver WORKDIR [KEEPDIR]  writes WORKDIR/record.txt, and with
   KEEPDIR each bitmap as KEEPDIR/NAME.bmp for other checks to reuse. */
#include <bmpcontrast.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { kMaxFile = 1 << 16, kMaxPath = 4096 };

static unsigned char file[kMaxFile];
static size_t fileSize;

static void Put(size_t at, uint32_t value, int bytes) {
    for (int k = 0; k < bytes; ++k) file[at + (size_t)k] = (unsigned char)(value >> (8 * k));
}

/* Deterministic bytes that reach every value. */
static unsigned char Noise(uint32_t* state) {
    *state = *state * 1664525u + 1013904223u;
    return (unsigned char)(*state >> 24);
}

typedef struct {
    const char* name;
    int32_t width, height;
    uint16_t bits;
    uint32_t compression;
    uint32_t infoSize;  /* 40, 108, 124, or 12 for the core header */
    uint32_t colours;   /* entries in the colour table */
    uint32_t trailer;   /* bytes after the pixels */
    int32_t cut;        /* > 0: the file ends this many bytes early */
    int32_t offsetSkew; /* added to bfOffBits */
} Case;

static const Case kCases[] = {
    {"w1-24", 1, 3, 24, 0, 40, 0, 0, 0, 0},
    {"w2-24", 2, 3, 24, 0, 40, 0, 0, 0, 0},
    {"w3-24", 3, 3, 24, 0, 40, 0, 0, 0, 0},
    {"w4-24", 4, 2, 24, 0, 40, 0, 0, 0, 0},
    {"w7-24", 7, 5, 24, 0, 40, 0, 0, 0, 0},
    {"w64-24", 64, 16, 24, 0, 40, 0, 0, 0, 0},
    {"topdown-24", 5, -4, 24, 0, 40, 0, 0, 0, 0},
    {"w3-32", 3, 3, 32, 0, 40, 0, 0, 0, 0},
    {"w33-32", 33, 7, 32, 0, 40, 0, 0, 0, 0},
    {"pal256-8", 5, 3, 8, 0, 40, 256, 0, 0, 0},
    {"pal16-8", 9, 4, 8, 0, 40, 16, 0, 0, 0},
    {"v4-24", 6, 2, 24, 0, 108, 0, 0, 0, 0},
    {"v5-32", 4, 4, 32, 0, 124, 0, 0, 0, 0},
    {"core-24", 3, 2, 24, 0, 12, 0, 0, 0, 0},
    {"core-8", 3, 2, 8, 0, 12, 256, 0, 0, 0},
    {"trailer-24", 3, 3, 24, 0, 40, 0, 100, 0, 0},
    {"trailer-8", 4, 2, 8, 0, 124, 256, 600, 0, 0},
    {"gap-24", 3, 3, 24, 0, 40, 0, 0, 0, 32},
    {"cut-pixels", 8, 8, 24, 0, 40, 0, 0, 20, 0},
    {"cut-palette", 4, 4, 8, 0, 40, 256, 0, 900, 0},
    {"cut-header", 4, 4, 24, 0, 40, 0, 0, -30, 0},
    {"only-file-header", 4, 4, 24, 0, 40, 0, 0, -14, 0},
    {"rle8", 4, 4, 8, 1, 40, 256, 0, 0, 0},
    {"bitfields-32", 4, 4, 32, 3, 40, 0, 0, 0, 0},
    {"bits1", 8, 2, 1, 0, 40, 2, 0, 0, 0},
    {"bits4", 8, 2, 4, 0, 40, 16, 0, 0, 0},
    {"bits16", 4, 2, 16, 0, 40, 0, 0, 0, 0},
    {"width0", 0, 4, 24, 0, 40, 0, 0, 0, 0},
    {"height0", 4, 0, 24, 0, 40, 0, 0, 0, 0},
    {"width-neg", -4, 4, 24, 0, 40, 0, 0, 0, 0},
    {"huge", 100000, 100000, 24, 0, 40, 0, 0, 0, 0},
    {"tall-thin", 1, 3000, 24, 0, 40, 0, 0, 0, 0},
    {"offset-past-end", 4, 4, 24, 0, 40, 0, 0, 0, 70000},
    {"offset-inside-header", 4, 4, 24, 0, 40, 0, 0, 0, -20},
};

/* Lays out one case in `file`; false when it does not fit. */
static int Build(const Case* c, uint32_t seed) {
    const int core = c->infoSize == 12;
    const uint32_t width = (uint32_t)(c->width < 0 ? -(int64_t)c->width : c->width);
    const uint32_t height = (uint32_t)(c->height < 0 ? -(int64_t)c->height : c->height);
    const uint64_t stride = ((uint64_t)width * c->bits + 31) / 32 * 4;
    const uint64_t pixels = stride * height;
    const uint32_t table = c->colours * (core ? 3u : 4u);
    const uint64_t offset = 14 + c->infoSize + table;
    uint64_t size = offset + (pixels > 4096 ? 4096 : pixels) + c->trailer;
    /* A small gap before the pixels is part of the file; a large one points
       past its end. */
    if (c->offsetSkew > 0 && c->offsetSkew < 4096) size += (uint64_t)c->offsetSkew;
    if (size > kMaxFile) return 0;
    memset(file, 0, sizeof file);
    uint32_t state = seed;
    for (size_t i = 0; i < size; ++i) file[i] = Noise(&state);
    file[0] = 'B', file[1] = 'M';
    Put(2, (uint32_t)size, 4);
    Put(6, 0, 4);
    Put(10, (uint32_t)((int64_t)offset + c->offsetSkew), 4);
    Put(14, c->infoSize, 4);
    if (core) {
        Put(18, width, 2), Put(20, height, 2), Put(22, 1, 2), Put(24, c->bits, 2);
    } else {
        Put(18, (uint32_t)c->width, 4), Put(22, (uint32_t)c->height, 4);
        Put(26, 1, 2), Put(28, c->bits, 2), Put(30, c->compression, 4);
        Put(34, (uint32_t)pixels, 4), Put(38, 2835, 4), Put(42, 2835, 4);
        Put(46, c->colours == 256 ? 0 : c->colours, 4), Put(50, 0, 4);
        for (uint32_t k = 54; k < 14 + c->infoSize; ++k) file[k] = 0;
        if (c->compression == 3) Put(54 + 0, 0x00FF0000u, 4);
    }
    fileSize = (size_t)size;
    if (c->cut > 0) fileSize -= (size_t)c->cut;
    if (c->cut < 0) fileSize = (size_t)-c->cut;
    return 1;
}

static void ToUtf16(const char* path, char16_t* out) {
    size_t i = 0;
    for (; path[i] != '\0' && i + 1 < kMaxPath; ++i) out[i] = (char16_t)(unsigned char)path[i];
    out[i] = 0;
}

static uint64_t Fnv(const unsigned char* data, size_t size, uint64_t h) {
    for (size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 1099511628211u;
    return h;
}

static int WriteWhole(const char* path, const unsigned char* data, size_t size) {
    FILE* f = fopen(path, "wb");
    if (f == NULL) return 0;
    const int ok = fwrite(data, 1, size, f) == size;
    return fclose(f) == 0 && ok;
}

/* What `stream` gained since `*seen`, with line ends written as "\n". */
static void NewText(const char* path, long* seen, FILE* record) {
    FILE* f = fopen(path, "rb");
    if (f == NULL) return;
    fseek(f, *seen, SEEK_SET);
    fputc('"', record);
    for (int ch; (ch = fgetc(f)) != EOF; ++*seen) {
        if (ch == '\n') {
            fputs("\\n", record);
        } else if (ch < 32 || ch > 126 || ch == '"' || ch == '\\') {
            fprintf(record, "\\x%02x", ch);
        } else {
            fputc(ch, record);
        }
    }
    fputc('"', record);
    fclose(f);
}

/* The output file's size and digest, or "none". */
static void Digest(const char* path, FILE* record) {
    FILE* f = fopen(path, "rb");
    if (f == NULL) {
        fputs("none", record);
        return;
    }
    static unsigned char chunk[1 << 16];
    uint64_t h = 14695981039346656037u, size = 0;
    for (size_t n; (n = fread(chunk, 1, sizeof chunk, f)) > 0; size += n) h = Fnv(chunk, n, h);
    fclose(f);
    fprintf(record, "%llu:%016llx", (unsigned long long)size, (unsigned long long)h);
}

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        fputs("usage: conformance_driver WORKDIR [KEEPDIR]\n", stderr);
        return 2;
    }
    static const int32_t kLevels[] = {-5, 0, 1, 37, 99, 100, 101, 128, 150, 255, 256, 2147483647};
    char in[kMaxPath], out[kMaxPath], outLines[kMaxPath], errLines[kMaxPath], recordPath[kMaxPath];
    snprintf(in, sizeof in, "%s/in.bmp", argv[1]);
    snprintf(out, sizeof out, "%s/out.bmp", argv[1]);
    snprintf(outLines, sizeof outLines, "%s/stdout.txt", argv[1]);
    snprintf(errLines, sizeof errLines, "%s/stderr.txt", argv[1]);
    snprintf(recordPath, sizeof recordPath, "%s/record.txt", argv[1]);
    FILE* record = fopen(recordPath, "wb");
    /* The library's streams go to files, in binary mode, as a host that
       compares its lines byte for byte would have them. */
    if (record == NULL || freopen(outLines, "wb", stdout) == NULL ||
        freopen(errLines, "wb", stderr) == NULL) {
        return 3;
    }
    static char16_t in16[kMaxPath], out16[kMaxPath];
    ToUtf16(in, in16);
    ToUtf16(out, out16);
    long outSeen = 0, errSeen = 0;
    const size_t count = sizeof kCases / sizeof kCases[0];
    for (size_t k = 0; k < count; ++k) {
        if (!Build(&kCases[k], (uint32_t)k + 1) || !WriteWhole(in, file, fileSize)) return 3;
        if (argc == 3) {
            char kept[kMaxPath];
            snprintf(kept, sizeof kept, "%s/%s.bmp", argv[2], kCases[k].name);
            if (!WriteWhole(kept, file, fileSize)) return 3;
        }
        for (size_t l = 0; l < sizeof kLevels / sizeof kLevels[0]; ++l) {
            remove(out);
            const int32_t rc = BMPContrast(in16, out16, kLevels[l]);
            fflush(stdout), fflush(stderr);
            fprintf(record, "%s %ld %ld ", kCases[k].name, (long)kLevels[l], (long)rc);
            Digest(out, record);
            fputc(' ', record);
            NewText(outLines, &outSeen, record);
            fputc(' ', record);
            NewText(errLines, &errSeen, record);
            fputc('\n', record);
        }
    }
    /* Names the library cannot open. */
    char missing[kMaxPath], noDir[kMaxPath];
    snprintf(missing, sizeof missing, "%s/missing.bmp", argv[1]);
    snprintf(noDir, sizeof noDir, "%s/no-such-dir/out.bmp", argv[1]);
    static char16_t missing16[kMaxPath], noDir16[kMaxPath];
    ToUtf16(missing, missing16);
    ToUtf16(noDir, noDir16);
    const struct {
        const char* name;
        const char16_t *from, *to;
    } opens[] = {{"missing-input", missing16, out16}, {"output-dir-missing", in16, noDir16}};
    for (size_t k = 0; k < 2; ++k) {
        const int32_t rc = BMPContrast(opens[k].from, opens[k].to, 150);
        fflush(stdout), fflush(stderr);
        fprintf(record, "%s 150 %ld ", opens[k].name, (long)rc);
        NewText(outLines, &outSeen, record);
        fputc(' ', record);
        NewText(errLines, &errSeen, record);
        fputc('\n', record);
    }
    remove(in);
    remove(out);
    return fclose(record) == 0 ? 0 : 3;
}
