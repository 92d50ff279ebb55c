// Test support: polyline parts from point lists, for the writer tests.
#pragma once

#include <initializer_list>

#include "giswriter/kovra_giswriter.h"

namespace kovra::testsupport {

inline TFloatPointArrayEx Part(std::initializer_list<TFloatPoint> pts) {
  TFloatPointArrayEx p;
  p.Pnt.assign(pts);
  p.Count = int32_t(p.Pnt.size());
  return p;
}

inline void Section(TGISWriter& w, int32_t Index, std::initializer_list<TFloatPoint> pts) {
  auto p = Part(pts);
  w.AddSection(Index, p);
}

}  // namespace kovra::testsupport
