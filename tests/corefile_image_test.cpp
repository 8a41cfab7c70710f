// The CORE image mount and the file API over it, the image listing and the current
// directory. Images are built by the writer or byte by byte, in a temp folder.
#include "corefile/corefile.h"
#include "corefile/coremem.h"
#include "corefile/corepack.h"
#include "corefile/dirent.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "testutil_os.h"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

typedef std::vector<unsigned char> Bytes;

void put32(Bytes &b, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        b.push_back((unsigned char)(v >> (8 * i)));
}

struct RawEntry {
    std::string name;
    uint32_t offset;
};

// An image whose header fields are given as they stand (hashes computed from the names).
Bytes raw_image(const std::vector<RawEntry> &entries, uint32_t romsize, const Bytes &data)
{
    Bytes b = {'C', 'O', 'R', 'E'};
    put32(b, (uint32_t)entries.size());
    put32(b, romsize);
    for (const RawEntry &e : entries) {
        put32(b, (uint32_t)e.name.size());
        put32(b, (uint32_t)corefile_gethash(e.name.c_str()));
        b.insert(b.end(), e.name.begin(), e.name.end());
        put32(b, e.offset);
    }
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

struct File {
    std::string name;
    std::string data;
};

Bytes build(const std::vector<File> &files, uint32_t base = 0)
{
    std::vector<corepack_file> cf;
    for (const File &f : files)
        cf.push_back({f.name.c_str(), f.data.data(), (uint32_t)f.data.size()});
    uint32_t size = 0;
    unsigned char *img = corepack_build(cf.data(), (int)cf.size(), base, &size);
    EXPECT_NE(img, nullptr);
    Bytes b(img, img + size);
    free(img);
    return b;
}

class CoreImage : public testing::Test {
protected:
    std::string dir;
    uint32_t mem_before = 0;

    void SetUp() override
    {
        dir = tu_mkdtemp("corefile_image_");
        ASSERT_NE(dir, "");
        mem_before = g_mem_in_use;
    }
    void TearDown() override
    {
        corefile_closeimage();
        EXPECT_EQ(g_mem_in_use, mem_before) << "the mount left memory allocated";
        EXPECT_EQ(tu_rmtree(dir), 0);
    }
    std::string write(const std::string &name, const Bytes &b)
    {
        std::string path = dir + "/" + name;
        FILE *f = fopen(path.c_str(), "wb");
        EXPECT_NE(f, nullptr);
        if (f) {
            if (!b.empty())
                fwrite(b.data(), 1, b.size(), f);
            fclose(f);
        }
        return path;
    }
    // Mounts, returning the result and the printed lines.
    int mount(const std::string &path, int request, std::string *out = nullptr)
    {
        CaptureStdout();
        int r = corefile_mountimage(path.c_str(), request);
        std::string s = GetCapturedStdout();
        if (out)
            *out = s;
        return r;
    }
    int open(const char *name, s_corefile *f, std::string *out = nullptr)
    {
        CaptureStdout();
        int r = corefile_open(name, f, 0);
        std::string s = GetCapturedStdout();
        if (out)
            *out = s;
        return r;
    }
};

// The files of the listing examples, with sizes that tell them apart.
const std::vector<File> kListing = {
    {"gfx/a.tga", std::string(11, 'a')},
    {"gfx/b.tga", std::string(22, 'b')},
    {"logo.tga", std::string(33, 'l')},
    {"music.wav", std::string(44, 'm')},
};

} // namespace

TEST(CoreHash, SumsSignedBytes)
{
    EXPECT_EQ(corefile_gethash("abc"), 294);
    EXPECT_EQ(corefile_gethash(""), 0);
    EXPECT_EQ(corefile_gethash("\xE9"), -23);
    EXPECT_EQ(corefile_gethash("a\xE9"), 97 - 23);
    EXPECT_EQ(corefile_gethash("\x80\xFF"), -129);

    const unsigned char le[4] = {0x78, 0x56, 0x34, 0xF2};
    EXPECT_EQ(getint(le), 0xF2345678u);

    char out[8] = "xxxxxxx";
    file_downcase(out, "AbZ@[z\xC9", 7);
    EXPECT_EQ(std::string(out, 7), "abz@[z\xC9");  // only ASCII A-Z change
}

TEST_F(CoreImage, MountPrintsHeaderAndSetsRootPath)
{
    std::string img = write("a.dat", build(kListing));
    std::string out;
    ASSERT_EQ(mount(img, 0, &out), 1);
    EXPECT_EQ(out, "Loading resource image: " + img + "\nloading from file\nnumfiles: 4\nromsize: " +
                       std::to_string(12 + 4 * 12 + 9 + 9 + 8 + 9 + 110) + "\n");
    ASSERT_NE(corefile_getpath(), nullptr);
    EXPECT_STREQ(corefile_getpath(), "/");
    EXPECT_EQ(corefile_mounttype, 0);
    EXPECT_NE(g_fp, nullptr);
}

TEST_F(CoreImage, RefusesWrongMagicSilentlyAndUnknownRequests)
{
    Bytes b = build(kListing);
    b[0] = 'X';
    std::string img = write("bad.dat", b);
    std::string out;
    EXPECT_EQ(mount(img, 0, &out), 0);
    EXPECT_EQ(out, "Loading resource image: " + img + "\nloading from file\n");
    EXPECT_EQ(g_fp, nullptr);  // the refused image is closed again

    EXPECT_EQ(mount(dir + "/missing.dat", 0, &out), 0);
    EXPECT_EQ(out, "Loading resource image: " + dir + "/missing.dat\ncould not open image: " + dir +
                       "/missing.dat\n");

    std::string good = write("good.dat", build(kListing));
    EXPECT_EQ(mount(good, 7, &out), 0);
    EXPECT_EQ(out, "Loading resource image: " + good + "\n");
}

TEST_F(CoreImage, EmptyImageMountsAndFindsNothing)
{
    std::string img = write("empty.dat", build({}));
    ASSERT_EQ(mount(img, 0), 1);
    s_corefile f;
    memset(&f, 0, sizeof(f));
    std::string out;
    EXPECT_EQ(open("anything.tga", &f, &out), 0);
    EXPECT_EQ(out, "couldn't find file: anything.tga\n");
}

TEST_F(CoreImage, SizesComeFromNextOffsetOrRomsize)
{
    // Three entries: "one" 5 bytes, "two" 0 bytes (same offset as "three"), "three" to romsize.
    uint32_t dirend = 12 + 3 * 12 + 3 + 3 + 5;
    Bytes data = {'1', '2', '3', '4', '5', 'x', 'y'};
    std::string img = write("sizes.dat",
                            raw_image({{"one", dirend}, {"two", dirend + 5}, {"three", dirend + 5}},
                                      dirend + 7, data));
    ASSERT_EQ(mount(img, 0), 1);
    s_corefile f;
    ASSERT_EQ(open("one", &f), 1);
    EXPECT_EQ(corefile_fsize(&f), 5);
    ASSERT_EQ(open("two", &f), 1);
    EXPECT_EQ(f.size, 0);
    EXPECT_EQ(corefile_feof(&f), 1);
    ASSERT_EQ(open("three", &f), 1);
    EXPECT_EQ(f.size, 2);
    char buf[2];
    corefile_read(buf, 1, 2, &f);
    EXPECT_EQ(std::string(buf, 2), "xy");
}

TEST_F(CoreImage, OpenIsCaseInsensitiveAndReportsTheOffset)
{
    std::vector<File> files = {{"font_heat.tga", "HEAT"}, {"other.tga", "OTHER"}};
    Bytes b = build(files);
    std::string img = write("fonts.dat", b);
    ASSERT_EQ(mount(img, 0), 1);
    s_corefile f;
    memset(&f, 0, sizeof(f));
    std::string out;
    ASSERT_EQ(open("Font_Heat.TGA", &f, &out), 1);
    EXPECT_EQ(f.offset, (int32_t)(b.size() - 9));
    EXPECT_EQ(out, "found file at offset: " + std::to_string(f.offset) + "\n");
    EXPECT_EQ(f.size, 4);
    EXPECT_EQ(f.fp, nullptr);
    EXPECT_EQ(f.index, 0);
    EXPECT_EQ(f.hash, corefile_gethash("font_heat.tga"));

    s_corefile g = f;
    EXPECT_EQ(open("Missing/File.TGA", &g, &out), 0);
    EXPECT_EQ(out, "couldn't find file: missing/file.tga\n");
    EXPECT_EQ(g.offset, f.offset);  // handle left as it was, apart from its hash
    EXPECT_EQ(g.hash, corefile_gethash("missing/file.tga"));

    // A leading "/" is not removed, so it does not match an image name.
    EXPECT_EQ(open("/font_heat.tga", &g, &out), 0);
}

TEST_F(CoreImage, NamesMatchByHashAndPrefix)
{
    // "ab" is a prefix of "ab\x01\xFF" and both bytes sum to zero: same hash, so it matches.
    // "ab" against "abc" differs in hash and is not found.
    std::string img = write("prefix.dat", build({{"abc", "1"}, {"ab\x01\xFF", "2"}}));
    ASSERT_EQ(mount(img, 0), 1);
    s_corefile f;
    ASSERT_EQ(open("ab", &f), 1);
    char c = 0;
    corefile_read(&c, 1, 1, &f);
    EXPECT_EQ(c, '2');
    EXPECT_EQ(open("a", &f), 0);
}

TEST_F(CoreImage, ReadTellSeekFeofAndRewind)
{
    std::string first(30, '\0'), second = "NEXTENTRY";
    for (int i = 0; i < 30; i++)
        first[i] = (char)('A' + i % 26);
    std::string img = write("rw.dat", build({{"a.bin", first}, {"b.bin", second}}));
    ASSERT_EQ(mount(img, 0), 1);
    s_corefile f;
    ASSERT_EQ(open("a.bin", &f), 1);
    int start = corefile_tell(&f);
    EXPECT_EQ(start, (int)corefile_image.offsets[0]);  // absolute position in the image

    uint16_t words[10];
    corefile_read(words, 2, 10, &f);
    EXPECT_EQ(memcmp(words, first.data(), 20), 0);
    EXPECT_EQ(corefile_tell(&f), start + 20);
    EXPECT_EQ(corefile_feof(&f), 0);
    corefile_read(words, 2, 4, &f);
    EXPECT_EQ(corefile_tell(&f), start + 28);
    EXPECT_EQ(corefile_feof(&f), 0);
    corefile_read(words, 1, 2, &f);
    EXPECT_EQ(corefile_feof(&f), 1);  // exactly at size

    // Reads run on into the next entry.
    char tail[6];
    corefile_seek(&f, 26, 0);
    corefile_read(tail, 1, 6, &f);
    EXPECT_EQ(std::string(tail, 6), first.substr(26) + "NE");

    corefile_seek(&f, 0, 0);
    EXPECT_EQ(corefile_tell(&f), start);
    corefile_seek(&f, 5, 1);
    corefile_seek(&f, -2, 1);
    EXPECT_EQ(corefile_tell(&f), start + 3);
    corefile_seek(&f, 100, 2);  // unknown origin
    EXPECT_EQ(corefile_tell(&f), start + 3);
    corefile_read(tail, 1, 1, &f);
    EXPECT_EQ(tail[0], first[3]);

    corefile_rewind(&f);
    EXPECT_EQ(corefile_tell(&f), start);

    // Writing into an image does nothing, not even move the position.
    corefile_write("zz", 1, 2, &f);
    EXPECT_EQ(corefile_tell(&f), start);

    corefile_close(&f);
    EXPECT_EQ(f.offset, 0);
    EXPECT_EQ(f.index, 0);
    EXPECT_NE(g_fp, nullptr);  // the image stays open
}

TEST_F(CoreImage, HandlesShareTheImageFileInTurn)
{
    std::string img = write("two.dat", build({{"x", "xxxxxx"}, {"y", "yyyyyy"}}));
    ASSERT_EQ(mount(img, 0), 1);
    s_corefile a, b;
    ASSERT_EQ(open("x", &a), 1);
    ASSERT_EQ(open("y", &b), 1);
    char ca[3], cb[3];
    corefile_read(ca, 1, 3, &a);
    corefile_read(cb, 1, 3, &b);
    corefile_read(ca, 1, 3, &a);
    EXPECT_EQ(std::string(ca, 3), "xxx");
    EXPECT_EQ(std::string(cb, 3), "yyy");
    EXPECT_EQ(corefile_feof(&a), 1);
    EXPECT_EQ(corefile_feof(&b), 0);
}

TEST_F(CoreImage, ReadingPastTheFileGivesZerosAndStillAdvances)
{
    std::string img = write("end.dat", build({{"last", "abc"}}));
    ASSERT_EQ(mount(img, 0), 1);
    s_corefile f;
    ASSERT_EQ(open("last", &f), 1);
    char buf[8];
    memset(buf, 0x7F, sizeof(buf));
    corefile_read(buf, 4, 2, &f);
    EXPECT_EQ(std::string(buf, 3), "abc");
    for (int i = 3; i < 8; i++)
        EXPECT_EQ(buf[i], 0) << "byte " << i;
    EXPECT_EQ(corefile_tell(&f), (int)corefile_image.offsets[0] + 8);

    // A position before the file (negative) reads nothing but zeros.
    corefile_seek(&f, -1000, 0);
    memset(buf, 0x7F, sizeof(buf));
    corefile_read(buf, 1, 8, &f);
    for (int i = 0; i < 8; i++)
        EXPECT_EQ(buf[i], 0);
}

TEST_F(CoreImage, GetsReadsLinesAcrossTheEntry)
{
    std::string img = write("lines.dat", build({{"a.txt", "one\ntwo\n"}, {"b.txt", "three\n"}}));
    ASSERT_EQ(mount(img, 0), 1);
    s_corefile f;
    ASSERT_EQ(open("a.txt", &f), 1);
    int start = f.offset;
    char line[16];
    corefile_gets(line, sizeof(line), &f);
    EXPECT_STREQ(line, "one\n");
    EXPECT_EQ(corefile_tell(&f), start + 4);
    corefile_gets(line, 3, &f);  // at most size - 1 bytes
    EXPECT_STREQ(line, "tw");
    corefile_gets(line, sizeof(line), &f);
    EXPECT_STREQ(line, "o\n");
    EXPECT_EQ(corefile_feof(&f), 1);
    corefile_gets(line, sizeof(line), &f);  // not limited to the entry
    EXPECT_STREQ(line, "three\n");
    corefile_gets(line, sizeof(line), &f);  // end of the host file
    EXPECT_STREQ(line, "");
}

TEST_F(CoreImage, AppendedImageReadsItsStartFromTheTrailer)
{
    std::vector<File> files = {{"data/one.bin", "first file"}, {"two.bin", "second"}};
    Bytes host(1000, 0x90);
    Bytes img = build(files, 1000);
    host.insert(host.end(), img.begin(), img.end());
    put32(host, 1000);
    std::string path = write("prog.exe", host);
    std::string out;
    ASSERT_EQ(mount(path, 1, &out), 1);
    EXPECT_NE(out.find("loading from executable\nnumfiles: 2\n"), std::string::npos) << out;
    s_corefile f;
    ASSERT_EQ(open("DATA/ONE.BIN", &f), 1);
    EXPECT_GT(f.offset, 1000);
    char buf[16];
    corefile_read(buf, 1, f.size, &f);
    EXPECT_EQ(std::string(buf, f.size), "first file");
    ASSERT_EQ(open("two.bin", &f), 1);
    corefile_read(buf, 1, f.size, &f);
    EXPECT_EQ(std::string(buf, f.size), "second");
}

TEST_F(CoreImage, MountingAgainReplacesThePreviousImage)
{
    std::string a = write("a.dat", build({{"only_a", "A"}}));
    std::string b = write("b.dat", build({{"only_b", "B"}}));
    ASSERT_EQ(mount(a, 0), 1);
    ASSERT_EQ(mount(b, 0), 1);
    s_corefile f;
    EXPECT_EQ(open("only_a", &f), 0);
    EXPECT_EQ(open("only_b", &f), 1);
    // TearDown checks that closing once returns all memory of both mounts.
}

TEST(CoreChdir, FollowsTheDirectorySequenceAndRefusesOverlongPaths)
{
    std::string tmp = tu_mkdtemp("corefile_chdir_");
    ASSERT_NE(tmp, "");
    std::string img = tmp + "/c.dat";
    ASSERT_EQ(corepack_write(img.c_str(), nullptr, 0), 1);
    CaptureStdout();
    ASSERT_EQ(corefile_mountimage(img.c_str(), 0), 1);
    GetCapturedStdout();

    struct { const char *dir, *path, *printed; } steps[] = {
        {"gfx", "/gfx/", "localpath = /gfx/\n"},
        {"sprites", "/gfx/sprites/", "localpath = /gfx/sprites/\n"},
        {".", "/gfx/sprites/", ""},
        {"..", "/gfx/", "localpath = /gfx/\n"},
        {"..", "/", "localpath = /\n"},
        {"..", "/", "localpath = /\n"},
        {"/snd", "/snd/", "localpath = /snd/\n"},
        {"\\win\\", "\\win\\/", "localpath = \\win\\/\n"},
        {"..", "\\win/", "localpath = \\win/\n"},
        {"/", "/", "localpath = /\n"},
        {"a/b/", "/a/b/", "localpath = /a/b/\n"},
    };
    for (auto s : steps) {
        CaptureStdout();
        corefile_chdir(s.dir);
        EXPECT_EQ(GetCapturedStdout(), s.printed) << s.dir;
        EXPECT_STREQ(corefile_getpath(), s.path) << s.dir;
    }

    // 250 characters fit ("/a/b/" + 250 + "/" = 256 with the NUL would not).
    std::string longname(250, 'n');
    CaptureStdout();
    corefile_chdir(longname.c_str());
    std::string out = GetCapturedStdout();
    EXPECT_NE(out.find("path too long"), std::string::npos) << out;
    EXPECT_STREQ(corefile_getpath(), "/a/b/");
    std::string fits(249, 'n');
    CaptureStdout();
    corefile_chdir(("/" + fits).c_str());  // "/" + 249 + "/" = 251 characters
    GetCapturedStdout();
    EXPECT_EQ(std::string(corefile_getpath()), "/" + fits + "/");
    CaptureStdout();
    corefile_chdir("xxx");  // 255 characters: the most that fits
    EXPECT_EQ(strlen(corefile_getpath()), 255u);
    corefile_chdir("y");  // 257: refused
    out = GetCapturedStdout();
    EXPECT_EQ(strlen(corefile_getpath()), 255u);
    EXPECT_NE(out.find("path too long"), std::string::npos) << out;

    corefile_closeimage();
    EXPECT_EQ(corefile_getpath(), nullptr);
    corefile_chdir("gfx");  // nothing mounted: nothing happens
    EXPECT_EQ(tu_rmtree(tmp), 0);
}

TEST_F(CoreImage, WholeFileCallsJoinTheLocalPath)
{
    std::string img = write("w.dat", build({{"logo.tga", "LOGO"}}));
    ASSERT_EQ(mount(img, 0), 1);
    // The joined name carries the path's leading "/", which no image name has.
    CaptureStdout();
    void *p = corefile_loadbuffer("logo.tga");
    corefile_savebuffer("logo.tga", "abcd", 4);
    std::string out = GetCapturedStdout();
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(out, "couldn't find file: /logo.tga\ncouldn't find file: /logo.tga\n");

    // With an empty local path the name matches and the whole entry comes back.
    corefile_localpath[0] = 0;
    CaptureStdout();
    char *buf = (char *)corefile_loadbuffer("LOGO.TGA");
    GetCapturedStdout();
    ASSERT_NE(buf, nullptr);
    EXPECT_EQ(std::string(buf, 4), "LOGO");
    _wrap_free_dbg(buf, __FILE__, __LINE__);
}

TEST_F(CoreImage, ListsTheRootWithDirectoriesFirst)
{
    std::string img = write("l.dat", build(kListing));
    ASSERT_EQ(mount(img, 0), 1);
    CaptureStdout();
    corefile_readdir("*.tga");
    std::string out = GetCapturedStdout();
    EXPECT_EQ(out, "extension = .tga, length: 4\ndir is root\n- ReadDIR completed!\n");
    ASSERT_EQ(corefile_numfiles, 2);
    EXPECT_STREQ(corefile_filelist[0].display, "[gfx]");
    EXPECT_STREQ(corefile_filelist[0].name, "gfx");
    EXPECT_EQ(corefile_filelist[0].isdir, 1);
    EXPECT_EQ(corefile_filelist[0].size, 0);
    EXPECT_STREQ(corefile_filelist[1].display, "logo.tga");
    EXPECT_STREQ(corefile_filelist[1].name, "logo.tga");
    EXPECT_EQ(corefile_filelist[1].size, 33);
    EXPECT_EQ(corefile_filelist[1].isdir, 0);

    CaptureStdout();
    corefile_readdir(".*");
    GetCapturedStdout();
    ASSERT_EQ(corefile_numfiles, 3);
    EXPECT_STREQ(corefile_filelist[0].display, "[gfx]");
    EXPECT_STREQ(corefile_filelist[1].display, "logo.tga");
    EXPECT_STREQ(corefile_filelist[2].display, "music.wav");
    EXPECT_EQ(corefile_filelist[2].size, 44);

    // The extension compares case-sensitively: only the directory is left.
    CaptureStdout();
    corefile_readdir(".TGA");
    GetCapturedStdout();
    ASSERT_EQ(corefile_numfiles, 1);
    EXPECT_EQ(corefile_filelist[0].isdir, 1);
}

TEST_F(CoreImage, ListsASubdirectoryWithParentEntry)
{
    std::string img = write("l.dat", build(kListing));
    ASSERT_EQ(mount(img, 0), 1);
    CaptureStdout();
    corefile_chdir("gfx");
    corefile_readdir(".tga");
    std::string out = GetCapturedStdout();
    EXPECT_EQ(out, "localpath = /gfx/\nextension = .tga, length: 4\n- ReadDIR completed!\n");
    ASSERT_EQ(corefile_numfiles, 3);
    EXPECT_STREQ(corefile_filelist[0].display, "[..]");
    EXPECT_STREQ(corefile_filelist[0].name, "..");
    EXPECT_STREQ(corefile_filelist[1].display, "a.tga");
    EXPECT_STREQ(corefile_filelist[1].name, "gfx/a.tga");
    EXPECT_EQ(corefile_filelist[1].size, 11);
    EXPECT_STREQ(corefile_filelist[2].display, "b.tga");
    EXPECT_EQ(corefile_filelist[2].size, 22);
    EXPECT_EQ(corefile_numdirs, 0);  // the collected names are released
}

TEST_F(CoreImage, ListingStopsWhenTheListIsFullAndClipsLongExtensions)
{
    // One file, two levels down: in "/d/" the list needs "[..]" and "[e]" but has one slot.
    std::string img = write("one.dat", build({{"d/e/f.txt", "f"}}));
    ASSERT_EQ(mount(img, 0), 1);
    CaptureStdout();
    corefile_chdir("d");
    corefile_readdir(".*");
    corefile_readdir("x.averyveryverylongextension");
    std::string out = GetCapturedStdout();
    ASSERT_EQ(corefile_numfiles, 1);
    EXPECT_STREQ(corefile_filelist[0].display, "[..]");
    EXPECT_NE(out.find("extension = .averyveryveryl, length: 15\n"), std::string::npos) << out;

    // No "." in the pattern: an empty extension, which every name ends with.
    CaptureStdout();
    corefile_chdir("e");
    corefile_readdir("none");
    out = GetCapturedStdout();
    EXPECT_NE(out.find("extension = , length: 0\n"), std::string::npos) << out;
    ASSERT_EQ(corefile_numfiles, 1);  // "[..]" fills the single slot
}

TEST_F(CoreImage, StaleHandlesAfterCloseAreHarmless)
{
    std::string img = write("s.dat", build({{"a", "aaaa"}}));
    ASSERT_EQ(mount(img, 0), 1);
    s_corefile f;
    ASSERT_EQ(open("a", &f), 1);
    corefile_closeimage();
    char buf[4] = {1, 2, 3, 4};
    corefile_read(buf, 1, 4, &f);
    EXPECT_EQ(buf[0], 0);
    EXPECT_EQ(corefile_feof(&f), 1);
    corefile_seek(&f, 0, 0);
    corefile_rewind(&f);
    corefile_gets(buf, 4, &f);
    EXPECT_EQ(buf[0], 0);
    corefile_closeimage();  // twice is fine
}
