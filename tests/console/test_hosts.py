"""A Unix host as users set it up: host/brisvane.profile sourced by the
login's shell, then real programs through the real terminal.

The session: brisvane --seven-bit in tmux on one end of a pty line, and on the
other, as its controlling terminal, the interactive bash with line editing that
tools/run uses (tools/lib/local-host, which sources the profile)."""
import os
import re
import signal
import subprocess
import tempfile
import unittest
from pathlib import Path

from console_session import ConsoleSession, wait_for

REPO = Path(__file__).resolve().parents[2]
PROFILE = REPO / 'host' / 'brisvane.profile'
KNOWN = [f'line {n:02d} of the known file, a few words to fill it out' for n in range(1, 61)]


def compile_description(folder):
    subprocess.run(['tic', '-x', '-o', str(folder), str(REPO / 'host' / 'brisvane.terminfo')],
                   check=True)


class Profile(unittest.TestCase):
    """Sourced by sh and by bash, twice, as a login without a terminal."""

    def source(self, shell, env):
        # set -eu: a profile must not end a strict shell that sources it.
        script = f'set -eu; . {PROFILE}; . {PROFILE}; printf "%s|" "$TERM" "$LC_ALL" "$LESS" "$GROFF_NO_SGR"'
        return subprocess.run([shell, '-c', script], capture_output=True, text=True, timeout=20,
                              env=dict(env, PATH=os.environ['PATH']))

    def test_finds_the_description_in_the_home_folder_and_keeps_settings_once(self):
        with tempfile.TemporaryDirectory() as home:
            compile_description(Path(home) / '.terminfo')  # the README's way
            for shell in ('sh', 'bash'):
                for less, expected in ((None, '-+R'), ('-i', '-i -+R')):
                    env = {'HOME': home} if less is None else {'HOME': home, 'LESS': less}
                    r = self.source(shell, env)
                    self.assertEqual((r.stdout, r.stderr), (f'brisvane|C|{expected}|1|', ''),
                                     f'{shell} with LESS={less}')

    def test_without_a_description_it_says_how_to_install_one(self):
        with tempfile.TemporaryDirectory() as empty:
            for shell in ('sh', 'bash'):
                r = self.source(shell, {'HOME': empty, 'TERMINFO': empty})
                self.assertTrue(r.stdout.startswith('dumb|C|'), shell)
                self.assertIn('tic -x -o ~/.terminfo brisvane.terminfo', r.stderr, shell)


class Host(unittest.TestCase):
    """One session; each case starts at a cleared prompt and ends back there."""

    @classmethod
    def setUpClass(cls):
        cls.s = ConsoleSession('--seven-bit')
        try:
            cls.home = Path(cls.s.folder) / 'home'
            cls.home.mkdir()
            (cls.home / 'known.txt').write_text('\n'.join(KNOWN) + '\n')
            compile_description(Path(cls.s.folder) / 'terminfo')
            tty = os.open(cls.s.line.host, os.O_RDWR | os.O_NOCTTY)
            try:
                # setsid -c: the line becomes the shell's controlling terminal.
                cls.bash = subprocess.Popen(
                    ['setsid', '-c', str(REPO / 'tools' / 'lib' / 'local-host')],
                    stdin=tty, stdout=tty, stderr=tty,
                    env=dict(os.environ, HOME=str(cls.home),
                             BRISVANE_TERMINFO=str(Path(cls.s.folder) / 'terminfo')))
            finally:
                os.close(tty)
        except BaseException:
            cls.s.close()
            raise

    @classmethod
    def tearDownClass(cls):
        if cls.bash.poll() is None:
            cls.bash.send_signal(signal.SIGHUP)
            cls.bash.wait(10)
        cls.s.close()

    def setUp(self):
        self.command('clear')
        self.wait_rows({0: 'host$'})

    def tearDown(self):
        self.assertFalse(any('2004' in row for row in self.s.screen()), self.s.screen())

    def command(self, text):
        self.s.type(text)
        self.s.keys('Enter')

    def wait_screen(self, predicate, expected, timeout=20):
        """Waits until PREDICATE holds for the rows (trailing blanks stripped)."""
        try:
            wait_for(lambda: predicate([row.rstrip() for row in self.s.screen()]), timeout)
        except TimeoutError:
            self.fail(f'expected {expected}; the screen reads:\n' + '\n'.join(self.s.screen()))

    def wait_rows(self, rows):
        """Each numbered row reads its text, or matches it if it is a pattern."""
        def reads(row, text):
            return text.fullmatch(row) if isinstance(text, re.Pattern) else row == text
        self.wait_screen(lambda screen: all(reads(screen[n], text) for n, text in rows.items()),
                         f'rows {rows}')

    def run_program(self, command, first_screen, quit_keys):
        """Runs COMMAND, waits for its FIRST_SCREEN (row number: text), quits
        it with QUIT_KEYS and checks that it ended with 0."""
        self.command(command + '; echo "exit code $?"')
        self.wait_rows(first_screen)
        self.s.keys(*quit_keys)
        self.wait_screen(lambda screen: 'exit code 0' in screen, f'{command} to end with 0')

    def test_bash_runs_recalls_edits_and_searches(self):
        self.command('echo one two')
        self.wait_rows({1: 'one two', 2: 'host$'})
        self.s.keys('Up')
        self.wait_rows({2: 'host$ echo one two'})
        self.s.keys('BSpace', 'BSpace', 'BSpace')
        self.s.type('six')
        self.s.keys('Enter')
        self.wait_rows({2: 'host$ echo one six', 3: 'one six'})
        self.s.keys('C-r')
        self.s.type('two')
        self.wait_rows({4: "(reverse-i-search)`two': echo one two"})
        self.s.keys('Enter')
        self.wait_rows({4: 'host$ echo one two', 5: 'one two', 6: 'host$'})
        # Programs that read whole lines get Backspace from the terminal's erase.
        self.command('read -r line; echo "read $line"')
        self.s.type('abcd')
        self.s.keys('BSpace', 'Enter')
        self.wait_rows({8: 'read abc'})

    def test_manual_page_reads_as_plain_text(self):
        if not Path('/usr/share/man/man1/ls.1.gz').exists():
            self.skipTest('no manual page for ls on this machine')
        # The same page as man formats it for an 80-column ASCII terminal,
        # with the overstrikes for bold and underline taken out.
        plain = subprocess.run(['man', '-P', 'cat', 'ls'], capture_output=True, text=True,
                               check=True, env=dict(os.environ, MANWIDTH='80', LC_ALL='C',
                                                    MAN_KEEP_FORMATTING='1')).stdout
        page = re.sub('.\b', '', plain).split('\n')
        self.run_program('man ls', {n: page[n].rstrip() for n in range(23)}, ['q'])

    def test_pager(self):
        self.run_program('less known.txt', {n: KNOWN[n] for n in range(23)} | {23: 'known.txt'},
                         ['q'])

    def test_editor(self):
        self.run_program('vi known.txt', {n: KNOWN[n] for n in range(23)}, [':', 'q', 'Enter'])

    def test_nano_leaves_no_bracketed_paste_trace(self):
        # The profile wipes what nano writes as it ends (checked in tearDown).
        self.run_program('nano known.txt', {0: re.compile(r'.*GNU nano.*known\.txt.*'),
                                            1: KNOWN[0], 23: re.compile(r'\^X Exit .*')},
                         ['C-x'])

    def test_dialog_box_in_ascii(self):
        indent = ' ' * 20
        edge = indent + '+' + '-' * 38 + '+'
        self.run_program("dialog --msgbox 'hello from the host' 7 40",
                         {8: edge, 9: indent + '| ' + 'hello from the host'.ljust(37) + '|',
                          12: edge, 13: indent + '|' + '<  OK  >'.center(38) + '|'}, ['Enter'])


if __name__ == '__main__':
    unittest.main()
