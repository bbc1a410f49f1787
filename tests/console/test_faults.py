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


def lock_name(path):
    """As other programs name a lock: under /dev/ the rest, / made _; elsewhere the last part."""
    return 'LCK..' + (path.removeprefix('/dev/').replace('/', '_') if path.startswith('/dev/')
                      else os.path.basename(path))


def lock_files(device):
    """The lock files for DEVICE: its real node's and the given name's."""
    return [LOCKS / lock_name(os.path.realpath(device)), LOCKS / lock_name(device)]


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
    def test_minicom_and_brisvane_refuse_each_other_on_a_link_and_its_node(self):
        # The line is a link in the test's own folder to a pty: minicom names
        # its lock from the link's last part, or from the node under /dev.
        with ConsoleSession(start=False) as s:
            link, node = s.line.device, os.path.realpath(s.line.device)
            sockets = []
            def minicom(device):
                """Starts minicom on DEVICE in a tmux of its own; returns its screen."""
                socket = ['tmux', '-L', f'{s.socket}-minicom{len(sockets)}']
                sockets.append(socket)
                subprocess.run(socket + ['-f', '/dev/null', 'new-session', '-d', '-s', 'm', '-x', '80', '-y', '25',
                                         f'minicom -D {device}; sleep 600'], check=True)
                return lambda: subprocess.run(socket + ['capture-pane', '-p', '-t', 'm'],
                                              capture_output=True, text=True).stdout
            try:
                for device in (link, node):
                    screen = minicom(device)
                    wait_for(lambda: 'Welcome to minicom' in screen(), what=f'minicom to start on {device}')
                    result = run_program(link)
                    self.assertEqual(result.returncode, 1, device)
                    self.assertIn('busy', result.stderr)
                    subprocess.run(sockets[-1] + ['kill-server'])
                    wait_for(lambda: not any(p.exists() for p in lock_files(link)), what='minicom to remove its lock')
                s.start(cols=80, rows=25, conf=Path(s.folder) / 'tmux.conf', env=None)
                for device in (link, node):
                    screen = minicom(device)
                    wait_for(lambda: 'is locked' in screen(), what=f'minicom to refuse {device}')
                s.keys('C-a', 'x')
                self.assertEqual(s.exit_code(), 0)
                for path in lock_files(link):
                    self.assertFalse(path.exists(), path)
            finally:
                for socket in sockets:
                    subprocess.run(socket + ['kill-server'], capture_output=True)


if __name__ == '__main__':
    unittest.main()
