// vector.h - vector balls: a small 3D object whose vertices are drawn as sprites
// at their perspective-projected positions, turning about all three axes and
// drifting in from the left.
//
// Integer-only: 8-bit angles, sine tables of amplitude 127, arithmetic shifts.
// Per frame the scene calls vector_rotatepoints, vector_drawballs and
// vector_handlemovement, in that order. Objects have at most 16 vertices.
#ifndef DEMO_VECTOR_H
#define DEMO_VECTOR_H

#include <stdint.h>

typedef struct s_vertex {
    int32_t x, y, z;      // model coordinates, centred on the origin (extent +-100)
    int32_t sx, sy;       // screen position from the last vector_rotatepoints
} s_vertex;

#define VECTOR_MAXVERTICES 16

// ---- Calls -----------------------------------------------------------------------------
void init_vector(void);                // angles 0, centre (-256, 135), entering, object 1
void vector_initobject(int number);    // 1 cube, 2 pyramid, 3 cross; other numbers: no change
void vector_rotatepoints(void);        // rotate and project every vertex into sx, sy
void vector_drawballs(void);           // one spr_square sprite per vertex, in vertex order
// Advance the angles by 1, 2, 3 and move the centre by dt * 1.2 while entering.
// The later phases: 1 waits 256 frames, 2 moves the object out to the left and
// then brings in the next object (1 -> 2 -> 3 -> 1). Nothing starts phase 1 by itself.
void vector_handlemovement(float dt);

// ---- State --------------------------------------------------------------------------------
extern s_vertex vertex[VECTOR_MAXVERTICES];
extern uint8_t xa, ya, za;            // rotation angles, 256 to the turn
extern uint8_t numvertices;
extern int32_t vectorx, vectory;      // screen position of the object's centre
extern uint8_t vectorstate;           // 0 entering, 1 waiting, 2 leaving
extern uint8_t vectorobject;          // current object, 1..3
extern int32_t vectordelay;           // frames waited in phase 1
extern const int8_t sintab[256];      // sin(2 pi i/256) * 127, truncated
extern const int8_t costab[256];      // sintab[(i + 64) mod 256]

#endif
