#!/usr/bin/env python3
"""Writes the small DBF, DAT and NATIVEX tables the table-reader tests use.

Usage: dbffiles_fixtures.py OUTDIR

Every table is built byte by byte here, independently of the reader under test.
"""
import os
import struct
import sys


def field_bytes(value, width, pad=b' '):
    if isinstance(value, str):
        value = value.encode('latin-1')
    assert len(value) <= width, (value, width)
    return value + pad * (width - len(value))


def write_dbf(path, fields, records, lang=0x57, deleted=(), count=None,
              backlink=b'', cut=0, start=None, reclen=None):
    """fields: [(name, type, width, decimals)]; records: [[bytes or str per field]]."""
    reclen_real = 1 + sum(f[2] for f in fields)
    header_len = 32 + 32 * len(fields) + 1 + len(backlink)
    out = bytearray()
    out += bytes([3, 124, 1, 1])
    out += struct.pack('<i', len(records) if count is None else count)
    out += struct.pack('<HH', header_len if start is None else start,
                       reclen_real if reclen is None else reclen)
    out += bytes(17) + bytes([lang]) + bytes(2)
    assert len(out) == 32
    for name, ftype, width, dec in fields:
        d = bytearray(32)
        nb = name.encode('latin-1')
        d[0:len(nb)] = nb
        d[11] = ord(ftype)
        d[16] = width
        d[17] = dec
        out += d
    out += b'\r' + backlink
    for i, rec in enumerate(records):
        out += b'*' if i in deleted else b' '
        for (name, ftype, width, dec), v in zip(fields, rec):
            out += field_bytes(v, width)
    out += b'\x1a'
    data = bytes(out)
    if cut:
        data = data[:-cut]
    with open(path, 'wb') as f:
        f.write(data)


def write_dat(path, tab, fields, records, nativex=False, count=None, start=None, reclen=None):
    """fields: [(width, decimals)]; records: [bytes of the record without the flag]."""
    n = len(fields)
    bitmap = (n - 1) // 8 + 1 if nativex else 0
    natural = reclen is None
    if natural:
        reclen = 1 + bitmap + sum(w for w, d in fields)
    header_len = 32 + 32 * n + 1
    out = bytearray()
    if nativex:
        out += bytes([3, 0, 0, 0])
        out += struct.pack('<q', len(records) if count is None else count)
        out += struct.pack('<II', header_len if start is None else start, reclen)
        out += bytes(12)
    else:
        out += bytes([3, 124, 1, 1])
        out += struct.pack('<i', len(records) if count is None else count)
        out += struct.pack('<HH', header_len if start is None else start, reclen)
        out += bytes(20)
    assert len(out) == 32
    for w, dec in fields:
        d = bytearray(32)
        d[11] = ord('C')
        if nativex:
            d[16:20] = struct.pack('<i', w)
            d[20:24] = struct.pack('<i', dec)
        else:
            d[16] = w
            d[17] = dec
        out += d
    out += b'\r'
    for rec in records:
        assert not natural or len(rec) == reclen - 1 - bitmap, (len(rec), reclen)
        out += b' ' + bytes(bitmap) + rec
    with open(path, 'wb') as f:
        f.write(out)
    with open(os.path.splitext(path)[0] + '.tab', 'w', encoding='utf-8', newline='\r\n') as f:
        f.write(tab)


def main(outdir):
    os.makedirs(outdir, exist_ok=True)
    p = lambda name: os.path.join(outdir, name)

    # Start of data 97: two fields; blank, lenient and strict numbers; a deleted record.
    write_dbf(p('part.dbf'), [('num', 'N', 6, 0), ('dec', 'N', 6, 1)],
              [['', '  12.5'], ['    42', '  13.5'], ['   1,5', '   1,5'], ['   -17', '   -.5']],
              deleted={1})

    # The same bytes under different code-page sources: D0 96 is "Ж" in UTF-8.
    for name, lang in (('cp_lang1251.dbf', 0xC9), ('cp_lang1252.dbf', 0x57),
                       ('cp_lang620.dbf', 0x69), ('cp_lang895.dbf', 0x68), ('cp_nolang.dbf', 0x00)):
        write_dbf(p(name), [('TXT', 'C', 6, 0), ('N', 'N', 4, 0)],
                  [[b'\xd0\x96', '  12'], [b'\x00ABC', '   7']], lang=lang)

    # A Visual FoxPro style backlink area after the terminator.
    write_dbf(p('backlink.dbf'), [('A', 'C', 3, 0), ('B', 'N', 5, 2)],
              [['xyz', ' 1.25']], backlink=b'\x00' * 263)

    # The last record one byte short.
    write_dbf(p('short.dbf'), [('A', 'C', 4, 0), ('B', 'C', 4, 0)],
              [['aaaa', 'bbbb'], ['cccc', 'dddd']], cut=2)
    # Malformed headers.
    with open(p('tiny.dbf'), 'wb') as f:
        f.write(bytes([3, 124, 1, 1, 0, 0, 0, 0, 65, 0]))
    write_dbf(p('negcount.dbf'), [('A', 'C', 4, 0)], [['aaaa']], count=-1)
    write_dbf(p('lowstart.dbf'), [('A', 'C', 4, 0)], [['aaaa']], start=20)
    write_dbf(p('widefield.dbf'), [('A', 'C', 4, 0), ('B', 'C', 9, 0)], [['aaaa', 'bbbbbbbbb']], reclen=8)
    write_dat(p('datlowstart.dat'), '!table\n!charset WindowsLatin1\nDefinition Table\n  Type NATIVE\n'
              '  Fields 3\n    A Char (4) ;\n    B Char (4) ;\n    C Char (4) ;\n',
              [(4, 0), (4, 0), (4, 0)], [b'aaaabbbbcccc'], start=64)
    write_dat(p('natnegwidth.dat'), '!table\n!charset Neutral\nDefinition Table\n  Type NATIVEX\n'
              '  Fields 2\n    A Char (4) ;\n    B Char (4) ;\n',
              [(4, 0), (-4, 0)], [b'aaaa' + bytes(4)], nativex=True, reclen=10)
    write_dat(p('nattrunc.dat'), '!table\n!charset Neutral\nDefinition Table\n  Type NATIVEX\n'
              '  Fields 1\n    A Char (4) ;\n',
              [(4, 0)], [b'aaaa'], nativex=True, count=1 << 40)
    # Hostile headers: a table without records whose record and field claim
    # gigabytes; decimals far beyond the width; a numeric field of width 0.
    write_dat(p('natzerorec.dat'), '!table\n!charset Neutral\nDefinition Table\n  Type NATIVEX\n'
              '  Fields 1\n    A Char (4) ;\n', [(0x7FFFFFF0, 0)], [], nativex=True, reclen=0xFFFFFFFF)
    write_dat(p('natbigdec.dat'), '!table\n!charset Neutral\nDefinition Table\n  Type NATIVEX\n'
              '  Fields 2\n    D Decimal (0, 0) ;\n    A Char (4) ;\n',
              [(0, 2147483647), (4, 0)], [b'aaaa'], nativex=True)
    write_dbf(p('zerowidth.dbf'), [('Z', 'N', 0, 0), ('A', 'C', 2, 0)], [['', 'ab'], ['', 'cd']])
    write_dat(p('badfieldcount.dat'), '!table\n!charset Neutral\nDefinition Table\n  Type NATIVE\n'
              '  Fields x1\n    A Char (4) ;\n', [(4, 0)], [b'aaaa'])

    # Writable tables: decimal, integer-like and text fields.
    write_dbf(p('write.dbf'), [('D32', 'N', 3, 2), ('N5', 'N', 5, 0), ('N41', 'N', 4, 1),
                                ('TXT', 'C', 10, 0), ('N102', 'N', 10, 2), ('L', 'L', 1, 0),
                                ('DT', 'D', 8, 0)],
              [['0.0', '    0', ' 0.0', 'ABCDEFGHIJ', '      0.00', 'F', '20240101'] for _ in range(5)])

    # Three tables of one structure (3 and 5 records) and one with other widths.
    fields = [('ID', 'N', 5, 0), ('NAME', 'C', 8, 0)]
    write_dbf(p('seq1.dbf'), fields, [['%5d' % i, 'one%d' % i] for i in range(1, 4)])
    write_dbf(p('seq2.dbf'), fields, [['%5d' % i, 'two%d' % i] for i in range(1, 6)])
    write_dbf(p('seq3.dbf'), [('ID', 'N', 9, 2), ('NAME', 'C', 20, 0)], [['%9.2f' % 7.5, 'three']])
    write_dbf(p('seqcount.dbf'), [('ID', 'N', 5, 0)], [['    1']])
    write_dbf(p('seqname.dbf'), [('ID', 'N', 5, 0), ('NAMX', 'C', 8, 0)], [['    1', 'x']])
    write_dbf(p('seqtype.dbf'), [('ID', 'N', 5, 0), ('NAME', 'D', 8, 0)], [['    1', '20240101']])

    # NATIVEX: 9 fields (first at record byte 3), a 600-byte UTF-8 field and a
    # record over 70,000 bytes; UTF-8 named on the type line only.
    tab = ('!table\n!version 1500\n!charset Neutral\n\nDefinition Table\n'
           '  Type NATIVEX Charset "UTF-8"\n  Fields 9\n'
           '    Title Char (600) ;\n    Cnt Integer ;\n    Small SmallInt ;\n    Big LargeInt ;\n'
           '    Val Float ;\n    Ok Logical ;\n    Day Date ;\n    Clock Time ;\n    Tail Char (69400) ;\n')
    widths = [600, 4, 2, 8, 8, 1, 4, 4, 69400]
    recs = []
    for k, (title, cnt, small, big, val, ok, day, ms, tail) in enumerate([
            ('Ж' * 290 + 'end', -123456, -300, -(1 << 40) - 5, 2.5e-7, 1, (2024, 2, 29), 49530250, 'tail-1'),
            ('ß' + 'x' * 597, 7, 32767, 1 << 62, -1e300, 0, (1999, 12, 31), 0, 'Ω' * 30000)]):
        t = title.encode('utf-8')
        r = t + bytes(600 - len(t))
        r += struct.pack('<i', cnt) + struct.pack('<h', small) + struct.pack('<q', big)
        r += struct.pack('<d', val) + bytes([ok]) + struct.pack('<hBB', *day) + struct.pack('<i', ms)
        tb = tail.encode('utf-8')
        r += tb + bytes(69400 - len(tb))
        recs.append(r)
    write_dat(p('wide.dat'), tab, [(w, 0) for w in widths], recs, nativex=True)

    # A classic .dat in UTF-16 with a 10-byte text field and a decimal field.
    tab16 = ('!table\n!version 900\n!charset UTF-16\n\nDefinition Table\n  Type NATIVE Charset "UTF-16"\n'
             '  Fields 2\n    Name Char (10) ;\n    Amount Decimal (6, 2) ;\n')
    recs16 = []
    for name, amount in (('ABCDE', '  1.50'), ('\U0001F600xyz', ' -2.25')):
        b = name.encode('utf-16-le')
        recs16.append(b + bytes(10 - len(b)) + amount.encode('ascii'))
    write_dat(p('u16.dat'), tab16, [(10, 0), (6, 2)], recs16)

    # A .dat without its .tab.
    with open(p('orphan.dat'), 'wb') as f:
        f.write(bytes(64))


if __name__ == '__main__':
    main(sys.argv[1])
