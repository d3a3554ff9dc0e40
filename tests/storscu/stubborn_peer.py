#!/usr/bin/env python3
"""A storage peer that answers every C-STORE with a failure status and never
closes a connection itself, not even after an A-ABORT (some DICOM libraries'
peers behave so). Usage: stubborn_peer.py PORT STATUS; prints "ready" once
listening and runs until killed."""
import socket
import struct
import sys
import threading


def read_exact(conn, n):
    data = b""
    while len(data) < n:
        chunk = conn.recv(n - len(data))
        if not chunk:
            raise EOFError
        data += chunk
    return data


def read_pdu(conn):
    head = read_exact(conn, 6)
    length = struct.unpack(">I", head[2:6])[0]
    return head[0], read_exact(conn, length)


def items(body):
    pos = 0
    while pos + 4 <= len(body):
        kind, length = body[pos], struct.unpack(">H", body[pos + 2:pos + 4])[0]
        yield kind, body[pos + 4:pos + 4 + length]
        pos += 4 + length


def accept(rq):
    """An A-ASSOCIATE-AC taking every proposed context in its first syntax."""
    out = b""
    for kind, value in items(rq[68:]):
        if kind == 0x10:
            out += struct.pack(">BBH", 0x10, 0, len(value)) + value
        elif kind == 0x20:
            syntaxes = [v for k, v in items(value[4:]) if k == 0x40]
            ts = struct.pack(">BBH", 0x40, 0, len(syntaxes[0])) + syntaxes[0]
            ctx = bytes([value[0], 0, 0, 0]) + ts
            out += struct.pack(">BBH", 0x21, 0, len(ctx)) + ctx
    user = struct.pack(">BBHI", 0x51, 0, 4, 16384)
    uid = b"1.2.826.0.1.3680043.10.999.9"
    user += struct.pack(">BBH", 0x52, 0, len(uid)) + uid
    out += struct.pack(">BBH", 0x50, 0, len(user)) + user
    body = struct.pack(">HH", 1, 0) + rq[4:68] + out
    return struct.pack(">BBI", 2, 0, len(body)) + body


def element(group, elem, value):
    return struct.pack("<HHI", group, elem, len(value)) + value


def store_response(context, command, status):
    fields = {}
    pos = 0
    while pos + 8 <= len(command):
        group, elem, length = struct.unpack("<HHI", command[pos:pos + 8])
        fields[(group, elem)] = command[pos + 8:pos + 8 + length]
        pos += 8 + length
    body = (element(0, 0x0002, fields.get((0, 0x0002), b"")) + element(0, 0x0100, struct.pack("<H", 0x8001)) +
            element(0, 0x0120, fields.get((0, 0x0110), b"\x01\x00")) + element(0, 0x0800, struct.pack("<H", 0x0101)) +
            element(0, 0x0900, struct.pack("<H", status)) + element(0, 0x1000, fields.get((0, 0x1000), b"")))
    command_set = element(0, 0x0000, struct.pack("<I", len(body))) + body
    pdv = struct.pack(">IBB", len(command_set) + 2, context, 3) + command_set
    return struct.pack(">BBI", 4, 0, len(pdv)) + pdv


def serve(conn, status):
    held = [conn]  # kept open for as long as the process runs
    try:
        kind, rq = read_pdu(conn)
        if kind != 1:
            return
        conn.sendall(accept(rq))
        command = b""
        while True:
            kind, body = read_pdu(conn)
            if kind == 5:  # release: answer, and still do not close
                conn.sendall(struct.pack(">BBI", 6, 0, 4) + b"\0" * 4)
                continue
            if kind != 4:
                continue  # an abort among them: ignored
            pos = 0
            while pos + 6 <= len(body):
                length = struct.unpack(">I", body[pos:pos + 4])[0]
                context, control = body[pos + 4], body[pos + 5]
                if control & 1:
                    command += body[pos + 6:pos + 4 + length]
                    if control & 2:
                        last_command = command
                        command = b""
                elif control & 2:
                    conn.sendall(store_response(context, last_command, status))
                pos += 4 + length
    except (EOFError, OSError):
        pass
    threading.Event().wait()  # never close
    del held


def main():
    port, status = int(sys.argv[1]), int(sys.argv[2], 0)
    server = socket.socket()
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", port))
    server.listen(8)
    print("ready", flush=True)
    while True:
        conn, _ = server.accept()
        threading.Thread(target=serve, args=(conn, status), daemon=True).start()


if __name__ == "__main__":
    main()
