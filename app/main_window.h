// The main window, its two controls and the operations the rest of the
// program uses on them. Texts are code page 936 bytes.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

void CreateMainWindow();
bool MainWindowExists();

void AppendToLogBox(std::string_view text);
std::string GetStartButtonCaption();  // empty when the caption is empty
void SetStartButtonCaption(std::string_view text);
void DestroyMainWindow();  // deferred: the window goes once the loop gets back to it

// Tab, Shift+Tab and Esc for the main window and its controls. Returns true
// when the message was consumed and must not be dispatched.
bool HandleDialogKey(const MessageRecord& message);
