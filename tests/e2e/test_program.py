"""End-to-end tests of the real 64-bit RightClickDesktop.exe under Wine.

The probe reads the real window system and xdotool plays the user: the window
and its controls as Windows reports them, the ways to close it, the fatal
report, and the tool at work on real mouse input.

Run: python3 -m unittest discover -s tests/e2e -p 'test_program.py' -v
"""

import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import wine_session  # noqa: E402
from wine_session import WineSession, wait_until, win_path  # noqa: E402

TITLE = "Varnok专用"
WIDTH, HEIGHT = 244, 240
USAGE = "鼠标右键双击回桌面\r\n关闭窗口即可退出\r\n每次使用钩子只用安装1次\r\n建议 固定在任务栏\r\n"
LINE_OTHER = "鼠标回调：0|0\r\n"
LINE_RIGHT_UP = "鼠标回调：2|2\r\n"
DESKTOP_POINT = (120, 120)  # empty desktop, far from the window

# Window styles.
WS_CHILD = 0x40000000
WS_VISIBLE = 0x10000000
WS_CLIPSIBLINGS = 0x04000000
WS_CLIPCHILDREN = 0x02000000
WS_CAPTION = 0x00C00000
WS_VSCROLL = 0x00200000
WS_HSCROLL = 0x00100000
WS_SYSMENU = 0x00080000
WS_THICKFRAME = 0x00040000
WS_MINIMIZEBOX = 0x00020000
WS_MAXIMIZEBOX = 0x00010000
WS_TABSTOP = 0x00010000
WS_EX_TOPMOST = 0x00000008
WS_EX_CLIENTEDGE = 0x00000200
BS_TYPEMASK = 0x0000000F
BS_PUSHBUTTON = 0x00000000
BS_CENTER = 0x00000300
BS_VCENTER = 0x00000C00
BS_MULTILINE = 0x00002000
ES_MULTILINE = 0x0004
ES_AUTOVSCROLL = 0x0040
ES_AUTOHSCROLL = 0x0080
ES_READONLY = 0x0800
ES_WANTRETURN = 0x1000
ES_ALIGNMENT = 0x0003  # left is 0

VK_LWIN = 0x5B
VK_D = 0x44


def rect_tuple(rect: dict) -> tuple:
    return rect["left"], rect["top"], rect["right"], rect["bottom"]


def center(rect: dict) -> tuple[int, int]:
    return (rect["left"] + rect["right"]) // 2, (rect["top"] + rect["bottom"]) // 2


def child(window: dict, cls: str) -> dict:
    return next(c for c in window["children"] if c["class"].lower() == cls.lower())


class ProgramSession(unittest.TestCase):
    """One Wine session per class: starting Wine is the slow part."""

    session_name = "program"

    @classmethod
    def setUpClass(cls):
        cls.session = WineSession(cls.session_name).start()

    @classmethod
    def tearDownClass(cls):
        cls.session.close()

    def start_program(self):
        s = self.session
        app = s.run_exe(s.exe("RightClickDesktop"))
        self.addCleanup(app.kill)
        window = s.wait_for_window(TITLE)
        return app, window

    def log_text(self, window: dict) -> str:
        return self.session.window_text(child(window, "Edit")["hwnd"])

    def wait_for_log(self, window: dict, expected: str, timeout: float = 10) -> None:
        wait_until(lambda: self.log_text(window) == expected, timeout=timeout,
                   message=f"log box to read {expected!r}")


class WindowTest(ProgramSession):
    session_name = "window"

    def test_window_and_controls_are_as_laid_out(self):
        s = self.session
        app, window = self.start_program()
        screen = s.metrics()["screen"]
        left, top = (screen["cx"] - WIDTH) // 2, (screen["cy"] - HEIGHT) // 2

        self.assertEqual(window["text"], TITLE)
        self.assertEqual(rect_tuple(window["rect"]), (left, top, left + WIDTH, top + HEIGHT))
        style = window["style"]
        for flag in (WS_CAPTION, WS_SYSMENU, WS_MINIMIZEBOX, WS_CLIPCHILDREN, WS_VISIBLE):
            self.assertEqual(style & flag, flag, f"style {style:#x} lacks {flag:#x}")
        for flag in (WS_MAXIMIZEBOX, WS_THICKFRAME, WS_CHILD):
            self.assertEqual(style & flag, 0, f"style {style:#x} has {flag:#x}")
        self.assertEqual(window["exstyle"] & WS_EX_TOPMOST, 0)
        self.assertEqual(window["owner"], 0)
        self.assertEqual(len(window["children"]), 2)

        button = child(window, "Button")
        self.assertEqual(button["text"], "开始")
        self.assertEqual(rect_tuple(button["rect"]), (72, 16, 72 + 80, 16 + 32))
        self.assertEqual(button["style"] & BS_TYPEMASK, BS_PUSHBUTTON)
        for flag in (BS_CENTER, BS_VCENTER, BS_MULTILINE, WS_CHILD, WS_CLIPSIBLINGS, WS_TABSTOP, WS_VISIBLE):
            self.assertEqual(button["style"] & flag, flag, f"button style {button['style']:#x} lacks {flag:#x}")
        self.assertTrue(button["enabled"])

        edit = child(window, "Edit")
        self.assertEqual(edit["text"], "")
        self.assertEqual(rect_tuple(edit["rect"]), (16, 64, 16 + 200, 64 + 136))
        for flag in (ES_MULTILINE, ES_AUTOVSCROLL, ES_WANTRETURN, ES_READONLY, WS_CHILD, WS_CLIPSIBLINGS,
                     WS_TABSTOP, WS_VISIBLE):
            self.assertEqual(edit["style"] & flag, flag, f"edit style {edit['style']:#x} lacks {flag:#x}")
        # The edit control keeps WS_BORDER for itself and draws a thin line;
        # what must not be there is scrolling sideways, scroll bars or a sunken edge.
        for flag in (ES_AUTOHSCROLL, WS_VSCROLL, WS_HSCROLL, ES_ALIGNMENT):
            self.assertEqual(edit["style"] & flag, 0, f"edit style {edit['style']:#x} has {flag:#x}")
        self.assertEqual(edit["exstyle"] & WS_EX_CLIENTEDGE, 0)

        s.screenshot("window_at_start")
        s.close_window(window["hwnd"])
        self.assertEqual(app.wait(15), 0)

    def test_tab_and_shift_tab_walk_the_controls(self):
        s = self.session
        app, window = self.start_program()
        button, edit = child(window, "Button")["hwnd"], child(window, "Edit")["hwnd"]
        wait_until(lambda: s.focus(window["hwnd"])["active"] == window["hwnd"], message="window active")
        for key, expected in [("Tab", button), ("Tab", edit), ("Tab", button), ("shift+Tab", edit),
                              ("shift+Tab", button)]:
            s.key(key)
            wait_until(lambda: s.focus(window["hwnd"])["focus"] == expected, timeout=5,
                       message=f"focus after {key}")
        # Enter does nothing; Space presses the focused button.
        s.key("Return")
        s.key("space")
        wait_until(lambda: s.window_text(button) == "关闭", timeout=5, message="Space to press the button")
        s.close_window(window["hwnd"])
        self.assertEqual(app.wait(15), 0)

    def test_every_way_of_closing_ends_with_exit_code_zero(self):
        s = self.session

        def close_box(window):
            s.click_at(*s.close_box(window["hwnd"]))

        def alt_f4(window):
            s.key("alt+F4")

        def escape_from_log(window):
            s.click_at(*center(child(window, "Edit")["screen_rect"]))  # focus in the log box
            s.key("Escape")

        for name, close in [("close box", close_box), ("Alt+F4", alt_f4), ("Esc", escape_from_log)]:
            with self.subTest(way=name):
                app, window = self.start_program()
                wait_until(lambda: s.focus(window["hwnd"])["active"] == window["hwnd"], message="window active")
                close(window)
                self.assertEqual(app.wait(15), 0)
                s.wait_for_no_window(TITLE, timeout=5)

    def test_shift_escape_does_not_close(self):
        s = self.session
        app, window = self.start_program()
        wait_until(lambda: s.focus(window["hwnd"])["active"] == window["hwnd"], message="window active")
        s.key("shift+Escape")
        with self.assertRaises(wine_session.WaitTimeout):
            app.wait(1.5)
        s.close_window(window["hwnd"])
        self.assertEqual(app.wait(15), 0)


class FatalReportTest(ProgramSession):
    session_name = "fatal"

    def run_demo(self, mode: str) -> tuple[list[str], int, Path]:
        s = self.session
        marker = s.out / f"exit_routine_ran_{mode}"
        marker.unlink(missing_ok=True)
        demo = s.run_exe(s.exe("e2e_fatal_demo"), mode, win_path(marker), name=f"fatal_demo_{mode}")
        self.addCleanup(demo.kill)
        box = s.wait_for_window("错误")
        s.screenshot(f"fatal_report_{mode}")
        statics = [c["text"] for c in box["children"] if c["class"].lower() == "static" and c["text"]]
        self.assertEqual(len(statics), 1, statics)
        SS_ICON = 0x3
        self.assertTrue(any(c["class"].lower() == "static" and c["style"] & 0x1F == SS_ICON for c in box["children"]),
                        "the box shows an icon")
        ok = next(c for c in box["children"] if c["class"].lower() == "button")
        self.assertEqual(sum(c["class"].lower() == "button" for c in box["children"]), 1, "one OK button only")
        s.click_button(ok["hwnd"])
        return statics[0].split("\r\n"), demo.wait(15), marker

    def test_window_operation_after_the_window_is_gone(self):
        lines, code, marker = self.run_demo("window-gone")
        self.assertEqual(lines[0], "运行时出错!")
        self.assertEqual(lines[1], "错误信息：指定窗口或窗口组件不存在或尚未载入")
        self.assertTrue(lines[2].startswith("错误位置：app/main_window.cpp:"), lines)
        self.assertIn("AppendToLogBox", lines[3])
        self.assertEqual(code, 255)  # -1
        self.assertFalse(marker.exists(), "the exit routine ran")

    def test_report_with_a_code(self):
        lines, code, marker = self.run_demo("code")
        self.assertEqual(lines[:3], ["运行时出错!", "错误代码：6", "错误信息：调用DLL命令后发现堆栈错误"])
        self.assertEqual(code, 255)
        self.assertFalse(marker.exists(), "the exit routine ran")


class MonitoringTest(ProgramSession):
    """The tool at work: the button, the hook, the double right-click."""

    session_name = "monitoring"

    def start_monitoring(self):
        s = self.session
        app, window = self.start_program()
        button = child(window, "Button")
        s.click_at(*center(button["screen_rect"]))
        wait_until(lambda: s.window_text(button["hwnd"]) == "关闭", timeout=10, message="caption 关闭")
        self.wait_for_log(window, USAGE)
        return app, window

    def test_double_right_click_sends_windows_key_d_once(self):
        s = self.session
        app, window = self.start_monitoring()
        keys = s.start_keylog("double_click_keys")
        self.addCleanup(keys.stop)

        s.move(*DESKTOP_POINT)
        s.xdotool("click", "--repeat", "2", "--delay", "100", "3")
        self.wait_for_log(window, USAGE + (LINE_OTHER + LINE_RIGHT_UP) * 2)
        keys.wait_for(lambda ev: len(ev) >= 4, message="Windows key + D")
        time.sleep(0.5)  # room for a sequence too many to show up
        events = keys.events()
        self.assertEqual([(e.down, e.vk) for e in events],
                         [(True, VK_LWIN), (True, VK_D), (False, VK_LWIN), (False, VK_D)])
        self.assertTrue(all(e.injected for e in events))

        # Two right-clicks 600 ms apart are no double click.
        keys.clear()
        s.xdotool("click", "--repeat", "2", "--delay", "600", "3")
        self.wait_for_log(window, USAGE + (LINE_OTHER + LINE_RIGHT_UP) * 4)
        self.assertEqual(keys.events(), [])

        s.screenshot("monitoring")
        s.close_window(window["hwnd"])
        self.assertEqual(app.wait(15), 0)

    def test_other_events_each_log_one_line_and_moves_none(self):
        s = self.session
        app, window = self.start_monitoring()
        s.move(*DESKTOP_POINT)
        s.xdotool("click", "1")
        expected = USAGE + LINE_OTHER * 2
        self.wait_for_log(window, expected)
        s.wheel(1)
        expected += LINE_OTHER
        self.wait_for_log(window, expected)
        for x, y in [(200, 150), (300, 100), (150, 600)]:
            s.move(x, y)
        s.xdotool("click", "--repeat", "200", "--delay", "5", "1")  # a burst: nothing may be lost
        expected += LINE_OTHER * 400
        self.wait_for_log(window, expected, timeout=30)
        time.sleep(0.5)
        self.assertEqual(self.log_text(window), expected)  # and no line more
        s.close_window(window["hwnd"])
        self.assertEqual(app.wait(15), 0)

    def test_closing_click_ends_the_program_and_leaves_no_hook_behind(self):
        s = self.session
        app, window = self.start_monitoring()
        button = child(window, "Button")
        s.click_at(*center(button["screen_rect"]))
        s.wait_for_no_window(TITLE, timeout=10)
        # Clicks right after the window went must find no hook of ours.
        s.move(*DESKTOP_POINT)
        s.xdotool("click", "--repeat", "5", "--delay", "20", "1")
        s.xdotool("click", "3")
        self.assertEqual(app.wait(15), 0)
        self.assertEqual(s.windows("错误"), [])


def tearDownModule():
    leftovers = wine_session.wine_processes()
    if leftovers:
        raise AssertionError(f"Wine processes outlived their sessions: {leftovers}")


if __name__ == "__main__":
    unittest.main()
