"""End-to-end harness: a private Xvfb display and Wine prefix, the tool started under Wine, and
ways to look at it from outside (window lists, control texts, the registry, screenshots)."""
import argparse
import os
import re
import types
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SETTINGS_KEY = r"HKCU\Software\Corvane\Padwarden\Parameters"
# Wine's own settings for the tool's program only.
TOOL_APP_KEY = r"HKCU\Software\Wine\AppDefaults\padwarden.exe"


def parse_build():
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "windows"))
    args, rest = parser.parse_known_args()
    sys.argv = [sys.argv[0]] + rest
    return os.path.abspath(args.build)


BUILD = parse_build()
ARTIFACTS = os.path.join(BUILD, "e2e-artifacts")


def read_resource_ids(path=os.path.join(ROOT, "resources", "resource.h")):
    """The ids the product's resource header defines, by name: a test names the command or control
    it presses, and a renumbering fails with its cause rather than pressing something else."""
    found = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            m = re.match(r"#define\s+(\w+)\s+(0x[0-9A-Fa-f]+|\d+)\s*$", line.strip())
            if m:
                found[m.group(1)] = int(m.group(2), 0)
    return types.SimpleNamespace(**found)


ids = read_resource_ids()


def wait_for(predicate, timeout=15.0, step=0.2, what="condition"):
    deadline = time.time() + timeout
    last = None
    while time.time() < deadline:
        last = predicate()
        if last:
            return last
        time.sleep(step)
    raise AssertionError(f"timed out after {timeout}s waiting for {what} (last: {last!r})")


class Display:
    """A private X server, so tests never need a real desktop."""

    def __init__(self):
        self.number = None
        self.proc = None

    def start(self):
        for n in range(91, 130):
            if not os.path.exists(f"/tmp/.X11-unix/X{n}") and not os.path.exists(f"/tmp/.X{n}-lock"):
                self.number = n
                break
        self.proc = subprocess.Popen(["Xvfb", f":{self.number}", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for(lambda: os.path.exists(f"/tmp/.X11-unix/X{self.number}"), 10, what="Xvfb")
        return f":{self.number}"

    def stop(self):
        if self.proc:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()


class Wine:
    """One Wine prefix per test file, on the private display."""

    def __init__(self, name, display, lang="en_US.UTF-8"):
        self.prefix = os.path.join(BUILD, "e2e-prefix", name)
        self.env = dict(os.environ)
        self.env.update({"WINEPREFIX": self.prefix, "WINEDEBUG": "-all", "DISPLAY": display,
                         "WINEDLLOVERRIDES": "mscoree,mshtml=", "LANG": lang, "LC_ALL": lang})
        self.procs = []

    def init(self):
        os.makedirs(os.path.dirname(self.prefix), exist_ok=True)
        # Whatever an earlier run left in this prefix goes first.
        self.run(["wineserver", "-k"], timeout=30)
        self.run(["wineserver", "-w"], timeout=60)
        self.start_server()
        system32 = os.path.join(self.prefix, "drive_c", "windows", "system32")
        if os.path.exists(os.path.join(self.prefix, "system.reg")) and \
                not os.path.exists(os.path.join(system32, "kernel32.dll")):
            # A prefix whose update was cut short runs nothing: make it anew.
            self.run(["wineserver", "-k"], timeout=30)
            self.run(["wineserver", "-w"], timeout=60)
            shutil.rmtree(self.prefix, ignore_errors=True)
            self.start_server()
        if not os.path.exists(os.path.join(self.prefix, "system.reg")):
            subprocess.run(["wineboot", "-i"], env=self.env, check=True, timeout=240,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            # A new prefix's first boot leaves two service managers running, and a driver that is
            # installed then is created in one and started from the other: start afresh.
            self.run(["wineserver", "-k"], timeout=30)
            self.run(["wineserver", "-w"], timeout=60)
            self.start_server()
        self.wait_ready()

    def start_server(self):
        # The server outlives the program that starts it and would inherit that program's output
        # pipes, so that reading them never ends: start it first, with no pipes.
        subprocess.run(["wineserver", "-p"], env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=30)

    def wait_ready(self, timeout=300):
        """Waits until a probe lists the shell's taskbar window. A fresh server's first program
        runs wineboot and waits for it (five minutes on a prefix's first start); explorer, which
        owns the desktop, starts with the first window call. A program that starts before all that
        is done is not a test's result."""
        argv = ["wine", os.path.join(BUILD, "winprobe.exe"), "windows"]
        deadline = time.monotonic() + timeout
        while True:
            r = self.run(argv, timeout=timeout)
            if r.returncode == 0 and "\tShell_TrayWnd\t" in r.stdout.decode("utf-8", "replace"):
                return
            if time.monotonic() > deadline:
                raise AssertionError(f"the prefix {self.prefix} never got ready: the probe ended with "
                                     f"{r.returncode}: {r.stdout[:300]!r} {r.stderr[:300]!r}")
            print(f"prefix not ready yet: the probe ended with {r.returncode} and {len(r.stdout)} bytes",
                  file=sys.stderr, flush=True)
            time.sleep(0.5)

    def start(self, exe, *args, cwd=None, stderr=None):
        proc = subprocess.Popen(["wine", os.path.join(BUILD, exe), *args], env=self.env, cwd=cwd or BUILD,
                                stdout=subprocess.DEVNULL, stderr=stderr or subprocess.DEVNULL)
        self.procs.append(proc)
        return proc

    # Wine's registry tools, as the tests call them (`reg add` always with /f): running one twice
    # leaves what running it once does.
    REPEATABLE_TOOLS = {"reg", "regedit"}

    def run(self, argv, timeout=60, check=False, repeatable=None):
        """Runs `argv` in the prefix. A repeatable command (by default, one of Wine's registry tools)
        that ends non-zero having printed nothing at all is run once more: every failure these
        programs know prints a line, so such a run never got to do its work (seen for `reg add`
        after a server restart, and for the probe's `windows` and `click`)."""
        if repeatable is None:
            repeatable = argv[0] == "wine" and len(argv) > 1 and argv[1] in self.REPEATABLE_TOOLS
        r = self.run_once(argv, timeout)
        if r.returncode != 0 and argv[0] == "wine" and b"ShellExecuteEx failed" in r.stdout + r.stderr:
            # Wine's launcher could not start the program at all (seen once for regedit on a
            # loaded machine): it never ran, so asking again changes nothing it did.
            print(f"{argv[:2]} was not started by Wine ({r.stdout[:120]!r}): asked again", file=sys.stderr)
            r = self.run_once(argv, timeout)
        elif r.returncode != 0 and repeatable and not r.stdout and not r.stderr:
            print(f"{argv[1:3]} ended with {r.returncode} and printed nothing: asked again", file=sys.stderr,
                  flush=True)
            r = self.run_once(argv, timeout)
        if check and r.returncode != 0:
            raise AssertionError(f"{argv} failed ({r.returncode}): {r.stdout!r} {r.stderr!r}")
        return r

    def run_once(self, argv, timeout):
        # Files, not pipes: services that a Wine program starts live on and would hold a pipe open.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            r = subprocess.run(argv, env=self.env, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                               timeout=timeout)
            out.seek(0)
            err.seek(0)
            r.stdout, r.stderr = out.read(), err.read()
        return r

    def probe(self, *args, check=True):
        argv = ["wine", os.path.join(BUILD, "winprobe.exe"), *[str(a) for a in args]]
        # The probe writes a line on stderr before it acts: a silent run did nothing, whatever its verb.
        r = self.run(argv, timeout=60, repeatable=True)
        if check and r.returncode != 0:
            raise AssertionError(f"winprobe {args} failed ({r.returncode}): {r.stdout!r} {r.stderr!r}")
        return r.stdout.decode("utf-8", "replace").replace("\r\n", "\n")

    def probe_background(self, *args):
        """Starts the probe for a verb that watches; returns the process and the file its answer
        grows in (a file, not a pipe, as for `run`)."""
        out = tempfile.TemporaryFile()
        proc = subprocess.Popen(["wine", os.path.join(BUILD, "winprobe.exe"), *[str(a) for a in args]],
                                env=self.env, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.DEVNULL)
        self.procs.append(proc)
        return proc, out

    def windows(self):
        rows = []
        for line in self.probe("windows").splitlines():
            parts = line.split("\t")
            if len(parts) < 6:
                continue
            x, y, w, h = (int(v) for v in parts[3].split(","))
            rows.append({"hwnd": parts[0], "pid": int(parts[1]), "visible": parts[2] == "1",
                         "rect": (x, y, w, h), "class": parts[4], "title": parts[5]})
        return rows

    def find(self, cls=None, title=None, visible=True):
        return [w for w in self.windows() if (cls is None or w["class"] == cls)
                and (title is None or w["title"] == title) and (not visible or w["visible"])]

    def reg_query(self, key=SETTINGS_KEY):
        r = self.run(["wine", "reg", "query", key])
        values = {}
        if r.returncode != 0:
            return None
        for line in r.stdout.decode("utf-8", "replace").splitlines():
            parts = line.split()
            if len(parts) >= 2 and parts[1].startswith("REG_"):
                values[parts[0]] = (parts[1], parts[2] if len(parts) > 2 else "")
        return values

    def reg_delete(self, key=SETTINGS_KEY):
        self.run(["wine", "reg", "delete", key, "/f"])

    def reg_add(self, name, kind, data, key=SETTINGS_KEY):
        self.run(["wine", "reg", "add", key, "/v", name, "/t", kind, "/d", str(data), "/f"], check=True)

    def reg_add_binaries(self, values, key=SETTINGS_KEY):
        """Several REG_BINARY values (name: bytes) in one regedit import: one Wine start, not one a value."""
        root, _, rest = key.partition("\\")
        root = {"HKCU": "HKEY_CURRENT_USER", "HKLM": "HKEY_LOCAL_MACHINE"}.get(root, root)
        lines = ["REGEDIT4", "", f"[{root}\\{rest}]"]
        lines += [f'"{name}"=hex:' + ",".join(f"{b:02x}" for b in data) for name, data in values.items()]
        with tempfile.NamedTemporaryFile("w", suffix=".reg", delete=False) as f:
            f.write("\r\n".join(lines) + "\r\n")
        try:
            self.run(["wine", "regedit", "/S", f.name], check=True)
        finally:
            os.remove(f.name)

    def stop_all(self, restart=True):
        for p in self.procs:
            if p.poll() is None:
                p.terminate()
        self.run(["wineserver", "-k"], timeout=30)
        # A process started while the old server is still going down hangs: wait for it to end.
        self.run(["wineserver", "-w"], timeout=60)
        if restart:
            self.start_server()
            self.wait_ready()
        for p in self.procs:
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                p.kill()
        self.procs = []


class Desktop:
    """xdotool and screenshots on the private display."""

    def __init__(self, display):
        self.env = dict(os.environ, DISPLAY=display)

    def xdo(self, *args):
        return subprocess.run(["xdotool", *[str(a) for a in args]], env=self.env, capture_output=True, timeout=20)

    def tray_window(self):
        r = self.xdo("search", "--name", "^Wine System Tray$")
        ids = r.stdout.decode().split()
        return ids[0] if ids else None

    def tray_geometry(self):
        wid = self.tray_window()
        if not wid:
            return None
        r = self.xdo("getwindowgeometry", wid)
        pos = size = None
        for line in r.stdout.decode().splitlines():
            line = line.strip()
            if line.startswith("Position:"):
                pos = [int(v) for v in line.split()[1].split(",")]
            if line.startswith("Geometry:"):
                size = [int(v) for v in line.split()[1].split("x")]
        if pos is None or size is None:
            return None
        return pos[0], pos[1], size[0], size[1]

    def click_tray_icon(self, button=3, index=0):
        x, y, _, h = wait_for(self.tray_geometry, 20, what="the tray window")
        # Wine's tray takes a click only once it has seen the pointer on the icon.
        self.xdo("mousemove", x + 10 + index * h, y + h // 2)
        time.sleep(0.2)
        # The moment of the click, on the clock the probes in the prefix read too.
        clicked = time.time()
        self.xdo("click", button)
        return clicked

    def key(self, *keys):
        for k in keys:
            self.xdo("key", k)
            time.sleep(0.15)

    def grab(self, x, y, w, h):
        """Pixels of a screen rectangle as (width, height, [(r, g, b), ...])."""
        with tempfile.TemporaryDirectory() as tmp:
            shot = os.path.join(tmp, "screen.png")
            subprocess.run(["import", "-window", "root", shot], env=self.env, capture_output=True, timeout=30)
            return read_ppm(["convert", shot, "-crop", f"{w}x{h}+{x}+{y}", "+repage", "ppm:-"])

    def screenshot(self, name):
        os.makedirs(ARTIFACTS, exist_ok=True)
        path = os.path.join(ARTIFACTS, name + ".png")
        subprocess.run(["import", "-window", "root", path], env=self.env, capture_output=True, timeout=30)
        return path


class ToolTestCase(unittest.TestCase):
    """Starts a display and a prefix for the test class; each test starts from an empty settings key."""

    prefix_name = "default"
    # Tiers that open and close many dialogs leave the tool's windows unmanaged (see setUpClass).
    unmanaged = False
    lang = "en_US.UTF-8"

    @classmethod
    def setUpClass(cls):
        cls.display = Display()
        name = cls.display.start()
        cls.wine = Wine(cls.prefix_name, name, cls.lang)
        cls.wine.init()
        cls.desk = Desktop(name)
        if cls.unmanaged:
            # No window manager runs on the private display, and Wine waits two seconds for one
            # each time it hides a window it has left to the manager: every dialog closed paid that.
            cls.wine.reg_add("Managed", "REG_SZ", "N", key=TOOL_APP_KEY + r"\X11 Driver")

    @classmethod
    def tearDownClass(cls):
        if cls.unmanaged:
            # The prefix is shared with other tiers, which keep Wine's defaults.
            cls.wine.reg_delete(TOOL_APP_KEY)
        cls.wine.stop_all(restart=False)
        cls.display.stop()

    def tearDown(self):
        self.wine.stop_all()

    def tool_windows(self):
        return self.wine.find(cls="PADWARDEN", visible=False)

    def start_tool(self, *args, exe="padwarden.exe"):
        proc = self.wine.start(exe, *args)
        wait_for(lambda: self.tool_windows(), 60, what="the tool's hidden window")
        wait_for(self.desk.tray_window, 30, what="the tray icon")
        return proc

    def open_menu(self):
        """Opens the menu to walk it. How soon it opens is `menu_opens_within`'s business: a click
        that Wine's tray lets fall is reported and made once more."""
        for attempt in (1, 2):
            self.desk.click_tray_icon()
            try:
                return wait_for(lambda: self.wine.find(cls="#32768"), 10, what="the tray menu")
            except AssertionError:
                if attempt == 2:
                    raise
                alive = self.wine.probe("send", self.tool_windows()[0]["hwnd"], 0, 0, 0, 2000, check=False).strip()
                sys.stderr.write(f"\nno menu 10 s after a click on the icon (the tool answers: {alive == '0'}, "
                                 f"windows: {[(w['class'], w['title']) for w in self.wine.find()]}); once more\n")
                self.desk.xdo("mousemove", 600, 500)

    def menu_opens_within(self, seconds):
        """Opens the menu, which must come within `seconds` of the click, and closes it again. The
        probe that times it watches from before the click, so Wine's start of a probe is not timed."""
        with MenuWatch(self.wine) as watch:
            clicked = self.desk.click_tray_icon()
            counts = watch.wait(lambda c: c[-1][0] > 0, max(10, 3 * seconds), "the menu")
            opened = next(t for n, t in counts if n > 0)
            self.desk.key("Escape")
            watch.wait(lambda c: c[-1][0] == 0, 5, "the menu closed")
        # Away from the icon: its tooltip would swallow the next click.
        self.desk.xdo("mousemove", 600, 500)
        # Closed first, so that a slow menu fails this check alone.
        self.assertLessEqual(opened - clicked, seconds, f"the menu opened {opened - clicked:.2f} s after the click")

    def choose_from_bottom(self, steps):
        """Opens the menu and picks the item `steps` places from its bottom (1 = Exit)."""
        self.open_menu()
        self.desk.key(*(["Up"] * steps), "Return")

    def submenu_opens(self, *keys):
        """Opens the menu, walks `keys` to a popup item and presses Right: whether its sub-menu
        opened. Told from what the menu did with the keys, not from a pause: a live item shows its
        sub-menu; on a greyed one Right does nothing, so an Escape after it closes the whole menu,
        which with a sub-menu open it would not."""
        with MenuWatch(self.wine) as watch:
            self.desk.click_tray_icon()
            watch.wait(lambda c: c[-1][0] == 1, 10, "the tray menu")
            self.desk.key(*keys, "Right")
            deepest = lambda c: max(n for n, _ in c)
            if watch.wait(lambda c: deepest(c) >= 2, 1.0, "the sub-menu", fail=False):
                self.desk.key("Escape", "Escape")
                watch.wait(lambda c: c[-1][0] == 0, 5, "the menu closed")
                return True
            self.desk.key("Escape")
            counts = watch.wait(lambda c: deepest(c) >= 2 or c[-1][0] == 0, 10, "the Escape taken")
            if deepest(counts) < 2:
                return False
            # A sub-menu that came late took that Escape; the menu itself is still open.
            watch.wait(lambda c: c[-1][0] == 1 and deepest(c) >= 2, 5, "the sub-menu closed")
            self.desk.key("Escape")
            watch.wait(lambda c: c[-1][0] == 0, 5, "the menu closed")
            return True


class MenuWatch:
    """The number of open menus at each change, as `winprobe menu-watch` sees it from inside the
    prefix, with the system time of each change. Ready before it returns, with no menu open."""

    def __init__(self, wine, seconds=60):
        self.proc, self.out = wine.probe_background("menu-watch", int(seconds * 1000))
        first = wait_for(self.counts, 60, what="the menu watch to start")[0][0]
        if first:
            self.close()
            raise AssertionError(f"{first} menus open before the watch began")

    def counts(self):
        """[(open menus, time)] so far, the first count included."""
        # pread: the probe shares this file's offset, so reading must not move it.
        data = os.pread(self.out.fileno(), 1 << 16, 0).decode("utf-8", "replace").replace("\r", "")
        rows = [line.split() for line in data.split("\n")[:-1]]  # the last one may be half written
        return [(int(r[0]), float(r[1])) for r in rows if len(r) == 2 and r[0].isdigit()]

    def wait(self, predicate, timeout, what, fail=True):
        """The counts once `predicate` holds of them; None past `timeout` unless `fail`."""
        deadline = time.time() + timeout
        while True:
            counts = self.counts()
            if counts and predicate(counts):
                return counts
            if time.time() >= deadline:
                if fail:
                    raise AssertionError(f"timed out after {timeout}s waiting for {what} (open menus: {counts})")
                return None
            time.sleep(0.02)

    def close(self):
        if self.proc.poll() is None:
            self.proc.terminate()
        self.proc.wait(10)
        self.out.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


class DriverCase(ToolTestCase):
    """The tool beside the simulated controller driver (ds3sim.exe). With `hid` set the simulator
    stands behind the system's HID stack and the test runs the product, padwarden.exe, as a user
    would; without it the simulator serves padwarden-sim.exe over its pipe, which only the tests
    that need the simulated build's own device table use. Each test starts from an empty settings
    key and a fresh request log."""

    hid = True
    work_name = "e2e-driver"

    @property
    def tool_exe(self):
        return "padwarden.exe" if self.hid else "padwarden-sim.exe"

    def setUp(self):
        self.wine.reg_delete()
        self.work = os.path.join(BUILD, self.work_name)
        os.makedirs(self.work, exist_ok=True)
        for old in os.listdir(self.work):
            os.remove(os.path.join(self.work, old))
        self.log = os.path.join(self.work, "requests.log")
        self.control = os.path.join(self.work, "control.txt")
        open(self.control, "w").close()

    def start_driver(self, script="add usb\nadd bth\n"):
        path = os.path.join(self.work, "script.txt")
        with open(path, "w") as f:
            f.write(script)
        args = ["--hid"] if self.hid else []
        self.ds3sim = self.wine.start("ds3sim.exe", *args, "--script", path, "--control", self.control,
                                      "--log", self.log)
        # Behind the HID stack, the first start in a new prefix installs the relay driver's nodes
        # and has Wine start its device service: seen once over 60 s on a loaded machine.
        started = time.monotonic()
        wait_for(lambda: "READY" in self.log_text(), 180 if self.hid else 60, what="ds3sim to be ready")
        if time.monotonic() - started > 30:
            print(f"ds3sim took {time.monotonic() - started:.0f} s to be ready", file=sys.stderr)

    def start(self, *args, devices=(("1", "DS3U"), ("2", "DS3B"))):
        """Starts the tool and waits until it has polled each (device, tag) of `devices`."""
        self.tool = self.start_tool(*args, exe=self.tool_exe)
        wait_for(lambda: all(self.log_lines(rf"^GET dev={d} ok tag={t}") for d, t in devices), 30,
                 what="the devices polled")
        self.main_window = self.tool_windows()[0]["hwnd"]
        return self.tool

    def control_command(self, *lines):
        with open(self.control, "a") as f:
            f.write("".join(line + "\n" for line in lines))

    def log_text(self):
        return read_text(self.log)

    def log_lines(self, pattern):
        return [l for l in self.log_text().splitlines() if re.search(pattern, l)]

    def mark(self):
        return len(self.log_text().splitlines())

    def lines_since(self, mark, pattern=""):
        return [l for l in self.log_text().splitlines()[mark:] if re.search(pattern, l)]

    def pass_decided(self, mark=0, usb="ok", bth="ok"):
        """Waits for a poll pass after `mark` whose USB and Bluetooth reads ended `usb` and `bth`
        ("ok" or "failed"), then for the next pass's first read: the tool decides what a pass
        found before it starts another, so its menu and icon show that pass by then."""
        def decided():
            reads = self.lines_since(mark, r"^GET dev=[12] ")
            for i in range(len(reads) - 1):
                if reads[i].startswith(f"GET dev=1 {usb}") and reads[i + 1].startswith(f"GET dev=2 {bth}"):
                    return any(l.startswith("GET dev=1 ") for l in reads[i + 2:])
            return False
        wait_for(decided, 30, what=f"a pass that found USB {usb} and Bluetooth {bth}, and the next")


def main():
    unittest.main(verbosity=2)


def tray_icon_pictures():
    """The tray pictures as {id: [(x, y, (r, g, b)), ...]} over their opaque pixels, read from the
    text pixel maps the icons are drawn from."""
    pictures = {}
    for n in range(201, 208):
        colours, rows, in_rows = {}, [], False
        with open(os.path.join(ROOT, "resources", "icons", f"icon{n}.txt")) as f:
            for line in f:
                line = line.rstrip("\n")
                if in_rows:
                    if line:
                        rows.append(line)
                elif line.startswith("colour "):
                    _, key, value = line.split()[:3]
                    if value != "transparent":
                        colours[key] = tuple(bytes.fromhex(value))
                elif line.strip() == "rows":
                    in_rows = True
        pictures[n] = [(x, y, colours[ch]) for y, row in enumerate(rows) for x, ch in enumerate(row) if ch in colours]
    return pictures


def identify_tray_icon(desk, pictures, strict=False):
    """The tray picture the first icon shows, or None. Only the picture's opaque pixels count,
    unless `strict`: then every pixel of its square does, the others in the tray's own background,
    so a picture drawn over an earlier one that shows through it matches none."""
    geometry = desk.tray_geometry()
    if not geometry:
        return None
    x, y, w, h = geometry
    gw, gh = min(w, 160), min(h, 24)
    if gw < 32 or gh < 16:
        return None
    _, _, px = desk.grab(x, y, gw, gh)
    # The tray's right end holds no icon: its commonest colour there is the background.
    tail = [px[row * gw + col] for row in range(gh) for col in range(gw - 8, gw)]
    background = max(set(tail), key=tail.count)
    close = lambda a, b: max(abs(p - q) for p, q in zip(a, b)) <= 40
    best, best_score = None, None
    for name, pixels in pictures.items():
        opaque = {(px_, py_): c for px_, py_, c in pixels}
        for dx in range(0, 9):
            for dy in range(0, gh - 15):
                score = 0
                for py_ in range(16):
                    row = (py_ + dy) * gw + dx
                    for px_ in range(16):
                        want = opaque.get((px_, py_), background if strict else None)
                        if want is not None and not close(px[row + px_], want):
                            score += 1
                # The base picture lies inside the status pictures: on a tie the fuller one wins.
                key = (score, -len(pixels))
                if best_score is None or key < best_score:
                    best, best_score = name, key
    return best if best_score is not None and best_score[0] <= 4 else None


def tray_frames(desk, seconds, pictures=None):
    """What consecutive grabs of the tray show over `seconds`: one picture id per grab, None for a
    grab that shows no picture cleanly."""
    pictures = pictures or tray_icon_pictures()
    frames = []
    end = time.time() + seconds
    while time.time() < end:
        frames.append(identify_tray_icon(desk, pictures, strict=True))
    return frames


def read_ppm(argv, env=None):
    """Runs an ImageMagick command that writes a binary PPM and returns (width, height, pixels)."""
    data = subprocess.run(argv, env=env, capture_output=True, timeout=30, check=True).stdout
    fields, pos = [], 0
    while len(fields) < 4:  # magic, width, height, maximum; one white-space byte ends the header
        while data[pos:pos + 1].isspace():
            pos += 1
        start = pos
        while not data[pos:pos + 1].isspace():
            pos += 1
        fields.append(data[start:pos])
    w, h, body = int(fields[1]), int(fields[2]), data[pos + 1:]
    px = [tuple(body[i:i + 3]) for i in range(0, w * h * 3, 3)]
    return w, h, px


def read_text(path):
    """A file's text as far as it is written, empty while it does not exist yet (simulator logs)."""
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            return f.read()
    except FileNotFoundError:
        return ""


def sealed_request_hex(r):
    """Puts the checksum into the 109 request bytes `r` (a bytearray) as the driver checks it:
    rotate left by one and XOR over the 64 little-endian words of the report from byte 1, the
    rest of the 256 bytes zero; returns the bytes as the simulator logs them."""
    scratch = bytes(r[1:109]) + bytes(256 - 108)
    h = 0
    for i in range(64):
        h = ((h << 1) | (h >> 31)) & 0xFFFFFFFF
        h ^= struct.unpack_from("<I", scratch, 4 * i)[0]
    r[13:17] = struct.pack("<I", h)
    return " ".join(f"{b:02X}" for b in r)


def linux_pids(prefix, exe):
    """The Linux processes of Wine prefix `prefix` that run the Windows program `exe` (a driver
    host, winedevice.exe, runs once per driver group)."""
    exe = exe.lower()
    pids = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                first = f.read().split(b"\0")[0].decode("utf-8", "replace").lower()
            if first.replace("\\", "/").rsplit("/", 1)[-1] != exe:
                continue
            with open(f"/proc/{entry}/environ", "rb") as f:
                if f"WINEPREFIX={prefix}".encode() in f.read().split(b"\0"):
                    pids.append(int(entry))
        except OSError:
            continue
    return pids


def linux_pid(prefix, exe):
    """The Linux process of Wine prefix `prefix` that runs the Windows program `exe`, or None."""
    pids = linux_pids(prefix, exe)
    return pids[0] if pids else None


def private_kb(pid):
    """Private memory of a Linux process in KB (its resident anonymous pages and their swap).
    Raises when it cannot be read: a zero would pass any check on growth."""
    if pid is None:
        raise AssertionError("private memory: no such process")
    found = {}
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                key, _, rest = line.partition(":")
                if key in ("RssAnon", "VmSwap"):
                    found[key] = int(rest.split()[0])
    except OSError as e:
        raise AssertionError(f"private memory of process {pid}: {e}") from e
    if "RssAnon" not in found:
        raise AssertionError(f"private memory of process {pid}: no RssAnon in its status")
    return sum(found.values())
