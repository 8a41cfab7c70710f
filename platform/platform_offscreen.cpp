// platform_offscreen.cpp - rendering without a window, for the programs that read
// their pictures back (the capture): a GL context with no window on Mesa's EGL
// surfaceless platform; where that is missing, a hidden window's context on the
// display, or on a private Xvfb started here. The window is stood in for by a
// framebuffer object of the asked size. Linked only into the programs that call
// plat_init_offscreen; it works with the SDL backend, whose video and GL calls it
// takes over. The EGL context is platform_egl.cpp's.
#include "platform/platform_backend.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <SDL2/SDL.h>
#include <SDL2/SDL_opengl.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

// ---- State --------------------------------------------------------------------------------
enum { OFF_EGL = 1, OFF_WINDOW };
static int off_way;
static SDL_Window *off_window;            // OFF_WINDOW: the hidden window and its context
static SDL_GLContext off_context;
static GLuint off_fbo, off_rb;
static int off_w, off_h;
static pid_t off_xvfb_pid;

// ---- The context --------------------------------------------------------------------------
static int off_make_current(void)
{
    if (off_way == OFF_EGL) return plategl_make_current();
    return off_window && off_context && SDL_GL_MakeCurrent(off_window, off_context) == 0;
}

static void off_release(void)
{
    if (off_way == OFF_EGL) {
        plategl_release();
        return;
    }
    if (off_window) SDL_GL_MakeCurrent(off_window, nullptr);
}

static void *off_proc(const char *name)
{
    if (off_way == OFF_EGL) return plategl_proc(name);
    return SDL_GL_GetProcAddress(name);
}

static uint32_t off_window_fbo(void) { return off_fbo; }

static void off_size(int *w, int *h)
{
    if (w) *w = off_fbo ? off_w : 0;
    if (h) *h = off_fbo ? off_h : 0;
}

static void off_destroy(void)
{
    plategl_close();
    if (off_context) {
        SDL_GL_DeleteContext(off_context);
        off_context = nullptr;
    }
    if (off_window) {
        SDL_DestroyWindow(off_window);
        off_window = nullptr;
    }
}

static void off_shutdown(void)
{
    if (off_xvfb_pid > 0) {
        kill(off_xvfb_pid, SIGTERM);
        waitpid(off_xvfb_pid, nullptr, 0);
        off_xvfb_pid = 0;
    }
}

// The context, current on this thread for a moment: the window's stand-in, a
// framebuffer object of w x h with 8-bit RGBA colour, is made and left bound, as a
// window's own framebuffer is when its context starts. It has no depth buffer: the
// engine draws its scenes into framebuffers of its own and only presents into the
// window, with depth testing off; clearing an unused depth buffer of the output's
// size would cost every frame.
static int off_video_setup(int w, int h, int want_fullscreen, int *fullscreen)
{
    *fullscreen = 0;
    if (off_way == OFF_WINDOW && !off_context) off_context = SDL_GL_CreateContext(off_window);
    if (!off_make_current()) return 0;
    auto genfb = (PFNGLGENFRAMEBUFFERSPROC)off_proc("glGenFramebuffers");
    auto bindfb = (PFNGLBINDFRAMEBUFFERPROC)off_proc("glBindFramebuffer");
    auto genrb = (PFNGLGENRENDERBUFFERSPROC)off_proc("glGenRenderbuffers");
    auto bindrb = (PFNGLBINDRENDERBUFFERPROC)off_proc("glBindRenderbuffer");
    auto storage = (PFNGLRENDERBUFFERSTORAGEPROC)off_proc("glRenderbufferStorage");
    auto attach = (PFNGLFRAMEBUFFERRENDERBUFFERPROC)off_proc("glFramebufferRenderbuffer");
    auto status = (PFNGLCHECKFRAMEBUFFERSTATUSPROC)off_proc("glCheckFramebufferStatus");
    int ok = 0;
    if (genfb && bindfb && genrb && bindrb && storage && attach && status && !off_fbo) {
        genfb(1, &off_fbo);
        bindfb(GL_FRAMEBUFFER, off_fbo);
        genrb(1, &off_rb);
        bindrb(GL_RENDERBUFFER, off_rb);
        storage(GL_RENDERBUFFER, GL_RGBA8, w, h);
        attach(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, off_rb);
        bindrb(GL_RENDERBUFFER, 0);
        ok = status(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
        if (!ok) printf("off-screen framebuffer %d x %d incomplete\n", w, h);
    }
    off_release();
    if (!ok) return 0;
    off_w = w;
    off_h = h;
    *fullscreen = want_fullscreen ? 1 : 0;
    return 1;
}

static const platsdl_offscreen off_target = {
    off_video_setup, off_make_current, off_release, off_proc, off_window_fbo, off_size, off_destroy, off_shutdown,
};

// ---- The three ways --------------------------------------------------------------------------
static int egl_open(void)
{
    // Any surface type: the context draws into its own framebuffer objects only (the
    // default would ask for window surfaces, which a surfaceless display has none of).
    static const EGLint cfgattr[] = { EGL_SURFACE_TYPE, 0, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                                      EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8, EGL_NONE };
    // A compatibility context: fixed-function drawing and GLSL 1.20, as a window gets.
    static const EGLint ctxattr[] = { EGL_CONTEXT_MAJOR_VERSION, 2, EGL_CONTEXT_MINOR_VERSION, 1, EGL_NONE };
    const plategl_want want = { EGL_PLATFORM_SURFACELESS_MESA, EGL_OPENGL_API, cfgattr, ctxattr, 0 };
    if (plategl_open(&want) != PLATEGL_OK) return 0;
    // A context that cannot be made current is no context.
    if (!plategl_make_current()) {
        plategl_close();
        return 0;
    }
    plategl_release();
    return 1;
}

// Starts Xvfb on a free display number, which it reports through a pipe, and points
// DISPLAY at it. It ends with this process (a parent-death signal) or in plat_shutdown.
static int xvfb_start(char *display, size_t size)
{
    int fds[2];
    if (pipe(fds) != 0) return 0;
    pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return 0;
    }
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        close(fds[0]);
        int null = open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, 0);
            dup2(null, 1);
            dup2(null, 2);
        }
        char fd[16];
        snprintf(fd, sizeof fd, "%d", fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd, "-screen", "0", "640x480x24", "-noreset", "-nolisten", "tcp",
               (char *)nullptr);
        _exit(127);
    }
    close(fds[1]);
    off_xvfb_pid = pid;
    char num[16] = { 0 };
    size_t got = 0;
    while (got < sizeof(num) - 1) {
        ssize_t r = read(fds[0], num + got, 1);
        if (r <= 0 || num[got] == '\n') break;
        got++;
    }
    close(fds[0]);
    num[got] = 0;
    if (got == 0 || got >= sizeof(num) - 1 || num[0] == '\n') {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        off_xvfb_pid = 0;
        return 0;
    }
    snprintf(display, size, ":%s", num);
    setenv("DISPLAY", display, 1);
    return 1;
}

static int offscreen_window(void)
{
    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) return 0;
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 1);
    off_window = SDL_CreateWindow("ORB Application", 0, 0, 16, 16, SDL_WINDOW_HIDDEN | SDL_WINDOW_OPENGL);
    if (!off_window) {
        SDL_Quit();
        return 0;
    }
    return 1;
}

int plat_init_offscreen(const char **how)
{
    static char line[128];
    platp_stdout_lines();
    platp_set_main_thread();
    // ORB_OFFSCREEN=egl, window or xvfb asks for one way only (for tests of each).
    const char *want = getenv("ORB_OFFSCREEN");
    if (!want) want = "";
    if ((!*want || strcmp(want, "egl") == 0) && egl_open()) {
        off_way = OFF_EGL;
        snprintf(line, sizeof line, "rendering off-screen (EGL, no display needed)");
    } else if ((!*want || strcmp(want, "window") == 0) && getenv("DISPLAY") && offscreen_window()) {
        off_way = OFF_WINDOW;
        snprintf(line, sizeof line, "rendering off-screen through a hidden window on display %s",
                 getenv("DISPLAY"));
    } else {
        char display[32];
        if (*want && strcmp(want, "xvfb") != 0) return 0;
        if (!xvfb_start(display, sizeof display)) return 0;
        if (!offscreen_window()) {
            off_shutdown();
            return 0;
        }
        off_way = OFF_WINDOW;
        snprintf(line, sizeof line, "no off-screen EGL context: rendering on a private Xvfb, display %s", display);
    }
    platsdl_target = &off_target;
    if (how) *how = line;
    return 1;
}
