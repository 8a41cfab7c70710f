// TGA decoding speed: this engine's decoder against stb_image on the same files in
// memory. Each iteration decodes one whole file into a freshly allocated buffer and
// frees it (ours also keys magenta; stb converts to RGBA).
//   Files: a 480x270 24-bit picture (bottom-left, uncompressed), a 256x256 24-bit
//   run-length picture (flat bands and noisy areas), a 64x64 32-bit sprite (top-left).
#include <benchmark/benchmark.h>

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_TGA
#include <stb/stb_image.h>

#include "engine/bitmap.h"
#include "engine/tga.h"

typedef std::vector<uint8_t> bytes;

static bytes header(int type, int bpp, int w, int h, int desc)
{
    bytes b(18, 0);
    b[2] = (uint8_t)type;
    b[12] = (uint8_t)w, b[13] = (uint8_t)(w >> 8), b[14] = (uint8_t)h, b[15] = (uint8_t)(h >> 8);
    b[16] = (uint8_t)bpp, b[17] = (uint8_t)desc;
    return b;
}

static uint32_t lcg(uint32_t *s)
{
    *s = *s * 1664525u + 1013904223u;
    return *s >> 8;
}

// A picture: smooth gradients with some noise, like a rendered background.
static bytes picture_24()
{
    bytes f = header(2, 24, 480, 270, 0x00);
    uint32_t s = 1;
    for (int y = 0; y < 270; y++)
        for (int x = 0; x < 480; x++) {
            int n = (int)(lcg(&s) & 15);
            f.push_back((uint8_t)(x / 2 + n));
            f.push_back((uint8_t)(y + n));
            f.push_back((uint8_t)((x + y) / 3));
        }
    return f;
}

// Run-length coding of 24-bit pixels: runs of 2 or more as run packets.
static bytes rle_picture()
{
    const int w = 256, h = 256;
    std::vector<uint32_t> px((size_t)w * h);
    uint32_t s = 7;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            px[(size_t)y * w + x] = ((y / 16) & 1) ? (lcg(&s) & 0xFFFFFF) : (uint32_t)(y * 0x010203 + (x / 32) * 0x100000);
    bytes f = header(10, 24, w, h, 0x20);
    size_t i = 0, n = px.size();
    while (i < n) {
        size_t run = 1;
        while (i + run < n && run < 128 && px[i + run] == px[i]) run++;
        if (run >= 2) {
            f.push_back((uint8_t)(0x80 | (run - 1)));
            f.push_back((uint8_t)px[i]), f.push_back((uint8_t)(px[i] >> 8)), f.push_back((uint8_t)(px[i] >> 16));
            i += run;
            continue;
        }
        size_t raw = 1;
        while (i + raw < n && raw < 128 && px[i + raw] != px[i + raw - 1]) raw++;
        f.push_back((uint8_t)(raw - 1));
        for (size_t k = 0; k < raw; k++) {
            uint32_t c = px[i + k];
            f.push_back((uint8_t)c), f.push_back((uint8_t)(c >> 8)), f.push_back((uint8_t)(c >> 16));
        }
        i += raw;
    }
    return f;
}

// A sprite: a disc with soft alpha on a magenta background.
static bytes sprite_32()
{
    bytes f = header(2, 32, 64, 64, 0x28);
    for (int y = 0; y < 64; y++)
        for (int x = 0; x < 64; x++) {
            int dx = x - 32, dy = y - 32, d2 = dx * dx + dy * dy;
            if (d2 > 900) {
                f.insert(f.end(), {0xFF, 0x00, 0xFF, 0xFF});
            } else {
                f.push_back((uint8_t)(x * 4));
                f.push_back((uint8_t)(y * 4));
                f.push_back(0xC0);
                f.push_back((uint8_t)(255 - d2 / 4));
            }
        }
    return f;
}

static const bytes &file(int which)
{
    static const bytes files[3] = {picture_24(), rle_picture(), sprite_32()};
    return files[which];
}

// Both decoders must see the same picture: our pixels (buffer order R, G, B, A)
// equal stb's RGBA bytes wherever ours did not key magenta out.
static bool same_picture(const bytes &f)
{
    s_tgainfo info;
    if (!tga_readheader(f.data(), f.size(), &info)) return false;
    std::vector<uint32_t> ours((size_t)info.width * info.height);
    s_bitmap bmp;
    memset(&bmp, 0, sizeof(bmp));
    bmp.width = info.width, bmp.height = info.height, bmp.numpixels = (int)ours.size();
    bmp.pixels = ours.data();
    if (tga_decode(f.data(), f.size(), bmp) != 1) return false;
    int w, h, n;
    stbi_uc *px = stbi_load_from_memory(f.data(), (int)f.size(), &w, &h, &n, 4);
    if (!px || w != info.width || h != info.height) return false;
    bool same = true;
    for (size_t i = 0; i < ours.size(); i++) {
        uint32_t theirs;
        memcpy(&theirs, px + i * 4, 4);
        if (ours[i] != 0 && ours[i] != theirs) same = false;
    }
    stbi_image_free(px);
    return same;
}

static void BM_Orb(benchmark::State &state)
{
    const bytes &f = file((int)state.range(0));
    if (!same_picture(f)) {
        state.SkipWithError("decoders disagree");
        return;
    }
    for (auto _ : state) {
        s_tgainfo info;
        if (!tga_readheader(f.data(), f.size(), &info)) {
            state.SkipWithError("header refused");
            break;
        }
        s_bitmap bmp;
        memset(&bmp, 0, sizeof(bmp));
        bmp.width = info.width;
        bmp.height = info.height;
        bmp.numpixels = info.width * info.height;
        bmp.pixels = (uint32_t *)malloc((size_t)bmp.numpixels * 4);
        int r = tga_decode(f.data(), f.size(), bmp);
        benchmark::DoNotOptimize(bmp.pixels[bmp.numpixels - 1]);
        free(bmp.pixels);
        if (r != 1) {
            state.SkipWithError("decode incomplete");
            break;
        }
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)f.size());
}

static void BM_Stb(benchmark::State &state)
{
    const bytes &f = file((int)state.range(0));
    for (auto _ : state) {
        int w, h, n;
        stbi_uc *px = stbi_load_from_memory(f.data(), (int)f.size(), &w, &h, &n, 4);
        if (!px) {
            state.SkipWithError(stbi_failure_reason());
            break;
        }
        benchmark::DoNotOptimize(px[(size_t)w * h * 4 - 1]);
        stbi_image_free(px);
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)f.size());
}

// 0: 480x270 24-bit, 1: 256x256 RLE, 2: 64x64 32-bit sprite.
BENCHMARK(BM_Orb)->Arg(0);
BENCHMARK(BM_Stb)->Arg(0);
BENCHMARK(BM_Orb)->Arg(1);
BENCHMARK(BM_Stb)->Arg(1);
BENCHMARK(BM_Orb)->Arg(2);
BENCHMARK(BM_Stb)->Arg(2);
