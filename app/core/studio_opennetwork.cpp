#include "app/core/studio_opennetwork.h"

#include <filesystem>
#include <system_error>

#include "network/kovra_networkfile.h"

namespace studio {

namespace {

bool IsFile(const std::string& Name) {
  std::error_code ec;
  return std::filesystem::is_regular_file(Name, ec);
}

}  // namespace

TOpenState ClosedState(std::string Folder) {
  TOpenState s;
  s.TopologyOutputFolder = std::move(Folder);
  return s;
}

StatsInput StatsInputOf(const kovra::TNetwork& Net, const NetworkRow& Row) {
  StatsInput in;
  in.Directory = Net.Directory();
  in.Coordsys = Net.Coordsys();
  in.EPSG = Net.EPSG();
  in.PRJ = Net.PRJ();
  in.Unit = Net.CoordinateUnit();
  in.LinkCount = Net.LinkCount();
  in.NodeCount = Net.NodeCount();
  in.MaxDegree = Net.MaxDegree();
  in.MBR = Net.MBR();
  in.Lengths = Net.Lengths();
  in.Fromnodes = Net.Fromnodes();
  in.Tonodes = Net.Tonodes();
  in.CulDeSacs = Net.CulDeSacs().Words();
  in.Attributes = Row.Attributes;
  in.AttributeWords = Net.Attributes();
  const int32_t limits[] = {Row.Limit1, Row.Limit2, Row.Limit3};
  for (int32_t k = 1; k <= 3; ++k) {
    in.LimitTicked[size_t(k - 1)] = limits[k - 1] != 0;
    // The network reads a slot only when every slot below it is loaded too.
    if (k <= Net.LimitSlots()) in.Limits[size_t(k - 1)] = Net.Limits(k);
  }
  return in;
}

std::vector<std::string> OpenNetwork::Open(const NetworkRow& Row, kovra::TDistanceUnit Unit, const NumberFormat& Fmt,
                                           const kovra::TProgressCancelEvent& OnProgress) {
  Close();
  try {
    // An empty directory would mean the process's current folder.
    if (Row.Path.empty()) throw kovra::EFileMissing(kovra::Format(kovra::cMsgFileMissing, cConfigFileName));
    FCurrent = std::make_unique<kovra::TNetwork>();
    kovra::TNetwork& net = *FCurrent;
    net.SetOnProgress(OnProgress);
    net.SetDirectory(Row.Path);
    net.SetEncryptionKey(Row.Encryption);
    const std::string& dir = net.Directory();
    const bool attributes = Row.Attributes && IsFile(dir + "attribute.bin");
    const bool spatialindex = Row.SpatialIndex && IsFile(dir + "spatialindex.bin");
    const int32_t externalid = IsFile(dir + "index1.bin") ? Row.ExternalID : 0;
    net.Open(attributes, Row.Coord3cache, spatialindex, externalid);
    if (!Row.Turn.empty()) {
      net.CreateArrayTurn(1);
      net.TurnImportTxt(0, Row.Turn);
    }
    if (Row.Roadname >= 1 && Row.Roadname <= 99) net.OpenRoadName(Row.Roadname, false);
    const int32_t limits[] = {Row.Limit1, Row.Limit2, Row.Limit3};
    for (int32_t k = 1; k <= 3; ++k)
      if (limits[k - 1] != 0) net.OpenLimit(k, k, limits[k - 1] == 2);
    std::vector<std::string> report = StatisticsReport(StatsInputOf(net, Row), Unit, Fmt);
    Opened(net);
    return report;
  } catch (...) {
    // Back to the closed state, so another network can be opened without a
    // restart.
    if (FCurrent) {
      try {
        FCurrent->Close();
      } catch (...) {
      }
      FCurrent.reset();
    }
    FState = ClosedState(FState.TopologyOutputFolder);
    throw;
  }
}

void OpenNetwork::Opened(const kovra::TNetwork& Net) {
  FState.ListEnabled = false;
  FState.OpenEnabled = false;
  FState.ImportGoEnabled = false;
  FState.CloseEnabled = true;
  FState.TopologyGoEnabled = true;
  FState.TopologyOutputFolder = Net.Directory();
}

void OpenNetwork::Close() {
  std::unique_ptr<kovra::TNetwork> net = std::move(FCurrent);
  FState = ClosedState(FState.TopologyOutputFolder);
  if (net) net->Close();
}

}  // namespace studio
