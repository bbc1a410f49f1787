"""End-to-end test session: the real Windows program under Wine, a private X
display, and a pseudo-terminal pair standing in for the serial line.

    with Session() as s:
        s.start(f'"COM5:9600,n,8,1" "{s.win(s.home)}" "0"')
        s.wait_window()
        s.host_write(b'\\x1bZ')
        assert s.host_read_exact(3) == b'\\x9b\\xaf\\xcb'
        assert s.expect_row(0, 'hello', cursor_col=5) == 0
        s.key('alt+x')
        assert s.wait_exit() == 1

Environment:
  BRISVANE_EXE        the program (a Windows exe), required
  BRISVANE_INSPECTOR  inspector.exe (default: beside BRISVANE_EXE)
  BRISVANE_WINEPREFIX Wine prefix, made by tools/wine-prefix on first use
                      (default: build/wineprefix in the repository)
  BRISVANE_WINE       Wine loader (default /usr/lib/wine/wine64)
  BRISVANE_TIMEOUT_SCALE  multiplies every timeout (slow machines)
  BRISVANE_KEEP_TMP   keep each session's temp dir (logs, bat file); a failing
                      session always keeps it and prints where

Sessions on one prefix run one at a time (they share its wineserver and its
COM port names); a lock file in the prefix enforces that.
Standard library only.
"""

import atexit
import fcntl
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import termios
import time
import unittest
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
SCALE = float(os.environ.get('BRISVANE_TIMEOUT_SCALE', '1'))
ROWS, COLS = 24, 80
TITLE = 'termin BRISVANE v2.4 for PALLWICK'
WINE = os.environ.get('BRISVANE_WINE', '/usr/lib/wine/wine64')
WINDOW_CLASS = 'BRISVANE'

_live_sessions = set()
_prefixes_ready = set()


def win_path(path):
    """Windows name of a local path through Wine's Z: drive."""
    return 'Z:' + str(Path(path).resolve()).replace('/', '\\')


def row_hex(text):
    """A row's text as the inspector's HEX argument (UTF-16 code units)."""
    data = text.encode('utf-16-le')
    units = [int.from_bytes(data[i:i + 2], 'little') for i in range(0, len(data), 2)]
    if len(units) > COLS:
        raise ValueError(f'row longer than {COLS} columns: {text!r}')
    return ''.join(f'{u:04x}' for u in units) or '-'


def wait_for(predicate, timeout, interval=0.05, what='condition'):
    """Polls predicate until it returns a true value, which is returned."""
    deadline = time.monotonic() + timeout * SCALE
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise TimeoutError(f'timed out after {timeout * SCALE:.1f}s waiting for {what}')
        time.sleep(interval)


def loader_bits(path=WINE):
    """32 or 64: the word size of the Wine loader at PATH."""
    with open(path, 'rb') as f:
        head = f.read(5)
    if head[:4] != b'\x7fELF':
        raise RuntimeError(f'{path} is not an ELF program (a wrapper script?)')
    return 32 if head[4] == 1 else 64


def _need_commands(*pairs):
    """Installs the Debian packages of missing commands (CMD:PKG pairs)."""
    script = REPO / 'tools' / 'lib' / 'need-packages.sh'
    subprocess.run(['bash', '-c', '. "$0" && need_packages "$@"', str(script), *pairs],
                   check=True)


def _ensure_prefix(prefix):
    if prefix not in _prefixes_ready:
        subprocess.run([str(REPO / 'tools' / 'wine-prefix'), str(prefix)], check=True)
        _prefixes_ready.add(prefix)


class Session:
    """One program run with everything it needs; stops all it started on exit."""

    def __init__(self, com=5, exe=None, inspector=None, prefix=None):
        self.com = com
        self.exe = Path(exe or os.environ.get('BRISVANE_EXE') or '')
        if not self.exe.is_file():
            raise RuntimeError('set BRISVANE_EXE to the program to test')
        self.inspector_exe = Path(inspector or os.environ.get('BRISVANE_INSPECTOR')
                                  or self.exe.parent / 'inspector.exe')
        self.prefix = Path(prefix or os.environ.get('BRISVANE_WINEPREFIX')
                           or REPO / 'build' / 'wineprefix').resolve()
        self.wine = WINE
        self._launched_by_inspector = False
        self.wineserver = '/usr/lib/wine/wineserver64'
        if not os.path.exists(self.wineserver):
            self.wineserver = 'wineserver'
        self.tmp = None
        self.home = None
        self.display = None
        self.window_id = None
        self.proc = None
        self.exit_code = None
        self._xvfb = self._socat = self._server = None
        self._host_fd = None
        self._hosted = []
        self._lock_fd = None
        self._com_link = None
        self._com_old_target = None

    # ---- set-up and tear-down -------------------------------------------

    def __enter__(self):
        try:
            self._open()
        except BaseException:
            self.close(failed=True)
            raise
        return self

    def __exit__(self, exc_type, exc, tb):
        self.close(failed=exc_type is not None)
        return False

    def _open(self):
        _need_commands('Xvfb:xvfb', 'socat:socat', 'xdotool:xdotool', 'import:imagemagick')
        _ensure_prefix(self.prefix)
        _live_sessions.add(self)
        self._lock_fd = os.open(self.prefix / '.brisvane-session-lock', os.O_CREAT | os.O_RDWR)
        fcntl.flock(self._lock_fd, fcntl.LOCK_EX)
        self.tmp = Path(tempfile.mkdtemp(prefix='brisvane-e2e-'))
        self.home = self.tmp / 'home'
        self.home.mkdir()
        self._start_xvfb()
        self._start_wineserver()
        self._start_line()

    def _start_xvfb(self):
        rd, wr = os.pipe()
        try:
            with open(self.tmp / 'xvfb.log', 'wb') as log:
                self._xvfb = subprocess.Popen(
                    ['Xvfb', '-displayfd', str(wr), '-screen', '0', '1280x1024x24',
                     '-nolisten', 'tcp', '-noreset'],
                    pass_fds=[wr], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                    stderr=log, start_new_session=True)
            os.close(wr)
            wr = None
            text = b''
            deadline = time.monotonic() + 20 * SCALE
            while not text.endswith(b'\n'):
                left = deadline - time.monotonic()
                if left <= 0 or not select.select([rd], [], [], left)[0]:
                    raise RuntimeError('Xvfb did not report a display')
                chunk = os.read(rd, 64)
                if not chunk:
                    raise RuntimeError('Xvfb exited: see ' + str(self.tmp / 'xvfb.log'))
                text += chunk
            self.display = ':' + text.decode().strip()
        finally:
            os.close(rd)
            if wr is not None:
                os.close(wr)

    def _start_wineserver(self):
        # A stale server of this prefix (we hold the lock, so no one uses it).
        subprocess.run([self.wineserver, '-k'], env=self.env(), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        subprocess.run([self.wineserver, '-w'], env=self.env(), timeout=30 * SCALE)
        # Our own server, so its output has a home: it dumps megabytes of its
        # object table when a serial line hangs up.
        self._server = subprocess.Popen([self.wineserver, '-f', '-p'], env=self.env(),
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL, start_new_session=True)

    def _start_line(self):
        a, b = self.tmp / 'ttyA', self.tmp / 'ttyB'
        with open(self.tmp / 'socat.log', 'wb') as log:
            self._socat = subprocess.Popen(
                ['socat', f'pty,raw,echo=0,link={a}', f'pty,raw,echo=0,link={b}'],
                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=log,
                start_new_session=True)
        wait_for(lambda: a.exists() and b.exists() or self._socat.poll() is not None, 10,
                 what='socat pty links')
        if self._socat.poll() is not None:
            raise RuntimeError('socat exited: see ' + str(self.tmp / 'socat.log'))
        self._host_fd = os.open(b, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        self._make_host_side_raw()
        link = self.prefix / 'dosdevices' / f'com{self.com}'
        if link.is_symlink():
            self._com_old_target = os.readlink(link)
            link.unlink()
        os.symlink(a, link)
        self._com_link = link

    def _make_host_side_raw(self):
        attrs = termios.tcgetattr(self._host_fd)
        attrs[0] = 0                                             # iflag
        attrs[1] = 0                                             # oflag
        attrs[2] = termios.CS8 | termios.CREAD | termios.CLOCAL  # cflag
        attrs[3] = 0                                             # lflag
        attrs[6][termios.VMIN] = 0
        attrs[6][termios.VTIME] = 0
        # TCSANOW: a flushing mode would throw away bytes already on the line.
        termios.tcsetattr(self._host_fd, termios.TCSANOW, attrs)

    def close(self, failed=False):
        """Stops everything this session started; safe to call twice."""
        if self not in _live_sessions and self._lock_fd is None:
            return
        _live_sessions.discard(self)
        if failed and self._xvfb is not None and self._xvfb.poll() is None:
            try:
                self.screenshot(self.tmp / 'failed.png')
            except Exception:  # the screenshot only helps debugging
                pass
        if self._server is not None or self.proc is not None:
            subprocess.run([self.wineserver, '-k'], env=self.env(), stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
        for p in self._hosted:
            _stop(p)
        for attr in ('proc', '_server', '_socat', '_xvfb'):
            p = getattr(self, attr)
            if p is not None:
                _stop(p)
        if self.proc is not None and self.exit_code is None:
            self.exit_code = self.proc.returncode
        if self._host_fd is not None:
            os.close(self._host_fd)
            self._host_fd = None
        if self._com_link is not None:
            try:
                self._com_link.unlink()
                # Put back what was there, unless a killed session left it.
                if self._com_old_target and 'brisvane-e2e-' not in self._com_old_target:
                    os.symlink(self._com_old_target, self._com_link)
            except OSError:
                pass
            self._com_link = None
        if self._lock_fd is not None:
            os.close(self._lock_fd)  # releases the flock
            self._lock_fd = None
        if self.tmp is not None:
            if failed or os.environ.get('BRISVANE_KEEP_TMP'):
                print(f'e2e session files kept in {self.tmp}', file=sys.stderr)
            else:
                shutil.rmtree(self.tmp, ignore_errors=True)

    def env(self):
        env = dict(os.environ, WINEPREFIX=str(self.prefix), WINEDEBUG='-all',
                   WINEDLLOVERRIDES='mscoree,mshtml=')
        env.pop('DISPLAY', None)
        if self.display:
            env['DISPLAY'] = self.display
        return env

    # ---- the program ----------------------------------------------------

    @staticmethod
    def win(path):
        return win_path(path)

    def port_arg(self, settings='9600,n,8,1'):
        return f'"COM{self.com}:{settings}"'

    def start(self, args='', exe=None, env=None):
        """Starts the program with ARGS as the raw rest of its command line.

        It runs from a batch file through Wine's cmd, which hands the line over
        verbatim (Wine's own argv handling would escape the quotes). Lines too
        long for cmd go through the inspector, which starts the program with
        exactly that command line."""
        exe = Path(exe or self.exe)
        line = f'"{win_path(exe)}"' + (' ' + args if args else '')
        if len(line) < 4000:
            bat = self.tmp / 'run.bat'
            bat.write_bytes(f'@{line}\r\n@exit %ERRORLEVEL%\r\n'.encode('latin-1'))
            command = [self.wine, 'cmd', '/c', win_path(bat)]
            self._launched_by_inspector = False
        else:
            held = self.tmp / 'command-line.txt'
            held.write_bytes(line.encode('latin-1'))
            command = [self.wine, str(self.inspector_exe), 'launch', win_path(held)]
            self._launched_by_inspector = True
        self._program_out = self.tmp / 'program.out'
        with open(self._program_out, 'wb') as log:
            self.proc = subprocess.Popen(
                command, env=dict(self.env(), **(env or {})), cwd=self.home,
                stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                start_new_session=True)

    def start_terminal(self, more_args='"0"', exe=None):
        """Starts the program on this session's port, home folder as the
        dialogs' folder, then MORE_ARGS; returns once its window is up."""
        self.start(f'{self.port_arg()} "{self.win(self.home)}" {more_args}', exe=exe)
        return self.wait_window()

    def exit_from_menu(self):
        """Chooses Exit and returns the program's exit code."""
        self.key('alt+x')
        return self.wait_exit()

    def running(self):
        return self.proc is not None and self.proc.poll() is None

    def wait_exit(self, timeout=15):
        """The program's exit code once it has ended."""
        try:
            self.exit_code = self.proc.wait(timeout * SCALE)
        except subprocess.TimeoutExpired:
            raise TimeoutError(f'program still running after {timeout * SCALE:.1f}s') from None
        if self._launched_by_inspector:
            m = re.search(r'exit=(\d+)', self._program_out.read_text(errors='replace'))
            self.exit_code = int(m[1]) if m else None
        return self.exit_code

    # ---- X windows and input -------------------------------------------

    def _xdotool(self, *args, check=True):
        r = subprocess.run(['xdotool', *args], env=self.env(), capture_output=True, text=True,
                           timeout=30 * SCALE)
        if check and r.returncode:
            raise RuntimeError(f'xdotool {" ".join(args)} failed: {r.stderr.strip()}')
        return r

    def find_windows(self, title):
        """X ids of visible windows whose title is exactly TITLE."""
        r = self._xdotool('search', '--onlyvisible', '--name', f'^{re.escape(title)}$',
                          check=False)
        return [int(w) for w in r.stdout.split()]

    def wait_window(self, title=TITLE, timeout=20):
        """Waits for a visible window titled TITLE; the main window is remembered for key()."""
        def found():
            if self.proc is not None and self.proc.poll() is not None:
                raise RuntimeError(f'program exited with {self.proc.returncode} '
                                   f'before showing "{title}"')
            ids = self.find_windows(title)
            return ids[0] if ids else None
        wid = wait_for(found, timeout, interval=0.1, what=f'window "{title}"')
        if title == TITLE:
            self.window_id = wid
        return wid

    def wait_no_window(self, title, timeout=10):
        wait_for(lambda: not self.find_windows(title), timeout, what=f'"{title}" to close')

    def focus(self, window=None):
        """Gives WINDOW (default: the main window) the keyboard focus."""
        wid = window or self.window_id or self.wait_window()
        self._xdotool('windowfocus', '--sync', str(wid))

    def sync(self):
        """Returns once the program has interpreted everything sent so far:
        bytes are taken in order, so the answer to an identify request
        comes after all of them."""
        self.host_write(b'\x1bZ')
        answer = self.host_read_exact(3, timeout=30)
        if answer != b'\x9b\xaf\xcb':
            raise AssertionError(f'identify answered {answer.hex(" ")}')

    def key(self, *keys, window=None):
        """Focuses WINDOW (default: the main window) and presses xdotool KEYS."""
        wid = window or self.window_id or self.wait_window()
        self._xdotool('windowfocus', '--sync', str(wid))
        self._xdotool('key', '--delay', '30', *keys)

    def type(self, text, window=None):
        wid = window or self.window_id or self.wait_window()
        self._xdotool('windowfocus', '--sync', str(wid))
        self._xdotool('type', '--delay', '20', text)

    def screenshot(self, path):
        subprocess.run(['import', '-window', 'root', str(path)], env=self.env(), check=True,
                       timeout=30 * SCALE)

    # ---- the serial line, host side ------------------------------------

    def host_write(self, data):
        view = memoryview(bytes(data))
        while view:
            select.select([], [self._host_fd], [], 5 * SCALE)
            try:
                n = os.write(self._host_fd, view)
            except BlockingIOError:
                continue
            view = view[n:]

    def host_read_exact(self, n, timeout=5):
        """Exactly N bytes from the program; TimeoutError says what did come."""
        got = bytearray()
        deadline = time.monotonic() + timeout * SCALE
        while len(got) < n:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self._host_fd], [], [], left)[0]:
                raise TimeoutError(f'wanted {n} bytes from the program, got {len(got)}: '
                                   f'{bytes(got).hex(" ")}')
            try:
                got += os.read(self._host_fd, n - len(got))
            except BlockingIOError:
                pass
        return bytes(got)

    def host_read_available(self, quiet=0.2):
        """Whatever the program sends until the line has been quiet for QUIET seconds."""
        got = bytearray()
        while select.select([self._host_fd], [], [], quiet * SCALE)[0]:
            try:
                chunk = os.read(self._host_fd, 4096)
            except BlockingIOError:
                continue
            if not chunk:
                break
            got += chunk
        return bytes(got)

    def host_program(self, *argv, env=None):
        """Starts ARGV on the host end of the line as a Unix host runs a
        program for a user there: the line is its controlling terminal, 24 x 80,
        bit 7 stripped, TERM=brisvane from the description in host/. Returns the
        Popen; the session stops it if it is still running at the end."""
        tty = os.open(self.tmp / 'ttyB', os.O_RDWR | os.O_NOCTTY)
        try:
            base = {'PATH': '/usr/local/bin:/usr/bin:/bin', 'HOME': str(self.home),
                    'LANG': 'C', 'TERM': 'brisvane', 'TERMINFO': self._terminfo()}
            # setsid -c: a new session whose controlling terminal is the line.
            p = subprocess.Popen(
                ['setsid', '-c', 'sh', '-c', 'stty sane istrip rows 24 cols 80 && exec "$@"',
                 'host', *argv], stdin=tty, stdout=tty, stderr=tty, cwd=self.home,
                env=dict(base, **(env or {})))
        finally:
            os.close(tty)
        self._hosted.append(p)
        return p

    def host_shell_behind_relay(self):
        """Starts tools/run's local host, a bash with line editing set up by
        host/brisvane.profile, behind tools/lib/seven-bit-relay on the host end
        of the line (raw, as it stays): what tools/run does on its virtual
        line. Returns the relay's Popen, ended by the shell's exit."""
        tools = REPO / 'tools' / 'lib'
        tty = os.open(self.tmp / 'ttyB', os.O_RDWR | os.O_NOCTTY)
        try:
            p = subprocess.Popen(
                [str(tools / 'seven-bit-relay'), str(tools / 'local-host')],
                stdin=tty, stdout=tty, stderr=subprocess.DEVNULL, start_new_session=True,
                env=dict(os.environ, HOME=str(self.home), BRISVANE_TERMINFO=self._terminfo()))
        finally:
            os.close(tty)
        self._hosted.append(p)
        return p

    def _terminfo(self):
        """A folder holding the compiled host/brisvane.terminfo."""
        terminfo = self.tmp / 'terminfo'
        if not terminfo.exists():
            subprocess.run(['tic', '-x', '-o', str(terminfo),
                            str(REPO / 'host' / 'brisvane.terminfo')], check=True)
        return str(terminfo)

    def host_program_wait(self, program, timeout=20):
        """The host program's exit code once it has ended; the line is raw
        again for host_read and host_write."""
        wait_for(lambda: program.poll() is not None, timeout, what='the host program to end')
        self._make_host_side_raw()
        return program.returncode

    def hang_up(self):
        """Takes the host side away, as when a cable is pulled (socat ends)."""
        _stop(self._socat)

    # ---- looking at the window -----------------------------------------

    def inspector(self, *args, check=False):
        """Runs the inspector; returns the CompletedProcess (text output)."""
        r = subprocess.run([self.wine, str(self.inspector_exe), *map(str, args)], env=self.env(),
                           capture_output=True, text=True, timeout=60 * SCALE)
        if r.returncode == 2 or (check and r.returncode):
            raise RuntimeError(f'inspector {" ".join(map(str, args[:2]))} failed '
                               f'({r.returncode}): {r.stdout.strip()} {r.stderr.strip()}')
        return r

    def window_info(self):
        """Title, client size and cell size as the inspector reports them."""
        out = self.inspector('window', check=True).stdout
        m = re.match(r'title=(.*) client=(\d+)x(\d+) cell=(\d+)x(\d+) origin=(-?\d+),(-?\d+)',
                     out)
        if not m:
            raise RuntimeError(f'unexpected inspector output: {out!r}')
        return {'title': m[1], 'client': (int(m[2]), int(m[3])), 'cell': (int(m[4]), int(m[5])),
                'origin': (int(m[6]), int(m[7]))}

    def expect_row(self, row, text, cursor_col=None, timeout=2):
        """Pixels of ROW that differ from TEXT drawn as the program draws it
        (0 = identical); retries for up to TIMEOUT while the window catches up."""
        args = ['--timeout', int(timeout * SCALE * 1000), 'row', row, row_hex(text)]
        if cursor_col is not None:
            args.append(cursor_col)
        return self._mismatch(self.inspector(*args))

    def expect_screen(self, rows, cursor=None, timeout=2):
        """Like expect_row for the whole screen: ROWS is up to 24 strings,
        CURSOR a (row, col) pair or None."""
        rows = list(rows) + [''] * (ROWS - len(rows))
        cr, cc = cursor if cursor is not None else (-1, -1)
        return self._mismatch(self.inspector('--timeout', int(timeout * SCALE * 1000), 'screen',
                                             cr, cc, *map(row_hex, rows)))

    def _mismatch(self, r):
        m = re.match(r'mismatch=(\d+)', r.stdout)
        if not m:
            raise RuntimeError(f'unexpected inspector output: {r.stdout!r} {r.stderr!r}')
        self.last_mismatch = r.stdout.strip()
        return int(m[1])

    def greyed_items(self):
        """Command identifiers of the greyed menu items (test build only)."""
        out = self.inspector('menu', check=True).stdout.strip()
        m = re.match(r'greyed=([\d,]*)$', out)
        if not m:
            raise RuntimeError(f'unexpected inspector output: {out!r}')
        return {int(i) for i in m[1].split(',') if i}

    def choose_file(self, path, title):
        """Answers the open ('Open') or save ('Save') dialog with PATH."""
        wid = self.wait_window(title)
        self.focus(wid)
        self._xdotool('type', '--delay', '10', win_path(path))
        self._xdotool('key', 'Return')
        self.wait_no_window(title)

    def wait_file_size(self, path, size, timeout=60):
        """Waits until the file at PATH holds SIZE bytes and stays so briefly."""
        def grown():
            return Path(path).exists() and Path(path).stat().st_size >= size
        wait_for(grown, timeout, interval=0.1, what=f'{path} to reach {size} bytes')
        time.sleep(0.3)
        return Path(path).stat().st_size

    def dialog_text(self, title='Error', timeout=10):
        """The static texts of the dialog titled TITLE, one per line. X may
        show the window before Wine has made the dialog and its texts: asked
        again until they are there."""
        def texts():
            r = self.inspector('text', title)
            return r.stdout.strip() if r.returncode == 0 else None
        return wait_for(texts, timeout, interval=0.1, what=f'the texts of the dialog {title!r}')

    def dismiss(self, title='Error'):
        """Presses Return in the dialog titled TITLE and waits until it is gone."""
        self.key('Return', window=self.wait_window(title))
        self.wait_no_window(title)

    def program_pid(self):
        """The process id of the program itself (not cmd, not the inspector)."""
        name = self.exe.name.lower().encode()
        for pid in os.listdir('/proc'):
            if not pid.isdigit():
                continue
            try:
                argv0 = (Path('/proc') / pid / 'cmdline').read_bytes().lower().split(b'\0')[0]
            except OSError:
                continue
            if name in argv0 and b'cmd' not in argv0 and b'inspector' not in argv0:
                return int(pid)
        raise RuntimeError('the program\'s process was not found')

    def program_cpu_seconds(self):
        """User plus system time used so far by the program's own process."""
        stat = (Path('/proc') / str(self.program_pid()) / 'stat').read_text()
        fields = stat.rsplit(')', 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf('SC_CLK_TCK')

    def dump(self, path):
        """Saves the client area as a BMP file."""
        self.inspector('dump', win_path(path), check=True)


class OneRunTestCase(unittest.TestCase):
    """Test cases sharing one run of the program, started with ARGS (and the
    test build when HOOKED); Exit must end it with code 1."""
    ARGS = '"0"'
    HOOKED = False

    @classmethod
    def setUpClass(cls):
        cls.session = Session().__enter__()
        try:
            exe = os.environ['BRISVANE_HOOKED_EXE'] if cls.HOOKED else None
            cls.session.start_terminal(cls.ARGS, exe=exe)
        except BaseException:
            cls.session.__exit__(*sys.exc_info())
            raise

    @classmethod
    def tearDownClass(cls):
        s = cls.session
        try:
            if s.running() and s.exit_from_menu() != 1:
                raise AssertionError(f'Exit ended the program with {s.exit_code}')
        finally:
            s.__exit__(None, None, None)


def _stop(p, grace=5):
    """Ends a process this harness started: SIGTERM to its group, then SIGKILL."""
    if p.poll() is None:
        for sig, wait in ((signal.SIGTERM, grace), (signal.SIGKILL, grace)):
            try:
                os.killpg(p.pid, sig)  # each child was started in a session of its own
            except ProcessLookupError:
                break
            try:
                p.wait(wait)
                break
            except subprocess.TimeoutExpired:
                pass


@atexit.register
def _close_leftovers():
    for s in list(_live_sessions):
        s.close(failed=True)
