// The statistics report of an open network: the lines of the Statistics tab.
// A pure function of counts, texts and read-only per-link arrays, so it runs
// as well on the arrays of an open network as on arrays a test makes up.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "app/core/studio_common.h"
#include "foundation/kovra_types.h"

namespace studio {

// Kilometres in a mile and square kilometres in a square mile, as the report
// has always used them.
inline constexpr double cStatKmPerMile = 1.609;
inline constexpr double cStatKm2PerSqMile = 2.588881;

struct StatsInput {
  std::string Directory;
  std::string Coordsys;
  int32_t EPSG = 0;
  std::string PRJ;
  kovra::TCoordinateUnit Unit = kovra::cuUnknown;
  int32_t LinkCount = 0;  // L
  int32_t NodeCount = 0;
  int32_t MaxDegree = 0;
  kovra::TFloatRect MBR;
  // The per-link arrays hold links 1..L at their index (element 0 unused).
  // Length 0 marks an invalid link.
  std::span<const float> Lengths;
  std::span<const int32_t> Fromnodes, Tonodes;
  // Cul-de-sac flags, bit i of the words (least significant first) for link i.
  std::span<const uint32_t> CulDeSacs;
  // The row's "Open Attributes": the attribute blocks are written. Without
  // words (attributes not opened) every link reads 0.
  bool Attributes = false;
  std::span<const uint16_t> AttributeWords;
  // Limit k + 1: reported when ticked; its bytes must then be loaded
  // (at least L + 1 of them), else "Invalid limitID".
  std::array<bool, 3> LimitTicked{};
  std::array<std::span<const uint8_t>, 3> Limits;
};

// The report's lines in order. Raises kovra::Exception "Invalid limitID" for a
// ticked limit without its bytes, and EInvalidParameter for a per-link array
// shorter than L + 1.
std::vector<std::string> StatisticsReport(const StatsInput& In, kovra::TDistanceUnit Unit, const NumberFormat& Fmt);

}  // namespace studio
