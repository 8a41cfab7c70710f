// video_present_checks.h - the present read back from the window, shared by the
// present tests at each output size (one window size per test process).
#ifndef TESTS_VIDEO_PRESENT_CHECKS_H
#define TESTS_VIDEO_PRESENT_CHECKS_H

#include <GL/glew.h>
#include <gtest/gtest.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <vector>

#include "engine/bitmap.h"
#include "engine/video.h"
#include "tests/testutil_gl.h"

namespace present {

static std::vector<uint32_t> window;    // the window as the present left it, before the swap

static void grab_window(void)
{
    window.resize((size_t)ORB_video.width * ORB_video.height);
    testgl_readback(0, 0, ORB_video.width, ORB_video.height, window.data());
    // VIDEO_DUMP=dir keeps every presented window as a picture to look at.
    static int n;
    if (const char *dir = getenv("VIDEO_DUMP")) {
        char path[512];
        snprintf(path, sizeof path, "%s/present%dx%d_%02d.ppm", dir, ORB_video.width, ORB_video.height, n++);
        testgl_save_ppm(path, ORB_video.width, ORB_video.height, window.data());
    }
}

// Distinct neighbours everywhere: red from x, green from y, blue from the high bits.
static uint32_t source_colour(int x, int y)
{
    return 0xFF000000u | (uint32_t)(x & 0xFF) << 16 | (uint32_t)(y & 0xFF) << 8 |
           (uint32_t)(((x >> 8) << 7) | ((y >> 8) << 6) | 0x15);
}

struct Setup {
    int fb;
    s_bitmap picture;
};

// Window, post shader, 480x270 framebuffer and a picture that fills it; 0 without a
// display.
static Setup *open(int width, int height)
{
    static Setup s;
    static int done, ok;
    if (done) return ok ? &s : nullptr;
    done = 1;
    if (!testgl_open(width, height)) return nullptr;
    EXPECT_EQ(ORB_InitShader(testgl_post_vertex, testgl_post_fragment), 0);
    s.fb = ORB_InitFramebuffer(480, 270);
    ORB_CreateBitmap(480, 270, &s.picture);
    for (int y = 0; y < 270; y++)
        for (int x = 0; x < 480; x++) ORB_DrawPixel(x, y, source_colour(x, y), s.picture);
    ORB_UpdateBitmap(s.picture);
    // Drawn 1:1, the texture scale is within rounding of 1, where llvmpipe may pick
    // the minification filter (linear) for some pixels; nearest on both keeps the
    // framebuffer exactly the picture, so only the present is under test here.
    glBindTexture(GL_TEXTURE_2D, s.picture.texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    ORB_preswap_hook = grab_window;
    ok = 1;
    return &s;
}

// Draws the picture into the framebuffer and presents it with the given values.
static void present_picture(Setup *s, float fade, float scanline)
{
    ORB_SetFramebuffer(s->fb);
    glClear(GL_COLOR_BUFFER_BIT);
    ORB_DrawBitmap(0, 0, s->picture);
    ORB_SetFadeValue(fade);
    ORB_SetScanlineValue(scanline);
    ORB_SwapBuffers();
}

// Framebuffer pixel that nearest filtering shows at a window pixel; y from the top.
static int source_x(int wx) { return (int)((wx + 0.5) * 480.0 / ORB_video.width); }
static int source_y(int wy)
{
    int gly = ORB_video.height - 1 - wy;
    return 269 - (int)((gly + 0.5) * 270.0 / ORB_video.height);
}
// Odd one of 540 bands over the window height, counted from the bottom as the
// texture coordinate runs.
static int dark_band(int wy)
{
    int gly = ORB_video.height - 1 - wy;
    return (int)((gly + 0.5) * 540.0 / ORB_video.height) & 1;
}

static int max_channel_diff(uint32_t a, uint32_t b)
{
    int m = 0;
    for (int s = 0; s < 24; s += 8) {
        int d = abs((int)((a >> s) & 0xFF) - (int)((b >> s) & 0xFF));
        if (d > m) m = d;
    }
    return m;
}

static void expect_scaled_picture(void)
{
    int bad = 0;
    for (int wy = 0; wy < ORB_video.height; wy++)
        for (int wx = 0; wx < ORB_video.width; wx++) {
            uint32_t want = source_colour(source_x(wx), source_y(wy)) & 0xFFFFFF;
            uint32_t got = window[(size_t)wy * ORB_video.width + wx] & 0xFFFFFF;
            if (got != want && bad++ < 5)
                ADD_FAILURE() << "window (" << wx << "," << wy << ") " << std::hex << got << " want " << want;
        }
    EXPECT_EQ(bad, 0);
}

static void check_fade_zero_is_black(Setup *s)
{
    present_picture(s, 0.0f, 0.0f);
    int lit = 0;
    for (uint32_t p : window) lit += (p & 0xFFFFFF) != 0;
    EXPECT_EQ(lit, 0);
}

static void check_full_fade_scales_sharp(Setup *s)
{
    present_picture(s, 1.0f, 0.0f);
    expect_scaled_picture();
    // The framebuffer's top-left pixel is at the window's top left.
    EXPECT_EQ(window[0] & 0xFFFFFF, source_colour(0, 0) & 0xFFFFFF);
}

static void check_scanlines_black_bands(Setup *s)
{
    present_picture(s, 1.0f, 1.0f);
    int bad = 0, dark_rows = 0;
    for (int wy = 0; wy < ORB_video.height; wy++) {
        int dark = dark_band(wy);
        dark_rows += dark;
        for (int wx = 0; wx < ORB_video.width; wx++) {
            uint32_t got = window[(size_t)wy * ORB_video.width + wx] & 0xFFFFFF;
            uint32_t want = dark ? 0 : source_colour(source_x(wx), source_y(wy)) & 0xFFFFFF;
            if (got != want && bad++ < 5)
                ADD_FAILURE() << "row " << wy << " col " << wx << std::hex << " got " << got << " want " << want;
        }
    }
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(dark_rows, ORB_video.height / 2);
}

// Both fall-backs must show what the shader shows, within 1 per channel.
static void check_fallbacks_match(Setup *s, float fade)
{
    present_picture(s, fade, 0.0f);
    std::vector<uint32_t> shader = window;

    ORB_shaders_enabled = 0;
    present_picture(s, fade, 0.0f);
    std::vector<uint32_t> fixed = window;
    ORB_shaders_enabled = 1;

    // Without framebuffer objects the frame is drawn into the window itself; one
    // present first leaves the window bound.
    ORB_framebuffers_enabled = 0;
    ORB_SwapBuffers();
    present_picture(s, fade, 0.0f);
    std::vector<uint32_t> readback = window;
    ORB_framebuffers_enabled = 1;
    ORB_SetFramebuffer(s->fb);

    int worst_fixed = 0, worst_readback = 0;
    for (size_t i = 0; i < shader.size(); i++) {
        int a = max_channel_diff(shader[i], fixed[i]), b = max_channel_diff(shader[i], readback[i]);
        if (a > worst_fixed) worst_fixed = a;
        if (b > worst_readback) worst_readback = b;
    }
    EXPECT_LE(worst_fixed, 1);
    EXPECT_LE(worst_readback, 1);
    // And the picture itself is there, not a uniform field.
    EXPECT_NE(shader[0], shader[shader.size() - 1]);
}

} // namespace present

#endif
