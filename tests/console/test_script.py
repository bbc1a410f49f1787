"""Lua scripts beside the session, in tmux and in batch mode, and batch mode
itself: a fake boot loader on the host end stopped and logged into, a
script error, a script stopped from the menu, standard input from a file
with standard output compared, and the timeout."""
import subprocess
import threading
import time
import unittest
from pathlib import Path

from console_session import PROGRAM, SCALE, ConsoleSession, wait_for

BOOT_SCRIPT = r'''
if not expect("autoboot", 10000) then exit(2) end
send(" ")
expect("=> ")
send("version\r")
local v, minor = expect("loader %d+%.(%d+)%.%d+", 10000)
if v ~= "loader 2.1.7" or minor ~= "1" then exit(3) end
expect("=> ")
send("boot\r")
if not expect("login: ", 10000) then exit(4) end
send("root\r")
expect("Password: ")
send("secret\r")
if not expect("# ", 10000) then exit(5) end
log("logged in")
exit(42)
'''


class BootLoader(threading.Thread):
    """A board on the host end: a countdown any key stops, a prompt that
    knows version and boot (answers in colour, as such loaders do), then a
    login. It reads with bit 7 cleared and echoes what it reads."""

    def __init__(self, line):
        super().__init__(daemon=True)
        self.line = line
        self.stop = threading.Event()

    def read_line(self):
        text = b''
        while not self.stop.is_set():
            try:
                byte = bytes([self.line.read(1, timeout=0.2)[0] & 0x7F])
            except TimeoutError:
                continue
            if byte in b'\r\n':
                self.line.write(b'\r\n')
                return text.decode()
            self.line.write(byte)
            text += byte
        return ''

    def run(self):
        self.line.write(b'\r\nLoader 2.1\r\nHit any key to stop autoboot:  3')
        try:
            self.line.read(1, timeout=5)
        except TimeoutError:
            self.line.write(b'\r\nbooting\r\n')
            return
        self.line.write(b'\r\n=> ')
        while not self.stop.is_set():
            command = self.read_line()
            if command == 'version':
                self.line.write(b'\x1b[32mloader 2.1.7\x1b[m\r\n=> ')
            elif command == 'boot':
                self.line.write(b'Starting kernel ...\r\n\r\nboard login: ')
                break
            elif command:
                self.line.write(b'Unknown command\r\n=> ')
        user = self.read_line()
        self.line.write(b'Password: ')
        password = self.read_line()
        self.line.write(b'# ' if (user, password) == ('root', 'secret') else b'Login incorrect\r\n')


def write_script(session, name, text):
    path = Path(session.folder) / name
    path.write_text(text)
    return str(path)


class Scripts(unittest.TestCase):
    def test_a_script_stops_the_boot_loader_and_logs_in(self):
        with ConsoleSession(start=False) as s:
            script = write_script(s, 'boot.lua', BOOT_SCRIPT)
            board = BootLoader(s.line)
            s.start('--script', script, cols=80, rows=25, conf=Path(s.folder) / 'tmux.conf', env=None)
            board.start()
            self.assertEqual(s.exit_code(timeout=30), 42)
            board.stop.set()
            board.join()
            screen = '\n'.join(s.screen())
            self.assertIn('=> version', screen)
            self.assertIn('board login: root', screen)

    def test_a_script_error_names_its_line_and_the_session_goes_on(self):
        with ConsoleSession(home=True) as s:
            write_script(s, 'broken.lua', 'sleep(10)\nlocal n = nil + 1\n')
            s.keys('C-a', 'S')
            s.wait_status('run script')
            s.type('broken.lua')
            s.keys('Enter')
            s.wait_status('broken.lua:2: attempt to perform arithmetic')
            s.type('a')
            self.assertEqual(s.host_read(1), b'\xe1')

    def test_a_script_stopped_from_the_menu_sends_nothing_more(self):
        with ConsoleSession(home=True) as s:
            write_script(s, 'wait.lua', 'expect("go")\nsend("too late")\n')
            s.keys('C-a', 'S')
            s.type('wait.lua')
            s.keys('Enter')
            s.wait_status('script |')
            s.keys('C-a', 'S')
            s.wait_status('a script is running')
            s.keys('C-a', 's', 'e')
            s.wait_status('script stopped')
            self.assertNotIn('script |', s.screen()[24])
            s.host_write(b'go\r\n')
            s.sync()
            self.assertEqual(s.line.drain(), b'')


def run_batch(session, *args, stdin=subprocess.DEVNULL):
    return subprocess.run([PROGRAM, session.line.device, *args], stdin=stdin, capture_output=True,
                          timeout=30 * SCALE)


class Echo(threading.Thread):
    """A host that sends back every byte it gets, bit 7 and all."""

    def __init__(self, line):
        super().__init__(daemon=True)
        self.line = line
        self.stop = threading.Event()

    def run(self):
        while not self.stop.is_set():
            try:
                self.line.write(self.line.read(1, timeout=0.1))
            except TimeoutError:
                pass


class Batch(unittest.TestCase):
    def test_the_boot_script_in_batch_mode(self):
        with ConsoleSession(start=False) as s:
            script = write_script(s, 'boot.lua', BOOT_SCRIPT)
            board = BootLoader(s.line)
            board.start()
            result = run_batch(s, '--batch', '--script', script)
            board.stop.set()
            board.join()
            self.assertEqual(result.returncode, 42, result.stderr)
            self.assertIn(b'Hit any key to stop autoboot:  3\r\n=> version\r\n\x1b[32mloader 2.1.7', result.stdout)
            self.assertTrue(result.stdout.endswith(b'board login: root\r\nPassword: secret\r\n# '), result.stdout)
            self.assertEqual(result.stderr, b'logged in\n')

    def test_standard_input_from_a_file_and_output_compared(self):
        with ConsoleSession(start=False) as s:
            given = Path(s.folder) / 'input.txt'
            given.write_bytes(b'hello\nworld\n')
            echo = Echo(s.line)
            echo.start()
            try:
                with open(given, 'rb') as stdin:
                    result = run_batch(s, '--batch', '--linger', '300', stdin=stdin)
                self.assertEqual((result.returncode, result.stdout, result.stderr), (0, b'hello\nworld\n', b''))
                with open(given, 'rb') as stdin:  # not a terminal: batch mode by itself, said once
                    result = run_batch(s, '--raw', '--linger', '300', stdin=stdin)
                self.assertEqual(result.returncode, 0)
                self.assertEqual(result.stdout, bytes(b | 0x80 for b in b'hello\nworld\n'))
                self.assertIn(b'not a terminal', result.stderr)
            finally:
                echo.stop.set()
                echo.join()

    def test_timeout(self):
        with ConsoleSession(start=False) as s:
            started = time.monotonic()
            with subprocess.Popen([PROGRAM, s.line.device, '--batch', '--timeout', '1'], stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE) as program:
                program.wait(timeout=20 * SCALE)  # standard input stays open
                stderr = program.stderr.read()
            self.assertEqual(program.returncode, 124)
            self.assertIn(b'timed out after 1 s', stderr)
            self.assertLess(time.monotonic() - started, 10 * SCALE)


if __name__ == '__main__':
    unittest.main()
