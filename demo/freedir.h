// freedir.h - free-direction plane renderer: a textured, depth-shaded view of an
// endless tunnel, a floor/ceiling pair or a sphere, drawn into a 32-bit bitmap.
//
// One ray is cast per corner of an 8x8-pixel block grid; each block is filled by
// bilinear interpolation of the corners' texture column, row and depth in fixed
// point. The camera looks along +z, turns about y and z by `angle` every render
// (when `rotate` is set) and, for the tunnel and plane, flies forward by `speed`.
//
// Limits: textures are 256x256 texels (row stride 256). A target whose corner
// grid does not fit the grids FD_Initialise allocated, a target without pixels and
// an unknown type draw nothing; a missing texture renders all black. In every case
// the object still turns and flies as a full render would move it.
// Not reentrant: the working vectors, matrix and grid are module state.
#ifndef DEMO_FREEDIR_H
#define DEMO_FREEDIR_H

#include <stdint.h>

#include "engine/bitmap.h"

typedef struct s_fdvector {
    float x, y, z;
} s_fdvector;

typedef struct s_freedir {
    uint32_t *texture;      // 256x256 texels, not owned; null renders black
    float x, y, z;          // camera origin
    float speed;            // forward step along z per render; also sets the turn step
    uint8_t type;           // 0 tunnel, 1 plane pair, 2 sphere
    uint8_t rotate;         // non-zero: angle advances every render
    int32_t focal;          // z of every un-normalised ray, in pixels
    int32_t angle;          // camera turn, 0..1023
} s_freedir;

#define FD_TUNNEL 0
#define FD_PLANE  1
#define FD_SPHERE 2

// ---- Calls -----------------------------------------------------------------------------
// Allocate the corner grids for targets up to w x h pixels and fill the angle
// tables. On allocation failure the module stays uninitialised (renders do nothing).
void FD_Initialise(int w, int h);
// Render fd into target's pixels; brightness B shades tunnel and plane by
// B - depth (per 256). Steps fd's angle and (tunnel, plane) z.
void FD_Render(s_freedir *fd, s_bitmap target, int brightness);
// rotmatrix = rotation by table angles ax, ay, az (indices taken modulo 1024).
void FD_createrotationmatrix(int ax, int ay, int az);
// Divide v by its length in place; a zero vector is left as it is.
void FD_normalizevector(s_fdvector *v);
// out = in rotated by rotmatrix.
void FD_transformvector(s_fdvector *in, s_fdvector *out);
float FD_min(float a, float b);      // a if b > a, else b
int FD_checkme(int a, int b);        // 0 if a < 0, else min(a, b)
int FD_bound(int a, int b);          // b if a > b, else a

// ---- Module state ------------------------------------------------------------------------
extern float FD_sintab[1024], FD_costab[1024]; // sin, cos of i * 2pi/1024
extern float rotmatrix[9];                     // m0..m8
extern s_fdvector origin, direction, rdirection, intersection;
extern int *tempu, *tempv, *tempz;             // corner grid: column, row, depth (row stride GW)
extern int free_inited;                        // 1 once FD_Initialise has run

#endif
