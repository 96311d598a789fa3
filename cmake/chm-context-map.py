#!/usr/bin/python3
"""Makes the context map (#IVB) of a .chm compiled by chmcmd name each topic
as Microsoft's compiler does, relative to the root of the file: "topic.htm".

Run chrooted over the help folder, chmcmd stores each [ALIAS] topic in
#STRINGS as "/topic.htm". Readers of the map put the "/" in front of the name
themselves (Wine's hhctrl only when it is missing, others always), so a name
that already starts with one may open nothing. The strings stay where they
are; #IVB is rewritten to point one byte further, past the "/", and stored
uncompressed at the end of the file, since the compressed section cannot be
rewritten here. Only the directory entry of #IVB changes, inside its chunk.
Usage: chm-context-map.py <file.chm>"""
import struct
import sys

from chm import chm, chmlib


def encint(n):
    out = [n & 0x7F]
    while n > 0x7F:
        n >>= 7
        out.append(0x80 | (n & 0x7F))
    return bytes(reversed(out))


def decint(b, p):
    n = 0
    while True:
        c = b[p]
        p += 1
        n = (n << 7) | (c & 0x7F)
        if c < 0x80:
            return n, p


def read(f, name):
    ok, ui = f.ResolveObject(name)
    if ok != chmlib.CHM_RESOLVE_SUCCESS:
        sys.exit(f"chm-context-map: no {name.decode()} in the file")
    return f.RetrieveObject(ui)[1]


path = sys.argv[1]
f = chm.CHMFile()
if not f.LoadCHM(path.encode()):
    sys.exit(f"chm-context-map: cannot open {path}")
ivb, strings = read(f, b"/#IVB"), read(f, b"/#STRINGS")
f.CloseCHM()

size = struct.unpack_from("<I", ivb)[0]
words = list(struct.unpack_from(f"<{size // 4}I", ivb, 4))
for i in range(1, len(words), 2):
    if strings[words[i]:words[i] + 1] == b"/":
        words[i] += 1
new_ivb = struct.pack(f"<I{len(words)}I", size, *words)
if new_ivb == ivb:
    sys.exit(0)

data = bytearray(open(path, "rb").read())
hs0, _, directory, _ = struct.unpack_from("<4Q", data, 0x38)
content = struct.unpack_from("<Q", data, 0x58)[0]
chunk_size, density = struct.unpack_from("<2I", data, directory + 0x10)
chunks = struct.unpack_from("<I", data, directory + 0x2C)[0]

for c in range(chunks):
    base = directory + 0x54 + c * chunk_size
    chunk = data[base:base + chunk_size]
    if chunk[:4] != b"PMGL":
        continue
    end = chunk_size - struct.unpack_from("<I", chunk, 4)[0]
    entries, p = [], 0x14
    while p < end:
        start = p
        n, p = decint(chunk, p)
        name = bytes(chunk[p:p + n])
        p += n
        for _ in range(3):  # section, offset, length
            _, p = decint(chunk, p)
        entries.append((start, name, bytes(chunk[start:p])))
    if not any(name == b"/#IVB" for _, name, _ in entries):
        continue
    count = struct.unpack_from("<H", chunk, chunk_size - 2)[0]
    slots = count // (1 + (1 << density))
    qref = [struct.unpack_from("<H", chunk, chunk_size - 4 - 2 * k)[0] for k in range(slots)]
    starts = [s for s, _, _ in entries]
    if count != len(entries) or any(q + 0x14 not in starts for q in qref):
        sys.exit("chm-context-map: unexpected directory chunk layout")

    body, moved = bytearray(), {}
    for start, name, raw in entries:
        moved[start] = 0x14 + len(body)
        if name == b"/#IVB":
            raw = encint(len(name)) + name + encint(0) + encint(len(data) - content) + encint(len(new_ivb))
        body += raw
    new_end = 0x14 + len(body)
    if new_end > chunk_size - 2 - 2 * slots:
        sys.exit("chm-context-map: no room in the directory chunk")
    chunk[0x14:chunk_size] = bytes(chunk_size - 0x14)
    chunk[0x14:new_end] = body
    struct.pack_into("<I", chunk, 4, chunk_size - new_end)
    struct.pack_into("<H", chunk, chunk_size - 2, count)
    for k, q in enumerate(qref):
        struct.pack_into("<H", chunk, chunk_size - 4 - 2 * k, moved[q + 0x14] - 0x14)
    data[base:base + chunk_size] = chunk
    break
else:
    sys.exit("chm-context-map: #IVB not found in the directory")

data += new_ivb
struct.pack_into("<Q", data, hs0 + 8, len(data))
open(path, "wb").write(data)

f = chm.CHMFile()
if not f.LoadCHM(path.encode()) or read(f, b"/#IVB") != new_ivb:
    sys.exit("chm-context-map: the rewritten file does not read back")
