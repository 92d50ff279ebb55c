// The CSV file sequence over up to three arbitrary files: its lines are the
// files' lines in order (empty files skipped), the typed reads give a value or
// the library's error, Position never goes back; and the comma-text rule gives
// back the same fields for their quoted join, and so does the rule of ".csv"
// files (commas only), which splits the lines of a file named so.
//
// Input: code-page selector, file count (and, in its upper bits, which files
// are named ".csv"), one length-prefixed piece per file, then the operations
// (one byte each: kind and field index).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/kovra_csvfiles.h"
#include "foundation/kovra_textfilereader.h"
#include "fuzz_support.h"

using namespace kovra;
using namespace kovra::fuzz;

namespace {

const uint16_t cPages[] = {1252, 65001, 1200, 932};

std::string QuotedJoin(const std::vector<std::string>& fields) {
  std::string s;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) s += ',';
    s += '"';
    for (char c : fields[i]) {
      if (c == '"') s += '"';
      s += c;
    }
    s += '"';
  }
  return s;
}

std::vector<std::string> SplitCsv(std::string_view line) {
  std::vector<std::string> fields;
  SplitCsvText(line, fields);
  return fields;
}

void CheckSplit(std::string_view line) {
  std::vector<std::string> fields = SplitCommaText(line);
  Check(SplitCommaText(QuotedJoin(fields)) == fields, "quoted join splits into other fields");
  // Reusing a list with stale items gives the same fields.
  std::vector<std::string> reused = {"x", "y", "z", "w"};
  SplitCommaText(line, reused);
  Check(reused == fields, "split into a used list differs");
  const std::vector<std::string> csv = SplitCsv(line);
  Check(SplitCsv(QuotedJoin(csv)) == csv, "quoted join splits into other .csv fields");
  reused = {"x", "y", "z", "w"};
  SplitCsvText(line, reused);
  Check(reused == csv, ".csv split into a used list differs");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TFuzzInput in(data, size);
  const uint16_t cp = cPages[in.Byte() % 4];
  const uint8_t fileByte = in.Byte();
  const int files = 1 + fileByte % 3;
  std::vector<std::string> names;
  std::vector<std::string> expected;
  std::vector<bool> csvRule;  // per line: its file is a ".csv" table
  for (int k = 0; k < files; ++k) {
    std::string_view bytes = in.Bytes(in.UInt16() % 512);
    const bool csvName = (fileByte >> (4 + k)) & 1;
    names.push_back(WriteFuzzFile("csv" + std::to_string(k) + (csvName ? ".csv" : ".txt"), bytes));
    TTextFileReader r(names.back(), cp);
    while (!r.Eof()) {
      expected.push_back(r.ReadLine());
      csvRule.push_back(csvName);
    }
  }
  for (const auto& l : expected) CheckSplit(l);

  TCSVFiles csv(cp);
  csv.Add(names);
  csv.Open();
  size_t next = 0;
  int64_t lastPos = csv.Position();
  while (!csv.Eof()) {
    Check(next < expected.size(), "more lines than the files hold");
    const uint8_t op = in.Byte();
    const int32_t field = int32_t(op >> 3) - 2;  // a few negative indexes too
    try {
      switch (op & 7) {
        case 0:
          Check(csv.ReadLine() == expected[next], "line differs from the file's");
          break;
        case 1: {
          std::vector<std::string> sl;
          csv.ReadLine(sl);
          Check(sl == (csvRule[next] ? SplitCsv(expected[next]) : SplitCommaText(expected[next])),
                "fields differ from the line's");
          break;
        }
        case 2: {
          std::string v = "old";
          csv.Read(field, v);
          break;
        }
        case 3: {
          int64_t v = 0;
          csv.Read(field, v);
          break;
        }
        case 4: {
          uint16_t v = 0;
          csv.Read(field, v);
          break;
        }
        case 5: {
          uint8_t v = 0;
          csv.Read(field, v);
          break;
        }
        default: {
          int32_t z1 = 0, z2 = 0;
          csv.Read_Z(field, int32_t(op & 3), z1, z2);
          Check(z1 >= -9 && z1 <= 9 && z2 >= -9 && z2 <= 9, "z-level outside -9..9");
          break;
        }
      }
    } catch (const Exception&) {
      // A bad value or index: the line is consumed all the same.
    }
    ++next;
    Check(csv.Position() >= lastPos, "Position went back");
    lastPos = csv.Position();
  }
  Check(next == expected.size(), "fewer lines than the files hold");
  Check(csv.ReadLine().empty(), "a line after the end");
  return 0;
}
