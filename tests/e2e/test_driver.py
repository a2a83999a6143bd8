"""padwarden-sim.exe beside the simulated driver (ds3sim.exe): discovery, the menu's transports,
profiles sent byte for byte, Bluetooth disconnect and reconnect, driver reset, the animated icon
and the battery log."""
import glob
import os
import re
import struct
import sys
import time

import harness
from harness import BUILD, ToolTestCase, wait_for

PADTUNER_KEY = r"HKCU\Software\Corvane\Padtuner\Parameters"

PROFILE = """[HEADER]
Title=Racing
IniFileVersion=2.0
[SETTING]
Interval=1234
DeviceType=2
UseHatSwitch=1
HatSwitchMode=2
UseSlider1=3
SliderBaseCenter1=0
UseSlider2=4
SliderBaseCenter2=1
[DEADZONE]
System=5
L2=6
R2=7
[RAPID FIRE]
EnableRapidFire=1
FunctionButtonMask=65537
SpeedSelector=2
Speed1=11
Speed2=12
Speed3=13
Speed4=270
[AXIS MAP]
X=1
Y=2
Z=3
RotateX=4
RotateY=5
RotateZ=6
[BUTTON MAP]
{buttons}
[AXIS MAP2]
UseAxisMap2=1
DigitalY=100
DigitalX=-2
AnalogLY=300
AnalogLX=4
AnalogRY=5
AnalogRX=6
[AXIS INVERT]
X=1
Y=0
Z=1
RotateX=0
RotateY=0
RotateZ=1
Slider1=0
Slider2=1
[CONVERT OUT]
X=21
Y=22
Z=23
RotateX=24
RotateY=25
RotateZ=26
[CONVERT IN]
DigitalY=31
DigitalX=32
AnalogLY=33
AnalogLX=34
AnalogRY=35
AnalogRX=36
TC=37
SC=38
SixaxisX=39
SixaxisY=40
SixaxisZ=41
""".format(buttons="\n".join(f"{i:02d}={18 - i}" for i in range(19)))


def expected_profile_request():
    """The request the driver must receive for PROFILE, built from the wire layout by hand."""
    r = bytearray(109)
    r[0] = 2
    r[1:5] = b"PWRQ"
    r[5:9] = bytes([0, 0, 0, 1])
    r[9:13] = struct.pack("<I", 1)
    r[17:21] = struct.pack("<I", 0x0007FFFF)
    r[21:25] = struct.pack("<I", 0b11011)  # AxisMap2, hat mode, centre 2, rapid fire
    r[25:29] = bytes([5, 6, 7, 0])
    r[29:32] = bytes([1, 3, 4])
    r[32:38] = bytes([1, 2, 3, 4, 5, 6])
    r[38:42] = struct.pack("<I", 0xA5)
    r[42:50] = bytes([21, 22, 23, 24, 25, 26, 0, 0])
    r[50:62] = struct.pack("<6h", 100, -2, 300, 4, 5, 6)
    r[62:73] = bytes(range(31, 42))
    r[73:92] = bytes(18 - i for i in range(19))
    r[92:96] = struct.pack("<I", 65537)
    r[100] = 2
    r[101:105] = bytes([11, 12, 13, 270 & 0xFF])
    return harness.sealed_request_hex(r)


class SimulatedDriverTests(ToolTestCase):
    def setUp(self):
        self.wine.reg_delete()
        self.wine.reg_delete(PADTUNER_KEY)
        self.work = os.path.join(BUILD, "e2e-driver")
        os.makedirs(self.work, exist_ok=True)
        for old in glob.glob(os.path.join(self.work, "*")):
            os.remove(old)
        self.log = os.path.join(self.work, "requests.log")
        self.control = os.path.join(self.work, "control.txt")
        open(self.control, "w").close()

    def start_driver(self, script="add usb\nadd bth\n"):
        path = os.path.join(self.work, "script.txt")
        with open(path, "w") as f:
            f.write(script)
        self.wine.start("ds3sim.exe", "--script", path, "--control", self.control, "--log", self.log)
        wait_for(lambda: "READY" in self.log_text(), 30, what="ds3sim to be ready")

    def control_command(self, line):
        with open(self.control, "a") as f:
            f.write(line + "\n")

    def log_text(self):
        return harness.read_text(self.log)

    def log_lines(self, pattern):
        return [l for l in self.log_text().splitlines() if re.search(pattern, l)]

    def start(self, *args):
        proc = self.start_tool(*args, exe="padwarden-sim.exe")
        wait_for(lambda: self.log_lines(r"^GET dev=1 ok tag=DS3U") and self.log_lines(r"^GET dev=2 ok tag=DS3B"),
                 30, what="both devices polled")
        return proc

    def popups_open(self):
        return len(self.wine.find(cls="#32768"))

    def menu_walk(self, *keys):
        self.open_menu()
        self.desk.key(*keys)

    def test_devices_found_and_the_transport_menus_open(self):
        self.start_driver()
        self.start()
        time.sleep(0.5)  # one pass after discovery sets the connection flags
        self.menu_walk("Down", "Right")
        wait_for(lambda: self.popups_open() == 2, 5, what="the USB sub-menu")
        self.desk.screenshot("menu-usb")
        self.desk.key("Escape", "Escape")
        wait_for(lambda: self.popups_open() == 0, 5, what="menu closed")
        self.menu_walk("Down", "Down", "Right")
        wait_for(lambda: self.popups_open() == 2, 5, what="the Bluetooth sub-menu")
        self.desk.key("Escape", "Escape")
        wait_for(lambda: self.popups_open() == 0, 5, what="menu closed")
        # The USB controller goes away: its sub-menu greys out, Bluetooth stays.
        self.control_command("remove 1")
        wait_for(lambda: self.log_lines(r"^REMOVE dev=1"), 10, what="the removal")
        time.sleep(1.0)
        self.menu_walk("Down", "Right")
        time.sleep(0.5)
        self.assertEqual(self.popups_open(), 1, "USB greyed once its controller is gone")
        self.desk.key("Down", "Right")
        wait_for(lambda: self.popups_open() == 2, 5, what="the Bluetooth sub-menu")
        self.desk.key("Escape", "Escape")

    def test_a_profile_reaches_the_driver_byte_for_byte(self):
        folder = os.path.join(self.wine.prefix, "drive_c", "padwarden-profiles")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "racing.ini"), "w", newline="\r\n") as f:
            f.write(PROFILE)
        self.wine.reg_add("SettingFilePath", "REG_SZ", "C:\\padwarden-profiles\\racing.ini", key=PADTUNER_KEY)
        self.start_driver()
        self.start()
        time.sleep(0.5)
        # USB > Profile > the first profile.
        self.menu_walk("Down", "Right", "Down", "Right")
        wait_for(lambda: self.popups_open() == 3, 5, what="the profile sub-menu")
        self.desk.screenshot("menu-profiles")
        self.desk.key("Return")
        sent = wait_for(lambda: self.log_lines(r"^SET dev=1 cmd=SetDriverSettings mask=0x0007FFFF"), 10,
                        what="the profile request")
        self.assertIn(" ok ", sent[-1] + " ")
        self.assertEqual(sent[-1].split("bytes=")[1].strip(), expected_profile_request())

    def test_a_refused_profile_is_greyed_and_sends_nothing(self):
        folder = os.path.join(self.wine.prefix, "drive_c", "padwarden-refused")
        os.makedirs(folder, exist_ok=True)
        for old in glob.glob(os.path.join(folder, "*")):
            os.remove(old)
        with open(os.path.join(folder, "racing.ini"), "w", newline="\r\n") as f:
            f.write(PROFILE)
        # The setting tool's own file in the same folder: no IniFileVersion.
        with open(os.path.join(folder, "Padtuner.ini"), "w", newline="\r\n") as f:
            f.write("[Parameters]\nLanguage=0\n")
        self.wine.reg_add("SettingFilePath", "REG_SZ", "C:\\padwarden-refused\\", key=PADTUNER_KEY)
        self.start_driver()
        self.start()
        time.sleep(0.5)
        sets = lambda: self.log_lines(r"^SET dev=\d cmd=SetDriverSettings")
        # Each of the two items, from the menu: the greyed one does nothing.
        for downs in (0, 1):
            self.menu_walk("Down", "Right", "Down", "Right")
            wait_for(lambda: self.popups_open() == 3, 5, what="the profile sub-menu")
            if downs == 0:
                self.desk.screenshot("menu-refused-profile")
            self.desk.key(*(["Down"] * downs), "Return")
            time.sleep(0.5)
            self.desk.key("Escape", "Escape", "Escape")
            wait_for(lambda: self.popups_open() == 0, 5, what="menu closed")
        window = self.tool_windows()[0]["hwnd"]
        # Both ids of both transports, straight to the window: only the accepted profile is sent.
        for command in (0x8000, 0x8001, 0x8100, 0x8101):
            self.wine.probe("post", window, 0x111, command, 0)
        wait_for(lambda: any(l.startswith("SET dev=2") for l in sets()), 10, what="the Bluetooth profile")
        time.sleep(1.0)
        lines = sets()
        self.assertEqual(len([l for l in lines if l.startswith("SET dev=2")]), 1, lines)
        self.assertIn(len([l for l in lines if l.startswith("SET dev=1")]), (2, 3), lines)
        for line in lines:
            self.assertEqual(line.split("bytes=")[1].strip(), expected_profile_request(), "never the zero block")

    def test_disconnect_and_reconnect_reach_the_bluetooth_device(self):
        self.start_driver()
        self.start()
        time.sleep(0.5)
        self.menu_walk("Down", "Down", "Right", "Down", "Down", "Return")
        line = wait_for(lambda: self.log_lines(r"^SET dev=2 cmd=DisconnectLink"), 10, what="the disconnect")
        self.assertRegex(line[-1], r" ok ")
        self.menu_walk("Down", "Down", "Right", "Down", "Down", "Down", "Return")
        line = wait_for(lambda: self.log_lines(r"^SET dev=2 cmd=ReconnectLink"), 10, what="the reconnect")
        self.assertRegex(line[-1], r" ok ")

    def test_driver_reset_restarts_the_device_and_it_is_found_again(self):
        self.start_driver()
        self.start()
        time.sleep(0.5)
        self.menu_walk("Down", "Down", "Right", "Down", "Down", "Down", "Down", "Return")
        wait_for(lambda: self.log_lines(r"^RESTART .* ok"), 15, what="the node restart")
        wait_for(lambda: self.log_lines(r"^BACK dev=2"), 15, what="the device to come back")
        mark = len(self.log_text().splitlines())
        # After the device-change notice the tool opens the device again and polls it.
        wait_for(lambda: any(re.match(r"^GET dev=2 ok tag=DS3B", l) for l in self.log_text().splitlines()[mark:]),
                 20, what="polls of the restarted device")
        self.assertFalse(self.wine.find(title="Error"), "no error box")

    def test_a_reset_that_waits_for_a_system_restart_finds_the_device_again_at_once(self):
        self.start_driver()
        self.start()
        time.sleep(0.5)
        self.control_command("fault 2 needs-restart")
        time.sleep(0.5)
        self.menu_walk("Down", "Down", "Right", "Down", "Down", "Down", "Down", "Return")
        wait_for(lambda: self.log_lines(r"^RESTART .* needs-restart"), 15, what="the restart request")
        lines = self.log_text().splitlines()
        mark = max(i for i, l in enumerate(lines) if "needs-restart" in l)
        # No device-change notice comes: the tool looks for the device at once and polls it.
        wait_for(lambda: any(re.match(r"^GET dev=2 ok tag=DS3B", l) for l in self.log_text().splitlines()[mark:]),
                 10, what="the device found again without a notice")
        self.assertFalse(self.log_lines(r"^BROADCAST"), "no device-change notice was sent")
        wait_for(lambda: self.wine.find(title="Error", cls="#32770"), 10, what="the failure reported")

    def test_suspend_closes_the_devices_and_resume_finds_them_again(self):
        self.start_driver()
        self.start()
        window = self.tool_windows()[0]["hwnd"]
        # WM_POWERBROADCAST: the query-suspend answer comes only after the thread parked and the
        # devices were closed.
        self.assertEqual(self.wine.probe("send", window, 0x218, 0, 0).strip(), "1")
        closes = self.log_lines(r"^CLOSE handle=\d+ dev=[12]$")
        self.assertEqual(len(closes), 2, closes)
        mark = len(self.log_text().splitlines())
        time.sleep(0.5)
        self.assertFalse([l for l in self.log_text().splitlines()[mark:] if l.startswith("GET")], "no poll while parked")
        self.assertEqual(self.wine.probe("send", window, 0x218, 7, 0).strip(), "1")
        wait_for(lambda: len([l for l in self.log_text().splitlines()[mark:] if re.match(r"^GET dev=2 ok", l)]) > 2,
                 10, what="polls after the resume")

    def test_sleep_as_windows_sends_it_parks_closes_and_reopens(self):
        self.start_driver()
        self.start()
        window = self.tool_windows()[0]["hwnd"]
        # Since Vista: PBT_APMSUSPEND, then PBT_APMRESUMEAUTOMATIC and, with user input,
        # PBT_APMRESUMESUSPEND. No query-suspend comes first.
        mark = len(self.log_text().splitlines())
        self.assertEqual(self.wine.probe("send", window, 0x218, 4, 0).strip(), "1")
        after = lambda: self.log_text().splitlines()[mark:]
        closes = [l for l in after() if re.match(r"^CLOSE handle=\d+ dev=[12]$", l)]
        self.assertEqual(len(closes), 2, "both devices closed before the answer")
        mark = len(self.log_text().splitlines())
        time.sleep(0.5)
        self.assertFalse([l for l in after() if l.startswith("GET")], "no poll while asleep")
        cpu = thread_cpu_seconds(self.wine.prefix, "padwarden-sim.exe")
        self.assertEqual(self.wine.probe("send", window, 0x218, 18, 0).strip(), "1")
        self.assertEqual(self.wine.probe("send", window, 0x218, 7, 0).strip(), "1")
        opened = [l for l in after() if re.match(r"^OPEN dev=[12] ", l)]
        self.assertGreaterEqual(len(opened), 2, "the devices are opened again")
        # Every handle opened after the sleep was closed before a newer one was opened.
        mark2 = len(self.log_text().splitlines())
        wait_for(lambda: len([l for l in self.log_text().splitlines()[mark2:]
                              if re.match(r"^GET dev=[12] ok", l)]) > 4, 10, what="polls after the resume")
        # The second resume notice left the event set: the next sleep must still park the thread
        # and let it sleep, not spin.
        self.assertEqual(self.wine.probe("send", window, 0x218, 4, 0).strip(), "1")
        mark = len(self.log_text().splitlines())
        before = thread_cpu_seconds(self.wine.prefix, "padwarden-sim.exe")
        time.sleep(2.0)
        used = thread_cpu_seconds(self.wine.prefix, "padwarden-sim.exe")
        busiest = max(used.get(t, 0) - before.get(t, 0) for t in used)
        sys.stderr.write(f"\nbusiest thread while parked: {busiest:.2f} s of processor in 2 s\n")
        self.assertLess(busiest, 0.3, f"a parked Monitor thread uses no processor ({busiest:.2f}s in 2s)")
        self.assertTrue(cpu, "the tool's threads were found")
        self.assertFalse([l for l in after() if l.startswith("GET")], "no poll while asleep")
        self.assertEqual(self.wine.probe("send", window, 0x218, 18, 0).strip(), "1")
        wait_for(lambda: [l for l in after() if re.match(r"^GET dev=2 ok", l)], 10, what="polls again")

    def test_exit_ends_soon_while_the_driver_holds_a_request(self):
        self.start_driver()
        proc = self.start()
        # The driver stops answering in time: every request waits ten seconds.
        self.control_command("fault 1 slow 10000")
        self.control_command("fault 2 slow 10000")
        time.sleep(1.5)
        self.wine.reg_delete()
        window = self.tool_windows()[0]["hwnd"]
        started = time.time()
        self.wine.probe("post", window, 0x111, 40036, 0)
        proc.wait(30)
        elapsed = time.time() - started
        sys.stderr.write(f"\nExit with a request held for 10 s ended the tool in {elapsed:.2f} s\n")
        self.assertLess(elapsed, 5.0, f"Exit took {elapsed:.1f}s")
        values = self.wine.reg_query()
        self.assertIsNotNone(values, "the settings were saved first")
        self.assertEqual(len(values), 20, sorted(values))

    def test_a_burst_of_device_notices_costs_one_rediscovery(self):
        self.start_driver()
        self.start()
        window = self.tool_windows()[0]["hwnd"]
        time.sleep(0.5)
        mark = len(self.log_text().splitlines())
        # Ten DBT_DEVNODES_CHANGED at once, as a USB hub or headset sends them.
        self.wine.probe("post", window, 0x219, 7, 0, 10)
        wait_for(lambda: [l for l in self.log_text().splitlines()[mark:] if l.startswith("LIST hid")], 10,
                 what="the rediscovery")
        time.sleep(2.0)
        after = self.log_text().splitlines()[mark:]
        self.assertEqual(len([l for l in after if l.startswith("LIST hid")]), 1, "one rediscovery")
        self.assertEqual(len([l for l in after if re.match(r"^OPEN dev=[12] ", l)]), 2)
        wait_for(lambda: [l for l in self.log_text().splitlines()[mark:] if re.match(r"^GET dev=2 ok", l)], 10,
                 what="polls after the rediscovery")

    def test_icon_follows_the_connections_and_the_ps_button_wait(self):
        self.wine.reg_add("IconAnimationSpeed", "REG_DWORD", 1)
        self.start_driver()
        self.start()
        # Wine's tray draws a new picture over the old one without clearing it, so the base picture
        # (which lies inside the others) cannot be told apart on screen; the marked ones can.
        seen = self.icons_seen(4.0)
        self.desk.screenshot("icon-cycle")
        self.assertTrue({202, 203} <= seen, seen)
        self.assertFalse({204, 205, 206, 207} & seen, seen)
        self.control_command("set 1 status 0")
        self.control_command("set 2 status 4")
        time.sleep(1.0)
        seen = self.icons_seen(3.0)
        self.assertEqual(seen, {206, 207}, "both connections wait for the PS button: the icon blinks")
        self.control_command("set 2 status 18")
        self.control_command("set 2 battery 1")
        time.sleep(1.0)
        seen = self.icons_seen(3.0)
        self.assertTrue({202, 203} <= seen <= {201, 202, 203}, f"the low-battery notice is off by default: {seen}")

    def icons_seen(self, seconds):
        icons = tray_icon_pictures()
        seen = set()
        end = time.time() + seconds
        while time.time() < end:
            name = identify_tray_icon(self.desk, icons)
            if name:
                seen.add(name)
            time.sleep(0.15)
        return seen

    def test_battery_log_in_debug_mode(self):
        harness_cwd = BUILD
        for old in glob.glob(os.path.join(harness_cwd, "PdwnBattery_*.log")):
            os.remove(old)
        self.wine.reg_add("ToolSettingPosX", "REG_BINARY", "5802")
        self.start_driver()
        self.start("-debug")
        self.choose_from_bottom(3)
        dialog = wait_for(lambda: self.wine.find(title="Padwarden Setting"), 15, what="the settings dialog")[0]["hwnd"]
        self.assertEqual(self.wine.probe("visible", dialog, 1069).strip(), "1")
        self.wine.probe("click", dialog, 1069)
        wait_for(lambda: self.wine.probe("check", dialog, 1069).strip() == "1", 5, what="the box ticked")
        self.wine.probe("click", dialog, 1)
        path = wait_for(lambda: glob.glob(os.path.join(harness_cwd, "PdwnBattery_*.log")), 10, what="the log file")[0]
        self.assertRegex(os.path.basename(path), r"^PdwnBattery_\d{8}\.log$")
        wait_for(lambda: os.path.getsize(path) >= 3 * 56, 15, what="three lines")
        with open(path, "rb") as f:
            data = f.read()
        lines = data.split(b"\n")[:-1]
        self.assertEqual(len(data) % 56, 0)
        for line in lines[:3]:
            self.assertRegex(line.decode("ascii"), r"^\d\d:\d\d:\d\d (?:[0-9A-F]{2} ){15} $")
        self.assertNotEqual(lines[0][9:], lines[1][9:], "a line only when the bytes change")


def thread_cpu_seconds(prefix, exe):
    """Processor seconds used so far by each thread of the Wine process running `exe` in `prefix`,
    read from outside through /proc: {thread id: seconds}."""
    ticks = os.sysconf("SC_CLK_TCK")
    found = {}
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                if exe.encode() not in f.read():
                    continue
            with open(f"/proc/{pid}/environ", "rb") as f:
                if f"WINEPREFIX={prefix}".encode() not in f.read().split(b"\0"):
                    continue
            for tid in os.listdir(f"/proc/{pid}/task"):
                with open(f"/proc/{pid}/task/{tid}/stat") as f:
                    fields = f.read().rsplit(")", 1)[1].split()
                found[int(tid)] = (int(fields[11]) + int(fields[12])) / ticks
        except OSError:
            continue
    return found


def tray_icon_pictures():
    """The tray pictures as {id: [(x, y, (r, g, b)), ...]} over their opaque pixels, read from the
    text pixel maps the icons are drawn from."""
    pictures = {}
    for n in range(201, 208):
        colours, rows, in_rows = {}, [], False
        with open(os.path.join(harness.ROOT, "resources", "icons", f"icon{n}.txt")) as f:
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


def identify_tray_icon(desk, pictures):
    geometry = desk.tray_geometry()
    if not geometry:
        return None
    x, y, _, h = geometry
    w, hh, px = desk.grab(x, y, 24, min(h, 24))
    best, best_score = None, None
    for name, pixels in pictures.items():
        for dx in range(0, w - 15):
            for dy in range(0, hh - 15):
                score = sum(1 for (px_, py_, c) in pixels
                            if max(abs(a - b) for a, b in zip(px[(py_ + dy) * w + px_ + dx], c)) > 40)
                # The base picture lies inside the status pictures: on a tie the fuller picture wins.
                key = (score, -len(pixels))
                if best_score is None or key < best_score:
                    best, best_score = name, key
    return best if best_score is not None and best_score[0] <= 4 else None


if __name__ == "__main__":
    harness.main()
