"""Runs the 64-bit RightClickDesktop.exe under Wine in a virtual desktop.

On the user's X display when there is one; otherwise on a private Xvfb, with
a screenshot of the running program saved to a file named on the way. Runs
until the program ends or Ctrl+C, and leaves no Wine or X process behind.
"""

import os
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "e2e"))

from wine_session import WineSession  # noqa: E402

TITLE = "Varnok专用"


def main() -> int:
    display = os.environ.get("DISPLAY") or None
    screenshot = Path(os.environ.get("DESK_SCREENSHOT", ROOT / "build" / "RightClickDesktop-screenshot.png"))
    where = f"display {display}" if display else "a private Xvfb (no DISPLAY set)"
    print(f"Starting RightClickDesktop.exe under Wine on {where} ...", flush=True)
    with WineSession("run", display=display) as session:
        app = session.run_exe(session.exe("RightClickDesktop"))
        session.wait_for_window(TITLE, timeout=60)
        if not display:
            session.screenshot(str(screenshot.resolve()))
            print(f"Screenshot of the running program: {screenshot}", flush=True)
        print("Running. Press Ctrl+C to stop.", flush=True)
        try:
            code = app.wait(timeout=None)
        except KeyboardInterrupt:
            print("\nStopped.", flush=True)
            return 130
    print(f"RightClickDesktop.exe ended with exit code {code}.", flush=True)
    return code


if __name__ == "__main__":
    sys.exit(main())
