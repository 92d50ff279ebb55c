"""What the example tests share: where the programs are, running one, and a
small generated road network (scripts/make-network-input) to run them on."""
import os
import subprocess
import sys
import tempfile

BIN = os.path.abspath(os.environ.get("KOVRA_EXAMPLES_BIN", "."))
SOURCE = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))


def program(name):
    return os.path.join(BIN, name)


def run(name, args, cwd=None, check=None):
    """Runs example `name`; returns (exit code, stdout, stderr) as text."""
    p = subprocess.run([program(name)] + list(args), cwd=cwd, capture_output=True, timeout=120)
    out = p.stdout.decode("utf-8", "replace")
    err = p.stderr.decode("utf-8", "replace")
    if check is not None and p.returncode != check:
        raise AssertionError("%s %s gave %d, not %d\n%s%s" % (name, " ".join(args), p.returncode, check, out, err))
    return p.returncode, out, err


def make_input(links, path, *ogr_args):
    """Writes a generated road network of about `links` links to path."""
    subprocess.run([sys.executable, os.path.join(SOURCE, "scripts", "make-network-input"), str(links), path]
                   + list(ogr_args), check=True, capture_output=True, timeout=120)


def listing(folder):
    """Every path below folder, relative: what a run created shows as a difference."""
    found = set()
    for root, dirs, files in os.walk(folder):
        for n in dirs + files:
            found.add(os.path.relpath(os.path.join(root, n), folder))
    return found


def temp_folder(test):
    d = tempfile.TemporaryDirectory(prefix="kovra-examples-")
    test.addCleanup(d.cleanup)
    return d.name
