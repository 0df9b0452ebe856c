#!/usr/bin/env python3
"""Opens the module player page (player.html) in headless Chromium from a
server on 127.0.0.1 and plays the demo's song on it as a listener would: its
title, position and time, the terminal player's keys, seeking by order and by
the time bar, a clear message for files that are no songs, and its sound the
same bytes as tinsel-render's for the same stretch.

usage: player_test.py SITE_DIR --render TINSEL_RENDER --song SONG.xm [--chromium PATH] [--keep DIR]
"""
import argparse
import base64
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

from browser import Browser, serve

SECONDS = 10  # the stretch whose bytes are compared


def text(browser, element):
    return browser.evaluate(f"document.getElementById('{element}').textContent")


def seconds_of(shown):
    minutes, rest = shown.split(':')
    return int(minutes) * 60 + float(rest)


def key(browser, name, code, virtual_key, text_=''):
    for kind in ('keyDown', 'keyUp'):
        browser.call('Input.dispatchKeyEvent', type=kind, key=name, code=code, text=text_ if kind == 'keyDown' else '',
                     windowsVirtualKeyCode=virtual_key, nativeVirtualKeyCode=virtual_key)


def run_playing(browser, url, length, failures):
    """?song= plays the song with its title, position and time; the keys and
    the seeks move it as they say."""
    browser.call('Page.navigate', url=url + '?song=songs/tinselbay.xm')
    if not browser.wait_for('!!(window.tinselPlayer.song && tinselPlayer.status && tinselPlayer.status.frame > 0)',
                            30):
        failures.append('?song= does not play: %s' % text(browser, 'message'))
        return
    if text(browser, 'title') != 'Tinselbay':
        failures.append(f'the title shown is {text(browser, "title")!r}')
    if text(browser, 'length') != length:
        failures.append(f'the length shown is {text(browser, "length")}, tinsel-render says {length}')
    time.sleep(1)
    played = seconds_of(text(browser, 'time'))
    if not 0.5 < played < 10:
        failures.append(f'after a second or so the time shown is {played} s')
    position = browser.evaluate("[...['order', 'pattern', 'row']].map(id => +document.getElementById(id).textContent)")
    status = browser.evaluate('[tinselPlayer.status.order, tinselPlayer.status.pattern, tinselPlayer.status.row]')
    if abs(position[2] - status[2]) > 4 or position[:2] != status[:2]:
        failures.append(f'the position shown {position} is not where the song is {status}')

    # Space pauses and plays on.
    key(browser, ' ', 'Space', 32, ' ')
    time.sleep(0.4)
    paused = text(browser, 'time')
    time.sleep(0.6)
    if text(browser, 'time') != paused or text(browser, 'play') != 'Play':
        failures.append(f'space does not pause: {paused} then {text(browser, "time")}')
    key(browser, ' ', 'Space', 32, ' ')
    if not browser.wait_for(f"document.getElementById('time').textContent !== '{paused}'", 5):
        failures.append('space again does not play on')

    # The arrows move by an order; the order list and the time bar seek.
    order = browser.evaluate('tinselPlayer.status.order')
    key(browser, 'ArrowRight', 'ArrowRight', 39)
    if not browser.wait_for(f'tinselPlayer.status.order === {order + 1}', 5):
        failures.append(f'right arrow: order {browser.evaluate("tinselPlayer.status.order")}, not {order + 1}')
    key(browser, 'ArrowLeft', 'ArrowLeft', 37)
    if not browser.wait_for(f'tinselPlayer.status.order === {order}', 5):
        failures.append(f'left arrow: order {browser.evaluate("tinselPlayer.status.order")}, not {order}')
    browser.evaluate("(() => { const jump = document.getElementById('jump'); jump.value = '5';"
                     " jump.dispatchEvent(new Event('change')); })()")
    if not browser.wait_for('tinselPlayer.status.order === 5 && tinselPlayer.status.row < 8', 5):
        failures.append('choosing order 5 does not play from there: order %d row %d' % tuple(
            browser.evaluate('[tinselPlayer.status.order, tinselPlayer.status.row]')))
    # Dragged to 40 s: played on from the row that starts there or just before.
    browser.evaluate("(() => { const bar = document.getElementById('bar'); bar.value = 40 * 44100;"
                     " bar.dispatchEvent(new Event('input')); bar.dispatchEvent(new Event('change')); })()")
    if not browser.wait_for('Math.abs(tinselPlayer.status.frame / 44100 - 40) < 0.5', 5):
        failures.append(f'the time bar dragged to 40 s plays from {text(browser, "time")}')

    # Dragged to its last second the song ends and waits; space plays it again from its start.
    browser.evaluate("(() => { const bar = document.getElementById('bar'); bar.value = bar.max - 44100;"
                     " bar.dispatchEvent(new Event('input')); bar.dispatchEvent(new Event('change')); })()")
    if not browser.wait_for("tinselPlayer.status.ended && document.getElementById('play').textContent === 'Play'", 10):
        failures.append(f'the song does not end at its length: {text(browser, "time")}')
    key(browser, ' ', 'Space', 32, ' ')
    if not browser.wait_for('!tinselPlayer.status.ended && tinselPlayer.status.frame < 2 * 44100', 5):
        failures.append(f'space after the end does not play the song again: {text(browser, "time")}')

    # q stops: the song goes, and so does its sound.
    key(browser, 'q', 'KeyQ', 81, 'q')
    time.sleep(0.3)
    heard = browser.evaluate('tinselPlayer.status.played')
    time.sleep(0.5)
    if browser.evaluate("!document.getElementById('song').hidden") or \
            browser.evaluate('tinselPlayer.status.played') != heard:
        failures.append('q does not stop the song')


def run_refusals(browser, url, failures):
    """Files that are no songs, given by ?song= or dropped, get a clear message."""
    browser.call('Page.navigate', url=url + '?song=songs/notes.txt')
    expected = 'notes.txt is neither an XM nor a MOD module (no XM text at its start, and too short for a MOD)'
    if not browser.wait_for(f"document.getElementById('message').textContent === '{expected}'", 20):
        failures.append(f'a text file by ?song= shows {text(browser, "message")!r}')
    # A dropped XM that asks for 200 channels, the player's reason after its name.
    browser.evaluate(
        "(() => { const bytes = new Uint8Array(336); bytes.set(new TextEncoder().encode('Extended Module: '));"
        " const view = new DataView(bytes.buffer); view.setUint16(58, 0x104, true); view.setUint32(60, 276, true);"
        " view.setUint16(64, 1, true); view.setUint16(68, 200, true);"
        " const data = new DataTransfer(); data.items.add(new File([bytes], 'wide.xm'));"
        " document.getElementById('drop').dispatchEvent(new DragEvent('drop', {dataTransfer: data})); })()")
    expected = 'wide.xm does not load: 200 channels; the player plays 127 at most'
    if not browser.wait_for(f"document.getElementById('message').textContent === '{expected}'", 20):
        failures.append(f'an XM of 200 channels dropped on the page shows {text(browser, "message")!r}')


def run_same_bytes(browser, url, reference, failures):
    """The player's worklet, run in an offline context, gives tinsel-render's bytes."""
    browser.call('Page.navigate', url=url)
    browser.wait_for('!!window.tinselPackage', 20)
    encoded = browser.call('Runtime.evaluate', awaitPromise=True, returnByValue=True, timeout=60, expression=(
        "(async () => { const context = new OfflineAudioContext(2, %d * 44100, 44100);"
        " const player = await tinselPackage.TinselPlayer.create(context);"
        " const song = await (await fetch('songs/tinselbay.xm')).arrayBuffer();"
        " await player.load(song);"
        " await player.play();"
        " const rendered = await context.startRendering();"
        " const left = rendered.getChannelData(0), right = rendered.getChannelData(1);"
        " const pcm = new Int16Array(2 * left.length);"
        " for (let i = 0; i < left.length; ++i) { pcm[2 * i] = Math.round(left[i] * 32768);"
        "   pcm[2 * i + 1] = Math.round(right[i] * 32768); }"
        " const bytes = new Uint8Array(pcm.buffer); let s = '';"
        " for (let i = 0; i < bytes.length; i += 8192) s += String.fromCharCode(...bytes.subarray(i, i + 8192));"
        " return btoa(s); })()" % SECONDS))
    if 'exceptionDetails' in encoded:
        failures.append(f'the offline render failed: {encoded["exceptionDetails"]}')
        return
    pcm = base64.b64decode(encoded['result']['value'])
    same = next((i for i, (a, b) in enumerate(zip(pcm, reference)) if a != b), min(len(pcm), len(reference)))
    print(f'player: {len(pcm) // 4} frames from the worklet, {len(reference) // 4} from tinsel-render, '
          f'the first {same // 4} alike')
    if len(pcm) != len(reference) or same != len(pcm):
        failures.append(f'the worklet\'s sound differs from tinsel-render\'s from frame {same // 4} on')


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('site')
    parser.add_argument('--render', required=True, help='the Linux build of tinsel-render')
    parser.add_argument('--song', required=True, help="the demo's song, assets/song/tinselbay.xm")
    parser.add_argument('--chromium', default='/usr/bin/chromium-headless-shell')
    parser.add_argument('--keep', help='folder for a screenshot of the page playing')
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix='tinsel-player-')
    try:
        info = subprocess.run([args.render, args.song, '--info'], capture_output=True, text=True, timeout=60).stdout
        length = re.search(r'^Length:\s+(\d+:\d\d\.\d\d\d)', info, re.M).group(1)
        subprocess.run([args.render, args.song, '--seconds', str(SECONDS), '--quiet', '-o',
                        os.path.join(work, 'song.wav')], check=True, timeout=60)
        with open(os.path.join(work, 'song.wav'), 'rb') as wav:
            reference = wav.read()[44:]
        # The site with a folder of songs beside it.
        site = os.path.join(work, 'site')
        os.mkdir(site)
        for name in os.listdir(args.site):
            os.symlink(os.path.abspath(os.path.join(args.site, name)), os.path.join(site, name))
        os.mkdir(os.path.join(site, 'songs'))
        shutil.copy(args.song, os.path.join(site, 'songs', 'tinselbay.xm'))
        with open(os.path.join(site, 'songs', 'notes.txt'), 'w') as notes:
            notes.write('Not a song.\n')

        server = serve(site)
        url = 'http://127.0.0.1:%d/player.html' % server.server_address[1]
        failures, counts = [], []
        started = time.monotonic()
        browser = Browser(args.chromium, size=(900, 560))
        try:
            for case in (lambda: run_playing(browser, url, length, failures),
                         lambda: run_refusals(browser, url, failures),
                         lambda: run_same_bytes(browser, url, reference, failures)):
                case()
                counts.append(len(failures))
            failures.extend(browser.console_problems())
            if args.keep:
                browser.call('Page.navigate', url=url + '?song=songs/tinselbay.xm')
                browser.wait_for('!!(window.tinselPlayer.status && tinselPlayer.status.frame > 3 * 44100)', 30)
                with open(os.path.join(args.keep, 'player.png'), 'wb') as png:
                    png.write(base64.b64decode(browser.call('Page.captureScreenshot', format='png')['data']))
        finally:
            browser.close()
            server.shutdown()
    finally:
        shutil.rmtree(work, ignore_errors=True)
    for failure in failures:
        print('FAIL:', failure)
    failed = sum(1 for before, after in zip([0] + counts, counts) if after > before)
    print(f'player test took {time.monotonic() - started:.1f} s')
    print(f'{len(counts) - failed} passed, {failed} failed')
    return 0 if not failures else 1


if __name__ == '__main__':
    sys.exit(main())
