// orb.cpp - graphics bookkeeping: the frame period, the frame-rate counter, the
// render statistics, the registry summary and the registry flush.
#include "engine/orb.h"

#include <stdio.h>

#include "engine/bitmap.h"
#include "engine/font.h"
#include "engine/sprite.h"
#include "engine/video.h"
#include "platform/platform.h"

uint32_t ORB_video_oldtime;
int ORB_video_fps;

void ORB_SetRefreshRate(int rate)
{
    if (rate < 0) {
        // -INT_MIN does not exist: the most negative rate gives the longest period.
        ORB_video_updatespeed = rate == -2147483647 - 1 ? 2147483647 : -rate;
    } else if (rate == 0) {
        // A rate of 0 would be an infinite period (and an undefined float-to-int
        // conversion): keep the current period.
        printf("ORB_SetRefreshRate: rate 0 ignored\n");
    } else {
        // The display's period shortened by 10 %, truncated: 60 Hz gives 15 ms.
        float m = (float)(rate * 1.1);
        float q = (float)(1000 / m);
        ORB_video_updatespeed = (int)q;
    }
    if (ORB_video_updatespeed == 0) ORB_video_updatespeed = 1;
    orb_frame_clock_restart();
    ORB_video_time = orb_frame_clock();
}

int ORB_GetFPS(void)
{
    uint32_t now = plat_ticks();
    if (now - ORB_video_oldtime >= 1000) {
        ORB_video_fps = ORB_video_numframes;
        ORB_video_numframes = 0;
        ORB_video_oldtime = now;
    }
    return ORB_video_fps;
}

void ORB_GetRenderStatus(int *triangles, int *texturebinds, int *stateswitches)
{
    *triangles = ORB_stats_numtriangles;
    *texturebinds = ORB_stats_numtexturebinds;
    *stateswitches = ORB_stats_numstateswitches;
}

void ORB_ShowGraphicsMemory(void)
{
    puts("[=== GRAPHICS MEMORY INFO ===]");
    printf("Num.Bitmaps: %d / %d\n", orb_numbitmaps, ORB_MAXBITMAPS);
    printf("Num.Sprites: %d / %d\n", orb_numsprites, ORB_MAXSPRITES);
    printf("Num.Fonts: %d / 16\n", orb_numfonts);
    printf("Num.Framebuffers: %d / %d\n", ORB_numframebuffers, 16);
    puts("[============================]");
}

void ORB_FlushGraphics(void)
{
    for (int i = 0; i < orb_numsprites; i++) ORB_DeleteSprite(orb_spritelist[i]);
    printf("[%d sprites deleted]\n", orb_numsprites);
    for (int i = 0; i < orb_numbitmaps; i++) ORB_DeleteBitmap(orb_bitmaplist[i]);
    printf("[%d bitmaps deleted]\n", orb_numbitmaps);
    // Fonts are forgotten, not deleted; framebuffers and shaders stay.
    orb_numbitmaps = 0;
    orb_numfonts = 0;
    orb_numsprites = 0;
}

void ORB_PushGraphics(void) {}
void ORB_PopGraphics(void) {}

// Textures have exactly the size of their image (non-power-of-two textures).
int PowerOfTwo(int n)
{
    return n;
}
