// Binding of the EFAL table library ("libefal.so" in a folder the caller
// names), loaded only on request (TGISWriter::EFAL_Load). The functions are
// C++ functions of namespace EFAL (efal_api.h), looked up by their mangled
// names.
#pragma once

#include <cstdint>
#include <string>

#include "giswriter/efal_api.h"

namespace kovra {

struct TEFALProcs {
  decltype(&EFAL::BeginWriteAccess) BeginWriteAccess = nullptr;
  decltype(&EFAL::CloseTable) CloseTable = nullptr;
  decltype(&EFAL::CreateTable) CreateTable = nullptr;
  decltype(&EFAL::DestroySession) DestroySession = nullptr;
  decltype(&EFAL::DestroyTableMetadata) DestroyTableMetadata = nullptr;
  decltype(&EFAL::EndAccess) EndAccess = nullptr;
  decltype(&EFAL::AddColumn) AddColumn = nullptr;
  decltype(&EFAL::CreateNativeTableMetadata) CreateNativeTableMetadata = nullptr;
  decltype(&EFAL::CreateNativeXTableMetadata) CreateNativeXTableMetadata = nullptr;
  decltype(&EFAL::CreateVariable) CreateVariable = nullptr;
  decltype(&EFAL::DropVariable) DropVariable = nullptr;
  decltype(&EFAL::InitializeSession) InitializeSession = nullptr;
  decltype(&EFAL::Insert) Insert = nullptr;
  decltype(&EFAL::SetMetadata) SetMetadata = nullptr;
  decltype(&EFAL::SetVariableValueBoolean) SetVariableValueBoolean = nullptr;
  decltype(&EFAL::SetVariableValueDate) SetVariableValueDate = nullptr;
  decltype(&EFAL::SetVariableValueDateTime) SetVariableValueDateTime = nullptr;
  decltype(&EFAL::SetVariableValueDouble) SetVariableValueDouble = nullptr;
  decltype(&EFAL::SetVariableValueGeometry) SetVariableValueGeometry = nullptr;
  decltype(&EFAL::SetVariableValueInt16) SetVariableValueInt16 = nullptr;
  decltype(&EFAL::SetVariableValueInt32) SetVariableValueInt32 = nullptr;
  decltype(&EFAL::SetVariableValueInt64) SetVariableValueInt64 = nullptr;
  decltype(&EFAL::SetVariableValueString) SetVariableValueString = nullptr;
  decltype(&EFAL::SetVariableValueStyle) SetVariableValueStyle = nullptr;
  decltype(&EFAL::SetVariableValueTime) SetVariableValueTime = nullptr;
  decltype(&EFAL::Prepare) Prepare = nullptr;
  decltype(&EFAL::ExecuteInsert) ExecuteInsert = nullptr;
  decltype(&EFAL::DisposeStmt) DisposeStmt = nullptr;
};

// 1 not loaded, 0 loaded, 2 the file could not be loaded.
int32_t EFALStatus();
// Opens libpath + "/libefal.so" (a missing file: status 2, no exception) and
// binds the 28 functions; the first missing one raises "Cannot find the
// address for proc <mangled name>" and the status stays. May run again.
void LoadEFAL(const std::string& libpath);
bool EFALLoaded();
// The address of export name of module; raises as above when absent.
void* GetEFALProc(void* module, const char* name);
// A copy of the bound functions, taken under the lock LoadEFAL holds.
TEFALProcs EFALProcs();

struct TEFALBinding {
  TEFALProcs Procs;
  int32_t Status = 1;
};
// Test seam: installs Binding, returns the previous one.
TEFALBinding ReplaceEFALProcs(const TEFALBinding& Binding);

// A MapInfo CoordSys text in the form the EFAL library takes:
// "CoordSys Earth Projection 1, 104" -> "mapinfo:coordsys 1,104"; unit names
// become MapInfo unit numbers and a Bounds clause is cut off.
std::string CoordSysToEFAL(const std::string& CoordSys);

}  // namespace kovra
