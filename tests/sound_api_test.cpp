// The sound system's API without a device: volumes and side gains, the playing list,
// load defaults and extensions, the step rule, streams and deletion.
#include "sound/coresound.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <string>

#include "testutil_os.h"

namespace {

class Api : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tu_no_audio_device());  // nothing mixes behind the test
        testing::internal::CaptureStdout();
        Soundsystem_Init(44100, 16, 2);
        init_out = testing::internal::GetCapturedStdout();
        memset(snd, 0, sizeof(snd));
    }
    void TearDown() override
    {
        for (s_sound &s : snd) Soundsystem_DeleteSound(&s);
        Soundsystem_CloseAudio();
    }
    s_sound snd[20];
    std::string init_out;
};

TEST_F(Api, InitStateAndMessage)
{
    EXPECT_NE(init_out.find("soundsystem bufferlength = 2048\n"), std::string::npos) << init_out;
    EXPECT_EQ(soundsystem.frequency, 44100);
    EXPECT_EQ(soundsystem.bufferlength, 2048);
    EXPECT_EQ(soundsystem.outsize, 2 * 2048 * 4);
    EXPECT_EQ(soundsystem.mastervolume, 255);
    EXPECT_EQ(soundsystem.musicvolume, 255);
    EXPECT_EQ(soundsystem.effectvolume, 255);
    EXPECT_EQ(soundsystem.numactive, 0);
    EXPECT_EQ(Soundsystem_GetOutputBuffer(), soundsystem.outbuffer);
    // Only the low byte of channels counts: 0x102 is 2.
    Soundsystem_PlaySound(&snd[0], 0);
    Soundsystem_Init(44100, 0x110, 0x102);
    EXPECT_EQ(soundsystem.channels, 2);
    EXPECT_EQ(soundsystem.bits, 16);  // the device always runs at 16 bits
    EXPECT_EQ(soundsystem.numactive, 0);
    Soundsystem_Init(44100, 16, 7);   // anything but 2 is mono
    EXPECT_EQ(soundsystem.channels, 1);
    EXPECT_EQ(soundsystem.outsize, 2048 * 4);
}

TEST_F(Api, VolumesClampAndSideGains)
{
    Soundsystem_SetMasterVolume(300);
    Soundsystem_SetMusicVolume(-1);
    Soundsystem_SetEffectVolume(77);
    EXPECT_EQ(soundsystem.mastervolume, 255);
    EXPECT_EQ(soundsystem.musicvolume, 0);
    EXPECT_EQ(soundsystem.effectvolume, 77);

    s_sound *s = &snd[0];
    Soundsystem_LoadSound("none.ogg", s);
    EXPECT_EQ(s->volume, 255);
    EXPECT_EQ(s->panning, 128);
    EXPECT_EQ(s->leftvol, 128);
    EXPECT_EQ(s->rightvol, 128);
    Soundsystem_SetVolume(s, 255);
    EXPECT_EQ(s->leftvol, 126);
    EXPECT_EQ(s->rightvol, 127);
    Soundsystem_SetPanning(s, 300);
    EXPECT_EQ(s->panning, 255);
    EXPECT_EQ(s->leftvol, 0);
    EXPECT_EQ(s->rightvol, 254);
    Soundsystem_SetPanning(s, -5);
    EXPECT_EQ(s->panning, 0);
    EXPECT_EQ(s->leftvol, 254);
    EXPECT_EQ(s->rightvol, 0);
    Soundsystem_SetVolume(s, 1000);
    EXPECT_EQ(s->volume, 255);
    Soundsystem_SetVolume(s, -20);
    EXPECT_EQ(s->volume, 0);
    EXPECT_EQ(s->leftvol, 0);
    Soundsystem_SetPanning(s, 64);
    Soundsystem_SetVolume(s, 100);
    EXPECT_EQ(s->leftvol, (191 * 100) >> 8);
    EXPECT_EQ(s->rightvol, (64 * 100) >> 8);
}

TEST_F(Api, PlayingList)
{
    s_sound *a = &snd[0], *b = &snd[1], *c = &snd[2];
    Soundsystem_PlaySound(a, 0);
    Soundsystem_PlaySound(b, 1);
    Soundsystem_PlaySound(c, 0);
    EXPECT_EQ(b->loop, 1);
    // Restarting rewinds in place, without a second entry; loop 0 keeps looping on.
    b->position = 12345;
    Soundsystem_PlaySound(b, 0);
    EXPECT_EQ(soundsystem.numactive, 3);
    EXPECT_EQ(b->position, 0u);
    EXPECT_EQ(b->loop, 1);
    // Stopping the middle one keeps the others in order.
    Soundsystem_StopSound(b);
    ASSERT_EQ(soundsystem.numactive, 2);
    EXPECT_EQ(active_sounds[0], a);
    EXPECT_EQ(active_sounds[1], c);
    EXPECT_EQ(b->playing, 0);
    // Stopping a sound that is not playing only rewinds it.
    b->position = 99;
    Soundsystem_StopMusic(b);
    EXPECT_EQ(b->position, 0u);
    EXPECT_EQ(soundsystem.numactive, 2);
    // Music marks the group.
    Soundsystem_PlayMusic(b, 0);
    EXPECT_EQ(b->music, 1);
    EXPECT_EQ(active_sounds[2], b);
    // Sixteen slots: the 17th is not listed although it says it plays.
    for (int i = 3; i < 16; i++) Soundsystem_PlaySound(&snd[i], 0);
    EXPECT_EQ(soundsystem.numactive, 16);
    Soundsystem_PlaySound(&snd[16], 0);
    EXPECT_EQ(soundsystem.numactive, 16);
    EXPECT_EQ(snd[16].playing, 1);
    for (int i = 0; i < 16; i++) EXPECT_NE(active_sounds[i], &snd[16]);
    // Stopping the last entry and the first.
    Soundsystem_StopSound(&snd[15]);
    Soundsystem_StopSound(a);
    EXPECT_EQ(soundsystem.numactive, 14);
    EXPECT_EQ(active_sounds[0], c);
    EXPECT_EQ(active_sounds[1], b);
}

TEST_F(Api, LoadSoundExtensionsAndDefaults)
{
    // Names that are not WAV files load nothing but still get the defaults.
    for (const char *name : {"music.ogg", "noextension", ".wav", "a.wavx", "x.wav.txt"}) {
        s_sound *s = &snd[0];
        memset(s, 0x5A, sizeof(*s));
        testing::internal::CaptureStdout();
        Soundsystem_LoadSound(name, s);
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(out, std::string("Loading sound ") + name + "\n") << name;
        EXPECT_EQ(s->data, nullptr) << name;
        EXPECT_EQ(s->size, 0) << name;
        EXPECT_EQ(s->numsamples, 0) << name;
        EXPECT_EQ(s->callback, nullptr);
        EXPECT_EQ(s->position, 0u);
        EXPECT_EQ(s->step, 0u);
        EXPECT_EQ(s->volume, 255);
        EXPECT_EQ(s->panning, 128);
        EXPECT_EQ(s->loop, 0);
        EXPECT_EQ(s->playing, 0);
        EXPECT_EQ(s->music, 0);
    }
    char name[] = "Mixed.Case-wav 9z";
    EXPECT_EQ(upcase_sound(name), name);
    EXPECT_STREQ(name, "MIXED.CASE-WAV 9Z");
}

TEST_F(Api, StepRule)
{
    EXPECT_EQ(soundsystem_step(44100, 2), 512u);
    EXPECT_EQ(soundsystem_step(22050, 1), 128u);
    EXPECT_EQ(soundsystem_step(11025, 2), 128u);
    EXPECT_EQ(soundsystem_step(48000, 1), 278u);  // 278.6 truncated
    // 32-bit unsigned arithmetic: 20000000 * 256 wraps.
    EXPECT_EQ(soundsystem_step(20000000, 1), (uint32_t)(20000000u * 256u) / 44100u);
    s_sound *s = &snd[0];
    Soundsystem_CreateSoundStream(s, nullptr, 44100, 16, 2, 100);
    Soundsystem_SetFrequency(s, 22050);
    EXPECT_EQ(s->step, 256u);
    EXPECT_EQ(s->frequency, 44100);
    // Without a mixing rate no step can be computed: 0 rather than a division by zero.
    soundsystem.frequency = 0;
    EXPECT_EQ(soundsystem_step(44100, 2), 0u);
    Soundsystem_LoadSound("x.ogg", s);
    EXPECT_EQ(s->step, 0u);
}

TEST_F(Api, StreamsAndDelete)
{
    s_sound *s = &snd[0];
    Soundsystem_CreateSoundStream(s, nullptr, 22050, 16, 2, 300);
    EXPECT_EQ(s->size, 1200);
    EXPECT_EQ(s->numsamples, 600);
    EXPECT_EQ(s->step, 256u);
    EXPECT_EQ(s->loop, 1);
    EXPECT_EQ(s->playing, 0);
    EXPECT_EQ(s->volume, 255);
    EXPECT_EQ(s->leftvol, 128);
    ASSERT_NE(s->data, nullptr);
    for (int i = 0; i < 1200; i++) ASSERT_EQ(s->data[i], 0);
    Soundsystem_PlaySound(s, 0);
    Soundsystem_DeleteSound(s);
    EXPECT_EQ(s->data, nullptr);
    EXPECT_EQ(s->playing, 0);
    EXPECT_EQ(soundsystem.numactive, 0);
    Soundsystem_DeleteSound(s);  // a second delete is harmless

    // Formats the mixer cannot play make no buffer.
    const int bad[][3] = {{4, 1, 100}, {24, 2, 100}, {16, 0, 100}, {16, 3, 100}, {16, 1, 0},
                          {16, 2, -5}, {16, 2, 0x40000000}};
    for (const auto &f : bad) {
        testing::internal::CaptureStdout();
        Soundsystem_CreateSoundStream(s, nullptr, 44100, f[0], f[1], f[2]);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(s->data, nullptr) << f[0] << " " << f[1] << " " << f[2];
        EXPECT_EQ(s->size, 0);
        EXPECT_EQ(s->numsamples, 0);
    }
}

}  // namespace
