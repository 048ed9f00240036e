#!/usr/bin/env python3
"""Plays a TSC label printer on a socket: every connection is one print job, and its bytes
(the TSPL a printer would get) go into a numbered file of the jobs folder.

    label-printer.py JOBS_DIR PORT_FILE

Listens on an ephemeral port of 127.0.0.1 and writes that port number to PORT_FILE once
it listens. Job files are named job-0001.tspl, job-0002.tspl, ... going on after the
highest number already in the folder; each appears under its name only when the job is
complete. Runs until it is stopped by a signal.
"""

import os
import re
import signal
import socket
import sys


def next_number(folder):
    numbers = [int(m.group(1)) for name in os.listdir(folder)
               if (m := re.fullmatch(r"job-(\d+)\.tspl", name))]
    return max(numbers, default=0) + 1


def receive(conn):
    chunks = []
    while True:
        chunk = conn.recv(65536)
        if not chunk:
            return b"".join(chunks)
        chunks.append(chunk)


def main():
    if len(sys.argv) != 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    folder, port_file = sys.argv[1], sys.argv[2]
    os.makedirs(folder, exist_ok=True)
    # A job is written whole or not at all (below), so ending at once is safe.
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))

    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", 0))
    server.listen(4)
    port = server.getsockname()[1]
    with open(port_file + ".part", "w", encoding="ascii") as out:
        out.write(f"{port}\n")
    os.replace(port_file + ".part", port_file)

    number = next_number(folder)
    while True:
        conn, _ = server.accept()
        with conn:
            data = receive(conn)
        if not data:
            continue
        path = os.path.join(folder, f"job-{number:04d}.tspl")
        with open(path + ".part", "wb") as out:
            out.write(data)
        os.replace(path + ".part", path)
        print(f"label printer: job {number}, {len(data)} bytes -> {path}", flush=True)
        number += 1


if __name__ == "__main__":
    try:
        sys.exit(main())
    except KeyboardInterrupt:
        sys.exit(0)
