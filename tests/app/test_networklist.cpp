// The network list without the window: IDs, copy, the edit buffer and its
// post, and the list's sections of the settings file (read back by python3's
// configparser where a file is written).
#include <limits>

#include "app/core/studio_networklist.h"
#include "app/core/studio_settings.h"
#include "app_fixture.h"
#include "support/test_raises.h"

using namespace studio;
using namespace studio::testsupport;
using kovra::testsupport::MessageOf;
using kovra::testsupport::ReadBytes;
using kovra::testsupport::WriteBytes;

namespace {

const NumberFormat cDot{".", ","};
const NumberFormat cComma{",", "."};

NetworkRow RowWithID(int32_t ID, const std::string& Path = "/n/") {
  NetworkRow r = DefaultNetworkRow();
  r.ID = ID;
  r.Path = Path;
  return r;
}

std::vector<int32_t> IDs(const TNetworkList& List) {
  std::vector<int32_t> out;
  for (const NetworkRow& r : List.Rows()) out.push_back(r.ID);
  return out;
}

std::vector<std::string> Paths(const TNetworkList& List) {
  std::vector<std::string> out;
  for (const NetworkRow& r : List.Rows()) out.push_back(r.Path);
  return out;
}

// A row with no field at its default, so a field that is lost shows.
NetworkRow FullRow() {
  NetworkRow r;
  r.ID = 5;
  r.Attributes = true;
  r.Coord3cache = true;
  r.Encryption = -123456789;
  r.ExternalID = 2;
  r.Limit1 = 1;
  r.Limit2 = 2;
  r.Limit3 = 1;
  r.Path = "/data/roads/";
  r.Roadname = 17;
  r.SpatialIndex = true;
  for (int c = 0; c < cSpeedCount; ++c) r.Speed[size_t(c)] = 10 + c + 0.25;
  r.Turn = "/data/roads/turns.txt";
  return r;
}

class NetworkListTest : public StudioTest {
protected:
  // The list's sections through the settings file, as the window saves them.
  void SaveList(const TNetworkList& List, const NumberFormat& Fmt = cDot) {
    std::filesystem::create_directories(AppState().DataFolder);
    SaveSettingsFile(SettingsFile(), TWindowSettings(), Fmt,
                     [&](kovra::TCustomIniFile& ini) { List.Save(ini, Fmt); });
  }
  TNetworkList LoadList(const NumberFormat& Fmt = cDot) {
    TNetworkList list;
    TWindowSettings s;
    EXPECT_FALSE(LoadSettingsFile(SettingsFile(), Fmt, s, [&](kovra::TCustomIniFile& ini) { list.Load(ini, Fmt); }));
    return list;
  }
  // configparser's reading of the network sections only.
  std::string DumpNetworks() {
    const std::string all = DumpIni(SettingsFile());
    std::string out;
    bool inNetwork = false;
    size_t at = 0;
    while (at < all.size()) {
      const size_t end = all.find('\n', at);
      const std::string line = all.substr(at, end - at);
      at = end + 1;
      if (!line.empty() && line[0] == '[') inNetwork = IsNetworkSection(line.substr(1, line.size() - 2));
      if (inNetwork) out += line + "\n";
    }
    return out;
  }
};

}  // namespace

TEST(NetworkFields, TheTableInItsOrderWithCaseFreeNames) {
  const auto& fields = NetworkFields();
  ASSERT_EQ(fields.size(), 44u);
  std::vector<std::string> names;
  for (const TNetworkField& f : fields) names.push_back(f.Name);
  std::vector<std::string> expected = {"ID",     "Attributes", "Coord3cache", "Encryption", "ExternalID", "Limit1",
                                       "Limit2", "Limit3",     "Path",        "Roadname",   "SpatialIndex"};
  for (int c = 0; c < 32; ++c) expected.push_back("Speed" + std::to_string(c));
  expected.push_back("Turn");
  EXPECT_EQ(names, expected);
  EXPECT_EQ(FindNetworkField("speed7"), FindNetworkField("Speed7"));
  EXPECT_EQ(FindNetworkField("SPEED31"), SpeedField(31));
  EXPECT_EQ(FindNetworkField("Speed32"), -1);
  // Every field reaches its own member: set each in turn on a default row and
  // only that field differs.
  const NetworkRow full = FullRow();
  for (const TNetworkField& f : fields) {
    NetworkRow r;
    f.Set(r, f.Get(full));
    for (const TNetworkField& g : fields)
      EXPECT_EQ(g.Get(r) == g.Get(full), &g == &f || g.Get(NetworkRow()) == g.Get(full)) << f.Name << " / " << g.Name;
  }
}

TEST(NetworkListIDs, HighestIDAddAndTheAddDefaults) {
  TNetworkList list;
  EXPECT_EQ(list.HighestID(), 0);
  EXPECT_EQ(list.CurrentIndex(), -1);
  list.Add("/first/", cDot);
  EXPECT_EQ(IDs(list), std::vector<int32_t>{1}) << "empty list: 1";

  list.Clear();
  list.Insert(RowWithID(7));
  list.Insert(RowWithID(3));
  EXPECT_EQ(list.HighestID(), 7);
  const int32_t at = list.Add("/added/", cDot);
  EXPECT_EQ(IDs(list), (std::vector<int32_t>{3, 7, 8}));
  EXPECT_EQ(list.CurrentIndex(), at);
  NetworkRow expected;
  expected.ID = 8;
  expected.Attributes = true;
  expected.SpatialIndex = true;
  expected.Speed.fill(60);
  expected.Path = "/added/";
  EXPECT_EQ(*list.Current(), expected) << "attributes and spatial index on, speeds 60, the rest 0 or empty";

  list.DeleteCurrent();
  EXPECT_EQ(IDs(list), (std::vector<int32_t>{3, 7}));
  EXPECT_EQ(list.CurrentIndex(), 1) << "the new last row after deleting the last";
  list.Add("/again/", cDot);
  EXPECT_EQ(IDs(list), (std::vector<int32_t>{3, 7, 8})) << "8 again";

  // Only negative IDs: the highest is negative, not 0.
  list.Clear();
  list.Insert(RowWithID(-5));
  EXPECT_EQ(list.HighestID(), -5);
}

TEST(NetworkListIDs, CopyKeepsEveryFieldButTheID) {
  TNetworkList list;
  list.Insert(RowWithID(9, "/other/"));
  const NetworkRow source = FullRow();
  list.Insert(source);
  list.SetCurrent(0, cDot);
  ASSERT_EQ(list.Current()->ID, 5);
  const int32_t at = list.Copy(cDot);
  EXPECT_EQ(IDs(list), (std::vector<int32_t>{5, 9, 10}));
  EXPECT_EQ(at, 2);
  EXPECT_EQ(list.CurrentIndex(), 2);
  const NetworkRow& copy = list.Row(at);
  for (const TNetworkField& f : NetworkFields()) {
    if (f.Name == "ID")
      EXPECT_EQ(copy.ID, 10);
    else
      EXPECT_TRUE(f.Get(copy) == f.Get(source)) << f.Name;
  }
  EXPECT_EQ(list.Row(0), source) << "the source is unchanged";
}

// What cannot run changes nothing.
TEST(NetworkListIDs, EmptyListAndTheLastFreeID) {
  struct Case {
    std::string name;
    std::vector<int32_t> ids;
    std::function<void(TNetworkList&)> op;
    std::string message;
  };
  const int32_t max = std::numeric_limits<int32_t>::max();
  const std::vector<Case> cases = {
      {"Copy on an empty list", {}, [](TNetworkList& l) { l.Copy(cDot); }, "No network selected"},
      {"Delete on an empty list", {}, [](TNetworkList& l) { l.DeleteCurrent(); }, ""},
      {"Add after the largest ID", {1, max}, [](TNetworkList& l) { l.Add("/n/", cDot); }, "No free network ID"},
      {"Copy after the largest ID", {1, max}, [](TNetworkList& l) { l.Copy(cDot); }, "No free network ID"},
      {"Append after the largest ID", {max}, [](TNetworkList& l) { l.Append(DefaultNetworkRow(), cDot); },
       "No free network ID"},
      {"Add below the largest ID", {max - 1}, [](TNetworkList& l) { l.Add("/n/", cDot); }, ""},
  };
  for (const Case& c : cases) {
    TNetworkList list;
    for (int32_t id : c.ids) list.Insert(RowWithID(id));
    const auto before = list.Rows();
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { c.op(list); }), c.message) << c.name;
    if (!c.message.empty()) EXPECT_EQ(list.Rows(), before) << c.name;
  }
}

// Texts convert at post, all or none; a text that does not convert keeps the
// row in edit with its texts.
TEST(NetworkListPost, TextsConvertOrTheRowStaysInEdit) {
  struct Case {
    std::string field;
    std::string text;
    NumberFormat fmt;
    std::string message;  // empty: posts
    TFieldValue value;    // after a post
  };
  const std::vector<Case> cases = {
      {"Speed3", "", cDot, "Field 'Speed3' must have a value", {}},
      {"Speed3", "45", cDot, "", 45.0},
      {"Speed0", "50,5", cComma, "", 50.5},
      {"Speed0", "50.5", cComma, "", 50.5},
      {"Speed0", "50,5", cDot, "'50,5' is not a valid floating point value for field 'Speed0'", {}},
      {"Speed0", "1e400", cDot, "'1e400' is not a valid floating point value for field 'Speed0'", {}},
      {"Speed0", "-", cDot, "'-' is not a valid floating point value for field 'Speed0'", {}},
      {"Encryption", "abc", cDot, "'abc' is not a valid integer value for field 'Encryption'", {}},
      {"Encryption", "-", cDot, "'-' is not a valid integer value for field 'Encryption'", {}},
      {"Encryption", "2147483648", cDot, "'2147483648' is not a valid integer value for field 'Encryption'", {}},
      {"Encryption", "", cDot, "Field 'Encryption' must have a value", {}},
      {"Encryption", "-2147483648", cDot, "", int32_t(-2147483647 - 1)},
      {"Roadname", "", cDot, "", int32_t(0)},
      {"Roadname", "12", cDot, "", int32_t(12)},
      {"Path", "", cDot, "Field 'Path' must have a value", {}},
      {"Turn", "", cDot, "", std::string()},
      {"turn", "/t/turns.txt", cDot, "", std::string("/t/turns.txt")},
  };
  for (const Case& c : cases) {
    const std::string name = c.field + " '" + c.text + "'";
    TNetworkList list;
    list.Insert(FullRow());
    list.Insert(RowWithID(9));
    const auto before = list.Rows();
    const int32_t field = FindNetworkField(c.field);
    ASSERT_GE(field, 0) << name;
    // A valid change beside it: it must not land alone.
    list.SetFieldValue(FindNetworkField("Limit2"), int32_t(0));
    list.SetFieldText(field, c.text);
    EXPECT_TRUE(list.Editing()) << name;
    EXPECT_EQ(list.Rows(), before) << name << ": nothing changes before post";
    const std::string message = MessageOf<EDatabaseError>([&] { list.post(c.fmt); });
    EXPECT_EQ(message, c.message) << name;
    if (!c.message.empty()) {
      EXPECT_TRUE(list.Editing()) << name;
      EXPECT_EQ(list.EditText(field), c.text) << name;
      EXPECT_EQ(list.Rows(), before) << name;
      // The same failure at every post point: a change of row, Add, Copy.
      EXPECT_EQ(MessageOf<EDatabaseError>([&] { list.SetCurrent(1, c.fmt); }), c.message) << name;
      EXPECT_EQ(MessageOf<EDatabaseError>([&] { list.Add("/n/", c.fmt); }), c.message) << name;
      EXPECT_EQ(MessageOf<EDatabaseError>([&] { list.Copy(c.fmt); }), c.message) << name;
      EXPECT_EQ(list.CurrentIndex(), 0) << name;
      EXPECT_EQ(list.Rows(), before) << name;
    } else {
      EXPECT_FALSE(list.Editing()) << name;
      const NetworkRow& row = *list.Current();
      EXPECT_TRUE(NetworkFields()[size_t(field)].Get(row) == c.value) << name;
      EXPECT_EQ(row.Limit2, 0) << name;
    }
  }
}

TEST(NetworkListPost, AnEditedIDMovesTheRowAndDeleteDropsTheEdit) {
  TNetworkList list;
  for (int32_t id : {2, 4, 6}) list.Insert(RowWithID(id, "/n" + std::to_string(id) + "/"));
  list.SetFieldText(FindNetworkField("ID"), "5");
  list.post(cDot);
  EXPECT_EQ(IDs(list), (std::vector<int32_t>{4, 5, 6}));
  EXPECT_EQ(list.Current()->Path, "/n2/") << "the current row follows its row";

  list.SetFieldText(FindNetworkField("Speed0"), "");
  list.DeleteCurrent();
  EXPECT_FALSE(list.Editing()) << "the pending edit went with its row";
  EXPECT_EQ(IDs(list), (std::vector<int32_t>{4, 6}));
  EXPECT_EQ(list.Current()->ID, 6) << "the next row becomes current";
  EXPECT_NO_THROW(list.SetCurrent(0, cDot));
}

// Section J is the J-th row by ID; IDs stay; the keys in their order.
TEST_F(NetworkListTest, SaveRenumbersSectionsAndKeepsIDs) {
  TNetworkList list;
  for (int32_t id : {3, 7, 12}) list.Insert(RowWithID(id, "/n" + std::to_string(id) + "/"));
  list.SetCurrent(0, cDot);
  list.DeleteCurrent();
  SaveList(list);
  const std::string dump = DumpNetworks();
  EXPECT_NE(dump.find("[Network_1]\nID=7\n"), std::string::npos) << dump;
  EXPECT_NE(dump.find("[Network_2]\nID=12\n"), std::string::npos) << dump;
  EXPECT_EQ(dump.find("[Network_3]"), std::string::npos) << dump;
}

// The bytes of one row: key order, Booleans "1"/"0", decimal integers, speeds
// in the regional format.
TEST_F(NetworkListTest, OneRowGoldenFile) {
  TNetworkList list;
  NetworkRow row = FullRow();
  row.Coord3cache = false;
  row.Speed[1] = 1234567.5;
  list.Insert(row);
  const std::string file = (dir / "golden.ini").string();
  kovra::TMemIniFile ini(file);
  list.Save(ini, cComma);
  ini.UpdateFile();
  std::string expected =
      "[Network_1]\r\nID=5\r\nAttributes=1\r\nCoord3cache=0\r\nEncryption=-123456789\r\nExternalID=2\r\n"
      "Limit1=1\r\nLimit2=2\r\nLimit3=1\r\nPath=/data/roads/\r\nRoadname=17\r\nSpatialIndex=1\r\n"
      "Speed0=10,25\r\nSpeed1=1234567,5\r\n";
  for (int c = 2; c < 32; ++c) expected += "Speed" + std::to_string(c) + "=" + std::to_string(10 + c) + ",25\r\n";
  expected += "Turn=/data/roads/turns.txt\r\n";
  EXPECT_EQ(ReadBytes(file), expected);
}

// Stored sections as they come: missing and odd keys take the defaults,
// rows sort by ID with equal IDs in file order, nothing is dropped.
TEST_F(NetworkListTest, LoadTakesEveryNetworkSection) {
  WriteSettings(
      "[Network_1]\r\nID=9\r\nPath=/nine/\r\nAttributes=1\r\nCoord3cache=0\r\nSpatialIndex=5\r\nSpeed0=50\r\n"
      "Speed11=70\r\nSpeed13=abc\r\nExternalID=7\r\nUnknown=dropped\r\n"
      "[Mine]\r\nkey=value\r\n"
      "[network_2]\r\nID=4\r\nPath=/four-a/\r\n"
      "[NETWORK_30]\r\nid=4\r\npath=/four-b/\r\nspeed3=12.5\r\n"
      "[Network_abc]\r\nID=1\r\nPath=/not-a-network/\r\n"
      "[Network_4]\r\nID=1\r\nEncryption=99\r\n"
      "[Network_5]\r\nPath=/no-id/\r\nLimit1=x\r\n");
  TNetworkList list = LoadList();
  EXPECT_EQ(IDs(list), (std::vector<int32_t>{0, 1, 4, 4, 9}));
  EXPECT_EQ(Paths(list), (std::vector<std::string>{"/no-id/", "", "/four-a/", "/four-b/", "/nine/"}));
  EXPECT_EQ(list.CurrentIndex(), 0) << "the first row is current";
  const NetworkRow& nine = list.Row(4);
  EXPECT_TRUE(nine.Attributes);
  EXPECT_FALSE(nine.Coord3cache);
  EXPECT_TRUE(nine.SpatialIndex) << "Boolean 5 is true";
  EXPECT_EQ(nine.ExternalID, 7) << "a value outside the radio group stays";
  EXPECT_EQ(nine.Speed[0], 50);
  EXPECT_EQ(nine.Speed[11], 70);
  EXPECT_EQ(nine.Speed[12], 0) << "a missing speed is 0";
  EXPECT_EQ(nine.Speed[13], 0) << "a speed that does not convert is 0";
  EXPECT_EQ(list.Row(3).Speed[3], 12.5) << "keys match without regard to case";
  EXPECT_EQ(list.Row(1).Encryption, 99);
  EXPECT_EQ(list.Row(0).Limit1, 0);
  EXPECT_FALSE(list.Row(0).Attributes) << "a missing Boolean is false";

  SaveList(list);
  std::string speeds0;
  for (int c = 0; c < 32; ++c) speeds0 += "Speed" + std::to_string(c) + "=0\n";
  const std::string dump = DumpNetworks();
  EXPECT_NE(dump.find("[Network_2]\nID=1\nAttributes=0\nCoord3cache=0\nEncryption=99\nExternalID=0\nLimit1=0\n"
                      "Limit2=0\nLimit3=0\nPath=\nRoadname=0\nSpatialIndex=0\n" + speeds0 + "Turn=\n"),
            std::string::npos)
      << "a row without Path is written back\n" << dump;
  EXPECT_NE(dump.find("[Network_5]\nID=9\nAttributes=1\nCoord3cache=0\nEncryption=0\nExternalID=7\n"),
            std::string::npos)
      << dump;
  EXPECT_EQ(dump.find("Unknown"), std::string::npos) << "keys that are no field are dropped";
  EXPECT_EQ(dump.find("not-a-network"), std::string::npos) << "[Network_abc] is no network section\n" << dump;
  const std::string all = DumpIni(SettingsFile());
  EXPECT_NE(all.find("[Mine]\nkey=value\n"), std::string::npos);
  EXPECT_NE(all.find("[Network_abc]\nID=1\nPath=/not-a-network/\n"), std::string::npos) << all;
}

// Paths of any length and any character, through a save and a load.
TEST_F(NetworkListTest, PathsRoundTripUnchanged) {
  const std::vector<std::string> paths = {
      "/" + std::string(300, 'p') + "/",
      "/data/\xD0\xB4\xD0\xBE\xD1\x80\xD0\xBE\xD0\xB3\xD0\xB8/\xF0\x9F\x9B\xA3 a,b=c/",
      "/data/\"quoted\" name/",
      "/data/key=value;comment/",
  };
  TNetworkList list;
  int32_t id = 1;
  for (const std::string& p : paths) {
    NetworkRow r = RowWithID(id++, p);
    r.Turn = p + "turns.txt";
    list.Insert(r);
  }
  SaveList(list);
  const TNetworkList back = LoadList();
  EXPECT_EQ(back.Rows(), list.Rows());
  const std::string dump = DumpNetworks();
  for (const std::string& p : paths) EXPECT_NE(dump.find("\nPath=" + p + "\n"), std::string::npos) << p;
}

TEST_F(NetworkListTest, RegionalSpeedsAndAThousandSections) {
  // A thousand sections in descending ID: loaded whole and in ID order.
  std::string file;
  for (int j = 1; j <= 1000; ++j)
    file += "[Network_" + std::to_string(j) + "]\r\nID=" + std::to_string(1001 - j) + "\r\nPath=/n" +
            std::to_string(1001 - j) + "/\r\nSpeed0=50,5\r\n";
  WriteSettings(file);
  TNetworkList list = LoadList(cComma);
  ASSERT_EQ(list.Count(), 1000);
  for (int32_t i = 0; i < 1000; ++i) {
    ASSERT_EQ(list.Row(i).ID, i + 1);
    ASSERT_EQ(list.Row(i).Path, "/n" + std::to_string(i + 1) + "/");
    ASSERT_EQ(list.Row(i).Speed[0], 50.5);
  }
  SaveList(list, cComma);
  const std::string dump = DumpNetworks();
  EXPECT_NE(dump.find("[Network_1000]\nID=1000\n"), std::string::npos);
  EXPECT_NE(dump.find("\nSpeed0=50,5\n"), std::string::npos) << "speeds in the regional format";
  EXPECT_EQ(LoadList(cComma).Rows(), list.Rows());
}
