#include "app/main_window.h"

#include "app/program.h"
#include "app/start_button.h"
#include "system/fatal.h"
#include "system/texts.h"

namespace {

constexpr int kMainWindowWidth = 244;  // outer frame, pixels
constexpr int kMainWindowHeight = 240;
constexpr WindowRect kStartButtonRect{72, 16, 80, 32};  // in the client area
constexpr WindowRect kLogBoxRect{16, 64, 200, 136};

WindowHandle g_mainWindow = nullptr;  // null once the window is gone
WindowHandle g_startButton = nullptr;
WindowHandle g_logBox = nullptr;
std::string g_startButtonCaption;  // the caption as the program set it, read back by the handlers
bool g_destroyPending = false;     // DestroyMainWindow asked, the request not yet carried out

// A handle stays set until the main window's last message, so a control of a
// window being destroyed still counts as there while its handlers run.
bool ControlAlive(WindowHandle control) {
    return control != nullptr && PlatformIsWindow(control);
}

bool BelongsToMainWindow(WindowHandle window) {
    for (; window != nullptr; window = PlatformGetParent(window)) {
        if (window == g_mainWindow) return true;
    }
    return false;
}

// Moves the keyboard focus along the controls in their tab order.
void MoveFocus(bool backwards) {
    const WindowHandle tabOrder[] = {g_startButton, g_logBox};
    constexpr int count = 2;
    const WindowHandle focus = PlatformGetFocus();
    int next = backwards ? count - 1 : 0;
    for (int i = 0; i < count; ++i) {
        if (tabOrder[i] == focus) next = (i + (backwards ? count - 1 : 1)) % count;
    }
    PlatformSetFocus(tabOrder[next]);
}

void HandleCommand(uintptr_t wParam, intptr_t lParam) {
    const uint32_t notification = static_cast<uint32_t>(wParam >> 16) & 0xFFFF;
    if (notification == kNotifyButtonClicked &&
        lParam == reinterpret_cast<intptr_t>(g_startButton)) {
        OnStartButtonClick();
    }
}

void HandleDestroyRequest() {
    if (!g_destroyPending) return;
    g_destroyPending = false;
    PlatformDestroyWindow(g_mainWindow);
}

void HandleFinalMessage() {
    g_mainWindow = nullptr;
    g_startButton = nullptr;
    g_logBox = nullptr;
    g_destroyPending = false;
    HandleMainWindowGone();
}

}  // namespace

bool MainWindowProc(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    switch (message) {
        case kMsgCommand: HandleCommand(wParam, lParam); return true;
        case kMsgDestroyRequest: HandleDestroyRequest(); return true;
        case kMsgClose: PlatformDestroyWindow(window); return true;
        case kMsgDestroy: OnMainWindowDestroying(); return true;
        case kMsgNcDestroy: HandleFinalMessage(); return false;  // the system frees its part too
    }
    return false;
}

void CreateMainWindow() {
    const ScreenSize screen = PlatformGetScreenSize();
    const WindowRect frame{(screen.width - kMainWindowWidth) / 2, (screen.height - kMainWindowHeight) / 2,
                           kMainWindowWidth, kMainWindowHeight};
    g_mainWindow = PlatformCreateWindow(kMainWindowKind, nullptr, kTextTitle, frame);
    if (g_mainWindow == nullptr) FatalErrorReport(0, kTextMainWindowFailed);
    const WindowRect actual = PlatformGetWindowRect(g_mainWindow);
    if (actual.width != kMainWindowWidth || actual.height != kMainWindowHeight) {
        PlatformMoveWindow(g_mainWindow, frame);
    }

    g_startButtonCaption = kTextStart;
    g_startButton = PlatformCreateWindow(kPushButtonKind, g_mainWindow, kTextStart, kStartButtonRect);
    g_logBox = PlatformCreateWindow(kLogEditKind, g_mainWindow, "", kLogBoxRect);
    if (g_startButton == nullptr || g_logBox == nullptr) FatalErrorReport(0, kTextMainWindowFailed);
    PlatformSetSelection(g_logBox, 0, 0);
    PlatformScrollCaret(g_logBox);

    PlatformShowWindow(g_startButton, false);
    PlatformShowWindow(g_logBox, false);
    PlatformShowWindow(g_mainWindow, true);
}

bool MainWindowExists() {
    return ControlAlive(g_mainWindow);
}

void AppendToLogBox(std::string_view text) {
    if (!ControlAlive(g_logBox)) FatalErrorReport(0, kTextWindowGone);
    // The end comes from the length alone: copying the whole log to find it
    // would make every append slower the longer the program runs.
    const std::size_t end = PlatformGetTextLength(g_logBox);
    PlatformSetSelection(g_logBox, end, end);
    PlatformScrollCaret(g_logBox);
    PlatformReplaceSelection(g_logBox, text);
}

std::string GetStartButtonCaption() {
    if (!ControlAlive(g_startButton)) FatalErrorReport(0, kTextReadPropertyGone);
    return g_startButtonCaption;
}

void SetStartButtonCaption(std::string_view text) {
    if (!ControlAlive(g_startButton)) FatalErrorReport(0, kTextWritePropertyGone);
    g_startButtonCaption = text;
    PlatformSetWindowText(g_startButton, text);
}

void DestroyMainWindow() {
    if (!MainWindowExists()) FatalErrorReport(0, kTextWindowGone);
    g_destroyPending = true;
    PlatformPostMessage(g_mainWindow, kMsgDestroyRequest, 0, 0);
}

bool HandleDialogKey(const MessageRecord& message) {
    if (message.message != kMsgKeyDown || !BelongsToMainWindow(message.window)) return false;
    if (PlatformIsKeyDown(kKeyControl) || PlatformIsKeyDown(kKeyAlt)) return false;
    const bool shift = PlatformIsKeyDown(kKeyShift);
    switch (message.wParam) {
        case kKeyTab:
            MoveFocus(shift);
            return true;
        case kKeyEscape:
            if (shift) return false;
            PlatformSendMessage(g_mainWindow, kMsgClose, 0, 0);
            return true;
    }
    return false;
}
