// audiodriver.cpp - the software mixer and the four-buffer output driver.
#include "sound/audiodriver.h"
#include "sound/coresound.h"
#include "platform/platform.h"

#include <atomic>
#include <mutex>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// ---- Mixer -----------------------------------------------------------------------------

static inline int32_t rdsample16(const uint8_t *data, uint64_t i)
{
    return (int16_t)(uint16_t)(data[2 * i] | (data[2 * i + 1] << 8));
}

template <int BITS>
static inline int32_t rdsample(const uint8_t *data, uint64_t i)
{
    if (BITS == 8) return ((int32_t)data[i] - 128) * 256;
    return rdsample16(data, i);
}

// Handles a position that has reached the end of the sound: a stream is refilled and
// wraps, a looping sound wraps, any other sound is stopped. Returns 0 when mixing goes
// on, 1 when this sound is done for this block (stopped, or changed by its callback).
static int reach_end(s_sound *s, uint64_t end)
{
    if (s->callback) {
        const uint8_t *data = s->data;
        int32_t numsamples = s->numsamples;
        s->callback(s->data, s->size);
        // The callback runs inside the block and may stop, delete or recreate the
        // sound: then its old buffer and position are no longer to be used.
        if (!s->playing || s->data != data || s->numsamples != numsamples) return 1;
    } else if (!s->loop) {
        Soundsystem_StopSound(s);
        return 1;
    }
    s->position -= end;
    if (s->position >= end) s->position %= end;  // only a step longer than the sound
    return 0;
}

// Mixes n frames of one sound into acc. SCH: source channels (1 or 2), OCH: output
// channels. A two-channel source reads whole frames: its left value goes to the left
// side and its right value to the right side; into mono output goes their average.
template <int BITS, int SCH, int OCH>
static void mix_sound(s_sound *s, int32_t *acc, int n, uint64_t end, int32_t vol, int32_t L,
                      int32_t R)
{
    const uint8_t *data = s->data;
    const uint64_t last = (uint64_t)s->numsamples - 1;
    const uint64_t step = s->step;
    uint64_t pos = s->position;
    for (int k = 0; k < n; k++) {
        uint64_t i = pos >> 8;
        if (SCH == 2) {
            uint64_t j = i & ~(uint64_t)1;
            int32_t l = rdsample<BITS>(data, j);
            int32_t r = j < last ? rdsample<BITS>(data, j + 1) : l;  // odd value count
            if (OCH == 2) {
                acc[2 * k] += l * L;
                acc[2 * k + 1] += r * R;
            } else {
                acc[k] += ((l + r) >> 1) * vol;
            }
        } else {
            int32_t v = rdsample<BITS>(data, i);
            if (OCH == 2) {
                acc[2 * k] += v * L;
                acc[2 * k + 1] += v * R;
            } else {
                acc[k] += v * vol;
            }
        }
        pos += step;
        if (pos >= end) {
            s->position = pos;
            if (reach_end(s, end)) return;
            pos = s->position;
        }
    }
    s->position = pos;
}

template <int BITS>
static void mix_sound_bits(s_sound *s, int32_t *acc, int n, int och, uint64_t end, int32_t vol,
                           int32_t L, int32_t R)
{
    if (s->channels == 2) {
        if (och == 2) mix_sound<BITS, 2, 2>(s, acc, n, end, vol, L, R);
        else mix_sound<BITS, 2, 1>(s, acc, n, end, vol, L, R);
    } else {
        if (och == 2) mix_sound<BITS, 1, 2>(s, acc, n, end, vol, L, R);
        else mix_sound<BITS, 1, 1>(s, acc, n, end, vol, L, R);
    }
}

static int still_active(const s_sound *s)
{
    for (int i = 0; i < soundsystem.numactive; i++)
        if (active_sounds[i] == s) return 1;
    return 0;
}

// Sums every playing sound into acc (n frames of och values). Works on a copy of the
// list taken at the start, so a sound that leaves the list during the pass does not
// make the one moving into its slot miss the pass.
static void mix_block(int32_t *acc, int n, int och)
{
    s_sound *list[SOUND_MAXACTIVE];
    int count = soundsystem.numactive;
    if (count > SOUND_MAXACTIVE) count = SOUND_MAXACTIVE;
    if (count < 0) count = 0;
    memcpy(list, active_sounds, sizeof(list[0]) * (size_t)count);
    for (int idx = 0; idx < count; idx++) {
        s_sound *s = list[idx];
        if (!s->playing || !still_active(s)) continue;
        // Only whole values that lie inside the data are read; a sound with none
        // (or a record that does not describe its data) is stopped at once.
        uint32_t bytes = s->bits / 8u;
        if (!s->data || s->numsamples <= 0 || s->size < 0 || (bytes != 1 && bytes != 2) ||
            (uint64_t)s->numsamples * bytes > (uint64_t)s->size) {
            Soundsystem_StopSound(s);
            continue;
        }
        uint64_t end = (uint64_t)s->numsamples * 256;
        if (s->position >= end && reach_end(s, end)) continue;
        uint32_t G = (uint32_t)(s->music == 1 ? soundsystem.musicvolume : soundsystem.effectvolume) *
                     soundsystem.mastervolume;
        int32_t vol = (int32_t)((s->volume * G) >> 16);
        int32_t L = (int32_t)((s->leftvol * G) >> 16);
        int32_t R = (int32_t)((s->rightvol * G) >> 16);
        if (bytes == 1) mix_sound_bits<8>(s, acc, n, och, end, vol, L, R);
        else mix_sound_bits<16>(s, acc, n, och, end, vol, L, R);
    }
}

void audiodriver_mixbuffers(void *out, int bytes, int unused)
{
    (void)unused;
    if (!out || bytes <= 0) return;
    uint8_t *dst = (uint8_t *)out;
    soundsystem_lock();
    const int out8 = soundsystem.bits == 8;
    const int och = soundsystem.channels == 2 ? 2 : 1;
    const int values = out8 ? bytes : bytes / 2;
    int frames = values / och;
    int32_t *acc = soundsystem.outbuffer;
    // The block is mixed in pieces no longer than the mix buffer holds.
    int cap = acc ? soundsystem.outsize / (4 * och) : 0;
    int written = 0;
    while (cap > 0 && frames > 0) {
        int n = frames < cap ? frames : cap;
        memset(acc, 0, (size_t)soundsystem.outsize);
        mix_block(acc, n, och);
        for (int v = 0; v < n * och; v++) {
            int32_t a = acc[v] >> 8;
            if (a > 32767) a = 32767;
            if (a < -32767) a = -32767;
            if (out8) {
                dst[written++] = (uint8_t)((a >> 8) + 128);
            } else {
                dst[written++] = (uint8_t)a;
                dst[written++] = (uint8_t)((uint32_t)a >> 8);
            }
        }
        frames -= n;
    }
    soundsystem_unlock();
    if (written < bytes) memset(dst + written, out8 ? 0x80 : 0, (size_t)(bytes - written));
}

// ---- Driver ----------------------------------------------------------------------------

int g_sample_size;
int g_buffer_size;
uint8_t *g_audio_buffer;
s_audiohdr g_hdr[AUDIO_NUMBUFFERS];
s_audioformat g_wf;
int g_waveout_opened;
int g_num_prep_buffers;
int g_cur_buf;

// Guards the driver state against the device's completion callback. Recursive:
// fillnextbuffer is public and also runs inside the callback.
// Lock order: the device's own lock, then this one, then the sound system's lock
// (taken by the mixer); the platform's queue lock comes last.
static std::recursive_mutex g_lock;
static int g_closing;       // 1 from the start of audiodriver_close: no more refills
// Frames the refills have handed to the mixer since the device opened; changed only
// under the sound system's lock, so a reader holding that lock sees where the next
// block begins.
static std::atomic<uint64_t> g_mixed_frames{0};
// Keeping pace (audiodriver_keep_pace): output frame g_pace_frame is due at the clock's
// g_pace_ms; the least the listener lagged behind that in the current half second.
static int g_pace;
static int64_t g_pace_frame;      // may fall below 0 once sound has been skipped
static uint32_t g_pace_ms, g_pace_win_ms;
static double g_pace_win_min;
static uint8_t *g_skipbuf;  // where skipped blocks are mixed (one block)

// Judged by the least lag in each half second, so that a listener merely estimated late
// for a moment skips nothing; a lag of more than 15 ms that lasts is sound played late
// (the device ran dry): the mixer skips that much sound, and the sound is where the
// clock is again. Runs in the refill, before the block is mixed.
static void keep_pace_locked(void)
{
    const uint32_t rate = g_wf.nSamplesPerSec;
    const uint32_t now = plat_ticks();
    double due = (double)g_pace_frame + (double)(uint32_t)(now - g_pace_ms) * rate / 1000.0;
    double lag = due - (double)(plat_audio_heard() / (uint64_t)g_sample_size);
    if (lag < g_pace_win_min) g_pace_win_min = lag;
    if ((uint32_t)(now - g_pace_win_ms) < 500u) return;
    double behind = g_pace_win_min;
    g_pace_win_ms = now;
    g_pace_win_min = 1e300;
    if (behind <= rate * 15 / 1000.0 || !g_skipbuf) return;
    uint64_t skip = (uint64_t)behind;
    g_pace_frame -= (int64_t)skip;  // the sound that was due at an output frame now plays skip frames earlier
    while (skip > 0) {
        uint64_t n = skip < (uint64_t)SOUND_BLOCKFRAMES ? skip : (uint64_t)SOUND_BLOCKFRAMES;
        audiodriver_mixbuffers(g_skipbuf, (int)n * g_sample_size, 0);
        skip -= n;
    }
}

// The device's completion callback: a buffer has been played. Buffers complete in
// the order queued, so it is g_cur_buf, and fillnextbuffer refills it.
static void waveOutProc(void *user, plat_audiohdr *hdr)
{
    (void)user;
    (void)hdr;
    fillnextbuffer();
}

void fillnextbuffer(void)
{
    std::lock_guard<std::recursive_mutex> g(g_lock);
    s_audiohdr *h = &g_hdr[g_cur_buf];
    if (h->dwFlags & PLAT_WHDR_PREPARED) plat_audio_unprepare(h);
    if (!g_audio_buffer || g_closing) return;
    memset(h, 0, sizeof(*h));
    h->lpData = g_audio_buffer + g_cur_buf * g_buffer_size;
    h->dwBufferLength = (uint32_t)g_buffer_size;
    if (g_pace) keep_pace_locked();
    soundsystem_lock();
    g_mixed_frames.fetch_add((uint64_t)(g_buffer_size / g_sample_size), std::memory_order_relaxed);
    audiodriver_mixbuffers(h->lpData, g_buffer_size, 0);
    soundsystem_unlock();
    if (plat_audio_prepare(h)) plat_audio_write(h);
    g_cur_buf = (g_cur_buf + 1) % AUDIO_NUMBUFFERS;
}

int audiodriver_init(unsigned frequency, unsigned bits, int length, int flags)
{
    (void)length;  // blocks are always 2048 frames
    if (frequency == 0) return 1;
    if (g_audio_buffer || g_waveout_opened) audiodriver_close();
    const int channels = (flags & 2) ? 2 : 1;
    soundsystem_lock();
    soundsystem.bits = (uint16_t)bits;
    soundsystem.channels = (uint16_t)channels;
    soundsystem_unlock();
    if (bits != 8 && bits != 16) return 0;

    std::unique_lock<std::recursive_mutex> g(g_lock);
    g_sample_size = (int)(bits / 8) * channels;
    g_buffer_size = SOUND_BLOCKFRAMES * g_sample_size;
    printf("sample size: %d\nbuffer size: %d\n", g_sample_size, g_buffer_size);
    g_audio_buffer = (uint8_t *)malloc((size_t)g_buffer_size * AUDIO_NUMBUFFERS);
    if (!g_audio_buffer) {
        g.unlock();
        audiodriver_close();
        return 0;
    }
    // The four priming buffers are silence.
    memset(g_audio_buffer, bits == 8 ? 0x80 : 0, (size_t)g_buffer_size * AUDIO_NUMBUFFERS);
    g_closing = 0;
    g_cur_buf = 0;
    g_mixed_frames.store(0, std::memory_order_relaxed);
    g_pace = 0;

    printf("open waveout\n");
    g_wf.wFormatTag = 1;
    g_wf.nChannels = (uint16_t)channels;
    g_wf.nSamplesPerSec = frequency;
    g_wf.wBitsPerSample = (uint16_t)bits;
    g_wf.nBlockAlign = (uint16_t)g_sample_size;
    g_wf.nAvgBytesPerSec = frequency * (unsigned)g_sample_size;
    // The device's own lock is taken while it opens and its callback holds that lock
    // while it waits for g_lock: not held here. Nothing is queued yet, so the device
    // plays silence and calls back for nothing until the buffers are written.
    g.unlock();
    if (!plat_audio_open(frequency, (int)bits, channels, waveOutProc, nullptr)) {
        // No device: nothing plays and the mixer never runs; the caller goes on silent.
        audiodriver_close();
        return 0;
    }
    // Held until all four buffers are queued: a completion arriving meanwhile waits.
    g.lock();
    printf("AUDIO: opening audio device succesful!\n");
    g_waveout_opened = 1;

    printf("open wav-buffers\n");
    for (int i = 0; i < AUDIO_NUMBUFFERS; i++) {
        memset(&g_hdr[i], 0, sizeof(g_hdr[i]));
        g_hdr[i].lpData = g_audio_buffer + i * g_buffer_size;
        g_hdr[i].dwBufferLength = (uint32_t)g_buffer_size;
        if (!plat_audio_prepare(&g_hdr[i])) {
            printf("AUDIO: error opening audio buffer\n");
            g.unlock();
            audiodriver_close();
            return 0;
        }
        g_num_prep_buffers = i + 1;
    }
    for (int i = 0; i < AUDIO_NUMBUFFERS; i++) plat_audio_write(&g_hdr[i]);

    soundsystem_lock();
    soundsystem.bufferlength = SOUND_BLOCKFRAMES;
    soundsystem_unlock();
    printf("audiodriver inited\n");
    return 1;
}

void audiodriver_close(void)
{
    int opened;
    {
        std::lock_guard<std::recursive_mutex> g(g_lock);
        g_closing = 1;  // from here on a completion refills and queues nothing
        opened = g_waveout_opened;
    }
    // The reset hands the queued buffers back through the callback, which takes
    // g_lock: not held here.
    if (opened) plat_audio_reset();
    {
        std::lock_guard<std::recursive_mutex> g(g_lock);
        for (int i = 0; i < g_num_prep_buffers; i++)
            if (g_hdr[i].dwFlags & PLAT_WHDR_PREPARED) plat_audio_unprepare(&g_hdr[i]);
        g_num_prep_buffers = 0;
    }
    // Closing waits for a callback still running, which may wait for g_lock.
    if (opened) plat_audio_close();
    std::lock_guard<std::recursive_mutex> g(g_lock);
    free(g_audio_buffer);
    g_audio_buffer = nullptr;
    free(g_skipbuf);
    g_skipbuf = nullptr;
    g_pace = 0;
    g_waveout_opened = 0;
    g_closing = 0;
}

uint64_t audiodriver_nextframe(void)
{
    return (uint64_t)AUDIO_NUMBUFFERS * SOUND_BLOCKFRAMES + g_mixed_frames.load(std::memory_order_relaxed);
}

int audiodriver_heard(uint64_t frame)
{
    int size;
    {
        std::lock_guard<std::recursive_mutex> g(g_lock);
        if (!g_waveout_opened || g_closing || g_sample_size <= 0) return 1;
        size = g_sample_size;
    }
    return plat_audio_heard() / (uint64_t)size >= frame;
}

void audiodriver_keep_pace(uint64_t frame, uint32_t ms)
{
    std::lock_guard<std::recursive_mutex> g(g_lock);
    if (!g_waveout_opened || g_closing || !g_audio_buffer) return;
    if (!g_skipbuf) g_skipbuf = (uint8_t *)malloc((size_t)g_buffer_size);
    g_pace_frame = (int64_t)frame;
    g_pace_ms = g_pace_win_ms = ms;
    g_pace_win_min = 1e300;
    g_pace = g_skipbuf != nullptr;
}

int audiodriver_getbuffer(void **buffer, unsigned *size)
{
    std::lock_guard<std::recursive_mutex> g(g_lock);
    if (buffer) *buffer = g_audio_buffer ? g_audio_buffer + g_cur_buf * g_buffer_size : nullptr;
    if (size) *size = (unsigned)g_buffer_size;
    return 1;
}

void audiodriver_submitbuffer(void)
{
    std::lock_guard<std::recursive_mutex> g(g_lock);
    if (g_audio_buffer && g_waveout_opened) plat_audio_write(&g_hdr[g_cur_buf]);
    g_cur_buf = (g_cur_buf + 1) % AUDIO_NUMBUFFERS;
}
