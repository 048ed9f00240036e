#!/usr/bin/env python3
"""A second, independent reader and writer of template packages, for the tests.

  package_peer.py check PACKAGE PASSWORD FOLDER   unpacks PACKAGE and compares it with FOLDER
  package_peer.py build FOLDER PACKAGE PASSWORD   packs the files of FOLDER into PACKAGE

Exit status 0 when all is well; otherwise a message on stderr and status 1.
"""
import os
import struct
import sys
import zlib

KEY = b"hollyburn-kpt"


def scramble(data):
    out = bytearray(data)
    c = 0
    for p in range(len(out)):
        r = c % 12
        if r:
            out[p] ^= KEY[r - 1]
        c = 0 if c >= 10000 else c + 1
    return bytes(out)


def folder_files(folder):
    names = [n for n in os.listdir(folder) if os.path.isfile(os.path.join(folder, n))]
    return sorted(names, key=lambda n: (n.encode().lower(), n.encode()))


def parse_ini(text):
    sections = {}
    current = None
    for line in text.split(b"\r\n"):
        line = line.strip()
        if line.startswith(b"["):
            current = sections.setdefault(line[1:line.index(b"]")].lower(), {})
        elif b"=" in line and current is not None:
            key, value = line.split(b"=", 1)
            current.setdefault(key.strip().lower(), value.strip())
    return sections


def fail(message):
    sys.stderr.write(message + "\n")
    sys.exit(1)


def check(package, password, folder):
    data = open(package, "rb").read()
    (size,) = struct.unpack("<i", data[-4:])
    d = zlib.decompressobj()
    payload = d.decompress(data[:-4])
    if not d.eof or d.unused_data:
        fail("the zlib stream does not end right before the size")
    if len(payload) != size:
        fail("payload is %d bytes, the package says %d" % (len(payload), size))
    (list_len,) = struct.unpack("<i", payload[-4:])
    text = scramble(payload[-4 - list_len:-4])
    if not text.endswith(b"\r\n") or b"\n" in text.replace(b"\r\n", b""):
        fail("the list does not use CR LF line ends: %r" % text)
    ini = parse_ini(text)
    if ini[b"list"][b"password"] != password.encode():
        fail("password %r, expected %r" % (ini[b"list"][b"password"], password))
    names = folder_files(folder)
    if int(ini[b"list"][b"filecount"]) != len(names):
        fail("FileCount %s, the folder has %d files" % (ini[b"list"][b"filecount"], len(names)))
    pos = 0
    for i, name in enumerate(names, 1):
        entry = ini[str(i).encode()]
        listed = entry[b"filename"].decode("gbk")
        if listed != name:
            fail("file %d is %r, expected %r" % (i, listed, name))
        content = open(os.path.join(folder, name), "rb").read()
        if int(entry[b"filesize"]) != len(content):
            fail("FileSize of %s is %s, expected %d" % (name, entry[b"filesize"], len(content)))
        if payload[pos:pos + len(content)] != content:
            fail("bytes of %s differ" % name)
        pos += len(content)
    if pos + list_len + 4 != len(payload):
        fail("file data end at %d, the list starts at %d" % (pos, len(payload) - list_len - 4))


def build(folder, package, password):
    names = folder_files(folder)
    contents = [open(os.path.join(folder, n), "rb").read() for n in names]
    lines = [b"[List]", b"FileCount=%d" % len(names), b"PassWord=" + password.encode()]
    for i, (name, content) in enumerate(zip(names, contents), 1):
        lines += [b"", b"[%d]" % i, b"FileName=" + name.encode("gbk"),
                  b"FileSize=%d" % len(content)]
    text = b"\r\n".join(lines) + b"\r\n"
    payload = b"".join(contents) + scramble(text) + struct.pack("<i", len(text))
    with open(package, "wb") as f:
        f.write(zlib.compress(payload, 9) + struct.pack("<i", len(payload)))


if __name__ == "__main__":
    if len(sys.argv) == 5 and sys.argv[1] == "check":
        check(sys.argv[2], sys.argv[3], sys.argv[4])
    elif len(sys.argv) == 5 and sys.argv[1] == "build":
        build(sys.argv[2], sys.argv[3], sys.argv[4])
    else:
        fail(__doc__)
