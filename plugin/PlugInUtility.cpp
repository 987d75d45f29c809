#include "PlugInUtility.h"

#include <new>

#include "PlugInMain.h"

namespace {

// While the library is loaded, errors are raised and formatted by the
// plug-in's error manager and memory exhaustion inside operator new becomes
// the error pair (28810, 14); unloading puts back what was there before and
// gives the host context back.
class PlugInUtility {
public:
    PlugInUtility()
        : previousManager_(Gatan::InstallErrorManager(&manager_)),
          previousHandler_(std::set_new_handler(&Gatan::OutOfMemoryHandler))
    {
        Gatan::PlugIn::Instance();  // the attach step makes the plug-in object
    }

    ~PlugInUtility()
    {
        std::set_new_handler(previousHandler_);
        Gatan::InstallErrorManager(previousManager_);
        Gatan::PlugIn::UnlinkFromHost();
    }

private:
    Gatan::PlugInErrorManager manager_;
    Gatan::ErrorManager* previousManager_;
    std::new_handler previousHandler_;
};

PlugInUtility gPlugInUtility;

}  // namespace
