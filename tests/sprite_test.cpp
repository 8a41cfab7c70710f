// Sprites: cutting and creating records, the registry and its limit, collision and
// transparency tests, loading a sheet through the resource layer, and the draw calls
// read back from the framebuffer (these need a display: run under Xvfb).
#include <gtest/gtest.h>
#include <GL/glew.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "corefile/corefile.h"
#include "engine/bitmap.h"
#include "engine/sprite.h"
#include "engine/video.h"
#include "tests/testutil_gl.h"
#include "tests/testutil_os.h"

static s_bitmap sheet_record(int w, int h, uint32_t texture)
{
    s_bitmap b;
    memset(&b, 0, sizeof(b));
    b.width = b.texwidth = w;
    b.height = b.texheight = h;
    b.texture = texture;
    return b;
}

// ---- Records ------------------------------------------------------------------------

TEST(SpriteRecord, CutFromSheet)
{
    static s_sprite spr;
    s_bitmap dummy;
    spr.bitmap = &dummy; // left as the caller set it
    int before = orb_numsprites;
    ORB_GetSprite(32, 16, 16, 16, sheet_record(64, 64, 77), &spr);
    EXPECT_EQ(spr.width, 16);
    EXPECT_EQ(spr.height, 16);
    EXPECT_FLOAT_EQ(spr.umin, 0.5f);
    EXPECT_FLOAT_EQ(spr.vmin, 0.25f);
    EXPECT_FLOAT_EQ(spr.umax, 0.75f);
    EXPECT_FLOAT_EQ(spr.vmax, 0.5f);
    EXPECT_EQ(spr.colleft, 0);
    EXPECT_EQ(spr.coltop, 0);
    EXPECT_EQ(spr.colright, 16);
    EXPECT_EQ(spr.colbottom, 16);
    EXPECT_EQ(spr.originx, 0);
    EXPECT_EQ(spr.pixels, nullptr);
    EXPECT_EQ(spr.texture, 77u);
    EXPECT_EQ(spr.bitmap, &dummy);
    EXPECT_EQ(orb_numsprites, before + 1);
    EXPECT_EQ(orb_spritelist[before], &spr);

    // A whole sheet: exactly 1.0 at the far edges; a third is the float quotient.
    static s_sprite whole, third;
    ORB_GetSprite(0, 0, 30, 7, sheet_record(30, 7, 1), &whole);
    EXPECT_EQ(whole.umax, 1.0f);
    EXPECT_EQ(whole.vmax, 1.0f);
    ORB_GetSprite(10, 0, 10, 7, sheet_record(30, 7, 1), &third);
    EXPECT_EQ(third.umin, 10.0f / 30.0f);
    EXPECT_EQ(third.umax, 20.0f / 30.0f);
}

TEST(SpriteRecord, CreateClearDeleteAndBitmapView)
{
    static s_sprite spr;
    int before = orb_numsprites;
    ORB_CreateSprite(10, 6, &spr);
    ASSERT_NE(spr.pixels, nullptr);
    EXPECT_EQ(spr.width, 10);
    EXPECT_EQ(spr.height, 6);
    EXPECT_EQ(spr.colright, 10);
    EXPECT_EQ(spr.colbottom, 6);
    EXPECT_EQ(spr.texture, 0u);
    EXPECT_EQ(spr.umax, (float)(10 * 0.99999) / 10);
    EXPECT_EQ(spr.vmax, (float)(6 * 0.9999) / 6);
    for (int i = 0; i < 60; i++) ASSERT_EQ(spr.pixels[i], 0u) << i;
    EXPECT_EQ(orb_numsprites, before + 1);

    for (int i = 0; i < 60; i++) spr.pixels[i] = 0xFFFFFFFFu;
    ORB_ClearSprite(spr);
    for (int i = 0; i < 60; i++) ASSERT_EQ(spr.pixels[i], 0u) << i;

    ORB_SetSpriteOrigin(&spr, 3, 4);
    EXPECT_EQ(spr.originx, 3);
    EXPECT_EQ(spr.originy, 4);

    spr.reserved6 = 9;
    spr.texture = 5;
    s_bitmap b = ORB_GetBitmapFromSprite(spr);
    EXPECT_EQ(b.width, 10);
    EXPECT_EQ(b.height, 6);
    EXPECT_EQ(b.numpixels, 60);
    EXPECT_EQ(b.size, 240);
    EXPECT_EQ(b.pixels, spr.pixels);
    EXPECT_EQ(b.umax, spr.umax);
    EXPECT_EQ(b.vmax, spr.vmax);
    EXPECT_EQ(b.texture, 5u);
    EXPECT_EQ(b.reserved4, 9);
    EXPECT_EQ(b.texwidth, 0);
    EXPECT_EQ(b.texheight, 0);

    ORB_DeleteSprite(&spr);
    EXPECT_EQ(spr.pixels, nullptr);
    ORB_DeleteSprite(&spr);   // owns nothing any more: nothing happens
    ORB_ClearSprite(spr);
}

TEST(SpriteRecord, FullRegistryRefusesWithMessage)
{
    int saved = orb_numsprites;
    orb_numsprites = ORB_MAXSPRITES;
    static s_sprite spr;
    memset(&spr, 0, sizeof(spr));
    spr.width = 123;
    testing::internal::CaptureStdout();
    ORB_GetSprite(0, 0, 4, 4, sheet_record(8, 8, 1), &spr);
    ORB_CreateSprite(4, 4, &spr);
    ORB_LoadSprite("never_opened.tga", &spr);   // would use sheet slot 1024
    fflush(stdout);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(orb_numsprites, ORB_MAXSPRITES);
    EXPECT_EQ(spr.width, 123);
    EXPECT_EQ(spr.pixels, nullptr);
    EXPECT_NE(out.find("Too many sprites"), std::string::npos) << out;
    EXPECT_EQ(out.find("Loading TGA"), std::string::npos) << out;
    orb_numsprites = saved;
}

// ---- Tests -------------------------------------------------------------------------

TEST(SpriteCollision, TouchingAndOverlapping)
{
    static s_sprite a, b;
    ORB_GetSprite(0, 0, 10, 10, sheet_record(10, 10, 1), &a);
    ORB_GetSprite(0, 0, 10, 10, sheet_record(10, 10, 1), &b);
    EXPECT_EQ(ORB_CheckSpriteCollision(0, 0, a, 10, 0, b), 0);   // side by side
    EXPECT_EQ(ORB_CheckSpriteCollision(0, 0, a, 0, 10, b), 0);   // one above the other
    EXPECT_EQ(ORB_CheckSpriteCollision(0, 0, a, 9, 9, b), 1);
    EXPECT_EQ(ORB_CheckSpriteCollision(0, 0, a, -9, -9, b), 1);
    EXPECT_EQ(ORB_CheckSpriteCollision(0, 0, a, -10, 5, b), 0);
    EXPECT_EQ(ORB_CheckSpriteCollision(5, 5, a, 5, 5, b), 1);

    // Box 2..8: 6 wide, 2 pixels in, on both sprites.
    EXPECT_EQ(ORB_SetSpriteCollisionBox(&a, 2, 2, 8, 8), 1);
    ORB_SetSpriteCollisionBox(&b, 2, 2, 8, 8);
    EXPECT_EQ(ORB_CheckSpriteCollision(0, 0, a, 6, 0, b), 0);    // boxes 2..8 and 8..14 touch
    EXPECT_EQ(ORB_CheckSpriteCollision(0, 0, a, 5, 0, b), 1);
    EXPECT_EQ(ORB_CheckSpriteCollision(0, 0, a, 0, -6, b), 0);
    EXPECT_EQ(ORB_CheckSpriteCollision(0, 0, a, 0, -5, b), 1);

    EXPECT_EQ(ORB_CheckBoxCollision(0, 0, 5, 5, 5, 0, 5, 5), 0);
    EXPECT_EQ(ORB_CheckBoxCollision(0, 0, 5, 5, 4, 4, 5, 5), 1);
    EXPECT_EQ(ORB_CheckBoxCollision(0, 0, 5, 5, 0, -5, 5, 5), 0);
    EXPECT_EQ(ORB_CheckBoxCollision(0, 0, 5, 5, 1, 1, 1, 1), 1);   // inside
    EXPECT_EQ(ORB_CheckBoxCollision(0, 0, 0, 0, 0, 0, 5, 5), 0);   // empty box
}

TEST(SpriteCollision, Transparency)
{
    EXPECT_EQ(ORB_CheckSpriteTransparency(0xFF00FF), 1);
    EXPECT_EQ(ORB_CheckSpriteTransparency((int)0xF0FF00FFu), 1);
    EXPECT_EQ(ORB_CheckSpriteTransparency(0xFF10FF), 0);
    EXPECT_EQ(ORB_CheckSpriteTransparency(0xF10FF1), 1);
    EXPECT_EQ(ORB_CheckSpriteTransparency(0xF00FFF), 0);
    EXPECT_EQ(ORB_CheckSpriteTransparency(0xFF00F0), 0);
    EXPECT_EQ(ORB_CheckSpriteTransparency(0), 0);
}

// ---- Loading -----------------------------------------------------------------------

// A 24-bit top-left TGA of w x h with pixel (x, y) = colour(x, y) (0xRRGGBB).
static void write_tga(const std::string &path, int w, int h, uint32_t (*colour)(int, int))
{
    std::vector<uint8_t> f(18, 0);
    f[2] = 2;
    f[12] = (uint8_t)w, f[13] = (uint8_t)(w >> 8), f[14] = (uint8_t)h, f[15] = (uint8_t)(h >> 8);
    f[16] = 24, f[17] = 0x20;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            uint32_t c = colour(x, y);
            f.push_back((uint8_t)c), f.push_back((uint8_t)(c >> 8)), f.push_back((uint8_t)(c >> 16));
        }
    FILE *fp = fopen(path.c_str(), "wb");
    ASSERT_NE(fp, nullptr);
    fwrite(f.data(), 1, f.size(), fp);
    fclose(fp);
}

static uint32_t checker(int x, int y) { return ((x ^ y) & 1) ? 0xFF00FF : 0x102030; }

TEST(SpriteLoad, WholePictureIsOneSprite)
{
    char dir[] = "/tmp/sprite_testXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    write_tga(std::string(dir) + "/sheet.tga", 128, 64, checker);
    ASSERT_TRUE(corefile_mountimage(dir, 2));

    static s_sprite spr;
    int nspr = orb_numsprites, nbmp = orb_numbitmaps;
    ORB_LoadSprite("sheet.tga", &spr);
    EXPECT_EQ(orb_numsprites, nspr + 1);
    EXPECT_EQ(orb_numbitmaps, nbmp + 1);
    EXPECT_EQ(spr.bitmap, &orb_spritebmp[nspr]);
    EXPECT_EQ(spr.width, 128);
    EXPECT_EQ(spr.height, 64);
    EXPECT_EQ(spr.umin, 0.0f);
    EXPECT_EQ(spr.vmin, 0.0f);
    EXPECT_EQ(spr.umax, 1.0f);
    EXPECT_EQ(spr.vmax, 1.0f);
    EXPECT_EQ(spr.colright, 128);
    EXPECT_EQ(spr.colbottom, 64);
    EXPECT_EQ(spr.texture, orb_spritebmp[nspr].texture);
    // The key colour came out transparent in the sheet.
    EXPECT_EQ(ORB_GetPixel(1, 0, *spr.bitmap), 0u);
    EXPECT_EQ(ORB_GetPixel(0, 0, *spr.bitmap), 0xFF102030u);

    // A sheet that is not there: the sprite is still cut (from the empty slot) and
    // registered, without dividing by its zero size.
    static s_sprite missing;
    ORB_LoadSprite("missing.tga", &missing);
    EXPECT_EQ(orb_numsprites, nspr + 2);
    EXPECT_EQ(missing.bitmap, &orb_spritebmp[nspr + 1]);
    EXPECT_EQ(missing.umax, 0.0f);

    corefile_closeimage();
    unlink((std::string(dir) + "/sheet.tga").c_str());
    rmdir(dir);
}

// ---- Drawing, read back ----------------------------------------------------------------

static const uint32_t BG = 0xFF303030u;
static const uint32_t RED = 0xFF802010u, GREEN = 0xFF10C020u;

// An 8 x 4 sheet: columns 0..3 red, 4..7 green, column 1 transparent.
static void make_sheet(s_bitmap *sheet)
{
    ORB_CreateBitmap(8, 4, sheet);
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 8; x++) ORB_DrawPixel(x, y, x == 1 ? 0u : x < 4 ? RED : GREEN, *sheet);
    ORB_UpdateBitmap(*sheet);
}

static void clear_target()
{
    glClearColor(0x30 / 255.0f, 0x30 / 255.0f, 0x30 / 255.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
}

static std::vector<uint32_t> read(int x, int y, int w, int h)
{
    std::vector<uint32_t> v((size_t)w * h);
    testgl_readfb(x, y, w, h, v.data());
    for (uint32_t &c : v) c |= 0xFF000000u; // the target's alpha is not compared
    return v;
}

static uint32_t expected_column(int x) { return x == 1 ? BG : x < 4 ? RED : GREEN; }

TEST(SpriteDraw, PlainMirroredBlendedScaled)
{
    TU_NEED(testgl_open(320, 240), "no display: run under Xvfb");
    static s_bitmap sheet;
    static s_sprite spr;
    make_sheet(&sheet);
    ORB_GetSprite(0, 0, 8, 4, sheet, &spr);

    // Plain: key column not drawn, the rest in place.
    clear_target();
    ORB_DrawSprite(10, 20, spr);
    std::vector<uint32_t> px = read(8, 18, 12, 8);
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 12; x++) {
            int sx = x - 2, sy = y - 2;
            uint32_t want = (sx >= 0 && sx < 8 && sy >= 0 && sy < 4) ? expected_column(sx) : BG;
            EXPECT_EQ(px[y * 12 + x], want) << "plain " << sx << "," << sy;
        }

    // Mirrored: the same place, left and right exchanged.
    clear_target();
    ORB_DrawMirroredSprite(10, 20, spr);
    px = read(10, 20, 8, 4);
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 8; x++) EXPECT_EQ(px[y * 8 + x], expected_column(7 - x)) << "mirror " << x;

    // Blend mode 2 (source times source plus destination): brighter than the
    // background by the source's square; the key column still not drawn.
    clear_target();
    ORB_DrawBlendSprite(10, 20, spr, 2);
    px = read(10, 20, 8, 4);
    auto add = [](uint32_t s, int shift) {
        int c = (s >> shift) & 0xFF;
        return std::min(255, (c * c + 127) / 255 + 0x30);
    };
    for (int x = 0; x < 8; x++) {
        uint32_t c = px[x], src = expected_column(x);
        if (x == 1) {
            EXPECT_EQ(c, BG);
            continue;
        }
        for (int shift : {16, 8, 0}) EXPECT_NEAR((int)((c >> shift) & 0xFF), add(src, shift), 2) << x << " " << shift;
        EXPECT_GT((c >> 16) & 0xFF, 0x30u);
    }
    // Blending is off again afterwards: a plain draw replaces.
    ORB_DrawSprite(10, 20, spr);
    EXPECT_EQ(read(10, 20, 1, 1)[0], RED);

    // Scaled to 16 x 8: every sheet pixel covers 2 x 2. Textures are filtered, so
    // compare only pixels whose two nearest texels have the same colour.
    clear_target();
    ORB_DrawScaledSprite(40, 40, 16, 8, spr);
    px = read(40, 40, 16, 8);
    EXPECT_EQ(px[2 * 16 + 5], RED);
    EXPECT_EQ(px[3 * 16 + 6], RED);
    EXPECT_EQ(px[4 * 16 + 11], GREEN);
    EXPECT_EQ(px[5 * 16 + 12], GREEN);
    EXPECT_EQ(read(56, 44, 1, 1)[0], BG);   // nothing beyond the 16 columns
    EXPECT_EQ(read(40, 48, 1, 1)[0], BG);   // nor below the 8 rows
}
