// show.h - the show as data: its periods and their length, the frame units the
// scenes count in, the sound rate, and the table of every asset start-up loads.
//
// The table's order is the load order, and the load order decides the bitmap
// registry's indices, so every picture of the show depends on it: a new asset goes
// at the end (start-up, the missing-asset report, mirador-dev's reload and the web
// page all read this table).
#ifndef DEMO_SHOW_H
#define DEMO_SHOW_H

#include "engine/bitmap.h"
#include "engine/font.h"
#include "engine/sprite.h"
#include "sound/coresound.h"

// ---- Calls -----------------------------------------------------------------------------
typedef enum {
    SHOW_FONT,     // ORB_InitFont(file, font)
    SHOW_CANVAS,   // no file: ORB_CreateBitmap(SHOW_W, SHOW_H, bitmap), the work bitmap
    SHOW_BITMAP,   // ORB_LoadBitmap(file, bitmap)
    SHOW_SPRITE,   // ORB_LoadSprite(file, sprite): one file, one sprite, the whole picture
    SHOW_MUSIC,    // Soundsystem_LoadSound(file, sound), once the sound system runs
} show_kind;

typedef struct {
    const char *file;   // the name in the resource image (null for the canvas)
    show_kind kind;
    s_font *font;       // the record it fills: the one of its kind, the others null
    s_bitmap *bitmap;
    s_sprite *sprite;
    s_sound *sound;
    int checked;        // 1: start-up reports it when it did not load (the scenes draw from it whole)
} show_asset;

// Loads row i of the table into its record (the music too: only after
// Soundsystem_Init).
void show_load(const show_asset *a);
// 1 when the row's record holds what its file gave (pixels, or the music's data).
int show_loaded(const show_asset *a);
// The picture a row fills: the bitmap, or the sprite's sheet; null for the font, the
// music, and a sprite not loaded.
s_bitmap *show_picture(const show_asset *a);
// How many rows start-up checks.
int show_checked_count(void);

extern const show_asset show_assets[];
extern const int show_asset_count;

// ---- Timeline ------------------------------------------------------------------------------
#define SHOW_FIRST_PERIOD 2     // the period the show starts in
#define SHOW_LAST_PERIOD 22     // the finale's, the last one the clock ends
#define SHOW_END_PERIOD 23      // one frame, presented black; then the show is over
#define SHOW_PERIOD_MS 7700     // a period ends once more than SHOW_PERIOD_MS - 1 ms have passed
#define SHOW_PERIOD_UNITS 513   // frame units (15 ms) of one period: 7700 / 15, truncated
#define SHOW_PULSE_UNITS 128    // frame units between two pulses
#define SHOW_SOUND_RATE 44100   // the mixer's rate, stereo frames a second
#define SHOW_W 480              // the framebuffer every scene draws into
#define SHOW_H 270

#endif
