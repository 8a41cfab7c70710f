// sprite.h - rectangles of a sheet bitmap's texture drawn alpha-tested, with an
// origin and a collision box; the sprite registry and sheet store.
//
// Limits: the registry holds the addresses of up to 1024 sprites (ORB_MAXSPRITES);
// the graphics flush frees their own pixels through those addresses and empties it.
// A sprite made (ORB_LoadSprite, ORB_GetSprite, ORB_CreateSprite) while 1024 are
// registered is refused: "- ERROR: Too many sprites, max. 1024." is printed, the
// record is left unchanged and ORB_LoadSprite loads no sheet. The sheet store has
// one slot per registry number: ORB_LoadSprite loads its picture into the slot of
// the number the sprite is about to get, and the sheet also takes a place in the
// bitmap registry (engine/bitmap.h states what a full one does).
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

// Loads a TGA into the sheet slot orb_spritebmp[orb_numsprites] and cuts the whole
// picture as one sprite. A missing sheet still gives a (zero-sized) sprite.
void ORB_LoadSprite(const char *name, s_sprite *spr);
// Cuts the w x h rectangle at (x, y) of sheet and registers the sprite.
void ORB_GetSprite(int x, int y, int w, int h, s_bitmap sheet, s_sprite *spr);
// A sprite with its own cleared w x h pixel buffer and no texture; registered.
void ORB_CreateSprite(int w, int h, s_sprite *spr);
// A bitmap record showing the sprite's rectangle (draws without transparency).
s_bitmap ORB_GetBitmapFromSprite(s_sprite spr);
// Frees the sprite's own pixels, if any (sheets belong to the bitmap registry).
void ORB_DeleteSprite(s_sprite *spr);
// Zeroes the sprite's own pixels, if any.
void ORB_ClearSprite(s_sprite spr);
// Stores an origin for the caller; the draw calls do not apply it.
void ORB_SetSpriteOrigin(s_sprite *spr, int x, int y);
// Sets the collision box relative to the sprite's position; returns 1.
int  ORB_SetSpriteCollisionBox(s_sprite *spr, int left, int top, int right, int bottom);
// 1 when the sprites' boxes overlap at the given positions (touching is not overlap).
int  ORB_CheckSpriteCollision(int x1, int y1, s_sprite a, int x2, int y2, s_sprite b);
// 1 when the two rectangles overlap (touching is not overlap).
int  ORB_CheckBoxCollision(int x1, int y1, int w1, int h1, int x2, int y2, int w2, int h2);
// 1 for the magenta key colour (red > 240, green < 16, blue > 240), alpha ignored.
int  ORB_CheckSpriteTransparency(int colour);
// Draw calls: alpha test on (alpha 0 is not drawn) and left on; (x, y) is the
// top-left corner in pixels of the current framebuffer.
void ORB_DrawSprite(int x, int y, s_sprite spr);
void ORB_DrawMirroredSprite(int x, int y, s_sprite spr);              // left and right exchanged
void ORB_DrawBlendSprite(int x, int y, s_sprite spr, int blendmode);  // blend mode 1 or 2
void ORB_DrawScaledSprite(int x, int y, int w, int h, s_sprite spr);  // stretched to w x h
void ORB_DrawRotatedSprite(int x, int y, s_sprite spr, int angle);    // degrees about the centre

// ---- Registry and sheet store ------------------------------------------------------
extern s_sprite *orb_spritelist[ORB_MAXSPRITES];
extern int orb_numsprites;
extern s_bitmap orb_spritebmp[ORB_MAXSPRITES];

#endif
