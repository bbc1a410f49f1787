"""Lua scripts and batch mode: a fake boot loader on the host end stopped and
logged into by a script, in tmux and in batch mode; a script error; a
script stopped from the menu; batch input from a file with the output
compared; the timeout; a reader of standard output that stops reading; a
script's tests and a mark's deadline as a JUnit file."""
import json
import os
import re
import signal
import socket
import subprocess
import threading
import time
import unittest
from pathlib import Path

from console_session import PROGRAM, SCALE, ConsoleSession

SOURCE = Path(__file__).resolve().parents[2]

TESTS_SCRIPT = r'''
test("boot", function()
  send("go\r")
  expect("login: ", 10000)
end)
test("shell <prompt> & \"root\"", function()
  send("\r")
  expect("# ", 500)
end)
test("version", function()
  send("v\r")
  expect("v1%.2", 10000)
  error("1.2 is too old \1\255")  -- bytes XML cannot hold
end)
'''

# Read with Debian's junitparser (its own python, whatever runs this test).
READ_JUNIT = r'''
import json, sys
from junitparser import JUnitXml
xml = JUnitXml.fromfile(sys.argv[1])
cases = [{'classname': case.classname, 'name': case.name, 'time': case.time, 'out': case.system_out,
          'results': [(type(r).__name__, r.type, r.message, r.text) for r in case.result]}
         for suite in xml for case in suite]
print(json.dumps({'counts': [xml.tests, xml.failures, xml.errors, xml.skipped], 'cases': cases}))
'''

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
            with subprocess.Popen([PROGRAM, s.line.device, '--batch', '--script', str(script)],
                                  stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE) as program:
                # Input ended at once: the script's wait is a wait, not a spin.
                self.assertLess(cpu_seconds(program.pid, 1.0), 0.5)
                stdout, stderr = program.communicate(timeout=30 * SCALE)
            board.join(10 * SCALE)
            self.assertEqual((program.returncode, stderr), (42, b'logged in\n'))
            self.assertIn(b'autoboot:  3\r\n=> version\r\nloader 2.1.7\r\n', stdout)  # no colour
            self.assertTrue(stdout.endswith(b'login: root\r\nPassword: secret\r\n# '), stdout)

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


def ignore_errors(call, *args):
    try:
        call(*args)
    except OSError:
        pass


def cpu_seconds(pid, interval):
    """The processor time `pid` used over `interval` seconds."""
    def used():
        fields = Path(f'/proc/{pid}/stat').read_text().rsplit(')', 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf('SC_CLK_TCK')
    before = used()
    time.sleep(interval)
    return used() - before


class Batch(unittest.TestCase):
    def test_input_from_a_file_and_the_output_compared(self):
        with ConsoleSession(start=False) as s:
            given = Path(s.folder) / 'input.txt'
            given.write_bytes(b'hello\nworld\n')
            # Without --batch: standard output is not a terminal, which says so.
            # Colour hidden, bit 7 clear; or every byte as received.
            for args, output, note in ((['--batch'], b'HELLOA\r\n', b''),
                                       (['--batch', '--map', 'ignore-cr'], b'HELLOA\n', b''),
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

    def test_tests_and_a_deadline_as_junit_for_ci(self):
        with ConsoleSession(start=False) as s:
            folder = Path(s.folder)
            (folder / 'tests.lua').write_text(TESTS_SCRIPT)

            def board():
                s.line.read(3, timeout=10)
                s.line.write(b'U-Boot 2024\r\nStarting kernel ...\r\nboard login: ')
                s.line.read(1, timeout=10)
                s.line.write(b'\x1b[1mLogin\x1b[m incorrect\x07 \xff\r\n')
                s.line.read(2, timeout=10)
                s.line.write(b'v1.2\r\n')
            host = threading.Thread(target=board, daemon=True)
            host.start()
            junit, record = folder / 'results.xml', folder / 'boot.rec'
            result = subprocess.run([PROGRAM, s.line.device, '--batch', '--script', str(folder / 'tests.lua'),
                                     '--junit', str(junit), '--record', str(record),
                                     '--mark', 'Starting kernel@12s', '--mark', 'Welcome@1'],
                                    stdin=subprocess.DEVNULL, capture_output=True, timeout=30 * SCALE)
            host.join(10)
            self.assertEqual(result.returncode, 1, result.stderr)  # tests failed, and the script returned
            self.assertIn(b'brisvane: 5 tests, 3 failed\n', result.stderr)
            schema = subprocess.run(['xmllint', '--noout', '--schema', str(SOURCE / 'tests/support/junit.xsd'),
                                     str(junit)], capture_output=True)
            self.assertEqual(schema.returncode, 0, schema.stderr)
            read = subprocess.run(['/usr/bin/python3', '-c', READ_JUNIT, str(junit)], capture_output=True, check=True)
            results = json.loads(read.stdout)
            self.assertEqual(results['counts'], [5, 3, 0, 0])
            cases = results['cases']
            self.assertEqual([(case['classname'], case['name']) for case in cases],
                             [(s.line.device, name) for name in ('boot', 'shell <prompt> & "root"', 'version',
                                                                  "mark 'Starting kernel' by 12 s",
                                                                  "mark 'Welcome' by 1 s")])
            attachment = f'[[ATTACHMENT|{record}]]\n'
            boot, shell, version, kernel, welcome = cases
            self.assertEqual((boot['results'], boot['out']),
                             ([], 'U-Boot 2024\nStarting kernel ...\nboard login: \n' + attachment))
            [(kind, type_, message, text)] = shell['results']
            self.assertEqual((kind, type_), ('Failure', 'timeout'))
            self.assertRegex(message, r"^expect '# ' timed out after 0\.5\d\d s$")
            self.assertAlmostEqual(shell['time'], 0.5, delta=0.2 * SCALE)
            self.assertIn("pattern: # \nwaited: 0.5", text)
            self.assertIn('\nscreen:\nU-Boot 2024\nStarting kernel ...\nboard login: Login incorrect\n', text)
            self.assertEqual(len(text.split('screen:\n')[1].splitlines()), 24)
            self.assertEqual(shell['out'], 'Login incorrect \n' + attachment)  # what arrived while it ran
            [(kind, type_, message, text)] = version['results']
            self.assertEqual((kind, type_, message),
                             ('Failure', 'error', f'{folder}/tests.lua:13: 1.2 is too old \u2401\ufffd'))
            self.assertEqual(version['out'], 'v1.2\n' + attachment)
            self.assertEqual(kernel['results'], [])
            self.assertLess(kernel['time'], 12)
            self.assertEqual(welcome['results'][0][1:3], ['deadline', 'not reached (due by 1 s)'])

            # Where it cannot be written: said before the run, nothing sent.
            result = subprocess.run([PROGRAM, s.line.device, '--batch', '--script', str(folder / 'tests.lua'),
                                     '--junit', str(folder / 'no' / 'results.xml')],
                                    stdin=subprocess.DEVNULL, capture_output=True, timeout=10 * SCALE)
            self.assertEqual(result.returncode, 2)
            self.assertIn(b'--junit ' + bytes(folder / 'no' / 'results.xml') + b': No such file or directory',
                          result.stderr)
            self.assertEqual(s.line.drain(), b'')

    def test_timeout(self):
        with ConsoleSession(start=False) as s:
            started = time.monotonic()
            with subprocess.Popen([PROGRAM, s.line.device, '--batch', '--timeout', '1'], stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE) as program:
                program.wait(timeout=20 * SCALE)  # standard input stays open
                self.assertEqual((program.returncode, program.stderr.read()), (124, b'brisvane: timed out after 1 s\n'))
            self.assertLess(time.monotonic() - started, 10 * SCALE)

    def test_marks_json_to_a_fifo_is_refused_at_start(self):
        # Its open at exit would wait for a reader for ever, SIGTERM or not.
        with ConsoleSession(start=False) as s:
            fifo = Path(s.folder) / 'marks.fifo'
            os.mkfifo(fifo)
            result = subprocess.run([PROGRAM, s.line.device, '--batch', '--timeout', '1', '--mark', 'x',
                                     '--marks-json', str(fifo)], stdin=subprocess.DEVNULL, capture_output=True,
                                    timeout=10 * SCALE)
            self.assertEqual(result.returncode, 2)
            self.assertIn(f'--marks-json {fifo}: not a plain file (give a file, or /dev/null)'.encode(),
                          result.stderr)
            result = subprocess.run([PROGRAM, s.line.device, '--batch', '--timeout', '1', '--mark', 'x',
                                     '--marks-json', '/dev/null'], stdin=subprocess.DEVNULL, capture_output=True,
                                    timeout=10 * SCALE)
            self.assertEqual(result.returncode, 0, result.stderr)  # standard input ended it

    def test_a_stalled_reader_holds_the_line_not_the_loop(self):
        # A TCP line: a pty pair's relay would stop both ways once its one way is full.
        flood = b''.join(b'line %06d of the flood\r\n' % n for n in range(130000))  # 3 MiB
        for ending in ('signal', 'reader reads'):
            with ConsoleSession(start=False) as s, socket.create_server(('127.0.0.1', 0)) as server, \
                    socket.socket(socket.AF_UNIX) as client:
                share = Path(s.folder) / 'share'
                program = subprocess.Popen([PROGRAM, f'tcp://127.0.0.1:{server.getsockname()[1]}', '--batch',
                                            '--share', f'unix:{share}'], stdin=subprocess.PIPE,
                                           stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                self.addCleanup(program.kill)
                server.settimeout(10 * SCALE)
                host, _ = server.accept()
                self.addCleanup(host.close)
                host.settimeout(10 * SCALE)
                writer = threading.Thread(target=lambda: ignore_errors(host.sendall, flood), daemon=True)
                writer.start()
                # Standard output is not read: the rest of the flood waits in the line (here the
                # socket's buffers), and the loop goes on.
                time.sleep(2 * SCALE)
                self.assertLess(cpu_seconds(program.pid, 1.0), 0.5)  # it waits, it does not spin
                client.connect(str(share))
                threading.Thread(target=ignore_errors, args=(lambda: [*iter(lambda: client.recv(65536), b'')],),
                                 daemon=True).start()
                client.sendall(b'ls\r')
                self.assertEqual(host.recv(3), b'ls\r')
                if ending == 'signal':
                    started = time.monotonic()
                    program.send_signal(signal.SIGTERM)
                    program.wait(timeout=20 * SCALE)
                    self.assertEqual(program.returncode, 128 + signal.SIGTERM)
                    self.assertLess(time.monotonic() - started, 1.0 * SCALE)
                    host.close()
                    program.stdin.close()
                else:
                    got = bytearray()
                    reader = threading.Thread(target=lambda: got.extend(program.stdout.read()), daemon=True)
                    reader.start()
                    writer.join(timeout=60 * SCALE)
                    host.sendall(b'the end\r\n')
                    program.stdin.close()
                    program.wait(timeout=60 * SCALE)
                    reader.join(timeout=10 * SCALE)
                    self.assertEqual((program.returncode, bytes(got)), (0, flood + b'the end\r\n'))
                program.stdout.close()
                program.stderr.close()

if __name__ == '__main__':
    unittest.main()
