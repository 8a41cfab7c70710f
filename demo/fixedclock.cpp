// fixedclock.cpp - the fixed clock and the frame loop calls that run on it.
#include "demo/fixedclock.h"

#include <stddef.h>

#include <vector>

#include "demo/main.h"
#include "demo/show.h"
#include "engine/input.h"
#include "engine/video.h"
#include "platform/platform.h"
#include "sound/audiodriver.h"

static s_fixedclock fixed;
uint64_t fixedclock_frame_no;
static std::vector<int16_t> sound;     // one frame's sound

// round(a / b) for b > 0, halves up, in 64 bits (frames below 2^40 cannot overflow).
static uint64_t div_round(uint64_t a, uint64_t b)
{
    return (2 * a + b) / (2 * b);
}

uint32_t fixedclock_ms(uint64_t frame, int fps)
{
    return (uint32_t)div_round(frame * 1000u, (uint64_t)fps);
}

uint64_t fixedclock_sound_frames(uint64_t frame, int fps)
{
    return div_round(frame * SHOW_SOUND_RATE, (uint64_t)fps);
}

uint64_t fixedclock_period_frames(int fps)
{
    // The period ends on the first frame whose clock has moved SHOW_PERIOD_MS on.
    uint64_t n = 1;
    while (fixedclock_ms(n, fps) < (uint32_t)SHOW_PERIOD_MS) n++;
    return n;
}

static uint32_t fixed_ticks(void)
{
    return fixedclock_ms(fixedclock_frame_no, fixed.fps);
}

// The engine's wait as a vsynced display gives it on this clock: never a wait.
static float fixed_wait(void)
{
    ORB_video_numframes++;
    uint32_t now = plat_ticks();
    float elapsed = (float)(uint32_t)(now - ORB_video_time);
    ORB_video_time = now;
    if ((float)ORB_video_updatespeed >= elapsed) return 1.0f;
    return elapsed / (float)ORB_video_updatespeed;
}

static void fixed_swap(void)
{
    if (fixed.present) fixed.present();
    else ORB_SwapBuffers();
    if (fixed.sound) {
        uint64_t from = fixedclock_sound_frames(fixedclock_frame_no, fixed.fps);
        uint64_t to = fixedclock_sound_frames(fixedclock_frame_no + 1, fixed.fps);
        int frames = (int)(to - from);
        sound.resize((size_t)frames * 2);
        audiodriver_mixbuffers(sound.data(), frames * 4, 0);
        fixed.sound(sound.data(), frames);
    }
    fixedclock_frame_no++;
}

static int no_keys(int *held, int *pressed)
{
    *held = *pressed = 0;
    return 0;
}

void fixedclock_take_over(const s_fixedclock *c)
{
    fixed = *c;
    fixedclock_frame_no = 0;
    plat_set_clock(fixed_ticks);
    frameio.waitrefresh = fixed_wait;
    frameio.swapbuffers = fixed_swap;
    frameio.getkeys = no_keys;
}

void fixedclock_release(void)
{
    plat_set_clock(nullptr);
    frameio.waitrefresh = ORB_WaitRefresh;
    frameio.swapbuffers = ORB_SwapBuffers;
    frameio.getkeys = ORB_GetKeys;
}
