"""Nothing typed is lost, and text arrives as the host expects it: keys and a
bracketed paste wait while the line holds output and all go out, in order,
when it moves again; Unix and DOS text files sent into a host's `cat` arrive
exactly."""
import os
import shutil
import subprocess
import tempfile
import termios
import unittest
from pathlib import Path

from console_session import ConsoleSession, wait_for

XOFF, XON = b'\x13', b'\x11'


class HeldLine(unittest.TestCase):
    def test_keys_and_a_paste_wait_while_output_is_held(self):
        trace = Path(tempfile.mkdtemp(prefix='bv-trace-')) / 'ioctl'
        self.addCleanup(shutil.rmtree, trace.parent, True)
        with ConsoleSession('--flow', 'rtscts', wrapper=['strace', '-e', 'trace=ioctl', '-o', str(trace)]) as s:
            # The host stops the line with XOFF: software flow control on the
            # program's end, set from outside as a driver would have it.
            fd = os.open(s.line.device, os.O_RDWR | os.O_NOCTTY)
            self.addCleanup(os.close, fd)
            attributes = termios.tcgetattr(fd)
            attributes[0] |= termios.IXON
            termios.tcsetattr(fd, termios.TCSANOW, attributes)
            # The driver acts on XOFF as it receives it, before the text after it shows.
            s.host_write(XOFF + b'held')
            s.wait_row(0, 'held')
            typed = ''.join(chr(ord('a') + i % 26) for i in range(300))
            s.type(typed)
            pasted = ''.join(f'pasted line {i:04d}\n' for i in range(177))  # 3,009 bytes
            s.tmux('set-buffer', '-b', 'p', pasted)
            s.tmux('paste-buffer', '-p', '-r', '-b', 'p', '-t', 't')  # -p: with brackets
            s.wait_status('paste ')
            s.wait_status('bytes wait')
            # Held over a second with RTS/CTS on: it looks whether CTS is low
            # (a pty has no CTS, so there is nothing to say).
            wait_for(lambda: 'TIOCMGET' in trace.read_text(), what='a look at the modem lines')
            s.host_write(XON)
            expected = typed.encode() + pasted.replace('\n', '\r').encode()
            got = s.host_read(len(expected), timeout=20)
            self.assertEqual(got, expected)
            self.assertEqual(s.line.drain(), b'')
            wait_for(lambda: 'wait' not in s.row(24), what='the wait to end')


class TextFiles(unittest.TestCase):
    def test_unix_and_dos_files_arrive_as_lines(self):
        with ConsoleSession(home=True) as s:
            # The host end as a cooked terminal: CR ends a line, bit 7 stripped.
            host = s.line.fd
            attributes = termios.tcgetattr(host)
            attributes[0] |= termios.ICRNL | termios.ISTRIP
            attributes[3] |= termios.ICANON
            termios.tcsetattr(host, termios.TCSANOW, attributes)
            lines = ''.join(f'line {i} of the file\n' for i in range(5))
            for name, content in (('unix.txt', lines), ('dos.txt', lines.replace('\n', '\r\n'))):
                received = Path(s.folder) / ('got-' + name)
                source = os.open(s.line.host, os.O_RDONLY | os.O_NOCTTY)  # blocking, for cat
                with open(received, 'wb') as out:
                    cat = subprocess.Popen(['cat'], stdin=source, stdout=out)
                os.close(source)
                (Path(s.folder) / name).write_text(content)
                s.keys('C-a', 's', 't')
                s.wait_status('file:')
                s.type(name)
                s.keys('Enter')
                s.wait_status('send finished')
                s.keys('C-d')  # end of file for the host's cat
                self.assertEqual(cat.wait(10), 0)
                self.assertEqual(received.read_text(), lines, name)


if __name__ == '__main__':
    unittest.main()
