// writers.h - the asset generator's file writers: TGA in every image type and depth
// the engine's loader reads, canonical 44-byte-header WAV, and RGB PNG (the previews
// and the icons). Plain functions over mk_image; no state kept between calls.
//
// Failure: mk_tga and mk_wav return malloc'ed bytes (the caller frees them) and
// their size; mk_tga returns 0 when a colour-mapped picture has more than 256
// colours or its pixel table cannot be allocated. mk_png returns 0 when the file
// cannot be written. Running out of memory while a file grows ends the program with
// a message (the generator has nothing sensible to ship without the file).
#ifndef TOOLS_MKDATA_WRITERS_H
#define TOOLS_MKDATA_WRITERS_H

#include <stdint.h>

#include "tools/mkdata/mkdata.h"

// ---- Calls ----------------------------------------------------------------------------
enum { MK_ORIGIN_BOTTOM_LEFT = 0x00, MK_ORIGIN_TOP_LEFT = 0x20 };
// Encodes img as TGA. type 1/9 (colour-mapped, map entry bits mapbits 16 or 24),
// 2/10 (true colour, depth 16, 24 or 32), 3/11 (greyscale from the green channel).
uint8_t *mk_tga(const mk_image *img, int type, int depth, int mapbits, int origin,
                uint32_t *size);
// Encodes frames of 16-bit PCM (channels interleaved) as a WAV file.
uint8_t *mk_wav(const int16_t *samples, uint32_t frames, int channels, int rate,
                uint32_t *size);
// Writes img as an 8-bit RGB PNG at path (deflate with fixed Huffman codes); 1 on
// success. Alpha is dropped.
int mk_png(const char *path, const mk_image *img);

#endif
