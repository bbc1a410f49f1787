"""The line shared with other programs: clients on --share's socket beside
the user at the screen, and a second brisvane watching through tcp://."""
import os
import socket
import stat
import threading
import unittest
from pathlib import Path

from console_session import ConsoleSession, wait_for
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


if __name__ == '__main__':
    unittest.main()
