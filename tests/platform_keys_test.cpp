// The key state the demo thread polls, through the real SDL backend and the engine's
// ORB_GetKeys: a press that is over before the next poll still counts once, a key
// held (repeating) across polls counts once, and two taps between polls are one press.
// Key events are pushed into SDL's queue and pumped as the main loop pumps them
// (SDL's own key state is not changed by pushed events: only the remembered press
// can report them).
#include "engine/input.h"
#include "platform/platform.h"
#include "tests/testutil_os.h"

#include <SDL2/SDL.h>
#include <gtest/gtest.h>
#include <stdlib.h>

namespace {

intptr_t ignore(unsigned, uintptr_t, intptr_t) { return 0; }

void push(Uint32 type, SDL_Scancode sc)
{
    SDL_Event e;
    SDL_zero(e);
    e.type = type;
    e.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
    e.key.keysym.scancode = sc;
    ASSERT_EQ(SDL_PushEvent(&e), 1);
}

void pump_all()
{
    while (plat_pump(ignore)) {}
}

struct Poll { int keys, pressed; };

Poll poll()
{
    Poll p;
    ORB_GetKeys(&p.keys, &p.pressed);
    return p;
}

TEST(PlatformKeys, EveryPressCountsOnceAtTheNextPoll)
{
    TU_NEED(getenv("DISPLAY") && plat_init(), "needs a display (run under Xvfb)");
    ASSERT_TRUE(plat_create_window("ORB Application", 10, 10));
    pump_all();
    poll();
    ASSERT_EQ(poll().keys, 0);

    // A tap between two polls: down at the next poll, and the press edge with it.
    push(SDL_KEYDOWN, SDL_SCANCODE_ESCAPE);
    push(SDL_KEYUP, SDL_SCANCODE_ESCAPE);
    pump_all();
    Poll p = poll();
    EXPECT_EQ(p.keys, 0x8000);
    EXPECT_EQ(p.pressed, 0x8000);
    // Reported once: the key is up at the poll after.
    p = poll();
    EXPECT_EQ(p.keys, 0);
    EXPECT_EQ(p.pressed, 0);

    // Held: the first down and its repeats keep the key down, one press in all.
    push(SDL_KEYDOWN, SDL_SCANCODE_ESCAPE);
    pump_all();
    EXPECT_EQ(poll().pressed, 0x8000);
    for (int i = 0; i < 3; i++) {
        push(SDL_KEYDOWN, SDL_SCANCODE_ESCAPE);
        pump_all();
        p = poll();
        EXPECT_EQ(p.keys, 0x8000);
        EXPECT_EQ(p.pressed, 0);
    }
    push(SDL_KEYUP, SDL_SCANCODE_ESCAPE);
    pump_all();
    EXPECT_EQ(poll().keys, 0);

    // Two taps between polls are one press; other keys fold as before (1 and Enter
    // together give one bit).
    for (int i = 0; i < 2; i++) {
        push(SDL_KEYDOWN, SDL_SCANCODE_ESCAPE);
        push(SDL_KEYUP, SDL_SCANCODE_ESCAPE);
    }
    push(SDL_KEYDOWN, SDL_SCANCODE_1);
    push(SDL_KEYDOWN, SDL_SCANCODE_RETURN);
    push(SDL_KEYUP, SDL_SCANCODE_1);
    push(SDL_KEYUP, SDL_SCANCODE_RETURN);
    pump_all();
    p = poll();
    EXPECT_EQ(p.keys, 0x9000);
    EXPECT_EQ(p.pressed, 0x9000);
    EXPECT_EQ(poll().keys, 0);

    plat_destroy_window();
    plat_shutdown();
}

}  // namespace
