/* Host objects as the plug-in sees them.
 *
 * Every host object (image, string, tag group, throwable, function, script
 * object, ...) crosses the boundary as an opaque pointer, `dm_object *`.
 * The host reference-counts them; the plug-in only takes references
 * (class-table slot 6) and gives them back (slot 7).
 *
 * Ownership words used throughout abi/dm:
 *   borrowed  the callee may use the handle for the duration of the call only;
 *   new       the receiver owns one reference and must release it.
 */
#ifndef DM_ABI_OBJECT_H
#define DM_ABI_OBJECT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct dm_object dm_object;

/* Status of a host call. Anything but DM_STATUS_OK leaves a pending
 * Throwable that dm_host_call slot 7 hands out. */
enum {
    DM_STATUS_OK = 0,
    DM_STATUS_ERROR = 1,
    /* The function handle the caller used has gone stale (for example the
     * host re-registered it): look the prototype up again and repeat once. */
    DM_STATUS_STALE = 3
};

#ifdef __cplusplus
}
#endif
#endif
