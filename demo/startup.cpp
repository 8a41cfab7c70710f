// startup.cpp - the show's start-up, in the order the show depends on.
//
// The music starts only after all pictures are loaded and all tables built, so
// loading time cannot shift the show against the music. Loaders print their own
// lines; nothing here checks a result.
#include "demo/startup.h"

#include <stdio.h>
#include <string.h>

#include "corefile/corefile.h"
#include "demo/effects.h"
#include "demo/main.h"
#include "demo/scenes.h"
#include "demo/show.h"
#include "demo/vector.h"
#include "engine/driver.h"
#include "engine/video.h"
#include "platform/platform.h"
#include "sound/audiodriver.h"
#include "sound/coresound.h"

const char vv_mirador[] =
    "#version 120\n"
    "varying vec2 texCoord;\n"
    "void main() {\n"
    "texCoord = gl_MultiTexCoord0.xy;\n"
    "gl_Position = ftransform();\n"
    "}";

const char ff_mirador[] =
    "#version 120\n"
    "uniform sampler2D fbo_texture;\n"
    "uniform sampler2D fbo_depth;\n"
    "uniform float fadevalue;\n"
    "uniform float scanlinevalue;\n"
    "varying vec2 texCoord;\n"
    "vec4 TextureColor;\n"
    "void main() {\n"
    "vec4 color;\n"
    "TextureColor = texture2D(fbo_texture, texCoord);\n"
    "vec2 output_coords = floor( texCoord * 540);\n"
    "float modulo = mod(output_coords.y,2.0);\n"
    "if (modulo==0.0) {color=TextureColor;} else {color=TextureColor * (1.0-scanlinevalue);}\n"
    " gl_FragColor = color*fadevalue;\n"
    "}";

s_sound gamemusic;
s_camera camera;
s_freedir fdtunnel, fdsphere, fdplane;

// The free-direction renderer reads its texture as 256x256 texels with no size of
// its own: hand it only a picture that holds at least that many (a damaged or
// missing picture renders black instead of being read past its end).
static uint32_t *fd_texture(s_bitmap b)
{
    return (b.pixels != NULL && b.width > 0 && b.height > 0 && (int64_t)b.width * b.height >= 65536)
               ? b.pixels : NULL;
}

static void set_freedir(s_freedir *fd, int type, uint32_t *texture, float x, float y, float z,
                        int focal)
{
    fd->texture = texture;
    fd->x = x;
    fd->y = y;
    fd->z = z;
    fd->speed = 5.0f;
    fd->type = (uint8_t)type;
    fd->rotate = 1;
    fd->focal = focal;
    fd->angle = 0;
}

void load_assets(void)
{
    // Every row but the music, which waits for the sound system.
    for (int i = 0; i < show_asset_count; i++)
        if (show_assets[i].kind != SHOW_MUSIC) show_load(&show_assets[i]);
}

// The installed data folder, relative to the installed programs' folder and as the
// install prefix names it (both set by the build; "/"-terminated).
#ifndef MIRADOR_DATADIR_REL
#define MIRADOR_DATADIR_REL "../share/mirador/"
#endif
#ifndef MIRADOR_DATADIR
#define MIRADOR_DATADIR "/usr/local/share/mirador/"
#endif

// dir + rel, where each leading "../" of rel takes the last folder off dir (dir ends
// in "/"). 0 when it does not fit.
static int join_path(char *out, int size, const char *dir, const char *rel)
{
    char buf[4096];
    int n = snprintf(buf, sizeof buf, "%s", dir);
    if (n < 0 || n >= (int)sizeof buf) return 0;
    while (strncmp(rel, "../", 3) == 0 && n > 1) {
        int cut = n - 1;  // drop the trailing "/", then the folder before it
        while (cut > 0 && buf[cut - 1] != '/') cut--;
        if (cut == 0 || strcmp(buf + cut, "../") == 0) break;
        buf[cut] = 0;
        n = cut;
        rel += 3;
    }
    n = snprintf(out, (size_t)size, "%s%s", buf, rel);
    return n >= 0 && n < size;
}

static int is_file(const char *path)
{
    plat_fileinfo st;
    return plat_stat(path, &st) && st.kind == PLAT_FILE;
}

int startup_find_data(const char *name, char *path, int size)
{
    char dirs[3][4096];
    int n = 0;
    const char *prog = plat_program_dir();
    if (prog[0]) {
        snprintf(dirs[n++], sizeof dirs[0], "%s", prog);
        if (join_path(dirs[n], sizeof dirs[0], prog, MIRADOR_DATADIR_REL)) n++;
    }
    snprintf(dirs[n++], sizeof dirs[0], "%s", MIRADOR_DATADIR);

    if (is_file(name)) {
        snprintf(path, (size_t)size, "%s", name);
        return 1;
    }
    for (int i = 0; i < n; i++) {
        if (i > 0 && strcmp(dirs[i], dirs[i - 1]) == 0) continue;
        if (join_path(path, size, dirs[i], name) && is_file(path)) return 1;
    }
    char cwd[4096];
    if (!plat_getcwd(cwd, sizeof cwd)) snprintf(cwd, sizeof cwd, ".");
    printf("%s not found: looked in the working directory %s", name, cwd);
    for (int i = 0; i < n; i++)
        if (i == 0 || strcmp(dirs[i], dirs[i - 1]) != 0) printf(", %s", dirs[i]);
    printf("\n");
    snprintf(path, (size_t)size, "%s", name);
    return 0;
}

void startup(void)
{
    // The working directory first, as the show was made to be started from its own
    // folder; then beside the program and the installed data.
    char image[4096];
    startup_find_data("mirador.dat", image, sizeof image);
    corefile_mountimage(image, 0);
    ORB_InitVideo(mirador_width, mirador_height, 1);
    ORB_SetTitle("M I R A D O R");
    int id = ORB_InitFramebuffer(SHOW_W, SHOW_H);
    ORB_SetFramebuffer(id);

    load_assets();

    postshader_id = ORB_InitShader(vv_mirador, ff_mirador);
    ORB_SetScanlineValue(0.2f);

    Soundsystem_Init(SHOW_SOUND_RATE, 16, 2);
    for (int i = 0; i < show_asset_count; i++)
        if (show_assets[i].kind == SHOW_MUSIC) show_load(&show_assets[i]);
    Soundsystem_SetMasterVolume(0);

    init_vector();
    vector_initobject(1);

    initvoxel(bmp_height, bmp_texture4, bmp_background);
    camera.x = 0x600000;
    camera.y = 0x380000;
    camera.height = 48;
    camera.angle = 32;
    camera.fov = 48;
    camera.speed = 128;
    camera.reserved = 2;
    camera.z = 128;
    camera.roll = 0;

    InitTextureTab(SHOW_W, SHOW_H);
    FD_Initialise(SHOW_W, SHOW_H);
    set_freedir(&fdtunnel, FD_TUNNEL, fd_texture(bmp_texture3), 0.0f, 60.0f, -10.0f, 60);
    set_freedir(&fdsphere, FD_SPHERE, fd_texture(bmp_texture1), 0.0f, 0.0f, -10.0f, 20);
    set_freedir(&fdplane, FD_PLANE, fd_texture(bmp_texture2), 0.0f, 0.0f, -10.0f, 120);

    // The scenes' own state: the Julia constant and its directions start at 0; the
    // heading starts at the camera's start angle so the first turn does not jump.
    juliare = juliaim = 0;
    juliareup = juliaimup = 0;
    heading = 32.0f;
}

int startup_missing(const char **names, int max)
{
    int n = 0;
    for (int i = 0; i < show_asset_count; i++)
        if (show_assets[i].checked && !show_loaded(&show_assets[i])) {
            if (n < max) names[n] = show_assets[i].file;
            n++;
        }
    return n;
}

static uint64_t music_frame;      // the output frame at which the music's first frame plays
static uint32_t music_started;    // the clock when it was started

void startup_music(void)
{
    // Under the sound system's lock no block is mixed between the start and the
    // reading of where the next block begins, which is where the music begins.
    soundsystem_lock();
    Soundsystem_PlayMusic(&gamemusic, 0);
    Soundsystem_SetMasterVolume(255);
    music_frame = audiodriver_nextframe();
    soundsystem_unlock();
    music_started = plat_ticks();
}

int startup_music_heard(void)
{
    // A device that never gets there (stuck, or so slow it plays nothing) holds the
    // show back a second at most.
    return audiodriver_heard(music_frame) || plat_ticks() - music_started > 1000u;
}

void startup_wait_music(void)
{
    while (!startup_music_heard()) plat_sleep(1);
    // From here the music keeps to the clock the show is about to read.
    audiodriver_keep_pace(music_frame, plat_ticks());
}
