#!/usr/bin/env python3
"""Independent check of a road-name pair.

usage: roadname_oracle.py VALUES NAMEFILE NUMBERFILE [--collation]

VALUES holds the input column, one value per line (UTF-8), link 1 first.
Decodes both files with struct and checks them against the values: one Int32
per link, little-endian; every distinct value once (an empty value as one
blank) in UTF-16LE records padded with zero bytes to twice the longest name's
length in UTF-16 code units; link k's number names the record of its value.
With --collation the records must also follow ICU's root collator at tertiary
strength (PyICU), names it calls equal ordered by UTF-16 code unit.
Prints "ok", or the faults found and exits 1.
"""
import functools
import struct
import sys


def units(s):
    b = s.encode("utf-16-le")
    return struct.unpack("<%dH" % (len(b) // 2), b)


def main():
    values_path, name_path, number_path = sys.argv[1:4]
    collation = "--collation" in sys.argv[4:]
    with open(values_path, encoding="utf-8", newline="\n") as f:
        values = [v if v else " " for v in f.read().split("\n")[:-1]]
    names = open(name_path, "rb").read()
    numbers = open(number_path, "rb").read()
    faults = []

    if len(numbers) != 4 * len(values):
        faults.append("number file holds %d bytes for %d links" % (len(numbers), len(values)))
    ids = struct.unpack("<%di" % (len(numbers) // 4), numbers[: len(numbers) // 4 * 4])
    distinct = sorted(set(values))
    width = 2 * max(len(units(v)) for v in distinct)
    if len(names) != width * len(distinct):
        faults.append("name file holds %d bytes, expected %d names of %d" % (len(names), len(distinct), width))
    records = []
    for r in range(len(names) // width):
        raw = struct.unpack("<%dH" % (width // 2), names[r * width:(r + 1) * width])
        n = len(raw)
        while n and raw[n - 1] == 0:
            n -= 1
        if 0 in raw[:n]:
            faults.append("record %d has a zero unit inside" % (r + 1))
        records.append(struct.pack("<%dH" % n, *raw[:n]).decode("utf-16-le", "surrogatepass"))
    if sorted(records) != distinct:
        faults.append("records are not the distinct values")
    for k, (v, i) in enumerate(zip(values, ids)):
        if not 1 <= i <= len(records) or records[i - 1] != v:
            faults.append("link %d: id %d does not name %r" % (k + 1, i, v))

    if collation:
        import icu
        coll = icu.Collator.createInstance(icu.Locale.getRoot())
        coll.setStrength(icu.Collator.TERTIARY)

        def order(a, b):
            c = coll.compare(a, b)
            if c:
                return c
            ua, ub = units(a), units(b)
            return (ua > ub) - (ua < ub)

        expected = sorted(distinct, key=functools.cmp_to_key(order))
        if records != expected:
            faults.append("records %r, collator order %r" % (records, expected))

    if faults:
        print("\n".join(faults[:20]))
        sys.exit(1)
    print("ok")


main()
