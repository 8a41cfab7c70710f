// platform_win32_os.cpp - what the Windows backend takes from the system besides the
// window and the sound: CreateThread and TerminateThread, the end of the process,
// Sleep, GetTickCount, the runtime's file and find-first directory calls and the
// program's own folder.
#include "platform/platform_backend.h"

#include <windows.h>

#include <direct.h>
#include <errno.h>
#include <io.h>
#include <malloc.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
#include <string>

void plat_sleep(unsigned ms) { Sleep(ms); }

// ---- Threads and process end --------------------------------------------------------------------
struct plat_thread {
    HANDLE handle;
    plat_threadfn fn;
    void *arg;
    std::atomic<int> running{1};
};

static DWORD WINAPI plat_thread_entry(LPVOID p)
{
    plat_thread *t = (plat_thread *)p;
    int code = t->fn(t->arg);
    // A context left current here would be current on a thread that no longer exists.
    platb_thread_end();
    t->running.store(0);
    return (DWORD)code;
}

plat_thread *plat_thread_start(plat_threadfn fn, void *arg)
{
    plat_thread *t = new plat_thread;
    t->fn = fn;
    t->arg = arg;
    t->handle = CreateThread(NULL, 0, plat_thread_entry, t, 0, NULL);
    if (!t->handle) {
        delete t;
        return nullptr;
    }
    return t;
}

int plat_thread_running(plat_thread *t) { return t && t->running.load(); }

void plat_thread_join(plat_thread *t)
{
    if (!t) return;
    WaitForSingleObject(t->handle, INFINITE);
    CloseHandle(t->handle);
    delete t;
}

static DWORD plat_mainthread;
static HINSTANCE plat_instance;        // the program's image, as plat_init found it

void platw_set_main_thread(void)
{
    plat_mainthread = GetCurrentThreadId();
    plat_instance = GetModuleHandleA(NULL);
}

int plat_is_main_thread(void) { return GetCurrentThreadId() == plat_mainthread; }

// Whether the suspended thread th is executing the program's own code (not a system
// or driver DLL, nor a system call).
static int plat_thread_in_own_code(HANDLE th)
{
    const unsigned char *base = (const unsigned char *)plat_instance;
    if (!base) return 0;
    const IMAGE_DOS_HEADER *dos = (const IMAGE_DOS_HEADER *)base;
    const IMAGE_NT_HEADERS *nt = (const IMAGE_NT_HEADERS *)(base + dos->e_lfanew);
    uintptr_t start = (uintptr_t)base, end = start + nt->OptionalHeader.SizeOfImage;
    CONTEXT c;
    memset(&c, 0, sizeof(c));
    c.ContextFlags = CONTEXT_CONTROL;
    if (!GetThreadContext(th, &c)) return 0;
#ifdef _WIN64
    uintptr_t pc = (uintptr_t)c.Rip;
#else
    uintptr_t pc = (uintptr_t)c.Eip;
#endif
    return pc >= start && pc < end;
}

// Stops thread th (suspended) at a moment it runs the program's own code, trying for
// at most about 100 ms: a thread ended inside the GL driver or a system call may leave
// that code's locks or state behind (under Wine, ending a thread inside the GL
// driver can even crash the process). After the tries it stays suspended wherever it is.
static void plat_thread_stop_in_own_code(HANDLE th)
{
    for (int i = 0; i < 100; i++) {
        if (SuspendThread(th) == (DWORD)-1) return;
        if (plat_thread_in_own_code(th) || i == 99) return;
        ResumeThread(th);
        Sleep(1);
    }
}

// The end of a process whose demo thread was killed (plat_thread_terminate) must not
// depend on anything that thread may have held. A thread made here, while nothing
// is held, waits to end the process should the tear-down hang.
static HANDLE plat_reaper_event;
static std::atomic<int> plat_reaper_code{0};

static DWORD WINAPI plat_reaper(LPVOID arg)
{
    (void)arg;
    WaitForSingleObject(plat_reaper_event, INFINITE);
    Sleep(500);
    TerminateProcess(GetCurrentProcess(), (UINT)plat_reaper_code.load());
    return 0;
}

void platw_reaper_start(void)
{
    if (!plat_reaper_event) {
        plat_reaper_event = CreateEventA(NULL, TRUE, FALSE, NULL);
        HANDLE h = plat_reaper_event ? CreateThread(NULL, 0, plat_reaper, NULL, 0, NULL) : NULL;
        if (h) CloseHandle(h);
    }
}

void plat_thread_terminate(plat_thread *t, int code)
{
    // The reaper ends the process should anything below wait on a lock the killed
    // thread held (the display connection in a GL call, say).
    plat_reaper_code.store(code);
    if (plat_reaper_event) SetEvent(plat_reaper_event);
    if (t && t->handle) {
        plat_thread_stop_in_own_code(t->handle);
        TerminateThread(t->handle, 0);
        WaitForSingleObject(t->handle, 100);
    }
    if (plat_is_main_thread()) platb_before_exit();
    // Nothing of the runtime's exit runs (its locks may be held by the killed thread);
    // standard output is unbuffered, so nothing waits to be flushed.
    TerminateProcess(GetCurrentProcess(), (UINT)code);
    for (;;) Sleep(1000);
}

// ---- Clock ----------------------------------------------------------------------------------------
uint32_t platb_ticks(void) { return (uint32_t)GetTickCount(); }

// ---- Files and folders ---------------------------------------------------------------------------------------
// A path with a trailing separator names a folder: _stat refuses the separator.
static int plat_stat_path(const char *path, struct _stat64 *st)
{
    char buf[MAX_PATH + 1];
    size_t n = strlen(path);
    int trailing = n > 1 && (path[n - 1] == '/' || path[n - 1] == '\\') && path[n - 2] != ':';
    if (!trailing) return _stat64(path, st);
    if (n > MAX_PATH) return -1;
    memcpy(buf, path, n - 1);
    buf[n - 1] = 0;
    if (_stat64(buf, st) != 0) return -1;
    if (!(st->st_mode & _S_IFDIR)) {
        errno = ENOTDIR;
        return -1;
    }
    return 0;
}

// Identity of what path names: the volume and the file index. Where the file cannot be
// opened for that, its full path stands for it.
static void plat_identity(const char *path, uint64_t id[2])
{
    HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (h != INVALID_HANDLE_VALUE) {
        BY_HANDLE_FILE_INFORMATION fi;
        int ok = GetFileInformationByHandle(h, &fi);
        CloseHandle(h);
        if (ok) {
            id[0] = fi.dwVolumeSerialNumber;
            id[1] = ((uint64_t)fi.nFileIndexHigh << 32) | fi.nFileIndexLow;
            return;
        }
    }
    char full[MAX_PATH * 2];
    DWORD n = GetFullPathNameA(path, sizeof(full), full, NULL);
    uint64_t hash = 14695981039346656037ull;  // FNV-1a over the lower-cased full path
    for (DWORD i = 0; i < n && i < sizeof(full); i++) {
        unsigned char c = (unsigned char)full[i];
        if (c == '\\') c = '/';
        if (c >= 'A' && c <= 'Z') c = (unsigned char)(c - 'A' + 'a');
        hash = (hash ^ c) * 1099511628211ull;
    }
    id[0] = ~(uint64_t)0;
    id[1] = hash;
}

int plat_stat(const char *path, plat_fileinfo *info)
{
    struct _stat64 st;
    if (!path || !path[0] || plat_stat_path(path, &st) != 0) return 0;
    if (info) {
        info->kind = (st.st_mode & _S_IFREG) ? PLAT_FILE : (st.st_mode & _S_IFDIR) ? PLAT_DIR : PLAT_OTHER;
        DWORD attr = GetFileAttributesA(path);
        info->islink = attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_REPARSE_POINT);
        info->size = (uint64_t)st.st_size;
        plat_identity(path, info->id);
    }
    return 1;
}

// A directory stream on the runtime's find calls: the find handle (or -1), the current
// find record, the current entry's name (null until the first entry is returned) and
// the pattern it was opened with.
struct plat_dir {
    intptr_t handle;
    struct _finddata_t rec;
    const char *name;
    char pattern[1];
};

plat_dir *plat_opendir(const char *path)
{
    if (!path || !path[0]) {
        errno = EINVAL;
        return nullptr;
    }
    size_t n = strlen(path);
    plat_dir *d = (plat_dir *)malloc(sizeof(plat_dir) + n + 2);
    if (!d) {
        errno = ENOMEM;
        return nullptr;
    }
    memcpy(d->pattern, path, n);
    if (path[n - 1] == '/' || path[n - 1] == '\\') {
        memcpy(d->pattern + n, "*", 2);
    } else {
        memcpy(d->pattern + n, "/*", 3);
    }
    d->name = nullptr;
    d->handle = _findfirst(d->pattern, &d->rec);
    if (d->handle == -1) {
        int e = errno;
        free(d);
        errno = e;
        return nullptr;
    }
    return d;
}

const char *plat_readdir(plat_dir *d)
{
    if (!d) {
        errno = EBADF;
        return nullptr;
    }
    if (d->handle == -1) return nullptr;
    if (!d->name) {
        // The first entry was found by the find that opened the stream.
        d->name = d->rec.name;
        return d->name;
    }
    if (_findnext(d->handle, &d->rec) != 0) return nullptr;
    return d->name;
}

void plat_rewinddir(plat_dir *d)
{
    if (!d) return;
    if (d->handle != -1) _findclose(d->handle);
    d->handle = _findfirst(d->pattern, &d->rec);
    d->name = nullptr;
}

int plat_closedir(plat_dir *d)
{
    if (!d) {
        errno = EBADF;
        return -1;
    }
    int r = d->handle != -1 ? _findclose(d->handle) : 0;
    free(d);
    return r == 0 ? 0 : -1;
}

int plat_chdir(const char *path) { return path && _chdir(path) == 0 ? 0 : -1; }

int plat_getcwd(char *buf, int size) { return buf && size > 0 && _getcwd(buf, size) != nullptr; }

int plat_mkdir(const char *path) { return path && _mkdir(path) == 0 ? 0 : -1; }

static void plat_seterrno(DWORD err)
{
    switch (err) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: errno = ENOENT; break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: errno = EACCES; break;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS: errno = EEXIST; break;
    default: errno = EIO; break;
    }
}

int plat_rename(const char *from, const char *to)
{
    if (!from || !to) return -1;
    if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING)) return 0;
    plat_seterrno(GetLastError());
    return -1;
}

int plat_truncate(const char *path, uint64_t size)
{
    HANDLE h = path ? CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, NULL)
                    : INVALID_HANDLE_VALUE;
    if (h == INVALID_HANDLE_VALUE) {
        plat_seterrno(GetLastError());
        return -1;
    }
    LARGE_INTEGER pos;
    pos.QuadPart = (LONGLONG)size;
    int ok = SetFilePointerEx(h, pos, NULL, FILE_BEGIN) && SetEndOfFile(h);
    if (!ok) plat_seterrno(GetLastError());
    CloseHandle(h);
    return ok ? 0 : -1;
}

uint32_t plat_mem_usable(void *block) { return block ? (uint32_t)_msize(block) : 0; }

static std::string program_dir(void)
{
    char path[MAX_PATH + 1];
    DWORD n = GetModuleFileNameA(NULL, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return "";
    path[n] = 0;
    for (DWORD i = 0; i < n; i++)
        if (path[i] == '\\') path[i] = '/';
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
