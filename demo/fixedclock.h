// fixedclock.h - the show on a fixed clock: every frame is the frame a display of
// fps frames a second shows at that show time, however long it takes to render.
// mirador-capture, mirador-dev, the web page's --fixed-fps and the tests that
// compare frames run the show through it.
//
// The clock stands at 0 through start-up and moves on by 1000/fps ms at each
// presented frame, spread over whole milliseconds: the clock at the start of frame n
// is round(n x 1000 / fps), so no drift adds up. The frame wait never waits and
// counts as a vsynced display does (one unit, or the elapsed frame periods when a
// frame spans more). After frame n the mixer has made round(n x 44100 / fps) stereo
// frames of sound: the swap mixes each frame's share right after the present and
// hands it on. No key reaches the show.
#ifndef DEMO_FIXEDCLOCK_H
#define DEMO_FIXEDCLOCK_H

#include <stdint.h>

// ---- Calls -----------------------------------------------------------------------------
typedef struct {
    int fps;                                          // frames a second, 1 to 1000
    void (*present)(void);                            // presents a frame; null: ORB_SwapBuffers
    void (*sound)(const int16_t *stereo, int frames); // each frame's sound, as the swap mixed it;
                                                      // null: the swap mixes nothing (the sound
                                                      // device goes on mixing by itself)
} s_fixedclock;

// Takes the show over: the platform's clock, and the frame wait, the swap and the
// keys of the frame loop (frameio). Call before startup(); the frame count starts
// at 0. The other hooks (the scene, ORB_preswap_hook) stay the caller's.
void fixedclock_take_over(const s_fixedclock *c);
// The real clock and frame loop calls back.
void fixedclock_release(void);

// The next frame to run (0 is the show's first): the clock reads it, each swap
// counts it on; a jump to a saved point of the show sets it.
extern uint64_t fixedclock_frame_no;

// The arithmetic, for any fps above 0.
uint32_t fixedclock_ms(uint64_t frame, int fps);            // the clock at the start of frame n
uint64_t fixedclock_sound_frames(uint64_t frame, int fps);  // sound made before frame n
uint64_t fixedclock_period_frames(int fps);                 // frames of one period

#endif
