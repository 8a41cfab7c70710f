// mkdata.h - the asset generator: every picture, the font sheet and the music of
// the demo, drawn and synthesised by code, written as TGA and WAV and packed into
// the resource image. Everything here is deterministic: integer maths, a seeded
// PRNG and our own sine (no libm transcendental calls whose last bit may differ
// between C libraries), so every build produces the same bytes.
#ifndef TOOLS_MKDATA_MKDATA_H
#define TOOLS_MKDATA_MKDATA_H

#include <stdint.h>

// ---- Images ---------------------------------------------------------------------
// A picture in main memory: w*h pixels, rows top to bottom, 0xAARRGGBB. While
// drawing, alpha is coverage; mk_finish turns it into the shipped form, where
// every pixel is opaque and transparent ones hold the key colour MK_KEY.
typedef struct mk_image {
    int w, h;
    uint32_t *px;
} mk_image;

#define MK_KEY 0xFFFF00FFu  // magenta: the loader turns it into alpha 0

mk_image mk_new(int w, int h, uint32_t fill);   // exits on allocation failure
void mk_free(mk_image *img);
uint32_t mk_get(const mk_image *img, int x, int y);  // 0 outside
void mk_set(mk_image *img, int x, int y, uint32_t c); // ignores outside
// Composite colour c (its alpha scaled by cover 0..255) over the pixel at (x, y).
void mk_blend(mk_image *img, int x, int y, uint32_t c, int cover);
// Pixels with coverage of at least 128 become opaque, the rest the key colour.
void mk_finish(mk_image *img);
// Makes every pixel opaque (pictures without transparency).
void mk_opaque(mk_image *img);

// ---- Colour helpers ---------------------------------------------------------------
uint32_t mk_rgb(int r, int g, int b);                 // opaque, channels clamped
uint32_t mk_lerp(uint32_t a, uint32_t b, int t);      // t 0..256, alpha too
uint32_t mk_ramp(const uint32_t *stops, int n, int t); // t 0..65535 over n stops
uint32_t mk_scale(uint32_t c, int s);                 // channels * s / 256, alpha kept
uint32_t mk_alpha(uint32_t c, int a);                 // replace alpha

// The show's palette: one dusk-lit theme for every picture.
enum {
    PAL_NIGHT, PAL_INK, PAL_INDIGO, PAL_VIOLET, PAL_PLUM, PAL_ROSE, PAL_PINK,
    PAL_CORAL, PAL_ORANGE, PAL_GOLD, PAL_CREAM, PAL_TEAL, PAL_MINT, PAL_SKY,
    PAL_WHITE, PAL_COUNT
};
extern const uint32_t mk_pal[PAL_COUNT];

// ---- Deterministic maths ------------------------------------------------------------
typedef struct mk_rng { uint64_t state; } mk_rng;
void mk_seed(mk_rng *r, uint64_t seed);
uint32_t mk_rand(mk_rng *r);                 // 32 random bits
int mk_randint(mk_rng *r, int n);            // 0..n-1, n > 0
double mk_randf(mk_rng *r);                  // [0, 1)
double mk_sin1(double cycles);               // sin(2*pi*cycles), own polynomial
double mk_cos1(double cycles);
double mk_tanh(double x);                    // rational approximation, |x| any
double mk_exp2(double x);                    // 2^x for |x| < 1000
// Periodic value noise: lattice spacing `cell`, period `period` lattice cells
// (so the pattern repeats every cell*period pixels); 0..1.
double mk_noise(int seed, double x, double y, int cell, int period);
// Sum of octaves of mk_noise that tiles every `size` pixels (size a power of two).
double mk_fbm(int seed, double x, double y, int size, int first_cell, int octaves);

// ---- Shapes (antialiased by 4x4 supersampling; coverage in alpha) ---------------------
void mk_fill_rect(mk_image *img, int x, int y, int w, int h, uint32_t c);
void mk_disc(mk_image *img, double cx, double cy, double r, uint32_t c);
void mk_ring(mk_image *img, double cx, double cy, double r, double width, uint32_t c);
void mk_capsule(mk_image *img, double x0, double y0, double x1, double y1, double r, uint32_t c);
void mk_rrect(mk_image *img, double x, double y, double w, double h, double r, uint32_t c);
void mk_poly(mk_image *img, const double *xy, int n, uint32_t c); // even-odd rule

// ---- Masks and text -------------------------------------------------------------------
// An 8-bit coverage mask.
typedef struct mk_mask {
    int w, h;
    uint8_t *a;
} mk_mask;

mk_mask mk_mask_new(int w, int h);
void mk_mask_free(mk_mask *m);
// Renders text with one of the DejaVu faces (0 Sans Bold, 1 Sans, 2 Sans Mono Bold)
// at a pixel height; tracking adds pixels between letters. Exits when the font
// cannot be loaded, so no build ships pictures drawn without it.
mk_mask mk_text(int face, int px, int tracking, const char *text);
int mk_text_advance(int face, int px, const char *text, int *ascent); // one glyph run's width
mk_mask mk_dilate(const mk_mask *m, int r);   // grows the mask by r pixels (disc)
// Paints mask m at (x, y): colour from a vertical ramp over the mask's height.
void mk_paint_mask(mk_image *img, const mk_mask *m, int x, int y,
                   const uint32_t *stops, int nstops);
// Outlined, shadowed text, the house style of every caption: returns the drawn width.
int mk_caption(mk_image *img, int face, int px, int tracking, const char *text,
               int cx, int y, const uint32_t *stops, int nstops, uint32_t outline,
               int outline_r, int shadow);

// ---- Pictures ---------------------------------------------------------------------------
// Draws the picture called name (a file name of the resource image) into a new image.
// Returns 0 when the name is not a picture this generator knows.
int mk_draw_picture(const char *name, mk_image *out);
// The font sheet: marker row and the glyphs from space to '~'.
mk_image mk_draw_font(void);

// ---- Music ----------------------------------------------------------------------------------
#define MK_RATE 44100
// Synthesises the show's music: frames of interleaved 16-bit stereo, malloc'ed.
int16_t *mk_music(uint32_t *frames);

#endif
