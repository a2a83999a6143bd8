#!/usr/bin/env python3
"""Writes Padwarden's multi-file winget manifest for one MSI, and checks manifest files against
packaging/winget-schema.json and the rules that span the three files.

    python3 packaging/winget.py check FILE...   exits 1, naming each problem, when any is found
"""
import argparse
import functools
import json
import os
import re
import sys

import yaml

HERE = os.path.dirname(os.path.abspath(__file__))
SCHEMA = os.path.join(HERE, "winget-schema.json")

PACKAGE_ID = "Corvane.Padwarden"
MANIFEST_VERSION = "1.10.0"
LOCALE = "en-US"
PUBLISHER = "Corvane"
NAME = "Padwarden"
TYPES = ("version", "installer", "defaultLocale")

_VERSION = re.compile(r"^(0|[1-9][0-9]*)(\.(0|[1-9][0-9]*)){3}$")
_GUID = re.compile(r"^\{?([0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12})\}?$")
_SHA256 = re.compile(r"^[0-9A-Fa-f]{64}$")
_HTTPS = re.compile(r"^https://\S+$", re.I)


def _guid(value, what):
    m = _GUID.match(value or "")
    # A lone brace is a typo, not a second spelling.
    if not m or value.startswith("{") != value.endswith("}"):
        raise ValueError(f"winget: {what} {value!r} is not a GUID")
    return "{" + m.group(1).upper() + "}"


def _https(value, what):
    if not _HTTPS.match(value or ""):
        raise ValueError(f"winget: {what} {value!r} is not an https address")
    return value


def _dump(path, schema_name, doc):
    # Fixed key order, no timestamps, LF: the same input gives the same bytes on every build.
    header = f"# yaml-language-server: $schema=https://aka.ms/winget-manifest.{schema_name}.{MANIFEST_VERSION}.schema.json\n\n"
    body = yaml.safe_dump(doc, sort_keys=False, default_flow_style=False, allow_unicode=True, width=4096)
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.write(header + body)
    return path


def write_manifests(out_dir, version, product_code, upgrade_code, installer_sha256, installer_url,
                    release_notes_url=None):
    """Writes the version, installer and en-US files into out_dir and returns their paths in that
    order. Codes may come with or without braces and in either case; the hash in either case.
    Raises ValueError for a value the manifest could not honestly carry."""
    if not _VERSION.match(version or ""):
        raise ValueError(f"winget: version {version!r} is not A.B.C.D")
    product_code = _guid(product_code, "product code")
    upgrade_code = _guid(upgrade_code, "upgrade code")
    if not _SHA256.match(installer_sha256 or ""):
        raise ValueError(f"winget: installer sha256 {installer_sha256!r} is not 64 hex digits")
    installer_sha256 = installer_sha256.upper()
    _https(installer_url, "installer url")
    if release_notes_url is not None:
        _https(release_notes_url, "release notes url")

    head = {"PackageIdentifier": PACKAGE_ID, "PackageVersion": version}
    tail = {"ManifestVersion": MANIFEST_VERSION}
    version_doc = {**head, "DefaultLocale": LOCALE, "ManifestType": "version", **tail}
    installer_doc = {
        **head,
        "Installers": [{
            "Architecture": "x64",
            "InstallerType": "msi",
            "Scope": "user",
            "InstallerUrl": installer_url,
            "InstallerSha256": installer_sha256,
            "ProductCode": product_code,
            # winget matches the installed entry by these; Programs and Features shows the
            # MSI's ProductVersion, which carries the same four fields as the package version.
            "AppsAndFeaturesEntries": [{
                "DisplayName": NAME,
                "Publisher": PUBLISHER,
                "DisplayVersion": version,
                "ProductCode": product_code,
                "UpgradeCode": upgrade_code,
            }],
        }],
        "ManifestType": "installer",
        **tail,
    }
    locale_doc = {
        **head,
        "PackageLocale": LOCALE,
        "Publisher": PUBLISHER,
        "PackageName": NAME,
        "License": "MIT",
        "Copyright": "Copyright (c) 2026 The Padwarden authors",
        "ShortDescription": "Tray companion of the DUALSHOCK3 controller driver",
        "Moniker": "padwarden",
        "Tags": ["controller", "dualshock3", "gamepad", "sixaxis", "tray"],
    }
    if release_notes_url is not None:
        locale_doc["ReleaseNotesUrl"] = release_notes_url
    locale_doc.update({"ManifestType": "defaultLocale", **tail})

    os.makedirs(out_dir, exist_ok=True)
    return [
        _dump(os.path.join(out_dir, f"{PACKAGE_ID}.yaml"), "version", version_doc),
        _dump(os.path.join(out_dir, f"{PACKAGE_ID}.installer.yaml"), "installer", installer_doc),
        _dump(os.path.join(out_dir, f"{PACKAGE_ID}.locale.{LOCALE}.yaml"), "defaultLocale", locale_doc),
    ]


class _UniqueKeyLoader(yaml.SafeLoader):
    """PyYAML keeps the last of two equal keys; winget refuses the file, so we do too."""

    def construct_mapping(self, node, deep=False):
        seen = set()
        for key_node, _ in node.value:
            key = self.construct_object(key_node, deep=deep)
            try:
                repeated = key in seen
            except TypeError:
                continue  # an unhashable key: the base class reports it
            if repeated:
                raise yaml.constructor.ConstructorError(
                    None, None, f"duplicate field {key!r}", key_node.start_mark)
            seen.add(key)
        return super().construct_mapping(node, deep)


def _field(path):
    out = ""
    for part in path:
        out += f"[{part}]" if isinstance(part, int) else (f".{part}" if out else str(part))
    return out


@functools.lru_cache(maxsize=None)
def _validator():
    import jsonschema
    with open(SCHEMA, encoding="utf-8") as f:
        schema = json.load(f)
    jsonschema.Draft7Validator.check_schema(schema)
    return jsonschema.Draft7Validator(schema)


def check_manifests(paths):
    """Problems found in the given files, each naming the file and the field; [] when none."""
    validator = _validator()
    problems = []
    docs = {}  # ManifestType -> (name, document)
    for path in paths:
        name = os.path.basename(path)
        try:
            with open(path, encoding="utf-8") as f:
                doc = yaml.load(f, Loader=_UniqueKeyLoader)
        except (OSError, UnicodeDecodeError, yaml.YAMLError) as e:
            problems.append(f"{name}: cannot be read: {e}")
            continue
        if not isinstance(doc, dict):
            problems.append(f"{name}: is not a mapping of fields")
            continue
        errors = sorted(validator.iter_errors(doc), key=lambda e: (_field(e.absolute_path), e.message))
        for e in errors:
            field = _field(e.absolute_path)
            found = f", not {e.instance!r}" if e.validator in ("const", "enum") else ""
            problems.append(f"{name}: {field + ': ' if field else ''}{e.message}{found}")
        kind = doc.get("ManifestType")
        if kind in TYPES:
            if kind in docs:
                problems.append(f"ManifestType {kind!r} is the type of both {docs[kind][0]} and {name}")
            else:
                docs[kind] = (name, doc)

    for kind in TYPES:
        if kind not in docs:
            problems.append(f"no file has ManifestType {kind!r}")
    if not docs:
        return problems

    # The version file is the reference the others must agree with.
    ref_name, ref = docs.get("version") or next(iter(docs.values()))
    for kind, (name, doc) in docs.items():
        if name == ref_name:
            continue
        for key in ("PackageIdentifier", "PackageVersion", "ManifestVersion"):
            if doc.get(key) != ref.get(key):
                problems.append(f"{name}: {key} {doc.get(key)!r} differs from {ref.get(key)!r} in {ref_name}")
    if "version" in docs and "defaultLocale" in docs:
        vname, vdoc = docs["version"]
        lname, ldoc = docs["defaultLocale"]
        if vdoc.get("DefaultLocale") != ldoc.get("PackageLocale"):
            problems.append(f"{vname}: DefaultLocale {vdoc.get('DefaultLocale')!r} is not the PackageLocale "
                            f"{ldoc.get('PackageLocale')!r} of {lname}")
    if "installer" in docs:
        name, doc = docs["installer"]
        installers = doc.get("Installers")
        for i, inst in enumerate(installers if isinstance(installers, list) else []):
            entries = inst.get("AppsAndFeaturesEntries") if isinstance(inst, dict) else None
            for j, entry in enumerate(entries if isinstance(entries, list) else []):
                if not isinstance(entry, dict):
                    continue
                at = f"Installers[{i}].AppsAndFeaturesEntries[{j}]"
                # winget compares the installed DisplayVersion with PackageVersion to offer upgrades.
                if entry.get("DisplayVersion") != doc.get("PackageVersion"):
                    problems.append(f"{name}: {at}.DisplayVersion {entry.get('DisplayVersion')!r} is not the "
                                    f"PackageVersion {doc.get('PackageVersion')!r}")
                if entry.get("ProductCode") != inst.get("ProductCode"):
                    problems.append(f"{name}: {at}.ProductCode {entry.get('ProductCode')!r} is not the "
                                    f"installer's ProductCode {inst.get('ProductCode')!r}")
    return problems


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    check = sub.add_parser("check", help="check a manifest set")
    check.add_argument("files", nargs="+", metavar="FILE")
    args = parser.parse_args(argv)
    problems = check_manifests(args.files)
    for p in problems:
        print(f"winget: {p}", file=sys.stderr)
    if problems:
        return 1
    print(f"winget: {len(args.files)} manifest files pass")
    return 0


if __name__ == "__main__":
    sys.exit(main())
