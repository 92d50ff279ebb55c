#include "example_args.h"

#include <charconv>
#include <cmath>
#include <filesystem>
#include <iostream>
#include <string_view>

#include "foundation/kovra_functions.h"

namespace kovra::example {

std::string TArgs::Value(const std::string& Option) {
  if (fNext >= fArgc) throw TArgError(Option + " needs a value");
  return fArgv[fNext++];
}

int64_t TArgs::Int(const std::string& Option, int64_t Min, int64_t Max) {
  const std::string v = Value(Option);
  int64_t n = 0;
  if (!TryStrToInt64(v, n)) throw TArgError(Option + ": '" + v + "' is not a whole number");
  if (n < Min || n > Max)
    throw TArgError(Option + ": " + v + " is out of range (" + std::to_string(Min) + " to " + std::to_string(Max) +
                    ")");
  return n;
}

bool ParseNumber(const std::string& Text, double& Value) {
  std::string_view s = Text;
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  double v = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size() || !std::isfinite(v)) return false;
  Value = v;
  return true;
}

double TArgs::Number(const std::string& Option) {
  const std::string v = Value(Option);
  double d = 0;
  if (!ParseNumber(v, d)) throw TArgError(Option + ": '" + v + "' is not a number");
  return d;
}

void UnknownOption(const std::string& A) { throw TArgError("unknown option " + A); }

void RequireFile(const std::string& What, const std::string& Name) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(Name, ec)) throw TArgError(What + ": no such file: " + Name);
}

void RequireFolder(const std::string& What, const std::string& Name) {
  std::error_code ec;
  if (!std::filesystem::is_directory(Name, ec)) throw TArgError(What + ": no such folder: " + Name);
}

int Run(const char* Program, const char* Help, int argc, char** argv, const std::function<int()>& Body) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    if (a == "--help" || a == "-h") {
      std::cout << Help;
      return 0;
    }
  }
  try {
    return Body();
  } catch (const TArgError& e) {
    std::cerr << Program << ": " << e.what() << "\n" << "Try '" << Program << " --help'.\n";
    return 2;
  } catch (const std::exception& e) {
    std::cerr << Program << ": " << e.what() << "\n";
    return 1;
  }
}

}  // namespace kovra::example
