// The functions of the EFAL table library that the EFAL writer calls, as the
// library declares them (namespace EFAL, C++ linkage). The binding looks them
// up by their mangled export names (efal.cpp); a library built from this
// header exports exactly those names.
#pragma once

#include <cstdint>

namespace Ellis {
enum MICHARSET : int32_t {};
enum ALLTYPE_TYPE : int32_t {};
}  // namespace Ellis

struct EFALDATE {
  int32_t year, month, day;
};
struct EFALTIME {
  int32_t hour, minute, second, millisecond;
};
struct EFALDATETIME {
  int32_t year, month, day, hour, minute, second, millisecond;
};

namespace EFAL {

typedef unsigned long long EFALHANDLE;
typedef const char16_t* (*ResourceStringCallback)(const char16_t* resourceStringName);

EFALHANDLE InitializeSession(ResourceStringCallback resourceStringCallback);
void DestroySession(EFALHANDLE hSession);
EFALHANDLE CreateNativeTableMetadata(EFALHANDLE hSession, const char16_t* tableName, const char16_t* tablePath,
                                     Ellis::MICHARSET charset);
EFALHANDLE CreateNativeXTableMetadata(EFALHANDLE hSession, const char16_t* tableName, const char16_t* tablePath,
                                      Ellis::MICHARSET charset);
void SetMetadata(EFALHANDLE hSession, EFALHANDLE hTableMetadata, const char16_t* key, const char16_t* value);
void AddColumn(EFALHANDLE hSession, EFALHANDLE hTableMetadata, const char16_t* columnName,
               Ellis::ALLTYPE_TYPE dataType, bool indexed, uint32_t width, uint32_t decimals,
               const char16_t* szCsys);
EFALHANDLE CreateTable(EFALHANDLE hSession, EFALHANDLE hTableMetadata);
void DestroyTableMetadata(EFALHANDLE hSession, EFALHANDLE hTableMetadata);
bool BeginWriteAccess(EFALHANDLE hSession, EFALHANDLE hTable);
void EndAccess(EFALHANDLE hSession, EFALHANDLE hTable);
void CloseTable(EFALHANDLE hSession, EFALHANDLE hTable);
bool CreateVariable(EFALHANDLE hSession, const char16_t* name);
void DropVariable(EFALHANDLE hSession, const char16_t* name);
bool SetVariableValueString(EFALHANDLE hSession, const char16_t* name, const char16_t* value);
bool SetVariableValueStyle(EFALHANDLE hSession, const char16_t* name, const char16_t* value);
bool SetVariableValueBoolean(EFALHANDLE hSession, const char16_t* name, bool value);
bool SetVariableValueInt16(EFALHANDLE hSession, const char16_t* name, int16_t value);
bool SetVariableValueInt32(EFALHANDLE hSession, const char16_t* name, int32_t value);
bool SetVariableValueInt64(EFALHANDLE hSession, const char16_t* name, int64_t value);
bool SetVariableValueDouble(EFALHANDLE hSession, const char16_t* name, double value);
bool SetVariableValueDate(EFALHANDLE hSession, const char16_t* name, EFALDATE value);
bool SetVariableValueTime(EFALHANDLE hSession, const char16_t* name, EFALTIME value);
bool SetVariableValueDateTime(EFALHANDLE hSession, const char16_t* name, EFALDATETIME value);
bool SetVariableValueGeometry(EFALHANDLE hSession, const char16_t* name, uint32_t bytes, const char* value,
                              const char16_t* szcsys);
EFALHANDLE Prepare(EFALHANDLE hSession, const char16_t* statement);
int32_t ExecuteInsert(EFALHANDLE hSession, EFALHANDLE hStmt);
void DisposeStmt(EFALHANDLE hSession, EFALHANDLE hStmt);
int32_t Insert(EFALHANDLE hSession, const char16_t* txt);

}  // namespace EFAL
