// A folder laid over the mounted image or directory: names it holds come from it, every
// other name from the mount exactly as without it, and its handles read host files
// whatever the mount type.
#include "corefile/corefile.h"
#include "corefile/coremem.h"

#include <gtest/gtest.h>
#include <string.h>

#include "testutil_os.h"

#include <string>

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

const std::string kImage = std::string(TEST_DATA_DIR) + "/corefile/sample.dat";
const std::string kTree = std::string(TEST_DATA_DIR) + "/corefile/tree";

class Overlay : public testing::Test {
protected:
    std::string dir;
    uint32_t mem_before = 0;

    void SetUp() override
    {
        dir = tu_mkdtemp("dev_overlay_");
        ASSERT_NE(dir, "");
        mem_before = g_mem_in_use;
    }
    void TearDown() override
    {
        corefile_setoverlay(nullptr);
        corefile_closeimage();
        EXPECT_EQ(g_mem_in_use, mem_before);
        EXPECT_EQ(tu_rmtree(dir), 0);
    }
    void put(const std::string &rel, const std::string &data)
    {
        std::string path = dir + "/" + rel;
        for (size_t i = dir.size() + 1; i < path.size(); i++)
            if (path[i] == '/') tu_mkdir(path.substr(0, i));
        ASSERT_EQ(tu_writefile(path, data), 0) << path;
    }
    int mount(const std::string &path, int request)
    {
        CaptureStdout();
        int r = corefile_mountimage(path.c_str(), request);
        GetCapturedStdout();
        return r;
    }
    // The whole file as the loaders read it, and what the open printed.
    std::string slurp(const char *name, s_corefile *f, std::string *out = nullptr)
    {
        memset(f, 0, sizeof(*f));
        CaptureStdout();
        int ok = corefile_open(name, f, 0);
        std::string s = GetCapturedStdout();
        if (out) *out = s;
        if (!ok) return "<none>";
        std::string data((size_t)f->size, '\0');
        if (f->size) corefile_read(&data[0], 1, f->size, f);
        return data;
    }
    std::string slurp_closed(const char *name, std::string *out = nullptr)
    {
        s_corefile f;
        std::string d = slurp(name, &f, out);
        corefile_close(&f);
        return d;
    }
};

// Over an image: the folder's file replaces the entry of that name (any case), with
// host-file positions; other names are read from the image with the same handles and
// messages as without an overlay; removing the overlay gives the image's file back.
TEST_F(Overlay, ReplacesNamesOfAnImageAndLeavesTheRest)
{
    ASSERT_EQ(mount(kImage, 0), 1);
    std::string msg_before;
    s_corefile plain;
    std::string readme_image = slurp("readme.txt", &plain, &msg_before);
    corefile_close(&plain);
    std::string beep_msg_before;
    std::string beep_image = slurp_closed("snd/beep.raw", &beep_msg_before);
    ASSERT_NE(readme_image, "<none>");

    put("readme.txt", "from the folder\nline two\n");
    ASSERT_EQ(corefile_setoverlay((dir + "/").c_str()), 1);
    EXPECT_EQ(std::string(corefile_getoverlay()), dir);

    s_corefile f;
    std::string out;
    EXPECT_EQ(slurp("ReadMe.TXT", &f, &out), "from the folder\nline two\n");
    EXPECT_NE(out.find("found file in overlay: " + dir + "/readme.txt"), std::string::npos) << out;
    EXPECT_TRUE(corefile_fromoverlay(&f));
    EXPECT_EQ(f.index, -1);
    EXPECT_EQ(corefile_tell(&f), 25);
    // End of file as the host file reports it (as on a directory mount): set by the
    // read that runs past the end, which reads zero.
    char past = 'x';
    corefile_read(&past, 1, 1, &f);
    EXPECT_EQ(past, 0);
    EXPECT_NE(corefile_feof(&f), 0);
    corefile_seek(&f, 5, 0);  // from the file's start, not an image entry's
    EXPECT_EQ(corefile_tell(&f), 5);
    char line[64];
    corefile_gets(line, sizeof line, &f);
    EXPECT_STREQ(line, "the folder\n");
    corefile_rewind(&f);
    EXPECT_EQ(corefile_tell(&f), 0);
    EXPECT_EQ(corefile_feof(&f), 0);
    corefile_close(&f);
    EXPECT_FALSE(corefile_fromoverlay(&f));

    // A name the folder lacks: the image's entry, same bytes, same message.
    EXPECT_EQ(slurp_closed("snd/beep.raw", &out), beep_image);
    EXPECT_EQ(out, beep_msg_before);

    ASSERT_EQ(corefile_setoverlay(nullptr), 1);
    EXPECT_EQ(corefile_getoverlay(), nullptr);
    EXPECT_EQ(slurp_closed("readme.txt", &out), readme_image);
    EXPECT_EQ(out, msg_before);
}

// Over a directory mount, a file in a subfolder of the overlay replaces the mounted one.
TEST_F(Overlay, ReplacesNamesOfADirectoryMount)
{
    ASSERT_EQ(mount(kTree, 2), 1);
    std::string beep = slurp_closed("snd/beep.raw");
    ASSERT_NE(beep, "<none>");
    put("snd/beep.raw", "BEEP");
    ASSERT_EQ(corefile_setoverlay(dir.c_str()), 1);
    EXPECT_EQ(slurp_closed("snd/beep.raw"), "BEEP");

    // The whole-file load (its name joined to "/") finds the overlay's file too.
    put("readme.txt", "over");
    CaptureStdout();
    char *buf = (char *)corefile_loadbuffer("readme.txt");
    GetCapturedStdout();
    ASSERT_NE(buf, nullptr);
    EXPECT_EQ(std::string(buf, 4), "over");
    _wrap_free_dbg(buf, __FILE__, __LINE__);
}

// What the overlay does not take: folders named like a file, ".." names, more open
// files than it tracks, a folder that is not one; and the handles it gave never leak.
TEST_F(Overlay, RefusesWhatItCannotServe)
{
    ASSERT_EQ(mount(kImage, 0), 1);
    std::string readme_image = slurp_closed("readme.txt");
    put("readme.txt/inner", "x");  // a folder with the entry's name
    put("x", "outside");
    put("sub/keep", "k");
    ASSERT_EQ(corefile_setoverlay((dir + "/sub").c_str()), 1);
    EXPECT_EQ(slurp_closed("readme.txt"), readme_image);
    EXPECT_EQ(slurp_closed("../x"), "<none>");  // not in the image, not looked for above the folder
    EXPECT_EQ(slurp_closed("keep"), "k");

    // Not a folder, or missing: refused with one line, the overlay stays as it was.
    CaptureStdout();
    EXPECT_EQ(corefile_setoverlay((dir + "/x").c_str()), 0);
    EXPECT_EQ(corefile_setoverlay((dir + "/missing").c_str()), 0);
    std::string out = GetCapturedStdout();
    EXPECT_NE(out.find("overlay is not a folder: " + dir + "/x\n"), std::string::npos) << out;
    EXPECT_NE(out.find("overlay is not a folder: " + dir + "/missing\n"), std::string::npos) << out;
    EXPECT_EQ(std::string(corefile_getoverlay()), dir + "/sub");
    std::string longname(2000, 'a');
    CaptureStdout();
    EXPECT_EQ(corefile_setoverlay(longname.c_str()), 0);
    GetCapturedStdout();
    EXPECT_EQ(std::string(corefile_getoverlay()), dir + "/sub");

    // Past CF_OVERLAY_OPEN open overlay files the name comes from the mount (here: not
    // there); closing one frees its place.
    s_corefile open[CF_OVERLAY_OPEN + 1];
    for (int i = 0; i < CF_OVERLAY_OPEN; i++) {
        memset(&open[i], 0, sizeof open[i]);
        CaptureStdout();
        ASSERT_EQ(corefile_open("keep", &open[i], 0), 1) << i;
        GetCapturedStdout();
    }
    memset(&open[CF_OVERLAY_OPEN], 0, sizeof open[0]);
    CaptureStdout();
    EXPECT_EQ(corefile_open("keep", &open[CF_OVERLAY_OPEN], 0), 0);
    out = GetCapturedStdout();
    EXPECT_NE(out.find("couldn't find file: keep"), std::string::npos) << out;
    corefile_close(&open[3]);
    EXPECT_EQ(slurp_closed("keep"), "k");
    for (int i = 0; i < CF_OVERLAY_OPEN; i++)
        if (i != 3) corefile_close(&open[i]);
    // A second close of a handle does nothing, and an image handle is never taken
    // for an overlay one.
    corefile_close(&open[0]);
    s_corefile img;
    slurp("snd/beep.raw", &img);
    EXPECT_FALSE(corefile_fromoverlay(&img));
    corefile_close(&img);
}

}  // namespace
