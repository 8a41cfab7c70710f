// platform_win32.cpp - the Windows backend on the system's own calls: the window
// class "ORB" and its window procedure, the PeekMessage loop, CreateThread and
// TerminateThread, GetTickCount, a WGL context, the display mode, GetAsyncKeyState,
// the multimedia joystick calls, waveOut and the runtime's find-first directory
// calls. The clock's test hook, the quit flag and the key-press latch come from
// platform_common.cpp.
//
// platform.h names the window messages it hands on; windows.h defines the same
// names as macros, so it is included after it.
#include "platform/platform_backend.h"

#include <windows.h>
#include <mmsystem.h>

#include <GL/gl.h>
#include <direct.h>
#include <errno.h>
#include <io.h>
#include <malloc.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
#include <string>

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
static DWORD plat_mainthread;
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
// The end of a process whose demo thread was killed (plat_thread_terminate) must not
// depend on anything that thread may have held. A thread made here, while nothing
// is held, waits to end the process should the tear-down hang.
static HANDLE plat_reaper_event;
static std::atomic<int> plat_reaper_code{0};

static DWORD WINAPI plat_reaper(LPVOID arg)
{
    (void)arg;
    WaitForSingleObject(plat_reaper_event, INFINITE);
    Sleep(500);
    TerminateProcess(GetCurrentProcess(), (UINT)plat_reaper_code.load());
    return 0;
}

int plat_init(void)
{
    // msvcrt has no line buffering (_IOLBF is full buffering there): standard output
    // is unbuffered, so every line reaches a pipe or file as it is printed and
    // nothing is left to flush when the process is ended from outside.
    setvbuf(stdout, NULL, _IONBF, 0);
    plat_mainthread = GetCurrentThreadId();
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
    if (!plat_reaper_event) {
        plat_reaper_event = CreateEventA(NULL, TRUE, FALSE, NULL);
        HANDLE h = plat_reaper_event ? CreateThread(NULL, 0, plat_reaper, NULL, 0, NULL) : NULL;
        if (h) CloseHandle(h);
    }
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

void plat_sleep(unsigned ms) { Sleep(ms); }

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

// ---- Threads and process end --------------------------------------------------------------------
struct plat_thread {
    HANDLE handle;
    plat_threadfn fn;
    void *arg;
    std::atomic<int> running{1};
};

static DWORD WINAPI plat_thread_entry(LPVOID p)
{
    plat_thread *t = (plat_thread *)p;
    int code = t->fn(t->arg);
    // A context left current here would be current on a thread that no longer exists.
    if (wglGetCurrentContext()) wglMakeCurrent(NULL, NULL);
    t->running.store(0);
    return (DWORD)code;
}

plat_thread *plat_thread_start(plat_threadfn fn, void *arg)
{
    plat_thread *t = new plat_thread;
    t->fn = fn;
    t->arg = arg;
    t->handle = CreateThread(NULL, 0, plat_thread_entry, t, 0, NULL);
    if (!t->handle) {
        delete t;
        return nullptr;
    }
    return t;
}

int plat_thread_running(plat_thread *t) { return t && t->running.load(); }

void plat_thread_join(plat_thread *t)
{
    if (!t) return;
    WaitForSingleObject(t->handle, INFINITE);
    CloseHandle(t->handle);
    delete t;
}

int plat_is_main_thread(void) { return GetCurrentThreadId() == plat_mainthread; }

// Whether the suspended thread th is executing the program's own code (not a system
// or driver DLL, nor a system call).
static int plat_thread_in_own_code(HANDLE th)
{
    const unsigned char *base = (const unsigned char *)plat_instance;
    if (!base) return 0;
    const IMAGE_DOS_HEADER *dos = (const IMAGE_DOS_HEADER *)base;
    const IMAGE_NT_HEADERS *nt = (const IMAGE_NT_HEADERS *)(base + dos->e_lfanew);
    uintptr_t start = (uintptr_t)base, end = start + nt->OptionalHeader.SizeOfImage;
    CONTEXT c;
    memset(&c, 0, sizeof(c));
    c.ContextFlags = CONTEXT_CONTROL;
    if (!GetThreadContext(th, &c)) return 0;
#ifdef _WIN64
    uintptr_t pc = (uintptr_t)c.Rip;
#else
    uintptr_t pc = (uintptr_t)c.Eip;
#endif
    return pc >= start && pc < end;
}

// Stops thread th (suspended) at a moment it runs the program's own code, trying for
// at most about 100 ms: a thread ended inside the GL driver or a system call may leave
// that code's locks or state behind (under Wine, ending a thread inside the GL
// driver can even crash the process). After the tries it stays suspended wherever it is.
static void plat_thread_stop_in_own_code(HANDLE th)
{
    for (int i = 0; i < 100; i++) {
        if (SuspendThread(th) == (DWORD)-1) return;
        if (plat_thread_in_own_code(th) || i == 99) return;
        ResumeThread(th);
        Sleep(1);
    }
}

void plat_thread_terminate(plat_thread *t, int code)
{
    // The reaper ends the process should anything below wait on a lock the killed
    // thread held (the display connection in a GL call, say).
    plat_reaper_code.store(code);
    if (plat_reaper_event) SetEvent(plat_reaper_event);
    if (t && t->handle) {
        plat_thread_stop_in_own_code(t->handle);
        TerminateThread(t->handle, 0);
        WaitForSingleObject(t->handle, 100);
    }
    if (plat_is_main_thread()) {
        plat_restore_display();
        if (plat_hwnd) DestroyWindow(plat_hwnd);
    }
    // Nothing of the runtime's exit runs (its locks may be held by the killed thread);
    // standard output is unbuffered, so nothing waits to be flushed.
    TerminateProcess(GetCurrentProcess(), (UINT)code);
    for (;;) Sleep(1000);
}

// ---- Clock ----------------------------------------------------------------------------------------
uint32_t platb_ticks(void) { return (uint32_t)GetTickCount(); }

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

// ---- Audio -----------------------------------------------------------------------------------------------
// waveOut with a callback function. The system's callback may call no other waveOut
// function (that can deadlock), so it only marks the buffer played and signals a
// small thread of ours, which hands the played headers back, in the order queued,
// to the caller's done callback (where the next block is mixed and queued).
#define PLAT_AUDIOSLOTS 16
typedef struct {
    WAVEHDR wh;
    plat_audiohdr *owner;        // the caller's header this record serves (null: free)
    std::atomic<int> played;     // set by the system's callback
} plat_waveslot;

static HWAVEOUT plat_wo;
static plat_audio_done_fn plat_audio_done;
static void *plat_audio_user;
static plat_waveslot plat_slots[PLAT_AUDIOSLOTS];
static CRITICAL_SECTION aq_lock;               // the queue below; taken last, held briefly
static CONDITION_VARIABLE aq_changed;          // a header was handed back
static int aq_lock_ready;
static plat_waveslot *aq[PLAT_AUDIOSLOTS];     // queued records, aq_head first
static int aq_head, aq_count;
static uint32_t aq_handed;                     // headers handed back so far
static uint32_t aq_queued;                     // headers queued so far
static HANDLE plat_audio_event;                // the callback's signal
static HANDLE plat_audio_thread;
static DWORD plat_audio_threadid;
static std::atomic<int> plat_audio_stop{0};

static void CALLBACK plat_waveoutproc(HWAVEOUT wo, UINT msg, DWORD_PTR instance, DWORD_PTR p1, DWORD_PTR p2)
{
    (void)wo;
    (void)instance;
    (void)p2;
    if (msg != WOM_DONE || !p1) return;
    plat_waveslot *s = (plat_waveslot *)((char *)p1 - offsetof(plat_waveslot, wh));
    s->played.store(1, std::memory_order_release);
    SetEvent(plat_audio_event);
}

// Takes the first queued record off the queue if it has been played.
static plat_audiohdr *aq_pop_played(void)
{
    plat_audiohdr *h = nullptr;
    EnterCriticalSection(&aq_lock);
    if (aq_count > 0 && aq[aq_head]->played.load(std::memory_order_acquire)) {
        plat_waveslot *s = aq[aq_head];
        aq_head = (aq_head + 1) % PLAT_AUDIOSLOTS;
        aq_count--;
        h = s->owner;
        if (h) platc_hdr_played(h);
    }
    LeaveCriticalSection(&aq_lock);
    return h;
}

// Hands every played header at the front of the queue back, first to last.
static void plat_audio_handback(void)
{
    plat_audiohdr *h;
    while ((h = aq_pop_played()) != nullptr) {
        if (plat_audio_done) plat_audio_done(plat_audio_user, h);
        EnterCriticalSection(&aq_lock);
        aq_handed++;
        LeaveCriticalSection(&aq_lock);
        WakeAllConditionVariable(&aq_changed);
    }
}

static DWORD WINAPI plat_audio_main(LPVOID arg)
{
    (void)arg;
    while (!plat_audio_stop.load()) {
        WaitForSingleObject(plat_audio_event, INFINITE);
        if (plat_audio_stop.load()) break;
        plat_audio_handback();
    }
    return 0;
}

int plat_audio_open(unsigned freq, int bits, int channels, plat_audio_done_fn done, void *user)
{
    if (plat_wo) return 0;
    if ((bits != 8 && bits != 16) || (channels != 1 && channels != 2)) return 0;
    if (!aq_lock_ready) {
        InitializeCriticalSection(&aq_lock);
        InitializeConditionVariable(&aq_changed);
        aq_lock_ready = 1;
    }
    EnterCriticalSection(&aq_lock);
    aq_head = aq_count = 0;
    aq_handed = aq_queued = 0;
    for (int i = 0; i < PLAT_AUDIOSLOTS; i++) {
        memset(&plat_slots[i].wh, 0, sizeof(WAVEHDR));
        plat_slots[i].owner = nullptr;
        plat_slots[i].played.store(0);
    }
    LeaveCriticalSection(&aq_lock);
    plat_audio_done = done;
    plat_audio_user = user;

    WAVEFORMATEX wf;
    memset(&wf, 0, sizeof(wf));
    wf.wFormatTag = WAVE_FORMAT_PCM;
    wf.nChannels = (WORD)channels;
    wf.nSamplesPerSec = freq;
    wf.wBitsPerSample = (WORD)bits;
    wf.nBlockAlign = (WORD)(bits / 8 * channels);
    wf.nAvgBytesPerSec = freq * wf.nBlockAlign;
    wf.cbSize = 0;

    plat_audio_event = CreateEventA(NULL, FALSE, FALSE, NULL);
    if (!plat_audio_event) return 0;
    plat_audio_stop.store(0);
    plat_audio_thread = CreateThread(NULL, 0, plat_audio_main, NULL, 0, &plat_audio_threadid);
    if (!plat_audio_thread) {
        CloseHandle(plat_audio_event);
        plat_audio_event = NULL;
        return 0;
    }
    MMRESULT r = waveOutOpen(&plat_wo, WAVE_MAPPER, &wf, (DWORD_PTR)plat_waveoutproc, 0, CALLBACK_FUNCTION);
    if (r != MMSYSERR_NOERROR) {
        printf("AUDIO: waveOutOpen failed (%u)\n", (unsigned)r);
        plat_wo = NULL;
        plat_audio_close();
        return 0;
    }
    return 1;
}

// The device's own played position, in bytes; waveOut counts in 32 bits, widened here.
uint64_t plat_audio_heard(void)
{
    static std::atomic<uint64_t> last{0};
    if (!plat_wo) return 0;
    MMTIME t;
    memset(&t, 0, sizeof t);
    t.wType = TIME_BYTES;
    if (waveOutGetPosition(plat_wo, &t, sizeof t) != MMSYSERR_NOERROR || t.wType != TIME_BYTES)
        return last.load();
    uint64_t prev = last.load(), now = (prev & ~(uint64_t)0xFFFFFFFF) | t.u.cb;
    if (now < prev) now += (uint64_t)1 << 32;
    last.store(now);
    return now;
}

// The record that serves h: the one it was prepared with, else a free one.
static plat_waveslot *plat_slot_for(plat_audiohdr *h)
{
    plat_waveslot *s = (plat_waveslot *)h->sys;
    if (s && s >= plat_slots && s < plat_slots + PLAT_AUDIOSLOTS && s->owner == h) return s;
    for (int i = 0; i < PLAT_AUDIOSLOTS; i++)
        if (plat_slots[i].owner == h) return &plat_slots[i];
    for (int i = 0; i < PLAT_AUDIOSLOTS; i++)
        if (!plat_slots[i].owner) return &plat_slots[i];
    return nullptr;
}

// The record h was prepared with, or null.
static plat_waveslot *plat_slot_of(plat_audiohdr *h)
{
    plat_waveslot *s = (plat_waveslot *)h->sys;
    if (!aq_lock_ready || !s || s < plat_slots || s >= plat_slots + PLAT_AUDIOSLOTS) return nullptr;
    EnterCriticalSection(&aq_lock);
    int mine = s->owner == h;
    LeaveCriticalSection(&aq_lock);
    return mine ? s : nullptr;
}

int plat_audio_prepare(plat_audiohdr *h)
{
    if (!h || !plat_wo || !h->lpData || (h->dwFlags & PLAT_WHDR_INQUEUE)) return 0;
    EnterCriticalSection(&aq_lock);
    plat_waveslot *s = plat_slot_for(h);
    if (s) s->owner = h;
    LeaveCriticalSection(&aq_lock);
    if (!s) return 0;
    // A record still prepared from an earlier use is released first.
    if (s->wh.dwFlags & WHDR_PREPARED) waveOutUnprepareHeader(plat_wo, &s->wh, sizeof(WAVEHDR));
    memset(&s->wh, 0, sizeof(WAVEHDR));
    s->wh.lpData = (LPSTR)h->lpData;
    s->wh.dwBufferLength = h->dwBufferLength;
    if (waveOutPrepareHeader(plat_wo, &s->wh, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
        EnterCriticalSection(&aq_lock);
        s->owner = nullptr;
        LeaveCriticalSection(&aq_lock);
        h->sys = nullptr;
        return 0;
    }
    h->sys = s;
    platc_hdr_prepared(h);
    return 1;
}

int plat_audio_unprepare(plat_audiohdr *h)
{
    if (!h) return 0;
    if (h->dwFlags & PLAT_WHDR_INQUEUE) return 0;
    plat_waveslot *s = plat_slot_of(h);
    if (plat_wo && s) {
        if (waveOutUnprepareHeader(plat_wo, &s->wh, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) return 0;
        EnterCriticalSection(&aq_lock);
        s->owner = nullptr;
        LeaveCriticalSection(&aq_lock);
    }
    h->sys = nullptr;
    h->dwFlags &= ~(uint32_t)PLAT_WHDR_PREPARED;
    return 1;
}

int plat_audio_write(plat_audiohdr *h)
{
    if (!h || !plat_wo || !(h->dwFlags & PLAT_WHDR_PREPARED) || (h->dwFlags & PLAT_WHDR_INQUEUE)) return 0;
    plat_waveslot *s = plat_slot_of(h);
    if (!s) return 0;
    // Into our queue first (the device may finish it at once), then to the device;
    // no waveOut call is made while the queue's lock is held.
    EnterCriticalSection(&aq_lock);
    if (aq_count == PLAT_AUDIOSLOTS) {
        LeaveCriticalSection(&aq_lock);
        return 0;
    }
    s->played.store(0);
    platc_hdr_queued(h);
    aq[(aq_head + aq_count) % PLAT_AUDIOSLOTS] = s;
    aq_count++;
    aq_queued++;
    LeaveCriticalSection(&aq_lock);
    if (waveOutWrite(plat_wo, &s->wh, sizeof(WAVEHDR)) == MMSYSERR_NOERROR) return 1;
    // Not queued after all: take it off again (it is the last one unless another
    // thread queued meanwhile).
    EnterCriticalSection(&aq_lock);
    for (int i = aq_count - 1; i >= 0; i--) {
        int k = (aq_head + i) % PLAT_AUDIOSLOTS;
        if (aq[k] != s) continue;
        for (int j = i; j < aq_count - 1; j++)
            aq[(aq_head + j) % PLAT_AUDIOSLOTS] = aq[(aq_head + j + 1) % PLAT_AUDIOSLOTS];
        aq_count--;
        aq_queued--;
        break;
    }
    h->dwFlags &= ~(uint32_t)PLAT_WHDR_INQUEUE;
    LeaveCriticalSection(&aq_lock);
    return 0;
}

void plat_audio_reset(void)
{
    if (!plat_wo) return;
    EnterCriticalSection(&aq_lock);
    uint32_t target = aq_queued;
    LeaveCriticalSection(&aq_lock);
    // The device returns every queued buffer; once it has, each counts as played
    // even if its callback has not come yet.
    waveOutReset(plat_wo);
    EnterCriticalSection(&aq_lock);
    for (int i = 0; i < aq_count; i++) aq[(aq_head + i) % PLAT_AUDIOSLOTS]->played.store(1);
    LeaveCriticalSection(&aq_lock);
    if (GetCurrentThreadId() == plat_audio_threadid) {
        // Called from the done callback itself: hand back here.
        plat_audio_handback();
        return;
    }
    SetEvent(plat_audio_event);
    EnterCriticalSection(&aq_lock);
    while ((int32_t)(aq_handed - target) < 0 && !plat_audio_stop.load())
        SleepConditionVariableCS(&aq_changed, &aq_lock, 50);
    LeaveCriticalSection(&aq_lock);
}

void plat_audio_close(void)
{
    // Our thread ends first: done is not called once this returns.
    if (plat_audio_thread) {
        plat_audio_stop.store(1);
        SetEvent(plat_audio_event);
        if (GetCurrentThreadId() != plat_audio_threadid) WaitForSingleObject(plat_audio_thread, INFINITE);
        CloseHandle(plat_audio_thread);
        plat_audio_thread = NULL;
        plat_audio_threadid = 0;
    }
    if (plat_wo) {
        waveOutReset(plat_wo);
        for (int i = 0; i < PLAT_AUDIOSLOTS; i++) {
            plat_waveslot *s = &plat_slots[i];
            if (s->wh.dwFlags & WHDR_PREPARED) waveOutUnprepareHeader(plat_wo, &s->wh, sizeof(WAVEHDR));
            if (s->owner && s->owner->sys == s) {
                s->owner->sys = nullptr;
                s->owner->dwFlags &= ~(uint32_t)(PLAT_WHDR_PREPARED | PLAT_WHDR_INQUEUE);
            }
            s->owner = nullptr;
        }
        waveOutClose(plat_wo);
        plat_wo = NULL;
    }
    if (plat_audio_event) {
        CloseHandle(plat_audio_event);
        plat_audio_event = NULL;
    }
    if (aq_lock_ready) {
        EnterCriticalSection(&aq_lock);
        aq_head = aq_count = 0;
        LeaveCriticalSection(&aq_lock);
    }
    plat_audio_done = nullptr;
}

// ---- Files and folders ---------------------------------------------------------------------------------------
// A path with a trailing separator names a folder: _stat refuses the separator.
static int plat_stat_path(const char *path, struct _stat64 *st)
{
    char buf[MAX_PATH + 1];
    size_t n = strlen(path);
    int trailing = n > 1 && (path[n - 1] == '/' || path[n - 1] == '\\') && path[n - 2] != ':';
    if (!trailing) return _stat64(path, st);
    if (n > MAX_PATH) return -1;
    memcpy(buf, path, n - 1);
    buf[n - 1] = 0;
    if (_stat64(buf, st) != 0) return -1;
    if (!(st->st_mode & _S_IFDIR)) {
        errno = ENOTDIR;
        return -1;
    }
    return 0;
}

// Identity of what path names: the volume and the file index. Where the file cannot be
// opened for that, its full path stands for it.
static void plat_identity(const char *path, uint64_t id[2])
{
    HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (h != INVALID_HANDLE_VALUE) {
        BY_HANDLE_FILE_INFORMATION fi;
        int ok = GetFileInformationByHandle(h, &fi);
        CloseHandle(h);
        if (ok) {
            id[0] = fi.dwVolumeSerialNumber;
            id[1] = ((uint64_t)fi.nFileIndexHigh << 32) | fi.nFileIndexLow;
            return;
        }
    }
    char full[MAX_PATH * 2];
    DWORD n = GetFullPathNameA(path, sizeof(full), full, NULL);
    uint64_t hash = 14695981039346656037ull;  // FNV-1a over the lower-cased full path
    for (DWORD i = 0; i < n && i < sizeof(full); i++) {
        unsigned char c = (unsigned char)full[i];
        if (c == '\\') c = '/';
        if (c >= 'A' && c <= 'Z') c = (unsigned char)(c - 'A' + 'a');
        hash = (hash ^ c) * 1099511628211ull;
    }
    id[0] = ~(uint64_t)0;
    id[1] = hash;
}

int plat_stat(const char *path, plat_fileinfo *info)
{
    struct _stat64 st;
    if (!path || !path[0] || plat_stat_path(path, &st) != 0) return 0;
    if (info) {
        info->kind = (st.st_mode & _S_IFREG) ? PLAT_FILE : (st.st_mode & _S_IFDIR) ? PLAT_DIR : PLAT_OTHER;
        DWORD attr = GetFileAttributesA(path);
        info->islink = attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_REPARSE_POINT);
        info->size = (uint64_t)st.st_size;
        plat_identity(path, info->id);
    }
    return 1;
}

// A directory stream on the runtime's find calls: the find handle (or -1), the current
// find record, the current entry's name (null until the first entry is returned) and
// the pattern it was opened with.
struct plat_dir {
    intptr_t handle;
    struct _finddata_t rec;
    const char *name;
    char pattern[1];
};

plat_dir *plat_opendir(const char *path)
{
    if (!path || !path[0]) {
        errno = EINVAL;
        return nullptr;
    }
    size_t n = strlen(path);
    plat_dir *d = (plat_dir *)malloc(sizeof(plat_dir) + n + 2);
    if (!d) {
        errno = ENOMEM;
        return nullptr;
    }
    memcpy(d->pattern, path, n);
    if (path[n - 1] == '/' || path[n - 1] == '\\') {
        memcpy(d->pattern + n, "*", 2);
    } else {
        memcpy(d->pattern + n, "/*", 3);
    }
    d->name = nullptr;
    d->handle = _findfirst(d->pattern, &d->rec);
    if (d->handle == -1) {
        int e = errno;
        free(d);
        errno = e;
        return nullptr;
    }
    return d;
}

const char *plat_readdir(plat_dir *d)
{
    if (!d) {
        errno = EBADF;
        return nullptr;
    }
    if (d->handle == -1) return nullptr;
    if (!d->name) {
        // The first entry was found by the find that opened the stream.
        d->name = d->rec.name;
        return d->name;
    }
    if (_findnext(d->handle, &d->rec) != 0) return nullptr;
    return d->name;
}

void plat_rewinddir(plat_dir *d)
{
    if (!d) return;
    if (d->handle != -1) _findclose(d->handle);
    d->handle = _findfirst(d->pattern, &d->rec);
    d->name = nullptr;
}

int plat_closedir(plat_dir *d)
{
    if (!d) {
        errno = EBADF;
        return -1;
    }
    int r = d->handle != -1 ? _findclose(d->handle) : 0;
    free(d);
    return r == 0 ? 0 : -1;
}

int plat_chdir(const char *path) { return path && _chdir(path) == 0 ? 0 : -1; }

int plat_getcwd(char *buf, int size) { return buf && size > 0 && _getcwd(buf, size) != nullptr; }

int plat_mkdir(const char *path) { return path && _mkdir(path) == 0 ? 0 : -1; }

static void plat_seterrno(DWORD err)
{
    switch (err) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: errno = ENOENT; break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: errno = EACCES; break;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS: errno = EEXIST; break;
    default: errno = EIO; break;
    }
}

int plat_rename(const char *from, const char *to)
{
    if (!from || !to) return -1;
    if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING)) return 0;
    plat_seterrno(GetLastError());
    return -1;
}

int plat_truncate(const char *path, uint64_t size)
{
    HANDLE h = path ? CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, NULL)
                    : INVALID_HANDLE_VALUE;
    if (h == INVALID_HANDLE_VALUE) {
        plat_seterrno(GetLastError());
        return -1;
    }
    LARGE_INTEGER pos;
    pos.QuadPart = (LONGLONG)size;
    int ok = SetFilePointerEx(h, pos, NULL, FILE_BEGIN) && SetEndOfFile(h);
    if (!ok) plat_seterrno(GetLastError());
    CloseHandle(h);
    return ok ? 0 : -1;
}

uint32_t plat_mem_usable(void *block) { return block ? (uint32_t)_msize(block) : 0; }

static std::string program_dir(void)
{
    char path[MAX_PATH + 1];
    DWORD n = GetModuleFileNameA(NULL, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return "";
    path[n] = 0;
    for (DWORD i = 0; i < n; i++)
        if (path[i] == '\\') path[i] = '/';
    char *slash = strrchr(path, '/');
    if (!slash) return "";
    slash[1] = 0;
    return path;
}

const char *plat_program_dir(void)
{
    static const std::string dir = program_dir();
    return dir.c_str();
}
