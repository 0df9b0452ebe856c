#!/usr/bin/env python3
"""tinsel-render as users run it: whole process, default options and -q.

For each song (the embedded one, the test songs in fuzz/corpus/player that play
longest, and any given), renders --seconds of it (looping) to a WAV file, once
with the closing summary (loudness and true peak) and once with -q, and prints
seconds of audio per CPU second for each (the lower quartile of --runs renders,
user + system of the process: a shared machine only slows renders down) and
what the summary costs as a share of the -q render.

usage: bench/render/as_users_run_it.py path/to/tinsel-render [--runs 7] [--seconds 60] [SONG.xm...]
"""
import argparse
import os
import resource
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
# Test songs with something to play: many channels, a restart position.
TREE_SONGS = ["loader-127-channels.xm", "song-restart.xm", "channels-32.xm"]


def cpu_of(tool, song, seconds, quiet, out):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    source = ["--embedded"] if song is None else [song]
    subprocess.run([tool] + source + ["--loops", "0", "--seconds", str(seconds), "-o", out]
                   + (["-q"] if quiet else []),
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True, timeout=600)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def lower_quartile(values):
    return sorted(values)[len(values) // 4]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("tool")
    parser.add_argument("songs", nargs="*", help="more songs to render")
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--seconds", type=float, default=60)
    args = parser.parse_args()
    songs = [None] + [os.path.join(ROOT, "fuzz", "corpus", "player", s) for s in TREE_SONGS] + args.songs
    print(f"{'song':<28} {'default':>10} {'-q':>10} {'summary':>9}   (s of audio per CPU s, "
          f"lower quartile of {args.runs})")
    with tempfile.TemporaryDirectory() as scratch:
        out = os.path.join(scratch, "song.wav")
        for song in songs:
            # Interleaved, so that the machine's load falls on both alike.
            default, quiet = [], []
            for _ in range(args.runs):
                default.append(cpu_of(args.tool, song, args.seconds, False, out))
                quiet.append(cpu_of(args.tool, song, args.seconds, True, out))
            d, q = lower_quartile(default), lower_quartile(quiet)
            name = "embedded" if song is None else os.path.basename(song)
            print(f"{name:<28} {args.seconds / d:>10.0f} {args.seconds / q:>10.0f} {(d - q) / q:>8.0%}")


if __name__ == "__main__":
    sys.exit(main())
