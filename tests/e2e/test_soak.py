"""A soak run: the product, padwarden.exe, beside ds3sim.exe behind the HID stack, driven through a
seeded random mix of driver faults, plugging, node restarts, suspend and resume, force-feedback
clients that come, go, hold the mutex and die holding it, the menu and every dialog, for
PADWARDEN_SOAK_MINUTES (default 2). The seed is printed first; PADWARDEN_SOAK_SEED replays a run. At the end the tool
still answers, no error box appeared that a fault did not ask for, the handle count and private
bytes read from outside have not grown, and Exit saves all twenty values."""
import os
import random
import re
import sys
import time

import harness
from harness import BUILD, ToolTestCase, ids, wait_for

MINUTES = float(os.environ.get("PADWARDEN_SOAK_MINUTES", "2"))
SEED = int(os.environ.get("PADWARDEN_SOAK_SEED", str(random.SystemRandom().randrange(1 << 31))))
# Handles and private bytes may move by this much between the two readings without counting as
# growth: Wine's own caches and heaps settle in steps.
HANDLE_SLACK = 8
PRIVATE_SLACK_KB = 4096

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


class SoakTests(ToolTestCase):
    prefix_name = "soak"

    def setUp(self):
        self.wine.reg_delete()
        self.work = os.path.join(BUILD, "e2e-soak")
        os.makedirs(self.work, exist_ok=True)
        for name in os.listdir(self.work):
            os.remove(os.path.join(self.work, name))
        self.log = os.path.join(self.work, "requests.log")
        self.control = os.path.join(self.work, "control.txt")
        open(self.control, "w").close()
        self.rng = random.Random(SEED)
        self.unexpected_errors = []
        self.faults = {1: set(), 2: set()}
        self.plugged = {1: True, 2: True}
        self.counts = {}
        self.clients = []  # control files of the ffsim processes that still run
        self.client_serial = 0
        self.mutex_trouble_until = 0.0  # a client held or abandoned the mutex: a refused change is fair

    # ---- the simulated driver

    def start_driver(self):
        script = os.path.join(self.work, "script.txt")
        with open(script, "w") as f:
            f.write("add usb\nadd bth\n")
        self.wine.start("ds3sim.exe", "--hid", "--script", script, "--control", self.control, "--log", self.log)
        wait_for(lambda: "READY" in self.log_text(), 60, what="ds3sim to be ready")

    def log_text(self):
        return harness.read_text(self.log)

    def sim(self, line):
        with open(self.control, "a") as f:
            f.write(line + "\n")

    # ---- looking at the tool

    def main_window(self):
        rows = self.tool_windows()
        return rows[0] if rows else None

    def dialogs_of_tool(self, pid):
        return [w for w in self.wine.windows() if w["pid"] == pid and w["class"] == "#32770" and w["visible"]]

    def close_error_boxes(self, pid, expected):
        for box in [w for w in self.dialogs_of_tool(pid) if w["title"] == "Error"]:
            if not expected:
                self.unexpected_errors.append(box["title"])
            self.wine.probe("click", box["hwnd"], 2, check=False)
            self.wine.probe("click", box["hwnd"], 1, check=False)

    def measure(self, pid):
        out = self.wine.run(["wine", os.path.join(BUILD, "procprobe.exe"), str(pid)], timeout=60).stdout.decode()
        m = re.search(r"handles=(\d+) private=(\d+)", out)
        self.assertIsNotNone(m, out)
        handles, private = int(m.group(1)), int(m.group(2)) // 1024
        if private == 0:  # Wine leaves the counter at zero: the process's own anonymous memory then
            private = harness.private_kb(harness.linux_pid(self.wine.prefix, "padwarden.exe"))
        return handles, private

    # ---- actions

    def act_plug(self):
        dev = self.rng.choice([1, 2])
        self.plugged[dev] = not self.plugged[dev]
        self.sim(f"{'plug' if self.plugged[dev] else 'unplug'} {dev}")
        return "plug" if self.plugged[dev] else "unplug"

    def act_restart(self):
        self.sim(f"restart {self.rng.choice([1, 2])}")
        return "restart"

    def act_fault(self):
        dev = self.rng.choice([1, 2])
        fault = self.rng.choice(["slow 300", "refuse-read", "stuck-debug", "none"])
        self.sim(f"fault {dev} {fault}")
        if fault == "none":
            self.faults[dev].clear()
        else:
            self.faults[dev].add(fault.split()[0])
        return "fault " + fault.split()[0]

    def act_power(self):
        hwnd = self.main_window()["hwnd"]
        # What Windows since Vista sends, or the older query first.
        if self.rng.random() < 0.5:
            self.wine.probe("send", hwnd, WM_POWERBROADCAST, 4, 0, check=False)
            self.wine.probe("send", hwnd, WM_POWERBROADCAST, 18, 0, check=False)
            self.wine.probe("send", hwnd, WM_POWERBROADCAST, 7, 0, check=False)
            return "suspend 4-18-7"
        self.wine.probe("send", hwnd, WM_POWERBROADCAST, 0, 0, check=False)
        self.wine.probe("send", hwnd, WM_POWERBROADCAST, 7, 0, check=False)
        return "query-suspend"

    def open_menu_within(self, seconds):
        self.desk.click_tray_icon()
        wait_for(lambda: self.wine.find(cls="#32768"), seconds, step=0.05, what=f"the menu within {seconds} s")

    def act_menu(self):
        # Wine's tray window can miss a click that arrives while it shows its tooltip.
        for attempt in range(3):
            try:
                self.open_menu_within(4)
                break
            except AssertionError:
                if attempt == 2:
                    raise
        self.desk.key("Escape")
        wait_for(lambda: not self.wine.find(cls="#32768"), 5, what="the menu to close")
        return "menu"

    def new_dialog(self, pid, before, timeout):
        found = wait_for(lambda: [w for w in self.dialogs_of_tool(pid) if w["hwnd"] not in before], timeout,
                         what="a new dialog")
        return found[0]["hwnd"]

    def close_dialog(self, pid, dialog, control):
        gone = lambda: dialog not in {w["hwnd"] for w in self.dialogs_of_tool(pid)}  # noqa: E731
        self.wine.probe("click", dialog, control, check=False)
        try:
            wait_for(gone, 5, what="the dialog to close")
        except AssertionError:
            # A box over it (a refused read, say) goes first.
            self.close_error_boxes(pid, expected=self.faulty())
            self.wine.probe("post", dialog, WM_CLOSE, 0, 0, check=False)
            wait_for(gone, 10, what="the dialog to close")

    def act_dialog(self):
        command, refresh, closer, debug, needs_device = self.rng.choice(DIALOGS)
        tool = self.main_window()
        pid = tool["pid"]
        before = {w["hwnd"] for w in self.dialogs_of_tool(pid)}
        self.wine.probe("post", tool["hwnd"], WM_COMMAND, command, 0)
        try:
            dialog = self.new_dialog(pid, before, 4 if needs_device else 15)
        except AssertionError:
            if needs_device:
                return f"dialog {command} refused"  # no controller on that transport just now
            raise
        if refresh is not None:
            for _ in range(self.rng.randint(1, 3)):
                self.wine.probe("click", dialog, refresh, check=False)
                time.sleep(0.1)
        if debug is not None and self.rng.random() < 0.5:
            self.wine.probe("click", dialog, debug, check=False)
            try:
                modal = self.new_dialog(pid, before | {dialog}, 5)
            except AssertionError:
                modal = None  # no device record to show: the button stayed hidden
            if modal is not None:
                for _ in range(self.rng.randint(1, 3)):
                    self.wine.probe("select", modal, DEBUG_VIEW, self.rng.randrange(4), check=False)
                    self.wine.probe("click", modal, DEBUG_REFRESH, check=False)
                self.close_dialog(pid, modal, 2)
        self.close_dialog(pid, dialog, closer)
        return f"dialog {command}"

    def faulty(self):
        return (any(self.faults.values()) or not all(self.plugged.values())
                or time.time() < self.mutex_trouble_until)

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
        self.mutex_trouble_until = time.time() + 3
        self.client_command("die-holding")
        return "client dies holding the mutex"

    def act_client_holds(self):
        if not self.clients:
            return self.act_client_comes()
        control = self.rng.choice(self.clients)
        self.mutex_trouble_until = time.time() + 2.5
        with open(control, "a") as f:
            f.write("hold 800\n")
        return "client holds the mutex"

    def act_toggle(self):
        self.wine.probe("post", self.main_window()["hwnd"], WM_COMMAND, ids.IDM_RUMBLE_PERMISSION, 0)
        time.sleep(0.3)
        return "rumble toggle"

    def test_soak(self):
        print(f"soak seed {SEED} for {MINUTES:g} min (replay: PADWARDEN_SOAK_SEED={SEED})", file=sys.stderr,
              flush=True)
        self.start_driver()
        proc = self.start_tool("-debug", exe="padwarden.exe")
        tool = self.main_window()
        wait_for(lambda: re.search(r"^GET dev=2 ok", self.log_text(), re.M), 30, what="the first polls")
        actions = [(self.act_plug, 2), (self.act_restart, 1), (self.act_fault, 3), (self.act_power, 2),
                   (self.act_menu, 3), (self.act_dialog, 5), (self.act_client_comes, 2), (self.act_client_goes, 1),
                   (self.act_client_dies_holding, 1), (self.act_client_holds, 1), (self.act_toggle, 1)]
        weights = [w for _, w in actions]
        start = time.time()
        end = start + MINUTES * 60
        first_at = start + min(60.0, MINUTES * 60) * 0.25 if MINUTES <= 1 else start + 60
        first = None
        steps = 0
        while time.time() < end:
            if first is None and time.time() >= first_at:
                first = self.measure(tool["pid"])
            act = self.rng.choices([a for a, _ in actions], weights)[0]
            try:
                name = act()
            except AssertionError:
                self.desk.screenshot("soak-failure")
                raise
            steps += 1
            print(f"  {time.time() - start:6.1f}s step {steps}: {name}", file=sys.stderr, flush=True)
            self.counts[name] = self.counts.get(name, 0) + 1
            time.sleep(self.rng.uniform(0.05, 0.4))
            self.close_error_boxes(tool["pid"], expected=self.faulty())
            self.assertIsNone(proc.poll(), f"the tool ended during step {steps} ({name})")
        # Back to a healthy driver, so that the last reading sees the same devices as the first.
        for dev in (1, 2):
            self.sim(f"fault {dev} none")
            self.sim(f"plug {dev}")
        time.sleep(3)
        last = self.measure(tool["pid"])
        if first is None:
            first = last
        print(f"soak seed {SEED}: {steps} steps {sorted(self.counts.items())}", file=sys.stderr)
        print(f"soak seed {SEED}: handles first {first[0]} last {last[0]}; private KB first {first[1]} "
              f"last {last[1]}", file=sys.stderr, flush=True)
        # Still answers: the menu opens within 2 s.
        self.act_menu()
        time.sleep(1)
        t0 = time.time()
        self.open_menu_within(2)
        print(f"soak seed {SEED}: menu opened in {time.time() - t0:.2f} s", file=sys.stderr, flush=True)
        self.desk.key("Escape")
        self.assertEqual(self.unexpected_errors, [], f"seed {SEED}")
        self.assertLessEqual(last[0], first[0] + HANDLE_SLACK, f"handles grew (seed {SEED})")
        self.assertLessEqual(last[1], first[1] + PRIVATE_SLACK_KB, f"private bytes grew (seed {SEED})")
        self.wine.probe("post", tool["hwnd"], WM_COMMAND, ids.IDM_EXIT, 0)
        self.assertEqual(proc.wait(30), 0)
        values = self.wine.reg_query()
        self.assertIsNotNone(values)
        self.assertEqual(len(values), 20, sorted(values))


if __name__ == "__main__":
    harness.main()
