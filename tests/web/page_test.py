#!/usr/bin/env python3
"""Opens the web build in headless Chromium from a server on 127.0.0.1 and
checks what a viewer would see and hear: the scene with its bars and
scrollers, a moving picture, sound that plays on, a clean console, Escape
bringing the overlay back, and the error text where WebGL is missing.

Chromium is driven over its DevTools pipe (fds 3 and 4), so nothing beyond
the standard library is needed.

usage: page_test.py SITE_DIR [--chromium PATH] [--keep DIR]
"""
import argparse
import base64
import fcntl
import functools
import http.server
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

WIDTH, HEIGHT = 1000, 600  # wider than 4:3, so the page must frame the picture


class Quiet(http.server.SimpleHTTPRequestHandler):
    extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map,
                      '.wasm': 'application/wasm', '.data': 'application/octet-stream'}

    def log_message(self, *args):
        pass


def serve(site):
    server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), functools.partial(Quiet, directory=site))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


class Browser:
    """One headless Chromium with a page attached over the DevTools pipe."""

    def __init__(self, chromium, extra_flags=()):
        self.profile = tempfile.mkdtemp(prefix='tinsel-chromium-')
        to_browser, self._write = os.pipe()
        self._read, from_browser = os.pipe()
        # Above 4, so that placing them at 3 and 4 cannot close one of them.
        to_browser, from_browser = (moved(fd) for fd in (to_browser, from_browser))
        flags = ['--headless', '--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
                 '--autoplay-policy=no-user-gesture-required', '--no-first-run',
                 '--disable-background-networking', '--disable-component-update', '--disable-sync',
                 '--disable-extensions', '--mute-audio', '--remote-debugging-pipe',
                 f'--window-size={WIDTH},{HEIGHT}', f'--user-data-dir={self.profile}', *extra_flags]
        # The shell puts the pipe ends where Chromium looks for them.
        script = f'exec "$0" "$@" 3<&{to_browser} 4>&{from_browser} {to_browser}<&- {from_browser}>&-'
        self.process = subprocess.Popen(['bash', '-c', script, chromium, *flags],
                                        pass_fds=(to_browser, from_browser),
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(to_browser)
        os.close(from_browser)
        self._buffer = b''
        self._next_id = 0
        self.events = []
        self.session = None
        target = self.call('Target.createTarget', url='about:blank')['targetId']
        self.session = self.call('Target.attachToTarget', targetId=target, flatten=True)['sessionId']
        for domain in ('Page', 'Runtime', 'Log'):
            self.call(domain + '.enable')

    def _receive(self, deadline):
        while b'\0' not in self._buffer:
            if time.monotonic() > deadline:
                raise TimeoutError('Chromium did not answer')
            chunk = os.read(self._read, 1 << 20)
            if not chunk:
                raise RuntimeError('Chromium closed its pipe')
            self._buffer += chunk
        message, self._buffer = self._buffer.split(b'\0', 1)
        return json.loads(message)

    def call(self, method, timeout=30, **params):
        self._next_id += 1
        message = {'id': self._next_id, 'method': method, 'params': params}
        if self.session:
            message['sessionId'] = self.session
        os.write(self._write, json.dumps(message).encode() + b'\0')
        deadline = time.monotonic() + timeout
        while True:
            reply = self._receive(deadline)
            if reply.get('id') == self._next_id:
                if 'error' in reply:
                    raise RuntimeError(f'{method}: {reply["error"]}')
                return reply.get('result', {})
            self.events.append(reply)

    def wait_event(self, method, timeout=30):
        for event in self.events:
            if event.get('method') == method:
                self.events.remove(event)
                return event['params']
        deadline = time.monotonic() + timeout
        while True:
            event = self._receive(deadline)
            if event.get('method') == method:
                return event['params']
            self.events.append(event)

    def evaluate(self, expression):
        result = self.call('Runtime.evaluate', expression=expression, returnByValue=True)
        if 'exceptionDetails' in result:
            raise RuntimeError(f'{expression}: {result["exceptionDetails"]}')
        return result['result'].get('value')

    def wait_for(self, expression, timeout):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            try:
                if self.evaluate(expression):
                    return True
            except RuntimeError:
                pass  # the page is not there yet
            time.sleep(0.1)
        return False

    def browser_call(self, method, **params):
        """A call to the browser itself rather than to the page."""
        session, self.session = self.session, None
        try:
            return self.call(method, **params)
        finally:
            self.session = session

    def window(self):
        targets = self.browser_call('Target.getTargets')['targetInfos']
        page = next(t for t in targets if t['type'] == 'page')
        return self.browser_call('Browser.getWindowForTarget', targetId=page['targetId'])['windowId']

    def press(self, key, code, virtual_key):
        """A key held for half a second: the demo looks at its keys between frames."""
        for kind in ('rawKeyDown', 'keyUp'):
            self.call('Input.dispatchKeyEvent', type=kind, key=key, code=code,
                      windowsVirtualKeyCode=virtual_key, nativeVirtualKeyCode=virtual_key)
            time.sleep(0.5)

    def screenshot(self):
        """The page as rows of (r, g, b), the PNG decoded by the browser itself."""
        png = self.call('Page.captureScreenshot', format='png')['data']
        width, rgba = self.call('Runtime.evaluate', awaitPromise=True, returnByValue=True, expression=(
            "(async () => { const b = await createImageBitmap(await (await fetch('data:image/png;base64,%s')).blob());"
            " const g = new OffscreenCanvas(b.width, b.height).getContext('2d'); g.drawImage(b, 0, 0);"
            " const d = g.getImageData(0, 0, b.width, b.height).data; let s = '';"
            " for (let i = 0; i < d.length; i += 8192) s += String.fromCharCode(...d.subarray(i, i + 8192));"
            " return [b.width, btoa(s)]; })()" % png))['result']['value']
        rgba = base64.b64decode(rgba)
        return [[tuple(rgba[i:i + 3]) for i in range(row, row + 4 * width, 4)]
                for row in range(0, len(rgba), 4 * width)]

    def console_problems(self):
        """Console errors, uncaught exceptions, failed loads and WebGL's own errors;
        other warnings (the browser's deprecation notices) are only shown."""
        self.evaluate('0')  # collects the events that came in meanwhile
        found = []
        for event in self.events:
            method, params = event.get('method'), event.get('params', {})
            if method == 'Runtime.consoleAPICalled' and params.get('type') in ('error', 'warning', 'assert'):
                found.append('console.%s: %s' % (params['type'], ' '.join(
                    str(a.get('value', a.get('description', ''))) for a in params.get('args', []))))
            elif method == 'Runtime.exceptionThrown':
                details = params.get('exceptionDetails', {})
                found.append('exception: %s' % details.get('exception', {}).get('description', details.get('text')))
            elif method == 'Log.entryAdded' and params['entry']['level'] in ('error', 'warning'):
                found.append('log %s: %s' % (params['entry']['level'], params['entry']['text']))
        problems = [text for text in found if 'warning' not in text.split(':')[0] or 'WebGL' in text]
        for text in found:
            if text not in problems:
                print('note:', text)
        return problems

    def close(self):
        try:
            self.session = None
            self.call('Browser.close', timeout=5)
        except Exception:
            pass
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        os.close(self._read)
        os.close(self._write)
        shutil.rmtree(self.profile, ignore_errors=True)


def moved(fd):
    high = fcntl.fcntl(fd, fcntl.F_DUPFD, 10)
    os.close(fd)
    return high


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


def check_scene(picture, failures, when=''):
    before = len(failures)
    top, bottom, middle = picture.band(1, 45), picture.band(436, 480), picture.band(60, 420)
    if sum(map(dark, top)) < 0.6 * len(top) or sum(map(dark, bottom)) < 0.6 * len(bottom):
        failures.append('the top and bottom bars are not black')
    if not any(map(green, top)):
        failures.append('no green text in the top bar')
    if not any(map(red, bottom)):
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
        check_scene(Picture(browser.screenshot(), rect), failures, 'after the page was hidden and shown')
        failures.extend(browser.console_problems())
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
    parser.add_argument('--keep', help='folder for the screenshot')
    args = parser.parse_args()
    server = serve(args.site)
    url = 'http://127.0.0.1:%d/index.html' % server.server_address[1]
    failures = []
    started = time.monotonic()
    run_demo(args.chromium, url, args.keep, failures)
    counts = [len(failures)]
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
