// Creating, opening and closing a network. Every file is read in one pass of
// large blocks straight into its array, deciphered in place, and checked
// against the settings and the other files before anything uses it: sizes
// before allocating, then every value the graph relies on (link ends, the
// degree table, every adjacency slot), so that a damaged or wrongly keyed
// directory raises a clear error instead of being read as garbage.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "foundation/kovra_encryption.h"
#include "foundation/kovra_geometry.h"
#include "giswriter/kovra_giswriter.h"
#include "network/kovra_coord3file.h"
#include "network/kovra_externid.h"
#include "network/kovra_network.h"
#include "network/kovra_networkfile.h"
#include "network/kovra_quadtree.h"
#include "network/kovra_roadnamefile.h"
#include "network/kovra_turn.h"
#include "platform/kovra_codepage.h"

namespace kovra {

void RunAlphaShapeLoader();  // kovra_network_seams.cpp

namespace {


// Values per block: progress is reported after each.
inline constexpr int64_t cBlockValues = int64_t(1) << 20;

// One input file: the caller's stream, read from its position to its end, or
// the directory's file.
class TInput {
public:
  TInput(TKvStream* Caller, const std::string& Directory, const char* FileName) {
    if (Caller) {
      fStream = Caller;
      fName = FileName;
      fSize = Caller->Size() - Caller->Position();
    } else {
      fName = Directory + FileName;
      CheckFileExists(fName);
      fFile = std::make_unique<TKvFileStream>(fName, fmOpenRead | fmShareDenyWrite);
      fStream = fFile.get();
      fSize = fStream->Size();
    }
  }
  const std::string& Name() const { return fName; }
  int64_t Size() const { return fSize; }
  void Read(void* Dst, int64_t Bytes) {
    auto* p = static_cast<uint8_t*>(Dst);
    while (Bytes > 0) {
      const int32_t n = int32_t(std::min<int64_t>(Bytes, 1 << 30));
      fStream->ReadBuffer(p, n);
      p += n;
      Bytes -= n;
    }
  }
  uint32_t ReadUInt32() {
    uint32_t v;
    Read(&v, 4);
    return v;
  }

private:
  std::unique_ptr<TKvFileStream> fFile;
  TKvStream* fStream = nullptr;
  std::string fName;
  int64_t fSize = 0;
};

// Reads Count values of ValueBytes each in blocks: Where(first, n) gives the
// place of values first..first+n-1, Use(first, n) takes them once read;
// progress after each block.
template <typename WhereF, typename UseF>
void ReadBlocks(TInput& In, TProgressCancel& Progress, int64_t Count, int64_t ValueBytes, WhereF Where, UseF Use) {
  for (int64_t done = 0; done < Count;) {
    const int64_t n = std::min(cBlockValues, Count - done);
    In.Read(Where(done, n), ValueBytes * n);
    Use(done, n);
    done += n;
    Progress.ProgressExecute(double(done));
  }
}

void CheckSize(const TInput& In, int64_t Expected) {
  if (In.Size() != Expected) RaiseWrongFileSize(In.Name(), In.Size(), Expected);
}

// XOR of a block of 32-bit values with the running key stream; stops as soon
// as the key is spent, like the cipher itself.
void Decipher32(T32Encryption& Cipher, void* Data, int64_t Count) {
  auto* p = static_cast<uint8_t*>(Data);
  for (int64_t i = 0; i < Count && Cipher.KeyActive(); ++i, p += 4) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    v = Cipher.Encode(v);
    std::memcpy(p, &v, 4);
  }
}

void Decipher16(T32Encryption& Cipher, uint16_t* Data, int64_t Count) {
  for (int64_t i = 0; i < Count && Cipher.KeyActive(); ++i) Data[i] = Cipher.Encode(Data[i]);
}

}  // namespace

struct TNetwork::TLoadContext {
  explicit TLoadContext(int64_t Key) : Cipher(Key), Encrypted(Key != 0) {}
  T32Encryption Cipher;
  bool Encrypted;
  std::string LinkName;

  // Content that cannot be right: with a key, most likely the wrong key.
  [[noreturn]] void Corrupt(const std::string& Name, const std::string& Reason) const {
    if (Encrypted) throw EEncryptedData(Format(cMsgWrongKey, Name, Reason));
    RaiseCorrupted(Name, Reason);
  }
};

// ---------------------------------------------------------------------------

TNetwork::TNetwork() : FGISarray(std::make_unique<TGISArray>()) {
  RunAlphaShapeLoader();
  FCodepage = GetSystemAnsiCodePage();
}

TNetwork::~TNetwork() { Release(); }

void TNetwork::CheckFileExists(const std::string& Name) const { kovra::CheckFileExists(Directory() + Name); }

void TNetwork::SetCoordinateWindow(double value) {
  FCoordinateWindow = value;
  if (value >= 0) UpdateSearchWindow();
}

void TNetwork::UpdateSearchWindow() {
  FmbrX = GrowRectPercent(Fmbr, FCoordinateWindow);
  // A network on one horizontal (or vertical) line has a window of no height
  // (or width), and a percentage of nothing would refuse every point off the
  // line: such a side gets a fixed margin instead.
  const bool flatX = !(Fmbr.xmax > Fmbr.xmin), flatY = !(Fmbr.ymax > Fmbr.ymin);
  if (FCoordinateWindow > 0 && (flatX || flatY) && FDistfactor > 0) {
    const TFloatRect m = GrowRectKm(static_cast<const TFloatRect&>(Fmbr), FCoordinateUnit, FDistfactor, cFlatWindowMarginKm);
    if (flatX) {
      FmbrX.xmin = m.xmin;
      FmbrX.xmax = m.xmax;
    }
    if (flatY) {
      FmbrX.ymin = m.ymin;
      FmbrX.ymax = m.ymax;
    }
  }
}

void TNetwork::ReadSettings() {
  TConfig cfg;
  if (fOnConfig) {
    cfg = fOnConfig(this);
  } else {
    CheckFileExists(cConfigFileName);
    cfg = ReadConfig(Directory());
  }
  if (cfg.VersionCode != cNetworkVersion) throw EWrongVersion(cMsgWrongVersion);
  if (!cfg.Encrypted) fEncryptionKey = 0;
  if (cfg.Encrypted && fEncryptionKey == 0) throw EEncryptedData(cMsgSupplyKey);
  if (cfg.LinkCount < 0 || cfg.LinkCount == MaxInt)
    RaiseCorrupted(Directory() + cConfigFileName, Format("link count %d", cfg.LinkCount));
  Fepsg = cfg.Epsg;
  Fprj = cfg.Prj;
  Fcoordsys = cfg.CoordSys;
  FCoordinateUnit = cfg.Cu;
  FLinkCount = cfg.LinkCount;
  Fmbr = cfg.Mbr;
  FDistfactor = KmPerUnit(FCoordinateUnit);
}

void TNetwork::LoadLengths(TLoadContext& C) {
  TInput in(fLengthStream, Directory(), cLengthFileName);
  const int64_t L = FLinkCount;
  CheckSize(in, 4 * L);
  SetProgressMaxValue(double(L));
  SetProgressStart(0);
  SetProgressStop(8);
  FLength.assign(size_t(L) + 1, 0.0f);
  C.Cipher.Restart();
  ReadBlocks(
      in, *this, L, 4, [&](int64_t first, int64_t) { return FLength.data() + 1 + first; },
      [&](int64_t first, int64_t n) {
        float* p = FLength.data() + 1 + first;
        Decipher32(C.Cipher, p, n);
        for (int64_t i = 0; i < n; ++i)
          if (!(p[i] >= 0 && p[i] < std::numeric_limits<float>::infinity()))
            C.Corrupt(in.Name(), Format("length of link %d is not a finite number >= 0", int32_t(first + i + 1)));
      });
}

void TNetwork::LoadLinks(TLoadContext& C) {
  TInput in(fLinkStream, Directory(), cLinkFileName);
  C.LinkName = in.Name();
  const int64_t L = FLinkCount;
  CheckSize(in, 8 * L);
  SetProgressMaxValue(double(L));
  SetProgressStart(8);
  SetProgressStop(21);
  Fromnode.assign(size_t(L) + 1, 0);
  tonode.assign(size_t(L) + 1, 0);
  C.Cipher.Restart();
  std::vector<int32_t> block(size_t(2 * std::min(cBlockValues, L)));
  ReadBlocks(
      in, *this, L, 8, [&](int64_t, int64_t) { return block.data(); },
      [&](int64_t first, int64_t n) {
        Decipher32(C.Cipher, block.data(), 2 * n);
        for (int64_t i = 0; i < n; ++i) {
          Fromnode[size_t(first + i + 1)] = block[size_t(2 * i)];
          tonode[size_t(first + i + 1)] = block[size_t(2 * i + 1)];
        }
      });
}

void TNetwork::LoadCoords(TLoadContext& C) {
  TInput in(fCoordStream, Directory(), cCoordFileName);
  const int64_t size = in.Size();
  if (size % 16 != 0 || size / 16 >= MaxInt) RaiseWrongFileSize(in.Name(), size, std::min<int64_t>(size / 16, MaxInt - 1) * 16);
  const int64_t N = size / 16;
  FNodeCount = int32_t(N);
  SetProgressMaxValue(double(N));
  SetProgressStart(21);
  SetProgressStop(47);
  FX.assign(size_t(N) + 1, 0.0);
  FY.assign(size_t(N) + 1, 0.0);
  C.Cipher.Restart();
  std::vector<double> block(size_t(2 * std::min(cBlockValues, N)));
  ReadBlocks(
      in, *this, N, 16, [&](int64_t, int64_t) { return block.data(); },
      [&](int64_t first, int64_t n) {
        Decipher32(C.Cipher, block.data(), 4 * n);  // a Double is its low, then its high half
        for (int64_t i = 0; i < n; ++i) {
          const double x = block[size_t(2 * i)], y = block[size_t(2 * i + 1)];
          if (!std::isfinite(x) || !std::isfinite(y))
            C.Corrupt(in.Name(), Format("coordinate of node %d is not a finite number", int32_t(first + i + 1)));
          FX[size_t(first + i + 1)] = x;
          FY[size_t(first + i + 1)] = y;
        }
      });
  // Link ends can be checked only now that the node count is known.
  for (int64_t l = 1; l <= FLinkCount; ++l) {
    if (FLength[size_t(l)] == 0) continue;
    const int32_t f = Fromnode[size_t(l)], t = tonode[size_t(l)];
    if (f < 1 || f > N || t < 1 || t > N)
      C.Corrupt(C.LinkName, Format("link %d joins nodes %d and %d, not in 1..%d", int32_t(l), f, t, int32_t(N)));
  }
}

void TNetwork::LoadNodes(TLoadContext& C) {
  TInput in(fNodeStream, Directory(), cNodeFileName);
  const int64_t size = in.Size();
  if (size < 4) RaiseWrongFileSize(in.Name(), size, 4);
  C.Cipher.Restart();
  const int64_t D = int32_t(C.Cipher.Encode(in.ReadUInt32()));
  if (D < 0 || D > cMaxLinksAtNode) C.Corrupt(in.Name(), Format("highest degree %d is not in 0..255", int32_t(D)));
  if (size < 4 * (1 + D)) RaiseWrongFileSize(in.Name(), size, 4 * (1 + D));
  a.assign(size_t(D) + 2, 0);
  for (int64_t d = D; d >= 1; --d) a[size_t(d)] = int32_t(C.Cipher.Encode(in.ReadUInt32()));
  int64_t slots = 0;
  for (int64_t d = D; d >= 1; --d) {
    if (a[size_t(d)] < a[size_t(d) + 1])
      C.Corrupt(in.Name(), Format("degree table: %d nodes of degree %d or more, %d of degree %d or more",
                                  a[size_t(d)], int32_t(d), a[size_t(d) + 1], int32_t(d + 1)));
    slots += a[size_t(d)];
  }
  if (a[1] != FNodeCount)
    C.Corrupt(in.Name(), Format("degree table holds %d nodes, coord.bin %d", a[1], FNodeCount));
  CheckSize(in, 4 * (1 + D + slots));
  Fmaxdegree = int32_t(D);

  // Slot 1 of node n of degree d: after the groups of higher degree, at
  // (n - first node of the group) * d.
  FGroupBase.assign(size_t(D) + 1, 0);
  FDegree.assign(size_t(FNodeCount) + 1, 0);
  int64_t offset = 0;
  for (int64_t d = D; d >= 1; --d) {
    const int32_t first = a[size_t(d) + 1] + 1;
    FGroupBase[size_t(d)] = offset - int64_t(first) * d;
    std::fill(FDegree.begin() + first, FDegree.begin() + a[size_t(d)] + 1, uint8_t(d));
    offset += int64_t(a[size_t(d)] - a[size_t(d) + 1]) * d;
  }

  SetProgressMaxValue(2.0 * FLinkCount);
  SetProgressStart(47);
  SetProgressStop(60);
  FAdjacency.assign(size_t(slots), 0);
  ReadBlocks(
      in, *this, slots, 4, [&](int64_t first, int64_t) { return FAdjacency.data() + first; },
      [&](int64_t first, int64_t n) { Decipher32(C.Cipher, FAdjacency.data() + first, n); });

  // Every slot a valid link ending at its node; every valid link in exactly
  // its two slots (a loop twice at its node).
  std::vector<uint8_t> seen(size_t(FLinkCount) + 1, 0);
  for (int32_t node = 1; node <= FNodeCount; ++node) {
    const auto slotsOf = Adjacent(node);
    for (size_t k = 0; k < slotsOf.size(); ++k) {
      const int32_t l = slotsOf[k];
      const auto bad = [&](const char* why) {
        C.Corrupt(in.Name(), Format("slot %d of node %d holds link %d, %s", int32_t(k + 1), node, l, why));
      };
      if (l < 1 || l > FLinkCount) bad("not a link of the network");
      if (FLength[size_t(l)] == 0) bad("a rejected object");
      uint8_t& s = seen[size_t(l)];
      const bool from = Fromnode[size_t(l)] == node, to = tonode[size_t(l)] == node;
      if (from && to) {
        if (s >= 2) bad("a loop listed more than twice");
        ++s;
      } else if (from || to) {
        const uint8_t bit = from ? 1 : 2;
        if (s & bit) bad("listed twice at the same end");
        s |= bit;
      } else {
        bad("which does not end there");
      }
    }
  }
  for (int32_t l = 1; l <= FLinkCount; ++l) {
    if (FLength[size_t(l)] == 0) continue;
    const uint8_t want = Fromnode[size_t(l)] == tonode[size_t(l)] ? 2 : 3;
    if (seen[size_t(l)] != want) C.Corrupt(in.Name(), Format("link %d is not listed at both of its ends", l));
  }
}

void TNetwork::LoadSpatialIndex() {
  if (!fSpatialIndexStream) CheckFileExists(cSpatialIndexFileName);
  auto tree = std::make_unique<TQuadTree>();
  tree->SetDirectory(Directory());
  tree->SetProgressStart(60);
  tree->SetProgressStop(100);
  tree->SetOnProgress(OnProgress());
  if (fSpatialIndexStream)
    tree->LoadFromStream(*fSpatialIndexStream, FNodeCount, FLinkCount);
  else
    tree->Load(FNodeCount, FLinkCount);
  FQuadtree = std::move(tree);
}

void TNetwork::OpenExternalIDs(int32_t externalid) {
  FexternalID = std::make_shared<TExternalID>(fExternalIDIndex1Stream, fExternalIDIndex2Stream);
  if (externalid <= 0) return;
  FexternalID->SetDirectory(Directory());
  switch (externalid) {
    case 1: FexternalID->Open(false, false); break;
    case 2: FexternalID->Open(false, true); break;
    case 3: FexternalID->Open(true, true); break;
    default: return;
  }
  if (FexternalID->MaxIndex() != FLinkCount)
    RaiseCorrupted(fExternalIDIndex2Stream ? std::string(cIndex2FileName) : Directory() + cIndex2FileName,
                   Format("%d links, the network has %d", FexternalID->MaxIndex(), FLinkCount));
}

void TNetwork::OpenCoord3(bool Coord3Cache) {
  std::unique_ptr<TCoord3File> reader;
  if (fCoord3Stream && fCoord3iStream) {
    reader = std::make_unique<TCoord3File>(Coord3Cache, fEncryptionKey, fCoord3Stream, fCoord3iStream);
    reader->SetDirectory(Directory());
  } else {
    CheckFileExists(cCoord3FileName);
    CheckFileExists(cCoord3iFileName);
    reader = std::make_unique<TCoord3File>();
    reader->SetDirectory(Directory());
    reader->SetEncryptionKey(fEncryptionKey);
    reader->SetProgressStart(0);
    reader->SetProgressStop(100);
    if (Coord3Cache) reader->SetOnProgress(OnProgress());
    reader->Open(Coord3Cache);
  }
  if (reader->Count() != FLinkCount)
    RaiseCorrupted(fCoord3iStream && fCoord3Stream ? std::string(cCoord3iFileName) : Directory() + cCoord3iFileName,
                   Format("%d links, the network has %d", reader->Count(), FLinkCount));
  FCoord3file = std::move(reader);
}

void TNetwork::ComputeLengthAlpha() {
  FLengthAlpha = 0;
  for (int32_t l = 1; l <= FLinkCount; ++l) {
    const float len = FLength[size_t(l)];
    if (len == 0) continue;
    const double r = DistanceBetweenNodes_raw(Fromnode[size_t(l)], tonode[size_t(l)]) / len;
    // Past 1 the ratio may not fit a Single; it ends the scan either way.
    FLengthAlpha = r > 1 ? 1.0f : std::max(FLengthAlpha, float(r));
    if (double(FLengthAlpha) > 0.999) break;
  }
  if (double(FLengthAlpha) > 0.999) FLengthAlpha = 1;
}

void TNetwork::MarkCulDeSacs(TBitArray& B) const {
  B.SetSize(0);
  B.SetSize(int64_t(FLinkCount) + 1);
  const int32_t firstLeaf = Fmaxdegree >= 1 ? a[2] + 1 : 1;
  for (int32_t start = firstLeaf; start <= FNodeCount; ++start) {
    if (FDegree[size_t(start)] != 1) continue;
    int32_t node = start;
    int32_t slot = 0;  // 0-based
    // Every step marks a link; a walk longer than the link count is going round.
    for (int32_t steps = 0; steps < FLinkCount; ++steps) {
      const int32_t l = std::abs(Adjacent(node)[size_t(slot)]);
      B.SetBit2(l, true);
      node = Fromnode[size_t(l)] + tonode[size_t(l)] - node;
      const auto next = Adjacent(node);
      if (next.size() == 2) {
        slot = std::abs(next[0]) == l ? 1 : 0;
        continue;
      }
      int32_t open = 0;
      for (size_t k = 0; k < next.size(); ++k)
        if (!B.GetBit(std::abs(next[k]))) {
          ++open;
          slot = int32_t(k);
        }
      if (open != 1) break;
    }
  }
}

void TNetwork::Open(bool attributes, bool Coord3Cache, bool spatialindex, int32_t externalid) {
  Close();
  try {
    ReadSettings();
    UpdateSearchWindow();
    TLoadContext context(fEncryptionKey);
    LoadLengths(context);
    LoadLinks(context);
    LoadCoords(context);
    LoadNodes(context);
    FQuadtree.reset();
    if (spatialindex) LoadSpatialIndex();
    OpenExternalIDs(externalid);
    SetProgressStart(0);
    OpenCoord3(Coord3Cache);
    FDuplicates.clear();
    FAreaList.Clear();
    ComputeLengthAlpha();
    FTurnList.clear();
    FTurnList.push_back(std::make_unique<TTurnRestrictions>(FLinkCount));
    MarkCulDeSacs(FCDS);
    // Words of an earlier opening must not outlive it: the adjacency was just
    // read positive, so only all-zero words agree with it.
    Fattribute.assign(size_t(FLinkCount) + 1, 0);
    AttributeChanged();
    fLoopLinks = false;
    for (int32_t l = 1; l <= FLinkCount && !fLoopLinks; ++l)
      fLoopLinks = FLength[size_t(l)] != 0 && Fromnode[size_t(l)] == tonode[size_t(l)];
    ProgressExecuteZero();
    fIsOpen = true;
    ++fOpenGeneration;
    if (attributes) OpenAttributes();
  } catch (...) {
    Release();
    throw;
  }
}

void TNetwork::LoadAttributes(TWordArray& Words) {
  TInput in(fAttributeStream, Directory(), cAttributeFileName);
  const int64_t L = FLinkCount;
  CheckSize(in, 2 * L);
  SetProgressMaxValue(double(L));
  SetProgressStart(0);
  SetProgressStop(100);
  Words.assign(size_t(L) + 1, 0);
  T32Encryption cipher(fEncryptionKey);
  cipher.Restart();
  ReadBlocks(
      in, *this, L, 2, [&](int64_t first, int64_t) { return Words.data() + 1 + first; },
      [&](int64_t first, int64_t n) { Decipher16(cipher, Words.data() + 1 + first, n); });
}

void TNetwork::OpenAttributes() {
  CheckOpen();
  TWordArray words;
  LoadAttributes(words);
  Fattribute = std::move(words);
  AttributeChanged();
  UpdateAllNodeArraySigns();
  // Areas first: the duplicate search reads no area, but the order is the
  // one the calculators were built for.
  BuildAreas();
  FindDuplicateLinks();
  ProgressExecuteZero();
}

void TNetwork::OpenRoadName(int32_t RoadFileID, bool cache) {
  CheckOpen();
  if (RoadFileID < 1 || RoadFileID > cMaxRoadNameFiles)
    throw EOutOfRange(Format(cMsgRoadFileID, cMaxRoadNameFiles, RoadFileID));
  CloseRoadNameFile(RoadFileID);
  auto file = std::make_unique<TRoadNameFile>();
  file->Load(Directory(), cache, int32_t(uint32_t(uint64_t(fEncryptionKey))), RoadFileID, FLinkCount);
  FRoadNameFiles[size_t(RoadFileID)] = std::move(file);
}

void TNetwork::CloseRoadNameFile(int32_t RoadFileID) {
  auto& slot = FRoadNameFiles[size_t(RoadFileID)];
  if (!slot) return;
  slot->Close();
  slot.reset();
}

void TNetwork::CloseExternalID() {
  if (IsOpen() && FexternalID) FexternalID->Close();
}

void TNetwork::Close() {
  if (!IsOpen()) return;
  Release();
}

void TNetwork::Release() {
  const bool wasOpen = fIsOpen;
  fIsOpen = false;
  FLength = {};
  Fromnode = {};
  tonode = {};
  FAdjacency = {};
  FDegree = {};
  FGroupBase = {};
  a = {};
  FX = {};
  FY = {};
  FCost = {};
  FTime = {};
  for (auto& slot : FRoadNameFiles) slot.reset();
  FQuadtree.reset();
  FCoord3file.reset();
  FexternalID.reset();  // the last network sharing it frees it
  FCDS.SetSize(0);
  FDuplicates = {};
  {
    std::lock_guard<std::mutex> lock(fSearchGraphLock);
    fSearchGraph.reset();
  }
  FAreaList.Clear();
  FTurnList.clear();
  Fattribute = {};
  for (auto& limit : FlimitA) limit = {};
  FlimitBP = {};
  FlimitX = 0;
  if (wasOpen) ++fOpenGeneration;
}

}  // namespace kovra
