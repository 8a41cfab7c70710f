// scenes.cpp - the eleven scenes of the show.
//
// Every routine draws one whole frame into the 480x270 framebuffer, back to front.
// Software effects render into the work bitmap bmp_bg, which is then uploaded and
// drawn over the whole frame; pictures and sprites are drawn as quads on top.
//
// The arithmetic is kept exactly as the show was tuned: (int) truncates toward
// zero, literals with a decimal point make the expression double, `pulse - 1` stays
// in float, and the random draws happen in the order and under the conditions
// below, since the draws of one scene shift those of every later frame.
#include "demo/scenes.h"

#include <math.h>
#include <stdlib.h>

#include "demo/effects.h"
#include "demo/freedir.h"
#include "demo/main.h"
#include "demo/rand.h"
#include "demo/startup.h"
#include "demo/vector.h"
#include "demo/voxel.h"
#include "engine/bitmap.h"
#include "engine/sprite.h"

// Scene state kept across frames: the Julia constant and its directions (vhs),
// the heading the voxel camera's angle is taken from. Start-up sets them.
int juliare, juliaim, juliareup, juliaimup;
float heading = 32.0f;

static const double PI_512 = 0.006135923151542565;
static const double PI_128 = 0.02454369260617026;
static const double PI_32 = 0.09817477042468103;
static const double PI_180 = 0.017453292519943295;
static const double PI_256 = 0.01227184630308513;
static const double PI_237 = 0.013255665205020225;
static const double PI_259_6 = 0.012101666616293501;
static const double PI_560_5 = 0.005604982432809622;

// A texture for the table pass is read as 256x256 texels: it must hold that many.
static int has_texels(s_bitmap b)
{
    return b.pixels != NULL && b.width > 0 && b.height > 0 && (int64_t)b.width * b.height >= 65536;
}

// Upload the work bitmap and draw it over the whole frame.
static void show_bg(void)
{
    ORB_UpdateBitmap(bmp_bg);
    ORB_DrawBitmap(0, 0, bmp_bg);
}

// ---- Per-frame arithmetic ----------------------------------------------------------------

double scene_s(double v)
{
    return sin(v * PI_512);
}

int intro_fade(float scenetime)
{
    return (int)(scenetime * 0.5);
}

int intro_caption(int scene, float scenetime, scene_rand_fn rnd)
{
    int c = 0;
    if (scene != 3) return c;
    if (scenetime < 147) c = 1;
    if (scenetime > 147 && ((int)scenetime & 31) < 8) c = ((rnd() & 63) >> 5) + 1;
    if (scenetime > 295) c = 2;
    return c;
}

int intro_jitter(int scene, float pulse, scene_rand_fn rnd)
{
    if (scene != 3) return 0;
    return (int)((rnd() & 15) * (pulse - 1));
}

int title_xjitter(float pulse, scene_rand_fn rnd)
{
    if (pulse > 1.1) return (int)((rnd() & 127) * (pulse - 1));
    return 0;
}

uint8_t title_shade(float pulse2)
{
    return (uint8_t)(int)((pulse2 - 1) * 255);
}

int title_shift(int r, float pulse)
{
    return (int)((r & 15) * (pulse - 1));
}

uint8_t title_rot(int xj, float scenetime)
{
    return (uint8_t)(int)(xj + scenetime * 1.5);
}

int title_x(int r, int fade, float pulse)
{
    // fade never drops below 0, so the divisor is at least 1.
    return (int)((r % (fade + 1) / 16 - 8) * pulse);
}

int title_y(int fade)
{
    return (int)(488 - scene_s(fade) * 480);
}

int title_logo_y(int r, float pulse)
{
    return (int)((r & 15) * (pulse - 1));
}

int tunnel_frame(float scenetime)
{
    return ((int)scenetime & 31) / 4;
}

int tunnel_point_x(int fade)
{
    return (int)(scene_s(fade) * 256 - 256);
}

int tunnel_strip1_y(int fade)
{
    return (int)(scene_s(fade) * 64 - 64);
}

int tunnel_strip2_y(int fade)
{
    return (int)(64 - scene_s(fade) * 64);
}

void rings_centre(float scenetime, int *x, int *y)
{
    *x = (int)(sin(scenetime * PI_128) * 100) + 240;
    *y = (int)(sin(scenetime * PI_128 * 1.3765) * 100) + 135;
}

int rings_jitter_x(int r, float pulse)
{
    return (int)((r & 15) * (pulse - 0.5) - 4 * pulse);
}

int rings_jitter_y(int r, float pulse)
{
    return (int)((r & 7) * (pulse - 0.5) - 2 * pulse);
}

int plane_caller_x(int fade)
{
    return -(int)(scene_s(fade) * 544);
}

int plane_logo_x(float scenetime)
{
    return (int)(sin(scenetime * PI_512) * 256 - 256);
}

float vhs_zoom(int scene, float scenetime, float pulse, scene_rand_fn rnd)
{
    float zoom;
    if (scene == 12) {
        zoom = scenetime * 0.6;
    } else {
        zoom = scenetime + 400;
        if (scenetime < 32) zoom += (rnd() & 31) * (pulse - 1);
        if (scenetime >= 334) zoom += (rnd() & 31);
    }
    return zoom;
}

s_vhssize vhs_sizes(float zoom)
{
    s_vhssize s;
    s.zoom = zoom;
    s.zoom2 = zoom * 0.3;
    s.zoom3 = (zoom - 256) * 2;
    s.half1 = (int)(s.zoom * 0.5);
    s.half2 = (int)(s.zoom2 * 0.5);
    s.half3 = (int)(s.zoom3 * 0.5);
    return s;
}

void vhs_centred(float w, int h, int *x, int *y, int *width, int *height)
{
    *x = 240 - h;
    *y = 135 - (h * 270) / 480;
    *width = (int)w;
    *height = (int)(w * 270 / 480);
}

void julia_step(float dt)
{
    if (juliareup == 1) juliare += (int)(dt * 50);
    else juliare -= (int)(dt * 150);
    if (juliaimup == 1) juliaim += (int)(dt * 150);
    else juliaim -= (int)(dt * 100);
    if (juliare <= 29) juliareup = 1;
    if (juliare > 10000) juliareup = 0;
    if (juliaim <= 19) juliaimup = 1;
    if (juliaim > 12000) juliaimup = 0;
}

int vhs_tape2_visible(float scenetime, scene_rand_fn rnd)
{
    int r = rnd() & ((int)scenetime + 127);
    return scenetime < 334 && r > 128;
}

int voxel_bob(int framecount)
{
    return (int)(sin(framecount * PI_32) * 8 + 9);
}

int voxel_looker_x(int fade, int bob)
{
    return (int)(scene_s(fade) * 256 - 256 - bob * 0.5);
}

int voxel_heading_step(int framecount)
{
    heading = (float)(heading + sin(framecount * PI_128));
    return (uint8_t)(int)heading;
}

int voxel_roll(int framecount)
{
    return (int)(sin(framecount * PI_128) * 31);
}

int voxel_step(int speed, float dt, int tab)
{
    float f = speed * dt * tab;
    // A frame that stalls for seconds would take the product past the int range,
    // where the conversion is undefined: saturate instead.
    if (f != f) return 0;
    if (f >= 2147483648.0f) f = 2147483520.0f;  // largest float below 2^31
    if (f < -2147483648.0f) f = -2147483648.0f;
    return ((int)f) >> 8;
}

int voxel_eatit2_x(int r, float pulse)
{
    return (int)(-(r & 15) * (pulse - 1));
}

int balls_jitter(int r, float pulse)
{
    return (int)((r & 7) * (pulse - 0.5) - 2 * pulse);
}

int credits_y(int scene, float scenetime)
{
    if (scene == 18) return abs((int)(sin(scenetime * PI_259_6) * 270)) - 270;
    return abs((int)(sin(scenetime * PI_560_5) * 270)) - 270;
}

int credits_stage(int scene, float scenetime)
{
    if (scene == 18) return scenetime > 295 ? 2 : 1;
    return 3;
}

int credits_jig_mask(int stage)
{
    return (4 << (stage - 1)) - 1;
}

int credits_lanterne_x(int fade, int jig)
{
    return (int)(scene_s(fade) * 256 - 256 - jig * 0.5);
}

int dance_figures(int framecount, s_dancer *out, int max)
{
    int n = 0;
    int rowy = (int)(sin(framecount * PI_180) * 30 + 32);
    float dsize = rowy * 0.5 + 18;
    for (int row = 0; row < 5; row++) {
        int dancex = (int)(sin(framecount * PI_256) * 128 - 128 - row * dsize);
        for (int column = 0; column < 24 - 3 * row; column++) {
            int frame = ((7 * row + framecount + 3 * column) % 30) / 2;
            int y = rowy - abs((int)(sin((framecount + dancex) * PI_237) * dsize));
            if (dancex > -dsize && dancex <= 479 && y <= 269 && n < max) {
                out[n].x = dancex;
                out[n].y = y;
                out[n].w = (int)dsize;
                out[n].h = (int)(dsize * 2.25);
                out[n].frame = frame;
                n++;
            }
            dancex = (int)(dancex + 2 * dsize);
        }
        rowy = (int)(rowy + dsize);
        dsize = dsize * 1.5;
    }
    return n;
}

int finale_fade(float scenetime)
{
    int f = (int)(255 - scenetime / 2);
    return f < 0 ? 0 : f;
}

// ---- Scene routines ------------------------------------------------------------------------

// The texels of a 256x256 texture, or null (the effects then draw nothing or black)
// when the picture is missing or too small to be read as one.
static uint32_t *texels_of(s_bitmap b)
{
    return has_texels(b) ? b.pixels : NULL;
}

// Centred scaled drawing at a 16:9 size of width w (half h).
static void draw_centred_sprite(float w, int h, s_sprite spr)
{
    int x, y, width, height;
    vhs_centred(w, h, &x, &y, &width, &height);
    ORB_DrawScaledSprite(x, y, width, height, spr);
}

static void draw_centred_bitmap(float w, int h, s_bitmap bmp)
{
    int x, y, width, height;
    vhs_centred(w, h, &x, &y, &width, &height);
    ORB_DrawScaledBitmap(x, y, width, height, bmp);
}

void scene_intro(void)
{
    if (scene == 2 && scenetime < 512) fade = intro_fade(scenetime);
    int mix = orb_rand() & 0xFF;
    DissolveBitmap(bmp_introbg1, bmp_introbg2, bmp_bg, mix);
    show_bg();
    int c = intro_caption(scene, scenetime, orb_rand);
    int j = intro_jitter(scene, pulse, orb_rand);
    if (c == 1) ORB_DrawSprite(0, j, spr_introtext2);
    if (c == 2) ORB_DrawSprite(0, j, spr_introtext1);
}

void scene_title(void)
{
    int xj = title_xjitter(pulse, orb_rand);
    uint8_t shade = title_shade(pulse2);
    int shift = title_shift(orb_rand(), pulse);
    uint8_t rot = title_rot(xj, scenetime);
    DrawTextureTab(240, 135, rot, shift, shade, texels_of(bmp_texture2), bmp_bg);
    show_bg();
    int xt = title_x(orb_rand(), fade, pulse);
    int yt = title_y(fade);
    ORB_DrawSprite(xt, yt, spr_title);
    if (pulse > 1.0) ORB_DrawSprite(0, title_logo_y(orb_rand(), pulse), spr_titlelogo);
}

void scene_tunnel(void)
{
    fdtunnel.speed = pulse * 5.0;
    FD_Render(&fdtunnel, bmp_bg, 255);
    show_bg();
    int k = tunnel_frame(scenetime);
    ORB_DrawSprite(tunnel_point_x(fade), 78, spr_point[k]);
    ORB_DrawSprite(0, tunnel_strip1_y(fade), spr_feelgreat);
    ORB_DrawSprite(0, tunnel_strip2_y(fade), spr_feelgreat2);
}

void scene_rings(void)
{
    ORB_DrawBitmap(0, 0, bmp_background);
    if (spawncount > 3) {
        int x, y;
        rings_centre(scenetime, &x, &y);
        SpawnTunnel(x, y, (int)scenetime);
        spawncount = 0;
    }
    DrawTunnel();
    int xj = rings_jitter_x(orb_rand(), pulse);
    int yj = rings_jitter_y(orb_rand(), pulse);
    ORB_DrawSprite(4 - xj, 2 - yj, spr_thousand);
}

void scene_plane(void)
{
    fdplane.speed = pulse * 5.0;
    FD_Render(&fdplane, bmp_bg, 255);
    show_bg();
    ORB_DrawSprite(plane_caller_x(fade), 0, spr_caller);
    if (scene == 11) ORB_DrawSprite(plane_logo_x(scenetime), 206, spr_negativelogo);
}

void scene_vhs(void)
{
    DrawJulia(juliare, juliaim, framecount & 1, bmp_bg);
    ORB_UpdateBitmap(bmp_bg);
    julia_step(dt);
    s_vhssize z = vhs_sizes(vhs_zoom(scene, scenetime, pulse, orb_rand));
    ORB_DrawBitmap(0, 0, bmp_background);
    draw_centred_sprite(z.zoom, z.half1, spr_vhs);
    draw_centred_bitmap(z.zoom2, z.half2, bmp_bg);
    if (scene == 13 && vhs_tape2_visible(scenetime, orb_rand))
        draw_centred_sprite(z.zoom3, z.half3, spr_vhs2);
}

void scene_voxel(void)
{
    // The landscape is drawn with the camera as the previous frame left it.
    calccamera(&camera);
    drawvoxel(&camera, bmp_background, bmp_bg);
    show_bg();
    int yl = voxel_bob(framecount);
    ORB_DrawSprite(voxel_looker_x(fade, yl), yl, spr_looker);
    camera.angle = (uint8_t)voxel_heading_step(framecount);
    camera.roll = voxel_roll(framecount);
    camera.x += voxel_step(camera.speed, dt, scape_costab[camera.angle]);
    camera.y += voxel_step(camera.speed, dt, scape_sintab[camera.angle]);
    ORB_DrawSprite(0, 0, spr_eatit1);
    if (scene == 15) ORB_DrawSprite(voxel_eatit2_x(orb_rand(), pulse), 0, spr_eatit2);
}

void scene_balls(void)
{
    // fdplane keeps the speed the plane scene's last frame gave it.
    FD_Render(&fdplane, bmp_bg, 255);
    show_bg();
    vector_rotatepoints();
    vector_drawballs();
    vector_handlemovement(dt);
    int xj = balls_jitter(orb_rand(), pulse);
    int yj = balls_jitter(orb_rand(), pulse);
    ORB_DrawSprite(4 - xj, 4 - yj, spr_hipsquare);
}

void scene_credits(void)
{
    static const s_sprite *pictures[4] = { NULL, &spr_credits1, &spr_credits2, &spr_credits3 };
    ORB_DrawBitmap(0, 0, bmp_background);
    int stage = credits_stage(scene, scenetime);
    ORB_DrawSprite(0, credits_y(scene, scenetime), *pictures[stage]);
    int jig = orb_rand() & credits_jig_mask(stage);
    ORB_DrawSprite(credits_lanterne_x(fade, jig), jig, spr_lanterne);
}

void scene_dance(void)
{
    s_dancer d[90];
    ORB_DrawBitmap(0, 0, bmp_background);
    int n = dance_figures(framecount, d, 90);
    for (int i = 0; i < n; i++) ORB_DrawScaledSprite(d[i].x, d[i].y, d[i].w, d[i].h, spr_dance[d[i].frame]);
    ORB_DrawSprite(0, 0, spr_abs);
}

void scene_finale(void)
{
    int mix = orb_rand() & 0xFF;
    DissolveBitmap(bmp_introbg1, bmp_introbg2, bmp_bg, mix);
    show_bg();
    ORB_DrawSprite(0, 0, spr_finaltext);
    fade = finale_fade(scenetime);
}

// ---- Dispatch --------------------------------------------------------------------------------

void run_scene(int scene)
{
    if (scene <= 3) scene_intro();
    else if (scene <= 5) scene_title();
    else if (scene <= 7) scene_tunnel();
    else if (scene <= 9) scene_rings();
    else if (scene <= 11) scene_plane();
    else if (scene <= 13) scene_vhs();
    else if (scene <= 15) scene_voxel();
    else if (scene <= 17) scene_balls();
    else if (scene <= 19) scene_credits();
    else if (scene <= 21) scene_dance();
    else scene_finale();
}
