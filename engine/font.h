// font.h - proportional bitmap fonts cut from one TGA sheet, and text drawing.
//
// Limits: 16 fonts (ORB_MAXFONTS), each with its sheet in orb_fontbmp; a 17th is
// refused with "- ERROR: Too many fonts, max. 16." and its record is left unchanged.
// A font has at most 96 glyphs (markers past the 95th only move the last glyph's
// start) and glyph widths are bytes: a glyph wider than 255 pixels gets its width
// modulo 256. Each glyph is a registered sprite and the sheet a registered bitmap,
// so the font counts against both registries: when the sprite registry fills while
// the glyphs are cut, the remaining glyphs print the sprite registry's error and
// their letter records keep what they held (the font still counts as set up).
// Drawn text is formatted into 256 bytes, so it is cut to 255 characters.
#ifndef ENGINE_FONT_H
#define ENGINE_FONT_H

#include <stdint.h>
#include "engine/bitmap.h"
#include "engine/sprite.h"

#define ORB_MAXFONTS 16

typedef struct s_font {
    s_sprite letters[96];   // glyph i draws the character i + 31
    uint8_t widths[96];     // advance widths
    int32_t height;         // sheet height - 1
    int32_t numletters;
    int32_t spacing;        // extra pixels after each glyph
    s_bitmap *sheet;        // slot in orb_fontbmp
} s_font;

// Loads the sheet into orb_fontbmp[orb_numfonts], measures the glyphs from the
// marker row (row 0) and cuts one sprite per glyph.
void ORB_InitFont(const char *name, s_font *font);
// The same as ORB_InitFont.
void ORB_InitDarkFont(const char *name, s_font *font);
// Nothing: sheets and glyphs are freed by the graphics flush.
void ORB_DeleteFont(void);
// Extra pixels after each glyph.
void ORB_SetFontSpacing(int spacing, s_font *font);
// Formatted text (cut to 255 characters) with its glyphs' top-left corner at (x, y).
// Characters 0x20 to 0x7C are drawn; others are skipped without moving the pen.
// The space advances by its width only, other glyphs by width + spacing.
void ORB_DrawText(int x, int y, s_font font, const char *fmt, ...);
// The same, centred on the current framebuffer's width.
void ORB_DrawCenteredText(int y, s_font font, const char *fmt, ...);
// Centred in the span x .. x + w; here the space also advances by width + spacing.
void ORB_DrawCenteredTextXW(int x, int y, int w, s_font font, const char *fmt, ...);

extern s_bitmap orb_fontbmp[ORB_MAXFONTS];
extern int orb_numfonts;

#endif
