// plan.h - what mirador-capture is asked to do, and the arithmetic of its
// clock and its sound track. Pure functions: no GL, no files, no FFmpeg.
//
// The capture's show clock stands at 0 through start-up and moves on by 1000/fps ms
// at each presented frame, spread over whole milliseconds: the clock at the start of
// frame n is round(n * 1000 / fps), so no drift adds up. After frame n the mixer has
// made round(n * 44100 / fps) stereo frames of sound.
#ifndef TOOLS_CAPTURE_PLAN_H
#define TOOLS_CAPTURE_PLAN_H

#include <stdint.h>

// ---- Calls ---------------------------------------------------------------------------
typedef enum { CAP_MP4, CAP_MKV, CAP_WEBM, CAP_WEBP } cap_container;

typedef struct {
    int width, height;      // output size, even, 480x270 .. 3840x2160
    int fps;                // 30, 50, 60 or 120
    int first, last;        // periods written, 2 <= first <= last <= 23
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

uint32_t cap_clock_ms(uint64_t frame, int fps);     // show clock at the start of frame n
uint64_t cap_sound_frames(uint64_t frame, int fps); // sound frames made before frame n
uint64_t cap_period_frames(int fps);                // frames of one 7700 ms period
// Frames the show renders from its start to the end of period last (the whole periods
// from CAP_FIRST_PERIOD, and the one frame of CAP_LAST_PERIOD).
uint64_t cap_frames_through(int last, int fps);

// ---- Limits --------------------------------------------------------------------------
#define CAP_MIN_W 480
#define CAP_MIN_H 270
#define CAP_MAX_W 3840
#define CAP_MAX_H 2160
#define CAP_FIRST_PERIOD 2
#define CAP_LAST_PERIOD 23   // the one black frame the show ends on
#define CAP_RATE 44100       // the mixer's rate

#endif
