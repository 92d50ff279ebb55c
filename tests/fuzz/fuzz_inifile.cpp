// The INI layer and the settings file reader on arbitrary files: an untouched
// file serializes to its own bytes, a written key reads back (also after the
// file is parsed again) while the other keys keep their values, and reading
// the settings gives settings or the library's error.
//
// Input: flags, then operations (section, key and value pieces), then the file.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/kovra_configfile.h"
#include "fuzz_support.h"
#include "platform/kovra_inifile.h"

using namespace kovra;
using namespace kovra::fuzz;

namespace {

// Names as the library writes them: letters, digits and a few others, some
// outside ASCII so that case folding is exercised.
std::string Name(TFuzzInput& in) {
  static const char* const cParts[] = {"a", "B", "k", "Z", "1", "_", "\xC3\xA4", "\xC3\x84", "\xC3\x9F", ".", "-"};
  std::string s;
  const int n = 1 + in.Byte() % 4;
  for (int i = 0; i < n; ++i) s += cParts[in.Byte() % (sizeof(cParts) / sizeof(cParts[0]))];
  return s;
}

// A value the file's encoding can hold: printable ASCII in an ANSI file, any
// valid UTF-8 in a Unicode one.
std::string Value(TFuzzInput& in, TIniData::TEncoding e) {
  std::string_view raw = in.Piece(24);
  std::string v;
  for (char c : raw) {
    if (e == TIniData::TEncoding::Ansi && (uint8_t(c) < 0x20 || uint8_t(c) >= 0x7F)) c = 'x';
    v += c;
  }
  if (!IsValidUtf8(v)) v = "v";
  return v;
}

// The value as a read gives it back: breaks become blanks, blanks and tabs
// around it go, one pair of matching quotes goes.
std::string AsRead(std::string v) {
  for (char& c : v)
    if (c == '\r' || c == '\n') c = ' ';
  size_t a = 0, b = v.size();
  while (a < b && (v[a] == ' ' || v[a] == '\t')) ++a;
  while (b > a && (v[b - 1] == ' ' || v[b - 1] == '\t')) --b;
  v = v.substr(a, b - a);
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) v = v.substr(1, v.size() - 2);
  return v;
}

// Names compare as the INI layer compares them: ASCII and the one non-ASCII
// letter pair of the name parts ignoring case.
std::string Fold(std::string s) {
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] >= 'A' && s[i] <= 'Z') s[i] = char(s[i] - 'A' + 'a');
    if (s.compare(i, 2, "\xC3\x84") == 0) s[i + 1] = char(0xA4);
  }
  return s;
}

struct TWritten {
  std::string section, key, value;
};

void CheckWritten(const TIniData& d, const std::vector<TWritten>& written) {
  for (const TWritten& w : written) {
    std::string got;
    Check(d.Find(w.section, w.key, got), "a written key is missing");
    Check(got == AsRead(w.value), "a written key reads back another value");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TFuzzInput in(data, size);
  const uint8_t flags = in.Byte();
  const std::string ops(in.Piece(64));
  const std::string_view file = in.Rest();

  TIniData d = TIniData::Parse(file);
  Check(d.Serialize() == file, "an untouched file does not serialize to its bytes");
  std::vector<std::string> sections, keys, values;
  d.ReadSections(sections);
  for (const auto& s : sections) {
    d.ReadSection(s, keys);
    d.ReadSectionValues(s, values);
    Check(keys.size() == values.size(), "keys and values of a section differ in number");
  }

  // Writes, deletes and erasures against the list of what must still be there.
  TFuzzInput opin(reinterpret_cast<const uint8_t*>(ops.data()), ops.size());
  std::vector<TWritten> written;
  while (!opin.Empty()) {
    const uint8_t op = opin.Byte();
    std::string section = Name(opin), key = Name(opin);
    auto same = [](const std::string& a, const std::string& b) { return Fold(a) == Fold(b); };
    switch (op % 4) {
      case 0:
      case 1: {
        std::string value = Value(opin, d.Encoding());
        d.Write(section, key, value);
        std::erase_if(written, [&](const TWritten& w) { return same(w.section, section) && same(w.key, key); });
        written.push_back({section, key, value});
        break;
      }
      case 2:
        d.DeleteKey(section, key);
        std::erase_if(written, [&](const TWritten& w) { return same(w.section, section) && same(w.key, key); });
        break;
      default:
        d.EraseSection(section);
        std::erase_if(written, [&](const TWritten& w) { return same(w.section, section); });
        break;
    }
    CheckWritten(d, written);
  }
  const std::string bytes = d.Serialize();
  CheckWritten(TIniData::Parse(bytes), written);

  // The file through the INI classes and the settings reader.
  const std::string dir = (FuzzDir() / "cfg").string() + "/";
  std::filesystem::create_directories(dir);
  std::string content(file);
  const std::string path = WriteFuzzFile("cfg/kovra_config.ini", content);
  if (flags & 1) {
    // A matching checksum line, so the reads get past the check.
    content += "\r\nchecksum=" + std::to_string(ConfigChecksum(dir, 0));
    WriteFuzzFile("cfg/kovra_config.ini", content);
  }
  try {
    TConfig c = ReadConfig(dir);
    (void)c;
  } catch (const Exception&) {
  }
  TMyinifile ini(path);
  ini.SetEncoded(flags & 2);
  for (const std::string& s : sections) {
    ini.ReadSection(s, keys);
    for (const std::string& k : keys) {
      (void)ini.ReadString(s, k, "");
      (void)ini.ReadInteger(s, k, 0);
      (void)ini.ReadBool(s, k, false);
      (void)ini.ReadFloat(s, k, 0);
    }
  }
  // Any text unscrambles to something; ASCII scrambles and comes back.
  (void)DecodeSettingValue(file);
  std::string ascii;
  for (char c : file.substr(0, 64)) ascii += char(uint8_t(c) & 0x7F);
  Check(DecodeSettingValue(EncodeSettingValue(ascii)) == ascii, "a scrambled ASCII value does not come back");
  return 0;
}
