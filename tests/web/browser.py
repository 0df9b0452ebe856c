"""Headless Chromium driven over its DevTools pipe (fds 3 and 4), and a quiet
web server on 127.0.0.1: what the page tests share, with nothing beyond the
standard library."""
import base64
import fcntl
import functools
import http.server
import json
import os
import shutil
import subprocess
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

    def __init__(self, chromium, extra_flags=(), size=(WIDTH, HEIGHT)):
        self.profile = tempfile.mkdtemp(prefix='tinsel-chromium-')
        to_browser, self._write = os.pipe()
        self._read, from_browser = os.pipe()
        # Above 4, so that placing them at 3 and 4 cannot close one of them.
        to_browser, from_browser = (moved(fd) for fd in (to_browser, from_browser))
        flags = ['--headless', '--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
                 '--autoplay-policy=no-user-gesture-required', '--no-first-run',
                 '--disable-background-networking', '--disable-component-update', '--disable-sync',
                 '--disable-extensions', '--mute-audio', '--remote-debugging-pipe',
                 f'--window-size={size[0]},{size[1]}', f'--user-data-dir={self.profile}', *extra_flags]
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
        return self.decode_png(self.call('Page.captureScreenshot', format='png')['data'])

    def decode_png(self, png):
        """Rows of (r, g, b) of a base64 PNG."""
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
