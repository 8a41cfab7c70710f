// libFuzzer target: TGA decoding from memory (header, colour map, raw and
// run-length pixels) into a bitmap buffer of the header's size.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "engine/bitmap.h"
#include "engine/tga.h"

// Pictures above this many pixels are only header-checked: the decoder accepts up
// to 16384 x 16384, more memory than a fuzzing run should spend per input.
#define FUZZ_MAXPIXELS (1 << 22)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    s_tgainfo info;
    if (!tga_readheader(data, size, &info)) return 0;
    int64_t n = (int64_t)info.width * info.height;
    if (n > FUZZ_MAXPIXELS) return 0;

    s_bitmap bmp;
    memset(&bmp, 0, sizeof(bmp));
    bmp.width = info.width;
    bmp.height = info.height;
    bmp.numpixels = (int32_t)n;
    bmp.size = (int32_t)n * 4;
    bmp.pixels = (uint32_t *)malloc((size_t)n * 4);
    if (!bmp.pixels) return 0;
    memset(bmp.pixels, 0, (size_t)n * 4);
    int r = tga_decode(data, size, bmp);
    if (r != 1 && r != -1) abort(); // an accepted header is never refused by the decoder
    free(bmp.pixels);
    return 0;
}
