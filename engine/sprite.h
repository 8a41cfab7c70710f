// sprite.h - rectangles of a sheet bitmap's texture drawn alpha-tested, with an
// origin and a collision box; the sprite registry and sheet store.
#ifndef ENGINE_SPRITE_H
#define ENGINE_SPRITE_H

#include <stdint.h>
#include "engine/bitmap.h"

#define ORB_MAXSPRITES 1024

// Twenty-one fields, in this order. Passed by value to draw and test calls.
typedef struct s_sprite {
    int32_t width, height;          // drawn size
    int32_t reserved1, reserved2, reserved3;
    int32_t originx, originy;       // stored for the caller, not applied
    int32_t colleft, coltop, colright, colbottom; // collision box relative to the position
    int32_t reserved4, reserved5;
    uint32_t *pixels;               // own pixels (ORB_CreateSprite only), else null
    float umin, vmin, umax, vmax;   // rectangle in the sheet's texture
    uint32_t texture;               // the sheet's texture name; 0 for ORB_CreateSprite
    int32_t reserved6;              // 0
    s_bitmap *bitmap;               // the sheet, for sprites made by ORB_LoadSprite
} s_sprite;

void ORB_LoadSprite(const char *name, s_sprite *spr);
void ORB_GetSprite(int x, int y, int w, int h, s_bitmap sheet, s_sprite *spr);
void ORB_CreateSprite(int w, int h, s_sprite *spr);
s_bitmap ORB_GetBitmapFromSprite(s_sprite spr);
void ORB_DeleteSprite(s_sprite *spr);
void ORB_ClearSprite(s_sprite spr);
void ORB_SetSpriteOrigin(s_sprite *spr, int x, int y);
int  ORB_SetSpriteCollisionBox(s_sprite *spr, int left, int top, int right, int bottom);
int  ORB_CheckSpriteCollision(int x1, int y1, s_sprite a, int x2, int y2, s_sprite b);
int  ORB_CheckBoxCollision(int x1, int y1, int w1, int h1, int x2, int y2, int w2, int h2);
int  ORB_CheckSpriteTransparency(int colour);
void ORB_DrawSprite(int x, int y, s_sprite spr);
void ORB_DrawMirroredSprite(int x, int y, s_sprite spr);
void ORB_DrawBlendSprite(int x, int y, s_sprite spr, int blendmode);
void ORB_DrawScaledSprite(int x, int y, int w, int h, s_sprite spr);
void ORB_DrawRotatedSprite(int x, int y, s_sprite spr, int angle);

extern s_sprite *orb_spritelist[ORB_MAXSPRITES];
extern int orb_numsprites;
extern s_bitmap orb_spritebmp[ORB_MAXSPRITES];

#endif
