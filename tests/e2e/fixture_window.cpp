// e2e_fixture_window: a tiny known window for the harness self-test, so the probe
// and the xdotool plumbing are checked against something whose every detail we
// control before they are trusted with the real program.
//
// A 300x200 overlapped window titled "测试窗口" with a push button "按钮"
// (id 101) and a read-only multi-line EDIT (id 102) holding "第一行". Each press
// of the button appends a line "按下 N" to the EDIT. Closing the window exits 0.

#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#include <windows.h>

#include <string>

namespace {

constexpr int kButtonId = 101;
constexpr int kEditId = 102;
constexpr wchar_t kClassName[] = L"E2EFixtureWindow";

HWND g_edit = nullptr;
int g_presses = 0;

void append_line(const std::wstring& line) {
  int end = GetWindowTextLengthW(g_edit);
  SendMessageW(g_edit, EM_SETSEL, end, end);
  SendMessageW(g_edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>((L"\r\n" + line).c_str()));
}

LRESULT CALLBACK window_proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_CREATE: {
      auto instance = reinterpret_cast<LPCREATESTRUCTW>(lp)->hInstance;
      HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
      HWND button = CreateWindowExW(0, L"BUTTON", L"按钮", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 10,
                                    10, 100, 28, h, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kButtonId)), instance,
                                    nullptr);
      g_edit = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"第一行",
                               WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_READONLY |
                                   ES_AUTOVSCROLL,
                               10, 48, 260, 100, h, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kEditId)), instance,
                               nullptr);
      if (!button || !g_edit) return -1;
      SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
      SendMessageW(g_edit, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
      SetFocus(button);
      return 0;
    }
    case WM_COMMAND:
      if (LOWORD(wp) == kButtonId && HIWORD(wp) == BN_CLICKED) {
        append_line(L"按下 " + std::to_wstring(++g_presses));
        return 0;
      }
      break;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(h, msg, wp, lp);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = window_proc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kClassName;
  if (!RegisterClassExW(&wc)) return 3;

  HWND h = CreateWindowExW(0, kClassName, L"测试窗口", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                           100, 100, 300, 200, nullptr, nullptr, instance, nullptr);
  if (!h) return 4;
  ShowWindow(h, show);
  UpdateWindow(h);

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (IsDialogMessageW(h, &msg)) continue;  // Tab moves between the two controls
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}
