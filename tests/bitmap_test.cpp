// Bitmap records, the registry, per-pixel access and clears, all without a GL
// context (texture names stay 0).
#include <gtest/gtest.h>
#include <string.h>
#include <string>

#include "engine/bitmap.h"
#include "engine/orb.h"

namespace {

class Bitmap : public ::testing::Test {
protected:
    void SetUp() override { orb_numbitmaps = 0; }
};

TEST_F(Bitmap, CreateFillsTheRecord)
{
    s_bitmap b;
    memset(&b, 0xAB, sizeof b);
    ORB_CreateBitmap(480, 270, &b);
    EXPECT_EQ(b.width, 480);
    EXPECT_EQ(b.height, 270);
    EXPECT_EQ(b.reserved1, nullptr);
    EXPECT_EQ(b.texwidth, 480);
    EXPECT_EQ(b.texheight, 270);
    EXPECT_EQ(b.numpixels, 129600);
    EXPECT_EQ(b.size, 518400);
    EXPECT_NE(b.pixels, nullptr);
    EXPECT_EQ(b.umin, 0.0f);
    EXPECT_EQ(b.vmin, 0.0f);
    // Just short of the edge, with different constants for u and v.
    EXPECT_EQ(b.umax, 479.9952f / 480);
    EXPECT_EQ(b.vmax, 269.973f / 270);
    EXPECT_LT(b.umax, 1.0f);
    EXPECT_LT(b.vmax, b.umax);
    EXPECT_EQ(b.texture, 0u);   // no GL context
    EXPECT_EQ(b.reserved4, 0);
    b.pixels[129599] = 1;       // the whole buffer is there
    ORB_DeleteBitmap(&b);
}

TEST_F(Bitmap, RegistryKeepsAddressesInOrderAndRefusesThe1025th)
{
    static s_bitmap many[ORB_MAXBITMAPS + 1];
    for (int i = 0; i < 3; i++) ORB_CreateBitmap(2, 2, &many[i]);
    EXPECT_EQ(orb_numbitmaps, 3);
    EXPECT_EQ(orb_bitmaplist[0], &many[0]);
    EXPECT_EQ(orb_bitmaplist[2], &many[2]);

    for (int i = 3; i < ORB_MAXBITMAPS; i++) ORB_CreateBitmap(1, 1, &many[i]);
    EXPECT_EQ(orb_numbitmaps, ORB_MAXBITMAPS);
    testing::internal::CaptureStdout();
    ORB_CreateBitmap(3, 2, &many[ORB_MAXBITMAPS]);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "ORB_CreateBitmap: bitmap registry full (1024), bitmap not registered\n");
    EXPECT_EQ(orb_numbitmaps, ORB_MAXBITMAPS);
    EXPECT_EQ(orb_bitmaplist[ORB_MAXBITMAPS - 1], &many[ORB_MAXBITMAPS - 1]);
    // The refused bitmap is still complete and usable.
    EXPECT_EQ(many[ORB_MAXBITMAPS].numpixels, 6);
    ASSERT_NE(many[ORB_MAXBITMAPS].pixels, nullptr);
    ORB_DrawPixel(2, 1, 0xFF123456, many[ORB_MAXBITMAPS]);
    EXPECT_EQ(ORB_GetPixel(2, 1, many[ORB_MAXBITMAPS]), 0xFF123456u);

    testing::internal::CaptureStdout();
    ORB_FlushGraphics();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(orb_numbitmaps, 0);
    EXPECT_EQ(many[0].pixels, nullptr);
    ORB_DeleteBitmap(&many[ORB_MAXBITMAPS]);
}

TEST_F(Bitmap, SizesWithoutABufferAreRefused)
{
    const int sizes[][2] = { { 0, 10 }, { 10, 0 }, { -4, 4 }, { 65535, 65535 }, { 32768, 16384 } };   // the last is exactly 2^31 bytes
    for (auto &sz : sizes) {
        s_bitmap b;
        testing::internal::CaptureStdout();
        ORB_CreateBitmap(sz[0], sz[1], &b);
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_NE(out.find("ORB_CreateBitmap: bad size"), std::string::npos) << sz[0] << "x" << sz[1];
        EXPECT_EQ(b.pixels, nullptr);
        EXPECT_EQ(b.size, 0);
        EXPECT_EQ(b.numpixels, 0);
        EXPECT_EQ(b.width, sz[0]);
        // Pixel calls and clears skip it.
        ORB_DrawPixel(0, 0, 1, b);
        EXPECT_EQ(ORB_GetPixel(0, 0, b), 0u);
        ORB_ClearBitmap(b);
        ORB_ClearColorBitmap(b, 5);
    }
}

TEST_F(Bitmap, PixelAccessExchangesRedAndBlue)
{
    s_bitmap b;
    ORB_CreateBitmap(5, 3, &b);
    ORB_DrawPixel(4, 2, 0x80123456, b);
    EXPECT_EQ(b.pixels[4 + 2 * 5], 0x80563412u);
    EXPECT_EQ(ORB_GetPixel(4, 2, b), 0x80123456u);
    b.pixels[0] = 0xFF0000FF;   // buffer order: red
    EXPECT_EQ(ORB_GetPixel(0, 0, b), 0xFFFF0000u);

    // Outside reads 0 and writes nothing.
    for (int i = 0; i < 15; i++) b.pixels[i] = 0x77777777;
    const int outside[][2] = { { 5, 0 }, { -1, 0 }, { 0, 3 }, { 0, -1 }, { 5, 2 }, { -1, 3 } };
    for (auto &p : outside) {
        EXPECT_EQ(ORB_GetPixel(p[0], p[1], b), 0u);
        ORB_DrawPixel(p[0], p[1], 0xFFFFFFFF, b);
    }
    for (int i = 0; i < 15; i++) EXPECT_EQ(b.pixels[i], 0x77777777u);
    ORB_DeleteBitmap(&b);
}

TEST_F(Bitmap, ClearsAndDeleteOnce)
{
    s_bitmap b;
    ORB_CreateBitmap(6, 4, &b);
    ORB_ClearColorBitmap(b, (int)0xFF0000FF);
    for (int i = 0; i < 24; i++) EXPECT_EQ(b.pixels[i], 0xFF0000FFu);
    EXPECT_EQ(ORB_GetPixel(5, 3, b), 0xFFFF0000u);
    ORB_ClearBitmap(b);
    for (int i = 0; i < 24; i++) EXPECT_EQ(b.pixels[i], 0u);

    testing::internal::CaptureStdout();
    ORB_DeleteBitmap(&b);
    ORB_DeleteBitmap(&b);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "deleting bitmap\n");
    EXPECT_EQ(b.pixels, nullptr);
    EXPECT_EQ(orb_numbitmaps, 1);   // deletion leaves the registry to the flush
}

} // namespace
