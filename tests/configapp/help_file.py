#!/usr/bin/python3
"""The compiled help file, read back with Debian's CHM library: every help
context that the program's controls set opens a topic of its own inside the
file, every entry of the table of contents is in the file, and nothing in the
file names a path of the machine that built it."""
import argparse
import re
import struct
import sys
from pathlib import Path

from chm import chm, chmlib

ap = argparse.ArgumentParser()
ap.add_argument("--chm", required=True)
ap.add_argument("--code", required=True, help="the program's sources")
ap.add_argument("--host-path", action="append", default=[])
args = ap.parse_args()

f = chm.CHMFile()
if not f.LoadCHM(args.chm.encode()):
    sys.exit(f"cannot open {args.chm}")


def read(name):
    ok, ui = f.ResolveObject(name)
    return f.RetrieveObject(ui)[1] if ok == chmlib.CHM_RESOLVE_SUCCESS else None


faults = []
contexts = sorted({int(n) for src in Path(args.code).glob("*.cpp")
                   for n in re.findall(r"SetHelpContext\((\d+)\)", src.read_text())})
if not contexts:
    faults.append("no help context found in the program's sources")

# #IVB: its length, then (context, offset of the topic's name in #STRINGS).
ivb, strings = read(b"/#IVB") or b"", read(b"/#STRINGS") or b""
size = struct.unpack_from("<I", ivb)[0] if len(ivb) >= 4 else 0
pairs = struct.unpack_from(f"<{size // 4}I", ivb, 4) if size + 4 <= len(ivb) else ()
targets = {ctx: strings[off:strings.index(b"\0", off)]
           for ctx, off in zip(pairs[::2], pairs[1::2])}

topics = {}
for ctx in contexts:
    # Named as Microsoft's compiler names them: readers put the "/" in front.
    name = targets.get(ctx)
    obj = b"/" + name if name else None
    body = read(obj) if name and not name.startswith(b"/") else None
    if body is None:
        faults.append(f"context {ctx} -> {name!r}: names no topic of the file")
        continue
    topics[obj] = topics.get(obj, []) + [ctx]
    words = re.sub(rb"<[^>]*>", b" ", body).split()
    if len(words) < 45:
        faults.append(f"context {ctx} -> {obj!r}: only {len(words)} words")
faults += [f"contexts {c} share the topic {t!r}" for t, c in topics.items() if len(c) > 1]

toc = (read(f.topics) if f.topics else None) or b""
entries = re.findall(rb'name="Local" value="([^"]+)"', toc)
faults += [f"contents entry {e!r} is not in the file" for e in entries if read(b"/" + e) is None]
faults += [f"topic {t!r} is not in the contents" for t in topics if t[1:] not in entries]
if not entries:
    faults.append("no table of contents")

names = []
chmlib.chm_enumerate(f.file, chmlib.CHM_ENUMERATE_ALL,
                     lambda h, ui, c: names.append(ui.path) or chmlib.CHM_ENUMERATOR_CONTINUE, None)
stored = [read(n) or b"" for n in names] + [Path(args.chm).read_bytes()]
for host in args.host_path:
    if any(host.encode() in blob for blob in stored):
        faults.append(f"the file stores the host path {host}")

print(f"{len(contexts)} contexts, {len(entries)} contents entries, {len(names)} objects")
for fault in faults:
    print("FAULT:", fault)
sys.exit(1 if faults else 0)
