#include "app_fixture.h"

#include "support/gdal_readback.h"

namespace studio::testsupport {

std::string StudioTest::DumpIni(const std::string& File) {
  std::string out;
  const int rc = kovra::testsupport::RunCommand(
      "python3 " KOVRA_TEST_SCRIPTS_DIR "/ini_dump.py '" + File + "'", &out);
  EXPECT_EQ(rc, 0) << "python3 ini_dump.py failed on " << File << ":\n" << out;
  return out;
}

}  // namespace studio::testsupport
