// startup_test.cpp - start-up over a resource image made here, in which every
// file is a picture of its own size (or colour), then every scene routine run on
// the loaded state. Needs a display (run under Xvfb); skips without one.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "corefile/corepack.h"
#include "demo/effects.h"
#include "demo/main.h"
#include "demo/scenes.h"
#include "demo/show.h"
#include "demo/startup.h"
#include "demo/vector.h"
#include "engine/sprite.h"
#include "engine/video.h"
#include "platform/platform.h"
#include "tests/testutil_os.h"

namespace {

// Every file the start-up loads, in load order (the points and their repeats too).
std::vector<std::string> load_order()
{
    std::vector<std::string> v = {
        "font_heat.tga", "introbg1.tga", "introbg2.tga", "finaltext.tga", "finaltext2.tga",
        "drumlin2019.tga", "drumlin1999.tga", "eatit1.tga", "eatit2.tga", "vhs.tga", "vhs2.tga",
        "abs.tga", "diagonal.tga", "mirador_title.tga", "mirador_logo2.tga", "lanterne.tga",
        "looker.tga", "credits1.tga", "credits2.tga", "credits3.tga", "call480.tga",
        "negativelogo.tga", "feelgreat1.tga", "feelgreat480.tga", "hipsquare.tga",
        "thousand.tga", "heightmap.tga", "texture0.tga", "texture2.tga", "texture3.tga",
        "particle_r.tga", "particle_g.tga", "particle_b.tga",
    };
    for (int i = 1; i <= 8; i++) v.push_back("square" + std::to_string(i) + ".tga");
    for (int i : {1, 2, 3, 4, 5, 4, 3, 2}) v.push_back("point" + std::to_string(i) + ".tga");
    for (int i = 1; i <= 25; i++) v.push_back("dance" + std::to_string(i) + ".tga");
    v.push_back("mirador4.wav");
    return v;
}

bool is_texture(const std::string &n)
{
    return n == "texture0.tga" || n == "texture2.tga" || n == "texture3.tga" || n == "heightmap.tga";
}

// 32-bit top-left TGA of w x h in one colour (0xAARRGGBB).
std::vector<uint8_t> tga(int w, int h, uint32_t argb)
{
    std::vector<uint8_t> f(18, 0);
    f[2] = 2;
    f[12] = (uint8_t)w;
    f[13] = (uint8_t)(w >> 8);
    f[14] = (uint8_t)h;
    f[15] = (uint8_t)(h >> 8);
    f[16] = 32;
    f[17] = 0x28;
    for (int i = 0; i < w * h; i++) {
        f.push_back((uint8_t)argb);
        f.push_back((uint8_t)(argb >> 8));
        f.push_back((uint8_t)(argb >> 16));
        f.push_back((uint8_t)(argb >> 24));
    }
    return f;
}

std::vector<uint8_t> wav(int freq, int frames)
{
    std::vector<uint8_t> f;
    auto put32 = [&](uint32_t v) { for (int i = 0; i < 4; i++) f.push_back((uint8_t)(v >> (8 * i))); };
    auto put16 = [&](uint16_t v) { f.push_back((uint8_t)v); f.push_back((uint8_t)(v >> 8)); };
    auto tag = [&](const char *t) { f.insert(f.end(), t, t + 4); };
    tag("RIFF"); put32(36 + frames * 2); tag("WAVE");
    tag("fmt "); put32(16); put16(1); put16(1); put32(freq); put32(freq * 2); put16(2); put16(16);
    tag("data"); put32(frames * 2);
    for (int i = 0; i < frames; i++) put16((uint16_t)(i * 300));
    return f;
}

// Unique file -> the width its picture has (ordinary pictures) or the colour of
// its 256x256 texture.
std::map<std::string, int> widths;
std::map<std::string, uint32_t> colours;
std::map<int, std::string> by_offset;
std::string output;
bool ready;
std::string workdir;

class Startup : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        char dir[] = "/tmp/startup_testXXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        std::vector<std::vector<uint8_t>> data;
        std::vector<std::string> names;
        int w = 2;
        uint32_t colour = 0xFF102030;
        for (const std::string &n : load_order()) {
            if (widths.count(n) || colours.count(n)) continue;
            names.push_back(n);
            if (n == "mirador4.wav") {
                data.push_back(wav(22050, 4410));
            } else if (is_texture(n)) {
                colours[n] = colour;
                data.push_back(tga(256, 256, colour));
                colour += 0x00111111;
            } else {
                widths[n] = w;
                data.push_back(tga(w, 3, 0xFF808080));
                w++;
            }
        }
        std::vector<corepack_file> files;
        for (size_t i = 0; i < names.size(); i++)
            files.push_back({names[i].c_str(), data[i].data(), (uint32_t)data[i].size()});
        std::string image = std::string(dir) + "/mirador.dat";
        ASSERT_EQ(corepack_write(image.c_str(), files.data(), (int)files.size()), 1);

        // Offsets from the image's own directory.
        FILE *fp = fopen(image.c_str(), "rb");
        ASSERT_NE(fp, nullptr);
        std::vector<uint8_t> img(1 << 22);
        img.resize(fread(img.data(), 1, img.size(), fp));
        fclose(fp);
        auto get = [&](size_t p) { return (uint32_t)img[p] | img[p + 1] << 8 | img[p + 2] << 16 | (uint32_t)img[p + 3] << 24; };
        uint32_t n = get(4);
        size_t p = 12;
        for (uint32_t i = 0; i < n; i++) {
            uint32_t len = get(p);
            std::string name((const char *)&img[p + 8], len);
            by_offset[(int)get(p + 8 + len)] = name;
            p += 12 + len;
        }

        workdir = dir;
        ASSERT_EQ(chdir(dir), 0);
        setenv("SDL_AUDIODRIVER", "dummy", 0);
        if (!plat_init() || !plat_create_window("ORB Application", 10, 10)) return;
        mirador_setoutput(1280, 720);
        testing::internal::CaptureStdout();
        startup();
        output = testing::internal::GetCapturedStdout();
        ready = true;
    }
    static void TearDownTestSuite()
    {
        // The image stays mounted (open) until the process ends; its name can go.
        if (workdir.empty()) return;
        unlink((workdir + "/mirador.dat").c_str());
        if (chdir("/") == 0) rmdir(workdir.c_str());
    }
    void SetUp() override
    {
        TU_NEED(ready, "no display: run under xvfb-run");
    }
};

TEST_F(Startup, FilesAreOpenedInTableOrder)
{
    std::vector<std::string> opened;
    std::istringstream in(output);
    std::string line;
    const std::string found = "found file at offset: ";
    while (std::getline(in, line)) {
        size_t at = line.find(found);
        if (at == std::string::npos) continue;
        opened.push_back(by_offset[atoi(line.c_str() + at + found.size())]);
    }
    EXPECT_EQ(opened, load_order());
    EXPECT_EQ(output.find("couldn't find"), std::string::npos) << output;
}

TEST_F(Startup, AssetsLandInTheirGlobals)
{
    struct { const s_sprite *s; const char *file; } sprites[] = {
        {&spr_finaltext, "finaltext.tga"}, {&spr_finaltext2, "finaltext2.tga"},
        {&spr_introtext1, "drumlin2019.tga"}, {&spr_introtext2, "drumlin1999.tga"},
        {&spr_eatit1, "eatit1.tga"}, {&spr_eatit2, "eatit2.tga"}, {&spr_vhs, "vhs.tga"},
        {&spr_vhs2, "vhs2.tga"}, {&spr_abs, "abs.tga"}, {&spr_title, "mirador_title.tga"},
        {&spr_titlelogo, "mirador_logo2.tga"}, {&spr_lanterne, "lanterne.tga"},
        {&spr_looker, "looker.tga"}, {&spr_credits1, "credits1.tga"},
        {&spr_credits2, "credits2.tga"}, {&spr_credits3, "credits3.tga"},
        {&spr_caller, "call480.tga"}, {&spr_negativelogo, "negativelogo.tga"},
        {&spr_feelgreat, "feelgreat1.tga"}, {&spr_feelgreat2, "feelgreat480.tga"},
        {&spr_hipsquare, "hipsquare.tga"}, {&spr_thousand, "thousand.tga"},
        {&spr_particle[0], "particle_r.tga"}, {&spr_particle[1], "particle_g.tga"},
        {&spr_particle[2], "particle_b.tga"},
    };
    for (const auto &c : sprites) EXPECT_EQ(c.s->width, widths[c.file]) << c.file;
    // A complete image leaves nothing for start-up to report missing.
    std::vector<const char *> missing((size_t)show_checked_count(), nullptr);
    EXPECT_EQ(startup_missing(missing.data(), (int)missing.size()), 0) << (missing[0] ? missing[0] : "");
    for (int i = 0; i < 8; i++) EXPECT_EQ(spr_square[i].width, widths["square" + std::to_string(i + 1) + ".tga"]);
    for (int i = 0; i < 25; i++) EXPECT_EQ(spr_dance[i].width, widths["dance" + std::to_string(i + 1) + ".tga"]) << i;

    // The point animation: five files, entries 5..7 loaded again into sheets of their own.
    const int points[8] = {1, 2, 3, 4, 5, 4, 3, 2};
    for (int i = 0; i < 8; i++)
        EXPECT_EQ(spr_point[i].width, widths["point" + std::to_string(points[i]) + ".tga"]) << i;
    EXPECT_NE(spr_point[5].bitmap, spr_point[3].bitmap);
    EXPECT_NE(spr_point[7].bitmap, spr_point[1].bitmap);
    EXPECT_NE(spr_point[5].texture, spr_point[3].texture);

    EXPECT_EQ(font.sheet->width, widths["font_heat.tga"]);
    EXPECT_EQ(bmp_bg.width, 480);
    EXPECT_EQ(bmp_bg.height, 270);
    ASSERT_NE(bmp_bg.pixels, nullptr);
    EXPECT_EQ(bmp_introbg1.width, widths["introbg1.tga"]);
    EXPECT_EQ(bmp_introbg2.width, widths["introbg2.tga"]);
    EXPECT_EQ(bmp_background.width, widths["diagonal.tga"]);

    // The textures by colour: texture0 -> 2, texture2 -> 3, texture3 -> 4; 1 stays empty.
    EXPECT_EQ(bmp_texture1.pixels, nullptr);
    ASSERT_NE(bmp_texture2.pixels, nullptr);
    ASSERT_NE(bmp_texture3.pixels, nullptr);
    ASSERT_NE(bmp_texture4.pixels, nullptr);
    ASSERT_NE(bmp_height.pixels, nullptr);
    EXPECT_EQ(ORB_GetPixel(5, 5, bmp_texture2), colours["texture0.tga"]);
    EXPECT_EQ(ORB_GetPixel(5, 5, bmp_texture3), colours["texture2.tga"]);
    EXPECT_EQ(ORB_GetPixel(5, 5, bmp_texture4), colours["texture3.tga"]);
    EXPECT_EQ(ORB_GetPixel(5, 5, bmp_height), colours["heightmap.tga"]);
}

TEST_F(Startup, RegistriesFollowTheTableOrder)
{
    // Sprites register in load order.
    std::vector<const s_sprite *> expect = {
        &spr_finaltext, &spr_finaltext2, &spr_introtext1, &spr_introtext2, &spr_eatit1,
        &spr_eatit2, &spr_vhs, &spr_vhs2, &spr_abs, &spr_title, &spr_titlelogo, &spr_lanterne,
        &spr_looker, &spr_credits1, &spr_credits2, &spr_credits3, &spr_caller,
        &spr_negativelogo, &spr_feelgreat, &spr_feelgreat2, &spr_hipsquare, &spr_thousand,
    };
    for (int i = 0; i < 3; i++) expect.push_back(&spr_particle[i]);
    for (int i = 0; i < 8; i++) expect.push_back(&spr_square[i]);
    for (int i = 0; i < 8; i++) expect.push_back(&spr_point[i]);
    for (int i = 0; i < 25; i++) expect.push_back(&spr_dance[i]);
    std::vector<const s_sprite *> got;
    for (int i = 0; i < orb_numsprites; i++)
        for (const s_sprite *s : expect)
            if (orb_spritelist[i] == s) got.push_back(s);
    EXPECT_EQ(got, expect);

    // The work bitmap is created right after the font, before the first picture.
    int bg = -1, intro1 = -1, back = -1, height = -1, t2 = -1, t4 = -1;
    for (int i = 0; i < orb_numbitmaps; i++) {
        if (orb_bitmaplist[i] == &bmp_bg) bg = i;
        if (orb_bitmaplist[i] == &bmp_introbg1) intro1 = i;
        if (orb_bitmaplist[i] == &bmp_background) back = i;
        if (orb_bitmaplist[i] == &bmp_height) height = i;
        if (orb_bitmaplist[i] == &bmp_texture2) t2 = i;
        if (orb_bitmaplist[i] == &bmp_texture4) t4 = i;
    }
    EXPECT_GE(bg, 1);
    EXPECT_EQ(orb_bitmaplist[bg - 1], font.sheet);
    EXPECT_EQ(intro1, bg + 1);
    EXPECT_LT(intro1, back);
    EXPECT_LT(back, height);
    EXPECT_EQ(t2, height + 1);
    EXPECT_EQ(t4, height + 3);
}

TEST_F(Startup, ShaderSourcesAreByteExact)
{
    const char *vlines[] = {
        "#version 120", "varying vec2 texCoord;", "void main() {",
        "texCoord = gl_MultiTexCoord0.xy;", "gl_Position = ftransform();", "}",
    };
    const char *flines[] = {
        "#version 120", "uniform sampler2D fbo_texture;", "uniform sampler2D fbo_depth;",
        "uniform float fadevalue;", "uniform float scanlinevalue;", "varying vec2 texCoord;",
        "vec4 TextureColor;", "void main() {", "vec4 color;",
        "TextureColor = texture2D(fbo_texture, texCoord);",
        "vec2 output_coords = floor( texCoord * 540);",
        "float modulo = mod(output_coords.y,2.0);",
        "if (modulo==0.0) {color=TextureColor;} else {color=TextureColor * (1.0-scanlinevalue);}",
        " gl_FragColor = color*fadevalue;", "}",
    };
    std::string v, f;
    for (const char *l : vlines) v += std::string(l) + (l == vlines[5] ? "" : "\n");
    for (const char *l : flines) f += std::string(l) + (l == flines[14] ? "" : "\n");
    EXPECT_EQ(std::string(vv_mirador), v);
    EXPECT_EQ(std::string(ff_mirador), f);
    EXPECT_EQ(postshader_id, 0);
    EXPECT_FLOAT_EQ(ORB_scanlinevalue, 0.2f);
}

TEST_F(Startup, FramebufferAndMusic)
{
    EXPECT_EQ(ORB_FrameBuffer, &ORB_framebuffers[1]);
    EXPECT_EQ(ORB_FrameBuffer->width, 480);
    EXPECT_EQ(ORB_FrameBuffer->height, 270);
    EXPECT_EQ(soundsystem.frequency, 44100);
    EXPECT_EQ(soundsystem.mastervolume, 0);
    EXPECT_EQ(gamemusic.frequency, 22050);
    EXPECT_EQ(gamemusic.channels, 1);
    EXPECT_EQ(gamemusic.size, 4410 * 2);
    EXPECT_EQ(gamemusic.playing, 0);
}

TEST_F(Startup, EffectStateAsGiven)
{
    EXPECT_EQ(camera.x, 0x600000);
    EXPECT_EQ(camera.y, 0x380000);
    EXPECT_EQ(camera.height, 48);
    EXPECT_EQ(camera.angle, 32);
    EXPECT_EQ(camera.fov, 48);
    EXPECT_EQ(camera.speed, 128);
    EXPECT_EQ(camera.reserved, 2);
    EXPECT_EQ(camera.z, 128);
    EXPECT_EQ(camera.roll, 0);

    struct { s_freedir *fd; int type; uint32_t *tex; float y; int focal; } fds[] = {
        {&fdtunnel, 0, bmp_texture3.pixels, 60.0f, 60},
        {&fdsphere, 2, nullptr, 0.0f, 20},
        {&fdplane, 1, bmp_texture2.pixels, 0.0f, 120},
    };
    for (const auto &c : fds) {
        EXPECT_EQ(c.fd->type, c.type);
        EXPECT_EQ(c.fd->texture, c.tex);
        EXPECT_EQ(c.fd->x, 0.0f);
        EXPECT_EQ(c.fd->y, c.y);
        EXPECT_EQ(c.fd->z, -10.0f);
        EXPECT_EQ(c.fd->focal, c.focal);
        EXPECT_EQ(c.fd->speed, 5.0f);
        EXPECT_EQ(c.fd->rotate, 1);
        EXPECT_EQ(c.fd->angle, 0);
    }
    EXPECT_EQ(free_inited, 1);
    EXPECT_EQ(ofstab_w, 480);
    EXPECT_EQ(ofstab_h, 270);
    EXPECT_EQ(numvertices, 8);
    EXPECT_EQ(vectorobject, 1);
    EXPECT_EQ(vectorx, -256);
    EXPECT_EQ(juliare | juliaim | juliareup | juliaimup, 0);
    EXPECT_EQ(heading, 32.0f);
}

// Runs after the tests above (declaration order): the music and then the scenes.
TEST_F(Startup, MusicStartsOnceAtFullVolume)
{
    startup_music();
    EXPECT_EQ(gamemusic.playing, 1);
    EXPECT_EQ(gamemusic.music, 1);
    EXPECT_EQ(gamemusic.loop, 0);
    EXPECT_EQ(soundsystem.mastervolume, 255);
    EXPECT_EQ(soundsystem.numactive, 1);
    EXPECT_EQ(active_sounds[0], &gamemusic);
}

TEST_F(Startup, EveryPeriodRunsItsScene)
{
    pulse = pulse2 = 0.95000094f;
    dt = 1.0f;
    framecount = 1000;
    for (int s = 2; s <= 23; s++) {
        scene = s;
        for (int f = 0; f < 3; f++) {
            scenetime = 100.0f + f;
            fade = 200;
            run_scene(s);
            framecount++;
        }
    }
    // The intro sets the fade from the time in period 2; the finale from its own.
    scene = 2;
    scenetime = 301.0f;
    run_scene(2);
    EXPECT_EQ(fade, 150);
    scene = 22;
    scenetime = 254.0f;
    run_scene(22);
    EXPECT_EQ(fade, 128);
    scene = 23;
    scenetime = 0.0f;
    run_scene(23);
    EXPECT_EQ(fade, 255);
}

TEST_F(Startup, FirstRingsFrameSpawnsARing)
{
    scene = 8;
    scenetime = 0.0f;
    spawncount = 5000;  // the frames before the scene
    int before = startparticle;
    run_scene(8);
    EXPECT_EQ(spawncount, 0);
    EXPECT_EQ(startparticle, (before + 30) % 900);
    // The ring starts at angle 0 around (240, 135), 20 pixels out, then moved once.
    const c_particle &p = particle[before];
    EXPECT_EQ(p.active, 1);
    EXPECT_EQ(p.life, 99);
    EXPECT_FLOAT_EQ(p.x, 240.0f);
    EXPECT_FLOAT_EQ(p.y, 135.0f + 20.0f + 1.0f);
    // Three frames later nothing spawns; the fourth does.
    for (int i = 0; i < 3; i++) {
        spawncount++;
        run_scene(8);
        EXPECT_EQ(startparticle, (before + 30) % 900);
    }
    spawncount++;
    run_scene(8);
    EXPECT_EQ(startparticle, (before + 60) % 900);
}

TEST_F(Startup, VoxelFirstFrameKeepsTheStartAngle)
{
    s_camera saved = camera;
    float h = heading;
    camera.angle = 32;
    heading = 32.0f;
    scene = 14;
    framecount = 0;  // sin(0) = 0: the heading does not move
    dt = 1.0f;
    int x = camera.x;
    run_scene(14);
    EXPECT_EQ(camera.angle, 32);
    EXPECT_EQ(camera.roll, 0);
    EXPECT_EQ(camera.x, x + ((int)(128.0f * scape_costab[32]) >> 8));
    camera = saved;
    heading = h;
}

}  // namespace
