"""Figures of the real program under Wine, one line each:

    start-up: seconds from launch to the window answering on the line
    screen: received bytes per second drawn, host writing as fast as it can
    key to wire: median delay from a key press (xdotool) to its byte at the host
    raw send / raw capture: bytes per second of a file transfer, checksummed

Usage: bench_wine.py [BYTES]   (default 1 MiB per transfer; the screen run
uses a quarter of that). Needs the environment the end-to-end tests use."""
import hashlib
import random
import statistics
import sys
import time

from harness import Session


def main():
    size = int(sys.argv[1]) if len(sys.argv) > 1 else 1 << 20
    data = random.Random(1).randbytes(size)
    with Session() as s:
        started = time.monotonic()
        s.start(f'{s.port_arg()} "{s.win(s.home)}" "0"')
        s.wait_window()
        s.sync()
        print(f'start-up: {time.monotonic() - started:.2f} s', flush=True)

        text = bytes(0x20 + n % 95 if n % 80 else 0x0A for n in range(size // 4))
        started = time.monotonic()
        s.host_write(text)
        s.sync()
        print(f'screen: {len(text) / (time.monotonic() - started) / 1000:.1f} kB/s', flush=True)

        s.focus()
        delays = []
        for _ in range(100):
            pressed = time.monotonic()
            s._xdotool('key', 'x')
            s.host_read_exact(1)
            delays.append(time.monotonic() - pressed)
        print(f'key to wire: median {statistics.median(delays) * 1000:.1f} ms, '
              f'max {max(delays) * 1000:.1f} ms (100 presses, xdotool start-up included)',
              flush=True)

        source = s.home / 'send.bin'
        source.write_bytes(data)
        s.key('alt+s', 'r')
        s.choose_file(source, 'Open')
        started = time.monotonic()
        sent = s.host_read_exact(size, timeout=3600)
        rate = size / (time.monotonic() - started)
        same = hashlib.sha256(sent).digest() == hashlib.sha256(data).digest()
        print(f'raw send: {rate / 1000:.1f} kB/s ({"identical" if same else "DIFFERENT"})', flush=True)

        target = s.home / 'capture.bin'
        s.key('alt+r', 'r')
        s.choose_file(target, 'Save As')
        started = time.monotonic()
        s.host_write(data)
        s.wait_file_size(target, size, timeout=3600)
        rate = size / (time.monotonic() - started)
        s.key('alt+r', 'e')
        same = hashlib.sha256(target.read_bytes()).digest() == hashlib.sha256(data).digest()
        print(f'raw capture: {rate / 1000:.1f} kB/s ({"identical" if same else "DIFFERENT"})')
        s.key('alt+x')
        s.wait_exit()
        return 0 if same else 1


if __name__ == '__main__':
    sys.exit(main())
