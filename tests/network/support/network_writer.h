// Test support: writes a network directory the way the import does, byte for
// byte, from polylines given in code, so the network readers can be tested
// and measured without the import.
//
//   TTestNetworkWriter w;
//   w.Unit = cuM;
//   w.AddLink({{0, 0}, {5, 3}, {10, 0}});
//   w.AddRejected();
//   w.SetExternalIDs(std::vector<int32_t>{17, -4});
//   w.SetRoadNames(1, {"Main St", ""});
//   w.Write(dir);                  // every file and "kovra_config.ini"
//   auto bytes = w.Files();        // or the files as bytes, for caller streams
//
// Nodes are numbered by descending degree, then by ascending (x, y); each
// node lists its links in ascending id order, a loop link in two consecutive
// slots. The bounds in the settings cover every vertex, widened by 0.05 % of
// width and height on each side. With a key the files are enciphered as the
// import enciphers them. With SpatialIndex set, "spatialindex.bin" is built
// by the index builder as the import builds it: after the settings, while
// "link.bin" is still plain, which is enciphered last.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "foundation/kovra_io.h"
#include "foundation/kovra_types.h"

namespace kovra::testsupport {

// A grid of Columns x Rows nodes, Spacing apart, joined by horizontal and
// vertical links that bow sideways by Bulge x Spacing; link L has
// 0..MaxVertices intermediate vertices, varying from link to link.
struct TGridOptions {
  int32_t Columns = 10;
  int32_t Rows = 10;
  double Spacing = 100;
  int32_t MaxVertices = 8;
  double Bulge = 0.2;
};

// A memory stream holding Bytes, at position 0: a caller's stream for the readers.
std::unique_ptr<TKvMemoryStream> MemoryStreamOf(const std::string& Bytes);

// Columns = Rows giving at least Links links.
TGridOptions GridForLinks(int64_t Links, int32_t MaxVertices = 8);

class TTestNetworkWriter {
public:
  TCoordinateUnit Unit = cuM;
  int64_t Key = 0;
  std::string CoordSys;
  std::string Prj;
  int32_t Epsg = 0;
  // Hash buckets of "index2.bin" (the import writes 256).
  int32_t Buckets = 256;
  // Text ids: 64-bit bucket starts in "index2.bin" (flag in byte 1 of the header).
  bool WideBucketStarts = false;
  // Text ids: the unit that pads them to the width (the import writes U+0000).
  char16_t TextPad = u'\0';
  // Adds "spatialindex.bin", built with this leaf capacity.
  bool SpatialIndex = false;
  int32_t MaxNodesPerCell = 50;

  // Appends link LinkCount() + 1 and returns its number. A polyline of fewer
  // than two points or of length 0 is stored as a rejected object.
  int32_t AddLink(const TFloatPointArray& Points, uint16_t Attribute = 0);
  int32_t AddRejected();
  void AddGrid(const TGridOptions& Options);
  // Five links a reader must tell apart: 3, 0 and 1 intermediate vertices, a
  // rejected object, a loop with 2.
  void AddSample();
  int32_t LinkCount() const { return int32_t(fFirst.size()) - 1; }
  const TFloatPointArray& Vertices() const { return fPoints; }
  // The polyline of a link as given (empty for a rejected object).
  TFloatPointArray Polyline(int32_t Link) const;

  // "attribute.bin" is written once any word is set.
  void SetAttribute(int32_t Link, uint16_t Word);
  bool HasAttributes() const { return !fAttributes.empty(); }
  // "limit<N>.bin": one byte per link, PerLink[0] for link 1.
  void SetLimit(int32_t FileNumber, std::vector<uint8_t> PerLink);
  // One id per link, in link order; text ids are cut or padded to Width
  // (1..254) code units, their bucket taken from the id as given.
  void SetExternalIDs(std::vector<int32_t> Ids);
  void SetExternalIDs(std::vector<int64_t> Ids);
  void SetExternalIDs(std::vector<std::u16string> Ids, int32_t Width);
  // Road-name pair FileNumber (1..99) through the road-name builder: one name
  // per link, in link order; an empty name is stored as " ", as the import's
  // table readers store it.
  void SetRoadNames(int32_t FileNumber, std::vector<std::string> Names);

  // Every file into Directory (which must exist), "kovra_config.ini" through
  // the settings writer.
  void Write(const std::string& Directory) const;
  // Every file but the settings, by file name.
  std::map<std::string, std::string> Files() const;

private:
  enum class TIdKind : uint8_t { None, Int32, Int64, Text };
  class TSink;
  void Emit(TSink& Sink, bool EncipherLinks) const;
  void EmitExternalIDs(TSink& Sink) const;
  void EmitRoadNames(TSink& Sink) const;
  TFloatRect Bounds() const;

  TFloatPointArray fPoints;           // every link's polyline, one after another
  std::vector<int64_t> fFirst{0};     // link L's points are fFirst[L-1] .. fFirst[L]-1
  std::vector<uint16_t> fAttributes;  // empty until a word is set
  std::map<int32_t, std::vector<uint8_t>> fLimits;
  TIdKind fIdKind = TIdKind::None;
  std::vector<int64_t> fNumberIds;
  std::vector<std::u16string> fTextIds;
  int32_t fTextWidth = 0;
  std::map<int32_t, std::vector<std::string>> fRoadNames;
};

}  // namespace kovra::testsupport
