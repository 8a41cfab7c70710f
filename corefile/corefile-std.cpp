// corefile-std.cpp - the CORE resource image (or a mounted host directory) and the file
// API over it.
//
// Image layout (32-bit little-endian): "CORE", numfiles, romsize, then numfiles entries
// {namelen, hash, name bytes, offset}, then the data. An entry runs from its offset to the
// next entry's offset (the last to romsize). The directory is checked against the file's
// size while it is read, so a damaged image is refused instead of driving allocations or
// reads past the file.
#include "corefile/corefile.h"
#include "corefile/coredebug.h"
#include "corefile/coremem.h"
#include "corefile/dirent.h"
#include "platform/platform.h"

#include <stdint.h>
#include <string.h>

#define CF_MALLOC(n) _wrap_malloc_dbg((int)(n), __FILE__, __LINE__)
#define CF_FREE(p) _wrap_free_dbg((p), __FILE__, __LINE__)

// Positions are kept in the handles' signed 32-bit fields.
static const long CF_MAXFILE = 0x7fffffffL;

// Size of an open host file (the stream is left at its end), or -1 when it cannot be
// read or is CF_MAXFILE bytes or more.
static long cf_host_size(FILE *fp)
{
    long size = -1;
    if (fseek(fp, 0, SEEK_END) == 0)
        size = ftell(fp);
    return size < 0 || size > CF_MAXFILE ? -1 : size;
}

s_coreimage corefile_image;
int corefile_mounttype = 0;
FILE *g_fp = NULL;
char corefile_pathname[1024];
char *corefile_localpath = NULL;

static int cf_mounted = 0;  // a mount is in place that corefile_closeimage must release

int32_t corefile_gethash(const char *name)
{
    // Sum of the bytes as signed 8-bit values, wrapping in 32 bits.
    uint32_t sum = 0;
    for (const unsigned char *p = (const unsigned char *)name; *p; p++)
        sum += (uint32_t)(int32_t)(int8_t)*p;
    return (int32_t)sum;
}

uint32_t getint(const unsigned char *p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

void file_downcase(char *dst, const char *src, int length)
{
    for (int i = 0; i < length; i++) {
        char c = src[i];
        dst[i] = (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c;
    }
}

// ---- Mounting -------------------------------------------------------------------------------

// Releases the directory arrays and names (entries 0..numfiles-1 hold names).
static void cf_free_directory(void)
{
    s_coreimage *im = &corefile_image;
    if (im->names) {
        for (uint32_t i = 0; i < im->numfiles && i < im->slots; i++)
            if (im->names[i])
                CF_FREE(im->names[i]);
        CF_FREE(im->names);
    }
    if (im->offsets)
        CF_FREE(im->offsets);
    if (im->hashes)
        CF_FREE(im->hashes);
    im->names = NULL;
    im->offsets = NULL;
    im->hashes = NULL;
    im->numfiles = 0;
    im->romsize = 0;
    im->slots = 0;
}

// Allocates the three arrays with count slots each (at least one), zeroed.
static int cf_alloc_directory(uint32_t count)
{
    s_coreimage *im = &corefile_image;
    uint32_t n = count ? count : 1;
    im->offsets = (uint32_t *)CF_MALLOC(n * sizeof(uint32_t));
    im->names = (char **)CF_MALLOC(n * sizeof(char *));
    im->hashes = (uint32_t *)CF_MALLOC(n * sizeof(uint32_t));
    if (!im->offsets || !im->names || !im->hashes) {
        cf_free_directory();
        return 0;
    }
    memset(im->offsets, 0, n * sizeof(uint32_t));
    memset(im->names, 0, n * sizeof(char *));
    memset(im->hashes, 0, n * sizeof(uint32_t));
    im->slots = count;
    return 1;
}

static int cf_readn(void *dst, size_t n)
{
    return fread(dst, 1, n, g_fp) == n;
}

// Reads the header and directory from g_fp's current position (start); the image and its
// data must end at or before limit. Returns 1, or 0 with nothing left allocated.
static int readheader_image(uint32_t start, uint32_t limit)
{
    s_coreimage *im = &corefile_image;
    unsigned char b[12];
    if (!cf_readn(b, 4) || memcmp(b, "CORE", 4) != 0)
        return 0;  // not an image: refused without a message
    if (limit < start || limit - start < 12 || !cf_readn(b + 4, 8)) {
        _dbg_printf("bad image: header truncated\n");
        return 0;
    }
    uint32_t numfiles = getint(b + 4);
    uint32_t romsize = getint(b + 8);
    _dbg_printf("numfiles: %d\n", (int)numfiles);
    _dbg_printf("romsize: %d\n", (int)romsize);

    uint32_t pos = start + 12;
    // Each entry takes at least 12 bytes of the file.
    if (numfiles > (limit - pos) / 12) {
        _dbg_printf("bad image: numfiles %u does not fit in the file\n", (unsigned)numfiles);
        return 0;
    }
    if (romsize > limit) {
        _dbg_printf("bad image: romsize %u past the end of the file (%u)\n", (unsigned)romsize,
                    (unsigned)limit);
        return 0;
    }
    if (!cf_alloc_directory(numfiles))
        return 0;
    const char *fault = NULL;
    uint32_t i = 0;
    for (; i < numfiles; i++) {
        if (limit - pos < 12 || !cf_readn(b, 8)) {
            fault = "directory truncated";
            break;
        }
        uint32_t namelen = getint(b);
        if (namelen > limit - pos - 12) {
            fault = "name length runs past the end of the file";
            break;
        }
        im->hashes[i] = getint(b + 4);
        char *name = (char *)CF_MALLOC((size_t)namelen + 1);
        if (!name) {
            fault = "out of memory";
            break;
        }
        im->names[i] = name;
        im->numfiles = i + 1;  // so a failure below frees this name too
        if (!cf_readn(name, namelen) || !cf_readn(b, 4)) {
            fault = "directory truncated";
            break;
        }
        name[namelen] = 0;
        uint32_t offset = getint(b);
        if (offset > limit) {
            fault = "offset past the end of the file";
            break;
        }
        if (i > 0 && offset < im->offsets[i - 1]) {
            fault = "offsets not in ascending order";
            break;
        }
        im->offsets[i] = offset;
        pos += 12 + namelen;
    }
    if (!fault && numfiles > 0 && romsize < im->offsets[numfiles - 1])
        fault = "romsize below the last offset";
    if (fault) {
        _dbg_printf("bad image: entry %u: %s\n", (unsigned)i, fault);
        cf_free_directory();
        return 0;
    }
    im->numfiles = numfiles;
    im->romsize = romsize;
    return 1;
}

// Walks the mounted directory twice: once to count its files, once to record their paths.
static int readheader_directory(void)
{
    s_coreimage *im = &corefile_image;
    memset(curDir, 0, sizeof(curDir));
    memset(curFile, 0, sizeof(curFile));
    diroffset = 0;
    im->numfiles = 0;
    im->slots = 0;
    corefile_opendir((const char *)im->base, 0);
    uint32_t count = im->numfiles;
    im->numfiles = 0;
    _dbg_printf("Found %d files\n", (int)count);
    if (!cf_alloc_directory(count))
        return 0;
    memset(curDir, 0, sizeof(curDir));
    memset(curFile, 0, sizeof(curFile));
    diroffset = 0;
    corefile_opendir((const char *)im->base, 1);
    return 1;
}

// The listing and the current directory, common to both mount types.
static int cf_alloc_listing(void)
{
    uint32_t n = corefile_image.numfiles ? corefile_image.numfiles : 1;
    corefile_filelist = (s_corefile_entry *)CF_MALLOC(n * sizeof(s_corefile_entry));
    corefile_localpath = (char *)CF_MALLOC(256);
    if (!corefile_filelist || !corefile_localpath) {
        if (corefile_filelist)
            CF_FREE(corefile_filelist);
        if (corefile_localpath)
            CF_FREE(corefile_localpath);
        corefile_filelist = NULL;
        corefile_localpath = NULL;
        return 0;
    }
    memset(corefile_filelist, 0, n * sizeof(s_corefile_entry));
    memset(corefile_localpath, 0, 256);
    strcpy(corefile_localpath, "/");
    corefile_numfiles = 0;
    return 1;
}

// Drops a half-made mount: the file or stored path and everything allocated.
static void cf_abandon(void)
{
    if (corefile_mounttype == 0 && g_fp)
        fclose(g_fp);
    else if (corefile_mounttype == 2 && corefile_image.base)
        CF_FREE(corefile_image.base);
    g_fp = NULL;
    corefile_image.base = NULL;
    cf_free_directory();
}

int corefile_mountimage(const char *name, int request)
{
    if (!name)
        return 0;
    size_t plen = strnlen(corefile_pathname, sizeof(corefile_pathname) - 1);
    size_t nlen = strlen(name);
    char *path = (char *)CF_MALLOC(plen + nlen + 1);
    if (!path)
        return 0;
    memcpy(path, corefile_pathname, plen);
    memcpy(path + plen, name, nlen + 1);
    _dbg_printf("Loading resource image: %s\n", path);
    if (request < 0 || request > 2) {
        CF_FREE(path);
        return 0;
    }
    // Only one mount at a time: the previous one is released, not leaked.
    if (cf_mounted)
        corefile_closeimage();

    int ok = 0;
    if (request == 2) {
        corefile_mounttype = 2;
        corefile_image.base = path;  // the stored copy
        path = NULL;
        ok = readheader_directory();
    } else {
        FILE *f = fopen(path, "rb");
        if (!f) {
            _dbg_printf("could not open image: %s\n", path);
            CF_FREE(path);
            return 0;
        }
        long size = cf_host_size(f);
        uint32_t start = 0, limit = 0;
        const char *fault = NULL;
        if (size < 0) {
            fault = "cannot size the file, or it is 2 GiB or more";
        } else if (request == 0) {
            limit = (uint32_t)size;
        } else {
            unsigned char t[4];
            if (size < 4 || fseek(f, size - 4, SEEK_SET) != 0 || fread(t, 1, 4, f) != 4)
                fault = "no start position at the end of the file";
            else {
                start = getint(t);
                limit = (uint32_t)size - 4;
                if (start > limit)
                    fault = "start position past the end of the file";
            }
        }
        if (!fault && fseek(f, (long)start, SEEK_SET) != 0)
            fault = "cannot seek to the image";
        if (fault) {
            _dbg_printf("bad image: %s\n", fault);
            fclose(f);
            CF_FREE(path);
            return 0;
        }
        g_fp = f;
        corefile_image.base = f;
        corefile_mounttype = 0;
        _dbg_printf(request == 0 ? "loading from file\n" : "loading from executable\n");
        ok = readheader_image(start, limit);
    }
    if (path)
        CF_FREE(path);
    if (ok)
        ok = cf_alloc_listing();
    if (!ok) {
        cf_abandon();
        return 0;
    }
    cf_mounted = 1;
    return 1;
}

void corefile_closeimage(void)
{
    cf_abandon();
    corefile_clearlist();
    if (corefile_filelist)
        CF_FREE(corefile_filelist);
    if (corefile_localpath)
        CF_FREE(corefile_localpath);
    corefile_filelist = NULL;
    corefile_localpath = NULL;
    corefile_numfiles = 0;
    cf_mounted = 0;
}

// ---- File API -------------------------------------------------------------------------------

// Start of the handle's entry on an image mount (0 when the index names no entry).
static uint32_t cf_entry_start(const s_corefile *file)
{
    if (file->index >= 0 && (uint32_t)file->index < corefile_image.numfiles && corefile_image.offsets)
        return corefile_image.offsets[file->index];
    return 0;
}

// Size of entry i: up to the next entry's offset, the last up to romsize.
static uint32_t cf_entry_size(uint32_t i)
{
    const s_coreimage *im = &corefile_image;
    uint32_t end = i + 1 < im->numfiles ? im->offsets[i + 1] : im->romsize;
    return end - im->offsets[i];
}

// Positions wrap in 32 bits instead of overflowing a signed int.
static int32_t cf_addpos(int32_t pos, uint64_t delta)
{
    return (int32_t)((uint32_t)pos + (uint32_t)delta);
}

// ---- Overlay folder -------------------------------------------------------------------------

static char cf_overlay[1024];              // the folder, "" when none is laid over the mount
static FILE *cf_ovfiles[CF_OVERLAY_OPEN];  // host files open through the overlay

int corefile_setoverlay(const char *dir)
{
    if (!dir || !dir[0]) {
        cf_overlay[0] = 0;
        return 1;
    }
    size_t n = strlen(dir);
    while (n > 1 && dir[n - 1] == '/')
        n--;
    if (n >= sizeof(cf_overlay)) {
        _dbg_printf("overlay folder name too long: %s\n", dir);
        return 0;
    }
    plat_fileinfo st;
    char path[sizeof(cf_overlay)];
    memcpy(path, dir, n);
    path[n] = 0;
    if (!plat_stat(path, &st) || st.kind != PLAT_DIR) {
        _dbg_printf("overlay is not a folder: %s\n", path);
        return 0;
    }
    memcpy(cf_overlay, path, n + 1);
    return 1;
}

const char *corefile_getoverlay(void)
{
    return cf_overlay[0] ? cf_overlay : NULL;
}

static int cf_ovslot(const FILE *fp)
{
    if (fp)
        for (int i = 0; i < CF_OVERLAY_OPEN; i++)
            if (cf_ovfiles[i] == fp)
                return i;
    return -1;
}

int corefile_fromoverlay(const s_corefile *file)
{
    return file && cf_ovslot(file->fp) >= 0;
}

// A name that could leave the overlay folder: a ".." component.
static int cf_escapes(const char *name)
{
    for (const char *p = name; *p;) {
        const char *e = p;
        while (*e && *e != '/' && *e != '\\')
            e++;
        if (e - p == 2 && p[0] == '.' && p[1] == '.')
            return 1;
        p = *e ? e + 1 : e;
    }
    return 0;
}

// Opens the lower-cased name from the overlay folder when it holds it as a regular file.
// 1 with the handle set up (index -1: no entry of the mount), 0 when the mount answers.
static int cf_open_overlay(const char *copy, s_corefile *file)
{
    if (!cf_overlay[0] || !copy[0] || cf_escapes(copy))
        return 0;
    int slot = 0;
    while (slot < CF_OVERLAY_OPEN && cf_ovfiles[slot])
        slot++;
    if (slot == CF_OVERLAY_OPEN)
        return 0;
    char path[sizeof(cf_overlay) + 256];
    int n = snprintf(path, sizeof path, "%s/%s", cf_overlay, copy);
    if (n < 0 || (size_t)n >= sizeof path)
        return 0;
    plat_fileinfo st;
    if (!plat_stat(path, &st) || st.kind != PLAT_FILE || st.size > (uint64_t)CF_MAXFILE)
        return 0;
    FILE *fp = fopen(path, "rb");
    if (!fp)
        return 0;
    long size = cf_host_size(fp);
    if (size < 0) {
        fclose(fp);
        return 0;
    }
    rewind(fp);
    cf_ovfiles[slot] = fp;
    file->fp = fp;
    file->index = -1;
    file->offset = 0;
    file->size = (int32_t)size;
    file->hash = corefile_gethash(copy);
    _dbg_printf("found file in overlay: %s\n", path);
    return 1;
}

int corefile_open(const char *name, s_corefile *file, int mode)
{
    if (!name || !file)
        return 0;
    size_t n = strlen(name);
    char *copy = (char *)CF_MALLOC(n + 1);
    if (!copy)
        return 0;
    file_downcase(copy, name, (int)n);
    copy[n] = 0;

    if (mode != 1 && cf_open_overlay(copy, file)) {
        CF_FREE(copy);
        return 1;
    }

    if (corefile_mounttype == 2) {
        const char *dir = (const char *)corefile_image.base;
        if (!dir) {  // nothing mounted
            file->fp = NULL;
            CF_FREE(copy);
            return 0;
        }
        size_t dlen = strlen(dir);
        char *path = (char *)CF_MALLOC(dlen + 1 + n + 1);
        FILE *fp = NULL;
        if (path) {
            sprintf(path, "%s/%s", dir, copy);
            fp = fopen(path, mode == 1 ? "wb" : "rb");
            CF_FREE(path);
        }
        CF_FREE(copy);
        file->fp = fp;
        if (!fp)
            return 0;
        long size = cf_host_size(fp);
        if (size < 0) {
            _dbg_printf("file too large: %s\n", name);
            fclose(fp);
            file->fp = NULL;
            return 0;
        }
        rewind(fp);
        file->offset = 0;
        file->size = (int32_t)size;
        return 1;
    }

    const s_coreimage *im = &corefile_image;
    int32_t hash = corefile_gethash(copy);
    file->hash = hash;
    for (uint32_t i = 0; i < im->numfiles; i++) {
        if (im->hashes[i] == (uint32_t)hash && strncmp(im->names[i], copy, n) == 0) {
            file->index = (int32_t)i;
            file->offset = (int32_t)im->offsets[i];
            file->size = (int32_t)cf_entry_size(i);
            file->fp = NULL;
            _dbg_printf("found file at offset: %d\n", file->offset);
            CF_FREE(copy);
            return 1;
        }
    }
    _dbg_printf("couldn't find file: %s\n", copy);
    CF_FREE(copy);
    return 0;
}

// The host file a handle reads from: the shared image file, or its own.
static FILE *cf_stream(const s_corefile *file)
{
    if (cf_ovslot(file->fp) >= 0)
        return file->fp;
    return corefile_mounttype == 2 ? file->fp : g_fp;
}

// A handle that reads a host file of its own: every handle of a directory mount, and
// those opened from the overlay folder.
static int cf_hosthandle(const s_corefile *file)
{
    return corefile_mounttype == 2 || cf_ovslot(file->fp) >= 0;
}

void corefile_read(void *buffer, int size, int count, s_corefile *file)
{
    if (!file || !buffer || size <= 0 || count <= 0)
        return;
    size_t total = (size_t)size * (size_t)count;
    size_t got = 0;
    FILE *fp = cf_stream(file);
    if (fp && file->offset >= 0 && fseek(fp, file->offset, SEEK_SET) == 0)
        got = fread(buffer, 1, total, fp);
    // What lies past the end of the host file reads as zero, never as stale memory.
    if (got < total)
        memset((unsigned char *)buffer + got, 0, total - got);
    file->offset = cf_addpos(file->offset, total);
}

void corefile_write(const void *data, int size, int count, s_corefile *file)
{
    if (corefile_mounttype != 2 || !file || !file->fp || !data || size <= 0 || count <= 0)
        return;
    size_t total = (size_t)size * (size_t)count;
    if (file->offset >= 0 && fseek(file->fp, file->offset, SEEK_SET) == 0)
        fwrite(data, 1, total, file->fp);
    file->offset = cf_addpos(file->offset, total);
}

void corefile_seek(s_corefile *file, int position, int origin)
{
    if (!file)
        return;
    if (origin == 0) {
        uint32_t base = cf_hosthandle(file) ? 0 : cf_entry_start(file);
        file->offset = (int32_t)(base + (uint32_t)position);
    } else if (origin == 1) {
        file->offset = (int32_t)((uint32_t)file->offset + (uint32_t)position);
    }
}

int corefile_tell(s_corefile *file)
{
    return file ? file->offset : 0;
}

int corefile_fsize(s_corefile *file)
{
    return file ? file->size : 0;
}

void corefile_close(s_corefile *file)
{
    if (!file)
        return;
    int slot = cf_ovslot(file->fp);
    if (slot >= 0) {
        fclose(file->fp);
        cf_ovfiles[slot] = NULL;
        file->fp = NULL;
        file->index = 0;
        file->offset = 0;
    } else if (corefile_mounttype == 2) {
        if (file->fp)
            fclose(file->fp);
        file->fp = NULL;  // a second close does nothing
    } else {
        file->fp = NULL;
        file->index = 0;
        file->offset = 0;
    }
}

void corefile_gets(char *buffer, int size, s_corefile *file)
{
    if (!buffer || size < 1)
        return;
    buffer[0] = 0;
    if (!file)
        return;
    FILE *fp = cf_stream(file);
    if (!fp || file->offset < 0 || fseek(fp, file->offset, SEEK_SET) != 0)
        return;
    if (!fgets(buffer, size, fp))
        buffer[0] = 0;
    long pos = ftell(fp);
    if (pos >= 0 && pos <= CF_MAXFILE)
        file->offset = (int32_t)pos;
}

int corefile_feof(s_corefile *file)
{
    if (!file)
        return 1;
    if (cf_hosthandle(file))
        return file->fp ? feof(file->fp) : 1;
    if (file->index < 0 || (uint32_t)file->index >= corefile_image.numfiles)
        return 1;
    return ((uint32_t)file->offset - cf_entry_start(file)) >= (uint32_t)file->size ? 1 : 0;
}

void corefile_rewind(s_corefile *file)
{
    if (!file)
        return;
    if (cf_hosthandle(file)) {
        file->offset = 0;
        if (file->fp)
            rewind(file->fp);
    } else {
        file->offset = (int32_t)cf_entry_start(file);
    }
}

void corefile_chdir(const char *dir)
{
    if (!dir || !corefile_localpath || strcmp(dir, ".") == 0)
        return;
    char path[256];
    size_t len = strlen(corefile_localpath);
    memcpy(path, corefile_localpath, len + 1);
    if (strcmp(dir, "..") == 0) {
        // Cut at the last separator before the trailing one.
        int cut = -1;
        for (int i = (int)len - 2; i >= 0; i--) {
            if (path[i] == '/' || path[i] == '\\') {
                cut = i;
                break;
            }
        }
        path[cut >= 0 ? cut : 0] = 0;
    } else {
        size_t dlen = strlen(dir);
        size_t keep = (dir[0] == '/' || dir[0] == '\\') ? 0 : len;
        size_t need = keep + dlen + (dlen > 0 && dir[dlen - 1] == '/' ? 0 : 1);
        if (need > sizeof(path) - 1) {  // the result, its final "/" and the NUL
            _dbg_printf("path too long, localpath not changed: %s\n", dir);
            return;
        }
        memcpy(path + keep, dir, dlen + 1);
    }
    len = strlen(path);
    if (len == 0 || path[len - 1] != '/') {
        if (len + 2 > sizeof(path)) {
            _dbg_printf("path too long, localpath not changed: %s\n", dir);
            return;
        }
        path[len] = '/';
        path[len + 1] = 0;
    }
    strcpy(corefile_localpath, path);
    _dbg_printf("localpath = %s\n", corefile_localpath);
}

char *corefile_getpath(void)
{
    return corefile_localpath;
}

// Joins corefile_localpath and name into out (256 bytes). 0 when it does not fit.
static int cf_joinlocal(char *out, const char *name)
{
    const char *lp = corefile_localpath ? corefile_localpath : "";
    int n = snprintf(out, 256, "%s%s", lp, name);
    if (n < 0 || n >= 256) {
        _dbg_printf("name too long: %s%s\n", lp, name);
        return 0;
    }
    return 1;
}

void *corefile_loadbuffer(const char *name)
{
    char joined[256];
    if (!name || !cf_joinlocal(joined, name))
        return NULL;
    s_corefile f;
    memset(&f, 0, sizeof(f));
    if (!corefile_open(joined, &f, 0))
        return NULL;
    void *buf = CF_MALLOC(f.size);
    if (buf)
        corefile_read(buf, 1, f.size, &f);
    corefile_close(&f);
    return buf;
}

void corefile_savebuffer(const char *name, const void *data, int length)
{
    char joined[256];
    if (!name || !cf_joinlocal(joined, name))
        return;
    s_corefile f;
    memset(&f, 0, sizeof(f));
    if (corefile_open(joined, &f, 1) && corefile_mounttype == 2) {
        corefile_write(data, length, 1, &f);
        corefile_close(&f);
    }
    memset(&f, 0, sizeof(f));
}
