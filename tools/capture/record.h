// record.h - the capture's golden record: the MD5 of every frame written and of the
// whole sound track, in a text file that a later capture can be compared with.
//
//   # mirador-capture golden record: WxH, N fps, periods A-B
//   # frame (0 is the show's first), MD5 of its pixels (RGB, top row first)
//   <frame> <md5>                       one line per frame written, in order
//   # sound: stereo frames at 44100 Hz, MD5 of the signed 16-bit samples
//   sound <frames> <md5>
//
// Lifecycle, as the encoder's: record_open, then record_frame for each frame (on the
// encoder's thread, from its frame hook) and record_sound for each frame's sound (on
// the capture's thread), then record_commit, or record_abort on any failure.
//
// Failure: record_open creates PATH.part at once, so a record that cannot be written
// is refused before the show renders. record_commit writes the whole record into
// PATH.part and renames it to PATH, so a failed run leaves no half-written record and
// an earlier one stays as it was. Every failure is one line in err: "cannot write
// PATH: reason".
#ifndef TOOLS_CAPTURE_RECORD_H
#define TOOLS_CAPTURE_RECORD_H

#include <stdint.h>

#include "tools/capture/plan.h"

// ---- Calls ---------------------------------------------------------------------------
typedef struct record record;

// Opens the record of plan (its size, rate and periods go into the header) at
// plan->framemd5. Null on failure, with one line in err.
record *record_open(const cap_plan *plan, char *err, int errsize);
// Adds one frame as the encoder receives it (rgba is width x height, bottom row first).
void record_frame(record *r, const uint8_t *rgba, int width, int height);
// Adds frames stereo frames of sound.
void record_sound(record *r, const int16_t *samples, int frames);
// Writes the record, its frames numbered from first (the show's frame that was
// written first), and renames it to its name. 1 on success; 0 with a message in err
// (the part file is then removed). Frees r either way.
int record_commit(record *r, uint64_t first, char *err, int errsize);
// Drops the record and removes the part file. Frees r; r may be null.
void record_abort(record *r);

#endif
