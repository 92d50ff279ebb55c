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

// Taken from the untuned build (commit 7f0bc09) before the speed work.
const TCase cCases[] = {
    {"shp_plain", &cShp, false, R"(
4d2ce199d3dcc9a2e6553df2f760767429d21991115f0f4d4b795d183525e8f0  coord.bin
da3d07c11371389f78ab2de8168fea30e3253922a59972941908452466aa8513  coord3.bin
6dd15e18b0f5f463894041375bb9cd2c3a76723c68a86e6f0c180b2276645409  coord3i.bin
04c1984f6ddf0fe155ec954489c0f4ce98db076b29e25ec4d04b01d8d792ac32  kovra_config.ini
f024f6f963e3ce789850d8990f2e89ef108a04ccaf44750142e65eea33fc9916  length.bin
001b35c5f97d7fe4c7a4649da6d5945e1635d27097dd448b7cc51f20b0ca6036  link.bin
3c743562f0a0b0fc9542a8ddc60fd52ffbdbb6348ae83a216d404ef652490b9f  network_report.txt
73e8f3312b3a11f050a03f2b1ad444b792addc0b5a4d25379cff50fdeb78a875  node.bin
761b3a86ddc2fa3e6e12851c0f04af4a5ade6e91c41cfdd12498f9ee3c06de49  spatialindex.bin
)"},
    {"shp_keyed", &cShp, true, R"(
0348f4b9dd443e44117e35afcadf5d0b573ff0714efd29b9b16412681938d5fa  coord.bin
9d58f987f545db126d47d5254948cf2480751a375fd3c152f194546dc5289e7a  coord3.bin
6dd15e18b0f5f463894041375bb9cd2c3a76723c68a86e6f0c180b2276645409  coord3i.bin
b3f28d5944e417ca4b8babd207f50cfa2fca8e7ee337fb2e91386a9d4d0b1a5a  kovra_config.ini
4eb4579634e88a667f113601ab57cb3e66804b0be4abf5b3b2ebc5dd8b4ba1e2  length.bin
71a33e8fe580260fe08b262313f4dc5a48926e30797c7120f69cebdffaec02d3  link.bin
8908a011ba5f634eda83ccd7c0332eb525808df81719d784e0cbdb47604cb694  network_report.txt
1d3c78f276178f8182f4a499a8ff6cdc62b7400bbdb8a6169803b946102c0bbc  node.bin
dfc3369e23787899847f1ddd51e7531801ea38938ea1ba022a3b75a0958357bd  spatialindex.bin
)"},
    {"mif_plain", &cMif, false, R"(
4d2ce199d3dcc9a2e6553df2f760767429d21991115f0f4d4b795d183525e8f0  coord.bin
da3d07c11371389f78ab2de8168fea30e3253922a59972941908452466aa8513  coord3.bin
6dd15e18b0f5f463894041375bb9cd2c3a76723c68a86e6f0c180b2276645409  coord3i.bin
b86f9f46d62c64a39982ed175fa0e97a2c388d3f2b8e7d30f539f7b687d0d586  kovra_config.ini
f024f6f963e3ce789850d8990f2e89ef108a04ccaf44750142e65eea33fc9916  length.bin
001b35c5f97d7fe4c7a4649da6d5945e1635d27097dd448b7cc51f20b0ca6036  link.bin
cb0dadd0c69a72a96240e4ac946516b1ae7548122e02faae9352a89e2b7088e0  network_report.txt
73e8f3312b3a11f050a03f2b1ad444b792addc0b5a4d25379cff50fdeb78a875  node.bin
761b3a86ddc2fa3e6e12851c0f04af4a5ade6e91c41cfdd12498f9ee3c06de49  spatialindex.bin
)"},
    {"mif_keyed", &cMif, true, R"(
0348f4b9dd443e44117e35afcadf5d0b573ff0714efd29b9b16412681938d5fa  coord.bin
9d58f987f545db126d47d5254948cf2480751a375fd3c152f194546dc5289e7a  coord3.bin
6dd15e18b0f5f463894041375bb9cd2c3a76723c68a86e6f0c180b2276645409  coord3i.bin
da9ea7d517ff8b1737a26bc5d7dd37f2e37dc0aaad7457412586893c391e7a25  kovra_config.ini
4eb4579634e88a667f113601ab57cb3e66804b0be4abf5b3b2ebc5dd8b4ba1e2  length.bin
71a33e8fe580260fe08b262313f4dc5a48926e30797c7120f69cebdffaec02d3  link.bin
1c9f68c6941475a53d1e040131ba703094a73e942dde6f450733e89395d8005e  network_report.txt
1d3c78f276178f8182f4a499a8ff6cdc62b7400bbdb8a6169803b946102c0bbc  node.bin
dfc3369e23787899847f1ddd51e7531801ea38938ea1ba022a3b75a0958357bd  spatialindex.bin
)"},
    {"tab_plain", &cTab, false, R"(
78f2c721cea76e903bb66657a524110542f4a9c215649e3ec7f3d0d495a06cc6  coord.bin
ef6331b03caae43fc3105e456e5e58cd825ef029011173753c101950ec6802fc  coord3.bin
6dd15e18b0f5f463894041375bb9cd2c3a76723c68a86e6f0c180b2276645409  coord3i.bin
0c6606286624d9424541e278333c7da1593036c228997c8f16427e2e84fb5e96  kovra_config.ini
939abfce759e7c6413f848c79831fb8e4bbac5de9adda8f7035963ae9a634c12  length.bin
001b35c5f97d7fe4c7a4649da6d5945e1635d27097dd448b7cc51f20b0ca6036  link.bin
879b94e40a0f1c6f1aaeb211edddad460c5e6302bc30a5a714f9d39dc38d87a6  network_report.txt
73e8f3312b3a11f050a03f2b1ad444b792addc0b5a4d25379cff50fdeb78a875  node.bin
496e24394f99564fcb8dcb76c14d9f0db656f842dbad2cb7216421470c9e02eb  spatialindex.bin
)"},
    {"tab_keyed", &cTab, true, R"(
aeccf891fcad2d6a77012c03a68dc90df91642b276b96c98017ec01e44cbea22  coord.bin
c43b88c9594bb4a136a367b757eec560104bab3261144eac660dcd2b1bb41b0b  coord3.bin
6dd15e18b0f5f463894041375bb9cd2c3a76723c68a86e6f0c180b2276645409  coord3i.bin
492460d65b906678d4c8407ad283b091621a4241281571147134849bedcaf268  kovra_config.ini
311cf0aeca68b08f48a551605605c430226923af9da485fcb0cbeee175fb1285  length.bin
71a33e8fe580260fe08b262313f4dc5a48926e30797c7120f69cebdffaec02d3  link.bin
3f2d86ee287455fe7af49e7976343921d5b7b20e4604abcb6d400ed48997efca  network_report.txt
1d3c78f276178f8182f4a499a8ff6cdc62b7400bbdb8a6169803b946102c0bbc  node.bin
02ff85225674ef2c7d1e28b52941b63d896111a62ab86a9b58d6af76a0c49a47  spatialindex.bin
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
