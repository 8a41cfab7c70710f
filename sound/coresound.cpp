// coresound.cpp - the sound system's API, its playing list and the lock it shares
// with the mixer.
#include "sound/coresound.h"
#include "sound/audiodriver.h"
#include "sound/loadwav.h"

#include <mutex>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

s_soundsystem soundsystem;
s_sound *active_sounds[SOUND_MAXACTIVE];

// Recursive: the mixer holds it for a whole block and calls Soundsystem_StopSound
// inside it, and a stream callback running inside the block may call the API too.
static std::recursive_mutex sound_lock;

void soundsystem_lock(void) { sound_lock.lock(); }
void soundsystem_unlock(void) { sound_lock.unlock(); }

namespace {
struct lock_guard_sound {
    lock_guard_sound() { sound_lock.lock(); }
    ~lock_guard_sound() { sound_lock.unlock(); }
};
}

static int clamp255(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

uint32_t soundsystem_step(int frequency, int channels)
{
    uint32_t rate = (uint32_t)soundsystem.frequency;
    if (rate == 0) return 0;  // no mixing rate yet: the sound does not advance
    return ((uint32_t)frequency * 256u * (uint32_t)channels) / rate;
}

static void set_sidegains(s_sound *s)
{
    s->leftvol = (uint8_t)(((255 - s->panning) * s->volume) >> 8);
    s->rightvol = (uint8_t)((s->panning * s->volume) >> 8);
}

// Volume 255 and centre panning with both side gains 128, stopped, not looping, effects.
static void set_playdefaults(s_sound *s)
{
    s->callback = nullptr;
    s->position = 0;
    s->step = soundsystem_step(s->frequency, s->channels);
    s->volume = 255;
    s->leftvol = s->rightvol = s->panning = 128;
    s->loop = 0;
    s->playing = 0;
    s->music = 0;
}

int Soundsystem_Init(unsigned frequency, unsigned bits, unsigned channels)
{
    if (soundsystem.outbuffer) Soundsystem_CloseAudio();
    channels &= 0xFF;
    bits &= 0xFF;
    {
        lock_guard_sound g;
        soundsystem.frequency = (int32_t)frequency;
        soundsystem.channels = (uint16_t)channels;
        soundsystem.bits = (uint16_t)bits;
        soundsystem.numactive = 0;
        memset(active_sounds, 0, sizeof(active_sounds));
        soundsystem.mastervolume = soundsystem.musicvolume = soundsystem.effectvolume = 255;
        soundsystem.bufferlength = SOUND_BLOCKFRAMES;
        // The mixer accumulates one value per output channel and frame; the device is
        // mono or stereo, so the buffer is sized for what the device will be.
        int outchannels = channels == 2 ? 2 : 1;
        soundsystem.outsize = outchannels * SOUND_BLOCKFRAMES * 4;
        soundsystem.outbuffer = (int32_t *)calloc(1, (size_t)soundsystem.outsize);
    }
    audiodriver_init(44100, 16, SOUND_BLOCKFRAMES, channels == 2 ? 2 : 1);
    printf("soundsystem bufferlength = %d\n", soundsystem.bufferlength);
    return 1;
}

void Soundsystem_CloseAudio(void)
{
    // The device callback takes the lock: close it without holding the lock.
    audiodriver_close();
    lock_guard_sound g;
    free(soundsystem.outbuffer);
    soundsystem.outbuffer = nullptr;
}

int32_t *Soundsystem_GetOutputBuffer(void) { return soundsystem.outbuffer; }

void Soundsystem_SetMasterVolume(int volume)
{
    lock_guard_sound g;
    soundsystem.mastervolume = (uint16_t)clamp255(volume);
}

void Soundsystem_SetMusicVolume(int volume)
{
    lock_guard_sound g;
    soundsystem.musicvolume = (uint16_t)clamp255(volume);
}

void Soundsystem_SetEffectVolume(int volume)
{
    lock_guard_sound g;
    soundsystem.effectvolume = (uint16_t)clamp255(volume);
}

void Soundsystem_SetVolume(s_sound *s, int volume)
{
    lock_guard_sound g;
    s->volume = (uint8_t)clamp255(volume);
    set_sidegains(s);
}

void Soundsystem_SetPanning(s_sound *s, int panning)
{
    lock_guard_sound g;
    s->panning = (uint8_t)clamp255(panning);
    set_sidegains(s);
}

void Soundsystem_SetFrequency(s_sound *s, int frequency)
{
    lock_guard_sound g;
    s->step = soundsystem_step(frequency, s->channels);
}

char *upcase_sound(char *s)
{
    for (char *p = s; *p; p++)
        if (*p >= 'a' && *p <= 'z') *p = (char)(*p - 'a' + 'A');
    return s;
}

// 1 when the name ends in ".wav" in any case. A name whose only '.' is its first
// character has no extension; an extension longer than ".WAV" is not a WAV.
static int is_wavname(const char *name)
{
    const char *dot = strrchr(name, '.');
    if (!dot || dot == name) return 0;
    char ext[8];
    size_t n = strlen(dot);
    if (n >= sizeof(ext)) return 0;
    memcpy(ext, dot, n + 1);
    return strcmp(upcase_sound(ext), ".WAV") == 0;
}

void Soundsystem_LoadSound(const char *name, s_sound *s)
{
    printf("Loading sound %s\n", name);
    // Load into a private record and publish it under the lock, so a record that is
    // still in the playing list never changes under a running block.
    s_sound tmp;
    memset(&tmp, 0, sizeof(tmp));
    if (is_wavname(name)) Soundsystem_LoadWAV(name, &tmp);
    lock_guard_sound g;
    set_playdefaults(&tmp);
    *s = tmp;
}

int Soundsystem_SaveSound(const char *name, s_sound *s) { return Soundsystem_SaveWAV(name, s); }

void Soundsystem_CreateSoundStream(s_sound *s, soundcallback callback, int frequency, int bits,
                                   int channels, int length)
{
    s_sound tmp;
    memset(&tmp, 0, sizeof(tmp));
    tmp.channels = (uint16_t)channels;
    tmp.frequency = frequency;
    tmp.bits = (uint16_t)bits;
    int64_t size = (int64_t)length * channels * (bits >> 3);
    if ((bits == 8 || bits == 16) && (channels == 1 || channels == 2) && length > 0 &&
        size <= INT32_MAX) {
        tmp.data = (uint8_t *)calloc(1, (size_t)size);
        if (tmp.data) {
            tmp.size = (int32_t)size;
            tmp.numsamples = length * channels;
        }
    }
    if (!tmp.data) printf("Sound stream %d Hz, %d bits, %d channels, %d frames not created\n",
                          frequency, bits, channels, length);
    tmp.callback = callback;
    tmp.position = 0;
    tmp.step = soundsystem_step(frequency, channels);
    tmp.volume = 255;
    tmp.leftvol = tmp.rightvol = tmp.panning = 128;
    tmp.loop = 1;
    tmp.playing = 0;
    lock_guard_sound g;
    *s = tmp;
}

static int find_active(const s_sound *s)
{
    for (int i = 0; i < soundsystem.numactive; i++)
        if (active_sounds[i] == s) return i;
    return -1;
}

void Soundsystem_PlaySound(s_sound *s, int loop)
{
    lock_guard_sound g;
    s->playing = 1;
    s->position = 0;
    if (loop) s->loop = 1;
    if (find_active(s) >= 0) return;
    if (soundsystem.numactive < SOUND_MAXACTIVE) active_sounds[soundsystem.numactive++] = s;
}

void Soundsystem_PlayMusic(s_sound *s, int loop)
{
    lock_guard_sound g;
    s->music = 1;
    Soundsystem_PlaySound(s, loop);
}

void Soundsystem_StopSound(s_sound *s)
{
    lock_guard_sound g;
    s->position = 0;
    s->playing = 0;
    int i = find_active(s);
    if (i < 0) return;
    for (; i < soundsystem.numactive - 1; i++) active_sounds[i] = active_sounds[i + 1];
    active_sounds[--soundsystem.numactive] = nullptr;
}

void Soundsystem_StopMusic(s_sound *s) { Soundsystem_StopSound(s); }

void Soundsystem_DeleteSound(s_sound *s)
{
    lock_guard_sound g;
    Soundsystem_StopSound(s);
    free(s->data);
    s->data = nullptr;
}
