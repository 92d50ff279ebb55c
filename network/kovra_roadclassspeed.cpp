#include "network/kovra_roadclassspeed.h"

#include <cmath>

#include "foundation/kovra_functions.h"

namespace kovra {

namespace {

void CheckIndex(TRoadClass Index) {
  if (Index > cMaxRoadClass) throw EOutOfRange(Format(cMsgRoadClassIndex, Index));
}

// Miles to kilometres for the speed table: 1.609, not the 1.609344 used elsewhere.
constexpr double cSpeedMilesToKm = 1.609;

}  // namespace

float TRoadClassCustom::Get(TRoadClass Index) const {
  CheckIndex(Index);
  return Fspeed[Index];
}

void TRoadClassCustom::Put(TRoadClass Index, float Item) {
  (void)Item;
  CheckIndex(Index);
}

TRoadClassSpeed::TRoadClassSpeed() { Fspeed.fill(60.0f); }

void TRoadClassSpeed::Put(TRoadClass Index, float Item) {
  TRoadClassCustom::Put(Index, Item);
  // A NaN passes every comparison below and would end up in the time column.
  CheckFinite(Item);
  if (Item <= 0) throw EOutOfRange(Format(cMsgRoadClassSpeed, Item));
  Fspeed[Index] = Item;
}

void TRoadClassSpeed::LoadFromINI(TCustomIniFile& INI, const std::string& section, bool mph) {
  for (int i = 0; i <= cMaxRoadClass; ++i) {
    bool overflow = false;
    const double v = ParseFloatDot(INI.ReadString(section, "Speed" + IntToStr(i), "60"), overflow);
    if (overflow) continue;
    // Beyond the Single range the conversion gives an infinity: a failed value.
    const float s = float(v);
    if (!std::isfinite(s) || !(s > 0)) continue;
    const float speed = mph ? float(double(s) * cSpeedMilesToKm) : s;
    if (std::isfinite(speed)) Fspeed[size_t(i)] = speed;
  }
}

void TRoadClassSpeed::LoadFromINI(const std::string& filename, const std::string& section, bool mph) {
  TMemIniFile ini(filename);
  LoadFromINI(ini, section, mph);
}

void TRoadClassSpeed::LoadFromINI(const std::string& filename, const std::string& section) {
  TMemIniFile ini(filename);
  LoadFromINI(ini, section, ini.ReadString("Setup", "SpeedUnits", "Km") == "Mi");
}

void TRoadClassTurnCost::Put(TRoadClass Index, float Item) {
  TRoadClassCustom::Put(Index, Item);
  CheckFinite(Item);
  if (Item < 0) throw EOutOfRange(Format(cMsgRoadClassCost, Item));
  Fspeed[Index] = Item;
}

}  // namespace kovra
