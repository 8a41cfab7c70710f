// cache.cpp - saved points on disk.
#include "tools/dev/cache.h"

#include <GL/glew.h>

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>

static std::string dir;          // the folder, "" when not in use
static uint64_t base_key;        // the build, mirador.dat and the size
static uint64_t key;             // and the --data folder's files
static std::string datadir;
static int warned_write;         // the one line about a failed write is said

// ---- Hash ----------------------------------------------------------------------------------
// 64-bit FNV-1a: enough to tell files apart, not a defence against someone who means harm.
static const uint64_t FNV_BASIS = 14695981039346656037ull, FNV_PRIME = 1099511628211ull;

static uint64_t fnv(uint64_t h, const void *data, size_t n)
{
    const uint8_t *p = (const uint8_t *)data;
    for (size_t i = 0; i < n; i++) h = (h ^ p[i]) * FNV_PRIME;
    return h;
}

static uint64_t fnv_u64(uint64_t h, uint64_t v)
{
    return fnv(h, &v, sizeof v);
}

// A file's bytes and its size into h; 0 when it cannot be read.
static int fnv_file(uint64_t *h, const char *path)
{
    FILE *f = fopen(path, "rb");
    if (!f) return 0;
    static uint8_t buf[1 << 16];
    size_t n;
    uint64_t size = 0;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) {
        *h = fnv(*h, buf, n);
        size += n;
    }
    int ok = !ferror(f);
    fclose(f);
    *h = fnv_u64(*h, size);
    return ok;
}

// ---- Folder --------------------------------------------------------------------------------
static int make_dirs(const std::string &path)
{
    for (size_t i = 1; i <= path.size(); i++) {
        if (i < path.size() && path[i] != '/') continue;
        std::string p = path.substr(0, i);
        if (mkdir(p.c_str(), 0700) != 0 && errno != EEXIST) return 0;
    }
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return 0;
    }
    return 1;
}

static std::string file_of(int period)
{
    char name[64];
    snprintf(name, sizeof name, "/%016llx-p%02d.ckpt", (unsigned long long)key, period);
    return dir + name;
}

static void key_from(const std::vector<std::string> &files)
{
    uint64_t h = base_key;
    std::vector<std::string> sorted = files;
    std::sort(sorted.begin(), sorted.end());
    for (const std::string &n : sorted) {
        h = fnv(h, n.c_str(), n.size() + 1);
        if (!fnv_file(&h, (datadir + "/" + n).c_str())) h = fnv_u64(h, 0xdeadull);  // gone while read
    }
    key = h;
}

int dev_cache_open(const char *datfile, const char *data, const std::vector<std::string> &files, int width,
                   int height)
{
    dir.clear();
    const char *xdg = getenv("XDG_CACHE_HOME"), *home = getenv("HOME");
    std::string folder;
    if (xdg && xdg[0] == '/') folder = std::string(xdg) + "/mirador";
    else if (home && home[0]) folder = std::string(home) + "/.cache/mirador";
    else {
        printf("mirador-dev: no cache folder (neither XDG_CACHE_HOME nor HOME is set): saved points last this session only\n");
        return 0;
    }
    if (!make_dirs(folder) || access(folder.c_str(), W_OK | X_OK) != 0) {
        printf("mirador-dev: the cache folder %s cannot be used (%s): saved points last this session only\n",
               folder.c_str(), strerror(errno));
        return 0;
    }
    uint64_t h = fnv(FNV_BASIS, "mirador-dev saved points 1", 27);
    if (!fnv_file(&h, "/proc/self/exe") || !fnv_file(&h, datfile)) {
        printf("mirador-dev: the program or %s cannot be read to key the cache: saved points last this session only\n",
               datfile);
        return 0;
    }
    h = fnv_u64(h, (uint64_t)width);
    h = fnv_u64(h, (uint64_t)height);
    // Another GL driver may draw other pixels into the framebuffer.
    const char *gl[3] = { (const char *)glGetString(GL_VENDOR), (const char *)glGetString(GL_RENDERER),
                          (const char *)glGetString(GL_VERSION) };
    for (const char *g : gl) h = g ? fnv(h, g, strlen(g) + 1) : fnv_u64(h, 0);
    base_key = h;
    datadir = data ? data : "";
    key_from(files);
    dir = folder;
    warned_write = 0;
    return 1;
}

void dev_cache_rekey(const std::vector<std::string> &files)
{
    if (!dir.empty()) key_from(files);
}

const char *dev_cache_dir(void)
{
    return dir.c_str();
}

uint64_t dev_cache_key(void)
{
    return key;
}

// ---- Files ---------------------------------------------------------------------------------
// A file: this header, then the saved point's bytes (dev_checkpoint_write).
struct file_head {
    char magic[8];       // "MIRCACHE"
    uint64_t key;
    int32_t period;
    uint32_t zero;
    uint64_t size;       // the bytes after the header
    uint64_t hash;       // FNV-1a of those bytes
};
static const char MAGIC[8] = { 'M', 'I', 'R', 'C', 'A', 'C', 'H', 'E' };

// Files found unusable, by path, with the size and change time they had: one is
// looked at (and said) again only once it has changed.
struct seen_file { long long size, mtime_ns; };
static std::map<std::string, seen_file> ignored;

static seen_file seen_of(const struct stat &st)
{
    return { (long long)st.st_size, (long long)st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec };
}

int dev_cache_has(int period)
{
    if (dir.empty()) return 0;
    struct stat st;
    std::string path = file_of(period);
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    auto i = ignored.find(path);
    seen_file now = seen_of(st);
    return i == ignored.end() || i->second.size != now.size || i->second.mtime_ns != now.mtime_ns;
}

int dev_cache_load(int period, dev_checkpoint *cp)
{
    cp->valid = 0;
    if (dir.empty()) return 0;
    std::string path = file_of(period);
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) return 0;
    struct stat st;
    seen_file at = fstat(fileno(f), &st) == 0 ? seen_of(st) : seen_file{ -1, -1 };
    // A saved point is about 1 MB; a file far larger is no saved point of this show.
    std::vector<uint8_t> all(at.size >= 0 && at.size <= (64ll << 20) ? (size_t)at.size : 0);
    if (!all.empty() && fread(all.data(), 1, all.size(), f) != all.size()) all.clear();
    fclose(f);
    file_head h;
    const char *why = nullptr;
    if (all.size() < sizeof h) why = "shorter than its header";
    else {
        memcpy(&h, all.data(), sizeof h);
        if (memcmp(h.magic, MAGIC, 8) != 0) why = "not a saved point";
        else if (h.key != key || h.period != period || h.zero != 0) why = "another build's or other files'";
        else if (h.size != all.size() - sizeof h) why = "truncated or too long";
        else if (fnv(FNV_BASIS, all.data() + sizeof h, (size_t)h.size) != h.hash) why = "damaged (its hash differs)";
        else if (!dev_checkpoint_read(cp, all.data() + sizeof h, (size_t)h.size)) why = "not a saved point of this show";
    }
    if (why) {
        ignored[path] = at;
        printf("mirador-dev: cache file %s: %s: ignored\n", path.c_str(), why);
        fflush(stdout);
        cp->valid = 0;
        return 0;
    }
    utimensat(AT_FDCWD, path.c_str(), nullptr, 0);  // used now: the last to go
    return 1;
}

struct entry { std::string path; uint64_t size; struct timespec used; };

static std::vector<entry> list_files(void)
{
    std::vector<entry> v;
    DIR *d = opendir(dir.c_str());
    if (!d) return v;
    while (struct dirent *e = readdir(d)) {
        size_t l = strlen(e->d_name);
        if (l < 5 || strcmp(e->d_name + l - 5, ".ckpt") != 0) continue;
        std::string p = dir + "/" + e->d_name;
        struct stat st;
        if (stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode)) v.push_back({ p, (uint64_t)st.st_size, st.st_mtim });
    }
    closedir(d);
    return v;
}

uint64_t dev_cache_size(void)
{
    uint64_t n = 0;
    if (!dir.empty())
        for (const entry &e : list_files()) n += e.size;
    return n;
}

// Removes the least recently used files until the folder holds at most the limit.
static void trim(void)
{
    std::vector<entry> v = list_files();
    uint64_t total = 0;
    for (const entry &e : v) total += e.size;
    if (total <= DEV_CACHE_LIMIT) return;
    std::sort(v.begin(), v.end(), [](const entry &a, const entry &b) {
        return a.used.tv_sec != b.used.tv_sec ? a.used.tv_sec < b.used.tv_sec : a.used.tv_nsec < b.used.tv_nsec;
    });
    for (const entry &e : v) {
        if (total <= DEV_CACHE_LIMIT) break;
        if (unlink(e.path.c_str()) == 0) total -= e.size;
    }
}

void dev_cache_store(int period, const dev_checkpoint *cp)
{
    if (dir.empty()) return;
    std::vector<uint8_t> body;
    if (!dev_checkpoint_write(cp, &body)) return;
    file_head h;
    memcpy(h.magic, MAGIC, 8);
    h.key = key;
    h.period = period;
    h.zero = 0;
    h.size = body.size();
    h.hash = fnv(FNV_BASIS, body.data(), body.size());
    std::string path = file_of(period);
    char tmpname[32];
    snprintf(tmpname, sizeof tmpname, ".tmp%ld", (long)getpid());
    std::string tmp = path + tmpname;
    FILE *f = fopen(tmp.c_str(), "wb");
    int ok = f && fwrite(&h, sizeof h, 1, f) == 1 && fwrite(body.data(), 1, body.size(), f) == body.size();
    if (f && fclose(f) != 0) ok = 0;
    if (ok && rename(tmp.c_str(), path.c_str()) != 0) ok = 0;
    if (!ok) {
        int e = errno;
        unlink(tmp.c_str());
        if (!warned_write) {
            printf("mirador-dev: the cache folder %s cannot be written (%s): saved points last this session only\n",
                   dir.c_str(), strerror(e));
            fflush(stdout);
            warned_write = 1;
        }
        return;
    }
    trim();
}
