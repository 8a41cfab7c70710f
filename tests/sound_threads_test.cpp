// The demo thread playing, stopping, retuning, deleting and recreating sounds while
// the device's thread mixes block after block (SDL's disk driver, no delay). Run under
// ThreadSanitizer too: every word the two threads share must be guarded.
#include "sound/audiodriver.h"
#include "sound/coresound.h"

#include <atomic>
#include <gtest/gtest.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

static std::atomic<int> g_refills;
static std::atomic<int> g_foreign_thread;
static pthread_t g_test_thread;

static void refill(void *data, int size)
{
    g_refills++;
    if (!pthread_equal(pthread_self(), g_test_thread)) g_foreign_thread = 1;
    int16_t *p = (int16_t *)data;
    for (int i = 0; i < size / 2; i++) p[i] = (int16_t)((i * 31) & 0x3FFF);
}

class Threads : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/sound_threads_XXXXXX";
        int fd = mkstemp(tmpl);
        ASSERT_GE(fd, 0);
        close(fd);
        path = tmpl;
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", path.c_str(), 1);
        setenv("SDL_DISKAUDIODELAY", "1", 1);  // a block per millisecond
        g_test_thread = pthread_self();
        memset(snd, 0, sizeof(snd));
        testing::internal::CaptureStdout();
        Soundsystem_Init(44100, 16, 2);
        std::string out = testing::internal::GetCapturedStdout();
        ASSERT_NE(out.find("audiodriver inited"), std::string::npos) << out;
    }
    void TearDown() override
    {
        Soundsystem_CloseAudio();
        for (s_sound &s : snd) Soundsystem_DeleteSound(&s);
        unlink(path.c_str());
    }
    long filesize()
    {
        struct stat st;
        return stat(path.c_str(), &st) == 0 ? (long)st.st_size : -1;
    }
    // Waits until the device has taken `blocks` more blocks (a minute at most: only
    // a device that stopped takes that long, however slow the build).
    bool wait_blocks(int blocks)
    {
        long target = filesize() + (long)blocks * 8192;
        for (int i = 0; i < 60000; i++) {
            if (filesize() >= target) return true;
            usleep(1000);
        }
        return false;
    }
    void make(s_sound *s, int values, int loop)
    {
        Soundsystem_CreateSoundStream(s, nullptr, 22050 + values, 16, 1, values);
        soundsystem_lock();  // not playing yet, but the mixer may look at the list
        for (int i = 0; i < values; i++) ((int16_t *)s->data)[i] = (int16_t)(i * 97);
        s->loop = loop;
        soundsystem_unlock();
    }
    std::string path;
    s_sound snd[12];
};

TEST_F(Threads, DemoThreadChangesSoundsWhileTheCallbackMixes)
{
    g_refills = 0;
    g_foreign_thread = 0;
    for (int i = 0; i < 8; i++) make(&snd[i], 300 + 500 * i, i & 1);
    Soundsystem_CreateSoundStream(&snd[8], refill, 44100, 16, 2, 333);
    Soundsystem_PlaySound(&snd[8], 0);
    ASSERT_TRUE(wait_blocks(4));

    long start = filesize();
    for (int round = 0; round < 4000; round++) {
        s_sound *s = &snd[round % 8];
        switch (round % 7) {
        case 0: Soundsystem_PlaySound(s, round & 1); break;
        case 1: Soundsystem_PlayMusic(s, 0); break;
        case 2: Soundsystem_StopSound(s); break;
        case 3: Soundsystem_SetVolume(s, round % 300); Soundsystem_SetPanning(s, round % 260); break;
        case 4: Soundsystem_SetFrequency(s, 8000 + round); break;
        case 5: Soundsystem_SetMasterVolume(round % 256); Soundsystem_SetMusicVolume(255 - round % 256); break;
        case 6:
            if (round % 5 == 0) {
                Soundsystem_DeleteSound(s);
                make(s, 100 + round % 1000, 0);
                Soundsystem_PlaySound(s, 0);
            }
            break;
        }
        if (round % 500 == 0) usleep(2000);  // let some blocks go by mid-change
    }
    ASSERT_TRUE(wait_blocks(8));
    EXPECT_GT(filesize() - start, 8 * 8192);
    EXPECT_GT(g_refills.load(), 0);
    EXPECT_EQ(g_foreign_thread.load(), 1);  // refills come from the device's thread

    // The list is whole: within its bounds, no sound twice.
    soundsystem_lock();
    int n = soundsystem.numactive;
    ASSERT_GE(n, 0);
    ASSERT_LE(n, SOUND_MAXACTIVE);
    for (int i = 0; i < n; i++)
        for (int j = i + 1; j < n; j++) ASSERT_NE(active_sounds[i], active_sounds[j]);
    soundsystem_unlock();

    // A stop lands between blocks: once it has returned the stream is never refilled again.
    Soundsystem_StopSound(&snd[8]);
    int refills = g_refills;
    ASSERT_TRUE(wait_blocks(6));
    EXPECT_EQ(g_refills.load(), refills);
    // Sounds that end by themselves leave the list on the device's thread.
    for (int i = 0; i < 8; i++) Soundsystem_StopSound(&snd[i]);
    make(&snd[9], 100, 0);
    Soundsystem_PlaySound(&snd[9], 0);
    ASSERT_TRUE(wait_blocks(6));
    soundsystem_lock();
    EXPECT_EQ(soundsystem.numactive, 0);
    EXPECT_EQ(snd[9].playing, 0);
    soundsystem_unlock();
}

TEST_F(Threads, CloseAndReopenWhileSoundsPlay)
{
    for (int i = 0; i < 4; i++) {
        make(&snd[i], 5000, 1);
        Soundsystem_PlaySound(&snd[i], 0);
    }
    for (int round = 0; round < 5; round++) {
        ASSERT_TRUE(wait_blocks(3));
        testing::internal::CaptureStdout();
        Soundsystem_Init(44100, 16, round & 1 ? 1 : 2);  // closes the running output first
        testing::internal::GetCapturedStdout();
        for (int i = 0; i < 4; i++) Soundsystem_PlaySound(&snd[i], 0);
        soundsystem_lock();
        EXPECT_EQ(soundsystem.numactive, 4);
        soundsystem_unlock();
    }
    ASSERT_TRUE(wait_blocks(3));
}

}  // namespace
