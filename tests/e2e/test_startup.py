"""Start-up and shutdown of the real program: arguments, error boxes, exit
codes, releasing the port, ports above COM9."""
import re
import subprocess
import tempfile
import unittest
from pathlib import Path

from harness import Session, loader_bits

USAGE = 'usage: brisvane "COM port" "home directory" "character interval"'
NO_PORT = 'cannot open serial port'


class StartupErrors(unittest.TestCase):
    def expect_box(self, args, text, env=None, com=5):
        """Starts with ARGS: the error box shows TEXT, and once it is
        dismissed the program ends with code 0."""
        with Session(com=com) as s:
            s.start(args.replace('PORT', f'COM{s.com}'), env=env)
            s.wait_window('Error')
            self.assertEqual(s.dialog_text(), text)
            s.dismiss()
            self.assertEqual(s.wait_exit(), 0)

    def test_no_argument_shows_the_usage_box(self):
        self.expect_box('', USAGE)

    def test_empty_first_argument_shows_the_usage_box(self):
        self.expect_box('"" "Z:\\tmp" "0"', USAGE)

    def test_a_port_that_does_not_exist(self):
        self.expect_box('"COM9:9600,n,8,1" "Z:\\tmp" "0"', NO_PORT)

    def test_line_settings_the_platform_rejects(self):
        self.expect_box('"PORT:9600,q,8,1" "Z:\\tmp" "0"', NO_PORT)

    def test_settings_the_driver_refuses(self):
        source = Path(__file__).with_name('refuse_line_settings.c')
        with tempfile.TemporaryDirectory() as folder:
            shim = Path(folder) / 'refuse.so'
            # A loader ignores a library of the other word size.
            bits = ['-m32'] if loader_bits() == 32 else []
            subprocess.run(['cc', *bits, '-shared', '-fPIC', '-o', str(shim), str(source)],
                           check=True)
            self.expect_box('"PORT:9600,n,8,1" "Z:\\tmp" "0"', NO_PORT,
                            env={'LD_PRELOAD': str(shim)})

    def test_an_overlong_port_definition(self):
        self.expect_box('"PORT:9600,n,8,1' + ' ' * 10000 + '" "Z:\\tmp" "0"', NO_PORT)


class RunAndExit(unittest.TestCase):
    def test_exit_from_the_menu_gives_1_and_releases_the_port(self):
        with Session() as s:
            s.start_terminal()
            self.assertEqual(s.exit_from_menu(), 1)
            # The same port opens again at once.
            s.start_terminal()
            s.sync()
            self.assertEqual(s.exit_from_menu(), 1)

    def test_a_port_above_com9_opens(self):
        with Session(com=12) as s:
            s.start(f'"COM12:9600,e,7,1" "{s.win(s.home)}" "0"')
            s.wait_window()
            s.sync()
            self.assertEqual(s.exit_from_menu(), 1)

    def test_a_font_face_argument_decides_the_cell_size(self):
        with Session() as s:
            s.start_terminal('"0" "Liberation Sans Narrow"')
            out = s.inspector('--face', 'Liberation Sans Narrow', 'window', check=True).stdout
            width, height = map(int, re.search(r'cell=(\d+)x(\d+)', out).groups())
            client = tuple(map(int, re.search(r'client=(\d+)x(\d+)', out).groups()))
            self.assertEqual(client, (80 * width, 24 * height))
            self.assertNotEqual(width, s.window_info()['cell'][0])  # not the default face's
            self.assertEqual(s.exit_from_menu(), 1)

    def test_overlong_other_arguments_still_run(self):
        with Session() as s:
            long_text = 'x' * 10000
            s.start(f'{s.port_arg()} "{long_text}" "{"9" * 10000}" "{long_text}"')
            s.wait_window()
            s.sync()
            self.assertEqual(s.exit_from_menu(), 1)


if __name__ == '__main__':
    unittest.main()
