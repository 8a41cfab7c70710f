// Vector balls: tables, projection of the cube's worked vertices, object loading,
// angle period and the movement phases.
#include <gtest/gtest.h>
#include <math.h>

#include "demo/vector.h"

TEST(VectorTables, SineShapeAndCosineShift)
{
    EXPECT_EQ(sintab[0], 0);
    EXPECT_EQ(sintab[64], 127);
    EXPECT_EQ(sintab[63], 126);
    EXPECT_EQ(sintab[65], 126);
    EXPECT_EQ(sintab[128], 0);
    EXPECT_EQ(sintab[192], -127);
    for (int i = 0; i < 256; i++) {
        ASSERT_EQ(costab[i], sintab[(i + 64) & 255]) << i;
        ASSERT_EQ(sintab[i], (int)(sin(2 * M_PI * i / 256) * 127)) << i;  // truncated, not rounded
    }
}

TEST(VectorBalls, CubeVerticesAtRest)
{
    init_vector();
    vector_initobject(1);
    ASSERT_EQ(numvertices, 8);
    vector_rotatepoints();
    // (100, 100, 100): y1 = z1 = x2 = 99, z2 = 98, X = Y = 12573, D = 354.
    EXPECT_EQ(vertex[6].sx, 35 + vectorx);
    EXPECT_EQ(vertex[6].sy, 35 + vectory);
    // (-100, -100, -100): the shifts round toward minus infinity (-100 each),
    // X = Y = -12700, D = 156, and the division truncates toward zero.
    EXPECT_EQ(vertex[0].sx, -81 + vectorx);
    EXPECT_EQ(vertex[0].sy, -81 + vectory);
    EXPECT_EQ(vectorx, -256);
    EXPECT_EQ(vectory, 135);
    // Mixed corner (100, -100, -100): x2 = 100 - ... stays on the right, above.
    EXPECT_GT(vertex[1].sx, vectorx);
    EXPECT_LT(vertex[1].sy, vectory);
}

TEST(VectorBalls, ProjectionFollowsTheCentre)
{
    init_vector();
    vector_initobject(1);
    vectorx = 240;
    vectory = 100;
    xa = 10;
    ya = 200;
    za = 77;
    vector_rotatepoints();
    int sx[8], sy[8];
    for (int i = 0; i < 8; i++) {
        sx[i] = vertex[i].sx;
        sy[i] = vertex[i].sy;
    }
    vectorx = 250;
    vectory = 90;
    vector_rotatepoints();
    for (int i = 0; i < 8; i++) {
        EXPECT_EQ(vertex[i].sx, sx[i] + 10);
        EXPECT_EQ(vertex[i].sy, sy[i] - 10);
    }
}

TEST(VectorBalls, ObjectsAndUnknownNumbers)
{
    init_vector();
    vector_initobject(1);
    vector_initobject(2);
    EXPECT_EQ(numvertices, 5);
    EXPECT_EQ(vertex[4].x, 0);
    EXPECT_EQ(vertex[4].z, 100);            // the apex
    // Slots behind the pyramid still hold the cube's last three vertices.
    EXPECT_EQ(vertex[5].x, 100);
    EXPECT_EQ(vertex[5].y, -100);
    EXPECT_EQ(vertex[7].x, -100);
    EXPECT_EQ(vertex[7].z, 100);
    // Only the five are projected.
    vertex[5].sx = 12345;
    vector_rotatepoints();
    EXPECT_EQ(vertex[5].sx, 12345);

    vector_initobject(3);
    EXPECT_EQ(numvertices, 8);
    EXPECT_EQ(vertex[0].x, -50);
    EXPECT_EQ(vertex[7].y, 100);
    vector_initobject(0);
    vector_initobject(4);
    vector_initobject(-1);
    EXPECT_EQ(numvertices, 8);
    EXPECT_EQ(vertex[0].x, -50);
}

TEST(VectorMovement, AnglesRepeatEvery256Frames)
{
    init_vector();
    xa = 5;
    ya = 6;
    za = 7;
    vector_handlemovement(1.0f);
    EXPECT_EQ(xa, 6);
    EXPECT_EQ(ya, 8);
    EXPECT_EQ(za, 10);
    for (int i = 1; i < 256; i++) vector_handlemovement(1.0f);
    EXPECT_EQ(xa, 5);
    EXPECT_EQ(ya, 6);
    EXPECT_EQ(za, 7);
}

TEST(VectorMovement, EnteringTruncatesTowardZero)
{
    init_vector();
    vector_handlemovement(0.5f);            // -256 + 0.6 = -255.4
    EXPECT_EQ(vectorx, -255);
    init_vector();
    vector_handlemovement(1.0f);            // -256 + 1.2 = -254.8
    EXPECT_EQ(vectorx, -254);
    vectorx = 1;
    for (int i = 0; i < 10; i++) vector_handlemovement(0.5f);
    EXPECT_EQ(vectorx, 1);                  // steps below 1 no longer move it
    vector_handlemovement(1.0f);
    EXPECT_EQ(vectorx, 2);
    vector_handlemovement(0.0f);
    EXPECT_EQ(vectorx, 2);

    // A stalled frame with a huge step saturates instead of overflowing.
    vector_handlemovement(1e30f);
    EXPECT_EQ(vectorx, 2147483647);
    vector_handlemovement(-1e30f);
    EXPECT_EQ(vectorx, -2147483647 - 1);
    vectorx = 7;
    vector_handlemovement(NAN);
    EXPECT_EQ(vectorx, 7);
}

TEST(VectorMovement, WaitLeaveAndNextObject)
{
    init_vector();
    vector_initobject(1);
    vectorx = 100;
    vectorstate = 1;
    for (int i = 0; i < 255; i++) vector_handlemovement(1.0f);
    EXPECT_EQ(vectorstate, 1);
    EXPECT_EQ(vectorx, 100);
    vector_handlemovement(1.0f);
    EXPECT_EQ(vectorstate, 2);
    // Leaving: one pixel left per frame while at -255 or right of it.
    vector_handlemovement(1.0f);
    EXPECT_EQ(vectorx, 99);
    for (int i = 0; i < 355; i++) vector_handlemovement(1.0f);
    EXPECT_EQ(vectorx, -256);
    EXPECT_EQ(vectorstate, 2);
    vector_handlemovement(1.0f);            // below -255: the next object enters
    EXPECT_EQ(vectorstate, 0);
    EXPECT_EQ(vectorobject, 2);
    EXPECT_EQ(numvertices, 5);
    // 2 -> 3 -> 1.
    vectorstate = 2;
    vector_handlemovement(1.0f);
    EXPECT_EQ(vectorobject, 3);
    vectorstate = 2;
    vector_handlemovement(1.0f);
    EXPECT_EQ(vectorobject, 1);
    EXPECT_EQ(numvertices, 8);
    EXPECT_EQ(vertex[0].x, -100);
}
