// External-id index pairs from table columns and read events: every id found
// again through the network's reader, the pair checked byte for byte by a
// python3 oracle, repeated ids, widths, and failures and cancels that must
// leave the previous pair alone.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "import/kovra_importattributes.h"
#include "import/support/folder_state.h"
#include "import/support/import_fixtures.h"
#include "network/kovra_externid.h"
#include "network/support/network_writer.h"
#include "support/gdal_readback.h"
#include "support/test_files.h"
#include "support/test_raises.h"

using namespace kovra;
using namespace kovra::testsupport;
namespace fs = std::filesystem;

namespace {

std::vector<TJsonFeature> Roads(const std::vector<std::string>& Properties) {
  std::vector<TJsonFeature> f;
  for (size_t i = 0; i < Properties.size(); ++i)
    f.push_back({JsonLine({{100.0 * double(i), 0}, {100.0 * double(i), 50}}), Properties[i]});
  return f;
}

class ExternalIDImport : public TImportTest {
protected:
  void Network(int32_t Links) {
    fs::remove_all(fOut);
    fs::create_directories(fOut);
    TTestNetworkWriter w;
    for (int32_t i = 0; i < Links; ++i) w.AddLink({{10.0 * i, 0}, {10.0 * i, 5}});
    w.Write(fOut + "/");
  }
  std::string Out(const std::string& Name) const { return fOut + "/" + Name; }
  std::string Csv(const std::string& Name, const std::vector<std::string>& Lines) {
    std::string s;
    for (const auto& l : Lines) s += l + "\n";
    WriteBytes(In(Name), s);
    return In(Name);
  }
  // The oracle's verdict on the pair in the output folder, Keys the expected
  // key of every link.
  std::string Oracle(const std::vector<std::string>& Keys) {
    std::string list;
    for (const auto& k : Keys) list += k + "\n";
    WriteBytes(In("keys.txt"), list);
    std::string out;
    RunCommand("/usr/bin/python3 '" KOVRA_TEST_SCRIPTS_DIR "/externid_oracle.py' '" + fOut + "' '" + In("keys.txt") + "'",
               &out);
    return out.substr(0, out.find('\n'));
  }
  // Every key found at its link and every link giving its key, through the
  // network's reader.
  void ExpectFound(const std::vector<std::string>& Keys) {
    TExternalID x;
    x.SetDirectory(fOut);
    x.Open(false, true);
    ASSERT_EQ(x.MaxIndex(), int32_t(Keys.size()));
    for (int32_t k = 1; k <= int32_t(Keys.size()); ++k) {
      int32_t link = 0;
      EXPECT_TRUE(x.FindIndex(ToUtf16(Keys[size_t(k - 1)]), link)) << Keys[size_t(k - 1)];
      EXPECT_EQ(link, k) << Keys[size_t(k - 1)];
      EXPECT_EQ(FromUtf16(x.FindExternalid(k)), Keys[size_t(k - 1)]);
    }
    x.Close();
  }
  std::function<void(TObject*, int32_t, std::string&, bool&)> Texts(std::vector<std::string> Ids) {
    return [Ids](TObject*, int32_t link, std::string& id, bool& last) {
      id = Ids[size_t(link - 1)];
      last = size_t(link) == Ids.size();
    };
  }
  std::function<void(TObject*, int32_t, int64_t&, bool&)> Numbers(std::vector<int64_t> Ids) {
    return [Ids](TObject*, int32_t link, int64_t& id, bool& last) {
      id = Ids[size_t(link - 1)];
      last = size_t(link) == Ids.size();
    };
  }
};

// ---------------------------------------------------------------------------
// Round trips

TEST_F(ExternalIDImport, EveryKindRoundTrips) {
  Shapefile("big.shp", Roads({R"("ID":1099511627776)", R"("ID":-5)", R"("ID":261)"}));
  Shapefile("text.shp", Roads({R"("CODE":"ABCDEFGHIJ")", R"("CODE":"  a b ")", R"("CODE":"A")", R"("CODE":"Ä")"}),
            "-lco RESIZE=YES -lco ENCODING=UTF-8");
  struct Case {
    std::string name;
    int32_t links;
    std::function<void(TImportAttributes&)> run;
    std::vector<std::string> keys;
    int32_t header;
    int64_t index1Size;
  };
  const Case cases[] = {
      {"int32 csv, clamped", 5,
       [&](TImportAttributes& a) {
         a.Add(Csv("i.csv", {"x,5", "x,3000000000", "x,-3000000000", "x,261", "x,-1"}));
         a.ExecuteExternalIDint(1, "", fkCSV, false);
       },
       {"5", "2147483647", "-2147483647", "261", "-1"}, 0, 4 + 4 * 5},
      {"int64 dbf", 3,
       [&](TImportAttributes& a) {
         a.Add(In("big.dbf"));
         a.ExecuteExternalIDint(0, "ID", fkDBF, true);
       },
       {"1099511627776", "-5", "261"}, -1, 4 + 8 * 3},
      {"dbf text of width 10", 4,
       [&](TImportAttributes& a) {
         a.Add(In("text.dbf"));
         a.ExecuteExternalIDstring(0, "CODE", fkDBF);
       },
       {"ABCDEFGHIJ", "a b", "A", "Ä"}, 10, 4 + 20 * 4},
      {"csv text, longest 7 after trimming", 3,
       [&](TImportAttributes& a) {
         a.Add(Csv("t.csv", {"1,\"  abc  \"", "2,abcdefg", "3,\" x   \""}));
         a.ExecuteExternalIDstring(1, "", fkCSV);
       },
       {"abc", "abcdefg", "x"}, 7, 4 + 14 * 3},
      {"csv text in code page 1251", 2,
       [&](TImportAttributes& a) {
         a.SetCodepageCSV(1251);
         a.Add(Csv("c.csv", {"\xcc\xe8\xf0\xe0", "\xc0"}));
         a.ExecuteExternalIDstring(0, "", fkCSV);
       },
       {"Мира", "А"}, 4, 4 + 8 * 2},
      {"event text cut to the width", 3,
       [&](TImportAttributes& a) {
         a.OnReadExternalIDString = Texts({"abcd1234", " wxyz9", "k"});
         a.ExecuteExternalIDStringEvent(4);
       },
       {"abcd", "wxyz", "k"}, 4, 4 + 8 * 3},
      {"event int64", 3,
       [&](TImportAttributes& a) {
         a.OnReadExternalIDInt = Numbers({int64_t(1) << 40, -(int64_t(1) << 40), 0});
         a.ExecuteExternalIDintEvent(true);
       },
       {"1099511627776", "-1099511627776", "0"}, -1, 4 + 8 * 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Network(c.links);
    TImportAttributes a;
    a.SetDirectory(fOut);
    c.run(a);
    EXPECT_EQ(int32_t(ReadBytes(Out("index1.bin"))[0] & 0xFF) | (int32_t(ReadBytes(Out("index1.bin"))[1] & 0xFF) << 8),
              c.header & 0xFFFF);
    EXPECT_EQ(int64_t(fs::file_size(Out("index1.bin"))), c.index1Size);
    EXPECT_EQ(Oracle(c.keys), "ok");
    ExpectFound(c.keys);
  }
}

// ---------------------------------------------------------------------------
// Uniqueness, buckets and widths

TEST_F(ExternalIDImport, RepeatedIdsBucketsAndWidths) {
  const std::string notUnique = "External ID is not unique";
  struct Case {
    std::string name;
    std::function<void(TImportAttributes&)> run;
    std::string error;
    std::vector<std::string> keys;  // when it succeeds
  };
  const Case cases[] = {
      {"clamped on the same side",
       [&](TImportAttributes& a) {
         a.OnReadExternalIDInt = Numbers({3000000000, 4000000000, 7});
         a.ExecuteExternalIDintEvent(false);
       },
       notUnique, {}},
      {"5 and 261 share bucket 5, -1 is in bucket 255",
       [&](TImportAttributes& a) {
         a.OnReadExternalIDInt = Numbers({261, -1, 5});
         a.ExecuteExternalIDintEvent(false);
       },
       "", {"261", "-1", "5"}},
      {"5 twice",
       [&](TImportAttributes& a) {
         a.OnReadExternalIDInt = Numbers({5, 6, 5});
         a.ExecuteExternalIDintEvent(false);
       },
       notUnique, {}},
      {"A and a",
       [&](TImportAttributes& a) {
         a.Add(Csv("aa.csv", {"A", "a", "b"}));
         a.ExecuteExternalIDstring(0, "", fkCSV);
       },
       "", {"A", "a", "b"}},
      {"' A' and 'A' from text",
       [&](TImportAttributes& a) {
         a.Add(Csv("sp.csv", {"\" A\"", "A", "b"}));
         a.ExecuteExternalIDstring(0, "", fkCSV);
       },
       notUnique, {}},
      {"equal after the cut",
       [&](TImportAttributes& a) {
         a.OnReadExternalIDString = Texts({"abcX", "abcY", "q"});
         a.ExecuteExternalIDStringEvent(3);
       },
       notUnique, {}},
      {"width 0",
       [&](TImportAttributes& a) {
         a.Add(Csv("empty.csv", {"1,", "2,", "3,"}));
         a.ExecuteExternalIDstring(1, "", fkCSV);
       },
       "External ID width 0 must be 1..254", {}},
      {"width 255",
       [&](TImportAttributes& a) {
         a.OnReadExternalIDString = Texts({"a", "b", "c"});
         a.ExecuteExternalIDStringEvent(255);
       },
       "External ID width 255 must be 1..254", {}},
      {"three event calls",
       [&](TImportAttributes& a) {
         a.OnReadExternalIDString = Texts({"x", "y", "z"});
         a.ExecuteExternalIDStringEvent(1);
       },
       "", {"x", "y", "z"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Network(3);
    const TFolderState before = FolderState(fOut);
    TImportAttributes a;
    a.SetDirectory(fOut);
    EXPECT_EQ(MessageOf([&] { c.run(a); }), c.error);
    if (c.error.empty()) {
      EXPECT_EQ(Oracle(c.keys), "ok");
      ExpectFound(c.keys);
      EXPECT_EQ(fs::file_size(Out("index2.bin")), 1028u + 12u);
    } else {
      EXPECT_TRUE(NoFileOfRunRemains(before, fOut));
    }
  }
  // Ids 261 and 5 both in bucket 5 (offsets of buckets 5 and 6 two entries apart).
  Network(3);
  TImportAttributes a;
  a.SetDirectory(fOut);
  a.OnReadExternalIDInt = Numbers({261, -1, 5});
  a.ExecuteExternalIDintEvent(false);
  const std::string i2 = ReadBytes(Out("index2.bin"));
  int32_t b5 = 0, b6 = 0, first5 = 0, last = 0;
  std::memcpy(&b5, i2.data() + 4 + 4 * 5, 4);
  std::memcpy(&b6, i2.data() + 4 + 4 * 6, 4);
  std::memcpy(&first5, i2.data() + b5, 4);
  std::memcpy(&last, i2.data() + i2.size() - 4, 4);
  EXPECT_EQ(b6 - b5, 8);
  EXPECT_EQ(first5, 3);  // 5 before 261
  EXPECT_EQ(last, 2);    // -1, alone in the last bucket
}

TEST(ExternalIDLarge, OffsetWidthFollowsTheSizeOfTheIds) {
  EXPECT_TRUE(ExternalIDLargeOffsets(100000000, 11));   // 2,200,000,004 bytes
  EXPECT_FALSE(ExternalIDLargeOffsets(100000000, 10));  // 2,000,000,004 bytes
  EXPECT_FALSE(ExternalIDLargeOffsets(1073741821, 1));  // 2,147,483,646 bytes
  EXPECT_TRUE(ExternalIDLargeOffsets(1073741822, 1));
  EXPECT_FALSE(ExternalIDLargeOffsets(5, 0));
}

// ---------------------------------------------------------------------------
// Failures and cancels keep the previous pair

TEST_F(ExternalIDImport, FailuresAndCancelsKeepThePreviousPair) {
  Network(3);
  Shapefile("nul.shp", Roads({R"("ID":1)", R"("ID":null)", R"("ID":3)"}));
  const std::string text = Csv("text.csv", {"1,a", "2,b", "3,c"});
  const std::string rep = Csv("rep.csv", {"1", "2", "1"}), bad = Csv("bad.csv", {"1", "zz", "3"}),
                    two = Csv("two.csv", {"1,a", "2,b"});
  {
    TImportAttributes a;
    a.SetDirectory(fOut);
    a.OnReadExternalIDInt = Numbers({10, 20, 30});
    a.ExecuteExternalIDintEvent(false);
  }
  struct Case {
    std::string name;
    std::function<void(TImportAttributes&)> run;
    std::string error;  // "" for a cancel
  };
  const Case cases[] = {
      {"repeated", [&](TImportAttributes& a) {
         a.Add(rep);
         a.ExecuteExternalIDint(0, "", fkCSV, false);
       }, "External ID is not unique"},
      {"no integer", [&](TImportAttributes& a) {
         a.Add(bad);
         a.ExecuteExternalIDint(0, "", fkCSV, true);
       }, "'zz' is not a valid integer value"},
      {"NULL integer", [&](TImportAttributes& a) {
         a.Add(In("nul.dbf"));
         a.ExecuteExternalIDint(0, "ID", fkDBF, false);
       }, "External ID of record 2 is empty"},
      {"record count", [&](TImportAttributes& a) {
         a.Add(two);
         a.ExecuteExternalIDstring(1, "", fkCSV);
       }, "Number of records (2) differs from the number of links (3)"},
      {"bad field", [&](TImportAttributes& a) {
         a.Add(In("nul.dbf"));
         a.ExecuteExternalIDint(0, "NOPE", fkDBF, false);
       }, "Field NOPE not found"},
      {"cancel in the first text pass", [&](TImportAttributes& a) {
         a.Add(text);
         a.SetOnProgress([](TObject*, int32_t, bool& cancel) { cancel = true; });
         a.ExecuteExternalIDstring(1, "", fkCSV);
       }, ""},
      {"cancel in the second text pass", [&](TImportAttributes& a) {
         a.Add(text);
         a.SetOnProgress([](TObject*, int32_t p, bool& cancel) { cancel = cancel || p > 50; });
         a.ExecuteExternalIDstring(1, "", fkCSV);
       }, ""},
      {"cancel while index2.bin is written", [&](TImportAttributes& a) {
         a.Add(text);
         bool zero = false;
         a.SetOnProgress([zero](TObject*, int32_t p, bool& cancel) mutable {
           if (p == 0) zero = true;
           else if (zero) cancel = true;
         });
         a.ExecuteExternalIDstring(1, "", fkCSV);
       }, ""},
  };
  const std::string old1 = ReadBytes(Out("index1.bin")), old2 = ReadBytes(Out("index2.bin"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TFolderState before = FolderState(fOut), inBefore = FolderState(fIn);
    TImportAttributes a;
    a.SetDirectory(fOut);
    EXPECT_EQ(MessageOf([&] { c.run(a); }), c.error);
    if (c.error.empty()) {
      EXPECT_TRUE(a.Cancelled());
    }
    EXPECT_TRUE(NoFileOfRunRemains(before, fOut));
    EXPECT_TRUE(NoFileOfRunRemains(inBefore, fIn));
  }
  EXPECT_EQ(ReadBytes(Out("index1.bin")), old1);
  EXPECT_EQ(ReadBytes(Out("index2.bin")), old2);
}

}  // namespace
