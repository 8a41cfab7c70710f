// The image writer and the corepack tool: images they make mount and read back byte for
// byte, and the checker accepts them.
#include "corefile/corefile.h"
#include "corefile/coremem.h"
#include "corefile/corepack.h"

#include <gtest/gtest.h>
#include <ctype.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "testutil_os.h"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

std::string slurp(const std::string &path, bool *ok = nullptr)
{
    std::string s;
    FILE *f = fopen(path.c_str(), "rb");
    if (ok)
        *ok = f != nullptr;
    if (!f)
        return s;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0)
        s.append(buf, n);
    fclose(f);
    return s;
}

void spit(const std::string &path, const std::string &data)
{
    FILE *f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    fwrite(data.data(), 1, data.size(), f);
    fclose(f);
}

const char *kTree = TEST_DATA_DIR "/corefile/tree";
const char *kSample = TEST_DATA_DIR "/corefile/sample.dat";
const std::string kTool = std::string(BUILD_DIR) + "/corepack";

// Runs the tool with the arguments, output discarded, and returns its exit status.
int run(const std::vector<std::string> &args, const std::string &out = "")
{
    return tu_run(kTool, args, out);
}

// Reads a whole file of the mounted image through the file API.
std::string read_entry(const std::string &name, bool *found)
{
    s_corefile f;
    memset(&f, 0, sizeof(f));
    CaptureStdout();
    *found = corefile_open(name.c_str(), &f, 0) == 1;
    GetCapturedStdout();
    if (!*found)
        return "";
    std::string s((size_t)f.size, '\0');
    if (f.size > 0)
        corefile_read(&s[0], 1, f.size, &f);
    corefile_close(&f);
    return s;
}

int mount_quiet(const std::string &path, int request)
{
    CaptureStdout();
    int r = corefile_mountimage(path.c_str(), request);
    GetCapturedStdout();
    return r;
}


// The committed tree: host name, name in the image.
const char *kTreeFiles[][2] = {
    {"readme.txt", "readme.txt"},
    {"Gfx/Tiles.BIN", "gfx/tiles.bin"},
    {"snd/beep.raw", "snd/beep.raw"},
    {"snd/empty.raw", "snd/empty.raw"},
};

class Pack : public testing::Test {
protected:
    std::string dir;
    void SetUp() override
    {
        dir = tu_mkdtemp("corefile_pack_");
        ASSERT_NE(dir, "");
    }
    void TearDown() override
    {
        corefile_closeimage();
        EXPECT_EQ(tu_rmtree(dir), 0);
    }
};

} // namespace

TEST_F(Pack, WrittenImageReadsBackEveryFile)
{
    std::string big(70000, '\0');
    for (size_t i = 0; i < big.size(); i++)
        big[i] = (char)(i * 131 + (i >> 8));
    std::vector<std::pair<std::string, std::string>> files = {
        {"Zeta.TGA", "last by name"},
        {"gfx\\Sprites\\Ball.tga", big},
        {"/abs/lead.bin", std::string("\0\1\2\3", 4)},
        {"./dot/x", "x"},
        {"empty.bin", ""},
        {"caf\xC3\xA9.txt", "utf-8 name"},
    };
    std::vector<corepack_file> cf;
    for (auto &f : files)
        cf.push_back({f.first.c_str(), f.second.data(), (uint32_t)f.second.size()});
    std::string img = dir + "/out.dat";
    ASSERT_EQ(corepack_write(img.c_str(), cf.data(), (int)cf.size()), 1);
    EXPECT_EQ(corepack_verify(img.c_str()), 1);

    uint32_t mem = g_mem_in_use;
    ASSERT_EQ(mount_quiet(img, 0), 1);
    // Sorted by byte order, lower-cased, "/"-separated, relative.
    std::vector<std::string> want = {"abs/lead.bin", "caf\xC3\xA9.txt", "dot/x", "empty.bin",
                                     "gfx/sprites/ball.tga", "zeta.tga"};
    ASSERT_EQ(corefile_image.numfiles, want.size());
    for (size_t i = 0; i < want.size(); i++) {
        EXPECT_EQ(corefile_image.names[i], want[i]);
        EXPECT_EQ(corefile_image.hashes[i], (uint32_t)corefile_gethash(want[i].c_str()));
        if (i > 0) {
            EXPECT_GE(corefile_image.offsets[i], corefile_image.offsets[i - 1]);
        }
    }
    EXPECT_EQ(corefile_image.romsize, (uint32_t)tu_filesize(img));
    // Opened by the stored name (the file API lower-cases but does not rewrite separators),
    // and by an upper-case spelling of it.
    const char *stored[] = {"zeta.tga", "gfx/sprites/ball.tga", "abs/lead.bin", "dot/x",
                            "empty.bin", "caf\xC3\xA9.txt"};
    for (size_t i = 0; i < files.size(); i++) {
        bool found;
        EXPECT_TRUE(read_entry(stored[i], &found) == files[i].second) << stored[i];
        EXPECT_TRUE(found) << stored[i];
        std::string upper = stored[i];
        for (char &c : upper)
            c = (char)toupper((unsigned char)c);
        EXPECT_TRUE(read_entry(upper, &found) == files[i].second) << upper;
    }
    corefile_closeimage();
    EXPECT_EQ(g_mem_in_use, mem);
}

TEST_F(Pack, WriterRefusesBadInputAndLeavesNoFile)
{
    std::string img = dir + "/bad.dat";
    corepack_file dup[2] = {{"A.tga", "1", 1}, {"a.TGA", "2", 1}};
    corepack_file empty[1] = {{"/", "1", 1}};
    corepack_file nodata[1] = {{"x", nullptr, 3}};
    CaptureStdout();
    EXPECT_EQ(corepack_write(img.c_str(), dup, 2), 0);
    EXPECT_EQ(corepack_write(img.c_str(), empty, 1), 0);
    EXPECT_EQ(corepack_write(img.c_str(), nodata, 1), 0);
    EXPECT_EQ(corepack_write(img.c_str(), dup, -1), 0);
    EXPECT_EQ(corepack_write((dir + "/no/such/dir/x.dat").c_str(), dup, 1), 0);
    std::string out = GetCapturedStdout();
    EXPECT_NE(out.find("duplicate file name a.tga"), std::string::npos) << out;
    EXPECT_NE(out.find("cannot create"), std::string::npos) << out;
    EXPECT_EQ(tu_filesize(img), -1);
    EXPECT_EQ(tu_filesize(img + ".tmp"), -1);

    char name[16];
    EXPECT_EQ(corepack_normname(name, sizeof(name), "./\\A\\B.C"), 1);
    EXPECT_STREQ(name, "a/b.c");
    EXPECT_EQ(corepack_normname(name, 4, "abcd"), 0);  // does not fit
    EXPECT_EQ(corepack_normname(name, sizeof(name), "./"), 0);
}

TEST_F(Pack, CommittedSampleMatchesTheTreeAndTheWriter)
{
    // The sample was packed by the tool from the tree; packing the tree again must give the
    // same bytes (stable order and layout), and every file must read back.
    std::string img = dir + "/again.dat";
    ASSERT_EQ(run({"pack", kTree, img}), 0);
    bool ok1, ok2;
    std::string again = slurp(img, &ok1), sample = slurp(kSample, &ok2);
    ASSERT_TRUE(ok1 && ok2);
    EXPECT_EQ(again, sample);

    ASSERT_EQ(mount_quiet(kSample, 0), 1);
    EXPECT_EQ(corefile_image.numfiles, 4u);
    for (auto &f : kTreeFiles) {
        bool found;
        std::string want = slurp(std::string(kTree) + "/" + f[0]);
        EXPECT_EQ(read_entry(f[1], &found), want) << f[1];
        EXPECT_TRUE(found) << f[1];
    }
}

TEST_F(Pack, ToolListsExtractsVerifiesAndFailsLoudly)
{
    EXPECT_EQ(run({"verify", kSample}), 0);
    std::string listing = dir + "/list.txt";
    ASSERT_EQ(run({"list", kSample}, listing), 0);
    std::string text = slurp(listing);
    // Text lines: Windows ends them with "\r\n".
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    EXPECT_NE(text.find("gfx/tiles.bin"), std::string::npos) << text;
    EXPECT_NE(text.find(" 300\n"), std::string::npos) << text;

    std::string out = dir + "/out";
    ASSERT_EQ(run({"extract", kSample, out}), 0);
    for (auto &f : kTreeFiles) {
        bool ok;
        EXPECT_EQ(slurp(out + "/" + f[1], &ok), slurp(std::string(kTree) + "/" + f[0])) << f[1];
        EXPECT_TRUE(ok) << f[1];
    }

    spit(dir + "/junk.dat", "COREjunk");
    EXPECT_NE(run({"verify", dir + "/junk.dat"}), 0);
    EXPECT_NE(run({"list", dir + "/missing.dat"}), 0);
    EXPECT_NE(run({"pack", dir + "/missing", dir + "/x.dat"}), 0);
    EXPECT_NE(run({}), 0);
    EXPECT_NE(run({"frobnicate", "a", "b"}), 0);
    EXPECT_NE(run({"verify"}), 0);
}

TEST_F(Pack, ExtractRefusesNamesThatLeaveTheFolder)
{
    corepack_file evil[1] = {{"x/../../escape.txt", "gotcha", 6}};
    std::string img = dir + "/evil.dat";
    ASSERT_EQ(corepack_write(img.c_str(), evil, 1), 1);
    ASSERT_EQ(tu_mkdir(dir + "/in"), 0);
    EXPECT_NE(run({"extract", img, dir + "/in/out"}), 0);
    EXPECT_EQ(tu_filesize(dir + "/escape.txt"), -1);
    EXPECT_EQ(tu_filesize(dir + "/in/escape.txt"), -1);
}

TEST_F(Pack, AppendedImageMountsFromTheCombinedFile)
{
    std::string host = dir + "/program";
    std::string prefix(12345, 'P');
    spit(host, prefix);
    ASSERT_EQ(run({"append", kSample, host}), 0);
    EXPECT_EQ(run({"verify", host}), 0);
    std::string combined = slurp(host);
    std::string sample = slurp(kSample);
    ASSERT_EQ(combined.size(), prefix.size() + sample.size() + 4);
    EXPECT_EQ(combined.substr(0, prefix.size()), prefix);  // the host file is untouched
    EXPECT_EQ(getint((const unsigned char *)combined.data() + combined.size() - 4), 12345u);

    ASSERT_EQ(mount_quiet(host, 1), 1);
    EXPECT_EQ(corefile_image.romsize, (uint32_t)combined.size() - 4);
    for (auto &f : kTreeFiles) {
        bool found;
        EXPECT_EQ(read_entry(f[1], &found), slurp(std::string(kTree) + "/" + f[0])) << f[1];
        EXPECT_TRUE(found);
    }
    corefile_closeimage();

    // A failed append (not an image) leaves the file as it was.
    spit(dir + "/junk.dat", "not an image");
    EXPECT_NE(run({"append", dir + "/junk.dat", host}), 0);
    EXPECT_EQ(slurp(host), combined);

    // The combined file can itself be appended: the image is found through its trailer.
    std::string host2 = dir + "/program2";
    spit(host2, "tiny");
    ASSERT_EQ(run({"append", host, host2}), 0);
    ASSERT_EQ(mount_quiet(host2, 1), 1);
    bool found;
    EXPECT_EQ(read_entry("readme.txt", &found), slurp(std::string(kTree) + "/readme.txt"));
}
