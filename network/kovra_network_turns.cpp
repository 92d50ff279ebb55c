// Turn sets of the network: the checked adds every generator goes through,
// the set-level operations and the text file with external ids.
#include <charconv>
#include <vector>

#include "foundation/kovra_textfilewriter.h"
#include "platform/kovra_codepage.h"
#include "network/kovra_externid.h"
#include "network/kovra_network.h"
#include "network/kovra_turn.h"

namespace kovra {

namespace {

// A text id the reader would split or lose (blanks and controls separate
// fields, commas too, quotes start a quoted field; an empty field vanishes)
// is quoted with its inner quotes doubled.
void AppendId(std::string& line, const std::string& id) {
  bool quote = id.empty();
  for (const char c : id)
    if (static_cast<unsigned char>(c) <= 0x20 || c == ',' || c == '"') {
      quote = true;
      break;
    }
  if (!quote) {
    line += id;
    return;
  }
  line += '"';
  for (const char c : id) {
    if (c == '"') line += '"';
    line += c;
  }
  line += '"';
}

}  // namespace

// ---------------------------------------------------------------------------
// Checked adds

bool TNetwork::HasZeroLength(std::span<const int32_t> links) const {
  for (const int32_t l : links)
    if (FLength[size_t(l)] == 0) return true;
  return false;
}

bool TNetwork::LinksShareNode(int32_t link1, int32_t link2) const {
  const int32_t f1 = Fromnode[size_t(link1)], t1 = tonode[size_t(link1)];
  const int32_t f2 = Fromnode[size_t(link2)], t2 = tonode[size_t(link2)];
  return t1 == f2 || t1 == t2 || f1 == f2 || f1 == t2;
}

bool TNetwork::TurnBlockedByOneWay(int32_t link1, int32_t link2) const {
  const int32_t f1 = Fromnode[size_t(link1)], t1 = tonode[size_t(link1)];
  const int32_t f2 = Fromnode[size_t(link2)], t2 = tonode[size_t(link2)];
  const int32_t o1 = OneWayCode(link1), o2 = OneWayCode(link2);
  // Links joining the same two nodes meet at both; either may be the junction.
  if ((t1 == f2 && f1 == t2) || (f1 == f2 && t1 == t2)) return false;
  if (t1 == f2 && (o1 == 2 || o2 == 2)) return true;
  if (t1 == t2 && (o1 == 2 || o2 == 1)) return true;
  if (f1 == f2 && (o1 == 1 || o2 == 2)) return true;
  if (f1 == t2 && (o1 == 1 || o2 == 1)) return true;
  return false;
}

void TNetwork::AddTurnChecked(int32_t index, int32_t link1, int32_t link2, float value) {
  // Rejected links have both ends 0, so two of them would seem to meet.
  if (FLength[size_t(link1)] == 0 || FLength[size_t(link2)] == 0) return;
  if (value == -1 && TurnBlockedByOneWay(link1, link2)) return;
  if (LinksShareNode(link1, link2)) FTurnList[size_t(index)]->AddSimple(link1, link2, value);
}

void TNetwork::AddTurnListChecked(int32_t index, const TTurnRestriction& restriction) {
  const std::span<const int32_t> links = restriction.links;
  for (const int32_t l : links) CheckLinkRange(l);
  if (HasZeroLength(links)) return;
  if (restriction.value == -1)
    for (size_t i = 1; i < links.size(); ++i)
      if (TurnBlockedByOneWay(links[i - 1], links[i])) return;
  for (size_t i = 1; i < links.size(); ++i)
    if (!LinksShareNode(links[i - 1], links[i])) return;
  FTurnList[size_t(index)]->Add(restriction);
}

// ---------------------------------------------------------------------------
// Set operations

void TNetwork::CreateArrayTurn(int32_t n) {
  CheckOpen();
  FTurnList.reserve(size_t(std::max<int32_t>(n, 0)));
  while (int32_t(FTurnList.size()) < n) FTurnList.push_back(std::make_unique<TTurnRestrictions>(FLinkCount));
}

void TNetwork::TurnRestriction(int32_t index, int32_t link1, int32_t link2, float cost) {
  CheckTurnIndex(index);
  CheckLink(link1);
  CheckLink(link2);
  AddTurnChecked(index, link1, link2, cost);
}

void TNetwork::TurnRestrictionComplex(int32_t index, int32_t link1, int32_t link2, int32_t link3, int32_t link4,
                                      int32_t link5, int32_t link6, float cost) {
  CheckTurnIndex(index);
  CheckLink(link1);
  CheckLink(link2);
  int32_t links[6] = {link1, link2};
  size_t n = 2;
  for (const int32_t l : {link3, link4, link5, link6}) {
    if (l == 0) continue;
    CheckLink(l);
    links[n++] = l;
  }
  AddTurnListChecked(index, {std::span<const int32_t>(links, n), cost});
}

void TNetwork::TurnClear(int32_t index) {
  CheckTurnIndex(index);
  FTurnList[size_t(index)]->Clear();
}

void TNetwork::TurnReset(int32_t index) { TurnClear(index); }

int32_t TNetwork::TurnCount(int32_t index) const {
  CheckTurnIndex(index);
  return FTurnList[size_t(index)]->Count();
}

void TNetwork::TurnSwap(int32_t index) {
  CheckTurnIndex(index);
  FTurnList[size_t(index)] = FTurnList[size_t(index)]->Swap();
}

void TNetwork::TurnExportBin(int32_t index, const std::string& filename) const {
  CheckTurnIndex(index);
  FTurnList[size_t(index)]->ExportBin(filename);
}

void TNetwork::TurnImportBin(int32_t index, const std::string& filename) {
  CheckTurnIndex(index);
  FTurnList[size_t(index)]->ImportBin(filename);
}

void TNetwork::TurnExportTxt(int32_t index, const std::string& filename) const {
  CheckTurnIndex(index);
  FTurnList[size_t(index)]->ExportTxt(filename);
}

void TNetwork::TurnExportTxt2(int32_t index, const std::string& filename) const {
  CheckTurnIndex(index);
  CheckExternalOpen();
  const TTurnRestrictions& set = *FTurnList[size_t(index)];
  // The external-id file names every link, rejected ones too, so ids are read
  // straight from it: a restriction on a link of length 0 (which the binary
  // import lets in) is written like any other.
  std::vector<std::string> ids;
  TIntegerList list;
  std::string line;
  TTextFileWriter w(filename, cCodePageUTF8, false);
  w.writeln(cTurnFileHeader);
  for (int32_t link = 1; link <= FLinkCount; ++link) {
    if (!set.GetList(link, list)) continue;
    for (int32_t k = 0; k < list.Count(); ++k) {
      const TTurnRestriction tr = set.GetTR(list.GetItem(k));
      line.assign(tr.links.size() == 2 ? "0 " : "5 ");
      for (const int32_t l : tr.links) {
        CheckLinkRange(l);
        AppendId(line, FromUtf16(FexternalID->FindExternalid(l)));
        line += ' ';
      }
      line += TurnValueText(tr.value);
      w.writeln(line);
    }
  }
  w.Close();
}

}  // namespace kovra
