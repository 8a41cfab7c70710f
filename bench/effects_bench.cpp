// One 480x270 frame of each software effect, from the state its scene starts in,
// over procedural inputs (the same kind the golden tests use).
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <string.h>

#include "demo/effects.h"
#include "demo/freedir.h"
#include "demo/voxel.h"
#include "tests/effects_testutil.h"

static const int W = 480, H = 270;

static s_bitmap bench_bitmap(int w, int h)
{
    s_bitmap b;
    memset(&b, 0, sizeof b);
    b.width = b.texwidth = w;
    b.height = b.texheight = h;
    b.numpixels = w * h;
    b.size = w * h * 4;
    b.pixels = (uint32_t *)calloc((size_t)w * h, 4);
    return b;
}

static s_bitmap bench_texture(void)
{
    s_bitmap b = bench_bitmap(256, 256);
    for (int y = 0; y < 256; y++)
        for (int x = 0; x < 256; x++) {
            uint32_t check = ((x >> 4) ^ (y >> 4)) & 1;
            b.pixels[y * 256 + x] = 0xFF000000u | (uint32_t)(check ? 64 : 255 - x) << 16 |
                                    (uint32_t)y << 8 | (check ? 255u : (uint32_t)x);
        }
    return b;
}

static void run_freedir(benchmark::State &state, int type, float y, int focal)
{
    FD_Initialise(W, H);
    s_bitmap tex = bench_texture(), t = bench_bitmap(W, H);
    s_freedir fd;
    memset(&fd, 0, sizeof fd);
    fd.texture = tex.pixels;
    fd.type = (uint8_t)type;
    fd.y = y;
    fd.z = -10.0f;
    fd.focal = focal;
    fd.speed = 5.0f;
    fd.rotate = 1;
    for (auto _ : state) {
        FD_Render(&fd, t, 255);
        benchmark::DoNotOptimize(t.pixels[0]);
    }
    free(tex.pixels);
    free(t.pixels);
}

static void BM_FD_Tunnel(benchmark::State &state) { run_freedir(state, FD_TUNNEL, 60.0f, 60); }
static void BM_FD_Plane(benchmark::State &state) { run_freedir(state, FD_PLANE, 0.0f, 120); }
BENCHMARK(BM_FD_Tunnel)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FD_Plane)->Unit(benchmark::kMillisecond);

static void BM_DrawVoxel(benchmark::State &state)
{
    s_bitmap hm = bench_bitmap(256, 256), cm = bench_texture(), bg = bench_bitmap(W, H);
    s_bitmap t = bench_bitmap(W, H);
    for (int y = 0; y < 256; y++)
        for (int x = 0; x < 256; x++)
            hm.pixels[y * 256 + x] = (uint32_t)(abs((x * 9 & 511) - 256) + abs((y * 7 & 511) - 256)) / 2 << 16;
    initvoxel(hm, cm, bg);
    s_camera cam = fx_start_camera();
    cam.roll = 12;
    calccamera(&cam);
    for (auto _ : state) {
        drawvoxel(&cam, bg, t);
        benchmark::DoNotOptimize(t.pixels[0]);
    }
    free(hm.pixels);
    free(cm.pixels);
    free(bg.pixels);
    free(t.pixels);
}
BENCHMARK(BM_DrawVoxel)->Unit(benchmark::kMillisecond);

static void BM_DrawJulia(benchmark::State &state)
{
    s_bitmap t = bench_bitmap(W, H);
    int phase = 0;
    for (auto _ : state) {
        DrawJulia(3000, 6000, phase, t);   // parameters from the middle of the vhs walk
        phase ^= 1;
        benchmark::DoNotOptimize(t.pixels[0]);
    }
    free(t.pixels);
}
BENCHMARK(BM_DrawJulia)->Unit(benchmark::kMillisecond);

static void BM_DrawTextureTab(benchmark::State &state)
{
    InitTextureTab(W, H);
    s_bitmap tex = bench_texture(), t = bench_bitmap(W, H);
    int rot = 0;
    for (auto _ : state) {
        DrawTextureTab(240, 135, rot & 0xFF, 0, 251, tex.pixels, t);
        rot++;
        benchmark::DoNotOptimize(t.pixels[0]);
    }
    free(tex.pixels);
    free(t.pixels);
}
BENCHMARK(BM_DrawTextureTab)->Unit(benchmark::kMillisecond);

static void BM_DissolveBitmap(benchmark::State &state)
{
    s_bitmap a = bench_bitmap(W, H), b = bench_bitmap(W, H), t = bench_bitmap(W, H);
    for (int i = 0; i < W * H; i++) {
        a.pixels[i] = 0xFF000000u | (uint32_t)i * 2654435761u >> 8;
        b.pixels[i] = 0xFF000000u | (uint32_t)i * 40503u;
    }
    int mix = 0;
    for (auto _ : state) {
        DissolveBitmap(a, b, t, mix & 0xFF);
        mix += 37;
        benchmark::DoNotOptimize(t.pixels[0]);
    }
    free(a.pixels);
    free(b.pixels);
    free(t.pixels);
}
BENCHMARK(BM_DissolveBitmap)->Unit(benchmark::kMillisecond);
