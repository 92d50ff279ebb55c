// One combination of the calculator's filters, set alike on a calculator and
// on the oracle, for the tests that compare searches with the oracle.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/kovra_bitarray.h"
#include "routing/kovra_calc.h"
#include "routing/support/bgl_oracle.h"

namespace kovra::testsupport {

struct TSearchCase {
  TRouteCriteria rc = rcDist;
  bool speeds = false;  // MaxSpeed 30 and RelativeSpeed 0.8
  bool skipLinks = false, limits = false, ignoreOneway = false, noDriveThrough = false, skipNodes = false;
};

// Every combination of skip links, limits, IgnoreOneway, no-drive-through
// and (with SkipNodes) skip nodes under distance, time and cost, in that
// order; time has one more bit, the speeds (MaxSpeed and RelativeSpeed),
// whose cases follow the others; criteria other than distance take every
// OtherStride-th combination.
std::vector<TSearchCase> FilterCases(bool SkipNodes, int32_t OtherStride = 1);

// "criterion 1 skip-links limits ..." for traces.
std::string Describe(const TSearchCase& t);

// Sets the criterion (with turn costs or not), the speeds, the skip links,
// vehicle limits 45 and 0x10, IgnoreOneway and NoDriveThrough on c, and
// returns the oracle options that match. The oracle's no-drive-through mode
// and area and any skip nodes are the caller's, as they differ by search.
TOracleOptions ApplySearchCase(TCalc& c, const TSearchCase& t, bool turnCosts, TBitArray* skipLinks);

}  // namespace kovra::testsupport
