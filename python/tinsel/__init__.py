"""Play XM modules from Python through libtinsel.

    import tinsel
    with tinsel.Player(rate=44100) as player:
        player.load("song.xm")
        print(player.facts.title, player.facts.length_seconds)
        pcm = player.render(44100)          # one second of 16-bit stereo, as bytes
        samples = player.render(4096, numpy=True)   # a (frames, 2) array with NumPy

The module calls the installed library (libtinsel.so.1, or the file named by
the environment's TINSEL_LIBRARY) through ctypes. Calls of libtinsel 1.2
(subsongs, stereo separation, channel states, the song's contents) work where
the library has them and raise NotImplementedError where it does not.

A player is safe to share between threads: each call holds the player's lock.
"""

import enum
import os
import threading
from dataclasses import dataclass
from typing import Any, List, Optional, Union

from . import _lib
from ._lib import lib as _c

__all__ = [
    "Player",
    "TinselError",
    "Rules",
    "Interpolation",
    "Ramp",
    "Facts",
    "Position",
    "Subsong",
    "ChannelState",
    "Cell",
    "Instrument",
    "library_version",
    "MIN_RATE",
    "MAX_RATE",
]

MIN_RATE, MAX_RATE = 8000, 192000
MAX_REPEATS = 1000
NOTE_OFF = 97

# The library's result codes.
OK, ERROR_ARGUMENT, ERROR_NO_SONG, ERROR_NOT_XM, ERROR_DAMAGED, ERROR_FILE, ERROR_MEMORY, ERROR_POSITION = range(
    0, -8, -1
)


class TinselError(Exception):
    """A call the library refused: `code` is its result code (ERROR_*), `str()` its text,
    `report` the loader's account where a load failed."""

    def __init__(self, code: int, report: str = "") -> None:
        self.code = code
        self.report = report
        text = _c.tinsel_error(code).decode()
        report = report.strip()
        if report.startswith("refused: "):
            report = report[len("refused: ") :]
        super().__init__(f"{text}: {report}" if report and not report.startswith(text) else report or text)


def _check(result: int, report: str = "") -> int:
    if result < 0:
        raise TinselError(result, report)
    return result


class Rules(enum.IntEnum):
    """Rule sets: how a song's effects and timing are performed."""

    SONG = 0  #: the song's own: tinsel rules for songs by songc, else FT2 rules
    TINSEL = 1  #: the small effect set the demo's song was written for
    FT2 = 2  #: every effect of the original tracker, with its quirks


class Interpolation(enum.IntEnum):
    """How a voice reads its sample between the stored entries."""

    LINEAR = 0  #: the default: each rule set's own mixing
    NEAREST = 1
    CUBIC = 2
    SINC = 3


class Ramp(enum.IntEnum):
    """How volume and panning changes glide."""

    RULES = 0  #: as the rule set glides them
    OFF = 1  #: at once


def _choice(kind: Any, value: Union[int, str]) -> Any:
    if isinstance(value, str):
        try:
            return kind[value.upper()]
        except KeyError:
            raise ValueError(f"{value!r} is not one of {', '.join(k.name.lower() for k in kind)}") from None
    return kind(value)


@dataclass(frozen=True)
class Facts:
    """What a song holds and how long it plays, at the player's rate and rules."""

    title: str
    tracker: str
    channels: int
    orders: int
    restart_order: int
    patterns: int
    instruments: int
    samples: int
    linear_frequencies: bool
    speed: int
    bpm: int
    rules: Rules
    length_frames: int  #: until the song first comes back to a row it has played
    loop_frames: int  #: of one loop from there on; 0 when the song stops instead
    loop_order: int
    loop_row: int
    length_exact: bool  #: False: a damaged song never came back; length_frames is a lower bound
    rate: int

    @property
    def length_seconds(self) -> float:
        return self.length_frames / self.rate

    @property
    def loop_seconds(self) -> float:
        return self.loop_frames / self.rate


@dataclass(frozen=True)
class Position:
    """Where playback is: the tick of the last frame rendered, or the row a seek went to."""

    order: int
    pattern: int
    row: int
    tick: int
    speed: int
    bpm: int
    frame: int  #: frames of song before the next one, from the song's start as played
    seconds: float


@dataclass(frozen=True)
class Subsong:
    """A tune of its own within the song: where it starts and how long it plays."""

    start_order: int
    length_frames: int
    loop_frames: int


@dataclass(frozen=True)
class ChannelState:
    """What a channel sounds now: note 1..96 (C-0 = 1, 0 none), instrument from 1 (0 none),
    volume 0..64, panning 0..255, frequency in Hz, peak levels 0..1 of the last block."""

    active: bool
    note: int
    instrument: int
    sample: int
    volume: int
    panning: int
    frequency: float
    level_left: float
    level_right: float


@dataclass(frozen=True)
class Cell:
    """A pattern cell as stored (note 97 is a key-off), and `text` as trackers show it."""

    note: int
    instrument: int
    volume: int
    effect: int
    parameter: int
    text: str

    def __str__(self) -> str:
        return self.text


@dataclass(frozen=True)
class Instrument:
    """An instrument's name (where XM composers write their messages) and its samples' names."""

    number: int
    name: str
    samples: List[str]


def library_version() -> str:
    """The loaded libtinsel's version, e.g. "1.1.0"."""
    v = _c.tinsel_version()
    return f"{v >> 16}.{(v >> 8) & 0xFF}.{v & 0xFF}"


def _need(name: str) -> Any:
    if not _lib.has(name):
        raise NotImplementedError(f"{name} needs libtinsel 1.2 or later; the one loaded is {library_version()}")
    return getattr(_c, name)


class Player:
    """A song, its playback state and its settings, rendering at `rate` frames a second.

    Use it as a context manager, or call close(), to free the library's player at once.
    """

    def __init__(self, rate: int = 44100) -> None:
        if not MIN_RATE <= rate <= MAX_RATE:
            raise ValueError(f"rate {rate}: the player renders at {MIN_RATE} to {MAX_RATE} frames a second")
        self._lock = threading.Lock()
        self._handle = _c.tinsel_new(rate)
        if not self._handle:
            raise MemoryError("tinsel_new: out of memory")
        self.rate = rate
        self._settings = {
            "repeat_count": 1,
            "muted": 0,
            "rules": Rules.SONG,
            "interpolation": Interpolation.LINEAR,
            "ramp": Ramp.RULES,
            "amplification": 4,
            "stereo_separation": 100,
            "tempo_factor": 1.0,
            "pitch_factor": 1.0,
        }

    # Life.
    def close(self) -> None:
        """Frees the library's player and its song; the Player is unusable after."""
        with self._lock:
            if self._handle:
                _c.tinsel_free(self._handle)
                self._handle = None

    def __enter__(self) -> "Player":
        return self

    def __exit__(self, *exc: Any) -> None:
        self.close()

    def __del__(self) -> None:
        if getattr(self, "_handle", None):
            _c.tinsel_free(self._handle)
            self._handle = None

    def _call(self, function: Any, *arguments: Any) -> int:
        with self._lock:
            if not self._handle:
                raise ValueError("the player is closed")
            return function(self._handle, *arguments)

    # The song.
    def load(self, song: Union[str, "os.PathLike[str]", bytes, bytearray, memoryview]) -> "Facts":
        """Loads a song from a path or from its bytes, in place of any song held, and starts it
        from its first order; settings are kept. Returns its facts.
        Raises TinselError (with the loader's report) for a file that is no module or a damaged one."""
        if isinstance(song, (bytes, bytearray, memoryview)):
            data = bytes(song)
            result = self._call(_c.tinsel_load, data, len(data))
        else:
            result = self._call(_c.tinsel_load_file, os.fsencode(song))
        _check(result, self.load_report)
        return self.facts

    @property
    def load_report(self) -> str:
        """The loader's account of the last load: why it refused, or what it found beyond the
        plain layout, one finding a line; "" when there is nothing to say."""
        return (self._call(_c.tinsel_load_report) or b"").decode(errors="replace")

    @property
    def facts(self) -> Facts:
        """What the song holds and how long it plays (the first call plays it through silently)."""
        f = _lib.Facts()
        _check(self._call(_c.tinsel_get_facts, f))
        return Facts(
            title=f.title.decode("latin-1"),
            tracker=f.tracker.decode("latin-1"),
            channels=f.channels,
            orders=f.orders,
            restart_order=f.restart_order,
            patterns=f.patterns,
            instruments=f.instruments,
            samples=f.samples,
            linear_frequencies=bool(f.linear_frequencies),
            speed=f.speed,
            bpm=f.bpm,
            rules=Rules(f.rules),
            length_frames=f.length_frames,
            loop_frames=f.loop_frames,
            loop_order=f.loop_order,
            loop_row=f.loop_row,
            length_exact=bool(f.length_exact),
            rate=self.rate,
        )

    # Playing.
    def render(self, frames: int, format: str = "s16", numpy: bool = False) -> Any:
        """Renders up to `frames` interleaved stereo frames and returns those of song: fewer at
        the song's end (after its repeat count), none from then on.

        format "s16" gives 16-bit samples, the offline renderer's bytes; "f32" floats with 1.0
        at the 16-bit full scale, unclipped. Returns bytes, or with numpy=True a NumPy array of
        shape (frames, 2), int16 or float32."""
        import ctypes

        if frames < 0:
            raise ValueError("frames below 0")
        if format == "s16":
            buffer: Any = (ctypes.c_int16 * (2 * frames))()
            render, size = _c.tinsel_render_s16, 4
        elif format == "f32":
            buffer = (ctypes.c_float * (2 * frames))()
            render, size = _c.tinsel_render_f32, 8
        else:
            raise ValueError(f"format {format!r}: 's16' or 'f32'")
        done = _check(self._call(render, buffer, frames))
        data = memoryview(buffer).cast("B")[: done * size].tobytes()
        if not numpy:
            return data
        import numpy as np

        return np.frombuffer(data, dtype=np.int16 if format == "s16" else np.float32).reshape(-1, 2)

    @property
    def position(self) -> Position:
        """Where playback is."""
        p = _lib.Position()
        _check(self._call(_c.tinsel_get_position, p))
        return Position(p.order, p.pattern, p.row, p.tick, p.speed, p.bpm, p.frame, p.seconds)

    def seek(self, seconds: float) -> Position:
        """Plays on from the start of the row playing `seconds` into the song (later passes
        count); returns where that is. Raises TinselError at or past the song's end."""
        _check(self._call(_c.tinsel_seek_time, float(seconds)))
        return self.position

    def seek_row(self, order: int, row: int = 0) -> Position:
        """Plays on from the start of `row` at `order`, as playing there from the start leaves it."""
        _check(self._call(_c.tinsel_seek_row, order, row))
        return self.position

    # Settings: the library answers none back, so the player keeps what it was told.
    def _set(self, name: str, call: str, value: Any, stored: Any = None) -> None:
        _check(self._call(_need(call), value))
        self._settings[name] = value if stored is None else stored

    @property
    def repeat_count(self) -> int:
        """Passes through the song before it ends (the later ones from where it loops to);
        0 plays forever. 1 by default."""
        return self._settings["repeat_count"]

    @repeat_count.setter
    def repeat_count(self, count: int) -> None:
        self._set("repeat_count", "tinsel_set_repeat_count", count)

    @property
    def muted(self) -> int:
        """Bit i mutes channel i (the first 32 channels); 0 by default."""
        return self._settings["muted"]

    @muted.setter
    def muted(self, mask: int) -> None:
        self._set("muted", "tinsel_set_muted", mask & 0xFFFFFFFF)

    @property
    def rules(self) -> Rules:
        """The rule set songs play by (Rules or its name); changing it starts the song again."""
        return self._settings["rules"]

    @rules.setter
    def rules(self, value: Union[Rules, str]) -> None:
        rules = _choice(Rules, value)
        self._set("rules", "tinsel_set_rules", int(rules), rules)

    @property
    def interpolation(self) -> Interpolation:
        """How voices read their samples between entries (Interpolation or its name)."""
        return self._settings["interpolation"]

    @interpolation.setter
    def interpolation(self, value: Union[Interpolation, str]) -> None:
        interpolation = _choice(Interpolation, value)
        self._set("interpolation", "tinsel_set_interpolation", int(interpolation), interpolation)

    @property
    def ramp(self) -> Ramp:
        """How volume and panning changes glide (Ramp or its name)."""
        return self._settings["ramp"]

    @ramp.setter
    def ramp(self, value: Union[Ramp, str]) -> None:
        ramp = _choice(Ramp, value)
        self._set("ramp", "tinsel_set_ramp", int(ramp), ramp)

    @property
    def amplification(self) -> int:
        """Amplification of songs played by FT2 rules, 1 to 32, as the original tracker's; 4 by default."""
        return self._settings["amplification"]

    @amplification.setter
    def amplification(self, value: int) -> None:
        self._set("amplification", "tinsel_set_amplification", value)

    @property
    def stereo_separation(self) -> int:
        """Stereo separation in percent, 0 (mono) to 200; 100 by default. Needs libtinsel 1.2."""
        return self._settings["stereo_separation"]

    @stereo_separation.setter
    def stereo_separation(self, percent: int) -> None:
        self._set("stereo_separation", "tinsel_set_stereo_separation", percent)

    @property
    def tempo_factor(self) -> float:
        """How much faster the song plays, pitch kept: 0.25 to 4; 1 by default. Needs libtinsel 1.2."""
        return self._settings["tempo_factor"]

    @tempo_factor.setter
    def tempo_factor(self, factor: float) -> None:
        self._set("tempo_factor", "tinsel_set_tempo_factor", float(factor))

    @property
    def pitch_factor(self) -> float:
        """How much higher the song sounds, time kept: 0.25 to 4; 1 by default. Needs libtinsel 1.2."""
        return self._settings["pitch_factor"]

    @pitch_factor.setter
    def pitch_factor(self, factor: float) -> None:
        self._set("pitch_factor", "tinsel_set_pitch_factor", float(factor))

    def set_channel_muted(self, channel: int, muted: bool = True) -> None:
        """Mutes or unmutes any channel of the song (from 0). Needs libtinsel 1.2."""
        _check(self._call(_need("tinsel_set_channel_muted"), channel, int(muted)))

    # Subsongs, channels and the song's contents: libtinsel 1.2.
    @property
    def subsongs(self) -> List[Subsong]:
        """The song's subsongs: tunes of their own, each from the first order no earlier one plays."""
        count = _check(self._call(_need("tinsel_subsong_count")))
        out = []
        for i in range(count):
            s = _lib.Subsong()
            _check(self._call(_c.tinsel_get_subsong, i, s))
            out.append(Subsong(s.start_order, s.length_frames, s.loop_frames))
        return out

    def select_subsong(self, subsong: int) -> None:
        """Plays subsong 0.. from its start; facts then describe it."""
        _check(self._call(_need("tinsel_select_subsong"), subsong))

    def channel_state(self, channel: int) -> ChannelState:
        """What channel (from 0) sounds now, as of the last block rendered."""
        s = _lib.ChannelState()
        _check(self._call(_need("tinsel_get_channel_state"), channel, s))
        return ChannelState(
            bool(s.active), s.note, s.instrument, s.sample, s.volume, s.panning, s.frequency, s.level_left, s.level_right
        )

    @property
    def orders(self) -> List[int]:
        """The order list: the pattern played at each order."""
        get = _need("tinsel_get_order")
        return [_check(self._call(get, i)) for i in range(self.facts.orders)]

    def pattern(self, pattern: int) -> List[List[Cell]]:
        """Pattern `pattern` as rows of cells, one a channel."""
        import ctypes

        rows = _check(self._call(_need("tinsel_get_pattern_rows"), pattern))
        channels = self.facts.channels
        text = ctypes.create_string_buffer(64)
        out = []
        for row in range(rows):
            cells = []
            for channel in range(channels):
                c = _lib.Cell()
                _check(self._call(_c.tinsel_get_cell, pattern, row, channel, c))
                _c.tinsel_format_cell(c, text, len(text))
                cells.append(Cell(c.note, c.instrument, c.volume, c.effect, c.parameter, text.value.decode()))
            out.append(cells)
        return out

    @property
    def instruments(self) -> List[Instrument]:
        """The instruments (from 1) with their names and their samples' names."""
        name_of = _need("tinsel_instrument_name")
        out = []
        for number in range(1, self.facts.instruments + 1):
            name = self._call(name_of, number)
            samples = []
            while True:
                sample = self._call(_c.tinsel_sample_name, number, len(samples))
                if sample is None:
                    break
                samples.append(sample.decode("latin-1"))
            out.append(Instrument(number, (name or b"").decode("latin-1"), samples))
        return out

    def __repr__(self) -> str:
        state = "closed" if not self._handle else f"{self.rate} Hz"
        return f"<tinsel.Player {state}>"
