"""The C interface of libtinsel as ctypes sees it.

The library is found by TINSEL_LIBRARY (a path) or else by its SONAME,
libtinsel.so.1, as the dynamic loader finds it. Calls added after 1.1 are
bound only where the library exports them: `has(name)` tells.
"""

import ctypes
import os
from ctypes import POINTER, Structure, c_char, c_char_p, c_double, c_float, c_int, c_int64, c_size_t
from ctypes import c_uint, c_uint32, c_void_p, c_int16

SONAME = "libtinsel.so.1"


class Facts(Structure):
    _fields_ = [
        ("title", c_char * 21),
        ("tracker", c_char * 21),
        ("channels", c_int),
        ("orders", c_int),
        ("restart_order", c_int),
        ("patterns", c_int),
        ("instruments", c_int),
        ("samples", c_int),
        ("linear_frequencies", c_int),
        ("speed", c_int),
        ("bpm", c_int),
        ("rules", c_int),
        ("length_frames", c_int64),
        ("loop_frames", c_int64),
        ("loop_order", c_int),
        ("loop_row", c_int),
        ("length_exact", c_int),
    ]


class Position(Structure):
    _fields_ = [
        ("order", c_int),
        ("pattern", c_int),
        ("row", c_int),
        ("tick", c_int),
        ("speed", c_int),
        ("bpm", c_int),
        ("frame", c_int64),
        ("seconds", c_double),
    ]


# Since 1.2.
class Subsong(Structure):
    _fields_ = [("start_order", c_int), ("length_frames", c_int64), ("loop_frames", c_int64)]


class ChannelState(Structure):
    _fields_ = [
        ("active", c_int),
        ("note", c_int),
        ("instrument", c_int),
        ("sample", c_int),
        ("volume", c_int),
        ("panning", c_int),
        ("frequency", c_double),
        ("level_left", c_float),
        ("level_right", c_float),
    ]


class Cell(Structure):
    _fields_ = [("note", c_int), ("instrument", c_int), ("volume", c_int), ("effect", c_int), ("parameter", c_int)]


_player = c_void_p
# name: (result type, argument types)
_CALLS = {
    "tinsel_version": (c_uint, []),
    "tinsel_error": (c_char_p, [c_int]),
    "tinsel_new": (_player, [c_int]),
    "tinsel_free": (None, [_player]),
    "tinsel_load": (c_int, [_player, c_void_p, c_size_t]),
    "tinsel_load_file": (c_int, [_player, c_char_p]),
    "tinsel_load_report": (c_char_p, [_player]),
    "tinsel_render_s16": (c_int, [_player, POINTER(c_int16), c_int]),
    "tinsel_render_f32": (c_int, [_player, POINTER(c_float), c_int]),
    "tinsel_get_facts": (c_int, [_player, POINTER(Facts)]),
    "tinsel_get_position": (c_int, [_player, POINTER(Position)]),
    "tinsel_seek_row": (c_int, [_player, c_int, c_int]),
    "tinsel_seek_time": (c_int, [_player, c_double]),
    "tinsel_set_repeat_count": (c_int, [_player, c_int]),
    "tinsel_set_muted": (c_int, [_player, c_uint32]),
    "tinsel_set_rules": (c_int, [_player, c_int]),
    "tinsel_set_interpolation": (c_int, [_player, c_int]),
    "tinsel_set_ramp": (c_int, [_player, c_int]),
    "tinsel_set_amplification": (c_int, [_player, c_int]),
    # Since 1.2.
    "tinsel_subsong_count": (c_int, [_player]),
    "tinsel_select_subsong": (c_int, [_player, c_int]),
    "tinsel_get_subsong": (c_int, [_player, c_int, POINTER(Subsong)]),
    "tinsel_set_stereo_separation": (c_int, [_player, c_int]),
    "tinsel_set_tempo_factor": (c_int, [_player, c_double]),
    "tinsel_set_pitch_factor": (c_int, [_player, c_double]),
    "tinsel_set_channel_muted": (c_int, [_player, c_int, c_int]),
    "tinsel_get_channel_state": (c_int, [_player, c_int, POINTER(ChannelState)]),
    "tinsel_get_order": (c_int, [_player, c_int]),
    "tinsel_get_pattern_rows": (c_int, [_player, c_int]),
    "tinsel_get_cell": (c_int, [_player, c_int, c_int, c_int, POINTER(Cell)]),
    "tinsel_format_cell": (c_int, [POINTER(Cell), POINTER(c_char), c_size_t]),
    "tinsel_instrument_name": (c_char_p, [_player, c_int]),
    "tinsel_sample_name": (c_char_p, [_player, c_int, c_int]),
}


def _open() -> ctypes.CDLL:
    path = os.environ.get("TINSEL_LIBRARY") or SONAME
    try:
        return ctypes.CDLL(path)
    except OSError as error:
        raise ImportError(
            f"tinsel: cannot load {path} ({error}); install libtinsel (make install) or set TINSEL_LIBRARY"
        ) from None


lib = _open()
for _name, (_result, _arguments) in _CALLS.items():
    if hasattr(lib, _name):
        _function = getattr(lib, _name)
        _function.restype = _result
        _function.argtypes = _arguments


def has(name: str) -> bool:
    """Whether the loaded library exports the call `name` (e.g. "tinsel_get_cell")."""
    return hasattr(lib, name)
