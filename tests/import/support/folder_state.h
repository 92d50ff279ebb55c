// Test support: "no file of the run remains". A folder's files with their
// bytes, taken before an import run, and the check that the folder is exactly
// as it was afterwards: no file added, none removed, none changed.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace kovra::testsupport {

// File name -> bytes of every regular file directly in Dir, and name + "/"
// -> "" of every folder in it; empty when Dir does not exist.
using TFolderState = std::map<std::string, std::string>;
TFolderState FolderState(const std::string& Dir);

::testing::AssertionResult NoFileOfRunRemains(const TFolderState& Before, const std::string& Dir);

}  // namespace kovra::testsupport
