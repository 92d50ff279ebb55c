// Column exchange with DBF tables, on tables ogr2ogr makes from text and
// read back through GDAL: time and cost columns read from a table whose
// record n belongs to link n, speeds written back, and whole columns of
// arrays, bit sets and record lists.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <functional>

#include "network_fixture.h"
#include "support/gdal_readback.h"
#include "support/test_raises.h"
#include "support/unprivileged.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

class NetworkDbf : public TNetworkTest {
protected:
  void SetUp() override {
    if (RunCommand("ogr2ogr --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "ogr2ogr missing";
  }

  // Links of 1 km, 2 km, a rejected object and 0.5 km (unit metres), one
  // time and one cost column equal to the lengths.
  TNetwork& Small() {
    TTestNetworkWriter w;
    w.AddLink({{0, 0}, {1000, 0}});
    w.AddLink({{1000, 0}, {1000, 2000}});
    w.AddRejected();
    w.AddLink({{1000, 2000}, {1500, 2000}});
    TNetwork& net = Open(w);
    net.CreateArrayTime(1);
    net.CreateArrayCost(1);
    return net;
  }

  // Name.dbf made by ogr2ogr: fields ID (integer), V (decimal, 3 places),
  // NAME (text); one row per entry of V, "" leaving the value empty.
  std::string Table(const std::string& Name, const std::vector<std::string>& V) {
    std::string csv = "ID,V,NAME\n";
    for (size_t k = 0; k < V.size(); ++k) csv += std::to_string(k + 1) + "," + V[k] + ",n" + std::to_string(k) + "\n";
    const std::string source = Make(Name + "_src.csv", csv);
    Make(Name + "_src.csvt", "Integer,Real(12.3),String(10)\n");
    const std::string out = PathOf(Name + ".dbf");
    std::string output;
    EXPECT_EQ(RunCommand("ogr2ogr -f 'ESRI Shapefile' '" + out + "' '" + source + "' 2>&1", &output), 0) << output;
    return out;
  }

  // Replaces the only occurrence of From (same length as To) in the file.
  static void Patch(const std::string& File, const std::string& From, const std::string& To) {
    std::string bytes = ReadBytes(File);
    const size_t at = bytes.find(From);
    ASSERT_NE(at, std::string::npos) << From;
    ASSERT_EQ(From.size(), To.size());
    bytes.replace(at, From.size(), To);
    WriteBytes(File, bytes);
  }

  static std::vector<std::string> Column(const std::string& File, const std::string& Field) {
    const TOgrLayer layer = ReadOgrLayer(File);
    std::vector<std::string> out;
    for (size_t f = 0; f < layer.Features.size(); ++f) out.push_back(layer.Value(f, Field));
    return out;
  }
};

std::vector<int32_t> SetBitsOf(const TBitArray& ba) {
  std::vector<int32_t> out;
  for (int64_t i = 0; i < ba.Size(); ++i)
    if (ba.GetBit(i)) out.push_back(int32_t(i));
  return out;
}

}  // namespace

TEST_F(NetworkDbf, ReadersRefuseBeforeReading) {
  TNetwork& net = Small();
  const std::string three = Table("three", {"5", "5", "5"});
  const std::string four = Table("four", {"5", "5", "5", "5"});
  const TCostArray times = net.Times()[0], costs = net.Costs()[0];
  const uint64_t version = net.ColumnVersion();
  struct Case {
    const char* name;
    std::function<void()> f;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"records", [&] { net.ReadCost(0, three, 1, ""); }, "ReadCost: Wrong record count"},
      {"no file", [&] { net.ReadTime(0, PathOf("none.dbf"), 1, ""); }, "ReadTime: File does not exist"},
      {"name", [&] { net.ReadSpeed(0, four, 1, "SPEED", false); }, "ReadSpeed: Invalid fieldname"},
      {"index", [&] { net.ReadTime(0, four, 3, ""); }, "ReadTime: Invalid field index"},
      {"index -1", [&] { net.ReadCost(0, four, -1, ""); }, "ReadCost: Invalid field index"},
      {"column", [&] { net.ReadCost(1, four, 1, ""); }, "ReadCost: index must be 0 to 0 (is 1)"},
      {"column -1", [&] { net.SaveSpeed(-1, four, 1, ""); }, "SaveSpeed: index must be 0 to 0 (is -1)"},
      // A table kind the reader does not know stays closed: no records.
      {"extension", [&] { net.ReadTime(0, Make("t.txt", "x"), 1, ""); }, "ReadTime: Wrong record count"},
  };
  for (const Case& c : cases) EXPECT_EQ(MessageOf([&] { c.f(); }), c.message) << c.name;
  EXPECT_EQ(net.Times()[0], times);
  EXPECT_EQ(net.Costs()[0], costs);
  EXPECT_EQ(net.ColumnVersion(), version);
}

TEST_F(NetworkDbf, ReadsValuesAboveZeroByNameOrIndex) {
  TNetwork& net = Small();
  // Link 3 is rejected: its 9 is never read. Link 4's 0 keeps its value.
  const std::string t = Table("t", {"2.5", "-1", "9", "0"});
  net.ReadTime(0, t, 0, "V");  // the name wins over index 0 (ID)
  EXPECT_FLOAT_EQ(net.GetTime(0, 1), 2.5f);
  EXPECT_FLOAT_EQ(net.GetTime(0, 2), 2);
  EXPECT_FLOAT_EQ(net.GetTime(0, 3), 0);
  EXPECT_FLOAT_EQ(net.GetTime(0, 4), 0.5f);
  net.ReadCost(0, t, 0, "");  // the index: ID 1..4
  for (int32_t l : {1, 2, 4}) EXPECT_FLOAT_EQ(net.GetCost(0, l), float(l)) << l;
  EXPECT_TRUE(net.CostAlphaUpdateNeeded() || net.TimeAlphaUpdateNeeded());

  // Speeds: km/h, or mph at 1.609344 km per mile.
  const std::string s = Table("s", {"100", "60", "", "0"});
  net.ReadSpeed(0, s, 1, "", true);
  EXPECT_FLOAT_EQ(net.GetTime(0, 1), float(1.0 / double(float(100 * 1.609344)) * 60));
  EXPECT_FLOAT_EQ(net.GetTime(0, 2), float(2.0 / double(float(60 * 1.609344)) * 60));
  EXPECT_FLOAT_EQ(net.GetTime(0, 4), 0.5f);
  net.ReadSpeed(0, s, 1, "", false);
  EXPECT_FLOAT_EQ(net.GetTime(0, 1), 0.6f);
  EXPECT_FLOAT_EQ(net.GetTime(0, 2), 2);
}

TEST_F(NetworkDbf, ValueFailingMidTableLeavesTheColumn) {
  TNetwork& net = Small();
  const std::string t = Table("t", {"3", "7777.777", "3", "3"});
  Patch(t, "7777.777", "   1E999");  // beyond a Double: the reader raises at link 2
  const TCostArray before = net.Times()[0];
  EXPECT_THROW(net.ReadTime(0, t, 1, ""), EOverflow);
  EXPECT_EQ(net.Times()[0], before);
  // A value beyond a Single overflows too, before anything is stored.
  const std::string big = Table("big", {"3", "7777.777", "3", "3"});
  Patch(big, "7777.777", "  1.0E39");
  EXPECT_THROW(net.ReadCost(0, big, 1, ""), EOverflow);
  EXPECT_EQ(net.Costs()[0], net.Lengths());
}

TEST_F(NetworkDbf, SaveSpeedWritesValidLinksInPlace) {
  TNetwork& net = Small();
  net.SetTime(0, 1, 0.5f);   // 120 km/h
  net.SetTime(0, 4, 0.75f);  // 40 km/h
  const std::string t = Table("t", {"1", "2", "3", "4"});
  net.SaveSpeed(0, t, 0, "V");
  EXPECT_EQ(Column(t, "V"), (std::vector<std::string>{"120.000", "60.000", "3.000", "40.000"}));
  EXPECT_EQ(Column(t, "NAME"), (std::vector<std::string>{"n0", "n1", "n2", "n3"}));

  // A speed the field cannot hold: nothing is written.
  const std::string before = ReadBytes(t);
  net.SetTime(0, 2, 1e-6f);  // 120 000 000 km/h, wider than the 12 places of V
  EXPECT_EQ(MessageOf([&] { net.SaveSpeed(0, t, 1, ""); }), "Value is out of bounds");
  EXPECT_EQ(ReadBytes(t), before);
  EXPECT_EQ(MessageOf([&] { net.SaveSpeed(0, t, 2, ""); }), "Field type is not supported");
  EXPECT_EQ(ReadBytes(t), before);
}

TEST_F(NetworkDbf, GenericFieldChecks) {
  const std::string t = Table("t", {"1", "2", "3"});
  const std::string before = ReadBytes(t);
  TNetwork net;  // the generic methods need no open network
  TBitArray bits;
  struct Case {
    const char* name;
    std::function<void()> f;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"name", [&] { net.Write1(t, 0, "NONE", TIntegerArray(4)); }, "Field NONE not found in " + t},
      {"index", [&] { net.Write2(t, 7, "", TCostArray(4)); }, "Invalid field index: 7"},
      {"text by index", [&] { net.Read3(t, 2, "", bits); }, "Field 2 is the wrong type"},
      {"text by name", [&] { net.Write3(t, 0, "NAME", TBitArray(4)); }, "Field 2 is the wrong type"},
      {"short", [&] { net.Write1(t, 1, "", TIntegerArray(3)); }, "Size of array do not match file size"},
      {"long", [&] { net.Write3(t, 1, "", TBitArray(5)); }, "Size of array do not match file size"},
  };
  for (const Case& c : cases) EXPECT_EQ(MessageOf([&] { c.f(); }), c.message) << c.name;
  EXPECT_EQ(ReadBytes(t), before);
  EXPECT_EQ(bits.Size(), 0);
}

TEST_F(NetworkDbf, WholeColumnsWrittenAndRead) {
  const std::string t = Table("t", {"1", "0", "1", "0", "1"});
  TNetwork net;
  net.Write1(t, 0, "", TIntegerArray{0, 50, 40, 30, 20, 10});
  EXPECT_EQ(Column(t, "ID"), (std::vector<std::string>{"50", "40", "30", "20", "10"}));
  net.Write2(t, 1, "", TCostArray{0, 0.5f, 1.25f, -2, 0, 1e6f});
  EXPECT_EQ(Column(t, "V"), (std::vector<std::string>{"0.500", "1.250", "-2.000", "0.000", "1000000.000"}));

  TBitArray b(6);
  b.SetBit(2, true);
  b.SetBit(5, true);
  net.Write3(t, 0, "ID", b);
  EXPECT_EQ(Column(t, "ID"), (std::vector<std::string>{"0", "1", "0", "0", "1"}));
  TBitArray read;
  net.Read3(t, 0, "", read);
  ASSERT_EQ(read.Size(), 6);
  for (int32_t r = 1; r <= 5; ++r) EXPECT_EQ(read.GetBit(r), b.GetBit(r)) << r;

  // The list (3, 3, 0, 7): record 3 true, 0 and 7 are no records.
  TIntegerList list;
  for (int32_t r : {3, 3, 0, 7}) list.Add(r);
  net.Write4(t, 0, "", list, false);
  EXPECT_EQ(Column(t, "ID"), (std::vector<std::string>{"0", "1", "1", "0", "1"}));
  net.Write4(t, 0, "", list, true);
  EXPECT_EQ(Column(t, "ID"), (std::vector<std::string>{"0", "0", "1", "0", "0"}));
}

TEST_F(NetworkDbf, Read3Cases) {
  TNetwork net;
  TBitArray bits(3);
  bits.SetBit(1, true);

  // No records: one bit, nothing read.
  const std::string empty = Table("empty", {});
  net.Read3(empty, 0, "", bits);
  EXPECT_EQ(bits.Size(), 1);

  // A read-only table is read (as nobody when root, who could write it).
  const std::string t = Table("t", {"4", "0", "-2"});
  ::chmod(t.c_str(), 0444);
  if (UnprivilegedSkipReason().empty()) {
    EXPECT_EQ(AsUnprivileged(t,
                             [&] {
                               TBitArray got(3);
                               net.Read3(t, 1, "", got);
                               std::string bitsText;
                               for (int64_t i = 0; i < got.Size(); ++i) bitsText += got.GetBit(i) ? '1' : '0';
                               return bitsText;
                             }),
              "0101");
  }
  ::chmod(t.c_str(), 0644);

  // A value that is no integer raises half-way and leaves the bits as they were.
  const std::string bad = Table("bad", {"1", "2", "3"});
  Patch(bad, "        2", "       x2");
  TBitArray kept(2);
  kept.SetBit(1, true);
  EXPECT_THROW(net.Read3(bad, 0, "", kept), EConvertError);
  EXPECT_EQ(kept.Size(), 2);
  EXPECT_TRUE(kept.GetBit(1));

  // A logical field: 'T' and 'Y' are true.
  const std::string logical = Table("logical", {"1", "2", "3", "4"});
  Patch(logical, std::string("V\0\0\0\0\0\0\0\0\0\0N", 12), std::string("V\0\0\0\0\0\0\0\0\0\0L", 12));
  // V's bytes in each record: its first byte says the value, the rest is blank.
  for (const auto& [from, to] : {std::pair{"       1.000", "T           "}, std::pair{"       2.000", "f           "},
                                 std::pair{"       3.000", "y           "}, std::pair{"       4.000", "?           "}})
    Patch(logical, from, to);
  net.Read3(logical, 1, "", bits);
  ASSERT_EQ(bits.Size(), 5);
  EXPECT_EQ(SetBitsOf(bits), (std::vector<int32_t>{1, 3}));
}
