#!/usr/bin/env python3
"""Fails on an include that runs against the layers of src/.

Each part may include its own headers and those of the parts listed for it
here, which are the libraries its CMake target links; nothing else. A part is
a folder under src/ (the platform's backend folders belong to the platform).
Usage: check-layers.py [SRC_DIR]      check the tree (default: src/ beside this script)
       check-layers.py --self-test    plant an upward include in a copy and expect a refusal
"""
import os
import re
import shutil
import sys
import tempfile

# The parts, lowest first, each with the parts it builds on.
LAYERS = {
    "platform": [],
    "base": ["platform"],
    "data": ["base", "platform"],
    "text": ["data", "base", "platform"],
    "player/format": ["platform"],
    "player/mix": ["player/format", "platform"],
    "player/engine": ["player/mix", "player/format", "platform"],
    "player/output": ["player/mix", "player/format", "platform"],
    "player": ["player/engine", "player/output", "player/mix", "player/format", "platform"],
    "lib": ["player", "player/engine", "player/output", "player/mix", "player/format", "platform"],
    "scene": ["text", "data", "player", "player/output", "player/engine", "player/mix", "player/format",
              "base", "platform"],
    "app": ["scene", "text", "data", "player", "player/output", "player/engine", "player/mix",
            "player/format", "base", "platform"],
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def part_of(path):
    """The part a path under src/ belongs to: the longest layer name that is a prefix of its folder."""
    folder = os.path.dirname(path).replace(os.sep, "/")
    best = None
    for name in LAYERS:
        if folder == name or folder.startswith(name + "/"):
            if best is None or len(name) > len(best):
                best = name
    return best


def check(src):
    faults = []
    for root, _, files in os.walk(src):
        for name in sorted(files):
            if not name.endswith((".h", ".cpp", ".c")):
                continue
            path = os.path.join(root, name)
            rel = os.path.relpath(path, src)
            own = part_of(rel)
            if own is None:
                faults.append(f"{rel}: in no known part; add its folder to scripts/check-layers.py")
                continue
            with open(path, encoding="utf-8", errors="replace") as f:
                text = f.read()
            for included in INCLUDE.findall(text):
                if not os.path.exists(os.path.join(src, included)):
                    continue  # a neighbour file or a generated one, not a part's header
                target = part_of(included)
                if target != own and target not in LAYERS[own]:
                    faults.append(f"{rel}: includes {included}: {own} may not use {target}")
    return faults


def self_test(src):
    with tempfile.TemporaryDirectory() as scratch:
        copy = os.path.join(scratch, "src")
        shutil.copytree(src, copy)
        planted = os.path.join(copy, "player", "format", "stream.cpp")
        with open(planted, "a", encoding="utf-8") as f:
            f.write('#include "player/mix/mixer.h"\n')
        faults = check(copy)
    if not any("stream.cpp" in fault and "player/mix" in fault for fault in faults):
        print("check-layers: a planted upward include went unnoticed", file=sys.stderr)
        return 1
    print("check-layers: a planted upward include is refused")
    return 0


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    args = sys.argv[1:]
    if args and args[0] in ("-h", "--help"):
        print(__doc__.strip())
        return 0
    if args and args[0] == "--self-test":
        return self_test(args[1] if len(args) > 1 else os.path.join(here, "..", "src"))
    src = args[0] if args else os.path.join(here, "..", "src")
    faults = check(src)
    for fault in faults:
        print(f"check-layers: {fault}", file=sys.stderr)
    if faults:
        return 1
    print("check-layers: every include runs down the layers")
    return 0


if __name__ == "__main__":
    sys.exit(main())
