// worker.h - a second mirador-dev that runs the show ahead of the viewer.
//
// The show's state is the program's globals, so the worker is a process of its own:
// this program started again (its own executable, "--worker" with the same size and
// --data folder, from the same working folder) at a lower priority, rendering with
// the off-screen GL context the capture uses. It runs the show on from the furthest
// saved point in the cache without presenting and writes each period's saved point
// there as it passes it (cache.h: the same key, since it is the same build with the
// same files); the live program picks them up from the folder. A separate process
// keeps the two states apart without a copy of the show's code, its crash ends only
// itself, and the operating system's scheduler gives the live show the cores first.
//
// Limits: Linux (fork, exec, a parent-death signal); one worker at a time.
#ifndef TOOLS_DEV_WORKER_H
#define TOOLS_DEV_WORKER_H

// ---- Calls ---------------------------------------------------------------------------
// Starts the worker for a window of width x height and the --data folder data (or
// null). 0 with the reason in why when it cannot be started.
int dev_worker_start(int width, int height, const char *data, char *why, int whysize);
// Where the worker stands: 1 running, 0 ended (done, or never started), -1 ended
// without finishing (why says how: its status or signal).
int dev_worker_state(char *why, int whysize);
// Asks the worker to end (it ends at its next frame) and waits for it, at most
// 2 s before it is killed.
void dev_worker_stop(void);

// The worker's side: exit status when it cannot render off-screen.
#define DEV_WORKER_NO_GL 3

#endif
