// held.h - mirador-dev's pictures held back until their sound is heard.
//
// At 1x each frame's sound goes to the end of a queue: what is queued before it, the
// device's ring of blocks and the device's own buffer lie between it and the ear, some
// 100 to 170 ms on a sound server. A picture presented as soon as it is drawn comes
// that much before its music. So while the music plays, each finished frame is copied
// out of the show's framebuffer into a slot of its own with what its present needs
// (the fade, the scan lines, the post shader), and is presented when its sound
// reaches the ear: the caller says when that is. The show's state is not touched: a
// held present is the present the frame would have had, later.
//
// Limits: needs framebuffer objects (without them the scene draws into the window
// itself); HELD_SLOTS frames at most (a longer wait is cut to what the slots hold).
#ifndef TOOLS_DEV_HELD_H
#define TOOLS_DEV_HELD_H

#include <stdint.h>

// ---- Calls ---------------------------------------------------------------------------
// Makes the slots' textures for the current GL context; 0 without framebuffer objects
// (then nothing is held).
int held_open(void);
// Copies the show's finished frame (the current framebuffer, right after its scene)
// into a slot, to be presented at wall time due_ms. The oldest slot gives way when
// all are full. 0 when not open.
int held_put(uint64_t frame, int scene, double period_pos, double due_ms);
// The frame a held present puts on screen.
typedef struct {
    uint64_t frame;
    int scene;
    double period_pos;
} held_frame;
// The frame due by now_ms to go on screen: the newest one due, the older ones due
// with it are dropped (their count added to *dropped) unless every is set (a record
// wants every frame: then the oldest one due). 0 when none is due.
int held_next(double now_ms, int every, held_frame *out, uint64_t *dropped);
// Presents the frame held_next returned (the show's present, from its slot), then
// gives its slot back.
void held_present(void);
// When the next held frame is due (wall ms); 0 when none is held.
double held_due(void);
int held_count(void);
void held_close(void);

#define HELD_SLOTS 16   // 267 ms at 60 frames a second

#endif
