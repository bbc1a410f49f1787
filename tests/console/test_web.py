"""The line in a browser (--web): a real headless Chromium reads the page's
rows from its DOM and types into it; raw HTTP and WebSocket connections
count and get refused. Run with Debian's /usr/bin/python3 (selenium and
websockets are Debian packages)."""
import asyncio
import os
import re
import socket
import shutil
import subprocess
import tempfile
import time
import unittest
import urllib.error
import urllib.request
from pathlib import Path

from console_session import PROGRAM, ConsoleSession, Line, free_port, listening, wait_for

try:
    import websockets
    from selenium import webdriver
    from selenium.webdriver.chrome.options import Options
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
except ImportError as missing:  # pragma: no cover - said, not hidden
    raise SystemExit(f'test_web needs python3-selenium and python3-websockets: {missing}')

TOKEN = 'open sesame 42'
SHOTS = os.environ.get('BRISVANE_WEB_SHOTS')  # a folder for the page's screenshot and the terminal's text


def token_file(folder):
    path = Path(folder) / 'token'
    path.write_text(TOKEN + '\n')
    path.chmod(0o600)
    return str(path)


def browser():
    o = Options()
    for a in ('--headless=new', '--no-sandbox', '--disable-gpu', '--disable-background-networking',
              '--disable-component-update', '--disable-sync', '--no-first-run', '--window-size=1000,800',
              f'--user-data-dir={tempfile.mkdtemp(prefix="bv-chrome-")}'):
        o.add_argument(a)
    return webdriver.Chrome(options=o)


def page_rows(d):
    return d.execute_script(
        'return Array.from(document.querySelectorAll("#screen .row"), r => r.textContent);')


def page_cursor(d):
    return d.execute_script(
        'const c = document.querySelector("#screen .cursor"); if (!c) return null;'
        'const row = c.parentElement; return [Number(row.id.slice(3)), row.firstChild.textContent.length];')


class WebSession(ConsoleSession):
    """The program with --web on a free port, and the page's address."""

    def __init__(self, *args, token=True, **kwargs):
        self.port = free_port()
        folder = tempfile.mkdtemp(prefix='bv-tok-')
        self.token_folder = folder
        extra = ('--share-token', token_file(folder)) if token else ()
        super().__init__('--web', str(self.port), *extra, *args, **kwargs)
        wait_for(lambda: listening(self.port), what='the web port')
        self.url = f'http://127.0.0.1:{self.port}'

    def close(self):
        super().close()
        shutil.rmtree(self.token_folder, ignore_errors=True)

    def status(self, path, data=None, headers=None):
        request = urllib.request.Request(self.url + path, data=data, headers=headers or {})
        try:
            with urllib.request.urlopen(request, timeout=5) as answer:
                return answer.status, dict(answer.headers)
        except urllib.error.HTTPError as refused:
            return refused.code, dict(refused.headers)

    def cookie(self):
        """A session cookie, logged in with the token."""
        class Keep(urllib.request.HTTPRedirectHandler):
            def redirect_request(self, *a):
                return None
        opener = urllib.request.build_opener(Keep)
        request = urllib.request.Request(self.url + '/login', data=b'token=' + TOKEN.replace(' ', '+').encode(),
                                         headers={'Origin': self.url})
        try:
            opener.open(request, timeout=5)
        except urllib.error.HTTPError as moved:
            assert moved.code == 303, moved.code
            return moved.headers['Set-Cookie'].split(';')[0]
        raise AssertionError('no redirect after the login')


def socket_to(session, cookie=None, origin=None):
    headers = {'Cookie': cookie} if cookie else {}
    return websockets.connect(f'ws://127.0.0.1:{session.port}/', subprotocols=['brisvane'],
                              origin=origin or session.url, extra_headers=headers, open_timeout=5)


def handshake_status(session, cookie=None, origin=None, host=None):
    """The status a WebSocket handshake gets (101 when taken), read raw:
    a refusal may come as HTTP/1.0, which the client library will not parse."""
    host = host or f'127.0.0.1:{session.port}'
    origin = origin or f'http://{host}'
    request = (f'GET / HTTP/1.1\r\nHost: {host}\r\nUpgrade: websocket\r\n'
               'Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n'
               'Sec-WebSocket-Version: 13\r\nSec-WebSocket-Protocol: brisvane\r\n'
               f'Origin: {origin}\r\n' + (f'Cookie: {cookie}\r\n' if cookie else '') + '\r\n')
    with socket.create_connection(('127.0.0.1', session.port), timeout=5) as raw:
        raw.sendall(request.encode())
        return int(raw.recv(64).split()[1])


def exchange(session, request, quiet=1.0):
    """Everything the server sends for a raw request, until it closes or is quiet."""
    answer = b''
    with socket.create_connection(('127.0.0.1', session.port), timeout=quiet) as raw:
        raw.sendall(request)
        try:
            while chunk := raw.recv(65536):
                answer += chunk
        except (socket.timeout, ConnectionResetError):
            pass
    return answer


def login_status(session, origin=None, fetch_site=None):
    body = 'token=' + TOKEN.replace(' ', '+')
    request = (f'POST /login HTTP/1.1\r\nHost: 127.0.0.1:{session.port}\r\n'
               'Content-Type: application/x-www-form-urlencoded\r\n'
               + (f'Origin: {origin}\r\n' if origin else '')
               + (f'Sec-Fetch-Site: {fetch_site}\r\n' if fetch_site else '')
               + f'Content-Length: {len(body)}\r\n\r\n{body}')
    answer = exchange(session, request.encode(), quiet=3)
    return int(answer.split()[1]) if answer else None


class Page(unittest.TestCase):
    def test_the_page_shows_the_terminals_cells_and_its_writer_types_to_the_host(self):
        with WebSession() as s:
            # A full-screen program's picture: rows everywhere, graphics, a cursor move.
            s.host_write(b'\x1bH\x1bJ')
            for row in range(23):
                s.host_write(b'\x1bY' + bytes([32 + row, 32 + row]) + f'row {row} |'.encode())
            s.host_write(b'\x1bY\x37\x20\x1bFahik\x1bG graphics\x1bY\x25\x2a')
            s.sync()
            d = browser()
            try:
                d.get(s.url + '/#token=' + TOKEN.replace(' ', '%20'))
                wait_for(lambda: page_rows(d) == s.screen()[:24], 10, 'the page to equal the terminal')
                self.assertEqual(page_rows(d)[23][:16], '█→…↓ graphics   ')
                self.assertEqual(page_cursor(d), [5, 10])
                self.assertEqual(s.cursor(), (5, 10))
                self.assertNotIn('token', d.current_url)
                if SHOTS:
                    d.save_screenshot(str(Path(SHOTS) / 'web-page.png'))
                    (Path(SHOTS) / 'web-terminal.txt').write_text('\n'.join(s.screen()) + '\n')

                # A page holding the token watches until it takes the line.
                wait_for(lambda: d.find_element(By.ID, 'role').text == 'watching', what='watching')
                terminal = d.find_element(By.ID, 'terminal')
                terminal.send_keys('x')
                self.assertEqual(s.line.drain(0.5), b'')
                d.find_element(By.ID, 'take').click()
                wait_for(lambda: d.find_element(By.ID, 'role').text == 'writing', what='the writer role')
                s.wait_status('took the line')
                terminal.send_keys('ls', Keys.ENTER, Keys.ARROW_UP, Keys.BACKSPACE, Keys.F1)
                terminal.send_keys(Keys.CONTROL, 'c')
                expected = b'ls\r\x1b?t\x08\x1bP\x03'
                got = s.host_read(len(expected))
                self.assertEqual(bytes(b & 0x7F for b in got), expected)
                # A paste larger than the line's queue holds arrives whole, Enter as CR.
                text = ''.join(f'paste line {n:05d}\n' for n in range(6000))
                d.execute_script(
                    'const e = new ClipboardEvent("paste", {clipboardData: new DataTransfer()});'
                    'e.clipboardData.setData("text", arguments[0]); arguments[1].dispatchEvent(e);',
                    text, terminal)
                got = s.host_read(len(text), timeout=30)
                self.assertEqual(bytes(b & 0x7F for b in got), text.replace('\n', '\r').encode())
            finally:
                d.quit()

    def test_a_late_page_shows_the_screen_at_once_and_scrolls_back_to_line_1(self):
        with WebSession() as s:
            s.host_write(b''.join(f'line {n}\r\n'.encode() for n in range(1, 10001)))
            s.wait_row(22, 'line 10000')
            d = browser()
            try:
                # Without a session the page says to log in, not that it watches an empty screen.
                d.get(s.url + '/')
                wait_for(lambda: 'Log in' in d.find_element(By.ID, 'why').text, 10, 'the page to ask for a login')
                self.assertEqual(d.find_element(By.ID, 'role').text, 'not logged in')
                self.assertTrue(d.find_element(By.ID, 'token').is_displayed())
                d.get(s.url + '/#token=' + TOKEN)
                d.refresh()
                wait_for(lambda: page_rows(d) == s.screen()[:24], 10, 'the current screen')
                d.find_element(By.ID, 'top').click()
                wait_for(lambda: page_rows(d)[0].rstrip() == 'line 1', 10, 'line 1 at the top')
                self.assertEqual(page_rows(d)[23].rstrip(), 'line 24')
                d.find_element(By.ID, 'down').click()
                wait_for(lambda: page_rows(d)[0].rstrip() == 'line 25', 10, 'a page further')
                d.find_element(By.ID, 'live').click()
                wait_for(lambda: page_rows(d) == s.screen()[:24], 10, 'the live screen again')
            finally:
                d.quit()


class Refusals(unittest.TestCase):
    def test_tokens_origins_paths_and_the_seventeenth_page_are_refused(self):
        with WebSession() as s:
            status, headers = s.status('/')
            self.assertEqual(status, 200)
            self.assertIn("default-src 'none'", headers['content-security-policy'])
            self.assertEqual(s.status('/etc/passwd')[0], 404)
            self.assertIn(s.status('/a/..%2e/x')[0], (400, 404))
            self.assertEqual(s.status('/login', data=b'token=wrong', headers={'Origin': s.url})[0], 403)
            s.wait_status('token from 127.0.0.1 was refused')
            self.assertEqual(s.status('/login', data=b'other=1', headers={'Origin': s.url})[0], 403)
            self.assertEqual(handshake_status(s), 403)  # no session
            cookie = s.cookie()
            self.assertEqual(handshake_status(s, cookie=cookie, origin='http://evil.example'), 403)
            self.assertEqual(handshake_status(s, cookie=cookie + 'x'), 403)

            async def seventeen():
                pages = [await socket_to(s, cookie=cookie).__aenter__() for _ in range(16)]
                try:
                    return handshake_status(s, cookie=cookie)
                finally:
                    for page in pages:
                        await page.close()
            self.assertEqual(asyncio.run(seventeen()), 503)

    def test_only_a_host_that_names_the_server_is_answered(self):
        # A name some DNS points at 127.0.0.1 would make another site's page ours.
        folder = tempfile.mkdtemp(prefix='bv-web-host-')
        self.addCleanup(shutil.rmtree, folder, True)
        with WebSession('--web-open-watch', '--web-host', 'lab.example', '--log', f'{folder}/log',
                        token=False) as s:
            evil = f'attacker.example:{s.port}'
            self.assertEqual(handshake_status(s, host=evil), 421)
            for path in ('/log', '/', '/login'):
                answer = exchange(s, f'GET {path} HTTP/1.1\r\nHost: {evil}\r\nOrigin: http://{evil}\r\n\r\n'.encode())
                self.assertTrue(answer.startswith(b'HTTP/1.1 421'), (path, answer[:80]))
                self.assertNotIn(b'brisvane', answer.lower())
            for host in (f'127.0.0.1:{s.port}', f'localhost:{s.port}', f'[::1]:{s.port}',
                         f'Lab.Example:{s.port}'):
                self.assertEqual(handshake_status(s, host=host), 101, host)
            self.assertEqual(handshake_status(s, host=f'lab.example:{s.port + 1}'), 421)
            self.assertEqual(handshake_status(s, host=f'lab.example:{s.port}', origin=s.url), 403)
            self.assertEqual(s.status('/log')[0], 200)

    def test_a_session_is_found_among_many_cookies(self):
        # Cookies set for other ports of 127.0.0.1 come along with ours.
        with WebSession() as s:
            cookie = s.cookie()
            for count in (40, 120):  # 2 and 6 KB
                others = '; '.join(f'app{n}_session={n:040d}' for n in range(count))
                self.assertEqual(handshake_status(s, cookie=f'{others}; {cookie}'), 101, count)
                self.assertEqual(handshake_status(s, cookie=f'{cookie}; {others}'), 101, count)

    def test_a_login_from_another_site_is_refused(self):
        with WebSession() as s:
            self.assertEqual(login_status(s), 403)  # a form on another site may send no Origin
            self.assertEqual(login_status(s, origin='http://evil.example'), 403)
            self.assertEqual(login_status(s, origin=f'http://127.0.0.1:{s.port + 1}'), 403)
            self.assertEqual(login_status(s, origin=s.url, fetch_site='cross-site'), 403)
            self.assertEqual(login_status(s, origin=s.url, fetch_site='same-origin'), 303)

    def test_a_form_posted_to_the_page_gets_one_answer(self):
        with WebSession() as s:
            post = f'POST / HTTP/1.1\r\nHost: 127.0.0.1:{s.port}\r\nContent-Length: 3\r\n\r\na=1'
            empty = f'POST / HTTP/1.1\r\nHost: 127.0.0.1:{s.port}\r\nContent-Length: 0\r\n\r\n'
            get = f'GET /page.css HTTP/1.1\r\nHost: 127.0.0.1:{s.port}\r\n\r\n'
            for request in (post, post + get, empty + get):
                answers = re.findall(rb'HTTP/1\.1 (\d+)', exchange(s, request.encode()))
                self.assertEqual(answers, [b'405'] + [b'200'] * ('GET' in request), request)

    def test_slow_senders_are_closed_and_the_page_still_loads(self):
        # 60 connections send their headers a byte a second, as a slowloris
        # does, opened again as soon as they are closed; the page's own GET
        # comes from the same address twice a second.
        with WebSession() as s:
            slow, closed, loads = [], 0, 0
            start = last_byte = time.monotonic()
            while time.monotonic() - start < 8:
                while len(slow) < 60:
                    raw = socket.create_connection(('127.0.0.1', s.port), timeout=2)
                    raw.sendall(b'G')
                    raw.setblocking(False)
                    slow.append(raw)
                if time.monotonic() - last_byte >= 1:
                    last_byte = time.monotonic()
                    for raw in list(slow):
                        try:
                            raw.send(b'E')
                        except OSError:
                            slow.remove(raw)
                            raw.close()
                            closed += 1
                with urllib.request.urlopen(s.url + '/', timeout=3) as answer:
                    self.assertEqual(answer.status, 200)
                loads += 1
                time.sleep(0.5)
            for raw in slow:
                raw.close()
            self.assertGreaterEqual(loads, 12)
            self.assertGreater(closed, 60)
            # Alone, a slow sender has a few seconds to finish its request.
            with socket.create_connection(('127.0.0.1', s.port), timeout=8) as raw:
                opened = time.monotonic()
                raw.sendall(b'GET / HTTP/1.1\r\n')
                self.assertEqual(raw.recv(4096), b'')
                self.assertLess(time.monotonic() - opened, 6)

    def test_a_watcher_sends_nothing_and_web_without_a_token_is_refused(self):
        with WebSession('--web-open-watch', token=False) as s:
            async def watch():
                async with socket_to(s) as page:
                    await page.recv()
                    for message in ('k- a', 'pnot sent', 'b', 't'):
                        await page.send(message)
                    while 'needs the token' not in await page.recv():
                        pass
            asyncio.run(asyncio.wait_for(watch(), 10))
            self.assertEqual(s.line.drain(0.3), b'')
        folder = tempfile.mkdtemp(prefix='bv-')
        try:
            refused = subprocess.run([os.environ.get('BRISVANE_CONSOLE', 'brisvane'), '/dev/null', '--web',
                                      str(free_port())], capture_output=True, text=True, timeout=10)
            self.assertEqual(refused.returncode, 2)
            self.assertIn('--share-token', refused.stderr)
        finally:
            shutil.rmtree(folder)



class Replay(unittest.TestCase):
    """--replay FILE --web PORT: the page shows the replayed screen with a slider."""

    def recording(self, folder):
        """A screen a second for 30 s, marks at 5 s and 17 s."""
        from test_tools import event
        record = Path(folder) / 'timed.bvrec'
        events = b''.join(event(1, 0 if n == 0 else 10**6, b'\x1bH\x1bJsecond %d\r\n' % n) +
                          (event(8, 0, b'mark at %d' % n) if n in (5, 17) else b'') for n in range(31))
        record.write_bytes(b'brisvane recording 1\nprogram brisvane 2.4\nstarted 2026-12-08T10:00:00.000000Z\n'
                           b'line line 9600,n,8,1 /dev/x\nreceive 0 ansi-hidden eight-bit\n\n' + events)
        return record

    def test_the_slider_seeks_page_and_terminal_alike_with_the_token_and_only_follows_without(self):
        s = ConsoleSession(start=False)
        self.addCleanup(s.close)
        record = self.recording(s.folder)
        port = free_port()
        s.start(str(record), '--web', str(port), '--share-token', token_file(s.folder), '--web-open-watch',
                cols=80, rows=25, conf=Path(s.folder) / 'tmux.conf', env=None, first='--replay')
        wait_for(lambda: listening(port), what='the web port')
        url = f'http://127.0.0.1:{port}'
        slider = lambda d: d.find_element(By.ID, 'slider')  # noqa: E731
        d = browser()
        try:
            # Watching only: the slider spans the recording and moves, but is not ours to move.
            d.get(url + '/')
            wait_for(lambda: slider(d).get_attribute('max') == '30000', 10, 'the slider to span 30 s')
            first = int(slider(d).get_attribute('value'))
            wait_for(lambda: int(slider(d).get_attribute('value')) > first + 500, what='the slider to move')
            self.assertFalse(slider(d).is_enabled())
            self.assertIn('log in', d.find_element(By.ID, 'seekhint').text)
            self.assertEqual([m.text for m in d.find_elements(By.CSS_SELECTOR, '#marks button')],
                             ['mark at 5 (5.0 s)', 'mark at 17 (17.0 s)'])
            # With the token: pause, then drag to 12.5 s; the page and the terminal
            # show what --at 12.5 shows.
            d.get(url + '/#token=' + TOKEN.replace(' ', '%20'))
            d.refresh()
            wait_for(lambda: slider(d).is_displayed() and slider(d).is_enabled(), 10, 'the slider to be ours')
            d.find_element(By.ID, 'play').click()
            s.wait_status('paused')
            d.execute_script('arguments[0].value = 12500; arguments[0].dispatchEvent(new Event("change"));',
                             slider(d))
            at = subprocess.run([PROGRAM, '--replay', str(record), '--at', '12.5', '--batch'], capture_output=True,
                                text=True, timeout=10)
            moment = [row.rstrip() for row in at.stdout.split('\n')[:24]]
            self.assertEqual(moment[0], 'second 12')
            wait_for(lambda: [row.rstrip() for row in page_rows(d)] == moment, 10, 'the page at 12.5 s')
            wait_for(lambda: [row.rstrip() for row in s.screen()[:24]] == moment, what='the terminal at 12.5 s')
            self.assertIn('12.5 s of 30.0 s, paused', d.find_element(By.ID, 'time').text)
            d.find_element(By.CSS_SELECTOR, '#marks li:nth-child(2) button').click()
            wait_for(lambda: page_rows(d)[0].rstrip() == 'second 17', 10, 'the page at the mark')
            s.wait_row(0, 'second 17')
        finally:
            d.quit()

        async def refused():  # a page without the token asks anyway: told, nothing moves
            async with socket_to(type('S', (), {'port': port, 'url': url})) as page:
                while '"seek":false' not in await page.recv():
                    pass
                await page.send('j3000')
                while 'log in with the token' not in await page.recv():
                    pass
        asyncio.run(asyncio.wait_for(refused(), 10))
        time.sleep(0.3)
        self.assertEqual(s.row(0).rstrip(), 'second 17')

    def test_without_a_terminal_the_replay_plays_for_the_pages_until_stopped(self):
        folder = tempfile.mkdtemp(prefix='bv-web-replay-')
        self.addCleanup(shutil.rmtree, folder, True)
        s = WebSession.__new__(WebSession)  # only its address and login
        s.port = free_port()
        s.url = f'http://127.0.0.1:{s.port}'
        server = subprocess.Popen([PROGRAM, '--replay', str(self.recording(folder)), '--web', str(s.port),
                                   '--share-token', token_file(folder)],
                                  stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.addCleanup(lambda: server.poll() is None and (server.kill(), server.wait(10)))
        wait_for(lambda: listening(s.port) or server.poll() is not None, what='the web port')
        cookie = s.cookie()

        async def seek():
            async with socket_to(s, cookie) as page:
                await page.send('z1')
                await page.send('j25500')
                while '[0,"second 25 ' not in await page.recv():
                    pass
        asyncio.run(asyncio.wait_for(seek(), 10))
        time.sleep(1.5)  # past a batch run's linger: standard input's end does not end it
        self.assertIsNone(server.poll())
        server.terminate()
        out, err = server.communicate(timeout=10)
        self.assertEqual(out, b'')  # the pages are its output
        self.assertIn(b'no terminal: the replay plays for the pages', err)


class ServedLine(unittest.TestCase):
    def test_a_page_on_a_served_line_takes_it_types_and_is_told_who_took_it_back(self):
        folder = tempfile.mkdtemp(prefix='bv-web-served-')
        self.addCleanup(shutil.rmtree, folder, True)
        line = Line(folder)
        line.start()
        self.addCleanup(line.stop)
        s = WebSession.__new__(WebSession)  # only its address and login
        s.port = free_port()
        s.url = f'http://127.0.0.1:{s.port}'
        log = Path(folder) / 'serve.err'
        with open(log, 'wb') as err:
            server = subprocess.Popen([PROGRAM, line.device, '--serve', '--share', f'unix:{folder}/line.sock',
                                       '--flow', 'none', '--web', str(s.port), '--share-token', token_file(folder)],
                                      stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=err)
        self.addCleanup(lambda: server.poll() is None and (server.kill(), server.wait(10)))
        wait_for(lambda: listening(s.port) or server.poll() is not None, what='the web port')
        self.assertIsNone(server.poll(), log.read_text())
        cookie = s.cookie()

        async def until(page, text):
            while text not in await page.recv():
                pass

        async def pages():
            async with socket_to(s, cookie) as first:  # the first with the token gets the free line
                await until(first, '"role":"writing","line"')
                await first.send('k- x')
                async with socket_to(s, cookie) as second:
                    await until(second, '"role":"watching","line"')
                    await second.send('k- a')
                    await until(second, 'take the line to type')
                    await second.send('t')
                    await until(first, 'web 127.0.0.1 took the line')
                    await until(first, '"role":"watching","line"')
                await until(first, '0 others, the line is free')
        asyncio.run(asyncio.wait_for(pages(), 20))
        self.assertEqual(line.read(1), b'x')  # the watcher's 'a' never went
        self.assertEqual(line.drain(0.3), b'')
        server.terminate()  # its lock on the line goes with it
        self.assertEqual(server.wait(10), 0)
        self.assertIn('web 127.0.0.1 took the line', log.read_text())


if __name__ == '__main__':
    unittest.main()
