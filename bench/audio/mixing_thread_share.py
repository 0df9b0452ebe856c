#!/usr/bin/env python3
"""The mixing thread's share of one core while a song plays.

Plays the song with tinsel-play on SDL's dummy audio driver (no sound card
needed) and reads the CPU time of each of its threads from the kernel
(/proc/PID/task/TID/schedstat, in nanoseconds) over a stretch of playback
after a short warm-up. The mixing thread is the one that is neither the main
thread nor one of SDL's; its share is its CPU time over the wall time.

usage: bench/audio/mixing_thread_share.py path/to/tinsel-play SONG.xm [--seconds 20] [--runs 3]
"""
import argparse
import os
import statistics
import subprocess
import sys
import time


def threads(pid):
    found = {}
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{tid}/comm") as f:
                name = f.read().strip()
            with open(f"/proc/{pid}/task/{tid}/schedstat") as f:
                cpu = int(f.read().split()[0])
        except OSError:
            continue
        found[int(tid)] = (name, cpu)
    return found


def one_run(tool, song, seconds):
    env = dict(os.environ, SDL_AUDIODRIVER="dummy")
    with open(os.devnull, "wb") as sink:
        player = subprocess.Popen([tool, song], stdin=subprocess.DEVNULL, stdout=sink, stderr=sink, env=env)
    try:
        time.sleep(2.0)  # start-up and the ring's first fill
        before, t0 = threads(player.pid), time.monotonic()
        time.sleep(seconds)
        after, t1 = threads(player.pid), time.monotonic()
        if player.poll() is not None:
            raise RuntimeError("tinsel-play ended before the measurement did: give a longer song")
    finally:
        player.terminate()
        try:
            player.wait(timeout=10)
        except subprocess.TimeoutExpired:
            player.kill()
            player.wait()
    wall = (t1 - t0) * 1e9
    shares = {}
    for tid, (name, cpu) in after.items():
        if tid in before:
            role = "main" if tid == player.pid else (name if name.startswith("SDL") else "mixing")
            shares[role] = shares.get(role, 0.0) + (cpu - before[tid][1]) / wall
    return shares


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("tool")
    parser.add_argument("song")
    parser.add_argument("--seconds", type=float, default=20)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    runs = [one_run(args.tool, args.song, args.seconds) for _ in range(args.runs)]
    for role in sorted({r for run in runs for r in run}):
        values = [run.get(role, 0.0) * 100 for run in runs]
        print(f"{role}: {statistics.median(values):.3f} % of one core (median of {args.runs} runs, "
              f"{min(values):.3f} to {max(values):.3f})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
