// Frame pacing on a fake clock, shader files, and the video calls before any GL
// context exists (no display needed).
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>

#include "engine/bitmap.h"
#include "engine/driver.h"
#include "engine/orb.h"
#include "engine/video.h"
#include "platform/platform.h"

namespace {

// A clock that moves one millisecond per reading (so busy waits end), or stands
// still at a value the test sets.
uint32_t fake_now;
int fake_step;
uint32_t fake_clock(void)
{
    uint32_t t = fake_now;
    fake_now += fake_step;
    return t;
}

class Pacing : public ::testing::Test {
protected:
    void SetUp() override { plat_set_clock(fake_clock); }
    void TearDown() override
    {
        plat_set_clock(nullptr);
        ORB_vsync_enabled = 0;
    }
    void start(uint32_t t, int step, int vsync)
    {
        fake_now = t;
        fake_step = step;
        ORB_vsync_enabled = vsync;
        ORB_SetRefreshRate(60);
    }
};

TEST_F(Pacing, WithoutVsyncFramesAreOnePeriodApart)
{
    start(1000, 1, 0);
    EXPECT_EQ(ORB_video_time, 1000u);
    int frames = ORB_video_numframes;
    // Waits until the clock reads 1015; the elapsed reading after that is 1016.
    float f = ORB_WaitRefresh();
    EXPECT_EQ(ORB_video_time, 1015u);
    EXPECT_FLOAT_EQ(f, 16.0f / 15.0f);
    f = ORB_WaitRefresh();
    EXPECT_EQ(ORB_video_time, 1030u);
    EXPECT_GE(f, 1.0f);
    EXPECT_EQ(ORB_video_numframes, frames + 2);

    // A late frame does not wait and reports how late it is.
    fake_now = 1090;
    f = ORB_WaitRefresh();
    EXPECT_EQ(ORB_video_time, 1090u);
    EXPECT_FLOAT_EQ(f, 61.0f / 15.0f);
}

TEST_F(Pacing, WithVsyncNeverWaits)
{
    start(5000, 0, 1);
    fake_now = 5010;   // fast frame: exactly one period
    EXPECT_EQ(ORB_WaitRefresh(), 1.0f);
    EXPECT_EQ(ORB_video_time, 5010u);
    fake_now = 5040;   // 30 ms at a 15 ms period
    EXPECT_EQ(ORB_WaitRefresh(), 2.0f);
    fake_now = 5055;   // exactly one period still counts as 1
    EXPECT_EQ(ORB_WaitRefresh(), 1.0f);
    fake_now = 5055;   // no time at all
    EXPECT_EQ(ORB_WaitRefresh(), 1.0f);
}

TEST_F(Pacing, ClockWrap)
{
    // A target beyond the wrap ends the wait at once; the elapsed time is still right.
    start(0xFFFFFFF5u, 0, 0);
    fake_now = 0xFFFFFFF6u;
    float f = ORB_WaitRefresh();
    EXPECT_EQ(ORB_video_time, 0xFFFFFFF6u);
    EXPECT_FLOAT_EQ(f, 1.0f / 15.0f);
    // The same with a moving clock: the target 0xFFFFFFF6 + 15 = 5 has wrapped, so
    // the frame at 0xFFFFFFFF does not wait (one short frame at the wrap) ...
    fake_step = 1;
    fake_now = 0xFFFFFFFFu;
    f = ORB_WaitRefresh();
    EXPECT_EQ(ORB_video_time, 0xFFFFFFFFu);
    EXPECT_FLOAT_EQ(f, 10.0f / 15.0f);   // elapsed reading 0 - 0xFFFFFFF6
    // ... and the next one waits a full period across the wrap, to 14.
    f = ORB_WaitRefresh();
    EXPECT_EQ(ORB_video_time, 14u);
    EXPECT_FLOAT_EQ(f, 16.0f / 15.0f);
}

// Pictures seen 78 ms after the reading they show (40 ms frames, each swap returning
// 38 ms into its frame): the frame clock comes to run 63 ms ahead, beyond the one
// 15 ms step that is the show's own. When the frames are quick again the lead falls
// without the clock ever going back; a stall is not counted; a restart drops the lead.
TEST_F(Pacing, FrameClockRunsAheadByHowLateThePicturesCome)
{
    start(1000, 0, 1);
    uint32_t t = 1000, last = ORB_GetMillis();
    auto frames = [&](int n, uint32_t length, uint32_t presented) {
        for (int i = 0; i < n; i++) {
            fake_now = t;
            ORB_WaitRefresh();
            EXPECT_GE((int32_t)(ORB_video_time - last), 0);
            fake_now = t + presented;
            orb_frame_presented();
            const uint32_t m = ORB_GetMillis();
            EXPECT_GE((int32_t)(m - ORB_video_time), 0);
            last = m;
            t += length;
        }
    };
    frames(200, 40, 38);
    EXPECT_EQ(ORB_GetMillis() - fake_now, 63u);
    frames(1, 2000, 1990);        // a stall
    frames(1, 40, 38);
    EXPECT_EQ(ORB_GetMillis() - fake_now, 63u);
    frames(300, 15, 5);           // seen 20 ms after their readings
    EXPECT_EQ(ORB_GetMillis() - fake_now, 5u);
    ORB_SetRefreshRate(60);
    EXPECT_EQ(ORB_GetMillis(), fake_now);
}

// ---- Shader files ------------------------------------------------------------------------

std::string temp_file(const char *name, const char *text)
{
    std::string path = std::string(BUILD_DIR) + "/video_pacing_" + name;
    FILE *f = fopen(path.c_str(), "wb");
    if (f) {
        fputs(text, f);
        fclose(f);
    }
    return path;
}

TEST(ShaderFiles, TextFileRead)
{
    EXPECT_EQ(textFileRead(nullptr), nullptr);
    EXPECT_EQ(textFileRead("/nonexistent/dir/shader.vert"), nullptr);
    std::string empty = temp_file("empty.txt", "");
    EXPECT_EQ(textFileRead(empty.c_str()), nullptr);

    std::string full = temp_file("shader.txt", "void main() {}\n");
    char *text = textFileRead(full.c_str());
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "void main() {}\n");
    free(text);
    remove(empty.c_str());
    remove(full.c_str());
}

TEST(ShaderFiles, LoadShaderWithMissingFileWithoutGlsl)
{
    // Without GLSL an index is handed out whatever the texts are.
    ASSERT_EQ(ORB_shaders_enabled, 0);
    int n = ORB_numshaders;
    EXPECT_EQ(ORB_LoadShader("/nonexistent.vert", "/nonexistent.frag"), n);
    EXPECT_EQ(ORB_InitShader("a", "b"), n + 1);
}

// ---- Before any GL context ------------------------------------------------------------------

TEST(Headless, CallsDoNothingWithoutContext)
{
    ASSERT_EQ(orb_glready, 0);
    s_bitmap b;
    ORB_CreateBitmap(4, 4, &b);
    EXPECT_EQ(b.texture, 0u);
    ORB_ClearColorBitmap(b, 0x11223344);
    EXPECT_EQ(b.pixels[15], 0x11223344u);
    ORB_DrawBitmap(0, 0, b);
    ORB_DrawRotatedBitmap(0, 0, b, 45);
    ORB_DrawBlendBitmap(0, 0, b, 1);
    ORB_BindTexture(5);
    EXPECT_EQ(ORB_stats_numtriangles, 0);
    EXPECT_EQ(ORB_stats_numtexturebinds, 0);
    ORB_SwapBuffers();
    ORB_SwapBuffers2();
    ORB_Enable2D();
    ORB_Disable2D();
    ORB_SetBlendMode(1);
    ORB_DeleteBitmap(&b);
    EXPECT_EQ(b.pixels, nullptr);
}

} // namespace
