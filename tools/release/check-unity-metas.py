#!/usr/bin/python3
"""Checks the .meta files of an unpacked Unity package (called by
tools/release/check-unity.sh):
  tools/release/check-unity-metas.py PACKAGE_FOLDER
Every file and folder Unity imports has a .meta file with a GUID of 32
lower-case hex digits of its own, marked as a folder when it is one; hidden
assets (a name ending in "~" or starting with ".", and all below them) have
none. The two native plug-ins are enabled for the editor and the 64-bit
player of their own system only. Prints one line per fault; exits 1 on any."""

import os
import re
import sys

import yaml

# Each plug-in: its editor OS and its player; every other platform is off.
PLUGINS = {
    "Plugins/Windows/x86_64/corvex_tracking.dll": ("Windows", "Win64"),
    "Plugins/Linux/x86_64/libcorvex_tracking.so": ("Linux", "Linux64"),
}
# The platforms each plug-in's importer names explicitly, as category:name.
PLATFORMS = {":Any", "Any:", "Editor:Editor", "Standalone:Win", "Standalone:Win64",
             "Standalone:Linux64", "Standalone:OSXUniversal", "Android:Android",
             "iPhone:iOS", "tvOS:tvOS", "WebGL:WebGL"}
# Unity's own toggles for excluding a platform while "Any" is on.
EXCLUDES = {"Android", "Editor", "Linux64", "OSXUniversal", "WebGL", "Win", "Win64", "iOS", "tvOS"}

faults = []


def hidden(name):
    return name.endswith("~") or name.startswith(".")


def read_meta(path):
    with open(path, encoding="utf-8") as f:
        text = f.read()
    # Unity writes the "Any" platform's key as an empty plain scalar
    # ("      : Any"), which YAML readers reject: read it as "".
    text = re.sub(r"^(\s*): ", r"\1'': ", text, flags=re.MULTILINE)
    # BaseLoader keeps every scalar a string: a GUID of digits stays text.
    return yaml.load(text, Loader=yaml.BaseLoader)


def check_plugin(asset, meta, editor_os, player):
    importer = meta.get("PluginImporter")
    if not isinstance(importer, dict):
        faults.append(f"{asset}: no PluginImporter")
        return
    platforms = {}
    for entry in importer.get("platformData") or []:
        ((category, name),) = entry["first"].items()
        platforms[f"{category}:{name}"] = entry["second"]
    if set(platforms) != PLATFORMS:
        faults.append(f"{asset}: platforms {sorted(platforms)}, expected {sorted(PLATFORMS)}")
    enabled = {key for key, second in platforms.items() if second.get("enabled") != "0"}
    if enabled != {"Editor:Editor", f"Standalone:{player}"}:
        faults.append(f"{asset}: enabled for {sorted(enabled)}")
    editor = platforms.get("Editor:Editor", {}).get("settings") or {}
    if editor.get("OS") != editor_os or editor.get("CPU") != "x86_64":
        faults.append(f"{asset}: editor OS {editor.get('OS')}, CPU {editor.get('CPU')}")
    standalone = platforms.get(f"Standalone:{player}", {}).get("settings") or {}
    if standalone.get("CPU") != "x86_64":
        faults.append(f"{asset}: {player} CPU {standalone.get('CPU')}")
    excludes = (platforms.get(":Any", {}).get("settings")) or {}
    expected = {f"Exclude {p}": "0" if p in ("Editor", player) else "1" for p in EXCLUDES}
    if excludes != expected:
        faults.append(f"{asset}: the Any platform's excludes {excludes}")


def main(root):
    guids = {}
    for folder, dirs, files in os.walk(root):
        dirs[:] = [d for d in dirs if not hidden(d)]
        for name in sorted(dirs) + sorted(files):
            path = os.path.join(folder, name)
            asset = os.path.relpath(path, root)
            if name.endswith(".meta"):
                target = name[: -len(".meta")]
                if hidden(target) or not os.path.lexists(path[: -len(".meta")]):
                    faults.append(f"{asset}: a .meta file without an imported asset")
                continue
            if hidden(name):
                continue
            if not os.path.isfile(path + ".meta"):
                faults.append(f"{asset}: no .meta file")
                continue
            try:
                meta = read_meta(path + ".meta")
            except yaml.YAMLError as error:
                faults.append(f"{asset}.meta: not YAML: {error}")
                continue
            guid = meta.get("guid", "") if isinstance(meta, dict) else ""
            if not re.fullmatch(r"[0-9a-f]{32}", guid):
                faults.append(f"{asset}.meta: GUID {guid!r}")
            elif guid in guids:
                faults.append(f"{asset}.meta: GUID {guid} of {guids[guid]} too")
            else:
                guids[guid] = asset
            if (meta.get("folderAsset") == "yes") != os.path.isdir(path):
                faults.append(f"{asset}.meta: folderAsset does not match")
            if asset in PLUGINS:
                check_plugin(asset, meta, *PLUGINS[asset])
            elif "PluginImporter" in meta:
                faults.append(f"{asset}: a plug-in not known to the check")
    for asset in PLUGINS:
        if not os.path.isfile(os.path.join(root, asset)):
            faults.append(f"{asset}: missing")
    for fault in faults:
        print(f"  {fault}")
    print(f"  {len(guids)} .meta files read, {len(faults)} faults")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
