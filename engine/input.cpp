// input.cpp - key mask, last-key code, mouse, wheel and the controller layer.
//
// Everything here runs on the demo thread. Which thread writes which of the raw
// input globals, in which encoding, and why that is safe is stated once, in
// engine/input.h. Keys are Windows virtual-key codes throughout; the platform layer
// maps them.
#include "engine/input.h"

#include <stdio.h>

#include "engine/driver.h"
#include "platform/platform.h"

int ORB_joykey;
int orb_input_prevkey;
int orb_input_prevcontrollerkey;
s_controller ORB_controller[ORB_MAXCONTROLLERS];
int ORB_numcontrollers;
int ORB_controllerkeys[ORB_MAXCONTROLLERS][16];

static const std::memory_order rlx = std::memory_order_relaxed;

s_inputio inputio = { plat_key_down, plat_mouse_pos, plat_mouse_warp,
                      plat_joy_numdevs, plat_joy_connected, plat_joy_read };

// Keys folded by ORB_GetKeys: virtual-key code -> key-mask bit.
static const int getkeys_table[][2] = {
    {0x26, 0x0001}, {0x28, 0x0002}, {0x25, 0x0004}, {0x27, 0x0008},
    {0x20, 0x0010}, {0x11, 0x0020}, {0x10, 0x0040}, {0x5A, 0x0080},
    {0x0D, 0x1000}, {0x08, 0x2000}, {0x58, 0x0100}, {0x43, 0x0400},
    {0x31, 0x1000}, {0x32, 0x2000}, {0x1B, 0x8000},
};

// Keyboard controller map entry -> key-mask bit (entry 14 sets nothing).
static const int mapentry_bit[16] = {
    0x0001, 0x0002, 0x0004, 0x0008, 0x0010, 0x0020, 0x0040, 0x0080,
    0x0100, 0x0400, 0x0200, 0x0800, 0x1000, 0x2000, 0x0000, 0x8000,
};

static const int default_keys1[16] = {
    0x26, 0x28, 0x25, 0x27, 0x20, 0x11, 0x10, 0x5A,
    0x58, 0x43, 0x56, 0x42, 0x0D, 0x08, 0x1B, 0x1B,
};
static const int default_keys2[16] = {
    0x57, 0x53, 0x41, 0x44, 0x55, 0x49, 0x4F, 0x50,
    0x4B, 0x4C, 0x48, 0x4A, 0x0D, 0x08, 0x1B, 0x1B,
};

// Joystick button n -> key-mask bit, for the three pad layouts.
static const int joy_layout10[14] = {
    0x0010, 0x0020, 0x0040, 0x0080, 0x0100, 0x0400, 0x2000, 0x1000,
    0x4000, 0x4000, 0, 0, 0, 0,
};
static const int joy_layout14[14] = {
    0x0040, 0x0010, 0x0020, 0x0080, 0x0100, 0x0400, 0x0200, 0x0800,
    0x1000, 0x2000, 0x4000, 0x4000, 0x8000, 0x1000,
};
static const int joy_layoutother[14] = {
    0x0080, 0x0020, 0x0010, 0x0040, 0x0200, 0x0800, 0x0100, 0x0400,
    0x1000, 0x2000, 0x4000, 0x4000, 0, 0,
};

// ---- Raw key state ----------------------------------------------------------------------

// What win32_checkkeys stored last, kept by the demo thread for its own reads: the
// window procedure writes ORB_keys too, and a key-up stored between the overwrite
// and the read would hide a tap that the platform's latch reported (and cleared).
static int input_keystate[256];

void win32_checkkeys(void)
{
    for (int vk = 0; vk < 256; vk++) {
        int v = inputio.key_down(vk) ? 0x8000 : 0;
        input_keystate[vk] = v;
        ORB_keys[vk].store(v, rlx);
    }
}

int ORB_GetKeys(int *keys, int *pressed)
{
    win32_checkkeys();
    ORB_joykey = 0;
    for (const auto &row : getkeys_table)
        if (input_keystate[row[0]] != 0) ORB_joykey |= row[1];
    int mask = ORB_joykey;
    if (keys) *keys = mask;
    if (pressed) *pressed = mask & ~orb_input_prevkey;
    orb_input_prevkey = mask;
    return mask;
}

// ---- Last-key code ------------------------------------------------------------------------

int win32_getkeycode(void)
{
    int vk = orb_keycode.load(rlx);
    switch (vk) {
    case 0x1B: return 0xF000;
    case 0x26: return 0xF001;
    case 0x28: return 0xF002;
    case 0x25: return 0xF003;
    case 0x27: return 0xF004;
    case 0x0D: return 0xF010;
    case 0x10: return 0xF011;
    case 0x20: return 0xF012;
    case 0x11: return 0xF013;
    case 0x12: return 0xF014;
    case 0x08: return 0xF020;
    case 0x2D: return 0xF021;
    case 0x2E: return 0xF022;
    case 0x21: return 0xF023;
    case 0x22: return 0xF024;
    case 0x24: return 0xF025;
    case 0x23: return 0xF026;
    case 0x14: return 0xF027;
    case 0x09: return 0xF028;
    default: break;
    }
    if (vk >= 0x70 && vk <= 0x7B) return 0xF030 + (vk - 0x70);
    return vk;
}

int ORB_GetKeycode(int *code, int *changed)
{
    int c = win32_getkeycode();
    if (code) *code = c;
    *changed = c != orb_input_prevkeycode.load(rlx) ? 1 : 0;
    orb_input_prevkeycode.store(c, rlx);
    return c;
}

// ---- Mouse ---------------------------------------------------------------------------------

void ORB_GetMouse(int *x, int *y, int *buttons)
{
    int mx = 0, my = 0;
    inputio.mouse_pos(&mx, &my);
    orb_mouse_x.store(mx, rlx);
    orb_mouse_y.store(my, rlx);
    *x = mx;
    *y = my;
    *buttons = orb_mouse_buttons.load(rlx);
}

void ORB_SetMouse(int x, int y)
{
    inputio.mouse_warp(x, y);
}

void ORB_GetMouseWheel(int *z, int *zdir)
{
    *z = orb_mouse_z.load(rlx);
    // Take the direction and clear it in one step, so a wheel message that
    // arrives in between is reported at the next call rather than lost.
    *zdir = orb_mouse_zdir.exchange(0, rlx);
}

// ---- Joysticks -------------------------------------------------------------------------------

int win32_getnumjoysticks(void)
{
    return inputio.joy_numdevs();
}

int win32_joystickconnected(int joystick)
{
    return inputio.joy_connected(joystick) ? 1 : 0;
}

// Axis position 0..65535 -> -128..128, 0 at the centre 0x7FFF.
static int joy_axis(uint32_t pos)
{
    return ((int)pos - 0x7FFF) >> 8;
}

int win32_polljoystick(int joystick, int *x, int *y, int *z, int *r, int *buttons)
{
    plat_joystate st = {};
    if (!inputio.joy_read(joystick, &st)) {
        *x = *y = *z = *r = *buttons = 0;
        return 0;
    }
    const int *layout = joy_layoutother;
    if (st.numbuttons == 10) layout = joy_layout10;
    else if (st.numbuttons == 14) layout = joy_layout14;

    // Positions beyond 16 bits would not come from a real device; clamp them so
    // the axis stays within -128..128.
    *x = joy_axis(st.x > 0xFFFF ? 0xFFFF : st.x);
    *y = joy_axis(st.y > 0xFFFF ? 0xFFFF : st.y);
    *z = joy_axis(st.z > 0xFFFF ? 0xFFFF : st.z);
    *r = joy_axis(st.r > 0xFFFF ? 0xFFFF : st.r);

    int b = 0;
    uint32_t h = st.pov / 100;
    if (h <= 360) {
        if (h <= 45 || h > 314) b |= 0x1;
        if (h > 134 && h <= 225) b |= 0x2;
        if (h > 44 && h <= 135) b |= 0x8;
        if (h > 224 && h <= 315) b |= 0x4;
    }
    for (int n = 0; n < 14; n++)
        if (st.buttons & (1u << n)) b |= layout[n];
    *buttons = b;
    return 1;
}

// ---- Controllers -------------------------------------------------------------------------------

static void set_record(int i, int type, int joystick)
{
    s_controller &c = ORB_controller[i];
    c.type = type;
    c.joystick = joystick;
    c.x = c.y = c.z = c.r = 0;
    c.buttons = 0;
    c.released = 0;
    c.active = 1;
}

void ORB_InitControllers(void)
{
    int n = 0;
    for (int j = 0; j < 4; j++) {
        if (win32_joystickconnected(j)) {
            set_record(n, 2, j);
            printf("joystick %d found\n", j);
            n++;
        }
    }
    set_record(n, 1, 0);
    ORB_SetKeyController(n, default_keys1);
    n++;
    set_record(n, 1, 0);
    ORB_SetKeyController(n, default_keys2);
    n++;
    set_record(n, 4, 0);
    n++;
    set_record(n, 3, 0);
    n++;
    ORB_numcontrollers = n;
}

// A record number inside the table.
static int valid_record(int i)
{
    return i >= 0 && i < ORB_MAXCONTROLLERS;
}

void ORB_AddKeyController(const int keys[16])
{
    if (!valid_record(ORB_numcontrollers)) {
        printf("ORB_AddKeyController: all %d controller records in use\n", ORB_MAXCONTROLLERS);
        return;
    }
    set_record(ORB_numcontrollers, 1, 0);
    ORB_SetKeyController(ORB_numcontrollers, keys);
    ORB_numcontrollers++;
}

void ORB_SetKeyController(int controller, const int keys[16])
{
    if (!valid_record(controller)) return;
    for (int k = 0; k < 16; k++) ORB_controllerkeys[controller][k] = keys[k];
}

// Keyboard read of one record. The axes follow from the direction bits when the
// record is polled. Keeps the last read's bits in `released` so that `pressed` is
// an edge between two reads of the same record.
static int keyboard_read(int i, int *pressed)
{
    s_controller &c = ORB_controller[i];
    win32_checkkeys();
    int buttons = 0;
    for (int k = 0; k < 16; k++) {
        if (k == 14) continue;
        // Map entries are key codes 0..255; anything else is read as its low byte
        // rather than past the end of the key table.
        int vk = ORB_controllerkeys[i][k] & 0xFF;
        if (input_keystate[vk] != 0) buttons |= mapentry_bit[k];
    }
    if (pressed) *pressed = buttons & ~c.released;
    c.released = buttons;
    return buttons;
}

void ORB_GetControllerKeys(int controller, int *keys, int *pressed)
{
    if (!valid_record(controller) || ORB_controller[controller].type != 1) return;
    int b = keyboard_read(controller, pressed);
    if (keys) *keys = b;
}

void ORB_PollControllers(void)
{
    for (int i = 0; i < ORB_numcontrollers; i++) {
        s_controller &c = ORB_controller[i];
        if (c.active != 1) continue;
        switch (c.type) {
        case 1: {
            int k = 0;
            ORB_GetControllerKeys(i, &k, NULL);
            c.x = (k & 0x4) ? -127 : 0;
            if (k & 0x8) c.x = 127;
            c.y = (k & 0x1) ? -127 : 0;
            if (k & 0x2) c.y = 127;
            c.z = c.r = 0;
            c.buttons = k & 0xFFF0;
            break;
        }
        case 2: {
            int x, y, z, r, b;
            if (win32_polljoystick(c.joystick, &x, &y, &z, &r, &b)) {
                c.x = x;
                c.y = y;
                c.z = z;
                c.r = r;
                c.released = c.buttons & ~b;
                c.buttons = b;
            } else {
                c.active = 0;
            }
            break;
        }
        case 3: {
            int code = 0, changed = 0;
            ORB_GetKeycode(&code, &changed);
            c.released = c.buttons & ~code;
            c.buttons = code;
            break;
        }
        case 4: {
            int x, y, b;
            ORB_GetMouse(&x, &y, &b);
            c.x = x;
            c.y = y;
            c.released = c.buttons & ~b;
            c.buttons = b;
            break;
        }
        default:
            break;
        }
    }
}

void ORB_GetAllControllers(int *keys, int *pressed)
{
    ORB_PollControllers();
    int mask = 0;
    for (int i = 0; i < ORB_numcontrollers; i++) {
        const s_controller &c = ORB_controller[i];
        if (c.active != 1 || (c.type != 1 && c.type != 2)) continue;
        mask |= c.buttons;
        if (c.x < -64) mask |= 0x4;
        else if (c.x > 64) mask |= 0x8;
        if (c.y < -64) mask |= 0x1;
        else if (c.y > 64) mask |= 0x2;
    }
    *keys = mask;
    *pressed = mask & ~orb_input_prevcontrollerkey;
    orb_input_prevcontrollerkey = mask;
}
