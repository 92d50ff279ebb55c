// Test support: a fixture with its own temporary folder per test.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/test_files.h"

namespace kovra::testsupport {

class TTempDirTest : public ::testing::Test {
protected:
  // Writes a file of the given bytes into the test's folder; returns its path.
  std::string Make(const std::string& name, const std::string& bytes) {
    std::string path = fTemp.File(name);
    WriteBytes(path, bytes);
    return path;
  }

  TTempDir fTemp;
  const std::filesystem::path& dir = fTemp.Path;
};

}  // namespace kovra::testsupport
