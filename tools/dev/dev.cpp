// dev.cpp - mirador-dev: the show in a window as a workbench, to pause, step, loop,
// jump between periods and see changed pictures at once.
//
// It runs the library's own start-up, scenes, present and mixer on the fixed clock
// at 60 frames a second (demo/fixedclock.h), as mirador-capture does, so every frame
// it shows is the frame mirador-capture writes at that show time. The mixer runs in lock-step: after each
// frame it makes that frame's sound, which goes to the sound device through a queue;
// the device plays silence whenever the queue is empty (paused, stepping, jumping).
//
// Real time: frame n of a run is due at the run's start + n x 1000/60 ms / speed, at
// every speed. At 1x (the only speed with music) each frame makes exactly its share of
// the device's rate, so the sound queue neither grows nor runs dry while frames keep
// time; a device takes sound in blocks of its own (often more than two frames of the
// show), so a run starts with the queue topped up with silence to what the device may
// take at once, and the queue is kept from growing past that and three frames more
// (after the machine fell behind and caught up, the excess is what was late: it is
// skipped). The sound queued now is heard only when what is queued before it has
// played (some 100 to 170 ms): each picture is held until then (held.h), so the two
// meet at the ear and the eye. When the machine falls behind (a frame is late), the
// picture gives way, not the music: up to three frames in a row are run without
// presenting them (their scene is drawn, their sound
// made, only the scale-up to the window and the swap are left out), so the music
// goes on unbroken while fewer pictures reach the screen. The sound is what a viewer
// notices first (a gap or a stutter), a frame not shown is barely seen, and the state
// of the show does not depend on the present. When even the scenes alone cannot keep
// up, the run falls further behind, the sound queue runs dry, and the overlay says so.
//
// Jumps are exact: the whole state of the show is saved at the start of every period
// the first time it is reached (checkpoint.h). A jump to a period already seen puts
// that state back; a jump to a later period runs on from the nearest saved point
// without presenting, with a progress line; the run listens to Escape and to other
// jumps. Saved points are also kept on disk (cache.h), so they outlive a session, and
// a worker process runs the show ahead of the viewer and writes them there
// (worker.h). Stepping back one frame runs from the period's saved start to the
// frame before.
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

#include "corefile/corefile.h"
#include "corefile/md5.h"
#include "demo/fixedclock.h"
#include "demo/main.h"
#include "demo/show.h"
#include "demo/startup.h"
#include "engine/driver.h"
#include "engine/video.h"
#include "platform/platform.h"
#include "sound/audiodriver.h"
#include "sound/coresound.h"
#include "tools/dev/cache.h"
#include "tools/dev/checkpoint.h"
#include "tools/dev/held.h"
#include "tools/dev/hud.h"
#include "tools/dev/options.h"
#include "tools/dev/reload.h"
#include "tools/dev/worker.h"

static const int FPS = 60;

static dev_options opt;
static std::atomic<int> closing{0};   // the window was closed or Escape pressed

// ---- Clock -------------------------------------------------------------------------------------
static uint64_t &frame_no = fixedclock_frame_no;   // the next frame to run (0 is the show's first)

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
static std::atomic<uint64_t> written{0}; // bytes handed to the device since it opened

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
    if (plat_audio_write(h)) written += h->dwBufferLength;
}

static void audio_start(void)
{
    if (!plat_audio_open(SHOW_SOUND_RATE, 16, 2, audio_done, nullptr)) {
        printf("mirador-dev: no sound device: the show runs silent\n");
        return;
    }
    audio_open = 1;
    for (int i = 0; i < DEV_BLOCKS; i++) {
        memset(&hdr[i], 0, sizeof hdr[i]);
        hdr[i].lpData = (uint8_t *)blocks[i];
        hdr[i].dwBufferLength = sizeof blocks[i];
        memset(blocks[i], 0, sizeof blocks[i]);
        if (plat_audio_prepare(&hdr[i]) && plat_audio_write(&hdr[i])) written += hdr[i].dwBufferLength;
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

// How long sound queued now takes to reach the ear: what the queue holds, what the
// device has been given and not yet played (its blocks), and what lies behind that.
static double sound_ahead_ms(void)
{
    size_t queued;
    {
        std::lock_guard<std::mutex> g(q_lock);
        queued = q.size() - q_head;
    }
    uint64_t given = written.load(), heard = plat_audio_heard();
    double bytes = (double)queued * 2 + (given > heard ? (double)(given - heard) : 0);
    return bytes / 4 * 1000.0 / SHOW_SOUND_RATE + plat_audio_behind_ms();
}

static double queue_ms(void)
{
    std::lock_guard<std::mutex> g(q_lock);
    return (q.size() - q_head) / 2 * 1000.0 / SHOW_SOUND_RATE;
}

// ---- Record (--record) ---------------------------------------------------------------------------
static FILE *rec, *rec_pcm;
static std::vector<uint8_t> pixels;

// ---- Frame ---------------------------------------------------------------------------------------
static int presenting = 1;        // 0: the frame is run without its present
static int overlay_on = 1, help_on;
static int paused, loop_period;   // loop_period: 0, or the period that repeats
static double speed = 1.0;
static double t_scene, t_present, t_frame, fps_shown;
static uint64_t dropped;          // frames not presented to keep up
static char message[160];
static const char *behind_text;
static uint64_t shown_frame;      // the frame on screen
static int shown_scene;
static double shown_pos;
static long frames_shown;

static dev_checkpoint checkpoints[SHOW_END_PERIOD + 1];
static uint8_t known[SHOW_END_PERIOD + 1];
// 1 from a reload of the --data folder's files until a saved point is put back: the
// show's state holds what the old files drew, so no point of it is saved.
static int tainted;
static char worker_text[96];      // the overlay's line about the worker ahead of the viewer
static int cache_pickup(void);

// 1 when period p's start is saved: in memory, or read now from the cache.
static int have_period(int p)
{
    if (known[p]) return 1;
    if (p > SHOW_FIRST_PERIOD && p <= SHOW_LAST_PERIOD && dev_cache_has(p) && dev_cache_load(p, &checkpoints[p]))
        known[p] = 1;
    return known[p];
}

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
    h.show_ms = fixedclock_ms(shown_frame, FPS);
    h.period_pos = shown_pos;
    h.scene_ms = t_scene;
    h.present_ms = t_present;
    h.frame_ms = t_frame;
    h.fps = fps_shown;
    h.queue_ms = queue_ms() + DEV_BLOCKS * DEV_BLOCK * 1000.0 / SHOW_SOUND_RATE;
    h.paused = paused;
    h.loop = loop_period != 0;
    h.help = help_on;
    h.speed = speed;
    h.sound = !audio_open ? "none (no device)" : paused ? "paused" : speed != 1.0 ? "muted (speed not 1x)" : "plays";
    h.behind = behind_text;
    h.message = message[0] ? message : nullptr;
    h.known = known;
    h.worker = worker_text[0] ? worker_text : nullptr;
    h.lines = overlay_on;
    dev_hud_draw(&h, opt.width, opt.height);
}

// The record: the frame on screen, the capture's frame MD5.
static void record_frame(void)
{
    int w = opt.width, h = opt.height;
    pixels.resize((size_t)w * h * 4);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    // The capture's frame MD5.
    uint8_t d[16];
    char x[33];
    md5_frame(pixels.data(), w, h, d);
    md5_hex(d, x);
    fprintf(rec, "%llu %s\n", (unsigned long long)shown_frame, x);
    fflush(rec);
}

// Right before the swap: the show's picture is finished in the window; the record
// reads it back before the overlay goes over it.
static int recording_frame;
static void present_hook(void)
{
    if (rec && recording_frame) record_frame();
    draw_overlay();
}

static void timed_scene(int s)
{
    double t = wall_ms();
    run_scene(s);
    t_scene = wall_ms() - t;
}

static double period_pos(void)
{
    return scenetime / SHOW_PERIOD_UNITS > 1 ? 1 : scenetime / SHOW_PERIOD_UNITS;
}

// The fixed clock's present: the show's swap, or nothing when the frame is not
// presented. While the music plays the picture is held until its sound, queued right
// after this, is heard (held.h).
static void present_held(double now);
static int queue_this_frame;
static double held_cost;   // what a held present takes, smoothed (ms)
static void dev_present(void)
{
    if (!presenting) return;
    // It goes up early by what a present takes, to be on screen as the sound is heard.
    // With every slot taken (the sound is further off than they reach) the oldest goes
    // up now.
    if (queue_this_frame && audio_open && held_count() == HELD_SLOTS) present_held(held_due());
    if (queue_this_frame && audio_open &&
        held_put(frame_no, scene, period_pos(), wall_ms() + sound_ahead_ms() - held_cost))
        return;
    double t = wall_ms();
    shown_frame = frame_no;
    shown_scene = scene;
    shown_pos = period_pos();
    ORB_SwapBuffers();
    t_present = wall_ms() - t;
    frames_shown++;
}

// Puts on screen the held picture due by now, if any (a record takes every one).
static void present_held(double now)
{
    held_frame f;
    if (!held_next(now, rec != nullptr, &f, &dropped)) return;
    double t = wall_ms();
    shown_frame = f.frame;
    shown_scene = f.scene;
    shown_pos = f.period_pos;
    int keep = recording_frame;
    recording_frame = rec != nullptr;
    held_present();
    recording_frame = keep;
    t_present = wall_ms() - t;
    held_cost += (t_present - held_cost) * 0.1;
    frames_shown++;
}

// The music stops (a pause, a step, another speed, a jump): the newest held picture
// goes up now (a record takes every one, in order).
static void release_held(void)
{
    while (held_due()) present_held(rec ? held_due() : 1e300);
}

// The frame's sound, once the fixed clock's swap has mixed it.
static void dev_sound(const int16_t *stereo, int frames)
{
    if (queue_this_frame && audio_open) queue_sound(stereo, (size_t)frames * 2);
    if (rec_pcm && recording_frame) fwrite(stereo, 4, (size_t)frames, rec_pcm);
}

// Runs one frame. present: show it; play: its sound goes to the device.
static void run_frame(int present, int play)
{
    if (closing.load()) return;  // ending: no frame more
    double t = wall_ms();
    presenting = present || !ORB_framebuffers_enabled;  // without framebuffer objects the scene draws into the window
    queue_this_frame = play;
    recording_frame = presenting && rec;
    int before = scene;
    timeline_frame();
    if (scene != before && scene <= SHOW_LAST_PERIOD && !known[scene] && !tainted) {
        dev_checkpoint_save(&checkpoints[scene], frame_no);
        known[scene] = 1;
        if (!dev_reload_changes()) dev_cache_store(scene, &checkpoints[scene]);
    }
    if (presenting) t_frame = wall_ms() - t;
}

// ---- Jumps ---------------------------------------------------------------------------------------
static int run_listen(int want_scene);

// Puts the show at the start of frame target (the next frame run is target), or of
// period want_scene when it is not 0, from the nearest saved point at or before it,
// or from where it stands when that is nearer. Runs without presenting, with a
// progress line when it takes long, and listens all along: Escape or the close
// request ends the run (and the program) at the next frame; when running to a period,
// another jump ends it and returns the period to go to instead (else 0).
static int seek_frame(uint64_t target, int want_scene)
{
    release_held();
    double t0 = wall_ms();
    int best = 0;
    for (int p = SHOW_FIRST_PERIOD; p <= SHOW_LAST_PERIOD; p++)
        if (known[p] && checkpoints[p].frame <= target && (want_scene == 0 || p <= want_scene))
            if (!best || checkpoints[p].frame > checkpoints[best].frame) best = p;
    // Running to a period: a later start on disk is nearer (tried from the target
    // down, each file read only when no later one could be).
    for (int p = want_scene; p > best && p > SHOW_FIRST_PERIOD; p--)
        if (!known[p] && have_period(p)) {
            if (checkpoints[p].frame <= target && (!best || checkpoints[p].frame > checkpoints[best].frame)) best = p;
            if (best == p) break;
        }
    int from_here = frame_no <= target && (!best || frame_no >= checkpoints[best].frame) &&
                    (want_scene == 0 || scene <= want_scene) && !quit && !tainted;
    if (!from_here && best) {
        frame_no = checkpoints[best].frame;
        dev_checkpoint_restore(&checkpoints[best]);
        tainted = 0;
    }
    uint64_t start = frame_no;
    double shown = t0, gap = 250;
    int next = 0;
    while (!closing.load() && !quit && (want_scene ? scene < want_scene : frame_no < target)) {
        if ((next = run_listen(want_scene)) != 0 || closing.load()) break;
        // The worker may have passed a period on the way: on from there.
        if (want_scene && cache_pickup()) {
            int ahead = 0;
            for (int p = SHOW_FIRST_PERIOD + 1; p <= want_scene; p++)
                if (known[p] && checkpoints[p].frame > frame_no) ahead = p;
            if (ahead) {
                frame_no = checkpoints[ahead].frame;
                dev_checkpoint_restore(&checkpoints[ahead]);
                tainted = 0;
                continue;
            }
        }
        run_frame(0, 0);
        double now = wall_ms();
        if (now - shown > gap) {
            shown = now;
            fprintf(stderr, "\rmirador-dev: running to %s %d: period %d, frame %llu, %.1f s (Escape ends) ",
                    want_scene ? "period" : "frame", want_scene ? want_scene : (int)target, scene,
                    (unsigned long long)frame_no, (now - t0) / 1000);
            snprintf(message, sizeof message, "running to period %d: at period %d, frame %llu (Escape ends)",
                     want_scene ? want_scene : scene, scene, (unsigned long long)frame_no);
            // Show the progress over the last picture (the present leaves the show as it is).
            int keep = recording_frame;
            recording_frame = 0;
            shown_frame = frame_no - 1;
            shown_scene = scene;
            shown_pos = period_pos();
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
    if (closing.load()) {
        say("run to %s %d ended at period %d, frame %llu", want_scene ? "period" : "frame",
            want_scene ? want_scene : (int)target, scene, (unsigned long long)frame_no);
        return 0;
    }
    if (next) {
        say("run to period %d: at period %d, frame %llu, now to period %d", want_scene, scene,
            (unsigned long long)frame_no, next);
        return next;
    }
    if (frame_no - start > 0)
        say("period %d frame %llu: %s, ran %llu frames in %.0f ms", scene, (unsigned long long)frame_no,
            from_here ? "on from here" : "from its saved start", (unsigned long long)(frame_no - start), cost);
    else
        say("period %d frame %llu: saved start put back in %.1f ms", scene, (unsigned long long)frame_no, cost);
    return 0;
}

static void jump_period(int p)
{
    release_held();
    for (;;) {
        if (p < SHOW_FIRST_PERIOD) p = SHOW_FIRST_PERIOD;
        if (p > SHOW_LAST_PERIOD) p = SHOW_LAST_PERIOD;
        double t0 = wall_ms();
        if (have_period(p)) {
            frame_no = checkpoints[p].frame;
            dev_checkpoint_restore(&checkpoints[p]);
            tainted = 0;
            queue_clear();
            say("period %d: saved start put back in %.1f ms", p, wall_ms() - t0);
            break;
        }
        // A jump made during the run goes on from where the run stands.
        if ((p = seek_frame(UINT64_MAX, p)) == 0) break;
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

// During a run without presenting: Escape ends the program; when the run goes to a
// period (want_scene), Right, Left, Home and a click on the strip give the period to
// go to instead (Right and Left counted from the run's target); every other key
// waits for the run's end.
static std::vector<int> keys_later;
static int run_listen(int want_scene)
{
    std::vector<int> keys;
    std::vector<std::pair<int, int>> clicks;
    {
        std::lock_guard<std::mutex> g(in_lock);
        if (keys_in.empty() && clicks_in.empty()) return 0;
        keys.swap(keys_in);
        clicks.swap(clicks_in);
    }
    int next = 0;
    for (int k : keys) {
        int base = next ? next : want_scene;
        if (k == VK_ESC) closing.store(1);
        else if (want_scene && k == VK_RIGHT) next = base >= SHOW_LAST_PERIOD ? SHOW_LAST_PERIOD : base + 1;
        else if (want_scene && k == VK_LEFT) next = base <= SHOW_FIRST_PERIOD ? SHOW_FIRST_PERIOD : base - 1;
        else if (want_scene && k == VK_HOME) next = SHOW_FIRST_PERIOD;
        else keys_later.push_back(k);
    }
    for (auto &c : clicks) {
        int p = overlay_on ? dev_hud_strip_hit(c.first, c.second, opt.width, opt.height) : 0;
        if (p && want_scene) next = p;
    }
    return next == want_scene ? 0 : next;
}

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
    keys.insert(keys.begin(), keys_later.begin(), keys_later.end());  // those that came during a run
    keys_later.clear();
    for (int k : keys) {
        if (closing.load()) return;
        switch (k) {
        case VK_ESC: closing.store(1); break;
        case VK_SPACE:
            paused = !paused;
            if (!paused) restart_schedule();
            behind_text = nullptr;
            if (paused) say("paused at frame %llu", (unsigned long long)shown_frame);
            else say("resumed at frame %llu", (unsigned long long)frame_no);
            break;
        case VK_RIGHT: jump_period(shown_scene >= SHOW_LAST_PERIOD ? SHOW_LAST_PERIOD : shown_scene + 1); run_frame(1, playing()); restart_schedule(); break;
        case VK_LEFT: jump_period(shown_scene - 1); run_frame(1, playing()); restart_schedule(); break;
        case VK_HOME: jump_period(SHOW_FIRST_PERIOD); run_frame(1, playing()); restart_schedule(); break;
        case VK_PERIOD:
            if (paused && !quit) run_frame(1, 0);
            break;
        case VK_COMMA:
            if (paused) step_back();
            break;
        case 'L':
            loop_period = loop_period ? 0 : (shown_scene > SHOW_LAST_PERIOD ? SHOW_LAST_PERIOD : shown_scene);
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

// ---- Saved points on disk ------------------------------------------------------------------------
// A saved point on disk is read when a jump or a run wants it (have_period) or, one a
// look, by the pick-up; the start of the show is written there when it is not yet.
static void cache_start(void)
{
    char image[4096];
    if (!startup_find_data("mirador.dat", image, sizeof image)) return;
    if (!dev_cache_open(image, opt.data, dev_reload_files(), opt.width, opt.height)) return;
    int n = 0;
    for (int p = SHOW_FIRST_PERIOD + 1; p <= SHOW_LAST_PERIOD; p++) n += dev_cache_has(p);
    if (!dev_cache_has(SHOW_FIRST_PERIOD)) dev_cache_store(SHOW_FIRST_PERIOD, &checkpoints[SHOW_FIRST_PERIOD]);
    printf("mirador-dev: the cache %s holds %d saved points of this build and these files\n", dev_cache_dir(), n);
    fflush(stdout);
}

// The --data folder's files changed: the saved points after the show's start may hold
// pictures drawn or music played with the old ones, so they are dropped and made
// again as the show passes them; the key on disk follows the files.
static unsigned reloads_seen;
static int files_changed(void)
{
    if (dev_reload_changes() == reloads_seen) return 0;
    reloads_seen = dev_reload_changes();
    int dropped_n = 0;
    for (int p = SHOW_FIRST_PERIOD + 1; p <= SHOW_LAST_PERIOD; p++)
        if (known[p]) known[p] = 0, checkpoints[p].valid = 0, dropped_n++;
    tainted = 1;
    dev_cache_rekey(dev_reload_files());
    if (dropped_n) say("files changed: %d saved points dropped, made again as the show passes them", dropped_n);
    return 1;
}

// ---- The worker ahead of the viewer ----------------------------------------------------------------
static int worker_on;             // 1 while a worker runs for the current files
static int worker_said;           // its failure is said once
static double last_pickup;

// Reads one saved point that is on disk and not yet in memory (the worker's, or an
// earlier session's), at most every 250 ms, so that a look costs the show one file;
// 1 when one was read.
static int cache_pickup(void)
{
    if (!dev_cache_dir()[0] || wall_ms() - last_pickup < 250) return 0;
    last_pickup = wall_ms();
    for (int p = SHOW_FIRST_PERIOD + 1; p <= SHOW_LAST_PERIOD; p++)
        if (!known[p] && have_period(p)) return 1;
    return 0;
}

static void worker_begin(void)
{
    if (opt.no_worker || !dev_cache_dir()[0] || closing.load()) return;
    char why[160];
    worker_on = dev_worker_start(opt.width, opt.height, opt.data, why, sizeof why);
    if (!worker_on && !worker_said) {
        worker_said = 1;
        say("no worker ahead of the viewer (%s): periods not yet seen are run to", why);
    }
}

// How far ahead the worker is, for the overlay; its end, said once.
static void worker_poll(void)
{
    int furthest = SHOW_FIRST_PERIOD;
    for (int p = SHOW_FIRST_PERIOD + 1; p <= SHOW_LAST_PERIOD; p++)
        if (known[p]) furthest = p;
    if (!worker_on) {
        worker_text[0] = 0;
        return;
    }
    char why[160];
    int st = dev_worker_state(why, sizeof why);
    if (st == 1) {
        snprintf(worker_text, sizeof worker_text, "worker: period %d saved, %d ahead", furthest,
                 furthest - shown_scene > 0 ? furthest - shown_scene : 0);
        return;
    }
    worker_on = 0;
    if (st == 0) {
        int all = 1;
        for (int p = SHOW_FIRST_PERIOD + 1; p <= SHOW_LAST_PERIOD; p++) all &= known[p] || dev_cache_has(p);
        say(all ? "worker: every period saved" : "worker: ended with periods unsaved");
    } else if (!worker_said) {
        worker_said = 1;
        say("no worker ahead of the viewer (%s): periods not yet seen are run to", why);
    }
    worker_text[0] = 0;
}

// The worker's side (--worker): no window; the show from the furthest saved point
// in the cache on, every period's start written there; ends after the last period,
// on SIGTERM, or when the live program ends.
// Before its frame loop the worker has written nothing: it ends at once (start-up
// can take seconds, and the live program waits for it to end); in the loop, at the
// end of the frame, so that no saved point is left half written.
static volatile sig_atomic_t worker_looping;
static void on_term(int)
{
    if (!worker_looping) _exit(0);
    closing.store(1);
}
static void dev_hooks(void);
// The show's first frame, after start-up, in the live program and the worker alike:
// the --data folder watched, the music started, the clock at the show's start, and
// that start saved.
static void begin_show(void)
{
    dev_reload_start(opt.data);
    startup_music();
    timeline_start();
    dev_checkpoint_save(&checkpoints[SHOW_FIRST_PERIOD], frame_no);
    known[SHOW_FIRST_PERIOD] = 1;
}

static int worker_main(void)
{
    signal(SIGTERM, on_term);
    signal(SIGINT, on_term);
    dev_hooks();
    mirador_setoutput(opt.width, opt.height);
    const char *how = nullptr;
    if (!plat_init_offscreen(&how)) {
        fprintf(stderr, "mirador-dev worker: cannot render off-screen\n");
        return DEV_WORKER_NO_GL;
    }
    startup();
    if (!orb_glready || !ORB_FrameBuffer) {
        fprintf(stderr, "mirador-dev worker: the off-screen GL context could not be set up\n");
        plat_shutdown();
        return DEV_WORKER_NO_GL;
    }
    audiodriver_close();
    begin_show();
    char image[4096];
    int code = 0;
    if (!startup_find_data("mirador.dat", image, sizeof image) ||
        !dev_cache_open(image, opt.data, dev_reload_files(), opt.width, opt.height)) {
        code = 4;
    } else {
        worker_looping = 1;
        if (!dev_cache_has(SHOW_FIRST_PERIOD)) dev_cache_store(SHOW_FIRST_PERIOD, &checkpoints[SHOW_FIRST_PERIOD]);
        for (int p = SHOW_LAST_PERIOD; p > SHOW_FIRST_PERIOD; p--) {
            if (!dev_cache_has(p) || !dev_cache_load(p, &checkpoints[p])) continue;
            frame_no = checkpoints[p].frame;
            dev_checkpoint_restore(&checkpoints[p]);
            for (int q = SHOW_FIRST_PERIOD; q <= p; q++) known[q] = 1;
            break;
        }
        while (!closing.load() && !quit && !known[SHOW_LAST_PERIOD] && getppid() != 1) run_frame(0, 0);
    }
    dev_reload_stop();
    plat_shutdown();
    return code;
}

// ---- The show's thread ---------------------------------------------------------------------------
// The show's calls that the tool takes over: the capture's clock, its swap.
static void dev_hooks(void)
{
    const s_fixedclock clock = { FPS, dev_present, dev_sound };
    fixedclock_take_over(&clock);
    frameio.scene = timed_scene;
}

static int dev_thread(void *arg)
{
    (void)arg;
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
    begin_show();
    printf("mirador-dev: a saved point of the show takes %zu bytes\n",
           dev_checkpoint_bytes(&checkpoints[SHOW_FIRST_PERIOD]));
    cache_start();
    if (opt.period > SHOW_FIRST_PERIOD) jump_period(opt.period);
    worker_begin();
    held_open();
    restart_schedule();
    double fps_t = wall_ms();
    long fps_n = frames_shown;
    int late_run = 0;
    while (!closing.load() && ORB_quit.load() == 0) {
        handle_input();
        if (closing.load()) break;
        char line[256];
        while (dev_reload_poll(line, sizeof line)) say("%s", line);
        if (files_changed()) worker_begin();
        cache_pickup();
        worker_poll();
        double now = wall_ms();
        if (now - fps_t >= 1000) {
            fps_shown = (frames_shown - fps_n) * 1000.0 / (now - fps_t);
            fps_t = now;
            fps_n = frames_shown;
        }
        if (!playing() || quit) release_held();
        else present_held(now);
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
            double wake = held_due() && held_due() < due ? held_due() : due;
            if (wake - now > 1) plat_sleep((unsigned)(wake - now - 0.5));
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
        if (opt.frames && frames_shown + held_count() >= opt.frames) break;
    }
    release_held();
    dev_worker_stop();
    held_close();
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
    if (opt.worker) return worker_main();
    if (opt.record) {
        rec = fopen(opt.record, "w");
        std::string pcm = std::string(opt.record) + ".pcm";
        rec_pcm = rec ? fopen(pcm.c_str(), "wb") : nullptr;
        if (!rec || !rec_pcm) {
            fprintf(stderr, "mirador-dev: cannot write %s: %s\n", opt.record, strerror(errno));
            return 1;
        }
        fprintf(rec, "# mirador-dev record: %dx%d, %d fps; frame, MD5 of its pixels (RGB, top row first)\n",
                opt.width, opt.height, FPS);
    }
    dev_hooks();
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
