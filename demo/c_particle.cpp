// c_particle.cpp - particle spawn, draw and motion.
#include "demo/c_particle.h"

#include <limits.h>
#include <math.h>

#include "demo/main.h"
#include "engine/sprite.h"

// Truncates toward zero like a plain (int) cast, but saturates instead of being
// undefined when a long-lived particle has flown beyond the int range (its speed
// grows by 5 % per frame, so after a few thousand frames it is infinite).
static int particle_toint(float v)
{
    if (v != v) return 0;
    if (v >= 2147483648.0f) return INT_MAX;
    if (v < -2147483648.0f) return INT_MIN;
    return (int)v;
}

void c_particle::Spawn(float px, float py, int angle, int speed, int ptype, int plife)
{
    double a = angle * 0.017453292519943295;
    x = px;
    y = py;
    dx = (float)(sin(a) * speed);
    dy = (float)(cos(a) * speed);
    life = plife;
    type = ptype;
    active = 1;
}

void c_particle::Draw()
{
    if (!active) return;
    // The remainder takes the sign of type; a negative type would index before
    // the array, so it is folded into 0..2 as well.
    int t = type % 3;
    if (t < 0) t += 3;
    ORB_DrawBlendSprite(particle_toint(x), particle_toint(y), spr_particle[t], 2);
}

void c_particle::Handle()
{
    if (!active) return;
    x += dx;
    y += dy;
    dx = (float)(dx * 1.05);
    dy = (float)(dy * 1.05);
    if (life > INT_MIN) life -= 1;
    if (life <= 0) active = 0;
}
