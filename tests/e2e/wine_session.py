"""Private Wine sessions for the end-to-end tests.

A WineSession owns one Xvfb display, one WINEPREFIX (whose programs all run in a
Wine virtual desktop filling that display) and every process started in it.
The tests drive it as a person would, with xdotool as mouse and keyboard, and
read the real window system back through e2e_probe.exe.

    with WineSession("main_window") as s:
        app = s.run_exe(s.exe("RightClickDesktop"))
        win = s.wait_for_window("...")
        s.click_at(*s.close_box(win["hwnd"]))
        assert app.wait(10) == 0

Coordinates given to and returned by a session are Windows screen coordinates;
the session maps them to X (calibrated at start: so far the two are equal).

Everything started is ended in all cases: close() (the context manager),
atexit, SIGTERM/SIGHUP, and, should this Python process be killed outright, a
small watchdog process that notices the broken pipe and cleans up instead.

Environment:
    DESK_WIN64_DIR      folder of the built exes (default <repo>/build/win64)
    DESK_E2E_OUT        screenshots and logs (default <repo>/build/e2e-out)
    DESK_E2E_TEMPLATE   booted prefix kept for reuse (default
                        <repo>/build/e2e-prefix-template); "0" boots afresh
    DESK_WINE64, DESK_WINESERVER   Wine binaries (default /usr/lib/wine/...)
    DESK_WINEDEBUG      WINEDEBUG for the programs (default -all)
"""

from __future__ import annotations

import atexit
import fcntl
import json
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path
from typing import Any, Callable, NamedTuple, Optional, Sequence

REPO_ROOT = Path(__file__).resolve().parents[2]

HTCLOSE = 20
VK_LWIN = 0x5B
VK_D = 0x44
LLKHF_INJECTED = 0x10
LLKHF_UP = 0x80

# Bumped whenever the way a template prefix is made changes, so old ones are redone.
_TEMPLATE_FORMAT = 4
_TEMP_PREFIX = "desk-e2e-"
_FONT_DIRS = (Path("/usr/share/wine/fonts"), Path("/usr/share/fonts/truetype/wqy"))


class E2EError(Exception):
    """Something in the harness or the Wine session went wrong."""


class WaitTimeout(E2EError, TimeoutError):
    """A wait_* helper ran out of time."""


class ProbeError(E2EError):
    """e2e_probe.exe failed or printed something that is not JSON."""

    def __init__(self, args: Sequence[str], returncode: Optional[int], stderr: str, stdout: str = ""):
        self.probe_args = list(args)
        self.returncode = returncode
        self.stderr = stderr
        self.stdout = stdout
        super().__init__(f"e2e_probe {' '.join(args)} -> exit {returncode}: {stderr.strip() or stdout.strip()}")


# ---------------------------------------------------------------- paths


def win64_dir() -> Path:
    """Folder with RightClickDesktop.exe and the e2e exes."""
    return Path(os.environ.get("DESK_WIN64_DIR") or REPO_ROOT / "build" / "win64").resolve()


def out_dir() -> Path:
    """Folder for screenshots and logs, created on demand."""
    path = Path(os.environ.get("DESK_E2E_OUT") or REPO_ROOT / "build" / "e2e-out").resolve()
    path.mkdir(parents=True, exist_ok=True)
    return path


def find_exe(name: str) -> Path:
    """A built exe by target name, in DESK_WIN64_DIR or the tests/e2e folder below it."""
    file = name if name.lower().endswith(".exe") else name + ".exe"
    base = win64_dir()
    for candidate in (base / file, base / "tests" / "e2e" / file):
        if candidate.is_file():
            return candidate
    raise E2EError(f"{file} not found in {base} (build the win64 preset, or set DESK_WIN64_DIR)")


def win_path(path: os.PathLike | str) -> str:
    """The Windows name of a host path (Wine maps Z: to /)."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def _tool(env_name: str, default: str, fallback: str) -> str:
    chosen = os.environ.get(env_name)
    if chosen:
        return chosen
    if os.path.exists(default):
        return default
    return shutil.which(fallback) or default


WINE64 = _tool("DESK_WINE64", "/usr/lib/wine/wine64", "wine64")
WINESERVER = _tool("DESK_WINESERVER", "/usr/lib/wine/wineserver", "wineserver")


# ---------------------------------------------------------------- waiting


def wait_until(
    predicate: Callable[[], Any],
    timeout: float = 10.0,
    interval: float = 0.05,
    message: str = "condition",
) -> Any:
    """Poll predicate until it returns something truthy and return that.

    An E2EError raised by the predicate (a window closing while the probe reads
    it, say) counts as "not yet"; the last one is named if time runs out.
    """
    deadline = time.monotonic() + timeout
    last_error: Optional[BaseException] = None
    while True:
        try:
            value = predicate()
            if value:
                return value
        except E2EError as error:
            last_error = error
        if time.monotonic() >= deadline:
            detail = f" (last error: {last_error})" if last_error else ""
            raise WaitTimeout(f"timed out after {timeout:.1f} s waiting for {message}{detail}")
        time.sleep(interval)


# ---------------------------------------------------------------- processes


class WineProcess:
    """A Windows program started with run_exe; its output goes to log files."""

    def __init__(self, popen: subprocess.Popen, name: str, stdout_path: Path, stderr_path: Path):
        self.popen = popen
        self.name = name
        self.stdout_path = stdout_path
        self.stderr_path = stderr_path

    @property
    def pid(self) -> int:
        """Host pid of the wine64 process (not the Windows pid)."""
        return self.popen.pid

    @property
    def returncode(self) -> Optional[int]:
        return self.popen.poll()

    def poll(self) -> Optional[int]:
        return self.popen.poll()

    def wait(self, timeout: float = 15.0) -> int:
        """Exit code (0..255; Windows' -1 arrives as 255) or WaitTimeout."""
        try:
            return self.popen.wait(timeout)
        except subprocess.TimeoutExpired:
            raise WaitTimeout(f"{self.name} still running after {timeout:.1f} s") from None

    def output(self) -> str:
        """What the program wrote to stdout and stderr so far."""
        parts = []
        for path in (self.stdout_path, self.stderr_path):
            try:
                parts.append(path.read_text(encoding="utf-8", errors="replace"))
            except FileNotFoundError:
                pass
        return "".join(parts)

    def kill(self) -> None:
        if self.popen.poll() is None:
            self.popen.kill()
            try:
                self.popen.wait(5)
            except subprocess.TimeoutExpired:
                pass


class KeyEvent(NamedTuple):
    down: bool
    vk: int
    flags: int

    @property
    def injected(self) -> bool:
        return bool(self.flags & LLKHF_INJECTED)


class MouseEvent(NamedTuple):
    message: int  # WM_* (0x0201 left down, 0x0204 right down, 0x020A wheel, ...)
    x: int
    y: int
    flags: int
    data: int  # mouseData: the wheel delta in the high word
    time: int  # event time, ms

    @property
    def wheel_delta(self) -> int:
        high = (self.data >> 16) & 0xFFFF
        return high - 0x10000 if high & 0x8000 else high


def _parse_key(line: str) -> Optional[KeyEvent]:
    parts = line.split()
    if len(parts) != 3 or parts[0] not in ("down", "up"):
        return None
    return KeyEvent(parts[0] == "down", int(parts[1], 16), int(parts[2], 16))


def _parse_mouse(line: str) -> Optional[MouseEvent]:
    parts = line.split()
    if len(parts) != 6:
        return None
    return MouseEvent(int(parts[0], 16), int(parts[1]), int(parts[2]), int(parts[3], 16), int(parts[4], 16), int(parts[5]))


class HookLog:
    """A running `e2e_probe keylog|mouselog`: what a low-level hook sees, live."""

    def __init__(self, session: "WineSession", kind: str, path: Path, seconds: float):
        self.session = session
        self.kind = kind
        self.path = path
        self.stop_path = Path(str(path) + ".stop")
        for stale in (self.path, self.stop_path):
            stale.unlink(missing_ok=True)
        self.process = session.run_exe(
            session.probe_exe, kind, win_path(path), f"{seconds:g}", name=f"{kind}-{path.stem}"
        )
        self._parse = _parse_key if kind == "keylog" else _parse_mouse
        wait_until(self._ready, timeout=20, message=f"{kind} hook to be installed")

    def _ready(self) -> bool:
        if self.process.poll() is not None:
            raise E2EError(f"{self.kind} ended early (exit {self.process.poll()}): {self.process.output()}")
        return self.lines()[:1] == ["ready"]

    def lines(self) -> list[str]:
        try:
            return self.path.read_text(encoding="ascii", errors="replace").splitlines()
        except FileNotFoundError:
            return []

    def events(self) -> list:
        """Complete lines so far, parsed (KeyEvent or MouseEvent)."""
        text = self.path.read_text(encoding="ascii", errors="replace") if self.path.exists() else ""
        complete = text[: text.rfind("\n") + 1]  # the hook may be mid-write
        parsed = (self._parse(line) for line in complete.splitlines())
        return [event for event in parsed if event is not None]

    def clear(self) -> None:
        """Forget what was logged so far (the probe appends, so truncating is safe)."""
        with open(self.path, "r+b") as f:
            f.truncate(0)

    def wait_for(self, predicate: Callable[[list], Any], timeout: float = 5.0, message: str = "") -> list:
        """Wait until predicate(events) holds; returns the events."""

        def check():
            events = self.events()
            return events if predicate(events) else None

        return wait_until(check, timeout=timeout, interval=0.03, message=message or f"{self.kind} events")

    def stop(self, timeout: float = 10.0) -> list:
        """End the hook (stop file, then kill) and return every event."""
        if self.process.poll() is None:
            self.stop_path.touch()
            try:
                self.process.wait(timeout)
            except WaitTimeout:
                self.process.kill()
        return self.events()


# ---------------------------------------------------------------- the session

_live_sessions: list["WineSession"] = []
_handlers_installed = False
_lock = threading.Lock()


def _close_all() -> None:
    for session in list(_live_sessions):
        session.close()


def _on_signal(signum, frame):  # noqa: ARG001 - signal handler signature
    _close_all()
    signal.signal(signum, signal.SIG_DFL)
    os.kill(os.getpid(), signum)


def _install_handlers() -> None:
    global _handlers_installed
    if _handlers_installed:
        return
    _handlers_installed = True
    atexit.register(_close_all)
    if threading.current_thread() is threading.main_thread():
        for signum in (signal.SIGTERM, signal.SIGHUP):
            if signal.getsignal(signum) in (signal.SIG_DFL, None):
                signal.signal(signum, _on_signal)


# Runs beside the tests; if they die without saying "done", it cleans up.
_WATCHDOG = r"""
import os, shutil, signal, subprocess, sys, time
wineserver, prefix, tmp, tmpdir = sys.argv[1:5]
xvfb = None
done = False
for line in sys.stdin:
    word = line.split()
    if word[:1] == ["xvfb"]:
        xvfb, display = int(word[1]), word[2]
    elif word[:1] == ["done"]:
        done = True
if not done:
    env = dict(os.environ, WINEPREFIX=prefix, TMPDIR=tmpdir)
    if os.path.isdir(prefix):
        subprocess.run([wineserver, "-k"], env=env, timeout=20, capture_output=True)
        subprocess.run([wineserver, "-w"], env=env, timeout=20, capture_output=True)
    if xvfb:
        def alive():
            try:
                with open(f"/proc/{xvfb}/cmdline", "rb") as f:
                    return b"Xvfb" in f.read()
            except OSError:
                return False
        for signum in (signal.SIGTERM, signal.SIGKILL):
            if alive():
                os.kill(xvfb, signum)
                for _ in range(50):
                    if not alive():
                        break
                    time.sleep(0.1)
        try:
            with open(f"/tmp/.X{display}-lock") as f:
                mine = f.read().strip() == str(xvfb)
        except OSError:
            mine = True
        if mine:
            for stale in (f"/tmp/.X{display}-lock", f"/tmp/.X11-unix/X{display}"):
                try:
                    os.unlink(stale)
                except OSError:
                    pass
    shutil.rmtree(tmp, ignore_errors=True)
"""


def _proc_environ(pid: str) -> bytes:
    try:
        with open(f"/proc/{pid}/environ", "rb") as f:
            return f.read()
    except OSError:
        return b""


def _proc_state(pid: str) -> str:
    try:
        with open(f"/proc/{pid}/stat", "rb") as f:
            return f.read().rsplit(b")", 1)[1].split()[0].decode()
    except (OSError, IndexError):
        return "?"


def _proc_cmdline(pid: str) -> str:
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            return f.read().replace(b"\0", b" ").decode(errors="replace").strip()
    except OSError:
        return ""


_ANY_SESSION = "WINEPREFIX=" + os.path.join(tempfile.gettempdir(), _TEMP_PREFIX)


def wine_processes(prefix_marker: str = _ANY_SESSION) -> list[tuple[int, str]]:
    """Live (not zombie) processes whose environment holds prefix_marker.

    By default: every Wine process of any session of this module, which is
    how the tests check that nothing outlived them.
    """
    marker = prefix_marker.encode()
    found = []
    for pid in os.listdir("/proc"):
        if not pid.isdigit() or int(pid) == os.getpid():
            continue
        if marker in _proc_environ(pid) and _proc_state(pid) not in ("Z", "X", "?"):
            found.append((int(pid), _proc_cmdline(pid)))
    return found


def _display_taken(n: int) -> bool:
    return os.path.exists(f"/tmp/.X11-unix/X{n}") or os.path.exists(f"/tmp/.X{n}-lock")


def _wine_version() -> str:
    result = subprocess.run([WINE64, "--version"], capture_output=True, text=True, timeout=30)
    return result.stdout.strip() or result.stderr.strip()


class WineSession:
    """One Xvfb display + one Wine prefix + everything run in them."""

    def __init__(
        self,
        name: str = "e2e",
        *,
        width: int = 1024,
        height: int = 768,
        lang: str = "C.UTF-8",
        use_template: Optional[bool] = None,
        display: Optional[str] = None,
    ):
        self.name = name
        # An X display of the user's to run on instead of a private Xvfb;
        # nothing is then moved or clicked to calibrate it.
        self.external_display = display
        self.width = width
        self.height = height
        self.lang = lang
        template_env = os.environ.get("DESK_E2E_TEMPLATE", "")
        self.use_template = use_template if use_template is not None else template_env != "0"
        self.template_dir = (
            Path(template_env)
            if template_env not in ("", "0", "1")
            else REPO_ROOT / "build" / "e2e-prefix-template"
        )
        self.display: Optional[str] = None
        self.tmp: Optional[Path] = None
        self.prefix: Optional[Path] = None
        self.env: dict[str, str] = {}
        self.out = out_dir() / name
        self.x_offset = (0, 0)  # X coordinate minus Windows coordinate
        self.timings: dict[str, float] = {}
        self._xvfb: Optional[subprocess.Popen] = None
        self._watchdog: Optional[subprocess.Popen] = None
        self._anchor: Optional[WineProcess] = None
        self._processes: list[WineProcess] = []
        self._probe_exe: Optional[Path] = None
        self._closed = False
        self._started = False

    # ------------------------------------------------------------ lifetime

    def __enter__(self) -> "WineSession":
        return self.start()

    def __exit__(self, *exc) -> None:
        self.close()

    @property
    def probe_exe(self) -> Path:
        if self._probe_exe is None:
            self._probe_exe = find_exe("e2e_probe")
        return self._probe_exe

    def exe(self, name: str) -> Path:
        """A built exe by target name (see find_exe)."""
        return find_exe(name)

    def start(self) -> "WineSession":
        """Xvfb, prefix, virtual desktop; ready for run_exe when it returns."""
        if self._started:
            return self
        self._started = True
        _ = self.probe_exe  # fail before starting anything if it is not built
        t0 = time.monotonic()
        with _lock:
            _install_handlers()
            _live_sessions.append(self)
        try:
            self.out.mkdir(parents=True, exist_ok=True)
            self.tmp = Path(tempfile.mkdtemp(prefix=_TEMP_PREFIX))
            self.prefix = self.tmp / "prefix"
            self._start_watchdog()
            if self.external_display:
                self.display = self.external_display
            else:
                self._start_xvfb()
            self.timings["xvfb"] = time.monotonic() - t0
            self.env = self._wine_env(self.prefix, self.tmp / "tmp")
            t1 = time.monotonic()
            if self.use_template:
                template = self._ensure_template()
                t2 = time.monotonic()
                subprocess.run(["cp", "-a", "--reflink=auto", str(template), str(self.prefix)], check=True)
                (self.prefix / "wineserver").unlink(missing_ok=True)
                self.timings["template"] = t2 - t1
                self.timings["copy_prefix"] = time.monotonic() - t2
            else:
                self._boot_prefix(self.prefix, self.env)
                self.timings["boot_prefix"] = time.monotonic() - t1
            t3 = time.monotonic()
            # The anchor keeps Wine's desktop up between the programs a test runs.
            self._anchor = self.run_exe(self.probe_exe, "hold", name="anchor", stdin=True)
            # Nothing else starts until the anchor has brought Wine up: two
            # programs starting a cold prefix at once can stall one for 30 s.
            wait_until(self._anchor_holding, timeout=90, interval=0.05, message="Wine to start")
            if not self.external_display:
                self._calibrate()
            self.timings["desktop"] = time.monotonic() - t3
            self.timings["total"] = time.monotonic() - t0
            return self
        except BaseException:
            self.close()
            raise

    def close(self) -> None:
        """End every process of the session and remove its files. Idempotent."""
        if self._closed:
            return
        self._closed = True
        try:
            if self._anchor and self._anchor.popen.stdin:
                try:
                    self._anchor.popen.stdin.close()
                except OSError:
                    pass
            if self.prefix is not None and self.prefix.exists() and self.env:
                self._kill_wine(self.env)
            for process in self._processes:
                process.kill()
                for stream in (process.popen.stdin, process.popen.stdout, process.popen.stderr):
                    if stream:
                        stream.close()
            self._stop_xvfb()
            if self.tmp is not None:
                shutil.rmtree(self.tmp, ignore_errors=True)
            if self._watchdog is not None:
                try:
                    self._watchdog.stdin.write(b"done\n")
                    self._watchdog.stdin.close()
                except OSError:
                    pass
                try:
                    self._watchdog.wait(10)
                except subprocess.TimeoutExpired:
                    self._watchdog.kill()
                    self._watchdog.wait()
        finally:
            with _lock:
                if self in _live_sessions:
                    _live_sessions.remove(self)

    def leftover_processes(self) -> list[tuple[int, str]]:
        """Processes of this session still alive (expected empty after close)."""
        found = wine_processes("WINEPREFIX=" + str(self.prefix)) if self.prefix else []
        if self._xvfb is not None and self._xvfb.poll() is None:
            found.append((self._xvfb.pid, "Xvfb " + str(self.display)))
        return found

    # ------------------------------------------------------------ setup parts

    def _wine_env(self, prefix: Path, tmpdir: Path) -> dict[str, str]:
        env = dict(os.environ)
        tmpdir.mkdir(parents=True, exist_ok=True)
        env.update(
            WINEPREFIX=str(prefix),
            # Debian's Wine keeps its server socket in $TMPDIR/wine-XXXXXX (named
            # in <prefix>/wineserver); ours goes away with the session.
            TMPDIR=str(tmpdir),
            WINEDEBUG=os.environ.get("DESK_WINEDEBUG", "-all"),
            WINEDLLOVERRIDES="mscoree,mshtml=",  # no Mono/Gecko install prompts
            DISPLAY=str(self.display),
            LANG=self.lang,
            LC_ALL=self.lang,  # Wine reads UTF-8 command lines only in a UTF-8 locale
        )
        env.pop("WINESERVER", None)
        return env

    def _start_watchdog(self) -> None:
        self._watchdog = subprocess.Popen(
            [sys.executable, "-c", _WATCHDOG, WINESERVER, str(self.prefix), str(self.tmp), str(self.tmp / "tmp")],
            stdin=subprocess.PIPE,
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
            start_new_session=True,  # a Ctrl-C to the tests must not stop it first
        )

    def _start_xvfb(self) -> None:
        first = 100 + os.getpid() % 400
        for n in range(first, first + 200):
            if _display_taken(n):
                continue
            read_fd, write_fd = os.pipe()
            try:
                with open(self.out / "xvfb.log", "wb") as log:
                    xvfb = subprocess.Popen(
                        ["Xvfb", f":{n}", "-screen", "0", f"{self.width}x{self.height}x24",
                         "-nolisten", "tcp", "-noreset", "-displayfd", str(write_fd)],
                        pass_fds=(write_fd,),
                        stdout=subprocess.DEVNULL,
                        stderr=log,
                        start_new_session=True,
                    )
            finally:
                os.close(write_fd)
            # Xvfb writes the display number once it accepts clients; EOF means
            # it died, most likely because another server took :n meanwhile.
            answer = b""
            deadline = time.monotonic() + 20
            with os.fdopen(read_fd, "rb", buffering=0) as pipe:
                while not answer.endswith(b"\n") and time.monotonic() < deadline:
                    ready, _, _ = select.select([pipe], [], [], 0.2)
                    if ready:
                        chunk = pipe.read(64)
                        if not chunk:
                            break
                        answer += chunk
            if answer.strip() == str(n).encode():
                self._xvfb = xvfb
                self.display = f":{n}"
                self._watchdog.stdin.write(f"xvfb {xvfb.pid} {n}\n".encode())
                self._watchdog.stdin.flush()
                return
            xvfb.kill()
            xvfb.wait()
        raise E2EError("no free X display for Xvfb")

    def _stop_xvfb(self) -> None:
        if self._xvfb is None:
            return
        if self._xvfb.poll() is None:
            self._xvfb.terminate()
            try:
                self._xvfb.wait(5)
            except subprocess.TimeoutExpired:
                self._xvfb.kill()
                self._xvfb.wait()
        # A killed server leaves its lock and socket behind; remove them
        # unless another server has taken the number since.
        n = (self.display or ":").lstrip(":")
        lock = Path(f"/tmp/.X{n}-lock")
        try:
            mine = lock.read_text().strip() == str(self._xvfb.pid)
        except OSError:
            mine = True
        if mine:
            lock.unlink(missing_ok=True)
            Path(f"/tmp/.X11-unix/X{n}").unlink(missing_ok=True)

    def _boot_prefix(self, prefix: Path, env: dict[str, str]) -> None:
        def wine(*args: str, timeout: float = 180) -> None:
            result = subprocess.run([WINE64, *args], env=env, capture_output=True, timeout=timeout)
            if result.returncode != 0:
                raise E2EError(f"wine64 {' '.join(args)} failed: {result.stderr.decode(errors='replace')[-2000:]}")

        try:
            wine("wineboot", "--init")
            settings = prefix / "e2e-settings.reg"
            settings.write_bytes(self._settings_reg().encode("utf-16"))  # BOM + UTF-16LE, as regedit writes
            wine("reg", "import", win_path(settings))
            settings.unlink()
            subprocess.run([WINESERVER, "-w"], env=env, timeout=120, check=True)
        except BaseException:
            self._kill_wine(env)
            raise
        # Debian's Wine does not find its own symbol font, which draws the
        # caption buttons; a copy in the prefix's font folder is found.
        marlett = Path("/usr/share/wine/fonts/marlett.ttf")
        if marlett.is_file():
            shutil.copy(marlett, prefix / "drive_c" / "windows" / "Fonts" / marlett.name)
        # wineboot links Desktop, Documents, ... to $HOME; a test must never
        # write there.
        users = prefix / "drive_c" / "users"
        for link in users.glob("*/*"):
            if link.is_symlink():
                link.unlink()
                link.mkdir()

    def _settings_reg(self) -> str:
        """Registry settings every session gets, as a .reg file."""

        def multi_sz(*items: str) -> str:
            data = ("\0".join(items) + "\0\0").encode("utf-16-le")
            return "hex(7):" + ",".join(f"{b:02x}" for b in data)

        lines = [
            "Windows Registry Editor Version 5.00",
            "",
            # Every program inside one virtual desktop the size of the screen:
            # xdotool input then reaches Wine's low-level hooks wherever it lands.
            r"[HKEY_CURRENT_USER\Software\Wine\Explorer]",
            '"Desktop"="Default"',
            "",
            r"[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]",
            f'"Default"="{self.width}x{self.height}"',
            "",
            # Chinese text falls back to WenQuanYi in the UI fonts, so that
            # screenshots show characters rather than boxes.
            r"[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink]",
        ]
        link = multi_sz("wqy-microhei.ttc,WenQuanYi Micro Hei")
        for face in ("Tahoma", "MS Shell Dlg", "MS Shell Dlg 2", "Microsoft Sans Serif", "Segoe UI",
                     "Lucida Sans Unicode", "Arial"):
            lines.append(f'"{face}"={link}')
        return "\r\n".join(lines) + "\r\n"

    def _ensure_template(self) -> Path:
        """The booted template prefix, made under a lock if missing or stale."""
        stamp = {
            "format": _TEMPLATE_FORMAT,
            "wine": _wine_version(),
            "desktop": f"{self.width}x{self.height}",
            "lang": self.lang,
            "settings": self._settings_reg(),
            # Wine takes its fonts in at boot: a font package added later needs a new template.
            "fonts": sorted(p.name for d in _FONT_DIRS if d.is_dir() for p in d.iterdir()),
        }
        self.template_dir.parent.mkdir(parents=True, exist_ok=True)
        lock_path = self.template_dir.with_name(self.template_dir.name + ".lock")
        prefix = self.template_dir / "prefix"
        stamp_path = self.template_dir / "stamp.json"
        with open(lock_path, "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)  # one builder; readers wait for it
            try:
                if json.loads(stamp_path.read_text()) == stamp and (prefix / "system.reg").exists():
                    return prefix
            except (OSError, ValueError):
                pass
            # Built aside and renamed in whole: a half-made template is never used.
            building = Path(tempfile.mkdtemp(prefix=self.template_dir.name + ".", dir=self.template_dir.parent))
            try:
                self._boot_prefix(building / "prefix", self._wine_env(building / "prefix", building / "tmp"))
                # Its server is gone (wineserver -w): drop the pointer to its socket folder.
                (building / "prefix" / "wineserver").unlink(missing_ok=True)
                shutil.rmtree(building / "tmp")
                (building / "stamp.json").write_text(json.dumps(stamp))
                if self.template_dir.exists():
                    shutil.rmtree(self.template_dir)
                building.rename(self.template_dir)
            finally:
                shutil.rmtree(building, ignore_errors=True)
            return prefix

    def _kill_wine(self, env: dict[str, str]) -> None:
        """wineserver -k, then wait for the server to go; env must name the
        same prefix and TMPDIR as the programs had, or it finds no server."""
        for args in (["-k"], ["-w"]):
            try:
                subprocess.run([WINESERVER, *args], env=env, timeout=20, capture_output=True)
            except subprocess.TimeoutExpired:
                pass
        # Last resort for anything that escaped the server's kill.
        for pid, _ in wine_processes("WINEPREFIX=" + env["WINEPREFIX"]):
            try:
                os.kill(pid, signal.SIGKILL)
            except OSError:
                pass

    def _anchor_holding(self) -> bool:
        if self._anchor.poll() is not None:
            raise E2EError(f"Wine did not start (exit {self._anchor.poll()}): {self._anchor.output()[-2000:]}")
        return '"holding"' in self._anchor.output()

    def _calibrate(self) -> None:
        """Learn how X coordinates map to Windows ones (and wait for the desktop)."""
        before = wait_until(self.cursor, timeout=60, message="the Wine desktop")
        offsets = set()
        for x, y in ((200, 150), (self.width - 100, self.height - 80)):
            self.xdotool("mousemove", str(x), str(y))
            # The pointer motion reaches Windows a moment later, through the desktop.
            got = wait_until(lambda: (now := self.cursor()) != before and now, timeout=20,
                             message="the Wine cursor to follow the X pointer")
            offsets.add((x - got[0], y - got[1]))
            before = got
        if len(offsets) != 1:
            raise E2EError(f"X and Windows coordinates are not a plain offset apart: {offsets}")
        self.x_offset = offsets.pop()

    # ------------------------------------------------------------ programs

    def run_exe(
        self, exe: os.PathLike | str, *args: str, name: Optional[str] = None, stdin: bool = False
    ) -> WineProcess:
        """Start a Windows exe in the session; returns at once."""
        if self._closed or not self.env:
            raise E2EError("session is not running")
        label = name or Path(exe).stem
        logs = self.out / "logs"
        logs.mkdir(parents=True, exist_ok=True)
        stdout_path = logs / f"{label}.stdout"
        stderr_path = logs / f"{label}.stderr"
        with open(stdout_path, "wb") as out, open(stderr_path, "wb") as err:
            popen = subprocess.Popen(
                [WINE64, str(exe), *args],
                env=self.env,
                stdin=subprocess.PIPE if stdin else subprocess.DEVNULL,
                stdout=out,
                stderr=err,
                cwd=str(self.tmp),
                start_new_session=True,
            )
        process = WineProcess(popen, label, stdout_path, stderr_path)
        self._processes.append(process)
        return process

    def probe(self, *args: str | int, timeout: float = 30.0) -> dict:
        """Run e2e_probe with args and return its JSON."""
        if self._closed or not self.env:
            raise E2EError("session is not running")
        argv = [str(a) for a in args]
        try:
            result = subprocess.run(
                [WINE64, str(self.probe_exe), *argv],
                env=self.env,
                stdin=subprocess.DEVNULL,
                capture_output=True,
                timeout=timeout,
                cwd=str(self.tmp),
            )
        except subprocess.TimeoutExpired:
            raise ProbeError(argv, None, f"no answer within {timeout} s") from None
        stdout = result.stdout.decode("utf-8", errors="replace")
        stderr = result.stderr.decode("utf-8", errors="replace")
        if result.returncode != 0:
            raise ProbeError(argv, result.returncode, stderr, stdout)
        lines = [line for line in stdout.splitlines() if line.strip()]
        try:
            return json.loads(lines[-1])
        except (IndexError, ValueError):
            raise ProbeError(argv, result.returncode, stderr, stdout) from None

    # ------------------------------------------------------------ windows

    def windows(self, title: Optional[str] = None, pid: Optional[int] = None) -> list[dict]:
        """Top-level windows of other processes (see probe.cpp for the fields)."""
        args = ["windows"]
        if title is not None:
            args += ["--title", title]
        if pid is not None:
            args += ["--pid", str(pid)]
        return self.probe(*args)["windows"]

    def wait_for_window(self, title: str, timeout: float = 15.0, visible: bool = True) -> dict:
        """The first top-level window titled exactly title, once it exists (and is visible)."""

        def find():
            for window in self.windows(title):
                if window["visible"] or not visible:
                    return window
            return None

        return wait_until(find, timeout=timeout, message=f"window {title!r}")

    def wait_for_no_window(self, title: str, timeout: float = 15.0) -> None:
        """Until no top-level window is titled title."""
        wait_until(lambda: not self.windows(title), timeout=timeout, message=f"window {title!r} to go")

    def window_text(self, hwnd: int) -> str:
        return self.probe("text", hwnd)["text"]

    def focus(self, hwnd: int) -> dict:
        """GetGUIThreadInfo of hwnd's thread: active, focus, capture, ... windows."""
        return self.probe("focus", hwnd)

    def hittest(self, hwnd: int, x: int, y: int) -> dict:
        """WM_NCHITTEST of hwnd at screen point (x, y)."""
        return self.probe("hittest", hwnd, x, y)

    def find_hit(self, hwnd: int, code: int) -> dict:
        """Box and center of the title-band area answering hit code."""
        return self.probe("findhit", hwnd, code)

    def close_box(self, hwnd: int) -> tuple[int, int]:
        """Screen point in the middle of hwnd's close button."""
        center = self.find_hit(hwnd, HTCLOSE)["center"]
        return center["x"], center["y"]

    def click_button(self, hwnd: int) -> dict:
        """BM_CLICK (presses a button without the mouse, e.g. a message box's OK)."""
        return self.probe("click", hwnd)

    def close_window(self, hwnd: int) -> None:
        """PostMessage WM_CLOSE."""
        self.probe("close", hwnd)

    def metrics(self) -> dict:
        return self.probe("metrics")

    def cursor(self) -> tuple[int, int]:
        """Windows' idea of the cursor position."""
        point = self.probe("cursor")
        return point["x"], point["y"]

    def wait_until(self, predicate: Callable[[], Any], timeout: float = 10.0, interval: float = 0.05,
                   message: str = "condition") -> Any:
        return wait_until(predicate, timeout, interval, message)

    # ------------------------------------------------------------ hooks

    def start_keylog(self, name: str = "keys", seconds: float = 600) -> HookLog:
        """A WH_KEYBOARD_LL observer; returns once its hook is installed."""
        return HookLog(self, "keylog", self.out / f"{name}.log", seconds)

    def start_mouselog(self, name: str = "mouse", seconds: float = 600) -> HookLog:
        """A WH_MOUSE_LL observer; returns once its hook is installed."""
        return HookLog(self, "mouselog", self.out / f"{name}.log", seconds)

    # ------------------------------------------------------------ mouse and keyboard

    def xdotool(self, *args: str) -> None:
        if self._closed or not self.display:
            raise E2EError("session is not running")
        result = subprocess.run(["xdotool", *args], env=dict(os.environ, DISPLAY=self.display),
                                capture_output=True, timeout=30)
        if result.returncode != 0:
            raise E2EError(f"xdotool {' '.join(args)} failed: {result.stderr.decode(errors='replace')}")

    def to_x(self, x: int, y: int) -> tuple[int, int]:
        return x + self.x_offset[0], y + self.x_offset[1]

    def move(self, x: int, y: int) -> None:
        """Pointer to screen point (x, y)."""
        self.xdotool("mousemove", *map(str, self.to_x(x, y)))

    def mouse_down(self, button: int = 1) -> None:
        self.xdotool("mousedown", str(button))

    def mouse_up(self, button: int = 1) -> None:
        self.xdotool("mouseup", str(button))

    def click(self, button: int = 1, *, hold: float = 0.0, count: int = 1, interval: float = 0.05) -> None:
        """count clicks where the pointer is; hold = seconds between down and up,
        interval = seconds from one click's up to the next one's down."""
        for i in range(count):
            if i:
                time.sleep(interval)
            if hold > 0:
                self.mouse_down(button)
                time.sleep(hold)
                self.mouse_up(button)
            else:
                self.xdotool("click", str(button))

    def click_at(self, x: int, y: int, button: int = 1, *, hold: float = 0.0, count: int = 1,
                 interval: float = 0.05) -> None:
        """Move to (x, y), then click as click() does (button 3 = right)."""
        self.move(x, y)
        self.click(button, hold=hold, count=count, interval=interval)

    def wheel(self, clicks: int = 1, *, x: Optional[int] = None, y: Optional[int] = None,
              interval: float = 0.02) -> None:
        """Mouse wheel: clicks > 0 away from the user (X button 4), < 0 towards (5)."""
        if x is not None and y is not None:
            self.move(x, y)
        button = "4" if clicks > 0 else "5"
        for i in range(abs(clicks)):
            if i:
                time.sleep(interval)
            self.xdotool("click", button)

    def key(self, *keys: str, delay: float = 0.03) -> None:
        """Press and release each xdotool key name in turn: 'Escape', 'alt+F4', 'shift+Tab'."""
        self.xdotool("key", "--delay", str(int(delay * 1000)), *keys)

    def key_down(self, key: str) -> None:
        self.xdotool("keydown", key)

    def key_up(self, key: str) -> None:
        self.xdotool("keyup", key)

    # ------------------------------------------------------------ pictures

    def screenshot(self, name: str) -> Path:
        """The whole screen as PNG in the session's output folder (or at an absolute path)."""
        path = Path(name)
        if not path.is_absolute():
            path = self.out / path
        if not path.suffix:
            path = path.with_suffix(".png")
        path.parent.mkdir(parents=True, exist_ok=True)
        result = subprocess.run(["import", "-window", "root", "-display", str(self.display), str(path)],
                                capture_output=True, timeout=30)
        if result.returncode != 0:
            raise E2EError(f"screenshot failed: {result.stderr.decode(errors='replace')}")
        return path
