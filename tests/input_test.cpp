// input_test.cpp - key mask folding, edges, last-key codes, wheel, joystick
// conversion and the controller layer, driven through a fake platform.
#include <gtest/gtest.h>

#include <string.h>

#include "engine/driver.h"
#include "engine/input.h"

namespace {

int fake_keys[256];
int fake_mx, fake_my;
int warp_x = -1, warp_y = -1;
int fake_connected[4];
int fake_readable[4];
plat_joystate fake_joy[4];

int fake_key_down(int vk) { return vk >= 0 && vk < 256 ? fake_keys[vk] : 0; }
void fake_mouse_pos(int *x, int *y) { *x = fake_mx; *y = fake_my; }
void fake_mouse_warp(int x, int y) { warp_x = x; warp_y = y; }
int fake_joy_numdevs(void) { return 16; }
int fake_joy_connected(int j) { return j >= 0 && j < 4 ? fake_connected[j] : 0; }
int fake_joy_read(int j, plat_joystate *st)
{
    if (j < 0 || j >= 4 || !fake_readable[j]) return 0;
    *st = fake_joy[j];
    return 1;
}

plat_joystate centred(int numbuttons)
{
    plat_joystate st;
    st.x = st.y = st.z = st.r = 0x7FFF;
    st.pov = 65535;
    st.buttons = 0;
    st.numbuttons = numbuttons;
    return st;
}

class Input : public ::testing::Test {
protected:
    void SetUp() override
    {
        memset(fake_keys, 0, sizeof fake_keys);
        memset(fake_connected, 0, sizeof fake_connected);
        memset(fake_readable, 0, sizeof fake_readable);
        for (auto &j : fake_joy) j = centred(12);
        fake_mx = fake_my = 0;
        inputio = { fake_key_down, fake_mouse_pos, fake_mouse_warp,
                    fake_joy_numdevs, fake_joy_connected, fake_joy_read };
        orb_input_prevkey = 0;
        orb_input_prevcontrollerkey = 0;
        orb_input_prevkeycode.store(0);
        orb_keycode.store(0);
        orb_mouse_z.store(0);
        orb_mouse_zdir.store(0);
        orb_mouse_buttons.store(0);
        ORB_numcontrollers = 0;
        memset(ORB_controller, 0, sizeof ORB_controller);
    }
};

TEST_F(Input, GetKeysFoldsEveryKeyOfTheTable)
{
    const int cases[][2] = {
        {0x26, 0x1}, {0x28, 0x2}, {0x25, 0x4}, {0x27, 0x8}, {0x20, 0x10},
        {0x11, 0x20}, {0x10, 0x40}, {0x5A, 0x80}, {0x58, 0x100}, {0x43, 0x400},
        {0x0D, 0x1000}, {0x31, 0x1000}, {0x08, 0x2000}, {0x32, 0x2000}, {0x1B, 0x8000},
    };
    for (const auto &c : cases) {
        memset(fake_keys, 0, sizeof fake_keys);
        fake_keys[c[0]] = 1;
        int keys = -1, pressed = -1;
        EXPECT_EQ(ORB_GetKeys(&keys, &pressed), c[1]) << "vk " << c[0];
        EXPECT_EQ(keys, c[1]);
        EXPECT_NE(ORB_keys[c[0]].load(), 0);
    }
    // Keys outside the table (V, Alt, A) set nothing.
    memset(fake_keys, 0, sizeof fake_keys);
    fake_keys[0x56] = fake_keys[0x12] = fake_keys[0x41] = 1;
    EXPECT_EQ(ORB_GetKeys(NULL, NULL), 0);
}

TEST_F(Input, HeldEscapeIsPressedOnceAndAgainAfterRelease)
{
    int keys, pressed;
    fake_keys[0x1B] = 1;
    ORB_GetKeys(&keys, &pressed);
    EXPECT_EQ(pressed, 0x8000);
    for (int i = 0; i < 50; i++) {
        ORB_GetKeys(&keys, &pressed);
        EXPECT_EQ(keys, 0x8000);
        EXPECT_EQ(pressed, 0);
    }
    fake_keys[0x1B] = 0;
    ORB_GetKeys(&keys, &pressed);
    EXPECT_EQ(keys, 0);
    fake_keys[0x1B] = 1;
    ORB_GetKeys(&keys, &pressed);
    EXPECT_EQ(pressed, 0x8000);
}

TEST_F(Input, OneAndEnterTogetherGiveOneBit)
{
    int keys, pressed;
    fake_keys[0x31] = fake_keys[0x0D] = 1;
    ORB_GetKeys(&keys, &pressed);
    EXPECT_EQ(keys, 0x1000);
    EXPECT_EQ(pressed, 0x1000);
}

TEST_F(Input, PreviousMaskIsKeptWithoutPressedArgument)
{
    int keys, pressed;
    fake_keys[0x20] = 1;
    ORB_GetKeys(&keys, NULL);
    ORB_GetKeys(&keys, &pressed);
    EXPECT_EQ(pressed, 0);
}

TEST_F(Input, KeycodeTranslationAndChange)
{
    const int cases[][2] = {
        {0x1B, 0xF000}, {0x26, 0xF001}, {0x28, 0xF002}, {0x25, 0xF003}, {0x27, 0xF004},
        {0x0D, 0xF010}, {0x10, 0xF011}, {0x20, 0xF012}, {0x11, 0xF013}, {0x12, 0xF014},
        {0x08, 0xF020}, {0x2D, 0xF021}, {0x2E, 0xF022}, {0x21, 0xF023}, {0x22, 0xF024},
        {0x24, 0xF025}, {0x23, 0xF026}, {0x14, 0xF027}, {0x09, 0xF028},
        {0x70, 0xF030}, {0x7B, 0xF03B}, {0x41, 0x41}, {0x39, 0x39}, {0, 0},
    };
    for (const auto &c : cases) {
        orb_keycode.store(c[0]);
        EXPECT_EQ(win32_getkeycode(), c[1]) << "vk " << c[0];
    }
    int code = -1, changed = -1;
    orb_keycode.store(0x41);
    EXPECT_EQ(ORB_GetKeycode(&code, &changed), 0x41);
    EXPECT_EQ(code, 0x41);
    EXPECT_EQ(changed, 1);
    ORB_GetKeycode(NULL, &changed);
    EXPECT_EQ(changed, 0);
    orb_keycode.store(0);
    ORB_GetKeycode(&code, &changed);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(changed, 1);
}

TEST_F(Input, WheelDirectionIsReportedOnceAndMouseIsRead)
{
    orb_mouse_z.store(120);
    orb_mouse_zdir.store(1);
    int z, zdir;
    ORB_GetMouseWheel(&z, &zdir);
    EXPECT_EQ(z, 120);
    EXPECT_EQ(zdir, 1);
    ORB_GetMouseWheel(&z, &zdir);
    EXPECT_EQ(z, 120);
    EXPECT_EQ(zdir, 0);

    fake_mx = 33;
    fake_my = -4;
    orb_mouse_buttons.store(5);
    int x, y, b;
    ORB_GetMouse(&x, &y, &b);
    EXPECT_EQ(x, 33);
    EXPECT_EQ(y, -4);
    EXPECT_EQ(b, 5);
    EXPECT_EQ(orb_mouse_x.load(), 33);
    EXPECT_EQ(orb_mouse_y.load(), -4);
    ORB_SetMouse(10, 20);
    EXPECT_EQ(warp_x, 10);
    EXPECT_EQ(warp_y, 20);
}

TEST_F(Input, JoystickAxesAtExtremesAndCentre)
{
    fake_readable[1] = 1;
    fake_joy[1].x = 0;
    fake_joy[1].y = 65535;
    fake_joy[1].z = 0x7FFF;
    fake_joy[1].r = 0x7FFE;  // one below centre: -1 >> 8 is -1
    int x, y, z, r, b;
    EXPECT_EQ(win32_polljoystick(1, &x, &y, &z, &r, &b), 1);
    EXPECT_EQ(x, -128);
    EXPECT_EQ(y, 128);
    EXPECT_EQ(z, 0);
    EXPECT_EQ(r, -1);
    EXPECT_EQ(b, 0);

    x = y = z = r = b = 7;
    EXPECT_EQ(win32_polljoystick(2, &x, &y, &z, &r, &b), 0);
    EXPECT_EQ(x | y | z | r | b, 0);
}

TEST_F(Input, JoystickHatDirections)
{
    fake_readable[0] = 1;
    const unsigned cases[][2] = {
        {0, 0x1}, {4500, 0x1 | 0x8}, {9000, 0x8}, {13500, 0x8 | 0x2}, {18000, 0x2},
        {22500, 0x2 | 0x4}, {27000, 0x4}, {31500, 0x4 | 0x1}, {36000, 0x1}, {65535, 0},
    };
    for (const auto &c : cases) {
        fake_joy[0].pov = c[0];
        int x, y, z, r, b;
        win32_polljoystick(0, &x, &y, &z, &r, &b);
        EXPECT_EQ(b, (int)c[1]) << "pov " << c[0];
    }
}

TEST_F(Input, JoystickButtonLayoutsFollowTheButtonCount)
{
    fake_readable[0] = 1;
    int x, y, z, r, b;
    struct { int count; unsigned buttons; int mask; } cases[] = {
        {10, 1u << 0, 0x0010}, {10, 1u << 6, 0x2000}, {10, 1u << 9, 0x4000},
        {14, 1u << 0, 0x0040}, {14, 1u << 12, 0x8000}, {14, 1u << 13, 0x1000},
        {12, 1u << 0, 0x0080}, {12, 1u << 4, 0x0200}, {12, 1u << 11, 0x4000},
        {12, 1u << 12, 0}, {0, 1u << 2, 0x0010},
    };
    for (const auto &c : cases) {
        fake_joy[0] = centred(c.count);
        fake_joy[0].buttons = c.buttons;
        win32_polljoystick(0, &x, &y, &z, &r, &b);
        EXPECT_EQ(b, c.mask) << c.count << " buttons, mask " << c.buttons;
    }
}

TEST_F(Input, InitControllersFindsJoysticksThenKeyboardsMouseAndKeycode)
{
    fake_connected[1] = fake_connected[3] = 1;
    testing::internal::CaptureStdout();
    ORB_InitControllers();
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "joystick 1 found\njoystick 3 found\n");
    ASSERT_EQ(ORB_numcontrollers, 6);
    const int types[] = {2, 2, 1, 1, 4, 3};
    for (int i = 0; i < 6; i++) {
        EXPECT_EQ(ORB_controller[i].type, types[i]);
        EXPECT_EQ(ORB_controller[i].active, 1);
    }
    EXPECT_EQ(ORB_controller[0].joystick, 1);
    EXPECT_EQ(ORB_controller[1].joystick, 3);
    EXPECT_EQ(ORB_controllerkeys[2][0], 0x26);
    EXPECT_EQ(ORB_controllerkeys[2][15], 0x1B);
    EXPECT_EQ(ORB_controllerkeys[3][0], 0x57);
    EXPECT_EQ(ORB_controllerkeys[3][11], 0x4A);
}

TEST_F(Input, KeyboardControllerAxesAndMerge)
{
    ORB_InitControllers();  // keyboards are records 0 and 1
    ASSERT_EQ(ORB_numcontrollers, 4);
    int keys, pressed;

    // Left and right held: both bits from the read, right only after a poll.
    fake_keys[0x25] = fake_keys[0x27] = 1;
    ORB_GetControllerKeys(0, &keys, &pressed);
    EXPECT_EQ(keys, 0x4 | 0x8);
    EXPECT_EQ(pressed, 0x4 | 0x8);
    ORB_GetAllControllers(&keys, &pressed);
    EXPECT_EQ(ORB_controller[0].x, 127);
    EXPECT_EQ(ORB_controller[0].buttons, 0);
    EXPECT_EQ(keys, 0x8);
    EXPECT_EQ(pressed, 0x8);

    // Up and down held: down only.
    memset(fake_keys, 0, sizeof fake_keys);
    fake_keys[0x26] = fake_keys[0x28] = 1;
    ORB_GetAllControllers(&keys, &pressed);
    EXPECT_EQ(ORB_controller[0].y, 127);
    EXPECT_EQ(ORB_controller[0].x, 0);
    EXPECT_EQ(keys, 0x2);

    // Second map: W up, map entries 9 and 10 (L, H) give 0x400 and 0x200, entry 14
    // (Escape) gives nothing but entry 15 (Escape too) gives 0x8000.
    memset(fake_keys, 0, sizeof fake_keys);
    fake_keys[0x57] = fake_keys[0x4C] = fake_keys[0x48] = fake_keys[0x1B] = 1;
    ORB_GetControllerKeys(1, &keys, NULL);
    EXPECT_EQ(keys, 0x1 | 0x400 | 0x200 | 0x8000);
    ORB_GetAllControllers(&keys, &pressed);
    EXPECT_EQ(ORB_controller[1].y, -127);
    EXPECT_EQ(keys, 0x1 | 0x400 | 0x200 | 0x8000);
    ORB_GetAllControllers(&keys, &pressed);
    EXPECT_EQ(pressed, 0);

    // Non-keyboard records are left alone by ORB_GetControllerKeys.
    keys = -5;
    ORB_GetControllerKeys(2, &keys, &pressed);
    EXPECT_EQ(keys, -5);
}

TEST_F(Input, JoystickRecordMergesStickAndIsDroppedAfterAFailedPoll)
{
    fake_connected[0] = 1;
    fake_readable[0] = 1;
    ORB_InitControllers();
    ASSERT_EQ(ORB_controller[0].type, 2);
    int keys, pressed;

    fake_joy[0] = centred(12);
    fake_joy[0].x = 0;  // -128: left
    fake_joy[0].buttons = 1u << 0;
    ORB_GetAllControllers(&keys, &pressed);
    EXPECT_EQ(keys, 0x4 | 0x80);
    EXPECT_EQ(pressed, 0x4 | 0x80);

    // Stick just inside the dead zone: 64 does not count, 65 does.
    fake_joy[0] = centred(12);
    fake_joy[0].y = 0x7FFF + 64 * 256;  // 64
    ORB_GetAllControllers(&keys, &pressed);
    EXPECT_EQ(keys, 0);
    EXPECT_EQ(ORB_controller[0].released, 0x80);
    fake_joy[0].y = 0x7FFF + 65 * 256;  // 65
    ORB_GetAllControllers(&keys, &pressed);
    EXPECT_EQ(keys, 0x2);

    // Unplugged: deactivated for good, keeps its last values, no longer merged.
    fake_readable[0] = 0;
    ORB_GetAllControllers(&keys, &pressed);
    EXPECT_EQ(ORB_controller[0].active, 0);
    EXPECT_EQ(ORB_controller[0].y, 65);
    EXPECT_EQ(keys, 0);
    fake_readable[0] = 1;
    ORB_GetAllControllers(&keys, &pressed);
    EXPECT_EQ(ORB_controller[0].active, 0);
}

TEST_F(Input, MouseAndKeycodeRecordsAreNotMerged)
{
    ORB_InitControllers();
    fake_mx = 100;
    fake_my = 50;
    orb_mouse_buttons.store(1);
    orb_keycode.store(0x41);
    int keys, pressed;
    ORB_GetAllControllers(&keys, &pressed);
    EXPECT_EQ(keys, 0);
    EXPECT_EQ(ORB_controller[2].x, 100);
    EXPECT_EQ(ORB_controller[2].buttons, 1);
    EXPECT_EQ(ORB_controller[3].buttons, 0x41);
    orb_keycode.store(0);
    orb_mouse_buttons.store(0);
    ORB_PollControllers();
    EXPECT_EQ(ORB_controller[3].released, 0x41);
    EXPECT_EQ(ORB_controller[2].released, 1);
}

TEST_F(Input, NoControllersReportNothing)
{
    fake_keys[0x26] = 1;
    int keys = -1, pressed = -1;
    ORB_GetAllControllers(&keys, &pressed);
    EXPECT_EQ(keys, 0);
    EXPECT_EQ(pressed, 0);
}

TEST_F(Input, AddKeyControllerAppendsAKeyboard)
{
    const int map[16] = {0x49, 0x4B, 0x4A, 0x4C, 0x4D, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x51};
    ORB_AddKeyController(map);
    ASSERT_EQ(ORB_numcontrollers, 1);
    fake_keys[0x4A] = fake_keys[0x4D] = 1;
    int keys, pressed;
    ORB_GetAllControllers(&keys, &pressed);
    EXPECT_EQ(keys, 0x4 | 0x10);
}

TEST_F(Input, FullControllerTableRefusesMoreRecordsAndBadNumbers)
{
    // Four joysticks give the largest table ORB_InitControllers makes: all 8 records.
    for (int j = 0; j < 4; j++) fake_connected[j] = fake_readable[j] = 1;
    ORB_InitControllers();
    ASSERT_EQ(ORB_numcontrollers, ORB_MAXCONTROLLERS);
    s_controller before[ORB_MAXCONTROLLERS];
    memcpy(before, ORB_controller, sizeof before);

    const int map[16] = {0x41, 0x42, 0x43, 0x44, 0x45, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x46};
    ORB_AddKeyController(map);
    EXPECT_EQ(ORB_numcontrollers, ORB_MAXCONTROLLERS);
    EXPECT_EQ(memcmp(before, ORB_controller, sizeof before), 0);

    // Numbers outside the table touch nothing and report nothing.
    ORB_SetKeyController(ORB_MAXCONTROLLERS, map);
    ORB_SetKeyController(-1, map);
    fake_keys[0x41] = 1;
    int keys = -1, pressed = -1;
    ORB_GetControllerKeys(ORB_MAXCONTROLLERS, &keys, &pressed);
    ORB_GetControllerKeys(-1, &keys, &pressed);
    EXPECT_EQ(keys, -1);
    EXPECT_EQ(pressed, -1);
    EXPECT_EQ(ORB_numcontrollers, ORB_MAXCONTROLLERS);
}

// The window procedure's key-up of released_vk, arriving on the main thread after
// win32_checkkeys has stored the platform's latched press but before it is read.
int released_vk;
int keyup_during_poll(int vk)
{
    if (vk == 0xFF) WndProc(WM_KEYUP, (uintptr_t)released_vk, 0);
    return fake_key_down(vk);
}

TEST_F(Input, KeyUpDuringThePollDoesNotHideALatchedTap)
{
    inputio.key_down = keyup_during_poll;
    released_vk = 0x1B;
    fake_keys[0x1B] = 1;   // a tap: reported down once by the platform's latch
    int keys = 0, pressed = 0;
    ORB_GetKeys(&keys, &pressed);
    EXPECT_EQ(pressed, 0x8000);
    EXPECT_EQ(ORB_keys[0x1B].load(), 0);   // the window procedure's key-up is kept

    // The same for a keyboard controller (record 0: up is cursor up).
    ORB_InitControllers();
    released_vk = 0x26;
    fake_keys[0x1B] = 0;
    fake_keys[0x26] = 1;
    int k = 0, p = 0;
    ORB_GetControllerKeys(0, &k, &p);
    EXPECT_EQ(k, 0x1);
    EXPECT_EQ(p, 0x1);
}

}  // namespace
