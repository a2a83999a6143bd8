"""The release workflow cannot run here: parse it and check what a release relies on. A pushed
version tag builds and tests in Debian bookworm as CI does, packages, signs only when the
certificate secret is there (and says so when it is not), and attaches the package files to the
tag's release with the one write permission it needs. Each problem starts with its check's name."""
import os
import re
import sys

import yaml

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
CERTIFICATE = "secrets.SIGNING_CERTIFICATE"
ASSETS = {"the MSI": ".msi", "the portable zip": "-portable.zip", "the sums": "SHA256SUMS",
          "the winget manifests": "winget/"}


def text(step):
    """What a step runs or hands to its action, as one string."""
    return str(step.get("run", "")) + "\n" + str(step.get("with", ""))


def uploaded(step):
    """The files a step attaches to a release: an action's files, or the arguments of gh release
    upload with the script's own array and variable assignments put in."""
    files = str((step.get("with") or {}).get("files", "")) if "action-gh-release" in str(step.get("uses", "")) else ""
    run = str(step.get("run", ""))
    values = {m.group(1): m.group(2) for m in re.finditer(r"^\s*(\w+)=\(?([^)\n]*)\)?\s*$", run, re.M)}
    for line in re.findall(r"gh release upload[^\n]*", run):
        files += " " + re.sub(r"\$\{?(\w+)(\[[^]]*\])?\}?", lambda m: values.get(m.group(1), m.group(0)), line)
    return files


def first(steps, pattern):
    return next((i for i, s in enumerate(steps) if re.search(pattern, str(s.get("run", "")))), None)


def build_problems(workflow, job):
    found = []
    image = job.get("container")
    image = image.get("image") if isinstance(image, dict) else image
    if job.get("runs-on") != "ubuntu-latest" or image != "debian:bookworm":
        found.append("container: the build job must run on ubuntu-latest in the debian:bookworm container")
    steps = job["steps"]
    checkout = next((i for i, s in enumerate(steps) if str(s.get("uses", "")).startswith("actions/checkout@")), None)
    git = first(steps, r"apt-get update[\s\S]*apt-get install[^\n]*\bgit\b")
    if checkout is None or git is None or git > checkout:
        found.append("container: git must be installed (apt-get update, install) before the checkout")
    if any(re.search(r"\bsudo\b", str(s.get("run", ""))) for s in steps):
        found.append("container: the container runs as root and has no sudo")
    test, package = first(steps, r"\bscripts/test\b"), first(steps, r"\bscripts/package\b")
    if test is None or package is None or test > package:
        found.append("order: scripts/test must run before scripts/package")

    packaging = [s for s in steps if "scripts/package" in str(s.get("run", ""))]
    if any("--homepage" not in s["run"] for s in packaging):
        found.append("assets: scripts/package needs --homepage, or it writes no winget manifest")
    signed = [s for s in packaging if "--sign" in s["run"]]
    unsigned = [s for s in packaging if "--sign" not in s["run"]]
    env = {**(workflow.get("env") or {}), **(job.get("env") or {})}
    flags = [k for k, v in env.items() if CERTIFICATE in str(v)]

    def guarded(step):
        return any(re.search(r"\benv\." + re.escape(f) + r"\b", str(step.get("if", ""))) for f in flags)

    if len(signed) != 1 or not guarded(signed[0]):
        found.append(f"signing: one signing step, run only when {CERTIFICATE} is set")
    elif CERTIFICATE not in str((signed[0].get("env") or {}).get("SIGNING_CERTIFICATE", "")):
        found.append("signing: the signing step does not take the certificate from its secret")
    if len(unsigned) != 1 or not guarded(unsigned[0]) or (signed and unsigned[0].get("if") == signed[0].get("if")):
        found.append(f"signing: one unsigned packaging step, run only when {CERTIFICATE} is not set")
    elif not re.search(r"not signed|unsigned", unsigned[0]["run"], re.I):
        found.append("signing: the unsigned step does not say in the log that the release is unsigned")

    for s in steps:
        run = str(s.get("run", ""))
        # Into a pipe or a file is how the certificate reaches its temporary file; anything else is the log.
        if any(re.search(r"\b(echo|printf)\b.*\$\{?SIGNING_", line)
               and not re.search(r"\$\{?SIGNING_\w*\}?\"?\s*(\||>)", line) for line in run.splitlines()):
            found.append(f"secrets: step {s.get('name', '?')!r} prints a signing secret")
        if re.search(r"^\s*set\s+-\w*x", run, re.M) and s in signed:
            found.append("secrets: the signing step traces its commands")
    if signed and not re.search(r"mktemp[\s\S]*trap\s+'[^']*\brm\b", signed[0]["run"]):
        found.append("secrets: the certificate must go to a temporary file that a trap removes")
    return found


def problems(workflow):
    if not isinstance(workflow, dict):
        return ["not a mapping"]
    found = []
    # YAML 1.1 reads the bare key "on" as true.
    on = workflow.get("on", workflow.get(True))
    tags = on.get("push", {}).get("tags") if isinstance(on, dict) and isinstance(on.get("push"), dict) else None
    if (not isinstance(on, dict) or list(on) != ["push"] or list(on["push"]) != ["tags"] or not tags
            or not all(str(t).startswith("v") for t in tags)):
        found.append("trigger: the workflow must run on pushed version tags (v*) only")
    jobs = workflow.get("jobs")
    if not isinstance(jobs, dict) or not all(isinstance(j, dict) and isinstance(j.get("steps"), list)
                                             for j in jobs.values()):
        return found + ["no jobs with steps"]
    for j in jobs.values():
        for s in j["steps"]:
            # An expanded secret is written into the script file itself, and into any trace of it.
            if "secrets." in str(s.get("run", "")):
                found.append(f"secrets: step {s.get('name', '?')!r} writes a secret into its script")
    builds = [n for n, j in jobs.items() if any("scripts/package" in str(s.get("run", "")) for s in j["steps"])]
    publishes = [n for n, j in jobs.items()
                 if any(re.search(r"gh release upload|action-gh-release", text(s) + str(s.get("uses", "")))
                        for s in j["steps"])]
    if len(builds) != 1:
        return found + ["order: want one job that runs scripts/package"]
    found += build_problems(workflow, jobs[builds[0]])

    if len(publishes) != 1:
        return found + ["assets: want one job that attaches the files to the release"]
    name, job = publishes[0], jobs[publishes[0]]
    needs = job.get("needs", [])
    if builds[0] not in ([needs] if isinstance(needs, str) else needs):
        found.append("assets: the attaching job does not wait for the build")
    attached = "\n".join(uploaded(s) for s in job["steps"])
    for what, mark in ASSETS.items():
        if mark not in attached:
            found.append(f"assets: {what} ({mark}) is not attached")
    if not any(str(s.get("uses", "")).startswith("actions/download-artifact@") for s in job["steps"]):
        found.append("assets: the attaching job does not fetch the build's files")

    top = workflow.get("permissions")
    if not isinstance(top, dict) or top.get("contents") == "write":
        found.append("permissions: the workflow must default to contents: read")
    if not isinstance(job.get("permissions"), dict) or job["permissions"].get("contents") != "write":
        found.append(f"permissions: job {name} needs contents: write to attach files")
    for n, j in jobs.items():
        if n != name and isinstance(j.get("permissions"), dict) and j["permissions"].get("contents") == "write":
            found.append(f"permissions: job {n} has contents: write it does not need")
    if not re.search(r"secrets\.GITHUB_TOKEN|github\.token", str([s.get("env") for s in job["steps"]]) + attached):
        found.append(f"permissions: job {name} does not hand the job's token to the upload")
    return found


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, ".github", "workflows", "release.yml")
    with open(path) as f:
        workflow = yaml.safe_load(f)
    found = problems(workflow)
    for p in found:
        print(f"{path}: {p}")
    if not found:
        print(f"{path}: trigger, container, order, signing, secrets, assets and permissions as expected")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
