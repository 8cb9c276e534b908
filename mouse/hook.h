// The system-wide low-level mouse hook procedure.
#pragma once

#include "platform/platform.h"

// Logs every mouse event but a move, runs the double right-click detector on
// a right-button release, and always passes the event on unchanged.
intptr_t SYSTEM_CALLBACK MouseHookProc(int nCode, uintptr_t wParam, intptr_t lParam);
