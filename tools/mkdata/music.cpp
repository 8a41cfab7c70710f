// music.cpp - the show's music, synthesised: 44100 Hz, 16-bit stereo.
//
// The show runs 21 periods of 7700 ms; every period here is exactly four bars of
// 1925 ms (four beats of 481.25 ms, about 124.7 beats per minute), so a section
// changes with every period and each bar's downbeat carries an accent where the
// picture flashes. Notes are rendered one by one into float buses (dry stereo, a
// delay send and a reverb send); every envelope starts and ends at zero, so no
// note edge clicks. All maths is double or float IEEE arithmetic with our own
// sine and exponential, so the output is the same on every build.
#include "tools/mkdata/mkdata.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// ---- Time grid -------------------------------------------------------------------------
enum {
    PERIOD = 339570,        // 7700 ms in samples
    PERIODS = 21,
    STEPS = 64,             // sixteenth notes per period (4 bars)
    TOTAL = 7188300,        // 163.0 s
};

// Sample position of sixteenth step s counted from the start of the music.
static uint32_t step_at(long s) { return (uint32_t)(s * (long)PERIOD / STEPS); }

// ---- Buses -------------------------------------------------------------------------------
typedef struct {
    float *l, *r;      // dry mix
    float *dly;        // send to the stereo echo
    float *rev;        // send to the reverb
    float *duck;       // gain that dips after every kick (for bass, pads, arps)
} mk_bus;

static mk_bus bus;

static void put(uint32_t i, double v, double pan, double dsend, double rsend)
{
    if (i >= TOTAL) return;
    // Linear pan over a shared floor: pan -1 left, +1 right, 0.7 on each side at 0.
    double gl = 0.5 * (1.0 - pan) + 0.2, gr = 0.5 * (1.0 + pan) + 0.2;
    bus.l[i] += (float)(v * gl);
    bus.r[i] += (float)(v * gr);
    bus.dly[i] += (float)(v * dsend);
    bus.rev[i] += (float)(v * rsend);
}

static double midi_hz(double note) { return 440.0 * mk_exp2((note - 69.0) / 12.0); }

// Band-limited sawtooth and square (polyBLEP corrections at the jumps).
static double blep(double t, double dt)
{
    if (t < dt) {
        t /= dt;
        return t + t - t * t - 1.0;
    }
    if (t > 1.0 - dt) {
        t = (t - 1.0) / dt;
        return t * t + t + t + 1.0;
    }
    return 0.0;
}

static double saw(double ph, double dt) { return 2.0 * ph - 1.0 - blep(ph, dt); }

static double square(double ph, double dt)
{
    double v = ph < 0.5 ? 1.0 : -1.0;
    v += blep(ph, dt);
    double p2 = ph + 0.5;
    if (p2 >= 1.0) p2 -= 1.0;
    v -= blep(p2, dt);
    return v;
}

// State-variable filter (trapezoidal); g = tan(pi fc / fs).
typedef struct { double ic1, ic2; } svf;

static double svf_g(double fc)
{
    if (fc > 18000) fc = 18000;
    if (fc < 20) fc = 20;
    double x = fc / MK_RATE * 0.5;   // cycles of pi*fc/fs
    return mk_sin1(x) / mk_cos1(x);
}

// mode 0 low-pass, 1 band-pass, 2 high-pass; k = 1/Q.
static double svf_run(svf *f, double v, double g, double k, int mode)
{
    double a1 = 1.0 / (1.0 + g * (g + k)), a2 = g * a1, a3 = g * a2;
    double v3 = v - f->ic2;
    double v1 = a1 * f->ic1 + a2 * v3;
    double v2 = f->ic2 + a2 * f->ic1 + a3 * v3;
    f->ic1 = 2 * v1 - f->ic1;
    f->ic2 = 2 * v2 - f->ic2;
    if (mode == 0) return v2;
    if (mode == 1) return v1;
    return v - k * v1 - v2;
}

// Exponential decay helper: multiplier per sample for a time constant in seconds.
static double decay_k(double tau) { return mk_exp2(-1.4426950408889634 / (tau * MK_RATE)); }

// A linear fade over the first and last few samples of a note.
static double edge(uint32_t i, uint32_t n, uint32_t a, uint32_t r)
{
    double g = 1.0;
    if (i < a) g = (double)i / a;
    if (i + r > n) g *= (double)(n - i) / r;
    return g;
}

// ---- Instruments ---------------------------------------------------------------------------

static uint32_t noise_state = 1;
static double noise(void)
{
    noise_state ^= noise_state << 13;
    noise_state ^= noise_state >> 17;
    noise_state ^= noise_state << 5;
    return (double)(noise_state >> 8) / 8388608.0 - 1.0;
}

static void kick(uint32_t at, double vel, double tail)
{
    uint32_t n = (uint32_t)(0.45 * tail * MK_RATE);
    double ph = 0, amp = 1, k = decay_k(0.16 * tail), pk = decay_k(0.03);
    double sweep = 1, beater = 0;
    for (uint32_t i = 0; i < n; i++) {
        double f = 44 + 110 * sweep;
        sweep *= pk;
        ph += f / MK_RATE;
        ph -= floor(ph);
        double v = mk_sin1(ph) * amp;
        // The beater: a short, softened noise tick on top of the body.
        if (i < 120) {
            beater += (noise() - beater) * 0.3;
            v += beater * 0.3 * (1 - i / 120.0);
        }
        amp *= k;
        put(at + i, v * vel * edge(i, n, 32, 400), 0, 0, 0.02);
    }
    // The other voices dip under the kick.
    // The dip sets in over 3 ms (an instant step would click) and recovers in 200 ms.
    for (uint32_t i = 0; i < 9000 && at + i < TOTAL; i++) {
        double t = 1.0 - (double)i / 9000, in = i < 130 ? i / 130.0 : 1.0;
        double d = 1.0 - 0.55 * vel * in * t * t;
        if (d < bus.duck[at + i]) bus.duck[at + i] = (float)d;
    }
}

static void clap(uint32_t at, double vel, double pan)
{
    uint32_t n = (uint32_t)(0.35 * MK_RATE);
    svf f = {0, 0}, t = {0, 0};
    double g = svf_g(1400), gt = svf_g(2600);
    double k = decay_k(0.07), amp = 1, ph = 0;
    for (uint32_t i = 0; i < n; i++) {
        // Three quick hand claps 10 ms apart, each a fast swell and decay, then the tail.
        double burst = 0.2;
        for (uint32_t c = 0; c < 3; c++)
            if (i >= c * 441) {
                uint32_t t = i - c * 441;
                burst += (t < 40 ? t / 40.0 : 1.0) * 0.8 * mk_exp2(-(double)t / 120.0);
            }
        if (i >= 882) burst += 0.6 * (i < 922 ? (i - 882) / 40.0 : 1.0);
        double nz = noise();
        double v = svf_run(&f, nz, g, 0.9, 1) * 2.2 * burst * amp;
        v += svf_run(&t, nz, gt, 1.2, 2) * 0.25 * amp;
        ph += 190.0 / MK_RATE;
        v += mk_sin1(ph) * 0.3 * amp * (i < 4000 ? 1 - i / 4000.0 : 0);
        if (i > 922) amp *= k;
        put(at + i, v * vel * edge(i, n, 30, 600), pan, 0.05, 0.22);
    }
}

static void hat(uint32_t at, double vel, int open, double pan)
{
    uint32_t n = (uint32_t)((open ? 0.3 : 0.06) * MK_RATE);
    svf f = {0, 0};
    double g = svf_g(8500), k = decay_k(open ? 0.11 : 0.018), amp = 1;
    for (uint32_t i = 0; i < n; i++) {
        double v = svf_run(&f, noise(), g, 0.7, 2) * amp;
        amp *= k;
        put(at + i, v * vel * edge(i, n, 10, 200), pan, 0.03, 0.06);
    }
}

static void crash(uint32_t at, double vel)
{
    uint32_t n = (uint32_t)(2.6 * MK_RATE);
    svf fl = {0, 0}, fr = {0, 0};
    double g = svf_g(6000), k = decay_k(0.7), amp = 1;
    for (uint32_t i = 0; i < n && at + i < TOTAL; i++) {
        double a = svf_run(&fl, noise(), g, 0.6, 2) * amp * vel * edge(i, n, 30, 2000);
        double b = svf_run(&fr, noise(), g, 0.6, 2) * amp * vel * edge(i, n, 30, 2000);
        amp *= k;
        bus.l[at + i] += (float)(a * 0.9);
        bus.r[at + i] += (float)(b * 0.9);
        bus.rev[at + i] += (float)((a + b) * 0.1);
    }
}

// A rising noise sweep that leads into the next section.
static void riser(uint32_t at, uint32_t n, double vel)
{
    svf f = {0, 0};
    for (uint32_t i = 0; i < n; i++) {
        double x = (double)i / n;
        double g = svf_g(300 + 7000 * x * x);
        // Swells to its top at 85 % and falls away before the downbeat it leads to.
        double e = x < 0.85 ? (x / 0.85) * (x / 0.85) : (1.0 - x) / 0.15;
        double v = svf_run(&f, noise(), g, 0.35, 1) * e * vel * edge(i, n, 50, 300);
        put(at + i, v, mk_sin1(x * 2) * 0.6, 0.1, 0.3);
    }
}

// Notes starting at or after this sample are left out: a section that breaks before
// a calmer one falls silent for its last beat.
static uint32_t cut_at = TOTAL;

static void bass(uint32_t at, uint32_t n, double note, double vel, double bright)
{
    if (at >= cut_at) return;
    double hz = midi_hz(note), dt = hz / MK_RATE;
    double ph = 0, ph2 = 0, env = 1, k = decay_k(0.09), gl = 0;
    svf f = {0, 0};
    for (uint32_t i = 0; i < n; i++) {
        double fc = 120 + bright * 1500 * env;
        env *= k;
        if ((i & 15) == 0) gl = svf_g(fc);
        double v = saw(ph, dt) * 0.6 + mk_sin1(ph2) * 0.7;
        v = svf_run(&f, v, gl, 0.6, 0);
        ph += dt;
        if (ph >= 1) ph -= 1;
        ph2 += dt * 0.5;
        if (ph2 >= 1) ph2 -= 1;
        uint32_t j = at + i;
        double d = j < TOTAL ? bus.duck[j] : 1;
        put(j, v * vel * d * edge(i, n, 60, 300), 0, 0, 0.02);
    }
}

// Pad: three detuned sawtooths per note spread across the stereo field.
static void pad(uint32_t at, uint32_t n, const int *notes, int count, double vel, double cutoff,
                double wobble)
{
    uint32_t rel = (uint32_t)(0.5 * MK_RATE), att = (uint32_t)(0.3 * MK_RATE);
    for (int k = 0; k < count; k++) {
        static const double det[3] = {-0.09, 0.0, 0.08};
        static const double pan[3] = {-0.7, 0.0, 0.7};
        for (int d = 0; d < 3; d++) {
            double hz = midi_hz(notes[k] + det[d]), ph = (k * 3 + d) * 0.137;
            svf f = {0, 0};
            double gl = 0;
            for (uint32_t i = 0; i < n + rel; i++) {
                if ((i & 31) == 0) gl = svf_g(cutoff * (1.0 + 0.25 * mk_sin1(i / (double)MK_RATE * 0.25 + k * 0.3)));
                double w = wobble ? 1.0 + wobble * mk_sin1(i / (double)MK_RATE * 0.7) : 1.0;
                double dt = hz * w / MK_RATE;
                double v = svf_run(&f, saw(ph, dt), gl, 0.8, 0);
                ph += dt;
                if (ph >= 1) ph -= 1;
                double e = i < att ? (double)i / att : i < n ? 1.0 : 1.0 - (double)(i - n) / rel;
                uint32_t j = at + i;
                double dk = j < TOTAL ? 0.6 + 0.4 * bus.duck[j] : 1;
                put(j, v * e * vel * dk / 3.0, pan[d] * (k & 1 ? -1 : 1), 0.05, 0.35);
            }
        }
    }
}

// Pluck: a bright square with a fast decay, for arpeggios.
static void pluck(uint32_t at, double note, double vel, double pan, double tau, double wobble)
{
    if (at >= cut_at) return;
    uint32_t n = (uint32_t)(tau * 5 * MK_RATE);
    double hz = midi_hz(note), ph = 0, amp = 1, k = decay_k(tau), env = 1, ke = decay_k(tau * 0.5);
    svf f = {0, 0};
    double gl = 0;
    for (uint32_t i = 0; i < n; i++) {
        if ((i & 15) == 0) gl = svf_g(500 + 5000 * env);
        double w = wobble ? 1.0 + wobble * mk_sin1((at + i) / (double)MK_RATE * 0.7) : 1.0;
        double dt = hz * w / MK_RATE;
        double v = svf_run(&f, square(ph, dt) * 0.5 + saw(ph, dt) * 0.5, gl, 0.7, 0) * amp;
        ph += dt;
        if (ph >= 1) ph -= 1;
        amp *= k;
        env *= ke;
        uint32_t j = at + i;
        double d = j < TOTAL ? bus.duck[j] : 1;
        put(j, v * vel * 1.25 * d * edge(i, n, 40, 400), pan, 0.35, 0.2);
    }
}

// Lead: two detuned sawtooths with vibrato after the attack.
static void lead(uint32_t at, uint32_t n, double note, double vel, double bright)
{
    if (at >= cut_at) return;
    uint32_t rel = (uint32_t)(0.08 * MK_RATE);
    double hz = midi_hz(note), p1 = 0, p2 = 0.3;
    svf f = {0, 0};
    double gl = svf_g(1200 + 3000 * bright);
    for (uint32_t i = 0; i < n + rel; i++) {
        double t = (double)i / MK_RATE;
        double vib = t > 0.15 ? 1.0 + 0.004 * mk_sin1(t * 5.5) * (t < 0.4 ? (t - 0.15) / 0.25 : 1) : 1.0;
        double d1 = hz * vib * 1.003 / MK_RATE, d2 = hz * vib * 0.997 / MK_RATE;
        double v = svf_run(&f, saw(p1, d1) + saw(p2, d2) * 0.8, gl, 0.5, 0);
        p1 += d1;
        if (p1 >= 1) p1 -= 1;
        p2 += d2;
        if (p2 >= 1) p2 -= 1;
        // Attack, a slight sag while held, and a release from wherever the sag got to.
        double sag = 1.0 - 0.25 * (i < 8000 ? i / 8000.0 : 1), held = 1.0 - 0.25 * (n < 8000 ? n / 8000.0 : 1);
        double e = i < n ? sag : held * (1.0 - (double)(i - n) / rel);
        if (i < 400) e *= i / 400.0;
        put(at + i, v * e * vel * 0.75, 0.1, 0.3, 0.25);
    }
}

// Bell: two-operator FM, for the calm sections.
static void bell(uint32_t at, double note, double vel, double pan)
{
    uint32_t n = (uint32_t)(2.2 * MK_RATE);
    double hz = midi_hz(note), pc = 0, pm = 0, amp = 1, k = decay_k(0.55), idx = 2.5, ki = decay_k(0.25);
    for (uint32_t i = 0; i < n; i++) {
        pm += hz * 3.5 / MK_RATE;
        pm -= floor(pm);
        pc += hz / MK_RATE;
        pc -= floor(pc);
        double v = mk_sin1(pc + idx * mk_sin1(pm) * 0.159) * amp;
        amp *= k;
        idx *= ki;
        put(at + i, v * vel * edge(i, n, 60, 2000), pan, 0.3, 0.4);
    }
}

// ---- The score -------------------------------------------------------------------------------

// Chords: four per progression, pad voicing and bass root.
typedef struct { int pad[4]; int root; } chord;

static const chord prog_a[4] = {{{57, 60, 64, 69}, 33}, {{57, 60, 65, 69}, 29},
                                {{55, 60, 64, 67}, 36}, {{55, 59, 62, 67}, 31}};   // Am F C G
static const chord prog_b[4] = {{{57, 60, 65, 69}, 29}, {{55, 59, 62, 67}, 31},
                                {{55, 59, 64, 67}, 28}, {{57, 60, 64, 69}, 33}};   // F G Em Am
static const chord prog_c[4] = {{{57, 62, 65, 69}, 38}, {{57, 60, 64, 69}, 33},
                                {{57, 60, 65, 69}, 29}, {{55, 59, 62, 67}, 31}};   // Dm Am F G
static const chord prog_d[4] = {{{57, 60, 64, 65}, 29}, {{55, 59, 62, 64}, 31},
                                {{55, 59, 62, 64}, 28}, {{55, 60, 64, 71}, 33}};   // Fmaj7 G6 Em7 Am9
static const chord prog_e[4] = {{{57, 60, 64, 69}, 33}, {{57, 60, 65, 69}, 29},
                                {{55, 60, 64, 67}, 36}, {{57, 60, 64, 69}, 33}};   // Am F C Am

// The main theme: (step, length, note) over four bars.
typedef struct { int step, len, note; } mk_note;
static const mk_note theme[] = {
    {0, 2, 69}, {2, 2, 72}, {4, 4, 76}, {8, 2, 74}, {10, 2, 72}, {12, 4, 76},
    {16, 6, 77}, {22, 2, 76}, {24, 4, 72}, {28, 4, 69},
    {32, 2, 67}, {34, 2, 72}, {36, 4, 76}, {40, 4, 79}, {44, 2, 76}, {46, 2, 74},
    {48, 6, 74}, {54, 2, 71}, {56, 4, 67}, {60, 2, 71}, {62, 2, 74},
};
static const mk_note riff[] = {
    {0, 2, 81}, {3, 2, 76}, {6, 2, 79}, {8, 1, 81}, {10, 2, 84}, {14, 2, 79},
};
static const mk_note bells[] = {
    {0, 8, 76}, {8, 8, 72}, {16, 8, 77}, {24, 8, 74}, {32, 8, 71}, {40, 8, 74}, {48, 12, 76},
};
#define COUNT(a) ((int)(sizeof(a) / sizeof((a)[0])))

enum { K_NONE, K_FLOOR, K_HALF, K_SOFT, K_BOOM };
enum { H_NONE, H_TICK, H_EIGHTS, H_SIXTEENS, H_FULL, H_SHUFFLE };
enum { B_NONE, B_LONG, B_OFFBEAT, B_ROLL, B_SYNC, B_OCTAVE };
enum { L_NONE, L_RIFF, L_THEME, L_THEME_HI, L_VARIATION, L_COUNTER };

// One period's arrangement.
typedef struct {
    const chord *prog;
    int transpose;
    int kick, clap, hats, bassline;
    double pad_level, pad_cutoff;
    int arp;              // 0 none, 1 eighths, 2 sixteenths, 3 sixteenths an octave up
    int lead;
    int bell;
    int crash;            // crash on the first downbeat
    int riser;            // noise sweep into the next period
    int lofi;
    double level;         // overall level of the period
} section;

static const section score[PERIODS] = {
    // 2 intro: pads and distant booms on the downbeats
    {prog_a, 0, K_BOOM, 0, H_NONE, B_NONE, 0.9, 700, 0, L_NONE, 1, 0, 0, 0, 0.8},
    // 3 intro with the captions: plucks and ticks join, a sweep into the beat
    {prog_a, 0, K_BOOM, 0, H_TICK, B_LONG, 0.9, 1100, 1, L_NONE, 0, 0, 1, 0, 0.65},
    // 4 title: the beat arrives
    {prog_a, 0, K_FLOOR, 0, H_NONE, B_OFFBEAT, 0.7, 1500, 0, L_NONE, 0, 1, 0, 0, 1.0},
    // 5 title: claps, hats, arpeggio
    {prog_a, 0, K_FLOOR, 1, H_FULL, B_OFFBEAT, 0.6, 1800, 1, L_NONE, 0, 0, 0, 0, 1.0},
    // 6 tunnel: full drums and a rolling bass alone
    {prog_a, 0, K_FLOOR, 1, H_FULL, B_ROLL, 0.0, 2000, 0, L_NONE, 0, 1, 0, 0, 1.0},
    // 7 tunnel: pads, plucks and the riff over closed hats
    {prog_a, 0, K_FLOOR, 1, H_SIXTEENS, B_ROLL, 0.8, 2200, 1, L_RIFF, 0, 0, 1, 0, 1.0},
    // 8 rings: new chords, fast arpeggio
    {prog_b, 0, K_FLOOR, 0, H_SIXTEENS, B_OFFBEAT, 0.45, 2400, 2, L_NONE, 0, 1, 0, 0, 1.0},
    // 9 rings: counter melody
    {prog_b, 0, K_FLOOR, 1, H_FULL, B_ROLL, 0.4, 2600, 3, L_COUNTER, 0, 0, 0, 0, 1.0},
    // 10 plane: lighter, bright pads, octave bass
    {prog_b, 0, K_FLOOR, 0, H_NONE, B_OCTAVE, 0.9, 3500, 0, L_NONE, 0, 1, 0, 0, 0.95},
    // 11 plane: everything back
    {prog_b, 0, K_FLOOR, 1, H_FULL, B_OCTAVE, 0.6, 3000, 2, L_RIFF, 0, 0, 1, 0, 1.0},
    // 12 tape: lo-fi, half time
    {prog_c, 0, K_HALF, 1, H_TICK, B_LONG, 0.9, 1200, 1, L_NONE, 0, 0, 0, 1, 0.9},
    // 13 tape: lo-fi with more motion
    {prog_c, 0, K_HALF, 1, H_EIGHTS, B_SYNC, 0.7, 1400, 2, L_NONE, 0, 0, 1, 2, 0.95},
    // 14 landscape: the main theme
    {prog_a, 0, K_FLOOR, 1, H_SIXTEENS, B_OFFBEAT, 0.6, 2000, 0, L_THEME, 0, 1, 0, 0, 1.0},
    // 15 landscape: theme an octave up with arpeggio
    {prog_a, 0, K_FLOOR, 1, H_FULL, B_ROLL, 0.5, 2600, 2, L_THEME_HI, 0, 1, 0, 0, 1.0},
    // 16 balls: variation, syncopated bass, shuffled hats
    {prog_c, 0, K_FLOOR, 1, H_SHUFFLE, B_SYNC, 0.3, 1800, 3, L_VARIATION, 0, 1, 0, 0, 1.0},
    // 17 balls: variation over wide pads, an octave bass, open hats and double claps
    {prog_c, 0, K_FLOOR, 2, H_FULL, B_OCTAVE, 1.0, 3000, 0, L_VARIATION, 0, 0, 1, 0, 1.0},
    // 18 credits: calm, bells over pads
    {prog_d, 0, K_BOOM, 0, H_TICK, B_LONG, 0.8, 1300, 0, L_NONE, 1, 1, 0, 0, 0.65},
    // 19 credits: a soft pulse returns
    {prog_d, 0, K_SOFT, 0, H_EIGHTS, B_LONG, 0.8, 1600, 1, L_NONE, 1, 0, 1, 0, 0.75},
    // 20 dance: the peak
    {prog_a, 0, K_FLOOR, 2, H_SIXTEENS, B_ROLL, 0.4, 2800, 0, L_THEME, 0, 1, 0, 0, 1.0},
    // 21 dance: one tone up, theme high over bright pads and a fast arpeggio
    {prog_a, 2, K_FLOOR, 2, H_FULL, B_OCTAVE, 0.9, 4000, 3, L_THEME_HI, 0, 1, 0, 0, 1.0},
    // 22 finale: the outro fades
    {prog_e, 0, K_BOOM, 0, H_NONE, B_LONG, 1.0, 900, 0, L_NONE, 1, 1, 0, 0, 0.8},
};

static void render_period(int p)
{
    const section *s = &score[p];
    long base = (long)p * STEPS;
    double lv = s->level;
    int tr = s->transpose;

    // Before a calmer section a full beat stops for its last beat, so the new
    // section's downbeat lands on a breath instead of on a wall of sound.
    int brk = s->kick == K_FLOOR && p + 1 < PERIODS &&
              (score[p + 1].kick != K_FLOOR || score[p + 1].level < lv);
    int drum_steps = brk ? STEPS - 4 : STEPS;
    cut_at = brk ? step_at(base + STEPS - 4) : (uint32_t)TOTAL;

    // Drums first: the kicks write the ducking curve the other voices read.
    for (int st = 0; st < drum_steps; st++) {
        uint32_t at = step_at(base + st);
        int beat = (st % 4) == 0, bar1 = (st % 16) == 0;
        switch (s->kick) {
        case K_FLOOR:
            if (beat) kick(at, (bar1 ? 1.0 : 0.85) * lv, 1);
            break;
        case K_HALF:
            if (st % 16 == 0 || st % 16 == 10) kick(at, (bar1 ? 1.0 : 0.8) * lv, 1.2);
            break;
        case K_SOFT:
            if (st % 8 == 0) kick(at, (bar1 ? 0.85 : 0.45) * lv, 1);
            break;
        case K_BOOM:
            if (bar1) kick(at, 0.9 * lv, 2.5);
            break;
        }
        if (s->clap) {
            int c = s->kick == K_HALF ? st % 16 == 8 : st % 8 == 4;
            if (c) clap(at, 0.55 * lv, 0.1);
            if (s->clap == 2 && st % 16 == 14) clap(at, 0.3 * lv, -0.2);
        }
        double hp = (st & 1) ? 0.35 : -0.25;
        switch (s->hats) {
        case H_TICK:
            if (st % 4 == 2) hat(at, 0.18 * lv, 0, hp);
            break;
        case H_EIGHTS:
            if (st % 2 == 0) hat(at, (st % 4 == 2 ? 0.3 : 0.15) * lv, 0, hp);
            break;
        case H_SIXTEENS:
            hat(at, (st % 4 == 2 ? 0.3 : 0.13) * lv, 0, hp);
            break;
        case H_FULL:
            if (st % 4 == 2) hat(at, 0.28 * lv, 1, hp);
            else hat(at, 0.14 * lv, 0, hp);
            break;
        case H_SHUFFLE:
            if (st % 4 == 0 || st % 4 == 3) hat(at, (st % 4 == 3 ? 0.3 : 0.15) * lv, st % 8 == 3, hp);
            break;
        }
    }
    if (s->crash) crash(step_at(base), 0.3 * lv);
    if (s->riser) riser(step_at(base + 48), step_at(base + 64) - step_at(base + 48), 0.35);
    // A closing fill in the last beat of the section where the drums run.
    if (s->kick == K_FLOOR && s->clap && (p & 1) && !brk)
        for (int st = 60; st < 64; st++) clap(step_at(base + st), 0.25 * lv * (st - 57) / 3.0, st & 1 ? 0.4 : -0.4);

    for (int bar = 0; bar < 4; bar++) {
        const chord *c = &s->prog[bar];
        long b0 = base + bar * 16;
        uint32_t at = step_at(b0), len = step_at(b0 + 16) - at;
        double wob = s->lofi ? 0.004 * s->lofi : 0;
        if (s->pad_level > 0) {
            int notes[4];
            for (int k = 0; k < 4; k++) notes[k] = c->pad[k] + tr;
            double plv = s->pad_level * lv * 0.16;
            if (p == PERIODS - 1) plv *= 1.0 - bar * 0.18;
            // Before a break the last chord lets go early, so its release ends in time.
            uint32_t plen = brk && bar == 3 ? step_at(b0 + 8) - at : len;
            pad(at, plen, notes, 4, plv, s->pad_cutoff, wob);
        }
        int root = c->root + tr;
        switch (s->bassline) {
        case B_LONG:
            // Held for the bar but for its last sixteenth, a breath before the downbeat.
            bass(at, step_at(b0 + 15) - at, root, 0.5 * lv, 0.3);
            break;
        case B_OFFBEAT:
            for (int k = 0; k < 4; k++)
                bass(step_at(b0 + k * 4 + 2), step_at(b0 + k * 4 + 4) - step_at(b0 + k * 4 + 2) - 300,
                     root + 12, 0.55 * lv, 0.8);
            break;
        case B_ROLL:
            for (int k = 0; k < 16; k++)
                if (k % 4)
                    bass(step_at(b0 + k), step_at(b0 + k + 1) - step_at(b0 + k) - 200,
                         root + (k % 4 == 3 ? 24 : 12), 0.5 * lv, k % 2 ? 1.0 : 0.6);
            break;
        case B_SYNC: {
            static const int at_k[5] = {0, 3, 6, 10, 12}, len_k[5] = {3, 3, 4, 2, 4};
            for (int k = 0; k < 5; k++)
                bass(step_at(b0 + at_k[k]), step_at(b0 + at_k[k] + len_k[k]) - step_at(b0 + at_k[k]) - 300,
                     root + 12 + (k == 3 ? 7 : 0), 0.55 * lv, 0.9);
            break;
        }
        case B_OCTAVE:
            for (int k = 0; k < 8; k++)
                bass(step_at(b0 + k * 2), step_at(b0 + k * 2 + 2) - step_at(b0 + k * 2) - 300,
                     root + (k & 1 ? 24 : 12), 0.5 * lv, 0.7);
            break;
        }
        if (s->arp) {
            int step = s->arp == 1 ? 2 : 1;
            int oct = s->arp == 3 ? 24 : 12;
            static const int order[8] = {0, 1, 2, 3, 2, 1, 3, 1};
            for (int k = 0; k < 16; k += step) {
                int note = c->pad[order[(k / step) % 8]] + oct + tr;
                pluck(step_at(b0 + k), note, (k % 4 == 0 ? 0.16 : 0.11) * lv,
                      (k / step) & 1 ? 0.5 : -0.5, s->arp == 1 ? 0.25 : 0.12, wob);
            }
        }
    }
    if (s->bell) {
        // The bell melody over the four bars; the outro plays it an octave lower.
        for (int k = 0; k < COUNT(bells); k++)
            bell(step_at(base + bells[k].step), bells[k].note + tr - (p == PERIODS - 1 ? 12 : 0),
                 0.22 * lv, k & 1 ? 0.3 : -0.3);
    }

    switch (s->lead) {
    case L_RIFF:
        for (int bar = 0; bar < 4; bar++)
            for (int k = 0; k < COUNT(riff); k++) {
                long st = base + bar * 16 + riff[k].step;
                int note = riff[k].note - (bar == 3 ? 2 : 0) + tr;
                lead(step_at(st), step_at(st + riff[k].len) - step_at(st) - 500, note, 0.13 * lv, 0.6);
            }
        break;
    case L_THEME:
    case L_THEME_HI:
        for (int k = 0; k < COUNT(theme); k++) {
            long st = base + theme[k].step;
            uint32_t n = step_at(st + theme[k].len) - step_at(st) - 400;
            int note = theme[k].note + tr + (s->lead == L_THEME_HI ? 12 : 0);
            lead(step_at(st), n, note, 0.2 * lv, s->lead == L_THEME_HI ? 0.8 : 0.5);
            if (s->lead == L_THEME_HI) lead(step_at(st), n, note - 12, 0.1 * lv, 0.3);
        }
        break;
    case L_VARIATION:
        // The theme cut into staccato eighths with octave leaps.
        for (int k = 0; k < COUNT(theme); k++)
            for (int r = 0; r < theme[k].len; r += 2) {
                long st = base + theme[k].step + r;
                int note = theme[k].note + tr + ((r / 2) & 1 ? 12 : 0);
                lead(step_at(st), step_at(st + 1) - step_at(st), note, 0.14 * lv, 0.9);
            }
        break;
    case L_COUNTER:
        for (int bar = 0; bar < 4; bar++) {
            const chord *c = &s->prog[bar];
            for (int k = 0; k < 4; k++) {
                long st = base + bar * 16 + k * 4;
                lead(step_at(st), step_at(st + 3) - step_at(st), c->pad[3 - k] + 12 + tr, 0.1 * lv, 0.4);
            }
        }
        break;
    }
}

// ---- Effects and mastering ------------------------------------------------------------------

static void echo(void)
{
    // Ping-pong echo, three sixteenths long: the left line feeds the right one and
    // the right one feeds back into the left, darkened on every pass.
    uint32_t d = step_at(3);
    float *rl = (float *)calloc(d, sizeof(float)), *rr = (float *)calloc(d, sizeof(float));
    if (!rl || !rr) {
        fprintf(stderr, "mkdata: out of memory for the echo\n");
        exit(1);
    }
    double lpl = 0, lpr = 0;
    for (uint32_t i = 0, pos = 0; i < TOTAL; i++) {
        double ol = rl[pos], orr = rr[pos];
        lpr += (orr - lpr) * 0.5;
        lpl += (ol - lpl) * 0.6;
        rl[pos] = (float)(bus.dly[i] + 0.42 * lpr);
        rr[pos] = (float)lpl;
        if (++pos == d) pos = 0;
        bus.l[i] += (float)(ol * 0.4);
        bus.r[i] += (float)(orr * 0.4);
        bus.rev[i] += (float)((ol + orr) * 0.06);
    }
    free(rl);
    free(rr);
}

static void reverb(void)
{
    // Four damped combs and two all-passes per side (different lengths for width).
    static const int comb_len[4] = {1557, 1617, 1491, 1422};
    static const int ap_len[2] = {556, 441};
    for (int side = 0; side < 2; side++) {
        float *outp = side ? bus.r : bus.l;
        float *cb[4], *ab[2];
        int cp[4] = {0, 0, 0, 0}, ap[2] = {0, 0}, cl[4], al[2];
        double damp[4] = {0, 0, 0, 0};
        for (int k = 0; k < 4; k++) {
            cl[k] = comb_len[k] + side * 23;
            cb[k] = (float *)calloc((size_t)cl[k], sizeof(float));
        }
        for (int k = 0; k < 2; k++) {
            al[k] = ap_len[k] + side * 23;
            ab[k] = (float *)calloc((size_t)al[k], sizeof(float));
        }
        for (uint32_t i = 0; i < TOTAL; i++) {
            double in = bus.rev[i] * 0.3, acc = 0;
            for (int k = 0; k < 4; k++) {
                double o = cb[k][cp[k]];
                damp[k] = o * 0.7 + damp[k] * 0.3;
                cb[k][cp[k]] = (float)(in + damp[k] * 0.83);
                if (++cp[k] >= cl[k]) cp[k] = 0;
                acc += o;
            }
            for (int k = 0; k < 2; k++) {
                double b = ab[k][ap[k]];
                ab[k][ap[k]] = (float)(acc + b * 0.5);
                acc = b - acc;
                if (++ap[k] >= al[k]) ap[k] = 0;
            }
            outp[i] += (float)(acc * 0.5);
        }
        for (int k = 0; k < 4; k++) free(cb[k]);
        for (int k = 0; k < 2; k++) free(ab[k]);
    }
}

// The tape periods: lower sample rate, fewer bits, a dull top and hiss, faded in
// and out over 60 ms so the change makes no click.
static void lofi(int p, int amount)
{
    uint32_t a = (uint32_t)p * PERIOD, b = a + PERIOD;
    uint32_t fade = (uint32_t)(0.06 * MK_RATE);
    int hold = amount == 1 ? 3 : 4;
    double q = amount == 1 ? 96.0 : 64.0;
    float *ch[2] = {bus.l, bus.r};
    for (int c = 0; c < 2; c++) {
        double held = 0, lp = 0, lp2 = 0;
        for (uint32_t i = a; i < b + fade && i < TOTAL; i++) {
            if ((i - a) % (uint32_t)hold == 0) held = ch[c][i];
            double v = floor(held * q + 0.5) / q;
            lp += (v - lp) * 0.35;
            lp2 += (lp - lp2) * 0.35;
            double w = lp2 + noise() * 0.006;
            double mix = i < a + fade ? (double)(i - a) / fade : i >= b ? 1.0 - (double)(i - b) / fade : 1.0;
            ch[c][i] = (float)(ch[c][i] * (1.0 - mix) + w * mix);
        }
    }
}

int16_t *mk_music(uint32_t *frames)
{
    noise_state = 0x2545F491u;
    float *mem = (float *)calloc((size_t)TOTAL * 5, sizeof(float));
    int16_t *out = (int16_t *)malloc((size_t)TOTAL * 4);
    if (!mem || !out) {
        fprintf(stderr, "mkdata: out of memory for the music\n");
        exit(1);
    }
    bus.l = mem;
    bus.r = mem + TOTAL;
    bus.dly = mem + 2 * (size_t)TOTAL;
    bus.rev = mem + 3 * (size_t)TOTAL;
    bus.duck = mem + 4 * (size_t)TOTAL;
    for (uint32_t i = 0; i < TOTAL; i++) bus.duck[i] = 1.0f;

    for (int p = 0; p < PERIODS; p++) render_period(p);
    cut_at = TOTAL;
    // A last chord rings past the show's end.
    {
        static const int last[4] = {45, 57, 64, 69};
        uint32_t at = step_at((long)PERIODS * STEPS);
        pad(at, (uint32_t)(0.4 * MK_RATE), last, 4, 0.1, 800, 0);
        kick(at, 0.5, 2.5);
    }
    echo();
    reverb();
    for (int p = 0; p < PERIODS; p++)
        if (score[p].lofi) lofi(p, score[p].lofi);

    // Master: block DC, fade the outro, then scale so the peak sits near -1.2 dBFS
    // after a gentle saturation.
    double peak = 0;
    float *ch[2] = {bus.l, bus.r};
    uint32_t fade0 = (uint32_t)(PERIODS - 1) * PERIOD + PERIOD / 2;
    for (int c = 0; c < 2; c++) {
        double x1 = 0, y1 = 0;
        for (uint32_t i = 0; i < TOTAL; i++) {
            double x = ch[c][i];
            double y = x - x1 + 0.9985 * y1;
            x1 = x;
            y1 = y;
            if (i > fade0) {
                double f = 1.0 - (double)(i - fade0) / (TOTAL - fade0);
                y *= f * f;
            }
            ch[c][i] = (float)y;
            if (fabs(y) > peak) peak = fabs(y);
        }
    }
    // The saturation bends the kick's lopsided waves unevenly, which leaves a little
    // DC behind: a second, gentler blocker after it takes that out.
    double g = peak > 0 ? 1.4 / peak : 1.0, norm = 0.85 / mk_tanh(1.4);
    for (int c = 0; c < 2; c++) {
        double x1 = 0, y1 = 0;
        for (uint32_t i = 0; i < TOTAL; i++) {
            double x = mk_tanh(ch[c][i] * g) * norm * 32767.0;
            double y = x - x1 + 0.9995 * y1;
            x1 = x;
            y1 = y;
            long s = (long)floor(y + 0.5);
            if (s > 32767) s = 32767;
            if (s < -32768) s = -32768;
            out[2 * i + c] = (int16_t)s;
        }
    }
    free(mem);
    *frames = TOTAL;
    return out;
}
