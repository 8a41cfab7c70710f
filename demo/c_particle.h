// c_particle.h - one particle: a sprite that flies in a straight line from its
// spawn point, speeding up by 5 % per frame, and dies after a number of frames.
//
// The only class of the demo: plain fields, no base, nothing virtual. Used as a
// fixed pool (see effects.h); a spawn into a live slot simply restarts it.
#ifndef DEMO_C_PARTICLE_H
#define DEMO_C_PARTICLE_H

#include <stdint.h>

class c_particle {
public:
    // (Re)start: position (x, y), direction angle in degrees (0 points down the
    // screen, 90 to the right), speed in pixels per frame, sprite type, life in frames.
    void Spawn(float x, float y, int angle, int speed, int type, int life);
    // Draw spr_particle[type mod 3] at the truncated position with blend mode 2,
    // if active.
    void Draw();
    // Move by the current velocity, then speed up by 5 % and age by one frame;
    // retires the particle when its life reaches 0. Nothing if inactive.
    void Handle();

    float x, y;       // screen position in pixels
    float dx, dy;     // velocity in pixels per frame
    int32_t life;     // frames left
    int32_t type;     // sprite choice
    int32_t active;   // 1 while alive, 0 when free
};

#endif
