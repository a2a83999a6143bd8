"""A soak run: the product, padwarden.exe, beside ds3sim.exe behind the HID stack, driven through a
seeded random mix of driver faults, plugging, node restarts, suspend and resume, force-feedback
clients that come, go, hold the mutex and die holding it, the menu and every dialog, for
PADWARDEN_SOAK_MINUTES (default 2). The seed is printed first; PADWARDEN_SOAK_SEED replays a run. Every error box
must be one the step that showed it may show, with that step's text; a dialog of a controller the
tool sees must open and close; at the end the tool still answers, the handle count and private
bytes read from outside have no upward trend over the run's second half, and Exit saves all
twenty values."""
import os
import random
import re
import sys
import time

import harness
from harness import BUILD, DriverCase, ids, wait_for

MINUTES = float(os.environ.get("PADWARDEN_SOAK_MINUTES", "2"))
SEED = int(os.environ.get("PADWARDEN_SOAK_SEED", str(random.SystemRandom().randrange(1 << 31))))
# Readings of handles and private bytes: the first after a warm-up (Wine's caches and heaps fill
# while every dialog opens for the first time), then one every READING_SECONDS. Growth is judged
# by the least-squares slope over the second half: a leak of one handle or one dialog's worth of
# memory a step shows as a steady slope, Wine's heaps settle in steps the slack covers.
# A short run reads as often, in proportion, so its second half still shows a trend.
WARM_UP_SECONDS = min(30.0, MINUTES * 15)
READING_SECONDS = min(15.0, MINUTES * 60 / 8)
HANDLE_SLOPE_PER_MIN, HANDLE_SLACK = 2, 6
PRIVATE_SLOPE_KB_PER_MIN, PRIVATE_SLACK_KB = 256, 512

WM_COMMAND = 0x111
WM_CLOSE = 0x10
WM_POWERBROADCAST = 0x218

# Menu commands that open a dialog: (command, refresh control or None, closing control, the
# control that opens the modal debug dialog or None, whether the command needs a controller).
DIALOGS = [
    (ids.IDM_VERSION, None, 2, None, False),  # version
    (ids.IDM_CONFIG, None, 2, None, False),  # tool settings
    (ids.IDM_USB_INFORMATION, ids.IDC_INFO_REFRESH, 1, ids.IDC_INFO_USB_DEBUG, True),  # USB information
    (ids.IDM_BTH_INFORMATION, ids.IDC_INFO_REFRESH, 1, ids.IDC_INFO_BTH_DEBUG, True),  # Bluetooth information
    (ids.IDM_USB_AUTO_FIRE, None, 2, None, True),  # USB auto fire
    (ids.IDM_BTH_AUTO_FIRE, None, 2, None, True),  # Bluetooth auto fire
    (ids.IDM_RUMBLE_SETTING, None, 2, None, False),  # rumble setting (Cancel: the parameters stay as they are)
    (ids.IDM_RUMBLE_SETTING, None, 1, None, False),  # rumble setting, accepted as filled
    (ids.IDM_RUMBLE_INFORMATION, None, 1, None, False),  # force-feedback driver information
    (ids.IDM_RUMBLE_VIEWER, ids.IDC_RUMBLE_REFRESH, 2, None, False),  # rumble parameter viewer (debug mode, modal)
]
MAX_CLIENTS = 3
DEBUG_VIEW, DEBUG_REFRESH = ids.IDC_DEBUG_VIEW, ids.IDC_DEBUG_REFRESH
USB_DIALOGS = {ids.IDM_USB_INFORMATION: 1, ids.IDM_USB_AUTO_FIRE: 1, ids.IDM_BTH_INFORMATION: 2,
               ids.IDM_BTH_AUTO_FIRE: 2}  # the device each needs
MESSAGE_TEXT = 0xFFFF  # the text control of a message box
# How long a client's mutex hold (800 ms) or death holding it may keep the tool from the record.
MUTEX_TROUBLE_SECONDS = 3


def read_strings(path=os.path.join(harness.ROOT, "resources", "padwarden_en.rc")):
    """The English string table by id name, so a box is told by the text the product shows."""
    strings = {}
    with open(path, encoding="utf-8") as f:
        text = f.read()
    table = text[text.index("STRINGTABLE"):]
    table = table[:table.index("\nEND")]
    for m in re.finditer(r'^\s*(IDS_\w+)\s+"((?:[^"]|"")*)"\s*$', table, re.M):
        strings[m.group(1)] = m.group(2).replace('""', '"')
    return strings


STRINGS = read_strings()
# The boxes each cause may bring, by the product's string ids.
MUTEX_BOXES = {STRINGS["IDS_RUMBLE_BUSY"], STRINGS["IDS_CANNOT_CHANGE_SETTING"]}
DRIVER_BUSY_BOX = {STRINGS["IDS_DRIVER_BUSY"]}


def least_squares_slope(points):
    """The slope of the least-squares line through (x, y) points."""
    n = len(points)
    mx = sum(x for x, _ in points) / n
    my = sum(y for _, y in points) / n
    sxx = sum((x - mx) ** 2 for x, _ in points)
    return sum((x - mx) * (y - my) for x, y in points) / sxx if sxx else 0.0


class SoakTests(DriverCase):
    prefix_name = "soak"
    work_name = "e2e-soak"

    def setUp(self):
        super().setUp()
        self.rng = random.Random(SEED)
        self.unexpected_errors = []
        self.faults = {1: set(), 2: set()}
        self.plugged = {1: True, 2: True}
        self.changed = {1: None, 2: None}  # the note logged after each device's last change
        self.notes = 0
        self.counts = {}
        self.clients = []  # control files of the ffsim processes that still run
        self.client_serial = 0
        self.mutex_trouble_until = 0.0  # a client held or abandoned the mutex: a refused change is fair
        self.step_no = 0
        self.step = "start"
        self.may_show = set()  # the box texts the running step may bring

    # ---- the simulated driver

    def device_changed(self, *devs):
        """Notes that `devs` changed; their next polls come after the note in the log."""
        self.notes += 1
        self.control_command(f"note soak-mark {self.notes}")
        for dev in devs:
            self.changed[dev] = f"NOTE soak-mark {self.notes}"

    def present(self, dev):
        """Plugged and readable: the tool must see it."""
        return self.plugged[dev] and "refuse-read" not in self.faults[dev]

    def wait_polled(self, dev, timeout=30):
        """Waits until the tool has polled `dev` twice since its last change: the first answer is
        then handled, and the tool counts the controller as there."""
        def polled():
            lines = self.log_text().splitlines()
            mark = self.changed[dev]
            if mark is not None:
                if mark not in lines:
                    return False
                lines = lines[lines.index(mark):]
            return len([l for l in lines if l.startswith(f"GET dev={dev} ok")]) >= 2
        wait_for(polled, timeout, what=f"two polls of device {dev} after its last change")

    # ---- looking at the tool

    def tool_window(self):
        rows = self.tool_windows()
        return rows[0] if rows else None

    def dialogs_of_tool(self, pid):
        return [w for w in self.wine.windows() if w["pid"] == pid and w["class"] == "#32770" and w["visible"]]

    def box_text(self, box):
        text = self.wine.probe("text", box, MESSAGE_TEXT, check=False).strip()
        return text if text and text != "no such control" else "(unreadable)"

    def close_error_boxes(self, pid, keep=()):
        """Closes every box of the tool, that is every dialog but the step's own (`keep`); one the
        running step may not show, or with another title than "Error", is noted. Returns how many.
        An error box is never kept: one may have been taken for the dialog it stands in for."""
        boxes = [w for w in self.dialogs_of_tool(pid) if w["hwnd"] not in keep or w["title"] == "Error"]
        for box in boxes:
            text = self.box_text(box["hwnd"])
            if box["title"] != "Error" or text not in self.may_show:
                self.unexpected_errors.append(f"during or after {self.step}: {box['title']!r} {text!r}")
            self.wine.probe("click", box["hwnd"], 2, check=False)
            self.wine.probe("click", box["hwnd"], 1, check=False)
        return len(boxes)

    def measure(self, pid):
        out = self.wine.run(["wine", os.path.join(BUILD, "procprobe.exe"), str(pid)], timeout=60).stdout.decode()
        m = re.search(r"handles=(\d+) private=(\d+)", out)
        self.assertIsNotNone(m, out)
        handles, private = int(m.group(1)), int(m.group(2)) // 1024
        if private == 0:  # Wine leaves the counter at zero: the process's own anonymous memory then
            private = harness.private_kb(harness.linux_pid(self.wine.prefix, "padwarden.exe"))
        return handles, private

    def reading(self, pid, start):
        handles, private = self.measure(pid)
        row = (time.time() - start, handles, private)
        print(f"  {row[0]:6.1f}s reading: handles {handles} private KB {private}", file=sys.stderr, flush=True)
        return row

    # ---- actions

    def act_plug(self):
        dev = self.rng.choice([1, 2])
        self.plugged[dev] = not self.plugged[dev]
        self.control_command(f"{'plug' if self.plugged[dev] else 'unplug'} {dev}")
        self.device_changed(dev)
        return f"{'plug' if self.plugged[dev] else 'unplug'} {dev}"

    def act_restart(self):
        dev = self.rng.choice([1, 2])
        self.control_command(f"restart {dev}")
        self.device_changed(dev)
        return f"restart {dev}"

    def act_fault(self):
        dev = self.rng.choice([1, 2])
        fault = self.rng.choice(["slow 300", "refuse-read", "stuck-debug", "none"])
        self.control_command(f"fault {dev} {fault}")
        if fault == "none":
            self.faults[dev].clear()
            self.device_changed(dev)
        else:
            self.faults[dev].add(fault.split()[0])
        return f"fault {dev} {fault.split()[0]}"

    def act_power(self):
        hwnd = self.tool_window()["hwnd"]
        # What Windows since Vista sends, or the older query first.
        if self.rng.random() < 0.5:
            self.wine.probe("send", hwnd, WM_POWERBROADCAST, 4, 0, check=False)
            self.wine.probe("send", hwnd, WM_POWERBROADCAST, 18, 0, check=False)
            self.wine.probe("send", hwnd, WM_POWERBROADCAST, 7, 0, check=False)
            self.device_changed(1, 2)  # parked, closed and found again
            return "suspend 4-18-7"
        self.wine.probe("send", hwnd, WM_POWERBROADCAST, 0, 0, check=False)
        self.wine.probe("send", hwnd, WM_POWERBROADCAST, 7, 0, check=False)
        self.device_changed(1, 2)
        return "query-suspend"

    def act_menu(self):
        self.open_menu()
        self.desk.key("Escape")
        wait_for(lambda: not self.wine.find(cls="#32768"), 5, what="the menu to close")
        return "menu"

    def new_dialog(self, pid, before, timeout, what="a new dialog"):
        found = wait_for(lambda: [w for w in self.dialogs_of_tool(pid) if w["hwnd"] not in before], timeout,
                         what=what)
        return found[0]["hwnd"]

    def close_dialog(self, pid, dialog, control, keep=()):
        gone = lambda: dialog not in {w["hwnd"] for w in self.dialogs_of_tool(pid)}  # noqa: E731
        self.wine.probe("click", dialog, control, check=False)
        try:
            wait_for(gone, 5, what="the dialog to close")
        except AssertionError:
            # Only a box the step may show, over the dialog, excuses the button: it goes first.
            boxes = self.close_error_boxes(pid, {dialog, *keep})
            self.assertTrue(boxes and not self.unexpected_errors,
                            f"{control} did not close the dialog during {self.step}, and no box the "
                            f"step may show stood over it ({self.unexpected_errors})")
            self.wine.probe("post", dialog, WM_CLOSE, 0, 0, check=False)
            wait_for(gone, 10, what="the dialog to close")

    def act_dialog(self):
        command, refresh, closer, debug, needs_device = self.rng.choice(DIALOGS)
        tool = self.tool_window()
        pid = tool["pid"]
        dev = USB_DIALOGS.get(command)
        present = dev is not None and self.present(dev)
        if present:
            self.wait_polled(dev)
        if command == ids.IDM_RUMBLE_SETTING and time.time() < self.mutex_trouble_until:
            self.may_show |= MUTEX_BOXES
        self.step = f"step {self.step_no} (dialog {command})"
        before = {w["hwnd"] for w in self.dialogs_of_tool(pid)}
        self.wine.probe("post", tool["hwnd"], WM_COMMAND, command, 0)
        try:
            dialog = self.new_dialog(pid, before, 4 if needs_device and not present else 15)
        except AssertionError:
            if needs_device and not present:
                return f"dialog {command} refused"  # no controller on that transport just now
            if self.close_error_boxes(pid, before) and not self.unexpected_errors:
                return f"dialog {command} refused with a box"  # the record was held
            raise AssertionError(f"dialog {command} did not open during {self.step} (controller there: "
                                 f"{present}, faults {self.faults}, plugged {self.plugged}, "
                                 f"boxes {self.unexpected_errors})")
        if refresh is not None:
            for _ in range(self.rng.randint(1, 3)):
                self.wine.probe("click", dialog, refresh, check=False)
                time.sleep(0.1)
        if debug is not None and self.rng.random() < 0.5:
            # In debug mode the button is there whenever the dialog is, and opens the records.
            self.assertEqual(self.wine.probe("visible", dialog, debug).strip(), "1", "the debug button")
            if self.faults[dev] or not self.plugged[dev]:
                self.may_show |= DRIVER_BUSY_BOX  # a slow or vanished device keeps the worker
            self.wine.probe("click", dialog, debug, check=False)
            modal = self.new_dialog(pid, before | {dialog}, 10, what=f"the debug dialog during {self.step}")
            for _ in range(self.rng.randint(1, 3)):
                self.wine.probe("select", modal, DEBUG_VIEW, self.rng.randrange(4), check=False)
                self.wine.probe("click", modal, DEBUG_REFRESH, check=False)
            self.close_dialog(pid, modal, 2, keep={dialog})
        self.close_dialog(pid, dialog, closer)
        return f"dialog {command}"

    # ---- force-feedback clients

    def act_client_comes(self):
        if len(self.clients) >= MAX_CLIENTS:
            return self.act_client_goes()
        self.client_serial += 1
        n = self.client_serial
        control = os.path.join(self.work, f"ffsim-{n}-control.txt")
        script = os.path.join(self.work, f"ffsim-{n}.txt")
        open(control, "w").close()
        with open(script, "w") as f:
            f.write(f"claim Soak{n} 1 0 0 {n}\n")
        self.wine.start("ffsim.exe", "--script", script, "--control", control, "--log",
                        os.path.join(self.work, f"ffsim-{n}.log"))
        self.clients.append(control)
        return "client comes"

    def client_command(self, line):
        control = self.clients.pop(self.rng.randrange(len(self.clients)))
        with open(control, "a") as f:
            f.write(line + "\n")

    def act_client_goes(self):
        if not self.clients:
            return self.act_client_comes()
        self.client_command("quit")
        return "client goes"

    def act_client_dies_holding(self):
        if not self.clients:
            return self.act_client_comes()
        self.mutex_trouble_until = time.time() + MUTEX_TROUBLE_SECONDS
        self.client_command("die-holding")
        return "client dies holding the mutex"

    def act_client_holds(self):
        if not self.clients:
            return self.act_client_comes()
        control = self.rng.choice(self.clients)
        self.mutex_trouble_until = time.time() + MUTEX_TROUBLE_SECONDS
        with open(control, "a") as f:
            f.write("hold 800\n")
        return "client holds the mutex"

    def act_toggle(self):
        if time.time() < self.mutex_trouble_until:
            self.may_show |= MUTEX_BOXES
        self.wine.probe("post", self.tool_window()["hwnd"], WM_COMMAND, ids.IDM_RUMBLE_PERMISSION, 0)
        time.sleep(0.3)
        return "rumble toggle"

    def check_trend(self, readings, start, end):
        """Fits a line to the readings of the run's second half; its slope per minute, over that
        half's span, may not exceed the bound plus the slack."""
        half = [r for r in readings if r[0] >= (end - start) / 2]
        self.assertGreaterEqual(len(half), 3, f"too few readings in the second half: {readings}")
        span = (half[-1][0] - half[0][0]) / 60
        for column, what, bound, slack in ((1, "handles", HANDLE_SLOPE_PER_MIN, HANDLE_SLACK),
                                           (2, "private KB", PRIVATE_SLOPE_KB_PER_MIN, PRIVATE_SLACK_KB)):
            slope = least_squares_slope([(r[0] / 60, r[column]) for r in half])
            print(f"soak seed {SEED}: {what} {[r[column] for r in readings]}, second half slope "
                  f"{slope:+.1f}/min over {span:.2f} min (bound {bound}/min + {slack})", file=sys.stderr, flush=True)
            self.assertLessEqual(slope * span, bound * span + slack,
                                 f"{what} grew {slope:+.1f}/min over the second half (seed {SEED})")

    def test_soak(self):
        print(f"soak seed {SEED} for {MINUTES:g} min (replay: PADWARDEN_SOAK_SEED={SEED})", file=sys.stderr,
              flush=True)
        self.start_driver()
        proc = self.start_tool("-debug", exe="padwarden.exe")
        tool = self.tool_window()
        wait_for(lambda: re.search(r"^GET dev=2 ok", self.log_text(), re.M), 30, what="the first polls")
        actions = [(self.act_plug, 2), (self.act_restart, 1), (self.act_fault, 3), (self.act_power, 2),
                   (self.act_menu, 3), (self.act_dialog, 5), (self.act_client_comes, 2), (self.act_client_goes, 1),
                   (self.act_client_dies_holding, 1), (self.act_client_holds, 1), (self.act_toggle, 1)]
        weights = [w for _, w in actions]
        start = time.time()
        end = start + MINUTES * 60
        next_reading = start + WARM_UP_SECONDS
        readings = []
        while time.time() < end:
            if time.time() >= next_reading:
                readings.append(self.reading(tool["pid"], start))
                next_reading += READING_SECONDS
            act = self.rng.choices([a for a, _ in actions], weights)[0]
            self.step_no += 1
            self.step = f"step {self.step_no} ({act.__name__})"
            self.may_show = set()
            try:
                name = act()
            except AssertionError:
                self.desk.screenshot("soak-failure")
                raise
            self.step = f"step {self.step_no} ({name})"
            print(f"  {time.time() - start:6.1f}s {self.step}", file=sys.stderr, flush=True)
            self.counts[name.split(" ")[0]] = self.counts.get(name.split(" ")[0], 0) + 1
            time.sleep(self.rng.uniform(0.05, 0.4))
            self.close_error_boxes(tool["pid"])
            self.assertEqual(self.unexpected_errors, [], f"seed {SEED}")
            self.assertIsNone(proc.poll(), f"the tool ended during {self.step}")
        # Back to a healthy driver, so that the last reading sees the same devices as the first.
        # No notice: a device passed over while it refused its reads must be found by the tool.
        self.step = "the end"
        self.may_show = set()
        for dev in (1, 2):
            self.control_command(f"fault {dev} none")
            self.control_command(f"plug {dev}")
            self.faults[dev].clear()
            self.plugged[dev] = True
        self.device_changed(1, 2)
        for dev in (1, 2):
            self.wait_polled(dev)
        readings.append(self.reading(tool["pid"], start))
        print(f"soak seed {SEED}: {self.step_no} steps {sorted(self.counts.items())}", file=sys.stderr)
        self.check_trend(readings, start, end)
        # Still answers: the menu opens within 2 s.
        self.act_menu()
        time.sleep(1)
        # Timed inside one probe that watches from before the click, not by Wine's start of a probe.
        self.menu_opens_within(2)
        self.close_error_boxes(tool["pid"])
        self.assertEqual(self.unexpected_errors, [], f"seed {SEED}")
        self.wine.probe("post", tool["hwnd"], WM_COMMAND, ids.IDM_EXIT, 0)
        self.assertEqual(proc.wait(30), 0)
        values = self.wine.reg_query()
        self.assertIsNotNone(values)
        self.assertEqual(len(values), 20, sorted(values))


if __name__ == "__main__":
    harness.main()
