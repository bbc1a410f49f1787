"""The lab's own tools on a served line: a test framework's shell driver
(Debian's python3-labgrid, through pyserial's RFC 2217 client) logs into a
board and runs commands while a person watches the same session through
brisvane --attach and a browser page. Run with Debian's /usr/bin/python3."""
import os
import shutil
import subprocess
import tempfile
import textwrap
import unittest
from pathlib import Path

from console_session import PROGRAM, ConsoleSession, free_port, listening, wait_for

try:
    from labgrid import Environment
    from test_web import browser, page_rows
except ImportError as missing:  # pragma: no cover - said, not hidden
    raise SystemExit(f'test_lab needs python3-labgrid, python3-selenium and python3-websockets: {missing}')

# A board's serial console: a login prompt, then a shell with a prompt of its own.
BOARD = textwrap.dedent('''\
    #!/bin/bash
    stty sane
    while true; do
        printf 'board login: '
        read -r user || exit 0
        [ "$user" = root ] && break
    done
    printf 'set enable-bracketed-paste off\\n' > "$BOARD_HOME/inputrc"
    export INPUTRC="$BOARD_HOME/inputrc" PS1='root@board:~# ' TERM=dumb HOME="$BOARD_HOME"
    cd "$BOARD_HOME"
    exec bash --norc --noprofile -i
    ''')


class Labgrid(unittest.TestCase):
    def setUp(self):
        self.folder = Path(tempfile.mkdtemp(prefix='bv-lab-'))
        self.addCleanup(shutil.rmtree, self.folder, True)
        board = self.folder / 'board.sh'
        board.write_text(BOARD)
        board.chmod(0o755)
        self.device = str(self.folder / f'ttyS-{self.folder.name[-8:]}')
        socat = subprocess.Popen(['socat', f'pty,raw,echo=0,link={self.device}',
                                  f'EXEC:{board},pty,setsid,ctty,stderr'],
                                 env={**os.environ, 'BOARD_HOME': str(self.folder)},
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        self.addCleanup(lambda: (socat.terminate(), socat.wait(5)))
        wait_for(lambda: os.path.exists(self.device), what='the board')

    def serve(self):
        self.port, self.web = free_port(), free_port()
        self.socket = str(self.folder / 'line.sock')
        conf = self.folder / 'config'
        conf.write_text('[default]\nshare-rfc2217 = write\n')
        self.log = self.folder / 'serve.err'
        with open(self.log, 'ab') as err:
            server = subprocess.Popen([PROGRAM, '--config', str(conf), self.device, '--serve', '--flow', 'none',
                                       '--share', f'unix:{self.socket}', '--share', f'rfc2217:{self.port}',
                                       '--web', str(self.web), '--web-open-watch'],
                                      stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=err)
        self.addCleanup(lambda: server.poll() is None and (server.kill(), server.wait()))
        wait_for(lambda: (listening(self.port) and listening(self.web)) or server.poll() is not None,
                 what='the accepters')
        self.assertIsNone(server.poll(), self.log.read_text())

    def test_a_shell_driver_logs_in_and_runs_commands_while_a_person_and_a_page_watch(self):
        self.serve()
        person = ConsoleSession(start=False, home=False)
        self.addCleanup(person.close)
        person.start(f'unix:{self.socket}', '--watch', cols=80, rows=25, conf=Path(person.folder) / 'tmux.conf',
                     env=None, first='--attach')
        d = browser()
        self.addCleanup(d.quit)
        d.get(f'http://127.0.0.1:{self.web}/')

        env = self.folder / 'env.yaml'
        env.write_text(textwrap.dedent(f'''\
            targets:
              main:
                resources:
                  NetworkSerialPort: {{host: 127.0.0.1, port: {self.port}}}
                drivers:
                  SerialDriver: {{}}
                  ShellDriver: {{prompt: 'root@board:~# ', login_prompt: 'board login: ', username: root}}
            '''))
        target = Environment(str(env)).get_target('main')
        shell = target.get_driver('ShellDriver')
        target.activate(shell)
        self.assertEqual(shell.run_check('echo hello from the lab'), ['hello from the lab'])
        self.assertEqual(shell.run('false')[2], 1)
        self.assertEqual(shell.run_check('uname -s'), ['Linux'])
        target.deactivate(shell)

        wait_for(lambda: any('hello from the lab' in row for row in person.screen()), what='the person to see it')
        wait_for(lambda: any('hello from the lab' in row for row in page_rows(d)), what='the page to see it')
        self.assertIn('attached, writing', self.log.read_text())  # the driver held the line
        person.keys('C-a', 'x')
        self.assertEqual(person.exit_code(), 0)


if __name__ == '__main__':
    unittest.main()
