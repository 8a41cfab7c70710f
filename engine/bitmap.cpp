// bitmap.cpp - bitmaps (pixel buffer plus texture), their registry, per-pixel
// access and the bitmap draw calls.
#include "engine/bitmap.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "engine/orb.h"
#include "engine/video.h"

s_bitmap *orb_bitmaplist[ORB_MAXBITMAPS];
int orb_numbitmaps;

// Buffer order (0xAABBGGRR) <-> API colour (0xAARRGGBB): the same exchange both ways.
static uint32_t swap_redblue(uint32_t c)
{
    return (c & 0xFF00FF00u) + ((c & 0x00FF0000u) >> 16) + ((c & 0xFFu) << 16);
}

// ---- Bitmaps --------------------------------------------------------------------------

void ORB_CreateBitmap(int width, int height, s_bitmap *bmp)
{
    int texwidth = PowerOfTwo(width);
    int texheight = PowerOfTwo(height);

    bmp->width = width;
    bmp->height = height;
    bmp->reserved1 = NULL;
    bmp->texwidth = texwidth;
    bmp->texheight = texheight;
    bmp->umin = 0.0f;
    bmp->vmin = 0.0f;
    bmp->reserved4 = 0;

    // The byte count is kept in a 32-bit field: sizes whose count does not fit (or
    // that are not positive) get no buffer and no texture instead of a wrapped size.
    long long bytes = (long long)texwidth * texheight * 4;
    if (width <= 0 || height <= 0 || bytes > 0x7FFFFFFFLL) {
        printf("ORB_CreateBitmap: bad size %d x %d\n", width, height);
        bmp->numpixels = 0;
        bmp->size = 0;
        bmp->pixels = NULL;
        bmp->umax = 0.0f;
        bmp->vmax = 0.0f;
        bmp->texture = 0;
    } else {
        bmp->numpixels = texwidth * texheight;
        bmp->size = bmp->numpixels * 4;
        bmp->pixels = (uint32_t *)malloc((size_t)bmp->size); // not cleared
        // The drawn area stops just short of the texture's right and bottom edges.
        bmp->umax = (float)(width * 0.99999) / texwidth;
        bmp->vmax = (float)(height * 0.9999) / texheight;
        bmp->texture = ORB_CreateTexture(*bmp);
    }

    // The registry only keeps addresses; a full one refuses the entry rather than
    // writing past its end. The record above is complete either way.
    if (orb_numbitmaps >= ORB_MAXBITMAPS) {
        printf("ORB_CreateBitmap: bitmap registry full (%d), bitmap not registered\n", ORB_MAXBITMAPS);
        return;
    }
    orb_bitmaplist[orb_numbitmaps] = bmp;
    orb_numbitmaps++;
}

void ORB_DeleteBitmap(s_bitmap *bmp)
{
    if (!bmp->pixels) return;
    puts("deleting bitmap");
    ORB_DeleteTexture(*bmp);
    free(bmp->pixels);
    bmp->pixels = NULL;
}

void ORB_UpdateBitmap(s_bitmap bmp)
{
    ORB_UpdateTexture(bmp);
}

void ORB_ClearBitmap(s_bitmap bmp)
{
    if (!bmp.pixels) return;
    memset(bmp.pixels, 0, (size_t)bmp.size);
    ORB_UpdateTexture(bmp);
}

void ORB_ClearColorBitmap(s_bitmap bmp, int color)
{
    if (!bmp.pixels) return;
    for (int i = 0; i < bmp.numpixels; i++) bmp.pixels[i] = (uint32_t)color;
    ORB_UpdateTexture(bmp);
}

// ---- Drawing ----------------------------------------------------------------------------
// Bitmaps are opaque: alpha test off, then one textured quad over the record's
// texture rectangle.

void ORB_DrawScaledBitmap(int x, int y, int w, int h, s_bitmap bmp)
{
    ORB_DisableRenderState(0x2);
    ORB_BindTexture(bmp.texture);
    ORB_DrawQuad((float)x, (float)y, (float)w, (float)h, bmp.umin, bmp.vmin, bmp.umax, bmp.vmax);
}

void ORB_DrawBitmap(int x, int y, s_bitmap bmp)
{
    ORB_DrawScaledBitmap(x, y, bmp.width, bmp.height, bmp);
}

void ORB_DrawZoomedBitmap(int x, int y, int zoom, s_bitmap bmp)
{
    // Integer arithmetic, product first; done in 64 bits so a large zoom cannot
    // overflow, and clamped to the int range of the drawn size.
    long long w = (long long)zoom * bmp.width / 100;
    long long h = (long long)zoom * bmp.height / 100;
    if (w > 0x7FFFFFFFLL) w = 0x7FFFFFFFLL;
    if (w < -0x7FFFFFFFLL) w = -0x7FFFFFFFLL;
    if (h > 0x7FFFFFFFLL) h = 0x7FFFFFFFLL;
    if (h < -0x7FFFFFFFLL) h = -0x7FFFFFFFLL;
    ORB_DrawScaledBitmap(x, y, (int)w, (int)h, bmp);
}

void ORB_DrawBlendBitmap(int x, int y, s_bitmap bmp, int blendmode)
{
    ORB_SetBlendMode(blendmode);
    ORB_DisableRenderState(0x2);
    ORB_EnableRenderState(0x4);
    ORB_DrawBitmap(x, y, bmp);
    ORB_DisableRenderState(0x4);
}

void ORB_DrawRotatedBitmap(int x, int y, s_bitmap bmp, int angle)
{
    ORB_DisableRenderState(0x2);
    ORB_BindTexture(bmp.texture);
    ORB_DrawRotatedQuad((float)x, (float)y, (float)bmp.width, (float)bmp.height,
                        bmp.umin, bmp.vmin, bmp.umax, bmp.vmax, (float)angle);
}

// ---- Pixel access ---------------------------------------------------------------------------

uint32_t ORB_GetPixel(int x, int y, s_bitmap bmp)
{
    if (!bmp.pixels || x < 0 || x >= bmp.width || y < 0 || y >= bmp.height) return 0;
    return swap_redblue(bmp.pixels[x + y * bmp.width]);
}

void ORB_DrawPixel(int x, int y, uint32_t c, s_bitmap bmp)
{
    if (!bmp.pixels || x < 0 || x >= bmp.width || y < 0 || y >= bmp.height) return;
    bmp.pixels[x + y * bmp.width] = swap_redblue(c);
}
