// Road-name pairs from a table column (through the network's builders) or
// from the read event.
#include "foundation/kovra_functions.h"
#include "foundation/kovra_io.h"
#include "import/kovra_import_mif.h"
#include "import/kovra_importattributes.h"
#include "network/kovra_stringtree.h"

namespace kovra {

namespace {

bool IsMidFile(const std::string& Name) {
  const size_t dot = Name.rfind('.');
  return dot != std::string::npos && Name.find('/', dot) == std::string::npos &&
         UpperAscii(std::string_view(Name).substr(dot)) == ".MID";
}

}  // namespace

void TImportAttributes::ExecuteRoadname(int32_t fieldindex, const std::string& fieldname, TFileKind fk) {
  FCancelled = false;
  CheckDirectory();
  if (ffiles.empty()) throw EFileMissing(cMsgNoInputFiles);
  TRoadNameFile builder;
  builder.SetOnProgress(OnProgress());
  builder.SetExpectedCount(ExpectedLinkCount());
  if (fk == fkDBF) {
    builder.Import2(ffiles, Directory(), FCodePageDbf, FRoadNameFileIndex, fieldindex, fieldname);
    return;
  }
  const std::string& first = ffiles.front();
  if (IsMidFile(first)) {
    const std::string mif = FindSibling(first, "mif");
    if (mif.empty()) throw Exception(cMsgMifMissing + first);
    const TMifHeader header = ReadMifHeader(mif);
    // The .mid is split as comma text: another delimiter would give every
    // link one wrong name.
    if (!header.CommaTextDelimiter())
      throw Exception(Format("Unsupported MID delimiter %s in %s", "\"" + header.Delimiter + "\"", mif));
    if (header.HasCharset) FCodePageCSV = header.CodePage();
    if (!fieldname.empty()) {
      // The whole name: a prefix would pick NAMEX for NAME when declared first.
      fieldindex = -1;
      for (size_t k = 0; k < header.Columns.size() && fieldindex < 0; ++k)
        if (SameTextAscii(header.Columns[k], fieldname)) fieldindex = int32_t(k);
      if (fieldindex < 0) throw Exception("Field " + UpperAscii(fieldname) + " not found in " + mif);
    }
  }
  if (fieldindex < 0) throw EInvalidFieldIndex(Format(cMsgNegativeFieldIndex, fieldindex));
  builder.Import1(ffiles, Directory(), FCodePageCSV, FRoadNameFileIndex, fieldindex);
}

void TImportAttributes::ExecuteRoadnameEvent() {
  if (!OnReadRoadName) return;
  CheckDirectory();
  const int32_t expected = ExpectedLinkCount();
  TStringTree tree;
  std::string name;
  std::u16string unit16;
  // One pass over the handler; Use gets each name as stored.
  auto pass = [&](auto&& Use) {
    int64_t count = 0;
    bool lastrecord = false;
    for (int32_t link = 1; !lastrecord; ++link) {
      name.clear();
      OnReadRoadName(this, link, name, lastrecord);
      // A blank, not an empty record: names all empty would give records of
      // width 0, which no reader can divide a file by.
      if (name.empty()) name = " ";
      unit16 = ToUtf16(name);
      Use(unit16);
      ++count;
    }
    return count;
  };
  const int64_t first = pass([&](const std::u16string& n) { tree.Add(n); });
  CheckRecordCount(first, expected);
  tree.CreateID();
  TFileReplacement names(Directory() + RoadNameFileName(FRoadNameFileIndex));
  tree.Write(names.Stream());
  TFileReplacement numbers(Directory() + RoadNumberFileName(FRoadNameFileIndex));
  TKvStream& out = numbers.Stream();
  const int64_t second = pass([&](const std::u16string& n) { tree.WriteKeyID(out, n); });
  if (second != first) throw Exception(Format(cMsgRoadNamePasses, first, second));
  names.Commit();
  numbers.Commit();
}

}  // namespace kovra
