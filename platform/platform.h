// The one seam between the program and the operating system.
//
// Everything the program decides lives in app/, system/ and mouse/ and talks
// to the system only through the routines below. Two implementations exist:
// platform/win32 (the real one) and platform/sim (a simulated system for the
// host tests). No system header or type appears here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// Calling convention of system callbacks: stdcall on 32-bit Windows, the
// platform default everywhere else (where it is the only convention).
#if defined(_WIN32) && defined(__i386__)
#define SYSTEM_CALLBACK __attribute__((stdcall))
#else
#define SYSTEM_CALLBACK
#endif

struct WindowTag;
struct HookTag;
struct LibraryTag;
using WindowHandle = WindowTag*;    // a window or control; null for none
using HookHandle = HookTag*;        // an installed hook; null for none
using LibraryHandle = LibraryTag*;  // a loaded library; null for none

// A low-level mouse hook procedure: (nCode, wParam, lParam) -> LRESULT.
using HookProcedure = intptr_t(SYSTEM_CALLBACK*)(int nCode, uintptr_t wParam, intptr_t lParam);

// One reading of the local clock: the eight fields of the system's time
// record, in its order, each widened to 32 bits.
struct LocalTimeRecord {
    int32_t year;
    int32_t month;
    int32_t dayOfWeek;
    int32_t day;
    int32_t hour;
    int32_t minute;
    int32_t second;
    int32_t milliseconds;
};

struct WindowRect {
    int left;
    int top;
    int width;
    int height;
};

struct ScreenSize {
    int width;
    int height;
};

// The message just retrieved by PlatformGetMessage.
struct MessageRecord {
    WindowHandle window;
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
};

// Message and key numbers the program's decisions use. They are the
// system's own values (the Windows implementation checks that at compile
// time).
constexpr uint32_t kMsgDestroy = 0x0002;
constexpr uint32_t kMsgClose = 0x0010;
constexpr uint32_t kMsgNcDestroy = 0x0082;
constexpr uint32_t kMsgKeyDown = 0x0100;
constexpr uint32_t kMsgCommand = 0x0111;
constexpr uint32_t kMsgMouseMove = 0x0200;
constexpr uint32_t kMsgLeftButtonDown = 0x0201;
constexpr uint32_t kMsgLeftButtonUp = 0x0202;
constexpr uint32_t kMsgRightButtonDown = 0x0204;
constexpr uint32_t kMsgRightButtonUp = 0x0205;
constexpr uint32_t kMsgMouseWheel = 0x020A;
constexpr uint32_t kMsgDestroyRequest = 0x8000 + 0x65;  // WM_APP + 0x65, private
constexpr uint32_t kNotifyButtonClicked = 0;             // BN_CLICKED
constexpr int kHookMouseLowLevel = 14;                   // WH_MOUSE_LL
constexpr uint32_t kKeyEventKeyUp = 0x0002;              // KEYEVENTF_KEYUP
constexpr uint32_t kSearchSystemFolderOnly = 0x00000800; // LOAD_LIBRARY_SEARCH_SYSTEM32
constexpr int kKeyTab = 0x09;
constexpr int kKeyShift = 0x10;
constexpr int kKeyControl = 0x11;
constexpr int kKeyAlt = 0x12;
constexpr int kKeyEscape = 0x1B;
constexpr int kKeyLeftWindows = 0x5B;
constexpr int kKeyD = 0x44;

// --- Memory: the process heap. Null when the system refuses.
void* PlatformAllocate(std::size_t bytes);
void PlatformRelease(void* block);

// --- Start-up and end.
void PlatformResetFloatingPoint();
void PlatformEnterProgramFolder();  // the program's folder becomes the current directory
void PlatformShowErrorBox(const char* caption, const char* text);  // code page 936 texts
[[noreturn]] void PlatformExitProcess(int exitCode);

// --- Libraries and the entries called through them. Each PlatformCall*
// calls `address` as a function of that entry's exact system signature.
LibraryHandle PlatformLoadLibrary(const char* name, uint32_t searchFlags);
void* PlatformFindEntry(LibraryHandle library, const char* entryName);
void PlatformFreeLibrary(LibraryHandle library);
HookHandle PlatformCallSetWindowsHookExA(void* address, int idHook, HookProcedure procedure,
                                         void* module, uint32_t threadId);
bool PlatformCallUnhookWindowsHookEx(void* address, HookHandle hook);
intptr_t PlatformCallCallNextHookEx(void* address, HookHandle hook, int nCode, uintptr_t wParam,
                                    intptr_t lParam);
void PlatformCallGetLocalTime(void* address, LocalTimeRecord* record);
uint32_t PlatformLastErrorCode();  // the calling thread's last system error

// --- Synthesised keyboard input: keybd_event(virtualKey, 0, flags, 0).
void PlatformKeyEvent(uint8_t virtualKey, uint32_t flags);

// --- Windows. Texts are code page 936 bytes; positions and lengths are in
// the control's own text units and only ever handed back to it.
enum WindowKind {
    kMainWindowKind,  // the top-level window; its messages go to MainWindowProc
    kPushButtonKind,
    kLogEditKind,
};
ScreenSize PlatformGetScreenSize();
WindowHandle PlatformCreateWindow(WindowKind kind, WindowHandle parent, std::string_view text,
                                  WindowRect rect);  // created hidden; null on failure
WindowRect PlatformGetWindowRect(WindowHandle window);
void PlatformMoveWindow(WindowHandle window, WindowRect rect);
void PlatformShowWindow(WindowHandle window, bool activate);
bool PlatformIsWindow(WindowHandle window);
void PlatformDestroyWindow(WindowHandle window);
WindowHandle PlatformGetParent(WindowHandle window);
void PlatformSetWindowText(WindowHandle window, std::string_view text);
std::size_t PlatformGetTextLength(WindowHandle window);
void PlatformSetSelection(WindowHandle edit, std::size_t start, std::size_t end);
void PlatformScrollCaret(WindowHandle edit);
void PlatformReplaceSelection(WindowHandle edit, std::string_view text);
WindowHandle PlatformGetFocus();
void PlatformSetFocus(WindowHandle window);
bool PlatformIsKeyDown(int virtualKey);

// --- Messages.
bool PlatformGetMessage(MessageRecord* message);  // false once the quit message is retrieved
void PlatformDispatchMessage();                     // translates and dispatches that message
void PlatformPostMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);
void PlatformSendMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);
void PlatformPostQuitMessage(int exitCode);

// Implemented by the program: the window procedure of the main window.
// Returns false for a message it leaves to the system's default handling.
bool MainWindowProc(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);
