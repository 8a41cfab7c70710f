// Sprite-drawn effects read back from GL (run under Xvfb): where particles and
// vector balls land on screen, which sprite each uses, and what is not drawn.
#include <gtest/gtest.h>
#include <GL/glew.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "demo/effects.h"
#include "demo/main.h"
#include "demo/vector.h"
#include "engine/sprite.h"
#include "testutil_gl.h"
#include "tests/testutil_os.h"

static const int SW = 320, SH = 240;
static const uint32_t COL[8] = {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFFFFFF00u,
                                0xFF00FFFFu, 0xFFFF00FFu, 0xFFFFFFFFu, 0xFF808000u};

// Solid 3x3 blocks of the eight colours side by side; a sprite taken from a
// block's inside shows its colour even with filtering.
static s_bitmap sheet;

static void make_sprites(void)
{
    static int done = 0;
    if (done) return;
    done = 1;
    ORB_CreateBitmap(24, 3, &sheet);
    for (int y = 0; y < 3; y++)
        for (int x = 0; x < 24; x++) ORB_DrawPixel(x, y, COL[x / 3], sheet);
    ORB_UpdateBitmap(sheet);
    for (int i = 0; i < 3; i++) ORB_GetSprite(3 * i + 1, 1, 1, 1, sheet, &spr_particle[i]);
    for (int i = 0; i < 8; i++) ORB_GetSprite(3 * i + 1, 1, 1, 1, sheet, &spr_square[i]);
}

static void clear_black(void)
{
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
}

static std::vector<uint32_t> screen(void)
{
    std::vector<uint32_t> v((size_t)SW * SH);
    testgl_readfb(0, 0, SW, SH, v.data());
    for (uint32_t &c : v) c |= 0xFF000000u;
    return v;
}

// With MIRADOR_GOLDEN_PNG=<folder>, keep a picture of the screen for looking at.
static void keep(const std::vector<uint32_t> &s, const char *name)
{
    const char *dir = getenv("MIRADOR_GOLDEN_PNG");
    if (!dir || !*dir) return;
    std::string ppm = std::string(dir) + "/" + name + ".ppm";
    if (testgl_save_ppm(ppm.c_str(), SW, SH, s.data())) {
        std::string cmd = "convert '" + ppm + "' '" + std::string(dir) + "/" + name + ".png' && rm -f '" + ppm + "'";
        if (system(cmd.c_str()) != 0) remove(ppm.c_str());
    }
}

// The single lit pixel of the screen, or (-1, -1) when none is lit.
static void lit_pixel(const std::vector<uint32_t> &s, int *x, int *y, uint32_t *c)
{
    *x = *y = -1;
    int count = 0;
    for (int i = 0; i < SW * SH; i++)
        if (s[i] != 0xFF000000u) {
            *x = i % SW;
            *y = i / SW;
            *c = s[i];
            count++;
        }
    ASSERT_LE(count, 1);
}

class EffectSprites : public ::testing::Test {
protected:
    void SetUp() override
    {
        TU_NEED(testgl_open(SW, SH), "no display: run under Xvfb");
        make_sprites();
    }
};

TEST_F(EffectSprites, ParticleDrawnAtTruncatedPositionsThenRetired)
{
    c_particle p;
    p.Spawn(100, 100, 90, 1, 0, 3);
    const int want[3] = {100, 101, 102};
    for (int r = 0; r < 3; r++) {
        clear_black();
        p.Draw();
        p.Handle();
        int x, y;
        uint32_t c = 0;
        ASSERT_NO_FATAL_FAILURE(lit_pixel(screen(), &x, &y, &c));
        EXPECT_EQ(x, want[r]);
        EXPECT_EQ(y, 100);
        EXPECT_EQ(c, COL[0]);
    }
    clear_black();
    p.Draw();                               // retired: nothing
    int x, y;
    uint32_t c = 0;
    ASSERT_NO_FATAL_FAILURE(lit_pixel(screen(), &x, &y, &c));
    EXPECT_EQ(x, -1);
}

TEST_F(EffectSprites, ParticleSpriteByTypeAndFarAwayParticles)
{
    struct { int type; uint32_t colour; } cases[] = {{5, COL[2]}, {4, COL[1]}, {-1, COL[2]}, {-3, COL[0]}};
    for (auto k : cases) {
        c_particle p;
        p.Spawn(20.9f, 30.9f, 0, 0, k.type, 5);
        clear_black();
        p.Draw();
        int x, y;
        uint32_t c = 0;
        ASSERT_NO_FATAL_FAILURE(lit_pixel(screen(), &x, &y, &c));
        EXPECT_EQ(x, 20) << k.type;
        EXPECT_EQ(y, 30) << k.type;
        EXPECT_EQ(c, k.colour) << k.type;
    }
    // A particle that has flown for thousands of frames is at infinity: drawn
    // nowhere, and its position converts without overflow.
    c_particle p;
    p.Spawn(160, 120, 45, 1, 0, 100000);
    for (int i = 0; i < 3000; i++) p.Handle();
    EXPECT_TRUE(isinf(p.x));
    clear_black();
    p.Draw();
    int x, y;
    uint32_t c = 0;
    ASSERT_NO_FATAL_FAILURE(lit_pixel(screen(), &x, &y, &c));
    EXPECT_EQ(x, -1);
}

TEST_F(EffectSprites, RingPassDrawsLiveSlotsOnly)
{
    memset((void *)particle, 0, sizeof particle);
    startparticle = 0;
    SpawnTunnel(160, 120, 0);
    clear_black();
    DrawTunnel();                           // draws each ring particle once, then moves it
    std::vector<uint32_t> s = screen();
    keep(s, "ring");
    int lit = 0;
    for (uint32_t c : s) lit += c != 0xFF000000u;
    EXPECT_GE(lit, 25);                     // 30 one-pixel particles, a few may coincide
    EXPECT_LE(lit, 30);
    EXPECT_NE(s[(120 + 20) * SW + 160], 0xFF000000u);   // angle 0: 20 below the centre
    EXPECT_EQ(s[120 * SW + 160], 0xFF000000u);
    EXPECT_EQ(particle[0].life, 99);
}

TEST_F(EffectSprites, CubeBallsPlacedSizedAndMirrored)
{
    // One-texel sprites stretched to the balls' size: each ball is a solid square.
    init_vector();
    vector_initobject(1);
    vectorx = 160;
    vectory = 120;
    vector_rotatepoints();
    clear_black();
    vector_drawballs();
    std::vector<uint32_t> s = screen();
    keep(s, "balls");
    auto at = [&](int x, int y) { return s[y * SW + x]; };
    // Vertex 6 (100, 100, 100) at (195, 155), size 50: the quad 170..219 x 130..179.
    EXPECT_EQ(at(195, 155), COL[6]);
    EXPECT_EQ(at(170, 130), COL[6]);
    EXPECT_EQ(at(219, 150), COL[6]);
    EXPECT_EQ(at(221, 150), 0xFF000000u);
    // Vertex 0 (-100, -100, -100) at (79, 39), size -50: the same square mirrored
    // about the same centre, 54..103 x 14..63.
    EXPECT_EQ(at(79, 39), COL[0]);
    EXPECT_EQ(at(54, 14), COL[0]);
    EXPECT_EQ(at(103, 39), COL[0]);
    EXPECT_EQ(at(105, 39), 0xFF000000u);
    EXPECT_EQ(at(52, 39), 0xFF000000u);
    // Vertex 4 (-100, -100, 100) at (125, 85) is drawn after vertex 0 and covers
    // their overlap.
    EXPECT_EQ(at(125, 85), COL[4]);
    EXPECT_EQ(at(101, 61), COL[4]);
    // Vertex 2 (100, 100, -100) at (240, 200), under vertex 6 where they overlap.
    EXPECT_EQ(at(240, 200), COL[2]);
    EXPECT_EQ(at(217, 177), COL[6]);

    // Object 2 draws five balls only: the stale slots 5..7 stay off screen.
    vector_initobject(2);
    vector_rotatepoints();
    clear_black();
    vector_drawballs();
    s = screen();
    for (uint32_t c : s) ASSERT_NE(c, COL[6]);
    EXPECT_EQ(at(160, 120), COL[4]);        // the apex (0, 0, 100) at the centre
}
