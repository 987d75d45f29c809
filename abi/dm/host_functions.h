/* The host functions a plug-in calls, written once.
 *
 * DM_HOST_FUNCTIONS(X) expands X(id, prototype, result, parameters) once per
 * host function:
 *   id          a C identifier for the function, unique where the host has
 *               several prototypes of one name (ComplexImage2D);
 *   prototype   the exact text the registry finds it by (function_registry.h,
 *               lookup); these are the real host's texts, spaces included;
 *   result      the C type of the result (void: none);
 *   parameters  the C parameter list, in parentheses, with the C type of each
 *               prototype word (function_registry.h); a "uint32..." run is the
 *               run's count followed by `...`, each further argument a uint32_t.
 * `result parameters` is the function's C signature, the types of the
 * values that host_call.h slot 12 passes by address. The host builds its
 * prototype table from this list and reads each argument with its type; the
 * plug-in looks each function up by this prototype and passes arguments of
 * these types. Neither side writes a prototype text or a type again.
 *
 * Every function is called by the plug-in on the host's script thread,
 * through host_call.h slot 12. Object arguments are borrowed; an object
 * result is a new reference the caller releases (null when none was made).
 * A failed call writes no result and leaves a pending Throwable.
 */
#ifndef DM_ABI_HOST_FUNCTIONS_H
#define DM_ABI_HOST_FUNCTIONS_H

#include <stdint.h>
#include "object.h"

#define DM_HOST_FUNCTIONS(X)                                                                              \
    /* A new complex image named `name`, `bytes` 8 or 16 per element, of 1, 2 or 3 dimensions; every */  \
    /* size between 1 and 2^31 - 1. A new reference. */                                                  \
    X(ComplexImage1D, "ComplexImagePtr ComplexImage( string, long, long )", dm_object *,                  \
      (dm_object * name, int32_t bytes, int32_t width))                                                   \
    X(ComplexImage2D, "ComplexImagePtr ComplexImage( string, long, long, long )", dm_object *,            \
      (dm_object * name, int32_t bytes, int32_t width, int32_t height))                                   \
    X(ComplexImage3D, "ComplexImagePtr ComplexImage( string, long, long, long, long )", dm_object *,      \
      (dm_object * name, int32_t bytes, int32_t width, int32_t height, int32_t depth))                    \
    /* A new real image named `name`, `bytes` 4 or 8 per element, of 1, 2 or 3 dimensions. */           \
    X(RealImage1D, "RealImagePtr RealImage( dm_string, uint32, uint32 )", dm_object *,                    \
      (dm_object * name, uint32_t bytes, uint32_t width))                                                 \
    X(RealImage2D, "RealImagePtr RealImage( dm_string, uint32, uint32, uint32 )", dm_object *,            \
      (dm_object * name, uint32_t bytes, uint32_t width, uint32_t height))                                \
    X(RealImage3D, "RealImagePtr RealImage( dm_string, uint32, uint32, uint32, uint32 )", dm_object *,    \
      (dm_object * name, uint32_t bytes, uint32_t width, uint32_t height, uint32_t depth))                \
    /* A new image of any data type (data_types.h code): `num_dims` (1 to 5) sizes follow as uint32_t */ \
    /* arguments. A new reference. */                                                                    \
    X(NewImage, "BasicImage NewImage( dm_string, uint32, uint32... )", dm_object *,                       \
      (dm_object * name, uint32_t data_type, uint32_t num_dims, ...))                                     \
    /* A deep copy of `image`: pixels, calibrations, tags and name. A new reference. */                  \
    X(ImageClone, "ImageRef ImageClone( ImageRef )", dm_object *, (dm_object * image))                    \
    /* Copies the pixels of `source` into `target` (same sizes), converted to the target's data type. */ \
    X(ConvertImageData, "void ConvertImageData( ImageRef, ImageRef )", void,                              \
      (dm_object * source, dm_object * target))                                                           \
    /* Changes the image's data type in place, converting its pixels: to Complex 8, to Real 4, or to */  \
    /* the data-type code `data_type`. Refused for a locked image or a sub-area. */                      \
    X(ConvertToComplex, "void ConvertToComplex( ImageRef )", void, (dm_object * image))                   \
    X(ConvertToFloat, "void ConvertToFloat( ImageRef )", void, (dm_object * image))                       \
    X(ImageChangeDataType, "void ImageChangeDataType( BasicImage, uint32 )", void,                        \
      (dm_object * image, uint32_t data_type))                                                            \
    /* The image's data-type code (data_types.h), as short or as uint32. */                              \
    X(GetDataType, "short GetDataType( ImageRef )", int16_t, (dm_object * image))                         \
    X(ImageGetDataType, "uint32 ImageGetDataType( ImageRef )", uint32_t, (dm_object * image))             \
    /* Bytes per pixel. */                                                                               \
    X(ImageGetDataElementByteSize, "uint32 ImageGetDataElementByteSize( ImageRef )", uint32_t,            \
      (dm_object * image))                                                                                \
    /* 1 when the image is complex (real) with `bytes` per element, else 0. */                           \
    X(IsComplexDataType, "Boolean IsComplexDataType( ImageRef, long )", uint8_t,                          \
      (dm_object * image, int32_t bytes))                                                                 \
    X(IsRealDataType, "Boolean IsRealDataType( ImageRef, long )", uint8_t, (dm_object * image, int32_t bytes)) \
    /* 1 when the image's data type is of the binary, complex or integer family, else 0. */              \
    X(ImageIsDataTypeBinary, "Boolean ImageIsDataTypeBinary( ImageRef )", uint8_t, (dm_object * image))   \
    X(ImageIsDataTypeComplex, "Boolean ImageIsDataTypeComplex( ImageRef )", uint8_t, (dm_object * image)) \
    X(ImageIsDataTypeInteger, "Boolean ImageIsDataTypeInteger( ImageRef )", uint8_t, (dm_object * image)) \
    /* Writes the sizes along x and y; a null pointer skips that one. */                                 \
    X(GetSize, "void GetSize( ImageRef, long *, long * )", void,                                          \
      (dm_object * image, int32_t * width, int32_t * height))                                             \
    /* The size along `dimension` (0 to 4; 1 past the image's dimensions). */                            \
    X(ImageGetDimensionSize, "uint32 ImageGetDimensionSize( ImageRef, uint32 )", uint32_t,                \
      (dm_object * image, uint32_t dimension))                                                            \
    X(ImageGetNumDimensions, "uint32 ImageGetNumDimensions( ImageRef )", uint32_t, (dm_object * image))   \
    /* The image's name as a new string. */                                                              \
    X(GetName, "dm_string GetName( ImageRef )", dm_object *, (dm_object * image))                         \
    /* Reads the calibration of `dimension`: origin, scale and units (a new string the caller */         \
    /* releases); null pointers skip those. `calibrated` (1) is accepted and not used. */                \
    X(ImageGetDimensionCalibration,                                                                       \
      "void ImageGetDimensionCalibration( ImageRef, long, float *, float *, dm_string *, long )", void,   \
      (dm_object * image, int32_t dimension, float *origin, float *scale, dm_object **units,             \
       int32_t calibrated))                                                                               \
    /* Sets the calibration of `dimension`; `units` is borrowed (null: no units). */                     \
    X(ImageSetDimensionCalibration,                                                                       \
      "void ImageSetDimensionCalibration( ImageRef, long, float, float, dm_string, long )", void,         \
      (dm_object * image, int32_t dimension, float origin, float scale, dm_object *units,                \
       int32_t calibrated))                                                                               \
    /* Copies the calibrations of the dimensions both images have from `source` to `target`. */          \
    X(ImageCopyCalibrationFrom, "void ImageCopyCalibrationFrom( ImageRef, ImageRef )", void,              \
      (dm_object * target, dm_object * source))                                                           \
    /* The image's own tag group, as a new reference to it (not a copy). */                              \
    X(ImageGetTagGroup, "TagGroup ImageGetTagGroup( ImageRef )", dm_object *, (dm_object * image))        \
    /* Tells the host that the plug-in has written the image's pixels. */                                \
    X(ImageDataChanged, "void ImageDataChanged( ImageRef )", void, (dm_object * image))                   \
    /* Locks the pixels (image_data.h, DM_LOCK_*); `slice` must be null. A new locked-data object; */    \
    /* the lock ends with its last reference. */                                                         \
    X(ImageGetLockedData, "ScriptObject ImageGetLockedData( BasicImage, ulong, ScriptObject )", dm_object *, \
      (dm_object * image, uint32_t flags, dm_object *slice))                                             \
    /* Fills the dm_image_data_sequence at `record` from a locked-data object. */                        \
    X(ExtractImageDataSequence, "void ExtractImageDataSequenceFromScriptObjectOrFail( ScriptObject, void * )", \
      void, (dm_object * locked_data, void *record))                                                      \
    /* A new, empty tag group. */                                                                        \
    X(NewTagGroup, "TagGroup NewTagGroup(  )", dm_object *, (void))                                       \
    /* Copies every tag of `source` into `target`, deeply. */                                            \
    X(TagGroupCopyTagsFrom, "void TagGroupCopyTagsFrom( TagGroup, TagGroup )", void,                      \
      (dm_object * target, dm_object * source))                                                           \
    /* Sets the tag at `path` ("A:B:C", groups made as needed) to a double or a long. */                 \
    X(TagGroupSetTagAsDouble, "void TagGroupSetTagAsDouble( TagGroup, string, double )", void,            \
      (dm_object * group, dm_object * path, double value))                                                \
    X(TagGroupSetTagAsLong, "void TagGroupSetTagAsLong( TagGroup, string, long )", void,                  \
      (dm_object * group, dm_object * path, int32_t value))                                               \
    /* Appends `text` to the script's results. */                                                        \
    X(Result, "void Result( dm_string )", void, (dm_object * text))                                       \
    /* Shows `text` to the user in an alert of `kind`. */                                                \
    X(ShowAlert, "void ShowAlert( dm_string, long )", void, (dm_object * text, int32_t kind))             \
    /* A new Throwable whose message is `text`. */                                                       \
    X(NewThrowableFromString, "Throwable NewThrowableFromString( dm_string )", dm_object *,               \
      (dm_object * text))

#endif
