// Long flights: the tunnel, the plane and the voxel camera over thousands of frames
// as their scenes move them, and flights started far out, checking that every
// grid value stays in its range. Run under UBSan, these show that no conversion or
// product leaves its type's range along the way.
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include "demo/freedir.h"
#include "demo/voxel.h"
#include "effects_testutil.h"

static const int W = 480, H = 270, GW = 61, GH = 35;

// The loop's pulse: 2.0 every 128 frames, then down by 0.05 per frame in single
// precision to its resting value.
static float next_pulse(float pulse, int frame)
{
    if (frame % 128 == 0) pulse = 2.0f;
    if (pulse > 1.0f) pulse = (float)(pulse - 0.05);
    return pulse;
}

static void check_grid(int frame)
{
    for (int e = 0; e < GW * GH; e++) {
        ASSERT_GE(tempu[e], 0) << "frame " << frame << " corner " << e;
        ASSERT_GE(tempv[e], 0) << "frame " << frame << " corner " << e;
        ASSERT_GE(tempz[e], 0) << "frame " << frame << " corner " << e;
        ASSERT_LE(tempz[e], 255) << "frame " << frame << " corner " << e;
    }
}

static void fly(s_freedir fd, int frames)
{
    s_bitmap t = fx_bitmap(W, H);
    float pulse = 1.0f;
    for (int f = 0; f < frames; f++) {
        fd.speed = pulse * 5.0f;
        FD_Render(&fd, t, 255);
        ASSERT_NO_FATAL_FAILURE(check_grid(f));
        ASSERT_GE(fd.angle, 0);
        ASSERT_LE(fd.angle, 1023);
        if (f % 97 == 0) {
            for (int i = 0; i < W * H; i++) ASSERT_EQ(t.pixels[i] >> 24, 0xFFu) << f;
        }
        pulse = next_pulse(pulse, f);
    }
    fx_free(&t);
}

static s_freedir object(uint32_t *tex, int type, float y, float z, int focal)
{
    s_freedir fd;
    memset(&fd, 0, sizeof fd);
    fd.texture = tex;
    fd.type = (uint8_t)type;
    fd.y = y;
    fd.z = z;
    fd.focal = focal;
    fd.speed = 5.0f;
    fd.rotate = 1;
    return fd;
}

TEST(Flight, TunnelAndPlaneThousandsOfFrames)
{
    FD_Initialise(W, H);
    s_bitmap tex = fx_texture();
    fly(object(tex.pixels, FD_TUNNEL, 60, -10, 60), 2500);
    fly(object(tex.pixels, FD_PLANE, 0, -10, 120), 2500);
    // Far along: the float origin is coarse and the coordinates pass the int range.
    fly(object(tex.pixels, FD_TUNNEL, 60, 3e9f, 60), 300);
    fly(object(tex.pixels, FD_PLANE, 0, 1e15f, 120), 300);
    fly(object(tex.pixels, FD_SPHERE, 0, -10, 20), 300);
    fx_free(&tex);
}

static int tri(int t) { return abs((t & 511) - 256); }

static void voxel_flight(s_camera cam, int frames)
{
    s_bitmap t = fx_bitmap(W, H), bg = fx_bitmap(W, H);
    float heading = 32.0f, dt = 1.0f;
    for (int framecount = 0; framecount < frames; framecount++) {
        calccamera(&cam);
        drawvoxel(&cam, bg, t);
        for (int i = 0; i < W; i++) {
            ASSERT_GE(lasty[i], 0) << framecount;
            ASSERT_LE(lasty[i], H - 1) << framecount;
        }
        double s = sin(framecount * 0.02454369260617026);
        heading = (float)(heading + s);
        cam.angle = (uint8_t)(int)heading;
        cam.roll = (int)(s * 31);
        // Wrapping adds: the flight may cross the int range, which the map
        // (256 cells) does not notice.
        cam.x = (int32_t)((uint32_t)cam.x +
                          (uint32_t)(((int)((float)cam.speed * dt * (float)scape_costab[cam.angle])) >> 8));
        cam.y = (int32_t)((uint32_t)cam.y +
                          (uint32_t)(((int)((float)cam.speed * dt * (float)scape_sintab[cam.angle])) >> 8));
        // Step sizes vary as frames do.
        dt = (framecount % 50 == 0) ? 7.5f : 1.0f;
    }
    fx_free(&t);
    fx_free(&bg);
}

TEST(Flight, VoxelCameraThousandsOfFrames)
{
    s_bitmap hm = fx_bitmap(256, 256), cm = fx_texture(), sky = fx_texture();
    for (int y = 0; y < 256; y++)
        for (int x = 0; x < 256; x++) hm.pixels[y * 256 + x] = (uint32_t)(tri(x * 9) + tri(y * 7)) / 2 << 16;
    initvoxel(hm, cm, sky);
    s_camera cam = fx_start_camera();
    voxel_flight(cam, 1500);

    // Started at the edge of the int range, and low enough to sit in the hills.
    cam.x = 0x7FFF0000;
    cam.y = -0x7FFF0000;
    cam.height = -400;
    cam.speed = 4096;
    voxel_flight(cam, 300);
    fx_free(&hm);
    fx_free(&cm);
    fx_free(&sky);
}
