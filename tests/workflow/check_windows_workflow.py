"""The Windows workflow cannot run here: parse it and check that it still does what the README
says it does (an MSVC build on a Windows runner, the Windows suite, the package built by WiX 3,
and Windows Installer taking it through install, upgrade, repair and removal)."""
import json
import os
import re
import sys

import yaml

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
INSTALLED_EXE = "Programs\\Padwarden\\padwarden.exe"
# (check, its log, what msiexec is asked to do), in the order the steps must come.
MSIEXEC_STEPS = [
    ("install", "install.log", r"/i\s"),
    ("upgrade", "upgrade.log", r"/i\s"),
    ("repair", "repair.log", r"/f(a|omus)\s"),
    ("uninstall", "uninstall.log", r"/x\s"),
]


def package_problems(steps):
    """The WiX build and the msiexec steps after it, in one job's steps."""
    found = []
    runs = [(i, str(s.get("run", ""))) for i, s in enumerate(steps) if isinstance(s, dict)]
    wix = [(i, r) for i, r in runs if "candle.exe" in r]
    if not wix:
        return ["wix: no step runs candle.exe"]
    wix_at, wix_run = wix[0]
    if "$env:WIX" not in wix_run:
        found.append("wix: the WiX step does not look WiX 3 up through the WIX variable")
    if re.search(r"\bexit 0\b", wix_run):
        found.append("wix: the WiX step can end in success without a package")
    if any("-sval" in r for _, r in runs):
        found.append("sval: light runs with -sval, which turns the package's validation off")
    last, targets = wix_at, {}
    for check, log, option in MSIEXEC_STEPS:
        hits = [(i, r) for i, r in runs if "msiexec" in r and re.search(r"\b" + re.escape(log), r)]
        if len(hits) != 1:
            found.append(f"msiexec {check}: want one msiexec step writing {log}, found {len(hits)}")
            continue
        i, r = hits[0]
        needs = {"the msiexec action": option, "/qn": r"/qn\b", "/l*v": r"/l\*v\b", "3010 as success": r"\b3010\b",
                 "a failing exit": r"\bexit [1-9]"}
        if check in ("install", "uninstall"):
            needs["the installed program's path"] = re.escape(INSTALLED_EXE)
        for what, pattern in needs.items():
            if not re.search(pattern, r):
                found.append(f"msiexec {check}: the step lacks {what}")
        if i <= last:
            found.append(f"msiexec {check}: the step does not come after the one before it")
        last = i
        m = re.search(r"/i\s+(\S+)", r)
        targets[check] = m.group(1) if m else None
    if targets.get("install") is not None and targets.get("install") == targets.get("upgrade"):
        found.append("msiexec upgrade: it installs the same package as the install")
    if not any(str(s.get("uses", "")).startswith("actions/upload-artifact@") and "always()" in str(s.get("if", ""))
               and ".log" in str((s.get("with") or {}).get("path", "")) for s in steps if isinstance(s, dict)):
        found.append("logs: no upload of the msiexec logs that runs always()")
    return found


def problems(workflow, presets):
    found = []
    if not isinstance(workflow, dict):
        return ["not a mapping"]
    # YAML 1.1 reads the bare key "on" as true.
    if "on" not in workflow and True not in workflow:
        found.append("no trigger ('on')")
    jobs = workflow.get("jobs")
    if not isinstance(jobs, dict) or not jobs:
        return found + ["no jobs"]
    runs = []
    for name, job in jobs.items():
        if not str(job.get("runs-on", "")).startswith("windows"):
            found.append(f"job {name} does not run on windows")
        steps = job.get("steps")
        if not isinstance(steps, list) or not steps:
            found.append(f"job {name} has no steps")
            continue
        for i, step in enumerate(steps):
            if not isinstance(step, dict) or ("uses" in step) == ("run" in step):
                found.append(f"job {name} step {i + 1} needs exactly one of 'uses' and 'run'")
                continue
            runs.append(step.get("run", ""))
        if not any(str(s.get("uses", "")).startswith("actions/checkout@") for s in steps if isinstance(s, dict)):
            found.append(f"job {name} does not check out the tree")
        if any("candle.exe" in str(s.get("run", "")) for s in steps if isinstance(s, dict)):
            found += package_problems(steps)
    script = "\n".join(runs)
    for needed in ("cmake --preset msvc", "cmake --build --preset msvc", "padwarden_win_tests.exe",
                   "packaging\\padwarden.wxs"):
        if needed not in script:
            found.append(f"no step runs {needed!r}")
    if "candle.exe" not in script:
        found.append("wix: no step runs candle.exe")
    if "msvc" not in [p["name"] for p in presets.get("configurePresets", [])]:
        found.append("CMakePresets.json has no msvc configure preset")
    if not os.path.isfile(os.path.join(ROOT, "packaging", "padwarden.wxs")):
        found.append("packaging/padwarden.wxs is missing")
    return found


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, ".github", "workflows", "windows.yml")
    with open(path) as f:
        workflow = yaml.safe_load(f)
    with open(os.path.join(ROOT, "CMakePresets.json")) as f:
        presets = json.load(f)
    found = problems(workflow, presets)
    for p in found:
        print(f"{path}: {p}")
    if not found:
        print(f"{path}: jobs, steps, runner, package and msiexec steps as expected")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
