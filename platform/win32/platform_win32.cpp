// The real system: Win32. Texts cross this boundary as code page 936 bytes
// and are shown through the wide-character API, so they read correctly
// whatever code page the user's system runs with.
#include <windows.h>

#include <float.h>

#include <string>
#include <type_traits>

#include "platform/platform.h"

static_assert(kMsgDestroy == WM_DESTROY && kMsgClose == WM_CLOSE && kMsgNcDestroy == WM_NCDESTROY);
static_assert(kMsgKeyDown == WM_KEYDOWN && kMsgCommand == WM_COMMAND);
static_assert(kMsgMouseMove == WM_MOUSEMOVE && kMsgLeftButtonDown == WM_LBUTTONDOWN &&
              kMsgLeftButtonUp == WM_LBUTTONUP && kMsgRightButtonDown == WM_RBUTTONDOWN &&
              kMsgRightButtonUp == WM_RBUTTONUP && kMsgMouseWheel == WM_MOUSEWHEEL);
static_assert(kMsgDestroyRequest == WM_APP + 0x65);
static_assert(kNotifyButtonClicked == BN_CLICKED && kHookMouseLowLevel == WH_MOUSE_LL);
static_assert(kKeyEventKeyUp == KEYEVENTF_KEYUP && kSearchSystemFolderOnly == LOAD_LIBRARY_SEARCH_SYSTEM32);
static_assert(kKeyTab == VK_TAB && kKeyShift == VK_SHIFT && kKeyControl == VK_CONTROL && kKeyAlt == VK_MENU &&
              kKeyEscape == VK_ESCAPE && kKeyLeftWindows == VK_LWIN && kKeyD == 'D');
// The program's hook procedure is handed to the system as a HOOKPROC.
static_assert(sizeof(LRESULT) == sizeof(intptr_t) && std::is_signed_v<LRESULT>);
static_assert(sizeof(WPARAM) == sizeof(uintptr_t) && std::is_unsigned_v<WPARAM>);
static_assert(sizeof(LPARAM) == sizeof(intptr_t) && std::is_signed_v<LPARAM>);
static_assert(sizeof(HookHandle) == sizeof(HHOOK) && sizeof(WindowHandle) == sizeof(HWND));

namespace {

constexpr wchar_t kMainWindowClass[] = L"RightClickDesktopMainWindow";
constexpr UINT kCodePage = 936;
constexpr int kStartButtonId = 1;
constexpr int kLogBoxId = 2;

HANDLE g_processHeap = nullptr;
MSG g_message;          // the message PlatformGetMessage retrieved last
HWND g_logBox = nullptr;  // painted black on white although read-only

HWND ToHwnd(WindowHandle window) { return reinterpret_cast<HWND>(window); }
WindowHandle ToHandle(HWND window) { return reinterpret_cast<WindowHandle>(window); }

std::wstring WideFromText(std::string_view text) {
    if (text.empty()) return std::wstring();
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(kCodePage, 0, text.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(kCodePage, 0, text.data(), size, wide.data(), length);
    return wide;
}

LRESULT PaintLogBox(HDC context) {
    SetTextColor(context, RGB(0, 0, 0));
    SetBkColor(context, RGB(255, 255, 255));
    return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
}

LRESULT CALLBACK MainWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CTLCOLORSTATIC:  // a read-only edit asks with this one
        case WM_CTLCOLOREDIT:
            if (reinterpret_cast<HWND>(lParam) == g_logBox) return PaintLogBox(reinterpret_cast<HDC>(wParam));
            break;
    }
    if (MainWindowProc(ToHandle(window), message, wParam, lParam)) return 0;
    return DefWindowProcW(window, message, wParam, lParam);
}

bool RegisterMainWindowClass(HINSTANCE instance) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = MainWindowProcedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kMainWindowClass;
    return RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

void SetIcons(HWND window, HINSTANCE instance) {
    const struct {
        WPARAM which;
        int width;
        int height;
    } icons[] = {{ICON_BIG, SM_CXICON, SM_CYICON}, {ICON_SMALL, SM_CXSMICON, SM_CYSMICON}};
    for (const auto& icon : icons) {
        HANDLE image = LoadImageW(instance, L"DEFAULT_ICON", IMAGE_ICON, GetSystemMetrics(icon.width),
                                  GetSystemMetrics(icon.height), 0);
        SendMessageW(window, WM_SETICON, icon.which, reinterpret_cast<LPARAM>(image));
    }
}

}  // namespace

void* PlatformAllocate(std::size_t bytes) {
    if (g_processHeap == nullptr) g_processHeap = GetProcessHeap();
    return HeapAlloc(g_processHeap, 0, bytes);
}

void PlatformRelease(void* block) {
    if (block != nullptr) HeapFree(g_processHeap, 0, block);
}

void PlatformResetFloatingPoint() {
    _fpreset();
    // Round to nearest, every exception masked and, on the x87 unit of
    // 32-bit builds, a 64-bit significand (the C library's default is 53).
#if defined(__i386__)
    _controlfp(_RC_NEAR | _MCW_EM | _PC_64, _MCW_RC | _MCW_EM | _MCW_PC);
#else
    _controlfp(_RC_NEAR | _MCW_EM, _MCW_RC | _MCW_EM);
#endif
}

void PlatformEnterProgramFolder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return;
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    const std::size_t cut = path.find_last_of(L'\\');
    if (cut == std::wstring::npos) return;
    path.resize(cut);
    SetCurrentDirectoryW(path.c_str());
}

void PlatformShowErrorBox(const char* caption, const char* text) {
    MessageBoxW(nullptr, WideFromText(text).c_str(), WideFromText(caption).c_str(), MB_OK | MB_ICONERROR);
}

void PlatformExitProcess(int exitCode) {
    ExitProcess(static_cast<UINT>(exitCode));
}

LibraryHandle PlatformLoadLibrary(const char* name, uint32_t searchFlags) {
    HMODULE module = LoadLibraryExA(name, nullptr, searchFlags);
    if (module == nullptr && GetLastError() == ERROR_INVALID_PARAMETER &&
        searchFlags == LOAD_LIBRARY_SEARCH_SYSTEM32) {
        // A system without the search flags (Windows 7 before its 2011
        // loader update): name the system folder explicitly instead.
        char path[MAX_PATH + 64];
        const UINT length = GetSystemDirectoryA(path, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            lstrcpynA(path + length, "\\", 2);
            lstrcpynA(path + length + 1, name, 63);
            module = LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        }
    }
    return reinterpret_cast<LibraryHandle>(module);
}

void* PlatformFindEntry(LibraryHandle library, const char* entryName) {
    return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(library), entryName));
}

void PlatformFreeLibrary(LibraryHandle library) {
    FreeLibrary(reinterpret_cast<HMODULE>(library));
}

// Each bound entry is called through a pointer of its exact declared type:
// decltype names the system's own declaration without importing it.
HookHandle PlatformCallSetWindowsHookExA(void* address, int idHook, HookProcedure procedure, void* module,
                                         uint32_t threadId) {
    const auto function = reinterpret_cast<decltype(&::SetWindowsHookExA)>(address);
    return reinterpret_cast<HookHandle>(function(idHook, reinterpret_cast<HOOKPROC>(procedure),
                                                 static_cast<HINSTANCE>(module), threadId));
}

bool PlatformCallUnhookWindowsHookEx(void* address, HookHandle hook) {
    const auto function = reinterpret_cast<decltype(&::UnhookWindowsHookEx)>(address);
    return function(reinterpret_cast<HHOOK>(hook)) != FALSE;
}

intptr_t PlatformCallCallNextHookEx(void* address, HookHandle hook, int nCode, uintptr_t wParam, intptr_t lParam) {
    const auto function = reinterpret_cast<decltype(&::CallNextHookEx)>(address);
    return function(reinterpret_cast<HHOOK>(hook), nCode, wParam, lParam);
}

void PlatformCallGetLocalTime(void* address, LocalTimeRecord* record) {
    const auto function = reinterpret_cast<decltype(&::GetLocalTime)>(address);
    SYSTEMTIME now{};
    function(&now);
    *record = LocalTimeRecord{now.wYear, now.wMonth,  now.wDayOfWeek, now.wDay,
                              now.wHour, now.wMinute, now.wSecond,    now.wMilliseconds};
}

uint32_t PlatformLastErrorCode() {
    return GetLastError();
}

void PlatformKeyEvent(uint8_t virtualKey, uint32_t flags) {
    keybd_event(virtualKey, 0, flags, 0);
}

ScreenSize PlatformGetScreenSize() {
    return {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

WindowHandle PlatformCreateWindow(WindowKind kind, WindowHandle parent, std::string_view text, WindowRect rect) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    const std::wstring wideText = WideFromText(text);
    HWND window = nullptr;
    switch (kind) {
        case kMainWindowKind:
            if (!RegisterMainWindowClass(instance)) return nullptr;
            window = CreateWindowExW(0, kMainWindowClass, wideText.c_str(),
                                     WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN, rect.left,
                                     rect.top, rect.width, rect.height, nullptr, nullptr, instance, nullptr);
            if (window != nullptr) SetIcons(window, instance);
            break;
        case kPushButtonKind:
            window = CreateWindowExW(0, L"BUTTON", wideText.c_str(),
                                     BS_PUSHBUTTON | BS_CENTER | BS_VCENTER | BS_MULTILINE | WS_CHILD |
                                         WS_CLIPSIBLINGS | WS_TABSTOP,
                                     rect.left, rect.top, rect.width, rect.height, ToHwnd(parent),
                                     reinterpret_cast<HMENU>(static_cast<INT_PTR>(kStartButtonId)), instance, nullptr);
            break;
        case kLogEditKind:
            // No horizontal scrolling and no scroll bars: long lines wrap.
            window = CreateWindowExW(0, L"EDIT", wideText.c_str(),
                                     ES_LEFT | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN | ES_READONLY |
                                         WS_CHILD | WS_CLIPSIBLINGS | WS_TABSTOP | WS_BORDER,
                                     rect.left, rect.top, rect.width, rect.height, ToHwnd(parent),
                                     reinterpret_cast<HMENU>(static_cast<INT_PTR>(kLogBoxId)), instance, nullptr);
            if (window != nullptr) {
                SendMessageW(window, EM_LIMITTEXT, 0, 0);  // 0: the largest the control allows
                g_logBox = window;
            }
            break;
    }
    if (window != nullptr) SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return ToHandle(window);
}

WindowRect PlatformGetWindowRect(WindowHandle window) {
    RECT rect{};
    GetWindowRect(ToHwnd(window), &rect);
    return {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

void PlatformMoveWindow(WindowHandle window, WindowRect rect) {
    MoveWindow(ToHwnd(window), rect.left, rect.top, rect.width, rect.height, TRUE);
}

void PlatformShowWindow(WindowHandle window, bool activate) {
    ShowWindow(ToHwnd(window), activate ? SW_SHOW : SW_SHOWNA);
}

bool PlatformIsWindow(WindowHandle window) {
    return IsWindow(ToHwnd(window)) != FALSE;
}

void PlatformDestroyWindow(WindowHandle window) {
    DestroyWindow(ToHwnd(window));
}

WindowHandle PlatformGetParent(WindowHandle window) {
    return ToHandle(GetParent(ToHwnd(window)));
}

void PlatformSetWindowText(WindowHandle window, std::string_view text) {
    SetWindowTextW(ToHwnd(window), WideFromText(text).c_str());
}

std::size_t PlatformGetTextLength(WindowHandle window) {
    return static_cast<std::size_t>(GetWindowTextLengthW(ToHwnd(window)));
}

void PlatformSetSelection(WindowHandle edit, std::size_t start, std::size_t end) {
    SendMessageW(ToHwnd(edit), EM_SETSEL, start, static_cast<LPARAM>(end));
}

void PlatformScrollCaret(WindowHandle edit) {
    SendMessageW(ToHwnd(edit), EM_SCROLLCARET, 0, 0);
}

void PlatformReplaceSelection(WindowHandle edit, std::string_view text) {
    const std::wstring wide = WideFromText(text);
    SendMessageW(ToHwnd(edit), EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(wide.c_str()));
}

WindowHandle PlatformGetFocus() {
    return ToHandle(GetFocus());
}

void PlatformSetFocus(WindowHandle window) {
    SetFocus(ToHwnd(window));
}

bool PlatformIsKeyDown(int virtualKey) {
    return GetKeyState(virtualKey) < 0;  // as of the message being handled
}

bool PlatformGetMessage(MessageRecord* message) {
    // 0 is the quit message; -1 (only possible with a bad filter) ends the loop too.
    if (GetMessageW(&g_message, nullptr, 0, 0) <= 0) return false;
    *message = {ToHandle(g_message.hwnd), g_message.message, g_message.wParam, g_message.lParam};
    return true;
}

void PlatformDispatchMessage() {
    TranslateMessage(&g_message);
    DispatchMessageW(&g_message);
}

void PlatformPostMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    PostMessageW(ToHwnd(window), message, wParam, lParam);
}

void PlatformSendMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    SendMessageW(ToHwnd(window), message, wParam, lParam);
}

void PlatformPostQuitMessage(int exitCode) {
    PostQuitMessage(exitCode);
}
