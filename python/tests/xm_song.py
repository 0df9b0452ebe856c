"""Builds the tests' songs: a short XM module whose every byte is known.

`python3 xm_song.py DIR` writes DIR/song.xm (about 3.8 seconds, looping back
to its start), DIR/damaged.xm (the same cut short inside its first
pattern's header, which the loader refuses) and DIR/not-a-module.xm.
"""

import struct
import sys
from pathlib import Path

TITLE = "Tinsel test tune"
TRACKER = "FastTracker v2.00"
CHANNELS = 4
SPEED, BPM = 6, 125
ROWS = 16
ORDERS = [0, 1]
INSTRUMENT_NAME = "square lead"
SAMPLE_NAME = "square"
KEY_OFF = 97

# (pattern, row, channel) -> (note, instrument, volume column, effect, parameter)
CELLS = {
    (0, 0, 0): (49, 1, 0x50, 0, 0),  # C-4, full volume
    (0, 4, 1): (53, 1, 0x40, 0, 0),  # E-4
    (0, 8, 2): (56, 1, 0x30, 0, 0),  # G-4
    (0, 12, 0): (KEY_OFF, 0, 0, 0, 0),
    (1, 0, 3): (58, 1, 0, 0x4, 0x48),  # A#4 with vibrato
    (1, 8, 0): (61, 1, 0, 0xA, 0x02),  # C-5 sliding down
}


def pass_frames(rate: int) -> int:
    """Frames of one pass at rate: rows of SPEED ticks, each 2.5 / BPM seconds."""
    tick = rate * 5 // (BPM * 2)  # 882 at 44100: whole at the rates the tests use
    return len(ORDERS) * ROWS * SPEED * tick


def build() -> bytes:
    out = bytearray(b"Extended Module: ")
    out += TITLE.encode().ljust(20, b" ") + b"\x1a" + TRACKER.encode().ljust(20, b" ")
    out += struct.pack("<HI", 0x0104, 276)
    out += struct.pack("<8H", len(ORDERS), 0, CHANNELS, 2, 1, 1, SPEED, BPM)
    out += bytes(ORDERS).ljust(256, b"\0")
    for pattern in range(2):
        data = bytearray()
        for row in range(ROWS):
            for channel in range(CHANNELS):
                data += bytes(CELLS.get((pattern, row, channel), (0, 0, 0, 0, 0)))
        out += struct.pack("<IBHH", 9, 0, ROWS, len(data)) + data
    # One instrument, one looping 8-bit square wave of 32 entries, no envelopes.
    wave = [90] * 16 + [-90] * 16
    deltas = bytes((value - previous) & 0xFF for previous, value in zip([0] + wave, wave))
    header = bytearray(263)
    struct.pack_into("<I22sBHI", header, 0, 263, INSTRUMENT_NAME.encode(), 0, 1, 40)
    out += header
    out += struct.pack("<IIIBBBBBB22s", len(wave), 0, len(wave), 64, 0, 1, 128, 0, 0, SAMPLE_NAME.encode())
    out += deltas
    return bytes(out)


def build_mod() -> bytes:
    """A 4-channel M.K. MOD: one pattern whose first row starts a looped 16-word sample."""
    b = bytearray(b"modtest".ljust(20, b"\0"))
    for i in range(31):
        if i == 0:
            b += b"wave".ljust(22, b"\0") + struct.pack(">HBBHH", 16, 0, 64, 0, 16)
        else:
            b += bytes(22) + struct.pack(">HBBHH", 0, 0, 0, 0, 1)
    b += bytes([1, 127]) + bytes(128) + b"M.K."
    pattern = bytearray(1024)
    pattern[0:4] = bytes([0x01, 0xAC, 0x10, 0x00])  # sample 1 at period 428 (C-2)
    b += pattern
    b += bytes([0, 40, 80, 120, 127, 120, 80, 40, 0, 216, 176, 136, 129, 136, 176, 216] * 2)
    return bytes(b)


def main_into(folder: Path) -> None:
    folder.mkdir(parents=True, exist_ok=True)
    (folder / "song.xm").write_bytes(build())
    (folder / "song.mod").write_bytes(build_mod())
    (folder / "damaged.xm").write_bytes(build()[: 60 + 276 + 5])
    (folder / "not-a-module.xm").write_bytes(b"This is a text file, not music.\n" * 8)


if __name__ == "__main__":
    main_into(Path(sys.argv[1]))
