// hud.cpp - the overlay, in plain GL over the window, text in the show's font.
#include "tools/dev/hud.h"

#include <GL/glew.h>
#include <stdio.h>
#include <string.h>

#include "demo/main.h"
#include "demo/show.h"

const char *dev_scene_name(int p)
{
    static const char *names[] = { "intro", "title", "tunnel", "rings", "plane", "vhs",
                                   "voxel", "balls", "credits", "dance", "finale" };
    if (p < SHOW_FIRST_PERIOD) p = SHOW_FIRST_PERIOD;
    if (p > SHOW_END_PERIOD) p = SHOW_END_PERIOD;
    return names[(p - SHOW_FIRST_PERIOD) / 2 > 10 ? 10 : (p - SHOW_FIRST_PERIOD) / 2];
}

// The text scale for a window: the font is made for 480x270.
static float text_scale(int w)
{
    float s = w / 1280.0f;
    return s < 0.5f ? 0.5f : s;
}

static void rect(float x, float y, float w, float h, float r, float g, float b, float a)
{
    glDisable(GL_TEXTURE_2D);
    glColor4f(r, g, b, a);
    glBegin(GL_QUADS);
    glVertex2f(x, y);
    glVertex2f(x + w, y);
    glVertex2f(x + w, y + h);
    glVertex2f(x, y + h);
    glEnd();
}

static float text_width(const char *s, float scale)
{
    float w = 0;
    for (const unsigned char *p = (const unsigned char *)s; *p; p++) {
        int i = *p - 31;
        if (i >= 1 && i <= 93) w += (font.widths[i] + (i == 1 ? 0 : font.spacing)) * scale;
    }
    return w;
}

// One line in the font's glyphs (the font's own colours, tinted by the colour).
static void text(float x, float y, float scale, const char *s)
{
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_ALPHA_TEST);
    glAlphaFunc(GL_GREATER, 0.0f);
    glColor4f(1, 1, 1, 1);
    for (const unsigned char *p = (const unsigned char *)s; *p; p++) {
        int i = *p - 31;
        if (i < 1 || i > 93) continue;
        const s_sprite &g = font.letters[i];
        if (g.texture) {
            glBindTexture(GL_TEXTURE_2D, g.texture);
            float w = g.width * scale, h = g.height * scale;
            glBegin(GL_QUADS);
            glTexCoord2f(g.umin, g.vmin);
            glVertex2f(x, y);
            glTexCoord2f(g.umax, g.vmin);
            glVertex2f(x + w, y);
            glTexCoord2f(g.umax, g.vmax);
            glVertex2f(x + w, y + h);
            glTexCoord2f(g.umin, g.vmax);
            glVertex2f(x, y + h);
            glEnd();
        }
        x += (font.widths[i] + (i == 1 ? 0 : font.spacing)) * scale;
    }
    glDisable(GL_ALPHA_TEST);
}

static float line_height(float scale)
{
    return (font.height > 0 ? font.height + 2 : 12) * scale;
}

// The strip: 21 cells along the bottom edge.
static void strip_box(int w, int hgt, float *x, float *y, float *sw, float *sh)
{
    *sh = 14.0f * text_scale(w) + 6.0f;
    *x = 8.0f;
    *sw = (float)w - 16.0f;
    *y = (float)hgt - *sh - 8.0f;
}

int dev_hud_strip_hit(int x, int y, int w, int hgt)
{
    float sx, sy, sw, sh;
    strip_box(w, hgt, &sx, &sy, &sw, &sh);
    if (x < sx || x >= sx + sw || y < sy || y >= sy + sh) return 0;
    const int cells = SHOW_LAST_PERIOD - SHOW_FIRST_PERIOD + 1;
    int cell = (int)((x - sx) * cells / sw);
    return SHOW_FIRST_PERIOD + (cell > cells - 1 ? cells - 1 : cell);
}

static void draw_strip(const dev_hud *h, int w, int hgt)
{
    float sx, sy, sw, sh;
    strip_box(w, hgt, &sx, &sy, &sw, &sh);
    rect(sx - 2, sy - 2, sw + 4, sh + 4, 0, 0, 0, 0.6f);
    const int last = h->scene > SHOW_LAST_PERIOD ? SHOW_LAST_PERIOD : h->scene;
    float cw = sw / (SHOW_LAST_PERIOD - SHOW_FIRST_PERIOD + 1);
    for (int p = SHOW_FIRST_PERIOD; p <= SHOW_LAST_PERIOD; p++) {
        float x = sx + (p - SHOW_FIRST_PERIOD) * cw;
        int cur = p == last;
        float v = h->known && h->known[p] ? 0.45f : 0.25f;
        // Each scene's two periods share a hue; the current one is bright.
        float r = ((p / 2) % 2) ? v : v * 0.6f, g = v * 0.8f, b = ((p / 2) % 2) ? v * 0.6f : v;
        if (cur) r = 0.9f, g = 0.75f, b = 0.2f;
        rect(x + 1, sy, cw - 2, sh, r, g, b, 0.9f);
    }
    float cx = sx + (last - SHOW_FIRST_PERIOD + h->period_pos) * cw;
    rect(cx - 1.5f, sy - 4, 3, sh + 8, 1, 1, 1, 1);
}

static void draw_help(int w, int hgt, float s)
{
    // Key, then what it does, in two columns.
    static const char *lines[][2] = {
        { "Space", "pause, resume" },
        { "Right  Left", "next, previous period" },
        { "Home", "the start" },
        { "click the strip", "that period" },
        { ".  ,", "one frame on, back (paused)" },
        { "L", "loop this period" },
        { "[  ]", "half, double speed" },
        { "H", "overlay on, off" },
        { "F1  ?", "this card" },
        { "Escape", "end" },
    };
    int n = (int)(sizeof lines / sizeof lines[0]);
    float lh = line_height(s), kw = 0, dw = 0;
    for (int i = 0; i < n; i++) {
        float a = text_width(lines[i][0], s), b = text_width(lines[i][1], s);
        if (a > kw) kw = a;
        if (b > dw) dw = b;
    }
    float gap = 24 * s, bw = kw + gap + dw + 40 * s, bh = (n + 1.5f) * lh + 30 * s;
    float x = (w - bw) / 2, y = (hgt - bh) / 2;
    rect(x, y, bw, bh, 0, 0, 0, 0.8f);
    text(x + 20 * s, y + 15 * s, s, "KEYS");
    for (int i = 0; i < n; i++) {
        float ly = y + 15 * s + (i + 1.5f) * lh;
        text(x + 20 * s, ly, s, lines[i][0]);
        text(x + 20 * s + kw + gap, ly, s, lines[i][1]);
    }
}

static void draw_lines(const dev_hud *h, float s)
{
    float lh = line_height(s);
    char l[4][192];
    int ms = (int)h->show_ms;
    snprintf(l[0], sizeof l[0], "period %d %s   %02d:%02d.%03d   frame %llu%s%s", h->scene,
             dev_scene_name(h->scene), ms / 60000, ms / 1000 % 60, ms % 1000, (unsigned long long)h->frame,
             h->paused ? "   PAUSED" : "", h->loop ? "   LOOP" : "");
    snprintf(l[1], sizeof l[1], "scene %.1f ms   present %.1f ms   frame %.1f ms   %.1f fps", h->scene_ms,
             h->present_ms, h->frame_ms, h->fps);
    snprintf(l[2], sizeof l[2], "sound queue %.0f ms   speed %gx   sound %s%s%s%s%s", h->queue_ms, h->speed,
             h->sound ? h->sound : "", h->behind ? "   " : "", h->behind ? h->behind : "", h->worker ? "   " : "",
             h->worker ? h->worker : "");
    snprintf(l[3], sizeof l[3], "%s", h->message ? h->message : "");
    int n = l[3][0] ? 4 : 3;
    float bw = 0;
    for (int i = 0; i < n; i++) {
        float tw = text_width(l[i], s);
        if (tw > bw) bw = tw;
    }
    rect(4, 4, bw + 16 * s, n * lh + 8 * s, 0, 0, 0, 0.6f);
    for (int i = 0; i < n; i++) text(4 + 8 * s, 4 + 4 * s + i * lh, s, l[i]);
}

void dev_hud_draw(const dev_hud *h, int w, int hgt)
{
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0, w, hgt, 0, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glViewport(0, 0, w, hgt);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glDisable(GL_LIGHTING);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);

    float s = text_scale(w);
    if (h->lines) {
        draw_lines(h, s);
        draw_strip(h, w, hgt);
    }
    if (h->help) draw_help(w, hgt, s);
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glPopAttrib();
}
