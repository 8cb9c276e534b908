// The simulated system: just enough of a window system, hook chain, library
// loader, clock and keyboard for the program to run whole on the host, with
// every call visible to the tests. Written from what the program expects of
// the system, not from the system's sources.
#include <algorithm>
#include <cctype>
#include <cfenv>
#include <cstdio>
#include <cstdlib>
#include <deque>

#include "platform/platform.h"
#include "platform/sim/sim.h"

namespace {

// --- Memory. Plain integers only: these are used before any constructor runs.
std::size_t g_refuseFrom = 0;
std::size_t g_liveAllocations = 0;

// --- Libraries.
struct SimEntryRecord {
    std::string name;
    void* address;
};
struct SimLibraryRecord {
    std::string name;  // lower case, with extension
    std::vector<SimEntryRecord> entries;
    int loads;
};
std::vector<SimLibraryRecord> g_libraries;
std::vector<std::string> g_libraryCalls;

// --- Hooks.
struct SimHookRecord {
    HookHandle handle;
    HookProcedure procedure;
};
std::vector<SimHookRecord> g_hooks;  // newest first, like the system's chain
std::vector<SimHookCallRecord> g_hookCalls;
bool g_keepHookCallLog = true;
uintptr_t g_nextHookId = 0x1000;
bool g_failNextHookInstall = false;
uint32_t g_failNextHookError = 0;
uint32_t g_lastError = 0;
std::function<intptr_t(int, uintptr_t, intptr_t)> g_nextHookResult;
bool g_injecting = false;         // an injected event is on its way along the chain
std::size_t g_chainPosition = 0;  // the next hook that event reaches

// --- Keyboard, clock, start-up.
std::vector<SimKeyEventRecord> g_keyEvents;
LocalTimeRecord g_clock{2023, 4, 0, 23, 10, 0, 0, 42};
std::function<LocalTimeRecord()> g_clockFunction;
int g_clockReadings = 0;
int g_programFolderEntered = 0;
int g_floatingPointResets = 0;

// --- Windows and messages.
ScreenSize g_screen{1024, 768};
int g_frameErrorWidth = 0;
int g_frameErrorHeight = 0;
bool g_refuseWindow[3] = {};
std::vector<SimWindowRecord> g_windows;
WindowHandle g_focus = nullptr;
int g_delivered[0x10000];

struct SimQueuedRecord {
    MessageRecord message;
    SimModifiersRecord modifiers;
};
std::deque<SimQueuedRecord> g_queue;
SimQueuedRecord g_current{};
SimModifiersRecord g_keyState;
bool g_quitPosted = false;
int g_quitCode = -1;
std::function<bool()> g_user;

[[noreturn]] void SimFailure(const char* what) {
    std::fprintf(stderr, "simulated system: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

std::string NormalisedLibraryName(const char* name) {
    std::string result(name);
    for (char& c : result) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (result.find('.') == std::string::npos) result += ".dll";
    return result;
}

SimLibraryRecord* FindLibrary(const std::string& name) {
    const std::string wanted = NormalisedLibraryName(name.c_str());
    for (SimLibraryRecord& library : g_libraries) {
        if (library.name == wanted) return &library;
    }
    return nullptr;
}

std::size_t IndexOf(WindowHandle window) {
    return reinterpret_cast<uintptr_t>(window) - 1;
}

SimWindowRecord* Live(WindowHandle window) {
    const std::size_t index = IndexOf(window);
    if (window == nullptr || index >= g_windows.size() || !g_windows[index].alive) return nullptr;
    return &g_windows[index];
}

// The system functions the program binds by name.
HookHandle SYSTEM_CALLBACK SimSetWindowsHookExA(int idHook, HookProcedure procedure, void* module, uint32_t threadId) {
    (void)module;
    (void)threadId;
    HookHandle handle = nullptr;
    if (g_failNextHookInstall || idHook != kHookMouseLowLevel || procedure == nullptr) {
        g_failNextHookInstall = false;
        g_lastError = g_failNextHookError != 0 ? g_failNextHookError : 87;
    } else {
        handle = reinterpret_cast<HookHandle>(g_nextHookId++);
        g_hooks.insert(g_hooks.begin(), SimHookRecord{handle, procedure});
        if (g_injecting) ++g_chainPosition;
    }
    g_hookCalls.push_back({"SetWindowsHookExA", handle, idHook, 0, 0, procedure, handle != nullptr});
    return handle;
}

int SYSTEM_CALLBACK SimUnhookWindowsHookEx(HookHandle hook) {
    auto found = std::find_if(g_hooks.begin(), g_hooks.end(), [&](const SimHookRecord& h) { return h.handle == hook; });
    const bool removed = found != g_hooks.end();
    if (removed) {
        if (g_injecting && static_cast<std::size_t>(found - g_hooks.begin()) < g_chainPosition) --g_chainPosition;
        g_hooks.erase(found);
    } else {
        g_lastError = 1404;  // an invalid hook handle
    }
    g_hookCalls.push_back({"UnhookWindowsHookEx", hook, 0, 0, 0, nullptr, removed});
    return removed ? 1 : 0;
}

intptr_t SYSTEM_CALLBACK SimCallNextHookEx(HookHandle hook, int nCode, uintptr_t wParam, intptr_t lParam) {
    if (g_keepHookCallLog) g_hookCalls.push_back({"CallNextHookEx", hook, nCode, wParam, lParam, nullptr, false});
    if (g_injecting && g_chainPosition < g_hooks.size()) {
        const HookProcedure next = g_hooks[g_chainPosition++].procedure;
        return next(nCode, wParam, lParam);
    }
    return g_nextHookResult ? g_nextHookResult(nCode, wParam, lParam) : 0;
}

void SYSTEM_CALLBACK SimGetLocalTime(LocalTimeRecord* record) {
    ++g_clockReadings;
    if (g_clockFunction) g_clock = g_clockFunction();
    // Only the 16 bits the system's record has per field survive.
    int32_t* fields = &record->year;
    const int32_t* source = &g_clock.year;
    for (int i = 0; i < 8; ++i) fields[i] = static_cast<uint16_t>(source[i]);
}

void Deliver(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);

void DefaultWindowProc(WindowHandle window, uint32_t message) {
    if (message == kMsgClose) PlatformDestroyWindow(window);
}

void Deliver(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    const SimWindowRecord* record = Live(window);
    if (record == nullptr) return;
    if (record->kind == kMainWindowKind) {
        ++g_delivered[message & 0xFFFF];
        if (!MainWindowProc(window, message, wParam, lParam)) DefaultWindowProc(window, message);
        return;
    }
    // Controls: Space presses a focused button; the read-only edit ignores typing.
    if (record->kind == kPushButtonKind && message == kMsgKeyDown && wParam == ' ') {
        Deliver(record->parent, kMsgCommand, uintptr_t{kNotifyButtonClicked} << 16,
                reinterpret_cast<intptr_t>(window));
    }
}

void ResetLibraries() {
    g_libraries = {
        {"kernel32.dll", {{"GetLocalTime", reinterpret_cast<void*>(&SimGetLocalTime)}}, 0},
        {"gdi32.dll", {}, 0},
        {"user32.dll",
         {{"SetWindowsHookExA", reinterpret_cast<void*>(&SimSetWindowsHookExA)},
          {"UnhookWindowsHookEx", reinterpret_cast<void*>(&SimUnhookWindowsHookEx)},
          {"CallNextHookEx", reinterpret_cast<void*>(&SimCallNextHookEx)}},
         0},
        {"advapi32.dll", {}, 0},
        {"mpr.dll", {}, 0},
        {"shell32.dll", {}, 0},
    };
}

}  // namespace

// ---------------------------------------------------------------- the seam

void* PlatformAllocate(std::size_t bytes) {
    if (g_refuseFrom != 0 && bytes >= g_refuseFrom) return nullptr;
    void* block = std::malloc(bytes);
    if (block != nullptr) ++g_liveAllocations;
    return block;
}

void PlatformRelease(void* block) {
    if (block == nullptr) return;
    --g_liveAllocations;
    std::free(block);
}

void PlatformResetFloatingPoint() {
    std::fesetenv(FE_DFL_ENV);
    ++g_floatingPointResets;
}

void PlatformEnterProgramFolder() {
    ++g_programFolderEntered;
}

void PlatformShowErrorBox(const char* caption, const char* text) {
    std::fprintf(stderr, "[message box: %s]\n%s\n[end of message box]\n", caption, text);
    std::fflush(stderr);
}

void PlatformExitProcess(int exitCode) {
    // What the program asked of the loader, for tests that end here.
    std::fprintf(stderr, "library calls:");
    for (const std::string& call : g_libraryCalls) std::fprintf(stderr, " %s;", call.c_str());
    std::fprintf(stderr, "\n");
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(exitCode);
}

LibraryHandle PlatformLoadLibrary(const char* name, uint32_t searchFlags) {
    char flags[16];
    std::snprintf(flags, sizeof flags, "0x%X", searchFlags);
    g_libraryCalls.push_back(std::string("load ") + name + " " + flags);
    SimLibraryRecord* library = FindLibrary(name);
    if (library == nullptr) return nullptr;
    ++library->loads;
    return reinterpret_cast<LibraryHandle>(library - g_libraries.data() + 1);
}

void* PlatformFindEntry(LibraryHandle module, const char* entryName) {
    SimLibraryRecord& library = g_libraries.at(reinterpret_cast<uintptr_t>(module) - 1);
    g_libraryCalls.push_back("find " + library.name + " " + entryName);
    for (const SimEntryRecord& entry : library.entries) {
        if (entry.name == entryName) return entry.address;
    }
    return nullptr;
}

void PlatformFreeLibrary(LibraryHandle module) {
    SimLibraryRecord& library = g_libraries.at(reinterpret_cast<uintptr_t>(module) - 1);
    g_libraryCalls.push_back("free " + library.name);
    if (library.loads == 0) SimFailure("a library was freed more often than loaded");
    --library.loads;
}

HookHandle PlatformCallSetWindowsHookExA(void* address, int idHook, HookProcedure procedure, void* module,
                                         uint32_t threadId) {
    using Function = HookHandle(SYSTEM_CALLBACK*)(int, HookProcedure, void*, uint32_t);
    return reinterpret_cast<Function>(address)(idHook, procedure, module, threadId);
}

bool PlatformCallUnhookWindowsHookEx(void* address, HookHandle hook) {
    using Function = int(SYSTEM_CALLBACK*)(HookHandle);
    return reinterpret_cast<Function>(address)(hook) != 0;
}

intptr_t PlatformCallCallNextHookEx(void* address, HookHandle hook, int nCode, uintptr_t wParam, intptr_t lParam) {
    using Function = intptr_t(SYSTEM_CALLBACK*)(HookHandle, int, uintptr_t, intptr_t);
    return reinterpret_cast<Function>(address)(hook, nCode, wParam, lParam);
}

void PlatformCallGetLocalTime(void* address, LocalTimeRecord* record) {
    using Function = void(SYSTEM_CALLBACK*)(LocalTimeRecord*);
    reinterpret_cast<Function>(address)(record);
}

uint32_t PlatformLastErrorCode() {
    return g_lastError;
}

void PlatformKeyEvent(uint8_t virtualKey, uint32_t flags) {
    g_keyEvents.push_back({virtualKey, flags});
}

ScreenSize PlatformGetScreenSize() {
    return g_screen;
}

WindowHandle PlatformCreateWindow(WindowKind kind, WindowHandle parent, std::string_view text, WindowRect rect) {
    if (g_refuseWindow[kind]) return nullptr;
    if (kind != kMainWindowKind && Live(parent) == nullptr) return nullptr;
    if (kind == kMainWindowKind) {
        rect.width += g_frameErrorWidth;
        rect.height += g_frameErrorHeight;
    }
    g_windows.push_back(SimWindowRecord{kind, parent, std::string(text), rect, false, false, true, 0, 0, 0, 0});
    return reinterpret_cast<WindowHandle>(g_windows.size());
}

WindowRect PlatformGetWindowRect(WindowHandle window) {
    const SimWindowRecord* record = Live(window);
    return record != nullptr ? record->rect : WindowRect{};
}

void PlatformMoveWindow(WindowHandle window, WindowRect rect) {
    if (SimWindowRecord* record = Live(window)) {
        record->rect = rect;
        ++record->moves;
    }
}

void PlatformShowWindow(WindowHandle window, bool activate) {
    if (SimWindowRecord* record = Live(window)) {
        record->visible = true;
        record->activated = activate;
        if (activate) g_focus = window;
    }
}

bool PlatformIsWindow(WindowHandle window) {
    return Live(window) != nullptr;
}

void PlatformDestroyWindow(WindowHandle window) {
    if (Live(window) == nullptr) return;
    if (g_windows[IndexOf(window)].kind == kMainWindowKind) {
        Deliver(window, kMsgDestroy, 0, 0);
        for (SimWindowRecord& child : g_windows) {
            if (child.parent == window) child.alive = false;
        }
        Deliver(window, kMsgNcDestroy, 0, 0);
    }
    g_windows[IndexOf(window)].alive = false;
    if (Live(g_focus) == nullptr) g_focus = nullptr;
}

WindowHandle PlatformGetParent(WindowHandle window) {
    const SimWindowRecord* record = Live(window);
    return record != nullptr ? record->parent : nullptr;
}

void PlatformSetWindowText(WindowHandle window, std::string_view text) {
    if (SimWindowRecord* record = Live(window)) record->text = text;
}

std::size_t PlatformGetTextLength(WindowHandle window) {
    const SimWindowRecord* record = Live(window);
    return record != nullptr ? record->text.size() : 0;
}

void PlatformSetSelection(WindowHandle edit, std::size_t start, std::size_t end) {
    if (SimWindowRecord* record = Live(edit)) {
        record->selectionStart = std::min(start, record->text.size());
        record->selectionEnd = std::min(end, record->text.size());
    }
}

void PlatformScrollCaret(WindowHandle edit) {
    if (SimWindowRecord* record = Live(edit)) ++record->scrollCaretCount;
}

void PlatformReplaceSelection(WindowHandle edit, std::string_view text) {
    if (SimWindowRecord* record = Live(edit)) {
        const std::size_t start = std::min(record->selectionStart, record->selectionEnd);
        const std::size_t end = std::max(record->selectionStart, record->selectionEnd);
        record->text.replace(start, end - start, text);
        record->selectionStart = record->selectionEnd = start + text.size();
    }
}

WindowHandle PlatformGetFocus() {
    return g_focus;
}

void PlatformSetFocus(WindowHandle window) {
    if (Live(window) != nullptr) g_focus = window;
}

bool PlatformIsKeyDown(int virtualKey) {
    switch (virtualKey) {
        case kKeyShift: return g_keyState.shift;
        case kKeyControl: return g_keyState.control;
        case kKeyAlt: return g_keyState.alt;
    }
    return false;
}

bool PlatformGetMessage(MessageRecord* message) {
    for (;;) {
        if (!g_queue.empty()) {
            g_current = g_queue.front();
            g_queue.pop_front();
            g_keyState = g_current.modifiers;
            *message = g_current.message;
            return true;
        }
        if (g_quitPosted) {
            g_quitPosted = false;
            return false;
        }
        if (!g_user || !g_user()) SimFailure("the message loop would wait for input forever");
    }
}

void PlatformDispatchMessage() {
    const MessageRecord& m = g_current.message;
    Deliver(m.window, m.message, m.wParam, m.lParam);
}

void PlatformPostMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    g_queue.push_back({{window, message, wParam, lParam}, {}});
}

void PlatformSendMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    Deliver(window, message, wParam, lParam);
}

void PlatformPostQuitMessage(int exitCode) {
    g_quitPosted = true;
    g_quitCode = exitCode;
}

// ---------------------------------------------------------------- test control

void SimReset() {
    g_refuseFrom = 0;
    ResetLibraries();
    g_libraryCalls.clear();
    g_hooks.clear();
    g_hookCalls.clear();
    g_keepHookCallLog = true;
    g_failNextHookInstall = false;
    g_failNextHookError = 0;
    g_lastError = 0;
    g_nextHookResult = nullptr;
    g_injecting = false;
    g_chainPosition = 0;
    g_keyEvents.clear();
    g_clock = LocalTimeRecord{2023, 4, 0, 23, 10, 0, 0, 42};
    g_clockFunction = nullptr;
    g_clockReadings = 0;
    g_programFolderEntered = 0;
    g_floatingPointResets = 0;
    g_screen = {1024, 768};
    g_frameErrorWidth = g_frameErrorHeight = 0;
    std::fill(std::begin(g_refuseWindow), std::end(g_refuseWindow), false);
    g_windows.clear();
    g_focus = nullptr;
    std::fill(std::begin(g_delivered), std::end(g_delivered), 0);
    g_queue.clear();
    g_current = {};
    g_keyState = {};
    g_quitPosted = false;
    g_quitCode = -1;
    g_user = nullptr;
}

void SimRefuseAllocationsFrom(std::size_t bytes) { g_refuseFrom = bytes; }
std::size_t SimLiveAllocations() { return g_liveAllocations; }

std::vector<std::string>& SimLibraryCalls() { return g_libraryCalls; }

void SimRemoveLibrary(const std::string& name) {
    const std::string wanted = NormalisedLibraryName(name.c_str());
    std::erase_if(g_libraries, [&](const SimLibraryRecord& library) { return library.name == wanted; });
}

void SimRemoveEntry(const std::string& library, const std::string& entry) {
    if (SimLibraryRecord* record = FindLibrary(library)) {
        std::erase_if(record->entries, [&](const SimEntryRecord& e) { return e.name == entry; });
    }
}

int SimLoadedLibraryCount() {
    int loads = 0;
    for (const SimLibraryRecord& library : g_libraries) loads += library.loads;
    return loads;
}

std::vector<SimHookCallRecord>& SimHookCalls() { return g_hookCalls; }
std::size_t SimInstalledHookCount() { return g_hooks.size(); }
void SimKeepHookCallLog(bool keep) { g_keepHookCallLog = keep; }

void SimFailNextHookInstall(uint32_t errorCode) {
    g_failNextHookInstall = true;
    g_failNextHookError = errorCode;
}

void SimSetNextHookResult(std::function<intptr_t(int, uintptr_t, intptr_t)> result) {
    g_nextHookResult = std::move(result);
}

int SimInjectMouse(uint32_t message, intptr_t record) {
    if (g_hooks.empty()) return 0;
    g_injecting = true;
    g_chainPosition = 1;
    const HookProcedure first = g_hooks.front().procedure;
    first(0, message, record);
    const int called = static_cast<int>(g_chainPosition);
    g_injecting = false;
    g_chainPosition = 0;
    return called;
}

std::vector<SimKeyEventRecord>& SimKeyEvents() { return g_keyEvents; }

void SimSetLocalTime(const LocalTimeRecord& reading) {
    g_clock = reading;
    g_clockFunction = nullptr;
}
void SimSetClock(std::function<LocalTimeRecord()> clock) { g_clockFunction = std::move(clock); }
int SimClockReadings() { return g_clockReadings; }

void SimSetScreenSize(int width, int height) { g_screen = {width, height}; }

void SimSetFrameSizeError(int extraWidth, int extraHeight) {
    g_frameErrorWidth = extraWidth;
    g_frameErrorHeight = extraHeight;
}

void SimRefuseWindow(WindowKind kind) { g_refuseWindow[kind] = true; }

WindowHandle SimFindWindow(WindowKind kind) {
    for (std::size_t i = g_windows.size(); i > 0; --i) {
        if (g_windows[i - 1].kind == kind) return reinterpret_cast<WindowHandle>(i);
    }
    return nullptr;
}

const SimWindowRecord& SimWindow(WindowHandle window) { return g_windows.at(IndexOf(window)); }
SimWindowRecord& SimMutableWindow(WindowHandle window) { return g_windows.at(IndexOf(window)); }
WindowHandle SimFocus() { return g_focus; }
int SimDelivered(uint32_t message) { return g_delivered[message & 0xFFFF]; }

void SimSetUser(std::function<bool()> user) { g_user = std::move(user); }

void SimPressKey(int virtualKey, SimModifiersRecord modifiers) {
    WindowHandle target = g_focus != nullptr ? g_focus : SimFindWindow(kMainWindowKind);
    g_queue.push_back({{target, kMsgKeyDown, static_cast<uintptr_t>(virtualKey), 0}, modifiers});
}

void SimClickWithMouse(WindowHandle button) {
    SimInjectMouse(kMsgLeftButtonDown);
    SimInjectMouse(kMsgLeftButtonUp);
    if (const SimWindowRecord* record = Live(button)) {
        PlatformPostMessage(record->parent, kMsgCommand, uintptr_t{kNotifyButtonClicked} << 16,
                            reinterpret_cast<intptr_t>(button));
    }
}

void SimCloseBox() {
    PlatformPostMessage(SimFindWindow(kMainWindowKind), kMsgClose, 0, 0);
}

void SimPost(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    PlatformPostMessage(window, message, wParam, lParam);
}

int SimQuitCode() { return g_quitCode; }
bool SimQuitPosted() { return g_quitPosted; }
std::size_t SimPendingMessages() { return g_queue.size(); }
int SimProgramFolderEntered() { return g_programFolderEntered; }
int SimFloatingPointResets() { return g_floatingPointResets; }
