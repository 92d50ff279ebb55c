#include "foundation/kovra_collate.h"

#include <unicode/ucol.h>
#include <unicode/uversion.h>

#include <mutex>

#include "platform/kovra_sysutils.h"

namespace kovra {

namespace {

constexpr const char* cMsgNoCollation = "Road-name collation is not available: %s";

// The two collators every thread clones: index 0 case-sensitive, 1 ignoring case.
struct TMasters {
  UCollator* Collator[2] = {nullptr, nullptr};
};

UCollator* OpenRoot(UColAttributeValue Strength) {
  UErrorCode status = U_ZERO_ERROR;
  // "root" by name: a null locale would take the process's default locale.
  UCollator* c = ucol_open("root", &status);
  if (U_SUCCESS(status)) ucol_setStrength(c, Strength);
  if (U_FAILURE(status)) {
    if (c) ucol_close(c);
    throw Exception(Format(cMsgNoCollation, u_errorName(status)));
  }
  return c;
}

const TMasters& Masters() {
  // Built once and kept for the life of the process; clones read them.
  static std::once_flag once;
  static TMasters masters;
  std::call_once(once, [] {
    TMasters m;
    m.Collator[0] = OpenRoot(UCOL_TERTIARY);
    try {
      m.Collator[1] = OpenRoot(UCOL_SECONDARY);
    } catch (...) {
      ucol_close(m.Collator[0]);
      throw;
    }
    masters = m;
  });
  return masters;
}

// A collator is not safe to use from two threads at once; each thread keeps
// its own clones, released when the thread ends.
struct TThreadCollators {
  UCollator* Collator[2] = {nullptr, nullptr};
  TThreadCollators() = default;
  TThreadCollators(const TThreadCollators&) = delete;
  TThreadCollators& operator=(const TThreadCollators&) = delete;
  ~TThreadCollators() {
    for (UCollator* c : Collator)
      if (c) ucol_close(c);
  }
};

UCollator* ThreadCollator(bool ignoreCase) {
  thread_local TThreadCollators collators;
  UCollator*& c = collators.Collator[ignoreCase ? 1 : 0];
  if (!c) {
    UErrorCode status = U_ZERO_ERROR;
#if U_ICU_VERSION_MAJOR_NUM >= 71
    c = ucol_clone(Masters().Collator[ignoreCase ? 1 : 0], &status);
#else
    c = ucol_safeClone(Masters().Collator[ignoreCase ? 1 : 0], nullptr, nullptr, &status);
#endif
    if (U_FAILURE(status)) {
      if (c) ucol_close(c);
      c = nullptr;
      throw Exception(Format(cMsgNoCollation, u_errorName(status)));
    }
  }
  return c;
}

}  // namespace

int32_t CompareRoadNames(std::u16string_view a, std::u16string_view b, bool ignoreCase) {
  // Identical texts are equal at every strength; most repeated names end here.
  if (a == b) return 0;
  const UCollationResult r = ucol_strcoll(ThreadCollator(ignoreCase), a.data(), int32_t(a.size()), b.data(),
                                          int32_t(b.size()));
  if (r != UCOL_EQUAL) return r == UCOL_LESS ? -1 : 1;
  if (ignoreCase) return 0;
  return a < b ? -1 : 1;  // by UTF-16 code unit
}

}  // namespace kovra
