"""Tests of check_exe.py against tiny exes built here with mingw-w64.

    python3 -m unittest discover -s tests/exe -v

Each case builds a small GUI program that differs from a good one in exactly
one way and asserts that exactly the checks meant to notice it fail. Skips
when the cross compilers are not installed.
"""

import concurrent.futures
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parents[1]
RESOURCES = ROOT / "platform" / "win32" / "resources"
sys.path.insert(0, str(HERE))
sys.path.insert(0, str(ROOT / "tools"))

import check_exe  # noqa: E402
import make_icon  # noqa: E402

TRIPLES = {"amd64": "x86_64-w64-mingw32", "i386": "i686-w64-mingw32"}
TOOLS_PRESENT = all(shutil.which(f"{triple}-{tool}")
                    for triple in TRIPLES.values() for tool in ("g++", "windres", "objdump"))

SOURCES = {
    # What the real program does: hooks found by name at run time, keybd_event called directly.
    "good": """
        #include <windows.h>
        int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
            FARPROC hook = GetProcAddress(GetModuleHandleA("user32.dll"), "SetWindowsHookExA");
            if (hook == nullptr) keybd_event(VK_LWIN, 0, 0, 0);
            return 0;
        }""",
    "direct_hook": """
        #include <windows.h>
        int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
            HHOOK hook = SetWindowsHookExA(WH_MOUSE_LL, nullptr, nullptr, 0);
            if (hook == nullptr) keybd_event(VK_LWIN, 0, 0, 0);
            return 0;
        }""",
    "direct_clock": """
        #include <windows.h>
        int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
            SYSTEMTIME now;
            GetLocalTime(&now);
            if (now.wYear == 0) keybd_event(VK_LWIN, 0, 0, 0);
            return 0;
        }""",
    "no_key": """
        #include <windows.h>
        int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
            return GetProcAddress(GetModuleHandleA("user32.dll"), "keybd_event") == nullptr;
        }""",
    # Pulls in the C++ runtime, so a non-static link needs libstdc++ and libgcc DLLs.
    "uses_runtime": """
        #include <windows.h>
        #include <stdexcept>
        #include <string>
        int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR command, int) {
            try {
                if (std::string(command).size() > 3) throw std::runtime_error(command);
            } catch (const std::exception&) {
                keybd_event(VK_LWIN, 0, 0, 0);
            }
            return 0;
        }""",
}

GOOD_MANIFEST = (RESOURCES / "app.manifest").read_text(encoding="utf-8")
VERSION_BLOCK = """
1 VERSIONINFO
FILEVERSION 1,0,0,0
BEGIN
END
"""


def rc_text(icon_name, icon_file, manifest_file, version=True):
    text = f'{icon_name} ICON "{icon_file.as_posix()}"\n1 24 "{manifest_file.as_posix()}"\n'
    return text + (VERSION_BLOCK if version else "")


# name: how the resources differ from the real ones (None: the real app.rc itself).
RESOURCE_VARIANTS = {
    "real": None,
    "none": "no .res file linked in",
    "other_icon_name": dict(icon_name="OTHER_ICON"),
    "two_icon_sizes": dict(icon_sizes=(16, 32)),
    "big_icon_sizes": dict(icon_sizes=(16, 32, 256)),
    "old_controls": dict(manifest=GOOD_MANIFEST.replace('version="6.0.0.0"', 'version="5.82.0.0"')),
    "broken_manifest": dict(manifest=GOOD_MANIFEST.replace("</assembly>", "")),
    "no_version": dict(version=False),
}

# Without the group the sizes and images are not looked at, so only this fails.
NO_ICON_GROUP = {"icon group DEFAULT_ICON"}
NEEDS_KEY = ("keybd_event",)

# The real build's runtime policy: only system DLLs at run time.
STATIC = ["-static", "-static-libgcc", "-static-libstdc++"]

# name, arch built, source, link flags, resources, --arch checked, required imports, failing checks
CASES = [
    ("good 64-bit", "amd64", "good", STATIC, "real", "amd64", NEEDS_KEY, set()),
    ("good 32-bit", "i386", "good", STATIC, "real", "i386", NEEDS_KEY, set()),
    ("good, stripped like the release", "amd64", "good", STATIC + ["-s"], "real", "amd64", NEEDS_KEY, set()),
    ("good, dll pinned", "amd64", "good", STATIC, "real", "amd64", ("user32.dll!keybd_event",), set()),
    ("32-bit exe checked as 64-bit", "i386", "good", STATIC, "real", "amd64", NEEDS_KEY,
     {"machine", "optional header magic"}),
    ("64-bit exe checked as 32-bit", "amd64", "good", STATIC, "real", "i386", NEEDS_KEY,
     {"machine", "optional header magic"}),
    ("console subsystem", "amd64", "good", STATIC + ["-mconsole"], "real", "amd64", NEEDS_KEY, {"subsystem"}),
    ("direct SetWindowsHookExA", "amd64", "direct_hook", STATIC, "real", "amd64", NEEDS_KEY,
     {"no direct hook or clock imports"}),
    ("direct GetLocalTime", "i386", "direct_clock", STATIC, "real", "i386", NEEDS_KEY,
     {"no direct hook or clock imports"}),
    ("keybd_event not imported", "amd64", "no_key", STATIC, "real", "amd64", NEEDS_KEY,
     {"imports keybd_event"}),
    ("keybd_event pinned to the wrong dll", "amd64", "good", STATIC, "real", "amd64",
     ("kernel32.dll!keybd_event",), {"imports kernel32.dll!keybd_event"}),
    ("C++ runtime DLLs", "i386", "uses_runtime", [], "real", "i386", NEEDS_KEY,
     {"only system DLLs"}),
    ("C++ runtime linked in", "i386", "uses_runtime", STATIC, "real", "i386", NEEDS_KEY, set()),
    ("no resources", "amd64", "good", STATIC, "none", "amd64", NEEDS_KEY,
     NO_ICON_GROUP | {"manifest", "version info"}),
    ("icon under another name", "amd64", "good", STATIC, "other_icon_name", "amd64", NEEDS_KEY,
     NO_ICON_GROUP),
    ("icon without 48x48", "amd64", "good", STATIC, "two_icon_sizes", "amd64", NEEDS_KEY, {"icon sizes"}),
    ("icon with 256 instead of 48", "amd64", "good", STATIC, "big_icon_sizes", "amd64", NEEDS_KEY,
     {"icon sizes"}),
    ("common controls 5", "amd64", "good", STATIC, "old_controls", "amd64", NEEDS_KEY, {"manifest"}),
    ("manifest not XML", "i386", "good", STATIC, "broken_manifest", "i386", NEEDS_KEY, {"manifest"}),
    ("no version info", "amd64", "good", STATIC, "no_version", "amd64", NEEDS_KEY, {"version info"}),
]


def run(command, cwd):
    result = subprocess.run(command, cwd=cwd, capture_output=True, text=True)
    if result.returncode != 0:
        raise RuntimeError(f"{' '.join(map(str, command))} failed:\n{result.stderr}")


@unittest.skipUnless(TOOLS_PRESENT, "mingw-w64 g++, windres and objdump for both targets are needed")
class BuiltExeTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = Path(tempfile.mkdtemp(prefix="check_exe_test_"))
        cls.addClassCleanup(shutil.rmtree, cls.work, True)
        builds = {(arch, source, tuple(flags), resources)
                  for _, arch, source, flags, resources, *_ in CASES}
        with concurrent.futures.ThreadPoolExecutor() as pool:
            rc_files = {name: cls.write_rc(name, change) for name, change in RESOURCE_VARIANTS.items()}
            res_jobs = {(arch, name): pool.submit(cls.compile_rc, arch, name, rc)
                        for arch in TRIPLES for name, rc in rc_files.items() if rc is not None}
            res_files = {key: job.result() for key, job in res_jobs.items()}
            jobs = {build: pool.submit(cls.link, *build, res_files.get((build[0], build[3])))
                    for build in builds}
            cls.exes = {build: job.result() for build, job in jobs.items()}

    @classmethod
    def write_rc(cls, name, change):
        if change is None:
            return RESOURCES / "app.rc"
        if isinstance(change, str):
            return None
        folder = cls.work / f"rc_{name}"
        folder.mkdir()
        icon = folder / "icon.ico"
        # One sample per pixel: these only need the right sizes, and 256 px is slow otherwise.
        icon.write_bytes(make_icon.build_ico(change.get("icon_sizes", make_icon.SIZES), supersample=1))
        manifest = folder / "app.manifest"
        manifest.write_text(change.get("manifest", GOOD_MANIFEST), encoding="utf-8")
        rc = folder / "app.rc"
        rc.write_text(rc_text(change.get("icon_name", "DEFAULT_ICON"), icon, manifest,
                              change.get("version", True)))
        return rc

    @classmethod
    def compile_rc(cls, arch, name, rc):
        out = cls.work / f"{name}_{arch}.res"
        run([f"{TRIPLES[arch]}-windres", rc, "-O", "coff", "-o", out], cls.work)
        return out

    @classmethod
    def link(cls, arch, source, flags, resources, res_file):
        stem = f"{source}_{arch}_{resources}_{'_'.join(f.strip('-') for f in flags) or 'dynamic'}"
        cpp = cls.work / f"{stem}.cpp"
        cpp.write_text(SOURCES[source])
        exe = cls.work / f"{stem}.exe"
        command = [f"{TRIPLES[arch]}-g++", "-O1", "-mwindows", cpp, *([res_file] if res_file else []),
                   *flags, "-o", exe]
        run(command, cls.work)
        return exe

    def exe(self, arch, source, flags, resources):
        return self.exes[(arch, source, tuple(flags), resources)]

    def test_cases(self):
        for name, arch, source, flags, resources, check_arch, required, failing in CASES:
            with self.subTest(name):
                data = self.exe(arch, source, flags, resources).read_bytes()
                checks = check_exe.run_checks(data, check_arch, required)
                failed = {c.name for c in checks if not c.ok}
                self.assertEqual(failed, failing, "\n".join(f"{c.ok} {c.name}: {c.found}" for c in checks))
                # A passing exe must have been looked at fully, not just not rejected.
                if not failing:
                    self.assertGreaterEqual({c.name for c in checks}, {
                        "machine", "subsystem", "no direct hook or clock imports", "only system DLLs",
                        "icon sizes", "icon images present", "manifest", "version info"})

    def test_findings_name_the_culprit(self):
        cases = [
            (("amd64", "direct_hook", STATIC, "real"), "amd64", "no direct hook or clock imports",
             "SetWindowsHookExA"),
            (("i386", "uses_runtime", [], "real"), "i386", "only system DLLs", "libstdc++-6.dll"),
            (("amd64", "good", STATIC, "two_icon_sizes"), "amd64", "icon sizes", "16x16, 32x32;"),
            (("i386", "good", STATIC, "real"), "amd64", "machine", "0x014c"),
        ]
        for build, arch, check_name, text in cases:
            with self.subTest(check_name):
                checks = check_exe.run_checks(self.exe(*build).read_bytes(), arch, ())
                found = {c.name: c.found for c in checks}[check_name]
                self.assertIn(text, found)

    def test_patched_resources(self):
        # Faults windres never makes, put in place by editing a good exe.
        data = self.exe("amd64", "good", STATIC, "real").read_bytes()
        groups = check_exe.read_resources(check_exe.parse_pe(data))[check_exe.RT_GROUP_ICON]
        group = next(iter(groups["DEFAULT_ICON"].values()))
        second = 6 + 14  # GRPICONDIR header, then 14-byte entries; nId is the last WORD
        name = "DEFAULT_ICON".encode("utf-16-le")
        signature = (0xFEEF04BD).to_bytes(4, "little")
        cases = [
            # windres upper-cases names itself, so the stored name is edited to test the comparison.
            ("name in lower case", name, "default_icon".encode("utf-16-le"), set()),
            ("name in mixed case", name, "Default_Icon".encode("utf-16-le"), set()),
            ("another name", name, "DEFAULT_ICOX".encode("utf-16-le"), {"icon group DEFAULT_ICON"}),
            ("group refers to a missing image", group,
             group[:second + 12] + (99).to_bytes(2, "little") + group[second + 14:], {"icon images present"}),
            ("group gives the wrong image length", group,
             group[:second + 8] + (1).to_bytes(4, "little") + group[second + 12:], {"icon images present"}),
            ("version signature", signature, (0xFEEF04BE).to_bytes(4, "little"), {"version info"}),
        ]
        for label, old, new, failing in cases:
            with self.subTest(label):
                self.assertEqual(data.count(old), 1)
                checks = check_exe.run_checks(data.replace(old, new), "amd64", NEEDS_KEY)
                self.assertEqual({c.name for c in checks if not c.ok}, failing)

    def test_imports_agree_with_objdump(self):
        builds = [("amd64", "good", STATIC, "real"), ("i386", "good", STATIC, "real"),
                  ("i386", "uses_runtime", [], "real"), ("amd64", "direct_hook", STATIC, "real")]
        for build in builds:
            arch = build[0]
            with self.subTest(build=build):
                exe = self.exe(*build)
                listing = subprocess.run([f"{TRIPLES[arch]}-objdump", "-p", exe], capture_output=True,
                                         text=True, check=True).stdout
                expected, dll = set(), None
                for line in listing.splitlines():
                    if "DLL Name:" in line:
                        dll = line.split("DLL Name:")[1].strip()
                    elif dll and re.fullmatch(r"\s+[0-9a-f]+\s+[0-9a-f]+\s+\w+", line):
                        expected.add((dll, line.split()[-1]))
                    elif not line.strip():
                        dll = None
                imports = check_exe.read_imports(check_exe.parse_pe(exe.read_bytes()))
                found = {(d, name) for d, names in imports.items() for name in names}
                self.assertGreater(len(expected), 20)
                self.assertEqual(found, expected)

    def test_damaged_file_fails_without_crashing(self):
        # Stripped like the real build, so nothing after the last section can be cut harmlessly.
        data = self.exe("amd64", "good", STATIC + ["-s"], "real").read_bytes()
        pe = int.from_bytes(data[0x3C:0x40], "little")
        sections = {s.name: s for s in check_exe.parse_pe(data).sections}
        damaged = {
            "empty": b"",
            "not MZ": b"ZM" + data[2:],
            "no PE signature": data[:pe] + b"XX\0\0" + data[pe + 4:],
            "cut inside headers": data[:pe + 40],
            "cut inside the imports": data[:sections[".idata"].raw_offset + 64],
            "cut inside the resources": data[:sections[".rsrc"].raw_offset + 512],
            "cut in half": data[: len(data) // 2],
            "cut inside the last section": data[:-100],
        }
        for name, blob in damaged.items():
            with self.subTest(name):
                checks = check_exe.run_checks(blob, "amd64", NEEDS_KEY)
                self.assertEqual([(c.name, c.ok) for c in checks], [("readable PE file", False)])
        self.assertTrue(all(c.ok for c in check_exe.run_checks(data, "amd64", NEEDS_KEY)))

    def test_command_line(self):
        good32 = self.exe("i386", "good", STATIC, "real")
        hook64 = self.exe("amd64", "direct_hook", STATIC, "real")
        cases = [
            (["--arch", "i386", "--require-import", "keybd_event", good32], 0, "FAIL"),
            (["--arch", "amd64", "--require-import", "keybd_event", good32], 1, "FAIL machine: 0x014c"),
            (["--arch", "amd64", "--require-import", "keybd_event", hook64], 1,
             "FAIL no direct hook or clock imports: USER32.dll!SetWindowsHookExA"),
            (["--arch", "amd64", self.work / "missing.exe"], 1, "FAIL readable PE file"),
            (["--arch", "arm64", good32], 2, None),
        ]
        for args, code, text in cases:
            with self.subTest(args=[str(a) for a in args]):
                result = subprocess.run([sys.executable, HERE / "check_exe.py", *args],
                                        capture_output=True, text=True)
                self.assertEqual(result.returncode, code, result.stdout + result.stderr)
                lines = result.stdout.splitlines()
                if code == 0:
                    self.assertNotIn(text, result.stdout)
                    self.assertTrue(all(l.startswith("PASS ") for l in lines[:-1]), result.stdout)
                elif text:
                    self.assertIn(text, result.stdout)


class IconFileTest(unittest.TestCase):
    def test_committed_icon_is_what_the_script_draws(self):
        committed = (RESOURCES / "app.ico").read_bytes()
        self.assertEqual(committed, make_icon.build_ico(), "run python3 tools/make_icon.py")

    def test_icon_directory(self):
        data = make_icon.build_ico()
        _, kind, count = check_exe.struct.unpack_from("<HHH", data)
        self.assertEqual((kind, count), (1, 3))
        for i, size in enumerate((16, 32, 48)):
            width, height, _, _, planes, bits, length, offset = check_exe.struct.unpack_from(
                "<BBBBHHII", data, 6 + 16 * i)
            with self.subTest(size=size):
                self.assertEqual((width, height, planes, bits), (size, size, 1, 32))
                image = data[offset:offset + length]
                self.assertEqual(check_exe.icon_image_size(image), (size, size))
                # BGRA pixels then a 1-bit mask with rows padded to 4 bytes.
                self.assertEqual(length, 40 + size * size * 4 + size * ((size + 31) // 32) * 4)
                alphas = image[40 + 3:40 + size * size * 4:4]
                self.assertIn(0, alphas)  # transparent corners
                self.assertIn(255, alphas)  # solid body


if __name__ == "__main__":
    unittest.main()
