// Attribute and limit files from table columns and read events: round trips
// through the network's own readers, value ranges, the checks that come
// before anything is written, the record count, cancel and the settings.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "foundation/kovra_configfile.h"
#include "import/kovra_import.h"
#include "import/kovra_importattributes.h"
#include "import/support/folder_state.h"
#include "import/support/import_fixtures.h"
#include "import/support/tab_fixture.h"
#include "network/kovra_network.h"
#include "network/support/network_writer.h"
#include "support/test_files.h"
#include "support/test_raises.h"
#include "support/unprivileged.h"

using namespace kovra;
using namespace kovra::testsupport;
namespace fs = std::filesystem;

namespace {

// Values of a plain file of UInt16 (Bytes 2) or Byte (1) values.
std::vector<int64_t> PlainValues(const std::string& Path, int Bytes) {
  const std::string b = ReadBytes(Path);
  std::vector<int64_t> out;
  for (size_t i = 0; i + size_t(Bytes) <= b.size(); i += size_t(Bytes))
    out.push_back(Bytes == 2 ? int64_t(uint8_t(b[i]) | (uint8_t(b[i + 1]) << 8)) : int64_t(uint8_t(b[i])));
  return out;
}

std::string CsvLines(const std::vector<std::string>& Lines) {
  std::string s;
  for (const auto& l : Lines) s += l + "\r\n";
  return s;
}

// Links side by side, none touching another.
std::vector<TJsonFeature> Roads(const std::vector<std::string>& Properties) {
  std::vector<TJsonFeature> f;
  for (size_t i = 0; i < Properties.size(); ++i)
    f.push_back({JsonLine({{100.0 * double(i), 0}, {100.0 * double(i), 50}}), Properties[i]});
  return f;
}

class AttributeImport : public TImportTest {
protected:
  // A network of Links links written as the import writes it, with its settings file.
  void Network(int32_t Links, int64_t Key = 0) {
    TTestNetworkWriter w;
    w.Key = Key;
    for (int32_t i = 0; i < Links; ++i) w.AddLink({{10.0 * i, 0}, {10.0 * i, 5}});
    w.Write(fOut + "/");
  }
  std::string Csv(const std::string& Name, const std::vector<std::string>& Lines) {
    const std::string path = In(Name);
    WriteBytes(path, CsvLines(Lines));
    return path;
  }
  std::string Out(const std::string& Name) const { return fOut + "/" + Name; }
  void Prepare(TImportAttributes& A) const { A.SetDirectory(fOut); }
};

// ---------------------------------------------------------------------------
// Round trips through the network's readers

TEST_F(AttributeImport, RoundTripThroughTheNetworkPlainAndKeyed) {
  const std::vector<int64_t> attr{0, 1, 65535, 513, 1024, 31};
  const std::vector<int64_t> lim{0, 255, 7, 30, 1, 128};
  std::vector<std::string> props, csv;
  for (size_t i = 0; i < attr.size(); ++i) {
    props.push_back("\"ATTR\":" + std::to_string(attr[i]) + ",\"LIM\":" + std::to_string(lim[i]));
    csv.push_back("x," + std::to_string(attr[i]) + "," + std::to_string(lim[i]));
  }
  const std::string shp = Shapefile("roads.shp", Roads(props));
  const std::string csvFile = Csv("roads.csv", csv);
  enum Source { dbf, text, event };
  for (int64_t key : {int64_t(0), int64_t(987654321)}) {
    for (Source source : {dbf, text, event}) {
      SCOPED_TRACE("key " + std::to_string(key) + " source " + std::to_string(source));
      fs::remove_all(fOut);
      fs::create_directories(fOut);
      TImport imp;
      imp.SetDirectory(fOut);
      imp.SetEncryptionKey(key);
      imp.Add(shp);
      imp.Execute();

      TImportAttributes a;
      Prepare(a);
      a.SetEncryptionKey(key);
      a.SetLimitFileIndex(3);
      if (source == dbf) {
        a.Add(In("roads.dbf"));
        a.ExecuteAttribute(0, "ATTR", fkDBF);
        a.ExecuteLimit(0, "LIM", fkDBF);
      } else if (source == text) {
        a.Add(csvFile);
        a.ExecuteAttribute(1, "", fkCSV);
        a.ExecuteLimit(2, "", fkCSV);
      } else {
        a.OnReadAttribute = [&](TObject* s, int32_t link, uint16_t& v, bool& last) {
          EXPECT_EQ(s, &a);
          v = uint16_t(attr[size_t(link - 1)]);
          last = size_t(link) == attr.size();
        };
        a.OnReadLimit = [&](TObject*, int32_t link, uint8_t& v, bool& last) {
          v = uint8_t(lim[size_t(link - 1)]);
          last = size_t(link) == lim.size();
        };
        a.ExecuteAttributeEvent();
        a.ExecuteLimitEvent();
      }
      EXPECT_EQ(fs::file_size(Out("attribute.bin")), 2 * attr.size());
      EXPECT_EQ(fs::file_size(Out("limit3.bin")), lim.size());
      if (key == 0) {
        EXPECT_EQ(PlainValues(Out("attribute.bin"), 2), attr);
        EXPECT_EQ(PlainValues(Out("limit3.bin"), 1), lim);
      } else {
        EXPECT_NE(PlainValues(Out("attribute.bin"), 2), attr);
      }

      TNetwork net;
      net.SetDirectory(fOut);
      net.SetEncryptionKey(key);
      net.Open(true, false, false, 0);
      net.OpenLimit(3, 1, false);
      for (int32_t l = 1; l <= int32_t(attr.size()); ++l) {
        EXPECT_EQ(net.AttributeGet(l), attr[size_t(l - 1)]) << l;
        EXPECT_EQ(net.GetLimit(1, l), lim[size_t(l - 1)]) << l;
      }
      net.Close();
    }
  }
}

// ---------------------------------------------------------------------------
// Values out of range and the failures checked before anything is written

TEST_F(AttributeImport, OutOfRangeValuesLeaveThePreviousFile) {
  Network(3);
  struct Case {
    bool limit;
    std::string value;
    std::string error;
  };
  const Case cases[] = {
      {false, "65535", ""}, {false, "65536", "Attribute value out of range"},
      {false, "-1", "Attribute value out of range"}, {true, "255", ""},
      {true, "256", "Limit value out of range"}, {true, "-1", "Limit value out of range"},
  };
  // Earlier files of other values, which a failed run must keep.
  WriteBytes(Out("attribute.bin"), std::string("\x07\0\x07\0\x07\0", 6));
  WriteBytes(Out("limit1.bin"), "\x05\x05\x05");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    const std::string file = Csv("v.csv", {"1", c.value, "2"});
    const TFolderState inBefore = FolderState(fIn), before = FolderState(fOut);
    TImportAttributes a;
    Prepare(a);
    a.Add(file);
    const std::string msg = MessageOf<EOutOfRange>(
        [&] { c.limit ? a.ExecuteLimit(0, "", fkCSV) : a.ExecuteAttribute(0, "", fkCSV); });
    EXPECT_EQ(msg, c.error);
    EXPECT_TRUE(NoFileOfRunRemains(inBefore, fIn));
    if (!c.error.empty()) {
      EXPECT_TRUE(NoFileOfRunRemains(before, fOut));
    } else {
      const std::vector<int64_t> want{1, std::stoll(c.value), 2};
      EXPECT_EQ(PlainValues(Out(c.limit ? "limit1.bin" : "attribute.bin"), c.limit ? 1 : 2), want);
      EXPECT_FALSE(fs::exists(Out(c.limit ? "limit1.bin.tmp" : "attribute.bin.tmp")));
    }
  }
}

TEST_F(AttributeImport, BadRequestsChangeNothing) {
  Network(3);
  WriteBytes(Out("attribute.bin"), std::string("\x07\0\x07\0\x07\0", 6));
  Shapefile("a.shp", Roads({R"("ATTR":1,"B":2)", R"("ATTR":2,"B":2)", R"("ATTR":3,"B":2)"}));
  Shapefile("other.shp", Roads({R"("X":1)"}));
  Shapefile("two.shp", Roads({R"("ATTR":1,"B":2)", R"("ATTR":2,"B":2)"}));
  const std::string csv3 = Csv("three.csv", {"1,2", "3,4", "5,6"});
  const std::string csv2 = Csv("two.csv", {"1,2", "3,4"});
  const std::string csv4 = Csv("four.csv", {"1,2", "3,4", "5,6", "7,8"});
  const std::string text = Csv("text.csv", {"1", "two", "3"});
  struct Case {
    std::vector<std::string> files;
    TFileKind fk;
    int32_t index;
    std::string name;
    std::string error;
  };
  const std::string countMsg = "Number of records (%d) differs from the number of links (3)";
  const Case cases[] = {
      {{In("a.dbf")}, fkDBF, 0, "NOPE", "Field NOPE not found"},
      {{In("a.dbf")}, fkDBF, 2, "", "Field 2 not valid - should be 0..1"},
      {{In("a.dbf")}, fkDBF, -1, "", "Field -1 not valid - should be 0..1"},
      {{csv3}, fkCSV, -1, "", "Field -1 not valid - should be 0 or more"},
      {{}, fkCSV, 0, "", "Cannot find input file to import."},
      {{}, fkDBF, 0, "", "Cannot find input file to import."},
      {{In("a.dbf"), In("other.dbf")}, fkDBF, 0, "",
       "DBF files structure are different. Fields count of table " + In("other.dbf") + " is not the same as the first"},
      {{text}, fkCSV, 0, "", "'two' is not a valid integer value"},
      {{csv2}, fkCSV, 0, "", Format(countMsg, 2)},
      {{csv4}, fkCSV, 0, "", Format(countMsg, 4)},
      {{In("two.dbf")}, fkDBF, 0, "", Format(countMsg, 2)},
      {{In("a.dbf"), In("two.dbf")}, fkDBF, 0, "", Format(countMsg, 5)},
      {{In("missing.csv")}, fkCSV, 0, "", "Cannot open file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    const TFolderState inBefore = FolderState(fIn), before = FolderState(fOut);
    TImportAttributes a;
    Prepare(a);
    a.AddFiles(c.files);
    const std::string msg = MessageOf([&] { a.ExecuteAttribute(c.index, c.name, c.fk); });
    EXPECT_EQ(msg.substr(0, c.error.size()), c.error);
    EXPECT_FALSE(c.error.empty() || msg.empty());
    EXPECT_TRUE(NoFileOfRunRemains(before, fOut));
    EXPECT_TRUE(NoFileOfRunRemains(inBefore, fIn));
  }
  // The exception classes callers tell apart.
  TImportAttributes a;
  Prepare(a);
  a.Add(In("a.dbf"));
  EXPECT_THROW(a.ExecuteAttribute(0, "NOPE", fkDBF), EFieldNameNotFound);
  EXPECT_THROW(a.ExecuteAttribute(9, "", fkDBF), EInvalidFieldIndex);
  a.Clear();
  EXPECT_THROW(a.ExecuteLimit(0, "", fkDBF), EFileMissing);
  a.Add(csv3);
  EXPECT_THROW(a.ExecuteLimit(-3, "", fkCSV), EInvalidFieldIndex);
  a.Clear();
  a.Add(text);
  EXPECT_THROW(a.ExecuteLimit(0, "", fkCSV), EConvertError);
}

TEST_F(AttributeImport, ACorruptSettingsFileIsRefusedBeforeWriting) {
  Network(3);
  std::string ini = ReadBytes(Out(cConfigFileName));
  ini[ini.find("linkcount=") + 10] ^= 1;  // any change breaks the checksum
  WriteBytes(Out(cConfigFileName), ini);
  const TFolderState before = FolderState(fOut);
  TImportAttributes a;
  Prepare(a);
  a.Add(Csv("v.csv", {"1", "2", "3"}));
  EXPECT_THROW(a.ExecuteAttribute(0, "", fkCSV), EConfigFileCheckSumError);
  EXPECT_TRUE(NoFileOfRunRemains(before, fOut));
}

// ---------------------------------------------------------------------------
// Tables

TEST_F(AttributeImport, CsvTablesAreOneSequenceAndIgnoreTheFieldName) {
  TImportAttributes a;
  Prepare(a);  // no settings file: nothing to count against
  a.Add(Csv("a.csv", {"1,10", "2,20", "3,30"}));
  a.Add(Csv("b.csv", {"4,40", "5", "6,60", "7,70"}));
  a.ExecuteAttribute(1, "NO_SUCH_FIELD", fkCSV);
  // A line with fewer fields gives 0.
  EXPECT_EQ(PlainValues(Out("attribute.bin"), 2), (std::vector<int64_t>{10, 20, 30, 40, 0, 60, 70}));
}

TEST_F(AttributeImport, DbfTablesFromGdalWithNullsAndTheFieldNameFirst) {
  Shapefile("a.shp", Roads({R"("ATTR":1,"LIM":9)", R"("ATTR":null,"LIM":8)", R"("ATTR":65535,"LIM":7)"}));
  Shapefile("b.shp", Roads({R"("ATTR":4,"LIM":null)", R"("ATTR":5,"LIM":6)"}));
  // GDAL stores a NULL number as asterisks, which must read as 0.
  const std::string bytes = ReadBytes(In("a.dbf"));
  ASSERT_NE(bytes.find("*****"), std::string::npos);
  TImportAttributes a;
  Prepare(a);
  a.AddFiles({In("a.dbf"), In("b.dbf")});
  a.ExecuteAttribute(77, "attr", fkDBF);  // the name wins over the index
  EXPECT_EQ(PlainValues(Out("attribute.bin"), 2), (std::vector<int64_t>{1, 0, 65535, 4, 5}));
  a.ExecuteLimit(1, "", fkDBF);
  EXPECT_EQ(PlainValues(Out("limit1.bin"), 1), (std::vector<int64_t>{9, 8, 7, 0, 6}));
}

TEST_F(AttributeImport, MapInfoTablesMidDatAndNativeX) {
  const auto feats = Roads({R"("ID":1,"ATTR":300)", R"("ID":2,"ATTR":301)", R"("ID":3,"ATTR":302)"});
  OgrConvert(feats, In("m.mif"), "-f 'MapInfo File' -dsco FORMAT=MIF");
  OgrConvert(feats, In("t.tab"), "-f 'MapInfo File'");
  TTabFixture nx;
  nx.NativeX = true;
  for (int32_t i = 0; i < 3; ++i) nx.Objects.push_back({8, {{0, 0}, {10, 10}}, false, false, 5 - i, 200 + i});
  WriteTabFixture(In("nx"), nx);
  const std::vector<int64_t> want{300, 301, 302};
  TImportAttributes a;
  Prepare(a);
  a.Add(In("m.mid"));
  a.ExecuteAttribute(1, "", fkCSV);
  EXPECT_EQ(PlainValues(Out("attribute.bin"), 2), want);
  a.Clear();
  a.Add(In("t.dat"));
  a.ExecuteAttribute(0, "ATTR", fkDBF);
  EXPECT_EQ(PlainValues(Out("attribute.bin"), 2), want);
  a.Clear();
  a.Add(In("nx.dat"));
  a.ExecuteAttribute(0, "ZTO", fkDBF);
  EXPECT_EQ(PlainValues(Out("attribute.bin"), 2), (std::vector<int64_t>{200, 201, 202}));
  a.ExecuteLimit(0, "", fkDBF);
  EXPECT_EQ(PlainValues(Out("limit1.bin"), 1), (std::vector<int64_t>{5, 4, 3}));
}

// ---------------------------------------------------------------------------
// Read events

TEST_F(AttributeImport, EventRuns) {
  Network(3);
  WriteBytes(Out("attribute.bin"), std::string("\x07\0\x07\0\x07\0", 6));
  TImportAttributes a;
  Prepare(a);
  // Without a handler nothing happens, not even the directory check.
  const TFolderState before = FolderState(fOut);
  a.ExecuteAttributeEvent();
  a.ExecuteLimitEvent();
  EXPECT_TRUE(NoFileOfRunRemains(before, fOut));

  struct Case {
    int32_t stopAt;   // lastrecord set at this link
    int32_t raiseAt;  // the handler raises at this link (0: never)
    std::string error;
  };
  const Case cases[] = {
      {3, 0, ""},
      {3, 3, "handler failed"},
      {2, 0, "Number of records (2) differs from the number of links (3)"},
      {4, 0, "Number of records (4) differs from the number of links (3)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    const TFolderState prior = FolderState(fOut);
    a.OnReadLimit = [&](TObject*, int32_t link, uint8_t& v, bool& last) {
      if (link == c.raiseAt) throw Exception("handler failed");
      v = uint8_t(link * 10);
      last = link == c.stopAt;
    };
    EXPECT_EQ(MessageOf([&] { a.ExecuteLimitEvent(); }), c.error);
    if (c.error.empty()) {
      EXPECT_EQ(PlainValues(Out("limit1.bin"), 1), (std::vector<int64_t>{10, 20, 30}));
    } else {
      EXPECT_TRUE(NoFileOfRunRemains(prior, fOut));
    }
  }

  // Without a settings file any count goes: lastrecord on the first call gives one value.
  fs::remove(Out(cConfigFileName));
  a.OnReadAttribute = [](TObject*, int32_t, uint16_t& v, bool& last) {
    v = 4242;
    last = true;
  };
  a.ExecuteAttributeEvent();
  EXPECT_EQ(PlainValues(Out("attribute.bin"), 2), (std::vector<int64_t>{4242}));
}

// ---------------------------------------------------------------------------
// Cancel, settings and the directory

TEST_F(AttributeImport, CancelKeepsThePreviousFileAndStaysSet) {
  Network(3);
  WriteBytes(Out("attribute.bin"), std::string("\x07\0\x07\0\x07\0", 6));
  const TFolderState before = FolderState(fOut);
  TImportAttributes a;
  Prepare(a);
  a.Add(Csv("v.csv", {"1", "2", "3"}));
  std::vector<int32_t> reports;
  a.SetOnProgress([&](TObject*, int32_t p, bool& cancel) {
    reports.push_back(p);
    if (p > 0) cancel = true;
  });
  a.ExecuteAttribute(0, "", fkCSV);
  EXPECT_TRUE(a.Cancelled());
  EXPECT_TRUE(NoFileOfRunRemains(before, fOut));
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.back(), 0);
  // The event paths neither clear nor test the flag.
  a.OnReadAttribute = [](TObject*, int32_t link, uint16_t& v, bool& last) {
    v = uint16_t(link);
    last = link == 3;
  };
  a.ExecuteAttributeEvent();
  EXPECT_TRUE(a.Cancelled());
  EXPECT_EQ(PlainValues(Out("attribute.bin"), 2), (std::vector<int64_t>{1, 2, 3}));
  // A table run clears it first.
  a.SetOnProgress(nullptr);
  a.ExecuteLimit(0, "", fkCSV);
  EXPECT_FALSE(a.Cancelled());
  EXPECT_EQ(PlainValues(Out("limit1.bin"), 1), (std::vector<int64_t>{1, 2, 3}));
}

TEST_F(AttributeImport, SettingsAndFileIndexes) {
  TImportAttributes a;
  if (!std::getenv("KOVRA_ANSI_CODEPAGE")) {
    EXPECT_EQ(a.CodepageCSV(), 1252);
  }
  EXPECT_EQ(a.CodepageDbf(), 0);
  EXPECT_EQ(a.LimitFileIndex(), 1);
  EXPECT_EQ(a.RoadNameFileIndex(), 1);
  a.SetLimitFileIndex(4);
  for (int32_t bad : {0, 10, -1})
    EXPECT_EQ(MessageOf([&] { a.SetLimitFileIndex(bad); }), "Limit file index should be 1..9");
  EXPECT_EQ(a.LimitFileIndex(), 4);
  a.SetRoadNameFileIndex(99);
  for (int32_t bad : {0, 100})
    EXPECT_EQ(MessageOf([&] { a.SetRoadNameFileIndex(bad); }), "Roadname file index should be 1..99");
  EXPECT_EQ(a.RoadNameFileIndex(), 99);
  Prepare(a);
  a.Add(Csv("v.csv", {"9"}));
  a.ExecuteLimit(0, "", fkCSV);
  EXPECT_TRUE(fs::exists(Out("limit4.bin")));
  EXPECT_EQ(FolderState(fOut).size(), 1u);
}

TEST_F(AttributeImport, DirectoryChecksComeFirst) {
  TImportAttributes a;
  a.SetDirectory(fOut + "/missing");
  a.Add(Csv("v.csv", {"1"}));
  a.OnReadAttribute = [](TObject*, int32_t, uint16_t&, bool& last) { last = true; };
  for (auto run : {+[](TImportAttributes& x) { x.ExecuteAttribute(0, "", fkCSV); },
                   +[](TImportAttributes& x) { x.ExecuteAttributeEvent(); }})
    EXPECT_EQ(MessageOf([&] { run(a); }), "Output directory does not exist");
  EXPECT_FALSE(fs::exists(fOut + "/missing"));
  if (const std::string why = UnprivilegedSkipReason(); !why.empty()) GTEST_SKIP() << why;
  fs::permissions(fOut, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                            fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
  a.SetDirectory(fOut);
  EXPECT_EQ(AsUnprivileged(fOut, [&] { return MessageOf([&] { a.ExecuteLimit(0, "", fkCSV); }); }),
            "Output directory is not writeable");
  fs::permissions(fOut, fs::perms::owner_all);
  EXPECT_TRUE(fs::is_empty(fOut));
}

}  // namespace
