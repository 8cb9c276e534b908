"""Runs logbox_bench.exe under Wine on a private Xvfb and prints its table."""

import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))

from wine_session import WineSession, win64_dir  # noqa: E402

with WineSession("logbox_bench") as session:
    bench = session.run_exe(win64_dir() / "bench" / "wine" / "logbox_bench.exe")
    code = bench.wait(timeout=1800)
    print(bench.output(), end="")
sys.exit(code)
