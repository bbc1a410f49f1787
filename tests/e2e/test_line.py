"""The serial line under stress: a host that keeps sending while it waits
for answers, and a line whose other end goes away."""
import time
import unittest

from harness import Session

REPLY = b'\x9b\xaf\xcb'


class BusyLine(unittest.TestCase):
    def test_identify_is_answered_while_the_host_keeps_sending(self):
        # Each burst arrives right after the previous answer, while the
        # program may still be finishing that answer's last write.
        with Session() as s:
            s.start_terminal()
            text = bytes(0x20 + n % 95 for n in range(300))
            for burst in range(5):
                s.host_write(text + b'\x1bZ')
                self.assertEqual(s.host_read_exact(3, timeout=15), REPLY, f'burst {burst}')
            self.assertEqual(s.exit_from_menu(), 1)


class DeadLine(unittest.TestCase):
    def test_a_vanished_host_shows_nothing_costs_little_and_exit_still_works(self):
        with Session() as s:
            s.start_terminal()
            s.focus()
            s.host_write(b'before')
            s.sync()
            s.hang_up()
            time.sleep(1)
            start = s.program_cpu_seconds()
            time.sleep(3)
            used = s.program_cpu_seconds() - start
            self.assertLess(used, 0.3, f'{used:.2f} s of processor time in 3 s on a dead line')
            mismatch = s.expect_screen(['before'], (0, 6))
            self.assertEqual(mismatch, 0, 'phantom bytes drawn: ' + s.last_mismatch)
            self.assertEqual(s.exit_from_menu(), 1)


if __name__ == '__main__':
    unittest.main()
