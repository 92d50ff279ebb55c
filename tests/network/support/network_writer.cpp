#include "network/support/network_writer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <numeric>
#include <stdexcept>
#include <utility>

#include "foundation/kovra_configfile.h"
#include "foundation/kovra_encryption.h"
#include "foundation/kovra_functions.h"
#include "foundation/kovra_geometry.h"
#include "foundation/kovra_io.h"
#include "network/kovra_quadtree.h"
#include "network/kovra_roadnamefile.h"
#include "network/kovra_stringtree.h"
#include "support/test_files.h"

namespace kovra::testsupport {

namespace {

constexpr double cPi = 3.14159265358979323846;

// The text as stored: cut to Width units or padded with Pad.
std::u16string Stored(const std::u16string& Id, int32_t Width, char16_t Pad) {
  std::u16string s = Id.substr(0, size_t(Width));
  s.resize(size_t(Width), Pad);
  return s;
}

}  // namespace

std::unique_ptr<TKvMemoryStream> MemoryStreamOf(const std::string& Bytes) {
  auto s = std::make_unique<TKvMemoryStream>();
  s->WriteBuffer(Bytes.data(), int32_t(Bytes.size()));
  s->SetPosition(0);
  return s;
}

TGridOptions GridForLinks(int64_t Links, int32_t MaxVertices) {
  // An n x n grid has 2 n (n - 1) links.
  int32_t n = 2;
  while (2 * int64_t(n) * (n - 1) < Links) ++n;
  TGridOptions o;
  o.Columns = o.Rows = n;
  o.MaxVertices = MaxVertices;
  return o;
}

// Where the files go: a directory or memory.
class TTestNetworkWriter::TSink {
public:
  virtual ~TSink() = default;
  virtual TKvStream& Open(const std::string& Name) = 0;
  // Completes the file opened last.
  virtual void Done() = 0;
};

int32_t TTestNetworkWriter::AddLink(const TFloatPointArray& Points, uint16_t Attribute) {
  if (Points.size() >= 2) fPoints.insert(fPoints.end(), Points.begin(), Points.end());
  fFirst.push_back(int64_t(fPoints.size()));
  if (Attribute != 0) SetAttribute(LinkCount(), Attribute);
  if (!fAttributes.empty()) fAttributes.resize(size_t(LinkCount()), 0);
  return LinkCount();
}

int32_t TTestNetworkWriter::AddRejected() { return AddLink({}); }

void TTestNetworkWriter::AddGrid(const TGridOptions& o) {
  const int64_t links = int64_t(o.Rows) * (o.Columns - 1) + int64_t(o.Columns) * (o.Rows - 1);
  fPoints.reserve(fPoints.size() + size_t(links) * (size_t(o.MaxVertices) / 2 + 2));
  fFirst.reserve(fFirst.size() + size_t(links));
  TFloatPointArray line;
  auto add = [&](TFloatPoint a, TFloatPoint b) {
    const uint32_t k = (uint32_t(LinkCount() + 1) * 2654435761u >> 16) % uint32_t(o.MaxVertices + 1);
    const double side = (LinkCount() % 2 ? 1 : -1) * o.Bulge * o.Spacing;
    // Unit normal of a horizontal or vertical link.
    const double nx = a.x == b.x ? 1 : 0, ny = a.x == b.x ? 0 : 1;
    line.assign(1, a);
    for (uint32_t v = 1; v <= k; ++v) {
      const double t = double(v) / double(k + 1), bow = side * std::sin(cPi * t);
      line.push_back({a.x + (b.x - a.x) * t + nx * bow, a.y + (b.y - a.y) * t + ny * bow});
    }
    line.push_back(b);
    AddLink(line);
  };
  for (int32_t j = 0; j < o.Rows; ++j)
    for (int32_t i = 0; i < o.Columns; ++i) {
      // Every end from its indices: p.x + Spacing need not equal
      // (i + 1) x Spacing (0.0009 degrees), which would split the node.
      const TFloatPoint p{i * o.Spacing, j * o.Spacing};
      if (i + 1 < o.Columns) add(p, {(i + 1) * o.Spacing, p.y});
      if (j + 1 < o.Rows) add(p, {p.x, (j + 1) * o.Spacing});
    }
}

void TTestNetworkWriter::AddSample() {
  AddLink({{0, 0}, {1, 1}, {2, 2}, {3, 1}, {4, 0}});
  AddLink({{4, 0}, {8, 0}});
  AddRejected();
  AddLink({{8, 0}, {6, 3}, {4, 0}});
  AddLink({{0, 0}, {-1, 2}, {-2, 1}, {0, 0}});
}

TFloatPointArray TTestNetworkWriter::Polyline(int32_t Link) const {
  return TFloatPointArray(fPoints.begin() + fFirst[size_t(Link) - 1], fPoints.begin() + fFirst[size_t(Link)]);
}

void TTestNetworkWriter::SetAttribute(int32_t Link, uint16_t Word) {
  if (Link < 1 || Link > LinkCount()) throw std::invalid_argument("attribute of a link that does not exist");
  fAttributes.resize(size_t(LinkCount()), 0);
  fAttributes[size_t(Link) - 1] = Word;
}

void TTestNetworkWriter::SetLimit(int32_t FileNumber, std::vector<uint8_t> PerLink) {
  fLimits[FileNumber] = std::move(PerLink);
}

void TTestNetworkWriter::SetExternalIDs(std::vector<int32_t> Ids) {
  fIdKind = TIdKind::Int32;
  fNumberIds.assign(Ids.begin(), Ids.end());
}

void TTestNetworkWriter::SetExternalIDs(std::vector<int64_t> Ids) {
  fIdKind = TIdKind::Int64;
  fNumberIds = std::move(Ids);
}

void TTestNetworkWriter::SetExternalIDs(std::vector<std::u16string> Ids, int32_t Width) {
  if (Width < 1 || Width > 254) throw std::invalid_argument("text ids need a width of 1 to 254");
  fIdKind = TIdKind::Text;
  fTextIds = std::move(Ids);
  fTextWidth = Width;
}

void TTestNetworkWriter::SetRoadNames(int32_t FileNumber, std::vector<std::string> Names) {
  if (FileNumber < 1 || FileNumber > 99) throw std::invalid_argument("road-name pairs are numbered 1 to 99");
  fRoadNames[FileNumber] = std::move(Names);
}

TFloatRect TTestNetworkWriter::Bounds() const {
  TFloatRect r = cEmptyRect;
  for (int32_t l = 1; l <= LinkCount(); ++l)
    for (int64_t p = fFirst[size_t(l) - 1]; p < fFirst[size_t(l)]; ++p) ExtendRect(r, fPoints[size_t(p)]);
  if (r.xmin > r.xmax) return cZeroRect;
  const double dx = (r.xmax - r.xmin) * 0.0005, dy = (r.ymax - r.ymin) * 0.0005;
  return {r.xmin - dx, r.ymin - dy, r.xmax + dx, r.ymax + dy};
}

void TTestNetworkWriter::Emit(TSink& Sink, bool EncipherLinks) const {
  const int32_t links = LinkCount();
  const double factor = KmPerUnit(Unit);

  // Lengths; a length of 0 makes a rejected object, as in the import.
  std::vector<double> length(size_t(links), 0);
  for (int32_t l = 0; l < links; ++l)
    for (int64_t p = fFirst[size_t(l)] + 1; p < fFirst[size_t(l) + 1]; ++p)
      length[size_t(l)] += SegmentLength(Unit, fPoints[size_t(p) - 1], fPoints[size_t(p)]);
  for (double& len : length) len *= factor;

  // Nodes: the distinct end points of the valid links, by descending degree,
  // then ascending (x, y). End e = 2 (link - 1) + (0 from, 1 to).
  std::vector<int64_t> ends;
  ends.reserve(2 * size_t(links));
  for (int32_t l = 0; l < links; ++l)
    if (length[size_t(l)] != 0) {
      ends.push_back(2 * int64_t(l));
      ends.push_back(2 * int64_t(l) + 1);
    }
  auto endPoint = [&](int64_t e) -> const TFloatPoint& {
    const size_t l = size_t(e / 2);
    return fPoints[size_t(e % 2 == 0 ? fFirst[l] : fFirst[l + 1] - 1)];
  };
  auto xyLess = [](const TFloatPoint& a, const TFloatPoint& b) { return a.x < b.x || (a.x == b.x && a.y < b.y); };
  std::sort(ends.begin(), ends.end(), [&](int64_t a, int64_t b) { return xyLess(endPoint(a), endPoint(b)); });
  struct TNode {
    TFloatPoint P;
    int32_t Degree;
  };
  std::vector<TNode> nodes;
  std::vector<int32_t> endNode(2 * size_t(links), 0);  // index into nodes, then the node id
  for (size_t i = 0; i < ends.size(); ++i) {
    if (i == 0 || endPoint(ends[i]) != endPoint(ends[i - 1])) nodes.push_back({endPoint(ends[i]), 0});
    ++nodes.back().Degree;
    endNode[size_t(ends[i])] = int32_t(nodes.size()) - 1;
  }
  std::vector<int32_t> order(nodes.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](int32_t a, int32_t b) { return nodes[size_t(a)].Degree > nodes[size_t(b)].Degree; });
  std::vector<int32_t> nodeId(nodes.size());
  for (size_t k = 0; k < order.size(); ++k) nodeId[size_t(order[k])] = int32_t(k) + 1;
  for (int64_t e : ends) endNode[size_t(e)] = nodeId[size_t(endNode[size_t(e)])];
  int32_t maxDegree = 0;
  for (const TNode& n : nodes) maxDegree = std::max(maxDegree, n.Degree);
  if (maxDegree > cMaxLinksAtNode) throw std::invalid_argument("more than 255 link ends at one point");

  T32Encryption cipher(Key);

  {
    TKvStream& s = Sink.Open("length.bin");
    cipher.Restart();
    for (double len : length) s.WriteUInt32(cipher.Encode(float(len)));
    Sink.Done();
  }
  {
    TKvStream& s = Sink.Open("coord.bin");
    cipher.Restart();
    for (int32_t k : order) {
      s.WriteInt64(cipher.Encode(nodes[size_t(k)].P.x));
      s.WriteInt64(cipher.Encode(nodes[size_t(k)].P.y));
    }
    Sink.Done();
  }
  {
    TKvStream& s = Sink.Open("link.bin");
    cipher.Restart();
    for (size_t e = 0; e < endNode.size(); ++e)
      s.WriteUInt32(EncipherLinks ? cipher.Encode(uint32_t(endNode[e])) : uint32_t(endNode[e]));
    Sink.Done();
  }
  {
    // Degree table, then each node's slots in id order; links in id order
    // fill the slots, so every node lists its links ascending.
    std::vector<int32_t> degreeOfId(nodes.size() + 1, 0);
    for (size_t k = 0; k < nodes.size(); ++k) degreeOfId[size_t(nodeId[k])] = nodes[k].Degree;
    std::vector<int64_t> slot(nodes.size() + 2, 0);
    for (size_t id = 1; id <= nodes.size(); ++id) slot[id + 1] = slot[id] + degreeOfId[id];
    std::vector<uint32_t> entries(1 + size_t(maxDegree) + size_t(slot[nodes.size() + 1]), 0);
    entries[0] = uint32_t(maxDegree);
    for (int32_t d = maxDegree; d >= 1; --d) {
      int32_t last = 0;
      for (size_t id = 1; id <= nodes.size(); ++id)
        if (degreeOfId[id] >= d) last = int32_t(id);
      entries[size_t(maxDegree - d) + 1] = uint32_t(last);
    }
    std::vector<int64_t> fill(slot);
    for (int32_t l = 0; l < links; ++l)
      if (length[size_t(l)] != 0)
        for (int e = 0; e < 2; ++e) {
          const int32_t id = endNode[2 * size_t(l) + size_t(e)];
          entries[1 + size_t(maxDegree) + size_t(fill[size_t(id)]++)] = uint32_t(l + 1);
        }
    TKvStream& s = Sink.Open("node.bin");
    cipher.Restart();
    for (uint32_t v : entries) s.WriteUInt32(cipher.Encode(v));
    Sink.Done();
  }
  {
    // Intermediate vertices: all but the first and last point of valid links.
    const T32EncryptionArray positional(Key);
    TKvStream& s3 = Sink.Open("coord3.bin");
    int64_t m = 0;
    std::vector<int32_t> index{0};
    index.reserve(size_t(links) + 1);
    for (int32_t l = 0; l < links; ++l) {
      if (length[size_t(l)] != 0)
        for (int64_t p = fFirst[size_t(l)] + 1; p + 1 < fFirst[size_t(l) + 1]; ++p) {
          s3.WriteInt64(positional.Encode(fPoints[size_t(p)].x, int32_t(uint32_t(m))));
          s3.WriteInt64(positional.Encode(fPoints[size_t(p)].y, int32_t(uint32_t(m + 1))));
          m += 2;
        }
      index.push_back(int32_t(m / 2));
    }
    Sink.Done();
    TKvStream& si = Sink.Open("coord3i.bin");
    for (int32_t v : index) si.WriteInt32(v);
    Sink.Done();
  }
  if (!fAttributes.empty()) {
    TKvStream& s = Sink.Open("attribute.bin");
    cipher.Restart();
    for (int32_t l = 0; l < links; ++l)
      s.WriteUInt16(cipher.Encode(l < int32_t(fAttributes.size()) ? fAttributes[size_t(l)] : uint16_t(0)));
    Sink.Done();
  }
  for (const auto& [number, bytes] : fLimits) {
    if (int64_t(bytes.size()) != links) throw std::invalid_argument("a limit file needs one byte per link");
    TKvStream& s = Sink.Open("limit" + std::to_string(number) + ".bin");
    cipher.Restart();
    for (uint8_t b : bytes) s.WriteByte(cipher.Encode(b));
    Sink.Done();
  }
  EmitExternalIDs(Sink);
  EmitRoadNames(Sink);
}

void TTestNetworkWriter::EmitRoadNames(TSink& Sink) const {
  for (const auto& [number, names] : fRoadNames) {
    if (int64_t(names.size()) != LinkCount()) throw std::invalid_argument("road names need one name per link");
    std::vector<std::u16string> stored;
    stored.reserve(names.size());
    for (const std::string& n : names) stored.push_back(ToUtf16(n.empty() ? " " : n));
    TStringTree tree;
    for (const std::u16string& n : stored) tree.Add(n);
    tree.CreateID();
    tree.Write(Sink.Open(RoadNameFileName(number)));
    Sink.Done();
    TKvStream& s = Sink.Open(RoadNumberFileName(number));
    for (const std::u16string& n : stored) tree.WriteKeyID(s, n);
    Sink.Done();
  }
}

void TTestNetworkWriter::EmitExternalIDs(TSink& Sink) const {
  if (fIdKind == TIdKind::None) return;
  const bool text = fIdKind == TIdKind::Text;
  const size_t count = text ? fTextIds.size() : fNumberIds.size();
  if (int64_t(count) != LinkCount()) throw std::invalid_argument("external ids need one id per link");
  if (Buckets < 1) throw std::invalid_argument("at least one bucket");
  const uint32_t mask = uint32_t(Buckets - 1);

  std::vector<std::u16string> stored;
  std::vector<std::vector<int32_t>> bucket(static_cast<size_t>(Buckets));
  for (size_t i = 0; i < count; ++i) {
    uint32_t b;
    if (text) {
      b = HashString(fTextIds[i], mask);
      stored.push_back(Stored(fTextIds[i], fTextWidth, TextPad));
    } else {
      b = uint32_t(uint64_t(fNumberIds[i])) & mask;
    }
    bucket[b].push_back(int32_t(i) + 1);
  }
  // Each bucket ascending by id: numbers signed, texts by code unit once unpadded.
  for (auto& links : bucket) {
    auto less = [&](int32_t a, int32_t b) {
      if (text) return TrimView(stored[size_t(a) - 1]) < TrimView(stored[size_t(b) - 1]);
      return fNumberIds[size_t(a) - 1] < fNumberIds[size_t(b) - 1];
    };
    std::sort(links.begin(), links.end(), less);
    for (size_t k = 1; k < links.size(); ++k)
      if (!less(links[k - 1], links[k])) throw std::invalid_argument("external ids are not unique");
  }

  TKvStream& s1 = Sink.Open("index1.bin");
  switch (fIdKind) {
    case TIdKind::Int32:
      s1.WriteInt32(0);
      for (int64_t v : fNumberIds) s1.WriteInt32(int32_t(v));
      break;
    case TIdKind::Int64:
      s1.WriteInt32(-1);
      for (int64_t v : fNumberIds) s1.WriteInt64(v);
      break;
    default:
      s1.WriteInt32(fTextWidth + (WideBucketStarts ? 256 : 0));
      for (const std::u16string& id : stored)
        for (char16_t c : id) s1.WriteUInt16(uint16_t(c));
      break;
  }
  Sink.Done();

  const bool wide = text && WideBucketStarts;
  TKvStream& s2 = Sink.Open("index2.bin");
  s2.WriteInt32(Buckets);
  int64_t offset = 4 + int64_t(Buckets) * (wide ? 8 : 4);
  for (const auto& links : bucket) {
    if (wide)
      s2.WriteInt64(offset);
    else
      s2.WriteInt32(int32_t(offset));
    offset += 4 * int64_t(links.size());
  }
  for (const auto& links : bucket)
    for (int32_t l : links) s2.WriteInt32(l);
  Sink.Done();
}

void TTestNetworkWriter::Write(const std::string& Directory) const {
  class TDirectory final : public TSink {
  public:
    explicit TDirectory(std::string Dir) : fDir(std::move(Dir)) {}
    TKvStream& Open(const std::string& Name) override {
      fStream = std::make_unique<TKvBufferedStream>(new TKvFileStream(fDir + Name, fmCreate), true);
      return *fStream;
    }
    void Done() override {
      fStream->Close();
      fStream.reset();
    }

  private:
    std::string fDir;
    std::unique_ptr<TKvBufferedStream> fStream;
  };
  const std::string dir = Directory.empty() || Directory.back() == '/' ? Directory : Directory + "/";
  TDirectory sink(dir);
  Emit(sink, !SpatialIndex);
  WriteConfig(dir, Key != 0, Unit, CoordSys, Prj, Epsg, LinkCount(), Bounds());
  if (!SpatialIndex) return;
  TQuadTreeSetup builder;
  builder.SetDirectory(dir);
  builder.SetMaxNodesPerCell(MaxNodesPerCell);
  builder.Build(Key, nullptr);
  if (Key == 0) return;
  std::string links = ReadBytes(dir + "link.bin");
  T32Encryption cipher(Key);
  cipher.Restart();
  for (size_t i = 0; i + 4 <= links.size(); i += 4) {
    uint32_t v;
    std::memcpy(&v, links.data() + i, 4);
    v = cipher.Encode(v);
    std::memcpy(links.data() + i, &v, 4);
  }
  WriteBytes(dir + "link.bin", links);
}

std::map<std::string, std::string> TTestNetworkWriter::Files() const {
  class TMemory final : public TSink {
  public:
    TKvStream& Open(const std::string& Name) override {
      fName = Name;
      fStream = std::make_unique<TKvMemoryStream>();
      return *fStream;
    }
    void Done() override {
      Files[fName].assign(static_cast<const char*>(fStream->Memory()), size_t(fStream->Size()));
      fStream.reset();
    }
    std::map<std::string, std::string> Files;

  private:
    std::string fName;
    std::unique_ptr<TKvMemoryStream> fStream;
  };
  if (SpatialIndex) {
    // The builder reads a directory.
    TTempDir temp("kovra_network_writer");
    Write(temp.Path.string());
    std::map<std::string, std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(temp.Path))
      if (e.path().filename() != cConfigFileName) files[e.path().filename().string()] = ReadBytes(e.path().string());
    return files;
  }
  TMemory sink;
  Emit(sink, true);
  return std::move(sink.Files);
}

}  // namespace kovra::testsupport
