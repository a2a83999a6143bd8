"""The installer's own pages under Wine's msiexec with its full user interface, in a prefix made
new for this file: a cancelled and a failed install, a first install whose finished page starts
the tool, an upgrade whose progress page is held by a running copy that is slow to end, and the
files-in-use pages, which Wine never opens, as previews."""
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import harness
from harness import ARTIFACTS, BUILD, ROOT, ToolTestCase, wait_for

OUT = os.path.join(BUILD, "installer-ui")
TITLE = "Padwarden Setup"
# msiexec's exit statuses as a Linux status keeps them: their low byte.
USER_EXIT, INSTALL_FAILURE = 1602 & 0xFF, 1603 & 0xFF


def build_package(version=None):
    argv = [sys.executable, os.path.join(ROOT, "scripts", "package"), "--build", BUILD, "--out", OUT]
    r = subprocess.run(argv + (["--version", version] if version else []), capture_output=True, text=True,
                       timeout=300)
    if r.returncode != 0:
        raise AssertionError(f"scripts/package failed: {r.stdout}{r.stderr}")
    return re.search(r"^(\S+\.msi) ", r.stdout, re.M).group(1)


class InstallerPages(ToolTestCase):
    prefix_name = "installer-ui"

    @classmethod
    def setUpClass(cls):
        cls.old_msi = build_package()
        version = re.search(r"Padwarden-([0-9.]+)\.msi$", cls.old_msi).group(1)
        a, b, c, _ = (int(p) for p in version.split("."))
        cls.new_msi = build_package(f"{a}.{b}.{c + 1}.0")
        # A fresh prefix: the first install must be a first one.
        prefix = os.path.join(BUILD, "e2e-prefix", cls.prefix_name)
        if os.path.isdir(prefix):
            env = dict(os.environ, WINEPREFIX=prefix)
            subprocess.run(["wineserver", "-k"], env=env, capture_output=True, timeout=30)
            subprocess.run(["wineserver", "-w"], env=env, capture_output=True, timeout=60)
            shutil.rmtree(prefix)
        super().setUpClass()

    def install_dir(self):
        return os.path.join(self.wine.prefix, "drive_c", "users", os.environ.get("USER", "root"), "AppData", "Local",
                            "Programs", "Padwarden")

    def controls(self, hwnd):
        """The children of a window as [{hwnd, visible, class, check, text}]."""
        rows = []
        for line in self.wine.probe("children", hwnd).splitlines():
            parts = line.split("\t", 4)
            if len(parts) == 5:
                rows.append({"hwnd": parts[0], "visible": parts[1] == "1", "class": parts[2].lower(),
                             "check": int(parts[3]), "text": parts[4]})
        return rows

    def page(self, *texts, timeout=60):
        """The visible setup window that shows every one of `texts`: (hwnd, its controls)."""
        def find():
            for window in self.wine.find(title=TITLE):
                controls = self.controls(window["hwnd"])
                shown = {c["text"] for c in controls if c["visible"]}
                if all(t in shown for t in texts):
                    return window["hwnd"], controls
            return None
        return wait_for(find, timeout, step=0.1, what=f"the page showing {texts}")

    def click(self, page, text):
        hwnd, controls = page
        found = [c for c in controls if c["text"] == text and c["visible"]]
        self.assertEqual(len(found), 1, f"one {text!r} in {controls}")
        self.wine.probe("click", found[0]["hwnd"], "-")

    def screenshot(self, page, name):
        """The page's client area, from the screen, as ARTIFACTS/installer-<name>.png."""
        x, y, w, h = self.wine.probe("rect", page[0], "-").split()
        shot = self.desk.screenshot(f"installer-{name}-screen")
        subprocess.run(["convert", shot, "-crop", f"{w}x{h}+{x}+{y}", "+repage",
                        os.path.join(ARTIFACTS, f"installer-{name}.png")], check=True, timeout=30)
        os.remove(shot)

    def msiexec(self, msi, log):
        proc = subprocess.Popen(["wine", "msiexec", "/i", msi, "/l*v", os.path.join(OUT, log)], env=self.wine.env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.wine.procs.append(proc)
        return proc

    def log_text(self, log):
        with open(os.path.join(OUT, log), "rb") as f:
            data = f.read()
        return data.decode("utf-16" if data[:2] == b"\xff\xfe" else "utf-8", "replace")

    def install_from_option_page(self, msi, log):
        proc = self.msiexec(msi, log)
        page = self.page("Install Padwarden", "&Install")
        return proc, page

    def test_cancelled_and_failed_pages(self):
        proc, options = self.install_from_option_page(self.old_msi, "cancel.log")
        self.click(options, "Cancel")
        cancelled = self.page("Setup was cancelled", "&Finish")
        time.sleep(0.3)
        self.screenshot(cancelled, "cancelled")
        self.click(cancelled, "&Finish")
        self.assertEqual(proc.wait(60), USER_EXIT)
        self.assertFalse(os.path.exists(self.install_dir()))

        # A real failure: a file where the install folder goes, so that no file can be written.
        os.makedirs(os.path.dirname(self.install_dir()), exist_ok=True)
        with open(self.install_dir(), "w") as f:
            f.write("in the way")
        try:
            proc, options = self.install_from_option_page(self.old_msi, "failed.log")
            self.click(options, "&Install")
            failed = self.page("Setup failed", "&Finish")
            time.sleep(0.3)
            self.screenshot(failed, "failed")
            self.assertNotIn("Padwarden is installed", [c["text"] for c in failed[1] if c["visible"]])
            self.click(failed, "&Finish")
            self.assertEqual(proc.wait(60), INSTALL_FAILURE, self.log_text("failed.log"))
        finally:
            os.remove(self.install_dir())

    def test_files_in_use_pages(self):
        """Wine opens neither page: the previews show their controls, and a click in a preview
        names the events the installer would get."""
        with tempfile.TemporaryFile() as events:
            preview = self.wine.start("msipreview.exe", self.old_msi, "MsiRMFilesInUse", stderr=events)
            page = self.page("Files in use", "OK", "Cancel", timeout=30)
            self.assertEqual([c["class"] for c in page[1] if c["class"] == "listbox"], ["listbox"])
            group = [c for c in page[1] if c["class"] == "button" and c["text"] == ""]
            self.assertEqual(len(group), 1, page[1])
            choices = {c["text"]: c for c in self.controls(group[0]["hwnd"])}
            self.assertEqual(set(choices), {"&Close the applications and try to restart them",
                                            "&Do not close them (a reboot may be needed)"})
            self.assertEqual(choices["&Close the applications and try to restart them"]["check"], 1)
            self.screenshot(page, "files-in-use")
            # OK with "close" asks the Restart Manager; with "do not close" it only ends the page.
            self.click(page, "OK")
            self.wine.probe("click", choices["&Do not close them (a reboot may be needed)"]["hwnd"], "-")
            time.sleep(0.5)
            self.click(page, "OK")
            self.click(page, "Cancel")
            time.sleep(1)
            preview.kill()
            preview.wait(15)
            events.seek(0)
            said = re.findall(r"Preview dialog event '(?:L\")?(\w+)\"?' \(arg='(?:L\")?(\w+)\"?'\)",
                              events.read().decode("utf-8", "replace"))
        self.assertEqual(said, [("RMShutdownAndRestart", "0"), ("EndDialog", "Return"), ("EndDialog", "Return"),
                                ("EndDialog", "Exit")])
        wait_for(lambda: not self.wine.find(title=TITLE), 15, what="the preview closed")

        preview = self.wine.start("msipreview.exe", self.old_msi, "FilesInUse")
        page = self.page("Files in use", "&Retry", "&Ignore", "Cancel", timeout=30)
        self.assertEqual(sorted(c["class"] for c in page[1] if c["class"] != "static"),
                         ["button", "button", "button", "listbox"])
        preview.kill()

    def test_pages_of_an_install_and_an_upgrade(self):
        proc, options = self.install_from_option_page(self.old_msi, "first.log")
        time.sleep(0.3)
        self.screenshot(options, "options")
        self.click(options, "&Install")
        finished = self.page("Padwarden is installed", "&Finish")
        box = [c for c in finished[1] if c["text"] == "Start Padwarden &now"]
        self.assertTrue(box and box[0]["visible"] and box[0]["check"] == 1, "offered and ticked on a first install")
        self.assertNotIn("Padwarden is removed", [c["text"] for c in finished[1] if c["visible"]])
        self.screenshot(finished, "finished")
        self.assertEqual(harness.linux_pids(self.wine.prefix, "padwarden.exe"), [], "nothing before Finish")
        self.click(finished, "&Finish")
        self.assertEqual(proc.wait(60), 0, self.log_text("first.log"))
        tool = wait_for(lambda: harness.linux_pids(self.wine.prefix, "padwarden.exe"), 30, what="the started tool")
        wait_for(self.tool_windows, 30, what="the started tool's window")
        self.assertEqual(len(tool), 1)

        # The running copy, stopped, cannot end through its Exit: the upgrade waits for it with
        # its progress page up.
        os.kill(tool[0], signal.SIGSTOP)
        try:
            proc, options = self.install_from_option_page(self.new_msi, "upgrade.log")
            self.click(options, "&Install")
            progress = self.page("Installing Padwarden", "Closing Padwarden", "Cancel", timeout=30)
            bar = [c for c in progress[1] if c["class"] == "msctls_progress32"]
            self.assertEqual(len(bar), 1)
            self.assertTrue(bar[0]["visible"])
            self.assertEqual(self.wine.probe("progress", bar[0]["hwnd"], "-").split()[1:3], ["0", "100"])
            self.screenshot(progress, "progress")
            # Cancel asks first; No goes on with the install.
            self.click(progress, "Cancel")
            question = self.page("&Yes", "&No", timeout=15)
            self.screenshot(question, "cancel-question")
            self.click(question, "&No")
            wait_for(lambda: not any(c["text"] == "&Yes" for w in self.wine.find(title=TITLE)
                                     for c in self.controls(w["hwnd"])), 15, what="the question closed")
        finally:
            os.kill(tool[0], signal.SIGCONT)
        finished = self.page("Padwarden is installed", "&Finish", timeout=60)
        box = [c for c in finished[1] if c["text"] == "Start Padwarden &now"]
        self.assertTrue(box and not box[0]["visible"], "not offered on an upgrade")
        self.click(finished, "&Finish")
        self.assertEqual(proc.wait(60), 0, self.log_text("upgrade.log"))
        # The box's action ran after the first install only: the upgrade restarts what ran itself.
        ran = lambda log: re.search(r"Action start [\d:]+: StartNow\.", self.log_text(log)) is not None
        self.assertEqual((ran("first.log"), ran("upgrade.log")), (True, False))
        wait_for(lambda: tool[0] not in harness.linux_pids(self.wine.prefix, "padwarden.exe"), 30,
                 what="the old copy ended")
        # The copy the upgrade ended is started again once, by the client, not the execute sequence.
        wait_for(lambda: harness.linux_pids(self.wine.prefix, "padwarden.exe"), 30, what="the restarted tool")
        self.assertEqual(len(re.findall(r"Action start [\d:]+: StartToolAfterSetup\.", self.log_text("upgrade.log"))), 1)
        self.assertRegex(self.log_text("upgrade.log"), r"Action ended [\d:]+: ExecuteAction\.[^\n]*\nAction start [\d:]+: StartToolAfterSetup\.")


if __name__ == "__main__":
    harness.main()
