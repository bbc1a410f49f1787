"""Several lines in one program: three pty pairs with the test as their
hosts. The timeline keeps the hosts' order, each line keeps its own screen,
keys go only to the line shown, batch mode prints the timeline, a script
works on the lines it names and marks say their line, and bad line lists
are refused before anything opens."""
import json
import os
import re
import subprocess
import tempfile
import threading
import time
import unittest
from pathlib import Path

from console_session import PROGRAM, ConsoleSession, Line, start_lines, wait_for


class ThreeLines(unittest.TestCase):
    def setUp(self):
        self.session = ConsoleSession(start=False)
        self.others = start_lines(self.session.folder, ('b', 'c'))
        self.timeline = Path(self.session.folder) / 'timeline.log'

    def tearDown(self):
        self.session.close()
        for line in self.others:
            line.stop()

    def start(self, *more, cols=80, rows=25):
        s = self.session
        conf = Path(s.folder) / 'tmux.conf'
        s.start(f'bmc={self.others[0].device}', f'power={self.others[1].device},115200',
                '--timeline', str(self.timeline), *more, cols=cols, rows=rows, conf=conf, env=None,
                first=f'dut={s.line.device}')

    def test_the_timeline_keeps_the_hosts_order_and_each_line_its_own_screen_and_keys(self):
        self.start()
        s, bmc, power = self.session, self.others[0], self.others[1]
        s.wait_status('[1 dut] 2 bmc 3 power')
        order = [(s.line, b'dut one'), (bmc, b'bmc one'), (power, b'power one'), (bmc, b'bmc two'),
                 (s.line, b'dut two')]
        for line, text in order:
            line.write(text + b'\r\n')
            time.sleep(0.05)
        s.wait_row(1, 'dut two')
        s.wait_status('2 bmc* 3 power*')  # new output where nobody looked
        # Keys go to the line shown, and only there.
        s.type('k1')
        self.assertEqual(s.host_read(2), b'k1')
        s.keys('C-a', '2')
        s.wait_status('1 dut [2 bmc] 3 power*')
        self.assertEqual([s.row(0).rstrip(), s.row(1).rstrip()], ['bmc one', 'bmc two'])
        s.type('k2')
        self.assertEqual(bmc.read(2), b'k2')
        self.assertEqual(s.line.drain(), b'')
        self.assertEqual(power.drain(), b'')
        s.keys('C-a', 'Tab')
        s.wait_status('1 dut 2 bmc [3 power]')
        self.assertEqual(s.row(0).rstrip(), 'power one')
        # The timeline: the hosts' order, labelled, in the view and in its file.
        s.keys('C-a', 'L')
        s.wait_status('timeline: 5 rows')
        rows = [row for row in s.screen() if row.strip()][:5]
        self.assertEqual([row.split()[-3:] for row in rows],
                         [['dut', 'dut', 'one'], ['bmc', 'bmc', 'one'], ['power', 'power', 'one'],
                          ['bmc', 'bmc', 'two'], ['dut', 'dut', 'two']])
        s.keys('/')
        s.type('bmc two')
        s.keys('Enter')
        s.keys('Enter')  # that row's line, its history where the row came
        s.wait_status('[2 bmc]')
        s.keys('q')
        s.wait_row(1, 'bmc two')
        s.keys('C-a', 'x')
        self.assertEqual(s.exit_code(), 0)
        written = [line.split(' ', 2)[-1] for line in self.timeline.read_text().splitlines()]
        self.assertEqual(written, ['dut   dut one', 'bmc   bmc one', 'power power one', 'bmc   bmc two',
                                   'dut   dut two'])

    def test_side_by_side_the_keys_go_to_one_screen_and_a_narrow_terminal_shows_one(self):
        self.start('--layout', 'side', cols=170, rows=30)
        s, bmc, power = self.session, self.others[0], self.others[1]
        left = lambda row: s.row(row)[:80].rstrip()
        right = lambda row: s.row(row)[81:161].rstrip()
        for line, text in [(s.line, b'dut one'), (bmc, b'bmc one'), (power, b'power one')]:
            line.write(text + b'\r\n')
        wait_for(lambda: (left(0), right(0)) == ('dut one', 'bmc one'), what='both screens')
        self.assertTrue(left(24).startswith(' [1 dut] 2 bmc 3 power* |'), left(24))
        self.assertTrue(right(24).startswith(' 2 bmc |'), right(24))  # beside: in view, never flagged
        s.type('k1')
        self.assertEqual(s.host_read(2), b'k1')
        self.assertEqual(s.cursor(), (1, 0))
        s.keys('C-a', 'Tab')  # the keys move; both screens stay where they are
        wait_for(lambda: right(24).startswith(' 1 dut [2 bmc] 3 power*'), what='the keys on the right')
        self.assertEqual((left(0), right(0)), ('dut one', 'bmc one'))
        self.assertTrue(left(24).startswith(' 1 dut |'), left(24))
        self.assertEqual(s.cursor(), (1, 81))
        s.type('k2')
        self.assertEqual(bmc.read(2), b'k2')
        self.assertEqual(s.line.drain(), b'')
        self.assertEqual(power.drain(), b'')
        s.keys('C-a', '3')  # a line not in view takes the screen beside the one with the keys
        wait_for(lambda: (left(0), right(0)) == ('power one', 'bmc one'), what='power beside bmc')
        self.assertTrue(left(24).startswith(' 1 dut 2 bmc [3 power] |'), left(24))
        # Too narrow for two: one line at a time, and the status line says why.
        s.tmux('resize-window', '-t', 't', '-x', '100', '-y', '30')
        s.wait_status('--layout side needs 161 x 25 (now 100 x 30): one line at a time')
        self.assertEqual(s.row(0).rstrip(), 'power one')
        s.tmux('resize-window', '-t', 't', '-x', '170', '-y', '30')
        wait_for(lambda: (left(0), right(0)) == ('power one', 'bmc one'), what='two screens again')
        self.assertNotIn('needs 161', s.row(24))  # no longer true
        s.keys('C-a', 'x')
        self.assertEqual(s.exit_code(), 0)

    def test_a_line_unplugged_and_back_loses_nothing_on_the_others(self):
        self.start()
        s, bmc, power = self.session, self.others[0], self.others[1]
        s.wait_status('[1 dut] 2 bmc 3 power')
        bmc.stop()
        s.wait_status('2 bmc!')
        flood = b''.join(b'line %05d of the dut\r\n' % i for i in range(3000))
        for at in range(0, len(flood), 4096):
            s.line.write(flood[at:at + 4096])
        bmc.start()
        wait_for(lambda: '2 bmc!' not in s.screen()[-1] and '2 bmc*!' not in s.screen()[-1], timeout=10,
                 what='bmc back')
        bmc.write(b'bmc back\r\n')
        power.write(b'power on\r\n')
        wait_for(lambda: 'power on' in self.timeline.read_text(), timeout=15, what='the last row')
        wait_for(lambda: 'line 02999' in self.timeline.read_text(), timeout=15, what='the flood')
        s.keys('C-a', 'x')
        self.assertEqual(s.exit_code(), 0)
        rows = [line.split(' ', 2)[-1] for line in self.timeline.read_text().splitlines()]
        dut = [row[6:] for row in rows if row.startswith('dut ')]
        self.assertTrue(dut == ['line %05d of the dut' % i for i in range(3000)], 'the flood lost rows')
        self.assertIn('bmc   bmc back', rows[-3:])


class Batch(unittest.TestCase):
    def test_standard_output_is_the_timeline_and_input_goes_to_the_line_named(self):
        folder = tempfile.mkdtemp(prefix='bv-')
        lines = start_lines(folder, ('a', 'b'))
        try:
            program = subprocess.Popen(
                [PROGRAM, f'one={lines[0].device}', f'two={lines[1].device}', '--batch', '--input', 'two',
                 '--timestamp-format', 'epoch', '--linger', '1500'],
                stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            time.sleep(0.3)
            lines[0].write(b'first\r\n')
            time.sleep(0.1)
            lines[1].write(b'second\r\n')
            time.sleep(0.1)
            lines[0].write(b'third\r\n')
            out, err = program.communicate(b'typed', timeout=10)
            self.assertEqual(program.returncode, 0, err)
            rows = [row.split(' ', 1)[1] for row in out.decode().splitlines()]
            self.assertEqual(rows, ['one first', 'two second', 'one third'])
            self.assertEqual(lines[1].drain(), b'typed')
            self.assertEqual(lines[0].drain(), b'')
        finally:
            for line in lines:
                line.stop()


    def test_a_script_waits_on_one_line_sends_to_another_and_marks_name_their_lines(self):
        folder = Path(tempfile.mkdtemp(prefix='bv-'))
        lines = start_lines(folder, ('dut', 'bmc', 'power'))
        dut, bmc, power = lines
        (folder / 'lab.lua').write_text(
            'mark("started")\n'
            'local b = line("bmc")\n'
            'b:send("?\\r")\n'
            'assert(b.expect("bmc ready", 10000))\n'
            'send("on\\r", "power")\n'
            'assert(expect("powered", 10000, "power"))\n'
            'b.mark("bmc seen")\n'
            'send("hello\\r")\n'
            'assert(expect("bye", 10000))\n')
        heard = []

        def hosts():  # each line's host answers only what came on its own line
            heard.append(bmc.read(2, timeout=10))
            bmc.write(b'bmc ready\r\n')
            heard.append(power.read(3, timeout=10))
            power.write(b'powered\r\n')
            heard.append(dut.read(6, timeout=10))
            dut.write(b'bye\r\n')
        host = threading.Thread(target=hosts, daemon=True)
        host.start()
        try:
            result = subprocess.run(
                [PROGRAM, f'dut={dut.device}', f'bmc={bmc.device}', f'power={power.device}', '--batch',
                 '--script', str(folder / 'lab.lua'), '--mark', 'powered', '--marks-json',
                 str(folder / 'marks.json')], stdin=subprocess.DEVNULL, capture_output=True, text=True,
                timeout=30)
            host.join(10)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(heard, [b'?\r', b'on\r', b'hello\r'])
            marks = json.loads((folder / 'marks.json').read_text())
            self.assertEqual([(m['line'], m['name'], m['seconds'] is not None) for m in marks],
                             [('dut', 'powered', False), ('dut', 'started', True), ('bmc', 'powered', False),
                              ('bmc', 'bmc seen', True), ('power', 'powered', True)])
            said = [row for row in result.stderr.splitlines() if row.startswith('brisvane: mark ')]
            self.assertEqual([re.sub(r'[\d.]+ s \(\+[\d.]+ s\)', 'T', row) for row in said],
                             ["brisvane: mark dut: 'powered' not reached", "brisvane: mark dut: 'started' T",
                              "brisvane: mark bmc: 'powered' not reached", "brisvane: mark bmc: 'bmc seen' T",
                              "brisvane: mark power: 'powered' T"])
        finally:
            for line in lines:
                line.stop()


class BadLines(unittest.TestCase):
    def run_program(self, *words):
        return subprocess.run([PROGRAM, *words, '--batch'], stdin=subprocess.DEVNULL, capture_output=True,
                              text=True, timeout=10)

    def test_each_bad_list_is_refused_with_why(self):
        folder = tempfile.mkdtemp(prefix='bv-')
        line = Line(folder)
        line.start()
        try:
            cases = [
                ([f'a={line.device}', f'a={line.device}'], 2, "line label 'a' given twice"),
                ([f'a={line.device}', 'b.c=/dev/null'], 2, "line label 'b.c': only letters"),
                ([f'a={line.device}', f'b={os.path.realpath(line.device)}'], 2, 'lines a and b both name'),
                ([f'l{i}=/dev/tty{i}' for i in range(10)], 2, 'more than 9 lines'),
                ([f'a={line.device}', 'b=/dev/nothere-at-all', '--no-reconnect'], 1, 'line b: '),
            ]
            for words, code, said in cases:
                result = self.run_program(*words)
                self.assertEqual(result.returncode, code, (words, result.stderr))
                self.assertIn(said, result.stderr, words)
        finally:
            line.stop()


if __name__ == '__main__':
    unittest.main()
