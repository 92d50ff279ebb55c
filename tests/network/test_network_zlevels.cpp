// Z-levels from external node ids: the numbering at merged nodes, the input
// checks (none of which leaves an output behind), and the table as GDAL
// reads it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "foundation/kovra_functions.h"
#include "giswriter/kovra_giswriter.h"
#include "network/kovra_fromtonode.h"
#include "network_fixture.h"
#include "support/gdal_readback.h"
#include "support/test_files.h"
#include "support/test_raises.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

// Four links meeting at X (0, 0): 1 from the west, 2 to the east, 3 from
// the south, 4 to the north; a rejected object as link 5; and two links
// crossing at Y (1000, 0): 6 from the west, 7 to the north.
TTestNetworkWriter Crossing() {
  TTestNetworkWriter w;
  w.Unit = cuM;
  w.AddLink({{-100, 0}, {0, 0}});
  w.AddLink({{0, 0}, {100, 0}});
  w.AddLink({{0, -100}, {0, 0}});
  w.AddLink({{0, 0}, {0, 100}});
  w.AddRejected();
  w.AddLink({{900, 0}, {1000, 0}});
  w.AddLink({{1000, 0}, {1000, 100}});
  return w;
}

using TRows = std::vector<std::pair<int32_t, int32_t>>;

TRows Rows(const TNetwork& net) {
  TRows rows;
  const TGISArray& t = net.GISarray();
  for (int32_t r = 0; r < t.RecCount; ++r)
    rows.emplace_back(std::get<int32_t>(t.Rec[size_t(r)].Attr[0]), std::get<int32_t>(t.Rec[size_t(r)].Attr[1]));
  return rows;
}

class ZLevelTest : public TNetworkTest {
protected:
  void SetUp() override { Open(Crossing()); }
  std::string Input(const std::string& text) { return Make("ids.txt", text); }
};

TEST_F(ZLevelTest, IdsSharingANodeAreNumberedThere) {
  struct TCase {
    const char* Name;
    std::string Input;
    TRows Rows;
  };
  const std::vector<TCase> cases = {
      {"one road over another at X",
       "1,4\n4,2\n3,7\n7,5\n0,0\n8,9\n9,10\n",
       {{0, 1}, {1, 0}, {0, 2}, {2, 0}, {0, 0}, {0, 0}, {0, 0}}},
      {"no two ids share a node", "1,4\n4,2\n3,4\n4,5\n0,0\n8,9\n9,10\n",
       {{0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}}},
      {"a second merged node numbers from 1 again",
       "1,4\n4,2\n3,7\n7,5\n0,0\n8,19\n18,10\n",
       {{0, 1}, {1, 0}, {0, 2}, {2, 0}, {0, 0}, {0, 2}, {1, 0}}},
      {"real node ids, fields beyond the second ignored",
       "1,123456,x\n123456,2\n3,-5\n-5,5\n0,0\n8,9\n9,10\n",
       {{0, 2}, {2, 0}, {0, 1}, {1, 0}, {0, 0}, {0, 0}, {0, 0}}},
      // An id met again at another node keeps the level of its first node;
      // the rejected object's ids are not numbered anywhere.
      {"an id at two nodes", "1,4\n4,2\n3,7\n7,5\n4,7\n8,4\n4,10\n",
       {{0, 1}, {1, 0}, {0, 2}, {2, 0}, {1, 2}, {0, 1}, {1, 0}}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    fNet->ExternalNodeId2ZLevels(Input(c.Input), PathOf("z"), gfArray);
    EXPECT_EQ(Rows(*fNet), c.Rows);
  }
}

TEST_F(ZLevelTest, BadInputLeavesNoOutput) {
  struct TCase {
    const char* Name;
    std::string Input;
    std::string Message;
  };
  const std::string good = "1,4\n4,2\n3,7\n7,5\n0,0\n8,9\n9,10\n";
  const std::vector<TCase> cases = {
      {"one line more", good + "11,12\n", "Invalid number of links in input file"},
      {"one line less", "1,4\n4,2\n3,7\n7,5\n0,0\n8,9\n", "Invalid number of links in input file"},
      {"wrong count wins over a bad line", "1,4\nx,2\n", "Invalid number of links in input file"},
      {"a short line", "1,4\n4,2\n3\n7,5\n0,0\n8,9\n9,10\n", "Invalid fields for Z-levels defined"},
      {"an empty line", "1,4\n4,2\n\n7,5\n0,0\n8,9\n9,10\n", "Invalid fields for Z-levels defined"},
      {"not an integer", "1,4\n4,2\n3,7.5\n7,5\n0,0\n8,9\n9,10\n", "'7.5' is not a valid integer value"},
      {"beyond Int32", "1,4\n4,2\n3,2147483648\n7,5\n0,0\n8,9\n9,10\n",
       "'2147483648' is not a valid integer value"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    for (const auto& [GF, ext] : {std::pair{gfDBF, ".dbf"}, std::pair{gfMIF, ".mif"}}) {
      const std::string out = PathOf("bad");
      EXPECT_EQ(MessageOf([&] { fNet->ExternalNodeId2ZLevels(Input(c.Input), out, GF); }), c.Message);
      EXPECT_FALSE(std::filesystem::exists(out + ext));
    }
  }
  EXPECT_EQ(MessageOf([&] { fNet->ExternalNodeId2ZLevels(PathOf("missing.txt"), PathOf("bad"), gfDBF); }),
            "Input file is missing");
  EXPECT_FALSE(std::filesystem::exists(PathOf("bad.dbf")));

  fNet->Close();
  EXPECT_THROW(fNet->ExternalNodeId2ZLevels(Input(good), PathOf("bad"), gfDBF), ENetworkIsClosed);
  EXPECT_FALSE(std::filesystem::exists(PathOf("bad.dbf")));
}

using ZLevelCount = TNetworkTest;

TEST_F(ZLevelCount, MoreThanNineIdsAtANodeAreRefused) {
  // Ten links from a centre node; every one carries its own id there.
  TTestNetworkWriter w;
  w.Unit = cuM;
  std::string text;
  for (int32_t i = 0; i < 10; ++i) {
    w.AddLink({{0, 0}, {100.0 * (i + 1), 50}});
    text += IntToStr(100 + i) + "," + IntToStr(i) + "\n";
  }
  Open(w);
  const std::string input = Make("ten.txt", text);
  EXPECT_EQ(MessageOf<EOutOfRange>([&] { fNet->ExternalNodeId2ZLevels(input, PathOf("ten"), gfDBF); }),
            "More than 9 external node ids at node 1");
  EXPECT_FALSE(std::filesystem::exists(PathOf("ten.dbf")));

  // Nine are fine: 1..9 at the centre.
  w = TTestNetworkWriter();
  w.Unit = cuM;
  text.clear();
  for (int32_t i = 0; i < 9; ++i) {
    w.AddLink({{0, 0}, {100.0 * (i + 1), 50}});
    text += IntToStr(100 + i) + "," + IntToStr(i) + "\n";
  }
  Open(w);
  fNet->ExternalNodeId2ZLevels(Make("nine.txt", text), PathOf("nine"), gfArray);
  const TRows rows = Rows(*fNet);
  ASSERT_EQ(rows.size(), 9u);
  for (int32_t i = 0; i < 9; ++i) EXPECT_EQ(rows[size_t(i)], std::pair(i + 1, 0));
}

TEST_F(ZLevelTest, GdalReadsOneRowPerLink) {
  fNet->ExternalNodeId2ZLevels(Input("1,4\n4,2\n3,7\n7,5\n0,0\n8,9\n9,10\n"), PathOf("ztable"), gfDBF);
  const TOgrLayer layer = ReadOgrLayer(PathOf("ztable.dbf"));
  ASSERT_TRUE(layer.Opened);
  ASSERT_EQ(layer.Fields.size(), 2u);
  EXPECT_EQ(layer.Fields[0].Name, "ZFrom");
  EXPECT_EQ(layer.Fields[1].Name, "ZTo");
  ASSERT_EQ(layer.FeatureCount, fNet->LinkCount());
  const std::vector<std::pair<std::string, std::string>> want = {{"0", "1"}, {"1", "0"}, {"0", "2"}, {"2", "0"},
                                                                 {"0", "0"}, {"0", "0"}, {"0", "0"}};
  for (size_t f = 0; f < want.size(); ++f) {
    EXPECT_EQ(layer.Value(f, "ZFrom"), want[f].first) << f;
    EXPECT_EQ(layer.Value(f, "ZTo"), want[f].second) << f;
    EXPECT_TRUE(layer.Features[f].Wkt.empty());
  }
}

TEST(FromToNodeTree, NumbersIdsPerNodeInAscendingOrder) {
  TFromToNodeTree t;
  // Node 5: ids 30, 10, 20 (given out of order); node 2: 7 alone; node 9:
  // 40 and, again, 10 (ignored: 10 belongs to node 5).
  t.Add(5, 30);
  t.Add(2, 7);
  t.Add(5, 10);
  t.Add(9, 40);
  t.Add(9, 10);
  t.Add(5, 20);
  EXPECT_EQ(t.GetZ(30), 0);  // nothing numbered yet
  t.CreateZ();
  EXPECT_EQ(t.GetZ(10), 1);
  EXPECT_EQ(t.GetZ(20), 2);
  EXPECT_EQ(t.GetZ(30), 3);
  EXPECT_EQ(t.GetZ(7), 0);
  EXPECT_EQ(t.GetZ(40), 0);
  EXPECT_EQ(t.GetZ(12345), 0);
  EXPECT_EQ(t.NodeCount(), 5);
}

}  // namespace
