"""The lab's own tools on a served line: a test framework's shell driver
(Debian's python3-labgrid, through pyserial's RFC 2217 client) logs into a
board and runs commands while a person watches the same session through
brisvane --attach and a browser page; and a recording's asciicast in the
asciinema web player (npm's asciinema-player) in headless Chromium. Run
with Debian's /usr/bin/python3."""
import functools
import http.server
import json
import os
import shutil
import threading
import time
import subprocess
import tempfile
import textwrap
import unittest
from pathlib import Path

from console_session import PROGRAM, ConsoleSession, Line, free_port, listening, wait_for

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


# Where tools/test installs the npm player (a folder holding node_modules/).
PLAYER = Path(os.environ.get('BRISVANE_NPM', Path(__file__).resolve().parents[2] / 'build' / 'npm'))


class CastInAWebPlayer(unittest.TestCase):
    def test_the_web_player_shows_row_one_at_a_marks_time(self):
        dist = PLAYER / 'node_modules' / 'asciinema-player' / 'dist' / 'bundle'
        self.assertTrue((dist / 'asciinema-player.min.js').exists(), f'no npm asciinema-player in {PLAYER}')
        folder = Path(tempfile.mkdtemp(prefix='bv-cast-'))
        self.addCleanup(shutil.rmtree, folder, True)
        line = Line(str(folder))
        line.start()
        self.addCleanup(line.stop)
        record = folder / 'boot.bvrec'
        run = subprocess.Popen([PROGRAM, line.device, '--batch', '--flow', 'none', '--record', str(record),
                                '--mark', 'Starting kernel', '--timeout', '4'],
                               stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(0.5)  # standard input stays open: the run lasts until --timeout
        line.write(b'\x1bH\x1bJU-Boot 2026.01\r\nHit any key to stop autoboot\r\n')
        time.sleep(1)
        line.write(b'\x1bH\x1bJStarting kernel ...\r\n[    0.000000] Linux version 6.1\r\n')
        time.sleep(1)
        line.write(b'\x1bH\x1bJboard login: ')
        time.sleep(2.5)
        run.stdin.close()
        run.wait(timeout=20)

        cast = folder / 'boot.cast'
        with open(cast, 'wb') as out:
            self.assertEqual(subprocess.run([PROGRAM, '--export-cast', str(record)], stdout=out,
                                            timeout=10).returncode, 0)
        events = [json.loads(row) for row in cast.read_text().splitlines()[1:]]
        marks = [e for e in events if e[1] == 'm']
        self.assertEqual([e[2] for e in marks], ['Starting kernel'])
        for name in ('asciinema-player.min.js', 'asciinema-player.css'):
            shutil.copy(dist / name, folder / name)
        (folder / 'index.html').write_text(
            '<!doctype html><link rel=stylesheet href=asciinema-player.css><div id=p></div>'
            '<script src=asciinema-player.min.js></script>'
            '<script>window.player = AsciinemaPlayer.create("boot.cast", document.getElementById("p"),'
            ' {cols: 80, rows: 24, preload: true});</script>')
        handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=str(folder))
        handler.log_message = lambda *a: None
        server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), handler)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        self.addCleanup(server.server_close)
        self.addCleanup(server.shutdown)
        d = browser()
        self.addCleanup(d.quit)
        d.get(f'http://127.0.0.1:{server.server_address[1]}/')
        wait_for(lambda: d.execute_script('return document.querySelectorAll(".ap-line").length') >= 24, 20,
                 'the player to draw its rows')
        d.execute_script(f'window.player.seek({marks[0][0] + 0.05});')
        row_one = 'return document.querySelectorAll(".ap-line")[0].textContent.trimEnd();'
        wait_for(lambda: d.execute_script(row_one) == 'Starting kernel ...', 10,
                 'row 1 at the mark to read what the board printed then')


if __name__ == '__main__':
    unittest.main()
