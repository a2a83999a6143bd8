"""The installer under Wine, in a prefix made new for this file: a silent install, the running
tool upgraded in place by a higher version, a downgrade refused, an uninstall that leaves only
the settings (and one that goes on beside a copy that will not end), and the log-on start turned
off from the command line. Both packages are built by scripts/package from the same
padwarden.exe."""
import glob
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import time
import unittest
import zipfile

import harness
from harness import ARTIFACTS, BUILD, ROOT, SETTINGS_KEY, ToolTestCase, wait_for

RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
TOOL_KEY = r"HKCU\Software\Corvane\Padwarden"
UNINSTALL_KEYS = (r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall",
                  r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall")
STARTUP_APPROVED_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\StartupApproved\Run"
OUT = os.path.join(BUILD, "package-e2e")


def project_version():
    with open(os.path.join(ROOT, "CMakeLists.txt")) as f:
        return re.search(r"project\(\s*Padwarden\s+VERSION\s+([0-9.]+)", f.read()).group(1)


def build_package(version, *extra, out=OUT, build=BUILD):
    r = subprocess.run([sys.executable, os.path.join(ROOT, "scripts", "package"), "--build", build, "--out", out,
                        "--version", version, *extra], capture_output=True, text=True, timeout=300)
    if r.returncode != 0:
        raise AssertionError(f"scripts/package --version {version} failed: {r.stdout}{r.stderr}")
    return os.path.join(out, f"Padwarden-{version}.msi"), r.stdout


def rebuilt_copy(folder):
    """A build folder whose padwarden.exe differs from BUILD's by one trailing byte: a rebuild of
    the same version, as far as the package can tell."""
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(BUILD, "padwarden.exe"), "rb") as f:
        image = f.read()
    with open(os.path.join(folder, "padwarden.exe"), "wb") as f:
        f.write(image + b"\0")
    shutil.copytree(os.path.join(BUILD, "icons"), os.path.join(folder, "icons"), dirs_exist_ok=True)
    return folder


def version_string(image, name):
    """The value of `name` in a version resource's string table (UTF-16, after the key and its
    padding), or None."""
    key = (name + "\0").encode("utf-16-le")
    block = image.find("VS_VERSION_INFO\0".encode("utf-16-le"))
    at = image.find(key, block) if block >= 0 else -1
    if at < 0:
        return None
    at += len(key)
    at += (4 - at % 4) % 4  # values start on a 32-bit boundary
    end = at
    while end + 1 < len(image) and image[end:end + 2] != b"\0\0":
        end += 2
    return image[at:end].decode("utf-16-le")


class Release(unittest.TestCase):
    """What the packages are as files: the same bytes from one commit, valid tables, checksums and
    a winget manifest that agree with them, and signatures by the certificate given."""

    def test_reproducible_valid_checksummed_and_signed(self):
        sys.path.insert(0, os.path.join(ROOT, "tests", "package"))
        sys.path.insert(0, os.path.join(ROOT, "packaging"))
        import check_msi_rules
        import winget
        version = project_version()
        homepage = ("--homepage", "https://packages.test/padwarden")
        outs = [os.path.join(OUT, f"release-{n}") for n in (1, 2)]
        for out in outs:
            shutil.rmtree(out, ignore_errors=True)
            build_package(version, *homepage, out=out)
        names = sorted(os.path.relpath(os.path.join(d, f), outs[0]) for d, _, fs in os.walk(outs[0]) for f in fs)
        self.assertEqual(len(names), 6, names)  # MSI, zip, SHA256SUMS, three manifests
        for name in names:
            with open(os.path.join(outs[0], name), "rb") as a, open(os.path.join(outs[1], name), "rb") as b:
                self.assertTrue(a.read() == b.read(), f"{name} differs between two builds of one commit")
        msi = os.path.join(outs[0], f"Padwarden-{version}.msi")
        self.assertEqual(check_msi_rules.problems(msi), [])
        sums = subprocess.run(["sha256sum", "--check", "SHA256SUMS"], cwd=outs[0], capture_output=True, text=True)
        self.assertEqual(sums.returncode, 0, sums.stdout + sums.stderr)
        manifests = sorted(glob.glob(os.path.join(outs[0], "winget", "*.yaml")))
        self.assertEqual(winget.check_manifests(manifests), [])
        with open(os.path.join(outs[0], "winget", "Corvane.Padwarden.installer.yaml")) as f:
            installer = f.read()
        with open(os.path.join(outs[0], "SHA256SUMS")) as f:
            self.assertIn(f"InstallerSha256: {f.read().split()[0].upper()}", installer)
        self.assertIn(f"DisplayVersion: {version}", installer)

        # Signed with a throw-away certificate: the program in both packages and the MSI itself.
        keys = os.path.join(OUT, "release-keys")
        shutil.rmtree(keys, ignore_errors=True)
        os.makedirs(keys)
        with open(os.path.join(keys, "password"), "w") as f:
            f.write("throw-away")
        for argv in (["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "key.pem", "-out",
                      "cert.pem", "-days", "2", "-subj", "/CN=Padwarden test signing"],
                     ["openssl", "pkcs12", "-export", "-inkey", "key.pem", "-in", "cert.pem", "-out", "cert.pfx",
                      "-passout", "file:password"]):
            subprocess.run(argv, cwd=keys, check=True, capture_output=True, timeout=60)
        signed = os.path.join(OUT, "release-signed")
        shutil.rmtree(signed, ignore_errors=True)
        build_package(version, "--sign", os.path.join(keys, "cert.pfx"), "--password-file",
                      os.path.join(keys, "password"), out=signed)
        extracted = os.path.join(signed, "extracted")
        subprocess.run(["msiextract", "-C", extracted, os.path.join(signed, f"Padwarden-{version}.msi")], check=True,
                       capture_output=True, timeout=60)
        with zipfile.ZipFile(os.path.join(signed, f"Padwarden-{version}-portable.zip")) as z:
            z.extract("Padwarden/padwarden.exe", os.path.join(signed, "unzipped"))
        for path in [os.path.join(signed, f"Padwarden-{version}.msi"),
                     os.path.join(signed, "unzipped", "Padwarden", "padwarden.exe")] + \
                glob.glob(os.path.join(extracted, "**", "padwarden.exe"), recursive=True):
            r = subprocess.run(["osslsigncode", "verify", "-in", path, "-CAfile", os.path.join(keys, "cert.pem")],
                               capture_output=True, text=True, timeout=60)
            self.assertEqual(r.returncode, 0, f"{path}: {r.stdout}{r.stderr}")
            self.assertIn("Subject: /CN=Padwarden test signing", r.stdout, path)
        self.assertEqual(len(glob.glob(os.path.join(extracted, "**", "padwarden.exe"), recursive=True)), 1)
        # The check sees a change made after signing.
        changed = os.path.join(signed, "changed.msi")
        shutil.copyfile(os.path.join(signed, f"Padwarden-{version}.msi"), changed)
        subprocess.run(["msibuild", changed, "-q", "UPDATE `Property` SET `Value` = '0' WHERE `Property` = 'ARPNOMODIFY'"],
                       check=True, capture_output=True, timeout=60)
        r = subprocess.run(["osslsigncode", "verify", "-in", changed, "-CAfile", os.path.join(keys, "cert.pem")],
                           capture_output=True, text=True, timeout=60)
        self.assertNotEqual(r.returncode, 0, r.stdout)


class Package(ToolTestCase):
    prefix_name = "package"

    @classmethod
    def setUpClass(cls):
        old = project_version()
        a, b, c, _ = (int(p) for p in old.split("."))
        new = f"{a}.{b}.{c + 1}.0"
        between = f"{a}.{b}.{c}.{int(old.split('.')[3]) + 1}"
        cls.old_msi, cls.old_out = build_package(old)
        cls.between_msi, cls.between_out = build_package(between)
        cls.new_msi, cls.new_out = build_package(new)
        # A fresh prefix: nothing of an earlier run's installs may count.
        prefix = os.path.join(BUILD, "e2e-prefix", cls.prefix_name)
        env = dict(os.environ, WINEPREFIX=prefix)
        if os.path.isdir(prefix):
            subprocess.run(["wineserver", "-k"], env=env, capture_output=True, timeout=30)
            subprocess.run(["wineserver", "-w"], env=env, capture_output=True, timeout=60)
            shutil.rmtree(prefix)
        super().setUpClass()

    # What the installer left in the prefix.

    def users_dir(self):
        return os.path.join(self.wine.prefix, "drive_c", "users", os.environ.get("USER", "root"))

    def install_dir(self):
        return os.path.join(self.users_dir(), "AppData", "Local", "Programs", "Padwarden")

    def shortcut(self):
        return os.path.join(self.users_dir(), "AppData", "Roaming", "Microsoft", "Windows", "Start Menu", "Programs",
                            "Padwarden.lnk")

    def reg_values(self, key):
        """{name: (type, data)} with data whole (it may hold blanks), or None without the key."""
        r = self.wine.run(["wine", "reg", "query", key])
        if r.returncode != 0:
            return None
        values = {}
        for line in r.stdout.decode("utf-8", "replace").replace("\r", "").splitlines():
            m = re.match(r"\s+(\S+)\s+(REG_\w+)\s*(.*)$", line)
            if m:
                values[m.group(1)] = (m.group(2), m.group(3))
        return values

    def product_entries(self):
        """(key, DisplayVersion) of every uninstall entry named Padwarden, in both hives."""
        entries = []
        for root in UNINSTALL_KEYS:
            r = self.wine.run(["wine", "reg", "query", root])
            if r.returncode != 0:
                continue
            for sub in r.stdout.decode("utf-8", "replace").replace("\r", "").splitlines():
                if not re.match(r"HKEY_\S+\\Uninstall\\.", sub.strip(), re.I):
                    continue
                values = self.reg_values(sub.strip()) or {}
                if values.get("DisplayName", ("", ""))[1] == "Padwarden":
                    entries.append((sub.strip(), values.get("DisplayVersion", ("", ""))[1]))
        return entries

    def msiexec(self, *args, log=None):
        argv = ["wine", "msiexec", *args]
        if log:
            argv += ["/l*v", os.path.join(OUT, log)]
        return self.wine.run(argv, timeout=240).returncode

    def log_text(self, log):
        with open(os.path.join(OUT, log), "rb") as f:
            data = f.read()
        return data.decode("utf-16" if data[:2] == b"\xff\xfe" else "utf-8", "replace")

    def tool_pids(self):
        return harness.linux_pids(self.wine.prefix, "padwarden.exe")

    def start_installed(self):
        # Started the way the Start menu starts it: the installed copy, from its own folder.
        proc = subprocess.Popen(["wine", os.path.join(self.install_dir(), "padwarden.exe")], env=self.wine.env,
                                cwd=self.install_dir(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.wine.procs.append(proc)
        wait_for(self.tool_windows, 60, what="the installed tool's hidden window")
        return proc

    def assert_installed(self, version_text, run_value):
        for name in ("padwarden.exe", "README.txt"):
            self.assertTrue(os.path.isfile(os.path.join(self.install_dir(), name)), name)
        with open(self.shortcut(), "rb") as f:
            lnk = f.read()
        self.assertEqual(lnk[:4], b"L\0\0\0", "a shell link")
        self.assertTrue(b"padwarden.exe" in lnk.lower() or "padwarden.exe".encode("utf-16-le") in lnk.lower(),
                        "the shortcut points at padwarden.exe")
        run = (self.reg_values(RUN_KEY) or {}).get("Padwarden")
        if run_value:
            self.assertEqual(run, ("REG_SZ", '"C:\\users\\%s\\AppData\\Local\\Programs\\Padwarden\\padwarden.exe"'
                                   % os.environ.get("USER", "root")), "quoted path, no arguments")
        else:
            self.assertIsNone(run)
        entries = self.product_entries()
        self.assertEqual([v for _, v in entries], [version_text], f"one entry in Programs and Features: {entries}")

    def assert_removed(self):
        self.assertFalse(os.path.exists(os.path.join(self.install_dir(), "padwarden.exe")))
        self.assertFalse(os.path.exists(self.install_dir()), "the install folder goes with its files")
        self.assertFalse(os.path.exists(self.shortcut()))
        self.assertNotIn("Padwarden", self.reg_values(RUN_KEY) or {})
        self.assertEqual(self.product_entries(), [])

    def controls(self, hwnd):
        """The children of a window as [{hwnd, visible, class, check, text}]."""
        rows = []
        for line in self.wine.probe("children", hwnd).splitlines():
            parts = line.split("\t", 4)
            if len(parts) == 5:
                rows.append({"hwnd": parts[0], "visible": parts[1] == "1", "class": parts[2],
                             "check": int(parts[3]), "text": parts[4]})
        return rows

    def control(self, hwnd, text):
        found = [c for c in self.controls(hwnd) if c["text"] == text]
        self.assertEqual(len(found), 1, f"one control {text!r} in {self.controls(hwnd)}")
        return found[0]

    def open_option_page(self, msi, log):
        """msiexec with its full user interface, up to the option page: (process, page)."""
        proc = subprocess.Popen(["wine", "msiexec", "/i", msi, "/l*v", os.path.join(OUT, log)], env=self.wine.env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.wine.procs.append(proc)
        page = wait_for(lambda: self.wine.find(title="Padwarden Setup"), 60, what="the option page")[0]
        return proc, page

    def finish_page(self, heading, untick=None):
        """Waits for the closing page that shows `heading` and presses its Finish, with the box
        `untick` unticked first (the pages themselves are the installer-ui tier's)."""
        def find():
            for window in self.wine.find(title="Padwarden Setup"):
                texts = [c["text"] for c in self.controls(window["hwnd"]) if c["visible"]]
                if heading in texts and "&Finish" in texts:
                    return window
            return None
        page = wait_for(find, 60, what=f"the page {heading!r}")
        if untick:
            box = self.control(page["hwnd"], untick)
            self.wine.probe("click", box["hwnd"], "-")
            wait_for(lambda: self.wine.probe("check", box["hwnd"], "-").strip() == "0", 10, what="the unticked box")
        self.wine.probe("click", self.control(page["hwnd"], "&Finish")["hwnd"], "-")

    def screenshot_of(self, title, name):
        """The window's own pixels: its X window, without the frame a window manager would draw."""
        wid = wait_for(lambda: self.desk.xdo("search", "--name", f"^{title}$").stdout.decode().split(), 10,
                       what=f"the X window of {title}")[0]
        geometry = self.desk.xdo("getwindowgeometry", wid).stdout.decode()
        x, y = re.search(r"Position: (\d+),(\d+)", geometry).groups()
        w, h = re.search(r"Geometry: (\d+)x(\d+)", geometry).groups()
        shot = self.desk.screenshot(name + "-screen")
        subprocess.run(["convert", shot, "-crop", f"{w}x{h}+{x}+{y}", "+repage", os.path.join(ARTIFACTS, name + ".png")],
                       check=True, timeout=30)

    def remove_beside_a_stopped_copy(self):
        """A running copy that will not end: -exit gives up after its 10 s, and so does the
        removal's, which then goes on."""
        self.start_installed()
        pid = harness.linux_pid(self.wine.prefix, "padwarden.exe")
        os.kill(pid, signal.SIGSTOP)
        try:
            started = time.monotonic()
            code = self.wine.run(["wine", os.path.join(self.install_dir(), "padwarden.exe"), "-exit"],
                                 timeout=120).returncode
            took = time.monotonic() - started
            sys.stderr.write(f"\n-exit beside a stopped copy returned {code} after {took:.1f} s\n")
            self.assertEqual(code, 0)
            # At least the bound: it did find the copy and wait for it.
            self.assertTrue(10 <= took < 30, f"-exit took {took:.1f} s")
            started = time.monotonic()
            self.assertEqual(self.msiexec("/x", self.new_msi, "/qn", log="stopped.log"), 0,
                             self.log_text("stopped.log"))
            took = time.monotonic() - started
            sys.stderr.write(f"the removal beside it took {took:.1f} s\n")
            self.assertLess(took, 60, "the removal waits for the copy only as long as -exit does")
            # All but the program in use goes. Windows leaves that to the next restart and says so
            # (3010); Wine's msi leaves it silently.
            self.assertFalse(os.path.exists(os.path.join(self.install_dir(), "README.txt")))
        finally:
            os.kill(pid, signal.SIGCONT)
        # Let go, it reads the Exit it was asked for.
        wait_for(lambda: self.tool_pids() == [], 30, what="the stopped copy ended once let go")
        shutil.rmtree(self.install_dir())  # what the restart would remove

    def test_the_project_version_is_in_both_programs_and_the_package(self):
        """The version is set once, in CMakeLists.txt: it must reach both programs' version resources,
        their manifests and the package, all four fields as the version dialog shows them."""
        version = project_version()
        numbers = [int(p) for p in version.split(".")]
        for exe in ("padwarden.exe", "padwarden-sim.exe"):
            with open(os.path.join(BUILD, exe), "rb") as f:
                image = f.read()
            fixed = image.find(struct.pack("<I", 0xFEEF04BD))
            self.assertGreater(fixed, 0, f"{exe} has a version resource")
            file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<4I", image, fixed + 8)
            for ms, ls in ((file_ms, file_ls), (product_ms, product_ls)):
                self.assertEqual([ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF], numbers, exe)
            for name, want in (("FileVersion", version), ("ProductVersion", version), ("ProductName", "Padwarden"),
                               ("CompanyName", "Corvane")):
                self.assertEqual(version_string(image, name), want, f"{exe} {name}")
            self.assertIn(f'name="Padwarden" version="{version}"'.encode(), image, f"{exe} manifest")
        exported = subprocess.run(["msiinfo", "export", self.old_msi, "Property"], capture_output=True, text=True,
                                  timeout=60, check=True).stdout
        self.assertIn(f"ProductVersion\t{version}\n", exported.replace("\r", ""))

    def test_install_upgrade_downgrade_uninstall(self):
        old_version = re.search(r"package version (\S+)", self.old_out).group(1)
        new_version = re.search(r"package version (\S+)", self.new_out).group(1)
        self.assertEqual(self.msiexec("/i", self.old_msi, "/qn", log="install.log"), 0, self.log_text("install.log"))
        self.assert_installed(old_version, run_value=True)
        # Nothing ran before this install: nothing is started after it.
        time.sleep(2)
        self.assertEqual(self.tool_pids(), [])

        # A poll interval the tool clamps when it loads it and writes back only through its Exit.
        self.wine.reg_add("ThreadInterval", "REG_DWORD", 5000)
        self.start_installed()
        pictures = harness.tray_icon_pictures()
        wait_for(lambda: harness.identify_tray_icon(self.desk, pictures) == 201, 30, what="the tray icon")
        self.desk.screenshot("package-installed-tool")
        before = self.tool_pids()
        self.assertEqual(len(before), 1)

        # The upgrade ends the running copy through Exit, replaces it and starts it again.
        self.assertEqual(self.msiexec("/i", self.new_msi, "/qn", log="upgrade.log"), 0, self.log_text("upgrade.log"))
        self.assert_installed(new_version, run_value=True)
        after = wait_for(lambda: [p for p in self.tool_pids() if p not in before], 30, what="the restarted tool")
        self.assertTrue(all(p not in self.tool_pids() for p in before), "the old copy has ended")
        self.assertEqual(len(after), 1)
        wait_for(self.tool_windows, 30, what="the restarted tool's window")
        settings = self.reg_values(SETTINGS_KEY)
        self.assertEqual(len(settings), 20, "Exit wrote every setting")
        self.assertEqual(settings["ThreadInterval"], ("REG_DWORD", "0x3e8"), "clamped and saved by Exit")
        self.assertNotIn("RestartAfterSetup", self.reg_values(TOOL_KEY) or {}, "the restart note is used up")

        # The older package is refused and changes nothing, the running tool included.
        self.assertNotEqual(self.msiexec("/i", self.old_msi, "/qn", log="downgrade.log"), 0)
        self.assertIn("LaunchConditions. Return value 0", self.log_text("downgrade.log"))
        # With its user interface the refusal says why.
        ui = subprocess.Popen(["wine", "msiexec", "/i", self.old_msi], env=self.wine.env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
        box = wait_for(lambda: self.wine.find(cls="#32770"), 60, what="the downgrade message")[0]
        self.assertIn("A newer version of Padwarden is already installed",
                      self.wine.probe("text", box["hwnd"], 65535))
        self.desk.screenshot("package-downgrade-refused")
        self.wine.probe("click", box["hwnd"], 1)
        self.finish_page("Setup failed")
        self.assertNotEqual(ui.wait(60), 0)
        # Windows shows it in the package's own error dialog instead, which Wine never opens: its
        # preview, a text and the seven buttons Windows picks from.
        preview = self.wine.start("msipreview.exe", self.old_msi, "ErrorDlg")
        dialog = wait_for(lambda: self.wine.find(title="Padwarden Setup"), 30, what="the error dialog")[0]
        controls = self.controls(dialog["hwnd"])
        self.assertEqual(sorted(c["text"] for c in controls if c["class"].lower() == "button"),
                         ["Abort", "Cancel", "Ignore", "No", "OK", "Retry", "Yes"])
        self.assertEqual([c["class"].lower() for c in controls if c["class"].lower() != "button"], ["static"])
        self.screenshot_of("Padwarden Setup", "installer-error-dialog")
        preview.kill()
        wait_for(lambda: not self.wine.find(title="Padwarden Setup"), 15, what="the preview closed")
        self.assert_installed(new_version, run_value=True)
        self.assertEqual(self.tool_pids(), after)

        # Uninstall ends the tool and leaves nothing but its settings. Task Manager's entry beside
        # the Run value goes too. (That an upgrade keeps it Wine cannot show: the old version's
        # removal inside an upgrade runs there without UPGRADINGPRODUCTCODE, as a plain removal.)
        self.wine.run(["wine", "reg", "add", STARTUP_APPROVED_KEY, "/v", "Padwarden", "/t", "REG_BINARY", "/d",
                       "030000000000000000000000", "/f"], check=True)
        self.wine.reg_add("ThreadInterval", "REG_DWORD", 300)  # Exit writes the loaded 1000 back over it
        self.assertEqual(self.msiexec("/x", self.new_msi, "/qn", log="uninstall.log"), 0,
                         self.log_text("uninstall.log"))
        wait_for(lambda: self.tool_pids() == [], 15, what="the tool ended by the uninstall")
        self.assert_removed()
        self.assertNotIn("Padwarden", self.reg_values(STARTUP_APPROVED_KEY) or {}, "Task Manager's entry goes too")
        settings = self.reg_values(SETTINGS_KEY)
        self.assertEqual(len(settings), 20, "the settings stay")
        self.assertEqual(settings["ThreadInterval"], ("REG_DWORD", "0x3e8"), "saved by Exit before the removal")
        self.assertEqual(set(self.reg_values(TOOL_KEY) or {}), set(), "no note left beside the settings")
        self.assertIsNone(self.reg_values(TOOL_KEY + r"\Installer"), "the components' own key goes")
        time.sleep(2)
        self.assertEqual(self.tool_pids(), [], "an uninstall starts nothing")

        # STARTATLOGON=0 leaves the log-on start out, and nothing else: silent, and with the reduced
        # user interface, whose sequence runs without the option page.
        for ui in ("/qn", "/qr"):
            log = f"nologon{ui[1:]}.log"
            self.assertEqual(self.msiexec("/i", self.new_msi, ui, "STARTATLOGON=0", log=log), 0, self.log_text(log))
            self.assert_installed(new_version, run_value=False)
            if ui == "/qn":
                self.remove_beside_a_stopped_copy()
            else:
                self.assertEqual(self.msiexec("/x", self.new_msi, "/qn"), 0)
            self.assert_removed()

        # For all users it installs nothing, and says why.
        self.assertNotEqual(self.msiexec("/i", self.new_msi, "/qn", "ALLUSERS=1", log="allusers.log"), 0)
        # Wine logs a refused launch condition without its text: the text is the table's.
        self.assertIn("LaunchConditions. Return value 0", self.log_text("allusers.log"))
        conditions = subprocess.run(["msiinfo", "export", self.new_msi, "LaunchCondition"], capture_output=True,
                                    text=True, timeout=60, check=True).stdout
        self.assertIn("Padwarden installs for one user only", conditions)
        self.assert_removed()

    def test_logon_choice_on_the_option_page_and_kept_by_upgrades(self):
        versions = [re.search(r"package version (\S+)", out).group(1)
                    for out in (self.old_out, self.between_out, self.new_out)]
        # A first install with its user interface: the box is ticked; unticked, Install installs
        # without the log-on start.
        proc, page = self.open_option_page(self.old_msi, "options.log")
        self.assertIn("Install Padwarden", [c["text"] for c in self.controls(page["hwnd"])])
        box = self.control(page["hwnd"], "&Start Padwarden when I log on")
        self.assertEqual(box["check"], 1, "ticked by default")
        time.sleep(0.5)
        self.screenshot_of("Padwarden Setup", "installer-options")
        self.wine.probe("click", box["hwnd"], "-")
        wait_for(lambda: self.wine.probe("check", box["hwnd"], "-").strip() == "0", 10, what="the unticked box")
        self.wine.probe("click", self.control(page["hwnd"], "&Install")["hwnd"], "-")
        self.finish_page("Padwarden is installed", untick="Start Padwarden &now")
        self.assertEqual(proc.wait(120), 0, self.log_text("options.log"))
        self.assert_installed(versions[0], run_value=False)

        # A silent upgrade keeps the choice ...
        self.assertEqual(self.msiexec("/i", self.between_msi, "/qn", log="kept.log"), 0, self.log_text("kept.log"))
        self.assert_installed(versions[1], run_value=False)
        # ... and the option page of the next one shows it; Cancel changes nothing.
        proc, page = self.open_option_page(self.new_msi, "cancelled.log")
        self.assertEqual(self.control(page["hwnd"], "&Start Padwarden when I log on")["check"], 0, "the kept choice")
        self.wine.probe("click", self.control(page["hwnd"], "Cancel")["hwnd"], "-")
        self.finish_page("Setup was cancelled")
        # 1602, ended by the user; a Linux exit status keeps its low byte.
        self.assertEqual(proc.wait(60), 1602 & 0xFF)
        self.assert_installed(versions[1], run_value=False)

        # The property on the command line still decides.
        self.assertEqual(self.msiexec("/i", self.new_msi, "/qn", "STARTATLOGON=1", log="turned-on.log"), 0,
                         self.log_text("turned-on.log"))
        self.assert_installed(versions[2], run_value=True)
        self.assertEqual(self.msiexec("/x", self.new_msi, "/qn"), 0)
        self.assert_removed()


    def test_upgrades_by_a_rebuild_and_one_that_fails(self):
        old_version = re.search(r"package version (\S+)", self.old_out).group(1)
        self.assertEqual(self.msiexec("/i", self.old_msi, "/qn", log="before-rebuild.log"), 0,
                         self.log_text("before-rebuild.log"))
        with open(os.path.join(self.install_dir(), "padwarden.exe"), "rb") as f:
            installed = f.read()
        # A rebuild of the installed version replaces it in place; the same file again repairs.
        rebuilt, out = build_package(project_version(), out=os.path.join(OUT, "rebuilt"),
                                     build=rebuilt_copy(os.path.join(OUT, "rebuilt-build")))
        self.assertNotIn(re.search(r"product code (\S+)", out).group(1), self.old_out, "a product code per build")
        for log in ("rebuilt.log", "repaired.log"):
            self.assertEqual(self.msiexec("/i", rebuilt, "/qn", log=log), 0, self.log_text(log))
            self.assert_installed(old_version, run_value=True)
            with open(os.path.join(self.install_dir(), "padwarden.exe"), "rb") as f:
                self.assertEqual(f.read(), installed + b"\0", "the rebuilt program")
        self.assertIn("Found application: {", self.log_text("rebuilt.log"), "the first build is upgraded")
        self.assertNotIn("Found application: {", self.log_text("repaired.log"), "a repair, not an upgrade")

        # An upgrade that fails once its files are in reports it, and starts the tool it ended
        # again. Windows rolls the old version back; Wine's msi keeps no rollback of files and
        # leaves the new program without its product entry, so that is not asserted here.
        self.start_installed()
        before = self.tool_pids()
        failing, _ = build_package(re.search(r"package version (\S+)", self.new_out).group(1), "--fail-after-files",
                                   out=os.path.join(OUT, "failing"))
        self.assertEqual(self.msiexec("/i", failing, "/qn", log="failed-upgrade.log"), 1603 & 0xFF)
        self.assertRegex(self.log_text("failed-upgrade.log"), r"StartToolAfterFailure\. Return value 1")
        wait_for(lambda: [p for p in self.tool_pids() if p not in before], 30, what="the tool started again")
        # What Wine left goes, for the tests after this one.
        for pid in self.tool_pids():
            os.kill(pid, signal.SIGKILL)
        wait_for(lambda: self.tool_pids() == [], 30, what="the tool ended")
        self.wine.run(["wine", "reg", "delete", RUN_KEY, "/v", "Padwarden", "/f"])
        shutil.rmtree(self.install_dir(), ignore_errors=True)


if __name__ == "__main__":
    harness.main()
