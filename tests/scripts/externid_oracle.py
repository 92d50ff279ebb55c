#!/usr/bin/env python3
"""Checks an external-id index pair byte for byte, independently of the
library: externid_oracle.py DIR IDS, IDS holding the expected key of every
link, one per line (decimal for integer ids). Prints "ok" or the fault."""
import struct
import sys


def hash_string(units):
    h = 0
    for c in units:
        h = (h * 17 + c) & 255
    return h


def units(text):
    b = text.encode("utf-16-le")
    return list(struct.unpack("<%dH" % (len(b) // 2), b))


def strip(u):
    while u and u[0] <= 0x20:
        u = u[1:]
    while u and u[-1] <= 0x20:
        u = u[:-1]
    return u


def main():
    d, idsfile = sys.argv[1], sys.argv[2]
    want = open(idsfile, encoding="utf-8").read().split("\n")[:-1]
    i1 = open(d + "/index1.bin", "rb").read()
    i2 = open(d + "/index2.bin", "rb").read()
    header = struct.unpack_from("<i", i1, 0)[0]
    kind, large = header & 255, (header >> 8) & 255
    if kind in (0, 255):
        large = 0
    n = len(want)
    keys = []
    if kind == 0 or kind == 255:
        size = 4 if kind == 0 else 8
        if header not in (0, -1) or len(i1) != 4 + size * n:
            return "index1.bin: header %d, size %d for %d ids" % (header, len(i1), n)
        for k in range(n):
            v = struct.unpack_from("<i" if size == 4 else "<q", i1, 4 + size * k)[0]
            if v != int(want[k]):
                return "link %d: id %d, expected %s" % (k + 1, v, want[k])
            keys.append((v & 255, v))
    else:
        w = kind
        if header >> 16 or large > 1 or len(i1) != 4 + 2 * w * n:
            return "index1.bin: header %d, size %d for %d ids" % (header, len(i1), n)
        for k in range(n):
            u = list(struct.unpack_from("<%dH" % w, i1, 4 + 2 * w * k))
            key = units(want[k])
            if u != key + [0] * (w - len(key)):
                return "link %d: stored %r, expected %r padded with U+0000" % (k + 1, u, want[k])
            keys.append((hash_string(key), strip(u)))
    if struct.unpack_from("<i", i2, 0)[0] != 256:
        return "index2.bin: bucket count"
    osize = 8 if large else 4
    offs = list(struct.unpack_from("<256" + ("q" if large else "i"), i2, 4))
    first = 4 + 256 * osize
    entries = list(struct.unpack_from("<%di" % ((len(i2) - first) // 4), i2, first))
    if sorted(entries) != list(range(1, n + 1)):
        return "index2.bin: the entries are not every link once"
    bounds = offs + [len(i2)]
    if offs[0] != first:
        return "index2.bin: first offset %d" % offs[0]
    for b in range(256):
        part = entries[(bounds[b] - first) // 4:(bounds[b + 1] - first) // 4]
        for link in part:
            if keys[link - 1][0] != b:
                return "link %d in bucket %d, hashes to %d" % (link, b, keys[link - 1][0])
        ks = [keys[link - 1][1] for link in part]
        if any(ks[i] >= ks[i + 1] for i in range(len(ks) - 1)):
            return "bucket %d: ids do not ascend" % b
    return "ok"


print(main())
