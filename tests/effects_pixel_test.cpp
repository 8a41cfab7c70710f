// The sequence's pixel effects: texture table, Julia fractal and dissolve.
#include <gtest/gtest.h>
#include <string.h>

#include "demo/effects.h"
#include "effects_testutil.h"

static const int W = 480, H = 270;

static void fill(s_bitmap b, uint32_t v)
{
    for (int i = 0; i < b.width * b.height; i++) b.pixels[i] = v;
}

static uint32_t swap_rb(uint32_t c)
{
    return (c & 0xFF00FF00u) | ((c >> 16) & 0xFF) | ((c & 0xFF) << 16);
}

class TextureTab : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitTextureTab(W, H); }
};

TEST_F(TextureTab, TableEntries)
{
    ASSERT_NE(ofstab, nullptr);
    EXPECT_EQ(ofstab[135 * W + 240], 256);          // centre: atan2(0, 0) = 0
    EXPECT_EQ(ofstab[200 * W + 240], 256);          // straight down: angle 0
    EXPECT_EQ(ofstab[135 * W + 300], 256 + 192);    // right: a = 64, 3a = 192
    EXPECT_EQ(ofstab[135 * W + 100], 256 + 64);     // left: a = -64, -192 & 255
    EXPECT_EQ(ofstab[10 * W + 240], 256 + 128);     // up: a = 128, 384 & 255
    for (int i = 0; i < W * H; i++) {
        ASSERT_GE(ofstab[i], 256);                   // every entry on texture row 1
        ASSERT_LE(ofstab[i], 511);
    }
    // Down-right diagonal at 45 degrees: a = 32 -> column 96.
    EXPECT_EQ(ofstab[(135 + 50) * W + 240 + 50], 256 + 96);
}

TEST_F(TextureTab, ShadeZeroIsOpaqueBlackShade255KeepsTheTexelSwapped)
{
    s_bitmap tex = fx_texture();
    s_bitmap t = fx_bitmap(W, H);
    DrawTextureTab(240, 135, 0, 0, 0, tex.pixels, t);
    for (int i = 0; i < W * H; i++) ASSERT_EQ(t.pixels[i], 0xFF000000u);

    // Texel at row 1, column 0 (the centre's entry): bytes scaled by 255/256 and
    // passed on in stored order, so red and blue change places.
    tex.pixels[256] = 0x00FF8040u;
    DrawTextureTab(240, 135, 0, 0, 255, tex.pixels, t);
    EXPECT_EQ(ORB_GetPixel(240, 135, t), 0xFFFE7F3Fu);
    EXPECT_EQ(t.pixels[135 * W + 240], 0xFF3F7FFEu);
    fx_free(&tex);
    fx_free(&t);
}

TEST_F(TextureTab, RotationCarriesIntoTheRowAndShiftMovesRows)
{
    s_bitmap tex = fx_bitmap(256, 256);
    for (int i = 0; i < 65536; i++) tex.pixels[i] = (uint32_t)i;   // texel = its own index
    s_bitmap t = fx_bitmap(W, H);
    // Centre entry 256: rot 5, shift 2 gives (256 - 512 + 5) & 0xFFFF = row 255, column 5.
    DrawTextureTab(0, 0, 5, 2, 0xFF, tex.pixels, t);
    uint32_t i = 65285, expect = (((i & 0xFF00) * 255) >> 8 & 0xFF00) | (((i & 0xFF) * 255) >> 8);
    EXPECT_EQ(ORB_GetPixel(240, 135, t), 0xFF000000u | expect);
    // Right of the centre (entry 448): rot 100 runs past column 255 into row 2.
    DrawTextureTab(0, 0, 100, 0, 0xFF, tex.pixels, t);
    i = 548;
    expect = (((i & 0xFF00) * 255) >> 8 & 0xFF00) | (((i & 0xFF) * 255) >> 8);
    EXPECT_EQ(ORB_GetPixel(300, 135, t), 0xFF000000u | expect);
    fx_free(&tex);
    fx_free(&t);
}

TEST(TextureTabMissing, NoTableNoTextureOrASmallTableDrawNothing)
{
    s_bitmap tex = fx_texture();
    s_bitmap t = fx_bitmap(W, H);
    fill(t, 0x77u);
    InitTextureTab(W, H);
    DrawTextureTab(240, 135, 0, 0, 200, 0, t);
    EXPECT_EQ(t.pixels[0], 0x77u);
    InitTextureTab(100, 100);                       // too small for the 480x270 pass
    DrawTextureTab(240, 135, 0, 0, 200, tex.pixels, t);
    EXPECT_EQ(t.pixels[W * H - 1], 0x77u);
    InitTextureTab(W, H);
    DrawTextureTab(240, 135, 0, 0, 200, tex.pixels, fx_missing(W, H));
    DrawTextureTab(240, 135, 0, 0, 200, tex.pixels, t);
    EXPECT_NE(t.pixels[0], 0x77u);
    // Shift values that would overflow a signed product still address row 1.
    DrawTextureTab(240, 135, 0, 2147483647, 200, tex.pixels, t);
    DrawTextureTab(240, 135, 0, -2147483647 - 1, 200, tex.pixels, t);
    fx_free(&tex);
    fx_free(&t);
}

TEST(Julia, PhasesCoverComplementaryHalves)
{
    s_bitmap t = fx_bitmap(W, H);
    fill(t, 0x11u);
    DrawJulia(3000, 2000, 0, t);
    // Phase 0: odd columns of even rows, even columns of odd rows (and mirrors,
    // which fall into the same half).
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++)
            ASSERT_EQ(t.pixels[y * W + x] != 0x11u, ((x + y) & 1) == 1) << x << "," << y;
    EXPECT_NE(t.pixels[1], 0x11u);                  // column 1 of row 0 is written
    DrawJulia(3000, 2000, 1, t);
    for (int i = 0; i < W * H; i++) ASSERT_NE(t.pixels[i], 0x11u) << i;

    // Phase 1 writes column 0 of row 0; its mirror (W, H) is skipped, and the
    // other half is untouched.
    fill(t, 0x11u);
    DrawJulia(3000, 2000, 7, t);
    EXPECT_NE(t.pixels[0], 0x11u);
    EXPECT_EQ(t.pixels[1], 0x11u);
    fx_free(&t);
}

TEST(Julia, ColoursAndMirrorSymmetry)
{
    s_bitmap t = fx_bitmap(W, H);
    DrawJulia(0, 0, 0, t);
    // Centre: z stays 0 for all 14 steps: grey 112 with blue doubled.
    EXPECT_EQ(ORB_GetPixel(240, 135, t), 0xFF7070E0u);
    // Corner start points lie outside the radius: n = 0, opaque black.
    EXPECT_EQ(ORB_GetPixel(1, 0, t), 0xFF000000u);
    DrawJulia(0, 0, 1, t);
    EXPECT_EQ(ORB_GetPixel(0, 0, t), 0xFF000000u);

    DrawJulia(5000, 7000, 0, t);
    DrawJulia(5000, 7000, 1, t);
    int grey = 0;
    for (int y = 1; y < H; y++)
        for (int x = 1; x < W; x++) {
            uint32_t c = ORB_GetPixel(x, y, t);
            ASSERT_EQ(c, ORB_GetPixel(W - x, H - y, t)) << x << "," << y;
            uint32_t v = (c >> 16) & 0xFF;
            ASSERT_EQ(v % 8, 0u);
            ASSERT_LE(v, 112u);
            ASSERT_EQ(((c >> 8) & 0xFF), v);
            ASSERT_EQ((c & 0xFF), 2 * v);
            grey += v > 0 && v < 112;
        }
    EXPECT_GT(grey, 1000);                           // an actual fractal, not flat
    fx_free(&t);
}

TEST(Julia, ExtremeParametersAndMissingTarget)
{
    s_bitmap t = fx_bitmap(64, 32);
    DrawJulia(2147483647, -2147483647 - 1, 0, t);
    DrawJulia(-2147483647 - 1, 2147483647, 1, t);
    for (int i = 0; i < 64 * 32; i++) ASSERT_EQ(t.pixels[i] >> 24, 0xFFu);
    DrawJulia(0, 0, 0, fx_missing(64, 32));
    fx_free(&t);
}

TEST(Dissolve, MixZeroAnd128)
{
    s_bitmap a = fx_bitmap(W, H), b = fx_bitmap(W, H), t = fx_bitmap(W, H);
    fill(a, 0x000080FFu);                            // stored bytes R FF, G 80, B 00
    fill(b, 0x00FF4010u);
    DissolveBitmap(a, b, t, 0);
    // 255 -> 254, 0x80 -> 0x7F, 0 stays 0; red and blue change places.
    EXPECT_EQ(t.pixels[0], swap_rb(0xFF007FFEu));
    EXPECT_EQ(t.pixels[W * H - 1], swap_rb(0xFF007FFEu));

    DissolveBitmap(a, b, t, 128);
    // Per channel floor(a * 127/256) + floor(b * 128/256).
    uint32_t lo = (0xFF * 127 >> 8) + (0x10 * 128 >> 8);
    uint32_t mid = (0x80 * 127 >> 8) + (0x40 * 128 >> 8);
    uint32_t hi = (0x00 * 127 >> 8) + (0xFF * 128 >> 8);
    EXPECT_EQ(t.pixels[123], swap_rb(0xFF000000u | hi << 16 | mid << 8 | lo));

    DissolveBitmap(a, b, t, 255);                    // b at 255/256
    EXPECT_EQ(t.pixels[5], swap_rb(0xFFFE3F0Fu));
    fx_free(&a);
    fx_free(&b);
    fx_free(&t);
}

TEST(Dissolve, ReadsSourcesAs480WideRows)
{
    // A 512x256 source holds enough words; its rows are taken 480 at a time.
    s_bitmap a = fx_bitmap(512, 256), b = fx_bitmap(512, 256), t = fx_bitmap(W, H);
    for (int i = 0; i < 512 * 256; i++) a.pixels[i] = (uint32_t)i & 0xFF;
    DissolveBitmap(a, b, t, 0);
    EXPECT_EQ(t.pixels[1 * W + 0], swap_rb(0xFF000000u | ((480 & 0xFF) * 255 >> 8)));
    EXPECT_EQ(t.pixels[2 * W + 7], swap_rb(0xFF000000u | (((960 + 7) & 0xFF) * 255 >> 8)));
    fx_free(&a);
    fx_free(&b);
    fx_free(&t);
}

TEST(Dissolve, MissingOrSmallSourcesDrawNothing)
{
    s_bitmap a = fx_bitmap(W, H), small = fx_bitmap(256, 256), t = fx_bitmap(W, H);
    fill(t, 0x99u);
    DissolveBitmap(a, small, t, 10);
    DissolveBitmap(small, a, t, 10);
    DissolveBitmap(fx_missing(W, H), a, t, 10);
    DissolveBitmap(a, fx_missing(W, H), t, 10);
    for (int i = 0; i < W * H; i++) ASSERT_EQ(t.pixels[i], 0x99u);
    DissolveBitmap(a, a, fx_missing(W, H), 10);
    // A smaller target is clipped by the pixel writes.
    s_bitmap st = fx_bitmap(10, 10);
    DissolveBitmap(a, a, st, 0);
    EXPECT_EQ(st.pixels[99], 0xFF000000u);
    fx_free(&a);
    fx_free(&small);
    fx_free(&t);
    fx_free(&st);
}
