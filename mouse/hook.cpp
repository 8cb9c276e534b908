#include "mouse/hook.h"

#include "app/main_window.h"
#include "app/start_button.h"
#include "mouse/detector.h"
#include "system/external.h"
#include "system/texts.h"

// The system drops a hook that keeps it waiting, so this stays small: one
// constant line per logged event, and the event record is never read.
intptr_t SYSTEM_CALLBACK MouseHookProc(int nCode, uintptr_t wParam, intptr_t lParam) {
    if (nCode >= 0 && wParam != kMsgMouseMove) {
        if (wParam == kMsgRightButtonUp) {
            HandleRightButtonUp();
            AppendToLogBox(kTextHookLineRightUp);
        } else {
            AppendToLogBox(kTextHookLineOther);
        }
    }
    return CallExternal<kCallNextHookEx>(g_hookHandle, nCode, wParam, lParam);
}
