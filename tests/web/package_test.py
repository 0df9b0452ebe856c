#!/usr/bin/env python3
"""Installs the npm package tinsel-player as a user would, in a scratch folder
with npm offline (it has no dependencies), and uses it: its types against a
typed example (tsc --noEmit), renderSong in Node against tinsel-render's
bytes (with the sound settings, subsongs and repeats beside its flags), and a page served from that folder that imports it through an import
map from node_modules and plays a song in headless Chromium (title and
position advance, the recorded sound equals the render, a file that is no
module gives the player's reason).

usage: package_test.py PACKAGE.tgz --render TINSEL_RENDER --song SONG.xm [--chromium PATH]
"""
import argparse
import base64
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

from browser import Browser, serve

SECONDS = 10  # the stretch the page records
MOST_GZIP = 120 * 1024
NOT_A_MODULE = 'is neither an XM nor a MOD module (no XM text at its start, and too short for a MOD)'

SUBSONG_FRAMES = 16 * 6 * 882  # a pattern of 16 rows at speed 6, 125 BPM, 44100 Hz: a subsong of two tunes


def two_tunes():
    """An XM of two subsongs: order 0 loops on itself, and so does order 1,
    which order 0 never reaches; a square lead plays in each, different notes."""
    out = bytearray(b'Extended Module: ') + b'Two tunes'.ljust(20, b' ') + b'\x1a'
    out += b'FastTracker v2.00'.ljust(20, b' ') + struct.pack('<HI', 0x0104, 276)
    out += struct.pack('<8H', 2, 0, 2, 2, 1, 1, 6, 125) + bytes([0, 1]).ljust(256, b'\0')
    for pattern in range(2):
        data = bytearray()
        for row in range(16):
            for channel in range(2):
                note = (49 + 12 * pattern + row, 1, 0x50, 0, 0) if row % 4 == 0 and channel == 0 else (0, 0, 0, 0, 0)
                jump = (0xB, pattern) if row == 15 and channel == 1 else None
                data += bytes(note[:3] + jump if jump else note)
        out += struct.pack('<IBHH', 9, 0, 16, len(data)) + data
    wave = [90] * 16 + [-90] * 16
    header = bytearray(263)
    struct.pack_into('<I22sBHI', header, 0, 263, b'square lead', 0, 1, 40)
    out += header + struct.pack('<IIIBBBBBB22s', len(wave), 0, len(wave), 64, 0, 1, 64, 0, 0, b'square')
    out += bytes((value - previous) & 0xFF for previous, value in zip([0] + wave, wave))
    return bytes(out)


TYPED_EXAMPLE = """
import { TinselPlayer, renderSong, type SongInfo, type Position, type ChannelState } from 'tinsel-player';

export async function start(context: AudioContext, bytes: ArrayBuffer): Promise<SongInfo> {
  const player: TinselPlayer = await TinselPlayer.create(context, { destination: context.destination });
  const song: SongInfo = await player.load(new Uint8Array(bytes));
  const first: number = song.subsongs[0].startOrder + song.subsongs[0].length + song.orders;
  player.stereoSeparation = 50;
  player.tempo = 1.5;
  player.pitch = 0.5;
  player.repeatCount = 0;
  player.setChannelMuted(0, true);
  player.addEventListener('position', (event) => {
    const at: Position = event.position;
    console.log(at.order, at.pattern, at.row, at.seconds, first);
  });
  player.addEventListener('ended', () => player.selectSubsong(0));
  player.play();
  player.seek(10);
  player.pause();
  const channels: ChannelState[] = player.channels;
  const c = channels[0];
  const node: AudioNode = player.node;
  console.log(c.note + c.instrument + c.volume + c.panning + c.levelLeft + c.levelRight, node);
  console.log(song.title + song.tracker + song.format + song.instruments.join(','), song.channels, song.length);
  const pcm: Int16Array = await renderSong(bytes, { rate: 48000, seconds: 2 });
  const floats: Float32Array = await renderSong(bytes, { format: 'f32', subsong: 0, stereoSeparation: 100 });
  console.log(pcm.length, floats.length);
  return song;
}
"""

NODE_SCRIPT = """
import { readFile, writeFile } from 'node:fs/promises';
import { renderSong } from 'tinsel-player';
const song = await readFile(process.argv[2]);
await writeFile('node-s16.raw', await renderSong(song));
await writeFile('node-f32.raw', await renderSong(new Uint8Array(song), { format: 'f32', seconds: %d }));
let reason = 'no rejection';
try { await renderSong(new TextEncoder().encode('Not a song.\\n')); } catch (error) { reason = error.message; }
await writeFile('node-refusal.txt', reason);
// The options beside tinsel-render's own (SETTINGS): each render to a file.
const settings = JSON.parse(process.argv[3]);
for (const [i, [name, options]] of settings.entries())
  await writeFile(`node-setting-${i}.raw`, await renderSong(await readFile(name), options));
let refusedSubsong = 'no rejection';
try { await renderSong(await readFile('tunes.xm'), { subsong: 2 }); } catch (error) { refusedSubsong = error.message; }
await writeFile('node-refusal-subsong.txt', refusedSubsong);
""" % SECONDS


# renderSong's options and tinsel-render's flags for the same render.
SETTINGS = [
    ('song.xm', {'stereoSeparation': 0, 'seconds': 4}, ['--stereo', '0', '--seconds', '4']),
    ('song.xm', {'stereoSeparation': 170, 'tempo': 1.5, 'pitch': 0.8, 'seconds': SECONDS},
     ['--stereo', '170', '--tempo', '1.5', '--pitch', '0.8', '--seconds', str(SECONDS)]),
    ('song.xm', {'rate': 48000, 'tempo': 2}, ['--rate', '48000', '--tempo', '2']),
    ('tunes.xm', {'subsong': 1}, ['--subsong', '1']),
    ('tunes.xm', {'subsong': 1, 'repeatCount': 3}, ['--subsong', '1', '--loops', '3']),
]


PAGE = """<!doctype html>
<meta charset="utf-8">
<title>tinsel-player as installed</title>
<link rel="icon" href="data:,">
<script type="importmap">{ "imports": { "tinsel-player": "./node_modules/tinsel-player/index.js" } }</script>
<script type="module">
import { TinselPlayer, renderSong } from 'tinsel-player';
window.results = { rows: 0, ended: false };
window.pcmBase64 = (pcm) => {
  const bytes = new Uint8Array(pcm.buffer); let s = '';
  for (let i = 0; i < bytes.length; i += 8192) s += String.fromCharCode(...bytes.subarray(i, i + 8192));
  return btoa(s);
};
window.playLive = async () => {
  const context = new AudioContext({ sampleRate: 44100 });
  const player = await TinselPlayer.create(context);
  const song = await player.load(await (await fetch('song.xm')).arrayBuffer());
  player.addEventListener('position', () => { ++results.rows; });
  player.play();
  window.player = player;
  return song;
};
// The player's sound recorded in an offline context, as 16-bit samples.
window.record = async (seconds) => {
  const context = new OfflineAudioContext(2, seconds * 44100, 44100);
  const player = await TinselPlayer.create(context);
  await player.load(await (await fetch('song.xm')).arrayBuffer());
  await player.play();
  const rendered = await context.startRendering();
  const left = rendered.getChannelData(0), right = rendered.getChannelData(1);
  const pcm = new Int16Array(2 * left.length);
  for (let i = 0; i < left.length; ++i) {
    pcm[2 * i] = Math.round(left[i] * 32768);
    pcm[2 * i + 1] = Math.round(right[i] * 32768);
  }
  return pcmBase64(pcm);
};
// With every channel muted the node is silent; the subsongs as SongInfo has them.
window.mutedAndTunes = async () => {
  const context = new OfflineAudioContext(2, 44100, 44100);
  const player = await TinselPlayer.create(context);
  const song = await player.load(await (await fetch('song.xm')).arrayBuffer());
  for (let i = 0; i < song.channels; ++i) player.setChannelMuted(i, true);
  await player.play();
  const rendered = await context.startRendering();
  const loud = rendered.getChannelData(0).some((v) => v !== 0) || rendered.getChannelData(1).some((v) => v !== 0);
  const tunes = await player.load(await (await fetch('tunes.xm')).arrayBuffer());
  const pattern = await player.pattern(0), width = player.song.cellWidth;
  const cell = (row, channel) => pattern.text.substr((row * tunes.channels + channel) * width, width);
  return { loud, subsongs: tunes.subsongs, rows: pattern.rows, length: pattern.text.length / width,
           cells: [cell(0, 0), cell(15, 1), cell(1, 0)] };
};
window.renderHere = async (seconds) =>
  pcmBase64(await renderSong(await (await fetch('song.xm')).arrayBuffer(), { seconds }));
window.refusal = async () => {
  const context = new AudioContext({ sampleRate: 44100 });
  const player = await TinselPlayer.create(context);
  try { await player.load(new TextEncoder().encode('Not a song.\\n')); return 'no rejection'; }
  catch (error) { return error.message; }
  finally { context.close(); }
};
window.ready = true;
</script>
"""


def first_difference(a, b):
    same = next((i for i, (x, y) in enumerate(zip(a, b)) if x != y), min(len(a), len(b)))
    return None if same == len(a) == len(b) else same


def compare(what, got, reference, bytes_per_frame, failures):
    at = first_difference(got, reference)
    print(f'package: {what}: {len(got) // bytes_per_frame} frames, tinsel-render {len(reference) // bytes_per_frame}, '
          + ('alike' if at is None else f'alike to frame {at // bytes_per_frame}'))
    if at is not None:
        failures.append(f'{what} differs from tinsel-render\'s from frame {at // bytes_per_frame} on')


def evaluate(browser, expression, timeout=60):
    result = browser.call('Runtime.evaluate', awaitPromise=True, returnByValue=True, timeout=timeout,
                          expression=expression)
    if 'exceptionDetails' in result:
        raise RuntimeError(f'{expression}: {result["exceptionDetails"]}')
    return result['result'].get('value')


def run_page(chromium, scratch, references, failures):
    server = serve(scratch)
    browser = Browser(chromium, size=(640, 480))
    try:
        browser.call('Page.navigate', url='http://127.0.0.1:%d/index.html' % server.server_address[1])
        if not browser.wait_for('window.ready === true', 20):
            failures.append('the page does not import the package through its import map')
            return
        song = evaluate(browser, 'playLive()')
        print('package: SongInfo in the page:', json.dumps({k: v for k, v in song.items() if k != 'instruments'}))
        if song['title'] != 'Tinselbay' or song['channels'] < 1 or not song['instruments'] or \
                song['subsongs'][0]['startOrder'] != 0 or abs(song['subsongs'][0]['length'] - song['length']) > 1e-6:
            failures.append(f'the page loads {song}')
        first = evaluate(browser, 'player.position')
        time.sleep(1.5)
        later = evaluate(browser, 'player.position')
        rows = evaluate(browser, 'results.rows')
        print(f'package: position {first} then {later}; {rows} position events in 1.5 s')
        if not 0.8 < later['seconds'] - first['seconds'] < 2.5 or (later['order'], later['row']) <= (
                first['order'], first['row']) or rows < 4:
            failures.append(f'the position does not advance as heard: {first} then {later}, {rows} events')
        channels = evaluate(browser, 'player.channels')
        sounding = [c for c in channels if c['note'] > 0 and c['instrument'] > 0 and max(c['levelLeft'], c['levelRight']) > 0]
        print(f'package: {len(sounding)} of {len(channels)} channels heard sounding, e.g. {sounding[:1]}')
        if len(channels) != song['channels'] or not sounding or \
                any(not 0 <= c['volume'] <= 64 or not 0 <= c['panning'] <= 255 for c in channels):
            failures.append(f'the channels heard are {channels}')
        muted = evaluate(browser, 'mutedAndTunes()')
        if muted['loud']:
            failures.append('with every channel muted the player is not silent')
        expected = [{'startOrder': 0, 'length': SUBSONG_FRAMES / 44100}, {'startOrder': 1, 'length': SUBSONG_FRAMES / 44100}]
        if muted['subsongs'] != expected:
            failures.append(f'the subsongs of two tunes are {muted["subsongs"]}, not {expected}')
        cells = ['C-4 01 v40 ...', '... .. ... B00', '... .. ... ...']
        if (muted['rows'], muted['length'], muted['cells']) != (16, 32, cells):
            failures.append(f'pattern 0 of two tunes reads {muted["rows"]} rows, {muted["length"]} cells, '
                            f'{muted["cells"]}, not 16, 32, {cells}')
        pcm = base64.b64decode(evaluate(browser, f'record({SECONDS})', 120))
        compare('the page\'s recorded sound', pcm, references['s16'][:len(pcm)], 4, failures)
        if len(pcm) != SECONDS * 44100 * 4:
            failures.append(f'the page recorded {len(pcm) // 4} frames')
        pcm = base64.b64decode(evaluate(browser, f'renderHere({SECONDS})', 120))
        compare('renderSong in the page', pcm, references['s16'][:SECONDS * 44100 * 4], 4, failures)
        reason = evaluate(browser, 'refusal()')
        if reason != NOT_A_MODULE:
            failures.append(f'a file that is no module is refused in the page with {reason!r}')
        failures.extend(browser.console_problems())
    finally:
        browser.close()
        server.shutdown()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('package')
    parser.add_argument('--render', required=True, help='the Linux build of tinsel-render')
    parser.add_argument('--song', required=True, help="the demo's song, assets/song/tinselbay.xm")
    parser.add_argument('--chromium', default='/usr/bin/chromium-headless-shell')
    args = parser.parse_args()

    failures = []
    started = time.monotonic()
    size = os.path.getsize(args.package)
    print(f'package: {os.path.basename(args.package)} is {size} bytes (gzip), at most {MOST_GZIP}')
    if size > MOST_GZIP:
        failures.append(f'the package is {size} bytes packed, more than {MOST_GZIP}')
    scratch = tempfile.mkdtemp(prefix='tinsel-package-')
    try:
        with open(os.path.join(scratch, 'package.json'), 'w') as out:
            json.dump({'name': 'scratch', 'version': '1.0.0', 'private': True, 'type': 'module'}, out)
        subprocess.run(['npm', 'install', '--offline', '--no-audit', '--no-fund', '--loglevel=error',
                        os.path.abspath(args.package)], cwd=scratch, check=True, timeout=120)
        installed = os.path.join(scratch, 'node_modules')
        if sorted(os.listdir(installed)) not in (['tinsel-player'], ['.package-lock.json', 'tinsel-player']):
            failures.append(f'the install brought {sorted(os.listdir(installed))}')
        with open(os.path.join(installed, 'tinsel-player', 'package.json')) as manifest:
            if json.load(manifest).get('dependencies'):
                failures.append('the package has runtime dependencies')

        # The types, against an example that uses every name.
        if shutil.which('tsc'):
            with open(os.path.join(scratch, 'example.ts'), 'w') as out:
                out.write(TYPED_EXAMPLE)
            checked = subprocess.run(['tsc', '--noEmit', '--strict', '--target', 'es2020', '--module', 'es2020',
                                      '--moduleResolution', 'node', '--lib', 'es2020,dom', 'example.ts'],
                                     cwd=scratch, capture_output=True, text=True, timeout=120)
            print('package: tsc --noEmit of a typed example:', 'clean' if checked.returncode == 0 else 'errors')
            if checked.returncode != 0:
                failures.append('the declarations do not check: ' + checked.stdout.strip())
        else:
            print('SKIP the types check: tsc is not installed (Debian package node-typescript)')

        # Node: the whole song, and floats, as tinsel-render writes them.
        song = os.path.join(scratch, 'song.xm')
        shutil.copy(args.song, song)
        references = {}
        for name, flags, header in (('s16', [], 44), ('f32', ['--float', '--seconds', str(SECONDS)], 58)):
            wav = os.path.join(scratch, f'render-{name}.wav')
            subprocess.run([args.render, song, '--quiet', '-o', wav, *flags], check=True, timeout=120)
            with open(wav, 'rb') as data:
                references[name] = data.read()[header:]
        with open(os.path.join(scratch, 'tunes.xm'), 'wb') as out:
            out.write(two_tunes())
        with open(os.path.join(scratch, 'node.mjs'), 'w') as out:
            out.write(NODE_SCRIPT)
        settings = [[name, options] for name, options, _ in SETTINGS]
        subprocess.run(['node', 'node.mjs', song, json.dumps(settings)], cwd=scratch, check=True, timeout=300)
        for i, (name, options, flags) in enumerate(SETTINGS):
            wav = os.path.join(scratch, f'setting-{i}.wav')
            subprocess.run([args.render, os.path.join(scratch, name), '--quiet', '-o', wav, *flags], check=True,
                           timeout=120)
            with open(wav, 'rb') as reference, open(os.path.join(scratch, f'node-setting-{i}.raw'), 'rb') as got:
                compare(f'renderSong of {name} with {json.dumps(options)}', got.read(), reference.read()[44:], 4,
                        failures)
        with open(os.path.join(scratch, 'node-refusal-subsong.txt')) as reason:
            reason = reason.read()
            if reason != 'the song has no subsong 2':
                failures.append(f'a third subsong of two is refused with {reason!r}')
        for name, frame_bytes in (('s16', 4), ('f32', 8)):
            with open(os.path.join(scratch, f'node-{name}.raw'), 'rb') as data:
                compare(f'renderSong in Node, {name}', data.read(), references[name], frame_bytes, failures)
        with open(os.path.join(scratch, 'node-refusal.txt')) as reason:
            reason = reason.read()
            if reason != NOT_A_MODULE:
                failures.append(f'a file that is no module is refused in Node with {reason!r}')

        with open(os.path.join(scratch, 'index.html'), 'w') as out:
            out.write(PAGE)
        if os.access(args.chromium, os.X_OK):
            run_page(args.chromium, scratch, references, failures)
        else:
            print(f'SKIP the page half: {args.chromium} is not there')
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    for failure in failures:
        print('FAIL:', failure)
    print(f'package test took {time.monotonic() - started:.1f} s: ' + ('passed' if not failures else 'failed'))
    return 0 if not failures else 1


if __name__ == '__main__':
    sys.exit(main())
