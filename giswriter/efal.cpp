#include "giswriter/efal.h"

#include <dlfcn.h>

#include <cctype>
#include <mutex>
#include <utility>

#include "platform/kovra_sysutils.h"

namespace kovra {

namespace {

std::mutex& LoadLock() {
  static std::mutex m;
  return m;
}

TEFALBinding& Binding() {
  static TEFALBinding b;
  return b;
}

template <typename F>
void Bind(void* module, F& target, const char* name) {
  target = reinterpret_cast<F>(GetEFALProc(module, name));
}

void ReplaceAll(std::string& S, const std::string& From, const std::string& To) {
  size_t pos = 0;
  while ((pos = S.find(From, pos)) != std::string::npos) {
    S.replace(pos, From.size(), To);
    pos += To.size();
  }
}

}  // namespace

void* GetEFALProc(void* module, const char* name) {
  void* p = module ? ::dlsym(module, name) : nullptr;
  if (!p) throw Exception(Format("Cannot find the address for proc %s", name));
  return p;
}

void LoadEFAL(const std::string& libpath) {
  std::lock_guard<std::mutex> lock(LoadLock());
  // The folder is named explicitly instead of changing the process's
  // library search path: the library's own dependencies are found through
  // its RUNPATH.
  const std::string file = libpath.empty() ? std::string("libefal.so") : libpath + "/libefal.so";
  void* h = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) {
    Binding().Status = 2;
    return;
  }
  // Never closed: the library stays for the life of the process.
  TEFALProcs p;
  // The order of the lookups decides which missing name is reported.
  Bind(h, p.BeginWriteAccess, "_ZN4EFAL16BeginWriteAccessEyy");
  Bind(h, p.CloseTable, "_ZN4EFAL10CloseTableEyy");
  Bind(h, p.CreateTable, "_ZN4EFAL11CreateTableEyy");
  Bind(h, p.DestroySession, "_ZN4EFAL14DestroySessionEy");
  Bind(h, p.DestroyTableMetadata, "_ZN4EFAL20DestroyTableMetadataEyy");
  Bind(h, p.EndAccess, "_ZN4EFAL9EndAccessEyy");
  Bind(h, p.AddColumn, "_ZN4EFAL9AddColumnEyyPKDsN5Ellis12ALLTYPE_TYPEEbjjS1_");
  Bind(h, p.CreateNativeTableMetadata, "_ZN4EFAL25CreateNativeTableMetadataEyPKDsS1_N5Ellis9MICHARSETE");
  Bind(h, p.CreateNativeXTableMetadata, "_ZN4EFAL26CreateNativeXTableMetadataEyPKDsS1_N5Ellis9MICHARSETE");
  Bind(h, p.CreateVariable, "_ZN4EFAL14CreateVariableEyPKDs");
  Bind(h, p.DropVariable, "_ZN4EFAL12DropVariableEyPKDs");
  Bind(h, p.InitializeSession, "_ZN4EFAL17InitializeSessionEPFPKDsS1_E");
  Bind(h, p.Insert, "_ZN4EFAL6InsertEyPKDs");
  Bind(h, p.SetMetadata, "_ZN4EFAL11SetMetadataEyyPKDsS1_");
  Bind(h, p.SetVariableValueBoolean, "_ZN4EFAL23SetVariableValueBooleanEyPKDsb");
  Bind(h, p.SetVariableValueDate, "_ZN4EFAL20SetVariableValueDateEyPKDs8EFALDATE");
  Bind(h, p.SetVariableValueDateTime, "_ZN4EFAL24SetVariableValueDateTimeEyPKDs12EFALDATETIME");
  Bind(h, p.SetVariableValueDouble, "_ZN4EFAL22SetVariableValueDoubleEyPKDsd");
  Bind(h, p.SetVariableValueGeometry, "_ZN4EFAL24SetVariableValueGeometryEyPKDsjPKcS1_");
  Bind(h, p.SetVariableValueInt16, "_ZN4EFAL21SetVariableValueInt16EyPKDss");
  Bind(h, p.SetVariableValueInt32, "_ZN4EFAL21SetVariableValueInt32EyPKDsi");
  Bind(h, p.SetVariableValueInt64, "_ZN4EFAL21SetVariableValueInt64EyPKDsl");
  Bind(h, p.SetVariableValueString, "_ZN4EFAL22SetVariableValueStringEyPKDsS1_");
  Bind(h, p.SetVariableValueStyle, "_ZN4EFAL21SetVariableValueStyleEyPKDsS1_");
  Bind(h, p.SetVariableValueTime, "_ZN4EFAL20SetVariableValueTimeEyPKDs8EFALTIME");
  Bind(h, p.Prepare, "_ZN4EFAL7PrepareEyPKDs");
  Bind(h, p.ExecuteInsert, "_ZN4EFAL13ExecuteInsertEyy");
  Bind(h, p.DisposeStmt, "_ZN4EFAL11DisposeStmtEyy");
  Binding().Procs = p;
  Binding().Status = 0;
}

int32_t EFALStatus() {
  std::lock_guard<std::mutex> lock(LoadLock());
  return Binding().Status;
}

bool EFALLoaded() { return EFALStatus() == 0; }

TEFALProcs EFALProcs() {
  // A copy under the lock: LoadEFAL may bind the table again at any time.
  std::lock_guard<std::mutex> lock(LoadLock());
  return Binding().Procs;
}

TEFALBinding ReplaceEFALProcs(const TEFALBinding& B) {
  std::lock_guard<std::mutex> lock(LoadLock());
  TEFALBinding old = Binding();
  Binding() = B;
  return old;
}

std::string CoordSysToEFAL(const std::string& CoordSys) {
  std::string s = CoordSys;
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  ReplaceAll(s, "earth projection ", "");
  static const std::pair<const char*, const char*> units[] = {
      {"\"mi\"", "0"}, {"\"km\"", "1"}, {"\"in\"", "2"},         {"\"ft\"", "3"},  {"\"yd\"", "4"},
      {"\"mm\"", "5"}, {"\"cm\"", "6"}, {"\"m\"", "7"},          {"\"survey ft\"", "8"},
      {"\"nmi\"", "9"}, {"\"li\"", "30"}, {"\"ch\"", "31"}, {"\"rd\"", "32"}};
  for (const auto& [from, to] : units) ReplaceAll(s, from, to);
  s = "mapinfo:" + s;
  ReplaceAll(s, ", ", ",");
  const size_t b = s.find("bounds");
  if (b != std::string::npos) s.erase(b);
  return s;
}

}  // namespace kovra
