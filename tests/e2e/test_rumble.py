"""The force-feedback side under Wine: the product beside ds3sim.exe --hid and ffsim.exe. A client
lights the Rumble sub-menu and its icon picture; the permission item, the setting dialog (English
and Japanese), the driver information dialog and the raw viewer work on the shared block; a silent
client loses its slot, a client that dies holding the mutex does not stop the tool, a client that
keeps the mutex stalls neither polling nor the user (who is told the driver is busy and loses
nothing), and a smaller mapping that another program made first ends start-up with a message."""
import glob
import os
import re
import time

import harness
from harness import BUILD, ToolTestCase, ids, read_text, wait_for
from harness import identify_tray_icon, tray_icon_pictures

WM_COMMAND = 0x0111
CMD_SETTING, CMD_PERMISSION, CMD_INFORMATION = ids.IDM_RUMBLE_SETTING, ids.IDM_RUMBLE_PERMISSION, ids.IDM_RUMBLE_INFORMATION
CMD_MIGRATION, CMD_VIEWER = ids.IDM_MOVE_FF_SETTING, ids.IDM_RUMBLE_VIEWER
BUSY = "The force feedback driver is busy, so nothing was changed. Try again in a moment."
SOURCE_KEY = r"HKLM\SYSTEM\CurrentControlSet\services\dualshock3\Rumble"
DESTINATION_KEY = r"HKCU\Software\Corvane\Shakewell"


class RumbleCase(ToolTestCase):
    prefix_name = "rumble"
    unmanaged = True

    def setUp(self):
        self.wine.reg_delete()
        # Dialogs clear of the tray window at the top left, so the icon stays clickable.
        self.wine.reg_add("RumblePosX", "REG_BINARY", "2c01")
        self.wine.reg_add("RumblePosY", "REG_BINARY", "c800")
        self.work = os.path.join(BUILD, "e2e-rumble")
        os.makedirs(self.work, exist_ok=True)
        for old in glob.glob(os.path.join(self.work, "*")):
            os.remove(old)
        self.ds3log = os.path.join(self.work, "ds3sim.log")
        self.fflog = os.path.join(self.work, "ffsim.log")
        self.ffcontrol = os.path.join(self.work, "ffsim-control.txt")
        open(self.ffcontrol, "w").close()

    def write(self, name, text):
        path = os.path.join(self.work, name)
        with open(path, "w") as f:
            f.write(text)
        return path

    def ff_lines(self, pattern):
        return [l for l in read_text(self.fflog).splitlines() if re.search(pattern, l)]

    def start_all(self, *args, claim="claim FFSim 1 0 0 3"):
        self.wine.start("ds3sim.exe", "--hid", "--script", self.write("ds3sim.txt", "add usb\n"), "--log",
                        self.ds3log)
        wait_for(lambda: "READY" in read_text(self.ds3log), 60, what="ds3sim to be ready")
        self.start_tool(*args, exe="padwarden.exe")
        wait_for(lambda: re.search(r"^GET dev=1 ok", read_text(self.ds3log), re.M), 30, what="the first poll")
        if claim:
            self.start_client(claim)

    def start_client(self, claim, log=None):
        self.wine.start("ffsim.exe", "--script", self.write("ffsim.txt", claim + "\n"), "--control", self.ffcontrol,
                        "--log", log or self.fflog)
        wait_for(lambda: re.search(r"^CLAIM slot=", read_text(log or self.fflog), re.M), 30, what="the claim")

    def ff(self, line):
        with open(self.ffcontrol, "a") as f:
            f.write(line + "\n")

    def command(self, cmd):
        hwnd = self.tool_windows()[0]["hwnd"]
        self.wine.probe("post", hwnd, WM_COMMAND, cmd, 0)

    def dialog(self, title):
        return wait_for(lambda: self.wine.find(title=title), 15, what=f"dialog {title!r}")[0]["hwnd"]

    def close_dialog(self, hwnd, button, title):
        self.wine.probe("click", hwnd, button)
        wait_for(lambda: not self.wine.find(title=title), 10, what=f"{title!r} to close")

    def popups(self):
        return self.wine.find(cls="#32768")

    def open_rumble_menu(self):
        """Opens the tray menu and the Rumble sub-menu; returns the two open popups."""
        self.open_menu()
        self.desk.key("Down", "Down", "Down", "Right")
        return wait_for(lambda: len(self.popups()) == 2 and self.popups(), 10, what="the Rumble sub-menu")

    def close_menus(self):
        self.desk.key("Escape", "Escape")
        wait_for(lambda: not self.popups(), 5, what="the menu to close")

    def rumble_menu_live(self):
        return self.submenu_opens("Down", "Down", "Down")

    def polls(self):
        return len(re.findall(r"^GET dev=1 ", read_text(self.ds3log), re.M))

    def next_pass(self):
        """Waits for a poll after this moment: the pass before it, and what it found of the clients,
        is then decided, and the menu shows it."""
        polls = self.polls()
        wait_for(lambda: self.polls() > polls, 15, what="the next poll")

    def permission_strip(self):
        """The Rumble sub-menu's left margin, where the check mark of the permission item is drawn."""
        popups = self.open_rumble_menu()
        sub = max(popups, key=lambda p: p["rect"][0])
        x, y, _, h = sub["rect"]
        _, _, px = self.desk.grab(x + 1, y + 1, 18, h - 2)
        self.close_menus()
        return px


class RumbleTests(RumbleCase):
    def test_client_lights_the_menu_and_the_icon_and_the_permission_follows(self):
        self.wine.reg_add("IconAnimationSpeed", "REG_DWORD", 1)
        self.start_all(claim=None)
        self.next_pass()
        self.assertFalse(self.rumble_menu_live(), "no client: Rumble greyed")
        icons = tray_icon_pictures()

        def seen(seconds):
            found, end = set(), time.time() + seconds
            while time.time() < end:
                name = identify_tray_icon(self.desk, icons)
                if name:
                    found.add(name)
                time.sleep(0.15)
            return found

        self.assertNotIn(204, seen(3.0))
        self.start_client("claim FFSim 1 0 0 3")
        wait_for(lambda: self.ff_lines(r"^ENABLE 1$"), 10, what="the client to read the switch")
        time.sleep(1.0)
        self.assertIn(204, seen(4.0), "a registered client adds its picture to the cycle")
        self.desk.screenshot("rumble-icon")
        ticked = self.permission_strip()
        # The permission item through the menu: Rumble Setting, then Allow Rumble.
        self.open_rumble_menu()
        self.desk.key("Down", "Return")
        wait_for(lambda: self.ff_lines(r"^ENABLE 0$"), 10, what="the client to see rumble switched off")
        cleared = self.permission_strip()
        self.assertNotEqual(ticked, cleared, "the check mark goes with the permission")
        self.command(CMD_PERMISSION)
        wait_for(lambda: len(self.ff_lines(r"^ENABLE 1$")) == 2, 10, what="the client to see rumble back on")
        self.assertEqual(self.permission_strip(), ticked)

    def test_setting_dialog_shows_the_client_and_its_values_reach_it(self):
        self.start_all()
        time.sleep(0.5)
        self.command(CMD_SETTING)
        hwnd = self.dialog("Rumble Setting - FFSim")
        shown = [self.wine.probe("text", hwnd, i).strip() for i in range(ids.IDC_RUMBLE_GAIN, ids.IDC_RUMBLE_LARGE_HIGH + 1)]
        self.assertEqual(shown, ["1.00", "10.00", "20.00", "30.00", "40.00"])
        self.assertEqual(self.wine.probe("check", hwnd, ids.IDC_RUMBLE_ENABLE).strip(), "1")
        self.desk.screenshot("rumble-setting")
        for control, text in zip(range(ids.IDC_RUMBLE_GAIN, ids.IDC_RUMBLE_LARGE_HIGH + 1), ("1.5", "20", "10", "10", "50")):
            self.wine.probe("settext", hwnd, control, text)
        self.close_dialog(hwnd, 1, "Rumble Setting - FFSim")
        wait_for(lambda: self.ff_lines(r"^ROW slot=0 enable=1 gain=150 small=2000 low=2001 mid=2002 high=5000$"), 10,
                 what="the new row at the client")
        wait_for(lambda: self.ff_lines(r"^ACK slot=0 seq=1$"), 10, what="the client's acknowledgement")
        # Reopened, the dialog shows what was stored.
        self.command(CMD_SETTING)
        hwnd = self.dialog("Rumble Setting - FFSim")
        self.assertEqual(self.wine.probe("text", hwnd, ids.IDC_RUMBLE_GAIN).strip(), "1.50")
        self.assertEqual(self.wine.probe("text", hwnd, ids.IDC_RUMBLE_LARGE_MID).strip(), "20.02")
        self.close_dialog(hwnd, 2, "Rumble Setting - FFSim")

    def test_information_dialog_and_viewer(self):
        self.start_all("-debug")
        time.sleep(0.5)
        self.command(CMD_INFORMATION)
        hwnd = self.dialog("Force Feedback Driver Information")
        self.assertEqual(self.wine.probe("text", hwnd, ids.IDC_FF_VERSION).rstrip("\n"), " 1. 0. 0.0003")
        self.close_dialog(hwnd, 1, "Force Feedback Driver Information")
        self.command(CMD_VIEWER)
        hwnd = self.dialog("Rumble Parameter Viewer")
        first = self.wine.probe("text", hwnd, ids.IDC_RUMBLE_DUMP).split("\r\n")[0]
        self.assertEqual(first, "50 44 57 4E 00 03 0F 00 01 00 00 00 01 00 00 00  PDWN............ ")
        self.desk.screenshot("rumble-viewer")
        self.ff("release 0")
        wait_for(lambda: self.ff_lines(r"^release slot=0$"), 10, what="the release")
        self.wine.probe("click", hwnd, ids.IDC_RUMBLE_REFRESH)
        wait_for(lambda: self.wine.probe("text", hwnd, ids.IDC_RUMBLE_DUMP).startswith(
            "50 44 57 4E 00 03 0F 00 00 00 00 00 01 00 00 00  PDWN"), 10, what="the refreshed dump")
        self.close_dialog(hwnd, 2, "Rumble Parameter Viewer")

    def test_client_dying_with_the_mutex_does_not_stop_the_tool(self):
        self.start_all()
        self.ff("die-holding")
        wait_for(lambda: self.ff_lines(r"^DIE holding the mutex$"), 10, what="the client to die")
        second = os.path.join(self.work, "ffsim-second.log")
        self.start_client("claim Second 2 0 0 1", log=second)
        self.assertRegex(read_text(second), r"CLAIM slot=1 name=Second")
        self.command(CMD_PERMISSION)
        wait_for(lambda: re.search(r"^ENABLE 0$", read_text(second), re.M), 10,
                 what="the next lock and the switch at the second client")
        self.assertFalse(self.wine.find(title="Error"), "no lock failure shown")
        self.assertTrue(self.rumble_menu_live())

    def error_box(self, within):
        return wait_for(lambda: self.wine.find(cls="#32770", title="Error"), within, what="the error box")[0]["hwnd"]

    def hold(self, ms):
        self.ff(f"hold {ms}")
        wait_for(lambda: self.ff_lines(rf"^HOLD {ms}$"), 10, what="the client to take the mutex")

    def test_toggle_while_a_client_holds_the_mutex_reports_the_busy_driver(self):
        self.start_all()
        wait_for(lambda: self.ff_lines(r"^ENABLE 1$"), 10, what="the client to read the switch")
        self.hold(5000)
        time.sleep(0.5)  # the Monitor thread now meets the held mutex on every pass
        self.command(CMD_PERMISSION)
        box = self.error_box(4)
        self.assertEqual(self.wine.probe("text", box, 0xFFFF).strip(), BUSY)
        self.assertFalse(self.ff_lines(r"^HOLD released$"), "the main thread did not wait for the holder")
        self.wine.probe("click", box, 1)
        wait_for(lambda: self.ff_lines(r"^HOLD released$"), 10, what="the hold to end")
        self.assertEqual(self.ff_lines(r"^ENABLE "), ["ENABLE 1"], "the refused toggle changed nothing")
        self.command(CMD_PERMISSION)
        wait_for(lambda: self.ff_lines(r"^ENABLE 0$"), 10, what="the toggle once the mutex is free")

    def test_a_client_keeping_the_mutex_stalls_neither_polling_nor_the_user(self):
        self.start_all()
        wait_for(lambda: self.ff_lines(r"^ENABLE 1$"), 10, what="the client to read the switch")
        self.hold(15000)
        polls = lambda: len(re.findall(r"^GET dev=1 ok", read_text(self.ds3log), re.M))  # noqa: E731
        before, start = polls(), time.time()
        time.sleep(3.0)
        made = polls() - before
        print(f"  {made} polls in {time.time() - start:.1f} s while a client held the mutex")
        self.assertGreater(made, 3, "the Monitor thread went on polling")
        # The setting dialog cannot read the slot: it says why and does not open empty.
        self.command(CMD_SETTING)
        box = self.error_box(5)
        self.assertEqual(self.wine.probe("text", box, 0xFFFF).strip(), BUSY)
        self.wine.probe("click", box, 1)
        # Wine takes a moment to take a box down; the dialog made behind it must go with it.
        wait_for(lambda: not any(self.wine.find(title=t, visible=False)
                                 for t in ("Rumble Setting - FFSim", "Rumble Setting")), 10,
                 what="no dialog with empty fields, not even a hidden one")
        self.assertFalse(self.ff_lines(r"^HOLD released$"), "all of this while the client held the mutex")
        wait_for(lambda: self.ff_lines(r"^HOLD released$"), 20, what="the hold to end")
        # The passes skipped meanwhile did not count against the client, and everything works again.
        self.command(CMD_SETTING)
        hwnd = self.dialog("Rumble Setting - FFSim")
        self.close_dialog(hwnd, 2, "Rumble Setting - FFSim")
        self.assertFalse(self.ff_lines(r"^LOST"), "the client kept its slot")
        self.assertTrue(self.rumble_menu_live())

    def test_ok_while_a_client_holds_the_mutex_keeps_the_dialog_and_its_values(self):
        self.start_all()
        time.sleep(0.5)
        self.command(CMD_SETTING)
        title = "Rumble Setting - FFSim"
        hwnd = self.dialog(title)
        typed = ("2.5", "15", "25", "35", "45")
        for control, text in zip(range(ids.IDC_RUMBLE_GAIN, ids.IDC_RUMBLE_LARGE_HIGH + 1), typed):
            self.wine.probe("settext", hwnd, control, text)
        self.hold(6000)
        self.wine.probe("click", hwnd, 1)
        box = self.error_box(5)
        self.assertEqual(self.wine.probe("text", box, 0xFFFF).strip(), BUSY)
        self.desk.screenshot("rumble-busy")
        self.wine.probe("click", box, 1)
        time.sleep(0.5)
        self.assertTrue(self.wine.find(title=title), "the dialog stays open")
        self.assertEqual(tuple(self.wine.probe("text", hwnd, i).strip() for i in range(ids.IDC_RUMBLE_GAIN, ids.IDC_RUMBLE_LARGE_HIGH + 1)), typed)
        self.assertFalse(self.ff_lines(r"^ROW slot=0 enable=1 gain=250"), "nothing was stored")
        wait_for(lambda: self.ff_lines(r"^HOLD released$"), 15, what="the hold to end")
        self.close_dialog(hwnd, 1, title)
        wait_for(lambda: self.ff_lines(r"^ROW slot=0 enable=1 gain=250 small=1500 low=2500 mid=3500 high=4500$"), 10,
                 what="the typed row at the client")

    def test_a_smaller_mapping_made_first_ends_start_up_with_a_message(self):
        self.wine.start("ffsim.exe", "--script", self.write("ffsim.txt", "squat 4096\n"), "--log", self.fflog)
        wait_for(lambda: self.ff_lines(r"^SQUAT 4096$"), 30, what="the other program's mapping")
        proc = self.wine.start("padwarden.exe")
        for text in ("Failed to acquire address of mapped file", "Failed to initialize"):
            box = wait_for(lambda: [w for w in self.wine.find(cls="#32770", title="Error")
                                    if self.wine.probe("text", w["hwnd"], 0xFFFF).strip() == text], 30,
                           what=f"the box {text!r}")[0]["hwnd"]
            self.wine.probe("click", box, 1)
        self.assertEqual(proc.wait(timeout=30), 0, "the tool ended on its own, not by a fault")
        self.assertFalse(self.tool_windows(), "no window, no icon")

    def test_a_client_that_stops_acknowledging_loses_its_slot(self):
        self.start_all()
        self.ff("ack 0 off")
        wait_for(lambda: self.ff_lines(r"^ACKING slot=0 off$"), 10, what="the client to stop acknowledging")
        # A change asks for an answer that never comes: the slot goes at the end of the period.
        self.command(CMD_SETTING)
        hwnd = self.dialog("Rumble Setting - FFSim")
        self.close_dialog(hwnd, 1, "Rumble Setting - FFSim")
        start = time.time()
        wait_for(lambda: self.ff_lines(r"^LOST slot=0$"), 150, step=1.0, what="the slot to be reaped")
        self.assertGreater(time.time() - start, 50, "not before a period of 600 polls")
        self.next_pass()
        self.assertFalse(self.rumble_menu_live(), "Rumble greyed once the only client is gone")

    def test_thirty_third_claim_refused_and_unterminated_name_bounded(self):
        claims = "\n".join(f"claim Pad{i} 1 0 0 {i}" for i in range(33))
        self.start_all(claim=claims)
        wait_for(lambda: len(self.ff_lines(r"^CLAIM slot=")) == 32, 20, what="32 claims")
        # The refusal is written after the 32nd claim; wait for it rather than race it.
        wait_for(lambda: self.ff_lines(r"^error: claim"), 20, what="the refused claim")
        self.assertEqual(self.ff_lines(r"^error: claim"), ["error: claim refused: all 32 rumble slots are in use"])
        self.assertEqual(len(self.ff_lines(r"^CLAIM slot=")), 32, "no slot beyond the 32nd")
        # A request first, so that the bytes after the name field are not zero.
        self.command(CMD_SETTING)
        hwnd = self.dialog("Rumble Setting - Pad0")
        self.close_dialog(hwnd, 1, "Rumble Setting - Pad0")
        wait_for(lambda: self.ff_lines(r"^(ACK|HEARTBEAT) slot=0 seq=1$"), 10, what="the answer")
        self.ff("long-name 0")
        wait_for(lambda: self.ff_lines(r"^long-name slot=0$"), 10, what="the long name")
        self.command(CMD_SETTING)
        title = "Rumble Setting - " + "W" * 64
        hwnd = self.dialog(title)
        self.close_dialog(hwnd, 2, title)

    def message_box(self):
        return wait_for(lambda: self.wine.find(cls="#32770", title="Padwarden"), 15, what="a message box")[0]["hwnd"]

    def test_migration_cancel_runs_nothing_and_ok_copies(self):
        self.wine.reg_delete(SOURCE_KEY)
        self.wine.reg_delete(DESTINATION_KEY)
        row = "0102030405060708090a0b0c0d0e0f101112131415161718"
        self.wine.reg_add("Pad", "REG_BINARY", row, key=SOURCE_KEY)
        self.start_tool()
        self.command(CMD_MIGRATION)
        box = self.message_box()
        self.assertEqual(self.wine.probe("text", box, 0xFFFF).strip(), "Do you perform a shift of the registry?")
        self.wine.probe("click", box, 2)
        wait_for(lambda: not self.wine.find(cls="#32770", title="Padwarden"), 10, what="the question to close")
        time.sleep(1.5)
        self.assertFalse(self.wine.find(cls="#32770", title="Padwarden"), "Cancel shows no result")
        self.assertIsNone(self.wine.reg_query(DESTINATION_KEY), "Cancel copies nothing")
        self.command(CMD_MIGRATION)
        self.wine.probe("click", self.message_box(), 1)
        wait_for(lambda: self.wine.find(cls="#32770", title="Padwarden") and self.wine.probe(
            "text", self.message_box(), 0xFFFF).strip() == "Done", 15, what="the result box")
        self.wine.probe("click", self.message_box(), 1)
        for key in (DESTINATION_KEY, SOURCE_KEY):
            values = self.wine.reg_query(key)
            self.assertEqual({n: (t, d.lower()) for n, (t, d) in values.items()}, {"Pad": ("REG_BINARY", row)}, key)


class JapaneseRumbleTests(RumbleCase):
    lang = "ja_JP.UTF-8"

    def test_setting_dialog_title_in_japanese(self):
        self.start_all()
        time.sleep(0.5)
        self.command(CMD_SETTING)
        hwnd = self.dialog("振動設定 - FFSim")
        self.desk.screenshot("rumble-setting-ja")
        self.close_dialog(hwnd, 2, "振動設定 - FFSim")


if __name__ == "__main__":
    harness.main()
