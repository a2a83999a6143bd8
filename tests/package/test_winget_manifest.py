"""The winget manifest set that packaging/winget.py writes passes its own check, each kind of
broken copy is caught by the field it breaks, and one input always gives the same bytes."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import yaml

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "packaging"))
import winget  # noqa: E402

VERSION = "0.3.5.15"
# As a caller may hand them over: bare, lower-case.
PRODUCT = "9c0e4f7a-2b61-4d3e-8f15-7a6b5c4d3e21"
UPGRADE = "6F0B2C61-3E1A-4C0D-9A57-2D3B9C4E8A10"
SHA = "0123456789abcdef" * 4
URL = "https://downloads.example/padwarden/Padwarden-0.3.5.15.msi"

VERSION_FILE, INSTALLER_FILE, LOCALE_FILE = 0, 1, 2


def write(out_dir, **changes):
    args = dict(version=VERSION, product_code=PRODUCT, upgrade_code=UPGRADE, installer_sha256=SHA,
                installer_url=URL, release_notes_url="https://downloads.example/padwarden/notes")
    args.update(changes)
    return winget.write_manifests(out_dir, **args)


def installer(doc):
    return doc["Installers"][0]


class WingetManifest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="winget-")
        self.paths = write(os.path.join(self.tmp, "a"))

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def load(self, i):
        with open(self.paths[i], encoding="utf-8") as f:
            return yaml.safe_load(f)

    def test_written_set_passes_and_carries_the_package(self):
        self.assertEqual(winget.check_manifests(self.paths), [])
        inst = installer(self.load(INSTALLER_FILE))
        self.assertEqual(inst["ProductCode"], "{" + PRODUCT.upper() + "}")
        self.assertEqual(inst["InstallerSha256"], SHA.upper())
        arp = inst["AppsAndFeaturesEntries"][0]
        self.assertEqual((arp["DisplayVersion"], arp["UpgradeCode"]), (VERSION, "{" + UPGRADE + "}"))
        for i in range(3):
            self.assertEqual(self.load(i)["PackageVersion"], VERSION)

    def test_same_input_gives_the_same_bytes(self):
        again = write(os.path.join(self.tmp, "b"))
        self.assertEqual([os.path.basename(p) for p in again], [os.path.basename(p) for p in self.paths])
        for a, b in zip(self.paths, again):
            with open(a, "rb") as fa, open(b, "rb") as fb:
                data = fa.read()
                self.assertEqual(data, fb.read(), a)
                self.assertNotIn(b"\r", data, a)

    def test_each_broken_copy_is_named_by_its_field(self):
        def drop(key):
            return lambda d: d.pop(key)

        def set_installer(key, value):
            return lambda d: installer(d).__setitem__(key, value)

        # (file, change to its document or, for a str, text appended to it, words one problem must carry
        # besides the file's name)
        cases = [
            (INSTALLER_FILE, set_installer("InstallerSha256", SHA[:-1].upper()), ["InstallerSha256"]),
            (INSTALLER_FILE, set_installer("ProductCode", PRODUCT.upper()), ["Installers[0].ProductCode"]),
            (INSTALLER_FILE, set_installer("Scope", "User"), ["Installers[0].Scope"]),
            (INSTALLER_FILE, set_installer("Scope", "machine"), ["Installers[0].Scope"]),
            (INSTALLER_FILE, set_installer("InstallerUrl", URL.replace("https:", "http:")), ["InstallerUrl"]),
            (INSTALLER_FILE, set_installer("InstallerSwitch", {"Silent": "/qn"}), ["InstallerSwitch"]),
            (INSTALLER_FILE, lambda d: installer(d)["AppsAndFeaturesEntries"][0].__setitem__(
                "DisplayVersion", "0.3.5015"), ["DisplayVersion"]),
            (LOCALE_FILE, drop("License"), ["License"]),
            (LOCALE_FILE, "License: MIT\n", ["License", "duplicate"]),
            (INSTALLER_FILE, lambda d: d.__setitem__("PackageVersion", "0.3.5.16"),
             ["PackageVersion", "0.3.5.16", "Corvane.Padwarden.yaml"]),
            (VERSION_FILE, lambda d: d.__setitem__("DefaultLocale", "en-GB"), ["DefaultLocale", "en-US"]),
            (VERSION_FILE, lambda d: d.__setitem__("ManifestType", "installer"), ["ManifestType"]),
        ]
        for i, change, words in cases:
            with self.subTest(file=i, words=words):
                paths = write(os.path.join(self.tmp, "broken"))
                if isinstance(change, str):
                    with open(paths[i], "a", encoding="utf-8") as f:
                        f.write(change)
                else:
                    doc = self.load(i)
                    change(doc)
                    with open(paths[i], "w", encoding="utf-8") as f:
                        yaml.safe_dump(doc, f, sort_keys=False)
                found = winget.check_manifests(paths)
                name = os.path.basename(paths[i])
                self.assertTrue(any(name in p and all(w in p for w in words) for p in found),
                                found)

    def test_values_no_manifest_could_carry_are_refused(self):
        cases = [
            {"version": "0.3.5015"},
            {"product_code": "{" + PRODUCT},
            {"upgrade_code": "not-a-guid"},
            {"installer_sha256": SHA + "0"},
            {"installer_url": URL.replace("https:", "http:")},
            {"release_notes_url": "ftp://downloads.example/notes"},
        ]
        for change in cases:
            with self.subTest(change=change):
                with self.assertRaises(ValueError):
                    write(os.path.join(self.tmp, "refused"), **change)

    def test_command_line_exits_1_naming_the_problem(self):
        doc = self.load(INSTALLER_FILE)
        installer(doc)["Architecture"] = "x86"
        with open(self.paths[INSTALLER_FILE], "w", encoding="utf-8") as f:
            yaml.safe_dump(doc, f, sort_keys=False)
        r = subprocess.run([sys.executable, os.path.join(ROOT, "packaging", "winget.py"), "check", *self.paths],
                           capture_output=True, text=True)
        self.assertEqual(r.returncode, 1, r.stderr)
        self.assertIn("Installers[0].Architecture", r.stderr)


if __name__ == "__main__":
    unittest.main()
