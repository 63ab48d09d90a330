/* Delays every creation of a file in the folder ZAV_SLOW_FOLDER (open with
 * O_CREAT, fopen for writing, rename into it) by ZAV_SLOW_MS milliseconds
 * (default 20), as a network share does; with ZAV_FAIL_SYNC set, forcing a
 * file of that folder to the disk (fdatasync, fsync) fails with EIO, as on a
 * share that went away. Everything else passes straight on. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static int InFolder(const char* path) {
    const char* folder = getenv("ZAV_SLOW_FOLDER");
    return folder != NULL && path != NULL && strncmp(path, folder, strlen(folder)) == 0;
}

static void Pause(const char* path) {
    const char* ms = getenv("ZAV_SLOW_MS");
    if (!InFolder(path))
        return;
    const long wait = ms ? atol(ms) : 20;
    struct timespec pause = {wait / 1000, (wait % 1000) * 1000000L};
    nanosleep(&pause, NULL);
}

#define REAL(name, type)                                                                           \
    static type real_##name;                                                                       \
    if (real_##name == NULL)                                                                       \
    real_##name = (type)dlsym(RTLD_NEXT, #name)

typedef int (*openat_fn)(int, const char*, int, ...);
typedef FILE* (*fopen_fn)(const char*, const char*);
typedef int (*rename_fn)(const char*, const char*);
typedef int (*sync_fn)(int);

// The mode that follows the flags when a file may be created.
#define TAKE_MODE(flags, mode)                                                                     \
    va_list args;                                                                                  \
    va_start(args, flags);                                                                         \
    const int mode = (flags & O_CREAT) ? va_arg(args, int) : 0;                                    \
    va_end(args)

#define OPENAT(name)                                                                               \
    int name(int dir, const char* path, int flags, ...) {                                          \
        REAL(name, openat_fn);                                                                     \
        TAKE_MODE(flags, mode);                                                                    \
        if (flags & O_CREAT)                                                                       \
            Pause(path);                                                                           \
        return real_##name(dir, path, flags, mode);                                                \
    }
OPENAT(openat)
OPENAT(openat64)

// open is openat in the current folder, through the one above.
#define OPEN(name)                                                                                 \
    int name(const char* path, int flags, ...) {                                                   \
        TAKE_MODE(flags, mode);                                                                    \
        return openat(AT_FDCWD, path, flags, mode);                                                \
    }
OPEN(open)
OPEN(open64)

#define FOPEN(name)                                                                                \
    FILE* name(const char* path, const char* mode) {                                               \
        REAL(name, fopen_fn);                                                                      \
        if (mode && (strchr(mode, 'w') || strchr(mode, 'a')))                                      \
            Pause(path);                                                                           \
        return real_##name(path, mode);                                                            \
    }
FOPEN(fopen)
FOPEN(fopen64)

int rename(const char* from, const char* to) {
    REAL(rename, rename_fn);
    Pause(to);
    return real_rename(from, to);
}

#define SYNC(name)                                                                                 \
    int name(int fd) {                                                                             \
        REAL(name, sync_fn);                                                                       \
        char link[64], path[4096];                                                                 \
        snprintf(link, sizeof link, "/proc/self/fd/%d", fd);                                       \
        const ssize_t size = readlink(link, path, sizeof path - 1);                                \
        path[size > 0 ? size : 0] = '\0';                                                          \
        if (getenv("ZAV_FAIL_SYNC") && InFolder(path)) {                                           \
            errno = EIO;                                                                           \
            return -1;                                                                             \
        }                                                                                          \
        return real_##name(fd);                                                                    \
    }
SYNC(fdatasync)
SYNC(fsync)
