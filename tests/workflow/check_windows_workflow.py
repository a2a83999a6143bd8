"""The Windows workflow cannot run here: parse it and check that it still does what the README
says it does (an MSVC build on a Windows runner, the Windows suite, the package)."""
import json
import os
import sys

import yaml

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


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
    script = "\n".join(runs)
    for needed in ("cmake --preset msvc", "cmake --build --preset msvc", "padwarden_win_tests.exe",
                   "packaging\\padwarden.wxs"):
        if needed not in script:
            found.append(f"no step runs {needed!r}")
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
        print(f"{path}: jobs, steps and runner as expected")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
