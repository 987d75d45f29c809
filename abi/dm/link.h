/* The link object: the first thing the host hands a plug-in.
 *
 * Passed to DMPlugIn_Link_2 (plugin_entry.h) before PlugInStartup. The plug-in
 * takes a reference to keep it and makes it its host context; everything else
 * is reached through it. The host keeps it alive at least until the plug-in
 * gives back its last reference.
 */
#ifndef DM_ABI_LINK_H
#define DM_ABI_LINK_H

#include "class_table.h"
#include "host_call.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct dm_link dm_link;

typedef struct dm_link_vtbl {
    /* slot 0: take a reference. */
    void (*add_ref)(dm_link *self);
    /* slot 1: give one back. */
    void (*release)(dm_link *self);
    /* slot 2: the host's version, 0xMMmmpp00 (0x030A0000 is 3.10.0). */
    uint32_t (*host_version)(dm_link *self);
    /* slot 3: the host call interface (borrowed; lives as long as the link). */
    dm_host_call *(*host_call_interface)(dm_link *self);
    /* slot 4: the function table of the class `class_id` (class_table.h);
     * `reserved` is 0. Null for a class the host does not know. */
    const dm_class_table *(*class_table)(dm_link *self, int32_t reserved, const char *class_id);
} dm_link_vtbl;

struct dm_link {
    const dm_link_vtbl *vtbl;
};

#define DM_MINIMUM_HOST_VERSION 0x030A0000u

#ifdef __cplusplus
}
#endif
#endif
