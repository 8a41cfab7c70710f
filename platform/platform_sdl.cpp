// platform_sdl.cpp - the Linux backend on SDL2: the window and its message pump,
// window requests served by the main thread, the GL context, key state, mouse,
// joysticks and the audio device. Threads and files come from platform_posix.cpp;
// the clock hook, the key latch and the audio queue from platform_common.cpp. When
// a program renders off-screen (platform_offscreen.cpp), the video and GL calls go
// to the target it sets.
#include "platform/platform_backend.h"

#include <SDL2/SDL.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

// ---- State --------------------------------------------------------------------------------
static SDL_Window *plat_window;
static SDL_GLContext plat_context;
static std::atomic<int> plat_close_pending{0};
static std::atomic<int> plat_fullscreen{0};
static std::atomic<int> plat_win_w{0}, plat_win_h{0};
static std::atomic<uint8_t> plat_keystate[256];   // as of the last pump
static std::atomic<int> plat_mx{0}, plat_my{0};
const platsdl_offscreen *platsdl_target;

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

static void plat_serve(plat_request *r)
{
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
int plat_init(void)
{
    platp_stdout_lines();
    platp_set_main_thread();
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
        if (e->type == SDL_KEYDOWN && vk) platc_key_pressed(vk);
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

void plat_post_close(void) { plat_close_pending.store(1); }

void plat_post_quit(int code) { platc_set_quit(code); }

// The program's own loop: the frames run here, one after another.
void plat_run_frames(int (*frame)(void))
{
    while (frame()) {
    }
}

void plat_destroy_window(void)
{
    if (platsdl_target) platsdl_target->destroy();
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
    if (platsdl_target) platsdl_target->shutdown();
}

void plat_message_box(const char *text)
{
    SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_INFORMATION, "", text, nullptr);
}

// ---- Threads, process end and clock (for platform_posix.cpp and platform_common.cpp) ---------------
void platb_thread_end(void)
{
    if (SDL_GL_GetCurrentContext()) SDL_GL_MakeCurrent(plat_window, nullptr);
}

void platb_before_exit(void)
{
    // Give the desktop its display mode back before leaving.
    if (plat_fullscreen.load() && plat_window && plat_is_main_thread()) SDL_SetWindowFullscreen(plat_window, 0);
}

uint32_t platb_ticks(void) { return (uint32_t)SDL_GetTicks(); }

// ---- Video and GL -----------------------------------------------------------------------------------
int plat_video_setup(int width, int height, int want_fullscreen, int *fullscreen)
{
    if (platsdl_target) {
        int full = 0, ok = platsdl_target->video_setup(width, height, want_fullscreen, &full);
        if (fullscreen) *fullscreen = full;
        return ok;
    }
    plat_request r = { REQ_VIDEO_SETUP, width, height, want_fullscreen, nullptr, 0, 0, false };
    plat_request_run(&r);
    if (fullscreen) *fullscreen = r.out;
    return r.result;
}

int plat_gl_make_current(void)
{
    if (platsdl_target) return platsdl_target->make_current();
    if (!plat_window || !plat_context) return 0;
    return SDL_GL_MakeCurrent(plat_window, plat_context) == 0;
}

void plat_gl_release(void)
{
    if (platsdl_target) {
        platsdl_target->release();
        return;
    }
    if (plat_window) SDL_GL_MakeCurrent(plat_window, nullptr);
}

int plat_gl_set_swap_interval(int n)
{
    if (platsdl_target) return n == 1;
    return SDL_GL_SetSwapInterval(n) == 0;
}

void plat_gl_swap(void)
{
    if (platsdl_target) return;
    if (plat_window) SDL_GL_SwapWindow(plat_window);
}

void *plat_gl_proc(const char *name)
{
    if (platsdl_target) return platsdl_target->proc(name);
    return SDL_GL_GetProcAddress(name);
}

uint32_t plat_gl_window_fbo(void) { return platsdl_target ? platsdl_target->window_fbo() : 0; }

void plat_set_title(const char *title)
{
    if (platsdl_target) return;
    plat_request r = { REQ_SET_TITLE, 0, 0, 0, title, 0, 0, false };
    plat_request_run(&r);
}

void plat_window_size(int *w, int *h)
{
    if (platsdl_target) {
        platsdl_target->size(w, h);
        return;
    }
    int known = plat_window != nullptr;
    if (w) *w = known ? plat_win_w.load() : 0;
    if (h) *h = known ? plat_win_h.load() : 0;
}

// ---- Input ---------------------------------------------------------------------------------------------
int platb_key_held(int vk) { return plat_keystate[vk].load(std::memory_order_relaxed); }

void plat_mouse_pos(int *x, int *y)
{
    if (x) *x = plat_mx.load(std::memory_order_relaxed);
    if (y) *y = plat_my.load(std::memory_order_relaxed);
}

void plat_mouse_warp(int x, int y)
{
    if (platsdl_target) return;
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
// SDL asks for bytes from its own thread; the queued buffers give them, in the order
// queued (platform_common.cpp's queue), and each one used up is handed back from
// there. With nothing queued the device plays silence.
static SDL_AudioDeviceID plat_audiodev;
static uint32_t plat_audio_rate;    // bytes a second
static unsigned plat_audio_buffer_ms;  // the device buffer SDL got
static uint32_t plat_audio_delay;      // bytes played after a pull before its first is heard

static void plat_audio_callback(void *user, Uint8 *stream, int bytes)
{
    (void)user;
    platc_aq_pull(stream, bytes);
}

int plat_audio_open(unsigned freq, int bits, int channels, plat_audio_done_fn done, void *user)
{
    if (plat_audiodev || platsdl_target) return 0;
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
    platc_aq_open(done, user, bits == 8 ? 0x80 : 0);
    plat_audiodev = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (plat_audiodev == 0) {
        printf("AUDIO: %s\n", SDL_GetError());
        platc_aq_close();
        return 0;
    }
    // SDL does not say how long a block takes from its callback to the ear. Measured
    // end to end on PulseAudio: the block a pull takes is heard about one device
    // buffer later (the server plays out the one before), which plat_audio_behind_ms
    // says; the heard count itself is what was taken. A program that starts its clock
    // when its music is heard by that count is in step as seen: its pictures reach the
    // screen about that much after the clock reading they are drawn for, one frame
    // step and the way to the screen (counting the buffer there put the music 46 ms
    // ahead of the picture); what a frame takes beyond that, the engine's frame clock
    // runs ahead by.
    const uint32_t frame = (uint32_t)channels * (uint32_t)(bits / 8);
    plat_audio_rate = freq * frame;
    plat_audio_buffer_ms = have.freq > 0 ? (unsigned)(have.samples * 1000u / (unsigned)have.freq) : 0;
    // SDL's ALSA driver writes each block into a device buffer of two of them, which it
    // keeps filled to between one and two: a block is heard about one and a half
    // blocks after it is taken (measured end to end through ALSA's PulseAudio plug-in:
    // the music came 69 ms after the picture without this, against PulseAudio's own
    // driver).
    const char *drv = SDL_GetCurrentAudioDriver();
    plat_audio_delay = drv && strcmp(drv, "alsa") == 0 ? (uint32_t)have.samples * frame * 3 / 2 : 0;
    SDL_PauseAudioDevice(plat_audiodev, 0);
    return 1;
}

uint64_t plat_audio_heard(void)
{
    if (!plat_audiodev) return 0;
    return platc_aq_heard(plat_audio_rate, plat_audio_delay);
}

unsigned plat_audio_behind_ms(void) { return plat_audiodev ? plat_audio_buffer_ms : 0; }

int plat_audio_prepare(plat_audiohdr *h) { return platc_aq_prepare(h); }
int plat_audio_unprepare(plat_audiohdr *h) { return platc_aq_unprepare(h); }
int plat_audio_write(plat_audiohdr *h) { return platc_aq_write(h); }

void plat_audio_reset(void)
{
    if (!plat_audiodev) return;
    // With the device locked its callback is not running; every header still queued
    // is handed back, first to last, as if it had been played.
    SDL_LockAudioDevice(plat_audiodev);
    platc_aq_flush();
    SDL_UnlockAudioDevice(plat_audiodev);
}

void plat_audio_close(void)
{
    if (plat_audiodev) {
        SDL_CloseAudioDevice(plat_audiodev);
        plat_audiodev = 0;
    }
    platc_aq_close();
}
