// The exported entry points through which the host links to and drives the
// plug-in. Each runs timed, and reports any failure to the host as a script
// error; none lets an exception out.
#include <cstdint>

#include "Export.h"
#include "HostLink.h"
#include "Messages.h"
#include "PlugInMain.h"
#include "ScriptFrame.h"
#include "dm/plugin_entry.h"

extern "C" {

ZEP_EXPORT std::int32_t DMPlugIn_GetVersion() { return DM_PLUGIN_LINK_VERSION; }

ZEP_EXPORT dm_link* DMPlugIn_Link_2(dm_link* link) { return Gatan::PlugIn::StoreLinkObject(link); }

ZEP_EXPORT void PlugInStartup()
{
    Gatan::PlugIn::PlugInMain& plugIn = Gatan::PlugIn::Instance();
    Gatan::PlugIn::LinkToHost();
    zep::ScriptCall("PlugIn_Start", [&] {
        if (Gatan::PlugIn::HostVersion() < DM_MINIMUM_HOST_VERSION)
            Gatan::RaiseError(Gatan::kErrMessage,
                              reinterpret_cast<std::intptr_t>(zep::message::kHostTooOld));
        plugIn.Start();
    });
}

ZEP_EXPORT void PlugInRun()
{
    zep::ScriptCall("PlugIn_Run", [] { Gatan::PlugIn::Instance().Run(); });
}

ZEP_EXPORT void PlugInCleanup()
{
    zep::ScriptCall("PlugIn_Cleanup", [] { Gatan::PlugIn::Instance().Cleanup(); });
}

ZEP_EXPORT void PlugInShutdown()
{
    Gatan::PlugIn::PlugInMain& plugIn = Gatan::PlugIn::Instance();
    zep::ScriptCall("PlugIn_End", [&] {
        plugIn.End();
        plugIn.RemoveAllFunctions();
    });
    plugIn.AfterShutdown();
}

}  // extern "C"
