#include "app/core/studio_import.h"

#include <memory>

#include "foundation/kovra_functions.h"
#include "import/kovra_import.h"
#include "import/kovra_importattributes.h"

namespace studio {

const std::array<TCodePageEntry, cCodePageEntryCount> cCodePageEntries = {{
    {0, "Auto-detect codepage"},
    {437, "The original IBM PC code page"},
    {720, "Arabic"},
    {737, "Greek"},
    {775, "Estonian, Lithuanian and Latvian"},
    {850, "\"Multilingual (Latin-1)\" (Western European languages)"},
    {852, "\"Slavic (Latin-2)\" (Central and Eastern European languages)"},
    {855, "Cyrillic"},
    {857, "Turkish"},
    {858, "\"Multilingual\" with euro symbol"},
    {860, "Portuguese"},
    {861, "Icelandic"},
    {862, "Hebrew"},
    {863, "French (Quebec French)"},
    {865, "Danish/Norwegian"},
    {866, "Cyrillic"},
    {869, "Greek"},
    {874, "Thai"},
    {932, "Supports Japanese"},
    {936, "GBK Supports Simplified Chinese"},
    {949, "Supports Korean"},
    {950, "Supports Traditional Chinese"},
    {1200, "UTF-16LE Unicode little-endian"},
    {1201, "UTF-16BE Unicode big-endian"},
    {1250, "Central and East European Latin"},
    {1251, "Cyrillic"},
    {1252, "West European Latin"},
    {1253, "Greek"},
    {1254, "Turkish"},
    {1255, "Hebrew"},
    {1256, "Arabic"},
    {1257, "Baltic"},
    {1258, "Vietnamese"},
    {10000, "Macintosh Roman encoding (followed by several other Mac character sets)"},
    {10007, "Macintosh Cyrillic encoding"},
    {10029, "Macintosh Central European encoding"},
    {20127, "US-ASCII"},
    {28591, "ISO-8859-1"},
    {65000, "UTF-7 Unicode"},
    {65001, "UTF-8 Unicode"},
}};

std::string CodePageEntryText(int Entry) {
  const TCodePageEntry& e = cCodePageEntries.at(size_t(Entry));
  if (Entry == 0) return e.Description;
  return std::to_string(e.Number) + " \u2014 " + e.Description;
}

const TCoordPreset& PresetWGS84() {
  static const TCoordPreset p{
      "CoordSys Earth Projection 1, 104", 4326,
      "GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\",SPHEROID[\"WGS_1984\",6378137,298.257223563]],"
      "PRIMEM[\"Greenwich\",0],UNIT[\"Degree\",0.017453292519943295]]"};
  return p;
}

const TCoordPreset& PresetBNG() {
  // The PRJ text is kept as two pieces joined without a separator.
  static const TCoordPreset p{
      "CoordSys Earth Projection 8, 79, \"m\", -2, 49, 0.9996012717, 400000, -100000 Bounds (0, -100000) "
      "(2000000, 1900000)",
      27700,
      std::string("PROJCS[\"British_National_Grid\",GEOGCS[\"GCS_OSGB_1936\",DATUM[\"D_OSGB_1936\","
                  "SPHEROID[\"Airy_1830\",6377563.396,299.3249646]],PRIMEM[\"Greenwich\",0.0],"
                  "UNIT[\"Degree\",0.0174532925199433]],") +
          "PROJECTION[\"Transverse_Mercator\"],PARAMETER[\"False_Easting\",400000.0],"
          "PARAMETER[\"False_Northing\",-100000.0],PARAMETER[\"Central_Meridian\",-2.0],"
          "PARAMETER[\"Scale_Factor\",0.999601272],PARAMETER[\"Latitude_Of_Origin\",49.0],"
          "UNIT[\"Meter\",1.0]]"};
  return p;
}

// ---------------------------------------------------------------------------

std::optional<TImportPlan> BuildImportPlan(const TImportState& State,
                                           const std::function<bool(const std::string&)>& Ask) {
  // Before any Scan the lists are empty: nothing to choose from, nothing to do.
  if (!State.FieldsListed) throw kovra::Exception(cMsgScanFirst);
  if (State.AllowLoops && !Ask(cMsgAllowLoops)) return std::nullopt;

  using enum TFieldListId;
  auto field = [&State](TFieldListId id) { return State.Fields[size_t(id)]; };
  TImportPlan plan;
  plan.Files = State.Files;
  // Z-levels need both ends.
  if (field(flZFrom) >= 0 && field(flZTo) >= 0) {
    plan.ZFromField = field(flZFrom);
    plan.ZToField = field(flZTo);
  }
  plan.CoordSys = State.CoordSys;
  if (!State.EPSG.empty()) plan.EPSG = kovra::StrToInt(State.EPSG);
  plan.Prj = State.Prj;
  plan.AllowLoops = State.AllowLoops;
  plan.MaxNodesPerCell = kovra::StrToInt(State.MaxNodesPerCell);
  if (!State.EncryptionKey.empty()) plan.EncryptionKey = kovra::StrToInt(State.EncryptionKey);
  plan.Directory = State.OutputFolder;

  const std::string ext = State.Files.empty() ? std::string() : UpperExt(State.Files.front());
  plan.TableExt = ext == ".TAB" ? "DAT" : ext == ".SHP" ? "DBF" : "MID";
  plan.Kind = plan.TableExt == "MID" ? kovra::TFileKind::fkCSV : kovra::TFileKind::fkDBF;
  // Entry 0 hands on what the last Scan found; nothing is stored.
  plan.CodePage = State.CodePageEntry > 0 ? cCodePageEntries.at(size_t(State.CodePageEntry)).Number
                                          : State.ScanCodePage;

  using enum TAttributeStep;
  auto call = [&](TFieldListId id, TAttributeStep step, int32_t index) {
    if (field(id) >= 0) plan.Calls.push_back({step, index, field(id)});
  };
  call(flAttribute, asAttribute, 0);
  call(flExternalIDint, asExternalIDint, 0);
  call(flExternalIDstring, asExternalIDstring, 0);
  call(flRoadname1, asRoadname, 1);
  call(flRoadname2, asRoadname, 2);
  call(flRoadname3, asRoadname, 3);
  call(flLimit1, asLimit, 1);
  call(flLimit2, asLimit, 2);
  call(flLimit3, asLimit, 3);

  plan.RowAttributes = field(flAttribute) >= 0;
  plan.RowEncryption = int32_t(plan.EncryptionKey);
  return plan;
}

void CheckFileSets(const std::vector<std::string>& Files) {
  for (const std::string& f : Files)
    if (!FileSetValid(f)) throw kovra::Exception(cMsgFileNotValid + f);
}

int32_t RunImportPlan(const TImportPlan& Plan, const kovra::TProgressCancelEvent& Progress) {
  int32_t links = 0;
  {
    kovra::TImport import;
    for (const std::string& f : Plan.Files) import.Add(f);
    if (Plan.ZFromField >= 0) {
      import.SetZFromField(Plan.ZFromField);
      import.SetZToField(Plan.ZToField);
    }
    import.SetCoordSys(Plan.CoordSys);
    if (Plan.EPSG) import.SetEPSG(*Plan.EPSG);
    import.SetPrj(Plan.Prj);
    import.SetAllowLoops(Plan.AllowLoops);
    import.SetMaxNodesPerCell(Plan.MaxNodesPerCell);
    import.SetEncryptionKey(Plan.EncryptionKey);
    import.SetOnProgress(Progress);
    import.SetDirectory(Plan.Directory);
    import.Execute();
    import.CreateReport();
    links = import.LinkCount();
  }

  // The attribute tables beside the input files, by sibling lookup.
  const std::string ext = kovra::UpperAscii(Plan.TableExt);
  std::vector<std::string> tables;
  for (const std::string& f : Plan.Files) tables.push_back(kovra::TImport::RequiredCompanion(f, ext.c_str()));

  if (Plan.Kind == kovra::TFileKind::fkCSV) {
    int64_t lines = 0;
    for (const std::string& t : tables) lines += CountTextLines(t);
    if (lines != links) throw kovra::Exception(cMsgMidRecords);
  }
  if (Plan.Calls.empty()) return links;

  kovra::TImportAttributes attributes;
  attributes.SetCodepageCSV(Plan.CodePage);
  attributes.SetCodepageDbf(Plan.CodePage);
  attributes.SetEncryptionKey(Plan.EncryptionKey);
  for (const std::string& t : tables) attributes.Add(t);
  attributes.SetOnProgress(Progress);
  attributes.SetDirectory(Plan.Directory);
  for (const TAttributeCall& c : Plan.Calls) {
    switch (c.Step) {
      case TAttributeStep::asAttribute:
        attributes.ExecuteAttribute(c.Field, "", Plan.Kind);
        break;
      case TAttributeStep::asExternalIDint:
        attributes.ExecuteExternalIDint(c.Field, "", Plan.Kind, false);
        break;
      case TAttributeStep::asExternalIDstring:
        attributes.ExecuteExternalIDstring(c.Field, "", Plan.Kind);
        break;
      case TAttributeStep::asRoadname:
        attributes.SetRoadNameFileIndex(c.FileIndex);
        attributes.ExecuteRoadname(c.Field, "", Plan.Kind);
        break;
      case TAttributeStep::asLimit:
        attributes.SetLimitFileIndex(c.FileIndex);
        attributes.ExecuteLimit(c.Field, "", Plan.Kind);
        break;
    }
  }
  return links;
}

NetworkRow ImportedNetworkRow(const TImportPlan& Plan) {
  NetworkRow row = DefaultNetworkRow();
  row.Attributes = Plan.RowAttributes;
  row.Coord3cache = false;
  row.Encryption = Plan.RowEncryption;
  row.ExternalID = 0;
  row.Limit1 = row.Limit2 = row.Limit3 = 0;
  row.Path = Plan.Directory;
  row.Roadname = 0;
  row.SpatialIndex = true;
  row.Speed.fill(cDefaultSpeed);
  row.Turn.clear();
  return row;
}

}  // namespace studio
