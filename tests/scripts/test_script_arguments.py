"""The scripts' bad arguments: each prints its usage and ends with 2 before it installs, builds
or starts anything (no Wine here, and no display)."""
import os
import subprocess
import sys
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def run(script, *args):
    env = dict(os.environ, PATH="/usr/bin:/bin")  # nothing to build with, should it get that far
    r = subprocess.run([os.path.join(ROOT, "scripts", script), *args], capture_output=True, text=True,
                       timeout=30, env=env, stdin=subprocess.DEVNULL)
    return r.returncode, r.stderr


class BadArguments(unittest.TestCase):
    def test_each_script_refuses_with_its_usage(self):
        cases = [
            ("demo", ["--seconds"]), ("demo", ["--seconds", "ten"]), ("demo", ["--lang"]),
            ("demo", ["--lang", "fr"]), ("demo", ["--colour"]),
            ("soak", ["--minutes"]), ("soak", ["--seed", "x"]), ("soak", ["--long"]),
            ("fuzz", ["--runs"]), ("fuzz", ["--build", "/no/such/folder"]),
            ("package", ["--no-such-option"]),
        ]
        for script, args in cases:
            with self.subTest(script=script, args=args):
                code, err = run(script, *args)
                self.assertEqual(code, 2, err)
                self.assertIn("usage:", err)
                self.assertNotIn("unbound variable", err)

    def test_the_package_names_a_missing_build_it_was_given(self):
        code, err = run("package", "--build", "/no/such/folder")
        self.assertEqual(code, 1)
        self.assertIn("/no/such/folder/padwarden.exe is missing", err)


if __name__ == "__main__":
    unittest.main(verbosity=2)
