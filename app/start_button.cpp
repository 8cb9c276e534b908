#include "app/start_button.h"

#include <charconv>
#include <string>

#include "app/main_window.h"
#include "mouse/hook.h"
#include "system/external.h"
#include "system/texts.h"

HookHandle g_hookHandle = nullptr;

namespace {

// No hook may outlive the window: its events would have no log box to go to.
void RemoveMouseHook() {
    if (g_hookHandle == nullptr) return;
    CallExternal<kUnhookWindowsHookEx>(g_hookHandle);
    g_hookHandle = nullptr;
}

// Installs the hook, or says in the log why it could not and leaves the
// button as it was, so that the user can try again.
bool InstallMouseHook() {
    const HookHandle hook = CallExternal<kSetWindowsHookExA>(kHookMouseLowLevel, MouseHookProc,
                                                             static_cast<void*>(nullptr), uint32_t{0});
    if (hook == nullptr) {
        const uint32_t error = PlatformLastErrorCode();
        char digits[16];
        const auto written = std::to_chars(digits, digits + sizeof digits, error);
        std::string line = kTextHookInstallFailed;
        line.append(digits, written.ptr);
        line += "\r\n";
        AppendToLogBox(line);
        return false;
    }
    RemoveMouseHook();  // only a caption the program never writes could leave one here
    g_hookHandle = hook;
    return true;
}

}  // namespace

void OnStartButtonClick() {
    if (GetStartButtonCaption() == kTextClose) {
        RemoveMouseHook();
        DestroyMainWindow();  // the window stays usable until this handler has returned
    } else if (!InstallMouseHook()) {
        return;
    }
    if (GetStartButtonCaption() == kTextStart) SetStartButtonCaption(kTextClose);
    AppendToLogBox(kTextUsage);
}

void OnMainWindowDestroying() {
    RemoveMouseHook();
}
