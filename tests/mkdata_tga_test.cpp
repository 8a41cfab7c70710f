// The asset generator's file encoders against the engine's own readers: every TGA
// encoding decoded by tga_decode, WAV files read back by the sound loader, and
// PNG previews decoded by stb_image. The encoders are compiled in from tools/mkdata/.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "corefile/corefile.h"
#include "engine/bitmap.h"
#include "engine/tga.h"
#include "sound/coresound.h"
#include "sound/loadwav.h"
#include "tools/mkdata/writers.cpp"

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>

// A test picture: gradients, long runs (past the 128-pixel packet limit), the key
// colour, a colour right next to the key, and a checker of two colours.
static mk_image test_picture(int w, int h, int few_colours)
{
    mk_image img;
    img.w = w;
    img.h = h;
    img.px = (uint32_t *)malloc((size_t)w * h * 4);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            uint32_t c;
            if (y % 5 == 0) c = 0xFF204080u;                        // a whole row alike
            else if (x < 7) c = MK_KEY;                               // see-through edge
            else if (x == 7) c = 0xFFFF10FFu;                         // next to the key: kept
            else if (y % 5 == 1) c = (x ^ y) & 1 ? 0xFFFFFFFFu : 0xFF000000u;
            else if (few_colours) c = 0xFF000000u | (uint32_t)((x * 37 + y * 11) % 60) * 0x030405u;
            else c = 0xFF000000u | (uint32_t)(x * 3 & 255) << 16 | (uint32_t)(y * 7 & 255) << 8 | (uint32_t)((x + y) & 255);
            img.px[y * w + x] = c;
        }
    return img;
}

// What the loader must give for colour c stored with the given encoding.
static uint32_t expected(uint32_t c, int type, int depth, int mapbits)
{
    if (type == 3 || type == 11) {
        uint32_t g = (c >> 8) & 255;
        c = 0xFF000000u | g * 0x010101u;
    } else if (depth == 16 || mapbits == 16) {
        c = 0xFF000000u | (c & 0xF8F8F8u);
    }
    int r = (c >> 16) & 255, g = (c >> 8) & 255, b = c & 255;
    return r > 240 && g < 16 && b > 240 ? 0 : c;
}

static std::vector<uint32_t> decode(const uint8_t *data, uint32_t size, int w, int h, int *result)
{
    std::vector<uint32_t> pixels((size_t)w * h, 0xDEADBEEFu);
    s_bitmap bmp;
    memset(&bmp, 0, sizeof bmp);
    bmp.width = bmp.texwidth = w;
    bmp.height = bmp.texheight = h;
    bmp.numpixels = w * h;
    bmp.pixels = pixels.data();
    *result = tga_decode(data, size, bmp);
    std::vector<uint32_t> out;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) out.push_back(ORB_GetPixel(x, y, bmp));
    return out;
}

TEST(MkdataTga, EveryEncodingDecodesBackThroughTheEngine)
{
    struct { int type, depth, mapbits; } enc[] = {
        {2, 16, 0}, {2, 24, 0}, {2, 32, 0}, {10, 16, 0}, {10, 24, 0}, {10, 32, 0},
        {3, 8, 0}, {11, 8, 0}, {1, 8, 16}, {1, 8, 24}, {9, 8, 16}, {9, 8, 24},
    };
    for (auto &e : enc)
        for (int origin : {MK_ORIGIN_BOTTOM_LEFT, MK_ORIGIN_TOP_LEFT}) {
            SCOPED_TRACE("type " + std::to_string(e.type) + " depth " + std::to_string(e.depth) +
                         " map " + std::to_string(e.mapbits) + " origin " + std::to_string(origin));
            int mapped = e.type == 1 || e.type == 9;
            mk_image img = test_picture(301, 23, mapped);
            uint32_t size = 0;
            uint8_t *data = mk_tga(&img, e.type, e.depth, e.mapbits, origin, &size);
            ASSERT_NE(data, nullptr);
            int result = 0;
            std::vector<uint32_t> got = decode(data, size, img.w, img.h, &result);
            EXPECT_EQ(result, 1);
            int wrong = 0;
            for (int i = 0; i < img.w * img.h; i++)
                if (got[i] != expected(img.px[i], e.type, e.depth, e.mapbits) && wrong++ < 3)
                    ADD_FAILURE() << "pixel " << i % img.w << "," << i / img.w << ": got " << std::hex
                                  << got[i] << " want " << expected(img.px[i], e.type, e.depth, e.mapbits);
            EXPECT_EQ(wrong, 0);
            // One byte short: the decoder must notice the missing pixel.
            decode(data, size - 1, img.w, img.h, &result);
            EXPECT_EQ(result, -1);
            free(data);
            free(img.px);
        }
}

TEST(MkdataTga, RunLengthPacketsNeverCrossARowNorExceed128Pixels)
{
    mk_image img = test_picture(301, 23, 0);
    uint32_t size = 0;
    uint8_t *data = mk_tga(&img, 10, 24, 0, MK_ORIGIN_TOP_LEFT, &size);
    ASSERT_NE(data, nullptr);
    uint32_t pos = 18 + data[0];
    for (int row = 0; row < img.h; row++) {
        int x = 0;
        while (x < img.w) {
            ASSERT_LT(pos, size);
            int h = data[pos++], n = (h & 0x7F) + 1;
            EXPECT_LE(x + n, img.w) << "a packet crosses the end of row " << row;
            pos += (h & 0x80) ? 3 : 3 * n;
            x += n;
        }
    }
    EXPECT_EQ(pos, size);
    free(data);
    free(img.px);
}

TEST(MkdataTga, ColourMapRefusesMoreThan256Colours)
{
    mk_image img = test_picture(64, 64, 0);   // thousands of colours
    uint32_t size = 0;
    EXPECT_EQ(mk_tga(&img, 1, 8, 24, MK_ORIGIN_TOP_LEFT, &size), nullptr);
    EXPECT_EQ(mk_tga(&img, 9, 8, 16, MK_ORIGIN_TOP_LEFT, &size), nullptr);
    free(img.px);
}

TEST(MkdataWav, FilesReadBackThroughTheSoundLoader)
{
    char dir[] = "/tmp/mkdata_wavXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::vector<int16_t> pcm;
    for (int i = 0; i < 2000; i++) pcm.push_back((int16_t)((i * 977) % 65536 - 32768));
    for (int channels : {1, 2}) {
        uint32_t size = 0;
        uint8_t *wav = mk_wav(pcm.data(), 2000 / channels, channels, 22050, &size);
        ASSERT_EQ(size, 44u + 4000u);
        std::string path = std::string(dir) + "/t.wav";
        FILE *f = fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        fwrite(wav, 1, size, f);
        fclose(f);
        free(wav);
        ASSERT_EQ(corefile_mountimage(dir, 2), 1);
        s_sound s;
        memset(&s, 0, sizeof s);
        ASSERT_EQ(Soundsystem_LoadWAV("t.wav", &s), 1);
        EXPECT_EQ(s.channels, channels);
        EXPECT_EQ(s.frequency, 22050);
        EXPECT_EQ(s.bits, 16);
        EXPECT_EQ(s.numsamples, 2000);
        ASSERT_EQ(s.size, 4000);
        EXPECT_EQ(memcmp(s.data, pcm.data(), 4000), 0);
        free(s.data);
        corefile_closeimage();
        unlink(path.c_str());
    }
    rmdir(dir);
}

TEST(MkdataPng, PreviewsDecodeToTheSamePixels)
{
    // Noise, long repeats (matches up to 258 bytes, distances across rows) and flat areas.
    mk_image img;
    img.w = 333;
    img.h = 97;
    img.px = (uint32_t *)malloc((size_t)img.w * img.h * 4);
    uint32_t s = 12345;
    for (int y = 0; y < img.h; y++)
        for (int x = 0; x < img.w; x++) {
            s = s * 1103515245u + 12345u;
            uint32_t c = y < 30 ? (s >> 8) : y < 60 ? 0xFF000000u | (uint32_t)((x / 7) * 0x0A0B0C) : 0xFF336699u;
            img.px[y * img.w + x] = c | 0xFF000000u;
        }
    char dir[] = "/tmp/mkdata_pngXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string path = std::string(dir) + "/p.png";
    ASSERT_EQ(mk_png(path.c_str(), &img), 1);
    int w = 0, h = 0, n = 0;
    unsigned char *px = stbi_load(path.c_str(), &w, &h, &n, 3);
    ASSERT_NE(px, nullptr) << stbi_failure_reason();
    ASSERT_EQ(w, img.w);
    ASSERT_EQ(h, img.h);
    int wrong = 0;
    for (int i = 0; i < w * h; i++) {
        uint32_t c = img.px[i];
        wrong += px[3 * i] != ((c >> 16) & 255) || px[3 * i + 1] != ((c >> 8) & 255) || px[3 * i + 2] != (c & 255);
    }
    EXPECT_EQ(wrong, 0);
    stbi_image_free(px);
    free(img.px);
    unlink(path.c_str());
    rmdir(dir);
}
