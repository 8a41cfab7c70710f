// encoder.cpp - the capture's video file writer over FFmpeg's libraries.
#include "tools/capture/encoder.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include "tools/capture/plan.h"

// Frames waiting for the encoder's thread: enough to ride out a slow frame, few
// enough that memory stays small at 3840x2160.
#define ENC_QUEUE_FRAMES 3

struct enc_job {
    int picture;                 // 1: a picture, 0: sound
    std::vector<uint8_t> data;   // RGBA picture, or interleaved s16 stereo
    int frames;                  // sound frames
};

struct encoder {
    AVFormatContext *fmt = nullptr;
    AVCodecContext *vc = nullptr, *ac = nullptr;
    AVStream *vs = nullptr, *as = nullptr;
    SwsContext *sws = nullptr;
    SwrContext *swr = nullptr;
    AVAudioFifo *fifo = nullptr;
    AVFrame *vframe = nullptr, *aframe = nullptr;
    AVPacket *pkt = nullptr;
    int width = 0, height = 0, fps = 0;
    int64_t vpts = 0, apts = 0;
    std::string path, part;
    encoder_frame_fn hook = nullptr;
    void *hookuser = nullptr;

    std::thread thread;
    std::mutex m;
    std::condition_variable cv;      // the queue changed
    std::deque<enc_job> queue;
    std::vector<std::vector<uint8_t>> spare;  // picture buffers to reuse
    int queued_pictures = 0;
    bool ending = false;
    std::atomic<bool> failed{false};
    char why[256] = "";
};

static void say(char *err, int errsize, const char *fmt, const char *a, const char *b)
{
    if (err && errsize > 0) snprintf(err, (size_t)errsize, fmt, a, b);
}

static const char *averr(int code)
{
    static thread_local char buf[AV_ERROR_MAX_STRING_SIZE];
    av_strerror(code, buf, sizeof buf);
    return buf;
}

// Records the first failure of the encoder's thread; later calls then fail at once.
static void fail(encoder *e, const char *what, int code)
{
    std::lock_guard<std::mutex> g(e->m);
    if (!e->failed.load()) snprintf(e->why, sizeof e->why, "%s: %s", what, averr(code));
    e->failed.store(true);
    e->cv.notify_all();
}

// ---- Encoding (encoder's thread) ------------------------------------------------------------

// Sends frame (null: flush) and writes every packet that comes out.
static int encode(encoder *e, AVCodecContext *c, AVStream *st, AVFrame *frame)
{
    int r = avcodec_send_frame(c, frame);
    if (r < 0) {
        fail(e, "encoding", r);
        return 0;
    }
    for (;;) {
        r = avcodec_receive_packet(c, e->pkt);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return 1;
        if (r < 0) {
            fail(e, "encoding", r);
            return 0;
        }
        av_packet_rescale_ts(e->pkt, c->time_base, st->time_base);
        e->pkt->stream_index = st->index;
        r = av_interleaved_write_frame(e->fmt, e->pkt);
        if (r < 0) {
            fail(e, "writing", r);
            return 0;
        }
    }
}

static void encode_picture(encoder *e, const uint8_t *rgba)
{
    if (e->hook) e->hook(e->hookuser, rgba, e->width, e->height);
    if (av_frame_make_writable(e->vframe) < 0) {
        fail(e, "picture buffer", AVERROR(ENOMEM));
        return;
    }
    // GL's rows run bottom to top: start at the last row and step back.
    const int stride = e->width * 4;
    const uint8_t *src[1] = { rgba + (size_t)stride * (e->height - 1) };
    const int srcstride[1] = { -stride };
    sws_scale(e->sws, src, srcstride, 0, e->height, e->vframe->data, e->vframe->linesize);
    e->vframe->pts = e->vpts++;
    encode(e, e->vc, e->vs, e->vframe);
}

// Encodes whole codec frames from the FIFO; at the end (last) also the rest.
static void drain_sound(encoder *e, int last)
{
    const int size = e->ac->frame_size > 0 ? e->ac->frame_size : 4096;
    while (!e->failed.load()) {
        int have = av_audio_fifo_size(e->fifo);
        if (have == 0 || (have < size && !last)) return;
        int n = have < size ? have : size;
        e->aframe->nb_samples = n;
        if (av_frame_make_writable(e->aframe) < 0) {
            fail(e, "sound buffer", AVERROR(ENOMEM));
            return;
        }
        av_audio_fifo_read(e->fifo, (void **)e->aframe->data, n);
        e->aframe->pts = e->apts;
        e->apts += n;
        encode(e, e->ac, e->as, e->aframe);
    }
}

// Converts s16 stereo at 44100 Hz (null: what the resampler still holds) into the
// codec's format and rate and queues it in the FIFO.
static void encode_sound(encoder *e, const int16_t *samples, int frames)
{
    int outmax = swr_get_out_samples(e->swr, frames);
    if (outmax <= 0) return;
    uint8_t **out = nullptr;
    if (av_samples_alloc_array_and_samples(&out, nullptr, 2, outmax, e->ac->sample_fmt, 0) < 0) {
        fail(e, "sound buffer", AVERROR(ENOMEM));
        return;
    }
    const uint8_t *in[1] = { (const uint8_t *)samples };
    int got = swr_convert(e->swr, out, outmax, samples ? in : nullptr, samples ? frames : 0);
    if (got > 0) av_audio_fifo_write(e->fifo, (void **)out, got);
    av_freep(&out[0]);
    av_freep(&out);
    if (got < 0) fail(e, "sound conversion", got);
    else drain_sound(e, 0);
}

static void run(encoder *e)
{
    for (;;) {
        enc_job job;
        {
            std::unique_lock<std::mutex> g(e->m);
            e->cv.wait(g, [e] { return !e->queue.empty() || e->ending; });
            if (e->queue.empty()) break;
            job = std::move(e->queue.front());
            e->queue.pop_front();
        }
        if (!e->failed.load()) {
            if (job.picture) encode_picture(e, job.data.data());
            else if (e->ac) encode_sound(e, (const int16_t *)job.data.data(), job.frames);
        }
        std::lock_guard<std::mutex> g(e->m);
        if (job.picture) {
            e->queued_pictures--;
            e->spare.push_back(std::move(job.data));
        }
        e->cv.notify_all();
    }
    // Flush: the resampler, the last partial sound frame, then both codecs.
    if (!e->failed.load() && e->ac) {
        encode_sound(e, nullptr, 0);
        drain_sound(e, 1);
        encode(e, e->ac, e->as, nullptr);
    }
    if (!e->failed.load()) encode(e, e->vc, e->vs, nullptr);
}

// ---- Set-up ------------------------------------------------------------------------------------

static void release(encoder *e)
{
    avcodec_free_context(&e->vc);
    avcodec_free_context(&e->ac);
    if (e->fmt) {
        if (e->fmt->pb) avio_closep(&e->fmt->pb);
        avformat_free_context(e->fmt);
        e->fmt = nullptr;
    }
    sws_freeContext(e->sws);
    swr_free(&e->swr);
    if (e->fifo) av_audio_fifo_free(e->fifo);
    av_frame_free(&e->vframe);
    av_frame_free(&e->aframe);
    av_packet_free(&e->pkt);
    delete e;
}

static int set_opt(AVCodecContext *c, const char *name, const char *value)
{
    return av_opt_set(c->priv_data, name, value, 0) >= 0;
}

// Opens the codec set up in c and gives the file a stream of it.
static AVStream *open_stream(encoder *e, AVCodecContext *c, const AVCodec *codec, char *err, int errsize)
{
    if (e->fmt->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int r = avcodec_open2(c, codec, nullptr);
    if (r < 0) {
        say(err, errsize, "cannot open the %s encoder: %s", codec->name, averr(r));
        return nullptr;
    }
    AVStream *st = avformat_new_stream(e->fmt, nullptr);
    if (!st || avcodec_parameters_from_context(st->codecpar, c) < 0) return nullptr;
    st->time_base = c->time_base;
    return st;
}

static AVStream *open_video(encoder *e, const AVCodec *codec, int container, char *err, int errsize)
{
    AVCodecContext *c = e->vc = avcodec_alloc_context3(codec);
    if (!c) return nullptr;
    c->width = e->width;
    c->height = e->height;
    c->time_base = AVRational{ 1, e->fps };
    c->framerate = AVRational{ e->fps, 1 };
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->gop_size = 2 * e->fps;  // a key frame every 2 s, for seeking
    // The conversion below uses BT.709 coefficients at limited range: say so.
    c->colorspace = AVCOL_SPC_BT709;
    c->color_primaries = AVCOL_PRI_BT709;
    c->color_trc = AVCOL_TRC_BT709;
    c->color_range = AVCOL_RANGE_MPEG;
    if (container == CAP_WEBP) {
        c->color_range = AVCOL_RANGE_UNSPECIFIED;
        set_opt(c, "quality", "70");
        set_opt(c, "compression_level", "4");
    } else if (codec->id == AV_CODEC_ID_H264) {
        // Fast, and sharp enough for the scan lines: the picture barely changes between
        // presets above this, the time does.
        set_opt(c, "preset", "veryfast");
        set_opt(c, "crf", "20");
    } else if (codec->id == AV_CODEC_ID_VP9) {
        set_opt(c, "deadline", "realtime");
        set_opt(c, "cpu-used", "8");
        set_opt(c, "row-mt", "1");
        set_opt(c, "crf", "32");
        c->bit_rate = 0;
    }
    AVStream *st = open_stream(e, c, codec, err, errsize);
    if (!st) return nullptr;
    st->avg_frame_rate = c->framerate;
    e->vframe = av_frame_alloc();
    if (!e->vframe) return nullptr;
    e->vframe->format = c->pix_fmt;
    e->vframe->width = c->width;
    e->vframe->height = c->height;
    if (av_frame_get_buffer(e->vframe, 0) < 0) return nullptr;
    e->sws = sws_getContext(e->width, e->height, AV_PIX_FMT_RGBA, e->width, e->height, AV_PIX_FMT_YUV420P,
                            SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
    if (!e->sws) return nullptr;
    const int *coef = sws_getCoefficients(SWS_CS_ITU709);
    sws_setColorspaceDetails(e->sws, sws_getCoefficients(SWS_CS_DEFAULT), 1, coef, 0, 0, 1 << 16, 1 << 16);
    return st;
}

static AVStream *open_audio(encoder *e, const AVCodec *codec, char *err, int errsize)
{
    AVCodecContext *c = e->ac = avcodec_alloc_context3(codec);
    if (!c) return nullptr;
    // 16-bit samples where the codec takes them (FLAC stays lossless), else its first.
    c->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    for (const AVSampleFormat *f = codec->sample_fmts; f && *f != AV_SAMPLE_FMT_NONE; f++)
        if (*f == AV_SAMPLE_FMT_S16) c->sample_fmt = AV_SAMPLE_FMT_S16;
    // 44100 Hz where the codec has it (Opus does not: 48000).
    c->sample_rate = SHOW_SOUND_RATE;
    if (codec->supported_samplerates) {
        int best = 0;
        for (const int *r = codec->supported_samplerates; *r; r++) {
            if (*r == SHOW_SOUND_RATE) best = SHOW_SOUND_RATE;
            if (!best || (best != SHOW_SOUND_RATE && *r > best)) best = *r;
        }
        c->sample_rate = best;
    }
    av_channel_layout_default(&c->ch_layout, 2);
    c->time_base = AVRational{ 1, c->sample_rate };
    if (codec->id == AV_CODEC_ID_AAC) c->bit_rate = 192000;
    if (codec->id == AV_CODEC_ID_OPUS) c->bit_rate = 160000;
    AVStream *st = open_stream(e, c, codec, err, errsize);
    if (!st) return nullptr;
    AVChannelLayout stereo;
    av_channel_layout_default(&stereo, 2);
    if (swr_alloc_set_opts2(&e->swr, &c->ch_layout, c->sample_fmt, c->sample_rate, &stereo, AV_SAMPLE_FMT_S16,
                            SHOW_SOUND_RATE, 0, nullptr) < 0 ||
        swr_init(e->swr) < 0)
        return nullptr;
    e->fifo = av_audio_fifo_alloc(c->sample_fmt, 2, 8192);
    e->aframe = av_frame_alloc();
    if (!e->fifo || !e->aframe) return nullptr;
    e->aframe->format = c->sample_fmt;
    e->aframe->sample_rate = c->sample_rate;
    av_channel_layout_copy(&e->aframe->ch_layout, &c->ch_layout);
    e->aframe->nb_samples = c->frame_size > 0 ? c->frame_size : 4096;
    if (av_frame_get_buffer(e->aframe, 0) < 0) return nullptr;
    return st;
}

encoder *encoder_open_with(const char *path, int container, int width, int height, int fps,
                           const char *video_codec, const char *audio_codec, char *err, int errsize)
{
    static const char *const muxers[] = { "mp4", "matroska", "webm", "webp" };
    if (container < CAP_MP4 || container > CAP_WEBP) {
        say(err, errsize, "%s: unknown container (not .mp4, .mkv, .webm or .webp)", path, "");
        return nullptr;
    }
    // Only a file can be replaced: a folder, or a file that may not be written, is refused.
    struct stat st;
    if (stat(path, &st) == 0 && (S_ISDIR(st.st_mode) || access(path, W_OK) != 0)) {
        say(err, errsize, "cannot write %s: %s", path, S_ISDIR(st.st_mode) ? "it is a folder" : strerror(errno));
        return nullptr;
    }
    const AVCodec *vcodec = avcodec_find_encoder_by_name(video_codec);
    if (!vcodec) {
        say(err, errsize, "no video encoder %s in this FFmpeg (needed for %s)", video_codec, path);
        return nullptr;
    }
    const AVCodec *acodec = audio_codec ? avcodec_find_encoder_by_name(audio_codec) : nullptr;
    if (audio_codec && !acodec) {
        say(err, errsize, "no sound encoder %s in this FFmpeg (needed for %s)", audio_codec, path);
        return nullptr;
    }
    const AVOutputFormat *of = av_guess_format(muxers[container], nullptr, nullptr);
    if (!of) {
        say(err, errsize, "no %s muxer in this FFmpeg (needed for %s)", muxers[container], path);
        return nullptr;
    }
    av_log_set_level(AV_LOG_ERROR);

    encoder *e = new encoder;
    e->width = width;
    e->height = height;
    e->fps = fps;
    e->path = path;
    e->part = e->path + ".part";
    if (avformat_alloc_output_context2(&e->fmt, of, nullptr, e->part.c_str()) < 0 || !e->fmt) {
        say(err, errsize, "cannot set up %s for %s", muxers[container], path);
        release(e);
        return nullptr;
    }
    char why[256] = "";
    e->pkt = av_packet_alloc();
    e->vs = open_video(e, vcodec, container, why, sizeof why);
    if (e->vs && acodec) e->as = open_audio(e, acodec, why, sizeof why);
    if (!e->pkt || !e->vs || (acodec && !e->as)) {
        say(err, errsize, "%s", why[0] ? why : "out of memory setting up the encoders", "");
        release(e);
        return nullptr;
    }
    int r = avio_open(&e->fmt->pb, e->part.c_str(), AVIO_FLAG_WRITE);
    if (r < 0) {
        say(err, errsize, "cannot write %s: %s", path, averr(r));
        release(e);
        return nullptr;
    }
    if (container == CAP_WEBP) av_opt_set_int(e->fmt->priv_data, "loop", 0, 0);
    r = avformat_write_header(e->fmt, nullptr);
    if (r < 0) {
        say(err, errsize, "cannot write %s: %s", path, averr(r));
        release(e);
        unlink(e->part.c_str());
        return nullptr;
    }
    e->thread = std::thread(run, e);
    return e;
}

encoder *encoder_open(const char *path, int container, int width, int height, int fps, char *err, int errsize)
{
    static const char *const video[] = { "libx264", "libx264", "libvpx-vp9", "libwebp_anim" };
    static const char *const sound[] = { "aac", "flac", "libopus", nullptr };
    if (container < CAP_MP4 || container > CAP_WEBP) return encoder_open_with(path, container, width, height, fps,
                                                                             "", nullptr, err, errsize);
    return encoder_open_with(path, container, width, height, fps, video[container], sound[container], err, errsize);
}

void encoder_set_frame_hook(encoder *e, encoder_frame_fn fn, void *user)
{
    e->hook = fn;
    e->hookuser = user;
}

int encoder_frame(encoder *e, const uint8_t *rgba)
{
    const size_t size = (size_t)e->width * e->height * 4;
    std::unique_lock<std::mutex> g(e->m);
    e->cv.wait(g, [e] { return e->queued_pictures < ENC_QUEUE_FRAMES || e->failed.load(); });
    if (e->failed.load()) return 0;
    enc_job job;
    job.picture = 1;
    job.frames = 0;
    if (!e->spare.empty()) {
        job.data = std::move(e->spare.back());
        e->spare.pop_back();
    }
    g.unlock();
    job.data.resize(size);
    memcpy(job.data.data(), rgba, size);
    g.lock();
    e->queue.push_back(std::move(job));
    e->queued_pictures++;
    e->cv.notify_all();
    return 1;
}

int encoder_sound(encoder *e, const int16_t *samples, int frames)
{
    if (frames <= 0) return !e->failed.load();
    enc_job job;
    job.picture = 0;
    job.frames = frames;
    job.data.assign((const uint8_t *)samples, (const uint8_t *)samples + (size_t)frames * 4);
    std::lock_guard<std::mutex> g(e->m);
    if (e->failed.load()) return 0;
    e->queue.push_back(std::move(job));
    e->cv.notify_all();
    return 1;
}

static void stop_thread(encoder *e)
{
    {
        std::lock_guard<std::mutex> g(e->m);
        e->ending = true;
        e->cv.notify_all();
    }
    if (e->thread.joinable()) e->thread.join();
}

int encoder_close(encoder *e, char *err, int errsize)
{
    stop_thread(e);
    int ok = !e->failed.load();
    if (ok) {
        int r = av_write_trailer(e->fmt);
        if (r < 0) snprintf(e->why, sizeof e->why, "finishing the file: %s", averr(r));
        ok = r >= 0;
    }
    if (e->fmt->pb) {
        if (avio_closep(&e->fmt->pb) < 0) ok = 0;
    }
    if (ok && rename(e->part.c_str(), e->path.c_str()) != 0) {
        snprintf(e->why, sizeof e->why, "renaming %s: %s", e->part.c_str(), strerror(errno));
        ok = 0;
    }
    if (!ok) {
        say(err, errsize, "%s: %s", e->path.c_str(), e->why);
        unlink(e->part.c_str());
    }
    release(e);
    return ok;
}

void encoder_abort(encoder *e)
{
    {
        std::lock_guard<std::mutex> g(e->m);
        e->failed.store(true);  // nothing more is encoded, nor flushed
        e->queue.clear();
        e->queued_pictures = 0;
    }
    stop_thread(e);
    if (e->fmt->pb) avio_closep(&e->fmt->pb);
    unlink(e->part.c_str());
    release(e);
}
