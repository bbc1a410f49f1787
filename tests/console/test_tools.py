"""The engineer's tools in the real program: the hex view of a known byte
run and hex input, line-end maps both ways and changed live, local echo on
and off, and the counters at the menu and at exit."""
import unittest

from console_session import ConsoleSession, wait_for


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
