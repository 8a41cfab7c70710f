// audiodriver.h - the software mixer and the output driver over the platform's audio device.
//
// The driver keeps four device buffers of 2048 frames queued on the platform's
// waveOut-model output. Each time the device has played one (buffers complete in
// the order queued), its completion callback refills that buffer, g_cur_buf, with
// the next mixed block (fillnextbuffer), queues it again and moves g_cur_buf on, so
// three blocks are always queued ahead of the one playing. The four buffers start as
// silence (the priming blocks). A sound started now is first heard 3 to 4 blocks
// (140 to 186 ms) later.
//
// Limits: 8 (unsigned) or 16 (signed) bits, one or two channels. When no device can
// be opened the driver stays closed and the mixer never runs: the program goes on
// silent.
#ifndef SOUND_AUDIODRIVER_H
#define SOUND_AUDIODRIVER_H

#include <stdint.h>
#include "platform/platform.h"

// Mixes the next block of every playing sound into out: bytes / 2 values of 16-bit
// signed output (bytes values of 8-bit unsigned output when soundsystem.bits is 8),
// interleaved left, right for stereo output. The third argument is not used.
// Takes the sound system's lock for the whole block.
void audiodriver_mixbuffers(void *out, int bytes, int unused);

// Opens the device at frequency Hz with bits 8 or 16, stereo when flags has bit 1
// (value 2) set, else mono; the length argument is ignored (blocks are 2048 frames).
// Writes soundsystem.channels, .bits and .bufferlength. Returns 1 when the device is
// open and primed; 0 for bits other than 8 or 16, when memory runs out, or when no
// device could be opened (the driver then stays closed). Frequency 0 returns 1 at
// once and opens nothing. An open driver is closed first.
int  audiodriver_init(unsigned frequency, unsigned bits, int length, int flags);
// Stops refilling, closes the device and releases the buffers. Harmless when closed.
// Not to be called from inside the device callback (a stream callback).
void audiodriver_close(void);

// Refills buffer g_cur_buf with the next mixed block, queues it and moves g_cur_buf
// on. The device's completion callback calls it each time a buffer has been played;
// it does nothing (beyond unpreparing the finished header) while the driver is closed
// or closing.
void fillnextbuffer(void);

// Where the sound is heard. Output frames count from the device's opening, the four
// priming blocks first. audiodriver_nextframe: the output frame at which the mixer's
// next block begins; read under the sound system's lock right after a sound is
// started, it is where that sound's first frame plays. audiodriver_heard: 1 once that
// output frame has reached the listener (the platform's played position), and also
// when no device is open (nothing will ever be heard).
uint64_t audiodriver_nextframe(void);
int  audiodriver_heard(uint64_t frame);
// From now on output frame `frame` is due at the clock's `ms` (plat_ticks), and the
// output keeps to it: when the listener lags behind by more than 15 ms for half a
// second (the device ran dry, the machine was busy), the mixer skips the sound that was
// missed instead of playing it late for the rest of the run. A listener ahead is left
// alone. Until the driver is closed; nothing happens without a device.
void audiodriver_keep_pace(uint64_t frame, uint32_t ms);

// Push mode (not used by the sound system): the current buffer's address and its
// size in bytes (either pointer may be null), and queueing it, which moves g_cur_buf on.
int  audiodriver_getbuffer(void **buffer, unsigned *size);
void audiodriver_submitbuffer(void);

// ---- Driver state (file scope of the driver; readable for tests) ----------------------
#define AUDIO_NUMBUFFERS 4
typedef plat_audiohdr s_audiohdr;

typedef struct s_audioformat {
    uint16_t wFormatTag;        // 1: PCM
    uint16_t nChannels;
    uint32_t nSamplesPerSec;
    uint32_t nAvgBytesPerSec;
    uint16_t nBlockAlign;
    uint16_t wBitsPerSample;
} s_audioformat;

extern int g_sample_size;           // bytes per output frame: bits/8 x channels
extern int g_buffer_size;           // bytes per buffer: 2048 x g_sample_size
extern uint8_t *g_audio_buffer;     // 4 x g_buffer_size bytes; buffer i at i x g_buffer_size
extern s_audiohdr g_hdr[AUDIO_NUMBUFFERS];
extern s_audioformat g_wf;
extern int g_waveout_opened;        // 1 while the device is open
extern int g_num_prep_buffers;      // headers prepared, 0..4
extern int g_cur_buf;               // the buffer that completes next, refilled when it has

#endif
