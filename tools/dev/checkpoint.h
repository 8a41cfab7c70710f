// checkpoint.h - a point of the show, saved whole, to come back to it exactly.
//
// The show is deterministic but every scene depends on all the frames before it, so
// a point of the show is the whole state those frames leave behind, not a time. A
// checkpoint holds, taken between two frames (before the next timeline_frame), the
// show's state as demo/state.h lists it: the globals of SHOW_STATE, copied in a loop,
// and the hooks beside them (the random generator's state, the render-state mask and
// its blend function, the pixels of bmp_bg and of the 480x270 framebuffer, the
// music's play state). Everything else is rebuilt every frame from these. A
// checkpoint takes about 1.1 MB, nearly all of it the two pictures
// (dev_checkpoint_bytes).
//
// A checkpoint can be written out as bytes and read back in another run of the same
// build (the disk cache, the worker): dev_checkpoint_write/read. Reading checks every
// length and value against this program's show and refuses what does not fit.
//
// Limits: the GL calls run on the thread that owns the show's GL context; the
// pictures must stay at the size start-up gave them.
#ifndef TOOLS_DEV_CHECKPOINT_H
#define TOOLS_DEV_CHECKPOINT_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "sound/coresound.h"

// ---- Calls ---------------------------------------------------------------------------
struct dev_checkpoint;
// Saves the state of the show as it stands between two frames; frame is the number of
// the next frame (0 is the show's first), kept with it.
void dev_checkpoint_save(dev_checkpoint *cp, uint64_t frame);
// Puts the show back where cp was taken; the next frame is cp->frame.
void dev_checkpoint_restore(const dev_checkpoint *cp);
size_t dev_checkpoint_bytes(const dev_checkpoint *cp);  // memory it holds
// The checkpoint as bytes, for another run of the same build; 0 (out untouched) when
// it holds something that only means anything in this process (a sound playing
// that is not the music).
int dev_checkpoint_write(const dev_checkpoint *cp, std::vector<uint8_t> *out);
// Reads what dev_checkpoint_write wrote; 0 (cp left invalid) when the bytes are not a
// checkpoint of this program's show: a length, a size or a value that does not fit.
int dev_checkpoint_read(dev_checkpoint *cp, const uint8_t *data, size_t size);

// ---- Record ----------------------------------------------------------------------------
struct dev_checkpoint {
    int valid = 0;
    uint64_t frame = 0;
    std::vector<uint8_t> vars;       // SHOW_STATE's globals, each one's bytes, in list order
    uint32_t rand = 0;               // the random generator
    int32_t renderstate = 0, blend_src = 0, blend_dst = 0;  // GL
    std::vector<uint32_t> bg;        // bmp_bg's pixels
    std::vector<uint8_t> fb;         // the 480x270 framebuffer, RGBA, bottom row first
    // the music: its play state and the playing list, each slot 0 (empty), 1 (the
    // music) or 2 (another sound, whose record is other[i])
    uint64_t music_position = 0;
    int16_t music_playing = 0;
    int32_t numactive = 0;
    uint8_t active[SOUND_MAXACTIVE] = {};
    s_sound *other[SOUND_MAXACTIVE] = {};
};

#endif
