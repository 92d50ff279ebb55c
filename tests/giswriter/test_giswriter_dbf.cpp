// DBF and shapefile writers: header and record bytes, field types and
// overflow marks, shapefile records against their index, and read-back
// through GDAL, shapelib's dumpers and python.
#include <gtest/gtest.h>

#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>

#include "foundation/kovra_functions.h"
#include "foundation/kovra_random.h"
#include "giswriter/kovra_giswriter.h"
#include "giswriter/kovra_giswriter_dbf.h"
#include "support/gdal_readback.h"
#include "support/test_files.h"
#include "support/test_raises.h"
#include "support/test_parts.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

uint32_t BE32(const std::string& b, size_t at) {
  return uint32_t(uint8_t(b[at])) << 24 | uint32_t(uint8_t(b[at + 1])) << 16 | uint32_t(uint8_t(b[at + 2])) << 8 |
         uint32_t(uint8_t(b[at + 3]));
}
uint32_t LE32(const std::string& b, size_t at) {
  uint32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}
uint16_t LE16(const std::string& b, size_t at) {
  uint16_t v;
  std::memcpy(&v, b.data() + at, 2);
  return v;
}
double LEDouble(const std::string& b, size_t at) {
  double v;
  std::memcpy(&v, b.data() + at, 8);
  return v;
}

TDBFHeaderDate NinthOfDecember2026() { return TDBFHeaderDate{2026, 12, 9}; }

// Pins the header date for the lifetime of the test.
class DBFWriterTest : public ::testing::Test {
protected:
  void SetUp() override { FOld = SetDBFDateSource(&NinthOfDecember2026); }
  void TearDown() override { SetDBFDateSource(FOld); }
  TTempDir Dir{"kovra_dbf"};

private:
  TDBFDateSource FOld = nullptr;
};

// Byte offset of record Rec (0-based) and its field starting at FieldOffset.
std::string FieldBytes(const std::string& dbf, int Rec, int FieldOffset, int Width) {
  const uint16_t headerLength = LE16(dbf, 8), recordLength = LE16(dbf, 10);
  return dbf.substr(size_t(headerLength) + size_t(Rec) * recordLength + 1 + size_t(FieldOffset), size_t(Width));
}

// Exposes the size seam of the limits.
template <typename Writer>
class TSeam : public Writer {
public:
  void SetSizeBias(uint64_t Bytes) { this->FSizeBias = Bytes; }
  void SetRecordCount(uint32_t Count) { this->FNumRec = Count; }
};
using TSeamSHP = TSeam<TGISWriterSHP>;

bool Exists(const std::string& n) { return std::filesystem::exists(n); }

}  // namespace

// ---------------------------------------------------------------------------
// Header

TEST_F(DBFWriterTest, HeaderBytes) {
  struct Case {
    const char* name;
    uint16_t codepage;
    uint8_t ldid;
    int records;
  };
  const Case cases[] = {{"cp1252", 1252, 0x03, 3}, {"cp1257", 1257, 0x00, 0}, {"cp1251", 1251, 0xC9, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TGISWriterDBF w;
    w.FileName = Dir.File(c.name);
    w.SetCodepage(c.codepage);
    w.StartHeader(3, otNone);
    w.AddField("ID", gfInteger, 0, 0);
    w.AddField("NAME", gfChar, 20, 0);
    w.AddField("OK", gfLogical, 0, 0);
    for (int i = 0; i < c.records; ++i) w.AddObject(0, false, std::to_string(i) + " abc y");
    w.Close();
    const std::string b = ReadBytes(w.FileName + ".dbf");
    const size_t headerLength = 32 * 3 + 33, recordLength = 1 + 11 + 20 + 1;
    ASSERT_EQ(b.size(), headerLength + recordLength * size_t(c.records) + 1);
    EXPECT_EQ(uint8_t(b[0]), 3);
    EXPECT_EQ(uint8_t(b[1]), 126);
    EXPECT_EQ(uint8_t(b[2]), 12);
    EXPECT_EQ(uint8_t(b[3]), 9);
    EXPECT_EQ(LE32(b, 4), uint32_t(c.records));
    EXPECT_EQ(LE16(b, 8), headerLength);
    EXPECT_EQ(LE16(b, 10), recordLength);
    EXPECT_EQ(b.substr(12, 17), std::string(17, '\0'));
    EXPECT_EQ(uint8_t(b[29]), c.ldid);
    EXPECT_EQ(b.substr(30, 2), std::string(2, '\0'));
    EXPECT_EQ(uint8_t(b[headerLength - 1]), 0x0D);
    EXPECT_EQ(uint8_t(b.back()), 0x1A);
    for (int i = 0; i < c.records; ++i) EXPECT_EQ(b[headerLength + size_t(i) * recordLength], ' ');
    EXPECT_EQ(w.WrittenRecords(), c.records);
  }
}

TEST_F(DBFWriterTest, EmptyLayerKeepsTheSentinelBox) {
  TGISWriterSHP w;
  w.FileName = Dir.File("empty");
  w.StartHeader(2, otPline);
  w.AddField("A", gfInteger, 0, 0);
  w.AddField("B", gfChar, 5, 0);
  w.Close();
  const std::string dbf = ReadBytes(w.FileName + ".dbf");
  EXPECT_EQ(dbf.size(), 32u * 2 + 34);
  EXPECT_EQ(LE32(dbf, 4), 0u);
  for (const char* ext : {".shp", ".shx"}) {
    SCOPED_TRACE(ext);
    const std::string b = ReadBytes(w.FileName + ext);
    ASSERT_EQ(b.size(), 100u);
    EXPECT_EQ(b.substr(0, 4), std::string("\x00\x00\x27\x0A", 4));
    EXPECT_EQ(BE32(b, 24), 50u);
    EXPECT_EQ(LE32(b, 28), 1000u);
    EXPECT_EQ(LE32(b, 32), 3u);
    EXPECT_EQ(LEDouble(b, 36), double(cInfinity));
    EXPECT_EQ(LEDouble(b, 44), double(cInfinity));
    EXPECT_EQ(LEDouble(b, 52), -double(cInfinity));
    EXPECT_EQ(LEDouble(b, 60), -double(cInfinity));
    for (size_t at = 68; at < 100; at += 8) EXPECT_EQ(LEDouble(b, at), 0.0);
  }
  // GDAL and shapelib open the empty layer.
  TOgrLayer layer = ReadOgrLayer(w.FileName + ".shp");
  EXPECT_EQ(layer.FeatureCount, 0);
  EXPECT_EQ(layer.Fields.size(), 2u);
  std::string out;
  EXPECT_EQ(RunCommand("shpdump '" + w.FileName + ".shp' 2>&1", &out), 0);
  EXPECT_NE(out.find("# of Shapes: 0"), std::string::npos) << out;
  EXPECT_EQ(RunCommand("dbfdump '" + w.FileName + ".dbf' 2>&1", &out), 0);
}

// ---------------------------------------------------------------------------
// Field types

TEST_F(DBFWriterTest, EveryFieldType) {
  struct Case {
    const char* name;
    TGISField field;
    uint8_t width, decimals;
    const char* value;
    char letter;
    uint8_t tableWidth, tableDecimals;
    std::string bytes;
  };
  const Case cases[] = {
      {"CHAR", gfChar, 6, 0, "abc", 'C', 6, 0, "abc   "},
      {"CHARCUT", gfChar, 3, 0, "abcdef", 'C', 3, 0, "abc"},
      {"CHAR255", gfChar, 255, 0, "x", 'C', 254, 0, "x" + std::string(253, ' ')},
      {"CHAR0", gfChar, 0, 0, "y", 'C', 254, 0, "y" + std::string(253, ' ')},
      {"INT", gfInteger, 3, 2, "-42", 'N', 11, 0, "        -42"},
      {"SMALL", gfSmallInt, 0, 0, "123", 'N', 6, 0, "   123"},
      {"BIG", gfInt64, 0, 0, "9007199254740993", 'N', 20, 0, "    9007199254740993"},
      {"DEC", gfDecimal, 8, 2, "-3.14159", 'N', 8, 2, "   -3.14"},
      {"DECTEXT", gfDecimal, 6, 1, "abc", 'N', 6, 1, "   0.0"},
      {"FLOAT", gfFloat, 0, 0, "3.14159", 'N', 20, 8, "          3.14159000"},
      {"FLOATE", gfFloat, 12, 3, "2.5e3xyz", 'N', 12, 3, "    2500.000"},
      {"DATE", gfDate, 0, 0, "20261209", 'D', 8, 0, "20261209"},
      {"DATE7", gfDate, 0, 0, "2026129", 'D', 8, 0, "        "},
      {"LOGYES", gfLogical, 0, 0, "Yes", 'L', 1, 0, "T"},
      {"LOGEMPTY", gfLogical, 0, 0, "", 'L', 1, 0, "F"},
      {"LOGNO", gfLogical, 0, 0, "no", 'L', 1, 0, "F"},
      {"TIME", gfTime, 0, 0, "123456789", 'C', 9, 0, "123456789"},
      {"TIMEBAD", gfTime, 0, 0, "1234", 'C', 9, 0, "         "},
      {"DATETIME", gfDateTime, 0, 0, "20261209123456789", 'C', 17, 0, "20261209123456789"},
      {"ABCDEFGHIJKL", gfInteger, 0, 0, "7", 'N', 11, 0, "          7"},
  };
  const int n = int(std::size(cases));
  TGISWriterDBF w;
  w.FileName = Dir.File("types");
  w.StartHeader(n, otPline);
  std::string attrib;
  for (const Case& c : cases) {
    w.AddField(c.name, c.field, c.width, c.decimals);
    attrib += (attrib.empty() ? "\"" : ",\"") + std::string(c.value) + "\"";
  }
  w.AddObject(0, false, attrib);
  // Width and decimals of the table replace the declared ones.
  for (int i = 0; i < n; ++i) {
    EXPECT_EQ(w.FieldInfo()[size_t(i) + 1].Width, cases[i].tableWidth) << cases[i].name;
    EXPECT_EQ(w.FieldInfo()[size_t(i) + 1].decimals, cases[i].tableDecimals) << cases[i].name;
  }
  w.Close();

  const std::string b = ReadBytes(w.FileName + ".dbf");
  int offset = 0;
  for (int i = 0; i < n; ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.name);
    const std::string d = b.substr(32 * size_t(i + 1), 32);
    std::string name(c.name);
    name = name.substr(0, 10);
    EXPECT_EQ(d.substr(0, 11), name + std::string(11 - name.size(), '\0'));
    EXPECT_EQ(d[11], c.letter);
    EXPECT_EQ(uint8_t(d[16]), c.tableWidth);
    EXPECT_EQ(uint8_t(d[17]), c.tableDecimals);
    EXPECT_EQ(d.substr(12, 4), std::string(4, '\0'));
    EXPECT_EQ(d.substr(18), std::string(14, '\0'));
    EXPECT_EQ(FieldBytes(b, 0, offset, c.tableWidth), c.bytes);
    offset += c.tableWidth;
  }
  EXPECT_EQ(LE16(b, 10), offset + 1);

  // GDAL reads the table with these types and values.
  TOgrLayer layer = ReadOgrLayer(w.FileName + ".dbf");
  ASSERT_EQ(layer.Features.size(), 1u);
  EXPECT_EQ(layer.Value(0, "CHAR"), "abc");
  EXPECT_EQ(layer.Value(0, "INT"), "-42");
  EXPECT_EQ(layer.Value(0, "SMALL"), "123");
  EXPECT_EQ(layer.Value(0, "DEC"), "-3.14");
  EXPECT_EQ(std::stod(layer.Value(0, "FLOAT")), 3.14159);
  EXPECT_EQ(layer.Value(0, "DATE"), "2026/12/09");
  EXPECT_EQ(layer.Value(0, "LOGYES"), "T");
  EXPECT_EQ(layer.Value(0, "ABCDEFGHIJ"), "7");
  EXPECT_EQ(layer.Fields[size_t(layer.FieldIndex("DATE"))].Type, "Date");
  EXPECT_EQ(layer.Value(0, "LOGEMPTY"), "F");
}

TEST(DBFNumber, OverflowNeverWritesAnotherNumber) {
  struct Case {
    int width, decimals;
    double value;
    std::string text;
  };
  const Case cases[] = {
      // E-notation only in full: a mantissa rounded to fit is another number.
      {20, 8, double(cInfinity), "9.999999680285692E37"},
      {20, 8, 1e38, "                1E38"},
      {20, 8, -double(cInfinity), "********************"},
      {19, 8, -double(cInfinity), "*******************"},
      {10, 2, 1.23456789e15, "**********"},
      {8, 2, 123456789.5, "********"},
      {8, 2, 1.5e20, "  1.5E20"},
      {5, 1, 123456.0, "*****"},
      {4, 1, -123456.0, "****"},
      {3, 1, -123456.0, "***"},
      {3, 0, 12345.0, "***"},
      {11, 0, 1e12, "***********"},
      {8, 2, -3.14159, "   -3.14"},
      {20, 8, 0.5, "          0.50000000"},
      {20, 8, 1e-30, "          0.00000000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string out(size_t(c.width), '#');
    FormatDBFField(out.data(), c.width, c.decimals, c.value);
    EXPECT_EQ(out, c.text);
    // A value that fits is exactly the plain fixed formatting.
    std::string plain(size_t(c.width), '#');
    if (FormatDBFNumber(plain.data(), c.width, c.decimals, c.value) <= c.width) {
      EXPECT_EQ(out, plain);
    }
  }
  // Seeded values of every magnitude: an E-notation field reads back as the
  // value itself, or the field is NULL.
  TRandom random;
  random.SetSeed(7);
  for (int i = 0; i < 2000; ++i) {
    const double value = (random.NextDouble() - 0.5) * std::pow(10.0, random.NextInt(60) - 10);
    const int width = 5 + random.NextInt(16);
    std::string out(size_t(width), '#');
    FormatDBFField(out.data(), width, 2, value);
    const std::string text = out.substr(out.find_first_not_of(' '));
    if (text.find('E') == std::string::npos) continue;
    double back = 0;
    std::from_chars(text.data(), text.data() + text.size(), back);
    EXPECT_EQ(back, value) << text;
  }
}

TEST_F(DBFWriterTest, OverflowFieldsReadAsValueOrNull) {
  struct Case {
    const char* name;
    TGISField field;
    uint8_t width, decimals;
    const char* value;
    std::string bytes;
    bool isNull;
    double expect;
  };
  const Case cases[] = {
      {"COST", gfFloat, 0, 0, "9.99999968028569E37", " 9.99999968028569E37", false, 9.99999968028569e37},
      {"DEC30", gfDecimal, 3, 0, "12345", "***", true, 0},
      {"SMALL", gfSmallInt, 0, 0, "1234567", "******", true, 0},
      {"INT", gfInteger, 0, 0, "123456789012", "***********", true, 0},
      {"HUGE", gfFloat, 0, 0, "1e400", "********************", true, 0},
      {"FITS", gfDecimal, 8, 3, "-12.5", " -12.500", false, -12.5},
  };
  TGISWriterDBF w;
  w.FileName = Dir.File("overflow");
  w.StartHeader(int(std::size(cases)), otNone);
  std::string attrib;
  for (const Case& c : cases) {
    w.AddField(c.name, c.field, c.width, c.decimals);
    attrib += (attrib.empty() ? "" : ",") + std::string(c.value);
  }
  w.AddObject(0, false, attrib);
  w.Close();
  const std::string b = ReadBytes(w.FileName + ".dbf");
  TOgrLayer layer = ReadOgrLayer(w.FileName + ".dbf");
  ASSERT_EQ(layer.Features.size(), 1u);
  // shapelib: "NAME: value" lines, reformatted (NULL for the overflow mark) and raw.
  auto dumpLines = [&](const std::string& options) {
    std::string out;
    EXPECT_EQ(RunCommand("dbfdump " + options + " '" + w.FileName + ".dbf'", &out), 0);
    std::map<std::string, std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
      const size_t colon = line.find(':');
      if (colon == std::string::npos) continue;
      std::string v = line.substr(colon + 1);
      v.erase(0, v.find_first_not_of(' '));
      v.erase(v.find_last_not_of(' ') + 1);
      lines[line.substr(0, colon)] = v;
    }
    return lines;
  };
  std::map<std::string, std::string> dump = dumpLines("-m"), raw = dumpLines("-r -m");
  int offset = 0;
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FieldBytes(b, 0, offset, int(c.bytes.size())), c.bytes);
    offset += int(c.bytes.size());
    EXPECT_EQ(layer.Features[0].IsNull[i], c.isNull) << layer.Features[0].Values[i];
    if (c.isNull) {
      EXPECT_EQ(dump[c.name], "(NULL)");
    } else {
      EXPECT_DOUBLE_EQ(std::stod(layer.Features[0].Values[i]), c.expect);
      EXPECT_DOUBLE_EQ(std::stod(dump[c.name]), c.expect);
    }
    EXPECT_EQ(raw[c.name], c.bytes.substr(c.bytes.find_first_not_of(' ')));
  }
}

TEST_F(DBFWriterTest, DoubleByteCharacterIsNotCutInTwo) {
  // "ab" + two Japanese characters of two bytes each in code page 932.
  const std::string text = "ab\xE6\x97\xA5\xE6\x9C\xAC";
  TGISWriterDBF w;
  w.FileName = Dir.File("cp932");
  w.SetCodepage(932);
  w.StartHeader(2, otNone);
  w.AddField("T5", gfChar, 5, 0);
  w.AddField("T6", gfChar, 6, 0);
  w.AddObject(0, false, text + "," + text);
  w.Close();
  const std::string b = ReadBytes(w.FileName + ".dbf");
  EXPECT_EQ(uint8_t(b[29]), 0x13);
  EXPECT_EQ(FieldBytes(b, 0, 0, 5), "ab\x93\xfa ");
  EXPECT_EQ(FieldBytes(b, 0, 5, 6), "ab\x93\xfa\x96\x7b");
  // python decodes both fields strictly.
  const std::string script = "import sys\nb=open(sys.argv[1],'rb').read()\nh=b[8]|b[9]<<8\n"
                             "print(b[h+1:h+6].decode('cp932'),b[h+6:h+12].decode('cp932'),sep='|')\n";
  WriteBytes(Dir.File("decode.py"), script);
  std::string out;
  ASSERT_EQ(RunCommand("python3 '" + Dir.File("decode.py") + "' '" + w.FileName + ".dbf'", &out), 0);
  EXPECT_EQ(out, "ab\xE6\x97\xA5 |" + text + "\n");
}

// ---------------------------------------------------------------------------
// Shapefile records

TEST_F(DBFWriterTest, RecordsMatchTheirIndex) {
  TGISWriterSHP w;
  w.FileName = Dir.File("lines");
  w.StartHeader(1, otPline);
  w.AddField("ID", gfInteger, 0, 0);
  w.AddObject(2, false, "1");
  TFloatPointArrayEx a = Part({{0, 0}, {1, 1}}), b = Part({{5, 5}, {6, 4}, {7, 9}});
  w.AddSection(0, a);
  w.AddSection(1, b);
  w.AddObject(0, false, "2");  // Null record
  w.AddLine(-1, 2, 3, -4, "3");
  w.AddPoint(9, 9, "4");  // not in a polyline table
  w.Close();
  EXPECT_EQ(w.WrittenRecords(), 3);

  const std::string shp = ReadBytes(w.FileName + ".shp"), shx = ReadBytes(w.FileName + ".shx");
  ASSERT_EQ(shx.size(), 100u + 8 * 3);
  EXPECT_EQ(BE32(shx, 24), shx.size() / 2);
  EXPECT_EQ(BE32(shp, 24), shp.size() / 2);
  // Walk the .shp: each record where the index says, with its length.
  size_t at = 100;
  std::vector<uint32_t> contents;
  for (uint32_t rec = 1; at < shp.size(); ++rec) {
    SCOPED_TRACE(rec);
    ASSERT_LE(at + 8, shp.size());
    EXPECT_EQ(BE32(shp, at), rec);
    const uint32_t words = BE32(shp, at + 4);
    EXPECT_EQ(BE32(shx, 100 + 8 * (rec - 1)), at / 2);
    EXPECT_EQ(BE32(shx, 100 + 8 * (rec - 1) + 4), words);
    contents.push_back(words * 2);
    at += 8 + words * 2;
  }
  EXPECT_EQ(at, shp.size());
  EXPECT_EQ(contents, (std::vector<uint32_t>{132, 4, 80}));
  // The two-part line: type, box, counts, parts 0 and 2.
  EXPECT_EQ(LE32(shp, 108), 3u);
  EXPECT_EQ(LEDouble(shp, 112), 0.0);
  EXPECT_EQ(LEDouble(shp, 120), 0.0);
  EXPECT_EQ(LEDouble(shp, 128), 7.0);
  EXPECT_EQ(LEDouble(shp, 136), 9.0);
  EXPECT_EQ(LE32(shp, 144), 2u);
  EXPECT_EQ(LE32(shp, 148), 5u);
  EXPECT_EQ(LE32(shp, 152), 0u);
  EXPECT_EQ(LE32(shp, 156), 2u);
  EXPECT_EQ(LEDouble(shp, 160 + 16 * 4 + 8), 9.0);
  EXPECT_EQ(LE32(shp, 100 + 140 + 8), 0u);  // the Null record's type
  // Layer box over every record.
  EXPECT_EQ(LEDouble(shp, 36), -1.0);
  EXPECT_EQ(LEDouble(shp, 44), -4.0);
  EXPECT_EQ(LEDouble(shp, 52), 7.0);
  EXPECT_EQ(LEDouble(shp, 60), 9.0);
  EXPECT_EQ(shx.substr(36, 32), shp.substr(36, 32));

  TOgrLayer layer = ReadOgrLayer(w.FileName + ".shp");
  ASSERT_EQ(layer.Features.size(), 3u);
  EXPECT_EQ(layer.Features[0].Wkt, "MULTILINESTRING ((0 0,1 1),(5 5,6 4,7 9))");
  EXPECT_EQ(layer.Features[1].Wkt, "");
  EXPECT_EQ(layer.Features[2].Wkt, "LINESTRING (-1 2,3 -4)");
  EXPECT_EQ(layer.Value(2, "ID"), "3");
  EXPECT_EQ(layer.Epsg, 4326);
}

TEST_F(DBFWriterTest, JoinedAndDensifiedPartsKeepCountsAndIndex) {
  TGISWriterSHP w;
  w.FileName = Dir.File("joined");
  w.SetOptimizePLinesSections(true);
  w.StartHeader(1, otPline);
  w.AddField("ID", gfInteger, 0, 0);
  // Three parts, the first two touching: one record of two parts, 3 + 2 points.
  w.AddObject(3, false, "1");
  w.AddSection2(0, 0, 0, 1, 0);
  w.AddSection2(1, 1, 0, 1, 1);
  w.AddSection2(2, 5, 5, 6, 6);
  w.SetOptimizePLinesSections(false);
  w.GreatCircleDist = 50;  // km: one degree of longitude at the equator gets two more points
  w.AddLine(0, 0, 1, 0, "2");
  w.Close();
  const std::string shp = ReadBytes(w.FileName + ".shp"), shx = ReadBytes(w.FileName + ".shx");
  EXPECT_EQ(BE32(shp, 104) * 2, 44u + 4 * 2 + 16 * 5);
  EXPECT_EQ(LE32(shp, 144), 2u);
  EXPECT_EQ(LE32(shp, 148), 5u);
  EXPECT_EQ(LE32(shp, 156), 3u);
  const size_t second = 100 + 8 + 44 + 8 + 80;
  EXPECT_EQ(BE32(shx, 108), second / 2);
  EXPECT_EQ(LE32(shp, second + 48), 4u);
  EXPECT_EQ(BE32(shp, 24) * 2, shp.size());
  TOgrLayer layer = ReadOgrLayer(w.FileName + ".shp");
  ASSERT_EQ(layer.Features.size(), 2u);
  EXPECT_EQ(layer.Features[0].Wkt, "MULTILINESTRING ((0 0,1 0,1 1),(5 5,6 6))");
}

TEST_F(DBFWriterTest, PointsAndTablesWithoutGeometry) {
  TGISWriterSHP pts;
  pts.FileName = Dir.File("points");
  pts.StartHeader(1, otPoint);
  pts.AddField("N", gfChar, 4, 0);
  pts.AddPoint(1.5, -2.25, "a");
  pts.AddPoint2(TFloatPoint{3, 4}, "b");
  pts.Close();
  const std::string shp = ReadBytes(pts.FileName + ".shp");
  ASSERT_EQ(shp.size(), 100u + 2 * 28);
  EXPECT_EQ(BE32(shp, 104), 10u);  // 20 bytes
  EXPECT_EQ(LE32(shp, 108), 1u);
  EXPECT_EQ(LEDouble(shp, 112), 1.5);
  EXPECT_EQ(LEDouble(shp, 120), -2.25);
  TOgrLayer layer = ReadOgrLayer(pts.FileName + ".shp");
  ASSERT_EQ(layer.Features.size(), 2u);
  EXPECT_EQ(layer.Features[1].Wkt, "POINT (3 4)");
  EXPECT_EQ(layer.Value(1, "N"), "b");

  // otNone: the .dbf alone, rows from every kind of record.
  TGISWriterSHP none;
  none.FileName = Dir.File("none");
  none.StartHeader(1, otNone);
  none.AddField("N", gfInteger, 0, 0);
  none.AddObject(0, false, "1");
  none.AddPoint(1, 2, "2");
  none.AddObject(1, false, "3");
  TFloatPointArrayEx p = Part({{0, 0}, {1, 1}});
  none.AddSection(0, p);
  none.Close();
  EXPECT_EQ(none.WrittenRecords(), 2);
  EXPECT_TRUE(Exists(none.FileName + ".dbf"));
  for (const char* ext : {".shp", ".shx", ".prj", ".cpg"}) EXPECT_FALSE(Exists(none.FileName + ext)) << ext;
  TOgrLayer table = ReadOgrLayer(none.FileName + ".dbf");
  EXPECT_EQ(table.FeatureCount, 2);
}

TEST_F(DBFWriterTest, DoughnutPassesShapelibValidation) {
  TGISWriterSHP w;
  w.FileName = Dir.File("doughnut");
  w.StartHeader(1, otRegion);
  w.AddField("ID", gfInteger, 0, 0);
  w.AddObject(2, false, "1");
  // Outer ring clockwise, hole counter-clockwise, as given.
  TFloatPointArrayEx outer = Part({{0, 0}, {0, 10}, {10, 10}, {10, 0}, {0, 0}});
  TFloatPointArrayEx hole = Part({{3, 3}, {7, 3}, {7, 7}, {3, 7}, {3, 3}});
  w.AddSection(0, outer);
  w.AddSection(1, hole);
  w.Close();
  std::string out;
  EXPECT_EQ(RunCommand("shpdump -validate '" + w.FileName + ".shp' 2>&1", &out), 0);
  EXPECT_NE(out.find("Polygon"), std::string::npos) << out;
  EXPECT_NE(out.find("0 object has invalid ring orderings"), std::string::npos) << out;
  TOgrLayer layer = ReadOgrLayer(w.FileName + ".shp");
  ASSERT_EQ(layer.Features.size(), 1u);
  EXPECT_EQ(layer.Features[0].Wkt, "POLYGON ((0 0,0 10,10 10,10 0,0 0),(3 3,7 3,7 7,3 7,3 3))");
}

// ---------------------------------------------------------------------------
// Read-back oracles: code pages, projection and the raw 64-bit texts

TEST_F(DBFWriterTest, GdalReadsCodePageAndProjection) {
  TGISWriterSHP w;
  w.FileName = Dir.File("cyr");
  w.SetCodepage(1251);
  w.PRJ =
      "PROJCS[\"British_National_Grid\",GEOGCS[\"GCS_OSGB_1936\",DATUM[\"D_OSGB_1936\",SPHEROID[\"Airy_1830\","
      "6377563.396,299.3249646]],PRIMEM[\"Greenwich\",0],UNIT[\"Degree\",0.0174532925199433]],"
      "PROJECTION[\"Transverse_Mercator\"],PARAMETER[\"False_Easting\",400000],PARAMETER[\"False_Northing\","
      "-100000],PARAMETER[\"Central_Meridian\",-2],PARAMETER[\"Scale_Factor\",0.9996012717],"
      "PARAMETER[\"Latitude_Of_Origin\",49],UNIT[\"Meter\",1]]";
  w.StartHeader(3, otPoint);
  w.AddField("\xD0\x98\xD0\x9C\xD0\xAF", gfChar, 20, 0);  // "ИМЯ"
  w.AddField("BIG", gfInt64, 0, 0);
  w.AddField("COST", gfFloat, 0, 0);
  w.AddPoint(400123.5, 100321.25, "\"\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0 1\",-9223372036854775807,2.5");
  w.Close();
  EXPECT_EQ(ReadBytes(w.FileName + ".cpg"), "1251");
  EXPECT_EQ(ReadBytes(w.FileName + ".prj"), w.PRJ);

  TOgrLayer layer = ReadOgrLayer(w.FileName + ".shp");
  ASSERT_EQ(layer.Features.size(), 1u);
  EXPECT_EQ(layer.Fields[0].Name, "\xD0\x98\xD0\x9C\xD0\xAF");
  EXPECT_EQ(layer.Features[0].Values[0], "\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0 1");
  EXPECT_EQ(layer.Features[0].Wkt, "POINT (400123.5 100321.25)");
  EXPECT_EQ(layer.Epsg, 27700);
  EXPECT_DOUBLE_EQ(std::stod(layer.Value(0, "COST")), 2.5);
  // GDAL takes N(20,0) for Real; shapelib hands back the exact text.
  std::string dump;
  ASSERT_EQ(RunCommand("dbfdump -r '" + w.FileName + ".dbf'", &dump), 0);
  EXPECT_NE(dump.find("-9223372036854775807"), std::string::npos) << dump;
}

// ---------------------------------------------------------------------------
// Guards and bad input

TEST_F(DBFWriterTest, TooManyOrTooWideColumnsRaise) {
  TGISWriterDBF many;
  many.FileName = Dir.File("many");
  EXPECT_EQ(MessageOf([&] { many.StartHeader(2047, otNone); }), "Too many fields for a DBF table (max 2046)");
  EXPECT_FALSE(Exists(many.FileName + ".dbf"));
  many.Close();  // nothing was opened: nothing to finish

  TGISWriterSHP most;
  most.FileName = Dir.File("most");
  most.StartHeader(2046, otPoint);
  for (int i = 0; i < 2046; ++i) most.AddField("F" + std::to_string(i), gfLogical, 0, 0);
  std::string attrib(2046 * 2 - 1, ',');
  for (size_t i = 0; i < attrib.size(); i += 2) attrib[i] = 'T';
  most.AddPoint(1, 1, attrib);
  most.Close();
  EXPECT_EQ(LE16(ReadBytes(most.FileName + ".dbf"), 8), 65505);

  // 258 columns of 254 make 65533 bytes a record; the 259th would wrap.
  TGISWriterDBF wide;
  wide.FileName = Dir.File("wide");
  wide.StartHeader(259, otNone);
  for (int i = 0; i < 258; ++i) wide.AddField("C" + std::to_string(i), gfChar, 254, 0);
  EXPECT_EQ(MessageOf([&] { wide.AddField("LAST", gfChar, 254, 0); }), "DBF record length exceeds 65535 bytes");
  EXPECT_EQ(wide.FieldInfo()[258].Name, "C257");
  wide.Drop();
  EXPECT_FALSE(Exists(wide.FileName + ".dbf"));
}

TEST_F(DBFWriterTest, WrongValueCountWritesNothingOfTheRecord) {
  TGISWriterSHP w;
  w.FileName = Dir.File("count");
  w.StartHeader(2, otPline);
  w.AddField("A", gfInteger, 0, 0);
  w.AddField("B", gfChar, 3, 0);
  w.AddLine(0, 0, 1, 1, "1,x");
  EXPECT_EQ(MessageOf([&] { w.AddLine(0, 0, 2, 2, "1,2,3"); }),
            "Number of values must match number of fields. NumVal = 3, NumFields = 2, string = \"1,2,3\"");
  EXPECT_EQ(MessageOf([&] { w.AddPoint(0, 0, "1"); }), "");  // no point in a polyline table
  w.AddLine(0, 0, 3, 3, "3,z");
  w.Close();
  EXPECT_EQ(w.WrittenRecords(), 2);
  TOgrLayer layer = ReadOgrLayer(w.FileName + ".shp");
  ASSERT_EQ(layer.Features.size(), 2u);
  EXPECT_EQ(layer.Value(1, "A"), "3");
  EXPECT_EQ(layer.Features[1].Wkt, "LINESTRING (0 0,3 3)");
  EXPECT_EQ(ReadBytes(w.FileName + ".shx").size(), 116u);

  // A record before the last column, or a column type without a letter, is refused.
  TGISWriterDBF early;
  early.FileName = Dir.File("early");
  early.StartHeader(2, otNone);
  early.AddField("A", gfInteger, 0, 0);
  EXPECT_THROW(early.AddObject(0, false, "1"), EWriteError);
  EXPECT_THROW(early.AddField("B", TGISField(42), 0, 0), EInvalidFieldType);
  early.AddField("B", gfInteger, 0, 0);
  early.AddObject(0, false, "1,2");
  early.Close();
  EXPECT_EQ(LE32(ReadBytes(early.FileName + ".dbf"), 4), 1u);
  EXPECT_EQ(ReadBytes(early.FileName + ".dbf").size(), 32u * 2 + 33 + 23 + 1);

  TGISWriterDBF missing;
  missing.FileName = Dir.File("no/such/folder/t");
  EXPECT_THROW(missing.StartHeader(1, otNone), EFCreateError);
  missing.Drop();
}

TEST_F(DBFWriterTest, ShapefileThatCannotBeCreatedLeavesNoPartialSet) {
  // A folder in the way of one file, the others free: nothing made stays.
  for (const char* blocked : {".shp", ".shx", ".cpg"}) {
    SCOPED_TRACE(blocked);
    const std::string base = Dir.File(std::string("blocked") + (blocked + 1));
    std::filesystem::create_directory(base + blocked);
    TGISWriterSHP w;
    w.FileName = base;
    EXPECT_THROW(w.StartHeader(1, otPline), EFCreateError);
    for (const char* ext : {".dbf", ".shp", ".shx", ".prj", ".cpg"})
      if (std::string(ext) != blocked) {
        EXPECT_FALSE(Exists(base + ext)) << ext;
      }
    EXPECT_TRUE(std::filesystem::is_directory(base + blocked));
    EXPECT_NO_THROW(w.Close());
    w.Drop();
    EXPECT_TRUE(std::filesystem::is_directory(base + blocked));
  }
}

TEST_F(DBFWriterTest, FileIsFullAndTheFourGigabyteGuard) {
  TSeamSHP w;
  w.FileName = Dir.File("limit");
  w.StartHeader(1, otPline);
  w.AddField("ID", gfInteger, 0, 0);
  // Each line of 2 points: 8 + 44 + 4 + 32 = 88 bytes in the .shp.
  w.SetSizeBias(uint64_t(cGISFileFullBytes) - 100 - 88);
  w.AddLine(0, 0, 1, 1, "1");
  EXPECT_FALSE(w.FileIsFull());  // exactly at the limit is not past it
  w.AddLine(0, 0, 2, 2, "2");
  EXPECT_TRUE(w.FileIsFull());

  // The table alone: 32 + 33 header bytes and 12 per record.
  TSeam<TGISWriterDBF> d;
  d.FileName = Dir.File("limitdbf");
  d.StartHeader(1, otNone);
  d.AddField("ID", gfInteger, 0, 0);
  d.SetSizeBias(uint64_t(cGISFileFullBytes) - 65 - 12);
  d.AddPoint(0, 0, "1");
  EXPECT_FALSE(d.FileIsFull());
  d.AddObject(0, false, "2");
  EXPECT_TRUE(d.FileIsFull());
  // The record count stays within an Integer.
  d.SetRecordCount(uint32_t(MaxInt) - 1);
  d.AddObject(0, false, "3");
  EXPECT_EQ(MessageOf([&] { d.AddObject(0, false, "4"); }), "DBF table exceeds 2147483647 records");
  d.Close();

  // Near the format limit: a record that would pass it raises before any of
  // its bytes, one that ends exactly at it is still written.
  const uint64_t used = 100 + 2 * 88;
  w.SetSizeBias(cSHPMaxBytes - used - 88);
  w.AddLine(0, 0, 3, 3, "3");
  EXPECT_EQ(MessageOf([&] { w.AddLine(0, 0, 4, 4, "4"); }), "Shapefile exceeds the 4 GB format limit");
  EXPECT_EQ(w.WrittenRecords(), 3);
  w.Close();
  TOgrLayer layer = ReadOgrLayer(w.FileName + ".shp");
  ASSERT_EQ(layer.Features.size(), 3u);
  EXPECT_EQ(layer.Features[2].Wkt, "LINESTRING (0 0,3 3)");
  EXPECT_EQ(ReadBytes(w.FileName + ".shp").size(), used + 88);

  // A part that would pass the limit takes its whole record back out.
  TSeamSHP p;
  p.FileName = Dir.File("limit2");
  p.StartHeader(1, otPline);
  p.AddField("ID", gfInteger, 0, 0);
  p.AddLine(0, 0, 1, 1, "1");
  p.SetSizeBias(cSHPMaxBytes - 188 - 8 - 44 - 8 - 16 * 3);
  p.AddObject(2, false, "2");
  TFloatPointArrayEx a = Part({{0, 0}, {1, 0}, {1, 1}}), b = Part({{2, 2}, {3, 3}});
  p.AddSection(0, a);
  EXPECT_EQ(MessageOf([&] { p.AddSection(1, b); }), "Shapefile exceeds the 4 GB format limit");
  EXPECT_EQ(p.WrittenRecords(), 1);
  EXPECT_EQ(MessageOf([&] { p.Close(); }), "Record 2 is not in the output: 1 of its 2 parts were not written");
  EXPECT_EQ(ReadBytes(p.FileName + ".shp").size(), 188u);
  EXPECT_EQ(ReadBytes(p.FileName + ".shx").size(), 108u);
  EXPECT_EQ(ReadBytes(p.FileName + ".dbf").size(), 32u + 33 + 12 + 1);
  EXPECT_EQ(ReadOgrLayer(p.FileName + ".shp").Features.size(), 1u);
}

TEST_F(DBFWriterTest, CloseOnceThenDropDeletesEveryFile) {
  TGISWriterSHP w;
  w.FileName = Dir.File("life");
  w.StartHeader(1, otPoint);
  w.AddField("ID", gfInteger, 0, 0);
  w.AddPoint(1, 2, "1");
  w.Close();
  const std::string before = ReadBytes(w.FileName + ".shp") + ReadBytes(w.FileName + ".dbf");
  w.Close();
  EXPECT_EQ(ReadBytes(w.FileName + ".shp") + ReadBytes(w.FileName + ".dbf"), before);
  for (const char* ext : {".dbf", ".shp", ".shx", ".prj", ".cpg"}) EXPECT_TRUE(Exists(w.FileName + ext)) << ext;
  EXPECT_EQ(ReadBytes(w.FileName + ".cpg"), "1252");
  w.Drop();
  for (const char* ext : {".dbf", ".shp", ".shx", ".prj", ".cpg"}) EXPECT_FALSE(Exists(w.FileName + ext)) << ext;

  // Setting an unconvertible page is refused and leaves the writer as it was.
  TGISWriterDBF d;
  EXPECT_NE(MessageOf([&] { d.SetCodepage(620); }), "");
  EXPECT_EQ(d.Codepage(), 1252);
  d.SetCodepage(65001);
  EXPECT_EQ(d.Codepage(), 1252);
}
