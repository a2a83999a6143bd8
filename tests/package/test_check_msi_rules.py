#!/usr/bin/env python3
"""The MSI rule check passes a small sound per-user package built here with wixl, and names
exactly the one rule that each change to a copy of it breaks."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_msi_rules  # noqa: E402

CHECKER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "check_msi_rules.py")

# Per user: x.exe in LocalAppData\Programs\X keyed on an HKCU value, and a non-advertised Start
# menu shortcut in a component of its own outside the profile, so that its key path answers to
# the shortcut rule alone.
GOOD_WXS = r"""<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="5D6A7C2E-1F30-4B8A-9E44-0C1D2E3F4A51" Name="X" Language="1033" Version="1.0.0"
           Manufacturer="Test" UpgradeCode="5D6A7C2E-1F30-4B8A-9E44-0C1D2E3F4A52">
    <Package InstallerVersion="500" Compressed="yes" InstallScope="perUser" />
    <Media Id="1" Cabinet="x.cab" EmbedCab="yes" />
    <Icon Id="x.ico" SourceFile="x.ico" />
    <Property Id="ARPPRODUCTICON" Value="x.ico" />
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="LocalAppDataFolder">
        <Directory Id="Programs" Name="Programs">
          <Directory Id="INSTALLDIR" Name="X">
            <Component Id="Program" Guid="5D6A7C2E-1F30-4B8A-9E44-0C1D2E3F4A53">
              <File Id="XExe" Name="x.exe" Source="x.exe" />
              <RegistryValue Id="ProgramKey" Root="HKCU" Key="Software\X" Name="Installed" Type="integer"
                             Value="1" KeyPath="yes" />
              <RemoveFolder Id="RemoveX" On="uninstall" />
              <RemoveFolder Id="RemovePrograms" Directory="Programs" On="uninstall" />
            </Component>
          </Directory>
        </Directory>
      </Directory>
      <Directory Id="ProgramMenuFolder" />
      <Component Id="Menu" Guid="5D6A7C2E-1F30-4B8A-9E44-0C1D2E3F4A54">
        <Shortcut Id="XShortcut" Directory="ProgramMenuFolder" Name="X" Target="[#XExe]" Icon="x.ico"
                  WorkingDirectory="INSTALLDIR" />
        <RegistryValue Id="MenuKey" Root="HKCU" Key="Software\X" Name="Menu" Type="integer" Value="1"
                       KeyPath="yes" />
      </Component>
    </Directory>
    <Feature Id="Complete" Level="1">
      <ComponentRef Id="Program" />
      <ComponentRef Id="Menu" />
    </Feature>
  </Product>
</Wix>
"""


def run(argv, cwd=None):
    r = subprocess.run(argv, capture_output=True, text=True, cwd=cwd)
    if r.returncode != 0:
        raise AssertionError(f"{' '.join(argv)} failed: {r.stdout}{r.stderr}")
    return r


def query(msi, *queries):
    for q in queries:
        run(["msibuild", msi, "-q", q])


def rename_icon(msi):
    """An icon named without an extension, the way an id is often written; the Icon table's key
    cannot be updated, so the table comes back whole with a second icon."""
    folder = tempfile.mkdtemp(prefix="icon-idt-", dir=os.path.dirname(msi))
    os.makedirs(os.path.join(folder, "Icon"))
    for name in ("x.ico", "XIcon"):
        with open(os.path.join(folder, "Icon", f"{name}.ibd"), "wb") as f:
            f.write(b"\0\0\1\0")
    with open(os.path.join(folder, "Icon.idt"), "w", newline="") as f:
        f.write("Name\tData\r\ns72\tv0\r\nIcon\tName\r\nx.ico\tx.ico.ibd\r\nXIcon\tXIcon.ibd\r\n")
    # msibuild finds a row's stream file from the working folder.
    run(["msibuild", msi, "-i", "Icon.idt"], cwd=folder)
    query(msi, "UPDATE `Shortcut` SET `Icon_` = 'XIcon' WHERE `Shortcut` = 'XShortcut'")


# (case, {rule: words its one line must carry}, change to the copy). Each breaks one rule, but for
# an HKLM key path, which also mixes per-machine into the component's data.
BREAKAGES = [
    ("file key path", {"ICE38": ["component Program", "file XExe"]},
     lambda m: query(m, "UPDATE `Component` SET `Attributes` = 0, `KeyPath` = 'XExe' WHERE `Component` = 'Program'")),
    ("HKLM key path", {"ICE38": ["component Program", "HKCU", "Root is 2"], "ICE57": ["component Program"]},
     lambda m: query(m, "UPDATE `Registry` SET `Root` = 2 WHERE `Registry` = 'ProgramKey'")),
    ("shortcut keyed on a file", {"ICE43": ["component Menu", "XShortcut", "file XExe"]},
     lambda m: query(m, "UPDATE `Component` SET `Attributes` = 0, `KeyPath` = 'XExe' WHERE `Component` = 'Menu'")),
    ("icon without extension", {"ICE50": ["XIcon", "XShortcut", "not exe or ico"]}, rename_icon),
    # Advertised, the shortcut starts its component's key file, and Menu has none.
    ("advertised shortcut", {"ICE50": ["XShortcut", "advertised", "Menu"]},
     lambda m: query(m, "UPDATE `Shortcut` SET `Target` = 'Complete' WHERE `Shortcut` = 'XShortcut'")),
    # Keyed on x.exe it starts that, so the icon must be named .exe too; the file key path is
    # no fault of an advertised shortcut's component.
    ("advertised shortcut of a file", {"ICE50": ["x.ico", "x.exe", "does not match"]},
     lambda m: query(m, "UPDATE `Shortcut` SET `Target` = 'Complete' WHERE `Shortcut` = 'XShortcut'",
                     "UPDATE `Component` SET `Attributes` = 0, `KeyPath` = 'XExe' WHERE `Component` = 'Menu'")),
    ("HKMU key path", {"ICE57": ["component Program", "either"]},
     lambda m: query(m, "UPDATE `Registry` SET `Root` = -1 WHERE `Registry` = 'ProgramKey'")),
    ("folder left behind", {"ICE64": ["Programs", "not listed in the RemoveFile table"]},
     lambda m: query(m, "DELETE FROM `RemoveFile` WHERE `FileKey` = 'RemovePrograms'")),
    ("folder emptied only", {"ICE64": ["Programs", "removes the folder itself"]},
     lambda m: query(m, "UPDATE `RemoveFile` SET `FileName` = '*.*' WHERE `FileKey` = 'RemovePrograms'")),
    ("per-machine install", {"ICE91": ["file XExe", "LocalAppDataFolder"]},
     lambda m: query(m, "INSERT INTO `Property` (`Property`, `Value`) VALUES ('ALLUSERS', '1')")),
    # A broken table is named, not a crash, and hides nothing it did not take away.
    ("broken directory chain", {"tables": ["Programs", "Nowhere"]},
     lambda m: query(m, "UPDATE `Directory` SET `Directory_Parent` = 'Nowhere' WHERE `Directory` = 'Programs'")),
]


@unittest.skipIf(any(shutil.which(t) is None for t in ("wixl", "msibuild", "msiinfo")),
                 "wixl, msibuild or msiinfo is missing: run scripts/deps")
class MsiRules(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="msi-rules-")
        with open(os.path.join(cls.tmp, "x.wxs"), "w") as f:
            f.write(GOOD_WXS)
        with open(os.path.join(cls.tmp, "x.exe"), "wb") as f:
            f.write(b"MZ")
        with open(os.path.join(cls.tmp, "x.ico"), "wb") as f:
            f.write(b"\0\0\1\0")
        cls.good = os.path.join(cls.tmp, "good.msi")
        run(["wixl", "-o", cls.good, os.path.join(cls.tmp, "x.wxs")], cwd=cls.tmp)
        # wixl 0.101 drops RemoveFolder's Directory and writes the component's folder instead.
        query(cls.good, "UPDATE `RemoveFile` SET `DirProperty` = 'Programs' WHERE `FileKey` = 'RemovePrograms'")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def checker(self, msi, cwd=None):
        return subprocess.run([sys.executable, CHECKER, msi], capture_output=True, text=True, cwd=cwd)

    def test_the_sound_package_passes(self):
        self.assertEqual(check_msi_rules.problems(self.good), [])
        # Run from a folder of its own, by a relative name: it reads, and leaves nothing there
        # (exporting the Icon table writes its streams out).
        here = tempfile.mkdtemp(prefix="cwd-", dir=self.tmp)
        shutil.copyfile(self.good, os.path.join(here, "good.msi"))
        r = self.checker("good.msi", cwd=here)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertIn("passes ICE38", r.stdout)
        self.assertEqual(os.listdir(here), ["good.msi"])

    def test_each_breakage_is_named_by_its_rule_alone(self):
        for case, expected, breakage in BREAKAGES:
            with self.subTest(case=case):
                copy = os.path.join(self.tmp, case.replace(" ", "-") + ".msi")
                shutil.copyfile(self.good, copy)
                breakage(copy)
                found = check_msi_rules.problems(copy)
                self.assertEqual(sorted(p.split(":", 1)[0] for p in found), sorted(expected), found)
                for line in found:
                    for w in expected[line.split(":", 1)[0]]:
                        self.assertIn(w, line)
        r = self.checker(os.path.join(self.tmp, "file-key-path.msi"))
        self.assertEqual(r.returncode, 1)
        self.assertTrue(r.stdout.startswith("ICE38: component Program"), r.stdout)

    def test_a_file_that_is_no_package_is_a_problem_not_a_crash(self):
        path = os.path.join(self.tmp, "not.msi")
        with open(path, "w") as f:
            f.write("Component\tDirectory_\n")
        found = check_msi_rules.problems(path)
        self.assertEqual(len(found), 1, found)
        self.assertTrue(found[0].startswith("tables:"), found)
        self.assertEqual(self.checker(path).returncode, 1)


if __name__ == "__main__":
    unittest.main()
