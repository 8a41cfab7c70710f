// font.h - proportional bitmap fonts cut from one TGA sheet, and text drawing.
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

void ORB_InitFont(const char *name, s_font *font);
void ORB_InitDarkFont(const char *name, s_font *font);
void ORB_DeleteFont(void);
void ORB_SetFontSpacing(int spacing, s_font *font);
void ORB_DrawText(int x, int y, s_font font, const char *fmt, ...);
void ORB_DrawCenteredText(int y, s_font font, const char *fmt, ...);
void ORB_DrawCenteredTextXW(int x, int y, int w, s_font font, const char *fmt, ...);

extern s_bitmap orb_fontbmp[ORB_MAXFONTS];
extern int orb_numfonts;

#endif
