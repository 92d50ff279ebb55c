// KML, GML, GPX and GeoJSON writers: golden layers, exact JSON texts, the
// name and escaping rules, bounds patching, the lifecycle, and independent
// judges on every file written here: xmllint, jq and GDAL's drivers.
#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <regex>
#include <set>

#include "giswriter/kovra_giswriter.h"
#include "giswriter/kovra_giswriter_json.h"
#include "giswriter/kovra_giswriter_xml.h"
#include "support/gdal_readback.h"
#include "support/test_files.h"
#include "support/test_parts.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

const std::string cGolden = std::string(KOVRA_TEST_SOURCE_DIR) + "/data/giswriter_xml/";
const std::string cBOM = "\xEF\xBB\xBF";

const std::initializer_list<TFloatPoint> cOuter = {{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}};
const std::initializer_list<TFloatPoint> cHole = {{2, 2}, {3, 2}, {3, 3}, {2, 2}};
const std::initializer_list<TFloatPoint> cOuter2 = {{20, 20}, {30, 20}, {30, 30}, {20, 20}};

// A text as one single-quoted shell word.
std::string ShellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

// xmllint judges well-formedness (and the encoding declaration against the bytes).
void ExpectWellFormedXML(const std::string& Path) {
  std::string out;
  const int rc = RunCommand("xmllint --noout " + ShellQuote(Path) + " 2>&1", &out);
  EXPECT_EQ(rc, 0) << Path << "\n" << out.substr(0, 2000);
}

void ExpectValidJSONFile(const std::string& Path) {
  std::string out;
  const int rc = RunCommand("jq -e . " + ShellQuote(Path) + " >/dev/null 2>&1; echo $?", &out);
  EXPECT_EQ(out, "0\n") << Path << " rc=" << rc << "\n" << ReadBytes(Path).substr(0, 2000);
}

void ExpectValidJSONText(const TTempDir& Dir, const std::string& Text) {
  static int n = 0;
  const std::string path = Dir.File("text" + std::to_string(n++) + ".json");
  WriteBytes(path, Text);
  ExpectValidJSONFile(path);
}

// Compares a written file with its golden copy; a missing golden copy is
// written beside it as Name + ".new" for review.
void ExpectGolden(const std::string& Path, const std::string& Name) {
  const std::string actual = ReadBytes(Path);
  if (!std::filesystem::exists(cGolden + Name)) {
    WriteBytes(cGolden + Name + ".new", actual);
    ADD_FAILURE() << "no golden file " << Name;
    return;
  }
  EXPECT_EQ(actual, ReadBytes(cGolden + Name)) << Name;
}

// ---------------------------------------------------------------------------
// Helpers: names, URIs, JSON strings and numbers, decimal coordinates

TEST(XmlNames, NCNameMapping) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"name", "name"},
      {"_x.y-z9", "_x.y-z9"},
      {"Straße", "Straße"},
      {"道路", "道路"},
      {"a b", "a_b"},
      {"2024 links&x", "_2024_links_x"},
      {"9", "_9"},
      {"-a", "_-a"},
      {".a", "_.a"},
      {"", "_"},
      {" a", "_a"},
      {"a:b", "a_b"},
      {"x\ty\x01z", "x_y_z"},
      {"a\xF0\x9F\x98\x80", "a_"},   // beyond the BMP: expat refuses it in names
      {"a\xFF" "b", "a_b"},          // invalid UTF-8 byte
      {"\xC2\xB7x", "_\xC2\xB7x"},   // a name character that cannot start a name
      {"a\"<>&'", "a_____"},
  };
  for (const auto& c : cases) EXPECT_EQ(MakeNCName(c.in), c.out) << c.in;
}

TEST(XmlNames, CollisionsGetNumbers) {
  std::set<std::string> taken{"_SHAPE_"};
  EXPECT_EQ(MakeUniqueNCName("a b", taken), "a_b");
  EXPECT_EQ(MakeUniqueNCName("a_b", taken), "a_b_2");
  EXPECT_EQ(MakeUniqueNCName("a&b", taken), "a_b_3");
  EXPECT_EQ(MakeUniqueNCName("_SHAPE_", taken), "_SHAPE__2");
  EXPECT_EQ(MakeUniqueNCName("a_b_2", taken), "a_b_2_2");
  EXPECT_EQ(MakeUniqueNCName("c", taken), "c");
}

TEST(XmlNames, PercentEncoding) {
  EXPECT_EQ(PercentEncode("2024 links&x"), "2024%20links%26x");
  EXPECT_EQ(PercentEncode("A-z_0.9~"), "A-z_0.9~");
  EXPECT_EQ(PercentEncode("é/\"<\n"), "%C3%A9%2F%22%3C%0A");
}

TEST(JsonText, EscapeJSON) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"plain text", "plain text"},
      {"\b\t\n\f\r", "\\b\\t\\n\\f\\r"},
      {"\"/\\", "\\\"\\/\\\\"},
      {std::string("\x01\x1F\x7F", 3), "\\u0001\\u001F\\u007F"},
      {"é\n", "\\u00E9\\n"},
      {"\xE2\x82\xAC", "\\u20AC"},
      {"\xF0\x9F\x98\x80", "\\uD83D\\uDE00"},
      {"a\xFF", "a\\uFFFD"},
      {std::string("\0", 1), "\\u0000"},
  };
  for (const auto& c : cases) EXPECT_EQ(EscapeJSON(c.in), c.out) << c.in;
}

TEST(JsonText, NumberGrammar) {
  for (const char* ok : {"0", "12", "-0.5", "1E38", "1e-5", "1.25E+3", "-0", "0.0", "123456789012345678901"})
    EXPECT_TRUE(IsJSONNumber(ok)) << ok;
  for (const char* bad : {"", "007", "+5", "1.", ".5", "NaN", "Infinity", "-", "1e", "1E+", "0x10", " 1", "1 ",
                          "1,5", "--1", "1.2.3", "01.5"})
    EXPECT_FALSE(IsJSONNumber(bad)) << bad;
}

TEST(XmlNumbers, DecimalCoordinates) {
  struct Case {
    double v;
    const char* text;
  } cases[] = {
      {0.00005, "0.00005"}, {-0.00005, "-0.00005"}, {51, "51"},         {13.4050001, "13.4050001"},
      {0.0001, "0.0001"},   {1e-300, nullptr},       {1e15, "1000000000000000"}, {0, "0"},
  };
  for (const auto& c : cases) {
    const std::string s = FloatToStrDecimalDot(c.v);
    if (c.text) {
      EXPECT_EQ(s, c.text);
    }
    EXPECT_EQ(s.find_first_of("Ee"), std::string::npos) << s;
    double back = -1;
    std::from_chars(s.data(), s.data() + s.size(), back);
    EXPECT_EQ(back, c.v) << s;
  }
}

// ---------------------------------------------------------------------------
// KML

TEST(KmlWriter, GoldenLayers) {
  TTempDir dir("kovra_kml");
  struct Case {
    const char* golden;
    std::function<void(TGISWriterKML2&)> write;
    int32_t records;
    std::vector<std::string> wkt;  // as GDAL reads the geometry back
  } cases[] = {
      {"region.kml",
       [](TGISWriterKML2& w) {
         w.StartHeader(2, otRegion);
         w.AddField("id", gfInteger, 0, 0);
         w.AddField("a&b", gfChar, 0, 0);
         // Outer ring, hole, second outer ring: one MultiGeometry, two Polygons.
         w.AddObject(3, true, "1,x");
         Section(w, 0, cOuter);
         Section(w, 1, cHole);
         Section(w, 0, cOuter2);
         w.Brush.fg_color = 0x00FF00;
         w.AddObject(1, false, "2,y");
         Section(w, 0, cOuter2);
       },
       2,
       {"MULTIPOLYGON (((0 0 0,10 0 0,10 10 0,0 10 0,0 0 0),(2 2 0,3 2 0,3 3 0,2 2 0)),((20 20 0,30 20 0,30 30 0,20 20 0)))",
        "MULTIPOLYGON (((20 20 0,30 20 0,30 30 0,20 20 0)))"}},
      {"pline.kml",
       [](TGISWriterKML2& w) {
         w.StartHeader(3, otPline);
         w.AddField("id", gfInteger, 0, 0);
         w.AddField("day", gfDate, 0, 0);
         w.AddField("ok", gfLogical, 0, 0);
         w.AddLine(1.5, -2.25, 3, 4, "1,20210322,Y");
         w.Pen.Color = 0x0000FF;  // red
         w.AddObject(2, false, "2,2021,n");
         Section(w, 0, {{0, 0}, {1, 1}});
         Section(w, 0, {{2, 2}, {3, 3}, {4, 3}});
         w.AddObject(0, false, "3,20210322,t");
       },
       3,
       {"MULTILINESTRING ((1.5 -2.25 0,3 4 0))", "MULTILINESTRING ((0 0 0,1 1 0),(2 2 0,3 3 0,4 3 0))", ""}},
      {"point.kml",
       [](TGISWriterKML2& w) {
         w.StartHeader(2, otPoint);
         w.AddField("id", gfInteger, 0, 0);
         w.AddField("text", gfChar, 0, 0);
         w.AddPoint(13.4050001, 52.52, "7,\"a&b<c ]]> d\"");
         w.AddLine(1, 2, 3, 4, "8,x");  // no line in a point table
         w.AddPoint(-1e-5, 0, "9,\"\"");
       },
       2,
       {"POINT (13.4050001 52.52 0)", "POINT (-1e-05 0 0)"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.golden);
    const std::string base = dir.File("layer");
    TGISWriterKML2 w;
    w.FileName = base;
    c.write(w);
    EXPECT_EQ(w.WrittenRecords(), c.records);
    w.Close();
    w.Close();  // a second Close changes nothing
    ExpectGolden(base + ".kml", c.golden);
    ExpectWellFormedXML(base + ".kml");
    TOgrLayer l = ReadOgrLayer(base + ".kml");
    ASSERT_EQ(l.FeatureCount, c.records);
    for (size_t i = 0; i < c.wkt.size() && i < l.Features.size(); ++i) {
      EXPECT_EQ(l.Features[i].Wkt, c.wkt[i]) << i;
    }
    w.Drop();
    EXPECT_FALSE(std::filesystem::exists(base + ".kml"));
  }
}

// ---------------------------------------------------------------------------
// GML

// The column element names the schema declares, in order.
std::vector<std::string> SchemaColumns(const std::string& Xsd) {
  std::vector<std::string> out;
  const size_t seq = Xsd.find("<sequence>");
  std::regex re("<element name=\"([^\"]+)\"");
  std::string rest = Xsd.substr(seq == std::string::npos ? Xsd.size() : seq);
  for (std::sregex_iterator it(rest.begin(), rest.end(), re), end; it != end; ++it) out.push_back((*it)[1]);
  return out;
}

TEST(GmlWriter, PointLayerGoldenBoundsAndTypes) {
  TTempDir dir("kovra_gml");
  const std::string base = dir.File("points");
  TGISWriterGML2 w;
  w.FileName = base;
  w.StartHeader(5, otPoint);
  w.AddField("id", gfInteger, 0, 0);
  w.AddField("name", gfChar, 0, 0);
  w.AddField("day", gfDate, 0, 0);
  w.AddField("ok", gfLogical, 0, 0);
  w.AddField("big", gfInt64, 0, 0);
  w.AddPoint(1, 2, "1,\"a & <b>\",20210322,Y,9007199254740993");
  w.AddPoint(3, -4, "2,\"\",2021032,n,-1");  // a date of the wrong length is nil
  w.AddLine(5, 6, 7, 8, "3,x,20210322,1,0");   // no line in a point table
  EXPECT_EQ(w.WrittenRecords(), 2);
  w.Close();
  ExpectGolden(base + ".xml", "points.xml");
  ExpectGolden(base + ".xsd", "points.xsd");
  const std::string xml = ReadBytes(base + ".xml");
  EXPECT_NE(xml.find("<gml:coord><gml:X>1.00000000000000</gml:X><gml:Y>-4.0000000000000</gml:Y></gml:coord>"
                     "<gml:coord><gml:X>3.00000000000000</gml:X><gml:Y>2.00000000000000</gml:Y></gml:coord>"),
            std::string::npos);
  EXPECT_NE(xml.find("<day xsi:nil=\"true\"/>"), std::string::npos);
  EXPECT_NE(xml.find("<ok>1</ok>"), std::string::npos);
  ExpectWellFormedXML(base + ".xml");
  ExpectWellFormedXML(base + ".xsd");

  TOgrLayer l = ReadOgrLayer(base + ".xml", {{"GML"}, {}, "", true});
  ASSERT_EQ(l.FeatureCount, 2);
  ASSERT_EQ(l.Fields.size(), 5u);
  EXPECT_EQ(l.Fields[0].Type, "Integer");
  EXPECT_EQ(l.Fields[1].Type, "String");
  EXPECT_EQ(l.Fields[2].Type, "Date");
  EXPECT_EQ(l.Fields[3].Type, "Integer(Boolean)");
  EXPECT_EQ(l.Fields[4].Type, "Integer64");
  EXPECT_EQ(l.Value(0, "name"), "a & <b>");
  EXPECT_EQ(l.Value(0, "day"), "2021/03/22");
  EXPECT_TRUE(l.Features[1].IsNull[2]);
  EXPECT_EQ(l.Value(0, "ok"), "1");
  EXPECT_EQ(l.Value(1, "ok"), "0");
  EXPECT_EQ(l.Value(0, "big"), "9007199254740993");
  EXPECT_EQ(l.Features[0].Wkt, "POINT (1 2)");
  EXPECT_EQ(l.Features[1].Wkt, "POINT (3 -4)");
}

TEST(GmlWriter, LinesRegionsAndEmptyShape) {
  TTempDir dir("kovra_gml");
  {
    const std::string base = dir.File("lines");
    TGISWriterGML2 w;
    w.FileName = base;
    w.StartHeader(1, otPline);
    w.AddField("id", gfInteger, 0, 0);
    w.AddObject(0, false, "1");
    w.AddObject(2, false, "2");
    Section(w, 0, {{0, 0}, {1, 1}});
    Section(w, 0, {{2, 2}, {3, 3}});
    w.Close();
    const std::string xml = ReadBytes(base + ".xml");
    EXPECT_NE(xml.find("<id>1</id><_SHAPE_></_SHAPE_></lines>"), std::string::npos);
    ExpectWellFormedXML(base + ".xml");
    TOgrLayer l = ReadOgrLayer(base + ".xml", {{"GML"}, {}, "", true});
    ASSERT_EQ(l.FeatureCount, 2);
    EXPECT_EQ(l.Features[0].Wkt, "");
    EXPECT_EQ(l.Features[1].Wkt, "MULTILINESTRING ((0 0,1 1),(2 2,3 3))");
  }
  {
    const std::string base = dir.File("regions");
    TGISWriterGML2 w;
    w.FileName = base;
    w.StartHeader(1, otRegion);
    w.AddField("id", gfInteger, 0, 0);
    w.AddObject(3, true, "1");
    Section(w, 0, cOuter);
    Section(w, 1, cHole);
    Section(w, -1, cOuter2);
    w.Close();
    ExpectWellFormedXML(base + ".xml");
    TOgrLayer l = ReadOgrLayer(base + ".xml", {{"GML"}, {}, "", true});
    ASSERT_EQ(l.FeatureCount, 1);
    EXPECT_EQ(l.Features[0].Wkt,
              "MULTIPOLYGON (((0 0,10 0,10 10,0 10,0 0),(2 2,3 2,3 3,2 2)),((20 20,30 20,30 30,20 20)))");
    const std::string xml = ReadBytes(base + ".xml");
    EXPECT_NE(xml.find("<gml:X>0.00000000000000</gml:X><gml:Y>0.00000000000000</gml:Y>"), std::string::npos);
    EXPECT_NE(xml.find("<gml:X>30.0000000000000</gml:X><gml:Y>30.0000000000000</gml:Y>"), std::string::npos);
  }
}

TEST(GmlWriter, UnsafeLayerAndColumnNames) {
  TTempDir dir("kovra_gml");
  const std::string base = dir.File("2024 links&x");
  TGISWriterGML2 w;
  w.FileName = base;
  w.StartHeader(5, otPline);
  w.AddField("a b", gfChar, 0, 0);
  w.AddField("a_b", gfInteger, 0, 0);
  w.AddField("_SHAPE_", gfChar, 0, 0);
  w.AddField("1st", gfFloat, 0, 0);
  w.AddField("x\x01<y>", gfChar, 0, 0);
  w.AddLine(0, 0, 1, 1, "\"v\x02 \",5,s,1.5,\"]]>\"");
  w.Close();
  ExpectWellFormedXML(base + ".xml");
  ExpectWellFormedXML(base + ".xsd");
  const std::string xml = ReadBytes(base + ".xml");
  const std::string xsd = ReadBytes(base + ".xsd");
  const std::vector<std::string> columns = SchemaColumns(xsd);
  EXPECT_EQ(columns, (std::vector<std::string>{"a_b", "a_b_2", "_SHAPE__2", "_1st", "x__y_", "_SHAPE_"}));
  for (const std::string& c : columns) EXPECT_NE(xml.find("<" + c + ">"), std::string::npos) << c;
  EXPECT_NE(xsd.find("<element name=\"_2024_links_x\" type=\"wfs:_2024_links_xType\""), std::string::npos);
  EXPECT_NE(xml.find("<gml:featureMember><_2024_links_x>"), std::string::npos);
  EXPECT_NE(xml.find("xmlns=\"https://kovra.invalid/gml/2024%20links%26x\""), std::string::npos);
  EXPECT_NE(xml.find("xsi:schemaLocation=\"https://kovra.invalid/gml/2024%20links%26x 2024%20links%26x.xsd\""),
            std::string::npos);
  EXPECT_NE(xsd.find("targetNamespace=\"https://kovra.invalid/gml/2024%20links%26x\""), std::string::npos);

  TOgrLayer l = ReadOgrLayer(base + ".xml", {{"GML"}, {}, "", true});
  ASSERT_EQ(l.FeatureCount, 1);
  ASSERT_EQ(l.Fields.size(), 5u);
  EXPECT_EQ(l.Fields[1].Name, "a_b_2");
  EXPECT_EQ(l.Fields[1].Type, "Integer");
  EXPECT_EQ(l.Value(0, "a_b"), "v ");
  EXPECT_EQ(l.Value(0, "x__y_"), "]]>");
  EXPECT_EQ(l.Features[0].Wkt, "MULTILINESTRING ((0 0,1 1))");
}

TEST(GmlWriter, LayerNamedLikeTheCollection) {
  TTempDir dir("kovra_gml");
  for (const char* name : {"Features", "features"}) {
    const std::string base = dir.File(name);
    TGISWriterGML2 w;
    w.FileName = base;
    w.StartHeader(1, otPoint);
    w.AddField("id", gfInteger, 0, 0);
    w.AddPoint(1, 2, "1");
    w.Close();
    const std::string xsd = ReadBytes(base + ".xsd");
    EXPECT_NE(xsd.find("<element name=\"" + std::string(name) + "_2\""), std::string::npos) << xsd;
    TOgrLayer l = ReadOgrLayer(base + ".xml", {{"GML"}, {}, "", true});
    EXPECT_EQ(l.FeatureCount, 1);
    EXPECT_EQ(l.Fields.size(), 1u);
  }
}

TEST(GmlWriter, EmptyLayerCloseThenDrop) {
  TTempDir dir("kovra_gml");
  const std::string base = dir.File("empty");
  TGISWriterGML2 w;
  w.FileName = base;
  w.StartHeader(1, otNone);
  w.AddField("id", gfInteger, 0, 0);
  w.Close();
  const std::string xml = ReadBytes(base + ".xml");
  EXPECT_EQ(xml.substr(0, 3), cBOM);
  EXPECT_NE(xml.find("<gml:X>0.00000000000000</gml:X><gml:Y>0.00000000000000</gml:Y></gml:coord><gml:coord>"
                     "<gml:X>0.00000000000000</gml:X>"),
            std::string::npos);
  EXPECT_EQ(xml.substr(xml.size() - 11), "</Features>");
  ExpectWellFormedXML(base + ".xml");
  ExpectWellFormedXML(base + ".xsd");
  EXPECT_EQ(ReadBytes(base + ".xsd").find("_SHAPE_"), std::string::npos);
  w.Drop();
  EXPECT_FALSE(std::filesystem::exists(base + ".xml"));
  EXPECT_FALSE(std::filesystem::exists(base + ".xsd"));
}

// ---------------------------------------------------------------------------
// A wrong attribute count raises before anything of the record is written:
// the layer, closed after the error, is still a whole document.

TEST(XmlWriters, WrongAttributeCountWritesNothing) {
  TTempDir dir("kovra_xmlcount");
  struct Case {
    const char* ext;
    std::function<std::unique_ptr<TGISWriter>()> make;
  } cases[] = {
      {".kml", [] { return std::make_unique<TGISWriterKML2>(); }},
      {".xml", [] { return std::make_unique<TGISWriterGML2>(); }},
      {".gpx", [] { return std::make_unique<TGISWriterGPX>(); }},
      {".geojson", [] { return std::make_unique<TGISWriterGeoJSON>(); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ext);
    for (TObjectTypes ot : {otPoint, otPline}) {
      const std::string base = dir.File(std::string("count") + (ot == otPoint ? "p" : "l"));
      auto w = c.make();
      w->FileName = base;
      w->StartHeader(2, ot);
      w->AddField("a", gfInteger, 0, 0);
      w->AddField("b", gfChar, 0, 0);
      auto record = [&](const std::string& attrib) {
        if (ot == otPoint)
          w->AddPoint(1, 2, attrib);
        else
          w->AddLine(1, 2, 3, 4, attrib);
      };
      record("1,x");
      EXPECT_THROW(record("1,x,y"), Exception);
      EXPECT_THROW(record("1"), Exception);
      record("2,y");
      EXPECT_EQ(w->WrittenRecords(), 2);
      w->Close();
      if (std::string(c.ext) == ".geojson")
        ExpectValidJSONFile(base + c.ext);
      else
        ExpectWellFormedXML(base + c.ext);
    }
  }
}

// ---------------------------------------------------------------------------
// GPX

TEST(GpxWriter, RegionTableRaisesBeforeAnyFile) {
  TTempDir dir("kovra_gpx");
  const std::string base = dir.File("areas");
  TGISWriterGPX w;
  w.FileName = base;
  try {
    w.StartHeader(1, otRegion);
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "GPX format do not support polygon output");
  }
  EXPECT_FALSE(std::filesystem::exists(base + ".gpx"));
  // A file of that name that the writer did not make stays.
  WriteBytes(base + ".gpx", "keep");
  w.Close();
  w.Drop();
  EXPECT_EQ(ReadBytes(base + ".gpx"), "keep");
}

TEST(GpxWriter, WaypointsGoldenBoundsAndExtensions) {
  TTempDir dir("kovra_gpx");
  const std::string base = dir.File("points");
  TGISWriterGPX w;
  w.FileName = base;
  w.StartHeader(5, otPoint);
  w.AddField("id", gfInteger, 0, 0);
  w.AddField("a b", gfChar, 0, 0);
  w.AddField("day", gfDate, 0, 0);
  w.AddField("at", gfDateTime, 0, 0);
  w.AddField("ok", gfLogical, 0, 0);
  w.AddPoint(10, 50, "1,\"x & <y>\",20210322,20210322101112123,Y");
  w.AddPoint(11, 51, "2,\"\",2021,1,0");  // short date texts stay as they are
  w.AddPoint(0.00005, 50.5, "3,z,20210322,20210322101112123,t");
  w.AddLine(1, 2, 3, 4, "4,x,1,1,1");  // no line in a point table
  EXPECT_EQ(w.WrittenRecords(), 3);
  w.Close();
  ExpectGolden(base + ".gpx", "points.gpx");
  ExpectWellFormedXML(base + ".gpx");
  const std::string gpx = ReadBytes(base + ".gpx");
  EXPECT_NE(gpx.find("<bounds minlon=\"0.00005000000000\" minlat=\"50.0000000000000\" "
                     "maxlon=\"11.0000000000000\" maxlat=\"51.0000000000000\"/>"),
            std::string::npos);
  EXPECT_NE(gpx.find("<wpt lon=\"0.00005\" lat=\"50.5\">"), std::string::npos);

  TOgrLayer l = ReadOgrLayer(base + ".gpx", {{"GPX"}, {"USE_EXTENSIONS=YES"}, "waypoints", true});
  ASSERT_EQ(l.FeatureCount, 3);
  EXPECT_EQ(l.Value(0, "kovra4_id"), "1");
  EXPECT_EQ(l.Value(0, "kovra4_a_b"), "x & <y>");
  EXPECT_EQ(l.Value(0, "kovra4_day"), "2021-03-22");
  EXPECT_EQ(l.Value(0, "kovra4_at"), "2021-03-22T10:11:12.123");
  EXPECT_EQ(l.Value(0, "kovra4_ok"), "True");
  EXPECT_EQ(l.Value(1, "kovra4_ok"), "False");
  EXPECT_EQ(l.Value(1, "kovra4_day"), "2021");
  EXPECT_EQ(l.Features[0].Wkt, "POINT (10 50)");
  EXPECT_EQ(l.Features[2].Wkt, "POINT (5e-05 50.5)");
}

TEST(GpxWriter, BoundsAreDecimalsWithoutExponent) {
  TTempDir dir("kovra_gpx");
  TGISWriterGPX w;
  w.FileName = dir.File("tiny");
  w.StartHeader(1, otPoint);
  w.AddField("id", gfInteger, 0, 0);
  w.AddPoint(0.00001, -2.5e-7, "1");
  w.AddPoint(2, 3, "2");
  w.Close();
  ExpectWellFormedXML(w.FileName + ".gpx");
  const std::string gpx = ReadBytes(w.FileName + ".gpx");
  EXPECT_NE(gpx.find("<bounds minlon=\"0.00001000000000\" minlat=\"-0.0000002500000\" "
                     "maxlon=\"2.00000000000000\" maxlat=\"3.00000000000000\"/>"),
            std::string::npos)
      << gpx;
  EXPECT_EQ(ReadOgrLayer(w.FileName + ".gpx", {{"GPX"}, {}, "waypoints", true}).FeatureCount, 2);
}

TEST(GpxWriter, RoutesOfOnePart) {
  TTempDir dir("kovra_gpx");
  const std::string base = dir.File("lines");
  TGISWriterGPX w;
  w.FileName = base;
  w.StartHeader(1, otPline);
  w.AddField("id", gfInteger, 0, 0);
  w.AddObject(2, false, "1");  // two parts: nothing, not counted
  Section(w, 0, {{0, 0}, {1, 1}});
  Section(w, 0, {{5, 5}, {6, 6}});
  w.AddObject(0, false, "2");  // no geometry: nothing
  w.AddObject(1, false, "3");
  Section(w, 0, {{1, 2}, {3, 4}, {5, 6}});
  EXPECT_EQ(w.WrittenRecords(), 1);
  // Parts that chain end to start join into one: a route.
  w.SetOptimizePLinesSections(true);
  w.AddObject(2, false, "4");
  Section(w, 0, {{7, 8}, {9, 10}});
  Section(w, 0, {{9, 10}, {11, 12}});
  EXPECT_EQ(w.WrittenRecords(), 2);
  w.Close();
  ExpectWellFormedXML(base + ".gpx");
  const std::string gpx = ReadBytes(base + ".gpx");
  EXPECT_NE(gpx.find("<rte>\r\n  <extensions>\r\n    <kovra4:id>3</kovra4:id>\r\n  </extensions>\r\n"
                     "  <rtept lon=\"1\" lat=\"2\">\r\n  </rtept>\r\n"),
            std::string::npos);
  EXPECT_NE(gpx.find("minlon=\"1.00000000000000\" minlat=\"2.00000000000000\" maxlon=\"11.0000000000000\" "
                     "maxlat=\"12.0000000000000\""),
            std::string::npos);
  EXPECT_EQ(gpx.substr(gpx.size() - 6), "</gpx>");
  TOgrLayer l = ReadOgrLayer(base + ".gpx", {{"GPX"}, {"USE_EXTENSIONS=YES"}, "routes", true});
  ASSERT_EQ(l.FeatureCount, 2);
  EXPECT_EQ(l.Value(0, "kovra4_id"), "3");
  EXPECT_EQ(l.Features[0].Wkt, "LINESTRING (1 2,3 4,5 6)");
  EXPECT_EQ(l.Value(1, "kovra4_id"), "4");
  EXPECT_EQ(l.Features[1].Wkt, "LINESTRING (7 8,9 10,11 12)");
}

TEST(GpxWriter, EmptyLayerCloseThenDrop) {
  TTempDir dir("kovra_gpx");
  const std::string base = dir.File("none");
  TGISWriterGPX w;
  w.FileName = base;
  w.StartHeader(1, otNone);
  w.AddField("id", gfInteger, 0, 0);
  w.AddObject(0, false, "1");
  w.AddPoint(1, 2, "2");
  EXPECT_EQ(w.WrittenRecords(), 0);
  w.Close();
  const std::string gpx = ReadBytes(base + ".gpx");
  EXPECT_EQ(gpx.substr(0, 3), cBOM);
  EXPECT_NE(gpx.find("minlon=\"0.00000000000000\" minlat=\"0.00000000000000\""), std::string::npos);
  ExpectWellFormedXML(base + ".gpx");
  w.Drop();
  EXPECT_FALSE(std::filesystem::exists(base + ".gpx"));
}

// ---------------------------------------------------------------------------
// GeoJSON

// Writes a layer into memory and returns the text.
std::string GeoJSONText(const std::function<void(TGISWriterGeoJSON&)>& Write, int32_t Epsg = 4326) {
  TGISWriterGeoJSON w;
  w.epsg = Epsg;
  Write(w);
  w.Close();
  return w.GeoJSON;
}

void OneColumn(TGISWriter& w, TObjectTypes ot, TGISField f = gfInteger, const std::string& name = "n") {
  w.StartHeader(1, ot);
  w.AddField(name, f, 0, 0);
}

TEST(GeoJSONWriter, ExactTexts) {
  const std::string head = "{\"type\":\"FeatureCollection\",\"features\":[";
  const std::string f1 = "{\"type\":\"Feature\",\"properties\":{\"n\":1},\"geometry\":";
  struct Case {
    const char* what;
    std::function<void(TGISWriterGeoJSON&)> write;
    std::string text;
    int32_t epsg = 4326;
  } cases[] = {
      {"empty", [](TGISWriterGeoJSON& w) { OneColumn(w, otPoint); }, head + "]}"},
      {"crs",
       [](TGISWriterGeoJSON& w) { OneColumn(w, otPoint); },
       "{\"type\":\"FeatureCollection\",\"crs\":{\"type\":\"name\",\"properties\":{\"name\":\"EPSG:27700\"}},"
       "\"features\":[]}",
       27700},
      {"two points",
       [](TGISWriterGeoJSON& w) {
         OneColumn(w, otPoint);
         w.AddPoint(1, 2, "1");
         w.AddPoint(-0.5, 1e-5, "2");
       },
       head + f1 + "{\"type\":\"Point\",\"coordinates\":[1,2]}}," +
           "{\"type\":\"Feature\",\"properties\":{\"n\":2},\"geometry\":{\"type\":\"Point\",\"coordinates\":"
           "[-0.5,1E-5]}}]}"},
      {"point in a line table",
       [](TGISWriterGeoJSON& w) {
         OneColumn(w, otPline);
         w.AddPoint(1, 2, "1");
       },
       head + f1 + "{\"type\":\"Point\",\"coordinates\":[1,2]}}]}"},
      {"LineString",
       [](TGISWriterGeoJSON& w) {
         OneColumn(w, otPline);
         w.AddLine(1, 2, 3, 4, "1");
       },
       head + f1 + "{\"type\":\"LineString\",\"coordinates\":[[1,2],[3,4]]}}]}"},
      {"MultiLineString",
       [](TGISWriterGeoJSON& w) {
         OneColumn(w, otPline);
         w.AddObject(2, false, "1");
         Section(w, 0, {{1, 2}, {3, 4}});
         Section(w, 0, {{5, 6}, {7, 8}});
       },
       head + f1 + "{\"type\":\"MultiLineString\",\"coordinates\":[[[1,2],[3,4]],[[5,6],[7,8]]]}}]}"},
      {"Polygon",
       [](TGISWriterGeoJSON& w) {
         OneColumn(w, otRegion);
         w.AddObject(1, false, "1");
         Section(w, 0, cHole);
       },
       head + f1 + "{\"type\":\"Polygon\",\"coordinates\":[[[2,2],[3,2],[3,3],[2,2]]]}}]}"},
      {"Polygon with hole",
       [](TGISWriterGeoJSON& w) {
         OneColumn(w, otRegion);
         w.AddObject(2, false, "1");
         Section(w, 0, cOuter);
         Section(w, 1, cHole);
       },
       head + f1 +
           "{\"type\":\"Polygon\",\"coordinates\":[[[0,0],[10,0],[10,10],[0,10],[0,0]],"
           "[[2,2],[3,2],[3,3],[2,2]]]}}]}"},
      {"MultiPolygon",
       [](TGISWriterGeoJSON& w) {
         OneColumn(w, otRegion);
         w.AddObject(3, true, "1");
         Section(w, 0, cOuter);
         Section(w, 1, cHole);
         Section(w, -1, cOuter2);
       },
       head + f1 +
           "{\"type\":\"MultiPolygon\",\"coordinates\":[[[[0,0],[10,0],[10,10],[0,10],[0,0]],"
           "[[2,2],[3,2],[3,3],[2,2]]],[[[20,20],[30,20],[30,30],[20,20]]]]}}]}"},
      {"declared multi-polygon of one part",
       [](TGISWriterGeoJSON& w) {
         OneColumn(w, otRegion);
         w.AddObject(1, true, "1");
         Section(w, 0, cHole);
       },
       head + f1 + "{\"type\":\"MultiPolygon\",\"coordinates\":[[[[2,2],[3,2],[3,3],[2,2]]]]}}]}"},
      {"null geometry",
       [](TGISWriterGeoJSON& w) {
         OneColumn(w, otRegion);
         w.AddObject(0, false, "1");
       },
       head + f1 + "null}]}"},
      {"values by type",
       [](TGISWriterGeoJSON& w) {
         w.StartHeader(7, otNone);
         w.AddField("t", gfLogical, 0, 0);
         w.AddField("f", gfLogical, 0, 0);
         w.AddField("d", gfDate, 0, 0);
         w.AddField("e", gfDate, 0, 0);
         w.AddField("h", gfTime, 0, 0);
         w.AddField("dt", gfDateTime, 0, 0);
         w.AddField("s", gfChar, 0, 0);
         w.AddObject(0, false, "T,x,20210322,\"\",101112123,20210322101112123,\"\xC3\xA9\n\xF0\x9F\x98\x80\"");
       },
       head +
           "{\"type\":\"Feature\",\"properties\":{\"t\":\"true\",\"f\":\"false\",\"d\":\"2021-03-22\","
           "\"e\":\"--\",\"h\":\"10:11:12.123\",\"dt\":\"2021-03-22T10:11:12.123\","
           "\"s\":\"\\u00E9\\n\\uD83D\\uDE00\"},\"geometry\":null}]}"},
      {"number cells",
       [](TGISWriterGeoJSON& w) {
         w.StartHeader(8, otNone);
         const char* names[8] = {"a", "b", "c", "d", "e", "f", "g", "h"};
         const TGISField types[8] = {gfInteger, gfSmallInt, gfDecimal, gfFloat,
                                     gfInt64,   gfInteger,  gfFloat,   gfDecimal};
         for (int i = 0; i < 8; ++i) w.AddField(names[i], types[i], 0, 0);
         w.AddObject(0, false, "\"\",007,+5,1.,NaN,12,-0.5,1E38");
       },
       head +
           "{\"type\":\"Feature\",\"properties\":{\"a\":null,\"b\":null,\"c\":null,\"d\":null,\"e\":null,"
           "\"f\":12,\"g\":-0.5,\"h\":1E38},\"geometry\":null}]}"},
      {"property names",
       [](TGISWriterGeoJSON& w) { OneColumn(w, otNone, gfChar, "say \"hi\"/\\"); },
       head + "]}"},
  };
  TTempDir dir("kovra_geojson");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string text = GeoJSONText(c.write, c.epsg);
    EXPECT_EQ(text, c.text);
    ExpectValidJSONText(dir, text);
  }
  // The property name in a feature.
  const std::string named = GeoJSONText([](TGISWriterGeoJSON& w) {
    OneColumn(w, otNone, gfChar, "say \"hi\"");
    w.AddObject(0, false, "x");
  });
  EXPECT_EQ(named, head + "{\"type\":\"Feature\",\"properties\":{\"say \\\"hi\\\"\":\"x\"},\"geometry\":null}]}");
  ExpectValidJSONText(dir, named);
}

TEST(GeoJSONWriter, UndeclaredPolygonsRaise) {
  TGISWriterGeoJSON w;
  OneColumn(w, otRegion);
  w.AddObject(3, false, "1");
  Section(w, 0, cOuter);
  Section(w, 1, cHole);
  auto part = Part(cOuter2);
  try {
    w.AddSection(0, part);
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Region record with several polygons must be declared multiPolygon");
  }
  // Close finishes the collection without the refused record, then reports it.
  try {
    w.Close();
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Record 1 is not in the output: 1 of its 3 parts were not written");
  }
  // Nothing of the refused part was written.
  EXPECT_EQ(w.GeoJSON.find("[20,20]"), std::string::npos);
  EXPECT_EQ(w.GeoJSON, "{\"type\":\"FeatureCollection\",\"features\":[]}");
}

TEST(GeoJSONWriter, FileSinkDropAndInMemoryText) {
  TTempDir dir("kovra_geojson");
  const std::string base = dir.File("layer");
  {
    TGISWriterGeoJSON w;
    w.FileName = base;
    w.epsg = 27700;
    OneColumn(w, otRegion, gfChar, "name");
    w.AddObject(2, false, "\"a \"\"b\"\"\"");
    Section(w, 0, cOuter);
    Section(w, 1, cHole);
    w.Close();
    EXPECT_TRUE(w.GeoJSON.empty());
    const std::string text = ReadBytes(base + ".geojson");
    EXPECT_EQ(text.substr(0, 1), "{");  // no byte-order mark
    ExpectValidJSONFile(base + ".geojson");
    TOgrLayer l = ReadOgrLayer(base + ".geojson", {{"GeoJSON"}, {}, "", true});
    ASSERT_EQ(l.FeatureCount, 1);
    EXPECT_EQ(l.Epsg, 27700);
    EXPECT_EQ(l.Value(0, "name"), "a \"b\"");
    EXPECT_EQ(l.Features[0].Wkt, "POLYGON ((0 0,10 0,10 10,0 10,0 0),(2 2,3 2,3 3,2 2))");
    w.Drop();
    EXPECT_FALSE(std::filesystem::exists(base + ".geojson"));
  }
  {
    // Drop without Close removes the file as well.
    TGISWriterGeoJSON w;
    w.FileName = base;
    OneColumn(w, otPoint);
    w.AddPoint(1, 2, "1");
    w.Drop();
    EXPECT_FALSE(std::filesystem::exists(base + ".geojson"));
  }
  {
    TGISWriterGeoJSON w;
    OneColumn(w, otPoint);
    w.Close();
    w.Drop();
    EXPECT_EQ(w.GeoJSON, "{\"type\":\"FeatureCollection\",\"features\":[]}");
  }
}

// ---------------------------------------------------------------------------
// Seeded random texts through all four writers: every file stays well-formed
// XML or valid JSON, and GDAL reads every record back.

class TRandomText {
public:
  explicit TRandomText(uint32_t Seed) : FGen(Seed) {}
  int Int(int n) { return int(FGen() % uint32_t(n)); }
  // Pieces that break naive writers: quotes, commas, CDATA ends, control
  // characters, characters beyond the BMP, invalid UTF-8, almost-numbers.
  std::string Text(int MaxPieces) {
    static const std::vector<std::string> pieces = {
        "\"", ",", "]]>", "<", ">", "&", "'", "\x01", "\x1F", "\t", "\n", "\r", "\x7F", "\xF0\x9F\x98\x80",
        "\xC3\xA9", "\xFF", "\xED\xA0\x80", "\xEF\xBF\xBE", "007", "+5", "1.", "NaN", "1E38", "-0.5", "12", " ",
        "abc", "\\", "/", "]]", "--", "x:y", "\xE9\x81\x93", std::string("\0", 1)};
    std::string out;
    const int n = Int(MaxPieces + 1);
    for (int i = 0; i < n; ++i) out += pieces[size_t(Int(int(pieces.size())))];
    return out;
  }
  // A value in the comma text: quoted, inner quotes doubled.
  std::string Quoted(const std::string& v) {
    std::string out = "\"";
    for (char c : v) {
      if (c == '"') out += '"';
      out += c;
    }
    return out + "\"";
  }

private:
  std::mt19937 FGen;
};

TEST(XmlWriters, SeededRandomTextsStayWellFormed) {
  TTempDir dir("kovra_xmlrandom");
  TRandomText rnd(20241210);
  struct Writer {
    const char* ext;
    std::function<std::unique_ptr<TGISWriter>()> make;
    std::vector<TObjectTypes> kinds;
  } writers[] = {
      {".kml", [] { return std::make_unique<TGISWriterKML2>(); }, {otRegion, otPline, otPoint}},
      {".xml", [] { return std::make_unique<TGISWriterGML2>(); }, {otRegion, otPline, otPoint}},
      {".gpx", [] { return std::make_unique<TGISWriterGPX>(); }, {otPline, otPoint}},
      {".geojson", [] { return std::make_unique<TGISWriterGeoJSON>(); }, {otRegion, otPline, otPoint}},
  };
  const TGISField types[] = {gfChar,    gfInteger, gfSmallInt, gfDecimal, gfFloat,
                             gfDate,    gfLogical, gfTime,     gfDateTime, gfInt64};
  int layer = 0;
  for (const auto& wr : writers) {
    for (TObjectTypes ot : wr.kinds) {
      SCOPED_TRACE(std::string(wr.ext) + " kind " + std::to_string(int(ot)));
      // A random layer name (no folder separator) in a folder of its own.
      std::string name = rnd.Text(4);
      name.erase(std::remove(name.begin(), name.end(), '/'), name.end());
      name.erase(std::remove(name.begin(), name.end(), '\0'), name.end());
      const std::filesystem::path folder = dir.Path / std::to_string(layer++);
      std::filesystem::create_directories(folder);
      const std::string base = (folder / ("L" + name)).string();
      auto w = wr.make();
      w->FileName = base;
      const int32_t numFields = 1 + rnd.Int(6);
      w->StartHeader(numFields, ot);
      for (int32_t i = 0; i < numFields; ++i) w->AddField(rnd.Text(3), types[rnd.Int(10)], 0, 0);
      const int records = ot == otPoint ? 250 : 125;
      for (int r = 0; r < records; ++r) {
        std::string attrib;
        for (int32_t i = 0; i < numFields; ++i) {
          if (i > 0) attrib += ',';
          attrib += rnd.Quoted(rnd.Text(5));
        }
        const double x = (rnd.Int(2000001) - 1000000) / 1e4, y = (rnd.Int(1800001) - 900000) / 1e4;
        if (ot == otPoint) {
          w->AddPoint(x, y, attrib);
        } else if (ot == otPline) {
          const int parts = wr.ext == std::string(".gpx") ? 1 : 1 + rnd.Int(3);
          w->AddObject(parts, false, attrib);
          for (int p = 0; p < parts; ++p) Section(*w, 0, {{x, y}, {x + 1, y + 0.5}, {x + 2e-5, y - 3}});
        } else {
          const int polygons = 1 + rnd.Int(2);
          w->AddObject(2 * polygons, polygons > 1, attrib);
          for (int p = 0; p < polygons; ++p) {
            const double ox = x + 20 * p;
            Section(*w, 0, {{ox, y}, {ox + 10, y}, {ox + 10, y + 10}, {ox, y + 10}, {ox, y}});
            Section(*w, 1, {{ox + 2, y + 2}, {ox + 3, y + 2}, {ox + 3, y + 3}, {ox + 2, y + 2}});
          }
        }
      }
      w->Close();
      const std::string file = base + wr.ext;
      if (wr.ext == std::string(".geojson")) {
        ExpectValidJSONFile(file);
      } else {
        ExpectWellFormedXML(file);
        if (wr.ext == std::string(".xml")) ExpectWellFormedXML(base + ".xsd");
      }
      TOgrReadOptions options;
      if (wr.ext == std::string(".gpx")) {
        options.OpenOptions = {"USE_EXTENSIONS=YES"};
        options.LayerName = ot == otPoint ? "waypoints" : "routes";
      }
      // Values that do not fit their column type may draw warnings, never failures.
      TOgrLayer l = ReadOgrLayer(file, options);
      EXPECT_EQ(l.FeatureCount, records);
    }
  }
}

// ---------------------------------------------------------------------------
// A file that cannot be created raises from StartHeader; Close and Drop after
// it neither write nor delete anything, and records raise instead of crashing.

TEST(XmlWriters, FileThatCannotBeCreated) {
  TTempDir dir("kovra_xmlcreate");
  const std::string base = dir.File("missing/folder/layer");
  struct Case {
    const char* what;
    std::function<std::unique_ptr<TGISWriter>()> make;
  } cases[] = {
      {"KML", [] { return std::make_unique<TGISWriterKML2>(); }},
      {"GML", [] { return std::make_unique<TGISWriterGML2>(); }},
      {"GPX", [] { return std::make_unique<TGISWriterGPX>(); }},
      {"GeoJSON", [] { return std::make_unique<TGISWriterGeoJSON>(); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto w = c.make();
    w->FileName = base;
    EXPECT_THROW(w->StartHeader(1, otPoint), EFCreateError);
    EXPECT_THROW(w->AddPoint(1, 2, "1"), Exception);
    w->Close();
    w->Drop();
    EXPECT_EQ(w->WrittenRecords(), 0);
  }
}

}  // namespace
