/* How the host calls the handler of a registered script function.
 *
 * A handler registered with kind DM_HANDLER_C_FUNCTION (function_registry.h)
 * is a plain C function whose parameters follow the registered signature one
 * for one, and whose result is the registered result type:
 *
 *   script type                      C parameter / result
 *   ImageRef, ComplexImagePtr,
 *   TagGroup, dm_string              dm_object *
 *   long                             int32_t
 *   float, double                    float, double
 *   bool                             uint8_t (0 or 1)
 *   char                             char
 *   long *, double *                 int32_t *, double *
 *   ImageRef *                       dm_object **
 *   void (result only)               void
 *
 * Object parameters are borrowed: the host holds them for the call. An object
 * result is a new reference handed to the caller (null after a failure).
 * `long *` and `double *` point to the caller's values, which the handler may
 * read and overwrite. `ImageRef *` points to a slot holding one reference (or
 * null); a handler that stores another image there releases the one it
 * replaces and leaves one reference to the new one, which the host then owns.
 *
 * A handler reports a script error by raising a Throwable (host_call.h,
 * slot 8) before it returns; the host then fails the script call with that
 * Throwable's message and ignores the result value.
 */
#ifndef DM_ABI_SCRIPT_HANDLER_H
#define DM_ABI_SCRIPT_HANDLER_H

#include "function_registry.h"

#endif
