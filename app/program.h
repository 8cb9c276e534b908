// Start-up, the message loop and the end of the program.
#pragma once

using ExitRoutine = void (*)();

// The whole run: ProgramMain, then the exit routines, then the release of
// the libraries bound at run time. Returns the process exit code.
int RunProgram();

int ProgramMain();
void InitGlobals();
void ReleaseGlobals();
void RegisterExitRoutine(ExitRoutine routine);
void RunExitRoutines();
void RunMessageLoop();

// Called by the window layer once the main window is completely gone.
void HandleMainWindowGone();
