// scenes.h - the eleven scenes of the show and the per-frame arithmetic they use.
//
// run_scene (demo/main.h) picks the scene routine by the period counter; each
// routine draws one whole frame into the 480x270 framebuffer. The small helpers
// below compute the positions, sizes and jitter of a frame from the loop's state;
// they draw nothing. Helpers that take `rnd` make their random draws through it
// (the show passes orb_rand), only under the conditions the scene tests, so the
// sequence of draws stays that of the show.
#ifndef DEMO_SCENES_H
#define DEMO_SCENES_H

#include <stdint.h>

// ---- Scene routines (one frame each) ---------------------------------------------------
void scene_intro(void);      // periods 2, 3
void scene_title(void);      // 4, 5
void scene_tunnel(void);     // 6, 7
void scene_rings(void);      // 8, 9
void scene_plane(void);      // 10, 11
void scene_vhs(void);        // 12, 13
void scene_voxel(void);      // 14, 15
void scene_balls(void);      // 16, 17
void scene_credits(void);    // 18, 19
void scene_dance(void);      // 20, 21
void scene_finale(void);     // 22, 23

// ---- Per-frame arithmetic ----------------------------------------------------------------
typedef int (*scene_rand_fn)(void);

double scene_s(double v);                          // sin(v * pi/512) in double: s(0) = 0, s(256) = 1

// Intro
int intro_fade(float scenetime);                   // (int)(scenetime * 0.5)
int intro_caption(int scene, float scenetime, scene_rand_fn rnd); // 0 none, 1 first, 2 second
int intro_jitter(int scene, float pulse, scene_rand_fn rnd);      // caption y offset

// Title
int title_xjitter(float pulse, scene_rand_fn rnd);
uint8_t title_shade(float pulse2);                 // low byte of (int)((pulse2 - 1) * 255)
int title_shift(int r, float pulse);               // r: one draw
uint8_t title_rot(int xj, float scenetime);
int title_x(int r, int fade, float pulse);         // r: one draw
int title_y(int fade);                             // 488 at fade 0, 8 at fade 256
int title_logo_y(int r, float pulse);              // r: one draw

// Tunnel
int tunnel_frame(float scenetime);                 // point animation index 0..7
int tunnel_point_x(int fade);
int tunnel_strip1_y(int fade);
int tunnel_strip2_y(int fade);

// Rings
void rings_centre(float scenetime, int *x, int *y);
int rings_jitter_x(int r, float pulse);            // the x offset the picture is moved back by
int rings_jitter_y(int r, float pulse);

// Plane
int plane_caller_x(int fade);                      // 0 at fade 0, -544 at fade 256
int plane_logo_x(float scenetime);

// Vhs
typedef struct {
    float zoom, zoom2, zoom3;
    int half1, half2, half3;
} s_vhssize;
float vhs_zoom(int scene, float scenetime, float pulse, scene_rand_fn rnd);
s_vhssize vhs_sizes(float zoom);
void vhs_centred(float w, int h, int *x, int *y, int *width, int *height);
void julia_step(float dt);                         // moves juliare/juliaim, turns their directions
int vhs_tape2_visible(float scenetime, scene_rand_fn rnd); // draws its number every call

// Voxel
int voxel_bob(int framecount);                     // 1..17
int voxel_looker_x(int fade, int bob);
int voxel_heading_step(int framecount);            // adds to heading, returns the new angle 0..255
int voxel_roll(int framecount);
int voxel_step(int speed, float dt, int tab);      // one coordinate's move
int voxel_eatit2_x(int r, float pulse);            // r: one draw

// Balls
int balls_jitter(int r, float pulse);              // the offset subtracted from 4

// Credits
int credits_y(int scene, float scenetime);
int credits_stage(int scene, float scenetime);     // picture 1, 2 (period 18) or 3 (period 19)
int credits_jig_mask(int stage);                   // 3, 7, 15: the figure's jitter mask
int credits_lanterne_x(int fade, int jig);

// Dance
typedef struct {
    int x, y, w, h, frame;
} s_dancer;
int dance_figures(int framecount, s_dancer *out, int max); // visible figures in draw order

// Finale
int finale_fade(float scenetime);

// ---- Scene state kept across frames --------------------------------------------------------
extern int juliare, juliaim, juliareup, juliaimup;
extern float heading;

#endif
