// The window procedure as a function of messages: raw keys, the last-key code,
// mouse buttons and the wheel; the close request.
#include <gtest/gtest.h>

#include "engine/driver.h"
#include "platform/platform.h"

namespace {

uintptr_t wheel(int delta) { return (uintptr_t)(uint16_t)(int16_t)delta << 16; }

class Shell : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (auto &k : ORB_keys) k.store(0);
        orb_keycode.store(0);
        orb_input_prevkeycode.store(0);
        orb_mouse_z.store(0);
        orb_mouse_zdir.store(0);
        orb_mouse_buttons.store(0);
    }
};

TEST_F(Shell, KeysAndTheLastKeyCode)
{
    WndProc(WM_KEYDOWN, 0x41, 0);
    WndProc(WM_KEYDOWN, 0x42, 0);
    EXPECT_EQ(ORB_keys[0x41].load(), 1);
    EXPECT_EQ(ORB_keys[0x42].load(), 1);
    EXPECT_EQ(orb_keycode.load(), 0x42);
    orb_input_prevkeycode.store(0x42);

    // Releasing a key other than the last one pressed leaves the code.
    WndProc(WM_KEYUP, 0x41, 0);
    EXPECT_EQ(ORB_keys[0x41].load(), 0);
    EXPECT_EQ(orb_keycode.load(), 0x42);
    EXPECT_EQ(orb_input_prevkeycode.load(), 0x42);

    // Releasing the last one clears the code and its previous value.
    WndProc(WM_KEYUP, 0x42, 0);
    EXPECT_EQ(orb_keycode.load(), 0);
    EXPECT_EQ(orb_input_prevkeycode.load(), 0);

    // Only the low byte of wParam indexes the key table.
    WndProc(WM_KEYDOWN, 0x1241, 0);
    EXPECT_EQ(ORB_keys[0x41].load(), 1);
    EXPECT_EQ(orb_keycode.load(), 0x41);
}

TEST_F(Shell, MouseButtonsSetAndClearTheirOwnBits)
{
    WndProc(WM_LBUTTONDOWN, 0, 0);
    WndProc(WM_MBUTTONDOWN, 0, 0);
    EXPECT_EQ(orb_mouse_buttons.load(), 0x5);
    WndProc(WM_MOUSEMOVE, 0, 0x00100010);
    EXPECT_EQ(orb_mouse_buttons.load(), 0x5);
    WndProc(WM_RBUTTONDOWN, 0, 0);
    WndProc(WM_LBUTTONUP, 0, 0);
    EXPECT_EQ(orb_mouse_buttons.load(), 0x6);
    WndProc(WM_RBUTTONUP, 0, 0);
    WndProc(WM_MBUTTONUP, 0, 0);
    EXPECT_EQ(orb_mouse_buttons.load(), 0);
}

TEST_F(Shell, OneWheelMessageIsOneStep)
{
    WndProc(WM_MOUSEWHEEL, wheel(240), 0); // two notches at once: one step
    EXPECT_EQ(orb_mouse_z.load(), 1);
    EXPECT_EQ(orb_mouse_zdir.load(), 1);
    WndProc(WM_MOUSEWHEEL, wheel(-120), 0);
    WndProc(WM_MOUSEWHEEL, wheel(-120), 0);
    EXPECT_EQ(orb_mouse_z.load(), -1);
    EXPECT_EQ(orb_mouse_zdir.load(), -1);
    WndProc(WM_MOUSEWHEEL, wheel(0), 0); // delta 0: direction 0, position kept
    EXPECT_EQ(orb_mouse_z.load(), -1);
    EXPECT_EQ(orb_mouse_zdir.load(), 0);
}

TEST_F(Shell, CloseRequestEndsTheLoopWithCodeZero)
{
    int code = -1;
    EXPECT_EQ(WndProc(WM_SETCURSOR, 0, 1), 1);
    EXPECT_EQ(plat_quit_posted(&code), 0);
    EXPECT_EQ(WndProc(WM_CLOSE, 0, 0), 0);
    EXPECT_EQ(plat_quit_posted(&code), 1);
    EXPECT_EQ(code, 0);
}

TEST(Clock, MillisecondsComeFromTheReplaceableClock)
{
    static uint32_t t = 0xFFFFFFF0u;
    plat_set_clock([] { return t; });
    EXPECT_EQ(ORB_GetMillis(), 0xFFFFFFF0u);
    t += 0x20; // wraps
    EXPECT_EQ(ORB_GetMillis(), 0x10u);
    plat_set_clock(nullptr);
    uint32_t a = ORB_GetMillis();
    uint32_t b = ORB_GetMillis();
    EXPECT_LE(b - a, 1000u);
}

} // namespace
