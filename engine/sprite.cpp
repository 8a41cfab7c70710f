// sprite.cpp - sprites: rectangles of a sheet's texture drawn alpha-tested, their
// registry and sheet store, collision boxes.
#include "engine/sprite.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "engine/orb.h"
#include "engine/tga.h"
#include "engine/video.h"

s_sprite *orb_spritelist[ORB_MAXSPRITES];
int orb_numsprites = 0;
s_bitmap orb_spritebmp[ORB_MAXSPRITES];

// The registry is full: say so. Callers then leave the record as it was.
static int spr_full(void)
{
    if (orb_numsprites < ORB_MAXSPRITES) return 0;
    printf("- ERROR: Too many sprites, max. %d.\n", ORB_MAXSPRITES);
    return 1;
}

static void spr_register(s_sprite *spr)
{
    orb_spritelist[orb_numsprites] = spr;
    orb_numsprites++;
}

// A texture coordinate from integers; a sheet without size (one that failed to
// load) gives 0 rather than a division by zero.
static float spr_coord(int a, int size)
{
    return size > 0 ? (float)a / (float)size : 0.0f;
}

void ORB_LoadSprite(const char *name, s_sprite *spr)
{
    if (spr_full()) return;
    s_bitmap *sheet = &orb_spritebmp[orb_numsprites];
    ORB_LoadBitmap(name, sheet);
    spr->bitmap = sheet;
    ORB_GetSprite(0, 0, sheet->width, sheet->height, *sheet, spr);
}

void ORB_GetSprite(int x, int y, int w, int h, s_bitmap sheet, s_sprite *spr)
{
    if (spr_full()) return;
    spr->width = w;
    spr->height = h;
    spr->originx = 0;
    spr->originy = 0;
    spr->colleft = 0;
    spr->coltop = 0;
    spr->colright = w;
    spr->colbottom = h;
    spr->pixels = NULL;
    spr->umin = spr_coord(x, sheet.texwidth);
    spr->vmin = spr_coord(y, sheet.texheight);
    spr->umax = spr_coord(x + w, sheet.texwidth);
    spr->vmax = spr_coord(y + h, sheet.texheight);
    spr->texture = sheet.texture;
    spr->reserved6 = 0;
    spr_register(spr);
}

void ORB_CreateSprite(int w, int h, s_sprite *spr)
{
    if (spr_full()) return;
    spr->width = PowerOfTwo(w);
    spr->height = PowerOfTwo(h);
    spr->originx = 0;
    spr->originy = 0;
    spr->colleft = 0;
    spr->coltop = 0;
    spr->colright = w;
    spr->colbottom = h;
    size_t bytes = (spr->width > 0 && spr->height > 0)
                       ? (size_t)spr->width * (size_t)spr->height * 4 : 0;
    spr->pixels = bytes ? (uint32_t *)malloc(bytes) : NULL;
    spr->umin = 0.0f;
    spr->vmin = 0.0f;
    spr->umax = (float)(w * 0.99999) / spr->width;
    spr->vmax = (float)(h * 0.9999) / spr->height;
    spr->texture = 0;
    spr->reserved6 = 0;
    ORB_ClearSprite(*spr);
    spr_register(spr);
}

s_bitmap ORB_GetBitmapFromSprite(s_sprite spr)
{
    s_bitmap b;
    memset(&b, 0, sizeof(b));
    b.width = spr.width;
    b.height = spr.height;
    b.numpixels = spr.width * spr.height;
    b.size = b.numpixels * 4;
    b.pixels = spr.pixels;
    b.umin = spr.umin;
    b.vmin = spr.vmin;
    b.umax = spr.umax;
    b.vmax = spr.vmax;
    b.texture = spr.texture;
    b.reserved4 = spr.reserved6;
    return b;
}

void ORB_DeleteSprite(s_sprite *spr)
{
    if (spr->pixels) {
        free(spr->pixels);
        spr->pixels = NULL;
    }
}

void ORB_ClearSprite(s_sprite spr)
{
    if (spr.pixels) memset(spr.pixels, 0, (size_t)spr.width * (size_t)spr.height * 4);
}

void ORB_SetSpriteOrigin(s_sprite *spr, int x, int y)
{
    spr->originx = x;
    spr->originy = y;
}

int ORB_SetSpriteCollisionBox(s_sprite *spr, int left, int top, int right, int bottom)
{
    spr->colleft = left;
    spr->coltop = top;
    spr->colright = right;
    spr->colbottom = bottom;
    return 1;
}

int ORB_CheckBoxCollision(int x1, int y1, int w1, int h1, int x2, int y2, int w2, int h2)
{
    // Strict tests: rectangles that only share an edge do not collide.
    return (x2 - w1 < x1 && y2 - h1 < y1 && x2 + w2 > x1 && y2 + h2 > y1) ? 1 : 0;
}

int ORB_CheckSpriteCollision(int x1, int y1, s_sprite a, int x2, int y2, s_sprite b)
{
    return ORB_CheckBoxCollision(x1 + a.colleft, y1 + a.coltop,
                                 a.colright - a.colleft, a.colbottom - a.coltop,
                                 x2 + b.colleft, y2 + b.coltop,
                                 b.colright - b.colleft, b.colbottom - b.coltop);
}

int ORB_CheckSpriteTransparency(int colour)
{
    // The loader's magenta key, alpha ignored.
    uint32_t c = (uint32_t)colour;
    return (((c >> 16) & 0xFF) > 240 && ((c >> 8) & 0xFF) <= 15 && (c & 0xFF) > 240) ? 1 : 0;
}

// ---- Drawing: alpha test on (alpha 0 is not drawn), and left on ---------------------

void ORB_DrawSprite(int x, int y, s_sprite spr)
{
    ORB_EnableRenderState(0x2);
    ORB_BindTexture(spr.texture);
    ORB_DrawQuad((float)x, (float)y, (float)spr.width, (float)spr.height,
                 spr.umin, spr.vmin, spr.umax, spr.vmax);
}

void ORB_DrawMirroredSprite(int x, int y, s_sprite spr)
{
    // Left and right texture coordinates exchanged: mirrored left to right in place.
    ORB_EnableRenderState(0x2);
    ORB_BindTexture(spr.texture);
    ORB_DrawQuad((float)x, (float)y, (float)spr.width, (float)spr.height,
                 spr.umax, spr.vmin, spr.umin, spr.vmax);
}

void ORB_DrawBlendSprite(int x, int y, s_sprite spr, int blendmode)
{
    ORB_EnableRenderState(0x2);
    ORB_BindTexture(spr.texture);
    ORB_SetBlendMode(blendmode);
    ORB_EnableRenderState(0x4);
    ORB_DrawQuad((float)x, (float)y, (float)spr.width, (float)spr.height,
                 spr.umin, spr.vmin, spr.umax, spr.vmax);
    ORB_DisableRenderState(0x4);
}

void ORB_DrawScaledSprite(int x, int y, int w, int h, s_sprite spr)
{
    ORB_EnableRenderState(0x2);
    ORB_BindTexture(spr.texture);
    ORB_DrawQuad((float)x, (float)y, (float)w, (float)h,
                 spr.umin, spr.vmin, spr.umax, spr.vmax);
}

void ORB_DrawRotatedSprite(int x, int y, s_sprite spr, int angle)
{
    ORB_BindTexture(spr.texture);
    ORB_EnableRenderState(0x2);
    ORB_DrawRotatedQuad((float)x, (float)y, (float)spr.width, (float)spr.height,
                        spr.umin, spr.vmin, spr.umax, spr.vmax, (float)angle);
}
