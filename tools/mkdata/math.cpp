// math.cpp - deterministic maths of the asset generator: a seeded PRNG, sine
// and exponential from our own polynomials (plain IEEE double operations only, so
// every compiler and C library gives the same bits), and wrapping value noise.
#include "tools/mkdata/mkdata.h"

#include <math.h>

// ---- Deterministic maths ------------------------------------------------------------

void mk_seed(mk_rng *r, uint64_t seed) { r->state = seed * 0x9E3779B97F4A7C15ull + 1; }

uint32_t mk_rand(mk_rng *r)
{
    // PCG-XSH-RR: 64-bit state, 32-bit output.
    uint64_t old = r->state;
    r->state = old * 6364136223846793005ull + 1442695040888963407ull;
    uint32_t x = (uint32_t)(((old >> 18) ^ old) >> 27);
    uint32_t rot = (uint32_t)(old >> 59);
    return (x >> rot) | (x << ((32 - rot) & 31));
}

int mk_randint(mk_rng *r, int n) { return (int)(mk_rand(r) % (uint32_t)n); }

double mk_randf(mk_rng *r) { return (double)(mk_rand(r) >> 8) / 16777216.0; }

double mk_sin1(double cycles)
{
    double f = cycles - floor(cycles);   // 0..1
    if (f >= 0.5) f -= 1.0;              // -0.5..0.5
    double t = f * 6.283185307179586;    // -pi..pi
    if (t > 1.5707963267948966) t = 3.141592653589793 - t;
    else if (t < -1.5707963267948966) t = -3.141592653589793 - t;
    double t2 = t * t;
    // Taylor series to t^19: error below 1e-15 on |t| <= pi/2.
    double p = -1.0 / 121645100408832000.0;
    p = p * t2 + 1.0 / 355687428096000.0;
    p = p * t2 - 1.0 / 1307674368000.0;
    p = p * t2 + 1.0 / 6227020800.0;
    p = p * t2 - 1.0 / 39916800.0;
    p = p * t2 + 1.0 / 362880.0;
    p = p * t2 - 1.0 / 5040.0;
    p = p * t2 + 1.0 / 120.0;
    p = p * t2 - 1.0 / 6.0;
    p = p * t2 + 1.0;
    return p * t;
}

double mk_cos1(double cycles) { return mk_sin1(cycles + 0.25); }

double mk_exp2(double x)
{
    double n = floor(x);
    double f = (x - n) * 0.6931471805599453;   // 0..ln 2
    double p = 1.0, term = 1.0;
    for (int k = 1; k <= 16; k++) {
        term = term * f / k;
        p += term;
    }
    return ldexp(p, (int)n);
}

double mk_tanh(double x)
{
    if (x > 20) return 1.0;
    if (x < -20) return -1.0;
    double e = mk_exp2(2.0 * x * 1.4426950408889634);
    return (e - 1.0) / (e + 1.0);
}

static uint32_t hash3(uint32_t a, uint32_t b, uint32_t c)
{
    uint32_t h = a * 0x27D4EB2Du ^ b * 0x165667B1u ^ c * 0x9E3779B1u;
    h ^= h >> 15;
    h *= 0x85EBCA77u;
    h ^= h >> 13;
    h *= 0xC2B2AE3Du;
    h ^= h >> 16;
    return h;
}

static double lattice(int seed, int ix, int iy, int period)
{
    ix = ((ix % period) + period) % period;
    iy = ((iy % period) + period) % period;
    return (double)(hash3((uint32_t)seed, (uint32_t)ix, (uint32_t)iy) >> 8) / 16777215.0;
}

static double smooth(double t) { return t * t * t * (t * (t * 6 - 15) + 10); }

double mk_noise(int seed, double x, double y, int cell, int period)
{
    double gx = x / cell, gy = y / cell;
    double fx0 = floor(gx), fy0 = floor(gy);
    int ix = (int)fx0, iy = (int)fy0;
    double fx = smooth(gx - fx0), fy = smooth(gy - fy0);
    double a = lattice(seed, ix, iy, period), b = lattice(seed, ix + 1, iy, period);
    double c = lattice(seed, ix, iy + 1, period), d = lattice(seed, ix + 1, iy + 1, period);
    double top = a + (b - a) * fx, bot = c + (d - c) * fx;
    return top + (bot - top) * fy;
}

double mk_fbm(int seed, double x, double y, int size, int first_cell, int octaves)
{
    double sum = 0, amp = 1, norm = 0;
    int cell = first_cell;
    for (int o = 0; o < octaves && cell >= 1; o++) {
        sum += amp * mk_noise(seed + o * 131, x, y, cell, size / cell);
        norm += amp;
        amp *= 0.5;
        cell >>= 1;
    }
    return sum / norm;
}
