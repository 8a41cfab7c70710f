// rand.h - the show's random numbers: the C runtime's classic rand() of the
// platform the show was made on, the same on every platform.
//
// A linear congruential generator over an unsigned 32-bit state:
// state = state * 214013 + 2531011 (wrapping), and each draw is bits 16..30 of the
// new state, 0..32767. The program never seeds it: the state starts at 1, so the
// show's draws are the same on every run. Several scenes, the particle rings and
// the frame loop's scan-line flicker draw from it, each draw one call at a fixed
// point of the frame; the golden pictures depend on the exact sequence.
//
// Threads: not thread-safe; every draw happens on the demo thread.
#ifndef DEMO_RAND_H
#define DEMO_RAND_H

#include <stdint.h>

// ---- Calls -----------------------------------------------------------------------------
int orb_rand(void);                     // next draw, 0..32767

// The generator's whole state, to save a point of the show and come back to it:
// after orb_rand_setstate(s) the draws are those that followed the moment
// orb_rand_getstate() returned s. Every 32-bit value is a valid state; 1 is the
// state at program start.
uint32_t orb_rand_getstate(void);
void     orb_rand_setstate(uint32_t state);

#endif
