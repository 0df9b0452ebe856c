#!/usr/bin/env python3
"""Whole-process speed of tinsel-render on the demo's song, -q (as_users_run_it.py
puts the default render beside it, on more songs).

Seconds of audio per CPU second (user + system of the process, so that a
loaded machine does not count against it), the median of several renders at
44.1 kHz written to /dev/null.

usage: bench/render/cpu_per_render.py path/to/tinsel-render [--runs 7] [--seconds 60] [--rules ft2]
       [--interp nearest|linear|cubic|sinc]

--rules plays the song by the given rule set (tinsel-render's --rules): ft2
measures the original tracker's mixer on the same song; --interp renders with
that interpolation (tinsel-render's --interp).
"""
import argparse
import os
import resource
import statistics
import subprocess
import sys


def cpu_of_one(tool, seconds, rules, interp):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    extra = (["--rules", rules] if rules else []) + (["--interp", interp] if interp else [])
    with open(os.devnull, "wb") as sink:
        subprocess.run([tool, "--embedded", "--seconds", str(seconds), "-q", "-o", "-"] + extra,
                       stdout=sink, check=True)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    user = after.ru_utime - before.ru_utime
    system = after.ru_stime - before.ru_stime
    return user + system, user, system


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("tool")
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--seconds", type=float, default=60)
    parser.add_argument("--rules", choices=["tinsel", "ft2"])
    parser.add_argument("--interp", choices=["nearest", "linear", "cubic", "sinc"])
    args = parser.parse_args()
    runs = [cpu_of_one(args.tool, args.seconds, args.rules, args.interp) for _ in range(args.runs)]
    total = statistics.median(r[0] for r in runs)
    user = statistics.median(r[1] for r in runs)
    system = statistics.median(r[2] for r in runs)
    # A shared machine only ever slows a render down, often for seconds at a
    # time: the lower quartile shows what the code costs where the median
    # shows how busy the machine was.
    quartile = sorted(r[0] for r in runs)[len(runs) // 4]
    print(f"median CPU {total * 1000:.1f} ms (user {user * 1000:.1f}, sys {system * 1000:.1f}) "
          f"over {args.runs} runs, lower quartile {quartile * 1000:.1f} ms, "
          f"min {min(r[0] for r in runs) * 1000:.1f} ms: "
          f"{args.seconds / total:.0f} s of audio per CPU s (lower quartile {args.seconds / quartile:.0f})")


if __name__ == "__main__":
    sys.exit(main())
