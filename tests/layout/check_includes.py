"""Checks that includes point only down the layers, and that no source file grows past 700 lines.

The layers, bottom to top; a file may include its own folder and any lower tier, never a folder
of its own tier or above:

    core/ resources/        the Tool state, text, bytes, event, UI port, Win32 shell helpers
    profiles/ rumble/
    driver/
    monitor/ dialogs/ sim/  (no product folder includes sim/)
    app/                    the composition: includes everything, included by nothing

tests/ and bench/ sit above all of them and may include any folder, so they are not checked.
Usage: check_includes.py [ROOT]  (default: this repository). Exit status 1 names each breach."""
import os
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

TIERS = {
    "core": 0,
    "resources": 0,
    "profiles": 1,
    "rumble": 1,
    "driver": 2,
    "monitor": 3,
    "dialogs": 3,
    "sim": 3,
    "app": 4,
}
# The bottom tier is one floor: the resource ids and the foundations may use each other.
SHARED_FLOOR = {"core", "resources"}
# Test instruments: only the simulator's own files include them.
TEST_ONLY = {"sim"}
SOURCE_SUFFIXES = (".c", ".cpp", ".h", ".hpp", ".inl", ".rc")
SIZED_SUFFIXES = (".c", ".cpp", ".h", ".py")
MAX_LINES = 700

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def arrow_problem(source, target):
    """Why `source` folder may not include `target` folder, or None when it may."""
    if target not in TIERS or target == source:
        return None
    if target in TEST_ONLY:
        return f"{source}/ includes {target}/, which only the simulator's own files and the tests may use"
    if source in SHARED_FLOOR and target in SHARED_FLOOR:
        return None
    if TIERS[target] > TIERS[source]:
        return f"{source}/ (tier {TIERS[source]}) includes {target}/ (tier {TIERS[target]}): an arrow pointing up"
    if TIERS[target] == TIERS[source]:
        return f"{source}/ includes {target}/ of its own tier {TIERS[source]}: the same tier may not include sideways"
    return None


def include_problems(root):
    found = []
    for folder in sorted(TIERS):
        top = os.path.join(root, folder)
        for dirpath, dirnames, filenames in os.walk(top):
            dirnames.sort()
            for name in sorted(filenames):
                if not name.endswith(SOURCE_SUFFIXES):
                    continue
                path = os.path.join(dirpath, name)
                rel = os.path.relpath(path, root).replace(os.sep, "/")
                with open(path, encoding="utf-8", errors="replace") as f:
                    for number, line in enumerate(f, 1):
                        m = INCLUDE.match(line)
                        if not m:
                            continue
                        included = m.group(1)
                        if included.startswith("../") or "/../" in included:
                            found.append(f"{rel}:{number}: includes \"{included}\" by a relative path; name its folder")
                            continue
                        target = included.split("/", 1)[0] if "/" in included else None
                        problem = arrow_problem(folder, target) if target else None
                        if problem:
                            found.append(f"{rel}:{number}: #include \"{included}\": {problem}")
    return found


def source_files(root):
    """Tracked files when `root` is a git work tree, else every file outside build folders."""
    try:
        out = subprocess.run(["git", "-C", root, "ls-files", "-z"], capture_output=True, check=True)
        if os.path.exists(os.path.join(root, ".git")):
            return [p for p in out.stdout.decode("utf-8").split("\0") if p]
    except (OSError, subprocess.CalledProcessError):
        pass
    files = []
    for dirpath, dirnames, filenames in os.walk(root):
        dirnames[:] = sorted(d for d in dirnames if not d.startswith(".") and not d.startswith("build"))
        for name in sorted(filenames):
            files.append(os.path.relpath(os.path.join(dirpath, name), root).replace(os.sep, "/"))
    return files


def size_problems(root):
    found = []
    for rel in source_files(root):
        if not rel.endswith(SIZED_SUFFIXES):
            continue
        path = os.path.join(root, rel)
        if not os.path.isfile(path):
            continue
        with open(path, "rb") as f:
            lines = f.read().count(b"\n")
        if lines > MAX_LINES:
            found.append(f"{rel}: {lines} lines, more than {MAX_LINES}: split it along its parts")
    return found


def main():
    root = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else ROOT
    found = include_problems(root) + size_problems(root)
    for p in found:
        print(p)
    if not found:
        print(f"{root}: every include points down its layers; no source file over {MAX_LINES} lines")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
