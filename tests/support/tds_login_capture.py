#!/usr/bin/python3
import os, socket, struct, sys, json

def recv_packet(conn):
    data = b""
    while True:
        head = b""
        while len(head) < 8:
            chunk = conn.recv(8 - len(head))
            if not chunk:
                return None, data
            head += chunk
        ptype, status, length = head[0], head[1], struct.unpack(">H", head[2:4])[0]
        body = b""
        while len(body) < length - 8:
            chunk = conn.recv(length - 8 - len(body))
            if not chunk:
                return None, data
            body += chunk
        data += body
        if status & 1:
            return ptype, data

def prelogin_reply():
    # VERSION (6 bytes) and ENCRYPTION = NOT_SUP, then the terminator.
    options = [(0x00, b"\x0f\x00\x07\xd0\x00\x00"), (0x01, b"\x02")]
    header_len = 5 * len(options) + 1
    head, payload, offset = b"", b"", header_len
    for token, value in options:
        head += struct.pack(">BHH", token, offset, len(value))
        payload += value
        offset += len(value)
    body = head + b"\xff" + payload
    return struct.pack(">BBHHBB", 0x04, 0x01, len(body) + 8, 0, 1, 0) + body

def field(body, at):
    offset, chars = struct.unpack("<HH", body[at:at + 4])
    return body[offset:offset + 2 * chars]

def main():
    port_file, out_file = sys.argv[1], sys.argv[2]
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(4)
    with open(port_file + ".tmp", "w") as f:
        f.write("%d\n" % listener.getsockname()[1])
    os.rename(port_file + ".tmp", port_file)
    listener.settimeout(60)
    conn, _ = listener.accept()
    conn.settimeout(30)
    ptype, _ = recv_packet(conn)
    if ptype == 0x12:
        conn.sendall(prelogin_reply())
        ptype, body = recv_packet(conn)
    if ptype != 0x10:
        sys.exit("no login packet: %r" % ptype)
    user = field(body, 40).decode("utf-16-le")
    raw = bytearray(field(body, 44))
    for i, b in enumerate(raw):
        b ^= 0xA5
        raw[i] = ((b << 4) & 0xF0) | (b >> 4)
    password = raw.decode("utf-16-le")
    with open(out_file, "w") as f:
        json.dump({"user": user, "password": password}, f, ensure_ascii=False)
    conn.close()

main()
