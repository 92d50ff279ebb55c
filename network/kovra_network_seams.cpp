// The services that layers above the network register at start-up.
#include <mutex>

#include "network/kovra_network.h"
#include "network/kovra_quadtree.h"

namespace kovra {

namespace {

// A new loader comes with a new flag, so that it runs once too. A mutex and
// a flag rather than std::call_once: a call_once whose function throws never
// releases its waiters under some thread runtimes (ThreadSanitizer among them).
struct TAlphaShapeLoad {
  std::function<void()> Loader;
  std::mutex Running;
  bool Done = false;
};

// Held in a function-local static: a layer may register from its own static
// initialiser, which can run before this file's globals are constructed.
struct TSeams {
  std::mutex Mutex;
  std::shared_ptr<TAlphaShapeLoad> AlphaShapeLoad;
  TNearestNodeFinderFactory NearestNodeFinderFactory;
};

TSeams& Seams() {
  static TSeams seams;
  return seams;
}

}  // namespace

void SetAlphaShapeLoader(std::function<void()> Loader) {
  auto load = std::make_shared<TAlphaShapeLoad>();
  load->Loader = std::move(Loader);
  TSeams& s = Seams();
  std::lock_guard<std::mutex> lock(s.Mutex);
  s.AlphaShapeLoad = std::move(load);
}

void SetNearestNodeFinderFactory(TNearestNodeFinderFactory Factory) {
  TSeams& s = Seams();
  std::lock_guard<std::mutex> lock(s.Mutex);
  s.NearestNodeFinderFactory = std::move(Factory);
}

// Called by every constructor: the first one runs the loader, the others wait
// for it; when it raises, the next construction tries again.
void RunAlphaShapeLoader() {
  std::shared_ptr<TAlphaShapeLoad> load;
  {
    TSeams& s = Seams();
    std::lock_guard<std::mutex> lock(s.Mutex);
    load = s.AlphaShapeLoad;
  }
  if (!load || !load->Loader) return;
  std::lock_guard<std::mutex> lock(load->Running);
  if (load->Done) return;
  load->Loader();
  load->Done = true;
}

std::unique_ptr<INearestNodeFinder> TNetwork::NearestNodeFinder() const {
  TNearestNodeFinderFactory factory;
  {
    TSeams& s = Seams();
    std::lock_guard<std::mutex> lock(s.Mutex);
    factory = s.NearestNodeFinderFactory;
  }
  if (!factory) throw Exception(cMsgSpatialIndexNotOpen);
  return factory(*this);
}

}  // namespace kovra
