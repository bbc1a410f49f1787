"""Network lines through the real program and a real ser2net (Debian's,
4.3): ser2net opens one end of a socat pty pair and offers it as an RFC 2217
port and a raw TCP port; the test plays the host on the other end."""
import hashlib
import os
import re
import signal
import subprocess
import time
import unittest
from pathlib import Path

from console_session import PROGRAM, ConsoleSession, free_port, listening, line_speed, run_program, wait_for

SER2NET = '/usr/sbin/ser2net'


class Ser2net:
    """ser2net in the foreground under strace, which shows what it asks of the pty."""

    def __init__(self, folder, device):
        self.folder, self.device = Path(folder), device
        self.rfc2217, self.raw = free_port(), free_port()
        self.trace = self.folder / 'ser2net.trace'
        (self.folder / 'ser2net.yaml').write_text(
            '%YAML 1.1\n---\n'
            f'connection: &rfc\n  accepter: telnet(rfc2217),tcp,127.0.0.1,{self.rfc2217}\n'
            f'  connector: serialdev,{device},9600n81,local\n'
            f'connection: &raw\n  accepter: tcp,127.0.0.1,{self.raw}\n'
            f'  connector: serialdev,{device},9600n81,local\n')
        self.process = None

    def start(self):
        self.process = subprocess.Popen(
            ['strace', '-f', '-e', 'trace=ioctl', '-o', str(self.trace), SER2NET, '-n', '-u', '-c',
             str(self.folder / 'ser2net.yaml'), '-P', str(self.folder / 'ser2net.pid')],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        wait_for(lambda: listening(self.rfc2217) and listening(self.raw), what='ser2net to listen')

    def stop(self):
        if self.process is not None:
            os.killpg(self.process.pid, signal.SIGTERM)
            self.process.wait(10)
            self.process = None

    def calls(self, pattern):
        return re.findall(pattern, self.trace.read_text()) if self.trace.exists() else []


@unittest.skipUnless(os.path.exists(SER2NET), 'ser2net is not installed (tools/test installs it)')
class Network(unittest.TestCase):
    def session(self, form, *args, **kwargs):
        s = ConsoleSession(start=False, home=True)
        self.addCleanup(s.close)
        server = Ser2net(s.folder, s.line.device)
        server.start()
        self.addCleanup(server.stop)
        port = server.rfc2217 if form == 'rfc2217' else server.raw
        s.start(*args, '--home', s.folder, cols=80, rows=25, conf=Path(s.folder) / 'tmux.conf', env=None,
                first=f'{form}://localhost:{port}', **kwargs)
        return s, server

    def test_rfc2217_settings_keys_break_and_reconnect(self):
        s, server = self.session('rfc2217', '19200,o,7,2')
        s.wait_status(f'localhost:{server.rfc2217} 19200,o,7,2 none')
        s.host_write(b'over the network \xff\r\n')  # 0xFF is Telnet's IAC: escaped on the way
        s.sync()
        s.wait_row(0, 'over the network')  # 0x7F is not drawn
        s.keys('a', 'Up')
        self.assertEqual(s.host_read(4), b'a\x1b?t')
        # The command line's settings reached the pty: its speed, and the
        # size and parity ser2net asked for (a pty keeps only 8N).
        self.assertEqual(line_speed(s.line.device), 19200)
        wait_for(lambda: server.calls(r'TCSETS2?, \{[^}]*CS7[^}]*PARENB\|PARODD'), what='7 bits, odd parity')
        s.keys('C-a', 'p', 'C-u')
        s.type('57600')
        s.keys('Enter')
        s.wait_status('line settings now 57600,n,8,1')
        wait_for(lambda: line_speed(s.line.device) == 57600, what='the live speed at the pty')
        s.keys('C-a', 'b')
        s.wait_status('break sent')
        wait_for(lambda: server.calls(r'TIOCSBRK'), what='ser2net to send the BREAK')
        s.keys('C-a', 'd')  # ser2net never answers DTR: nothing waits for it
        s.wait_status('DTR off')
        server.stop()
        s.wait_status(f'disconnected, waiting for localhost:{server.rfc2217}')
        server.start()
        wait_for(lambda: 'disconnected' not in s.row(24), 10, 'reconnect')
        wait_for(lambda: line_speed(s.line.device) == 57600, what='the settings in force again')
        s.host_write(b'\x1bH\x1bJback')
        s.sync()
        s.wait_row(0, 'back')

    def test_a_mebibyte_each_way_through_ser2net(self):
        data = os.urandom(1 << 20)  # every byte value, 0xFF (IAC) among them
        s, server = self.session('rfc2217')
        home = Path(s.folder)
        (home / 'out.bin').write_bytes(data)
        s.keys('C-a', 's', 'r')
        s.wait_status('file:')
        s.type('out.bin')
        s.keys('Enter')
        self.assertEqual(hashlib.sha256(s.host_read(len(data), timeout=60)).hexdigest(),
                         hashlib.sha256(data).hexdigest())
        s.keys('C-a', 'r', 'r')
        s.wait_status('file:')
        s.type('in.bin')
        s.keys('Enter')
        s.wait_status('capture')
        s.host_write(data)
        wait_for(lambda: (home / 'in.bin').stat().st_size == len(data), 60, 'the capture file')
        self.assertEqual(hashlib.sha256((home / 'in.bin').read_bytes()).hexdigest(),
                         hashlib.sha256(data).hexdigest())

    def test_raw_tcp_leaves_settings_to_the_server(self):
        s, server = self.session('tcp')
        s.wait_status(f'localhost:{server.raw} (settings: the server\'s)')
        s.host_write(b'raw \xff bytes')
        s.sync()
        s.wait_row(0, 'raw  bytes')
        s.keys('b')
        self.assertEqual(s.host_read(1), b'b')
        s.keys('C-a', 'p')
        s.wait_status(f"line settings are the server's business on localhost:{server.raw}")


    def test_attach_by_host_name_and_a_text_send_takes_the_served_lines_rules(self):
        # A served TCP line found by name (one that is not found is said); a
        # text file's lines end at the client, the served line's bit-7 rule
        # marks its bytes, and its sent map is for typing, not for files.
        s = ConsoleSession(start=False)
        self.addCleanup(s.close)
        port = free_port()
        token = Path(s.folder) / 'token'
        token.write_text('sesame\n')
        token.chmod(0o600)
        with open(Path(s.folder) / 'serve.err', 'wb') as err:
            server = subprocess.Popen([PROGRAM, s.line.device, '--serve', '--share', f'tcp:{port}', '--share-token',
                                       str(token), '--flow', 'none', '--map', 'out-cr-crlf'],
                                      stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=err)
        self.addCleanup(lambda: server.poll() is None and (server.kill(), server.wait()))
        wait_for(lambda: listening(port), what='the served line')
        (Path(s.folder) / 'notes.txt').write_bytes(b'one\r\ntwo\xe9\n')
        # The client's own rules differ: bit 7 set, no map.
        s.start(f'tcp:localhost:{port}', '--token', str(token), '--eight-bit', '--home', s.folder, cols=80,
                rows=25, conf=Path(s.folder) / 'tmux.conf', env=None, first='--attach')
        s.wait_status('writing, 0 others')
        s.keys('C-a', 's', 't')
        s.wait_status('file:')
        s.type('notes.txt')
        s.keys('Enter')
        self.assertEqual(s.line.read(9), b'one\rtwoi\r')  # bit 7 cleared, no map
        self.assertEqual(s.line.drain(), b'')
        server.send_signal(signal.SIGTERM)
        self.assertEqual(server.wait(10), 0)
        unknown = run_program('--attach', 'tcp:nothere.invalid:9')  # said, and no wait for a name server
        self.assertEqual(unknown.returncode, 1)
        self.assertIn('nothere.invalid:9: name not resolved', unknown.stderr)


if __name__ == '__main__':
    unittest.main()
