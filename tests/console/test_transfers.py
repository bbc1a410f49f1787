"""Sending and capturing files from the Unix front end, byte for byte."""
import hashlib
import os
import time
import unittest
from pathlib import Path

from console_session import ConsoleSession, fill, small_filesystem, wait_for


def digest(data):
    return hashlib.sha256(data).hexdigest()


class Transfers(unittest.TestCase):
    def start(self, s, letters, name):
        """The menu key, the letters, then NAME typed at the prompt."""
        s.keys('C-a', *letters)
        s.wait_status('file:')
        s.type(name)
        s.keys('Enter')

    def test_raw_send_and_raw_capture_are_byte_identical(self):
        data = os.urandom(64 * 1024)
        with ConsoleSession() as s:
            home = Path(s.folder)
            (home / 'out.bin').write_bytes(data)
            self.start(s, 'sr', str(home / 'out.bin'))
            got = s.host_read(len(data), timeout=30)
            self.assertEqual(digest(got), digest(data))
            s.wait_status('send finished: 65536 bytes')

            self.start(s, 'rr', str(home / 'in.bin'))
            s.wait_status('capture')
            s.host_write(data)
            wait_for(lambda: (home / 'in.bin').stat().st_size == len(data), 30, 'the capture file')
            self.assertEqual(digest((home / 'in.bin').read_bytes()), digest(data))
            s.keys('C-a', 'r', 'e')
            s.wait_status('capture ended: 65536 bytes')

    def test_text_send_clears_bit_7_ends_lines_with_cr_and_pauses(self):
        # CR LF sends one CR; a Unix file's lone LF goes out as the CR too.
        with ConsoleSession('--interval', '5', '--home', '/') as s:
            name = Path(s.folder) / 'note.txt'
            name.write_bytes(b'AB\r\nC\n' * 10)
            start = time.monotonic()
            self.start(s, 'st', str(name)[1:])  # relative to --home
            self.assertEqual(s.host_read(50), b'AB\rC\r' * 10)
            self.assertGreaterEqual(time.monotonic() - start, 50 * 0.005)
            s.wait_status('send finished: 60 bytes')

    def test_binary_send_stops_at_0x80_once_armed(self):
        with ConsoleSession() as s:
            name = Path(s.folder) / 'image.bin'
            name.write_bytes(bytes([0x80, 0x80, 0x41, 0x12, 0x80, 0x80, 0x55]))
            self.start(s, 'sb', str(name))
            s.wait_status('send finished')
            self.assertEqual(s.line.drain(), bytes([0x80, 0x80, 0x41, 0x12]))

    def test_text_capture_clears_bit_7_and_shows_the_text(self):
        with ConsoleSession() as s:
            name = Path(s.folder) / 'log.txt'
            self.start(s, 'rt', str(name))
            s.wait_status('capture')
            s.host_write(b'\xc8\xe9 there\r\nbar\r 50%\r')
            s.sync()
            s.wait_row(0, 'Hi there')
            s.keys('C-a', 'r', 'e')
            s.wait_status('capture ended: 20 bytes in')  # written, not received
            # Unix line ends: CR LF is LF, a lone CR stays.
            self.assertEqual(name.read_bytes(), b'Hi there\nbar\r 50%\r\x1bZ')

    def test_refusals_leave_everything_as_it_was(self):
        with ConsoleSession(home=True) as s:
            self.start(s, 'sr', 'missing.txt')
            s.wait_status('cannot open file: missing.txt: No such file or directory')
            s.keys('C-a', 's', 'e')
            s.wait_status('no send is running')
            # Tab completes a name; a second send while one runs is refused.
            big = Path(s.folder) / 'unique-name.bin'
            big.write_bytes(b'x' * 200000)
            s.keys('C-a', 's', 'r')
            s.type('uniq')
            s.keys('Tab')
            s.wait_status('unique-name.bin')
            s.keys('Enter')
            s.keys('C-a', 's', 't')
            s.wait_status('a send is running')
            s.keys('C-a', 's', 'e')
            s.wait_status('send ended')
            s.line.drain()

    def test_capture_to_an_existing_file_asks(self):
        with ConsoleSession(home=True) as s:
            name = Path(s.folder) / 'existing.txt'
            name.write_bytes(b'old\n')
            for answer, sent, expected in (('c', b'', b'old\n'), ('a', b'more', b'old\nmore'),
                                           ('o', b'new', b'new')):
                self.start(s, 'rr', name.name)
                s.wait_status('exists: o overwrite, a append, c cancel')
                s.keys(answer)
                if sent:
                    s.wait_status('capture existing.txt')
                    s.host_write(sent)
                    wait_for(lambda: name.read_bytes() == expected, 10, f'{expected!r} in the file')
                    s.keys('C-a', 'r', 'e')
                s.wait_status(f'capture ended: {len(sent)} bytes {"added to" if answer == "a" else "in"}'
                              if sent else 'capture cancelled')
                self.assertEqual(name.read_bytes(), expected, answer)

    def test_exit_during_a_capture_keeps_every_byte(self):
        data = os.urandom(256 * 1024)
        with ConsoleSession() as s:
            name = Path(s.folder) / 'cap.bin'
            self.start(s, 'rr', str(name))
            s.wait_status('capture')
            s.host_write(data)
            s.keys('C-a', 'x')
            self.assertEqual(s.exit_code(), 0)
            self.assertEqual(digest(name.read_bytes()), digest(data))

    def test_a_fifo_is_refused_without_waiting_for_a_reader(self):
        with ConsoleSession(home=True) as s:
            os.mkfifo(Path(s.folder) / 'pipe')
            self.start(s, 'rr', 'pipe')
            s.wait_status('cannot open file: pipe: not a plain file')
            s.keys('C-a', 'x')
            self.assertEqual(s.exit_code(), 0)

    def test_a_full_disk_ends_the_capture_and_a_failed_last_write_fails_the_exit(self):
        with small_filesystem(self) as disk, ConsoleSession('--home', str(disk)) as s:
            self.start(s, 'rr', 'full.bin')
            s.wait_status('capture full.bin')
            s.host_write(b'x' * 100000)
            s.sync()
            size = (disk / 'full.bin').stat().st_size
            s.wait_status(f'capture full.bin: No space left on device; holds {size} bytes, the rest is lost')
            self.assertLess(size, 100000)
            # A text capture holds a last CR until it knows what follows: its
            # write at exit finds the disk full, and says so once the
            # terminal is the shell's again.
            (disk / 'full.bin').unlink()
            self.start(s, 'rt', 'last.txt')
            s.wait_status('capture last.txt')
            s.host_write(b'a' * 4096 + b'\r')  # a whole page: the CR needs another
            wait_for(lambda: (disk / 'last.txt').stat().st_size == 4096, what='the capture')
            fill(disk)
            s.keys('C-a', 'x')
            self.assertEqual(s.exit_code(), 1)
            said = 'brisvane: capture last.txt: No space left on device; holds 4096 bytes, the rest'
            wait_for(lambda: any(said in row for row in s.screen()), what='the failure after exit')


if __name__ == '__main__':
    unittest.main()
