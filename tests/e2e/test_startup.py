"""Start-up and shutdown of the real program: arguments, error boxes, exit
codes, releasing the port, ports above COM9."""
import subprocess
import unittest
from pathlib import Path

from harness import Session


class StartupErrors(unittest.TestCase):
    def test_no_argument_shows_the_usage_box_and_exits_0(self):
        with Session() as s:
            s.start('')
            s.wait_window('Error')
            self.assertEqual(s.dialog_text(), 'usage: brisvane "COM port" "home directory" '
                                              '"character interval"')
            s.dismiss()
            self.assertEqual(s.wait_exit(), 0)

    def test_empty_first_argument_shows_the_usage_box(self):
        with Session() as s:
            s.start('"" "Z:\\tmp" "0"')
            s.wait_window('Error')
            self.assertIn('usage:', s.dialog_text())
            s.dismiss()
            self.assertEqual(s.wait_exit(), 0)

    def test_a_port_that_does_not_exist_shows_the_port_box(self):
        with Session() as s:
            s.start('"COM9:9600,n,8,1" "Z:\\tmp" "0"')
            s.wait_window('Error')
            self.assertEqual(s.dialog_text(), 'cannot open serial port')
            s.dismiss()
            self.assertEqual(s.wait_exit(), 0)

    def test_line_settings_the_platform_rejects_show_the_port_box(self):
        with Session() as s:
            s.start(f'"COM{s.com}:9600,q,8,1" "Z:\\tmp" "0"')
            s.wait_window('Error')
            self.assertEqual(s.dialog_text(), 'cannot open serial port')
            s.dismiss()
            self.assertEqual(s.wait_exit(), 0)

    def test_settings_the_driver_refuses_show_the_port_box(self):
        with Session() as s:
            shim = s.tmp / 'refuse_line_settings.so'
            subprocess.run(['cc', '-shared', '-fPIC', '-o', str(shim),
                            str(Path(__file__).with_name('refuse_line_settings.c'))], check=True)
            s.start(s.port_arg() + ' "Z:\\tmp" "0"', env={'LD_PRELOAD': str(shim)})
            s.wait_window('Error')
            self.assertEqual(s.dialog_text(), 'cannot open serial port')
            s.dismiss()
            self.assertEqual(s.wait_exit(), 0)

    def test_an_overlong_port_definition_fails_cleanly(self):
        with Session() as s:
            s.start(f'"COM{s.com}:9600,n,8,1' + ' ' * 10000 + '" "Z:\\tmp" "0"')
            s.wait_window('Error')
            self.assertEqual(s.dialog_text(), 'cannot open serial port')
            s.dismiss()
            self.assertEqual(s.wait_exit(), 0)


class RunAndExit(unittest.TestCase):
    def test_exit_from_the_menu_gives_1_and_releases_the_port(self):
        with Session() as s:
            s.start(f'{s.port_arg()} "{s.win(s.home)}" "0"')
            s.wait_window()
            s.key('alt+x')
            self.assertEqual(s.wait_exit(), 1)
            # The same port opens again at once.
            s.start(f'{s.port_arg()} "{s.win(s.home)}" "0"')
            s.wait_window()
            s.host_write(b'\x1bZ')
            self.assertEqual(s.host_read_exact(3), b'\x9b\xaf\xcb')
            s.key('alt+x')
            self.assertEqual(s.wait_exit(), 1)

    def test_a_port_above_com9_opens(self):
        with Session(com=12) as s:
            s.start(f'"COM12:9600,e,7,1" "{s.win(s.home)}" "0"')
            s.wait_window()
            s.host_write(b'\x1bZ')
            self.assertEqual(s.host_read_exact(3), b'\x9b\xaf\xcb')
            s.key('alt+x')
            self.assertEqual(s.wait_exit(), 1)

    def test_overlong_other_arguments_still_run(self):
        with Session() as s:
            long_text = 'x' * 10000
            s.start(f'{s.port_arg()} "{long_text}" "{"9" * 10000}" "{long_text}"')
            s.wait_window()
            s.host_write(b'still here\x1bZ')
            self.assertEqual(s.host_read_exact(3), b'\x9b\xaf\xcb')
            s.key('alt+x')
            self.assertEqual(s.wait_exit(), 1)


if __name__ == '__main__':
    unittest.main()
