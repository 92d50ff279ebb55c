// Route matrices of TRouteCalc: the node forms against the Boost Graph
// oracle, the symmetric and extra forms, the retry without the hierarchy and
// the include-node window, and the argument checks.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "network/kovra_network.h"
#include "routing/kovra_calc.h"
#include "routing/matrix_fixture.h"
#include "routing/support/bgl_oracle.h"
#include "routing/support/netgen.h"
#include "routing/support/netgen_test.h"
#include "routing/support/search_case.h"
#include "support/temp_dir_test.h"
#include "support/test_raises.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

// --- Against the oracle -------------------------------------------------------

class RMatrixOracleTest : public TGenNetworkTest {
protected:
  void SetUp() override {
    TNetGenOptions o;
    o.Seed = 71;
    o.Nodes = 900 * RoutingScale();
    Generate(o);
  }
};

// Plain Dijkstra order (Alpha 0) in node mode gives the oracle's costs bit
// for bit, by distance, by time and by time under the speed cap and factor;
// the two-list form and the symmetric copy agree with it.
TEST_F(RMatrixOracleTest, NodeFormsEqualTheOracle) {
  TIntegerList NL;
  for (int32_t k = 0; k < 9; ++k) NL.Add(1 + (k * 97 + 13) % nw.NodeCount());
  TIntegerList NL2;
  for (int32_t k = 0; k < 5; ++k) NL2.Add(1 + (k * 151 + 7) % nw.NodeCount());
  const TSearchCase cases[] = {{.rc = rcDist}, {.rc = rcTime}, {.rc = rcTime, .speeds = true}};
  for (const TSearchCase& t : cases) {
    SCOPED_TRACE(Describe(t));
    TRouteCalc c(nw, false);
    c.SetAlpha(0);
    const TOracleOptions o = ApplySearchCase(c, t, false, nullptr);
    const TBglOracle oracle(nw, o);
    auto want = [&](int32_t a, int32_t b) {
      if (a == b) return 0.0f;
      const float v = oracle.NodeTree(a)[size_t(b)];
      return v == cInfinity ? -1.0f : v;
    };
    const TMatrix M = c.RMatrix(NL, false, false);
    ASSERT_EQ(M.size(), size_t(NL.Count()));
    int32_t unreached = 0;
    for (int32_t i = 0; i < NL.Count(); ++i)
      for (int32_t j = 0; j < NL.Count(); ++j) {
        const float w = i == j ? 0.0f : want(NL.GetItem(i), NL.GetItem(j));
        EXPECT_EQ(M[size_t(i)][size_t(j)], w) << i << "," << j;
        unreached += w == -1;
      }
    EXPECT_LT(unreached, NL.Count() * NL.Count());
    const TMatrix S = c.RMatrix(NL, false, true);
    for (int32_t i = 0; i < NL.Count(); ++i)
      for (int32_t j = 0; j < NL.Count(); ++j) {
        EXPECT_EQ(S[size_t(i)][size_t(j)], S[size_t(j)][size_t(i)]);
        if (i < j) {
          EXPECT_EQ(S[size_t(i)][size_t(j)], M[size_t(i)][size_t(j)]);
        }
      }
    const TMatrix M2 = c.RMatrix2(NL, NL2);
    ASSERT_EQ(M2.size(), size_t(NL.Count()));
    for (int32_t i = 0; i < NL.Count(); ++i) {
      ASSERT_EQ(M2[size_t(i)].size(), size_t(NL2.Count()));
      for (int32_t j = 0; j < NL2.Count(); ++j) EXPECT_EQ(M2[size_t(i)][size_t(j)], want(NL.GetItem(i), NL2.GetItem(j)));
    }
  }
}

// --- Hand-made network -------------------------------------------------------

using RMatrixTest = MatrixFixture;

TEST_F(RMatrixTest, ExtraSymmetricAndDiagonal) {
  for (const bool turnmode : {false, true}) {
    SCOPED_TRACE(turnmode);
    TRouteCalc c(nw, turnmode);
    const Nodes one({A});
    for (const bool symmetric : {false, true})
      EXPECT_EQ(c.RMatrix(one, true, symmetric), (TMatrix{{0, 0}, {0, 0}}));
    // Extra row and column last, 0; E is reached only over the one-way link.
    const Nodes NL({A, D, E});
    const TMatrix M = c.RMatrix(NL, true, false);
    EXPECT_EQ(M, (TMatrix{{0, 3, 4, 0}, {3, 0, 1, 0}, {-1, -1, 0, 0}, {0, 0, 0, 0}}));
    // The symmetric form copies i -> j, also against the one-way link.
    EXPECT_EQ(c.RMatrix(NL, false, true), (TMatrix{{0, 3, 4}, {3, 0, 1}, {4, 1, 0}}));
    // One list object twice: the diagonal is computed, as 0.
    EXPECT_EQ(c.RMatrix2(NL, NL), (TMatrix{{0, 3, 4}, {3, 0, 1}, {-1, -1, 0}}));
  }
}

// Z and Z2 are joined only by a hierarchy-6 link: the hierarchy finds no
// route, the retry without it does, and the hierarchy is on again after.
TEST_F(RMatrixTest, RetryWithoutHierarchy) {
  for (const bool turnmode : {false, true}) {
    SCOPED_TRACE(turnmode);
    TRouteCalc c(nw, turnmode);
    c.SetHierarchy(true);
    EXPECT_EQ(c.Route(Z, Z2), -1.0f);
    const Nodes NL({Z, Z2, A});
    EXPECT_EQ(c.RMatrix(NL, false, false), (TMatrix{{0, 1, -1}, {1, 0, -1}, {-1, -1, 0}}));
    EXPECT_TRUE(c.Hierarchy());
    EXPECT_EQ(c.RMatrix2(Nodes({Z}), Nodes({Z2})), (TMatrix{{1}}));
    EXPECT_TRUE(c.Hierarchy());
  }
}

// P and S lie 1 km apart; their only route runs 5 km north. A window of
// 0.5 km around them holds neither Q nor R: no route. The window is gone
// after the run.
TEST_F(RMatrixTest, IncludeWindow) {
  TRouteCalc c(nw, false);
  const Nodes NL({P, S});
  EXPECT_EQ(c.RMatrix(NL, false, false), (TMatrix{{0, 11}, {11, 0}}));
  c.SetMatrixBuffer(0.5);
  EXPECT_EQ(c.RMatrix(NL, false, false), (TMatrix{{0, -1}, {-1, 0}}));
  EXPECT_EQ(c.RMatrix2(NL, NL), (TMatrix{{0, -1}, {-1, 0}}));
  EXPECT_EQ(c.IncludeNodes(), nullptr);
  c.SetMatrixBuffer(6);
  EXPECT_EQ(c.RMatrix(NL, false, true), (TMatrix{{0, 11}, {11, 0}}));
}

TEST_F(RMatrixTest, BadLists) {
  TRouteCalc c(nw, false);
  const TIntegerList empty;
  const Nodes good({A, B}), bad({A, 0}), high({nw.NodeCount() + 1});
  const std::string n = std::to_string(nw.NodeCount());
  struct Row {
    const char* name;
    std::function<void()> run;
    std::string message;
  };
  const Row rows[] = {
      {"empty", [&] { c.RMatrix(empty, false, false); }, "Nodelist is empty"},
      {"zero", [&] { c.RMatrix(bad, true, true); }, "Node at index 1 in list, 0, must be between 1 and " + n},
      {"list 1", [&] { c.RMatrix2(high, good); },
       "Node at index 0 in list, " + std::to_string(nw.NodeCount() + 1) + ", must be between 1 and " + n},
      {"list 2", [&] { c.RMatrix2(good, empty); }, "Nodelist is empty"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(MessageOf([&] { r.run(); }), r.message);
  }
  nw.Close();
  EXPECT_EQ(MessageOf([&] { c.RMatrix(good, false, false); }), "Network is not open");
}

}  // namespace
