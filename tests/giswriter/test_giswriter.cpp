#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>

#include "giswriter/kovra_giswriter.h"
#include "support/test_parts.h"
#include "platform/kovra_codepage.h"
#include "recording_writer.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

using Log = std::vector<std::string>;

// Runs F and returns the message of the kovra::Exception it raises ("" when none).
template <typename F>
std::string MessageOf(F&& f) {
  try {
    f();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "";
}

std::string ReadFile(const std::string& name) {
  std::ifstream f(name, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void WriteFile(const std::string& name, const std::string& data) {
  std::ofstream f(name, std::ios::binary | std::ios::trunc);
  f << data;
}

class TempDir {
public:
  TempDir() {
    Path = std::filesystem::temp_directory_path() /
           ("kovra_giswriter_" + std::to_string(::getpid()) + "_" + std::to_string(Counter++));
    std::filesystem::create_directories(Path);
  }
  ~TempDir() { std::filesystem::remove_all(Path); }
  std::string File(const std::string& n) const { return (Path / n).string(); }
  std::filesystem::path Path;
  static inline int Counter = 0;
};

}  // namespace

// ---------------------------------------------------------------------------
// Records, sets, palettes, small helpers

TEST(GISWriterBasics, DefaultsStylesSetsAndPalettes) {
  TRecordingWriter w;
  EXPECT_TRUE(w.Pen == DefaultPen);
  EXPECT_TRUE(w.Brush == DefaultBrush);
  EXPECT_TRUE(w.Symbol == DefaultSymbol);
  EXPECT_EQ(DefaultPen.Width, 1);
  EXPECT_EQ(DefaultPen.pattern, 2);
  EXPECT_EQ(DefaultPen.Color, 0u);
  EXPECT_EQ(DefaultBrush.fg_color, 0xFFFFFFu);
  EXPECT_EQ(DefaultSymbol.Shape, 33);
  EXPECT_EQ(DefaultSymbol.Size, 12);
  EXPECT_TRUE((TMIPen{1, 2, 255} != DefaultPen));
  EXPECT_TRUE((TMIBrush{2, 0xFFFFFF, 1} != DefaultBrush));
  EXPECT_TRUE((MakeMISymbol(33, 0, 12) == DefaultSymbol));
  EXPECT_TRUE((MakeMISymbol(34, 0, 12) != DefaultSymbol));
  EXPECT_EQ(w.CoordSys, "CoordSys Earth Projection 1, 104");
  EXPECT_EQ(w.epsg, 4326);
  EXPECT_EQ(w.PRJ,
            "GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\",SPHEROID[\"WGS_1984\",6378137,298.257223563]],"
            "PRIMEM[\"Greenwich\",0],UNIT[\"Degree\",0.017453292519943295]]");
  EXPECT_EQ(w.BlockSize, 512);
  EXPECT_EQ(w.GreatCircleDist, 0);
  EXPECT_FALSE(w.OptimizePLinesSections());
  EXPECT_EQ(w.GISarray, nullptr);
  EXPECT_EQ(w.WrittenRecords(), 0);
  EXPECT_EQ(w.GetNextFileCheck(), -1);

  for (int f = 0; f <= 13; ++f) {
    TGISFormat gf = TGISFormat(f);
    EXPECT_EQ(InSet(GISFormatsWithGeometry, gf), gf != gfDBF && gf != gfCSV) << f;
    bool own = gf == gfArray || gf == gfGML2 || gf == gfKML2 || gf == gfGeoJSON || gf == gfMIF8 || gf == gfGPX;
    EXPECT_EQ(InSet(GISFormatsOwnCodepage, gf), own) << f;
  }
  for (int f = 0; f <= 9; ++f) {
    TGISField gf = TGISField(f);
    bool num = gf == gfInteger || gf == gfSmallInt || gf == gfDecimal || gf == gfFloat || gf == gfInt64;
    EXPECT_EQ(InSet(NumericGISFields, gf), num) << f;
  }
  // Unnamed ordinals are legal values and members of no set.
  EXPECT_FALSE(InSet(GISFormatsWithGeometry, TGISFormat(14)));
  EXPECT_FALSE(InSet(GISFormatsWithGeometry, TGISFormat(200)));
  EXPECT_FALSE(InSet(NumericGISFields, TGISField(255)));

  EXPECT_EQ(GetCenterColor(0), 0xFF0000u);
  EXPECT_EQ(GetCenterColor(15), GetCenterColor(0));
  EXPECT_EQ(GetCenterColor(14), 0x8080FFu);
  EXPECT_EQ(GetCenterColor(5), 0x994D4Du);
  EXPECT_EQ(GetBandColor(5), 0x50A8FFu);
  EXPECT_EQ(GetBandColor(3), 0xFF00FFu);
}

TEST(GISWriterBasics, TrueTextAndISOTexts) {
  for (const char* t : {"1", "T", "Y", "t", "y", "yes", "True", "10"}) EXPECT_TRUE(IsTrueText(t)) << t;
  for (const char* t : {"", "0", "F", "n", "no", " y", "x"}) EXPECT_FALSE(IsTrueText(t)) << t;

  EXPECT_EQ(FormatISODate("20210322"), "2021-03-22");
  EXPECT_EQ(FormatISODate(""), "--");
  EXPECT_EQ(FormatISODate("2021"), "2021--");
  EXPECT_EQ(FormatISOTime("235959123"), "23:59:59.123");
  EXPECT_EQ(FormatISOTime("1234"), "12:34:.");
  EXPECT_EQ(FormatISODateTime("20210322235959123"), "2021-03-22T23:59:59.123");
  EXPECT_EQ(FormatISODateTime("202103"), "2021-03-T::.");
}

// ---------------------------------------------------------------------------
// Protocol

TEST(GISWriterProtocol, StartHeaderAndFields) {
  TRecordingWriter w;
  EXPECT_EQ(MessageOf([&] { w.StartHeader(0, otPline); }), "NumFields must be >= 1: 0");
  EXPECT_THROW(w.StartHeader(-3, otPline), EInvalidParameter);
  w.StartHeader(2, otPline);
  w.AddField("a", gfInteger, 10, 0);
  w.AddField("b", gfChar, 20, 0);
  ASSERT_EQ(w.FieldInfo().size(), 3u);
  EXPECT_EQ(w.FieldInfo()[1].Name, "a");
  EXPECT_EQ(w.FieldInfo()[1].FieldType, gfInteger);
  EXPECT_EQ(w.FieldInfo()[1].Width, 10);
  EXPECT_EQ(w.FieldInfo()[2].Name, "b");
  EXPECT_EQ(w.FieldInfo()[0].Name, "");
  // A surplus column would write past the declared table.
  EXPECT_EQ(MessageOf([&] { w.AddField("c", gfChar, 1, 0); }), "More fields than the 2 declared in StartHeader");
  EXPECT_EQ(w.FieldInfo().size(), 3u);
  w.Close();
  EXPECT_TRUE(w.FieldInfo().empty());
  EXPECT_EQ(w.Log, (Log{"AddField a 1 10 0", "AddField b 0 20 0", "Close"}));
}

TEST(GISWriterProtocol, RoutingThroughOnePolylineTable) {
  TRecordingWriter w;
  w.StartHeader(1, otPline);
  w.AddField("id", gfInteger, 5, 0);
  w.Log.clear();
  w.AddLine(1, 2, 3, 4, "1");
  w.AddLine2({5, 6}, {7, 8}, "2");
  w.AddObject(2, false, "3");
  w.AddSection2(7, 1, 1, 2, 2);
  w.AddSection3(-1, {3, 3}, {4, 4});
  TFloatPointArrayEx2 ring;
  ring.Pnt = {{0, 0}, {1, 0}, {1, 1}, {9, 9}};
  ring.Last = 2;
  w.AddObject(2, false, "4");
  w.AddSection1(0, ring, false);
  w.AddSection1(1, ring, true);
  w.AddPoint(9, 9, "5");
  w.AddPoint2({8, 8}, "6");
  w.AddObject(0, false, "7");
  w.Close();
  EXPECT_EQ(w.Log, (Log{"StartObject 1 1", "WriteSection 0 1,2 3,4", "StartObject 1 2",
                        "WriteSection 0 5,6 7,8", "StartObject 2 3", "WriteSection 7 1,1 2,2",
                        "WriteSection -1 3,3 4,4", "StartObject 2 4", "WriteSection 0 0,0 1,0 1,1",
                        "WriteSection 1 1,1 1,0 0,0", "AddPoint 9,9 5", "AddPoint 8,8 6", "StartObject 0 7",
                        "Close"}));
  EXPECT_EQ(w.WrittenRecords(), 7);
}

TEST(GISWriterProtocol, TwoPointCallsOnlyInPolylineTables) {
  for (TObjectTypes ot : {otRegion, otPoint, otNone}) {
    TRecordingWriter w;
    w.StartHeader(1, ot);
    w.AddLine(1, 2, 3, 4, "a");
    w.AddLine2({1, 2}, {3, 4}, "b");
    EXPECT_TRUE(w.Log.empty()) << int(ot);
  }
  // In a region table two points are no ring; in a point table there are no parts.
  TRecordingWriter r;
  r.StartHeader(1, otRegion);
  r.AddObject(1, false, "a");
  EXPECT_EQ(MessageOf([&] { r.AddSection2(0, 1, 2, 3, 4); }), "Region objects must have >=4 points");
  TRecordingWriter p;
  p.StartHeader(1, otPoint);
  EXPECT_EQ(MessageOf([&] { p.AddObject(1, false, "a"); }), "Parts are not allowed in a point table");
  EXPECT_TRUE(p.Log.empty());
  // An attribute row without geometry is still fine in a point table.
  p.AddObject(0, false, "b");
  EXPECT_EQ(p.Log, (Log{"StartObject 0 b"}));
}

TEST(GISWriterProtocol, RecordsOfAGeometrylessTableCarryNoParts) {
  TRecordingWriter w;
  w.StartHeader(1, otNone);
  w.AddObject(3, false, "a");
  TFloatPointArrayEx one = Part({{1, 1}});
  TFloatPointArrayEx none;
  w.AddSection(0, one);
  w.AddSection(0, none);  // dropped unchecked: there is no geometry to check it against
  w.AddSection2(0, 1, 2, 3, 4);
  EXPECT_EQ(MessageOf([&] { w.AddSection2(0, 1, 2, 3, 4); }), "More sections than the 3 parts declared in AddObject");
  w.AddObject(0, false, "b");
  EXPECT_EQ(w.Log, (Log{"StartObject 0 a", "StartObject 0 b"}));
  EXPECT_TRUE(w.Sections.empty());
}

TEST(GISWriterProtocol, GuardsRaiseBeforeTheFormatWriterSeesThePart) {
  struct Case {
    const char* name;
    TObjectTypes ot;
    TFloatPointArrayEx part;
    const char* message;
  };
  const Case cases[] = {
      {"empty polyline part", otPline, Part({}), "Polyline parts must have >=1 point"},
      {"negative count", otPline, TFloatPointArrayEx{{{1, 1}}, -1}, "Polyline parts must have >=1 point"},
      {"count beyond the buffer", otPline, TFloatPointArrayEx{{{1, 1}}, 3},
       "Part has 3 points but room for only 1"},
      {"closed 3-point ring", otRegion, Part({{0, 0}, {1, 0}, {0, 0}}), "Region objects must have >=4 points"},
      {"open ring", otRegion, Part({{0, 0}, {1, 0}, {1, 1}, {0, 1}}), "Region objects must be closed"},
      {"ring open in y only", otRegion, Part({{0, 0}, {1, 0}, {1, 1}, {0, 1e-300}}),
       "Region objects must be closed"},
      {"NaN ring", otRegion,
       Part({{std::nan(""), 0}, {1, 0}, {1, 1}, {std::nan(""), 0}}), "Region objects must be closed"},
  };
  for (const Case& c : cases) {
    TRecordingWriter w;
    w.StartHeader(1, c.ot);
    w.AddObject(1, false, "x");
    TFloatPointArrayEx part = c.part;
    EXPECT_EQ(MessageOf([&] { w.AddSection(0, part); }), c.message) << c.name;
    EXPECT_EQ(w.Log, (Log{"StartObject 1 x"})) << c.name;
  }
  // A closed 4-point ring passes.
  TRecordingWriter w;
  w.StartHeader(1, otRegion);
  w.AddObject(1, false, "x");
  TFloatPointArrayEx ring = Part({{0, 0}, {1, 0}, {1, 1}, {0, 0}});
  w.AddSection(0, ring);
  EXPECT_EQ(w.Log.back(), "WriteSection 0 0,0 1,0 1,1 0,0");

  // Surplus and missing sections.
  TRecordingWriter s;
  s.StartHeader(1, otPline);
  TFloatPointArrayEx line = Part({{0, 0}, {1, 1}});
  EXPECT_EQ(MessageOf([&] { s.AddSection(0, line); }), "More sections than the 0 parts declared in AddObject");
  s.AddObject(1, false, "a");
  s.AddSection(0, line);
  EXPECT_EQ(MessageOf([&] { s.AddSection(0, line); }), "More sections than the 1 parts declared in AddObject");
  s.AddObject(2, false, "b");
  s.AddSection(0, line);
  EXPECT_EQ(MessageOf([&] { s.AddObject(1, false, "c"); }), "Fewer sections than the 2 parts declared in AddObject");
  EXPECT_EQ(MessageOf([&] { s.AddLine(0, 0, 1, 1, "d"); }), "Fewer sections than the 2 parts declared in AddObject");
  EXPECT_EQ(s.Log, (Log{"StartObject 1 a", "WriteSection 0 0,0 1,1", "StartObject 2 b", "WriteSection 0 0,0 1,1"}));
}

TEST(GISWriterProtocol, OnePointPolylinePartIsDoubled) {
  for (bool optimize : {false, true}) {
    TRecordingWriter w;
    w.SetOptimizePLinesSections(optimize);
    w.StartHeader(1, otPline);
    w.AddObject(2, false, "a");
    TFloatPointArrayEx p = Part({{5, 6}});
    TFloatPointArrayEx q = Part({{7, 8}});
    w.AddSection(0, p);
    w.AddSection(0, q);
    EXPECT_EQ(w.Log, (Log{"StartObject 2 a", "WriteSection 0 5,6 5,6", "WriteSection 0 7,8 7,8"})) << optimize;
    EXPECT_EQ(p.Count, 1);  // the caller's buffer is left alone
  }
  // A point part that continues the chain joins like any other.
  TRecordingWriter w;
  w.SetOptimizePLinesSections(true);
  w.StartHeader(1, otPline);
  w.AddObject(2, false, "a");
  w.AddSection2(0, 1, 1, 2, 2);
  TFloatPointArrayEx p = Part({{2, 2}});
  w.AddSection(0, p);
  EXPECT_EQ(w.Log, (Log{"StartObject 1 a", "WriteSection 0 1,1 2,2 2,2"}));
}

TEST(GISWriterProtocol, RingRuleForRegions) {
  TRecordingWriter w;
  w.StartHeader(1, otRegion);
  TFloatPointArrayEx ring = Part({{0, 0}, {1, 0}, {1, 1}, {0, 0}});
  w.AddObject(4, true, "a");
  w.AddSection(5, ring);   // first part: starts a polygon whatever its Index
  w.AddSection(1, ring);   // hole
  w.AddSection(0, ring);   // new polygon
  w.AddSection(-1, ring);  // new polygon
  w.AddObject(1, false, "b");
  w.AddSection(3, ring);
  EXPECT_EQ(w.PolygonStarts, (std::vector<bool>{true, false, true, true, true}));
}

TEST(GISWriterProtocol, SwapDirectionReversesAndUsesOneScratchBuffer) {
  TRecordingWriter w;
  w.StartHeader(1, otRegion);
  TFloatPointArrayEx2 ring;
  ring.Pnt = {{0, 0}, {2, 0}, {2, 2}, {0, 0}, {7, 7}};
  ring.Last = 3;
  w.AddObject(2, false, "a");
  w.AddSection1(0, ring, true);
  w.AddSection1(1, ring, false);
  EXPECT_EQ(w.Log, (Log{"StartObject 2 a", "WriteSection 0 0,0 2,2 2,0 0,0", "WriteSection 1 0,0 2,0 2,2 0,0"}));
  TFloatPointArrayEx2 bad;
  bad.Pnt = {{0, 0}};
  bad.Last = 4;
  w.AddObject(1, false, "b");
  EXPECT_EQ(MessageOf([&] { w.AddSection1(0, bad, false); }), "Part has 5 points but room for only 1");
}

TEST(GISWriterProtocol, SplitAttributes) {
  struct Case {
    const char* text;
    std::vector<std::string> values;
  };
  const Case cases[] = {
      {"a b", {"a", "b"}},
      {"\"a b\"", {"a b"}},
      {"1,", {"1", ""}},
      {"", {}},
      {"\"a\"\"b\"", {"a\"b"}},
      {"\"abc, d", {"abc, d"}},
      {"1,,2", {"1", "", "2"}},
      {" x,y", {"x", "y"}},
      {"1, \"x, y\",,z", {"1", "x, y", "", "z"}},
      {"\"\"", {""}},
  };
  for (const Case& c : cases) {
    TRecordingWriter w;
    w.StartHeader(int32_t(std::max<size_t>(c.values.size(), 1)), otPline);
    if (c.values.empty()) {
      EXPECT_EQ(MessageOf([&] { w.SplitAttributes(c.text); }),
                "Number of values must match number of fields. NumVal = 0, NumFields = 1, string = \"\"");
      continue;
    }
    w.SplitAttributes(c.text);
    EXPECT_EQ(w.SL(), c.values) << c.text;
  }
  TRecordingWriter w;
  w.StartHeader(3, otPline);
  EXPECT_EQ(MessageOf([&] { w.SplitAttributes("1,2"); }),
            "Number of values must match number of fields. NumVal = 2, NumFields = 3, string = \"1,2\"");
  // A typed writer splits before it writes or counts anything of the record.
  TRecordingWriter t;
  t.SplitOnStart = true;
  t.StartHeader(2, otPline);
  EXPECT_THROW(t.AddObject(1, false, "1"), Exception);
  EXPECT_EQ(t.WrittenRecords(), 0);
  EXPECT_EQ(MessageOf([&] { t.AddSection2(0, 0, 0, 1, 1); }), "More sections than the 0 parts declared in AddObject");
}

TEST(GISWriterProtocol, SL2GISFieldGuessesTypeAndWidth) {
  struct Case {
    const char* name;
    uint16_t codepage;
    std::vector<std::string> values;
    TGISField type;
    int32_t width;
  };
  const Case cases[] = {
      {"12 and 7", 1252, {"12", "7"}, gfInteger, 2},
      {"blank-padded 5", 1252, {" 5 "}, gfInteger, 3},
      {"negative", 1252, {"-2147483648", "2147483647"}, gfInteger, 11},
      {"zero", 1252, {"5", "0"}, gfChar, 1},
      {"007", 1252, {"007"}, gfChar, 3},
      {"empty", 1252, {"12", ""}, gfChar, 2},
      {"hex", 1252, {"$1F"}, gfChar, 3},
      {"plus", 1252, {"+5"}, gfChar, 2},
      {"beyond Int32", 1252, {"2147483648"}, gfChar, 10},
      {"minus alone", 1252, {"-"}, gfChar, 1},
      {"no values", 1252, {}, gfInteger, 1},
      {"e acute, UTF-8", 65001, {"\xC3\xA9"}, gfChar, 2},
      {"e acute, 1252", 1252, {"\xC3\xA9"}, gfChar, 1},
      {"two kanji, 932", 932, {"\xE6\x97\xA5\xE6\x9C\xAC"}, gfChar, 4},
      {"two kanji, 936", 936, {"\xE6\x97\xA5\xE6\x9C\xAC"}, gfChar, 4},
      {"two kanji, UTF-16", 1200, {"\xE6\x97\xA5\xE6\x9C\xAC"}, gfChar, 2},
  };
  for (const Case& c : cases) {
    TRecordingWriterAllPages w;
    w.SetCodepage(c.codepage);
    ASSERT_EQ(w.Codepage(), c.codepage) << c.name;
    int32_t width = -1;
    EXPECT_EQ(w.SL2GISField(c.values, width), c.type) << c.name;
    EXPECT_EQ(width, c.width) << c.name;
  }
}

TEST(GISWriterProtocol, CodepageFileIsFullAndOptimizeSwitch) {
  TRecordingWriter w;
  const uint16_t ansi = GetSystemAnsiCodePage();
  EXPECT_EQ(w.Codepage(), ansi);
  w.SetCodepage(65001);
  EXPECT_EQ(w.Codepage(), ansi);
  w.SetCodepage(1200);
  EXPECT_EQ(w.Codepage(), ansi);
  w.SetCodepage(1251);
  EXPECT_EQ(w.Codepage(), 1251);
  EXPECT_EQ(MessageOf([&] { w.SetCodepage(12345); }), "Code page 12345 is not supported");
  EXPECT_EQ(w.Codepage(), 1251);
  // The encoding stayed the 1251 one: Cyrillic still takes one byte per letter.
  int32_t width = 0;
  w.SL2GISField({"\xD0\x96\xD0\x96"}, width);
  EXPECT_EQ(width, 2);
  TRecordingWriterAllPages all;
  all.SetCodepage(65001);
  EXPECT_EQ(all.Codepage(), 65001);
  all.SetCodepage(0);  // the system ANSI code page
  EXPECT_EQ(all.Codepage(), ansi);
  EXPECT_EQ(MessageOf([&] { all.SetCodepage(895); }), "Code page 895 is not supported");
  EXPECT_EQ(all.Codepage(), ansi);

  EXPECT_EQ(w.GetNextFileCheck(), -1);
  EXPECT_FALSE(w.FileIsFull());
  EXPECT_EQ(w.GetNextFileCheck(), 10000);
  w.SetFileIsFullFlag(true);
  EXPECT_TRUE(w.FileIsFull());
  EXPECT_EQ(w.GetNextFileCheck(), 10000);

  TRecordingWriter o;
  o.StartHeader(1, otPline);
  o.AddObject(2, false, "a");
  o.SetOptimizePLinesSections(false);  // same value inside an object: fine
  EXPECT_EQ(MessageOf([&] { o.SetOptimizePLinesSections(true); }),
            "Can not change the OptimizePLinesSections property during processing sections.");
  EXPECT_FALSE(o.OptimizePLinesSections());
  o.AddSection2(0, 0, 0, 1, 1);
  EXPECT_THROW(o.SetOptimizePLinesSections(true), Exception);
  o.AddSection2(0, 1, 1, 2, 2);
  o.SetOptimizePLinesSections(true);
  EXPECT_TRUE(o.OptimizePLinesSections());
  o.AddObject(2, false, "b");
  o.AddSection2(0, 0, 0, 1, 1);
  o.SetOptimizePLinesSections(true);
  EXPECT_THROW(o.SetOptimizePLinesSections(false), Exception);
}

// ---------------------------------------------------------------------------
// Part joining

TEST(GISWriterJoin, JoiningTable) {
  struct Case {
    const char* name;
    std::vector<TFloatPointArrayEx> parts;
    Log expected;
  };
  const Case cases[] = {
      {"A-B, B-C, C-D chain",
       {Part({{0, 0}, {1, 0}}), Part({{1, 0}, {2, 0}}), Part({{2, 0}, {3, 0}, {3, 1}})},
       {"StartObject 1 r", "WriteSection 0 0,0 1,0 2,0 3,0 3,1"}},
      {"B-A, B-C stay apart",
       {Part({{1, 0}, {0, 0}}), Part({{1, 0}, {2, 0}})},
       {"StartObject 2 r", "WriteSection 0 1,0 0,0", "WriteSection 0 1,0 2,0"}},
      {"third continues only the first",
       {Part({{0, 0}, {1, 0}}), Part({{5, 5}, {6, 6}}), Part({{1, 0}, {2, 0}})},
       {"StartObject 3 r", "WriteSection 0 0,0 1,0", "WriteSection 0 5,5 6,6", "WriteSection 0 1,0 2,0"}},
      {"differs in y only",
       {Part({{0, 0}, {1, 0}}), Part({{1, 1e-12}, {2, 0}})},
       {"StartObject 2 r", "WriteSection 0 0,0 1,0", "WriteSection 0 1,1E-12 2,0"}},
      {"chain then break then chain",
       {Part({{0, 0}, {1, 0}}), Part({{1, 0}, {2, 0}}), Part({{9, 9}, {8, 8}}), Part({{8, 8}, {7, 7}})},
       {"StartObject 2 r", "WriteSection 0 0,0 1,0 2,0", "WriteSection 0 9,9 8,8 7,7"}},
  };
  // All cases through one writer: the pool is reused from object to object.
  TRecordingWriter w;
  w.SetOptimizePLinesSections(true);
  w.StartHeader(1, otPline);
  for (const Case& c : cases) {
    w.Log.clear();
    w.AddObject(int32_t(c.parts.size()), false, "r");
    for (TFloatPointArrayEx p : c.parts) {
      EXPECT_TRUE(w.Log.empty()) << c.name << ": nothing reaches the format writer before the last part";
      w.AddSection(0, p);
    }
    EXPECT_EQ(w.Log, c.expected) << c.name;
  }
  // And each case on a fresh writer.
  for (const Case& c : cases) {
    TRecordingWriter f;
    f.SetOptimizePLinesSections(true);
    f.StartHeader(1, otPline);
    f.AddObject(int32_t(c.parts.size()), false, "r");
    for (TFloatPointArrayEx p : c.parts) f.AddSection(0, p);
    EXPECT_EQ(f.Log, c.expected) << c.name;
  }
}

TEST(GISWriterJoin, PoolGrowsAndIsReused) {
  TRecordingWriter w;
  w.SetOptimizePLinesSections(true);
  w.StartHeader(1, otPline);
  w.AddObject(2, false, "a");
  w.AddSection2(0, 0, 0, 1, 1);
  w.AddSection2(0, 5, 5, 6, 6);
  EXPECT_EQ(w.PoolSize(), 2u);
  // A larger second object whose parts do not chain grows the pool; one part
  // differs from the previous end in x only.
  w.Log.clear();
  w.AddObject(5, false, "b");
  w.AddSection2(0, 0, 0, 1, 1);
  w.AddSection2(0, 2, 1, 3, 3);
  w.AddSection2(0, 3, 3, 4, 4);
  w.AddSection2(0, 4, 5, 6, 6);
  w.AddSection2(0, 7, 7, 8, 8);
  EXPECT_EQ(w.PoolSize(), 5u);
  EXPECT_EQ(w.Log, (Log{"StartObject 4 b", "WriteSection 0 0,0 1,1", "WriteSection 0 2,1 3,3 4,4",
                        "WriteSection 0 4,5 6,6", "WriteSection 0 7,7 8,8"}));
  // A smaller object later reuses the slots; a long chain grows one slot.
  w.Log.clear();
  const int n = 1000;
  w.AddObject(n, false, "c");
  for (int i = 0; i < n; ++i) w.AddSection2(0, i, 0, i + 1, 0);
  EXPECT_EQ(w.PoolSize(), 5u);
  ASSERT_EQ(w.Sections.size(), 7u);
  EXPECT_EQ(w.Sections.back().size(), size_t(n + 1));
  EXPECT_EQ(w.Sections.back().back().x, n);
  EXPECT_EQ(w.Log.front(), "StartObject 1 c");
}

TEST(GISWriterJoin, NeverDeferredAndCloseDropsADeferredObject) {
  // One-part objects, region and point tables are written as they come.
  TRecordingWriter w;
  w.SetOptimizePLinesSections(true);
  w.StartHeader(1, otPline);
  w.AddObject(1, false, "a");
  EXPECT_EQ(w.Log, (Log{"StartObject 1 a"}));
  w.AddSection2(0, 0, 0, 1, 1);
  w.AddLine(1, 1, 2, 2, "b");
  EXPECT_EQ(w.Log.size(), 4u);

  TRecordingWriter r;
  r.SetOptimizePLinesSections(true);
  r.StartHeader(1, otRegion);
  r.AddObject(2, false, "a");
  EXPECT_EQ(r.Log, (Log{"StartObject 2 a"}));
  TFloatPointArrayEx ring = Part({{0, 0}, {1, 0}, {1, 1}, {0, 0}});
  TFloatPointArrayEx ring2 = Part({{0, 0}, {0, 1}, {1, 1}, {0, 0}});
  r.AddSection(0, ring);
  r.AddSection(0, ring2);
  EXPECT_EQ(r.Log.size(), 3u);

  TRecordingWriter p;
  p.SetOptimizePLinesSections(true);
  p.StartHeader(1, otPoint);
  p.AddPoint(1, 2, "a");
  p.AddObject(0, false, "b");
  EXPECT_EQ(p.Log, (Log{"AddPoint 1,2 a", "StartObject 0 b"}));

  // Close in the middle of a deferred object writes nothing of it.
  TRecordingWriter d;
  d.SetOptimizePLinesSections(true);
  d.StartHeader(1, otPline);
  d.AddObject(3, false, "x");
  d.AddSection2(0, 0, 0, 1, 1);
  d.AddSection2(0, 1, 1, 2, 2);
  d.Close();
  EXPECT_EQ(d.Log, (Log{"Close"}));
  EXPECT_EQ(d.WrittenRecords(), 0);
}

// ---------------------------------------------------------------------------
// Great-circle densification

namespace {

struct Vec3 {
  double x, y, z;
};
Vec3 UnitVector(const TFloatPoint& p) {
  double lon = p.x * M_PI / 180, lat = p.y * M_PI / 180;
  return {std::cos(lat) * std::cos(lon), std::cos(lat) * std::sin(lon), std::sin(lat)};
}
Vec3 Cross(Vec3 a, Vec3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
double Dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
double Norm(Vec3 a) { return std::sqrt(Dot(a, a)); }
double Angle(Vec3 a, Vec3 b) { return std::atan2(Norm(Cross(a, b)), Dot(a, b)); }

// Checks the points inserted between A and B: on the great circle of A and B
// and at fractions j / (k + 1) of the arc, by a unit-vector computation.
void ExpectOnArc(const TFloatPoint& A, const TFloatPoint& B, const std::vector<TFloatPoint>& inserted,
                 const std::string& what) {
  Vec3 a = UnitVector(A), b = UnitVector(B);
  Vec3 n = Cross(a, b);
  double nn = Norm(n);
  n = {n.x / nn, n.y / nn, n.z / nn};
  double d = Angle(a, b);
  const size_t k = inserted.size();
  for (size_t j = 1; j <= k; ++j) {
    const TFloatPoint& p = inserted[j - 1];
    ASSERT_TRUE(std::isfinite(p.x) && std::isfinite(p.y)) << what;
    EXPECT_GE(p.x, -180.0) << what;
    EXPECT_LE(p.x, 180.0) << what;
    Vec3 v = UnitVector(p);
    EXPECT_LT(std::fabs(std::asin(Dot(n, v))), 1e-9) << what << " cross-track at " << j;
    EXPECT_NEAR(Angle(a, v) / d, double(j) / double(k + 1), 1e-9) << what << " along-track at " << j;
  }
}

}  // namespace

TEST(GISWriterDensify, CountsAndCallerBufferGrows) {
  // 1 degree of latitude is 6378.13 * pi / 180 = 111.32 km.
  const double kmPerDeg = 6378.13 * M_PI / 180;
  struct Case {
    const char* name;
    TFloatPoint a, b;
    int inserted;
  };
  const Case cases[] = {
      {"250 km", {10, 0}, {10, 250 / kmPerDeg}, 2},
      {"99 km", {10, 0}, {10, 99 / kmPerDeg}, 0},
      {"equal points", {10, 20}, {10, 20}, 0},
      {"from the north pole", {0, 90}, {0, 80}, 0},
      {"from the south pole", {45, -90}, {45, -80}, 0},
      {"antipodal", {0, 0}, {180, 0}, 0},
      {"antipodal, tilted", {30, 45}, {-150, -45}, 0},
      {"towards the pole", {0, 80}, {0, 90}, 11},
  };
  for (const Case& c : cases) {
    TRecordingWriter w;
    w.GreatCircleDist = 100;
    w.StartHeader(1, otPline);
    w.AddObject(1, false, "a");
    TFloatPointArrayEx part = Part({c.a, c.b});
    w.AddSection(0, part);
    EXPECT_EQ(part.Count, 2 + c.inserted) << c.name;
    ASSERT_EQ(w.Sections.size(), 1u);
    ASSERT_EQ(w.Sections[0].size(), size_t(2 + c.inserted)) << c.name;
    EXPECT_TRUE(w.Sections[0].front() == c.a) << c.name;
    EXPECT_TRUE(w.Sections[0].back() == c.b) << c.name;
    for (const TFloatPoint& p : w.Sections[0]) EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.y)) << c.name;
    if (c.inserted > 0)
      ExpectOnArc(c.a, c.b, std::vector<TFloatPoint>(w.Sections[0].begin() + 1, w.Sections[0].end() - 1), c.name);
  }
  // Off by default and for steps of 0 or less.
  for (double step : {0.0, -5.0, std::nan("")}) {
    TFloatPointArrayEx part = Part({{0, 0}, {50, 50}});
    DensifyGreatCircle(part, step);
    EXPECT_EQ(part.Count, 2);
  }
}

TEST(GISWriterDensify, RandomSegmentsLieOnTheGreatCircle) {
  std::mt19937_64 rng(20261210);
  std::uniform_real_distribution<double> lon(-180, 180), lat(-89.99, 89.99), step(50, 2000);
  for (int t = 0; t < 1000; ++t) {
    const int n = 2 + int(rng() % 4);
    TFloatPointArrayEx part;
    for (int i = 0; i < n; ++i) part.Pnt.push_back({lon(rng), lat(rng)});
    part.Count = n;
    const TFloatPointArrayEx original = part;
    const double s = step(rng);
    DensifyGreatCircle(part, s);
    // Walk the result: every original point in order, with the expected count between.
    int32_t at = 0;
    for (int i = 0; i + 1 < n; ++i) {
      const TFloatPoint a = original.Pnt[i], b = original.Pnt[i + 1];
      ASSERT_TRUE(part.Pnt[at] == a);
      int k = int(std::trunc(Angle(UnitVector(a), UnitVector(b)) * 6378.13 / s));
      // Exactly-integral quotients may round either way in the two formulas.
      int32_t next = at + 1;
      while (next < part.Count && !(part.Pnt[next] == b)) ++next;
      ASSERT_LT(next, part.Count);
      const int got = next - at - 1;
      EXPECT_LE(std::abs(got - k), 1);
      ExpectOnArc(a, b, std::vector<TFloatPoint>(part.Pnt.begin() + at + 1, part.Pnt.begin() + at + 1 + got),
                  "random " + std::to_string(t));
      at += got + 1;
    }
    EXPECT_EQ(at, part.Count - 1);
    EXPECT_TRUE(part.Pnt[at] == original.Pnt[n - 1]);
  }
}

TEST(GISWriterDensify, AntimeridianAndDeferredObjects) {
  TFloatPointArrayEx part = Part({{170, 10}, {-170, 20}});
  DensifyGreatCircle(part, 100);
  ASSERT_GT(part.Count, 10);
  bool crossed = false;
  for (int i = 0; i < part.Count; ++i) {
    EXPECT_GE(part.Pnt[i].x, -180.0);
    EXPECT_LE(part.Pnt[i].x, 180.0);
    if (i > 0 && part.Pnt[i].x < 0 && part.Pnt[i - 1].x > 0) crossed = true;
  }
  EXPECT_TRUE(crossed);
  ExpectOnArc({170, 10}, {-170, 20}, std::vector<TFloatPoint>(part.Pnt.begin() + 1, part.Pnt.begin() + part.Count - 1),
              "antimeridian");

  // A deferred object is joined first, then densified.
  TRecordingWriter w;
  w.SetOptimizePLinesSections(true);
  w.GreatCircleDist = 100;
  w.StartHeader(1, otPline);
  w.AddObject(2, false, "a");
  const double kmPerDeg = 6378.13 * M_PI / 180;
  w.AddSection2(0, 0, 0, 0, 250 / kmPerDeg);
  w.AddSection2(0, 0, 250 / kmPerDeg, 0, 500 / kmPerDeg);
  ASSERT_EQ(w.Sections.size(), 1u);
  // Three joined points, two inserted on each 250 km segment.
  EXPECT_EQ(w.Sections[0].size(), 7u);
}

TEST(GISWriterDensify, AbsurdStepRaisesAndWritesNothing) {
  TRecordingWriter w;
  w.GreatCircleDist = 1e-9;
  w.StartHeader(1, otPline);
  w.AddObject(1, false, "a");
  TFloatPointArrayEx part = Part({{0, 0}, {1, 1}});
  EXPECT_EQ(MessageOf([&] { w.AddSection(0, part); }),
            "GreatCircleDist of 1E-9 km gives more than 2147483647 points in one part");
  EXPECT_EQ(part.Count, 2);
  EXPECT_EQ(w.Log, (Log{"StartObject 1 a"}));
  EXPECT_THROW(DensifyGreatCircle(part, 1e-300), EInvalidParameter);

  // Deferred: nothing of the record reaches the format writer.
  TRecordingWriter d;
  d.SetOptimizePLinesSections(true);
  d.StartHeader(1, otPline);
  d.AddObject(2, false, "a");
  d.AddSection2(0, 0, 0, 1, 1);
  d.GreatCircleDist = 1e-9;
  EXPECT_THROW(d.AddSection2(0, 5, 5, 6, 6), EInvalidParameter);
  EXPECT_TRUE(d.Log.empty());
  // The pool is free again for the next record.
  d.GreatCircleDist = 0;
  d.AddObject(2, false, "b");
  d.AddSection2(0, 7, 7, 8, 8);
  d.AddSection2(0, 8, 8, 9, 9);
  EXPECT_EQ(d.Log, (Log{"StartObject 1 b", "WriteSection 0 7,7 8,8 9,9"}));
}

// ---------------------------------------------------------------------------
// Bounds patching

TEST(GISWriterBounds, BoundTexts) {
  struct Case {
    double value;
    const char* text;
  };
  const Case cases[] = {
      {-12.5, "-12.500000000000"},
      {123456.789012345678, "123456.789012346"},
      {10, "10.0000000000000"},
      {1, "1.00000000000000"},
      {-4, "-4.0000000000000"},
      {0, "0.00000000000000"},
      {-0.0, "0.00000000000000"},
      {123456789012345, "123456789012345."},
      {-123456.789012346, "-123456.78901235"},
      {123456789012345678.0, "1.23456789012E17"},
      {-123456789012345678.0, "-1.2345678901E17"},
      {1e15, "1000000000000000"},
      {1e-5, "0.00001000000000"},
      {-1.234567890123e-7, "-1.2345678901E-7"},
      {1e300, "1.0000000000E300"},
      {-1e-300, "-1.00000000E-300"},
  };
  for (const Case& c : cases) {
    std::string t = PatchBoundText(c.value);
    EXPECT_EQ(t, c.text) << c.value;
    EXPECT_EQ(t.size(), 16u) << c.value;
  }
  // Plain decimals (xsd:decimal): never E-notation; rounded where it must be.
  const Case decimals[] = {
      {-12.5, "-12.500000000000"},
      {1e15, "1000000000000000"},
      {-1.234567890123e-7, "-0.0000001234568"},
      {2.5e-20, "0.00000000000000"},
      {-123456789012345.0, "-123456789012345"},
  };
  for (const Case& c : decimals) {
    std::string t = PatchBoundText(c.value, true);
    EXPECT_EQ(t, c.text) << c.value;
    EXPECT_EQ(t.size(), 16u) << c.value;
  }
  for (double v : {1e16, -1e15, 1e300}) EXPECT_THROW(PatchBoundText(v, true), EInvalidParameter) << v;
}

TEST(GISWriterBounds, RandomBoundsReadBackInPython) {
  if (std::system("python3 -c 'pass' >/dev/null 2>&1") != 0) GTEST_SKIP() << "python3 missing";
  TempDir dir;
  std::string data = dir.File("bounds.txt");
  {
    std::ofstream f(data);
    std::mt19937_64 rng(42);
    std::uniform_real_distribution<double> expo(-300, 300), mant(1, 10);
    for (int i = 0; i < 5000; ++i) {
      double v = mant(rng) * std::pow(10.0, std::floor(expo(rng)));
      if (rng() & 1) v = -v;
      if (i % 5 == 0) v = std::ldexp(double(rng() >> 11), -int(rng() % 40));  // plain fractions
      char hex[64];
      std::snprintf(hex, sizeof hex, "%a", v);
      f << hex << " " << PatchBoundText(v) << "\n";
    }
  }
  std::string cmd = "python3 " KOVRA_TEST_SCRIPTS_DIR "/giswriter_bounds_oracle.py " + data;
  EXPECT_EQ(std::system(cmd.c_str()), 0);
}

TEST(GISWriterBounds, PatchAtRecordedOffsets) {
  TempDir dir;
  TRecordingWriter w;
  w.FileName = dir.File("layer");
  // The layer name holds the tags and a placeholder: only the recorded spots change.
  const std::string head = "<name><gml:X>0.00000000000000 minlon=\"0.00000000000000</name>";
  const std::string box = "<gml:X>0.00000000000000</gml:X><gml:Y>0.00000000000000</gml:Y>";
  const std::string file = head + box + box + "<tail/>";
  WriteFile(w.FileName + ".xml", file);
  const int64_t b1 = int64_t(head.size()), b2 = b1 + int64_t(box.size());
  w.SetBoundsOffset(0, b1);
  w.SetBoundsOffset(1, b1 + 31);
  w.SetBoundsOffset(2, b2);
  w.SetBoundsOffset(3, b2 + 31);
  w.StartHeader(1, otPoint);
  w.ExtendBounds(1, 2);
  w.ExtendBounds(3, -4);
  w.PatchBounds(".xml", "<gml:X>", "<gml:Y>", "<gml:X>", "<gml:Y>");
  const std::string expected = head + "<gml:X>1.00000000000000</gml:X><gml:Y>-4.0000000000000</gml:Y>" +
                               "<gml:X>3.00000000000000</gml:X><gml:Y>2.00000000000000</gml:Y>" + "<tail/>";
  EXPECT_EQ(ReadFile(w.FileName + ".xml"), expected);

  // A patched file holds no placeholders any more: a second patch raises and changes nothing.
  EXPECT_NE(MessageOf([&] { w.PatchBounds(".xml", "<gml:X>", "<gml:Y>", "<gml:X>", "<gml:Y>"); }), "");
  EXPECT_EQ(ReadFile(w.FileName + ".xml"), expected);
  // A wrong offset raises before the first bound is written.
  WriteFile(w.FileName + ".xml", file);
  w.SetBoundsOffset(3, b2 + 32);
  EXPECT_EQ(MessageOf([&] { w.PatchBounds(".xml", "<gml:X>", "<gml:Y>", "<gml:X>", "<gml:Y>"); }),
            "Bounds placeholder 4 (<gml:Y>) not found at byte " + std::to_string(b2 + 32) + " of \"" +
                w.FileName + ".xml\"");
  EXPECT_EQ(ReadFile(w.FileName + ".xml"), file);
  w.SetBoundsOffset(3, int64_t(file.size()) - 3);  // beyond the end
  EXPECT_THROW(w.PatchBounds(".xml", "<gml:X>", "<gml:Y>", "<gml:X>", "<gml:Y>"), Exception);
  EXPECT_EQ(ReadFile(w.FileName + ".xml"), file);
  TRecordingWriter unset;
  unset.FileName = w.FileName;
  EXPECT_THROW(unset.PatchBounds(".xml", "<gml:X>", "<gml:Y>", "<gml:X>", "<gml:Y>"), Exception);
  EXPECT_EQ(ReadFile(w.FileName + ".xml"), file);
  // A missing file is the stream's open error.
  w.FileName = dir.File("missing");
  EXPECT_THROW(w.PatchBounds(".xml", "<gml:X>", "<gml:Y>", "<gml:X>", "<gml:Y>"), EFOpenError);
}
