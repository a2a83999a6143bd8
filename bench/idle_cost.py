#!/usr/bin/env python3
"""Idle cost side by side: the bare tray floor, padwarden.exe with no controller and
padwarden-sim.exe polling two simulated controllers, one after another under the same Wine server
on a private Xvfb. For each it prints its own CPU milliseconds per minute, the Wine server's and
the tray host's (explorer) over the same span, and its resident and private memory with the ratio
to the floor. It prints figures and asserts nothing.

  bench/idle_cost.py [--seconds N] [--warmup N] [--build DIR] [--before DIR]

--before DIR measures the tool from a second Windows build folder too (an earlier commit's), in
the same run under the same server, so the two can be compared line by line.
"""
import argparse
import os
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


def measure(wine, path, seconds, warmup, args=()):
    wine.start(path, *args)
    exe = os.path.basename(path)
    pid = harness.wait_for(lambda: find_pid(exe), 30, what=exe)
    time.sleep(warmup)
    others = {"wineserver": find_pid("wineserver"), "explorer": find_pid("explorer.exe")}
    start = {k: cpu_ms(p) for k, p in others.items()}
    own0 = cpu_ms(pid)
    t0 = time.monotonic()
    time.sleep(seconds)
    elapsed = time.monotonic() - t0
    own1 = cpu_ms(pid)
    end = {k: cpu_ms(p) for k, p in others.items()}
    rss, anon = memory_kb(pid)
    per_min = lambda a, b: None if a is None or b is None else (b - a) * 60.0 / elapsed  # noqa: E731
    return {"own": per_min(own0, own1), "wineserver": per_min(start["wineserver"], end["wineserver"]),
            "explorer": per_min(start["explorer"], end["explorer"]), "rss": rss, "anon": anon, "pid": pid}


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


if __name__ == "__main__":
    main()
