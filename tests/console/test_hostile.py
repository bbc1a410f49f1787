"""Network lines against a hostile server on 127.0.0.1: one that never
answers, talks before it answers, sends a subnegotiation without end, accepts
and closes at once, or stops reading. One scenario per behaviour."""
import os
import socket
import threading
import time
import unittest
from pathlib import Path

from console_session import ConsoleSession, wait_for

IAC, SB, SE, DO = 255, 250, 240, 253


class Server:
    """Listens on 127.0.0.1; `serve(connection)` runs for each client in a
    thread. Connections are counted and closed at the end."""

    def __init__(self, serve, receive_buffer=None):
        self.listener = socket.socket()
        if receive_buffer:
            self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, receive_buffer)
        self.listener.bind(('127.0.0.1', 0))
        self.listener.listen(8)
        self.port = self.listener.getsockname()[1]
        self.accepted, self.connections, self.received = [], [], bytearray()
        self.done = threading.Event()
        self.thread = threading.Thread(target=self._run, args=(serve,), daemon=True)
        self.thread.start()

    def _run(self, serve):
        self.listener.settimeout(0.1)
        while not self.done.is_set():
            try:
                connection, _ = self.listener.accept()
            except OSError:
                continue
            self.accepted.append(time.monotonic())
            self.connections.append(connection)
            threading.Thread(target=serve, args=(self, connection), daemon=True).start()

    def read_all(self, connection):
        connection.settimeout(0.1)
        while not self.done.is_set():
            try:
                block = connection.recv(1 << 16)
            except socket.timeout:
                continue
            except OSError:
                return
            if not block:
                return
            self.received += block

    def close(self):
        self.done.set()
        self.thread.join(5)
        for connection in self.connections:
            connection.close()
        self.listener.close()


def silent(server, connection):
    pass


class Hostile(unittest.TestCase):
    def start(self, serve, form='rfc2217', *args, **kwargs):
        server = Server(serve, **kwargs)
        self.addCleanup(server.close)
        s = ConsoleSession(start=False, home=True)
        self.addCleanup(s.close)
        name = f'127.0.0.1:{server.port}'
        s.start('--home', s.folder, *(a.replace('{home}', s.folder) for a in args), cols=80, rows=25, conf=Path(s.folder) / 'tmux.conf', env=None,
                first=f'{form}://{name}')
        return s, server, name

    def test_a_silent_server_shows_it_is_connecting_and_exit_is_at_once(self):
        s, _, name = self.start(silent)
        s.wait_status(f'connecting to {name}\u2026')
        s.keys('C-a', 'x')
        self.assertEqual(s.exit_code(timeout=2), 0)
        s, _, name = self.start(silent)
        self.assertEqual(s.exit_code(timeout=8), 1)
        wait_for(lambda: any(f'brisvane: {name}: no answer to the COM-PORT-OPTION negotiation in 5 s' in row
                             for row in s.screen()), what='the reason after the exit')

    def test_wait_keeps_waiting_for_a_silent_server(self):
        s, server, name = self.start(silent, 'rfc2217', '--wait')
        s.wait_status(f'{name}: no answer to the COM-PORT-OPTION negotiation in 5 s | waiting', timeout=8)
        wait_for(lambda: len(server.accepted) >= 2, 5, 'a second try')
        self.assertFalse(s.rc_file.exists())

    def test_data_before_the_answer_and_an_endless_subnegotiation_are_kept_apart(self):
        flood = b''.join(b'line %d\r\n' % i for i in range(12000))  # 110 kB
        def serve(server, connection):
            connection.sendall(flood)
            connection.sendall(bytes([IAC, SB, 24]) + b'x' * (1 << 20) + bytes([IAC, SE]) + b'\x1bH\x1bJafter')
            connection.sendall(bytes([IAC, DO, 44]))
            server.read_all(connection)
        s, _, _ = self.start(serve, 'rfc2217', '--log-raw', '{home}/raw.log')
        s.wait_row(0, 'after', timeout=10)
        s.wait_status('an over-long Telnet subnegotiation was dropped')
        self.assertEqual((Path(s.folder) / 'raw.log').read_bytes(), flood + b'\x1bH\x1bJafter')

    def test_accept_and_close_backs_off(self):
        s, server, _ = self.start(lambda server, connection: connection.close(), 'tcp')
        time.sleep(4.2)
        # 0.5, 1, 2 s apart: four tries, where a fixed half second makes nine.
        self.assertLessEqual(len(server.accepted), 5)
        gaps = [b - a for a, b in zip(server.accepted, server.accepted[1:])]
        self.assertGreater(gaps[-1], 1.5)

    def test_a_server_that_stops_reading(self):
        def serve(server, connection):
            connection.sendall(bytes([IAC, DO, 44]))
            server.done.wait()
        s, _, _ = self.start(serve, 'rfc2217', receive_buffer=4096)
        s.wait_status('9600,n,8,1')
        (Path(s.folder) / 'big.bin').write_bytes(os.urandom(16 << 20))
        s.keys('C-a', 's', 'r')
        s.wait_status('file:')
        s.type('big.bin')
        s.keys('Enter')
        s.wait_status('send big.bin')
        # Stuck once the kernel's send buffer (up to 4 MB) is full.
        def still():
            before = s.row(24)
            time.sleep(1.2)
            return s.row(24) == before
        wait_for(still, 20, 'the send to stop moving')
        s.keys('C-a', 'b')
        s.wait_status("break not sent yet: the line's output is stuck")
        s.keys('C-a', 'x')
        self.assertEqual(s.exit_code(), 0)

    def test_a_megabyte_paste_into_a_tcp_line(self):
        s, server, _ = self.start(lambda server, connection: server.read_all(connection), 'tcp')
        s.wait_status('(settings: the server')
        text = ''.join(f'pasted line {i:06d}\n' for i in range(50000))  # 1 MB
        (Path(s.folder) / 'paste.txt').write_text(text)
        s.tmux('load-buffer', '-b', 'p', str(Path(s.folder) / 'paste.txt'))
        started = time.monotonic()
        s.tmux('paste-buffer', '-p', '-r', '-b', 'p', '-t', 't')
        wait_for(lambda: len(server.received) >= len(text), 20, 'the whole paste at the server')
        elapsed = time.monotonic() - started
        self.assertEqual(bytes(server.received), text.replace('\n', '\r').encode())
        self.assertLess(elapsed, 10)  # about 1 s here: the benchmark has the figure


if __name__ == '__main__':
    unittest.main()
