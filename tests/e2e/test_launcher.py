"""tools/brisvane-linux: the program on a device of this machine, and the
one-line refusals when something it needs is missing."""
import grp
import os
import shutil
import signal
import subprocess
import tempfile
import unittest
from pathlib import Path

from harness import REPO, SCALE, TITLE, Session, loader_bits, wait_for

LAUNCHER = REPO / 'tools' / 'brisvane-linux'
# Its own prefix: a Session holds the session lock of the test prefix.
PREFIX = (Path(os.environ.get('BRISVANE_WINEPREFIX') or REPO / 'build' / 'wineprefix')
          .resolve().parent / 'wineprefix-launcher')


# A 32-bit program's loader comes from the i386 architecture.
WINE_ADVICE = ('sudo dpkg --add-architecture i386 && sudo apt-get update && '
               'sudo apt-get install wine32:i386' if loader_bits() == 32
               else 'sudo apt-get install wine64')


def launcher_env(**changes):
    """The test environment without a display, plus CHANGES (None removes)."""
    env = dict(os.environ, BRISVANE_PREFIX=str(PREFIX))
    env.pop('DISPLAY', None)
    for name, value in changes.items():
        if value is None:
            env.pop(name, None)
        else:
            env[name] = value
    return env


class RunsOnADevice(unittest.TestCase):
    def test_a_session_through_a_device_symlink(self):
        with Session() as s:
            device = s.tmp / 'ttyUSB0'
            device.symlink_to(s.tmp / 'ttyA')
            pty = os.path.realpath(device)
            with open(s.tmp / 'launcher.log', 'wb') as log:
                launcher = subprocess.Popen(
                    [str(LAUNCHER), str(device)], stdin=subprocess.DEVNULL, stdout=log,
                    stderr=subprocess.STDOUT, start_new_session=True,
                    env=launcher_env(DISPLAY=s.display, BRISVANE_HOME_DIR=str(s.home)))
            test_prefix = s.prefix
            # The window belongs to the launcher's wineserver: inspect it there.
            s.prefix = PREFIX
            try:
                def window():
                    if launcher.poll() is not None:
                        raise AssertionError(f'launcher ended with {launcher.returncode}: '
                                             + (s.tmp / 'launcher.log').read_text())
                    return (s.find_windows(TITLE) or [None])[0]
                # The first run also makes the prefix.
                s.window_id = wait_for(window, 180, interval=0.2, what='the launcher\'s window')
                links = [p for p in (PREFIX / 'dosdevices').glob('com*')
                         if p.is_symlink() and os.path.realpath(p) == pty]
                self.assertEqual(len(links), 1, links)
                self.assertGreaterEqual(int(links[0].name[3:]), 10)

                s.host_write(b'hello')
                s.sync()
                self.assertEqual(s.expect_row(0, 'hello', cursor_col=5), 0)
                s.key('a')
                self.assertEqual(s.host_read_exact(1), b'\xe1')

                s.key('alt+x')
                self.assertEqual(launcher.wait(30 * SCALE), 1)
                self.assertFalse(links[0].is_symlink(), 'the COM name is left behind')
            finally:
                if launcher.poll() is None:
                    os.killpg(launcher.pid, signal.SIGTERM)  # its trap cleans up
                    launcher.wait(30 * SCALE)
                s.prefix = test_prefix


class RefusesWithOneLine(unittest.TestCase):
    def refuses(self, args, code, message, user=(), **env):
        r = subprocess.run([*user, str(LAUNCHER), *map(str, args)], env=launcher_env(**env),
                           capture_output=True, text=True, timeout=60 * SCALE)
        self.assertEqual(r.returncode, code, r.stderr)
        self.assertIn(message, r.stderr)

    def test_usage_and_what_is_missing(self):
        with tempfile.TemporaryDirectory() as folder:
            plain = Path(folder) / 'ttyUSB0'
            plain.write_text('')
            cases = [
                ([], 2, 'usage:', {}),
                (['/dev/null', '9600-n-8-1'], 2, "not '9600-n-8-1'", {}),
                ([Path(folder) / 'ttyUSB9'], 1, 'ttyUSB9 does not exist', {}),
                ([plain], 1, 'is not a character device', {}),
                (['/dev/null'], 1, 'no program at BRISVANE_EXE=/nonexistent.exe',
                 {'BRISVANE_EXE': '/nonexistent.exe'}),
                (['/dev/null'], 1, WINE_ADVICE, {'BRISVANE_WINE': '/nonexistent/wine'}),
                (['/dev/null'], 1, 'DISPLAY is not set', {}),
                (['/dev/null'], 1, 'cannot reach the X display :4242', {'DISPLAY': ':4242'}),
            ]
            for args, code, message, env in cases:
                with self.subTest(message):
                    self.refuses(args, code, message, **env)

    def test_a_device_of_a_group_the_user_is_not_in(self):
        if os.geteuid() != 0 or not shutil.which('setpriv'):
            self.skipTest('needs root and setpriv to run as another user')
        host, line = os.openpty()
        try:
            path = os.ttyname(line)
            os.chown(path, 0, grp.getgrnam('dialout').gr_gid)
            os.chmod(path, 0o660)
            self.refuses([path], 1, 'sudo usermod -aG dialout $USER, then log in again',
                         user=['setpriv', '--reuid=nobody', '--regid=nogroup', '--clear-groups'])
        finally:
            os.close(line)
            os.close(host)


if __name__ == '__main__':
    unittest.main()
