#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "giswriter/kovra_giswriter.h"
#include "giswriter/kovra_giswriter_array.h"
#include "support/test_parts.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

constexpr double cInf = double(cInfinity);

const TFloatRect cSentinelMBR{cInf, cInf, -cInf, -cInf};

void ExpectRect(const TFloatRect& a, const TFloatRect& b) {
  EXPECT_EQ(a.xmin, b.xmin);
  EXPECT_EQ(a.ymin, b.ymin);
  EXPECT_EQ(a.xmax, b.xmax);
  EXPECT_EQ(a.ymax, b.ymax);
}

// The ten column types in ordinal order.
void DeclareAllTypes(TGISWriter& w, TObjectTypes ot) {
  w.StartHeader(10, ot);
  w.AddField("C", gfChar, 10, 0);
  w.AddField("I", gfInteger, 0, 0);
  w.AddField("S", gfSmallInt, 0, 0);
  w.AddField("D", gfDecimal, 10, 2);
  w.AddField("F", gfFloat, 0, 0);
  w.AddField("Dt", gfDate, 0, 0);
  w.AddField("L", gfLogical, 0, 0);
  w.AddField("T", gfTime, 0, 0);
  w.AddField("DT", gfDateTime, 0, 0);
  w.AddField("I64", gfInt64, 0, 0);
}

TDateTime DT(double v) { return TDateTime{v}; }

}  // namespace

TEST(DateTimeEncoding, KnownDaysAndRanges) {
  EXPECT_EQ(EncodeDate(1899, 12, 30).Value, 0.0);
  EXPECT_EQ(EncodeDate(1900, 1, 1).Value, 2.0);
  EXPECT_EQ(EncodeDate(2021, 3, 22).Value, 44277.0);
  EXPECT_EQ(EncodeDate(2000, 2, 29).Value, 36585.0);
  EXPECT_EQ(EncodeDate(1, 1, 1).Value, -693593.0);
  EXPECT_EQ(EncodeDate(9999, 12, 31).Value, 2958465.0);
  EXPECT_EQ(EncodeTime(12, 0, 0, 0).Value, 0.5);
  EXPECT_EQ(EncodeTime(6, 0, 0, 0).Value, 0.25);
  EXPECT_EQ(ComposeDateTime(EncodeDate(1899, 12, 29), EncodeTime(6, 0, 0, 0)).Value, -1.25);

  struct Bad { int y, m, d; };
  for (Bad b : {Bad{2021, 13, 1}, Bad{2021, 0, 1}, Bad{2021, 2, 29}, Bad{1900, 2, 29}, Bad{0, 1, 1},
                Bad{10000, 1, 1}, Bad{2021, 4, 31}, Bad{2021, 1, 0}}) {
    SCOPED_TRACE(testing::Message() << b.y << "-" << b.m << "-" << b.d);
    EXPECT_THROW(EncodeDate(b.y, b.m, b.d), EConvertError);
  }
  EXPECT_THROW(EncodeTime(24, 0, 0, 0), EConvertError);
  EXPECT_THROW(EncodeTime(0, 60, 0, 0), EConvertError);
  EXPECT_THROW(EncodeTime(0, 0, 60, 0), EConvertError);
  EXPECT_THROW(EncodeTime(0, 0, 0, 1000), EConvertError);
  EXPECT_THROW(EncodeTime(-1, 0, 0, 0), EConvertError);
}

TEST(GISWriterArray, TypedRowsOverAllTenTypes) {
  TGISWriterArray w;
  DeclareAllTypes(w, otNone);
  TGISArray& a = *w.GISarray;
  ASSERT_EQ(a.Field.size(), 10u);
  EXPECT_EQ(a.Field[3].FieldType, gfDecimal);
  EXPECT_EQ(a.Field[3].Width, 10);
  EXPECT_EQ(a.Field[3].decimals, 2);
  EXPECT_EQ(a.Field[9].Name, "I64");

  struct Row {
    const char* attrib;
    TGISValueArray expected;
  };
  const Row rows[] = {
      {"\"a b\",7,-3,12.5abc,1e3,20210322,yes,120000000,20210322120000000,9007199254740993",
       {std::string("a b"), int32_t(7), int32_t(-3), 12.5, 1000.0, DT(44277.0), true, DT(0.5), DT(44277.5),
        int64_t(9007199254740993)}},
      {"\"\",+5,0,\"\",abc,\"\",no,\"\",\"\",-9223372036854775808",
       {std::string(""), int32_t(5), int32_t(0), 0.0, 0.0, std::monostate{}, false, std::monostate{},
        std::monostate{}, int64_t(INT64_MIN)}},
      // Wrong lengths give nulls; inf/nan texts, a lone sign and overflow count as non-numeric.
      {"x,2147483647,-2147483648,inf,nan,2021032,\"\",12000000,2021032212000000,1",
       {std::string("x"), int32_t(2147483647), int32_t(-2147483648), 0.0, 0.0, std::monostate{}, false,
        std::monostate{}, std::monostate{}, int64_t(1)}},
      {"y,1,1,+2.5,1e400,18991230,T,235959999,18991229060000000,0",
       {std::string("y"), int32_t(1), int32_t(1), 2.5, 0.0, DT(0.0), true, DT(86399999.0 / 86400000.0),
        DT(-1.25), int64_t(0)}},
  };
  for (const Row& r : rows) w.AddObject(0, false, r.attrib);
  w.Close();
  ASSERT_EQ(a.RecCount, 4);
  EXPECT_EQ(w.WrittenRecords(), 4);
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(rows[i].attrib);
    ASSERT_EQ(a.Rec[i].Attr.size(), 10u);
    for (size_t c = 0; c < 10; ++c) {
      SCOPED_TRACE(c);
      EXPECT_EQ(a.Rec[i].Attr[c].index(), rows[i].expected[c].index());
      EXPECT_TRUE(a.Rec[i].Attr[c] == rows[i].expected[c]);
    }
    EXPECT_TRUE(a.Rec[i].Coord.empty());
  }
  // The columns and the layer kind stay after Close.
  EXPECT_EQ(a.OT, otNone);
  EXPECT_EQ(a.Field.size(), 10u);
  ExpectRect(a.MBR, cSentinelMBR);
}

TEST(GISWriterArray, BadValuesRaiseAndAddNoRow) {
  TGISWriterArray w;
  DeclareAllTypes(w, otPoint);
  const std::string good = "a,1,2,3,4,20210322,y,120000000,20210322120000000,5";
  w.AddPoint(1, 2, good);
  TGISArray& a = *w.GISarray;
  const size_t recLen = a.Rec.size();

  struct Bad {
    const char* attrib;
    const char* message;
  };
  const Bad bads[] = {
      {"a,1.5,2,3,4,20210322,y,120000000,20210322120000000,5", "'1.5' is not a valid integer value"},
      {"a,1,x,3,4,20210322,y,120000000,20210322120000000,5", "'x' is not a valid integer value"},
      {"a,1,2,3,4,20210322,y,120000000,20210322120000000,0x10", "'0x10' is not a valid integer value"},
      {"a,2147483648,2,3,4,20210322,y,120000000,20210322120000000,5",
       "'2147483648' is not a valid integer value"},
      {"a,\"\",2,3,4,20210322,y,120000000,20210322120000000,5", "'' is not a valid integer value"},
      {"a,1,2,3,4,20211322,y,120000000,20210322120000000,5", "'20211322' is not a valid date"},
      {"a,1,2,3,4,2021a322,y,120000000,20210322120000000,5", "'2021a322' is not a valid date"},
      {"a,1,2,3,4,20210322,y,250000000,20210322120000000,5", "'250000000' is not a valid time"},
      {"a,1,2,3,4,20210322,y,120000000,20210230120000000,5", "'20210230120000000' is not a valid date and time"},
      {"a,1,2,3,4,20210322,y,120000000,20210322126000000,5", "'20210322126000000' is not a valid date and time"},
      {"a,1,2,3,4,20210322,y,120000000,20210322120000000",
       "Number of values must match number of fields. NumVal = 9, NumFields = 10, string = "
       "\"a,1,2,3,4,20210322,y,120000000,20210322120000000\""},
  };
  for (const Bad& b : bads) {
    SCOPED_TRACE(b.attrib);
    try {
      w.AddPoint(50, 60, b.attrib);
      ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), b.message);
      if (std::string(b.message).find("valid") != std::string::npos) {
        EXPECT_NE(dynamic_cast<const EConvertError*>(&e), nullptr);
      }
    }
    // The same through AddObject: the row is neither added nor half-filled.
    EXPECT_THROW(w.AddObject(0, false, b.attrib), Exception);
    EXPECT_EQ(a.RecCount, 1);
    EXPECT_EQ(a.Rec.size(), recLen);
    EXPECT_EQ(w.WrittenRecords(), 1);
    ExpectRect(a.MBR, TFloatRect{1, 2, 1, 2});
  }
  // A good row afterwards lands in the next slot with all its values.
  w.AddPoint(3, 4, good);
  ASSERT_EQ(a.RecCount, 2);
  EXPECT_EQ(a.Rec[1].Attr[1], TGISValue(int32_t(1)));
  EXPECT_EQ(a.Rec[1].Attr[9], TGISValue(int64_t(5)));
  ExpectRect(a.MBR, TFloatRect{1, 2, 3, 4});
}

TEST(GISWriterArray, GeometryRowsAndBoundingBox) {
  TGISWriterArray w;
  w.StartHeader(1, otPline);
  w.AddField("id", gfInteger, 0, 0);
  TGISArray& a = *w.GISarray;
  ExpectRect(a.MBR, cSentinelMBR);

  w.AddPoint(100, 100, "1");  // point in a polyline table: ignored
  EXPECT_EQ(a.RecCount, 0);
  w.AddObject(0, false, "2");  // attribute row without geometry
  ASSERT_EQ(a.RecCount, 1);
  EXPECT_TRUE(a.Rec[0].Coord.empty());
  ExpectRect(a.MBR, cSentinelMBR);

  w.AddObject(2, false, "3");
  auto p1 = Part({{1, 5}, {2, 6}});
  auto p2 = Part({{-3, 7}, {4, -8}, {0, 0}});
  w.AddSection(0, p1);
  w.AddSection(1, p2);
  w.AddLine(10, 11, 12, 13, "4");
  ASSERT_EQ(a.RecCount, 3);
  ASSERT_EQ(a.Rec[1].Coord.size(), 2u);
  EXPECT_EQ(a.Rec[1].Coord[0], (TFloatPointArray{{1, 5}, {2, 6}}));
  EXPECT_EQ(a.Rec[1].Coord[1], (TFloatPointArray{{-3, 7}, {4, -8}, {0, 0}}));
  EXPECT_EQ(a.Rec[2].Coord, (std::vector<TFloatPointArray>{{{10, 11}, {12, 13}}}));
  EXPECT_EQ(a.Rec[2].Attr[0], TGISValue(int32_t(4)));
  ExpectRect(a.MBR, TFloatRect{-3, -8, 12, 13});

  // A joined object keeps the reduced part count.
  w.SetOptimizePLinesSections(true);
  w.AddObject(3, false, "5");
  auto q1 = Part({{0, 0}, {1, 0}});
  auto q2 = Part({{1, 0}, {2, 0}});
  auto q3 = Part({{5, 5}, {6, 6}});
  w.AddSection(0, q1);
  w.AddSection(1, q2);
  w.AddSection(2, q3);
  ASSERT_EQ(a.RecCount, 4);
  ASSERT_EQ(a.Rec[3].Coord.size(), 2u);
  EXPECT_EQ(a.Rec[3].Coord[0], (TFloatPointArray{{0, 0}, {1, 0}, {2, 0}}));
  EXPECT_EQ(a.Rec[3].Coord[1], (TFloatPointArray{{5, 5}, {6, 6}}));
  w.Close();
  EXPECT_EQ(w.WrittenRecords(), 4);

  // Point and region tables.
  TGISWriterArray pts;
  pts.StartHeader(1, otPoint);
  pts.AddField("n", gfChar, 5, 0);
  pts.AddPoint(-1.5, 2.5, "p");
  ASSERT_EQ(pts.GISarray->RecCount, 1);
  EXPECT_EQ(pts.GISarray->Rec[0].Coord, (std::vector<TFloatPointArray>{{{-1.5, 2.5}}}));
  ExpectRect(pts.GISarray->MBR, TFloatRect{-1.5, 2.5, -1.5, 2.5});

  TGISWriterArray reg;
  reg.StartHeader(1, otRegion);
  reg.AddField("n", gfChar, 5, 0);
  reg.AddObject(1, false, "r");
  auto ring = Part({{0, 0}, {1, 0}, {1, 1}, {0, 0}});
  reg.AddSection(0, ring);
  reg.AddPoint(9, 9, "x");
  ASSERT_EQ(reg.GISarray->RecCount, 1);
  EXPECT_EQ(reg.GISarray->OT, otRegion);
  EXPECT_EQ(reg.GISarray->Rec[0].Coord[0].size(), 4u);
}

TEST(GISWriterArray, RecGrowsByTheRuleAndDropEmpties) {
  TGISWriterArray w;
  w.StartHeader(1, otNone);
  w.AddField("i", gfInteger, 0, 0);
  TGISArray& a = *w.GISarray;
  EXPECT_EQ(a.Rec.size(), 0u);
  const std::map<int, size_t> expected{{1, 49}, {47, 49}, {48, 98}, {49, 98}, {96, 98}, {97, 147}, {145, 147},
                                       {146, 196}, {194, 196}, {195, 253}};  // 0.3 * 195 = 58.5 -> 58
  for (int i = 1; i <= 195; ++i) {
    w.AddObject(0, false, IntToStr(i));
    auto it = expected.find(i);
    if (it != expected.end()) {
      EXPECT_EQ(a.Rec.size(), it->second) << "after " << i << " rows";
    }
  }
  EXPECT_EQ(a.RecCount, 195);
  EXPECT_EQ(a.Rec[194].Attr[0], TGISValue(int32_t(195)));
  EXPECT_TRUE(a.Rec[195].Attr.empty());  // spare entries are empty
  w.Close();
  EXPECT_EQ(a.Rec.size(), 253u);  // Close keeps the spare entries

  // A new StartHeader on the same table replaces the previous result.
  w.StartHeader(2, otPoint);
  EXPECT_EQ(a.RecCount, 0);
  EXPECT_EQ(a.Rec.size(), 0u);
  EXPECT_EQ(a.Field.size(), 2u);
  w.AddField("a", gfChar, 1, 0);
  w.AddField("b", gfChar, 1, 0);
  w.AddPoint(1, 1, "x,y");
  w.Close();
  w.Drop();
  EXPECT_EQ(a.RecCount, 0);
  EXPECT_TRUE(a.Rec.empty());
  EXPECT_TRUE(a.Field.empty());
  EXPECT_EQ(a.OT, otPoint);  // Clear keeps OT and MBR
  ExpectRect(a.MBR, TFloatRect{1, 1, 1, 1});
}

TEST(GISWriterArray, LentTableOutlivesTheWriter) {
  TGISArray mine;
  {
    auto w = std::make_unique<TGISWriterArray>();
    ASSERT_NE(w->GISarray, nullptr);  // untouched: a table of its own
    w->GISarray = &mine;
    w->StartHeader(1, otPoint);
    w->AddField("v", gfFloat, 0, 0);
    w->AddPoint(1, 2, "3.5");
    w->Close();
    // The writer goes; its own table with it, the lent one stays.
  }
  ASSERT_EQ(mine.RecCount, 1);
  EXPECT_EQ(mine.Rec[0].Attr[0], TGISValue(3.5));
  EXPECT_EQ(mine.OT, otPoint);

  // A writer used untouched frees its own table (the sanitizer build checks it).
  {
    TGISWriterArray w;
    w.StartHeader(1, otPoint);
    w.AddField("v", gfChar, 10, 0);
    w.AddPoint(1, 2, "\"a text longer than the small-string buffer\"");
    w.Close();
  }
  // A nil table is refused before anything is written.
  TGISWriterArray w;
  w.GISarray = nullptr;
  EXPECT_THROW(w.StartHeader(1, otPoint), EInvalidParameter);
}
