// driver.h - the application shell and input: the program entry on the main
// thread, the window procedure that records raw input, the demo thread's entry,
// the millisecond clock and the title; the key mask, the last-key code, the mouse
// and the controller layer polled by the demo thread.
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
uint32_t ORB_GetMillis(void);

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

// ---- Shared state (main thread writes raw input; the demo thread reads it) ---------
// Single words shared between the threads are atomics with relaxed order.
extern std::atomic<uint8_t> ORB_quit;
extern std::atomic<int> ORB_keys[256];
extern std::atomic<int> orb_keycode;
extern std::atomic<int> orb_input_prevkeycode;
extern std::atomic<int> orb_mouse_x, orb_mouse_y, orb_mouse_z, orb_mouse_zdir, orb_mouse_buttons;
extern uint32_t dwExStyle;
extern int ORB_joykey;
extern int orb_input_prevkey;
extern int orb_input_prevcontrollerkey;
extern s_controller ORB_controller[8];
extern int ORB_numcontrollers;
extern int ORB_controllerkeys[8][16];

#endif
