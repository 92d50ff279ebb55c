// The program's settings file as the main window reads it: the window's
// sections and the network list. Any file gives settings and a list in ID
// order; the list saved and read again is the same list (texts the INI layer
// would trim or unquote aside), and a save drops no row.
//
// Input: flags (bit 0: decimal comma), then the file.
#include <cstdint>
#include <string>
#include <string_view>

#include "app/core/studio_networklist.h"
#include "app/core/studio_settings.h"
#include "fuzz_support.h"

using namespace kovra::fuzz;
using namespace studio;

namespace {

// A text that an INI value keeps as it is: no blank or tab at either end, no
// line break, not enclosed in one pair of quotes.
bool KeptByIni(const std::string& s) {
  if (s.find_first_of("\r\n") != std::string::npos) return false;
  if (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.back() == ' ' || s.back() == '\t')) return false;
  return !(s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TFuzzInput in(data, size);
  const uint8_t flags = in.Byte();
  const NumberFormat fmt = (flags & 1) ? NumberFormat{",", "."} : NumberFormat{".", ","};
  const std::string file = WriteFuzzFile("orvellastudio.ini", in.Rest());

  TWindowSettings settings;
  TNetworkList list;
  if (LoadSettingsFile(file, fmt, settings, [&](kovra::TCustomIniFile& ini) { list.Load(ini, fmt); })) return 0;
  for (int32_t i = 1; i < list.Count(); ++i)
    if (list.Row(i - 1).ID > list.Row(i).ID) Finding("rows out of ID order");
  if (list.Count() > 0 && list.CurrentIndex() != 0) Finding("the first row is not current after a load");

  // The save must not fail on anything a load gave, and must lose nothing.
  try {
    SaveSettingsFile(file, settings, fmt, [&](kovra::TCustomIniFile& ini) { list.Save(ini, fmt); });
  } catch (const kovra::Exception&) {
    Finding("a loaded list could not be saved");
  }
  TWindowSettings again;
  TNetworkList back;
  if (LoadSettingsFile(file, fmt, again, [&](kovra::TCustomIniFile& ini) { back.Load(ini, fmt); }))
    Finding("a saved file does not read");
  if (back.Count() != list.Count()) Finding("a row was lost by save and load");
  for (int32_t i = 0; i < list.Count(); ++i) {
    NetworkRow a = list.Row(i), b = back.Row(i);
    if (!KeptByIni(a.Path) || !KeptByIni(a.Turn)) continue;
    if (!(a == b)) Finding("a row changed by save and load");
  }
  return 0;
}
