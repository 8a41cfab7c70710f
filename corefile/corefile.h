// corefile.h - the resource-file layer: the CORE resource image (or a mounted host
// directory) and the file API over it. Every asset reaches the engine through it.
//
// Limits: the mount reads at most the first 1023 characters of corefile_pathname;
// the current directory inside the image is at most 255 characters (corefile_chdir
// refuses a longer one). Sizes and positions are signed 32-bit, so images stay
// below 2 GiB (corefile/corepack.h).
#ifndef COREFILE_COREFILE_H
#define COREFILE_COREFILE_H

#include <stdint.h>
#include <stdio.h>

// An open file, owned by the caller (usually on its stack).
typedef struct s_corefile {
    FILE *fp;          // directory mounts: the host file; image mounts: null
    int32_t index;     // image mounts: directory entry
    int32_t offset;    // image mounts: absolute position in the image file
    int32_t size;      // file size in bytes
    int32_t hash;      // image mounts: hash of the looked-up name
} s_corefile;

// ---- Mounting (image format and directory) ------------------------------------------
// Mounts corefile_pathname + name. Request 0: an image file; 1: an image appended to a
// file, its start position in the file's last four bytes; 2: a host directory tree.
// Returns 1 if mounted, 0 otherwise (unopenable file, wrong magic, or a directory that
// does not fit the file: the image is refused with one line and nothing stays allocated).
// A mount replaces (closes) whatever was mounted before.
int  corefile_mountimage(const char *name, int request);
// Releases everything the mount created. Safe when nothing is mounted.
void corefile_closeimage(void);
// Sum of the name's bytes as signed 8-bit values, wrapping in 32 bits ("abc" is 294).
int32_t corefile_gethash(const char *name);
// The unsigned 32-bit little-endian value at p.
uint32_t getint(const unsigned char *p);
// Copies length bytes, upper-case ASCII letters turned into lower case (no terminator).
void file_downcase(char *dst, const char *src, int length);

// The mounted image's directory. Image mounts: base is the image FILE*; directory mounts:
// base is an own copy of the directory's path, offsets and hashes are zero and romsize 0.
typedef struct s_coreimage {
    void *base;
    uint32_t romsize;    // one past the last file's last byte
    uint32_t numfiles;   // entries in use
    uint32_t *offsets;   // each entry's first byte, absolute in the image's host file
    char **names;        // each entry's name, NUL-terminated
    uint32_t *hashes;    // each entry's stored hash
    uint32_t slots;      // entries allocated in the three arrays
} s_coreimage;

extern s_coreimage corefile_image;
extern int   corefile_mounttype;        // 0: image file, 2: host directory (kept after closing)
extern FILE *g_fp;                      // the open image file (image mounts)
extern char  corefile_pathname[1024];   // put in front of the name given to the mount
extern char *corefile_localpath;        // 256 bytes: current directory inside the image, ends in "/"

// ---- File API ---------------------------------------------------------------------------
// Names are lower-cased and matched as given (corefile_localpath is not applied). On an
// image an entry matches when its hash equals the name's and its name begins with it.
// Image handles share g_fp; every read seeks it first. Reads are not limited to the entry
// and advance the position by the whole request; bytes past the end of the host file
// read as zero. Positions on image mounts are absolute in the image file.
// 1 if found (image) or opened (directory; mode 1 creates for writing), else 0.
int  corefile_open(const char *name, s_corefile *file, int mode);
void corefile_read(void *buffer, int size, int count, s_corefile *file);
void corefile_write(const void *data, int size, int count, s_corefile *file);
// Origin 0: from the entry's start; 1: from the current position; others: no change.
void corefile_seek(s_corefile *file, int position, int origin);
int  corefile_tell(s_corefile *file);
int  corefile_fsize(s_corefile *file);
void corefile_close(s_corefile *file);
// Reads one line as fgets does (buffer is "" when nothing could be read).
void corefile_gets(char *buffer, int size, s_corefile *file);
// Image mounts: 1 once the position is size or more past the entry's start.
int  corefile_feof(s_corefile *file);
void corefile_rewind(s_corefile *file);
// "." stays, ".." goes up, "/x" replaces, "x" appends; the path always ends in "/".
// A path that would not fit its 256 bytes is refused with a message and left as it was.
void corefile_chdir(const char *dir);
char *corefile_getpath(void);
// The whole file corefile_localpath + name in a new buffer (free with _wrap_free_dbg),
// or null.
void *corefile_loadbuffer(const char *name);
// Writes length bytes as corefile_localpath + name (directory mounts only).
void corefile_savebuffer(const char *name, const void *data, int length);

// ---- Overlay folder ---------------------------------------------------------------------
// A host folder laid over whatever is mounted (image or directory): while it is set,
// corefile_open for reading first looks for the lower-cased name as a regular file below
// the folder and, when it is there, opens that file instead ("found file in overlay: %s"
// on standard output); every other name still comes from the mount, exactly as without
// an overlay. A handle opened from the overlay reads its host file like a directory
// mount's handle (positions from the file's start, feof from the host file), whatever
// is mounted, and corefile_close closes it. Opening for writing, the whole-file calls'
// saves and the listing never use the overlay. Names with a ".." component are not
// looked for in it. At most CF_OVERLAY_OPEN overlay files are open at once; past that
// the name comes from the mount. The overlay is kept across mounts and closes.
#define CF_OVERLAY_OPEN 16
// Sets the folder (an own copy; a trailing "/" is ignored). Null or "" removes it.
// Returns 1, or 0 with one line when dir is not a folder or too long (the overlay is
// then unchanged).
int corefile_setoverlay(const char *dir);
const char *corefile_getoverlay(void);   // the folder laid over the mount, or null
// 1 when the open handle reads a file of the overlay folder.
int corefile_fromoverlay(const s_corefile *file);

#endif
