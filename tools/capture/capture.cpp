// capture.cpp - mirador-capture: the show rendered off-screen, frame by frame, into
// a video file with its music.
//
// It runs the show's own start-up, scenes, present and mixer on the fixed clock
// (demo/fixedclock.h), so the show's timing is that of a display of the chosen rate
// however long a frame takes to render. Each presented frame is read back from the
// window's stand-in right before the swap; after the swap the mixer makes the sound
// that plays during that frame. Frames and sound go to the encoder, which converts and encodes
// them on its own thread while the next frame renders; there too the golden record,
// when one is asked for, hashes each frame.
#include <GL/glew.h>

#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <vector>

#include "demo/fixedclock.h"
#include "demo/main.h"
#include "demo/show.h"
#include "demo/startup.h"
#include "engine/driver.h"
#include "engine/video.h"
#include "platform/platform.h"
#include "tools/capture/encoder.h"
#include "tools/capture/plan.h"
#include "tools/capture/record.h"

static cap_plan plan;
static encoder *enc;
static record *rec;                 // the golden record, when one is asked for
static int platform_up;             // the off-screen GL is set up: shut it down at the end
static uint64_t frames_written;
static uint64_t first_written = UINT64_MAX;
static std::vector<uint8_t> pixels; // one read-back frame, RGBA, bottom row first
static volatile sig_atomic_t interrupted;

static int writing(void)
{
    return scene >= plan.first && scene <= plan.last;
}

// On the encoder's thread, with each frame in the order written.
static void record_hook(void *user, const uint8_t *rgba, int w, int h)
{
    record_frame((record *)user, rgba, w, h);
}

// Right before the swap, with the frame finished in the window's stand-in.
static void capture_present(void)
{
    if (!writing()) return;
    glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, plan.width, plan.height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    if (first_written == UINT64_MAX) first_written = fixedclock_frame_no;
    encoder_frame(enc, pixels.data());
    frames_written++;
}

// The sound of each frame, right after its swap.
static void capture_sound(const int16_t *stereo, int frames)
{
    if (!writing()) return;
    encoder_sound(enc, stereo, frames);
    if (rec) record_sound(rec, stereo, frames);
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

// Frames the show renders from its start to the end of period last (the whole
// periods from the first, and the one frame of the end).
static uint64_t frames_through(int last, int fps)
{
    int whole = last < SHOW_END_PERIOD ? last : SHOW_END_PERIOD - 1;
    return (uint64_t)(whole - SHOW_FIRST_PERIOD + 1) * fixedclock_period_frames(fps) +
           (last >= SHOW_END_PERIOD ? 1 : 0);
}

// The progress bar, redrawn at most four times a second (*shown: when it last was)
// and once more at the end.
static void progress(double start, double *shown, int last)
{
    double t = now_s();
    if (!last && t - *shown < 0.25) return;
    *shown = t;
    uint64_t total = frames_through(plan.last, plan.fps);
    const uint64_t frame_no = fixedclock_frame_no;
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

// The one failure exit: says why, drops the record and the encoder (neither leaves a
// file behind), shuts the off-screen GL down, and returns the failure status.
__attribute__((format(printf, 1, 2))) static int fail(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    fputs("mirador-capture: ", stderr);
    vfprintf(stderr, fmt, ap);
    fputc('\n', stderr);
    va_end(ap);
    record_abort(rec);
    rec = nullptr;
    if (enc) encoder_abort(enc);
    enc = nullptr;
    if (platform_up) plat_shutdown();
    platform_up = 0;
    return 1;
}

// The show runs on the fixed clock, its frames and sound go to the file.
static void take_over_show(void)
{
    const s_fixedclock c = { plan.fps, nullptr, capture_sound };
    fixedclock_take_over(&c);
    mirador_setoutput(plan.width, plan.height);
    ORB_preswap_hook = capture_present;
    signal(SIGINT, on_signal);
    signal(SIGTERM, on_signal);
}

// The show's own frame loop, until the last period asked for is written or Ctrl-C.
static void play(void)
{
    startup_music();
    timeline_start();
    const int tty = isatty(2);
    double start = now_s(), shown = 0;
    do {
        timeline_frame();
        if (tty) progress(start, &shown, 0);
    } while (timeline_running() && !interrupted && scene <= plan.last);
    if (tty) progress(start, &shown, 1);
}

static void summary(double render, double total)
{
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
        return fail("%s: unknown extension %s (use .mp4, .mkv, .webm or .webp)", plan.output,
                    dot && !strchr(dot, '/') ? dot : "(none)");
    }

    // Everything that can be refused is refused before the show renders: the golden
    // record's file, the video file and its encoders, a way to render off-screen.
    if (plan.framemd5 && !(rec = record_open(&plan, err, sizeof err))) return fail("%s", err);
    enc = encoder_open(plan.output, plan.container, plan.width, plan.height, plan.fps, err, sizeof err);
    if (!enc) return fail("%s", err);
    const char *how = nullptr;
    if (!plat_init_offscreen(&how))
        return fail("cannot render off-screen: no EGL context, no display and no Xvfb");
    platform_up = 1;
    fprintf(stderr, "mirador-capture: %s\n", how);
    if (rec) encoder_set_frame_hook(enc, record_hook, rec);
    pixels.resize((size_t)plan.width * plan.height * 4);

    // The show: its start-up, then its frames, each one written.
    take_over_show();
    double start = now_s();
    startup();
    if (!orb_glready || !ORB_FrameBuffer) return fail("the off-screen GL context could not be set up");
    int missing = startup_missing(nullptr, 0);
    if (missing)
        fprintf(stderr, "mirador-capture: mirador.dat is missing or damaged (%d of %d pictures and music did not "
                        "load): capturing what the show shows without them\n", missing, show_checked_count());
    play();
    double render = now_s() - start;

    // The video file, then the golden record, each complete or not at all.
    int ok = encoder_close(enc, err, sizeof err);
    enc = nullptr;
    double total = now_s() - start;
    if (!ok) return fail("%s", err);
    ok = !rec || record_commit(rec, first_written, err, sizeof err);
    rec = nullptr;  // record_commit frees it
    if (!ok) return fail("%s", err);
    summary(render, total);
    plat_shutdown();
    return interrupted ? 130 : 0;
}
