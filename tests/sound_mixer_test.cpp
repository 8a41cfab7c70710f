// Mixer arithmetic: gains, resampling, ends of sounds, streams, clipping and
// two-channel sources, one block at a time. No device is opened (SDL is pointed at
// a driver that does not exist), so the mixer runs only when a test calls it; this
// is also the program's silent path when no sound card is there.
#include "sound/audiodriver.h"
#include "sound/coresound.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <vector>

#include "testutil_os.h"

namespace {

class Mixer : public ::testing::Test {
protected:
    void start(int channels)
    {
        ASSERT_TRUE(tu_no_audio_device());
        Soundsystem_Init(44100, 16, (unsigned)channels);
        och = channels == 2 ? 2 : 1;
    }
    void TearDown() override
    {
        for (s_sound *s : made) Soundsystem_DeleteSound(s);
        Soundsystem_CloseAudio();
    }
    // A sound of 16-bit values at freq Hz (channels interleaved), not looping.
    void make16(s_sound *s, int channels, int freq, const std::vector<int16_t> &v)
    {
        Soundsystem_CreateSoundStream(s, nullptr, freq, 16, channels, (int)v.size() / channels);
        memcpy(s->data, v.data(), v.size() * 2);
        s->loop = 0;
        made.push_back(s);
    }
    void make8(s_sound *s, int channels, int freq, const std::vector<uint8_t> &v)
    {
        Soundsystem_CreateSoundStream(s, nullptr, freq, 8, channels, (int)v.size() / channels);
        memcpy(s->data, v.data(), v.size());
        s->loop = 0;
        made.push_back(s);
    }
    std::vector<int16_t> mix(int frames)
    {
        std::vector<int16_t> out((size_t)frames * och, 0x5555);
        audiodriver_mixbuffers(out.data(), frames * och * 2, 0);
        return out;
    }
    // Records outlive the test body: TearDown releases their data.
    s_sound &next() { return pool[used++]; }
    int och = 2;
    s_sound pool[8] = {};
    int used = 0;
    std::vector<s_sound *> made;
};

TEST_F(Mixer, NoDeviceLeavesStateReadyAndSilent)
{
    start(2);
    EXPECT_EQ(g_waveout_opened, 0);
    EXPECT_EQ(g_audio_buffer, nullptr);
    EXPECT_EQ(soundsystem.channels, 2);
    EXPECT_EQ(soundsystem.bits, 16);
    EXPECT_EQ(soundsystem.bufferlength, 2048);
    EXPECT_EQ(soundsystem.outsize, 2 * 2048 * 4);
    ASSERT_NE(Soundsystem_GetOutputBuffer(), nullptr);
    // The refill has nothing to fill and nothing to queue.
    fillnextbuffer();
    EXPECT_EQ(g_cur_buf, 0);
    for (int16_t v : mix(2048)) ASSERT_EQ(v, 0);
}

TEST_F(Mixer, ConstantSoundAtFullVolumeCentre)
{
    start(2);
    s_sound &s = next();
    make16(&s, 1, 44100, std::vector<int16_t>(5000, 16384));
    Soundsystem_PlaySound(&s, 0);
    for (int16_t v : mix(2048)) ASSERT_EQ(v, 8128);  // (16384 * 127) >> 8
    // 8-bit 192 is the same level: (192 - 128) * 256.
    s_sound &b = next();
    make8(&b, 1, 44100, std::vector<uint8_t>(5000, 192));
    Soundsystem_StopSound(&s);
    Soundsystem_PlaySound(&b, 0);
    for (int16_t v : mix(2048)) ASSERT_EQ(v, 8128);
}

TEST_F(Mixer, GroupAndMasterVolumesAndPanning)
{
    start(2);
    s_sound &fx = next();
    s_sound &mu = next();
    make16(&fx, 1, 44100, std::vector<int16_t>(5000, 16384));
    make16(&mu, 1, 44100, std::vector<int16_t>(5000, -16384));
    Soundsystem_PlaySound(&fx, 0);
    Soundsystem_PlayMusic(&mu, 0);
    Soundsystem_SetMusicVolume(0);
    std::vector<int16_t> o = mix(4);
    EXPECT_EQ(o[0], 8128);
    EXPECT_EQ(o[1], 8128);
    Soundsystem_SetMusicVolume(255);
    Soundsystem_SetEffectVolume(0);
    o = mix(4);
    EXPECT_EQ(o[0], -8128);
    Soundsystem_SetEffectVolume(255);
    Soundsystem_SetMasterVolume(0);
    o = mix(4);
    EXPECT_EQ(o[0], 0);
    EXPECT_EQ(o[1], 0);
    // Hard left: leftvol (255 * 255) >> 8 = 254, gain (254 * 65025) >> 16 = 252.
    Soundsystem_SetMasterVolume(255);
    Soundsystem_StopSound(&mu);
    Soundsystem_SetPanning(&fx, 0);
    o = mix(4);
    EXPECT_EQ(o[0], (16384 * 252) >> 8);
    EXPECT_EQ(o[1], 0);
    // Centre panning through the setter gives leftvol (127 * 255) >> 8 = 126; at half
    // master volume G = 255 * 128 and L = (126 * 32640) >> 16 = 62.
    Soundsystem_SetPanning(&fx, 128);
    Soundsystem_SetMasterVolume(128);
    o = mix(4);
    EXPECT_EQ(o[0], (16384 * 62) >> 8);
}

TEST_F(Mixer, MonoOutputClipsAtMinus32767)
{
    start(1);
    EXPECT_EQ(soundsystem.channels, 1);
    s_sound &a = next();
    s_sound &b = next();
    make16(&a, 1, 44100, std::vector<int16_t>(3000, -32768));
    make16(&b, 1, 44100, std::vector<int16_t>(3000, -32768));
    Soundsystem_PlaySound(&a, 0);
    Soundsystem_PlaySound(&b, 0);
    // (-32768 * 253 * 2) >> 8 = -64768, stored as -32767 (not -32768).
    for (int16_t v : mix(2048)) ASSERT_EQ(v, -32767);
    s_sound &c = next();
    s_sound &d = next();
    make16(&c, 1, 44100, std::vector<int16_t>(3000, 32767));
    make16(&d, 1, 44100, std::vector<int16_t>(3000, 32767));
    Soundsystem_StopSound(&a);
    Soundsystem_StopSound(&b);
    Soundsystem_PlaySound(&c, 0);
    Soundsystem_PlaySound(&d, 0);
    for (int16_t v : mix(16)) ASSERT_EQ(v, 32767);
    // One sound alone at gain 253: (-32768 * 253) >> 8 = -32384, no clipping.
    Soundsystem_StopSound(&c);
    Soundsystem_StopSound(&d);
    Soundsystem_PlaySound(&a, 0);
    for (int16_t v : mix(16)) ASSERT_EQ(v, -32384);
}

TEST_F(Mixer, LoopingSoundHasNoGap)
{
    start(1);
    std::vector<int16_t> v(1000);
    for (int i = 0; i < 1000; i++) v[i] = (int16_t)(i * 32 - 16000);
    s_sound &s = next();
    make16(&s, 1, 44100, v);
    EXPECT_EQ(s.step, 256u);
    Soundsystem_PlaySound(&s, 1);
    for (int block = 0; block < 3; block++) {
        std::vector<int16_t> o = mix(2048);
        for (int k = 0; k < 2048; k++) {
            int f = block * 2048 + k;
            ASSERT_EQ(o[k], (v[f % 1000] * 253) >> 8) << "frame " << f;
        }
    }
    EXPECT_EQ(soundsystem.numactive, 1);
    EXPECT_EQ(s.position, (uint64_t)((3 * 2048) % 1000) * 256);
}

TEST_F(Mixer, EndingSoundLeavesListInItsBlockAndNextSoundStillMixed)
{
    start(1);
    s_sound &a = next();
    s_sound &b = next();
    make16(&a, 1, 44100, std::vector<int16_t>(3000, 1000));
    make16(&b, 1, 44100, std::vector<int16_t>(10000, 2000));
    Soundsystem_PlaySound(&a, 0);
    Soundsystem_PlaySound(&b, 0);
    std::vector<int16_t> o = mix(2048);
    EXPECT_EQ(soundsystem.numactive, 2);
    EXPECT_EQ(a.playing, 1);
    for (int16_t x : o) ASSERT_EQ(x, ((1000 + 2000) * 253) >> 8);
    // a reaches 3000 * 256 at frame 951 of the second block (2048 + 952 = 3000).
    o = mix(2048);
    EXPECT_EQ(soundsystem.numactive, 1);
    EXPECT_EQ(active_sounds[0], &b);
    EXPECT_EQ(a.playing, 0);
    EXPECT_EQ(a.position, 0u);
    EXPECT_EQ(o[951], ((1000 + 2000) * 253) >> 8);
    for (int k = 952; k < 2048; k++) ASSERT_EQ(o[k], (2000 * 253) >> 8) << k;
    EXPECT_EQ(b.position, 4096u * 256);
}

TEST_F(Mixer, SoundAtHalfRateRepeatsEachValue)
{
    start(2);
    std::vector<int16_t> v(3000);
    for (int i = 0; i < 3000; i++) v[i] = (int16_t)(i * 10);
    s_sound &s = next();
    make16(&s, 1, 22050, v);
    EXPECT_EQ(s.step, 128u);
    Soundsystem_PlaySound(&s, 0);
    std::vector<int16_t> o = mix(2048);
    for (int k = 0; k < 2048; k++) {
        ASSERT_EQ(o[2 * k], (v[k / 2] * 127) >> 8) << k;
        ASSERT_EQ(o[2 * k + 1], o[2 * k]);
    }
}

TEST_F(Mixer, StereoSourceReachesBothSides)
{
    start(2);
    std::vector<int16_t> v;
    for (int f = 0; f < 5000; f++) {
        v.push_back((int16_t)(f * 6));       // left
        v.push_back((int16_t)(-f * 6 - 5));  // right
    }
    s_sound &s = next();
    make16(&s, 2, 44100, v);
    EXPECT_EQ(s.step, 512u);
    Soundsystem_PlaySound(&s, 0);
    Soundsystem_SetPanning(&s, 0);  // left side only: its values must not leak right
    std::vector<int16_t> o = mix(2048);
    for (int k = 0; k < 2048; k++) {
        ASSERT_EQ(o[2 * k], (v[2 * k] * 252) >> 8) << k;
        ASSERT_EQ(o[2 * k + 1], 0) << k;
    }
    Soundsystem_SetPanning(&s, 255);
    o = mix(2048);
    for (int k = 0; k < 2048; k++) {
        ASSERT_EQ(o[2 * k], 0) << k;
        ASSERT_EQ(o[2 * k + 1], (v[2 * (2048 + k) + 1] * 252) >> 8) << k;
    }
}

TEST_F(Mixer, StereoSourceAtHalfRateAndEightBit)
{
    start(2);
    // 22050 Hz stereo: step 256, every frame played twice with its own left and right.
    std::vector<int16_t> v;
    for (int f = 0; f < 2000; f++) {
        v.push_back((int16_t)(f + 100));
        v.push_back((int16_t)(-f - 3000));
    }
    s_sound &s = next();
    make16(&s, 2, 22050, v);
    EXPECT_EQ(s.step, 256u);
    Soundsystem_PlaySound(&s, 0);
    std::vector<int16_t> o = mix(2048);
    for (int k = 0; k < 2048; k++) {
        ASSERT_EQ(o[2 * k], (v[2 * (k / 2)] * 127) >> 8) << k;
        ASSERT_EQ(o[2 * k + 1], (v[2 * (k / 2) + 1] * 127) >> 8) << k;
    }
    Soundsystem_StopSound(&s);
    s_sound &b = next();
    std::vector<uint8_t> bv;
    for (int f = 0; f < 3000; f++) {
        bv.push_back(192);  // +16384
        bv.push_back(64);   // -16384
    }
    make8(&b, 2, 44100, bv);
    Soundsystem_PlaySound(&b, 0);
    o = mix(2048);
    for (int k = 0; k < 2048; k++) {
        ASSERT_EQ(o[2 * k], 8128);
        ASSERT_EQ(o[2 * k + 1], -8128);
    }
}

TEST_F(Mixer, StereoSourceIntoMonoOutputIsTheAverage)
{
    start(1);
    std::vector<int16_t> v;
    for (int f = 0; f < 3000; f++) {
        v.push_back(1000);
        v.push_back(-2000);
    }
    s_sound &s = next();
    make16(&s, 2, 44100, v);
    Soundsystem_PlaySound(&s, 0);
    // (1000 + -2000) >> 1 = -500; (-500 * 253) >> 8 = -495 (the shift rounds down).
    for (int16_t x : mix(2048)) ASSERT_EQ(x, -495);
}

static int g_refills;
static int g_refill_size;
static void refill(void *data, int size)
{
    g_refills++;
    g_refill_size = size;
    int16_t *p = (int16_t *)data;
    for (int i = 0; i < size / 2; i++) p[i] = (int16_t)(g_refills * 1000 + i);
}

TEST_F(Mixer, StreamIsRefilledAtItsWrap)
{
    start(1);
    g_refills = 0;
    s_sound &s = next();
    Soundsystem_CreateSoundStream(&s, refill, 44100, 16, 1, 700);
    made.push_back(&s);
    EXPECT_EQ(s.loop, 1);
    EXPECT_EQ(s.size, 1400);
    EXPECT_EQ(s.numsamples, 700);
    Soundsystem_PlaySound(&s, 0);
    std::vector<int16_t> o = mix(2048);
    // 2048 frames pass the end of the 700-frame buffer twice.
    EXPECT_EQ(g_refills, 2);
    EXPECT_EQ(g_refill_size, 1400);
    for (int k = 0; k < 700; k++) ASSERT_EQ(o[k], 0) << k;  // the zero-filled start
    for (int k = 700; k < 1400; k++) ASSERT_EQ(o[k], ((1000 + k - 700) * 253) >> 8) << k;
    for (int k = 1400; k < 2048; k++) ASSERT_EQ(o[k], ((2000 + k - 1400) * 253) >> 8) << k;
    EXPECT_EQ(soundsystem.numactive, 1);
    EXPECT_EQ(s.playing, 1);
}

static s_sound *g_victim;
static void stop_other(void *data, int size)
{
    memset(data, 0, (size_t)size);
    Soundsystem_StopSound(g_victim);  // the API from inside the block: no deadlock
}

TEST_F(Mixer, CallbackStoppingASoundInsideTheBlock)
{
    start(1);
    s_sound &a = next();
    s_sound &st = next();
    s_sound &c = next();
    make16(&a, 1, 44100, std::vector<int16_t>(10000, 100));
    Soundsystem_CreateSoundStream(&st, stop_other, 44100, 16, 1, 10);
    made.push_back(&st);
    make16(&c, 1, 44100, std::vector<int16_t>(10000, 10000));
    g_victim = &a;
    Soundsystem_PlaySound(&a, 0);
    Soundsystem_PlaySound(&st, 0);
    Soundsystem_PlaySound(&c, 0);
    std::vector<int16_t> o = mix(2048);
    // a was mixed before the stream stopped it; c moved into a's slot and is still mixed.
    EXPECT_EQ(soundsystem.numactive, 2);
    EXPECT_EQ(active_sounds[0], &st);
    EXPECT_EQ(active_sounds[1], &c);
    EXPECT_EQ(o[5], ((100 + 10000) * 253) >> 8);
    EXPECT_EQ(c.position, 2048u * 256);
}

TEST_F(Mixer, SoundsWithoutValuesStopAtOnceWithoutReading)
{
    start(2);
    s_sound &empty = next();
    Soundsystem_LoadSound("nothing.ogg", &empty);  // an empty record with the defaults
    Soundsystem_PlaySound(&empty, 1);
    s_sound &gone = next();
    make16(&gone, 1, 44100, std::vector<int16_t>(100, 5000));
    Soundsystem_DeleteSound(&gone);
    Soundsystem_PlaySound(&gone, 1);  // a deleted sound has no data left to read
    EXPECT_EQ(soundsystem.numactive, 2);
    for (int16_t v : mix(2048)) ASSERT_EQ(v, 0);
    EXPECT_EQ(soundsystem.numactive, 0);
    EXPECT_EQ(empty.playing, 0);
    EXPECT_EQ(gone.playing, 0);
    // A record whose value count claims more than its data holds is not read either.
    s_sound &liar = next();
    make16(&liar, 1, 44100, std::vector<int16_t>(10, 5000));
    liar.numsamples = 1000;
    Soundsystem_PlaySound(&liar, 1);
    for (int16_t v : mix(64)) ASSERT_EQ(v, 0);
    EXPECT_EQ(liar.playing, 0);
}

TEST_F(Mixer, StepLongerThanTheSoundWraps)
{
    start(1);
    s_sound &s = next();
    make16(&s, 1, 44100, {100, 200, 300});
    Soundsystem_SetFrequency(&s, 44100 * 1000 + 100);  // about 1000 values per frame
    uint32_t step = s.step;
    EXPECT_EQ(s.frequency, 44100);  // the sound's own rate stays
    Soundsystem_PlaySound(&s, 1);
    std::vector<int16_t> o = mix(8);
    uint64_t pos = 0;
    for (int k = 0; k < 8; k++) {
        ASSERT_EQ(o[k], (int16_t)((((int)(pos >> 8) + 1) * 100 * 253) >> 8)) << k;
        pos = (pos + step) % (3 * 256);
    }
    EXPECT_EQ(s.position, pos);
}

TEST_F(Mixer, LargeRequestEqualsBlocksInTurnAndNoBufferMeansSilence)
{
    start(2);
    std::vector<int16_t> v(9000);
    for (int i = 0; i < 9000; i++) v[i] = (int16_t)((i * 97) % 30000 - 15000);
    s_sound &s = next();
    make16(&s, 1, 32000, v);
    Soundsystem_PlaySound(&s, 1);
    std::vector<int16_t> whole = mix(3 * 2048 + 100);
    Soundsystem_PlaySound(&s, 1);  // restart
    std::vector<int16_t> parts;
    for (int n : {2048, 2048, 2048, 100}) {
        std::vector<int16_t> p = mix(n);
        parts.insert(parts.end(), p.begin(), p.end());
    }
    EXPECT_EQ(whole, parts);
    // An odd byte count leaves no byte unwritten.
    std::vector<uint8_t> odd(7, 0xAA);
    Soundsystem_SetMasterVolume(0);
    audiodriver_mixbuffers(odd.data(), 7, 0);
    for (uint8_t b : odd) EXPECT_EQ(b, 0);
    // After the mix buffer is released the mixer writes silence.
    Soundsystem_CloseAudio();
    Soundsystem_SetMasterVolume(255);
    for (int16_t x : mix(2048)) ASSERT_EQ(x, 0);
}

TEST_F(Mixer, EightBitOutputIsUnsigned)
{
    start(2);
    soundsystem.bits = 8;  // as a driver opened for 8-bit output sets it
    s_sound &s = next();
    make16(&s, 1, 44100, std::vector<int16_t>(5000, 16384));
    Soundsystem_PlaySound(&s, 0);
    std::vector<uint8_t> out(4096 + 16, 0x11);
    audiodriver_mixbuffers(out.data(), 4096, 0);
    for (int i = 0; i < 4096; i++) ASSERT_EQ(out[i], (8128 >> 8) + 128) << i;
    for (int i = 4096; i < 4096 + 16; i++) ASSERT_EQ(out[i], 0x11);  // nothing past the block
    EXPECT_EQ(s.position, 2048u * 256);
}

}  // namespace
