// A Windows program built from the program's own modules that ends in the
// fatal report, for the end-to-end tests:
//   fatal_demo.exe window-gone MARKER   appends to the log box of a window that is gone
//   fatal_demo.exe code MARKER          raises the report with code 6
// Its exit routine would create the file MARKER; the report must skip it.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/main_window.h"
#include "app/program.h"
#include "system/fatal.h"

namespace {

const char* g_marker = nullptr;  // created by the exit routine, which must never run

void CreateMarker() {
    if (FILE* file = std::fopen(g_marker, "w")) std::fclose(file);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    if (__argc != 3) return 2;
    g_marker = __argv[2];
    RegisterExitRoutine(CreateMarker);
    if (std::strcmp(__argv[1], "window-gone") == 0) {
        CreateMainWindow();
        DestroyWindow(FindWindowW(L"RightClickDesktopMainWindow", nullptr));
        AppendToLogBox("x");
    } else if (std::strcmp(__argv[1], "code") == 0) {
        // 调用DLL命令后发现堆栈错误
        FatalErrorReport(6, "\xB5\xF7\xD3\xC3" "DLL\xC3\xFC\xC1\xEE\xBA\xF3\xB7\xA2\xCF\xD6\xB6\xD1\xD5\xBB\xB4\xED\xCE\xF3");
    }
    RunExitRoutines();  // only reached when no report ended the process
    return 3;
}
