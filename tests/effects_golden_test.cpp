// Golden pictures: every software effect rendered for a fixed number of frames
// from its start-up state, over procedural inputs made here, hashed (FNV-1a of the
// pixel buffer) and compared with the hashes stored in data/golden/hashes.txt, so
// that any change of a picture shows. With MIRADOR_GOLDEN_PNG=<folder> set, each
// picture is also written there as <name>.png for looking at.
#include <gtest/gtest.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <map>
#include <string>

#include "demo/effects.h"
#include "demo/freedir.h"
#include "demo/voxel.h"
#include "effects_testutil.h"

static const int W = 480, H = 270;

static std::map<std::string, std::string> stored_hashes(void)
{
    std::map<std::string, std::string> m;
    FILE *f = fopen(TEST_DATA_DIR "/golden/hashes.txt", "r");
    if (!f) return m;
    char name[64], hash[64];
    while (fscanf(f, "%63s %63s", name, hash) == 2) m[name] = hash;
    fclose(f);
    return m;
}

static void check_golden(const char *name, const s_bitmap &b)
{
    char hex[32];
    snprintf(hex, sizeof hex, "%016llx",
             (unsigned long long)fx_hash(b.pixels, (size_t)b.width * b.height));
    const char *dir = getenv("MIRADOR_GOLDEN_PNG");
    if (dir && *dir) fx_save_png(b, std::string(dir) + "/" + name + ".png");
    std::map<std::string, std::string> m = stored_hashes();
    ASSERT_TRUE(m.count(name)) << "no stored hash for " << name << "; this build gives " << hex;
    EXPECT_EQ(m[name], hex) << name << " changed";
}

// Integer triangle wave 0..256 with period 512.
static int tri(int t) { return abs((t & 511) - 256); }

static s_bitmap hills(void)
{
    s_bitmap b = fx_bitmap(256, 256);
    for (int y = 0; y < 256; y++)
        for (int x = 0; x < 256; x++) {
            int h = (tri(x * 8) * 2 + tri(y * 6) + tri((x + 2 * y) * 4) + tri(x * 24 + y * 20) / 4) / 4;
            b.pixels[y * 256 + x] = 0xFF000000u | (uint32_t)(h > 255 ? 255 : h) << 16;  // blue in API form
        }
    return b;
}

static s_bitmap land_colours(void)
{
    s_bitmap b = fx_bitmap(256, 256);
    for (int y = 0; y < 256; y++)
        for (int x = 0; x < 256; x++) {
            uint32_t r = (uint32_t)(64 + tri(x * 4) / 2), g = (uint32_t)(96 + tri(y * 4) / 2);
            uint32_t bl = (uint32_t)(((x ^ y) & 0x3F) + 32);
            b.pixels[y * 256 + x] = 0xFF000000u | bl << 16 | g << 8 | r;
        }
    return b;
}

// Sky gradient with diagonal stripes, the size of the work bitmap.
static s_bitmap backdrop(void)
{
    s_bitmap b = fx_bitmap(W, H);
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++) {
            uint32_t stripe = ((x + y) / 24) & 1 ? 24 : 0;
            uint32_t r = 40 + stripe, g = (uint32_t)(60 + y / 3), bl = (uint32_t)(120 + y / 3);
            b.pixels[y * W + x] = 0xFF000000u | bl << 16 | g << 8 | r;
        }
    return b;
}

static s_freedir fd_object(uint32_t *tex, int type, float y, int focal)
{
    s_freedir fd;
    memset(&fd, 0, sizeof fd);
    fd.texture = tex;
    fd.type = (uint8_t)type;
    fd.y = y;
    fd.z = -10.0f;
    fd.focal = focal;
    fd.speed = 5.0f;
    fd.rotate = 1;
    return fd;
}

TEST(Golden, FreeDirectionTunnelPlaneSphere)
{
    FD_Initialise(W, H);
    s_bitmap tex = fx_texture(), t = fx_bitmap(W, H);
    struct { const char *name; s_freedir fd; } runs[] = {
        {"tunnel", fd_object(tex.pixels, FD_TUNNEL, 60.0f, 60)},
        {"plane", fd_object(tex.pixels, FD_PLANE, 0.0f, 120)},
        {"sphere", fd_object(tex.pixels, FD_SPHERE, 0.0f, 20)},
    };
    for (auto &r : runs) {
        for (int f = 0; f < 40; f++) FD_Render(&r.fd, t, 255);
        check_golden(r.name, t);
    }
    fx_free(&tex);
    fx_free(&t);
}

TEST(Golden, VoxelFlight)
{
    s_bitmap hm = hills(), cm = land_colours(), bg = backdrop(), t = fx_bitmap(W, H);
    initvoxel(hm, cm, bg);
    s_camera cam = fx_start_camera();
    // The voxel scene's flight with frames of exactly one unit: draw, then turn
    // by the heading's sine, bank, and move half a cell along the new angle.
    float heading = 32.0f, dt = 1.0f;
    for (int framecount = 0; framecount < 300; framecount++) {
        calccamera(&cam);
        drawvoxel(&cam, bg, t);
        double s = sin(framecount * 0.02454369260617026);
        heading = (float)(heading + s);
        cam.angle = (uint8_t)(int)heading;
        cam.roll = (int)(s * 31);
        cam.x += ((int)((float)cam.speed * dt * (float)scape_costab[cam.angle])) >> 8;
        cam.y += ((int)((float)cam.speed * dt * (float)scape_sintab[cam.angle])) >> 8;
    }
    EXPECT_NE(cam.roll, 0);
    check_golden("voxel", t);
    fx_free(&hm);
    fx_free(&cm);
    fx_free(&bg);
    fx_free(&t);
}

TEST(Golden, TextureTable)
{
    InitTextureTab(W, H);
    s_bitmap tex = fx_texture(), t = fx_bitmap(W, H);
    // The title scene at scenetime 59 between pulses: rot 88, shift 0, shade 251.
    DrawTextureTab(240, 135, (uint8_t)(int)(59 * 1.5), 0, 251, tex.pixels, t);
    check_golden("texturetab", t);
    fx_free(&tex);
    fx_free(&t);
}

TEST(Golden, JuliaAlternatingPhases)
{
    s_bitmap t = fx_bitmap(W, H);
    // The vhs scene's parameter walk at one unit per frame, phases alternating.
    int re = 0, im = 0, reup = 0, imup = 0;
    for (int frame = 0; frame < 80; frame++) {
        DrawJulia(re, im, frame & 1, t);
        re += reup ? 50 : -150;
        im += imup ? 150 : -100;
        if (re <= 29) reup = 1;
        if (re > 10000) reup = 0;
        if (im <= 19) imup = 1;
        if (im > 12000) imup = 0;
    }
    check_golden("julia", t);
    fx_free(&t);
}

TEST(Golden, Dissolve)
{
    s_bitmap a = backdrop(), b = fx_bitmap(W, H), t = fx_bitmap(W, H);
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++)
            b.pixels[y * W + x] = 0xFF000000u | (uint32_t)tri(x * 3 + y * 5) << 8 | (uint32_t)(y & 0xC0);
    DissolveBitmap(a, b, t, 77);
    check_golden("dissolve", t);
    fx_free(&a);
    fx_free(&b);
    fx_free(&t);
}
