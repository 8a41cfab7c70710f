// platform_posix.cpp - what a POSIX host gives every backend that runs on one (SDL,
// null, web): threads on std::thread, the end of the process, sleeping, the file
// system calls of the resource layer and the program's own folder.
//
// Two answers are not POSIX and are chosen by host: the usable size of a heap block
// (malloc_usable_size on Linux's and the web page's C libraries, malloc_size on
// macOS, 0 elsewhere) and the program's own file (/proc/self/exe, which Linux has
// and the web page and most other hosts lack; _NSGetExecutablePath on macOS).
#include "platform/platform_backend.h"

#include <dirent.h>
#include <errno.h>
#if defined(__APPLE__)
#include <mach-o/dyld.h>
#include <malloc/malloc.h>
#elif defined(__linux__) || defined(__EMSCRIPTEN__)
#include <malloc.h>
#endif
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

// ---- Start ---------------------------------------------------------------------------------------
static std::thread::id plat_mainthread;

void platp_set_main_thread(void) { plat_mainthread = std::this_thread::get_id(); }

// Diagnostic lines reach a pipe as they are printed.
void platp_stdout_lines(void) { setvbuf(stdout, nullptr, _IOLBF, 0); }

void plat_sleep(unsigned ms)
{
    struct timespec ts = { (time_t)(ms / 1000), (long)(ms % 1000) * 1000000L };
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

// ---- Threads and process end --------------------------------------------------------------------
struct plat_thread {
    std::thread thread;
    std::atomic<int> running{1};
};

plat_thread *plat_thread_start(plat_threadfn fn, void *arg)
{
    plat_thread *t = new plat_thread;
    try {
        t->thread = std::thread([t, fn, arg] {
            fn(arg);
            // A context left current here would be current on a thread that no longer exists.
            platb_thread_end();
            t->running.store(0);
        });
    } catch (...) {
        delete t;
        return nullptr;
    }
    return t;
}

int plat_thread_running(plat_thread *t) { return t && t->running.load(); }

void plat_thread_join(plat_thread *t)
{
    if (!t) return;
    if (t->thread.joinable()) t->thread.join();
    delete t;
}

int plat_is_main_thread(void) { return std::this_thread::get_id() == plat_mainthread; }

void plat_thread_terminate(plat_thread *t, int code)
{
    // Nothing ends a thread from outside on POSIX: the process ends with it.
    (void)t;
    // Give the desktop its display mode back before leaving.
    platb_before_exit();
    // Flush standard output only when no other thread holds its lock.
    if (ftrylockfile(stdout) == 0) {
        fflush(stdout);
        funlockfile(stdout);
    }
    _exit(code);
}

// ---- Files and folders ---------------------------------------------------------------------------------------
int plat_stat(const char *path, plat_fileinfo *info)
{
    struct stat st, lst;
    if (!path || stat(path, &st) != 0) return 0;
    if (info) {
        info->kind = S_ISREG(st.st_mode) ? PLAT_FILE : S_ISDIR(st.st_mode) ? PLAT_DIR : PLAT_OTHER;
        info->islink = lstat(path, &lst) == 0 && S_ISLNK(lst.st_mode);
        info->size = (uint64_t)st.st_size;
        info->id[0] = (uint64_t)st.st_dev;
        info->id[1] = (uint64_t)st.st_ino;
    }
    return 1;
}

struct plat_dir {
    DIR *d;
};

plat_dir *plat_opendir(const char *path)
{
    if (!path || !path[0]) {
        errno = EINVAL;
        return nullptr;
    }
    DIR *d = opendir(path);
    if (!d) return nullptr;
    plat_dir *pd = (plat_dir *)malloc(sizeof(plat_dir));
    if (!pd) {
        closedir(d);
        errno = ENOMEM;
        return nullptr;
    }
    pd->d = d;
    return pd;
}

const char *plat_readdir(plat_dir *d)
{
    if (!d) {
        errno = EBADF;
        return nullptr;
    }
    struct dirent *e = readdir(d->d);
    return e ? e->d_name : nullptr;
}

void plat_rewinddir(plat_dir *d)
{
    if (d) rewinddir(d->d);
}

int plat_closedir(plat_dir *d)
{
    if (!d) {
        errno = EBADF;
        return -1;
    }
    int r = closedir(d->d);
    free(d);
    return r == 0 ? 0 : -1;
}

int plat_chdir(const char *path) { return path && chdir(path) == 0 ? 0 : -1; }

int plat_getcwd(char *buf, int size) { return buf && size > 0 && getcwd(buf, (size_t)size) != nullptr; }

int plat_mkdir(const char *path) { return mkdir(path, 0777) == 0 ? 0 : -1; }

int plat_rename(const char *from, const char *to) { return rename(from, to) == 0 ? 0 : -1; }

int plat_truncate(const char *path, uint64_t size) { return truncate(path, (off_t)size) == 0 ? 0 : -1; }

uint32_t plat_mem_usable(void *block)
{
    if (!block) return 0;
#if defined(__APPLE__)
    return (uint32_t)malloc_size(block);
#elif defined(__linux__) || defined(__EMSCRIPTEN__)
    return (uint32_t)malloc_usable_size(block);
#else
    return 0;  // the allocator cannot tell: memory in use is not counted
#endif
}

static std::string program_dir(void)
{
    char path[4096];
#if defined(__APPLE__)
    char raw[4096];
    uint32_t rawsize = sizeof(raw);
    if (_NSGetExecutablePath(raw, &rawsize) != 0 || !realpath(raw, path)) return "";
#else
    // Linux; elsewhere the link is missing and the answer is "".
    ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n <= 0) return "";
    path[n] = 0;
#endif
    char *slash = strrchr(path, '/');
    if (!slash) return "";
    slash[1] = 0;
    return path;
}

const char *plat_program_dir(void)
{
    static const std::string dir = program_dir();
    return dir.c_str();
}
