// The fixed clock's arithmetic: whole milliseconds that never drift, the sound in
// lock-step with the frames, and the frames of one period.
#include <gtest/gtest.h>

#include "demo/fixedclock.h"

namespace {

TEST(FixedClock, ClockSpreadsFramePeriodsOverWholeMilliseconds)
{
    // 60 fps: 16.67 ms a frame, as 17, 16, 17 (never drifting from n * 1000 / 60).
    EXPECT_EQ(fixedclock_ms(0, 60), 0u);
    EXPECT_EQ(fixedclock_ms(1, 60), 17u);
    EXPECT_EQ(fixedclock_ms(2, 60), 33u);
    EXPECT_EQ(fixedclock_ms(3, 60), 50u);
    EXPECT_EQ(fixedclock_ms(60, 60), 1000u);
    for (uint64_t n = 1; n < 100000; n++) {
        uint32_t step = fixedclock_ms(n, 60) - fixedclock_ms(n - 1, 60);
        ASSERT_TRUE(step == 16 || step == 17) << n;
    }
    EXPECT_EQ(fixedclock_ms(9702, 60), 161700u);
    EXPECT_EQ(fixedclock_ms(3, 120), 25u);  // 24.999.. rounds up
    EXPECT_EQ(fixedclock_ms(7, 30), 233u);
    EXPECT_EQ(fixedclock_ms(5, 50), 100u);
}

TEST(FixedClock, SoundKeepsLockStepWithTheFrames)
{
    EXPECT_EQ(fixedclock_sound_frames(1, 60), 735u);
    EXPECT_EQ(fixedclock_sound_frames(9702, 60), 9702u * 735u);
    EXPECT_EQ(fixedclock_sound_frames(1, 120), 368u);  // 367.5 rounds up
    EXPECT_EQ(fixedclock_sound_frames(2, 120), 735u);
    EXPECT_EQ(fixedclock_sound_frames(1, 50), 882u);
    // A second of frames is always exactly a second of sound.
    for (int fps : { 30, 50, 60, 120 })
        for (uint64_t s = 0; s < 200; s++) EXPECT_EQ(fixedclock_sound_frames(s * fps, fps), s * 44100u);
    // No frame's share is ever negative or more than one frame over.
    for (uint64_t n = 1; n < 2000; n++) {
        uint64_t d = fixedclock_sound_frames(n, 120) - fixedclock_sound_frames(n - 1, 120);
        ASSERT_TRUE(d == 367 || d == 368) << n;
    }
}

TEST(FixedClock, APeriodIs7700MillisecondsOfFrames)
{
    EXPECT_EQ(fixedclock_period_frames(60), 462u);
    EXPECT_EQ(fixedclock_period_frames(30), 231u);
    EXPECT_EQ(fixedclock_period_frames(50), 385u);
    EXPECT_EQ(fixedclock_period_frames(120), 924u);
}

}  // namespace
