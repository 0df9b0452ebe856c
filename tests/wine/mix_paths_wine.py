#!/usr/bin/env python3
"""Runs tinsel-mixcheck of this (Linux) build and of the Windows build under
wine and checks that both print the same hash for every song and mixing path,
and that each found every path equal to its scalar reference.

Usage: mix_paths_wine.py --linux tinsel-mixcheck --exe tinsel-mixcheck.exe [--exe64 ...]
Exit code 77 means skipped (only when wine is not installed). As the demo's
wine tests do, the 32-bit exe runs where this machine runs 32-bit programs and
the 64-bit one under wine64 where it does not (TINSEL_WINE_ARCH forces either)."""
import argparse
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wine_smoke  # noqa: E402  (the same choice of 32- or 64-bit path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--linux", required=True)
    parser.add_argument("--exe", required=True)
    parser.add_argument("--exe64")
    args = parser.parse_args()
    linux = subprocess.run([args.linux], capture_output=True, text=True, timeout=300)
    print(linux.stdout, end="")
    if linux.returncode != 0:
        print("FAIL: the Linux build's paths differ or a song does not load")
        return 1
    code = wine_smoke.prepare(args, ())
    if code is not None:
        return code
    with tempfile.TemporaryDirectory() as root:
        # The same fresh prefix, architecture and loader as the demo's wine tests.
        env = dict(wine_smoke.wine_env(args.arch, root), DISPLAY="")
        try:
            windows = subprocess.run([args.loader, args.exe], capture_output=True, text=True, env=env, timeout=400)
        finally:
            subprocess.run(["wineserver", "-k"], env=env, timeout=60)
    out = windows.stdout.replace("\r\n", "\n")
    print("under wine:\n" + out, end="")
    if windows.returncode != 0:
        print("FAIL: the Windows build's paths differ (exit code %d)" % windows.returncode)
        return 1
    # Paths this processor lacks are named as such on both sides alike.
    if out != linux.stdout:
        print("FAIL: the Windows build renders other bytes than the Linux build")
        return 1
    print("PASS: the same bytes from every path on both builds")
    return 0


if __name__ == "__main__":
    sys.exit(main())
