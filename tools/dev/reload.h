// reload.h - live content: the pictures and the music of the --data folder, loaded
// again when they change on disk.
//
// The folder's files are looked at about four times a second (name, size and change
// time). When a picture or the music the show uses has appeared, changed or gone, it
// is read again through the resource layer, so it comes from the folder when the
// folder holds it and from the image otherwise, and replaces the one in use in place:
// the same records, the same textures, the pixels copied in and uploaded. The music
// keeps its play position. What cannot be used (a damaged file, a picture of another
// size, music of another format) leaves the one in use as it was, and the line says
// why. Either way one line reports it.
//
// Limits: runs on the show's GL thread, between frames. The font sheet is not
// reloaded. Names are the image's own (flat, lower case).
#ifndef TOOLS_DEV_RELOAD_H
#define TOOLS_DEV_RELOAD_H

#include <string>
#include <vector>

// ---- Calls ---------------------------------------------------------------------------
void dev_reload_start(const char *dir);     // remembers the folder's files; null: no folder
// Checks the folder (at most every 250 ms) and loads what changed. 1 with the line of
// one reload in line, 0 when there is nothing (more) to report.
int  dev_reload_poll(char *line, int size);
void dev_reload_stop(void);
// The folder's files as last looked at (names below it, sorted), and how many times a
// look has found one appeared, changed or gone since dev_reload_start.
std::vector<std::string> dev_reload_files(void);
unsigned dev_reload_changes(void);

#endif
