"""What only the simulated build can show: padwarden-sim.exe beside ds3sim.exe over its pipe, where
the simulator's own device table sees every open, close and list and can restart a device node.
The successful driver reset (Wine can neither name a device's parent nor restart a node), a reset
that waits for the system's restart, the devices closed before the answer to a suspend and opened
again at resume, and one rediscovery for a burst of notices. Everything else the driver link does
runs on the product, behind the system's HID stack (test_hid.py). Also the removal notices of a
watched handle: Wine 8 never sends a DEV_BROADCAST_HANDLE (a handle registration gets every
interface arrival and removal instead), so ds3sim plays the plug-and-play manager for the handles
the simulated build registers with it, and sends what Windows sends."""
import os
import re
import sys
import time

import harness
from harness import DriverCase, wait_for


class SimulatedBuildTests(DriverCase):
    hid = False

    def menu_walk(self, *keys):
        self.open_menu()
        self.desk.key(*keys)

    def watch_of(self, dev):
        """(handle, notification id) of the tool's newest removal watch on device `dev`."""
        lines = wait_for(lambda: self.log_lines(rf"^WATCH handle=\d+ dev={dev} notify=\d+$"), 10,
                         what=f"the watch on device {dev}")
        return re.match(r"^WATCH handle=(\d+) dev=\d+ notify=(\d+)$", lines[-1]).groups()

    def query_remove(self, command):
        mark = self.mark()
        self.control_command(command)
        dev = command.split()[1]
        wait_for(lambda: self.lines_since(mark, rf"^QUERYREMOVE dev={dev} (removed|vetoed)$"), 30,
                 what="the removal's outcome")
        return mark

    def test_help_lists_the_options_and_the_commands(self):
        """What a newcomer reads first: the demo's and the simulator's options, and the commands the
        control file takes."""
        root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
        demo = self.wine.run([os.path.join(root, "scripts", "demo"), "--help"], timeout=30)
        self.assertEqual(demo.returncode, 0, demo.stderr)
        for option in ("--seconds", "--debug", "--lang", "--pipe", "--vnc"):
            self.assertIn(option.encode(), demo.stdout)
        sim = self.wine.run(["wine", os.path.join(harness.BUILD, "ds3sim.exe"), "--help"], timeout=60)
        self.assertEqual(sim.returncode, 0, sim.stderr)
        text = sim.stdout.decode("utf-8", "replace")
        for word in ("--hid", "--control", "unplug N", "set N status V", "battery V", "fault N", "query-remove N"):
            self.assertIn(word, text)

    # ---- removal notices for a watched handle, as Windows sends them

    def test_a_granted_removal_finds_the_handle_closed_and_the_notice_kept_for_the_outcome(self):
        self.start_driver()
        self.start()
        handle, notify = self.watch_of(1)
        mark = self.query_remove("query-remove 1")
        lines = self.lines_since(mark)
        asked = [i for i, l in enumerate(lines)
                 if l.startswith(f"NOTICE QUERYREMOVE dev=1 notify={notify} answer=granted ")]
        self.assertEqual(len(asked), 1, lines)
        granted = asked[0]
        self.assertIn(f"CLOSE handle={handle} dev=1", lines[:granted], "the handle was closed before the answer")
        # Still registered when the removal was done, so the outcome reached the tool; let go after it.
        done = [i for i, l in enumerate(lines) if l.startswith(f"NOTICE REMOVECOMPLETE dev=1 notify={notify} ")]
        self.assertEqual(len(done), 1, lines)
        unwatch = [i for i, l in enumerate(lines) if l == f"UNWATCH notify={notify} dev=1"]
        self.assertEqual(len(unwatch), 1, lines)
        self.assertGreater(unwatch[0], granted)
        self.assertIn("QUERYREMOVE dev=1 removed", lines)
        self.assertFalse([l for l in lines if l.startswith(f"UNWATCH notify={notify} unknown")])

    def test_a_vetoed_removal_finds_the_controller_again_by_itself(self):
        self.start_driver()
        self.start()
        handle, notify = self.watch_of(1)
        # Another program vetoes after the tool has granted and let go: the device stays, and
        # nothing but the failed query says so.
        mark = self.query_remove("query-remove 1 veto")
        lines = self.lines_since(mark)
        self.assertTrue([l for l in lines if l.startswith(f"NOTICE QUERYREMOVE dev=1 notify={notify} answer=granted")],
                        lines)
        self.assertIn(f"CLOSE handle={handle} dev=1", lines)
        self.assertTrue([l for l in lines if l.startswith(f"NOTICE QUERYREMOVEFAILED dev=1 notify={notify} ")],
                        "the failed query reaches the tool: its notice was kept")
        after = self.lines_since(mark)
        end = after.index("QUERYREMOVE dev=1 vetoed")
        wait_for(lambda: [l for l in self.lines_since(mark + end) if re.match(r"^GET dev=1 ok tag=DS3U", l)], 10,
                 what="the controller polled again")
        self.assertTrue(self.lines_since(mark + end, r"^OPEN dev=1 "), "opened again")
        self.assertTrue(self.lines_since(mark + end, r"^WATCH handle=\d+ dev=1 "), "and watched again")
        self.assertFalse(self.lines_since(mark, r"^(BROADCAST|GONE)"), "no device event announced it")

    def test_a_query_remove_is_answered_while_the_device_is_stuck(self):
        self.start_driver()
        self.start()
        handle, notify = self.watch_of(1)
        self.control_command("fault 1 slow 10000")
        time.sleep(1.5)  # a poll of the device is now inside its 10 s
        mark = self.query_remove("query-remove 1")
        asked = self.lines_since(mark, r"^NOTICE QUERYREMOVE dev=1 ")
        self.assertEqual(len(asked), 1)
        self.assertIn(" answer=granted ", asked[0], "answered in time, so the removal is not vetoed")
        self.assertTrue(self.lines_since(mark, r"^QUERYREMOVE dev=1 removed$"))
        self.menu_opens_within(2)
        # The device goes from the tool as soon as the request that held it returns.
        wait_for(lambda: self.lines_since(mark, rf"^CLOSE handle={handle} dev=1$"), 20, what="the handle closed")
        wait_for(lambda: self.lines_since(mark, rf"^UNWATCH notify={notify} dev=1$"), 5, what="the notice let go")

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

    def test_the_elevated_copy_restarts_only_a_parent_of_the_drivers_device(self):
        # The copy that a non-elevated administrator's reset starts with the runas verb, run here
        # as Wine runs it: the exit code says what came of it, and no tool window appears.
        self.start_driver("add usb\nadd bth\nadd foreign-joystick\n")
        parents = {}
        for line in wait_for(lambda: len(self.log_lines(r"^ADD dev=")) >= 3 and self.log_lines(r"^ADD dev="), 10,
                             what="the devices"):
            m = re.match(r"^ADD dev=(\d+) .* parent=(\S+)", line)
            parents[m.group(1)] = m.group(2)
        exe = os.path.join(harness.BUILD, self.tool_exe)

        def copy(*args):
            return self.wine.run(["wine", exe, *args], timeout=60).returncode

        self.assertEqual(copy("-driver-reset", parents["3"]), 4, "a foreign joystick's parent is refused")
        self.assertEqual(copy("-driver-reset", "ROOT\\SYSTEM\\0000"), 4, "a node with nothing of the driver's")
        self.assertEqual(copy("-driver-reset", parents["1"].lower()), 4, "the id is compared exactly")
        self.assertFalse(self.log_lines(r"^RESTART"), "nothing was restarted")
        self.assertEqual(copy("-driver-reset", parents["2"]), 0)
        wait_for(lambda: self.log_lines(rf"^RESTART id={re.escape(parents['2'])} dev=2 ok"), 15, what="the restart")
        self.control_command("fault 1 fail-restart")
        time.sleep(1.0)  # the simulator reads its control file twice a second or so
        self.assertEqual(copy("-driver-reset", parents["1"]), 1, "a failed restart")
        self.assertFalse(self.tool_windows(), "the copy shows no window")

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
        mark2 = len(self.log_text().splitlines())
        wait_for(lambda: len([l for l in self.log_text().splitlines()[mark2:]
                              if re.match(r"^GET dev=[12] ok", l)]) > 4, 10, what="polls after the resume")
        # Two resume notices: each device's handle opened after the sleep was closed before a newer
        # one was opened, and one stays open.
        held = {}
        for line in after():
            opened = re.match(r"^OPEN dev=(\d+) handle=(\d+)$", line)
            closed = re.match(r"^CLOSE handle=(\d+) dev=(\d+)$", line)
            if opened:
                self.assertNotIn(opened.group(1), held, f"{line} while another handle of it was open")
                held[opened.group(1)] = opened.group(2)
            elif closed and held.get(closed.group(2)) == closed.group(1):
                del held[closed.group(2)]
        self.assertEqual(sorted(held), ["1", "2"], "each device's newest handle is open")
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


if __name__ == "__main__":
    harness.main()
