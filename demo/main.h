// main.h - the demo sequence: start-up and asset loading, the show clock and
// frame loop, and the globals every scene reads.
#ifndef DEMO_MAIN_H
#define DEMO_MAIN_H

#include <stdint.h>
#include "engine/bitmap.h"
#include "engine/sprite.h"
#include "engine/font.h"

// ---- Calls -----------------------------------------------------------------------------
void mirador_setoutput(int width, int height); // output size of this program (before WinMain)
int  coremain(int argc, char **argv);          // start-up, then the show; returns when it ends

// One pass of the frame loop, and the calls it makes. Tests replace the calls to
// drive the loop with a fake clock and fake frame steps.
typedef struct {
    float    (*waitrefresh)(void);
    void     (*scene)(int scene);              // draw the scene of this period
    void     (*swapbuffers)(void);
    int      (*getkeys)(int *keys, int *pressed);
    uint32_t (*getmillis)(void);
} s_frameio;
extern s_frameio frameio;                      // the real engine calls by default
// Sets the sequence state for the show's first frame: period 2, fade 0, pulses 1,
// counters 0, quit 0, the period's start at the clock's current time.
void timeline_start(void);
// One frame of the show, in this order: wait for the frame period (its return is
// dt, the frame's step); move the fade (even periods: up by 2 while below 255;
// odd periods: down by 4 once scenetime passes 398, never below 0); draw the
// period's scene; past the last period (scene 23) set quit and fade 0; set the
// scan-line strength (0.2 x pulse + one random draw mod 10, in tenths) and the
// fade (fade x pulse / 255); present; read the keys (a new press of Escape sets
// quit); add dt to scenetime; at whole scenetime 0 or 1 of every 128 set both
// pulses to 2; once more than 7699 ms have passed since the period began, start
// the next one (scenetime 0); let the pulses decay (by 0.05 and 0.03 while above
// 1); count the frame (framecount, spawncount).
void timeline_frame(void);
// 1 while the show goes on; 0 once quit is set (Escape, or the frame drawn past
// the last period) or the shell's ORB_quit is. The loop asks after every frame.
int  timeline_running(void);
void run_scene(int scene);                     // the scene routine of a period

// ---- Sequence state ------------------------------------------------------------------
extern int scene;             // period counter, 2..22, 23 for the last frame
extern uint32_t scenestart;   // clock at the start of the current period
extern float scenetime;       // frame units into the current period
extern float dt;              // this frame's step
extern int fade;              // 0..256
extern float pulse, pulse2;   // flash values
extern int framecount, spawncount;
extern int quit;

// ---- Assets (loaded by start-up, never freed) ---------------------------------------------
extern s_bitmap bmp_bg, bmp_introbg1, bmp_introbg2, bmp_background, bmp_height;
extern s_bitmap bmp_texture1, bmp_texture2, bmp_texture3, bmp_texture4;
extern s_sprite spr_introtext1, spr_introtext2, spr_finaltext, spr_finaltext2, spr_vhs, spr_vhs2;
extern s_sprite spr_abs, spr_eatit1, spr_eatit2, spr_lanterne, spr_looker;
extern s_sprite spr_credits1, spr_credits2, spr_credits3, spr_title, spr_titlelogo, spr_caller;
extern s_sprite spr_negativelogo, spr_feelgreat, spr_feelgreat2, spr_hipsquare, spr_thousand;
extern s_sprite spr_particle[3], spr_point[8], spr_square[8], spr_dance[25];
extern s_font font;
extern int postshader_id;
extern int mirador_width, mirador_height;

#endif
