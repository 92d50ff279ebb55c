"""Prints an INI file as python's configparser reads it (UTF-8 with an
optional byte order mark, keys as written): "[section]" and "key=value"
lines in file order. Fails on a file configparser refuses."""
import configparser
import sys

parser = configparser.ConfigParser(interpolation=None, strict=True)
parser.optionxform = str
with open(sys.argv[1], encoding="utf-8-sig") as f:
    parser.read_file(f)
out = []
for section in parser.sections():
    out.append("[" + section + "]")
    for key, value in parser.items(section, raw=True):
        out.append(key + "=" + value)
sys.stdout.buffer.write(("\n".join(out) + "\n").encode("utf-8"))
