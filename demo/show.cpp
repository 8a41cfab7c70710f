// show.cpp - the show's asset table, and loading and checking one of its rows.
#include "demo/show.h"

#include "demo/main.h"
#include "demo/startup.h"
#include "engine/tga.h"

namespace {
// The rows by kind. The scenes draw the bitmaps whole and the show is timed to the
// music: those are what start-up checks; a sprite or the font that did not load
// leaves only its own drawing out.
constexpr show_asset font_row(const char *file, s_font *f)
{
    return { file, SHOW_FONT, f, nullptr, nullptr, nullptr, 0 };
}
constexpr show_asset canvas(s_bitmap *b)
{
    return { nullptr, SHOW_CANVAS, nullptr, b, nullptr, nullptr, 0 };
}
constexpr show_asset bitmap(const char *file, s_bitmap *b)
{
    return { file, SHOW_BITMAP, nullptr, b, nullptr, nullptr, 1 };
}
constexpr show_asset sprite(const char *file, s_sprite *s)
{
    return { file, SHOW_SPRITE, nullptr, nullptr, s, nullptr, 0 };
}
constexpr show_asset music(const char *file, s_sound *s)
{
    return { file, SHOW_MUSIC, nullptr, nullptr, nullptr, s, 1 };
}
}  // namespace

// In load order. No file goes into bmp_texture1, which stays empty; the point
// animation runs back and forth, so its entries 5 to 7 load files 4, 3 and 2 again.
const show_asset show_assets[] = {
    font_row("font_heat.tga", &font),
    canvas(&bmp_bg),
    bitmap("introbg1.tga", &bmp_introbg1),
    bitmap("introbg2.tga", &bmp_introbg2),
    sprite("finaltext.tga", &spr_finaltext),
    sprite("finaltext2.tga", &spr_finaltext2),
    sprite("drumlin2019.tga", &spr_introtext1),
    sprite("drumlin1999.tga", &spr_introtext2),
    sprite("eatit1.tga", &spr_eatit1),
    sprite("eatit2.tga", &spr_eatit2),
    sprite("vhs.tga", &spr_vhs),
    sprite("vhs2.tga", &spr_vhs2),
    sprite("abs.tga", &spr_abs),
    bitmap("diagonal.tga", &bmp_background),
    sprite("mirador_title.tga", &spr_title),
    sprite("mirador_logo2.tga", &spr_titlelogo),
    sprite("lanterne.tga", &spr_lanterne),
    sprite("looker.tga", &spr_looker),
    sprite("credits1.tga", &spr_credits1),
    sprite("credits2.tga", &spr_credits2),
    sprite("credits3.tga", &spr_credits3),
    sprite("call480.tga", &spr_caller),
    sprite("negativelogo.tga", &spr_negativelogo),
    sprite("feelgreat1.tga", &spr_feelgreat),
    sprite("feelgreat480.tga", &spr_feelgreat2),
    sprite("hipsquare.tga", &spr_hipsquare),
    sprite("thousand.tga", &spr_thousand),
    bitmap("heightmap.tga", &bmp_height),
    bitmap("texture0.tga", &bmp_texture2),
    bitmap("texture2.tga", &bmp_texture3),
    bitmap("texture3.tga", &bmp_texture4),
    sprite("particle_r.tga", &spr_particle[0]),
    sprite("particle_g.tga", &spr_particle[1]),
    sprite("particle_b.tga", &spr_particle[2]),
    sprite("square1.tga", &spr_square[0]),
    sprite("square2.tga", &spr_square[1]),
    sprite("square3.tga", &spr_square[2]),
    sprite("square4.tga", &spr_square[3]),
    sprite("square5.tga", &spr_square[4]),
    sprite("square6.tga", &spr_square[5]),
    sprite("square7.tga", &spr_square[6]),
    sprite("square8.tga", &spr_square[7]),
    sprite("point1.tga", &spr_point[0]),
    sprite("point2.tga", &spr_point[1]),
    sprite("point3.tga", &spr_point[2]),
    sprite("point4.tga", &spr_point[3]),
    sprite("point5.tga", &spr_point[4]),
    sprite("point4.tga", &spr_point[5]),
    sprite("point3.tga", &spr_point[6]),
    sprite("point2.tga", &spr_point[7]),
    sprite("dance1.tga", &spr_dance[0]),
    sprite("dance2.tga", &spr_dance[1]),
    sprite("dance3.tga", &spr_dance[2]),
    sprite("dance4.tga", &spr_dance[3]),
    sprite("dance5.tga", &spr_dance[4]),
    sprite("dance6.tga", &spr_dance[5]),
    sprite("dance7.tga", &spr_dance[6]),
    sprite("dance8.tga", &spr_dance[7]),
    sprite("dance9.tga", &spr_dance[8]),
    sprite("dance10.tga", &spr_dance[9]),
    sprite("dance11.tga", &spr_dance[10]),
    sprite("dance12.tga", &spr_dance[11]),
    sprite("dance13.tga", &spr_dance[12]),
    sprite("dance14.tga", &spr_dance[13]),
    sprite("dance15.tga", &spr_dance[14]),
    sprite("dance16.tga", &spr_dance[15]),
    sprite("dance17.tga", &spr_dance[16]),
    sprite("dance18.tga", &spr_dance[17]),
    sprite("dance19.tga", &spr_dance[18]),
    sprite("dance20.tga", &spr_dance[19]),
    sprite("dance21.tga", &spr_dance[20]),
    sprite("dance22.tga", &spr_dance[21]),
    sprite("dance23.tga", &spr_dance[22]),
    sprite("dance24.tga", &spr_dance[23]),
    sprite("dance25.tga", &spr_dance[24]),
    music("mirador4.wav", &gamemusic),
};
const int show_asset_count = (int)(sizeof show_assets / sizeof show_assets[0]);

void show_load(const show_asset *a)
{
    switch (a->kind) {
    case SHOW_FONT: ORB_InitFont(a->file, a->font); break;
    case SHOW_CANVAS: ORB_CreateBitmap(SHOW_W, SHOW_H, a->bitmap); break;
    case SHOW_BITMAP: ORB_LoadBitmap(a->file, a->bitmap); break;
    case SHOW_SPRITE: ORB_LoadSprite(a->file, a->sprite); break;
    case SHOW_MUSIC: Soundsystem_LoadSound(a->file, a->sound); break;
    }
}

s_bitmap *show_picture(const show_asset *a)
{
    if (a->bitmap) return a->bitmap;
    if (a->sprite) return a->sprite->bitmap;
    return nullptr;
}

int show_loaded(const show_asset *a)
{
    if (a->sound) return a->sound->data != nullptr;
    if (a->font) return a->font->sheet != nullptr && a->font->sheet->pixels != nullptr;
    const s_bitmap *b = show_picture(a);
    return b != nullptr && b->pixels != nullptr;
}

int show_checked_count(void)
{
    int n = 0;
    for (int i = 0; i < show_asset_count; i++) n += show_assets[i].checked;
    return n;
}
