"""The layouts of docs/network-format.md against networks the import wrote:
network_format.py reads each by those layouts alone and its counts must
equal the import report's and kovra-open's; the lengths must be the
polylines' lengths in km; the value and road-name files must give what
kovra-attributes reports."""
import math
import os
import re
import unittest

import example_support as ex
import network_format as nf


def report_figures(netdir):
    with open(os.path.join(netdir, "network_report.txt"), encoding="cp1252") as f:
        text = f.read()

    def figure(label):
        return re.search(r"^%s: *([0-9.]+)" % label, text, re.M).group(1)

    return {"links": int(figure("Links in database")), "nodes": int(figure("Nodes created")),
            "maxdegree": int(figure("Maximum degree")), "total_km": float(figure("Total length of streets")),
            "rejected": len(re.findall(r"^\(\d\) Object \d+ ", text, re.M))}


def opened(work, netdir):
    out = ex.run("kovra-open", [netdir], cwd=work, check=0)[1]
    return {k: int(v) for k, v in (l.split() for l in out.splitlines())}


class FormatNote(unittest.TestCase):
    def check_counts(self, work, netdir):
        net = nf.network(os.path.join(work, netdir))
        rep = report_figures(os.path.join(work, netdir))
        op = opened(work, netdir)
        for k in ("links", "nodes", "maxdegree"):
            self.assertEqual(net[k], rep[k], k)
            self.assertEqual(net[k], op[k], k)
        self.assertEqual(net["cells"], op["cells"])
        self.assertEqual(net["links"] - net["valid"], rep["rejected"])
        self.assertAlmostEqual(net["total_km"], rep["total_km"], delta=0.0015)
        return net

    def polyline(self, net, l):
        a, b = net["index"][l - 1], net["index"][l]
        pts = [(net["x"][net["from"][l]], net["y"][net["from"][l]])]
        pts += [(net["verts"][2 * j], net["verts"][2 * j + 1]) for j in range(a, b)]
        pts.append((net["x"][net["to"][l]], net["y"][net["to"][l]]))
        return pts

    def test_generated_shapefile_with_zlevels(self):
        work = ex.temp_folder(self)
        ex.make_input(400, os.path.join(work, "roads.shp"))
        ex.run("kovra-import", ["-o", "net", "--zfrom", "1", "--zto", "2", "roads.shp"], cwd=work, check=0)
        net = self.check_counts(work, "net")
        self.assertEqual(net["config"]["coordinateunit"], "Meter")
        # Lengths: the polyline in metres, in km, as a Single.
        for l in range(1, net["links"] + 1):
            pts = self.polyline(net, l)
            km = sum(math.dist(p, q) for p, q in zip(pts, pts[1:])) * 0.001
            self.assertAlmostEqual(net["length"][l], km, delta=km * 1e-6 + 1e-9, msg="link %d" % l)

    def test_rejected_objects_and_loops(self):
        # A point between two lines keeps its link number with length 0; a
        # loop is kept with --loops and takes two slots at its node.
        work = ex.temp_folder(self)
        with open(os.path.join(work, "in.mif"), "w") as f:
            f.write('Version 300\nCharset "WindowsLatin1"\nDelimiter ","\n'
                    'CoordSys NonEarth Units "m" Bounds (0, 0) (1000, 1000)\nColumns 1\n  id Integer\nData\n'
                    "Line 0 0 100 0\nPoint 5 5\nPline 3\n100 0\n150 50\n200 0\n"
                    "Pline 4\n200 0\n250 50\n250 -50\n200 0\n")
        with open(os.path.join(work, "in.mid"), "w") as f:
            f.write("1\n2\n3\n4\n")
        ex.run("kovra-import", ["-o", "net", "--loops", "in.mif"], cwd=work, check=0)
        net = self.check_counts(work, "net")
        self.assertEqual((net["links"], net["valid"], net["loops"]), (4, 3, 1))
        self.assertEqual((net["from"][2], net["to"][2], net["length"][2]), (0, 0, 0.0))
        self.assertEqual(net["index"], (0, 0, 0, 1, 3))
        self.assertEqual(net["maxdegree"], 3)

    def test_attribute_and_road_name_files(self):
        work = ex.temp_folder(self)
        ex.make_input(60, os.path.join(work, "roads.shp"))
        ex.run("kovra-import", ["-o", "net", "roads.shp"], cwd=work, check=0)
        out = ex.run("kovra-attributes", ["-d", "net", "--attribute", "roads.dbf", "id", "--roadname", "3",
                                          "roads.dbf", "name", "--show", "60"], cwd=work, check=0)[1]
        shown = re.findall(r'^link (\d+) attribute (\d+) .* name "(.*)"$', out, re.M)
        self.assertEqual(len(shown), 60)
        words = nf.struct.unpack("<60H", nf.read(os.path.join(work, "net"), "attribute.bin"))
        names = nf.road_names(os.path.join(work, "net"), 3, 60)
        for link, word, name in shown:
            self.assertEqual(words[int(link) - 1], int(word))
            self.assertEqual(names[int(link)], name)


if __name__ == "__main__":
    unittest.main()
