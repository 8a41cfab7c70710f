// corepack.cpp - the CORE image writer and the image tool's library side.
#include "corefile/corepack.h"
#include "corefile/corefile.h"

#include "platform/platform.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// Positions live in signed 32-bit fields of the file API.
static const uint64_t CP_MAXFILE = 0x7fffffffu;

static void put32(unsigned char *p, uint32_t v)
{
    p[0] = (unsigned char)v;
    p[1] = (unsigned char)(v >> 8);
    p[2] = (unsigned char)(v >> 16);
    p[3] = (unsigned char)(v >> 24);
}

// Hash over exactly len bytes (the stored name is not terminated in the image).
static uint32_t cp_hash(const unsigned char *name, uint32_t len)
{
    uint32_t sum = 0;
    for (uint32_t i = 0; i < len; i++)
        sum += (uint32_t)(int32_t)(int8_t)name[i];
    return sum;
}

int corepack_normname(char *dst, int dstsize, const char *name)
{
    if (!dst || dstsize < 1 || !name)
        return 0;
    for (;;) {  // drop leading "/", "\" and "./"
        if (name[0] == '/' || name[0] == '\\')
            name++;
        else if (name[0] == '.' && (name[1] == '/' || name[1] == '\\'))
            name += 2;
        else
            break;
    }
    int n = (int)strlen(name);
    if (n == 0 || n >= dstsize)
        return 0;
    file_downcase(dst, name, n);
    for (int i = 0; i < n; i++)
        if (dst[i] == '\\')
            dst[i] = '/';
    dst[n] = 0;
    return 1;
}

// ---- Building ----------------------------------------------------------------------------

typedef struct {
    char *name;
    const corepack_file *file;
} cp_entry;

static int cp_entry_cmp(const void *a, const void *b)
{
    return strcmp(((const cp_entry *)a)->name, ((const cp_entry *)b)->name);
}

static void cp_free_entries(cp_entry *e, int count)
{
    if (!e)
        return;
    for (int i = 0; i < count; i++)
        free(e[i].name);
    free(e);
}

unsigned char *corepack_build(const corepack_file *files, int count, uint32_t base,
                              uint32_t *size)
{
    if (count < 0 || (count > 0 && !files)) {
        printf("corepack: bad file list\n");
        return NULL;
    }
    cp_entry *e = (cp_entry *)calloc(count > 0 ? (size_t)count : 1, sizeof(cp_entry));
    if (!e) {
        printf("corepack: out of memory\n");
        return NULL;
    }
    uint64_t total = (uint64_t)base + 12;
    for (int i = 0; i < count; i++) {
        const char *src = files[i].name ? files[i].name : "";
        int cap = (int)strlen(src) + 1;
        e[i].name = (char *)malloc((size_t)cap);
        e[i].file = &files[i];
        if (!e[i].name) {
            printf("corepack: out of memory\n");
            cp_free_entries(e, count);
            return NULL;
        }
        if (!corepack_normname(e[i].name, cap, src)) {
            printf("corepack: empty file name (entry %d: \"%s\")\n", i, src);
            cp_free_entries(e, count);
            return NULL;
        }
        if (files[i].size > 0 && !files[i].data) {
            printf("corepack: no data for %s\n", e[i].name);
            cp_free_entries(e, count);
            return NULL;
        }
        total += 12 + strlen(e[i].name) + (uint64_t)files[i].size;
        if (total > CP_MAXFILE) {
            printf("corepack: image too large (limit %u bytes)\n", (unsigned)CP_MAXFILE);
            cp_free_entries(e, count);
            return NULL;
        }
    }
    if (count > 1)
        qsort(e, (size_t)count, sizeof(cp_entry), cp_entry_cmp);
    for (int i = 1; i < count; i++) {
        if (strcmp(e[i - 1].name, e[i].name) == 0) {
            printf("corepack: duplicate file name %s\n", e[i].name);
            cp_free_entries(e, count);
            return NULL;
        }
    }

    uint32_t len = (uint32_t)(total - base);
    unsigned char *out = (unsigned char *)malloc(len);
    if (!out) {
        printf("corepack: out of memory\n");
        cp_free_entries(e, count);
        return NULL;
    }
    uint32_t dirsize = 12;
    for (int i = 0; i < count; i++)
        dirsize += 12 + (uint32_t)strlen(e[i].name);

    memcpy(out, "CORE", 4);
    put32(out + 4, (uint32_t)count);
    put32(out + 8, (uint32_t)total);  // romsize: one past the last data byte
    unsigned char *d = out + 12;
    uint32_t dataofs = base + dirsize;
    unsigned char *data = out + dirsize;
    for (int i = 0; i < count; i++) {
        uint32_t n = (uint32_t)strlen(e[i].name);
        put32(d, n);
        put32(d + 4, cp_hash((const unsigned char *)e[i].name, n));
        memcpy(d + 8, e[i].name, n);
        put32(d + 8 + n, dataofs);
        d += 12 + n;
        if (e[i].file->size)
            memcpy(data, e[i].file->data, e[i].file->size);
        data += e[i].file->size;
        dataofs += e[i].file->size;
    }
    cp_free_entries(e, count);
    *size = len;
    return out;
}

// Writes len bytes to path through a temporary file renamed into place.
static int cp_savefile(const char *path, const unsigned char *data, uint32_t len)
{
    size_t n = strlen(path);
    char *tmp = (char *)malloc(n + 5);
    if (!tmp) {
        printf("corepack: out of memory\n");
        return 0;
    }
    memcpy(tmp, path, n);
    memcpy(tmp + n, ".tmp", 5);
    FILE *f = fopen(tmp, "wb");
    if (!f) {
        printf("corepack: cannot create %s: %s\n", tmp, strerror(errno));
        free(tmp);
        return 0;
    }
    int ok = fwrite(data, 1, len, f) == len;
    ok = (fclose(f) == 0) && ok;
    if (ok && plat_rename(tmp, path) != 0)
        ok = 0;
    if (!ok) {
        printf("corepack: cannot write %s: %s\n", path, strerror(errno));
        remove(tmp);
    }
    free(tmp);
    return ok;
}

int corepack_write(const char *path, const corepack_file *files, int count)
{
    if (!path || !*path) {
        printf("corepack: no output path\n");
        return 0;
    }
    uint32_t len = 0;
    unsigned char *img = corepack_build(files, count, 0, &len);
    if (!img)
        return 0;
    int ok = cp_savefile(path, img, len);
    free(img);
    return ok;
}

// ---- Reading and checking ---------------------------------------------------------------------

// Reads a whole host file (below 2 GiB) into a malloc'd buffer.
static unsigned char *cp_loadfile(const char *path, uint32_t *len)
{
    FILE *f = fopen(path, "rb");
    if (!f) {
        printf("corepack: cannot open %s: %s\n", path, strerror(errno));
        return NULL;
    }
    long n = -1;
    if (fseek(f, 0, SEEK_END) == 0)
        n = ftell(f);
    if (n < 0 || (uint64_t)n > CP_MAXFILE || fseek(f, 0, SEEK_SET) != 0) {
        printf("corepack: %s: cannot size the file or it is 2 GiB or more\n", path);
        fclose(f);
        return NULL;
    }
    unsigned char *buf = (unsigned char *)malloc(n > 0 ? (size_t)n : 1);
    if (!buf) {
        printf("corepack: out of memory\n");
        fclose(f);
        return NULL;
    }
    if (fread(buf, 1, (size_t)n, f) != (size_t)n) {
        printf("corepack: cannot read %s\n", path);
        free(buf);
        fclose(f);
        return NULL;
    }
    fclose(f);
    *len = (uint32_t)n;
    return buf;
}

int corepack_check(const unsigned char *data, uint32_t length, uint32_t start,
                   uint32_t limit, int quiet)
{
#define CP_FAULT(...) do { if (!quiet) { printf("corepack: bad image: " __VA_ARGS__); } return 0; } while (0)
    if (!data || limit > length)
        CP_FAULT("image runs past the end of the file\n");
    if (start > limit || limit - start < 12)
        CP_FAULT("header truncated\n");
    if (memcmp(data + start, "CORE", 4) != 0)
        CP_FAULT("no CORE magic at position %u\n", (unsigned)start);
    uint32_t numfiles = getint(data + start + 4);
    uint32_t romsize = getint(data + start + 8);
    uint32_t pos = start + 12;
    if (numfiles > (limit - pos) / 12)
        CP_FAULT("numfiles %u does not fit in the file\n", (unsigned)numfiles);
    uint32_t prev = 0;
    for (uint32_t i = 0; i < numfiles; i++) {
        if (limit - pos < 12)
            CP_FAULT("entry %u: directory truncated\n", (unsigned)i);
        uint32_t namelen = getint(data + pos);
        uint32_t hash = getint(data + pos + 4);
        if (namelen > limit - pos - 12)
            CP_FAULT("entry %u: name length %u runs past the end\n", (unsigned)i, (unsigned)namelen);
        const unsigned char *name = data + pos + 8;
        if (namelen == 0)
            CP_FAULT("entry %u: empty name\n", (unsigned)i);
        if (memchr(name, 0, namelen))
            CP_FAULT("entry %u: name holds a NUL byte\n", (unsigned)i);
        if (cp_hash(name, namelen) != hash)
            CP_FAULT("entry %u (%.*s): stored hash %d does not match the name (%d)\n", (unsigned)i,
                     (int)namelen, (const char *)name, (int)hash, (int)cp_hash(name, namelen));
        uint32_t offset = getint(data + pos + 8 + namelen);
        if (offset > limit)
            CP_FAULT("entry %u (%.*s): offset %u past the end\n", (unsigned)i, (int)namelen,
                     (const char *)name, (unsigned)offset);
        if (i > 0 && offset < prev)
            CP_FAULT("entry %u (%.*s): offset %u below the previous one (%u)\n", (unsigned)i,
                     (int)namelen, (const char *)name, (unsigned)offset, (unsigned)prev);
        prev = offset;
        pos += 12 + namelen;
    }
    if (numfiles > 0) {
        // pos is now the end of the directory: data must follow it.
        uint32_t first = getint(data + start + 12 + 8 + getint(data + start + 12));
        if (first < pos)
            CP_FAULT("first offset %u lies inside the directory (ends at %u)\n", (unsigned)first,
                     (unsigned)pos);
        if (romsize < prev)
            CP_FAULT("romsize %u below the last offset %u\n", (unsigned)romsize, (unsigned)prev);
    }
    if (romsize > limit)
        CP_FAULT("romsize %u past the end (%u)\n", (unsigned)romsize, (unsigned)limit);
    return 1;
#undef CP_FAULT
}

// Finds the image inside a loaded file: at position 0, or appended with a trailer.
// Returns 1 with *start and *limit set, else 0 (with a message).
static int cp_locate(const unsigned char *data, uint32_t len, uint32_t *start, uint32_t *limit)
{
    if (len >= 4 && memcmp(data, "CORE", 4) == 0) {
        *start = 0;
        *limit = len;
        return 1;
    }
    if (len >= 8) {
        uint32_t s = getint(data + len - 4);
        if (s <= len - 8 && memcmp(data + s, "CORE", 4) == 0) {
            *start = s;
            *limit = len - 4;
            return 1;
        }
    }
    printf("corepack: bad image: no CORE magic at the start or at the trailer's position\n");
    return 0;
}

static unsigned char *cp_loadimage(const char *path, uint32_t *len, uint32_t *start, uint32_t *limit)
{
    unsigned char *data = cp_loadfile(path, len);
    if (!data)
        return NULL;
    if (!cp_locate(data, *len, start, limit) || !corepack_check(data, *len, *start, *limit, 0)) {
        free(data);
        return NULL;
    }
    return data;
}

int corepack_verify(const char *path)
{
    uint32_t len, start, limit;
    unsigned char *data = cp_loadimage(path, &len, &start, &limit);
    if (!data)
        return 0;
    free(data);
    return 1;
}

// Calls fn for each entry of a checked image.
typedef int (*cp_entryfn)(void *ctx, const char *name, const unsigned char *data,
                          uint32_t offset, uint32_t size);

static int cp_foreach(const unsigned char *data, uint32_t start, cp_entryfn fn, void *ctx)
{
    uint32_t numfiles = getint(data + start + 4);
    uint32_t romsize = getint(data + start + 8);
    uint32_t pos = start + 12;
    char name[4096];
    for (uint32_t i = 0; i < numfiles; i++) {
        uint32_t namelen = getint(data + pos);
        uint32_t offset = getint(data + pos + 8 + namelen);
        uint32_t next = romsize;
        if (i + 1 < numfiles) {
            uint32_t np = pos + 12 + namelen;
            next = getint(data + np + 8 + getint(data + np));
        }
        if (namelen >= sizeof(name)) {
            printf("corepack: entry %u: name too long (%u bytes)\n", (unsigned)i, (unsigned)namelen);
            return 0;
        }
        memcpy(name, data + pos + 8, namelen);
        name[namelen] = 0;
        if (!fn(ctx, name, data + offset, offset, next - offset))
            return 0;
        pos += 12 + namelen;
    }
    return 1;
}

static int cp_listone(void *, const char *name, const unsigned char *, uint32_t offset, uint32_t size)
{
    printf("%-48s %10u %10u\n", name, (unsigned)offset, (unsigned)size);
    return 1;
}

int corepack_list(const char *image)
{
    uint32_t len, start, limit;
    unsigned char *data = cp_loadimage(image, &len, &start, &limit);
    if (!data)
        return 0;
    printf("%-48s %10s %10s\n", "name", "offset", "size");
    cp_foreach(data, start, cp_listone, NULL);
    free(data);
    return 1;
}

// ---- Extracting -------------------------------------------------------------------------------

// A name is safe to write below a folder when it is relative and has no "." or ".."
// component and no empty component.
static int cp_safename(const char *name)
{
    if (name[0] == '/' || name[0] == '\\' || name[0] == 0)
        return 0;
    const char *p = name;
    while (*p) {
        const char *q = p;
        while (*q && *q != '/' && *q != '\\')
            q++;
        size_t n = (size_t)(q - p);
        if (n == 0 || (n == 1 && p[0] == '.') || (n == 2 && p[0] == '.' && p[1] == '.'))
            return 0;
        p = *q ? q + 1 : q;
        if (*q && !*p)
            return 0;  // trailing separator
    }
    return 1;
}

static int cp_mkdirs(char *path)  // creates every folder of path up to its last "/"
{
    for (char *p = path + 1; *p; p++) {
        if (*p != '/')
            continue;
        *p = 0;
        int r = plat_mkdir(path);
        int e = errno;
        *p = '/';
        if (r != 0 && e != EEXIST) {
            printf("corepack: cannot create folder for %s: %s\n", path, strerror(e));
            return 0;
        }
    }
    return 1;
}

static int cp_extractone(void *ctx, const char *name, const unsigned char *data, uint32_t, uint32_t size)
{
    const char *dir = (const char *)ctx;
    if (!cp_safename(name)) {
        printf("corepack: refusing to extract unsafe name %s\n", name);
        return 0;
    }
    char path[8192];
    if (snprintf(path, sizeof(path), "%s/%s", dir, name) >= (int)sizeof(path)) {
        printf("corepack: path too long for %s\n", name);
        return 0;
    }
    for (char *p = path; *p; p++)
        if (*p == '\\')
            *p = '/';
    if (!cp_mkdirs(path))
        return 0;
    FILE *f = fopen(path, "wb");
    if (!f) {
        printf("corepack: cannot create %s: %s\n", path, strerror(errno));
        return 0;
    }
    int ok = fwrite(data, 1, size, f) == size;
    ok = (fclose(f) == 0) && ok;
    if (!ok)
        printf("corepack: cannot write %s\n", path);
    return ok;
}

int corepack_extract(const char *image, const char *dir)
{
    uint32_t len, start, limit;
    unsigned char *data = cp_loadimage(image, &len, &start, &limit);
    if (!data)
        return 0;
    plat_mkdir(dir);
    int ok = cp_foreach(data, start, cp_extractone, (void *)dir);
    free(data);
    return ok;
}

// ---- Appending --------------------------------------------------------------------------------

int corepack_append(const char *image, const char *file)
{
    uint32_t len, start, limit;
    unsigned char *data = cp_loadimage(image, &len, &start, &limit);
    if (!data)
        return 0;
    plat_fileinfo st;
    if (!plat_stat(file, &st) || st.kind != PLAT_FILE) {
        printf("corepack: cannot append to %s: not a regular file\n", file);
        free(data);
        return 0;
    }
    // The copied image runs from its header to its last data byte.
    uint32_t numfiles = getint(data + start + 4);
    uint32_t romsize = getint(data + start + 8);
    uint32_t dirend = start + 12;
    for (uint32_t i = 0; i < numfiles; i++)
        dirend += 12 + getint(data + dirend);
    uint32_t end = romsize > dirend ? romsize : dirend;
    uint64_t base = st.size;
    if (base + (end - start) + 4 > CP_MAXFILE) {
        printf("corepack: %s with the image appended would reach 2 GiB\n", file);
        free(data);
        return 0;
    }
    // Move offsets and romsize from positions in image to positions in the combined file.
    uint32_t shift = (uint32_t)base - start;  // wraps when base < start, as intended
    put32(data + start + 8, romsize + shift);
    uint32_t pos = start + 12;
    for (uint32_t i = 0; i < numfiles; i++) {
        uint32_t namelen = getint(data + pos);
        unsigned char *op = data + pos + 8 + namelen;
        put32(op, getint(op) + shift);
        pos += 12 + namelen;
    }
    unsigned char trailer[4];
    put32(trailer, (uint32_t)base);

    FILE *f = fopen(file, "ab");
    if (!f) {
        printf("corepack: cannot open %s: %s\n", file, strerror(errno));
        free(data);
        return 0;
    }
    int ok = fwrite(data + start, 1, end - start, f) == end - start;
    ok = ok && fwrite(trailer, 1, 4, f) == 4;
    ok = (fclose(f) == 0) && ok;
    free(data);
    if (!ok) {
        printf("corepack: cannot write %s; restoring its length\n", file);
        if (plat_truncate(file, base) != 0)
            printf("corepack: cannot restore %s: %s\n", file, strerror(errno));
    }
    return ok;
}

// ---- Packing a folder ---------------------------------------------------------------------------

typedef struct {
    corepack_file *files;
    char **names;
    unsigned char **datas;
    int count, cap;
    size_t rootlen;
    int ok;
} cp_walk;

static void cp_walkdir(cp_walk *w, const char *path, int depth)
{
    if (depth > 64) {
        printf("corepack: %s: folders nested too deeply\n", path);
        w->ok = 0;
        return;
    }
    plat_dir *d = plat_opendir(path);
    if (!d) {
        printf("corepack: cannot read folder %s: %s\n", path, strerror(errno));
        w->ok = 0;
        return;
    }
    const char *entry;
    while (w->ok && (entry = plat_readdir(d)) != NULL) {
        if (strcmp(entry, ".") == 0 || strcmp(entry, "..") == 0)
            continue;
        char full[4096];
        if (snprintf(full, sizeof(full), "%s/%s", path, entry) >= (int)sizeof(full)) {
            printf("corepack: path too long: %s/%s\n", path, entry);
            w->ok = 0;
            break;
        }
        plat_fileinfo st;
        if (!plat_stat(full, &st))
            continue;  // dangling link or vanished entry
        if (st.kind == PLAT_DIR) {
            if (st.islink)
                printf("corepack: not following linked folder %s\n", full);
            else
                cp_walkdir(w, full, depth + 1);
            continue;
        }
        if (st.kind != PLAT_FILE)
            continue;
        uint32_t len = 0;
        unsigned char *buf = cp_loadfile(full, &len);
        if (!buf) {
            w->ok = 0;
            break;
        }
        if (w->count == w->cap) {
            int ncap = w->cap ? w->cap * 2 : 64;
            corepack_file *nf = (corepack_file *)realloc(w->files, (size_t)ncap * sizeof(*nf));
            if (nf)
                w->files = nf;
            char **nn = (char **)realloc(w->names, (size_t)ncap * sizeof(*nn));
            if (nn)
                w->names = nn;
            unsigned char **nd = (unsigned char **)realloc(w->datas, (size_t)ncap * sizeof(*nd));
            if (nd)
                w->datas = nd;
            if (!nf || !nn || !nd) {
                printf("corepack: out of memory\n");
                free(buf);
                w->ok = 0;
                break;
            }
            w->cap = ncap;
        }
        char *name = strdup(full + w->rootlen);
        if (!name) {
            printf("corepack: out of memory\n");
            free(buf);
            w->ok = 0;
            break;
        }
        w->names[w->count] = name;
        w->datas[w->count] = buf;
        w->files[w->count].name = name;
        w->files[w->count].data = buf;
        w->files[w->count].size = len;
        w->count++;
    }
    plat_closedir(d);
}

int corepack_pack(const char *dir, const char *image)
{
    cp_walk w;
    memset(&w, 0, sizeof(w));
    w.ok = 1;
    char root[4096];
    size_t n = strlen(dir);
    while (n > 1 && dir[n - 1] == '/')
        n--;
    if (n == 0 || n >= sizeof(root) - 1) {
        printf("corepack: bad folder name\n");
        return 0;
    }
    memcpy(root, dir, n);
    root[n] = 0;
    w.rootlen = n + 1;  // names start after "<dir>/"
    cp_walkdir(&w, root, 0);
    int ok = w.ok && corepack_write(image, w.files, w.count);
    for (int i = 0; i < w.count; i++) {
        free(w.names[i]);
        free(w.datas[i]);
    }
    free(w.files);
    free(w.names);
    free(w.datas);
    return ok;
}
