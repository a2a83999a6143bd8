"""The product, padwarden.exe, beside the simulated controller driver behind the system's HID
stack. ds3sim.exe --hid puts each simulated controller on a device node of the relay minidriver,
so the tool finds it through the device installer, opens it, reads its capabilities and sends
every request through the HID class driver, as it would reach the real driver; Wine, not the
simulator, announces the nodes' arrival and removal. The request log shows what reached the
driver, byte for byte."""
import glob
import os
import random
import re
import shutil
import struct
import sys
import time

import harness
from harness import BUILD, DriverCase, ids, wait_for
from hid_requests import PROFILE, expected_profile_request, request, sent_bytes

PADTUNER_KEY = r"HKCU\Software\Corvane\Padtuner\Parameters"
WM_COMMAND = 0x111
HID_INTERFACE = "{4d1e55b2-f16f-11cf-88cb-001111000030}"


class HidStackCase(DriverCase):
    """The product behind the HID stack, with no profile folder until a test names one."""
    prefix_name = "hid"
    unmanaged = True

    def setUp(self):
        super().setUp()
        self.wine.reg_delete(PADTUNER_KEY)

    def use_profile(self):
        """The sample profile, in the folder the setting tool names."""
        folder = os.path.join(self.wine.prefix, "drive_c", "padwarden-profiles")
        os.makedirs(folder, exist_ok=True)
        for old in glob.glob(os.path.join(folder, "*")):  # another tier's profiles
            os.remove(old)
        with open(os.path.join(folder, "racing.ini"), "w", newline="\r\n") as f:
            f.write(PROFILE)
        self.wine.reg_add("SettingFilePath", "REG_SZ", "C:\\padwarden-profiles\\racing.ini", key=PADTUNER_KEY)

    def command(self, *args):
        """Runs a second copy with `args`: its exit code and what it printed."""
        done = self.wine.run(["wine", os.path.join(BUILD, "padwarden.exe"), *args], timeout=60)
        return done.returncode, done.stdout.decode("utf-8", "replace").replace("\r", "")

    def status(self):
        code, out = self.command("-status")
        self.assertEqual(code, 0, out)
        return dict(line.split("=", 1) for line in out.splitlines() if "=" in line)


class ProductBehindTheHidStack(HidStackCase):
    work_name = "e2e-hid"

    def popups_open(self):
        return len(self.wine.find(cls="#32768"))

    def menu_walk(self, *keys):
        self.open_menu()
        self.desk.key(*keys)

    def hid_devices(self):
        """{path: (usage page, usage, feature length)} of the present HID interfaces, from outside."""
        found = {}
        out = self.wine.run(["wine", os.path.join(BUILD, "hidprobe.exe"), "list"], timeout=60).stdout.decode()
        for line in out.replace("\r", "").splitlines():
            m = re.match(r"page=(\S+) usage=(\S+) feature=(\S+) path=(.*)$", line)
            if m:
                found[m.group(4).lower()] = (m.group(1), m.group(2), m.group(3))
        return found

    def transport_menus(self):
        """Whether the USB and the Bluetooth items open their sub-menus (a greyed one does not)."""
        return tuple(self.submenu_opens(*(["Down"] * downs)) for downs in (1, 2))

    def icons_seen(self, seconds, until=None):
        """The tray pictures told apart over `seconds`; sooner once all of `until` were seen."""
        icons = harness.tray_icon_pictures()
        seen = set()
        end = time.time() + seconds
        while time.time() < end and not (until and until <= seen):
            name = harness.identify_tray_icon(self.desk, icons)
            if name:
                seen.add(name)
            # Uneven gaps: a grab that takes a whole number of frames would see one phase only.
            time.sleep(random.uniform(0.03, 0.27))
        return seen

    def error_box(self, text):
        """Waits for the tool's error box with `text`, then closes it with OK."""
        def found():
            for box in self.wine.find(title="Error", cls="#32770"):
                if self.wine.probe("text", box["hwnd"], 0xFFFF, check=False).strip() == text:
                    return box
            return None
        box = wait_for(found, 15, what=f"the error box {text!r}")
        self.wine.probe("click", box["hwnd"], 1)
        wait_for(lambda: box["hwnd"] not in [w["hwnd"] for w in self.wine.windows()], 10, what="the box closed")

    def polled_since(self, mark, dev):
        return wait_for(lambda: self.lines_since(mark, rf"^GET dev={dev} ok"), 20, what=f"polls of device {dev}")

    # ---- discovery

    def test_discovery_takes_both_transports_and_skips_every_other_hid_device(self):
        # A joystick of another make (usage 1/4, no report 2) and a vendor collection beside the
        # driver's two devices and Wine's own HID mouse and keyboard.
        self.start_driver("add usb\nadd bth\nadd foreign-joystick\nadd non-joystick\nset 4 usage 0xFF00 1\n")
        devices = self.hid_devices()
        ours = {p: v for p, v in devices.items() if "padwarden_ds3" in p}
        self.assertEqual(sorted(ours.values()), [("0x0001", "0x0004", "256")] * 3 + [("0xFF00", "0x0001", "256")],
                         devices)
        for n in (1, 2, 3, 4):
            self.assertIn(rf"\\?\hid#padwarden_ds3#{n:04d}#{HID_INTERFACE}", ours)
        others = [v[:2] for p, v in devices.items() if "padwarden_ds3" not in p]
        self.assertIn(("0x0001", "0x0002"), others, "Wine's HID mouse is listed")
        self.assertIn(("0x0001", "0x0006"), others, "Wine's HID keyboard is listed")
        mark = self.mark()
        self.start()
        time.sleep(1.0)
        # The foreign joystick was asked once and let go; the vendor collection was never asked.
        self.assertEqual(len(self.lines_since(mark, r"^GET dev=3 ")), 1, self.lines_since(mark, r"dev=3"))
        self.assertRegex(self.lines_since(mark, r"^GET dev=3 ")[0], r"failed reason=no-report-2")
        self.assertFalse(self.lines_since(mark, r"dev=4 "), "the vendor collection is skipped by its usage")
        self.assertFalse(self.lines_since(mark, r"^SET "), "discovery writes nothing to a normal-mode driver")
        # Both transport sub-menus are live.
        self.menu_walk("Down", "Right")
        wait_for(lambda: self.popups_open() == 2, 5, what="the USB sub-menu")
        self.desk.screenshot("hid-menu-usb")
        self.desk.key("Escape", "Escape")
        wait_for(lambda: self.popups_open() == 0, 5, what="menu closed")
        self.menu_walk("Down", "Down", "Right")
        wait_for(lambda: self.popups_open() == 2, 5, what="the Bluetooth sub-menu")
        self.desk.key("Escape", "Escape")

    def test_a_driver_left_in_debug_mode_is_switched_back_at_discovery(self):
        self.start_driver("add usb\nadd bth\nset 2 debug 1\n")
        mark = self.mark()
        self.start()
        first = self.lines_since(mark, r"dev=2 ")[:3]
        self.assertRegex(first[0], r"^GET dev=2 ok tag=DBGB")
        self.assertEqual(first[1], "SET dev=2 cmd=LeaveDebugMode mask=0x00000000 ok bytes=" + request(0x80000001))
        self.assertRegex(first[2], r"^GET dev=2 ok tag=DS3B")

    def test_a_hid_dll_beside_the_tool_is_not_loaded_and_the_systems_serves(self):
        # The loader looks in the program's folder first for a DLL that is not a known DLL, and an
        # elevated copy would run what was planted there. Wine is told to prefer such a DLL.
        folder = os.path.join(BUILD, "e2e-planted")
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        shutil.copy(os.path.join(BUILD, "padwarden.exe"), folder)
        shutil.copy(os.path.join(BUILD, "planted_hid.dll"), os.path.join(folder, "hid.dll"))
        self.start_driver()
        overrides = self.wine.env["WINEDLLOVERRIDES"]
        self.wine.env["WINEDLLOVERRIDES"] = overrides + ";hid=n,b"
        try:
            self.start_tool(exe=os.path.join(folder, "padwarden.exe"))
        finally:
            self.wine.env["WINEDLLOVERRIDES"] = overrides
        pid = self.tool_windows()[0]["pid"]
        out = self.wine.run(["wine", os.path.join(BUILD, "procprobe.exe"), str(pid), "modules"], check=True).stdout
        modules = out.decode("utf-8", "replace").lower().replace("\r", "").splitlines()
        self.assertFalse([m for m in modules if m.endswith("\\e2e-planted\\hid.dll")], "the planted hid.dll")
        self.assertIn("c:\\windows\\system32\\hid.dll", modules)
        wait_for(lambda: self.log_lines(r"^GET dev=1 ok tag=DS3U") and self.log_lines(r"^GET dev=2 ok tag=DS3B"),
                 30, what="both controllers polled through the system's hid.dll")

    # ---- requests, byte for byte

    def test_a_profile_reaches_the_driver_byte_for_byte(self):
        self.use_profile()
        self.start_driver()
        self.start()
        self.pass_decided()
        # USB > Profile > the first profile, then the same on Bluetooth.
        self.menu_walk("Down", "Right", "Down", "Right")
        wait_for(lambda: self.popups_open() == 3, 5, what="the profile sub-menu")
        self.desk.key("Return")
        sent = wait_for(lambda: self.log_lines(r"^SET dev=1 cmd=SetDriverSettings mask=0x0007FFFF"), 10,
                        what="the USB profile request")
        self.assertIn(" ok bytes=", sent[-1])
        self.assertEqual(sent_bytes(sent[-1]), expected_profile_request())
        self.wine.probe("post", self.main_window, WM_COMMAND, ids.IDM_BTH_PROFILE_FIRST, 0)
        sent = wait_for(lambda: self.log_lines(r"^SET dev=2 cmd=SetDriverSettings mask=0x0007FFFF"), 10,
                        what="the Bluetooth profile request")
        self.assertEqual(sent_bytes(sent[-1]), expected_profile_request())

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
        self.pass_decided()
        sets = lambda: self.log_lines(r"^SET dev=\d cmd=SetDriverSettings mask=0x0007FFFF")
        # Wine lists a folder by name: Padtuner.ini is the first item, greyed, racing.ini the second.
        for downs in (0, 1):
            self.menu_walk("Down", "Right", "Down", "Right")
            wait_for(lambda: self.popups_open() == 3, 5, what="the profile sub-menu")
            if downs == 0:
                self.desk.screenshot("menu-refused-profile")
            self.desk.key(*(["Down"] * downs), "Return")
            # Return ends Wine's menu on a greyed item too: nothing is left for a stray Escape.
            wait_for(lambda: self.popups_open() == 0, 5, what="menu closed")
        window = self.main_window
        # Both ids of both transports, straight to the window: only the accepted profile is sent.
        for command in [first + i for first in (ids.IDM_USB_PROFILE_FIRST, ids.IDM_BTH_PROFILE_FIRST) for i in (0, 1)]:
            self.wine.probe("post", window, 0x111, command, 0)
        # Each transport's worker sends in the order asked: once the auto-fire request asked after
        # them is in, every profile request before it is too, and the counts are final.
        for command, dev in ((ids.IDM_USB_AUTO_FIRE, 1), (ids.IDM_BTH_AUTO_FIRE, 2)):
            self.wine.probe("post", window, WM_COMMAND, command, 0)
            dialog = wait_for(lambda: self.wine.find(title="Auto Fire Button Setting"), 15, what="auto fire")[0]
            self.wine.probe("click", dialog["hwnd"], 1)
            wait_for(lambda: self.log_lines(rf"^SET dev={dev} cmd=SetDriverSettings mask=0x00080000"), 10,
                     what=f"the auto-fire request to device {dev}")
            wait_for(lambda: not self.wine.find(title="Auto Fire Button Setting"), 10, what="the dialog closed")
        lines = sets()
        # USB: the accepted item from the menu, then its id; Bluetooth: its id.
        self.assertEqual(sorted(l.split()[1] for l in lines), ["dev=1", "dev=1", "dev=2"], lines)
        for line in lines:
            self.assertEqual(sent_bytes(line), expected_profile_request(), "never the zero block")

    def test_auto_fire_disconnect_and_reconnect_reach_the_driver_byte_for_byte(self):
        # Away from the tray window at the top left, which the menu is opened from.
        self.wine.reg_add("USBRapidFireSettingPosX", "REG_BINARY", struct.pack("<H", 300).hex())
        self.wine.reg_add("USBRapidFireSettingPosY", "REG_BINARY", struct.pack("<H", 300).hex())
        self.start_driver("add usb\nadd bth\nset 1 autofire 0x10001\n")
        self.start()
        self.wine.probe("post", self.main_window, WM_COMMAND, ids.IDM_USB_AUTO_FIRE, 0)
        dialog = wait_for(lambda: self.wine.find(title="Auto Fire Button Setting"), 15, what="the auto-fire dialog")
        hwnd = dialog[0]["hwnd"]
        wait_for(lambda: self.wine.probe("check", hwnd, ids.IDC_AUTO_FIRE_FIRST + 16).strip() == "1", 5, what="PS ticked from the driver")
        self.wine.probe("click", hwnd, ids.IDC_AUTO_FIRE_FIRST + 16)  # PS off
        self.wine.probe("click", hwnd, ids.IDC_AUTO_FIRE_FIRST + 12)  # Triangle (bit 12) on
        self.wine.probe("click", hwnd, 1)
        sent = wait_for(lambda: self.log_lines(r"^SET dev=1 cmd=SetDriverSettings mask=0x00080000"), 10,
                        what="the auto-fire request")
        self.assertEqual(sent[-1].split()[4], "ok")
        self.assertEqual(sent_bytes(sent[-1]), request(1, 0x00080000, {105: struct.pack("<I", 0x1001)}))
        wait_for(lambda: not self.wine.find(title="Auto Fire Button Setting"), 10, what="the dialog closed")
        # Bluetooth > Disconnect, then Reconnect.
        self.menu_walk("Down", "Down", "Right", "Down", "Down", "Return")
        line = wait_for(lambda: self.log_lines(r"^SET dev=2 cmd=DisconnectLink"), 10, what="the disconnect")
        self.assertEqual(line[-1], "SET dev=2 cmd=DisconnectLink mask=0x00000000 ok bytes=" +
                         request(2, 0, {53: struct.pack("<I", 1)}))
        self.menu_walk("Down", "Down", "Right", "Down", "Down", "Down", "Return")
        line = wait_for(lambda: self.log_lines(r"^SET dev=2 cmd=ReconnectLink"), 10, what="the reconnect")
        self.assertEqual(line[-1], "SET dev=2 cmd=ReconnectLink mask=0x00000000 ok bytes=" + request(3))
        # A refusing driver: the tool reports it.
        self.control_command("fault 2 fail-write")
        self.menu_walk("Down", "Down", "Right", "Down", "Down", "Return")
        self.error_box("Failed to driver control")

    def test_a_debug_query_is_enter_select_read_leave_and_nothing_between(self):
        self.start_driver("add usb\nadd bth\nset 2 info-flag 0x55\nset 2 info-drift 0\n")
        self.start("-debug")
        self.wine.probe("post", self.main_window, WM_COMMAND, ids.IDM_BTH_INFORMATION, 0)
        info = wait_for(lambda: self.wine.find(title="Driver Information - Bluetooth"), 15, what="the dialog")
        hwnd = info[0]["hwnd"]
        self.wine.probe("click", hwnd, ids.IDC_INFO_BTH_DEBUG)
        dialog = wait_for(lambda: self.wine.find(title="Debug Information"), 15, what="the debug dialog")[0]["hwnd"]
        mark = self.mark()
        self.wine.probe("select", dialog, ids.IDC_DEBUG_VIEW, 1)
        wait_for(lambda: self.wine.probe("text", dialog, ids.IDC_DEBUG_TEXT).startswith("InfoTypeId 'INFO'"), 10, what="the record")
        ours = [l for l in self.lines_since(mark, r"dev=2 ") if not re.match(r"^GET dev=2 ok tag=DS3B$", l)]
        self.assertEqual(ours[0], "SET dev=2 cmd=EnterDebugMode mask=0x00000000 ok bytes=" + request(0x80000000))
        self.assertEqual(ours[1], "SET dev=2 cmd=QueryDebugInfo mask=0x00000000 ok bytes=" + request(0x80000006))
        self.assertEqual(ours[2], "GET dev=2 ok tag=DBGB record=INFO")
        self.assertEqual(ours[3], "SET dev=2 cmd=LeaveDebugMode mask=0x00000000 ok bytes=" + request(0x80000001))
        # No poll of the same device came between the first write and the last.
        lines = self.lines_since(mark, r"dev=2 ")
        enter = lines.index(ours[0])
        leave = lines.index(ours[3])
        self.assertEqual(lines[enter:leave + 1], ours[:4], "the sequence holds the device")
        self.assertIn("FeatureFlag 0x00000055", self.wine.probe("text", dialog, ids.IDC_DEBUG_TEXT))
        self.wine.probe("click", dialog, 2)
        self.wine.probe("click", hwnd, 1)

    def test_battery_log_in_debug_mode(self):
        # The log goes to the user's local application data, never to the current directory
        # (System32 for a tool started at log-on).
        folders = os.path.join(self.wine.prefix, "drive_c", "users", "*", "AppData", "Local", "Padwarden")
        for old in glob.glob(os.path.join(folders, "PdwnBattery_*.log")) + glob.glob(os.path.join(BUILD, "PdwnBattery_*.log")):
            os.remove(old)
        self.wine.reg_add("ToolSettingPosX", "REG_BINARY", "5802")
        self.start_driver()
        self.start("-debug")
        self.choose_from_bottom(4)
        dialog = wait_for(lambda: self.wine.find(title="Padwarden Setting"), 15, what="the settings dialog")[0]["hwnd"]
        self.assertEqual(self.wine.probe("visible", dialog, ids.IDC_ENABLE_DEBUG_LOGGING).strip(), "1")
        shown = self.wine.probe("text", dialog, ids.IDC_BATTERY_LOG_PATH).strip()
        self.desk.screenshot("config-debug-battery-log")
        self.assertRegex(shown, r"^C:\\users\\[^\\]+\\AppData\\Local\\Padwarden\\PdwnBattery_\d{8}\.log$")
        self.wine.probe("click", dialog, ids.IDC_ENABLE_DEBUG_LOGGING)
        wait_for(lambda: self.wine.probe("check", dialog, ids.IDC_ENABLE_DEBUG_LOGGING).strip() == "1", 5, what="the box ticked")
        self.wine.probe("click", dialog, 1)
        path = wait_for(lambda: glob.glob(os.path.join(folders, "PdwnBattery_*.log")), 10, what="the log file")[0]
        self.assertEqual(os.path.basename(path), shown.rsplit("\\", 1)[1], "the file the dialog named")
        self.assertFalse(glob.glob(os.path.join(BUILD, "PdwnBattery_*.log")), "nothing in the current directory")
        self.assertRegex(os.path.basename(path), r"^PdwnBattery_\d{8}\.log$")
        wait_for(lambda: os.path.getsize(path) >= 3 * 56, 15, what="three lines")
        with open(path, "rb") as f:
            data = f.read()
        lines = data.split(b"\n")[:-1]
        self.assertEqual(len(data) % 56, 0)
        for line in lines[:3]:
            self.assertRegex(line.decode("ascii"), r"^\d\d:\d\d:\d\d (?:[0-9A-F]{2} ){15} $")
        self.assertNotEqual(lines[0][9:], lines[1][9:], "a line only when the bytes change")
        # Each line came from a raw-data query of the Bluetooth device, through the HID stack.
        self.assertTrue(self.log_lines(r"^GET dev=2 ok tag=DBGB record=DRAW$"))
        # A refused read leaves the cleared buffer: no line of fifteen zeros that looks like data.
        mark = self.mark()
        self.control_command("fault 2 refuse-read", "note refusing")

        def refused():
            lines = self.lines_since(mark, r"^NOTE refusing$|^SET dev=2 cmd=QueryDebugRawData|^GET dev=2 ")
            after = lines[lines.index("NOTE refusing"):] if "NOTE refusing" in lines else []
            # The second query began, so the first one's outcome reached the log file.
            return len([l for l in after if l.startswith("SET")]) >= 2 and after
        after = wait_for(refused, 15, what="two raw-data queries after the fault")
        self.assertNotIn("GET dev=2 ok", " ".join(after))
        with open(path, "rb") as f:
            data = f.read()
        self.assertEqual(len(data) % 56, 0)
        zero = b"00 " * 15 + b" "
        self.assertFalse([l for l in data.split(b"\n") if l[9:] == zero], "no line from a failed read")
        # Off, then on again the same day: the day's file grows, it never starts anew.
        self.control_command("fault 2 none")
        for _ in ("off", "on"):
            self.choose_from_bottom(4)
            dialog = wait_for(lambda: self.wine.find(title="Padwarden Setting"), 15, what="the settings dialog")[0]["hwnd"]
            self.wine.probe("click", dialog, ids.IDC_ENABLE_DEBUG_LOGGING)
            self.wine.probe("click", dialog, 1)
            wait_for(lambda: not self.wine.find(title="Padwarden Setting"), 10, what="the dialog closed")
        wait_for(lambda: os.path.getsize(path) > len(data), 15, what="a line after the box was ticked again")
        with open(path, "rb") as f:
            self.assertTrue(f.read().startswith(data), "appended to the day's file, not truncated")

    # ---- the icon, plugging and a silent driver

    def test_icon_follows_the_connections_the_ps_button_wait_and_unplugging(self):
        self.wine.reg_add("IconAnimationSpeed", "REG_DWORD", 1)
        self.start_driver()
        self.start()
        seen = self.icons_seen(4.0)
        if not {202, 203} <= seen:  # a slow first frame under load
            seen |= self.icons_seen(6.0, until={202, 203} - seen)
        self.assertTrue({202, 203} <= seen, seen)
        self.assertFalse({204, 205, 206, 207} & seen, seen)
        self.control_command("set 1 status 0", "set 2 status 4")
        time.sleep(1.0)
        self.assertEqual(self.icons_seen(3.0), {206, 207}, "both connections wait for the PS button")
        self.control_command("set 1 status 1", "set 2 status 18")
        # The USB controller is pulled: the system's notice makes the tool let it go.
        mark = self.mark()
        self.control_command("unplug 1")
        wait_for(lambda: self.lines_since(mark, r"^NODE remove dev=1$"), 15, what="the node removed")
        time.sleep(1.5)
        quiet = self.mark()
        time.sleep(1.0)
        self.assertFalse(self.lines_since(quiet, r"^GET dev=1 "), "no request to a device that is gone")
        seen = self.icons_seen(3.0)
        if 203 not in seen:  # a rediscovery still under way on a loaded machine
            seen |= self.icons_seen(6.0, until={203})
        if 203 not in seen:
            # Seen once in many runs: keep what the tray showed next, for whoever looks into it.
            self.desk.screenshot("icon-after-unplug")
            icons, t0, later = harness.tray_icon_pictures(), time.time(), []
            while time.time() - t0 < 5:
                later.append((round(time.time() - t0, 2), harness.identify_tray_icon(self.desk, icons)))
            print("pictures after the 3 s:", later, self.log_lines(r"^(NODE|OPEN|CLOSE)"), file=sys.stderr)
        self.assertIn(203, seen)
        self.assertNotIn(202, seen, "the USB picture leaves the cycle")
        # Plugged in again: a new node, found through the arrival notice.
        mark = self.mark()
        self.control_command("plug 1")
        self.polled_since(mark, 1)
        time.sleep(1.0)
        self.assertTrue({202, 203} <= self.icons_seen(10.0, until={202, 203}))
        self.assertFalse(self.log_lines(r"^BROADCAST"), "the notices came from the system, not the simulator")

    def test_each_frame_shows_only_its_own_picture_and_the_icon_returns_with_a_new_tray(self):
        # As a new user would meet it: both controllers, a force-feedback client, then a low
        # battery. One frame a second, so consecutive grabs see every frame of the cycle.
        self.wine.reg_add("IconAnimationSpeed", "REG_DWORD", 9)
        self.wine.reg_add("EnableNotifyLowBattery", "REG_DWORD", 1)
        self.start_driver()
        self.start()
        script, fflog = os.path.join(self.work, "ffsim.txt"), os.path.join(self.work, "ffsim.log")
        with open(script, "w") as f:
            f.write("claim FFSim 1 0 0 3\n")
        self.wine.start("ffsim.exe", "--script", script, "--log", fflog)
        wait_for(lambda: re.search(r"^CLAIM slot=", harness.read_text(fflog), re.M), 30, what="the claim")
        icons = harness.tray_icon_pictures()
        wait_for(lambda: harness.identify_tray_icon(self.desk, icons, strict=True) == 204, 15, what="the rumble frame")
        frames = harness.tray_frames(self.desk, 6.0, icons)
        self.desk.screenshot("tray-frames")
        shown = [f for f in frames if f is not None]
        # A grab may catch the tray between its background and the picture, once at most.
        self.assertGreaterEqual(len(shown), len(frames) - 1, frames)
        self.assertEqual(set(shown), {201, 202, 203, 204}, frames)
        cycle = {201: 202, 202: 203, 203: 204, 204: 201}
        changes = [f for i, f in enumerate(shown) if i == 0 or f != shown[i - 1]]
        for before, after in zip(changes, changes[1:]):
            self.assertEqual(after, cycle[before], f"consecutive frames {frames}")
        # The low battery's steady picture, with nothing of the frame it replaced.
        self.control_command("set 2 battery 1")
        wait_for(lambda: harness.identify_tray_icon(self.desk, icons, strict=True) == 205, 10, what="the low-battery picture")
        self.assertEqual(set(harness.tray_frames(self.desk, 1.5, icons)), {205})
        # A tray that starts anew knows no icons until each program adds its own again; Wine's
        # explorer cannot be restarted under a running desktop, so its loss and its announcement
        # are played here as a restarted Explorer brings them.
        self.wine.probe("tray-delete", self.main_window, 201)
        wait_for(lambda: harness.identify_tray_icon(self.desk, icons, strict=True) is None, 10, what="the icon forgotten")
        self.wine.probe("broadcast", "TaskbarCreated")
        wait_for(lambda: harness.identify_tray_icon(self.desk, icons, strict=True) == 205, 10, what="the icon back")
        self.menu_opens_within(2)
        # Back in the cycle, frame after frame clean in the new tray as in the old.
        self.control_command("set 2 battery 5")
        frames = harness.tray_frames(self.desk, 3.0, icons)
        shown = [f for f in frames if f is not None]
        self.assertGreaterEqual(len(shown), len(frames) - 1, frames)
        self.assertGreaterEqual(len(set(shown) - {205}), 2, frames)

    def test_a_driver_that_stops_answering_and_answers_again(self):
        self.wine.reg_add("IconAnimationSpeed", "REG_DWORD", 1)
        self.start_driver()
        self.start()
        # One silent device leaves its transport shown by the open handle; both silent, the
        # icon falls back to the base picture.
        mark = self.mark()
        self.control_command("fault 1 refuse-read", "fault 2 refuse-read")
        self.pass_decided(mark, "failed", "failed")
        self.assertEqual(self.transport_menus(), (False, False), "no driver answers: both transports greyed")
        mark = self.mark()
        self.control_command("fault 1 none", "fault 2 none")
        self.pass_decided(mark)
        self.assertEqual(self.transport_menus(), (True, True))
        self.assertTrue({202, 203} <= self.icons_seen(10.0, until={202, 203}))
        # The whole simulator goes: every request through the relay fails, and nothing breaks.
        self.wine.run(["wine", "taskkill", "/f", "/im", "ds3sim.exe"], timeout=60)
        wait_for(lambda: harness.linux_pid(self.wine.prefix, "ds3sim.exe") is None, 15, what="ds3sim gone")
        # No log tells when the tool met the silence: each look at the menu is a sure one.
        wait_for(lambda: self.transport_menus() == (False, False), 30, what="no driver answers: both greyed")
        self.assertIsNone(self.tool.poll(), "the tool runs on")
        # It comes back: its old nodes give way to new ones, which the tool finds by itself.
        mark = self.mark()
        self.start_driver()
        wait_for(lambda: self.lines_since(mark, r"^NODE leftover removed dev=1$"), 10, what="the old nodes removed")
        self.polled_since(mark, 1)
        self.polled_since(mark, 2)

    def test_driver_reset_fails_honestly_where_the_parent_is_unknown_and_the_device_stays(self):
        # Wine answers no parent for any device node and cannot restart one: the tool says so
        # and keeps using the device.
        self.start_driver()
        self.start()
        mark = self.mark()
        self.wine.probe("post", self.main_window, WM_COMMAND, ids.IDM_USB_DRIVER_RESET, 0)
        self.error_box("Can not acquire device information")
        self.error_box("Failed to driver reset")
        self.polled_since(mark, 1)
        self.assertIsNone(self.tool.poll())
        # The elevated copy resets only a parent of the driver's devices, which Wine does not name.
        r = self.wine.run(["wine", os.path.join(BUILD, "padwarden.exe"), "-driver-reset", "ROOT\\PADWARDEN_DS3\\0000"])
        self.assertEqual((r.returncode, len(self.tool_windows())), (4, 1), "refused, with no window of its own")

    # ---- a driver that holds every request

    def test_no_window_message_waits_for_a_stuck_device(self):
        # Away from the tray window at the top left, which the menu is opened from.
        self.wine.reg_add("USBInformationPosX", "REG_BINARY", struct.pack("<H", 300).hex())
        self.wine.reg_add("USBInformationPosY", "REG_BINARY", struct.pack("<H", 300).hex())
        self.start_driver()
        self.start()
        window = self.main_window
        self.control_command("fault 1 slow 10000", "fault 2 slow 10000")
        time.sleep(1.5)  # the Monitor thread is now inside a request that takes 10 s
        with self.subTest("the information dialog, opened and refreshed"):
            self.wine.probe("post", window, WM_COMMAND, ids.IDM_USB_INFORMATION, 0)
            self.menu_opens_within(2)
            dialog = wait_for(lambda: self.wine.find(title="Driver Information - USB"), 5, what="the dialog")[0]
            self.assertRegex(self.wine.probe("text", dialog["hwnd"], ids.IDC_INFO_VERSION).strip(), r"^\d+\.\d+\.\d+\.\d{4}$",
                             "it shows the last record")
            self.wine.probe("click", dialog["hwnd"], ids.IDC_INFO_REFRESH)
            time.sleep(0.3)
            self.menu_opens_within(2)
            self.wine.probe("click", dialog["hwnd"], 1)
        with self.subTest("rediscovery after a device-change notice"):
            self.wine.probe("post", window, 0x219, 7, 0)  # DBT_DEVNODES_CHANGED, as the system posts it
            # Well past the 400 ms quiet time. The timer may still come after the click, inside the
            # menu's own loop: the menu must then close, and open again, as promptly.
            time.sleep(2.0)
            self.menu_opens_within(2)
            self.menu_opens_within(2)
        with self.subTest("the park for a suspend"):
            # PBT_APMSUSPEND allows about two seconds; the park gives up on the stuck thread at 1.5 s.
            self.assertEqual(self.wine.probe("send", window, 0x218, 4, 0, 4000).strip(), "1")
            self.menu_opens_within(2)
        with self.subTest("the resume"):
            self.assertEqual(self.wine.probe("send", window, 0x218, 18, 0, 4000).strip(), "1")
            self.menu_opens_within(2)
        # The driver answers again: the tool finds and polls both controllers by itself.
        mark = self.mark()
        self.control_command("fault 1 none", "fault 2 none")
        wait_for(lambda: self.lines_since(mark, r"^GET dev=1 ok") and self.lines_since(mark, r"^GET dev=2 ok"), 60,
                 what="both controllers polled again")
        self.assertIsNone(self.tool.poll())

    def test_no_command_waits_for_a_driver_that_never_answers(self):
        self.use_profile()
        for name in ("BTHRapidFireSettingPosX", "BTHRapidFireSettingPosY", "BTHInformationPosX", "BTHInformationPosY"):
            self.wine.reg_add(name, "REG_BINARY", struct.pack("<H", 300).hex())
        self.start_driver()
        window = self.start("-debug") and self.main_window
        busy = "The controller driver is busy and did not answer, so the command was not sent. Try again in a moment."

        def answers(hwnd, what):  # as a hang check: WM_NULL answered within 2 s
            self.assertEqual(self.wine.probe("send", hwnd, 0, 0, 0, 2000, check=False).strip(), "0", what)

        texts = []

        def take_boxes():  # closes the boxes open now, keeping their texts; whether there were any
            boxes = self.wine.find(title="Error", cls="#32770")
            for box in boxes:
                texts.append(self.wine.probe("text", box["hwnd"], 0xFFFF, check=False).strip())
                self.wine.probe("click", box["hwnd"], 1, check=False)
            return boxes

        def opens(title, what):
            # A box that comes first runs its loop inside the dialog's, which shows the dialog
            # only once the box has gone.
            return wait_for(lambda: (take_boxes(), self.wine.find(title=title))[1], 10, what=what)[0]

        def close_boxes():  # until none has come for 4 s
            end = time.time() + 4
            while time.time() < end:
                if take_boxes():
                    end = time.time() + 4
                time.sleep(0.2)

        for fault in ("slow 10000", "hang"):
            with self.subTest(fault=fault):
                del texts[:]
                self.control_command(f"fault 2 {fault}")
                time.sleep(1.5)  # the Monitor thread is now inside a Bluetooth read that does not end
                for command, what in ((ids.IDM_BTH_PROFILE_FIRST, "a Bluetooth profile"), (ids.IDM_BTH_DISCONNECT, "Disconnect"), (ids.IDM_BTH_RECONNECT, "Reconnect")):
                    self.wine.probe("post", window, WM_COMMAND, command, 0)
                    answers(window, what)
                self.wine.probe("post", window, WM_COMMAND, ids.IDM_BTH_AUTO_FIRE, 0)
                dialog = opens("Auto Fire Button Setting", "auto fire")
                self.wine.probe("click", dialog["hwnd"], 1)
                answers(window, "auto-fire OK")
                self.wine.probe("post", window, WM_COMMAND, ids.IDM_BTH_INFORMATION, 0)
                info = opens("Driver Information - Bluetooth", "info")
                self.wine.probe("click", info["hwnd"], ids.IDC_INFO_BTH_DEBUG)
                debug = opens("Debug Information", "the debug dialog")
                self.wine.probe("select", debug["hwnd"], ids.IDC_DEBUG_VIEW, 1)
                answers(debug["hwnd"], "the debug query")
                answers(window, "the debug query")
                close_boxes()
                if fault == "hang":  # each of the five says so, about two seconds after it was asked
                    self.assertEqual(texts, [busy] * 5)
                self.wine.probe("click", debug["hwnd"], 2, check=False)
                self.wine.probe("click", info["hwnd"], 1, check=False)
                wait_for(lambda: not self.wine.find(title="Driver Information - Bluetooth"), 10, what="info closed")
                if fault != "hang":
                    # The slow read under way still holds the slot for the rest of its 10 s: a
                    # command of the next round could take the slot then and hang in the driver.
                    mark = self.mark()
                    self.control_command("fault 2 none")
                    wait_for(lambda: self.lines_since(mark, r"^GET dev=2 ok"), 30, what="Bluetooth answering")
        # Still held: a session's end is answered at once, and Exit ends the tool with its settings.
        self.wine.reg_delete()
        self.assertEqual(self.wine.probe("send", window, 0x11, 0, 0x80000000, 3000, check=False).strip(), "1")
        self.wine.probe("post", window, WM_COMMAND, ids.IDM_EXIT, 0)
        self.tool.wait(30)
        self.assertEqual(len(self.wine.reg_query() or {}), 20)
        self.control_command("fault 2 none")

    # ---- leaving

    def test_exit_ends_soon_while_the_driver_holds_a_request(self):
        self.start_driver()
        proc = self.start()
        self.control_command("fault 1 slow 10000", "fault 2 slow 10000")
        time.sleep(1.5)
        self.wine.reg_delete()
        started = time.time()
        self.wine.probe("post", self.main_window, WM_COMMAND, ids.IDM_EXIT, 0)
        proc.wait(30)
        elapsed = time.time() - started
        sys.stderr.write(f"\nExit with a request held for 10 s in the HID stack ended the tool in {elapsed:.2f} s\n")
        self.assertLess(elapsed, 5.0, f"Exit took {elapsed:.1f}s")
        values = self.wine.reg_query()
        self.assertIsNotNone(values, "the settings were saved first")
        self.assertEqual(len(values), 20, sorted(values))

    def test_exit_closes_every_handle_and_the_simulator_leaves_no_node(self):
        self.start_driver()
        proc = self.start()
        pid = self.tool_windows()[0]["pid"]
        devices = self.device_handles(pid)
        self.assertEqual(len(devices), 2, devices)
        # Pulled and plugged twice: still one handle per device.
        for _ in range(2):
            mark = self.mark()
            self.control_command("unplug 2")
            wait_for(lambda: self.lines_since(mark, r"^NODE remove dev=2$"), 15, what="the node removed")
            time.sleep(1.0)
            mark = self.mark()
            self.control_command("plug 2")
            self.polled_since(mark, 2)
        self.assertEqual(len(self.device_handles(pid)), 2)
        self.wine.probe("post", self.main_window, WM_COMMAND, ids.IDM_EXIT, 0)
        self.assertEqual(proc.wait(30), 0)
        self.control_command("quit")
        wait_for(lambda: self.log_lines(r"^QUIT$"), 20, what="the simulator to quit")
        self.assertFalse(self.log_lines(r"^NODE remove .*failed"))
        self.assertFalse([p for p in self.hid_devices() if "padwarden_ds3" in p], "no node is left behind")

    def device_handles(self, pid):
        out = self.wine.run(["wine", os.path.join(BUILD, "procprobe.exe"), str(pid), "names"], timeout=60)
        names = out.stdout.decode("utf-8", "replace").replace("\r", "").splitlines()
        return [n for n in names if "hid#" in n.lower() or "\\device\\hid" in n.lower()]


if __name__ == "__main__":
    harness.main()
