// options.h - mirador-dev's command line. Pure: no GL, no files.
#ifndef TOOLS_DEV_OPTIONS_H
#define TOOLS_DEV_OPTIONS_H

// ---- Calls ---------------------------------------------------------------------------
typedef struct {
    int width, height;      // window size, 480x270 .. 3840x2160 (default 1280x720)
    const char *data;       // folder laid over mirador.dat, or null
    int period;             // period shown first, SHOW_FIRST_PERIOD..SHOW_LAST_PERIOD (default the first)
    const char *record;     // file for the MD5 of every frame shown and of its sound, or null
    long frames;            // end after this many frames shown (0: run until closed)
    int overlay;            // 1: the overlay starts on (--no-overlay: off)
    int worker;             // 1: no window: the worker ahead of the viewer (worker.h), started by the tool itself
    int no_worker;          // 1: start no worker (--no-worker)
} dev_options;

// Reads the command line (argv[0] is the program). 1 on success; 0 with a one-line
// reason in err for an unknown option, a missing or bad value (the caller prints it
// with the usage and exits 2).
int dev_parse(int argc, char **argv, dev_options *o, char *err, int errsize);
const char *dev_usage(void);

#endif
