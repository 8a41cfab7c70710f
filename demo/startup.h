// startup.h - the show's start-up: the resource image, the video mode and the
// 480x270 framebuffer, every picture and the music, the post shader, the sound
// system and the effects' set-up; then, right before the show's clock starts, the
// music.
//
// Nothing is tested on the way: a missing or damaged resource image leaves the
// records of what could not be loaded empty (null pixels, empty sound) and the show
// runs with the rest. Everything loaded lives in the globals below and in those of
// demo/main.h for the whole run and is never freed.
#ifndef DEMO_STARTUP_H
#define DEMO_STARTUP_H

#include "demo/freedir.h"
#include "demo/voxel.h"
#include "sound/coresound.h"

// ---- Calls -----------------------------------------------------------------------------
// Mount "mirador.dat" (found by startup_find_data), open the video mode at mirador_width x mirador_height with
// vsync, title the window, create framebuffer 1 (480x270) and draw into it, load the
// pictures of the show's table in order, create the post shader, start the sound system and load the
// music with the master volume at 0, and set up the vector balls, the voxel landscape
// and its camera, the texture table, the free-direction renderer and its three
// objects, and the scenes' own state. Runs on the demo thread, once.
void startup(void);
// Where the resource image name is looked for, in this order: the working directory,
// the folder of the running program, then the installed data folder (share/mirador/
// beside the program's bin/, then the install prefix's own). Writes the first path
// that names a file into path (size bytes) and returns 1. When there is none, prints
// one line saying where it looked, writes the bare name and returns 0.
int startup_find_data(const char *name, char *path, int size);
// Start the music once (not looping) and raise the master volume to 255.
void startup_music(void);
// 1 once the music's first frame has reached the listener: the sound still queued
// before it (the driver's blocks, the device's buffer, the sound server) has played.
// Also 1 without a sound device, and a second after startup_music at the latest.
int  startup_music_heard(void);
// Waits until startup_music_heard, so that the show's clock starts when its music is
// heard, and from then on keeps the music to that clock (a gap in the sound is skipped).
void startup_wait_music(void);
// The assets that start-up could not load, of the ones the show's table marks as
// checked (demo/show.h: the seven whole pictures the scenes draw from, and the
// music). Writes the file names of up to max of them into names (names may be null
// when max is 0), in table order, and returns how many are missing; 0 when all
// loaded. Call after startup().
int startup_missing(const char **names, int max);
// The rows of the show's table but the music, in table order: the font, the work
// bitmap, the bitmaps and the sprites (part of startup(); without a GL context they
// decode headless).
void load_assets(void);

// The post shader's sources (GLSL 1.20): 540 bands, the odd ones darkened by
// scanlinevalue, everything multiplied by fadevalue.
extern const char vv_mirador[];
extern const char ff_mirador[];

// ---- Globals -------------------------------------------------------------------------------
extern s_sound gamemusic;                    // the music of the whole show
extern s_camera camera;                      // the voxel landscape's camera
extern s_freedir fdtunnel, fdsphere, fdplane;// free-direction objects (the sphere is never drawn)

#endif
