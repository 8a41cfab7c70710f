// The output driver on a real SDL device: SDL's disk driver writes every block the
// device takes to a file, so what the program would play can be read back.
#include "sound/audiodriver.h"
#include "sound/coresound.h"
#include "corefile/corefile.h"

#include "platform/platform.h"

#include <gtest/gtest.h>
#include <atomic>
#include <chrono>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

class Driver : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/sound_driver_XXXXXX";
        int fd = mkstemp(tmpl);
        ASSERT_GE(fd, 0);
        close(fd);
        path = tmpl;
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", path.c_str(), 1);
        setenv("SDL_DISKAUDIODELAY", "1", 1);  // a block per millisecond, not per 46 ms
    }
    void TearDown() override
    {
        Soundsystem_CloseAudio();
        unlink(path.c_str());
    }
    long filesize()
    {
        struct stat st;
        return stat(path.c_str(), &st) == 0 ? (long)st.st_size : -1;
    }
    // Waits until the device has written at least `size` bytes (a minute at most:
    // the device writes a block a millisecond, but a sanitizer build on a busy
    // machine mixes much slower, and only a device that stopped takes that long).
    bool wait_for(long size)
    {
        for (int i = 0; i < 60000; i++) {
            if (filesize() >= size) return true;
            usleep(1000);
        }
        return false;
    }
    std::vector<int16_t> played()
    {
        std::vector<int16_t> v;
        FILE *f = fopen(path.c_str(), "rb");
        if (!f) return v;
        int16_t x;
        while (fread(&x, 2, 1, f) == 1) v.push_back(x);
        fclose(f);
        return v;
    }
    std::string path;
};

TEST_F(Driver, InitArgumentsFormatAndClose)
{
    testing::internal::CaptureStdout();
    EXPECT_EQ(audiodriver_init(44100, 16, 512, 2), 1);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "sample size: 4\nbuffer size: 8192\nopen waveout\n"
                   "AUDIO: opening audio device succesful!\nopen wav-buffers\naudiodriver inited\n");
    EXPECT_EQ(g_sample_size, 4);
    EXPECT_EQ(g_buffer_size, 8192);
    EXPECT_EQ(g_num_prep_buffers, 4);
    EXPECT_EQ(g_waveout_opened, 1);
    EXPECT_EQ(g_wf.wFormatTag, 1);
    EXPECT_EQ(g_wf.nChannels, 2);
    EXPECT_EQ(g_wf.nSamplesPerSec, 44100u);
    EXPECT_EQ(g_wf.nAvgBytesPerSec, 176400u);
    EXPECT_EQ(g_wf.nBlockAlign, 4);
    EXPECT_EQ(g_wf.wBitsPerSample, 16);
    EXPECT_EQ(soundsystem.channels, 2);
    EXPECT_EQ(soundsystem.bits, 16);
    EXPECT_EQ(soundsystem.bufferlength, 2048);
    uint8_t *base = g_audio_buffer;
    ASSERT_TRUE(wait_for(8 * 8192));
    audiodriver_close();
    // The headers are the device's while it runs: looked at once it is closed.
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(g_hdr[i].lpData, base + i * 8192);
        EXPECT_EQ(g_hdr[i].dwBufferLength, 8192u);
    }
    EXPECT_EQ(g_audio_buffer, nullptr);
    EXPECT_EQ(g_waveout_opened, 0);
    EXPECT_EQ(g_num_prep_buffers, 0);
    // Closed: the file stops growing, and a refill or a second close does nothing.
    long size = filesize();
    int cur = g_cur_buf;
    fillnextbuffer();
    audiodriver_close();
    usleep(20000);
    EXPECT_EQ(filesize(), size);
    EXPECT_EQ(g_cur_buf, cur);
    // Without a mix buffer the mixer wrote silence.
    for (int16_t v : played()) ASSERT_EQ(v, 0);

    // Mono: 2-byte frames, 4096-byte buffers; flags 3 is stereo.
    testing::internal::CaptureStdout();
    EXPECT_EQ(audiodriver_init(44100, 16, 2048, 1), 1);
    out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind("sample size: 2\nbuffer size: 4096\n", 0), 0u) << out;
    EXPECT_EQ(g_wf.nChannels, 1);
    EXPECT_EQ(soundsystem.channels, 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(audiodriver_init(44100, 16, 2048, 3), 1);  // closes the open one first
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(g_buffer_size, 8192);
    EXPECT_EQ(soundsystem.channels, 2);
    audiodriver_close();

    // Unsupported width: 0 and nothing opened. Frequency 0: 1 and nothing opened.
    testing::internal::CaptureStdout();
    EXPECT_EQ(audiodriver_init(44100, 24, 2048, 2), 0);
    EXPECT_EQ(soundsystem.bits, 24);
    EXPECT_EQ(g_audio_buffer, nullptr);
    EXPECT_EQ(g_waveout_opened, 0);
    EXPECT_EQ(audiodriver_init(0, 16, 2048, 2), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(g_audio_buffer, nullptr);
    EXPECT_EQ(g_waveout_opened, 0);
}

TEST_F(Driver, PushModePair)
{
    void *buf = (void *)1;
    unsigned size = 0;
    EXPECT_EQ(audiodriver_getbuffer(&buf, &size), 1);
    EXPECT_EQ(buf, nullptr);  // closed: no buffer
    EXPECT_EQ(audiodriver_getbuffer(nullptr, nullptr), 1);
    int cur = g_cur_buf;
    for (int i = 1; i <= 5; i++) {
        audiodriver_submitbuffer();
        EXPECT_EQ(g_cur_buf, (cur + i) % 4);
    }
}

static std::vector<int> g_order;
static void record_buffer(void *data, int size)
{
    memset(data, 0, (size_t)size);
    g_order.push_back(g_cur_buf);  // inside fillnextbuffer: the buffer being refilled
}

TEST_F(Driver, RefillOrderIsRingOrderFromBufferZero)
{
    testing::internal::CaptureStdout();
    Soundsystem_Init(44100, 16, 2);
    audiodriver_close();
    // A stream of exactly one block wraps once per block, at the block's last frame.
    s_sound st;
    Soundsystem_CreateSoundStream(&st, record_buffer, 44100, 16, 2, 2048);
    Soundsystem_PlaySound(&st, 0);
    g_order.clear();
    EXPECT_EQ(audiodriver_init(44100, 16, 2048, 2), 1);
    testing::internal::GetCapturedStdout();
    ASSERT_TRUE(wait_for(24 * 8192));
    audiodriver_close();
    ASSERT_GE(g_order.size(), 9u);
    for (size_t i = 0; i < g_order.size(); i++) ASSERT_EQ(g_order[i], (int)(i % 4)) << i;
    Soundsystem_DeleteSound(&st);
}

// The reference: the mixer run by hand over the same sound from its start.
static std::vector<int16_t> mix_blocks(s_sound *s, int blocks)
{
    Soundsystem_PlaySound(s, 0);
    std::vector<int16_t> v((size_t)blocks * 4096);
    for (int b = 0; b < blocks; b++) audiodriver_mixbuffers(&v[(size_t)b * 4096], 8192, 0);
    return v;
}

TEST_F(Driver, KnownWavPlaysExactlyAsMixedAfterTheSilentPrimingBlocks)
{
    ASSERT_EQ(corefile_mountimage(TEST_DATA_DIR "/sound", 2), 1);
    s_sound tone;
    testing::internal::CaptureStdout();
    Soundsystem_Init(44100, 16, 2);
    Soundsystem_LoadSound("tone_stereo16.wav", &tone);
    testing::internal::GetCapturedStdout();
    ASSERT_NE(tone.data, nullptr);
    Soundsystem_SetPanning(&tone, 100);  // unequal sides, to tell left from right
    ASSERT_TRUE(wait_for(6 * 8192));
    Soundsystem_PlayMusic(&tone, 0);
    ASSERT_TRUE(wait_for(filesize() + 12 * 8192));
    audiodriver_close();
    std::vector<int16_t> got = played();
    // The device starts with the four priming blocks of silence (SDL may put more
    // silence before them while it starts the device); the tone, whose first value
    // is not 0, is heard from the start of a later block, exactly as the mixer makes it.
    size_t first = 0;
    while (first < got.size() && got[first] == 0) first++;
    ASSERT_LT(first, got.size());
    EXPECT_GE(first, 4u * 4096);
    EXPECT_EQ(first % 4096, 0u);
    int blocks = (int)((got.size() - first) / 4096);
    ASSERT_GE(blocks, 4);
    std::vector<int16_t> want = mix_blocks(&tone, blocks);
    for (size_t i = 0; i < want.size(); i++) ASSERT_EQ(got[first + i], want[i]) << i;
    // 6000 stereo frames: sound in the first three blocks, then silence; the sides differ.
    EXPECT_NE(want[0], want[1]);
    EXPECT_NE(want[2 * 5999], 0);
    for (size_t i = 2 * 6000; i < want.size(); i++) ASSERT_EQ(want[i], 0) << i;
    Soundsystem_DeleteSound(&tone);
    corefile_closeimage();
}

}  // namespace

// The show's clock as the driver reads it, set ahead by a test: a device that stalled
// that long (a busy machine) has missed that much sound.
static std::atomic<uint32_t> clock_ahead{0};
static uint32_t ahead_clock(void)
{
    using namespace std::chrono;
    return (uint32_t)duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count() +
           clock_ahead.load();
}
static void no_refill(void *, int) {}

TEST_F(Driver, SoundMissedByTheDeviceIsSkippedNotPlayedLate)
{
    unsetenv("SDL_DISKAUDIODELAY");  // the disk device plays in real time
    plat_set_clock(ahead_clock);
    testing::internal::CaptureStdout();
    ASSERT_EQ(Soundsystem_Init(44100, 16, 2), 1);
    testing::internal::GetCapturedStdout();
    s_sound s;
    memset(&s, 0, sizeof s);
    Soundsystem_CreateSoundStream(&s, no_refill, 44100, 16, 1, 44100 * 2 * 60);  // a minute
    ASSERT_NE(s.data, nullptr);
    soundsystem_lock();
    Soundsystem_PlaySound(&s, 1);
    uint64_t frame = audiodriver_nextframe();
    soundsystem_unlock();
    for (int i = 0; i < 3000 && !audiodriver_heard(frame); i++) usleep(1000);
    ASSERT_TRUE(audiodriver_heard(frame));
    uint32_t t0 = plat_ticks();
    audiodriver_keep_pace(frame, t0);
    auto mixed_s = [&]() {
        soundsystem_lock();
        double p = (double)(s.position >> 8) / 44100.0;
        soundsystem_unlock();
        return p;
    };
    usleep(1200 * 1000);
    double kept = mixed_s(), t1 = (plat_ticks() - t0) / 1000.0;
    // In step: the mixer is ahead of the clock by what is queued (the four blocks,
    // 0.19 s), not more.
    EXPECT_NEAR(kept - t1, 0.19, 0.15);
    clock_ahead.store(400);  // the device missed 0.4 s
    usleep(1500 * 1000);
    double after = mixed_s(), t2 = (plat_ticks() - t0) / 1000.0;
    plat_set_clock(nullptr);
    // Within a second the missed sound was skipped: the mixer is as far ahead of the
    // clock as before, the clock's 0.4 s jump included.
    EXPECT_NEAR(after - t2, kept - t1, 0.12);
    Soundsystem_DeleteSound(&s);
}
