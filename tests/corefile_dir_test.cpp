// Mounting a host directory: the walk that records its files, and the file API over it.
#include "corefile/corefile.h"
#include "corefile/coremem.h"
#include "corefile/dirent.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include "testutil_os.h"

#include <algorithm>
#include <string>
#include <vector>

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

std::string cwd() { return tu_getcwd(); }

class CoreDir : public testing::Test {
protected:
    std::string root;
    uint32_t mem_before = 0;

    void SetUp() override
    {
        root = tu_mkdtemp("corefile_dir_");
        ASSERT_NE(root, "");
        mem_before = g_mem_in_use;
    }
    void TearDown() override
    {
        corefile_closeimage();
        EXPECT_EQ(g_mem_in_use, mem_before);
        EXPECT_EQ(tu_rmtree(root), 0);
    }
    void put(const std::string &rel, const std::string &data)
    {
        std::string path = root + "/" + rel;
        for (size_t i = root.size() + 1; i < path.size(); i++)
            if (path[i] == '/')
                tu_mkdir(path.substr(0, i));
        ASSERT_EQ(tu_writefile(path, data), 0) << path;
    }
    std::vector<std::string> names()
    {
        std::vector<std::string> v;
        for (uint32_t i = 0; i < corefile_image.numfiles; i++)
            v.push_back(corefile_image.names[i]);
        std::sort(v.begin(), v.end());
        return v;
    }
    int mount(const std::string &path, std::string *out = nullptr)
    {
        CaptureStdout();
        int r = corefile_mountimage(path.c_str(), 2);
        std::string s = GetCapturedStdout();
        if (out)
            *out = s;
        return r;
    }
};

} // namespace

TEST_F(CoreDir, WalkRecordsRelativeNamesAndRestoresTheWorkingDirectory)
{
    put("a.tga", "AAAA");
    put("sub/b.tga", "BB");
    put("sub/deeper/c.txt", "C");
    std::string before = cwd();
    std::string out;
    ASSERT_EQ(mount(root, &out), 1);
    EXPECT_EQ(cwd(), before);  // an absolute path is walked and left again
    EXPECT_EQ(corefile_mounttype, 2);
    EXPECT_EQ(corefile_image.numfiles, 3u);
    EXPECT_EQ(names(), (std::vector<std::string>{"a.tga", "sub/b.tga", "sub/deeper/c.txt"}));
    EXPECT_NE(out.find("Found 3 files\n"), std::string::npos) << out;
    // "/tmp/corefile_dir_x": one "/" between its second and second-last characters.
    EXPECT_NE(out.find("path has 2 sublevels\n"), std::string::npos) << out;
    EXPECT_STREQ(corefile_getpath(), "/");
    EXPECT_STREQ((const char *)corefile_image.base, root.c_str());

    // A relative path from the folder above.
    corefile_closeimage();
    ASSERT_EQ(tu_chdir("/tmp"), 0);
    std::string tmp = cwd();  // "/tmp", or how the system spells it
    std::string rel = root.substr(5);
    ASSERT_EQ(mount(rel), 1);
    EXPECT_EQ(cwd(), tmp);
    EXPECT_EQ(names(), (std::vector<std::string>{"a.tga", "sub/b.tga", "sub/deeper/c.txt"}));
    ASSERT_EQ(tu_chdir(before), 0);
}

TEST_F(CoreDir, MissingDirectoryMountsEmpty)
{
    std::string out;
    ASSERT_EQ(mount(root + "/nothing", &out), 1);
    EXPECT_EQ(out, "Loading resource image: " + root + "/nothing\nerror reading directory\n"
                   "Found 0 files\nerror reading directory\n");
    EXPECT_EQ(corefile_image.numfiles, 0u);
}

TEST_F(CoreDir, OpenReadSeekAndEndOfFileOnHostFiles)
{
    put("sub/data.bin", "0123456789");
    ASSERT_EQ(mount(root), 1);
    s_corefile f;
    memset(&f, 0, sizeof(f));
    CaptureStdout();
    ASSERT_EQ(corefile_open("SUB/Data.BIN", &f, 0), 1);  // lower-cased, no message
    // A failed open clears the record's file (a copy, so the open one can be closed:
    // an open file cannot be removed on Windows).
    s_corefile g = f;
    EXPECT_EQ(corefile_open("sub/none.bin", &g, 0), 0);
    EXPECT_EQ(GetCapturedStdout(), "");
    EXPECT_EQ(g.fp, nullptr);
    corefile_close(&f);
    ASSERT_EQ(corefile_open("sub/data.bin", &f, 0), 1);
    EXPECT_EQ(corefile_fsize(&f), 10);
    EXPECT_EQ(corefile_tell(&f), 0);
    char buf[16];
    corefile_read(buf, 2, 3, &f);
    EXPECT_EQ(std::string(buf, 6), "012345");
    EXPECT_EQ(corefile_tell(&f), 6);
    corefile_seek(&f, 2, 0);
    corefile_seek(&f, 1, 1);
    corefile_seek(&f, 7, 9);  // unknown origin
    corefile_read(buf, 1, 2, &f);
    EXPECT_EQ(std::string(buf, 2), "34");
    EXPECT_EQ(corefile_feof(&f), 0);
    memset(buf, 0x55, sizeof(buf));
    corefile_read(buf, 1, 8, &f);  // 5 bytes left: the rest reads as zero
    EXPECT_EQ(std::string(buf, 5), "56789");
    EXPECT_EQ(std::string(buf + 5, 3), std::string(3, '\0'));
    EXPECT_EQ(corefile_tell(&f), 13);
    EXPECT_NE(corefile_feof(&f), 0);
    corefile_rewind(&f);
    EXPECT_EQ(corefile_tell(&f), 0);
    corefile_gets(buf, sizeof(buf), &f);
    EXPECT_STREQ(buf, "0123456789");
    EXPECT_EQ(corefile_tell(&f), 10);
    corefile_close(&f);
    EXPECT_EQ(f.fp, nullptr);
    corefile_close(&f);  // a second close does nothing
}

TEST_F(CoreDir, WriteAndWholeFileCalls)
{
    put("keep.txt", "x");
    ASSERT_EQ(mount(root), 1);
    s_corefile f;
    memset(&f, 0, sizeof(f));
    ASSERT_EQ(corefile_open("out.bin", &f, 1), 1);
    corefile_write("abcdef", 2, 3, &f);
    EXPECT_EQ(corefile_tell(&f), 6);
    corefile_seek(&f, 1, 0);
    corefile_write("Z", 1, 1, &f);
    corefile_close(&f);
    ASSERT_EQ(corefile_open("out.bin", &f, 0), 1);
    char buf[8];
    corefile_read(buf, 1, 6, &f);
    EXPECT_EQ(std::string(buf, 6), "aZcdef");
    corefile_close(&f);

    // The whole-file calls join "/" + name: the host path gets a harmless "//".
    CaptureStdout();
    corefile_savebuffer("Saved.DAT", "hello", 5);
    char *p = (char *)corefile_loadbuffer("saved.dat");
    EXPECT_EQ(GetCapturedStdout(), "");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::string(p, 5), "hello");
    _wrap_free_dbg(p, __FILE__, __LINE__);
    EXPECT_EQ(tu_filesize(root + "/saved.dat"), 5);
    EXPECT_EQ(corefile_loadbuffer("missing.dat"), nullptr);

    // Names that would not fit the 256-byte join are refused, not overrun.
    std::string huge(300, 'h');
    CaptureStdout();
    EXPECT_EQ(corefile_loadbuffer(huge.c_str()), nullptr);
    corefile_savebuffer(huge.c_str(), "x", 1);
    EXPECT_NE(GetCapturedStdout().find("name too long"), std::string::npos);
}

TEST_F(CoreDir, LinkLoopsAndOverlongPathsAreSkipped)
{
    put("top.txt", "t");
    put("sub/inner.txt", "i");
    ASSERT_EQ(tu_symlink("..", root + "/sub/up"), 0);     // back to the top
    ASSERT_EQ(tu_symlink("sub", root + "/alias"), 0);     // a second way into sub
    std::string a(200, 'a'), b(100, 'b');
    put(a + "/" + b + "/far.txt", "far");  // "aaa.../bbb.../" is longer than 255
    put(a + "/near.txt", "n");
    std::string before = cwd();
    std::string out;
    ASSERT_EQ(mount(root, &out), 1);
    EXPECT_EQ(cwd(), before);
    EXPECT_EQ(names(), (std::vector<std::string>{a + "/near.txt", "alias/inner.txt", "sub/inner.txt",
                                                 "top.txt"}));
    EXPECT_NE(out.find("path too long, skipped"), std::string::npos) << out;
    for (uint32_t i = 0; i < corefile_image.numfiles; i++)
        EXPECT_LT(strlen(corefile_image.names[i]), 256u);
}

TEST_F(CoreDir, SecondPassStoresNoMoreThanTheFirstCounted)
{
    put("one.txt", "1");
    put("two.txt", "2");
    put("three.txt", "3");
    ASSERT_EQ(mount(root), 1);
    ASSERT_EQ(corefile_image.numfiles, 3u);
    // Walk again in filling mode with room for two names only.
    for (uint32_t i = 0; i < corefile_image.numfiles; i++) {
        _wrap_free_dbg(corefile_image.names[i], __FILE__, __LINE__);
        corefile_image.names[i] = nullptr;
    }
    corefile_image.numfiles = 0;
    corefile_image.slots = 2;
    diroffset = 0;
    CaptureStdout();
    corefile_opendir(root.c_str(), 1);
    GetCapturedStdout();
    EXPECT_EQ(corefile_image.numfiles, 2u);
    EXPECT_EQ(corefile_image.names[2], nullptr);
}
