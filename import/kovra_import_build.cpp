// The topology build of an import run: lengths, node numbering, the network
// files, the settings file, the spatial index and the link cipher.
#include <algorithm>
#include <cctype>
#include <cfloat>
#include <cmath>
#include <filesystem>
#include <memory>
#include <string_view>
#include <vector>

#include "foundation/kovra_configfile.h"
#include "foundation/kovra_encryption.h"
#include "foundation/kovra_functions.h"
#include "foundation/kovra_geometry.h"
#include "foundation/kovra_io.h"
#include "import/kovra_import.h"
#include "import/kovra_xytree.h"
#include "network/kovra_networkfile.h"
#include "network/kovra_quadtree.h"

namespace kovra {

namespace {

constexpr const char* cWGS84Prj =
    "GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\",SPHEROID[\"WGS_1984\",6378137,298.257223563]],"
    "PRIMEM[\"Greenwich\",0],UNIT[\"Degree\",0.017453292519943295]]";

std::unique_ptr<TKvBufferedStream> OpenRead(const std::string& name) {
  return std::make_unique<TKvBufferedStream>(new TKvFileStream(name, fmOpenRead | fmShareDenyWrite), true);
}

std::unique_ptr<TKvBufferedStream> Create(const std::string& name) {
  return std::make_unique<TKvBufferedStream>(new TKvFileStream(name, fmCreate), true);
}

// The unit's name in a NonEarth CoordSys; null where the CoordSys stays empty.
const char* NonEarthUnitName(TCoordinateUnit Unit) {
  switch (Unit) {
    case cuMm: return "mm";
    case cuCm: return "cm";
    case cuM: return "m";
    case cuKm: return "km";
    case cuInch: return "in";
    case cuLink: return "link";
    case cuFt: return "ft";
    case cuSurveyft: return "survey ft";
    case cuYard: return "yd";
    case cuChain: return "chain";
    case cuRod: return "rod";
    case cuMiles: return "mi";
    case cuNmi: return "nmi";
    default: return nullptr;
  }
}

// True when the ESRI projection text's DATUM clause names WGS 84 (as
// "D_WGS_1984", "WGS_1984", "WGS 84" or "World Geodetic System 1984").
bool PrjNamesWgs84(std::string_view Prj) {
  const std::string upper = UpperAscii(Prj);
  const size_t datum = upper.find("DATUM[\"");
  if (datum == std::string::npos) return false;
  const size_t start = datum + 7, end = upper.find('"', start);
  if (end == std::string::npos) return false;
  std::string name;
  for (const char c : std::string_view(upper).substr(start, end - start))
    if (std::isalnum(static_cast<unsigned char>(c))) name += c;
  return name == "DWGS1984" || name == "WGS1984" || name == "WGS84" || name == "WORLDGEODETICSYSTEM1984";
}

// Writes Count Int32 values in blocks the stream's Int32 byte counts can take.
void WriteInt32Array(TKvStream& s, const int32_t* p, int64_t Count) {
  constexpr int64_t cBlock = int64_t(1) << 26;
  for (int64_t i = 0; i < Count; i += cBlock)
    s.WriteBuffer(p + i, int32_t(std::min(cBlock, Count - i) * int64_t(sizeof(int32_t))));
}

}  // namespace

void TBaseImport::BuildNetwork(int32_t r) {
  const int32_t b1 = Round32(r + (100 - r) * 38 / 100.0);
  const int32_t b2 = Round32(r + (100 - r) * 55 / 100.0);
  const int32_t b3 = Round32(r + (100 - r) * 61 / 100.0);
  const std::string& dir = RunDirectory();
  if (!fObjects_found) {
    for (const std::string* name : {&fg1Filename, &fg2Filename, &fg3Filename, &fg3iFilename}) RemoveFile(*name);
    return;
  }
  TXYTree tree;
  BuildLengths(tree, r, b1);
  if (Cancelled()) return;
  FileComplete(cLengthFileName);
  Checkpoint("lengths");

  tree.CreateID();
  fMaxdegree = tree.MaxItemCount();
  fNodeCount = tree.NodeCount();
  {
    auto coord = Create(dir + cCoordFileName);
    tree.Write(*coord, fEncryptionKey);
    coord->Close();
  }
  FileComplete(cCoordFileName);
  Checkpoint("coordinates");
  BuildLinkFile(tree, b1, b2);
  if (Cancelled()) return;
  FileComplete(cLinkFileName);
  Checkpoint("links");
  BuildNodeFile(tree, b2, b3);
  if (Cancelled()) return;
  FileComplete(cNodeFileName);
  Checkpoint("nodes");

  CompleteCoordSys();
  const double dx = (fMBR.xmax - fMBR.xmin) * 0.0005, dy = (fMBR.ymax - fMBR.ymin) * 0.0005;
  fMBR = TFloatRect{fMBR.xmin - dx, fMBR.ymin - dy, fMBR.xmax + dx, fMBR.ymax + dy};
  WriteConfig(dir, fEncryptionKey != 0, fCoordinateUnit, fCoordSys, fPrj, fEPSG, fLinkCount, fMBR);
  Checkpoint("settings written");
  // Without an index of its own, the installation removes an earlier one.
  if (!fSkipSpatialIndex) {
    BuildSpatialIndex(b3);
    FileComplete(cSpatialIndexFileName);
    Checkpoint("index built");
  }
  if (fEncryptionKey != 0) {
    EncipherLinkFile();
    FileComplete(cLinkFileName);
  }
}

void TBaseImport::BuildLengths(TXYTree& Tree, int32_t r, int32_t b1) {
  const std::string& dir = RunDirectory();
  auto g1 = OpenRead(fg1Filename), g2 = OpenRead(fg2Filename), g3 = OpenRead(fg3Filename),
       g3i = OpenRead(fg3iFilename);
  auto length = Create(dir + cLengthFileName);
  const double factor = KmPerUnit(fCoordinateUnit);
  T32Encryption enc(fEncryptionKey);
  enc.Restart();
  fTotallength = 0;
  SetProgressStart(r);
  SetProgressStop(b1);
  SetProgressMaxValue(fLinkCount);
  Tree.Reserve(2 * int64_t(fLinkCount));
  std::vector<TImportError> singlePoints;
  int32_t K = g3i->ReadInt32();
  int64_t m = int64_t(K) * 2;  // position of the next 8-byte value of coord3.bin
  for (int32_t L = 1; L <= fLinkCount; ++L) {
    ProgressExecute(L - 1);
    const int32_t v = g3i->ReadInt32();
    if (v < K) RaiseCorrupted(cCoord3iFileName, Format("link %d has a negative vertex count", L));
    TFloatPoint first{g1->ReadDouble(), g1->ReadDouble()};
    TFloatPoint prev = first;
    double len = 0;
    for (int32_t j = K; j < v; ++j) {
      TFloatPoint p;
      p.x = fEncoder2->Decode(g3->ReadInt64(), int32_t(uint32_t(m)));
      p.y = fEncoder2->Decode(g3->ReadInt64(), int32_t(uint32_t(m + 1)));
      m += 2;
      len += SegmentLength(fCoordinateUnit, prev, p);
      prev = p;
    }
    const TFloatPoint last{g2->ReadDouble(), g2->ReadDouble()};
    len += SegmentLength(fCoordinateUnit, prev, last);
    len *= factor;
    if (!std::isfinite(len) || len > double(FLT_MAX))
      throw EOverflow(Format("The length of link %d overflows", L));
    const float stored = float(len);
    if (stored != 0) {
      fTotallength += len;
      Tree.Add(first);
      Tree.Add(last);
    } else if (v > K || first != last) {
      // Points so close that the stored length is 0: the link cannot be
      // valid, and a node would be left with an empty slot.
      singlePoints.push_back(RecordOfLink(L, ecSinglePoint, 0));
    }
    length->WriteUInt32(enc.Encode(stored));
    K = v;
    if (Cancelled()) break;
  }
  length->Close();
  fEncoder2.reset();
  g3.reset();
  g3i.reset();
  if (!singlePoints.empty()) MergeErrors(singlePoints);
}

TImportError TBaseImport::RecordOfLink(int32_t L, TErrorCode errorcode, int32_t value) const {
  const auto it = std::lower_bound(fFileLastLink.begin(), fFileLastLink.end(), L);
  const int32_t fileindex = int32_t(it - fFileLastLink.begin());
  const int32_t before = fileindex == 0 ? 0 : fFileLastLink[size_t(fileindex) - 1];
  return TImportError{fileindex, L - before, L, errorcode, value};
}

void TBaseImport::MergeErrors(const std::vector<TImportError>& Records) {
  // Both lists ascend by link; the report lists them in link order.
  std::vector<TImportError> all;
  all.reserve(size_t(fImportErrorList.Count()) + Records.size());
  for (int32_t i = 0; i < fImportErrorList.Count(); ++i) all.push_back(fImportErrorList.GetItem(i));
  const size_t mid = all.size();
  all.insert(all.end(), Records.begin(), Records.end());
  std::inplace_merge(all.begin(), all.begin() + ptrdiff_t(mid), all.end(),
                     [](const TImportError& a, const TImportError& b) { return a.link < b.link; });
  fImportErrorList.Clear();
  for (const TImportError& e : all) fImportErrorList.Add(e);
}

void TBaseImport::BuildLinkFile(const TXYTree& Tree, int32_t b1, int32_t b2) {
  const std::string& dir = RunDirectory();
  auto length = OpenRead(dir + cLengthFileName);
  auto link = Create(dir + cLinkFileName);
  T32Encryption enc(fEncryptionKey);
  enc.Restart();
  SetProgressStart(b1);
  SetProgressStop(b2);
  SetProgressMaxValue(fLinkCount);
  int64_t end = 0;
  for (int32_t L = 1; L <= fLinkCount; ++L) {
    ProgressExecute(L - 1);
    const float stored = enc.Decode(length->ReadUInt32());
    uint32_t from = 0, to = 0;
    if (stored != 0) {
      from = uint32_t(Tree.EndNode(end));
      to = uint32_t(Tree.EndNode(end + 1));
      end += 2;
    }
    // Written plain: the spatial-index builder reads it before the cipher.
    link->WriteUInt32(from);
    link->WriteUInt32(to);
    if (Cancelled()) break;
  }
  link->Close();
  length->Close();
  RemoveFile(fg1Filename);
  RemoveFile(fg2Filename);
}

void TBaseImport::BuildNodeFile(const TXYTree& Tree, int32_t b2, int32_t b3) {
  const std::string& dir = RunDirectory();
  const int32_t D = fMaxdegree;
  const int64_t slots = Tree.EndCount();
  std::vector<int32_t> nodes(size_t(1 + D + slots), 0);
  nodes[0] = D;
  for (int32_t d = D; d >= 1; --d) nodes[size_t(D - d + 1)] = Tree.GetLeg(d).last;
  // Next free slot of every node: the slots of degree d start after those of
  // every higher degree, d per node in id order.
  std::vector<int64_t> next(size_t(fNodeCount) + 1, 0);
  for (int32_t d = D; d >= 1; --d) {
    const TLeg leg = Tree.GetLeg(d);
    const int32_t firstId = Tree.GetLeg(d + 1).last + 1;
    for (int32_t id = firstId; id <= leg.last; ++id)
      next[size_t(id)] = int64_t(D) + 1 + leg.startpos + int64_t(id - firstId) * d;
  }
  auto link = OpenRead(dir + cLinkFileName);
  SetProgressStart(b2);
  SetProgressStop(b3);
  SetProgressMaxValue(fLinkCount);
  for (int32_t L = 1; L <= fLinkCount; ++L) {
    ProgressExecute(L - 1);
    // Links in ascending order fill each node's slots in ascending order; a
    // loop link takes two consecutive slots.
    for (int e = 0; e < 2; ++e) {
      const uint32_t id = link->ReadUInt32();
      if (id > 0) nodes[size_t(next[id]++)] = L;
    }
    if (Cancelled()) return;
  }
  link.reset();
  if (fEncryptionKey != 0) {
    T32Encryption enc(fEncryptionKey);
    enc.Restart();
    for (int32_t& v : nodes) v = int32_t(enc.Encode(uint32_t(v)));
  }
  auto node = std::make_unique<TKvFileStream>(dir + cNodeFileName, fmCreate);
  WriteInt32Array(*node, nodes.data(), int64_t(nodes.size()));
  node->Close();
}

void TBaseImport::CompleteCoordSys() {
  // EPSG 4326 and MapInfo datum 104 are WGS 84: beside a projection text
  // that names another datum they would contradict it.
  bool wgs84 = false;
  if (fCoordinateUnit == cuDeg) {
    if (fPrj.empty()) fPrj = cWGS84Prj;
    wgs84 = PrjNamesWgs84(fPrj);
    if (fEPSG == 0 && wgs84) fEPSG = 4326;
  }
  if (!fCoordSys.empty()) return;
  if (fCoordinateUnit == cuDeg) {
    if (wgs84) fCoordSys = "CoordSys Earth Projection 1, 104";
  } else if (const char* unit = NonEarthUnitName(fCoordinateUnit)) {
    fCoordSys = std::string("CoordSys NonEarth Units \"") + unit + "\" " +
                BoundsToStr(fMBR.xmin, fMBR.ymin, fMBR.xmax, fMBR.ymax);
  }
}

void TBaseImport::BuildSpatialIndex(int32_t b3) {
  TQuadTreeSetup qt;
  qt.SetDirectory(RunDirectory());
  qt.SetMaxNodesPerCell(fMaxNodesPerCell);
  qt.SetProgressStart(b3);
  qt.SetProgressStop(100);
  qt.SetOnProgress(OnProgress());
  qt.Build(fEncryptionKey, nullptr);
  FCancelled = qt.Cancelled();
}

void TBaseImport::EncipherLinkFile() {
  if (fEncryptionKey == 0) return;
  T32Encryption enc(fEncryptionKey);
  enc.Restart();
  TKvFileStream f(RunDirectory() + cLinkFileName, fmOpenReadWrite);
  const int64_t words = f.Size() / 4;
  constexpr int64_t cBlock = int64_t(1) << 20;
  std::vector<uint32_t> buf;
  for (int64_t i = 0; i < words; i += cBlock) {
    const int64_t n = std::min(cBlock, words - i);
    buf.resize(size_t(n));
    f.SetPosition(i * 4);
    f.ReadBuffer(buf.data(), int32_t(n * 4));
    for (uint32_t& w : buf) w = enc.Encode(w);
    f.SetPosition(i * 4);
    f.WriteBuffer(buf.data(), int32_t(n * 4));
  }
  f.Close();
}

}  // namespace kovra
