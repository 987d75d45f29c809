/* The entry points a plug-in exports, in the order the host calls them:
 *
 *   DMPlugIn_GetVersion   once after loading; the host goes on only when it
 *                         answers DM_PLUGIN_LINK_VERSION.
 *   DMPlugIn_Link_2       hands over the link object (borrowed: the plug-in
 *                         takes its own reference and gives back the one it
 *                         held before). Returns the link object it now holds.
 *   PlugInStartup         links, checks the host version, registers the
 *                         plug-in's script functions. Errors reach the host as
 *                         a raised Throwable; the call itself always returns.
 *   PlugInRun, PlugInCleanup  any number of times while started.
 *   PlugInShutdown        removes what start-up registered; then the host may
 *                         unload the library.
 *
 * All are called from the host's main thread, one at a time.
 */
#ifndef DM_ABI_PLUGIN_ENTRY_H
#define DM_ABI_PLUGIN_ENTRY_H

#include "link.h"

#ifdef __cplusplus
extern "C" {
#endif

#define DM_PLUGIN_LINK_VERSION 2

typedef int32_t (*DMPlugIn_GetVersion_fn)(void);
typedef dm_link *(*DMPlugIn_Link_2_fn)(dm_link *link);
typedef void (*PlugInStartup_fn)(void);
typedef void (*PlugInRun_fn)(void);
typedef void (*PlugInCleanup_fn)(void);
typedef void (*PlugInShutdown_fn)(void);

#ifdef __cplusplus
}
#endif
#endif
