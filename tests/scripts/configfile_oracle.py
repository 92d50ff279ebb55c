#!/usr/bin/env python3
"""Independent reader of a network settings file ("kovra_config.ini").

Usage: configfile_oracle.py [--cp CODEPAGE] FILE...
For each file, after a line "file PATH": decodes the file (ANSI code page, default cp1252), recomputes the checksum over
every line but the last (h = (h*17 + unit) & 0xFFFF over UTF-16 code units),
unscrambles the values of an encrypted file and prints, in UTF-8, the lines
"header H", "checksum N" (stored), "computed N", "lines N", "crlf_only 0|1" and
one "value KEY=VALUE" per key line in file order.
"""
import sys

ALPHABET = 'RCv6/W0hOFlpUwQH4LB5bZnxNuf3MA79YV2d8EjgDk1cKsyqoItiXzGSTaJrP+em'


def split_lines(text):
    lines, start, i = [], 0, 0
    while i < len(text):
        if text[i] in '\r\n':
            lines.append(text[start:i])
            i += 2 if text[i] == '\r' and text[i + 1:i + 2] == '\n' else 1
            start = i
        else:
            i += 1
    if start < len(text):
        lines.append(text[start:])
    return lines


def hash16(text):
    data = text.encode('utf-16-le', 'surrogatepass')
    h = 0
    for k in range(0, len(data), 2):
        h = (h * 17 + (data[k] | data[k + 1] << 8)) & 0xFFFF
    return h


def unscramble(t, codec):
    acc = n = 0
    out = bytearray()
    for ch in t:
        v = ALPHABET.find(ch)
        if v < 0:
            break
        acc = acc << 6 | v
        n += 6
        if n > 7:
            n -= 8
            out.append((acc >> n) & 0xFF)
            acc &= (1 << n) - 1
    return out.decode(codec, 'replace')


def report(path, codec):
    raw = open(path, 'rb').read()
    text = raw.decode(codec)
    lines = split_lines(text)
    values = {}
    for line in lines[1:]:
        key, _, value = line.partition('=')
        values[key] = value
    encrypted = values.get('encrypted') == '1'
    if encrypted:
        for key in values:
            if key != 'encrypted':
                values[key] = unscramble(values[key], codec)
    crlf_only = (raw.count(b'\r\n') == len(lines) and raw.count(b'\r') == len(lines)
                 and raw.count(b'\n') == len(lines))
    out = ['file ' + path,
           'header ' + (lines[0] if lines else ''),
           'checksum %s' % values.get('checksum', '-1'),
           'computed %d' % hash16(''.join(lines[:-1])),
           'lines %d' % len(lines),
           'crlf_only %d' % crlf_only]
    out += ['value %s=%s' % kv for kv in values.items()]
    sys.stdout.buffer.write(('\n'.join(out) + '\n').encode('utf-8'))


def main():
    args = sys.argv[1:]
    codec = 'cp1252'
    if args[:1] == ['--cp']:
        codec = 'cp' + args[1]
        args = args[2:]
    for path in args:
        report(path, codec)


if __name__ == '__main__':
    main()
