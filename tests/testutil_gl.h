// testutil_gl.h - helpers for tests that draw with GL: one window and context per
// process, and reading pixels back.
//
// Run such tests under Xvfb (xvfb-run -a -s "-screen 0 1920x1080x24" ...). Without a
// display testgl_open returns 0 and the test says so with TU_NEED (testutil_os.h).
#ifndef TESTS_TESTUTIL_GL_H
#define TESTS_TESTUTIL_GL_H

#include <stdint.h>

// Once per process, on the calling thread: plat_init, the hidden window
// "ORB Application" (10 x 10) and ORB_InitVideo(width, height, 0). Returns 1 when a
// GL context is current. Later calls return the first call's result; a later call
// with another size prints a line and returns 0 (one window size per process).
int testgl_open(int width, int height);

// Window pixels (x, y) .. (x + w - 1, y + h - 1), y counted from the window's top,
// read from the back buffer with glReadPixels into out[w * h] as 0xAARRGGBB, top row
// first. Reads the window whatever framebuffer is bound and leaves the binding as it
// was.
void testgl_readback(int x, int y, int w, int h, uint32_t *out);

// The same for the current framebuffer ORB_FrameBuffer (its texture when framebuffer
// objects are in use, else the window's lower-left area the frame is drawn into),
// y counted from the framebuffer's top row.
void testgl_readfb(int x, int y, int w, int h, uint32_t *out);

// The demo's post shader pair (GLSL 1.20): 540 scan-line bands darkened by
// scanlinevalue, everything multiplied by fadevalue.
extern const char *testgl_post_vertex;
extern const char *testgl_post_fragment;



// Writes w x h pixels (0xAARRGGBB, top row first) as a binary PPM; 1 on success.
// For looking at a test's picture: convert it with ImageMagick to PNG.
int testgl_save_ppm(const char *path, int w, int h, const uint32_t *pixels);
#endif
