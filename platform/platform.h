// platform.h - the thin layer between the engine and the operating system.
//
// One backend implements it per program, chosen by the build: platform_sdl.cpp (SDL2,
// for Linux), platform_win32.cpp (the Windows calls themselves), platform_web.cpp (a
// web page, built with emscripten) or platform_null.cpp (no window system, for the
// window-less tests), with the pieces they share
// (platform_backend.h lists the files). Nothing above this header knows which it
// got. It offers what the engine was written against: one window with a message
// pump on the main thread, a second thread for the demo, an unsigned 32-bit
// millisecond clock, a GL context that is current on the demo thread, asynchronous
// key state by Windows virtual-key code, joysticks, the mouse, a PCM output on the
// waveOut model (queued buffers handed back when played), and the few file-system
// calls the resource layer needs.
//
// Threads: plat_init, plat_create_window, plat_pump and plat_destroy_window run on
// the main thread (the thread that called plat_init). The window calls of the demo
// thread (plat_video_setup, plat_set_title, plat_mouse_warp) are served by the main
// thread's loop while the caller waits; called from the main thread itself they run at once,
// so a test can open a window and a GL context on one thread without a loop.
//
// Optional calls: every backend defines every call, but some cannot do what a call
// offers. Such a call is marked "Optional:" with what a backend without it answers,
// so a caller can go on without it (all calls link on every backend).
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
// Makes standard output reach a pipe line by line, then starts the window system
// (video, joysticks). 0 when there is no display to show a window on.
// Optional: the null backend has no window system and answers 0.
int  plat_init(void);
int  plat_create_window(const char *title, int width, int height); // hidden, GL-capable; 0 on failure
// Instead of plat_init and plat_create_window, for a program that renders without
// showing anything (the capture): no window, no message pump. plat_video_setup then
// makes a GL context that draws into an off-screen target of the asked size
// (plat_gl_window_fbo), keeps "full screen" at any size (the target is the whole
// picture), accepts a swap interval of 1 (the caller's own clock is the display's),
// and its swaps show nothing; window calls do nothing and no audio device opens.
// 0 when no way to render off-screen works here. *how (may be null) gets one line
// that says how it renders, for the user.
// Optional: only Linux programs linked with the off-screen target (orb_offscreen,
// platform_offscreen.cpp, with the SDL backend) render off-screen; every other
// program (Windows, the web page, the null backend) answers 0 with *how set to
// "this program was built without off-screen rendering".
int  plat_init_offscreen(const char **how);
int  plat_pump(plat_wndproc proc);      // one event or request; 0 when the queue was empty
void plat_sleep(unsigned ms);           // sleeps the calling thread
void plat_post_close(void);             // any thread: deliver WM_CLOSE to the window procedure
void plat_post_quit(int code);          // window procedure: the loop is to end with code
int  plat_quit_posted(int *code);       // 1 once plat_post_quit ran; code = its exit code
void plat_destroy_window(void);         // main thread, after the loop
void plat_shutdown(void);               // closes the window system (audio, joysticks, display mode)
void plat_message_box(const char *text);// simple OK box without caption; harmless without a display

// ---- Frames paced by the host --------------------------------------------------------
// For a program that draws one frame per call instead of looping itself (the web
// page, where the browser owns the event loop and nothing may block): frame() runs
// once per display frame, on the main thread, until it returns 0. Where the host owns
// the loop (web) this returns at once and the frames run after the caller has
// returned; every other backend runs them right here and returns after the last.
void plat_run_frames(int (*frame)(void));

// ---- Threads and process end -------------------------------------------------------
typedef struct plat_thread plat_thread;
typedef int (*plat_threadfn)(void *arg);
// Optional: a build without threads (the web page) answers null.
plat_thread *plat_thread_start(plat_threadfn fn, void *arg); // null on failure
int  plat_thread_running(plat_thread *t);   // 1 while fn has not returned
void plat_thread_join(plat_thread *t);      // waits for a thread whose fn has returned
int  plat_is_main_thread(void);
// Ends thread t wherever it is (it may be loading, drawing or waiting) and then the
// whole process with code, at once: the thread may have held any lock (stdio, heap,
// sound), so nothing that could wait on one runs afterwards. The display mode is
// given back first. Where a thread cannot be ended from outside, only the process
// is. Does not return.
[[noreturn]] void plat_thread_terminate(plat_thread *t, int code);

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
// The GL framebuffer object that stands for the window: 0 (the window's own back
// buffer) except off-screen, where it is the platform's own target of the window's size.
uint32_t plat_gl_window_fbo(void);
int   plat_gl_make_current(void);           // calling thread (the demo thread); 1 on success
void  plat_gl_release(void);                // calling thread drops the context
// Optional: where the display paces the frames itself (the web page), only 1 is
// accepted; without GL (the null backend) nothing is.
int   plat_gl_set_swap_interval(int n);     // 1 when the driver accepted it
void  plat_gl_swap(void);                   // present the back buffer
void *plat_gl_proc(const char *name);       // GL entry point, or null
void  plat_set_title(const char *title);
void  plat_window_size(int *w, int *h);     // client area size, 0 x 0 without a window

// ---- Input -------------------------------------------------------------------------
// Asynchronous state of a virtual-key code, 0/1: 1 while the key is down, and also
// once after it went down since the previous call for that code, however short the
// press (so a tap between two polls is not lost). Any thread; no lock.
int  plat_key_down(int vk);
void plat_mouse_pos(int *x, int *y);        // cursor in client coordinates (as of the last pump)
// Optional: does nothing where the program cannot move the pointer (the web page,
// the null backend).
void plat_mouse_warp(int x, int y);         // move the cursor to client coordinates

// Joysticks: axes as unsigned positions 0..65535 (centre 0x7FFF), the first hat as
// hundredths of a degree clockwise from up (65535 when centred), buttons as a mask.
// Optional: without joysticks (the web page, the null backend) there are 4 slots,
// none connected, and every read answers 0.
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
// A PCM output on the waveOut model. The caller owns its buffers and describes each
// with a header; a prepared header is queued with plat_audio_write, the device plays
// the queued buffers in the order queued, and hands each header back to done(user,
// hdr) on the device's own thread once it has been played (flags then hold
// PLAT_WHDR_DONE, no longer PLAT_WHDR_INQUEUE). done may prepare and queue again.
#define PLAT_WHDR_DONE 0x1      // played and handed back
#define PLAT_WHDR_PREPARED 0x2  // set up for the device
#define PLAT_WHDR_INQUEUE 0x10  // queued to play

typedef struct plat_audiohdr {
    uint8_t *lpData;            // the buffer
    uint32_t dwBufferLength;    // its size in bytes
    uint32_t dwFlags;           // PLAT_WHDR_ bits
    void *sys;                  // the platform's own record of the header (null when unprepared)
} plat_audiohdr;

typedef void (*plat_audio_done_fn)(void *user, plat_audiohdr *hdr);
// Opens the output: freq Hz, bits 8 (unsigned) or 16 (signed little-endian), channels
// 1 or 2, interleaved. 1 on success; 0 when no device can be opened (the caller goes
// on silently). One output at a time.
int  plat_audio_open(unsigned freq, int bits, int channels, plat_audio_done_fn done, void *user);
int  plat_audio_prepare(plat_audiohdr *h);   // 1 on success
int  plat_audio_unprepare(plat_audiohdr *h); // 1 on success; a queued header cannot be
int  plat_audio_write(plat_audiohdr *h);     // queue a prepared header; 1 on success
// Stops playing and hands every queued header back (done runs for each) before it returns.
void plat_audio_reset(void);
// Closes the output; done is not called after it returns. Harmless when closed.
void plat_audio_close(void);
// How far the listener has got: bytes of the queued buffers, counted from the first
// ever queued since plat_audio_open, that have been heard by now, the way waveOut's
// played position counts them. What still lies between the queue and the ear (the
// device's buffer, the sound server's latency, as far as the system tells) is not
// counted yet; while the device runs dry (its thread was late, the machine is busy)
// the count stands still. 0 while closed. Any thread. Answers: SDL, null and web,
// the bytes their device has taken (SDL asks for a block when the device is about to
// play it); Windows, the device's own played position.
uint64_t plat_audio_heard(void);
// How long sound that plat_audio_heard already counts still takes to reach the ear,
// where the backend knows it (ms): SDL, one device buffer (the block it asks for at a
// time, which its sound server plays out behind the block being taken); Windows, the
// null backend and the web, 0 (their counts are the ear's own, or all there is).
unsigned plat_audio_behind_ms(void);

// ---- Files and folders -------------------------------------------------------------
// What the resource layer and its image tool need of the host file system. Paths use
// "/" (Windows accepts both separators).
enum { PLAT_OTHER = 0, PLAT_FILE = 1, PLAT_DIR = 2 };
typedef struct {
    int kind;           // PLAT_FILE, PLAT_DIR or PLAT_OTHER (after following links)
    int islink;         // 1 when path itself is a symbolic link (or a Windows reparse point)
    uint64_t size;      // bytes, for a file
    uint64_t id[2];     // identity of what path names (device and inode, or volume and index)
} plat_fileinfo;
int  plat_stat(const char *path, plat_fileinfo *info);  // 1 on success, 0 when it cannot be read

// Directory streams: the entries of one folder, "." and ".." included, in the
// system's order. plat_opendir gives null (errno set) when path cannot be listed.
typedef struct plat_dir plat_dir;
plat_dir   *plat_opendir(const char *path);
const char *plat_readdir(plat_dir *d);          // next name, null at the end
void        plat_rewinddir(plat_dir *d);        // the next read is the first entry again
int         plat_closedir(plat_dir *d);         // 0, or -1 (errno set)

int  plat_chdir(const char *path);              // 0 on success
int  plat_getcwd(char *buf, int size);          // 1 on success
int  plat_mkdir(const char *path);              // 0 on success, -1 with errno (EEXIST when it exists)
int  plat_rename(const char *from, const char *to); // replaces to; 0 on success
int  plat_truncate(const char *path, uint64_t size);// 0 on success
// Usable size of a heap block from malloc. Optional: 0 on a host whose allocator
// cannot tell (not Linux, Windows, macOS or the web page); the engine's count of
// memory in use then stays 0.
uint32_t plat_mem_usable(void *block);
// Folder of the running program, ending in "/" (for example "/usr/bin/"); "" when it
// cannot be found. Optional: the web page, whose program is no file, answers "".
const char *plat_program_dir(void);

#endif
