// loadwav.cpp - canonical RIFF WAVE files, read whole through the file layer.
#include "sound/loadwav.h"
#include "corefile/corefile.h"

#include <stdio.h>
#include <stdlib.h>
#include <stdint.h>
#include <string.h>

#define WAV_HEADERSIZE 44

static uint32_t rd32(const uint8_t *p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}
static uint16_t rd16(const uint8_t *p) { return (uint16_t)(p[0] | (p[1] << 8)); }
static void wr32(uint8_t *p, uint32_t v)
{
    p[0] = (uint8_t)v; p[1] = (uint8_t)(v >> 8); p[2] = (uint8_t)(v >> 16); p[3] = (uint8_t)(v >> 24);
}
static void wr16(uint8_t *p, uint16_t v) { p[0] = (uint8_t)v; p[1] = (uint8_t)(v >> 8); }

// Checks the header in buf (len bytes, the whole file) and, when it describes samples we
// can play, copies them. Every read stays inside the len bytes: a file that ends before
// a field fails the check that needs the field.
static int parse_wav(const uint8_t *buf, int32_t len, s_sound *s)
{
    if (len < 12 || memcmp(buf, "RIFF", 4) != 0 || memcmp(buf + 8, "WAVE", 4) != 0) {
        printf("No WAV file");
        return 0;
    }
    if (len < 15 || memcmp(buf + 12, "fmt", 3) != 0) return 0;
    if (len < 36) {
        printf("WAV header cut short\n");
        return 0;
    }
    uint16_t channels = rd16(buf + 22);
    uint32_t frequency = rd32(buf + 24);
    uint16_t bits = rd16(buf + 34);
    soundsystem_lock();
    s->channels = channels;
    s->frequency = (int32_t)frequency;
    s->bits = bits;
    soundsystem_unlock();
    if (rd16(buf + 20) != 1) {
        printf("Not PCM signed");
        return 0;
    }
    if (len < 40 || memcmp(buf + 36, "data", 4) != 0) return 0;
    if (bits != 8 && bits != 16) {
        printf("WAV with %d bits per sample not supported\n", bits);
        return 0;
    }
    if (channels != 1 && channels != 2) {
        printf("WAV with %d channels not supported\n", channels);
        return 0;
    }
    if (len < WAV_HEADERSIZE) {
        printf("WAV header cut short\n");
        return 0;
    }
    uint32_t size = rd32(buf + 40);
    if (size > (uint32_t)(len - WAV_HEADERSIZE)) {
        printf("WAV data size %u runs past the end of the file\n", size);
        return 0;
    }
    uint8_t *data = (uint8_t *)malloc(size ? size : 1);
    if (!data) {
        printf("WAV data of %u bytes: out of memory\n", size);
        return 0;
    }
    memcpy(data, buf + WAV_HEADERSIZE, size);
    soundsystem_lock();
    s->size = (int32_t)size;
    s->data = data;
    s->numsamples = (int32_t)(size / (bits / 8u));
    soundsystem_unlock();
    return 1;
}

int Soundsystem_LoadWAV(const char *name, s_sound *s)
{
    s_corefile file;
    memset(&file, 0, sizeof(file));
    if (!corefile_open(name, &file, 0)) return 0;
    int32_t len = file.size > 0 ? file.size : 0;
    // Zero-filled, so a short read leaves defined bytes.
    uint8_t *buf = (uint8_t *)calloc(1, (size_t)len + 1);
    if (!buf) {
        corefile_close(&file);
        printf("WAV file %s of %d bytes: out of memory\n", name, (int)len);
        return 0;
    }
    if (len > 0) corefile_read(buf, len, 1, &file);
    corefile_close(&file);
    int ok = parse_wav(buf, len, s);
    free(buf);
    return ok;
}

int Soundsystem_SaveWAV(const char *name, s_sound *s)
{
    soundsystem_lock();  // a stream's buffer may be refilled by the mixer meanwhile
    int32_t size = s->size > 0 ? s->size : 0;
    uint32_t bytes = s->bits / 8u;
    uint32_t datasize = bytes * (uint32_t)s->numsamples;
    uint8_t *buf = size <= INT32_MAX - WAV_HEADERSIZE
                       ? (uint8_t *)calloc(1, (size_t)size + WAV_HEADERSIZE) : nullptr;
    if (!buf) {
        soundsystem_unlock();
        printf("WAV file %s of %d bytes: out of memory\n", name, (int)size);
        return 1;
    }
    memcpy(buf, "RIFF", 4);
    wr32(buf + 4, 36 + datasize);
    memcpy(buf + 8, "WAVE", 4);
    memcpy(buf + 12, "fmt ", 4);
    wr32(buf + 16, 16);
    wr16(buf + 20, 1);
    wr16(buf + 22, s->channels);
    wr32(buf + 24, (uint32_t)s->frequency);
    wr32(buf + 28, s->channels * bytes * (uint32_t)s->frequency);
    wr16(buf + 32, (uint16_t)(s->channels * bytes));
    wr16(buf + 34, s->bits);
    memcpy(buf + 36, "data", 4);
    wr32(buf + 40, datasize);
    if (s->data && size > 0) memcpy(buf + WAV_HEADERSIZE, s->data, (size_t)size);
    soundsystem_unlock();
    corefile_savebuffer(name, buf, size + WAV_HEADERSIZE);
    free(buf);
    return 1;
}
