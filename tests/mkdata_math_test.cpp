// The asset generator's own maths: its sine, exponential and tanh against the C
// library across their ranges, the PRNG's range and repeatability, and the noise
// wrapping at its period (what makes the height map and textures seamless).
#include <gtest/gtest.h>

#include <math.h>

#include "tools/mkdata/math.cpp"

TEST(MkdataMath, SineExpAndTanhMatchTheCLibrary)
{
    double worst_sin = 0, worst_exp = 0, worst_tanh = 0;
    for (int i = -200000; i <= 200000; i++) {
        double c = i * 0.000731;   // about -146..146 turns
        worst_sin = fmax(worst_sin, fabs(mk_sin1(c) - sin(c * 6.283185307179586)));
        worst_sin = fmax(worst_sin, fabs(mk_cos1(c) - cos(c * 6.283185307179586)));
        double x = i * 0.0004;     // -80..80
        worst_exp = fmax(worst_exp, fabs(mk_exp2(x) - exp2(x)) / exp2(x));
        worst_tanh = fmax(worst_tanh, fabs(mk_tanh(x * 0.1) - tanh(x * 0.1)));
    }
    // Large arguments lose only what the reduction of c itself loses.
    EXPECT_LT(worst_sin, 1e-9);
    EXPECT_LT(worst_exp, 1e-13);
    EXPECT_LT(worst_tanh, 1e-12);
    // Exact points of the turn.
    EXPECT_EQ(mk_sin1(0.0), 0.0);
    EXPECT_NEAR(mk_sin1(0.25), 1.0, 1e-15);
    EXPECT_NEAR(mk_sin1(-0.25), -1.0, 1e-15);
    EXPECT_NEAR(mk_sin1(0.5), 0.0, 1e-15);
    EXPECT_EQ(mk_exp2(3.0), 8.0);
    EXPECT_EQ(mk_exp2(-2.0), 0.25);
}

TEST(MkdataMath, RandomNumbersRepeatAndStayInRange)
{
    mk_rng a, b;
    mk_seed(&a, 42);
    mk_seed(&b, 42);
    int counts[7] = {0};
    double lo = 1, hi = 0;
    for (int i = 0; i < 70000; i++) {
        ASSERT_EQ(mk_rand(&a), mk_rand(&b));
        int k = mk_randint(&a, 7);
        mk_randint(&b, 7);
        ASSERT_GE(k, 0);
        ASSERT_LT(k, 7);
        counts[k]++;
        double f = mk_randf(&a);
        mk_randf(&b);
        lo = fmin(lo, f);
        hi = fmax(hi, f);
    }
    for (int k = 0; k < 7; k++) EXPECT_NEAR(counts[k], 10000, 500) << k;
    EXPECT_GE(lo, 0.0);
    EXPECT_LT(hi, 1.0);
    mk_seed(&b, 43);
    mk_seed(&a, 42);
    EXPECT_NE(mk_rand(&a), mk_rand(&b));
}

TEST(MkdataMath, NoiseWrapsAtItsPeriodAndStaysInRange)
{
    for (double y = 0; y < 64; y += 3.7)
        for (double x = 0; x < 64; x += 2.3) {
            double n = mk_noise(7, x, y, 16, 4);
            ASSERT_GE(n, 0.0);
            ASSERT_LE(n, 1.0);
            EXPECT_NEAR(n, mk_noise(7, x + 64, y, 16, 4), 1e-12);
            EXPECT_NEAR(n, mk_noise(7, x, y - 64, 16, 4), 1e-12);
            double f = mk_fbm(3, x, y, 256, 64, 5);
            // The same up to the rounding of the lattice fraction.
            EXPECT_NEAR(f, mk_fbm(3, x + 256, y + 256, 256, 64, 5), 1e-12);
            EXPECT_NEAR(f, mk_fbm(3, x - 256, y, 256, 64, 5), 1e-12);
        }
    // Lattice points take their own values; between them the noise is continuous.
    double step = 0;
    for (int i = 0; i < 1024; i++)
        step = fmax(step, fabs(mk_noise(1, i * 0.25, 5.0, 16, 8) - mk_noise(1, (i + 1) * 0.25, 5.0, 16, 8)));
    EXPECT_LT(step, 0.05);
}
