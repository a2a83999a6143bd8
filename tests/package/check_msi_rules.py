#!/usr/bin/env python3
"""Checks a built MSI against the Windows Installer validation rules a per-user package trips
over: ICE38 and ICE43 (what is installed for one user, or gives one user a shortcut, is keyed on
an HKCU value), ICE50 (shortcut icons), ICE57 (no component mixes per-user and per-machine data),
ICE64 (every folder made in the profile is removed again) and ICE91 (files in per-user-only
folders, for a package that may also install per machine).

The tables are read with msiinfo (msitools), since wixl and msibuild run no validation.
Usage: check_msi_rules.py MSI. Prints one line per problem, each led by its rule (or "tables:"
for a table too broken to judge), and exits 1; exits 0 with one line when there is none.
problems(path) gives the same lines to a caller."""
import os
import subprocess
import sys
import tempfile

RULES = ("ICE38", "ICE43", "ICE50", "ICE57", "ICE64", "ICE91")

# Profile folders that do not follow ALLUSERS: their contents reach one user whatever the install.
PER_USER_ONLY = {
    "AppDataFolder", "FavoritesFolder", "NetHoodFolder", "PersonalFolder", "PrintHoodFolder",
    "RecentFolder", "SendToFolder", "MyPicturesFolder", "LocalAppDataFolder",
}
# Profile folders that move to the All Users profile in a per-machine install.
FOLLOWS_ALLUSERS = {
    "ProgramMenuFolder", "StartMenuFolder", "StartupFolder", "DesktopFolder", "TemplateFolder",
    "AdminToolsFolder",
}
PROFILE = PER_USER_ONLY | FOLLOWS_ALLUSERS
# The installer sets these from the system wherever the Directory table hangs them.
MACHINE_FOLDERS = {
    "ProgramFilesFolder", "ProgramFiles64Folder", "CommonFilesFolder", "CommonFiles64Folder",
    "CommonAppDataFolder", "SystemFolder", "System64Folder", "System16Folder", "WindowsFolder",
    "WindowsVolume", "TempFolder", "FontsFolder",
}
SYSTEM_FOLDERS = PROFILE | MACHINE_FOLDERS

REGISTRY_KEY_PATH = 0x4
ODBC_KEY_PATH = 0x20
HKCU, HKLM, HKU, HKCR, HKMU = 1, 2, 3, 0, -1
USER, MACHINE, EITHER = "per-user", "per-machine", "either"
# Where a broken Directory chain leads: nowhere any rule can judge.
BROKEN = "(broken)"


def run_msiinfo(args):
    try:
        # Exporting a table with a binary column writes its streams into TABLE/ under the
        # working folder: give it one of its own.
        with tempfile.TemporaryDirectory(prefix="msi-rules-") as scratch:
            r = subprocess.run(["msiinfo", *args], capture_output=True, text=True, errors="replace", cwd=scratch)
    except OSError as e:
        return None, f"msiinfo cannot run ({e}): install msitools (scripts/deps)"
    if r.returncode != 0:
        return None, (r.stderr.strip().splitlines() or ["no message"])[-1]
    return r.stdout, None


class Package:
    """The tables these rules read, as rows of column name -> text (None for an empty cell)."""

    def __init__(self, path):
        self.path = os.path.abspath(path)
        self.found = []
        self.tables = set()
        out, err = run_msiinfo(["tables", self.path])
        if out is None:
            self.found.append(f"tables: {path} cannot be read as an MSI: {err}")
            return
        self.tables = {line.strip() for line in out.splitlines() if line.strip()}

    def rows(self, table):
        if table not in self.tables:
            return []
        out, err = run_msiinfo(["export", self.path, table])
        if out is None:
            self.found.append(f"tables: the {table} table cannot be exported: {err}")
            return []
        lines = [line.rstrip("\r") for line in out.split("\n")]
        if len(lines) < 3:
            self.found.append(f"tables: the {table} table exports without its three header lines")
            return []
        columns = lines[0].split("\t")
        rows = []
        for number, line in enumerate(lines[3:], 4):
            if not line:
                continue
            cells = line.split("\t")
            if len(cells) != len(columns):
                self.found.append(f"tables: {table} line {number} has {len(cells)} fields, "
                                  f"{len(columns)} expected: {line[:80]!r}")
                continue
            rows.append({c: (v if v != "" else None) for c, v in zip(columns, cells)})
        return rows

    def keyed(self, table, key):
        out = {}
        for row in self.rows(table):
            if row.get(key) is not None:
                out[row[key]] = row
        return out

    def number(self, table, name, row, column, default=0):
        text = row.get(column)
        if text is None:
            return default
        try:
            return int(text)
        except ValueError:
            self.found.append(f"tables: {table} {name} has {column} {text!r}, not a number")
            return default


def long_name(text):
    """The long form of a name written "short|long" (and of a DefaultDir's target part)."""
    return (text or "").split(":", 1)[0].split("|")[-1]


def extension(name):
    base = long_name(name)
    return base.rsplit(".", 1)[1].lower() if "." in base else ""


class Folders:
    """Each directory's governing system folder, from the Directory table's parent links."""

    def __init__(self, pkg):
        self.rows = pkg.keyed("Directory", "Directory")
        self.found = pkg.found
        self.cache = {}
        for d in sorted(self.rows):
            self.home(d)

    def home(self, d):
        """The nearest system folder at or above `d`; None for a tree under TARGETDIR alone,
        BROKEN for a chain with a gap or a loop (reported once)."""
        if d in self.cache:
            return self.cache[d]
        path, seen, result = [], set(), None
        node = d
        while True:
            if node in self.cache:
                result = self.cache[node]
                break
            if node in SYSTEM_FOLDERS:
                result = node
                break
            if node in seen:
                self.found.append(f"tables: directory {node} is its own ancestor in the Directory table")
                result = BROKEN
                break
            seen.add(node)
            path.append(node)
            row = self.rows.get(node)
            if row is None:
                # A reference from another table to a missing row is named by that table's check.
                if node != d:
                    self.found.append(f"tables: directory {path[-2]} has the parent {node}, "
                                      "which the Directory table lacks")
                result = BROKEN
                break
            parent = row.get("Directory_Parent")
            if parent is None or parent == node:
                break
            node = parent
        for p in path:
            self.cache[p] = result
        self.cache[d] = result
        return result

    def known(self, d):
        return d in self.rows or d in SYSTEM_FOLDERS

    def scope(self, d):
        """Whose data lands in `d`: per-user, per-machine, or either, by ALLUSERS; None when
        the Directory table cannot tell."""
        home = self.home(d)
        if home is BROKEN:
            return None
        if home in PER_USER_ONLY:
            return USER
        if home in FOLLOWS_ALLUSERS:
            return EITHER
        return MACHINE


def root_scope(root):
    if root == HKCU:
        return USER
    # HKCR lands in HKCU\Software\Classes for a per-user install, like HKMU in HKCU.
    if root in (HKMU, HKCR):
        return EITHER
    return MACHINE


class Checker:
    def __init__(self, path):
        self.pkg = Package(path)
        pkg = self.pkg
        self.folders = Folders(pkg)
        self.components = pkg.keyed("Component", "Component")
        self.registry = pkg.keyed("Registry", "Registry")
        self.files = pkg.keyed("File", "File")
        self.features = set(pkg.keyed("Feature", "Feature"))
        self.icons = set(pkg.keyed("Icon", "Name"))
        self.shortcuts = pkg.rows("Shortcut")
        self.remove_files = pkg.rows("RemoveFile")
        self.ini_files = pkg.rows("IniFile")
        props = pkg.keyed("Property", "Property")
        self.allusers = (props.get("ALLUSERS") or {}).get("Value")
        self.found = []
        for name, comp in sorted(self.components.items()):
            if comp.get("Directory_") is None or not self.folders.known(comp["Directory_"]):
                self.found.append(f"tables: component {name} installs to {comp.get('Directory_')}, "
                                  "which the Directory table lacks")
        for s in self.shortcuts:
            if not self.folders.known(s.get("Directory_")):
                self.found.append(f"tables: shortcut {s.get('Shortcut')} is made in {s.get('Directory_')}, "
                                  "which the Directory table lacks")

    def attributes(self, name):
        return self.pkg.number("Component", name, self.components[name], "Attributes")

    def advertised(self, shortcut):
        return shortcut.get("Target") in self.features

    def hkcu_key_fault(self, name):
        """Why component `name` is not keyed on an HKCU value of its own, or None."""
        comp = self.components[name]
        key = comp.get("KeyPath")
        attrs = self.attributes(name)
        if not attrs & REGISTRY_KEY_PATH:
            if attrs & ODBC_KEY_PATH:
                return f"its KeyPath is the ODBC data source {key}, not a registry value under HKCU"
            if key is None:
                return "its KeyPath is its folder, not a registry value under HKCU"
            return f"its KeyPath is the file {key}, not a registry value under HKCU"
        if key is None:
            return "it is keyed on the registry but its KeyPath is NULL"
        reg = self.registry.get(key)
        if reg is None:
            return f"its KeyPath registry entry {key} does not exist in the Registry table"
        if reg.get("Component_") != name:
            return f"its KeyPath registry entry {key} belongs to component {reg.get('Component_')}"
        root = self.pkg.number("Registry", key, reg, "Root", default=None)
        if root not in (HKCU, HKMU):
            return f"its KeyPath registry entry {key} must fall under HKCU (Root is {reg.get('Root')})"
        return None

    def ice38(self):
        for name, comp in sorted(self.components.items()):
            home = self.folders.home(comp.get("Directory_"))
            if home not in PROFILE:
                continue
            fault = self.hkcu_key_fault(name)
            if fault:
                self.found.append(f"ICE38: component {name} installs to the user profile ({home}), and {fault}")

    def ice43(self):
        # Only a shortcut into the profile is at stake: another user's install skips a component
        # the installer already counts as present, and so never gets the shortcut.
        owners = {}
        for s in self.shortcuts:
            if self.advertised(s) or self.folders.home(s.get("Directory_")) not in PROFILE:
                continue
            owners.setdefault(s.get("Component_"), []).append(s.get("Shortcut"))
        for name in sorted(owners, key=str):
            shortcuts = ", ".join(sorted(map(str, owners[name])))
            if name not in self.components:
                self.found.append(f"tables: shortcut {shortcuts} belongs to component {name}, "
                                  "which the Component table lacks")
                continue
            fault = self.hkcu_key_fault(name)
            if fault:
                self.found.append(f"ICE43: component {name} has the non-advertised shortcut {shortcuts}, and {fault}")

    def key_file(self, name):
        comp = self.components.get(name)
        if comp is None or self.attributes(name) & (REGISTRY_KEY_PATH | ODBC_KEY_PATH):
            return None
        return self.files.get(comp.get("KeyPath"))

    def ice50(self):
        for s in self.shortcuts:
            icon, sid = s.get("Icon_"), s.get("Shortcut")
            if icon is None:
                continue
            if icon not in self.icons:
                self.found.append(f"ICE50: shortcut {sid} names the icon {icon}, which the Icon table lacks")
            ext = extension(icon)
            if ext not in ("exe", "ico"):
                self.found.append(f"ICE50: warning: the icon {icon} of shortcut {sid} has the extension "
                                  f"{ext or '(none)'}, not exe or ico: it will not show correctly")
            if not self.advertised(s):
                continue
            # An advertised shortcut starts its component's key file, whose extension the
            # icon's must match for the shell to give it the right menu.
            f = self.key_file(s.get("Component_"))
            if f is None:
                self.found.append(f"ICE50: shortcut {sid} is advertised, but its component "
                                  f"{s.get('Component_')} has no key file for it to start")
            elif extension(f.get("FileName")) != ext:
                self.found.append(f"ICE50: the extension of icon {icon} for the advertised shortcut {sid} "
                                  f"does not match that of {long_name(f.get('FileName'))}, the key file "
                                  f"of component {s.get('Component_')}")

    def ice57(self):
        data = {name: set() for name in self.components}
        for key, reg in self.registry.items():
            if reg.get("Component_") in data:
                root = self.pkg.number("Registry", key, reg, "Root", default=None)
                if root is not None:
                    data[reg["Component_"]].add(root_scope(root))
        for f in self.files.values():
            comp = self.components.get(f.get("Component_"))
            if comp is not None:
                data[f["Component_"]].add(self.folders.scope(comp.get("Directory_")))
        for s in self.shortcuts:
            if s.get("Component_") in data and not self.advertised(s):
                data[s["Component_"]].add(self.folders.scope(s.get("Directory_")))
        for name in sorted(self.components):
            kind = self.key_scope(name)
            if kind is None:
                continue
            has = (data[name] - {None}) | {kind}
            if kind == MACHINE and USER in has:
                self.found.append(f"ICE57: component {name} has both per-user and per-machine data "
                                  "with a per-machine KeyPath")
            elif kind == MACHINE and EITHER in has:
                self.found.append(f"ICE57: component {name} has data that can be either per-user or "
                                  "per-machine, and a per-machine KeyPath")
            elif kind == USER and MACHINE in has:
                self.found.append(f"ICE57: warning: component {name} has both per-user and per-machine "
                                  "data with a per-user KeyPath")
            elif kind == EITHER and USER in has:
                self.found.append(f"ICE57: component {name} has per-user data and a KeyPath that can be "
                                  "either per-user or per-machine")

    def key_scope(self, name):
        comp = self.components[name]
        attrs, key = self.attributes(name), comp.get("KeyPath")
        if attrs & REGISTRY_KEY_PATH:
            reg = self.registry.get(key)
            root = self.pkg.number("Registry", key, reg, "Root", default=None) if reg else None
            return None if root is None else root_scope(root)
        if attrs & ODBC_KEY_PATH:
            return None
        if key is None:
            return self.folders.scope(comp.get("Directory_"))
        f = self.files.get(key)
        owner = self.components.get(f.get("Component_")) if f else None
        return self.folders.scope(owner.get("Directory_")) if owner else None

    def ice64(self):
        removed, partly = set(), set()
        for r in self.remove_files:
            mode = self.pkg.number("RemoveFile", r.get("FileKey"), r, "InstallMode")
            if r.get("Component_") not in self.components:
                self.found.append(f"tables: RemoveFile row {r.get('FileKey')} belongs to component "
                                  f"{r.get('Component_')}, which the Component table lacks")
            if r.get("Component_") in self.components and r.get("FileName") is None and mode & 2:
                removed.add(r.get("DirProperty"))
            else:
                partly.add(r.get("DirProperty"))
        for d, row in sorted(self.folders.rows.items()):
            home = self.folders.home(d)
            if d in SYSTEM_FOLDERS or home not in PROFILE or long_name(row.get("DefaultDir")) in ("", "."):
                continue
            if d in removed:
                continue
            how = ("no RemoveFile row of a component removes the folder itself on uninstall" if d in partly
                   else "it is not listed in the RemoveFile table")
            self.found.append(f"ICE64: the directory {d} is in the user profile ({home}), but {how}")

    def ice91(self):
        # A per-user-only package may leave files there by design; the rule bites once the
        # package can be installed per machine, when they would still reach one user only.
        if not self.allusers:
            return
        items = []
        for fid, f in self.files.items():
            comp = self.components.get(f.get("Component_"))
            if comp is not None:
                items.append(("file", fid, comp.get("Directory_")))
        items += [("IniFile", i.get("IniFile"), i.get("DirProperty")) for i in self.ini_files if i.get("DirProperty")]
        items += [("shortcut", s.get("Shortcut"), s.get("Directory_")) for s in self.shortcuts]
        for kind, name, d in sorted(items, key=lambda i: tuple(map(str, i))):
            home = self.folders.home(d)
            if home in PER_USER_ONLY:
                self.found.append(f"ICE91: warning: the {kind} {name} will be installed to the per-user "
                                  f"directory {home}, which does not vary with ALLUSERS ({self.allusers}): "
                                  "a per-machine install still gives it to one user only")

    def run(self):
        if self.pkg.tables:
            self.ice38()
            self.ice43()
            self.ice50()
            self.ice57()
            self.ice64()
            self.ice91()
        # A malformed cell is read by several rules: name it once.
        return list(dict.fromkeys(self.pkg.found + self.found))


def problems(msi_path):
    """One line per rule broken by the package at `msi_path`, each led by the rule's name."""
    return Checker(msi_path).run()


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    path = sys.argv[1]
    if not os.path.isfile(path):
        print(f"tables: {path} is not a file")
        return 1
    found = problems(path)
    for p in found:
        print(p)
    if not found:
        print(f"{path}: passes {', '.join(RULES)}")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
