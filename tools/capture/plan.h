// plan.h - what mirador-capture is asked to do. Pure functions: no GL, no files,
// no FFmpeg. The show runs on the fixed clock of demo/fixedclock.h.
#ifndef TOOLS_CAPTURE_PLAN_H
#define TOOLS_CAPTURE_PLAN_H

#include <stdint.h>

#include "demo/show.h"

// ---- Calls ---------------------------------------------------------------------------
typedef enum { CAP_MP4, CAP_MKV, CAP_WEBM, CAP_WEBP } cap_container;

typedef struct {
    int width, height;      // output size, even, 480x270 .. 3840x2160
    int fps;                // 30, 50, 60 or 120
    int first, last;        // periods written, SHOW_FIRST_PERIOD <= first <= last <= SHOW_END_PERIOD
    const char *framemd5;   // golden record to write, or null
    const char *output;     // the file to write
    cap_container container;// from the output's extension
} cap_plan;

// Reads the command line (argv[0] is the program). 1 on success; 0 with a one-line
// reason in err for a bad option, a bad value or a missing OUTPUT (the caller prints
// it with the usage and exits 2).
int cap_parse(int argc, char **argv, cap_plan *plan, char *err, int errsize);
// The container that a file name's extension asks for (any case), or -1.
int cap_container_of(const char *path);
const char *cap_usage(void);

// ---- Limits --------------------------------------------------------------------------
#define CAP_MIN_W 480
#define CAP_MIN_H 270
#define CAP_MAX_W 3840
#define CAP_MAX_H 2160

#endif
