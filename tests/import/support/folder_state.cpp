#include "import/support/folder_state.h"

#include <filesystem>

#include "support/test_files.h"

namespace kovra::testsupport {

TFolderState FolderState(const std::string& Dir) {
  TFolderState state;
  std::error_code ec;
  if (!std::filesystem::is_directory(Dir, ec)) return state;
  for (const auto& e : std::filesystem::directory_iterator(Dir)) {
    if (e.is_regular_file())
      state[e.path().filename().string()] = ReadBytes(e.path().string());
    else if (e.is_directory())
      state[e.path().filename().string() + "/"] = "";  // a folder left behind counts too
  }
  return state;
}

::testing::AssertionResult NoFileOfRunRemains(const TFolderState& Before, const std::string& Dir) {
  const TFolderState after = FolderState(Dir);
  std::string faults;
  for (const auto& [name, bytes] : after) {
    auto it = Before.find(name);
    if (it == Before.end())
      faults += " added " + name + ";";
    else if (it->second != bytes)
      faults += " changed " + name + ";";
  }
  for (const auto& [name, bytes] : Before)
    if (!after.count(name)) faults += " removed " + name + ";";
  if (faults.empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << Dir << ":" << faults;
}

}  // namespace kovra::testsupport
