"""Lua scripts and batch mode: a fake boot loader on the host end stopped and
logged into by a script, in tmux and in batch mode; a script error; a
script stopped from the menu; batch input from a file with the output
compared; the timeout."""
import json
import re
import subprocess
import threading
import time
import unittest
from pathlib import Path

from console_session import PROGRAM, SCALE, ConsoleSession

BOOT_SCRIPT = r'''
if not expect("autoboot", 10000) then exit(2) end
send(" ")
expect("=> ")
send("version\r")
local v, minor = expect("loader %d+%.(%d+)%.%d+", 10000)
if v ~= "loader 2.1.7" or minor ~= "1" then exit(3) end
send("boot\r")
if not expect("login: ", 10000) then exit(4) end
send("root\r")
expect("Password: ")
send("secret\r")
if not expect("# ", 10000) then exit(5) end
log("logged in")
exit(42)
'''


def boot_loader(line):
    """A board: a countdown any key stops, a prompt that answers version (in
    colour) and boot, then a login. It echoes what it reads, bit 7 cleared."""
    def read_line():
        text = b''
        while not text.endswith(b'\r'):
            text += bytes([line.read(1, timeout=10)[0] & 0x7F])
            line.write(text[-1:].replace(b'\r', b'\r\n'))
        return text[:-1]
    line.write(b'\r\nLoader 2.1\r\nHit any key to stop autoboot:  3')
    line.read(1, timeout=10)
    line.write(b'\r\n=> ')
    while (command := read_line()) != b'boot':
        line.write(b'\x1b[32mloader 2.1.7\x1b[m\r\n=> ' if command == b'version' else b'?\r\n=> ')
    line.write(b'Starting kernel ...\r\n\r\nboard login: ')
    user = read_line()
    line.write(b'Password: ')
    line.write(b'# ' if (user, read_line()) == (b'root', b'secret') else b'Login incorrect\r\n')


def start_board(session):
    board = threading.Thread(target=boot_loader, args=(session.line,), daemon=True)
    board.start()
    return board


class Scripts(unittest.TestCase):
    def test_a_script_stops_the_boot_loader_and_logs_in(self):
        with ConsoleSession(start=False) as s:
            script = Path(s.folder) / 'boot.lua'
            script.write_text(BOOT_SCRIPT)
            s.start('--script', str(script), cols=80, rows=25, conf=Path(s.folder) / 'tmux.conf', env=None)
            start_board(s).join(30 * SCALE)
            self.assertEqual(s.exit_code(), 42)
            screen = '\n'.join(s.screen())
            self.assertIn('=> version', screen)
            self.assertIn('board login: root', screen)

            board = start_board(s)
            result = subprocess.run([PROGRAM, s.line.device, '--batch', '--script', str(script)],
                                    stdin=subprocess.DEVNULL, capture_output=True, timeout=30 * SCALE)
            board.join(10 * SCALE)
            self.assertEqual((result.returncode, result.stderr), (42, b'logged in\n'))
            self.assertIn(b'autoboot:  3\r\n=> version\r\nloader 2.1.7\r\n', result.stdout)  # no colour
            self.assertTrue(result.stdout.endswith(b'login: root\r\nPassword: secret\r\n# '), result.stdout)

    def test_a_script_error_and_a_script_stopped_from_the_menu(self):
        with ConsoleSession(home=True) as s:
            (Path(s.folder) / 'broken.lua').write_text('sleep(10)\nlocal n = nil + 1\n')
            (Path(s.folder) / 'wait.lua').write_text('expect("go")\nsend("too late")\n')
            s.keys('C-a', 'S')
            s.wait_status('run script')
            s.type('broken.lua')
            s.keys('Enter')
            s.wait_status('broken.lua:2: attempt to perform arithmetic')
            s.type('a')  # the session goes on
            self.assertEqual(s.host_read(1), b'a')

            s.keys('C-a', 'S')
            s.type('wait.lua')
            s.keys('Enter')
            s.wait_status('script wait.lua |')
            s.keys('C-a', 's', 'e')
            s.wait_status('script stopped')
            self.assertNotIn('script wait.lua |', s.screen()[24])
            s.host_write(b'go\r\n')
            s.sync()
            self.assertEqual(s.line.drain(), b'')

            # exit() after a wait leaves at once, with no key to wake the loop.
            (Path(s.folder) / 'leave.lua').write_text('sleep(50)\nexit(5)\n')
            s.keys('C-a', 'S')
            s.type('leave.lua')
            s.keys('Enter')
            self.assertEqual(s.exit_code(), 5)


class Batch(unittest.TestCase):
    def test_input_from_a_file_and_the_output_compared(self):
        with ConsoleSession(start=False) as s:
            given = Path(s.folder) / 'input.txt'
            given.write_bytes(b'hello\nworld\n')
            # Without --batch: standard output is not a terminal, which says so.
            # Colour hidden, bit 7 clear; or every byte as received.
            for args, output, note in ((['--batch'], b'HELLOA\r\n', b''),
                                       (['--raw'], b'\x1b[1mHELLO\xc1\r\n', b'not a terminal')):
                with open(given, 'rb') as stdin:
                    program = subprocess.Popen([PROGRAM, s.line.device, '--linger', '1000', *args], stdin=stdin,
                                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                    self.assertEqual(s.host_read(12), b'hello\nworld\n')
                    s.host_write(b'\x1b[1mHELLO\xc1\r\n')
                    stdout, stderr = program.communicate(timeout=20 * SCALE)
                self.assertEqual((program.returncode, stdout), (0, output))
                self.assertEqual(note in stderr and bool(stderr), bool(note), stderr)

    def test_a_script_that_would_stop_the_loop_is_stopped(self):
        # A command or the keyboard would stop the loop: --timeout could not
        # end the run, nor would the line be read meanwhile.
        with ConsoleSession(start=False) as s:
            script = Path(s.folder) / 'wait.lua'
            for call, said in (('os.execute("sleep 4")', b'os.execute would stop the terminal'),
                               ('pcall(io.read)', b'io.read would stop the terminal')):
                script.write_text(f'{call}\nsend("not reached")\n')
                started = time.monotonic()
                with subprocess.Popen([PROGRAM, s.line.device, '--batch', '--timeout', '3', '--script', str(script)],
                                      stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                      stderr=subprocess.PIPE) as program:
                    program.wait(timeout=20 * SCALE)  # standard input stays open
                    self.assertEqual(program.returncode, 3)
                    self.assertIn(b'script stopped: ' + said, program.stderr.read())
                self.assertLess(time.monotonic() - started, 3)
                self.assertEqual(s.line.drain(), b'')

    def test_boot_marks_timed_to_the_host_pauses_in_json_and_on_stderr(self):
        with ConsoleSession(start=False) as s:
            folder = Path(s.folder)
            (folder / 'wait.lua').write_text('send("go\\r")\nexpect("login:", 10000)\nmark("logged in")\n')
            times = []

            def board():
                s.line.read(3, timeout=10)
                s.line.write(b'U-Boot 2024\r\n')
                times.append(time.monotonic())
                time.sleep(0.5)
                s.line.write(b'Start')  # the pattern split across two reads
                times.append(time.monotonic())
                time.sleep(0.05)
                s.line.write(b'ing kernel\r\n')
                times.append(time.monotonic())
                time.sleep(0.7)
                s.line.write(b'login:')
                times.append(time.monotonic())
            host = threading.Thread(target=board, daemon=True)
            host.start()
            result = subprocess.run([PROGRAM, s.line.device, '--batch', '--script', str(folder / 'wait.lua'),
                                     '--mark', 'U-Boot', '--mark', 'Starting kernel', '--mark', 'login:',
                                     '--mark', 'never', '--marks-json', str(folder / 'marks.json'),
                                     '--pulse', 'DTR=50', '--log', str(folder / 'boot.log'),
                                     '--timestamp-format', '24h-delta'],
                                    stdin=subprocess.DEVNULL, capture_output=True, timeout=30 * SCALE)
            host.join(10)
            self.assertEqual(result.returncode, 0, result.stderr)
            marks = json.loads((folder / 'marks.json').read_text())
            self.assertEqual([(m['name'], m['pattern']) for m in marks],
                             [('U-Boot', 'U-Boot'), ('Starting kernel', 'Starting kernel'), ('login:', 'login:'),
                              ('never', 'never'), ('logged in', None)])
            self.assertEqual((marks[3]['seconds'], marks[3]['since_previous']), (None, None))
            for mark, pause in zip(marks[1:3], (times[2] - times[0], times[3] - times[2])):
                self.assertAlmostEqual(mark['since_previous'], pause, delta=0.08 * SCALE)
            self.assertAlmostEqual(marks[2]['seconds'] - marks[0]['seconds'], times[3] - times[0],
                                   delta=0.08 * SCALE)
            # The log: each line stamped with the time since the line before began.
            logged = re.findall(r'^\[\+00:00:(\d\d\.\d{3})\] (.*)$', (folder / 'boot.log').read_text(), re.M)
            self.assertEqual([text for _, text in logged], ['U-Boot 2024', 'Starting kernel', 'login:'])
            for (delta, _), pause in zip(logged[1:], (times[1] - times[0], times[3] - times[1])):
                self.assertAlmostEqual(float(delta), pause, delta=0.08 * SCALE)
            stderr = result.stderr.decode()
            # A pty has no modem lines: said once, and the run goes on.
            self.assertEqual(stderr.count('cannot pulse DTR: started without the reset'), 1, stderr)
            self.assertIn("brisvane: mark 'never' not reached\n", stderr)
            self.assertRegex(stderr, r"brisvane: mark 'login:' \d+\.\d{3} s \(\+0\.[67]\d\d s\)\n")

    def test_timeout(self):
        with ConsoleSession(start=False) as s:
            started = time.monotonic()
            with subprocess.Popen([PROGRAM, s.line.device, '--batch', '--timeout', '1'], stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE) as program:
                program.wait(timeout=20 * SCALE)  # standard input stays open
                self.assertEqual((program.returncode, program.stderr.read()), (124, b'brisvane: timed out after 1 s\n'))
            self.assertLess(time.monotonic() - started, 10 * SCALE)


if __name__ == '__main__':
    unittest.main()
