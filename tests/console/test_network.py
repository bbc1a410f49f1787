"""Network lines through the real program and a real ser2net (Debian's,
4.3): ser2net opens one end of a socat pty pair and offers it as an RFC 2217
port and a raw TCP port; the test plays the host on the other end. And lines
found by mDNS, with an avahi-daemon in a network namespace of its own that
holds only the loopback interface, so nothing reaches the real network."""
import hashlib
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time
import unittest
from pathlib import Path

from console_session import (PROGRAM, SCALE, ConsoleSession, Line, free_port, listening, line_speed, run_program,
                             wait_for)

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


class Namespace:
    """A network namespace with only lo (multicast on, and 127.0.0.2, without
    which ser2net finds no name for its accepter) and a /run of its own for a
    private D-Bus system bus and the avahi-daemon on it."""

    SETUP = ('mount -t tmpfs tmpfs /run && mkdir -p /run/dbus /run/avahi-daemon && ip link set lo up && '
             'ip link set lo multicast on && ip addr add 127.0.0.2/8 dev lo && '
             'dbus-daemon --system --fork --print-pid >/run/dbus.pid && '
             'avahi-daemon -D --no-drop-root --no-chroot && touch "$1" && exec sleep 3600')

    def __init__(self, folder):
        ready = Path(folder) / 'namespace-ready'
        self.holder = subprocess.Popen(['unshare', '-n', '-m', '--propagation', 'private', 'sh', '-c', self.SETUP,
                                        'sh', str(ready)], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                       start_new_session=True)
        wait_for(lambda: ready.exists() or self.holder.poll() is not None, what='the namespace')
        if not ready.exists():
            raise unittest.SkipTest('cannot make a network namespace with avahi-daemon here')

    def command(self, *args):
        return ['nsenter', '-t', str(self.holder.pid), '-n', '-m', *args]

    def run(self, *args, timeout=20):
        return subprocess.run(self.command(*args), capture_output=True, text=True, timeout=timeout * SCALE,
                              stdin=subprocess.DEVNULL)

    def stop_daemon(self):
        self.run('avahi-daemon', '-k')
        wait_for(lambda: self.run('avahi-daemon', '-c').returncode != 0, what='avahi-daemon to stop')

    def close(self):
        self.stop_daemon()
        self.run('sh', '-c', 'kill $(cat /run/dbus.pid)')
        os.killpg(self.holder.pid, signal.SIGTERM)
        self.holder.wait(10)


@unittest.skipUnless(os.path.exists(SER2NET) and shutil.which('avahi-daemon') and shutil.which('avahi-browse'),
                     'ser2net, avahi-daemon or avahi-utils missing (tools/test installs them)')
class FoundByMdns(unittest.TestCase):
    def start(self, ns, *args, log):
        err = open(log, 'wb')
        self.addCleanup(err.close)
        process = subprocess.Popen(ns.command(*args), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=err, start_new_session=True)
        self.addCleanup(lambda: process.poll() is None and (os.killpg(process.pid, signal.SIGTERM),
                                                            process.wait(10)))
        return process

    def test_a_served_line_and_ser2net_are_found_and_reached_by_name(self):
        folder = Path(tempfile.mkdtemp(prefix='brisvane-mdns-'))
        self.addCleanup(shutil.rmtree, folder, True)
        ns = Namespace(folder)
        self.addCleanup(ns.close)
        board, other = Line(folder / 'a'), Line(folder / 'b')
        for line in (board, other):
            Path(line.device).parent.mkdir()
            line.start()
            self.addCleanup(line.stop)
        token = folder / 'token'
        token.write_text('sesame\n')
        token.chmod(0o600)
        # The accepters on every address: in this namespace that is lo alone.
        (folder / 'profiles').write_text(f'[board1]\ndevice = {board.device}\nshare-rfc2217-open = yes\n'
                                        'rfc2217-replay = 4K\n')
        served = folder / 'served.err'
        first = self.start(ns, PROGRAM, '--config', str(folder / 'profiles'), 'board1', '--serve', '--share',
                   'rfc2217:0.0.0.0:7411', '--share', 'tcp:0.0.0.0:7412', '--share-token', str(token), '--web',
                   '0.0.0.0:7413', log=served)
        (folder / 'ser2net.yaml').write_text(
            '%YAML 1.1\n---\nconnection: &s2n\n  accepter: telnet(rfc2217),tcp,7001\n'
            f'  connector: serialdev,{other.device},115200n81,local\n'
            '  options:\n    mdns: true\n    mdns-name: s2n-board\n')
        self.start(ns, SER2NET, '-n', '-u', '-c', str(folder / 'ser2net.yaml'), '-P', str(folder / 'ser2net.pid'),
                   log=folder / 'ser2net.err')
        wait_for(lambda: "advertised as 'board1'" in served.read_text(), timeout=10,
                 what='the served line advertised')

        # The three services, with the keys a port server gives.
        def browse(kind):
            return [row for row in ns.run('avahi-browse', '-rtpk', kind).stdout.splitlines()
                    if row.startswith('=') and ';board1;' in row]
        port, attach, page = browse('_iostream._tcp'), browse('_brisvane._tcp'), browse('_http._tcp')
        self.assertTrue(port and attach and page, (port, attach, page))
        self.assertRegex(port[0], r';7411;"provider=brisvane" "gensiostack=telnet\(rfc2217\),tcp" '
                                  r'"devicetype=serialdev"$')
        self.assertRegex(attach[0], r';7412;"provider=brisvane" "devicetype=serialdev"$')
        self.assertRegex(page[0], r';7413;"provider=brisvane" "path=/"$')

        # --list finds both, ser2net's port too, within a second.
        wait_for(lambda: listening_in(ns, 7001), what='ser2net to listen')
        started = time.monotonic()
        listed = ns.run(PROGRAM, '--list').stdout
        self.assertLess(time.monotonic() - started, 1.9 * SCALE)
        self.assertRegex(listed, r'mdns:board1  rfc2217://127\.0\.0\.\d:7411  \(_iostream\._tcp on ')
        self.assertRegex(listed, r'mdns:board1  --attach tcp:127\.0\.0\.\d:7412  \(_brisvane\._tcp on ')
        self.assertRegex(listed, r'mdns:s2n-board  rfc2217://127\.0\.0\.\d:7001  \(_iostream\._tcp on ')
        self.assertIn('provider=ser2net', listed)

        # Reached by name: a late client gets the board's early output.
        board.write(b'U-Boot 2024.01 (board1)\r\n')
        time.sleep(0.2)
        reached = ns.run(PROGRAM, 'mdns:board1', '--batch', '--linger', '1500')
        self.assertEqual(reached.returncode, 0, reached.stderr)
        self.assertIn('U-Boot 2024.01 (board1)', reached.stdout)

        # A name nobody has: exit 2 within 2 s, saying what there is.
        started = time.monotonic()
        missing = ns.run(PROGRAM, 'mdns:board9', '--batch')
        self.assertLess(time.monotonic() - started, 2.0 * SCALE)
        self.assertEqual(missing.returncode, 2)
        self.assertIn('mdns:board9: not found on the network; found: board1, s2n-board', missing.stderr)

        # A second line by the same name takes avahi's other name, and says so.
        second = folder / 'second.err'
        rival = self.start(ns, PROGRAM, other.device, '--serve', '--share', 'rfc2217:7421', '--mdns-name',
                           'board1', log=second)
        wait_for(lambda: "advertised as 'board1 #2'" in second.read_text(), timeout=10, what='the second name')
        self.assertIn("the name 'board1' is taken on the network: 'board1 #2' instead", second.read_text())
        os.killpg(rival.pid, signal.SIGTERM)
        rival.wait(10)

        # No daemon: --list says so once and does not wait; a served line runs unadvertised.
        ns.stop_daemon()
        wait_for(lambda: 'avahi-daemon went away' in served.read_text(), what='the loss said')
        self.assertIsNone(first.poll())
        started = time.monotonic()
        listed = ns.run(PROGRAM, '--list')
        self.assertLess(time.monotonic() - started, 0.5 * SCALE)
        self.assertEqual(listed.returncode, 0)
        self.assertEqual(listed.stdout.count('mDNS: no avahi-daemon running'), 1)
        third = folder / 'third.err'
        process = self.start(ns, PROGRAM, other.device, '--serve', '--share', 'rfc2217:7431', log=third)
        wait_for(lambda: listening_in(ns, 7431), what='the unadvertised line')
        # Said once the line is up, so it may come just after the port listens.
        wait_for(lambda: 'mDNS: no avahi-daemon running' in third.read_text(), what='the missing daemon said')
        self.assertIsNone(process.poll())
        os.killpg(first.pid, signal.SIGTERM)
        self.assertEqual(first.wait(10), 0, served.read_text())


def listening_in(ns, port):
    return f':{port:04X} ' in ns.run('cat', '/proc/net/tcp').stdout


if __name__ == '__main__':
    unittest.main()
