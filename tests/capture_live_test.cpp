// A captured frame is what the live program presents at the same show time: the
// show's own shell set-up (a real window under Xvfb, its GL context, its present) on
// the capture's fixed clock, standing in for a 60 Hz display, reads back the
// window's back buffer right before the swap; frames of periods 6 and 7 must have
// the golden record's MD5s (pixels equal, not only close).
#include <gtest/gtest.h>

#include <GL/glew.h>
#include <stdio.h>
#include <stdlib.h>

#include <map>
#include <string>
#include <vector>

#include "corefile/md5.h"
#include "demo/fixedclock.h"
#include "demo/main.h"
#include "demo/startup.h"
#include "engine/driver.h"
#include "engine/video.h"
#include "platform/platform.h"
#include "tests/testutil_os.h"

namespace {

std::map<uint64_t, std::string> golden, seen;

void read_window(void)
{
    const uint64_t n = fixedclock_frame_no;
    if (!golden.count(n)) return;
    const int w = 640, h = 360;
    std::vector<uint8_t> px((size_t)w * h * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
    uint8_t d[16];
    char hex[33];
    md5_frame(px.data(), w, h, d);
    md5_hex(d, hex);
    seen[n] = hex;
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
    ASSERT_EQ(all.size(), 2 * fixedclock_period_frames(60));
    // The first and last frames of both periods, and a few between.
    const uint64_t first = all.begin()->first, last = all.rbegin()->first;
    for (uint64_t n : { first, first + 1, first + 200, first + 461, first + 462, first + 700, last })
        golden[n] = all.at(n);

    ASSERT_TRUE(plat_init());
    ASSERT_TRUE(plat_create_window("ORB Application", 10, 10));
    const s_fixedclock clock = { 60, nullptr, nullptr };  // the window's own sound device mixes
    fixedclock_take_over(&clock);
    mirador_setoutput(640, 360);
    startup();
    ASSERT_TRUE(orb_glready);
    ORB_preswap_hook = read_window;
    startup_music();
    timeline_start();
    while (timeline_running() && fixedclock_frame_no <= last) timeline_frame();
    ORB_preswap_hook = nullptr;
    for (const auto &g : golden) EXPECT_EQ(seen[g.first], g.second) << "frame " << g.first;
    ORB_CloseVideo();
    fixedclock_release();
    plat_destroy_window();
    plat_shutdown();
}

}  // namespace
