/* Per-class function tables.
 *
 * The link object (link.h, slot 4) hands out one table per class identifier,
 * for example "Gatan:DigitalMicrograph:Image". The plug-in binds each table it
 * uses once at start-up and keeps the pointer until shut-down; the host keeps
 * every table alive for as long as the link object lives.
 */
#ifndef DM_ABI_CLASS_TABLE_H
#define DM_ABI_CLASS_TABLE_H

#include "object.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct dm_class_table {
    /* slot 0: the class identifier this table serves; static text. */
    const char *(*class_id)(void);
    /* slot 1, String class only (null in other tables): a new string holding
     * the UTF-8 text [begin, end). Null when memory runs out. */
    dm_object *(*string_from_text)(const char *begin, const char *end);
    /* slot 2, String class only: copy the UTF-8 text of `string` into
     * `buffer`, truncated to size - 1 bytes and NUL-terminated when size > 0;
     * returns the full length in bytes (a null buffer asks only that). */
    int32_t (*string_text)(dm_object *string, char *buffer, int32_t size);
    /* slots 3-5: not used by the plug-in; null. */
    void (*reserved3)(void);
    void (*reserved4)(void);
    void (*reserved5)(void);
    /* slot 6: take one more reference to `object`, which must be live and of
     * this class (a null object is ignored). Any thread the script runs on. */
    void (*add_ref)(dm_object *object);
    /* slot 7: give back one reference; the last one destroys the object.
     * A null object is ignored. */
    void (*release)(dm_object *object);
} dm_class_table;

/* Class identifiers the plug-in binds (link.h, slot 4). */
#define DM_CLASS_THROWABLE     "Gatan:DigitalMicrograph:Throwable"
#define DM_CLASS_FUNCTION      "Gatan:DigitalMicrograph:Function"
#define DM_CLASS_SCRIPT_CLASS  "Gatan:DigitalMicrograph:ScriptClass"
#define DM_CLASS_STRING        "Gatan:DigitalMicrograph:String"
#define DM_CLASS_SCRIPT_OBJECT "Gatan:DigitalMicrograph:ScriptObject"
#define DM_CLASS_IMAGE         "Gatan:DigitalMicrograph:Image"
#define DM_CLASS_ROI           "Gatan:DigitalMicrograph:RegionOfInterest"
#define DM_CLASS_TAG_GROUP     "Gatan:DigitalMicrograph:TagGroup"
#define DM_CLASS_WINDOW        "Gatan:DigitalMicrograph:Window"
#define DM_CLASS_COMPONENT     "Gatan:DigitalMicrograph:Component"
#define DM_CLASS_IMAGE_DISPLAY "Gatan:DigitalMicrograph:ImageDisplay"
#define DM_CLASS_LINE_PLOT_IMAGE_DISPLAY    "Gatan:DigitalMicrograph:LinePlotImageDisplay"
#define DM_CLASS_RASTER_IMAGE_DISPLAY       "Gatan:DigitalMicrograph:RasterImageDisplay"
#define DM_CLASS_SURFACE_PLOT_IMAGE_DISPLAY "Gatan:DigitalMicrograph:SurfacePlotImageDisplay"
#define DM_CLASS_IMAGE_DOCUMENT "Gatan:DigitalMicrograph:ImageDocument"

/* Every class, in binding order, as X(name, identifier): one list for both
 * sides of the link to expand into their own enumerations and tables. */
#define DM_CLASSES(X)                                                   \
    X(Throwable, DM_CLASS_THROWABLE)                                    \
    X(Function, DM_CLASS_FUNCTION)                                      \
    X(ScriptClass, DM_CLASS_SCRIPT_CLASS)                               \
    X(String, DM_CLASS_STRING)                                          \
    X(ScriptObject, DM_CLASS_SCRIPT_OBJECT)                             \
    X(Image, DM_CLASS_IMAGE)                                            \
    X(RegionOfInterest, DM_CLASS_ROI)                                   \
    X(TagGroup, DM_CLASS_TAG_GROUP)                                     \
    X(Window, DM_CLASS_WINDOW)                                          \
    X(Component, DM_CLASS_COMPONENT)                                    \
    X(ImageDisplay, DM_CLASS_IMAGE_DISPLAY)                             \
    X(LinePlotImageDisplay, DM_CLASS_LINE_PLOT_IMAGE_DISPLAY)           \
    X(RasterImageDisplay, DM_CLASS_RASTER_IMAGE_DISPLAY)                \
    X(SurfacePlotImageDisplay, DM_CLASS_SURFACE_PLOT_IMAGE_DISPLAY)     \
    X(ImageDocument, DM_CLASS_IMAGE_DOCUMENT)

#ifdef __cplusplus
}
#endif
#endif
