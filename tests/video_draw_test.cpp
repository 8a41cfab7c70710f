// Bitmaps drawn into the 480x270 framebuffer and read back: position and extent,
// scaling, zoom, blend modes 1 and 2, rotation, clear-to-colour, and the quad cull.
#include <GL/glew.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string>
#include <vector>

#include "engine/bitmap.h"
#include "engine/video.h"
#include "tests/testutil_gl.h"
#include "tests/testutil_os.h"

namespace {

// API colours of the four quadrants of the test bitmap.
const uint32_t TL = 0xFFFF0000, TR = 0xFF00FF00, BL = 0xFF0000FF, BR = 0xFFFFFF00;
const uint32_t BACKGROUND = 0xFF202020;

int fb = -1;
s_bitmap quads, ground;   // 40x20 in four quadrants; 480x270 solid background

void fill(s_bitmap b, uint32_t c)
{
    for (int y = 0; y < b.height; y++)
        for (int x = 0; x < b.width; x++) ORB_DrawPixel(x, y, c, b);
    ORB_UpdateBitmap(b);
}

class VideoDraw : public ::testing::Test {
protected:
    void SetUp() override
    {
        TU_NEED(testgl_open(1280, 720), "no display or GL context (run under Xvfb)");
        if (fb < 0) {
            fb = ORB_InitFramebuffer(480, 270);
            ORB_CreateBitmap(40, 20, &quads);
            for (int y = 0; y < 20; y++)
                for (int x = 0; x < 40; x++)
                    ORB_DrawPixel(x, y, y < 10 ? (x < 20 ? TL : TR) : (x < 20 ? BL : BR), quads);
            ORB_UpdateBitmap(quads);
            ORB_CreateBitmap(480, 270, &ground);
            fill(ground, BACKGROUND);
        }
        ORB_SetFramebuffer(fb);
        ORB_DrawBitmap(0, 0, ground);
    }
    uint32_t at(int x, int y)
    {
        uint32_t p;
        testgl_readfb(x, y, 1, 1, &p);
        return p & 0xFFFFFF;
    }
};

int channel_diff(uint32_t a, uint32_t b)
{
    int m = 0;
    for (int s = 0; s < 24; s += 8) {
        int d = abs((int)((a >> s) & 0xFF) - (int)((b >> s) & 0xFF));
        if (d > m) m = d;
    }
    return m;
}

#define EXPECT_COLOUR(got, want) EXPECT_LE(channel_diff((got), (want)), 2) << std::hex << (got) << " vs " << (want)

TEST_F(VideoDraw, BitmapAtItsOwnSizeWithExactExtent)
{
    ORB_DrawBitmap(10, 20, quads);
    EXPECT_COLOUR(at(15, 25), TL & 0xFFFFFF);
    EXPECT_COLOUR(at(45, 25), TR & 0xFFFFFF);
    EXPECT_COLOUR(at(15, 35), BL & 0xFFFFFF);
    EXPECT_COLOUR(at(45, 35), BR & 0xFFFFFF);
    // Corners inside, the next pixel outside on every side.
    EXPECT_COLOUR(at(10, 20), TL & 0xFFFFFF);
    EXPECT_COLOUR(at(49, 39), BR & 0xFFFFFF);
    EXPECT_EQ(at(9, 20), BACKGROUND & 0xFFFFFF);
    EXPECT_EQ(at(50, 20), BACKGROUND & 0xFFFFFF);
    EXPECT_EQ(at(10, 19), BACKGROUND & 0xFFFFFF);
    EXPECT_EQ(at(10, 40), BACKGROUND & 0xFFFFFF);
}

TEST_F(VideoDraw, ScaledAndZoomedSizes)
{
    ORB_DrawScaledBitmap(100, 50, 80, 40, quads);
    EXPECT_COLOUR(at(100, 50), TL & 0xFFFFFF);
    EXPECT_COLOUR(at(179, 89), BR & 0xFFFFFF);
    EXPECT_COLOUR(at(139, 69), TL & 0xFFFFFF);
    EXPECT_COLOUR(at(141, 71), BR & 0xFFFFFF);
    EXPECT_EQ(at(180, 50), BACKGROUND & 0xFFFFFF);
    EXPECT_EQ(at(100, 90), BACKGROUND & 0xFFFFFF);

    // Zoom 50 of 101x51: 50 x 25 (integer product first, then truncation).
    s_bitmap odd;
    ORB_CreateBitmap(101, 51, &odd);
    fill(odd, 0xFF00FFFF);
    ORB_DrawZoomedBitmap(300, 100, 50, odd);
    EXPECT_COLOUR(at(349, 124), 0x00FFFF);
    EXPECT_EQ(at(350, 100), BACKGROUND & 0xFFFFFF);
    EXPECT_EQ(at(300, 125), BACKGROUND & 0xFFFFFF);

    // Zoom 200 doubles, zoom 0 draws an empty quad that still counts.
    ORB_DrawZoomedBitmap(200, 150, 200, quads);
    EXPECT_COLOUR(at(200, 150), TL & 0xFFFFFF);
    EXPECT_COLOUR(at(279, 189), BR & 0xFFFFFF);
    EXPECT_EQ(at(280, 189), BACKGROUND & 0xFFFFFF);
    int before = ORB_stats_numtriangles;
    ORB_DrawZoomedBitmap(400, 200, 0, quads);
    EXPECT_EQ(ORB_stats_numtriangles, before + 2);
    EXPECT_EQ(at(400, 200), BACKGROUND & 0xFFFFFF);
    ORB_DeleteBitmap(&odd);
}

TEST_F(VideoDraw, BlendModesAndBlendingOffAfterwards)
{
    s_bitmap src, dst;
    ORB_CreateBitmap(20, 20, &src);
    ORB_CreateBitmap(20, 20, &dst);
    fill(src, 0xFF404040);   // 64
    fill(dst, 0xFF808080);   // 128

    // Mode 1: src*src + dst*dst = 64*64/255 + 128*128/255 = 16 + 64.
    ORB_DrawBitmap(10, 10, dst);
    ORB_DrawBlendBitmap(10, 10, src, 1);
    EXPECT_COLOUR(at(20, 20), 0x505050u);
    EXPECT_EQ(ORB_renderstate & 0x4, 0);
    EXPECT_FALSE(glIsEnabled(GL_BLEND));

    // Mode 2: src*src + dst = 16 + 128.
    ORB_DrawBitmap(40, 10, dst);
    ORB_DrawBlendBitmap(40, 10, src, 2);
    EXPECT_COLOUR(at(50, 20), 0x909090u);

    // An unknown mode keeps the previous function (mode 2 here).
    ORB_DrawBitmap(70, 10, dst);
    ORB_DrawBlendBitmap(70, 10, src, 7);
    EXPECT_COLOUR(at(80, 20), 0x909090u);

    // A plain draw afterwards is not blended.
    ORB_DrawBitmap(10, 10, src);
    EXPECT_COLOUR(at(20, 20), 0x404040u);
    ORB_DeleteBitmap(&src);
    ORB_DeleteBitmap(&dst);
}

TEST_F(VideoDraw, RotatedAboutItsCentre)
{
    // 90 degrees in y-down pixels turns clockwise on screen: the 40x20 bitmap at
    // (100, 100) becomes a 20x40 upright shape around its centre (120, 110), its
    // top-left quadrant now at the top right.
    ORB_DrawRotatedBitmap(100, 100, quads, 90);
    EXPECT_COLOUR(at(125, 95), TL & 0xFFFFFF);
    EXPECT_COLOUR(at(125, 125), TR & 0xFFFFFF);
    EXPECT_COLOUR(at(115, 95), BL & 0xFFFFFF);
    EXPECT_COLOUR(at(115, 125), BR & 0xFFFFFF);
    EXPECT_EQ(at(105, 110), BACKGROUND & 0xFFFFFF);   // inside the unrotated rectangle only
    EXPECT_EQ(at(120, 88), BACKGROUND & 0xFFFFFF);

    // 180 degrees: upside down in place.
    ORB_DrawRotatedBitmap(300, 100, quads, 180);
    EXPECT_COLOUR(at(305, 105), BR & 0xFFFFFF);
    EXPECT_COLOUR(at(335, 115), TL & 0xFFFFFF);

    // The next plain quad is not rotated.
    ORB_DrawBitmap(200, 200, quads);
    EXPECT_COLOUR(at(205, 205), TL & 0xFFFFFF);

    if (const char *dir = getenv("VIDEO_DUMP")) {   // to look at the framebuffer
        std::vector<uint32_t> all(480 * 270);
        testgl_readfb(0, 0, 480, 270, all.data());
        testgl_save_ppm((std::string(dir) + "/draw_rotated.ppm").c_str(), 480, 270, all.data());
    }
}

TEST_F(VideoDraw, ClearColorIsStoredInBufferOrder)
{
    s_bitmap b;
    ORB_CreateBitmap(16, 16, &b);
    ORB_ClearColorBitmap(b, (int)0xFF0000FF);
    EXPECT_EQ(b.pixels[0], 0xFF0000FFu);
    EXPECT_EQ(ORB_GetPixel(3, 3, b), 0xFFFF0000u);
    ORB_DrawBitmap(60, 60, b);
    EXPECT_COLOUR(at(68, 68), 0xFF0000u);   // red on screen: bytes R, G, B, A
    ORB_ClearBitmap(b);
    ORB_DrawBitmap(60, 60, b);
    EXPECT_EQ(at(68, 68), 0u);
    ORB_DeleteBitmap(&b);
}

TEST_F(VideoDraw, QuadCullIsStrictAtEveryEdge)
{
    struct { float x, y, w, h; int drawn; } cases[] = {
        { -40, 10, 40, 20, 0 },      // right edge exactly at x = 0
        { -39.75f, 10, 40, 20, 1 },  // overlaps by a quarter pixel
        { 480, 10, 40, 20, 0 },      // starts at the width
        { 479.5f, 10, 40, 20, 1 },
        { 10, -20, 40, 20, 0 },
        { 10, -19.5f, 40, 20, 1 },
        { 10, 270, 40, 20, 0 },
        { 10, 269.9f, 40, 20, 1 },
    };
    ORB_BindTexture(quads.texture);
    for (auto &c : cases) {
        int before = ORB_stats_numtriangles;
        ORB_DrawQuad(c.x, c.y, c.w, c.h, 0, 0, 1, 1);
        EXPECT_EQ(ORB_stats_numtriangles - before, c.drawn ? 2 : 0) << c.x << "," << c.y;
    }
    // A culled quad leaves the projection alone.
    ORB_projectionmode = 1;
    ORB_DrawQuad(-40, 10, 40, 20, 0, 0, 1, 1);
    EXPECT_EQ(ORB_projectionmode, 1);

    // A negative width or height winds the quad clockwise and back-face culling
    // removes it; both negative is a half turn and is drawn.
    ORB_DrawQuad(60, 60, -20, 20, quads.umin, quads.vmin, quads.umax, quads.vmax);
    EXPECT_EQ(at(50, 70), BACKGROUND & 0xFFFFFF);
    ORB_DrawQuad(60, 60, 20, -20, quads.umin, quads.vmin, quads.umax, quads.vmax);
    EXPECT_EQ(at(70, 50), BACKGROUND & 0xFFFFFF);
    ORB_DrawQuad(60, 60, -20, -20, quads.umin, quads.vmin, quads.umax, quads.vmax);
    EXPECT_NE(at(50, 50), BACKGROUND & 0xFFFFFF);
}

TEST_F(VideoDraw, FramebufferDrawnTopRowOnTop)
{
    ORB_DrawBitmap(0, 0, quads);
    int small = ORB_InitFramebuffer(64, 64);
    ASSERT_GE(small, 0);
    ORB_SetFramebuffer(small);
    ORB_DrawFramebuffer(0, 0, 480, 270, fb);   // the big one shrunk 7.5 x 4.2
    uint32_t p;
    testgl_readfb(0, 0, 1, 1, &p);
    EXPECT_COLOUR(p & 0xFFFFFF, TL & 0xFFFFFF);
    testgl_readfb(0, 63, 1, 1, &p);
    EXPECT_COLOUR(p & 0xFFFFFF, BACKGROUND & 0xFFFFFF);
}

} // namespace
