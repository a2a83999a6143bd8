"""The product beside the simulated driver behind the HID stack: the driver information dialogs,
the debug information dialog and the auto-fire dialogs show what the driver reports and send what
the user picks."""
import os
import re
import struct
import time

import harness
from harness import DriverCase, ids, wait_for

WM_COMMAND = 0x111
USB_INFO_EN = "Driver Information - USB"
BTH_INFO_EN = "Driver Information - Bluetooth"
USB_INFO_JA = "ドライバー情報 ｰ USB"
BTH_INFO_JA = "ドライバー情報 ｰ Bluetooth"
DEBUG_TITLE = "Debug Information"
AUTO_FIRE_EN = "Auto Fire Button Setting"
AUTO_FIRE_JA = "連射ボタン設定"

# Saved positions well away from the tray window at the top left (little-endian 16-bit values).
PLACES = {"USBInformationPosX": 300, "USBInformationPosY": 150, "BTHInformationPosX": 200,
          "BTHInformationPosY": 250, "USBRapidFireSettingPosX": 250, "USBRapidFireSettingPosY": 100,
          "BTHRapidFireSettingPosX": 600, "BTHRapidFireSettingPosY": 400}


def auto_fire_request(mask):
    """The SetDriverSettings request that carries only the auto-fire mask, as the log prints it."""
    r = bytearray(109)
    r[0] = 2
    r[1:5] = b"PWRQ"
    r[5:9] = bytes([0, 0, 0, 1])
    r[9:13] = struct.pack("<I", 1)
    r[17:21] = struct.pack("<I", 0x00080000)
    r[105:109] = struct.pack("<I", mask)
    return harness.sealed_request_hex(r)


class DriverDialogCase(DriverCase):
    work_name = "e2e-dialogs"
    unmanaged = True

    def setUp(self):
        super().setUp()
        self.wine.reg_add_binaries({name: struct.pack("<H", value) for name, value in PLACES.items()})

    def start_all(self, script, *args):
        self.start_driver("add usb\nadd bth\n" + script)
        self.start(*args)

    def sim(self, *lines):
        """Runs simulator commands and waits until the Monitor thread has read both devices again."""
        mark = len(self.log_text().splitlines())
        with open(self.control, "a") as f:
            f.write("".join(line + "\n" for line in lines))

        def polled_after():
            new = self.log_text().splitlines()[mark:]
            return any(l.startswith("GET dev=1 ok") for l in new) and any(l.startswith("GET dev=2 ok") for l in new)
        # A poll that began before the commands ran may still carry the old record: wait for two.
        wait_for(polled_after, 10, what="a poll after the simulator commands")
        mark = len(self.log_text().splitlines())
        wait_for(polled_after, 10, what="a second poll")

    def exit_and_read_settings(self):
        self.command(ids.IDM_EXIT)
        self.assertEqual(self.tool.wait(30), 0)
        return {name: int.from_bytes(bytes.fromhex(data), "little")
                for name, (kind, data) in self.wine.reg_query().items() if kind == "REG_BINARY"}

    def command(self, command_id):
        self.wine.probe("post", self.main_window, WM_COMMAND, command_id, 0)

    def open_dialog(self, command_id, title, known=()):
        self.command(command_id)
        found = wait_for(lambda: [w for w in self.wine.find(title=title) if w["hwnd"] not in known], 15,
                         what=f"dialog {title!r}")
        return found[0]["hwnd"]

    def text(self, hwnd, control):
        # The probe ends its answer with one line end of its own; the text's own CR LF stay.
        answer = self.wine.probe("text", hwnd, control)
        return answer[:-1] if answer.endswith("\n") else answer

    def checked(self, hwnd, controls):
        return [c for c in controls if self.wine.probe("check", hwnd, c).strip() == "1"]

    def checked_labels(self, hwnd):
        """The labels of the ticked auto-fire boxes, in bit order."""
        return [self.text(hwnd, c) for c in self.checked(hwnd, range(ids.IDC_AUTO_FIRE_FIRST, ids.IDC_AUTO_FIRE_FIRST + 17))]

    def box_labelled(self, hwnd, label):
        return next(c for c in range(ids.IDC_AUTO_FIRE_FIRST, ids.IDC_AUTO_FIRE_FIRST + 17) if self.text(hwnd, c) == label)

    def click(self, hwnd, control):
        self.wine.probe("click", hwnd, control)

    def gone(self, hwnd):
        wait_for(lambda: hwnd not in [w["hwnd"] for w in self.wine.windows()], 10, what=f"window {hwnd} to close")

    def sent_auto_fire(self, dev):
        return self.log_lines(rf"^SET dev={dev} cmd=SetDriverSettings mask=0x00080000")

    def auto_fire_ok_sends(self, hwnd, dev, mask):
        before = len(self.sent_auto_fire(dev))
        self.click(hwnd, 1)
        sent = wait_for(lambda: self.sent_auto_fire(dev)[before:], 10, what="the auto-fire request")
        self.assertEqual(len(sent), 1, sent)
        self.assertRegex(sent[0], r" ok bytes=")
        self.assertEqual(sent[0].split("bytes=")[1].strip(), auto_fire_request(mask))
        self.gone(hwnd)

    def debug_view(self, dialog, position):
        before = self.text(dialog, ids.IDC_DEBUG_TEXT)
        self.wine.probe("select", dialog, ids.IDC_DEBUG_VIEW, position)
        if position == 0:
            return wait_for(lambda: self.text(dialog, ids.IDC_DEBUG_TEXT).startswith("DriverVersionMajor"), 10, what="the view")
        wait_for(lambda: self.text(dialog, ids.IDC_DEBUG_TEXT) != before, 10, what=f"view {position}")
        return self.text(dialog, ids.IDC_DEBUG_TEXT)


class InformationDialogs(DriverDialogCase):
    def test_usb_information_from_the_menu_and_refresh(self):
        self.wine.reg_add("USBInformationPosX", "REG_BINARY", "8813")  # 5000
        self.start_all("set 1 version 1 4 0 12\nset 1 mode 1\nset 1 status 0\nset 1 error 5\n"
                       "set 1 autofire 0xFFFF0003\nset 1 speed-selector 1\n")
        time.sleep(0.5)
        # USB > Information, the last item of the USB sub-menu.
        self.open_menu()
        self.desk.key("Down", "Right", "Up", "Return")
        dialog = wait_for(lambda: self.wine.find(title=USB_INFO_EN), 15, what="the USB information dialog")[0]
        hwnd = dialog["hwnd"]
        x, y, w, _ = dialog["rect"]
        self.assertEqual((x + w, y), (1024, 150), "pulled back onto the screen")
        self.assertEqual(self.text(hwnd, ids.IDC_INFO_VERSION), "1.4.0.0012")
        self.assertEqual(self.text(hwnd, ids.IDC_INFO_MODE), "Advanced")
        self.assertEqual(self.text(hwnd, ids.IDC_INFO_STATUS), "Wait for PS button")
        self.assertEqual(self.text(hwnd, ids.IDC_INFO_ERROR), "---")
        self.assertEqual(self.checked(hwnd, [ids.IDC_INFO_SPEED_LEFT, ids.IDC_INFO_SPEED_RIGHT]), [ids.IDC_INFO_SPEED_RIGHT])
        self.assertEqual(self.checked(hwnd, range(ids.IDC_INFO_AUTO_FIRE_FIRST, ids.IDC_INFO_AUTO_FIRE_FIRST + 17)),
                         [ids.IDC_INFO_AUTO_FIRE_FIRST + b for b in (0, 1, 16)], "bits 0, 1 and 16 only")
        self.assertEqual(self.wine.probe("visible", hwnd, ids.IDC_INFO_USB_DEBUG).strip(), "0", "no debug button outside debug mode")
        self.assertEqual(self.wine.probe("visible", hwnd, ids.IDC_INFO_DEVICE).strip(), "0")
        self.desk.screenshot("information-usb")
        # A click cannot move the radio buttons or tick a box.
        self.click(hwnd, ids.IDC_INFO_SPEED_LEFT)
        self.click(hwnd, ids.IDC_INFO_AUTO_FIRE_FIRST + 6)
        time.sleep(0.5)
        self.assertEqual(self.checked(hwnd, [ids.IDC_INFO_SPEED_LEFT, ids.IDC_INFO_SPEED_RIGHT]), [ids.IDC_INFO_SPEED_RIGHT])
        self.assertEqual(self.checked(hwnd, [ids.IDC_INFO_AUTO_FIRE_FIRST + 6]), [])
        # The dialog shows the record of its last fill until Refresh.
        self.sim("set 1 status 1", "set 1 mode 0", "set 1 error 0", "set 1 speed-selector 0")
        self.assertEqual(self.text(hwnd, ids.IDC_INFO_STATUS), "Wait for PS button")
        self.click(hwnd, ids.IDC_INFO_REFRESH)
        wait_for(lambda: self.text(hwnd, ids.IDC_INFO_STATUS) == "Running", 10, what="the refreshed status")
        self.assertEqual(self.text(hwnd, ids.IDC_INFO_MODE), "Normal")
        self.assertEqual(self.text(hwnd, ids.IDC_INFO_ERROR), "No error")
        self.assertEqual(self.checked(hwnd, [ids.IDC_INFO_SPEED_LEFT, ids.IDC_INFO_SPEED_RIGHT]), [ids.IDC_INFO_SPEED_LEFT])
        self.wine.probe("move", hwnd, 123, 77)
        self.click(hwnd, 1)
        self.gone(hwnd)
        stored = self.exit_and_read_settings()
        self.assertEqual((stored["USBInformationPosX"], stored["USBInformationPosY"]), (123, 77),
                         "OK stores where the dialog stands")

    def drawn_bar(self, hwnd, position):
        """The colour that fills the battery bar's first `position` fifths on the screen, read from a
        screenshot along the bar's middle row; None unless that stretch is one colour throughout."""
        x, y, w, h = (int(v) for v in self.wine.probe("rect", hwnd, ids.IDC_INFO_BATTERY).split())
        time.sleep(0.3)  # the refresh's repaint
        _, _, px = self.desk.grab(x, y + h // 2, w, 1)
        # Inside the frame and short of the filled part's end, which may fall mid-pixel.
        filled = px[3:max(4, w * position // 5 - 3)]
        return filled[0] if len(set(filled)) == 1 else None

    def test_bluetooth_fields_and_the_battery_bar(self):
        self.wine.reg_add("BTHInformationPosY", "REG_BINARY", "8813")  # 5000
        self.start_all("set 2 version 2 0 0 20\nset 2 hci 6 8891\nset 2 lmp 5 777\nset 2 manufacturer 0xab\n"
                       "set 2 adapter 00:11:22:33:44:55\nset 2 remote 66:77:88:99:aa:bb\nset 2 power 4 -4\n"
                       "set 2 link-quality 14\nset 2 battery 3\nset 2 status 16\n")
        hwnd = self.open_dialog(ids.IDM_BTH_INFORMATION, BTH_INFO_EN)
        _, y, _, h = next(w["rect"] for w in self.wine.windows() if w["hwnd"] == hwnd)
        self.assertEqual(y + h, 768, "pulled back onto the screen")
        want = {ids.IDC_INFO_VERSION: "2.0.0.0020", ids.IDC_INFO_HCI: "6  Rev.8891", ids.IDC_INFO_LMP: "5  Sub ver.777",
                ids.IDC_INFO_MANUFACTURER: "0x00AB", ids.IDC_INFO_ADAPTER: "00:11:22:33:44:55",
                ids.IDC_INFO_REMOTE: "66:77:88:99:aa:bb", ids.IDC_INFO_POWER: "-004 / 004(MAX)",
                ids.IDC_INFO_LINK_QUALITY: "0x0e", ids.IDC_INFO_STATUS: "Wakening up from Sleep mode",
                ids.IDC_INFO_MODE: "Normal", ids.IDC_INFO_ERROR: "No error"}
        self.assertEqual({c: self.text(hwnd, c) for c in want}, want)
        # Driver 2.0.0.20 is newer than 1.4.0.12: the bar shows the level.
        self.assertEqual(self.wine.probe("enabled", hwnd, ids.IDC_INFO_BATTERY).strip(), "1")
        self.assertEqual(self.wine.probe("progress", hwnd, ids.IDC_INFO_BATTERY).strip(), "3 0 5 0xffff00")
        self.assertEqual(self.drawn_bar(hwnd, 3), (255, 255, 0), "a yellow bar on the screen")
        self.desk.screenshot("information-bluetooth")
        # Each level with a colour of its own, as the screen shows it.
        for command, bar, colour in (("set 2 battery 0xef", "5 0 5 0x0000ff", (0, 0, 255)),
                                     ("set 2 battery 0xee", "5 0 5 0x00ffff", (0, 255, 255)),
                                     ("set 2 battery 4", "4 0 5 0x00ff00", (0, 255, 0)),
                                     ("set 2 battery 2", "2 0 5 0xff0000", (255, 0, 0)),
                                     ("set 2 battery 1", "1 0 5 0x000000", (0, 0, 0))):
            self.sim(command)
            self.click(hwnd, ids.IDC_INFO_REFRESH)
            wait_for(lambda: self.wine.probe("progress", hwnd, ids.IDC_INFO_BATTERY).strip() == bar, 10, what=f"bar {bar}")
            self.assertEqual(self.drawn_bar(hwnd, int(bar.split()[0])), colour, f"the bar drawn for {command}")
        self.sim("set 2 status 14")
        self.click(hwnd, ids.IDC_INFO_REFRESH)
        wait_for(lambda: self.text(hwnd, ids.IDC_INFO_STATUS) == "Wakening up from Sleep mode", 10, what="status 14")
        self.sim("set 2 status 7")
        self.click(hwnd, ids.IDC_INFO_REFRESH)
        wait_for(lambda: self.text(hwnd, ids.IDC_INFO_STATUS) == "---", 10, what="status 7")
        # Older than 1.4.0.12: the bar is disabled and keeps what it showed.
        self.sim("set 2 version 1 4 0 11", "set 2 battery 4")
        self.click(hwnd, ids.IDC_INFO_REFRESH)
        wait_for(lambda: self.text(hwnd, ids.IDC_INFO_VERSION) == "1.4.0.0011", 10, what="the new version")
        self.assertEqual(self.wine.probe("enabled", hwnd, ids.IDC_INFO_BATTERY).strip(), "0")
        self.assertEqual(self.wine.probe("progress", hwnd, ids.IDC_INFO_BATTERY).strip(), "1 0 5 0x000000")
        # The close box (WM_CLOSE) closes it as Cancel does: the position it opened at stays.
        x, y = next(w["rect"][:2] for w in self.wine.windows() if w["hwnd"] == hwnd)
        self.wine.probe("move", hwnd, 10, 300)
        self.wine.probe("post", hwnd, 0x10, 0, 0)
        self.gone(hwnd)
        stored = self.exit_and_read_settings()
        self.assertEqual((stored["BTHInformationPosX"], stored["BTHInformationPosY"]), (x, y))
        self.assertEqual(x, 200)

    def test_debug_information_views_of_the_bluetooth_device(self):
        self.start_all("set 2 setting-tag 0xcafe\nset 2 info-flag 0x55\nset 2 info-drift 0\nset 2 info-time 0 111\n"
                       "set 2 info-time 1 222\nset 2 info-time 2 333\nset 2 info-time 3 -444\n"
                       "set 2 btsp-features 0 1 2 3 4 5 6 7 8\nset 2 raw 0 0xaa 0xbb\n", "-debug")
        hwnd = self.open_dialog(ids.IDM_BTH_INFORMATION, BTH_INFO_EN)
        for _ in range(3):
            self.click(hwnd, ids.IDC_INFO_REFRESH)
        time.sleep(0.5)
        self.assertEqual(self.wine.probe("combo", hwnd, ids.IDC_INFO_DEVICE).split("\n")[:2], ["00", "selected 0"])
        self.assertEqual(self.wine.probe("visible", hwnd, ids.IDC_INFO_DEVICE).strip(), "1")
        self.assertEqual(self.wine.probe("visible", hwnd, ids.IDC_INFO_BTH_DEBUG).strip(), "1")
        self.click(hwnd, ids.IDC_INFO_BTH_DEBUG)
        dialog = wait_for(lambda: self.wine.find(title=DEBUG_TITLE), 15, what="the debug dialog")[0]["hwnd"]
        self.assertEqual(self.wine.probe("combo", dialog, ids.IDC_DEBUG_VIEW).split("\n")[:5],
                         ["DRIVER_INFO", "DEBUG_INFO", "BTHSUPPORT_INFO", "DEBUGRAWDATA", "selected 0"])
        text = self.text(dialog, ids.IDC_DEBUG_TEXT)
        self.assertTrue(text.startswith("DriverVersionMajor 1\r\n"), text)
        self.assertTrue(text.endswith("DriverSettingTagId 0x0000cafe\r\n"), text)
        self.assertEqual(self.debug_view(dialog, 1),
                         "InfoTypeId 'INFO'\r\nFeatureFlag 0x00000055\r\nThreadTime\r\n"
                         "  PerformanceFrequency 3000000000\r\n  ThreadTimeHci 111\r\n  ThreadTimeHciEvent 222\r\n"
                         "  ThreadTimeAcl 333\r\n  ThreadTimeAclOut -444\r\n")
        btsp = self.debug_view(dialog, 2)
        self.assertTrue(btsp.startswith("InfoTypeId 'BTSP'\r\nSupported Commands\r\n ff ff ff 03"), btsp)
        self.assertTrue(btsp.endswith("Supported Features\r\n 01 02 03 04 05 06 07 08"), btsp)
        draw = self.debug_view(dialog, 3)
        self.assertTrue(draw.startswith("InfoTypeId 'DRAW'\r\nReport Id 0x01\r\n aa bb"), draw)
        self.desk.screenshot("debug-information")
        # A DEBUG_INFO query answered with a raw-data record.
        self.sim("set 2 answer info draw")
        self.assertEqual(self.debug_view(dialog, 1), "No supported function")
        self.assertEqual(self.log_lines(r"^SET dev=2 cmd=LeaveDebugMode")[-1].split()[4], "ok")
        self.click(dialog, 2)
        self.gone(dialog)
        self.assertTrue(self.wine.find(title=BTH_INFO_EN), "the information dialog stays open")
        self.click(hwnd, 1)
        self.gone(hwnd)


class DebugButtonWithoutDevice(DriverDialogCase):
    """The USB slot is closed when its information dialog opens: only the Bluetooth controller is
    there. The debug button must still follow the tool's debug mode."""

    def open_usb_information(self, *args):
        self.start_driver("add bth\n")
        self.start(*args, devices=(("1", "DS3B"),))
        return self.open_dialog(ids.IDM_USB_INFORMATION, USB_INFO_EN)

    def test_hidden_in_a_normal_run(self):
        hwnd = self.open_usb_information()
        self.assertEqual(self.wine.probe("visible", hwnd, ids.IDC_INFO_USB_DEBUG).strip(), "0", "no debug button outside debug mode")
        self.assertEqual(self.wine.probe("enabled", hwnd, ids.IDC_INFO_USB_DEBUG).strip(), "0")
        self.assertEqual(self.wine.probe("visible", hwnd, ids.IDC_INFO_DEVICE).strip(), "0")
        # Its command, however it arrives, opens nothing outside debug mode.
        self.wine.probe("post", hwnd, WM_COMMAND, ids.IDC_INFO_USB_DEBUG, 0)
        time.sleep(1.5)
        self.assertEqual(self.wine.find(title=DEBUG_TITLE), [])
        self.wine.probe("post", hwnd, WM_COMMAND, 2, 0)
        self.gone(hwnd)

    def test_shown_in_debug_mode(self):
        hwnd = self.open_usb_information("-debug")
        self.assertEqual(self.wine.probe("visible", hwnd, ids.IDC_INFO_USB_DEBUG).strip(), "1")
        self.assertEqual(self.wine.probe("enabled", hwnd, ids.IDC_INFO_USB_DEBUG).strip(), "1")
        self.click(hwnd, ids.IDC_INFO_USB_DEBUG)
        dialog = wait_for(lambda: self.wine.find(title=DEBUG_TITLE), 15, what="the debug dialog")[0]["hwnd"]
        self.click(dialog, 2)
        self.gone(dialog)
        self.wine.probe("post", hwnd, WM_COMMAND, 2, 0)
        self.gone(hwnd)


class Placement(DriverDialogCase):
    """Positions are signed 16-bit values; a dialog opens fully inside the work area of the monitor
    nearest its saved place (Wine on Xvfb shows one monitor)."""

    def rect(self, hwnd):
        return next(w["rect"] for w in self.wine.windows() if w["hwnd"] == hwnd)

    def test_off_screen_and_negative_places_open_inside_the_work_area(self):
        self.wine.reg_add("USBInformationPosX", "REG_BINARY", struct.pack("<h", -1200).hex())
        self.wine.reg_add("USBInformationPosY", "REG_BINARY", "8813")  # 5000
        self.start_all("")
        left, top, right, bottom = (int(v) for v in self.wine.probe("workarea").split())
        hwnd = self.open_dialog(ids.IDM_USB_INFORMATION, USB_INFO_EN)
        x, y, w, h = self.rect(hwnd)
        self.assertEqual((x, y + h), (left, bottom), "left of the screen and below it: its left and bottom edges")
        # Closed with OK where the user dragged it, reopened inside the work area.
        for moved, want in (((-1200, -300), (left, top)),
                            ((900, 700), (right - w, bottom - h)),
                            ((200, bottom - h // 2), (200, bottom - h)),
                            ((-w // 2, 100), (left, 100)),
                            ((300, 120), (300, 120))):
            self.wine.probe("move", hwnd, *moved)
            self.click(hwnd, 1)
            self.gone(hwnd)
            hwnd = self.open_dialog(ids.IDM_USB_INFORMATION, USB_INFO_EN)
            x, y, w, h = self.rect(hwnd)
            self.assertEqual((x, y), want, f"closed at {moved}")
            self.assertTrue(left <= x and x + w <= right and top <= y and y + h <= bottom, (x, y, w, h))
        # Stored signed, in the same two bytes.
        self.wine.probe("move", hwnd, -50, 200)
        self.click(hwnd, 1)
        self.gone(hwnd)
        self.command(ids.IDM_EXIT)
        self.assertEqual(self.tool.wait(30), 0)
        values = self.wine.reg_query()
        self.assertEqual(values["USBInformationPosX"][1].upper(), "CEFF", "-50")
        self.assertEqual(values["USBInformationPosY"][1].upper(), "C800", "200")


class AutoFireDialogs(DriverDialogCase):
    def test_both_instances_at_once_send_their_own_masks(self):
        self.start_all("set 1 autofire 0x10001\nset 2 autofire 0xFFFE8000\n")
        usb = self.open_dialog(ids.IDM_USB_AUTO_FIRE, AUTO_FIRE_EN)
        bth = self.open_dialog(ids.IDM_BTH_AUTO_FIRE, AUTO_FIRE_EN, known=(usb,))
        rects = {w["hwnd"]: w["rect"][:2] for w in self.wine.find(title=AUTO_FIRE_EN)}
        self.assertEqual(rects, {usb: (250, 100), bth: (600, 400)}, "each instance at its own place")
        # The boxes say what the driver's bits mean: 0x10001 is SELECT and PS.
        self.assertEqual(self.checked_labels(usb), ["SELECT", "PS"])
        self.assertEqual(self.checked(bth, range(ids.IDC_AUTO_FIRE_FIRST, ids.IDC_AUTO_FIRE_FIRST + 17)), [ids.IDC_AUTO_FIRE_FIRST + 15], "Square; bits above 16 are not shown")
        self.desk.screenshot("auto-fire-both")
        # The same command again opens no second copy.
        self.command(ids.IDM_USB_AUTO_FIRE)
        time.sleep(1.0)
        self.assertEqual(len(self.wine.find(title=AUTO_FIRE_EN)), 2)
        # Bluetooth: unchanged boxes are still sent.
        self.auto_fire_ok_sends(bth, 2, 0x8000)
        self.assertTrue(self.wine.find(title=AUTO_FIRE_EN), "the USB instance stays open")
        # USB: untick SELECT, tick L3 and Cross, found by their labels.
        for label in ("SELECT", "L3", "Cross"):
            self.click(usb, self.box_labelled(usb, label))
        wait_for(lambda: self.checked_labels(usb) == ["L3", "Cross", "PS"], 5, what="the ticks")
        self.auto_fire_ok_sends(usb, 1, 0x14002)
        self.sim()
        usb = self.open_dialog(ids.IDM_USB_AUTO_FIRE, AUTO_FIRE_EN)
        self.assertEqual(self.checked_labels(usb), ["L3", "Cross", "PS"], "the driver's new set")
        # Only SELECT ticked sends bit 0 alone.
        for label in ("L3", "Cross", "PS", "SELECT"):
            self.click(usb, self.box_labelled(usb, label))
        wait_for(lambda: self.checked_labels(usb) == ["SELECT"], 5, what="SELECT alone")
        self.auto_fire_ok_sends(usb, 1, 0x1)
        self.sim()
        usb = self.open_dialog(ids.IDM_USB_AUTO_FIRE, AUTO_FIRE_EN)
        self.click(usb, 2)
        self.gone(usb)
        self.assertEqual(len(self.sent_auto_fire(1)), 2, "Cancel sends nothing")

    def test_a_refused_write_shows_the_error_and_the_dialog_closes(self):
        self.start_all("fault 1 fail-settings\n")
        hwnd = self.open_dialog(ids.IDM_USB_AUTO_FIRE, AUTO_FIRE_EN)
        self.click(hwnd, 1)
        box = wait_for(lambda: self.wine.find(title="Error", cls="#32770"), 15, what="the error box")[0]["hwnd"]
        self.assertEqual(self.text(box, 0xFFFF), "Failed to driver control")
        self.desk.screenshot("auto-fire-error")
        self.assertRegex(self.sent_auto_fire(1)[-1], r" failed reason=fault ")
        self.click(box, 1)
        self.gone(box)
        self.gone(hwnd)
        # It opens again: closing cleared its open flag.
        again = self.open_dialog(ids.IDM_USB_AUTO_FIRE, AUTO_FIRE_EN)
        self.click(again, 2)
        self.gone(again)


class JapaneseDialogs(DriverDialogCase):
    lang = "ja_JP.UTF-8"

    def test_dialogs_in_japanese(self):
        self.start_all("set 1 status 1\nset 1 autofire 4\nset 2 battery 5\nset 2 version 1 5 0 0\n"
                       "fault 2 fail-settings\n", "-debug")
        usb = self.open_dialog(ids.IDM_USB_INFORMATION, USB_INFO_JA)
        self.assertEqual(self.text(usb, ids.IDC_INFO_STATUS), "正常動作中")
        self.assertEqual(self.text(usb, ids.IDC_INFO_MODE), "通常モード")
        self.assertEqual(self.text(usb, ids.IDC_INFO_ERROR), "エラーはありません")
        self.assertEqual(self.text(usb, ids.IDC_INFO_REFRESH), "更新")
        self.sim("set 1 status 0")
        self.click(usb, ids.IDC_INFO_REFRESH)
        wait_for(lambda: self.text(usb, ids.IDC_INFO_STATUS) == "PSボタン待機中", 10, what="the refreshed status")
        self.assertEqual(self.text(usb, ids.IDC_INFO_USB_DEBUG), "デバッグ情報")
        self.click(usb, ids.IDC_INFO_USB_DEBUG)
        dialog = wait_for(lambda: self.wine.find(title=DEBUG_TITLE), 15, what="the debug dialog")[0]["hwnd"]
        info = self.debug_view(dialog, 1)
        self.assertEqual(re.findall(r"^  (\w+) ", info, re.M), ["PerformanceFrequency", "ThreadTimeIn", "ThreadTimeOut"])
        self.click(dialog, 2)
        self.gone(dialog)
        bth = self.open_dialog(ids.IDM_BTH_INFORMATION, BTH_INFO_JA)
        self.assertEqual(self.text(bth, ids.IDC_INFO_STATUS), "正常動作中")
        for _ in range(3):
            self.click(bth, ids.IDC_INFO_REFRESH)
        time.sleep(0.5)
        self.assertEqual(self.wine.probe("combo", bth, ids.IDC_INFO_DEVICE).split("\n")[:2], ["00", "selected 0"])
        self.assertEqual(self.wine.probe("progress", bth, ids.IDC_INFO_BATTERY).strip(), "5 0 5 0x00ff00")
        self.desk.screenshot("information-ja")
        self.click(usb, 1)
        self.click(bth, 1)
        self.gone(usb)
        self.gone(bth)
        # Both auto-fire dialogs at once; the Bluetooth driver refuses the settings write.
        auto_bth = self.open_dialog(ids.IDM_BTH_AUTO_FIRE, AUTO_FIRE_JA)
        auto_usb = self.open_dialog(ids.IDM_USB_AUTO_FIRE, AUTO_FIRE_JA, known=(auto_bth,))
        self.assertEqual(self.checked_labels(auto_usb), ["R3"], "bit 2")
        self.assertEqual(self.checked(auto_bth, range(ids.IDC_AUTO_FIRE_FIRST, ids.IDC_AUTO_FIRE_FIRST + 17)), [])
        self.assertEqual(self.text(auto_bth, ids.IDC_AUTO_FIRE_FIRST + 12), "△")
        self.click(auto_bth, ids.IDC_AUTO_FIRE_FIRST + 12)
        wait_for(lambda: self.checked(auto_bth, [ids.IDC_AUTO_FIRE_FIRST + 12]) == [ids.IDC_AUTO_FIRE_FIRST + 12], 5, what="the tick")
        self.desk.screenshot("auto-fire-ja")
        self.click(auto_bth, 1)
        box = wait_for(lambda: self.wine.find(title="Error", cls="#32770"), 15, what="the error box")[0]["hwnd"]
        self.assertEqual(self.text(box, 0xFFFF), "ドライバーの操作に失敗しました")
        self.assertEqual(self.sent_auto_fire(2)[-1].split("bytes=")[1].strip(), auto_fire_request(0x1000))
        self.click(box, 1)
        self.gone(auto_bth)
        self.auto_fire_ok_sends(auto_usb, 1, 0x4)


if __name__ == "__main__":
    harness.main()
