// Command-line handling shared by the example programs: one way to read
// options, one message form and one exit code for every argument fault, so a
// script can tell a wrong call (exit 2, nothing created) from a failed run
// (exit 1).
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

namespace kovra::example {

// A fault of the call itself; the message names the option or file.
class TArgError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Walks argv once, front to back.
class TArgs {
public:
  TArgs(int argc, char** argv) : fArgc(argc), fArgv(argv) {}
  bool More() const { return fNext < fArgc; }
  // The next argument, consumed.
  std::string Next() { return fArgv[fNext++]; }
  // The value after Option, consumed; TArgError when there is none.
  std::string Value(const std::string& Option);
  // The value after Option as a whole number in Min..Max.
  int64_t Int(const std::string& Option, int64_t Min, int64_t Max);
  // The value after Option as a finite decimal number ('.' whatever the locale).
  double Number(const std::string& Option);

private:
  int fArgc;
  char** fArgv;
  int fNext = 1;
};

// Text as a finite decimal number; false when it is not one (nothing after it
// is allowed).
bool ParseNumber(const std::string& Text, double& Value);

// Raises TArgError "unknown option A" for an argument that starts with '-'
// and is not a plain "-" (which some programs read as standard output).
[[noreturn]] void UnknownOption(const std::string& A);

// A file the call names must exist before anything is created: TArgError
// "What: no such file: Name" (or "...: no such folder: ..." for a folder).
void RequireFile(const std::string& What, const std::string& Name);
void RequireFolder(const std::string& What, const std::string& Name);

// Runs Body with the program's conventions: "--help" or "-h" anywhere prints
// Help to standard output and exits 0; a TArgError prints "Program: message"
// and a hint to standard error and gives 2; any other exception prints
// "Program: message" and gives 1; otherwise Body's value.
int Run(const char* Program, const char* Help, int argc, char** argv, const std::function<int()>& Body);

}  // namespace kovra::example
