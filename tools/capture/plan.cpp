// plan.cpp - mirador-capture's options.
#include "tools/capture/plan.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

const char *cap_usage(void)
{
    return "usage: mirador-capture [--size WxH] [--fps N] [--periods A-B] [--framemd5 FILE] OUTPUT\n"
           "  --size WxH      output size, even, 480x270 to 3840x2160 (default 1920x1080)\n"
           "  --fps N         30, 50, 60 or 120 frames a second (default 60)\n"
           "  --periods A-B   write only periods A to B of 2..23 (default 2-23, the whole show)\n"
           "  --framemd5 FILE also write the MD5 of every frame and of the sound track\n"
           "  OUTPUT          .mp4 (H.264, AAC), .mkv (H.264, FLAC), .webm (VP9, Opus)\n"
           "                  or .webp (animated picture, no sound)\n";
}

int cap_container_of(const char *path)
{
    static const struct { const char *ext; int c; } known[] = {
        { ".mp4", CAP_MP4 }, { ".mkv", CAP_MKV }, { ".webm", CAP_WEBM }, { ".webp", CAP_WEBP },
    };
    const char *dot = path ? strrchr(path, '.') : nullptr;
    if (!dot || strchr(dot, '/')) return -1;
    for (const auto &k : known) {
        size_t n = strlen(k.ext);
        if (strlen(dot) != n) continue;
        size_t i = 0;
        while (i < n && tolower((unsigned char)dot[i]) == k.ext[i]) i++;
        if (i == n) return k.c;
    }
    return -1;
}

// A whole decimal number that fits an int, and nothing after it but stop (or the end).
static int read_int(const char *s, char stop, int *v, const char **rest)
{
    if (!isdigit((unsigned char)*s)) return 0;
    long n = 0;
    while (isdigit((unsigned char)*s)) {
        n = n * 10 + (*s - '0');
        if (n > 100000) return 0;
        s++;
    }
    if (*s != stop) return 0;
    *v = (int)n;
    *rest = *s ? s + 1 : s;
    return 1;
}

int cap_parse(int argc, char **argv, cap_plan *plan, char *err, int errsize)
{
    memset(plan, 0, sizeof(*plan));
    plan->width = 1920;
    plan->height = 1080;
    plan->fps = 60;
    plan->first = SHOW_FIRST_PERIOD;
    plan->last = SHOW_END_PERIOD;
    for (int i = 1; i < argc; i++) {
        const char *a = argv[i];
        const char *rest;
        if (a[0] == '-' && a[1] == '-' && strcmp(a, "--") != 0) {
            if (i + 1 >= argc) {
                snprintf(err, (size_t)errsize, "%s needs a value", a);
                return 0;
            }
            const char *v = argv[++i];
            if (strcmp(a, "--size") == 0) {
                int w, h;
                if (!read_int(v, 'x', &w, &rest) || !read_int(rest, 0, &h, &rest)) {
                    snprintf(err, (size_t)errsize, "--size %s: not WxH", v);
                    return 0;
                }
                if (w < CAP_MIN_W || h < CAP_MIN_H || w > CAP_MAX_W || h > CAP_MAX_H) {
                    snprintf(err, (size_t)errsize, "--size %s: outside 480x270 to 3840x2160", v);
                    return 0;
                }
                if ((w | h) & 1) {
                    snprintf(err, (size_t)errsize, "--size %s: width and height must be even", v);
                    return 0;
                }
                plan->width = w;
                plan->height = h;
            } else if (strcmp(a, "--fps") == 0) {
                int f;
                if (!read_int(v, 0, &f, &rest) || (f != 30 && f != 50 && f != 60 && f != 120)) {
                    snprintf(err, (size_t)errsize, "--fps %s: not 30, 50, 60 or 120", v);
                    return 0;
                }
                plan->fps = f;
            } else if (strcmp(a, "--periods") == 0) {
                int p, q;
                if (!read_int(v, '-', &p, &rest) || !read_int(rest, 0, &q, &rest) || p < SHOW_FIRST_PERIOD ||
                    q > SHOW_END_PERIOD || p > q) {
                    snprintf(err, (size_t)errsize, "--periods %s: not A-B with 2 <= A <= B <= 23", v);
                    return 0;
                }
                plan->first = p;
                plan->last = q;
            } else if (strcmp(a, "--framemd5") == 0) {
                plan->framemd5 = v;
            } else {
                snprintf(err, (size_t)errsize, "unknown option %s", a);
                return 0;
            }
            continue;
        }
        if (strcmp(a, "--") == 0 && i + 1 < argc) a = argv[++i];
        if (plan->output) {
            snprintf(err, (size_t)errsize, "more than one OUTPUT (%s, %s)", plan->output, a);
            return 0;
        }
        plan->output = a;
    }
    if (!plan->output || !plan->output[0]) {
        snprintf(err, (size_t)errsize, "no OUTPUT given");
        return 0;
    }
    plan->container = (cap_container)cap_container_of(plan->output);
    return 1;
}
