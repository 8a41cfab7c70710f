// encoder.h - writes the capture's pictures and sound into a video file through
// FFmpeg's libraries (libavformat, libavcodec, libswscale, libswresample).
//
// Containers and codecs: .mp4 H.264 + AAC, .mkv H.264 + FLAC (lossless sound),
// .webm VP9 + Opus (Opus runs at 48000 Hz: the sound is resampled), .webp an
// animated picture without sound. Pictures come in as GL reads them (RGBA, bottom
// row first); sound as interleaved signed 16-bit stereo at 44100 Hz.
//
// Threads: frames and sound are queued and converted, hashed and encoded on the
// encoder's own thread, in the order given, while the caller renders the next
// frame. The queue holds a few frames; encoder_frame waits when it is full.
//
// Failure: encoder_open checks everything it can before any frame (the container,
// both encoders, the file can be made) and says which part failed. The file is
// written under OUTPUT.part and renamed to OUTPUT by encoder_close, so a run that
// fails leaves no half-written OUTPUT and an earlier OUTPUT stays as it was.
#ifndef TOOLS_CAPTURE_ENCODER_H
#define TOOLS_CAPTURE_ENCODER_H

#include <stdint.h>

// ---- Calls ---------------------------------------------------------------------------
typedef struct encoder encoder;

// Called on the encoder's thread with each frame before it is converted (rgba is
// width x height, bottom row first).
typedef void (*encoder_frame_fn)(void *user, const uint8_t *rgba, int width, int height);

// Opens path for container (a cap_container) at width x height and fps. Null on
// failure, with one line in err that names what failed.
encoder *encoder_open(const char *path, int container, int width, int height, int fps, char *err,
                      int errsize);
// As encoder_open, with the encoders named (FFmpeg's names; audio null: no sound
// stream). encoder_open picks them by container; a name FFmpeg lacks is the failure
// "no ... encoder".
encoder *encoder_open_with(const char *path, int container, int width, int height, int fps,
                           const char *video_codec, const char *audio_codec, char *err, int errsize);
// Hands each frame, as it is encoded, to fn (the golden record); call before the first frame.
void encoder_set_frame_hook(encoder *e, encoder_frame_fn fn, void *user);
// Queues one picture (copied: the caller may reuse rgba at once). 0 after a failure.
int  encoder_frame(encoder *e, const uint8_t *rgba);
// Queues frames stereo frames of sound (copied). 0 after a failure.
int  encoder_sound(encoder *e, const int16_t *samples, int frames);
// Encodes what is queued, flushes the codecs, finishes the file and renames it to
// its name. 1 on success; 0 with a message in err (the part file is then removed).
// Frees e either way.
int  encoder_close(encoder *e, char *err, int errsize);
// Drops everything and removes the part file (a run that never started). Frees e.
void encoder_abort(encoder *e);

#endif
