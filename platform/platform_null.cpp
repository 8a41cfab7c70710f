// platform_null.cpp - the backend with no window system, for the programs and tests
// that need none: the file system, the clock and threads as on any POSIX host
// (platform_posix.cpp), no display (plat_init and every window and GL call fail), no
// keys, mouse or joysticks, and an audio output that plays the queued buffers as
// silence in real time, handing each back when its time has passed, so the sound
// driver runs exactly as it does on a device. It needs nothing but the C++ runtime,
// so it builds wherever the engine does (a browser's node, another processor).
// ORB_AUDIO=none in the environment leaves it without an audio output, as a machine
// without a sound card is (so a test can run the mixer by itself).
//
// Limits: one audio output; it plays in steps of 10 ms.
#include "platform/platform_backend.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

// ---- Start, window, pump ---------------------------------------------------------------------
int plat_init(void)
{
    platp_stdout_lines();
    platp_set_main_thread();
    fprintf(stderr, "no window system: this program was built without one\n");
    return 0;
}

int plat_create_window(const char *title, int width, int height)
{
    (void)title;
    (void)width;
    (void)height;
    return 0;
}

int plat_pump(plat_wndproc proc)
{
    (void)proc;
    return 0;
}

void plat_post_close(void) {}
void plat_post_quit(int code) { platc_set_quit(code); }

// The program's own loop: the frames run here, one after another.
void plat_run_frames(int (*frame)(void))
{
    while (frame()) {
    }
}
void plat_destroy_window(void) {}
void plat_shutdown(void) { plat_audio_close(); }
void plat_message_box(const char *text) { fprintf(stderr, "%s\n", text); }

// ---- Threads, process end and clock ------------------------------------------------------------
void platb_thread_end(void) {}
void platb_before_exit(void) {}

uint32_t platb_ticks(void)
{
    static const uint64_t start = [] {
        struct timespec ts;
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return (uint64_t)ts.tv_sec * 1000u + (uint64_t)ts.tv_nsec / 1000000u;
    }();
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint32_t)((uint64_t)ts.tv_sec * 1000u + (uint64_t)ts.tv_nsec / 1000000u - start);
}

// ---- Video and GL: none ------------------------------------------------------------------------
int plat_video_setup(int width, int height, int want_fullscreen, int *fullscreen)
{
    (void)width;
    (void)height;
    (void)want_fullscreen;
    if (fullscreen) *fullscreen = 0;
    return 0;
}

uint32_t plat_gl_window_fbo(void) { return 0; }
int plat_gl_make_current(void) { return 0; }
void plat_gl_release(void) {}
int plat_gl_set_swap_interval(int n)
{
    (void)n;
    return 0;
}
void plat_gl_swap(void) {}
void *plat_gl_proc(const char *name)
{
    (void)name;
    return nullptr;
}
void plat_set_title(const char *title) { (void)title; }

void plat_window_size(int *w, int *h)
{
    if (w) *w = 0;
    if (h) *h = 0;
}

// ---- Input: none -------------------------------------------------------------------------------
int platb_key_held(int vk)
{
    (void)vk;
    return 0;
}

void plat_mouse_pos(int *x, int *y)
{
    if (x) *x = 0;
    if (y) *y = 0;
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

// ---- Audio: silence in real time ---------------------------------------------------------------
// A player thread takes 10 ms of sound from the queue every 10 ms and discards it.
// The device lock is held while it takes them, so a reset never overlaps a step.
static std::mutex null_dev_lock;
static std::thread null_player;
static std::atomic<int> null_playing{0};
static int null_open;
static int null_step_bytes;
static uint32_t null_rate;  // bytes a second

static void null_play(void)
{
    std::vector<uint8_t> scratch((size_t)null_step_bytes);
    while (null_playing.load()) {
        plat_sleep(10);
        std::lock_guard<std::mutex> g(null_dev_lock);
        platc_aq_pull(scratch.data(), null_step_bytes);
    }
}

int plat_audio_open(unsigned freq, int bits, int channels, plat_audio_done_fn done, void *user)
{
    const char *want = getenv("ORB_AUDIO");
    if (null_open || (want && strcmp(want, "none") == 0)) return 0;
    if ((bits != 8 && bits != 16) || (channels != 1 && channels != 2) || freq == 0) return 0;
    platc_aq_open(done, user, bits == 8 ? 0x80 : 0);
    int step_frames = (int)(freq / 100) > 0 ? (int)(freq / 100) : 1;
    null_step_bytes = step_frames * channels * (bits / 8);
    null_playing.store(1);
    try {
        null_player = std::thread(null_play);
    } catch (...) {
        null_playing.store(0);
        platc_aq_close();
        return 0;
    }
    null_rate = freq * (uint32_t)(channels * (bits / 8));
    null_open = 1;
    return 1;
}

// What the player takes it plays over the next step, at once (into nothing).
uint64_t plat_audio_heard(void) { return null_open ? platc_aq_heard(null_rate, 0) : 0; }
unsigned plat_audio_behind_ms(void) { return 0; }

int plat_audio_prepare(plat_audiohdr *h) { return platc_aq_prepare(h); }
int plat_audio_unprepare(plat_audiohdr *h) { return platc_aq_unprepare(h); }
int plat_audio_write(plat_audiohdr *h) { return platc_aq_write(h); }

void plat_audio_reset(void)
{
    if (!null_open) return;
    std::lock_guard<std::mutex> g(null_dev_lock);
    platc_aq_flush();
}

void plat_audio_close(void)
{
    if (null_open) {
        null_playing.store(0);
        if (null_player.joinable()) null_player.join();
        null_open = 0;
    }
    platc_aq_close();
}
