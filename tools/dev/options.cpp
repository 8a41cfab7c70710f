// options.cpp - mirador-dev's command line.
#include "tools/dev/options.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include "demo/show.h"
#include "tools/capture/plan.h"

const char *dev_usage(void)
{
    return "usage: mirador-dev [--size WxH] [--data DIR] [--period N]\n"
           "  --size WxH      window size, 480x270 to 3840x2160 (default 1280x720)\n"
           "  --data DIR      a folder laid over mirador.dat: its files replace those of the\n"
           "                  same name, and are loaded again when they change\n"
           "  --period N      start at period N of 2..22 (default 2)\n"
           "  --no-overlay    start with the overlay off (H shows it)\n"
           "  --no-worker     run nothing ahead of the viewer (periods not yet seen are run to)\n"
           "  --record FILE   write the MD5 of every frame shown (before the overlay) and of\n"
           "                  its sound, as mirador-capture --framemd5 does\n"
           "  --frames N      end after N frames shown\n"
           "Keys: F1 or ? lists them in the window.\n";
}

// A whole decimal number up to max, and nothing after it but stop (or the end).
static int read_num(const char *s, char stop, long max, long *v, const char **rest)
{
    if (!isdigit((unsigned char)*s)) return 0;
    long n = 0;
    while (isdigit((unsigned char)*s)) {
        n = n * 10 + (*s - '0');
        if (n > max) return 0;
        s++;
    }
    if (*s != stop) return 0;
    *v = n;
    *rest = *s ? s + 1 : s;
    return 1;
}

int dev_parse(int argc, char **argv, dev_options *o, char *err, int errsize)
{
    memset(o, 0, sizeof *o);
    o->width = 1280;
    o->height = 720;
    o->period = SHOW_FIRST_PERIOD;
    o->overlay = 1;
    for (int i = 1; i < argc; i++) {
        const char *a = argv[i], *rest;
        if (strcmp(a, "--no-overlay") == 0) {
            o->overlay = 0;
            continue;
        }
        if (strcmp(a, "--no-worker") == 0 || strcmp(a, "--worker") == 0) {
            (a[2] == 'n' ? o->no_worker : o->worker) = 1;
            continue;
        }
        int known = strcmp(a, "--size") == 0 || strcmp(a, "--data") == 0 || strcmp(a, "--period") == 0 ||
                    strcmp(a, "--record") == 0 || strcmp(a, "--frames") == 0;
        if (!known) {
            snprintf(err, (size_t)errsize, a[0] == '-' ? "unknown option %s" : "unexpected argument %s", a);
            return 0;
        }
        if (i + 1 >= argc || !argv[i + 1][0]) {
            snprintf(err, (size_t)errsize, "%s needs a value", a);
            return 0;
        }
        const char *v = argv[++i];
        long n, m;
        if (strcmp(a, "--size") == 0) {
            if (!read_num(v, 'x', 100000, &n, &rest) || !read_num(rest, 0, 100000, &m, &rest)) {
                snprintf(err, (size_t)errsize, "--size %s: not WxH", v);
                return 0;
            }
            if (n < CAP_MIN_W || m < CAP_MIN_H || n > CAP_MAX_W || m > CAP_MAX_H) {
                snprintf(err, (size_t)errsize, "--size %s: outside 480x270 to 3840x2160", v);
                return 0;
            }
            o->width = (int)n;
            o->height = (int)m;
        } else if (strcmp(a, "--period") == 0) {
            if (!read_num(v, 0, 100000, &n, &rest) || n < SHOW_FIRST_PERIOD || n > SHOW_LAST_PERIOD) {
                snprintf(err, (size_t)errsize, "--period %s: not a period of %d..%d", v, SHOW_FIRST_PERIOD,
                         SHOW_LAST_PERIOD);
                return 0;
            }
            o->period = (int)n;
        } else if (strcmp(a, "--frames") == 0) {
            if (!read_num(v, 0, 100000000, &n, &rest) || n < 1) {
                snprintf(err, (size_t)errsize, "--frames %s: not a number of 1 or more", v);
                return 0;
            }
            o->frames = n;
        } else if (strcmp(a, "--data") == 0) {
            o->data = v;
        } else {
            o->record = v;
        }
    }
    return 1;
}
