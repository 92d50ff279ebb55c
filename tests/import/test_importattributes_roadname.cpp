// Road-name pairs from MID, CSV and DBF columns and from the read event:
// names read back through the network, the .mif column and code page, the
// two event passes, and failures that must leave the previous pair alone.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "foundation/kovra_configfile.h"
#include "import/kovra_importattributes.h"
#include "import/support/folder_state.h"
#include "import/support/import_fixtures.h"
#include "network/kovra_network.h"
#include "network/support/network_writer.h"
#include "support/gdal_readback.h"
#include "support/test_files.h"
#include "support/test_raises.h"

using namespace kovra;
using namespace kovra::testsupport;
namespace fs = std::filesystem;

namespace {

// Links side by side, none touching another.
std::vector<TJsonFeature> Roads(const std::vector<std::string>& Properties) {
  std::vector<TJsonFeature> f;
  for (size_t i = 0; i < Properties.size(); ++i)
    f.push_back({JsonLine({{100.0 * double(i), 0}, {100.0 * double(i), 50}}), Properties[i]});
  return f;
}

const std::vector<std::string> cCyrillic{"Мира", "Ленина, 5", "", "Мира", "Ёлочная \"Б\""};
const std::vector<std::string> cSwedish{"Götgatan", "Åsögatan", "", "Götgatan", "Sankt Eriksgatan 1"};

std::string JsonText(const std::string& s) {
  std::string out = "\"";
  for (char c : s) out += c == '"' ? std::string("\\\"") : std::string(1, c);
  return out + "\"";
}

class RoadNameImport : public TImportTest {
protected:
  void Network(int32_t Links) {
    TTestNetworkWriter w;
    for (int32_t i = 0; i < Links; ++i) w.AddLink({{10.0 * i, 0}, {10.0 * i, 5}});
    w.Write(fOut + "/");
  }
  std::string Out(const std::string& Name) const { return fOut + "/" + Name; }

  // Features with ID and NAME from Names, converted by ogr2ogr into In(Name)
  // with Args; the names as python3 reads them from the GeoJSON source.
  std::vector<std::string> Table(const std::string& Name, const std::vector<std::string>& Names,
                                 const std::string& Args) {
    std::vector<std::string> props;
    for (size_t i = 0; i < Names.size(); ++i)
      props.push_back("\"ID\":" + std::to_string(i + 1) + ",\"NAME\":" + JsonText(Names[i]));
    const auto feats = Roads(props);
    const std::string json = In(Name + ".json");
    WriteBytes(json, JsonCollection(feats));
    std::string out;
    EXPECT_EQ(RunCommand("/usr/bin/python3 -c 'import json,sys\nfor f in json.load(open(sys.argv[1]))[\"features\"]: "
                         "print(f[\"properties\"][\"NAME\"])' '" +
                             json + "'",
                         &out),
              0);
    std::vector<std::string> names;
    size_t p = 0;
    for (size_t nl; (nl = out.find('\n', p)) != std::string::npos; p = nl + 1) names.push_back(out.substr(p, nl - p));
    OgrConvert(feats, In(Name), Args);
    return names;
  }

  // The names of every link of pair FileNumber, through the network.
  std::vector<std::string> NamesOf(int32_t FileNumber) const {
    TNetwork net;
    net.SetDirectory(fOut);
    net.Open(false, false, false, 0);
    net.OpenRoadName(FileNumber, false);
    std::vector<std::string> names;
    for (int32_t l = 1; l <= net.LinkCount(); ++l) names.push_back(net.Link2RoadName(FileNumber, l));
    net.Close();
    return names;
  }
};

// ---------------------------------------------------------------------------
// Round trips through the network's reader

TEST_F(RoadNameImport, TablesInTheirCodePagesReadBackThroughTheNetwork) {
  Network(5);
  struct Case {
    std::string file;  // input table
    std::string made;  // what ogr2ogr writes
    std::string args;
    const std::vector<std::string>* names;
    TFileKind fk;
  };
  const Case cases[] = {
      {"c.mid", "c.mif", "-f 'MapInfo File' -dsco FORMAT=MIF -lco ENCODING=CP1251", &cCyrillic, fkCSV},
      {"w.mid", "w.mif", "-f 'MapInfo File' -dsco FORMAT=MIF -lco ENCODING=CP1252", &cSwedish, fkCSV},
      {"c.dbf", "c.shp", "-lco ENCODING=CP1251", &cCyrillic, fkDBF},
      {"w.dbf", "w.shp", "-lco ENCODING=CP1252", &cSwedish, fkDBF},
      {"u.dbf", "u.shp", "-lco ENCODING=UTF-8", &cCyrillic, fkDBF},
      {"t.dat", "t.tab", "-f 'MapInfo File' -lco ENCODING=CP1252", &cSwedish, fkDBF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::vector<std::string> want = Table(c.made, *c.names, c.args);
    ASSERT_EQ(want.size(), 5u);
    TImportAttributes a;
    a.SetDirectory(fOut);
    a.SetRoadNameFileIndex(3);
    a.Add(In(c.file));
    a.ExecuteRoadname(0, "name", c.fk);
    EXPECT_EQ(NamesOf(3), want);
  }
  // A UTF-8 shapefile says so in its .cpg, which must give code page 65001.
  EXPECT_EQ(ReadBytes(In("u.cpg")).substr(0, 5), "UTF-8");
}

// A ".csv" table is split at commas only: a name with blanks stays whole and
// the columns after it stay in place.
TEST_F(RoadNameImport, CsvNamesKeepTheirBlanks) {
  Network(4);
  const std::string csv = In("names.csv");
  WriteBytes(csv, "1,Main Street,x\r\n2,\"Kings Road, North\",x\r\n3, Old  Mill Lane ,x\r\n4,Main Street,x\r\n");
  TImportAttributes a;
  a.SetDirectory(fOut);
  a.SetCodepageCSV(65001);
  a.Add(csv);
  a.ExecuteRoadname(1, "", fkCSV);
  EXPECT_EQ(NamesOf(1), (std::vector<std::string>{"Main Street", "Kings Road, North", "Old  Mill Lane", "Main Street"}));
}

TEST_F(RoadNameImport, Cp1251TextMadeByUconv) {
  Network(5);
  std::string csv;
  for (size_t i = 0; i < cCyrillic.size(); ++i) {
    std::string quoted;
    for (char ch : cCyrillic[i]) quoted += ch == '"' ? std::string("\"\"") : std::string(1, ch);
    csv += std::to_string(i + 1) + ",\"" + quoted + "\"\n";
  }
  WriteBytes(In("utf8.csv"), csv);
  ASSERT_EQ(RunCommand("uconv -f UTF-8 -t cp1251 -o '" + In("c.csv") + "' '" + In("utf8.csv") + "'"), 0);
  TImportAttributes a;
  a.SetDirectory(fOut);
  a.SetCodepageCSV(1251);
  a.Add(In("c.csv"));
  a.ExecuteRoadname(1, "ignored for csv", fkCSV);
  std::vector<std::string> want = cCyrillic;
  EXPECT_EQ(NamesOf(1), want);
  EXPECT_EQ(a.CodepageCSV(), 1251);
}

// ---------------------------------------------------------------------------
// The .mif of a MID input: column and code page

TEST_F(RoadNameImport, MifColumnsCharsetAndDelimiter) {
  Network(2);
  struct Case {
    std::string props1, props2;  // the two features
    std::string encoding;
    std::string sed;        // edit of the .mif, "" for none
    std::string fieldname;  // looked up in the .mif
    std::vector<std::string> want;
    std::string error;      // with <mif> for the .mif path
    uint16_t codepage;      // CodepageCSV after the call (0: unchanged 1252)
  };
  const Case cases[] = {
      {R"("Id":1,"Name":"a1","Name2":"b1")", R"("Id":2,"Name":"a2","Name2":"b2")", "CP1252", "", "Name",
       {"a1", "a2"}, "", 1252},
      // Declared first, NAMEX must not be taken for NAME.
      {R"("Id":1,"NAMEX":"wrong","NAME":"right")", R"("Id":2,"NAMEX":"wrong","NAME":"right2")", "CP1252", "",
       "name", {"right", "right2"}, "", 1252},
      {R"("Id":1,"Name":"a1","Name2":"b1")", R"("Id":2,"Name":"a2","Name2":"b2")", "CP1252", "", "Nam", {},
       "Field NAM not found in <mif>", 1252},
      {R"("Id":1,"Name":"Мира")", R"("Id":2,"Name":"Ленина")", "CP1251", "", "Name", {"Мира", "Ленина"}, "",
       1251},
      {R"("Id":1,"Name":"a1")", R"("Id":2,"Name":"a2")", "CP1252", R"(s/^Delimiter ","/Delimiter ";"/)", "Name", {},
       "Unsupported MID delimiter \";\" in <mif>", 1252},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fieldname + " " + c.error);
    const std::string stem = "m" + std::to_string(n++);
    OgrConvert(Roads({c.props1, c.props2}), In(stem + ".mif"),
               "-f 'MapInfo File' -dsco FORMAT=MIF -lco ENCODING=" + c.encoding);
    if (!c.sed.empty()) {
      ASSERT_EQ(RunCommand("sed -i '" + c.sed + "' '" + In(stem + ".mif") + "'"), 0);
    }
    const TFolderState before = FolderState(fOut);
    TImportAttributes a;
    a.SetDirectory(fOut);
    a.SetCodepageCSV(1252);
    a.Add(In(stem + ".mid"));
    std::string error = c.error;
    if (const size_t p = error.find("<mif>"); p != std::string::npos) error.replace(p, 5, In(stem + ".mif"));
    EXPECT_EQ(MessageOf([&] { a.ExecuteRoadname(0, c.fieldname, fkCSV); }), error);
    if (error.empty()) {
      EXPECT_EQ(NamesOf(1), c.want);
      EXPECT_EQ(a.CodepageCSV(), c.codepage);
    } else {
      EXPECT_TRUE(NoFileOfRunRemains(before, fOut));
    }
  }
  // A MID without its .mif.
  WriteBytes(In("alone.mid"), "1,\"x\"\n2,\"y\"\n");
  TImportAttributes a;
  a.SetDirectory(fOut);
  a.Add(In("alone.mid"));
  EXPECT_EQ(MessageOf([&] { a.ExecuteRoadname(1, "", fkCSV); }),
            "Corresponding MIF file is missing for MID file " + In("alone.mid"));
}

// ---------------------------------------------------------------------------
// File numbers, requests and failures

TEST_F(RoadNameImport, FileNumbersAndBadRequestsKeepThePreviousPair) {
  Network(3);
  WriteBytes(In("a.csv"), "1,\"x\"\n2,\"y\"\n3,\"x\"\n");
  TImportAttributes a;
  a.SetDirectory(fOut);
  a.Add(In("a.csv"));
  for (int32_t nn : {7, 12}) {
    a.SetRoadNameFileIndex(nn);
    a.ExecuteRoadname(1, "", fkCSV);
  }
  for (const char* f : {"roadname07.bin", "roadnumber07.bin", "roadname12.bin", "roadnumber12.bin"})
    EXPECT_TRUE(fs::exists(Out(f))) << f;
  EXPECT_EQ(NamesOf(7), (std::vector<std::string>{"x", "y", "x"}));

  Table("t.shp", {"p", "q", "r"}, "");
  WriteBytes(In("two.csv"), "1,\"x\"\n2,\"y\"\n");
  WriteBytes(In("four.csv"), "1,\"x\"\n2,\"y\"\n3,\"x\"\n4,\"z\"\n");
  a.SetRoadNameFileIndex(7);
  struct Case {
    std::vector<std::string> files;
    TFileKind fk;
    int32_t index;
    std::string name;
    std::string error;
  };
  const Case cases[] = {
      {{}, fkCSV, 1, "", "Cannot find input file to import."},
      {{}, fkDBF, 1, "", "Cannot find input file to import."},
      {{In("a.csv")}, fkCSV, -1, "", "Field -1 not valid - should be 0 or more"},
      {{In("two.csv")}, fkCSV, 1, "", "Number of records (2) differs from the number of links (3)"},
      {{In("four.csv")}, fkCSV, 1, "", "Number of records (4) differs from the number of links (3)"},
      {{In("t.dbf")}, fkDBF, 0, "", "Invalid field type"},
      {{In("t.dbf")}, fkDBF, 0, "NOPE", "Field Name not found"},
      {{In("t.dbf")}, fkDBF, 2, "", "FieldIndex out of bound"},
      {{In("t.dbf")}, fkDBF, -1, "", "FieldIndex out of bound"},
      {{In("t.dbf"), In("t.dbf")}, fkDBF, 0, "NAME", "Number of records (6) differs from the number of links (3)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    const TFolderState before = FolderState(fOut), inBefore = FolderState(fIn);
    a.Clear();
    a.AddFiles(c.files);
    EXPECT_EQ(MessageOf([&] { a.ExecuteRoadname(c.index, c.name, c.fk); }), c.error);
    EXPECT_TRUE(NoFileOfRunRemains(before, fOut));
    EXPECT_TRUE(NoFileOfRunRemains(inBefore, fIn));
  }
}

TEST_F(RoadNameImport, CancelInEitherPassKeepsThePreviousPair) {
  Network(3);
  WriteBytes(In("old.csv"), "1,\"old\"\n2,\"old\"\n3,\"old\"\n");
  WriteBytes(In("new.csv"), "1,\"new\"\n2,\"new\"\n3,\"new\"\n");
  TImportAttributes a;
  a.SetDirectory(fOut);
  a.Add(In("old.csv"));
  a.ExecuteRoadname(1, "", fkCSV);
  a.Clear();
  a.Add(In("new.csv"));
  for (int32_t cancelAbove : {0, 40}) {
    SCOPED_TRACE(cancelAbove);
    const TFolderState before = FolderState(fOut);
    TObject* sender = nullptr;
    a.SetOnProgress([&](TObject* s, int32_t p, bool& cancel) {
      sender = s;
      if (p > cancelAbove) cancel = true;
    });
    a.ExecuteRoadname(1, "", fkCSV);
    EXPECT_TRUE(NoFileOfRunRemains(before, fOut));
    // The builder reports and cancels for itself.
    EXPECT_NE(sender, nullptr);
    EXPECT_NE(sender, &a);
    EXPECT_FALSE(a.Cancelled());
  }
  EXPECT_EQ(NamesOf(1), (std::vector<std::string>{"old", "old", "old"}));
}

// ---------------------------------------------------------------------------
// Read events

TEST_F(RoadNameImport, EventPasses) {
  Network(3);
  TImportAttributes a;
  a.SetDirectory(fOut);
  const TFolderState empty = FolderState(fOut);
  a.ExecuteRoadnameEvent();  // no handler: nothing
  EXPECT_TRUE(NoFileOfRunRemains(empty, fOut));

  std::vector<std::string> first, second;
  int32_t calls = 0;
  a.OnReadRoadName = [&](TObject* s, int32_t link, std::string& name, bool& last) {
    EXPECT_EQ(s, &a);
    EXPECT_TRUE(name.empty());
    const auto& names = calls++ < int32_t(first.size()) ? first : second;
    name = names[size_t(link - 1)];
    last = size_t(link) == names.size();
  };
  auto run = [&](std::vector<std::string> one, std::vector<std::string> two) {
    first = std::move(one);
    second = std::move(two);
    calls = 0;
    return MessageOf([&] { a.ExecuteRoadnameEvent(); });
  };
  EXPECT_EQ(run({"B", "A", "B"}, {"B", "A", "B"}), "");
  // Records A then B, padded to one unit; ids 2, 1, 2.
  EXPECT_EQ(ReadBytes(Out("roadname01.bin")), std::string("A\0B\0", 4));
  EXPECT_EQ(ReadBytes(Out("roadnumber01.bin")), std::string("\2\0\0\0\1\0\0\0\2\0\0\0", 12));
  EXPECT_EQ(NamesOf(1), (std::vector<std::string>{"B", "A", "B"}));

  const TFolderState before = FolderState(fOut);
  EXPECT_EQ(run({"B", "A", "B"}, {"B", "C", "B"}), "Road name not found in first pass: C");
  EXPECT_TRUE(NoFileOfRunRemains(before, fOut));
  EXPECT_EQ(run({"B", "A", "B"}, {"B", "A"}), "Number of road names differs between passes (3, 2)");
  EXPECT_TRUE(NoFileOfRunRemains(before, fOut));
  EXPECT_EQ(run({"B", "A"}, {"B", "A"}), "Number of records (2) differs from the number of links (3)");
  EXPECT_TRUE(NoFileOfRunRemains(before, fOut));

  // Empty names are stored as a blank: a record width of 0 could not be read.
  EXPECT_EQ(run({"", "", ""}, {"", "", ""}), "");
  EXPECT_EQ(ReadBytes(Out("roadname01.bin")), std::string(" \0", 2));
  EXPECT_EQ(NamesOf(1), (std::vector<std::string>{"", "", ""}));
  TNetwork net;
  net.SetDirectory(fOut);
  net.Open(false, false, false, 0);
  net.OpenRoadName(1, true);
  EXPECT_EQ(net.RoadName2RoadNameID(1, " ", false), 1);
  net.Close();
}

}  // namespace
