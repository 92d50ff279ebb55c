// The benchmarks' generated networks, kept on disk between runs under
// <build>/bench-networks/ (or $KOVRA_BENCH_NETWORKS) by the routing tests'
// cache: a missing or stale folder is generated again, before any timing.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "routing/support/netgen.h"

namespace kovra::benchsupport {

inline std::string BenchNetworkRoot() {
  const char* env = std::getenv("KOVRA_BENCH_NETWORKS");
  return env != nullptr && *env != '\0' ? env : KOVRA_BENCH_NETWORKS;
}

// A cached generated network that says on stderr when this run made it.
class TBenchCachedNetwork : public testsupport::TCachedNetwork {
public:
  explicit TBenchCachedNetwork(const testsupport::TNetGenOptions& o) : TCachedNetwork(o, BenchNetworkRoot()) {
    if (Generated)
      std::fprintf(stderr, "generated %d nodes (%s, seed %llu) into %s\n", o.Nodes, o.Degrees ? "degrees" : "metres",
                   static_cast<unsigned long long>(o.Seed), Directory.c_str());
  }
};

// The options of a network the cache can keep: no time or cost columns.
inline testsupport::TNetGenOptions CachedOptions(uint64_t seed, int32_t nodes, bool degrees = false) {
  testsupport::TNetGenOptions o;
  o.Seed = seed;
  o.Nodes = nodes;
  o.Degrees = degrees;
  o.TimeColumns = 0;
  o.CostColumns = 0;
  return o;
}

}  // namespace kovra::benchsupport
