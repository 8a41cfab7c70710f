// The audio output's waveOut model, on the backend the window-less programs run on:
// queued headers come back played, in the order queued and at about the stream's
// rate; a reset hands back what is still queued; nothing comes back after close.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "platform/platform.h"
#include "tests/testutil_os.h"

namespace {

std::mutex got_lock;
std::vector<plat_audiohdr *> got;
std::atomic<int> calls_after_close{0};
std::atomic<int> closed{0};

void done(void *user, plat_audiohdr *h)
{
    (void)user;
    if (closed.load()) calls_after_close++;
    std::lock_guard<std::mutex> g(got_lock);
    got.push_back(h);
}

size_t handed_back(void)
{
    std::lock_guard<std::mutex> g(got_lock);
    return got.size();
}

TEST(PlatformAudio, HeadersComeBackInOrderThenResetAndClose)
{
    TU_NEED(plat_audio_open(44100, 16, 2, done, nullptr), "no audio output here");
    // Four 50 ms buffers of a stereo 16-bit stream.
    std::vector<std::vector<uint8_t>> data(6, std::vector<uint8_t>(2205 * 4, 0));
    plat_audiohdr h[6] = {};
    for (int i = 0; i < 6; i++) {
        h[i].lpData = data[i].data();
        h[i].dwBufferLength = (uint32_t)data[i].size();
        ASSERT_EQ(plat_audio_prepare(&h[i]), 1);
    }
    for (int i = 0; i < 4; i++) ASSERT_EQ(plat_audio_write(&h[i]), 1);
    EXPECT_EQ(plat_audio_write(&h[0]), 0) << "a header already queued was queued again";
    // 200 ms of sound: all four back well within a minute, however busy the machine.
    uint32_t t0 = plat_ticks();
    while (handed_back() < 4 && plat_ticks() - t0 < 60000) plat_sleep(5);
    uint32_t took = plat_ticks() - t0;
    ASSERT_EQ(handed_back(), 4u);
    EXPECT_GE(took, 150u) << "the buffers came back faster than they play";
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(got[i], &h[i]) << "handed back out of order at " << i;
        EXPECT_TRUE(h[i].dwFlags & PLAT_WHDR_DONE);
        EXPECT_FALSE(h[i].dwFlags & PLAT_WHDR_INQUEUE);
    }
    // A reset hands back what is still queued, first to last, before it returns.
    ASSERT_EQ(plat_audio_write(&h[4]), 1);
    ASSERT_EQ(plat_audio_write(&h[5]), 1);
    EXPECT_EQ(plat_audio_unprepare(&h[5]), 0) << "a queued header was unprepared";
    plat_audio_reset();
    ASSERT_EQ(handed_back(), 6u);
    EXPECT_EQ(got[4], &h[4]);
    EXPECT_EQ(got[5], &h[5]);
    for (int i = 0; i < 6; i++) EXPECT_EQ(plat_audio_unprepare(&h[i]), 1);
    // Nothing is handed back once the output is closed.
    for (int i = 0; i < 2; i++) {
        ASSERT_EQ(plat_audio_prepare(&h[i]), 1);
        ASSERT_EQ(plat_audio_write(&h[i]), 1);
    }
    plat_audio_close();
    closed.store(1);
    plat_sleep(100);
    EXPECT_EQ(calls_after_close.load(), 0);
}

}  // namespace
