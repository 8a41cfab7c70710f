// hud.h - mirador-dev's overlay: the lines of figures, the timeline strip of the 21
// periods and the help card, drawn over the presented picture in window pixels
// with the show's own bitmap font (never into the show's 480x270 framebuffer).
//
// Limits: runs on the GL thread with the window's framebuffer bound (the present's
// hook); every GL state it changes is put back. Characters outside the font's
// range (space to '|') are skipped.
#ifndef TOOLS_DEV_HUD_H
#define TOOLS_DEV_HUD_H

#include <stdint.h>

// ---- Calls ---------------------------------------------------------------------------
typedef struct {
    int scene;                 // period on screen, 2..23
    uint64_t frame;            // show frame on screen (0 is the first)
    double show_ms;            // show time of that frame
    double period_pos;         // 0..1 through the period
    double scene_ms, present_ms, frame_ms, fps;
    double queue_ms;           // sound waiting to be played
    int lines;                 // 1: the figures and the strip; 0: only the help card (when asked)
    int paused, loop, help;
    double speed;              // 0.25 .. 4
    const char *sound;         // what the sound does now ("plays", "muted at 2x", ...)
    const char *behind;        // what gave way when the machine fell behind, or null
    const char *message;       // the last message (a jump's cost, a reload), or null
    const char *worker;        // how far the worker ahead of the viewer is, or null
    const uint8_t *known;      // [24]: 1 for the periods whose start is saved
} dev_hud;

const char *dev_scene_name(int period);         // "intro" .. "finale"
// Draws the overlay over a window of w x h pixels.
void dev_hud_draw(const dev_hud *h, int w, int hgt);
// The period of the timeline strip under window pixel (x, y), or 0 outside it.
int dev_hud_strip_hit(int x, int y, int w, int hgt);

#endif
