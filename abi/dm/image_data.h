/* Locked image data.
 *
 * "ScriptObject ImageGetLockedData( BasicImage, ulong, ScriptObject )" locks
 * an image's pixels with the given flags and returns a locked-data object;
 * "void ExtractImageDataSequenceFromScriptObjectOrFail( ScriptObject, void * )"
 * then fills a dm_image_data_sequence from it. The pixels stay locked, and the
 * record valid, until the last reference to the locked-data object is
 * released.
 */
#ifndef DM_ABI_IMAGE_DATA_H
#define DM_ABI_IMAGE_DATA_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum {
    /* The pixels where they lie: a sub-area reports its own sizes and its
     * parent's byte strides. */
    DM_LOCK_IN_PLACE = 32,
    /* Dense pixels: a sub-area is handed over as a dense copy whose changes
     * are written back into the parent when the lock ends. A whole image is
     * dense already and is handed over in place. */
    DM_LOCK_DENSE = 1
};

enum { DM_MAX_DIMENSIONS = 5 };

typedef struct dm_image_data_sequence {
    void *data;             /* element (0, 0, ...) */
    int32_t num_dims;       /* locked dimensions, at most DM_MAX_DIMENSIONS */
    struct {
        int32_t size;       /* elements along the dimension */
        int32_t stride;     /* bytes from one element to the next along it */
    } dims[DM_MAX_DIMENSIONS];
} dm_image_data_sequence;

#ifdef __cplusplus
}
#endif
#endif
