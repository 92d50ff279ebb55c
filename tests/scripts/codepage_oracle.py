#!/usr/bin/env python3
"""Oracle for the code-page layer tests (python3 codecs, ICU uconv for 867/868).

  sbcs CP...         one line per page and byte: "cp byte decoded encoded" (hex); "-" for a
                     byte the page does not define; "encoded" is the byte that
                     python's encoder gives back for the decoded character
  replace CP...      UTF-8 hex of a probe text, then per page "cp hex" of its encoding
                     with errors='replace'
  mbcs CP OUTDIR     writes OUTDIR/cpN.bin (encoded sample) and OUTDIR/cpN.txt (UTF-8)
  fixed FILE         formats the doubles in FILE (raw little-endian) with '%.15g'
                     and, below 1e17, '%.Nf' with N = (0, 1, 2, 5, 10)[i % 5]
  hash MASK...       reads UTF-8 lines from stdin, prints the UTF-16 hash of each
                     line for each mask in turn
"""
import codecs
import struct
import subprocess
import sys

NAMES = {28591 + k: "iso8859_%d" % (k + 1) for k in range(9)}
NAMES.update({10000: "mac_roman", 10006: "mac_greek", 10007: "mac_cyrillic", 10029: "mac_latin2"})
ICU_ONLY = {867, 868}


def codec(cp):
    return NAMES.get(cp, "cp%d" % cp)


def uconv_table(cp):
    """Decodes bytes 0..255 in one uconv call; unassigned bytes come out as %XNN."""
    r = subprocess.run(["uconv", "-f", "ibm-%d" % cp, "-t", "utf-8", "--from-callback", "escape-icu"],
                       input=bytes(range(256)), capture_output=True, check=True)
    s = r.stdout.decode("utf-8")
    table, pos = [], 0
    for b in range(256):
        esc = "%%X%02X" % b
        if s.startswith(esc, pos):
            table.append(None)
            pos += len(esc)
        else:
            table.append(s[pos])
            pos += 1
    # ICU's IBM tables rotate these control bytes; Windows maps them to themselves.
    for b in (0x1A, 0x1C, 0x7F):
        table[b] = chr(b)
    return table


def sbcs(cp):
    """One line per byte: "cp byte decoded encoded" (hex) or "cp byte -"."""
    table = uconv_table(cp) if cp in ICU_ONLY else None
    for b in range(256):
        if table is not None:
            c = table[b]
            enc = b if c is not None else None
        else:
            try:
                c = bytes([b]).decode(codec(cp))
            except UnicodeDecodeError:
                c = None
            enc = c.encode(codec(cp))[0] if c is not None else None
        if c is None:
            print("%d %02x -" % (cp, b))
        else:
            print("%d %02x %04x %02x" % (cp, b, ord(c), enc))


PROBE = "A\u20ac\u00e9\u4e2d\U0001F600z\u0101?"


def replace(cps):
    print(PROBE.encode("utf-8").hex())
    for cp in cps:
        print(cp, PROBE.encode(codec(cp), errors="replace").hex())


def mbcs(cp, outdir):
    name = codec(cp)
    chars = []
    ranges = [(0x20, 0x7F), (0x3040, 0x30FF), (0xFF61, 0xFF9F), (0x4E00, 0x5200), (0xAC00, 0xAD00),
              (0x0391, 0x03C9), (0x0410, 0x044F), (0x2460, 0x2473), (0xFF01, 0xFF5E)]
    for lo, hi in ranges:
        for c in range(lo, hi):
            ch = chr(c)
            try:
                enc = ch.encode(name)
            except UnicodeEncodeError:
                continue
            if cp == 950 and len(enc) == 2 and 0xC6A1 <= (enc[0] << 8 | enc[1]) <= 0xC8FE:
                continue  # user-defined area: python and the Windows page differ
            if enc.decode(name) != ch:
                continue
            chars.append(ch)
    text = "".join(chars) + "\r\nend"
    with open("%s/cp%d.bin" % (outdir, cp), "wb") as f:
        f.write(text.encode(name))
    with open("%s/cp%d.txt" % (outdir, cp), "wb") as f:
        f.write(text.encode("utf-8"))


def fixed(path):
    """Value i (raw little-endian doubles in FILE) gives '%.15g' and, below 1e17,
    '%.Nf' with N = (0, 1, 2, 5, 10)[i % 5]."""
    import array
    values = array.array("d")
    with open(path, "rb") as f:
        values.frombytes(f.read())
    if sys.byteorder != "little":
        values.byteswap()
    decimals = (0, 1, 2, 5, 10)
    out = []
    for i, v in enumerate(values):
        if abs(v) < 1e17:  # fixed texts of huge values are only long
            out.append("%.15g %.*f" % (v, decimals[i % 5], v))
        else:
            out.append("%.15g" % v)
    sys.stdout.write("\n".join(out) + "\n")


def hash_lines(masks):
    lines = [l for l in sys.stdin.buffer.read().decode("utf-8").split("\n") if l != ""]
    for mask in masks:
        for line in lines:
            h = 0
            units = line.encode("utf-16-le")
            for i in range(0, len(units), 2):
                h = (h * 17 + (units[i] | units[i + 1] << 8)) & 0xFFFFFFFF & mask
            print(h)


if __name__ == "__main__":
    cmd = sys.argv[1]
    if cmd == "sbcs":
        for arg in sys.argv[2:]:
            sbcs(int(arg))
    elif cmd == "replace":
        replace([int(a) for a in sys.argv[2:]])
    elif cmd == "mbcs":
        mbcs(int(sys.argv[2]), sys.argv[3])
    elif cmd == "fixed":
        fixed(sys.argv[2])
    elif cmd == "hash":
        hash_lines([int(a) for a in sys.argv[2:]])
