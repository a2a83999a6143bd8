"""Both workflow checks pass on this tree's workflows and fail, naming the broken check, on a
copy with one fault put in."""
import copy
import json
import os
import sys
import tempfile
import unittest

import yaml

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_release_workflow  # noqa: E402
import check_windows_workflow  # noqa: E402

ROOT = check_release_workflow.ROOT
WORKFLOWS = os.path.join(ROOT, ".github", "workflows")


def load(name):
    with open(os.path.join(WORKFLOWS, name)) as f:
        return yaml.safe_load(f)


def step(workflow, job, word):
    """The one step of the job whose run or action mentions word."""
    hits = [s for s in workflow["jobs"][job]["steps"] if word in str(s.get("run", "")) + str(s.get("with", ""))]
    assert len(hits) == 1, (job, word, hits)
    return hits[0]


def edit(job, word, old, new):
    def change(w):
        s = step(w, job, word)
        assert old in s["run"], (word, old)
        s["run"] = s["run"].replace(old, new)
    return change


def drop(job, word):
    return lambda w: w["jobs"][job]["steps"].remove(step(w, job, word))


def swap_test_and_package(w):
    steps = w["jobs"]["build"]["steps"]
    test = steps.index(step(w, "build", "scripts/test"))
    steps.append(steps.pop(test))


class WorkflowChecks(unittest.TestCase):
    def setUp(self):
        self.release = load("release.yml")
        self.windows = load("windows.yml")
        with open(os.path.join(ROOT, "CMakePresets.json")) as f:
            self.presets = json.load(f)

    def test_this_tree_passes(self):
        self.assertEqual(check_release_workflow.problems(self.release), [])
        self.assertEqual(check_windows_workflow.problems(self.windows, self.presets), [])

    def test_each_fault_in_the_release_workflow_is_named(self):
        cases = [
            ("trigger", lambda w: w.update({True: {"push": {"branches": ["main"]}}})),
            ("trigger", lambda w: w[True].update({"pull_request": None})),
            ("container", lambda w: w["jobs"]["build"].pop("container")),
            ("container", lambda w: w["jobs"]["build"]["steps"].pop(0)),
            ("container", edit("build", "scripts/test", "scripts/test", "sudo scripts/test")),
            ("order", swap_test_and_package),
            # Signing whether or not the certificate is there.
            ("signing", lambda w: step(w, "build", "--sign").pop("if")),
            ("signing", edit("build", "NOT signed", "this release is NOT signed", "packaging")),
            ("signing", lambda w: step(w, "build", "--sign")["env"].update({"SIGNING_CERTIFICATE": "cert"})),
            ("signing", lambda w: step(w, "build", "NOT signed").update({"if": "env.SIGNED == 'true'"})),
            ("secrets", edit("build", "--sign", 'echo "signing', 'echo "$SIGNING_PASSWORD signing')),
            ("secrets", edit("build", "--sign", '"$SIGNING_PASSWORD"', '"${{ secrets.SIGNING_PASSWORD }}"')),
            ("secrets", edit("build", "--sign", "trap 'rm -rf \"$keys\"' EXIT\n", "")),
            ("secrets", edit("build", "--sign", "umask 077\n", "set -x\n")),
            ("assets", edit("publish", "gh release upload", ' "${manifests[@]}"', "")),
            ("assets", edit("build", "NOT signed", ' --homepage "$GITHUB_SERVER_URL/$GITHUB_REPOSITORY"', "")),
            ("assets", lambda w: w["jobs"]["publish"].pop("needs")),
            ("assets", lambda w: w["jobs"]["publish"]["steps"].pop(0)),
            ("permissions", lambda w: w["jobs"]["publish"].pop("permissions")),
            ("permissions", lambda w: w["jobs"]["build"].update({"permissions": {"contents": "write"}})),
            ("permissions", lambda w: step(w, "publish", "gh release upload")["env"].pop("GH_TOKEN")),
            ("permissions", lambda w: w.update({"permissions": {"contents": "write"}})),
        ]
        for check, breaks in cases:
            with self.subTest(check=check):
                broken = copy.deepcopy(self.release)
                breaks(broken)
                found = check_release_workflow.problems(broken)
                self.assertEqual(len(found), 1, found)
                self.assertTrue(found[0].startswith(check + ":"), found)

    def test_each_fault_in_the_windows_workflow_is_named(self):
        cases = [
            ("wix", edit("msvc", "candle.exe", "  exit 1\n}", "  exit 0\n}")),
            ("wix", edit("msvc", "candle.exe", "$env:WIX", "$env:PATH")),
            ("sval", edit("msvc", "candle.exe", "light.exe\" -nologo", "light.exe\" -nologo -sval")),
            ("msiexec repair", drop("msvc", "repair.log")),
            ("msiexec uninstall", edit("msvc", "uninstall.log", "-notin 0, 3010", "-ne 0")),
            ("msiexec install", edit("msvc", "\\install.log", "/qn ", "")),
            ("msiexec upgrade", edit("msvc", "upgrade.log", "$env:NEW_MSI", "$env:OLD_MSI")),
            ("msiexec upgrade", edit("msvc", "upgrade.log", "/i `", "/a `")),
            ("msiexec repair", edit("msvc", "repair.log", "/l*v", "/log")),
            ("msiexec repair", edit("msvc", "repair.log", "0, 3010", "0")),
            ("msiexec repair", edit("msvc", "repair.log", "; exit 1 }", " }")),
            ("msiexec install", edit("msvc", "\\install.log", "Programs\\Padwarden\\", "")),
            ("msiexec uninstall", lambda w: w["jobs"]["msvc"]["steps"].insert(
                5, w["jobs"]["msvc"]["steps"].pop(w["jobs"]["msvc"]["steps"].index(step(w, "msvc", "uninstall.log"))))),
            ("logs", lambda w: step(w, "msvc", "msiexec-logs").pop("if")),
            ("no trigger", lambda w: w.pop(True)),
            ("job msvc does not run on windows", lambda w: w["jobs"]["msvc"].update({"runs-on": "ubuntu-latest"})),
            ("job msvc step 1 needs exactly one", lambda w: w["jobs"]["msvc"]["steps"][0].update({"run": "true"})),
            ("job msvc does not check out", lambda w: w["jobs"]["msvc"]["steps"][0].update({"uses": "actions/cache@v4"})),
            ("no step runs 'padwarden_win_tests.exe'", drop("msvc", "padwarden_win_tests.exe")),
        ]
        for check, breaks in cases:
            with self.subTest(check=check):
                broken = copy.deepcopy(self.windows)
                breaks(broken)
                found = check_windows_workflow.problems(broken, self.presets)
                self.assertEqual(len(found), 1, found)
                self.assertTrue(found[0].startswith(check), found)

    def test_the_scripts_fail_on_a_broken_file(self):
        release = copy.deepcopy(self.release)
        release["jobs"]["build"]["container"] = "ubuntu:22.04"
        windows = copy.deepcopy(self.windows)
        edit("msvc", "candle.exe", "light.exe\" -nologo", "light.exe\" -nologo -sval")(windows)
        for checker, broken in ((check_release_workflow, release), (check_windows_workflow, windows)):
            with self.subTest(checker=checker.__name__), tempfile.NamedTemporaryFile("w", suffix=".yml") as f:
                yaml.safe_dump(broken, f)
                f.flush()
                sys.argv = [checker.__name__ + ".py", f.name]
                self.assertEqual(checker.main(), 1)
                sys.argv = [checker.__name__ + ".py"]
                self.assertEqual(checker.main(), 0)

if __name__ == "__main__":
    unittest.main()
