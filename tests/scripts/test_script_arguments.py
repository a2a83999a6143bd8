"""The scripts' bad arguments: each prints its usage and ends with 2 before it installs, builds
or starts anything (no Wine here, and no display). And the README's icon legend still shows the
pictures the maps draw."""
import glob
import os
import subprocess
import sys
import tempfile
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


class IconLegend(unittest.TestCase):
    def test_the_legend_pictures_are_the_maps_as_drawn_now(self):
        maps = sorted(glob.glob(os.path.join(ROOT, "resources", "icons", "icon20*.txt")))
        self.assertEqual(len(maps), 7)
        with tempfile.TemporaryDirectory() as out:
            subprocess.run([sys.executable, os.path.join(ROOT, "resources", "make_icons.py"), "--png", "64", out,
                            *maps], check=True, timeout=60)
            readme = open(os.path.join(ROOT, "README.md"), encoding="utf-8").read()
            for m in maps:
                name = os.path.splitext(os.path.basename(m))[0] + ".png"
                with self.subTest(picture=name):
                    self.assertIn("docs/icons/" + name, readme)
                    with open(os.path.join(out, name), "rb") as a, open(os.path.join(ROOT, "docs", "icons", name),
                                                                       "rb") as b:
                        self.assertEqual(a.read(), b.read(), "run resources/make_icons.py --png 64 docs/icons ...")


if __name__ == "__main__":
    unittest.main(verbosity=2)
