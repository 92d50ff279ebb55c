#include "import/support/ogr_objects.h"

#include <gdal.h>
#include <gtest/gtest.h>
#include <ogr_api.h>

#include <cstring>

namespace kovra::testsupport {

std::vector<TOgrObject> ReadWithOgr(const std::string& Path, const char* Driver) {
  GDALAllRegister();
  std::vector<TOgrObject> out;
  const char* drivers[] = {Driver, nullptr};
  GDALDatasetH ds =
      GDALOpenEx(Path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, Driver ? drivers : nullptr, nullptr, nullptr);
  if (!ds) {
    ADD_FAILURE() << "GDAL cannot open " << Path;
    return out;
  }
  OGRLayerH layer = GDALDatasetGetLayer(ds, 0);
  OGR_L_ResetReading(layer);
  while (OGRFeatureH f = OGR_L_GetNextFeature(layer)) {
    TOgrObject o;
    OGRGeometryH g = OGR_F_GetGeometryRef(f);
    if (!g) {
      o.Null = true;
    } else {
      const OGRwkbGeometryType type = wkbFlatten(OGR_G_GetGeometryType(g));
      o.Type = OGRGeometryTypeToName(type);
      if (type == wkbMultiLineString) {
        o.Parts = OGR_G_GetGeometryCount(g);
      } else if (type == wkbLineString) {
        o.Line = true;
        for (int i = 0; i < OGR_G_GetPointCount(g); ++i) o.Points.push_back({OGR_G_GetX(g, i), OGR_G_GetY(g, i)});
      }
    }
    out.push_back(std::move(o));
    OGR_F_Destroy(f);
  }
  GDALClose(ds);
  return out;
}

void ExpectAsOgrReads(const std::vector<TOgrObject>& Ogr, const TImport& Imp, const TNetworkDir& Net,
                      double Tolerance, const std::vector<int>& ObjectTypes) {
  ASSERT_EQ(Imp.LinkCount(), int32_t(Ogr.size()));
  ASSERT_EQ(Net.LinkCount(), Imp.LinkCount());
  if (!ObjectTypes.empty()) {
    ASSERT_EQ(ObjectTypes.size(), Ogr.size());
  }
  int32_t e = 0;
  for (int32_t L = 1; L <= Imp.LinkCount(); ++L) {
    const TOgrObject& o = Ogr[size_t(L - 1)];
    if (!o.Line) {
      ASSERT_LT(e, Imp.ImportErrorList().Count()) << "link " << L;
      const TImportError& err = Imp.ImportErrorList().GetItem(e++);
      TErrorCode code;
      int32_t value;
      if (!ObjectTypes.empty()) {
        code = o.Null ? ecDeleted : ecNotPolyLine;
        value = ObjectTypes[size_t(L - 1)];
      } else {
        code = o.Null ? ecNotGeoCoded : o.Parts > 0 ? ecMultiSection : ecNotPolyLine;
        value = o.Parts;
      }
      EXPECT_EQ(err.fileindex, 0);
      EXPECT_EQ(err.linklocal, L);
      EXPECT_EQ(err.link, L);
      EXPECT_EQ(err.errorcode, code) << "link " << L << " " << o.Type;
      EXPECT_EQ(err.value, value) << "link " << L << " " << o.Type;
      continue;
    }
    const std::vector<TFloatPoint> line = Net.Polyline(L);
    ASSERT_EQ(line.size(), o.Points.size()) << "link " << L;
    if (Tolerance == 0) {
      EXPECT_EQ(std::memcmp(line.data(), o.Points.data(), line.size() * sizeof(TFloatPoint)), 0) << "link " << L;
    } else {
      for (size_t k = 0; k < line.size(); ++k) {
        ASSERT_NEAR(line[k].x, o.Points[k].x, Tolerance) << "link " << L << " vertex " << k;
        ASSERT_NEAR(line[k].y, o.Points[k].y, Tolerance) << "link " << L << " vertex " << k;
      }
    }
  }
  EXPECT_EQ(e, Imp.ImportErrorList().Count());
}

void ExpectAsOgrReads(const std::string& Path, const TImport& Imp, const TNetworkDir& Net) {
  ExpectAsOgrReads(ReadWithOgr(Path), Imp, Net);
}

}  // namespace kovra::testsupport
