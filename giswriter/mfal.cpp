#include "giswriter/mfal.h"

#include <cstring>
#include <mutex>

#include "platform/kovra_sysutils.h"

namespace kovra {

namespace {

TMFALBinding& Binding() {
  static TMFALBinding b;
  return b;
}

std::once_flag& LoadOnce() {
  static std::once_flag f;
  return f;
}

}  // namespace

void LoadMFAL() {
  // The library is reached only through ordinal numbers, which ELF does not
  // export: it cannot be bound here, so nothing is opened.
  std::call_once(LoadOnce(), [] { Binding().Status = -2; });
}

int32_t MFALStatus() {
  LoadMFAL();
  return Binding().Status;
}

bool MFALLoaded() { return MFALStatus() == 0; }

const TMFALProcs& MFALProcs() {
  LoadMFAL();
  return Binding().Procs;
}

TMFALBinding ReplaceMFALProcs(const TMFALBinding& B) {
  LoadMFAL();
  TMFALBinding old = Binding();
  Binding() = B;
  return old;
}

void MakeMIFieldName(char (&Name)[32], const std::string& FieldName) {
  if (FieldName.size() >= sizeof Name) throw Exception(Format("Field name is longer than %d", 31));
  std::memset(Name, 0, sizeof Name);
  std::memcpy(Name, FieldName.data(), FieldName.size());
}

}  // namespace kovra
