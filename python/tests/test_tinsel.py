"""The tinsel module as a user has it, installed by pip: run with the tests'
folder on the path (python -m unittest discover -s python/tests), the module
from wherever it was installed. TINSEL_RENDER names tinsel-render."""

import os
import subprocess
import sys
import tempfile
import unittest
import wave
from pathlib import Path

import tinsel
from tinsel import _lib

import xm_song

RATE = 44100


def wav_frames(path: Path) -> bytes:
    with wave.open(str(path)) as w:
        return w.readframes(w.getnframes())


class TinselTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls) -> None:
        cls.folder = Path(tempfile.mkdtemp())
        xm_song.main_into(cls.folder)
        cls.song = cls.folder / "song.xm"
        render = os.environ["TINSEL_RENDER"]
        subprocess.run([render, str(cls.song), "--quiet", "-o", str(cls.folder / "expected.wav")], check=True)
        cls.expected = wav_frames(cls.folder / "expected.wav")

    def test_render_is_the_renderers_bytes(self) -> None:
        # Blocks of changing sizes, as an audio callback asks for them.
        with tinsel.Player(RATE) as player:
            player.load(self.song.read_bytes())
            out, size = [], 1
            while block := player.render(size):
                out.append(block)
                size = size * 7 % 5000 + 1
            self.assertEqual(b"".join(out), self.expected)
            self.assertEqual(player.render(100), b"")

    def test_cli_renders_the_renderers_bytes_and_tells_the_facts(self) -> None:
        out = self.folder / "cli.wav"
        run = subprocess.run([sys.executable, "-m", "tinsel", str(self.song), "--info", "-o", str(out)],
                             capture_output=True, text=True, check=True)
        self.assertIn("Title:        " + xm_song.TITLE, run.stdout)
        self.assertIn("Length:       3.840 s, then 3.840 s a loop", run.stdout)
        self.assertEqual(wav_frames(out), self.expected)

    def test_facts(self) -> None:
        with tinsel.Player(RATE) as player:
            facts = player.load(self.song)
        frames = xm_song.pass_frames(RATE)
        self.assertEqual(
            (facts.title, facts.tracker, facts.channels, facts.orders, facts.patterns, facts.instruments),
            (xm_song.TITLE, xm_song.TRACKER, xm_song.CHANNELS, 2, 2, 1))
        self.assertEqual((facts.samples, facts.speed, facts.bpm, facts.rules), (1, 6, 125, tinsel.Rules.FT2))
        self.assertEqual((facts.length_frames, facts.loop_frames, facts.loop_order, facts.loop_row), (frames, frames, 0, 0))
        self.assertTrue(facts.length_exact)
        self.assertAlmostEqual(facts.length_seconds, 3.84)

    def test_seek_lands_on_the_row_and_repeats_count(self) -> None:
        with tinsel.Player(RATE) as player:
            player.load(self.song)
            # Rows of 0.12 s: 1.9 s is in row 15, which starts at 1.8 s.
            position = player.seek(1.9)
            self.assertEqual((position.order, position.row, position.frame), (0, 15, 79380))
            with self.assertRaises(tinsel.TinselError) as caught:
                player.seek(3.84)
            self.assertEqual(caught.exception.code, tinsel.ERROR_POSITION)
            player.repeat_count = 2
            self.assertEqual(player.seek(3.9).order, 0)

    def test_bad_files_raise_with_the_loaders_reason(self) -> None:
        cases = [
            (self.folder / "damaged.xm", tinsel.ERROR_DAMAGED, "the file ends before its 2 patterns"),
            ((self.folder / "not-a-module.xm").read_bytes(), tinsel.ERROR_NOT_XM, "neither an XM nor a MOD module"),
            (self.folder / "missing.xm", tinsel.ERROR_FILE, "the file cannot be read"),
        ]
        with tinsel.Player(RATE) as player:
            for song, code, text in cases:
                with self.subTest(code=code):
                    with self.assertRaises(tinsel.TinselError) as caught:
                        player.load(song)
                    self.assertEqual(caught.exception.code, code)
                    self.assertIn(text, str(caught.exception))
            with self.assertRaises(tinsel.TinselError) as caught:
                player.render(10)
            self.assertEqual(caught.exception.code, tinsel.ERROR_NO_SONG)

    def test_settings(self) -> None:
        with tinsel.Player(RATE) as player:
            player.load(self.song)
            linear = player.render(4096)
            player.seek(0)
            player.interpolation = "sinc"
            self.assertIs(player.interpolation, tinsel.Interpolation.SINC)
            self.assertNotEqual(player.render(4096), linear)
            with self.assertRaises(ValueError):
                player.interpolation = "bogus"
            with self.assertRaises(tinsel.TinselError) as caught:
                player.amplification = 33
            self.assertEqual((caught.exception.code, player.amplification), (tinsel.ERROR_ARGUMENT, 4))
        with self.assertRaises(ValueError):
            player.render(1)  # closed by the with block
        with self.assertRaises(ValueError):
            tinsel.Player(7999)

    @unittest.skipUnless(_lib.has("tinsel_get_cell"), "libtinsel before 1.2 has no song contents")
    def test_contents_and_a_cell(self) -> None:
        with tinsel.Player(RATE) as player:
            player.load(self.song)
            self.assertEqual(player.orders, xm_song.ORDERS)
            rows = player.pattern(0)
            self.assertEqual((len(rows), len(rows[0])), (xm_song.ROWS, xm_song.CHANNELS))
            first = rows[0][0]
            self.assertEqual((first.note, first.instrument, first.volume), xm_song.CELLS[0, 0, 0][:3])
            self.assertTrue(first.text.startswith("C-4 01"), first.text)
            self.assertTrue(rows[12][0].text.startswith("==="), rows[12][0].text)
            self.assertTrue(rows[1][1].text.startswith("... .."), rows[1][1].text)
            self.assertEqual([(i.name, i.samples) for i in player.instruments],
                             [(xm_song.INSTRUMENT_NAME, [xm_song.SAMPLE_NAME])])

    @unittest.skipUnless(_lib.has("tinsel_get_channel_state"), "libtinsel before 1.2 has no controls")
    def test_subsongs_settings_and_channels(self) -> None:
        with tinsel.Player(RATE) as player:
            player.load(self.song)
            subsongs = player.subsongs
            self.assertEqual([s.start_order for s in subsongs], [0])
            self.assertEqual(subsongs[0].length_frames, player.facts.length_frames)
            player.select_subsong(0)
            with self.assertRaises(tinsel.TinselError):
                player.select_subsong(len(subsongs))
            player.stereo_separation = 0
            block = player.render(4096)
            left, right = block[0::4] + block[1::4], block[2::4] + block[3::4]
            self.assertEqual(left, right)  # mono: both sides alike
            sounding = [player.channel_state(c) for c in range(xm_song.CHANNELS)]
            self.assertTrue(any(c.active and c.level_left > 0 for c in sounding), sounding)
            self.assertEqual(sounding[0].note, xm_song.CELLS[0, 0, 0][0])
            player.seek(0)
            player.stereo_separation, player.tempo_factor = 100, 2.0
            self.assertAlmostEqual(player.facts.length_frames, subsongs[0].length_frames / 2, delta=RATE * 0.07)
            with self.assertRaises(tinsel.TinselError):
                player.pitch_factor = 5.0
            player.set_channel_muted(0, True)
            with self.assertRaises(tinsel.TinselError):
                player.set_channel_muted(200, True)

    @unittest.skipIf(_lib.has("tinsel_get_cell"), "libtinsel 1.2 has the song contents")
    def test_contents_need_a_newer_library(self) -> None:
        with tinsel.Player(RATE) as player:
            player.load(self.song)
            with self.assertRaisesRegex(NotImplementedError, "needs libtinsel 1.2"):
                player.pattern(0)

    def test_every_method_is_documented(self) -> None:
        undocumented = [name for name, value in vars(tinsel.Player).items()
                        if not name.startswith("_") and callable(getattr(value, "fget", value))
                        and not (getattr(value, "__doc__", None) or "").strip()]
        self.assertEqual(undocumented, [])


class NumpyTest(unittest.TestCase):
    def test_render_to_numpy(self) -> None:
        try:
            import numpy
        except ImportError:
            self.skipTest("NumPy is not installed")
        folder = Path(tempfile.mkdtemp())
        xm_song.main_into(folder)
        with tinsel.Player(RATE) as player:
            player.load(folder / "song.xm")
            s16 = player.render(1000, numpy=True)
            player.seek(0)
            f32 = player.render(1000, format="f32", numpy=True)
        self.assertEqual((s16.shape, s16.dtype, f32.shape, f32.dtype), ((1000, 2), numpy.int16, (1000, 2), numpy.float32))
        # The floats are the same mix, 1.0 at the 16-bit full scale.
        self.assertLessEqual(numpy.abs(f32 * 32768 - s16).max(), 1.0)
        self.assertGreater(numpy.abs(s16).max(), 1000)


if __name__ == "__main__":
    unittest.main()
