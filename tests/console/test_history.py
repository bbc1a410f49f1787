"""Nothing scrolls away: the history view and its search, host bytes that
keep arriving while it is open, logs from the command line, and the last
screen left in the user's terminal after exit."""
import re
import unittest
from pathlib import Path

from console_session import ConsoleSession, small_filesystem, wait_for

STAMP = re.compile(rb'\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\] ')


class HistoryView(unittest.TestCase):
    def test_scroll_back_search_and_come_back(self):
        with ConsoleSession() as s:
            s.host_write(b''.join(b'line %d\r\n' % n for n in range(1, 301)))
            s.sync()
            s.keys('C-a', 'h')
            s.wait_status('history 278-301 of 301')  # 277 rows scrolled off, and the screen
            s.keys('Home')
            s.wait_row(0, 'line 1')
            s.wait_status('history 1-24 of 301')
            s.keys('End', '/')  # back to the newest rows, then find backwards
            s.type('line 150')
            s.keys('Enter')
            wait_for(lambda: any(row.rstrip() == 'line 150' for row in s.screen()[:24]), what='line 150')
            s.keys('n')  # no older "line 150": said so
            s.wait_status('not found: line 150 (no older match)')
            s.host_write(b'arrived while viewing\r\n')
            s.sync()
            s.wait_status('1 new')
            s.keys('x')  # keys meant for the host are not sent while viewing
            s.keys('q')
            s.wait_row(22, 'arrived while viewing')
            self.assertEqual(s.line.drain(), b'')
            s.keys('C-a', 'x')
            self.assertEqual(s.exit_code(), 0)
            # The last screen stays in the terminal after the program.
            wait_for(lambda: any('arrived while viewing' in row for row in s.screen()), what='the last screen')

    def test_history_off_keeps_nothing(self):
        with ConsoleSession('--history', '0') as s:
            s.host_write(b'\r\n' * 40)
            s.sync()
            s.keys('C-a', 'h')
            s.wait_status('the history is off (--history 0)')


def as_shown(line):
    """A line as the screen leaves it: a CR goes back to its start, and what follows overwrites."""
    shown, column = bytearray(), 0
    for byte in line:
        if byte == 13:
            column = 0
            continue
        shown[column:column + 1] = bytes([byte])
        column += 1
    return bytes(shown)


class Logs(unittest.TestCase):
    def test_text_and_raw_logs_of_a_megabyte(self):
        with ConsoleSession(start=False) as s:
            text_log, raw_log = Path(s.folder) / 'text.log', Path(s.folder) / 'raw.log'
            text_log.write_bytes(b'already there\n')
            s.start('--log', str(text_log), '--log-raw', str(raw_log), '--timestamps', cols=80, rows=25,
                    conf=Path(s.folder) / 'tmux.conf', env=None)
            s.wait_status('log')
            words = [b'alpha', b'\xe2eta', b'gamma\tdelta', b'\x1bY  moved', b'progress 10%\r']
            lines = [b' '.join(words[(n + k) % 5] for k in range(n % 4 + 1)) for n in range(45000)]
            data = b'\r\n'.join(lines) + b'\r\n'
            self.assertGreater(len(data), 1 << 20)
            s.host_write(data)
            s.sync()
            s.keys('C-a', 'x')
            self.assertEqual(s.exit_code(), 0)
            self.assertEqual(raw_log.read_bytes(), data + b'\x1bZ')
            logged = text_log.read_bytes().split(b'\n')
            self.assertEqual((logged[0], logged[-1]), (b'already there', b''))  # the last line ended too
            expected = [as_shown(line) for line in bytes(b & 0x7F for b in data + b'\x1bZ').split(b'\n')]
            self.assertEqual(len(logged) - 2, len(expected))
            for got, want in zip(logged[1:-1], expected):
                self.assertTrue(STAMP.match(got), got)
                self.assertEqual(got[len(STAMP.match(got).group(0)):], want)

    def test_the_last_mark_on_the_status_line_and_the_stamps_switched_from_the_menu(self):
        with ConsoleSession(start=False) as s:
            text_log = Path(s.folder) / 'text.log'
            s.start('--log', str(text_log), '--mark', 'ready', cols=80, rows=25, conf=Path(s.folder) / 'tmux.conf',
                    env=None)
            s.host_write(b'boot: rea')
            s.wait_row(0, 'boot: rea')
            s.host_write(b'dy\r\n')
            s.wait_status('| mark ready 0.')
            s.keys('C-a', 'T')
            s.wait_status('log timestamps: 24h |')
            s.host_write(b'stamped\r\n')
            s.wait_row(1, 'stamped')  # logged before the next switch
            s.keys('C-a', 'T')
            s.wait_status('log timestamps: 24h-start')
            s.keys('C-a', 'x')
            self.assertEqual(s.exit_code(), 0)
            lines = text_log.read_bytes().split(b'\n')
            self.assertEqual(lines[0], b'boot: ready')
            self.assertTrue(STAMP.match(lines[1]) and lines[1].endswith(b'] stamped'), lines)

    def test_a_full_disk_ends_the_log_says_what_it_holds_and_the_program_goes_on(self):
        with small_filesystem(self) as disk, ConsoleSession('--log', str(disk / 'l'), cols=110) as s:
            s.host_write(b'x' * 100000 + b'\r\n')
            s.sync()
            size = (disk / 'l').stat().st_size
            self.assertLess(size, 100000)
            s.wait_status(f'log {disk}/l: No space left on device; holds {size} bytes, the rest is lost')
            s.host_write(b'still shown')
            s.sync()
            s.wait_row(1, 'still shown')
            self.assertEqual((disk / 'l').stat().st_size, size)  # nothing after the gap

if __name__ == '__main__':
    unittest.main()
