// input.h - input polled by the demo thread: the 16-bit key mask, the last-key
// code, the mouse and wheel, and the controller layer (keyboards, joysticks, mouse,
// last-key code) merged into the same mask. Reads the raw input that the shell's
// window procedure records (engine/driver.h).
//
// Threads: every call here runs on the demo thread. The raw input globals are
// defined in engine/driver.cpp and shared with the main thread; this is who writes
// them. Each is an atomic word written with whole relaxed stores or read-modify-
// writes, so a reader sees some value that was written, at worst one message late
// (ThreadSanitizer stays quiet); no lock is taken.
//   ORB_keys[256]      two writers. The main thread's window procedure stores 1 on
//                      a key-down and 0 on its key-up; the demo thread's
//                      win32_checkkeys overwrites all 256 entries from the
//                      platform's key state, 0x8000 down and 0 up. Non-zero means
//                      down in both encodings. The engine's own reads never depend
//                      on which writer came last: win32_checkkeys keeps a copy of
//                      what it stored, and ORB_GetKeys and the keyboard controllers
//                      read that copy. (A key-up stored between the overwrite and
//                      the read would otherwise hide a tap that the platform's latch
//                      reported once and then forgot.)
//   orb_keycode        main thread only: the code of the last key-down, 0 once that
//                      same key goes up. The demo thread reads it.
//   orb_input_prevkeycode  two writers. ORB_GetKeycode stores the code it has just
//                      reported; the window procedure resets it to 0 with
//                      orb_keycode. A reset that lands inside an ORB_GetKeycode
//                      call is overwritten: that call and the next then report
//                      `changed` once each where no change would have been reported.
//   orb_mouse_buttons, orb_mouse_z   main thread only (atomic OR, AND, add).
//   orb_mouse_zdir     the main thread stores each wheel message's direction;
//                      ORB_GetMouseWheel takes it and clears it in one exchange, so a
//                      message is reported once, at the latest by the next call.
//   orb_mouse_x, orb_mouse_y   demo thread only (ORB_GetMouse), after the shell has
//                      zeroed them before starting the demo thread.
// The platform's own key state and press latch (plat_key_down) stay inside the
// platform layer. Everything declared below is the demo thread's alone.
//
// Limits: 8 controller records (ORB_MAXCONTROLLERS). ORB_InitControllers fills 4 to
// 8 of them: each connected joystick of numbers 0 to 3, two keyboards, the mouse
// and the last-key code. ORB_AddKeyController with all 8 in use prints a line and
// adds nothing; ORB_SetKeyController and ORB_GetControllerKeys with a record number
// outside 0..7 do nothing (nor does ORB_GetControllerKeys for a record that is not a
// keyboard: keys and pressed are left as they were). A key map entry is read by its
// low byte, a virtual-key code 0..255.
#ifndef ENGINE_INPUT_H
#define ENGINE_INPUT_H

#include <stdint.h>
#include "platform/platform.h"

#define ORB_MAXCONTROLLERS 8

// ---- Input ------------------------------------------------------------------------
int  ORB_GetKeys(int *keys, int *pressed);
int  ORB_GetKeycode(int *code, int *changed);
void ORB_GetMouse(int *x, int *y, int *buttons);
void ORB_SetMouse(int x, int y);
void ORB_GetMouseWheel(int *z, int *zdir);
void ORB_InitControllers(void);
void ORB_AddKeyController(const int keys[16]);
void ORB_SetKeyController(int controller, const int keys[16]);
void ORB_GetControllerKeys(int controller, int *keys, int *pressed);
void ORB_PollControllers(void);
void ORB_GetAllControllers(int *keys, int *pressed);
void win32_checkkeys(void);
int  win32_getkeycode(void);
int  win32_getnumjoysticks(void);
int  win32_joystickconnected(int joystick);
int  win32_polljoystick(int joystick, int *x, int *y, int *z, int *r, int *buttons);

typedef struct {
    int32_t type;       // 1 keyboard, 2 joystick, 3 last-key code, 4 mouse
    int32_t joystick;
    int32_t x, y, z, r;
    int32_t buttons;
    int32_t released;
    int32_t active;
} s_controller;

// The platform calls that input reads through; tests replace them to drive the
// key state, the mouse and the joysticks. The platform layer's calls by default.
typedef struct {
    int  (*key_down)(int vk);
    void (*mouse_pos)(int *x, int *y);
    void (*mouse_warp)(int x, int y);
    int  (*joy_numdevs)(void);
    int  (*joy_connected)(int j);
    int  (*joy_read)(int j, plat_joystate *st);
} s_inputio;
extern s_inputio inputio;

extern int ORB_joykey;
extern int orb_input_prevkey;
extern int orb_input_prevcontrollerkey;
extern s_controller ORB_controller[ORB_MAXCONTROLLERS];
extern int ORB_numcontrollers;
extern int ORB_controllerkeys[ORB_MAXCONTROLLERS][16];

#endif
