"""The Unix front end end to end: the real program in tmux over a pty line."""
import fcntl
import os
import pty
import struct
import termios
import pwd
import signal
import stat
import subprocess
import tempfile
import time
import unittest
from pathlib import Path

from console_session import PROGRAM, ConsoleSession, Line, run_program, wait_for

HERE = Path(__file__).resolve().parent


class Screen(unittest.TestCase):
    def test_host_bytes_graphics_cursor_and_identify(self):
        with ConsoleSession() as s:
            s.host_write(b'hello\r\n\x1bFahik\x1bG a\x1bY' + bytes([32 + 5, 32 + 10]) + b'XY')
            s.sync()
            s.wait_row(0, 'hello')
            s.wait_row(1, '\u2588\u2192\u2026\u2193 a')
            s.wait_row(5, ' ' * 10 + 'XY')
            self.assertEqual(s.cursor(), (5, 12))
            self.assertIn('9600,n,8,1', s.row(24))
            # Bit 7 is cleared before interpreting; a flood of scrolling keeps the last lines.
            s.host_write(b''.join(b'line %d\r\n' % i for i in range(500)) + b'\xc1\xc2')
            s.sync()
            s.wait_row(23, 'AB')
            s.wait_row(22, 'line 499')

    def test_ascii_stand_ins_without_a_utf8_locale(self):
        with ConsoleSession(env={'LANG': 'C', 'LC_ALL': 'C'}) as s:
            s.host_write(b'\x1bFahik\x1bG')
            s.sync()
            s.wait_row(0, '#>:v')

    def test_resize_below_80x25_and_back(self):
        with ConsoleSession() as s:
            s.host_write(b'before')
            s.sync()
            s.tmux('resize-window', '-t', 't', '-x', '60', '-y', '20')
            wait_for(lambda: 'enlarge' in s.screen()[0], what='the request to enlarge')
            s.host_write(b' during')  # still interpreted while too small
            s.sync()
            s.tmux('resize-window', '-t', 't', '-x', '10', '-y', '5')
            wait_for(lambda: s.screen()[0].startswith('need 80x25'), what='the request at 10 x 5')
            s.tmux('resize-window', '-t', 't', '-x', '80', '-y', '25')
            s.wait_row(0, 'before during')
            s.wait_status('menu')
            s.keys('C-a', 'x')
            self.assertEqual(s.exit_code(), 0)


class Keys(unittest.TestCase):
    def test_keys_reach_the_host_with_bit_7_clear(self):
        expected = [
            ('Up', b'\x1b?t'), ('S-Up', b'\x1bP'), ('Down', b'\x1b?p'), ('Left', b'\x1bD'),
            ('Home', b'\x1b?s'), ('End', b'\x1b?v'), ('IC', b'\x1b?w'), ('DC', b'\x7f'),
            ('S-DC', b'\x1b?u'), ('PPage', b'\x1bQ'), ('NPage', b'\x1b?x'),
            ('KP5', b'\x1b?u'), ('KP+', b'\x1b?M'), ('KP*', b'\x1bQ'),
            ('BSpace', b'\x08'), ('C-h', b'\x08'), ('Enter', b'\r'), ('Escape', b'\x1b'),
            ('C-c', b'\x03'), ('C-j', b'\n'), ('F1', b'\x1bP'), ('F3', b'\x1bR'),
        ]
        with ConsoleSession() as s:
            for name, sequence in expected:
                s.keys(name)
                self.assertEqual(s.host_read(len(sequence)), sequence, name)
            s.type('Paste of several keys at once')
            self.assertEqual(s.host_read(29), b'Paste of several keys at once')
            s.keys('F10')  # no such key here: said, not sent
            s.wait_status('F10: not a key of this terminal')
            self.assertEqual(s.line.drain(), b'')

    def test_menu_prefix_clear_and_exit(self):
        with ConsoleSession('--prefix', '^B') as s:
            s.host_write(b'some text')
            s.sync()
            s.wait_row(0, 'some text')
            s.keys('C-b', 'C-b')  # the prefix twice is the prefix byte
            self.assertEqual(s.host_read(1), b'\x02')
            s.keys('C-b', 's')
            s.wait_status('send: r raw')
            s.keys('t')
            s.wait_status('send text file:')
            s.keys('Escape')
            s.wait_status('menu')
            s.keys('C-b')
            s.wait_status('? help')  # the menu line ends with its help, however narrow
            s.keys('?')
            s.wait_row(0, ' The menu key (Ctrl-B), then: (any key goes back)')
            self.assertIn('  b    send a BREAK', '\n'.join(s.screen()))
            s.keys('q')  # any key goes back, and is not sent
            s.wait_row(0, 'some text')
            s.keys('C-b', 'c')
            s.wait_row(0, '')
            self.assertEqual(s.cursor(), (0, 0))
            self.assertEqual(s.line.drain(), b'')
            s.keys('C-b', 'x')
            self.assertEqual(s.exit_code(), 0)


class Line_(unittest.TestCase):
    def test_reconnect_keeps_the_screen(self):
        with ConsoleSession() as s:
            s.host_write(b'kept')
            s.sync()
            s.line.stop()
            s.wait_status('disconnected, waiting for ' + s.line.device)
            s.keys('x')  # typed while disconnected: goes nowhere, and says so
            s.wait_status('not connected: the key was not sent')
            s.wait_row(0, 'kept')
            s.line.start()
            wait_for(lambda: 'disconnected' not in s.row(24), what='reconnect')
            s.host_write(b' again')
            s.sync()
            s.wait_row(0, 'kept again')
            s.keys('y')
            self.assertEqual(s.host_read(1), b'y')

    def test_no_reconnect_exits_1(self):
        with ConsoleSession('--no-reconnect') as s:
            s.line.stop()
            self.assertEqual(s.exit_code(), 1)

    def test_terminating_signals_restore_the_terminal(self):
        for number in (signal.SIGTERM, signal.SIGHUP):
            with ConsoleSession() as s:
                os.kill(s.program_pid(), number)
                self.assertEqual(s.exit_code(), 128 + number)
                # The screen the program took over is given back.
                wait_for(lambda: 'menu' not in s.screen()[24], what='the status line to go')

    def test_a_vanished_terminal_ends_it(self):
        # Its own pty as the terminal, in a session of its own: no SIGHUP
        # comes when the terminal closes, only the hang-up on its input.
        with ConsoleSession(start=False) as s:
            master, slave = pty.openpty()
            fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack('HHHH', 25, 80, 0, 0))
            program = subprocess.Popen([PROGRAM, s.line.device], stdin=slave, stdout=slave,
                                       stderr=slave, start_new_session=True,
                                       env=dict(os.environ, TERM='xterm-256color'))
            os.close(slave)
            s.sync()
            os.close(master)
            self.assertEqual(program.wait(10), 128 + signal.SIGHUP)

    def test_idle_uses_no_processor_time(self):
        with ConsoleSession() as s:
            pid = s.program_pid()
            def cpu():
                fields = Path(f'/proc/{pid}/stat').read_text().rsplit(')', 1)[1].split()
                return int(fields[11]) + int(fields[12])
            before = cpu()
            time.sleep(2)
            self.assertLessEqual(cpu() - before, 1)  # clock ticks of 10 ms


class StartUp(unittest.TestCase):
    def expect_failure(self, args, text, code=1, **kwargs):
        result = run_program(*args, **kwargs)
        self.assertEqual(result.returncode, code, result.stderr)
        self.assertIn(text, result.stderr)
        self.assertEqual(result.stderr.count('\n'), 1 if code == 1 else result.stderr.count('\n'))
        return result

    def test_help_version_list_and_usage(self):
        for flag in ('--help', '--version', '--list'):
            result = run_program(flag)
            self.assertEqual(result.returncode, 0, flag)
            self.assertEqual(result.stderr, '')
        self.assertIn('--no-reconnect', run_program('--help').stdout)
        self.expect_failure([], 'no device given', code=2)
        self.expect_failure(['/dev/null', '9600,q,8,1'], 'parity must be', code=2)
        self.expect_failure(['/dev/null', '--flow', 'xon'], 'flow control', code=2)
        self.expect_failure(['/dev/null', '--bogus'], 'unknown option', code=2)
        self.expect_failure(['x' * 5000], 'too long', code=2)
        for address in ('rfc2217://127.0.0.1:99999', 'tcp://127.0.0.1', 'tcp://[::1:1'):
            self.assertIn('usage:', self.expect_failure([address], address, code=2).stderr)

    def test_devices_that_cannot_be_used(self):
        with tempfile.TemporaryDirectory() as folder:
            self.expect_failure([folder + '/ttyUSB9'], 'no such device')
            self.expect_failure(['/dev/null', '--home', folder + '/none'], 'no such folder')
            plain = Path(folder) / 'file'
            plain.write_text('')
            self.expect_failure([str(plain)], 'not a terminal')
            self.expect_failure(['/dev/null', '--home', str(plain)], 'not a folder')
            line = Line(folder)
            line.start()
            try:
                self.expect_failure([line.device, '300,n,8,1.5'], '1.5 stop bits')
                os.chmod(os.path.realpath(line.device), 0o600)
                nobody = pwd.getpwnam('nobody')
                def as_nobody():
                    os.setgid(nobody.pw_gid)
                    os.setuid(nobody.pw_uid)
                self.expect_failure([line.device], 'no permission', preexec_fn=as_nobody)
                shim = Path(folder) / 'refuse.so'
                subprocess.run(['cc', '-shared', '-fPIC', '-o', str(shim),
                                str(HERE.parent / 'e2e' / 'refuse_line_settings.c')], check=True)
                env = dict(os.environ, LD_PRELOAD=str(shim), ASAN_OPTIONS='verify_asan_link_order=0')
                self.expect_failure([line.device], 'refuses these line settings', env=env)
            finally:
                line.stop()

    def test_files_that_would_block_and_names_that_match_nothing(self):
        # Each refused at once (run_program's timeout would catch a hang).
        with tempfile.TemporaryDirectory() as folder:
            fifo = Path(folder) / 'fifo'
            os.mkfifo(fifo)
            for config in (str(fifo), folder, '/dev/zero', '/dev/urandom'):
                self.expect_failure(['--config', config, '/dev/null'], f'--config {config}: ', code=2)
            self.expect_failure(['/dev/null', '--log', str(fifo)], f'--log {fifo}: not a plain file', code=2)
            self.expect_failure(['/dev/null', '--log-raw', folder], 'is a folder', code=2)
            config = Path(folder) / 'config'
            config.write_text('[default]\nflow = none\n[a]\nsettings = 19200\n[b]\ndevice = /dev/null\n')
            self.expect_failure(['--config', str(config), 'nothere'],
                                f'nothere: no such profile or device; profiles: a, b ({config})', code=2)
            self.expect_failure(['--config', str(config), 'a'], f'profile a in {config} gives no device',
                                code=2)

    def test_a_terminal_that_cannot_place_the_cursor_is_refused(self):
        with tempfile.TemporaryDirectory(prefix='bv-') as folder:
            self.refuse_terminals(Line(folder))

    def refuse_terminals(self, line):
        line.start()
        try:
            for term in ('dumb', None, 'no-such-terminal'):
                env = {k: v for k, v in os.environ.items() if k != 'TERM'}
                if term is not None:
                    env['TERM'] = term
                master, slave = pty.openpty()
                program = subprocess.Popen([PROGRAM, line.device], stdin=slave, stdout=slave, stderr=slave,
                                           env=env, start_new_session=True)
                os.close(slave)
                self.assertEqual(program.wait(10), 1, term)
                out = b''
                try:
                    while chunk := os.read(master, 4096):
                        out += chunk
                except OSError:
                    pass  # the other end closed
                os.close(master)
                # One line, and nothing drawn before it.
                self.assertRegex(out.decode(), r'^brisvane: TERM[ =][^\x1b]*\r\n$', term)
        finally:
            line.stop()

    def test_a_device_in_use_is_busy(self):
        with ConsoleSession() as s:
            self.expect_failure([s.line.device], 'busy')
            s.sync()  # the first one still works


if __name__ == '__main__':
    unittest.main()
