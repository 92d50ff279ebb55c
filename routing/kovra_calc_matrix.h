// Private to routing/: what the route matrices, their outputs and the route
// pairs share. Scope guards put back every setting a run changes for its
// duration, also when the run fails; the row text is built here so that
// every output quotes and formats alike.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "foundation/kovra_bitarray.h"
#include "foundation/kovra_functions.h"
#include "routing/kovra_calc.h"

namespace kovra::calcmatrix {

// Puts a variable back to the value it had when the guard was made.
template <class T>
class TRestore {
public:
  explicit TRestore(T& Ref) : fRef(Ref), fOld(Ref) {}
  ~TRestore() { fRef = std::move(fOld); }
  TRestore(const TRestore&) = delete;
  TRestore& operator=(const TRestore&) = delete;

private:
  T& fRef;
  T fOld;
};

}  // namespace kovra::calcmatrix

namespace kovra {

// Sets the vehicle values to 0 for a run and puts them back on every exit,
// preparing the limit test for the restored values (the run's searches
// prepared it for theirs).
class TCalc::TLimitRestore {
public:
  explicit TLimitRestore(TCalc& C) : fC(C), fLimit(C.fS.Flimit), fAny(C.fS.Fanylimit) {
    fC.fS.Flimit.fill(0);
    fC.fS.Fanylimit = false;
    fC.PrepareLimits();
  }
  ~TLimitRestore() {
    fC.fS.Flimit = fLimit;
    fC.fS.Fanylimit = fAny;
    fC.PrepareLimits();
  }
  TLimitRestore(const TLimitRestore&) = delete;
  TLimitRestore& operator=(const TLimitRestore&) = delete;

private:
  TCalc& fC;
  std::array<uint8_t, 9> fLimit;
  bool fAny;
};

// Puts every setting back on every exit; the largest-link cost of the run's
// criterion is dropped and the limit test prepared for the restored values.
class TCalc::TSettingsRestore {
public:
  explicit TSettingsRestore(TCalc& C) : fC(C), fSaved(C.fS) {}
  ~TSettingsRestore() {
    fC.fS = fSaved;
    fC.ClearMaxICost();
    fC.PrepareLimits();
  }
  TSettingsRestore(const TSettingsRestore&) = delete;
  TSettingsRestore& operator=(const TSettingsRestore&) = delete;

private:
  TCalc& fC;
  TCalcSettings fSaved;
};

}  // namespace kovra

namespace kovra::calcmatrix {

// The include-node window of a run: owned here, lent to the calculator's
// searches, withdrawn when the run ends.
class TIncludeWindow {
public:
  TIncludeWindow(TCalc& C, std::unique_ptr<TBitArray> Window) : fC(C), fWindow(std::move(Window)) {
    fC.SetIncludeNodes(fWindow.get());
  }
  ~TIncludeWindow() { fC.SetIncludeNodes(nullptr); }
  TIncludeWindow(const TIncludeWindow&) = delete;
  TIncludeWindow& operator=(const TIncludeWindow&) = delete;

private:
  TCalc& fC;
  std::unique_ptr<TBitArray> fWindow;
};

// A label of an id column: bare (trimmed, as the column type was guessed
// from the trimmed text) in an integer column, else in double quotes with
// inner quotes doubled, so that a quote in a label cannot shift the columns.
inline std::string LabelText(const std::string& Label, bool Bare) {
  if (Bare) return std::string(TrimView(Label));
  std::string s;
  s.reserve(Label.size() + 2);
  s += '"';
  for (const char ch : Label) {
    if (ch == '"') s += '"';
    s += ch;
  }
  s += '"';
  return s;
}

// The text of an id value: the label of position i when a list is given,
// else the position.
inline std::string IdText(const TCalc::TLabelList* SL, int32_t i, bool Bare) {
  return SL ? LabelText((*SL)[size_t(i)], Bare) : IntToStr(i);
}

// The duration text of a text Time column. An unreached pair keeps its -1:
// as a duration it would read "0s", the same as a pair at the same place.
inline std::string DurationText(double Minutes) {
  return Minutes == -1 ? std::string("\"-1\"") : MinutesToQuotedStr(Minutes);
}

// Puts the items of a caller's list back unless the run that changes them
// commits: a failed output leaves the list as it was.
class TListRestore {
public:
  explicit TListRestore(TLocationList& LL) : fLL(LL) {
    fItems.reserve(size_t(LL.Count()));
    for (int32_t i = 0; i < LL.Count(); ++i) fItems.push_back(LL.GetItem(i));
  }
  ~TListRestore() {
    if (fCommitted) return;
    for (int32_t i = 0; i < int32_t(fItems.size()) && i < fLL.Count(); ++i) fLL.SetItem(i, fItems[size_t(i)]);
  }
  TListRestore(const TListRestore&) = delete;
  TListRestore& operator=(const TListRestore&) = delete;
  void Commit() { fCommitted = true; }

private:
  TLocationList& fLL;
  std::vector<TLocationListItem> fItems;
  bool fCommitted = false;
};

// Values joined by "," in column order.
class TRowText {
public:
  void Clear() { fText.clear(), fFirst = true; }
  void Add(const std::string& v) {
    if (!fFirst) fText += ',';
    fText += v;
    fFirst = false;
  }
  const std::string& Text() const { return fText; }

private:
  std::string fText;
  bool fFirst = true;
};

// km, or miles with duMiles; the -1 of a pair without a route stays -1.
inline double InUnit(double km, TDistanceUnit unit, bool reached) {
  return reached && unit == duMiles ? km / 1.609344 : km;
}

// The value columns of a pair output (route matrices) and how its labels
// are written.
struct TPairColumns {
  bool dist = false, time = false, cost = false, directdist = false;
  bool timeText = false;  // "Time" is the duration text
  bool bare1 = false, bare2 = false;
};

// Raises message when SL is given with another count than the list's.
void CheckLabels(const TCalc::TLabelList* SL, int32_t count, const char* message);
// Pen, header and columns "ID_from", "ID_to", Distance, Time, Cost and
// DirectDist (those asked) of a pair output.
TPairColumns DeclarePairColumns(const TCalc& C, TGISWriter& W, const TCalc::TLabelList* SL1,
                                const TCalc::TLabelList* SL2, bool dist, bool time, bool cost, bool directdist,
                                bool geometry);
// Appends the value columns of a pair row: v holds km, minutes and cost (-1
// each when not reached); directKm the straight-line km.
void PairValuesText(const TCalc& C, const TPairColumns& pc, const TCalc::TRowValues& v, bool reached,
                    double directKm, TRowText& text);
// Calls Row for every pair in output order, reporting the running pair
// count: i < j of one list when symmetric, else every (i, j) but the
// diagonal of one list object.
void ForEachPair(TProgress& P, int32_t n1, int32_t n2, bool same, bool symmetric,
                 const std::function<void(int32_t, int32_t)>& Row);

}  // namespace kovra::calcmatrix
