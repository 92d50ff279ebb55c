// Test support of the turn-set tests: a set's live restrictions as plain
// values, and junctions of straight arms laid out by compass direction.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <ostream>
#include <vector>

#include "network/kovra_network.h"
#include "network/kovra_turn.h"
#include "network_fixture.h"
#include "support/test_raises.h"

namespace kovra::testsupport {

struct TStoredTurn {
  std::vector<int32_t> links;
  float value = 0;
  bool operator==(const TStoredTurn&) const = default;
  auto operator<=>(const TStoredTurn&) const = default;
};

inline void PrintTo(const TStoredTurn& s, std::ostream* os) {
  *os << "(";
  for (size_t i = 0; i < s.links.size(); ++i) *os << (i ? "," : "") << s.links[i];
  *os << ")=" << s.value;
}

// Every live restriction of the set, sorted.
inline std::vector<TStoredTurn> StoredTurns(const TNetwork& net, int32_t index) {
  std::vector<TStoredTurn> result;
  const TTurnRestrictions& set = net.TurnSet(index);
  TIntegerList list;
  for (int32_t l = 0; l <= set.Size(); ++l) {
    if (!set.GetList(l, list)) continue;
    for (int32_t k = 0; k < list.Count(); ++k) {
      const TTurnRestriction tr = set.GetTR(list.GetItem(k));
      result.push_back({std::vector<int32_t>(tr.links.begin(), tr.links.end()), tr.value});
    }
  }
  std::sort(result.begin(), result.end());
  return result;
}

// f raises E with exactly Message.
template <typename E, typename F>
void ExpectRaises(F&& f, const std::string& Message) {
  EXPECT_EQ(MessageOf<E>(std::forward<F>(f)), Message);
}

inline std::vector<TStoredTurn> Sorted(std::vector<TStoredTurn> v) {
  std::sort(v.begin(), v.end());
  return v;
}

// Arms of length Length from Centre in the compass directions Bearings
// (degrees, 0 north, 90 east), one link each, digitised outwards unless
// Inwards[i]; returns the link ids in arm order.
inline std::vector<int32_t> AddJunction(TTestNetworkWriter& w, TFloatPoint Centre, const std::vector<double>& Bearings,
                                        double Length, const std::vector<bool>& Inwards = {}) {
  std::vector<int32_t> links;
  for (size_t i = 0; i < Bearings.size(); ++i) {
    const double b = Bearings[i] * std::numbers::pi / 180;
    // Rounded so that arms of different junctions meet exactly.
    const auto r = [](double v) { return std::round(v * 1e9) / 1e9; };
    const TFloatPoint end{r(Centre.x + Length * std::sin(b)), r(Centre.y + Length * std::cos(b))};
    const bool in = i < Inwards.size() && Inwards[i];
    links.push_back(in ? w.AddLink({end, Centre}) : w.AddLink({Centre, end}));
  }
  return links;
}

}  // namespace kovra::testsupport
