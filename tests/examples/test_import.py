"""kovra-import when no network can be written: exit 1 with the reason,
and the output folder as it was (not made when it was missing, an earlier
network in it untouched)."""
import os
import unittest

import example_support as ex

HEADER = ('Version 300\nCharset "WindowsLatin1"\nDelimiter ","\n'
          'CoordSys NonEarth Units "m" Bounds (0, 0) (100, 100)\nColumns 1\n  id Integer\n')

# (name, MIF text, MID text, reason in the message)
NO_NETWORK = [
    ("empty", HEADER + "Data\n", "", "the input holds no object"),
    ("points only", HEADER + "Data\nPoint 1 1\nPoint 2 2\n", "1\n2\n", "none of the 2 objects can be used: 2 not a line"),
    ("damaged Data line", HEADER + "Dat a\nLine 1 1 2 2\n", "1\n", "the input holds no object"),
    ("only a loop", HEADER + "Data\nPline 3\n1 1\n5 5\n1 1\n", "1\n",
     "none of the 1 objects can be used: 1 loop links (see --loops)"),
]


class NoNetwork(unittest.TestCase):
    def test_no_network_written(self):
        for name, mif, mid, reason in NO_NETWORK:
            with self.subTest(name):
                work = ex.temp_folder(self)
                with open(os.path.join(work, "in.mif"), "w") as f:
                    f.write(mif)
                with open(os.path.join(work, "in.mid"), "w") as f:
                    f.write(mid)
                before = ex.listing(work)
                code, out, err = ex.run("kovra-import", ["-o", "out/net", "in.mif"], cwd=work)
                self.assertEqual(code, 1, err)
                self.assertIn("kovra-import: no network was written: " + reason, err)
                self.assertEqual(ex.listing(work), before)

    def test_earlier_network_stays(self):
        work = ex.temp_folder(self)
        ex.make_input(30, os.path.join(work, "roads.shp"))
        ex.run("kovra-import", ["-o", "net", "roads.shp"], cwd=work, check=0)
        _, opened, _ = ex.run("kovra-open", ["net"], cwd=work, check=0)
        with open(os.path.join(work, "in.mif"), "w") as f:
            f.write(HEADER + "Data\n")
        open(os.path.join(work, "in.mid"), "w").close()
        before = ex.listing(work)
        code, _, err = ex.run("kovra-import", ["-o", "net", "in.mif"], cwd=work)
        self.assertEqual(code, 1, err)
        self.assertEqual(ex.listing(work), before)
        self.assertEqual(ex.run("kovra-open", ["net"], cwd=work, check=0)[1], opened)

    def test_failed_import_leaves_nothing(self):
        # A shapefile without its .shx fails in the import's own checks.
        work = ex.temp_folder(self)
        ex.make_input(30, os.path.join(work, "roads.shp"))
        os.remove(os.path.join(work, "roads.shx"))
        before = ex.listing(work)
        code, _, err = ex.run("kovra-import", ["-o", "a/b", "roads.shp"], cwd=work)
        self.assertEqual(code, 1, err)
        self.assertIn("roads.shx", err)
        self.assertEqual(ex.listing(work), before)


if __name__ == "__main__":
    unittest.main()
