#include "PlugInUtility.h"

#include "PlugInMain.h"

namespace {

// While the library is loaded, errors are raised and formatted by the
// plug-in's error manager; unloading puts back the one that was there before
// and gives the host context back.
//
// Memory exhaustion reaches scripts as the pair (28810, 14) through the
// conversion of std::bad_alloc at the frame. No allocation-failure handler
// is installed: on this platform operator new is the whole process's, and the
// host in the same process must go on seeing std::bad_alloc.
class PlugInUtility {
public:
    PlugInUtility() : previousManager_(Gatan::InstallErrorManager(&manager_))
    {
        Gatan::PlugIn::Instance();  // the attach step makes the plug-in object
    }

    ~PlugInUtility()
    {
        Gatan::InstallErrorManager(previousManager_);
        Gatan::PlugIn::UnlinkFromHost();
    }

private:
    Gatan::PlugInErrorManager manager_;
    Gatan::ErrorManager* previousManager_;
};

PlugInUtility gPlugInUtility;

}  // namespace
