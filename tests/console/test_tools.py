"""The engineer's tools in the real program: the hex view of a known byte
run and hex input, line-end maps both ways and changed live, local echo on
and off, the counters at the menu and at exit, and a recorded session
replayed to the screens it showed."""
import json
import re
from datetime import datetime, timedelta, timezone
import os
import subprocess
import tempfile
import time
import unittest
from pathlib import Path

from console_session import PROGRAM, ConsoleSession, start_lines, wait_for


class HexView(unittest.TestCase):
    def test_a_known_run_shows_as_hex_rows_and_hex_input_goes_out_as_typed(self):
        with ConsoleSession('--hex') as s:
            s.host_write(bytes(range(0x41, 0x51)) + b'\r\n\x1bZ\xff')
            s.wait_row(0, '00000000  41 42 43 44 45 46 47 48  49 4a 4b 4c 4d 4e 4f 50  ABCDEFGHIJKLMNOP')
            s.wait_row(1, '00000010  0d 0a 1b 5a ff                                    ...Z.')
            self.assertEqual(s.line.drain(), b'')  # an identify request in the view is not answered
            s.keys('C-a', 'H')
            s.wait_status('hex view off')
            s.host_write(b'text')
            s.wait_row(2, 'text')
            s.keys('C-a', 'w')
            s.wait_status('hex bytes to send:')
            s.type('1b 5a 0xff,00')
            s.keys('Enter')
            self.assertEqual(s.host_read(4), b'\x1bZ\xff\x00')  # no bit 7 added
            s.wait_status('sent 4 bytes')


class LineEndMaps(unittest.TestCase):
    def test_maps_from_the_command_line_and_changed_from_the_menu(self):
        with ConsoleSession('--map', 'lf-crlf,out-cr-crlf') as s:
            s.host_write(b'one\ntwo\n')
            s.wait_row(1, 'two')  # no staircase
            self.assertEqual(s.row(0).rstrip(), 'one')
            s.keys('Enter')
            self.assertEqual(s.host_read(2), b'\r\n')
            s.keys('C-a', 'M')
            s.wait_status('line-end maps: out-cr-crlf,lf-crlf')
            s.keys('C-u')
            s.type('ignore-cr,del-bs')
            s.keys('Enter')
            s.wait_status('line-end maps: ignore-cr,del-bs')
            s.host_write(b'x\ry\r\n')
            s.wait_row(2, 'xy')
            s.keys('BSpace', 'Enter')
            self.assertEqual(s.host_read(2), b'\x08\r')  # Backspace unchanged, Enter a lone CR again
            s.keys('C-a', 'M')
            s.keys('C-u')
            s.type('lf-cr')
            s.keys('Enter')
            s.wait_status("maps 'lf-cr': maps are")


class LocalEcho(unittest.TestCase):
    def test_echo_off_then_on(self):
        with ConsoleSession() as s:
            s.type('ab')
            self.assertEqual(s.host_read(2), b'ab')
            s.sync()
            self.assertEqual(s.row(0).strip(), '')  # the host did not echo: nothing shows
            s.keys('C-a', 'E')
            s.wait_status('local echo on')
            s.type('cd')
            s.keys('Enter')
            s.type('e')
            s.wait_row(0, 'cd')
            s.wait_row(1, 'e')
            self.assertEqual(s.host_read(4), b'cd\re')


class Counters(unittest.TestCase):
    def test_the_menu_and_stats_at_exit_count_both_ways(self):
        with ConsoleSession('--stats') as s:
            s.host_write(b'hello')
            s.wait_row(0, 'hello')
            s.type('ok')
            s.host_read(2)
            s.keys('C-a', 'i')
            s.wait_status('received 5  sent 2  dropped 0  reconnects 0  connected 0:00:0')
            s.keys('C-a', 'x')
            self.assertEqual(s.exit_code(), 0)
            wait_for(lambda: any('brisvane: received 5  sent 2  dropped 0' in row for row in s.screen()),
                     what='the counters after exit')
            self.assertIn('not reported', ''.join(s.screen()))  # a pty keeps no error counts


if __name__ == '__main__':
    unittest.main()


def recording_events(path):
    """A recording's events as (kind, line, microseconds, payload), read as
    its format says: a text header to an empty line, then framed events."""
    data = Path(path).read_bytes()
    at = data.index(b'\n\n') + 2
    events, time = [], 0

    def varint():
        nonlocal at
        value, shift = 0, 0
        while True:
            byte = data[at]
            at += 1
            value |= (byte & 0x7f) << shift
            shift += 7
            if not byte & 0x80:
                return value
    while at < len(data):
        start = at
        kind, line = data[at], data[at + 1]
        at += 2
        delta, length = varint(), varint()
        assert data[at] == (sum(data[start:at]) & 0xff) ^ 0xa5, 'a framing check'
        at += 1
        time += delta
        events.append((kind, line, time, data[at:at + length]))
        at += length
    return events


def event(kind, delta, payload):
    """One recorded event of line 0, framed as the format says."""
    def varint(value):
        out = bytearray()
        while True:
            out.append(value & 0x7f | (0x80 if value >> 7 else 0))
            value >>= 7
            if not value:
                return bytes(out)
    head = bytes([kind, 0]) + varint(delta) + varint(len(payload))
    return head + bytes([(sum(head) & 0xff) ^ 0xa5]) + payload


class Replay(unittest.TestCase):
    """A session recorded live, and the screen replayed at known moments:
    the same 24 rows the live screen showed then."""

    def test_the_replayed_screen_at_each_moment_is_the_live_one(self):
        s = ConsoleSession(start=False)
        self.addCleanup(s.close)
        record = Path(s.folder) / 'session.bvrec'
        s.start('--record', str(record), '--flow', 'none', cols=80, rows=25,
                conf=Path(s.folder) / 'tmux.conf', env=None)
        phases = [
            b'login: root\r\nLast login: today\r\n$ ls\r\nboot  etc  home\r\n$ ',
            b''.join(b'line %03d of a long listing\r\n' % n for n in range(40)) + b'$ ',  # scrolls
            b'\x1bH\x1bJ\x1bY%c%cmiddle of a cleared screen\x1bY%c%ccorner' % (32 + 11, 32 + 20, 32 + 23, 32 + 70),
            b'\x1bY%c%c\x1bKerased to the end\x1bA\x1bAup two\x1bI' % (32 + 11, 32 + 30),
            # A flood past the recording's snapshot interval: later moments start from a snapshot.
            b''.join(b'flood line %06d\r\n' % n for n in range(150000)) + b'\x1bY%c%cafter the flood' % (32 + 5, 32 + 9),
            b'\x1bY%c%c\x1bKand once more' % (32 + 5, 32 + 9),
        ]
        live = []
        for bytes_ in phases:
            s.host_write(bytes_)
            s.sync()
            time.sleep(0.1)  # the frame after the last byte
            live.append([row.rstrip() for row in s.screen()[:24]])
            time.sleep(0.5)  # a quiet gap: the phases apart in the recording
        s.keys('C-a', 'x')
        self.assertEqual(s.exit_code(), 0)

        # The moment after each phase: its last received byte, then a little.
        events = recording_events(record)
        self.assertIn(11, [kind for kind, _, _, _ in events])  # a snapshot was kept
        received = [t for kind, line, t, _ in events if kind == 1]
        ends = [a for a, b in zip(received, received[1:] + [received[-1] + 10**6]) if b - a > 300000]
        self.assertEqual(len(ends), len(phases), received)
        for phase, (end, screen) in enumerate(zip(ends, live)):
            shown = subprocess.run([PROGRAM, '--replay', str(record), '--at', f'{(end + 100000) / 1e6:.6f}',
                                    '--batch'], capture_output=True, text=True, timeout=10)
            self.assertEqual(shown.returncode, 0, shown.stderr)
            rows = [row.rstrip() for row in shown.stdout.split('\n')[:24]]
            self.assertEqual(rows, screen, f'phase {phase}')
        # The same moment named by the clock: the local time the screen showed then.
        started = re.search(rb'^started (\S+)Z$', record.read_bytes(), re.M).group(1).decode()
        moment = datetime.fromisoformat(started).replace(tzinfo=timezone.utc) + timedelta(microseconds=ends[2] + 100000)
        shown = subprocess.run([PROGRAM, '--replay', str(record), '--at', moment.astimezone().strftime('%H:%M:%S.%f'),
                                '--batch'], capture_output=True, text=True, timeout=10)
        self.assertEqual([row.rstrip() for row in shown.stdout.split('\n')[:24]], live[2], shown.stderr)
        # The same session as an asciicast, played by asciinema in a terminal of
        # its size: it ends on the last screen, and says where each mark was.
        cast = Path(s.folder) / 'session.cast'
        with open(cast, 'wb') as out:
            made = subprocess.run([PROGRAM, '--export-cast', str(record)], stdout=out, stderr=subprocess.PIPE,
                                  timeout=10)
        self.assertEqual(made.returncode, 0, made.stderr)
        lines = cast.read_text().splitlines()
        header = json.loads(lines[0])
        self.assertEqual((header['version'], header['width'], header['height']), (2, 80, 24))
        self.assertEqual([json.loads(line)[1] for line in lines[1:]].count('o'), len(lines) - 1)
        player = f'{s.folder}/tmux-cast'
        subprocess.run(['tmux', '-S', player, '-f', '/dev/null', 'new-session', '-d', '-s', 'p', '-x', '80', '-y',
                        '24', f'asciinema cat {cast}; sleep 60'], check=True, env={**os.environ, 'LANG': 'C.UTF-8'})
        self.addCleanup(subprocess.run, ['tmux', '-S', player, 'kill-server'], stderr=subprocess.DEVNULL)
        played = lambda: [row.rstrip() for row in subprocess.run(  # noqa: E731
            ['tmux', '-S', player, 'capture-pane', '-p', '-t', 'p'], capture_output=True, text=True).stdout.split('\n')[:24]]
        wait_for(lambda: played() == live[-1], what='asciinema to end on the last screen')
        # Past the end: the last screen, and it says so.
        shown = subprocess.run([PROGRAM, '--replay', str(record), '--at', '3600', '--batch'],
                               capture_output=True, text=True, timeout=10)
        self.assertEqual([row.rstrip() for row in shown.stdout.split('\n')[:24]], live[-1])
        self.assertIn('its last screen', shown.stderr)
        # Cut short as by a crash: shown up to there, with where it stopped.
        data = record.read_bytes()
        torn = Path(s.folder) / 'torn.bvrec'
        torn.write_bytes(data[:-3])
        shown = subprocess.run([PROGRAM, '--replay', str(torn), '--batch'], capture_output=True, text=True,
                               timeout=10)
        self.assertEqual(shown.returncode, 0, shown.stderr)
        self.assertIn('cut short', shown.stderr)
        bad = Path(s.folder) / 'later.bvrec'
        bad.write_bytes(b'brisvane recording 7\nline a 9600 x\n\n')
        shown = subprocess.run([PROGRAM, '--replay', str(bad), '--batch'], capture_output=True, text=True,
                               timeout=10)
        self.assertEqual(shown.returncode, 2)
        self.assertIn('later version', shown.stderr)

    def test_one_recording_of_two_lines_replays_each_lines_screen(self):
        folder = tempfile.mkdtemp(prefix='bv-')
        lines = start_lines(folder, ('a', 'b'))
        for line in lines:
            self.addCleanup(line.stop)
        record = Path(folder) / 'two.bvrec'
        program = subprocess.Popen(
            [PROGRAM, f'dut={lines[0].device}', f'bmc={lines[1].device},115200', '--batch', '--record',
             str(record), '--linger', '800'], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
            stderr=subprocess.PIPE)
        time.sleep(0.3)
        lines[0].write(b'dut boots\r\n')
        lines[1].write(b'bmc ready\r\n')
        time.sleep(0.3)
        lines[0].write(b'dut login: ')
        _, err = program.communicate(b'', timeout=10)
        self.assertEqual(program.returncode, 0, err)
        header = record.read_bytes().split(b'\n\n')[0].decode()
        self.assertIn(f'line dut 9600,n,8,1 {lines[0].device}', header)
        self.assertIn(f'line bmc 115200,n,8,1 {lines[1].device}', header)
        received = [(line, t) for kind, line, t, _ in recording_events(record) if kind == 1]
        self.assertEqual(sorted({line for line, _ in received}), [0, 1])

        def replay(*words):
            shown = subprocess.run([PROGRAM, '--replay', str(record), '--batch', *words], capture_output=True,
                                   text=True, timeout=10)
            return shown, [row.rstrip() for row in shown.stdout.split('\n')[:3]]
        # Each line's own screen, the first line's unless --input names another.
        first = [t for line, t in received if line == 0][0]
        self.assertEqual(replay('--at', f'{(first + 100000) / 1e6:.6f}')[1], ['dut boots', '', ''])
        self.assertEqual(replay()[1], ['dut boots', 'dut login:', ''])
        self.assertEqual(replay('--input', 'bmc')[1], ['bmc ready', '', ''])
        shown, _ = replay('--input', 'psu')
        self.assertEqual(shown.returncode, 2)
        self.assertIn('--input psu: the recording', shown.stderr)
        cast = subprocess.run([PROGRAM, '--export-cast', str(record), '--input', 'bmc'], capture_output=True,
                              text=True, timeout=10)
        self.assertIn('bmc ready', cast.stdout)
        self.assertNotIn('dut', cast.stdout)

    def test_a_recording_of_several_lines_replays_them_together_with_their_timeline(self):
        s = ConsoleSession(start=False)
        self.addCleanup(s.close)
        lines = start_lines(s.folder, ('a', 'b'))
        for line in lines:
            self.addCleanup(line.stop)
        record = Path(s.folder) / 'two.bvrec'
        program = subprocess.Popen(
            [PROGRAM, f'dut={lines[0].device}', f'bmc={lines[1].device}', '--batch', '--record', str(record),
             '--linger', '600'], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        time.sleep(0.3)
        # The hosts in turn, 0.4 s apart; the dut's screen scrolls once.
        said = [(0, b'dut one\r\n'), (1, b'bmc one\r\n'), (0, b''.join(b'dut %02d\r\n' % n for n in range(30))),
                (1, b'bmc \x1b[1mtwo\x1b[0m\r\n'), (0, b'dut three\r\n'), (1, b'bmc three\r\n')]
        for line, text in said:
            lines[line].write(text)
            time.sleep(0.4)
        _, err = program.communicate(b'', timeout=10)
        self.assertEqual(program.returncode, 0, err)
        received = [(line, t) for kind, line, t, _ in recording_events(record) if kind == 1]
        self.assertEqual([line for line, _ in received], [0, 1, 0, 1, 0, 1], received)
        started = re.search(rb'^started (\S+)Z$', record.read_bytes(), re.M).group(1).decode()
        start = datetime.fromisoformat(started).replace(tzinfo=timezone.utc)

        def batch(at, label):
            shown = subprocess.run([PROGRAM, '--replay', str(record), '--at', f'{at:.6f}', '--batch', '--input',
                                    label], capture_output=True, text=True, timeout=10)
            self.assertEqual(shown.returncode, 0, shown.stderr)
            return [row.rstrip() for row in shown.stdout.split('\n')[:24]]

        def stamp(t):
            moment = (start + timedelta(microseconds=t)).astimezone()
            return moment.strftime('[%Y-%m-%d %H:%M:%S.') + f'{moment.microsecond // 1000:03d}]'
        rows = [('dut', received[0][1], 'dut one'), ('bmc', received[1][1], 'bmc one')]
        rows += [('dut', received[2][1], 'dut %02d' % n) for n in range(30)]
        rows += [('bmc', received[3][1], 'bmc two'), ('dut', received[4][1], 'dut three'),
                 ('bmc', received[5][1], 'bmc three')]
        timeline = [f'{stamp(t)} {label} {text}' for label, t, text in rows]

        s.start(str(record), '--speed', '0.5', cols=80, rows=25, conf=Path(s.folder) / 'tmux.conf', env=None,
                first='--replay')
        s.wait_status('[1 dut] 2 bmc')
        s.keys('C-a', 'Space')
        s.wait_status('paused')
        # Each moment: every line there, each its own screen; the timeline its rows up to it, in order.
        for moment, count in ((received[3][1] + 100000, 33), (received[1][1] + 100000, 2),
                              (received[4][1] + 100000, 34)):
            at = moment / 1e6
            s.keys('C-a', 'j')
            s.type(f'{at:.6f}')
            s.keys('Enter')
            s.keys('C-a', '1')
            wait_for(lambda: s.screen()[:24] == [r.ljust(80) for r in batch(at, 'dut')],
                     what=f'the dut at {at}: {s.screen()[:3]}')
            s.keys('C-a', '2')
            wait_for(lambda: s.screen()[:24] == [r.ljust(80) for r in batch(at, 'bmc')],
                     what=f'the bmc at {at}: {s.screen()[:3]}')
            s.keys('C-a', 'L')
            s.wait_status('timeline')
            shown = timeline[max(0, count - 24):count]
            wait_for(lambda: [r.rstrip() for r in s.screen()[:24]] == shown + [''] * (24 - len(shown)),
                     what=f'the timeline at {at}: {s.screen()[:4]}')
            s.keys('q')
        self.assertIn('dut three', batch(received[4][1] / 1e6 + 0.1, 'dut'))
        s.keys('C-a', 'x')
        self.assertEqual(s.exit_code(), 0)

    def test_an_interactive_replay_pauses_steps_and_goes_to_marks_and_times(self):
        s = ConsoleSession(start=False)
        self.addCleanup(s.close)
        record = Path(s.folder) / 'timed.bvrec'
        # A screen a second, marks at 5 s and 17 s (a microsecond after theirs).
        events = b''.join(event(1, 0 if n == 0 else 10**6 - (1 if n - 1 in (5, 17) else 0),
                                b'\x1bH\x1bJsecond %d\r\n' % n) +
                          (event(8, 1, b'mark at %d' % n) if n in (5, 17) else b'') for n in range(31))
        record.write_bytes(b'brisvane recording 1\nprogram brisvane 2.4\nstarted 2026-12-08T10:00:00.000000Z\n'
                           b'line line 9600,n,8,1 /dev/x\nreceive 0 ansi-hidden eight-bit\n\n' + events)
        s.start(str(record), '--speed', '4', cols=80, rows=25, conf=Path(s.folder) / 'tmux.conf', env=None,
                first='--replay')
        wait_for(lambda: s.row(0).startswith('second 4'), what='the replay to play at four times')
        s.keys('C-a', 'Space')
        s.wait_status('paused')
        paused = s.row(0)
        time.sleep(1)
        self.assertEqual(s.row(0), paused)  # nothing plays while paused
        s.keys('C-a', 'Right')
        wait_for(lambda: s.row(0).startswith('second 1'), what='ten seconds on')
        s.keys('C-a', ']')
        s.wait_row(0, 'second 17')
        s.keys('C-a', '[')
        s.wait_row(0, 'second 5')
        s.keys('C-a', 'j')
        s.type('25.5')
        s.keys('Enter')
        s.wait_row(0, 'second 25')
        s.type('x')
        s.wait_status('a replay: nothing is sent')
        s.keys('C-a', 'x')
        self.assertEqual(s.exit_code(), 0)
