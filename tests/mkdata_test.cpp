// The generated resource image (BUILD_DIR/mirador.dat, made by the build's mkdata):
// its directory, every picture loaded through the engine's own loader with its size
// and role, the encodings, determinism, and the music's format, level and shape.
#include <gtest/gtest.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "corefile/corefile.h"
#include "corefile/corepack.h"
#include "demo/effects.h"
#include "engine/bitmap.h"
#include "engine/font.h"
#include "engine/tga.h"

static const char *image_path = BUILD_DIR "/mirador.dat";

static std::vector<uint8_t> read_all(const char *path)
{
    std::vector<uint8_t> b;
    FILE *f = fopen(path, "rb");
    if (!f) return b;
    fseek(f, 0, SEEK_END);
    long n = ftell(f);
    fseek(f, 0, SEEK_SET);
    b.resize((size_t)n);
    if (fread(b.data(), 1, b.size(), f) != b.size()) b.clear();
    fclose(f);
    return b;
}

static uint32_t le32(const uint8_t *p) { return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24; }

// The image's directory, read straight from the bytes: name -> (offset, size).
struct entry { uint32_t offset, size; };
static std::map<std::string, entry> directory(const std::vector<uint8_t> &img)
{
    std::map<std::string, entry> dir;
    if (img.size() < 12 || memcmp(img.data(), "CORE", 4)) return dir;
    uint32_t n = le32(&img[4]), romsize = le32(&img[8]), pos = 12;
    std::vector<std::string> names;
    std::vector<uint32_t> offs;
    for (uint32_t i = 0; i < n && pos + 8 <= img.size(); i++) {
        uint32_t len = le32(&img[pos]);
        pos += 8;
        names.push_back(std::string((const char *)&img[pos], len));
        pos += len;
        offs.push_back(le32(&img[pos]));
        pos += 4;
    }
    for (size_t i = 0; i < names.size(); i++)
        dir[names[i]] = {offs[i], (i + 1 < offs.size() ? offs[i + 1] : romsize) - offs[i]};
    return dir;
}

static std::vector<std::string> expected_names()
{
    std::vector<std::string> v = {
        "font_heat.tga", "introbg1.tga", "introbg2.tga", "finaltext.tga", "finaltext2.tga",
        "drumlin2019.tga", "drumlin1999.tga", "eatit1.tga", "eatit2.tga", "vhs.tga", "vhs2.tga",
        "abs.tga", "diagonal.tga", "mirador_title.tga", "mirador_logo2.tga", "lanterne.tga",
        "looker.tga", "credits1.tga", "credits2.tga", "credits3.tga", "call480.tga",
        "negativelogo.tga", "feelgreat1.tga", "feelgreat480.tga", "hipsquare.tga", "thousand.tga",
        "heightmap.tga", "texture0.tga", "texture2.tga", "texture3.tga", "particle_r.tga",
        "particle_g.tga", "particle_b.tga", "mirador4.wav"};
    for (int i = 1; i <= 8; i++) v.push_back("square" + std::to_string(i) + ".tga");
    for (int i = 1; i <= 5; i++) v.push_back("point" + std::to_string(i) + ".tga");
    for (int i = 1; i <= 25; i++) v.push_back("dance" + std::to_string(i) + ".tga");
    return v;
}

class MkdataImage : public testing::Test {
protected:
    static std::vector<uint8_t> img;
    static std::map<std::string, entry> dir;
    static void SetUpTestSuite()
    {
        img = read_all(image_path);
        dir = directory(img);
    }
    std::vector<uint8_t> file(const std::string &name)
    {
        auto it = dir.find(name);
        if (it == dir.end()) return {};
        return std::vector<uint8_t>(img.begin() + it->second.offset,
                                    img.begin() + it->second.offset + it->second.size);
    }
};
std::vector<uint8_t> MkdataImage::img;
std::map<std::string, entry> MkdataImage::dir;

TEST_F(MkdataImage, VerifiesAndHoldsExactlyTheAssetNames)
{
    ASSERT_FALSE(img.empty()) << image_path << " is missing: the build makes it";
    testing::internal::CaptureStdout();
    int ok = corepack_verify(image_path);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(ok, 1) << out;
    std::vector<std::string> want = expected_names();
    std::set<std::string> have;
    for (auto &e : dir) have.insert(e.first);
    EXPECT_EQ(have, std::set<std::string>(want.begin(), want.end()));
    EXPECT_EQ(dir.size(), want.size());   // 72: five point files serve eight entries
}

// Loads a picture with the engine's loader from the mounted image; fails the test on
// any "ERROR" line. The caller frees pixels.
static s_bitmap load(const char *name, std::string *log)
{
    s_bitmap b;
    memset(&b, 0, sizeof b);
    testing::internal::CaptureStdout();
    ORB_LoadBitmap(name, &b);
    fflush(stdout);
    *log = testing::internal::GetCapturedStdout();
    return b;
}

static uint32_t px(const s_bitmap &b, int x, int y) { return ORB_GetPixel(x, y, b); }
static bool clear(uint32_t c) { return (c >> 24) == 0; }

struct role {
    std::string name;
    int w, h;
    int transparent;   // 0 opaque everywhere, 1 some pixels see-through
};

TEST_F(MkdataImage, EveryPictureLoadsThroughTheEngineWithItsSizeAndRole)
{
    ASSERT_EQ(corefile_mountimage(image_path, 0), 1);
    std::vector<role> roles = {
        {"font_heat.tga", -1, -1, 1},
        {"introbg1.tga", 480, 270, 0}, {"introbg2.tga", 480, 270, 0}, {"diagonal.tga", 480, 270, 0},
        {"call480.tga", 480, 270, 0},
        {"finaltext.tga", 480, 270, 1}, {"finaltext2.tga", 480, 270, 1},
        {"drumlin1999.tga", 480, 270, 1}, {"drumlin2019.tga", 480, 270, 1},
        {"eatit1.tga", 480, 270, 1}, {"eatit2.tga", 480, 270, 1}, {"vhs.tga", 480, 270, 1},
        {"vhs2.tga", 480, 270, 1}, {"abs.tga", 480, 270, 1}, {"credits1.tga", 480, 270, 1},
        {"credits2.tga", 480, 270, 1}, {"credits3.tga", 480, 270, 1},
        {"hipsquare.tga", 480, 270, 1}, {"thousand.tga", 480, 270, 1},
        {"mirador_logo2.tga", 480, 270, 1}, {"mirador_title.tga", 480, 270, 1},
        {"feelgreat480.tga", 480, 270, 1}, {"feelgreat1.tga", 480, 64, 1},
        {"lanterne.tga", 256, 256, 1}, {"looker.tga", 256, 256, 1},
        {"negativelogo.tga", 256, 64, 0},
        {"heightmap.tga", 256, 256, 0}, {"texture0.tga", 256, 256, 0},
        {"texture2.tga", 256, 256, 0}, {"texture3.tga", 256, 256, 0},
        {"particle_r.tga", 16, 16, 0}, {"particle_g.tga", 16, 16, 0}, {"particle_b.tga", 16, 16, 0},
    };
    for (int i = 1; i <= 8; i++) roles.push_back({"square" + std::to_string(i) + ".tga", 50, 50, 1});
    for (int i = 1; i <= 5; i++) roles.push_back({"point" + std::to_string(i) + ".tga", 256, 192, 1});
    for (int i = 1; i <= 25; i++) roles.push_back({"dance" + std::to_string(i) + ".tga", 64, 144, 1});

    for (const role &r : roles) {
        SCOPED_TRACE(r.name);
        std::string log;
        s_bitmap b = load(r.name.c_str(), &log);
        ASSERT_NE(b.pixels, nullptr) << log;
        EXPECT_EQ(log.find("ERROR"), std::string::npos) << log;
        if (r.w > 0) {
            EXPECT_EQ(b.width, r.w);
            EXPECT_EQ(b.height, r.h);
        }
        int seen = 0, total = 0;
        for (int y = 0; y < b.height; y++)
            for (int x = 0; x < b.width; x++) {
                seen += clear(px(b, x, y));
                total++;
            }
        if (r.transparent) {
            EXPECT_GT(seen, 0) << "a sprite with no see-through pixel";
            EXPECT_LT(seen, total) << "an empty sprite";
        } else {
            EXPECT_EQ(seen, 0) << "an opaque picture with keyed pixels";
        }
        free(b.pixels);
    }
    corefile_closeimage();
}

// The pictures whose placement the scenes fix: content where it is drawn.
TEST_F(MkdataImage, PicturesKeepTheirContentWhereTheScenesShowIt)
{
    ASSERT_EQ(corefile_mountimage(image_path, 0), 1);
    std::string log;
    // The lower strip rises into the bottom 64 rows: nothing above them.
    s_bitmap fg = load("feelgreat480.tga", &log);
    ASSERT_NE(fg.pixels, nullptr);
    int above = 0, below = 0;
    for (int y = 0; y < 270; y++)
        for (int x = 0; x < 480; x++) (y < 206 ? above : below) += !clear(px(fg, x, y));
    EXPECT_EQ(above, 0);
    EXPECT_GT(below, 480 * 64 / 2);
    free(fg.pixels);
    // The tape's middle three tenths hold the fractal: the cassette around it is solid.
    s_bitmap vhs = load("vhs.tga", &log);
    ASSERT_NE(vhs.pixels, nullptr);
    for (int y = 60; y < 210; y += 10) EXPECT_FALSE(clear(px(vhs, 240, y)));
    free(vhs.pixels);
    // Dancers are 1 : 2.25.
    s_bitmap d = load("dance1.tga", &log);
    ASSERT_NE(d.pixels, nullptr);
    EXPECT_EQ(d.width * 9, d.height * 4);
    free(d.pixels);
    corefile_closeimage();
}

TEST_F(MkdataImage, MapsAreSeamlessAndShapedForTheirEffects)
{
    ASSERT_EQ(corefile_mountimage(image_path, 0), 1);
    std::string log;
    // Height map and tunnel wall wrap: the step across the seam is no larger than
    // the steps inside the map.
    for (const char *name : {"heightmap.tga", "texture2.tga"}) {
        SCOPED_TRACE(name);
        s_bitmap b = load(name, &log);
        ASSERT_NE(b.pixels, nullptr);
        auto step = [&](int x0, int y0, int x1, int y1) {
            uint32_t a = px(b, x0, y0), c = px(b, x1, y1);
            return abs((int)(a & 255) - (int)(c & 255)) + abs((int)((a >> 8) & 255) - (int)((c >> 8) & 255));
        };
        double seam = 0, inside = 0;
        for (int i = 0; i < 256; i++) {
            seam += step(255, i, 0, i) + step(i, 255, i, 0);
            inside += step(127, i, 128, i) + step(i, 127, i, 128);
        }
        EXPECT_LE(seam, inside * 1.5 + 256);
        free(b.pixels);
    }
    // The height map uses a real range of heights (its lowest colour byte).
    s_bitmap h = load("heightmap.tga", &log);
    ASSERT_NE(h.pixels, nullptr);
    int lo = 255, hi = 0;
    for (int y = 0; y < 256; y++)
        for (int x = 0; x < 256; x++) {
            int v = (int)(px(h, x, y) & 255);
            lo = v < lo ? v : lo;
            hi = v > hi ? v : hi;
        }
    EXPECT_GT(hi - lo, 100);
    free(h.pixels);
    // The landscape reads its colours every 16 texels: each 16 x 16 block is one colour,
    // and the blocks are not all alike.
    s_bitmap c = load("texture3.tga", &log);
    ASSERT_NE(c.pixels, nullptr);
    std::set<uint32_t> colours;
    for (int y = 0; y < 256; y++)
        for (int x = 0; x < 256; x++) EXPECT_EQ(px(c, x, y), px(c, x & ~15, y & ~15)) << x << "," << y;
    for (int y = 0; y < 256; y += 16)
        for (int x = 0; x < 256; x += 16) colours.insert(px(c, x, y));
    EXPECT_GE(colours.size(), 16u);
    free(c.pixels);
    // Row 1 of the plane texture colours the title's rays: a rich, wrapping gradient.
    s_bitmap t = load("texture0.tga", &log);
    ASSERT_NE(t.pixels, nullptr);
    std::set<uint32_t> row;
    int jump = 0;
    for (int x = 0; x < 256; x++) {
        row.insert(px(t, x, 1));
        uint32_t a = px(t, x, 1), b = px(t, (x + 1) & 255, 1);
        for (int sh = 0; sh < 24; sh += 8) {
            int d = abs((int)((a >> sh) & 255) - (int)((b >> sh) & 255));
            jump = d > jump ? d : jump;
        }
    }
    EXPECT_GE(row.size(), 128u);
    EXPECT_LE(jump, 24);
    free(t.pixels);
    corefile_closeimage();
}

TEST_F(MkdataImage, FontSheetMarksEveryGlyphFromSpaceToTilde)
{
    ASSERT_EQ(corefile_mountimage(image_path, 0), 1);
    std::string log;
    s_bitmap f = load("font_heat.tga", &log);
    ASSERT_NE(f.pixels, nullptr);
    EXPECT_TRUE(clear(px(f, 0, 0))) << "column 0 must not be a marker";
    std::vector<int> marks;
    for (int x = 0; x < f.width; x++)
        if (!clear(px(f, x, 0))) marks.push_back(x);
    // Glyph 1 (space) starts at column 1 unmarked; '!' to '~' start at 94 markers.
    ASSERT_EQ(marks.size(), 94u);
    EXPECT_GE(marks[0], 3);   // the space is a few pixels wide
    for (size_t i = 1; i < marks.size(); i++) EXPECT_GE(marks[i] - marks[i - 1], 3);
    EXPECT_GE(f.height - 1, 10);
    // The 'A' glyph (the 33rd marker, glyph 34) has visible pixels below the marker row.
    int from = marks[32], to = marks[33], ink = 0;
    for (int y = 1; y < f.height; y++)
        for (int x = from; x < to; x++) ink += !clear(px(f, x, y));
    EXPECT_GT(ink, 20);
    free(f.pixels);
    corefile_closeimage();
}

TEST_F(MkdataImage, FontSheetCutsIntoTheEnginesFont)
{
    ASSERT_EQ(corefile_mountimage(image_path, 0), 1);
    static s_font font;   // the engine's registries keep its address
    testing::internal::CaptureStdout();
    ORB_InitFont("font_heat.tga", &font);
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(log.find("ERROR"), std::string::npos) << log;
    ASSERT_NE(font.sheet, nullptr);
    EXPECT_EQ(font.numletters, 96);
    EXPECT_EQ(font.widths[0], 1);
    int sum = 0;
    for (int i = 0; i < font.numletters; i++) sum += font.widths[i];
    EXPECT_EQ(sum, font.sheet->width);
    EXPECT_EQ(font.height, font.sheet->height - 1);
    EXPECT_GE(font.widths[1], 3);                     // space
    EXPECT_GT(font.widths['W' - 31], font.widths['i' - 31]);
    corefile_closeimage();
}

// The intro and finale mix their backgrounds with a pass that exchanges red and blue
// on the way to the screen: what it shows must be the picture as drawn, a gold sun
// in a dark blue-violet sky, not a blue sun in a brown one.
TEST_F(MkdataImage, IntroBackgroundsShowTheirOwnColoursThroughTheDissolve)
{
    ASSERT_EQ(corefile_mountimage(image_path, 0), 1);
    std::string log;
    s_bitmap a = load("introbg1.tga", &log), b = load("introbg2.tga", &log), t;
    ASSERT_NE(a.pixels, nullptr);
    ASSERT_NE(b.pixels, nullptr);
    ORB_CreateBitmap(480, 270, &t);
    ASSERT_NE(t.pixels, nullptr);
    auto red = [&](int x, int y) { return (int)(px(t, x, y) >> 16 & 255); };
    auto blue = [&](int x, int y) { return (int)(px(t, x, y) & 255); };
    DissolveBitmap(a, b, t, 0);
    EXPECT_GT(red(360, 80), blue(360, 80) + 100) << "the sun";
    EXPECT_GT(blue(10, 5), red(10, 5)) << "the sky's top";
    DissolveBitmap(a, b, t, 255);
    EXPECT_GT(blue(10, 5), red(10, 5)) << "the night sky";
    free(a.pixels);
    free(b.pixels);
    free(t.pixels);
    corefile_closeimage();
}

TEST_F(MkdataImage, EncodingsCoverEveryDecoderPath)
{
    std::set<int> types, depths, origins, mapbits;
    for (auto &e : dir) {
        if (e.first.size() < 4 || e.first.substr(e.first.size() - 4) != ".tga") continue;
        std::vector<uint8_t> b = file(e.first);
        s_tgainfo info;
        ASSERT_EQ(tga_readheader(b.data(), b.size(), &info), 1) << e.first;
        types.insert(info.type);
        depths.insert(info.bpp);
        origins.insert(info.descriptor & 0x30);
        if (info.cmaptype) mapbits.insert(info.cmapbits);
        // Every byte of the file is used: the decoder reaches the last pixel.
        s_bitmap bmp;
        memset(&bmp, 0, sizeof bmp);
        bmp.width = bmp.texwidth = info.width;
        bmp.height = bmp.texheight = info.height;
        bmp.numpixels = info.width * info.height;
        std::vector<uint32_t> pixels((size_t)info.width * info.height);
        bmp.pixels = pixels.data();
        EXPECT_EQ(tga_decode(b.data(), b.size(), bmp), 1) << e.first;
    }
    EXPECT_EQ(types, (std::set<int>{1, 2, 3, 9, 10, 11}));
    EXPECT_EQ(depths, (std::set<int>{8, 16, 24, 32}));
    EXPECT_EQ(origins, (std::set<int>{0x00, 0x20}));
    EXPECT_EQ(mapbits, (std::set<int>{16, 24}));
}

// A second run, with previews this time: the same image byte for byte, and a PNG of
// every picture plus the contact sheet.
TEST_F(MkdataImage, TwoRunsGiveTheSameBytes)
{
    ASSERT_FALSE(img.empty());
    char tmp[] = "/tmp/mkdata_testXXXXXX";
    ASSERT_NE(mkdtemp(tmp), nullptr);
    std::string out = std::string(tmp) + "/again.dat";
    std::string cmd = std::string(BUILD_DIR "/mkdata ") + out + " --preview " + tmp;
    ASSERT_EQ(system(cmd.c_str()), 0);
    std::vector<uint8_t> again = read_all(out.c_str());
    EXPECT_EQ(again.size(), img.size());
    EXPECT_TRUE(again == img) << "mkdata wrote different bytes on a second run";
    unlink(out.c_str());
    for (const std::string &name : expected_names()) {
        if (name.find(".tga") == std::string::npos) continue;
        std::string png = std::string(tmp) + "/" + name.substr(0, name.size() - 4) + ".png";
        std::vector<uint8_t> b = read_all(png.c_str());
        EXPECT_GT(b.size(), 8u) << png;
        EXPECT_TRUE(b.size() > 8 && !memcmp(b.data(), "\x89PNG", 4)) << png;
        unlink(png.c_str());
    }
    std::string sheet = std::string(tmp) + "/contact.png";
    EXPECT_GT(read_all(sheet.c_str()).size(), 10000u);
    unlink(sheet.c_str());
    EXPECT_EQ(rmdir(tmp), 0) << "mkdata left other files behind";
}

TEST(MkdataCommand, RefusesBadArguments)
{
    EXPECT_EQ(WEXITSTATUS(system(BUILD_DIR "/mkdata 2>/dev/null")), 2);
    EXPECT_EQ(WEXITSTATUS(system(BUILD_DIR "/mkdata a.dat b.dat 2>/dev/null")), 2);
    EXPECT_EQ(WEXITSTATUS(system(BUILD_DIR "/mkdata a.dat --preview 2>/dev/null")), 2);
}

// ---- Music -----------------------------------------------------------------------------------

static const int RATE = 44100, PERIOD = 339570;

class MkdataMusic : public testing::Test {
protected:
    static std::vector<int16_t> pcm;   // interleaved stereo
    static int channels, rate, bits;
    static void SetUpTestSuite()
    {
        std::vector<uint8_t> img = read_all(image_path);
        auto dir = directory(img);
        auto it = dir.find("mirador4.wav");
        if (it == dir.end() || it->second.size < 44) return;
        const uint8_t *w = img.data() + it->second.offset;
        if (memcmp(w, "RIFF", 4) || memcmp(w + 8, "WAVEfmt ", 8) || memcmp(w + 36, "data", 4)) return;
        channels = w[22] | w[23] << 8;
        rate = (int)le32(w + 24);
        bits = w[34] | w[35] << 8;
        uint32_t n = le32(w + 40);
        if (n > it->second.size - 44) return;
        pcm.resize(n / 2);
        memcpy(pcm.data(), w + 44, n);
    }
    static double mono(size_t i) { return (pcm[2 * i] + pcm[2 * i + 1]) / 65536.0; }
    static size_t frames() { return pcm.size() / 2; }
};
std::vector<int16_t> MkdataMusic::pcm;
int MkdataMusic::channels, MkdataMusic::rate, MkdataMusic::bits;

TEST_F(MkdataMusic, FormatLengthPeakAndDc)
{
    ASSERT_FALSE(pcm.empty());
    EXPECT_EQ(channels, 2);
    EXPECT_EQ(rate, RATE);
    EXPECT_EQ(bits, 16);
    double seconds = (double)frames() / RATE;
    EXPECT_GT(seconds, 162.0);   // the show lasts 161.7 s
    EXPECT_LT(seconds, 164.0);
    int peak = 0;
    double sum[2] = {0, 0};
    for (size_t i = 0; i < pcm.size(); i++) {
        int v = abs((int)pcm[i]);
        peak = v > peak ? v : peak;
        sum[i & 1] += pcm[i];
    }
    EXPECT_LE(peak, 29204) << "peak above -1 dBFS";   // 32768 * 10^(-1/20)
    EXPECT_GT(peak, 16384) << "the music is far too quiet";
    for (int c = 0; c < 2; c++) EXPECT_LT(fabs(sum[c] / frames()), 0.0002 * 32768) << "DC offset";
}

// Per-period loudness and the share of energy in the low and high bands, in dB.
struct features { double rms, low, high; };
static features measure(size_t a, size_t b, double (*at)(size_t))
{
    double e = 1e-12, lo = 1e-12, hi = 1e-12, l1 = 0, l2 = 0, h1 = 0, x1 = 0;
    const double kl = 0.0211;   // one-pole low-pass near 150 Hz
    const double kh = 0.45;     // one-pole high-pass corner near 4.2 kHz
    for (size_t i = a; i < b; i++) {
        double v = at(i);
        e += v * v;
        l1 += (v - l1) * kl;
        l2 += (l1 - l2) * kl;
        lo += l2 * l2;
        h1 = (1 - kh) * (h1 + v - x1);
        x1 = v;
        hi += h1 * h1;
    }
    return {10 * log10(e / (b - a)), 10 * log10(lo / e), 10 * log10(hi / e)};
}

TEST_F(MkdataMusic, EveryPeriodDiffersFromItsNeighbours)
{
    ASSERT_GE(frames(), (size_t)21 * PERIOD);
    std::vector<features> f;
    for (int p = 0; p < 21; p++) f.push_back(measure((size_t)p * PERIOD, (size_t)(p + 1) * PERIOD, mono));
    for (int p = 1; p < 21; p++) {
        double d = fabs(f[p].rms - f[p - 1].rms);
        d = fmax(d, fabs(f[p].low - f[p - 1].low));
        d = fmax(d, fabs(f[p].high - f[p - 1].high));
        EXPECT_GT(d, 1.0) << "periods " << p + 1 << " and " << p + 2 << " sound alike: rms "
                          << f[p].rms << " low " << f[p].low << " high " << f[p].high;
    }
    // The arc: a quiet intro, the full sections louder, the tape periods dull.
    EXPECT_LT(f[0].rms, f[4].rms - 4);
    EXPECT_LT(f[10].high, f[9].high - 6);
    EXPECT_LT(f[16].rms, f[18].rms - 1.5);   // calm credits below the dance peak
}

TEST_F(MkdataMusic, EveryDownbeatCarriesAnAccent)
{
    ASSERT_GE(frames(), (size_t)21 * PERIOD);
    // Energy in the 120 ms after each bar's first beat against the 120 ms before.
    const size_t w = RATE * 120 / 1000;
    for (int bar = 1; bar < 21 * 4; bar++) {
        size_t at = (size_t)((long)bar * PERIOD / 4);
        features before = measure(at - w, at, mono), after = measure(at, at + w, mono);
        EXPECT_GT(after.rms, before.rms + 2.0) << "bar " << bar << " (period " << bar / 4 + 2 << ")";
    }
}

TEST_F(MkdataMusic, EndsFadedWithoutAJump)
{
    ASSERT_FALSE(pcm.empty());
    size_t n = frames();
    features tail = measure(n - RATE / 2, n, mono);
    EXPECT_LT(tail.rms, -50.0);
    EXPECT_LE(abs((int)pcm[pcm.size() - 1]), 64);
    EXPECT_LE(abs((int)pcm[0]), 64);
}
