"""The line shared with other programs: clients on --share's socket beside
the user at the screen, and a second brisvane watching through tcp://; a
served line (--serve) with brisvane attached to it, in roles."""
import hashlib
import os
import shutil
import signal
import socket
import stat
import subprocess
import tempfile
import threading
import unittest
from pathlib import Path

from console_session import PROGRAM, ConsoleSession, Line, wait_for
from test_network import free_port


def read_all(sock, into):
    """A client that keeps reading until the connection ends."""
    while block := sock.recv(65536):
        into += block


class Share(unittest.TestCase):
    def test_a_stalled_client_is_dropped_while_the_line_the_screen_and_the_other_go_on(self):
        s = ConsoleSession(start=False)
        self.addCleanup(s.close)
        path = Path(s.folder) / 'share'
        socket.socket(socket.AF_UNIX).bind(str(path))  # a stale socket, left by an earlier run: replaced
        s.start('--share', f'unix:{path}', '--flow', 'none', cols=80, rows=25,
                conf=Path(s.folder) / 'tmux.conf', env=None)
        self.assertEqual(stat.S_IMODE(os.stat(path).st_mode), 0o600)
        stalled, reading = socket.socket(socket.AF_UNIX), socket.socket(socket.AF_UNIX)
        for client in (stalled, reading):
            self.addCleanup(client.close)
            client.connect(str(path))
        s.wait_status('shared: 2 clients')
        got = bytearray()
        threading.Thread(target=read_all, args=(reading, got), daemon=True).start()

        # What a client writes goes to the line as typed, bit 7 clear by default.
        reading.sendall(b'ls\r')
        self.assertEqual(s.host_read(3), b'ls\r')

        flood = b''.join(b'line %06d of the flood\r\n' % n for n in range(130000))  # 3 MiB
        s.host_write(flood + b'the end\r\n')
        s.sync()  # the line was never held up
        s.wait_row(22, 'the end')
        s.wait_status('did not keep up and was dropped')
        s.wait_status('shared: 1 client ')
        wait_for(lambda: len(got) >= len(flood) + 9, 10, 'the reading client to get it all')
        self.assertEqual(bytes(got[:len(flood)]), flood)  # byte for byte

        s.keys('C-a', 'x')
        self.assertEqual(s.exit_code(), 0)
        self.assertFalse(path.exists())  # removed at exit

    def test_a_second_brisvane_watches_and_types_through_tcp(self):
        port = free_port()
        first = ConsoleSession('--share', f'tcp:{port}', '--flow', 'none')
        self.addCleanup(first.close)
        second = ConsoleSession(start=False)
        self.addCleanup(second.close)
        second.start(cols=80, rows=25, conf=Path(second.folder) / 'tmux.conf', env=None,
                     first=f'tcp://127.0.0.1:{port}')
        first.wait_status('shared: 1 client ')
        first.host_write(b'seen twice\r\n')
        first.wait_row(0, 'seen twice')
        second.wait_row(0, 'seen twice')
        second.type('hi')
        self.assertEqual(first.host_read(2), b'hi')
        second.keys('C-a', 'x')
        self.assertEqual(second.exit_code(), 0)
        first.wait_status('shared: 0 clients')


class Served(unittest.TestCase):
    """brisvane --serve on a pty pair, and brisvane --attach in tmux."""

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix='bv-served-')
        self.addCleanup(shutil.rmtree, self.folder, True)
        self.line = Line(self.folder)
        self.line.start()
        self.addCleanup(self.line.stop)
        self.socket = str(Path(self.folder) / 'line.sock')
        self.log = Path(self.folder) / 'serve.err'
        with open(self.log, 'wb') as err:
            self.server = subprocess.Popen([PROGRAM, self.line.device, '--serve', '--share', f'unix:{self.socket}',
                                            '--flow', 'none', *self.served_with()], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                           stderr=err)
        self.addCleanup(lambda: self.server.poll() is None and self.server.kill())
        wait_for(lambda: os.path.exists(self.socket) or self.server.poll() is not None, what='the served socket')
        self.assertTrue(os.path.exists(self.socket), self.log.read_text())

    def served_with(self):
        # A group list widens the socket's mode, so another user's connect
        # reaches the server's own check.
        if 'script' in self._testMethodName:
            script = Path(self.folder) / 'tick.lua'
            script.write_text('while true do send("tick\\r") sleep(100) end\n')
            return ('--script', str(script))
        if 'peer' not in self._testMethodName:
            return ()
        return ('--share-watch', '@root', '--log-raw', str(Path(self.folder) / 'raw.log'), '--log-max', '4K',
                '--log-keep', '999')

    def attach(self, *args):
        s = ConsoleSession(start=False, home=False)
        self.addCleanup(s.close)
        s.start(f'unix:{self.socket}', *args, cols=80, rows=25, conf=Path(s.folder) / 'tmux.conf',
                env=None, first='--attach')
        return s

    def stop(self):
        self.server.send_signal(signal.SIGTERM)
        self.assertEqual(self.server.wait(10), 0)
        return self.log.read_text()

    def test_attach_gets_the_screen_and_history_then_one_writer_and_watchers(self):
        # 10,000 lines, then a full-screen program's frame, left mid-address.
        self.line.write(b''.join(b'line %05d\r\n' % n for n in range(10000)))
        frame = b'\x1bH\x1bJ' + b''.join(b'\x1bY%c%cmenu %02d' % (32 + r, 32 + 2 * r, r) for r in range(23))
        self.line.write(frame + b'\x1bZ')
        self.assertEqual(self.line.read(3), b'\x1b/K')  # the server has it all
        self.line.write(b'\x1bY%c \x1bFa\x1bG\x1bY%c' % (32 + 23, 32 + 23))

        a = self.attach()
        a.wait_status('writing, 0 others')
        for r in range(23):
            self.assertEqual(a.row(r).rstrip(), ' ' * (2 * r) + f'menu {r:02d}')
        self.assertEqual(a.row(23).rstrip(), '\u2588')
        # The seam: the column byte that completes the address the snapshot left open.
        self.line.write(b'%cend' % (32 + 10))
        a.wait_row(23, '\u2588' + ' ' * 9 + 'end')
        a.keys('C-a', 'h')
        a.wait_status('of 10,001')  # 9,977 rows that scrolled off, and the screen
        a.keys('Home')
        a.wait_row(0, 'line 00000')
        a.keys('q')

        b = self.attach()
        b.wait_status('watching, 1 other')
        a.wait_status('writing, 1 other')
        b.type('x')
        b.wait_status('take')
        a.type('a')
        self.assertEqual(self.line.read(1), b'a')  # the writer's alone
        self.assertEqual(self.line.drain(), b'')
        b.keys('C-a', 'g')
        b.wait_status('writing, 1 other')
        a.wait_status('took the line')
        a.wait_status('watching, 1 other')
        b.keys('C-a', 'W')
        b.wait_status('(you) writing')

        # A YMODEM send from the writer reaches the line byte for byte.
        data = os.urandom(64 * 1024)
        (Path(b.folder) / 'image.bin').write_bytes(data)
        hosted = Path(self.folder) / 'host'
        hosted.mkdir()
        b.keys('C-a', 's', 'y')
        b.wait_status('file:')
        b.type(str(Path(b.folder) / 'image.bin'))
        b.keys('Enter')
        host = subprocess.Popen(['socat', f'{self.line.host},raw,echo=0', 'EXEC:rb,pipes'], cwd=hosted,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: host.poll() is None and host.kill())
        self.assertEqual(host.wait(60), 0)
        self.assertEqual(hashlib.sha256((hosted / 'image.bin').read_bytes()).digest(),
                         hashlib.sha256(data).digest())

        b.keys('C-a', 'x')
        self.assertEqual(b.exit_code(), 0)
        journal = self.stop()
        self.assertIn('took the line', journal)
        a.wait_status('disconnected, waiting for')  # and it waits for the server to come back

    def test_a_script_writes_until_a_client_takes_the_line_and_goes_on_when_it_is_given_back(self):
        tick = b'tick\r'
        self.assertIn(tick, self.line.read(10))
        a = self.attach()
        a.wait_status('watching, 1 other')  # the script holds the line
        a.keys('C-a', 'g')
        a.wait_status('writing, 1 other')
        self.line.drain(0.3)
        self.assertEqual(self.line.drain(0.5), b'')  # paused
        a.keys('C-a', 'g')
        a.wait_status('watching, 1 other')
        self.assertIn(tick, self.line.read(10))
        journal = self.stop()
        self.assertIn('script: paused', journal)

    def test_a_peer_of_another_user_is_refused_and_a_raw_client_dropped(self):
        if os.getuid() != 0 or not shutil.which('setpriv'):
            self.skipTest('running a client as nobody needs root and setpriv')
        os.chmod(self.folder, 0o755)
        refused = subprocess.run(['setpriv', '--reuid', 'nobody', '--regid', 'nogroup', '--clear-groups', PROGRAM,
                                  '--attach', f'unix:{self.socket}'], capture_output=True, text=True, timeout=20,
                                 stdin=subprocess.DEVNULL)
        self.assertEqual(refused.returncode, 1)
        self.assertIn('share-write', refused.stderr)
        raw = socket.socket(socket.AF_UNIX)
        self.addCleanup(raw.close)
        raw.connect(self.socket)
        raw.sendall(b'hello there\r')  # no hello: dropped, and nothing reaches the line
        wait_for(lambda: raw.recv(1) == b'', what='the raw client to be dropped')
        self.assertEqual(self.line.drain(), b'')

        # The log rotates under a flood, and its files end to end are what came.
        flood = b''.join(b'%06d flood\r\n' % n for n in range(20000)) + b'\x1bZ'
        self.line.write(flood)
        self.assertEqual(self.line.read(3, 20), b'\x1b/K')
        journal = self.stop()
        logs = sorted(Path(self.folder).glob('raw.log.*'), key=lambda p: -int(p.suffix[1:]))
        self.assertGreaterEqual(len(logs), 3)
        self.assertTrue(all(p.stat().st_size >= 4096 for p in logs))  # each went on to its size
        self.assertEqual(b''.join(p.read_bytes() for p in logs) + (Path(self.folder) / 'raw.log').read_bytes(), flood)
        self.assertIn('nobody refused', journal)
        self.assertIn('without a hello', journal)


if __name__ == '__main__':
    unittest.main()
