"""Self-test of the end-to-end harness, against e2e_fixture_window.exe.

Before the harness is trusted with the real program it must show, on a window
whose every detail is known, that the probe reads the window system right, that
xdotool input lands where the probe says things are, that the low-level hooks
see that input, and that nothing outlives a session however it ends.

Run: python3 -m unittest discover -s tests/e2e -p 'test_harness.py' -v
(needs e2e_probe.exe and e2e_fixture_window.exe in DESK_WIN64_DIR).
"""

import signal
import subprocess
import sys
import textwrap
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import wine_session  # noqa: E402
from wine_session import HTCLOSE, ProbeError, WineSession, wait_until  # noqa: E402

TITLE = "测试窗口"
BUTTON_ID = 101
EDIT_ID = 102

WM_MOUSEWHEEL = 0x020A
WM_RBUTTONDOWN = 0x0204
WM_RBUTTONUP = 0x0205


def child(window: dict, control_id: int) -> dict:
    return next(c for c in window["children"] if c["id"] == control_id)


def center(rect: dict) -> tuple[int, int]:
    return (rect["left"] + rect["right"]) // 2, (rect["top"] + rect["bottom"]) // 2


class FixtureWindowTest(unittest.TestCase):
    """One session for the class: starting Wine is the slow part."""

    @classmethod
    def setUpClass(cls):
        cls.session = WineSession("harness").start()

    @classmethod
    def tearDownClass(cls):
        cls.session.close()

    def start_fixture(self):
        app = self.session.run_exe(self.session.exe("e2e_fixture_window"))
        self.addCleanup(app.kill)
        return app, self.session.wait_for_window(TITLE)

    def test_probe_reads_window_and_input_lands_where_it_says(self):
        s = self.session
        app, window = self.start_fixture()

        self.assertEqual(window["class"], "E2EFixtureWindow")
        rect = window["rect"]
        self.assertEqual((rect["left"], rect["top"]), (100, 100))
        self.assertEqual((rect["right"] - rect["left"], rect["bottom"] - rect["top"]), (300, 200))
        origin = window["client_origin"]
        self.assertTrue(rect["left"] < origin["x"] and rect["top"] < origin["y"] < rect["bottom"])

        for control_id, cls, text, local in [
            (BUTTON_ID, "Button", "按钮", (10, 10, 110, 38)),
            (EDIT_ID, "Edit", "第一行", (10, 48, 270, 148)),
        ]:
            with self.subTest(control=cls):
                c = child(window, control_id)
                self.assertEqual(c["class"], cls)
                self.assertEqual(c["text"], text)
                self.assertEqual(c["parent"], window["hwnd"])
                self.assertTrue(c["visible"] and c["enabled"])
                r = c["rect"]
                self.assertEqual((r["left"], r["top"], r["right"], r["bottom"]), local)
                self.assertEqual(c["screen_rect"]["left"], origin["x"] + local[0])
                self.assertEqual(c["screen_rect"]["top"], origin["y"] + local[1])

        focus = s.focus(window["hwnd"])
        self.assertEqual(focus["active"], window["hwnd"])
        self.assertEqual(focus["focus"], child(window, BUTTON_ID)["hwnd"])

        # The same press twice: once by message, once by a real click at the
        # point the probe reported; the EDIT (read across processes) counts both.
        edit = child(window, EDIT_ID)["hwnd"]
        s.click_button(child(window, BUTTON_ID)["hwnd"])
        wait_until(lambda: s.window_text(edit).endswith("按下 1"), timeout=5, message="first press")
        s.click_at(*center(child(window, BUTTON_ID)["screen_rect"]))
        wait_until(lambda: s.window_text(edit) == "第一行\r\n按下 1\r\n按下 2", timeout=5, message="second press")

        x, y = s.close_box(window["hwnd"])
        self.assertEqual(s.hittest(window["hwnd"], x, y)["hit"], HTCLOSE)
        self.assertLess(abs(x - (rect["right"] - 15)), 15, "close box expected at the right of the caption")
        s.screenshot("fixture_before_close")
        s.click_at(x, y)
        self.assertEqual(app.wait(10), 0)
        s.wait_for_no_window(TITLE, timeout=5)

    def test_hooks_see_xdotool_keys_and_mouse(self):
        s = self.session
        keys = s.start_keylog("harness_keys")
        self.addCleanup(keys.stop)
        # (xdotool key, virtual keys in press order); nothing here acts on a window.
        cases = [
            ("a", [0x41]),
            ("shift+Tab", [0xA0, 0x09]),
            ("ctrl+b", [0xA2, 0x42]),
            ("F5", [0x74]),
        ]
        for key, vks in cases:
            with self.subTest(key=key):
                keys.clear()
                s.key(key)
                events = keys.wait_for(lambda ev: sum(not e.down for e in ev) == len(vks), message=key)
                self.assertEqual([e.vk for e in events if e.down], vks)
                self.assertEqual(sorted(e.vk for e in events if not e.down), sorted(vks))
                self.assertFalse(any(e.injected for e in events), "xdotool input must look like hardware")

        mouse = s.start_mouselog("harness_mouse")
        self.addCleanup(mouse.stop)
        s.move(600, 500)
        mouse.clear()
        s.click(3, count=2, interval=0.08)
        s.wheel(1)
        s.wheel(-1)
        events = mouse.wait_for(lambda ev: sum(e.message == WM_MOUSEWHEEL for e in ev) == 2, message="wheel")
        buttons = [e.message for e in events if e.message in (WM_RBUTTONDOWN, WM_RBUTTONUP)]
        self.assertEqual(buttons, [WM_RBUTTONDOWN, WM_RBUTTONUP] * 2)
        self.assertEqual([e.wheel_delta for e in events if e.message == WM_MOUSEWHEEL], [120, -120])
        self.assertTrue(all((e.x, e.y) == (600, 500) for e in events))

    def test_probe_rejects_bad_arguments(self):
        for args, code in [
            (("bogus",), 2),
            (("text",), 2),
            (("text", "window"), 2),
            (("hittest", "1", "x", "2"), 2),
            (("keylog", "C:\\k.log", "-1"), 2),
            (("windows", "--title"), 2),
            (("text", "0x7ffffff0"), 1),
        ]:
            with self.subTest(args=args):
                with self.assertRaises(ProbeError) as caught:
                    self.session.probe(*args)
                self.assertEqual(caught.exception.returncode, code)
                self.assertIn("e2e_probe:", caught.exception.stderr)


def tearDownModule():
    leftovers = wine_session.wine_processes()
    if leftovers:
        raise AssertionError(f"Wine processes outlived their sessions: {leftovers}")


# Started in a child Python so that it can die the way a killed test run dies.
_DOOMED = textwrap.dedent(
    """
    import os, signal, sys, time
    sys.path.insert(0, {here!r})
    from wine_session import WineSession
    s = WineSession("harness_doomed").start()
    s.run_exe(s.exe("e2e_fixture_window"))
    s.wait_for_window({title!r})
    s.start_keylog("doomed_keys")
    print(s.prefix, s.display, s._xvfb.pid, flush=True)
    os.kill(os.getpid(), {signum})
    time.sleep(60)
    """
)


class CleanupTest(unittest.TestCase):
    def assert_gone(self, prefix: Path, display: str, xvfb_pid: int):
        def gone():
            alive = wine_session.wine_processes("WINEPREFIX=" + str(prefix))
            xvfb = Path(f"/proc/{xvfb_pid}").exists() and b"Xvfb" in Path(f"/proc/{xvfb_pid}/cmdline").read_bytes()
            return not alive and not xvfb and not prefix.exists()

        wait_until(gone, timeout=30, interval=0.2, message=f"session {prefix} to be cleaned up")
        n = display.lstrip(":")
        self.assertFalse(Path(f"/tmp/.X{n}-lock").exists() or Path(f"/tmp/.X11-unix/X{n}").exists())

    def test_closing_ends_running_programs(self):
        with WineSession("harness_close") as s:
            s.run_exe(s.exe("e2e_fixture_window"))
            s.wait_for_window(TITLE)
            s.start_keylog("close_keys")
            self.assertTrue(s.leftover_processes())
            prefix, display, xvfb_pid = s.prefix, s.display, s._xvfb.pid
        self.assertEqual(s.leftover_processes(), [])
        self.assert_gone(prefix, display, xvfb_pid)

    def test_dying_test_run_is_cleaned_up(self):
        here = str(Path(__file__).resolve().parent)
        # SIGTERM: the session's handler; SIGKILL: nothing runs, the watchdog must.
        for signum in (signal.SIGTERM, signal.SIGKILL):
            with self.subTest(signal=signum.name):
                script = _DOOMED.format(here=here, title=TITLE, signum=int(signum))
                doomed = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120)
                self.assertEqual(doomed.returncode, -signum, doomed.stderr)
                prefix, display, xvfb_pid = doomed.stdout.split()
                self.assert_gone(Path(prefix), display, int(xvfb_pid))


if __name__ == "__main__":
    unittest.main()
