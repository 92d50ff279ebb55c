// Test support of the road-name tests: input columns as comma-separated text,
// pairs built from them, the files' bytes, and the python3 oracle that
// decodes a pair and checks it against the input.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "network/kovra_roadnamefile.h"
#include "support/gdal_readback.h"
#include "support/temp_dir_test.h"

namespace kovra::testsupport {

// The Debian interpreter, which python3-icu (scripts/deps.sh) installs into.
inline constexpr const char* cPythonWithICU = "/usr/bin/python3";

class TRoadNameTest : public TTempDirTest {
protected:
  std::string Dir() const { return dir.string() + "/"; }

  // Lines `k,"value"` (value in UTF-8, quotes doubled) into Name, and the
  // values one per line into Name + ".values" for the oracle.
  std::string Csv(const std::string& Name, const std::vector<std::string>& Values) {
    std::string csv, lines;
    for (size_t k = 0; k < Values.size(); ++k) {
      std::string quoted;
      for (char c : Values[k]) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
      csv += std::to_string(k + 1) + ",\"" + quoted + "\"\n";
      lines += Values[k] + "\n";
    }
    Make(Name + ".values", lines);
    return Make(Name, csv);
  }

  // Pair FileNumber in the test's folder from Values, through the text builder.
  void Build(const std::vector<std::string>& Values, int32_t FileNumber = 1) {
    TRoadNameFile b;
    b.Import1({Csv("in.csv", Values)}, Dir(), 65001, FileNumber, 1);
  }

  std::string NameBytes(int32_t FileNumber = 1) const { return ReadBytes(fTemp.File(RoadNameFileName(FileNumber))); }
  std::string NumberBytes(int32_t FileNumber = 1) const {
    return ReadBytes(fTemp.File(RoadNumberFileName(FileNumber)));
  }

  // The oracle's verdict on pair FileNumber against the values of the last
  // Csv("in.csv", ...): "ok" or the faults it found.
  std::string Oracle(bool Collation, int32_t FileNumber = 1) const {
    std::string out;
    RunCommand(std::string(cPythonWithICU) + " " KOVRA_TEST_SCRIPTS_DIR "/roadname_oracle.py '" +
                   fTemp.File("in.csv.values") + "' '" + fTemp.File(RoadNameFileName(FileNumber)) + "' '" +
                   fTemp.File(RoadNumberFileName(FileNumber)) + "'" + (Collation ? " --collation" : "") + " 2>&1",
               &out);
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  }

  // The file names in the test's folder, sorted.
  std::vector<std::string> Listing() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
};

}  // namespace kovra::testsupport
