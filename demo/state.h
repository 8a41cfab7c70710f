// state.h - the show's state: every global a frame leaves behind for the next one.
//
// The show is deterministic, but each frame depends on all the frames before it. What
// carries from one frame to the next is listed here once, beside the declarations, so
// that a tool can save a point of the show and come back to it exactly (mirador-dev's
// saved points copy the list in a loop). A global the show writes that is not listed
// here must be rebuilt every frame or set once at start-up; tests/dev_state_e2e.sh
// reads the library's writable globals and fails on one that is neither listed here
// nor named there with its reason.
//
// SHOW_STATE(X) calls X(name) for each plain global: its bytes are the state
// (trivially copyable records and arrays). What is not plain bytes is copied by the
// few hooks of the tool that saves it, listed here so that they are found with the
// rest:
// - the pictures: bmp_bg's pixels (the vhs scene redraws only half of them a frame)
//   and the 480x270 framebuffer (kept, never cleared, between frames);
// - GL state: the render-state mask (ORB_renderstate, brought back through the
//   engine's enable and disable calls) and the blend function it stands for;
// - the music's play state: gamemusic's position and playing flag, the playing list
//   (active_sounds, soundsystem.numactive), under the sound lock;
// - the random generator's state (orb_rand_getstate, static in rand.cpp).
// SHOW_STATE_KEPT(X) names the parts of listed records that start-up sets and that
// belong to the running program, not to the point of the show (a texture's address):
// a saved point put back in another process keeps the values it finds.
#ifndef DEMO_STATE_H
#define DEMO_STATE_H

#include "demo/effects.h"
#include "demo/main.h"
#include "demo/scenes.h"
#include "demo/startup.h"
#include "demo/vector.h"
#include "engine/video.h"

// ---- The show's state ------------------------------------------------------------------
#define SHOW_STATE(X)                                                                  \
    /* the sequence */                                                                 \
    X(scene) X(scenestart) X(scenetime) X(dt) X(fade) X(pulse) X(pulse2)               \
    X(framecount) X(spawncount) X(quit)                                                \
    /* the engine's frame clock */                                                     \
    X(ORB_video_time) X(ORB_video_numframes)                                           \
    /* the effects' records */                                                         \
    X(fdtunnel) X(fdsphere) X(fdplane) X(camera)                                       \
    X(juliare) X(juliaim) X(juliareup) X(juliaimup) X(heading)                         \
    X(particle) X(startparticle)                                                       \
    X(vertex) X(xa) X(ya) X(za) X(numvertices) X(vectorstate) X(vectorobject)          \
    X(vectorx) X(vectory) X(vectordelay)

#define SHOW_STATE_KEPT(X) X(fdtunnel.texture) X(fdsphere.texture) X(fdplane.texture)

#endif
