// effects_testutil.h - small helpers shared by the effect tests: bitmaps made in
// main memory (no GL), deterministic procedural textures, a buffer hash, and PNG
// output for looking at a picture.
#ifndef TESTS_EFFECTS_TESTUTIL_H
#define TESTS_EFFECTS_TESTUTIL_H

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "demo/voxel.h"
#include "engine/bitmap.h"

// A w x h bitmap with a malloc'ed pixel buffer (zeroed); no texture.
static inline s_bitmap fx_bitmap(int w, int h)
{
    s_bitmap b;
    memset(&b, 0, sizeof b);
    b.width = w;
    b.height = h;
    b.texwidth = w;
    b.texheight = h;
    b.numpixels = w * h;
    b.size = w * h * 4;
    b.pixels = (uint32_t *)calloc((size_t)w * h, 4);
    return b;
}

static inline void fx_free(s_bitmap *b)
{
    free(b->pixels);
    b->pixels = 0;
}

// The landscape camera as the show's start-up leaves it.
static inline s_camera fx_start_camera(void)
{
    s_camera cam;
    memset(&cam, 0, sizeof cam);
    cam.x = 0x600000;
    cam.y = 0x380000;
    cam.height = 48;
    cam.angle = 32;
    cam.fov = 48;
    cam.speed = 128;
    cam.reserved = 2;
    cam.z = 128;
    return cam;
}

// A bitmap record with no pixel buffer (an asset that failed to load).
static inline s_bitmap fx_missing(int w, int h)
{
    s_bitmap b;
    memset(&b, 0, sizeof b);
    b.width = w;
    b.height = h;
    return b;
}

// 256x256 test texture in buffer order: a checkerboard of 16-texel squares with
// a colour ramp, so that texture coordinates show as a visible pattern.
static inline s_bitmap fx_texture(void)
{
    s_bitmap b = fx_bitmap(256, 256);
    for (int y = 0; y < 256; y++)
        for (int x = 0; x < 256; x++) {
            int check = ((x >> 4) ^ (y >> 4)) & 1;
            uint32_t r = check ? 255 : (uint32_t)x;
            uint32_t g = (uint32_t)y;
            uint32_t bl = check ? 64 : (uint32_t)(255 - x);
            b.pixels[y * 256 + x] = 0xFF000000u | (bl << 16) | (g << 8) | r;
        }
    return b;
}

// FNV-1a over the w x h pixels of a buffer (as little-endian bytes).
static inline uint64_t fx_hash(const uint32_t *p, size_t n)
{
    uint64_t h = 1469598103934665603ull;
    for (size_t i = 0; i < n; i++)
        for (int k = 0; k < 4; k++) {
            h ^= (p[i] >> (8 * k)) & 0xFF;
            h *= 1099511628211ull;
        }
    return h;
}

// Write a buffer-order bitmap (bytes R, G, B, A) as PPM, then convert it to PNG
// with ImageMagick. Returns 1 when the PNG was written.
static inline int fx_save_png(const s_bitmap &b, const std::string &png)
{
    std::string ppm = png + ".ppm";
    FILE *f = fopen(ppm.c_str(), "wb");
    if (!f) return 0;
    fprintf(f, "P6\n%d %d\n255\n", b.width, b.height);
    for (int i = 0; i < b.width * b.height; i++) {
        uint32_t p = b.pixels[i];
        unsigned char rgb[3] = {(unsigned char)(p & 0xFF), (unsigned char)((p >> 8) & 0xFF),
                                (unsigned char)((p >> 16) & 0xFF)};
        fwrite(rgb, 1, 3, f);
    }
    fclose(f);
    std::string cmd = "convert '" + ppm + "' '" + png + "' 2>/dev/null";
    int ok = system(cmd.c_str()) == 0;
    remove(ppm.c_str());
    return ok;
}

#endif
