// testutil_gl.cpp - one GL window per test process, and pixel read-back.
#include <GL/glew.h>

#include "tests/testutil_gl.h"

#include "demo/startup.h"

#include <stdio.h>
#include <stdlib.h>
#include <vector>

#include "engine/video.h"
#include "platform/platform.h"

static int opened, open_result, open_w, open_h;

int testgl_open(int width, int height)
{
    if (opened) {
        if (width != open_w || height != open_h) {
            printf("testgl_open: window already open at %d x %d, not %d x %d\n", open_w, open_h, width, height);
            return 0;
        }
        return open_result;
    }
    opened = 1;
    open_w = width;
    open_h = height;
    if (!getenv("DISPLAY")) return 0;
    if (!plat_init()) return 0;
    if (!plat_create_window("ORB Application", 10, 10)) return 0;
    ORB_InitVideo(width, height, 0);
    open_result = orb_glready;
    return open_result;
}

// Reads rows bottom-up from the bound read framebuffer and returns them top-first
// as 0xAARRGGBB; glx_y is the GL row of the area's bottom edge.
static void read_rows(int x, int glx_y, int w, int h, uint32_t *out)
{
    std::vector<uint8_t> rgba((size_t)w * h * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, glx_y, w, h, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    for (int row = 0; row < h; row++) {
        const uint8_t *src = &rgba[(size_t)(h - 1 - row) * w * 4];
        for (int col = 0; col < w; col++, src += 4)
            out[(size_t)row * w + col] =
                ((uint32_t)src[3] << 24) | ((uint32_t)src[0] << 16) | ((uint32_t)src[1] << 8) | src[2];
    }
}

void testgl_readback(int x, int y, int w, int h, uint32_t *out)
{
    GLint prev = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING_EXT, &prev);
    glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
    glReadBuffer(GL_BACK);
    read_rows(x, ORB_video.height - y - h, w, h, out);
    glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, (GLuint)prev);
}

void testgl_readfb(int x, int y, int w, int h, uint32_t *out)
{
    GLint prev = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING_EXT, &prev);
    GLuint fbo = ORB_framebuffers_enabled ? ORB_framebufferdata[ORB_FrameBuffer->index].fbo : 0;
    glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, fbo);
    if (fbo == 0) glReadBuffer(GL_BACK);
    read_rows(x, ORB_FrameBuffer->height - y - h, w, h, out);
    glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, (GLuint)prev);
}

// The demo's own post shader, as the present uses it.
const char *testgl_post_vertex = vv_mirador;
const char *testgl_post_fragment = ff_mirador;

int testgl_save_ppm(const char *path, int w, int h, const uint32_t *pixels)
{
    FILE *f = fopen(path, "wb");
    if (!f) return 0;
    fprintf(f, "P6\n%d %d\n255\n", w, h);
    for (long i = 0; i < (long)w * h; i++) {
        uint8_t rgb[3] = { (uint8_t)(pixels[i] >> 16), (uint8_t)(pixels[i] >> 8), (uint8_t)pixels[i] };
        fwrite(rgb, 1, 3, f);
    }
    return fclose(f) == 0;
}
