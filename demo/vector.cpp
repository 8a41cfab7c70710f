// vector.cpp - vector-ball objects, rotation, projection and movement.
#include "demo/vector.h"

#include <math.h>

#include "demo/main.h"
#include "engine/sprite.h"

s_vertex vertex[VECTOR_MAXVERTICES];
uint8_t xa, ya, za;
uint8_t numvertices;
int32_t vectorx, vectory;
uint8_t vectorstate;
uint8_t vectorobject;
int32_t vectordelay;

const int8_t sintab[256] = {
       0,    3,    6,    9,   12,   15,   18,   21,   24,   27,   30,   33,   36,   39,   42,   45,
      48,   51,   54,   57,   59,   62,   65,   67,   70,   73,   75,   78,   80,   82,   85,   87,
      89,   91,   94,   96,   98,  100,  102,  103,  105,  107,  108,  110,  112,  113,  114,  116,
     117,  118,  119,  120,  121,  122,  123,  123,  124,  125,  125,  126,  126,  126,  126,  126,
     127,  126,  126,  126,  126,  126,  125,  125,  124,  123,  123,  122,  121,  120,  119,  118,
     117,  116,  114,  113,  112,  110,  108,  107,  105,  103,  102,  100,   98,   96,   94,   91,
      89,   87,   85,   82,   80,   78,   75,   73,   70,   67,   65,   62,   59,   57,   54,   51,
      48,   45,   42,   39,   36,   33,   30,   27,   24,   21,   18,   15,   12,    9,    6,    3,
       0,   -3,   -6,   -9,  -12,  -15,  -18,  -21,  -24,  -27,  -30,  -33,  -36,  -39,  -42,  -45,
     -48,  -51,  -54,  -57,  -59,  -62,  -65,  -67,  -70,  -73,  -75,  -78,  -80,  -82,  -85,  -87,
     -89,  -91,  -94,  -96,  -98, -100, -102, -103, -105, -107, -108, -110, -112, -113, -114, -116,
    -117, -118, -119, -120, -121, -122, -123, -123, -124, -125, -125, -126, -126, -126, -126, -126,
    -127, -126, -126, -126, -126, -126, -125, -125, -124, -123, -123, -122, -121, -120, -119, -118,
    -117, -116, -114, -113, -112, -110, -108, -107, -105, -103, -102, -100,  -98,  -96,  -94,  -91,
     -89,  -87,  -85,  -82,  -80,  -78,  -75,  -73,  -70,  -67,  -65,  -62,  -59,  -57,  -54,  -51,
     -48,  -45,  -42,  -39,  -36,  -33,  -30,  -27,  -24,  -21,  -18,  -15,  -12,   -9,   -6,   -3,
};

const int8_t costab[256] = {
     127,  126,  126,  126,  126,  126,  125,  125,  124,  123,  123,  122,  121,  120,  119,  118,
     117,  116,  114,  113,  112,  110,  108,  107,  105,  103,  102,  100,   98,   96,   94,   91,
      89,   87,   85,   82,   80,   78,   75,   73,   70,   67,   65,   62,   59,   57,   54,   51,
      48,   45,   42,   39,   36,   33,   30,   27,   24,   21,   18,   15,   12,    9,    6,    3,
       0,   -3,   -6,   -9,  -12,  -15,  -18,  -21,  -24,  -27,  -30,  -33,  -36,  -39,  -42,  -45,
     -48,  -51,  -54,  -57,  -59,  -62,  -65,  -67,  -70,  -73,  -75,  -78,  -80,  -82,  -85,  -87,
     -89,  -91,  -94,  -96,  -98, -100, -102, -103, -105, -107, -108, -110, -112, -113, -114, -116,
    -117, -118, -119, -120, -121, -122, -123, -123, -124, -125, -125, -126, -126, -126, -126, -126,
    -127, -126, -126, -126, -126, -126, -125, -125, -124, -123, -123, -122, -121, -120, -119, -118,
    -117, -116, -114, -113, -112, -110, -108, -107, -105, -103, -102, -100,  -98,  -96,  -94,  -91,
     -89,  -87,  -85,  -82,  -80,  -78,  -75,  -73,  -70,  -67,  -65,  -62,  -59,  -57,  -54,  -51,
     -48,  -45,  -42,  -39,  -36,  -33,  -30,  -27,  -24,  -21,  -18,  -15,  -12,   -9,   -6,   -3,
       0,    3,    6,    9,   12,   15,   18,   21,   24,   27,   30,   33,   36,   39,   42,   45,
      48,   51,   54,   57,   59,   62,   65,   67,   70,   73,   75,   78,   80,   82,   85,   87,
      89,   91,   94,   96,   98,  100,  102,  103,  105,  107,  108,  110,  112,  113,  114,  116,
     117,  118,  119,  120,  121,  122,  123,  123,  124,  125,  125,  126,  126,  126,  126,  126,
};

typedef struct { int x, y, z; } s_modelpoint;

static const s_modelpoint object1[8] = {   // cube
    {-100, -100, -100}, {100, -100, -100}, {100, 100, -100}, {-100, 100, -100},
    {-100, -100, 100},  {100, -100, 100},  {100, 100, 100},  {-100, 100, 100},
};
static const s_modelpoint object2[5] = {   // pyramid: square base, apex
    {-100, -100, -100}, {100, -100, -100}, {100, 100, -100}, {-100, 100, -100},
    {0, 0, 100},
};
static const s_modelpoint object3[8] = {   // rectangle in y = 0 crossed by a line along y
    {-50, 0, -100}, {50, 0, -100}, {50, 0, 100}, {-50, 0, 100},
    {0, -100, 0},   {0, -50, 0},   {0, 50, 0},   {0, 100, 0},
};

void init_vector(void)
{
    xa = ya = za = 0;
    vectorx = -256;
    vectory = 135;
    vectorstate = 0;
    vectorobject = 1;
    vectordelay = 0;
}

void vector_initobject(int number)
{
    const s_modelpoint *src;
    int n;
    switch (number) {
    case 1: src = object1; n = 8; break;
    case 2: src = object2; n = 5; break;
    case 3: src = object3; n = 8; break;
    default: return;
    }
    // Slots past n keep what they held.
    for (int i = 0; i < n; i++) {
        vertex[i].x = src[i].x;
        vertex[i].y = src[i].y;
        vertex[i].z = src[i].z;
    }
    numvertices = (uint8_t)n;
}

void vector_rotatepoints(void)
{
    int sX = sintab[xa], cX = costab[xa];
    int sY = sintab[ya], cY = costab[ya];
    int sZ = sintab[za], cZ = costab[za];
    int n = numvertices < VECTOR_MAXVERTICES ? numvertices : VECTOR_MAXVERTICES;
    for (int i = 0; i < n; i++) {
        int x = vertex[i].x, y = vertex[i].y, z = vertex[i].z;
        int y1 = (cX * y - sX * z) >> 7;
        int z1 = (sX * y + cX * z) >> 7;
        int x2 = (cY * x + sY * z1) >> 7;
        int z2 = (cY * z1 - sY * x) >> 7;
        int X = cZ * x2 - sZ * y1;
        int Y = sZ * x2 + cZ * y1;
        int D = z2 + 256;       // positive for every object: |z2| < 256
        vertex[i].sx = X / D + vectorx;
        vertex[i].sy = Y / D + vectory;
    }
}

void vector_drawballs(void)
{
    int n = numvertices < VECTOR_MAXVERTICES ? numvertices : VECTOR_MAXVERTICES;
    for (int i = 0; i < n; i++) {
        // The size comes from the model z, so the balls do not grow with depth; a
        // negative size draws the same square mirrored about the same centre.
        int size = (int)(vertex[i].z * 0.5);
        int left = (int)(vertex[i].sx - size * 0.5);
        int top = (int)(vertex[i].sy - size * 0.5);
        ORB_DrawScaledSprite(left, top, size, size, spr_square[i % 8]);
    }
}

void vector_handlemovement(float dt)
{
    xa = (uint8_t)(xa + 1);
    ya = (uint8_t)(ya + 2);
    za = (uint8_t)(za + 3);
    switch (vectorstate) {
    case 0: {
        // Truncation toward zero: a negative centre moves by at least 1 for any
        // positive step, a positive one not at all for steps below 1. A step
        // past the int range (an enormous or broken dt) saturates instead of
        // being undefined.
        double v = vectorx + dt * 1.2;
        if (v >= 2147483647.0) vectorx = 2147483647;
        else if (v <= -2147483648.0) vectorx = -2147483647 - 1;
        else if (v == v) vectorx = (int32_t)v;
        break;
    }
    case 1:
        if (vectordelay < 255) {
            vectordelay += 1;
        } else {
            vectordelay = 0;
            vectorstate = 2;
        }
        break;
    case 2:
        if (vectorx >= -255) {
            vectorx -= 1;
        } else {
            vectorobject = (uint8_t)(vectorobject % 3 + 1);
            vector_initobject(vectorobject);
            vectorstate = 0;
        }
        break;
    default:
        break;
    }
}
