// dirent.h (corefile) - the mount-time walk of a host directory tree and the listing of
// the current directory inside the mounted image. Built on the platform's directory streams.
//
// Limits: walked paths are at most 255 characters relative to the walk's start (a
// longer one is skipped with a "path too long, skipped" line), which also bounds the
// depth; the pass that stores names never stores more than the counting pass made
// room for. A listing holds at most corefile_image.numfiles entries, "[..]" and the
// directories included: entries past that are silently left out, as is a 257th
// distinct directory name in corefile_dirnames (256 at most).
#ifndef COREFILE_DIRENT_H
#define COREFILE_DIRENT_H

#include <stdint.h>

// Walks path and everything below it. Pass 0 counts the files in corefile_image.numfiles;
// pass 1 also stores each file's path relative to the walk's start (curDir prefix) as the
// next of corefile_image.names, never more than corefile_image.slots. Prints
// "error reading directory" for a directory it cannot open (that branch is skipped).
// Changes the process's current directory while it runs and restores it at the end.
// Paths longer than 255 characters and linked folders that loop back are skipped.
void corefile_opendir(const char *path, int pass);
// Lists corefile_localpath of the mounted image into corefile_filelist: "[..]" when not
// at the root, then the subdirectories as "[name]", then the files whose names end in the
// pattern's extension (".*": every file; compared case-sensitively), with their sizes.
// Holds at most corefile_image.numfiles entries.
void corefile_readdir(const char *pattern);
// Adds a copy of name to corefile_dirnames unless it is already there (256 at most).
void corefile_adddir(const char *name);
// Release the strings of every listed entry and empty the listing (the list
// itself stays allocated).
void corefile_clearlist(void);

// One entry of a listing.
typedef struct s_corefile_entry {
    char *display;   // "[name]" for a directory, the bare file name for a file (owned)
    char *name;      // the directory's name, or the file's full name in the image (owned)
    int32_t size;    // file size in bytes; 0 for directories
    uint8_t isdir;   // 1 for a directory
} s_corefile_entry;

extern s_corefile_entry *corefile_filelist;  // allocated by the mount, one slot per file
extern int corefile_numfiles;                // entries in use
extern char *corefile_dirnames[256];         // directories collected while listing (owned)
extern int corefile_numdirs;

// Walk state: the directory being walked (relative, each level followed by "/"), the
// length in use, and the file just found.
extern char curDir[256];
extern int diroffset;
extern char curFile[256];

#endif
