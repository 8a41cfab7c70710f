// mirador_web.cpp - the show as a web page's program (built with emscripten; the page
// is web/index.html).
//
// The page has already written mirador.dat into the program's file system when it
// calls main. main runs the show's own start-up and music start, then hands the
// frame loop to the platform, which runs one timeline_frame per display frame
// (the browser owns the loop: main returns right after). Every frame first hands
// the window procedure the input that arrived since the last one. When the show is
// over (its last period, or Escape) the sound stops and the page shows its end card.
//
// Arguments (from the page's address, for tests): --fixed-fps N runs the show on
// mirador-capture's fixed clock (demo/fixedclock.h; the page's own sound goes on), so
// frame k shows the same show time as the capture's frame k; --grab K then keeps a
// copy of frame K's picture (RGBA, bottom row first), read right before its present;
// --size WxH renders at another output size than 1280x720. Built natively (the tests
// do), --grab-file PATH renders off-screen as the capture does, writes the copy to
// PATH, prints its frame MD5 as the capture's record has it ("frame K: MD5 ...") and
// ends after frame K.
#include <GL/gl.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "corefile/md5.h"
#include "demo/fixedclock.h"
#include "demo/main.h"
#include "demo/show.h"
#include "demo/startup.h"
#include "engine/driver.h"
#include "engine/video.h"
#include "platform/platform.h"
#include "sound/coresound.h"

static int fixed_fps;                 // 0: the page's own clock
static long long grab_at = -1;
static std::vector<uint8_t> grabbed;
static int missing;                   // pictures and music that start-up could not load
static const char *grab_file;
static int width = 1280, height = 720;

static void grab_present(void)
{
    if ((long long)fixedclock_frame_no != grab_at) return;
    grabbed.resize((size_t)mirador_width * mirador_height * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, mirador_width, mirador_height, GL_RGBA, GL_UNSIGNED_BYTE, grabbed.data());
}

static int frame(void)
{
    while (plat_pump(WndProc)) {
    }
    if (!plat_quit_posted(nullptr)) {
        timeline_frame();
        if (grab_file && !grabbed.empty()) {
            FILE *f = fopen(grab_file, "wb");
            int ok = f && fwrite(grabbed.data(), 1, grabbed.size(), f) == grabbed.size();
            if (f && fclose(f) != 0) ok = 0;
            if (!ok) printf("cannot write %s\n", grab_file);
            uint8_t d[16];
            char x[33];
            md5_frame(grabbed.data(), mirador_width, mirador_height, d);
            md5_hex(d, x);
            printf("frame %lld: MD5 %s\n", grab_at, x);
        } else if (timeline_running()) {
            return 1;
        }
    }
    Soundsystem_CloseAudio();
    return 0;
}

// ---- What the page and its tests read -----------------------------------------------------
extern "C" {
int mirador_web_scene(void) { return scene; }
int mirador_web_framecount(void) { return framecount; }
float mirador_web_scenetime(void) { return scenetime; }
int mirador_web_missing(void) { return missing; }
// How many of the pictures and the music start-up checks.
int mirador_web_checked(void) { return show_checked_count(); }
// The grabbed frame (null until it has been drawn) and its size.
uint8_t *mirador_web_grab(void) { return grabbed.empty() ? nullptr : grabbed.data(); }
int mirador_web_width(void) { return mirador_width; }
int mirador_web_height(void) { return mirador_height; }
// Ends the show as a closed window would.
void mirador_web_close(void) { plat_post_close(); }
}

int main(int argc, char **argv)
{
    for (int i = 1; i + 1 < argc; i++) {
        if (strcmp(argv[i], "--fixed-fps") == 0) fixed_fps = atoi(argv[++i]);
        else if (strcmp(argv[i], "--grab") == 0) grab_at = atoll(argv[++i]);
        else if (strcmp(argv[i], "--grab-file") == 0) grab_file = argv[++i];
        else if (strcmp(argv[i], "--size") == 0 && sscanf(argv[i + 1], "%dx%d", &width, &height) == 2) i++;
    }
    if (fixed_fps < 0 || fixed_fps > 1000) fixed_fps = 0;
    if (width < 16 || height < 16 || width > 4096 || height > 4096) width = 1280, height = 720;
    mirador_setoutput(width, height);
    // The native reference renders off-screen, as the capture does.
    const char *how = nullptr;
    if (grab_file && !plat_init_offscreen(&how)) {
        printf("cannot render off-screen\n");
        return 1;
    }
    if (!grab_file && (!plat_init() || !plat_create_window("ORB Application", 10, 10))) {
        plat_message_box("Window creation failed");
        return 1;
    }
    if (fixed_fps) {
        const s_fixedclock c = { fixed_fps, nullptr, nullptr };
        fixedclock_take_over(&c);
        if (grab_at >= 0) ORB_preswap_hook = grab_present;
    }
    startup();
    if (!orb_glready || !ORB_FrameBuffer) {
        plat_message_box("nowebgl");
        return 1;
    }
    missing = startup_missing(nullptr, 0);
    if (missing)
        printf("mirador.dat is missing or damaged: %d of %d pictures and music did not load\n", missing,
               show_checked_count());
    startup_music();
    timeline_start();
    plat_run_frames(frame);
    return 0;
}
