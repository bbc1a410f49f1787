"""The line shared with other programs: clients on --share's socket beside
the user at the screen, and a second brisvane watching through tcp://; a
served line (--serve) with brisvane attached to it, in roles."""
import contextlib
import hashlib
import os
import pwd
import re
import shutil
import signal
import socket
import stat
import subprocess
import tempfile
import threading
import time
import unittest
from pathlib import Path

from console_session import PROGRAM, ConsoleSession, Line, line_speed, listening, wait_for
from test_network import free_port


# Holds twenty silent connections to a UNIX socket for a while, opening one
# for each the server answers or closes; prints how many it opened.
HAMMER = """
import socket, sys, time
end, held, opened = time.monotonic() + float(sys.argv[2]), [], 0
while time.monotonic() < end:
    while len(held) < 20:
        s = socket.socket(socket.AF_UNIX)
        try:
            s.connect(sys.argv[1])
        except OSError:
            s.close()
            break
        s.setblocking(False)
        held.append(s)
        opened += 1
    for s in list(held):
        try:
            s.recv(512)
        except BlockingIOError:
            continue
        except OSError:
            pass
        s.close()
        held.remove(s)
    time.sleep(0.005)
print(opened)
"""


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


class PortServer:
    """A port server on 127.0.0.1 that agrees to the options a line offers
    (COM-PORT-OPTION, binary, no go-ahead) and keeps what it is sent."""

    def __init__(self):
        self.listener = socket.create_server(('127.0.0.1', 0))
        self.port = self.listener.getsockname()[1]
        self.got = bytearray()
        self.peer = None
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        with contextlib.suppress(OSError), self.listener.accept()[0] as peer:
            self.peer = peer
            peer.sendall(b'\xff\xfd\x2c\xff\xfd\x00\xff\xfb\x00\xff\xfb\x03')  # DO 44, DO/WILL 0, WILL 3
            while block := peer.recv(4096):
                self.got += block

    def controls(self):
        """The values of each SET-CONTROL, in order."""
        return [value[0] for value in re.findall(rb'\xff\xfa\x2c\x05(.)\xff\xf0', bytes(self.got), re.S)]

    def modem(self, bits):
        """Says the modem inputs changed (NOTIFY-MODEMSTATE)."""
        wait_for(lambda: self.peer is not None, what='the line to connect')
        self.peer.sendall(b'\xff\xfa\x2c\x6b%c\xff\xf0' % bits)

    def close(self):
        self.listener.close()
        if self.peer is not None:
            with contextlib.suppress(OSError):
                self.peer.shutdown(socket.SHUT_RDWR)


class Served(unittest.TestCase):
    """brisvane --serve on a pty pair, and brisvane --attach in tmux."""

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix='bv-served-')
        self.addCleanup(shutil.rmtree, self.folder, True)
        self.line = Line(self.folder)
        self.line.start()
        self.addCleanup(self.line.stop)
        self.device = self.line.device
        if 'break' in self._testMethodName:
            self.port_server = PortServer()
            self.addCleanup(self.port_server.close)
            self.device = f'rfc2217://127.0.0.1:{self.port_server.port}'
        self.socket = str(Path(self.folder) / 'line.sock')
        self.where = f'unix:{self.socket}'
        self.token = ()
        self.also = ()  # a TCP share beside the UNIX one
        if 'token' in self._testMethodName:
            self.port = free_port()
            token = Path(self.folder) / 'token'
            token.write_text('the right one\n')
            token.chmod(0o600)
            if 'unix' in self._testMethodName:
                self.also = ('--share', f'tcp:127.0.0.1:{self.port}', '--share-token', str(token))
            else:
                self.where = f'tcp:127.0.0.1:{self.port}'
                self.token = ('--share-token', str(token))
        self.log = Path(self.folder) / 'serve.err'
        self.serve()

    def serve(self):
        """Starts the server, or a new one on the same line and socket."""
        with open(self.log, 'ab') as err:
            server = subprocess.Popen([PROGRAM, self.device, '--serve', '--share', self.where, *self.token,
                                       *self.also, '--flow', 'none', *self.served_with()], stdin=subprocess.DEVNULL,
                                      stdout=subprocess.DEVNULL, stderr=err)
        self.server = server
        self.addCleanup(lambda: server.poll() is None and (server.kill(), server.wait()))
        up = (lambda: listening(self.port)) if self.token else (lambda: os.path.exists(self.socket))
        wait_for(lambda: up() or server.poll() is not None, what='the served socket')
        self.assertTrue(up(), self.log.read_text())

    def served_with(self):
        if 'settings' in self._testMethodName:
            return ('115200',)
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

    def attach(self, *args, where=None):
        s = ConsoleSession(start=False, home=False)
        self.addCleanup(s.close)
        token = ('--token', self.token[1]) if self.token else ()
        if where is not None:
            token = ('--token', self.also[3])
        s.start(where or self.where, *token, *args, cols=80, rows=25, conf=Path(s.folder) / 'tmux.conf',
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
        b.wait_status(f'attached: {pwd.getpwuid(os.getuid()).pw_name} uid {os.getuid()} watching idle ')

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
        self.assertIn('handed the line back', journal)

    def test_a_wrong_token_is_refused_after_a_second_and_the_right_one_attaches(self):
        wrong = Path(self.folder) / 'wrong'
        wrong.write_text('not the one\n')
        wrong.chmod(0o600)
        started = time.monotonic()
        refused = subprocess.run([PROGRAM, '--attach', self.where, '--token', str(wrong)], capture_output=True,
                                 text=True, timeout=30, stdin=subprocess.DEVNULL)
        took = time.monotonic() - started
        self.assertEqual(refused.returncode, 1)
        self.assertIn('refused us: wrong token', refused.stderr)
        self.assertGreaterEqual(took, 0.8)  # a deadline in the server, not at once
        self.assertLess(took, 15)
        self.line.write(b'in\r\n')
        a = self.attach()
        a.wait_status('writing, 0 others')
        a.wait_row(0, 'in')
        journal = self.stop()
        self.assertIn('a TCP client from 127.0.0.1 refused: wrong token', journal)
        self.assertIn(f'serving {self.device} at 9600,n,8,1 (open) on tcp:127.0.0.1:{self.port}', journal)

    # The client says the server went away and waits; a new server on the
    # same line and socket has a screen of its own, and the client, attached
    # again by itself, shows that screen, a sequence the snapshot cut in two
    # ending as on the server's. The host's identify request is answered
    # once, by the server.
    def test_a_client_attaches_again_to_a_new_server_and_gets_its_screen(self):
        self.line.write(b'the old server\'s screen\r\n')
        a = self.attach()
        a.wait_row(0, "the old server's screen")
        self.stop()
        a.wait_status('disconnected, waiting for')
        self.serve()
        self.line.write(b'\x1bZfresh\r\n\x1b[3')
        self.assertEqual(self.line.read(3), b'\x1b/K')
        a.wait_status('writing, 0 others', 15)  # back-off, then attached again
        self.line.write(b'1mred\x1bZ')
        self.assertEqual(self.line.read(3), b'\x1b/K')
        self.assertEqual(self.line.drain(), b'')  # the server answers, not its writer too
        b = self.attach()
        b.wait_status('watching, 1 other')
        a.wait_row(1, 'red')
        b.wait_row(1, 'red')
        self.assertEqual(a.screen()[:24], b.screen()[:24])
        self.assertEqual(a.row(0).rstrip(), 'fresh')
        self.assertEqual(a.cursor(), b.cursor())

    # After a restart the writer from before gets the line back, though a
    # newcomer came first; with the writer gone, a take waits out the grace.
    def test_after_a_restart_the_line_goes_back_to_its_writer(self):
        a = self.attach()
        a.wait_status('writing, 0 others')
        b = self.attach()
        b.wait_status('watching, 1 other')
        self.stop()
        a.wait_status('disconnected, waiting for')
        self.serve()
        c = self.attach()
        c.wait_status('2 others', 15)
        a.wait_status('writing, 2 others', 15)
        b.wait_status('watching, 2', 15)  # after a notice of the loss, the status is cut
        c.wait_status('watching, 2', 15)
        self.stop()
        a.close()
        b.wait_status('disconnected')
        self.serve()
        served = time.monotonic()
        b.wait_status('watching, 1', 15)
        c.wait_status('watching, 1', 15)
        b.keys('C-a', 'g')
        b.wait_status('kept for the one who wrote before the server restarted')
        time.sleep(max(0.0, 10.5 - (time.monotonic() - served)))
        b.keys('C-a', 'g')
        b.wait_status('writing, 1 other')

    # One served line over a UNIX socket (the user's own) and TCP (the
    # token) at once: one roster, one writer, the same bytes to both.
    def test_a_unix_socket_and_a_tcp_share_with_its_token_serve_one_roster(self):
        wait_for(lambda: listening(self.port), what='the TCP share')
        a = self.attach()
        a.wait_status('writing, 0 others')
        b = self.attach(where=f'tcp:127.0.0.1:{self.port}')
        b.wait_status('watching, 1 other')
        a.wait_status('writing, 1 other')
        self.line.write(b'to both\r\n')
        a.wait_row(0, 'to both')
        b.wait_row(0, 'to both')
        b.keys('C-a', 'W')
        b.wait_status('(tcp)')
        b.keys('C-a', 'g')
        b.wait_status('writing, 1 other')
        b.type('x')
        self.assertEqual(self.line.read(1), b'x')
        log = self.stop()
        self.assertRegex(log, r'serving .* on unix:\S+, tcp:127\.0\.0\.1:\d+')

    # Clients show the settings in force, not their own defaults; a writer's
    # change is said to the others and logged.
    def test_clients_see_the_lines_settings_and_a_writers_change_of_them(self):
        a = self.attach()
        a.wait_status('writing, 0 others')
        a.wait_status('sock 115200')
        b = self.attach()
        b.wait_status('watching, 1 other')
        b.wait_status('sock 115200')
        a.keys('C-a', 'p')
        a.wait_status('line settings: 115200,n,8,1')
        a.keys('C-u')
        a.type('57600,n,8,1')
        a.keys('Enter')
        b.wait_status('set the line to 57600,n,8,1')
        wait_for(lambda: line_speed(self.line.device) == 57600, what='the line at 57600')
        b.keys('C-a', 'p')
        b.wait_status('line settings: 57600,n,8,1')
        b.keys('Escape')
        self.assertRegex(self.stop(), r'serve: \S+ set the line to 57600,n,8,1')

    # The served line's device goes and comes back: every client says so
    # as a local session would, the journal has both, the counters count it.
    def test_clients_see_the_served_line_go_and_come_back(self):
        a = self.attach()
        a.wait_status('writing, 0 others')
        b = self.attach()
        b.wait_status('watching, 1 other')
        self.line.stop()
        started = time.monotonic()
        a.wait_status('disconnected, waiting for', 1.5)
        b.wait_status('disconnected, waiting for', 1.5 - (time.monotonic() - started))
        self.assertIn(f'the line {self.device} went away', self.log.read_text())
        self.line.start()
        a.wait_status('writing, 1 other', 10)
        self.assertNotIn('disconnected', a.screen()[24])
        self.line.write(b'back\r\n')
        b.wait_row(0, 'back')
        a.keys('C-a', 'i')
        a.wait_status('reconnects 1')
        self.assertIn(f'the line {self.device} is back', self.stop())

    def test_break_and_dtr_from_the_writer_reach_a_network_line_and_a_watchers_are_refused(self):
        a = self.attach()
        a.wait_status('writing, 0 others')
        b = self.attach()
        b.wait_status('watching, 1 other')
        self.assertNotIn(5, self.port_server.controls())
        a.keys('C-a', 'b')
        wait_for(lambda: self.port_server.controls()[-2:] == [5, 6], what='BREAK on, then off')
        a.keys('C-a', 'd')
        wait_for(lambda: self.port_server.controls()[-1:] == [9], what='DTR off')
        a.keys('C-a', 't')
        wait_for(lambda: self.port_server.controls()[-1:] == [12], what='RTS off')
        sent = self.port_server.controls()
        b.keys('C-a', 'b')
        b.wait_status('you are watching')
        time.sleep(0.5)
        self.assertEqual(self.port_server.controls(), sent)

    def test_a_peer_of_another_user_is_refused_and_a_raw_client_dropped(self):
        if os.getuid() != 0 or not shutil.which('setpriv'):
            self.skipTest('running a client as nobody needs root and setpriv')
        os.chmod(self.folder, 0o755)
        refused = subprocess.run(['setpriv', '--reuid', 'nobody', '--regid', 'nogroup', '--clear-groups', PROGRAM,
                                  '--attach', f'unix:{self.socket}'], capture_output=True, text=True, timeout=20,
                                 stdin=subprocess.DEVNULL)
        self.assertEqual(refused.returncode, 1)
        self.assertIn('share-write', refused.stderr)

        # That user keeps twenty connections open, silent, opening a new one
        # for each the server closes: none holds a place, and ours gets in.
        hammer = subprocess.Popen(['setpriv', '--reuid', 'nobody', '--regid', 'nogroup', '--clear-groups',
                                   '/usr/bin/python3', '-c', HAMMER, self.socket, '4'], stdout=subprocess.PIPE, text=True)
        self.addCleanup(lambda: hammer.poll() is None and (hammer.kill(), hammer.wait()))
        time.sleep(0.5)
        a = self.attach()
        a.wait_status('watching, 0 others')
        self.assertGreater(int(hammer.communicate(timeout=30)[0]), 100)
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
        # Each went on to its size, and no further: it ends at the last line end that fits.
        # (A write that starts in a line finishes it first: at most one 13-byte line over.)
        self.assertTrue(all(4096 - 13 < p.stat().st_size <= 4096 + 13 for p in logs), [p.stat().st_size for p in logs])
        self.assertEqual(b''.join(p.read_bytes() for p in logs) + (Path(self.folder) / 'raw.log').read_bytes(), flood)
        self.assertEqual(journal.count('nobody refused'), 1, journal)  # once a minute, however often
        # The socket lets @root watch, and nobody else: so do the logs.
        for p in [*logs, Path(self.folder) / 'raw.log']:
            self.assertEqual((p.stat().st_mode & 0o777, p.stat().st_gid), (0o640, 0), p)
        self.assertIn('without a hello', journal)


if __name__ == '__main__':
    unittest.main()


PYSERIAL_CLIENT = r'''
import os, sys, termios, threading, serial
port, device, host = sys.argv[1], sys.argv[2], sys.argv[3]
s = serial.serial_for_url(f"rfc2217://127.0.0.1:{port}", baudrate=115200, timeout=5)
s.baudrate = 9600
fd = os.open(device, os.O_RDONLY | os.O_NOCTTY | os.O_NONBLOCK)
print("speed", termios.tcgetattr(fd)[4] == termios.B9600)
os.close(fd)
# The far end echoes every byte: a mebibyte of every value goes and comes back,
# 16 KiB at a time (a pty pair through socat can deadlock when both ways flood).
echo = os.open(host, os.O_RDWR | os.O_NOCTTY)
flood = bytes(range(256)) * 4096
def far_end():
    left = len(flood)
    while left:
        block = os.read(echo, min(left, 65536))
        os.write(echo, block)
        left -= len(block)
threading.Thread(target=far_end, daemon=True).start()
got = bytearray()
for at in range(0, len(flood), 16384):
    s.write(flood[at:at + 16384])
    while len(got) < at + 16384:
        block = s.read(at + 16384 - len(got))
        if not block:
            break
        got += block
print("round trip", bytes(got) == flood, len(got))
'''

PYSERIAL_CONTROLS = r'''
import sys, time, serial
s = serial.serial_for_url(f"rfc2217://127.0.0.1:{sys.argv[1]}", baudrate=19200, timeout=2)
s.dtr = False
s.rts = False
s.send_break(0.3)
time.sleep(0.5)
print("done")
'''

# Prints DCD and DSR each time they change, as pyserial reads them from the
# notifications, until the server says so.
PYSERIAL_MODEM = r'''
import sys, time, serial
s = serial.serial_for_url(f"rfc2217://127.0.0.1:{sys.argv[1]}", timeout=1)
seen, end = None, time.monotonic() + 20
while time.monotonic() < end:
    try:
        now = (int(s.cd), int(s.dsr))
    except serial.SerialException:
        now = None
    if now != seen:
        print(now, flush=True)
        seen = now
    time.sleep(0.02)
'''


class PortAccepters(unittest.TestCase):
    """A served line's RFC 2217 and raw TCP accepters, as the lab's own
    clients (pyserial, microcom) and a bare Telnet client use them."""

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix='bv-ports-')
        self.addCleanup(shutil.rmtree, self.folder, True)
        self.line = Line(self.folder)
        self.line.start()
        self.addCleanup(self.line.stop)
        self.port = free_port()
        self.log = Path(self.folder) / 'serve.err'

    def serve(self, *keys, device=None, share=None):
        """The served line with profile KEYS (lines of `key = value`)."""
        conf = Path(self.folder) / 'config'
        conf.write_text('[default]\n' + ''.join(f'{k}\n' for k in keys))
        with open(self.log, 'ab') as err:
            server = subprocess.Popen([PROGRAM, '--config', str(conf), device or self.line.device, '--serve',
                                       '--share', share or f'rfc2217:{self.port}', '--flow', 'none'],
                                      stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=err)
        self.addCleanup(lambda: server.poll() is None and (server.kill(), server.wait()))
        wait_for(lambda: listening(self.port) or server.poll() is not None, what='the accepter')
        self.assertTrue(listening(self.port), self.log.read_text())
        return server

    def microcom(self, name):
        sock = f'{self.folder}/tmux-{name}'
        subprocess.run(['tmux', '-S', sock, '-f', '/dev/null', 'new-session', '-d', '-s', 't', '-x', '80',
                        '-y', '25', f'microcom -t 127.0.0.1:{self.port}'], check=True)
        self.addCleanup(subprocess.run, ['tmux', '-S', sock, 'kill-server'], stderr=subprocess.DEVNULL)
        wait_for(lambda: 'connected to' in subprocess.run(['tmux', '-S', sock, 'capture-pane', '-p', '-t', 't'],
                                                           capture_output=True, text=True).stdout,
                 what=f'microcom {name} to connect')
        return lambda text: subprocess.run(['tmux', '-S', sock, 'send-keys', '-t', 't', '-l', text], check=True)

    def test_pyserial_sets_the_speed_and_a_mebibyte_of_every_byte_goes_both_ways(self):
        self.serve('share-rfc2217 = write')
        run = subprocess.run(['/usr/bin/python3', '-c', PYSERIAL_CLIENT, str(self.port), self.line.device,
                              self.line.host], capture_output=True, text=True, timeout=60)
        self.assertIn('speed True', run.stdout, run.stderr)
        self.assertIn('round trip True', run.stdout, run.stderr + self.log.read_text())
        wait_for(lambda: 'set the line to 9600,n,8,1' in self.log.read_text(), what='the change in the journal')

    def test_dtr_rts_and_break_from_a_writer_reach_a_network_line(self):
        behind = PortServer()
        self.addCleanup(behind.close)
        self.serve('share-rfc2217 = write', device=f'rfc2217://127.0.0.1:{behind.port}')
        run = subprocess.run(['/usr/bin/python3', '-c', PYSERIAL_CONTROLS, str(self.port)], capture_output=True,
                             text=True, timeout=30)
        self.assertIn('done', run.stdout, run.stderr)
        wait_for(lambda: {9, 12, 5} <= set(behind.controls()), what='DTR off, RTS off and a BREAK')

    # The served line's modem inputs reach the client as they change, and
    # the line's going drops DCD and DSR.
    def test_pyserial_sees_the_modem_inputs_change_and_drop_when_the_line_goes(self):
        behind = PortServer()
        self.addCleanup(behind.close)
        self.serve(device=f'rfc2217://127.0.0.1:{behind.port}')
        client = subprocess.Popen(['/usr/bin/python3', '-c', PYSERIAL_MODEM, str(self.port)],
                                  stdout=subprocess.PIPE, text=True)
        self.addCleanup(client.stdout.close)
        self.addCleanup(lambda: client.poll() is None and (client.kill(), client.wait()))
        self.assertEqual(client.stdout.readline().strip(), '(1, 1)', self.log.read_text())  # not known yet: a cable
        behind.modem(0x20)  # DSR alone
        self.assertEqual(client.stdout.readline().strip(), '(0, 1)')
        behind.modem(0xb0)
        self.assertEqual(client.stdout.readline().strip(), '(1, 1)')
        behind.close()
        self.assertEqual(client.stdout.readline().strip(), '(0, 0)')

    def test_microcom_types_while_it_holds_the_line_and_a_second_only_watches(self):
        self.serve('share-rfc2217 = write')
        first = self.microcom('first')
        first('one')
        self.assertEqual(self.line.read(3), b'one')
        second = self.microcom('second')
        second('two')
        wait_for(lambda: 'may only watch' in self.log.read_text(), what='the watcher to be told')
        first('three')
        self.assertEqual(self.line.read(5), b'three')  # nothing of the watcher's between

    def test_a_late_client_gets_the_replay_and_a_watchers_requests_change_nothing(self):
        self.line.write(b'U-Boot early\r\n')  # before anyone listens: the line is not open yet
        self.serve('rfc2217-replay = 4K', share=f'rfc2217:{self.port}')
        self.line.write(b'early boot\r\n')
        time.sleep(0.3)
        with socket.create_connection(('127.0.0.1', self.port), timeout=5) as telnet:
            got = b''
            while b'early boot\r\n' not in got:
                got += telnet.recv(4096)
            self.assertTrue(got.startswith(b'\xff\xfb\x00'), got)  # the offers first, then the replay
            # A watcher asks for 300 baud and sends a BREAK: answered with what is in force.
            telnet.sendall(b'\xff\xfb\x2c' + b'\xff\xfa\x2c\x01\x00\x00\x01\x2c\xff\xf0' +
                           b'\xff\xfa\x2c\x05\x05\xff\xf0' + b'\xff\xfa\x2c\x01' + b'x' * 5000 + b'\xff\xf0' + b'hi')
            while b'\xff\xfa\x2c\x69' not in got:
                got += telnet.recv(4096)
            self.assertIn(b'\xff\xfa\x2c\x65\x00\x00\x25\x80\xff\xf0', got)  # 9600
            self.assertIn(b'\xff\xfa\x2c\x69\x06\xff\xf0', got)  # BREAK off
        self.assertEqual(self.line.drain(), b'')  # neither the bytes nor the BREAK reached the line
        wait_for(lambda: 'may only watch' in self.log.read_text(), what='the refusal in the journal')
        self.assertEqual(self.log.read_text().count('may only watch'), 1)

    def test_brisvane_at_both_ends_of_an_rfc2217_line(self):
        self.serve('share-rfc2217 = write')
        s = ConsoleSession(start=False)
        self.addCleanup(s.close)
        s.start('115200', cols=80, rows=25, conf=Path(s.folder) / 'tmux.conf', env=None,
                first=f'rfc2217://127.0.0.1:{self.port}')
        self.line.write(b'seen through two brisvanes\r\n')
        s.wait_row(0, 'seen through two brisvanes')
        s.type('hi')
        self.assertEqual(self.line.read(2), b'hi')
        wait_for(lambda: 'set the line to 115200,n,8,1' in self.log.read_text(), what='its settings on the line')
        s.keys('C-a', 'x')
        self.assertEqual(s.exit_code(), 0)

    def test_a_stalled_client_is_dropped_a_ninth_refused_and_a_half_request_harms_nobody(self):
        self.serve()
        half = socket.create_connection(('127.0.0.1', self.port))
        half.sendall(b'\xff\xfa\x2c\x01\x00\x00')  # a speed request cut short, then gone
        half.close()
        wait_for(lambda: ' left' in self.log.read_text(), what='the half request to end its client alone')
        stalled = socket.socket()
        stalled.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        stalled.connect(('127.0.0.1', self.port))
        self.addCleanup(stalled.close)
        reading = socket.create_connection(('127.0.0.1', self.port))
        self.addCleanup(reading.close)
        others = [socket.create_connection(('127.0.0.1', self.port)) for _ in range(6)]
        for other in others:
            self.addCleanup(other.close)
        wait_for(lambda: self.log.read_text().count('attached, watching') == 9, what='eight clients more')
        with socket.create_connection(('127.0.0.1', self.port), timeout=5) as ninth:
            refusal = b''
            while block := ninth.recv(4096):
                refusal += block
        self.assertIn(b'refused: the served line has all its port clients', refusal)
        for other in others:
            other.close()
        got = bytearray()
        threading.Thread(target=read_all, args=(reading, got), daemon=True).start()
        flood = b''.join(b'line %06d of the flood\r\n' % n for n in range(130000))  # 3 MiB
        self.line.write(flood + b'the end\r\n')
        wait_for(lambda: b'the end\r\n' in got, 20, 'the reading client to get it all')
        offers = got.index(b'line 000000')
        self.assertEqual(bytes(got[offers:]), flood + b'the end\r\n')  # byte for byte
        self.assertIn('did not keep up and was dropped', self.log.read_text())

    def test_a_served_line_waits_for_a_device_absent_at_start(self):
        self.line.stop()
        server = self.serve('rfc2217-replay = 1K', share=f'tcp-raw:{self.port}')
        time.sleep(1)
        self.assertIsNone(server.poll(), self.log.read_text())
        self.line.start()
        wait_for(self.line_reached, what='the line to open and its bytes to reach a client')

    def line_reached(self):
        self.line.write(b'seen\r\n')
        with socket.create_connection(('127.0.0.1', self.port), timeout=5) as raw:
            raw.settimeout(0.5)
            try:
                return b'seen' in raw.recv(4096)
            except socket.timeout:
                return False

    def test_a_raw_accepter_and_the_addresses_a_port_accepter_refuses(self):
        server = self.serve('rfc2217-replay = 1K', share=f'tcp-raw:{self.port}')
        self.line.write(b'\xff plain \x00 bytes\r\n')
        time.sleep(0.3)
        with socket.create_connection(('127.0.0.1', self.port), timeout=5) as raw:
            got = b''
            while not got.endswith(b'bytes\r\n'):
                got += raw.recv(4096)
            self.assertEqual(got, b'\xff plain \x00 bytes\r\n')
        server.send_signal(signal.SIGTERM)
        self.assertEqual(server.wait(10), 0)
        for args, message in (
                (['--share', 'rfc2217:0.0.0.0:7411'], 'share-rfc2217-open = yes'),
                (['--share', 'rfc2217:7411'], 'give --serve too'),
                (['--share', 'rfc2217:nonsense'], 'rfc2217:nonsense')):
            run = subprocess.run([PROGRAM, self.line.device, *args] + (['--serve'] if 'open' in message else []),
                                 capture_output=True, text=True, timeout=10, stdin=subprocess.DEVNULL)
            self.assertEqual(run.returncode, 2, run.stderr)
            self.assertIn(message, run.stderr)
