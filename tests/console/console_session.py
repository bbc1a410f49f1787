"""The Unix front end under test: the real program in a private tmux server
on one end of a socat pty pair, the test as the host on the other end.

    with ConsoleSession() as s:
        s.host_write(b'hello')
        s.wait_row(0, 'hello')
        s.keys('Up'); assert s.host_read(3) == b'\\x1b?t'
        s.keys('C-a', 'x'); assert s.exit_code() == 0

BRISVANE_CONSOLE names the program. Standard library only.
"""
import contextlib
import fcntl
import os
import shutil
import struct
import signal
import socket
import subprocess
import tempfile
import time
from pathlib import Path

PROGRAM = os.environ.get('BRISVANE_CONSOLE', 'brisvane')
SCALE = float(os.environ.get('BRISVANE_TIMEOUT_SCALE', '1'))


def wait_for(predicate, timeout=5.0, what='condition'):
    deadline = time.monotonic() + timeout * SCALE
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise TimeoutError(f'timed out waiting for {what}')
        time.sleep(0.02)


def free_port():
    """A TCP port of 127.0.0.1 that nothing listens on now."""
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


def listening(port):
    """True once something listens on `port` of this machine."""
    return any(f':{port:04X} ' in row and row.split()[3] == '0A'
               for row in Path('/proc/net/tcp').read_text().splitlines()[1:])


class Line:
    """A socat pty pair: `device` for the program, `host` for the test."""

    def __init__(self, folder):
        # A name of its own: lock files are named after it.
        self.device = str(Path(folder) / f'ttyS-{Path(folder).name[-8:]}')
        self.host = str(Path(folder) / 'ttyS-host')
        self.process = None
        self.fd = None

    def start(self):
        self.process = subprocess.Popen(
            ['socat', f'pty,raw,echo=0,link={self.device}', f'pty,raw,echo=0,link={self.host}'],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        wait_for(lambda: os.path.exists(self.device) and os.path.exists(self.host), what='socat links')
        self.fd = os.open(self.host, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)

    def stop(self):
        """Hangs the line up, as unplugging a USB adapter does."""
        if self.fd is not None:
            os.close(self.fd)
            self.fd = None
        if self.process is not None:
            self.process.terminate()
            self.process.wait(5)
            self.process = None
        wait_for(lambda: not os.path.lexists(self.device), what='socat to remove its links')

    def write(self, data):
        view = memoryview(data)
        while view:
            try:
                view = view[os.write(self.fd, view):]
            except BlockingIOError:
                time.sleep(0.001)

    def read(self, count, timeout=5.0):
        data = b''
        deadline = time.monotonic() + timeout * SCALE
        while len(data) < count:
            try:
                data += os.read(self.fd, count - len(data))
            except BlockingIOError:
                if time.monotonic() > deadline:
                    raise TimeoutError(f'host got {data!r}, expected {count} bytes')
                time.sleep(0.005)
        return data

    def drain(self, quiet=0.2):
        data = b''
        time.sleep(quiet)
        while True:
            try:
                data += os.read(self.fd, 65536)
            except BlockingIOError:
                return data


def start_lines(folder, names):
    """A started Line in a folder of its own under `folder` for each name.
    Each device's name ends in random letters: lock files are named after
    it, and tests beside each other must not take each other's."""
    lines = []
    for name in names:
        lines.append(Line(tempfile.mkdtemp(prefix=f'{name}-', dir=folder)))
        lines[-1].start()
    return lines


class ConsoleSession:
    def __init__(self, *args, cols=80, rows=25, start=True, env=None, home=False, shell=False,
                 wrapper=()):
        self.wrapper = list(wrapper)  # words before the program, such as strace's
        self.folder = tempfile.mkdtemp(prefix='bv-')  # short: paths show on the status line
        if home:  # file names are then relative to the session's folder
            args = (*args, '--home', self.folder)
        self.line = Line(self.folder)
        self.line.start()
        self.socket = 'brisvane-' + os.path.basename(self.folder)
        self.rc_file = Path(self.folder) / 'rc'
        conf = Path(self.folder) / 'tmux.conf'
        # xterm's description names every keypad key, as a real xterm reports them.
        conf.write_text('set -g default-terminal xterm-256color\nset -g status off\n')
        self.tmux_base = ['tmux', '-L', self.socket]
        if start:
            try:
                self.start(*args, cols=cols, rows=rows, conf=conf, env=env, shell=shell)
            except BaseException:
                self.close()
                raise

    def start(self, *args, cols, rows, conf, env, shell=False, first=None):
        """shell: typed into an interactive bash with job control, as a user would.
        first: the first argument instead of the line's device (a profile's name)."""
        words = [*self.wrapper, PROGRAM, first or self.line.device, *args]
        command = f"{' '.join(_quote(w) for w in words)}; echo $? > {self.rc_file}"
        environment = dict(os.environ, LANG='C.UTF-8')
        environment.update(env or {})
        rc = Path(self.folder) / 'bashrc'
        rc.write_text("PS1='$ '\n")
        first = f'bash --rcfile {rc} --noprofile -i' if shell else f'{command}; sleep 600'
        subprocess.run(self.tmux_base + ['-u', '-f', str(conf), 'new-session', '-d', '-s', 't',
                                         '-x', str(cols), '-y', str(rows), first],
                       check=True, env=environment)
        if shell:
            wait_for(lambda: self.screen()[0].startswith('$'), what='the shell prompt')
            self.type(command)
            self.keys('Enter')
        def started():
            if self.rc_file.exists():
                raise RuntimeError(f'the program ended at once: {self.screen()[:2]}')
            shown = self.screen()
            return shown[min(24, len(shown) - 1)].strip() or 'enlarge' in shown[0]  # the status line
        wait_for(started, what='the program to start')

    def tmux(self, *args):
        return subprocess.run(self.tmux_base + list(args), check=True, capture_output=True,
                              text=True).stdout

    def screen(self):
        rows = self.tmux('capture-pane', '-p', '-t', 't').split('\n')
        return [row.ljust(80) for row in rows[:-1]]

    def row(self, number):
        return self.screen()[number]

    def wait_row(self, number, text, timeout=5.0):
        return wait_for(lambda: self.row(number).rstrip() == text.rstrip(), timeout,
                        what=f'row {number} to read {text!r}, it reads {self.row(number).rstrip()!r}')

    def wait_status(self, part, timeout=5.0):
        return wait_for(lambda: part in self.screen()[24], timeout,
                        what=f'{part!r} on the status line: {self.screen()[24]!r}')

    def cursor(self):
        y, x = self.tmux('display-message', '-p', '-t', 't', '#{cursor_y} #{cursor_x}').split()
        return int(y), int(x)

    def keys(self, *names):
        self.tmux('send-keys', '-t', 't', *names)

    def type(self, text):
        self.tmux('send-keys', '-t', 't', '-l', text)

    def host_write(self, data):
        self.line.write(data)

    def host_read(self, count, timeout=5.0):
        return self.line.read(count, timeout)

    def sync(self):
        """Returns once every byte the host sent before has been interpreted."""
        self.line.write(b'\x1bZ')
        assert self.line.read(3) == b'\x1b/K'

    def program_pid(self):
        try:
            shell = int(self.tmux('display-message', '-p', '-t', 't', '#{pane_pid}'))
        except (subprocess.CalledProcessError, ValueError):
            return None
        # The program is the pane's child, or its grandchild under a shell.
        for parent in (shell, *self._children(shell)):
            for child in self._children(parent):
                try:
                    if os.path.basename(os.readlink(f'/proc/{child}/exe')) == os.path.basename(PROGRAM):
                        return child
                except OSError:
                    pass  # gone meanwhile
        return None

    @staticmethod
    def _children(pid):
        found = subprocess.run(['pgrep', '-P', str(pid)], capture_output=True, text=True).stdout.split()
        return [int(p) for p in found]

    def exit_code(self, timeout=5.0):
        wait_for(lambda: self.rc_file.exists() and self.rc_file.read_text().strip(), timeout,
                 what='the program to exit')
        return int(self.rc_file.read_text())

    def close(self):
        # Ended by a signal it handles while its terminal is still there: a
        # hang-up from killing tmux can leave the sanitizer's exit-time leak
        # check stuck.
        pid = self.program_pid() if self.rc_file.parent.exists() and not self.rc_file.exists() else None
        if pid is not None:
            try:
                os.kill(pid, signal.SIGTERM)
                wait_for(lambda: self.rc_file.exists(), 10, 'the program to end')
            except (ProcessLookupError, TimeoutError):
                subprocess.run(['kill', '-KILL', str(pid)], capture_output=True)
        subprocess.run(self.tmux_base + ['kill-server'], capture_output=True)
        # A program still in that leak check when the hang-up came (with its
        # SIGCONT) spins there for ever: none outlives its session.
        for entry in Path('/proc').iterdir():
            try:
                words = (entry / 'cmdline').read_bytes().split(b'\0')
                at = os.readlink(entry / 'cwd')
            except OSError:
                continue
            ours = self.folder.encode() in b' '.join(words) or at.startswith(self.folder)
            if entry.name.isdigit() and ours and b'socat' not in words[0]:
                subprocess.run(['kill', '-KILL', entry.name], capture_output=True)
        if self.line.process is not None:
            self.line.stop()
        shutil.rmtree(self.folder, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def line_speed(path):
    """The line's speed in baud as the driver has it (TCGETS2), any speed."""
    fd = os.open(path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    try:
        TCGETS2 = 0x802C542A  # _IOR('T', 0x2A, struct termios2) on x86_64
        raw = fcntl.ioctl(fd, TCGETS2, bytes(44))
        return struct.unpack_from('<I', raw, 40)[0]  # c_ospeed
    finally:
        os.close(fd)


@contextlib.contextmanager
def small_filesystem(test, kilobytes=64):
    """A folder on a tmpfs of that size, to be filled up; the test is skipped,
    saying why, where this process may not mount one."""
    folder = tempfile.mkdtemp(prefix='bv-full-')
    mounted = subprocess.run(['mount', '-t', 'tmpfs', '-o', f'size={kilobytes}k', 'tmpfs', folder],
                             capture_output=True, text=True)
    if mounted.returncode != 0:
        os.rmdir(folder)
        test.skipTest('a full disk needs a small tmpfs, and mounting one here failed: '
                      + (mounted.stderr.strip() or 'not root'))
    try:
        yield Path(folder)
    finally:
        subprocess.run(['umount', '-l', folder], capture_output=True)
        os.rmdir(folder)


def fill(folder):
    """Fills the filesystem of FOLDER to the last byte."""
    fd = os.open(Path(folder) / 'filler', os.O_WRONLY | os.O_CREAT, 0o600)
    try:
        while os.write(fd, b'\0' * 1024) > 0:
            pass
    except OSError:
        pass
    finally:
        os.close(fd)


def _quote(word):
    return "'" + word.replace("'", "'\\''") + "'"


def run_program(*args, **kwargs):
    """Runs the program without a terminal: for start-up refusals."""
    return subprocess.run([PROGRAM, *args], capture_output=True, text=True, timeout=20 * SCALE,
                          stdin=subprocess.DEVNULL, **kwargs)
