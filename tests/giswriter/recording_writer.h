// Test support: a writer that records what the base class hands to a format
// writer (StartObject, WriteSection with its points, AddField, AddPoint,
// Close), so protocol routing, joining and densification can be checked
// without any file format. Also opens the protected helpers to tests.
#pragma once

#include <string>
#include <vector>

#include "giswriter/kovra_giswriter.h"

namespace kovra {

class TRecordingWriter : public TGISWriter {
public:
  // One text line per call, e.g. "StartObject 2 a,b", "WriteSection 0 1,2 3,4",
  // "AddField name 1 10 2", "AddPoint 1,2 attrib", "Close".
  std::vector<std::string> Log;
  // The points of every WriteSection, in order.
  std::vector<TFloatPointArray> Sections;
  // Split the attribute text in StartObject and AddPoint, as typed writers do.
  bool SplitOnStart = false;

  static std::string PointText(const TFloatPoint& p) { return FloatToStrG15(p.x) + "," + FloatToStrG15(p.y); }

  void AddField(const std::string& FieldName, TGISField Field, uint8_t Width, uint8_t decimals) override {
    TGISWriter::AddField(FieldName, Field, Width, decimals);
    Log.push_back("AddField " + FieldName + " " + IntToStr(int(Field)) + " " + IntToStr(Width) + " " +
                  IntToStr(decimals));
  }
  void AddPoint(double X, double Y, const std::string& Attrib) override {
    if (SplitOnStart) SplitAttributes(Attrib);
    ++FWrittenRecords;
    Log.push_back("AddPoint " + PointText({X, Y}) + " " + Attrib);
  }
  void Close() override {
    TGISWriter::Close();
    if (Fopen) Log.push_back("Close");
    Fopen = false;
  }

  // Opened for tests.
  using TGISWriter::ExtendBounds;
  using TGISWriter::PatchBounds;
  using TGISWriter::SetBoundsOffset;
  using TGISWriter::SplitAttributes;
  const std::vector<std::string>& SL() const { return FSL; }
  int32_t GetNextFileCheck() const { return NextFileCheck; }
  void SetFileIsFullFlag(bool v) { fFileIsFull = v; }
  size_t PoolSize() const { return FSegments.size(); }
  const TFloatPointArrayEx& PoolSlot(size_t i) const { return FSegments[i]; }
  TFloatRect Bounds() const { return TFloatRect{FXMinG, FYMinG, FXMaxG, FYMaxG}; }
  // True inside WriteSection's log line when the part starts a polygon.
  std::vector<bool> PolygonStarts;

protected:
  void StartObject(int32_t NumParts, const std::string& Attrib) override {
    TGISWriter::StartObject(NumParts, Attrib);
    if (SplitOnStart) SplitAttributes(Attrib);
    ++FWrittenRecords;
    Log.push_back("StartObject " + IntToStr(NumParts) + " " + Attrib);
  }
  void WriteSection(int32_t Index, TFloatPointArrayEx& SegList) override {
    TGISWriter::WriteSection(Index, SegList);
    std::string line = "WriteSection " + IntToStr(Index);
    for (int32_t i = 0; i < SegList.Count; ++i) line += " " + PointText(SegList.Pnt[size_t(i)]);
    Log.push_back(line);
    Sections.emplace_back(SegList.Pnt.begin(), SegList.Pnt.begin() + SegList.Count);
    PolygonStarts.push_back(StartsPolygon(Index));
  }
};

// A writer that accepts every page, to reach the conversion check of the setter.
class TRecordingWriterAllPages : public TRecordingWriter {
protected:
  bool AcceptsCodepage(uint16_t) const override { return true; }
};

}  // namespace kovra
