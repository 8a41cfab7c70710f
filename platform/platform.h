// platform.h - the thin layer between the engine and the operating system (SDL2).
//
// It is the only code that calls SDL. It offers what the engine was written
// against: one window with a message pump on the main thread, a second thread for
// the demo, an unsigned 32-bit millisecond clock, a GL context that is current on
// the demo thread, asynchronous key state by Windows virtual-key code, joysticks,
// the mouse, and a 16-bit PCM output that asks for one block at a time.
//
// Threads: plat_init, plat_create_window, plat_pump and plat_destroy_window run on
// the main thread (the thread that called plat_init). The window calls of the demo
// thread (plat_video_setup, plat_set_title, plat_mouse_warp) are queued to the main
// thread's loop and wait for it; called from the main thread itself they run at once,
// so a test can open a window and a GL context on one thread without a loop.
#ifndef PLATFORM_H
#define PLATFORM_H

#include <stdint.h>

// Windows messages that the pump hands to the shell's window procedure.
enum {
    WM_DESTROY = 0x0002,
    WM_CLOSE = 0x0010,
    WM_QUIT = 0x0012,
    WM_SETCURSOR = 0x0020,
    WM_KEYDOWN = 0x0100,
    WM_KEYUP = 0x0101,
    WM_MOUSEMOVE = 0x0200,
    WM_LBUTTONDOWN = 0x0201,
    WM_LBUTTONUP = 0x0202,
    WM_RBUTTONDOWN = 0x0204,
    WM_RBUTTONUP = 0x0205,
    WM_MBUTTONDOWN = 0x0207,
    WM_MBUTTONUP = 0x0208,
    WM_MOUSEWHEEL = 0x020A,
};
#define WHEEL_DELTA 120

// Window procedure: message, wParam, lParam -> result (Windows conventions:
// WM_KEYDOWN/UP carry the virtual-key code in wParam, WM_MOUSEWHEEL the signed
// 16-bit wheel delta in the high word of wParam).
typedef intptr_t (*plat_wndproc)(unsigned msg, uintptr_t wparam, intptr_t lparam);

// ---- Start, window, message pump (main thread) ----------------------------------
int  plat_init(void);                   // SDL video + joystick; 0 on failure
int  plat_create_window(const char *title, int width, int height); // hidden, GL-capable; 0 on failure
int  plat_pump(plat_wndproc proc);      // one event or request; 0 when the queue was empty
void plat_sleep(unsigned ms);           // sleeps the calling thread
void plat_post_close(void);             // any thread: deliver WM_CLOSE to the window procedure
void plat_post_quit(int code);          // window procedure: the loop is to end with code
int  plat_quit_posted(int *code);       // 1 once plat_post_quit ran; code = its exit code
void plat_destroy_window(void);         // main thread, after the loop
void plat_shutdown(void);               // closes SDL (audio, joysticks, display mode)
void plat_message_box(const char *text);// simple OK box without caption; harmless without a display

// ---- Threads and process end -------------------------------------------------------
typedef struct plat_thread plat_thread;
typedef int (*plat_threadfn)(void *arg);
plat_thread *plat_thread_start(plat_threadfn fn, void *arg); // null on failure
int  plat_thread_running(plat_thread *t);   // 1 while fn has not returned
void plat_thread_join(plat_thread *t);      // waits for a thread whose fn has returned
int  plat_is_main_thread(void);
// Ends the process at once, whatever other threads are doing: flushes standard
// output when that is safe (no other thread holds its lock), restores the display
// mode if full screen changed it, then _exit(code). Destructors do not run.
[[noreturn]] void plat_exit_now(int code);

// ---- Clock -----------------------------------------------------------------------
uint32_t plat_ticks(void);                  // milliseconds, unsigned 32-bit, wraps
void plat_set_clock(uint32_t (*fn)(void));  // tests: replace the clock (null restores it)

// ---- Video and GL ------------------------------------------------------------------
// Restyles the window to a captioned, always-on-top window whose client area is
// exactly width x height at (100, 100), tries full screen at width x height 60 Hz
// when asked (kept only if the mode really is width x height), shows it and creates
// the GL context (compatibility profile, double buffered, 24-bit depth), leaving it
// current on no thread. Returns 1 when the window and context exist; *fullscreen is
// set to 1 when full screen was kept.
int   plat_video_setup(int width, int height, int want_fullscreen, int *fullscreen);
int   plat_gl_make_current(void);           // calling thread (the demo thread); 1 on success
void  plat_gl_release(void);                // calling thread drops the context
int   plat_gl_set_swap_interval(int n);     // 1 when the driver accepted it
void  plat_gl_swap(void);                   // present the back buffer
void *plat_gl_proc(const char *name);       // GL entry point, or null
void  plat_set_title(const char *title);
void  plat_window_size(int *w, int *h);     // client area size, 0 x 0 without a window

// ---- Input -------------------------------------------------------------------------
int  plat_key_down(int vk);                 // asynchronous state of a virtual-key code, 0/1
void plat_mouse_pos(int *x, int *y);        // cursor in client coordinates (as of the last pump)
void plat_mouse_warp(int x, int y);         // move the cursor to client coordinates

// Joysticks: axes as unsigned positions 0..65535 (centre 0x7FFF), the first hat as
// hundredths of a degree clockwise from up (65535 when centred), buttons as a mask.
typedef struct {
    uint32_t x, y, z, r;
    uint32_t pov;
    uint32_t buttons;
    int numbuttons;
} plat_joystate;
int plat_joy_numdevs(void);                 // joystick slots (at least 4)
int plat_joy_connected(int j);              // 1 when joystick j is present
int plat_joy_read(int j, plat_joystate *st);// 1 on success, 0 when j is absent

// ---- Audio ---------------------------------------------------------------------------
// Opens a signed 16-bit output at freq Hz with channels 1 or 2 that asks for
// `frames` frames per block by calling cb(user, stream, bytes) on its own thread.
// Returns 1 on success, 0 when no device can be opened (the caller goes on silently).
typedef void (*plat_audio_fn)(void *user, uint8_t *stream, int bytes);
int  plat_audio_open(int freq, int channels, int frames, plat_audio_fn cb, void *user);
void plat_audio_close(void);                // stops the callback and closes the device

#endif
