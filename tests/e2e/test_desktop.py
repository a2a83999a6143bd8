"""The tool on a desktop under Wine: tray icon, single instance, menu, Version, Config, Exit."""
import os
import time

import harness
from harness import ToolTestCase, ids, wait_for

VERSION_EN = "Padwarden - Version"
SETTING_EN = "Padwarden Setting"
TRAY_CALLBACK, TRAY_ICON_ID = 0x8001, 201
WM_CONTEXTMENU, WM_RBUTTONDOWN, WM_RBUTTONUP, NIN_KEYSELECT = 0x7B, 0x204, 0x205, 0x401
WM_KEYDOWN, VK_ESCAPE = 0x100, 0x1B


def place_dialogs_away(wine):
    """Saved positions clear of the tray window at the top left, so the icon stays clickable."""
    for name, value in (("VersionPosX", "2c01"), ("VersionPosY", "c800"), ("ToolSettingPosX", "5802"),
                        ("ToolSettingPosY", "2c01")):
        wine.reg_add(name, "REG_BINARY", value)


class DesktopTests(ToolTestCase):
    unmanaged = True
    def setUp(self):
        self.wine.reg_delete()

    def popups_open(self):
        return len(self.wine.find(cls="#32768"))

    def dialog(self, title):
        found = wait_for(lambda: self.wine.find(title=title), 15, what=f"dialog {title!r}")
        return found[0]["hwnd"]

    def test_icon_appears_and_a_second_copy_ends_at_once(self):
        first = self.start_tool()
        self.desk.screenshot("tray")
        second = self.wine.start("padwarden.exe")
        self.assertEqual(second.wait(60), 0)
        time.sleep(1)
        self.assertIsNone(first.poll(), "the first copy keeps running")
        self.assertEqual(len(self.tool_windows()), 1)
        self.assertIsNotNone(self.desk.tray_window())

    def test_menu_greys_the_transports_and_rumble_without_controller(self):
        self.start_tool()
        self.open_menu()
        self.desk.screenshot("menu")
        self.desk.key("Escape")
        wait_for(lambda: self.popups_open() == 0, 5, what="menu closed")
        # Right on a greyed popup opens nothing; on an enabled one it opens its sub-menu.
        for downs, name in ((1, "USB"), (2, "Bluetooth"), (3, "Rumble")):
            self.assertFalse(self.submenu_opens(*(["Down"] * downs)), f"{name} must be greyed")
        # Wine's user is an administrator: "Registry" opens, which shows the check can see a sub-menu.
        self.assertTrue(self.submenu_opens("Down", "Down", "Down", "Down"), "Registry must be live")

    def check_version_dialog(self, mode):
        self.choose_from_bottom(2)
        hwnd = self.dialog(VERSION_EN)
        self.assertEqual(self.wine.probe("text", hwnd, ids.IDC_VERSION_TEXT).rstrip("\n"), " 0. 3. 5.0015")
        self.assertEqual(self.wine.probe("text", hwnd, ids.IDC_MODE_TEXT).rstrip("\n"), f"Mode : {mode}")
        self.desk.screenshot(f"version-{mode.lower()}")
        self.wine.probe("click", hwnd, 2)
        wait_for(lambda: not self.wine.find(title=VERSION_EN), 10, what="the dialog to close")

    def test_version_dialog_normal_mode(self):
        self.start_tool()
        self.check_version_dialog("Normal")

    def test_version_dialog_debug_mode(self):
        self.start_tool("-debug")
        self.check_version_dialog("Debug")

    def test_config_chosen_twice_leaves_one_dialog(self):
        place_dialogs_away(self.wine)
        self.start_tool()
        self.choose_from_bottom(4)
        hwnd = self.dialog(SETTING_EN)
        self.choose_from_bottom(4)
        time.sleep(1.5)
        self.assertEqual(len(self.wine.find(title=SETTING_EN)), 1)
        self.assertEqual(self.wine.probe("check", hwnd, ids.IDC_ENABLE_ANIMATION).strip(), "1")
        self.assertEqual(self.wine.probe("text", hwnd, ids.IDC_SPEED_EDIT).strip(), "10")
        self.assertEqual(self.wine.probe("visible", hwnd, ids.IDC_ENABLE_DEBUG_LOGGING).strip(), "0", "no battery log outside debug mode")
        self.assertEqual(self.wine.probe("visible", hwnd, ids.IDC_BATTERY_LOG_PATH).strip(), "0", "nor its path")
        self.desk.screenshot("config")

    def test_typed_speed_is_held_to_its_range_and_text_keeps_the_last(self):
        place_dialogs_away(self.wine)
        proc = self.start_tool()
        stored = []
        # Typed into the box itself, as a user would, not moved with the arrows.
        for typed in ("0", "abc", "301", "42x", "7"):
            self.choose_from_bottom(4)
            hwnd = self.dialog(SETTING_EN)
            self.wine.probe("settext", hwnd, ids.IDC_SPEED_EDIT, typed)
            self.wine.probe("click", hwnd, 1)
            wait_for(lambda: not self.wine.find(title=SETTING_EN), 10, what="the dialog closed")
            self.choose_from_bottom(4)
            hwnd = self.dialog(SETTING_EN)
            stored.append(self.wine.probe("text", hwnd, ids.IDC_SPEED_EDIT).strip())
            self.wine.probe("click", hwnd, 2)
            wait_for(lambda: not self.wine.find(title=SETTING_EN), 10, what="the dialog closed")
        self.assertEqual(stored, ["1", "1", "300", "300", "7"])
        self.choose_from_bottom(1)
        self.assertEqual(proc.wait(30), 0)
        self.assertEqual(int(self.wine.reg_query()["IconAnimationSpeed"][1], 16), 7)

    def test_a_dialog_chosen_again_comes_to_the_front(self):
        place_dialogs_away(self.wine)
        self.start_tool()
        self.choose_from_bottom(2)
        version = self.dialog(VERSION_EN)
        self.choose_from_bottom(4)
        setting = self.dialog(SETTING_EN)
        foreground = lambda: int(self.wine.probe("foreground").strip())
        wait_for(lambda: foreground() == int(setting, 16), 5, what="the settings dialog in front")
        # "Version" again: no second copy, the open one comes to the front.
        self.choose_from_bottom(2)
        wait_for(lambda: foreground() == int(version, 16), 5, what="the version dialog in front")
        self.assertEqual(len(self.wine.find(title=VERSION_EN)), 1)

    def test_exit_saves_every_value_and_removes_the_icon(self):
        proc = self.start_tool()
        self.choose_from_bottom(1)
        self.assertEqual(proc.wait(30), 0)
        wait_for(lambda: not self.tool_windows(), 10, what="the window to go")
        values = self.wine.reg_query()
        self.assertIsNotNone(values, "the settings key exists after Exit")
        binaries = [n for n, (t, _) in values.items() if t == "REG_BINARY"]
        dwords = {n: d for n, (t, d) in values.items() if t == "REG_DWORD"}
        self.assertEqual(len(binaries), 14, binaries)
        self.assertEqual(sorted(dwords), sorted(["ThreadInterval", "EnableTrayIcon", "EnableAnimationIcon",
                                                 "EnableNotifyPSButton", "EnableNotifyLowBattery",
                                                 "IconAnimationSpeed"]))
        self.assertEqual(int(dwords["ThreadInterval"], 16), 100)
        self.assertEqual(int(dwords["IconAnimationSpeed"], 16), 10)
        self.assertTrue(all(values[n][1] == "0000" for n in binaries), values)

    def test_end_of_session_saves_every_value_and_ends_the_tool(self):
        place_dialogs_away(self.wine)
        proc = self.start_tool()
        # A change made since the start: animation off, through the settings dialog.
        self.choose_from_bottom(4)
        hwnd = self.dialog(SETTING_EN)
        self.wine.probe("click", hwnd, ids.IDC_ENABLE_ANIMATION)
        wait_for(lambda: self.wine.probe("check", hwnd, ids.IDC_ENABLE_ANIMATION).strip() == "0", 5, what="the box cleared")
        self.wine.probe("click", hwnd, 1)
        wait_for(lambda: not self.wine.find(title=SETTING_EN), 10, what="the dialog to close")
        self.wine.reg_delete()
        window = self.tool_windows()[0]["hwnd"]
        # What Windows sends at log-off: the query, then the end itself.
        self.assertEqual(self.wine.probe("send", window, 0x11, 0, 0x80000000).strip(), "1")
        self.wine.probe("send", window, 0x16, 1, 0x80000000, check=False)
        self.assertEqual(proc.wait(10), 0)
        values = self.wine.reg_query()
        self.assertIsNotNone(values, "the settings key exists after the session ended")
        self.assertEqual(len(values), 20, sorted(values))
        self.assertEqual(len([n for n, (t, _) in values.items() if t == "REG_BINARY"]), 14)
        self.assertEqual(int(values["EnableAnimationIcon"][1], 16), 0, "the change since the start is kept")
        self.assertEqual(int(values["ThreadInterval"][1], 16), 100)
        self.assertEqual(int.from_bytes(bytes.fromhex(values["ToolSettingPosX"][1]), "little"), 600)

    def test_a_stored_position_pulled_back_and_saved(self):
        self.wine.reg_add("VersionPosX", "REG_BINARY", "8813")  # 5000
        self.wine.reg_add("VersionPosY", "REG_BINARY", "8813")
        self.wine.reg_add("ThreadInterval", "REG_DWORD", 50)
        proc = self.start_tool()
        self.choose_from_bottom(2)
        hwnd = self.dialog(VERSION_EN)
        x, y, w, h = next(r["rect"] for r in self.wine.windows() if r["hwnd"] == hwnd)
        self.assertEqual((x + w, y + h), (1024, 768), "right and bottom edges on the screen's")
        self.wine.probe("click", hwnd, 2)
        wait_for(lambda: not self.wine.find(title=VERSION_EN), 10, what="the dialog to close")
        self.choose_from_bottom(1)
        proc.wait(30)
        values = self.wine.reg_query()
        stored_x = int.from_bytes(bytes.fromhex(values["VersionPosX"][1]), "little")
        self.assertEqual(stored_x, x)
        self.assertEqual(int(values["ThreadInterval"][1], 16), 100, "clamped on load, saved as clamped")


    def test_the_windows_suites_desktop_tests(self):
        # The Windows suite's tests of what start-up shows when it fails, of the calls to the
        # notification area and of the application profiles dialog need a display, which the suite itself runs without: they run here.
        r = self.wine.run(["wine", os.path.join(harness.BUILD, "padwarden_win_tests.exe"),
                           "--gtest_filter=StartUpFailure.*:TrayOnDesktop.*:AppProfilesOnDesktop.*", "--gtest_brief=1"],
                          timeout=180)
        out = r.stdout.decode("utf-8", "replace")
        self.assertEqual(r.returncode, 0, out)
        self.assertIn("[  PASSED  ] 6 tests", out)
        self.assertNotIn("SKIPPED", out)

    def test_the_menu_opens_once_at_the_point_the_notification_area_names(self):
        # What the notification area sends once the icon asks for version 4: the event and the
        # icon in lParam, the point to open at in wParam. The point is away from the cursor.
        self.start_tool()
        window = self.tool_windows()[0]["hwnd"]
        x, y = 400, 500
        for name, events in (("Space or Enter on the icon", [NIN_KEYSELECT]),
                             ("Shift+F10 on the icon", [WM_CONTEXTMENU]),
                             ("a right click", [WM_RBUTTONDOWN, WM_RBUTTONUP, WM_CONTEXTMENU])):
            for event in events:
                self.wine.probe("post", window, TRAY_CALLBACK, (y << 16) | x, (TRAY_ICON_ID << 16) | event)
            wait_for(lambda: self.popups_open() == 1, 10, what=f"the menu for {name}")
            time.sleep(1.0)
            menus = self.wine.find(cls="#32768")
            self.assertEqual(len(menus), 1, name)
            left, top, _, height = menus[0]["rect"]
            self.assertEqual((left, top + height), (x, y), f"{name}: the menu's bottom left corner")
            # Escape, as the menu's own thread reads it: no click gave the X focus to the tool.
            self.wine.probe("post", menus[0]["hwnd"], WM_KEYDOWN, VK_ESCAPE, 0)
            wait_for(lambda: self.popups_open() == 0, 5, what="the menu closed")
            time.sleep(1.0)
            self.assertEqual(self.popups_open(), 0, f"{name} opened the menu again")

    def test_a_cancelled_log_off_leaves_the_tool_running(self):
        proc = self.start_tool()
        window = self.tool_windows()[0]["hwnd"]
        # Since Vista a log-off that another program refused, or the user cancelled, ends with
        # WM_ENDSESSION and wParam FALSE.
        self.assertEqual(self.wine.probe("send", window, 0x11, 0, 0x80000000).strip(), "1")
        self.assertEqual(self.wine.probe("send", window, 0x16, 0, 0x80000000).strip(), "0")
        self.menu_opens_within(10)
        self.assertIsNone(proc.poll(), "the tool still runs")
        self.assertIsNotNone(self.desk.tray_window(), "with its icon")
        # And its own Exit still ends it.
        self.choose_from_bottom(1)
        self.assertEqual(proc.wait(30), 0)


class LargeIconTests(ToolTestCase):
    """At 200 percent scaling the tray asks for 32-pixel pictures: the tool offers one of its own
    instead of a blown-up 16-pixel one."""
    unmanaged = True

    prefix_name = "large-icons"

    def test_the_tray_shows_the_32_pixel_picture_at_200_percent(self):
        self.wine.reg_delete()
        self.wine.reg_add("LogPixels", "REG_DWORD", 192, key=r"HKCU\Control Panel\Desktop")
        self.wine.stop_all()
        self.start_tool()
        x, y, w, h = wait_for(self.desk.tray_geometry, 20, what="the tray window")
        time.sleep(1.0)
        self.desk.screenshot("tray-200-percent")
        self.assertGreaterEqual(h, 32, f"the tray's icon row is {h} pixels high")
        # The base picture at 32 pixels, pixel for pixel: sharp, not a blurred stretch.
        big = [(2 * px + dx, 2 * py + dy, c) for px, py, c in harness.tray_icon_pictures()[201]
               for dx in (0, 1) for dy in (0, 1)]
        gw, gh = min(w, 48), min(h, 48)
        _, _, px = self.desk.grab(x, y, gw, gh)
        best = min(sum(1 for (bx, by, c) in big
                       if max(abs(a - b) for a, b in zip(px[(by + oy) * gw + bx + ox], c)) > 40)
                   for ox in range(0, gw - 31) for oy in range(0, gh - 31))
        self.assertLessEqual(best, 8, f"{best} of {len(big)} pixels differ from the 32-pixel picture")


class JapaneseDesktopTests(ToolTestCase):
    unmanaged = True
    lang = "ja_JP.UTF-8"

    def test_menu_and_dialogs_in_japanese(self):
        self.wine.reg_delete()
        place_dialogs_away(self.wine)
        self.start_tool()
        self.open_menu()
        self.desk.screenshot("menu-ja")
        self.desk.key("Escape")
        self.choose_from_bottom(2)
        wait_for(lambda: self.wine.find(title="Padwarden - バージョン情報"), 15, what="the Japanese version dialog")
        self.choose_from_bottom(4)
        wait_for(lambda: self.wine.find(title="Padwarden - ツール設定"), 15, what="the Japanese settings dialog")
        self.desk.screenshot("dialogs-ja")


if __name__ == "__main__":
    harness.main()
