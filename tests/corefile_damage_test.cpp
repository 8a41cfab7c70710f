// Damaged and hostile images: every one is refused with nothing left allocated, or, where
// it still describes a sound directory, mounted and read without leaving the file.
// Meant to run under AddressSanitizer too.
#include "corefile/corefile.h"
#include "corefile/coremem.h"
#include "corefile/corepack.h"

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

void set32(Bytes &b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        b[at + i] = (unsigned char)(v >> (8 * i));
}

uint32_t get32(const Bytes &b, size_t at)
{
    return getint(b.data() + at);
}

// A small image of three files; positions of its fields are found from the layout.
Bytes small_image()
{
    corepack_file files[3] = {
        {"a.tga", "AAAAAAAA", 8},
        {"dir/b.wav", "BBBB", 4},
        {"c.txt", "line\n", 5},
    };
    uint32_t size = 0;
    unsigned char *img = corepack_build(files, 3, 0, &size);
    Bytes b(img, img + size);
    free(img);
    return b;
}

// Position of entry i's namelen field.
size_t entry_at(const Bytes &b, int i)
{
    size_t pos = 12;
    for (int k = 0; k < i; k++)
        pos += 12 + get32(b, pos);
    return pos;
}

class Damage : public testing::Test {
protected:
    std::string dir, path;
    uint32_t mem_before = 0;

    void SetUp() override
    {
        dir = tu_mkdtemp("corefile_damage_");
        ASSERT_NE(dir, "");
        path = dir + "/img.dat";
        mem_before = g_mem_in_use;
    }
    void TearDown() override
    {
        corefile_closeimage();
        EXPECT_EQ(tu_rmtree(dir), 0);
    }
    void write(const Bytes &b)
    {
        FILE *f = fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        if (!b.empty())
            fwrite(b.data(), 1, b.size(), f);
        fclose(f);
    }
    // Mounts b; when it mounts, opens and reads every entry (and a little past it).
    int mount_and_read(const Bytes &b, int request, std::string *out = nullptr)
    {
        write(b);
        CaptureStdout();
        int r = corefile_mountimage(path.c_str(), request);
        if (r) {
            for (uint32_t i = 0; i < corefile_image.numfiles; i++) {
                s_corefile f;
                memset(&f, 0, sizeof(f));
                if (!corefile_open(corefile_image.names[i], &f, 0))
                    continue;
                std::vector<char> buf((size_t)f.size + 16);
                corefile_read(buf.data(), 1, (int)buf.size(), &f);
                corefile_close(&f);
            }
        }
        std::string s = GetCapturedStdout();
        if (out)
            *out = s;
        return r;
    }
    // A refused mount leaves nothing open and nothing allocated.
    // (A trailer is not part of the image: the checker reads the image at the file's start.)
    void expect_refused(const Bytes &b, const char *what, int request = 0)
    {
        std::string out;
        EXPECT_EQ(mount_and_read(b, request, &out), 0) << what;
        EXPECT_EQ(g_fp, nullptr) << what;
        EXPECT_EQ(corefile_image.numfiles, 0u) << what;
        EXPECT_EQ(g_mem_in_use, mem_before) << what;
        if (request == 0) {
            CaptureStdout();
            EXPECT_EQ(corepack_verify(path.c_str()), 0) << what;
            GetCapturedStdout();
        }
    }
    void expect_refused_with_line(const Bytes &b, const char *what)
    {
        std::string out;
        EXPECT_EQ(mount_and_read(b, 0, &out), 0) << what;
        EXPECT_NE(out.find("bad image: "), std::string::npos) << what << "\n" << out;
        EXPECT_EQ(g_mem_in_use, mem_before) << what;
        CaptureStdout();
        EXPECT_EQ(corepack_verify(path.c_str()), 0) << what;
        GetCapturedStdout();
    }
};

} // namespace

TEST_F(Damage, EveryTruncationIsRefused)
{
    Bytes full = small_image();
    for (size_t len = 0; len < full.size(); len++) {
        Bytes b(full.begin(), full.begin() + (long)len);
        expect_refused(b, ("length " + std::to_string(len)).c_str());
    }
    EXPECT_EQ(mount_and_read(full, 0), 1);
}

TEST_F(Damage, HeaderFieldsThatDoNotFitTheFileAreRefused)
{
    Bytes good = small_image();
    size_t e1 = entry_at(good, 1), e2 = entry_at(good, 2);
    size_t off1 = e1 + 8 + get32(good, e1), off2 = e2 + 8 + get32(good, e2);

    Bytes b = good;
    set32(b, 4, 0xFFFFFFFFu);
    expect_refused_with_line(b, "numfiles huge");
    b = good;
    set32(b, 4, 4);  // one more than the directory holds
    expect_refused_with_line(b, "numfiles one too many");
    b = good;
    set32(b, e1, 0xFFFFFFF0u);
    expect_refused_with_line(b, "namelen huge");
    b = good;
    set32(b, e1, (uint32_t)(good.size() - e1 - 11));
    expect_refused_with_line(b, "namelen one past the end");
    b = good;
    set32(b, off2, (uint32_t)good.size() + 1);
    expect_refused_with_line(b, "offset past the end");
    b = good;
    set32(b, off2, get32(good, off1) - 1);
    expect_refused_with_line(b, "offsets descending");
    b = good;
    set32(b, 8, (uint32_t)good.size() + 1);
    expect_refused_with_line(b, "romsize past the end");
    b = good;
    set32(b, 8, get32(good, off2) - 1);
    expect_refused_with_line(b, "romsize below the last offset");
}

TEST_F(Damage, WrongMagicIsRefusedWithoutHeaderLines)
{
    Bytes b = small_image();
    b[3] = 'e';
    std::string out;
    EXPECT_EQ(mount_and_read(b, 0, &out), 0);
    EXPECT_EQ(out.find("numfiles"), std::string::npos);
    EXPECT_EQ(g_fp, nullptr);
    EXPECT_EQ(g_mem_in_use, mem_before);
}

TEST_F(Damage, BadTrailersAreRefused)
{
    Bytes img = small_image();
    expect_refused(Bytes{1, 2, 3}, "file shorter than a trailer", 1);
    Bytes b = img;
    b.insert(b.end(), {0xFF, 0xFF, 0xFF, 0x7F});
    expect_refused(b, "start far past the end", 1);
    b = img;
    b.insert(b.end(), {(unsigned char)(img.size() + 1), 0, 0, 0});
    expect_refused(b, "start just past the image", 1);
    b = img;
    b.insert(b.end(), {5, 0, 0, 0});
    expect_refused(b, "start inside the image", 1);
    // The image's last data byte now lies one byte before the trailer: still sound.
    b = img;
    b.insert(b.end(), {0, 0, 0, 0});
    EXPECT_EQ(mount_and_read(b, 1), 1);
}

TEST_F(Damage, SoundButOddDirectoriesMountAndReadSafely)
{
    // Offsets pointing into the header, duplicate names and wrong hashes are not faults
    // of the file: such images mount; the odd entries read header bytes or are not found.
    Bytes good = small_image();
    size_t e0 = entry_at(good, 0);
    size_t off0 = e0 + 8 + get32(good, e0);
    Bytes b = good;
    set32(b, off0, 0);
    EXPECT_EQ(mount_and_read(b, 0), 1);
    s_corefile f;
    CaptureStdout();
    ASSERT_EQ(corefile_open("a.tga", &f, 0), 1);
    GetCapturedStdout();
    char magic[4];
    corefile_read(magic, 1, 4, &f);
    EXPECT_EQ(std::string(magic, 4), "CORE");
    corefile_closeimage();

    b = good;
    set32(b, e0 + 4, 12345);  // hash no longer matches "a.tga"
    EXPECT_EQ(mount_and_read(b, 0), 1);
    CaptureStdout();
    EXPECT_EQ(corefile_open("a.tga", &f, 0), 0);
    GetCapturedStdout();
    EXPECT_EQ(corepack_verify(path.c_str()), 0);  // the checker does report it
}

TEST_F(Damage, EverySingleByteChangeIsRefusedOrReadSafely)
{
    Bytes good = small_image();
    const unsigned char values[] = {0x00, 0x01, 0x7F, 0x80, 0xFF};
    for (size_t at = 0; at < good.size(); at++) {
        for (unsigned char v : values) {
            Bytes b = good;
            b[at] = v;
            int r = mount_and_read(b, 0);
            if (!r) {
                EXPECT_EQ(g_mem_in_use, mem_before) << "byte " << at << " = " << (int)v;
                EXPECT_EQ(g_fp, nullptr);
            }
            corefile_closeimage();
            ASSERT_EQ(g_mem_in_use, mem_before) << "byte " << at << " = " << (int)v;
        }
    }
}

TEST_F(Damage, VerifyReportsEachKindOfDamage)
{
    Bytes good = small_image();
    write(good);
    EXPECT_EQ(corepack_verify(path.c_str()), 1);
    size_t e0 = entry_at(good, 0);
    size_t off0 = e0 + 8 + get32(good, e0);
    struct { const char *what, *message; size_t at; uint32_t value; } cases[] = {
        {"magic", "no CORE magic", 0, 0x45524F44},
        {"hash", "does not match the name", e0 + 4, 1},
        {"offset inside the directory", "inside the directory", off0, 20},
        {"numfiles", "does not fit", 4, 1000},
        {"romsize", "past the end", 8, 1000},
    };
    for (auto c : cases) {
        Bytes b = good;
        set32(b, c.at, c.value);
        write(b);
        CaptureStdout();
        EXPECT_EQ(corepack_verify(path.c_str()), 0) << c.what;
        std::string out = GetCapturedStdout();
        EXPECT_NE(out.find(c.message), std::string::npos) << c.what << ": " << out;
    }
}
