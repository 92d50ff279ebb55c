#include "app/core/studio_common.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "foundation/kovra_functions.h"

namespace studio {

using kovra::Format;

namespace {

constexpr const char* cMsgNotAFloat = "'%s' is not a valid floating point value";
constexpr const char* cMsgCannotCreateFolder = "Cannot create folder \"%s\". %s";

std::string WithDelimiter(std::string s) {
  if (!s.empty() && s.back() != '/') s += '/';
  return s;
}

// '.' and ',' of the library's fixed text become the regional marks, in one
// pass so that a separator that is itself '.' or ',' is not mapped twice.
std::string Regionalize(std::string_view text, const NumberFormat& Fmt) {
  std::string out;
  out.reserve(text.size() + 8);
  for (char c : text) {
    if (c == '.')
      out += Fmt.decimal;
    else if (c == ',')
      out += Fmt.group;
    else
      out += c;
  }
  return out;
}

}  // namespace

TAppState& AppState() {
  static TAppState state;
  return state;
}

// ---------------------------------------------------------------------------

std::string ExeFileName() {
  // No length limit: the buffer grows until the whole name fits.
  std::vector<char> buf(512);
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return "";
    if (size_t(n) < buf.size()) return std::string(buf.data(), size_t(n));
    buf.resize(buf.size() * 2);
  }
}

std::string ExeFolder() {
  const std::string name = ExeFileName();
  const size_t slash = name.rfind('/');
  return slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
}

std::string CommonAppDataFolder() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') return WithDelimiter(xdg);
  std::string home;
  if (const char* h = std::getenv("HOME"); h && h[0] == '/') {
    home = h;
  } else {
    std::vector<char> buf(16384);
    passwd pw{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_dir &&
        found->pw_dir[0] == '/')
      home = found->pw_dir;
  }
  if (home.empty()) return "";
  return WithDelimiter(home) + ".config/";
}

void ForceDirectories(const std::string& Folder) {
  if (Folder.empty()) throw kovra::EOSError(Format(cMsgCannotCreateFolder, Folder, std::strerror(ENOENT)));
  // Each prefix ending before a '/' is made in turn, the whole path last.
  std::string path = Folder;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  for (size_t i = 1; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != '/') continue;
    const std::string part = path.substr(0, i);
    if (mkdir(part.c_str(), 0777) == 0) continue;
    const int err = errno;
    struct stat st {};
    if (err == EEXIST && stat(part.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
    // A missing parent we may not create is fine as long as it exists for
    // us to pass (EACCES on a folder we cannot write but that exists).
    if (stat(part.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
    throw kovra::EOSError(Format(cMsgCannotCreateFolder, Folder, std::strerror(err == EEXIST ? ENOTDIR : err)));
  }
}

std::string HelpFileBesideProgram(const std::string& ProgramFolder) {
  return ProgramFolder + "help/index.html";
}

std::optional<std::string> FindHelpFile(const std::string& ProgramFolder) {
  for (const std::string& name : {HelpFileBesideProgram(ProgramFolder),
                                   ProgramFolder + "../share/doc/orvellastudio/html/index.html"}) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(name, ec)) return std::filesystem::path(name).lexically_normal().string();
  }
  return std::nullopt;
}

// ---------------------------------------------------------------------------

bool IsInteger(std::string_view Text) {
  int32_t v = 0;
  return kovra::TryStrToInt(Text, v);
}

std::string FormatThousands(int64_t n, const NumberFormat& Fmt) {
  const std::string digits = kovra::IntToStr(n);
  const size_t first = digits[0] == '-' ? 1 : 0;
  std::string out = digits.substr(0, first);
  for (size_t i = first; i < digits.size(); ++i) {
    if (i > first && (digits.size() - i) % 3 == 0) out += Fmt.group;
    out += digits[i];
  }
  return out;
}

std::string FormatThousands3(double x, const NumberFormat& Fmt) {
  return Regionalize(kovra::FloatToStrN(x, 3), Fmt);
}

std::string FloatToStrRegional(double x, const NumberFormat& Fmt) {
  return Regionalize(kovra::FloatToStrDot(x), Fmt);
}

bool TryParseFloatRegional(std::string_view Text, const NumberFormat& Fmt, double& Value) {
  const std::string_view t = kovra::TrimView(Text);
  std::string norm;
  size_t i = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) norm += t[i++];
  size_t digits = 0;
  bool mark = false;
  while (i < t.size()) {
    const char c = t[i];
    if (c >= '0' && c <= '9') {
      norm += c;
      ++digits;
      ++i;
    } else if (!mark && c == '.') {
      norm += '.';
      mark = true;
      ++i;
    } else if (!mark && !Fmt.decimal.empty() && t.substr(i, Fmt.decimal.size()) == Fmt.decimal) {
      norm += '.';
      mark = true;
      i += Fmt.decimal.size();
    } else {
      break;
    }
  }
  if (digits == 0) return false;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    norm += 'e';
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) norm += t[i++];
    size_t expDigits = 0;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') {
      norm += t[i++];
      ++expDigits;
    }
    if (expDigits == 0) return false;
  }
  if (i != t.size()) return false;
  // The syntax is checked; the foundation's '.' parser gives the value, 0
  // below the double range and an overflow flag beyond it.
  bool overflow = false;
  const double v = kovra::ParseFloatDot(norm, overflow);
  if (overflow || !std::isfinite(v)) return false;
  Value = v;
  return true;
}

double ParseFloatRegional(std::string_view Text, const NumberFormat& Fmt) {
  double v = 0;
  if (!TryParseFloatRegional(Text, Fmt, v)) throw kovra::EConvertError(Format(cMsgNotAFloat, std::string(Text)));
  return v;
}

// ---------------------------------------------------------------------------

std::optional<int32_t> OutputItemOfStored(int32_t Stored) {
  for (const TOutputFormatItem& item : cOutputFormats)
    if (item.Stored == Stored) return int32_t(&item - cOutputFormats);
  return std::nullopt;
}

kovra::TGISFormat OutputFormatOfItem(std::optional<int32_t> Item) {
  if (!Item || *Item < 0 || *Item >= int32_t(std::size(cOutputFormats))) return kovra::TGISFormat::gfMIF;
  return cOutputFormats[*Item].Format;
}

}  // namespace studio
