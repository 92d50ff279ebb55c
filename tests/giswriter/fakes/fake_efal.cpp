// A stand-in EFAL library for the load tests: every function of the shared
// declaration header, doing nothing. Built twice: complete (libefal.so) and
// without DisposeStmt (FAKE_EFAL_OMIT_DISPOSESTMT), whose load must fail.
#include "giswriter/efal_api.h"

#define EXPORT __attribute__((visibility("default")))

namespace EFAL {

EXPORT EFALHANDLE InitializeSession(ResourceStringCallback) { return 1; }
EXPORT void DestroySession(EFALHANDLE) {}
EXPORT EFALHANDLE CreateNativeTableMetadata(EFALHANDLE, const char16_t*, const char16_t*, Ellis::MICHARSET) { return 2; }
EXPORT EFALHANDLE CreateNativeXTableMetadata(EFALHANDLE, const char16_t*, const char16_t*, Ellis::MICHARSET) { return 2; }
EXPORT void SetMetadata(EFALHANDLE, EFALHANDLE, const char16_t*, const char16_t*) {}
EXPORT void AddColumn(EFALHANDLE, EFALHANDLE, const char16_t*, Ellis::ALLTYPE_TYPE, bool, uint32_t, uint32_t,
                      const char16_t*) {}
EXPORT EFALHANDLE CreateTable(EFALHANDLE, EFALHANDLE) { return 3; }
EXPORT void DestroyTableMetadata(EFALHANDLE, EFALHANDLE) {}
EXPORT bool BeginWriteAccess(EFALHANDLE, EFALHANDLE) { return true; }
EXPORT void EndAccess(EFALHANDLE, EFALHANDLE) {}
EXPORT void CloseTable(EFALHANDLE, EFALHANDLE) {}
EXPORT bool CreateVariable(EFALHANDLE, const char16_t*) { return true; }
EXPORT void DropVariable(EFALHANDLE, const char16_t*) {}
EXPORT bool SetVariableValueString(EFALHANDLE, const char16_t*, const char16_t*) { return true; }
EXPORT bool SetVariableValueStyle(EFALHANDLE, const char16_t*, const char16_t*) { return true; }
EXPORT bool SetVariableValueBoolean(EFALHANDLE, const char16_t*, bool) { return true; }
EXPORT bool SetVariableValueInt16(EFALHANDLE, const char16_t*, int16_t) { return true; }
EXPORT bool SetVariableValueInt32(EFALHANDLE, const char16_t*, int32_t) { return true; }
EXPORT bool SetVariableValueInt64(EFALHANDLE, const char16_t*, int64_t) { return true; }
EXPORT bool SetVariableValueDouble(EFALHANDLE, const char16_t*, double) { return true; }
EXPORT bool SetVariableValueDate(EFALHANDLE, const char16_t*, EFALDATE) { return true; }
EXPORT bool SetVariableValueTime(EFALHANDLE, const char16_t*, EFALTIME) { return true; }
EXPORT bool SetVariableValueDateTime(EFALHANDLE, const char16_t*, EFALDATETIME) { return true; }
EXPORT bool SetVariableValueGeometry(EFALHANDLE, const char16_t*, uint32_t, const char*, const char16_t*) { return true; }
EXPORT EFALHANDLE Prepare(EFALHANDLE, const char16_t*) { return 4; }
EXPORT int32_t ExecuteInsert(EFALHANDLE, EFALHANDLE) { return 1; }
#ifndef FAKE_EFAL_OMIT_DISPOSESTMT
EXPORT void DisposeStmt(EFALHANDLE, EFALHANDLE) {}
#endif
EXPORT int32_t Insert(EFALHANDLE, const char16_t*) { return 1; }

}  // namespace EFAL
