#!/usr/bin/env python3
"""Writes text files whose characters and line breaks straddle read-block
boundaries, plus the lines python's codecs decode from them.

usage: textfilereader_oracle.py OUTDIR

OUTDIR/cases.txt lists "name codepage" per case; NAME.bin holds the file and
NAME.expected its lines in UTF-8, one per line. Lines are split at CR LF, CR or
LF; a final break adds no line and neither does an empty last line.
"""
import os
import re
import sys

CODEPAGES = {"utf-8": 65001, "utf-16-le": 1200, "cp932": 932, "cp1252": 1252,
             "cp1251": 1251, "gbk": 936, "cp949": 949, "cp950": 950}


def lines_of(text):
    parts = re.split(r"\r\n|\r|\n", text)
    if parts and parts[-1] == "":
        parts.pop()
        if parts and parts[-1] == "":
            parts.pop()
    return parts


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    manifest = []

    def case(name, encoding, data):
        text = data.decode(encoding, errors="replace")
        with open(os.path.join(out, name + ".bin"), "wb") as f:
            f.write(data)
        with open(os.path.join(out, name + ".expected"), "w", encoding="utf-8", newline="\n") as f:
            for line in lines_of(text):
                f.write(line + "\n")
        manifest.append("%s %d" % (name, CODEPAGES[encoding]))

    samples = {
        "utf-8": "é€😀a\r\nb\u00df\r\rZ\u4e2d\n\n😀😀\r\n",
        "utf-16-le": "é😀\r\n€\r\r\U0001F600x\n\n\u4e2d😀\r\n",
        "cp932": "日本語\r\nｱｲ\r\rabc表\n\n漢字かな\r\n",
        "gbk": "中文\r\n测试\r\rabc\n\n汉字\r\n",
        "cp949": "한국어\r\n테스트\r\rabc\n\n가나\r\n",
        "cp950": "中文\r\n測試\r\rabc\n\n漢字\r\n",
        "cp1252": "Ärger €\r\nœ\r\rÿ\n\n…\r\n",
        "cp1251": "Привет\r\nЖ\r\rя\n\nЁ\r\n",
    }
    for encoding, sample in samples.items():
        body = (sample * 3).encode(encoding)
        # Every alignment against an 8-byte block, and straddling byte 4096.
        for off in range(8):
            case("%s_off%d" % (encoding, off), encoding, b"x" * off + body)
        unit = 2 if encoding == "utf-16-le" else 1
        for k in range(1, 8):
            pad = ("p" * ((4096 - k) // unit)).encode(encoding)
            case("%s_edge%d" % (encoding, k), encoding, pad + body)

    # Undecodable input: one U+FFFD per maximal ill-formed subpart.
    case("utf-8_invalid", "utf-8",
         b"ok\xff\xfe\n\xe2\x82a\n\xf0\x9f\x98\nx\xed\xa0\x80y\n\xc0\xaf\n\xf4\x90\x80\x80\nend\xe2\x82")
    case("utf-16-le_invalid", "utf-16-le",
         "a".encode("utf-16-le") + b"\x00\xdc" + "\n".encode("utf-16-le") +
         b"\x00\xd8" + "A\n".encode("utf-16-le") + "z".encode("utf-16-le") + b"\x00\xd8")
    case("utf-16-le_odd", "utf-16-le", "ab\n".encode("utf-16-le") + b"c")
    case("cp932_invalid", "cp932", "日".encode("cp932") + b"\x81\n" + b"a\x82")

    with open(os.path.join(out, "cases.txt"), "w") as f:
        f.write("\n".join(manifest) + "\n")


if __name__ == "__main__":
    main()
