"""Every example's answer to a wrong call: a message that names the option
or file, exit 2, and nothing created. And --help: every option explained,
with example lines."""
import os
import shutil
import unittest

import example_support as ex

# (program, arguments, a text the message must hold). "net" is an imported
# network, "roads.shp" its input, "pts.csv" a point list. kovra-route's own
# table is in test_kovra_route.cpp.
BAD_CALLS = [
    ("kovra-import", [], "-o OUTDIR is missing"),
    ("kovra-import", ["-o", "out"], "no INPUT file"),
    ("kovra-import", ["-o"], "-o needs a value"),
    ("kovra-import", ["-o", "out", "--zfrom"], "--zfrom needs a value"),
    ("kovra-import", ["-o", "out", "--frobnicate", "roads.shp"], "unknown option --frobnicate"),
    ("kovra-import", ["-o", "out", "--zfrom", "x1", "--zto", "2", "roads.shp"], "--zfrom: 'x1' is not a whole number"),
    ("kovra-import", ["-o", "out", "--zfrom", "-1", "--zto", "2", "roads.shp"], "--zfrom: -1 is out of range"),
    ("kovra-import", ["-o", "out", "--zfrom", "1", "roads.shp"], "--zfrom needs --zto"),
    ("kovra-import", ["-o", "out", "--zto", "1", "roads.shp"], "--zto needs --zfrom"),
    ("kovra-import", ["-o", "out", "--key", "12k", "roads.shp"], "--key: '12k' is not a whole number"),
    ("kovra-import", ["-o", "out", "--unit", "cubits", "roads.shp"], "--unit: unknown unit cubits"),
    ("kovra-import", ["-o", "out", "nothere.shp"], "INPUT: no such file: nothere.shp"),
    ("kovra-import", ["-o", "roads.shp", "roads.shp"], "-o: not a folder: roads.shp"),
    ("kovra-open", [], "NETDIR is missing"),
    ("kovra-open", ["--key"], "--key needs a value"),
    ("kovra-open", ["--key", "0x", "net"], "--key: '0x' is not a whole number"),
    ("kovra-open", ["--verbose", "net"], "unknown option --verbose"),
    ("kovra-open", ["net", "net2"], "more than one NETDIR"),
    ("kovra-open", ["nothere"], "NETDIR: no such folder: nothere"),
    ("kovra-attributes", [], "-d NETDIR is missing"),
    ("kovra-attributes", ["-d"], "-d needs a value"),
    ("kovra-attributes", ["-d", "net", "--attribute", "roads.dbf"], "--attribute needs a value"),
    ("kovra-attributes", ["-d", "net", "--limit", "10", "roads.dbf", "A"], "--limit: 10 is out of range"),
    ("kovra-attributes", ["-d", "net", "--roadname", "one", "roads.dbf", "A"], "--roadname: 'one' is not a whole number"),
    ("kovra-attributes", ["-d", "net", "--show", "-3"], "--show: -3 is out of range"),
    ("kovra-attributes", ["-d", "net", "--colour", "red"], "unknown option --colour"),
    ("kovra-attributes", ["-d", "nothere"], "-d: no such folder: nothere"),
    ("kovra-attributes", ["-d", "net", "--attribute", "nothere.dbf", "A"], "--attribute: no such file: nothere.dbf"),
    ("kovra-attributes", ["-d", "net", "--named"], "--named needs --roadname"),
    ("kovra-route", ["net", "--matrix", "pts.csv", "--format", "shp"], "--format shp needs -o FILE"),
]

# Options each --help must explain.
OPTIONS = {
    "kovra-import": ["-o", "--zfrom", "--zto", "--unit", "--loops", "--key", "--skip-index", "--help"],
    "kovra-open": ["--key", "--no-index", "--help"],
    "kovra-attributes": ["-d", "--attribute", "--limit", "--roadname", "--externalid", "--key", "--show",
                         "--named", "--help"],
    "kovra-route": ["--distance", "--time", "--speeds", "--turns", "--matrix", "--format", "-o", "--key", "--help"],
}


class Arguments(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        import tempfile
        cls.tmp = tempfile.TemporaryDirectory(prefix="kovra-examples-")
        cls.base = cls.tmp.name
        ex.make_input(40, os.path.join(cls.base, "roads.shp"))
        ex.run("kovra-import", ["-o", "net", "roads.shp"], cwd=cls.base, check=0)
        with open(os.path.join(cls.base, "pts.csv"), "w") as f:
            f.write("id,x,y\n1,100000,100000\n")

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_bad_calls(self):
        for prog, args, text in BAD_CALLS:
            with self.subTest(prog=prog, args=args):
                work = ex.temp_folder(self)
                for n in os.listdir(self.base):
                    src = os.path.join(self.base, n)
                    (shutil.copytree if os.path.isdir(src) else shutil.copy)(src, os.path.join(work, n))
                before = ex.listing(work)
                code, out, err = ex.run(prog, args, cwd=work)
                self.assertEqual(code, 2, err)
                self.assertIn(prog + ": " + text, err)
                self.assertIn("--help", err)
                self.assertEqual(out, "")
                self.assertEqual(ex.listing(work), before, "the call created or removed files")

    def test_help_explains_every_option(self):
        for prog, options in OPTIONS.items():
            with self.subTest(prog=prog):
                code, out, err = ex.run(prog, ["--help"])
                self.assertEqual(code, 0)
                self.assertEqual(err, "")
                self.assertTrue(out.startswith("usage: " + prog))
                for o in options:
                    # The option at the start of a line of the list, with its text after it.
                    self.assertRegex(out, r"\n  (-\w, )?%s\b[^\n]*\S" % o.replace("-", r"\-"))
                self.assertIn("\nexamples:\n  " + prog + " ", out)
                self.assertIn("Exit status", out)


if __name__ == "__main__":
    unittest.main()
