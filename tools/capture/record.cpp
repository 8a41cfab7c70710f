// record.cpp - the capture's golden record, hashed with the frame MD5 of
// corefile/md5.h.
#include "tools/capture/record.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <array>
#include <string>
#include <vector>

#include "corefile/md5.h"

struct record {
    std::string path, part;
    int width, height, fps, first_period, last_period;
    // Written on the encoder's thread only, read by record_commit once it has stopped.
    std::vector<std::array<uint8_t, 16>> frames;
    // Written on the capture's thread.
    s_md5 sound_md5;
    uint64_t sound_frames;
};

static void cannot_write(const record *r, char *err, int errsize)
{
    snprintf(err, (size_t)errsize, "cannot write %s: %s", r->path.c_str(), strerror(errno));
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
    md5_init(&r->sound_md5);
    FILE *f = fopen(r->part.c_str(), "w");
    if (!f) {
        cannot_write(r, err, errsize);
        delete r;
        return nullptr;
    }
    fclose(f);
    return r;
}

void record_frame(record *r, const uint8_t *rgba, int w, int h)
{
    std::array<uint8_t, 16> d;
    md5_frame(rgba, w, h, d.data());
    r->frames.push_back(d);
}

void record_sound(record *r, const int16_t *samples, int frames)
{
    md5_update(&r->sound_md5, samples, (size_t)frames * 4);
    r->sound_frames += (uint64_t)frames;
}

int record_commit(record *r, uint64_t first, char *err, int errsize)
{
    uint8_t d[16];
    char x[33];
    md5_final(&r->sound_md5, d);
    md5_hex(d, x);
    FILE *f = fopen(r->part.c_str(), "w");
    int wrote = f != nullptr;
    if (f) {
        wrote = fprintf(f,
                        "# mirador-capture golden record: %dx%d, %d fps, periods %d-%d\n"
                        "# frame (0 is the show's first), MD5 of its pixels (RGB, top row first)\n",
                        r->width, r->height, r->fps, r->first_period, r->last_period) > 0;
        for (size_t i = 0; wrote && i < r->frames.size(); i++) {
            char fx[33];
            md5_hex(r->frames[i].data(), fx);
            wrote = fprintf(f, "%llu %s\n", (unsigned long long)(first + i), fx) > 0;
        }
        wrote = wrote && fprintf(f, "# sound: stereo frames at 44100 Hz, MD5 of the signed 16-bit samples\n"
                                    "sound %llu %s\n", (unsigned long long)r->sound_frames, x) > 0;
        wrote = (fclose(f) == 0) && wrote;
    }
    if (!wrote || rename(r->part.c_str(), r->path.c_str()) != 0) {
        cannot_write(r, err, errsize);
        unlink(r->part.c_str());
        delete r;
        return 0;
    }
    delete r;
    return 1;
}

void record_abort(record *r)
{
    if (!r) return;
    unlink(r->part.c_str());
    delete r;
}
