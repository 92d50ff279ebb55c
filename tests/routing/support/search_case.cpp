#include "routing/support/search_case.h"

namespace kovra::testsupport {

std::vector<TSearchCase> FilterCases(bool SkipNodes, int32_t OtherStride) {
  std::vector<TSearchCase> cases;
  const int32_t combinations = SkipNodes ? 32 : 16;
  for (TRouteCriteria rc : {rcDist, rcTime, rcCost}) {
    // The speeds change only times.
    const int32_t all = rc == rcTime ? 2 * combinations : combinations;
    for (int32_t bits = 0; bits < all; bits += (rc == rcDist ? 1 : OtherStride))
      cases.push_back({.rc = rc, .speeds = (bits & combinations) != 0, .skipLinks = (bits & 1) != 0,
                       .limits = (bits & 2) != 0, .ignoreOneway = (bits & 4) != 0,
                       .noDriveThrough = (bits & 8) != 0, .skipNodes = (bits & 16) != 0});
  }
  return cases;
}

std::string Describe(const TSearchCase& t) {
  return std::string("criterion ") + std::to_string(int(t.rc)) + (t.speeds ? " speeds" : "") +
         (t.skipLinks ? " skip-links" : "") + (t.limits ? " limits" : "") +
         (t.ignoreOneway ? " ignore-oneway" : "") + (t.noDriveThrough ? " no-drive-through" : "") +
         (t.skipNodes ? " skip-nodes" : "");
}

TOracleOptions ApplySearchCase(TCalc& c, const TSearchCase& t, bool turnCosts, TBitArray* skipLinks) {
  TOracleOptions o;
  o.Criterion = t.rc;
  if (t.rc == rcDist) c.SetShortest(turnCosts);
  if (t.rc == rcTime) c.SetFastest(turnCosts);
  if (t.rc == rcCost) c.SetCheapest(turnCosts);
  o.TurnCosts = turnCosts;
  if (t.speeds) {
    c.SetMaxSpeed(30);
    c.SetRelativeSpeed(0.8);
    o.MaxSpeed = 30;
    o.RelativeSpeed = 0.8;
  }
  c.SetSkipLinkList(t.skipLinks ? skipLinks : nullptr);
  o.Skip = t.skipLinks ? skipLinks : nullptr;
  c.SetLimit(1, t.limits ? 45 : 0);
  c.SetLimit(2, t.limits ? 0x10 : 0);
  if (t.limits) o.Vehicle[0] = 45, o.Vehicle[1] = 0x10;
  c.SetIgnoreOneway(t.ignoreOneway);
  o.IgnoreOneway = t.ignoreOneway;
  c.SetNoDriveThrough(t.noDriveThrough);
  return o;
}

}  // namespace kovra::testsupport
