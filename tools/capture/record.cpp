// record.cpp - the capture's golden record, hashed with FFmpeg's MD5.
#include "tools/capture/record.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <array>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/md5.h>
#include <libavutil/mem.h>
}

struct record {
    std::string path, part;
    int width, height, fps, first_period, last_period;
    // Written on the encoder's thread only, read by record_commit once it has stopped.
    AVMD5 *frame_md5;
    std::vector<std::array<uint8_t, 16>> frames;
    std::vector<uint8_t> rgbrow;
    // Written on the capture's thread.
    AVMD5 *sound_md5;
    uint64_t sound_frames;
};

static void release(record *r)
{
    av_free(r->frame_md5);
    av_free(r->sound_md5);
    delete r;
}

static void cannot_write(const record *r, char *err, int errsize)
{
    snprintf(err, (size_t)errsize, "cannot write %s: %s", r->path.c_str(), strerror(errno));
}

static void hex(const uint8_t d[16], char out[33])
{
    for (int i = 0; i < 16; i++) snprintf(out + 2 * i, 3, "%02x", d[i]);
}

record *record_open(const cap_plan *plan, char *err, int errsize)
{
    record *r = new record();
    r->path = plan->framemd5;
    r->part = r->path + ".part";
    r->width = plan->width;
    r->height = plan->height;
    r->fps = plan->fps;
    r->first_period = plan->first;
    r->last_period = plan->last;
    r->frame_md5 = av_md5_alloc();
    r->sound_md5 = av_md5_alloc();
    if (!r->frame_md5 || !r->sound_md5) {
        snprintf(err, (size_t)errsize, "cannot write %s: out of memory", r->path.c_str());
        release(r);
        return nullptr;
    }
    av_md5_init(r->sound_md5);
    FILE *f = fopen(r->part.c_str(), "w");
    if (!f) {
        cannot_write(r, err, errsize);
        release(r);
        return nullptr;
    }
    fclose(f);
    return r;
}

void record_frame(record *r, const uint8_t *rgba, int w, int h)
{
    av_md5_init(r->frame_md5);
    r->rgbrow.resize((size_t)w * 3);
    for (int y = h - 1; y >= 0; y--) {
        const uint8_t *p = rgba + (size_t)y * w * 4;
        for (int x = 0; x < w; x++) {
            r->rgbrow[3 * x] = p[4 * x];
            r->rgbrow[3 * x + 1] = p[4 * x + 1];
            r->rgbrow[3 * x + 2] = p[4 * x + 2];
        }
        av_md5_update(r->frame_md5, r->rgbrow.data(), (size_t)w * 3);
    }
    std::array<uint8_t, 16> d;
    av_md5_final(r->frame_md5, d.data());
    r->frames.push_back(d);
}

void record_sound(record *r, const int16_t *samples, int frames)
{
    av_md5_update(r->sound_md5, (const uint8_t *)samples, (size_t)frames * 4);
    r->sound_frames += (uint64_t)frames;
}

int record_commit(record *r, uint64_t first, char *err, int errsize)
{
    uint8_t d[16];
    char x[33];
    av_md5_final(r->sound_md5, d);
    hex(d, x);
    FILE *f = fopen(r->part.c_str(), "w");
    int wrote = f != nullptr;
    if (f) {
        wrote = fprintf(f,
                        "# mirador-capture golden record: %dx%d, %d fps, periods %d-%d\n"
                        "# frame (0 is the show's first), MD5 of its pixels (RGB, top row first)\n",
                        r->width, r->height, r->fps, r->first_period, r->last_period) > 0;
        for (size_t i = 0; wrote && i < r->frames.size(); i++) {
            char fx[33];
            hex(r->frames[i].data(), fx);
            wrote = fprintf(f, "%llu %s\n", (unsigned long long)(first + i), fx) > 0;
        }
        wrote = wrote && fprintf(f, "# sound: stereo frames at 44100 Hz, MD5 of the signed 16-bit samples\n"
                                    "sound %llu %s\n", (unsigned long long)r->sound_frames, x) > 0;
        wrote = (fclose(f) == 0) && wrote;
    }
    if (!wrote || rename(r->part.c_str(), r->path.c_str()) != 0) {
        cannot_write(r, err, errsize);
        unlink(r->part.c_str());
        release(r);
        return 0;
    }
    release(r);
    return 1;
}

void record_abort(record *r)
{
    if (!r) return;
    unlink(r->part.c_str());
    release(r);
}
