/* The host's function registry: host functions looked up by prototype, and
 * the script functions a plug-in registers.
 *
 * Reached through the host call interface (host_call.h, slot 19).
 *
 * Host functions are found by their exact prototype text, for example
 * "void GetSize( ImageRef, long *, long * )". When the plug-in calls one
 * (host_call.h, slot 12) each argument slot args[i] points to a value of the
 * C type that belongs to the prototype's type word:
 *
 *   ImageRef, BasicImage, ComplexImagePtr, RealImagePtr,
 *   TagGroup, ScriptObject, Throwable,
 *   string, dm_string                      dm_object *   (borrowed)
 *   long                                   int32_t
 *   short                                  int16_t
 *   uint32, ulong                          uint32_t
 *   float, double                          float, double
 *   Boolean                                uint8_t (0 or 1)
 *   long *, float *                        int32_t *, float *   (written)
 *   dm_string *                            dm_object **  (written: a new string)
 *   void *                                 void *
 *   uint32...                              a run of uint32_t arguments; the
 *                                          first of the run counts the rest
 *
 * Results use the same C types; an object result is a new reference (null
 * when the function produced none). The host functions a plug-in calls, with
 * their prototypes and C signatures, are listed once in host_functions.h.
 */
#ifndef DM_ABI_FUNCTION_REGISTRY_H
#define DM_ABI_FUNCTION_REGISTRY_H

#include "object.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct dm_host_function dm_host_function;
typedef struct dm_function_registry dm_function_registry;

/* How a script function's handler is to be called. */
typedef struct dm_handler_descriptor {
    /* DM_HANDLER_C_FUNCTION: a plain C function whose parameters and result
     * follow the registered signature one for one (see script_handler.h). */
    int32_t kind;
    void *address;
} dm_handler_descriptor;

enum { DM_HANDLER_C_FUNCTION = 3 };

typedef struct dm_function_registry_vtbl {
    /* The host function with exactly this prototype text, or null when the
     * host has none. The handle stays valid until a call through it answers
     * DM_STATUS_STALE; it is not reference-counted. */
    dm_host_function *(*lookup)(dm_function_registry *self, const char *prototype);
    /* Register a script function from its signature text [begin, end), e.g.
     * "ComplexImagePtr ZEPPureFFT(ComplexImagePtr cimSrc, double fScale,
     * ComplexImagePtr cimDst)", served by `handler`. Returns a new Function
     * object, or null with a pending Throwable when the host refuses it
     * (unparsable signature, unknown handler kind, same signature twice). */
    dm_object *(*add_function)(dm_function_registry *self, const char *begin,
                               const char *end, const dm_handler_descriptor *handler);
    /* Remove a script function registered by add_function (`function` is
     * borrowed; the caller still releases its own reference). */
    int32_t (*remove_function)(dm_function_registry *self, dm_object *function);
} dm_function_registry_vtbl;

struct dm_function_registry {
    const dm_function_registry_vtbl *vtbl;
};

#ifdef __cplusplus
}
#endif
#endif
