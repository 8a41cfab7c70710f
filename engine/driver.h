// driver.h - the application shell: the program entry on the main thread, the
// window procedure that records raw input, the demo thread's entry, the
// millisecond clock and the title.
#ifndef ENGINE_DRIVER_H
#define ENGINE_DRIVER_H

#include <stdint.h>
#include <atomic>

// ---- Shell -------------------------------------------------------------------------
int WinMain(int argc, char **argv);      // main thread: window, demo thread, message loop; exit code
intptr_t WndProc(unsigned msg, uintptr_t wparam, intptr_t lparam);
int win32_main(int argc, char **argv);   // demo thread: coremain, then a close request
int coremain(int argc, char **argv);     // the demo (demo/main.cpp)
void ORB_SetTitle(const char *title);
uint32_t ORB_GetMillis(void);             // the frame clock (engine/video.h), ms

// ---- Shared state: the raw input of the window procedure --------------------------
// Single words shared between the threads are atomics with relaxed order. Which
// thread writes which of them, and why that is safe, is stated in engine/input.h.
extern std::atomic<uint8_t> ORB_quit;
extern std::atomic<int> ORB_keys[256];
extern std::atomic<int> orb_keycode;
extern std::atomic<int> orb_input_prevkeycode;
extern std::atomic<int> orb_mouse_x, orb_mouse_y, orb_mouse_z, orb_mouse_zdir, orb_mouse_buttons;
extern uint32_t dwExStyle;

#endif
