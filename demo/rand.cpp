// rand.cpp - the show's random numbers (the C runtime's classic rand()).
#include "demo/rand.h"

static uint32_t rand_state = 1;   // never seeded

int orb_rand(void)
{
    rand_state = rand_state * 214013u + 2531011u;
    return (int)((rand_state >> 16) & 0x7FFF);
}

uint32_t orb_rand_getstate(void)
{
    return rand_state;
}

void orb_rand_setstate(uint32_t state)
{
    rand_state = state;
}
