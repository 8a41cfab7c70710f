// The capture's file writer: a missing encoder or an unwritable file is refused
// before anything is written, a finished file replaces its name only when complete,
// and a run that never started leaves nothing behind.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "tests/testutil_os.h"
#include "tools/capture/encoder.h"
#include "tools/capture/plan.h"

namespace {

bool exists(const std::string &p)
{
    return tu_filesize(p) >= 0;
}

class CaptureEncoder : public ::testing::Test {
protected:
    std::string dir;
    void SetUp() override
    {
        dir = tu_mkdtemp("capture_encoder");
        ASSERT_FALSE(dir.empty());
    }
    void TearDown() override { tu_rmtree(dir); }
};

TEST_F(CaptureEncoder, MissingEncodersAreNamedAndNothingIsWritten)
{
    char err[256] = "";
    std::string out = dir + "/a.mkv";
    EXPECT_EQ(encoder_open_with(out.c_str(), CAP_MKV, 480, 270, 60, "libnothing", "flac", err, sizeof err), nullptr);
    EXPECT_NE(strstr(err, "no video encoder libnothing"), nullptr) << err;
    EXPECT_EQ(encoder_open_with(out.c_str(), CAP_MKV, 480, 270, 60, "libx264", "nosound", err, sizeof err), nullptr);
    EXPECT_NE(strstr(err, "no sound encoder nosound"), nullptr) << err;
    EXPECT_EQ(encoder_open(out.c_str(), 17, 480, 270, 60, err, sizeof err), nullptr);
    EXPECT_NE(strstr(err, "unknown container"), nullptr) << err;
    EXPECT_FALSE(exists(out));
    EXPECT_FALSE(exists(out + ".part"));
}

TEST_F(CaptureEncoder, UnwritableTargetsAreRefused)
{
    char err[256] = "";
    std::string sub = dir + "/missing/a.mp4";
    EXPECT_EQ(encoder_open(sub.c_str(), CAP_MP4, 480, 270, 60, err, sizeof err), nullptr);
    EXPECT_NE(strstr(err, "cannot write"), nullptr) << err;
    ASSERT_EQ(tu_mkdir(dir + "/f.mp4"), 0);
    EXPECT_EQ(encoder_open((dir + "/f.mp4").c_str(), CAP_MP4, 480, 270, 60, err, sizeof err), nullptr);
    EXPECT_NE(strstr(err, "it is a folder"), nullptr) << err;
}

TEST_F(CaptureEncoder, FileAppearsOnlyWhenComplete)
{
    char err[256] = "";
    std::string out = dir + "/a.mkv";
    ASSERT_EQ(tu_writefile(out, "earlier"), 0);
    encoder *e = encoder_open(out.c_str(), CAP_MKV, 480, 270, 60, err, sizeof err);
    ASSERT_NE(e, nullptr) << err;
    EXPECT_TRUE(exists(out + ".part"));
    std::vector<uint8_t> px(480 * 270 * 4);
    std::vector<int16_t> sound(735 * 2);
    for (int n = 0; n < 30; n++) {
        for (size_t i = 0; i < px.size(); i++) px[i] = (uint8_t)(i * 7 + n * 13);
        for (size_t i = 0; i < sound.size(); i++) sound[i] = (int16_t)((i + n * 1470) * 37);
        ASSERT_TRUE(encoder_frame(e, px.data()));
        ASSERT_TRUE(encoder_sound(e, sound.data(), 735));
        if (n == 10) {  // until it is closed, the earlier file stays
            FILE *g = fopen(out.c_str(), "r");
            char b[8] = "";
            ASSERT_NE(g, nullptr);
            EXPECT_EQ(fread(b, 1, 7, g), 7u);
            fclose(g);
            EXPECT_STREQ(b, "earlier");
        }
    }
    ASSERT_TRUE(encoder_close(e, err, sizeof err)) << err;
    EXPECT_FALSE(exists(out + ".part"));
    EXPECT_GT(tu_filesize(out), 1000);
}

TEST_F(CaptureEncoder, AbortLeavesNothing)
{
    char err[256] = "";
    std::string out = dir + "/a.mp4";
    encoder *e = encoder_open(out.c_str(), CAP_MP4, 640, 360, 30, err, sizeof err);
    ASSERT_NE(e, nullptr) << err;
    std::vector<uint8_t> px(640 * 360 * 4, 0x80);
    for (int n = 0; n < 5; n++) encoder_frame(e, px.data());
    encoder_abort(e);
    EXPECT_FALSE(exists(out));
    EXPECT_FALSE(exists(out + ".part"));
}

}  // namespace
