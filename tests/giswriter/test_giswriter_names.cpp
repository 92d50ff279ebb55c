// Column names the formats limit (DBF and SHP: 10 bytes; MIF: names of
// letters, digits and '_', 31 bytes): every column keeps a name of its own
// that GDAL reads back, with the values under it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "giswriter/kovra_giswriter.h"
#include "support/gdal_readback.h"
#include "support/test_files.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

struct TNamesCase {
  const char* Label;
  TGISFormat Format;
  uint16_t Codepage;
  const char* Ext;
  std::vector<std::string> Given;
  std::vector<std::string> Read;  // as GDAL names the columns
};

TEST(ColumnNames, EveryColumnKeepsANameOfItsOwn) {
  const std::string x40(40, 'x');
  const TNamesCase cases[] = {
      {"dbf cut", gfDBF, 1252, ".dbf", {"LongFieldName1", "LongFieldName2", "longfieldn", "Other"},
       {"LongFieldN", "LongFiel_2", "longfiel_3", "Other"}},
      {"shp cut", gfSHP, 1252, ".shp", {"LongFieldName1", "LongFieldName2", "LONGFIEL_2"},
       {"LongFieldN", "LongFiel_2", "LONGFIEL_3"}},
      // 14 bytes in code page 932: cut to whole characters, the suffix too.
      {"shp double-byte", gfSHP, 932, ".shp", {"日本語の道路名", "日本語の道路幅"}, {"日本語の道", "日本語の_2"}},
      {"mif names", gfMIF, 1252, ".mif", {"my road", "1st", "a-b", "A_B", x40, "Straße", "Дорога"},
       {"my_road", "_1st", "a_b", "A_B_2", std::string(31, 'x'), "Straße", "______"}},
      {"mif8 names", gfMIF8, 1252, ".mif", {"my road", "Дорога", "дорога"}, {"my_road", "Дорога", "дорога_2"}},
  };
  TTempDir dir("kovra_names");
  for (const TNamesCase& c : cases) {
    SCOPED_TRACE(c.Label);
    std::unique_ptr<TGISWriter> w = TGISWriter::GetGISObject(c.Format);
    w->FileName = dir.File(std::string(c.Label).replace(std::string(c.Label).find(' '), 1, "_"));
    w->SetCodepage(c.Codepage);
    const int32_t n = int32_t(c.Given.size());
    w->StartHeader(n, otPoint);
    std::string attrib;
    for (int32_t i = 0; i < n; ++i) {
      w->AddField(c.Given[size_t(i)], gfInteger, 0, 0);
      attrib += (i ? "," : "") + std::to_string(i + 1);
    }
    w->AddPoint(1, 2, attrib);
    w->Close();
    TOgrLayer l = ReadOgrLayer(w->FileName + c.Ext);
    ASSERT_EQ(l.Fields.size(), c.Given.size());
    ASSERT_EQ(l.Features.size(), 1u);
    for (size_t i = 0; i < c.Read.size(); ++i) {
      EXPECT_EQ(l.Fields[i].Name, c.Read[i]) << i;
      // (GDAL reads the byte-order mark of a UTF-8 .mid into the first value.)
      if (i > 0 || c.Format != gfMIF8) {
        EXPECT_EQ(l.Features[0].Values[i], std::to_string(i + 1)) << i;
      }
    }
  }
}

}  // namespace
