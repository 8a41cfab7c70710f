// The present (480x270 framebuffer scaled to the window through the post shader,
// glFinish and swap) at both output sizes, and the upload of a 480x270 bitmap.
// Run under Xvfb: xvfb-run -a -s "-screen 0 1920x1080x24 -noreset" ./video_bench
#include <GL/glew.h>
#include <benchmark/benchmark.h>

#include "engine/bitmap.h"
#include "engine/video.h"
#include "platform/platform.h"
// The window helper and post shader of the GL tests, built into this program.
#include "tests/testutil_gl.cpp"

namespace {

int current_w, current_h, fb = -1;
s_bitmap frame;

// One window per process; a new size re-runs the video set-up on the same context.
int open_output(int w, int h)
{
    if (current_w == 0) {
        if (!testgl_open(w, h)) return 0;
        ORB_InitShader(testgl_post_vertex, testgl_post_fragment);
    } else if (current_w != w || current_h != h) {
        ORB_InitVideo(w, h, 0);
    }
    if (current_w != w || current_h != h || fb < 0) {
        fb = ORB_InitFramebuffer(480, 270);
        ORB_CreateBitmap(480, 270, &frame);
        for (int i = 0; i < frame.numpixels; i++) frame.pixels[i] = 0xFF000000u | (uint32_t)i * 2654435761u;
        ORB_UpdateBitmap(frame);
    }
    current_w = w;
    current_h = h;
    return orb_glready;
}

void BM_Present(benchmark::State &state)
{
    if (!open_output((int)state.range(0), (int)state.range(1))) {
        state.SkipWithError("no display or GL context (run under Xvfb)");
        return;
    }
    ORB_SetFramebuffer(fb);
    ORB_DrawBitmap(0, 0, frame);
    ORB_SetScanlineValue(0.2f);
    ORB_SetFadeValue(0.8f);
    for (auto _ : state) ORB_SwapBuffers();
    state.SetLabel(ORB_shaders_enabled ? "post shader" : "fixed function");
}
BENCHMARK(BM_Present)->Args({ 1280, 720 })->Args({ 1920, 1080 })->Unit(benchmark::kMillisecond);

void BM_UpdateBitmap480x270(benchmark::State &state)
{
    if (!open_output(1280, 720)) {
        state.SkipWithError("no display or GL context (run under Xvfb)");
        return;
    }
    for (auto _ : state) {
        ORB_UpdateBitmap(frame);
        glFinish();   // the upload is done when GL has taken the pixels
    }
    state.SetBytesProcessed(state.iterations() * (int64_t)frame.size);
}
BENCHMARK(BM_UpdateBitmap480x270)->Unit(benchmark::kMicrosecond);

} // namespace
