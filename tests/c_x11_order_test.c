/* The header next to X11's <X11/X.h>, which has `#define Success 0`, in
   either include order (BMPC_X11_FIRST set to 1 or 0), and with the short
   names opted out. The prefixed names compile and compare correctly in
   every case. */
#if BMPC_X11_FIRST
#define Success 0 /* as <X11/X.h> has it */
#include <bmpcontrast.h>
#else
#include <bmpcontrast.h>
#define Success 0 /* as <X11/X.h> has it */
#endif
#include <stdio.h>

#ifdef BMPCONTRAST_NO_SHORT_NAMES
/* Opted out: the short names are free for the caller's own use. */
enum { LevelNotPositive = -1, OutputOpenFailed = -2 };
#endif

int main(void) {
    const int32_t rc = BMPContrast(u"/nonexistent/in.bmp", u"/nonexistent/out.bmp", 100);
    if (rc != BMPCONTRAST_INPUT_OPEN_FAILED || BMPCONTRAST_SUCCESS != 999 || Success != 0) {
        fprintf(stderr, "FAILED: result %d\n", (int)rc);
        return 1;
    }
#ifdef BMPCONTRAST_NO_SHORT_NAMES
    if (LevelNotPositive != -1) return 1;
#endif
    puts("x11 include order: ok");
    return 0;
}
