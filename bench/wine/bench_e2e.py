"""Measurements of the real program under Wine, each beside a reference taken
in the same run, one line per figure: the first build's figure, then each
other build's beside it.

    bench_e2e.py [--size BYTES] [--presses N] [--starts N] [--explain] BUILD...
    bench_e2e.py --soak [MINUTES] BUILD

A BUILD is NAME=BINDIR:LOADER: the folder holding brisvane.exe, inspector.exe
and read_floor.exe, and the Wine loader they need. Each build is measured
against its own read_floor.exe, so the ratios of the builds compare alike.
--explain adds read_floor.exe runs of the first build with one piece of the
program's work each (a window, drawing a row per byte, a file write per byte);
--soak runs the first build only.

The reference for throughput is read_floor.exe: the program's serial reading
alone (same port set-up, one-byte overlapped reads, same wait), answering
ESC Z as the program does. Figures are timed on the host side of the line:
from the first byte written to the identify reply's arrival (or, for a raw
capture, to the capture file holding every byte).

Needs the harness of the end-to-end tests (tests/e2e) on the module path, its
BRISVANE_WINEPREFIX, and python3-xlib, which injects keys through the XTest
extension from this process and watches windows appear.
"""
import argparse
import hashlib
import math
import os
import random
import select
import statistics
import subprocess
import sys
import time
from pathlib import Path

from harness import SCALE, Session, TITLE, _need_commands, _stop, win_path

REPLY = b'\x9b\xaf\xcb'
FLOOR_TITLE = 'read floor'
RECEIVE_TARGET = 0.90
KEY_MEDIAN_TARGET_MS = 15
STARTUP_TARGET_S = 1.0
RSS_MARGIN_KB = 4096  # heap and cache settling; a leak grows past this


# ---- flood data: deterministic, ending outside any escape sequence ----------

def printable_flood(size):
    """Rows of 80 printable bytes and a carriage return: every byte is drawn,
    nothing scrolls."""
    row = bytes(0x20 + n % 95 for n in range(80))
    out = bytearray()
    shift = 0
    while len(out) < size:
        out += row[shift:] + row[:shift] + b'\r'
        shift = (shift + 1) % 80
    return bytes(out)


def editor_flood(size, seed=2):
    """A screen editor's output: cursor addressing, erase to end of line,
    short text runs and CR LF, never scrolling."""
    rng = random.Random(seed)
    out = bytearray()
    row = 0
    while len(out) < size:
        pick = rng.random()
        if pick < 0.3:
            row = rng.randrange(24)
            out += b'\x1bY' + bytes([32 + row, 32 + rng.randrange(80)])
        elif pick < 0.7:
            out += bytes(rng.randrange(0x20, 0x7F) for _ in range(rng.randint(1, 20)))
        elif pick < 0.85:
            out += b'\x1bK'
        elif row < 23:
            out += b'\r\n'
            row += 1
        else:
            out += b'\x1bY  '
            row = 0
    return bytes(out)


def scrolling_flood(size):
    """Full 79-column lines, each ending in CR LF on the last row, so the
    screen scrolls once per line. Starts by addressing the last row."""
    out = bytearray(b'\x1bY' + bytes([32 + 23, 32]))
    n = 0
    while len(out) < size:
        out += bytes(0x21 + (n + i) % 94 for i in range(79)) + b'\r\n'
        n += 1
    return bytes(out)


def nearest_rank(values, fraction):
    ordered = sorted(values)
    return ordered[max(0, math.ceil(len(ordered) * fraction) - 1)]


# ---- X: watching windows appear, injecting keys -----------------------------

def import_xlib():
    """python3-xlib, installed if missing; Debian installs it for the system
    interpreter only."""
    try:
        import Xlib  # noqa: F401
    except ImportError:
        _need_commands('/usr/lib/python3/dist-packages/Xlib/__init__.py:python3-xlib')
        sys.path.append('/usr/lib/python3/dist-packages')
    global X, XK, xtest
    from Xlib import X, XK, display
    from Xlib.ext import xtest
    return display


class XClient:
    """One connection to the session's X server, kept for the whole run so a
    key press costs a request, not a process start."""

    def __init__(self, name):
        self.d = import_xlib().Display(name)
        if not self.d.has_extension('XTEST'):
            raise RuntimeError('the X server lacks the XTEST extension')
        self.root = self.d.screen().root
        self.root.change_attributes(event_mask=X.SubstructureNotifyMask)
        self.d.sync()

    def keycode(self, name):
        code = self.d.keysym_to_keycode(XK.string_to_keysym(name))
        if not code:
            raise RuntimeError(f'no key code for {name}')
        return code

    def press(self, code):
        xtest.fake_input(self.d, X.KeyPress, code)
        xtest.fake_input(self.d, X.KeyRelease, code)
        self.d.flush()

    def _titled(self, window, title):
        try:
            if window.get_attributes().map_state != X.IsViewable:
                return False
            name = window.get_wm_name()
        except Exception:  # the window went away meanwhile
            return False
        if isinstance(name, bytes):
            name = name.decode('latin-1')
        return name == title

    def wait_window(self, title, proc=None, timeout=30):
        """Monotonic time at which a viewable top-level window titled TITLE was
        seen: map events are watched, the tree scanned every 50 ms besides."""
        deadline = time.monotonic() + timeout * SCALE
        next_scan = 0.0
        while True:
            now = time.monotonic()
            if now >= next_scan:
                for child in self.root.query_tree().children:
                    if self._titled(child, title):
                        return time.monotonic()
                next_scan = now + 0.05
            while self.d.pending_events():
                event = self.d.next_event()
                if event.type == X.MapNotify and self._titled(event.window, title):
                    return time.monotonic()
            if proc is not None and proc.poll() is not None:
                raise RuntimeError(f'{title!r}: process exited with {proc.returncode} first')
            if now > deadline:
                raise TimeoutError(f'no window {title!r} after {timeout * SCALE:.0f}s')
            select.select([self.d.fileno()], [], [], 0.005)

    def drain(self):
        while self.d.pending_events():
            self.d.next_event()


# ---- the two programs -------------------------------------------------------

class Build:
    """One build: the program, its inspector and reference reader, and the
    Wine loader they need (argparse type for NAME=BINDIR:LOADER)."""

    def __init__(self, spec):
        name, _, rest = spec.partition('=')
        bindir, _, self.wine = rest.partition(':')
        if not (name and bindir and self.wine):
            raise argparse.ArgumentTypeError(f'a build is NAME=BINDIR:LOADER, not {spec!r}')
        self.name = name
        self.exe, self.inspector, self.floor = (
            Path(bindir) / f for f in ('brisvane.exe', 'inspector.exe', 'read_floor.exe'))
        for path in (self.exe, self.inspector, self.floor):
            if not path.is_file():
                raise argparse.ArgumentTypeError(f'{path} missing: build it')

    def use(self, s):
        """Points session S at this build."""
        s.exe, s.inspector_exe, s.wine, s.floor_exe = self.exe, self.inspector, self.wine, self.floor


def launch_floor(s, *args, through_cmd=False):
    """Starts read_floor.exe on the session's port, directly or from a batch
    file through cmd as the program is started."""
    line = [str(a) for a in args] + [f'COM{s.com}:9600,n,8,1']
    if through_cmd:
        bat = s.tmp / 'floor.bat'
        text = f'@"{win_path(s.floor_exe)}" {" ".join(line)}\r\n@exit %ERRORLEVEL%\r\n'
        bat.write_bytes(text.encode('latin-1'))
        command = [s.wine, 'cmd', '/c', win_path(bat)]
    else:
        command = [s.wine, str(s.floor_exe), *line]
    return subprocess.Popen(command, env=s.env(), cwd=s.home, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            start_new_session=True)


def end_floor(s, proc):
    s.host_write(b'\x1bq')
    try:
        code = proc.wait(15 * SCALE)
    except subprocess.TimeoutExpired:
        _stop(proc)
        raise RuntimeError('read_floor.exe did not end on ESC q') from None
    if code != 1:
        raise RuntimeError(f'read_floor.exe ended with {code}')


def wait_ready(s, proc):
    """Returns once PROC answers ESC Z on the line. Bytes wait on the line
    until the port is opened, so one request usually does; a repeated one
    would be counted by a reader started with --count."""
    deadline = time.monotonic() + 60 * SCALE
    while True:
        s.host_write(b'\x1bZ')
        try:
            got = s.host_read_exact(3, timeout=10)
        except TimeoutError:
            if proc.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError(f'no answer to ESC Z (exit code {proc.poll()})') from None
            continue
        if got != REPLY:
            raise AssertionError(f'ESC Z answered {got.hex(" ")}')
        s.host_read_available(0.2)  # a second answer to an earlier try
        return


def rss_kb(pid):
    for line in (Path('/proc') / str(pid) / 'status').read_text().splitlines():
        if line.startswith('VmRSS:'):
            return int(line.split()[1])
    raise RuntimeError(f'no VmRSS for {pid}')


# ---- timed runs -------------------------------------------------------------

def timed_flood(s, data):
    """Bytes per second from the first byte written to the reply to the ESC Z
    that follows DATA."""
    started = time.monotonic()
    s.host_write(data + b'\x1bZ')
    got = s.host_read_exact(3, timeout=600)
    elapsed = time.monotonic() - started
    if got != REPLY:
        raise AssertionError(f'ESC Z after the flood answered {got.hex(" ")}')
    return len(data) / elapsed


def timed_count(s, data):
    """As timed_flood for a reader started with --count len(DATA)."""
    started = time.monotonic()
    s.host_write(data)
    got = s.host_read_exact(3, timeout=600)
    if got != REPLY:
        raise AssertionError(f'the count answer was {got.hex(" ")}')
    return len(data) / (time.monotonic() - started)


def timed_capture(s, data, target):
    """Bytes per second into a raw capture file; the file is checked byte for byte."""
    s.key('alt+r', 'r')
    s.choose_file(target, 'Save As')
    s.focus()
    started = time.monotonic()
    s.host_write(data)
    deadline = started + 600 * SCALE
    while not target.exists() or target.stat().st_size < len(data):
        if time.monotonic() > deadline:
            raise TimeoutError('the capture file did not fill')
        time.sleep(0.01)
    rate = len(data) / (time.monotonic() - started)
    s.key('alt+r', 'e')
    s.focus()
    return rate, target.read_bytes() == data


def timed_send(s, data, source):
    """Bytes per second of a raw send of DATA as the host receives it; and
    whether every byte arrived unchanged."""
    source.write_bytes(data)
    s.key('alt+s', 'r')
    s.choose_file(source, 'Open')
    started = time.monotonic()
    sent = s.host_read_exact(len(data), timeout=600)
    rate = len(data) / (time.monotonic() - started)
    s.focus()
    return rate, sent == data


def measure_startups(s, xc, count):
    """Median launch-to-window times: the program (through cmd, as it must be
    started), read_floor.exe directly and through cmd, and a Wine process
    that does nothing (launch to exit)."""
    times = {'program': [], 'floor': [], 'floor via cmd': [], 'wine cmd /c exit': []}
    for _ in range(count):
        started = time.monotonic()
        subprocess.run([s.wine, 'cmd', '/c', 'exit'], env=s.env(), stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        times['wine cmd /c exit'].append(time.monotonic() - started)

        for key, via_cmd in (('floor', False), ('floor via cmd', True)):
            xc.drain()
            started = time.monotonic()
            proc = launch_floor(s, '--window', through_cmd=via_cmd)
            times[key].append(xc.wait_window(FLOOR_TITLE, proc) - started)
            wait_ready(s, proc)
            end_floor(s, proc)

        xc.drain()
        started = time.monotonic()
        start_program(s, wait=lambda: times['program'].append(
            xc.wait_window(TITLE, s.proc) - started))
        exit_program(s)
    return {k: statistics.median(v) for k, v in times.items()}


def start_program(s, wait=None):
    s.start(f'{s.port_arg()} "{s.win(s.home)}" "0"')
    if wait is not None:
        wait()
    s.window_id = s.wait_window()
    s.sync()
    s.focus()


def exit_program(s):
    if s.exit_from_menu() != 1:
        raise RuntimeError(f'Exit ended the program with {s.exit_code}')


def floor_rate(s, data, *options):
    """read_floor.exe's rate for DATA; with --count in OPTIONS it answers
    after len(DATA) bytes, else on the ESC Z that follows them."""
    proc = launch_floor(s, *options)
    wait_ready(s, proc)
    rate = timed_count(s, data) if '--count' in options else timed_flood(s, data)
    end_floor(s, proc)
    return rate


def key_to_wire(s, xc, presses):
    """Delays in ms from XTest key injection to the byte at the host."""
    s.focus()
    code = xc.keycode('x')
    delays = []
    for _ in range(presses):
        started = time.monotonic()
        xc.press(code)
        got = s.host_read_exact(1, timeout=5)
        delays.append((time.monotonic() - started) * 1000)
        if got != b'\xf8':
            raise AssertionError(f'key x sent {got.hex()}')
        time.sleep(0.02)
    return delays


def key_to_wire_xdotool(s, presses):
    """The same, one xdotool process per key, timed from its launch."""
    s.focus()
    delays = []
    for _ in range(presses):
        started = time.monotonic()
        proc = subprocess.Popen(['xdotool', 'key', 'x'], env=s.env())
        got = s.host_read_exact(1, timeout=5)
        delays.append((time.monotonic() - started) * 1000)
        proc.wait()
        if got != b'\xf8':
            raise AssertionError(f'key x sent {got.hex()}')
    return delays


def figure(build, value, unit, reference, target=None, met=None):
    """One build's part of a figure's line."""
    tail = f'; target {target}: {"met" if met else "MISSED"}' if target else ''
    return f'{build.name} {value} {unit} ({reference}{tail})'


def throughput(build, rate, floor, note=''):
    ratio = rate / floor
    return figure(build, f'{rate / 1000:.2f}', 'kB/s',
                  f'floor {floor / 1000:.2f} kB/s, {ratio:.1%}{note}',
                  f'>= {RECEIVE_TARGET:.0%}', ratio >= RECEIVE_TARGET)


def report(name, parts):
    print(f'{name}: ' + ' | '.join(parts), flush=True)


def bench(args):
    """Each program figure is taken right before its reference, and the
    builds take turns, so that load from elsewhere on the machine falls on
    all alike."""
    builds, first = args.builds, args.builds[0]
    size = args.size
    floods = [('printable', printable_flood(size)), ('editor mix', editor_flood(size)),
              ('scrolling', scrolling_flood(size))]
    captured = random.Random(1).randbytes(size)
    ok = True
    with Session(exe=first.exe) as s:
        xc = XClient(s.display)
        for b in builds:  # warms the caches before timing starts
            subprocess.run([b.wine, 'cmd', '/c', 'exit'], env=s.env(), stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)

        for name, data in floods:
            parts = []
            for b in builds:
                b.use(s)
                start_program(s)
                rate = timed_flood(s, data)
                exit_program(s)
                parts.append(throughput(b, rate, floor_rate(s, data)))
            report(f'receive to screen, {name}', parts)
            if args.explain and name == 'printable':
                first.use(s)
                for label, options in (('with a window', ['--window']),
                                       ('drawing each byte\'s row', ['--draw'])):
                    report(f'explain, floor {label}', [figure(
                        first, f'{floor_rate(s, data, *options) / 1000:.2f}', 'kB/s',
                        'printable flood')])

        capture, send, keys, key_tails = [], [], [], []
        for b in builds:
            b.use(s)
            start_program(s)
            rate, same = timed_capture(s, captured, s.home / f'capture-{b.name}.bin')
            send_rate, send_same = timed_send(s, captured, s.home / 'send.bin')
            ok = ok and same and send_same
            delays = key_to_wire(s, xc, args.presses)
            xdotool_delays = key_to_wire_xdotool(s, args.xdotool_presses)
            exit_program(s)
            capture.append(throughput(b, rate, floor_rate(s, captured, '--count', len(captured)),
                                      '; file identical' if same else '; file DIFFERENT'))
            send.append(figure(b, f'{send_rate / 1000:.2f}', 'kB/s',
                               f'raw capture {rate / 1000:.2f} kB/s; '
                               + ('host got the file unchanged' if send_same
                                  else 'host got DIFFERENT bytes')))
            median = statistics.median(delays)
            keys.append(figure(b, f'{median:.1f}', 'ms',
                               f'{len(delays)} XTest presses; one xdotool process per key: '
                               f'{statistics.median(xdotool_delays):.1f} ms',
                               f'< {KEY_MEDIAN_TARGET_MS} ms', median < KEY_MEDIAN_TARGET_MS))
            key_tails.append(figure(b, f'{nearest_rank(delays, 0.99):.1f}', 'ms',
                                    f'max {max(delays):.1f} ms'))
        report('raw capture', capture)
        report('raw send', send)
        if args.explain:
            first.use(s)
            floor_file = s.home / 'floor-capture.bin'
            rate = floor_rate(s, captured, '--count', len(captured), '--capture', win_path(floor_file))
            report('explain, floor writing each byte to a file',
                   [figure(first, f'{rate / 1000:.2f}', 'kB/s', 'random bytes')])
            ok = ok and floor_file.read_bytes() == captured
        report('key to wire, median', keys)
        report('key to wire, 99th percentile', key_tails)

        startup, cmd_share, wine_process = [], [], []
        for b in builds:
            b.use(s)
            starts = measure_startups(s, xc, args.starts)
            startup.append(figure(
                b, f'{starts["program"]:.2f}', 's',
                f'read floor {starts["floor"]:.2f} s direct, {starts["floor via cmd"]:.2f} s '
                f'through cmd; median of {args.starts}', f'< {STARTUP_TARGET_S:.0f} s',
                starts['program'] < STARTUP_TARGET_S))
            share = starts['floor via cmd'] - starts['floor']
            cmd_share.append(figure(b, f'{share:.2f}', 's',
                                    f'{share / starts["program"]:.0%} of the program\'s start-up'))
            wine_process.append(figure(b, f'{starts["wine cmd /c exit"]:.2f}', 's',
                                       'wine cmd /c exit, launch to exit'))
        report('start-up', startup)
        report('start-up, cmd share', cmd_share)
        report('start-up, Wine process', wine_process)
    return 0 if ok else 1


# ---- soak -------------------------------------------------------------------

def keys_arrived(typed, received):
    """(ok, lost, replies): the typed key bytes arrived in order among the
    identify replies; a key pressed while a reply held the queue is dropped
    by design, so at most one per reply may be missing."""
    keys = bytes(b for b in received if b not in REPLY)
    replies = (len(received) - len(keys)) // 3
    it = iter(typed)
    in_order = all(any(k == t for t in it) for k in keys)
    lost = len(typed) - len(keys)
    return in_order and 0 <= lost <= replies, lost, replies


class Soak:
    """Random bytes at full speed, keys typed meanwhile, every byte coming
    back checked; the program's resident memory sampled."""

    KEYS = 'abcdefghijklmnopqrstuvwxyz0123456789'

    def __init__(self, s, xc, seed=7):
        self.s, self.xc = s, xc
        self.rng = random.Random(seed)
        self.codes = {ch: xc.keycode(ch) for ch in self.KEYS}
        self.typed = bytearray()
        self.received = bytearray()
        self.pid = s.program_pid()
        self.rss = []
        self.next_sample = 0.0
        self.sent = 0

    def sample(self, force=False):
        now = time.monotonic()
        if force or now >= self.next_sample:
            self.rss.append(rss_kb(self.pid))
            self.next_sample = now + 30

    def read_back(self, wait=0.0):
        """Takes what the program sent, if anything within WAIT seconds;
        every byte it originates carries bit 7."""
        if not select.select([self.s._host_fd], [], [], wait)[0]:
            return False
        try:
            chunk = os.read(self.s._host_fd, 4096)
        except BlockingIOError:
            return True
        bad = bytes(b for b in chunk if not b & 0x80)
        if bad:
            raise AssertionError(f'the program sent {bad.hex(" ")} without bit 7')
        self.received += chunk
        return True

    def flood(self, seconds, digest=None):
        """Writes random bytes for SECONDS, typing a key every second or so;
        returns how many bytes were written."""
        fd = self.s._host_fd
        end = time.monotonic() + seconds
        next_key = time.monotonic() + 1
        chunk = b''
        written = 0
        while time.monotonic() < end:
            self.read_back()
            if select.select([], [fd], [], 0.05)[1]:
                chunk = chunk or self.rng.randbytes(4096)
                try:
                    n = os.write(fd, chunk)
                except BlockingIOError:
                    n = 0
                if digest is not None:
                    digest.update(chunk[:n])
                written += n
                chunk = chunk[n:]
            if time.monotonic() >= next_key:
                ch = self.rng.choice(self.KEYS)
                self.xc.press(self.codes[ch])
                self.typed.append(ord(ch) | 0x80)
                next_key = time.monotonic() + self.rng.uniform(0.5, 1.5)
            self.sample()
        self.sent += written
        return written

    def answers_at_end(self):
        """After random bytes, the program still answers ESC Z. They may end
        inside ESC Y or after ESC: two spaces finish either, ESC G leaves
        graphics mode. A stray ESC Z still waiting on the line may answer
        first, so a second request must be answered too, and alone."""
        self.s.host_write(b'  \x1bG\x1bZ')
        deadline = time.monotonic() + 300 * SCALE
        while not self.received.endswith(REPLY):
            if time.monotonic() > deadline:
                return False
            self.read_back(0.2)
        while self.read_back(1.0):
            pass
        before = len(self.received)
        self.s.host_write(b'\x1bZ')
        deadline = time.monotonic() + 30 * SCALE
        while len(self.received) < before + 3 and time.monotonic() < deadline:
            self.read_back(0.2)
        while self.read_back(0.5):
            pass
        return self.received[before:] == REPLY



def soak(minutes, build):
    """Half the time the flood goes to a raw capture, which does not
    interpret; the other half to the interpreter."""
    failures = []
    with Session(exe=build.exe) as s:
        build.use(s)
        xc = XClient(s.display)
        s.start_terminal()
        # Every glyph in both modes once, so font caches fill before the
        # first memory sample.
        glyphs = bytes(range(0x20, 0x7F))
        s.host_write(glyphs + b'\x1bF' + glyphs + b'\x1bG' + b'\r\n' * 30)
        s.sync()
        target = s.home / 'soak-capture.bin'
        s.key('alt+r', 'r')
        s.choose_file(target, 'Save As')
        s.focus()
        soaker = Soak(s, xc)
        soaker.sample(force=True)
        started = time.monotonic()

        digest = hashlib.sha256()
        captured = soaker.flood(minutes * 30, digest)
        deadline = time.monotonic() + 600 * SCALE
        while target.stat().st_size < captured and time.monotonic() < deadline:
            soaker.read_back(0.1)
        s.key('alt+r', 'e')
        s.focus()
        file_same = hashlib.sha256(target.read_bytes()).digest() == digest.digest()
        if not file_same:
            failures.append(f'capture file differs ({target.stat().st_size} of {captured} bytes)')

        soaker.flood(minutes * 30)
        if not soaker.answers_at_end():
            failures.append('no answer to ESC Z at the end')
        soaker.sample(force=True)
        duration = time.monotonic() - started
        keys_ok, lost, replies = keys_arrived(soaker.typed, soaker.received)
        if not keys_ok:
            failures.append('typed keys did not arrive in order')
        if not s.running():
            failures.append('the program is not running')
        elif s.exit_from_menu() != 1:
            failures.append(f'Exit ended the program with {s.exit_code}')

    first, last, most = soaker.rss[0], soaker.rss[-1], max(soaker.rss)
    if last > first + RSS_MARGIN_KB:
        failures.append(f'resident memory grew by {last - first} kB')
    print(f'soak, duration: {duration / 60:.1f} min (asked {minutes} min, {build.name})')
    print(f'soak, bytes sent: {soaker.sent} bytes ({soaker.sent / duration / 1000:.2f} kB/s; '
          f'{captured} captured, {"identical" if file_same else "DIFFERENT"})')
    print(f'soak, keys typed: {len(soaker.typed)} keys ({lost} dropped behind '
          f'{replies} identify replies)')
    print(f'soak, resident memory first: {first} kB')
    print(f'soak, resident memory last: {last} kB (margin {RSS_MARGIN_KB} kB)')
    print(f'soak, resident memory max: {most} kB ({len(soaker.rss)} samples)')
    for failure in failures:
        print(f'soak FAILED: {failure}')
    print(f'soak: {"passed" if not failures else "FAILED"}')
    return 1 if failures else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('--size', type=int, default=100_000, help='bytes per flood')
    parser.add_argument('--presses', type=int, default=200)
    parser.add_argument('--xdotool-presses', type=int, default=30)
    parser.add_argument('--starts', type=int, default=3, help='start-ups timed per kind')
    parser.add_argument('--explain', action='store_true',
                        help='also time read_floor.exe with the program\'s drawing or file writing')
    parser.add_argument('--soak', type=float, nargs='?', const=10.0, metavar='MINUTES')
    parser.add_argument('builds', type=Build, nargs='+', metavar='NAME=BINDIR:LOADER')
    args = parser.parse_args()
    if args.soak is not None:
        return soak(args.soak, args.builds[0])
    return bench(args)


if __name__ == '__main__':
    sys.exit(main())
