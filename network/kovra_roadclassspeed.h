// Tables indexed by a link's road class (bits 0-4 of its attribute word): the
// driving speed per class, from which the network fills a time column, and a
// turn-cost weight per class for generated turn costs. A caller fills one and
// passes it to the network, which keeps no reference.
#pragma once

#include <array>
#include <string>

#include "foundation/kovra_types.h"
#include "platform/kovra_inifile.h"

namespace kovra {

inline constexpr const char* cMsgRoadClassIndex = "Index for RoadClass should be 0 to 31 (is %d)";
inline constexpr const char* cMsgRoadClassSpeed = "Speed for RoadClass should be >0 (is %n)";
inline constexpr const char* cMsgRoadClassCost = "Cost for RoadClass should be >=0 (is %n)";

class TRoadClassCustom : public TObject {
public:
  // Index 32 or more: EOutOfRange "Index for RoadClass should be 0 to 31 (is %d)".
  float Get(TRoadClass Index) const;
  // Checks Index (as Get) and stores nothing; the tables override it.
  virtual void Put(TRoadClass Index, float Item);

protected:
  std::array<float, cMaxRoadClass + 1> Fspeed{};
};

// Speeds in km/h, 60 for every class until changed.
class TRoadClassSpeed : public TRoadClassCustom {
public:
  TRoadClassSpeed();
  // The index check, then Item <= 0: EOutOfRange "Speed for RoadClass should
  // be >0 (is %n)"; a NaN or infinite Item raises the platform's math error.
  // Nothing changes on a failure.
  void Put(TRoadClass Index, float Item) override;

  // Speed0..Speed31 of section (default "60"), each read leniently with '.'
  // ("12abc" is 12, ".5" is 0.5, "abc" is 0). A value that does not give a
  // finite positive Single leaves its class unchanged; with mph the value is
  // multiplied by 1.609. Never raises for a missing section, key or bad value.
  void LoadFromINI(TCustomIniFile& INI, const std::string& section, bool mph);
  // The same from the file filename; a missing file reads as empty, so every
  // class gets the default 60.
  void LoadFromINI(const std::string& filename, const std::string& section, bool mph);
  // mph when key SpeedUnits of section Setup is exactly "Mi" (default "Km").
  void LoadFromINI(const std::string& filename, const std::string& section);
};

// Turn-cost weights in the user's cost unit, 0 for every class until changed.
class TRoadClassTurnCost : public TRoadClassCustom {
public:
  // The index check, then Item < 0: EOutOfRange "Cost for RoadClass should be
  // >=0 (is %n)"; a NaN or infinite Item raises the platform's math error.
  void Put(TRoadClass Index, float Item) override;
};

}  // namespace kovra
