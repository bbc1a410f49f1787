"""What the host sends appears in the window, pixel for pixel: text, controls,
erases, scrolling, graphics characters and the cursor. One program run serves
the whole class; each test starts from a cleared screen."""
import time
import unittest

from harness import OneRunTestCase

CLEAR = b'\x1bH\x1bJ'


class Screen(OneRunTestCase):
    def setUp(self):
        self.s = self.session
        self.s.focus()  # with the focus the loop keeps the cursor shown
        self.s.host_write(CLEAR)

    def show(self, data):
        self.s.host_write(data)
        self.s.sync()

    def assertScreen(self, rows, cursor):
        mismatch = self.s.expect_screen(rows, cursor)
        self.assertEqual(mismatch, 0, self.s.last_mismatch)

    def test_answers_identify_on_the_wire(self):
        self.s.host_write(b'\x1bZ')
        self.assertEqual(self.s.host_read_exact(3), b'\x9b\xaf\xcb')

    def test_client_area_is_exactly_80_by_24_cells(self):
        info = self.s.window_info()
        width, height = info['cell']
        self.assertGreater(width, 0)
        self.assertEqual(info['client'], (80 * width, 24 * height))
        self.assertEqual(info['title'], 'termin BRISVANE v2.4 for PALLWICK')

    def test_text_and_controls(self):
        self.show(b'Hello, world\r\nsecond\tline\x08\x08X\r\n\x07\x00third')
        self.assertScreen(['Hello, world', 'second  liXe', 'third'], (2, 5))

    def test_no_wrap_at_the_last_column(self):
        self.show(b'x' * 79 + b'yz')
        self.assertScreen(['x' * 79 + 'z'], (0, 79))

    def test_bytes_with_bit_7_are_shown_as_seven_bit(self):
        self.show(bytes(b | 0x80 for b in b'Marked\r\nline'))
        self.assertScreen(['Marked', 'line'], (1, 4))

    def test_erase_to_end_of_line_and_of_screen(self):
        self.show(b'first line here\r\nsecond line here\r\nthird line here')
        self.show(b'\x1bY\x20\x25\x1bK')  # row 0, column 5
        self.assertScreen(['first', 'second line here', 'third line here'], (0, 5))
        self.show(b'\x1bY\x21\x26\x1bJ')  # row 1, column 6
        self.assertScreen(['first', 'second'], (1, 6))

    def test_line_feeds_on_the_last_row_scroll(self):
        self.show(b''.join(b'line %d\r\n' % n for n in range(30)))
        rows = ['line %d' % n for n in range(7, 30)] + ['']
        self.assertScreen(rows, (23, 0))

    def test_reverse_line_feed_on_the_top_row_scrolls_down(self):
        self.show(b'top\r\nnext\x1bH\x1bI')
        self.assertScreen(['', 'top', 'next'], (0, 0))

    def test_graphics_characters(self):
        self.show(b'\x1bFahik-\x1bGa')
        self.assertScreen(['\u2588\u2192\u2026\u2193-a'], (0, 6))

    def test_cursor_address_shows_the_cursor_there(self):
        self.show(b'abc\x1bY\x25\x2a')  # row 5, column 10
        self.assertScreen(['abc'], (5, 10))
        self.show(b'\x1bY\x7f\x7f')  # row ignored, column clamped
        self.assertScreen(['abc'], (5, 79))

    def test_clear_from_the_menu(self):
        self.show(b'something')
        self.s.host_write(b'\x1bY%')  # half an address, abandoned by Clear
        time.sleep(1)  # nothing on screen tells when it has been read
        self.s.key('alt+c')
        self.show(b'AB')
        self.assertScreen(['AB'], (0, 2))


if __name__ == '__main__':
    unittest.main()
