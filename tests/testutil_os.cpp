// testutil_os.cpp - the tests' operating-system helpers, POSIX and Win32.
#include "testutil_os.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef _WIN32
#include <windows.h>
#include <mmsystem.h>
#include <direct.h>
#include <malloc.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

std::string tu_getcwd(void)
{
    char buf[4096];
#ifdef _WIN32
    return _getcwd(buf, sizeof(buf)) ? std::string(buf) : std::string();
#else
    return getcwd(buf, sizeof(buf)) ? std::string(buf) : std::string();
#endif
}

#ifdef _WIN32

// ---- Windows -----------------------------------------------------------------------------
std::string tu_mkdtemp(const char *prefix)
{
    static const char chars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    static unsigned seed = (unsigned)GetTickCount() ^ ((unsigned)GetCurrentProcessId() << 16);
    for (int tries = 0; tries < 100; tries++) {
        std::string path = std::string("/tmp/") + prefix;
        for (int i = 0; i < 6; i++) {
            seed = seed * 1103515245u + 12345u;
            path += chars[(seed >> 16) % 36];
        }
        if (_mkdir(path.c_str()) == 0) return path;
        if (errno != EEXIST) return "";
    }
    return "";
}

// The "\\?\" form of a path, which the wide calls take at any length.
static std::wstring tu_longpath(const std::string &path)
{
    int n = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, NULL, 0);
    std::wstring w((size_t)(n > 0 ? n : 1), L'\0');
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, &w[0], n);
    DWORD len = GetFullPathNameW(w.c_str(), 0, NULL, NULL);
    std::wstring full((size_t)len + 1, L'\0');
    len = GetFullPathNameW(w.c_str(), len + 1, &full[0], NULL);
    full.resize(len);
    return full.compare(0, 4, L"\\\\?\\") == 0 ? full : L"\\\\?\\" + full;
}

// Under Wine: the host path of a Windows path (null elsewhere), and a host program run
// with arguments. A host program's end is not reported to us, so the caller waits for
// what it does: done() is polled for up to five seconds.
typedef char *(CDECL *tu_unixname_fn)(LPCWSTR);

static tu_unixname_fn tu_wine(void)
{
    return (tu_unixname_fn)(void *)GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name");
}

static std::string tu_hostpath(const std::wstring &longpath)
{
    tu_unixname_fn unixname = tu_wine();
    char *u = unixname ? unixname(longpath.c_str()) : NULL;
    if (!u) return "";
    std::string r = u;
    HeapFree(GetProcessHeap(), 0, u);
    return r;
}

template <typename Done>
static int tu_host_run(const std::string &program, const std::vector<std::string> &args, Done done)
{
    std::string cmd = program;
    for (const std::string &a : args) cmd += " \"" + a + "\"";
    STARTUPINFOA si;
    memset(&si, 0, sizeof(si));
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi;
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back(0);
    if (!CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) return -1;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    // A minute at most: starting a program under Wine on a busy machine takes seconds.
    for (int i = 0; i < 6000 && !done(); i++) Sleep(10);
    return done() ? 0 : -1;
}

static int tu_host_rm(const std::wstring &path)
{
    std::string host = tu_hostpath(path);
    if (host.empty()) return -1;
    return tu_host_run("Z:\\bin\\rm -f", {host},
                       [&] { return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES; });
}

static int tu_rmtree_w(const std::wstring &path)
{
    DWORD attr = GetFileAttributesW(path.c_str());
    if (attr == INVALID_FILE_ATTRIBUTES) return 0;
    if (attr & FILE_ATTRIBUTE_REPARSE_POINT) {
        // A link: the link itself goes, whatever it points to. Wine follows a host
        // link even when asked for the link itself (and would remove what it points
        // to): there the host's rm removes it.
        if (tu_wine()) return tu_host_rm(path);
        if (RemoveDirectoryW(path.c_str()) || DeleteFileW(path.c_str())) return 0;
        return -1;
    }
    if (attr & FILE_ATTRIBUTE_DIRECTORY) {
        int r = 0;
        WIN32_FIND_DATAW fd;
        HANDLE h = FindFirstFileW((path + L"\\*").c_str(), &fd);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                if (wcscmp(fd.cFileName, L".") == 0 || wcscmp(fd.cFileName, L"..") == 0) continue;
                if (tu_rmtree_w(path + L"\\" + fd.cFileName) != 0) r = -1;
            } while (FindNextFileW(h, &fd));
            FindClose(h);
        }
        return RemoveDirectoryW(path.c_str()) ? r : -1;
    }
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return DeleteFileW(path.c_str()) ? 0 : -1;
}

int tu_rmtree(const std::string &path) { return tu_rmtree_w(tu_longpath(path)); }

static int tu_islink(const std::string &path)
{
    DWORD attr = GetFileAttributesW(tu_longpath(path).c_str());
    return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_REPARSE_POINT);
}

int tu_symlink(const std::string &target, const std::string &link)
{
    std::string dir = link.substr(0, link.find_last_of("/\\") + 1);
    DWORD tattr = GetFileAttributesA((dir + target).c_str());
    DWORD flags = (tattr != INVALID_FILE_ATTRIBUTES && (tattr & FILE_ATTRIBUTE_DIRECTORY)) ? 1 : 0;
    if (!tu_wine()) return CreateSymbolicLinkA(link.c_str(), target.c_str(), flags) && tu_islink(link) ? 0 : -1;
    // Wine reports success but makes no link. It shows the host's links as reparse
    // points, though: the host's ln makes one.
    std::string host = tu_hostpath(tu_longpath(link));
    if (host.empty()) return -1;
    std::string utarget = target;
    for (char &c : utarget)
        if (c == '\\') c = '/';
    return tu_host_run("Z:\\bin\\ln -s", {utarget, host}, [&] { return tu_islink(link) != 0; });
}

int tu_mkdir(const std::string &path) { return CreateDirectoryW(tu_longpath(path).c_str(), NULL) ? 0 : -1; }

int tu_writefile(const std::string &path, const std::string &data)
{
    HANDLE h = CreateFileW(tu_longpath(path).c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           NULL);
    if (h == INVALID_HANDLE_VALUE) return -1;
    DWORD done = 0;
    BOOL ok = data.empty() || WriteFile(h, data.data(), (DWORD)data.size(), &done, NULL);
    CloseHandle(h);
    return ok && done == data.size() ? 0 : -1;
}

int tu_chdir(const std::string &path) { return _chdir(path.c_str()) == 0 ? 0 : -1; }

long long tu_filesize(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA fa;
    if (!GetFileAttributesExW(tu_longpath(path).c_str(), GetFileExInfoStandard, &fa)) return -1;
    return ((long long)fa.nFileSizeHigh << 32) | fa.nFileSizeLow;
}

void tu_setenv(const char *name, const char *value) { _putenv_s(name, value); }

void tu_sleep_ms(unsigned ms) { Sleep(ms); }

int tu_run(const std::string &program, const std::vector<std::string> &args, const std::string &out_path)
{
    std::string cmd = "\"" + program + ".exe\"";
    for (const std::string &a : args) cmd += " \"" + a + "\"";
    SECURITY_ATTRIBUTES sa = { sizeof(sa), NULL, TRUE };
    HANDLE nul = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                             OPEN_EXISTING, 0, NULL);
    HANDLE out = nul;
    if (!out_path.empty())
        out = CreateFileA(out_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, NULL);
    STARTUPINFOA si;
    memset(&si, 0, sizeof(si));
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = nul;
    si.hStdOutput = out;
    si.hStdError = nul;
    PROCESS_INFORMATION pi;
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back(0);
    int status = -1;
    if (out != INVALID_HANDLE_VALUE &&
        CreateProcessA(NULL, line.data(), NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi)) {
        WaitForSingleObject(pi.hProcess, INFINITE);
        DWORD code = 0;
        if (GetExitCodeProcess(pi.hProcess, &code)) status = (int)code;
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    if (out != nul && out != INVALID_HANDLE_VALUE) CloseHandle(out);
    if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
    return status;
}

size_t tu_usable_size(void *block) { return _msize(block); }

int tu_no_audio_device(void) { return waveOutGetNumDevs() == 0; }

#else

// ---- Linux ---------------------------------------------------------------------------------
std::string tu_mkdtemp(const char *prefix)
{
    std::string tmpl = std::string("/tmp/") + prefix + "XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back(0);
    return mkdtemp(buf.data()) ? std::string(buf.data()) : std::string();
}

int tu_rmtree(const std::string &path)
{
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return errno == ENOENT ? 0 : -1;
    if (!S_ISDIR(st.st_mode)) return unlink(path.c_str()) == 0 ? 0 : -1;
    int r = 0;
    std::vector<std::string> names;
    if (DIR *d = opendir(path.c_str())) {
        while (struct dirent *e = readdir(d))
            if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
        closedir(d);
    }
    for (const std::string &n : names)
        if (tu_rmtree(path + "/" + n) != 0) r = -1;
    return rmdir(path.c_str()) == 0 ? r : -1;
}

int tu_symlink(const std::string &target, const std::string &link)
{
    return symlink(target.c_str(), link.c_str()) == 0 ? 0 : -1;
}

int tu_mkdir(const std::string &path) { return mkdir(path.c_str(), 0777) == 0 ? 0 : -1; }

int tu_writefile(const std::string &path, const std::string &data)
{
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) return -1;
    size_t n = data.empty() ? 0 : fwrite(data.data(), 1, data.size(), f);
    return fclose(f) == 0 && n == data.size() ? 0 : -1;
}

int tu_chdir(const std::string &path) { return chdir(path.c_str()) == 0 ? 0 : -1; }

long long tu_filesize(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? (long long)st.st_size : -1;
}

void tu_setenv(const char *name, const char *value) { setenv(name, value, 1); }

void tu_sleep_ms(unsigned ms) { usleep(ms * 1000u); }

int tu_run(const std::string &program, const std::vector<std::string> &args, const std::string &out_path)
{
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(program.c_str()));
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    fflush(stdout);
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        int out = out_path.empty() ? open("/dev/null", O_WRONLY)
                                   : open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        int null = open("/dev/null", O_RDWR);
        if (out < 0 || null < 0) _exit(127);
        dup2(null, 0);
        dup2(out, 1);
        dup2(null, 2);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

size_t tu_usable_size(void *block) { return malloc_usable_size(block); }

int tu_no_audio_device(void)
{
    // SDL's name for no driver, and the window-less backend's.
    setenv("SDL_AUDIODRIVER", "none", 1);
    setenv("ORB_AUDIO", "none", 1);
    return 1;
}

#endif

int tu_display_set(void)
{
    const char *d = getenv("DISPLAY");
    return d && *d;
}
