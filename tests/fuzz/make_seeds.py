#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into tests/fuzz/corpus/<name>/.

Usage: make_seeds.py [name ...]   (default: every target below)

Seeds are small valid inputs in each target's input layout (see the comment at
the top of each fuzz_<name>.cpp); tables come from ogr2ogr and from the table
fixtures script of the tests. Reproducers of past findings live beside the seeds
under names starting with "crash-" and are never rewritten here.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, 'corpus')


def put(name, seed, data):
    folder = os.path.join(CORPUS, name)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, 'seed-' + seed), 'wb') as f:
        f.write(data)


TEXTS = {
    'lines': 'a\r\nb\nc',
    'crcr': 'a\r\r b',
    'empty_last': 'x\n\n',
    'umlaut': 'Stra\u00dfe\r\nK\u00f6ln\r\n',
    'cyrillic': '\u041c\u043e\u0441\u043a\u0432\u0430\n',
    'japanese': '\u6771\u4eac\u90fd\r\n\u5927\u962a\n',
    'chinese': '\u5317\u4eac\u5e02\n\u4e0a\u6d77\r',
}

# Selector bytes of fuzz_textreader.cpp: 65001, 1200, 1252, 1251, 932, 936.
PAGES = [('utf-8', 0), ('utf-16-le', 1), ('cp1252', 2), ('cp1251', 3), ('cp932', 4), ('gbk', 5)]


def textreader():
    for key, text in TEXTS.items():
        for enc, sel in PAGES:
            try:
                data = text.encode(enc)
            except UnicodeEncodeError:
                continue
            put('textreader', '%s-%s' % (key, enc), bytes([sel, 3]) + data)
    put('textreader', 'bom-utf8', bytes([0, 1]) + b'\xef\xbb\xbfa\nb')
    put('textreader', 'bom-utf16', bytes([1, 5]) + '\ufeffa\r\nb'.encode('utf-16-le'))
    put('textreader', 'bom-utf16be', bytes([1, 2]) + b'\xfe\xff' + 'ab\n'.encode('utf-16-be'))
    put('textreader', 'bad-utf8', bytes([0, 2]) + b'a\xe2\x82\nb\xf0\x9f\x98')


def codepage():
    # Selector bytes of fuzz_codepage.cpp: 65001, 1200, 1252, 1251, 1250, 437, 850,
    # 866, 874, 1253, 1255, 1256, 28591, 932, 936, 949, 950, 0.
    pages = [('utf-8', 0), ('utf-16-le', 1), ('cp1252', 2), ('cp1251', 3), ('cp1250', 4), ('cp437', 5),
             ('cp850', 6), ('cp866', 7), ('cp874', 8), ('cp1253', 9), ('cp1255', 10), ('cp1256', 11),
             ('latin-1', 12), ('cp932', 13), ('gbk', 14), ('cp949', 15), ('cp950', 16)]
    sample = 'Stra\u00dfe \u041c\u043e\u0441\u043a\u0432\u0430 \u6771\u4eac \ud55c\uad6d \u03b1\u03b2 \u05d0 \u0627 \u0e01'
    for enc, sel in pages:
        data = sample.encode(enc, errors='replace')
        put('codepage', enc, bytes([sel, 1, 2, 3, 5]) + data)
    put('codepage', 'utf8-text', bytes([2, 0, 0, 0, 0]) + sample.encode('utf-8'))


# Selector bytes of fuzz_csv.cpp: 1252, 65001, 1200, 932.
CSV_PAGES = {1252: 0, 65001: 1, 1200: 2, 932: 3}


def csv_seed(seed, page, files, ops=b'', csv_names=0):
    """A seed of fuzz_csv.cpp: code page, one to three files (csv_names: bit k
    names file k ".csv"), then the operations (one byte each: the kind in the
    low 3 bits, the field index + 2 above)."""
    assert 1 <= len(files) <= 3
    data = bytes([CSV_PAGES[page], len(files) - 1 | csv_names << 4])
    for f in files:
        data += struct.pack('<H', len(f)) + f
    put('csv', seed, data + ops)


def op(kind, field=0):
    return (field + 2) << 3 | kind


def csv():
    files = [b'id,name,z1,z2\r\n1,"Main ""St""",0,1\r\n2,Side,-1,2\r\n', b'', b'3, x ,9,-9\n4,"unclosed\n']
    csv_seed('three-files', 1252, files, bytes([0, 1, 2 << 3 | 2, 3 << 3 | 3, 4 << 3 | 4, 2 << 3 | 5, 2 << 3 | 6, 0, 0, 0]))
    # The first and third files named ".csv": split at commas only.
    named = [b'7,Main Street,  x y ,"q r"\r\n,\t,\r\n', b'a b,c\n', b'"Kings Road", 5\r\n']
    csv_seed('csv-names', 1252, named, bytes([1, 1, 1, 2 << 3 | 2]), csv_names=0b101)
    utf16 = 'a,b\r\n\u00e4,"c"\r\n'.encode('utf-16-le')
    csv_seed('utf16', 1200, [utf16], bytes([0, 1]))

    # The quoting rule: the comma-text table of the CSV tests, one line each,
    # read back split (kind 1), then as strings of the first fields (kind 2).
    quoting = ['1, "x, y",,z', 'a b', 'a,', 'a, ', '', '\"a\"b', '""""', '""', '"say ""hi""",2', ',a', 'a,,',
               '  x  ,  y  ', '"a b" "c"', 'Stra\u00dfe,"K\u00f6ln"', '"abc, d']
    text = '\r\n'.join(quoting).encode('utf-8')
    csv_seed('quoting', 65001, [text], bytes([op(1)] * 8 + [op(2, 1)] * 4 + [op(2, 0)] * 3))
    csv_seed('quoting-1252', 1252, ['\r\n'.join(quoting).encode('cp1252')], bytes([op(1)] * 15))
    csv_seed('quoting-nul-tab', 65001, [b'a\0b,c\n   \t \na\tb\rc\n'], bytes([op(1)] * 4))

    # Several files: empty ones skipped, lines read across the files, sizes
    # summed, Position growing over LF files.
    csv_seed('files-skip-empty', 65001, [b'', b'a\r\nb\r\n', b'c'], bytes([op(0), op(0), op(2), op(3)]))
    csv_seed('files-all-empty', 1252, [b'', b''])
    csv_seed('files-sizes', 1252, [b'x' * 99 + b'\n', b'', b'y' * 49 + b'\n'], bytes([op(0), op(0)]))
    csv_seed('files-lf', 65001, [b'a\nb\n', b'c\nd\n'], bytes([op(0)] * 4))

    # UTF-16: with and without a byte-order mark, one with a UTF-8 mark
    # (which switches the reading to UTF-8), a big-endian mark, a split over
    # files, a lone CR and an odd last byte.
    def le(t):
        return t.encode('utf-16-le')
    csv_seed('utf16-bom-quoted', 1200, [b'\xff\xfe' + le('1,"x, y",,z\r\n"say ""hi""",2\r\n')], bytes([op(1), op(1)]))
    csv_seed('utf16-utf8-bom', 1200, [b'\xef\xbb\xbf' + 'a,\u00e4\nb'.encode('utf-8')], bytes([op(1), op(0)]))
    csv_seed('utf16-big-endian', 1200, [b'\xfe\xff' + '1,2\n3,4'.encode('utf-16-be')], bytes([op(3, 1), op(3, 0)]))
    csv_seed('utf16-files', 1200, [le('a,b\r\n'), b'', b'\xff\xfe' + le('\u6771\u4eac,"c"\rd')],
             bytes([op(1), op(2, 1), op(0)]))
    csv_seed('utf16-odd', 1200, [le('1,0,-9\r\n0,0,9') + b'x'], bytes([op(6), op(6)]))

    # Typed reads: integers in every form the tests name, z-levels in and out
    # of range, and missing or negative field indexes.
    typed = (b'a,b,c\nx,"y z",w\n -42,$1F\n0x10\n65535\n65536\n-1\n255\n300\n12x\n'
             b'9223372036854775808\n-9223372036854775808\na,b\nafter\n')
    csv_seed('typed', 65001, [typed], bytes([op(2, 3), op(2, 1), op(3), op(3), op(4), op(4), op(4), op(5), op(5),
                                             op(3), op(3), op(3), op(2, -1), op(2)]))
    integers = ['0', '  7', '+7', '-0', '$ff', '-$10', '0XAb', '9223372036854775807', '7 ', '', ' ', '-', '$',
                '0x', '1e3', '1.0', '\t7', '$8000000000000000']
    csv_seed('integers', 65001, [''.join('"%s"\n' % t for t in integers).encode()], bytes([op(3)] * len(integers)))
    # Read_Z takes its second field from the operation's low two bits: 2 here.
    csv_seed('zlevels', 65001, [b'3,0,-9\n0,0,-10\n1\nx,0,2\n5,0,6\n'], bytes([op(6)] * 4 + [op(6, -1)]))


def inifile():
    cfg = (b'[kovra]\r\nversion=400\r\ncoordinateunit=Degrees\r\nlinkcount=12\r\n'
           b'xmin=-1.5\r\nymin=2\r\nxmax=3e2\r\nymax=4\r\n')
    ops = bytes([0, 0, 1, 1, 2, 5, b'v'[0], b'a'[0], b'l'[0], b'u'[0], b'e'[0],
                 2, 0, 1, 1, 2, 3, 0, 0, 0])
    put('inifile', 'config', bytes([1, len(ops)]) + ops + cfg)
    put('inifile', 'quotes', bytes([0, 0]) + b'[s]\nk = "quoted" \n[S]\nK=second\nnoequals\n[open\nx=1')
    put('inifile', 'utf16', bytes([0, 0]) + b'\xff\xfe' + '[\u00e4]\r\nk=\u00df\r\n'.encode('utf-16-le'))
    put('inifile', 'utf8bom', bytes([2, 0]) + b'\xef\xbb\xbf[kovra]\nencrypted=1\nversion=RCv6\n')


def networklist():
    rows = (b'[main]\r\noutputformat=2\r\n[Network_1]\r\nID=7\r\nPath=/n/seven/\r\nAttributes=1\r\n'
            b'ExternalID=9\r\nSpeed3=50.5\r\nTurn=/n/seven/t.txt\r\n[Network_2]\r\nID=3\r\nPath=/n/three/\r\n'
            b'[network_x]\r\nID=1\r\n')
    put('networklist', 'rows', bytes([0]) + rows)
    put('networklist', 'comma', bytes([1]) + b'\xef\xbb\xbf[NETWORK_5]\r\nid=2147483647\r\nspeed0=7,25\r\n'
        b'path="/quoted/"\r\nEncryption=0x10\r\n[Network_5]\r\nID=-4\r\n')
    put('networklist', 'odd', bytes([0]) + b'[Network_1]\nID=abc\nPath= /blank/ \nSpeed31=1e400\n[Network_0]\nID=4\nID=5\n')


def dbf():
    # Tables of the table-reader tests (python, byte by byte) and of ogr2ogr.
    tmp = tempfile.mkdtemp()
    try:
        subprocess.run([sys.executable, os.path.join(HERE, '..', 'scripts', 'dbffiles_fixtures.py'), tmp],
                       check=True)
        csv_path = os.path.join(tmp, 'src.csv')
        with open(csv_path, 'w', encoding='utf-8') as f:
            f.write('id,name,len,flag\n1,Stra\u00dfe,12.5,1\n2,"K\u00f6ln, Ring",-3.25,0\n')
        ogr = shutil.which('ogr2ogr')
        if ogr:
            subprocess.run([ogr, '-q', '-f', 'ESRI Shapefile', os.path.join(tmp, 'ogr.dbf'), csv_path,
                            '-lco', 'ENCODING=UTF-8'], check=True)
            subprocess.run([ogr, '-q', '-f', 'MapInfo File', os.path.join(tmp, 'ogrmi.tab'), csv_path],
                           check=True)
        for name in sorted(os.listdir(tmp)):
            stem, ext = os.path.splitext(name)
            path = os.path.join(tmp, name)
            if ext.lower() not in ('.dbf', '.dat') or os.path.getsize(path) > 8191:
                continue
            table = open(path, 'rb').read()
            flags = 4  # read and write
            head = b''
            if ext.lower() == '.dat':
                tab_path = os.path.join(tmp, stem + '.tab')
                if not os.path.exists(tab_path):
                    continue
                tab = open(tab_path, 'rb').read()[:4095]
                flags |= 1
                head += struct.pack('<H', len(tab)) + tab
            cpg_path = os.path.join(tmp, stem + '.cpg')
            if os.path.exists(cpg_path):
                cpg = open(cpg_path, 'rb').read()[:16]
                flags |= 2
                head += bytes([len(cpg)]) + cpg
            writes = bytes([0, 1, 0, 7, 0, 0, 0] + [0] * 8 + [3, 2, 1, 0, 0, 0, 0] + [0] * 8 + [2, b'x'[0], b'y'[0]])
            put('dbf', stem, bytes([flags]) + head + struct.pack('<H', len(table)) + table + writes)
    finally:
        shutil.rmtree(tmp)


def bufstream():
    import random
    # Window, limit selector, then operations: a few fixed runs and random ones.
    put('bufstream', 'write-seek-read', bytes([4, 0, 0, 10]) + b'ABCDEFGHIJ' +
        bytes([2, 0, 0, 0, 16, 1, 10, 9, 0]))
    put('bufstream', 'refused-seek', bytes([4, 1, 0, 10]) + b'ABCDEFGHIJ' +
        bytes([2, 0, 0, 1, 0x88, 0x13, 0, 2, b'X'[0], b'Y'[0], 6, 0]))
    put('bufstream', 'near-int64', bytes([8, 0, 2, 0, 0, 3, 5, 0, 8, 0, 1, 2, 3, 4, 5, 6, 7, 8, 3]))
    for seed in range(6):
        r = random.Random(seed)
        put('bufstream', 'random-%d' % seed, bytes([r.randrange(256) for _ in range(300)]))


def dbf_table(fields, rows):
    """A dBASE III table: fields as (name, type letter, width, decimals), rows of texts."""
    reclen = 1 + sum(f[2] for f in fields)
    head = struct.pack('<B3BIHH20x', 3, 126, 1, 1, len(rows), 32 + 32 * len(fields) + 1, reclen)
    for name, kind, width, dec in fields:
        head += struct.pack('<11sc4xBB14x', name.encode(), kind.encode(), width, dec)
    body = b''.join(b' ' + b''.join(v.encode().rjust(f[2]) for v, f in zip(row, fields)) for row in rows)
    return head + b'\r' + body + b'\x1a'


def columns():
    # Flags, the limit file as a piece (length byte, bytes), then the table.
    num = [('ID', 'N', 4, 0), ('T', 'N', 8, 3), ('NAME', 'C', 6, 0)]
    four = dbf_table(num, [(str(i), v, 'n%d' % i) for i, v in enumerate(['1.5', '0', '-2', '1E999'], 1)])
    three = dbf_table(num, [(str(i), '2.5', 'x') for i in range(1, 4)])
    logical = dbf_table([('B', 'L', 1, 0)], [('T',), ('F',), ('?',), ('Y',)])
    limit = bytes([4, 1, 2, 3, 255])
    put('columns', 'plain', bytes([1 << 3]) + limit + four)
    # Bits 6-7 pick the writes: Write2, Write3, Write4.
    for group in (1, 2, 3):
        put('columns', 'plain-writes%d' % group, bytes([1 << 3 | group << 6]) + limit + four)
        put('columns', 'logical-writes%d' % group, bytes([4 | group << 6]) + limit + logical)
    put('columns', 'keyed-mph', bytes([1 | 2 | 4 | (1 << 3)]) + limit + four)
    put('columns', 'ids', bytes([0]) + bytes([3, 1, 2, 3]) + four)
    put('columns', 'three-records', bytes([1 << 3]) + bytes([5, 0, 0, 0, 0, 0]) + three)
    put('columns', 'logical', bytes([4]) + limit + logical)
    put('columns', 'text-field', bytes([2 << 3]) + limit + four)


def zlevels():
    # Link count byte, then the input file.
    put('zlevels', 'crossing', bytes([7]) + b'1,4\n4,2\n3,7\n7,5\n0,0\n8,19\n18,10\n')
    put('zlevels', 'real_ids', bytes([4]) + b'1,123456,x\r\n123456,2\r\n3,-5\r\n-5,5\r\n')
    put('zlevels', 'short_line', bytes([3]) + b'1,2\n3\n4,5\n')
    put('zlevels', 'not_integer', bytes([2]) + b'1,2.5\n"3",$1F\n')
    put('zlevels', 'count', bytes([2]) + b'1,2\n')
    put('zlevels', 'many', bytes([15]) + b''.join(b'%d,%d\n' % (i, 100 + i) for i in range(15)))


def filesets():
    # Selector byte, then the piece of fuzz_filesets.cpp it selects.
    put('filesets', 'scan', b'\x00Version 300\nCharset "WindowsLatin1"\nColumns 3\n  Name Char(30)\n'
        b'  Born DateTime\n  Class Decimal(10,2)\nData\n')
    put('filesets', 'scan_both_words', b'\x00Charset "WindowsCyrillic" Columns 2\nColumns 9\n a integer\n')
    put('filesets', 'scan_bad_count', b'\x00Columns x\n a integer\n')
    put('filesets', 'shp_valid', b'\x01' + struct.pack('<H', 124) + b'\x03\x7b\x01\x01' + struct.pack('<I', 3))
    put('filesets', 'shp_short_shx', b'\x01' + struct.pack('<H', 60) + b'\x03\x7b\x01\x01' + struct.pack('<I', 0))
    put('filesets', 'shp_short_dbf', b'\x01' + struct.pack('<H', 100) + b'\x03\x7b\x01')
    classic = b'!table\n!version 300\nDefinition Table\n Type NATIVE\n'
    nativex = b'!table\n!version 1500\nDefinition Table\n type NATIVEX\n'
    put('filesets', 'tab_classic', b'\x02' + struct.pack('<H', 20) + bytes([len(classic)]) + classic +
        b'\x02\x7b\x01\x01' + struct.pack('<I', 5))
    put('filesets', 'tab_nativex', b'\x02' + struct.pack('<H', 80) + bytes([len(nativex)]) + nativex +
        b'\x02\x7b\x01\x01' + struct.pack('<Q', 10))
    put('filesets', 'lines', b'\x03\x07a,1\r\nb,2\n\nc\r\r\n\xc3\xa9\n\n')
    put('filesets', 'lines_long', b'\x03\x25' + b''.join(b'%d,"Road %d"\r\n' % (i, i * 7) for i in range(20)) +
        b'x\r' * 9 + b'\n\n\r\n')


TARGETS = {'textreader': textreader, 'codepage': codepage, 'csv': csv, 'inifile': inifile, 'networklist': networklist, 'dbf': dbf,
           'bufstream': bufstream, 'columns': columns, 'zlevels': zlevels,
           'filesets': filesets}


def main():
    names = sys.argv[1:] or list(TARGETS)
    for name in names:
        folder = os.path.join(CORPUS, name)
        if os.path.isdir(folder):
            for f in os.listdir(folder):
                if f.startswith('seed-'):
                    os.remove(os.path.join(folder, f))
        TARGETS[name]()


if __name__ == '__main__':
    main()
