// platform_backend.h - what the files under platform/ share among themselves; nothing
// above platform/ includes it.
//
// A backend is put together from pieces, one file per job:
//   platform_common.cpp     every backend: the clock and its test hook, the quit flag,
//                           the key-press latch, the audio header flags and the queue
//                           of headers that a pull-model device plays from
//   platform_posix.cpp      POSIX hosts (SDL, null, web): threads, process end, the
//                           file system, the program's folder
//   platform_egl.cpp        the EGL context of the off-screen target and of the web
//                           page: display, configuration, context, current or not
//   platform_nooffscreen.cpp  every build without off-screen rendering: the answer of
//                           plat_init_offscreen that there is none
//   platform_sdl.cpp        Linux: window, message pump, GL, keys, mouse, joysticks and
//                           the audio device on SDL2
//   platform_offscreen.cpp  Linux, only in the programs that render without a window:
//                           GL on EGL (or a hidden window, or a private Xvfb)
//   platform_win32.cpp      Windows: window, message pump, WGL, keys, mouse and
//                           joysticks on the system's own calls
//   platform_win32_audio.cpp  Windows: the audio output on waveOut
//   platform_win32_os.cpp   Windows: threads, process end, sleeping, the clock, the
//                           file system, the program's folder
//   platform_web.cpp        a web page (emscripten): the canvas, WebGL through EGL,
//                           html5 key and mouse callbacks, WebAudio, frames paced by
//                           the browser
//   platform_null.cpp       no window system at all (the window-less tests): files,
//                           clock and threads from the pieces above, no display, no
//                           GL, and an audio output that plays silence in real time
// The build links exactly one window backend (sdl, win32, web or null) with the pieces
// it uses.
#ifndef PLATFORM_BACKEND_H
#define PLATFORM_BACKEND_H

#include "platform/platform.h"

// ---- Provided by each backend, used by the shared pieces ---------------------------
uint32_t platb_ticks(void);      // the backend's own millisecond clock (unsigned, wraps)
int      platb_key_held(int vk); // 1 while key vk is down (vk is 0..255)
// A thread started by plat_thread_start is ending (drop the GL context it may have
// current), and the process is about to end at once (give the display mode back; on
// Windows only when ended from the main thread, which also destroys the window).
void     platb_thread_end(void);
void     platb_before_exit(void);

// ---- platform_common.cpp: clock, quit flag, key latch ------------------------------
// plat_ticks, plat_set_clock, plat_quit_posted and plat_key_down are defined there.
void platc_set_quit(int code);   // the loop is to end with code (plat_quit_posted says so)
void platc_key_pressed(int vk);  // vk went down: plat_key_down(vk) answers 1 once, even
                                 // when it is up again by then

// ---- platform_common.cpp: audio headers and the pull queue ------------------------------
// The waveOut model's flag changes, the same on every backend.
static inline void platc_hdr_prepared(plat_audiohdr *h)
{
    h->dwFlags = (h->dwFlags | PLAT_WHDR_PREPARED) & ~(uint32_t)PLAT_WHDR_DONE;
}
static inline void platc_hdr_queued(plat_audiohdr *h)
{
    h->dwFlags = (h->dwFlags | PLAT_WHDR_INQUEUE) & ~(uint32_t)PLAT_WHDR_DONE;
}
static inline void platc_hdr_played(plat_audiohdr *h)
{
    h->dwFlags = (h->dwFlags & ~(uint32_t)PLAT_WHDR_INQUEUE) | PLAT_WHDR_DONE;
}

// For a device that asks for bytes (SDL's callback, a silent player, a web audio node):
// the queued headers give them in the order queued; a header used up is handed back to
// done(user, hdr) on the puller's thread, which may queue it again at once. At most
// PLATC_AUDIOQUEUE headers are queued; plat_audio_write past that fails.
#define PLATC_AUDIOQUEUE 16
// The queue is open from platc_aq_open to platc_aq_close; the three header calls
// are those of plat_audio_prepare, plat_audio_unprepare and plat_audio_write on
// such a backend, and refuse while it is closed (or h is null).
void platc_aq_open(plat_audio_done_fn done, void *user, uint8_t silence); // empties the queue
int  platc_aq_prepare(plat_audiohdr *h);      // 1 on success
int  platc_aq_unprepare(plat_audiohdr *h);    // 0 while h is queued
int  platc_aq_write(plat_audiohdr *h);        // queue a prepared header; 1 on success
void platc_aq_pull(uint8_t *out, int bytes);  // fill out; silence once the queue is empty
void platc_aq_flush(void);                    // hand every queued header back, in order
void platc_aq_close(void);                    // empty the queue; done is not called again
int  platc_aq_queued(void);                   // headers queued now
// Bytes of the queue that have reached the listener, for a device whose pull's first
// byte is heard delay_bytes of playing (at rate bytes a second) after the pull began.
uint64_t platc_aq_heard(uint32_t rate, uint32_t delay_bytes);

// ---- platform_posix.cpp ---------------------------------------------------------------
void platp_set_main_thread(void);  // the calling thread is the main thread
void platp_stdout_lines(void);     // standard output reaches a pipe line by line

// ---- platform_egl.cpp: one GL context on EGL (off-screen on Linux, the web page) ----------
// What plategl_open asks for. The attribute lists are EGL's (EGLint pairs, EGL_NONE
// at the end).
typedef struct {
    unsigned platform;          // 0: eglGetDisplay's default display; else the display of
                                // that platform (eglGetPlatformDisplayEXT)
    unsigned api;               // eglBindAPI's value; 0 keeps EGL's default (OpenGL ES)
    const int32_t *config;      // eglChooseConfig's attributes (the first match is taken)
    const int32_t *context;     // eglCreateContext's attributes
    int window;                 // 1: a surface on the display's default window (the
                                // canvas); 0: none (the display must allow contexts
                                // without one)
} plategl_want;
enum { PLATEGL_OK = 0, PLATEGL_NODISPLAY, PLATEGL_NOCONFIG, PLATEGL_NOCONTEXT };
// Opens the display and makes the context, current on no thread: PLATEGL_OK, or the
// step that failed, with everything it had opened closed again. One context at a time.
int   plategl_open(const plategl_want *want);
int   plategl_ready(void);          // 1 while the context exists
int   plategl_make_current(void);   // calling thread; 1 on success
void  plategl_release(void);        // calling thread drops the context
void *plategl_proc(const char *name);
void  plategl_close(void);          // context, surface and display; harmless when closed

// ---- platform_win32_os.cpp ------------------------------------------------------------
void platw_set_main_thread(void);  // the calling thread is the main thread; notes the program's image
void platw_reaper_start(void);     // once a window exists: the thread that ends a process whose
                                   // tear-down hangs after plat_thread_terminate

// ---- platform_sdl.cpp and platform_offscreen.cpp ------------------------------------
// The GL target that stands in for the window when a program renders without one
// (plat_init_offscreen sets it): while it is set, the SDL backend's video and GL calls
// go to it, its window calls do nothing and no audio device opens.
typedef struct {
    int      (*video_setup)(int w, int h, int want_fullscreen, int *fullscreen);
    int      (*make_current)(void);
    void     (*release)(void);
    void    *(*proc)(const char *name);
    uint32_t (*window_fbo)(void);
    void     (*size)(int *w, int *h);
    void     (*destroy)(void);   // part of plat_destroy_window
    void     (*shutdown)(void);  // part of plat_shutdown, after the window system is closed
} platsdl_offscreen;
extern const platsdl_offscreen *platsdl_target;

#endif
