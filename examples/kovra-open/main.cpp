// kovra-open: opens a network directory with its spatial index, as a check
// that an import made an openable network, and prints its counts. Run with
// --help for the options.
#include <iostream>
#include <string>

#include "../common/example_args.h"
#include "foundation/kovra_functions.h"
#include "network/kovra_network.h"
#include "network/kovra_quadtree.h"

namespace {

using kovra::example::TArgError;

const char* const cHelp =
    "usage: kovra-open [--key K] [--no-index] NETDIR\n"
    "\n"
    "Opens the network directory NETDIR (as kovra-import writes it) with every\n"
    "check the library makes on opening, and prints:\n"
    "  links N       links in the network (rejected objects included, as empty links)\n"
    "  nodes N       nodes (link ends merged)\n"
    "  maxdegree N   most links at one node\n"
    "  cells N       cells of the spatial index (0 with --no-index)\n"
    "\n"
    "  --key K       the encryption key the network was imported with (a whole\n"
    "                number); default 0, for a plain network.\n"
    "  --no-index    do not read spatialindex.bin (for a network imported with\n"
    "                --skip-index).\n"
    "  -h, --help    this text.\n"
    "\n"
    "Exit status: 0 when the network opened; 1 when opening failed (the message\n"
    "names the file and the fault); 2 for a wrong call.\n"
    "\n"
    "examples:\n"
    "  kovra-open mynet\n"
    "  kovra-open --key 1234567 mynet\n";

int Main(int argc, char** argv) {
  std::string dir;
  int64_t key = 0;
  bool index = true;
  kovra::example::TArgs args(argc, argv);
  while (args.More()) {
    const std::string a = args.Next();
    if (a == "--key") key = args.Int(a, INT64_MIN, INT64_MAX);
    else if (a == "--no-index") index = false;
    else if (a.size() > 1 && a[0] == '-') kovra::example::UnknownOption(a);
    else if (!dir.empty()) throw TArgError("more than one NETDIR: " + dir + ", " + a);
    else dir = a;
  }
  if (dir.empty()) throw TArgError("NETDIR is missing");
  kovra::example::RequireFolder("NETDIR", dir);
  if (dir.back() != '/') dir += '/';
  kovra::TNetwork net;
  net.SetDirectory(dir);
  net.SetEncryptionKey(key);
  net.Open(false, false, index, 0);
  std::cout << "links " << net.LinkCount() << "\nnodes " << net.NodeCount() << "\nmaxdegree " << net.MaxDegree()
            << "\ncells " << (net.QuadTree() ? net.QuadTree()->CellCount() : 0) << "\n";
  net.Close();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return kovra::example::Run("kovra-open", cHelp, argc, argv, [&] { return Main(argc, argv); });
}
