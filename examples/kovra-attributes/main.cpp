// kovra-attributes: writes "attribute.bin", a limit file and a road-name pair
// into a network directory from table columns, then opens the network with
// them and prints the first links. Run with --help for the options.
#include <algorithm>
#include <cctype>
#include <iostream>
#include <string>

#include "../common/example_args.h"
#include "foundation/kovra_functions.h"
#include "import/kovra_importattributes.h"
#include "network/kovra_network.h"

namespace {

using kovra::example::TArgError;

const char* const cHelp =
    "usage: kovra-attributes -d NETDIR [options]\n"
    "\n"
    "Writes value files into a network directory from columns of a table whose\n"
    "record n belongs to link n (the table of the imported file, or one made\n"
    "from it in the same order), then opens the network with them and prints\n"
    "the first links with their values.\n"
    "\n"
    "TABLE is a .dbf or .dat table (FIELD a field name) or a .csv or .mid table\n"
    "(FIELD a 0-based column number; for road names from a .mid also the column\n"
    "name its .mif declares, matched as a whole name).\n"
    "\n"
    "  -d NETDIR                  the network directory (required).\n"
    "  --attribute TABLE FIELD    the attribute word of each link (attribute.bin):\n"
    "                             road class in bits 0-4, one-way in bits 9-10\n"
    "                             (512: only with the digitising direction, 1024:\n"
    "                             only against it).\n"
    "  --limit N TABLE FIELD      vehicle limit N (1 to 9, limitN.bin), values 0-255.\n"
    "  --roadname NN TABLE FIELD  road-name file NN (1 to 99).\n"
    "  --externalid TABLE FIELD   text external ids of the links (index1.bin, ...);\n"
    "                             each link shown is printed with its id and the\n"
    "                             link that id leads back to.\n"
    "  --key K                    the network's encryption key; default 0.\n"
    "  --show COUNT               links to print (default 10; 0 prints none);\n"
    "                             links of rejected objects are passed over.\n"
    "  --named                    print only links that have a road name (with\n"
    "                             --roadname).\n"
    "  -h, --help                 this text.\n"
    "\n"
    "Exit status: 0 on success; 1 when writing or opening failed; 2 for a wrong\n"
    "call (nothing is written).\n"
    "\n"
    "examples:\n"
    "  kovra-attributes -d mynet --attribute attr.dbf ATTR --limit 1 attr.dbf MAXSPEED\n"
    "  kovra-attributes -d mynet --roadname 1 roads.dbf name --named\n"
    "  kovra-attributes -d mynet --externalid roads.csv 0 --show 3\n";

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

int Main(int argc, char** argv) {
  std::string dir, attrTable, attrField, limitTable, limitField, nameTable, nameField, idTable, idField;
  int32_t limitFile = 0, nameFile = 0, show = 10;
  bool named = false;
  int64_t key = 0;
  {
    kovra::example::TArgs args(argc, argv);
    while (args.More()) {
      const std::string a = args.Next();
      if (a == "-d") dir = args.Value(a);
      else if (a == "--key") key = args.Int(a, INT64_MIN, INT64_MAX);
      else if (a == "--attribute") {
        attrTable = args.Value(a);
        attrField = args.Value(a);
      } else if (a == "--limit") {
        limitFile = int32_t(args.Int(a, 1, 9));
        limitTable = args.Value(a);
        limitField = args.Value(a);
      } else if (a == "--roadname") {
        nameFile = int32_t(args.Int(a, 1, 99));
        nameTable = args.Value(a);
        nameField = args.Value(a);
      } else if (a == "--externalid") {
        idTable = args.Value(a);
        idField = args.Value(a);
      } else if (a == "--named") named = true;
      else if (a == "--show") show = int32_t(args.Int(a, 0, INT32_MAX));
      else kovra::example::UnknownOption(a);
    }
    if (dir.empty()) throw TArgError("-d NETDIR is missing");
    kovra::example::RequireFolder("-d", dir);
    if (!attrTable.empty()) kovra::example::RequireFile("--attribute", attrTable);
    if (!limitTable.empty()) kovra::example::RequireFile("--limit", limitTable);
    if (!nameTable.empty()) kovra::example::RequireFile("--roadname", nameTable);
    if (!idTable.empty()) kovra::example::RequireFile("--externalid", idTable);
    if (named && nameTable.empty()) throw TArgError("--named needs --roadname");
  }
  {
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
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return kovra::example::Run("kovra-attributes", cHelp, argc, argv, [&] { return Main(argc, argv); });
}
