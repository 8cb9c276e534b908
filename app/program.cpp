#include "app/program.h"

#include <iterator>

#include "app/main_window.h"
#include "mouse/detector.h"
#include "platform/platform.h"
#include "system/external.h"
#include "system/fatal.h"

namespace {

ExitRoutine g_exitRoutines[8];  // run in this order at a normal end
int g_exitRoutineCount = 0;
bool g_loopEntered = false;  // the message loop has started; quitting needs it

}  // namespace

// Room for a few thousand releases before the list first has to grow.
constexpr std::size_t kInitialStampCapacity = 4096;

void InitGlobals() {
    g_rightUpStamps.clear();
    g_rightUpStamps.reserve(kInitialStampCapacity);
}

void ReleaseGlobals() {
    std::vector<int32_t>().swap(g_rightUpStamps);
}

void RegisterExitRoutine(ExitRoutine routine) {
    for (int i = 0; i < g_exitRoutineCount; ++i) {
        if (g_exitRoutines[i] == routine) return;
    }
    if (g_exitRoutineCount == static_cast<int>(std::size(g_exitRoutines))) {
        FatalErrorReport(0, "too many exit routines");
    }
    g_exitRoutines[g_exitRoutineCount++] = routine;
}

void RunExitRoutines() {
    for (int i = 0; i < g_exitRoutineCount; ++i) g_exitRoutines[i]();
}

void RunMessageLoop() {
    g_loopEntered = true;
    if (!MainWindowExists()) return;
    MessageRecord message;
    while (PlatformGetMessage(&message)) {
        if (HandleDialogKey(message)) continue;
        PlatformDispatchMessage();
    }
}

void HandleMainWindowGone() {
    // The main window is the only window of ours, so the program is over.
    if (!MainWindowExists() && g_loopEntered) PlatformPostQuitMessage(0);
}

int ProgramMain() {
    PlatformEnterProgramFolder();
    PlatformResetFloatingPoint();
    InitGlobals();
    RegisterExitRoutine(ReleaseGlobals);
    CreateMainWindow();
    RunMessageLoop();
    return 0;
}

int RunProgram() {
    const int exitCode = ProgramMain();
    RunExitRoutines();
    ReleaseExternalBindings();
    return exitCode;
}
