// Test support: a temporary folder removed with its contents, and whole-file
// reads and writes in bytes.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace kovra::testsupport {

class TTempDir {
public:
  explicit TTempDir(const std::string& Prefix = "kovra_test") {
    Path = std::filesystem::temp_directory_path() /
           (Prefix + "_" + std::to_string(::getpid()) + "_" + std::to_string(Counter++));
    std::filesystem::remove_all(Path);
    std::filesystem::create_directories(Path);
  }
  ~TTempDir() {
    std::error_code ec;
    std::filesystem::remove_all(Path, ec);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  std::string File(const std::string& Name) const { return (Path / Name).string(); }
  std::filesystem::path Path;

private:
  static inline int Counter = 0;
};

inline std::string ReadBytes(const std::string& Name) {
  std::ifstream f(Name, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

inline void WriteBytes(const std::string& Name, const std::string& Data) {
  std::ofstream f(Name, std::ios::binary | std::ios::trunc);
  f << Data;
}

}  // namespace kovra::testsupport
