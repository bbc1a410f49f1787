"""A Unix host as users set it up: host/brisvane.profile sourced by the
login's shell, then real programs through the real terminal.

The session: brisvane --seven-bit in tmux on one end of a pty line, and on the
other, as its controlling terminal, the interactive bash with line editing that
tools/run uses (tools/lib/local-host, which sources the profile). Then the
same bash with --eight-bit, and a login through agetty as the README has
it, where this machine lets the test run agetty."""
import os
import re
import shutil
import signal
import subprocess
import tempfile
import unittest
import uuid
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
        script = (f'set -eu; . {PROFILE}; . {PROFILE}; printf "%s|" "$TERM" "$LC_ALL" "$LESS" '
                  '"$GROFF_NO_SGR" "$NO_COLOR" "$GIT_CONFIG_COUNT" "$(git config color.ui)"')
        # git colour asked for already: the profile's setting comes after it.
        git = {'GIT_CONFIG_COUNT': '1', 'GIT_CONFIG_KEY_0': 'color.ui', 'GIT_CONFIG_VALUE_0': 'always'}
        return subprocess.run([shell, '-c', script], capture_output=True, text=True, timeout=20,
                              env=dict(env, PATH=os.environ['PATH'], **git))

    def test_finds_the_description_in_the_home_folder_and_keeps_settings_once(self):
        with tempfile.TemporaryDirectory() as home:
            compile_description(Path(home) / '.terminfo')  # the README's way
            for shell in ('sh', 'bash'):
                for less, expected in ((None, '-+R'), ('-i', '-i -+R')):
                    env = {'HOME': home} if less is None else {'HOME': home, 'LESS': less}
                    r = self.source(shell, env)
                    self.assertEqual((r.stdout, r.stderr), (f'brisvane|C|{expected}|1|1|2|never|', ''),
                                     f'{shell} with LESS={less}')

    def test_without_a_description_it_says_how_to_install_one(self):
        with tempfile.TemporaryDirectory() as empty:
            for shell in ('sh', 'bash'):
                r = self.source(shell, {'HOME': empty, 'TERMINFO': empty})
                self.assertTrue(r.stdout.startswith('dumb|C|'), shell)
                self.assertIn('tic -x -o ~/.terminfo brisvane.terminfo', r.stderr, shell)


class Host(unittest.TestCase):
    """One session; each case starts by clearing the screen at the prompt."""

    @classmethod
    def setUpClass(cls):
        cls.s = ConsoleSession('--seven-bit')
        try:
            cls.home = Path(cls.s.folder) / 'home'
            cls.home.mkdir()
            (cls.home / 'known.txt').write_text('\n'.join(KNOWN) + '\n')
            compile_description(Path(cls.s.folder) / 'terminfo')
            # setsid -c: the line becomes the shell's controlling terminal.
            cls.bash = start_host(cls.s, ['setsid', '-c', str(REPO / 'tools' / 'lib' / 'local-host')],
                                  env=dict(os.environ, HOME=str(cls.home),
                                           BRISVANE_TERMINFO=str(Path(cls.s.folder) / 'terminfo')))
        except BaseException:
            cls.s.close()
            raise

    @classmethod
    def tearDownClass(cls):
        hang_up(cls.bash)
        cls.s.close()

    def clear(self):
        self.command('clear')
        self.wait_rows({0: 'host$'})

    def command(self, text):
        self.s.type(text)
        self.s.keys('Enter')

    def wait_rows(self, rows):
        """Each numbered row reads its text (trailing blanks aside), or matches
        it if it is a pattern; fails with the screen as it is."""
        def reads(row, text):
            return text.fullmatch(row) if isinstance(text, re.Pattern) else row == text
        def screen_reads():
            screen = [row.rstrip() for row in self.s.screen()]
            return all(reads(screen[n], text) for n, text in rows.items())
        try:
            wait_for(screen_reads, 20)
        except TimeoutError:
            self.fail(f'expected rows {rows}; the screen reads:\n' + '\n'.join(self.s.screen()))

    def test_bash_runs_recalls_edits_and_searches(self):
        self.clear()
        self.command('echo one two')
        self.wait_rows({1: 'one two', 2: 'host$'})
        self.s.keys('Up')
        self.wait_rows({2: 'host$ echo one two'})
        self.s.keys('BSpace', 'BSpace', 'BSpace', 'Left', 'Left', 'DC', 'End')
        self.command('six')
        self.wait_rows({2: 'host$ echo on six', 3: 'on six'})
        self.s.keys('C-r')
        self.s.type('two')
        self.wait_rows({4: "(reverse-i-search)`two': echo one two"})  # Ctrl-R
        self.s.keys('Enter')
        self.wait_rows({4: 'host$ echo one two', 5: 'one two', 6: 'host$'})
        # Programs that read whole lines get Backspace from the terminal's erase.
        # Typed only once read's prompt shows: keys that come while readline
        # still holds the terminal raw are not edited by the erase.
        self.command('read -r -p "say: " line; echo "read $line"')
        self.wait_rows({7: 'say:'})
        self.s.type('abcd')
        self.s.keys('BSpace', 'Enter')
        self.wait_rows({7: 'say: abc', 8: 'read abc'})

    def test_colour_sequences_are_hidden(self):
        self.clear()
        self.command(r"printf '\033[1;32mOK\033[0m\n'")
        self.wait_rows({1: 'OK', 2: 'host$'})
        passwd = next(line for line in Path('/etc/passwd').read_text().split('\n')
                      if line.startswith('root:'))
        self.command("grep --color=always '^root:' /etc/passwd")
        self.wait_rows({3: passwd[:80], 4: 'host$'})
        self.s.wait_status(' hidden |')

    def test_programs_draw_their_first_screen_and_quit_cleanly(self):
        first_page = {n: KNOWN[n] for n in range(23)}
        indent = ' ' * 20
        edge = indent + '+' + '-' * 38 + '+'
        programs = [
            ('less known.txt', first_page | {23: 'known.txt'}, ['q']),
            ('vi known.txt', first_page, [':', 'q', 'Enter']),
            ('nano known.txt', {0: re.compile(r'.*GNU nano.*known\.txt.*'), 1: KNOWN[0],
                                23: re.compile(r'\^X Exit .*')}, ['C-x']),
            ("dialog --msgbox 'hello from the host' 7 40",
             {8: edge, 9: indent + '| ' + 'hello from the host'.ljust(37) + '|', 12: edge,
              13: indent + '|' + '<  OK  >'.center(38) + '|'}, ['Enter']),
        ]
        if Path('/usr/share/man/man1/ls.1.gz').exists():
            # The page as man formats it for 80 columns, overstrikes (bold,
            # underline) taken out: a stray character shows as a difference.
            plain = subprocess.run(['man', '-P', 'cat', 'ls'], capture_output=True, text=True,
                                   check=True, env=dict(os.environ, MANWIDTH='80', LC_ALL='C',
                                                        MAN_KEEP_FORMATTING='1')).stdout
            page = re.sub('.\b', '', plain).split('\n')
            programs.append(('man ls', {n: page[n].rstrip() for n in range(23)}, ['q']))
        for command, first_screen, quit_keys in programs:
            with self.subTest(command):
                self.clear()
                self.command(command + '; echo "exit code $?"')
                self.wait_rows(first_screen)
                self.s.keys(*quit_keys)
                wait_for(lambda: 'exit code 0' in [row.rstrip() for row in self.s.screen()], 20,
                         what=f'{command} to end with 0')
                # No bracketed-paste trace: nano writes one as it ends, whatever
                # its settings, and the profile wipes it.
                self.assertFalse([row for row in self.s.screen() if '2004' in row])


def start_host(session, command, **popen):
    """A login on the line's host end as its controlling terminal."""
    tty = os.open(session.line.host, os.O_RDWR | os.O_NOCTTY)
    try:
        return subprocess.Popen(command, stdin=tty, stdout=tty, stderr=tty, **popen)
    finally:
        os.close(tty)


def hang_up(process):
    if process.poll() is None:
        process.send_signal(signal.SIGHUP)
        process.wait(10)


class EightBitHost(unittest.TestCase):
    """The same bash, brisvane with --eight-bit: nothing runs until the
    hint is followed."""

    def test_the_hint_shows_and_the_menus_7_makes_commands_run(self):
        with ConsoleSession('--eight-bit') as s:
            home = Path(s.folder) / 'home'
            home.mkdir()
            compile_description(Path(s.folder) / 'terminfo')
            bash = start_host(s, ['setsid', '-c', str(REPO / 'tools' / 'lib' / 'local-host')],
                              env=dict(os.environ, HOME=str(home),
                                       BRISVANE_TERMINFO=str(Path(s.folder) / 'terminfo')))
            self.addCleanup(hang_up, bash)
            wait_for(lambda: s.row(0).startswith('host$'), 20, 'the prompt')
            # The word and Enter in one piece: the word's bells come after Enter went.
            s.keys('e', 'c', 'h', 'o', 'Space', 'h', 'i', 'Enter')
            s.wait_status('the host sees bit 7: the menu key then 7 clears it (leave out --eight-bit)')
            self.assertNotIn('hi', s.row(1))
            s.keys('C-a', '7')
            s.wait_status('bit 7 clear')
            s.keys('C-c')  # a fresh prompt, without what went in with bit 7
            s.wait_status('9600,n,8,1 none |')
            s.type('echo ran')
            s.keys('Enter')
            wait_for(lambda: 'ran' in [row.rstrip() for row in s.screen()], 20, 'the command to run')


class AgettyLogin(unittest.TestCase):
    """A login through a real agetty set up as the README says (its case in
    ~/.bash_profile, TERM as agetty's argument), on the pty bound to a
    /dev/ttyGS name: a pty's own name matches none of the case's patterns."""

    def setUp(self):
        if os.geteuid() != 0 or shutil.which('agetty') is None:
            self.skipTest('agetty needs root here')
        self.s = ConsoleSession('--seven-bit')
        self.addCleanup(self.s.close)
        self.name = 'ttyGSbv' + uuid.uuid4().hex[:6]
        self.node = Path('/dev') / self.name
        self.node.touch()
        self.addCleanup(self.node.unlink)
        mounted = subprocess.run(['mount', '--bind', os.path.realpath(self.s.line.host), str(self.node)],
                                 capture_output=True)
        if mounted.returncode != 0:
            self.skipTest('cannot bind the pty to a serial name here')
        self.addCleanup(subprocess.run, ['umount', str(self.node)], check=True)

    def test_login_takes_the_profile_and_term(self):
        home = Path(self.s.folder) / 'home'
        home.mkdir()
        compile_description(home / '.terminfo')
        shutil.copy(PROFILE, home / 'brisvane.profile')
        readme = (REPO / 'README.md').read_text()
        case = re.search(r'^    case \$\(tty\) in\n.*?^    esac\n', readme, re.S | re.M).group(0)
        (home / '.bash_profile').write_text(
            'echo "agetty: $TERM"\n' + re.sub('^    ', '', case, flags=re.M) + "PS1='login$ '\n")
        (home / '.profile').write_text('echo "not to be read"\n')
        login = start_host(self.s, ['agetty', '-n', '-l', '/bin/bash', '-o', '--login', '-J', '-L',
                                          self.name, '9600', 'brisvane'],
                           env={'HOME': str(home), 'PATH': os.environ['PATH']}, start_new_session=True)
        self.addCleanup(hang_up, login)
        wait_for(lambda: any(row.startswith('login$') for row in self.s.screen()), 20, 'the prompt')
        self.s.type('echo "$TERM $LC_ALL $NO_COLOR $(git config color.ui) $(tty)"')
        self.s.keys('Enter')
        expected = f'brisvane C 1 never /dev/{self.name}'
        wait_for(lambda: expected in [row.rstrip() for row in self.s.screen()], 20, expected)
        screen = '\n'.join(self.s.screen())
        self.assertIn('agetty: brisvane', screen)
        self.assertNotIn('not to be read', screen)


if __name__ == '__main__':
    unittest.main()
