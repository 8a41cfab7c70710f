// platform_nooffscreen.cpp - the answer of a build without off-screen rendering (the
// Windows, web and null backends, and an SDL program that does not link the off-screen
// target): plat_init_offscreen says there is none. It sits in a library of its own,
// linked after every backend: a static library's member is taken only for a call
// still unresolved, so where platform_offscreen.cpp is linked its definition wins and
// this one is never taken.
#include "platform/platform_backend.h"

int plat_init_offscreen(const char **how)
{
    if (how) *how = "this program was built without off-screen rendering";
    return 0;
}
