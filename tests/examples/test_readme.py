"""The command lines of the README's "Your own data" section, run as they
stand (with the built examples and the source tree's scripts) in an empty
folder: each must succeed, and what they leave must be what the text says."""
import json
import os
import re
import subprocess
import unittest

import example_support as ex


def section_commands():
    with open(os.path.join(ex.SOURCE, "README.md"), encoding="utf-8") as f:
        text = f.read()
    section = re.search(r"^## Your own data\n(.*?)^## ", text, re.M | re.S).group(1)
    return [l[4:] for l in section.splitlines() if l.startswith("    ") and l.strip()]


class Readme(unittest.TestCase):
    def test_own_data_lines(self):
        commands = section_commands()
        self.assertIn("kovra-import -o mynet roads.shp", commands)
        self.assertTrue(any(c.startswith("kovra-route mynet --matrix") for c in commands))
        work = ex.temp_folder(self)
        script = "set -euo pipefail\n" + "\n".join(
            c.replace("$PWD/build/examples", ex.BIN).replace("scripts/", os.path.join(ex.SOURCE, "scripts") + "/")
            for c in commands) + "\n"
        p = subprocess.run(["bash", "-c", script], cwd=work, capture_output=True, timeout=300)
        self.assertEqual(p.returncode, 0, p.stderr.decode("utf-8", "replace"))

        out = p.stdout.decode("utf-8", "replace")
        self.assertRegex(out, r"\nlinks \d+\nnodes \d+\nmaxdegree \d+\ncells \d+\n")
        self.assertIn(' name "', out)
        with open(os.path.join(work, "route.geojson"), encoding="utf-8") as f:
            layer = json.load(f)
        self.assertEqual(len(layer["features"]), 1)
        self.assertIn(layer["features"][0]["geometry"]["type"], ("LineString", "MultiLineString"))
        self.assertGreater(float(layer["features"][0]["properties"]["Distance"]), 0)
        info = subprocess.run(["ogrinfo", "-ro", "-al", "-so", os.path.join(work, "route.shp")],
                              capture_output=True, text=True, timeout=60)
        self.assertIn("Feature Count: 1", info.stdout)
        with open(os.path.join(work, "matrix.csv"), encoding="utf-8") as f:
            rows = f.read().splitlines()
        self.assertEqual(len(rows), 1 + 3 * 2)
        self.assertTrue(rows[0].startswith('"ID_from","ID_to","Distance"'))


if __name__ == "__main__":
    unittest.main()
