// The capture's command line.
#include <gtest/gtest.h>

#include <string.h>

#include "tools/capture/plan.h"

namespace {

// Parses a command line given as one string of words.
int parse(const char *line, cap_plan *plan, char *err = nullptr)
{
    static char buf[512];
    static char *argv[32];
    static char own[256];
    snprintf(buf, sizeof buf, "mirador-capture %s", line);
    int argc = 0;
    for (char *t = strtok(buf, " "); t && argc < 32; t = strtok(nullptr, " ")) argv[argc++] = t;
    return cap_parse(argc, argv, plan, err ? err : own, 256);
}

TEST(CapturePlan, DefaultsAreTheWholeShowAt1080p60)
{
    cap_plan p;
    ASSERT_TRUE(parse("out.mp4", &p));
    EXPECT_EQ(p.width, 1920);
    EXPECT_EQ(p.height, 1080);
    EXPECT_EQ(p.fps, 60);
    EXPECT_EQ(p.first, 2);
    EXPECT_EQ(p.last, 23);
    EXPECT_EQ(p.framemd5, nullptr);
    EXPECT_STREQ(p.output, "out.mp4");
    EXPECT_EQ(p.container, CAP_MP4);
}

TEST(CapturePlan, ReadsEveryOption)
{
    cap_plan p;
    ASSERT_TRUE(parse("--size 480x270 --fps 120 --periods 6-7 --framemd5 g.txt x/y.webm", &p));
    EXPECT_EQ(p.width, 480);
    EXPECT_EQ(p.height, 270);
    EXPECT_EQ(p.fps, 120);
    EXPECT_EQ(p.first, 6);
    EXPECT_EQ(p.last, 7);
    EXPECT_STREQ(p.framemd5, "g.txt");
    EXPECT_EQ(p.container, CAP_WEBM);
    ASSERT_TRUE(parse("--size 3840x2160 --periods 23-23 -- --odd-name.mkv", &p));
    EXPECT_EQ(p.width, 3840);
    EXPECT_STREQ(p.output, "--odd-name.mkv");
}

TEST(CapturePlan, RefusesBadValuesWithTheReason)
{
    const struct { const char *line, *why; } bad[] = {
        { "--size 479x270 o.mp4", "outside" },       { "--size 3842x2160 o.mp4", "outside" },
        { "--size 1280x721 o.mp4", "even" },        { "--size 1280 o.mp4", "not WxH" },
        { "--size 1280x720x3 o.mp4", "not WxH" },   { "--size -1280x720 o.mp4", "not WxH" },
        { "--size 99999999999x720 o.mp4", "not WxH" },
        { "--fps 25 o.mp4", "30, 50, 60 or 120" },  { "--fps 60.0 o.mp4", "30, 50, 60 or 120" },
        { "--periods 1-5 o.mp4", "2 <= A" },        { "--periods 7-6 o.mp4", "2 <= A" },
        { "--periods 2-24 o.mp4", "2 <= A" },       { "--periods 6 o.mp4", "2 <= A" },
        { "--speed 2 o.mp4", "unknown option" },    { "o.mp4 --size", "needs a value" },
        { "", "no OUTPUT" },                        { "a.mp4 b.mp4", "more than one" },
    };
    for (const auto &b : bad) {
        cap_plan p;
        char err[256] = "";
        EXPECT_FALSE(parse(b.line, &p, err)) << b.line;
        EXPECT_NE(strstr(err, b.why), nullptr) << b.line << ": " << err;
    }
}

TEST(CapturePlan, ContainerComesFromTheExtensionInAnyCase)
{
    EXPECT_EQ(cap_container_of("a.mp4"), CAP_MP4);
    EXPECT_EQ(cap_container_of("A.MKV"), CAP_MKV);
    EXPECT_EQ(cap_container_of("dir.d/show.WebM"), CAP_WEBM);
    EXPECT_EQ(cap_container_of("p.webp"), CAP_WEBP);
    EXPECT_EQ(cap_container_of("show.avi"), -1);
    EXPECT_EQ(cap_container_of("show"), -1);
    EXPECT_EQ(cap_container_of("v.mp4/show"), -1);
    EXPECT_EQ(cap_container_of("show.mp4x"), -1);
    EXPECT_EQ(cap_container_of(nullptr), -1);
}

}  // namespace
