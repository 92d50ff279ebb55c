#include "giswriter/mitab.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <string>

namespace kovra {

namespace {

constexpr const char* cMITABFile = "libmitab64.so";

struct TMITABState {
  void* Module = nullptr;
  TMITABBinding Binding;
};

TMITABState& State() {
  static TMITABState s;
  return s;
}

std::once_flag& LoadOnce() {
  static std::once_flag f;
  return f;
}

// Folder of the running program, with a trailing '/'; empty when unknown.
std::string ProgramFolder() {
  std::string buf(4096, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
  if (n <= 0 || size_t(n) >= buf.size()) return {};
  buf.resize(size_t(n));
  const size_t slash = buf.rfind('/');
  return slash == std::string::npos ? std::string() : buf.substr(0, slash + 1);
}

void* OpenLibrary() {
  if (const char* path = std::getenv("KOVRA_MITAB_LIBRARY")) {
    // An empty name would open the running program itself.
    return *path ? ::dlopen(path, RTLD_NOW | RTLD_LOCAL) : nullptr;
  }
  const std::string folder = ProgramFolder();
  if (!folder.empty()) {
    const std::string path = folder + cMITABFile;
    if (::access(path.c_str(), F_OK) == 0) {
      if (void* h = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) return h;
    }
  }
  return ::dlopen(cMITABFile, RTLD_NOW | RTLD_LOCAL);
}

template <typename F>
void Bind(void* module, F& target, const char* name) {
  target = reinterpret_cast<F>(::dlsym(module, name));
}

void DoLoad() {
  TMITABState& s = State();
  void* h = OpenLibrary();
  if (!h) {
    s.Binding.Status = -2;
    return;
  }
  s.Module = h;  // never unloaded
  TMITABProcs& p = s.Binding.Procs;
  Bind(h, p.getlibversion, "mitab_c_getlibversion");
  if (!p.getlibversion) {
    s.Binding.Status = -3;
    return;
  }
  if (p.getlibversion() != MITAB_C_LIBVERSION) {
    p.getlibversion = nullptr;
    s.Binding.Status = -4;
    return;
  }
  Bind(h, p.create, "mitab_c_create");
  Bind(h, p.set_charset, "mitab_c_set_charset");
  Bind(h, p.add_field, "mitab_c_add_field");
  Bind(h, p.create_feature, "mitab_c_create_feature");
  Bind(h, p.set_field, "mitab_c_set_field");
  Bind(h, p.set_pen, "mitab_c_set_pen");
  Bind(h, p.set_brush, "mitab_c_set_brush");
  Bind(h, p.set_symbol, "mitab_c_set_symbol");
  Bind(h, p.set_points, "mitab_c_set_points");
  Bind(h, p.write_feature, "mitab_c_write_feature");
  Bind(h, p.destroy_feature, "mitab_c_destroy_feature");
  Bind(h, p.close, "mitab_c_close");
  Bind(h, p.getlasterrorno, "mitab_c_getlasterrorno");
  Bind(h, p.getlasterrormsg, "mitab_c_getlasterrormsg");
  // A library that passes the version test but lacks a function the writer
  // calls cannot write a table: treat it as absent rather than crash later.
  const void* const all[] = {
      reinterpret_cast<void*>(p.create),         reinterpret_cast<void*>(p.set_charset),
      reinterpret_cast<void*>(p.add_field),      reinterpret_cast<void*>(p.create_feature),
      reinterpret_cast<void*>(p.set_field),      reinterpret_cast<void*>(p.set_pen),
      reinterpret_cast<void*>(p.set_brush),      reinterpret_cast<void*>(p.set_symbol),
      reinterpret_cast<void*>(p.set_points),     reinterpret_cast<void*>(p.write_feature),
      reinterpret_cast<void*>(p.destroy_feature), reinterpret_cast<void*>(p.close),
      reinterpret_cast<void*>(p.getlasterrorno), reinterpret_cast<void*>(p.getlasterrormsg)};
  for (const void* f : all)
    if (!f) {
      s.Binding.Status = -3;
      return;
    }
  s.Binding.Status = 0;
}

}  // namespace

void LoadMITAB() { std::call_once(LoadOnce(), DoLoad); }

int32_t MITABStatus() {
  LoadMITAB();
  return State().Binding.Status;
}

bool MITABLoaded() { return MITABStatus() == 0; }

void* GetMITABProc(const char* name) {
  LoadMITAB();
  // Nothing of a library that failed the version test is handed out.
  void* m = State().Binding.Status == 0 ? State().Module : nullptr;
  return m ? ::dlsym(m, name) : nullptr;
}

const TMITABProcs& MITABProcs() {
  LoadMITAB();
  return State().Binding.Procs;
}

TMITABBinding ReplaceMITABProcs(const TMITABBinding& Binding) {
  LoadMITAB();  // a later first use must not overwrite the replacement
  TMITABBinding old = State().Binding;
  State().Binding = Binding;
  return old;
}

}  // namespace kovra
