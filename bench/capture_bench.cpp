// Where a captured frame's time goes, stage by stage, on the show's own frames at
// one output size (--size=WxH, default 1280x720): the show's frame without its
// present (logic, effects and their uploads at 480x270), the present into the
// off-screen stand-in (post shader at the output size, glFinish), the read-back,
// the colour conversion to YUV 4:2:0, and the encoder (conversion, H.264 veryfast and
// the Matroska file, on the encoder's thread, fed as fast as it takes frames).
// Run without a display (EGL) from the build folder: bench/capture_bench --size=1920x1080
// bench/capture_speed.sh runs it at both sizes beside two whole-show captures.
#include <GL/glew.h>
#include <benchmark/benchmark.h>

#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <vector>

extern "C" {
#include <libswscale/swscale.h>
}

#include "corefile/corefile.h"
#include "demo/fixedclock.h"
#include "demo/main.h"
#include "demo/show.h"
#include "demo/startup.h"
#include "engine/video.h"
#include "platform/platform.h"
#include "tools/capture/encoder.h"
#include "tools/capture/plan.h"

namespace {

int W = 1280, H = 720;
int ready;
std::vector<uint8_t> frame;  // the last frame read back

bool presenting;  // the fixed clock's frames are presented (else only run)
void bench_present(void)
{
    if (presenting) ORB_SwapBuffers();
}
void read_back(void)
{
    glReadPixels(0, 0, W, H, GL_RGBA, GL_UNSIGNED_BYTE, frame.data());
}

// Start-up once, then the show run on to period 6 (a busy scene).
int show(void)
{
    if (ready) return ready > 0;
    ready = -1;
    if (!plat_init_offscreen(nullptr)) return 0;
    // The show's frames on the fixed clock, not presented unless a benchmark asks.
    const s_fixedclock clock = { 60, bench_present, nullptr };
    fixedclock_take_over(&clock);
    mirador_setoutput(W, H);
    if (chdir(BUILD_DIR) != 0) return 0;
    startup();
    if (!orb_glready) return 0;
    startup_music();
    timeline_start();
    frame.resize((size_t)W * H * 4);
    while (scene < 6) timeline_frame();
    ORB_SwapBuffers();
    read_back();
    ready = 1;
    return 1;
}

void BM_ShowFrameWithoutPresent(benchmark::State &state)
{
    if (!show()) {
        state.SkipWithError("no off-screen GL context");
        return;
    }
    for (auto _ : state) {
        timeline_frame();
        glFinish();
        if (scene >= SHOW_END_PERIOD) timeline_start();
    }
}
BENCHMARK(BM_ShowFrameWithoutPresent)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Present(benchmark::State &state)
{
    if (!show()) {
        state.SkipWithError("no off-screen GL context");
        return;
    }
    for (auto _ : state) ORB_SwapBuffers();
}
BENCHMARK(BM_Present)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReadBack(benchmark::State &state)
{
    if (!show()) {
        state.SkipWithError("no off-screen GL context");
        return;
    }
    ORB_preswap_hook = read_back;
    ORB_SwapBuffers();
    ORB_preswap_hook = nullptr;
    glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, plat_gl_window_fbo());
    glGetError();
    for (auto _ : state) read_back();
    if (glGetError() != GL_NO_ERROR) state.SkipWithError("glReadPixels failed");
    state.SetBytesProcessed((int64_t)state.iterations() * W * H * 4);
}
BENCHMARK(BM_ReadBack)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ConvertToYUV420(benchmark::State &state)
{
    if (!show()) {
        state.SkipWithError("no off-screen GL context");
        return;
    }
    SwsContext *sws = sws_getContext(W, H, AV_PIX_FMT_RGBA, W, H, AV_PIX_FMT_YUV420P, SWS_FAST_BILINEAR, nullptr,
                                     nullptr, nullptr);
    std::vector<uint8_t> y((size_t)W * H), u((size_t)W * H / 4), v((size_t)W * H / 4);
    uint8_t *dst[3] = { y.data(), u.data(), v.data() };
    int dststride[3] = { W, W / 2, W / 2 };
    const uint8_t *src[1] = { frame.data() + (size_t)W * 4 * (H - 1) };
    int srcstride[1] = { -W * 4 };
    for (auto _ : state) sws_scale(sws, src, srcstride, 0, H, dst, dststride);
    sws_freeContext(sws);
}
BENCHMARK(BM_ConvertToYUV420)->Unit(benchmark::kMillisecond)->UseRealTime();

// Real frames of the show, so the encoder sees real motion: 120 of period 6.
void BM_EncoderH264(benchmark::State &state)
{
    if (!show()) {
        state.SkipWithError("no off-screen GL context");
        return;
    }
    static std::vector<std::vector<uint8_t>> frames;
    if (frames.empty()) {
        ORB_preswap_hook = read_back;
        presenting = true;
        for (int i = 0; i < 120; i++) {
            timeline_frame();
            frames.push_back(frame);
        }
        presenting = false;
        ORB_preswap_hook = nullptr;
    }
    char path[] = "/tmp/capture_bench_XXXXXX.mkv", err[256];
    int fd = mkstemps(path, 4);
    if (fd < 0) {
        state.SkipWithError("no temporary file");
        return;
    }
    close(fd);
    encoder *e = encoder_open_with(path, CAP_MKV, W, H, 60, "libx264", nullptr, err, sizeof err);
    if (!e) {
        state.SkipWithError(err);
        return;
    }
    size_t i = 0;
    for (auto _ : state) encoder_frame(e, frames[i++ % frames.size()].data());
    encoder_close(e, err, sizeof err);  // the frames still queued are in the time too
    unlink(path);
}
BENCHMARK(BM_EncoderH264)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(240);

}  // namespace

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; i++)
        if (sscanf(argv[i], "--size=%dx%d", &W, &H) == 2) {
            memmove(argv + i, argv + i + 1, sizeof(char *) * (size_t)(argc - i));
            argc--;
            break;
        }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    plat_shutdown();
    return 0;
}
