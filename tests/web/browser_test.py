#!/usr/bin/env python3
"""Loads the playground page in headless Chromium, driven over its DevTools
pipe, and checks it against the native program: every gallery document
chosen from the menu gives the native rows (--utf-8) and, through the
page's API, the native UTF-16 bytes; a document typed into the editor key by
key gives the native rows; a warning and a parse error are marked at their
line; the page makes no network request. Saves a screenshot and prints the
keystroke-to-rows latencies.

  browser_test.py PAGE_HTML NATIVE_QUARVEL EXAMPLES_DIR SCREENSHOT_PNG
"""
import base64
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

PAGE, NATIVE, EXAMPLES, SCREENSHOT = sys.argv[1:5]
TYPED = ('<quarvel><center>Typed, key by key</center><left>On the left, '
         '<underline>underlined</underline></left><right>On the right</right>'
         '<div width="20" leftmargin="2">右の列は二十桁で折り返されます。</div></quarvel>')


class Chromium:
    """One headless Chromium, spoken to over --remote-debugging-pipe: JSON
    messages ended by NUL, read from its descriptor 4, written to its 3."""

    def __init__(self, profile):
        to_browser = os.pipe()
        from_browser = os.pipe()

        def descriptors():
            high_in, high_out = os.dup(to_browser[0]), os.dup(from_browser[1])
            os.dup2(high_in, 3)
            os.dup2(high_out, 4)

        binary = shutil.which('chromium') or shutil.which('chromium-browser')
        self.process = subprocess.Popen(
            [binary, '--headless=new', '--remote-debugging-pipe', '--no-sandbox',
             '--disable-gpu', '--no-first-run', '--no-default-browser-check',
             '--user-data-dir=' + profile, '--window-size=1400,800', 'about:blank'],
            pass_fds=(3, 4), preexec_fn=descriptors,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(to_browser[0])
        os.close(from_browser[1])
        self.writer = to_browser[1]
        self.reader = from_browser[0]
        self.buffer = b''
        self.next_id = 0
        self.events = []
        self.session = None

    def send(self, method, params=None, session=True):
        self.next_id += 1
        message = {'id': self.next_id, 'method': method, 'params': params or {}}
        if session and self.session:
            message['sessionId'] = self.session
        os.write(self.writer, json.dumps(message).encode() + b'\0')
        while True:
            reply = self.receive()
            if reply.get('id') == self.next_id:
                if 'error' in reply:
                    raise RuntimeError(f'{method}: {reply["error"]}')
                return reply['result']
            self.events.append(reply)

    def receive(self):
        while b'\0' not in self.buffer:
            chunk = os.read(self.reader, 1 << 16)
            if not chunk:
                raise RuntimeError('chromium closed its pipe')
            self.buffer += chunk
        message, self.buffer = self.buffer.split(b'\0', 1)
        return json.loads(message)

    def wait_for(self, method, timeout=30):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            for i, event in enumerate(self.events):
                if event.get('method') == method:
                    return self.events.pop(i)
            self.events.append(self.receive())
        raise RuntimeError(f'no {method} within {timeout} s')

    def evaluate(self, expression):
        result = self.send('Runtime.evaluate', {'expression': expression, 'returnByValue': True,
                                                'awaitPromise': True})
        if 'exceptionDetails' in result:
            raise RuntimeError(f'{expression}: {result["exceptionDetails"]}')
        return result['result'].get('value')

    def close(self):
        try:
            self.send('Browser.close', session=False)
        except RuntimeError:
            pass
        self.process.wait(timeout=30)


def native(arguments, data=None):
    return subprocess.run([NATIVE, *arguments], input=data, capture_output=True)


failures = []


def expect(condition, what):
    if not condition:
        failures.append(what)
        print('FAILED', what)


profile = tempfile.mkdtemp()
browser = Chromium(profile)
try:
    target = browser.send('Target.createTarget', {'url': 'about:blank'})['targetId']
    browser.session = browser.send('Target.attachToTarget',
                                   {'targetId': target, 'flatten': True}, False)['sessionId']
    for domain in ('Page', 'Runtime', 'Network'):
        browser.send(domain + '.enable')
    url = 'file://' + os.path.abspath(PAGE)
    browser.send('Page.navigate', {'url': url})
    browser.wait_for('Page.loadEventFired')
    expect(browser.evaluate('typeof window.quarvel') == 'object', 'the page loads the engine')

    # Every gallery document, from the menu.
    names = sorted(n for n in os.listdir(EXAMPLES) if n.endswith('.xml'))
    for name in names:
        path = os.path.join(EXAMPLES, name)
        rows = browser.evaluate(f'''(() => {{
            const menu = document.getElementById('gallery');
            menu.value = {json.dumps(name)};
            menu.dispatchEvent(new Event('change'));
            return document.getElementById('rows').textContent; }})()''')
        expect(rows == native(['--utf-8', path]).stdout.decode(), f'{name}: rows')
        utf16 = browser.evaluate('''btoa(Array.from(quarvel.format(
            quarvelEditor.state.doc.toString()), (b) => String.fromCharCode(b)).join(''))''')
        expect(base64.b64decode(utf16) == native([path]).stdout, f'{name}: UTF-16 bytes')

    # A document typed key by key into the emptied editor.
    browser.evaluate('''quarvelEditor.dispatch({changes: {from: 0,
        to: quarvelEditor.state.doc.length, insert: ''}}); quarvelEditor.focus();
        window.quarvelLatencies.length = 0''')
    for character in TYPED:
        browser.send('Input.insertText', {'text': character})
    typed = browser.evaluate('quarvelEditor.state.doc.toString()')
    expect(typed == TYPED, 'the typed document')
    rows = browser.evaluate("document.getElementById('rows').textContent")
    expect(rows == native(['--utf-8', '-'], TYPED.encode()).stdout.decode(), 'typed: rows')
    latencies = browser.evaluate('window.quarvelLatencies')
    expect(len(latencies) == len(TYPED), 'one layout per keystroke')

    # Warnings and parse errors, marked at their line in the gutter.
    def marked_lines(document, kind):
        return browser.evaluate(f'''(() => {{
            quarvelEditor.dispatch({{changes: {{from: 0, to: quarvelEditor.state.doc.length,
                                                insert: {json.dumps(document)}}}}});
            const gutters = [...document.querySelectorAll('.cm-gutter')];
            const numbers = gutters.find((g) => g.classList.contains('cm-lineNumbers'));
            return [...document.querySelectorAll('.cm-lint-marker-{kind}')].map((marker) => {{
                const top = marker.closest('.cm-gutterElement').getBoundingClientRect().top;
                const line = [...numbers.querySelectorAll('.cm-gutterElement')].find(
                    (e) => Math.abs(e.getBoundingClientRect().top - top) < 2);
                return line ? Number(line.textContent) : 0; }}); }})()''')
    draft = '<quarvel>\n  <left>fine</left>\n  <centre>Notice</centre>\n</quarvel>\n'
    expect(marked_lines(draft, 'warning') == [3], 'a warning marked at line 3')
    broken = '<quarvel>\n  <left>fine</left>\n\n  <left>abc</lef>\n</quarvel>\n'
    expect(marked_lines(broken, 'error') == [4], 'a parse error marked at line 4')
    status = browser.evaluate("document.getElementById('status').textContent")
    expected = native(['-'], broken.encode()).stderr.decode().strip().replace('"-"', '"document"')
    expect(status == expected, f'the parse error message ({status!r} against {expected!r})')

    # The screenshot that the README shows: the bilingual example.
    browser.evaluate('''(() => { const menu = document.getElementById('gallery');
        menu.value = 'bilingual.xml'; menu.dispatchEvent(new Event('change')); })()''')
    browser.send('Emulation.setDeviceMetricsOverride',
                 {'width': 1500, 'height': 560, 'deviceScaleFactor': 1, 'mobile': False})
    screenshot = browser.send('Page.captureScreenshot', {'format': 'png'})['data']
    with open(SCREENSHOT, 'wb') as out:
        out.write(base64.b64decode(screenshot))

    requests = [e['params']['request']['url'] for e in browser.events
                if e.get('method') == 'Network.requestWillBeSent']
    requests = [r for r in requests if not r.startswith(('data:', 'blob:'))]
    expect(requests == [url], f'no request but the page itself: {requests}')
finally:
    browser.close()
    shutil.rmtree(profile, ignore_errors=True)

latencies.sort()
print(f'keystroke to rows: median {statistics.median(latencies):.2f} ms, '
      f'90th percentile {latencies[int(len(latencies) * 0.9)]:.2f} ms, '
      f'max {latencies[-1]:.2f} ms over {len(latencies)} keystrokes')
print(f'{len(names)} gallery documents; {len(failures)} failures')
sys.exit(1 if failures else 0)
