// Binding of the MITAB table library ("libmitab64.so"), through which the
// gfMITAB writer writes TAB tables. The library is optional: while it is not
// loaded the factory makes MIF/MID writers instead.
//
// Where the library is searched (first use only, never again):
//  1. the environment variable KOVRA_MITAB_LIBRARY: when set, only that path
//     is tried (a path that does not exist, or an empty value, makes the
//     library absent);
//  2. "libmitab64.so" in the folder of the running program;
//  3. "libmitab64.so" by the dynamic loader's normal search.
#pragma once

#include <cstdint>

#include "giswriter/mitab_c_api.h"

namespace kovra {

// The bound functions; null until bound. Tests swap in a whole table of
// their own (ReplaceMITABProcs).
struct TMITABProcs {
  mitab_c_create_t create = nullptr;
  mitab_c_set_charset_t set_charset = nullptr;
  mitab_c_add_field_t add_field = nullptr;
  mitab_c_create_feature_t create_feature = nullptr;
  mitab_c_set_field_t set_field = nullptr;
  mitab_c_set_pen_t set_pen = nullptr;
  mitab_c_set_brush_t set_brush = nullptr;
  mitab_c_set_symbol_t set_symbol = nullptr;
  mitab_c_set_points_t set_points = nullptr;
  mitab_c_write_feature_t write_feature = nullptr;
  mitab_c_destroy_feature_t destroy_feature = nullptr;
  mitab_c_close_t close = nullptr;
  mitab_c_getlibversion_t getlibversion = nullptr;
  mitab_c_getlasterrorno_t getlasterrorno = nullptr;
  mitab_c_getlasterrormsg_t getlasterrormsg = nullptr;
};

// Load status: -1 not tried, 0 loaded, -2 the file could not be loaded, -3 it
// lacks mitab_c_getlibversion, -4 its version is not MITAB_C_LIBVERSION.
// Reading it runs LoadMITAB first.
int32_t MITABStatus();
// Loads and binds the library once (thread-safe); later calls do nothing.
void LoadMITAB();
// MITABStatus() = 0.
bool MITABLoaded();
// Address of an export of the loaded library; null when absent or when the
// library is not loaded (status other than 0).
void* GetMITABProc(const char* name);
// The bound functions (valid while MITABLoaded()).
const TMITABProcs& MITABProcs();

// Test seam: makes Procs (with Status) the library's functions and returns
// the previous ones. Not for concurrent use with writers.
struct TMITABBinding {
  TMITABProcs Procs;
  int32_t Status = -1;
};
TMITABBinding ReplaceMITABProcs(const TMITABBinding& Binding);

}  // namespace kovra
