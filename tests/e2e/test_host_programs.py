"""Unmodified programs on a Unix host drive the terminal through its terminal
description (host/brisvane.terminfo): a pager, an editor, a dialog box and a
shell with line editing, keys typed into the window, the screen checked by its
pixels."""
import unittest

from harness import OneRunTestCase

KNOWN = [f'line {n:02d} of the known file, a few words to fill it out' for n in range(1, 61)]


class HostPrograms(OneRunTestCase):
    def setUp(self):
        s = self.session
        s.host_write(b'\x1bH\x1bJ')  # each program starts on a clear screen
        s.sync()

    def finish(self, program):
        self.assertEqual(self.session.host_program_wait(program), 0)

    def test_pager_shows_the_first_page_and_pages_on_with_a_key(self):
        s = self.session
        (s.home / 'known.txt').write_text('\n'.join(KNOWN) + '\n')
        less = s.host_program('less', 'known.txt', env={'LESS': '', 'LESSHISTFILE': '-'})
        self.assertEqual(s.expect_screen(KNOWN[:23] + ['known.txt'], (23, 9), timeout=20), 0,
                         'first page: ' + s.last_mismatch)
        s.key('space')
        self.assertEqual(s.expect_screen(KNOWN[23:46] + [':'], (23, 1), timeout=20), 0,
                         'second page: ' + s.last_mismatch)
        s.key('q')
        self.finish(less)

    def test_editor_session_with_arrow_keys_saves_exactly_what_was_typed(self):
        s = self.session
        # No user settings; key codes may take up to a second to arrive whole.
        vi = s.host_program('vi', '-u', 'NONE', '-N', '-i', 'NONE', '-n', 'typed.txt')
        self.assertEqual(s.expect_row(23, '"typed.txt" [New]', timeout=20), 0,
                         'editor not ready: ' + s.last_mismatch)
        s.type('ifirst line')
        s.key('Return')
        s.type('second line')
        s.key('Up')
        s.type('!')
        s.key('Home')
        s.type('> ')
        s.key('Down', 'End')
        s.type(' end')
        s.key('Left', 'Left', 'Left', 'Left')
        s.type('#')
        self.assertEqual(s.expect_screen(['> first line!', 'second line# end'] + ['~'] * 21
                                         + ['-- INSERT --'], (1, 12), timeout=10), 0,
                         'while editing: ' + s.last_mismatch)
        s.key('Escape')
        s.type(':wq\r')
        self.finish(vi)
        self.assertEqual((s.home / 'typed.txt').read_text(), '> first line!\nsecond line# end\n')

    def test_bash_recalls_and_edits_a_command_behind_a_seven_bit_relay(self):
        # Bit 7 cleared before the shell's terminal, as tools/run does on its
        # pty line: readline would read every key as a Meta key otherwise.
        s = self.session
        relay = s.host_shell_behind_relay()
        s.type('clear')  # the prompt on the top row, whatever the start-up wrote
        s.key('Return')
        self.assertEqual(s.expect_screen(['host$ '], (0, 6), timeout=20), 0, s.last_mismatch)
        s.type('echo one two')
        s.key('Return')
        s.key('Up', 'BackSpace', 'BackSpace', 'BackSpace')
        s.type('six')
        s.key('Return')
        self.assertEqual(s.expect_screen(['host$ echo one two', 'one two', 'host$ echo one six',
                                          'one six', 'host$ '], (4, 6), timeout=20), 0,
                         s.last_mismatch)
        s.type('exit')
        s.key('Return')
        self.finish(relay)

    def test_dialog_box_in_the_7_bit_locale_is_drawn_in_ascii(self):
        # The locale the README gives hosts: in a UTF-8 one the box would come
        # as multi-byte line drawing, which a 7-bit line turns into letters.
        s = self.session
        dialog = s.host_program('dialog', '--msgbox', 'hello from the host', '7', '40',
                                env={'LC_ALL': 'C'})
        indent = ' ' * 20
        edge = indent + '+' + '-' * 38 + '+'
        side = indent + '|' + ' ' * 38 + '|'
        rows = [''] * 8 + [edge, indent + '| ' + 'hello from the host'.ljust(37) + '|', side,
                           side, edge, indent + '|' + '<  OK  >'.center(38) + '|', edge]
        self.assertEqual(s.expect_screen(rows, (13, 39), timeout=20), 0, s.last_mismatch)
        s.key('Return')
        self.finish(dialog)


if __name__ == '__main__':
    unittest.main()
