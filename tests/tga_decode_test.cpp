// TGA decoding from memory: pixel formats and the key, origins, packets, colour
// maps, interleave, refused headers, damaged files, and agreement with pictures
// decoded by other programs. No GL, no resource layer.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "engine/bitmap.h"
#include "engine/tga.h"

typedef std::vector<uint8_t> bytes;

static const uint32_t UNTOUCHED = 0x12345678u; // buffer value the decoder never makes

// An 18-byte header.
static bytes header(int type, int bpp, int w, int h, int desc = 0x20, int cmaptype = 0,
                    int first = 0, int len = 0, int bits = 0, int idlen = 0)
{
    bytes b(18, 0);
    b[0] = (uint8_t)idlen;
    b[1] = (uint8_t)cmaptype;
    b[2] = (uint8_t)type;
    b[3] = (uint8_t)first;
    b[4] = (uint8_t)(first >> 8);
    b[5] = (uint8_t)len;
    b[6] = (uint8_t)(len >> 8);
    b[7] = (uint8_t)bits;
    b[12] = (uint8_t)w;
    b[13] = (uint8_t)(w >> 8);
    b[14] = (uint8_t)h;
    b[15] = (uint8_t)(h >> 8);
    b[16] = (uint8_t)bpp;
    b[17] = (uint8_t)desc;
    return b;
}

static void add(bytes &b, std::initializer_list<int> v)
{
    for (int x : v) b.push_back((uint8_t)x);
}

// A decoded picture: the bitmap's buffer read back as engine colours, plus the
// decoder's result. The buffer is exactly width x height, so ASan sees any write
// outside it.
struct Decoded {
    int result = 0;
    int w = 0, h = 0;
    std::vector<uint32_t> px; // 0xAARRGGBB, rows top to bottom
    uint32_t at(int x, int y) const { return px[(size_t)y * w + x]; }
};

static Decoded decode(const bytes &file)
{
    Decoded d;
    s_tgainfo info;
    tga_readheader(file.data(), file.size(), &info);
    d.w = info.width > 0 ? info.width : 1;
    d.h = info.height > 0 ? info.height : 1;
    s_bitmap bmp;
    memset(&bmp, 0, sizeof(bmp));
    bmp.width = d.w;
    bmp.height = d.h;
    bmp.numpixels = d.w * d.h;
    bmp.size = bmp.numpixels * 4;
    bmp.pixels = (uint32_t *)malloc((size_t)bmp.size);
    for (int i = 0; i < bmp.numpixels; i++) bmp.pixels[i] = UNTOUCHED;
    // An exact-size copy of the file, so reads past its end are caught too.
    uint8_t *copy = (uint8_t *)malloc(file.size() ? file.size() : 1);
    if (!file.empty()) memcpy(copy, file.data(), file.size());
    d.result = tga_decode(copy, file.size(), bmp);
    free(copy);
    for (int y = 0; y < d.h; y++)
        for (int x = 0; x < d.w; x++) {
            uint32_t raw = bmp.pixels[y * d.w + x];
            d.px.push_back(raw == UNTOUCHED ? UNTOUCHED : ORB_GetPixel(x, y, bmp));
        }
    free(bmp.pixels);
    return d;
}

static bytes readfile(const std::string &path)
{
    bytes b;
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) return b;
    int c;
    while ((c = fgetc(f)) != EOF) b.push_back((uint8_t)c);
    fclose(f);
    return b;
}

static std::string data(const std::string &name) { return std::string(TEST_DATA_DIR) + "/tga/" + name; }

// ---- Pixel formats and the key --------------------------------------------------------

TEST(TgaPixels, DepthsDecodeToEngineColours)
{
    bytes f = header(2, 24, 3, 1);
    add(f, {0x30, 0x20, 0x10, 0xFF, 0x00, 0xFF, 0xFF, 0x00, 0xF0});
    Decoded d = decode(f);
    EXPECT_EQ(d.result, 1);
    EXPECT_EQ(d.at(0, 0), 0xFF102030u);   // bytes blue, green, red
    EXPECT_EQ(d.at(1, 0), 0u);            // pure magenta is keyed out
    EXPECT_EQ(d.at(2, 0), 0xFFF000FFu);   // red 240 is not above 240: kept

    f = header(2, 24, 1, 1);
    add(f, {0xF0, 0x00, 0xFF});           // blue 240
    EXPECT_EQ(decode(f).at(0, 0), 0xFFFF00F0u);

    f = header(2, 32, 3, 1);
    add(f, {0x10, 0x20, 0x30, 0x40, 0xFF, 0x0F, 0xF1, 0x80, 0xFF, 0x10, 0xFF, 0x00});
    d = decode(f);
    EXPECT_EQ(d.at(0, 0), 0x40302010u);   // alpha as stored
    EXPECT_EQ(d.at(1, 0), 0u);            // key whatever the alpha (green 15)
    EXPECT_EQ(d.at(2, 0), 0x00FF10FFu);   // green 16 is not the key; alpha 0 kept

    for (int bpp : {15, 16}) {
        f = header(2, bpp, 4, 1);
        add(f, {0x00, 0x7C, 0x00, 0xFC, 0xFF, 0x7F, 0x1F, 0x7C});
        d = decode(f);
        EXPECT_EQ(d.at(0, 0), 0xFFF80000u) << bpp;  // red 248
        EXPECT_EQ(d.at(1, 0), 0xFFF80000u) << bpp;  // top bit ignored
        EXPECT_EQ(d.at(2, 0), 0xFFF8F8F8u) << bpp;
        EXPECT_EQ(d.at(3, 0), 0u) << bpp;           // 248, 0, 248 is the key
    }

    for (int type : {3, 11}) {
        f = header(type, 8, 2, 1);
        if (type == 3) add(f, {0x7F, 0x00});
        else add(f, {0x00, 0x7F, 0x00, 0x00});
        d = decode(f);
        EXPECT_EQ(d.at(0, 0), 0xFF7F7F7Fu) << type;
        EXPECT_EQ(d.at(1, 0), 0xFF000000u) << type;
    }
}

TEST(TgaPixels, ConvertTranspAndUpcase)
{
    EXPECT_EQ(ConvertTransp((int)0xFFF10FF1u), 0);
    EXPECT_EQ(ConvertTransp(0x00FF00FF), 0);
    EXPECT_EQ(ConvertTransp((int)0xFFF00FF1u), (int)0xFFF00FF1u);
    EXPECT_EQ(ConvertTransp((int)0xFFF110F1u), (int)0xFFF110F1u);
    EXPECT_EQ(ConvertTransp((int)0xFFF10FF0u), (int)0xFFF10FF0u);
    EXPECT_EQ(ConvertTransp(0), 0);

    char s[] = "font_Heat.tga 09~";
    EXPECT_EQ(upcase(s), s);
    EXPECT_STREQ(s, "FONT_HEAT.TGA 09~");
}

// ---- Origins ---------------------------------------------------------------------------

// A 3x2 picture whose file pixels are 1..6 in file order (grey levels 10..60).
static bytes corners(int desc, bool rle)
{
    bytes f = header(rle ? 11 : 3, 8, 3, 2, desc);
    if (rle) add(f, {0x05, 10, 20, 30, 40, 50, 60});
    else add(f, {10, 20, 30, 40, 50, 60});
    return f;
}

TEST(TgaOrigin, FirstPixelAndStepsPerCorner)
{
    struct { int desc; int grid[2][3]; } cases[] = {
        {0x00, {{40, 50, 60}, {10, 20, 30}}},   // bottom-left: first row is the last
        {0x10, {{60, 50, 40}, {30, 20, 10}}},   // bottom-right
        {0x20, {{10, 20, 30}, {40, 50, 60}}},   // top-left
        {0x30, {{30, 20, 10}, {60, 50, 40}}},   // top-right
    };
    for (auto &c : cases)
        for (bool rle : {false, true}) {
            Decoded d = decode(corners(c.desc, rle));
            ASSERT_EQ(d.result, 1);
            for (int y = 0; y < 2; y++)
                for (int x = 0; x < 3; x++)
                    EXPECT_EQ(d.at(x, y) & 0xFF, (uint32_t)c.grid[y][x])
                        << "desc " << c.desc << " rle " << rle << " at " << x << "," << y;
        }
}

// ---- Run-length packets --------------------------------------------------------------

TEST(TgaRle, RunRawAndLastPackets)
{
    // 0x83: one pixel written 4 times; 0x02: three raw pixels; packets cross rows;
    // the last packet is a single raw pixel.
    bytes f = header(10, 24, 4, 2);
    add(f, {0x83, 0x01, 0x02, 0x03});
    add(f, {0x02, 0x10, 0x00, 0x00, 0x20, 0x00, 0x00, 0x30, 0x00, 0x00});
    add(f, {0x00, 0x44, 0x55, 0x66});
    Decoded d = decode(f);
    EXPECT_EQ(d.result, 1);
    for (int x = 0; x < 4; x++) EXPECT_EQ(d.at(x, 0), 0xFF030201u);
    EXPECT_EQ(d.at(0, 1), 0xFF000010u);
    EXPECT_EQ(d.at(1, 1), 0xFF000020u);
    EXPECT_EQ(d.at(2, 1), 0xFF000030u);
    EXPECT_EQ(d.at(3, 1), 0xFF665544u);

    // A run of the key colour writes transparent pixels.
    f = header(10, 24, 2, 1);
    add(f, {0x81, 0xFF, 0x00, 0xFF});
    d = decode(f);
    EXPECT_EQ(d.at(0, 0), 0u);
    EXPECT_EQ(d.at(1, 0), 0u);
}

TEST(TgaRle, PacketsPastTheLastRowAreDropped)
{
    // 2x2 picture, one run of 128 and one raw packet of 128 that the file holds only
    // partly: nothing lands outside the buffer, every pixel is set.
    for (int raw = 0; raw < 2; raw++) {
        bytes f = header(11, 8, 2, 2, 0x00);
        if (raw) {
            f.push_back(0x7F);
            for (int i = 0; i < 10; i++) f.push_back((uint8_t)(i + 1));
        } else {
            add(f, {0xFF, 0x42});
        }
        Decoded d = decode(f);
        EXPECT_EQ(d.result, 1) << raw;
        // bottom-left: file pixels 1, 2 fill the last row, 3, 4 the first
        EXPECT_EQ(d.at(0, 1) & 0xFF, raw ? 1u : 0x42u);
        EXPECT_EQ(d.at(1, 0) & 0xFF, raw ? 4u : 0x42u);
    }
}

// ---- Colour maps -------------------------------------------------------------------

TEST(TgaColourMap, EntrySizesAndFirstIndex)
{
    // Type 1 with 24-bit entries starting at slot 2: indices 0 and 1 hit cleared slots.
    bytes f = header(1, 8, 4, 1, 0x20, 1, 2, 2, 24);
    add(f, {0x11, 0x22, 0x33, 0xFF, 0x00, 0xFF});
    add(f, {2, 3, 0, 1});
    Decoded d = decode(f);
    EXPECT_EQ(d.result, 1);
    EXPECT_EQ(d.at(0, 0), 0xFF332211u);
    EXPECT_EQ(d.at(1, 0), 0u);            // the key in a map is keyed too
    EXPECT_EQ(d.at(2, 0), 0u);
    EXPECT_EQ(d.at(3, 0), 0u);

    // 15- and 16-bit entries decode like 16-bit pixels (top bit ignored).
    for (int bits : {15, 16}) {
        f = header(9, 8, 2, 1, 0x20, 1, 0, 2, bits);
        add(f, {0x00, 0xFC, 0xE0, 0x03});
        add(f, {0x00, 0x00, 0x00, 0x01});     // raw packet of 1, then raw packet of 1
        d = decode(f);
        EXPECT_EQ(d.result, 1);
        EXPECT_EQ(d.at(0, 0), 0xFFF80000u) << bits;
        EXPECT_EQ(d.at(1, 0), 0xFF00F800u) << bits;
    }

    // First index 250 with 10 entries: slots 250..255 are filled, the other four are
    // read and dropped, and the pixels after the map are still found.
    f = header(1, 8, 2, 1, 0x20, 1, 250, 10, 24);
    for (int i = 0; i < 10; i++) add(f, {i, 0, 0});
    add(f, {250, 255});
    d = decode(f);
    EXPECT_EQ(d.result, 1);
    EXPECT_EQ(d.at(0, 0), 0xFF000000u);
    EXPECT_EQ(d.at(1, 0), 0xFF000005u);

    // A true-colour picture may carry a map of another entry size: it is skipped.
    f = header(2, 24, 1, 1, 0x20, 1, 0, 3, 32);
    for (int i = 0; i < 12; i++) f.push_back(0xEE);
    add(f, {0x01, 0x02, 0x03});
    d = decode(f);
    EXPECT_EQ(d.result, 1);
    EXPECT_EQ(d.at(0, 0), 0xFF030201u);

    // ID field skipped before the map.
    f = header(1, 8, 1, 1, 0x20, 1, 0, 1, 24, 5);
    add(f, {'h', 'e', 'l', 'l', 'o', 0x07, 0x08, 0x09, 0});
    EXPECT_EQ(decode(f).at(0, 0), 0xFF090807u);
}

// ---- Interleave ----------------------------------------------------------------------

TEST(TgaInterleave, EveryRowOnceInPassOrder)
{
    // Two-way: the file holds rows 0, 2, 4 then 1, 3 (counted from the origin).
    bytes f = header(3, 8, 1, 5, 0x20 | 0x40);
    add(f, {0, 2, 4, 1, 3});
    Decoded d = decode(f);
    EXPECT_EQ(d.result, 1);
    for (int y = 0; y < 5; y++) EXPECT_EQ(d.at(0, y) & 0xFF, (uint32_t)y);

    // Four-way from the bottom-left corner; bit 7 wins over bit 6.
    f = header(3, 8, 1, 6, 0x80 | 0x40);
    add(f, {0, 4, 1, 5, 2, 3});
    d = decode(f);
    EXPECT_EQ(d.result, 1);
    for (int r = 0; r < 6; r++) EXPECT_EQ(d.at(0, 5 - r) & 0xFF, (uint32_t)r);

    // Run-length files ignore the interleave bits.
    f = header(11, 8, 1, 3, 0x20 | 0x40);
    add(f, {0x02, 0, 1, 2});
    d = decode(f);
    for (int y = 0; y < 3; y++) EXPECT_EQ(d.at(0, y) & 0xFF, (uint32_t)y);
}

// ---- Refused headers ---------------------------------------------------------------

TEST(TgaHeader, RefusedAndAccepted)
{
    s_tgainfo info;
    struct { bytes h; int ok; const char *what; } cases[] = {
        {header(0, 8, 4, 4), 0, "type 0"},
        {header(4, 24, 4, 4), 0, "type 4"},
        {header(32, 24, 4, 4), 0, "type 32"},
        {header(2, 7, 4, 4), 0, "depth 7"},
        {header(2, 12, 4, 4), 0, "depth 12"},
        {header(2, 64, 4, 4), 0, "depth 64"},
        {header(2, 24, 0, 4), 0, "width 0"},
        {header(2, 24, 4, 0), 0, "height 0"},
        {header(2, 24, 16385, 1), 0, "width 16385"},
        {header(2, 24, 1, 65535), 0, "height 65535"},
        {header(1, 8, 4, 4, 0x20, 0), 0, "colour-mapped without map"},
        {header(9, 8, 4, 4, 0x20, 1, 0, 4, 32), 0, "32-bit map entries"},
        {header(1, 8, 4, 4, 0x20, 1, 0, 4, 8), 0, "8-bit map entries"},
        {header(2, 24, 16384, 16384), 1, "16384 on a side"},
        {header(3, 16, 4, 4), 1, "greyscale type, 16 bits"},
        {header(2, 8, 4, 4), 1, "true-colour type, 8 bits"},
    };
    for (auto &c : cases) {
        EXPECT_EQ(tga_readheader(c.h.data(), c.h.size(), &info), c.ok) << c.what;
        if (!c.ok) {
            Decoded d = decode(c.h);
            EXPECT_EQ(d.result, 0) << c.what;
            EXPECT_EQ(d.px[0], UNTOUCHED) << c.what;
        }
    }
    bytes h = header(2, 24, 4, 4);
    for (size_t n = 0; n < 18; n++) EXPECT_EQ(tga_readheader(h.data(), n, &info), 0) << n;
    EXPECT_EQ(tga_readheader(NULL, 0, &info), 0);

    // A bitmap of another size than the header's is refused, not overrun.
    bytes f = header(2, 24, 4, 4);
    s_bitmap small;
    memset(&small, 0, sizeof(small));
    uint32_t px[4];
    small.width = 2, small.height = 2, small.numpixels = 4, small.pixels = px;
    EXPECT_EQ(tga_decode(f.data(), f.size(), small), 0);
}

// ---- Damaged files ------------------------------------------------------------------

// Every truncation decodes a prefix of the full picture and leaves the rest alone.
static void check_truncations(const bytes &full)
{
    Decoded whole = decode(full);
    ASSERT_EQ(whole.result, 1);
    for (size_t n = 18; n < full.size(); n++) {
        bytes cut(full.begin(), full.begin() + n);
        Decoded d = decode(cut);
        EXPECT_EQ(d.result, -1) << n;
        for (size_t i = 0; i < d.px.size(); i++)
            if (d.px[i] != UNTOUCHED) { EXPECT_EQ(d.px[i], whole.px[i]) << n << " " << i; }
    }
    for (size_t n = 0; n < 18; n++) {
        bytes cut(full.begin(), full.begin() + n);
        EXPECT_EQ(decode(cut).result, 0) << n;
    }
}

TEST(TgaDamaged, EveryTruncation)
{
    bytes raw = header(2, 32, 5, 3, 0x00);
    for (int i = 0; i < 15; i++) add(raw, {i, 2 * i, 3 * i, 255});
    check_truncations(raw);

    bytes rle = header(9, 8, 5, 3, 0x30, 1, 0, 3, 16, 2);
    add(rle, {'i', 'd', 0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00});
    add(rle, {0x84, 1, 0x02, 0, 2, 1, 0x81, 2, 0x04, 0, 0, 1, 1, 2});
    check_truncations(rle);

    bytes mapped = header(1, 8, 3, 2, 0x20, 1, 0, 4, 24);
    for (int i = 0; i < 4; i++) add(mapped, {i, i, i});
    add(mapped, {0, 1, 2, 3, 2, 1});
    check_truncations(mapped);
}

TEST(TgaDamaged, HugeSizesAndEmptyData)
{
    // A header promising the largest picture, with no pixel bytes: refused or
    // stopped at once, never read past the data.
    bytes f = header(10, 32, 16384, 16384);
    s_tgainfo info;
    EXPECT_EQ(tga_readheader(f.data(), f.size(), &info), 1);
    s_bitmap bmp;
    memset(&bmp, 0, sizeof(bmp));
    uint32_t one = UNTOUCHED;
    bmp.width = 16384, bmp.height = 16384, bmp.numpixels = 1, bmp.pixels = &one;
    EXPECT_EQ(tga_decode(f.data(), f.size(), bmp), 0);   // buffer too small: refused

    // A map longer than the file, an ID field longer than the file.
    f = header(1, 8, 2, 2, 0x20, 1, 0, 65535, 24);
    add(f, {1, 2, 3});
    EXPECT_EQ(decode(f).result, -1);
    f = header(2, 24, 2, 2, 0x20, 0, 0, 0, 0, 255);
    add(f, {1, 2, 3});
    Decoded d = decode(f);
    EXPECT_EQ(d.result, -1);
    EXPECT_EQ(d.px[0], UNTOUCHED);
}

// ---- Pictures from other programs ------------------------------------------------------

// Raw RGBA bytes to engine colours.
static std::vector<uint32_t> rgba(const bytes &b)
{
    std::vector<uint32_t> v;
    for (size_t i = 0; i + 3 < b.size(); i += 4)
        v.push_back((uint32_t)b[i + 3] << 24 | (uint32_t)b[i] << 16 | (uint32_t)b[i + 1] << 8 | b[i + 2]);
    return v;
}

// Five bits per channel, as 15- and 16-bit colours keep them here.
static uint32_t five(uint32_t c) { return (c & 0xFF000000u) | (c & 0x00F8F8F8u); }

// alpha0: the file stores alpha 0 in every pixel, which is kept as stored, while
// the expected picture was made opaque.
static void expect_picture(const std::string &tga, const std::vector<uint32_t> &ref, bool fivebit,
                           bool alpha0 = false)
{
    Decoded d = decode(readfile(data(tga)));
    ASSERT_EQ(d.result, 1) << tga;
    ASSERT_EQ(d.px.size(), ref.size()) << tga;
    int bad = 0;
    for (size_t i = 0; i < ref.size() && bad < 5; i++) {
        uint32_t want = (uint32_t)ConvertTransp((int)(fivebit ? five(ref[i]) : ref[i]));
        if (alpha0) want &= 0x00FFFFFFu;
        if (d.px[i] != want) {
            bad++;
            ADD_FAILURE() << tga << " pixel " << i % d.w << "," << i / d.w << ": got " << std::hex
                          << d.px[i] << " want " << want;
        }
    }
}

// ImageMagick wrote each file and decoded it (tests/data/tga/make_reference.sh),
// orienting its result by the file's corner. Its decoding scales 5-bit channels to 0..255; here they keep their five bits
// (255 reads as 248), so 16-bit files compare on the top five bits of each channel.
TEST(TgaReference, ImageMagickPictures)
{
    const char *names[] = {"t1_8", "t9_8", "t2_16", "t10_16", "t2_24", "t10_24",
                           "t2_32", "t10_32", "t3_8", "t11_8"};
    for (const char *n : names)
        for (const char *o : {"tl", "bl"}) {
            std::string f = std::string("im/") + n + "_" + o + ".tga";
            std::vector<uint32_t> ref = rgba(readfile(data(f + ".rgba")));
            ASSERT_EQ(ref.size(), 37u * 23u) << f;
            expect_picture(f, ref, strstr(n, "_16") != NULL);
        }
    // The source picture has the key block at columns 10..13 of rows 8..10: it must
    // come out transparent, the right way up.
    Decoded d = decode(readfile(data("im/t2_24_tl.tga")));
    EXPECT_EQ(d.at(10, 8), 0u);
    EXPECT_EQ(d.at(13, 10), 0u);
    EXPECT_NE(d.at(10, 11), 0u);
    EXPECT_EQ(d.at(0, 0), 0xFF28C85Au);
}

// Files written by other programs, against their expected pictures (README there).
TEST(TgaReference, SampleFiles)
{
    struct { const char *tga, *png; bool fivebit, alpha0; } cases[] = {
        {"cbw8.tga", "bw.png", false, false},   {"ubw8.tga", "bw.png", false, false},
        {"ctc32.tga", "color.png", false, true},      {"ctc24.tga", "color.png", false, false},
        {"ctc16.tga", "color.png", true, false},       {"ccm8.tga", "color.png", true, false},
        {"ucm8.tga", "color.png", true, false},        {"utc32.tga", "color.png", false, true},
        {"utc24.tga", "color.png", false, false},      {"utc16.tga", "color.png", true, false},
        {"monochrome8_bottom_left.tga", "monochrome8.png", false, false},
        {"monochrome8_bottom_left_rle.tga", "monochrome8.png", false, false},
        {"rgb24_bottom_left_rle.tga", "rgb24.0.png", false, false},
        {"rgb24_top_left.tga", "rgb24.0.png", false, false},
        {"rgb24_top_left_colormap.tga", "rgb24.1.png", false, false},
        {"rgb32_bottom_left.tga", "rgb32.0.png", false, false},
        {"rgb32_top_left_rle.tga", "rgb32.0.png", false, false},
    };
    for (auto &c : cases)
        expect_picture(c.tga, rgba(readfile(data(std::string(c.png) + ".rgba"))), c.fivebit, c.alpha0);

    // 16-bit greyscale-with-alpha files: here a 16-bit pixel is always a 5-5-5
    // colour, so grey g with alpha a (stored as the value g + 256 a) reads as that
    // colour, not as grey.
    std::vector<uint32_t> ref = rgba(readfile(data("monochrome16.png.rgba")));
    for (uint32_t &c : ref) {
        uint32_t v = (c & 0xFF) | (c >> 24) << 8;
        c = 0xFF000000u | (((v >> 10) << 3) & 0xFF) << 16 | (((v >> 5) << 3) & 0xFF) << 8 | ((v << 3) & 0xFF);
    }
    expect_picture("monochrome16_top_left.tga", ref, false);
    expect_picture("monochrome16_top_left_rle.tga", ref, false);

    // A 32-bit colour map is not one of the entry sizes read here: refused.
    bytes f = readfile(data("rgb32_top_left_rle_colormap.tga"));
    ASSERT_FALSE(f.empty());
    EXPECT_EQ(decode(f).result, 0);
}
