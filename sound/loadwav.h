// loadwav.h - RIFF WAVE files with PCM samples, read and written through the file layer.
//
// Only the canonical 44-byte header is understood: "RIFF", size, "WAVE", "fmt " with a
// 16-byte body, then "data" with its size at offset 40 and the samples from offset 44.
// Accepted samples: 8-bit unsigned or 16-bit signed, one or two channels.
#ifndef SOUND_LOADWAV_H
#define SOUND_LOADWAV_H

#include "sound/coresound.h"

// Reads the whole file and copies its samples into the record: channels, frequency,
// bits, size, numsamples and data. Returns 1 when the samples were loaded, 0 if not:
//   file missing                       the file layer's message, record unchanged
//   not "RIFF"..."WAVE"                "No WAV file", record unchanged
//   no "fmt" at 12                     no message, record unchanged
//   (channels, frequency and bits are stored from here on, even when refused)
//   format tag not 1                   "Not PCM signed"
//   no "data" at 36                    no message
//   bits not 8/16, channels not 1/2,
//   header cut short, or data size
//   past the end of the file           a one-line message
// The record's other fields (volume, list state) are left alone; load into a record
// that is not playing, or through Soundsystem_LoadSound.
int Soundsystem_LoadWAV(const char *name, s_sound *s);

// Writes the sound as a canonical WAV file with corefile_savebuffer (which writes only
// when a host directory is mounted). Returns 1; the write's outcome is not examined.
int Soundsystem_SaveWAV(const char *name, s_sound *s);

#endif
