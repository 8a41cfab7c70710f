// A captured frame is what the live program presents at the same show time: the
// show's own shell set-up (a real window under Xvfb, its GL context, its present) on
// the capture's clock, with vsync standing in for a 60 Hz display, reads back the
// window's back buffer right before the swap; frames of periods 6 and 7 must have
// the golden record's MD5s (pixels equal, not only close).
#include <gtest/gtest.h>

#include <GL/glew.h>
#include <stdio.h>
#include <stdlib.h>

#include <map>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/md5.h>
#include <libavutil/mem.h>
}

#include "demo/main.h"
#include "demo/startup.h"
#include "engine/driver.h"
#include "engine/video.h"
#include "platform/platform.h"
#include "tools/capture/plan.h"
#include "tests/testutil_os.h"

namespace {

uint64_t frame_no;
std::map<uint64_t, std::string> golden, seen;

uint32_t fake_clock(void)
{
    return cap_clock_ms(frame_no, 60);
}

void read_window(void)
{
    if (!golden.count(frame_no)) return;
    const int w = 640, h = 360;
    std::vector<uint8_t> px((size_t)w * h * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
    AVMD5 *m = av_md5_alloc();
    av_md5_init(m);
    std::vector<uint8_t> row((size_t)w * 3);
    for (int y = h - 1; y >= 0; y--) {
        for (int x = 0; x < w; x++)
            for (int c = 0; c < 3; c++) row[3 * x + c] = px[((size_t)y * w + x) * 4 + c];
        av_md5_update(m, row.data(), row.size());
    }
    uint8_t d[16];
    av_md5_final(m, d);
    av_free(m);
    char hex[33];
    for (int i = 0; i < 16; i++) snprintf(hex + 2 * i, 3, "%02x", d[i]);
    seen[frame_no] = hex;
}

void live_swap(void)
{
    ORB_SwapBuffers();
    frame_no++;
}

TEST(CaptureLive, WindowPresentsTheCapturedFrames)
{
    TU_NEED(getenv("DISPLAY"), "no display: run under xvfb-run");
    FILE *f = fopen(TEST_DATA_DIR "/capture/periods6-7_640x360.framemd5", "r");
    ASSERT_NE(f, nullptr);
    char line[256];
    std::map<uint64_t, std::string> all;
    while (fgets(line, sizeof line, f)) {
        unsigned long long n;
        char hex[64];
        if (line[0] != '#' && sscanf(line, "%llu %63s", &n, hex) == 2) all[n] = hex;
    }
    fclose(f);
    ASSERT_EQ(all.size(), 2 * cap_period_frames(60));
    // The first and last frames of both periods, and a few between.
    const uint64_t first = all.begin()->first, last = all.rbegin()->first;
    for (uint64_t n : { first, first + 1, first + 200, first + 461, first + 462, first + 700, last })
        golden[n] = all.at(n);

    ASSERT_TRUE(plat_init());
    ASSERT_TRUE(plat_create_window("ORB Application", 10, 10));
    plat_set_clock(fake_clock);
    mirador_setoutput(640, 360);
    startup();
    ASSERT_TRUE(orb_glready);
    ORB_vsync_enabled = 1;  // the swap waits for the display; the fake clock is that display
    ORB_preswap_hook = read_window;
    frameio.swapbuffers = live_swap;
    startup_music();
    timeline_start();
    while (timeline_running() && frame_no <= last) timeline_frame();
    ORB_preswap_hook = nullptr;
    for (const auto &g : golden) EXPECT_EQ(seen[g.first], g.second) << "frame " << g.first;
    ORB_CloseVideo();
    plat_set_clock(nullptr);
    plat_destroy_window();
    plat_shutdown();
}

}  // namespace
