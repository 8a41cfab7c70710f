// input.h - input polled by the demo thread: the 16-bit key mask, the last-key
// code, the mouse and wheel, and the controller layer (keyboards, joysticks, mouse,
// last-key code) merged into the same mask. Reads the raw input that the shell's
// window procedure records (engine/driver.h).
#ifndef ENGINE_INPUT_H
#define ENGINE_INPUT_H

#include <stdint.h>
#include "platform/platform.h"

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
extern s_controller ORB_controller[8];
extern int ORB_numcontrollers;
extern int ORB_controllerkeys[8][16];

#endif
