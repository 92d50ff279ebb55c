// "Open" and "Close" of the Manage Networks tab without the window: opening
// the current row's network with its options, writing the statistics report,
// releasing it again, and the state of the controls that follow from it. The
// window applies State() to its controls after each step; tests look at it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/core/studio_common.h"
#include "app/core/studio_networklist.h"
#include "app/core/studio_statistics.h"
#include "network/kovra_network.h"

namespace studio {

inline constexpr const char* cConfigFileName = "kovra_config.ini";

// What the controls show with a network open or none.
struct TOpenState {
  // The grid, the options panel, "Add", "Copy" and "Delete".
  bool ListEnabled = true;
  bool OpenEnabled = true;
  bool CloseEnabled = false;
  bool ImportGoEnabled = true;
  bool TopologyGoEnabled = false;
  // The Topology Checks output folder: the directory of the last network
  // opened; "" until one is.
  std::string TopologyOutputFolder;

  bool operator==(const TOpenState&) const = default;
};

// The state with no network open, keeping Folder as the output folder.
TOpenState ClosedState(std::string Folder = "");

// The per-link arrays and texts of an open network for the report: read-only
// views, valid while the network stays open. A ticked limit whose slot cannot
// be read (a lower limit skipped) gets no bytes.
StatsInput StatsInputOf(const kovra::TNetwork& Net, const NetworkRow& Row);

// The open and close commands on the network held in Current (the
// application's CurrentNetwork, borrowed).
class OpenNetwork {
public:
  explicit OpenNetwork(std::unique_ptr<kovra::TNetwork>& Current) : FCurrent(Current) {}

  const TOpenState& State() const { return FState; }

  // Opens Row's network into Current: directory and key, Open with the
  // options the directory allows, the turn file into turn set 0, road names
  // and limits 1..3; then returns the report. Any failure closes and frees
  // the network, leaves Current empty and the closed state, and raises the
  // error again; nothing on disk is written either way. An open network is
  // closed first.
  std::vector<std::string> Open(const NetworkRow& Row, kovra::TDistanceUnit Unit, const NumberFormat& Fmt,
                                const kovra::TProgressCancelEvent& OnProgress = {});
  // Closes and frees Current (nothing when none is open); the closed state
  // follows even when closing raises.
  void Close();

private:
  void Opened(const kovra::TNetwork& Net);

  std::unique_ptr<kovra::TNetwork>& FCurrent;
  TOpenState FState;
};

}  // namespace studio
