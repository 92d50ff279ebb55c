#include "import/support/network_dir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "foundation/kovra_encryption.h"
#include "support/test_files.h"

namespace kovra::testsupport {

namespace {

// The bytes of Dir/Name, or false when the file does not exist.
bool Load(const std::string& Dir, const std::string& Name, std::string& Bytes, TNetworkDir& Net) {
  const std::filesystem::path p = std::filesystem::path(Dir) / Name;
  if (!std::filesystem::is_regular_file(p)) return false;
  Bytes = ReadBytes(p.string());
  Net.Files.insert(Name);
  return true;
}

template <typename T>
T At(const std::string& Bytes, size_t Offset) {
  T v;
  std::memcpy(&v, Bytes.data() + Offset, sizeof v);
  return v;
}

std::vector<TFloatPoint> Points(const std::string& Bytes, const std::string& Name) {
  std::vector<TFloatPoint> out;
  if (Bytes.size() % 16 != 0) ADD_FAILURE() << Name << ": " << Bytes.size() << " bytes, not whole points";
  for (size_t k = 0; k + 16 <= Bytes.size(); k += 16)
    out.push_back({At<double>(Bytes, k), At<double>(Bytes, k + 8)});
  return out;
}

}  // namespace

std::vector<TFloatPoint> TNetworkDir::Polyline(int32_t L) const {
  std::vector<TFloatPoint> line;
  if (L < 1 || L > LinkCount() || size_t(L) >= Coord3i.size()) {
    ADD_FAILURE() << "no link " << L;
    return line;
  }
  const bool ends = Has("coordfrom.bin");
  auto node = [&](size_t k) {
    const uint32_t id = k < Link.size() ? Link[k] : 0;
    if (id == 0 || id > Coord.size()) {
      ADD_FAILURE() << "link " << L << " has no node " << id;
      return TFloatPoint{};
    }
    return Coord[id - 1];
  };
  line.push_back(ends ? CoordFrom[size_t(L - 1)] : node(2 * size_t(L - 1)));
  for (int32_t k = Coord3i[size_t(L - 1)]; k < Coord3i[size_t(L)]; ++k) line.push_back(Coord3[size_t(k)]);
  line.push_back(ends ? CoordTo[size_t(L - 1)] : node(2 * size_t(L - 1) + 1));
  return line;
}

int32_t TNetworkDir::Degree(int32_t n) const {
  const int32_t D = Node.empty() ? 0 : Node[0];
  // Entry k holds the last id of degree D - k + 1.
  for (int32_t k = 1; k <= D && size_t(k) < Node.size(); ++k)
    if (n <= Node[size_t(k)]) return D - k + 1;
  return 0;
}

std::vector<int32_t> TNetworkDir::Slots(int32_t n) const {
  // Slots of all nodes before n, each as many as its degree.
  const int32_t D = Node.empty() ? 0 : Node[0];
  size_t first = 1 + size_t(D);
  for (int32_t k = 1; k < n; ++k) first += size_t(Degree(k));
  const size_t count = size_t(Degree(n));
  if (first + count > Node.size()) {
    ADD_FAILURE() << "node.bin too short for node " << n;
    return {};
  }
  return std::vector<int32_t>(Node.begin() + ptrdiff_t(first), Node.begin() + ptrdiff_t(first + count));
}

TNetworkDir ReadNetworkDir(const std::string& Dir, int64_t Key, bool LinkEnciphered) {
  TNetworkDir net;
  std::string bytes;
  if (Load(Dir, "coordfrom.bin", bytes, net)) net.CoordFrom = Points(bytes, "coordfrom.bin");
  if (Load(Dir, "coordto.bin", bytes, net)) net.CoordTo = Points(bytes, "coordto.bin");
  if (Load(Dir, "coord3.bin", bytes, net)) {
    if (bytes.size() % 16 != 0) ADD_FAILURE() << "coord3.bin: " << bytes.size() << " bytes, not whole points";
    // Value m (byte 8m) is enciphered at position m.
    T32EncryptionArray cipher(Key);
    for (size_t k = 0; k + 16 <= bytes.size(); k += 16) {
      const int32_t m = int32_t(k / 8);
      net.Coord3.push_back({cipher.Decode(At<int64_t>(bytes, k), m), cipher.Decode(At<int64_t>(bytes, k + 8), m + 1)});
    }
  }
  if (Load(Dir, "coord3i.bin", bytes, net)) {
    if (bytes.size() % 4 != 0) ADD_FAILURE() << "coord3i.bin: " << bytes.size() << " bytes, not whole values";
    for (size_t k = 0; k + 4 <= bytes.size(); k += 4) net.Coord3i.push_back(At<int32_t>(bytes, k));
  }

  T32Encryption seq(Key);
  if (Load(Dir, "length.bin", bytes, net)) {
    if (bytes.size() % 4 != 0) ADD_FAILURE() << "length.bin: " << bytes.size() << " bytes, not whole values";
    seq.Restart();
    for (size_t k = 0; k + 4 <= bytes.size(); k += 4) net.Length.push_back(seq.Decode(At<uint32_t>(bytes, k)));
  }
  if (Load(Dir, "coord.bin", bytes, net)) {
    if (bytes.size() % 16 != 0) ADD_FAILURE() << "coord.bin: " << bytes.size() << " bytes, not whole points";
    seq.Restart();
    for (size_t k = 0; k + 16 <= bytes.size(); k += 16) {
      const double x = seq.Decode(At<int64_t>(bytes, k));
      net.Coord.push_back({x, seq.Decode(At<int64_t>(bytes, k + 8))});
    }
  }
  if (Load(Dir, "link.bin", bytes, net)) {
    if (bytes.size() % 8 != 0) ADD_FAILURE() << "link.bin: " << bytes.size() << " bytes, not whole links";
    seq.Restart();
    for (size_t k = 0; k + 4 <= bytes.size(); k += 4)
      net.Link.push_back(LinkEnciphered ? seq.Encode(At<uint32_t>(bytes, k)) : At<uint32_t>(bytes, k));
  }
  if (Load(Dir, "node.bin", bytes, net)) {
    if (bytes.size() % 4 != 0) ADD_FAILURE() << "node.bin: " << bytes.size() << " bytes, not whole values";
    seq.Restart();
    for (size_t k = 0; k + 4 <= bytes.size(); k += 4) net.Node.push_back(int32_t(seq.Encode(At<uint32_t>(bytes, k))));
  }
  if (net.Has("length.bin")) {
    if (net.Has("link.bin")) {
      EXPECT_EQ(net.Link.size(), 2 * net.Length.size()) << "link.bin and length.bin differ in links";
    }
    if (net.Has("coord3i.bin")) {
      EXPECT_EQ(net.Coord3i.size(), net.Length.size() + 1) << "coord3i.bin needs LinkCount + 1 values";
    }
  }

  // The vertex files describe the same links.
  if (net.Has("coordfrom.bin") && net.Has("coordto.bin")) {
    EXPECT_EQ(net.CoordFrom.size(), net.CoordTo.size()) << "coordfrom.bin and coordto.bin differ in links";
  }
  if (net.Has("coord3i.bin")) {
    if (net.Has("coordfrom.bin")) {
      EXPECT_EQ(net.Coord3i.size(), net.CoordFrom.size() + 1) << "coord3i.bin needs LinkCount + 1 values";
    }
    for (size_t k = 1; k < net.Coord3i.size(); ++k)
      if (net.Coord3i[k] < net.Coord3i[k - 1]) ADD_FAILURE() << "coord3i.bin decreases at value " << k;
    if (!net.Coord3i.empty() && net.Coord3i.front() != 0) ADD_FAILURE() << "coord3i.bin does not start at 0";
    if (net.Has("coord3.bin") && !net.Coord3i.empty()) {
      EXPECT_EQ(size_t(net.Coord3i.back()), net.Coord3.size()) << "coord3i.bin's last value is not coord3.bin's size";
    }
  }
  return net;
}

}  // namespace kovra::testsupport
