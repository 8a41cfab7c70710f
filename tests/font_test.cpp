// Bitmap fonts: measuring the marker row, cutting the glyphs, the font table's
// limit, and the text calls' pen rules read back from a 480 x 270 framebuffer (the
// drawing tests need a display: run under Xvfb).
#include <gtest/gtest.h>
#include <GL/glew.h>

#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "corefile/corefile.h"
#include "engine/bitmap.h"
#include "engine/font.h"
#include "engine/sprite.h"
#include "engine/video.h"
#include "tests/testutil_gl.h"
#include "tests/testutil_os.h"

// A temporary directory mounted as the resource image for the whole program.
static std::string tmpdir;

static void mount_tmp()
{
    if (!tmpdir.empty()) return;
    char dir[] = "/tmp/font_testXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    tmpdir = dir;
    ASSERT_TRUE(corefile_mountimage(dir, 2));
}

// A font sheet as a 32-bit top-left TGA: row 0 holds white markers at the given
// columns and the magenta key elsewhere; rows 1.. of glyph i are glyph_colour(i).
static uint32_t glyph_colour(int i) { return 0xFF008020u | (uint32_t)(i + 100) << 16; }

static void write_sheet(const char *name, int w, int h, const std::vector<int> &markers)
{
    std::vector<int> glyph_of(w, 0);
    int g = 0;
    for (int x = 0; x < w; x++) {
        if (x == 1) g = 1;
        for (int m : markers)
            if (m == x) g++;
        glyph_of[x] = g;
    }
    std::vector<uint8_t> f(18, 0);
    f[2] = 2;
    f[12] = (uint8_t)w, f[13] = (uint8_t)(w >> 8), f[14] = (uint8_t)h;
    f[16] = 32, f[17] = 0x28;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            uint32_t c = glyph_colour(glyph_of[x]);
            if (y == 0) {
                bool marker = false;
                for (int m : markers) marker |= (m == x);
                c = marker ? 0xFFFFFFFFu : 0xFFFF00FFu;
            }
            f.push_back((uint8_t)c), f.push_back((uint8_t)(c >> 8));
            f.push_back((uint8_t)(c >> 16)), f.push_back((uint8_t)(c >> 24));
        }
    FILE *fp = fopen((tmpdir + "/" + name).c_str(), "wb");
    ASSERT_NE(fp, nullptr);
    fwrite(f.data(), 1, f.size(), fp);
    fclose(fp);
}

// ---- Set-up -------------------------------------------------------------------------

TEST(FontInit, MarkersGiveWidthsAndGlyphs)
{
    mount_tmp();
    write_sheet("small.tga", 40, 9, {5, 12, 20});
    static s_font font;
    font.spacing = 7;
    int nfonts = orb_numfonts, nspr = orb_numsprites, nbmp = orb_numbitmaps;
    testing::internal::CaptureStdout();
    ORB_InitFont("small.tga", &font);
    fflush(stdout);
    std::string out = testing::internal::GetCapturedStdout();

    EXPECT_EQ(font.numletters, 5);
    const int widths[5] = {1, 4, 7, 8, 20};
    for (int i = 0; i < 5; i++) EXPECT_EQ(font.widths[i], widths[i]) << i;
    EXPECT_EQ(font.height, 8);
    EXPECT_EQ(font.spacing, 0);
    EXPECT_EQ(font.sheet, &orb_fontbmp[nfonts]);
    EXPECT_EQ(orb_numfonts, nfonts + 1);
    EXPECT_EQ(orb_numsprites, nspr + 5);
    EXPECT_EQ(orb_numbitmaps, nbmp + 1);
    // Glyph 2 starts at column 5; every glyph leaves the marker row out.
    EXPECT_EQ(font.letters[2].umin, 5.0f / 40.0f);
    EXPECT_EQ(font.letters[2].umax, 12.0f / 40.0f);
    EXPECT_EQ(font.letters[4].umax, 1.0f);
    EXPECT_EQ(font.letters[1].width, 4);
    EXPECT_EQ(font.letters[1].height, 8);
    EXPECT_EQ(font.letters[1].vmin, 1.0f / 9.0f);
    EXPECT_EQ(font.letters[1].vmax, 1.0f);
    EXPECT_EQ(font.letters[3].texture, orb_fontbmp[nfonts].texture);
    char want[64];
    snprintf(want, sizeof(want), "numletters: 5\nadd fontbmp, num.fonts: %d\n", nfonts + 1);
    EXPECT_NE(out.find(want), std::string::npos) << out;

    ORB_SetFontSpacing(3, &font);
    EXPECT_EQ(font.spacing, 3);

    // Centring with no framebuffer selected yet measures against width 0 and
    // draws nothing, instead of reading through a null target.
    s_framebuffer *saved = ORB_FrameBuffer;
    ORB_FrameBuffer = NULL;
    int triangles = ORB_stats_numtriangles;
    ORB_DrawCenteredText(0, font, "!\"#");
    EXPECT_EQ(ORB_stats_numtriangles, triangles);
    ORB_FrameBuffer = saved;
}

TEST(FontInit, MoreThan95MarkersMoveOnlyTheLastGlyph)
{
    mount_tmp();
    std::vector<int> markers;
    for (int x = 2; x < 220; x += 2) markers.push_back(x);   // 109 markers
    write_sheet("many.tga", 221, 5, markers);
    static s_font font;
    ORB_InitDarkFont("many.tga", &font);
    EXPECT_EQ(font.numletters, 96);
    EXPECT_EQ(font.widths[1], 1);
    EXPECT_EQ(font.widths[94], 2);
    EXPECT_EQ(font.widths[95], 221 - 218);   // from the last marker to the edge
}

TEST(FontInit, SeventeenthFontRefused)
{
    mount_tmp();
    int saved = orb_numfonts;
    orb_numfonts = ORB_MAXFONTS;
    static s_font font;
    font.numletters = -5;
    testing::internal::CaptureStdout();
    ORB_InitFont("small.tga", &font);
    fflush(stdout);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(orb_numfonts, ORB_MAXFONTS);
    EXPECT_EQ(font.numletters, -5);
    EXPECT_NE(out.find("Too many fonts"), std::string::npos) << out;
    EXPECT_EQ(out.find("Loading TGA"), std::string::npos) << out;
    orb_numfonts = saved;
}

// ---- Text, read back ----------------------------------------------------------------

// Glyph widths of the text font: 3, except the space 5, '!' 1, 'A' 6 and 'B' 4.
static int text_width(int i)
{
    switch (i) {
    case 1: return 5;
    case 2: return 1;
    case 34: return 6;
    case 35: return 4;
    default: return 3;
    }
}

static s_font textfont;
static int fb = -1;

static bool text_setup()
{
    if (!testgl_open(320, 240)) return false;
    if (fb < 0) {
        mount_tmp();
        std::vector<int> markers;
        int x = 1;
        for (int i = 1; i < 95; i++) {
            x += text_width(i);
            markers.push_back(x);
        }
        write_sheet("text.tga", x + text_width(95), 9, markers);
        ORB_InitFont("text.tga", &textfont);
        fb = ORB_InitFramebuffer(480, 270);
    }
    ORB_SetFramebuffer(fb);
    // Selecting a framebuffer binds its texture behind the bind cache; the present
    // starts every frame with the cache emptied, and so does each test here.
    ORB_lasttextureid = 0xFFFFFFFFu;
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    return true;
}

// Glyph index drawn at each column of framebuffer row y (from the red channel),
// -1 where the background shows.
static std::vector<int> glyph_row(int y)
{
    std::vector<uint32_t> px(480);
    testgl_readfb(0, y, 480, 1, px.data());
    std::vector<int> g(480);
    for (int x = 0; x < 480; x++)
        g[x] = ((px[x] & 0xFFFF) == 0x8020) ? (int)((px[x] >> 16) & 0xFF) - 100 : -1;
    return g;
}

// Expected row: glyph spans (glyph, start) with the font's widths.
static std::vector<int> spans(std::initializer_list<std::pair<int, int>> list)
{
    std::vector<int> g(480, -1);
    for (auto &s : list)
        for (int x = s.second; x < s.second + text_width(s.first); x++)
            if (x >= 0 && x < 480) g[x] = s.first;
    return g;
}

TEST(FontText, PenRules)
{
    TU_NEED(text_setup(), "no display: run under Xvfb");
    ASSERT_EQ(textfont.numletters, 96);
    ASSERT_EQ(textfont.widths[34], 6);

    // "AB" at 10: glyphs 34 and 35 side by side; the pen's y is the glyphs' top.
    ORB_DrawText(10, 20, textfont, "AB");
    EXPECT_EQ(glyph_row(20), spans({{34, 10}, {35, 16}}));
    EXPECT_EQ(glyph_row(27), spans({{34, 10}, {35, 16}}));
    EXPECT_EQ(glyph_row(19), spans({}));
    EXPECT_EQ(glyph_row(28), spans({}));

    // Spacing 2 puts 2 more pixels after each glyph, but not after a space.
    textfont.spacing = 2;
    ORB_DrawText(10, 40, textfont, "AB A");
    EXPECT_EQ(glyph_row(42), spans({{34, 10}, {35, 18}, {1, 24}, {34, 29}}));

    // The tilde (glyph 95), control characters and bytes from 0x9F are skipped
    // without moving the pen.
    textfont.spacing = 0;
    ORB_DrawText(10, 60, textfont, "A~\t\x9f\xa0\xff%s", "B");
    EXPECT_EQ(glyph_row(62), spans({{34, 10}, {35, 16}}));

    // A text of 300 characters is cut to its first 255.
    std::string bangs(300, '!');
    ORB_DrawText(10, 80, textfont, "%s", bangs.c_str());
    std::vector<int> row = glyph_row(82);
    EXPECT_EQ(row[10], 2);
    EXPECT_EQ(row[264], 2);
    EXPECT_EQ(row[265], -1);
}

TEST(FontText, Centring)
{
    TU_NEED(text_setup(), "no display: run under Xvfb");
    textfont.spacing = 0;

    // "AB" ten times measures 100: on a 480-wide target it starts at 190.
    std::string ab;
    for (int i = 0; i < 10; i++) ab += "AB";
    ORB_DrawCenteredText(20, textfont, "%s", ab.c_str());
    {
        std::vector<int> row = glyph_row(22);
        EXPECT_EQ(row[189], -1);
        EXPECT_EQ(row[190], 34);
        EXPECT_EQ(row[289], 35);
        EXPECT_EQ(row[290], -1);
    }

    // With spacing, spaces count it in the measure but not on the pen: "A B" with
    // spacing 2 measures 8 + 7 + 6 = 21 and starts at 240 - 10.
    textfont.spacing = 2;
    ORB_DrawCenteredText(40, textfont, "A B");
    EXPECT_EQ(glyph_row(42), spans({{34, 230}, {1, 238}, {35, 243}}));

    // Centred in a span: x 100, w 200, a 51-pixel text starts at 175.
    textfont.spacing = 0;
    ORB_DrawCenteredTextXW(100, 60, 200, textfont, "AAAAABBBB ");
    std::vector<int> row = glyph_row(62);
    EXPECT_EQ(row[174], -1);
    EXPECT_EQ(row[175], 34);
    EXPECT_EQ(row[220], 35);
    EXPECT_EQ(row[221], 1);    // the trailing space's glyph, 5 wide
    EXPECT_EQ(row[225], 1);
    EXPECT_EQ(row[226], -1);

    // In a span the space also takes the spacing: "A B" with spacing 3 measures 24,
    // starts at 188, and B follows the space at 188 + 9 + 8.
    textfont.spacing = 3;
    ORB_DrawCenteredTextXW(100, 80, 200, textfont, "A B");
    EXPECT_EQ(glyph_row(82), spans({{34, 188}, {1, 197}, {35, 205}}));
}
