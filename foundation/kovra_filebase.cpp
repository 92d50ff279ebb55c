#include "foundation/kovra_filebase.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "foundation/kovra_functions.h"

namespace kovra {

namespace {

std::string CurrentDirectory() {
  std::vector<char> buf(4096);
  while (getcwd(buf.data(), buf.size()) == nullptr) {
    if (errno != ERANGE) return "./";
    buf.resize(buf.size() * 2);
  }
  return std::string(buf.data());
}

std::string WithDelimiter(std::string dir) {
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

}  // namespace

TFileBase::TFileBase() : fDirectory(WithDelimiter(CurrentDirectory())) {}

void TFileBase::SetDirectory(const std::string& value) {
  if (fIsOpen) return;
  // An empty name would become "/" and send every file of an import into the
  // root: it means the current directory, as at creation.
  fDirectory = WithDelimiter(value.empty() ? CurrentDirectory() : value);
}

void TFileBase::CheckDirectory() const {
  struct stat st {};
  // stat follows links, so a link to a directory counts as the directory.
  if (stat(fDirectory.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    throw Exception("Output directory does not exist");
  if (!DirectoryIsWritable(fDirectory)) throw Exception("Output directory is not writeable");
}

}  // namespace kovra
