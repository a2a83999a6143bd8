"""Application profiles, beside the product behind the HID stack: small programs with windows
(foreground.exe under other names) take the foreground in turn, and the profile requests that
reach the driver are checked against bytes built here. The rules are written to the registry as a
user's dialog would leave them, and the dialog itself adds and removes one."""
import os
import shutil
import struct
import time

import harness
from harness import BUILD, ids, wait_for
from hid_requests import PROFILE, expected_profile_request, request
from test_hid import HidStackCase

APP_KEY = r"HKCU\Software\Corvane\Padwarden\ApplicationProfiles"
WM_COMMAND, WM_CLOSE, WM_KEYDOWN, WM_APP = 0x111, 0x10, 0x100, 0x8000
VK_UP, VK_DOWN = 0x26, 0x28
LVM_GETITEMCOUNT = 0x1004
# The second profile differs from the sample in its first rapid-fire speed.
MENU_PROFILE = PROFILE.replace("Title=Racing", "Title=Menu").replace("Speed1=11", "Speed1=99")


def menu_profile_request():
    return request(1, 0x0007FFFF, {
        21: struct.pack("<I", 0b11011), 25: bytes([5, 6, 7, 0]), 29: bytes([1, 3, 4]), 32: bytes([1, 2, 3, 4, 5, 6]),
        38: struct.pack("<I", 0xA5), 42: bytes([21, 22, 23, 24, 25, 26, 0, 0]),
        50: struct.pack("<6h", 100, -2, 300, 4, 5, 6), 62: bytes(range(31, 42)),
        73: bytes(18 - i for i in range(19)), 92: struct.pack("<I", 65537), 100: bytes([2]),
        101: bytes([99, 12, 13, 270 & 0xFF])})


class ApplicationProfileTests(HidStackCase):
    work_name = "e2e-app-profiles"

    def setUp(self):
        super().setUp()
        self.wine.reg_delete(APP_KEY)
        self.use_profile()
        folder = os.path.join(self.wine.prefix, "drive_c", "padwarden-profiles")
        with open(os.path.join(folder, "menu.ini"), "w", newline="\r\n") as f:
            f.write(MENU_PROFILE)
        self.programs = {}
        for name in ("game", "chat"):
            shutil.copy(os.path.join(BUILD, "foreground.exe"), os.path.join(self.work, f"{name}.exe"))

    def tearDown(self):
        for hwnd in self.programs.values():
            self.wine.probe("post", hwnd, WM_CLOSE, 0, 0, check=False)
        super().tearDown()

    def rules(self, *rules, fallback="|", enabled=1):
        for i, rule in enumerate(rules):
            self.wine.reg_add(f"Rule{i:03d}", "REG_SZ", rule, key=APP_KEY)
        self.wine.reg_add("NoListedProgram", "REG_SZ", fallback, key=APP_KEY)
        self.wine.reg_add("Enabled", "REG_DWORD", enabled, key=APP_KEY)

    def bring(self, name):
        """Starts the program, or brings its window to the front; the moment before it did, which
        no switch can be a second after unless the tool waited its second."""
        started = time.time()
        if name not in self.programs:
            self.wine.start(os.path.join(self.work, f"{name}.exe"), name)
            self.programs[name] = wait_for(lambda: self.wine.find(title=name), 30, what=name)[0]["hwnd"]
        else:
            self.wine.probe("post", self.programs[name], WM_APP, 0, 0)
        wait_for(lambda: self.wine.probe("foreground").strip() == str(int(self.programs[name], 16)), 10,
                 what=f"{name} in front")
        return started

    def close(self, name):
        self.wine.probe("post", self.programs.pop(name), WM_CLOSE, 0, 0)

    def usb_profiles(self, mark):
        """The profiles sent to the USB controller since `mark`, by their bytes."""
        names = {expected_profile_request(): "racing", menu_profile_request(): "menu"}
        return [names.get(l.split("bytes=")[1].strip(), "other")
                for l in self.lines_since(mark, r"^SET dev=1 cmd=SetDriverSettings .* ok bytes=")]

    def quiet(self, mark, seconds=2.5):
        """What was sent in `seconds` of nothing happening: the dwell is one second."""
        time.sleep(seconds)
        return self.lines_since(mark, r"^SET ")

    def test_without_rules_or_switched_off_nothing_is_sent(self):
        self.start_driver()
        for case in ("no rules", "switched off"):
            with self.subTest(case):
                if case == "switched off":
                    self.rules("game.exe|menu.ini|menu.ini", fallback="racing.ini|racing.ini", enabled=0)
                self.start()
                mark = self.mark()
                self.bring("game")
                self.bring("chat")
                self.bring("game")
                self.close("game")
                self.assertEqual(self.quiet(mark), [], "the tool's requests are the polls alone")
                self.wine.probe("post", self.main_window, WM_COMMAND, ids.IDM_EXIT, 0)
                self.tool.wait(30)
                self.close("chat")

    def test_the_profile_follows_the_program_in_front(self):
        self.rules("game.exe|menu.ini|", fallback="racing.ini|")
        self.start_driver()
        self.start()
        mark = self.mark()
        self.bring("chat")
        self.assertEqual(self.quiet(mark), [], "an unlisted program changes nothing")
        # A listed one, a second after it came: its profile on USB only, once.
        front = self.bring("game")
        wait_for(lambda: self.usb_profiles(mark), 10, what="the game's profile")
        self.assertGreaterEqual(time.time() - front, 1.0, "sent before the game had a second in front")
        self.assertEqual(self.quiet(mark), self.lines_since(mark, r"^SET dev=1 "), "nothing on Bluetooth")
        self.assertEqual(self.usb_profiles(mark), ["menu"])
        status = self.status()
        self.assertEqual((status["usb.profile"], status["usb.rule"]), ("Menu", "game.exe"))
        # A choice by hand holds while the game stays listed and in front, through a chat window.
        self.assertEqual(self.command("-profile", "usb", "racing.ini")[0], 0)
        wait_for(lambda: self.usb_profiles(mark) == ["menu", "racing"], 10, what="the hand choice")
        self.assertEqual(self.status()["usb.rule"], "")
        self.bring("chat")
        self.bring("game")
        self.quiet(mark)
        self.assertEqual(self.usb_profiles(mark), ["menu", "racing"], "the hand choice held")
        # The game ends: the rule for no listed program, which the hand choice does not block.
        self.assertEqual(self.command("-profile", "usb", "menu.ini")[0], 0)
        wait_for(lambda: len(self.usb_profiles(mark)) == 3, 10, what="the second hand choice")
        self.close("game")
        wait_for(lambda: len(self.usb_profiles(mark)) == 4, 10, what="the profile for no listed program")
        self.assertEqual(self.usb_profiles(mark), ["menu", "racing", "menu", "racing"])
        self.assertEqual(self.status()["usb.rule"], "(no listed program)")
        # Exit keeps the rules.
        self.wine.probe("post", self.main_window, WM_COMMAND, ids.IDM_EXIT, 0)
        self.tool.wait(30)
        self.assertEqual(self.wine.reg_query(APP_KEY)["Rule000"], ("REG_SZ", "game.exe|menu.ini|"))

    def test_the_dialog_adds_and_removes_a_rule(self):
        self.start_driver()
        self.start()
        self.bring("game")  # the program in front before the menu opens
        self.choose_from_bottom(3)
        dialog = wait_for(lambda: self.wine.find(title="Application Profiles"), 15, what="the dialog")[0]["hwnd"]
        listing = next(line.split("\t")[0] for line in self.wine.probe("children", dialog).splitlines()
                       if "\tSysListView32\t" in line)
        rows = lambda: int(self.wine.probe("send", listing, LVM_GETITEMCOUNT, 0, 0).strip())  # noqa: E731
        self.assertEqual(rows(), 1, "the rule for no listed program alone")
        self.assertEqual(self.wine.probe("enabled", dialog, ids.IDC_APP_REMOVE).strip(), "0")
        self.wine.probe("click", dialog, ids.IDC_APP_ADD_FRONT)
        wait_for(lambda: rows() == 2, 10, what="the game listed")
        choices = self.wine.probe("combo", dialog, ids.IDC_APP_USB).splitlines()
        self.assertEqual(choices[:3], ["No change", "Menu", "Racing"])
        self.wine.probe("select", dialog, ids.IDC_APP_USB, 2)
        self.desk.screenshot("app-profiles")
        # By keyboard: up to the first row, which cannot be removed, and down again.
        self.wine.probe("post", listing, WM_KEYDOWN, VK_UP, 0)
        wait_for(lambda: self.wine.probe("enabled", dialog, ids.IDC_APP_REMOVE).strip() == "0", 5, what="row 0")
        self.wine.probe("post", listing, WM_KEYDOWN, VK_DOWN, 0)
        wait_for(lambda: self.wine.probe("enabled", dialog, ids.IDC_APP_REMOVE).strip() == "1", 5, what="row 1")
        self.assertEqual(self.wine.probe("combo", dialog, ids.IDC_APP_USB).splitlines()[-1], "selected 2")
        self.wine.probe("click", dialog, 1)
        wait_for(lambda: not self.wine.find(title="Application Profiles"), 10, what="the dialog closed")
        values = self.wine.reg_query(APP_KEY)
        self.assertEqual(values["Rule000"], ("REG_SZ", "game.exe|racing.ini|"))
        self.assertEqual(values["Enabled"][1], "0x1")
        # Saved, the rule is in force at once: the game is still in front.
        mark = self.mark()
        self.bring("game")
        wait_for(lambda: self.usb_profiles(mark) == ["racing"], 10, what="the new rule applied")
        # Removed again.
        self.wine.probe("post", self.main_window, WM_COMMAND, ids.IDM_APP_PROFILES, 0)
        dialog = wait_for(lambda: self.wine.find(title="Application Profiles"), 15, what="the dialog")[0]["hwnd"]
        self.wine.probe("post", next(line.split("\t")[0] for line in self.wine.probe("children", dialog).splitlines()
                                     if "\tSysListView32\t" in line), WM_KEYDOWN, VK_DOWN, 0)
        wait_for(lambda: self.wine.probe("enabled", dialog, ids.IDC_APP_REMOVE).strip() == "1", 5, what="row 1")
        self.wine.probe("click", dialog, ids.IDC_APP_REMOVE)
        self.wine.probe("click", dialog, 1)
        wait_for(lambda: not self.wine.find(title="Application Profiles"), 10, what="the dialog closed")
        self.assertNotIn("Rule000", self.wine.reg_query(APP_KEY))


class JapaneseApplicationProfileTests(HidStackCase):
    work_name = "e2e-app-profiles"
    prefix_name = "hid"
    lang = "ja_JP.UTF-8"

    def test_the_dialog_in_japanese(self):
        self.wine.reg_delete(APP_KEY)
        self.use_profile()
        self.start_driver()
        self.start()
        self.wine.probe("post", self.main_window, WM_COMMAND, ids.IDM_APP_PROFILES, 0)
        dialog = wait_for(lambda: self.wine.find(title="アプリケーション別プロファイル"), 15,
                          what="the Japanese dialog")[0]["hwnd"]
        self.assertEqual(self.wine.probe("combo", dialog, ids.IDC_APP_USB).splitlines()[0], "変更しない")
        self.assertEqual(self.wine.probe("text", dialog, ids.IDC_APP_ENABLED).strip(),
                         "アプリケーションごとにプロファイルを切り替える")
        self.wine.probe("click", dialog, 2)
        wait_for(lambda: not self.wine.find(title="アプリケーション別プロファイル"), 10, what="closed")


if __name__ == "__main__":
    harness.main()
