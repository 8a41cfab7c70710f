// md5.h - MD5 (RFC 1321) and the frame MD5 that the show's golden records hold.
//
// A frame's MD5 is that of its pixels as RGB bytes, top row first, computed from a
// picture read back from GL (RGBA, bottom row first): mirador-capture's record,
// mirador-dev's --record and the web page's reference frame all hash with
// md5_frame, so their lines can be compared. Plain C++, no GL and no library: every
// target (the web page too) has it.
#ifndef COREFILE_MD5_H
#define COREFILE_MD5_H

#include <stddef.h>
#include <stdint.h>

// ---- Calls -----------------------------------------------------------------------------
typedef struct {
    uint32_t state[4];
    uint64_t bytes;          // bytes hashed so far
    uint8_t block[64];       // the part of the next 64-byte block that has come
} s_md5;

void md5_init(s_md5 *m);
void md5_update(s_md5 *m, const void *data, size_t size);
// Finishes the hash into digest; m must be initialised again before further use.
void md5_final(s_md5 *m, uint8_t digest[16]);

// The frame MD5 of a w x h picture, rgba 4 bytes a pixel, rows bottom first, no
// padding between rows: the MD5 of its R, G, B bytes, top row first.
void md5_frame(const uint8_t *rgba, int w, int h, uint8_t digest[16]);
// A digest as 32 lower-case hex digits and a terminating 0.
void md5_hex(const uint8_t digest[16], char out[33]);

#endif
