// Free-direction renderer: worked corners of the tunnel and plane, turn and flight
// steps, shading, texel indexing, block interpolation and clipping, and the
// behaviour with missing or unusable inputs.
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include "demo/freedir.h"
#include "effects_testutil.h"

static const int W = 480, H = 270, GW = 61;

static s_freedir make_fd(uint32_t *tex, int type, float x, float y, float z, int focal)
{
    s_freedir fd;
    memset(&fd, 0, sizeof fd);
    fd.texture = tex;
    fd.type = (uint8_t)type;
    fd.x = x;
    fd.y = y;
    fd.z = z;
    fd.focal = focal;
    fd.angle = 0;
    fd.speed = 5.0f;
    fd.rotate = 1;
    return fd;
}

// Texture whose texels all differ and keep differing after shading by s/256 for
// s near 256: the texel index is spread over the three colour bytes.
static s_bitmap index_texture(void)
{
    s_bitmap t = fx_bitmap(256, 256);
    for (uint32_t i = 0; i < 65536; i++) {
        uint32_t h = i * 2654435761u;
        t.pixels[i] = 0xFF000000u | (h >> 8);
    }
    return t;
}

// The shaded pixel a block corner must show.
static uint32_t shade(uint32_t texel, int s)
{
    if (s < 0) s = 0;
    uint32_t r = (((texel >> 16) & 0xFF) * (uint32_t)s) >> 8;
    uint32_t g = (((texel >> 8) & 0xFF) * (uint32_t)s) >> 8;
    uint32_t b = ((texel & 0xFF) * (uint32_t)s) >> 8;
    return 0xFF000000u | (r << 16) | (g << 8) | b;
}

class FreeDir : public ::testing::Test {
protected:
    void SetUp() override
    {
        FD_Initialise(W, H);
        tex = fx_texture();
        target = fx_bitmap(W, H);
    }
    void TearDown() override
    {
        fx_free(&tex);
        fx_free(&target);
    }
    s_bitmap tex, target;
};

TEST_F(FreeDir, RenderBeforeInitialiseDoesNothing)
{
    free_inited = 0;                        // as before the first FD_Initialise
    s_freedir fd = make_fd(tex.pixels, FD_TUNNEL, 0, 60, -10, 60);
    s_freedir before = fd;
    memset(target.pixels, 0x5A, (size_t)W * H * 4);
    FD_Render(&fd, target, 255);
    EXPECT_EQ(memcmp(&fd, &before, sizeof fd), 0);
    for (int i = 0; i < W * H; i++) ASSERT_EQ(target.pixels[i], 0x5A5A5A5Au);
    FD_Initialise(W, H);
    EXPECT_EQ(free_inited, 1);
}

TEST_F(FreeDir, TablesMatrixAndVectorHelpers)
{
    EXPECT_EQ(FD_sintab[0], 0.0f);
    EXPECT_EQ(FD_costab[0], 1.0f);
    EXPECT_EQ(FD_sintab[256], 1.0f);
    EXPECT_NEAR(FD_costab[512], -1.0f, 1e-7);

    FD_createrotationmatrix(0, 0, 0);
    const float id[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    for (int i = 0; i < 9; i++) EXPECT_EQ(rotmatrix[i], id[i]) << i;

    // A quarter turn about z takes x to y and y to -x.
    FD_createrotationmatrix(0, 0, 256);
    s_fdvector v = {1, 0, 0}, out;
    FD_transformvector(&v, &out);
    EXPECT_NEAR(out.x, 0, 1e-6);
    EXPECT_NEAR(out.y, 1, 1e-6);
    v = {0, 1, 0};
    FD_transformvector(&v, &out);
    EXPECT_NEAR(out.x, -1, 1e-6);
    EXPECT_NEAR(out.y, 0, 1e-6);
    // A quarter turn about y takes z to x.
    FD_createrotationmatrix(0, 256, 0);
    v = {0, 0, 1};
    FD_transformvector(&v, &out);
    EXPECT_NEAR(out.x, 1, 1e-6);
    EXPECT_NEAR(out.z, 0, 1e-6);

    s_fdvector n = {3, 4, 12};
    FD_normalizevector(&n);
    EXPECT_FLOAT_EQ(n.x, 3.0f / 13);
    EXPECT_FLOAT_EQ(n.y, 4.0f / 13);
    EXPECT_FLOAT_EQ(n.z, 12.0f / 13);
    s_fdvector zero = {0, 0, 0};
    FD_normalizevector(&zero);              // no length: left as it is, not NaN
    EXPECT_EQ(zero.x, 0.0f);
    EXPECT_EQ(zero.z, 0.0f);

    EXPECT_EQ(FD_min(1, 2), 1);
    EXPECT_EQ(FD_min(2, 1), 1);
    EXPECT_TRUE(signbit(FD_min(0.0f, -0.0f)));   // ties give b
    EXPECT_TRUE(isnan(FD_min(1.0f, NAN)));       // unordered gives b
    EXPECT_EQ(FD_min(NAN, 1.0f), 1.0f);
    EXPECT_EQ(FD_checkme(-1, 5), 0);
    EXPECT_EQ(FD_checkme(7, 5), 5);
    EXPECT_EQ(FD_checkme(3, 5), 3);
    EXPECT_EQ(FD_bound(7, 5), 5);
    EXPECT_EQ(FD_bound(-7, 5), -7);
}

TEST_F(FreeDir, TunnelCornerOfTheFirstRender)
{
    s_freedir fd = make_fd(tex.pixels, FD_TUNNEL, 0, 60, -10, 60);
    FD_Render(&fd, target, 255);
    int e = 10 * GW + 45;                   // gx 45, gy 10: ray (120, -55, 60)
    EXPECT_EQ(tempu[e], 20);
    EXPECT_EQ(tempv[e], 185);
    EXPECT_EQ(tempz[e], 16);
    // The corner pixel is that texel shaded by 255 - 16.
    uint32_t texel = tex.pixels[(20 + 185 * 256) & 0xFFFF];
    EXPECT_EQ(target.pixels[80 * W + 360], shade(texel, 255 - 16));
}

TEST_F(FreeDir, PlaneCornerOfTheFirstRender)
{
    s_freedir fd = make_fd(tex.pixels, FD_PLANE, 0, 0, -10, 120);
    FD_Render(&fd, target, 255);
    int e = 30 * GW + 40;                   // ray (80, 105, 120) meets the floor y = 135
    EXPECT_EQ(tempu[e], 57);
    EXPECT_EQ(tempv[e], 41);
    EXPECT_EQ(tempz[e], 61);
    // Mirror ray going up (gy 4: y -103) meets the ceiling at the same distance
    // rule: its row comes from |x| and is never negative.
    for (int gx = 0; gx < GW; gx++) {
        EXPECT_GE(tempv[4 * GW + gx], 0);
        EXPECT_GE(tempu[4 * GW + gx], 0);
    }
}

TEST_F(FreeDir, TurnStepsAndWraps)
{
    s_freedir fd = make_fd(tex.pixels, FD_PLANE, 0, 0, -10, 120);
    FD_Render(&fd, target, 255);
    EXPECT_EQ(fd.angle, 2);                 // speed 5.0: (int)5 / 2
    fd.angle = 1022;
    FD_Render(&fd, target, 255);
    EXPECT_EQ(fd.angle, 0);
    fd.speed = 1.9f;                        // (int)1.9 / 2 = 0
    fd.angle = 17;
    FD_Render(&fd, target, 255);
    EXPECT_EQ(fd.angle, 17);
    fd.speed = 5.0f;
    fd.rotate = 0;
    FD_Render(&fd, target, 255);
    EXPECT_EQ(fd.angle, 17);

    // Outside the designed range: a negative speed wraps below zero, an enormous
    // or broken one still leaves a valid angle.
    fd.rotate = 1;
    fd.angle = 0;
    fd.speed = -5.0f;
    FD_Render(&fd, target, 255);
    EXPECT_EQ(fd.angle, 1022);
    const float odd[] = {1e30f, -1e30f, INFINITY, -INFINITY, NAN, 4096.0f};
    for (float s : odd) {
        fd.speed = s;
        fd.z = -10;
        FD_Render(&fd, target, 255);
        EXPECT_GE(fd.angle, 0) << s;
        EXPECT_LE(fd.angle, 1023) << s;
    }
    fd.speed = 5;
    fd.angle = 5000;                        // corrupted: the matrix still reads the tables
    FD_Render(&fd, target, 255);
    EXPECT_GE(fd.angle, 0);
    EXPECT_LE(fd.angle, 1023);
}

TEST_F(FreeDir, FlightStepByType)
{
    s_freedir t = make_fd(tex.pixels, FD_TUNNEL, 0, 60, -10, 60);
    s_freedir p = make_fd(tex.pixels, FD_PLANE, 0, 0, -10, 120);
    s_freedir s = make_fd(tex.pixels, FD_SPHERE, 0, 0, -10, 20);
    t.speed = 4.75f;
    FD_Render(&t, target, 255);
    FD_Render(&p, target, 255);
    FD_Render(&s, target, 255);
    EXPECT_EQ(t.z, -10 + 4.75f);
    EXPECT_EQ(p.z, -5.0f);
    EXPECT_EQ(s.z, -10.0f);
    EXPECT_EQ(s.angle, 2);                  // the sphere still turns
    EXPECT_EQ(t.x, 0.0f);
    EXPECT_EQ(t.y, 60.0f);
}

TEST_F(FreeDir, BrightnessZeroBlacksTunnelAndPlaneButNotSphere)
{
    for (int type = 0; type < 2; type++) {
        s_freedir fd = make_fd(tex.pixels, type, 0, type ? 0 : 60, -10, type ? 120 : 60);
        FD_Render(&fd, target, 0);
        for (int i = 0; i < W * H; i++) ASSERT_EQ(target.pixels[i], 0xFF000000u) << type << " " << i;
    }
    s_freedir a = make_fd(tex.pixels, FD_SPHERE, 0, 0, -10, 20);
    s_freedir b = a;
    s_bitmap other = fx_bitmap(W, H);
    FD_Render(&a, target, 0);
    FD_Render(&b, other, 255);
    EXPECT_EQ(memcmp(target.pixels, other.pixels, (size_t)W * H * 4), 0);
    // Sphere pixels are texels with full alpha; depth is not used.
    int e = 17 * GW + 30;
    EXPECT_EQ(tempz[e], 0);
    EXPECT_EQ(target.pixels[136 * W + 240],
              tex.pixels[(tempu[e] + tempv[e] * 256) & 0xFFFF] | 0xFF000000u);
    fx_free(&other);
}

TEST_F(FreeDir, MissedCylinderHitsTheOriginAtFullBrightness)
{
    // From far outside the tunnel, rays that miss it have a negative discriminant:
    // the hit is the origin, depth 0.
    s_freedir fd = make_fd(tex.pixels, FD_TUNNEL, 0, 1000, -10, 60);
    FD_Render(&fd, target, 200);
    int e = 17 * GW + 0;                    // ray (-240, 1, 60)
    EXPECT_EQ(tempz[e], 0);
    EXPECT_EQ(tempu[e], 4);                 // |oz| * 0.4
    EXPECT_EQ(tempv[e], 128);               // atan2(1000, 0) = pi/2
    EXPECT_EQ(target.pixels[136 * W + 0], shade(tex.pixels[4 + 128 * 256], 200));
}

TEST_F(FreeDir, TexelIndexRunsPastColumn255IntoTheNextRow)
{
    s_bitmap it = index_texture();
    s_freedir fd = make_fd(it.pixels, FD_PLANE, 0, 0, 400, 120);
    FD_Render(&fd, target, 256);
    int checked = 0;
    for (int gy = 0; gy < 34; gy++)
        for (int gx = 0; gx < 60; gx++) {
            int e = gy * GW + gx;
            if (tempu[e] <= 255) continue;
            // Column u past 255 with row v reads texel u + 256 v: column u - 256
            // of row v + 1 (u = 300, v = 4 reads column 44 of row 5).
            uint32_t expect = shade(it.pixels[(tempu[e] + tempv[e] * 256) & 0xFFFF], 256 - tempz[e]);
            uint32_t masked = shade(it.pixels[(tempu[e] & 255) + (tempv[e] & 255) * 256], 256 - tempz[e]);
            ASSERT_EQ(target.pixels[gy * 8 * W + gx * 8], expect) << gx << "," << gy;
            if (expect != masked) checked++;
        }
    EXPECT_GT(checked, 100);
    fx_free(&it);
}

TEST_F(FreeDir, CutBlockRowInterpolatesTowardTheLastGridRow)
{
    // Buffer two rows taller than the target: rows 270 and 271 must stay untouched.
    s_bitmap big = fx_bitmap(W, H + 2);
    for (int i = 0; i < W * (H + 2); i++) big.pixels[i] = 0x12345678u;
    s_bitmap t = big;
    t.height = H;
    s_freedir fd = make_fd(tex.pixels, FD_TUNNEL, 0, 60, -10, 60);
    FD_Render(&fd, t, 255);
    for (int i = W * H; i < W * (H + 2); i++) ASSERT_EQ(big.pixels[i], 0x12345678u);
    for (int i = 0; i < W * H; i++) ASSERT_NE(big.pixels[i], 0x12345678u);

    // Row 269 is row 5 of the block starting at 264, between grid rows 33 and 34.
    for (int gx = 0; gx < 60; gx++) {
        int e = 33 * GW + gx, e2 = 34 * GW + gx;
        int u = (tempu[e] * 8 + 5 * (tempu[e2] - tempu[e])) >> 3;
        int v = (tempv[e] * 8 + 5 * (tempv[e2] - tempv[e])) >> 3;
        int z = (tempz[e] * 8 + 5 * (tempz[e2] - tempz[e])) >> 3;
        ASSERT_EQ(big.pixels[269 * W + gx * 8], shade(tex.pixels[(u + v * 256) & 0xFFFF], 255 - z))
            << gx;
    }
    fx_free(&big);
}

TEST_F(FreeDir, InterpolationAcrossABlock)
{
    s_freedir fd = make_fd(tex.pixels, FD_TUNNEL, 0, 60, -10, 60);
    FD_Render(&fd, target, 255);
    // Pixel (3, 2) of block (gx 20, gy 12): edges by rows, then 6-bit pixel steps.
    int e = 12 * GW + 20;
    int r = 2, c = 3;
    auto interp = [&](const int *g) {
        int L = g[e] * 8 + r * (g[e + GW] - g[e]);
        int R = g[e + 1] * 8 + r * (g[e + GW + 1] - g[e + 1]);
        return (L * 8 + c * (R - L)) >> 6;
    };
    int u = interp(tempu), v = interp(tempv), z = interp(tempz);
    EXPECT_EQ(target.pixels[(12 * 8 + r) * W + 20 * 8 + c],
              shade(tex.pixels[(u + v * 256) & 0xFFFF], 255 - z));
}

TEST_F(FreeDir, MissingTextureRendersBlackAndStillFlies)
{
    memset(target.pixels, 0x33, (size_t)W * H * 4);
    s_freedir fd = make_fd(0, FD_TUNNEL, 0, 60, -10, 60);
    FD_Render(&fd, target, 255);
    for (int i = 0; i < W * H; i++) ASSERT_EQ(target.pixels[i], 0xFF000000u);
    EXPECT_EQ(fd.z, -5.0f);
    EXPECT_EQ(fd.angle, 2);

    s_freedir sphere = make_fd(0, FD_SPHERE, 0, 0, -10, 20);   // the sequence's sphere
    FD_Render(&sphere, target, 255);
    EXPECT_EQ(target.pixels[1234], 0xFF000000u);

    s_bitmap none = fx_missing(W, H);       // a target without pixels: nothing, no crash
    FD_Render(&fd, none, 255);
    EXPECT_EQ(fd.z, 0.0f);
}

TEST_F(FreeDir, TargetsThatDoNotFitTheGridOrTheBlocks)
{
    // A width that is not a multiple of 8: the last block is cut at the edge
    // instead of spilling into the next row and past the buffer.
    s_bitmap odd = fx_bitmap(100, 60);
    uint32_t *guard = (uint32_t *)calloc(100 * 60 + 64, 4);
    for (int i = 0; i < 100 * 60 + 64; i++) guard[i] = 0xDEADBEEFu;
    s_bitmap t = odd;
    t.pixels = guard;
    s_freedir fd = make_fd(tex.pixels, FD_PLANE, 0, 0, -10, 120);
    s_freedir fd2 = fd;
    FD_Render(&fd, t, 255);
    for (int i = 100 * 60; i < 100 * 60 + 64; i++) ASSERT_EQ(guard[i], 0xDEADBEEFu);
    // Column 0 of each row belongs to the first block of that row.
    FD_Render(&fd2, odd, 255);
    for (int i = 0; i < 100 * 60; i++) ASSERT_EQ(guard[i], odd.pixels[i]) << i;
    free(guard);
    fx_free(&odd);

    // A target larger than the grids allocated: nothing is drawn.
    FD_Initialise(16, 16);
    memset(target.pixels, 0x44, (size_t)W * H * 4);
    s_freedir fd3 = make_fd(tex.pixels, FD_TUNNEL, 0, 60, -10, 60);
    FD_Render(&fd3, target, 255);
    for (int i = 0; i < W * H; i++) ASSERT_EQ(target.pixels[i], 0x44444444u);
    EXPECT_EQ(fd3.z, -5.0f);
    FD_Initialise(W, H);

    s_freedir bad = make_fd(tex.pixels, 7, 0, 0, -10, 60);      // unknown type
    FD_Render(&bad, target, 255);
    EXPECT_EQ(target.pixels[0], 0x44444444u);
}

TEST_F(FreeDir, DegenerateRaysStayDefined)
{
    // With H = 272 the centre corner looks straight down the axis: the tunnel's
    // quadratic has a = b = 0 (no hit), the plane's ray runs parallel to the floor
    // (infinite distance). Both must give masked coordinates and a depth in 0..255.
    s_bitmap t = fx_bitmap(W, 272);
    const int gw = 61, e = 17 * gw + 30;
    s_freedir tun = make_fd(tex.pixels, FD_TUNNEL, 0, 60, -10, 60);
    FD_Render(&tun, t, 255);
    EXPECT_EQ(tempz[e], 255);
    EXPECT_GE(tempu[e], 0);
    s_freedir pl = make_fd(tex.pixels, FD_PLANE, 0, 0, -10, 120);
    FD_Render(&pl, t, 255);
    EXPECT_EQ(tempz[e], 255);
    EXPECT_GE(tempu[e], 0);
    EXPECT_GE(tempv[e], 0);
    // Focal 0 at the centre corner: a zero-length ray.
    s_freedir zf = make_fd(tex.pixels, FD_SPHERE, 0, 0, -10, 0);
    FD_Render(&zf, t, 255);
    EXPECT_EQ(t.pixels[136 * W + 240] >> 24, 0xFFu);
    // Far along the flight the coordinates pass the int range.
    s_freedir far = make_fd(tex.pixels, FD_PLANE, 0, 0, 1e12f, 120);
    FD_Render(&far, t, 255);
    for (int i = 0; i < 35 * gw; i++) {
        ASSERT_GE(tempu[i], 0);
        ASSERT_GE(tempz[i], 0);
        ASSERT_LE(tempz[i], 255);
    }
    fx_free(&t);
}
