// driver.cpp - the application shell.
//
// The main thread creates the one window (hidden and tiny until the video set-up
// sizes and shows it), starts the demo on a second thread and pumps messages until
// a quit request arrives. The window procedure records keys, mouse buttons and the
// wheel in the raw input globals that the demo thread polls.
#include "engine/driver.h"

#include <stdio.h>

#include "engine/video.h"
#include "platform/platform.h"

std::atomic<uint8_t> ORB_quit{0};
std::atomic<int> ORB_keys[256];
std::atomic<int> orb_keycode{0};
std::atomic<int> orb_input_prevkeycode{0};
std::atomic<int> orb_mouse_x{0}, orb_mouse_y{0}, orb_mouse_z{0}, orb_mouse_zdir{0}, orb_mouse_buttons{0};
uint32_t dwExStyle;

static plat_thread *orbthread;
// Set by the demo thread once coremain has returned: the thread is then ending by
// itself and is waited for, not ended from outside.
static std::atomic<int> demo_returned{0};

static const std::memory_order relaxed = std::memory_order_relaxed;

intptr_t WndProc(unsigned msg, uintptr_t wparam, intptr_t lparam)
{
    (void)lparam;
    switch (msg) {
    case WM_CLOSE:
        // The window is not destroyed here: the loop ends and the shell tears down.
        plat_post_quit(0);
        return 0;
    case WM_DESTROY:
        return 0;
    case WM_KEYDOWN: {
        int k = (int)(wparam & 0xFF);
        ORB_keys[k].store(1, relaxed);
        orb_keycode.store(k, relaxed);
        return 0;
    }
    case WM_KEYUP: {
        int k = (int)(wparam & 0xFF);
        ORB_keys[k].store(0, relaxed);
        if ((int)wparam == orb_keycode.load(relaxed)) {
            orb_input_prevkeycode.store(0, relaxed);
            orb_keycode.store(0, relaxed);
        }
        return 0;
    }
    case WM_SETCURSOR:
        // The platform hides the cursor over the client area.
        return 1;
    case WM_LBUTTONDOWN: orb_mouse_buttons.fetch_or(0x1, relaxed); return 0;
    case WM_RBUTTONDOWN: orb_mouse_buttons.fetch_or(0x2, relaxed); return 0;
    case WM_MBUTTONDOWN: orb_mouse_buttons.fetch_or(0x4, relaxed); return 0;
    case WM_LBUTTONUP: orb_mouse_buttons.fetch_and(~0x1, relaxed); return 0;
    case WM_RBUTTONUP: orb_mouse_buttons.fetch_and(~0x2, relaxed); return 0;
    case WM_MBUTTONUP: orb_mouse_buttons.fetch_and(~0x4, relaxed); return 0;
    case WM_MOUSEWHEEL: {
        // One message is one step, whatever the size of the delta.
        int d = (int16_t)(uint16_t)(wparam >> 16);
        orb_mouse_zdir.store(0, relaxed);
        if (d < 0) {
            orb_mouse_zdir.store(-1, relaxed);
            orb_mouse_z.fetch_sub(1, relaxed);
        }
        if (d > 0) {
            orb_mouse_zdir.store(1, relaxed);
            orb_mouse_z.fetch_add(1, relaxed);
        }
        return 0;
    }
    default:
        return 0;
    }
}

int win32_main(int argc, char **argv)
{
    (void)argc;
    (void)argv;
    coremain(0, nullptr);
    demo_returned.store(1);
    plat_post_close();
    return 1;
}

static int demo_thread(void *arg)
{
    (void)arg;
    return win32_main(0, nullptr);
}

int WinMain(int argc, char **argv)
{
    (void)argc;
    (void)argv;
    if (!plat_init()) {
        printf("Could not register Window class");
        fflush(stdout);
        plat_message_box("Register class FAILED");
        return 1;
    }
    dwExStyle = 0x40100;
    if (!plat_create_window("ORB Application", 10, 10)) {
        plat_message_box("Window creation failed");
        plat_shutdown();
        return 1;
    }
    orb_mouse_x.store(0);
    orb_mouse_y.store(0);
    orb_mouse_z.store(0);
    orb_mouse_zdir.store(0);
    orb_mouse_buttons.store(0);

    orbthread = plat_thread_start(demo_thread, nullptr);
    if (!orbthread) {
        // Nothing would ever close a hidden window without its demo.
        printf("Could not start the demo thread\n");
        plat_destroy_window();
        plat_shutdown();
        return 1;
    }

    int code = 0;
    while (!plat_quit_posted(&code)) {
        if (!plat_pump(WndProc)) plat_sleep(1);
    }

    // A demo thread still running (the window was closed) is ended wherever it is,
    // and the process with it. One whose show is over is only finishing: it is joined.
    if (!demo_returned.load() && plat_thread_running(orbthread)) plat_thread_terminate(orbthread, code);
    plat_thread_join(orbthread);
    orbthread = nullptr;
    plat_destroy_window();
    plat_shutdown();
    fflush(stdout);
    return code;
}

void ORB_SetTitle(const char *title)
{
    plat_set_title(title);
}

uint32_t ORB_GetMillis(void)
{
    return orb_frame_clock();
}
