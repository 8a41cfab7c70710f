// dirent.cpp (corefile) - the mount-time walk of a host directory tree and the listing of
// the mounted image's current directory. Reads folders through the platform's
// directory streams.
#include "corefile/dirent.h"
#include "corefile/corefile.h"
#include "corefile/coredebug.h"
#include "corefile/coremem.h"
#include "platform/platform.h"

#include <stdio.h>
#include <string.h>

#define CF_MALLOC(n) _wrap_malloc_dbg((int)(n), __FILE__, __LINE__)
#define CF_FREE(p) _wrap_free_dbg((p), __FILE__, __LINE__)

s_corefile_entry *corefile_filelist = NULL;
int corefile_numfiles = 0;
char *corefile_dirnames[256];
int corefile_numdirs = 0;

char curDir[256];
int diroffset = 0;
char curFile[256];

// The directories on the walk's current branch, so a link back to one of them is not
// followed again. curDir's 255 characters bound the depth (every level adds at least 2).
typedef struct {
    uint64_t id[2];
} walk_node;
static walk_node walk_branch[128];
static int walk_depth = 0;

static int walk_onbranch(const plat_fileinfo *st)
{
    for (int i = 0; i < walk_depth; i++)
        if (walk_branch[i].id[0] == st->id[0] && walk_branch[i].id[1] == st->id[1])
            return 1;
    return 0;
}

void corefile_opendir(const char *path, int pass)
{
    plat_dir *d = (path && path[0]) ? plat_opendir(path) : NULL;
    if (!d) {
        _dbg_printf("error reading directory\n");
        return;
    }
    int levels = 1;
    int n = (int)strlen(path);
    for (int i = 1; i < n - 1; i++)
        if (path[i] == '/')
            levels++;
    if (levels > 1)
        _dbg_printf("path has %d sublevels\n", levels);

    // Enter the directory and come back to the saved one afterwards: going up by ".."
    // once per level would not return from an absolute path or a linked folder.
    char home[4096];
    plat_fileinfo self;
    if (!plat_getcwd(home, sizeof(home)) || !plat_stat(path, &self) || walk_depth >= 128 ||
        plat_chdir(path) != 0) {
        plat_closedir(d);
        _dbg_printf("error reading directory\n");
        return;
    }
    walk_branch[walk_depth].id[0] = self.id[0];
    walk_branch[walk_depth].id[1] = self.id[1];
    walk_depth++;

    s_coreimage *im = &corefile_image;
    const char *name;
    while ((name = plat_readdir(d)) != NULL) {
        if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0)
            continue;
        plat_fileinfo st;
        if (!plat_stat(name, &st))
            continue;
        int len = (int)strlen(name);
        if (st.kind == PLAT_DIR) {
            if (walk_onbranch(&st))
                continue;  // a link back up the branch would never end
            if (diroffset + len + 1 > 255) {
                _dbg_printf("path too long, skipped: %s%s/\n", curDir, name);
                continue;
            }
            memcpy(curDir + diroffset, name, (size_t)len);
            curDir[diroffset + len] = '/';
            curDir[diroffset + len + 1] = 0;
            diroffset += len + 1;
            corefile_opendir(name, pass);
            diroffset -= len + 1;
            curDir[diroffset] = 0;
        } else {
            if (diroffset + len > 255) {
                _dbg_printf("path too long, skipped: %s%s\n", curDir, name);
                continue;
            }
            memcpy(curFile, curDir, (size_t)diroffset);
            memcpy(curFile + diroffset, name, (size_t)len + 1);
            if (pass == 1) {
                // Never more names than the counting pass made room for.
                if (im->numfiles >= im->slots || !im->names)
                    continue;
                char *copy = (char *)CF_MALLOC(256);
                if (!copy)
                    continue;
                memcpy(copy, curFile, sizeof(curFile));
                im->names[im->numfiles] = copy;
            }
            im->numfiles++;
        }
    }
    walk_depth--;
    if (plat_closedir(d) != 0)
        _dbg_printf("Error closing directory\n");
    if (plat_chdir(home) != 0)
        _dbg_printf("error returning from directory\n");
}

void corefile_adddir(const char *name)
{
    if (!name)
        return;
    for (int i = 0; i < corefile_numdirs; i++)
        if (strcmp(corefile_dirnames[i], name) == 0)
            return;
    if (corefile_numdirs >= 256)
        return;
    size_t n = strlen(name);
    char *copy = (char *)CF_MALLOC(n + 1);
    if (!copy)
        return;
    memcpy(copy, name, n + 1);
    corefile_dirnames[corefile_numdirs++] = copy;
}

// Appends one listing entry (copies of both texts); 0 when the list is full.
static int list_add(const char *display, const char *name, int32_t size, uint8_t isdir)
{
    if (!corefile_filelist || (uint32_t)corefile_numfiles >= corefile_image.numfiles)
        return 0;
    size_t dl = strlen(display), nl = strlen(name);
    char *d = (char *)CF_MALLOC(dl + 1);
    char *n = (char *)CF_MALLOC(nl + 1);
    if (!d || !n) {
        if (d)
            CF_FREE(d);
        if (n)
            CF_FREE(n);
        return 0;
    }
    memcpy(d, display, dl + 1);
    memcpy(n, name, nl + 1);
    s_corefile_entry *e = &corefile_filelist[corefile_numfiles++];
    e->display = d;
    e->name = n;
    e->size = size;
    e->isdir = isdir;
    return 1;
}

// True when s holds a "/" before its last character (the name lies deeper down).
static int has_inner_slash(const char *s, size_t len)
{
    return len > 1 && memchr(s, '/', len - 1) != NULL;
}

void corefile_readdir(const char *pattern)
{
    char ext[16];
    const char *dot = pattern ? strrchr(pattern, '.') : NULL;
    size_t extlen = 0;
    if (dot) {
        extlen = strlen(dot);
        if (extlen > sizeof(ext) - 1)
            extlen = sizeof(ext) - 1;
        memcpy(ext, dot, extlen);
    }
    ext[extlen] = 0;
    _dbg_printf("extension = %s, length: %d\n", ext, (int)extlen);
    int every = strcmp(ext, ".*") == 0;

    corefile_clearlist();
    for (int i = 0; i < corefile_numdirs; i++) {
        CF_FREE(corefile_dirnames[i]);
        corefile_dirnames[i] = NULL;
    }
    corefile_numdirs = 0;

    const char *lp = corefile_localpath ? corefile_localpath : "";
    size_t p = strlen(lp);
    int root = p == 0 || strcmp(lp, "/") == 0;
    if (root)
        _dbg_printf("dir is root\n");
    // Image names carry no leading "/": a name lies here when it begins with the path
    // without its first character.
    const char *prefix = p > 0 ? lp + 1 : "";
    size_t plen = p > 0 ? p - 1 : 0;
    if (root)
        plen = 0;
    if (!root)
        corefile_adddir("..");

    const s_coreimage *im = &corefile_image;
    for (uint32_t i = 0; i < im->numfiles; i++) {
        const char *name = im->names[i];
        if (!name || strncmp(name, prefix, plen) != 0)
            continue;
        const char *rest = name + plen;
        size_t rl = strlen(rest);
        if (!has_inner_slash(rest, rl))
            continue;
        size_t cut = strcspn(rest, "/\\");
        char *dir = (char *)CF_MALLOC(cut + 1);
        if (!dir)
            continue;
        memcpy(dir, rest, cut);
        dir[cut] = 0;
        corefile_adddir(dir);
        CF_FREE(dir);
    }

    int full = 0;
    for (int i = 0; i < corefile_numdirs; i++) {
        const char *dn = corefile_dirnames[i];
        if (!full) {
            size_t n = strlen(dn);
            char *display = (char *)CF_MALLOC(n + 3);
            if (display) {
                sprintf(display, "[%s]", dn);
                full = !list_add(display, dn, 0, 1);
                CF_FREE(display);
            }
        }
        CF_FREE(corefile_dirnames[i]);
        corefile_dirnames[i] = NULL;
    }
    corefile_numdirs = 0;

    for (uint32_t i = 0; i < im->numfiles && !full; i++) {
        const char *name = im->names[i];
        if (!name || strncmp(name, prefix, plen) != 0)
            continue;
        const char *rest = name + plen;
        size_t rl = strlen(rest);
        if (has_inner_slash(rest, rl))
            continue;
        if (!every && (rl < extlen || memcmp(rest + rl - extlen, ext, extlen) != 0))
            continue;
        uint32_t end = i + 1 < im->numfiles ? im->offsets[i + 1] : im->romsize;
        full = !list_add(rest, name, (int32_t)(end - im->offsets[i]), 0);
    }
    _dbg_printf("- ReadDIR completed!\n");
}

void corefile_clearlist(void)
{
    if (corefile_filelist) {
        for (int i = 0; i < corefile_numfiles; i++) {
            s_corefile_entry *e = &corefile_filelist[i];
            if (e->display)
                CF_FREE(e->display);
            if (e->name)
                CF_FREE(e->name);
            memset(e, 0, sizeof(*e));
        }
    }
    corefile_numfiles = 0;
}
