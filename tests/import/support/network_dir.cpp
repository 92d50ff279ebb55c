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
  line.push_back(CoordFrom[size_t(L - 1)]);
  for (int32_t k = Coord3i[size_t(L - 1)]; k < Coord3i[size_t(L)]; ++k) line.push_back(Coord3[size_t(k)]);
  line.push_back(CoordTo[size_t(L - 1)]);
  return line;
}

TNetworkDir ReadNetworkDir(const std::string& Dir, int64_t Key) {
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
