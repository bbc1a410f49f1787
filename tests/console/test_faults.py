"""Faults found trying the Unix program as a new user would: a loop that
must never sleep or block, a terminal stopped from outside, a line left in a
bad state by another program, and the locks other programs use."""
import os
import signal
import subprocess
import termios
import time
import unittest
from pathlib import Path

from console_session import PROGRAM, ConsoleSession, Line, run_program, wait_for

LOCKS = Path('/run/lock')


def lock_files(device):
    """The one lock file for DEVICE: from its real path, after /dev/, / made _."""
    real = os.path.realpath(device)
    return [LOCKS / ('LCK..' + real.removeprefix('/dev/').lstrip('/').replace('/', '_'))]


class Loop(unittest.TestCase):
    def test_exit_at_once_during_a_paced_text_send(self):
        with ConsoleSession('--interval', '2000', home=True) as s:
            (Path(s.folder) / 'slow.txt').write_bytes(b'x' * 100)
            s.keys('C-a', 's', 't')
            s.wait_status('file:')
            s.type('slow.txt')
            s.keys('Enter')
            self.assertEqual(s.host_read(1), b'x')
            s.wait_status('send slow.txt 1/100')
            s.host_write(b'still shown')  # host output is not held up by the pause
            s.wait_row(0, 'still shown')
            started = time.monotonic()
            s.keys('C-a', 'x')
            self.assertEqual(s.exit_code(), 0)
            self.assertLess(time.monotonic() - started, 1.0)

    def test_stopped_and_continued_from_outside(self):
        with ConsoleSession(shell=True) as s:
            s.wait_status('menu')
            pid = s.program_pid()
            os.kill(pid, signal.SIGSTOP)
            wait_for(lambda: any('Stopped' in row for row in s.screen()), what='the shell to see it stop')
            s.type('fg')
            s.keys('Enter')
            s.wait_status('menu')
            s.keys('a')  # raw again: the key goes to the host, not to a cooked line
            self.assertEqual(s.host_read(1), b'a')
            s.keys('C-c')
            self.assertEqual(s.host_read(1), b'\x03')
            s.host_write(b'\x1bHback')
            s.sync()
            s.wait_row(0, 'back')


class LineState(unittest.TestCase):
    def test_software_flow_control_left_on_the_device_is_cleared(self):
        with ConsoleSession(start=False) as s:
            fd = os.open(s.line.device, os.O_RDWR | os.O_NOCTTY)
            attributes = termios.tcgetattr(fd)
            attributes[0] |= termios.IXON | termios.IXOFF | termios.IXANY
            termios.tcsetattr(fd, termios.TCSANOW, attributes)
            conf = Path(s.folder) / 'tmux.conf'
            s.start(cols=80, rows=25, conf=conf, env=None)
            self.assertEqual(termios.tcgetattr(fd)[0] & (termios.IXON | termios.IXOFF | termios.IXANY), 0)
            os.close(fd)


class StartUp(unittest.TestCase):
    def test_closed_standard_input_is_never_the_device(self):
        # The device opened as descriptor 0 would be read as standard input
        # and sent back to the host for ever.
        with ConsoleSession(start=False) as s:
            program = subprocess.run(['bash', '-c', 'exec "$0" "$@" <&-', PROGRAM, s.line.device, '--batch',
                                      '--linger', '200', '--timeout', '10'], capture_output=True, timeout=20)
            self.assertEqual(program.returncode, 0, program.stderr)
            self.assertEqual(s.line.drain(), b'')


class Locks(unittest.TestCase):
    def test_a_live_lock_is_busy_a_stale_one_is_taken_over(self):
        with ConsoleSession(start=False) as s:
            lock = lock_files(s.line.device)[0]
            lock.write_text(f'{os.getpid():10d}\n')  # this test is alive
            try:
                result = run_program(s.line.device)
                self.assertEqual(result.returncode, 1)
                self.assertIn(f'busy: another program (process {os.getpid()})', result.stderr)
                gone = subprocess.Popen(['true'])
                gone.wait()
                lock.write_text(f'{gone.pid:10d}\n')
                s.start(cols=80, rows=25, conf=Path(s.folder) / 'tmux.conf', env=None)
                for path in lock_files(s.line.device):
                    self.assertEqual(int(path.read_text()), s.program_pid())
                s.keys('C-a', 'x')
                self.assertEqual(s.exit_code(), 0)
                for path in lock_files(s.line.device):
                    self.assertFalse(path.exists(), path)
            finally:
                lock.unlink(missing_ok=True)

    @unittest.skipUnless(subprocess.run(['which', 'minicom'], capture_output=True).returncode == 0,
                         'minicom is not installed')
    def test_minicom_and_brisvane_refuse_each_other(self):
        with ConsoleSession(start=False) as s:
            # Both given a device right under /dev, where both name the lock alike.
            node = Path('/dev') / f'ttyBV{Path(s.folder).name[-6:]}'
            try:
                node.touch()
            except PermissionError:
                self.skipTest('a name in /dev needs root')
            self.addCleanup(node.unlink)
            if subprocess.run(['mount', '--bind', os.path.realpath(s.line.device), str(node)],
                              capture_output=True).returncode != 0:
                self.skipTest('cannot bind the pty to a name in /dev here')
            self.addCleanup(subprocess.run, ['umount', str(node)], check=True)
            device = str(node)
            socket = ['tmux', '-L', s.socket + '-minicom']
            def minicom():
                subprocess.run(socket + ['-f', '/dev/null', 'new-session', '-d', '-s', 'm', '-x', '80', '-y', '25',
                                         f'minicom -D {device}; sleep 600'], check=True)
                return lambda: subprocess.run(socket + ['capture-pane', '-p', '-t', 'm'],
                                              capture_output=True, text=True).stdout
            try:
                screen = minicom()
                wait_for(lambda: 'Welcome to minicom' in screen(), what='minicom to start')
                result = run_program(device)
                self.assertEqual(result.returncode, 1)
                self.assertIn('busy', result.stderr)
                subprocess.run(socket + ['kill-server'])
                wait_for(lambda: not any(p.exists() for p in lock_files(device)),
                         what='minicom to remove its lock')
                s.start(cols=80, rows=25, conf=Path(s.folder) / 'tmux.conf', env=None, first=device)
                screen = minicom()
                wait_for(lambda: 'is locked' in screen(), what='minicom to refuse the device')
            finally:
                subprocess.run(socket + ['kill-server'], capture_output=True)


if __name__ == '__main__':
    unittest.main()
