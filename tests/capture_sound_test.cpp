// The capture's sound track is the live driver's: the music mixed in the driver's
// blocks of 2048 frames, from the moment start-up starts it, cut at the frames of
// periods 6 and 7 at 60 fps, has the MD5 that the golden record keeps (which a fresh
// capture's decoded FLAC track must also have: tests/capture_e2e.sh).
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

extern "C" {
#include <libavutil/md5.h>
#include <libavutil/mem.h>
}

#include "corefile/corefile.h"
#include "demo/fixedclock.h"
#include "platform/platform.h"
#include "sound/audiodriver.h"
#include "sound/coresound.h"

namespace {

// The record's "sound <frames> <md5>" line.
bool golden_sound(uint64_t *frames, std::string *md5)
{
    FILE *f = fopen(TEST_DATA_DIR "/capture/periods6-7_640x360.framemd5", "r");
    if (!f) return false;
    char line[256];
    bool found = false;
    while (fgets(line, sizeof line, f)) {
        unsigned long long n;
        char hex[64];
        if (sscanf(line, "sound %llu %63s", &n, hex) == 2) {
            *frames = n;
            *md5 = hex;
            found = true;
        }
    }
    fclose(f);
    return found;
}

TEST(CaptureSound, LiveDriverBlocksGiveTheRecordedTrack)
{
    uint64_t frames = 0;
    std::string want;
    ASSERT_TRUE(golden_sound(&frames, &want));
    const uint64_t first = 4 * fixedclock_period_frames(60);  // period 6 starts after periods 2 to 5
    const uint64_t from = fixedclock_sound_frames(first, 60);
    const uint64_t to = fixedclock_sound_frames(first + 2 * fixedclock_period_frames(60), 60);
    ASSERT_EQ(to - from, frames);

    // No output device: the mixer runs only when asked, as in the capture.
    ASSERT_TRUE(plat_init_offscreen(nullptr));
    ASSERT_EQ(corefile_mountimage(BUILD_DIR "/mirador.dat", 0), 1);
    s_sound music;
    Soundsystem_Init(44100, 16, 2);
    Soundsystem_LoadSound("mirador4.wav", &music);
    ASSERT_NE(music.data, nullptr);
    Soundsystem_SetMasterVolume(0);
    Soundsystem_PlayMusic(&music, 0);
    Soundsystem_SetMasterVolume(255);

    AVMD5 *m = av_md5_alloc();
    av_md5_init(m);
    std::vector<int16_t> block(SOUND_BLOCKFRAMES * 2);
    for (uint64_t at = 0; at < to; at += SOUND_BLOCKFRAMES) {
        audiodriver_mixbuffers(block.data(), SOUND_BLOCKFRAMES * 4, 0);
        uint64_t a = at < from ? from : at, b = at + SOUND_BLOCKFRAMES > to ? to : at + SOUND_BLOCKFRAMES;
        if (a < b) av_md5_update(m, (const uint8_t *)(block.data() + 2 * (a - at)), (size_t)(b - a) * 4);
    }
    uint8_t d[16];
    av_md5_final(m, d);
    av_free(m);
    char got[33];
    for (int i = 0; i < 16; i++) snprintf(got + 2 * i, 3, "%02x", d[i]);
    EXPECT_EQ(want, got);

    // The track is music, not silence.
    audiodriver_mixbuffers(block.data(), SOUND_BLOCKFRAMES * 4, 0);
    int peak = 0;
    for (int16_t v : block) peak = v > peak ? v : (-v > peak ? -v : peak);
    EXPECT_GT(peak, 1000);
    Soundsystem_DeleteSound(&music);
    Soundsystem_CloseAudio();
    corefile_closeimage();
    plat_shutdown();
}

}  // namespace
