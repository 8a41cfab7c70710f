// platform_sdl.cpp - the Linux backend on SDL2 and POSIX: window and message pump,
// window requests served by the main thread, threads, the clock, the GL context
// (or an off-screen one on EGL), key state, mouse, joysticks, the audio device and
// the file system.
#include "platform/platform.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <SDL2/SDL.h>
#include <SDL2/SDL_opengl.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

// ---- State --------------------------------------------------------------------------------
static SDL_Window *plat_window;
static SDL_GLContext plat_context;
static std::thread::id plat_mainthread;
static std::atomic<int> plat_quit_flag{0};
static std::atomic<int> plat_quit_code{0};
static std::atomic<int> plat_close_pending{0};
static std::atomic<int> plat_fullscreen{0};
static std::atomic<int> plat_win_w{0}, plat_win_h{0};
static std::atomic<uint8_t> plat_keystate[256];
static std::atomic<uint8_t> plat_keylatch[256];   // went down since its last read
static std::atomic<int> plat_mx{0}, plat_my{0};
static std::atomic<uint32_t (*)(void)> plat_clock{nullptr};

// Off-screen rendering (plat_init_offscreen): how the context is made, and the
// framebuffer object that stands for the window.
enum { OFF_NONE, OFF_EGL, OFF_WINDOW };
static int plat_offscreen;
static EGLDisplay egl_dpy = EGL_NO_DISPLAY;
static EGLContext egl_ctx = EGL_NO_CONTEXT;
static GLuint plat_window_fbo, plat_window_rb[1];
static pid_t plat_xvfb_pid;

// ---- Virtual-key codes ----------------------------------------------------------------------
// SDL scancode -> Windows virtual-key code (0: no code). Left and right modifier keys
// share the generic code in key messages, as Windows reports them.
static uint8_t sc_to_vk[SDL_NUM_SCANCODES];

static void plat_init_keytable(void)
{
    memset(sc_to_vk, 0, sizeof(sc_to_vk));
    for (int i = 0; i < 26; i++) sc_to_vk[SDL_SCANCODE_A + i] = (uint8_t)('A' + i);
    for (int i = 0; i < 9; i++) sc_to_vk[SDL_SCANCODE_1 + i] = (uint8_t)('1' + i);
    sc_to_vk[SDL_SCANCODE_0] = '0';
    for (int i = 0; i < 12; i++) sc_to_vk[SDL_SCANCODE_F1 + i] = (uint8_t)(0x70 + i);
    for (int i = 0; i < 9; i++) sc_to_vk[SDL_SCANCODE_KP_1 + i] = (uint8_t)(0x61 + i);
    static const struct { int sc; uint8_t vk; } keys[] = {
        { SDL_SCANCODE_RETURN, 0x0D }, { SDL_SCANCODE_ESCAPE, 0x1B }, { SDL_SCANCODE_BACKSPACE, 0x08 },
        { SDL_SCANCODE_TAB, 0x09 }, { SDL_SCANCODE_SPACE, 0x20 }, { SDL_SCANCODE_MINUS, 0xBD },
        { SDL_SCANCODE_EQUALS, 0xBB }, { SDL_SCANCODE_LEFTBRACKET, 0xDB }, { SDL_SCANCODE_RIGHTBRACKET, 0xDD },
        { SDL_SCANCODE_BACKSLASH, 0xDC }, { SDL_SCANCODE_SEMICOLON, 0xBA }, { SDL_SCANCODE_APOSTROPHE, 0xDE },
        { SDL_SCANCODE_GRAVE, 0xC0 }, { SDL_SCANCODE_COMMA, 0xBC }, { SDL_SCANCODE_PERIOD, 0xBE },
        { SDL_SCANCODE_SLASH, 0xBF }, { SDL_SCANCODE_CAPSLOCK, 0x14 }, { SDL_SCANCODE_PRINTSCREEN, 0x2C },
        { SDL_SCANCODE_SCROLLLOCK, 0x91 }, { SDL_SCANCODE_PAUSE, 0x13 }, { SDL_SCANCODE_INSERT, 0x2D },
        { SDL_SCANCODE_HOME, 0x24 }, { SDL_SCANCODE_PAGEUP, 0x21 }, { SDL_SCANCODE_DELETE, 0x2E },
        { SDL_SCANCODE_END, 0x23 }, { SDL_SCANCODE_PAGEDOWN, 0x22 }, { SDL_SCANCODE_RIGHT, 0x27 },
        { SDL_SCANCODE_LEFT, 0x25 }, { SDL_SCANCODE_DOWN, 0x28 }, { SDL_SCANCODE_UP, 0x26 },
        { SDL_SCANCODE_NUMLOCKCLEAR, 0x90 }, { SDL_SCANCODE_KP_DIVIDE, 0x6F }, { SDL_SCANCODE_KP_MULTIPLY, 0x6A },
        { SDL_SCANCODE_KP_MINUS, 0x6D }, { SDL_SCANCODE_KP_PLUS, 0x6B }, { SDL_SCANCODE_KP_ENTER, 0x0D },
        { SDL_SCANCODE_KP_0, 0x60 }, { SDL_SCANCODE_KP_PERIOD, 0x6E },
        { SDL_SCANCODE_LCTRL, 0x11 }, { SDL_SCANCODE_RCTRL, 0x11 }, { SDL_SCANCODE_LSHIFT, 0x10 },
        { SDL_SCANCODE_RSHIFT, 0x10 }, { SDL_SCANCODE_LALT, 0x12 }, { SDL_SCANCODE_RALT, 0x12 },
        { SDL_SCANCODE_LGUI, 0x5B }, { SDL_SCANCODE_RGUI, 0x5C },
    };
    for (const auto &k : keys) sc_to_vk[k.sc] = k.vk;
}

// Copies SDL's keyboard state into the snapshot the demo thread reads. The left and
// right modifier codes (0xA0..0xA5) are reported as well as the generic ones.
static void plat_snapshot_keys(void)
{
    int n = 0;
    const Uint8 *state = SDL_GetKeyboardState(&n);
    uint8_t down[256];
    memset(down, 0, sizeof(down));
    for (int sc = 0; sc < n && sc < SDL_NUM_SCANCODES; sc++)
        if (state[sc] && sc_to_vk[sc]) down[sc_to_vk[sc]] = 1;
    down[0xA0] = state[SDL_SCANCODE_LSHIFT];
    down[0xA1] = state[SDL_SCANCODE_RSHIFT];
    down[0xA2] = state[SDL_SCANCODE_LCTRL];
    down[0xA3] = state[SDL_SCANCODE_RCTRL];
    down[0xA4] = state[SDL_SCANCODE_LALT];
    down[0xA5] = state[SDL_SCANCODE_RALT];
    for (int i = 0; i < 256; i++) plat_keystate[i].store(down[i], std::memory_order_relaxed);
    int mx = 0, my = 0;
    SDL_GetMouseState(&mx, &my);
    plat_mx.store(mx, std::memory_order_relaxed);
    plat_my.store(my, std::memory_order_relaxed);
}

// ---- Window requests ---------------------------------------------------------------------------
// The demo thread's window calls are executed by the main thread's loop, which owns
// every SDL video call; the caller waits for the answer.
enum { REQ_VIDEO_SETUP, REQ_SET_TITLE, REQ_MOUSE_WARP };

typedef struct {
    int type;
    int a, b, c;
    const char *text;
    int result, out;
    bool done;
} plat_request;

static std::mutex req_lock;
static std::condition_variable req_cond;
static plat_request *req_pending;

static int plat_do_video_setup(int w, int h, int want_fullscreen, int *fullscreen)
{
    *fullscreen = 0;
    if (!plat_window) return 0;
    SDL_SetWindowBordered(plat_window, SDL_TRUE);
    SDL_SetWindowResizable(plat_window, SDL_FALSE);
    SDL_SetWindowAlwaysOnTop(plat_window, SDL_TRUE);
    SDL_SetWindowSize(plat_window, w, h);
    SDL_SetWindowPosition(plat_window, 100, 100);
    SDL_ShowWindow(plat_window);
    if (want_fullscreen) {
        // SDL may report success yet give another size (a virtual display offers only
        // its own): read the mode back and keep full screen only at exactly w x h.
        SDL_DisplayMode mode = { SDL_PIXELFORMAT_RGB888, w, h, 60, nullptr };
        SDL_DisplayMode got;
        int ok = SDL_SetWindowDisplayMode(plat_window, &mode) == 0 &&
                 SDL_SetWindowFullscreen(plat_window, SDL_WINDOW_FULLSCREEN) == 0;
        SDL_PumpEvents();
        int display = SDL_GetWindowDisplayIndex(plat_window);
        if (ok && display >= 0 && SDL_GetCurrentDisplayMode(display, &got) == 0 && got.w == w && got.h == h) {
            *fullscreen = 1;
            plat_fullscreen.store(1);
        } else {
            SDL_SetWindowFullscreen(plat_window, 0);
            SDL_SetWindowSize(plat_window, w, h);
            SDL_SetWindowPosition(plat_window, 100, 100);
        }
    }
    SDL_RaiseWindow(plat_window);
    plat_win_w.store(w);
    plat_win_h.store(h);
    if (!plat_context) {
        plat_context = SDL_GL_CreateContext(plat_window);
        if (!plat_context) {
            printf("GL context: %s\n", SDL_GetError());
            return 0;
        }
    }
    SDL_GL_MakeCurrent(plat_window, nullptr);
    return 1;
}

static int plat_do_offscreen_setup(int w, int h, int want_fullscreen, int *fullscreen);

static void plat_serve(plat_request *r)
{
    if (plat_offscreen) {
        if (r->type == REQ_VIDEO_SETUP) r->result = plat_do_offscreen_setup(r->a, r->b, r->c, &r->out);
        return;
    }
    switch (r->type) {
    case REQ_VIDEO_SETUP: r->result = plat_do_video_setup(r->a, r->b, r->c, &r->out); break;
    case REQ_SET_TITLE: if (plat_window) SDL_SetWindowTitle(plat_window, r->text); break;
    case REQ_MOUSE_WARP: if (plat_window) SDL_WarpMouseInWindow(plat_window, r->a, r->b); break;
    }
}

// Runs r on the main thread: at once when called there, else through the loop.
static void plat_request_run(plat_request *r)
{
    if (plat_is_main_thread()) {
        plat_serve(r);
        return;
    }
    std::unique_lock<std::mutex> lk(req_lock);
    req_cond.wait(lk, [] { return req_pending == nullptr; });
    r->done = false;
    req_pending = r;
    req_cond.wait(lk, [r] { return r->done; });
}

static int plat_serve_pending(void)
{
    std::unique_lock<std::mutex> lk(req_lock);
    plat_request *r = req_pending;
    if (!r) return 0;
    lk.unlock();
    plat_serve(r);
    lk.lock();
    r->done = true;
    req_pending = nullptr;
    req_cond.notify_all();
    return 1;
}

// ---- Start, window, pump ---------------------------------------------------------------------
// Diagnostic lines reach a pipe as they are printed.
static void plat_stdout_lines(void) { setvbuf(stdout, nullptr, _IOLBF, 0); }

int plat_init(void)
{
    plat_stdout_lines();
    plat_mainthread = std::this_thread::get_id();
    plat_init_keytable();
    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_JOYSTICK | SDL_INIT_EVENTS) != 0) {
        fprintf(stderr, "no window system: %s\n", SDL_GetError());
        return 0;
    }
    // Without a display SDL falls back to drivers that show nothing. Unless such a
    // driver was asked for by name, that counts as having no display at all.
    const char *driver = SDL_GetCurrentVideoDriver();
    if (!getenv("SDL_VIDEODRIVER") && driver &&
        (strcmp(driver, "offscreen") == 0 || strcmp(driver, "dummy") == 0)) {
        const char *d = getenv("DISPLAY");
        fprintf(stderr, "no window system: %s\n", d && *d ? "the display could not be opened" : "DISPLAY is not set");
        SDL_Quit();
        return 0;
    }
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 1);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
    return 1;
}

int plat_create_window(const char *title, int width, int height)
{
    plat_window = SDL_CreateWindow(title, 0, 0, width, height, SDL_WINDOW_HIDDEN | SDL_WINDOW_OPENGL);
    if (!plat_window) return 0;
    // The cursor is hidden while it is over the window's client area.
    SDL_ShowCursor(SDL_DISABLE);
    plat_win_w.store(width);
    plat_win_h.store(height);
    return 1;
}

// Translates one SDL event into the Windows message the window procedure knows.
static void plat_dispatch(const SDL_Event *e, plat_wndproc proc)
{
    switch (e->type) {
    case SDL_QUIT:
        proc(WM_CLOSE, 0, 0);
        break;
    case SDL_WINDOWEVENT:
        if (e->window.event == SDL_WINDOWEVENT_CLOSE) proc(WM_CLOSE, 0, 0);
        break;
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
        int sc = e->key.keysym.scancode;
        uint8_t vk = (sc >= 0 && sc < SDL_NUM_SCANCODES) ? sc_to_vk[sc] : 0;
        // Every press is remembered until the key state is next read, so a tap that
        // ends before the next poll still counts.
        if (e->type == SDL_KEYDOWN && vk) plat_keylatch[vk].store(1, std::memory_order_relaxed);
        // Keys typed with Alt held are system keys: the window procedure never sees them.
        if (e->key.keysym.mod & KMOD_ALT) break;
        if (vk == 0 || vk == 0x12) break;
        proc(e->type == SDL_KEYDOWN ? WM_KEYDOWN : WM_KEYUP, vk, 0);
        break;
    }
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
        bool down = e->type == SDL_MOUSEBUTTONDOWN;
        if (e->button.button == SDL_BUTTON_LEFT) proc(down ? WM_LBUTTONDOWN : WM_LBUTTONUP, 0, 0);
        else if (e->button.button == SDL_BUTTON_RIGHT) proc(down ? WM_RBUTTONDOWN : WM_RBUTTONUP, 0, 0);
        else if (e->button.button == SDL_BUTTON_MIDDLE) proc(down ? WM_MBUTTONDOWN : WM_MBUTTONUP, 0, 0);
        break;
    }
    case SDL_MOUSEWHEEL: {
        int y = e->wheel.y;
        if (e->wheel.direction == SDL_MOUSEWHEEL_FLIPPED) y = -y;
        long d = (long)y * WHEEL_DELTA;
        if (d > 32767) d = 32767;
        if (d < -32768) d = -32768;
        proc(WM_MOUSEWHEEL, (uintptr_t)((uint16_t)(int16_t)d) << 16, 0);
        break;
    }
    default:
        break;
    }
}

int plat_pump(plat_wndproc proc)
{
    if (plat_serve_pending()) return 1;
    if (plat_close_pending.exchange(0)) {
        proc(WM_CLOSE, 0, 0);
        return 1;
    }
    SDL_Event e;
    if (!SDL_PollEvent(&e)) {
        plat_snapshot_keys();
        return 0;
    }
    plat_dispatch(&e, proc);
    plat_snapshot_keys();
    return 1;
}

void plat_sleep(unsigned ms) { SDL_Delay(ms); }

void plat_post_close(void) { plat_close_pending.store(1); }

void plat_post_quit(int code)
{
    plat_quit_code.store(code);
    plat_quit_flag.store(1);
}

int plat_quit_posted(int *code)
{
    if (!plat_quit_flag.load()) return 0;
    if (code) *code = plat_quit_code.load();
    return 1;
}

void plat_destroy_window(void)
{
    if (egl_dpy != EGL_NO_DISPLAY) {
        eglMakeCurrent(egl_dpy, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        if (egl_ctx != EGL_NO_CONTEXT) eglDestroyContext(egl_dpy, egl_ctx);
        eglTerminate(egl_dpy);
        egl_ctx = EGL_NO_CONTEXT;
        egl_dpy = EGL_NO_DISPLAY;
    }
    if (plat_context) {
        SDL_GL_DeleteContext(plat_context);
        plat_context = nullptr;
    }
    if (plat_window) {
        SDL_DestroyWindow(plat_window);
        plat_window = nullptr;
    }
}

void plat_shutdown(void)
{
    plat_audio_close();
    SDL_Quit();
    if (plat_xvfb_pid > 0) {
        kill(plat_xvfb_pid, SIGTERM);
        waitpid(plat_xvfb_pid, nullptr, 0);
        plat_xvfb_pid = 0;
    }
}

void plat_message_box(const char *text)
{
    SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_INFORMATION, "", text, nullptr);
}

// ---- Threads and process end --------------------------------------------------------------------
struct plat_thread {
    std::thread thread;
    std::atomic<int> running{1};
};

plat_thread *plat_thread_start(plat_threadfn fn, void *arg)
{
    plat_thread *t = new plat_thread;
    try {
        t->thread = std::thread([t, fn, arg] {
            fn(arg);
            // A context left current here would be current on a thread that no longer exists.
            if (SDL_GL_GetCurrentContext()) SDL_GL_MakeCurrent(plat_window, nullptr);
            t->running.store(0);
        });
    } catch (...) {
        delete t;
        return nullptr;
    }
    return t;
}

int plat_thread_running(plat_thread *t) { return t && t->running.load(); }

void plat_thread_join(plat_thread *t)
{
    if (!t) return;
    if (t->thread.joinable()) t->thread.join();
    delete t;
}

int plat_is_main_thread(void) { return std::this_thread::get_id() == plat_mainthread; }

void plat_thread_terminate(plat_thread *t, int code)
{
    // Nothing ends a thread from outside on POSIX: the process ends with it.
    (void)t;
    // Give the desktop its display mode back before leaving.
    if (plat_fullscreen.load() && plat_window && plat_is_main_thread())
        SDL_SetWindowFullscreen(plat_window, 0);
    // Flush standard output only when no other thread holds its lock.
    if (ftrylockfile(stdout) == 0) {
        fflush(stdout);
        funlockfile(stdout);
    }
    _exit(code);
}

// ---- Clock ----------------------------------------------------------------------------------------
uint32_t plat_ticks(void)
{
    uint32_t (*fn)(void) = plat_clock.load(std::memory_order_relaxed);
    return fn ? fn() : (uint32_t)SDL_GetTicks();
}

void plat_set_clock(uint32_t (*fn)(void)) { plat_clock.store(fn); }

// ---- Video and GL -----------------------------------------------------------------------------------
int plat_video_setup(int width, int height, int want_fullscreen, int *fullscreen)
{
    plat_request r = { REQ_VIDEO_SETUP, width, height, want_fullscreen, nullptr, 0, 0, false };
    plat_request_run(&r);
    if (fullscreen) *fullscreen = r.out;
    return r.result;
}

int plat_gl_make_current(void)
{
    if (plat_offscreen == OFF_EGL)
        return egl_ctx != EGL_NO_CONTEXT && eglMakeCurrent(egl_dpy, EGL_NO_SURFACE, EGL_NO_SURFACE, egl_ctx);
    if (!plat_window || !plat_context) return 0;
    return SDL_GL_MakeCurrent(plat_window, plat_context) == 0;
}

void plat_gl_release(void)
{
    if (plat_offscreen == OFF_EGL) {
        if (egl_dpy != EGL_NO_DISPLAY) eglMakeCurrent(egl_dpy, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        return;
    }
    if (plat_window) SDL_GL_MakeCurrent(plat_window, nullptr);
}

int plat_gl_set_swap_interval(int n)
{
    if (plat_offscreen) return n == 1;
    return SDL_GL_SetSwapInterval(n) == 0;
}

void plat_gl_swap(void)
{
    if (plat_offscreen) return;
    if (plat_window) SDL_GL_SwapWindow(plat_window);
}

void *plat_gl_proc(const char *name)
{
    if (plat_offscreen == OFF_EGL) return (void *)eglGetProcAddress(name);
    return SDL_GL_GetProcAddress(name);
}

uint32_t plat_gl_window_fbo(void) { return plat_window_fbo; }

void plat_set_title(const char *title)
{
    plat_request r = { REQ_SET_TITLE, 0, 0, 0, title, 0, 0, false };
    plat_request_run(&r);
}

void plat_window_size(int *w, int *h)
{
    int known = plat_window || plat_window_fbo;
    if (w) *w = known ? plat_win_w.load() : 0;
    if (h) *h = known ? plat_win_h.load() : 0;
}

// ---- Off-screen rendering ---------------------------------------------------------------------------
// A context with no window: EGL on Mesa's surfaceless platform. Where that is missing,
// a hidden window's context on the display, or on a private Xvfb started here.
static int egl_open(void)
{
    auto getdisplay = (PFNEGLGETPLATFORMDISPLAYEXTPROC)eglGetProcAddress("eglGetPlatformDisplayEXT");
    if (!getdisplay) return 0;
    egl_dpy = getdisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    EGLint major = 0, minor = 0;
    if (egl_dpy == EGL_NO_DISPLAY || !eglInitialize(egl_dpy, &major, &minor)) {
        egl_dpy = EGL_NO_DISPLAY;
        return 0;
    }
    const char *ext = eglQueryString(egl_dpy, EGL_EXTENSIONS);
    EGLConfig cfg = nullptr;
    EGLint n = 0;
    // Any surface type: the context draws into its own framebuffer objects only (the
    // default would ask for window surfaces, which a surfaceless display has none of).
    static const EGLint cfgattr[] = { EGL_SURFACE_TYPE, 0, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                                      EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8, EGL_NONE };
    // A compatibility context: fixed-function drawing and GLSL 1.20, as a window gets.
    static const EGLint ctxattr[] = { EGL_CONTEXT_MAJOR_VERSION, 2, EGL_CONTEXT_MINOR_VERSION, 1, EGL_NONE };
    if (ext && strstr(ext, "EGL_KHR_surfaceless_context") && eglBindAPI(EGL_OPENGL_API) &&
        eglChooseConfig(egl_dpy, cfgattr, &cfg, 1, &n) && n == 1)
        egl_ctx = eglCreateContext(egl_dpy, cfg, EGL_NO_CONTEXT, ctxattr);
    if (egl_ctx == EGL_NO_CONTEXT || !eglMakeCurrent(egl_dpy, EGL_NO_SURFACE, EGL_NO_SURFACE, egl_ctx)) {
        plat_destroy_window();
        return 0;
    }
    eglMakeCurrent(egl_dpy, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
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
    plat_xvfb_pid = pid;
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
        plat_xvfb_pid = 0;
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
    plat_window = SDL_CreateWindow("ORB Application", 0, 0, 16, 16, SDL_WINDOW_HIDDEN | SDL_WINDOW_OPENGL);
    if (!plat_window) {
        SDL_Quit();
        return 0;
    }
    return 1;
}

int plat_init_offscreen(const char **how)
{
    static char line[128];
    plat_stdout_lines();
    plat_mainthread = std::this_thread::get_id();
    plat_init_keytable();
    // ORB_OFFSCREEN=egl, window or xvfb asks for one way only (for tests of each).
    const char *want = getenv("ORB_OFFSCREEN");
    if (!want) want = "";
    if ((!*want || strcmp(want, "egl") == 0) && egl_open()) {
        plat_offscreen = OFF_EGL;
        snprintf(line, sizeof line, "rendering off-screen (EGL, no display needed)");
    } else if ((!*want || strcmp(want, "window") == 0) && getenv("DISPLAY") && offscreen_window()) {
        plat_offscreen = OFF_WINDOW;
        snprintf(line, sizeof line, "rendering off-screen through a hidden window on display %s",
                 getenv("DISPLAY"));
    } else {
        char display[32];
        if (*want && strcmp(want, "xvfb") != 0) return 0;
        if (!xvfb_start(display, sizeof display)) return 0;
        if (!offscreen_window()) {
            plat_shutdown();
            return 0;
        }
        plat_offscreen = OFF_WINDOW;
        snprintf(line, sizeof line, "no off-screen EGL context: rendering on a private Xvfb, display %s", display);
    }
    if (how) *how = line;
    return 1;
}

// The context, current on this thread for a moment: the window's stand-in, a
// framebuffer object of w x h with 8-bit RGBA colour, is made and left bound, as a
// window's own framebuffer is when its context starts. It has no depth buffer: the
// engine draws its scenes into framebuffers of its own and only presents into the
// window, with depth testing off; clearing an unused depth buffer of the output's
// size would cost every frame.
static int plat_do_offscreen_setup(int w, int h, int want_fullscreen, int *fullscreen)
{
    *fullscreen = 0;
    if (plat_offscreen == OFF_WINDOW) {
        if (!plat_context) plat_context = SDL_GL_CreateContext(plat_window);
        if (!plat_context || SDL_GL_MakeCurrent(plat_window, plat_context) != 0) return 0;
    } else if (!plat_gl_make_current()) {
        return 0;
    }
    auto genfb = (PFNGLGENFRAMEBUFFERSPROC)plat_gl_proc("glGenFramebuffers");
    auto bindfb = (PFNGLBINDFRAMEBUFFERPROC)plat_gl_proc("glBindFramebuffer");
    auto genrb = (PFNGLGENRENDERBUFFERSPROC)plat_gl_proc("glGenRenderbuffers");
    auto bindrb = (PFNGLBINDRENDERBUFFERPROC)plat_gl_proc("glBindRenderbuffer");
    auto storage = (PFNGLRENDERBUFFERSTORAGEPROC)plat_gl_proc("glRenderbufferStorage");
    auto attach = (PFNGLFRAMEBUFFERRENDERBUFFERPROC)plat_gl_proc("glFramebufferRenderbuffer");
    auto status = (PFNGLCHECKFRAMEBUFFERSTATUSPROC)plat_gl_proc("glCheckFramebufferStatus");
    int ok = 0;
    if (genfb && bindfb && genrb && bindrb && storage && attach && status && !plat_window_fbo) {
        genfb(1, &plat_window_fbo);
        bindfb(GL_FRAMEBUFFER, plat_window_fbo);
        genrb(1, plat_window_rb);
        bindrb(GL_RENDERBUFFER, plat_window_rb[0]);
        storage(GL_RENDERBUFFER, GL_RGBA8, w, h);
        attach(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, plat_window_rb[0]);
        bindrb(GL_RENDERBUFFER, 0);
        ok = status(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
        if (!ok) printf("off-screen framebuffer %d x %d incomplete\n", w, h);
    }
    plat_gl_release();
    if (!ok) return 0;
    plat_win_w.store(w);
    plat_win_h.store(h);
    *fullscreen = want_fullscreen ? 1 : 0;
    return 1;
}

// ---- Input ---------------------------------------------------------------------------------------------
int plat_key_down(int vk)
{
    if (vk < 0 || vk > 255) return 0;
    int latched = plat_keylatch[vk].exchange(0, std::memory_order_relaxed);
    return plat_keystate[vk].load(std::memory_order_relaxed) | latched;
}

void plat_mouse_pos(int *x, int *y)
{
    if (x) *x = plat_mx.load(std::memory_order_relaxed);
    if (y) *y = plat_my.load(std::memory_order_relaxed);
}

void plat_mouse_warp(int x, int y)
{
    plat_request r = { REQ_MOUSE_WARP, x, y, 0, nullptr, 0, 0, false };
    plat_request_run(&r);
}

// Joysticks are opened on first use and read under SDL's joystick lock, so the demo
// thread may poll them while the main thread pumps events.
#define PLAT_MAXJOY 16
static SDL_Joystick *plat_joy[PLAT_MAXJOY];

int plat_joy_numdevs(void) { return PLAT_MAXJOY; }

int plat_joy_connected(int j)
{
    if (j < 0 || j >= PLAT_MAXJOY) return 0;
    SDL_LockJoysticks();
    int n = SDL_NumJoysticks();
    SDL_UnlockJoysticks();
    return j < n;
}

static uint32_t plat_axis(SDL_Joystick *js, int axis)
{
    if (axis >= SDL_JoystickNumAxes(js)) return 0x7FFF;
    return (uint32_t)(SDL_JoystickGetAxis(js, axis) + 32768);
}

int plat_joy_read(int j, plat_joystate *st)
{
    if (j < 0 || j >= PLAT_MAXJOY || !st) return 0;
    SDL_LockJoysticks();
    if (plat_joy[j] && !SDL_JoystickGetAttached(plat_joy[j])) {
        SDL_JoystickClose(plat_joy[j]);
        plat_joy[j] = nullptr;
    }
    if (!plat_joy[j] && j < SDL_NumJoysticks()) plat_joy[j] = SDL_JoystickOpen(j);
    SDL_Joystick *js = plat_joy[j];
    if (!js) {
        SDL_UnlockJoysticks();
        return 0;
    }
    st->x = plat_axis(js, 0);
    st->y = plat_axis(js, 1);
    st->z = plat_axis(js, 2);
    st->r = plat_axis(js, 3);
    st->pov = 65535;
    if (SDL_JoystickNumHats(js) > 0) {
        switch (SDL_JoystickGetHat(js, 0)) {
        case SDL_HAT_UP: st->pov = 0; break;
        case SDL_HAT_RIGHTUP: st->pov = 4500; break;
        case SDL_HAT_RIGHT: st->pov = 9000; break;
        case SDL_HAT_RIGHTDOWN: st->pov = 13500; break;
        case SDL_HAT_DOWN: st->pov = 18000; break;
        case SDL_HAT_LEFTDOWN: st->pov = 22500; break;
        case SDL_HAT_LEFT: st->pov = 27000; break;
        case SDL_HAT_LEFTUP: st->pov = 31500; break;
        default: break;
        }
    }
    st->numbuttons = SDL_JoystickNumButtons(js);
    st->buttons = 0;
    for (int b = 0; b < st->numbuttons && b < 32; b++)
        if (SDL_JoystickGetButton(js, b)) st->buttons |= 1u << b;
    SDL_UnlockJoysticks();
    return 1;
}

// ---- Audio -----------------------------------------------------------------------------------------------
// SDL asks for bytes; the queued buffers give them, in the order queued. A buffer used
// up is handed back through the done callback from SDL's audio thread, which may queue
// it again at once. With nothing queued the device plays silence.
#define PLAT_AUDIOQUEUE 16
static SDL_AudioDeviceID plat_audiodev;
static plat_audio_done_fn plat_audio_done;
static void *plat_audio_user;
static uint8_t plat_audio_silence;
static std::mutex aq_lock;                    // the queue below; taken last, held briefly
static plat_audiohdr *aq[PLAT_AUDIOQUEUE];    // queued headers, aq_head first
static int aq_head, aq_count;
static uint32_t aq_offset;                    // bytes of the first header already played

static plat_audiohdr *aq_pop_locked(void)
{
    plat_audiohdr *h = aq[aq_head];
    aq_head = (aq_head + 1) % PLAT_AUDIOQUEUE;
    aq_count--;
    aq_offset = 0;
    h->dwFlags = (h->dwFlags & ~(uint32_t)PLAT_WHDR_INQUEUE) | PLAT_WHDR_DONE;
    return h;
}

static void plat_audio_callback(void *user, Uint8 *stream, int bytes)
{
    (void)user;
    while (bytes > 0) {
        plat_audiohdr *done = nullptr;
        {
            std::lock_guard<std::mutex> g(aq_lock);
            if (aq_count == 0) break;
            plat_audiohdr *h = aq[aq_head];
            uint32_t left = h->dwBufferLength - aq_offset;
            uint32_t n = left < (uint32_t)bytes ? left : (uint32_t)bytes;
            if (n) memcpy(stream, h->lpData + aq_offset, n);
            stream += n;
            bytes -= (int)n;
            aq_offset += n;
            if (aq_offset >= h->dwBufferLength) done = aq_pop_locked();
        }
        if (done && plat_audio_done) plat_audio_done(plat_audio_user, done);
    }
    if (bytes > 0) memset(stream, plat_audio_silence, (size_t)bytes);
}

int plat_audio_open(unsigned freq, int bits, int channels, plat_audio_done_fn done, void *user)
{
    if (plat_audiodev || plat_offscreen) return 0;
    if ((bits != 8 && bits != 16) || (channels != 1 && channels != 2)) return 0;
    if (!SDL_WasInit(SDL_INIT_AUDIO) && SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        printf("AUDIO: %s\n", SDL_GetError());
        return 0;
    }
    SDL_AudioSpec want, have;
    SDL_zero(want);
    want.freq = (int)freq;
    want.format = bits == 8 ? AUDIO_U8 : AUDIO_S16LSB;
    want.channels = (Uint8)channels;
    want.samples = 2048;
    want.callback = plat_audio_callback;
    // No changes allowed: SDL converts to whatever the device really plays, so the
    // buffers are taken in exactly our format.
    {
        std::lock_guard<std::mutex> g(aq_lock);
        aq_head = aq_count = 0;
        aq_offset = 0;
    }
    plat_audio_done = done;
    plat_audio_user = user;
    plat_audio_silence = bits == 8 ? 0x80 : 0;
    plat_audiodev = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (plat_audiodev == 0) {
        printf("AUDIO: %s\n", SDL_GetError());
        return 0;
    }
    SDL_PauseAudioDevice(plat_audiodev, 0);
    return 1;
}

int plat_audio_prepare(plat_audiohdr *h)
{
    if (!h || !plat_audiodev || !h->lpData) return 0;
    h->dwFlags = (h->dwFlags | PLAT_WHDR_PREPARED) & ~(uint32_t)PLAT_WHDR_DONE;
    return 1;
}

int plat_audio_unprepare(plat_audiohdr *h)
{
    if (!h) return 0;
    std::lock_guard<std::mutex> g(aq_lock);
    if (h->dwFlags & PLAT_WHDR_INQUEUE) return 0;
    h->dwFlags &= ~(uint32_t)PLAT_WHDR_PREPARED;
    return 1;
}

int plat_audio_write(plat_audiohdr *h)
{
    if (!h || !plat_audiodev) return 0;
    std::lock_guard<std::mutex> g(aq_lock);
    if (!(h->dwFlags & PLAT_WHDR_PREPARED) || (h->dwFlags & PLAT_WHDR_INQUEUE) ||
        aq_count == PLAT_AUDIOQUEUE)
        return 0;
    h->dwFlags = (h->dwFlags | PLAT_WHDR_INQUEUE) & ~(uint32_t)PLAT_WHDR_DONE;
    aq[(aq_head + aq_count) % PLAT_AUDIOQUEUE] = h;
    aq_count++;
    return 1;
}

void plat_audio_reset(void)
{
    if (!plat_audiodev) return;
    // With the device locked its callback is not running; every header still queued
    // is handed back, first to last, as if it had been played.
    SDL_LockAudioDevice(plat_audiodev);
    for (;;) {
        plat_audiohdr *h;
        {
            std::lock_guard<std::mutex> g(aq_lock);
            if (aq_count == 0) break;
            h = aq_pop_locked();
        }
        if (plat_audio_done) plat_audio_done(plat_audio_user, h);
    }
    SDL_UnlockAudioDevice(plat_audiodev);
}

void plat_audio_close(void)
{
    if (plat_audiodev) {
        SDL_CloseAudioDevice(plat_audiodev);
        plat_audiodev = 0;
    }
    std::lock_guard<std::mutex> g(aq_lock);
    aq_head = aq_count = 0;
    plat_audio_done = nullptr;
}

// ---- Files and folders ---------------------------------------------------------------------------------------
int plat_stat(const char *path, plat_fileinfo *info)
{
    struct stat st, lst;
    if (!path || stat(path, &st) != 0) return 0;
    if (info) {
        info->kind = S_ISREG(st.st_mode) ? PLAT_FILE : S_ISDIR(st.st_mode) ? PLAT_DIR : PLAT_OTHER;
        info->islink = lstat(path, &lst) == 0 && S_ISLNK(lst.st_mode);
        info->size = (uint64_t)st.st_size;
        info->id[0] = (uint64_t)st.st_dev;
        info->id[1] = (uint64_t)st.st_ino;
    }
    return 1;
}

struct plat_dir {
    DIR *d;
};

plat_dir *plat_opendir(const char *path)
{
    if (!path || !path[0]) {
        errno = EINVAL;
        return nullptr;
    }
    DIR *d = opendir(path);
    if (!d) return nullptr;
    plat_dir *pd = (plat_dir *)malloc(sizeof(plat_dir));
    if (!pd) {
        closedir(d);
        errno = ENOMEM;
        return nullptr;
    }
    pd->d = d;
    return pd;
}

const char *plat_readdir(plat_dir *d)
{
    if (!d) {
        errno = EBADF;
        return nullptr;
    }
    struct dirent *e = readdir(d->d);
    return e ? e->d_name : nullptr;
}

void plat_rewinddir(plat_dir *d)
{
    if (d) rewinddir(d->d);
}

int plat_closedir(plat_dir *d)
{
    if (!d) {
        errno = EBADF;
        return -1;
    }
    int r = closedir(d->d);
    free(d);
    return r == 0 ? 0 : -1;
}

int plat_chdir(const char *path) { return path && chdir(path) == 0 ? 0 : -1; }

int plat_getcwd(char *buf, int size) { return buf && size > 0 && getcwd(buf, (size_t)size) != nullptr; }

int plat_mkdir(const char *path) { return mkdir(path, 0777) == 0 ? 0 : -1; }

int plat_rename(const char *from, const char *to) { return rename(from, to) == 0 ? 0 : -1; }

int plat_truncate(const char *path, uint64_t size) { return truncate(path, (off_t)size) == 0 ? 0 : -1; }

uint32_t plat_mem_usable(void *block) { return block ? (uint32_t)malloc_usable_size(block) : 0; }

static std::string program_dir(void)
{
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n <= 0) return "";
    path[n] = 0;
    char *slash = strrchr(path, '/');
    if (!slash) return "";
    slash[1] = 0;
    return path;
}

const char *plat_program_dir(void)
{
    static const std::string dir = program_dir();
    return dir.c_str();
}
