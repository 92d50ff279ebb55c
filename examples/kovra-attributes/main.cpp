// kovra-attributes: writes "attribute.bin", a limit file and a road-name pair
// into a network directory from table columns, then opens the network with
// them and prints the first links.
//
//   kovra-attributes -d NETDIR [--key K] [--attribute TABLE FIELD]
//                    [--limit N TABLE FIELD] [--roadname NN TABLE FIELD]
//                    [--externalid TABLE FIELD] [--show COUNT] [--named]
//
// With --externalid the column's values become text ids; each link shown is
// printed with its id and the link that id leads back to.
//
// TABLE is a .dbf/.dat (FIELD a name) or a .csv/.mid (FIELD a 0-based index,
// or for road names from a .mid the column name declared in its .mif).
#include <algorithm>
#include <cctype>
#include <iostream>
#include <string>

#include "foundation/kovra_functions.h"
#include "import/kovra_importattributes.h"
#include "network/kovra_network.h"

namespace {

int Usage() {
  std::cerr << "usage: kovra-attributes -d NETDIR [--key K] [--attribute TABLE FIELD]\n"
               "                        [--limit N TABLE FIELD] [--roadname NN TABLE FIELD]\n"
               "                        [--externalid TABLE FIELD] [--show COUNT] [--named]\n"
               "  --named: show only links with a road name\n";
  return 2;
}

bool IsText(const std::string& Table) {
  std::string ext = Table.size() >= 4 ? Table.substr(Table.size() - 4) : "";
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return ext == ".csv" || ext == ".mid";
}

// Runs one table-driven Execute on Table's column Field.
template <typename F>
void Column(kovra::TImportAttributes& A, const std::string& Table, const std::string& Field, F Execute) {
  A.Clear();
  A.Add(Table);
  const bool number = !Field.empty() && std::all_of(Field.begin(), Field.end(), [](unsigned char c) {
    return std::isdigit(c);
  });
  if (IsText(Table))
    Execute(number ? kovra::StrToInt(Field) : 0, number ? std::string() : Field, kovra::fkCSV);
  else
    Execute(0, Field, kovra::fkDBF);
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir, attrTable, attrField, limitTable, limitField, nameTable, nameField, idTable, idField;
  int32_t limitFile = 0, nameFile = 0, show = 10;
  bool named = false;
  int64_t key = 0;
  try {
    for (int i = 1; i < argc; ++i) {
      const std::string a = argv[i];
      auto value = [&]() -> std::string {
        if (i + 1 >= argc) throw kovra::Exception("missing value after " + a);
        return argv[++i];
      };
      if (a == "-d") dir = value();
      else if (a == "--key") key = kovra::StrToInt64(value());
      else if (a == "--attribute") {
        attrTable = value();
        attrField = value();
      } else if (a == "--limit") {
        limitFile = kovra::StrToInt(value());
        limitTable = value();
        limitField = value();
      } else if (a == "--roadname") {
        nameFile = kovra::StrToInt(value());
        nameTable = value();
        nameField = value();
      } else if (a == "--externalid") {
        idTable = value();
        idField = value();
      } else if (a == "--named") named = true;
      else if (a == "--show") show = kovra::StrToInt(value());
      else return Usage();
    }
    if (dir.empty()) return Usage();

    kovra::TImportAttributes imp;
    imp.SetDirectory(dir);
    imp.SetEncryptionKey(key);
    if (!attrTable.empty())
      Column(imp, attrTable, attrField,
             [&](int32_t i, const std::string& n, kovra::TFileKind fk) { imp.ExecuteAttribute(i, n, fk); });
    if (!limitTable.empty()) {
      imp.SetLimitFileIndex(limitFile);
      Column(imp, limitTable, limitField,
             [&](int32_t i, const std::string& n, kovra::TFileKind fk) { imp.ExecuteLimit(i, n, fk); });
    }

    if (!nameTable.empty()) {
      imp.SetRoadNameFileIndex(nameFile);
      Column(imp, nameTable, nameField,
             [&](int32_t i, const std::string& n, kovra::TFileKind fk) { imp.ExecuteRoadname(i, n, fk); });
    }
    if (!idTable.empty())
      Column(imp, idTable, idField,
             [&](int32_t i, const std::string& n, kovra::TFileKind fk) { imp.ExecuteExternalIDstring(i, n, fk); });

    kovra::TNetwork net;
    net.SetDirectory(dir);
    net.SetEncryptionKey(key);
    net.Open(!attrTable.empty(), false, false, idTable.empty() ? 0 : 1);
    if (limitFile > 0) net.OpenLimit(limitFile, 1, false);
    if (nameFile > 0) net.OpenRoadName(nameFile, true);
    std::cout << "links " << net.LinkCount() << "\n";
    // The first valid links: a rejected object has no values to show.
    int32_t shown = 0;
    for (int32_t l = 1; l <= net.LinkCount() && shown < show; ++l) {
      if (net.Lengths()[size_t(l)] == 0) continue;
      if (named && nameFile > 0 && net.Link2RoadName(nameFile, l).empty()) continue;
      ++shown;
      std::cout << "link " << l;
      if (!attrTable.empty()) {
        const uint16_t w = net.AttributeGet(l);
        std::cout << " attribute " << w << " class " << (w & kovra::cAttrRoadClass) << " oneway "
                  << ((w & kovra::cAttrOneway) >> 9);
      }
      if (limitFile > 0) std::cout << " limit" << limitFile << " " << int(net.GetLimit(1, l));
      if (nameFile > 0) std::cout << " name \"" << net.Link2RoadName(nameFile, l) << "\"";
      if (!idTable.empty()) {
        const std::string id = net.Link2ExternalID(l);
        std::cout << " id \"" << id << "\" -> link " << net.ExternalID2Link(id);
      }
      std::cout << "\n";
    }
    net.Close();
  } catch (const std::exception& e) {
    std::cerr << "kovra-attributes: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
