// bitmap.h - the engine's image: 32-bit pixels in main memory plus a GL texture of
// the same size, the bitmap registry, and per-pixel access.
//
// Pixel buffers hold each pixel with red and blue exchanged (0xAABBGGRR: bytes R, G,
// B, A in memory, uploaded as GL_RGBA); the API's colours are 0xAARRGGBB.
// ORB_GetPixel and ORB_DrawPixel convert between the two and ignore positions
// outside the bitmap or a bitmap without a pixel buffer.
//
// Limits: the registry holds the addresses of up to 1024 bitmaps (ORB_MAXBITMAPS),
// in creation order, so a registered record must stay where it is until the
// graphics flush (ORB_FlushGraphics) deletes it through that address. A bitmap made
// while 1024 are registered is still complete (buffer and texture) but is not
// registered: "ORB_CreateBitmap: bitmap registry full (1024), bitmap not registered"
// is printed and the flush never frees it. A width or height that is not positive,
// or a buffer that would reach 2 GiB, prints "ORB_CreateBitmap: bad size W x H" and
// gives a registered record without buffer or texture (pixels null, size 0, texture
// 0); a failed allocation leaves pixels null (the texture is still made). The clear
// calls, the pixel calls and ORB_DeleteBitmap do nothing on a bitmap without a
// buffer, so ORB_DeleteBitmap leaves the texture of a static bitmap
// (ORB_LoadStaticBitmap) alone.
#ifndef ENGINE_BITMAP_H
#define ENGINE_BITMAP_H

#include <stdint.h>

#define ORB_MAXBITMAPS 1024

// Sixteen fields, in this order. Passed by value except to create and delete.
typedef struct s_bitmap {
    int32_t width;          // image width in pixels
    int32_t height;         // image height in pixels
    void *reserved1;        // null at creation
    int32_t texwidth;       // PowerOfTwo(width) == width
    int32_t texheight;      // PowerOfTwo(height) == height
    int32_t size;           // bytes of the pixel buffer: texwidth * texheight * 4
    int32_t numpixels;      // texwidth * texheight
    int32_t reserved2;
    int32_t reserved3;
    uint32_t *pixels;       // rows top to bottom, buffer order; null when absent
    float umin, vmin;       // 0, 0 at creation
    float umax, vmax;       // float(width*0.99999)/texwidth, float(height*0.9999)/texheight
    uint32_t texture;       // GL texture name
    int32_t reserved4;      // 0 at creation
} s_bitmap;

// ---- Bitmaps --------------------------------------------------------------------
void ORB_CreateBitmap(int width, int height, s_bitmap *bmp); // allocate, create texture, register
void ORB_DeleteBitmap(s_bitmap *bmp);        // free buffer and texture (once)
void ORB_UpdateBitmap(s_bitmap bmp);         // upload the whole buffer to the texture
void ORB_ClearBitmap(s_bitmap bmp);          // zero the buffer, upload
void ORB_ClearColorBitmap(s_bitmap bmp, int color); // fill with color as given (buffer order), upload
void ORB_DrawBitmap(int x, int y, s_bitmap bmp);
void ORB_DrawScaledBitmap(int x, int y, int w, int h, s_bitmap bmp);
void ORB_DrawZoomedBitmap(int x, int y, int zoom, s_bitmap bmp);   // zoom in percent
void ORB_DrawBlendBitmap(int x, int y, s_bitmap bmp, int blendmode);
void ORB_DrawRotatedBitmap(int x, int y, s_bitmap bmp, int angle); // degrees about the centre

// ---- Pixel access (no GL) ---------------------------------------------------------
uint32_t ORB_GetPixel(int x, int y, s_bitmap bmp);           // 0xAARRGGBB, 0 outside
void ORB_DrawPixel(int x, int y, uint32_t c, s_bitmap bmp);  // c is 0xAARRGGBB

// ---- Registry ------------------------------------------------------------------
extern s_bitmap *orb_bitmaplist[ORB_MAXBITMAPS];
extern int orb_numbitmaps;

#endif
