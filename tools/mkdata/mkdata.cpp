// mkdata.cpp - the asset generator's entry: draws every picture, synthesises the
// music, encodes them and packs the resource image.
//
//   mkdata <output.dat> [--preview <dir>] [--icons <dir>]
//
// --preview also writes one PNG per picture (transparent pixels as a dark checker
// board) and contact.png, a sheet of all of them, into dir (which must exist).
// --icons writes the program's icon, the intro's sunset, in the sizes desktops look
// for, as an icon theme's folders: dir/<n>x<n>/apps/mirador.png.
#include "tools/mkdata/mkdata.h"
#include "tools/mkdata/writers.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "corefile/corepack.h"
#include "platform/platform.h"

// How each file is stored. The set uses every encoding the engine's loader reads,
// so the real data exercises every decoding path: image types 1, 2, 3, 9, 10, 11,
// depths 8, 16, 24, 32, colour maps of 16- and 24-bit entries, both origins.
typedef struct {
    const char *name;
    int type, depth, mapbits, origin;
    int swap;   // stored with red and blue exchanged (see swap_red_blue)
} mk_asset;

#define BL MK_ORIGIN_BOTTOM_LEFT
#define TL MK_ORIGIN_TOP_LEFT

static const mk_asset assets[] = {
    {"font_heat.tga", 10, 32, 0, TL, 0},
    {"introbg1.tga", 2, 24, 0, BL, 1},
    {"introbg2.tga", 2, 32, 0, TL, 1},
    {"finaltext.tga", 10, 24, 0, BL, 0},
    {"finaltext2.tga", 10, 16, 0, TL, 0},
    {"drumlin2019.tga", 10, 32, 0, BL, 0},
    {"drumlin1999.tga", 10, 24, 0, TL, 0},
    {"eatit1.tga", 10, 24, 0, BL, 0},
    {"eatit2.tga", 10, 32, 0, TL, 0},
    {"vhs.tga", 2, 24, 0, TL, 0},
    {"vhs2.tga", 10, 16, 0, BL, 0},
    {"abs.tga", 10, 24, 0, TL, 0},
    {"diagonal.tga", 9, 8, 24, BL, 0},
    {"mirador_title.tga", 10, 32, 0, TL, 0},
    {"mirador_logo2.tga", 10, 24, 0, BL, 0},
    {"lanterne.tga", 10, 32, 0, BL, 0},
    {"looker.tga", 10, 24, 0, TL, 0},
    {"credits1.tga", 10, 24, 0, BL, 0},
    {"credits2.tga", 10, 32, 0, TL, 0},
    {"credits3.tga", 10, 16, 0, BL, 0},
    {"call480.tga", 10, 24, 0, TL, 0},
    {"negativelogo.tga", 11, 8, 0, TL, 0},
    {"feelgreat1.tga", 10, 16, 0, TL, 0},
    {"feelgreat480.tga", 10, 24, 0, BL, 0},
    {"hipsquare.tga", 10, 32, 0, BL, 0},
    {"thousand.tga", 10, 24, 0, TL, 0},
    {"heightmap.tga", 3, 8, 0, BL, 0},
    {"texture0.tga", 2, 24, 0, BL, 0},
    {"texture2.tga", 2, 32, 0, TL, 0},
    {"texture3.tga", 1, 8, 24, TL, 0},
    {"particle_r.tga", 2, 32, 0, BL, 0},
    {"particle_g.tga", 2, 32, 0, TL, 0},
    {"particle_b.tga", 2, 16, 0, BL, 0},
    {"square1.tga", 1, 8, 16, BL, 0},
    {"square2.tga", 9, 8, 24, TL, 0},
    {"square3.tga", 1, 8, 24, TL, 0},
    {"square4.tga", 9, 8, 16, BL, 0},
    {"square5.tga", 1, 8, 16, TL, 0},
    {"square6.tga", 9, 8, 24, BL, 0},
    {"square7.tga", 1, 8, 24, BL, 0},
    {"square8.tga", 9, 8, 16, TL, 0},
    {"point1.tga", 10, 32, 0, TL, 0},
    {"point2.tga", 10, 32, 0, BL, 0},
    {"point3.tga", 10, 24, 0, TL, 0},
    {"point4.tga", 10, 32, 0, BL, 0},
    {"point5.tga", 10, 32, 0, TL, 0},
};
#define NUM_FIXED ((int)(sizeof assets / sizeof assets[0]))
#define NUM_DANCE 25
#define NUM_FILES (NUM_FIXED + NUM_DANCE + 1)

// Dance frames alternate between an RLE colour map with 24-bit entries (top-left) and a
// plain colour map with 16-bit entries (bottom-left).
static mk_asset dance_asset(int i, char *name, int size)
{
    snprintf(name, (size_t)size, "dance%d.tga", i + 1);
    mk_asset a = {name, i & 1 ? 1 : 9, 8, i & 1 ? 16 : 24, i & 1 ? BL : TL, 0};
    return a;
}

// The intro and finale mix their two backgrounds with a pass that copies the pixel
// buffer's words without converting them back to the API's colour order, so red and
// blue change places on screen. Those pictures are stored exchanged, and the screen
// shows them as drawn (the previews show them as drawn, too).
static void swap_red_blue(mk_image *img)
{
    for (int i = 0; i < img->w * img->h; i++) {
        uint32_t c = img->px[i];
        img->px[i] = (c & 0xFF00FF00u) | (c >> 16 & 255) | (c & 255) << 16;
    }
}

// The preview shows transparent pixels as a dark checker board.
static uint32_t preview_pixel(uint32_t c, int x, int y)
{
    if (c != MK_KEY) return c;
    return ((x >> 3) + (y >> 3)) & 1 ? 0xFF24243Au : 0xFF1A1A2Au;
}

// Previews and icons that could not be written make the run fail at its end (after the image).
static int preview_failed;

static void write_preview(const char *dir, const char *name, const mk_image *img)
{
    char path[1024];
    snprintf(path, sizeof path, "%s/%.*s.png", dir, (int)(strlen(name) - 4), name);
    mk_image p = mk_new(img->w, img->h, 0);
    for (int y = 0; y < img->h; y++)
        for (int x = 0; x < img->w; x++) p.px[y * p.w + x] = preview_pixel(img->px[y * img->w + x], x, y);
    if (!mk_png(path, &p)) {
        fprintf(stderr, "mkdata: cannot write %s\n", path);
        preview_failed = 1;
    }
    mk_free(&p);
}

// Contact sheet: every picture scaled to fit a cell (box filter), its name below.
enum { CELL_W = 120, CELL_H = 86, THUMB_W = 112, THUMB_H = 63, SHEET_COLS = 8 };

static void add_to_sheet(mk_image *sheet, int index, const char *name, const mk_image *img)
{
    int cx = (index % SHEET_COLS) * CELL_W + 4, cy = (index / SHEET_COLS) * CELL_H + 4;
    if (img->w > 8 * img->h && img->h * 2 <= THUMB_H) {
        // A long strip (the font sheet): its start at twice its size, to be read.
        int oy = cy + (THUMB_H - img->h * 2) / 2;
        for (int y = 0; y < img->h * 2; y++)
            for (int x = 0; x < THUMB_W && x / 2 < img->w; x++)
                mk_set(sheet, cx + x, oy + y, preview_pixel(img->px[(y / 2) * img->w + x / 2], x, y));
        img = 0;
    }
    // Fit, keeping the proportions.
    int tw = THUMB_W, th = img ? img->h * THUMB_W / img->w : 0;
    if (th > THUMB_H) {
        th = THUMB_H;
        tw = img->w * THUMB_H / img->h;
        if (tw < 1) tw = 1;
    }
    if (th < 1) th = 1;
    int ox = cx + (THUMB_W - tw) / 2, oy = cy + (THUMB_H - th) / 2;
    for (int ty = 0; img && ty < th; ty++)
        for (int tx = 0; tx < tw; tx++) {
            int x0 = tx * img->w / tw, x1 = (tx + 1) * img->w / tw;
            int y0 = ty * img->h / th, y1 = (ty + 1) * img->h / th;
            if (x1 <= x0) x1 = x0 + 1;
            if (y1 <= y0) y1 = y0 + 1;
            long r = 0, g = 0, b = 0, n = 0;
            for (int y = y0; y < y1; y++)
                for (int x = x0; x < x1; x++) {
                    uint32_t c = preview_pixel(img->px[y * img->w + x], tx * 2, ty * 2);
                    r += (c >> 16) & 255;
                    g += (c >> 8) & 255;
                    b += c & 255;
                    n++;
                }
            mk_set(sheet, ox + tx, oy + ty, mk_rgb((int)(r / n), (int)(g / n), (int)(b / n)));
        }
    char label[64];
    snprintf(label, sizeof label, "%.*s", (int)(strlen(name) - 4), name);
    mk_mask m = mk_text(1, 10, 0, label);
    uint32_t c = 0xFFC8C0E0u;
    mk_paint_mask(sheet, &m, cx + THUMB_W / 2 - m.w / 2, cy + THUMB_H + 3, &c, 1);
    mk_mask_free(&m);
}

// The icon: a square of the first intro background around its sun, averaged down
// (or, at the largest size, stretched a little) to each size.
static const int icon_sizes[] = { 16, 22, 24, 32, 48, 64, 128, 256 };
enum { ICON_X = 240, ICON_Y = 10, ICON_SIDE = 240 };

static int write_icons(const char *dir, const mk_image *src)
{
    int ok = 1;
    plat_mkdir(dir);
    for (int size : icon_sizes) {
        mk_image icon = mk_new(size, size, 0);
        for (int ty = 0; ty < size; ty++)
            for (int tx = 0; tx < size; tx++) {
                int x0 = ICON_X + tx * ICON_SIDE / size, x1 = ICON_X + (tx + 1) * ICON_SIDE / size;
                int y0 = ICON_Y + ty * ICON_SIDE / size, y1 = ICON_Y + (ty + 1) * ICON_SIDE / size;
                if (x1 <= x0) x1 = x0 + 1;
                if (y1 <= y0) y1 = y0 + 1;
                long r = 0, g = 0, b = 0, n = 0;
                for (int y = y0; y < y1; y++)
                    for (int x = x0; x < x1; x++) {
                        uint32_t c = mk_get(src, x, y);
                        r += (c >> 16) & 255;
                        g += (c >> 8) & 255;
                        b += c & 255;
                        n++;
                    }
                mk_set(&icon, tx, ty, mk_rgb((int)(r / n), (int)(g / n), (int)(b / n)));
            }
        char path[1024];
        snprintf(path, sizeof path, "%s/%dx%d", dir, size, size);
        plat_mkdir(path);
        snprintf(path, sizeof path, "%s/%dx%d/apps", dir, size, size);
        plat_mkdir(path);
        snprintf(path, sizeof path, "%s/%dx%d/apps/mirador.png", dir, size, size);
        if (!mk_png(path, &icon)) {
            fprintf(stderr, "mkdata: cannot write %s\n", path);
            ok = 0;
        }
        mk_free(&icon);
    }
    return ok;
}

static uint8_t *encode(const mk_asset *a, const mk_image *img, uint32_t *size)
{
    uint8_t *data = mk_tga(img, a->type, a->depth, a->mapbits, a->origin, size);
    if (!data) {
        fprintf(stderr, "mkdata: %s does not fit image type %d (more than 256 colours)\n", a->name,
                a->type);
        exit(1);
    }
    return data;
}

int main(int argc, char **argv)
{
    const char *out = 0, *preview = 0, *icons = 0;
    for (int i = 1; i < argc; i++) {
        if (!strcmp(argv[i], "--preview") && i + 1 < argc) preview = argv[++i];
        else if (!strcmp(argv[i], "--icons") && i + 1 < argc) icons = argv[++i];
        else if (!out && argv[i][0] != '-') out = argv[i];
        else out = 0, i = argc;
    }
    if (!out) {
        fprintf(stderr, "usage: mkdata <output.dat> [--preview <dir>] [--icons <dir>]\n");
        return 2;
    }

    static corepack_file files[NUM_FILES];
    static char dance_names[NUM_DANCE][16];
    int nfiles = 0;
    mk_image sheet = {0, 0, 0};
    if (preview) {
        int rows = (NUM_FILES - 1 + SHEET_COLS - 1) / SHEET_COLS;
        sheet = mk_new(SHEET_COLS * CELL_W, rows * CELL_H, 0xFF0E0C1Cu);
    }

    for (int i = 0; i < NUM_FIXED + NUM_DANCE; i++) {
        mk_asset a = i < NUM_FIXED ? assets[i] : dance_asset(i - NUM_FIXED, dance_names[i - NUM_FIXED], 16);
        mk_image img;
        if (i == 0) {
            img = mk_draw_font();
        } else if (!mk_draw_picture(a.name, &img)) {
            fprintf(stderr, "mkdata: no drawing for %s\n", a.name);
            return 1;
        }
        if (preview) {
            write_preview(preview, a.name, &img);
            add_to_sheet(&sheet, i, a.name, &img);
        }
        if (icons && !strcmp(a.name, "introbg1.tga") && !write_icons(icons, &img)) preview_failed = 1;
        if (a.swap) swap_red_blue(&img);
        uint32_t size;
        uint8_t *data = encode(&a, &img, &size);
        files[nfiles].name = a.name;
        files[nfiles].data = data;
        files[nfiles].size = size;
        nfiles++;
        mk_free(&img);
    }

    uint32_t frames = 0, wavsize = 0;
    int16_t *pcm = mk_music(&frames);
    uint8_t *wav = mk_wav(pcm, frames, 2, MK_RATE, &wavsize);
    free(pcm);
    files[nfiles].name = "mirador4.wav";
    files[nfiles].data = wav;
    files[nfiles].size = wavsize;
    nfiles++;

    if (preview) {
        char path[1024];
        snprintf(path, sizeof path, "%s/contact.png", preview);
        if (!mk_png(path, &sheet)) {
            fprintf(stderr, "mkdata: cannot write %s\n", path);
            preview_failed = 1;
        }
        mk_free(&sheet);
    }

    int ok = corepack_write(out, files, nfiles);
    for (int i = 0; i < nfiles; i++) free((void *)files[i].data);
    if (!ok) {
        fprintf(stderr, "mkdata: cannot write %s\n", out);
        return 1;
    }
    return preview_failed ? 1 : 0;
}
