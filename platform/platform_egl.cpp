// platform_egl.cpp - one GL context on EGL, for the backends that make theirs there:
// the off-screen target (Mesa's surfaceless platform, desktop OpenGL, no surface) and
// the web page (emscripten's EGL, WebGL on the canvas). The caller says which
// display, API, configuration and context it wants and prints its own messages.
#include "platform/platform_backend.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <string.h>

// ---- State --------------------------------------------------------------------------------
static EGLDisplay egl_dpy = EGL_NO_DISPLAY;
static EGLSurface egl_surface = EGL_NO_SURFACE;
static EGLContext egl_ctx = EGL_NO_CONTEXT;

// ---- The context ----------------------------------------------------------------------------
int plategl_open(const plategl_want *want)
{
    if (want->platform) {
        auto getdisplay = (PFNEGLGETPLATFORMDISPLAYEXTPROC)eglGetProcAddress("eglGetPlatformDisplayEXT");
        if (!getdisplay) return PLATEGL_NODISPLAY;
        // The platform's default display: a null native display (EGL_DEFAULT_DISPLAY is
        // not a pointer on every EGL).
        egl_dpy = getdisplay((EGLenum)want->platform, nullptr, nullptr);
    } else {
        egl_dpy = eglGetDisplay(EGL_DEFAULT_DISPLAY);
    }
    EGLint major = 0, minor = 0;
    if (egl_dpy == EGL_NO_DISPLAY || !eglInitialize(egl_dpy, &major, &minor)) {
        egl_dpy = EGL_NO_DISPLAY;
        return PLATEGL_NODISPLAY;
    }
    EGLConfig cfg = nullptr;
    EGLint n = 0;
    // A context without a surface needs the display to allow that.
    const char *ext = want->window ? "" : eglQueryString(egl_dpy, EGL_EXTENSIONS);
    if (!ext || (!want->window && !strstr(ext, "EGL_KHR_surfaceless_context")) ||
        (want->api && !eglBindAPI((EGLenum)want->api))) {
        plategl_close();
        return PLATEGL_NOCONTEXT;
    }
    if (!eglChooseConfig(egl_dpy, want->config, &cfg, 1, &n) || n < 1) {
        plategl_close();
        return PLATEGL_NOCONFIG;
    }
    // The window surface is the display's default window (the web page's canvas).
    if (want->window) egl_surface = eglCreateWindowSurface(egl_dpy, cfg, 0, nullptr);
    egl_ctx = eglCreateContext(egl_dpy, cfg, EGL_NO_CONTEXT, want->context);
    if ((want->window && egl_surface == EGL_NO_SURFACE) || egl_ctx == EGL_NO_CONTEXT) {
        plategl_close();
        return PLATEGL_NOCONTEXT;
    }
    return PLATEGL_OK;
}

int plategl_ready(void) { return egl_ctx != EGL_NO_CONTEXT; }

int plategl_make_current(void)
{
    return egl_ctx != EGL_NO_CONTEXT && eglMakeCurrent(egl_dpy, egl_surface, egl_surface, egl_ctx);
}

void plategl_release(void)
{
    if (egl_dpy != EGL_NO_DISPLAY) eglMakeCurrent(egl_dpy, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
}

void *plategl_proc(const char *name) { return (void *)eglGetProcAddress(name); }

void plategl_close(void)
{
    if (egl_dpy != EGL_NO_DISPLAY) {
        eglMakeCurrent(egl_dpy, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        if (egl_ctx != EGL_NO_CONTEXT) eglDestroyContext(egl_dpy, egl_ctx);
        if (egl_surface != EGL_NO_SURFACE) eglDestroySurface(egl_dpy, egl_surface);
        eglTerminate(egl_dpy);
    }
    egl_dpy = EGL_NO_DISPLAY;
    egl_ctx = EGL_NO_CONTEXT;
    egl_surface = EGL_NO_SURFACE;
}
