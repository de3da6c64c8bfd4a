#!/usr/bin/python3
"""A TCP server on loopback that accepts connections and never answers.

Usage: silent_tcp_server.py PORT_FILE LOG_FILE [LIFETIME_SECONDS]

Listens on 127.0.0.1 on a free port and writes that port to PORT_FILE. Every accepted connection is
kept open without a byte being sent back, and what the client sent is read and dropped; each
accept appends "accepted N" to LOG_FILE. The server stops by itself after LIFETIME_SECONDS
(default 300), or earlier on SIGTERM.
"""
import os
import selectors
import signal
import socket
import sys
import time


def main():
    port_file, log_file = sys.argv[1], sys.argv[2]
    lifetime = float(sys.argv[3]) if len(sys.argv) > 3 else 300.0
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))

    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    listener.setblocking(False)

    tmp = port_file + ".tmp"
    with open(tmp, "w") as f:
        f.write("%d\n" % listener.getsockname()[1])
    os.rename(tmp, port_file)

    sel = selectors.DefaultSelector()
    sel.register(listener, selectors.EVENT_READ)
    accepted = 0
    deadline = time.monotonic() + lifetime
    while time.monotonic() < deadline:
        for key, _ in sel.select(timeout=0.5):
            if key.fileobj is listener:
                conn, _ = listener.accept()
                conn.setblocking(False)
                sel.register(conn, selectors.EVENT_READ)
                accepted += 1
                with open(log_file, "a") as f:
                    f.write("accepted %d\n" % accepted)
            else:
                try:
                    data = key.fileobj.recv(4096)
                except OSError:
                    data = b""
                if not data:
                    sel.unregister(key.fileobj)
                    key.fileobj.close()


if __name__ == "__main__":
    main()
