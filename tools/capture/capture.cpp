// capture.cpp - mirador-capture: the show rendered off-screen, frame by frame, into
// a video file with its music.
//
// It runs the show's own start-up, scenes, present and mixer. Only the clock is its
// own: it stands still through start-up and moves on by one frame period at each
// present, so the show's timing is that of a display of the chosen rate however long
// a frame takes to render. Each presented frame is read back from the window's
// stand-in right before the swap; after the swap the mixer makes the sound that plays
// during that frame. Frames and sound go to the encoder, which converts and encodes
// them on its own thread while the next frame renders.
#include <GL/glew.h>

#include <errno.h>
#include <signal.h>
#include <sys/stat.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

extern "C" {
#include <libavutil/md5.h>
#include <libavutil/mem.h>
}

#include "corefile/corefile.h"
#include "demo/main.h"
#include "demo/startup.h"
#include "engine/driver.h"
#include "engine/video.h"
#include "platform/platform.h"
#include "sound/audiodriver.h"
#include "sound/coresound.h"
#include "tools/capture/plan.h"
#include "tools/capture/encoder.h"

static cap_plan plan;
static encoder *enc;
static uint64_t frame_no;           // frames presented so far (all periods)
static uint64_t frames_written;
static uint64_t first_written = UINT64_MAX;
static uint64_t sound_written;      // stereo frames
static std::vector<uint8_t> pixels; // one read-back frame, RGBA, bottom row first
static std::vector<int16_t> sound;  // one frame's sound
static volatile sig_atomic_t interrupted;

// Golden record: the MD5 of every frame written (on the encoder's thread, in order)
// and of the whole sound track.
static std::string record;
static AVMD5 *sound_md5;
static std::vector<uint8_t> rgbrow;

static uint32_t capture_clock(void)
{
    return cap_clock_ms(frame_no, plan.fps);
}

static int writing(void)
{
    return scene >= plan.first && scene <= plan.last;
}

static void hex(const uint8_t d[16], char out[33])
{
    for (int i = 0; i < 16; i++) snprintf(out + 2 * i, 3, "%02x", d[i]);
}

static void record_frame(void *user, const uint8_t *rgba, int w, int h)
{
    (void)user;
    AVMD5 *m = av_md5_alloc();
    if (!m) return;
    av_md5_init(m);
    rgbrow.resize((size_t)w * 3);
    for (int y = h - 1; y >= 0; y--) {
        const uint8_t *p = rgba + (size_t)y * w * 4;
        for (int x = 0; x < w; x++) {
            rgbrow[3 * x] = p[4 * x];
            rgbrow[3 * x + 1] = p[4 * x + 1];
            rgbrow[3 * x + 2] = p[4 * x + 2];
        }
        av_md5_update(m, rgbrow.data(), (size_t)w * 3);
    }
    uint8_t d[16];
    char line[96], x[33];
    av_md5_final(m, d);
    av_free(m);
    hex(d, x);
    // The hook runs in frame order: the frames written are numbered on from the first.
    static uint64_t n;
    snprintf(line, sizeof line, "%llu %s\n", (unsigned long long)(first_written + n++), x);
    record += line;
}

// Right before the swap, with the frame finished in the window's stand-in.
static void capture_present(void)
{
    if (!writing()) return;
    glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, plan.width, plan.height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    if (first_written == UINT64_MAX) first_written = frame_no;
    encoder_frame(enc, pixels.data());
    frames_written++;
}

// The show's swap, then the sound of this frame and the clock's step.
static void capture_swap(void)
{
    int w = writing();
    ORB_SwapBuffers();
    uint64_t from = cap_sound_frames(frame_no, plan.fps);
    uint64_t to = cap_sound_frames(frame_no + 1, plan.fps);
    sound.resize((size_t)(to - from) * 2);
    audiodriver_mixbuffers(sound.data(), (int)(to - from) * 4, 0);
    if (w) {
        encoder_sound(enc, sound.data(), (int)(to - from));
        av_md5_update(sound_md5, (const uint8_t *)sound.data(), (size_t)(to - from) * 4);
        sound_written += to - from;
    }
    frame_no++;
}

static int capture_getkeys(int *held, int *pressed)
{
    *held = *pressed = 0;
    return 0;
}

static void on_signal(int sig)
{
    (void)sig;
    interrupted = 1;
}

static double now_s(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

static void clock_text(double s, char *out, size_t size)
{
    int t = (int)(s + 0.5);
    snprintf(out, size, "%d:%02d", t / 60, t % 60);
}

// Frames the show renders up to the end of the last period asked for.
static uint64_t frames_to_render(void)
{
    int last = plan.last > 22 ? 22 : plan.last;
    return (uint64_t)(last - 1) * cap_period_frames(plan.fps) + (plan.last > 22 ? 1 : 0);
}

static void progress(double start, int last)
{
    static double shown;
    double t = now_s();
    if (!last && t - shown < 0.25) return;
    shown = t;
    uint64_t total = frames_to_render();
    double el = t - start, fps = el > 0 ? frame_no / el : 0;
    double left = fps > 0 && total > frame_no ? (total - frame_no) / fps : 0;
    char e[16], l[16], bar[31];
    clock_text(el, e, sizeof e);
    clock_text(left, l, sizeof l);
    int fill = total ? (int)(30 * frame_no / total) : 30;
    if (fill > 30) fill = 30;
    for (int i = 0; i < 30; i++) bar[i] = i < fill ? '#' : '.';
    bar[30] = 0;
    fprintf(stderr, "\r[%s] period %d/%d  frame %llu/%llu  %s elapsed  %s left  %.1f fps ", bar,
            scene > plan.last ? plan.last : scene, plan.last, (unsigned long long)frame_no, (unsigned long long)total, e,
            l, fps);
    if (last) fputc('\n', stderr);
}

// The pictures and the music that start-up could not load (a missing or damaged image).
static int missing_assets(void)
{
    const s_bitmap *b[] = { &bmp_introbg1, &bmp_introbg2, &bmp_background, &bmp_height,
                            &bmp_texture2, &bmp_texture3, &bmp_texture4 };
    int n = 0;
    for (const s_bitmap *x : b) n += x->pixels == nullptr;
    n += gamemusic.data == nullptr;
    return n;
}

int main(int argc, char **argv)
{
    char err[512];
    for (int i = 1; i < argc; i++)
        if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
            fputs(cap_usage(), stdout);
            return 0;
        }
    if (!cap_parse(argc, argv, &plan, err, sizeof err)) {
        fprintf(stderr, "mirador-capture: %s\n%s", err, cap_usage());
        return 2;
    }
    if (cap_container_of(plan.output) < 0) {
        const char *dot = strrchr(plan.output, '.');
        fprintf(stderr, "mirador-capture: %s: unknown extension %s (use .mp4, .mkv, .webm or .webp)\n",
                plan.output, dot && !strchr(dot, '/') ? dot : "(none)");
        return 1;
    }
    // The golden record is written at the end; that it can be is checked now.
    std::string recpart;
    if (plan.framemd5) {
        recpart = std::string(plan.framemd5) + ".part";
        FILE *f = fopen(recpart.c_str(), "w");
        if (!f) {
            fprintf(stderr, "mirador-capture: cannot write %s: %s\n", plan.framemd5, strerror(errno));
            return 1;
        }
        fclose(f);
    }
    enc = encoder_open(plan.output, plan.container, plan.width, plan.height, plan.fps, err, sizeof err);
    if (!enc) {
        fprintf(stderr, "mirador-capture: %s\n", err);
        if (plan.framemd5) unlink(recpart.c_str());
        return 1;
    }
    const char *how = nullptr;
    if (!plat_init_offscreen(&how)) {
        fprintf(stderr, "mirador-capture: cannot render off-screen: no EGL context, no display and no Xvfb\n");
        encoder_abort(enc);
        if (plan.framemd5) unlink(recpart.c_str());
        return 1;
    }
    fprintf(stderr, "mirador-capture: %s\n", how);
    if (plan.framemd5) encoder_set_frame_hook(enc, record_frame, nullptr);
    sound_md5 = av_md5_alloc();
    av_md5_init(sound_md5);
    pixels.resize((size_t)plan.width * plan.height * 4);

    plat_set_clock(capture_clock);
    mirador_setoutput(plan.width, plan.height);
    ORB_preswap_hook = capture_present;
    frameio.swapbuffers = capture_swap;
    frameio.getkeys = capture_getkeys;
    signal(SIGINT, on_signal);
    signal(SIGTERM, on_signal);

    double start = now_s();
    startup();
    if (!orb_glready || !ORB_FrameBuffer) {
        fprintf(stderr, "mirador-capture: the off-screen GL context could not be set up\n");
        encoder_abort(enc);
        if (plan.framemd5) unlink(recpart.c_str());
        plat_shutdown();
        return 1;
    }
    int missing = missing_assets();
    if (missing)
        fprintf(stderr, "mirador-capture: mirador.dat is missing or damaged (%d of 8 pictures and music did not "
                        "load): capturing what the show shows without them\n", missing);
    startup_music();
    timeline_start();
    const int tty = isatty(2);
    double shown = now_s();
    do {
        timeline_frame();
        if (tty) progress(shown, 0);
    } while (timeline_running() && !interrupted && scene <= plan.last);
    if (tty) progress(shown, 1);

    double render = now_s() - start;
    int ok = encoder_close(enc, err, sizeof err);
    enc = nullptr;
    double total = now_s() - start;
    if (!ok) {
        fprintf(stderr, "mirador-capture: %s\n", err);
        if (plan.framemd5) unlink(recpart.c_str());
        plat_shutdown();
        return 1;
    }
    if (plan.framemd5) {
        uint8_t d[16];
        char x[33];
        av_md5_final(sound_md5, d);
        hex(d, x);
        FILE *f = fopen(recpart.c_str(), "w");
        int wrote = f != nullptr;
        if (f) {
            wrote = fprintf(f,
                            "# mirador-capture golden record: %dx%d, %d fps, periods %d-%d\n"
                            "# frame (0 is the show's first), MD5 of its pixels (RGB, top row first)\n",
                            plan.width, plan.height, plan.fps, plan.first, plan.last) > 0;
            wrote = wrote && fputs(record.c_str(), f) >= 0;
            wrote = wrote && fprintf(f, "# sound: stereo frames at 44100 Hz, MD5 of the signed 16-bit samples\n"
                                        "sound %llu %s\n", (unsigned long long)sound_written, x) > 0;
            wrote = (fclose(f) == 0) && wrote;
        }
        if (!wrote || rename(recpart.c_str(), plan.framemd5) != 0) {
            fprintf(stderr, "mirador-capture: cannot write %s: %s\n", plan.framemd5, strerror(errno));
            unlink(recpart.c_str());
            plat_shutdown();
            return 1;
        }
    }
    av_free(sound_md5);
    double video = (double)frames_written / plan.fps;
    struct stat st;
    double mb = stat(plan.output, &st) == 0 ? st.st_size / 1e6 : 0.0;
    fprintf(stderr,
            "mirador-capture: %s %s: %llu frames from frame %llu (periods %d-%d), %.3f s at %dx%d and %d fps%s, "
            "%.1f MB in %.1f s (rendering %.1f s), %.2fx the running time\n",
            interrupted ? "interrupted, wrote" : "wrote", plan.output, (unsigned long long)frames_written,
            (unsigned long long)(first_written == UINT64_MAX ? 0 : first_written), plan.first,
            interrupted ? (scene > plan.last ? plan.last : scene) : plan.last, video, plan.width, plan.height,
            plan.fps, plan.container == CAP_WEBP ? ", no sound" : " with sound",
            mb, total, render, video > 0 ? total / video : 0.0);
    plat_shutdown();
    return interrupted ? 130 : 0;
}
