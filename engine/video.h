// video.h - the output: video mode and GL context, drawing primitives (textured
// quads in a 2D pixel projection, textures with a one-entry bind cache, render
// states, blend modes), framebuffers, the shader table, the present through the
// post shader, and frame pacing. All calls run on the thread that called
// ORB_InitVideo (the demo thread); before it, no call touches GL.
//
// Limits: 16 framebuffers (ORB_MAXFRAMEBUFFERS), numbered in creation order;
// ORB_InitVideo makes number 0 at the output size. ORB_InitFramebuffer with 16
// made prints "ORB_InitFramebuffer: table full (16)" and returns -1; a width or
// height that is not positive prints "ORB_InitFramebuffer: bad size W x H" and
// returns -1. Numbers are never given back; ORB_InitVideo starts the table again at
// 0 without freeing the old framebuffers. ORB_SetFramebuffer with a number that was
// not made prints "ORB_SetFramebuffer: no framebuffer N" and keeps the current
// one; ORB_DrawFramebuffer with such a number draws nothing.
// 64 shaders (ORB_MAXSHADERS), numbered in creation order. ORB_InitShader (and
// ORB_LoadShader) with 64 made prints "ORB_InitShader: table full (64)" and returns
// -1; with GLSL, a missing source (an unreadable file) prints a line and returns -1
// without using a number. Without GLSL every call still uses a number that has no
// program; a compile or link error prints GL's log and the number is still given.
// Numbers are never given back, a deleted one included. ORB_BindShader,
// ORB_SetShaderValue and ORB_DeleteShader do nothing for a number outside 0..63; a
// number in range that was never made holds program 0 (no shader). A post-shader
// number outside 0..63 makes the present draw the frame without the post shader.
#ifndef ENGINE_VIDEO_H
#define ENGINE_VIDEO_H

#include <stdint.h>
#include "engine/bitmap.h"

// ---- Video mode ----------------------------------------------------------------
void ORB_InitVideo(int width, int height, int flags); // flags 0x1: full screen and vsync
void ORB_CloseVideo(void);
void setVSync(int unused);
void VSyncOn(char interval);

// ---- Projection ------------------------------------------------------------------
void ORB_Perspective(float fovy, float aspect, float znear, float zfar);
void ORB_LookAt(float eyex, float eyey, float eyez, float centerx, float centery, float centerz);
void ORB_Enable2D(void);
void ORB_Disable2D(void);
void ORB_UpdateMatrix(void);      // empty
void ORB_UpdateVertexData(void);  // empty
void ORB_DrawTriangles(void);     // empty

// ---- Blending, textures, render states ---------------------------------------------
void ORB_SetBlendMode(int mode);  // 1: src*src + dst*dst, 2: src*src + dst
void ORB_SetBlendmode(int mode);
uint32_t ORB_CreateTexture(s_bitmap bmp);
void ORB_UpdateTexture(s_bitmap bmp);
void ORB_DeleteTexture(s_bitmap bmp);
void ORB_BindTexture(uint32_t id);
void ORB_EnableRenderState(int mask);   // 0x1 depth, 0x2 alpha test, 0x4 blend, 0x8 lighting
void ORB_DisableRenderState(int mask);

// ---- Quads (pixels of the current framebuffer, y down) -------------------------------
void ORB_DrawQuad(float x, float y, float w, float h,
                  float uleft, float vtop, float uright, float vbottom);
void ORB_DrawRotatedQuad(float x, float y, float w, float h,
                         float uleft, float vtop, float uright, float vbottom, float angle);

// ---- Framebuffers and presentation ------------------------------------------------
int   ORB_InitFramebuffer(int width, int height);
void  ORB_SetFramebuffer(int index);
void  ORB_DrawFramebuffer(int x, int y, int w, int h, int index);
void  ORB_SwapBuffers(void);
void  ORB_SwapBuffers2(void);
float ORB_WaitRefresh(void);
// The frame clock (ms, wraps): the system's, ahead by how late the pictures come
// beyond one frame step, measured at each wait. ORB_WaitRefresh and ORB_GetMillis
// read it; the presents report each returned swap; ORB_SetRefreshRate restarts it
// (no lead).
uint32_t orb_frame_clock(void);
void orb_frame_presented(void);
void orb_frame_clock_restart(void);

// ---- Shaders -------------------------------------------------------------------------
int   ORB_InitShader(const char *vertex, const char *fragment);
int   ORB_LoadShader(const char *vertexpath, const char *fragmentpath);
void  ORB_DeleteShader(int index);
void  ORB_SetShaderValue(int index, const char *name, float value);
void  ORB_BindShader(int index);
void  ORB_UnbindShader(void);
void  ORB_SetFadeValue(float v);
void  ORB_SetScanlineValue(float v);
void  ORB_SetPostShader(int index);
char *textFileRead(const char *path);
void  validateShader(uint32_t shader, const char *label);
void  validateProgram(uint32_t program);

// ---- State ---------------------------------------------------------------------------
typedef struct {
    int32_t width, height, pitch, bitsperpixel, bytesperpixel;
    int32_t redmask, greenmask, bluemask;
    int32_t redshift, greenshift, blueshift;
    int32_t redbits, greenbits, bluebits;
} s_videomode;

#define ORB_MAXFRAMEBUFFERS 16
#define ORB_MAXSHADERS 64

typedef struct { int32_t width, height, index; } s_framebuffer;

// GL objects of a framebuffer (same index as ORB_framebuffers).
typedef struct {
    uint32_t *pixels;       // width x height system-memory copy, used by the read-back present
    uint32_t fbo;           // framebuffer object
    uint32_t colortexture;  // RGBA colour attachment
    uint32_t depthtexture;  // 24-bit depth, 8-bit stencil attachment
} s_framebufferdata;

typedef struct { uint32_t program, vertexshader, fragmentshader; } s_shader;

extern s_videomode ORB_video;
extern int ORB_vsync_enabled;
extern int ORB_shaders_enabled;
extern int ORB_projectionmode;
extern int ORB_renderstate;
extern uint32_t ORB_lasttextureid;
extern int ORB_stats_numtriangles;
extern int ORB_stats_numtexturebinds;
extern int ORB_stats_numstateswitches;
extern s_bitmap ORB_scanlinebitmap;
extern s_framebuffer ORB_framebuffers[ORB_MAXFRAMEBUFFERS];
extern s_framebufferdata ORB_framebufferdata[ORB_MAXFRAMEBUFFERS];
extern s_framebuffer *ORB_FrameBuffer;
extern int ORB_numframebuffers;
extern int ORB_framebuffers_enabled;
extern s_shader ORB_shader[ORB_MAXSHADERS];
extern int ORB_numshaders;
extern int ORB_postshader_id;
extern float ORB_fadevalue;
extern float ORB_scanlinevalue;
extern int ORB_video_updatespeed;
extern uint32_t ORB_video_time;
extern int ORB_video_numframes;
extern int orb_glready;                 // 1 while ORB_InitVideo's GL context is current
extern void (*ORB_preswap_hook)(void);  // null; if set, called by the present right before the swap

#endif
