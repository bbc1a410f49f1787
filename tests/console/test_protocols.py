"""XMODEM, YMODEM and ZMODEM through lrzsz on both ends: the program runs
sx/sb/sz or rx/rb/rz on its side, the test runs the other one on the host's
end of the line. The host's command reads the line through socat's pipes:
on a pty, lrzsz's receivers flush their input right after each ACK, and on
a line this fast the next block is often there already and lost to a
timeout retry (run directly on the pty pair, without brisvane, too)."""
import hashlib
import os
import shutil
import subprocess
import threading
import time
import unittest
from pathlib import Path

from console_session import PROGRAM, SCALE, ConsoleSession, free_port, listening, wait_for

SIZE = 300 * 1024


def digest(data):
    return hashlib.sha256(data).hexdigest()


@unittest.skipUnless(shutil.which('sb'), 'lrzsz is not installed (tools/test installs it)')
class Protocols(unittest.TestCase):
    def host(self, s, command, folder):
        """COMMAND on the host's end of the line, in FOLDER."""
        process = subprocess.Popen(['socat', f'{s.line.host},raw,echo=0', f'EXEC:{command},pipes'],
                                   cwd=folder, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: process.poll() is None and process.kill())
        return process

    def slow_host(self, s, command, folder):
        """COMMAND on the host's end, fed at about 50 KB/s: a transfer long enough to cancel."""
        process = subprocess.Popen(command.split(), cwd=folder, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL)

        def end():
            if process.poll() is None:
                process.kill()
            process.wait()
            for pipe in (process.stdin, process.stdout):
                try:
                    pipe.close()
                except BrokenPipeError:
                    pass
        self.addCleanup(end)

        def feed():
            while process.poll() is None:
                try:
                    process.stdin.write(os.read(s.line.fd, 1024))
                    process.stdin.flush()
                except BlockingIOError:
                    pass
                except (BrokenPipeError, OSError):
                    return
                time.sleep(0.02)

        def answer():
            for data in iter(lambda: process.stdout.read1(1024), b''):
                s.line.write(data)

        for job in (feed, answer):
            threading.Thread(target=job, daemon=True).start()
        return process

    def ask(self, s, letters, name):
        s.keys('C-a', *letters)
        s.wait_status('file:')
        s.type(name)
        s.keys('Enter')

    def test_each_protocol_sends_and_receives_byte_for_byte(self):
        with ConsoleSession(home=True) as s:
            home = Path(s.folder)
            hosted = home / 'host'
            hosted.mkdir()
            for letter, name, receiver, sender in (('x', 'xmodem', 'rx -c got.bin', 'sx -k'),
                                                   ('y', 'ymodem', 'rb', 'sb -k'),
                                                   ('z', 'zmodem', 'rz', 'sz')):
                with self.subTest(name):
                    data = os.urandom(SIZE)
                    (home / f'{name}.bin').write_bytes(data)
                    self.ask(s, ['s', letter], f'{name}.bin')
                    host = self.host(s, receiver, hosted)
                    self.assertEqual(host.wait(60), 0)
                    got = hosted / ('got.bin' if letter == 'x' else f'{name}.bin')
                    self.assertEqual(digest(got.read_bytes()), digest(data))
                    s.wait_status(f'{name}: sent {name}.bin, 307,200 bytes', 10)

                    back = os.urandom(SIZE)
                    (hosted / f'back-{name}.bin').write_bytes(back)
                    if letter == 'x':
                        self.ask(s, ['r', 'x'], f'back-{name}.bin')
                    else:
                        s.keys('C-a', 'r', letter)
                    s.wait_status(f'{name} receive')
                    host = self.host(s, f'{sender} back-{name}.bin', hosted)
                    self.assertEqual(host.wait(60), 0)
                    s.wait_status(f'{name}: received back-{name}.bin, 307,200 bytes', 10)
                    # XMODEM pads the last block: the file is whole blocks long.
                    self.assertEqual(digest((home / f'back-{name}.bin').read_bytes()), digest(back))

    def test_a_batch_script_sends_and_receives_by_ymodem_and_a_failed_send_fails_the_run(self):
        with ConsoleSession(start=False, home=True) as s:
            home = Path(s.folder)
            hosted = home / 'host'
            (home / 'in').mkdir()
            hosted.mkdir()
            data, back = os.urandom(SIZE), os.urandom(SIZE // 3)
            (home / 'image.bin').write_bytes(data)
            (hosted / 'back.bin').write_bytes(back)
            (hosted / 'board.sh').write_text("rb && sb -k back.bin && sleep 1 && printf 'booted\\r\\nlogin: '\n")
            (home / 'load.lua').write_text(
                'for _, go in ipairs({{send_file, "ymodem", "image.bin"}, {receive_file, "ymodem", "in"},\n'
                '                     {receive_file, "text", "boot.txt", 1500}, {send_file, "ymodem", "missing.bin"}}) do\n'
                '  local ok, bytes, words = go[1](go[2], go[3], go[4])\n'
                '  log(string.format("%s %d %s", tostring(ok), bytes, words))\n'
                'end\n')
            host = self.host(s, 'sh board.sh', hosted)
            result = subprocess.run([PROGRAM, s.line.device, '--batch', '--home', str(home), '--script',
                                     str(home / 'load.lua')], stdin=subprocess.DEVNULL, capture_output=True,
                                    timeout=60 * SCALE)
            self.assertEqual(host.wait(30), 0)
            self.assertEqual(digest((hosted / 'image.bin').read_bytes()), digest(data))
            self.assertEqual(digest((home / 'in' / 'back.bin').read_bytes()), digest(back))
            self.assertEqual((home / 'boot.txt').read_text(), 'booted\nlogin: ')  # until the line went quiet
            self.assertEqual(result.returncode, 1, result.stderr)
            lines = result.stderr.decode().splitlines()
            said = [line for line in lines if not line.startswith('brisvane: ')]  # the script's own log()
            self.assertEqual(said, ['true 307200 sent image.bin', f'true {SIZE // 3} received back.bin',
                                    'true 14 capture ended: 14 bytes in boot.txt',
                                    'false 0 cannot open missing.bin: No such file or directory'])
            self.assertEqual(lines[-1], 'brisvane: script: it ended after a failed transfer')

    def test_a_cancel_ends_the_host_end_and_the_terminal_goes_on(self):
        with ConsoleSession(home=True) as s:
            home = Path(s.folder)
            (home / 'out').mkdir()
            (home / 'big.bin').write_bytes(os.urandom(2 * 1024 * 1024))
            self.ask(s, ['s', 'y'], 'big.bin')
            host = self.slow_host(s, 'rb', home / 'out')
            s.wait_status('ymodem send big.bin', 10)
            wait_for(lambda: 'big.bin 0/' not in s.screen()[24], 30, 'progress')
            s.type('q')
            s.wait_status('not sent: a transfer runs')
            s.keys('C-a', 'e')
            s.wait_status('ymodem: cancelled')
            self.assertNotEqual(host.wait(30), 0)  # the CAN bytes ended it
            s.line.drain()
            s.sync()  # the host's bytes are interpreted again
            s.keys('C-a', 'e')
            s.wait_status('no XMODEM, YMODEM or ZMODEM transfer is running')

    def test_a_failing_tool_fails_though_the_parent_ignored_sigchld(self):
        # Ignored SIGCHLD survives exec: its exit status could not be read.
        ignoring = ['bash', '-c', 'trap "" CHLD; exec "$0" "$@"']
        with ConsoleSession('--ymodem-cmd', 'sb,false', wrapper=ignoring) as s:
            s.keys('C-a', 'r', 'y')
            s.wait_status('ymodem: failed: exit status 1', 10)

    def test_zmodem_over_raw_tcp(self):
        s = ConsoleSession(start=False, home=True)
        self.addCleanup(s.close)
        home = Path(s.folder)
        hosted = home / 'host'
        hosted.mkdir()
        port = free_port()
        server = subprocess.Popen(['socat', f'TCP-LISTEN:{port},bind=127.0.0.1,reuseaddr', 'EXEC:rz,pipes'],
                                  cwd=hosted, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: server.poll() is None and server.kill())
        wait_for(lambda: listening(port), what='socat to listen')
        data = os.urandom(SIZE)
        (home / 'net.bin').write_bytes(data)
        s.start('--home', s.folder, cols=80, rows=25, conf=home / 'tmux.conf', env=None,
                first=f'tcp://127.0.0.1:{port}')
        self.ask(s, ['s', 'z'], 'net.bin')
        self.assertEqual(server.wait(60), 0)
        self.assertEqual(digest((hosted / 'net.bin').read_bytes()), digest(data))
        s.wait_status('zmodem: sent net.bin, 307,200 bytes', 10)


if __name__ == '__main__':
    unittest.main()
