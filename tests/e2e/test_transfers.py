"""File sends and captures chosen from the menu: exact bytes on the wire and
in the files, the Send and Receive items greyed and restored, files that
cannot be opened."""
import hashlib
import random
import threading
import time
import unittest

from harness import OneRunTestCase, Session

ALL_BYTES = bytes(range(256))
SEND_ITEMS, SEND_END = {3, 4, 5}, 6
CAPTURE_ITEMS, CAPTURE_END = {7, 8}, 9
AT_START = {SEND_END, CAPTURE_END}


class Transfers(OneRunTestCase):
    """One run of the test build, which also reports its menu item states."""

    HOOKED = True

    def setUp(self):
        self.s = self.session
        self.assertEqual(self.s.greyed_items(), AT_START)

    def file(self, name, content):
        path = self.s.home / name
        path.write_bytes(content)
        return path

    def send(self, mode_key, path):
        """Chooses Send > (mode) and the file."""
        self.s.key('alt+s', mode_key)
        self.s.choose_file(path, 'Open')

    def capture(self, mode_key, path):
        self.s.key('alt+r', mode_key)
        self.s.choose_file(path, 'Save As')

    def wait_send_done(self):
        self.s.sync()  # answered only once the send has ended
        self.assertEqual(self.s.greyed_items(), AT_START)

    def test_raw_send_passes_every_byte_value(self):
        self.send('r', self.file('all.bin', ALL_BYTES))
        self.assertEqual(self.s.host_read_exact(256, timeout=30), ALL_BYTES)
        self.wait_send_done()

    def test_binary_send_stops_at_the_terminator_after_bit_6(self):
        self.send('b', self.file('binary.bin', b'\x80\x80\x41\x12\x80\x80'))
        self.assertEqual(self.s.host_read_exact(4), b'\x80\x80\x41\x12')
        self.wait_send_done()
        self.send('b', self.file('all.bin', ALL_BYTES))
        self.assertEqual(self.s.host_read_exact(128, timeout=30), ALL_BYTES[:128])
        self.wait_send_done()

    def test_text_send_marks_bytes_and_drops_line_feeds(self):
        self.send('t', self.file('text.txt', b'AB\r\nC'))
        self.assertEqual(self.s.host_read_exact(4), b'\xc1\xc2\x8d\xc3')
        self.wait_send_done()
        self.send('t', self.file('all.bin', ALL_BYTES))
        expected = bytes(b | 0x80 for b in ALL_BYTES if b | 0x80 != 0x8A)
        self.assertEqual(self.s.host_read_exact(len(expected), timeout=30), expected)
        self.wait_send_done()

    def test_items_while_a_send_runs_and_keys_are_not_sent(self):
        # The host does not read, so the send stays busy once the line fills.
        self.send('r', self.file('big.bin', bytes(200000)))
        self.assertEqual(self.s.greyed_items(), SEND_ITEMS | {CAPTURE_END})
        self.s.key('q', 'Up')
        self.s.key('alt+s', 'e')  # End
        self.assertEqual(self.s.greyed_items(), AT_START)
        received = bytearray()
        while True:
            chunk = self.s.host_read_available(0.5)
            if not chunk:
                break
            received += chunk
        self.assertGreater(len(received), 0)
        self.assertEqual(received, bytes(len(received)), 'a key went out during the send')

    def test_raw_capture_writes_eight_bits_and_shows_nothing(self):
        self.s.host_write(b'\x1bH\x1bJ')
        self.s.sync()
        path = self.s.home / 'raw.cap'
        path.write_bytes(b'old content that must go')
        self.capture('r', path)
        self.assertEqual(self.s.greyed_items(), CAPTURE_ITEMS | {SEND_END})
        self.s.host_write(ALL_BYTES)
        self.s.wait_file_size(path, 256)
        self.s.key('alt+r', 'e')
        self.assertEqual(path.read_bytes(), ALL_BYTES)
        self.assertEqual(self.s.expect_screen([], (0, 0)), 0, self.s.last_mismatch)

    def test_text_capture_writes_seven_bits_and_shows_them(self):
        self.s.host_write(b'\x1bH\x1bJ')
        self.s.sync()
        path = self.s.home / 'text.cap'
        self.capture('t', path)
        self.s.host_write(bytes(b | 0x80 for b in b'shown'))
        self.s.sync()
        self.assertEqual(self.s.expect_screen(['shown'], (0, 5)), 0, self.s.last_mismatch)
        self.s.host_write(ALL_BYTES)
        self.s.wait_file_size(path, 7 + 256)
        self.s.key('alt+r', 'e')
        self.assertEqual(self.s.greyed_items(), AT_START)
        self.assertEqual(path.read_bytes(),
                         b'shown\x1bZ' + bytes(b & 0x7F for b in ALL_BYTES))

    def test_a_file_that_cannot_be_opened_changes_nothing(self):
        path = self.s.home / 'busy.cap'
        self.capture('r', path)  # held open without sharing
        self.s.key('alt+s', 'r')
        self.s.choose_file(path, 'Open')
        self.s.wait_window('Error')
        self.assertEqual(self.s.dialog_text(), 'cannot open file')
        self.s.dismiss()
        self.assertEqual(self.s.greyed_items(), CAPTURE_ITEMS | {SEND_END})
        self.s.key('alt+r', 'e')

    def test_a_cancelled_dialog_changes_nothing(self):
        self.s.key('alt+r', 't')
        self.s.key('Escape', window=self.s.wait_window('Save As'))
        self.s.wait_no_window('Save As')
        self.s.key('alt+s', 'b')
        self.s.key('Escape', window=self.s.wait_window('Open'))
        self.s.wait_no_window('Open')


class Throughput(unittest.TestCase):
    """64 KiB each way, compared by checksum; the rates are printed."""

    def test_large_raw_send_and_capture_lose_nothing(self):
        data = random.Random(7).randbytes(65536)
        with Session() as s:
            s.start_terminal()
            source = s.home / 'random.bin'
            source.write_bytes(data)
            s.key('alt+s', 'r')
            s.choose_file(source, 'Open')
            started = time.monotonic()
            sent = s.host_read_exact(len(data), timeout=120)
            send_rate = len(data) / (time.monotonic() - started)
            self.assertEqual(hashlib.sha256(sent).hexdigest(), hashlib.sha256(data).hexdigest())

            target = s.home / 'capture.bin'
            s.key('alt+r', 'r')
            s.choose_file(target, 'Save As')
            started = time.monotonic()
            s.host_write(data)
            s.wait_file_size(target, len(data), timeout=120)
            capture_rate = len(data) / (time.monotonic() - started)
            s.key('alt+r', 'e')
            self.assertEqual(hashlib.sha256(target.read_bytes()).hexdigest(),
                             hashlib.sha256(data).hexdigest())
            print(f'\nraw send {send_rate / 1000:.1f} kB/s, raw capture {capture_rate / 1000:.1f} kB/s')
            self.assertEqual(s.exit_from_menu(), 1)


class TextPause(unittest.TestCase):
    def test_each_text_byte_is_followed_by_the_interval(self):
        with Session() as s:
            s.start_terminal('"50"')
            source = s.home / 'slow.txt'
            source.write_bytes(b'0123456789')
            # Timestamp each byte as it arrives, also while the dialog closes.
            arrivals = []
            reader = threading.Thread(
                target=lambda: arrivals.extend(
                    (s.host_read_exact(1, timeout=30), time.monotonic())[1] for _ in range(10)))
            reader.start()
            s.key('alt+s', 't')
            s.choose_file(source, 'Open')
            reader.join()
            self.assertEqual(len(arrivals), 10)
            gaps = [b - a for a, b in zip(arrivals, arrivals[1:])]
            self.assertGreaterEqual(min(gaps), 0.045, gaps)
            self.assertEqual(s.exit_from_menu(), 1)


if __name__ == '__main__':
    unittest.main()
