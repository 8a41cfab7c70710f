// platform_win32_audio.cpp - the Windows backend's sound output: waveOut, with the
// played headers handed back in order by a thread of its own.
#include "platform/platform_backend.h"

#include <windows.h>
#include <mmsystem.h>

#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include <atomic>

// ---- Audio -----------------------------------------------------------------------------------------------
// waveOut with a callback function. The system's callback may call no other waveOut
// function (that can deadlock), so it only marks the buffer played and signals a
// small thread of ours, which hands the played headers back, in the order queued,
// to the caller's done callback (where the next block is mixed and queued).
#define PLAT_AUDIOSLOTS 16
typedef struct {
    WAVEHDR wh;
    plat_audiohdr *owner;        // the caller's header this record serves (null: free)
    std::atomic<int> played;     // set by the system's callback
} plat_waveslot;

static HWAVEOUT plat_wo;
static plat_audio_done_fn plat_audio_done;
static void *plat_audio_user;
static plat_waveslot plat_slots[PLAT_AUDIOSLOTS];
static CRITICAL_SECTION aq_lock;               // the queue below; taken last, held briefly
static CONDITION_VARIABLE aq_changed;          // a header was handed back
static int aq_lock_ready;
static plat_waveslot *aq[PLAT_AUDIOSLOTS];     // queued records, aq_head first
static int aq_head, aq_count;
static uint32_t aq_handed;                     // headers handed back so far
static uint32_t aq_queued;                     // headers queued so far
static HANDLE plat_audio_event;                // the callback's signal
static HANDLE plat_audio_thread;
static DWORD plat_audio_threadid;
static std::atomic<int> plat_audio_stop{0};

static void CALLBACK plat_waveoutproc(HWAVEOUT wo, UINT msg, DWORD_PTR instance, DWORD_PTR p1, DWORD_PTR p2)
{
    (void)wo;
    (void)instance;
    (void)p2;
    if (msg != WOM_DONE || !p1) return;
    plat_waveslot *s = (plat_waveslot *)((char *)p1 - offsetof(plat_waveslot, wh));
    s->played.store(1, std::memory_order_release);
    SetEvent(plat_audio_event);
}

// Takes the first queued record off the queue if it has been played.
static plat_audiohdr *aq_pop_played(void)
{
    plat_audiohdr *h = nullptr;
    EnterCriticalSection(&aq_lock);
    if (aq_count > 0 && aq[aq_head]->played.load(std::memory_order_acquire)) {
        plat_waveslot *s = aq[aq_head];
        aq_head = (aq_head + 1) % PLAT_AUDIOSLOTS;
        aq_count--;
        h = s->owner;
        if (h) platc_hdr_played(h);
    }
    LeaveCriticalSection(&aq_lock);
    return h;
}

// Hands every played header at the front of the queue back, first to last.
static void plat_audio_handback(void)
{
    plat_audiohdr *h;
    while ((h = aq_pop_played()) != nullptr) {
        if (plat_audio_done) plat_audio_done(plat_audio_user, h);
        EnterCriticalSection(&aq_lock);
        aq_handed++;
        LeaveCriticalSection(&aq_lock);
        WakeAllConditionVariable(&aq_changed);
    }
}

static DWORD WINAPI plat_audio_main(LPVOID arg)
{
    (void)arg;
    while (!plat_audio_stop.load()) {
        WaitForSingleObject(plat_audio_event, INFINITE);
        if (plat_audio_stop.load()) break;
        plat_audio_handback();
    }
    return 0;
}

int plat_audio_open(unsigned freq, int bits, int channels, plat_audio_done_fn done, void *user)
{
    if (plat_wo) return 0;
    if ((bits != 8 && bits != 16) || (channels != 1 && channels != 2)) return 0;
    if (!aq_lock_ready) {
        InitializeCriticalSection(&aq_lock);
        InitializeConditionVariable(&aq_changed);
        aq_lock_ready = 1;
    }
    EnterCriticalSection(&aq_lock);
    aq_head = aq_count = 0;
    aq_handed = aq_queued = 0;
    for (int i = 0; i < PLAT_AUDIOSLOTS; i++) {
        memset(&plat_slots[i].wh, 0, sizeof(WAVEHDR));
        plat_slots[i].owner = nullptr;
        plat_slots[i].played.store(0);
    }
    LeaveCriticalSection(&aq_lock);
    plat_audio_done = done;
    plat_audio_user = user;

    WAVEFORMATEX wf;
    memset(&wf, 0, sizeof(wf));
    wf.wFormatTag = WAVE_FORMAT_PCM;
    wf.nChannels = (WORD)channels;
    wf.nSamplesPerSec = freq;
    wf.wBitsPerSample = (WORD)bits;
    wf.nBlockAlign = (WORD)(bits / 8 * channels);
    wf.nAvgBytesPerSec = freq * wf.nBlockAlign;
    wf.cbSize = 0;

    plat_audio_event = CreateEventA(NULL, FALSE, FALSE, NULL);
    if (!plat_audio_event) return 0;
    plat_audio_stop.store(0);
    plat_audio_thread = CreateThread(NULL, 0, plat_audio_main, NULL, 0, &plat_audio_threadid);
    if (!plat_audio_thread) {
        CloseHandle(plat_audio_event);
        plat_audio_event = NULL;
        return 0;
    }
    MMRESULT r = waveOutOpen(&plat_wo, WAVE_MAPPER, &wf, (DWORD_PTR)plat_waveoutproc, 0, CALLBACK_FUNCTION);
    if (r != MMSYSERR_NOERROR) {
        printf("AUDIO: waveOutOpen failed (%u)\n", (unsigned)r);
        plat_wo = NULL;
        plat_audio_close();
        return 0;
    }
    return 1;
}

// The device's own played position, in bytes; waveOut counts in 32 bits, widened here.
uint64_t plat_audio_heard(void)
{
    static std::atomic<uint64_t> last{0};
    if (!plat_wo) return 0;
    MMTIME t;
    memset(&t, 0, sizeof t);
    t.wType = TIME_BYTES;
    if (waveOutGetPosition(plat_wo, &t, sizeof t) != MMSYSERR_NOERROR || t.wType != TIME_BYTES)
        return last.load();
    uint64_t prev = last.load(), now = (prev & ~(uint64_t)0xFFFFFFFF) | t.u.cb;
    if (now < prev) now += (uint64_t)1 << 32;
    last.store(now);
    return now;
}

unsigned plat_audio_behind_ms(void) { return 0; }

// The record that serves h: the one it was prepared with, else a free one.
static plat_waveslot *plat_slot_for(plat_audiohdr *h)
{
    plat_waveslot *s = (plat_waveslot *)h->sys;
    if (s && s >= plat_slots && s < plat_slots + PLAT_AUDIOSLOTS && s->owner == h) return s;
    for (int i = 0; i < PLAT_AUDIOSLOTS; i++)
        if (plat_slots[i].owner == h) return &plat_slots[i];
    for (int i = 0; i < PLAT_AUDIOSLOTS; i++)
        if (!plat_slots[i].owner) return &plat_slots[i];
    return nullptr;
}

// The record h was prepared with, or null.
static plat_waveslot *plat_slot_of(plat_audiohdr *h)
{
    plat_waveslot *s = (plat_waveslot *)h->sys;
    if (!aq_lock_ready || !s || s < plat_slots || s >= plat_slots + PLAT_AUDIOSLOTS) return nullptr;
    EnterCriticalSection(&aq_lock);
    int mine = s->owner == h;
    LeaveCriticalSection(&aq_lock);
    return mine ? s : nullptr;
}

int plat_audio_prepare(plat_audiohdr *h)
{
    if (!h || !plat_wo || !h->lpData || (h->dwFlags & PLAT_WHDR_INQUEUE)) return 0;
    EnterCriticalSection(&aq_lock);
    plat_waveslot *s = plat_slot_for(h);
    if (s) s->owner = h;
    LeaveCriticalSection(&aq_lock);
    if (!s) return 0;
    // A record still prepared from an earlier use is released first.
    if (s->wh.dwFlags & WHDR_PREPARED) waveOutUnprepareHeader(plat_wo, &s->wh, sizeof(WAVEHDR));
    memset(&s->wh, 0, sizeof(WAVEHDR));
    s->wh.lpData = (LPSTR)h->lpData;
    s->wh.dwBufferLength = h->dwBufferLength;
    if (waveOutPrepareHeader(plat_wo, &s->wh, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
        EnterCriticalSection(&aq_lock);
        s->owner = nullptr;
        LeaveCriticalSection(&aq_lock);
        h->sys = nullptr;
        return 0;
    }
    h->sys = s;
    platc_hdr_prepared(h);
    return 1;
}

int plat_audio_unprepare(plat_audiohdr *h)
{
    if (!h) return 0;
    if (h->dwFlags & PLAT_WHDR_INQUEUE) return 0;
    plat_waveslot *s = plat_slot_of(h);
    if (plat_wo && s) {
        if (waveOutUnprepareHeader(plat_wo, &s->wh, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) return 0;
        EnterCriticalSection(&aq_lock);
        s->owner = nullptr;
        LeaveCriticalSection(&aq_lock);
    }
    h->sys = nullptr;
    h->dwFlags &= ~(uint32_t)PLAT_WHDR_PREPARED;
    return 1;
}

int plat_audio_write(plat_audiohdr *h)
{
    if (!h || !plat_wo || !(h->dwFlags & PLAT_WHDR_PREPARED) || (h->dwFlags & PLAT_WHDR_INQUEUE)) return 0;
    plat_waveslot *s = plat_slot_of(h);
    if (!s) return 0;
    // Into our queue first (the device may finish it at once), then to the device;
    // no waveOut call is made while the queue's lock is held.
    EnterCriticalSection(&aq_lock);
    if (aq_count == PLAT_AUDIOSLOTS) {
        LeaveCriticalSection(&aq_lock);
        return 0;
    }
    s->played.store(0);
    platc_hdr_queued(h);
    aq[(aq_head + aq_count) % PLAT_AUDIOSLOTS] = s;
    aq_count++;
    aq_queued++;
    LeaveCriticalSection(&aq_lock);
    if (waveOutWrite(plat_wo, &s->wh, sizeof(WAVEHDR)) == MMSYSERR_NOERROR) return 1;
    // Not queued after all: take it off again (it is the last one unless another
    // thread queued meanwhile).
    EnterCriticalSection(&aq_lock);
    for (int i = aq_count - 1; i >= 0; i--) {
        int k = (aq_head + i) % PLAT_AUDIOSLOTS;
        if (aq[k] != s) continue;
        for (int j = i; j < aq_count - 1; j++)
            aq[(aq_head + j) % PLAT_AUDIOSLOTS] = aq[(aq_head + j + 1) % PLAT_AUDIOSLOTS];
        aq_count--;
        aq_queued--;
        break;
    }
    h->dwFlags &= ~(uint32_t)PLAT_WHDR_INQUEUE;
    LeaveCriticalSection(&aq_lock);
    return 0;
}

void plat_audio_reset(void)
{
    if (!plat_wo) return;
    EnterCriticalSection(&aq_lock);
    uint32_t target = aq_queued;
    LeaveCriticalSection(&aq_lock);
    // The device returns every queued buffer; once it has, each counts as played
    // even if its callback has not come yet.
    waveOutReset(plat_wo);
    EnterCriticalSection(&aq_lock);
    for (int i = 0; i < aq_count; i++) aq[(aq_head + i) % PLAT_AUDIOSLOTS]->played.store(1);
    LeaveCriticalSection(&aq_lock);
    if (GetCurrentThreadId() == plat_audio_threadid) {
        // Called from the done callback itself: hand back here.
        plat_audio_handback();
        return;
    }
    SetEvent(plat_audio_event);
    EnterCriticalSection(&aq_lock);
    while ((int32_t)(aq_handed - target) < 0 && !plat_audio_stop.load())
        SleepConditionVariableCS(&aq_changed, &aq_lock, 50);
    LeaveCriticalSection(&aq_lock);
}

void plat_audio_close(void)
{
    // Our thread ends first: done is not called once this returns.
    if (plat_audio_thread) {
        plat_audio_stop.store(1);
        SetEvent(plat_audio_event);
        if (GetCurrentThreadId() != plat_audio_threadid) WaitForSingleObject(plat_audio_thread, INFINITE);
        CloseHandle(plat_audio_thread);
        plat_audio_thread = NULL;
        plat_audio_threadid = 0;
    }
    if (plat_wo) {
        waveOutReset(plat_wo);
        for (int i = 0; i < PLAT_AUDIOSLOTS; i++) {
            plat_waveslot *s = &plat_slots[i];
            if (s->wh.dwFlags & WHDR_PREPARED) waveOutUnprepareHeader(plat_wo, &s->wh, sizeof(WAVEHDR));
            if (s->owner && s->owner->sys == s) {
                s->owner->sys = nullptr;
                s->owner->dwFlags &= ~(uint32_t)(PLAT_WHDR_PREPARED | PLAT_WHDR_INQUEUE);
            }
            s->owner = nullptr;
        }
        waveOutClose(plat_wo);
        plat_wo = NULL;
    }
    if (plat_audio_event) {
        CloseHandle(plat_audio_event);
        plat_audio_event = NULL;
    }
    if (aq_lock_ready) {
        EnterCriticalSection(&aq_lock);
        aq_head = aq_count = 0;
        LeaveCriticalSection(&aq_lock);
    }
    plat_audio_done = nullptr;
}
