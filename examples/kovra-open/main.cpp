// kovra-open: opens a network directory with its spatial index, as a check
// that an import made an openable network, and prints its counts.
//
//   kovra-open [--key K] DIR
#include <iostream>
#include <string>

#include "foundation/kovra_functions.h"
#include "network/kovra_network.h"
#include "network/kovra_quadtree.h"

int main(int argc, char** argv) {
  std::string dir;
  int64_t key = 0;
  try {
    for (int i = 1; i < argc; ++i) {
      const std::string a = argv[i];
      if (a == "--key" && i + 1 < argc) key = kovra::StrToInt64(argv[++i]);
      else if (a.rfind("-", 0) == 0 || !dir.empty()) {
        std::cerr << "usage: kovra-open [--key K] DIR\n";
        return 2;
      } else dir = a;
    }
    if (dir.empty()) {
      std::cerr << "usage: kovra-open [--key K] DIR\n";
      return 2;
    }
    if (dir.back() != '/') dir += '/';
    kovra::TNetwork net;
    net.SetDirectory(dir);
    net.SetEncryptionKey(key);
    net.Open(false, false, true, 0);
    std::cout << "links " << net.LinkCount() << "\nnodes " << net.NodeCount() << "\nmaxdegree " << net.MaxDegree()
              << "\ncells " << (net.QuadTree() ? net.QuadTree()->CellCount() : 0) << "\n";
    net.Close();
  } catch (const std::exception& e) {
    std::cerr << "kovra-open: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
