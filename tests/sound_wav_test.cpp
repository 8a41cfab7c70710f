// WAV files through the file layer: the canonical layout, the refusals with their
// messages and what they leave in the record, saving and the round trip.
#include "corefile/corefile.h"
#include "sound/coresound.h"
#include "sound/loadwav.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

#include "testutil_os.h"

namespace {

typedef std::vector<uint8_t> bytes;

static void put32(bytes &b, uint32_t v)
{
    for (int i = 0; i < 4; i++) b.push_back((uint8_t)(v >> (8 * i)));
}
static void put16(bytes &b, uint16_t v)
{
    b.push_back((uint8_t)v);
    b.push_back((uint8_t)(v >> 8));
}
static void puttag(bytes &b, const char *t) { b.insert(b.end(), t, t + 4); }

// A canonical file; datasize may differ from the bytes that follow.
static bytes make_wav(uint16_t format, uint16_t channels, uint32_t rate, uint16_t bits,
                      const bytes &samples, uint32_t datasize, const char *form = "WAVE")
{
    bytes b;
    puttag(b, "RIFF");
    put32(b, 36 + (uint32_t)samples.size());
    puttag(b, form);
    puttag(b, "fmt ");
    put32(b, 16);
    put16(b, format);
    put16(b, channels);
    put32(b, rate);
    put32(b, rate * channels * (bits / 8));
    put16(b, (uint16_t)(channels * (bits / 8)));
    put16(b, bits);
    puttag(b, "data");
    put32(b, datasize);
    b.insert(b.end(), samples.begin(), samples.end());
    return b;
}

static uint32_t get32(const bytes &b, size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | ((uint32_t)b[at + 3] << 24);
}
static uint16_t get16(const bytes &b, size_t at) { return (uint16_t)(b[at] | (b[at + 1] << 8)); }

class Wav : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = tu_mkdtemp("sound_wav_");
        ASSERT_NE(dir, "");
        ASSERT_EQ(corefile_mountimage(dir.c_str(), 2), 1);
        soundsystem.frequency = 44100;
        memset(&s, 0, sizeof(s));
    }
    void TearDown() override
    {
        corefile_closeimage();
        free(s.data);
        if (tu_rmtree(dir) != 0) ADD_FAILURE() << "could not remove " << dir;
    }
    void write(const char *name, const bytes &b)
    {
        FILE *f = fopen((dir + "/" + name).c_str(), "wb");
        ASSERT_NE(f, nullptr);
        if (!b.empty()) {
            ASSERT_EQ(fwrite(b.data(), 1, b.size(), f), b.size());
        }
        fclose(f);
    }
    bytes read(const char *name)
    {
        bytes b;
        FILE *f = fopen((dir + "/" + name).c_str(), "rb");
        if (!f) return b;
        int c;
        while ((c = fgetc(f)) != EOF) b.push_back((uint8_t)c);
        fclose(f);
        return b;
    }
    // Loads name and returns what it printed.
    std::string load(const char *name, int *result)
    {
        testing::internal::CaptureStdout();
        *result = Soundsystem_LoadWAV(name, &s);
        return testing::internal::GetCapturedStdout();
    }
    std::string dir;
    s_sound s;
};

TEST_F(Wav, CanonicalStereoFile)
{
    bytes samples(4000);
    for (size_t i = 0; i < samples.size(); i++) samples[i] = (uint8_t)(i * 13);
    write("a.wav", make_wav(1, 2, 44100, 16, samples, 4000));
    int r;
    EXPECT_EQ(load("a.wav", &r), "");
    EXPECT_EQ(r, 1);
    EXPECT_EQ(s.size, 4000);
    EXPECT_EQ(s.numsamples, 2000);
    EXPECT_EQ(s.channels, 2);
    EXPECT_EQ(s.frequency, 44100);
    EXPECT_EQ(s.bits, 16);
    ASSERT_NE(s.data, nullptr);
    EXPECT_EQ(memcmp(s.data, samples.data(), 4000), 0);
}

TEST_F(Wav, EightBitMonoAndOddSixteenBitDataSize)
{
    write("b.wav", make_wav(1, 1, 22050, 8, bytes(301, 7), 301));
    int r;
    load("b.wav", &r);
    EXPECT_EQ(r, 1);
    EXPECT_EQ(s.numsamples, 301);
    EXPECT_EQ(s.bits, 8);
    free(s.data);
    memset(&s, 0, sizeof(s));
    // A trailing half value is not counted.
    write("c.wav", make_wav(1, 1, 22050, 16, bytes(301, 7), 301));
    load("c.wav", &r);
    EXPECT_EQ(r, 1);
    EXPECT_EQ(s.size, 301);
    EXPECT_EQ(s.numsamples, 150);
}

TEST_F(Wav, RefusalsInOrderWithTheirMessagesAndFieldsLeft)
{
    int r;
    // Another RIFF form type: message, record untouched.
    write("avi.wav", make_wav(1, 2, 44100, 16, bytes(64), 64, "AVI "));
    EXPECT_EQ(load("avi.wav", &r), "No WAV file");
    EXPECT_EQ(r, 0);
    EXPECT_EQ(s.channels, 0);
    EXPECT_EQ(s.frequency, 0);

    // An 18-byte fmt body moves "data" away from 36: no message, fields already set.
    bytes b = make_wav(1, 2, 48000, 16, bytes(64), 64);
    b[16] = 18;
    b.insert(b.begin() + 36, {0, 0});
    write("fmt18.wav", b);
    EXPECT_EQ(load("fmt18.wav", &r), "");
    EXPECT_EQ(r, 0);
    EXPECT_EQ(s.channels, 2);
    EXPECT_EQ(s.frequency, 48000);
    EXPECT_EQ(s.bits, 16);
    EXPECT_EQ(s.data, nullptr);

    // A LIST chunk before "data": the same.
    b = make_wav(1, 1, 8000, 8, bytes(64), 64);
    bytes list;
    puttag(list, "LIST");
    put32(list, 4);
    puttag(list, "INFO");
    b.insert(b.begin() + 36, list.begin(), list.end());
    write("list.wav", b);
    EXPECT_EQ(load("list.wav", &r), "");
    EXPECT_EQ(r, 0);
    EXPECT_EQ(s.frequency, 8000);

    // IEEE float: the format message, fields set.
    write("float.wav", make_wav(3, 1, 96000, 32, bytes(64), 64));
    EXPECT_EQ(load("float.wav", &r), "Not PCM signed");
    EXPECT_EQ(r, 0);
    EXPECT_EQ(s.frequency, 96000);
    EXPECT_EQ(s.bits, 32);

    // No "fmt" at 12: no message, record as it was.
    b = make_wav(1, 2, 11025, 16, bytes(64), 64);
    memcpy(&b[12], "junk", 4);
    write("nofmt.wav", b);
    EXPECT_EQ(load("nofmt.wav", &r), "");
    EXPECT_EQ(r, 0);
    EXPECT_EQ(s.frequency, 96000);

    // A missing file.
    load("missing.wav", &r);
    EXPECT_EQ(r, 0);
    EXPECT_EQ(s.data, nullptr);
}

TEST_F(Wav, FilesThatWouldBeReadPastTheirEndOrDividedByZero)
{
    int r;
    // Data size beyond the bytes that follow the header.
    write("long.wav", make_wav(1, 2, 44100, 16, bytes(100), 101));
    std::string msg = load("long.wav", &r);
    EXPECT_EQ(r, 0);
    EXPECT_NE(msg.find("past the end"), std::string::npos) << msg;
    EXPECT_EQ(s.data, nullptr);
    EXPECT_EQ(s.size, 0);
    write("huge.wav", make_wav(1, 2, 44100, 16, bytes(100), 0xFFFFFFF0u));
    load("huge.wav", &r);
    EXPECT_EQ(r, 0);
    // Exactly the bytes there are is fine.
    write("exact.wav", make_wav(1, 2, 44100, 16, bytes(100), 100));
    load("exact.wav", &r);
    EXPECT_EQ(r, 1);
    free(s.data);
    memset(&s, 0, sizeof(s));

    // Widths other than 8 and 16 bits (0 would divide the value count by zero).
    for (uint16_t bits : {0, 4, 12, 24, 32}) {
        write("bits.wav", make_wav(1, 1, 44100, bits, bytes(96), 96));
        msg = load("bits.wav", &r);
        EXPECT_EQ(r, 0) << bits;
        EXPECT_NE(msg.find("bits"), std::string::npos) << bits;
        EXPECT_EQ(s.data, nullptr) << bits;
    }
    for (uint16_t ch : {0, 3}) {
        write("ch.wav", make_wav(1, ch, 44100, 16, bytes(96), 96));
        msg = load("ch.wav", &r);
        EXPECT_EQ(r, 0) << ch;
        EXPECT_NE(msg.find("channels"), std::string::npos) << ch;
    }

    // Files cut inside the header.
    bytes full = make_wav(1, 1, 44100, 16, bytes(8), 8);
    for (size_t n : {0, 3, 11, 14, 20, 35, 39, 43}) {
        write("cut.wav", bytes(full.begin(), full.begin() + n));
        load("cut.wav", &r);
        EXPECT_EQ(r, 0) << n;
        EXPECT_EQ(s.data, nullptr) << n;
    }
    write("cut.wav", bytes(full.begin(), full.begin() + 8));
    EXPECT_EQ(load("cut.wav", &r), "No WAV file");
}

TEST_F(Wav, SaveThousandMonoValuesAndLoadThemBack)
{
    s.channels = 1;
    s.bits = 16;
    s.frequency = 22050;
    s.numsamples = 1000;
    s.size = 2000;
    s.data = (uint8_t *)malloc(2000);
    for (int i = 0; i < 2000; i++) s.data[i] = (uint8_t)(i * 7 + 3);
    EXPECT_EQ(Soundsystem_SaveSound("out.wav", &s), 1);
    bytes f = read("out.wav");
    ASSERT_EQ(f.size(), 2044u);
    EXPECT_EQ(memcmp(&f[0], "RIFF", 4), 0);
    EXPECT_EQ(get32(f, 4), 2036u);
    EXPECT_EQ(memcmp(&f[8], "WAVEfmt ", 8), 0);
    EXPECT_EQ(get32(f, 16), 16u);
    EXPECT_EQ(get16(f, 20), 1);
    EXPECT_EQ(get16(f, 22), 1);
    EXPECT_EQ(get32(f, 24), 22050u);
    EXPECT_EQ(get32(f, 28), 44100u);
    EXPECT_EQ(get16(f, 32), 2);
    EXPECT_EQ(get16(f, 34), 16);
    EXPECT_EQ(memcmp(&f[36], "data", 4), 0);
    EXPECT_EQ(get32(f, 40), 2000u);
    EXPECT_EQ(memcmp(&f[44], s.data, 2000), 0);

    s_sound back;
    memset(&back, 0, sizeof(back));
    EXPECT_EQ(Soundsystem_LoadWAV("out.wav", &back), 1);
    EXPECT_EQ(back.channels, 1);
    EXPECT_EQ(back.frequency, 22050);
    EXPECT_EQ(back.bits, 16);
    EXPECT_EQ(back.size, 2000);
    EXPECT_EQ(back.numsamples, 1000);
    EXPECT_EQ(memcmp(back.data, s.data, 2000), 0);
    free(back.data);

    // An empty record saves a bare header without touching its null data.
    free(s.data);
    memset(&s, 0, sizeof(s));
    EXPECT_EQ(Soundsystem_SaveWAV("empty.wav", &s), 1);
    EXPECT_EQ(read("empty.wav").size(), 44u);
}

TEST_F(Wav, ShippedFilesLoadThroughLoadSound)
{
    corefile_closeimage();
    ASSERT_EQ(corefile_mountimage(TEST_DATA_DIR "/sound", 2), 1);
    Soundsystem_LoadSound("tone_stereo16.Wav", &s);
    EXPECT_EQ(s.numsamples, 12000);
    EXPECT_EQ(s.channels, 2);
    EXPECT_EQ(s.step, 512u);
    ASSERT_NE(s.data, nullptr);
    free(s.data);
    Soundsystem_LoadSound("ramp_mono8.WAV", &s);
    EXPECT_EQ(s.numsamples, 500);
    EXPECT_EQ(s.bits, 8);
    EXPECT_EQ(s.step, 128u);
    ASSERT_NE(s.data, nullptr);
    EXPECT_EQ(s.data[3], 21);
}

}  // namespace
