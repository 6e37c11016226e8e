#!/usr/bin/env python3
"""Reads a tool-link session file packet by packet, or plays a scripted tool
on a Unix socket, for scripts/plx-check.sh.

  plx_tool.py parse FILE           counts of every packet code, checks sizes,
                                   tables and uploads; exit 1 on a bad stream
  plx_tool.py serve SOCKET MODE OUT
                                   MODE script: unknown header, "nodeinfo abc",
                                   then "run" split over two writes, then "runall";
                                   MODE hangup: reads the set-up and the first
                                   upload, then closes the socket.
                                   The bytes received go to OUT.
"""
import os
import socket
import struct
import sys
import time

SIZES = {0: 32, 1: 0, 2: 112, 3: 40, 4: 0, 5: 292, 6: 256, 7: 0, 8: 8, 9: 40,
         10: 0, 12: 4, 13: 4, 14: 4, 15: 4}


def packets(data):
    at = 0
    while at < len(data):
        if len(data) - at < 4:
            raise ValueError("offset %d: stream ends inside a packet code" % at)
        code = struct.unpack_from("<I", data, at)[0]
        if code == 11:
            if len(data) - at < 8:
                raise ValueError("offset %d: long text without its length" % at)
            n = struct.unpack_from("<I", data, at + 4)[0]
            size = 4 + max(1, (n + 30) // 31) * 32
        elif code in SIZES:
            size = SIZES[code]
        else:
            raise ValueError("offset %d: unknown packet code %d" % (at, code))
        if len(data) - at - 4 < size:
            raise ValueError("offset %d: packet %d cut short" % (at, code))
        yield at, code, data[at + 4:at + 4 + size]
        at += 4 + size


def text(body, start=0, size=256):
    raw = body[start:start + size]
    end = raw.find(b"\0")
    return (raw if end < 0 else raw[:end]).decode("latin-1")


def check(data):
    """Returns (report lines, errors) of a whole session stream."""
    errors, texts = [], []
    sizes = {}
    tables = {}
    uploads = []
    current = None
    for at, code, body in packets(data):
        if code in (12, 13, 14):
            sizes[code] = struct.unpack("<I", body)[0]
        elif code == 8:
            count, table = struct.unpack("<II", body)
            tables[table] = [count, 0]
        elif code == 9:
            index, = struct.unpack_from("<I", body, 0)
            table, = struct.unpack_from("<I", body, 36)
            if table not in tables or index != tables[table][1]:
                errors.append("offset %d: table %d entry %d out of order" % (at, table, index))
            else:
                tables[table][1] += 1
                if index == tables[table][0] - 1 and text(body, 4, 32) != "Unknown":
                    errors.append("table %d does not end in Unknown" % table)
        elif code == 0:
            current = {"name": text(body, 0, 32), "nodes": set(), "edges": 0}
        elif code == 2 and current is not None:
            current["nodes"].add(struct.unpack_from("<I", body, 32)[0])
        elif code == 3 and current is not None:
            current["edges"] += 1
        elif code == 1 and current is not None:
            uploads.append(current)
            current = None
        elif code == 6:
            texts.append(text(body))
    if sizes != {12: 4, 13: 112, 14: 40}:
        errors.append("record sizes %s" % sizes)
    want = {0: 316, 1: 3017, 2: 4150}
    for table, count in want.items():
        if tables.get(table) != [count, count]:
            errors.append("table %d: %s, want %d entries" % (table, tables.get(table), count))
    report = ["uploads %d" % len(uploads)]
    report += ["upload %s: %d nodes, %d edges" % (u["name"], len(u["nodes"]), u["edges"]) for u in uploads]
    return report, errors, uploads, texts


def parse(path, atoms):
    data = open(path, "rb").read()
    try:
        report, errors, uploads, _ = check(data)
    except ValueError as e:
        print("%s: %s" % (path, e))
        return 1
    print("\n".join(report))
    if not uploads:
        errors.append("no upload")
    for u in uploads:
        if atoms is not None and len(u["nodes"]) != atoms:
            errors.append("upload %s holds %d nodes, the netlist %d atoms" % (u["name"], len(u["nodes"]), atoms))
    for e in errors:
        print("%s: %s" % (path, e))
    return 1 if errors else 0


def upload_ends(data):
    """Uploads complete in a stream that may end inside a packet."""
    ends = 0
    try:
        for _, code, _ in packets(data):
            ends += code == 1
    except ValueError:
        pass
    return ends


def command(cid, arg):
    return struct.pack("<II", 0, cid) + arg.encode().ljust(32, b"\0")[:32]


def serve(path, mode, out):
    if os.path.exists(path):
        os.unlink(path)
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    listener.bind(path)
    listener.listen(1)
    listener.settimeout(120)
    conn, _ = listener.accept()
    conn.settimeout(600)
    received = bytearray()
    if mode == "script":
        run = command(0, "")
        conn.sendall(struct.pack("<I", 77) + command(1, "abc") + run[:3])
        time.sleep(0.2)
        conn.sendall(run[3:] + command(2, ""))
    while True:
        try:
            chunk = conn.recv(65536)
        except socket.timeout:
            break
        if not chunk:
            break
        received += chunk
        if mode == "hangup":
            if upload_ends(bytes(received)) >= 1:
                break
    conn.close()
    listener.close()
    open(out, "wb").write(received)
    return 0


def main(argv):
    if len(argv) >= 3 and argv[1] == "parse":
        return parse(argv[2], int(argv[3]) if len(argv) > 3 else None)
    if len(argv) == 5 and argv[1] == "serve":
        return serve(argv[2], argv[3], argv[4])
    if len(argv) == 3 and argv[1] == "texts":
        data = open(argv[2], "rb").read()
        try:
            _, _, _, texts = check(data)
        except ValueError as e:
            print("bad stream: %s" % e)
            return 1
        print("\n".join(texts))
        return 0
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
