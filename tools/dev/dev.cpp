// dev.cpp - mirador-dev: the show in a window as a workbench, to pause, step, loop,
// jump between periods and see changed pictures at once.
//
// It runs the library's own start-up, scenes, present and mixer on the capture's
// clock: the show's clock stands at 0 through start-up and moves on by 1000/60 ms,
// spread over whole milliseconds, at each frame, so every frame it shows is the frame
// mirador-capture writes at that show time. The mixer runs in lock-step: after each
// frame it makes that frame's sound, which goes to the sound device through a queue;
// the device plays silence whenever the queue is empty (paused, stepping, jumping).
//
// Real time: frame n of a run is due at the run's start + n x 1000/60 ms / speed, at
// every speed. At 1x (the only speed with music) each frame makes exactly its share of
// the device's rate, so the sound queue neither grows nor runs dry while frames keep
// time; a device takes sound in blocks of its own (often more than two frames of the
// show), so a run starts with the queue topped up with silence to what
// the device may take at once, and the queue is kept from growing past that and three
// frames more (after the machine fell behind and caught up, the excess is what was
// late: it is skipped). When the machine falls behind (a frame is late), the picture
// gives way, not the music: up to three
// frames in a row are run without presenting them (their scene is drawn, their sound
// made, only the scale-up to the window and the swap are left out), so the music
// goes on unbroken while fewer pictures reach the screen. The sound is what a viewer
// notices first (a gap or a stutter), a frame not shown is barely seen, and the state
// of the show does not depend on the present. When even the scenes alone cannot keep
// up, the run falls further behind, the sound queue runs dry, and the overlay says so.
//
// Jumps are exact: the whole state of the show is saved at the start of every period
// the first time it is reached (checkpoint.h). A jump to a period already seen puts
// that state back; a jump to a later period runs on from the nearest saved point
// without presenting, with a progress line. Stepping back one frame runs from the
// period's saved start to the frame before.
#include <GL/glew.h>

#include <errno.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#ifdef DEV_HAVE_MD5
extern "C" {
#include <libavutil/md5.h>
#include <libavutil/mem.h>
}
#endif

#include "corefile/corefile.h"
#include "demo/main.h"
#include "demo/startup.h"
#include "engine/driver.h"
#include "engine/video.h"
#include "platform/platform.h"
#include "sound/audiodriver.h"
#include "sound/coresound.h"
#include "tools/capture/plan.h"
#include "tools/dev/checkpoint.h"
#include "tools/dev/hud.h"
#include "tools/dev/options.h"
#include "tools/dev/reload.h"

static const int FPS = 60;

static dev_options opt;
static std::atomic<int> closing{0};   // the window was closed or Escape pressed

// ---- Clock -------------------------------------------------------------------------------------
static uint64_t frame_no;   // the next frame to run (0 is the show's first)

static uint32_t dev_clock(void)
{
    return cap_clock_ms(frame_no, FPS);
}

// The engine's wait with vertical sync on, as the capture's clock gives it: one frame
// period or more per frame, never a wait.
static float dev_waitrefresh(void)
{
    ORB_video_numframes++;
    uint32_t now = plat_ticks();
    float elapsed = (float)(uint32_t)(now - ORB_video_time);
    ORB_video_time = now;
    if ((float)ORB_video_updatespeed >= elapsed) return 1.0f;
    return elapsed / (float)ORB_video_updatespeed;
}

static double wall_ms(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

// ---- Sound -------------------------------------------------------------------------------------
// The show's sound, frame by frame, waits in a queue that the device's hand-back
// drains block by block; what the queue lacks is played as silence.
#define DEV_BLOCK 512   // frames per device block (11.6 ms)
#define DEV_BLOCKS 4
static std::mutex q_lock;
static std::vector<int16_t> q;          // queued stereo samples
static size_t q_head;                   // first unplayed value in q
static plat_audiohdr hdr[DEV_BLOCKS];
static int16_t blocks[DEV_BLOCKS][DEV_BLOCK * 2];
static std::atomic<int> audio_open{0};  // read by the device's hand-back thread

static void fill_block(plat_audiohdr *h)
{
    int16_t *out = (int16_t *)h->lpData;
    size_t want = DEV_BLOCK * 2, got = 0;
    {
        std::lock_guard<std::mutex> g(q_lock);
        size_t have = q.size() - q_head;
        got = have < want ? have : want;
        if (got) memcpy(out, q.data() + q_head, got * 2);  // an empty queue has no data() to copy from
        q_head += got;
        if (q_head == q.size()) {
            q.clear();
            q_head = 0;
        } else if (q_head > 1 << 16) {
            q.erase(q.begin(), q.begin() + (long)q_head);
            q_head = 0;
        }
    }
    memset(out + got, 0, (want - got) * 2);
}

static void audio_done(void *user, plat_audiohdr *h)
{
    (void)user;
    if (!audio_open) return;
    fill_block(h);
    plat_audio_write(h);
}

static void audio_start(void)
{
    if (!plat_audio_open(44100, 16, 2, audio_done, nullptr)) {
        printf("mirador-dev: no sound device: the show runs silent\n");
        return;
    }
    audio_open = 1;
    for (int i = 0; i < DEV_BLOCKS; i++) {
        memset(&hdr[i], 0, sizeof hdr[i]);
        hdr[i].lpData = (uint8_t *)blocks[i];
        hdr[i].dwBufferLength = sizeof blocks[i];
        memset(blocks[i], 0, sizeof blocks[i]);
        if (plat_audio_prepare(&hdr[i])) plat_audio_write(&hdr[i]);
    }
}

static void audio_stop(void)
{
    if (!audio_open) return;
    audio_open = 0;
    plat_audio_reset();
    for (int i = 0; i < DEV_BLOCKS; i++) plat_audio_unprepare(&hdr[i]);
    plat_audio_close();
}

// What a device may take at once: the whole ring of blocks. A run starts with this much
// queued, and the queue holds at most this and three frames more.
#define DEV_CUSHION (DEV_BLOCK * DEV_BLOCKS)

static void queue_sound(const int16_t *s, size_t values)
{
    std::lock_guard<std::mutex> g(q_lock);
    q.insert(q.end(), s, s + values);
    const size_t most = (DEV_CUSHION + 3 * 735) * 2;
    if (q.size() - q_head > most) q_head = q.size() - most;
}

// Silence before what is queued, up to the cushion: the start of a run at 1x.
static void queue_cushion(void)
{
    std::lock_guard<std::mutex> g(q_lock);
    size_t have = q.size() - q_head, want = DEV_CUSHION * 2;
    if (have < want) {
        q.insert(q.begin() + (long)q_head, want - have, (int16_t)0);
    }
}

static void queue_clear(void)
{
    std::lock_guard<std::mutex> g(q_lock);
    q.clear();
    q_head = 0;
}

static double queue_ms(void)
{
    std::lock_guard<std::mutex> g(q_lock);
    return (q.size() - q_head) / 2 * 1000.0 / 44100.0;
}

// ---- Record (--record) ---------------------------------------------------------------------------
static FILE *rec, *rec_pcm;
static std::vector<uint8_t> pixels;

#ifdef DEV_HAVE_MD5
static void record_frame(void)
{
    int w = opt.width, h = opt.height;
    pixels.resize((size_t)w * h * 4);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    // The capture's record: RGB, top row first.
    AVMD5 *m = av_md5_alloc();
    if (!m) return;
    av_md5_init(m);
    std::vector<uint8_t> row((size_t)w * 3);
    for (int y = h - 1; y >= 0; y--) {
        const uint8_t *p = pixels.data() + (size_t)y * w * 4;
        for (int x = 0; x < w; x++) {
            row[3 * x] = p[4 * x];
            row[3 * x + 1] = p[4 * x + 1];
            row[3 * x + 2] = p[4 * x + 2];
        }
        av_md5_update(m, row.data(), (size_t)w * 3);
    }
    uint8_t d[16];
    av_md5_final(m, d);
    av_free(m);
    fprintf(rec, "%llu ", (unsigned long long)frame_no);
    for (int i = 0; i < 16; i++) fprintf(rec, "%02x", d[i]);
    fputc('\n', rec);
    fflush(rec);
}
#endif

// ---- Frame ---------------------------------------------------------------------------------------
static int presenting = 1;        // 0: the frame is run without its present
static int overlay_on = 1, help_on;
static int paused, loop_period;   // loop_period: 0, or the period that repeats
static double speed = 1.0;
static double t_scene, t_present, t_frame, fps_shown;
static uint64_t dropped;          // frames not presented to keep up
static char message[160];
static const char *behind_text;
static std::vector<int16_t> sound;
static uint64_t shown_frame;      // the frame on screen
static int shown_scene;
static double shown_pos;
static long frames_shown;

static dev_checkpoint checkpoints[24];
static uint8_t known[24];

static void say(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(message, sizeof message, fmt, ap);
    va_end(ap);
    printf("mirador-dev: %s\n", message);
    fflush(stdout);
}

static void draw_overlay(void)
{
    if (!overlay_on && !help_on) return;
    dev_hud h;
    memset(&h, 0, sizeof h);
    h.scene = shown_scene;
    h.frame = shown_frame;
    h.show_ms = cap_clock_ms(shown_frame, FPS);
    h.period_pos = shown_pos;
    h.scene_ms = t_scene;
    h.present_ms = t_present;
    h.frame_ms = t_frame;
    h.fps = fps_shown;
    h.queue_ms = queue_ms() + DEV_BLOCKS * DEV_BLOCK * 1000.0 / 44100.0;
    h.paused = paused;
    h.loop = loop_period != 0;
    h.help = help_on;
    h.speed = speed;
    h.sound = !audio_open ? "none (no device)" : paused ? "paused" : speed != 1.0 ? "muted (speed not 1x)" : "plays";
    h.behind = behind_text;
    h.message = message[0] ? message : nullptr;
    h.known = known;
    h.lines = overlay_on;
    dev_hud_draw(&h, opt.width, opt.height);
}

// Right before the swap: the show's picture is finished in the window; the record
// reads it back before the overlay goes over it.
static int recording_frame;
static void present_hook(void)
{
#ifdef DEV_HAVE_MD5
    if (rec && recording_frame) record_frame();
#endif
    draw_overlay();
}

static void timed_scene(int s)
{
    double t = wall_ms();
    run_scene(s);
    t_scene = wall_ms() - t;
}

// The show's swap (or, when the frame is not presented, nothing), then the frame's
// sound and the clock's step.
static int queue_this_frame;
static void dev_swap(void)
{
    double t = wall_ms();
    if (presenting) {
        shown_frame = frame_no;
        shown_scene = scene;
        shown_pos = scenetime / 513.0 > 1 ? 1 : scenetime / 513.0;
        ORB_SwapBuffers();
        t_present = wall_ms() - t;
        frames_shown++;
    }
    uint64_t from = cap_sound_frames(frame_no, FPS), to = cap_sound_frames(frame_no + 1, FPS);
    sound.resize((size_t)(to - from) * 2);
    audiodriver_mixbuffers(sound.data(), (int)(to - from) * 4, 0);
    if (queue_this_frame && audio_open) queue_sound(sound.data(), sound.size());
    if (rec_pcm && recording_frame) fwrite(sound.data(), 2, sound.size(), rec_pcm);
    frame_no++;
}

static int dev_getkeys(int *held, int *pressed)
{
    *held = *pressed = 0;
    return 0;
}

// Runs one frame. present: show it; play: its sound goes to the device.
static void run_frame(int present, int play)
{
    double t = wall_ms();
    presenting = present || !ORB_framebuffers_enabled;  // without framebuffer objects the scene draws into the window
    queue_this_frame = play;
    recording_frame = presenting && rec;
    int before = scene;
    timeline_frame();
    if (scene != before && scene <= 22 && !known[scene]) {
        dev_checkpoint_save(&checkpoints[scene], frame_no);
        known[scene] = 1;
    }
    if (presenting) t_frame = wall_ms() - t;
}

// ---- Jumps ---------------------------------------------------------------------------------------
// Puts the show at the start of frame target (the next frame run is target), from
// the nearest saved point at or before it, or from where it stands when that is
// nearer. Runs without presenting, with a progress line when it takes long.
static void seek_frame(uint64_t target, int want_scene)
{
    double t0 = wall_ms();
    int best = 0;
    for (int p = 2; p <= 22; p++)
        if (known[p] && checkpoints[p].frame <= target && (want_scene == 0 || p <= want_scene))
            if (!best || checkpoints[p].frame > checkpoints[best].frame) best = p;
    int from_here = frame_no <= target && (!best || frame_no >= checkpoints[best].frame) &&
                    (want_scene == 0 || scene <= want_scene) && !quit;
    if (!from_here && best) {
        frame_no = checkpoints[best].frame;
        dev_checkpoint_restore(&checkpoints[best]);
    }
    uint64_t start = frame_no;
    double shown = t0, gap = 250;
    while (!closing.load() && !quit && (want_scene ? scene < want_scene : frame_no < target)) {
        run_frame(0, 0);
        double now = wall_ms();
        if (now - shown > gap) {
            shown = now;
            fprintf(stderr, "\rmirador-dev: running to %s %d: period %d, frame %llu, %.1f s ",
                    want_scene ? "period" : "frame", want_scene ? want_scene : (int)target, scene,
                    (unsigned long long)frame_no, (now - t0) / 1000);
            snprintf(message, sizeof message, "running to period %d: at period %d, frame %llu", want_scene ? want_scene : scene,
                     scene, (unsigned long long)frame_no);
            // Show the progress over the last picture (the present leaves the show as it is).
            int keep = recording_frame;
            recording_frame = 0;
            shown_frame = frame_no - 1;
            shown_scene = scene;
            shown_pos = scenetime / 513.0 > 1 ? 1 : scenetime / 513.0;
            ORB_SwapBuffers();
            recording_frame = keep;
            // A present at a large size on software GL can cost more than the frames
            // between two of them: the progress takes at most a twentieth of the run.
            double took = wall_ms() - now;
            gap = took * 20 > 250 ? took * 20 : 250;
        }
    }
    if (wall_ms() - t0 > 250) fputc('\n', stderr);
    queue_clear();
    double cost = wall_ms() - t0;
    if (frame_no - start > 0)
        say("period %d frame %llu: %s, ran %llu frames in %.0f ms", scene, (unsigned long long)frame_no,
            from_here ? "on from here" : "from its saved start", (unsigned long long)(frame_no - start), cost);
    else
        say("period %d frame %llu: saved start put back in %.1f ms", scene, (unsigned long long)frame_no, cost);
}

static void jump_period(int p)
{
    if (p < 2) p = 2;
    if (p > 22) p = 22;
    if (known[p]) {
        double t0 = wall_ms();
        frame_no = checkpoints[p].frame;
        dev_checkpoint_restore(&checkpoints[p]);
        queue_clear();
        say("period %d: saved start put back in %.1f ms", p, wall_ms() - t0);
    } else {
        seek_frame(UINT64_MAX, p);
    }
    if (loop_period) loop_period = scene;
}

// ---- Input ---------------------------------------------------------------------------------------
// The window procedure's events, handed from the main thread: key codes and clicks.
static std::mutex in_lock;
static std::vector<int> keys_in;
static std::vector<std::pair<int, int>> clicks_in;

static intptr_t dev_wndproc(unsigned msg, uintptr_t wparam, intptr_t lparam)
{
    if (msg == WM_CLOSE) closing.store(1);
    if (msg == WM_KEYDOWN) {
        std::lock_guard<std::mutex> g(in_lock);
        keys_in.push_back((int)(wparam & 0xFF));
    }
    if (msg == WM_LBUTTONDOWN) {
        int x, y;
        plat_mouse_pos(&x, &y);
        std::lock_guard<std::mutex> g(in_lock);
        clicks_in.push_back({ x, y });
    }
    return WndProc(msg, wparam, lparam);
}

enum { VK_ESC = 0x1B, VK_SPACE = 0x20, VK_HOME = 0x24, VK_LEFT = 0x25, VK_RIGHT = 0x27, VK_F1 = 0x70,
       VK_COMMA = 0xBC, VK_PERIOD = 0xBE, VK_SLASH = 0xBF, VK_LBRACKET = 0xDB, VK_RBRACKET = 0xDD };

static double run_start_wall;     // when the current run of real time began
static uint64_t run_start_frame;  // and at which frame

// 1 while the frames run at 1x and their sound goes to the device.
static int playing(void)
{
    return !paused && speed == 1.0;
}

static long frames_run_since_jump;   // frames of real time since the last jump, pause or change

static void restart_schedule(void)
{
    frames_run_since_jump = 0;
    run_start_wall = wall_ms();
    run_start_frame = frame_no;
    if (audio_open && playing()) queue_cushion();
}

// Shows the frame before the one on screen: from the nearest saved start, run to it.
static void step_back(void)
{
    if (shown_frame == 0) return;
    uint64_t target = shown_frame - 1;
    seek_frame(target, 0);
    run_frame(1, 0);
}

static void handle_input(void)
{
    std::vector<int> keys;
    std::vector<std::pair<int, int>> clicks;
    {
        std::lock_guard<std::mutex> g(in_lock);
        keys.swap(keys_in);
        clicks.swap(clicks_in);
    }
    for (int k : keys) {
        switch (k) {
        case VK_ESC: closing.store(1); break;
        case VK_SPACE:
            paused = !paused;
            if (!paused) restart_schedule();
            behind_text = nullptr;
            if (paused) say("paused at frame %llu", (unsigned long long)shown_frame);
            else say("resumed at frame %llu", (unsigned long long)frame_no);
            break;
        case VK_RIGHT: jump_period(shown_scene >= 22 ? 22 : shown_scene + 1); run_frame(1, playing()); restart_schedule(); break;
        case VK_LEFT: jump_period(shown_scene - 1); run_frame(1, playing()); restart_schedule(); break;
        case VK_HOME: jump_period(2); run_frame(1, playing()); restart_schedule(); break;
        case VK_PERIOD:
            if (paused && !quit) run_frame(1, 0);
            break;
        case VK_COMMA:
            if (paused) step_back();
            break;
        case 'L':
            loop_period = loop_period ? 0 : (shown_scene > 22 ? 22 : shown_scene);
            if (loop_period) say("looping period %d", loop_period);
            else say("loop off");
            break;
        case VK_LBRACKET:
        case VK_RBRACKET:
            speed = k == VK_LBRACKET ? speed / 2 : speed * 2;
            if (speed < 0.25) speed = 0.25;
            if (speed > 4) speed = 4;
            queue_clear();
            restart_schedule();
            say("speed %gx%s", speed, speed != 1.0 ? ": the music is muted" : "");
            break;
        case 'H': overlay_on = !overlay_on; break;
        case VK_F1:
        case VK_SLASH: help_on = !help_on; break;
        default: break;
        }
    }
    for (auto &c : clicks) {
        int p = dev_hud_strip_hit(c.first, c.second, opt.width, opt.height);
        if (p && overlay_on) {
            jump_period(p);
            run_frame(1, playing());
            restart_schedule();
        }
    }
}

// ---- The show's thread ---------------------------------------------------------------------------
static int dev_thread(void *arg)
{
    (void)arg;
    frameio.waitrefresh = dev_waitrefresh;
    frameio.scene = timed_scene;
    frameio.swapbuffers = dev_swap;
    frameio.getkeys = dev_getkeys;
    ORB_preswap_hook = present_hook;
    startup();
    if (!orb_glready || !ORB_FrameBuffer) {
        fprintf(stderr, "mirador-dev: the GL context could not be set up\n");
        closing.store(1);
        plat_post_close();
        return 1;
    }
    ORB_SetTitle("M I R A D O R - dev");
    // The mixer runs in lock-step with the frames, not on the device's callback.
    audiodriver_close();
    audio_start();
    dev_reload_start(opt.data);
    startup_music();
    timeline_start();
    dev_checkpoint_save(&checkpoints[2], frame_no);
    known[2] = 1;
    printf("mirador-dev: a saved point of the show takes %zu bytes\n", dev_checkpoint_bytes(&checkpoints[2]));
    if (opt.period > 2) jump_period(opt.period);
    restart_schedule();
    double fps_t = wall_ms();
    long fps_n = frames_shown;
    int late_run = 0;
    while (!closing.load() && ORB_quit.load() == 0) {
        handle_input();
        if (closing.load()) break;
        char line[256];
        while (dev_reload_poll(line, sizeof line)) say("%s", line);
        double now = wall_ms();
        if (now - fps_t >= 1000) {
            fps_shown = (frames_shown - fps_n) * 1000.0 / (now - fps_t);
            fps_t = now;
            fps_n = frames_shown;
        }
        if (paused || quit) {
            // The picture stands; the overlay goes on (a present leaves the show as it is).
            if (quit && !paused) {
                paused = 1;
                say("the show is over (frame %llu): Home or a period to go on", (unsigned long long)frame_no);
            }
            int keep = recording_frame;
            recording_frame = 0;
            ORB_SwapBuffers();
            recording_frame = keep;
            plat_sleep(15);
            continue;
        }
        // Frame n of a run is due at the run's start + n x 1000/60 ms / speed.
        const double frame_ms = 1000.0 / FPS;
        double due = run_start_wall + (frame_no - run_start_frame) * frame_ms / speed;
        if (now < due) {
            if (due - now > 1) plat_sleep((unsigned)(due - now - 0.5));
            continue;
        }
        double late = now - due;
        if (late > 250) restart_schedule();
        // Behind by more than a frame: the picture gives way (no present), at most three
        // frames in a row; the record wants every frame.
        int present = !(late > frame_ms && late_run < 3 && !rec);
        late_run = present ? 0 : late_run + 1;
        if (!present) dropped++;
        if (late > 250) behind_text = "behind: the scenes cannot keep up, the sound has gaps";
        else if (!present) behind_text = "behind: frames left unshown to keep the music going";
        else if (late < 1) behind_text = nullptr;
        frames_run_since_jump++;
        int looping = loop_period;
        run_frame(present, playing());
        if (looping && (scene != looping || quit)) {
            jump_period(looping);
            restart_schedule();
        }
        if (opt.frames && frames_shown >= opt.frames) break;
    }
    audio_stop();
    dev_reload_stop();
    closing.store(1);
    plat_post_close();
    return 0;
}

int main(int argc, char **argv)
{
    char err[256];
    for (int i = 1; i < argc; i++)
        if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
            fputs(dev_usage(), stdout);
            return 0;
        }
    if (!dev_parse(argc, argv, &opt, err, sizeof err)) {
        fprintf(stderr, "mirador-dev: %s\n%s", err, dev_usage());
        return 2;
    }
    overlay_on = opt.overlay;
    if (opt.data) {
        struct stat st;
        if (stat(opt.data, &st) != 0 || !S_ISDIR(st.st_mode)) {
            fprintf(stderr, "mirador-dev: --data %s: %s\n", opt.data,
                    stat(opt.data, &st) != 0 ? strerror(errno) : "not a folder");
            return 1;
        }
        if (!corefile_setoverlay(opt.data)) {
            fprintf(stderr, "mirador-dev: --data %s: cannot be laid over the image\n", opt.data);
            return 1;
        }
    }
    if (opt.record) {
#ifdef DEV_HAVE_MD5
        rec = fopen(opt.record, "w");
        std::string pcm = std::string(opt.record) + ".pcm";
        rec_pcm = rec ? fopen(pcm.c_str(), "wb") : nullptr;
        if (!rec || !rec_pcm) {
            fprintf(stderr, "mirador-dev: cannot write %s: %s\n", opt.record, strerror(errno));
            return 1;
        }
        fprintf(rec, "# mirador-dev record: %dx%d, %d fps; frame, MD5 of its pixels (RGB, top row first)\n",
                opt.width, opt.height, FPS);
#else
        fprintf(stderr, "mirador-dev: --record needs FFmpeg's libavutil, which this build lacks\n");
        return 1;
#endif
    }
    plat_set_clock(dev_clock);
    mirador_setoutput(opt.width, opt.height);
    if (!plat_init()) {
        fprintf(stderr, "mirador-dev: no display to open a window on\n");
        return 1;
    }
    if (!plat_create_window("ORB Application", 10, 10)) {
        fprintf(stderr, "mirador-dev: the window could not be created\n");
        plat_shutdown();
        return 1;
    }
    plat_thread *t = plat_thread_start(dev_thread, nullptr);
    if (!t) {
        fprintf(stderr, "mirador-dev: could not start the show's thread\n");
        plat_destroy_window();
        plat_shutdown();
        return 1;
    }
    int code = 0;
    // The show's thread ends by itself once closing is set; its window calls are
    // served until then.
    while (plat_thread_running(t)) {
        if (plat_quit_posted(&code)) closing.store(1);
        if (!plat_pump(dev_wndproc)) plat_sleep(1);
    }
    plat_thread_join(t);
    if (rec) fclose(rec);
    if (rec_pcm) fclose(rec_pcm);
    plat_destroy_window();
    plat_shutdown();
    fflush(stdout);
    return 0;
}
