// platform_common.cpp - the pieces every backend shares: the clock with its test
// hook, the quit flag, the key-press latch and the audio output's queue of headers
// for devices that ask for bytes.
#include "platform/platform_backend.h"

#include <string.h>

#include <atomic>
#include <chrono>
#include <mutex>

// ---- Clock ------------------------------------------------------------------------------------
static std::atomic<uint32_t (*)(void)> plat_clock{nullptr};

uint32_t plat_ticks(void)
{
    uint32_t (*fn)(void) = plat_clock.load(std::memory_order_relaxed);
    return fn ? fn() : platb_ticks();
}

void plat_set_clock(uint32_t (*fn)(void)) { plat_clock.store(fn); }

// ---- Quit flag --------------------------------------------------------------------------------
static std::atomic<int> plat_quit_flag{0};
static std::atomic<int> plat_quit_code{0};

void platc_set_quit(int code)
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

// ---- Keys ---------------------------------------------------------------------------------------
// Written by whoever sees the press (the message pump), cleared by the reader.
static std::atomic<uint8_t> plat_keylatch[256];

void platc_key_pressed(int vk)
{
    if (vk >= 0 && vk < 256) plat_keylatch[vk].store(1, std::memory_order_relaxed);
}

int plat_key_down(int vk)
{
    if (vk < 0 || vk > 255) return 0;
    int latched = plat_keylatch[vk].exchange(0, std::memory_order_relaxed);
    return platb_key_held(vk) | latched;
}

// ---- Audio queue --------------------------------------------------------------------------------
static int aq_isopen;
static plat_audio_done_fn aq_done;
static void *aq_user;
static uint8_t aq_silence;
static std::mutex aq_lock;                    // the queue below; taken last, held briefly
static plat_audiohdr *aq[PLATC_AUDIOQUEUE];   // queued headers, aq_head first
static int aq_head, aq_count;
static uint32_t aq_offset;                    // bytes of the first header already played
static uint64_t aq_used;                      // queued bytes the device has taken since open
static uint64_t aq_used_before;               // ... before the latest pull began
static double aq_pull_ms;                     // when the latest pull began

static double aq_now_ms(void)
{
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

static plat_audiohdr *aq_pop_locked(void)
{
    plat_audiohdr *h = aq[aq_head];
    aq_head = (aq_head + 1) % PLATC_AUDIOQUEUE;
    aq_count--;
    aq_offset = 0;
    platc_hdr_played(h);
    return h;
}

void platc_aq_open(plat_audio_done_fn done, void *user, uint8_t silence)
{
    std::lock_guard<std::mutex> g(aq_lock);
    aq_head = aq_count = 0;
    aq_offset = 0;
    aq_done = done;
    aq_user = user;
    aq_silence = silence;
    aq_used = aq_used_before = 0;
    aq_pull_ms = 0;
    aq_isopen = 1;
}

int platc_aq_prepare(plat_audiohdr *h)
{
    std::lock_guard<std::mutex> g(aq_lock);
    if (!h || !aq_isopen || !h->lpData) return 0;
    platc_hdr_prepared(h);
    return 1;
}

int platc_aq_write(plat_audiohdr *h)
{
    std::lock_guard<std::mutex> g(aq_lock);
    if (!h || !aq_isopen || !(h->dwFlags & PLAT_WHDR_PREPARED) || (h->dwFlags & PLAT_WHDR_INQUEUE) || aq_count == PLATC_AUDIOQUEUE)
        return 0;
    platc_hdr_queued(h);
    aq[(aq_head + aq_count) % PLATC_AUDIOQUEUE] = h;
    aq_count++;
    return 1;
}

int platc_aq_unprepare(plat_audiohdr *h)
{
    if (!h) return 0;
    std::lock_guard<std::mutex> g(aq_lock);
    if (h->dwFlags & PLAT_WHDR_INQUEUE) return 0;
    h->dwFlags &= ~(uint32_t)PLAT_WHDR_PREPARED;
    return 1;
}

// Takes bytes from the queue into out; stops early when the queue runs empty.
// Returns what is left.
static int aq_take(uint8_t *out, int bytes)
{
    while (bytes > 0) {
        plat_audiohdr *done = nullptr;
        plat_audio_done_fn fn;
        void *user;
        {
            std::lock_guard<std::mutex> g(aq_lock);
            if (aq_count == 0) break;
            plat_audiohdr *h = aq[aq_head];
            uint32_t left = h->dwBufferLength - aq_offset;
            uint32_t n = left < (uint32_t)bytes ? left : (uint32_t)bytes;
            if (n) memcpy(out, h->lpData + aq_offset, n);
            out += n;
            bytes -= (int)n;
            aq_offset += n;
            aq_used += n;
            if (aq_offset >= h->dwBufferLength) done = aq_pop_locked();
            fn = aq_done;
            user = aq_user;
        }
        // Handed back without the lock: done may queue the header again at once.
        if (done && fn) fn(user, done);
    }
    return bytes;
}

void platc_aq_pull(uint8_t *out, int bytes)
{
    {
        std::lock_guard<std::mutex> g(aq_lock);
        aq_used_before = aq_used;
        aq_pull_ms = aq_now_ms();
    }
    int left = aq_take(out, bytes);
    if (left > 0) memset(out + (bytes - left), aq_silence, (size_t)left);
}

uint64_t platc_aq_heard(uint32_t rate, uint32_t delay_bytes)
{
    std::lock_guard<std::mutex> g(aq_lock);
    if (!aq_isopen || aq_pull_ms == 0) return 0;
    // The latest pull's first byte reaches the ear delay_bytes of playing after the
    // pull began; from then on the ear moves at the rate, up to what has been taken
    // (a device that is late to ask again has run dry: the ear waits).
    double since = (aq_now_ms() - aq_pull_ms) * rate / 1000.0 - delay_bytes;
    double at = (double)aq_used_before + since;
    if (at < 0) return 0;
    if (at > (double)aq_used) return aq_used;
    return (uint64_t)at;
}

void platc_aq_flush(void)
{
    for (;;) {
        plat_audiohdr *h;
        plat_audio_done_fn fn;
        void *user;
        {
            std::lock_guard<std::mutex> g(aq_lock);
            if (aq_count == 0) break;
            h = aq_pop_locked();
            fn = aq_done;
            user = aq_user;
        }
        if (fn) fn(user, h);
    }
}

void platc_aq_close(void)
{
    std::lock_guard<std::mutex> g(aq_lock);
    aq_head = aq_count = 0;
    aq_offset = 0;
    aq_done = nullptr;
    aq_isopen = 0;
}

int platc_aq_queued(void)
{
    std::lock_guard<std::mutex> g(aq_lock);
    return aq_count;
}
