// Bad records through every writer made by the factory: a refused record
// leaves nothing of itself in the output, is not counted, and the layer GDAL
// reads back afterwards is complete (no read failure, every counted record
// there, nothing else).
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "giswriter/kovra_giswriter.h"
#include "giswriter/mitab.h"
#include "support/gdal_readback.h"
#include "support/test_files.h"
#include "support/test_raises.h"
#include "support/test_parts.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

constexpr double cNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double cInf = std::numeric_limits<double>::infinity();

struct TFormatCase {
  TGISFormat Format;
  const char* Name;
  const char* Ext;        // the file GDAL opens; "" for the in-memory table
  bool IdField;           // GDAL reads the id column back as a field
  const char* PointLayer; // layer GDAL names for points/lines ("" = the first)
  const char* LineLayer;
  int32_t LineParts;      // parts per line record (GPX writes one-part lines only)
};

const TFormatCase cFormats[] = {
    {gfMIF, "MIF", ".mif", true, "", "", 2},
    {gfMIF8, "MIF8", ".mif", false, "", "", 2},  // GDAL reads the .mid's byte-order mark into the first value
    {gfCSV, "CSV", ".csv", true, "", "", 2},
    {gfDBF, "DBF", ".dbf", true, "", "", 2},
    {gfSHP, "SHP", ".shp", true, "", "", 2},
    {gfKML2, "KML", ".kml", false, "", "", 2},
    {gfGML2, "GML", ".xml", true, "", "", 2},
    {gfGPX, "GPX", ".gpx", false, "waypoints", "routes", 1},
    {gfGeoJSON, "GeoJSON", ".geojson", true, "", "", 2},
    {gfMITAB, "TAB", ".tab", true, "", "", 2},
    {gfArray, "Array", "", false, "", "", 2},
};

class RefusedRecords : public ::testing::Test {
protected:
  std::unique_ptr<TGISWriter> Open(const TFormatCase& f, TObjectTypes Kind, const std::string& Name) {
    std::unique_ptr<TGISWriter> w = TGISWriter::GetGISObject(f.Format);
    w->FileName = dir.File(Name);
    // Two columns: GDAL does not read a CSV file of one column.
    w->StartHeader(2, Kind);
    w->AddField("id", gfInteger, 0, 0);
    w->AddField("name", gfChar, 10, 0);
    return w;
  }

  // Line record Id of Parts parts, each a two-point segment near x = Id.
  void Line(TGISWriter& w, int32_t Parts, int32_t Id) {
    w.AddObject(Parts, false, Attrib(Id));
    for (int32_t i = 0; i < Parts; ++i) Section(w, 0, {{double(Id), double(i)}, {double(Id) + 0.5, double(i)}});
  }

  static std::string Attrib(int32_t Id) { return std::to_string(Id) + ",x"; }

  // What GDAL (or the table) holds: the ids of the records, in order.
  void ExpectRecords(const TFormatCase& f, TGISWriter& w, const char* Layer, const std::vector<std::string>& Ids,
                     const char* Ext = nullptr) {
    EXPECT_EQ(w.WrittenRecords(), int32_t(Ids.size()));
    if (f.Format == gfArray) {
      ASSERT_EQ(w.GISarray->RecCount, int32_t(Ids.size()));
      for (size_t i = 0; i < Ids.size(); ++i)
        EXPECT_EQ(std::get<int32_t>(w.GISarray->Rec[i].Attr[0]), std::stoi(Ids[i]));
      return;
    }
    TOgrReadOptions o;
    o.LayerName = Layer;
    TOgrLayer l = ReadOgrLayer(w.FileName + (Ext ? Ext : f.Ext), o);
    ASSERT_TRUE(l.Opened);
    ASSERT_EQ(l.Features.size(), Ids.size());
    if (!f.IdField) return;
    for (size_t i = 0; i < Ids.size(); ++i) EXPECT_EQ(l.Value(i, "id"), Ids[i]) << i;
  }

  bool Available(const TFormatCase& f) { return f.Format != gfMITAB || MITABLoaded(); }

  TTempDir dir{"kovra_refusals"};
};

TEST_F(RefusedRecords, NonFiniteCoordinatesRaiseBeforeTheRecord) {
  for (const TFormatCase& f : cFormats) {
    if (!Available(f)) continue;
    SCOPED_TRACE(f.Name);
    // Points and two-point lines are refused whole; the next record follows.
    {
      auto w = Open(f, otPoint, std::string(f.Name) + "_points");
      w->AddPoint(1, 2, Attrib(1));
      EXPECT_EQ(MessageOf([&] { w->AddPoint(cNaN, 2, Attrib(2)); }),
                "Record 2: the point is not a finite coordinate (NaN, 2)");
      EXPECT_THROW(w->AddPoint2(TFloatPoint{3, -cInf}, Attrib(2)), EInvalidParameter);
      w->AddPoint(3, 4, Attrib(3));
      w->Close();
      ExpectRecords(f, *w, f.PointLayer, {"1", "3"});
    }
    {
      auto w = Open(f, otPline, std::string(f.Name) + "_lines");
      if (f.Format != gfGPX) {  // GPX routes come from one-part objects only
        w->AddLine(0, 0, 1, 1, Attrib(1));
        EXPECT_THROW(w->AddLine(0, 0, cInf, 1, Attrib(2)), EInvalidParameter);
        EXPECT_THROW(w->AddLine2(TFloatPoint{cNaN, 0}, TFloatPoint{1, 1}, Attrib(2)), EInvalidParameter);
      } else {
        Line(*w, 1, 1);
      }
      Line(*w, f.LineParts, 3);
      w->Close();
      ExpectRecords(f, *w, f.LineLayer, {"1", "3"});
    }
    // A bad point in a later part: the record the format had begun is taken
    // out at Close, which then reports it.
    {
      auto w = Open(f, otPline, std::string(f.Name) + "_parts");
      Line(*w, f.LineParts, 1);
      w->AddObject(f.LineParts, false, Attrib(2));
      if (f.LineParts > 1) Section(*w, 0, {{5, 5}, {6, 6}});
      TFloatPointArrayEx bad = Part({{7, 7}, {8, cNaN}});
      EXPECT_EQ(MessageOf([&] { w->AddSection(0, bad); }),
                "Record 2: point 2 of part " + std::to_string(f.LineParts) + " is not a finite coordinate (8, NaN)");
      EXPECT_EQ(MessageOf([&] { w->Close(); }),
                "Record 2 is not in the output: 1 of its " + std::to_string(f.LineParts) +
                    " parts were not written");
      ExpectRecords(f, *w, f.LineLayer, {"1"});
    }
  }
}

TEST_F(RefusedRecords, NegativePartCountIsRefused) {
  for (const TFormatCase& f : cFormats) {
    if (!Available(f)) continue;
    SCOPED_TRACE(f.Name);
    for (TObjectTypes kind : {otPline, otNone}) {
      if (f.Format == gfGPX && kind == otNone) continue;  // GPX keeps no records without geometry
      auto w = Open(f, kind, std::string(f.Name) + (kind == otNone ? "_none" : "_neg"));
      EXPECT_EQ(MessageOf([&] { w->AddObject(-1, false, Attrib(1)); }), "Record 1: NumParts must be >= 0: -1");
      EXPECT_EQ(w->WrittenRecords(), 0);
      if (kind == otNone)
        w->AddObject(0, false, Attrib(2));
      else
        Line(*w, f.LineParts, 2);
      w->Close();
      // A shapefile without geometry is its .dbf alone.
      const bool dbfOnly = kind == otNone && f.Format == gfSHP;
      ExpectRecords(f, *w, kind == otNone ? "" : f.LineLayer, {"2"}, dbfOnly ? ".dbf" : nullptr);
    }
  }
}

// How the record after a complete one stays unfinished.
enum class TBreak : uint8_t { RefusedRing, RefusedLinePart, ProducerStops };

TEST_F(RefusedRecords, UnfinishedRecordIsTakenOutAtClose) {
  const struct {
    TBreak How;
    TObjectTypes Kind;
    const char* Label;
  } breaks[] = {{TBreak::RefusedRing, otRegion, "ring"},
                {TBreak::RefusedLinePart, otPline, "linepart"},
                {TBreak::ProducerStops, otPline, "stops"}};
  const std::initializer_list<TFloatPoint> square = {{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}};
  for (const TFormatCase& f : cFormats) {
    if (!Available(f)) continue;
    for (const auto& b : breaks) {
      if (f.Format == gfGPX && b.Kind == otRegion) continue;  // refused at StartHeader
      SCOPED_TRACE(std::string(f.Name) + " " + b.Label);
      const int32_t parts = b.Kind == otRegion ? 2 : f.LineParts;
      const std::string name = std::string(f.Name) + "_" + b.Label;
      auto w = Open(f, b.Kind, name);
      w->Pen.Color = 0x0000FF;  // a style, so the formats that write one do
      auto complete = [&](int32_t id) {
        if (b.Kind == otRegion) {
          w->AddObject(2, true, Attrib(id));
          Section(*w, 0, square);
          Section(*w, -1, {{5, 5}, {6, 5}, {6, 6}, {5, 5}});
        } else {
          Line(*w, parts, id);
        }
      };
      complete(1);
      w->AddObject(parts, b.Kind == otRegion, Attrib(2));
      if (parts > 1) {
        if (b.Kind == otRegion)
          Section(*w, 0, square);
        else
          Section(*w, 0, {{9, 9}, {9, 10}});
      }
      if (b.How == TBreak::RefusedRing) {
        EXPECT_EQ(MessageOf([&] { Section(*w, -1, {{0, 0}, {1, 0}, {1, 1}, {0, 1}}); }),
                  "Region objects must be closed");
      } else if (b.How == TBreak::RefusedLinePart) {
        TFloatPointArrayEx empty;
        EXPECT_EQ(MessageOf([&] { w->AddSection(0, empty); }), "Polyline parts must have >=1 point");
      }
      // The next record cannot start while this one is owed parts.
      EXPECT_THROW(w->AddObject(0, false, Attrib(3)), Exception);
      EXPECT_EQ(MessageOf([&] { w->Close(); }),
                "Record 2 is not in the output: 1 of its " + std::to_string(parts) + " parts were not written");
      w->Close();  // reported once
      ExpectRecords(f, *w, f.LineLayer, {"1"});
      if (f.Format == gfArray) {
        const TFloatRect& m = w->GISarray->MBR;  // the taken-out part does not widen the box
        EXPECT_EQ(m.xmax, b.Kind == otRegion ? 6 : 1.5);
      }

      // Dropping such a layer reports nothing and leaves no file.
      auto d = Open(f, b.Kind, name + "_drop");
      d->AddObject(parts, b.Kind == otRegion, Attrib(1));
      EXPECT_NO_THROW(d->Drop());
      if (*f.Ext) {
        EXPECT_FALSE(std::filesystem::exists(d->FileName + f.Ext));
      }
    }
  }
}

TEST(GISWriterPalettes, NegativeIndexIsRefused) {
  for (int32_t i : {-1, -15, std::numeric_limits<int32_t>::min()}) {
    EXPECT_THROW(GetCenterColor(i), EInvalidParameter) << i;
    EXPECT_THROW(GetBandColor(i), EInvalidParameter) << i;
  }
  EXPECT_EQ(GetCenterColor(std::numeric_limits<int32_t>::max()), GetCenterColor(2147483647 % 15));
}

}  // namespace
