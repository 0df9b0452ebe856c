"""python -m tinsel SONG.xm --info | -o OUT.wav: a small example of the module."""

import argparse
import sys
import wave

from . import Player, TinselError, MIN_RATE, MAX_RATE


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(prog="python -m tinsel", description="Plays an XM module through libtinsel.")
    parser.add_argument("song", help="the XM module")
    parser.add_argument("--info", action="store_true", help="print what the song holds and how long it plays")
    parser.add_argument("-o", "--out", metavar="OUT.wav", help="render the song into a 16-bit stereo WAV file")
    parser.add_argument("--rate", type=int, default=44100, help=f"frames a second, {MIN_RATE} to {MAX_RATE}")
    parser.add_argument("--loops", type=int, default=1, help="passes through the song (default 1)")
    args = parser.parse_args(argv)
    if not args.info and not args.out:
        parser.error("nothing to do: give --info or -o OUT.wav")
    if not MIN_RATE <= args.rate <= MAX_RATE:
        parser.error(f"--rate {args.rate}: {MIN_RATE} to {MAX_RATE}")
    if args.loops < 1:
        parser.error("--loops: 1 or more (a render must end)")
    try:
        with Player(args.rate) as player:
            facts = player.load(args.song)
            if args.info:
                print(f"Title:        {facts.title}")
                print(f"Tracker:      {facts.tracker}")
                print(f"Channels:     {facts.channels}")
                print(f"Orders:       {facts.orders} (restart at {facts.restart_order})")
                print(f"Patterns:     {facts.patterns}")
                print(f"Instruments:  {facts.instruments} ({facts.samples} samples)")
                print(f"Tempo:        {facts.speed} ticks a row at {facts.bpm} BPM")
                print(f"Rules:        {facts.rules.name.lower()}")
                loop = f", then {facts.loop_seconds:.3f} s a loop" if facts.loop_frames else ""
                print(f"Length:       {facts.length_seconds:.3f} s{loop}")
                if player.load_report:
                    print("Loader:       " + player.load_report.rstrip().replace("\n", "\n              "))
            if args.out:
                player.repeat_count = args.loops
                with wave.open(args.out, "wb") as out:
                    out.setnchannels(2)
                    out.setsampwidth(2)
                    out.setframerate(args.rate)
                    while block := player.render(16384):
                        out.writeframes(block)
    except (TinselError, OSError) as error:
        print(f"python -m tinsel: {args.song}: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
