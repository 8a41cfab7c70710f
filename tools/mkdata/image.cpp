// image.cpp - the demo's pictures. One theme runs through all of them: a
// lookout at dusk. One palette (mk_pal), one typeface family (DejaVu Sans), dark
// outlines and hard sprite edges so that everything stays crisp at 480x270 under
// nearest-neighbour scaling.
#include "tools/mkdata/mkdata.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

#define P(i) mk_pal[PAL_##i]

static const uint32_t heat[] = {0xFFFFF1D2u, 0xFFFFD66Bu, 0xFFFFA640u, 0xFFFF7A5Cu, 0xFFEC4D7Fu};
static const uint32_t cool[] = {0xFFFFFFFFu, 0xFF7FF2DCu, 0xFF20B2AAu};
static const uint32_t dusk_sky[] = {0xFF0B0A1Au, 0xFF251A52u, 0xFF4A2A7Eu, 0xFF7E2F86u,
                                    0xFFB83A7Eu, 0xFFFF7A5Cu, 0xFFFFA640u};
static const uint32_t night_sky[] = {0xFF05050Fu, 0xFF0B0A1Au, 0xFF16122Eu, 0xFF251A52u,
                                     0xFF3A2468u, 0xFF4A2A7Eu};

#define N(a) ((int)(sizeof(a) / sizeof((a)[0])))

// ---- Shared pieces --------------------------------------------------------------------

static void vgradient(mk_image *img, int y0, int y1, const uint32_t *stops, int n)
{
    for (int y = y0; y < y1; y++) {
        uint32_t c = mk_ramp(stops, n, (y - y0) * 65535 / (y1 - y0 > 1 ? y1 - y0 - 1 : 1));
        for (int x = 0; x < img->w; x++) mk_set(img, x, y, c);
    }
}

// A ridge line: height above y0 at column x, from periodic noise.
static double ridge(int seed, int x, double amp, int cell)
{
    return amp * (mk_fbm(seed, x, 7.0, 512, cell, 4) - 0.5) * 2.0;
}

// The lookout's railing and floor in the foreground, in one colour.
static void railing(mk_image *img, uint32_t c, uint32_t top)
{
    int h = img->h;
    mk_fill_rect(img, 0, h - 22, img->w, 22, c);
    mk_fill_rect(img, 0, h - 62, img->w, 5, c);
    mk_fill_rect(img, 0, h - 63, img->w, 1, top);
    for (int x = 6; x < img->w; x += 26) mk_fill_rect(img, x, h - 60, 4, 40, c);
}

// The intro's view: sky, sun or moon, three mountain ranges, the railing.
static void vista(mk_image *img, int night)
{
    int hz = 176;  // horizon
    if (night) vgradient(img, 0, hz, night_sky, N(night_sky));
    else vgradient(img, 0, hz, dusk_sky, N(dusk_sky));
    mk_rng r;
    mk_seed(&r, night ? 77 : 76);
    if (night) {
        for (int i = 0; i < 140; i++) {
            int x = mk_randint(&r, img->w), y = mk_randint(&r, hz - 40);
            int b = 120 + mk_randint(&r, 136);
            mk_set(img, x, y, mk_lerp(P(SKY), P(WHITE), b));
            if (b > 240) {
                mk_set(img, x + 1, y, mk_scale(P(SKY), 160));
                mk_set(img, x - 1, y, mk_scale(P(SKY), 160));
                mk_set(img, x, y + 1, mk_scale(P(SKY), 160));
                mk_set(img, x, y - 1, mk_scale(P(SKY), 160));
            }
        }
        // A crescent: the moon's disc less an offset disc, painted over the sky.
        mk_image a = mk_new(64, 64, 0), b = mk_new(64, 64, 0);
        mk_disc(&a, 32, 32, 26, 0xFFFFFFFFu);
        mk_disc(&b, 42, 26, 24, 0xFFFFFFFFu);
        for (int y = 0; y < 64; y++)
            for (int x = 0; x < 64; x++) {
                int cov = (int)(mk_get(&a, x, y) >> 24) * (255 - (int)(mk_get(&b, x, y) >> 24)) / 255;
                mk_blend(img, 320 + x, 48 + y, P(CREAM), cov);
            }
        mk_free(&a);
        mk_free(&b);
    } else {
        // A striped setting sun.
        mk_image sun = mk_new(120, 120, 0);
        mk_disc(&sun, 60, 60, 56, 0xFFFFFFFFu);
        for (int y = 0; y < 120; y++) {
            uint32_t c = mk_ramp(heat + 1, 4, y * 65535 / 119);
            int gap = y > 36 && ((y - 36) % 10) < 1 + (y - 36) / 14;
            for (int x = 0; x < 120; x++) {
                uint32_t s = mk_get(&sun, x, y);
                if ((s >> 24) && !gap) mk_blend(img, 300 + x, 54 + y, c, (int)(s >> 24));
            }
        }
        mk_free(&sun);
    }
    // Mountain ranges, far to near.
    static const int seeds[3] = {11, 23, 37};
    const uint32_t far_c = night ? 0xFF2A1F5Cu : 0xFF8A3A8Cu;
    const uint32_t mid_c = night ? 0xFF1C1644u : 0xFF5A2A78u;
    const uint32_t near_c = night ? 0xFF100E28u : 0xFF2E1A52u;
    const uint32_t cols[3] = {far_c, mid_c, near_c};
    const double base[3] = {140, 158, 180}, amp[3] = {34, 26, 18};
    for (int l = 0; l < 3; l++)
        for (int x = 0; x < img->w; x++) {
            int top = (int)(base[l] - fabs(ridge(seeds[l], x, amp[l], 128 >> l)) - amp[l] * 0.4);
            for (int y = top; y < img->h; y++) {
                uint32_t c = cols[l];
                if (y == top) c = mk_lerp(c, night ? P(TEAL) : P(ORANGE), 90);
                mk_set(img, x, y, c);
            }
        }
    railing(img, night ? 0xFF05050Fu : 0xFF120C24u, night ? 0xFF3A4C7Au : 0xFFB85A4Au);
    mk_opaque(img);
}

// ---- 480x270 backgrounds ------------------------------------------------------------------

static void draw_diagonal(mk_image *img)
{
    // Colour-mapped: 24 gradient steps in two tones plus the thin highlight.
    static const uint32_t stops[] = {0xFF0B0A1Au, 0xFF1B1440u, 0xFF3A2268u, 0xFF5A2A78u};
    for (int y = 0; y < img->h; y++) {
        int step = y * 24 / img->h;
        uint32_t base = mk_ramp(stops, N(stops), step * 65535 / 23);
        for (int x = 0; x < img->w; x++) {
            int d = (x + y) % 40;
            uint32_t c = d < 20 ? base : mk_lerp(base, P(PLUM), 40);
            if (d == 20 || d == 0) c = mk_lerp(base, P(PINK), 70);
            mk_set(img, x, y, c);
        }
    }
}

// ---- Text pictures --------------------------------------------------------------------------

static mk_image sprite_canvas(void) { return mk_new(480, 270, 0); }

static void year_caption(mk_image *img, const char *year, const char *line)
{
    mk_caption(img, 0, 132, 4, year, 240, 40, heat, N(heat), P(NIGHT), 4, 5);
    mk_caption(img, 0, 20, 3, line, 240, 196, cool, N(cool), P(NIGHT), 2, 2);
    mk_finish(img);
}

static void final_text(mk_image *img, const char *big, const char *l1, const char *l2)
{
    mk_caption(img, 0, 64, 3, big, 240, 58, heat, N(heat), P(NIGHT), 4, 4);
    mk_caption(img, 0, 20, 2, l1, 240, 150, cool, N(cool), P(NIGHT), 2, 2);
    mk_caption(img, 1, 16, 1, l2, 240, 182, cool, N(cool), P(NIGHT), 2, 2);
    mk_finish(img);
}

// A corner-bracket frame, the overlays' common border.
static void brackets(mk_image *img, int inset, int len, uint32_t c)
{
    int w = img->w, h = img->h, t = 3;
    int xs[2] = {inset, w - inset - len}, ys[2] = {inset, h - inset - len};
    // Pass 0 draws every bracket one pixel larger in the outline colour, pass 1 fills.
    for (int pass = 0; pass < 2; pass++)
        for (int i = 0; i < 2; i++)
            for (int j = 0; j < 2; j++) {
                int hx = xs[i], vy = ys[j], g = pass ? 0 : 1;
                int hy = j ? h - inset - t : inset, vx = i ? w - inset - t : inset;
                uint32_t col = pass ? c : P(NIGHT);
                mk_fill_rect(img, hx - g, hy - g, len + 2 * g, t + 2 * g, col);
                mk_fill_rect(img, vx - g, vy - g, t + 2 * g, len + 2 * g, col);
            }
}

static void slogan_right(mk_image *img, int y, int px, const char *text, const uint32_t *stops, int n)
{
    int w = mk_text_advance(0, px, text, 0);
    mk_caption(img, 0, px, 1, text, 462 - w / 2 - 6, y, stops, n, P(NIGHT), 3, 3);
}

static void draw_eatit(mk_image *img, int second)
{
    if (!second) {
        slogan_right(img, 222, 26, "ENJOY THE VIEW", heat, N(heat));
        mk_fill_rect(img, 262, 256, 206, 3, P(NIGHT));
        mk_fill_rect(img, 263, 257, 204, 1, P(GOLD));
    } else {
        slogan_right(img, 14, 22, "FLY LOW,", cool, N(cool));
        slogan_right(img, 42, 22, "DREAM HIGH", heat, N(heat));
    }
    mk_finish(img);
}

static void draw_vhs(mk_image *img)
{
    // Cassette body; the fractal is drawn over its middle three tenths.
    mk_rrect(img, 4, 4, 472, 262, 16, P(NIGHT));
    mk_rrect(img, 8, 8, 464, 254, 13, 0xFF1E1A30u);
    for (int y = 14; y < 256; y += 6) mk_fill_rect(img, 20, y, 440, 1, 0xFF252038u);
    // Label.
    mk_rrect(img, 36, 22, 408, 58, 6, P(CREAM));
    static const uint32_t stripe[4] = {0xFFEC4D7Fu, 0xFFFF7A5Cu, 0xFFFFA640u, 0xFF20B2AAu};
    for (int i = 0; i < 4; i++) mk_fill_rect(img, 36, 56 + i * 6, 408, 5, stripe[i]);
    mk_mask t = mk_text(0, 20, 2, "MIRADOR");
    uint32_t ink = P(INK);
    mk_paint_mask(img, &t, 50, 24, &ink, 1);
    mk_mask_free(&t);
    t = mk_text(2, 16, 0, "E-180  SP");
    mk_paint_mask(img, &t, 340, 28, &ink, 1);
    mk_mask_free(&t);
    // Window with reels.
    mk_rrect(img, 126, 88, 228, 96, 10, P(NIGHT));
    mk_rrect(img, 130, 92, 220, 88, 8, 0xFF2C2646u);
    for (int s = 0; s < 2; s++) {
        double cx = s ? 330 : 150;
        mk_disc(img, cx, 136, 34, 0xFF3B3358u);
        mk_disc(img, cx, 136, 16, P(CREAM));
        mk_disc(img, cx, 136, 8, P(NIGHT));
        for (int k = 0; k < 6; k++) {
            double a = k / 6.0;
            mk_capsule(img, cx + mk_cos1(a) * 9, 136 + mk_sin1(a) * 9, cx + mk_cos1(a) * 14,
                       136 + mk_sin1(a) * 14, 1.5, P(NIGHT));
        }
    }
    // Bottom with screws.
    double trap[8] = {90, 262, 110, 206, 370, 206, 390, 262};
    mk_poly(img, trap, 4, 0xFF15122Au);
    static const double sx[4] = {30, 450, 30, 450}, sy[4] = {230, 230, 100, 100};
    for (int i = 0; i < 4; i++) {
        mk_disc(img, sx[i], sy[i], 7, 0xFF5A5478u);
        mk_capsule(img, sx[i] - 4, sy[i], sx[i] + 4, sy[i], 1.2, P(NIGHT));
    }
    mk_finish(img);
}

static void draw_vhs2(mk_image *img)
{
    // The recorder's on-screen display and tracking noise. The picture is drawn
    // up to twice the screen's width, so everything stays in its middle half.
    const uint32_t white[1] = {0xFFF4F4FFu};
    mk_caption(img, 2, 22, 0, "PLAY >", 180, 76, white, 1, P(NIGHT), 2, 0);
    mk_caption(img, 2, 16, 0, "SP 0:19:99", 296, 176, white, 1, P(NIGHT), 2, 0);
    mk_rng r;
    mk_seed(&r, 12);
    for (int band = 0; band < 3; band++) {
        int y = 112 + band * 14 + mk_randint(&r, 6);
        for (int x = 110; x < 370;) {
            int len = 2 + mk_randint(&r, 24);
            if (mk_randint(&r, 3)) {
                uint32_t c = mk_lerp(0xFFB0B0C8u, 0xFFFFFFFFu, mk_randint(&r, 256));
                mk_fill_rect(img, x, y, len, 1 + (mk_randint(&r, 4) == 0), c);
            }
            x += len + mk_randint(&r, 16);
        }
    }
    mk_finish(img);
}

static void draw_abs(mk_image *img)
{
    brackets(img, 6, 34, P(GOLD));
    mk_caption(img, 0, 22, 3, "KEEP ON MOVING", 240, 232, heat, N(heat), P(NIGHT), 3, 3);
    mk_finish(img);
}

static void draw_title(mk_image *img)
{
    mk_caption(img, 0, 72, 4, "MIRADOR", 240, 80, heat, N(heat), P(NIGHT), 5, 6);
    mk_caption(img, 0, 18, 4, "A VIEW FROM THE LOOKOUT", 240, 186, cool, N(cool), P(NIGHT), 2, 2);
    mk_finish(img);
}

static void draw_logo(mk_image *img)
{
    // Emblem above the title: a mountain under the sun, in a ring.
    mk_disc(img, 240, 44, 36, P(NIGHT));
    // The picture inside is drawn on its own and cut to the ring's inside.
    mk_image e = mk_new(80, 80, 0);
    mk_disc(&e, 40, 40, 34, P(INDIGO));
    mk_disc(&e, 44, 36, 14, P(GOLD));
    double far_peak[8] = {0, 62, 30, 40, 50, 54, 80, 62};
    mk_poly(&e, far_peak, 4, P(PLUM));
    double peak[10] = {0, 70, 22, 44, 36, 58, 52, 46, 80, 70};
    mk_poly(&e, peak, 5, P(PINK));
    mk_fill_rect(&e, 0, 70, 80, 10, P(ROSE));
    for (int y = 0; y < 80; y++)
        for (int x = 0; x < 80; x++) {
            double dx = x + 0.5 - 40, dy = y + 0.5 - 40;
            if (dx * dx + dy * dy < 32 * 32) mk_set(img, 200 + x, 4 + y, mk_get(&e, x, y));
        }
    mk_free(&e);
    mk_ring(img, 240, 44, 33, 5, P(CREAM));
    // Lines with the tag below the title.
    mk_fill_rect(img, 40, 232, 400, 6, P(NIGHT));
    mk_fill_rect(img, 42, 234, 396, 2, P(MINT));
    mk_caption(img, 0, 16, 4, "ELEVEN VIEWS, ONE LOOKOUT", 240, 242, heat, N(heat), P(NIGHT), 2, 2);
    mk_finish(img);
}

// Credit pictures: the role on a panel at the right (the figure stands at the left).
static void draw_credit(mk_image *img, int which)
{
    static const char *roles[3] = {"CODE", "GRAPHICS", "MUSIC"};
    static const char *lines[3] = {"C-style C++, by hand", "every pixel made by code",
                                   "synthesised at 124.7 bpm"};
    mk_rrect(img, 262, 46, 208, 178, 12, P(NIGHT));
    mk_rrect(img, 266, 50, 200, 170, 9, P(INDIGO));
    mk_rrect(img, 266, 50, 200, 6, 3, which == 0 ? P(MINT) : which == 1 ? P(GOLD) : P(PINK));
    // Icon.
    double cx = 366, cy = 96;
    if (which == 0) {
        mk_caption(img, 2, 40, 0, "{ }", (int)cx, 70, cool, N(cool), P(NIGHT), 2, 0);
    } else if (which == 1) {
        static const int pal[6] = {PAL_PINK, PAL_CORAL, PAL_ORANGE, PAL_GOLD, PAL_MINT, PAL_SKY};
        for (int j = 0; j < 3; j++)
            for (int i = 0; i < 6; i++)
                mk_fill_rect(img, (int)cx - 36 + i * 12, (int)cy - 18 + j * 12, 10, 10,
                             mk_pal[pal[(i + j) % 6]]);
    } else {
        mk_capsule(img, cx - 14, cy - 22, cx - 14, cy + 12, 2.5, P(CREAM));
        mk_capsule(img, cx + 14, cy - 28, cx + 14, cy + 6, 2.5, P(CREAM));
        mk_capsule(img, cx - 14, cy - 22, cx + 14, cy - 28, 4, P(CREAM));
        mk_disc(img, cx - 20, cy + 13, 8, P(CREAM));
        mk_disc(img, cx + 8, cy + 7, 8, P(CREAM));
    }
    int px = which == 1 ? 29 : 44;
    mk_caption(img, 0, px, which == 1 ? 1 : 2, roles[which], 366, which == 1 ? 134 : 128, heat, N(heat), P(NIGHT), 3, 3);
    mk_caption(img, 1, 13, 0, lines[which], 366, 186, cool, N(cool), P(NIGHT), 1, 0);
    mk_finish(img);
}

static void draw_call(mk_image *img)
{
    // A postcard from the lookout: the dusk view in a frame, with its greeting.
    vista(img, 0);
    for (int i = 0; i < img->w * img->h; i++) img->px[i] |= 0xFF000000u;
    mk_fill_rect(img, 0, 0, 480, 10, P(CREAM));
    mk_fill_rect(img, 0, 260, 480, 10, P(CREAM));
    mk_fill_rect(img, 0, 0, 10, 270, P(CREAM));
    mk_fill_rect(img, 470, 0, 10, 270, P(CREAM));
    mk_caption(img, 0, 50, 3, "GREETINGS", 200, 26, heat, N(heat), P(NIGHT), 4, 4);
    mk_caption(img, 0, 20, 3, "FROM THE LOOKOUT", 200, 88, cool, N(cool), P(NIGHT), 2, 2);
    // Stamp.
    mk_fill_rect(img, 404, 20, 54, 64, P(CREAM));
    for (int i = 0; i < 9; i++) {
        mk_disc(img, 406 + i * 6.25, 20, 2, P(ROSE));
        mk_disc(img, 406 + i * 6.25, 84, 2, P(ROSE));
    }
    mk_fill_rect(img, 410, 26, 42, 52, P(TEAL));
    mk_disc(img, 431, 50, 12, P(GOLD));
    double m[6] = {410, 78, 431, 52, 452, 78};
    mk_poly(img, m, 3, P(VIOLET));
    mk_opaque(img);
}

static void draw_negative(mk_image *img)
{
    // Stored as greyscale: a light bar with the name cut in dark.
    for (int i = 0; i < img->w * img->h; i++) img->px[i] = 0xFF101010u;
    mk_rrect(img, 2, 2, 252, 60, 8, 0xFFE8E8E8u);
    mk_rrect(img, 6, 6, 244, 52, 6, 0xFF101010u);
    mk_rrect(img, 9, 9, 238, 46, 4, 0xFFE8E8E8u);
    const uint32_t dark = 0xFF181818u;
    mk_mask t = mk_text(0, 36, 5, "MIRADOR");
    mk_paint_mask(img, &t, 128 - t.w / 2, 32 - t.h / 2, &dark, 1);
    mk_mask_free(&t);
    for (int i = 0; i < img->w * img->h; i++) {
        uint32_t c = img->px[i];
        int g = ((int)((c >> 16) & 255) + (int)((c >> 8) & 255) + (int)(c & 255)) / 3;
        img->px[i] = mk_rgb(g, g, g);
    }
}

// A 64-row banner; its outer edge (bottom for the top strip, top for the bottom
// one) ends in a row of pennants so the strip reads as cloth, not as a box.
static void strip(mk_image *img, int y0, const char *text, const char *small)
{
    int top = y0 == 0;
    int body = top ? y0 : y0 + 10, edge = top ? y0 + 54 : y0;
    mk_fill_rect(img, 0, body, 480, 54, P(NIGHT));
    for (int y = 0; y < 48; y++)
        mk_fill_rect(img, 0, body + 3 + y, 480, 1, mk_lerp(P(INDIGO), P(VIOLET), y * 5));
    mk_fill_rect(img, 0, top ? body + 50 : body, 480, 4, P(PINK));
    for (int r = 0; r < 10; r++) {
        int y = top ? edge + r : edge + 9 - r;
        for (int x = 0; x < 480; x++) {
            int d = abs((x % 20) - 10);
            if (d < 10 - r) mk_set(img, x, y, d == 9 - r ? P(NIGHT) : P(PINK));
        }
    }
    for (int x = 10; x < 480; x += 20) mk_disc(img, x, top ? body + 8 : body + 45, 2, P(GOLD));
    mk_caption(img, 0, 30, 3, text, 150, body + 11, heat, N(heat), P(NIGHT), 3, 3);
    mk_caption(img, 1, 14, 1, small, 380, body + 19, cool, N(cool), P(NIGHT), 1, 0);
    mk_finish(img);
}

static void draw_hipsquare(mk_image *img)
{
    brackets(img, 8, 40, P(MINT));
    static const int pal[5] = {PAL_PINK, PAL_ORANGE, PAL_GOLD, PAL_MINT, PAL_SKY};
    for (int i = 0; i < 5; i++) {
        mk_fill_rect(img, 20 + i * 14, 226, 11, 11, P(NIGHT));
        mk_fill_rect(img, 21 + i * 14, 227, 9, 9, mk_pal[pal[i]]);
    }
    mk_caption(img, 0, 18, 1, "ROUND IS THE NEW SQUARE", 280, 222, heat, N(heat), P(NIGHT), 3, 3);
    mk_finish(img);
}

static void draw_thousand(mk_image *img)
{
    slogan_right(img, 216, 28, "A THOUSAND LIGHTS", heat, N(heat));
    for (int i = 0; i < 3; i++) {
        double x = 60 + i * 22, y = 236 - i * 8;
        mk_capsule(img, x - 7, y, x + 7, y, 1.5, P(CREAM));
        mk_capsule(img, x, y - 7, x, y + 7, 1.5, P(CREAM));
    }
    mk_finish(img);
}

// ---- Figures ------------------------------------------------------------------------------------

// Shapes of a figure, drawn twice: grown in the outline colour, then filled.
typedef struct {
    int kind;           // 0 capsule, 1 disc, 2 rounded rectangle
    double a, b, c, d, r;
    uint32_t col;
} mk_shape;

static void draw_shapes(mk_image *img, const mk_shape *s, int n, double grow, uint32_t outline)
{
    for (int pass = 0; pass < 2; pass++)
        for (int i = 0; i < n; i++) {
            double g = pass ? 0 : grow;
            uint32_t c = pass ? s[i].col : outline;
            if (s[i].kind == 0) mk_capsule(img, s[i].a, s[i].b, s[i].c, s[i].d, s[i].r + g, c);
            else if (s[i].kind == 1) mk_disc(img, s[i].a, s[i].b, s[i].r + g, c);
            else mk_rrect(img, s[i].a - g, s[i].b - g, s[i].c + 2 * g, s[i].d + 2 * g, s[i].r + g, c);
        }
}

static void draw_lanterne(mk_image *img)
{
    // A street lantern with its glow in hard steps.
    static const uint32_t glow[4] = {0xFF7E2F86u, 0xFFB83A7Eu, 0xFFFF7A5Cu, 0xFFFFA640u};
    for (int i = 0; i < 4; i++) mk_disc(img, 128, 78, 70 - i * 14, glow[i]);
    mk_shape s[] = {
        {2, 116, 110, 24, 146, 6, P(INDIGO)},         // post
        {2, 100, 236, 56, 20, 6, P(INDIGO)},          // foot
        {2, 108, 222, 40, 18, 5, P(VIOLET)},
        {2, 102, 40, 52, 8, 3, P(VIOLET)},            // roof
        {2, 96, 32, 64, 10, 4, P(INDIGO)},
        {1, 128, 24, 0, 0, 7, P(INDIGO)},             // knob
        {2, 106, 48, 44, 56, 5, P(GOLD)},             // glass
        {2, 112, 54, 32, 44, 3, P(CREAM)},
        {2, 104, 102, 48, 10, 3, P(INDIGO)},          // base of the cage
        {0, 128, 48, 128, 104, 2.5, P(INDIGO)},       // cage bars
        {0, 108, 76, 148, 76, 2.0, P(INDIGO)},
    };
    draw_shapes(img, s, N(s), 3, P(NIGHT));
    mk_finish(img);
}

static void draw_looker(mk_image *img)
{
    // A coin-operated viewer on its pedestal, looking out to the right.
    mk_shape s[] = {
        {2, 92, 238, 72, 16, 6, P(INDIGO)},           // foot
        {2, 116, 128, 24, 116, 6, P(TEAL)},           // pedestal
        {2, 110, 120, 36, 14, 5, P(MINT)},            // collar
        {2, 62, 58, 132, 64, 26, P(TEAL)},            // head
        {2, 70, 64, 60, 20, 9, P(MINT)},              // highlight
        {0, 188, 78, 226, 72, 13, P(INDIGO)},         // eyepieces
        {0, 188, 104, 226, 98, 13, P(INDIGO)},
        {1, 226, 72, 0, 0, 9, P(GOLD)},               // lenses
        {1, 226, 98, 0, 0, 9, P(GOLD)},
        {2, 90, 96, 26, 12, 4, P(NIGHT)},             // coin slot plate
        {2, 96, 100, 14, 3, 1, P(GOLD)},
        {0, 70, 124, 44, 150, 5, P(TEAL)},            // handle
    };
    draw_shapes(img, s, N(s), 3, P(NIGHT));
    // Sparkle on the lenses.
    mk_disc(img, 222, 68, 3, P(WHITE));
    mk_disc(img, 222, 94, 3, P(WHITE));
    mk_finish(img);
}

static void draw_point(mk_image *img, int k)
{
    // A gloved hand pointing right, in five steps forward; motion lines behind.
    double dx = k * 6.0, ext = 50 + k * 5.0;
    double cx = 112 + dx, cy = 100;
    for (int i = 0; i < k; i++) {
        double y = cy - 22 + i * 14;
        mk_capsule(img, 20 + i * 6, y, 56 + dx * 0.8 + i * 4, y, 3, P(NIGHT));
        mk_capsule(img, 20 + i * 6, y, 56 + dx * 0.8 + i * 4, y, 1.6, P(MINT));
    }
    mk_shape s[] = {
        {2, cx - 70, cy - 14, 34, 40, 6, P(PINK)},            // cuff
        {2, cx - 64, cy - 10, 22, 32, 4, P(CORAL)},
        {2, cx - 40, cy - 28, 68, 62, 24, P(CREAM)},          // palm
        {0, cx + 10, cy - 16, cx + 10 + ext, cy - 16, 10, P(CREAM)},  // index finger
        {1, cx + 26, cy + 4, 0, 0, 12, P(CREAM)},             // curled fingers
        {1, cx + 24, cy + 22, 0, 0, 11, P(CREAM)},
        {0, cx - 10, cy - 24, cx + 16, cy - 40, 9, P(CREAM)}, // thumb
    };
    draw_shapes(img, s, N(s), 3, P(NIGHT));
    // Seams of the glove.
    mk_capsule(img, cx - 20, cy - 4, cx - 20, cy + 22, 1.2, P(ROSE));
    mk_capsule(img, cx - 6, cy - 2, cx - 6, cy + 26, 1.2, P(ROSE));
    // Sparkle at the fingertip.
    double tx = cx + 10 + ext + 16, ty = cy - 16;
    double sz = 6 + (k % 3) * 3;
    mk_capsule(img, tx - sz, ty, tx + sz, ty, 2.5, P(NIGHT));
    mk_capsule(img, tx, ty - sz, tx, ty + sz, 2.5, P(NIGHT));
    mk_capsule(img, tx - sz, ty, tx + sz, ty, 1.2, P(GOLD));
    mk_capsule(img, tx, ty - sz, tx, ty + sz, 1.2, P(GOLD));
    mk_finish(img);
}

// ---- Maps ------------------------------------------------------------------------------------------

static void draw_heightmap(mk_image *img)
{
    // Broad hills with a few ridges and flat valley floors; the camera flies 12 map
    // units above the ground, so the relief stays within about 90 units.
    for (int y = 0; y < 256; y++)
        for (int x = 0; x < 256; x++) {
            double n = mk_fbm(5, x, y, 256, 64, 4);
            double rdg = 1.0 - fabs(mk_fbm(9, x, y, 256, 64, 3) * 2 - 1);
            double h = n * 0.75 + rdg * rdg * 0.25;
            h = (h - 0.3) * 2.0;
            if (h < 0.12) h = 0.12 + (h - 0.12) * 0.25;
            int v = 8 + (int)(h * 130);
            if (v < 0) v = 0;
            if (v > 255) v = 255;
            img->px[y * 256 + x] = mk_rgb(v, v, v);
        }
}

// A cyclic gradient through the palette, t in 0..255.
static uint32_t cyclic(int t)
{
    static const uint32_t s[7] = {0xFFEC4D7Fu, 0xFFFF7A5Cu, 0xFFFFD66Bu, 0xFF7FF2DCu,
                                  0xFF5B8CFFu, 0xFF7E2F86u, 0xFFEC4D7Fu};
    return mk_ramp(s, 7, (t & 255) * 65535 / 255);
}

// The title's rays copy texels without converting them back to the API's colour
// order, so they show red and blue exchanged: the rows they read hold the gradient
// pre-exchanged, and the screen shows the palette's own colours.
static uint32_t exchanged(uint32_t c) { return (c & 0xFF00FF00u) | (c >> 16 & 255) | (c & 255) << 16; }

static void draw_texture0(mk_image *img)
{
    // Plane tiles: dark panels with a soft pattern, and glowing grid lines whose
    // colour runs through the palette. Row 1 is the brightest line: the title's
    // rays take their colours from it.
    for (int y = 0; y < 256; y++)
        for (int x = 0; x < 256; x++) {
            double n = mk_fbm(3, x, y, 256, 32, 3);
            int lx = x & 63, ly = y & 63;
            int dia = abs(lx - 32) + abs(ly - 32);
            uint32_t c = mk_lerp(P(NIGHT), P(INDIGO), (int)(n * 200));
            if (dia == 20 || dia == 21) c = mk_lerp(c, P(VIOLET), 160);
            if (dia < 6) c = mk_lerp(c, P(PLUM), 200);
            // Grid lines: distance to the nearest line through row/column 1 (mod 64).
            int dy = abs(((y - 1 + 32) & 63) - 32), dx = abs(((x - 1 + 32) & 63) - 32);
            if (dy <= 3) {
                int k = 256 - dy * 64;
                c = mk_lerp(c, exchanged(cyclic(x + (y < 32 ? 0 : 64) - dy * 12)), k);
            }
            if (dx <= 2) c = mk_lerp(c, cyclic(y + 128 - dx * 12), 220 - dx * 70);
            img->px[y * 256 + x] = c;
        }
    // Rows 0 to 2 hold the same wrapping gradient: the title's rotation carries
    // column 255 of row 1 into row 2, and its flash shift moves to row 0.
    for (int y = 0; y < 3; y++)
        for (int x = 0; x < 256; x++) img->px[y * 256 + x] = exchanged(cyclic(x));
    mk_opaque(img);
}

static void draw_texture2(mk_image *img)
{
    // Tunnel wall: 8 x 4 panels with lit seams, seamless in both directions.
    for (int y = 0; y < 256; y++)
        for (int x = 0; x < 256; x++) {
            int px = x & 31, py = y & 63;
            double n = mk_fbm(21, x, y, 256, 16, 3);
            uint32_t c = mk_lerp(P(INDIGO), P(VIOLET), (int)(n * 180));
            if (px < 2 || py < 2) c = P(NIGHT);
            else if (px == 2 || py == 2) c = mk_lerp(c, P(PLUM), 200);
            else if (px == 31 || py == 63) c = mk_lerp(c, P(NIGHT), 160);
            // A light in every other panel, alternating colour by row.
            int col = x >> 5, row = y >> 6;
            if (((col + row) & 1) == 0 && px >= 12 && px <= 19 && py >= 26 && py <= 37) {
                int edge = px == 12 || px == 19 || py == 26 || py == 37;
                uint32_t l = row & 1 ? P(MINT) : P(PINK);
                c = edge ? mk_lerp(l, P(NIGHT), 100) : mk_lerp(l, P(WHITE), 60);
            }
            // Rivets.
            if ((px == 6 || px == 26) && (py == 8 || py == 56)) c = P(CREAM);
            img->px[y * 256 + x] = c;
        }
    mk_opaque(img);
}

static void draw_texture3(mk_image *img)
{
    // The landscape reads this map every 16 texels: a 16 x 16 grid of terrain colours,
    // chosen from smooth wrapping noise so that neighbouring fields belong together.
    static const uint32_t terrain[8] = {0xFF163A48u, 0xFF1B5A56u, 0xFF2A7A5Au, 0xFF4A8A4Au,
                                        0xFF8A9A4Au, 0xFFC8A050u, 0xFFA85A78u, 0xFF6A3A8Au};
    for (int gy = 0; gy < 16; gy++)
        for (int gx = 0; gx < 16; gx++) {
            double n = mk_noise(31, gx, gy, 4, 4) * 0.7 + mk_noise(32, gx, gy, 2, 8) * 0.3;
            int t = (int)(n * 65535);
            uint32_t c = mk_ramp(terrain, 8, t);
            if (((gx ^ gy) & 1) == 0) c = mk_scale(c, 230);   // field rows
            for (int y = 0; y < 16; y++)
                for (int x = 0; x < 16; x++) img->px[(gy * 16 + y) * 256 + gx * 16 + x] = c;
        }
    mk_opaque(img);
}

// ---- Small sprites -------------------------------------------------------------------------------------

static void draw_particle(mk_image *img, uint32_t core, uint32_t rim)
{
    // Drawn additively: black adds nothing, so the glow fades to black.
    for (int y = 0; y < 16; y++)
        for (int x = 0; x < 16; x++) {
            double dx = x - 7.5, dy = y - 7.5;
            double d = sqrt(dx * dx + dy * dy) / 8.0;
            double k = d >= 1 ? 0 : (1 - d) * (1 - d);
            uint32_t c = mk_lerp(rim, core, (int)(k * k * 256));
            img->px[y * 16 + x] = mk_scale(c, (int)(k * 256));
        }
    mk_opaque(img);
}

static void draw_square(mk_image *img, int i)
{
    static const int base[8] = {PAL_PINK, PAL_ORANGE, PAL_GOLD, PAL_MINT,
                                PAL_TEAL, PAL_SKY, PAL_VIOLET, PAL_CORAL};
    uint32_t c = mk_pal[base[i]];
    int s = img->w;
    mk_fill_rect(img, 0, 0, s, s, P(NIGHT));
    mk_fill_rect(img, 2, 2, s - 4, s - 4, mk_scale(c, 150));      // shadow side
    for (int y = 2; y < s - 2; y++)
        for (int x = 2; x < s - 2; x++)
            if (x + y < s - 2) mk_set(img, x, y, mk_lerp(c, P(WHITE), 90));  // lit side
    mk_fill_rect(img, 7, 7, s - 14, s - 14, c);                   // face
    mk_fill_rect(img, 14, 14, s - 28, s - 28, mk_scale(c, 200));
    mk_fill_rect(img, 18, 18, 6, 6, P(WHITE));                     // glint
    // Corners are cut off (keyed) to soften the silhouette.
    mk_set(img, 0, 0, MK_KEY);
    mk_set(img, s - 1, 0, MK_KEY);
    mk_set(img, 0, s - 1, MK_KEY);
    mk_set(img, s - 1, s - 1, MK_KEY);
    for (int k = 0; k < s * s; k++)
        if (img->px[k] != MK_KEY) img->px[k] |= 0xFF000000u;
}

// The dancer: a figure of capsules posed by the frame number. Frames 0..14 loop
// (a step to each side with the arms pumping); frames 15..24 wave both arms high
// and end in a jump. Limb angles are in turns from straight down, outward positive.
typedef struct { double x, y; } pt;

static pt limb(pt from, double angle, double len, int side)
{
    pt p = {from.x + side * mk_sin1(angle) * len, from.y + mk_cos1(angle) * len};
    return p;
}

static void draw_dancer(mk_image *img, int f)
{
    double ph = f < 15 ? f / 15.0 : (f - 15) / 10.0;
    double s1 = mk_sin1(ph), bob = fabs(mk_sin1(ph * 2)) * 3;
    double jump = f >= 20 ? mk_sin1((f - 20) / 10.0) * 10 : 0;
    double cx = 32 + (f < 15 ? s1 * 3 : 0), top = 4 + bob - jump;
    pt head = {cx, top + 12}, neck = {cx, top + 26};
    pt shl = {cx - 9, top + 32}, shr = {cx + 9, top + 32};
    pt hipl = {cx - 6, top + 72}, hipr = {cx + 6, top + 72};
    // Legs: the stepping leg reaches out, the other stays under the body.
    double ll = f < 15 ? 0.02 + 0.07 * (s1 > 0 ? s1 : 0) : 0.03 + (f >= 20 ? 0.05 : 0);
    double lr = f < 15 ? 0.02 + 0.07 * (s1 < 0 ? -s1 : 0) : 0.03 + (f >= 20 ? 0.05 : 0);
    pt kl = limb(hipl, ll, 28, -1), kr = limb(hipr, lr, 28, 1);
    pt fl = limb(kl, ll * 0.3, 28, -1), fr = limb(kr, lr * 0.3, 28, 1);
    // Arms: pumping in the loop, high and waving in the extra frames.
    double al, ar, el, er;
    if (f < 15) {
        al = 0.16 + 0.12 * s1;
        ar = 0.16 - 0.12 * s1;
        el = al + 0.22 + 0.08 * s1;
        er = ar + 0.22 - 0.08 * s1;
    } else {
        double w = mk_sin1(ph * 2) * 0.04;
        al = 0.40 + w;
        ar = 0.40 - w;
        el = al + 0.04;
        er = ar + 0.04;
    }
    pt elbl = limb(shl, al, 16, -1), elbr = limb(shr, ar, 16, 1);
    pt hl = limb(elbl, el, 15, -1), hr = limb(elbr, er, 15, 1);
    mk_shape s[] = {
        // Legs and shoes.
        {0, hipl.x, hipl.y, kl.x, kl.y, 5, P(INDIGO)},
        {0, kl.x, kl.y, fl.x, fl.y, 4.5, P(INDIGO)},
        {0, fl.x, fl.y, fl.x - 6, fl.y + 1, 3.5, P(CREAM)},
        {0, hipr.x, hipr.y, kr.x, kr.y, 5, P(INDIGO)},
        {0, kr.x, kr.y, fr.x, fr.y, 4.5, P(INDIGO)},
        {0, fr.x, fr.y, fr.x + 6, fr.y + 1, 3.5, P(CREAM)},
        // Body: shirt and belt.
        {2, cx - 11, top + 28, 22, 40, 7, P(PINK)},
        {2, cx - 10, top + 66, 20, 8, 3, P(INDIGO)},
        // Arms: sleeve, then forearm and hand.
        {0, shl.x, shl.y, elbl.x, elbl.y, 4, P(PINK)},
        {0, elbl.x, elbl.y, hl.x, hl.y, 3, P(CREAM)},
        {1, hl.x, hl.y, 0, 0, 3.5, P(CREAM)},
        {0, shr.x, shr.y, elbr.x, elbr.y, 4, P(PINK)},
        {0, elbr.x, elbr.y, hr.x, hr.y, 3, P(CREAM)},
        {1, hr.x, hr.y, 0, 0, 3.5, P(CREAM)},
        // Neck, head and hair.
        {0, neck.x, neck.y - 4, neck.x, neck.y, 3, P(CREAM)},
        {1, head.x, head.y, 0, 0, 10, P(CREAM)},
        {0, head.x - 8, head.y - 5, head.x + 8, head.y - 7, 4.5, P(GOLD)},
    };
    draw_shapes(img, s, N(s), 2, P(NIGHT));
    mk_finish(img);
    // Snap to the few colours the colour map holds.
    static const uint32_t allowed[] = {0xFF0B0A1Au, 0xFF251A52u, 0xFFEC4D7Fu, 0xFFFFF1D2u,
                                       0xFFFFD66Bu};
    for (int k = 0; k < img->w * img->h; k++) {
        uint32_t c = img->px[k];
        if (c == MK_KEY) continue;
        int best = 0, bd = 1 << 30;
        for (int a = 0; a < N(allowed); a++) {
            int dr = (int)((c >> 16) & 255) - (int)((allowed[a] >> 16) & 255);
            int dg = (int)((c >> 8) & 255) - (int)((allowed[a] >> 8) & 255);
            int db = (int)(c & 255) - (int)(allowed[a] & 255);
            int d = dr * dr + dg * dg + db * db;
            if (d < bd) bd = d, best = a;
        }
        img->px[k] = allowed[best];
    }
}

// ---- Table -------------------------------------------------------------------------------------------

int mk_draw_picture(const char *name, mk_image *out)
{
    int n = 0;
    if (!strcmp(name, "introbg1.tga") || !strcmp(name, "introbg2.tga")) {
        *out = mk_new(480, 270, 0xFF000000u);
        vista(out, name[7] == '2');
    } else if (!strcmp(name, "diagonal.tga")) {
        *out = mk_new(480, 270, 0xFF000000u);
        draw_diagonal(out);
    } else if (!strcmp(name, "finaltext.tga")) {
        *out = sprite_canvas();
        final_text(out, "THANK YOU", "FOR WATCHING MIRADOR", "see you at the next lookout");
    } else if (!strcmp(name, "finaltext2.tga")) {
        *out = sprite_canvas();
        final_text(out, "THE END", "MIRADOR  1999 - 2019", "all pictures and music made by code");
    } else if (!strcmp(name, "drumlin1999.tga")) {
        *out = sprite_canvas();
        year_caption(out, "1999", "LOOKING BACK");
    } else if (!strcmp(name, "drumlin2019.tga")) {
        *out = sprite_canvas();
        year_caption(out, "2019", "LOOKING AHEAD");
    } else if (!strcmp(name, "eatit1.tga") || !strcmp(name, "eatit2.tga")) {
        *out = sprite_canvas();
        draw_eatit(out, name[5] == '2');
    } else if (!strcmp(name, "vhs.tga")) {
        *out = sprite_canvas();
        draw_vhs(out);
    } else if (!strcmp(name, "vhs2.tga")) {
        *out = sprite_canvas();
        draw_vhs2(out);
    } else if (!strcmp(name, "abs.tga")) {
        *out = sprite_canvas();
        draw_abs(out);
    } else if (!strcmp(name, "mirador_title.tga")) {
        *out = sprite_canvas();
        draw_title(out);
    } else if (!strcmp(name, "mirador_logo2.tga")) {
        *out = sprite_canvas();
        draw_logo(out);
    } else if (!strcmp(name, "lanterne.tga")) {
        *out = mk_new(256, 256, 0);
        draw_lanterne(out);
    } else if (!strcmp(name, "looker.tga")) {
        *out = mk_new(256, 256, 0);
        draw_looker(out);
    } else if (sscanf(name, "credits%d.tga", &n) == 1 && n >= 1 && n <= 3) {
        *out = sprite_canvas();
        draw_credit(out, n - 1);
    } else if (!strcmp(name, "call480.tga")) {
        *out = mk_new(480, 270, 0xFF000000u);
        draw_call(out);
    } else if (!strcmp(name, "negativelogo.tga")) {
        *out = mk_new(256, 64, 0);
        draw_negative(out);
    } else if (!strcmp(name, "feelgreat1.tga")) {
        *out = mk_new(480, 64, 0);
        strip(out, 0, "FEEL GREAT", "hold on tight");
    } else if (!strcmp(name, "feelgreat480.tga")) {
        *out = sprite_canvas();
        strip(out, 206, "GO FASTER", "the light is near");
    } else if (!strcmp(name, "hipsquare.tga")) {
        *out = sprite_canvas();
        draw_hipsquare(out);
    } else if (!strcmp(name, "thousand.tga")) {
        *out = sprite_canvas();
        draw_thousand(out);
    } else if (!strcmp(name, "heightmap.tga")) {
        *out = mk_new(256, 256, 0);
        draw_heightmap(out);
    } else if (!strcmp(name, "texture0.tga")) {
        *out = mk_new(256, 256, 0);
        draw_texture0(out);
    } else if (!strcmp(name, "texture2.tga")) {
        *out = mk_new(256, 256, 0);
        draw_texture2(out);
    } else if (!strcmp(name, "texture3.tga")) {
        *out = mk_new(256, 256, 0);
        draw_texture3(out);
    } else if (!strcmp(name, "particle_r.tga")) {
        *out = mk_new(16, 16, 0);
        draw_particle(out, 0xFFFFF1D2u, 0xFFEC4D7Fu);
    } else if (!strcmp(name, "particle_g.tga")) {
        *out = mk_new(16, 16, 0);
        draw_particle(out, 0xFFFFFFFFu, 0xFF20B2AAu);
    } else if (!strcmp(name, "particle_b.tga")) {
        *out = mk_new(16, 16, 0);
        draw_particle(out, 0xFFE0E8FFu, 0xFF5B8CFFu);
    } else if (sscanf(name, "square%d.tga", &n) == 1 && n >= 1 && n <= 8) {
        *out = mk_new(50, 50, 0);
        draw_square(out, n - 1);
    } else if (sscanf(name, "point%d.tga", &n) == 1 && n >= 1 && n <= 5) {
        *out = mk_new(256, 192, 0);
        draw_point(out, n - 1);
    } else if (sscanf(name, "dance%d.tga", &n) == 1 && n >= 1 && n <= 25) {
        *out = mk_new(64, 144, 0);
        draw_dancer(out, n - 1);
    } else {
        return 0;
    }
    return 1;
}

// ---- Font sheet -------------------------------------------------------------------------------------------

mk_image mk_draw_font(void)
{
    // Glyphs for ' ' to '~' side by side; row 0 marks the first column of every glyph
    // after the space. Column 0 is the one-pixel glyph 0.
    enum { PX = 13, FIRST = 32, LAST = 126 };
    mk_mask probe = mk_text(0, PX, 0, "A");
    int gh = probe.h + 2;                 // glyph height with the outline
    mk_mask_free(&probe);
    int widths[LAST - FIRST + 1];
    int total = 1;
    for (int c = FIRST; c <= LAST; c++) {
        char s[2] = {(char)c, 0};
        widths[c - FIRST] = mk_text_advance(0, PX, s, 0) + 2;
        total += widths[c - FIRST];
    }
    mk_image img = mk_new(total, gh + 1, 0);
    int x = 1;
    for (int c = FIRST; c <= LAST; c++) {
        char s[2] = {(char)c, 0};
        int w = widths[c - FIRST];
        if (c > FIRST) mk_set(&img, x, 0, 0xFFFFD66Bu);
        mk_mask t = mk_text(0, PX, 0, s);
        mk_mask o = mk_dilate(&t, 1);
        mk_image cell = mk_new(w, gh, 0);
        uint32_t ink = P(NIGHT);
        // The text mask puts the pen at column 2; the outline adds one more.
        mk_paint_mask(&cell, &o, -2, 0, &ink, 1);
        mk_paint_mask(&cell, &t, -1, 1, heat + 1, 4);
        for (int j = 0; j < gh; j++)
            for (int i = 0; i < w; i++) mk_set(&img, x + i, 1 + j, mk_get(&cell, i, j));
        mk_free(&cell);
        mk_mask_free(&t);
        mk_mask_free(&o);
        x += w;
    }
    mk_finish(&img);   // the marker row's empty pixels become the key colour
    return img;
}
