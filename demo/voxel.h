// voxel.h - height-field landscape: a 256x256 height map that wraps in both
// directions, coloured from a 256x256 colour map, drawn front to back with a
// per-column occlusion buffer, seen from a camera that turns about the vertical
// axis and can tilt its horizon (roll).
//
// Positions are 16.16 fixed point in map cells (bits 16..23 pick the cell, bits
// 8..15 are the interpolation fraction); angles are 256 to the turn.
//
// Limits: targets are 2..1024 pixels wide (narrower targets draw nothing, columns
// past 1024 are left alone). The colour map is read with a row stride of 256 and
// needs 65536 pixels; the sky map is read with stride 256 too, rows outside it
// repeat its first or last row. A missing colour map leaves the background alone
// (drawvoxel) or the target untouched; a missing height map reads as flat ground.
#ifndef DEMO_VOXEL_H
#define DEMO_VOXEL_H

#include <stdint.h>

#include "engine/bitmap.h"

typedef struct s_camera {
    int32_t x, y;       // map position, 16.16
    int32_t height;     // eye height above the ground (a map byte counts 4)
    uint8_t angle;      // viewing direction
    uint8_t fov;        // half the horizontal view angle
    int32_t speed;      // forward speed, used by the caller to move the camera
    int32_t reserved;   // not read
    int32_t z;          // eye level, set by calccamera
    int32_t roll;       // horizon tilt: roll pixels lower at the left edge, higher at the right
} s_camera;

#define VOXEL_MAXWIDTH 1024

// ---- Calls -----------------------------------------------------------------------------
// Read the height map (low byte of each pixel, 256x256), keep the colour and sky
// bitmaps, fill the angle tables.
void initvoxel(s_bitmap heights, s_bitmap colours, s_bitmap sky);
// camera->z = 255 - 4 x ground height under the camera - camera->height.
void calccamera(s_camera *c);
// Copy background into target, then draw 82 lines of the landscape with colour
// gradients between samples.
void drawvoxel(s_camera *c, s_bitmap background, s_bitmap target);
// One line of map samples from (x1, y1) to (x2, y2) across the target's columns,
// projected with eye level z and the given scale; gradient spans.
void voxelline(int x1, int y1, int x2, int y2, int z, int scale, int roll, s_bitmap target);
// The landscape without background and gradients: 134 lines, flat spans.
void drawvoxel_fast(s_camera *c, s_bitmap target);
void voxelline_fast(int x1, int y1, int x2, int y2, int z, int scale, int roll, s_bitmap target);
// After a landscape pass: fill every column above the landscape from the sky map.
void drawsky(s_camera *c, s_bitmap target);

// ---- Module state ------------------------------------------------------------------------
extern const int sin64tab[256], cos64tab[256];  // sin, cos of i * 2pi/256 in 16.16, +-65535 at the extremes
extern int scape_sintab[256], scape_costab[256];
extern uint8_t *voxel_heightmap;                 // 65536 heights, row-major (null before initvoxel)
extern s_bitmap voxel_colorbmp, voxel_skybmp;
extern int lasty[VOXEL_MAXWIDTH];                // per column: topmost row drawn
extern int lastcr[VOXEL_MAXWIDTH], lastcg[VOXEL_MAXWIDTH], lastcb[VOXEL_MAXWIDTH]; // previous colour, -1: none

#endif
