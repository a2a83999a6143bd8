"""Every dialog from the keyboard alone, driven with xdotool: Tab walks the controls in reading
order, Enter presses the default button and Escape cancels, in English and Japanese."""
import os
import re
import subprocess
import time

import harness
from harness import ids, wait_for
from test_dialogs import DriverDialogCase, auto_fire_request

WM_COMMAND = 0x111
SETTING = ids.IDC_ENABLE_ANIMATION
SPEED = ids.IDC_SPEED_EDIT
AUTO_FIRE_BOXES = list(range(ids.IDC_AUTO_FIRE_FIRST, ids.IDC_AUTO_FIRE_FIRST + 17))
INFO_BOXES = list(range(ids.IDC_INFO_AUTO_FIRE_FIRST, ids.IDC_INFO_AUTO_FIRE_FIRST + 17))
# The speed selector's radio pair is one stop, as a radio group is.
INFO_LEFT = [ids.IDC_INFO_VERSION, ids.IDC_INFO_MODE, ids.IDC_INFO_STATUS, ids.IDC_INFO_ERROR,
             ids.IDC_INFO_SPEED_LEFT]
BTH_GROUP = [ids.IDC_INFO_HCI, ids.IDC_INFO_LMP, ids.IDC_INFO_MANUFACTURER, ids.IDC_INFO_ADAPTER, ids.IDC_INFO_REMOTE,
             ids.IDC_INFO_POWER, ids.IDC_INFO_LINK_QUALITY]
SETTING_BOXES = [ids.IDC_ENABLE_ANIMATION, ids.IDC_SPEED_EDIT, ids.IDC_NOTIFY_PS_BUTTON, ids.IDC_NOTIFY_LOW_BATTERY,
                 ids.IDC_SHOW_STATE_TIP]
RUMBLE_FIELDS = [ids.IDC_RUMBLE_ENABLE, ids.IDC_RUMBLE_GAIN, ids.IDC_RUMBLE_SMALL_MOTOR, ids.IDC_RUMBLE_LARGE_LOW,
                 ids.IDC_RUMBLE_LARGE_MID, ids.IDC_RUMBLE_LARGE_HIGH]

# Reading order of each dialog's keyboard stops: the order their templates list them in (1 and 2
# are the system's IDOK and IDCANCEL).
ORDER = {
    "setting": SETTING_BOXES + [1, 2],
    "setting-debug": SETTING_BOXES + [ids.IDC_ENABLE_DEBUG_LOGGING, 1, 2],
    "version": [ids.IDC_VERSION_TEXT, ids.IDC_MODE_TEXT, 2],
    "usb": INFO_LEFT + INFO_BOXES + [ids.IDC_INFO_REFRESH, 1],
    "usb-debug": INFO_LEFT + INFO_BOXES + [ids.IDC_INFO_DEVICE, ids.IDC_INFO_USB_DEBUG, ids.IDC_INFO_REFRESH, 1],
    "bth": INFO_LEFT + BTH_GROUP + INFO_BOXES + [ids.IDC_INFO_REFRESH, 1],
    "bth-debug": INFO_LEFT + BTH_GROUP + INFO_BOXES + [ids.IDC_INFO_DEVICE, ids.IDC_INFO_BTH_DEBUG, ids.IDC_INFO_REFRESH, 1],
    "debug": [ids.IDC_DEBUG_VIEW, ids.IDC_DEBUG_TEXT, ids.IDC_DEBUG_REFRESH, 2],
    "auto-fire": AUTO_FIRE_BOXES + [1, 2],
    "rumble": RUMBLE_FIELDS + [1, 2],
    "ff": [ids.IDC_FF_VERSION, 1],
    "viewer": [ids.IDC_RUMBLE_DUMP, ids.IDC_RUMBLE_REFRESH, 2],
    # Remove is greyed while the first row, which it cannot remove, is selected.
    "app": [ids.IDC_APP_ENABLED, ids.IDC_APP_LIST, ids.IDC_APP_ADD, ids.IDC_APP_ADD_FRONT, ids.IDC_APP_USB,
            ids.IDC_APP_BTH, 1, 2],
}

TITLES = {
    "en": {"setting": "Padwarden Setting", "version": "Padwarden - Version", "usb": "Driver Information - USB",
           "bth": "Driver Information - Bluetooth", "auto-fire": "Auto Fire Button Setting",
           "rumble": "Rumble Setting - ", "ff": "Force Feedback Driver Information", "app": "Application Profiles"},
    "ja": {"setting": "Padwarden - ツール設定", "version": "Padwarden - バージョン情報", "usb": "ドライバー情報 ｰ USB",
           "bth": "ドライバー情報 ｰ Bluetooth", "auto-fire": "連射ボタン設定", "rumble": "振動設定 - ",
           "ff": "Padwarden - 振動機能 ドライバー情報", "app": "アプリケーション別プロファイル"},
}
DEBUG_TITLE = "Debug Information"
VIEWER_TITLE = "Rumble Parameter Viewer"
# Between the keys of one run: time for Wine to take each in turn, well above the probe's 5 ms poll.
KEY_DELAY_MS = 120
COMMANDS = {"setting": ids.IDM_CONFIG, "version": ids.IDM_VERSION, "usb": ids.IDM_USB_INFORMATION,
            "bth": ids.IDM_BTH_INFORMATION, "auto-fire": ids.IDM_USB_AUTO_FIRE, "rumble": ids.IDM_RUMBLE_SETTING,
            "ff": ids.IDM_RUMBLE_INFORMATION, "app": ids.IDM_APP_PROFILES}


class FocusTrace:
    """The probe watching a dialog's focused control in the background."""

    def __init__(self, wine, hwnd, seconds=120):
        self.proc, self.out = wine.probe_background("focus-trace", hwnd, seconds * 1000)

    def seen(self):
        """The control IDs in the order the focus went, as far as the probe has written them ("none"
        while the focus is outside the dialog, "gone" once the dialog is)."""
        # pread: the probe shares this file's offset, so reading must not move it.
        data = os.pread(self.out.fileno(), 1 << 20, 0).decode("utf-8", "replace")
        lines = data.split("\n")[:-1]  # the last one is still being written
        return [int(v) if v.strip().isdigit() else v.strip() for v in lines]

    def wait(self, count, timeout):
        """The IDs once there are `count` of them, or what there is after `timeout` seconds."""
        end = time.time() + timeout
        while len(self.seen()) < count and time.time() < end:
            time.sleep(0.02)
        return self.seen()

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
        self.out.close()


def x_pattern(title):
    """The title as an anchored xdotool (POSIX extended) pattern."""
    return "^" + re.sub(r"([][().*+?{}|^$\\])", r"\\\1", title) + "$"


class KeyboardCase(DriverDialogCase):
    work_name = "e2e-keyboard"
    language = "en"

    def title(self, name):
        return TITLES[self.language][name]

    def open_named(self, name):
        return self.open_dialog(COMMANDS[name], self.title(name))

    def keys_to(self, title):
        """Gives the dialog the X keyboard focus, as a user's click on it would."""
        ids = wait_for(lambda: self.desk.xdo("search", "--onlyvisible", "--name", x_pattern(title)).stdout.split(),
                       10, what=f"the X window of {title!r}")
        self.assertEqual(len(ids), 1, f"one window titled {title!r}")
        self.desk.xdo("windowfocus", "--sync", ids[0].decode())
        time.sleep(0.3)

    def focused(self, hwnd):
        answer = self.wine.probe("focus", hwnd).split()
        return int(answer[0]) if answer and answer[0] != "none" else None

    def tab_to(self, hwnd, control, limit=40):
        trace = FocusTrace(self.wine, hwnd)
        try:
            seen = trace.wait(1, 15)
            for _ in range(limit):
                if seen and seen[-1] == control:
                    return
                self.desk.xdo("key", "Tab")
                seen = trace.wait(len(seen) + 1, 5)
        finally:
            trace.stop()
        self.fail(f"Tab never reached control {control} (focus went {seen})")

    def assert_tab_cycle(self, hwnd, title, want):
        """From the first stop, Tab visits every stop in `want` in order and comes back round, and
        Shift+Tab walks back. The keys go in one run while the probe traces the focus: every key
        moves it to another control, so a key that is lost shows as a step missing."""
        self.keys_to(title)
        trace = FocusTrace(self.wine, hwnd)
        try:
            # The dialog may still be taking the focus: the trace starts at the first stop it holds.
            seen = wait_for(lambda: [v for v in trace.seen() if v != "none"], 15, step=0.02,
                            what=f"the focus in {title!r}")
            skip = trace.seen().index(seen[0])
            self.assertIn(seen[0], want, f"the focus of {title!r} at a stop")
            first = want.index(seen[0])
            lead = (len(want) - first) % len(want)
            expected = (want[first:] if first else []) + want + [want[0], want[-1]]
            sent = self.desk.xdo("key", "--delay", KEY_DELAY_MS, *(["Tab"] * (lead + len(want))), "shift+Tab")
            self.assertEqual(sent.returncode, 0, f"xdotool: {sent.stderr!r}")
            seen = trace.wait(skip + len(expected), 10)[skip:]
        finally:
            trace.stop()
        self.assertEqual(seen, expected, f"Tab order of {title!r}, then Shift+Tab")

    def press(self, title, *keys):
        self.keys_to(title)
        self.desk.key(*keys)

    def type_into(self, hwnd, title, control, text):
        self.keys_to(title)
        self.tab_to(hwnd, control)
        # The dialog manager selects an edit's text when Tab enters it: typing replaces it.
        self.desk.xdo("type", "--delay", "80", text)

    def settings_after_exit(self):
        self.command(ids.IDM_EXIT)
        self.assertEqual(self.tool.wait(30), 0)
        return self.wine.reg_query()


class KeyboardDialogs(KeyboardCase):
    def test_tool_setting_and_version(self):
        self.start_all("")
        hwnd = self.open_named("setting")
        self.assertEqual(self.focused(hwnd), ORDER["setting"][0], "the first stop has the focus at opening")
        self.assert_tab_cycle(hwnd, self.title("setting"), ORDER["setting"])
        # Escape closes without applying what was typed.
        self.type_into(hwnd, self.title("setting"), SPEED, "7")
        self.press(self.title("setting"), "Escape")
        self.gone(hwnd)
        hwnd = self.open_named("setting")
        self.assertEqual(self.text(hwnd, SPEED), "10", "Escape kept the speed")
        # Enter applies it.
        self.type_into(hwnd, self.title("setting"), SPEED, "42")
        self.press(self.title("setting"), "Return")
        self.gone(hwnd)
        version = self.open_named("version")
        self.assert_tab_cycle(version, self.title("version"), ORDER["version"])
        self.wine.probe("move", version, 321, 123)
        self.press(self.title("version"), "Return")
        self.gone(version)
        version = self.open_named("version")
        self.wine.probe("move", version, 222, 111)
        self.press(self.title("version"), "Escape")
        self.gone(version)
        values = self.settings_after_exit()
        self.assertEqual(int(values["IconAnimationSpeed"][1], 16), 42, "Enter stored the typed speed")
        self.assertEqual(values["VersionPosX"][1].upper(), "DE00", "Escape closes the version dialog as its button")

    def test_driver_information_and_auto_fire(self):
        self.start_all("set 1 autofire 0\n")
        for name, want in (("usb", ORDER["usb"]), ("bth", ORDER["bth"])):
            hwnd = self.open_named(name)
            self.assert_tab_cycle(hwnd, self.title(name), want)
            # Enter (OK) stores the place; Escape afterwards closes without storing its own.
            self.wine.probe("move", hwnd, 60, 70)
            self.press(self.title(name), "Return")
            self.gone(hwnd)
            hwnd = self.open_named(name)
            self.wine.probe("move", hwnd, 40, 50)
            self.press(self.title(name), "Escape")
            self.gone(hwnd)
        # Auto fire: Space ticks the focused box, Enter sends, Escape sends nothing.
        hwnd = self.open_named("auto-fire")
        self.assert_tab_cycle(hwnd, self.title("auto-fire"), ORDER["auto-fire"])
        self.tab_to(hwnd, ids.IDC_AUTO_FIRE_FIRST)
        self.desk.key("space", "Tab", "space")
        wait_for(lambda: self.checked(hwnd, AUTO_FIRE_BOXES) == [ids.IDC_AUTO_FIRE_FIRST, ids.IDC_AUTO_FIRE_FIRST + 1], 5, what="two boxes ticked")
        before = len(self.sent_auto_fire(1))
        self.press(self.title("auto-fire"), "Return")
        sent = wait_for(lambda: self.sent_auto_fire(1)[before:], 10, what="the auto-fire request")
        self.assertEqual(sent[0].split("bytes=")[1].strip(), auto_fire_request(0x3))
        self.gone(hwnd)
        hwnd = self.open_named("auto-fire")
        self.keys_to(self.title("auto-fire"))
        self.tab_to(hwnd, ids.IDC_AUTO_FIRE_FIRST + 4)
        self.desk.key("space", "Escape")
        self.gone(hwnd)
        time.sleep(1.0)
        self.assertEqual(len(self.sent_auto_fire(1)), before + 1, "Escape sent nothing")
        stored = self.exit_and_read_settings()
        # Neither the default place nor Escape's.
        self.assertEqual((stored["USBInformationPosX"], stored["USBInformationPosY"]), (60, 70))
        self.assertEqual((stored["BTHInformationPosX"], stored["BTHInformationPosY"]), (60, 70))

    def test_rumble_setting_and_force_feedback_information(self):
        self.start_all("")
        hwnd = self.open_named("rumble")
        self.assert_tab_cycle(hwnd, self.title("rumble"), ORDER["rumble"])
        self.type_into(hwnd, self.title("rumble"), ids.IDC_RUMBLE_GAIN, "2.5")
        self.press(self.title("rumble"), "Return")
        self.gone(hwnd)
        hwnd = self.open_named("rumble")
        self.assertEqual(self.text(hwnd, ids.IDC_RUMBLE_GAIN), "2.50", "Enter stored the typed gain in the block")
        self.type_into(hwnd, self.title("rumble"), ids.IDC_RUMBLE_GAIN, "3")
        self.press(self.title("rumble"), "Escape")
        self.gone(hwnd)
        hwnd = self.open_named("rumble")
        self.assertEqual(self.text(hwnd, ids.IDC_RUMBLE_GAIN), "2.50", "Escape stored nothing")
        self.press(self.title("rumble"), "Escape")
        self.gone(hwnd)
        for key in ("Return", "Escape"):
            hwnd = self.open_named("ff")
            self.assert_tab_cycle(hwnd, self.title("ff"), ORDER["ff"])
            self.press(self.title("ff"), key)
            self.gone(hwnd)

    def test_debug_information_and_viewer(self):
        self.start_all("", "-debug")
        info = self.open_named("usb")
        self.assert_tab_cycle(info, self.title("usb"), ORDER["usb-debug"])
        for key in ("Return", "Escape"):
            # Enter on the focused debug button presses it.
            self.keys_to(self.title("usb"))
            self.tab_to(info, ids.IDC_INFO_USB_DEBUG)
            self.desk.key("Return")
            dialog = wait_for(lambda: self.wine.find(title=DEBUG_TITLE), 15, what="the debug dialog")[0]["hwnd"]
            self.assert_tab_cycle(dialog, DEBUG_TITLE, ORDER["debug"])
            if key == "Return":
                # The arrow keys pick another view in the focused list.
                self.tab_to(dialog, ids.IDC_DEBUG_VIEW)
                self.desk.key("Down")
                wait_for(lambda: self.text(dialog, ids.IDC_DEBUG_TEXT).startswith("InfoTypeId 'INFO'"), 10, what="DEBUG_INFO")
            self.press(DEBUG_TITLE, key)
            self.gone(dialog)
            self.assertTrue(self.wine.find(title=self.title("usb")), "the information dialog stays open")
        self.press(self.title("usb"), "Escape")
        self.gone(info)
        for key in ("Return", "Escape"):
            self.command(ids.IDM_RUMBLE_VIEWER)
            viewer = wait_for(lambda: self.wine.find(title=VIEWER_TITLE), 15, what="the viewer")[0]["hwnd"]
            self.assert_tab_cycle(viewer, VIEWER_TITLE, ORDER["viewer"])
            self.tab_to(viewer, ids.IDC_RUMBLE_DUMP)
            self.press(VIEWER_TITLE, key)
            self.gone(viewer)


    def test_application_profiles(self):
        self.start_all("")
        app_key = r"HKCU\Software\Corvane\Padwarden\ApplicationProfiles"
        self.wine.reg_delete(app_key)
        hwnd = self.open_named("app")
        self.assert_tab_cycle(hwnd, self.title("app"), ORDER["app"])
        # Escape leaves the rules as they were; Enter saves what Space changed.
        self.tab_to(hwnd, ids.IDC_APP_ENABLED)
        self.press(self.title("app"), "space", "Escape")
        self.gone(hwnd)
        self.assertNotIn("Enabled", self.wine.reg_query(app_key) or {})
        hwnd = self.open_named("app")
        self.tab_to(hwnd, ids.IDC_APP_ENABLED)
        self.press(self.title("app"), "space", "Return")
        self.gone(hwnd)
        self.assertEqual(self.wine.reg_query(app_key)["Enabled"][1], "0x0")


class JapaneseKeyboard(KeyboardCase):
    lang = "ja_JP.UTF-8"
    language = "ja"

    def test_tab_order_of_every_dialog_in_japanese(self):
        self.start_all("", "-debug")
        for name, order in (("setting", "setting-debug"), ("version", "version"), ("usb", "usb-debug"),
                            ("bth", "bth-debug"), ("auto-fire", "auto-fire"), ("rumble", "rumble"), ("ff", "ff"),
                            ("app", "app")):
            hwnd = self.open_named(name)
            self.assert_tab_cycle(hwnd, self.title(name), ORDER[order])
            if name == "bth":
                self.click(hwnd, ids.IDC_INFO_BTH_DEBUG)
                dialog = wait_for(lambda: self.wine.find(title=DEBUG_TITLE), 15, what="the debug dialog")[0]["hwnd"]
                self.assert_tab_cycle(dialog, DEBUG_TITLE, ORDER["debug"])
                self.press(DEBUG_TITLE, "Return")
                self.gone(dialog)
            self.press(self.title(name), "Escape")
            self.gone(hwnd)
        self.command(ids.IDM_RUMBLE_VIEWER)
        viewer = wait_for(lambda: self.wine.find(title=VIEWER_TITLE), 15, what="the viewer")[0]["hwnd"]
        self.assert_tab_cycle(viewer, VIEWER_TITLE, ORDER["viewer"])
        self.press(VIEWER_TITLE, "Escape")
        self.gone(viewer)


if __name__ == "__main__":
    harness.main()
