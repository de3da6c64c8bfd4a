# Runs a command (norvel-pad --apply) with its standard output on a pipe that is full from the moment
# the target's description (up to its first empty line) has been read: whatever the command prints
# after that waits. Once the record file exists (it is put in place right after the commit, before
# anything is printed), sends SIGTERM, and prints the command's exit status and how many seconds it
# took to end after the signal ("timeout" when it did not end within ten).
#
#   blocked_output.py RECORD ERRFILE -- COMMAND [ARGUMENT...]
import fcntl
import os
import select
import signal
import subprocess
import sys
import time

record, errfile = sys.argv[1], sys.argv[2]
assert sys.argv[3] == '--'
F_SETPIPE_SZ = 1031

read_end, write_end = os.pipe()
fcntl.fcntl(write_end, F_SETPIPE_SZ, 4096)
with open(errfile, 'wb') as err:
    child = subprocess.Popen(sys.argv[4:], stdin=subprocess.DEVNULL, stdout=write_end, stderr=err)
deadline = time.monotonic() + 60
shown = b''
while b'\n\n' not in shown:
    ready, _, _ = select.select([read_end], [], [], 0.1)
    if ready:
        shown += os.read(read_end, 4096)
    if child.poll() is not None or time.monotonic() > deadline:
        sys.exit('the command ended or stalled before describing its target: %r' % shown)
# Full: nothing more goes in until somebody reads, and nobody will. (The command shares the pipe's
# open file: it is blocking again before the command writes next.)
os.set_blocking(write_end, False)
for chunk in (4096, 1):
    try:
        while True:
            os.write(write_end, b'x' * chunk)
    except BlockingIOError:
        pass
os.set_blocking(write_end, True)
while not os.path.exists(record):
    if child.poll() is not None or time.monotonic() > deadline:
        sys.exit('no record appeared (status %r)' % child.poll())
    time.sleep(0.05)
signalled = time.monotonic()
child.send_signal(signal.SIGTERM)
try:
    status = child.wait(timeout=10)
except subprocess.TimeoutExpired:
    child.kill()
    child.wait()
    print('timeout')
    sys.exit(0)
print(status, '%.1f' % (time.monotonic() - signalled))
