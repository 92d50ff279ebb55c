// Test support: a seeded generator of road networks for the routing tests
// and benchmarks. It writes a network directory through the test network
// writer (with the quadtree spatial index) and opens it with everything the
// searches read: attribute words, limit slots, time and cost columns and
// turn restrictions.
//
//   TNetGenOptions o;
//   o.Seed = 7;
//   o.Nodes = 2000;
//   o.Restrictions2 = 50;
//   TGenNetwork g = GenerateNetwork(o);
//   g.Write(dir);                  // every file, byte-identical per seed
//   TNetwork nw;
//   g.Open(nw, dir);
//
// The shape: a jittered grid with some links left out, straight or bent
// links, one-way and closed links, parallel twins, duplicate pairs (two
// one-way links over the same line, opposite directions), dead-end trees
// hanging off grid nodes, hierarchy 0..7, no-U-turn flags, no-drive-through
// areas (blocks of the grid), value and bit-pattern limits, 2- and 3-link
// restrictions (prohibitions and costs). Coordinates in metres or in
// degrees in either hemisphere. Every number comes from the generator's own
// random source, so a seed gives the same bytes on every platform.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/kovra_types.h"
#include "network/kovra_network.h"
#include "network/support/network_writer.h"

namespace kovra::testsupport {

struct TNetGenOptions {
  uint64_t Seed = 1;
  int32_t Nodes = 1000;  // grid nodes (dead-end trees add more)
  bool Degrees = false;  // degrees instead of metres
  bool South = false;    // degrees: southern hemisphere
  bool West = false;     // degrees: western hemisphere
  double Drop = 0.1;     // shares of grid links ...
  double Bent = 0.3;     // ... with a middle vertex off the straight line
  // ... drawn as a hairpin (a middle vertex 3 to 4 link lengths off the
  // line) whose time and cost per km of line lie far below the network's
  // fastest ratio of time (cost) to chord: a point inside such a link lies
  // farther from its ends, as the crow flies, than its cost covers at that
  // ratio. Their own ratio to the chord stays above the fastest.
  double CheapBends = 0;
  double OneWay = 0.15;
  double Closed = 0.02;
  double Parallel = 0.03;
  double Duplicate = 0.02;
  double DeadEnds = 0.05;  // share of grid nodes with a dead-end tree
  bool Hierarchy = true;   // random hierarchy 0..7, else 0
  double NoUTurn = 0.1;    // share of link ends flagged no-U-turn
  int32_t Areas = 0;       // no-drive-through blocks of 3 x 3 grid nodes
  int32_t TimeColumns = 1;
  int32_t CostColumns = 1;
  bool Limits = true;      // slot 1: value limit, slot 2: bit pattern
  double LimitShare = 0.1;
  int32_t Restrictions2 = 0;
  int32_t Restrictions3 = 0;
  double Prohibited = 0.5;  // share of restrictions that prohibit
  bool SpatialIndex = true;
};

struct TGenRestriction {
  std::vector<int32_t> links;
  float value = 0;
};

struct TGenNetwork {
  TNetGenOptions Options;
  TTestNetworkWriter Writer;
  std::vector<std::vector<float>> Times;  // [column][link], entry 0 unused
  std::vector<std::vector<float>> Costs;
  std::vector<TGenRestriction> Restrictions;
  std::vector<int32_t> Hairpins;  // the links CheapBends drew, ascending

  int32_t LinkCount() const { return Writer.LinkCount(); }
  // Every file into Directory (which must exist).
  void Write(const std::string& Directory) const;
  // Opens Directory (written by Write) into nw: attributes and spatial index,
  // limit files 1 and 2 in slots 1 and 2, the time and cost columns and the
  // restrictions in turn set 0.
  void Open(TNetwork& nw, const std::string& Directory) const;
};

TGenNetwork GenerateNetwork(const TNetGenOptions& Options);

// A generated network written to its own temporary folder and opened; the
// folder is removed with the object. For benchmarks and tools.
class TGeneratedNetwork {
public:
  explicit TGeneratedNetwork(const TNetGenOptions& Options);
  ~TGeneratedNetwork();
  TGeneratedNetwork(const TGeneratedNetwork&) = delete;
  TGeneratedNetwork& operator=(const TGeneratedNetwork&) = delete;

  TGenNetwork Gen;
  TNetwork NW;

private:
  std::string fDir;
};

// A generated network kept on disk between runs: Root/<key>/ holds the
// network files and "netgen-key.txt", the options it was made with and its
// node and link counts. A folder whose key file is missing or differs, or
// whose network opens with other counts or not at all, is made again (into a
// temporary folder, renamed into place). Only what Write puts on disk is
// kept, so the options may not ask for time or cost columns or restrictions.
class TCachedNetwork {
public:
  TCachedNetwork(const TNetGenOptions& Options, const std::string& Root);
  ~TCachedNetwork();
  TCachedNetwork(const TCachedNetwork&) = delete;
  TCachedNetwork& operator=(const TCachedNetwork&) = delete;

  TNetwork NW;
  // The folder of the network files, ending in '/', for opening them again
  // in another way (say with the vertices cached).
  std::string Directory;
  // Whether this run had to generate the network.
  bool Generated = false;

  // Every option that shapes the files, one line.
  static std::string Key(const TNetGenOptions& Options);
};

// The factor KOVRA_ROUTING_SCALE gives (1 when unset or not a number >= 1):
// the random suites multiply their network sizes by it for soak runs.
int32_t RoutingScale();

}  // namespace kovra::testsupport
