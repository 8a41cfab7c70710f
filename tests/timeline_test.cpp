// The show clock and frame loop, driven by a fake clock and fake frame steps.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "demo/main.h"
#include "demo/rand.h"
#include "engine/video.h"

namespace {

// The fake engine: each wait advances the clock by `frame_ms` and returns `step`;
// the keys report `held` with the pressed edge against the previous call.
uint32_t now_ms;
uint32_t frame_ms = 15;
float step = 1.0f;
uint32_t per_read_ms;   // added to the clock on every reading (to tell readings apart)
int held_keys, prev_keys;
std::vector<int> scenes_run;
int presents;

float fake_wait(void)
{
    now_ms += frame_ms;
    return step;
}
void fake_scene(int s) { scenes_run.push_back(s); }
void fake_swap(void) { presents++; }
int fake_keys(int *keys, int *pressed)
{
    *keys = held_keys;
    *pressed = held_keys & ~prev_keys;
    prev_keys = held_keys;
    return held_keys;
}
uint32_t fake_millis(void)
{
    now_ms += per_read_ms;
    return now_ms;
}

class Timeline : public ::testing::Test {
protected:
    void SetUp() override
    {
        now_ms = 1000;
        frame_ms = 15;
        step = 1.0f;
        per_read_ms = 0;
        held_keys = prev_keys = 0;
        scenes_run.clear();
        presents = 0;
        frameio = { fake_wait, fake_scene, fake_swap, fake_keys, fake_millis };
        timeline_start();
    }
};

TEST_F(Timeline, StartsAtPeriodTwoAtRest)
{
    EXPECT_EQ(scene, 2);
    EXPECT_EQ(fade, 0);
    EXPECT_EQ(pulse, 1.0f);
    EXPECT_EQ(pulse2, 1.0f);
    EXPECT_EQ(scenetime, 0.0f);
    EXPECT_EQ(scenestart, 1000u);
    EXPECT_EQ(quit, 0);
}

TEST_F(Timeline, PulseDecaysInSinglePrecisionToItsRestingValues)
{
    std::vector<float> p, p2;
    for (int i = 0; i < 40; i++) {
        timeline_frame();
        p.push_back(pulse);
        p2.push_back(pulse2);
    }
    // The first frame ends at scenetime 1: a pulse, decayed once in the same frame.
    EXPECT_FLOAT_EQ(p[0], 1.95f);
    EXPECT_FLOAT_EQ(p2[0], 1.97f);
    // pulse: 21 decay steps, the last from 1.0000010 to 0.95000094, then it stays.
    EXPECT_GT(p[19], 1.0f);
    EXPECT_EQ(p[20], 0.95000094f);
    EXPECT_EQ(p[39], 0.95000094f);
    // pulse2: 34 steps to 0.98000097.
    EXPECT_GT(p2[32], 1.0f);
    EXPECT_EQ(p2[33], 0.98000097f);
    EXPECT_EQ(p2[39], 0.98000097f);
    // After 40 frames fade is 80 and the frame was presented with pulse at rest.
    EXPECT_EQ(fade, 80);
    EXPECT_FLOAT_EQ(ORB_fadevalue, 80 * 0.95000094f / 255);
    // The flicker of the scan lines follows the pulse: 0.2 * pulse + 0..0.9.
    EXPECT_GE(ORB_scanlinevalue, 0.19f);
    EXPECT_LE(ORB_scanlinevalue, 1.09f);
}

TEST_F(Timeline, PulsesFallEvery128Units)
{
    std::vector<int> pulse_frames;
    for (int f = 1; f <= 400; f++) {
        timeline_frame();
        if (pulse == 1.95f) pulse_frames.push_back(f);
    }
    // scenetime after frame f is f: pulses where (int)scenetime % 128 is 0 or 1.
    std::vector<int> expected = { 1, 128, 129, 256, 257, 384, 385 };
    EXPECT_EQ(pulse_frames, expected);
    // A step of more than two units can jump over a pulse.
    SetUp();
    step = 2.5f;
    int seen = 0;
    for (int f = 0; f < 60; f++) {
        timeline_frame();
        if (pulse == 1.95f) seen++;
    }
    EXPECT_EQ(seen, 0); // scenetime runs 2.5, 5, ..., 150: never 0 or 1 mod 128
}

TEST_F(Timeline, FadeRisesInEvenPeriodsAndFallsLateInOddOnes)
{
    for (int i = 0; i < 127; i++) timeline_frame();
    EXPECT_EQ(fade, 254);
    timeline_frame();
    EXPECT_EQ(fade, 256); // from an even value it stops at 256, not 255
    timeline_frame();
    EXPECT_EQ(fade, 256);

    scene = 3;
    fade = 100;
    scenetime = 390.0f;
    timeline_frame(); // scenetime 390 at the test: held
    EXPECT_EQ(fade, 100);
    scenetime = 399.0f;
    timeline_frame();
    EXPECT_EQ(fade, 96);
    fade = 2;
    timeline_frame();
    EXPECT_EQ(fade, 0); // clamped, never negative
}

TEST_F(Timeline, PeriodEndsAt7700msAndRestartsFromASecondReading)
{
    per_read_ms = 1; // every clock reading is 1 ms later than the one before
    int frames = 0;
    while (scene == 2 && frames < 1000) {
        timeline_frame();
        frames++;
    }
    EXPECT_EQ(scene, 3);
    EXPECT_EQ(scenetime, 0.0f);
    // The change happens at the first frame at least 7700 ms after the start; the
    // new start is the second reading, one millisecond after the test's reading.
    EXPECT_EQ(now_ms, scenestart);
    EXPECT_GE(frames, 7700 / 16);
    EXPECT_LE(frames, 7700 / 15 + 1);
}

TEST_F(Timeline, AStallAdvancesThePeriodByOneOnly)
{
    frame_ms = 20000;
    timeline_frame();
    EXPECT_EQ(scene, 3);
    frame_ms = 15;
    timeline_frame();
    EXPECT_EQ(scene, 3);
}

TEST_F(Timeline, ClockWrapNeitherEndsNorStretchesAPeriod)
{
    now_ms = 0xFFFFFFFFu - 3000;
    timeline_start();
    uint32_t start = now_ms;
    int frames = 0;
    while (scene == 2 && frames < 1000) {
        timeline_frame();
        frames++;
    }
    EXPECT_EQ(scene, 3);
    uint32_t elapsed = now_ms - start; // wrapped past zero on the way
    EXPECT_GE(elapsed, 7700u);
    EXPECT_LT(elapsed, 7700u + 15u + 1u);
}

TEST_F(Timeline, LastFrameIsBlackAndEndsTheShow)
{
    scene = 22;
    fade = 200;
    now_ms = scenestart + 7800;
    timeline_frame();
    EXPECT_EQ(scene, 23);
    EXPECT_TRUE(timeline_running());
    timeline_frame();
    EXPECT_EQ(scenes_run.back(), 23);
    EXPECT_EQ(quit, 1);
    EXPECT_EQ(fade, 0);
    EXPECT_EQ(ORB_fadevalue, 0.0f);
    EXPECT_FALSE(timeline_running());
}

TEST_F(Timeline, EscapeHeldFromTheStartEndsAfterTheFirstFrame)
{
    held_keys = 0x8000;
    timeline_frame();
    EXPECT_EQ(presents, 1); // the frame is presented first
    EXPECT_FALSE(timeline_running());
    // Held, it is not pressed again.
    SetUp();
    held_keys = 0x8000;
    prev_keys = 0x8000;
    timeline_frame();
    EXPECT_TRUE(timeline_running());
}

TEST_F(Timeline, WholeShowOfFifteenMillisecondFramesLasts21Periods)
{
    uint32_t start = now_ms;
    std::vector<int> first_of_period;
    int frames = 0;
    do {
        int before = scene;
        timeline_frame();
        frames++;
        if (scene != before) first_of_period.push_back(scene);
    } while (timeline_running() && frames < 20000);
    EXPECT_EQ(first_of_period.size(), 21u); // 3..23
    EXPECT_EQ(scenes_run.front(), 2);
    EXPECT_EQ(scenes_run.back(), 23);
    uint32_t length = now_ms - start;
    EXPECT_GE(length, 21u * 7700u);
    EXPECT_LE(length, 21u * (7700u + 15u) + 15u); // about 161.7 s
    // Every period's routine ran, in order, each for about 513 frames.
    int count2 = 0;
    for (int s : scenes_run) count2 += (s == 2);
    EXPECT_EQ(count2, 7710 / 15);
}

TEST_F(Timeline, RestoredRandomStateRepeatsTheScanlineFlicker)
{
    // A jump back in the show restores the generator with the loop's own state.
    uint32_t saved = orb_rand_getstate();
    std::vector<float> first, again;
    for (int i = 0; i < 40; i++) {
        timeline_frame();
        first.push_back(ORB_scanlinevalue);
    }
    EXPECT_NE(orb_rand_getstate(), saved);
    orb_rand_setstate(saved);
    EXPECT_EQ(orb_rand_getstate(), saved);
    timeline_start();
    for (int i = 0; i < 40; i++) {
        timeline_frame();
        again.push_back(ORB_scanlinevalue);
    }
    EXPECT_EQ(first, again);
    // The flicker really draws: the frames do not all show the same strength.
    EXPECT_NE(*std::min_element(first.begin(), first.end()),
              *std::max_element(first.begin(), first.end()));
}

} // namespace
