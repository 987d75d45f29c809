/* The host's image data types, written once.
 *
 * DM_DATA_TYPES(X) expands X(code, identifier, name, bytes, kind) once per
 * data type, in code order:
 *   code        the host's data-type code (GetDataType, ImageGetDataType);
 *   identifier  a C identifier for the type, for the expanding side to
 *               prefix as its own names want (DataType::Real4, kReal4);
 *   name        how messages name it: kind and element size in bytes;
 *   bytes       the element size;
 *   kind        DM_KIND_SIGNED, _UNSIGNED, _REAL, _COMPLEX, _BINARY or _RGB
 *               (signed and unsigned are both the Integer family).
 * The host, the plug-in, the Python extension and through it the Python
 * layer expand this list; none of them writes the table again.
 */
#ifndef DM_ABI_DATA_TYPES_H
#define DM_ABI_DATA_TYPES_H

#define DM_DATA_TYPES(X)                                 \
    X(1, Int16, "Integer 2", 2, DM_KIND_SIGNED)          \
    X(2, Real4, "Real 4", 4, DM_KIND_REAL)               \
    X(3, Complex8, "Complex 8", 8, DM_KIND_COMPLEX)      \
    X(6, UInt8, "Integer 1", 1, DM_KIND_UNSIGNED)        \
    X(7, Int32, "Integer 4", 4, DM_KIND_SIGNED)          \
    X(8, RGB, "RGB", 4, DM_KIND_RGB)                     \
    X(9, Int8, "Integer 1", 1, DM_KIND_SIGNED)           \
    X(10, UInt16, "Integer 2", 2, DM_KIND_UNSIGNED)      \
    X(11, UInt32, "Integer 4", 4, DM_KIND_UNSIGNED)      \
    X(12, Real8, "Real 8", 8, DM_KIND_REAL)              \
    X(13, Complex16, "Complex 16", 16, DM_KIND_COMPLEX)  \
    X(14, Binary, "Binary", 1, DM_KIND_BINARY)

enum dm_data_kind {
    DM_KIND_SIGNED,
    DM_KIND_UNSIGNED,
    DM_KIND_REAL,
    DM_KIND_COMPLEX,
    DM_KIND_BINARY,
    DM_KIND_RGB
};

#endif
