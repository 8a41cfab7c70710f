// Graphics bookkeeping: frame periods, the frame-rate counter, render statistics,
// the registry summary and the flush (no display needed).
#include <gtest/gtest.h>
#include <string>

#include "engine/bitmap.h"
#include "engine/font.h"
#include "engine/orb.h"
#include "engine/sprite.h"
#include "engine/video.h"
#include "platform/platform.h"

namespace {

uint32_t fake_now;
uint32_t fake_clock(void) { return fake_now; }

class Orb : public ::testing::Test {
protected:
    void SetUp() override { plat_set_clock(fake_clock); }
    void TearDown() override { plat_set_clock(nullptr); }
};

TEST_F(Orb, RefreshRateGivesTruncatedShortenedPeriods)
{
    const int cases[][2] = { { 60, 15 }, { 50, 18 }, { 75, 12 }, { 100, 9 }, { 1, 909 }, { 909, 1 },
                             { 910, 1 }, { 2000, 1 }, { 2147483647, 1 }, { -20, 20 }, { -1, 1 },
                             { -2147483647 - 1, 2147483647 } };
    for (auto &c : cases) {
        fake_now = 1234;
        ORB_SetRefreshRate(c[0]);
        EXPECT_EQ(ORB_video_updatespeed, c[1]) << "rate " << c[0];
        EXPECT_EQ(ORB_video_time, 1234u);
    }
    // A rate of 0 keeps the period (it would be infinite) but restarts the frame.
    ORB_SetRefreshRate(60);
    fake_now = 99;
    testing::internal::CaptureStdout();
    ORB_SetRefreshRate(0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ORB_SetRefreshRate: rate 0 ignored\n");
    EXPECT_EQ(ORB_video_updatespeed, 15);
    EXPECT_EQ(ORB_video_time, 99u);
}

TEST_F(Orb, FpsSamplesWholeSecondWindows)
{
    ORB_video_oldtime = 0;
    ORB_video_fps = 0;
    ORB_video_numframes = 37;
    // The first sample covers everything paced since tick 0.
    fake_now = 5000;
    EXPECT_EQ(ORB_GetFPS(), 37);
    EXPECT_EQ(ORB_video_numframes, 0);
    ORB_video_numframes = 20;
    fake_now = 5999;   // window not over: the old value
    EXPECT_EQ(ORB_GetFPS(), 37);
    fake_now = 6000;
    EXPECT_EQ(ORB_GetFPS(), 20);
    // Across the wrap of the clock.
    ORB_video_oldtime = 0xFFFFFF00u;
    ORB_video_numframes = 61;
    fake_now = 0x10;   // 0x110 ms later
    EXPECT_EQ(ORB_GetFPS(), 20);
    fake_now = 0x2F0;  // 1008 ms later
    EXPECT_EQ(ORB_GetFPS(), 61);
}

TEST_F(Orb, FlushEmptiesRegistriesAndSummaryShowsIt)
{
    orb_numbitmaps = 0;
    orb_numsprites = 0;
    testing::internal::CaptureStdout();
    ORB_FlushGraphics();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "[0 sprites deleted]\n[0 bitmaps deleted]\n");

    static s_bitmap a, b, c;
    ORB_CreateBitmap(4, 4, &a);
    ORB_CreateBitmap(4, 4, &b);
    ORB_CreateBitmap(4, 4, &c);
    testing::internal::CaptureStdout();
    ORB_DeleteBitmap(&b);   // already deleted: skipped silently by the flush
    testing::internal::GetCapturedStdout();
    orb_numfonts = 2;
    ORB_numframebuffers = 3;
    testing::internal::CaptureStdout();
    ORB_ShowGraphicsMemory();
    ORB_FlushGraphics();
    ORB_ShowGraphicsMemory();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "[=== GRAPHICS MEMORY INFO ===]\nNum.Bitmaps: 3 / 1024\nNum.Sprites: 0 / 1024\n"
              "Num.Fonts: 2 / 16\nNum.Framebuffers: 3 / 16\n[============================]\n"
              "[0 sprites deleted]\ndeleting bitmap\ndeleting bitmap\n[3 bitmaps deleted]\n"
              "[=== GRAPHICS MEMORY INFO ===]\nNum.Bitmaps: 0 / 1024\nNum.Sprites: 0 / 1024\n"
              "Num.Fonts: 0 / 16\nNum.Framebuffers: 3 / 16\n[============================]\n");
    EXPECT_EQ(a.pixels, nullptr);
    EXPECT_EQ(c.pixels, nullptr);
    ORB_numframebuffers = 0;
}

} // namespace
