// platform_web.cpp - the backend for a web page (WebAssembly, built with emscripten).
//
// The page owns the event loop: a program hands its per-frame call to
// plat_run_frames, which the browser calls once per display frame through
// requestAnimationFrame. There are no threads and no blocking calls. The show
// already has its frame loop split into timeline_start / timeline_frame /
// timeline_running (the capture drives it the same way), so nothing needs to
// suspend: ASYNCIFY, which would let the shell's own loop and a demo "thread" run
// unchanged by unwinding the stack at every wait, makes the module 28 % larger and
// every call through it slower, for no other gain.
//
// - Window: the page's <canvas id="canvas">, sized to the show's output; the page
//   scales it to the window with CSS. Keys, mouse buttons and the wheel arrive from
//   html5.h callbacks and wait in a small queue until the next plat_pump.
// - GL: a WebGL 1 context made through emscripten's EGL (platform_egl.cpp),
//   so that the legacy GL emulation
//   (-sLEGACY_GL_EMULATION) sets itself up for the fixed-function calls.
// - Sound: the waveOut model over WebAudio. The page creates the AudioContext inside
//   the click that starts the show and pulls the sound out of the queued headers
//   (plat_web_audio_pull), each handed back to done() as soon as it has been used
//   up; its player (an AudioWorklet, or a ScriptProcessorNode) resamples where the
//   context runs at another rate; the worklet's queue is topped up before and after
//   every frame too (Module.feedAudio). Without an AudioContext no device opens and
//   the show runs silent.
// - Clock: once the frames run with the sound open, the music as heard (see Clock).
// - Files, sleeping, threads: platform_posix.cpp over emscripten's MEMFS (a POSIX
//   file system); the page writes mirador.dat into it before the program starts.
//   The clock's hook, the quit flag, the key latch and the audio queue are
//   platform_common.cpp's.
//
// Limits: one canvas, one GL context, one audio output; built without threads,
// plat_thread_start fails (the show's own frame loop needs none); no joysticks; the
// mouse cannot be moved by the program; plat_sleep waits busily.
#include "platform/platform_backend.h"

#include <EGL/egl.h>
#include <emscripten.h>
#include <emscripten/html5.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// ---- State --------------------------------------------------------------------------------
static int web_win_w, web_win_h;
static int web_created;

// Input messages waiting for the next pump.
typedef struct {
    unsigned msg;
    uintptr_t wparam;
} web_event;
#define WEB_EVENTS 64
static web_event web_queue[WEB_EVENTS];
static int web_qhead, web_qcount;
static int web_mx, web_my;
static uint8_t web_held[256];
static int web_close_pending;

static void web_push(unsigned msg, uintptr_t wparam)
{
    if (web_qcount == WEB_EVENTS) return;  // a full queue drops the newest message
    web_queue[(web_qhead + web_qcount) % WEB_EVENTS] = { msg, wparam };
    web_qcount++;
}

// ---- Keys and mouse -------------------------------------------------------------------------
// The DOM's legacy keyCode is the Windows virtual-key code for every key the show
// and the engine read (letters, digits, F-keys, arrows, Escape, Return, Space...).
static EM_BOOL web_key(int type, const EmscriptenKeyboardEvent *e, void *user)
{
    (void)user;
    int vk = (int)e->keyCode;
    if (vk <= 0 || vk > 255) return EM_FALSE;
    int down = type == EMSCRIPTEN_EVENT_KEYDOWN;
    web_held[vk] = (uint8_t)down;
    if (down) platc_key_pressed(vk);
    // Keys typed with Alt held are system keys: the window procedure never sees them.
    if (!e->altKey && vk != 0x12) web_push(down ? WM_KEYDOWN : WM_KEYUP, (uintptr_t)vk);
    // Arrows and Space would scroll the page; everything else (F, F11, the browser's
    // own keys) goes on to the page.
    return vk == 0x20 || (vk >= 0x25 && vk <= 0x28);
}

static EM_BOOL web_mouse(int type, const EmscriptenMouseEvent *e, void *user)
{
    (void)user;
    web_mx = (int)e->targetX;
    web_my = (int)e->targetY;
    if (type == EMSCRIPTEN_EVENT_MOUSEDOWN || type == EMSCRIPTEN_EVENT_MOUSEUP) {
        int down = type == EMSCRIPTEN_EVENT_MOUSEDOWN;
        static const unsigned msgs[3][2] = { { WM_LBUTTONUP, WM_LBUTTONDOWN },
                                             { WM_MBUTTONUP, WM_MBUTTONDOWN },
                                             { WM_RBUTTONUP, WM_RBUTTONDOWN } };
        if (e->button <= 2) web_push(msgs[e->button][down], 0);
    }
    return EM_FALSE;
}

static EM_BOOL web_wheel(int type, const EmscriptenWheelEvent *e, void *user)
{
    (void)type;
    (void)user;
    // DOM wheel deltas grow downwards; Windows' grow away from the user.
    int d = e->deltaY < 0 ? WHEEL_DELTA : e->deltaY > 0 ? -WHEEL_DELTA : 0;
    if (d) web_push(WM_MOUSEWHEEL, (uintptr_t)((uint16_t)(int16_t)d) << 16);
    return EM_FALSE;
}

// ---- Start, window, pump ---------------------------------------------------------------------
int plat_init(void)
{
    platp_stdout_lines();
    platp_set_main_thread();
    web_qhead = web_qcount = 0;
    return 1;
}

int plat_create_window(const char *title, int width, int height)
{
    (void)width;
    (void)height;
    if (web_created) return 1;
    plat_set_title(title);
    emscripten_set_keydown_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_TRUE, web_key);
    emscripten_set_keyup_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_TRUE, web_key);
    emscripten_set_mousedown_callback("#canvas", nullptr, EM_TRUE, web_mouse);
    emscripten_set_mouseup_callback("#canvas", nullptr, EM_TRUE, web_mouse);
    emscripten_set_mousemove_callback("#canvas", nullptr, EM_TRUE, web_mouse);
    emscripten_set_wheel_callback("#canvas", nullptr, EM_TRUE, web_wheel);
    web_created = 1;
    return 1;
}

int plat_pump(plat_wndproc proc)
{
    if (web_close_pending) {
        web_close_pending = 0;
        proc(WM_CLOSE, 0, 0);
        return 1;
    }
    if (web_qcount == 0) return 0;
    web_event e = web_queue[web_qhead];
    web_qhead = (web_qhead + 1) % WEB_EVENTS;
    web_qcount--;
    proc(e.msg, e.wparam, 0);
    return 1;
}

void plat_post_close(void) { web_close_pending = 1; }

void plat_post_quit(int code) { platc_set_quit(code); }

void plat_destroy_window(void) { plategl_close(); }

void plat_shutdown(void) { plat_audio_close(); }

void plat_message_box(const char *text)
{
    EM_ASM({ if (Module.onMessage) Module.onMessage(UTF8ToString($0)); }, text ? text : "");
}

// ---- Clock --------------------------------------------------------------------------------
// Until the show's frames run, the page's own clock (performance.now()). From then on,
// with the sound open, the music as it reaches the ear: the page reports how many of
// the mixer's frames have been heard (the output's timestamp or latency, and the
// player's queue, accounted for), and the clock stands at its reading of the moment
// the frames began until the first frame mixed after that moment (the music's first,
// as the show starts it right before) is heard, then moves with what is heard. So
// the picture keeps in step with the ear whatever lies between the mixer and it,
// and waits for the music after a gap. Where nothing more is heard for WEB_DEAF_MS
// (a context that never runs, a player gone), the clock moves with the page's again;
// it never goes back.
// A picture drawn now is seen later: the browser carries out its GL calls after the
// frame's callback and shows the result at a later refresh of the display. While it
// follows the music the clock runs ahead of the ear by that much (the frame's own
// time, smoothed, one refresh, and what the page knows its browser adds), so the
// picture is seen as its music is heard.
// The clock also moves smoothly from frame to frame: the show counts a frame step no
// longer than its update interval as one whole step, so a reading that jumps back and
// forth by a few ms (the ear's time comes in the audio thread's chunks) makes the
// show's pulses run fast, 8 % in Firefox. So within a frame the clock reads the
// frame's own time (requestAnimationFrame's, the refresh it is drawn for, not when
// its callback happens to run); it runs at that time's rate, closes on the music's
// time over about WEB_SLEW_MS, and jumps where it is more than WEB_JUMP_MS off (the
// start, a stall, a gap in the music).
#define WEB_DEAF_MS 1500.0
#define WEB_REFRESH_MS (1000.0 / 60)
#define WEB_LEAD_MOST_MS 150.0
#define WEB_SLEW_MS 500.0
#define WEB_JUMP_MS 50.0
static double web_frame_ms;         // what a frame takes, smoothed
static double web_frame_at;         // the running frame's time; 0 between frames
static int web_audio_open;
static unsigned web_audio_freq;
static double web_audio_written;    // frames queued since the output opened
static double web_clock_from = -1;  // frames queued when the frames began; <0: the page's clock
static double web_clock_start, web_clock_last, web_clock_now;
static double web_heard, web_heard_at;
static double web_picture_late;     // ms the browser's display path adds, as the page says

static void web_clock_follow_audio(void)
{
    web_clock_from = -1;
    if (!web_audio_open || !web_audio_freq) return;
    web_clock_from = web_audio_written;
    web_clock_start = web_clock_last = web_clock_now = web_heard_at = emscripten_get_now();
    web_heard = 0;
    web_picture_late = EM_ASM_DOUBLE({ return Module.pictureLate ? Module.pictureLate() : 0; });
}

static uint32_t web_clock(void)
{
    const double real = emscripten_get_now();
    double now = web_frame_at > 0 ? web_frame_at : real;
    if (web_clock_from < 0) return (uint32_t)(uint64_t)now;
    if (now < web_clock_now) now = web_clock_now;
    const double heard = EM_ASM_DOUBLE({ return Module.audioHeard ? Module.audioHeard() : 0; });
    if (heard > web_heard) {
        web_heard = heard;
        web_heard_at = real;
    }
    const double step = now - web_clock_now;
    double t = web_clock_last + step;
    if (real - web_heard_at <= WEB_DEAF_MS) {
        const double music = heard > web_clock_from ? heard - web_clock_from : 0;
        double lead = web_frame_ms + WEB_REFRESH_MS + web_picture_late;
        if (lead > WEB_LEAD_MOST_MS) lead = WEB_LEAD_MOST_MS;
        if (lead < 0) lead = 0;
        const double target = web_clock_start + music * 1000.0 / web_audio_freq + lead;
        const double off = target - t;
        if (off > WEB_JUMP_MS || off < -WEB_JUMP_MS)
            t = target;
        else
            t += off * (step < WEB_SLEW_MS ? step / WEB_SLEW_MS : 1.0);
    }
    if (t < web_clock_last) t = web_clock_last;
    web_clock_last = t;
    web_clock_now = now;
    return (uint32_t)(uint64_t)t;
}

// ---- What the shared pieces ask of a backend ------------------------------------------------
uint32_t platb_ticks(void) { return web_clock(); }
int platb_key_held(int vk) { return web_held[vk & 0xFF]; }
void platb_thread_end(void) {}
void platb_before_exit(void) { fflush(stdout); }

// ---- Frames owned by the page ------------------------------------------------------------------------
static int (*web_frame)(void);

// The page's player is topped up before and after every frame: on a slow or
// throttled CPU the player's own reports reach the main thread late (they queue
// behind the frames and the browser's rendering), while the frames still come.
static void web_feed(void)
{
    if (web_audio_open) EM_ASM({ if (Module.feedAudio) Module.feedAudio(); });
}

static void web_frame_tick(void)
{
    web_feed();
    const double t0 = emscripten_get_now();
    // The refresh this frame is drawn for, as requestAnimationFrame gave it (the page
    // notes it); a time not of this moment (no such note) is not used.
    web_frame_at = EM_ASM_DOUBLE({ return Module.frameTime ? Module.frameTime() : 0; });
    if (web_frame_at > t0 || web_frame_at < t0 - 100) web_frame_at = t0;
    const int more = web_frame && web_frame();
    web_frame_at = 0;
    web_frame_ms += (emscripten_get_now() - t0 - web_frame_ms) * 0.1;
    web_feed();
    if (more) return;
    web_frame = nullptr;
    emscripten_cancel_main_loop();
    fflush(stdout);
    EM_ASM({ if (Module.onShowEnd) Module.onShowEnd(); });
}

void plat_run_frames(int (*frame)(void))
{
    web_frame = frame;
    web_clock_follow_audio();
    // Paced by requestAnimationFrame; the call returns at once (no endless loop is
    // simulated), and the frames run after the caller has returned to the page.
    emscripten_set_main_loop(web_frame_tick, 0, 0);
}

// ---- Video and GL -----------------------------------------------------------------------------------
int plat_video_setup(int width, int height, int want_fullscreen, int *fullscreen)
{
    // The page decides how large the canvas looks (scaled to the window, or full
    // screen with the page's button); the program's picture is always width x
    // height pixels and the whole of what it shows, so full screen is kept when
    // asked, as off-screen: the frames are then paced by the display, not by a
    // busy wait.
    if (fullscreen) *fullscreen = want_fullscreen ? 1 : 0;
    emscripten_set_canvas_element_size("#canvas", width, height);
    if (plategl_ready()) {
        web_win_w = width;
        web_win_h = height;
        return 1;
    }
    static const EGLint cfg_attr[] = { EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8, EGL_ALPHA_SIZE, 0,
                                       EGL_DEPTH_SIZE, 24, EGL_STENCIL_SIZE, 8, EGL_NONE };
    static const EGLint ctx_attr[] = { EGL_CONTEXT_CLIENT_VERSION, 2, EGL_NONE };
    const plategl_want want = { 0, 0, cfg_attr, ctx_attr, 1 };
    switch (plategl_open(&want)) {
    case PLATEGL_OK: break;
    case PLATEGL_NODISPLAY: printf("no WebGL: the display could not be opened\n"); return 0;
    case PLATEGL_NOCONFIG: printf("no WebGL: no configuration\n"); return 0;
    default:
        printf("no WebGL: the browser could not create a WebGL context\n");
        EM_ASM({ if (Module.onMessage) Module.onMessage("nowebgl"); });
        return 0;
    }
    web_win_w = width;
    web_win_h = height;
    return 1;
}

uint32_t plat_gl_window_fbo(void) { return 0; }

int plat_gl_make_current(void) { return plategl_make_current(); }

void plat_gl_release(void) { plategl_release(); }

// The frames are paced by requestAnimationFrame, the display's own rate.
int plat_gl_set_swap_interval(int n) { return n == 1; }

// The browser presents the canvas when the frame callback returns.
void plat_gl_swap(void) {}

void *plat_gl_proc(const char *name) { return plategl_proc(name); }

void plat_set_title(const char *title)
{
    EM_ASM({ document.title = UTF8ToString($0); }, title ? title : "");
}

void plat_window_size(int *w, int *h)
{
    if (w) *w = web_win_w;
    if (h) *h = web_win_h;
}

// ---- Input -------------------------------------------------------------------------
void plat_mouse_pos(int *x, int *y)
{
    if (x) *x = web_mx;
    if (y) *y = web_my;
}

void plat_mouse_warp(int x, int y)
{
    (void)x;
    (void)y;
}

int plat_joy_numdevs(void) { return 4; }
int plat_joy_connected(int j)
{
    (void)j;
    return 0;
}
int plat_joy_read(int j, plat_joystate *st)
{
    (void)j;
    (void)st;
    return 0;
}

// ---- Audio ------------------------------------------------------------------------------
// The page's player calls plat_web_audio_pull for the sound it plays;
// the shared pull queue gives the bytes in the order queued, and each header used
// up goes back to the driver, whose mixer fills it again at once.
static plat_audio_done_fn web_audio_done;
static int web_audio_bits, web_audio_channels;
static uint8_t *web_audio_bytes;    // one block as the device's format
static float *web_audio_out;        // the page's block: all left values, then all right ones
static int web_audio_out_frames;
static double web_audio_mixed;      // frames the mixer was asked for since the output opened

static void web_audio_handback(void *user, plat_audiohdr *h)
{
    web_audio_mixed += h->dwBufferLength / (uint32_t)((web_audio_bits / 8) * web_audio_channels);
    if (web_audio_done) web_audio_done(user, h);
}

static float web_sample(const uint8_t *p)
{
    if (web_audio_bits == 8) return ((int)p[0] - 128) / 128.0f;
    return (int16_t)(uint16_t)(p[0] | (p[1] << 8)) / 32768.0f;
}

extern "C" {
// The page's block buffer of frames stereo frames; allocated here, so the page
// writes no memory of its own.
EMSCRIPTEN_KEEPALIVE float *plat_web_audio_block(int frames)
{
    if (frames <= 0 || frames > 65536) return nullptr;
    if (frames != web_audio_out_frames) {
        free(web_audio_out);
        free(web_audio_bytes);
        web_audio_out = (float *)calloc((size_t)frames * 2, sizeof(float));
        web_audio_bytes = (uint8_t *)malloc((size_t)frames * 4);
        if (!web_audio_out || !web_audio_bytes) {
            free(web_audio_out);
            free(web_audio_bytes);
            web_audio_out = nullptr;
            web_audio_bytes = nullptr;
        }
        web_audio_out_frames = web_audio_out ? frames : 0;
    }
    return web_audio_out;
}

// Fills the block with the next frames of the queue (silence where it runs dry).
EMSCRIPTEN_KEEPALIVE void plat_web_audio_pull(int frames)
{
    if (!web_audio_out || frames <= 0 || frames > web_audio_out_frames) return;
    float *left = web_audio_out, *right = web_audio_out + frames;
    if (!web_audio_open) {
        memset(web_audio_out, 0, (size_t)frames * 2 * sizeof(float));
        return;
    }
    const int vbytes = web_audio_bits / 8, fbytes = vbytes * web_audio_channels;
    platc_aq_pull(web_audio_bytes, frames * fbytes);
    for (int k = 0; k < frames; k++) {
        const uint8_t *p = web_audio_bytes + k * fbytes;
        left[k] = web_sample(p);
        right[k] = web_audio_channels == 2 ? web_sample(p + vbytes) : left[k];
    }
}

// Frames of sound the mixer has made so far (for the page's own checks).
EMSCRIPTEN_KEEPALIVE double plat_web_audio_mixed(void) { return web_audio_mixed; }
}

int plat_audio_open(unsigned freq, int bits, int channels, plat_audio_done_fn done, void *user)
{
    if (web_audio_open) return 0;
    if ((bits != 8 && bits != 16) || (channels != 1 && channels != 2)) return 0;
    int ok = EM_ASM_INT({ return Module.openAudio ? Module.openAudio($0) : 0; }, freq);
    if (!ok) {
        printf("AUDIO: no WebAudio output at %u Hz\n", freq);
        return 0;
    }
    web_audio_done = done;
    web_audio_bits = bits;
    web_audio_freq = freq;
    web_audio_channels = channels;
    web_audio_mixed = 0;
    web_audio_written = 0;
    platc_aq_open(web_audio_handback, user, bits == 8 ? 0x80 : 0);
    web_audio_open = 1;
    return 1;
}

// The bytes the page's node has taken; what the browser holds after that is the page's to add.
uint64_t plat_audio_heard(void)
{
    return web_audio_open ? platc_aq_heard(web_audio_freq * (unsigned)((web_audio_bits / 8) * web_audio_channels), 0) : 0;
}

unsigned plat_audio_behind_ms(void) { return 0; }

int plat_audio_prepare(plat_audiohdr *h) { return platc_aq_prepare(h); }
int plat_audio_unprepare(plat_audiohdr *h) { return platc_aq_unprepare(h); }
int plat_audio_write(plat_audiohdr *h)
{
    if (!platc_aq_write(h)) return 0;
    web_audio_written += h->dwBufferLength / (uint32_t)((web_audio_bits / 8) * web_audio_channels);
    return 1;
}

void plat_audio_reset(void)
{
    if (web_audio_open) platc_aq_flush();
}

void plat_audio_close(void)
{
    if (!web_audio_open) return;
    EM_ASM({ if (Module.closeAudio) Module.closeAudio(); });
    web_audio_open = 0;
    web_clock_from = -1;
    platc_aq_close();
    web_audio_done = nullptr;
}
