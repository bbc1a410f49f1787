"""Figures of the Unix front end, each beside a floor from the same run.

The program runs on one end of a socat pty pair, with a pty of its own as the
user's terminal (80 x 25), drained by a thread that counts what it is sent.
Every figure is the median of at least three runs with their spread
(min-max), beside its floor or peer measured in the same run, the two
taking turns.
  receive to screen   MB/s from the host's first byte until the identify
                      reply to the ESC Z after the flood, per mix; floor:
                      `head -c N` reading the same kind of pair into /dev/null.
                      The colour mix is `ls --color=always -l /usr/bin`
                      repeated, run with --ansi hide
  terminal bytes      bytes written to the user's terminal per byte received
  key to wire         median and 99th percentile over 200 keys, from the
                      keystroke at the terminal to the byte at the host
  idle CPU            processor time over 10 s with nothing arriving
  raw send/capture    MB/s of a 32 MiB file through the pair, beside `cat`
                      doing the same from the file to the device / back
  paste               MB/s of a 16 MiB bracketed paste from the user's terminal
                      to the host, into a tcp:// line and into a local pty,
                      each beside `cat FILE > the same line` (socat into
                      `head -c` receives the tcp:// line); the local pty's
                      host writes a line every 20 ms meanwhile, and the
                      longest the screen went without an update is shown;
                      and beside the slower of its two ends: that line's
                      floor or the user's terminal (cat file > a terminal)
  network             receive to screen (the scrolling mix) through ser2net on
                      localhost over RFC 2217, beside the floor of socat
                      reading the same port into /dev/null, and beside the
                      program on a local pty
  shared line         receive to screen of a 4 MiB flood (the scrolling mix)
                      with two --share clients reading everything, beside
                      the same flood with no clients, same run (median of 5)
  served line         receive of a 16 MiB flood (the scrolling mix: long
                      enough that the clients' last wake-ups do not weigh) by
                      --serve with eight attached clients (attach_reader,
                      built beside the program: each decodes every message
                      and counts the data), beside the same flood with none
                      (median of 5); a dropped client makes it invalid, said
                      loudly. The server's processor time in each, and the
                      clients' own during the flood
  served memory       the server's VmRSS with 10,000 rows of history after
                      100 connects and after 3,000 more (attached fully,
                      gone mid-snapshot, raw, half a hello, in turn)
  attach              seconds from starting `--attach` to its first full
                      frame, on a served line holding a full screen and
                      10,000 rows of history, beside starting the program on
                      the line locally and drawing the same screen (median of 5)
  YMODEM send         seconds for 8 MiB sent by the program through lrzsz's sb
                      to rb on the host, beside `sb -k FILE < device > device`
                      run directly on the same pair (the two in turn, a
                      fresh program each run)
  seq flood           `seq 1 100000` typed to a bash host on a pty, seconds
                      from Enter to the last number on the screen, in tmux
                      at 80 x 25, beside picocom doing the same (installed
                      if missing)
  browser pages       --web: host byte to browser paint (the page's next
                      animation frame after its row changed), median and 99th
                      percentile over 100 writes 60 ms apart (closer ones are
                      gathered, 25 updates a second), with 1 and with 8 pages open
                      (tabs of one headless Chromium, the measured one in
                      front); and a 16 MiB flood (the scrolling mix) with 4
                      pages open beside none, same run (median of 3), and
                      the program's own processor time in each
  batch flood         MB/s of 4 N MB of the scrolling mix through --batch to
                      a pipe that `head -c` reads, without a script and with one waiting in
                      expect() for text that never comes; floor: head -c
The program keeps its default history (10,000 rows) throughout.

Usage: bench_console.py PROGRAM [--megabytes N] [--served-only] [--runs N]
"""
import argparse
import base64
import fcntl
import os
import pty
import random
import select
import shutil
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import termios
import threading
import time


def wait_until(ready, seconds, what):
    """Polls READY until it holds; TimeoutError naming WHAT after SECONDS."""
    deadline = time.monotonic() + seconds
    while not ready():
        if time.monotonic() > deadline:
            raise TimeoutError(f'{what}: not in {seconds} s')
        time.sleep(0.01)


def pair(folder, name):
    device, host = f'{folder}/{name}-dev', f'{folder}/{name}-host'
    process = subprocess.Popen(['socat', f'pty,raw,echo=0,link={device}', f'pty,raw,echo=0,link={host}'],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wait_until(lambda: os.path.exists(device) and os.path.exists(host), 20, f'socat\'s pty pair {name}')
    return process, device, host


def mixes(size):
    rng = random.Random(7)
    printable = bytes(13 if i % 81 == 80 else 32 + (i * 7 + i // 81) % 95 for i in range(size))
    words = [b'int', b'return', b'value', b'(x)', b'{', b'}', b'//', b'case', b'0x1F;']
    editor = bytearray()
    while len(editor) < size:
        row, col = rng.randrange(24), rng.randrange(60)
        editor += b'\x1bY' + bytes([32 + row, 32 + col]) + b' '.join(rng.choice(words) for _ in range(4)) + b'\x1bK'
        if rng.random() < 0.05:
            editor += b'\x1bH\x1bJ'
    scrolling = bytearray()
    n = 0
    while len(scrolling) < size:
        scrolling += b'line %d of the log\r\n' % n
        n += 1
    listing = subprocess.run(['ls', '--color=always', '-l', '/usr/bin'], capture_output=True,
                             env=dict(os.environ, LC_ALL='C')).stdout.replace(b'\n', b'\r\n')
    colour = listing * (size // len(listing) + 1)
    return {'printable': printable, 'editor mix': bytes(editor[:size]), 'scrolling': bytes(scrolling[:size]),
            'colour': colour[:size]}


def host_fd(path):
    fd = os.open(path, os.O_RDWR | os.O_NOCTTY)
    attributes = termios.tcgetattr(fd)
    return fd


def write_all(fd, data):
    view = memoryview(data)
    while view:
        view = view[os.write(fd, view[:65536]):]


def read_exact(fd, count, seconds=None):
    """COUNT bytes from FD; with SECONDS, TimeoutError when they do not come in time."""
    data = bytearray()
    deadline = None if seconds is None else time.monotonic() + seconds
    while len(data) < count:
        if deadline is not None and not select.select([fd], [], [], max(0, deadline - time.monotonic()))[0]:
            raise TimeoutError(f'{count} bytes expected, {len(data)} came in {seconds} s: {bytes(data)!r}')
        data += os.read(fd, min(count - len(data), 65536))
    return bytes(data)


class Program:
    def __init__(self, binary, device, extra=()):
        self.master, slave = pty.openpty()
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack('HHHH', 25, 80, 0, 0))
        env = dict(os.environ, TERM='xterm-256color', LANG='C.UTF-8')
        self.process = subprocess.Popen([binary, device, '--flow', 'none', *extra], stdin=slave, stdout=slave,
                                        stderr=slave, env=env, start_new_session=True)
        os.close(slave)
        self.drained = 0
        self.stop = False
        threading.Thread(target=self.drain, daemon=True).start()

    def drain(self):
        while not self.stop:
            try:
                self.drained += len(os.read(self.master, 65536))
            except OSError:
                return

    def cpu_seconds(self):
        """Processor time of all its threads, in nanoseconds as the scheduler
        counts it: clock ticks (10 ms) are too coarse for a flood of a second."""
        folder = f'/proc/{self.process.pid}/task'
        return sum(int(open(f'{folder}/{task}/schedstat').read().split()[0]) for task in os.listdir(folder)) / 1e9

    def key(self, byte):
        os.write(self.master, bytes([byte]))

    def close(self):
        self.process.terminate()
        self.process.wait(5)
        self.stop = True


def tcp_receiver(size):
    """socat on a free port of 127.0.0.1 passing what one client sends to
    `head -c size`: wait() returns once that much arrived."""
    with socket.socket() as probe:
        probe.bind(('127.0.0.1', 0))
        port = probe.getsockname()[1]
    socat = subprocess.Popen(['socat', '-u', f'TCP-LISTEN:{port},bind=127.0.0.1,reuseaddr', '-'],
                             stdout=subprocess.PIPE)
    head = subprocess.Popen(['head', '-c', str(size)], stdin=socat.stdout, stdout=subprocess.DEVNULL)
    socat.stdout.close()
    listen = f':{port:04X} '
    while not any(listen in row and row.split()[3] == '0A' for row in open('/proc/net/tcp')):
        time.sleep(0.01)
    def wait():
        head.wait()
        socat.kill()
        socat.wait()
    return port, wait


def paste_through(binary, device, source, size, done, host_write, command=None):
    """Seconds for the file `source`, pasted at the program's terminal by cat
    between the brackets, to reach the host (`done()` returns once it has),
    and the longest gap in the program's screen output meanwhile, with
    `host_write` called every 20 ms. `command` runs instead of the program."""
    master, slave = pty.openpty()
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack('HHHH', 25, 80, 0, 0))
    env = dict(os.environ, TERM='xterm-256color', LANG='C.UTF-8')
    process = subprocess.Popen(command or [binary, device, '--flow', 'none', '--seven-bit'], stdin=slave,
                               stdout=slave, stderr=slave, env=env, start_new_session=True)
    os.close(slave)
    updates = []
    stop = threading.Event()
    def drain():
        while not stop.is_set():
            try:
                os.read(master, 65536)
            except OSError:
                return
            updates.append(time.monotonic())
    threading.Thread(target=drain, daemon=True).start()
    time.sleep(0.8)
    finished = threading.Event()
    def host():
        n = 0
        while not finished.wait(0.02):
            host_write(b'host line %d\r\n' % n)
            n += 1
    start = time.monotonic()
    os.write(master, b'\x1b[200~')
    threading.Thread(target=host, daemon=True).start()
    subprocess.run(['cat', source], stdout=master, check=True)
    os.write(master, b'\x1b[201~')
    done()
    end = time.monotonic()
    finished.set()
    shown = [t for t in updates if start <= t <= end]
    gaps = [b - a for a, b in zip([start] + shown, shown + [end])]
    stop.set()
    process.terminate()
    process.wait(5)
    os.close(master)
    return end - start, max(gaps) * 1000


def terminal_floor(source, size):
    """MB/s of `cat source` into a terminal's master while a raw reader drains
    the slave: the most any paste can reach a program through its terminal."""
    master, slave = pty.openpty()
    attributes = termios.tcgetattr(slave)
    attributes[3] &= ~(termios.ICANON | termios.ECHO | termios.ISIG | termios.IEXTEN)
    attributes[0] &= ~(termios.ICRNL | termios.IXON)
    termios.tcsetattr(slave, termios.TCSANOW, attributes)
    reader = threading.Thread(target=lambda: read_exact(slave, size), daemon=True)
    reader.start()
    start = time.monotonic()
    subprocess.run(['cat', source], stdout=master, check=True)
    reader.join()
    seconds = time.monotonic() - start
    os.close(master)
    os.close(slave)
    return size / seconds / 1e6


# The least a program can do with a paste: copy the raw terminal to the line.
RELAY = ['bash', '-c', 'stty raw -echo; exec cat > "$1"', 'relay']


def pastes(binary, folder, size):
    text = b''.join(b'pasted line %07d of the benchmark\n' % i for i in range(size // 32 + 1))[:size]
    source = f'{folder}/paste.txt'
    with open(source, 'wb') as f:
        f.write(text)
    results = {}
    # tcp:// line: the floor is cat into a connection to the same receiver.
    port, wait = tcp_receiver(size)
    start = time.monotonic()
    subprocess.run(['bash', '-c', f'cat {source} > /dev/tcp/127.0.0.1/{port}'], check=True)
    wait()
    floor = size / (time.monotonic() - start) / 1e6
    port, wait = tcp_receiver(size)
    seconds, gap = paste_through(binary, f'tcp://127.0.0.1:{port}', source, size, wait, lambda b: None)
    port, wait = tcp_receiver(size)
    relayed = paste_through(binary, None, source, size, wait, lambda b: None,
                            RELAY + [f'/dev/tcp/127.0.0.1/{port}'])[0]
    results['tcp://'] = (size / seconds / 1e6, floor, gap, size / relayed / 1e6)
    # local pty: the floor is cat into the device while the host reads.
    socat, device, host = pair(folder, 'paste')
    fd = host_fd(host)
    subprocess.run(['stty', '-F', device, 'raw', '-echo'], check=True)
    start = time.monotonic()
    cat = subprocess.Popen(['cat', source], stdout=open(device, 'wb'))
    read_exact(fd, size)
    floor = size / (time.monotonic() - start) / 1e6
    cat.wait()
    got = bytearray()
    reader = threading.Thread(target=lambda: got.extend(read_exact(fd, size)), daemon=True)
    reader.start()
    seconds, gap = paste_through(binary, device, source, size, reader.join, lambda b: os.write(fd, b))
    assert bytes(got) == text.replace(b'\n', b'\r'), 'the pasted text differs'
    reader = threading.Thread(target=lambda: read_exact(fd, size), daemon=True)
    reader.start()
    relayed = paste_through(binary, None, source, size, reader.join, lambda b: os.write(fd, b), RELAY + [device])[0]
    results['local pty'] = (size / seconds / 1e6, floor, gap, size / relayed / 1e6)
    os.close(fd)
    socat.terminate()
    socat.wait()
    return results


class Ser2net:
    """ser2net on `device`, offering it as an RFC 2217 port on localhost."""

    def __init__(self, folder, device):
        with socket.socket() as probe:
            probe.bind(('127.0.0.1', 0))
            self.port = probe.getsockname()[1]
        conf = f'{folder}/ser2net.yaml'
        with open(conf, 'w') as f:
            f.write(f'%YAML 1.1\n---\nconnection: &rfc\n  accepter: telnet(rfc2217),tcp,127.0.0.1,{self.port}\n'
                    f'  connector: serialdev,{device},9600n81,local\n')
        self.process = subprocess.Popen(['ser2net', '-n', '-u', '-c', conf, '-P', f'{folder}/ser2net.pid'],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        listen = f':{self.port:04X} '
        while not any(listen in row and row.split()[3] == '0A' for row in open('/proc/net/tcp')):
            time.sleep(0.01)

    def close(self):
        self.process.terminate()
        self.process.wait()


# Three CRs close a sequence the cut may have left open, so ESC Z is read as one.
FLOOD_END = b'\r\r\r\x1bZ'


def flood_answered(fd, data, then=None, seconds=60):
    """Writes DATA and FLOOD_END to FD from a thread. Seconds until the
    terminal's reply to that ESC Z came and THEN (a wait for readers that must
    have it all too) returned, and what THEN returned."""
    start = time.monotonic()
    writer = threading.Thread(target=write_all, args=(fd, data + FLOOD_END), daemon=True)
    writer.start()
    reply = read_exact(fd, 3, seconds)
    result = then() if then else None
    elapsed = time.monotonic() - start
    writer.join(seconds)
    if writer.is_alive():
        raise TimeoutError(f'the flood was not all written to the line in {seconds} s')
    assert reply == b'\x1b/K', reply
    return elapsed, result


def flood_program(binary, folder, data, network=False, extra=()):
    socat, device, host = pair(folder, 'program')
    fd = host_fd(host)
    server = Ser2net(folder, device) if network else None
    program = Program(binary, f'rfc2217://127.0.0.1:{server.port}' if network else device, extra)
    time.sleep(0.5)
    write_all(fd, b'\x1bZ')
    assert read_exact(fd, 3) == b'\x1b/K'
    before = program.drained
    elapsed, _ = flood_answered(fd, data)
    time.sleep(0.1)
    out = program.drained - before
    program.close()
    if server:
        server.close()
    os.close(fd)
    socat.terminate()
    socat.wait()
    return len(data) / elapsed / 1e6, out / len(data)


# A share client: reads COUNT bytes (or until the end) into one buffer, prints how many.
SHARE_CLIENT = '''
import socket, sys
client = socket.socket(socket.AF_UNIX)
client.connect(sys.argv[1])
want, got, buffer = int(sys.argv[2]), 0, bytearray(1 << 20)
while got < want:
    n = client.recv_into(buffer)
    if n == 0:
        break
    got += n
print(got, flush=True)
'''


def share_flood(binary, folder, data, clients):
    """Seconds from the host's first byte until the screen has answered the
    ESC Z after the flood and every client (a process of its own) has read
    it all; and whether every client did."""
    socat, device, host = pair(folder, 'share')
    fd = host_fd(host)
    path = f'{folder}/share.sock'
    program = Program(binary, device, ['--share', f'unix:{path}'])
    wait_until(lambda: os.path.exists(path), 20, 'the --share socket')
    sent = data + FLOOD_END
    readers = [subprocess.Popen([sys.executable, '-c', SHARE_CLIENT, path, str(len(sent) + 2)],
                                stdout=subprocess.PIPE) for _ in range(clients)]
    time.sleep(0.5)  # connected
    write_all(fd, b'\x1bZ')
    assert read_exact(fd, 3) == b'\x1b/K'
    # Each client says so once it has read everything: the time is not its exit's.
    elapsed, counts = flood_answered(fd, data, lambda: [int(reader.stdout.readline() or 0) for reader in readers])
    for reader in readers:
        reader.communicate(timeout=60)
    program.close()
    os.close(fd)
    socat.terminate()
    socat.wait()
    return elapsed, all(count == len(sent) + 2 for count in counts)  # the ESC Z before the flood too


def attach_reader(binary):
    """The C++ attach client built beside the program (bench/console/attach_reader.cpp)."""
    path = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(binary))), 'bench', 'attach_reader')
    if not os.access(path, os.X_OK):
        sys.exit(f'bench_console.py: {path} is missing: build with -DBRISVANE_BENCH=ON')
    return path


def line_of(process, seconds, what):
    """The next line `process` prints, or TimeoutError naming WHAT."""
    if not select.select([process.stdout], [], [], seconds)[0]:
        raise TimeoutError(f'{what}: nothing in {seconds} s')
    return process.stdout.readline().decode().strip()


class Served:
    """--serve on one end of a pty pair; the bench holds the host's end.
    PORT: an RFC 2217 accepter there instead of the UNIX socket, with the
    profile lines CONF."""

    def __init__(self, binary, folder, name, port=None, conf=''):
        self.socat, device, host = pair(folder, name)
        self.fd = host_fd(host)
        self.path = f'{folder}/{name}.sock'
        share = f'rfc2217:{port}' if port else f'unix:{self.path}'
        config = f'{folder}/{name}.conf'
        with open(config, 'w') as f:
            f.write('[default]\n' + conf)
        self.process = subprocess.Popen([binary, '--config', config, device, '--flow', 'none', '--serve',
                                         '--share', share], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        up = (lambda: port_listening(port)) if port else (lambda: os.path.exists(self.path))
        wait_until(lambda: up() or self.process.poll() is not None, 20, 'the --serve socket')
        if self.process.poll() is not None:
            raise RuntimeError(f'--serve on {device} ended at once (status {self.process.returncode})')

    def sync(self):
        write_all(self.fd, b'\r\r\r\x1bZ')
        assert read_exact(self.fd, 3, 30) == b'\x1b/K'

    def cpu_seconds(self):
        try:  # nanoseconds on a processor: finer than the clock ticks of stat
            return int(open(f'/proc/{self.process.pid}/schedstat').read().split()[0]) / 1e9
        except (OSError, ValueError, IndexError):
            return Program.cpu_seconds(self)

    def rss_kib(self):
        for row in open(f'/proc/{self.process.pid}/status'):
            if row.startswith('VmRSS:'):
                return int(row.split()[1])
        return 0

    def close(self):
        self.process.terminate()
        self.process.wait(10)
        os.close(self.fd)
        self.socat.terminate()
        self.socat.wait()


def served_flood(binary, folder, data, clients):
    """Seconds from the host's first byte until the served line has answered
    the ESC Z after the flood and every attached client has read it all;
    whether every client did; the server's processor seconds meanwhile; and
    the clients' own, summed."""
    client = attach_reader(binary)
    served = Served(binary, folder, 'served')
    want = len(data + FLOOD_END) + 5  # the sync's bytes too
    readers = []
    try:
        readers = [subprocess.Popen([client, 'flood', served.path, str(want), '120'], stdout=subprocess.PIPE)
                   for _ in range(clients)]
        for reader in readers:
            attached = line_of(reader, 30, 'an attach client\'s snapshot')
            assert attached == 'attached', attached
        served.sync()
        cpu = served.cpu_seconds()
        # Each client says so once it has read everything (or was dropped): the time is not its exit's.
        elapsed, counts = flood_answered(
            served.fd, data, lambda: [line_of(reader, 120, 'an attach client\'s count').split() for reader in readers])
        cpu = served.cpu_seconds() - cpu
        for reader in readers:
            reader.communicate(timeout=30)
    finally:
        for reader in readers:
            if reader.poll() is None:
                reader.kill()
                reader.wait()
        served.close()
    complete = all(len(c) == 3 and int(c[0]) == want for c in counts)
    return elapsed, complete, cpu, sum(float(c[1]) + float(c[2]) for c in counts if len(c) == 3)


def port_listening(port):
    return any(f':{port:04X} ' in row and row.split()[3] == '0A'
               for row in open('/proc/net/tcp').read().splitlines()[1:])


def free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


def telnet_reader(port, want, ready, done):
    """An RFC 2217 client that reads until it has WANT bytes after the
    server's opening offers (the flood holds no 0xFF): says it is READY once
    it has those offers (it is a client then), its count in DONE."""
    sock = socket.create_connection(('127.0.0.1', port), timeout=120)
    offers = 18
    got = 0
    try:
        while got < offers:
            block = sock.recv(offers - got)
            if not block:
                break
            got += len(block)
        ready.append(True)
        while got < want + offers:
            block = sock.recv(1 << 16)
            if not block:
                break
            got += len(block)
    finally:
        done.append(got - offers)
        sock.close()


def port_flood(binary, folder, data, clients):
    """Seconds from the host's first byte until the served line answered the
    ESC Z after the flood and every RFC 2217 client read it all; whether each did."""
    port = free_port()
    served = Served(binary, folder, 'ports', port=port)
    want = len(data + FLOOD_END) + 5
    ready, done, readers = [], [], []
    try:
        readers = [threading.Thread(target=telnet_reader, args=(port, want, ready, done), daemon=True)
                   for _ in range(clients)]
        for reader in readers:
            reader.start()
        wait_until(lambda: len(ready) == clients, 20, 'the RFC 2217 clients')
        served.sync()

        def all_read():
            for reader in readers:
                reader.join(120)
            return done
        elapsed, counts = flood_answered(served.fd, data, all_read)
    finally:
        served.close()
    return elapsed, all(c == want for c in counts)


def replay_first_byte(binary, folder, connects=20):
    """Milliseconds from an RFC 2217 client's connect to the first byte of
    rfc2217-replay (64 KiB of what came before), median of CONNECTS."""
    port = free_port()
    served = Served(binary, folder, 'replay', port=port, conf='rfc2217-replay = 64K\n')
    try:
        write_all(served.fd, b''.join(b'early boot line %04d\r\n' % n for n in range(4000)))
        served.sync()
        times = []
        for _ in range(connects):
            start = time.monotonic()
            with socket.create_connection(('127.0.0.1', port), timeout=10) as sock:
                got = b''
                while len(got) <= 18:
                    got += sock.recv(4096)
                times.append((time.monotonic() - start) * 1000)
        return times
    finally:
        served.close()


def port_figures(binary, folder, mebibytes=16, runs=3):
    flood = mixes(mebibytes * 1024 * 1024)['scrolling']
    results = [(port_flood(binary, folder, flood, 0), port_flood(binary, folder, flood, 4)) for _ in range(runs)]
    alone, four = [a[0] for a, _ in results], [f[0] for _, f in results]
    complete = all(f[1] for _, f in results)
    print(f'served line, {mebibytes} MiB scrolling mix: four RFC 2217 clients reading {spread(four, 3)} s'
          f'  none {spread(alone, 3)} s  ratio {ratio(alone, four):.2f} (goal 0.8 or more)')
    if not complete:
        print('  !!! AN RFC 2217 CLIENT WAS DROPPED OR SHORT: the figure above is not valid !!!')
    replay = [statistics.median(replay_first_byte(binary, folder)) for _ in range(runs)]
    print(f'RFC 2217 connect to the first byte of rfc2217-replay (median of 20 connects, each run):'
          f' {spread(replay, 2)} ms (goal under 50)')


def replay_rate(binary, recording, size):
    """MB/s of the whole program replaying the recording (its received bytes
    SIZE) at full speed on a terminal of its own, to its last line."""
    start = time.monotonic()
    program = Watching(binary, ['--replay', recording, '--speed', '10000'])
    try:
        first_frame(program, b'end of the replayed flood', timeout=300)
    finally:
        program.close()
    return size / (time.monotonic() - start) / 1e6


def recording_seconds(path):
    """The time of a recording's last event, in seconds, read as the format says."""
    data = open(path, 'rb').read()
    at, total = data.index(b'\n\n') + 2, 0
    while at + 2 < len(data):
        at += 2
        values = []
        for _ in range(2):
            value, shift = 0, 0
            while True:
                byte = data[at]
                at += 1
                value |= (byte & 0x7f) << shift
                shift += 7
                if not byte & 0x80:
                    break
            values.append(value)
        total += values[0]
        at += 1 + values[1]
    return total / 1e6


def recording_figures(binary, folder, data, runs):
    """Receive to screen with --record on beside off, and the replay of that
    recording at full speed beside receive to screen of the same bytes."""
    off, on, replay, sizes = [], [], [], []
    recording = f'{folder}/flood.bvrec'
    for _ in range(runs):
        off.append(flood_program(binary, folder, data)[0])
        on.append(flood_program(binary, folder, data + b'\r\nend of the replayed flood\r\n', extra=('--record', recording))[0])
        sizes.append(os.path.getsize(recording))
        replay.append(replay_rate(binary, recording, len(data)))
    print(f'receive to screen with --record: {spread(on)} MB/s  without {spread(off)} MB/s'
          f'  ratio {ratio(on, off):.2f} (goal 0.9 or more);'
          f' the recording {statistics.median(sizes) / len(data):.3f} x the bytes received (goal 1.1 at most)')
    print(f'replay of that recording at full speed: {spread(replay)} MB/s'
          f'  receive to screen {spread(off)} MB/s  ratio {ratio(replay, off):.2f} (goal 0.8 or more)')
    seeks = []
    for _ in range(runs):
        start = time.monotonic()
        subprocess.run([binary, '--replay', recording, '--at', str(recording_seconds(recording) / 2), '--batch'],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
        seeks.append((time.monotonic() - start) * 1000)
    print(f'the screen at the middle of that recording ({statistics.median(sizes) / 1e6:.0f} MB), from a start of'
          f' the program: {spread(seeks, 0)} ms (goal under 200)')


def served_memory(binary, folder, cycles=3000):
    """The server's VmRSS (KiB) with 10,000 rows of history: after a first
    100 connects, and after CYCLES more (attached, gone mid-snapshot, raw,
    half a hello, in turn)."""
    lines, frame = full_screen()
    reader = attach_reader(binary)
    served = Served(binary, folder, 'churn')
    try:
        write_all(served.fd, lines + frame)
        served.sync()
        subprocess.run([reader, 'churn', served.path, '100'], check=True, stdout=subprocess.DEVNULL, timeout=120)
        before = served.rss_kib()
        subprocess.run([reader, 'churn', served.path, str(cycles)], check=True, stdout=subprocess.DEVNULL,
                       timeout=600)
        served.sync()  # the server has seen every client go
        return before, served.rss_kib()
    finally:
        served.close()


def full_screen():
    """10,000 lines, then a full-screen program's frame whose last row says so."""
    lines = b''.join(b'history line %05d\r\n' % n for n in range(10000))
    frame = b'\x1bH\x1bJ' + b''.join(b'\x1bY%c%c row %02d of a full-screen program' % (32 + r, 32, r) for r in range(23))
    return lines, frame + b'\x1bY%c%c the last row' % (32 + 23, 32)


def first_frame(program, marker, timeout=20):
    """Seconds until the program's terminal output holds MARKER."""
    start = time.monotonic()
    seen = bytearray()
    while marker not in seen:
        if time.monotonic() - start > timeout:
            raise TimeoutError('no full frame')
        try:
            seen += os.read(program.master, 65536)
        except BlockingIOError:
            time.sleep(0.001)
        except OSError:
            time.sleep(0.001)
    return time.monotonic() - start


class Watching(Program):
    """The program on a pty of its own, its output read by the bench itself."""

    def __init__(self, binary, args):
        self.master, slave = pty.openpty()
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack('HHHH', 25, 80, 0, 0))
        os.set_blocking(self.master, False)
        env = dict(os.environ, TERM='xterm-256color', LANG='C.UTF-8')
        self.process = subprocess.Popen([binary, *args], stdin=slave, stdout=slave, stderr=slave, env=env,
                                        start_new_session=True)
        os.close(slave)
        self.stop = True


def attach_time(binary, folder):
    """Seconds to the first full frame: --attach to a served line holding
    the screen and 10,000 rows of history, and the program started locally
    on a line whose host then draws the same screen."""
    lines, frame = full_screen()
    served = Served(binary, folder, 'attach')
    write_all(served.fd, lines + frame)
    served.sync()
    client = Watching(binary, ['--attach', f'unix:{served.path}'])
    attached = first_frame(client, b'the last row')
    client.close()
    served.close()

    socat, device, host = pair(folder, 'local')
    fd = host_fd(host)
    local = Watching(binary, [device, '--flow', 'none'])
    write_all(fd, frame)  # what the host sends once the program has the line
    drawn = first_frame(local, b'the last row')
    local.close()
    os.close(fd)
    socat.terminate()
    socat.wait()
    return attached, drawn


def served_figures(binary, folder, mebibytes=16):
    flood = mixes(mebibytes * 1024 * 1024)['scrolling']
    runs = [(served_flood(binary, folder, flood, 0), served_flood(binary, folder, flood, 8)) for _ in range(5)]
    alone, attached = [a[0] for a, _ in runs], [e[0] for _, e in runs]
    complete = all(e[1] for _, e in runs)
    print(f'served line, {mebibytes} MiB scrolling mix: eight attached clients {spread(attached, 3)} s'
          f'  none {spread(alone, 3)} s  ratio {ratio(alone, attached):.2f} (goal 0.8 or more)')
    if not complete:
        print('  !!! AN ATTACHED CLIENT WAS DROPPED: the figure above is not valid !!!')
    print(f'  the server\'s processor time: eight clients {spread([e[2] for _, e in runs], 3)} s'
          f'  none {spread([a[2] for a, _ in runs], 3)} s;'
          f' the eight clients\' own, summed {spread([e[3] for _, e in runs], 3)} s')
    before, after = served_memory(binary, folder)
    print(f'served line with 10,000 rows of history, its memory (VmRSS): {before} KiB after 100 connects,'
          f' {after} KiB after 3,000 more (attached, gone mid-snapshot, raw, half a hello)')
    times = [attach_time(binary, folder) for _ in range(5)]
    attach = statistics.median(a for a, _ in times)
    local = statistics.median(d for _, d in times)
    print(f'attach to a full screen and 10,000 rows of history, to the first full frame (median of 5):'
          f' {attach * 1000:.0f} ms  the same screen drawn locally from start {local * 1000:.0f} ms')


def network_floor(folder, data):
    """socat reading the RFC 2217 port into /dev/null while the host floods."""
    socat, device, host = pair(folder, 'netfloor')
    fd = host_fd(host)
    server = Ser2net(folder, device)
    client = subprocess.Popen(['socat', '-u', f'TCP:127.0.0.1:{server.port}', '-'], stdout=subprocess.PIPE)
    reader = subprocess.Popen(['head', '-c', str(len(data))], stdin=client.stdout, stdout=subprocess.DEVNULL)
    client.stdout.close()
    time.sleep(0.5)  # connected, and the port opened by ser2net
    start = time.monotonic()
    write_all(fd, data)
    reader.wait()
    elapsed = time.monotonic() - start
    client.kill()  # it may wait for more that never comes
    client.wait()
    server.close()
    os.close(fd)
    socat.terminate()
    socat.wait()
    return len(data) / elapsed / 1e6


def flood_floor(folder, data):
    socat, device, host = pair(folder, 'floor')
    fd = host_fd(host)
    subprocess.run(['stty', '-F', device, 'raw', '-echo'], check=True)
    reader = subprocess.Popen(['head', '-c', str(len(data)), device], stdout=subprocess.DEVNULL)
    time.sleep(0.3)
    start = time.monotonic()
    write_all(fd, data)
    reader.wait()
    elapsed = time.monotonic() - start
    os.close(fd)
    socat.terminate()
    socat.wait()
    return len(data) / elapsed / 1e6


def batch_flood(binary, folder, data, script=None):
    """Seconds from the host's first byte until all of it is on the program's
    standard output, in batch mode (standard input kept open)."""
    socat, device, host = pair(folder, 'batch')
    fd = host_fd(host)
    extra = []
    if script:
        path = f'{folder}/wait.lua'
        with open(path, 'w') as f:
            f.write(script)
        extra = ['--script', path]
    program = subprocess.Popen([binary, device, '--batch', '--flow', 'none', *extra], stdin=subprocess.PIPE,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    # `head -c` reads the pipe, as it reads the device for the floor: a
    # reader thread in this process fought the writer for the interpreter's
    # lock, which the floor's single writer never does.
    reader = subprocess.Popen(['head', '-c', str(len(data))], stdin=program.stdout, stdout=subprocess.DEVNULL)
    time.sleep(0.5)
    start = time.monotonic()
    write_all(fd, data)
    reader.wait()
    elapsed = time.monotonic() - start
    program.kill()
    program.wait()
    os.close(fd)
    socat.terminate()
    socat.wait()
    return len(data) / elapsed / 1e6


def key_delays(program, fd, count=200):
    """Milliseconds from each of COUNT keys at the program's terminal to its
    byte at the host's descriptor FD, typed 5 ms apart."""
    delays = []
    for i in range(count):
        byte = ord('a') + i % 26
        start = time.perf_counter()
        program.key(byte)
        got = read_exact(fd, 1)
        delays.append((time.perf_counter() - start) * 1000)
        assert got == bytes([byte]), got
        time.sleep(0.005)
    return delays


def keys_and_idle(binary, folder):
    socat, device, host = pair(folder, 'keys')
    fd = host_fd(host)
    program = Program(binary, device)
    time.sleep(0.5)
    delays = key_delays(program, fd)
    time.sleep(0.5)
    before = program.cpu_seconds()
    time.sleep(10)
    idle = program.cpu_seconds() - before
    program.close()
    os.close(fd)
    socat.terminate()
    socat.wait()
    delays.sort()
    return statistics.median(delays), delays[int(len(delays) * 0.99) - 1], idle


def several_lines(binary, folder, count, name):
    """A program of COUNT lines on pty pairs: the program, its pairs' socats
    and the hosts' descriptors (line 1 is shown)."""
    pairs = [pair(folder, f'{name}{i}') for i in range(count)]
    words = [f'l{i + 1}={device}' for i, (_, device, _) in enumerate(pairs)]
    program = Program(binary, words[0], words[1:])
    fds = [host_fd(host) for _, _, host in pairs]
    time.sleep(0.5)
    return program, pairs, fds


def close_lines(program, pairs, fds):
    program.close()
    for fd in fds:
        os.close(fd)
    for socat, _, _ in pairs:
        socat.terminate()
        socat.wait()


def lines_flood(binary, folder, data, count):
    """Processor seconds per received megabyte while COUNT lines flood DATA at once."""
    program, pairs, fds = several_lines(binary, folder, count, f'flood{count}-')
    for fd in fds:
        write_all(fd, b'\x1bZ')
        assert read_exact(fd, 3) == b'\x1b/K'
    before = program.cpu_seconds()
    floods = [threading.Thread(target=flood_answered, args=(fd, data)) for fd in fds]
    for flood in floods:
        flood.start()
    for flood in floods:
        flood.join(120)
    used = program.cpu_seconds() - before
    close_lines(program, pairs, fds)
    return used / (count * len(data) / 1e6)


def keys_beside_floods(binary, folder, data):
    """Key to wire on the line shown (median ms of 200 keys) while three others
    flood; then the processor time of three idle lines over 10 s."""
    program, pairs, fds = several_lines(binary, folder, 4, 'keys4-')
    stop = threading.Event()
    def flood(fd):
        while not stop.is_set():
            write_all(fd, data[:65536])
    floods = [threading.Thread(target=flood, args=(fd,), daemon=True) for fd in fds[1:]]
    for thread in floods:
        thread.start()
    time.sleep(0.5)
    delays = key_delays(program, fds[0])
    stop.set()
    for thread in floods:
        thread.join(10)
    close_lines(program, pairs, fds)
    program, pairs, fds = several_lines(binary, folder, 3, 'idle3-')
    time.sleep(0.5)
    before = program.cpu_seconds()
    time.sleep(10)
    idle = program.cpu_seconds() - before
    close_lines(program, pairs, fds)
    return statistics.median(delays), idle


def lines_figures(binary, folder, data, runs):
    four = [lines_flood(binary, folder, data, 4) for _ in range(runs)]
    one = [lines_flood(binary, folder, data, 1) for _ in range(runs)]
    print(f'several lines, {len(data) / 1e6:g} MB scrolling mix on each: four flooding at once'
          f' {spread([f * 1000 for f in four], 2)} ms of processor time per MB'
          f'  one alone {spread([f * 1000 for f in one], 2)} ms'
          f'  ratio {statistics.median(four) / statistics.median(one):.2f} (goal 1.2 or less)')
    measured = [keys_beside_floods(binary, folder, data) for _ in range(runs)]
    print(f'  key to wire on the line shown, three others flooding: median {spread([m[0] for m in measured], 3)} ms'
          f' (goal under 1 ms)')
    print(f'  three idle lines, processor time over 10 s: {spread([m[1] for m in measured], 2)} s')


def type_keys(program, text):
    for byte in text:
        program.key(byte)
        time.sleep(0.01)


def transfers(binary, folder, size):
    data = os.urandom(size)
    source, target = f'{folder}/send.bin', f'{folder}/capture.bin'
    with open(source, 'wb') as f:
        f.write(data)
    socat, device, host = pair(folder, 'transfer')
    fd = host_fd(host)
    subprocess.run(['stty', '-F', device, 'raw', '-echo'], check=True)

    start = time.monotonic()
    cat = subprocess.Popen(['cat', source], stdout=open(device, 'wb'))
    got = read_exact(fd, size)
    send_floor = size / (time.monotonic() - start) / 1e6
    cat.wait()
    assert got == data

    reader = subprocess.Popen(['head', '-c', str(size), device], stdout=open(target, 'wb'))
    time.sleep(0.3)
    start = time.monotonic()
    write_all(fd, data)
    reader.wait()
    capture_floor = size / (time.monotonic() - start) / 1e6
    os.remove(target)

    program = Program(binary, device)
    time.sleep(0.5)
    type_keys(program, b'\x01sr' + source.encode())
    start = time.monotonic()
    program.key(13)
    got = read_exact(fd, size)
    send = size / (time.monotonic() - start) / 1e6
    assert got == data, 'raw send differs'

    type_keys(program, b'\x01rr' + target.encode() + b'\r')
    while not os.path.exists(target):
        time.sleep(0.01)
    start = time.monotonic()
    write_all(fd, data)
    while os.path.getsize(target) < size:
        time.sleep(0.001)
    capture = size / (time.monotonic() - start) / 1e6
    program.close()
    with open(target, 'rb') as f:
        assert f.read() == data, 'raw capture differs'
    os.close(fd)
    socat.terminate()
    socat.wait()
    return send, send_floor, capture, capture_floor


def ymodem_receive(host, folder):
    """rb on the host's end, timed from its start to its exit. It reads the
    line through socat's pipes: on a pty it flushes its input after each
    ACK, and on a line this fast it would lose blocks to that."""
    start = time.monotonic()
    subprocess.run(['socat', f'{host},raw,echo=0', 'EXEC:rb,pipes'], cwd=folder, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
    return time.monotonic() - start


def ymodem_send(binary, folder, size, runs=3):
    """Seconds for each of `runs` YMODEM sends of `size` random bytes: the
    program's, and `sb -k FILE < device > device` on the same pair."""
    data = os.urandom(size)
    source, received = f'{folder}/image.bin', f'{folder}/host'
    with open(source, 'wb') as f:
        f.write(data)
    os.makedirs(received, exist_ok=True)
    socat, device, host = pair(folder, 'ymodem')

    def check():
        with open(f'{received}/image.bin', 'rb') as f:
            assert f.read() == data, 'ymodem send differs'
        os.remove(f'{received}/image.bin')

    # The two take turns, each of ours with a fresh program, so a change in
    # the machine's load weighs on both alike.
    floors, ours = [], []
    for _ in range(runs):
        with open(device, 'r+b', buffering=0) as line:
            sb = subprocess.Popen(['sb', '-k', source], stdin=line, stdout=line, stderr=subprocess.DEVNULL)
            floors.append(ymodem_receive(host, received))
            sb.wait(30)
        check()
        program = Program(binary, device)
        time.sleep(0.5)
        type_keys(program, b'\x01sy' + source.encode())
        program.key(13)
        time.sleep(0.2)
        ours.append(ymodem_receive(host, received))
        check()
        time.sleep(0.2)  # the program sees the command end
        program.close()
    socat.terminate()
    socat.wait()
    return ours, floors


def tmux_screen(socket):
    return subprocess.run(['tmux', '-L', socket, 'capture-pane', '-p', '-t', 'b'],
                          capture_output=True, text=True).stdout


def seq_flood(folder, name, command):
    """Seconds from Enter to the last number of `seq 1 100000` on the screen."""
    device = f'{folder}/{name}-line'
    rc = f'{folder}/{name}-bashrc'
    with open(rc, 'w') as f:
        f.write("PS1='host$ '\nstty sane istrip -ixon\n")
    host = subprocess.Popen(['socat', f'pty,raw,echo=0,link={device}',
                             f'EXEC:bash --rcfile {rc} --noprofile -i,pty,setsid,ctty,stderr'],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    while not os.path.exists(device):
        time.sleep(0.01)
    socket = f'brisvane-bench-{name}-{os.getpid()}'
    subprocess.run(['tmux', '-L', socket, '-f', '/dev/null', 'new-session', '-d', '-s', 'b', '-x', '80',
                    '-y', '25', ' '.join(command + [device]) + '; sleep 600'], check=True,
                   env=dict(os.environ, LANG='C.UTF-8'))
    try:
        keys = lambda *k: subprocess.run(['tmux', '-L', socket, 'send-keys', '-t', 'b', *k], check=True)
        deadline = time.monotonic() + 10
        keys('Enter')
        while 'host$' not in tmux_screen(socket):
            if time.monotonic() > deadline:
                raise RuntimeError(f'{name}: no prompt from the host: {tmux_screen(socket)!r}')
            keys('Enter')
            time.sleep(0.2)
        keys('-l', 'seq 1 100000')
        time.sleep(0.3)
        start = time.monotonic()
        keys('Enter')
        while not any(row.strip() == '100000' for row in tmux_screen(socket).split('\n')):
            if time.monotonic() - start > 60:
                raise RuntimeError(f'{name}: the flood did not end on the screen')
            time.sleep(0.002)
        return time.monotonic() - start
    finally:
        subprocess.run(['tmux', '-L', socket, 'kill-server'], capture_output=True)
        host.terminate()
        host.wait()


def free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


# Records, in the page, when each marker "M<n>" written to row 0 is painted:
# the next animation frame after the row's text changed.
PAINT_WATCH = """
window.paints = {};
const row = document.getElementById('row0');
new MutationObserver(() => {
  const m = /^M(\\d+) /.exec(row.textContent);
  if (m && !(m[1] in window.paints)) {
    const n = m[1];
    window.paints[n] = 0;
    requestAnimationFrame(() => { window.paints[n] = performance.timeOrigin + performance.now(); });
  }
}).observe(row, {childList: true, characterData: true, subtree: true});
"""


def web_browser():
    from selenium import webdriver
    from selenium.webdriver.chrome.options import Options
    o = Options()
    for a in ('--headless=new', '--no-sandbox', '--disable-gpu', '--disable-background-networking',
              '--disable-component-update', '--disable-sync', '--no-first-run',
              f'--user-data-dir={tempfile.mkdtemp(prefix="bv-chrome-")}'):
        o.add_argument(a)
    return webdriver.Chrome(options=o)


def open_pages(d, url, count):
    """`count` tabs on the page, each with its screen up; the first in front."""
    first = d.current_window_handle
    for n in range(count):
        if n > 0:
            d.switch_to.new_window('tab')
        d.get(url)
        deadline = time.monotonic() + 20
        while d.execute_script('return document.querySelectorAll("#screen .row").length') != 24 or \
                'page' not in (d.execute_script('return document.getElementById("who").textContent') or ''):
            if time.monotonic() > deadline:
                raise TimeoutError('a page did not open')
            time.sleep(0.05)
    d.switch_to.window(first)


def close_pages(d):
    """Every tab but the first closed, and that one left blank."""
    for handle in d.window_handles[1:]:
        d.switch_to.window(handle)
        d.close()
    d.switch_to.window(d.window_handles[0])
    d.get('about:blank')


def web_paint(binary, folder, d, pages, samples=100):
    """Milliseconds from the host's write to the measured page's paint."""
    socat, device, host = pair(folder, 'web')
    fd = host_fd(host)
    port = free_port()
    program = Program(binary, device, ['--web', str(port), '--web-open-watch'])
    try:
        time.sleep(0.5)
        open_pages(d, f'http://127.0.0.1:{port}/', pages)
        d.execute_script(PAINT_WATCH)
        sent = {}
        for n in range(samples):
            sent[n] = time.time() * 1000
            write_all(fd, f'\x1bHM{n} '.encode())
            time.sleep(0.06)  # typing's pace: closer writes are gathered into one update
        time.sleep(0.5)
        paints = d.execute_script('return window.paints')
        delays = sorted(paints[str(n)] - sent[n] for n in range(samples) if paints.get(str(n)))
        return statistics.median(delays), delays[int(len(delays) * 0.99) - 1], len(delays)
    finally:
        close_pages(d)
        program.close()
        os.close(fd)
        socat.terminate()
        socat.wait()


def websocket_readers(port, count):
    """`count` connections to the pages' socket that read and drop what
    comes: the pages without a browser drawing them."""
    sockets = []
    for _ in range(count):
        s = socket.create_connection(('127.0.0.1', port))
        key = base64.b64encode(os.urandom(16)).decode()
        s.sendall((f'GET / HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n'
                   f'Sec-WebSocket-Key: {key}\r\nSec-WebSocket-Version: 13\r\nSec-WebSocket-Protocol: brisvane\r\n'
                   f'Origin: http://127.0.0.1:{port}\r\n\r\n').encode())
        head = b''
        while b'\r\n\r\n' not in head:
            head += s.recv(4096)
        assert b' 101 ' in head.split(b'\r\n')[0], head
        def drain(s=s):
            try:
                while s.recv(65536):
                    pass
            except OSError:
                pass
        threading.Thread(target=drain, daemon=True).start()
        sockets.append(s)
    return sockets


def web_flood(binary, folder, d, data, pages, readers=False):
    """Seconds from the host's first byte to the identify reply after a
    flood, with `pages` pages open (plain socket readers with `readers`),
    and the program's processor seconds meanwhile."""
    socat, device, host = pair(folder, 'webflood')
    fd = host_fd(host)
    port = free_port()
    program = Program(binary, device, ['--web', str(port), '--web-open-watch'])
    sockets = []
    try:
        time.sleep(0.5)
        if pages and readers:
            sockets = websocket_readers(port, pages)
            time.sleep(0.3)
        elif pages:
            open_pages(d, f'http://127.0.0.1:{port}/', pages)
        write_all(fd, b'\x1bZ')
        assert read_exact(fd, 3) == b'\x1b/K'
        cpu = program.cpu_seconds()
        elapsed, _ = flood_answered(fd, data)
        return elapsed, program.cpu_seconds() - cpu
    finally:
        for s in sockets:
            s.close()
        if not readers:
            close_pages(d)
        program.close()
        os.close(fd)
        socat.terminate()
        socat.wait()


def web_figures(binary, folder):
    try:
        d = web_browser()
    except Exception as missing:  # selenium or chromium absent: said, not hidden
        print(f'browser pages: no headless Chromium here ({type(missing).__name__}), not measured')
        return
    try:
        for pages in (1, 8):
            median, p99, count = web_paint(binary, folder, d, pages)
            print(f'host byte to browser paint, {pages} page{"s" if pages > 1 else ""} open: median {median:.1f} ms,'
                  f' 99th percentile {p99:.1f} ms ({count} writes)')
        flood = mixes(16 * 1024 * 1024)['scrolling']
        # Five pairs: with a browser drawing on the same two processors, a
        # median of three pairs swung from 1.1 to 1.45 between whole runs.
        runs = [(web_flood(binary, folder, d, flood, 0), web_flood(binary, folder, d, flood, 4)) for _ in range(5)]
        alone = statistics.median(a for (a, _), _ in runs)
        watched = statistics.median(w for _, (w, _) in runs)
        cpu_alone = statistics.median(c for (_, c), _ in runs)
        cpu_watched = statistics.median(c for _, (_, c) in runs)
        print(f'browser pages, 16 MiB scrolling mix (median of 5): four pages open {watched:.2f} s'
              f'  none {alone:.2f} s  ratio {alone / watched:.2f} (goal 0.8 or more);'
              f' the program\'s own CPU {cpu_watched:.3f} s beside {cpu_alone:.3f} s, {cpu_watched / cpu_alone:.2f}x'
              f' (the browser shares the cores)')
        # The same sockets without a browser: what the pages cost the program
        # itself, apart from a browser drawing beside it on the same cores.
        runs = [(web_flood(binary, folder, d, flood, 0, True), web_flood(binary, folder, d, flood, 4, True))
                for _ in range(5)]
        cpu_alone = statistics.median(c for (_, c), _ in runs)
        cpu_read = statistics.median(c for _, (_, c) in runs)
        print(f'  four plain websocket readers in their place: the program\'s own CPU {cpu_read:.3f} s'
              f' beside {cpu_alone:.3f} s, {cpu_read / cpu_alone:.2f}x')
    finally:
        d.quit()


def spread(values, digits=1):
    """The median of `values` with their spread: "12.3 (11.0-13.9)"."""
    return f'{statistics.median(values):.{digits}f} ({min(values):.{digits}f}-{max(values):.{digits}f})'


def paste_figures(binary, folder, runs):
    pasted, through = {}, []
    for _ in range(runs):
        for name, figures in pastes(binary, folder, 16 * 1024 * 1024).items():
            pasted.setdefault(name, []).append(figures)
        through.append(terminal_floor(folder + '/paste.txt', 16 * 1024 * 1024))
    print(f'  (a paste comes through the terminal the program runs in: cat file > a terminal, a raw'
          f' reader on its other end {spread(through)} MB/s)')
    for name, figures in pasted.items():
        rates, floors, gaps, relays = ([f[i] for f in figures] for i in range(4))
        # The slower of its two ends bounds a paste: the terminal or the line.
        slower = min(statistics.median(floors), statistics.median(through))
        print(f'paste 16 MiB into {name:9s}: {spread(rates)} MB/s  floor (cat file > line) {spread(floors)} MB/s'
              f'  ratio {ratio(rates, floors):.2f}, to the slower end {statistics.median(rates) / slower:.2f}'
              f'  longest screen gap meanwhile {max(gaps):.0f} ms')
        print(f'  a plain relay in its place (stty raw; cat terminal > line): {spread(relays)} MB/s,'
              f' to the slower end {statistics.median(relays) / slower:.2f}; ours to the relay {ratio(rates, relays):.2f}')


def ratio(ours, floor):
    return statistics.median(ours) / statistics.median(floor)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('program')
    parser.add_argument('--megabytes', type=float, default=8)
    parser.add_argument('--only-web', action='store_true', help='the browser pages alone')
    parser.add_argument('--served-only', action='store_true', help='the served line alone')
    parser.add_argument('--lines-only', action='store_true', help='several lines in one program alone')
    parser.add_argument('--paste-only', action='store_true', help='the pastes alone')
    parser.add_argument('--runs', type=int, default=3, help='runs per figure (at least 3)')
    args = parser.parse_args()
    if args.only_web:
        folder = tempfile.mkdtemp(prefix='brisvane-bench-')
        try:
            web_figures(args.program, folder)
        finally:
            shutil.rmtree(folder, ignore_errors=True)
        return
    size = int(args.megabytes * 1e6)
    runs = max(3, args.runs)
    folder = tempfile.mkdtemp(prefix='brisvane-bench-')
    print(f'load average at the start: {" ".join(open("/proc/loadavg").read().split()[:3])}'
          f' ({os.cpu_count()} processors)')
    print(f'each figure: median (min-max) of {runs} runs, the floor or peer measured in turn with it')
    try:
        if args.served_only:
            served_figures(args.program, folder)
            port_figures(args.program, folder, runs=runs)
            return
        if args.paste_only:
            paste_figures(args.program, folder, runs)
            return
        if args.lines_only:
            lines_figures(args.program, folder, mixes(size)['scrolling'], runs)
            return
        print(f'receive to screen ({args.megabytes:g} MB per mix; floor: head -c on the same kind of pty pair)')
        for name, data in mixes(size).items():
            floors, rates, per_byte = [], [], []
            for _ in range(runs):
                floors.append(flood_floor(folder, data))
                rate, out = flood_program(args.program, folder, data,
                                          extra=('--ansi', 'hide') if name == 'colour' else ())
                rates.append(rate)
                per_byte.append(out)
            print(f'  {name:10s}: {spread(rates)} MB/s  floor {spread(floors)} MB/s  ratio {ratio(rates, floors):.2f}'
                  f'  terminal bytes per received byte {statistics.median(per_byte):.4f}')
        scrolling = mixes(size)['scrolling']
        recording_figures(args.program, folder, scrolling, runs)
        local, floor, remote = [], [], []
        for _ in range(runs):
            local.append(flood_program(args.program, folder, scrolling)[0])
            floor.append(network_floor(folder, scrolling))
            remote.append(flood_program(args.program, folder, scrolling, network=True)[0])
        print(f'network, scrolling mix through ser2net (RFC 2217, localhost): {spread(remote)} MB/s'
              f'  floor (socat on the port) {spread(floor)} MB/s  ratio {ratio(remote, floor):.2f}'
              f'  local pty {spread(local)} MB/s')
        flood = mixes(4 * 1024 * 1024)['scrolling']
        flood_runs = [(share_flood(args.program, folder, flood, 0), share_flood(args.program, folder, flood, 2))
                      for _ in range(max(5, runs))]
        alone = [a for (a, _), _ in flood_runs]
        shared = [s for _, (s, _) in flood_runs]
        complete = all(c for _, (_, c) in flood_runs)
        print(f'shared line, 4 MiB scrolling mix: two clients reading {spread(shared, 2)} s'
              f'{"" if complete else " (a client was dropped)"}  no clients {spread(alone, 2)} s'
              f'  ratio {ratio(alone, shared):.2f} (goal 0.8 or more)')
        served_figures(args.program, folder)
        port_figures(args.program, folder, runs=runs)
        lines_figures(args.program, folder, scrolling, runs)
        web_figures(args.program, folder)
        # Four times the bytes: at these speeds a shorter flood is over in a
        # few scheduler slices, and the floor swung several-fold from run to run.
        batch = mixes(4 * size)['scrolling']
        floor, plain, waiting = [], [], []
        for _ in range(runs):
            floor.append(flood_floor(folder, batch))
            plain.append(batch_flood(args.program, folder, batch))
            waiting.append(batch_flood(args.program, folder, batch, 'expect("never comes")\n'))
        print(f'batch flood, scrolling mix ({4 * args.megabytes:g} MB): {spread(plain)} MB/s  floor {spread(floor)} MB/s'
              f'  ratio {ratio(plain, floor):.2f}')
        print(f'  with a script waiting in expect(): {spread(waiting)} MB/s  ratio {ratio(waiting, floor):.2f}')
        median, p99, idle = keys_and_idle(args.program, folder)
        print(f'key to wire: median {median:.3f} ms, 99th percentile {p99:.3f} ms (200 keys)')
        print(f'idle CPU over 10 s: {idle:.2f} s')
        raw = [transfers(args.program, folder, 32 * 1024 * 1024) for _ in range(runs)]
        send, send_floor, capture, capture_floor = ([r[i] for r in raw] for i in range(4))
        print(f'raw send 32 MiB:    {spread(send)} MB/s  floor (cat file > device) {spread(send_floor)} MB/s'
              f'  ratio {ratio(send, send_floor):.2f}')
        print(f'raw capture 32 MiB: {spread(capture)} MB/s  floor (head -c device > file) {spread(capture_floor)} MB/s'
              f'  ratio {ratio(capture, capture_floor):.2f}')
        paste_figures(args.program, folder, runs)
        if shutil.which('sb'):
            ours, floor = ymodem_send(args.program, folder, 8 * 1024 * 1024, runs)
            print(f'YMODEM send 8 MiB (lrzsz rb on the host): {spread(ours, 2)} s'
                  f'  floor (sb -k file < device > device) {spread(floor, 2)} s'
                  f'  ratio {ratio(floor, ours):.2f} (floor time / ours)')
        else:
            print('YMODEM send: lrzsz is not installed, not measured')
        ours = [seq_flood(folder, 'brisvane', [args.program, '--seven-bit', '--flow', 'none']) for _ in range(runs)]
        peer = [seq_flood(folder, 'picocom', ['picocom', '-q']) for _ in range(runs)]
        print(f'seq 1 100000 from a bash host, Enter to the last number on screen: '
              f'{spread(ours, 2)} s  picocom {spread(peer, 2)} s'
              f'  ratio {ratio(peer, ours):.2f} (above 1: faster than picocom)')
        print(f'load average at the end: {" ".join(open("/proc/loadavg").read().split()[:3])}')
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == '__main__':
    main()
