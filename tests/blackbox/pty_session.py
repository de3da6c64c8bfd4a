# Runs a command on a terminal of its own (a new pseudo-terminal, its controlling terminal), waits
# until the terminal shows a text, then types the given keys (Python escapes: "\x03" is Ctrl+C,
# "no\n" an answer). Writes what the terminal showed to OUTPUT and whether it still echoes typed
# text after the command ended to OUTPUT.echo ("on" or "off"), and exits with the command's status
# (128 + the signal when a signal ended it; 124 when the text never came or the command did not
# end within a minute).
#
#   pty_session.py OUTPUT TEXT KEYS -- COMMAND [ARGUMENT...]
import os
import pty
import select
import signal
import sys
import termios
import time

output, expect, keys = sys.argv[1], sys.argv[2].encode(), sys.argv[3].encode().decode('unicode_escape').encode('latin-1')
assert sys.argv[4] == '--'
command = sys.argv[5:]

pid, fd = pty.fork()
if pid == 0:
    os.execvp(command[0], command)

shown = b''
typed = False
deadline = time.monotonic() + 60
timed_out = False
while True:
    if not typed and expect in shown:
        os.write(fd, keys)
        typed = True
    if time.monotonic() > deadline:
        timed_out = True
        os.kill(pid, signal.SIGKILL)
        break
    ready, _, _ = select.select([fd], [], [], 0.1)
    if not ready:
        continue
    try:
        data = os.read(fd, 4096)
    except OSError:   # the command has ended and closed the terminal
        break
    if not data:
        break
    shown += data

_, status = os.waitpid(pid, 0)
echo = 'on' if termios.tcgetattr(fd)[3] & termios.ECHO else 'off'
with open(output, 'wb') as f:
    f.write(shown)
with open(output + '.echo', 'w') as f:
    f.write(echo + '\n')
if timed_out or not typed:
    sys.exit(124)
sys.exit(os.waitstatus_to_exitcode(status) if os.WIFEXITED(status) else 128 + os.WTERMSIG(status))
