// platform_win32.cpp - the Windows backend on the system's own calls: the window
// class "ORB" and its window procedure, the PeekMessage loop, a WGL context, the
// display mode, GetAsyncKeyState and the multimedia joystick calls. waveOut is
// platform_win32_audio.cpp's; threads, the end of the process, the clock, files and
// folders are platform_win32_os.cpp's. The clock's test hook, the quit flag and the
// key-press latch come from platform_common.cpp.
//
// platform.h names the window messages it hands on; windows.h defines the same
// names as macros, so it is included after it.
#include "platform/platform_backend.h"

#include <windows.h>
#include <mmsystem.h>

#include <GL/gl.h>
#include <stdio.h>
#include <string.h>

#include <atomic>

// The records the calls are defined with: a display mode of 156 bytes, a pixel format
// request of 40, joystick capabilities of 404 and a joystick position of 52.
static_assert(sizeof(DEVMODEA) == 156, "DEVMODEA");
static_assert(sizeof(PIXELFORMATDESCRIPTOR) == 40, "PIXELFORMATDESCRIPTOR");
static_assert(sizeof(JOYCAPSA) == 404, "JOYCAPSA");
static_assert(sizeof(JOYINFOEX) == 52, "JOYINFOEX");

// ---- State --------------------------------------------------------------------------------
#define PLAT_STYLE_CREATE 0xCF0008u    // WS_OVERLAPPEDWINDOW and the low bit 0x8
#define PLAT_STYLE_VIDEO 0x96C80000u   // popup, visible, clipping, caption, system menu
#define PLAT_EXSTYLE 0x40100u          // WS_EX_APPWINDOW, WS_EX_WINDOWEDGE

static HINSTANCE plat_instance;
static HWND plat_hwnd;                 // written before the demo thread starts
static plat_wndproc plat_proc;         // the shell's window procedure (main thread only)
static HDC plat_hdc;
static HGLRC plat_hrc;
static std::atomic<int> plat_fullscreen{0};
static std::atomic<int> plat_win_w{0}, plat_win_h{0};

// ---- Window procedure ------------------------------------------------------------------------
// The window's own procedure: keys, buttons, the wheel and the close request go to
// the shell's procedure; the cursor is hidden over the client area; everything else
// (system keys included) takes the default path.
static LRESULT CALLBACK plat_winproc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam)
{
    switch (msg) {
    case WM_SETCURSOR:
        if (LOWORD(lparam) == HTCLIENT) {
            SetCursor(NULL);
            return TRUE;
        }
        return DefWindowProcA(hwnd, msg, wparam, lparam);
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
        // Every press is remembered until the key state is next read, so a tap that
        // ends before the next poll still counts.
        platc_key_pressed((int)(wparam & 0xFF));
        if (msg == WM_SYSKEYDOWN) return DefWindowProcA(hwnd, msg, wparam, lparam);
        return plat_proc ? plat_proc(msg, wparam, lparam) : 0;
    case WM_CLOSE:
        // Never the default (which would destroy the window): the shell decides.
        return plat_proc ? plat_proc(msg, wparam, lparam) : 0;
    case WM_DESTROY:
    case WM_KEYUP:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
    case WM_MOUSEWHEEL:
        if (plat_proc) return plat_proc(msg, wparam, lparam);
        return DefWindowProcA(hwnd, msg, wparam, lparam);
    default:
        return DefWindowProcA(hwnd, msg, wparam, lparam);
    }
}

// ---- Start, window, pump ---------------------------------------------------------------------
int plat_init(void)
{
    // msvcrt has no line buffering (_IOLBF is full buffering there): standard output
    // is unbuffered, so every line reaches a pipe or file as it is printed and
    // nothing is left to flush when the process is ended from outside.
    setvbuf(stdout, NULL, _IONBF, 0);
    platw_set_main_thread();
    plat_instance = GetModuleHandleA(NULL);

    WNDCLASSA wc;
    memset(&wc, 0, sizeof(wc));
    wc.style = CS_VREDRAW | CS_HREDRAW | CS_OWNDC;   // 0x23
    wc.lpfnWndProc = plat_winproc;
    wc.hInstance = plat_instance;
    wc.lpszClassName = "ORB";
    if (!RegisterClassA(&wc)) return 0;
    return 1;
}

int plat_create_window(const char *title, int width, int height)
{
    plat_hwnd = CreateWindowExA(PLAT_EXSTYLE, "ORB", title, PLAT_STYLE_CREATE, 0, 0, width, height, NULL,
                                NULL, plat_instance, NULL);
    if (!plat_hwnd) return 0;
    SetFocus(plat_hwnd);
    plat_win_w.store(width);
    plat_win_h.store(height);
    platw_reaper_start();
    return 1;
}

int plat_pump(plat_wndproc proc)
{
    // Messages sent to the window by the demo thread (restyle, move, show, title)
    // are delivered inside PeekMessage.
    plat_proc = proc;
    MSG msg;
    if (!PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) return 0;
    if (msg.message == WM_QUIT) {
        platc_set_quit((int)msg.wParam);
        return 1;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    return 1;
}

// The program's own loop: the frames run here, one after another.
void plat_run_frames(int (*frame)(void))
{
    while (frame()) {
    }
}

void plat_post_close(void)
{
    if (plat_hwnd) PostMessageA(plat_hwnd, WM_CLOSE, 0, 0);
}

void plat_post_quit(int code)
{
    platc_set_quit(code);
    PostQuitMessage(code);
}

// Gives the desktop its display mode back when full screen was set.
static void plat_restore_display(void)
{
    if (plat_fullscreen.exchange(0)) ChangeDisplaySettingsA(NULL, 0);
}

void plat_destroy_window(void)
{
    if (plat_hrc) {
        if (wglGetCurrentContext() == plat_hrc) wglMakeCurrent(NULL, NULL);
        wglDeleteContext(plat_hrc);
        plat_hrc = NULL;
    }
    if (plat_hdc) {
        ReleaseDC(plat_hwnd, plat_hdc);
        plat_hdc = NULL;
    }
    plat_restore_display();
    if (plat_hwnd) {
        DestroyWindow(plat_hwnd);
        plat_hwnd = NULL;
    }
    plat_win_w.store(0);
    plat_win_h.store(0);
}

void plat_shutdown(void)
{
    plat_audio_close();
    plat_restore_display();
}

void plat_message_box(const char *text) { MessageBoxA(NULL, text, NULL, MB_OK); }

// ---- What the shared pieces ask of the window ------------------------------------------------
// A thread of plat_thread_start is ending: a context left current there would be
// current on a thread that no longer exists.
void platb_thread_end(void)
{
    if (wglGetCurrentContext()) wglMakeCurrent(NULL, NULL);
}

// The process ends at once from the main thread: the desktop gets its display mode
// back and the window goes.
void platb_before_exit(void)
{
    plat_restore_display();
    if (plat_hwnd) DestroyWindow(plat_hwnd);
}

// ---- Video and GL -----------------------------------------------------------------------------------
// Runs on the calling (demo) thread: the window calls on the main thread's window are
// delivered to it by the system and served by its message loop meanwhile.
int plat_video_setup(int width, int height, int want_fullscreen, int *fullscreen)
{
    if (fullscreen) *fullscreen = 0;
    if (!plat_hwnd) return 0;

    SetWindowLongA(plat_hwnd, GWL_STYLE, (LONG)PLAT_STYLE_VIDEO);
    RECT rc = { 0, 0, width, height };
    AdjustWindowRectEx(&rc, PLAT_STYLE_VIDEO, FALSE, PLAT_EXSTYLE);
    SetWindowPos(plat_hwnd, HWND_TOPMOST, 100, 100, rc.right - rc.left, rc.bottom - rc.top, 0);

    if (want_fullscreen) {
        DEVMODEA dm;
        memset(&dm, 0, sizeof(dm));
        dm.dmSize = sizeof(dm);
        dm.dmPelsWidth = (DWORD)width;
        dm.dmPelsHeight = (DWORD)height;
        dm.dmBitsPerPel = 32;
        dm.dmDisplayFrequency = 60;
        dm.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT | DM_DISPLAYFREQUENCY;  // 0x5C0000
        if (ChangeDisplaySettingsA(&dm, CDS_FULLSCREEN) == DISP_CHANGE_SUCCESSFUL) {
            plat_fullscreen.store(1);
            LONG ex = GetWindowLongA(plat_hwnd, GWL_EXSTYLE) & ~(LONG)0x20201;
            LONG st = GetWindowLongA(plat_hwnd, GWL_STYLE) & ~(LONG)0x21CC0000;
            SetWindowLongA(plat_hwnd, GWL_EXSTYLE, ex);
            SetWindowLongA(plat_hwnd, GWL_STYLE, st);
            SetWindowPos(plat_hwnd, NULL, 0, 0, width, height, SWP_NOZORDER | SWP_FRAMECHANGED);
            SetCursor(NULL);
            ShowCursor(FALSE);
            if (fullscreen) *fullscreen = 1;
        }
    }
    ShowWindow(plat_hwnd, SW_SHOW);
    UpdateWindow(plat_hwnd);
    SetFocus(plat_hwnd);
    plat_win_w.store(width);
    plat_win_h.store(height);

    if (plat_hrc) return 1;
    plat_hdc = GetDC(plat_hwnd);
    PIXELFORMATDESCRIPTOR pfd;
    memset(&pfd, 0, sizeof(pfd));
    pfd.nSize = sizeof(pfd);
    pfd.nVersion = 1;
    pfd.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;  // 0x25
    pfd.iPixelType = PFD_TYPE_RGBA;
    pfd.cColorBits = 24;
    pfd.cDepthBits = 32;
    pfd.iLayerType = PFD_MAIN_PLANE;
    int format = plat_hdc ? ChoosePixelFormat(plat_hdc, &pfd) : 0;
    if (format) SetPixelFormat(plat_hdc, format, &pfd);
    plat_hrc = plat_hdc ? wglCreateContext(plat_hdc) : NULL;
    if (!plat_hrc) {
        printf("GL context: no pixel format or context (error %lu)\n", (unsigned long)GetLastError());
        return 0;
    }
    return 1;
}

uint32_t plat_gl_window_fbo(void) { return 0; }

int plat_gl_make_current(void) { return plat_hdc && plat_hrc && wglMakeCurrent(plat_hdc, plat_hrc); }

void plat_gl_release(void) { wglMakeCurrent(NULL, NULL); }

int plat_gl_set_swap_interval(int n)
{
    typedef BOOL(WINAPI * swapinterval_fn)(int);
    swapinterval_fn fn = (swapinterval_fn)(void *)wglGetProcAddress("wglSwapIntervalEXT");
    return fn && fn(n);
}

void plat_gl_swap(void)
{
    if (plat_hdc) SwapBuffers(plat_hdc);
}

void *plat_gl_proc(const char *name)
{
    // wglGetProcAddress knows only what lies beyond OpenGL 1.1; the rest is exported.
    void *p = (void *)wglGetProcAddress(name);
    if (p == NULL || p == (void *)1 || p == (void *)2 || p == (void *)3 || p == (void *)-1) {
        HMODULE gl = GetModuleHandleA("opengl32.dll");
        p = gl ? (void *)GetProcAddress(gl, name) : NULL;
    }
    return p;
}

void plat_set_title(const char *title)
{
    if (plat_hwnd) SetWindowTextA(plat_hwnd, title);
}

void plat_window_size(int *w, int *h)
{
    if (w) *w = plat_hwnd ? plat_win_w.load() : 0;
    if (h) *h = plat_hwnd ? plat_win_h.load() : 0;
}

// ---- Input ---------------------------------------------------------------------------------------------
int platb_key_held(int vk) { return (GetAsyncKeyState(vk) & 0x8000) ? 1 : 0; }

void plat_mouse_pos(int *x, int *y)
{
    POINT p = { 0, 0 };
    if (GetCursorPos(&p) && plat_hwnd) ScreenToClient(plat_hwnd, &p);
    if (x) *x = (int)p.x;
    if (y) *y = (int)p.y;
}

void plat_mouse_warp(int x, int y)
{
    POINT p = { x, y };
    if (plat_hwnd && ClientToScreen(plat_hwnd, &p)) SetCursorPos(p.x, p.y);
}

int plat_joy_numdevs(void) { return (int)joyGetNumDevs(); }

int plat_joy_connected(int j)
{
    // Present when its position can be read. A slot without a joystick does not
    // always answer JOYERR_UNPLUGGED: without a joystick driver (and under Wine) every
    // slot answers JOYERR_PARMS, which must not count as a joystick found.
    JOYINFO ji;
    return j >= 0 && joyGetPos((UINT)j, &ji) == JOYERR_NOERROR;
}

int plat_joy_read(int j, plat_joystate *st)
{
    if (j < 0 || !st) return 0;
    JOYCAPSA caps;
    memset(&caps, 0, sizeof(caps));
    // Capabilities that cannot be read give no button count (the pad layout then
    // falls back to the general one).
    int numbuttons = joyGetDevCapsA((UINT)j, &caps, sizeof(caps)) == JOYERR_NOERROR ? (int)caps.wNumButtons : -1;
    JOYINFOEX ji;
    memset(&ji, 0, sizeof(ji));
    ji.dwSize = sizeof(ji);
    ji.dwFlags = JOY_RETURNALL;  // 0xFF: every axis, the buttons and the hat
    if (joyGetPosEx((UINT)j, &ji) != JOYERR_NOERROR) return 0;
    st->x = ji.dwXpos;
    st->y = ji.dwYpos;
    st->z = ji.dwZpos;
    st->r = ji.dwRpos;
    st->pov = ji.dwPOV;
    st->buttons = ji.dwButtons;
    st->numbuttons = numbuttons;
    return 1;
}
