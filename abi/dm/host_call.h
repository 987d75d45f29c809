/* The host call interface: the channel of every host call the plug-in makes.
 *
 * Obtained from the link object (link.h, slot 3). All calls come from the
 * host's script thread, one at a time. Slot numbers are fixed; the slots the
 * plug-in does not use are null.
 */
#ifndef DM_ABI_HOST_CALL_H
#define DM_ABI_HOST_CALL_H

#include <stddef.h>
#include "object.h"
#include "function_registry.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct dm_host_call dm_host_call;

typedef struct dm_host_call_vtbl {
    /* slot 0: take a reference to the interface. */
    void (*add_ref)(dm_host_call *self);
    /* slot 1: give one back. */
    void (*release)(dm_host_call *self);
    void (*reserved2)(void);
    void (*reserved3)(void);
    /* slot 4: forget the pending Throwable of the last failed call. */
    void (*clear_error)(dm_host_call *self);
    /* slot 5: make a Throwable from an error pair. Its message is the text the
     * plug-in's FormatError gives: for codes 28802 and 28803 `param` points to
     * a NUL-terminated text (copied here; null means "An unspecified error has
     * occurred."); for any other code "An error (%d,%d) has occurred." with
     * code and param. Returns a new Throwable. */
    dm_object *(*throwable_from_error)(dm_host_call *self, int32_t code, intptr_t param);
    /* slot 6: copy the message of `throwable` (borrowed) into `buffer`,
     * truncated to size - 1 bytes and always NUL-terminated when size > 0.
     * Returns the full length of the message; a null buffer asks only that. */
    int32_t (*throwable_text)(dm_host_call *self, dm_object *throwable, char *buffer, int32_t size);
    /* slot 7: the Throwable left by the last host call that answered a
     * non-zero status, as a new reference; null when there is none. */
    dm_object *(*pending_throwable)(dm_host_call *self);
    /* slot 8: raise `throwable` (borrowed) in the running script call. The
     * script call fails with its message once the handler returns. */
    void (*raise_throwable)(dm_host_call *self, dm_object *throwable);
    void (*reserved9)(void);
    void (*reserved10)(void);
    void (*reserved11)(void);
    /* slot 12: call the host function `function` (from the registry, slot 19)
     * with `argc` arguments. args[i] points to the value of argument i and
     * `result` to storage for the result (ignored for void functions); the
     * C type of each follows the prototype, see function_registry.h.
     * Returns a DM_STATUS_* value; on failure nothing was written to `result`
     * and a pending Throwable describes the error. */
    int32_t (*call_function)(dm_host_call *self, dm_host_function *function,
                             void *result, void *const *args, int32_t argc);
    void (*reserved13)(void);
    void (*reserved14)(void);
    void (*reserved15)(void);
    void (*reserved16)(void);
    void (*reserved17)(void);
    void (*reserved18)(void);
    /* slot 19: the host's function registry (borrowed; lives as long as the
     * interface). */
    dm_function_registry *(*function_registry)(dm_host_call *self);
} dm_host_call_vtbl;

struct dm_host_call {
    const dm_host_call_vtbl *vtbl;
};

#ifdef __cplusplus
}
#endif
#endif
