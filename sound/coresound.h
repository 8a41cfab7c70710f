// coresound.h - the sound system: a small software mixer with a flat API.
//
// Sounds live in caller-owned s_sound records; the library keeps a list of up to
// 16 playing sounds that point at them, and owns the mix buffer the mixer
// (audiodriver_mixbuffers) fills each time the output device needs a block.
// Sounds come from WAV files or are streams that a callback refills. Each sound
// has a volume and a panning and belongs to the music or the effects group; each
// group has a volume under the master volume.
//
// Threads: the API is called from one thread (the demo's); the mixer runs on the
// audio device's thread. Every change to the playing list, the records or the
// volumes is made under one recursive lock that the mixer holds for a whole block,
// so a change lands before or after a block, never inside one. The mixer itself
// (and a stream callback, which runs inside the block) may call the API.
//
// Limits: 16 playing sounds (a 17th is silently not started); 8-bit unsigned or
// 16-bit signed samples, one or two channels; the device always runs at 44100 Hz,
// 16 bits, in blocks of 2048 frames.
#ifndef SOUND_CORESOUND_H
#define SOUND_CORESOUND_H

#include <stdint.h>

#define SOUND_MAXACTIVE 16      // slots of the playing list
#define SOUND_BLOCKFRAMES 2048  // frames per mixed block

// ---- Library -------------------------------------------------------------------------
// Stores the mixing rate (callers pass 44100, the rate the device plays), resets the
// list and the volumes (255), allocates the mix buffer and starts the output device
// at 44100 Hz, 16 bits, stereo when channels == 2 else mono. Only the low byte of bits
// and channels counts. Calling it again closes the running output first. Returns 1,
// also when no device could be opened (the mixer then never runs: silence).
int  Soundsystem_Init(unsigned frequency, unsigned bits, unsigned channels);
void Soundsystem_CloseAudio(void);          // closes the device, releases the mix buffer
int32_t *Soundsystem_GetOutputBuffer(void); // the mix buffer (channels x 2048 values), or null

// Group volumes, clamped to 0..255.
void Soundsystem_SetMasterVolume(int volume);
void Soundsystem_SetMusicVolume(int volume);
void Soundsystem_SetEffectVolume(int volume);

// ---- Sounds ----------------------------------------------------------------------------
typedef void (*soundcallback)(void *data, int size);

typedef struct s_sound {
    int16_t playing;       // 1 after Soundsystem_PlaySound, 0 when stopped
    uint16_t channels;     // 1 mono, 2 stereo (values interleaved left, right)
    uint16_t bits;         // 8 (unsigned) or 16 (signed little-endian)
    int32_t size;          // sample data in bytes
    int32_t numsamples;    // sample values, all channels counted
    int32_t frequency;     // sample rate in Hz
    uint64_t position;     // play position in values, 8 fractional bits
    uint32_t step;         // position increment per output frame, same fixed point
    int32_t loop;          // non-zero: wraps to the start at the end
    int32_t music;         // 1: music group, else effects group
    uint8_t volume;        // 0..255
    uint8_t leftvol;       // ((255 - panning) * volume) >> 8
    uint8_t rightvol;      // (panning * volume) >> 8
    uint8_t panning;       // 0 left .. 255 right
    soundcallback callback;// stream refill, called on the mixer thread; null for plain sounds
    uint8_t *data;         // sample data, owned by the record
} s_sound;

// Loads a ".wav" file (any case) through the file layer into the record, which is
// cleared first; any other name leaves an empty sound. Either way the record gets
// the playing defaults: stopped, volume 255, centre panning, not looping, effects.
void Soundsystem_LoadSound(const char *name, s_sound *s);
int  Soundsystem_SaveSound(const char *name, s_sound *s);   // writes a WAV; returns 1

// Sets the record up as a looping stream of length frames with a zero-filled buffer;
// each time playback passes the end, callback(data, size) must refill the whole
// buffer (it runs on the mixer thread, inside the block). A format the mixer cannot
// play (bits not 8 or 16, channels not 1 or 2, length not positive) leaves no buffer.
void Soundsystem_CreateSoundStream(s_sound *s, soundcallback callback, int frequency,
                                   int bits, int channels, int length);

void Soundsystem_SetVolume(s_sound *s, int volume);     // clamps 0..255, recomputes side gains
void Soundsystem_SetPanning(s_sound *s, int panning);   // clamps 0..255, recomputes side gains
void Soundsystem_SetFrequency(s_sound *s, int frequency); // new step for that rate

// Starts the sound from the beginning (restarts it in place when already playing);
// a non-zero loop sets looping, zero leaves it as it was.
void Soundsystem_PlaySound(s_sound *s, int loop);
void Soundsystem_PlayMusic(s_sound *s, int loop);       // music group, then as PlaySound
void Soundsystem_StopSound(s_sound *s);                 // rewinds and leaves the list
void Soundsystem_StopMusic(s_sound *s);                 // same as Soundsystem_StopSound
// Stops the sound and releases its data; data is set to null, so playing a deleted
// sound ends at once and a second delete is harmless.
void Soundsystem_DeleteSound(s_sound *s);

char *upcase_sound(char *s);                            // ASCII a..z to upper case in place

// ---- State -------------------------------------------------------------------------------
typedef struct s_soundsystem {
    int32_t frequency;     // mixing rate, used for every step
    uint16_t channels;     // output channels (set by the driver)
    uint16_t bits;         // output sample width (set by the driver)
    int32_t bufferlength;  // frames per mixed block: 2048
    int32_t outsize;       // mix buffer in bytes: channels x 2048 x 4
    uint16_t mastervolume, musicvolume, effectvolume;
    int32_t *outbuffer;    // the mix buffer, owned by the library
    int32_t numactive;     // entries in active_sounds
} s_soundsystem;

extern s_soundsystem soundsystem;
extern s_sound *active_sounds[SOUND_MAXACTIVE];  // the playing list, in start order

// step = (frequency * 256 * channels) / mixing rate, 32-bit unsigned, truncating;
// 0 while no mixing rate is set.
uint32_t soundsystem_step(int frequency, int channels);

// The lock shared with the mixer (recursive). Hold it to read or change the list or
// a playing record from another thread. Never close the output (Soundsystem_Init,
// Soundsystem_CloseAudio, audiodriver_close) while holding it: closing waits for the
// device callback, which waits for this lock.
void soundsystem_lock(void);
void soundsystem_unlock(void);

#endif
