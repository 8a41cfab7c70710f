// ORB_InitVideo asked for full screen (flags 0x1) on a display whose mode cannot be
// 1280x720 (Xvfb offers only its screen size): it runs windowed at the requested
// client size, at (100, 100), always on top, and does not ask for vertical sync.
#include <SDL2/SDL.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include "engine/video.h"
#include "platform/platform.h"
#include "tests/testutil_os.h"

TEST(VideoFullscreen, RefusedModeRunsWindowedWithoutVsync)
{
    TU_NEED(getenv("DISPLAY") && plat_init() && plat_create_window("ORB Application", 10, 10),
            "no display (run under Xvfb)");
    ORB_InitVideo(1280, 720, 1);
    TU_NEED(orb_glready, "no GL context");
    SDL_Window *win = SDL_GL_GetCurrentWindow();
    ASSERT_NE(win, nullptr);
    Uint32 flags = SDL_GetWindowFlags(win);
    int w = 0, h = 0;
    plat_window_size(&w, &h);
    EXPECT_EQ(w, 1280);
    EXPECT_EQ(h, 720);
    if (flags & SDL_WINDOW_FULLSCREEN) GTEST_SKIP() << "this display offers 1280x720: full screen kept";
    int x = -1, y = -1;
    SDL_GetWindowPosition(win, &x, &y);
    EXPECT_EQ(x, 100);
    EXPECT_EQ(y, 100);
    EXPECT_TRUE(flags & SDL_WINDOW_ALWAYS_ON_TOP);
    EXPECT_FALSE(flags & SDL_WINDOW_BORDERLESS);
    EXPECT_EQ(ORB_vsync_enabled, 0);
    EXPECT_EQ(ORB_video_updatespeed, 15);
}
