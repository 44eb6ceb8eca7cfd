/* Preloaded into the tool or Python by the policy tests: a read of the
 * file named by BMPCONTRAST_FAULT_NAME (its last path component) fails
 * with EIO once BMPCONTRAST_FAULT_AFTER bytes of it have been read, as a
 * failing disk would. Every other read passes through. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int Faulty(int fd) {
    const char* name = getenv("BMPCONTRAST_FAULT_NAME");
    char link[64], path[4096];
    if (name == NULL) return 0;
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, path, sizeof path - 1);
    if (n <= 0) return 0;
    path[n] = '\0';
    const char* leaf = strrchr(path, '/');
    return strcmp(leaf != NULL ? leaf + 1 : path, name) == 0;
}

ssize_t read(int fd, void* buffer, size_t size) {
    static ssize_t (*real)(int, void*, size_t);
    /* POSIX's way round ISO C's function and object pointers. */
    if (real == NULL) *(void**)(&real) = dlsym(RTLD_NEXT, "read");
    if (Faulty(fd)) {
        const char* after = getenv("BMPCONTRAST_FAULT_AFTER");
        const off_t limit = after != NULL ? (off_t)atoll(after) : 0;
        const off_t at = lseek(fd, 0, SEEK_CUR);
        if (at >= limit) {
            errno = EIO;
            return -1;
        }
        if ((off_t)size > limit - at) size = (size_t)(limit - at);
    }
    return real(fd, buffer, size);
}
