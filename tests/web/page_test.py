#!/usr/bin/env python3
"""Opens the web build in headless Chromium from a server on 127.0.0.1 and
checks what a viewer would see and hear: the scene with its bars and
scrollers, a moving picture, sound that plays on, a clean console, Escape
bringing the overlay back, the picture against the snapshot tool's after long
frames, sound that stays unbroken while the page is busy or hidden, and the
error text where WebGL is missing or a picture is damaged.

usage: page_test.py SITE_DIR --song WAV --snapshots DIR [--chromium PATH] [--keep DIR]
"""
import argparse
import base64
import json
import os
import re
import sys
import time

from browser import HEIGHT, WIDTH, Browser, serve


class Picture:
    """The screenshot seen through the canvas's 640 x 480 coordinates."""

    def __init__(self, rows, rect):
        self.rows, self.rect = rows, rect

    def at(self, x, y):
        r = self.rect
        return self.rows[int(r['y'] + (y + 0.5) * r['height'] / 480)][int(r['x'] + (x + 0.5) * r['width'] / 640)]

    def band(self, y0, y1, step=4):
        return [self.at(x, y) for y in range(y0, y1, 2) for x in range(0, 640, step)]


def dark(p):
    return max(p) < 24


def green(p):
    return p[1] > 90 and p[1] > 2 * p[0] and p[1] > 2 * p[2]


def red(p):
    return p[0] > 70 and p[0] > 2 * p[1] and p[0] > 2 * p[2]


def check_scene(picture, failures, when='', red_text=True):
    before = len(failures)
    top, bottom, middle = picture.band(1, 45), picture.band(436, 480), picture.band(60, 420)
    if sum(map(dark, top)) < 0.6 * len(top) or sum(map(dark, bottom)) < 0.6 * len(bottom):
        failures.append('the top and bottom bars are not black')
    if not any(map(green, top)):
        failures.append('no green text in the top bar')
    if red_text and not any(map(red, bottom)):
        failures.append('no red text in the bottom bar')
    lit = sum(sum(p) / 3 for p in middle) / len(middle)
    if lit < 60 or sum(map(dark, middle)) > 0.2 * len(middle):
        failures.append(f'the picture between the bars is not lit (mean level {lit:.0f})')
    if when:
        failures[before:] = [f'{when}: {text}' for text in failures[before:]]


def check_frame(rows, rect, failures):
    """The page around a 4:3 picture is the page's own dark background."""
    if abs(rect['width'] / rect['height'] - 4 / 3) > 0.01 or abs(rect['height'] - HEIGHT) > 1:
        failures.append(f'the picture is not scaled to the view at 4:3: {rect}')
    side = rows[HEIGHT // 2][int(rect['x'] // 2)]
    if not dark(side):
        failures.append(f'the page beside the picture is not dark: {side}')


def run_demo(chromium, url, keep, failures):
    browser = Browser(chromium)
    try:
        browser.call('Page.navigate', url=url + '?autostart')
        if not browser.wait_for("window.tinselState === 'running'", 60):
            failures.append('the page did not start by itself with autostart: state %s' %
                            browser.evaluate('window.tinselState'))
            return
        time.sleep(3)
        rect = browser.evaluate("(() => { const r = document.getElementById('canvas').getBoundingClientRect();"
                                " return {x: r.x, y: r.y, width: r.width, height: r.height}; })()")
        sound0 = browser.evaluate('({...window.tinselAudio, frames2: Module.frames, t: performance.now()})')
        first = browser.screenshot()
        time.sleep(0.5)
        second = browser.screenshot()
        time.sleep(1.5)
        sound1 = browser.evaluate('({...window.tinselAudio, frames2: Module.frames, t: performance.now()})')
        seconds = (sound1['t'] - sound0['t']) / 1000
        fps = (sound1['frames2'] - sound0['frames2']) / seconds
        print(f'page: {fps:.1f} frames/s under swiftshader; sound {sound1["frames"]} frames played, '
              f'{sound1["blocks"]} blocks rendered, last level {sound1["level"]:.3f}')
        if keep:
            write_ppm(os.path.join(keep, 'page.ppm'), first)

        check_frame(first, rect, failures)
        check_scene(Picture(first, rect), failures)
        a, b = Picture(first, rect).band(50, 430, 8), Picture(second, rect).band(50, 430, 8)
        if sum(p != q for p, q in zip(a, b)) < 0.02 * len(a):
            failures.append('the picture did not move in half a second')
        # 20 ms blocks re-rendered as the page plays them, about 50 a second.
        played = (sound1['frames'] - sound0['frames']) / 44100
        blocks = sound1['blocks'] - sound0['blocks']
        if played < 0.5 * seconds or blocks < 25 * seconds:
            failures.append(f'sound does not keep up: {played:.2f} s played, {blocks} blocks rendered '
                            f'in {seconds:.2f} s')
        if sound1['level'] < 0.01:
            failures.append(f'the sound is silent (level {sound1["level"]})')
        if fps < 1:
            failures.append(f'the demo draws no frames ({fps:.2f}/s)')

        # F toggles full screen, on and off again.
        for want in (True, False):
            browser.press('f', 'KeyF', 70)
            if not browser.wait_for('!!document.fullscreenElement === %s' % ('true' if want else 'false'), 5):
                failures.append('F did not turn full screen %s' % ('on' if want else 'off'))

        # Escape stops the demo and the overlay comes back; sound stops too.
        browser.press('Escape', 'Escape', 27)
        if not browser.wait_for("window.tinselState === 'waiting' && !document.getElementById('overlay').hidden"
                                " && document.getElementById('prompt').textContent === 'click to start'", 10):
            failures.append('Escape did not bring the "click to start" overlay back: %s' % browser.evaluate(
                "JSON.stringify([window.tinselState, document.getElementById('overlay').hidden,"
                " document.getElementById('prompt').textContent])"))
        else:
            heard = browser.evaluate('window.tinselAudio.frames')
            time.sleep(0.5)
            if browser.evaluate('window.tinselAudio.frames') != heard:
                failures.append('sound goes on after Escape')
            # A click on the overlay starts the demo again, picture and sound.
            shown = browser.evaluate('Module.frames')
            for kind in ('mousePressed', 'mouseReleased'):
                browser.call('Input.dispatchMouseEvent', type=kind, x=WIDTH // 2, y=HEIGHT // 2,
                             button='left', clickCount=1)
            if not browser.wait_for("window.tinselState === 'running' && Module.frames > %d && "
                                    "window.tinselAudio.frames > %d" % (shown + 5, heard + 44100), 20):
                failures.append('a click after Escape did not start the demo again')
        failures.extend(browser.console_problems())
    finally:
        browser.close()


# A recorder behind the player's node, on the audio thread too: every quantum
# it is given, as 16-bit values (the player's floats are 16-bit values / 32768,
# so this is exact), and a quantum with no input as silence.
TAP = r"""
class Tap extends AudioWorkletProcessor {
  constructor() {
    super();
    this.buffer = new Int16Array(2 * 8192);
    this.used = 0;
    this.recording = true;
    this.port.onmessage = () => { this.recording = false; this.flush(); this.port.postMessage({ done: true }); };
  }
  process(inputs, outputs) {
    const input = inputs[0];
    if (!this.recording) return true;
    for (let i = 0; i < 128; ++i) {
      this.buffer[this.used++] = input.length >= 2 ? Math.round(input[0][i] * 32768) : 0;
      this.buffer[this.used++] = input.length >= 2 ? Math.round(input[1][i] * 32768) : 0;
      if (this.used === this.buffer.length) this.flush();
    }
    return true;
  }
  flush() {
    if (this.used) this.port.postMessage({ pcm: this.buffer.slice(0, this.used) });
    this.used = 0;
  }
}
registerProcessor('tinsel-tap', Tap);
"""

# Before the page's own scripts: the first node connected to the speakers is the player's.
CATCH_NODE = """
(() => {
  const connect = AudioNode.prototype.connect;
  AudioNode.prototype.connect = function (...args) {
    if (args[0] instanceof AudioDestinationNode && !window.tinselPlayerNode) window.tinselPlayerNode = this;
    return connect.apply(this, args);
  };
})();
"""


def start_tap(browser):
    browser.call('Runtime.evaluate', awaitPromise=True, expression=(
        "(async () => { const context = Module.audioContext;"
        " window.tinselTapModule = window.tinselTapModule ||"
        "   context.audioWorklet.addModule(URL.createObjectURL(new Blob([%s], {type: 'text/javascript'})));"
        " await tinselTapModule;"
        " const tap = new AudioWorkletNode(context, 'tinsel-tap', {numberOfInputs: 1, numberOfOutputs: 1});"
        " if (window.tinselTap) tinselTap.node.disconnect();"
        " window.tinselTap = {node: tap, chunks: [], done: false};"
        " tap.port.onmessage = (e) => { if (e.data.pcm) tinselTap.chunks.push(e.data.pcm); else tinselTap.done = true; };"
        " tinselPlayerNode.connect(tap); tap.connect(context.destination); })()" % json.dumps(TAP)))


def stop_tap(browser):
    """The recording as little-endian 16-bit stereo bytes."""
    browser.evaluate('tinselTap.node.port.postMessage(0)')
    if not browser.wait_for('tinselTap.done', 10):
        raise RuntimeError('the recorder did not finish')
    encoded = browser.evaluate(
        "(() => { let s = ''; for (const c of tinselTap.chunks) { const b = new Uint8Array(c.buffer);"
        " for (let i = 0; i < b.length; i += 8192) s += String.fromCharCode(...b.subarray(i, i + 8192)); }"
        " return btoa(s); })()")
    return base64.b64decode(encoded)


def longest_silence(pcm):
    """Frames of the longest run of zero frames."""
    longest = run = 0
    for i in range(0, len(pcm), 4):
        run = run + 1 if pcm[i:i + 4] == b'\0\0\0\0' else 0
        longest = max(longest, run)
    return longest


def check_unbroken(pcm, song, what, failures):
    """The recording is one stretch of the song as rendered offline: nothing
    missing, nothing repeated, no silence put in."""
    seconds = len(pcm) / 4 / 44100
    at = song.find(pcm[:4096])
    while at >= 0 and at % 4:
        at = song.find(pcm[:4096], at + 1)
    if at < 0:
        failures.append(f'{what}: the first 1024 frames recorded are nowhere in the song')
        return
    same = 0
    while same < len(pcm) and same + at < len(song) and pcm[same] == song[at + same]:
        same += 1
    print(f'{what}: {seconds:.2f} s recorded from {at / 4 / 44100:.2f} s into the song, '
          f'{same / 4 / 44100:.2f} s of it unbroken; longest silence {longest_silence(pcm)} frames')
    if same < len(pcm):
        failures.append(f'{what}: the sound breaks {same / 4 / 44100:.3f} s into the recording '
                        f'(longest silence {longest_silence(pcm)} frames)')


def run_sound(chromium, url, song, failures):
    """The sound goes on, unbroken, while the page's main thread is blocked for
    300 ms, and while the page is hidden (the window minimised) and shown again."""
    browser = Browser(chromium)
    try:
        browser.call('Page.addScriptToEvaluateOnNewDocument', source=CATCH_NODE)
        browser.call('Page.navigate', url=url + '?autostart')
        if not browser.wait_for("window.tinselState === 'running' && window.tinselAudio.frames > 44100", 60):
            failures.append('the page does not play')
            return
        start_tap(browser)
        time.sleep(0.5)
        browser.evaluate('(() => { const t = performance.now(); while (performance.now() - t < 300); })()')
        time.sleep(0.7)
        check_unbroken(stop_tap(browser), song, 'main thread blocked for 300 ms', failures)

        start_tap(browser)
        shown = browser.evaluate('Module.frames')
        browser.evaluate("window.visibility = []; document.addEventListener('visibilitychange',"
                         " () => visibility.push(document.visibilityState))")
        window = browser.window()
        browser.browser_call('Browser.setWindowBounds', windowId=window, bounds={'windowState': 'minimized'})
        time.sleep(3)
        drawn_hidden = browser.evaluate('Module.frames') - shown
        browser.browser_call('Browser.setWindowBounds', windowId=window, bounds={'windowState': 'normal'})
        shown = browser.evaluate('Module.frames')
        if not browser.wait_for('Module.frames > %d + 10' % shown, 10):
            failures.append('the page draws no frames after it was shown again')
        time.sleep(0.5)
        pcm = stop_tap(browser)
        visibility = browser.evaluate('visibility')
        if visibility != ['hidden', 'visible']:
            failures.append(f'minimising and restoring the window did not hide and show the page: {visibility}')
        elif drawn_hidden > 2:
            failures.append(f'the hidden page drew {drawn_hidden} frames')
        check_unbroken(pcm, song, 'hidden for 3 s and shown again', failures)
        level = browser.evaluate('window.tinselAudio.level')
        if level < 0.01:
            failures.append(f'silence after the page was shown again (level {level})')
        rect = browser.evaluate("(() => { const r = document.getElementById('canvas').getBoundingClientRect();"
                                " return {x: r.x, y: r.y, width: r.width, height: r.height}; })()")
        # The moment shown is not known to the frame here, and the red text has
        # its gaps (7.5 to 9 s): run_moments checks the scene after long frames
        # exactly, on the manual clock.
        check_scene(Picture(browser.screenshot(), rect), failures, 'after the page was hidden and shown',
                    red_text=False)
        failures.extend(browser.console_problems())
    finally:
        browser.close()


# Before the page's own scripts: the page's clock is a manual one that moves a
# 60th of a second at each animation frame, as the snapshot tool steps its
# clock, and jumps ahead where a page hidden for a while would find it.
MANUAL_CLOCK = """
(() => {
  let now = 0;
  performance.now = () => now;
  const frame = window.requestAnimationFrame.bind(window);
  const clock = window.tinselClock = { jumps: %s, holdAt: 0, held: null };
  // Frame k (counted from the scene's first, drawn at 0) is drawn at k / 60 s
  // plus the jumps [frame, seconds] at or before it; frame holdAt stays on screen.
  clock.resume = (callback) => {
    const next = Module.frames;
    if (next > clock.holdAt) { clock.held = callback; return; }
    now = next * 1000 / 60;
    for (const [at, seconds] of clock.jumps) if (next >= at) now += seconds * 1000;
    callback(now);
  };
  clock.release = () => { const held = clock.held; clock.held = null; if (held) clock.resume(held); };
  window.requestAnimationFrame = (callback) => frame(() => clock.resume(callback));
})();
"""

# Two long frames (the page hidden meanwhile): from 2 s to 11.5 s, which leaves
# the scrollers' text far behind unless the frame is gone through in steps, and
# from 12.5 s to 15.5 s, across the pan's turn at 12.8 s, which throws the pan
# past its end into black unless so.
JUMPS = ((120, 9.5), (180, 3.0))
MOMENTS = (12, 16, 20)


def frame_at(seconds):
    """The frame the manual clock draws at seconds."""
    jumped = sum(jump for at, jump in JUMPS if (at / 60 + sum(j for a, j in JUMPS if a <= at)) <= seconds)
    return round((seconds - jumped) * 60)


# Regions of the 640 x 480 picture: the scrollers over the bars, the picture between.
# Measured with the long frames gone through in steps: the picture 100 % alike
# (mean difference 0.07 at most), the green scroller 99.9 % (0.05); the red one
# 98 to 99.4 % (up to 0.26), as WebGL's emulation shades its fading letters
# smoothly where the desktop steps them. Taken whole, the long frames leave
# 86 % (4.3) of the red scroller at 12 s and half the picture at 16 and 20 s.
LEAST_ALIKE, MOST_DIFFERENCE = 0.96, 1.0
REGIONS = (('top scroller', 0, 60), ('picture', 60, 420), ('bottom scroller', 420, 480))


def compare(page, snapshot, y0, y1):
    """Fraction of pixels alike (every channel within 8) and mean absolute
    difference per channel."""
    alike = total = 0
    for y in range(y0, y1):
        for p, q in zip(page[y], snapshot[y]):
            d = (abs(p[0] - q[0]), abs(p[1] - q[1]), abs(p[2] - q[2]))
            alike += max(d) <= 8
            total += sum(d)
    count = (y1 - y0) * 640
    return alike / count, total / (3 * count)


def run_moments(chromium, url, snapshots, failures):
    """Screenshots at 12, 16 and 20 s on the manual clock, after a long frame,
    against the snapshot tool's frames at those moments."""
    browser = Browser(chromium, size=(640, 480))
    try:
        browser.call('Page.addScriptToEvaluateOnNewDocument', source=MANUAL_CLOCK % json.dumps(JUMPS))
        browser.call('Page.navigate', url=url + '?autostart')
        if not browser.wait_for("window.tinselState === 'running'", 60):
            failures.append('the page did not start')
            return
        rect = browser.evaluate("(() => { const r = document.getElementById('canvas').getBoundingClientRect();"
                                " return [r.x, r.y, r.width, r.height].map(Math.round); })()")
        if rect != [0, 0, 640, 480]:
            failures.append(f'the canvas is not shown at 640 x 480 in a 640 x 480 window: {rect}')
            return
        for moment in MOMENTS:
            frame = frame_at(moment)
            browser.evaluate(f'tinselClock.holdAt = {frame}; tinselClock.release()')
            if not browser.wait_for(f'Module.frames === {frame + 1} && !!tinselClock.held', 120):
                failures.append(f'the page did not reach frame {frame}')
                return
            page = browser.screenshot()
            with open(os.path.join(snapshots, 'frame-%.2f.png' % moment), 'rb') as png:
                snapshot = browser.decode_png(base64.b64encode(png.read()).decode())
            for name, y0, y1 in REGIONS:
                alike, mean = compare(page, snapshot, y0, y1)
                print(f'{moment} s, {name}: {100 * alike:.2f} % of pixels alike, mean difference {mean:.2f}')
                if alike < LEAST_ALIKE or mean > MOST_DIFFERENCE:
                    failures.append(f'at {moment} s the page\'s {name} differs from the snapshot\'s: '
                                    f'{100 * alike:.2f} % of pixels alike, mean difference {mean:.2f}')
    finally:
        browser.close()


def run_without_webgl(chromium, url, failures):
    browser = Browser(chromium, ['--disable-webgl', '--disable-3d-apis'])
    try:
        browser.call('Page.navigate', url=url + '?autostart')
        shown = "document.getElementById('error').hidden === false && " \
                "document.getElementById('error-text').textContent"
        if not browser.wait_for(shown, 60):
            failures.append('without WebGL the page shows no error')
        else:
            text = browser.evaluate("document.getElementById('error').textContent")
            if text != 'ErrorwglCreateContext() failed!':
                failures.append(f'without WebGL the page says {text!r}')
    finally:
        browser.close()


def run_with_damaged_picture(chromium, url, site, failures):
    """The data package served with one picture's type byte spoilt: the
    program's own error path must put its message on the page."""
    with open(os.path.join(site, 'tinselbay.js')) as script:
        start = int(re.search(r'"filename":"/data/koala.tga","start":(\d+)', script.read()).group(1))
    with open(os.path.join(site, 'tinselbay.data'), 'rb') as package:
        data = bytearray(package.read())
    data[start + 2] = 9  # a run-length coded TGA, which the loader does not read
    browser = Browser(chromium)
    try:
        browser.call('Fetch.enable', patterns=[{'urlPattern': '*tinselbay.data'}])
        browser.call('Page.navigate', url=url + '?autostart')
        paused = browser.wait_event('Fetch.requestPaused')
        browser.call('Fetch.fulfillRequest', requestId=paused['requestId'], responseCode=200,
                     responseHeaders=[{'name': 'Content-Type', 'value': 'application/octet-stream'}],
                     body=base64.b64encode(bytes(data)).decode())
        expected = "ErrorLoadImage(): 'data/koala.tga' is not an uncompressed truecolour TGA!"
        if not browser.wait_for("document.getElementById('error').hidden === false", 60):
            failures.append('a damaged picture shows no error on the page')
        elif browser.evaluate("document.getElementById('error').textContent") != expected:
            failures.append('a damaged picture shows %r' % browser.evaluate(
                "document.getElementById('error').textContent"))
        if not browser.wait_for("window.tinselState === 'waiting'", 10):
            failures.append('after the error the page does not offer to start again')
    finally:
        browser.close()


def write_ppm(path, rows):
    with open(path, 'wb') as out:
        out.write(b'P6 %d %d 255\n' % (len(rows[0]), len(rows)))
        out.write(bytes(c for row in rows for p in row for c in p))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('site')
    parser.add_argument('--chromium', default='/usr/bin/chromium-headless-shell')
    parser.add_argument('--song', required=True,
                        help="the demo's song rendered offline (tinsel-render --embedded, 16-bit WAV at 44100 Hz)")
    parser.add_argument('--snapshots', required=True,
                        help='the snapshot tool\'s frames at %s s' % ', '.join(map(str, MOMENTS)))
    parser.add_argument('--keep', help='folder for the screenshot')
    args = parser.parse_args()
    server = serve(args.site)
    url = 'http://127.0.0.1:%d/index.html' % server.server_address[1]
    failures = []
    started = time.monotonic()
    run_demo(args.chromium, url, args.keep, failures)
    counts = [len(failures)]
    run_moments(args.chromium, url, args.snapshots, failures)
    counts.append(len(failures))
    with open(args.song, 'rb') as wav:
        song = wav.read()[44:]
    run_sound(args.chromium, url, song, failures)
    counts.append(len(failures))
    run_without_webgl(args.chromium, url, failures)
    counts.append(len(failures))
    run_with_damaged_picture(args.chromium, url, args.site, failures)
    counts.append(len(failures))
    server.shutdown()
    for failure in failures:
        print('FAIL:', failure)
    cases = len(counts)
    failed = sum(1 for before, after in zip([0] + counts, counts) if after > before)
    print(f'page test took {time.monotonic() - started:.1f} s')
    print(f'{cases - failed} passed, {failed} failed')
    return 0 if not failures else 1


if __name__ == '__main__':
    sys.exit(main())
