// Loading TGA files through the resource layer: name extensions, console lines,
// the error path, short files, static bitmaps and the bitmap registry. No display.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "corefile/corefile.h"
#include "engine/bitmap.h"
#include "engine/tga.h"
#include "testutil_os.h"

static std::string tmpdir;

class TgaLoad : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        tmpdir = tu_mkdtemp("tga_load_test");
        ASSERT_NE(tmpdir, "");
        ASSERT_TRUE(corefile_mountimage(tmpdir.c_str(), 2));
    }
    static void TearDownTestSuite()
    {
        corefile_closeimage();
        if (tu_rmtree(tmpdir) != 0) printf("could not remove %s\n", tmpdir.c_str());
    }
};

static void write_file(const char *name, const std::vector<uint8_t> &b)
{
    FILE *f = fopen((tmpdir + "/" + name).c_str(), "wb");
    ASSERT_NE(f, nullptr);
    if (!b.empty()) fwrite(b.data(), 1, b.size(), f);
    fclose(f);
}

static std::vector<uint8_t> header(int type, int bpp, int w, int h, int desc = 0x20)
{
    std::vector<uint8_t> b(18, 0);
    b[2] = (uint8_t)type;
    b[12] = (uint8_t)w, b[13] = (uint8_t)(w >> 8), b[14] = (uint8_t)h, b[15] = (uint8_t)(h >> 8);
    b[16] = (uint8_t)bpp, b[17] = (uint8_t)desc;
    return b;
}

// Runs fn with standard output captured and returns what it printed.
template <typename F> static std::string output_of(F fn)
{
    testing::internal::CaptureStdout();
    fn();
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

TEST_F(TgaLoad, ConsoleLinesAndPixels)
{
    std::vector<uint8_t> f = header(2, 32, 64, 32);
    for (int i = 0; i < 64 * 32; i++) {
        uint8_t px[4] = {(uint8_t)i, 0x40, 0x80, 0xC0};
        if (i == 1) px[0] = 0xFF, px[1] = 0x00, px[2] = 0xFF;   // magenta: keyed out
        f.insert(f.end(), px, px + 4);
    }
    write_file("raw.tga", f);
    static s_bitmap bmp;
    int n = orb_numbitmaps;
    std::string out = output_of([] { ORB_LoadBitmap("raw.tga", &bmp); });
    EXPECT_EQ(out, "Loading TGA image.width: 64, height: 32, bpp: 32\n");
    ASSERT_NE(bmp.pixels, nullptr);
    EXPECT_EQ(orb_numbitmaps, n + 1);
    EXPECT_EQ(orb_bitmaplist[n], &bmp);
    EXPECT_EQ(bmp.width, 64);
    EXPECT_EQ(bmp.height, 32);
    EXPECT_EQ(ORB_GetPixel(0, 0, bmp), 0xC0804000u);
    EXPECT_EQ(ORB_GetPixel(1, 0, bmp), 0u);
    EXPECT_EQ(ORB_GetPixel(2, 0, bmp), 0xC0804002u);

    std::vector<uint8_t> r = header(10, 32, 64, 32);
    for (int i = 0; i < 16; i++) {
        uint8_t run[5] = {0xFF, 1, 2, 3, 4};
        r.insert(r.end(), run, run + 5);
    }
    write_file("runs.tga", r);
    static s_bitmap rle;
    out = output_of([] { ORB_LoadBitmap("runs.tga", &rle); });
    EXPECT_EQ(out, "Loading TGA image.width: 64, height: 32, bpp: 32\nTGA is RLE packed.");
    ASSERT_NE(rle.pixels, nullptr);
    EXPECT_EQ(ORB_GetPixel(63, 31, rle), 0x04030201u);
}

TEST_F(TgaLoad, Extensions)
{
    std::vector<uint8_t> f = header(3, 8, 2, 2);
    f.insert(f.end(), {1, 2, 3, 4});
    write_file("pic.tga", f);
    write_file("pic.png", f);
    write_file("pic", f);
    write_file(".tga", f);
    write_file("pic.abcdefghijklmno", f);

    static s_bitmap bmp;
    EXPECT_EQ(output_of([] { ORB_LoadBitmap("pic.tga", &bmp); }).rfind("Loading TGA image.", 0), 0u);
    EXPECT_NE(bmp.pixels, nullptr);
    // Any case of the extension is taken.
    for (const char *name : {"pic.TGA", "pic.Tga"}) {
        static s_bitmap other;
        EXPECT_EQ(output_of([&] { ORB_LoadBitmap(name, &other); }).rfind("Loading TGA image.", 0), 0u) << name;
    }

    for (const char *name : {"pic.png", "pic", ".tga", "pic.abcdefghijklmno", "dir.tga/pic"}) {
        static s_bitmap untouched;
        memset(&untouched, 0x5A, sizeof(untouched));
        s_bitmap before = untouched;
        int n = orb_numbitmaps;
        std::string out = output_of([&] { ORB_LoadBitmap(name, &untouched); });
        EXPECT_EQ(out, "File format not supported.\n") << name;
        EXPECT_EQ(memcmp(&before, &untouched, sizeof(before)), 0) << name;
        EXPECT_EQ(orb_numbitmaps, n) << name;
    }
}

TEST_F(TgaLoad, ErrorPath)
{
    static s_bitmap bmp;
    bmp.pixels = (uint32_t *)&bmp;   // any non-null value: a failed load sets it to null
    std::string out = output_of([] { ORB_LoadBitmap("missing.tga", &bmp); });
    EXPECT_EQ(out, "Loading TGA image.- ERROR: Image missing.tga not loaded.\n");
    EXPECT_EQ(bmp.pixels, nullptr);

    std::vector<uint8_t> shorter = header(2, 24, 4, 4);
    shorter.pop_back();
    struct { const char *name; std::vector<uint8_t> data; const char *sizeline; } cases[] = {
        {"depth12.tga", header(2, 12, 4, 4), "width: 4, height: 4, bpp: 12\n"},
        {"type0.tga", header(0, 24, 4, 4), "width: 4, height: 4, bpp: 24\n"},
        {"wide.tga", header(2, 24, 40000, 1), "width: 40000, height: 1, bpp: 24\n"},
        {"empty.tga", header(2, 24, 0, 7), "width: 0, height: 7, bpp: 24\n"},
        {"nomap.tga", header(1, 8, 4, 4), "width: 4, height: 4, bpp: 8\n"},
        {"short.tga", shorter, ""},
        {"zero.tga", {}, ""},
    };
    for (auto &c : cases) {
        write_file(c.name, c.data);
        int n = orb_numbitmaps;
        out = output_of([&] { ORB_LoadBitmap(c.name, &bmp); });
        EXPECT_EQ(out, std::string("Loading TGA image.") + c.sizeline + "- ERROR: Image " + c.name + " not loaded.\n");
        EXPECT_EQ(bmp.pixels, nullptr) << c.name;
        EXPECT_EQ(orb_numbitmaps, n) << c.name;
    }
}

TEST_F(TgaLoad, ShortFileLoadsWhatItHolds)
{
    // 3 x 2 bottom-left, 24-bit, holding 4 of its 6 pixels: the last row comes in,
    // then one pixel of the first; the pixels the file does not reach are 0.
    std::vector<uint8_t> f = header(2, 24, 3, 2, 0x00);
    for (int i = 0; i < 4; i++) f.insert(f.end(), {(uint8_t)(i + 1), 0, 0});
    write_file("cut.tga", f);
    static s_bitmap bmp;
    output_of([] { ORB_LoadBitmap("cut.tga", &bmp); });
    ASSERT_NE(bmp.pixels, nullptr);
    EXPECT_EQ(ORB_GetPixel(0, 1, bmp), 0xFF000001u);
    EXPECT_EQ(ORB_GetPixel(2, 1, bmp), 0xFF000003u);
    EXPECT_EQ(ORB_GetPixel(0, 0, bmp), 0xFF000004u);
    EXPECT_EQ(ORB_GetPixel(1, 0, bmp), 0u);
    EXPECT_EQ(ORB_GetPixel(2, 0, bmp), 0u);
}

TEST_F(TgaLoad, StaticBitmapKeepsOnlyTheTexture)
{
    std::vector<uint8_t> f = header(3, 8, 2, 2);
    f.insert(f.end(), {1, 2, 3, 4});
    write_file("static.tga", f);
    static s_bitmap bmp;
    int n = orb_numbitmaps;
    output_of([] { ORB_LoadStaticBitmap("static.tga", &bmp); });
    EXPECT_EQ(bmp.pixels, nullptr);
    EXPECT_EQ(bmp.width, 2);
    EXPECT_EQ(orb_numbitmaps, n + 1);

    // A refused name leaves a record's existing buffer alone.
    static s_bitmap owned;
    output_of([] { ORB_LoadBitmap("static.tga", &owned); });
    uint32_t *buffer = owned.pixels;
    ASSERT_NE(buffer, nullptr);
    output_of([] { ORB_LoadStaticBitmap("static.png", &owned); });
    EXPECT_EQ(owned.pixels, buffer);
    EXPECT_EQ(ORB_GetPixel(1, 1, owned), 0xFF040404u);
}
