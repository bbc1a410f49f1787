"""The line's own controls from the menu and the command line: BREAK, DTR
and RTS, modem lines, live settings, flow control, any speed, profiles and
waiting for a device. A pty has no modem lines and no BREAK, so what the
program asked of the driver is read from strace, and the speed with TCGETS2.
Devices that come and go live in a sysfs and /dev the test lays out."""
import os
import re
import subprocess
import tempfile
import time
import unittest
from pathlib import Path

from console_session import ConsoleSession, Line, line_speed, run_program, wait_for


class FakeDevices:
    """A sysfs and /dev laid out in a session's folder, for --sysfs-root and
    --dev-root; an adapter's node is a socat pty linked into that /dev."""

    def __init__(self, test, session):
        self.test, self.folder = test, Path(session.folder)
        self.sys, self.dev = self.folder / 'sys', self.folder / 'dev'
        self.dev.mkdir()
        self.tag = self.folder.name[-6:]  # lock files are named after the node
        self.roots = ('--sysfs-root', str(self.sys), '--dev-root', str(self.dev))

    def adapter(self, name, port, driver, serial=''):
        """A USB adapter's sysfs entry, laid out as the kernel does; returns its Line, not started."""
        usb = self.sys / f'devices/usb1/1-1/{port}'
        tty = usb / f'{port}:1.0/{name}/tty/{name}'
        tty.mkdir(parents=True)
        (tty / 'dev').write_text('188:0\n')
        (tty / 'device').symlink_to(f'../../../{name}')
        (tty.parent.parent / 'driver').symlink_to(f'../../../../../../bus/usb-serial/drivers/{driver}')
        for field, value in (('idVendor', '0403'), ('idProduct', '6001'), ('product', name), ('serial', serial)):
            (usb / field).write_text(value + '\n')
        (self.sys / 'class/tty').mkdir(parents=True, exist_ok=True)
        (self.sys / 'class/tty' / name).symlink_to(f'../../devices/usb1/1-1/{port}/{port}:1.0/{name}/tty/{name}')
        line = Line(self.folder)
        line.device, line.host = str(self.dev / name), str(self.folder / f'host-{name}')
        self.test.addCleanup(lambda: line.process is not None and line.stop())
        return line

    def unplug(self, line):
        """The kernel's side of an unplug: the sysfs entry goes with the node."""
        (self.sys / 'class/tty' / Path(line.device).name).unlink()


class Controls(unittest.TestCase):
    def traced(self, *args):
        self.trace = tempfile.mktemp(prefix='brisvane-strace-')
        self.addCleanup(lambda: os.path.exists(self.trace) and os.unlink(self.trace))
        return ConsoleSession(*args, wrapper=['strace', '-e', 'trace=ioctl', '-o', self.trace])

    def calls(self, pattern):
        return re.findall(pattern, Path(self.trace).read_text())

    def test_break_dtr_rts_and_modem_lines(self):
        with self.traced('--flow', 'rtscts') as s:
            s.keys('C-a', 'b')
            s.wait_status('break sent')
            wait_for(lambda: self.calls(r'TIOCCBRK'), what='the BREAK to end')
            self.assertEqual(len(self.calls(r'TIOCSBRK')), 1)
            s.keys('C-a', 'd')
            s.wait_status('this line has no modem lines')
            self.assertTrue(self.calls(r'TIOCMBIC, \[TIOCM_DTR\]'))
            s.keys('C-a', 't')
            s.wait_status('RTS/CTS flow control drives RTS')
            s.keys('C-a', 'm')
            s.wait_status('this line has no modem lines (CTS, DSR, DCD, RI)')
            self.assertTrue(self.calls(r'TIOCMGET'))
            s.keys('C-a', 'D')
            s.wait_status('no modem lines')
            s.keys('C-a', 'f')
            s.wait_status('flow control: none')
            s.keys('C-a', 't')
            wait_for(lambda: self.calls(r'TIOCMBIC, \[TIOCM_RTS\]'), what='RTS to be lowered')

    def test_live_settings_and_a_refused_one(self):
        with self.traced() as s:
            s.keys('C-a', 'p')
            s.wait_status('line settings: 9600,n,8,1')
            s.keys('Tab')  # steps to the next standard speed
            s.wait_status('line settings: 19200,n,8,1')
            s.keys('C-u')
            s.type('115200,e,7,1')
            s.keys('Enter')
            # A pty keeps 8 bits and no parity: asked for, refused, undone.
            s.wait_status('the driver does not take this number of data bits here')
            self.assertTrue(self.calls(r'TCSETS, \{[^}]*B115200\|CS7[^}]*PARENB'))
            self.assertEqual(line_speed(s.line.device), 9600)
            s.keys('C-a', 'p', 'C-u')
            s.type('230400')
            s.keys('Enter')
            s.wait_status('line settings now 230400,n,8,1')
            self.assertEqual(line_speed(s.line.device), 230400)
            s.host_write(b'still here')
            s.sync()
            # A reconnect keeps the settings in force.
            s.line.stop()
            s.wait_status('disconnected')
            s.line.start()
            wait_for(lambda: 'disconnected' not in s.row(24), what='reconnect')
            self.assertEqual(line_speed(s.line.device), 230400)

    def test_speeds_beyond_the_table(self):
        for speed in (250000, 74880):
            with ConsoleSession(str(speed)) as s:
                self.assertEqual(line_speed(s.line.device), speed)
                s.wait_status(f'{speed},n,8,1')


class StartUp(unittest.TestCase):
    def test_profiles_by_name_overridden_and_broken(self):
        with ConsoleSession(start=False) as s:
            config = Path(s.folder) / 'config'
            config.write_text(f'[default]\nflow = none\n\n[board]\ndevice = {s.line.device}\n'
                              'settings = 19200\nseven-bit = yes\n')
            listed = run_program('--config', str(config), '--list')
            self.assertIn('  board', listed.stdout)
            s.wrapper = []
            s.start('--config', str(config), '--history', '5', cols=80, rows=25,
                    conf=Path(s.folder) / 'tmux.conf', env=None, first='board')
            s.wait_status('19200,n,8,1 none |')
            s.keys('a')
            self.assertEqual(s.host_read(1), b'a')
            config.write_text('[board]\nflow = none\nbaud = 9600\n')
            broken = run_program('--config', str(config), 'board')
            self.assertEqual(broken.returncode, 2)
            self.assertIn(f'{config}:3: unknown option', broken.stderr)

    def test_auto_connect_takes_a_new_device_and_waits_again_when_it_goes(self):
        with ConsoleSession(start=False) as s:
            devices = FakeDevices(self, s)
            tag, roots = devices.tag, devices.roots
            (devices.dev / f'ttyUSBa{tag}').write_text('')  # there before the start: not new
            devices.adapter(f'ttyUSBa{tag}', '1-1.1', 'ftdi_sio')
            skipped = devices.adapter(f'ttyUSBb{tag}', '1-1.2', 'cp210x')
            taken = devices.adapter(f'ttyUSBc{tag}', '1-1.3', 'ftdi_sio')
            listed = run_program('--list', *roots, '--exclude', '*b' + tag).stdout
            self.assertIn(f'ttyUSBa{tag}\n  driver       ftdi_sio\n  usb          0403:6001\n', listed)
            self.assertIn('  topology     1-1.1\n', listed)
            self.assertNotIn(f'ttyUSBb{tag}', listed)
            s.start('new', *roots, '--exclude', 'cp210x', cols=80, rows=25, conf=Path(s.folder) / 'tmux.conf',
                    env=None, first='--auto-connect')
            s.wait_status('waiting for a new device')
            skipped.start()  # excluded by its driver
            time.sleep(0.5)
            taken.start()
            s.wait_status(f'connected to {taken.device} at 1-1.3 (ttyUSBc{tag})')
            taken.write(b'from the new one')
            s.wait_row(0, 'from the new one')
            s.keys('k')
            self.assertEqual(taken.read(1), b'k')  # the keys go out with bit 7 clear by default
            taken.stop()
            s.wait_status('disconnected, waiting for a new device')
            taken.start()  # plugged in again
            s.wait_status(f'connected to {taken.device}')
            s.keys('C-a', 'x')
            self.assertEqual(s.exit_code(), 0)

    def test_a_device_named_by_serial_number_is_followed_to_another_node(self):
        with ConsoleSession(start=False) as s:
            devices = FakeDevices(self, s)
            first = devices.adapter(f'ttyUSBd{devices.tag}', '1-1.1', 'ftdi_sio', serial='A10K')
            first.start()
            s.start(*devices.roots, cols=80, rows=25, conf=Path(s.folder) / 'tmux.conf', env=None,
                    first='usb:0403:6001:A10K')
            s.wait_status(f'{first.device} 9600,n,8,1')
            first.stop()
            devices.unplug(first)
            s.wait_status('disconnected, waiting for usb:0403:6001:A10K')
            moved = devices.adapter(f'ttyUSBe{devices.tag}', '1-1.4', 'ftdi_sio', serial='A10K')
            moved.start()  # the same adapter in another port: another node
            s.wait_status(f'{moved.device} 9600,n,8,1')
            moved.write(b'followed')
            s.wait_row(0, 'followed')

    def test_wait_for_a_device_that_appears(self):
        with ConsoleSession(start=False) as s:
            s.line.stop()
            s.start('--wait', cols=80, rows=25, conf=Path(s.folder) / 'tmux.conf', env=None)
            s.wait_status(f'waiting for {s.line.device}')
            s.line.start()
            s.host_write(b'it came')
            s.sync()
            s.wait_row(0, 'it came')
            self.assertEqual(run_program(s.line.device + '-missing').returncode, 1)


if __name__ == '__main__':
    unittest.main()
