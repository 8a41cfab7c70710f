// orb.h - graphics bookkeeping: the frame period, the frame-rate counter, render
// statistics, the registry summary and flush.
#ifndef ENGINE_ORB_H
#define ENGINE_ORB_H

#include <stdint.h>

void ORB_SetRefreshRate(int rate);       // Hz; a negative value is a period in ms
int  ORB_GetFPS(void);
void ORB_GetRenderStatus(int *triangles, int *texturebinds, int *stateswitches);
void ORB_ShowGraphicsMemory(void);
void ORB_FlushGraphics(void);
void ORB_PushGraphics(void);             // empty
void ORB_PopGraphics(void);              // empty
int  PowerOfTwo(int n);                  // returns n

extern uint32_t ORB_video_oldtime;
extern int ORB_video_fps;

#endif
