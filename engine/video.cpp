// video.cpp - the output: video mode and GL context, the drawing primitives, the
// framebuffer table, the shader table, the present through the post shader and
// frame pacing.
//
// Every GL call is guarded by orb_glready: until ORB_InitVideo has made a context
// current nothing here touches GL, so bitmaps can be created and filled headless
// (texture names are then 0).
#include <GL/glew.h>

#include "engine/video.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "engine/bitmap.h"
#include "engine/orb.h"
#include "engine/sprite.h"
#include "platform/platform.h"

s_videomode ORB_video;
int ORB_vsync_enabled;
int ORB_shaders_enabled;
int ORB_projectionmode = 1;
int ORB_renderstate;
uint32_t ORB_lasttextureid = 0xFFFFFFFFu;
int ORB_stats_numtriangles;
int ORB_stats_numtexturebinds;
int ORB_stats_numstateswitches;
s_bitmap ORB_scanlinebitmap;

s_framebuffer ORB_framebuffers[ORB_MAXFRAMEBUFFERS];
s_framebufferdata ORB_framebufferdata[ORB_MAXFRAMEBUFFERS];
s_framebuffer *ORB_FrameBuffer;
int ORB_numframebuffers;
int ORB_framebuffers_enabled;
s_shader ORB_shader[ORB_MAXSHADERS];
int ORB_numshaders;
int ORB_postshader_id;
float ORB_fadevalue;
float ORB_scanlinevalue;
int ORB_video_updatespeed;
uint32_t ORB_video_time;
int ORB_video_numframes;
int orb_glready;

// The two triangles of a quad over its corners 0..3. Short indices: OpenGL ES
// draws nothing from byte indices in client memory.
static const GLushort quad_index[6] = { 0, 3, 2, 0, 2, 1 };

// 1 when the context is OpenGL ES (WebGL): GLSL ES shaders, no non-power-of-two
// texture without edge clamping, the depth-and-stencil texture of its own kind.
static int gl_es;

// The framebuffer object calls: the EXT_framebuffer_object names where the driver
// has all four, else the same calls under their core names (OpenGL ES and WebGL
// have only those). The enum values are the same under both names.
typedef void (GLAPIENTRY *fbo_gen_fn)(GLsizei n, GLuint *ids);
typedef void (GLAPIENTRY *fbo_bind_fn)(GLenum target, GLuint id);
typedef void (GLAPIENTRY *fbo_tex2d_fn)(GLenum target, GLenum attachment, GLenum textarget, GLuint tex, GLint level);
typedef GLenum (GLAPIENTRY *fbo_status_fn)(GLenum target);
static struct {
    fbo_gen_fn gen;
    fbo_bind_fn bind;
    fbo_tex2d_fn tex2d;
    fbo_status_fn status;
} fbo;

static void fbo_load(const char *suffix)
{
    char name[64];
    snprintf(name, sizeof name, "glGenFramebuffers%s", suffix);
    fbo.gen = (fbo_gen_fn)plat_gl_proc(name);
    snprintf(name, sizeof name, "glBindFramebuffer%s", suffix);
    fbo.bind = (fbo_bind_fn)plat_gl_proc(name);
    snprintf(name, sizeof name, "glFramebufferTexture2D%s", suffix);
    fbo.tex2d = (fbo_tex2d_fn)plat_gl_proc(name);
    snprintf(name, sizeof name, "glCheckFramebufferStatus%s", suffix);
    fbo.status = (fbo_status_fn)plat_gl_proc(name);
}

// Framebuffer objects are usable only when the driver offers all four entry points.
static int fbo_entry_points(void)
{
    return fbo.gen && fbo.bind && fbo.tex2d && fbo.status;
}

static void fbo_find(void)
{
    fbo_load("EXT");
    if (!fbo_entry_points()) fbo_load("");
}

static void bind_fbo(GLuint id)
{
    if (fbo.bind) fbo.bind(GL_FRAMEBUFFER_EXT, id);
}

// The window: its own back buffer, or the platform's stand-in for it off-screen.
static void bind_window(void)
{
    bind_fbo(plat_gl_window_fbo());
}

// ---- Video mode -------------------------------------------------------------------------

void ORB_InitVideo(int width, int height, int flags)
{
    // Window restyle, placement at (100, 100) with a client area of width x height,
    // always on top, full screen when asked and the mode really is width x height,
    // then the GL context, made current on this thread.
    int fullscreen = 0;
    int ok = plat_video_setup(width, height, flags & 0x1, &fullscreen);
    if (!fullscreen) flags &= ~0x1;
    orb_glready = ok && plat_gl_make_current();
    if (!orb_glready) printf("ORB_InitVideo: no OpenGL context, drawing disabled\n");

    if (orb_glready) {
        glViewport(0, 0, width, height);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        ORB_Perspective(45.0f, (float)width / (float)height, 0.01f, 1000.0f);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();

        glEnable(GL_TEXTURE_2D);
        glShadeModel(GL_SMOOTH);
        glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
        glEnable(GL_CULL_FACE);
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_LEQUAL);
        glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
        glAlphaFunc(GL_GREATER, 0.0f);
        glEnableClientState(GL_VERTEX_ARRAY);
        glEnableClientState(GL_TEXTURE_COORD_ARRAY);

        glewInit();
        const char *version = (const char *)glGetString(GL_VERSION);
        gl_es = version && strncmp(version, "OpenGL ES", 9) == 0;
        fbo_find();
        // The shader calls go through the GL 2.0 entry points, so those must exist too.
        if (GLEW_ARB_vertex_shader && GLEW_ARB_fragment_shader && glCreateShader && glUseProgram) {
            puts("\nReady for GLSL");
            ORB_shaders_enabled = 1;
        } else {
            puts("\nNo GLSL support");
            ORB_shaders_enabled = 0;
        }
        if (flags & 0x1) setVSync(0);
        else ORB_vsync_enabled = 0;
    } else {
        ORB_shaders_enabled = 0;
        ORB_vsync_enabled = 0;
    }

    ORB_numframebuffers = 0;
    ORB_InitFramebuffer(width, height);
    ORB_SetFramebuffer(0);
    ORB_SetPostShader(0);
    ORB_SetFadeValue(1.0f);
    ORB_SetScanlineValue(0.0f);

    ORB_video.width = width;
    ORB_video.height = height;
    ORB_video.pitch = width;
    ORB_video.bitsperpixel = 32;
    ORB_video.bytesperpixel = 4;
    ORB_video.redmask = 0x00FF0000;
    ORB_video.greenmask = 0x0000FF00;
    ORB_video.bluemask = 0x000000FF;
    ORB_video.redshift = 16;
    ORB_video.greenshift = 8;
    ORB_video.blueshift = 0;
    ORB_video.redbits = 8;
    ORB_video.greenbits = 8;
    ORB_video.bluebits = 8;

    // Scan-line overlay for the present without GLSL: even rows transparent, odd
    // rows opaque black.
    ORB_CreateBitmap(width, height, &ORB_scanlinebitmap);
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++)
            ORB_DrawPixel(x, y, (y & 1) ? 0xFF000000u : 0u, ORB_scanlinebitmap);
    ORB_UpdateBitmap(ORB_scanlinebitmap);

    // Registries start empty for the caller's own bitmaps: the scan-line bitmap is
    // dropped again, so a flush never deletes it.
    ORB_renderstate = 0;
    ORB_lasttextureid = 0xFFFFFFFFu;
    orb_numbitmaps = 0;
    orb_numsprites = 0;

    ORB_SetRefreshRate(60);
}

void ORB_CloseVideo(void)
{
    if (!orb_glready) return;
    plat_gl_release();
    orb_glready = 0;
}

void setVSync(int unused)
{
    (void)unused;
    if (!orb_glready) return;
    if (plat_gl_set_swap_interval(1)) {
        puts("setVsync: Vsync found!");
        ORB_vsync_enabled = 1;
    } else {
        ORB_vsync_enabled = 0;
    }
}

void VSyncOn(char interval)
{
    if (!orb_glready) return;
    plat_gl_set_swap_interval((int)(signed char)interval);
}

// ---- Projection ---------------------------------------------------------------------------

void ORB_Perspective(float fovy, float aspect, float znear, float zfar)
{
    if (!orb_glready) return;
    double top = tan((double)fovy * 3.141592653589793 / 360.0) * (double)znear;
    double bottom = -top;
    glFrustum((double)aspect * bottom, (double)aspect * top, bottom, top, (double)znear, (double)zfar);
}

void ORB_LookAt(float eyex, float eyey, float eyez, float centerx, float centery, float centerz)
{
    if (!orb_glready) return;
    double dx = (double)eyex - (double)centerx;
    double dy = (double)eyey - (double)centery;
    double dz = (double)eyez - (double)centerz;
    if (dx == 0.0 && dy == 0.0 && dz == 0.0) return;
    if (dx == 0.0 && dz == 0.0) {
        // Straight along the y axis: yaw is undefined, only pitch by a quarter turn.
        // The camera moves to the eye as in the general case (a move by the eye's
        // offset from the centre would be right only for a centre at the origin).
        glRotated(dy < 0.0 ? -90.0 : 90.0, 1.0, 0.0, 0.0);
        glTranslated(-(double)eyex, -(double)eyey, -(double)eyez);
        return;
    }
    double rxz = dx != 0.0 ? hypot(dx, dz) : dz;
    double r;
    if (dz == 0.0) r = hypot(dx, dy);
    else if (dy != 0.0) r = hypot(dy, rxz);
    else r = rxz;
    double pitch = asin(dy / r) * 57.29577951308232;
    double yaw = asin(dx / rxz) * 57.29577951308232;
    glRotated(pitch, 1.0, 0.0, 0.0);
    if (dz < 0.0) yaw = yaw + 180.0;
    else yaw = 360.0 - yaw;
    glRotated(yaw, 0.0, 1.0, 0.0);
    glTranslated(-(double)eyex, -(double)eyey, -(double)eyez);
}

void ORB_Enable2D(void)
{
    if (!orb_glready) return;
    if (ORB_projectionmode != 0) {
        // Pixels of the viewport, (0, 0) at the top left, y growing downwards.
        GLint vp[4];
        glGetIntegerv(GL_VIEWPORT, vp);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(vp[0], vp[0] + vp[2], vp[1] + vp[3], vp[1], -1.0, 1.0);
    }
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_LIGHTING);
    ORB_projectionmode = 0;
}

void ORB_Disable2D(void)
{
    if (!orb_glready || ORB_projectionmode != 0 || !ORB_FrameBuffer) return;
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    ORB_Perspective(45.0f, (float)ORB_FrameBuffer->width / (float)ORB_FrameBuffer->height, 0.01f, 1000.0f);
    glMatrixMode(GL_MODELVIEW);
    ORB_projectionmode = 1;
}

void ORB_UpdateMatrix(void) {}
void ORB_UpdateVertexData(void) {}
void ORB_DrawTriangles(void) {}

// ---- Blending, textures, render states ----------------------------------------------------

void ORB_SetBlendMode(int mode)
{
    if (!orb_glready) return;
    if (mode == 1) glBlendFunc(GL_SRC_COLOR, GL_DST_COLOR);
    else if (mode == 2) glBlendFunc(GL_SRC_COLOR, GL_ONE);
}

void ORB_SetBlendmode(int mode)
{
    ORB_SetBlendMode(mode);
}

static void upload_texture(const s_bitmap *bmp)
{
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, bmp->width, bmp->height, 0, GL_RGBA, GL_UNSIGNED_BYTE, bmp->pixels);
}

uint32_t ORB_CreateTexture(s_bitmap bmp)
{
    if (!orb_glready) return 0;
    GLuint id = 0;
    glGenTextures(1, &id);
    glBindTexture(GL_TEXTURE_2D, id);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    // OpenGL ES samples a texture of any other size than a power of two only with
    // its edges clamped (else it is incomplete and reads black). Desktop GL keeps
    // its default, repeat, which the pictures were made with.
    if (gl_es) {
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    }
    upload_texture(&bmp);
    return id;
}

void ORB_UpdateTexture(s_bitmap bmp)
{
    if (!orb_glready) return;
    glBindTexture(GL_TEXTURE_2D, bmp.texture);
    upload_texture(&bmp);
}

void ORB_DeleteTexture(s_bitmap bmp)
{
    if (!orb_glready) return;
    GLuint id = bmp.texture;
    glDeleteTextures(1, &id);
}

void ORB_BindTexture(uint32_t id)
{
    if (!orb_glready || id == ORB_lasttextureid) return;
    glBindTexture(GL_TEXTURE_2D, id);
    ORB_lasttextureid = id;
    ORB_stats_numtexturebinds++;
}

// Render-state bits in the order they are switched.
static const int state_bits[4] = { 0x2, 0x1, 0x4, 0x8 };
static const GLenum state_caps[4] = { GL_ALPHA_TEST, GL_DEPTH_TEST, GL_BLEND, GL_LIGHTING };

void ORB_EnableRenderState(int mask)
{
    // Any bit already believed on cancels the whole request.
    if (ORB_renderstate & mask) return;
    if (orb_glready)
        for (int i = 0; i < 4; i++)
            if (mask & state_bits[i]) glEnable(state_caps[i]);
    ORB_renderstate |= mask;
    ORB_stats_numstateswitches++;
}

void ORB_DisableRenderState(int mask)
{
    // Any bit believed on switches off every bit of the mask.
    if (!(ORB_renderstate & mask)) return;
    if (orb_glready)
        for (int i = 0; i < 4; i++)
            if (mask & state_bits[i]) glDisable(state_caps[i]);
    ORB_renderstate &= ~mask;
    ORB_stats_numstateswitches++;
}

// ---- Quads ----------------------------------------------------------------------------------

// Strict test against the current framebuffer: a quad that only touches an edge is
// not drawn.
static int quad_visible(float x, float y, float w, float h)
{
    if (!orb_glready || !ORB_FrameBuffer) return 0;
    return y > -h && y < (float)ORB_FrameBuffer->height && x > -w && x < (float)ORB_FrameBuffer->width;
}

static void emit_quad(const GLfloat *corners, const GLfloat *coords)
{
    glVertexPointer(3, GL_FLOAT, 0, corners);
    glTexCoordPointer(2, GL_FLOAT, 0, coords);
    glDrawElements(GL_TRIANGLES, 6, GL_UNSIGNED_SHORT, quad_index);
    ORB_stats_numtriangles += 2;
}

void ORB_DrawQuad(float x, float y, float w, float h, float uleft, float vtop, float uright, float vbottom)
{
    if (!quad_visible(x, y, w, h)) return;
    // Corners clockwise from the top left in y-down pixels, which is
    // counter-clockwise in GL window coordinates, so culling keeps them.
    GLfloat corners[12] = { x, y, 0.0f, x + w, y, 0.0f, x + w, y + h, 0.0f, x, y + h, 0.0f };
    GLfloat coords[8] = { uleft, vtop, uright, vtop, uright, vbottom, uleft, vbottom };
    ORB_Enable2D();
    emit_quad(corners, coords);
}

void ORB_DrawRotatedQuad(float x, float y, float w, float h, float uleft, float vtop, float uright,
                         float vbottom, float angle)
{
    if (!quad_visible(x, y, w, h)) return;
    float hw = w / 2, hh = h / 2;
    GLfloat corners[12] = { -hw, -hh, 0.0f, hw, -hh, 0.0f, hw, hh, 0.0f, -hw, hh, 0.0f };
    GLfloat coords[8] = { uleft, vtop, uright, vtop, uright, vbottom, uleft, vbottom };
    ORB_Enable2D();
    glLoadIdentity();
    glTranslatef(x + w / 2, y + h / 2, 0.0f);
    glRotatef(angle, 0.0f, 0.0f, 1.0f);
    emit_quad(corners, coords);
}

// ---- Framebuffers ------------------------------------------------------------------------------

int ORB_InitFramebuffer(int width, int height)
{
    int i = ORB_numframebuffers;
    if (i >= ORB_MAXFRAMEBUFFERS) {
        printf("ORB_InitFramebuffer: table full (%d)\n", ORB_MAXFRAMEBUFFERS);
        return -1;
    }
    if (width <= 0 || height <= 0) {
        printf("ORB_InitFramebuffer: bad size %d x %d\n", width, height);
        return -1;
    }
    ORB_framebuffers[i].width = width;
    ORB_framebuffers[i].height = height;
    ORB_framebuffers[i].index = i;
    s_framebufferdata *d = &ORB_framebufferdata[i];
    d->pixels = (uint32_t *)malloc((size_t)width * (size_t)height * 4);
    d->fbo = d->colortexture = d->depthtexture = 0;

    if (orb_glready) {
        if (glActiveTexture) glActiveTexture(GL_TEXTURE0);

        glGenTextures(1, &d->colortexture);
        glBindTexture(GL_TEXTURE_2D, d->colortexture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, NULL);

        glGenTextures(1, &d->depthtexture);
        glBindTexture(GL_TEXTURE_2D, d->depthtexture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_COMPARE_MODE, GL_NONE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        // OpenGL ES (WebGL's depth textures) knows the packed depth and stencil only by
        // its unsized name, and attaches it at the depth-and-stencil point.
        GLenum depth_at = GL_DEPTH_ATTACHMENT_EXT;
        if (gl_es) {
            glTexImage2D(GL_TEXTURE_2D, 0, GL_DEPTH_STENCIL, width, height, 0, GL_DEPTH_STENCIL,
                         GL_UNSIGNED_INT_24_8_EXT, NULL);
            depth_at = GL_DEPTH_STENCIL_ATTACHMENT;
        } else {
            glTexImage2D(GL_TEXTURE_2D, 0, GL_DEPTH24_STENCIL8_EXT, width, height, 0, GL_DEPTH_STENCIL_EXT,
                         GL_UNSIGNED_INT_24_8_EXT, NULL);
        }

        // A driver without framebuffer objects counts as an incomplete framebuffer:
        // drawing then goes to the window and the present reads it back.
        GLenum status = 0;
        if (fbo_entry_points()) {
            fbo.gen(1, &d->fbo);
            fbo.bind(GL_FRAMEBUFFER_EXT, d->fbo);
            fbo.tex2d(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_TEXTURE_2D, d->colortexture, 0);
            fbo.tex2d(GL_FRAMEBUFFER_EXT, depth_at, GL_TEXTURE_2D, d->depthtexture, 0);
            status = fbo.status(GL_FRAMEBUFFER_EXT);
        }
        if (status == GL_FRAMEBUFFER_COMPLETE_EXT) {
            ORB_framebuffers_enabled = 1;
        } else {
            printf("glCheckFramebufferStatus: error %p", (void *)(uintptr_t)status);
            ORB_framebuffers_enabled = 0;
        }
        bind_window();
    }
    ORB_numframebuffers++;
    return i;
}

static int valid_framebuffer(int index)
{
    return index >= 0 && index < ORB_numframebuffers;
}

void ORB_SetFramebuffer(int index)
{
    if (!valid_framebuffer(index)) {
        printf("ORB_SetFramebuffer: no framebuffer %d\n", index);
        return;
    }
    ORB_FrameBuffer = &ORB_framebuffers[index];
    if (!orb_glready) return;
    if (ORB_framebuffers_enabled) bind_fbo(ORB_framebufferdata[index].fbo);
    glBindTexture(GL_TEXTURE_2D, ORB_framebufferdata[index].colortexture);
    glViewport(0, 0, ORB_FrameBuffer->width, ORB_FrameBuffer->height);
    ORB_projectionmode = 1;
}

void ORB_DrawFramebuffer(int x, int y, int w, int h, int index)
{
    if (!orb_glready || !valid_framebuffer(index)) return;
    glBindTexture(GL_TEXTURE_2D, ORB_framebufferdata[index].colortexture);
    // v runs from 1 at the top edge to 0 at the bottom: the top row lands on top.
    ORB_DrawQuad((float)x, (float)y, (float)w, (float)h, 0.0f, 1.0f, 1.0f, 0.0f);
}

// ---- The frame clock ---------------------------------------------------------------------------
// A frame draws the show as it stood at the wait before the previous frame, and is seen
// once its swap returns. One frame step of that is the show's own (a captured frame
// too shows the state of the frame before it); whatever the frame takes beyond one step
// (its drawing, and on a slow machine or a large window its long frames) puts the
// picture behind its music. So the frame clock, which ORB_WaitRefresh and ORB_GetMillis
// read, runs ahead of the system's clock by that much: each wait measures how late the
// last picture came, and the lead moves a sixteenth of the way there, never further
// back than the system's clock has moved since its last reading (the clock never goes
// back). The sound keeps to the system's clock. A frame that took over
// ORB_LEAD_STALL_MS (a stall, not a lasting lateness) is not counted; where nothing
// waits here between swaps (a fixed clock) the lead stays 0.
#define ORB_LEAD_MOST_MS 150
#define ORB_LEAD_STALL_MS 250
#define ORB_LEAD_SMOOTHING 16.0f
static uint32_t orb_lead_ms;      // how far the frame clock runs ahead of the system's
static float orb_lead_aim;        // the smoothed lateness of the pictures, ms
static uint32_t orb_read_at;      // the system's clock at the frame clock's last reading
static uint32_t orb_wait_at[2];   // ... at the last two waits, older first
static int orb_waits;             // waits counted, up to 2
static uint32_t orb_swap_at;      // ... when the last swap returned
static int orb_swapped;           // 1 when a swap returned since the last wait

void orb_frame_clock_restart(void)
{
    orb_lead_ms = 0;
    orb_lead_aim = 0.0f;
    orb_waits = 0;
    orb_swapped = 0;
}

uint32_t orb_frame_clock(void)
{
    orb_read_at = plat_ticks();
    return orb_read_at + orb_lead_ms;
}

void orb_frame_presented(void)
{
    orb_swap_at = plat_ticks();
    orb_swapped = 1;
}

// At a wait: how late the picture of the frame just swapped came.
static void follow_lateness(void)
{
    if (!orb_swapped || orb_waits < 2) return;
    orb_swapped = 0;
    const uint32_t late = orb_swap_at - orb_wait_at[0];
    if (late > ORB_LEAD_STALL_MS) return;
    float beyond = (float)late - (float)ORB_video_updatespeed;
    if (beyond < 0.0f) beyond = 0.0f;
    if (beyond > (float)ORB_LEAD_MOST_MS) beyond = (float)ORB_LEAD_MOST_MS;
    orb_lead_aim += (beyond - orb_lead_aim) / ORB_LEAD_SMOOTHING;
    uint32_t lead = (uint32_t)(orb_lead_aim + 0.5f);
    if (lead < orb_lead_ms) {
        const int32_t moved = (int32_t)(plat_ticks() - orb_read_at);
        const uint32_t most = moved > 0 ? (uint32_t)moved : 0u;
        if (orb_lead_ms - lead > most) lead = orb_lead_ms - most;
    }
    orb_lead_ms = lead;
}

// ---- Presentation -------------------------------------------------------------------------------

void (*ORB_preswap_hook)(void);

void ORB_SwapBuffers(void)
{
    if (!orb_glready || !ORB_FrameBuffer) return;
    s_framebuffer *f = ORB_FrameBuffer;
    s_framebufferdata *d = &ORB_framebufferdata[f->index];
    float w = (float)ORB_video.width, h = (float)ORB_video.height;

    bind_window();
    if (!ORB_framebuffers_enabled && d->pixels) {
        // The frame was drawn into the window's lower-left corner: copy it into the
        // framebuffer's texture so the scale-up below works the same way.
        glReadPixels(0, 0, f->width, f->height, GL_RGBA, GL_UNSIGNED_BYTE, d->pixels);
        glBindTexture(GL_TEXTURE_2D, d->colortexture);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, f->width, f->height, 0, GL_RGBA, GL_UNSIGNED_BYTE, d->pixels);
    }
    glBindTexture(GL_TEXTURE_2D, d->colortexture);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glViewport(0, 0, ORB_video.width, ORB_video.height);
    ORB_projectionmode = 1;
    ORB_Enable2D();

    if (ORB_shaders_enabled) {
        int p = ORB_postshader_id;
        ORB_BindShader(p);
        if (p >= 0 && p < ORB_MAXSHADERS) {
            glUniform1i(glGetUniformLocation(ORB_shader[p].program, "fbo_texture"), 0);
            glUniform1i(glGetUniformLocation(ORB_shader[p].program, "fbo_depth"), 1);
        }
        ORB_SetShaderValue(p, "fadevalue", ORB_fadevalue);
        ORB_SetShaderValue(p, "scanlinevalue", ORB_scanlinevalue);
        ORB_DrawQuad(0.0f, 0.0f, w, h, 0.0f, 1.0f, 1.0f, 0.0f);
        ORB_UnbindShader();
    } else {
        // Over the cleared black window, alpha blending with the fade as alpha gives
        // picture x fade; the scan-line overlay then darkens every other row.
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        glEnable(GL_BLEND);
        glColor4f(1.0f, 1.0f, 1.0f, ORB_fadevalue);
        ORB_DrawQuad(0.0f, 0.0f, w, h, 0.0f, 1.0f, 1.0f, 0.0f);
        glBindTexture(GL_TEXTURE_2D, ORB_scanlinebitmap.texture);
        glColor4f(1.0f, 1.0f, 1.0f, ORB_scanlinevalue);
        ORB_DrawQuad(0.0f, 0.0f, w, h, 0.0f, 1.0f, 1.0f, 0.0f);
        glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
        glDisable(GL_BLEND);
    }

    glFinish();
    if (ORB_preswap_hook) ORB_preswap_hook();
    plat_gl_swap();
    orb_frame_presented();

    if (ORB_framebuffers_enabled) bind_fbo(d->fbo);
    glViewport(0, 0, f->width, f->height);
    ORB_projectionmode = 1;
    ORB_lasttextureid = 0xFFFFFFFFu;
    ORB_stats_numtriangles = 0;
    ORB_stats_numtexturebinds = 0;
    ORB_stats_numstateswitches = 0;
}

void ORB_SwapBuffers2(void)
{
    if (!orb_glready || !ORB_FrameBuffer) return;
    plat_gl_swap();
    orb_frame_presented();
    glViewport(0, 0, ORB_FrameBuffer->width, ORB_FrameBuffer->height);
    bind_window();
}

float ORB_WaitRefresh(void)
{
    ORB_video_numframes++;
    follow_lateness();
    // Unsigned 32-bit arithmetic throughout; with vsync the swap has already waited.
    uint32_t now = orb_frame_clock();
    while (ORB_video_time + (uint32_t)ORB_video_updatespeed > now && ORB_vsync_enabled == 0) now = orb_frame_clock();
    float elapsed = (float)(uint32_t)(orb_frame_clock() - ORB_video_time);
    ORB_video_time = now;
    orb_wait_at[0] = orb_wait_at[1];
    orb_wait_at[1] = now - orb_lead_ms;
    if (orb_waits < 2) orb_waits++;
    if (ORB_vsync_enabled && (float)ORB_video_updatespeed >= elapsed) return 1.0f;
    return elapsed / (float)ORB_video_updatespeed;
}

// ---- Shaders ---------------------------------------------------------------------------------------

static int valid_shader(int index)
{
    return index >= 0 && index < ORB_MAXSHADERS;
}

// GLSL 1.20 source as GLSL ES 1.00 takes it: without its #version line (the GL
// emulation of a WebGL context puts its own lines first), and with each integer
// literal that is an operand of * or / written as a float (GLSL ES converts no int
// to float). Limits: a shader that multiplies or divides ints by literals is not
// taken; nothing else is rewritten.
static std::string es_source(const char *src)
{
    std::string out;
    const char *p = src;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r') p++;
    if (strncmp(p, "#version", 8) == 0) {
        while (*p && *p != '\n') p++;
    } else {
        p = src;
    }
    char op = 0;  // the last character that was no space: a literal right after * or /
    for (; *p; p++) {
        char c = *p;
        if ((op == '*' || op == '/') && c >= '0' && c <= '9') {
            const char *q = p;
            while (*q >= '0' && *q <= '9') q++;
            out.append(p, (size_t)(q - p));
            int isfloat = *q == '.' || *q == 'e' || *q == 'E';
            if (!isfloat) out += ".0";
            p = q - 1;
            op = '0';
            continue;
        }
        out += c;
        if (c != ' ' && c != '\t') op = c;
    }
    return out;
}

int ORB_InitShader(const char *vertex, const char *fragment)
{
    int i = ORB_numshaders;
    if (i >= ORB_MAXSHADERS) {
        printf("ORB_InitShader: table full (%d)\n", ORB_MAXSHADERS);
        return -1;
    }
    if (ORB_shaders_enabled) {
        s_shader *s = &ORB_shader[i];
        s->vertexshader = glCreateShader(GL_VERTEX_SHADER);
        s->fragmentshader = glCreateShader(GL_FRAGMENT_SHADER);
        if (!vertex || !fragment) {
            // The index is not used up; the two fresh shader objects are freed.
            glDeleteShader(s->vertexshader);
            glDeleteShader(s->fragmentshader);
            s->vertexshader = s->fragmentshader = 0;
            printf("Either vertex shader or fragment shader file not found.");
            return -1;
        }
        printf("vv: %s\n", vertex);
        printf("ff: %s\n", fragment);
        std::string vs, fs;
        if (gl_es) {
            vs = es_source(vertex);
            fs = es_source(fragment);
            vertex = vs.c_str();
            fragment = fs.c_str();
        }
        glShaderSource(s->vertexshader, 1, &vertex, NULL);
        glShaderSource(s->fragmentshader, 1, &fragment, NULL);
        glCompileShader(s->vertexshader);
        validateShader(s->vertexshader, "vertexshader");
        glCompileShader(s->fragmentshader);
        validateShader(s->fragmentshader, "fragmentshader");
        s->program = glCreateProgram();
        glAttachShader(s->program, s->fragmentshader);
        glAttachShader(s->program, s->vertexshader);
        glLinkProgram(s->program);
        validateProgram(s->program);
    }
    ORB_numshaders++;
    return i;
}

int ORB_LoadShader(const char *vertexpath, const char *fragmentpath)
{
    char *vertex = textFileRead(vertexpath);
    char *fragment = textFileRead(fragmentpath);
    int i = ORB_InitShader(vertex, fragment);
    // GL keeps its own copy of the sources.
    free(vertex);
    free(fragment);
    return i;
}

void ORB_DeleteShader(int index)
{
    if (!ORB_shaders_enabled || !valid_shader(index)) return;
    s_shader *s = &ORB_shader[index];
    glDetachShader(s->program, s->fragmentshader);
    glDetachShader(s->program, s->vertexshader);
    glDeleteShader(s->fragmentshader);
    glDeleteShader(s->vertexshader);
    glDeleteProgram(s->program);
}

void ORB_BindShader(int index)
{
    if (!ORB_shaders_enabled || !valid_shader(index)) return;
    glUseProgram(ORB_shader[index].program);
}

void ORB_UnbindShader(void)
{
    if (!ORB_shaders_enabled) return;
    glUseProgram(0);
}

void ORB_SetShaderValue(int index, const char *name, float value)
{
    if (!ORB_shaders_enabled || !valid_shader(index)) return;
    ORB_BindShader(index);
    glUniform1f(glGetUniformLocation(ORB_shader[index].program, name), value);
}

void ORB_SetFadeValue(float v) { ORB_fadevalue = v; }
void ORB_SetScanlineValue(float v) { ORB_scanlinevalue = v; }
void ORB_SetPostShader(int index) { ORB_postshader_id = index; }

char *textFileRead(const char *path)
{
    if (!path) return NULL;
    FILE *f = fopen(path, "rt");
    if (!f) return NULL;
    long size = -1;
    if (fseek(f, 0, SEEK_END) == 0) size = ftell(f);
    if (size <= 0) {
        fclose(f);
        return NULL;
    }
    rewind(f);
    char *text = (char *)malloc((size_t)size + 1);
    if (!text) {
        fclose(f);
        return NULL;
    }
    size_t got = fread(text, 1, (size_t)size, f);
    text[got] = 0;
    fclose(f);
    return text;
}

void validateShader(uint32_t shader, const char *label)
{
    if (!ORB_shaders_enabled) return;
    char log[512];
    GLsizei len = 0;
    memset(log, 0, sizeof log);
    glGetShaderInfoLog(shader, sizeof log, &len, log);
    if (len > 0) printf("Shader %d,%s,compiler error: %s\n", (int)shader, label ? label : "", log);
}

void validateProgram(uint32_t program)
{
    if (!ORB_shaders_enabled) return;
    char log[512];
    GLsizei len = 0;
    memset(log, 0, sizeof log);
    glGetProgramInfoLog(program, sizeof log, &len, log);
    if (len > 0) printf("Program %d,link error: %s\n", (int)program, log);
    GLint status = 0;
    glValidateProgram(program);
    glGetProgramiv(program, GL_VALIDATE_STATUS, &status);
    if (status == 0) printf("Error validating shader %d\n", (int)program);
}
