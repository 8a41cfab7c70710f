// main.cpp - the demo: start-up, the show clock and the frame loop.
//
// The show is 21 periods of 7700 ms on the millisecond clock, two per scene and
// one for the finale, followed by one black frame. Every frame the loop paces,
// draws the scene of the current period, presents it with this frame's fade and
// scan-line strength, reads Escape and moves the clock on.
#include "demo/main.h"

#include "demo/rand.h"
#include "demo/show.h"
#include "demo/startup.h"
#include "engine/driver.h"
#include "engine/input.h"
#include "engine/video.h"

// ---- Globals of the sequence ------------------------------------------------------------
s_bitmap bmp_bg, bmp_introbg1, bmp_introbg2, bmp_background, bmp_height;
s_bitmap bmp_texture1, bmp_texture2, bmp_texture3, bmp_texture4;
s_sprite spr_introtext1, spr_introtext2, spr_finaltext, spr_finaltext2, spr_vhs, spr_vhs2;
s_sprite spr_abs, spr_eatit1, spr_eatit2, spr_lanterne, spr_looker;
s_sprite spr_credits1, spr_credits2, spr_credits3, spr_title, spr_titlelogo, spr_caller;
s_sprite spr_negativelogo, spr_feelgreat, spr_feelgreat2, spr_hipsquare, spr_thousand;
s_sprite spr_particle[3], spr_point[8], spr_square[8], spr_dance[25];
s_font font;
int postshader_id;
int mirador_width = 1280, mirador_height = 720;

int scene;
uint32_t scenestart;
float scenetime;
float dt;
int fade;
float pulse, pulse2;
int framecount, spawncount;
int quit;

void mirador_setoutput(int width, int height)
{
    mirador_width = width;
    mirador_height = height;
}

// ---- Frame loop -----------------------------------------------------------------------------
s_frameio frameio = { ORB_WaitRefresh, run_scene, ORB_SwapBuffers, ORB_GetKeys, ORB_GetMillis };

void timeline_start(void)
{
    scene = SHOW_FIRST_PERIOD;
    fade = 0;
    pulse = 1.0f;
    pulse2 = 1.0f;
    framecount = 0;
    spawncount = 0;
    quit = 0;
    scenestart = frameio.getmillis();
    scenetime = 0.0f;
}

void timeline_frame(void)
{
    int held = 0, pressed = 0;

    dt = frameio.waitrefresh();

    // Fade: in even periods up by 2 (from an even start it stops at 256), in odd
    // periods down by 4 once the period is nearly over.
    if ((scene & 1) == 0) {
        if (fade < 255) fade += 2;
    } else {
        if (scenetime > 398) fade -= 4;
        if (fade < 0) fade = 0;
    }

    frameio.scene(scene);

    if (scene > SHOW_LAST_PERIOD) {
        quit = 1;
        fade = 0;
    }

    int r = orb_rand() % 10;
    ORB_SetScanlineValue((float)(0.2 * pulse + r / 10.0));
    ORB_SetFadeValue(fade * pulse / 255);
    frameio.swapbuffers();

    frameio.getkeys(&held, &pressed);
    if (pressed & 0x8000) quit = 1;

    scenetime += dt;

    int t = (int)scenetime % SHOW_PULSE_UNITS;
    if (t == 0 || t == 1) {
        pulse = 2.0f;
        pulse2 = 2.0f;
    }

    // Period change: the unsigned difference keeps a wrap of the clock harmless.
    if (frameio.getmillis() - scenestart > (uint32_t)(SHOW_PERIOD_MS - 1)) {
        scenestart = frameio.getmillis();
        scenetime = 0.0f;
        scene += 1;
    }

    // Decay in double constants, stored back in single precision: pulse comes to
    // rest one step below 1.0 (0.95000094), pulse2 at 0.98000097.
    if (pulse > 1.0f) pulse = (float)(pulse - 0.05);
    if (pulse2 > 1.0f) pulse2 = (float)(pulse2 - 0.03);

    spawncount += 1;
    framecount += 1;
}

int timeline_running(void)
{
    return quit == 0 && ORB_quit.load(std::memory_order_relaxed) == 0;
}

int coremain(int argc, char **argv)
{
    (void)argc;
    (void)argv;
    // Start-up: resource image, video mode, framebuffer, assets, shader, sound and
    // effects; then the music and, once its first frame is heard, the show's clock.
    startup();
    startup_music();
    startup_wait_music();
    timeline_start();
    do {
        timeline_frame();
    } while (timeline_running());
    return 0;
}
