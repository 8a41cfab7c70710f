// scenes_test.cpp - the per-frame arithmetic of the scenes (positions, sizes,
// jitter ranges, captions, random draws), and every scene routine run under GL.
#include <gtest/gtest.h>

#include <math.h>
#include <set>
#include <vector>

#include "demo/effects.h"
#include "demo/main.h"
#include "demo/scenes.h"

namespace {

// Scripted random numbers: returns the values in order and counts the draws.
std::vector<int> script;
size_t drawn;
int scripted(void)
{
    int v = drawn < script.size() ? script[drawn] : 0;
    drawn++;
    return v;
}
void use_script(std::vector<int> v)
{
    script = v;
    drawn = 0;
}

// pulse and pulse2 as the frame loop leaves them between pulses and n frames
// after a pulse (the decay subtracts a double constant and stores a float).
float pulse_after(int frames)
{
    float p = 2.0f;
    for (int i = 0; i < frames; i++)
        if (p > 1.0f) p = (float)(p - 0.05);
    return p;
}
float pulse2_after(int frames)
{
    float p = 2.0f;
    for (int i = 0; i < frames; i++)
        if (p > 1.0f) p = (float)(p - 0.03);
    return p;
}
const float REST = pulse_after(100);    // 0.95000094
const float REST2 = pulse2_after(100);  // 0.98000097

TEST(SceneMath, SineOfFadeAndRestingPulses)
{
    EXPECT_EQ(scene_s(0), 0.0);
    EXPECT_EQ(scene_s(256), 1.0);
    EXPECT_FLOAT_EQ(REST, 0.95000094f);
    EXPECT_FLOAT_EQ(REST2, 0.98000097f);
}

TEST(SceneMath, IntroFadeAndCaptions)
{
    for (float t = 0; t < 512; t += 0.75f) EXPECT_EQ(intro_fade(t), (int)(t / 2)) << t;

    // Period 2: never a caption, no draw.
    use_script({40});
    EXPECT_EQ(intro_caption(2, 10, scripted), 0);
    EXPECT_EQ(intro_caption(2, 300, scripted), 0);
    EXPECT_EQ(drawn, 0u);
    // Period 3: the first caption alone before 147.
    EXPECT_EQ(intro_caption(3, 0, scripted), 1);
    EXPECT_EQ(intro_caption(3, 146.9f, scripted), 1);
    EXPECT_EQ(drawn, 0u);
    // 200..201 has (int)t & 31 == 8: nothing, and no draw.
    EXPECT_EQ(intro_caption(3, 200.5f, scripted), 0);
    EXPECT_EQ(drawn, 0u);
    // In the flicker window the draw picks the caption by bit 5.
    use_script({0, 31, 32, 63, 64 + 32});
    EXPECT_EQ(intro_caption(3, 192, scripted), 1);
    EXPECT_EQ(intro_caption(3, 199.9f, scripted), 1);
    EXPECT_EQ(intro_caption(3, 224, scripted), 2);
    EXPECT_EQ(intro_caption(3, 230, scripted), 2);
    EXPECT_EQ(intro_caption(3, 256, scripted), 2);
    EXPECT_EQ(drawn, 5u);
    // After 295 the second caption stands, but the flicker draw still happens.
    use_script({0});
    EXPECT_EQ(intro_caption(3, 320, scripted), 2);
    EXPECT_EQ(drawn, 1u);
    EXPECT_EQ(intro_caption(3, 330, scripted), 2);
    EXPECT_EQ(drawn, 1u);

    // Jitter: none in period 2 (no draw), 0 at rest, up to 14 after a pulse.
    use_script({15, 15, 0});
    EXPECT_EQ(intro_jitter(2, 1.95f, scripted), 0);
    EXPECT_EQ(drawn, 0u);
    EXPECT_EQ(intro_jitter(3, REST, scripted), 0);
    EXPECT_EQ(intro_jitter(3, pulse_after(1), scripted), 14);
    EXPECT_EQ(intro_jitter(3, pulse_after(1), scripted), 0);
}

TEST(SceneMath, TitleShadeFollowsPulse2)
{
    EXPECT_EQ(title_shade(REST2), 251);
    EXPECT_EQ(title_shade(1.0f), 0);  // before the first pulse of the run
    EXPECT_EQ(title_shade(pulse2_after(1)), 247);
    // The shade falls to 2 on the frame before pulse2 comes to rest, then snaps to 251.
    int frames = 1;
    while (pulse2_after(frames + 1) > 1.0f) frames++;
    EXPECT_EQ(title_shade(pulse2_after(frames)), 2);
    EXPECT_EQ(title_shade(pulse2_after(frames + 1)), 251);
    EXPECT_EQ(frames + 1, 34);
}

TEST(SceneMath, TitlePositionsAndJitter)
{
    EXPECT_EQ(title_y(0), 488);
    EXPECT_EQ(title_y(256), 8);
    // Horizontal shake: (r mod (fade + 1)) / 16 - 8, times pulse.
    EXPECT_EQ(title_x(12345, 0, 1.0f), -8);
    EXPECT_EQ(title_x(256, 256, 1.0f), 8);
    EXPECT_EQ(title_x(0, 256, REST), -7);   // -8 * 0.95 truncates to -7
    EXPECT_EQ(title_x(257, 256, 1.0f), -8); // 257 mod 257 = 0

    // xj only after a pulse (pulse above 1.1), drawn only then.
    use_script({127, 127});
    EXPECT_EQ(title_xjitter(REST, scripted), 0);
    EXPECT_EQ(title_xjitter(1.1f, scripted) >= 0, true);
    EXPECT_EQ(title_xjitter(pulse_after(1), scripted), (int)(127 * (pulse_after(1) - 1)));
    EXPECT_EQ(drawn, 2u);  // 1.1f is just above the double 1.1

    EXPECT_EQ(title_shift(15, REST), 0);
    EXPECT_EQ(title_shift(15, pulse_after(1)), 14);
    EXPECT_EQ(title_logo_y(15, pulse_after(1)), 14);
    EXPECT_EQ(title_logo_y(15, pulse_after(19)), 0);

    // The rays turn 1.5 columns per unit, wrapping as a byte.
    EXPECT_EQ(title_rot(0, 0), 0);
    EXPECT_EQ(title_rot(0, 100), 150);
    EXPECT_EQ(title_rot(10, 200), (300 + 10) & 255);
    EXPECT_EQ(title_rot(-5, 0), 251);
}

TEST(SceneMath, TunnelAnimationAndSlides)
{
    EXPECT_EQ(tunnel_frame(0), 0);
    EXPECT_EQ(tunnel_frame(3.99f), 0);
    EXPECT_EQ(tunnel_frame(4), 1);
    EXPECT_EQ(tunnel_frame(28), 7);
    EXPECT_EQ(tunnel_frame(31.99f), 7);
    EXPECT_EQ(tunnel_frame(32), 0);
    EXPECT_EQ(tunnel_frame(509), 7);
    EXPECT_EQ(tunnel_point_x(0), -256);
    EXPECT_EQ(tunnel_point_x(256), 0);
    EXPECT_EQ(tunnel_strip1_y(0), -64);
    EXPECT_EQ(tunnel_strip1_y(256), 0);
    EXPECT_EQ(tunnel_strip2_y(0), 64);
    EXPECT_EQ(tunnel_strip2_y(256), 0);
}

TEST(SceneMath, RingsPathAndJitterRanges)
{
    int x, y;
    rings_centre(0, &x, &y);
    EXPECT_EQ(x, 240);
    EXPECT_EQ(y, 135);
    rings_centre(64, &x, &y);  // a quarter of the x period
    EXPECT_EQ(x, 340);
    EXPECT_EQ(y, (int)(sin(64 * 0.02454369260617026 * 1.3765) * 100) + 135);

    std::set<int> xs, ys;
    for (int r = 0; r < 64; r++) {
        xs.insert(4 - rings_jitter_x(r, REST));
        ys.insert(2 - rings_jitter_y(r, REST));
    }
    EXPECT_EQ(*xs.begin(), 2);
    EXPECT_EQ(*xs.rbegin(), 7);
    EXPECT_EQ(*ys.begin(), 1);
    EXPECT_EQ(*ys.rbegin(), 3);
    xs.clear();
    ys.clear();
    for (int r = 0; r < 64; r++) {
        xs.insert(4 - rings_jitter_x(r, pulse_after(1)));
        ys.insert(2 - rings_jitter_y(r, pulse_after(1)));
    }
    EXPECT_EQ(*xs.begin(), -9);
    EXPECT_EQ(*xs.rbegin(), 11);
    EXPECT_EQ(*ys.begin(), -4);
    EXPECT_EQ(*ys.rbegin(), 5);
}

TEST(SceneMath, PlanePictureAndLogo)
{
    EXPECT_EQ(plane_caller_x(0), 0);
    EXPECT_EQ(plane_caller_x(256), -544);
    EXPECT_EQ(plane_caller_x(128), -(int)(sin(128 * 0.006135923151542565) * 544));
    EXPECT_EQ(plane_logo_x(0), -256);
    EXPECT_EQ(plane_logo_x(256), 0);
    EXPECT_EQ(plane_logo_x(512), -255);  // sin(pi) is a hair above 0
}

TEST(SceneMath, VhsSizesAndSecondTape)
{
    // Period 12 at scenetime 0: everything of size 0.
    use_script({});
    s_vhssize z = vhs_sizes(vhs_zoom(12, 0, 1.0f, scripted));
    int x, y, w, h;
    vhs_centred(z.zoom, z.half1, &x, &y, &w, &h);
    EXPECT_EQ(w, 0);
    EXPECT_EQ(h, 0);
    EXPECT_EQ(x, 240);
    EXPECT_EQ(y, 135);
    vhs_centred(z.zoom2, z.half2, &x, &y, &w, &h);
    EXPECT_EQ(w | h, 0);
    EXPECT_EQ(drawn, 0u);

    // Period 12 at 500: zoom 300, the fractal at 90.
    z = vhs_sizes(vhs_zoom(12, 500, 1.0f, scripted));
    EXPECT_FLOAT_EQ(z.zoom, 300.0f);
    EXPECT_EQ(z.half1, 150);
    vhs_centred(z.zoom, z.half1, &x, &y, &w, &h);
    EXPECT_EQ(x, 90);
    EXPECT_EQ(y, 135 - 150 * 270 / 480);
    EXPECT_EQ(w, 300);
    EXPECT_EQ(h, (int)(300.0f * 270 / 480));
    EXPECT_EQ(z.half2, 45);
    EXPECT_EQ(z.half3, (int)((300.0f - 256) * 2 * 0.5));

    // Period 13: a draw only while scenetime < 32 (jitter times pulse - 1) and
    // from 334 on (plain jitter).
    use_script({31, 31, 31});
    EXPECT_FLOAT_EQ(vhs_zoom(13, 10, REST, scripted), 410 + 31 * (REST - 1));
    EXPECT_FLOAT_EQ(vhs_zoom(13, 100, REST, scripted), 500);
    EXPECT_FLOAT_EQ(vhs_zoom(13, 334, REST, scripted), 334 + 400 + 31);
    EXPECT_EQ(drawn, 2u);
    EXPECT_EQ(vhs_sizes(600).half3, 344);

    // The second tape: never below scenetime 2 (the mask is at most 128), never from
    // 334 on, and a draw on every call.
    use_script({32767, 32767, 32767, 32767, 32767});
    EXPECT_EQ(vhs_tape2_visible(0, scripted), 0);
    EXPECT_EQ(vhs_tape2_visible(1.99f, scripted), 0);
    EXPECT_EQ(vhs_tape2_visible(2, scripted), 1);     // 32767 & 129 = 129
    EXPECT_EQ(vhs_tape2_visible(333.9f, scripted), 1);
    EXPECT_EQ(vhs_tape2_visible(334, scripted), 0);
    EXPECT_EQ(drawn, 5u);
    use_script({128});
    EXPECT_EQ(vhs_tape2_visible(200, scripted), 0);  // 128 is not above 128
}

TEST(SceneMath, JuliaParametersBounce)
{
    juliare = juliaim = juliareup = juliaimup = 0;
    julia_step(1.0f);
    EXPECT_EQ(juliare, -150);
    EXPECT_EQ(juliaim, -100);
    EXPECT_EQ(juliareup, 1);
    EXPECT_EQ(juliaimup, 1);
    julia_step(1.5f);  // truncated in single precision: 75 and 225
    EXPECT_EQ(juliare, -75);
    EXPECT_EQ(juliaim, 125);
    // Turning at the top.
    juliare = 9990;
    juliaim = 11900;
    julia_step(1.0f);
    EXPECT_EQ(juliare, 10040);
    EXPECT_EQ(juliaim, 12050);
    EXPECT_EQ(juliareup, 0);
    EXPECT_EQ(juliaimup, 0);
    julia_step(0.99f);  // 148.5 -> 148, 99 -> 99
    EXPECT_EQ(juliare, 10040 - 148);
    EXPECT_EQ(juliaim, 12050 - 99);
    // Over a long run both stay in their bands.
    for (int i = 0; i < 20000; i++) {
        julia_step(1.0f);
        ASSERT_GE(juliare, 29 - 150);
        ASSERT_LE(juliare, 10000 + 50);
        ASSERT_GE(juliaim, 19 - 100);
        ASSERT_LE(juliaim, 12000 + 150);
    }
}

TEST(SceneMath, VoxelBobHeadingRollAndStep)
{
    EXPECT_EQ(voxel_bob(0), 9);
    EXPECT_EQ(voxel_bob(16), 17);
    EXPECT_EQ(voxel_bob(48), 1);
    for (int f = 0; f < 200; f++) {
        EXPECT_GE(voxel_bob(f), 1);
        EXPECT_LE(voxel_bob(f), 17);
    }
    EXPECT_EQ(voxel_looker_x(0, 9), -260);  // -256 - 4.5
    EXPECT_EQ(voxel_looker_x(256, 1), 0);   // -0.5 truncates to 0

    // Start-up heading continues the camera's start angle of 32.
    heading = 32.0f;
    EXPECT_EQ(voxel_heading_step(0), 32);
    // A negative heading gives angles near 255.
    heading = -2.0f;
    EXPECT_EQ(voxel_heading_step(192), 253);  // -3.0
    heading = -0.5f;
    EXPECT_EQ(voxel_heading_step(0), 0);      // truncated toward zero
    heading = 300.0f;
    EXPECT_EQ(voxel_heading_step(0), 44);

    EXPECT_EQ(voxel_roll(0), 0);
    EXPECT_EQ(voxel_roll(64), 31);
    EXPECT_EQ(voxel_roll(192), -31);

    // Arithmetic shift: -8388480 >> 8 is -32768, not -32767.
    EXPECT_EQ(voxel_step(128, 1.0f, 65535), 32767);
    EXPECT_EQ(voxel_step(128, 1.0f, -65535), -32768);
    EXPECT_EQ(voxel_step(128, 0.5f, 256), 64);
    // A stall long enough to leave the int range saturates.
    EXPECT_EQ(voxel_step(128, 1e6f, 65535), 2147483520 >> 8);
    EXPECT_EQ(voxel_step(128, 1e6f, -65535), -2147483647 / 256 - 1);

    EXPECT_EQ(voxel_eatit2_x(15, REST), 0);
    EXPECT_EQ(voxel_eatit2_x(15, pulse_after(1)), -14);
}

TEST(SceneMath, BallsOffsetsAtRestAndAfterPulse)
{
    std::set<int> rest, after;
    for (int r = 0; r < 8; r++) {
        rest.insert(4 - balls_jitter(r, REST));
        after.insert(4 - balls_jitter(r, pulse_after(1)));
    }
    EXPECT_EQ(*rest.begin(), 3);
    EXPECT_EQ(*rest.rbegin(), 5);
    EXPECT_EQ(*after.begin(), -2);
    EXPECT_EQ(*after.rbegin(), 7);
}

TEST(SceneMath, CreditsDropsAndJitter)
{
    EXPECT_EQ(credits_y(18, 0), -270);
    // 129.8 as a float lies a hair past the peak: fully down within the truncation.
    EXPECT_GE(credits_y(18, 129.8f), -1);
    EXPECT_LE(credits_y(18, 129.8f), 0);
    EXPECT_EQ(credits_y(18, 259.6f), -270);
    EXPECT_GE(credits_y(18, 389.4f), -1);
    EXPECT_EQ(credits_y(19, 0), -270);
    EXPECT_EQ(credits_y(19, 280.25f), 0);
    for (float t = 0; t < 520; t += 0.5f) {
        EXPECT_LE(credits_y(18, t), 0);
        EXPECT_GE(credits_y(18, t), -270);
    }

    EXPECT_EQ(credits_stage(18, 0), 1);
    EXPECT_EQ(credits_stage(18, 295), 1);
    EXPECT_EQ(credits_stage(18, 295.01f), 2);
    EXPECT_EQ(credits_stage(19, 0), 3);
    EXPECT_EQ(credits_jig_mask(1), 3);
    EXPECT_EQ(credits_jig_mask(2), 7);
    EXPECT_EQ(credits_jig_mask(3), 15);

    EXPECT_EQ(credits_lanterne_x(0, 0), -256);
    EXPECT_EQ(credits_lanterne_x(0, 15), -263);
    EXPECT_EQ(credits_lanterne_x(256, 3), -1);
}

TEST(SceneMath, DanceFiguresAtFramecountZero)
{
    s_dancer d[90];
    int n = dance_figures(0, d, 90);
    ASSERT_GT(n, 0);
    // Row 0: rowy 32, dsize 34; figures at -128 and -60 are left of the screen.
    EXPECT_EQ(d[0].x, 8);
    EXPECT_EQ(d[0].w, 34);
    EXPECT_EQ(d[0].h, 76);        // 34 * 2.25 = 76.5
    EXPECT_EQ(d[0].frame, 3);     // (0 + 0 + 3 * 2) mod 30 / 2
    EXPECT_EQ(d[0].y, 32 - abs((int)(sin(8 * 0.013255665205020225) * 34)));
    EXPECT_EQ(d[1].x, 76);
    EXPECT_EQ(d[1].frame, 4);
    // Rows go top to bottom with growing size: 34, 51, 76.5, ...
    int rows = 1;
    for (int i = 1; i < n; i++)
        if (d[i].w != d[i - 1].w) {
            EXPECT_GT(d[i].w, d[i - 1].w);
            rows++;
        }
    EXPECT_LE(rows, 5);
}

TEST(SceneMath, DanceNeverLeavesTheFirstFifteenFramesOrTheScreen)
{
    s_dancer d[90];
    for (int f = 0; f < 3000; f++) {
        int n = dance_figures(f, d, 90);
        ASSERT_LE(n, 90);
        for (int i = 0; i < n; i++) {
            ASSERT_GE(d[i].frame, 0);
            ASSERT_LE(d[i].frame, 14);
            ASSERT_GT(d[i].x, -d[i].w - 1);
            ASSERT_LE(d[i].x, 479);
            ASSERT_LE(d[i].y, 269);
        }
    }
    // The output is bounded by max.
    EXPECT_LE(dance_figures(0, d, 3), 3);
}

TEST(SceneMath, FinaleFade)
{
    EXPECT_EQ(finale_fade(0), 255);
    EXPECT_EQ(finale_fade(254), 128);
    EXPECT_EQ(finale_fade(509), 0);
    EXPECT_EQ(finale_fade(510), 0);
    EXPECT_EQ(finale_fade(600), 0);
}

}  // namespace
