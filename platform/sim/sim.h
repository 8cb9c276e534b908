// Control of the simulated system, for the host tests: they set what the
// system will answer, play the user, and read what the program did.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"

// Back to a fresh system: no windows, no hooks, no messages, empty logs,
// every library present, the default screen and clock, no refusals.
void SimReset();

// --- Memory.
void SimRefuseAllocationsFrom(std::size_t bytes);  // 0: refuse none
std::size_t SimLiveAllocations();                  // blocks allocated and not yet released

// --- Libraries: every call the program made, e.g. "load User32.dll 0x800",
// "find User32.dll SetWindowsHookExA", "free Gdi32.dll".
std::vector<std::string>& SimLibraryCalls();
void SimRemoveLibrary(const std::string& name);
void SimRemoveEntry(const std::string& library, const std::string& entry);
int SimLoadedLibraryCount();  // loads not yet freed

// --- Hooks.
struct SimHookCallRecord {
    std::string call;  // "SetWindowsHookExA", "UnhookWindowsHookEx" or "CallNextHookEx"
    HookHandle hook;
    int code;          // idHook or nCode
    uintptr_t wParam;
    intptr_t lParam;
    HookProcedure procedure;
    bool result;       // of UnhookWindowsHookEx
};
std::vector<SimHookCallRecord>& SimHookCalls();
void SimKeepHookCallLog(bool keep);  // off for runs of millions of events
std::size_t SimInstalledHookCount();
void SimFailNextHookInstall(uint32_t errorCode);
// What CallNextHookEx answers for an event; by default 0.
void SimSetNextHookResult(std::function<intptr_t(int nCode, uintptr_t wParam, intptr_t lParam)> result);
// A mouse event as the system delivers it: to every installed low-level
// mouse hook, newest first, stopping at the first that does not pass it on.
// Returns the number of hook procedures that were called.
int SimInjectMouse(uint32_t message, intptr_t record = 0);
// Only CallNextHookEx decides whether the next hook is reached; the sim's
// chain is the installed hooks, so a procedure that forwards reaches them all.

// --- Keyboard output of the program: (virtual key, flags) in order.
struct SimKeyEventRecord {
    uint8_t key;
    uint32_t flags;
    bool operator==(const SimKeyEventRecord&) const = default;
};
std::vector<SimKeyEventRecord>& SimKeyEvents();

// --- Clock: the reading GetLocalTime gives from now on, fixed or from a
// function called at each reading.
void SimSetLocalTime(const LocalTimeRecord& reading);
void SimSetClock(std::function<LocalTimeRecord()> clock);
int SimClockReadings();  // how many times GetLocalTime was called

// --- Screen and windows.
void SimSetScreenSize(int width, int height);
void SimSetFrameSizeError(int extraWidth, int extraHeight);  // the system's first frame is off by this
void SimRefuseWindow(WindowKind kind);

struct SimWindowRecord {
    WindowKind kind;
    WindowHandle parent;
    std::string text;  // code page 936 bytes
    WindowRect rect;
    bool visible;
    bool activated;
    bool alive;
    std::size_t selectionStart;
    std::size_t selectionEnd;
    int moves;  // how often the window was moved or resized
    int scrollCaretCount;
};
WindowHandle SimFindWindow(WindowKind kind);  // the most recent window of that kind, dead or alive
const SimWindowRecord& SimWindow(WindowHandle window);
SimWindowRecord& SimMutableWindow(WindowHandle window);  // e.g. to make a user's selection
WindowHandle SimFocus();
int SimDelivered(uint32_t message);  // messages the main window procedure received

// --- The user, and the message loop.
// Called by the message loop whenever it would wait for input; it acts as the
// user. Returning false means the user is done: a loop that still waits then
// fails the test instead of hanging.
void SimSetUser(std::function<bool()> user);
struct SimModifiersRecord {
    bool shift = false;
    bool control = false;
    bool alt = false;
};
void SimPressKey(int virtualKey, SimModifiersRecord modifiers = {});  // to the focused window
void SimClickWithMouse(WindowHandle button);  // press and release over a button: hooks, then the click
void SimCloseBox();                            // the close box, Alt+F4 or the system menu's Close
void SimPost(WindowHandle window, uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0);
int SimQuitCode();              // the exit code of the quit message; -1 when none was posted
bool SimQuitPosted();
std::size_t SimPendingMessages();

// --- Start-up.
int SimProgramFolderEntered();
int SimFloatingPointResets();
