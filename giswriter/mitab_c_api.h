// The C entry points of the MITAB table library that the TAB writer uses:
// the contract between the `mitab` binding and the library file
// "libmitab64.so" (our own build lives in giswriter/mitab64/). Plain C so
// that any library exporting these names can be loaded.
//
// Conventions: handles are opaque pointers, 0 on failure; texts are
// zero-terminated; paths are UTF-8, names and values bytes in the table's
// code page; colours 0x00RRGGBB. After a failed call mitab_c_getlasterrorno
// is non-zero and mitab_c_getlasterrormsg describes it (per thread); a call
// that succeeds resets them.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

typedef void* mitab_handle;

// mitab_c_getlasterrorno values.
#define MITAB_C_ERR_NONE 0
#define MITAB_C_ERR_FAILURE 1
// mitab_c_close found coordinates outside the table's bounds (they were
// clamped); the message is the bounds as "(xmin, ymin) (xmax, ymax)".
#define MITAB_C_ERR_OUT_OF_BOUNDS 2
typedef void* mitab_feature;

// Version 1.7 of the interface.
#define MITAB_C_LIBVERSION 1007000

// Feature types of mitab_c_create_feature.
#define MITAB_C_TYPE_NONE 0
#define MITAB_C_TYPE_POINT 1
#define MITAB_C_TYPE_POLYLINE 5
#define MITAB_C_TYPE_REGION 7

// Field types of mitab_c_add_field.
#define MITAB_C_FIELD_CHAR 1
#define MITAB_C_FIELD_INTEGER 2
#define MITAB_C_FIELD_SMALLINT 3
#define MITAB_C_FIELD_DECIMAL 4
#define MITAB_C_FIELD_FLOAT 5
#define MITAB_C_FIELD_DATE 6
#define MITAB_C_FIELD_LOGICAL 7
#define MITAB_C_FIELD_TIME 8
#define MITAB_C_FIELD_DATETIME 9

// A new table (mif_type "tab"); north, south, east and west all 0 = the
// coordinate system's own bounds.
typedef mitab_handle (*mitab_c_create_t)(const char* filename, const char* mif_type, const char* mif_projection,
                                         double north, double south, double east, double west);
// The table's charset label (a MapInfo charset name); 1 on success, 0 otherwise.
typedef int (*mitab_c_set_charset_t)(mitab_handle handle, const char* charset);
// Index of the new field, -1 on failure.
typedef int (*mitab_c_add_field_t)(mitab_handle handle, const char* field_name, int field_type, int width,
                                   int precision, int indexed, int unique);
typedef mitab_feature (*mitab_c_create_feature_t)(mitab_handle handle, int feature_type);
typedef void (*mitab_c_set_field_t)(mitab_feature feature, int field_index, const char* field_value);
typedef void (*mitab_c_set_pen_t)(mitab_feature feature, int width, int pattern, int color);
typedef void (*mitab_c_set_brush_t)(mitab_feature feature, int fg_color, int bg_color, int pattern,
                                    int transparent);
typedef void (*mitab_c_set_symbol_t)(mitab_feature feature, int symbol_no, int symbol_size, int symbol_color);
// Part 0 starts the geometry; in a region a part <= 0 starts a polygon and a
// positive part adds a hole to the current one; in a polyline every part is
// one line.
typedef void (*mitab_c_set_points_t)(mitab_feature feature, int part, int vertex_count, double* x, double* y);
// 1 on success, 0 otherwise.
typedef int (*mitab_c_write_feature_t)(mitab_handle handle, mitab_feature feature);
typedef void (*mitab_c_destroy_feature_t)(mitab_feature feature);
// Finishes the table; a failure is reported through getlasterrorno.
typedef void (*mitab_c_close_t)(mitab_handle handle);
typedef int (*mitab_c_getlibversion_t)(void);
typedef int (*mitab_c_getlasterrorno_t)(void);
typedef const char* (*mitab_c_getlasterrormsg_t)(void);

#ifdef MITAB_C_DECLARE_EXPORTS
#define MITAB_C_EXPORT __attribute__((visibility("default")))
MITAB_C_EXPORT mitab_handle mitab_c_create(const char* filename, const char* mif_type, const char* mif_projection,
                                           double north, double south, double east, double west);
MITAB_C_EXPORT int mitab_c_set_charset(mitab_handle handle, const char* charset);
MITAB_C_EXPORT int mitab_c_add_field(mitab_handle handle, const char* field_name, int field_type, int width,
                                     int precision, int indexed, int unique);
MITAB_C_EXPORT mitab_feature mitab_c_create_feature(mitab_handle handle, int feature_type);
MITAB_C_EXPORT void mitab_c_set_field(mitab_feature feature, int field_index, const char* field_value);
MITAB_C_EXPORT void mitab_c_set_pen(mitab_feature feature, int width, int pattern, int color);
MITAB_C_EXPORT void mitab_c_set_brush(mitab_feature feature, int fg_color, int bg_color, int pattern,
                                      int transparent);
MITAB_C_EXPORT void mitab_c_set_symbol(mitab_feature feature, int symbol_no, int symbol_size, int symbol_color);
MITAB_C_EXPORT void mitab_c_set_points(mitab_feature feature, int part, int vertex_count, double* x, double* y);
MITAB_C_EXPORT int mitab_c_write_feature(mitab_handle handle, mitab_feature feature);
MITAB_C_EXPORT void mitab_c_destroy_feature(mitab_feature feature);
MITAB_C_EXPORT void mitab_c_close(mitab_handle handle);
MITAB_C_EXPORT int mitab_c_getlibversion(void);
MITAB_C_EXPORT int mitab_c_getlasterrorno(void);
MITAB_C_EXPORT const char* mitab_c_getlasterrormsg(void);
#endif

#ifdef __cplusplus
}
#endif
