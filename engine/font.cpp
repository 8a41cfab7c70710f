// font.cpp - proportional bitmap fonts: the sheet's marker row gives each glyph's
// start column, one sprite is cut per glyph, text is drawn glyph by glyph.
#include "engine/font.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "engine/tga.h"
#include "engine/video.h"

s_bitmap orb_fontbmp[ORB_MAXFONTS];
int orb_numfonts = 0;

void ORB_InitFont(const char *name, s_font *font)
{
    if (orb_numfonts >= ORB_MAXFONTS) {
        printf("- ERROR: Too many fonts, max. %d.\n", ORB_MAXFONTS);
        return;
    }
    s_bitmap *sheet = &orb_fontbmp[orb_numfonts];
    ORB_LoadBitmap(name, sheet);
    font->sheet = sheet;

    // Measure: a pixel with nonzero alpha in row 0 starts a glyph. Glyph 0 is
    // column 0 alone; glyph 1 starts at column 1. Past 95 glyphs, further markers
    // only move the start of the last one.
    font->widths[0] = 1;
    int g = 1, m = 1;
    for (int x = 0; x < sheet->width; x++) {
        if (ORB_GetPixel(x, 0, *sheet) >> 24) {
            font->widths[g] = (uint8_t)(x - m);
            if (g < 95) g++;
            m = x;
        }
    }
    font->widths[g] = (uint8_t)(sheet->width - m);
    font->numletters = g + 1;
    font->height = sheet->height - 1;
    font->spacing = 0;
    printf("numletters: %d\n", font->numletters);

    int s = 0;
    for (int i = 0; i < font->numletters; i++) {
        ORB_GetSprite(s, 1, font->widths[i], sheet->height - 1, *sheet, &font->letters[i]);
        s += font->widths[i];
    }
    orb_numfonts++;
    printf("add fontbmp, num.fonts: %d\n", orb_numfonts);
}

void ORB_InitDarkFont(const char *name, s_font *font)
{
    ORB_InitFont(name, font);
}

void ORB_DeleteFont(void)
{
    // Sheets and glyph sprites belong to the bitmap and sprite registries, which the
    // graphics flush empties.
}

void ORB_SetFontSpacing(int spacing, s_font *font)
{
    font->spacing = spacing;
}

// Glyph of a character: code - 31 as a signed byte. Only 1 (space) to 93 (the
// vertical bar) are drawn; anything else is skipped without moving the pen.
static int font_glyph(unsigned char c)
{
    int i = (c - 31) & 0xFF;
    if (i >= 128) i -= 256;
    return (i >= 1 && i <= 93) ? i : 0;
}

static int font_measure(const s_font *font, const char *text)
{
    int w = 0;
    for (const unsigned char *p = (const unsigned char *)text; *p; p++) {
        int i = font_glyph(*p);
        if (i) w += font->widths[i] + font->spacing;
    }
    return w;
}

// Draws from the pen at (x, y). spacedspace: the space also gets the extra spacing.
static void font_draw(int x, int y, const s_font *font, const char *text, int spacedspace)
{
    for (const unsigned char *p = (const unsigned char *)text; *p; p++) {
        int i = font_glyph(*p);
        if (!i) continue;
        ORB_DrawSprite(x, y, font->letters[i]);
        if (i == 1 && !spacedspace) x += font->widths[1];
        else x += font->widths[i] + font->spacing;
    }
}

// Formats into 256 bytes: longer texts are cut to 255 characters.
#define FONT_FORMAT(buf, fmt)                       \
    char buf[256];                                  \
    do {                                            \
        va_list ap;                                 \
        va_start(ap, fmt);                          \
        vsnprintf(buf, sizeof(buf), fmt, ap);       \
        va_end(ap);                                 \
    } while (0)

void ORB_DrawText(int x, int y, s_font font, const char *fmt, ...)
{
    FONT_FORMAT(text, fmt);
    font_draw(x, y, &font, text, 0);
}

void ORB_DrawCenteredText(int y, s_font font, const char *fmt, ...)
{
    FONT_FORMAT(text, fmt);
    int target = ORB_FrameBuffer ? ORB_FrameBuffer->width : 0;
    int w = font_measure(&font, text);
    font_draw((target >> 1) - (w >> 1), y, &font, text, 0);
}

void ORB_DrawCenteredTextXW(int x, int y, int w, s_font font, const char *fmt, ...)
{
    FONT_FORMAT(text, fmt);
    int tw = font_measure(&font, text);
    font_draw(x + (w >> 1) - (tw >> 1), y, &font, text, 1);
}
