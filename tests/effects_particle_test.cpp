// Particles and the ring spawner: motion arithmetic, ring geometry, pool wrap.
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include "demo/c_particle.h"
#include "demo/effects.h"

static void reset_pool(void)
{
    memset((void *)particle, 0, sizeof particle);
    startparticle = 0;
}

TEST(Particle, SpawnAndMoveSequence)
{
    c_particle p;
    memset((void *)&p, 0, sizeof p);
    p.Spawn(100, 100, 90, 1, 0, 3);
    EXPECT_EQ(p.active, 1);
    EXPECT_EQ(p.life, 3);
    // 90 degrees points along +x; the y velocity is the rounding residue of cos.
    const int drawnx[3] = {100, 101, 102};
    const float vx[4] = {1.0f, 1.05f, 1.1025f, 1.157625f};
    for (int round = 0; round < 3; round++) {
        ASSERT_EQ(p.active, 1) << "round " << round;
        EXPECT_EQ((int)p.x, drawnx[round]);
        EXPECT_EQ((int)p.y, 100);
        EXPECT_NEAR(p.dx, vx[round], 1e-6);
        p.Handle();
        EXPECT_NEAR(p.dx, vx[round + 1], 1e-6);
    }
    EXPECT_EQ(p.active, 0);
    EXPECT_EQ(p.life, 0);
    // Inactive: Handle moves nothing.
    float x = p.x;
    p.Handle();
    EXPECT_EQ(p.x, x);
}

TEST(Particle, DirectionsSpeedZeroAndShortLives)
{
    c_particle p;
    p.Spawn(10, 20, 0, 2, 1, 50);          // angle 0 points down the screen
    EXPECT_NEAR(p.dx, 0.0f, 1e-6);
    EXPECT_FLOAT_EQ(p.dy, 2.0f);
    p.Spawn(10, 20, 180, 3, 1, 50);
    EXPECT_FLOAT_EQ(p.dy, -3.0f);

    p.Spawn(33.5f, 44.25f, 45, 0, 2, 40);  // speed 0 stays put for its whole life
    for (int i = 0; i < 40; i++) p.Handle();
    EXPECT_EQ(p.active, 0);
    EXPECT_EQ(p.x, 33.5f);
    EXPECT_EQ(p.y, 44.25f);

    p.Spawn(0, 0, 0, 1, 0, 0);             // life 0: live until the next Handle
    EXPECT_EQ(p.active, 1);
    p.Handle();
    EXPECT_EQ(p.active, 0);
    p.Spawn(0, 0, 0, 1, 0, -2147483647 - 1); // the most negative life must not wrap
    p.Handle();
    EXPECT_EQ(p.active, 0);
    EXPECT_EQ(p.life, -2147483647 - 1);
}

TEST(Particle, SpawnRestartsALiveSlot)
{
    c_particle p;
    p.Spawn(0, 0, 90, 5, 0, 100);
    for (int i = 0; i < 10; i++) p.Handle();
    p.Spawn(7, 8, 0, 1, 2, 4);
    EXPECT_EQ(p.x, 7.0f);
    EXPECT_EQ(p.y, 8.0f);
    EXPECT_EQ(p.life, 4);
    EXPECT_EQ(p.type, 2);
    EXPECT_NEAR(p.dx, 0.0f, 1e-6);
    EXPECT_FLOAT_EQ(p.dy, 1.0f);
}

TEST(Rings, ThirtyParticlesOnACircleFlyingOutward)
{
    reset_pool();
    SpawnTunnel(240, 135, 7);
    EXPECT_EQ(startparticle, 30);
    int types[3] = {0, 0, 0};
    for (int i = 0; i < 30; i++) {
        const c_particle &p = particle[i];
        double a = (7 + 12 * i) * 0.017453292519943295;
        EXPECT_EQ(p.active, 1);
        EXPECT_EQ(p.life, 100);
        ASSERT_GE(p.type, 0);
        ASSERT_LE(p.type, 2);
        types[p.type]++;
        // On the circle of radius 20 at the ring's angle, moving straight outward
        // at speed 1.
        EXPECT_NEAR(p.x, 240 + 20 * sin(a), 1e-4) << i;
        EXPECT_NEAR(p.y, 135 + 20 * cos(a), 1e-4) << i;
        EXPECT_NEAR(p.dx, sin(a), 1e-6) << i;
        EXPECT_NEAR(p.dy, cos(a), 1e-6) << i;
        EXPECT_NEAR(hypot(p.x - 240, p.y - 135), 20.0, 1e-4);
    }
    // Three colours drawn at random: thirty draws do not all land on one.
    EXPECT_LT(types[0], 30);
    EXPECT_LT(types[1], 30);
    EXPECT_LT(types[2], 30);
    EXPECT_EQ(particle[30].active, 0);

    // The ring covers the full circle: angle + 348 is the last, 12 degrees short.
    double last = atan2(particle[29].dx, particle[29].dy) * 180 / M_PI;
    double first = atan2(particle[0].dx, particle[0].dy) * 180 / M_PI;
    EXPECT_NEAR(fmod(first - last + 720, 360), 12.0, 1e-3);
}

TEST(Rings, PoolWrapsAndOverwritesLiveSlots)
{
    reset_pool();
    for (int r = 0; r < 30; r++) SpawnTunnel(100, 100, 0);
    EXPECT_EQ(startparticle, 0);                  // 900 spawns: back at the start
    for (int i = 0; i < MAXPARTICLES; i++) ASSERT_EQ(particle[i].active, 1);

    particle[0].Handle();                          // age the oldest particle
    SpawnTunnel(300, 50, 90);                      // the 901st particle replaces it
    EXPECT_EQ(startparticle, 30);
    EXPECT_EQ(particle[0].life, 100);
    EXPECT_NEAR(particle[0].x, 320.0f, 1e-4);      // 300 + 20 sin 90
    EXPECT_NEAR(particle[0].y, 50.0f, 1e-4);
    EXPECT_NEAR(particle[30].x, 100.0f, 1e-4);     // untouched from the earlier rings
    EXPECT_NEAR(particle[30].y, 120.0f, 1e-4);

    // A start angle at the end of the int range wraps instead of overflowing.
    SpawnTunnel(0, 0, 2147483647);
    EXPECT_EQ(startparticle, 60);
    EXPECT_EQ(particle[59].active, 1);

    // A ring that straddles the end of the pool.
    startparticle = 890;
    SpawnTunnel(0, 0, 0);
    EXPECT_EQ(startparticle, 20);
    EXPECT_NEAR(particle[899].dy, cos(108 * 0.017453292519943295), 1e-6); // ring member 9
    EXPECT_NEAR(particle[0].dy, cos(120 * 0.017453292519943295), 1e-6);   // member 10
}

TEST(Rings, ParticlesLiveOneHundredHandles)
{
    reset_pool();
    SpawnTunnel(240, 135, 0);
    for (int f = 0; f < 99; f++)
        for (int i = 0; i < 30; i++) particle[i].Handle();
    for (int i = 0; i < 30; i++) EXPECT_EQ(particle[i].active, 1);
    for (int i = 0; i < 30; i++) particle[i].Handle();
    for (int i = 0; i < 30; i++) EXPECT_EQ(particle[i].active, 0);
    // Flown outward: 20 + sum of 1.05^k for k < 100 pixels from the centre.
    double dist = 20 + (pow(1.05, 100) - 1) / 0.05;
    EXPECT_NEAR(hypot(particle[5].x - 240, particle[5].y - 135), dist, 0.05);
}
