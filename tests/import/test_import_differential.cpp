// Byte-identical output of the whole import: a generated network of 100k
// links in each input format, imported plain and with a key and z-levels,
// must give the same bytes in every file of the network directory as the
// build these hashes were taken from. Every speed change of the reading,
// node merge, file writing or spatial index is held to this.
//
// The inputs come from scripts/make-network-input (fixed seed) through
// ogr2ogr; the hashes were taken with GDAL 3.6, whose MIF number text and TAB
// coordinate quantisation they depend on. Under another GDAL the hashes of
// the MIF and TAB cases may change without any fault in the import: take
// them again from the same commit on both versions before trusting a diff.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "import/kovra_import.h"
#include "support/gdal_readback.h"
#include "support/test_files.h"

using namespace kovra;
using namespace kovra::testsupport;
namespace fs = std::filesystem;

namespace {

constexpr int32_t cLinks = 100000;
constexpr int64_t cKey = 0x5DEECE66D2B1F3A7;

struct TInputFormat {
  const char* Name;  // file name of the generated input
  const char* Args;  // ogr2ogr arguments of the generator
};
const TInputFormat cShp{"roads.shp", ""};
const TInputFormat cMif{"roads.mif", "-f 'MapInfo File' -dsco FORMAT=MIF"};
const TInputFormat cTab{"roads.tab", "-f 'MapInfo File'"};

struct TCase {
  const char* Label;
  const TInputFormat* Format;
  bool Keyed;  // with the key and the z-level fields zfrom, zto
  const char* Hashes;  // "sha256  name" lines of the output folder, sorted by name
};

// Taken with the untuned build (commit 7f0bc09, before the speed work) from
// the generator's jittered grid of chains. The settings file and the spatial
// index were taken again when the bounds came to be written with every digit
// they need (the index is built on the bounds read back); every other file
// kept its bytes then.
const TCase cCases[] = {
    {"shp_plain", &cShp, false, R"(
5fb4834be8a996eb148090f06f24bb9ee9ff1d299f1d177a1ba72be34543f925  coord.bin
92d0f7229e997fce0d7a1933e1a8bb423bd817d5f0787ddb4433c0854d67f709  coord3.bin
2f40c2bda4c87fb4876d02feb7b72c0255633ee45abdbe639966e98c2791fb86  coord3i.bin
79c2ffd533a8e3a7f9993fde7ded333500b94b96761d2afe495f30012f13ca21  kovra_config.ini
7073382a7b20705ae65997b7d01202041e17a69eeffd77ab381fbf70719f0337  length.bin
79e9235b360ff071a6a85b8bf32b0f5bc058781aa322772a78862ff85885180d  link.bin
07e8da4e4436aaf5279fcf12c432476b3ae7bdc2a232a1cf28f115c0de58846e  network_report.txt
640b8a5443445ed198f8db991a6ada03ce54b82342dea02607859860960f6960  node.bin
3666d10874b1c9815db86932d080c9d77009cacbf4125ffaa94034a600484a26  spatialindex.bin
)"},
    {"shp_keyed", &cShp, true, R"(
5655312814ac280c75c9d4e3bcac48f29c1e64c85c47f349efd021af99f31be8  coord.bin
93a0656b0b5e155df5e5a78a4487356f6b17e52f2d4c46512f238d4bdedfb553  coord3.bin
2f40c2bda4c87fb4876d02feb7b72c0255633ee45abdbe639966e98c2791fb86  coord3i.bin
43f24807c62834ed6bbbd8a46549676e7747645d1acd2470cc9e234aeec51f0d  kovra_config.ini
ee1e3e3de1bea9a7012e14a6cdd3c5107c79e07bed807607a632aa77efdb1ae0  length.bin
4ee1eac38c53404effad7b818c3bd19c7fda7cad3325e77d55918c91ea310f7d  link.bin
7a13783305a6a57bafec79d3006862bfad4bf9eaa839e2e432bd049aa93f9d41  network_report.txt
3cd5014703350380f9a6f81448db6931d342850958c67cc24c89504daf447fcc  node.bin
5b257a47c05147eb3905889c384d831dc2957bf0b8f4e6cba262c7e86b3f6374  spatialindex.bin
)"},
    {"mif_plain", &cMif, false, R"(
5fb4834be8a996eb148090f06f24bb9ee9ff1d299f1d177a1ba72be34543f925  coord.bin
92d0f7229e997fce0d7a1933e1a8bb423bd817d5f0787ddb4433c0854d67f709  coord3.bin
2f40c2bda4c87fb4876d02feb7b72c0255633ee45abdbe639966e98c2791fb86  coord3i.bin
96362cf301d02fae410ddf4adc4ef69c282b486fe767f2105bd0d96e2fbb0654  kovra_config.ini
7073382a7b20705ae65997b7d01202041e17a69eeffd77ab381fbf70719f0337  length.bin
79e9235b360ff071a6a85b8bf32b0f5bc058781aa322772a78862ff85885180d  link.bin
b4c709265024e677b3218ceeb87b7faa15337855e4cf029796d02d1e1687551e  network_report.txt
640b8a5443445ed198f8db991a6ada03ce54b82342dea02607859860960f6960  node.bin
3666d10874b1c9815db86932d080c9d77009cacbf4125ffaa94034a600484a26  spatialindex.bin
)"},
    {"mif_keyed", &cMif, true, R"(
5655312814ac280c75c9d4e3bcac48f29c1e64c85c47f349efd021af99f31be8  coord.bin
93a0656b0b5e155df5e5a78a4487356f6b17e52f2d4c46512f238d4bdedfb553  coord3.bin
2f40c2bda4c87fb4876d02feb7b72c0255633ee45abdbe639966e98c2791fb86  coord3i.bin
2bd6124ea0479b87158888675d8b721da9ce601cc770994f6bc882cc6905de3e  kovra_config.ini
ee1e3e3de1bea9a7012e14a6cdd3c5107c79e07bed807607a632aa77efdb1ae0  length.bin
4ee1eac38c53404effad7b818c3bd19c7fda7cad3325e77d55918c91ea310f7d  link.bin
49e23aea45ddfa10a4d759f4a402a30d27dcae13c3368d337c8a20f2ac4a660d  network_report.txt
3cd5014703350380f9a6f81448db6931d342850958c67cc24c89504daf447fcc  node.bin
5b257a47c05147eb3905889c384d831dc2957bf0b8f4e6cba262c7e86b3f6374  spatialindex.bin
)"},
    {"tab_plain", &cTab, false, R"(
0af0fe1f4713366515540bf3b7f21ec6a51c3b9a5494cfc18814bb5af02b3596  coord.bin
38cd63eac6e1f4f8d4c53d29ee0e0750ede5dddc693d416bb1118f2e151cdc95  coord3.bin
2f40c2bda4c87fb4876d02feb7b72c0255633ee45abdbe639966e98c2791fb86  coord3i.bin
4bd2cf05902bb0b56b781dedd4711fb8f4601bf33d7127d0d1a8cdc7ee545296  kovra_config.ini
194308e5ece24310a81f7c8b04734ffeed28f609128c8bdb606323b65aeb78f3  length.bin
dd7c9a6c4c70c368a040a2adcd99b12d524dadceaa01c67f61dffe8721629632  link.bin
2ae0827effd6d4036db2f4ae694fa1af3afc20c18545452b76e39832f2e04f44  network_report.txt
184c0af85879ac1e357c98eba5076fab1074ec7f988aeb1dafe9f87e04a37e09  node.bin
3dd0569be7485c228238ec87dfa0da995d2f956e8ea2ad03f41fd0d3cf3552c9  spatialindex.bin
)"},
    {"tab_keyed", &cTab, true, R"(
598f88fdca029183c79a2b86c4c4e6ced9c60c5e344b15d957e2b9a79b6e97da  coord.bin
274c4c1201e8021265e788eef1666fefad04e6070af56de71f7a48852122ba80  coord3.bin
2f40c2bda4c87fb4876d02feb7b72c0255633ee45abdbe639966e98c2791fb86  coord3i.bin
ac045c8d334032f6cbc8a67efcdf9990bd3f1fd59da6df4e9c2e843024fe5a1e  kovra_config.ini
f6a8c7ff9b198a4f21ffb519a7a32baad4564d0e12bc25963060a402442b04f8  length.bin
b9625d62ef9e02100dc51a62179ba03355cbc925924a61ac3a5ce0f0c8612769  link.bin
b136f26416255ee8e009cd988deffde7a234578fb89b729c8860dadb099dd914  network_report.txt
f6d32ec8398188a6832121fa56c1e226145fe0671c5c33614a39e5fea1660299  node.bin
e302f32eb6d83aa0d65f3e36081791509f40e6246f182a3d99250c7c1df8e488  spatialindex.bin
)"},
};

void PrintTo(const TCase& c, std::ostream* os) { *os << c.Label; }

std::string Quote(const std::string& s) { return "'" + s + "'"; }

class ImportDifferential : public ::testing::TestWithParam<TCase> {
protected:
  static void SetUpTestSuite() { fInputs = new TTempDir("kovra_differential_in"); }
  static void TearDownTestSuite() {
    delete fInputs;
    fInputs = nullptr;
  }

  // The generated input of a format, made on first use.
  static std::string Input(const TInputFormat& Format) {
    const std::string path = fInputs->File(Format.Name);
    if (!fs::exists(path)) {
      const std::string generator = std::string(KOVRA_TEST_SOURCE_DIR) + "/../scripts/make-network-input";
      const std::string cmd =
          "python3 " + Quote(generator) + " " + std::to_string(cLinks) + " " + Quote(path) + " " + Format.Args;
      std::string out;
      EXPECT_EQ(RunCommand(cmd + " 2>&1", &out), 0) << cmd << "\n" << out;
    }
    return path;
  }

  // The report with what changes from run to run taken out: the start and
  // end times and the folder of the input.
  static std::string StableReport(const std::string& Report, const std::string& InputDir) {
    std::string out;
    size_t start = 0;
    while (start < Report.size()) {
      size_t end = Report.find('\n', start);
      end = end == std::string::npos ? Report.size() : end + 1;
      std::string line = Report.substr(start, end - start);
      start = end;
      if (line.rfind("Start: ", 0) == 0 || line.rfind("End: ", 0) == 0) continue;
      for (size_t at; (at = line.find(InputDir)) != std::string::npos;) line.replace(at, InputDir.size(), "<in>");
      out += line;
    }
    return out;
  }

  // "sha256  name" per file of Dir, sorted by name.
  static std::string Hashes(const std::string& Dir) {
    std::string out;
    EXPECT_EQ(RunCommand("cd " + Quote(Dir) + " && LC_ALL=C sha256sum $(LC_ALL=C ls)", &out), 0);
    return out;
  }

  static inline TTempDir* fInputs = nullptr;
};

TEST_P(ImportDifferential, EveryOutputByteAsBeforeTheSpeedWork) {
  const TCase& c = GetParam();
  const std::string input = Input(*c.Format);
  ASSERT_TRUE(fs::exists(input)) << "scripts/make-network-input made no " << input;
  TTempDir out("kovra_differential_out");
  TImport imp;
  imp.SetDirectory(out.Path.string() + "/");
  imp.Add(input);
  if (c.Keyed) {
    imp.SetEncryptionKey(cKey);
    imp.SetZFromField(1);
    imp.SetZToField(2);
  }
  imp.Execute();
  imp.CreateReport();
  ASSERT_EQ(imp.LinkCount(), cLinks);

  // The report goes into the hash without its times and the input's folder.
  const std::string report = out.File("network_report.txt");
  const std::string stable = StableReport(ReadBytes(report), fInputs->Path.string());
  WriteBytes(report, stable);
  EXPECT_EQ(Hashes(out.Path.string()), std::string(c.Hashes).substr(1))
      << "the output of " << c.Label << " changed; its report:\n"
      << stable;
}

INSTANTIATE_TEST_SUITE_P(Generated, ImportDifferential, ::testing::ValuesIn(cCases),
                         [](const ::testing::TestParamInfo<TCase>& i) { return std::string(i.param.Label); });

}  // namespace
