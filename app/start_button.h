// What the start/close button does, and the mouse hook it installs.
#pragma once

#include "platform/platform.h"

extern HookHandle g_hookHandle;  // the installed mouse hook; null when none is

void OnStartButtonClick();
void OnMainWindowDestroying();
