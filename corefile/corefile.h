// corefile.h - the resource-file layer: the CORE resource image (or a mounted host
// directory) and the file API over it. Every asset reaches the engine through it.
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
int  corefile_mountimage(const char *name, int request); // 0 file, 1 appended to a file, 2 directory
void corefile_closeimage(void);
int32_t corefile_gethash(const char *name);
uint32_t getint(const unsigned char *p);
void file_downcase(char *dst, const char *src, int length);

// ---- File API ---------------------------------------------------------------------------
int  corefile_open(const char *name, s_corefile *file, int mode); // mode 1: write
void corefile_read(void *buffer, int size, int count, s_corefile *file);
void corefile_write(const void *data, int size, int count, s_corefile *file);
void corefile_seek(s_corefile *file, int position, int origin);
int  corefile_tell(s_corefile *file);
int  corefile_fsize(s_corefile *file);
void corefile_close(s_corefile *file);
void corefile_gets(char *buffer, int size, s_corefile *file);
int  corefile_feof(s_corefile *file);
void corefile_rewind(s_corefile *file);
void corefile_chdir(const char *dir);
char *corefile_getpath(void);
void *corefile_loadbuffer(const char *name);
void corefile_savebuffer(const char *name, const void *data, int length);

#endif
