"""The state at a glance and the tool at a keystroke, beside the product behind the HID stack: the
tooltip that tells the controllers' state, read back from the tray's tooltip control, and the
command line that drives the running copy (padwarden.exe -profile, -disconnect, -reconnect,
-status, -help). The requests that reach the driver are checked against bytes built here; the
exit codes and the console's lines are read as a script would read them."""
import re

import harness
from harness import ids, wait_for
from hid_requests import expected_profile_request, request, sent_bytes
from test_hid import HidStackCase


class CommandLineTests(HidStackCase):
    work_name = "e2e-remote"

    def test_without_a_running_copy_and_with_unknown_switches(self):
        code, out = self.command("-help")
        self.assertEqual(code, 0)
        self.assertIn("-profile usb|bth NAME", out)
        self.assertEqual(self.command("-?")[0], 0)
        for args in (("-status",), ("-disconnect",), ("-profile", "usb", "Racing")):
            code, out = self.command(*args)
            self.assertEqual(code, 2, f"{args}: {out}")
            self.assertIn("No running copy", out)
        for args in (("-profile", "usb"), ("-profile", "wifi", "Racing"), ("-status", "now"), ("-statsu",)):
            code, out = self.command(*args)
            self.assertEqual(code, 3, f"{args}: {out}")
            self.assertIn("Unknown switch", out)
        self.assertEqual(self.tool_windows(), [], "no switch starts the tool")

    def test_each_switch_against_the_running_tool(self):
        self.use_profile()
        self.wine.reg_add("ShowStateInTooltip", "REG_DWORD", "1")
        self.start_driver("add usb\nadd bth\nset 2 battery 3\n")
        self.start()
        before = self.status()
        self.assertEqual((before["usb.connected"], before["bth.connected"], before["bth.battery"]), ("1", "1", "3"))
        self.assertEqual((before["usb.profile"], before["bth.profile"]), ("", ""))
        self.assertRegex(before["usb.driver"], r"^\d+\.\d+\.\d+\.\d+$")
        self.assertIn(before["rumble"], ("on", "off"))

        mark = self.mark()
        code, out = self.command("-profile", "usb", "RACING.INI")
        self.assertEqual(code, 0, out)
        sent = self.lines_since(mark, r"^SET dev=\d cmd=SetDriverSettings")
        self.assertEqual([l.split()[1] for l in sent], ["dev=1"], sent)
        self.assertEqual(sent_bytes(sent[0]), expected_profile_request())
        self.assertEqual(self.status()["usb.profile"], "Racing")
        wait_for(lambda: "| USB: connected (Racing) |" in (self.tooltip() or ""), 10, what="the profile in the tooltip")

        code, out = self.command("-profile", "bth", "Touring")
        self.assertEqual(code, 3, out)
        code, out = self.command("-disconnect")
        self.assertEqual(code, 0, out)
        self.assertEqual(self.log_lines(r"^SET dev=2 cmd=DisconnectLink")[-1],
                         "SET dev=2 cmd=DisconnectLink mask=0x00000000 ok bytes=" +
                         harness_request(2, {53: (1).to_bytes(4, "little")}))
        code, out = self.command("-reconnect")
        self.assertEqual(code, 0, out)
        self.assertEqual(self.log_lines(r"^SET dev=2 cmd=ReconnectLink")[-1],
                         "SET dev=2 cmd=ReconnectLink mask=0x00000000 ok bytes=" + harness_request(3))
        # A refusing driver: exit code 1, and no box on the desktop.
        self.control_command("fault 2 fail-write")
        code, out = self.command("-disconnect")
        self.assertEqual(code, 1, out)
        self.assertEqual(self.wine.find(title="Error"), [])
        # A driver that never answers: busy (4) within the bound, and no box either.
        self.control_command("fault 2 hang")
        code, out = self.command("-disconnect")
        self.assertEqual(code, 4, out)
        self.assertEqual(self.wine.find(title="Error"), [])
        self.control_command("fault 2 none", "unplug 2")
        wait_for(lambda: self.status()["bth.connected"] == "0", 20, what="Bluetooth gone in the status")
        code, out = self.command("-reconnect")
        self.assertEqual(code, 1, "no Bluetooth controller: nothing to reconnect")
        self.assertIsNone(self.tool.poll())


    def tooltip(self):
        """What the tray's tooltip control holds for the icon, its lines joined by " | "."""
        tips = [w for w in self.wine.windows() if w["class"] == "tooltips_class32"]
        for tip in tips:
            for line in self.wine.probe("tooltip", tip["hwnd"], check=False).splitlines():
                if line.startswith("Padwarden"):
                    return line.strip()
        return None

    def test_the_state_tooltip_follows_the_controllers_and_is_stored(self):
        self.start_driver("add usb\nadd bth\nset 2 battery 3\n")
        self.start()
        # Off by default: the caption alone, as before, and still shown under version 4.
        wait_for(lambda: self.tooltip() == "Padwarden", 10, what="the caption alone")
        geometry = self.desk.tray_geometry()
        self.desk.xdo("mousemove", geometry[0] + 8, geometry[1] + 8)
        wait_for(lambda: [w for w in self.wine.windows() if w["class"] == "tooltips_class32" and w["visible"]],
                 10, what="the tooltip shown")
        self.desk.xdo("mousemove", 600, 500)
        # On, from the settings dialog.
        self.wine.probe("post", self.main_window, 0x111, ids.IDM_CONFIG, 0)
        dialog = wait_for(lambda: self.wine.find(cls="#32770"), 15, what="the settings dialog")[0]["hwnd"]
        self.wine.probe("click", dialog, ids.IDC_SHOW_STATE_TIP)
        self.wine.probe("click", dialog, 1)
        both = "Padwarden | USB: connected | Bluetooth: connected, battery 3 of 5 | Force feedback: no clients"
        wait_for(lambda: self.tooltip() == both, 10, what="the state in the tooltip")
        self.control_command("set 2 battery 1")
        wait_for(lambda: "battery 1 of 5" in (self.tooltip() or ""), 10, what="the battery change")
        self.desk.xdo("mousemove", geometry[0] + 8, geometry[1] + 8)
        wait_for(lambda: [w for w in self.wine.windows() if w["class"] == "tooltips_class32" and w["visible"]],
                 10, what="the state tooltip shown")
        self.desk.screenshot("state-tooltip")
        self.desk.xdo("mousemove", 600, 500)
        self.control_command("unplug 2")
        gone = wait_for(lambda: re.fullmatch(r"Padwarden \| USB: connected \| Bluetooth: last seen 1 of 5 at "
                                             r"\d\d:\d\d \| Force feedback: no clients", self.tooltip() or ""),
                        20, what="the last battery after the unplug")
        self.assertTrue(gone)
        # Stored beside the twenty, and only while it is on.
        self.wine.probe("post", self.main_window, 0x111, ids.IDM_EXIT, 0)
        self.assertEqual(self.tool.wait(30), 0)
        values = self.wine.reg_query()
        self.assertEqual(values.get("ShowStateInTooltip"), ("REG_DWORD", "0x1"))
        self.assertEqual(len(values), 21, sorted(values))
        self.start()
        wait_for(lambda: (self.tooltip() or "").startswith("Padwarden | USB: connected"), 10, what="kept on")
        self.wine.probe("post", self.main_window, 0x111, ids.IDM_CONFIG, 0)
        dialog = wait_for(lambda: self.wine.find(cls="#32770"), 15, what="the settings dialog")[0]["hwnd"]
        self.assertEqual(self.wine.probe("check", dialog, ids.IDC_SHOW_STATE_TIP).strip(), "1")
        self.wine.probe("click", dialog, ids.IDC_SHOW_STATE_TIP)
        self.wine.probe("click", dialog, 1)
        wait_for(lambda: self.tooltip() == "Padwarden", 10, what="the caption again")
        self.wine.probe("post", self.main_window, 0x111, ids.IDM_EXIT, 0)
        self.assertEqual(self.tool.wait(30), 0)
        values = self.wine.reg_query()
        self.assertNotIn("ShowStateInTooltip", values)
        self.assertEqual(len(values), 20, sorted(values))


def harness_request(command, body=None):
    return request(command, 0, body)


if __name__ == "__main__":
    harness.main()
