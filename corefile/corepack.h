// corepack.h - writes, checks, lists, extracts and appends CORE resource images.
//
// An image is: "CORE", numfiles, romsize (32-bit little-endian), then numfiles directory
// entries (namelen, hash, name bytes, offset), then the files' bytes back to back in
// directory order. Offsets and romsize are absolute positions in the host file.
// Every call reports failures with one line on stdout and returns 0; success is 1.
// Limits: an image (or a file with an image appended) must stay below 2 GiB, because
// the file API keeps positions in signed 32-bit fields.
#ifndef COREFILE_COREPACK_H
#define COREFILE_COREPACK_H

#include <stdint.h>

typedef struct {
    const char *name;   // file name; lower-cased and "/"-separated by the writer
    const void *data;   // size bytes (may be null when size is 0)
    uint32_t size;
} corepack_file;

// Writes a CORE image of the given files to path: names lower-cased, relative,
// "/"-separated, sorted by name (byte order) for a stable result, hashes, ascending
// contiguous offsets, romsize. Returns 1 on success, 0 (with a message on stdout) on failure.
// Empty or duplicate names (after lower-casing) are refused. The file is written to a
// temporary name and renamed, so a failed write never leaves a half image at path.
int corepack_write(const char *path, const corepack_file *files, int count);

// Checks an image file: magic, directory inside the file, offsets ascending, every
// stored hash matching its name, romsize not past the end. Returns 1 if sound, else 0
// and prints what is wrong. A file that does not start with "CORE" but carries an
// appended image (start position in its last four bytes) is checked at that position.
int corepack_verify(const char *path);

// Builds an image in memory (same layout as corepack_write, image starting at position
// base of its host file: offsets and romsize include base). Returns a malloc'd buffer
// the caller frees with free(), its length in *size; null (with a message) on failure.
unsigned char *corepack_build(const corepack_file *files, int count, uint32_t base,
                              uint32_t *size);

// Checks the image that starts at position start of data (length bytes in all; the
// image and its files must end at or before limit <= length). Prints the first fault
// unless quiet. Returns 1 if sound, else 0.
int corepack_check(const unsigned char *data, uint32_t length, uint32_t start,
                   uint32_t limit, int quiet);

// Packs every regular file below dir (names relative to dir, lower-cased,
// "/"-separated, sorted) into image.
int corepack_pack(const char *dir, const char *image);

// Prints one line per entry: name, offset, size.
int corepack_list(const char *image);

// Writes every entry of image below dir, creating subdirectories. Names that would
// leave dir (absolute, or with a ".." component) are refused.
int corepack_extract(const char *image, const char *dir);

// Appends image to file, followed by a 4-byte little-endian trailer holding the position
// where the image starts; the copied directory's offsets and romsize are moved by that
// position so they stay absolute in the combined file. On failure file is left as it was.
int corepack_append(const char *image, const char *file);

// Lower-cases name into dst (dstsize bytes), turns "\" into "/" and drops leading "/"
// and "./". Returns 1, or 0 when the result is empty or does not fit.
int corepack_normname(char *dst, int dstsize, const char *name);

#endif
