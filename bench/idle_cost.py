#!/usr/bin/env python3
"""Idle cost side by side: the bare tray floor, padwarden.exe with no controller,
padwarden-sim.exe polling two simulated controllers over the simulator's pipe, and, with the
simulator behind the HID stack (ds3sim.exe --hid), a bare poller (floor_hid.exe) and padwarden.exe
reading the same two devices; one after another under the same Wine server on a private Xvfb. For
each it prints its own CPU milliseconds per minute, the Wine server's and the tray host's
(explorer) over the same span, and its resident and private memory with the ratio to the floor.
Below the table: the HID stack's share (the simulator and the driver hosts) and the reads each
poller made during its span, then padwarden.exe's own CPU against the bare poller's and its memory
against the bare tray program's. It prints figures and asserts nothing.

  bench/idle_cost.py [--seconds N] [--warmup N] [--build DIR] [--before DIR]

--before DIR measures the tool from a second Windows build folder too (an earlier commit's), in
the same run under the same server, so the two can be compared line by line. The simulator, its
relay driver and the floors always come from --build.
"""
import argparse
import os
import re
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import harness  # noqa: E402  (takes --build from the command line)

TICK = os.sysconf("SC_CLK_TCK")


PREFIX = None  # the Wine prefix whose processes are measured; others may run beside it


def find_pid(name):
    """The Linux process of the measured prefix that runs the Windows program `name`; for
    "wineserver", the prefix's server."""
    if name == "wineserver":
        return harness.linux_pid(PREFIX, "wineserver64") or harness.linux_pid(PREFIX, "wineserver")
    return harness.linux_pid(PREFIX, name)


def all_pids(name):
    """Every process of the measured prefix that runs the Windows program `name`."""
    return harness.linux_pids(PREFIX, name)


def cpu_ms(pid):
    """CPU time of the process in milliseconds: the nanosecond run times of its live threads
    (/proc/PID/task/*/schedstat) where the kernel keeps them, else user plus system time in
    clock ticks (10 ms steps)."""
    if pid is None:
        return None
    try:
        total = 0
        for task in os.listdir(f"/proc/{pid}/task"):
            with open(f"/proc/{pid}/task/{task}/schedstat") as f:
                total += int(f.read().split()[0])
        if total > 0:  # some kernels and sandboxes report zero here for every thread
            return total / 1e6
    except (OSError, ValueError, IndexError):
        pass
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) * 1000.0 / TICK
    except OSError:
        return None


def memory_kb(pid):
    values = {}
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                key, _, rest = line.partition(":")
                if key in ("VmRSS", "RssAnon"):
                    values[key] = int(rest.split()[0])
    except OSError:
        pass
    return values.get("VmRSS"), values.get("RssAnon")


def cpu_ms_sum(pids):
    values = [cpu_ms(p) for p in pids]
    return None if not values or None in values else sum(values)


def measure(wine, path, seconds, warmup, args=(), stack=None):
    """One row. `stack`, when the devices stand behind the HID stack, is the simulator's log: the
    simulator's and the driver hosts' CPU and the reads per device are taken over the same span."""
    wine.start(path, *args)
    exe = os.path.basename(path)
    pid = harness.wait_for(lambda: find_pid(exe), 30, what=exe)
    time.sleep(warmup)
    others = {"wineserver": [find_pid("wineserver")], "explorer": [find_pid("explorer.exe")]}
    if stack:
        others["ds3sim"] = [find_pid("ds3sim.exe")]
        others["winedevice"] = all_pids("winedevice.exe")
        reads0 = count_reads(stack)
    start = {k: cpu_ms_sum(p) for k, p in others.items()}
    own0 = cpu_ms(pid)
    t0 = time.monotonic()
    time.sleep(seconds)
    elapsed = time.monotonic() - t0
    own1 = cpu_ms(pid)
    end = {k: cpu_ms_sum(p) for k, p in others.items()}
    rss, anon = memory_kb(pid)
    per_min = lambda a, b: None if a is None or b is None else (b - a) * 60.0 / elapsed  # noqa: E731
    row = {k: per_min(start[k], end[k]) for k in others}
    row.update({"own": per_min(own0, own1), "rss": rss, "anon": anon, "pid": pid})
    if stack:
        reads1 = count_reads(stack)
        row["reads"] = {d: (reads1.get(d, 0) - reads0.get(d, 0)) / elapsed for d in sorted(reads1)}
    return row


def count_reads(log):
    """Successful Control report reads the simulator has logged so far, per device."""
    counts = {}
    for m in re.finditer(r"^GET dev=(\d+) ok", harness.read_text(log), re.M):
        counts[m.group(1)] = counts.get(m.group(1), 0) + 1
    return counts


def close(wine, exe, cls, command=None):
    windows = [w for w in wine.windows() if w["class"] == cls]
    for w in windows:
        if command is not None:
            wine.probe("post", w["hwnd"], "0x0111", command, 0, check=False)
        else:
            wine.probe("post", w["hwnd"], "0x0010", 0, 0, check=False)
    harness.wait_for(lambda: find_pid(exe) is None, 20, what=f"{exe} to end")


def measure_tool(wine, build, tag, opts):
    rows = []
    exe = lambda name: os.path.join(build, name)  # noqa: E731
    rows.append((f"{tag}padwarden.exe, no controller", measure(wine, exe("padwarden.exe"), opts.seconds, opts.warmup)))
    close(wine, "padwarden.exe", "PADWARDEN", command=40036)
    work = os.path.join(harness.BUILD, "idle-cost")
    os.makedirs(work, exist_ok=True)
    script = os.path.join(work, "script.txt")
    control = os.path.join(work, "control.txt")
    with open(script, "w") as f:
        f.write("add usb\nadd bth\n")
    open(control, "w").close()
    sim = wine.start(exe("ds3sim.exe"), "--script", script, "--control", control)
    harness.wait_for(lambda: find_pid("ds3sim.exe"), 30, what="ds3sim.exe")
    time.sleep(2)
    rows.append((f"{tag}padwarden-sim.exe, two controllers",
                 measure(wine, exe("padwarden-sim.exe"), opts.seconds, opts.warmup)))
    close(wine, "padwarden-sim.exe", "PADWARDEN", command=40036)
    with open(control, "a") as f:
        f.write("quit\n")
    try:
        sim.wait(20)
    except Exception:  # noqa: BLE001  (a simulator that does not go is ended with the server)
        sim.kill()
    return rows


def measure_hid(wine, builds, opts):
    """The rows behind the HID stack: the bare poller, then padwarden.exe of each build, all
    reading the same two relay devices of one simulator, which is asked to quit at the end so
    that it removes its device nodes."""
    rows = []
    work = os.path.join(harness.BUILD, "idle-cost")
    os.makedirs(work, exist_ok=True)
    script = os.path.join(work, "hid-script.txt")
    control = os.path.join(work, "hid-control.txt")
    log = os.path.join(work, "hid-requests.log")
    with open(script, "w") as f:
        f.write("add usb\nadd bth\n")
    open(control, "w").close()
    if os.path.exists(log):
        os.remove(log)
    sim = wine.start("ds3sim.exe", "--hid", "--script", script, "--control", control, "--log", log)
    try:
        harness.wait_for(lambda: re.search(r"^READY", harness.read_text(log), re.M), 120,
                         what="ds3sim --hid to be ready")
        failed = re.findall(r"^NODE add .*failed.*$", harness.read_text(log), re.M)
        if failed:
            raise AssertionError(f"the relay nodes did not come up: {failed}")
        time.sleep(2)
        rows.append(("floor_hid.exe, two controllers (HID)",
                     measure(wine, "floor_hid.exe", opts.seconds, opts.warmup, stack=log)))
        # No window to close: ending it closes its handles.
        wine.run(["wine", "taskkill", "/f", "/im", "floor_hid.exe"], timeout=60)
        harness.wait_for(lambda: find_pid("floor_hid.exe") is None, 20, what="floor_hid.exe to end")
        for tag, build in builds:
            rows.append((f"{tag}padwarden.exe, two controllers (HID)",
                         measure(wine, os.path.join(build, "padwarden.exe"), opts.seconds, opts.warmup, stack=log)))
            close(wine, "padwarden.exe", "PADWARDEN", command=40036)
    finally:
        with open(control, "a") as f:
            f.write("quit\n")
        try:
            sim.wait(60)
        except Exception:  # noqa: BLE001  (a simulator that does not go is ended with the server)
            sim.kill()
    text = harness.read_text(log)
    if not re.search(r"^QUIT$", text, re.M) or re.search(r"^NODE remove .*failed", text, re.M):
        print(f"note: ds3sim --hid did not remove every device node cleanly; see {log}", file=sys.stderr)
    return rows


def fmt(v, form):
    return "-" if v is None else format(v, form)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--seconds", type=float, default=60.0, help="measured span per program")
    parser.add_argument("--warmup", type=float, default=10.0, help="settling time before the span")
    parser.add_argument("--before", help="an earlier Windows build folder to measure beside this one")
    opts = parser.parse_args()
    display = harness.Display()
    name = display.start()
    wine = harness.Wine("idle-cost", name)
    global PREFIX
    PREFIX = wine.prefix
    rows = []
    try:
        wine.init()
        wine.reg_delete()
        rows.append(("floor (bare tray program)", measure(wine, "floor_tray.exe", opts.seconds, opts.warmup)))
        close(wine, "floor_tray.exe", "PADWARDEN_FLOOR")
        builds = [("", harness.BUILD)]
        if opts.before:
            builds.insert(0, ("before: ", os.path.abspath(opts.before)))
        for tag, build in builds:
            rows.extend(measure_tool(wine, build, tag, opts))
        rows.extend(measure_hid(wine, builds, opts))
    finally:
        wine.stop_all(restart=False)
        display.stop()
    floor_rss = rows[0][1]["rss"]
    print(f"idle cost over {opts.seconds:.0f} s per program, after {opts.warmup:.0f} s to settle (CPU in ms per minute)")
    print(f"{'program':46} {'own CPU':>8} {'wineserver':>10} {'explorer':>9} {'RSS MB':>7} {'private MB':>10} {'RSS/floor':>9}")
    for label, r in rows:
        ratio = None if not floor_rss or not r["rss"] else r["rss"] / floor_rss
        print(f"{label:46} {fmt(r['own'], '8.1f')} {fmt(r['wineserver'], '10.1f')} {fmt(r['explorer'], '9.1f')} "
              f"{fmt(r['rss'] and r['rss'] / 1024, '7.1f')} {fmt(r['anon'] and r['anon'] / 1024, '10.1f')} "
              f"{fmt(ratio, '8.2f')}x")
    print()
    print("behind the HID stack, over the same spans (CPU in ms per minute; reads per second per device)")
    print(f"{'program':46} {'ds3sim':>8} {'winedevice':>10} {'reads/s':>16}")
    for label, r in rows:
        if "reads" in r:
            reads = " ".join(f"{d}:{v:.1f}" for d, v in r["reads"].items()) or "none"
            print(f"{label:46} {fmt(r['ds3sim'], '8.1f')} {fmt(r['winedevice'], '10.1f')} {reads:>16}")
    print()
    floor_hid = next((r for label, r in rows if label.startswith("floor_hid.exe")), None)
    for label, r in rows:
        if label.endswith("(HID)") and "padwarden.exe" in label:
            cpu = None if not floor_hid or not floor_hid["own"] or r["own"] is None else r["own"] / floor_hid["own"]
            mem = None if not floor_rss or not r["rss"] else r["rss"] / floor_rss
            name = label.split(",")[0]
            print(f"{name}: own CPU {fmt(cpu, '.2f')}x the bare poller's (target at most 1.20x), "
                  f"RSS {fmt(mem, '.2f')}x the bare tray program's (target at most 1.15x)")


if __name__ == "__main__":
    main()
