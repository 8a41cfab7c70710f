// effects.h - the sequence's own small software effects: the particle rings of
// the rings scene, the polar texture table of the title, the Julia fractal of the
// vhs scene and the two-picture dissolve of the intro and finale.
//
// The pixel effects write through ORB_DrawPixel into a bitmap given by value (the
// pixels are the caller's); the scene uploads and draws it. The particle pass
// draws sprites straight into the current framebuffer.
//
// Limits: the texture table and the dissolve always cover 480x270 pixels.
// A missing input (a source or texture without pixels, a table not built or built
// smaller than 480x270, a dissolve source under 480*270 pixels) draws nothing.
#ifndef DEMO_EFFECTS_H
#define DEMO_EFFECTS_H

#include <stdint.h>

#include "demo/c_particle.h"
#include "engine/bitmap.h"

#define MAXPARTICLES 900
#define TEXTAB_W 480              // the pass size of DrawTextureTab and DissolveBitmap
#define TEXTAB_H 270

// ---- Calls -----------------------------------------------------------------------------
// One ring of 30 particles on a circle of radius 20 around (x, y), flying outward,
// the first at `angle` degrees and the others 12 degrees apart; life 100 frames,
// random colour. Overwrites the oldest pool slots.
void SpawnTunnel(int x, int y, int angle);
// Draw, then move, every particle of the pool (dead ones do nothing).
void DrawTunnel(void);
// Build ofstab for a w x h screen: texture row 1, column 3 x the polar angle.
// Allocates the table (a second call replaces it); on allocation failure the table
// stays absent and DrawTextureTab draws nothing.
void InitTextureTab(int w, int h);
// Rays of one texture row around the screen centre, turned by rot and moved by
// whole texture rows by shift, every channel scaled by shade/256. cx and cy are
// not used. texels: a 256x256 pixel buffer (65536 texels).
void DrawTextureTab(int cx, int cy, int rot, int shift, uint8_t shade, uint32_t *texels,
                    s_bitmap target);
// Julia set z -> z^2 + (cr, ci) in integer fixed point, over half of the pixels
// in a checkerboard (phase 0 or non-zero picks the half), each mirrored through
// the centre; the other half keeps what it held.
void DrawJulia(int cr, int ci, int phase, s_bitmap target);
// target = a * (255 - mix)/256 + b * mix/256 per channel, over the first 480x270
// words of a and b read as 480-wide rows. Red and blue of the sources change places.
void DissolveBitmap(s_bitmap a, s_bitmap b, s_bitmap target, int mix);

// ---- State --------------------------------------------------------------------------------
extern c_particle particle[MAXPARTICLES]; // the ring pool, all dead at start
extern int startparticle;                 // next slot to spawn into, wraps 899 -> 0
extern int *ofstab;                       // texel offset per screen pixel, row-major (null until built)
extern int ofstab_w, ofstab_h;            // size ofstab was built for

#endif
