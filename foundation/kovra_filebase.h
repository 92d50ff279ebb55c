// Base of every file-backed object: the working directory, the encryption key
// of its files and an open flag, on top of progress and cancel.
#pragma once

#include <cstdint>
#include <string>

#include "foundation/kovra_progress.h"

namespace kovra {

class TFileBase : public TProgressCancel {
public:
  // Directory starts as the process's current directory.
  TFileBase();

  // Always ends with a path delimiter.
  const std::string& Directory() const { return fDirectory; }
  // Ignored while IsOpen; "" means the current directory; a delimiter is added
  // when missing.
  void SetDirectory(const std::string& value);
  bool IsOpen() const { return fIsOpen; }
  void SetIsOpen(bool value) { fIsOpen = value; }
  int64_t EncryptionKey() const { return fEncryptionKey; }
  void SetEncryptionKey(int64_t value) { fEncryptionKey = value; }

  // Raises Exception "Output directory does not exist" or "Output directory is
  // not writeable"; returns quietly when files can be created in Directory.
  void CheckDirectory() const;

protected:
  int64_t fEncryptionKey = 0;  // 0 = plain files
  bool fIsOpen = false;
  std::string fDirectory;
};

}  // namespace kovra
