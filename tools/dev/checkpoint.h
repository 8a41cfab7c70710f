// checkpoint.h - a point of the show, saved whole, to come back to it exactly.
//
// The show is deterministic but every scene depends on all the frames before it, so
// a point of the show is the whole state those frames leave behind, not a time. A
// checkpoint holds, taken between two frames (before the next timeline_frame):
// - the sequence's state (period, its start, scenetime, dt, fade, both pulses, the
//   frame and spawn counters, quit) and the random generator's state;
// - the engine's frame clock (the time of the last wait, the frame count) and its
//   render-state mask with the GL blend function it stands for;
// - the effects' records: the three free-direction objects, the voxel camera, the
//   Julia parameters and directions, the voxel heading, the particle pool and its
//   next slot, the vector balls (vertices, angles, centre, phase, object, delay);
// - the pixels of the work bitmap bmp_bg (the vhs scene redraws only half of them a
//   frame) and of the 480x270 framebuffer (kept, never cleared, between frames);
// - the music's play state (its record and the playing list).
// Everything else is rebuilt every frame from these. A checkpoint takes about
// 1.1 MB, nearly all of it the two pictures (dev_checkpoint_bytes).
//
// Limits: the GL calls run on the thread that owns the show's GL context; the
// pictures must stay at the size start-up gave them.
#ifndef TOOLS_DEV_CHECKPOINT_H
#define TOOLS_DEV_CHECKPOINT_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "demo/effects.h"
#include "demo/freedir.h"
#include "demo/vector.h"
#include "demo/voxel.h"
#include "sound/coresound.h"

// ---- Calls ---------------------------------------------------------------------------
struct dev_checkpoint;
// Saves the state of the show as it stands between two frames; frame is the number of
// the next frame (0 is the show's first), kept with it.
void dev_checkpoint_save(dev_checkpoint *cp, uint64_t frame);
// Puts the show back where cp was taken; the next frame is cp->frame.
void dev_checkpoint_restore(const dev_checkpoint *cp);
size_t dev_checkpoint_bytes(const dev_checkpoint *cp);  // memory it holds

// ---- Record ----------------------------------------------------------------------------
struct dev_checkpoint {
    int valid = 0;
    uint64_t frame = 0;
    // sequence
    int scene, fade, framecount, spawncount, quit;
    uint32_t scenestart, rand;
    float scenetime, dt, pulse, pulse2;
    // engine
    uint32_t video_time;
    int video_numframes, renderstate;
    int blend_src, blend_dst;
    // effects
    s_freedir fdtunnel, fdsphere, fdplane;
    s_camera camera;
    int juliare, juliaim, juliareup, juliaimup;
    float heading;
    c_particle particle[MAXPARTICLES];
    int startparticle;
    s_vertex vertex[VECTOR_MAXVERTICES];
    uint8_t xa, ya, za, numvertices, vectorstate, vectorobject;
    int32_t vectorx, vectory, vectordelay;
    // pictures
    std::vector<uint32_t> bg;        // bmp_bg's pixels
    std::vector<uint8_t> fb;         // the 480x270 framebuffer, RGBA, bottom row first
    // sound
    s_sound music;
    s_sound *active[SOUND_MAXACTIVE];
    int32_t numactive;
};

#endif
