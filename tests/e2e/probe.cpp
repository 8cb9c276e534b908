// e2e_probe: reads (and lightly pokes) the live window system of a Wine session so
// the end-to-end tests can check what a person would see, without trusting the
// program under test to report on itself.
//
// Every command prints one JSON object on stdout (UTF-8, no BOM, one line; hold
// prints two). HWNDs are plain integers; command-line HWNDs may be decimal or
// 0x-hex. Rects are {"left","top","right","bottom"}; points are {"x","y"};
// screen coordinates are Windows ones (the harness maps them to X).
//
//   windows [--title T] [--pid N]
//     {"windows":[{"hwnd","pid","tid","class","text","style","exstyle","owner",
//                  "visible","enabled","minimized","maximized","foreground",
//                  "rect"(screen),"client"(client coords, left/top 0),
//                  "client_origin"(screen point),
//                  "children":[{"hwnd","parent","class","text","style","exstyle",
//                               "id","visible","enabled",
//                               "rect"(in the parent's client area),
//                               "screen_rect"}]}]}
//     Top-level windows of other processes, hidden ones included. T is matched
//     exactly against the window text.
//   text HWND         {"hwnd","length","text","timed_out"}
//   focus HWND        {"hwnd","pid","tid","active","focus","capture","menu_owner",
//                      "move_size","caret","flags","foreground",
//                      "active_class","focus_class"}   (GetGUIThreadInfo)
//   hittest HWND X Y  {"hwnd","x","y","hit","name","timed_out",
//                      "titlebar":{"rect","states":{"titlebar","minimize",
//                      "maximize","help","close"}}|null}
//   findhit HWND CODE {"hwnd","code","name","count","rect","center"}
//                     the box of screen points in the top non-client band whose
//                     WM_NCHITTEST answer is CODE (20 = HTCLOSE), "count" of
//                     such points; exit 1 if none
//   click HWND        {"hwnd","result","timed_out"}   (BM_CLICK, 5 s timeout)
//   close HWND        {"hwnd","posted"}                (PostMessage WM_CLOSE)
//   keylog OUTFILE SECONDS
//                     appends "ready", then "<down|up> <vk 2 hex> <flags hex>"
//                     per key event to OUTFILE (e.g. "down 5B 10"); stops after
//                     SECONDS or once OUTFILE.stop exists; then prints
//                     {"events","stopped_by"}
//   mouselog OUTFILE SECONDS
//                     the same with WH_MOUSE_LL, one line per mouse event:
//                     "<message 4 hex> <x> <y> <flags hex> <mouseData hex> <time ms>"
//                     e.g. "0204 500 400 0 0 123456" (0204 = WM_RBUTTONDOWN)
//   metrics           {"screen","virtual_screen","work_area","caption",
//                      "small_caption","frame","border","fixed_frame",
//                      "padded_border","size_button","double_click_time",
//                      "double_click_size","dpi","swap_buttons"}
//   cursor            {"x","y"}                         (GetCursorPos)
//   hold              prints {"holding":true} once attached to the desktop, stays
//                     until stdin closes, then prints {"held_ms"} (two lines)
//
// Exit codes: 0 done, 1 the action failed (no such window, ...), 2 bad arguments.
// Messages for 1 and 2 go to stderr.

#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#include <windows.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <climits>
#include <cstring>
#include <cwchar>
#include <cerrno>
#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr UINT kMessageTimeoutMs = 2000;

std::string utf8(std::wstring_view w) {
  if (w.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), out.data(), n, nullptr, nullptr);
  return out;
}

// Minimal streaming JSON writer: the probe only ever emits one document.
class Json {
 public:
  Json& obj() { open('{'); return *this; }
  Json& arr() { open('['); return *this; }
  Json& end() {
    s_ += closers_.back();
    closers_.pop_back();
    first_.pop_back();
    return *this;
  }
  Json& key(std::string_view k) {
    comma();
    quote(k);
    s_ += ':';
    after_key_ = true;
    return *this;
  }
  Json& str(std::string_view v) { comma(); quote(v); return *this; }
  Json& str(std::wstring_view v) { return str(utf8(v)); }
  Json& num(long long v) { comma(); s_ += std::to_string(v); return *this; }
  Json& unum(unsigned long long v) { comma(); s_ += std::to_string(v); return *this; }
  Json& boolean(bool v) { comma(); s_ += v ? "true" : "false"; return *this; }
  Json& null() { comma(); s_ += "null"; return *this; }
  Json& hwnd(HWND h) { return unum(static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(h))); }
  Json& rect(const RECT& r) {
    obj().key("left").num(r.left).key("top").num(r.top).key("right").num(r.right).key("bottom").num(r.bottom);
    return end();
  }
  Json& point(LONG x, LONG y) { obj().key("x").num(x).key("y").num(y); return end(); }
  Json& size(int cx, int cy) { obj().key("cx").num(cx).key("cy").num(cy); return end(); }
  const std::string& text() const { return s_; }

 private:
  void open(char c) {
    comma();
    s_ += c;
    closers_.push_back(c == '{' ? '}' : ']');
    first_.push_back(true);
  }
  void comma() {
    if (after_key_) {
      after_key_ = false;
      return;
    }
    if (!first_.empty()) {
      if (!first_.back()) s_ += ',';
      first_.back() = false;
    }
  }
  void quote(std::string_view v) {
    s_ += '"';
    for (unsigned char c : v) {
      switch (c) {
        case '"': s_ += "\\\""; break;
        case '\\': s_ += "\\\\"; break;
        case '\n': s_ += "\\n"; break;
        case '\r': s_ += "\\r"; break;
        case '\t': s_ += "\\t"; break;
        default:
          if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            s_ += buf;
          } else {
            s_ += static_cast<char>(c);
          }
      }
    }
    s_ += '"';
  }

  std::string s_;
  std::vector<char> closers_;
  std::vector<bool> first_;
  bool after_key_ = false;
};

void emit(const Json& j) {
  // Raw bytes: the CRT must not re-encode the UTF-8 or turn \n into \r\n.
  _setmode(_fileno(stdout), _O_BINARY);
  std::string line = j.text() + "\n";
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

[[noreturn]] void fail(int code, const std::wstring& message) {
  std::string m = "e2e_probe: " + utf8(message) + "\n";
  std::fwrite(m.data(), 1, m.size(), stderr);
  std::fflush(stderr);
  std::exit(code);
}

[[noreturn]] void usage(const std::wstring& why) {
  fail(2, why +
              L"\nusage: e2e_probe windows [--title T] [--pid N] | text HWND | focus HWND | "
              L"hittest HWND X Y | findhit HWND CODE | click HWND | close HWND | "
              L"keylog OUTFILE SECONDS | mouselog OUTFILE SECONDS | metrics | cursor | hold");
}

bool parse_integer(const std::wstring& s, long long& out) {
  if (s.empty()) return false;
  wchar_t* endp = nullptr;
  errno = 0;
  long long v = std::wcstoll(s.c_str(), &endp, 0);
  if (errno != 0 || endp == s.c_str() || *endp != L'\0') return false;
  out = v;
  return true;
}

HWND parse_hwnd(const std::wstring& s) {
  long long v = 0;
  if (!parse_integer(s, v) || v <= 0) usage(L"not a window handle: '" + s + L"'");
  HWND h = reinterpret_cast<HWND>(static_cast<uintptr_t>(v));
  if (!IsWindow(h)) fail(1, L"no such window: " + s);
  return h;
}

int parse_coordinate(const std::wstring& s) {
  long long v = 0;
  if (!parse_integer(s, v) || v < -32768 || v > 32767) usage(L"not a screen coordinate: '" + s + L"'");
  return static_cast<int>(v);
}

std::wstring class_of(HWND h) {
  wchar_t buf[256] = {};
  int n = GetClassNameW(h, buf, 256);
  return std::wstring(buf, n > 0 ? static_cast<size_t>(n) : 0);
}

struct Text {
  std::wstring value;
  bool timed_out = false;
};

// WM_GETTEXT (not GetWindowText) because only the message reaches an EDIT's
// contents in another process; the timeout keeps a hung target from hanging us.
Text text_of(HWND h) {
  Text t;
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(h, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &length)) {
    t.timed_out = true;
    wchar_t buf[512] = {};
    int n = GetWindowTextW(h, buf, 512);  // the stored caption, no message sent
    t.value.assign(buf, n > 0 ? static_cast<size_t>(n) : 0);
    return t;
  }
  std::vector<wchar_t> buf(static_cast<size_t>(length) + 2, L'\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(h, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()), SMTO_ABORTIFHUNG,
                           kMessageTimeoutMs, &copied)) {
    t.timed_out = true;
    return t;
  }
  t.value.assign(buf.data(), std::wcslen(buf.data()));
  return t;
}

RECT window_rect(HWND h) {
  RECT r{};
  GetWindowRect(h, &r);
  return r;
}

const wchar_t* hit_name(LRESULT hit) {
  switch (hit) {
    case HTERROR: return L"HTERROR";
    case HTTRANSPARENT: return L"HTTRANSPARENT";
    case HTNOWHERE: return L"HTNOWHERE";
    case HTCLIENT: return L"HTCLIENT";
    case HTCAPTION: return L"HTCAPTION";
    case HTSYSMENU: return L"HTSYSMENU";
    case HTGROWBOX: return L"HTGROWBOX";
    case HTMENU: return L"HTMENU";
    case HTHSCROLL: return L"HTHSCROLL";
    case HTVSCROLL: return L"HTVSCROLL";
    case HTMINBUTTON: return L"HTMINBUTTON";
    case HTMAXBUTTON: return L"HTMAXBUTTON";
    case HTLEFT: return L"HTLEFT";
    case HTRIGHT: return L"HTRIGHT";
    case HTTOP: return L"HTTOP";
    case HTTOPLEFT: return L"HTTOPLEFT";
    case HTTOPRIGHT: return L"HTTOPRIGHT";
    case HTBOTTOM: return L"HTBOTTOM";
    case HTBOTTOMLEFT: return L"HTBOTTOMLEFT";
    case HTBOTTOMRIGHT: return L"HTBOTTOMRIGHT";
    case HTBORDER: return L"HTBORDER";
    case HTCLOSE: return L"HTCLOSE";
    case HTHELP: return L"HTHELP";
    default: return L"";
  }
}

bool hit_test(HWND h, int x, int y, LRESULT& hit) {
  DWORD_PTR result = 0;
  LPARAM at = MAKELPARAM(static_cast<WORD>(static_cast<SHORT>(x)), static_cast<WORD>(static_cast<SHORT>(y)));
  if (!SendMessageTimeoutW(h, WM_NCHITTEST, 0, at, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &result)) return false;
  hit = static_cast<LRESULT>(static_cast<LONG>(result));  // the answer is a signed int (HTERROR is -2)
  return true;
}

// ---- windows -------------------------------------------------------------

struct WindowsQuery {
  bool by_title = false;
  std::wstring title;
  bool by_pid = false;
  DWORD pid = 0;
  std::vector<HWND> found;
};

BOOL CALLBACK collect_top(HWND h, LPARAM param) {
  auto* q = reinterpret_cast<WindowsQuery*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  if (pid == GetCurrentProcessId()) return TRUE;
  if (q->by_pid && pid != q->pid) return TRUE;
  if (q->by_title && text_of(h).value != q->title) return TRUE;
  q->found.push_back(h);
  return TRUE;
}

BOOL CALLBACK collect_child(HWND h, LPARAM param) {
  reinterpret_cast<std::vector<HWND>*>(param)->push_back(h);
  return TRUE;
}

void write_child(Json& j, HWND c) {
  HWND parent = GetAncestor(c, GA_PARENT);
  RECT screen = window_rect(c);
  RECT local = screen;
  MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&local), 2);
  j.obj();
  j.key("hwnd").hwnd(c).key("parent").hwnd(parent);
  j.key("class").str(class_of(c)).key("text").str(text_of(c).value);
  j.key("style").unum(static_cast<DWORD>(GetWindowLongW(c, GWL_STYLE)));
  j.key("exstyle").unum(static_cast<DWORD>(GetWindowLongW(c, GWL_EXSTYLE)));
  j.key("id").num(GetDlgCtrlID(c));
  j.key("visible").boolean(IsWindowVisible(c) != FALSE).key("enabled").boolean(IsWindowEnabled(c) != FALSE);
  j.key("rect").rect(local).key("screen_rect").rect(screen);
  j.end();
}

void write_top(Json& j, HWND h) {
  DWORD pid = 0;
  DWORD tid = GetWindowThreadProcessId(h, &pid);
  RECT client{};
  GetClientRect(h, &client);
  POINT origin{0, 0};
  ClientToScreen(h, &origin);
  j.obj();
  j.key("hwnd").hwnd(h).key("pid").unum(pid).key("tid").unum(tid);
  j.key("class").str(class_of(h)).key("text").str(text_of(h).value);
  j.key("style").unum(static_cast<DWORD>(GetWindowLongW(h, GWL_STYLE)));
  j.key("exstyle").unum(static_cast<DWORD>(GetWindowLongW(h, GWL_EXSTYLE)));
  j.key("owner").hwnd(GetWindow(h, GW_OWNER));
  j.key("visible").boolean(IsWindowVisible(h) != FALSE).key("enabled").boolean(IsWindowEnabled(h) != FALSE);
  j.key("minimized").boolean(IsIconic(h) != FALSE).key("maximized").boolean(IsZoomed(h) != FALSE);
  j.key("foreground").boolean(GetForegroundWindow() == h);
  j.key("rect").rect(window_rect(h)).key("client").rect(client);
  j.key("client_origin").point(origin.x, origin.y);
  std::vector<HWND> children;
  EnumChildWindows(h, collect_child, reinterpret_cast<LPARAM>(&children));
  j.key("children").arr();
  for (HWND c : children) write_child(j, c);
  j.end();
  j.end();
}

int cmd_windows(const std::vector<std::wstring>& args) {
  WindowsQuery q;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == L"--title" && i + 1 < args.size()) {
      q.by_title = true;
      q.title = args[++i];
    } else if (args[i] == L"--pid" && i + 1 < args.size()) {
      long long v = 0;
      if (!parse_integer(args[++i], v) || v <= 0) usage(L"not a process id: '" + args[i] + L"'");
      q.by_pid = true;
      q.pid = static_cast<DWORD>(v);
    } else {
      usage(L"windows: unexpected argument '" + args[i] + L"'");
    }
  }
  EnumWindows(collect_top, reinterpret_cast<LPARAM>(&q));
  Json j;
  j.obj().key("windows").arr();
  for (HWND h : q.found) {
    if (IsWindow(h)) write_top(j, h);  // it may have closed while we listed
  }
  j.end().end();
  emit(j);
  return 0;
}

// ---- single-window commands ------------------------------------------------

int cmd_text(HWND h) {
  Text t = text_of(h);
  Json j;
  j.obj().key("hwnd").hwnd(h).key("length").num(static_cast<long long>(t.value.size()));
  j.key("text").str(t.value).key("timed_out").boolean(t.timed_out).end();
  emit(j);
  return 0;
}

int cmd_focus(HWND h) {
  DWORD pid = 0;
  DWORD tid = GetWindowThreadProcessId(h, &pid);
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(tid, &info)) fail(1, L"GetGUIThreadInfo failed for thread " + std::to_wstring(tid));
  auto class_or_empty = [](HWND w) { return w ? class_of(w) : std::wstring(); };
  Json j;
  j.obj().key("hwnd").hwnd(h).key("pid").unum(pid).key("tid").unum(tid);
  j.key("active").hwnd(info.hwndActive).key("focus").hwnd(info.hwndFocus).key("capture").hwnd(info.hwndCapture);
  j.key("menu_owner").hwnd(info.hwndMenuOwner).key("move_size").hwnd(info.hwndMoveSize);
  j.key("caret").hwnd(info.hwndCaret).key("flags").unum(info.flags);
  j.key("foreground").hwnd(GetForegroundWindow());
  j.key("active_class").str(class_or_empty(info.hwndActive)).key("focus_class").str(class_or_empty(info.hwndFocus));
  j.end();
  emit(j);
  return 0;
}

void write_titlebar(Json& j, HWND h) {
  TITLEBARINFO tb{};
  tb.cbSize = sizeof tb;
  if (!GetTitleBarInfo(h, &tb)) {
    j.null();
    return;
  }
  j.obj().key("rect").rect(tb.rcTitleBar).key("states").obj();
  j.key("titlebar").unum(tb.rgstate[0]).key("minimize").unum(tb.rgstate[2]).key("maximize").unum(tb.rgstate[3]);
  j.key("help").unum(tb.rgstate[4]).key("close").unum(tb.rgstate[5]);
  j.end().end();
}

int cmd_hittest(HWND h, int x, int y) {
  LRESULT hit = HTNOWHERE;
  bool ok = hit_test(h, x, y, hit);
  Json j;
  j.obj().key("hwnd").hwnd(h).key("x").num(x).key("y").num(y);
  j.key("hit").num(ok ? hit : HTERROR).key("name").str(ok ? hit_name(hit) : L"").key("timed_out").boolean(!ok);
  j.key("titlebar");
  write_titlebar(j, h);
  j.end();
  emit(j);
  return 0;
}

// Scans the band above the client area (frame + caption): it finds buttons
// wherever the theme puts them, which a fixed offset would not. A coarse pass
// finds the area, an exact pass around it sizes it (one cross-process message
// per point is slow under Wine, ~0.4 ms).
int cmd_findhit(HWND h, long long code) {
  RECT r = window_rect(h);
  POINT origin{0, 0};
  ClientToScreen(h, &origin);
  const RECT band{r.left, r.top, r.right, origin.y > r.top ? origin.y : r.bottom};
  auto scan = [&](const RECT& area, LONG step, RECT& box) {
    box = RECT{LONG_MAX, LONG_MAX, LONG_MIN, LONG_MIN};
    long long count = 0;
    for (LONG y = area.top; y < area.bottom; y += step) {
      for (LONG x = area.left; x < area.right; x += step) {
        LRESULT hit = HTNOWHERE;
        if (!hit_test(h, x, y, hit)) fail(1, L"WM_NCHITTEST timed out");
        if (hit != code) continue;
        ++count;
        box.left = std::min(box.left, x);
        box.top = std::min(box.top, y);
        box.right = std::max(box.right, x + 1);
        box.bottom = std::max(box.bottom, y + 1);
      }
    }
    return count;
  };
  constexpr LONG kStep = 3;
  RECT coarse{};
  if (scan(band, kStep, coarse) == 0) {
    // Smaller than the grid? Fall back to every point.
    if (scan(band, 1, coarse) == 0)
      fail(1, L"no point of the title band answers hit code " + std::to_wstring(code));
  }
  const RECT around{std::max(band.left, coarse.left - kStep), std::max(band.top, coarse.top - kStep),
                    std::min(band.right, coarse.right + kStep), std::min(band.bottom, coarse.bottom + kStep)};
  RECT box{};
  long long count = scan(around, 1, box);
  Json j;
  j.obj().key("hwnd").hwnd(h).key("code").num(code).key("name").str(hit_name(static_cast<LRESULT>(code)));
  j.key("count").num(count).key("rect").rect(box);
  j.key("center").point((box.left + box.right - 1) / 2, (box.top + box.bottom - 1) / 2);
  j.end();
  emit(j);
  return 0;
}

int cmd_click(HWND h) {
  DWORD_PTR result = 0;
  bool ok = SendMessageTimeoutW(h, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 5000, &result) != 0;
  Json j;
  j.obj().key("hwnd").hwnd(h).key("result").num(static_cast<long long>(result)).key("timed_out").boolean(!ok).end();
  emit(j);
  return 0;
}

int cmd_close(HWND h) {
  bool posted = PostMessageW(h, WM_CLOSE, 0, 0) != 0;
  if (!posted) fail(1, L"PostMessage(WM_CLOSE) failed, error " + std::to_wstring(GetLastError()));
  Json j;
  j.obj().key("hwnd").hwnd(h).key("posted").boolean(true).end();
  emit(j);
  return 0;
}

// ---- keylog / mouselog ------------------------------------------------------

HANDLE g_log = INVALID_HANDLE_VALUE;
long long g_events = 0;

void log_line(const char* line) {
  DWORD written = 0;
  // Unbuffered WriteFile: the test reads the file while we are still running.
  WriteFile(g_log, line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
  ++g_events;
}

// Both hooks observe only: the event always travels on, so the probe changes
// nothing that the program under test or Wine would do with it.
LRESULT CALLBACK keylog_hook(int code, WPARAM wp, LPARAM lp) {
  if (code == HC_ACTION) {
    const auto* k = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lp);
    bool up = wp == WM_KEYUP || wp == WM_SYSKEYUP;
    char line[64];
    std::snprintf(line, sizeof line, "%s %02lX %lX\n", up ? "up" : "down", static_cast<unsigned long>(k->vkCode & 0xFF),
                  static_cast<unsigned long>(k->flags));
    log_line(line);
  }
  return CallNextHookEx(nullptr, code, wp, lp);
}

LRESULT CALLBACK mouselog_hook(int code, WPARAM wp, LPARAM lp) {
  if (code == HC_ACTION) {
    const auto* m = reinterpret_cast<const MSLLHOOKSTRUCT*>(lp);
    char line[96];
    std::snprintf(line, sizeof line, "%04X %ld %ld %lX %lX %lu\n", static_cast<unsigned>(wp), m->pt.x, m->pt.y,
                  static_cast<unsigned long>(m->flags), static_cast<unsigned long>(m->mouseData),
                  static_cast<unsigned long>(m->time));
    log_line(line);
  }
  return CallNextHookEx(nullptr, code, wp, lp);
}

int cmd_hooklog(int hook_id, HOOKPROC proc, const std::wstring& path, const std::wstring& seconds_text) {
  wchar_t* endp = nullptr;
  double seconds = std::wcstod(seconds_text.c_str(), &endp);
  if (endp == seconds_text.c_str() || *endp != L'\0' || !(seconds > 0) || seconds > 3600)
    usage(L"SECONDS must be a number in (0, 3600], not '" + seconds_text + L"'");
  std::wstring stop_path = path + L".stop";
  g_log = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (g_log == INVALID_HANDLE_VALUE) fail(1, L"cannot open " + path + L", error " + std::to_wstring(GetLastError()));
  HHOOK hook = SetWindowsHookExW(hook_id, proc, GetModuleHandleW(nullptr), 0);
  if (!hook) fail(1, L"SetWindowsHookEx failed, error " + std::to_wstring(GetLastError()));
  log_line("ready\n");
  g_events = 0;

  // A thread timer polls for the stop file and the deadline; the hook itself
  // only runs while this thread pumps messages.
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000.0);
  UINT_PTR timer = SetTimer(nullptr, 0, 50, nullptr);
  const char* stopped_by = "timeout";
  MSG msg;
  for (;;) {
    BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got <= 0) {
      stopped_by = "quit";
      break;
    }
    if (msg.message == WM_TIMER && msg.hwnd == nullptr) {
      if (GetFileAttributesW(stop_path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        stopped_by = "stop_file";
        break;
      }
      if (GetTickCount64() >= deadline) break;
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  KillTimer(nullptr, timer);
  UnhookWindowsHookEx(hook);
  CloseHandle(g_log);
  Json j;
  j.obj().key("events").num(g_events).key("stopped_by").str(std::string_view(stopped_by)).end();
  emit(j);
  return 0;
}

// ---- metrics / cursor --------------------------------------------------------

int cmd_metrics() {
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  HDC dc = GetDC(nullptr);
  int dpi = dc ? GetDeviceCaps(dc, LOGPIXELSX) : 0;
  if (dc) ReleaseDC(nullptr, dc);
  auto m = GetSystemMetrics;
  Json j;
  j.obj();
  j.key("screen").size(m(SM_CXSCREEN), m(SM_CYSCREEN));
  j.key("virtual_screen").obj().key("x").num(m(SM_XVIRTUALSCREEN)).key("y").num(m(SM_YVIRTUALSCREEN));
  j.key("cx").num(m(SM_CXVIRTUALSCREEN)).key("cy").num(m(SM_CYVIRTUALSCREEN)).end();
  j.key("work_area").rect(work);
  j.key("caption").num(m(SM_CYCAPTION)).key("small_caption").num(m(SM_CYSMCAPTION));
  j.key("frame").size(m(SM_CXFRAME), m(SM_CYFRAME)).key("border").size(m(SM_CXBORDER), m(SM_CYBORDER));
  j.key("fixed_frame").size(m(SM_CXFIXEDFRAME), m(SM_CYFIXEDFRAME));
  j.key("padded_border").num(m(SM_CXPADDEDBORDER)).key("size_button").size(m(SM_CXSIZE), m(SM_CYSIZE));
  j.key("double_click_time").unum(GetDoubleClickTime());
  j.key("double_click_size").size(m(SM_CXDOUBLECLK), m(SM_CYDOUBLECLK));
  j.key("dpi").num(dpi).key("swap_buttons").boolean(m(SM_SWAPBUTTON) != 0);
  j.end();
  emit(j);
  return 0;
}

int cmd_cursor() {
  POINT p{};
  if (!GetCursorPos(&p)) fail(1, L"GetCursorPos failed, error " + std::to_wstring(GetLastError()));
  Json j;
  j.point(p.x, p.y);
  emit(j);
  return 0;
}

// Wine closes its virtual desktop (and the X window behind it) as soon as no
// process uses it, and restarts it for the next one. Held open by the harness
// for a whole session, this keeps one desktop, one cursor position and no
// restart cost between the program's runs.
BOOL CALLBACK stop_enumerating(HWND, LPARAM) { return FALSE; }

int cmd_hold() {
  EnumWindows(stop_enumerating, 0);  // attaches us to the desktop
  Json ready;
  ready.obj().key("holding").boolean(true).end();
  emit(ready);  // the desktop is up: the harness waits for this line
  const ULONGLONG start = GetTickCount64();
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  char buf[256];
  DWORD got = 0;
  while (in != INVALID_HANDLE_VALUE && in != nullptr && ReadFile(in, buf, sizeof buf, &got, nullptr) && got > 0) {
  }
  Json j;
  j.obj().key("held_ms").unum(GetTickCount64() - start).end();
  emit(j);
  return 0;
}

int run(const std::vector<std::wstring>& a) {
  if (a.empty()) usage(L"no command");
  const std::wstring& cmd = a[0];
  const std::vector<std::wstring> rest(a.begin() + 1, a.end());
  auto want = [&](size_t n) {
    if (rest.size() != n) usage(cmd + L": expected " + std::to_wstring(n) + L" argument(s)");
  };
  if (cmd == L"windows") return cmd_windows(rest);
  if (cmd == L"text") { want(1); return cmd_text(parse_hwnd(rest[0])); }
  if (cmd == L"focus") { want(1); return cmd_focus(parse_hwnd(rest[0])); }
  if (cmd == L"hittest") {
    want(3);
    int x = parse_coordinate(rest[1]);
    int y = parse_coordinate(rest[2]);
    return cmd_hittest(parse_hwnd(rest[0]), x, y);
  }
  if (cmd == L"findhit") {
    want(2);
    long long code = 0;
    if (!parse_integer(rest[1], code)) usage(L"findhit: not a hit-test code: '" + rest[1] + L"'");
    return cmd_findhit(parse_hwnd(rest[0]), code);
  }
  if (cmd == L"click") { want(1); return cmd_click(parse_hwnd(rest[0])); }
  if (cmd == L"close") { want(1); return cmd_close(parse_hwnd(rest[0])); }
  if (cmd == L"keylog") { want(2); return cmd_hooklog(WH_KEYBOARD_LL, keylog_hook, rest[0], rest[1]); }
  if (cmd == L"mouselog") { want(2); return cmd_hooklog(WH_MOUSE_LL, mouselog_hook, rest[0], rest[1]); }
  if (cmd == L"metrics") { want(0); return cmd_metrics(); }
  if (cmd == L"cursor") { want(0); return cmd_cursor(); }
  if (cmd == L"hold") { want(0); return cmd_hold(); }
  usage(L"unknown command '" + cmd + L"'");
}

}  // namespace

int main() {
  // The command line in UTF-16 straight from the system: the CRT's narrow argv
  // would pass a Chinese --title through the ANSI code page and lose it.
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv) fail(2, L"cannot parse the command line");
  std::vector<std::wstring> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  LocalFree(argv);
  return run(args);
}
