// Voxel landscape: height sampling and wrap, ground rows of a flat map, spans and
// their colours, horizon tilt, view-edge angles, the flat variant, the sky, and
// what happens with missing or unusable inputs.
#include <gtest/gtest.h>
#include <string.h>

#include "demo/voxel.h"
#include "effects_testutil.h"

static const int W = 480, H = 270;

// Height bitmap whose low byte (blue in API form) is h(x, y); the other bytes
// are noise that must be ignored.
static s_bitmap heights(int (*h)(int, int))
{
    s_bitmap b = fx_bitmap(256, 256);
    for (int y = 0; y < 256; y++)
        for (int x = 0; x < 256; x++)
            ORB_DrawPixel(x, y, 0xFFA55A00u | (uint32_t)h(x, y), b);
    return b;
}
static int flat(int, int) { return 0; }
static int slope(int x, int y) { return (x * 7 + y * 13) & 255; }

static s_bitmap solid(int w, int h, uint32_t c)
{
    s_bitmap b = fx_bitmap(w, h);
    for (int i = 0; i < w * h; i++) b.pixels[i] = c;
    return b;
}

static s_camera start_camera(void)
{
    s_camera c;
    memset(&c, 0, sizeof c);
    c.x = 0x600000;
    c.y = 0x380000;
    c.height = 48;
    c.angle = 32;
    c.fov = 48;
    c.speed = 128;
    c.reserved = 2;
    c.z = 128;
    c.roll = 0;
    return c;
}

static void reset_columns(int h, int colour)
{
    for (int i = 0; i < VOXEL_MAXWIDTH; i++) {
        lasty[i] = h;
        lastcr[i] = lastcg[i] = lastcb[i] = colour;
    }
}

class Voxel : public ::testing::Test {
protected:
    void SetUp() override
    {
        hm = heights(flat);
        colours = solid(256, 256, 0xFF30A0C0u);
        sky = fx_texture();
        bg = solid(W, H, 0xFF102030u);
        target = fx_bitmap(W, H);
        initvoxel(hm, colours, sky);
    }
    void TearDown() override
    {
        fx_free(&hm);
        fx_free(&colours);
        fx_free(&sky);
        fx_free(&bg);
        fx_free(&target);
    }
    s_bitmap hm, colours, sky, bg, target;
};

TEST_F(Voxel, AngleTables)
{
    EXPECT_EQ(scape_sintab[0], 0);
    EXPECT_EQ(scape_sintab[64], 65535);
    EXPECT_EQ(scape_sintab[192], -65535);
    EXPECT_EQ(scape_costab[0], 65535);
    EXPECT_EQ(scape_costab[128], -65535);
    for (int i = 0; i < 256; i++) {
        ASSERT_EQ(scape_sintab[i], sin64tab[i]);
        ASSERT_EQ(scape_costab[i], cos64tab[i]);
        ASSERT_EQ(sin64tab[i], cos64tab[(i + 192) & 255]) << i;
    }
}

TEST_F(Voxel, FlatMapGroundRows)
{
    s_camera cam = start_camera();
    calccamera(&cam);
    EXPECT_EQ(cam.z, 207);
    // Line by line: the ground at distance d lies 48 * (25600 / (d + 1)) >> 11
    // rows below the horizon row 135.
    for (int d = 0; d <= 99; d += (d >> 6) + 1) {
        reset_columns(H - 1, -1);
        voxelline(cam.x, cam.y, cam.x + 1000 * d, cam.y, cam.z, 25600 / (d + 1), 0, target);
        int row = 135 + ((48 * (25600 / (d + 1))) >> 11);
        int expect = row < H - 1 ? row : H - 1;
        ASSERT_EQ(lasty[0], expect) << d;
        ASSERT_EQ(lasty[W - 1], expect) << d;
    }
    // The whole pass: background above the farthest line (d = 98, 6 rows down).
    drawvoxel(&cam, bg, target);
    for (int i = 0; i < W; i++) ASSERT_EQ(lasty[i], 141) << i;
    EXPECT_EQ(target.pixels[141 * W + 7], bg.pixels[141 * W + 7]);
    EXPECT_EQ(target.pixels[142 * W + 7], 0xFF30A0C0u);
    EXPECT_EQ(target.pixels[269 * W + 479], 0xFF30A0C0u);
    EXPECT_EQ(target.pixels[0], bg.pixels[0]);
}

TEST_F(Voxel, HeightSamplingWrapsAndInterpolates)
{
    s_bitmap sl = heights(slope);
    initvoxel(sl, colours, sky);
    s_camera a = start_camera();
    calccamera(&a);
    EXPECT_EQ(a.z, 255 - 4 * slope(96, 56) - 48);
    // Positions past 255.0, and negative ones, select the same cell.
    const int32_t offsets[] = {0x1000000, 0x3000000, -0x1000000, -0x7000000};
    for (int32_t off : offsets) {
        s_camera b = start_camera();
        b.x += off;
        b.y -= off;
        calccamera(&b);
        EXPECT_EQ(b.z, a.z) << off;
    }
    // Half way between columns 95 and 96: the mean of the two heights.
    s_camera h = start_camera();
    h.x = 0x5F8000;
    calccamera(&h);
    EXPECT_EQ(255 - h.z - 48, 2 * (slope(95, 56) + slope(96, 56)));
    // At the map's right edge the neighbour is column 0.
    h.x = 0xFF8000;
    calccamera(&h);
    EXPECT_EQ(255 - h.z - 48, 2 * (slope(255, 56) + slope(0, 56)));
    // And below the last row comes row 0.
    h.x = 0x100000;
    h.y = 0xFF8000;
    calccamera(&h);
    EXPECT_EQ(255 - h.z - 48, 2 * (slope(16, 255) + slope(16, 0)));
    fx_free(&sl);
}

TEST_F(Voxel, HiddenSamplePassesItsColourOn)
{
    s_bitmap t = fx_bitmap(8, 20);
    reset_columns(10, -1);
    lastcr[0] = 0x100000;
    s_bitmap a = solid(256, 256, 0x00402010u);
    s_bitmap b = solid(256, 256, 0x00C0A080u);
    voxel_colorbmp = a;
    // Eye level 255 on flat ground: row = horizon row 10, not above lasty 10.
    voxelline(0, 0, 0, 0, 255, 2048, 0, t);
    for (int i = 0; i < 8 * 20; i++) ASSERT_EQ(t.pixels[i], 0u);
    EXPECT_EQ(lasty[0], 10);
    EXPECT_EQ(lastcr[0], 0x400000);
    EXPECT_EQ(lastcg[0], 0x200000);
    EXPECT_EQ(lastcb[0], 0x100000);
    // The next, higher sample draws rows 10 down to 3, starting from the hidden
    // sample's colour and stepping toward its own in 8 steps.
    voxel_colorbmp = b;
    voxelline(0, 0, 0, 0, 255 + 8, 2048, 0, t);
    EXPECT_EQ(lasty[0], 2);
    EXPECT_EQ(t.pixels[10 * 8], 0xFF402010u);
    int dR = (0xC00000 - 0x400000) / 8;
    int dG = (0xA00000 - 0x200000) / 8;
    int dB = (0x800000 - 0x100000) / 8;
    for (int k = 0; k < 8; k++) {
        uint32_t c = (((uint32_t)(0x400000 + k * dR)) & 0xFF0000) +
                     (((uint32_t)(0x200000 + k * dG) & 0xFF0000) >> 8) +
                     (((uint32_t)(0x100000 + k * dB) & 0xFF0000) >> 16);
        EXPECT_EQ(t.pixels[(10 - k) * 8], c | 0xFF000000u) << k;
    }
    EXPECT_EQ(t.pixels[2 * 8], 0u);         // the sample's own row is left for the next
    fx_free(&a);
    fx_free(&b);
    fx_free(&t);
}

TEST_F(Voxel, FirstSpanOfAColumnIsFlat)
{
    reset_columns(H - 1, -1);
    voxelline(0, 0, 0, 0, 255 + 40, 2048, 0, target);   // row 135 - 40 = 95
    EXPECT_EQ(lasty[100], 95);
    for (int y = 96; y < H; y++) ASSERT_EQ(target.pixels[y * W + 100], 0xFF30A0C0u) << y;
    EXPECT_EQ(target.pixels[95 * W + 100], 0u);
    // Top clip: a sample above the screen fills up to row 1 and leaves lasty 0.
    voxelline(0, 0, 0, 0, 255 + 400, 2048, 0, target);
    EXPECT_EQ(lasty[100], 0);
    EXPECT_EQ(target.pixels[1 * W + 100], 0xFF30A0C0u);
    EXPECT_EQ(target.pixels[0 * W + 100], 0u);
}

TEST_F(Voxel, RollTiltsTheHorizon)
{
    reset_columns(H - 1, -1);
    voxelline(0, 0, 0, 0, 255, 1000, 10, target);       // samples at eye level
    EXPECT_EQ(lasty[0], 145);
    EXPECT_EQ(lasty[240], 135);
    EXPECT_EQ(lasty[479], 125);
    reset_columns(H - 1, -1);
    voxelline(0, 0, 0, 0, 255, 1000, -31, target);
    EXPECT_EQ(lasty[0], 104);
    EXPECT_GT(lasty[479], 160);
}

TEST_F(Voxel, ViewEdgesWrapTheirAngles)
{
    // angle 250, fov 48: left edge 202, right edge 42. The pass must equal the
    // background copy plus lines between those two edge directions.
    s_bitmap sl = heights(slope);
    s_bitmap cm = fx_texture();
    initvoxel(sl, cm, sky);
    s_camera cam = start_camera();
    cam.angle = 250;
    cam.roll = 7;
    calccamera(&cam);
    drawvoxel(&cam, bg, target);

    s_bitmap manual = fx_bitmap(W, H);
    reset_columns(H - 1, -1);
    memcpy(manual.pixels, bg.pixels, (size_t)W * H * 4);
    int lines = 0;
    for (int d = 0; d <= 99; d += (d >> 6) + 1, lines++)
        voxelline(cam.x + cos64tab[202] * d, cam.y + sin64tab[202] * d, cam.x + cos64tab[42] * d,
                  cam.y + sin64tab[42] * d, cam.z, 25600 / (d + 1), cam.roll, manual);
    EXPECT_EQ(lines, 82);
    EXPECT_EQ(memcmp(manual.pixels, target.pixels, (size_t)W * H * 4), 0);
    fx_free(&manual);
    fx_free(&sl);
    fx_free(&cm);
}

TEST_F(Voxel, FastVariantAndSky)
{
    s_camera cam = start_camera();
    calccamera(&cam);
    for (int i = 0; i < W * H; i++) target.pixels[i] = 0x01020304u;
    drawvoxel_fast(&cam, target);
    // 134 lines out to d = 254 (scale 100): the farthest ground is 2 rows down.
    for (int i = 0; i < W; i++) ASSERT_EQ(lasty[i], 137) << i;
    EXPECT_EQ(target.pixels[137 * W + 3], 0x01020304u);    // no background copied
    EXPECT_EQ(target.pixels[138 * W + 3], 0xFF30A0C0u);    // flat span of the cell's texel

    // Sky: column offset 4 x angle, first row 32 - roll.
    drawsky(&cam, target);
    for (int i = 0; i < W; i += 37)
        for (int j = 0; j <= 137; j += 17)
            ASSERT_EQ(target.pixels[j * W + i], sky.pixels[(32 + j) * 256 + ((128 + i) & 255)]);
    EXPECT_EQ(target.pixels[138 * W + 3], 0xFF30A0C0u);
}

TEST_F(Voxel, SkyRowsOutsideTheMapRepeatItsEdgeRows)
{
    s_bitmap small = fx_texture();
    small.height = 40;                      // 40 rows of 256: far fewer than 32 + roll + 270
    initvoxel(hm, colours, small);
    s_camera cam = start_camera();
    for (int roll = -300; roll <= 300; roll += 150) {
        cam.roll = roll;
        calccamera(&cam);
        reset_columns(H - 1, -1);
        drawsky(&cam, target);
        for (int i = 0; i < W; i += 50) {
            int64_t p = (32 - (int64_t)roll) * 65536 + (int64_t)i * (((int64_t)roll * 65536) / 240);
            for (int j = 0; j < H; j += 30) {
                int64_t r = (p >> 16) + j;
                r = r < 0 ? 0 : (r > 39 ? 39 : r);
                ASSERT_EQ(target.pixels[j * W + i], small.pixels[r * 256 + ((128 + i) & 255)])
                    << roll << " " << i << " " << j;
            }
        }
    }
    s_bitmap none = fx_missing(256, 256);
    initvoxel(hm, colours, none);
    memset(target.pixels, 0, (size_t)W * H * 4);
    drawsky(&cam, target);
    EXPECT_EQ(target.pixels[0], 0u);
}

TEST_F(Voxel, MissingOrUnusableInputs)
{
    s_camera cam = start_camera();
    // Height bitmap without pixels reads as flat ground.
    s_bitmap nohm = fx_missing(256, 256);
    initvoxel(nohm, colours, sky);
    calccamera(&cam);
    EXPECT_EQ(cam.z, 207);

    // Colour map missing or too small: the background alone.
    const s_bitmap bad[] = {fx_missing(256, 256), fx_bitmap(128, 128)};
    for (s_bitmap cmap : bad) {
        initvoxel(hm, cmap, sky);
        memset(target.pixels, 0, (size_t)W * H * 4);
        drawvoxel(&cam, bg, target);
        EXPECT_EQ(memcmp(target.pixels, bg.pixels, (size_t)W * H * 4), 0);
        drawvoxel_fast(&cam, target);
        EXPECT_EQ(memcmp(target.pixels, bg.pixels, (size_t)W * H * 4), 0);
    }
    free(bad[1].pixels);
    initvoxel(hm, colours, sky);

    // A background missing: the copy writes transparent black.
    s_bitmap nobg = fx_missing(W, H);
    drawvoxel(&cam, nobg, target);
    EXPECT_EQ(target.pixels[0], 0u);

    // Width 1: nothing but the copy, no division by zero.
    s_bitmap one = fx_bitmap(1, 50);
    drawvoxel(&cam, bg, one);
    EXPECT_EQ(one.pixels[49], 0xFF102030u);
    drawvoxel_fast(&cam, one);
    drawsky(&cam, one);
    fx_free(&one);

    // Wider than the column buffers: the landscape covers 1024 columns, the rest
    // keeps the background.
    s_bitmap wide = fx_bitmap(1500, 100);
    s_bitmap widebg = solid(1500, 100, 0xFF0000FFu);
    drawvoxel(&cam, widebg, wide);
    EXPECT_EQ(wide.pixels[99 * 1500 + 1023], 0xFF30A0C0u);
    EXPECT_EQ(wide.pixels[99 * 1500 + 1024], 0xFF0000FFu);
    drawsky(&cam, wide);
    EXPECT_EQ(wide.pixels[99 * 1500 + 1499], 0xFF0000FFu);
    fx_free(&wide);
    fx_free(&widebg);

    // An absurd eye height saturates the eye level instead of overflowing it.
    s_camera deep = start_camera();
    deep.height = -2147483647 - 1;
    calccamera(&deep);
    EXPECT_EQ(deep.z, 2147483647);

    // Extreme roll and eye level: no overflow, lasty stays on the screen.
    reset_columns(H - 1, -1);
    voxelline(0, 0, 0, 0, -2147483647, 25600, 2000000000, target);
    voxelline(0, 0, 0, 0, 2147483647, 25600, -2000000000, target);
    for (int i = 0; i < W; i++) {
        ASSERT_GE(lasty[i], 0);
        ASSERT_LE(lasty[i], H - 1);
    }
}
